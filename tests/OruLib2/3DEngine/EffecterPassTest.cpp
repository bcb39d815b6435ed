// What a filter's pass asks of the effecter's picture: rendered only where
// the filter reads it, and not cleared under a slide that paints it all;
// and the part a soft circle reads.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "OruLib2/3DEngine/D3DEffecter.h"
#include "OruLib2/3DEngine/ShapeFilters.h"
#include "tests/OruLib2/3DEngine/DrawerOnDeviceFixture.h"

namespace {

using namespace zm;

class EffecterPass : public drawertest::TDrawerOnDevice {
protected:
  std::vector<std::uint32_t> Read(TRenderTargetTexture* picture, int& pw) {
    pw = picture->Size().cx;
    const int ph = picture->Size().cy;
    TRef<TSysBitmap> b = CreateSysBitmap(pw, ph, pfA8R8G8B8);
    TRef<T3DSurface> s = picture->DeviceTexture()->GetSurface(0);
    EXPECT_TRUE(s && s->CopyToBitmap(b.get()));
    std::vector<std::uint32_t> out(std::size_t(pw) * std::size_t(ph));
    for (int y = 0; y < ph; ++y) std::memcpy(&out[std::size_t(y) * std::size_t(pw)], b->ScanLine(y), std::size_t(pw) * 4);
    return out;
  }
  // A slide painting Rect (target pixels) in one colour with triangles.
  oru::TRenderSlideProc Paint(TRect r, std::uint32_t colour) {
    return [this, r, colour](void*, oru::TCustomD3DEffecter* e, const TRect&) {
      // Target pixels over the current target, as the drawer's slides get them.
      T3DScreen* s = e->Screen();
      const TRect win = s->WindowRect();
      const TPoint off = s->TargetOffset();
      const float w = float(win.Right - win.Left), h = float(win.Bottom - win.Top);
      s->SetProjection(float(off.X), float(off.Y), w, h, w, h);
      drawer->FillRectF({float(r.Left), float(r.Top)}, {float(r.Right), float(r.Bottom)}, TColor32::FromValue(colour));
    };
  }
};

TEST_F(EffecterPass, OnlyWhatTheFilterReadsIsRenderedAndACoveringSlideIsNotClearedUnder) {
  TRef<oru::TCustomD3DEffecter> e = MakeRef<oru::TCustomD3DEffecter>(drawer->Screen(), nullptr);
  const TRect area{0, 0, 40, 30};
  e->SetArea(area);
  int pw = 0;
  ASSERT_TRUE(Frame(0xFF000000u, [&](oru::T3DDrawer&) {
    const auto at = [&](const std::vector<std::uint32_t>& p, int x, int y) { return p[std::size_t(y * pw + x)]; };
    ASSERT_TRUE(e->RunEffect(false, Paint(area, 0xFF112233u), nullptr));
    e->ReleasePictures();
    // Reads (10, 5)-(20, 12): that and 2 pixels round, the rest as it was.
    oru::TEffectPass pass;
    pass.Reads = {10, 5, 20, 12};
    ASSERT_TRUE(e->RunEffect(false, Paint(area, 0xFF445566u), nullptr, pass));
    std::vector<std::uint32_t> p = Read(e->GetPicture(0), pw);
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 40; ++x) {
        const bool drawn = x >= 8 && x < 22 && y >= 3 && y < 14;
        ASSERT_EQ(at(p, x, y), drawn ? 0xFF445566u : 0xFF112233u) << x << "," << y;
      }
    e->ReleasePictures();
    // Reads reaching the right edge: the replicated column comes along.
    pass.Reads = {30, 0, 40, 30};
    ASSERT_TRUE(e->RunEffect(false, Paint(area, 0xFF778899u), nullptr, pass));
    p = Read(e->GetPicture(0), pw);
    EXPECT_EQ(at(p, 27, 4), 0xFF112233u);
    EXPECT_EQ(at(p, 28, 4), 0xFF778899u);
    EXPECT_EQ(at(p, 39, 4), 0xFF778899u);
    EXPECT_EQ(at(p, 40, 4), 0xFF778899u);
    EXPECT_EQ(at(p, 5, 20), 0xFF112233u);
    e->ReleasePictures();
    // Covered: a slide that paints only its left half leaves the old right
    // half (it promised to paint everything); without the promise the right
    // half is cleared to transparent.
    pass = {};
    pass.Covered = true;
    ASSERT_TRUE(e->RunEffect(false, Paint({0, 0, 20, 30}, 0xFFAABBCCu), nullptr, pass));
    p = Read(e->GetPicture(0), pw);
    EXPECT_EQ(at(p, 5, 5), 0xFFAABBCCu);
    EXPECT_EQ(at(p, 35, 5), 0xFF778899u);
    e->ReleasePictures();
    ASSERT_TRUE(e->RunEffect(false, Paint({0, 0, 20, 30}, 0xFFAABBCCu), nullptr));
    p = Read(e->GetPicture(0), pw);
    EXPECT_EQ(at(p, 5, 5), 0xFFAABBCCu);
    EXPECT_EQ(at(p, 35, 5) >> 24, 0u);
    e->ReleasePictures();
  }));
}

