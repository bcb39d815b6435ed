// The roll transition: frames at five points of the transition against the
// picture of a sheet rolled on a cylinder worked out here for every
// direction; the rolled sheet's geometry (no stretching, on the cylinder,
// continuous as the roll line crosses the start edge, out of view at the
// start); the strips; the reverse directions; a grid of tiles; the factory;
// bad input; one frame through the drawer on the software device.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

#include "OruLib2/3DEngine/EffTiles.h"
#include "OruLib2/3DEngine/FilterFactory.h"
#include "OruLib2/3DEngine/OruFilter.h"
#include "OruLib2/3DEngine/RollFilter.h"
#include "tests/support/DrawerOnDevice.h"

namespace rollfiltertest {

using namespace zm;
using oru::TEffTriangle;
using oru::TRoller3;
using oru::TRollEffect2;

constexpr double kPi = std::numbers::pi;
using TPixelFn = std::function<std::uint32_t(int, int)>;

// Patterned so that a shift or a mirror shows.
std::uint32_t Outgoing(int x, int y) {
  return (std::uint32_t((x * 13 + 20) & 0xFF) << 16) | (std::uint32_t((y * 17 + 5) & 0xFF) << 8) | 0x40u;
}
std::uint32_t Incoming(int x, int y) {
  return (std::uint32_t((200 - x * 5) & 0xFF) << 16) | (std::uint32_t(0x80 ^ ((x * y) & 0xFF)) << 8) |
         std::uint32_t((y * 9 + 3) & 0xFF);
}

int Ch(std::uint32_t c, int s) { return int((c >> s) & 0xFF); }
std::uint32_t Grey(std::uint32_t c, int g) {
  std::uint32_t out = 0;
  for (int s = 0; s < 24; s += 8) out |= std::uint32_t((Ch(c, s) * g + 127) / 255) << s;
  return out;
}

// ---- A controller that rasterises into a frame (orthographic: depth is dropped) ----------------------

template <class Fn>
void Raster(const float (&x)[3], const float (&y)[3], int w, int h, Fn&& at) {
  const double ax = x[0], ay = y[0];
  double bx = x[1], by = y[1], cx = x[2], cy = y[2];
  const auto edge = [](double x0, double y0, double x1, double y1, double px, double py) {
    return (x1 - x0) * (py - y0) - (y1 - y0) * (px - x0);
  };
  double area = edge(ax, ay, bx, by, cx, cy);
  if (area == 0) return;
  const bool swapped = area < 0;
  if (swapped) {
    std::swap(bx, cx);
    std::swap(by, cy);
    area = -area;
  }
  const auto inside = [](double e, double x0, double y0, double x1, double y1) {
    if (e != 0) return e > 0;
    const double nx = -(y1 - y0), ny = x1 - x0;  // top-left rule
    return nx > 0 || (nx == 0 && ny > 0);
  };
  for (int py = 0; py < h; ++py)
    for (int px = 0; px < w; ++px) {
      const double qx = px + 0.5, qy = py + 0.5;
      const double e0 = edge(bx, by, cx, cy, qx, qy), e1 = edge(cx, cy, ax, ay, qx, qy),
                   e2 = edge(ax, ay, bx, by, qx, qy);
      if (!inside(e0, bx, by, cx, cy) || !inside(e1, cx, cy, ax, ay) || !inside(e2, ax, ay, bx, by)) continue;
      double l1 = e1 / area, l2 = e2 / area;
      if (swapped) std::swap(l1, l2);
      at(px, py, e0 / area, l1, l2);
    }
}

struct TFrame {
  int W = 0, H = 0;
  std::vector<std::uint32_t> Px;
  TRect Area;
  std::vector<TPoint> Begun;  // cells in the order their batches began
  int BadSources = 0;         // source points outside their tile's cell
};

class TRasterTile : public oru::TEffTile {
public:
  TRasterTile(oru::TEffController* c, const TRect& r, const TPoint& cell, TFrame* f) : TEffTile(c, r, cell), F(f) {}
  void Begin(std::int32_t mode, bool shaded) override {
    EXPECT_FALSE(open_);
    EXPECT_EQ(shaded, mode == oru::emTextured);
    open_ = true;
    F->Begun.push_back(Cell);
  }
  void Source(const TEffTriangle& v) {
    for (const auto& p : v) {
      EXPECT_TRUE(p.C >= 50 - 1e-3 && p.C <= 255 + 1e-3) << p.C;
      if (p.X < Rect.Left - 1e-3 || p.X > Rect.Right + 1e-3 || p.Y < Rect.Top - 1e-3 || p.Y > Rect.Bottom + 1e-3)
        ++F->BadSources;
    }
  }
  void Textured(const TEffTriangle& v, const float (&x)[3], const float (&y)[3]) {
    EXPECT_TRUE(open_);
    Source(v);
    Raster(x, y, F->W, F->H, [&](int px, int py, double l0, double l1, double l2) {
      const double sx = l0 * v[0].X + l1 * v[1].X + l2 * v[2].X, sy = l0 * v[0].Y + l1 * v[1].Y + l2 * v[2].Y;
      const int g = int(l0 * v[0].C + l1 * v[1].C + l2 * v[2].C + 1e-6);
      F->Px[std::size_t(py * F->W + px)] = Grey(Incoming(int(std::floor(sx)), int(std::floor(sy))), g);
    });
  }
  void AddShadedTextureTriangle(const TEffTriangle& v, const oru::TEffPoints2& p) override {
    const float x[3] = {p[0].X, p[1].X, p[2].X}, y[3] = {p[0].Y, p[1].Y, p[2].Y};
    Textured(v, x, y);
  }
  void AddShadedTriangle(const TEffTriangle& v, const oru::TEffPoints3& p) override {
    // Nothing behind the slide's plane: the outgoing slide hides it.
    for (const auto& q : p) EXPECT_TRUE(q.Z <= 1e-2f) << q.Z;
    const float x[3] = {p[0].X, p[1].X, p[2].X}, y[3] = {p[0].Y, p[1].Y, p[2].Y};
    Textured(v, x, y);
  }
  void AddColoredPoints(const oru::TEffPoints2& p, const oru::TEffColors& c) override {
    EXPECT_TRUE(open_);
    const float x[3] = {p[0].X, p[1].X, p[2].X}, y[3] = {p[0].Y, p[1].Y, p[2].Y};
    Raster(x, y, F->W, F->H, [&](int px, int py, double l0, double l1, double l2) {
      std::uint32_t out = 0;
      for (int s = 0; s < 24; s += 8)
        out |= std::uint32_t(l0 * Ch(c[0], s) + l1 * Ch(c[1], s) + l2 * Ch(c[2], s) + 0.5) << s;
      F->Px[std::size_t(py * F->W + px)] = out;
    });
  }
  void AddTriangle(const TEffTriangle&) override { ADD_FAILURE(); }
  void AddColoredTriangle(const TEffTriangle&, const oru::TEffColors&) override { ADD_FAILURE(); }
  void End() override {
    EXPECT_TRUE(open_);
    open_ = false;
  }

private:
  TFrame* F;
  bool open_ = false;
};

class TRasterController : public oru::TEffController {
public:
  explicit TRasterController(TFrame* f) : F(f) {}
  TRef<oru::TEffTile> CreateTile(const TRect& r, const TPoint& cell) override {
    return MakeRef<TRasterTile>(this, r, cell, F);
  }
  void GetArea(TRect& r) override { r = F->Area; }
  TFrame* F;
};

// A frame of 84 x 68 around a 64 x 48 area, so that a wrong origin shows.
constexpr int kFW = 84, kFH = 68;
constexpr TRect kArea{10, 10, 74, 58};

TFrame Paint(TRollEffect2& f, float t, std::vector<float> xs = {0, kFW}, std::vector<float> ys = {0, kFH},
             TRect area = kArea) {
  TFrame frame{kFW, kFH, std::vector<std::uint32_t>(kFW * kFH), area, {}, 0};
  for (int y = 0; y < kFH; ++y)
    for (int x = 0; x < kFW; ++x) frame.Px[std::size_t(y * kFW + x)] = Outgoing(x, y);
  TRef<TRasterController> c = MakeRef<TRasterController>(&frame);
  EXPECT_TRUE(c->SetGrid(xs, std::int32_t(xs.size() - 1), std::int32_t(ys.size() - 1), ys));
  f.SetProgress(t);
  f.DrawTo(c.get());
  return frame;
}

TRef<TRollEffect2> Roll(int style, int direction, int radius, bool tube = false) {
  TRef<TRollEffect2> f = MakeRef<TRollEffect2>(style, direction);
  f->Radius = radius;
  f->Tube = tube;
  f->Init(kArea, 0, 1);
  return f;
}

// ---- The picture of a rolled sheet, worked out from the geometry --------------------------------------

const TFloatPoint kDirs[8] = {{1, 0}, {-1, 0}, {0, -1}, {0, 1}, {1, 1}, {1, -1}, {-1, 1}, {-1, -1}};

enum class TLayer { Background, FrontFlat, FrontArc, BackArc, BackFlat };

struct TExpect {
  TLayer Layer = TLayer::Background;
  double Wsrc = 0;  // along the roll, where the shown point lies on the flat sheet
};

// The sheet is the area; w runs along the roll direction, n across it. The
// roll line runs from one radius before the nearest corner or edge to the
// farthest; past it the sheet is wound onto a cylinder of radius R lying on
// the sheet, over half a turn and then flat back over the sheet, or in a
// tube over three quarters of a turn.
struct TSheet {
  double dx, dy, R;
  bool tube;
  double w0, w1;  // the area's extent along the roll
  double lead;    // how far before the near edge the roll line starts

