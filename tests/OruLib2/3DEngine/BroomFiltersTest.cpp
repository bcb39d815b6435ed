// The broom and clock transitions: the incoming slide's coverage their
// triangles give each pixel, rasterised here with shared edges counted once,
// against coverage masks worked out independently from the swept angle and
// the soft bands; directly and split over a controller's grid; the ends of
// the transitions exactly; mirroring; bad input; the factory; and frames of
// the drawer on the software device.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include "OruLib2/3DEngine/BroomFilters.h"
#include "OruLib2/3DEngine/FilterFactory.h"
#include "OruLib2/3DEngine/OruFilter.h"
#include "tests/support/DrawerOnDevice.h"

namespace broomfilterstest {

using namespace oru;
using zm::MakeRef;
using zm::TRef;

constexpr double kPi = std::numbers::pi;
constexpr zm::TRect kArea{10, 20, 74, 68};     // 64 x 48
constexpr zm::TRect kTarget{100, 50, 164, 98};  // the same size elsewhere
constexpr int kW = 64, kH = 48;
const float kSteps[] = {0.0f, 0.25f, 0.5f, 0.75f, 1.0f};

// The ease table of both generators, from its definition.
double Ramp(double index) {
  const int i = int(std::clamp(std::nearbyint(index), 0.0, 255.0));
  return i < 128 ? double((i * i) >> 7) : 255.0 - double(((255 - i) * (255 - i)) >> 7);
}

// Coverage per target pixel, and how many triangles reached each: shared
// edges count once (top-left rule), so a gap shows as 0 and an overlap,
// which would draw the slide twice, as 2.
struct TMask {
  std::vector<double> C = std::vector<double>(kW * kH, 0.0);
  std::vector<int> N = std::vector<int>(kW * kH, 0);
  int Triangles = 0;
  double At(int x, int y) const { return C[std::size_t(y * kW + x)]; }
  int Hits(int x, int y) const { return N[std::size_t(y * kW + x)]; }

