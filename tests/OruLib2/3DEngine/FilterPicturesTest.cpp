// The cross-fade, mosaic, slide and push filters at five moments of their
// transition, against pictures worked out here from what each transition
// should look like: first on a controller that rasterises the triangles in
// the test, then through the drawer on the software device.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

#include "OruLib2/3DEngine/EffTiles.h"
#include "OruLib2/3DEngine/FilterFactory.h"
#include "OruLib2/3DEngine/OruFilter.h"
#include "OruLib2/3DEngine/SimpleFilters.h"
#include "tests/support/DrawerOnDevice.h"

namespace filterpicturestest {

using namespace zm;
using oru::TEffTriangle;
using oru::TEffVertex;

using TPixelFn = std::function<std::uint32_t(int, int)>;

// 0x00RRGGBB pictures of the two slides, patterned so that a shift shows.
std::uint32_t SlideA(int x, int y) {
  return (std::uint32_t((x * 13 + 20) & 0xFF) << 16) | (std::uint32_t((y * 17 + 5) & 0xFF) << 8) | 0x40u;
}
std::uint32_t SlideB(int x, int y) {
  return (std::uint32_t((200 - x * 5) & 0xFF) << 16) | (std::uint32_t(0x80 ^ ((x * y) & 0xFF)) << 8) |
         std::uint32_t((y * 9 + 3) & 0xFF);
}

int Ch(std::uint32_t c, int s) { return int((c >> s) & 0xFF); }
std::uint32_t Blend(std::uint32_t dst, std::uint32_t src, int a) {
  std::uint32_t out = 0;
  for (int s = 0; s < 24; s += 8) out |= std::uint32_t((Ch(dst, s) * (255 - a) + Ch(src, s) * a + 127) / 255) << s;
  return out;
}

const float kSteps[] = {0.0f, 0.25f, 0.5f, 0.75f, 1.0f};

// ---- A controller that rasterises into a frame -----------------------------------------------------

// Pixel centres inside a triangle, shared edges counted once (top-left rule).
template <class Fn>
void Raster(const float (&x)[3], const float (&y)[3], int w, int h, Fn&& at) {
  double ax = x[0], ay = y[0], bx = x[1], by = y[1], cx = x[2], cy = y[2];
  const auto edge = [](double x0, double y0, double x1, double y1, double px, double py) {
    return (x1 - x0) * (py - y0) - (y1 - y0) * (px - x0);
  };
  double area = edge(ax, ay, bx, by, cx, cy);
  if (area == 0) return;
  bool swapped = false;
  if (area < 0) {
    std::swap(bx, cx);
    std::swap(by, cy);
    area = -area;
    swapped = true;
  }
  const auto inside = [&](double e, double x0, double y0, double x1, double y1) {
    if (e > 0) return true;
    if (e < 0) return false;
    const double nx = -(y1 - y0), ny = x1 - x0;  // towards the inside
    return nx > 0 || (nx == 0 && ny > 0);
  };
  for (int py = 0; py < h; ++py)
    for (int px = 0; px < w; ++px) {
      const double qx = px + 0.5, qy = py + 0.5;
      const double e0 = edge(bx, by, cx, cy, qx, qy), e1 = edge(cx, cy, ax, ay, qx, qy),
                   e2 = edge(ax, ay, bx, by, qx, qy);
      if (!inside(e0, bx, by, cx, cy) || !inside(e1, cx, cy, ax, ay) || !inside(e2, ax, ay, bx, by)) continue;
      double l0 = e0 / area, l1 = e1 / area, l2 = e2 / area;
      if (swapped) std::swap(l1, l2);
      at(px, py, l0, l1, l2);
    }
}

struct TFrame {
  int W = 0, H = 0;
  std::vector<std::uint32_t> Px;
  TPixelFn Picture;  // the incoming slide at target pixels
  int Batches = 0;
};

class TRasterTile : public oru::TEffTile {
public:
  TRasterTile(oru::TEffController* c, const TRect& r, const TPoint& cell, TFrame* f) : TEffTile(c, r, cell), F(f) {}
  void Begin(std::int32_t mode, bool) override {
    EXPECT_FALSE(open_);
    EXPECT_EQ(mode, oru::emTextured);
    open_ = true;
  }
  void AddTriangle(const TEffTriangle& v) override {
    EXPECT_TRUE(open_);
    const float x[3] = {v[0].X, v[1].X, v[2].X}, y[3] = {v[0].Y, v[1].Y, v[2].Y};
    Raster(x, y, F->W, F->H, [&](int px, int py, double l0, double l1, double l2) {
      const double c = l0 * v[0].C + l1 * v[1].C + l2 * v[2].C;
      const int a = int(std::clamp(c + 1e-6, 0.0, 255.0));
      std::uint32_t& d = F->Px[std::size_t(py * F->W + px)];
      d = Blend(d, F->Picture(px, py), a);
    });
  }
  void AddShadedTextureTriangle(const TEffTriangle& v, const oru::TEffPoints2& p) override {
    EXPECT_TRUE(open_);
    const float x[3] = {p[0].X, p[1].X, p[2].X}, y[3] = {p[0].Y, p[1].Y, p[2].Y};
    for (const auto& q : p) {
      EXPECT_GE(q.X, float(Rect.Left));
      EXPECT_LE(q.X, float(Rect.Right));
      EXPECT_GE(q.Y, float(Rect.Top));
      EXPECT_LE(q.Y, float(Rect.Bottom));
    }
    Raster(x, y, F->W, F->H, [&](int px, int py, double l0, double l1, double l2) {
      const double sx = l0 * v[0].X + l1 * v[1].X + l2 * v[2].X, sy = l0 * v[0].Y + l1 * v[1].Y + l2 * v[2].Y;
      const int grey = int(l0 * v[0].C + l1 * v[1].C + l2 * v[2].C + 1e-6);
      std::uint32_t& d = F->Px[std::size_t(py * F->W + px)];
      d = Blend(0, F->Picture(int(std::floor(sx)), int(std::floor(sy))), grey);
    });
  }
  void AddColoredTriangle(const TEffTriangle&, const oru::TEffColors&) override { ADD_FAILURE(); }
  void AddColoredPoints(const oru::TEffPoints2&, const oru::TEffColors&) override { ADD_FAILURE(); }
  void AddShadedTriangle(const TEffTriangle&, const oru::TEffPoints3&) override { ADD_FAILURE(); }
  void End() override {
    EXPECT_TRUE(open_);
    open_ = false;
    ++F->Batches;
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
  void GetArea(TRect& r) override { r = GetBounds(); }
  TFrame* F;
};

constexpr int kW = 16, kH = 12;

// The frame after the filter drew at progress t over Background, the
// incoming picture being Incoming; the controller's grid is Cols x Rows
// equal cells.
template <class TFilter>
std::vector<std::uint32_t> Paint(TFilter& f, float t, const TPixelFn& background, const TPixelFn& incoming,
                               int cols = 1, int rows = 1, int* batches = nullptr) {
  TFrame frame{kW, kH, std::vector<std::uint32_t>(kW * kH), incoming};
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) frame.Px[std::size_t(y * kW + x)] = background(x, y);
  TRef<TRasterController> c = MakeRef<TRasterController>(&frame);
  std::vector<float> xs, ys;
  for (int i = 0; i <= cols; ++i) xs.push_back(float(kW * i) / float(cols));
  for (int i = 0; i <= rows; ++i) ys.push_back(float(kH * i) / float(rows));
  EXPECT_TRUE(c->SetGrid(xs, cols, rows, ys));
  f.TargetRect = {0, 0, kW, kH};
  f.SetProgress(t);
  f.DrawTo(c.get());
  if (batches) *batches = frame.Batches;
  return frame.Px;
}

std::vector<std::uint32_t> Expect(const TPixelFn& fn) {
  std::vector<std::uint32_t> v(kW * kH);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) v[std::size_t(y * kW + x)] = fn(x, y);
  return v;
}

