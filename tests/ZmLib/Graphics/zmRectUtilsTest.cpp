#include "ZmLib/Graphics/zmRectUtils.h"

#include <gtest/gtest.h>

#include <random>

using namespace zm;

namespace {

std::vector<TRect> Entries(const TRectList& l) { return {l.Items.begin(), l.Items.begin() + l.Count}; }

std::int64_t Area(const TRect& r) { return std::int64_t(r.Right - r.Left) * (r.Bottom - r.Top); }

bool Overlap(const TRect& a, const TRect& b) {
  return std::max(a.Left, b.Left) < std::min(a.Right, b.Right) && std::max(a.Top, b.Top) < std::min(a.Bottom, b.Bottom);
}

}  // namespace

TEST(FloatRect, IntersectionNeedsRealOverlap) {
  TFloatRect r;
  EXPECT_FALSE(IntersectFloatRect(FloatRect(0, 0, 10, 10), FloatRect(10, 0, 20, 10), r));  // touching edges
  EXPECT_TRUE(SameFloatRect(r, kEmptyFloatRect));
  EXPECT_FALSE(IntersectFloatRect(FloatRect(0, 0, 10, 10), FloatRect(0, 10, 10, 20), r));
  EXPECT_TRUE(IntersectFloatRect(FloatRect(0, 0, 10, 10), FloatRect(9.5f, -1, 20, 3), r));
  EXPECT_TRUE(SameFloatRect(r, FloatRect(9.5f, 0, 10, 3)));
  EXPECT_FLOAT_EQ(FloatRectWidth(r), 0.5f);
  EXPECT_FLOAT_EQ(FloatRectHeight(r), 3);
  EXPECT_TRUE(IsFloatRectEmpty(FloatRect(1, 1, 1, 5)));
  EXPECT_TRUE(IsFloatRectEmpty(kEmptyFloatRect));
  EXPECT_TRUE(SameFloatRect(IntToFloatRect({1, 2, 3, 4}), FloatRect(1, 2, 3, 4)));
  EXPECT_TRUE(SameFloatRect(SizeToFloatRect(5, 6), FloatRect(0, 0, 5, 6)));
  EXPECT_TRUE(SameFloatRect(OffsetFloatRect(FloatRect(1, 2, 3, 4), 1, -2), FloatRect(2, 0, 4, 2)));
}

TEST(IntRect, UnionInsideAndMove) {
  TRect a = kEmptyRect;
  UnionRectInPlace(a, {0, 0, 0, 5});  // empty: adds nothing
  EXPECT_EQ(a, kEmptyRect);
  UnionRectInPlace(a, {2, 3, 4, 5});
  EXPECT_EQ(a, (TRect{2, 3, 4, 5}));
  UnionRectInPlace(a, {-1, 4, 3, 9});
  EXPECT_EQ(a, (TRect{-1, 3, 4, 9}));
  EXPECT_TRUE(RectInsideRect({0, 3, 4, 9}, a));
  EXPECT_FALSE(RectInsideRect({-2, 3, 4, 9}, a));
  MoveRect(a, 10, -3);
  EXPECT_EQ(a, (TRect{9, 0, 14, 6}));
  TRect far{2147483600, 0, 2147483647, 1};
  MoveRect(far, 100, 0);  // wraps, never undefined
  EXPECT_LT(far.Left, 0);
}