// A tile that keeps the box of the triangles that show any of the picture.
class TBoxTile : public oru::TEffTile {
public:
  TBoxTile() : TEffTile(nullptr, {}, {}) {}
  void Begin(std::int32_t, bool) override {}
  void AddTriangle(const oru::TEffTriangle& v) override {
    if (v[0].C <= 0 && v[1].C <= 0 && v[2].C <= 0) return;
    for (const oru::TEffVertex& p : v) {
      L = std::min(L, p.X);
      T = std::min(T, p.Y);
      R = std::max(R, p.X);
      B = std::max(B, p.Y);
    }
    ++Count;
  }
  void AddColoredTriangle(const oru::TEffTriangle&, const oru::TEffColors&) override {}
  void AddShadedTextureTriangle(const oru::TEffTriangle&, const oru::TEffPoints2&) override {}
  void AddColoredPoints(const oru::TEffPoints2&, const oru::TEffColors&) override {}
  void AddShadedTriangle(const oru::TEffTriangle&, const oru::TEffPoints3&) override {}
  void End() override {}
  float L = 1e30f, T = 1e30f, R = -1e30f, B = -1e30f;
  int Count = 0;
};

TEST(CircleReads, EveryTriangleThatShowsThePictureLiesInsideTheReadBounds) {
  struct Case {
    float cx, cy;
    bool reverse;
    TRect target;
  };
  const Case cases[] = {{0.5f, 0.5f, false, {0, 0, 1920, 1080}},
                        {0.1f, 0.9f, false, {0, 0, 1920, 1080}},
                        {1.4f, -0.3f, false, {0, 0, 1920, 1080}},  // centre outside
                        {0.5f, 0.5f, true, {0, 0, 1920, 1080}},
                        {0.3f, 0.6f, false, {100, 50, 740, 530}}};  // drawn into a part
  for (const Case& c : cases)
    for (const float progress : {0.01f, 0.1f, 0.25f, 0.5f, 0.75f, 0.97f}) {
      TRef<oru::TCircleFilter> f = MakeRef<oru::TCircleFilter>(c.cx, c.cy, c.reverse);
      f->Init({0, 0, 1920, 1080}, 192, 1);
      f->TargetRect = c.target;
      f->SetProgress(progress);
      TRect reads;
      TRef<TBoxTile> tile = MakeRef<TBoxTile>();
      f->DrawInto(tile.get());
      if (!f->ReadBounds(reads)) {
        EXPECT_EQ(tile->Count, 0) << progress;
        continue;
      }
      EXPECT_GE(reads.Left, c.target.Left);
      EXPECT_LE(reads.Right, c.target.Right);
      if (tile->Count == 0) continue;
      // Clipped to the target, as the picture is.
      EXPECT_LE(float(reads.Left), std::max(tile->L, float(c.target.Left))) << progress;
      EXPECT_LE(float(reads.Top), std::max(tile->T, float(c.target.Top))) << progress;
      EXPECT_GE(float(reads.Right), std::min(tile->R, float(c.target.Right))) << progress;
      EXPECT_GE(float(reads.Bottom), std::min(tile->B, float(c.target.Bottom))) << progress;
    }
}

}  // namespace
