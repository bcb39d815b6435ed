#pragma once
// Locks, the mutex handle pool, the worker-thread counter and threads.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "ZmLib/Win32/SysObj2.h"

namespace plat {
class TRobustMutex;
}

namespace zm {

ZM_COMMON_EXCEPTION(EThreadError, TCommonException)
ZM_COMMON_EXCEPTION(EMutexTakeOwnershipError, EThreadError)

// ---- Procedural locks: mutexes from a pool the module closes at exit --------

using TSysLock = plat::TRobustMutex*;

void CreateSysLock(TSysLock& handle);
void EnterSysLock(TSysLock handle);  // an abandoned mutex counts as taken
void LeaveSysLock(TSysLock handle);
std::size_t SysLockPoolCount();
std::size_t SysLockPoolCapacity();

// Worker threads that have entered the framework; shutdown waits for them.
bool WorkerEnter();  // false once shutdown has begun
void WorkerLeave();
std::int32_t WorkerCount();
bool ShuttingDown();
// Refuses new workers, waits up to timeoutMs for running ones (program
// time, or real time when that ran further), then closes the pooled
// handles from the last to the first. False on time-out (the handles stay
// open then).
bool ShutdownSysLocks(std::uint32_t timeoutMs);

// Work its owner gave up waiting for, still running on a thread of its own
// (a step that cannot be broken off: a read that never returns): Owner is
// kept, with a reference, until Running says it has ended. The program
// ends nothing under it: before its modules end it waits for such work,
// and when that does not end it ends the process without them.
void LeaveRunning(TRefObject* owner, std::function<bool()> running);
// Waits until all work left running has ended, at most TimeoutMs of the
// steady clock, letting each go as it ends; true when none runs.
bool LeftRunningEnded(std::uint32_t timeoutMs);

std::int32_t AtomicIncrement(std::atomic<std::int32_t>& v);  // new value
std::int32_t AtomicDecrement(std::atomic<std::int32_t>& v);  // new value
// Returns the previous value; stores newValue when it equalled comparand.
std::int32_t AtomicCompareExchange(std::atomic<std::int32_t>& target, std::int32_t newValue,
                                   std::int32_t comparand);

void SysSleep(std::uint32_t ms);
std::uint32_t SysTimeMs();  // milliseconds since the module started
int GetProcessorCount();    // cached, at least 1

// ---- Lock classes ------------------------------------------------------------

// Re-entrant, like the OS critical section.
class TCriticalSection : public TRefObject {
public:
  void Enter() { cs_.lock(); }
  void Leave() { cs_.unlock(); }
  bool TryEnter() { return cs_.try_lock(); }

private:
  std::recursive_mutex cs_;
};

// A mutex that tolerates an owner that died while holding it.
class TSafeCriticalSection : public TRefObject {
public:
  TSafeCriticalSection();
  void Dispose() override;
  void Enter();  // sets Abandoned when the previous owner died holding it
  void Leave();
  bool Abandoned() const { return abandoned_.load(); }

private:
  std::unique_ptr<plat::TRobustMutex> handle_;
  std::atomic<bool> abandoned_{false};
};

// Holds a lock (anything with Enter and Leave) for a scope, also when the
// work raises; nil holds nothing.
template <class TLock>
class TLockScope {
public:
  explicit TLockScope(TLock* lock) : lock_(lock) {
    if (lock_) lock_->Enter();
  }
  ~TLockScope() {
    if (lock_) lock_->Leave();
  }
  TLockScope(const TLockScope&) = delete;
  TLockScope& operator=(const TLockScope&) = delete;

private:
  TLock* lock_;
};

// Manual-reset event, created not signalled.
class TEvent : public TRefObject {
public:
  bool Set();
  bool Reset();
  bool Wait(std::uint32_t timeoutMs);  // true when signalled within the time
  bool WaitFor();                      // no time-out
  bool IsSet() const;

private:
  mutable std::mutex m_;
  std::condition_variable cv_;
  bool signalled_ = false;
};

class TMutex : public TRefObject {
public:
  TMutex();
  void Dispose() override;
  static constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;
  // True only when the mutex was taken normally; an abandoned mutex is
  // released again and reported through abandoned.
  bool WaitFor(std::uint32_t timeoutMs, bool& abandoned);
  bool WaitFor(std::uint32_t timeoutMs) {
    bool a;
    return WaitFor(timeoutMs, a);
  }
  bool Release();
  bool Abandoned() const { return abandoned_.load(); }

private:
  std::unique_ptr<plat::TRobustMutex> handle_;
  std::atomic<bool> abandoned_{false};
};

class TInterlockedCounter : public TRefObject {
public:
  explicit TInterlockedCounter(std::int32_t initial = 0) : value_(initial) {}
  std::int32_t Increment() { return value_.fetch_add(1) + 1; }
  std::int32_t Decrement() { return value_.fetch_sub(1) - 1; }
  std::int32_t Value() const { return value_.load(); }

private:
  std::atomic<std::int32_t> value_;
};

// A thread whose life is followed through two events: started, and ended.
// Execute polls Terminated(). Disposing a running thread terminates it and
// waits kDisposeWaitMs; a thread that will not end is waited for without
// limit (it cannot be killed safely) after a report. Time-outs of a thread
// are measured on the platform clock (plat::TickCount32).
class TThread : public TRefObject {
public:
  static constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;
  static constexpr std::uint32_t kDisposeWaitMs = 3000;
  void Dispose() override;
  virtual void Execute() = 0;
  virtual void Terminate();

  bool Start();  // false when the thread is running
  bool IsRunning() const;
  bool Terminated() const { return terminated_.load(); }
  // True when the thread has ended or was never started; the time-out
  // applies to the start and to the end each.
  bool Wait(std::uint32_t timeoutMs);
  bool WaitFor() { return Wait(kInfinite); }
  // There is no safe way to end a thread from outside: this reports it and
  // waits for the thread to end by itself.
  void Kill();
  int GetPriority() const { return priority_.load(); }
  void SetPriority(int priority);
  std::uint32_t ThreadId() const { return threadId_.load(); }

private:
  struct TRunState {
    std::mutex m;
    std::condition_variable cv;
    bool started = false;
    bool ended = false;
  };
  static void Body(TThread* self, std::shared_ptr<TRunState> state);
  // Waits until the thread has ended, at most timeoutMs counted from start.
  bool WaitForEnd(std::uint32_t start, std::uint32_t timeoutMs);
  void JoinHandle();
  std::shared_ptr<TRunState> State() const;
  void SetState(std::shared_ptr<TRunState> s);

  std::thread handle_;
  std::shared_ptr<TRunState> state_;
  std::atomic<bool> terminated_{false};
  std::atomic<int> priority_{0};
  std::atomic<std::uint32_t> threadId_{0};
  std::mutex startLock_;
  mutable std::mutex stateLock_;
};

// The global lock of the active-thread registry.
TSafeCriticalSection* ActiveThreadsLock();

void InitSysLocks();
void FiniSysLocks();

}  // namespace zm
