#include <gtest/gtest.h>

#include "Platform/PlatSystem.h"
#include "Platform/User/PlatUserHeadless.h"
#include "ZmLib/Application2/zmMouseMonitor.h"
#include "tests/support/HeadlessApp.h"

using namespace zm;

namespace {

TPoint gCursor;
bool CursorAt(TPoint& p) {
  p = gCursor;
  return true;
}

class MouseMonitor : public zmtest::THeadlessAppTest {
 protected:
  void SetUp() override {
    THeadlessAppTest::SetUp();
    saved_ = SetCursorPosHook(&CursorAt);
    form = new TZmForm();
    form->AfterConstruction();
    form->SetBorderStyle(0);
    form->SetBounds({100, 100, 300, 250});
    form->SetVisible(true);
    origin = form->ClientToScreen({0, 0});
    gCursor = {-5000, -5000};
  }
  void TearDown() override {
    if (form) form->Free();
    SetCursorPosHook(saved_);
    THeadlessAppTest::TearDown();
  }
  void MoveTo(std::int32_t x, std::int32_t y) { gCursor = {origin.X + x, origin.Y + y}; }

  TZmForm* form = nullptr;
  TPoint origin;
  TCursorPosHook saved_ = nullptr;
};

}  // namespace

TEST_F(MouseMonitor, EnterAndLeaveStartAndStopPolling) {
  TRef<TMouseMonitor> m = MakeRef<TMouseMonitor>(form, false);
  int enters = 0, leaves = 0;
  m->SetOnEnter([&](TMouseMonitor*) { ++enters; });
  m->SetOnLeave([&](TMouseMonitor*) { ++leaves; });
  EXPECT_FALSE(m->Polling());
  MoveTo(0, 0);  // left and top are inside
  m->Check();
  EXPECT_EQ(enters, 1);
  EXPECT_TRUE(m->Polling());
  m->Check();
  EXPECT_EQ(enters, 1);
  MoveTo(200, 10);  // the right edge is outside
  m->Check();
  EXPECT_EQ(leaves, 1);
  EXPECT_FALSE(m->Polling());
  MoveTo(199, 149);
  form->DoMouse(TMouseKind::Move, {199, 149}, 0, 0);  // the form's mouse event checks too
  EXPECT_EQ(enters, 2);
  EXPECT_TRUE(m->Polling());
  // A hidden form has no pointer inside.
  form->SetVisible(false);
  EXPECT_EQ(leaves, 2);
  EXPECT_FALSE(m->Polling());
}

TEST_F(MouseMonitor, HidingByIdleTimeAndTremble) {
  plat::TManualClock clock(5000);
  TRef<TMouseMonitor> m = MakeRef<TMouseMonitor>(form, false);
  int changes = 0;
  m->OnHiddenChanged = [&](TMouseMonitor*) { ++changes; };
  MoveTo(50, 50);
  m->SetHideDelay(-7);
  EXPECT_EQ(m->HideDelay(), 0);
  clock.Advance(100000);
  m->Check();
  EXPECT_FALSE(m->Hidden());  // delay 0: never hidden by time

  m->SetHideDelay(2000);
  clock.Advance(2000);
  m->Check();
  EXPECT_FALSE(m->Hidden());
  clock.Advance(1);
  m->Check();
  EXPECT_TRUE(m->Hidden());
  // A trembling hand keeps it hidden; 5 pixels on one axis bring it back.
  for (TPoint p : {TPoint{54, 46}, TPoint{46, 54}, TPoint{50, 50}}) {
    MoveTo(p.X, p.Y);
    m->MovedCheck();
    EXPECT_TRUE(m->Hidden());
  }
  MoveTo(50, 55);
  m->MovedCheck();
  EXPECT_FALSE(m->Hidden());
  EXPECT_EQ(changes, 2);

  // Hidden for good: delay 0 ignores moves.
  m->SetHideDelay(0);
  m->SetHidden(true);
  MoveTo(150, 120);
  m->MovedCheck();
  EXPECT_TRUE(m->Hidden());
}

