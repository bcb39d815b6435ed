#include "ZmLib/Win32/SysLocks.h"

#include <algorithm>
#include <chrono>
#include <iterator>
#include <vector>

#include "Platform/PlatSync.h"
#include "Platform/PlatSystem.h"

namespace zm {

// ============================================================================
// Handle pool and worker counter
// ============================================================================

namespace {

struct TPool {
  std::mutex lock;
  std::vector<std::unique_ptr<plat::TRobustMutex>> handles;
  std::size_t capacity = 0;  // grows 16, 32, 64 ...
};

TPool& Pool() {
  static TPool pool;
  return pool;
}

std::atomic<std::int32_t> gWorkerCount{0};
std::atomic<bool> gShuttingDown{false};
std::atomic<std::uint32_t> gStartTime{0};

TSafeCriticalSection* gActiveThreadsLock = nullptr;

// How often a wait looks at a clock that is not the steady one.
constexpr std::uint32_t kManualClockPollMs = 2;

// Waits on cv until ready() holds or timeoutMs have passed since start on the
// platform clock (kInfinite: no limit). The steady clock is the one the
// condition variable sleeps on; any other clock is looked at every few
// milliseconds, as it moves only when its owner moves it.
template <class TReady>
bool WaitOnClock(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, std::uint32_t start,
                 std::uint32_t timeoutMs, TReady ready) {
  if (timeoutMs == TThread::kInfinite) {
    cv.wait(lock, ready);
    return true;
  }
  while (!ready()) {
    const std::uint32_t passed = plat::TickCount32() - start;  // wraps in uint32_t
    if (passed >= timeoutMs) return false;
    std::uint32_t slice = timeoutMs - passed;
    if (!plat::TimeSourceIsSteady()) slice = std::min(slice, kManualClockPollMs);
    cv.wait_for(lock, std::chrono::milliseconds(slice));
  }
  return true;
}

}  // namespace

void CreateSysLock(TSysLock& handle) {
  TPool& p = Pool();
  std::lock_guard<std::mutex> g(p.lock);
  if (p.handles.size() >= p.capacity) {
    std::size_t grown = p.capacity == 0 ? 16 : p.capacity * 2;
    ZM_ASSERT(grown > p.handles.size(), "CreateSysLock: pool cannot grow");
    p.handles.reserve(grown);
    p.capacity = grown;
  }
  p.handles.push_back(std::make_unique<plat::TRobustMutex>());
  handle = p.handles.back().get();
}

void EnterSysLock(TSysLock handle) {
  ZM_ASSERT(handle != nullptr, "EnterSysLock: no handle");
  plat::TWaitResult r = handle->Wait(-1);
  ZM_ASSERT(r == plat::TWaitResult::Acquired || r == plat::TWaitResult::Abandoned, "EnterSysLock: wait failed");
}

void LeaveSysLock(TSysLock handle) {
  if (handle) handle->Release();
}

std::size_t SysLockPoolCount() {
  std::lock_guard<std::mutex> g(Pool().lock);
  return Pool().handles.size();
}

std::size_t SysLockPoolCapacity() {
  std::lock_guard<std::mutex> g(Pool().lock);
  return Pool().capacity;
}

bool WorkerEnter() {
  if (gShuttingDown.load()) return false;
  gWorkerCount.fetch_add(1);
  // Shutdown may have begun between the test and the count.
  if (gShuttingDown.load()) {
    gWorkerCount.fetch_sub(1);
    return false;
  }
  return true;
}

void WorkerLeave() { gWorkerCount.fetch_sub(1); }
std::int32_t WorkerCount() { return gWorkerCount.load(); }
bool ShuttingDown() { return gShuttingDown.load(); }

bool ShutdownSysLocks(std::uint32_t timeoutMs) {
  const std::uint32_t start = plat::TickCount32();
  const auto realStart = std::chrono::steady_clock::now();
  gShuttingDown.store(true);
  while (gWorkerCount.load() >= 1) {
    plat::SleepMs(1);
    // Program time or real time, whichever ran further: a stepped program
    // clock stands once no frame comes.
    const auto real = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - realStart);
    if (std::max<std::int64_t>(std::uint32_t(plat::TickCount32() - start), real.count()) > std::int64_t(timeoutMs))
      return false;
  }
  TPool& p = Pool();
  std::lock_guard<std::mutex> g(p.lock);
  while (!p.handles.empty()) p.handles.pop_back();
  p.capacity = 0;
  return true;
}

