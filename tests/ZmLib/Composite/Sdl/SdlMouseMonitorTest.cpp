// The mouse monitor over a form's real window on the SDL display (run under
// a virtual X server with ZM_DISPLAY=sdl), the pointer moved by the display
// itself.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "Platform/PlatSystem.h"
#include "Platform/User/PlatUser.h"
#include "ZmLib/Application2/winApplication.h"
#include "ZmLib/Application2/zmMouseMonitor.h"
#include "ZmLib/Application2/zmTimer2.h"

using namespace zm;

namespace {

// Pumps until the condition holds or five seconds of real time pass. The
// program's clock stands still in the test, so the display is looked at
// every few milliseconds of real time instead of waited on.
template <class F>
bool PumpMonitorUntil(F done) {
  const auto start = std::chrono::steady_clock::now();
  plat::MSG m;
  while (!done()) {
    if (std::chrono::steady_clock::now() - start > std::chrono::seconds(5)) return false;
    if (plat::PeekMessageW(&m, nullptr, 0, 0, plat::PM_REMOVE)) {
      plat::TranslateMessage(&m);
      plat::DispatchMessageW(&m);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  return true;
}

TZmForm* ShownForm(const TRect& bounds) {
  auto* f = new TZmForm();
  f->AfterConstruction();
  f->SetBorderStyle(0);
  f->SetBounds(bounds);
  f->SetVisible(true);
  return f;
}

}  // namespace

// The pointer rests in the form (no longer polled), then goes in one move
// onto another window of the program that lies over the form's edge: the
// display's last report of a move in the form lands on that window, so only
// the form's leave tells the monitor, which then sees the pointer outside.
// Then the same out onto the bare screen.
TEST(SdlMouseMonitor, RestingPointerLeavingInOneMoveIsSeen) {
  ASSERT_TRUE(plat::InitWindowSystem());
  ASSERT_EQ(plat::WindowSystemBackEnd(), "sdl") << "no display server: run under xvfb-run";
  auto* app = new TZmApplication();
  app->AfterConstruction();
  app->Initialize();
  {
    plat::TManualClock clock(5000);
    TZmForm* form = ShownForm({100, 100, 400, 300});
    TZmForm* over = ShownForm({380, 100, 600, 300});
    TRef<TMouseMonitor> m = MakeRef<TMouseMonitor>(form, false);
    int enters = 0, leaves = 0;
    m->SetOnEnter([&](TMouseMonitor*) { ++enters; });
    m->SetOnLeave([&](TMouseMonitor*) { ++leaves; });
    ASSERT_TRUE(plat::MoveNativePointer({200, 200}));
    ASSERT_TRUE(PumpMonitorUntil([&] { return enters == 1; })) << "the pointer was never seen in the form";
    clock.Advance(TMouseMonitor::kRestAfterMs);
    m->Check();
    ASSERT_FALSE(m->Polling());
    ASSERT_TRUE(plat::MoveNativePointer({500, 200}));
    EXPECT_TRUE(PumpMonitorUntil([&] { return leaves == 1; })) << "the pointer was never seen leaving";
    EXPECT_FALSE(m->Inside());
    EXPECT_EQ(enters, 1);
    // Back, at rest again, and out where no window of the program is.
    ASSERT_TRUE(plat::MoveNativePointer({150, 250}));
    ASSERT_TRUE(PumpMonitorUntil([&] { return enters == 2; }));
    clock.Advance(TMouseMonitor::kRestAfterMs);
    m->Check();
    ASSERT_FALSE(m->Polling());
    ASSERT_TRUE(plat::MoveNativePointer({900, 800}));
    EXPECT_TRUE(PumpMonitorUntil([&] { return leaves == 2; })) << "the pointer was never seen leaving again";
    m = nullptr;
    over->Free();
    form->Free();
  }
  FiniZmTimer2();
  app->Finalize();
  app->Free();
}
