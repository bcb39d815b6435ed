#include "ZmLib/wpLoadCallBack.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "Platform/PlatPictureMemory.h"

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

namespace {

// What the watch reads as held in the tests below.
std::atomic<std::int64_t> gHeld{0};
std::int64_t TestHeld() { return gHeld.load(); }

}  // namespace

// A work whose stop names a watch ends past the watch's limit, as a stop
// ends it; before a large piece it is asked first and ends before it takes
// it; how far it got tells what it would take. Other threads are not held.
TEST(LoadCallback, MemoryWatchEndsTheWorkPastItsLimit) {
  constexpr std::int64_t kMB = 1 << 20;
  const std::int64_t base = plat::PictureMemoryBytes();
  gHeld = 100 * kMB;
  TMemoryWatch watch(200 * kMB, &TestHeld);
  TLoadStop stop;
  stop.SetWatch(&watch);
  const TLoadStopScope scope(&stop);
  watch.Begin();
  EXPECT_EQ(watch.HeldAtBegin(), 100 * kMB);
  EXPECT_NO_THROW(CheckLoadStop());
  EXPECT_NO_THROW(CheckMemoryAhead(100 * kMB));
  try {
    CheckMemoryAhead(100 * kMB + 1);
    ADD_FAILURE() << "taken past the limit";
  } catch (const EMemoryLimit& e) {
    EXPECT_EQ(e.Held, 200 * kMB + 1);
    EXPECT_EQ(e.Limit, 200 * kMB);
  }
  // A picture the work would take past the limit is not taken.
  gHeld = 199 * kMB;
  EXPECT_THROW(plat::PictureMemory(2 * kMB), EMemoryLimit);
  EXPECT_EQ(plat::PictureMemoryBytes(), base);
  // Past the limit the next look ends the work, an ELoadStopped like a stop.
  gHeld = 250 * kMB;
  EXPECT_EQ(watch.Over(true), 250 * kMB);
  EXPECT_THROW(CheckLoadStop(), ELoadStopped);
  EXPECT_EQ(watch.Peak(), 250 * kMB);
  // A quarter done, 150 MB taken: the whole would take about 700 MB.
  watch.NoteProgress(1, 4);
  EXPECT_EQ(watch.Estimate(250 * kMB), 700 * kMB);
  watch.NoteProgress(0, 4);
  EXPECT_EQ(watch.Estimate(250 * kMB), 250 * kMB);  // nothing to go by
  // Another thread, whose work names no watch, is not held.
  std::thread([] {
    EXPECT_NO_THROW(CheckLoadStop());
    EXPECT_NO_THROW(CheckMemoryAhead(1000 * kMB));
  }).join();
  gHeld = 0;
}
