#include "ZmLib/VectorGraphics/zmRasterizer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <random>

#include "tests/ZmLib/Graphics/GraphicsTestUtil.h"

using namespace zm;

namespace {

// The coverage a rasteriser hands out, as a grid, with checks on how the
// spans arrive.
struct TCoverage {
  std::int32_t W, H;
  std::vector<std::int32_t> Cells;
  std::int32_t LastRow = -1;
  std::int32_t Spans = 0;
  bool Ok = true;

  TCoverage(std::int32_t w, std::int32_t h) : W(w), H(h), Cells(std::size_t(std::max(w, 0)) * std::size_t(std::max(h, 0)), 0) {}

  std::int32_t& At(std::int32_t x, std::int32_t y) { return Cells[std::size_t(y) * std::size_t(W) + std::size_t(x)]; }
  std::int64_t Sum() const { return std::accumulate(Cells.begin(), Cells.end(), std::int64_t(0)); }

  TSpanEvent Handler() {
    return [this](std::int32_t row, const std::uint16_t* cov, std::int32_t first, std::int32_t last) {
      ++Spans;
      // Rows arrive in increasing order, each run inside the area, all cells 1..256.
      if (row < LastRow || row < 0 || row >= H || first < 0 || last >= W || first > last) {
        Ok = false;
        return;
      }
      LastRow = row;
      for (std::int32_t c = first; c <= last; ++c) {
        if (cov[c] < 1 || cov[c] > 256) Ok = false;
        At(c, row) += cov[c];
      }
    };
  }
};

TRef<TOutline> Polygon(std::initializer_list<TFloatPoint> pts) {
  TRef<TOutline> o = MakeRef<TOutline>();
  o->MoveTo(*pts.begin());
  for (auto p = pts.begin() + 1; p != pts.end(); ++p) o->AddPoint(*p);
  return o;
}

void AddSquare(TOutline& o, float l, float t, float r, float b, bool clockwise) {
  o.MoveTo({l, t});
  const TFloatPoint rest[2][3] = {{{l, b}, {r, b}, {r, t}}, {{r, t}, {r, b}, {l, b}}};
  for (const TFloatPoint& p : rest[clockwise ? 1 : 0]) o.AddPoint(p);
}

TCoverage Rasterize(TOutline& o, std::int32_t w, std::int32_t h) {
  TCoverage c(w, h);
  o.OnSpan = c.Handler();
  MakeRef<TRasterizer>()->Rasterize(&o, w, h);
  EXPECT_TRUE(c.Ok);
  return c;
}

}  // namespace

TEST(Outline, MisuseAndDegenerateContours) {
  TRef<TOutline> o = MakeRef<TOutline>();
  EXPECT_TRUE(zmtest::Contains(zmtest::AssertionOf([&] { o->AddPoint({1, 1}); }),
                               "TOutline.AddPoint Error: No Start Point or Closed Outline"));
  o->MoveTo({0, 0});
  o->AddPoint({5, 0});
  o->AddPoint({9, 0});  // only horizontal moves: no edges
  o->Finish();
  EXPECT_EQ(o->EdgeCount(), 0);
  EXPECT_THROW(o->AddPoint({1, 1}), EAbort);  // closed by Finish
}

TEST(Rasterizer, WholeAndPartialPixels) {
  TRef<TOutline> o = MakeRef<TOutline>();
  AddSquare(*o, 2, 3, 12, 13, true);
  TCoverage c = Rasterize(*o, 20, 20);
  for (std::int32_t y = 0; y < 20; ++y)
    for (std::int32_t x = 0; x < 20; ++x)
      EXPECT_EQ(c.At(x, y), x >= 2 && x < 12 && y >= 3 && y < 13 ? 256 : 0) << x << "," << y;
  EXPECT_EQ(c.Spans, 10);  // one run per row
  TRef<TOutline> half = MakeRef<TOutline>();
  AddSquare(*half, 0.5f, 0.5f, 2.5f, 2.5f, false);
  TCoverage h = Rasterize(*half, 4, 4);
  const std::int32_t expected[3][3] = {{64, 128, 64}, {128, 256, 128}, {64, 128, 64}};
  for (std::int32_t y = 0; y < 4; ++y)
    for (std::int32_t x = 0; x < 4; ++x) EXPECT_EQ(h.At(x, y), (x < 3 && y < 3) ? expected[y][x] : 0) << x << "," << y;
  // A triangle: the coverage sums to its area within the sampling error.
  TRef<TOutline> tri = Polygon({{1.3f, 2.1f}, {37.7f, 5.9f}, {12.2f, 29.4f}});
  const double triArea = 0.5 * std::fabs((37.7 - 1.3) * (29.4 - 2.1) - (12.2 - 1.3) * (5.9 - 2.1));
  EXPECT_NEAR(double(Rasterize(*tri, 40, 40).Sum()) / 256, triArea, 1.0);
}