  void Add(const TEffTriangle& v) {
    ++Triangles;
    for (const TEffVertex& p : v) {
      EXPECT_TRUE(std::isfinite(p.X) && std::isfinite(p.Y)) << p.X << "," << p.Y;
      EXPECT_TRUE(p.C >= 0.0f && p.C <= 255.0f) << p.C;
    }
    double ax = v[0].X - kTarget.Left, ay = v[0].Y - kTarget.Top, bx = v[1].X - kTarget.Left,
           by = v[1].Y - kTarget.Top, cx = v[2].X - kTarget.Left, cy = v[2].Y - kTarget.Top;
    double ca = v[0].C, cb = v[1].C, cc = v[2].C;
    const auto edge = [](double x0, double y0, double x1, double y1, double px, double py) {
      return (x1 - x0) * (py - y0) - (y1 - y0) * (px - x0);
    };
    double area = edge(ax, ay, bx, by, cx, cy);
    if (area == 0) return;
    if (area < 0) {
      std::swap(bx, cx);
      std::swap(by, cy);
      std::swap(cb, cc);
      area = -area;
    }
    const auto inside = [](double e, double x0, double y0, double x1, double y1) {
      if (e != 0) return e > 0;
      const double nx = -(y1 - y0), ny = x1 - x0;
      return nx > 0 || (nx == 0 && ny > 0);
    };
    // Clamped before the conversion: triangles may reach far beyond the area.
    const auto clampTo = [](double v, int hi) { return int(std::clamp(v, -1.0, double(hi))); };
    const int x0 = std::max(0, clampTo(std::floor(std::min({ax, bx, cx})), kW)),
              x1 = std::min(kW - 1, clampTo(std::ceil(std::max({ax, bx, cx})), kW)),
              y0 = std::max(0, clampTo(std::floor(std::min({ay, by, cy})), kH)),
              y1 = std::min(kH - 1, clampTo(std::ceil(std::max({ay, by, cy})), kH));
    for (int py = y0; py <= y1; ++py)
      for (int px = x0; px <= x1; ++px) {
        const double qx = px + 0.5, qy = py + 0.5;
        const double e0 = edge(bx, by, cx, cy, qx, qy), e1 = edge(cx, cy, ax, ay, qx, qy),
                     e2 = edge(ax, ay, bx, by, qx, qy);
        if (!inside(e0, bx, by, cx, cy) || !inside(e1, cx, cy, ax, ay) || !inside(e2, ax, ay, bx, by)) continue;
        C[std::size_t(py * kW + px)] = (e0 * ca + e1 * cb + e2 * cc) / area;
        ++N[std::size_t(py * kW + px)];
      }
  }
};

class TMaskTile : public TEffTile {
public:
  TMaskTile(TEffController* c, const zm::TRect& r, const zm::TPoint& cell, TMask* m) : TEffTile(c, r, cell), M(m) {}
  void Begin(std::int32_t mode, bool shaded) override {
    EXPECT_FALSE(open);
    EXPECT_EQ(mode, emTextured);
    EXPECT_FALSE(shaded);
    open = true;
  }
  void AddTriangle(const TEffTriangle& v) override {
    EXPECT_TRUE(open);
    M->Add(v);
    Tris.push_back(v);
  }
  void AddColoredTriangle(const TEffTriangle&, const TEffColors&) override { ADD_FAILURE(); }
  void AddShadedTextureTriangle(const TEffTriangle&, const TEffPoints2&) override { ADD_FAILURE(); }
  void AddColoredPoints(const TEffPoints2&, const TEffColors&) override { ADD_FAILURE(); }
  void AddShadedTriangle(const TEffTriangle&, const TEffPoints3&) override { ADD_FAILURE(); }
  void End() override {
    EXPECT_TRUE(open);
    open = false;
  }
  TMask* M;
  bool open = false;
  std::vector<TEffTriangle> Tris;
};

class TMaskController : public TEffController {
public:
  explicit TMaskController(TMask* m) : M(m) {}
  TRef<TEffTile> CreateTile(const zm::TRect& r, const zm::TPoint& cell) override {
    return MakeRef<TMaskTile>(this, r, cell, M);
  }
  void GetArea(zm::TRect& r) override { r = GetBounds(); }
  TMask* M;
};

// Draws F at progress P straight into a tile (Split false) or through the
// whole-area tile of a 2 x 2 grid.
TMask Paint(TSweepEffect& f, float p, bool split, std::vector<TEffTriangle>* tris = nullptr) {
  TMask m;
  f.SetProgress(p);
  if (!split) {
    TRef<TMaskTile> tile = MakeRef<TMaskTile>(nullptr, kTarget, zm::TPoint{0, 0}, &m);
    f.DrawInto(tile.get());
    EXPECT_FALSE(tile->open);
    if (tris) *tris = tile->Tris;
  } else {
    TRef<TMaskController> c = MakeRef<TMaskController>(&m);
    const float xs[] = {100, 131, 164}, ys[] = {50, 77, 98};
    EXPECT_TRUE(c->SetGrid(xs, 2, 2, ys));
    f.DrawInto(c->GetMultiTile());
  }
  return m;
}

// The area point at the centre of target pixel (x, y).
double Ax(int x) { return kArea.Left + x + 0.5; }
double Ay(int y) { return kArea.Top + y + 0.5; }

// Compares the mask with Want (area point to coverage) within the tolerance
// TolAt gives for the point, but never closer than half a level; a pixel no
// triangle reached has coverage 0. Unless split over a grid, where the cut
// edges are worked out again, no pixel may be drawn twice.
template <class FnWant, class FnTol>
void Expect(const TMask& m, bool once, FnWant want, FnTol tolAt) {
  int bad = 0;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const int n = m.Hits(x, y);
      if (once && n > 1 && ++bad <= 3) ADD_FAILURE() << "pixel " << x << "," << y << " drawn " << n << "x";
      const double w = want(Ax(x), Ay(y)), got = m.At(x, y);
      const double tol = std::max(0.5, double(tolAt(Ax(x), Ay(y))));
      if (std::fabs(got - w) > tol && ++bad <= 3)
        ADD_FAILURE() << "pixel " << x << "," << y << ": " << got << " instead of " << w;
    }
  EXPECT_EQ(bad, 0);
}

// ---- Broom ---------------------------------------------------------------------------------------

