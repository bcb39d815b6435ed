#include "ZmLib/Win32/winScreen.h"

#include <gtest/gtest.h>

#include "Platform/User/PlatUserHeadless.h"

using namespace zm;

namespace {

class WinScreen : public ::testing::Test {
protected:
  void SetUp() override {
    plat::headless::ResetForTests();
    FreeScreen();
  }
  void TearDown() override {
    plat::headless::ResetForTests();
    FreeScreen();
  }
};

TEST_F(WinScreen, TwoMonitorsSideBySide) {
  plat::headless::SetMonitors({{{0, 0, 1920, 1080}, {0, 0, 1920, 1040}, true, 96, 60, 32},
                               {{1920, 0, 3200, 1024}, {1920, 0, 3200, 1024}, false, 96, 75, 32}});
  ASSERT_EQ(Screen()->MonitorCount(), 2);
  EXPECT_EQ(Screen()->Monitor(2), nullptr);
  EXPECT_EQ(DesktopBounds(), (TRect{0, 0, 3200, 1080}));
  EXPECT_EQ(MonitorBoundsOfPoint({2000, 5}), (TRect{1920, 0, 3200, 1024}));
  EXPECT_EQ(MonitorBoundsOfPoint({-50, 5}), (TRect{0, 0, 1920, 1080}));  // nearest
  // Centred in the work area, halves truncated.
  EXPECT_EQ(CenteredRect(101, 41), (TRect{909, 499, 1010, 540}));
  EXPECT_EQ(MonitorBoundsOfWindow(reinterpret_cast<plat::HWND>(std::uintptr_t(5))), (TRect{0, 0, 1920, 1080}));
  // Refresh sees a changed configuration.
  plat::headless::SetMonitors({{{0, 0, 800, 600}, {0, 0, 800, 560}, true, 96, 60, 32}});
  Screen()->RefreshMonitors();
  EXPECT_EQ(Screen()->MonitorCount(), 1);
}

TEST_F(WinScreen, WithoutMultiMonitorFunctions) {
  plat::headless::SetMonitors({{{0, 0, 1280, 1024}, {0, 0, 1280, 984}, true, 96, 60, 32},
                               {{1280, 0, 2560, 1024}, {1280, 0, 2560, 1024}, false, 96, 60, 32}});
  plat::headless::SetMultiMonitorApiAvailable(false);
  ASSERT_EQ(Screen()->MonitorCount(), 1);
  EXPECT_EQ(DesktopBounds(), (TRect{0, 0, 1280, 1024}));
  EXPECT_EQ(Screen()->Monitor(0)->WorkArea(), (TRect{0, 0, 1280, 984}));
  TRect empty, a{0, 0, 10, 10};
  EXPECT_EQ(UnionRect(empty, a), a);  // empty rectangles add nothing
  EXPECT_EQ(UnionRect(a, empty), a);
  EXPECT_EQ(UnionRect(a, TRect{5, -5, 20, 8}), (TRect{0, -5, 20, 10}));
}

}  // namespace
