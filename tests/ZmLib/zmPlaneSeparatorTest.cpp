#include "ZmLib/zmPlaneSeparator.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <vector>

using namespace zm;

namespace {

using TPoly = std::vector<TSepVertex>;

// The value carried through the cuts: linear in x and y, so that every
// interpolated point must still lie on it.
float Lin(float x, float y) { return 3 * x - 2 * y + 10; }

TPoly WithValues(std::initializer_list<std::pair<float, float>> pts) {
  TPoly p;
  for (auto [x, y] : pts) p.push_back({x, y, Lin(x, y)});
  return p;
}

double SignedArea(const TSepVertex* v, std::int32_t n) {
  double a = 0;
  for (std::int32_t i = 0; i < n; ++i) {
    const TSepVertex& p = v[i];
    const TSepVertex& q = v[(i + 1) % n];
    a += double{p.x} * q.y - double{q.x} * p.y;
  }
  return a / 2;
}

bool Inside(const TSepVertex* v, std::int32_t n, double x, double y) {
  bool in = false;
  for (std::int32_t i = 0, j = n - 1; i < n; j = i++) {
    if ((v[i].y > y) != (v[j].y > y) &&
        x < v[j].x + (y - v[j].y) * (v[i].x - v[j].x) / (double{v[i].y} - v[j].y))
      in = !in;
  }
  return in;
}

bool Convex(const TSepVertex* v, std::int32_t n) {
  int sign = 0;
  for (std::int32_t i = 0; i < n; ++i) {
    const TSepVertex &a = v[i], &b = v[(i + 1) % n], &c = v[(i + 2) % n];
    double cr = (double{b.x} - a.x) * (double{c.y} - b.y) - (double{b.y} - a.y) * (double{c.x} - b.x);
    if (std::fabs(cr) < 1e-6) continue;
    int s = cr > 0 ? 1 : -1;
    if (sign && s != sign) return false;
    sign = s;
  }
  return true;
}

template <class F>
void ForEachPiece(const TSepBand& b, F f) {
  std::int32_t start = 0;
  for (std::int32_t p = 0; p < b.PolyCount; ++p) {
    f(b.Vertices.data() + start, b.PolyEnds[static_cast<std::size_t>(p)] - start);
    start = b.PolyEnds[static_cast<std::size_t>(p)];
  }
}

std::int32_t TotalVertices(const T2DSeparator& s) {
  std::int32_t n = 0;
  for (std::int32_t r = 0; r < s.RowCount(); ++r)
    for (std::int32_t c = 0; c < s.ColumnCount(); ++c) n += s.Cell(c, r).VertexCount;
  return n;
}

// Splits a polygon over the grid and checks that the cells cover it exactly
// once: pieces stay in their cells, keep the value, add up to its area (the
// clipped area when given), and every sample point inside the polygon lies in
// exactly one piece.
void CheckGridSplit(const TPoly& poly, bool convex, double clippedArea = -1) {
  const std::vector<float> cols = {-1.0f, 0.7f, 1.5f, 2.25f, 4.0f};
  const std::vector<float> rows = {-1.0f, 0.5f, 1.0f, 2.9f, 4.0f};
  auto s = MakeRef<T2DSeparator>(cols, 4, rows, 4);
  s->AddPolygon(poly);
  double area = 0;
  for (std::int32_t r = 0; r < 4; ++r)
    for (std::int32_t c = 0; c < 4; ++c) {
      const TSepBand& cell = s->Cell(c, r);
      ASSERT_LE(cell.PolyCount, 1);  // one piece per input polygon
      for (std::int32_t i = 0; i < cell.VertexCount; ++i) {
        const TSepVertex& v = cell.Vertices[static_cast<std::size_t>(i)];
        ASSERT_TRUE(v.x >= cols[c] && v.x <= cols[c + 1] && v.y >= rows[r] && v.y <= rows[r + 1])
            << "cell " << c << "," << r << " vertex " << v.x << "," << v.y;
        ASSERT_NEAR(v.value, Lin(v.x, v.y), 1e-3);
      }
      ForEachPiece(cell, [&](const TSepVertex* v, std::int32_t n) {
        area += SignedArea(v, n);
        if (convex) {
          EXPECT_TRUE(Convex(v, n)) << "cell " << c << "," << r;
        }
      });
    }
  EXPECT_NEAR(area, clippedArea >= 0 ? clippedArea : SignedArea(poly.data(), static_cast<std::int32_t>(poly.size())),
              1e-4);

  for (double y = -0.93; y < 4; y += 0.13)
    for (double x = -0.97; x < 4; x += 0.11) {
      int hits = 0;
      for (std::int32_t r = 0; r < 4; ++r)
        for (std::int32_t c = 0; c < 4; ++c)
          ForEachPiece(s->Cell(c, r), [&](const TSepVertex* v, std::int32_t n) { hits += Inside(v, n, x, y); });
      ASSERT_EQ(hits, Inside(poly.data(), static_cast<std::int32_t>(poly.size()), x, y) ? 1 : 0)
          << "at " << x << "," << y;
    }
}

}  // namespace