// The pivot of direction 1-8 for offset B, from the side or corner it belongs to.
void Pivot(int dir, double b, double& px, double& py) {
  const double l = kArea.Left, t = kArea.Top, r = kArea.Right, bo = kArea.Bottom;
  const double mx = (l + r) / 2, my = (t + bo) / 2;
  switch (dir) {
    case 1: px = mx, py = t - b; break;
    case 2: px = r + b, py = my; break;
    case 3: px = mx, py = bo + b; break;
    case 4: px = l - b, py = my; break;
    case 5: px = r + b, py = t - b; break;
    case 6: px = r + b, py = bo + b; break;
    case 7: px = l - b, py = bo + b; break;
    default: px = l - b, py = t - b; break;
  }
}

// The broom's picture worked out from the area as seen from the pivot: the
// hand starts a soft edge before the first corner and ends on the last.
struct TBroomModel {
  double px, py, lo, edge, first, last;
  TBroomModel(int dir, double b, double e) {
    Pivot(dir, b, px, py);
    const double cx = (kArea.Left + kArea.Right) / 2.0, cy = (kArea.Top + kArea.Bottom) / 2.0;
    // Angles run from the side facing away from the area, so that the area
    // lies in one piece.
    lo = std::atan2(cx - px, -(cy - py)) - kPi;
    first = 1e9;
    last = -1e9;
    for (const double x : {double(kArea.Left), double(kArea.Right)})
      for (const double y : {double(kArea.Top), double(kArea.Bottom)}) {
        if (std::hypot(x - px, y - py) < 1e-9) continue;
        const double a = Angle(x, y);
        first = std::min(first, a);
        last = std::max(last, a);
      }
    edge = 2 * std::atan(e / 2 / std::hypot(cx - px, cy - py));
  }
  double Angle(double x, double y) const {
    double a = std::atan2(x - px, -(y - py));
    while (a < lo) a += 2 * kPi;
    while (a >= lo + 2 * kPi) a -= 2 * kPi;
    return a;
  }
  double Phi(double t) const { return first - edge + (last - first + edge) * t; }
  // Incoming coverage at (x, y) with the hand at Phi.
  double Coverage(double phi, double x, double y) const {
    const double a = Angle(x, y);
    if (a < phi) return 255;
    if (a < phi + edge) return 255 - Ramp((a - phi) * 255 / edge);
    return 0;
  }
  bool Soft(double phi, double x, double y) const {
    const double a = Angle(x, y), d = 0.01 + 0.7 / std::max(std::hypot(x - px, y - py), 0.5);
    return a > phi - d && a < phi + edge + d;
  }
};

TEST(BroomFilters, EachBroomSweepsFromItsFirstCornerToItsLastInEitherDirection) {
  for (int dir = 1; dir <= 8; ++dir)
    for (const double b : {0.0, 20.0})
      for (const bool reverse : {false, true}) {
        SCOPED_TRACE(testing::Message() << "direction " << dir << " offset " << b << (reverse ? " reversed" : ""));
        TRef<TBroomEffect> f = MakeRef<TBroomEffect>(dir + (reverse ? 8 : 0), float(b));
        EXPECT_EQ(f->Reverse, reverse);
        EXPECT_EQ(f->Direction, dir);
        f->Init(kArea, 24, 1);
        f->TargetRect = kTarget;
        const TBroomModel model(dir, b, 24);
        for (const float p : kSteps) {
          SCOPED_TRACE(p);
          const double t = reverse ? 1 - p : p;
          for (const bool split : {false, true}) {
            const TMask m = Paint(*f, p, split);
            if (t == 0) {
              EXPECT_EQ(m.Triangles, 0);  // exactly the outgoing picture
              continue;
            }
            const double phi = model.Phi(t);
            if (!split && t < 1) {
              EXPECT_NEAR(std::remainder(f->Broom->CurrentAngle - phi, 2 * kPi), 0, 1e-5);
            }
            Expect(
                m, !split, [&](double x, double y) { return t == 1 ? 255.0 : model.Coverage(phi, x, y); },
                [&](double x, double y) { return t < 1 && model.Soft(phi, x, y) ? 5 : 0; });
          }
        }
      }
}

