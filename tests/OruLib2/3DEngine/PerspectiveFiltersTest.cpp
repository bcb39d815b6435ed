// The overturn and two-slides transitions: the 3D positions their triangles
// give each source point against a card turned (or slides moved) in a model
// worked out here, the black fill, the pairing of the two-slides calls and
// the floor reflection; then frames of the drawer on the software device,
// with the start and end pictures exact and the perspective symmetric; bad
// parameters.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

#include "OruLib2/3DEngine/FilterFactory.h"
#include "OruLib2/3DEngine/OruFilter.h"
#include "OruLib2/3DEngine/PerspectiveFilters.h"
#include "tests/support/DrawerOnDevice.h"

namespace perspectivefilterstest {

using namespace oru;
using zm::MakeRef;
using zm::TPoint3F;
using zm::TRect;
using zm::TRef;

constexpr double kPi = std::numbers::pi;

struct TShaded {
  TEffTriangle V;
  TEffPoints3 P;
  zm::TPoint Cell;
};

struct TLog {
  std::vector<zm::TPoint> Fills;  // the cells filled black, in order
  std::vector<TShaded> Tris;
  std::vector<int> Order;  // 0 fill, 1 shaded batch, in order
};

class TRecTile : public TEffTile {
public:
  TRecTile(TEffController* c, const TRect& r, const zm::TPoint& cell, TLog* log) : TEffTile(c, r, cell), L(log) {}
  void Begin(std::int32_t mode, bool shaded) override {
    EXPECT_FALSE(open_);
    open_ = true;
    plain_ = mode == emPlain;
    if (plain_) {
      EXPECT_FALSE(shaded);
      L->Fills.push_back(Cell);
    } else {
      EXPECT_TRUE(shaded);
    }
    L->Order.push_back(plain_ ? 0 : 1);
  }
  void AddColoredTriangle(const TEffTriangle& v, const TEffColors& c) override {
    EXPECT_TRUE(open_ && plain_);
    for (std::uint32_t k : c) EXPECT_EQ(k, 0xFF000000u);
    for (const TEffVertex& p : v) {
      EXPECT_TRUE(p.X == float(Rect.Left) || p.X == float(Rect.Right));
      EXPECT_TRUE(p.Y == float(Rect.Top) || p.Y == float(Rect.Bottom));
    }
    ++fillTris_;
  }
  void AddShadedTriangle(const TEffTriangle& v, const TEffPoints3& p) override {
    EXPECT_TRUE(open_ && !plain_);
    for (int k = 0; k < 3; ++k) {
      EXPECT_TRUE(std::isfinite(p[k].X) && std::isfinite(p[k].Y) && std::isfinite(p[k].Z));
      EXPECT_TRUE(v[k].C >= 0 && v[k].C <= 255) << v[k].C;
      // Source points stay within the tile.
      EXPECT_TRUE(v[k].X >= float(Rect.Left) && v[k].X <= float(Rect.Right));
      EXPECT_TRUE(v[k].Y >= float(Rect.Top) && v[k].Y <= float(Rect.Bottom));
    }
    L->Tris.push_back({v, p, Cell});
  }
  void AddTriangle(const TEffTriangle&) override { ADD_FAILURE(); }
  void AddShadedTextureTriangle(const TEffTriangle&, const TEffPoints2&) override { ADD_FAILURE(); }
  void AddColoredPoints(const TEffPoints2&, const TEffColors&) override { ADD_FAILURE(); }
  void End() override {
    EXPECT_TRUE(open_);
    if (plain_) {
      EXPECT_EQ(fillTris_, 2);
    }
    open_ = false;
    fillTris_ = 0;
  }

private:
  TLog* L;
  bool open_ = false, plain_ = false;
  int fillTris_ = 0;
};

class TRecController : public TEffController {
public:
  TRef<TEffTile> CreateTile(const TRect& r, const zm::TPoint& cell) override {
    return MakeRef<TRecTile>(this, r, cell, &Log);
  }
  void GetArea(TRect& r) override { r = GetBounds(); }
  TLog Log;
};

// A controller with Cols x Rows equal cells over Area.
TRef<TRecController> Grid(const TRect& area, int cols, int rows) {
  TRef<TRecController> c = MakeRef<TRecController>();
  std::vector<float> xs, ys;
  for (int i = 0; i <= cols; ++i) xs.push_back(float(area.Left + (area.Right - area.Left) * i / cols));
  for (int i = 0; i <= rows; ++i) ys.push_back(float(area.Top + (area.Bottom - area.Top) * i / rows));
  EXPECT_TRUE(c->SetGrid(xs, cols, rows, ys));
  return c;
}

constexpr TRect kArea{10, 20, 74, 68};  // 64 x 48, away from the origin
const float kSteps[] = {0.0f, 0.25f, 0.5f, 0.75f, 1.0f};

::testing::AssertionResult NearPoint(const TPoint3F& got, double x, double y, double z, double tol = 1e-3) {
  if (std::fabs(got.X - x) > tol || std::fabs(got.Y - y) > tol || std::fabs(got.Z - z) > tol)
    return ::testing::AssertionFailure() << "got (" << got.X << "," << got.Y << "," << got.Z << "), want (" << x << ","
                                         << y << "," << z << ")";
  return ::testing::AssertionSuccess();
}

// ---- Overturn ----------------------------------------------------------------------------------------

// The card model: a source point at offset u from the turning line lands at
// u cos b across and -u sin b x depth deep, b being the turn of the face the
// viewer sees (the back face, with the incoming picture, from edge-on on).
// Turning behind the screen shifts the card back until its nearer edge is
// in the screen plane.
TPoint3F ModelOverturn(int dir, bool nonLinear, float depth, float t, float x, float y) {
  const double e = nonLinear ? (t < 0.5 ? 2.0 * t * t : 1 - 2.0 * (1 - t) * (1 - t)) : t;
  const double theta = kPi * e;
  double b = (dir % 2 == 1) ? -theta : theta;
  if (std::fabs(b) >= kPi / 2) b -= (b > 0 ? kPi : -kPi);
  const bool vertical = dir == 1 || dir == 2 || dir == 5 || dir == 6;
  const double c = vertical ? (kArea.Left + kArea.Right) / 2.0 : (kArea.Top + kArea.Bottom) / 2.0;
  const double half = vertical ? 32 : 24;
  const double u = (vertical ? x : y) - c;
  double z = -u * std::sin(b) * depth;
  if (dir <= 4) z += half * std::fabs(std::sin(b) * depth);
  const double along = c + u * std::cos(b);
  return vertical ? TPoint3F{float(along), y, float(z)} : TPoint3F{x, float(along), float(z)};
}

TEST(Overturn, CardFollowsTheTurnModelInEveryDirectionAndTileGrid) {
  for (int dir = 1; dir <= 8; ++dir)
    for (bool nonLinear : {false, true})
      for (float t : kSteps) {
        SCOPED_TRACE(testing::Message() << "direction " << dir << (nonLinear ? " eased" : "") << " at " << t);
        TRef<TOverturnEffect> f = MakeRef<TOverturnEffect>(dir, nonLinear, 0.7f);
        f->Init(kArea, 0, 1);
        f->TargetRect = kArea;
        f->SetProgress(t);
        TRef<TRecController> c = Grid(kArea, 3, 2);
        f->DrawTo(c.get());
        EXPECT_EQ(c->Log.Fills.size(), 6u);
        ASSERT_EQ(c->Log.Tris.size(), 12u);
        const double theta = kPi * (nonLinear ? EaseUnit(t) : t);
        const int grey = int(std::nearbyint(std::fabs(std::cos(theta)) * 155 + 100));
        double srcArea = 0;
        for (const TShaded& s : c->Log.Tris) {
          for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(int(s.V[k].C), grey);
            const TPoint3F m = ModelOverturn(dir, nonLinear, 0.7f, t, s.V[k].X, s.V[k].Y);
            EXPECT_TRUE(NearPoint(s.P[k], m.X, m.Y, m.Z, 2e-3)) << s.V[k].X << "," << s.V[k].Y;
            // Directions 1-4 never come in front of the screen.
            if (dir <= 4) {
              EXPECT_GE(s.P[k].Z, -1e-4f);
            }
          }
          srcArea += std::fabs((s.V[1].X - s.V[0].X) * (s.V[2].Y - s.V[0].Y) -
                               (s.V[2].X - s.V[0].X) * (s.V[1].Y - s.V[0].Y)) / 2;
        }
        EXPECT_DOUBLE_EQ(srcArea, 64.0 * 48.0);  // the whole picture, once
      }
}

