#include "ZmLib/zmMonitors.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "Platform/PlatSystem.h"

using namespace zm;

namespace {

TEST(Monitor, EnteredTwiceMustLeaveTwice) {
  auto m = MakeRef<TMonitor>();
  m->Enter();
  m->Enter();
  EXPECT_EQ(m->HoldCount(), 2);
  std::atomic<bool> got{false};
  std::thread other([&] {
    m->Enter();
    got = true;
    m->Leave();
  });
  m->Leave();
  EXPECT_FALSE(got.load());  // still ours
  m->Leave();
  other.join();
  EXPECT_TRUE(got.load());
}

TEST(Monitor, WaitReturnsAfterAnotherThreadEntered) {
  auto m = MakeRef<TMonitor>();
  int shared = 0;
  m->Enter();
  m->Enter();
  std::thread other([&] {
    m->Enter();
    shared = 1;
    m->Leave();
  });
  m->Wait();
  EXPECT_EQ(shared, 1);
  EXPECT_EQ(m->HoldCount(), 2);  // the holds come back
  m->Leave();
  m->Leave();
  other.join();
}

struct TJob {
  TActiveMonitor* Monitor;
  TRef<TEvent> Go = MakeRef<TEvent>();
  std::atomic<int> Steps{0};
};

void Job(void* arg) {
  auto* j = static_cast<TJob*>(arg);
  j->Go->WaitFor();
  while (!j->Monitor->Terminated() && j->Steps < 1000000) j->Steps++;
}

TEST(ActiveMonitor, StartJoinAndSecondStartFails) {
  auto m = MakeRef<TActiveMonitor>();
  TJob job{m.get()};
  ASSERT_TRUE(m->Start(false, &Job, &job));
  EXPECT_EQ(ActiveThreadCount(), 1);
  EXPECT_FALSE(m->Start(false, &Job, &job));  // one job at a time
  m->Terminate();
  job.Go->Set();
  m->Join();
  EXPECT_EQ(m->State(), 3);
  EXPECT_LT(job.Steps.load(), 1000000);
  m = nullptr;
  EXPECT_TRUE(WaitForActiveThreads(10000));
  EXPECT_EQ(ActiveThreadCount(), 0);
}

void EnteredJob(void* arg) {
  auto* j = static_cast<TJob*>(arg);
  // Runs inside the monitor: the starter meets it only afterwards.
  j->Steps = j->Monitor->HoldCount();
}

TEST(ActiveMonitor, StartEnteredRunsUnderTheLock) {
  auto m = MakeRef<TActiveMonitor>();
  TJob job{m.get()};
  ASSERT_TRUE(m->Start(true, &EnteredJob, &job));
  m->Enter();  // waits until the worker has entered
  EXPECT_NE(m->State(), 1);
  m->Leave();
  m->Join();
  EXPECT_EQ(job.Steps.load(), 1);
  EXPECT_FALSE(m->Start(false, &EnteredJob, &job));  // its worker stays until the monitor goes
  auto fresh = MakeRef<TActiveMonitor>();
  EXPECT_THROW(fresh->Start(false, reinterpret_cast<TActiveProc>(std::uintptr_t(100)), nullptr), EAbort);
}

std::atomic<std::uint32_t> gFastClock{0};
std::uint32_t FastClock() { return gFastClock.fetch_add(250); }

TEST(ActiveMonitor, FinalisationWaitGivesUpOnAHungWorker) {
  auto m = MakeRef<TActiveMonitor>();
  TJob job{m.get()};
  ASSERT_TRUE(m->Start(false, &Job, &job));
  // A clock that runs 250 ms per reading: the 10,000 ms pass quickly.
  auto saved = plat::SetTimeSource(&FastClock);
  EXPECT_FALSE(WaitForActiveThreads(10000));
  plat::SetTimeSource(saved);
  m->Terminate();
  job.Go->Set();
  m->Join();
  m = nullptr;
  EXPECT_TRUE(WaitForActiveThreads(10000));
}

// A program clock that stands (the stepped clock once no frame comes) does
// not keep the wait from giving up: real time ends it too. Threads that
// outlived one whole wait do not hold the next one.
TEST(ActiveMonitor, FinalisationWaitGivesUpInRealTimeOnAStandingClockAndOnlyOnce) {
  auto m = MakeRef<TActiveMonitor>();
  TJob job{m.get()};
  ASSERT_TRUE(m->Start(false, &Job, &job));
  {
    plat::TManualClock standing(1000);
    EXPECT_FALSE(WaitForActiveThreads(50));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(WaitForActiveThreads(60000));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  }
  m->Terminate();
  job.Go->Set();
  m->Join();
  m = nullptr;
  EXPECT_TRUE(WaitForActiveThreads(10000));
}

}  // namespace