TEST(BroomFilters, HardEdgeFarPivotAndOneBroomAfterAnother) {
  // No soft edge: a hard hand without a division by zero, still swept over
  // the whole area in the end.
  TRef<TBroomEffect> hard = MakeRef<TBroomEffect>(6, 0);
  hard->Init(kArea, 0, 1);
  hard->TargetRect = kTarget;
  const TBroomModel model(6, 0, 0);
  const TMask m = Paint(*hard, 0.5f, false);
  Expect(
      m, true, [&](double x, double y) { return model.Coverage(model.Phi(0.5), x, y); },
      [&](double x, double y) { return model.Soft(model.Phi(0.5), x, y) ? 256 : 0; });
  // A pivot far beyond width + height: the fan must still reach the far
  // corner. The soft edge then spans a few of the sweep's samples only.
  TRef<TBroomEffect> far = MakeRef<TBroomEffect>(8, float(2 * (kW + kH)));
  far->Init(kArea, 10, 1);
  far->TargetRect = kTarget;
  const TBroomModel farModel(8, 2 * (kW + kH), 10);
  for (const float p : {0.5f, 0.99f}) {
    const double phi = farModel.Phi(p);
    Expect(
        Paint(*far, p, false), true, [&](double x, double y) { return farModel.Coverage(phi, x, y); },
        [&](double x, double y) { return farModel.Soft(phi, x, y) ? 12 : 0; });
  }
  // Making another broom leaves a down broom's sweep as it was.
  const TSweepArea area{float(kArea.Top), float(kH), float(kArea.Left), float(kW)};
  const auto record = [](TBroom& b, float phi) {
    std::vector<TEffVertex> out;
    b.Emit = [&](const TEffVertex& p, const TEffVertex& q, const TEffVertex& r) { out.insert(out.end(), {p, q, r}); };
    b.Sweep(phi);
    b.Emit = nullptr;
    return out;
  };
  TRef<TBroom> down = MakeBroom(3, area, 12, 5);
  const std::vector<TEffVertex> before = record(*down, 6.0f);
  TRef<TBroom> up = MakeBroom(1, area, 12, 5);
  EXPECT_EQ(record(*down, 6.0f), before);
  EXPECT_FALSE(up->WrapAngles);
  EXPECT_TRUE(down->WrapAngles);
}

TEST(BroomFilters, BroomsOnTwoThreadsKeepTheirOwnSweep) {
  // Down brooms work on other angles than the rest: two threads making and
  // sweeping both kinds must each get the picture of their own broom.
  const TSweepArea area{0, 48, 0, 64};
  const auto sweep = [&](std::int32_t dir) {
    TRef<TBroom> b = MakeBroom(dir, area, 12, 5);
    std::vector<TEffVertex> out;
    b->Emit = [&](const TEffVertex& p, const TEffVertex& q, const TEffVertex& r) { out.insert(out.end(), {p, q, r}); };
    b->Sweep(dir == 3 ? 6.0f : 3.0f);
    b->Emit = nullptr;
    return out;
  };
  const std::vector<TEffVertex> down = sweep(3), up = sweep(1);
  std::atomic<int> wrong{0};
  const auto run = [&](std::int32_t dir, const std::vector<TEffVertex>& want) {
    for (int i = 0; i < 200; ++i)
      if (sweep(dir) != want) ++wrong;
  };
  std::thread a(run, 3, std::cref(down)), b(run, 1, std::cref(up));
  a.join();
  b.join();
  EXPECT_EQ(wrong, 0);
}

TEST(BroomFilters, BadParametersGiveASaneBroom) {
  // Codes outside 1-16 are the up broom.
  for (const std::int32_t code : {0, -3, 17, INT32_MIN, INT32_MAX}) {
    TRef<TBroomEffect> f = MakeRef<TBroomEffect>(code, 5);
    EXPECT_EQ(f->Direction, 1);
    EXPECT_FALSE(f->Reverse);
  }
  // Negative, huge and broken offsets and edges: finite triangles, none
  // drawn over another, the whole area at the end.
  for (const float offset : {-50.0f, NAN, INFINITY, 1e30f})
    for (const float edge : {-5.0f, NAN, 1e30f}) {
      SCOPED_TRACE(testing::Message() << offset << " / " << edge);
      TRef<TBroomEffect> f = MakeRef<TBroomEffect>(7, offset);
      f->Init(kArea, edge, 1);
      f->TargetRect = kTarget;
      Expect(Paint(*f, 0.5f, false), true, [](double, double) { return 0.0; }, [](double, double) { return 256; });
      const TMask end = Paint(*f, 1, false);
      for (int y = 0; y < kH; y += 5)
        for (int x = 0; x < kW; x += 5) ASSERT_EQ(end.At(x, y), 255);
    }
  // Empty or inverted areas, a nil tile or effecter: nothing drawn.
  TRef<TBroomEffect> f = MakeRef<TBroomEffect>(2, 5);
  for (const zm::TRect& r : {zm::TRect{10, 10, 10, 50}, zm::TRect{50, 50, 10, 10}}) {
    f->Init(r, 5, 1);
    f->TargetRect = kTarget;
    EXPECT_EQ(Paint(*f, 0.5f, false).Triangles, 0);
  }
  f->DrawInto(nullptr);
  f->Draw(nullptr);
  // A broom swept to an angle that is not a number emits nothing.
  TRef<TBroom> b = MakeBroom(4, {0, 10, 0, 10}, 2, 1);
  int n = 0;
  b->Emit = [&](const TEffVertex&, const TEffVertex&, const TEffVertex&) { ++n; };
  b->Sweep(NAN);
  EXPECT_EQ(n, 0);
  b->Sweep(1.0f);
  EXPECT_GT(n, 100);
  EXPECT_LE(n, 1000);
}