TEST(Overturn, StartIsThePictureInPlaceHalfWayEdgeOnAndTheTurnsMirrorAboutHalfWay) {
  TRef<TOverturnEffect> f = MakeRef<TOverturnEffect>(1, false, 0.5f);
  f->Init(kArea, 0, 1);
  f->TargetRect = kArea;
  const auto corners = [&](float t) {
    f->SetProgress(t);
    return f->CardCorners(kArea);
  };
  for (const TPoint3F& q : corners(0)) EXPECT_EQ(q.Z, 0.0f);
  EXPECT_EQ(f->GreyLevel(), 255);
  for (const TPoint3F& q : corners(0.5f)) EXPECT_NEAR(q.X, 42.0f, 1e-4);
  EXPECT_EQ(f->GreyLevel(), 100);
  // A quarter in and a quarter before the end: mirror images across x = 42.
  const auto a = corners(0.25f), b = corners(0.75f);
  for (int k = 0; k < 4; ++k) {
    EXPECT_NEAR(a[k].X + b[k ^ 2].X, 84.0f, 1e-4);
    EXPECT_NEAR(a[k].Z, b[k ^ 2].Z, 1e-4);
    EXPECT_EQ(a[k].Y, b[k ^ 2].Y);
  }
  EXPECT_EQ(f->GreyLevel(), 210);  // |cos 3pi/4| x 155 + 100 = 209.6
}

