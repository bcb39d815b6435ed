#include "OruLib2/OruClasses/OruAnimParams.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace oru;

namespace {
std::vector<std::int32_t> Delays(const zm::WideString& text, std::int32_t count) {
  TImageAnimationParams p;
  p.Count = count;
  ParseFrameDelays(text, p);
  return p.Delays;
}

TImageAnimationParams Strip(std::int32_t columns, std::int32_t rows, std::int32_t count, const zm::WideString& delays,
                            std::int32_t reps = 0, double offset = 0) {
  TImageAnimationParams p;
  p.Enabled = 1;
  p.Columns = columns;
  p.Rows = rows;
  p.Count = count;
  p.RepCount = reps;
  p.Offset = offset;
  ParseFrameDelays(delays, p);
  return p;
}
}  // namespace

TEST(AnimParams, FrameDelaysFillRepeatAndReplaceBadValues) {
  EXPECT_EQ(Delays(u"40,0,x", 5), (std::vector<std::int32_t>{40, 100, 100, 100, 100}));
  EXPECT_EQ(Delays(u"250", 3), (std::vector<std::int32_t>{250, 250, 250}));
  EXPECT_EQ(Delays(u"", 4), (std::vector<std::int32_t>{100, 100, 100, 100}));
  EXPECT_EQ(Delays(u"10, 20,-5,30", 3), (std::vector<std::int32_t>{10, 20, 100}));  // extra items ignored
  EXPECT_EQ(Delays(u"10,", 3), (std::vector<std::int32_t>{10, 100, 100}));          // an empty last item
  EXPECT_EQ(Delays(u"10,20,30", 1), (std::vector<std::int32_t>{10}));
  EXPECT_TRUE(Delays(u"10", 0).empty());
  EXPECT_TRUE(Delays(u"10", -7).empty());
  // An absurd frame count does not become an absurd allocation.
  EXPECT_EQ(Delays(u"5", 2147483647).size(), std::size_t(kMaxAnimationFrames));
}

TEST(AnimParams, SameParamsComparesEveryFieldAndEveryDelay) {
  const TImageAnimationParams a = Strip(4, 2, 8, u"40,50,60");
  TImageAnimationParams b = a;
  EXPECT_TRUE(SameAnimationParams(a, b));
  b.Delays[5] = 61;
  EXPECT_FALSE(SameAnimationParams(a, b));
  b = a;
  b.Delays.pop_back();
  EXPECT_FALSE(SameAnimationParams(a, b));
  b = a;
  b.Offset = 0.5;
  EXPECT_FALSE(SameAnimationParams(a, b));
  b = a;
  b.RepCount = 1;
  EXPECT_FALSE(SameAnimationParams(a, b));
  b = a;
  b.Enabled = 0;
  EXPECT_FALSE(SameAnimationParams(a, b));
}

TEST(AnimParams, FrameRectCutsTheStripIntoCells) {
  zm::TFloatRect r;
  ASSERT_TRUE(FrameRect(300, 100, 3, 2, 1, 2, r));
  EXPECT_EQ(r, (zm::TFloatRect{200, 50, 300, 100}));
  ASSERT_TRUE(FrameRect(100, 10, 3, 1, 0, 1, r));
  EXPECT_FLOAT_EQ(r.Left, 100.0f / 3);
  EXPECT_FLOAT_EQ(r.Right, 200.0f / 3);
  EXPECT_FALSE(FrameRect(100, 100, 0, 1, 0, 0, r));
  EXPECT_EQ(r, zm::TFloatRect{});
  EXPECT_FALSE(FrameRect(100, 100, 2, -1, 0, 0, r));
  EXPECT_TRUE(FrameRect(100, 100, 2, 2, 0, 2147483647, r));  // no integer overflow on the far edge
  EXPECT_GE(r.Right, r.Left);
  EXPECT_GT(r.Right, 0);
}

TEST(AnimParams, FrameDueWalksTheDelaysCountsPassesAndStops) {
  const TImageAnimationParams p = Strip(2, 2, 3, u"100,200,300");
  EXPECT_EQ(AnimationFrameAt(p, 0), 0);
  EXPECT_EQ(AnimationFrameAt(p, 100), 0);  // a running sum that reaches the time
  EXPECT_EQ(AnimationFrameAt(p, 100.5), 1);
  EXPECT_EQ(AnimationFrameAt(p, 300), 1);
  EXPECT_EQ(AnimationFrameAt(p, 599), 2);
  EXPECT_EQ(AnimationFrameAt(p, 601), 0);  // wrapped: the 4th cell is never shown
  EXPECT_EQ(AnimationFrameAt(p, 600.0 * 1000000 + 150), 1);
  EXPECT_EQ(AnimationFrameAt(p, -50), 0);

  // Two passes, then the last frame stays.
  const TImageAnimationParams twice = Strip(3, 1, 3, u"100", 2);
  EXPECT_EQ(AnimationFrameAt(twice, 450), 1);
  EXPECT_EQ(AnimationFrameAt(twice, 601), 2);
  EXPECT_EQ(AnimationFrameAt(twice, 1e12), 2);
  EXPECT_EQ(AnimationFrameAt(twice, std::numeric_limits<double>::infinity()), 2);
  EXPECT_EQ(AnimationFrameAt(twice, std::nan("")), 0);

  // The offset delays the start.
  const TImageAnimationParams late = Strip(3, 1, 3, u"100", 0, 1000);
  EXPECT_EQ(AnimationFrameAt(late, 1000), 0);
  EXPECT_EQ(AnimationFrameAt(late, 1150), 1);

  // Frame 0 while off, with one cell, or without delays.
  TImageAnimationParams off = p;
  off.Enabled = 0;
  EXPECT_EQ(AnimationFrameAt(off, 150), 0);
  EXPECT_EQ(AnimationFrameAt(Strip(1, 1, 5, u"10"), 15), 0);
  TImageAnimationParams none = p;
  none.Delays.clear();
  EXPECT_EQ(AnimationFrameAt(none, 150), 0);
  TImageAnimationParams zeros = p;  // delays set by hand, not parsed
  zeros.Delays = {0, 0, 0};
  EXPECT_EQ(AnimationFrameAt(zeros, 150), 0);

  std::int32_t row = -1, col = -1;
  AnimationFrameCell(Strip(3, 2, 6, u""), 4, row, col);
  EXPECT_EQ(row, 1);
  EXPECT_EQ(col, 1);
}