// ---- Clock ---------------------------------------------------------------------------------------

// The clock's picture from the angle each point has turned through, with the
// soft band along the 12 o'clock line and the one along the hand.
struct TClockModel {
  double cx, cy, e, phi, c, s;
  TClockModel(double cx_, double cy_, double e_, double phi_) : cx(cx_), cy(cy_), e(e_), phi(phi_) {
    if (std::fabs(phi - kPi) < 1e-6) phi = double(std::bit_cast<float>(0x40490FD6u));
    c = std::cos(phi);
    s = std::sin(phi);
  }
  // Across the 12 o'clock band (0 left edge, 1 right) and across the hand
  // band (0 at the side the hand turns towards, 1 behind it).
  double U(double x) const { return (x - (cx - e / 2)) / e; }
  double F(double x, double y) const { return (e / 2 - (c * (x - cx) + s * (y - cy))) / e; }
  double Coverage(double x, double y) const {
    const double u = U(x), f = F(x, y), a = Ramp(255 * u), b = Ramp(255 * f);
    const bool inStart = u >= 0 && u <= 1, inHand = f >= 0 && f <= 1, firstHalf = phi < kPi;
    if (inStart && inHand) {
      double r;
      if (phi < 0.9 * kPi) {
        const double m = std::min(a, b), w = (0.9 * kPi - phi) / (0.9 * kPi);
        r = m + (a + b - 255 - m) * w * w;
      } else if (phi < kPi) {
        r = std::min(a, b);
      } else if (phi <= 1.1 * kPi) {
        r = std::max(a, b);
      } else {
        const double m = std::max(a, b), w = (phi - 1.1 * kPi) / (0.9 * kPi);
        r = m + (a + b - m) * w * w;
      }
      return std::clamp(r, 0.0, 255.0);
    }
    // Above the hand band the 12 o'clock line's edge; below it nothing
    // before the half turn and everything after.
    if (inStart) return (s > 0 ? f > 1 : f < 0) ? a : (firstHalf ? 0 : 255);
    // On the hand's side of the line the hand's edge; on the other side the same.
    if (inHand) return (firstHalf ? u > 1 : u < 0) ? b : (firstHalf ? 0 : 255);
    double angle = std::atan2(x - cx, -(y - cy));
    if (angle < 0) angle += 2 * kPi;
    return angle < phi ? 255 : 0;
  }
  // The bands are drawn in ten linear steps; the overlap's values are
  // blended at the corners of its grid, which smooths the rule's kinks.
  double Tol(double x, double y) const {
    const double u = U(x), f = F(x, y), m = 0.75 / e;
    const bool nearStart = u > -m && u < 1 + m, nearHand = f > -m && f < 1 + m;
    return nearStart && nearHand ? 16 : nearStart || nearHand ? 5 : 0;
  }
};