// Equal within Tol per channel; reports the first difference.
::testing::AssertionResult SamePicture(const std::vector<std::uint32_t>& got, const std::vector<std::uint32_t>& want,
                                       int tol = 0) {
  for (std::size_t i = 0; i < got.size(); ++i)
    for (int s = 0; s < 24; s += 8)
      if (std::abs(Ch(got[i], s) - Ch(want[i], s)) > tol)
        return ::testing::AssertionFailure() << "at " << i % kW << "," << i / kW << std::hex << " got 0x" << got[i]
                                             << ", want 0x" << want[i];
  return ::testing::AssertionSuccess();
}

TEST(FilterPictures, CrossFadeBlendsByTheFractionAndKeepsAPictureWithItself) {
  TRef<oru::TAlphaFilter> f = MakeRef<oru::TAlphaFilter>();
  f->Init({0, 0, kW, kH}, 0, 2.0f);
  for (float t : kSteps) {
    SCOPED_TRACE(t);
    const int a = int(255.0f * t);
    EXPECT_TRUE(SamePicture(Paint(*f, 2 * t, SlideA, SlideB), Expect([&](int x, int y) {
                              return Blend(SlideA(x, y), SlideB(x, y), a);
                            })));
    EXPECT_TRUE(SamePicture(Paint(*f, 2 * t, SlideA, SlideA), Expect(SlideA)));
  }
  EXPECT_TRUE(SamePicture(Paint(*f, 0, SlideA, SlideB), Expect(SlideA)));
  EXPECT_TRUE(SamePicture(Paint(*f, 2, SlideA, SlideB), Expect(SlideB)));
  EXPECT_TRUE(SamePicture(Paint(*f, 7, SlideA, SlideB), Expect(SlideB)));  // beyond the end: clamped
  // Over a grid of tiles the multi-tile hands each cell its part.
  int batches = 0;
  EXPECT_TRUE(SamePicture(Paint(*f, 1, SlideA, SlideB, 3, 2, &batches),
                          Expect([](int x, int y) { return Blend(SlideA(x, y), SlideB(x, y), 127); })));
  EXPECT_EQ(batches, 6);
  // No controller, an empty target, a zero duration: nothing or the start.
  f->SetProgress(1);
  f->DrawTo(nullptr);
  f->Draw(nullptr);
  f->Init({0, 0, kW, kH}, 0, 0);
  EXPECT_TRUE(SamePicture(Paint(*f, 1, SlideA, SlideB), Expect(SlideA)));
}

