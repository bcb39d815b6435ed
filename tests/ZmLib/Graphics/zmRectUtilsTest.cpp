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
}

TEST(RectList, AddBoundsOffsetAndPtIn) {
  TRectList l;
  EXPECT_EQ(l.GetBounds(), kEmptyRect);
  EXPECT_EQ(l.Add({5, 5, 5, 9}), -1);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(l.Add({i * 10, 0, i * 10 + 5, 5}), i);
  EXPECT_EQ(l.GetBounds(), (TRect{0, 0, 45, 5}));
  EXPECT_TRUE(l.PtIn({4, 4}));
  EXPECT_FALSE(l.PtIn({5, 2}));  // right edge
  EXPECT_FALSE(l.PtIn({2, 5}));  // bottom edge
  l.Offset(1, 1);
  EXPECT_TRUE(l.PtIn({5, 5}));
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
  EXPECT_EQ(Entries(l), (std::vector<TRect>{{10, 10, 20, 20}, {100, 100, 101, 101}, {0, 0, 30, 10}, {0, 20, 30, 30},
                                            {0, 10, 10, 20}, {20, 10, 30, 20}}));
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