TEST(ClockFilter, TheHandUncoversTheTurnedAngleWithSoftBands) {
  for (const float edge : {16.0f, 5.0f, 40.0f}) {
    TRef<TClockEffect> f = MakeRef<TClockEffect>(0.5f, 0.5f, false);
    f->Init(kArea, edge, 1);
    f->TargetRect = kTarget;
    // More moments than the quarters, for each rule of the overlap.
    for (const float p : {0.0f, 0.03f, 0.25f, 0.44f, 0.5f, 0.52f, 0.6f, 0.75f, 0.97f, 1.0f}) {
      SCOPED_TRACE(testing::Message() << "edge " << edge << " at " << p);
      const TClockModel model(42, 44, edge, 2 * kPi * p);
      for (const bool split : {false, true}) {
        const TMask m = Paint(*f, p, split);
        if (p == 0) {
          EXPECT_EQ(m.Triangles, 0);
          continue;
        }
        if (p == 1) {
          if (!split) {
            EXPECT_EQ(m.Triangles, 2);
          }
          Expect(m, !split, [](double, double) { return 255.0; }, [](double, double) { return 0; });
          continue;
        }
        // Ten strips of 88 triangles, and four to eight for the regions
        // outside; those that show nothing of the slide are not drawn.
        if (!split) {
          TRef<TArrow> arrow = MakeRef<TArrow>(TSweepArea{20, 48, 10, 64}, 42, 44, edge);
          int n = 0;
          arrow->Emit = [&](const TEffVertex&, const TEffVertex&, const TEffVertex&) { ++n; };
          arrow->Sweep(float(2 * kPi * p));
          EXPECT_TRUE(n >= 884 && n <= 888) << n;
          EXPECT_LT(m.Triangles, n);
        }
        Expect(
            m, !split, [&](double x, double y) { return model.Coverage(x, y); },
            [&](double x, double y) { return model.Tol(x, y); });
      }
    }
  }
}

TEST(ClockFilter, HalfTurnMirrorAndHardEdge) {
  TRef<TClockEffect> plain = MakeRef<TClockEffect>(0.5f, 0.5f, false), mirror = MakeRef<TClockEffect>(0.5f, 0.5f, true);
  for (TClockEffect* f : {plain.get(), mirror.get()}) {
    f->Init(kArea, 12, 1);
    f->TargetRect = kTarget;
  }
  // Half-way: the right half swept, the left untouched, the ramp across the
  // 12 o'clock band over the full height.
  TMask half = Paint(*plain, 0.5f, false);
  for (int y = 0; y < kH; ++y) {
    EXPECT_EQ(half.At(0, y), 0);
    EXPECT_EQ(half.At(kW - 1, y), 255);
    EXPECT_NEAR(half.At(kW / 2, y), Ramp(255 * (Ax(kW / 2) - 36) / 12), 3);
  }
  // Mirrored: the same picture reflected left to right, each triangle wound
  // the same way.
  for (const float p : {0.1f, 0.3f, 0.6f, 0.9f}) {
    std::vector<TEffTriangle> a, b;
    const TMask ma = Paint(*plain, p, false, &a), mb = Paint(*mirror, p, false, &b);
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) ASSERT_NEAR(mb.At(x, y), ma.At(kW - 1 - x, y), 0.5) << p << " " << x << "," << y;
    ASSERT_EQ(a.size(), b.size());
    const auto wind = [](const TEffTriangle& t) {
      const double w = (t[1].X - t[0].X) * (t[2].Y - t[0].Y) - (t[2].X - t[0].X) * (t[1].Y - t[0].Y);
      return w > 1e-6 ? 1 : w < -1e-6 ? -1 : 0;
    };
    for (std::size_t i = 0; i < a.size(); ++i) ASSERT_EQ(wind(a[i]), wind(b[i])) << p << " triangle " << i;
  }
  // No soft edge: 0.001 pixels, hard bands, nothing that is not a number.
  TRef<TClockEffect> hard = MakeRef<TClockEffect>(0.5f, 0.5f, false);
  hard->Init(kArea, 0, 1);
  hard->TargetRect = kTarget;
  for (const float p : {0.2f, 0.7f}) {
    const TClockModel model(42, 44, 0.001, 2 * kPi * p);
    Expect(
        Paint(*hard, p, false), true, [&](double x, double y) { return model.Coverage(x, y); },
        [&](double x, double y) {
          return std::fabs(x - 42) < 1 || std::fabs(model.c * (x - 42) + model.s * (y - 44)) < 1 ? 256 : 0;
        });
  }
  EXPECT_EQ(hard->Arrow->EdgeWidth, 0.001f);
}

