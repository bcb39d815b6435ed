#include "ZmLib/Win32/SysLocks.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <string_view>
#include <thread>

#include "Platform/PlatSystem.h"
#include "tests/support/Capture.h"

using namespace zm;

namespace {

// A thread whose steps the test drives through events.
class TGatedThread : public TThread {
public:
  TRef<TEvent> Entered = MakeRef<TEvent>();
  TRef<TEvent> Go = MakeRef<TEvent>();
  TRef<TEvent> SawTerminate = MakeRef<TEvent>();
  TRef<TEvent> Left = MakeRef<TEvent>();  // Execute has returned
  std::atomic<int> Runs{0};
  bool HonourTerminate = true;
  void Execute() override {
    ++Runs;
    Entered->Set();
    while (!Go->Wait(5)) {
      if (!Terminated()) continue;
      SawTerminate->Set();
      if (HonourTerminate) break;
    }
    Left->Set();
  }
};

// Watches the debugger output for a text; notes the platform clock when it
// first appears.
class TOutputWatch {
public:
  explicit TOutputWatch(std::string fragment) : fragment_(std::move(fragment)) {
    plat::SetDebugOutputHook([this](std::string_view line) {
      if (line.find(fragment_) == std::string_view::npos || Seen->IsSet()) return;
      SeenAt = plat::TickCount32();
      Seen->Set();
    });
  }
  ~TOutputWatch() { plat::SetDebugOutputHook(nullptr); }
  TOutputWatch(const TOutputWatch&) = delete;
  TOutputWatch& operator=(const TOutputWatch&) = delete;

  TRef<TEvent> Seen = MakeRef<TEvent>();
  std::atomic<std::uint32_t> SeenAt{0};

private:
  std::string fragment_;
};

class TThrowingThread : public TThread {
public:
  void Execute() override { throw EThreadError(); }
};

}  // namespace

TEST(Threads, RunningStatesAndRestart) {
  TRef<TGatedThread> t = MakeRef<TGatedThread>();
  EXPECT_TRUE(t->Wait(0));  // never started: at once
  EXPECT_FALSE(t->IsRunning());
  ASSERT_TRUE(t->Start());
  EXPECT_TRUE(t->IsRunning());  // started or starting
  EXPECT_FALSE(t->Start());     // refused while running
  ASSERT_TRUE(t->Entered->Wait(10000));
  EXPECT_TRUE(t->IsRunning());
  EXPECT_FALSE(t->Wait(10));
  t->Go->Set();
  EXPECT_TRUE(t->Wait(10000));
  EXPECT_FALSE(t->IsRunning());
  // A new run with fresh objects.
  t->Entered->Reset();
  ASSERT_TRUE(t->Start());
  EXPECT_TRUE(t->Wait(10000));
  EXPECT_EQ(t->Runs.load(), 2);
}

TEST(Threads, DisposeTerminatesAndWaits) {
  // The clock stands still: only a thread that ends on Terminate lets the
  // disposal finish.
  plat::TManualClock clock(500);
  TOutputWatch report("did not end in time");
  TRef<TGatedThread> t = MakeRef<TGatedThread>();
  ASSERT_TRUE(t->Start());
  ASSERT_TRUE(t->Entered->Wait(10000));
  TRef<TEvent> go = t->Go, sawTerminate = t->SawTerminate, left = t->Left;
  // Should the disposal wait for its time-out, this lets it end (and fail).
  TRef<TEvent> disposed = MakeRef<TEvent>();
  std::atomic<bool> rescued{false};
  std::thread watchdog([&] {
    if (disposed->Wait(30000)) return;
    rescued = true;
    clock.Advance(TThread::kDisposeWaitMs);
    go->Set();
  });
  t = nullptr;
  EXPECT_TRUE(left->IsSet());
  disposed->Set();
  watchdog.join();
  EXPECT_FALSE(rescued.load());
  EXPECT_TRUE(sawTerminate->IsSet());
  EXPECT_FALSE(go->IsSet());
  EXPECT_FALSE(report.Seen->IsSet());
}

TEST(Threads, ThreadThatIgnoresTerminateIsReportedAndAwaited) {
  plat::TManualClock clock(1000);
  TOutputWatch report("Thread TGatedThread did not end in time");
  TRef<TGatedThread> t = MakeRef<TGatedThread>();
  t->HonourTerminate = false;
  ASSERT_TRUE(t->Start());
  ASSERT_TRUE(t->Entered->Wait(10000));
  TRef<TEvent> go = t->Go, sawTerminate = t->SawTerminate, left = t->Left;
  std::atomic<bool> reported{false};
  std::thread driver([&] {
    // The time-out counts from the terminate request, which the thread sees.
    sawTerminate->WaitFor();
    clock.Advance(TThread::kDisposeWaitMs - 1);
    clock.Advance(1);
    reported = report.Seen->Wait(30000);
    go->Set();  // only now may the thread end
  });
  t = nullptr;  // waits out the time-out, reports, then waits until released
  EXPECT_TRUE(left->IsSet());
  driver.join();
  EXPECT_TRUE(reported.load());
  EXPECT_EQ(report.SeenAt.load(), 1000 + TThread::kDisposeWaitMs);
  EXPECT_TRUE(go->IsSet());
}