// The mosaic's expected picture, from the generator's published sequence.
std::vector<std::uint32_t> MosaicPicture(int cols, int rows, std::uint32_t seed, float spread, double t) {
  const double n = std::nearbyint(double(spread) * 100.0);
  std::vector<int> delay(std::size_t(cols * rows));
  std::uint32_t s = seed;
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < cols; ++c) {
      s = s * 1664525u + 1013904223u;
      const double u = double(s & 0x7FFFFFu) / double(1u << 23);
      delay[std::size_t(c * rows + r)] = int(std::nearbyint(u * n));
    }
  const int threshold = int(std::nearbyint(t * (double(spread) * 100.0 + 256.0) - 256.0));
  return Expect([&](int x, int y) {
    const int c = x / (kW / cols), r = y / (kH / rows);
    const int d = delay[std::size_t(c * rows + r)] - threshold;
    const int a = d >= 255 ? 0 : d < 0 ? 255 : 255 - d;
    return Blend(SlideA(x, y), SlideB(x, y), a);
  });
}

TEST(FilterPictures, MosaicBlocksFadeInFromTheirSeededDelays) {
  struct Case {
    int cols, rows;
    std::uint32_t seed;
    float spread;
  };
  for (const Case& k : {Case{4, 3, 12345u, 2.0f}, Case{4, 3, 0xFFFFFFFFu, 99.0f}, Case{8, 6, 0, 1000.0f},
                        Case{2, 2, 7, 0.0f}}) {
    SCOPED_TRACE(testing::Message() << k.cols << "x" << k.rows << " seed " << k.seed << " spread " << k.spread);
    TRef<oru::TRandomFilter> f = MakeRef<oru::TRandomFilter>(k.cols, k.rows, k.seed, k.spread);
    f->Init({0, 0, kW, kH}, 0, 1);
    for (float t : kSteps) {
      SCOPED_TRACE(t);
      EXPECT_TRUE(SamePicture(Paint(*f, t, SlideA, SlideB), MosaicPicture(k.cols, k.rows, k.seed, k.spread, t)));
    }
    EXPECT_TRUE(SamePicture(Paint(*f, 0, SlideA, SlideB), Expect(SlideA)));
    EXPECT_TRUE(SamePicture(Paint(*f, 1, SlideA, SlideB), Expect(SlideB)));
  }
  // No spread: one delay for all, every block at the same step.
  TRef<oru::TRandomFilter> flat = MakeRef<oru::TRandomFilter>(4, 3, 99, 0);
  flat->Init({0, 0, kW, kH}, 0, 1);
  for (std::int32_t d : flat->Delays) EXPECT_EQ(d, 0);
  // Broken settings stay usable.
  TRef<oru::TRandomFilter> odd = MakeRef<oru::TRandomFilter>(-3, 1 << 30, 1, std::nanf(""));
  odd->Init({0, 0, kW, kH}, 0, 1);
  EXPECT_EQ(odd->Cols, 1);
  EXPECT_EQ(odd->Rows, oru::kMaxMosaicSide);
  EXPECT_EQ(odd->Spread, 0.0f);
  EXPECT_EQ(odd->Delay(-1, 0), 0);
  EXPECT_EQ(odd->Delay(0, 1 << 30), 0);
  // Before Init there are no delays; drawing must not read past the table.
  TRef<oru::TRandomFilter> early = MakeRef<oru::TRandomFilter>(4, 3, 1, 50);
  early->Init({0, 0, kW, kH}, 0, 1);
  early->Delays.clear();
  EXPECT_TRUE(SamePicture(Paint(*early, 1, SlideA, SlideB), Expect(SlideB)));
}