TEST_F(MouseMonitor, FormEndDetaches) {
  // Owned by the form: its end frees the monitor (ASan sees a leak or a
  // use after free otherwise).
  auto* owned = new TMouseMonitor(form, true);
  owned->AfterConstruction();
  MoveTo(1, 1);
  owned->SetOnLeave([](TMouseMonitor*) {});
  EXPECT_TRUE(owned->Polling());
  TRef<TMouseMonitor> kept = MakeRef<TMouseMonitor>(form, false);
  form->Free();
  form = nullptr;
  EXPECT_EQ(kept->Form(), nullptr);
  kept->Check();  // harmless without a form
  EXPECT_FALSE(kept->IsInside());
}

TEST_F(MouseMonitor, RestingPointerIsPolledLessOftenButHiddenInTime) {
  plat::TManualClock clock(5000);
  TRef<TMouseMonitor> m = MakeRef<TMouseMonitor>(form, false);
  m->SetOnLeave([](TMouseMonitor*) {});
  MoveTo(50, 50);
  form->DoMouse(TMouseKind::Move, {50, 50}, 0, 0);
  EXPECT_EQ(m->PollInterval(), TMouseMonitor::kPollMs);
  clock.Advance(TMouseMonitor::kRestAfterMs);
  m->Check();
  EXPECT_EQ(m->PollInterval(), 0);
  // A move shows in the form's events: close polling again.
  MoveTo(60, 50);
  form->DoMouse(TMouseKind::Move, {60, 50}, 0, 0);
  EXPECT_EQ(m->PollInterval(), TMouseMonitor::kPollMs);
  // Resting with a hide due: the poll comes when the cursor is to go.
  m->SetHideDelay(3000);
  m->SetHidden(false);
  clock.Advance(2900);
  m->Check();
  EXPECT_EQ(m->PollInterval(), 101);
  clock.Advance(101);
  m->Check();
  EXPECT_TRUE(m->Hidden());
  EXPECT_EQ(m->PollInterval(), 0);
  // A hide due far ahead: one look when it is due, none before.
  MoveTo(70, 50);
  form->DoMouse(TMouseKind::Move, {70, 50}, 0, 0);
  EXPECT_FALSE(m->Hidden());
  clock.Advance(TMouseMonitor::kRestAfterMs);
  m->Check();
  EXPECT_EQ(m->PollInterval(), 3000 + 1 - TMouseMonitor::kRestAfterMs);
}

// A pointer at rest is not polled; when it then leaves the window in one
// move, no move of it comes, but the window system's leave does (through
// the form's window) and the monitor looks again. A leave while the pointer
// is still inside (over another window on top) changes nothing.
TEST_F(MouseMonitor, RestingPointerLeavingInOneMoveIsSeen) {
  plat::TManualClock clock(5000);
  TRef<TMouseMonitor> m = MakeRef<TMouseMonitor>(form, false);
  int enters = 0, leaves = 0;
  m->SetOnEnter([&](TMouseMonitor*) { ++enters; });
  m->SetOnLeave([&](TMouseMonitor*) { ++leaves; });
  const auto pointerTo = [&](std::int32_t x, std::int32_t y) {
    MoveTo(x, y);
    plat::headless::MoveMouse({gCursor.X, gCursor.Y});
    app->ProcessMessages();
  };
  pointerTo(50, 50);
  ASSERT_EQ(enters, 1);
  clock.Advance(TMouseMonitor::kRestAfterMs);
  m->Check();
  ASSERT_FALSE(m->Polling());
  form->DoMouseLeave();
  EXPECT_EQ(leaves, 0);
  EXPECT_TRUE(m->Inside());
  pointerTo(500, 400);
  EXPECT_EQ(leaves, 1);
  EXPECT_FALSE(m->Inside());
  EXPECT_FALSE(m->Polling());
  // Back in, at rest again, and out by the window's leave alone.
  pointerTo(60, 60);
  EXPECT_EQ(enters, 2);
  clock.Advance(TMouseMonitor::kRestAfterMs);
  m->Check();
  MoveTo(-40, 20);
  form->DoMouseLeave();
  EXPECT_EQ(leaves, 2);
}
