#include "OruLib2/OruViewer/OruFrameInterpolation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

using namespace oru;

namespace {

constexpr int kFiPassThrough = TFrameInterpolator::kWarmUpPasses + TFrameInterpolator::kRingSize;

// A music clock that only moves in whole 10 ms blocks, read by a 60 Hz
// loop: raw steps of 10 and 20 ms in turn.
double FiBlockClock(int frame) { return std::floor(frame * (1000.0 / 60) / 10) * 10; }

zm::TRef<TFrameInterpolator> MakeInterpolator() { return zm::MakeRef<TFrameInterpolator>(); }

}  // namespace

TEST(FrameInterpolator, WarmUpAndRingFillPassThroughThenSmooth) {
  auto f = MakeInterpolator();
  // Uneven input: any smoothing would show.
  for (int i = 0; i < kFiPassThrough; ++i) ASSERT_EQ(f->Interpolate(FiBlockClock(i)), FiBlockClock(i)) << i;
  EXPECT_NE(f->Interpolate(FiBlockClock(kFiPassThrough)), FiBlockClock(kFiPassThrough));

  // Reset starts both phases again.
  f->Reset();
  for (int i = 0; i < kFiPassThrough; ++i) ASSERT_EQ(f->Interpolate(5000 + FiBlockClock(i)), 5000 + FiBlockClock(i));
}

// Once the ring is full the output goes a sixth of the way from the
// prediction (the last output moved on at the ring's pace) to the input.
TEST(FrameInterpolator, CorrectsASixthOfTheWayToTheInput) {
  auto f = MakeInterpolator();
  for (int i = 0; i < kFiPassThrough; ++i) ASSERT_EQ(f->Interpolate(i * 10.0), i * 10.0);
  // 60 ms ahead of the pace: the ring holds 31 steps of 10 and one of 70,
  // the prediction 470 + 380 / 32 = 481.875, the input 540.
  EXPECT_DOUBLE_EQ(f->Interpolate(540), 481.875 + (540 - 481.875) / 6);
  // The next, 10 on: the 70 stays in the ring, 491.5625 + 380 / 32 = 503.4375.
  EXPECT_DOUBLE_EQ(f->Interpolate(550), 503.4375 + (550 - 503.4375) / 6);
}

TEST(FrameInterpolator, ConstantStepComesBackExactlyAcrossRingTurns) {
  auto f = MakeInterpolator();
  // Many turns of the ring: the running sum must not drift away.
  for (int i = 0; i < 20000; ++i) {
    const double t = 1e6 + i * 16.0;
    ASSERT_EQ(f->Interpolate(t), t) << i;
  }
}

TEST(FrameInterpolator, SmoothAndMonotonicOnABlockyClock) {
  auto f = MakeInterpolator();
  double last = -1;
  double minStep = 1e9, maxStep = -1e9;
  for (int i = 0; i < 2000; ++i) {
    const double out = f->Interpolate(FiBlockClock(i));
    ASSERT_GE(out, last) << i;
    if (i > kFiPassThrough + 64) {
      minStep = std::min(minStep, out - last);
      maxStep = std::max(maxStep, out - last);
      ASSERT_NEAR(out, FiBlockClock(i), 15) << i;  // stays with the clock
    }
    last = out;
  }
  // Raw steps are 10 and 20 ms; the output advances by nearly 16.7 each.
  EXPECT_GT(minStep, 14.5);
  EXPECT_LT(maxStep, 19);

  // The clock stalls without a hold: the output never runs back.
  const double stalled = FiBlockClock(2000);
  for (int i = 0; i < 100; ++i) {
    const double out = f->Interpolate(stalled);
    ASSERT_GE(out, last) << i;
    last = out;
  }
  // A clock that really goes back (a seek without a hold) is followed back.
  EXPECT_LT(f->Interpolate(stalled - 5000), last - 500);
}

TEST(FrameInterpolator, HoldPassesThroughAndKeepsWarmUp) {
  auto f = MakeInterpolator();
  // Off without On changes nothing: the warm-up still counts down.
  f->Hold(false);
  EXPECT_FALSE(f->Holding());
  f->Interpolate(0);
  EXPECT_EQ(f->WarmUp(), TFrameInterpolator::kWarmUpPasses - 1);

  f->Hold(true);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(f->Interpolate(FiBlockClock(i)), FiBlockClock(i));
  EXPECT_EQ(f->WarmUp(), TFrameInterpolator::kWarmUpPasses - 1);  // no count-down while held

  // Released: the first value after the release still passes through.
  f->Hold(false);
  EXPECT_TRUE(f->Holding());
  EXPECT_EQ(f->Interpolate(123456), 123456);
  EXPECT_FALSE(f->Holding());
  EXPECT_EQ(f->WarmUp(), TFrameInterpolator::kWarmUpPasses - 1);

  // A hold taken again before the pending release cancels it.
  f->Hold(false);
  f->Hold(true);
  f->Interpolate(1);
  EXPECT_TRUE(f->Holding());
}

TEST(FrameInterpolator, NonFiniteInputKeepsTheLastOutput) {
  auto f = MakeInterpolator();
  for (int i = 0; i < 200; ++i) f->Interpolate(i * 16.0);
  const double before = f->Output();
  EXPECT_EQ(f->Interpolate(std::numeric_limits<double>::quiet_NaN()), before);
  EXPECT_EQ(f->Interpolate(std::numeric_limits<double>::infinity()), before);
  // The ring was not poisoned: a constant step still comes back exactly.
  EXPECT_EQ(f->Interpolate(200 * 16.0), 200 * 16.0);
}

// A loaded machine: passes come unevenly, and the sound stalls now and then.
// The output keeps to the clock's pace over the time that passed and does
// not run past a clock that stands.
TEST(FrameInterpolator, UnevenPassesAndAStandingClockAreNotRunPast) {
  auto f = MakeInterpolator();
  const std::uint32_t gaps[] = {30, 2, 16, 2, 25};
  std::uint32_t now = 0xFFFFFF00u;  // the millisecond count wraps on the way
  double t = 1000;
  double last = 0;
  for (int i = 0; i < 400; ++i) {
    const std::uint32_t gap = gaps[i % 5];
    now += gap;
    t += gap;
    last = f->Interpolate(t, now);
    if (i > kFiPassThrough) ASSERT_NEAR(last, t, 0.5) << i;
  }
  // The sound stalls for three passes: the output waits with it.
  for (int i = 0; i < 3; ++i) {
    now += 16;
    const double out = f->Interpolate(t, now);
    ASSERT_GE(out, last) << i;
    ASSERT_LE(out, std::max(last, t)) << i;
    last = out;
  }
  // It goes on (having mixed what it owed): the output follows, never back.
  for (int i = 0; i < 100; ++i) {
    now += 16;
    t += i == 0 ? 48 + 16 : 16;
    const double out = f->Interpolate(t, now);
    ASSERT_GE(out, last) << i;
    ASSERT_LE(out, t + 3) << i;  // the ring's memory of the stall: a ripple
    if (i > 2 * TFrameInterpolator::kRingSize) ASSERT_NEAR(out, t, 0.5) << i;
    last = out;
  }
}
