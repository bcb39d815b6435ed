// The shape transitions: the coverage their triangles give each pixel at
// points of the transition, against the ideal soft-edged shape, directly,
// split over a controller's grid and as frames of the drawer on the software
// device; the bands of the soft edge; the radius at which each shape is
// complete; bad input.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "OruLib2/3DEngine/FilterFactory.h"
#include "OruLib2/3DEngine/OruFilter.h"
#include "OruLib2/3DEngine/ShapeFilters.h"
#include "tests/support/DrawerOnDevice.h"

namespace shapefilterstest {

using namespace oru;
using zm::MakeRef;
using zm::TRef;

// Records the triangles of one batch.
class TRecordingTile : public TEffTile {
public:
  TRecordingTile() : TEffTile(nullptr, {}, {}) {}
  TRecordingTile(TEffController* controller, const zm::TRect& rect, const zm::TPoint& cell)
      : TEffTile(controller, rect, cell) {}
  void Begin(std::int32_t mode, bool shaded) override {
    EXPECT_FALSE(open);
    EXPECT_EQ(mode, emTextured);
    EXPECT_FALSE(shaded);
    open = true;
    ++batches;
  }
  void AddTriangle(const TEffTriangle& v) override {
    EXPECT_TRUE(open);
    for (const TEffVertex& p : v) {
      EXPECT_TRUE(std::isfinite(p.X) && std::isfinite(p.Y)) << p.X << "," << p.Y;
      EXPECT_TRUE(p.C >= 0.0f && p.C <= 255.0f) << p.C;
    }
    tris.push_back(v);
  }
  void AddColoredTriangle(const TEffTriangle&, const TEffColors&) override { ADD_FAILURE(); }
  void AddShadedTextureTriangle(const TEffTriangle&, const TEffPoints2&) override { ADD_FAILURE(); }
  void AddColoredPoints(const TEffPoints2&, const TEffColors&) override { ADD_FAILURE(); }
  void AddShadedTriangle(const TEffTriangle&, const TEffPoints3&) override { ADD_FAILURE(); }
  void End() override {
    EXPECT_TRUE(open);
    open = false;
  }

  // The coverage the triangles give point (x, y): the largest of those that
  // hold it, -1 where none does.
  double CoverageAt(double x, double y) const {
    double best = -1;
    for (const TEffTriangle& t : tris) {
      const double x0 = t[0].X, y0 = t[0].Y, x1 = t[1].X, y1 = t[1].Y, x2 = t[2].X, y2 = t[2].Y;
      const double det = (x1 - x0) * (y2 - y0) - (x2 - x0) * (y1 - y0);
      if (std::fabs(det) < 1e-9) continue;
      const double a = ((x1 - x) * (y2 - y) - (x2 - x) * (y1 - y)) / det;
      const double b = ((x2 - x) * (y0 - y) - (x0 - x) * (y2 - y)) / det;
      const double c = 1 - a - b;
      const double eps = 1e-6;
      if (a < -eps || b < -eps || c < -eps) continue;
      best = std::max(best, a * t[0].C + b * t[1].C + c * t[2].C);
    }
    return best;
  }