TEST(ClockFilter, OffCentrePivotAndBadInput) {
  // A pivot off the centre: the regions on the two sides are decided each
  // on its own, so the area is still covered once everywhere.
  for (const float cx : {0.2f, 0.9f})
    for (const float p : {0.15f, 0.4f, 0.6f, 0.85f}) {
      SCOPED_TRACE(testing::Message() << cx << " at " << p);
      TRef<TClockEffect> f = MakeRef<TClockEffect>(cx, 0.3f, false);
      f->Init(kArea, 10, 1);
      f->TargetRect = kTarget;
      const TClockModel model(std::trunc(64 * cx + 10), std::trunc(48 * 0.3f + 20), 10, 2 * kPi * p);
      Expect(
          Paint(*f, p, false), true, [&](double x, double y) { return model.Coverage(x, y); },
          [&](double x, double y) { return model.Tol(x, y); });
    }
  // An edge wider than the area: the bands reach past the side edges.
  for (const float p : {0.3f, 0.7f}) {
    TRef<TClockEffect> f = MakeRef<TClockEffect>(0.5f, 0.5f, false);
    f->Init(kArea, 160, 1);
    f->TargetRect = kTarget;
    const TClockModel model(42, 44, 160, 2 * kPi * p);
    Expect(
        Paint(*f, p, false), true, [&](double x, double y) { return model.Coverage(x, y); },
        [&](double x, double y) { return model.Tol(x, y); });
  }
  // Broken centres and edges, empty areas, angles out of range: finite
  // triangles or none, never a crash.
  for (const float c : {NAN, INFINITY, -1e9f, 1e9f})
    for (const float edge : {-1.0f, NAN, 1e30f}) {
      TRef<TClockEffect> f = MakeRef<TClockEffect>(c, 0.5f, c > 0);
      f->Init(kArea, edge, 1);
      f->TargetRect = kTarget;
      for (const float p : {0.3f, 0.5f, 0.8f}) Paint(*f, p, false);
    }
  TRef<TClockEffect> f = MakeRef<TClockEffect>(0.5f, 0.5f, false);
  f->Init({5, 5, 5, 40}, 4, 1);
  f->TargetRect = kTarget;
  EXPECT_EQ(Paint(*f, 0.5f, false).Triangles, 0);
  f->Draw(nullptr);
  TRef<TArrow> arrow = MakeRef<TArrow>(TSweepArea{0, 10, 0, 10}, 5, 5, 2);
  int n = 0;
  arrow->Emit = [&](const TEffVertex& a, const TEffVertex& b, const TEffVertex& c) {
    for (const TEffVertex& v : {a, b, c}) EXPECT_TRUE(std::isfinite(v.X) && std::isfinite(v.Y) && std::isfinite(v.C));
    ++n;
  };
  arrow->Sweep(NAN);
  EXPECT_EQ(n, 0);
  arrow->Sweep(-1);  // kept at 0: nothing
  EXPECT_EQ(n, 0);
  arrow->Sweep(100);  // kept at a full turn: the whole area
  EXPECT_EQ(n, 2);
  // A hand all but horizontal or vertical.
  for (const float phi : {float(kPi / 2), float(3 * kPi / 2), 2e-6f, float(kPi) + 2e-6f, float(2 * kPi) - 2e-6f}) {
    n = 0;
    arrow->Sweep(phi);
    EXPECT_GE(n, 884) << phi;
  }
}

TEST(BroomFilters, TheFactoryMakesClockAndBroomsWithTheirSettings) {
  const auto make = [](std::vector<std::uint8_t> flags, float offset = 0) {
    TRef<TTransitionDef> def = MakeRef<TTransitionDef>();
    def->Kind = 2;
    def->Flags = std::move(flags);
    def->Floats = {offset};
    return CreateTransitionFilter({64, 48}, def.get(), nullptr, false);
  };
  // The centre cell wins over the others.
  TRef<TDrawFilter> f = make({0, 1, 1, 0, 0, 0, 1});
  auto* clock = dynamic_cast<TClockEffect*>(f.get());
  ASSERT_NE(clock, nullptr);
  EXPECT_TRUE(clock->Mirror);
  EXPECT_EQ(clock->CenterX, 0.5f);
  f = make({0, 1, 0, 0, 0, 1}, 0.5f);  // cell 3, reversed
  auto* broom = dynamic_cast<TBroomEffect*>(f.get());
  ASSERT_NE(broom, nullptr);
  EXPECT_EQ(broom->Direction, 4);
  EXPECT_TRUE(broom->Reverse);
  EXPECT_FLOAT_EQ(broom->Spread, 28);  // (64 + 48) / 2 x 0.5
  f = make({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1});
  broom = dynamic_cast<TBroomEffect*>(f.get());
  ASSERT_NE(broom, nullptr);
  EXPECT_EQ(broom->Direction, 6);
  EXPECT_FALSE(broom->Reverse);
}

