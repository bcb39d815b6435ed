#include "ZmLib/wpLoadCallBack.h"

#include <gtest/gtest.h>

#include "Platform/PlatSystem.h"
#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/Win32/winSysUtils.h"

using namespace zm;

TEST(LoadCallback, YieldsAboutEverySixMilliseconds) {
  plat::TManualClock clock(1000);
  InitWinSysUtils();
  SetLoadCallbackMode(1);
  // A loop that calls every millisecond gives up the processor every 6 ms.
  std::uint32_t before = LoadCallbackYields();
  for (int i = 0; i < 60; ++i) {
    clock.Advance(1);
    EXPECT_TRUE(LoadCallbackProc());
  }
  EXPECT_EQ(LoadCallbackYields() - before, 10u);
  SetLoadCallbackMode(0);
  InitWinSysUtils();
}

TEST(LoadCallback, ModeTwoRaisesPriorityAndModeThreeStops) {
  EXPECT_EQ(LoadCallbackPriorityClass(), 32u);
  SetLoadCallbackMode(2);
  EXPECT_EQ(LoadCallbackPriorityClass(), 128u);
  EXPECT_TRUE(LoadCallbackProc());
  SetLoadCallbackMode(3);
  EXPECT_EQ(LoadCallbackPriorityClass(), 32u);
  EXPECT_FALSE(LoadCallbackProc());
  EXPECT_FALSE(LoadCallbackClass->Call());
  EXPECT_THROW(SetLoadCallbackMode(4), EAbort);
  SetLoadCallbackMode(0);
  EXPECT_TRUE(LoadCallbackProc());
}
