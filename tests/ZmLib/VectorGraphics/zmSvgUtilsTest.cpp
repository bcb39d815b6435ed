#include "ZmLib/VectorGraphics/zmSvgUtils.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace zm;

namespace {

TPathPoints Parse(std::string_view text) {
  TPathPoints p{{99, 99, 7}};  // replaced, never appended to
  ParseSvgPath(text, p);
  return p;
}

std::vector<std::int32_t> Codes(const TPathPoints& p) {
  std::vector<std::int32_t> c;
  for (const TPathPoint& e : p) c.push_back(e.Code);
  return c;
}

}  // namespace

TEST(SvgPath, MovesLinesAndImplicitRepeats) {
  const TPathPoints a = Parse("M 0 0 L 10 0 L 10 10 Z");
  EXPECT_EQ(a, (TPathPoints{{0, 0, 0}, {10, 0, 1}, {10, 10, 1}}));
  EXPECT_EQ(Parse("M0,0 10,0 10,10"), a);           // numbers after M repeat as lines
  EXPECT_EQ(Parse("m 5 5 l 1 0"), (TPathPoints{{5, 5, 0}, {6, 5, 1}}));
  // Each repeat of a relative command is relative to the point before it.
  EXPECT_EQ(Parse("m 5 5 1 0 1 0"), (TPathPoints{{5, 5, 0}, {6, 5, 1}, {7, 5, 1}}));
  EXPECT_EQ(Parse("M 1 2 H 5 V 7 h -1 v -2"),
            (TPathPoints{{1, 2, 0}, {5, 2, 1}, {5, 7, 1}, {4, 7, 1}, {4, 5, 1}}));
  EXPECT_TRUE(Parse("M.5-1.5e1 -.25 +2").empty());  // "-" inside a run joins it
  EXPECT_EQ(Parse("M.5 -1.5e1 -.25 +2"), (TPathPoints{{0.5f, -15, 0}, {-0.25f, 2, 1}}));
  EXPECT_TRUE(Parse("   ").empty());
}

TEST(SvgPath, Curves) {
  EXPECT_EQ(Codes(Parse("M 0 0 Q 5 5 10 0")), (std::vector<std::int32_t>{0, 2, 1}));
  EXPECT_EQ(Codes(Parse("M 0 0 C 1 1 2 2 3 3")), (std::vector<std::int32_t>{0, 3, 2, 1}));
  // Relative curves take the point where the command began.
  EXPECT_EQ(Parse("M 10 10 q 1 2 3 4"), (TPathPoints{{10, 10, 0}, {11, 12, 2}, {13, 14, 1}}));
  // S and T reflect the point before the current one about the current one.
  EXPECT_EQ(Parse("M 0 0 L 2 1 T 5 5"), (TPathPoints{{0, 0, 0}, {2, 1, 1}, {4, 2, 2}, {5, 5, 1}}));
  EXPECT_EQ(Parse("M 0 0 C 1 0 2 1 3 3 S 6 6 7 7"),
            (TPathPoints{{0, 0, 0}, {1, 0, 3}, {2, 1, 2}, {3, 3, 1}, {4, 5, 3}, {6, 6, 2}, {7, 7, 1}}));
  EXPECT_EQ(Parse("M 0 0 H 2 s 1 1 2 0"), (TPathPoints{{0, 0, 0}, {2, 0, 1}, {4, 0, 3}, {3, 1, 2}, {4, 0, 1}}));
  // Relative cubics: all three pairs from where the command began, each
  // repeat from the end of the one before, and an "s" after them.
  EXPECT_EQ(Parse("M 10 10 c 1 2 3 4 5 6"), (TPathPoints{{10, 10, 0}, {11, 12, 3}, {13, 14, 2}, {15, 16, 1}}));
  EXPECT_EQ(Parse("M 10 10 c 1 0 2 0 3 0 1 1 2 2 3 3"),
            (TPathPoints{{10, 10, 0}, {11, 10, 3}, {12, 10, 2}, {13, 10, 1}, {14, 11, 3}, {15, 12, 2}, {16, 13, 1}}));
  EXPECT_EQ(Parse("m 0 0 c 1 0 2 1 3 3 s 3 3 4 4"),
            (TPathPoints{{0, 0, 0}, {1, 0, 3}, {2, 1, 2}, {3, 3, 1}, {4, 5, 3}, {6, 6, 2}, {7, 7, 1}}));
}

TEST(SvgPath, ErrorsGiveAnEmptyPath) {
  for (const char* bad : {
           "L 1 1",               // no move first
           "M 0 0 Z 1 1",         // a number after Z
           "M 0 0 S 1 1 2 2",     // S right after a move
           "T 1 1",               // T at the start
           "M 0 0 L 10-5",        // one run, not a number
           "M 0 0 L 1",           // a pair cut short
           "M",                   // no numbers at all
           "M 1e 2",              // an exponent without digits
           "M 1e400 2",           // out of range
           "M 1e39 2",            // beyond a single
           "M 3e38 0 l 3e38 0",   // relative steps adding up past a single
           "M 0 0 A 1 1 0 0 1 5 5",  // arcs are not supported
           "Z",
           "M 0 0 +1 2",          // a repeat must start with a digit, "-" or "."
           "M 0 0 L \xC3\xA9 1",  // non-ASCII
       }) {
    TPathPoints p{{1, 1, 0}};
    EXPECT_FALSE(ParseSvgPath(std::string_view(bad), p)) << bad;
    EXPECT_TRUE(p.empty()) << bad;
  }
}

TEST(Bezier, FlatteningHalvesUntilChordsAreShort) {
  std::vector<TFloatPoint> out;
  TBezierContext ctx;
  ctx.LineTo = [&](const TFloatPoint& p) { out.push_back(p); };
  // Ends less than 2 pixels apart both ways: one line.
  ctx.P[0] = {0, 0};
  ctx.P[1] = {30, 30};
  ctx.P[2] = {1.5f, 1.9f};
  FlattenQuadBezier(ctx, ctx.P[0], ctx.P[2], 32, 1, 0);
  EXPECT_EQ(out, (std::vector<TFloatPoint>{{1.5f, 1.9f}}));
  // A cubic with a cut: pieces beyond the rectangle go straight to their end.
  out.clear();
  ctx.P[0] = {0, 0};
  ctx.P[1] = {0, 1000};
  ctx.P[2] = {1000, 1000};
  ctx.P[3] = {1000, 0};
  FlattenCubicBezier(ctx, ctx.P[0], ctx.P[3], 32, 1, 0);
  const std::size_t full = out.size();
  out.clear();
  ctx.HasCut = true;
  ctx.Cut = {-2, -2, 50, 50};
  FlattenCubicBezier(ctx, ctx.P[0], ctx.P[3], 32, 1, 0);
  EXPECT_LT(out.size() * 10, full);
  EXPECT_EQ(out.back(), (TFloatPoint{1000, 0}));
  // A budget stops the halving once spent.
  out.clear();
  ctx.HasCut = false;
  std::int64_t budget = 5;
  ctx.Budget = &budget;
  FlattenCubicBezier(ctx, ctx.P[0], ctx.P[3], 32, 1, 0);
  EXPECT_LE(out.size(), 40u);
  EXPECT_EQ(out.back(), (TFloatPoint{1000, 0}));
}