// Where the incoming slide's top-left corner is at t for each direction.
TFloatPoint Moved(int direction, float t) {
  switch (direction) {
    case 1: return {-kW * (1 - t), 0};
    case 2: return {kW * (1 - t), 0};
    case 3: return {0, -kH * (1 - t)};
    default: return {0, kH * (1 - t)};
  }
}

TEST(FilterPictures, SlideAndPushMoveTheIncomingSlideInFromTheirSide) {
  for (int dir = 1; dir <= 4; ++dir)
    for (bool push : {false, true})
      for (auto [cols, rows] : {std::pair{1, 1}, {3, 2}}) {
        SCOPED_TRACE(testing::Message() << "direction " << dir << (push ? " push" : " slide") << " grid " << cols);
        TRef<oru::TDrawFilter> f = push ? TRef<oru::TDrawFilter>(MakeRef<oru::TPushFilter>(dir))
                                        : TRef<oru::TDrawFilter>(MakeRef<oru::TSlideFilter>(dir));
        EXPECT_TRUE(f->MovesSlides);
        f->Init({0, 0, kW, kH}, 0, 1);
        for (float t : kSteps) {
          SCOPED_TRACE(t);
          const TFloatPoint o = Moved(dir, t);
          const int dx = int(o.X), dy = int(o.Y);
          const auto want = Expect([&](int x, int y) {
            const int sx = x - dx, sy = y - dy;
            return sx >= 0 && sx < kW && sy >= 0 && sy < kH ? SlideB(sx, sy) : SlideA(x, y);
          });
          std::vector<std::uint32_t> got;
          if (push)
            got = Paint(static_cast<oru::TPushFilter&>(*f), t, SlideA, SlideB, cols, rows);
          else
            got = Paint(static_cast<oru::TSlideFilter&>(*f), t, SlideA, SlideB, cols, rows);
          EXPECT_TRUE(SamePicture(got, want));
          if (push) {
            // The outgoing slide moves with the incoming one, edge to edge.
            const TFloatPoint out = static_cast<oru::TPushFilter&>(*f).GetOutgoingOffset({5, 5, 5 + kW, 5 + kH});
            const float gap = dir <= 2 ? std::abs(out.X - o.X) : std::abs(out.Y - o.Y);
            EXPECT_FLOAT_EQ(gap, dir <= 2 ? float(kW) : float(kH));
            EXPECT_EQ(dir <= 2 ? out.Y : out.X, 0.0f);
          }
        }
      }
  // Unknown directions move like direction 1; an empty area draws nothing.
  EXPECT_EQ(oru::TSlideFilter(0).Direction, 1);
  EXPECT_EQ(oru::TPushFilter(-9).Direction, 1);
  TRef<oru::TPushFilter> p = MakeRef<oru::TPushFilter>(3);
  p->Init({0, 0, kW, kH}, 0, 1);
  p->SetProgress(0.5f);
  EXPECT_EQ(p->GetOutgoingOffset({10, 10, 0, 0}), (TFloatPoint{0, 0}));
  EXPECT_EQ(p->PushOffset({0, 0, 8, 20}), (TFloatPoint{0, 10}));
  EXPECT_EQ(p->PassMode(), oru::TFilterPassMode::Push);
  p->TargetRect = {0, 0, -5, -5};
  p->DrawTo(nullptr);
}