TEST(Overturn, TilesOutsideTheTargetAreFilledButNotDrawnAndEmptyGridsDrawNothing) {
  TRef<TOverturnEffect> f = MakeRef<TOverturnEffect>(3, true, 0.5f);
  f->Init(kArea, 0, 1);
  f->SetProgress(0.3f);
  f->TargetRect = {10, 20, 42, 44};  // the top-left cell of a 2 x 2 grid only
  TRef<TRecController> c = Grid(kArea, 2, 2);
  f->DrawTo(c.get());
  EXPECT_EQ(c->Log.Fills.size(), 4u);
  ASSERT_EQ(c->Log.Tris.size(), 2u);
  for (const TShaded& s : c->Log.Tris) EXPECT_EQ(s.Cell, (zm::TPoint{0, 0}));
  f->TargetRect = {500, 500, 600, 600};
  TRef<TRecController> away = Grid(kArea, 2, 2);
  f->DrawTo(away.get());
  EXPECT_EQ(away->Log.Fills.size(), 4u);
  EXPECT_TRUE(away->Log.Tris.empty());
  // No grid, no controller.
  TRef<TRecController> none = MakeRef<TRecController>();
  f->DrawTo(none.get());
  EXPECT_TRUE(none->Log.Order.empty());
  f->Draw(nullptr);
}

// ---- Two slides --------------------------------------------------------------------------------------

