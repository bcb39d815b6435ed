#pragma once
// Monitors: a re-entrant lock with a wait that gives the lock up until
// another thread has taken and released it; an active monitor adds one worker
// thread that runs a procedure under the monitor, to be met later (Join).
#include <atomic>
#include <cstdint>

#include "ZmLib/Win32/SysLocks.h"

namespace zm {

class TMonitor : public TRefObject {
public:
  TMonitor();
  void Dispose() override;
  virtual void Enter();
  void Leave();
  // Gives the lock up and returns once another thread has entered (and the
  // lock is ours again). Only the owner may wait.
  void Wait();
  // Sleeps with the lock given up.
  void SleepReleased(std::uint32_t ms);
  std::int32_t HoldCount() const { return hold_; }

protected:
  void Acquire();

private:
  TRef<TSafeCriticalSection> lock_;
  TRef<TCriticalSection> waiters_;
  std::int32_t hold_ = 0;  // guarded by lock_
  TRef<TEvent> changed_;
};

class TActiveMonitor;
using TActiveProc = void (*)(void* arg);

class TActiveThread : public TThread {
public:
  TActiveThread(TActiveMonitor* monitor, TActiveProc proc, void* arg)
      : monitor_(monitor), proc_(proc), arg_(arg) {}
  void Execute() override;

private:
  friend class TActiveMonitor;
  TActiveMonitor* monitor_;  // holds a reference while linked
  TActiveProc proc_;
  void* arg_;
};

class TActiveMonitor : public TMonitor {
public:
  void Dispose() override;
  // Waits, after entering, until the worker has entered when it starts entered.
  void Enter() override;
  virtual void Terminate();
  // False when a worker exists or the thread cannot start.
  bool Start(bool startEntered, TActiveProc proc, void* arg);
  // Waits until the worker's procedure has ended.
  void Join();
  bool Terminated() const { return terminate_.load(); }
  // 0 none, 1 waiting for the worker to enter, 2 running, 3 finished.
  std::uint8_t State() const { return state_.load(); }

private:
  friend class TActiveThread;
  TActiveThread* worker_ = nullptr;
  std::atomic<std::uint8_t> state_{0};
  std::atomic<bool> terminate_{false};
};

// Active threads whose monitor still exists.
std::int32_t ActiveThreadCount();
// Polls every 10 ms until no active thread runs or timeoutMs have passed (by
// the clock of GetTimeMs, or in real time when that ran further: a stepped
// clock may stand); false on time-out. After a time-out, a later wait gives
// up at once while as many threads still run.
bool WaitForActiveThreads(std::uint32_t timeoutMs);

void InitZmMonitors();
void FiniZmMonitors();

}  // namespace zm