TEST(FloatPoints, Arithmetic) {
  TFloatPoint a = FloatPoint(1, 2), b = MakeFloatPoint(4, 6);
  EXPECT_EQ(SubFloatPoints(a, b), FloatPoint(3, 4));  // B - A
  EXPECT_EQ(SubFloatPoints3(FloatPoint3(1, 1, 1), FloatPoint3(0, 2, 4)), FloatPoint3(-1, 1, 3));
  EXPECT_EQ(AddFloatPoints(a, b), FloatPointOf(5, 8));
  EXPECT_EQ(SumFloatPoints(a, b), AddFloatPointsEx(a, b));
  EXPECT_FLOAT_EQ(FloatPointLength(SubFloatPoints(a, b)), 5);
  EXPECT_FLOAT_EQ(Distance3(FloatPoint3(0, 0, 0), FloatPoint3(2, 3, 6)), 7);
  EXPECT_EQ(DivideFloatPoint(b, 2), FloatPoint(2, 3));
  EXPECT_EQ(DivideFloatPoint(b, 1e-39f), b);  // not a usable divisor
  EXPECT_TRUE(IsUsableDivisor(2.95e-39));
  EXPECT_FALSE(IsUsableDivisor(-2.9411764705882355E-39));
  EXPECT_EQ(NormalizeMaxFloatPoint(FloatPoint(-4, 2)), FloatPoint(-1, 0.5f));
  EXPECT_EQ(NormalizeMaxFloatPoint(FloatPoint(0, 0)), FloatPoint(0, 0));
  TFloatPoint3 n = NormalizeFloatPoint3(FloatPoint3(0, 3, 4));
  EXPECT_FLOAT_EQ(n.Y, 0.6f);
  EXPECT_FLOAT_EQ(n.Z, 0.8f);
  EXPECT_EQ(NormalizeFloatPoint3(FloatPoint3(0, 0, 0)), FloatPoint3(0, 0, 0));
  EXPECT_EQ(RotateFloatPointMinus90(a), FloatPoint(2, -1));
  EXPECT_EQ(RotateFloatPointPlus90(a), FloatPoint(-2, 1));
  EXPECT_EQ(CrossFloatPoints3(FloatPoint3(1, 0, 0), FloatPoint3(0, 1, 0)), FloatPoint3(0, 0, 1));
  EXPECT_FLOAT_EQ(DotFloatPoints(a, b), 16);
  EXPECT_EQ(CombineFloatPoints(a, b, 2, -1), FloatPoint(-2, -2));
  EXPECT_EQ(CombineFloatPoints3Ex(FloatPoint3(1, 0, 0), FloatPoint3(0, 1, 0), 2, 3), FloatPoint3(2, 3, 0));
  EXPECT_EQ(FloatPointTo3Ex(a, 7), FloatPoint3(1, 2, 7));
  EXPECT_EQ(OffsetFloatPoint(a, 1, 1), FloatPoint(2, 3));
  EXPECT_EQ(ScaleFloatPoint3(FloatPoint3(1, 2, 3), 2), FloatPoint3(2, 4, 6));
  EXPECT_FLOAT_EQ(MinSingle(1, -1), -1);
  EXPECT_FLOAT_EQ(MaxSingle(1, -1), 1);
}

TEST(FloatBasis, MapsBothWaysAndRefusesParallelAxes) {
  TFloatBasis b;
  EXPECT_FALSE(MakeFloatBasis(b, FloatPoint(0, 0), FloatPoint(1, 2), FloatPoint(2, 4)));
  EXPECT_EQ(b.InvDet, 0);
  ASSERT_TRUE(MakeFloatBasis(b, FloatPoint(10, 20), FloatPoint(2, 1), FloatPoint(-1, 3)));
  TFloatPoint w = FloatBasisToWorld(b, FloatPoint(0.5f, -2));
  EXPECT_EQ(w, FloatPoint(10 + 1 + 2, 20 + 0.5f - 6));
  TFloatPoint l = FloatBasisToLocal(b, w);
  EXPECT_NEAR(l.X, 0.5f, 1e-5);
  EXPECT_NEAR(l.Y, -2, 1e-5);

  TFloatBasis3 b3, same;
  EXPECT_FALSE(MakeFloatBasis3(b3, FloatPoint3(0, 0, 0), FloatPoint3(1, 0, 0), FloatPoint3(0, 1, 0),
                               FloatPoint3(1, 1, 0)));
  ASSERT_TRUE(MakeFloatBasis3(b3, FloatPoint3(1, 2, 3), FloatPoint3(2, 0, 0), FloatPoint3(1, 1, 0),
                              FloatPoint3(0, 1, 4)));
  MakeFloatBasis3(same, FloatPoint3(1, 2, 3), FloatPoint3(2, 0, 0), FloatPoint3(1, 1, 0), FloatPoint3(0, 1, 4));
  EXPECT_TRUE(SameFloatBasis3(b3, same));
  TFloatPoint3 local = FloatPoint3(0.25f, -1, 2);
  TFloatPoint3 world = FloatBasis3ToWorld(b3, local);
  EXPECT_EQ(world, AddFloatPoints3(b3.Origin, FloatBasis3Direction(b3, local)));
  TFloatPoint3 back = FloatBasis3ToLocal(b3, world);
  EXPECT_NEAR(back.X, local.X, 1e-5);
  EXPECT_NEAR(back.Y, local.Y, 1e-5);
  EXPECT_NEAR(back.Z, local.Z, 1e-5);
}