TEST(Rasterizer, FillRules) {
  for (bool evenOdd : {false, true}) {
    // Two overlapping squares drawn the same way round.
    TRef<TOutline> o = MakeRef<TOutline>();
    o->FillEvenOdd = evenOdd;
    AddSquare(*o, 0, 0, 6, 6, true);
    AddSquare(*o, 3, 3, 9, 9, true);
    TCoverage c = Rasterize(*o, 10, 10);
    EXPECT_EQ(c.At(7, 7), 256);
    EXPECT_EQ(c.At(4, 4), evenOdd ? 0 : 256) << "overlap, evenOdd=" << evenOdd;
    // A clockwise square inside an anticlockwise one is a hole under both rules.
    TRef<TOutline> ring = MakeRef<TOutline>();
    ring->FillEvenOdd = evenOdd;
    AddSquare(*ring, 0, 0, 9, 9, false);
    AddSquare(*ring, 3, 3, 6, 6, true);
    TCoverage r = Rasterize(*ring, 10, 10);
    EXPECT_EQ(r.At(4, 4), 0) << "hole, evenOdd=" << evenOdd;
    EXPECT_EQ(r.Sum(), (81 - 9) * 256);
  }
  // A bow tie: two triangles meeting in the middle.
  TCoverage bow = Rasterize(*Polygon({{0, 0}, {20, 20}, {20, 0}, {0, 20}}), 20, 20);
  EXPECT_EQ(bow.At(10, 1), 0);
  EXPECT_NEAR(double(bow.Sum()) / 256, 200, 1.0);
}

TEST(Rasterizer, ClipsToTheAreaAndSkipsWhatIsNotThere) {
  // Partly left of column 0, above row 0, and beyond the width and height.
  TRef<TOutline> o = MakeRef<TOutline>();
  AddSquare(*o, -5.5f, -3.25f, 14, 12, true);
  EXPECT_EQ(Rasterize(*o, 8, 6).Sum(), 8 * 6 * 256);
  TRef<TOutline> away = MakeRef<TOutline>();
  AddSquare(*away, 20, 20, 30, 30, true);
  EXPECT_EQ(Rasterize(*away, 8, 6).Spans, 0);
  TRef<TRasterizer> r = MakeRef<TRasterizer>();
  r->Rasterize(nullptr, 10, 10);
  EXPECT_EQ(Rasterize(*Polygon({{0, 2}, {10, 2}, {5, 2}}), 10, 10).Spans, 0);
  TRef<TOutline> quiet = MakeRef<TOutline>();
  AddSquare(*quiet, 0, 0, 5, 5, true);
  r->Rasterize(quiet.get(), 10, 10);  // no handler
  EXPECT_EQ(Rasterize(*quiet, 0, 10).Spans, 0);
  EXPECT_EQ(Rasterize(*quiet, 10, -1).Spans, 0);
}