  TSheet(int kind, double r, bool t, double leadRadii = 1) : R(r), tube(t), lead(r * leadRadii) {
    const double l = std::hypot(kDirs[kind - 1].X, kDirs[kind - 1].Y);
    dx = kDirs[kind - 1].X / l;
    dy = kDirs[kind - 1].Y / l;
    w0 = 1e9;
    w1 = -1e9;
    for (double x : {double(kArea.Left), double(kArea.Right)})
      for (double y : {double(kArea.Top), double(kArea.Bottom)}) {
        w0 = std::min(w0, W(x, y));
        w1 = std::max(w1, W(x, y));
      }
  }
  double W(double x, double y) const { return x * dx + y * dy; }
  double N(double x, double y) const { return -x * dy + y * dx; }
  double Line(double t) const { return (w0 - lead) + (w1 - (w0 - lead)) * t; }
  bool InArea(double x, double y) const {
    return x >= kArea.Left && x <= kArea.Right && y >= kArea.Top && y <= kArea.Bottom;
  }
  // Whether the sheet point at (w, n) exists.
  bool OnSheet(double w, double n) const {
    const double x = w * dx - n * dy, y = w * dy + n * dx;
    return InArea(x, y);
  }
  TExpect At(double x, double y, double p) const {
    const double w = W(x, y), n = N(x, y);
    const double q = (w - p) / R;
    if (q >= -1 && q <= 1) {
      const double phi = kPi - std::asin(q);  // the far side of the cylinder
      if (phi <= (tube ? 1.5 * kPi : kPi) && OnSheet(p + R * phi, n)) return {TLayer::BackArc, p + R * phi};
    }
    if (!tube && w < p && OnSheet(p + kPi * R + (p - w), n)) return {TLayer::BackFlat, p + kPi * R + (p - w)};
    if (w <= p) return {TLayer::FrontFlat, w};
    if (q <= 1 && OnSheet(p + R * std::asin(q), n)) return {TLayer::FrontArc, p + R * std::asin(q)};
    return {};
  }
  // The same layer all round the pixel centre.
  bool Settled(double x, double y, double p, TLayer layer) const {
    for (double ox : {-1.5, 0.0, 1.5})
      for (double oy : {-1.5, 0.0, 1.5})
        if (At(x + ox, y + oy, p).Layer != layer) return false;
    return true;
  }
};

struct TCheck {
  int exact = 0, layers[5] = {};
};

// Checks the frame pixel by pixel where the layer is settled: the
// background and the flat parts exactly, the coloured back by its colour.
TCheck CheckFrame(const TFrame& frame, const TSheet& s, double p, int arcStep, const std::uint8_t* colour) {
  TCheck c;
  for (int y = kArea.Top; y < kArea.Bottom; ++y)
    for (int x = kArea.Left; x < kArea.Right; ++x) {
      const double cx = x + 0.5, cy = y + 0.5;
      const TExpect e = s.At(cx, cy, p);
      const std::uint32_t got = frame.Px[std::size_t(y * kFW + x)];
      if (!s.Settled(cx, cy, p, e.Layer)) continue;
      ++c.layers[int(e.Layer)];
      // Near the roll line the strips of the curl shade the flat parts.
      const bool nearLine = s.W(cx, cy) > p - arcStep - 2;
      if (e.Layer == TLayer::Background) {
        EXPECT_EQ(got, Outgoing(x, y)) << x << "," << y;
        ++c.exact;
      } else if (e.Layer == TLayer::FrontFlat && !nearLine) {
        EXPECT_EQ(got, Incoming(x, y)) << x << "," << y;
        ++c.exact;
      } else if (e.Layer == TLayer::FrontArc) {
        // Shaded, but drawn: no hole to the outgoing slide.
        EXPECT_NE(got, Outgoing(x, y)) << x << "," << y;
      } else if (colour && (e.Layer == TLayer::BackFlat || e.Layer == TLayer::BackArc)) {
        // Red only: a grey level of 50..255 of it.
        EXPECT_TRUE(Ch(got, 8) == 0 && Ch(got, 0) == 0 && Ch(got, 16) >= 49) << std::hex << got;
      } else if (e.Layer == TLayer::BackFlat && !nearLine) {
        // The mirrored sheet, unshaded.
        const double d = e.Wsrc - s.W(cx, cy);
        const double sx = cx + d * s.dx, sy = cy + d * s.dy;
        bool found = false;
        for (double o : {-0.02, 0.0, 0.02})
          for (double o2 : {-0.02, 0.0, 0.02})
            found = found || got == Incoming(int(std::floor(sx + o)), int(std::floor(sy + o2)));
        EXPECT_TRUE(found) << x << "," << y << std::hex << " got " << got;
        ++c.exact;
      }
    }
  return c;
}

// Style and direction of each roller kind (forward).
struct TKindCase {
  int kind, style, direction;
};
constexpr TKindCase kKinds[] = {{1, 14, 1}, {4, 14, 2}, {2, 14, 3}, {3, 14, 4},
                                {5, 15, 1}, {7, 15, 2}, {8, 15, 3}, {6, 15, 4}};

TEST(RollFilter, EachDirectionShowsTheSheetRolledOnItsCylinderFromFirstToSecondSlide) {
  for (const bool tube : {false, true})
    for (const TKindCase& k : kKinds) {
      SCOPED_TRACE(testing::Message() << "kind " << k.kind << (tube ? " tube" : ""));
      TRef<TRollEffect2> f = Roll(k.style, k.direction, 8, tube);
      ASSERT_EQ(f->RollerKind(), k.kind);
      // The ends are exact: the outgoing slide, then the incoming one.
      const TFrame first = Paint(*f, 0), last = Paint(*f, 1);
      for (int y = kArea.Top; y < kArea.Bottom; ++y)
        for (int x = kArea.Left; x < kArea.Right; ++x) {
          ASSERT_EQ(first.Px[std::size_t(y * kFW + x)], Outgoing(x, y)) << x << "," << y;
          ASSERT_EQ(last.Px[std::size_t(y * kFW + x)], Incoming(x, y)) << x << "," << y;
        }
      const TSheet s(k.kind, 8, tube);
      for (const float t : {0.25f, 0.5f, 0.75f}) {
        SCOPED_TRACE(t);
        const TCheck c = CheckFrame(Paint(*f, t), s, s.Line(t), 3, nullptr);
        // Enough of the picture was settled to mean something.
        EXPECT_GT(c.exact, 64 * 48 / 3);
        // Until the sheet left is shorter than the curl, its back shows.
        if (t <= 0.5f) {
          EXPECT_GT(c.layers[int(TLayer::BackArc)], 0);
        }
        if (!tube && t == 0.25f) {
          EXPECT_GT(c.layers[int(TLayer::BackFlat)], 0);
        }
      }
    }
}

TEST(RollFilter, WithVolumeTheSheetSeenFromAboveIsTheSameRoll) {
  // Depth changes how the curl looks in perspective, not where the flat
  // parts are; the roll line starts a quarter turn of the curl earlier.
  for (const TKindCase& k : {kKinds[0], kKinds[3], kKinds[5]}) {
    SCOPED_TRACE(k.kind);
    TRef<TRollEffect2> f = Roll(k.style, k.direction, 8);
    f->UseVolume = true;
    f->Volume = 0.6f;
    const TFrame first = Paint(*f, 0), last = Paint(*f, 1);
    for (int y = kArea.Top; y < kArea.Bottom; ++y)
      for (int x = kArea.Left; x < kArea.Right; ++x) {
        ASSERT_EQ(first.Px[std::size_t(y * kFW + x)], Outgoing(x, y)) << x << "," << y;
        ASSERT_EQ(last.Px[std::size_t(y * kFW + x)], Incoming(x, y)) << x << "," << y;
      }
    const TSheet s(k.kind, 8, false, kPi / 2);
    for (const float t : {0.25f, 0.5f, 0.75f}) EXPECT_GT(CheckFrame(Paint(*f, t), s, s.Line(t), 3, nullptr).exact, 1000);
  }
}

TEST(RollFilter, ColouredBackAndReverseDirections) {
  // The back of the sheet in the colour, shaded.
  for (const TKindCase& k : {kKinds[0], kKinds[6]}) {
    TRef<TRollEffect2> f = Roll(k.style, k.direction, 8);
    f->UseColor = true;
    f->Color[0] = 255;
    const TSheet s(k.kind, 8, false);
    const TCheck c = CheckFrame(Paint(*f, 0.6f), s, s.Line(0.6), 3, f->Color);
    EXPECT_GT(c.layers[int(TLayer::BackFlat)] + c.layers[int(TLayer::BackArc)], 100);
  }
  // Directions 5-8 run the roll of their partner backwards.
  const int partner[] = {3, 4, 1, 2};
  for (const int style : {14, 15})
    for (int d = 5; d <= 8; ++d) {
      SCOPED_TRACE(testing::Message() << style << " " << d);
      TRef<TRollEffect2> back = Roll(style, d, 8), fwd = Roll(style, partner[d - 5], 8);
      EXPECT_TRUE(back->Reverse);
      EXPECT_FALSE(fwd->Reverse);
      EXPECT_EQ(back->RollerKind(), fwd->RollerKind());
      for (const float t : {0.0f, 0.25f, 0.5f, 1.0f}) {
        const TFrame a = Paint(*back, t), b = Paint(*fwd, 1 - t);
        EXPECT_EQ(back->RangeStart, fwd->RangeEnd);
        int differ = 0;
        for (std::size_t i = 0; i < a.Px.size(); ++i) differ += a.Px[i] != b.Px[i];
        EXPECT_LE(differ, int(a.Px.size()) / 200) << t;
      }
    }
}

TEST(RollFilter, AGridOfTilesGetsEachCellsPartInOrderFromTheRollsSide) {
  for (const TKindCase& k : {kKinds[0], kKinds[3], kKinds[7]}) {
    SCOPED_TRACE(k.kind);
    TRef<TRollEffect2> whole = Roll(k.style, k.direction, 8), split = Roll(k.style, k.direction, 8);
    const TFrame a = Paint(*whole, 0.75f);
    // Grid lines that are not the area's: the outer cells reach past it.
    const TFrame b = Paint(*split, 0.75f, {0, 30, 50, kFW}, {0, 40, kFH});
    EXPECT_EQ(b.BadSources, 0);
    const TSheet s(k.kind, 8, false);
    EXPECT_GT(CheckFrame(b, s, s.Line(0.75), 3, nullptr).exact, 64 * 48 / 3);
    // Cut lines through the curl add vertices on it; little else may change
    // (a grey level either way where the shade is interpolated).
    int differ = 0;
    for (std::size_t i = 0; i < a.Px.size(); ++i)
      for (int sh = 0; sh < 24; sh += 8)
        if (std::abs(Ch(a.Px[i], sh) - Ch(b.Px[i], sh)) > 1) {
          ++differ;
          break;
        }
    EXPECT_LE(differ, 100);
    ASSERT_FALSE(b.Begun.empty());
    // The first batch is on the side where the roll begins.
    const TPoint first = b.Begun.front();
    EXPECT_EQ(first.X, kDirs[k.kind - 1].X < 0 ? 2 : 0);
    EXPECT_EQ(first.Y, kDirs[k.kind - 1].Y < 0 ? 1 : 0);
  }
  // Only the cells that meet the area are visited: a grid whose first column
  // lies left of the area.
  TRef<TRollEffect2> f = Roll(14, 1, 8);
  const TFrame c = Paint(*f, 0.5f, {0, 5, kFW}, {0, kFH});
  for (const TPoint& cell : c.Begun) EXPECT_EQ(cell.X, 1);
}

// ---- The roller's geometry ----------------------------------------------------------------------------

// Points of the sheet on a line along the roll, Step apart.
std::vector<TPoint3F> MapLine(const TRoller3& r, double step, double across) {
  std::vector<TPoint3F> out;
  const double dx = r.Dir.X, dy = r.Dir.Y;
  const double l = std::hypot(dx, dy);
  const double cx = (kArea.Left + kArea.Right) / 2.0, cy = (kArea.Top + kArea.Bottom) / 2.0;
  for (double w = -60; w <= 60; w += step) {
    const double x = cx + (w * dx - across * dy) / l, y = cy + (w * dy + across * dx) / l;
    if (x < kArea.Left || x > kArea.Right || y < kArea.Top || y > kArea.Bottom) continue;
    out.push_back(r.Map(float(x), float(y)));
  }
  return out;
}

TEST(RollFilter, TheRolledSheetDoesNotStretchAndTurnsSmoothlyAboutTheStartEdge) {
  for (const int kind : {1, 3, 5, 8})
    for (const bool volume : {false, true})
      for (const bool tube : {false, true}) {
        SCOPED_TRACE(testing::Message() << kind << (volume ? " volume" : "") << (tube ? " tube" : ""));
        TRef<TRoller3> r = MakeRef<TRoller3>(kind, 1.0f, volume, kArea);
        r->Radius = 6;
        r->ArcStep = 3;
        r->ArcAngle = tube ? float(2 * kPi) : float(kPi);
        float start = 0, end = 0;
        r->GetRange(start, end);
        const double sign = r->Dir.X != 0 ? (r->Dir.X < 0 ? -1 : 1) : (r->Dir.Y < 0 ? -1 : 1);
        // The roll line at its start puts the whole sheet outside the area;
        // at its end the sheet lies flat, unmoved.
        r->SetPosition(start);
        for (const TPoint3F& p : MapLine(*r, 0.5, 3))
          EXPECT_FALSE(p.X > kArea.Left + 1e-3 && p.X < kArea.Right - 1e-3 && p.Y > kArea.Top + 1e-3 &&
                       p.Y < kArea.Bottom - 1e-3)
              << p.X << "," << p.Y << "," << p.Z;
        r->SetPosition(end);
        for (float x = 10; x <= 74; x += 3.5f) {
          const TPoint3F p = r->Map(x, 30.25f);
          EXPECT_EQ(p.X, x);
          EXPECT_EQ(p.Y, 30.25f);
          EXPECT_EQ(p.Z, 0.0f);
        }
        // Rolling does not stretch the sheet: neighbours stay 0.5 apart, on
        // the arc and off it, before and after the roll line reaches the
        // start edge (a tube's last quarter collapses onto one line).
        for (const double f : {0.1, 0.3, 0.5, 0.8}) {
          r->SetPosition(float(start + (end - start) * f));
          const std::vector<TPoint3F> line = MapLine(*r, 0.5, 2);
          ASSERT_GT(line.size(), 20u);
          for (std::size_t i = 1; i < line.size(); ++i) {
            const double dz = volume ? line[i].Z - line[i - 1].Z : 0;
            const double d = std::hypot(line[i].X - line[i - 1].X, line[i].Y - line[i - 1].Y, dz);
            if (!volume) {
              EXPECT_LE(d, 0.5 + 1e-3);
            } else if (tube) {
              EXPECT_LE(d, 0.51) << f << " at " << i;  // the last quarter collapses
            } else {
              EXPECT_NEAR(d, 0.5, 0.01) << f << " at " << i;
            }
          }
        }
        // The roll line crossing the start edge moves nothing by a jump.
        const double edge = kind <= 4 ? (sign > 0 ? (r->Dir.X != 0 ? kArea.Left : kArea.Top)
                                                  : (r->Dir.X != 0 ? kArea.Right : kArea.Bottom))
                                      : start + (r->Dir.X < 0 ? -1 : 1) * (volume ? kPi / 2 : 1.0) * 6 / 1.41421356;
        r->SetPosition(float(edge - sign * 1e-3));
        const std::vector<TPoint3F> a = MapLine(*r, 1, 1);
        r->SetPosition(float(edge + sign * 1e-3));
        const std::vector<TPoint3F> b = MapLine(*r, 1, 1);
        ASSERT_EQ(a.size(), b.size());
        for (std::size_t i = 0; i < a.size(); ++i)
          EXPECT_LT(std::hypot(a[i].X - b[i].X, a[i].Y - b[i].Y, a[i].Z - b[i].Z), 0.05) << i;
      }
}

TEST(RollFilter, WithVolumeTheCurlLiesOnACylinderTouchingTheRollLine) {
  TRef<TRoller3> r = MakeRef<TRoller3>(1, 0.5f, true, kArea);
  r->Radius = 10;
  r->SetPosition(30);
  for (float x = 30; x < 30 + 10 * kPi; x += 1.0f) {
    const TPoint3F p = r->Map(x, 20);
    // Depth is scaled by the volume: the circle about (30, -10).
    EXPECT_NEAR(std::hypot(p.X - 30, p.Z / 0.5 + 10), 10, 1e-3) << x;
    EXPECT_NEAR(std::sin((x - 30) / 10) * 10 + 30, p.X, 1e-3);
  }
  EXPECT_NEAR(r->Map(70, 20).Z, -20 * 0.5, 1e-4);  // flat back on top of the roll
}

// ---- Strips ---------------------------------------------------------------------------------------------

struct TStrips {
  std::vector<oru::TRollTriangle> tris;
  std::vector<bool> back;
  double area = 0;
};

TStrips Generate(int kind, int radius, float position, bool volume = false) {
  TStrips s;
  TRef<TRoller3> r = MakeRef<TRoller3>(kind, 1.0f, volume, kArea);
  r->Radius = float(radius);
  r->ArcStep = TRollEffect2::ArcStepFor(radius);
  r->Emit = [&](const oru::TRollTriangle& t, bool b) {
    s.tris.push_back(t);
    s.back.push_back(b);
    s.area += std::fabs((t[1].x - t[0].x) * (t[2].y - t[0].y) - (t[2].x - t[0].x) * (t[1].y - t[0].y)) / 2;
  };
  r->SetPosition(position);
  return s;
}

TEST(RollFilter, StripsCoverTheAreaAndAreCutAtTheSplitAndTheCorners) {
  EXPECT_EQ(TRollEffect2::ArcStepFor(95), 9);
  EXPECT_EQ(TRollEffect2::ArcStepFor(100), 8);
  EXPECT_EQ(TRollEffect2::ArcStepFor(2), 3);
  // Straight roll to +x, radius 95: lines every 50 pixels up to 50 before
  // the roll line, then every 9, the last strip shorter.
  {
    const TStrips s = Generate(1, 95, 100);
    EXPECT_NEAR(s.area, 64 * 48, 1e-2);
    std::vector<float> xs;
    for (const auto& t : s.tris)
      for (const auto& v : t) xs.push_back(v.x);
    std::sort(xs.begin(), xs.end());
    xs.erase(std::unique(xs.begin(), xs.end()), xs.end());
    EXPECT_EQ(xs, (std::vector<float>{10, 60, 69, 74}));
  }
  {
    const TStrips s = Generate(1, 4, 30);  // split at 30 + 2 pi
    const double split = 30 + 4 * kPi / 2;
    EXPECT_NEAR(s.area, 64 * 48, 1e-2);
    bool cut = false;
    for (std::size_t i = 0; i < s.tris.size(); ++i) {
      float lo = 1e9f, hi = -1e9f;
      for (const auto& v : s.tris[i]) {
        lo = std::min(lo, v.x);
        hi = std::max(hi, v.x);
        cut = cut || std::fabs(v.x - split) < 1e-4;
      }
      // No strip mixes the front and the back.
      if (s.back[i])
        EXPECT_GE(lo, split - 1e-4);
      else
        EXPECT_LE(hi, split + 1e-4);
      // Flat strips are at most 50 long, the curl's ArcStep.
      EXPECT_LE(hi - lo, (lo >= 30 - 50 && lo <= 30 + 4 * kPi) ? 3 + 1e-4 : 50 + 1e-4);
    }
    EXPECT_TRUE(cut);
  }
  // Diagonals: the corners next to the near one are strip vertices.
  for (const int kind : {5, 6, 7, 8}) {
    SCOPED_TRACE(kind);
    const TStrips s = Generate(kind, 6, 40, kind == 8);
    EXPECT_NEAR(s.area, 64 * 48, 1e-2);
    int corners = 0;
    for (const TPoint c : {TPoint{10, 10}, TPoint{74, 10}, TPoint{10, 58}, TPoint{74, 58}}) {
      bool hit = false;
      for (const auto& t : s.tris)
        for (const auto& v : t) hit = hit || (std::fabs(v.x - c.X) < 1e-3 && std::fabs(v.y - c.Y) < 1e-3);
      corners += hit;
    }
    EXPECT_EQ(corners, 4);
  }
}

// ---- Factory and bad input ----------------------------------------------------------------------------

TEST(RollFilter, TheFactoryMakesTheRollWithItsSettings) {
  TRef<oru::TTransitionDef> d = MakeRef<oru::TTransitionDef>();
  d->Kind = 9;
  d->Flags = std::vector<std::uint8_t>(12, 0);
  d->Flags[1] = 1;  // the second action: backwards
  d->Flags[2] = 1;  // diagonal, base direction 3
  d->Flags[10] = 1;
  d->Flags[11] = 1;
  d->Ints = {1, 0x00336699};
  d->Floats = {0.1f, 0.75f};
  TRef<oru::TDrawFilter> f = oru::CreateTransitionFilter({200, 100}, d.get(), nullptr, false);
  auto* roll = dynamic_cast<TRollEffect2*>(f.get());
  ASSERT_NE(roll, nullptr);
  EXPECT_EQ(roll->Style, 15);
  EXPECT_EQ(roll->Direction, 7);
  EXPECT_TRUE(roll->Reverse);
  EXPECT_TRUE(roll->MovesSlides);
  EXPECT_TRUE(roll->Tube);
  EXPECT_EQ(roll->Radius, 20);
  EXPECT_TRUE(roll->UseColor);
  EXPECT_EQ(roll->Color[0], 0x99);
  EXPECT_EQ(roll->Color[2], 0x33);
  EXPECT_TRUE(roll->UseVolume);
  EXPECT_FLOAT_EQ(roll->Volume, 0.75f);
  // A zero radius fraction still rolls, with a radius of 2.
  d->Floats = {0, 0};
  f = oru::CreateTransitionFilter({200, 100}, d.get(), nullptr, false);
  ASSERT_NE(dynamic_cast<TRollEffect2*>(f.get()), nullptr);
  EXPECT_EQ(static_cast<TRollEffect2*>(f.get())->Radius, 2);
}

TEST(RollFilter, BadInputDrawsSomethingSaneOrNothing) {
  // Radii 0, 1 and below are drawn as 2.
  for (const int radius : {0, 1, -7}) {
    TRef<TRollEffect2> f = Roll(14, 1, radius);
    Paint(*f, 0.5f);
    EXPECT_FLOAT_EQ(f->RangeStart, 10 - 2);
    EXPECT_EQ(f->Roller->ArcStep, 3);
  }
  // Out-of-range style and direction count as 14 and 1.
  for (const auto& sd : {std::pair{0, 0}, std::pair{99, -3}, std::pair{-1, 9}}) {
    TRef<TRollEffect2> f = MakeRef<TRollEffect2>(sd.first, sd.second);
    EXPECT_EQ(f->RollerKind(), 1);
    EXPECT_FALSE(f->Reverse);
  }
  // Volume that would divide by zero or overflow: the volume is off.
  for (const float v : {0.0f, -1.0f, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
    for (const int style : {14, 15}) {
      TRef<TRollEffect2> f = Roll(style, 2, 8, true);
      f->UseVolume = true;
      f->Volume = v;
      const TFrame fr = Paint(*f, 0.5f);
      EXPECT_FALSE(f->Roller->UseVolume);
      EXPECT_GT(fr.Begun.size(), 0u);
    }
  }
  // A huge radius and huge volume: finite, and quickly done.
  {
    TRef<TRollEffect2> f = Roll(15, 4, std::numeric_limits<std::int32_t>::max());
    f->UseVolume = true;
    f->Volume = 3e38f;
    Paint(*f, 0.999f);
    EXPECT_EQ(f->Roller->Radius, float(TRollEffect2::kMaxRadius));
    EXPECT_EQ(f->Roller->ArcStep, 8);
  }
  // Empty, inverted and absurd areas, areas off the grid, no controller,
  // NaN progress: nothing drawn, nothing thrown.
  for (const TRect area : {TRect{10, 10, 10, 58}, TRect{74, 58, 10, 10}, TRect{-2000000000, 0, 2000000000, 50},
                           TRect{200, 200, 300, 300}}) {
    TRef<TRollEffect2> f = Roll(15, 3, 8);
    EXPECT_TRUE(Paint(*f, 0.5f, {0, kFW}, {0, kFH}, area).Begun.empty());
  }
  TRef<TRollEffect2> f = Roll(14, 3, 8);
  f->DrawTo(nullptr);
  f->Draw(nullptr);
  // A one-pixel area and a NaN progress (counts as 0).
  EXPECT_FALSE(Paint(*f, std::numeric_limits<float>::quiet_NaN(), {0, kFW}, {0, kFH}, {20, 20, 21, 21}).Begun.empty());
  // The grid changing between frames: the separators follow it.
  Paint(*f, 0.5f);
  Paint(*f, 0.5f, {0, 20, 40, 60, kFW}, {0, 30, kFH});
  Paint(*f, 0.5f);
  {
    TFrame frame{kFW, kFH, std::vector<std::uint32_t>(kFW * kFH), kArea, {}, 0};
    TRef<TRasterController> c = MakeRef<TRasterController>(&frame);
    f->DrawTo(c.get());  // an empty grid
    EXPECT_TRUE(frame.Begun.empty());
  }
}

// ---- Through the drawer on the software device ----------------------------------------------------------

class TPatternSlide : public TDrawItem {
public:
  explicit TPatternSlide(TPixelFn fn) : Fn(std::move(fn)) {}
  void Draw(TDeviceDrawer& d) override {
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 64;) {
        const std::uint32_t c = Fn(x, y);
        int e = x + 1;
        while (e < 64 && Fn(e, y) == c) ++e;
        d.FillRectF({float(x), float(y)}, {float(e), float(y + 1)}, TColor32::FromValue(0xFF000000u | c));
        x = e;
      }
  }
  TPixelFn Fn;
};

std::uint32_t BlockA(int x, int y) { return ((x / 8 + y / 8) & 1) ? 0x20C040u : 0xE03010u; }
std::uint32_t BlockB(int, int y) { return y < 24 ? 0x1060F0u : 0xF0F020u; }

class RollOnDevice : public drawertest::TTransitionOnDevice {};

TEST_F(RollOnDevice, TheRollUnrollsTheIncomingSlideOverTheOutgoingOne) {
  TRef<TPatternSlide> a = MakeRef<TPatternSlide>(BlockA), b = MakeRef<TPatternSlide>(BlockB);
  TRef<oru::TTransitionDef> d = MakeRef<oru::TTransitionDef>();
  d->Kind = 9;
  d->Flags = std::vector<std::uint8_t>(12, 0);
  d->Flags[6] = 1;  // straight, towards +x
  d->Floats = {0.125f, 0};
  for (const float t : {0.0f, 0.5f}) {
    TRef<oru::TOruFilter> p = MakeRef<oru::TOruFilter>();
    p->Effect = d;
    p->Progress = t;
    ASSERT_TRUE(Frame(0xFF000000u, [&](oru::T3DDrawer& dr) { dr.DrawTransition(a.get(), b.get(), p.get()); }));
    Capture();
    ASSERT_NE(dynamic_cast<TRollEffect2*>(p->Filter.get()), nullptr);
    // Radius 8: the line half-way from -8 to 64 is at 28; the flat part
    // left of it (clear of the curl's shading) is the incoming slide, the
    // part beyond the curl the outgoing one.
    for (int y = 1; y < 47; ++y)
      for (int x = 0; x < 64; ++x) {
        if (y % 8 == 0 || y % 8 == 7 || x % 8 == 0 || x % 8 == 7) continue;
        if (t == 0 || x >= 38) {
          EXPECT_TRUE(drawertest::Near(At(x, y), BlockA(x, y), 2)) << x << "," << y << " t " << t;
        } else if (x < 10) {
          // Left of the folded-back part.
          EXPECT_TRUE(drawertest::Near(At(x, y), BlockB(x, y), 2)) << x << "," << y;
        }
      }
  }
  // With depth the sheet starts out turned about the start edge, partly
  // behind the slide's plane, where the outgoing slide hides it: the first
  // frame is the outgoing slide alone, however strong the volume.
  d->Flags[11] = 1;
  for (const float volume : {0.5f, 3.0f})
    for (const int tube : {0, 1}) {
      d->Floats = {0.125f, volume};
      d->Ints = {tube, 0};
      TRef<oru::TOruFilter> p = MakeRef<oru::TOruFilter>();
      p->Effect = d;
      p->Progress = 0;
      ASSERT_TRUE(Frame(0xFF000000u, [&](oru::T3DDrawer& dr) { dr.DrawTransition(a.get(), b.get(), p.get()); }));
      Capture();
      int bad = 0;
      for (int y = 1; y < 47; ++y)
        for (int x = 0; x < 64; ++x)
          if (!(y % 8 == 0 || y % 8 == 7 || x % 8 == 0 || x % 8 == 7) && !drawertest::Near(At(x, y), BlockA(x, y), 2))
            ++bad;
      EXPECT_EQ(bad, 0) << volume << " " << tube;
    }
}

// The straight roll's direct way: the flat part the sheet leaves open drawn
// straight, the outgoing slide only where the sheet leaves it open, the
// picture only where it is read; the frames are those of the general way at
// every point of the roll, in every direction either way round, for a half
// turn and a tinted tube, on sizes that are no multiple of anything.
template <int W, int H>
class DirectRollOn : public drawertest::TTransitionOnDevice {
protected:
  DirectRollOn() : TTransitionOnDevice(W, H) {}