// The model of one slide at phase p: moved aside by p's arc, sunk by
// p x height x depth, and tilted about its leading edge by p x angle.
TPoint3F ModelSlide(int dir, float depth, float distance, double angle, double p, bool incoming, float x, float y) {
  const double w = 64, h = 48, sgn = incoming ? -1 : 1;
  const double ox = (dir == 1 ? w : dir == 2 ? -w : 0) * sgn, oy = (dir == 3 ? h : dir == 4 ? -h : 0) * sgn;
  const double side = std::sin(kPi * p) * distance;
  const double rx = x - kArea.Left, ry = y - kArea.Top;
  double z = p * h * depth;
  // Distance from the edge that leads the move, which stays nearest.
  if (ox > 0) z += (w - rx) * std::sin(p * angle);
  if (ox < 0) z += rx * std::sin(p * angle);
  if (oy > 0) z += (h - ry) * std::sin(p * angle);
  if (oy < 0) z += ry * std::sin(p * angle);
  return {float(x + ox * side), float(y + oy * side), float(z)};
}

// Draws one frame (two calls) and gives the logs of both.
std::pair<TLog, TLog> Pair(TTwoSlidesEffect& f, float t, const TRect& target, int cols = 2, int rows = 2) {
  f.TargetRect = target;
  f.SetProgress(t);
  TRef<TRecController> a = Grid(kArea, cols, rows), b = Grid(kArea, cols, rows);
  f.DrawTo(a.get());
  f.DrawTo(b.get());
  f.Reset(t);
  return {a->Log, b->Log};
}

TEST(TwoSlides, BothSlidesFollowTheModelAndTheOneInFrontIsDrawnSecond) {
  for (int dir = 1; dir <= 4; ++dir)
    for (float t : kSteps) {
      SCOPED_TRACE(testing::Message() << "direction " << dir << " at " << t);
      TRef<TTwoSlidesEffect> f = MakeRef<TTwoSlidesEffect>(dir, 4.0f, 1.0f, 60.0f);
      f->Init(kArea, 0, 1);
      const auto [first, second] = Pair(*f, t, kArea);
      EXPECT_EQ(first.Fills.size(), 4u);
      EXPECT_TRUE(second.Fills.empty());
      EXPECT_EQ(first.Order.front(), 0);  // the fill comes before the pictures
      const double s = EaseUnit(t);
      // Before half-way the incoming slide (p = 1 - s) goes first.
      const bool firstIsIncoming = t < 0.5f;
      for (int call = 0; call < 2; ++call) {
        const bool incoming = (call == 0) == firstIsIncoming;
        const double p = incoming ? 1 - s : s;
        const TLog& log = call == 0 ? first : second;
        const std::size_t perTile = dir <= 2 ? 4 : 2;
        ASSERT_EQ(log.Tris.size(), 4 * perTile);
        for (std::size_t i = 0; i < log.Tris.size(); ++i) {
          const TShaded& tri = log.Tris[i];
          const bool mirror = dir <= 2 && i % 4 >= 2;
          for (int k = 0; k < 3; ++k) {
            TPoint3F m = ModelSlide(dir, 4.0f, 1.0f, kPi / 3, p, incoming, tri.V[k].X, tri.V[k].Y);
            if (mirror) {
              m.Y = 2 * 68 - m.Y;
              EXPECT_GE(tri.V[k].Y, 20 + 0.33f * 48 - 1e-3f);
              EXPECT_NEAR(tri.V[k].C, std::max(0.0, 192.0 * (tri.V[k].Y - 20) / 48 - 64), 1e-3);
            } else {
              EXPECT_EQ(tri.V[k].C, 255.0f);
            }
            EXPECT_TRUE(NearPoint(tri.P[k], m.X, m.Y, m.Z, 5e-3));
          }
        }
      }
    }
}

