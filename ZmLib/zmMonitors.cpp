#include "ZmLib/zmMonitors.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <vector>

#include "Platform/PlatSystem.h"
#include "ZmLib/Win32/winSysUtils.h"

namespace zm {

namespace {
std::atomic<std::int32_t> gActiveThreads{0};
// How many were still running when a wait for them last gave up (0: none).
std::atomic<std::int32_t> gGivenUpThreads{0};
// Workers whose monitor died on the worker's own thread: a thread cannot
// wait for its own end, so another thread frees them later.
std::mutex gZombiesLock;
std::vector<TActiveThread*> gZombies;

void FreeZombies(bool all) {
  std::vector<TActiveThread*> done;
  {
    std::lock_guard<std::mutex> g(gZombiesLock);
    for (auto it = gZombies.begin(); it != gZombies.end();) {
      if (all || !(*it)->IsRunning()) {
        done.push_back(*it);
        it = gZombies.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto* t : done) t->Free();
}
}  // namespace

// ---- TMonitor ---------------------------------------------------------------------

TMonitor::TMonitor()
    : lock_(MakeRef<TSafeCriticalSection>()), waiters_(MakeRef<TCriticalSection>()), changed_(MakeRef<TEvent>()) {}

void TMonitor::Dispose() {
  lock_ = nullptr;
  waiters_ = nullptr;
  changed_ = nullptr;
  TRefObject::Dispose();
}

void TMonitor::Acquire() {
  lock_->Enter();
  ++hold_;
  // The owner keeps one hold of the mutex, however often it enters.
  if (hold_ > 1) lock_->Leave();
  changed_->Set();
}

void TMonitor::Enter() { Acquire(); }

void TMonitor::Leave() {
  ZM_ASSERT(hold_ > 0, "TMonitor.Leave: not entered");
  if (--hold_ == 0) lock_->Leave();
}

void TMonitor::Wait() {
  ZM_ASSERT(hold_ > 0, "TMonitor.Wait: not entered");
  waiters_->Enter();
  changed_->Reset();
  std::int32_t saved = hold_;
  hold_ = 0;
  lock_->Leave();
  SleepMs(0);
  changed_->WaitFor();  // another thread entered
  waiters_->Leave();
  lock_->Enter();
  hold_ = saved;
  changed_->Set();
}

void TMonitor::SleepReleased(std::uint32_t ms) {
  ZM_ASSERT(hold_ > 0, "TMonitor.SleepReleased: not entered");
  std::int32_t saved = hold_;
  hold_ = 0;
  lock_->Leave();
  SleepMs(ms);
  lock_->Enter();
  hold_ = saved;
  changed_->Set();
}

// ---- TActiveThread ---------------------------------------------------------------

void TActiveThread::Execute() {
  TActiveMonitor* m = monitor_;
  bool entered = false;
  if (m->state_.load() == 1) {
    m->Acquire();
    m->state_.store(2);
    entered = true;
  }
  try {
    proc_(arg_);
  } catch (...) {
    ReportSwallowedException();
  }
  if (!entered) m->Acquire();
  m->state_.store(3);
  monitor_ = nullptr;  // unlinked: the monitor may go now
  m->Leave();
  m->ReleaseRef();
}

// ---- TActiveMonitor -----------------------------------------------------------------

void TActiveMonitor::Enter() {
  TMonitor::Enter();
  while (state_.load() == 1) Wait();
}

void TActiveMonitor::Terminate() {
  Enter();
  terminate_.store(true);
  Leave();
}

bool TActiveMonitor::Start(bool startEntered, TActiveProc proc, void* arg) {
  FreeZombies(false);
  if (worker_) return false;
  ZM_ASSERT(reinterpret_cast<std::uintptr_t>(proc) >= 65536, "TActiveMonitor.Start: bad procedure");
  state_.store(startEntered ? 1 : 2);
  terminate_.store(false);
  auto* t = new TActiveThread(this, proc, arg);
  t->AfterConstruction();
  worker_ = t;
  AddRef();  // the worker's reference
  if (!t->Start()) {
    worker_ = nullptr;
    t->monitor_ = nullptr;
    state_.store(0);
    t->Free();
    ReleaseRef();
    return false;
  }
  gActiveThreads.fetch_add(1);
  return true;
}

void TActiveMonitor::Join() {
  TMonitor::Enter();
  while (state_.load() == 2 || state_.load() == 1) Wait();
  Leave();
}

void TActiveMonitor::Dispose() {
  if (worker_) {
    ZM_ASSERT(worker_->monitor_ == nullptr, "TActiveMonitor.Dispose: worker still linked");
    TActiveThread* w = worker_;
    worker_ = nullptr;
    if (w->ThreadId() == plat::CurrentThreadId()) {
      std::lock_guard<std::mutex> g(gZombiesLock);
      gZombies.push_back(w);
    } else {
      w->Free();
    }
    gActiveThreads.fetch_sub(1);
  }
  TMonitor::Dispose();
}

std::int32_t ActiveThreadCount() { return gActiveThreads.load(); }

bool WaitForActiveThreads(std::uint32_t timeoutMs) {
  // Threads that outlived a whole wait are not waited for long again: one
  // held in a call that never returns (a read of a stalled network mount)
  // would hold every later wait as long. A short look still sees one that
  // is just ending (joined, its count not yet given back).
  const std::int32_t givenUp = gGivenUpThreads.load();
  if (givenUp > 0 && gActiveThreads.load() >= givenUp) timeoutMs = std::min<std::uint32_t>(timeoutMs, 100);
  const std::uint32_t start = GetTimeMs();
  const auto realStart = std::chrono::steady_clock::now();
  // Program time or real time, whichever ran further: a stepped program
  // clock stands once no frame comes.
  const auto elapsed = [&] {
    const auto real = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - realStart);
    return std::max<std::int64_t>(std::uint32_t(GetTimeMs() - start), real.count());
  };
  while (gActiveThreads.load() > 0) {
    if (elapsed() >= std::int64_t(timeoutMs)) {
      gGivenUpThreads.store(gActiveThreads.load());
      return false;
    }
    SleepMs(10);
  }
  gGivenUpThreads.store(0);
  return true;
}

void InitZmMonitors() {}

void FiniZmMonitors() {
  if (!WaitForActiveThreads(10000)) DebugLog("Active threads still running at shutdown");
  // A worker that freed its own monitor counts as ended a moment before its
  // thread has: give such last ones that moment, or they are never freed.
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  for (;;) {
    FreeZombies(false);
    {
      std::lock_guard<std::mutex> g(gZombiesLock);
      if (gZombies.empty()) break;
    }
    if (std::chrono::steady_clock::now() >= giveUp) break;
    SleepMs(1);
  }
}

}  // namespace zm