TEST(RectList, AddBoundsOffsetAndPtIn) {
  TRectList l;
  EXPECT_EQ(l.GetBounds(), kEmptyRect);
  EXPECT_EQ(l.Add({5, 5, 5, 9}), -1);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(l.Add({i * 10, 0, i * 10 + 5, 5}), i);
  EXPECT_EQ(l.Items.size(), 8u);  // 4, then doubled
  EXPECT_EQ(l.GetBounds(), (TRect{0, 0, 45, 5}));
  EXPECT_TRUE(l.PtIn({0, 0}));
  EXPECT_TRUE(l.PtIn({4, 4}));
  EXPECT_FALSE(l.PtIn({5, 2}));  // right edge
  EXPECT_FALSE(l.PtIn({2, 5}));  // bottom edge
  l.Offset(1, 1);
  EXPECT_TRUE(l.PtIn({5, 5}));
  EXPECT_FALSE(l.PtIn({0, 0}));
  auto w = MakeRef<TRectListWrapper>(l);
  l.Clear();
  EXPECT_EQ(l.Count, 0);
  EXPECT_TRUE(l.Items.empty());
  EXPECT_EQ(w->List.Count, 5);
}

TEST(RectList, IncludeReplacesSplitsAndSkips) {
  TRectList l;
  l.Include({0, 0, 0, 0});
  EXPECT_EQ(l.Count, 0);
  l.Include({10, 10, 20, 20});
  l.Include({12, 12, 15, 15});  // inside: nothing added
  EXPECT_EQ(Entries(l), (std::vector<TRect>{{10, 10, 20, 20}}));
  l.Include({0, 0, 30, 30});  // covers the one entry: replaces it
  EXPECT_EQ(Entries(l), (std::vector<TRect>{{0, 0, 30, 30}}));

  // Over one corner: the band above and the part to the right, never the overlap.
  l.Clear();
  l.Include({0, 0, 10, 10});
  l.Include({5, -5, 15, 5});
  EXPECT_EQ(Entries(l), (std::vector<TRect>{{0, 0, 10, 10}, {5, -5, 15, 0}, {10, 0, 15, 5}}));

  // A rectangle through the middle of another: above, below, left, right in order.
  l.Clear();
  l.Add({10, 10, 20, 20});
  l.Add({100, 100, 101, 101});
  l.Include({0, 0, 30, 30});
  EXPECT_EQ(Entries(l), (std::vector<TRect>{{10, 10, 20, 20},
                                            {100, 100, 101, 101},
                                            {0, 0, 30, 10},
                                            {0, 20, 30, 30},
                                            {0, 10, 10, 20},
                                            {20, 10, 30, 20}}));
}

TEST(RectList, IncludeKeepsEntriesDisjointAndCoversTheUnion) {
  std::mt19937 rng(11);
  TRectList l;
  std::vector<TRect> added;
  for (int i = 0; i < 3000; ++i) {
    int x = static_cast<int>(rng() % 60), y = static_cast<int>(rng() % 60);
    TRect r{x, y, x + 1 + static_cast<int>(rng() % 15), y + 1 + static_cast<int>(rng() % 15)};
    added.push_back(r);
    l.Include(r);
  }
  for (int i = 0; i < l.Count; ++i)
    for (int j = i + 1; j < l.Count; ++j) ASSERT_FALSE(Overlap(l[i], l[j])) << i << " " << j;
  for (int y = -1; y < 80; ++y)
    for (int x = -1; x < 80; ++x) {
      bool covered = false;
      for (const TRect& r : added) covered = covered || (x >= r.Left && x < r.Right && y >= r.Top && y < r.Bottom);
      ASSERT_EQ(l.PtIn({x, y}), covered) << x << "," << y;
    }
  std::int64_t area = 0;
  for (int i = 0; i < l.Count; ++i) area += Area(l[i]);
  EXPECT_LE(area, 80 * 80);
}