  void Run() {
    std::mt19937 rng(11);
    // Pictures with a margin: the slide's replication reads past the area.
    TRef<TImage> a = drawertest::MakeImage(W + 40, H + 40, [&](int, int) { return rng() | 0xFF000000u; });
    TRef<TImage> b = drawertest::MakeImage(W + 40, H + 40, [&](int, int) { return rng() | 0xFF000000u; });
    TRef<TImage> c = drawertest::MakeImage(W + 40, H + 40, [&](int, int) { return rng() | 0xFF000000u; });
    using drawertest::TOpaquePictureSlide;
    TRef<TOpaquePictureSlide> sa = MakeRef<TOpaquePictureSlide>(a.get()), sb = MakeRef<TOpaquePictureSlide>(b.get());
    // The frames before, which make the filter, roll another picture the
    // general way: the pooled pictures hold none of the slide where it is
    // not rendered.
    TRef<TOpaquePictureSlide> sc = MakeRef<TOpaquePictureSlide>(c.get());
    int directFrames = 0, frames = 0;
    // Flags 3, 5, 6 and 8: the four straight directions; flag 1: backwards.
    for (const int dir : {3, 5, 6, 8})
      for (const bool reverse : {false, true})
        for (const bool tube : {false, true})
          for (const float t : {0.02f, 0.3f, 0.55f, 0.8f, 0.98f}) {
            SCOPED_TRACE(testing::Message() << "flag " << dir << (reverse ? " backwards" : "") << (tube ? " tube" : "")
                                            << " at " << t);
            std::vector<std::uint32_t> got[2];
            int draws[2] = {};
            bool direct = false;
            for (int pass = 0; pass < 2; ++pass) {
              TRef<oru::TTransitionDef> d = MakeRef<oru::TTransitionDef>();
              d->Kind = 9;
              d->Flags = std::vector<std::uint8_t>(12, 0);
              d->Flags[std::size_t(dir)] = 1;
              d->Flags[1] = reverse;
              d->Flags[10] = tube;  // a tinted back with the tube
              d->Floats = {tube ? 0.05f : 0.125f, 0};
              d->Ints = {tube ? 1 : 0, 0x00305080};
              TRef<oru::TOruFilter> p = MakeRef<oru::TOruFilter>();
              p->Effect = d;
              for (int frame = 0; frame < 3; ++frame) {
                p->Progress = frame == 0 ? 0.0f : t;
                drawer->DirectFilterDraws = frame == 2 && pass == 0;
                sa->Draws = sb->Draws = 0;
                TDrawItem* in = frame < 2 ? sc.get() : sb.get();
                ASSERT_TRUE(Frame(0xFF000000u, [&](oru::T3DDrawer& dr) { dr.DrawTransition(sa.get(), in, p.get()); }));
              }
              Capture();
              got[pass] = px;
              draws[pass] = sa->Draws + sb->Draws;
              ASSERT_NE(dynamic_cast<TRollEffect2*>(p->Filter.get()), nullptr);
              std::vector<oru::TDirectBand> bands;
              if (pass == 0) direct = p->Filter->DirectBands(bands);
            }
            drawer->DirectFilterDraws = true;
            ASSERT_EQ(got[0].size(), got[1].size());
            for (std::size_t i = 0; i < got[0].size(); ++i)
              ASSERT_EQ(got[0][i], got[1][i]) << "pixel " << i % W << "," << i / W;
            EXPECT_EQ(draws[1], 2);
            ++frames;
            directFrames += direct;
          }
    // All but the first and last points of a roll go the direct way.
    EXPECT_GE(directFrames, frames * 3 / 5);
  }
};

using DirectRollOdd = DirectRollOn<161, 91>;
using DirectRollTall = DirectRollOn<67, 129>;

TEST_F(DirectRollOdd, TheFlatPartDrawnStraightAndTheSlideUnderTheSheetLeftOutGiveTheSameFrames) { Run(); }
TEST_F(DirectRollTall, TheFlatPartDrawnStraightAndTheSlideUnderTheSheetLeftOutGiveTheSameFrames) { Run(); }

}  // namespace rollfiltertest
