#include "ZmLib/Application2/zmTimer2.h"

#include <gtest/gtest.h>

#include <vector>

#include "Platform/PlatSystem.h"
#include "ZmLib/Application2/winApplication.h"
#include "tests/support/HeadlessApp.h"

using namespace zm;

namespace {

class Timers : public zmtest::THeadlessAppTest {
protected:
  plat::TManualClock clock{5000};
};

int gTicks = 0;
void OnTick(void*, TRefObject*) { ++gTicks; }

class TCountingTimer : public TTimer {
public:
  int Updates = 0;
  void UpdateTimer() override {
    ++Updates;
    TTimer::UpdateTimer();
  }
};

TEST_F(Timers, WindowTimerArmsOnlyWhenComplete) {
  auto t = MakeRef<TCountingTimer>();
  t->SetEnabled(true);
  EXPECT_FALSE(t->Armed());  // no handler
  t->SetOnTimer(&OnTick, nullptr);
  EXPECT_TRUE(t->Armed());
  t->SetInterval(0);
  EXPECT_FALSE(t->Armed());  // interval 0
  t->SetInterval(100);
  int before = t->Updates;
  t->SetInterval(100);  // the same value: nothing
  t->SetEnabled(true);
  EXPECT_EQ(t->Updates, before);
  t->SetInterval(50);  // re-armed
  EXPECT_EQ(t->Updates, before + 1);
}

void StopsItself(void*, TRefObject* sender) {
  ++gTicks;
  static_cast<TCustomTimer*>(sender)->SetEnabled(false);
}

TEST_F(Timers, TimerStoppedInsideItsOwnHandler) {
  auto t = MakeRef<TTimer>();
  auto other = MakeRef<TTimer>();
  t->SetInterval(20);
  t->SetOnTimer(&StopsItself, nullptr);
  t->SetEnabled(true);
  other->SetInterval(20);
  other->SetOnTimer(&OnTick, nullptr);
  other->SetEnabled(true);
  gTicks = 0;
  clock.Advance(20);
  app->ProcessMessages();
  EXPECT_EQ(gTicks, 2);  // both ran; the other timer's hook was still reached
  EXPECT_FALSE(t->Armed());
  clock.Advance(100);
  app->ProcessMessages();
  EXPECT_EQ(gTicks, 3);  // only the other one
  app->Finalize();        // the window is gone: arming fails
  EXPECT_THROW(t->SetEnabled(true), ETimerError);
}

struct TLog {
  std::vector<int> Tags;
  int Missed = -1, Ticks = -1;
  TMultiTimerEvent* Self = nullptr;
};

void Timed(void* data, TMultiTimerEvent* e) {
  auto* l = static_cast<TLog*>(data);
  l->Tags.push_back(e->Tag);
  l->Missed = e->Missed;
  l->Ticks = e->Ticks;
}

void ReleasesItself(void* data, TMultiTimerEvent* e) {
  auto* l = static_cast<TLog*>(data);
  l->Tags.push_back(e->Tag);
  ReleaseTimedCallback(l->Self);
}

TEST_F(Timers, LateTickCallsOnceAndCountsMissed) {
  TLog log;
  TMultiTimerEvent* e = RegisterTimedCallback(100, 1, &Timed, &log);
  ASSERT_NE(e, nullptr);
  clock.Advance(100 + 350);
  MultiTimer()->Tick();
  EXPECT_EQ(log.Tags, std::vector<int>{1});
  EXPECT_EQ(log.Missed, 3);
  EXPECT_EQ(log.Ticks, 4);
  ReleaseTimedCallback(e);
  EXPECT_EQ(e, nullptr);
  ReleaseTimedCallback(e);  // nil: nothing
  // Bad registrations register nothing.
  EXPECT_EQ(RegisterTimedCallback(0, 1, &Timed, &log), nullptr);
  EXPECT_EQ(RegisterTimedCallback(10, 1, reinterpret_cast<TTimedHandler>(std::uintptr_t(0x1000)), &log), nullptr);
  EXPECT_TRUE(MultiTimer() == nullptr || MultiTimer()->EventCount() == 0);
  // A handler that releases its own event: freed after the call, the loop goes on.
  TLog self, other;
  self.Self = RegisterTimedCallback(10, 1, &ReleasesItself, &self);
  e = RegisterTimedCallback(10, 2, &Timed, &other);
  clock.Advance(10);
  MultiTimer()->Tick();
  EXPECT_EQ(self.Tags, std::vector<int>{1});
  EXPECT_EQ(self.Self, nullptr);
  EXPECT_EQ(other.Tags, std::vector<int>{2});
  EXPECT_EQ(MultiTimer()->EventCount(), 1u);
  ReleaseTimedCallback(e);
}

TEST_F(Timers, ManyCallbacksShareOneWindowTimer) {
  std::vector<TLog> logs(40);
  std::vector<TMultiTimerEvent*> events;
  for (int i = 0; i < 40; ++i) events.push_back(RegisterTimedCallback(10 + i, i, &Timed, &logs[std::size_t(i)]));
  TCustomTimer* shared = MultiTimer()->WindowTimer();
  EXPECT_EQ(shared->GetInterval(), 10u);  // the earliest
  // Driven by WM_TIMER of the application window.
  for (int step = 0; step < 60; ++step) {
    clock.Advance(10);
    app->ProcessMessages();
  }
  // 600 ms at steps no longer than any interval: every due time is met on
  // its own step, none missed.
  for (int i = 0; i < 40; ++i) {
    const TLog& log = logs[std::size_t(i)];
    const int due = 600 / (10 + i);
    EXPECT_EQ(log.Tags.size(), std::size_t(due)) << i;
    EXPECT_EQ(log.Ticks, due) << i;
    EXPECT_EQ(log.Missed, 0) << i;
  }
  for (auto*& e : events) ReleaseTimedCallback(e);
  EXPECT_FALSE(shared->GetEnabled());  // nothing left: the window timer stops
}

}  // namespace