TEST(PlaneSeparator, ConvexAndConcavePolygonsCoverTheirCells) {
  // Convex: a slanted hexagon over most of the grid, then the reversed order.
  TPoly hex = WithValues({{0.1f, 0.2f}, {2.0f, -0.3f}, {3.6f, 1.0f}, {3.3f, 3.1f}, {1.2f, 3.7f}, {-0.6f, 2.0f}});
  CheckGridSplit(hex, true);
  CheckGridSplit(TPoly(hex.rbegin(), hex.rend()), true);
  // Concave: a U whose arms enter the same cells twice, and a star.
  CheckGridSplit(WithValues({{-0.5f, -0.5f}, {3.5f, -0.5f}, {3.5f, 3.5f}, {2.8f, 3.5f}, {2.8f, 0.8f},
                             {0.2f, 0.8f}, {0.2f, 3.5f}, {-0.5f, 3.5f}}),
                 false);
  TPoly star;
  for (int i = 0; i < 10; ++i) {
    float r = (i % 2) ? 0.8f : 2.3f;
    float a = static_cast<float>(i * 0.6283185307179586);
    float x = 1.6f + r * std::sin(a), y = 1.5f + r * std::cos(a);
    star.push_back({x, y, Lin(x, y)});
  }
  CheckGridSplit(star, false);
  // Partly outside the outermost cuts: clipped to the grid, whose corner
  // beyond x + y = 3.137 is cut off.
  const double leg = 8 - (double{6.137f} - 3);
  CheckGridSplit(WithValues({{-3.0f, -3.0f}, {6.137f, -3.0f}, {-3.0f, 6.137f}}), true, 25 - leg * leg / 2);
  // A circle of 200 vertices: the band arrays grow past their first size.
  TPoly circle;
  for (int i = 0; i < 200; ++i) {
    float a = static_cast<float>(i * 0.031415926535897934);
    float x = 1.5f + 2.0f * std::cos(a), y = 1.5f + 2.0f * std::sin(a);
    circle.push_back({x, y, Lin(x, y)});
  }
  CheckGridSplit(circle, true);
}

TEST(PlaneSeparator, TriangleInsideOneCellAndAccumulation) {
  const float cols[] = {0, 1, 2, 3};
  const float rows[] = {0, 1, 2};
  auto s = MakeRef<T2DSeparator>(cols, 3, rows, 2);
  TPoly tri = WithValues({{1.2f, 1.1f}, {1.8f, 1.3f}, {1.5f, 1.9f}});
  s->AddPolygon(tri.data(), 3);
  TSepBand cell = s->GetCell(1, 1);
  EXPECT_EQ(cell.Vertices, tri);
  ASSERT_EQ(cell.PolyEnds, std::vector<std::int32_t>{3});
  EXPECT_EQ(TotalVertices(*s), 3);

  // A second polygon lands after the first; Clear empties but keeps capacity.
  TPoly tri2 = WithValues({{1.1f, 1.8f}, {1.3f, 1.8f}, {1.2f, 1.6f}});
  s->AddPolygon(tri2);
  cell = s->GetCell(1, 1);
  EXPECT_EQ(cell.VertexCount, 6);
  EXPECT_EQ(cell.PolyEnds, (std::vector<std::int32_t>{3, 6}));
  const std::size_t capacity = s->Cell(1, 1).Vertices.size();
  s->Clear();
  EXPECT_EQ(TotalVertices(*s), 0);
  EXPECT_EQ(s->Cell(1, 1).PolyCount, 0);
  EXPECT_EQ(s->Cell(1, 1).Vertices.size(), capacity);
  s->AddPolygon(tri);
  EXPECT_EQ(s->GetCell(1, 1).Vertices, tri);

  EXPECT_THROW(s->GetCell(3, 0), EAbort);
  EXPECT_THROW(s->GetCell(0, -1), EAbort);
  EXPECT_THROW(s->Band(2), EAbort);
}