TEST(TwoSlides, EndsLieFlatInFrontAndHalfWayTheSlidesStandMirrored) {
  TRef<TTwoSlidesEffect> f = MakeRef<TTwoSlidesEffect>(1, 4.0f, 1.0f, 60.0f);
  f->Init(kArea, 0, 1);
  // t = 0: the second (outgoing) slide in place at depth 0; the incoming one
  // unmoved but 48 x 4 deep and tilted.
  auto [in0, out0] = Pair(*f, 0, kArea);
  for (const TShaded& s : out0.Tris) {
    if (s.V[0].C != 255.0f) continue;
    for (int k = 0; k < 3; ++k) EXPECT_TRUE(NearPoint(s.P[k], s.V[k].X, s.V[k].Y, 0));
  }
  for (const TShaded& s : in0.Tris) {
    if (s.V[0].C != 255.0f) continue;
    for (int k = 0; k < 3; ++k)
      EXPECT_TRUE(NearPoint(s.P[k], s.V[k].X, s.V[k].Y, 48 * 4 + (s.V[k].X - kArea.Left) * std::sin(kPi / 3), 1e-3));
  }
  // t = 0.5: both at p = 0.5, one slide width apart on either side; the
  // first is the mirror image of the second.
  auto [a, b] = Pair(*f, 0.5f, kArea, 1, 1);
  ASSERT_EQ(a.Tris.size(), 4u);
  ASSERT_EQ(b.Tris.size(), 4u);
  int matched = 0;
  for (std::size_t i = 0; i < 2; ++i)
    for (int k = 0; k < 3; ++k) {
      const TEffVertex vb = b.Tris[i].V[k];
      const TPoint3F pb = b.Tris[i].P[k];
      EXPECT_LT(pb.X, 42.0f - 32.0f + 1e-3f);
      for (std::size_t j = 0; j < 2; ++j)
        for (int n = 0; n < 3; ++n)
          if (a.Tris[j].V[n].X == 84 - vb.X && a.Tris[j].V[n].Y == vb.Y) {
            ++matched;
            EXPECT_NEAR(a.Tris[j].P[n].X - 42, 42 - pb.X, 1e-3);
            EXPECT_NEAR(a.Tris[j].P[n].Y, pb.Y, 1e-3);
            EXPECT_NEAR(a.Tris[j].P[n].Z, pb.Z, 1e-3);
          }
    }
  EXPECT_EQ(matched, 8);
}

TEST(TwoSlides, ReflectionOnlySidewaysAndOnlyBelowTheFloorLine) {
  TRef<TTwoSlidesEffect> f = MakeRef<TTwoSlidesEffect>(2, 4.0f, 1.0f, 60.0f);
  f->Init(kArea, 0, 1);
  // Four rows of 12 pixels; the floor line at 20 + 15.84: the top row is
  // wholly above it and gets no reflection.
  auto [a, b] = Pair(*f, 0.3f, kArea, 1, 4);
  for (const TLog* log : {&a, &b}) {
    int reflected[4] = {};
    for (const TShaded& s : log->Tris)
      if (s.V[0].C != 255.0f || s.V[1].C != 255.0f) ++reflected[s.Cell.Y];
    EXPECT_EQ(reflected[0], 0);
    for (int r = 1; r < 4; ++r) EXPECT_EQ(reflected[r], 2) << r;
  }
  for (int dir : {3, 4}) {
    TRef<TTwoSlidesEffect> g = MakeRef<TTwoSlidesEffect>(dir, 4.0f, 1.0f, 60.0f);
    g->Init(kArea, 0, 1);
    auto [c, d] = Pair(*g, 0.3f, kArea, 1, 4);
    EXPECT_EQ(c.Tris.size(), 8u);
    EXPECT_EQ(d.Tris.size(), 8u);
  }
}