namespace {

struct TLeftRunning {
  TRef<TRefObject> Owner;
  std::function<bool()> Running;
};
std::mutex gLeftLock;
std::vector<TLeftRunning> gLeft;

}  // namespace

void LeaveRunning(TRefObject* owner, std::function<bool()> running) {
  if (!owner || !running) return;
  std::lock_guard<std::mutex> g(gLeftLock);
  gLeft.push_back({TRef<TRefObject>(owner), std::move(running)});
}

bool LeftRunningEnded(std::uint32_t timeoutMs) {
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    std::vector<TLeftRunning> ended;
    bool empty;
    {
      std::lock_guard<std::mutex> g(gLeftLock);
      const auto done = std::stable_partition(gLeft.begin(), gLeft.end(), [](const TLeftRunning& l) { return l.Running(); });
      std::move(done, gLeft.end(), std::back_inserter(ended));
      gLeft.erase(done, gLeft.end());
      empty = gLeft.empty();
    }
    ended.clear();  // let go outside the lock: their disposal may take time
    if (empty) return true;
    if (std::chrono::steady_clock::now() >= giveUp) return false;
    plat::SleepMs(2);
  }
}

std::int32_t AtomicIncrement(std::atomic<std::int32_t>& v) { return v.fetch_add(1) + 1; }
std::int32_t AtomicDecrement(std::atomic<std::int32_t>& v) { return v.fetch_sub(1) - 1; }
std::int32_t AtomicCompareExchange(std::atomic<std::int32_t>& target, std::int32_t newValue,
                                   std::int32_t comparand) {
  std::int32_t expected = comparand;
  target.compare_exchange_strong(expected, newValue);
  return expected;
}

void SysSleep(std::uint32_t ms) { plat::SleepMs(ms); }
std::uint32_t SysTimeMs() { return plat::TickCount32() - gStartTime.load(); }
int GetProcessorCount() { return plat::ProcessorCount(); }

// ============================================================================
// Lock classes
// ============================================================================

TSafeCriticalSection::TSafeCriticalSection() : handle_(std::make_unique<plat::TRobustMutex>()) {}

void TSafeCriticalSection::Dispose() {
  handle_.reset();
  TRefObject::Dispose();
}

void TSafeCriticalSection::Enter() {
  plat::TWaitResult r = handle_->Wait(-1);
  if (r == plat::TWaitResult::Abandoned) {
    abandoned_.store(true);
    return;
  }
  ZM_ASSERT(r == plat::TWaitResult::Acquired, "Error: TSafeCriticalSection.Enter");
}

void TSafeCriticalSection::Leave() { handle_->Release(); }

bool TEvent::Set() {
  {
    std::lock_guard<std::mutex> g(m_);
    signalled_ = true;
  }
  cv_.notify_all();
  return true;
}

bool TEvent::Reset() {
  std::lock_guard<std::mutex> g(m_);
  signalled_ = false;
  return true;
}

bool TEvent::Wait(std::uint32_t timeoutMs) {
  std::unique_lock<std::mutex> g(m_);
  if (timeoutMs == 0xFFFFFFFFu) {
    cv_.wait(g, [this] { return signalled_; });
    return true;
  }
  return cv_.wait_for(g, std::chrono::milliseconds(timeoutMs), [this] { return signalled_; });
}

bool TEvent::WaitFor() { return Wait(0xFFFFFFFFu); }

bool TEvent::IsSet() const {
  std::lock_guard<std::mutex> g(m_);
  return signalled_;
}

TMutex::TMutex() : handle_(std::make_unique<plat::TRobustMutex>()) {}

void TMutex::Dispose() {
  handle_.reset();
  TRefObject::Dispose();
}

bool TMutex::WaitFor(std::uint32_t timeoutMs, bool& abandoned) {
  if (abandoned_.load()) {
    abandoned = true;
    return false;
  }
  plat::TWaitResult r = handle_->Wait(timeoutMs == kInfinite ? -1 : static_cast<std::int64_t>(timeoutMs));
  bool taken = false;
  if (r == plat::TWaitResult::Acquired) {
    taken = true;
  } else if (r == plat::TWaitResult::Abandoned) {
    abandoned_.store(true);
    taken = true;
  }
  if (abandoned_.load()) {
    if (taken) handle_->Release();
    abandoned = true;
    return false;
  }
  abandoned = false;
  return taken;
}

bool TMutex::Release() { return handle_->Release(); }

// ============================================================================
// TThread
// ============================================================================