TEST(PlaneSeparator, VerticesOnCutsAndTheClosingEdge) {
  const float cuts[] = {0, 1, 2};
  auto s = MakeRef<TXSeparator>(cuts, 2);
  // The crossings come from B->C and from the closing edge D->A; A is not
  // repeated at the end.
  TPoly quad = {{1.5f, 0, 10}, {1.5f, 1, 20}, {0.5f, 1, 30}, {0.5f, 0, 40}};
  s->AddPolygon(quad);
  EXPECT_EQ(s->GetBand(1).Vertices,
            (TPoly{{1.5f, 0, 10}, {1.5f, 1, 20}, {1, 1, 25}, {1, 0, 25}}));
  EXPECT_EQ(s->GetBand(0).Vertices, (TPoly{{1, 1, 25}, {0.5f, 1, 30}, {0.5f, 0, 40}, {1, 0, 25}}));

  // A vertex on a cut goes to both bands; an edge on a cut leaves its two
  // points in the other band.
  s->Clear();
  s->AddPolygon(TPoly{{0.2f, 0, 0}, {1, 0.5f, 1}, {0.2f, 1, 2}});
  EXPECT_EQ(s->GetBand(0).VertexCount, 3);
  EXPECT_EQ(s->GetBand(1).Vertices, (TPoly{{1, 0.5f, 1}}));
  s->Clear();
  s->AddPolygon(TPoly{{0.5f, 0, 0}, {1, 0, 1}, {1, 1, 2}, {0.5f, 1, 3}});
  EXPECT_EQ(s->GetBand(0).VertexCount, 4);
  EXPECT_EQ(s->GetBand(1).Vertices, (TPoly{{1, 0, 1}, {1, 1, 2}}));
  // Starting on a cut and crossing two cuts in one edge.
  s->Clear();
  s->AddPolygon(TPoly{{0, 0, 0}, {2.5f, 0, 5}, {2.5f, 1, 5}, {-1, 1, -2}});
  EXPECT_EQ(s->GetBand(0).Vertices, (TPoly{{0, 0, 0}, {1, 0, 2}, {1, 1, 2}, {0, 1, 0}}));
  EXPECT_EQ(s->GetBand(1).Vertices.size(), 4u);
  EXPECT_EQ(s->GetBand(1).PolyCount, 1);
}

TEST(PlaneSeparator, DegenerateAndDamagedInput) {
  const float cuts[] = {0, 1, 2, 3};
  auto s = MakeRef<T2DSeparator>(cuts, 3, cuts, 3);
  // Empty input adds nothing.
  s->AddPolygon(nullptr, 5);
  TPoly none;
  s->AddPolygon(none);
  s->AddPolygon(TPoly{{1.5f, 1.5f, 0}}.data(), 0);
  s->AddPolygon(TPoly{{1.5f, 1.5f, 0}}.data(), -4);
  EXPECT_EQ(TotalVertices(*s), 0);

  // Collinear points across cuts: pieces without area, no failure.
  s->AddPolygon(TPoly{{-0.5f, -0.5f, 0}, {1.5f, 1.5f, 1}, {3.5f, 3.5f, 2}});
  double area = 0;
  for (std::int32_t r = 0; r < 3; ++r)
    for (std::int32_t c = 0; c < 3; ++c)
      ForEachPiece(s->Cell(c, r), [&](const TSepVertex* v, std::int32_t n) { area += SignedArea(v, n); });
  EXPECT_EQ(area, 0.0);
  EXPECT_GT(s->Cell(1, 1).VertexCount, 0);
  EXPECT_EQ(s->Cell(2, 0).VertexCount, 0);

  // Non-finite input is refused before any cell is touched.
  s->Clear();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  EXPECT_THROW(s->AddPolygon(TPoly{{0.5f, 0.5f, 0}, {nan, 1, 0}, {1, 2, 0}}), EAbort);
  EXPECT_THROW(s->AddPolygon(TPoly{{0.5f, 0.5f, 0}, {1, inf, 0}, {1, 2, 0}}), EAbort);
  EXPECT_THROW(s->AddPolygon(TPoly{{0.5f, 0.5f, 0}, {1, 1, nan}, {1, 2, 0}}), EAbort);
  EXPECT_EQ(TotalVertices(*s), 0);

  // Extreme finite coordinates (beyond the sentinels) are clipped, not
  // refused, and the interpolation stays finite.
  s->AddPolygon(TPoly{{-FLT_MAX, -FLT_MAX, 0}, {FLT_MAX, -FLT_MAX, 1}, {FLT_MAX, FLT_MAX, 2}, {-FLT_MAX, FLT_MAX, 1}});
  for (std::int32_t r = 0; r < 3; ++r)
    for (std::int32_t c = 0; c < 3; ++c) {
      TSepBand cell = s->GetCell(c, r);
      ASSERT_GE(cell.VertexCount, 4);
      for (const TSepVertex& v : cell.Vertices) ASSERT_TRUE(std::isfinite(v.x + v.y + v.value));
      ForEachPiece(cell, [&](const TSepVertex* v, std::int32_t n) { EXPECT_NEAR(SignedArea(v, n), 1.0, 1e-6); });
    }
}

