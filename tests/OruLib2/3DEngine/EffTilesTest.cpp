// Effect controllers and tiles: the grid and its bad input, the multi-tile
// splitting at grid lines; the effecter on the software device: triangles
// painting the slide picture with their coverage, the nudge at the area's
// edges, edge replication through the copy target, two slides composed.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

#include "OruLib2/3DEngine/D3DEffecter.h"
#include "OruLib2/3DEngine/EffTiles.h"
#include "tests/support/DrawerOnDevice.h"

namespace efftilestest {

using namespace zm;
using oru::TEffTriangle;
using oru::TEffVertex;

// ---- The grid, with tiles that record what they get ------------------------------------------------

class TRecTile : public oru::TEffTile {
public:
  using TEffTile::TEffTile;
  void Begin(std::int32_t mode, bool) override {
    ++Begins;
    Mode = mode;
  }
  void AddTriangle(const TEffTriangle& v) override { Tris.push_back(v); }
  void AddColoredTriangle(const TEffTriangle&, const oru::TEffColors&) override {}
  void AddShadedTextureTriangle(const TEffTriangle&, const oru::TEffPoints2&) override {}
  void AddColoredPoints(const oru::TEffPoints2&, const oru::TEffColors&) override {}
  void AddShadedTriangle(const TEffTriangle&, const oru::TEffPoints3&) override {}
  void End() override { ++Ends; }
  std::vector<TEffTriangle> Tris;
  int Begins = 0, Ends = 0, Mode = -1;
};

class TRecController : public oru::TEffController {
public:
  TRef<oru::TEffTile> CreateTile(const TRect& rect, const TPoint& cell) override {
    ++Made;
    return MakeRef<TRecTile>(this, rect, cell);
  }
  void GetArea(TRect& r) override { r = {}; }
  TRecTile* Tile(int c, int r) { return static_cast<TRecTile*>(GetTileAt(c, r)); }
  int Made = 0;
};

float Area(const TEffTriangle& t) {
  return std::fabs((t[1].X - t[0].X) * (t[2].Y - t[0].Y) - (t[2].X - t[0].X) * (t[1].Y - t[0].Y)) / 2;
}

TEST(EffController, GridLinesGiveTruncatedCellsMadeOnceAndBadGridsLeaveItEmpty) {
  TRef<TRecController> c = MakeRef<TRecController>();
  const float xs[] = {0.7f, 10.9f, 20.5f}, ys[] = {-3.5f, 7.99f};
  ASSERT_TRUE(c->SetGrid(xs, 2, 1, ys));
  EXPECT_EQ(c->GetBounds(), (TRect{0, -3, 20, 7}));
  TRecTile* t = c->Tile(1, 0);
  EXPECT_EQ(t->Rect, (TRect{10, -3, 20, 7}));
  EXPECT_EQ(t->Cell, (TPoint{1, 0}));
  EXPECT_EQ(c->Tile(1, 0), t);
  EXPECT_EQ(c->Made, 1);
  EXPECT_THROW(c->GetTileAt(2, 0), EAbort);
  EXPECT_THROW(c->GetTileAt(0, 1), EAbort);
  EXPECT_THROW(c->GetTileAt(-1, 0), EAbort);

  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  const float down[] = {0, 5, 3}, same[] = {0, 0}, withNan[] = {0, nan}, withInf[] = {0, inf};
  struct Bad {
    std::span<const float> x;
    int cols, rows;
    std::span<const float> y;
  };
  const Bad bad[] = {
      {xs, -1, 1, ys},
      {xs, 2, 0, ys},            // one side empty
      {xs, 100000, 100000, ys},  // absurd, not allocated
      {xs, oru::TEffController::kMaxGridSide, oru::TEffController::kMaxGridSide, ys},
      {xs, 3, 1, ys},  // too few lines
      {down, 2, 1, ys},
      {same, 1, 1, ys},
      {xs, 1, 1, withNan},
      {withInf, 1, 1, ys},
  };
  for (const Bad& b : bad) {
    ASSERT_TRUE(c->SetGrid(xs, 2, 1, ys));
    c->GetTileAt(0, 0);
    EXPECT_FALSE(c->SetGrid(b.x, b.cols, b.rows, b.y)) << b.cols << "x" << b.rows;
    EXPECT_EQ(c->Cols(), 0);
    EXPECT_EQ(c->Rows(), 0);
    EXPECT_EQ(c->GetBounds(), TRect{});
    EXPECT_THROW(c->GetTileAt(0, 0), EAbort);
  }
  EXPECT_TRUE(c->SetGrid({}, 0, 0, {}));
  // A new grid makes its tiles anew.
  const int made = c->Made;
  ASSERT_TRUE(c->SetGrid(xs, 2, 1, ys));
  c->GetTileAt(0, 0);
  EXPECT_EQ(c->Made, made + 1);
}

TEST(MultiTile, OneCellGetsTheSameTrianglesAndACrossingTriangleIsSplitAtTheLineAsFans) {
  TRef<TRecController> c = MakeRef<TRecController>();
  const float one[] = {0, 100};
  ASSERT_TRUE(c->SetGrid(one, 1, 1, one));
  const TEffTriangle t1{{{10, 10, 255}, {50, 10, 0}, {10, 60, 128}}}, t2{{{0, 0, 1}, {100, 0, 2}, {100, 100, 3}}};
  oru::TEffTile* multi = c->GetMultiTile();
  multi->Begin(oru::emTextured, false);
  multi->AddTriangle(t1);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  multi->AddTriangle({{{nan, 0, 0}, {1, 1, 1}, {2, 0, 0}}});  // dropped alone
  multi->AddTriangle(t2);
  multi->End();
  TRecTile* cell = c->Tile(0, 0);
  EXPECT_EQ(cell->Begins, 1);
  EXPECT_EQ(cell->Ends, 1);
  EXPECT_EQ(cell->Mode, oru::emTextured);
  ASSERT_EQ(cell->Tris.size(), 2u);
  EXPECT_EQ(cell->Tris[0], t1);
  EXPECT_EQ(cell->Tris[1], t2);
  // The separator is cleared after distributing: an empty batch adds nothing.
  multi->Begin(oru::emTextured, false);
  multi->End();
  EXPECT_EQ(cell->Tris.size(), 2u);
  EXPECT_THROW(multi->AddColoredTriangle(t1, {}), EAbort);
  EXPECT_THROW(multi->AddShadedTextureTriangle(t1, {}), EAbort);
  EXPECT_THROW(multi->AddColoredPoints({}, {}), EAbort);
  EXPECT_THROW(multi->AddShadedTriangle(t1, {}), EAbort);

  // Two cells side by side; the coverage is 10 x, so every cut point must
  // carry 10 times its x. A part left of the grid is clipped away.
  const float xs[] = {0, 10, 20}, ys[] = {0, 10};
  ASSERT_TRUE(c->SetGrid(xs, 2, 1, ys));
  multi = c->GetMultiTile();  // a new one over the new lines
  multi->Begin(oru::emTextured, false);
  multi->AddTriangle({{{0, 0, 0}, {20, 0, 200}, {0, 10, 0}}});
  multi->AddTriangle({{{-10, 0, -100}, {0, 0, 0}, {0, 10, 0}}});  // on the left line only
  multi->End();
  TRecTile* left = c->Tile(0, 0);
  TRecTile* right = c->Tile(1, 0);
  float leftArea = 0, rightArea = 0;
  for (const TEffTriangle& t : left->Tris) {
    leftArea += Area(t);
    EXPECT_EQ(t[0], left->Tris[0][0]);  // a fan from one vertex
    for (const TEffVertex& v : t) {
      EXPECT_TRUE(v.X >= 0 && v.X <= 10) << v.X;
      EXPECT_NEAR(v.C, 10 * v.X, 1e-3);
    }
  }
  for (const TEffTriangle& t : right->Tris) {
    rightArea += Area(t);
    for (const TEffVertex& v : t) {
      EXPECT_TRUE(v.X >= 10 && v.X <= 20) << v.X;
      EXPECT_NEAR(v.C, 10 * v.X, 1e-3);
    }
  }
  EXPECT_GE(left->Tris.size(), 2u);  // the cut trapezoid as a fan
  EXPECT_NEAR(leftArea, 75, 1e-3);
  EXPECT_NEAR(rightArea, 25, 1e-3);
  EXPECT_EQ(left->Begins, 1);
  EXPECT_EQ(right->Ends, 1);

  // Without a grid the multi-tile takes everything and draws nothing.
  ASSERT_TRUE(c->SetGrid({}, 0, 0, {}));
  multi = c->GetMultiTile();
  multi->Begin(oru::emTextured, false);
  multi->AddTriangle(t1);
  EXPECT_NO_THROW(multi->End());
}

// ---- The effecter on the software device -------------------------------------------------------------

using drawertest::Near;

class EffecterOnDevice : public drawertest::TDrawerOnDevice {
protected:
  T3DScreen* Screen() const { return drawer->Screen(); }
  // Target pixels over the current target.
  void PixelProjection() {
    const TRect win = Screen()->WindowRect();
    const TPoint off = Screen()->TargetOffset();
    const float w = float(win.Right - win.Left), h = float(win.Bottom - win.Top);
    Screen()->SetProjection(float(off.X), float(off.Y), w, h, w, h);
  }
  static void Quad(oru::TEffTile* tile, float l, float t, float r, float b, float c) {
    tile->AddTriangle({{{l, t, c}, {r, t, c}, {r, b, c}}});
    tile->AddTriangle({{{l, t, c}, {r, b, c}, {l, b, c}}});
  }
  // The picture's pixels, A8R8G8B8.
  std::vector<std::uint32_t> Read(TRenderTargetTexture* picture, int& pw, int& ph) {
    pw = picture->Size().cx;
    ph = picture->Size().cy;
    TRef<TSysBitmap> b = CreateSysBitmap(pw, ph, pfA8R8G8B8);
    TRef<T3DSurface> s = picture->DeviceTexture()->GetSurface(0);
    EXPECT_TRUE(s && s->CopyToBitmap(b.get()));
    std::vector<std::uint32_t> out(std::size_t(pw) * std::size_t(ph));
    for (int y = 0; y < ph; ++y)
      std::memcpy(&out[std::size_t(y) * std::size_t(pw)], b->ScanLine(y), std::size_t(pw) * 4);
    return out;
  }
  // A slide of a grey area whose last column is green, last row red and
  // last pixel blue.
  static oru::TRenderSlideProc Marked(const TRect& a) {
    return [a](void*, oru::TCustomD3DEffecter* e, const TRect&) {
      T3DScreen* s = e->Screen();
      s->FillRect(0xFF404040u, {0, 0, a.Right - a.Left, a.Bottom - a.Top});
      s->FillRect(0xFF00FF00u, {a.Right - a.Left - 1, 0, a.Right - a.Left, a.Bottom - a.Top});
      s->FillRect(0xFFFF0000u, {0, a.Bottom - a.Top - 1, a.Right - a.Left, a.Bottom - a.Top});
      s->FillRect(0xFF0000FFu, {a.Right - a.Left - 1, a.Bottom - a.Top - 1, a.Right - a.Left, a.Bottom - a.Top});
    };
  }
};

TEST_F(EffecterOnDevice, TrianglesOverAGridPaintTheSlideWithTheirCoverage) {
  oru::TCustomD3DEffecter* e = drawer->Effecter.get();
  ASSERT_TRUE(Frame(0xFF0000FFu, [&](oru::T3DDrawer&) {
    // The slide: red with one white column at x = 10.
    oru::TEffController* c = e->RunEffect(
        false,
        [](void*, oru::TCustomD3DEffecter* ef, const TRect&) {
          ef->Screen()->FillRect(0xFFFF0000u, {0, 0, 64, 48});
          ef->Screen()->FillRect(0xFFFFFFFFu, {10, 0, 11, 48});
        },
        nullptr);
    ASSERT_TRUE(c);
    const float xs[] = {0, 32, 64}, ys[] = {0, 24, 48};
    ASSERT_TRUE(c->SetGrid(xs, 2, 2, ys));
    PixelProjection();
    oru::TEffTile* m = c->GetMultiTile();
    m->Begin(oru::emTextured, false);
    Quad(m, 0, 0, 32, 48, 255);
    Quad(m, 32, 0, 64, 48, 64);
    m->End();
    e->ReleasePictures();
  }));
  Capture();
  // Left opaque and texel-exact; right 64/255 of red over blue.
  for (int y : {2, 23, 24, 45}) {
    EXPECT_TRUE(Near(At(5, y), 0xFF0000u, 1)) << y;
    EXPECT_TRUE(Near(At(31, y), 0xFF0000u, 1)) << y;
    EXPECT_TRUE(Near(At(10, y), 0xFFFFFFu, 1)) << y;
    EXPECT_TRUE(Near(At(9, y), 0xFF0000u, 1)) << y;
    EXPECT_TRUE(Near(At(11, y), 0xFF0000u, 1)) << y;
    EXPECT_TRUE(Near(At(32, y), 0x4000BFu, 2)) << y;
    EXPECT_TRUE(Near(At(63, y), 0x4000BFu, 2)) << y;
  }
  EXPECT_TRUE(Near(At(0, 0), 0xFF0000u, 1));
}

TEST_F(EffecterOnDevice, VerticesOnTheAreasLeftOrTopEdgeMoveTwoPixelsOutAndBatchesPairUp) {
  TRef<oru::TCustomD3DEffecter> e = MakeRef<oru::TCustomD3DEffecter>(Screen(), nullptr);
  e->SetArea({5, 7, 45, 40});
  ASSERT_TRUE(Frame(0xFF000000u, [&](oru::T3DDrawer&) {
    oru::TEffController* c = e->RunEffect(false, Marked({5, 7, 45, 40}), nullptr);
    ASSERT_TRUE(c);
    EXPECT_EQ(e->RenderedRect(0), (TRect{5, 7, 45, 40}));
    auto* tile = static_cast<oru::TD3DTriTile*>(c->GetTileAt(0, 0));
    EXPECT_EQ(tile->Rect, (TRect{5, 7, 45, 40}));
    tile->Begin(oru::emTextured, false);
    ASSERT_TRUE(tile->Batch);
    tile->AddTriangle({{{5, 7, 255}, {5.01f, 20, 10}, {45, 40, 0}}});
    tile->AddTriangle({{{0, 0, 300}, {20, 7, -4}, {44, 40, std::nanf("")}}});
    const float nan = std::numeric_limits<float>::quiet_NaN();
    tile->AddTriangle({{{nan, 0, 1}, {20, 7, 1}, {44, 40, 1}}});  // dropped
    ASSERT_EQ(tile->Batch->Count(), 2);
    const std::vector<T3DVertex>& v = tile->Batch->Vertices();
    const float want[6][2] = {{3, 5}, {5.01f, 20}, {45, 40}, {0, 0}, {20, 5}, {44, 40}};
    const std::uint32_t alpha[6] = {255, 10, 0, 255, 0, 0};
    const float ext = float(e->GetPicture(0)->Extent().cx);
    for (int k = 0; k < 6; ++k) {
      EXPECT_FLOAT_EQ(v[std::size_t(k)].X, want[k][0]) << k;
      EXPECT_FLOAT_EQ(v[std::size_t(k)].Y, want[k][1]) << k;
      EXPECT_EQ(v[std::size_t(k)].Diffuse >> 24, alpha[k]) << k;
    }
    // The texture follows the moved vertex: texel centres from the area's corner.
    EXPECT_FLOAT_EQ(v[0].Tex[0].U * ext, 3 - 5 + 0.5f);
    EXPECT_THROW(tile->Begin(oru::emTextured, false), EAbort);
    tile->End();
    EXPECT_EQ(tile->Batch, nullptr);
    EXPECT_THROW(tile->End(), EAbort);
    // Untextured triangles in a textured batch keep their place and draw.
    tile->Begin(oru::emTextured, true);
    tile->AddColoredTriangle({{{0, 0, 0}, {10, 0, 0}, {0, 10, 0}}}, {0xFF00FF00u, 0xFF00FF00u, 0xFF00FF00u});
    EXPECT_TRUE(tile->Batch);
    tile->End();
    e->ReleasePictures();
  }));
}

TEST_F(EffecterOnDevice, EdgesAreReplicatedThroughTheCopyTargetOneStepOrUpTo32Pixels) {
  TRef<oru::TCustomD3DEffecter> e = MakeRef<oru::TCustomD3DEffecter>(Screen(), nullptr);
  const TRect area{0, 0, 40, 30};  // a 64 x 32 picture
  e->SetArea(area);
  int pw = 0, ph = 0;
  auto at = [&](const std::vector<std::uint32_t>& p, int x, int y) {
    return p[std::size_t(y) * std::size_t(pw) + std::size_t(x)];
  };
  ASSERT_TRUE(Frame(0xFF000000u, [&](oru::T3DDrawer&) {
    // Reduced: one column, then one row over the widened rectangle.
    ASSERT_TRUE(e->RunEffect(false, Marked(area), nullptr));
    std::vector<std::uint32_t> p = Read(e->GetPicture(0), pw, ph);
    ASSERT_EQ(pw, 64);
    ASSERT_EQ(ph, 32);
    EXPECT_EQ(at(p, 39, 10), 0xFF00FF00u);
    EXPECT_EQ(at(p, 40, 10), 0xFF00FF00u);
    EXPECT_EQ(at(p, 41, 10) >> 24, 0u);
    EXPECT_EQ(at(p, 10, 30), 0xFFFF0000u);
    EXPECT_EQ(at(p, 40, 30), 0xFF0000FFu);
    EXPECT_EQ(at(p, 41, 30) >> 24, 0u);
    EXPECT_EQ(at(p, 10, 31) >> 24, 0u);
    e->ReleasePictures();

    // Full: doubling 1 + 2 + 4 + 8 columns (the next 16 do not fit in the
    // 24 left), then 1 row (3 would pass the picture's bottom).
    ASSERT_TRUE(e->RenderPicture(Marked(area), nullptr));
    p = Read(e->GetPicture(0), pw, ph);
    EXPECT_EQ(at(p, 54, 10), 0xFF00FF00u);
    EXPECT_EQ(at(p, 55, 10), 0u);  // transparent black
    EXPECT_EQ(at(p, 20, 10), 0xFF404040u);
    EXPECT_EQ(at(p, 10, 30), 0xFFFF0000u);
    EXPECT_EQ(at(p, 54, 30), 0xFF0000FFu);
    EXPECT_EQ(at(p, 55, 30), 0u);
    EXPECT_EQ(at(p, 10, 31), 0u);
    e->ReleasePictures();

    // A tall area: a column of 21 pieces of 256 goes in two batches; the
    // rows below replicate over all 8 columns, 31 of them.
    const TRect tall{0, 0, 7, 5200};  // an 8 x 8192 picture
    e->SetArea(tall);
    const std::int32_t pieces = e->CopyPieces(), flushes = e->CopyFlushes();
    ASSERT_TRUE(e->RenderPicture(Marked(tall), nullptr));
    EXPECT_EQ(e->CopyPieces() - pieces, 21 + 5);
    EXPECT_EQ(e->CopyFlushes() - flushes, 2 + 5);
    p = Read(e->GetPicture(0), pw, ph);
    ASSERT_EQ(ph, 8192);
    for (int y : {0, 255, 256, 5000, 5198}) EXPECT_EQ(at(p, 7, y), 0xFF00FF00u) << y;
    for (int y : {5199, 5200, 5230}) EXPECT_EQ(at(p, 3, y), 0xFFFF0000u) << y;
    EXPECT_EQ(at(p, 7, 5230), 0xFF0000FFu);
    EXPECT_EQ(at(p, 3, 5231), 0u);
    e->ReleasePictures();
  }));
}

TEST_F(EffecterOnDevice, TwoSlidesComposeThroughTheEffecterAndThePicturesComeFromTheirPools) {
  oru::TCustomD3DEffecter* e = drawer->Effecter.get();
  const std::int32_t freeBefore = drawer->TargetPool->FreeCount();
  ASSERT_TRUE(Frame(0xFF000000u, [&](oru::T3DDrawer& d) {
    // The outgoing slide as the background, the incoming one (green on the
    // left half only) at half coverage.
    d.FillRectF({0, 0}, {64, 48}, TColor32::FromValue(0xFFFF0000u));
    oru::TEffController* c = e->RunEffect(
        true,
        [](void*, oru::TCustomD3DEffecter* ef, const TRect&) {
          ef->Screen()->FillRect(0xFF00FF00u, {0, 0, 32, 48});
        },
        nullptr);
    ASSERT_TRUE(c);
    ASSERT_TRUE(e->GetPicture(0) && e->GetPicture(1));
    EXPECT_NE(e->GetPicture(0), e->GetPicture(1));
    EXPECT_EQ(e->GetPicture(0)->Pool(), drawer->TargetPool.get());
    PixelProjection();
    oru::TEffTile* m = c->GetMultiTile();
    m->Begin(oru::emTextured, false);
    Quad(m, 0, 0, 64, 48, 128);
    m->End();
    e->ReleasePictures();
  }));
  Capture();
  EXPECT_TRUE(Near(At(5, 5), 0x7F8000u, 2));
  EXPECT_TRUE(Near(At(31, 40), 0x7F8000u, 2));
  // Where the picture is transparent nothing is added.
  EXPECT_EQ(At(33, 5), 0xFF0000u);
  EXPECT_EQ(At(63, 47), 0xFF0000u);
  EXPECT_EQ(e->GetPicture(0), nullptr);
  EXPECT_EQ(drawer->TargetPool->FreeCount(), std::max(freeBefore, 2));

  // The direct pass renders into the current picture.
  ASSERT_TRUE(Frame(0xFF000000u, [&](oru::T3DDrawer&) {
    const auto fill = [](std::uint32_t colour) {
      return [colour](void*, oru::TCustomD3DEffecter* ef, const TRect&) {
        ef->Screen()->FillRect(colour, {0, 0, 64, 48});
      };
    };
    EXPECT_FALSE(e->Current());
    ASSERT_TRUE(e->RenderPicture(fill(0xFF112233u), nullptr));
    e->TogglePicture();
    ASSERT_TRUE(e->RenderPicture(fill(0xFF445566u), nullptr));
    e->TogglePicture();
    int pw = 0, ph = 0;
    EXPECT_EQ(Read(e->GetPicture(0), pw, ph)[0], 0xFF112233u);
    EXPECT_EQ(Read(e->GetPicture(1), pw, ph)[0], 0xFF445566u);
    e->ReleasePictures();
  }));
}

TEST_F(EffecterOnDevice, BadInputGivesNoPictureNoCrashAndNoHugeAllocation) {
  EXPECT_THROW(MakeRef<oru::TCustomD3DEffecter>(nullptr, nullptr), EAbort);
  TRef<oru::TCustomD3DEffecter> e = MakeRef<oru::TCustomD3DEffecter>(Screen(), nullptr);
  EXPECT_THROW(e->GetPicture(2), EAbort);
  EXPECT_THROW(e->GetPicture(-1), EAbort);
  int calls = 0;
  const oru::TRenderSlideProc count = [&](void*, oru::TCustomD3DEffecter*, const TRect&) { ++calls; };
  ASSERT_TRUE(Frame(0xFF000000u, [&](oru::T3DDrawer&) {
    // Empty, inverted and absurd areas: no grid, no picture.
    for (const TRect& r : {TRect{10, 10, 10, 20}, TRect{20, 20, 10, 10}, TRect{0, 0, INT_MAX, 100},
                           TRect{INT_MIN, INT_MIN, INT_MAX, INT_MAX}}) {
      e->SetArea(r);
      EXPECT_EQ(e->Controller()->Cols(), 0);
      EXPECT_EQ(e->RunEffect(false, count, nullptr), nullptr);
      EXPECT_FALSE(e->RenderPicture(count, nullptr));
      EXPECT_EQ(e->GetPicture(0), nullptr);
    }
    EXPECT_EQ(calls, 0);
    // An area wholly outside the picture renders nothing and leaves it
    // transparent.
    e->SetArea({100, 100, 140, 130});
    oru::TEffController* c = e->RunEffect(false, count, nullptr);
    ASSERT_TRUE(c);
    EXPECT_EQ(calls, 0);
    int pw = 0, ph = 0;
    for (std::uint32_t p : Read(e->GetPicture(0), pw, ph)) ASSERT_EQ(p >> 24, 0u);
    // Plain batches take colours without a picture.
    oru::TEffTile* tile = c->GetTileAt(0, 0);
    tile->Begin(oru::emPlain, false);
    tile->AddColoredPoints({{{0, 0}, {8, 0}, {0, 8}}}, {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu});
    tile->End();
  }));
  // A controller kept past its effecter draws nothing and does not crash.
  TRef<oru::TEffController> kept(e->Controller());
  e = nullptr;
  EXPECT_EQ(kept->Cols(), 0);
  oru::TEffTile* m = kept->GetMultiTile();
  m->Begin(oru::emTextured, false);
  m->AddTriangle({{{0, 0, 255}, {8, 0, 255}, {0, 8, 255}}});
  m->End();

  // Freed while a tile's batch is open: the batch is dropped with it.
  e = MakeRef<oru::TCustomD3DEffecter>(Screen(), nullptr);
  e->SetArea({0, 0, 64, 48});
  ASSERT_TRUE(Frame(0xFF000000u, [&](oru::T3DDrawer&) {
    oru::TEffController* c = e->RunEffect(false, count, nullptr);
    ASSERT_TRUE(c);
    oru::TEffTile* tile = c->GetTileAt(0, 0);
    tile->Begin(oru::emTextured, false);
    tile->AddTriangle({{{0, 0, 255}, {8, 0, 255}, {0, 8, 255}}});
    e = nullptr;
  }));
}

}  // namespace efftilestest