  std::vector<TEffTriangle> tris;
  bool open = false;
  int batches = 0;
};

constexpr zm::TRect kArea{10, 20, 74, 68};          // 64 x 48
constexpr zm::TRect kTarget{100, 50, 228, 146};     // twice the size elsewhere
constexpr float kEdge = 30;                         // bands over 2 pixels: none merged

// The ideal coverage at a distance M of the shape's metric, for the outer
// edge at A: 255 inside, 0 outside, eased in between.
double Ideal(double m, double a, double edge) {
  const double b = a - edge;
  if (m <= b) return 255;
  if (m >= a) return 0;
  return 255 - EaseByte(float((m - b) / edge * 255));
}

struct TShapeCase {
  std::string name;
  std::function<TRef<TCommonFilter>()> make;
  float maxRadius;  // worked out by hand for kArea and kEdge
  // The shape's distance of slide point (x, y) from the shape at radius 0.
  std::function<double(double x, double y)> metric;
};

// Coordinates relative to the area: 0..64, 0..48.
double Rx(double x) { return x - kArea.Left; }
double Ry(double y) { return y - kArea.Top; }

std::vector<TShapeCase> Cases() {
  const double w = 64, h = 48;
  std::vector<TShapeCase> c;
  c.push_back({"circle centred", [] { return TRef<TCommonFilter>(MakeRef<TCircleFilter>(0.5f, 0.5f, false)); },
               40 + kEdge, [](double x, double y) { return std::hypot(Rx(x) - 32, Ry(y) - 24); }});
  // Centre at 150 % across: starts at the right edge, 32 pixels away.
  c.push_back({"circle outside", [] { return TRef<TCommonFilter>(MakeRef<TCircleFilter>(1.5f, 0.5f, false)); },
               float(std::hypot(96.0, 24.0) - 32 + kEdge),
               [](double x, double y) { return std::hypot(Rx(x) - 96, Ry(y) - 24) - 32; }});
  c.push_back({"circle corner", [] { return TRef<TCommonFilter>(MakeRef<TCircleFilter>(-0.25f, 1.25f, false)); },
               float(std::hypot(80.0, 60.0) - std::hypot(16.0, 12.0) + kEdge),
               [](double x, double y) { return std::hypot(Rx(x) + 16, Ry(y) - 60) - 20; }});
  c.push_back({"rhomb centred", [] { return TRef<TCommonFilter>(MakeRef<TRhombFilter>(0.5f, 0.5f)); },
               32 + 24 + kEdge, [](double x, double y) { return std::fabs(Rx(x) - 32) + std::fabs(Ry(y) - 24); }});
  c.push_back({"rhomb outside", [] { return TRef<TCommonFilter>(MakeRef<TRhombFilter>(1.5f, -0.5f)); },
               96 + 72 - 56 + kEdge,
               [](double x, double y) { return std::fabs(Rx(x) - 96) + std::fabs(Ry(y) + 24) - 56; }});
  c.push_back({"square centred", [] { return TRef<TCommonFilter>(MakeRef<TSquareFilter>(0.5f, 0.5f)); }, 32 + kEdge,
               [=](double x, double y) { return std::max(std::fabs(Rx(x) - 32), std::fabs(Ry(y) - 24) * w / h); }});
  c.push_back({"square off centre", [] { return TRef<TCommonFilter>(MakeRef<TSquareFilter>(0.25f, 0.5f)); },
               48 + kEdge,
               [=](double x, double y) { return std::max(std::fabs(Rx(x) - 16), std::fabs(Ry(y) - 24) * w / h); }});
  c.push_back({"square outside", [] { return TRef<TCommonFilter>(MakeRef<TSquareFilter>(0.5f, 2.0f)); }, 64 + kEdge,
               [=](double x, double y) {
                 return std::max(std::fabs(Rx(x) - 32), std::fabs(Ry(y) - 96) * w / h) - 48 * w / h;
               }});
  c.push_back({"hlines centred", [] { return TRef<TCommonFilter>(MakeRef<THLines>(0.5f, 0.5f)); }, 32 + kEdge,
               [](double x, double) { return std::fabs(Rx(x) - 32); }});
  c.push_back({"hlines from the right", [] { return TRef<TCommonFilter>(MakeRef<THLines>(1.0f, 0.0f)); },
               64 + kEdge, [](double x, double) { return 64 - Rx(x); }});
  c.push_back({"vlines centred", [] { return TRef<TCommonFilter>(MakeRef<TVLines>(0.5f, 0.5f)); }, 24 + kEdge,
               [](double, double y) { return std::fabs(Ry(y) - 24); }});
  c.push_back({"vlines from the top", [] { return TRef<TCommonFilter>(MakeRef<TVLines>(0.0f, 0.0f)); }, 48 + kEdge,
               [](double, double y) { return Ry(y); }});
  // Diagonals: s runs 0..112 from the top-left corner, u from the bottom-left.
  c.push_back({"diagonal from top-left", [] { return TRef<TCommonFilter>(MakeRef<TDiagLines>(10, 1)); },
               112 + kEdge, [](double x, double y) { return Rx(x) + Ry(y); }});
  c.push_back({"diagonal from bottom-right", [] { return TRef<TCommonFilter>(MakeRef<TDiagLines>(10, 2)); },
               112 + kEdge, [](double x, double y) { return 112 - (Rx(x) + Ry(y)); }});
  c.push_back({"diagonal from bottom-left", [] { return TRef<TCommonFilter>(MakeRef<TDiagLines>(10, 3)); },
               112 + kEdge, [](double x, double y) { return Rx(x) + 48 - Ry(y); }});
  c.push_back({"diagonal from top-right", [] { return TRef<TCommonFilter>(MakeRef<TDiagLines>(10, 4)); },
               112 + kEdge, [](double x, double y) { return 112 - (Rx(x) + 48 - Ry(y)); }});
  c.push_back({"diagonal opening", [] { return TRef<TCommonFilter>(MakeRef<TDiagLines>(8, 2)); }, 56 + kEdge,
               [](double x, double y) { return std::fabs(Rx(x) + Ry(y) - 56); }});
  c.push_back({"other diagonal opening", [] { return TRef<TCommonFilter>(MakeRef<TDiagLines>(8, 4)); }, 56 + kEdge,
               [](double x, double y) { return std::fabs(Rx(x) + 48 - Ry(y) - 56); }});
  return c;
}

// Draws F at progress P (of 1) into a new recording tile.
TRef<TRecordingTile> DrawAt(TCommonFilter& f, float p) {
  f.SetProgress(p);
  TRef<TRecordingTile> tile = MakeRef<TRecordingTile>();
  f.DrawInto(tile.get());
  EXPECT_LE(tile->batches, 1);
  EXPECT_FALSE(tile->open);
  return tile;
}

// The coverage of the slide pixel (x, y) of kArea: its centre mapped to kTarget.
double PixelCoverage(const TRecordingTile& tile, int x, int y) {
  const double sx = kTarget.Left + (x + 0.5 - kArea.Left) * 2, sy = kTarget.Top + (y + 0.5 - kArea.Top) * 2;
  return std::max(0.0, tile.CoverageAt(sx, sy));
}

TEST(ShapeFilters, EachShapeFollowsItsIdealSoftEdgeFromFirstToSecondSlide) {
  for (const TShapeCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    TRef<TCommonFilter> f = c.make();
    f->Reverse = false;
    f->Init(kArea, kEdge, 1);
    f->TargetRect = kTarget;
    EXPECT_NEAR(f->MaxRadius, c.maxRadius, 1e-3);
    // Nothing at the start: exactly the first slide.
    EXPECT_TRUE(DrawAt(*f, 0)->tris.empty());
    for (const float p : {0.25f, 0.5f, 0.75f, 1.0f}) {
      SCOPED_TRACE(p);
      TRef<TRecordingTile> tile = DrawAt(*f, p);
      const double a = p * c.maxRadius;
      int bad = 0;
      for (int y = kArea.Top; y < kArea.Bottom; ++y)
        for (int x = kArea.Left; x < kArea.Right; ++x) {
          const double got = PixelCoverage(*tile, x, y);
          const double want = Ideal(c.metric(x + 0.5, y + 0.5), a, kEdge);
          // At the end every pixel is the second slide exactly.
          const double tolerance = p == 1.0f ? 1e-3 : 3.0;
          if (std::fabs(got - want) > tolerance && ++bad <= 3)
            ADD_FAILURE() << "pixel " << x << "," << y << ": " << got << " instead of " << want;
        }
      EXPECT_EQ(bad, 0);
    }
  }
}

TEST(ShapeFilters, ReverseRunsTheSamePicturesBackwards) {
  for (const TShapeCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    TRef<TCommonFilter> forward = c.make(), backward = c.make();
    forward->Reverse = false;
    backward->Reverse = true;
    for (TCommonFilter* f : {forward.get(), backward.get()}) {
      f->Init(kArea, kEdge, 2);
      f->TargetRect = kTarget;
    }
    // Reversed, the start shows the shape all over the area and the end nothing.
    EXPECT_TRUE(DrawAt(*backward, 2)->tris.empty());
    for (const float p : {0.0f, 0.5f, 1.5f}) {
      TRef<TRecordingTile> a = DrawAt(*forward, 2 - p), b = DrawAt(*backward, p);
      for (int y = kArea.Top; y < kArea.Bottom; y += 3)
        for (int x = kArea.Left; x < kArea.Right; x += 3)
          ASSERT_NEAR(PixelCoverage(*a, x, y), PixelCoverage(*b, x, y), 1e-3) << p << " at " << x << "," << y;
    }
  }
}

// Records the bands instead of drawing them.
class TBandRecorder : public TCircleFilter {
public:
  struct TBand {
    int index;
    float outerC, innerC, outerR, innerR;
  };
  TBandRecorder() : TCircleFilter(0.5f, 0.5f, false) {}
  void DrawBand(int index, float outerC, float innerC, float outerR, float innerR) override {
    bands.push_back({index, outerC, innerC, outerR, innerR});
  }
  std::vector<TBand> bands;
};

TEST(ShapeFilters, SoftBandsJoinUpAndThinOnesAreMerged) {
  TRef<TBandRecorder> f = MakeRef<TBandRecorder>();
  f->Init({0, 0, 400, 300}, 20, 1);
  ASSERT_NEAR(f->MaxRadius, 270, 1e-3);
  // Edge widths giving bands of 2 px and more, about 1 px, a fraction of a
  // pixel; outer radii that put the inner one above 0, at 0 and below.
  for (const float edge : {60.0f, 28.0f, 10.5f, 3.0f, 0.5f})
    for (const float a : {200.0f, edge, edge * 0.3f, 1.0f}) {
      SCOPED_TRACE(std::to_string(edge) + " / " + std::to_string(a));
      f->bands.clear();
      f->DrawRings(a, a - edge);
      const float b = a - edge;
      std::size_t first = 0;
      if (b > 0) {
        ASSERT_FALSE(f->bands.empty());
        const auto& core = f->bands[0];
        EXPECT_EQ(core.index, -1);
        EXPECT_EQ(core.outerR, b);
        EXPECT_EQ(core.innerR, 0);
        EXPECT_EQ(core.outerC, 255);
        EXPECT_EQ(core.innerC, 255);
        first = 1;
      }
      ASSERT_GT(f->bands.size(), first);
      // The soft bands run without gaps from the core (or the centre) to A,
      // coverage from full (or the ramp's value at the centre) down to 0.
      float prevR = std::max(b, 0.0f);
      float prevC = b >= 0 ? 255.0f : 255.0f - EaseByte(-b / edge * 255.0f);
      for (std::size_t i = first; i < f->bands.size(); ++i) {
        const auto& band = f->bands[i];
        EXPECT_EQ(band.index, int(i - first));
        EXPECT_FLOAT_EQ(band.innerR, prevR);
        EXPECT_NEAR(band.innerC, prevC, 1e-3);
        if (i + 1 < f->bands.size()) {
          EXPECT_GE(band.outerR - band.innerR, 2.0f) << i;
        }
        // Each band ends on a step of the ease table.
        const long step = std::lround((band.outerR - b) / edge * kEaseBands);
        ASSERT_TRUE(step >= 1 && step <= kEaseBands) << step;
        EXPECT_NEAR(band.outerR, b + EaseTable()[std::size_t(step)].X * edge / 255, 1e-3) << i;
        EXPECT_NEAR(band.outerC, 255 - EaseTable()[std::size_t(step)].Y, 1e-3) << i;
        prevR = band.outerR;
        prevC = band.outerC;
      }
      EXPECT_NEAR(prevR, a, 1e-3);
      EXPECT_NEAR(prevC, 0, 1e-3);
      // Fourteen bands at most, fewer when thin ones merge.
      EXPECT_LE(f->bands.size() - first, 14u);
      if (edge == 60.0f && a == 200.0f) {
        EXPECT_EQ(f->bands.size() - first, 14u);
      }
      // 0.75-pixel steps: bands end at steps 3, 6, 9, 12 and 14.
      if (edge == 10.5f && a == 200.0f) {
        EXPECT_EQ(f->bands.size() - first, 5u);
      }
    }
  // Nothing at all for an outer radius of 0, below, or not a number.
  for (const float a : {0.0f, -5.0f, NAN}) {
    f->bands.clear();
    f->DrawRings(a, a - 10);
    EXPECT_TRUE(f->bands.empty());
  }
  // Bands starting beyond the complete radius are left out.
  f->bands.clear();
  f->DrawRings(f->MaxRadius + 100, f->MaxRadius - 20);
  ASSERT_FALSE(f->bands.empty());
  for (const auto& band : f->bands) EXPECT_LT(band.innerR, f->MaxRadius);
}

TEST(ShapeFilters, NoSoftEdgeDrawsAHardShapeWithoutDividingByZero) {
  TRef<TBandRecorder> rec = MakeRef<TBandRecorder>();
  rec->Init(kArea, 0, 1);
  rec->SetProgress(0.5f);
  rec->DrawRings(20, 20);
  // The core and one band of no width.
  ASSERT_EQ(rec->bands.size(), 2u);
  EXPECT_EQ(rec->bands[0].index, -1);
  EXPECT_EQ(rec->bands[1].outerR, rec->bands[1].innerR);
  // A negative or NaN softness counts as none too.
  for (const float edge : {0.0f, -3.0f, NAN})
    for (const TShapeCase& c : Cases()) {
      SCOPED_TRACE(c.name + " " + std::to_string(edge));
      TRef<TCommonFilter> f = c.make();
      f->Reverse = false;
      f->Init(kArea, edge, 1);
      f->TargetRect = kTarget;
      const double max = c.maxRadius - kEdge;
      EXPECT_NEAR(f->MaxRadius, max, 1e-3);
      TRef<TRecordingTile> tile = DrawAt(*f, 0.5f);
      for (int y = kArea.Top; y < kArea.Bottom; y += 2)
        for (int x = kArea.Left; x < kArea.Right; x += 2) {
          const double m = c.metric(x + 0.5, y + 0.5), got = PixelCoverage(*tile, x, y);
          if (m < max * 0.5 - 0.5) {
            ASSERT_NEAR(got, 255, 1e-3) << x << "," << y;
          } else if (m > max * 0.5 + 0.5) {
            ASSERT_EQ(got, 0) << x << "," << y;
          }
        }
    }
}

TEST(ShapeFilters, CircleFromOutsideUsesTheFinerPolygon) {
  TRef<TCircleFilter> inside = MakeRef<TCircleFilter>(0.5f, 0.5f, false);
  TRef<TCircleFilter> outside = MakeRef<TCircleFilter>(1.5f, 0.5f, false);
  for (TCircleFilter* f : {inside.get(), outside.get()}) {
    f->Init(kArea, 0, 1);
    f->TargetRect = kTarget;
  }
  EXPECT_EQ(inside->Segments, 128);
  EXPECT_EQ(inside->NearDist, 0);
  EXPECT_EQ(outside->Segments, 256);
  EXPECT_EQ(outside->NearDist, 32);
  // Hard edges: the core and a band of no width. The core's inner edge is
  // the centre (one triangle a segment) unless the centre is outside.
  EXPECT_EQ(DrawAt(*inside, 0.5f)->tris.size(), 128u + 2 * 128u);
  EXPECT_EQ(DrawAt(*outside, 0.5f)->tris.size(), 2 * 256u + 2 * 256u);
  // Just after the start the circle from outside shows at the right edge only.
  TRef<TRecordingTile> early = DrawAt(*outside, 0.05f);
  EXPECT_NEAR(PixelCoverage(*early, kArea.Right - 1, 44), 255, 1e-3);
  EXPECT_EQ(PixelCoverage(*early, kArea.Right - 6, 44), 0);
  EXPECT_EQ(PixelCoverage(*early, kArea.Right - 1, kArea.Top), 0);
  // At the end the polygon holds the area's very corners, which lie on the
  // circle, also for a centre so far away that the area spans less than a
  // segment.
  TRef<TCircleFilter> far = MakeRef<TCircleFilter>(-100.0f, 2.13f, false);
  for (TCircleFilter* f : {inside.get(), outside.get(), far.get()}) {
    f->Init(kArea, 0, 1);
    f->TargetRect = kArea;
    TRef<TRecordingTile> end = DrawAt(*f, 1);
    for (const int x : {kArea.Left, kArea.Right})
      for (const int y : {kArea.Top, kArea.Bottom}) EXPECT_NEAR(end->CoverageAt(x, y), 255, 1e-3) << x << "," << y;
  }
}

TEST(ShapeFilters, DiagonalGroupsAndOddSizes) {
  struct TDiagCase {
    int group, direction;
    std::uint8_t mode;
    bool swap, reverse;
  };
  for (const TDiagCase& d : {TDiagCase{8, 1, 1, false, true}, TDiagCase{8, 2, 1, false, false},
                             TDiagCase{8, 3, 1, true, true}, TDiagCase{8, 4, 1, true, false},
                             TDiagCase{10, 1, 0, false, false}, TDiagCase{10, 2, 2, false, false},
                             TDiagCase{10, 3, 0, true, false}, TDiagCase{10, 4, 2, true, false}}) {
    TRef<TDiagLines> f = MakeRef<TDiagLines>(d.group, d.direction);
    EXPECT_EQ(f->Mode, d.mode) << d.group << "/" << d.direction;
    EXPECT_EQ(f->Swap, d.swap) << d.group << "/" << d.direction;
    EXPECT_EQ(f->Reverse, d.reverse) << d.group << "/" << d.direction;
  }
  // 64 x 47: from the middle diagonal one half is a pixel longer than the
  // other; at the end the whole area is still covered.
  TRef<TDiagLines> f = MakeRef<TDiagLines>(8, 2);
  const zm::TRect odd{0, 0, 64, 47};
  f->Init(odd, 4, 1);
  f->TargetRect = odd;
  EXPECT_EQ(f->TopOffset, 55);
  EXPECT_EQ(f->BottomOffset, 55 - 47);
  EXPECT_FLOAT_EQ(f->MaxRadius, 56 + 4);
  TRef<TRecordingTile> tile = DrawAt(*f, 1);
  EXPECT_NEAR(tile->CoverageAt(0.01, 0.01), 255, 1e-3);
  EXPECT_NEAR(tile->CoverageAt(63.99, 46.99), 255, 1e-3);
  // Swapped, the offsets change places.
  f = MakeRef<TDiagLines>(8, 4);
  f->Init(odd, 4, 1);
  EXPECT_EQ(f->TopOffset, 55 - 47);
  EXPECT_EQ(f->BottomOffset, 55);
}

TEST(ShapeFilters, BadInputDrawsNothingOrSomethingSane) {
  for (const TShapeCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    // Not initialised, an empty or inverted area, a nil tile or controller.
    TRef<TCommonFilter> f = c.make();
    EXPECT_TRUE(DrawAt(*f, 0.5f)->tris.empty());
    for (const zm::TRect& r : {zm::TRect{10, 10, 10, 50}, zm::TRect{10, 10, 50, 10}, zm::TRect{50, 50, 10, 10},
                               zm::TRect{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX}}) {
      f->Init(r, 5, 1);
      f->TargetRect = kTarget;
      DrawAt(*f, 0.5f);
    }
    f->Init(kArea, 5, 1);
    f->DrawInto(nullptr);
    f->DrawShape(nullptr);
    f->Draw(nullptr);
    // No duration: the start picture whatever the progress.
    f->Reverse = false;
    f->Init(kArea, 5, 0);
    EXPECT_TRUE(DrawAt(*f, 1)->tris.empty());
  }
  // A centre that is not a number is the middle; a far one is kept within
  // reach, and still gives the second slide at the end.
  TRef<TCircleFilter> nan = MakeRef<TCircleFilter>(NAN, INFINITY, false);
  nan->Init(kArea, 4, 1);
  EXPECT_EQ(nan->Center.X, 42);
  EXPECT_EQ(nan->Center.Y, 44);
  for (const float far : {1e6f, -3e9f}) {
    TRef<TCircleFilter> f = MakeRef<TCircleFilter>(far, 0.5f, false);
    f->Init(kArea, 4, 1);
    f->TargetRect = kArea;
    EXPECT_EQ(f->Segments, 256);
    EXPECT_TRUE(std::isfinite(f->MaxRadius));
    TRef<TRecordingTile> tile = DrawAt(*f, 1);
    for (int y = kArea.Top; y < kArea.Bottom; y += 4)
      for (int x = kArea.Left; x < kArea.Right; x += 4) ASSERT_NEAR(tile->CoverageAt(x + 0.5, y + 0.5), 255, 0.5);
  }
}

// A grid of recording tiles.
class TRecordingController : public TEffController {
public:
  TRef<TEffTile> CreateTile(const zm::TRect& rect, const zm::TPoint& cell) override {
    return MakeRef<TRecordingTile>(this, rect, cell);
  }
  void GetArea(zm::TRect& rect) override { rect = GetBounds(); }
};

TEST(ShapeFilters, ThroughAControllerEachCellGetsItsPartOfTheSameShape) {
  TRef<TRecordingController> controller = MakeRef<TRecordingController>();
  const float xs[] = {100, 150, 228}, ys[] = {50, 111, 146};
  ASSERT_TRUE(controller->SetGrid(xs, 2, 2, ys));
  for (const TShapeCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    TRef<TCommonFilter> f = c.make();
    f->Reverse = false;
    f->Init(kArea, kEdge, 1);
    f->TargetRect = kTarget;
    TRef<TRecordingTile> direct = DrawAt(*f, 0.4f);
    for (int row = 0; row < 2; ++row)
      for (int col = 0; col < 2; ++col) static_cast<TRecordingTile*>(controller->GetTileAt(col, row))->tris.clear();
    f->DrawShape(controller.get());
    for (int y = kArea.Top; y < kArea.Bottom; y += 2)
      for (int x = kArea.Left; x < kArea.Right; x += 2) {
        const double tx = kTarget.Left + (x + 0.5 - kArea.Left) * 2, ty = kTarget.Top + (y + 0.5 - kArea.Top) * 2;
        auto* cell = static_cast<TRecordingTile*>(controller->GetTileAt(tx < xs[1] ? 0 : 1, ty < ys[1] ? 0 : 1));
        ASSERT_NEAR(std::max(0.0, cell->CoverageAt(tx, ty)), PixelCoverage(*direct, x, y), 0.05) << x << "," << y;
      }
  }
  // Nothing reaches the tiles at the start.
  TRef<TCommonFilter> f = MakeRef<TRhombFilter>(0.5f, 0.5f);
  f->Init(kArea, kEdge, 1);
  f->TargetRect = kTarget;
  for (int row = 0; row < 2; ++row)
    for (int col = 0; col < 2; ++col) static_cast<TRecordingTile*>(controller->GetTileAt(col, row))->tris.clear();
  f->DrawShape(controller.get());
  for (int row = 0; row < 2; ++row)
    for (int col = 0; col < 2; ++col)
      EXPECT_TRUE(static_cast<TRecordingTile*>(controller->GetTileAt(col, row))->tris.empty());
}

TEST(ShapeFilters, TheFactoryMakesTheShapesWithTheirSettings) {
  const auto make = [](std::int32_t kind, std::size_t flag, std::vector<std::int32_t> ints = {}) {
    TRef<TTransitionDef> def = MakeRef<TTransitionDef>();
    def->Kind = kind;
    def->Flags.assign(12, 0);
    def->Flags[flag] = 1;
    def->Ints = std::move(ints);
    return CreateTransitionFilter({64, 48}, def.get(), nullptr, false);
  };
  TRef<TDrawFilter> f = make(3, 2, {150, 25});
  auto* circle = dynamic_cast<TCircleFilter*>(f.get());
  ASSERT_NE(circle, nullptr);
  EXPECT_FLOAT_EQ(circle->CenterX, 1.5f);
  EXPECT_FLOAT_EQ(circle->CenterY, 0.25f);
  EXPECT_FALSE(circle->Reverse);
  {
    TRef<TTransitionDef> def = MakeRef<TTransitionDef>();
    def->Kind = 3;
    def->Flags = {1, 0, 0, 0, 1};
    def->Ints = {50, 50};
    f = CreateTransitionFilter({64, 48}, def.get(), nullptr, false);
    ASSERT_NE(dynamic_cast<TSquareFilter*>(f.get()), nullptr);
    EXPECT_TRUE(f->Reverse);
  }
  EXPECT_NE(dynamic_cast<TRhombFilter*>(make(3, 3).get()), nullptr);
  f = make(4, 0);
  ASSERT_NE(dynamic_cast<THLines*>(f.get()), nullptr);
  EXPECT_TRUE(f->Reverse);
  f = make(4, 5);
  ASSERT_NE(dynamic_cast<TVLines*>(f.get()), nullptr);
  EXPECT_FALSE(f->Reverse);
  f = make(5, 3);
  ASSERT_NE(dynamic_cast<THLines*>(f.get()), nullptr);
  EXPECT_EQ(static_cast<THLines*>(f.get())->CenterX, 1.0f);
  EXPECT_EQ(static_cast<THLines*>(f.get())->CenterY, 0.0f);
  f = make(4, 2);
  auto* diag = dynamic_cast<TDiagLines*>(f.get());
  ASSERT_NE(diag, nullptr);
  EXPECT_EQ(diag->Mode, 1);
  EXPECT_TRUE(diag->Reverse);
  f = make(5, 5);
  diag = dynamic_cast<TDiagLines*>(f.get());
  ASSERT_NE(diag, nullptr);
  EXPECT_EQ(diag->Mode, 2);
  EXPECT_TRUE(diag->Swap);
  EXPECT_FALSE(diag->Reverse);
}

// ---- On the software device, through the drawer ----------------------------------------------------

class ShapeOnDevice : public drawertest::TTransitionOnDevice {
protected:
  static constexpr std::uint32_t kA = 0xE03010u, kB = 0x1060F0u;