TEST(Rasterizer, HugeCoordinatesAndAreasStayCheap) {
  // Points at the extremes: edges span more than 2^31 sixteenths.
  TRef<TOutline> o = Polygon({{-1e12f, -1e12f}, {1e12f, -1e12f}, {1e12f, 1e12f}, {-1e12f, 1e12f}});
  TCoverage c = Rasterize(*o, 16, 16);
  EXPECT_EQ(c.Sum(), 16 * 16 * 256);
  // An enormous width with a small shape allocates only what the shape needs.
  TRef<TOutline> small = MakeRef<TOutline>();
  AddSquare(*small, 1, 1, 3, 3, true);
  std::int64_t sum = 0;
  small->OnSpan = [&](std::int32_t, const std::uint16_t* cov, std::int32_t f, std::int32_t l) {
    for (std::int32_t i = f; i <= l; ++i) sum += cov[i];
  };
  MakeRef<TRasterizer>()->Rasterize(small.get(), 2147483647, 2147483647);
  EXPECT_EQ(sum, 4 * 256);
  // Not-a-number points count as 0 and do no harm.
  TRef<TOutline> nan = Polygon({{std::nanf(""), 5}, {10, std::nanf("")}, {10, 10}});
  Rasterize(*nan, 16, 16);
}

TEST(Rasterizer, RandomPolygonsKeepTheSpanContract) {
  std::mt19937 rng(12345);
  std::uniform_real_distribution<float> coord(-20, 60);
  TRef<TRasterizer> r = MakeRef<TRasterizer>();
  for (int round = 0; round < 200; ++round) {
    TRef<TOutline> o = MakeRef<TOutline>();
    o->FillEvenOdd = round % 2 == 1;
    const int n = 3 + int(rng() % 12);
    for (int i = 0; i < n; ++i) {
      if (i > 0 && rng() % 7 == 0) o->MoveTo({coord(rng), coord(rng)});
      else if (i == 0) o->MoveTo({coord(rng), coord(rng)});
      else o->AddPoint({coord(rng), coord(rng)});
    }
    TCoverage c(40, 40);
    o->OnSpan = c.Handler();
    r->Rasterize(o.get(), 40, 40);  // the same rasteriser reused
    EXPECT_TRUE(c.Ok) << "round " << round;
    for (std::int32_t v : c.Cells) EXPECT_LE(v, 256);
  }
}

TEST(Rasterizer, AShapeMetAgainMovedByWholePixelsHasTheSameRuns) {
  // A self-crossing star with fractional corners, as a glyph drawn twice.
  const auto star = [](float dx, float dy, bool evenOdd) {
    TRef<TOutline> o = Polygon({{dx + 0.3f, dy + 7.6f}, {dx + 12.7f, dy + 7.6f}, {dx + 2.4f, dy + 14.9f},
                                {dx + 6.5f, dy + 0.2f}, {dx + 10.6f, dy + 14.9f}});
    o->FillEvenOdd = evenOdd;
    return o;
  };
  const std::uint64_t hits = TRasterizer::CoverageCacheHits();
  TCoverage first = Rasterize(*star(2.25f, 1.5f, false), 40, 40);
  TCoverage again = Rasterize(*star(2.25f + 19, 1.5f + 23, false), 40, 40);
  EXPECT_EQ(TRasterizer::CoverageCacheHits(), hits + 1);
  EXPECT_EQ(again.Spans, first.Spans);
  for (std::int32_t y = 0; y < 17; ++y)
    for (std::int32_t x = 0; x < 21; ++x) ASSERT_EQ(again.At(x + 19, y + 23), first.At(x, y)) << x << "," << y;
  // Another rule, a part of a pixel moved, or a side cut by the area: scanned afresh.
  TCoverage evenOdd = Rasterize(*star(2.25f, 1.5f, true), 40, 40);
  EXPECT_LT(evenOdd.Sum(), first.Sum());
  Rasterize(*star(2.5f, 1.5f, false), 40, 40);
  TCoverage cut = Rasterize(*star(30.25f, 1.5f, false), 40, 40);
  EXPECT_EQ(TRasterizer::CoverageCacheHits(), hits + 1);
  std::int64_t kept = 0;
  for (std::int32_t y = 0; y < 17; ++y)
    for (std::int32_t x = 0; x < 10; ++x) kept += first.At(x + 2, y);
  EXPECT_EQ(cut.Sum(), kept);
}

TEST(SkipChars, FindsTheFirstCharacterOutsideTheSet) {
  EXPECT_EQ(SkipCharsInSet(u"  \tx", u" \t", 1), 4);
  EXPECT_EQ(SkipCharsInSet(u"   ", u" ", 1), 4);
  EXPECT_EQ(SkipCharsInSet(u" a", u" ", -5), 2);
}