TEST(TwoSlides, PairsStayInStepWhenACallFindsNoControllerAndAfterTheFrameReset) {
  TRef<TTwoSlidesEffect> f = MakeRef<TTwoSlidesEffect>(1, 4.0f, 1.0f, 60.0f);
  f->Init(kArea, 0, 1);
  f->TargetRect = kArea;
  f->SetProgress(0.2f);
  f->Draw(nullptr);  // the first call of the pair, lost
  TRef<TRecController> c = Grid(kArea, 1, 1);
  f->DrawTo(c.get());
  EXPECT_TRUE(c->Log.Fills.empty());  // the second call: no fill
  // A frame that drew only once: the reset starts the next pair.
  f->DrawTo(Grid(kArea, 1, 1).get());
  f->Reset(0.2f);
  TRef<TRecController> d = Grid(kArea, 1, 1);
  f->DrawTo(d.get());
  EXPECT_EQ(d->Log.Fills.size(), 1u);
  // The count never overflows; its parity runs on.
  f->DrawCount = INT32_MAX - 1;
  TRef<TRecController> e1 = Grid(kArea, 1, 1), e2 = Grid(kArea, 1, 1), e3 = Grid(kArea, 1, 1);
  f->DrawTo(e1.get());
  f->DrawTo(e2.get());
  f->DrawTo(e3.get());
  EXPECT_EQ(e1->Log.Fills.size(), 1u);
  EXPECT_TRUE(e2->Log.Fills.empty());
  EXPECT_EQ(e3->Log.Fills.size(), 1u);
}

// ---- Bad parameters and the factory ------------------------------------------------------------------

TEST(PerspectiveFilters, ParametersOutOfRangeAreTamedAndTheFactoryMakesBoth) {
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  TRef<TOverturnEffect> o = MakeRef<TOverturnEffect>(0, false, nan);
  EXPECT_EQ(o->Direction, 1);
  EXPECT_EQ(o->Depth, 0.5f);
  EXPECT_EQ(MakeRef<TOverturnEffect>(INT_MIN, false, inf)->Depth, 0.5f);
  EXPECT_EQ(MakeRef<TOverturnEffect>(2, false, 1e9f)->Depth, 4.0f);
  EXPECT_EQ(MakeRef<TOverturnEffect>(9, false, -1e30f)->Direction, 1);
  TRef<TTwoSlidesEffect> s = MakeRef<TTwoSlidesEffect>(-3, -5.0f, 1e9f, -90.0f);
  EXPECT_EQ(s->Direction, 1);
  EXPECT_EQ(s->Depth, 0.0f);
  EXPECT_EQ(s->Distance, 16.0f);
  EXPECT_EQ(s->Angle, 0.0f);
  TRef<TTwoSlidesEffect> d = MakeRef<TTwoSlidesEffect>(5, nan, inf, nan);
  EXPECT_EQ(d->Depth, 4.0f);
  EXPECT_EQ(d->Distance, 1.0f);
  EXPECT_NEAR(d->Angle, kPi / 3, 1e-6);
  // Whatever the progress, finite geometry (checked by the tiles).
  for (float t : {nan, -inf, inf, -1.0f, 2.0f}) {
    o->Init(kArea, 0, 1);
    o->TargetRect = kArea;
    o->SetProgress(t);
    o->DrawTo(Grid(kArea, 2, 2).get());
    Pair(*s, t, kArea);
  }

  TRef<TTransitionDef> flip = MakeRef<TTransitionDef>();
  flip->Kind = 10;
  flip->Flags = {0, 0, 0, 1, 1, 1};  // direction 3, spinning, eased
  flip->Floats = {0.25f};
  TRef<TDrawFilter> f = CreateTransitionFilter({64, 48}, flip.get(), nullptr, false);
  auto* ov = dynamic_cast<TOverturnEffect*>(f.get());
  ASSERT_NE(ov, nullptr);
  EXPECT_EQ(ov->Direction, 7);
  EXPECT_TRUE(ov->NonLinear);
  EXPECT_EQ(ov->Depth, 0.25f);
  EXPECT_EQ(ov->PassMode(), TFilterPassMode::Overturn);
  TRef<TTransitionDef> swap = MakeRef<TTransitionDef>();
  swap->Kind = 11;
  swap->Flags = {1, 0, 0, 0};  // direction 2
  swap->Floats = {2.0f, 0.5f, 90.0f};
  TRef<TDrawFilter> g = CreateTransitionFilter({64, 48}, swap.get(), nullptr, false);
  auto* ts = dynamic_cast<TTwoSlidesEffect*>(g.get());
  ASSERT_NE(ts, nullptr);
  EXPECT_EQ(ts->Direction, 2);
  EXPECT_EQ(ts->Depth, 2.0f);
  EXPECT_EQ(ts->Distance, 0.5f);
  EXPECT_NEAR(ts->Angle, kPi / 2, 1e-6);
  EXPECT_EQ(ts->PassMode(), TFilterPassMode::TwoSlides);
  // Finalised, the kinds fall back to the cross-fade.
  FiniPerspectiveFilters();
  EXPECT_TRUE(CreateTransitionFilter({64, 48}, flip.get(), nullptr, false)->IsAlpha);
  EXPECT_TRUE(CreateTransitionFilter({64, 48}, swap.get(), nullptr, false)->IsAlpha);
  InitPerspectiveFilters();
}