TEST(PlaneSeparator, BadGridsAreRefusedWithoutHugeAllocation) {
  const float cuts[] = {0, 1, 2};
  EXPECT_THROW(MakeRef<TXSeparator>(cuts, 0), EAbort);
  EXPECT_THROW(MakeRef<TXSeparator>(cuts, -1), EAbort);
  EXPECT_THROW(MakeRef<TXSeparator>(cuts, 3), EAbort);  // fewer cuts than bands + 1
  EXPECT_THROW(MakeRef<TXSeparator>(cuts, std::numeric_limits<std::int32_t>::max()), EAbort);
  const float down[] = {0, 2, 1};
  EXPECT_THROW(MakeRef<TXSeparator>(down, 2), EAbort);
  const float nan[] = {0, std::numeric_limits<float>::quiet_NaN(), 2};
  EXPECT_THROW(MakeRef<TXSeparator>(nan, 2), EAbort);
  const float far[] = {0, FLT_MAX};
  EXPECT_THROW(MakeRef<TXSeparator>(far, 1), EAbort);
  EXPECT_THROW(MakeRef<T2DSeparator>(cuts, 2, cuts, 0), EAbort);

  // Many cuts per axis, but too many cells: refused before anything is made.
  std::vector<float> many(TXSeparator::kMaxBands + 2);
  for (std::size_t i = 0; i < many.size(); ++i) many[i] = static_cast<float>(i);
  EXPECT_THROW(MakeRef<TXSeparator>(many, TXSeparator::kMaxBands + 1), EAbort);
  EXPECT_THROW(MakeRef<T2DSeparator>(many, TXSeparator::kMaxBands, many, TXSeparator::kMaxBands), EAbort);
  // The largest band count works: a polygon over all of it stays linear in time.
  auto x = MakeRef<TXSeparator>(many, TXSeparator::kMaxBands);
  x->AddPolygon(TPoly{{-1, 0, 0}, {70000, 0, 0}, {70000, 1, 0}, {-1, 1, 0}});
  EXPECT_EQ(x->Band(0).VertexCount, 4);
  EXPECT_EQ(x->Band(TXSeparator::kMaxBands - 1).VertexCount, 4);

  // Equal cuts (an empty band) do not break the walk.
  const float twice[] = {0, 1, 1, 2};
  auto e = MakeRef<TXSeparator>(twice, 3);
  e->AddPolygon(TPoly{{0.5f, 0, 0}, {1.5f, 0, 0}, {1.5f, 1, 0}, {0.5f, 1, 0}});
  EXPECT_NEAR(SignedArea(e->Band(0).Vertices.data(), e->Band(0).VertexCount) +
                  SignedArea(e->Band(2).Vertices.data(), e->Band(2).VertexCount),
              1.0, 1e-6);
  EXPECT_EQ(SignedArea(e->Band(1).Vertices.data(), e->Band(1).VertexCount), 0.0);
}