  // The frame from a plain slide A to a plain slide B at T.
  void Show(TTransitionDef* def, float t) {
    TRef<drawertest::TFnItem> a = MakeRef<drawertest::TFnItem>(
        [](T3DDrawer& d) { d.FillRectF({0, 0}, {64, 48}, zm::TColor32::FromValue(0xFF000000u | kA)); });
    TRef<drawertest::TFnItem> b = MakeRef<drawertest::TFnItem>(
        [](T3DDrawer& d) { d.FillRectF({0, 0}, {64, 48}, zm::TColor32::FromValue(0xFF000000u | kB)); });
    TRef<TOruFilter> p = MakeRef<TOruFilter>();
    p->Effect = TRef<zm::TRefObject>(def);
    p->Progress = t;
    ASSERT_TRUE(Frame(0xFF000000u, [&](T3DDrawer& d) { d.DrawTransition(a.get(), b.get(), p.get()); }));
    Capture();
  }
  static std::uint32_t Mix(std::uint32_t under, std::uint32_t over, double c) {
    std::uint32_t out = 0;
    for (int s = 0; s < 24; s += 8) {
      const double v = ((under >> s) & 0xFF) * (255 - c) / 255 + ((over >> s) & 0xFF) * c / 255;
      out |= std::uint32_t(std::lround(v)) << s;
    }
    return out;
  }
};

TEST_F(ShapeOnDevice, CircleGatesAndPageFramesShowTheSoftEdgedShape) {
  struct TDeviceCase {
    const char* name;
    std::int32_t kind;
    std::size_t flag;
    float maxRadius;
    bool reverse;
    std::function<double(double, double)> metric;  // pixel centre to the shape at radius 0
  };
  const float edge = 16;  // a quarter of the width
  const TDeviceCase cases[] = {
      {"circle", 3, 2, 40 + edge, false, [](double x, double y) { return std::hypot(x - 32, y - 24); }},
      {"gates closing", 4, 0, 32 + edge, true, [](double x, double) { return std::fabs(x - 32); }},
      {"page from the right", 5, 3, 64 + edge, false, [](double x, double) { return 64 - x; }},
  };
  for (const TDeviceCase& c : cases) {
    TRef<TTransitionDef> def = MakeRef<TTransitionDef>();
    def->Kind = c.kind;
    def->Flags.assign(12, 0);
    def->Flags[c.flag] = 1;
    def->Ints = {50, 50};
    def->Smoothline = 0.25;
    for (const float t : {0.0f, 0.25f, 0.5f, 0.75f}) {
      SCOPED_TRACE(testing::Message() << c.name << " at " << t);
      Show(def.get(), t);
      // Reversed, the outgoing slide shows through a shape that closes.
      const double a = (c.reverse ? 1 - t : t) * c.maxRadius;
      int bad = 0;
      // The device may put pixel centres at whole or half coordinates: either
      // will do. The tile moves corners on the area's left and top edge
      // further out, which bends the ramp in the first column and row.
      for (int y = 1; y < 48; ++y)
        for (int x = 1; x < 64; ++x) {
          const double c0 = Ideal(c.metric(x, y), a, edge), c1 = Ideal(c.metric(x + 0.5, y + 0.5), a, edge);
          const auto want = [&](double cov) { return c.reverse ? Mix(kB, kA, cov) : Mix(kA, kB, cov); };
          const int got = int(At(x, y) & 0xFF), lo = int(want(std::min(c0, c1)) & 0xFF),
                    hi = int(want(std::max(c0, c1)) & 0xFF);
          if ((got < std::min(lo, hi) - 6 || got > std::max(lo, hi) + 6) && ++bad <= 3)
            ADD_FAILURE() << x << "," << y << ": blue " << got << " not within " << lo << ".." << hi;
        }
    }
    Show(def.get(), 1);
    for (int y = 0; y < 48; y += 3)
      for (int x = 0; x < 64; x += 3) ASSERT_EQ(At(x, y), kB) << c.name << " " << x << "," << y;
  }
}

}  // namespace shapefilterstest