// Work left running is kept until it has ended, and let go then, by the
// look that finds it ended: never while it runs.
TEST(Threads, WorkLeftRunningIsKeptUntilItEnds) {
  EXPECT_TRUE(LeftRunningEnded(0));
  TRef<TGatedThread> t = MakeRef<TGatedThread>();
  t->HonourTerminate = false;
  ASSERT_TRUE(t->Start());
  ASSERT_TRUE(t->Entered->Wait(10000));
  t->Terminate();
  TGatedThread* raw = t.get();
  LeaveRunning(raw, [raw] { return raw->IsRunning(); });
  TRef<TEvent> go = t->Go, left = t->Left;
  t = nullptr;  // the list's reference keeps it
  EXPECT_FALSE(left->IsSet());
  EXPECT_FALSE(LeftRunningEnded(20));
  EXPECT_FALSE(left->IsSet());
  go->Set();
  EXPECT_TRUE(LeftRunningEnded(60000));  // ended, and let go (its disposal joins it)
  EXPECT_TRUE(left->IsSet());
  EXPECT_TRUE(LeftRunningEnded(0));
}

TEST(Threads, ExceptionInExecuteIsReported) {
  zmtest::TDebugCapture cap;
  zmtest::TMessageBoxCapture boxes;
  TRef<TThrowingThread> t = MakeRef<TThrowingThread>();
  ASSERT_TRUE(t->Start());
  EXPECT_TRUE(t->Wait(10000));
  EXPECT_TRUE(cap.Contains("Thread Exception at: "));
  EXPECT_TRUE(cap.Contains("EThreadError"));
}

TEST(Locks, SafeCriticalSectionSurvivesDeadOwner) {
  TRef<TSafeCriticalSection> cs = MakeRef<TSafeCriticalSection>();
  std::thread([&] { cs->Enter(); }).join();  // ends while holding it
  EXPECT_FALSE(cs->Abandoned());
  cs->Enter();
  EXPECT_TRUE(cs->Abandoned());
  cs->Enter();  // re-entrant for the owner
  cs->Leave();
  cs->Leave();
}

TEST(Locks, MutexAbandonedStaysAbandoned) {
  TRef<TMutex> m = MakeRef<TMutex>();
  bool abandoned = true;
  EXPECT_TRUE(m->WaitFor(0, abandoned));
  EXPECT_FALSE(abandoned);
  EXPECT_TRUE(m->Release());
  std::thread([&] { EXPECT_TRUE(m->WaitFor(TMutex::kInfinite)); }).join();
  EXPECT_FALSE(m->WaitFor(1000, abandoned));
  EXPECT_TRUE(abandoned);
  // Released again after the abandoned wait: another thread can take it.
  std::thread([&] {
    bool a = false;
    EXPECT_FALSE(m->WaitFor(0, a));  // the flag answers without waiting
    EXPECT_TRUE(a);
  }).join();
}

TEST(Locks, MutexTimesOutWhileHeldElsewhere) {
  TRef<TMutex> m = MakeRef<TMutex>();
  TRef<TEvent> held = MakeRef<TEvent>(), release = MakeRef<TEvent>();
  std::thread owner([&] {
    m->WaitFor(TMutex::kInfinite);
    held->Set();
    release->WaitFor();
    m->Release();
  });
  held->WaitFor();
  bool abandoned = true;
  EXPECT_FALSE(m->WaitFor(20, abandoned));
  EXPECT_FALSE(abandoned);
  release->Set();
  owner.join();
  EXPECT_TRUE(m->WaitFor(10000));
  m->Release();
}

TEST(Locks, CriticalSectionAndCounterFromManyThreads) {
  TRef<TCriticalSection> cs = MakeRef<TCriticalSection>();
  TRef<TInterlockedCounter> c = MakeRef<TInterlockedCounter>(10);
  int counter = 0;
  std::vector<std::thread> ts;
  for (int i = 0; i < 4; ++i)
    ts.emplace_back([&] {
      for (int k = 0; k < 5000; ++k) {
        cs->Enter();
        cs->Enter();  // re-entrant
        ++counter;
        cs->Leave();
        cs->Leave();
        c->Increment();
      }
    });
  for (auto& t : ts) t.join();
  EXPECT_EQ(counter, 20000);
  EXPECT_EQ(c->Value(), 20010);
}

TEST(SysLockPool, GrowsFromSixteenToThirtyTwo) {
  std::size_t before = SysLockPoolCount();
  std::vector<TSysLock> locks;
  while (SysLockPoolCount() < 16) {
    TSysLock h = nullptr;
    CreateSysLock(h);
    locks.push_back(h);
  }
  EXPECT_EQ(SysLockPoolCapacity(), 16u);
  TSysLock h17 = nullptr;
  CreateSysLock(h17);
  EXPECT_EQ(SysLockPoolCount(), 17u);
  EXPECT_EQ(SysLockPoolCapacity(), before <= 16 ? 32u : SysLockPoolCapacity());
  // A lock left held by a dead thread is taken by the next caller.
  std::thread([&] { EnterSysLock(locks[0]); }).join();
  EnterSysLock(locks[0]);
  LeaveSysLock(locks[0]);
}

TEST(SysLockPool, ShutdownWaitsForWorkersAndRefusesNewOnes) {
  ASSERT_TRUE(WorkerEnter());
  EXPECT_EQ(WorkerCount(), 1);
  EXPECT_FALSE(ShutdownSysLocks(30));  // one worker still inside
  EXPECT_TRUE(ShuttingDown());
  EXPECT_FALSE(WorkerEnter());
  // A thread started now ends at once; waiting for it must not hang.
  TRef<TGatedThread> t = MakeRef<TGatedThread>();
  ASSERT_TRUE(t->Start());
  EXPECT_TRUE(t->WaitFor());
  EXPECT_EQ(t->Runs.load(), 0);
  WorkerLeave();
  EXPECT_TRUE(ShutdownSysLocks(5000));
  EXPECT_EQ(SysLockPoolCount(), 0u);
  InitSysLocks();  // let the remaining tests start threads again
  EXPECT_FALSE(ShuttingDown());
}