// ---- Through the drawer on the software device -------------------------------------------------------

// A slide that paints Fn's picture, pixel rows as one-pixel-high bands of
// runs of equal colour.
class TPatternSlide : public TDrawItem {
public:
  TPatternSlide(int w, int h, TPixelFn fn) : W(w), H(h), Fn(std::move(fn)) {}
  void Draw(TDeviceDrawer& d) override {
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W;) {
        const std::uint32_t c = Fn(x, y);
        int e = x + 1;
        while (e < W && Fn(e, y) == c) ++e;
        d.FillRectF({float(x), float(y)}, {float(e), float(y + 1)}, TColor32::FromValue(0xFF000000u | c));
        x = e;
      }
  }
  int W, H;
  TPixelFn Fn;
};

// Coarse patterns: the device samples a picture bilinearly, so blocks of
// equal colour keep the check exact away from the block edges.
std::uint32_t BlockA(int x, int y) { return ((x / 8 + y / 8) & 1) ? 0x20C040u : 0xE03010u; }
std::uint32_t BlockB(int x, int y) { return y < 24 ? 0x1060F0u : (x < 32 ? 0xF0F020u : 0x802080u); }

class FilterOnDevice : public drawertest::TTransitionOnDevice {
protected:
  // The frame of the transition from Pattern A to Pattern B at t.
  void Show(TRefObject* effect, float t, const TPixelFn& a, const TPixelFn& b) {
    TRef<TPatternSlide> sa = MakeRef<TPatternSlide>(64, 48, a), sb = MakeRef<TPatternSlide>(64, 48, b);
    TRef<oru::TOruFilter> p = MakeRef<oru::TOruFilter>();
    p->Effect = TRef<TRefObject>(effect);
    p->Progress = t;
    ASSERT_TRUE(Frame(0xFF000000u, [&](oru::T3DDrawer& d) { d.DrawTransition(sa.get(), sb.get(), p.get()); }));
    Capture();
  }
  // Every pixel within Tol, leaving out those for which Skip says so.
  void Check(const TPixelFn& want, int tol, const std::function<bool(int, int)>& skip = {}) {
    int bad = 0;
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 64; ++x) {
        if (skip && skip(x, y)) continue;
        if (!drawertest::Near(At(x, y), want(x, y), tol) && ++bad <= 3)
          ADD_FAILURE() << "at " << x << "," << y << ": " << drawertest::Near(At(x, y), want(x, y), tol).message();
      }
  }
};

TRef<oru::TTransitionDef> DeviceDef(std::int32_t kind, std::vector<std::uint8_t> flags,
                                    std::vector<std::int32_t> ints) {
  TRef<oru::TTransitionDef> d = MakeRef<oru::TTransitionDef>();
  d->Kind = kind;
  d->Flags = std::move(flags);
  d->Ints = std::move(ints);
  return d;
}

// Near a block edge, or the moving slide's edge, the bilinear sample mixes.
bool NearEdge(int x, int y) { return x % 8 == 7 || x % 8 == 0 || y % 8 == 7 || y % 8 == 0; }