// ---- Frames on the software device -------------------------------------------------------------------

class TPatternSlide : public zm::TDrawItem {
public:
  explicit TPatternSlide(std::uint32_t (*fn)(int, int)) : Fn(fn) {}
  void Draw(zm::TDeviceDrawer& d) override {
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 64;) {
        const std::uint32_t c = Fn(x, y);
        int e = x + 1;
        while (e < 64 && Fn(e, y) == c) ++e;
        d.FillRectF({float(x), float(y)}, {float(e), float(y + 1)}, zm::TColor32::FromValue(0xFF000000u | c));
        x = e;
      }
  }
  std::uint32_t (*Fn)(int, int);
};

// Both mirror-symmetric left to right, so that mirrored frames compare.
std::uint32_t BlockA(int x, int y) {
  const int mx = x < 32 ? x : 63 - x;
  return ((mx / 8 + y / 8) & 1) ? 0x20C040u : 0xE03010u;
}
std::uint32_t BlockB(int x, int y) {
  const int mx = x < 32 ? x : 63 - x;
  return y < 24 ? (mx < 16 ? 0x1060F0u : 0xF0F020u) : 0x802080u;
}

class PerspectiveOnDevice : public drawertest::TTransitionOnDevice {
protected:
  std::vector<std::uint32_t> Show(TTransitionDef* def, float t) {
    TRef<TPatternSlide> a = MakeRef<TPatternSlide>(&BlockA), b = MakeRef<TPatternSlide>(&BlockB);
    TRef<TOruFilter> p = MakeRef<TOruFilter>();
    p->Effect = TRef<zm::TRefObject>(def);
    p->Progress = t;
    EXPECT_TRUE(Frame(0xFF808080u, [&](T3DDrawer& d) { d.DrawTransition(a.get(), b.get(), p.get()); }));
    Capture();
    return px;
  }
  // Pixels of Frame off Want by more than Tol, leaving out those next to
  // an edge of Want's pattern (the device samples bilinearly) and, with
  // Inner, the frame's outer pixels (a card that is not quite flat leaves
  // their centres).
  int Off(const std::vector<std::uint32_t>& frame, const std::function<std::uint32_t(int, int)>& want, int tol,
          bool inner = false) {
    int bad = 0;
    const int m = inner ? 1 : 0;
    for (int y = m; y < 48 - m; ++y)
      for (int x = m; x < 64 - m; ++x) {
        bool edge = false;
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx) {
            const int nx = std::clamp(x + dx, 0, 63), ny = std::clamp(y + dy, 0, 47);
            edge = edge || want(nx, ny) != want(x, y);
          }
        bad += !edge && !drawertest::Near(frame[std::size_t(y * 64 + x)] & 0xFFFFFFu, want(x, y), tol);
      }
    return bad;
  }
  // Pixels whose blackness differs from that of their mirror image across
  // the frame's centre line (pixel centres lie on whole coordinates).
  static int Asymmetric(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b) {
    int bad = 0;
    for (int y = 0; y < 48; ++y)
      for (int x = 1; x < 64; ++x)
        bad += ((a[std::size_t(y * 64 + x)] & 0xFFFFFFu) == 0) != ((b[std::size_t(y * 64 + 64 - x)] & 0xFFFFFFu) == 0);
    return bad;
  }
};