// ---- On the software device, through the drawer ----------------------------------------------------

class SweepOnDevice : public drawertest::TTransitionOnDevice {
protected:
  static constexpr std::uint32_t kA = 0xE03010u, kB = 0x1060F0u;
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
  // Blue of slide A under slide B at incoming coverage C.
  static int Blue(double c) {
    return int(std::lround(double(kA & 0xFF) * (255 - c) / 255 + double(kB & 0xFF) * c / 255));
  }
};

TEST_F(SweepOnDevice, ClockAndReversedBroomFrames) {
  TRef<TTransitionDef> clock = MakeRef<TTransitionDef>(), broom = MakeRef<TTransitionDef>();
  clock->Kind = broom->Kind = 2;
  clock->Flags = {0, 0, 0, 0, 0, 0, 1};
  // From beyond the top-left corner, reversed: the outgoing slide swept back
  // in.
  broom->Flags = {0, 1, 1};
  broom->Floats = {0.2f};
  clock->Smoothline = broom->Smoothline = 0.25;
  for (const float t : {0.25f, 0.5f, 0.75f}) {
    SCOPED_TRACE(t);
    const TClockModel cm(32, 24, 16, 2 * kPi * t);
    Show(clock.get(), t);
    int bad = 0;
    // Pixel centres at whole or half coordinates will do. The device's tiles
    // move corners on the left and top edge 2 pixels out, which bends thin
    // pieces of the edge there: the first rows and columns are left out.
    for (int y = 5; y < 48; y += 2)
      for (int x = 5; x < 64; x += 2) {
        const double c0 = cm.Coverage(x, y), c1 = cm.Coverage(x + 0.5, y + 0.5);
        const int got = int(At(x, y) & 0xFF), lo = std::min(Blue(c0), Blue(c1)), hi = std::max(Blue(c0), Blue(c1));
        if ((got < lo - 8 || got > hi + 8) && ++bad <= 3) ADD_FAILURE() << "clock " << x << "," << y << ": " << got;
      }
    Show(broom.get(), t);
    // Reversed: slide A through the broom at 1 - t over slide B.
    TBroomModel bm(8, 11.2, 16);
    // The model's area is kArea; the drawer's is (0, 0, 64, 48).
    bm.px -= kArea.Left;
    bm.py -= kArea.Top;
    const double phi = bm.Phi(1 - t);
    // The tile moves corners on the area's left and top edge 2 pixels out,
    // which shears the long thin pieces of the fan that reach from there:
    // the first columns and rows are left out, and the soft edge gets a
    // wide margin.
    for (int y = 17; y < 48; y += 2)
      for (int x = 17; x < 64; x += 2) {
        const double c0 = 255 - bm.Coverage(phi, x, y), c1 = 255 - bm.Coverage(phi, x + 0.5, y + 0.5);
        const int got = int(At(x, y) & 0xFF), lo = std::min(Blue(c0), Blue(c1)), hi = std::max(Blue(c0), Blue(c1));
        const int slack = bm.Soft(phi, x, y) || bm.Soft(phi, x + 0.5, y + 0.5) ? 32 : 2;
        if ((got < lo - slack || got > hi + slack) && ++bad <= 6)
          ADD_FAILURE() << "broom " << x << "," << y << ": " << got << " not within " << lo << ".." << hi;
      }
    EXPECT_EQ(bad, 0);
  }
  // The ends: the outgoing slide at 0 and the incoming one at 1 for the
  // clock; the reversed broom starts on the outgoing slide too.
  Show(clock.get(), 0);
  EXPECT_EQ(At(40, 10), kA);
  Show(clock.get(), 1);
  EXPECT_EQ(At(40, 10), kB);
  Show(broom.get(), 0);
  EXPECT_EQ(At(60, 40), kA);
}

}  // namespace broomfilterstest
