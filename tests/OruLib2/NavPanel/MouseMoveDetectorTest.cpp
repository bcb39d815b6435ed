#include <gtest/gtest.h>

#include <climits>

#include "OruLib2/NavPanel/MouseMoveDetector.h"
#include "Platform/PlatSystem.h"

using oru::TMouseMoveDetector;

TEST(MouseMoveDetector, JitterBelowSixPixelsIsNoMove) {
  TMouseMoveDetector d;
  EXPECT_FALSE(d.MouseMove(100, 100));  // the first event only stores
  EXPECT_FALSE(d.MouseMove(103, 102));  // 5
  EXPECT_TRUE(d.MouseMove(103, 103));   // 6 from the stored 100,100
  // Jitter never adds up: each event is measured from the last counted one.
  EXPECT_FALSE(d.MouseMove(106, 105));
  EXPECT_FALSE(d.MouseMove(100, 101));
  // Far-apart coordinates do not overflow.
  EXPECT_TRUE(d.MouseMove(INT_MIN, INT_MAX));
  EXPECT_TRUE(d.MouseMove(INT_MAX, INT_MIN));
}

TEST(MouseMoveDetector, CounterWrapsAfter255Moves) {
  TMouseMoveDetector d;
  d.MouseMove(0, 0);
  for (int i = 1; i <= 255; ++i) ASSERT_TRUE(d.MouseMove(i * 10, 0)) << i;
  // The counter is now 0 again: the next event only stores.
  EXPECT_FALSE(d.MouseMove(5000, 5000));
  EXPECT_TRUE(d.MouseMove(5010, 5000));
}

TEST(MouseMoveDetector, IdleTimes) {
  plat::TManualClock clock(0xFFFFFFF0u);  // across the clock's wrap
  TMouseMoveDetector d;
  d.SetIdle(false);
  EXPECT_FALSE(d.IsIdle());
  clock.Advance(1);
  EXPECT_TRUE(d.IsIdle());  // interval 0: one millisecond is enough

  d.SetInterval(1000);
  d.MouseMove(0, 0);
  d.MouseMove(50, 0);
  clock.Advance(1000);
  EXPECT_FALSE(d.IsIdle());
  clock.Advance(1);
  EXPECT_TRUE(d.IsIdle());

  d.SetIdle(true);
  EXPECT_TRUE(d.IsIdle());
  // Restart asked: not idle whatever the interval, even 0.
  d.SetInterval(0);
  d.SetIdle(true);
  d.SetIdle(false);
  EXPECT_FALSE(d.IsIdle());
}