TRef<TTransitionDef> Def(std::int32_t kind, std::vector<std::uint8_t> flags, std::vector<float> floats) {
  TRef<TTransitionDef> d = MakeRef<TTransitionDef>();
  d->Kind = kind;
  d->Flags = std::move(flags);
  d->Floats = std::move(floats);
  return d;
}

TEST_F(PerspectiveOnDevice, OverturnShowsEachSlideFlatAtItsEndBlackEdgeOnAndMirroredQuarters) {
  for (std::vector<std::uint8_t> flags : {std::vector<std::uint8_t>{0, 0, 1, 0}, {0, 0, 1, 0, 1, 0}}) {
    TRef<TTransitionDef> def = Def(10, flags, {0.5f});
    EXPECT_EQ(Off(Show(def.get(), 0), BlockA, 1), 0);
    EXPECT_EQ(Off(Show(def.get(), 0.5f), [](int, int) { return 0u; }, 0), 0);
    // At the very end the drawer shows the incoming slide itself; just
    // before it the card is all but flat.
    EXPECT_EQ(Off(Show(def.get(), 0.999f), BlockB, 8, true), 0);
    const std::vector<std::uint32_t> q1 = Show(def.get(), 0.25f), q3 = Show(def.get(), 0.75f);
    // A quarter turned the card (still the outgoing slide) is shaded by
    // |cos(pi / 4)| x 155 + 100 = 210: the middle of the top half shows the
    // red of the picture near (32, 9), 0xE03010 x 210 / 255.
    EXPECT_TRUE(drawertest::Near(q1[12 * 64 + 32] & 0xFFFFFFu, 0xB8280Du, 3));
    // Turned: black bars where the card no longer reaches.
    EXPECT_EQ(q1[24 * 64 + 0] & 0xFFFFFFu, 0u);
    EXPECT_EQ(q1[24 * 64 + 63] & 0xFFFFFFu, 0u);
    // The last quarter is the first one mirrored, with the other picture:
    // the black around the card matches.
    const int bad = Asymmetric(q1, q3);
    EXPECT_LE(bad, 8) << "spin " << (flags.size() > 4);
  }
}

TEST_F(PerspectiveOnDevice, TwoSlidesShowOneSlideAtEachEndAndStandMirroredHalfWay) {
  TRef<TTransitionDef> def = Def(11, {0, 1, 0, 0}, {4.0f, 1.0f, 60.0f});  // direction 4: no reflection
  EXPECT_EQ(Off(Show(def.get(), 0), BlockA, 1), 0);
  EXPECT_EQ(Off(Show(def.get(), 0.999f), BlockB, 8, true), 0);
  TRef<TTransitionDef> side = Def(11, {0, 0, 1, 0}, {4.0f, 1.0f, 60.0f});  // direction 1, reflected
  EXPECT_EQ(Off(Show(side.get(), 0), BlockA, 1), 0);
  // Half-way the slides stand side by side: with mirror-symmetric pictures
  // of equal outline the frame's silhouette is symmetric, and nothing is
  // left of the outgoing picture in the middle.
  const std::vector<std::uint32_t> h = Show(side.get(), 0.5f);
  int lit = 0;
  for (std::uint32_t p : h) lit += (p & 0xFFFFFFu) != 0;
  EXPECT_GT(lit, 64);
  EXPECT_LE(Asymmetric(h, h), 8);
  EXPECT_EQ(h[24 * 64 + 32] & 0xFFFFFFu, 0u);
}

}  // namespace perspectivefilterstest