TEST_F(FilterOnDevice, CrossFadeAndMosaicFrames) {
  TRef<oru::TTransitionDef> fade = DeviceDef(1, {1}, {});
  for (float t : {0.0f, 0.25f, 0.5f, 0.75f}) {
    SCOPED_TRACE(t);
    Show(fade.get(), t, BlockA, BlockB);
    const int a = int(255.0f * t);
    Check([&](int x, int y) { return Blend(BlockA(x, y), BlockB(x, y), a); }, 2, NearEdge);
    Show(fade.get(), t, BlockA, BlockA);
    Check(BlockA, 1, NearEdge);
  }
  // At the end the drawer shows the incoming slide itself.
  Show(fade.get(), 1, BlockA, BlockB);
  Check(BlockB, 0);

  // A 4 x 3 mosaic: cells of 16 x 16 pixels.
  TRef<oru::TTransitionDef> mosaic = DeviceDef(6, {1}, {4, 3, 3, 4242});
  for (float t : {0.0f, 0.25f, 0.5f, 0.75f}) {
    SCOPED_TRACE(t);
    Show(mosaic.get(), t, BlockA, BlockB);
    const double n = 300, threshold = std::nearbyint(t * (n + 256.0) - 256.0);
    std::vector<int> delay(12);
    std::uint32_t s = 4242;
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 4; ++c) {
        s = s * 1664525u + 1013904223u;
        delay[std::size_t(c * 3 + r)] = int(std::nearbyint(double(s & 0x7FFFFFu) / double(1u << 23) * n));
      }
    Check(
        [&](int x, int y) {
          const int d = delay[std::size_t((x / 16) * 3 + y / 16)] - int(threshold);
          return Blend(BlockA(x, y), BlockB(x, y), d >= 255 ? 0 : d < 0 ? 255 : 255 - d);
        },
        2, NearEdge);
  }
}

TEST_F(FilterOnDevice, UnselectedKindsShowTheIncomingSlideAndUnknownOnesCrossFade) {
  TRef<oru::TTransitionDef> none = DeviceDef(7, {0, 0, 0, 0}, {});
  Show(none.get(), 0.5f, BlockA, BlockB);
  Check(BlockB, 0);
  TRef<oru::TTransitionDef> unknown = DeviceDef(99, {}, {});
  Show(unknown.get(), 0.5f, BlockA, BlockB);
  Check([](int x, int y) { return Blend(BlockA(x, y), BlockB(x, y), 127); }, 2, NearEdge);
}

TEST_F(FilterOnDevice, SlideAndPushFrames) {
  for (std::int32_t kind : {7, 8})
    for (int flag = 0; flag < 4; ++flag) {
      const int dir = std::array<int, 4>{2, 4, 1, 3}[std::size_t(flag)];
      std::vector<std::uint8_t> flags(4, 0);
      flags[std::size_t(flag)] = 1;
      TRef<oru::TTransitionDef> def = DeviceDef(kind, flags, {});
      for (float t : {0.0f, 0.25f, 0.5f, 0.75f}) {
        SCOPED_TRACE(testing::Message() << (kind == 7 ? "push " : "slide ") << dir << " at " << t);
        Show(def.get(), t, BlockA, BlockB);
        // The incoming slide's offset; the pushed one sits edge to edge with it.
        const float back = 1 - t;
        const int dx = dir == 1 ? -int(64 * back) : dir == 2 ? int(64 * back) : 0;
        const int dy = dir == 3 ? -int(48 * back) : dir == 4 ? int(48 * back) : 0;
        const int ox = dir == 1 ? -64 : dir == 2 ? 64 : 0, oy = dir == 3 ? -48 : dir == 4 ? 48 : 0;
        Check(
            [&](int x, int y) {
              const int sx = x - dx, sy = y - dy;
              if (sx >= 0 && sx < 64 && sy >= 0 && sy < 48) return BlockB(sx, sy);
              if (kind == 8) return BlockA(x, y);
              const int ax = sx + ox, ay = sy + oy;
              return ax >= 0 && ax < 64 && ay >= 0 && ay < 48 ? BlockA(ax, ay) : 0u;
            },
            2, [&](int x, int y) { return NearEdge(x - dx, y - dy) || NearEdge(x, y); });
      }
    }
}

}  // namespace filterpicturestest