void TThread::Body(TThread* self, std::shared_ptr<TRunState> state) {
  auto markEnded = [&state] {
    {
      std::lock_guard<std::mutex> g(state->m);
      state->ended = true;
    }
    state->cv.notify_all();
  };
  if (!WorkerEnter()) {
    markEnded();
    return;
  }
  self->threadId_.store(plat::CurrentThreadId());
  if (int prio = self->priority_.load()) plat::SetCurrentThreadNice(prio);
  {
    std::lock_guard<std::mutex> g(state->m);
    state->started = true;
  }
  state->cv.notify_all();
  try {
    self->Execute();
  } catch (const Exception& e) {
    DebugLog("Thread Exception at: " + FormatPrintf("%p", {e.Address()}));
    ShowException(&e, e.Address());
  } catch (const std::exception& e) {
    DebugLog("Thread Exception at: " + FormatPrintf("%p", {static_cast<const void*>(nullptr)}));
    ShowException(&e, nullptr);
  } catch (...) {
    DebugLog("Thread Exception at: 00000000");
  }
  WorkerLeave();
  markEnded();
}

bool TThread::Start() {
  std::lock_guard<std::mutex> g(startLock_);
  if (IsRunning()) return false;
  JoinHandle();
  auto state = std::make_shared<TRunState>();
  terminated_.store(false);
  try {
    handle_ = std::thread(&TThread::Body, this, state);
  } catch (const std::system_error&) {
    SetState(nullptr);
    return false;
  }
  SetState(std::move(state));
  return true;
}

bool TThread::IsRunning() const {
  std::shared_ptr<TRunState> s = State();
  if (!s) return false;
  std::lock_guard<std::mutex> g(s->m);
  return !s->ended;
}

std::shared_ptr<TThread::TRunState> TThread::State() const {
  std::lock_guard<std::mutex> g(stateLock_);
  return state_;
}

void TThread::SetState(std::shared_ptr<TRunState> s) {
  std::lock_guard<std::mutex> g(stateLock_);
  state_ = std::move(s);
}

void TThread::Terminate() { terminated_.store(true); }

bool TThread::Wait(std::uint32_t timeoutMs) {
  std::shared_ptr<TRunState> s = State();
  if (!s) return true;
  std::unique_lock<std::mutex> g(s->m);
  // A thread refused by a shutting-down framework ends without starting.
  if (!WaitOnClock(s->cv, g, plat::TickCount32(), timeoutMs, [&] { return s->started || s->ended; })) return false;
  return WaitOnClock(s->cv, g, plat::TickCount32(), timeoutMs, [&] { return s->ended; });
}

bool TThread::WaitForEnd(std::uint32_t start, std::uint32_t timeoutMs) {
  std::shared_ptr<TRunState> s = State();
  if (!s) return true;
  std::unique_lock<std::mutex> g(s->m);
  return WaitOnClock(s->cv, g, start, timeoutMs, [&] { return s->ended; });
}

void TThread::Kill() {
  if (!IsRunning()) return;
  DebugLog("Thread " + ClassName() + " did not end in time; waiting for it");
  Wait(kInfinite);
}

void TThread::SetPriority(int priority) {
  priority_.store(priority);
  if (IsRunning() && threadId_.load() == plat::CurrentThreadId()) plat::SetCurrentThreadNice(priority);
}

void TThread::JoinHandle() {
  if (!handle_.joinable()) return;
  if (handle_.get_id() == std::this_thread::get_id())
    handle_.detach();  // the thread frees its own object
  else
    handle_.join();
}

void TThread::Dispose() {
  // The time-out counts from the request to end.
  const std::uint32_t start = plat::TickCount32();
  Terminate();
  if (!WaitForEnd(start, kDisposeWaitMs)) Kill();
  {
    std::lock_guard<std::mutex> g(startLock_);
    JoinHandle();
  }
  SetState(nullptr);
  TRefObject::Dispose();
}

// ============================================================================
// Module
// ============================================================================

TSafeCriticalSection* ActiveThreadsLock() { return gActiveThreadsLock; }

void InitSysLocks() {
  gStartTime.store(plat::TickCount32());
  gShuttingDown.store(false);
  if (!gActiveThreadsLock) gActiveThreadsLock = MakeRef<TSafeCriticalSection>().Detach();
}

void FiniSysLocks() {
  {
    // Work still running keeps what it uses: nothing is let go under it.
    std::lock_guard<std::mutex> g(gLeftLock);
    for (TLeftRunning& l : gLeft) (void)l.Owner.Detach();
    gLeft.clear();
  }
  FreeAndNil(gActiveThreadsLock);
  if (!ShutdownSysLocks(5000)) DebugLog("Worker threads still running at shutdown");
}

}  // namespace zm
