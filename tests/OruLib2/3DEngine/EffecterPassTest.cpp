// What a filter's pass asks of the effecter's picture: rendered only where
// the filter reads it, and not cleared under a slide that paints it all.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <cstring>
#include <vector>

#include "OruLib2/3DEngine/D3DEffecter.h"
#include "OruLib2/3DEngine/FilterFactory.h"
#include "OruLib2/3DEngine/OruFilter.h"
#include "OruLib2/3DEngine/ShapeFilters.h"
#include "tests/support/DrawerOnDevice.h"

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

// The screen's clip belongs to the target it was set on: a target pushed on
// top (a slide's mask or layer) is drawn and cleared whole, and the frame is
// clipped again once it is back.
TEST_F(EffecterPass, AClipOnTheFrameLeavesATargetPushedOnTopWholeAndComesBackAfterIt) {
  T3DScreen* s = drawer->Screen();
  const TRect clip{10, 8, 30, 20};
  std::vector<std::uint32_t> layer;
  int lw = 0;
  ASSERT_TRUE(Frame(0xFF000000u, [&](oru::T3DDrawer& d) {
    ASSERT_TRUE(s->SetScissor(&clip));
    d.FillRectF({0, 0}, {64, 48}, TColor32::FromValue(0xFFFF0000u));
    TRef<TRenderTargetTexture> t = d.BeginRenderTarget();
    ASSERT_TRUE(t);
    d.FillRectF({0, 0}, {64, 48}, TColor32::FromValue(0xFF00FF00u));
    layer = Read(t.get(), lw);
    d.EndRenderTarget();
    d.DrawRenderTarget(t, 0);
    d.FillRectF({0, 0}, {64, 48}, TColor32::FromValue(0xFF0000FFu));
    s->Clear(0xFF00FFFFu, false);
    ASSERT_TRUE(s->SetScissor(nullptr));
  }));
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) ASSERT_EQ(layer[std::size_t(y * lw + x)], 0xFF00FF00u) << x << "," << y;
  Capture();
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) {
      const bool in = x >= clip.Left && x < clip.Right && y >= clip.Top && y < clip.Bottom;
      ASSERT_EQ(At(x, y), in ? 0x00FFFFu : 0u) << x << "," << y;
    }
}

// Soft shapes and sweeps read only part of the incoming picture: the frame
// rendered there alone is the frame rendered whole, at every stage.
class TNoiseSlide : public TDrawItem {
public:
  explicit TNoiseSlide(TImage* picture) : picture_(picture) {}
  void Draw(TDeviceDrawer& d) override { d.DrawImage(picture_, {0, 0}, TImageDrawParams{}, {1, 0}, {0, 1}); }

private:
  TImage* picture_;
};

class FilterReads : public drawertest::TTransitionOnDevice {
protected:
  FilterReads() : TTransitionOnDevice(160, 90) {}
};

TEST_F(FilterReads, APictureRenderedOnlyWhereTheFilterReadsGivesTheSameFrames) {
  std::mt19937 rng(3);
  TRef<TImage> a = drawertest::MakeImage(160, 90, [&](int, int) { return rng() | 0xFF000000u; });
  TRef<TImage> b = drawertest::MakeImage(160, 90, [&](int, int) { return rng() | 0xFF000000u; });
  TRef<TNoiseSlide> sa = MakeRef<TNoiseSlide>(a.get()), sb = MakeRef<TNoiseSlide>(b.get());
  struct Kind {
    const char* name;
    std::int32_t kind;
    std::vector<std::uint8_t> flags;
    std::vector<std::int32_t> ints;
  };
  const Kind kinds[] = {
      {"circle", 3, {0, 0, 1, 0, 0}, {50, 50}},
      {"circle off centre", 3, {0, 0, 1, 0, 0}, {10, 85}},
      {"circle closing", 3, {1, 0, 1, 0, 0}, {50, 50}},
      {"rhomb", 3, {0, 0, 0, 1, 0}, {40, 60}},
      {"square", 3, {0, 0, 0, 0, 1}, {50, 50}},
      {"lines", 4, {1}, {}},
      {"diagonal", 4, {0, 0, 1}, {}},
      {"clock", 2, {0, 0, 0, 0, 0, 0, 1}, {}},
      {"broom from a side", 2, {0, 0, 0, 0, 0, 1}, {}},
      {"broom from a corner", 2, {0, 0, 1}, {}},
  };
  for (const Kind& k : kinds)
    for (const float t : {0.05f, 0.3f, 0.6f, 0.9f}) {
      SCOPED_TRACE(std::string(k.name) + " at " + std::to_string(t));
      std::vector<std::uint32_t> frames[2];
      for (int pass = 0; pass < 2; ++pass) {
        drawer->LimitFilterReads = pass == 0;
        TRef<oru::TTransitionDef> d = MakeRef<oru::TTransitionDef>();
        d->Kind = k.kind;
        d->Flags = k.flags;
        d->Ints = k.ints;
        d->Smoothline = 0.1;
        d->Floats = {0.1f};
        TRef<oru::TOruFilter> p = MakeRef<oru::TOruFilter>();
        p->Effect = d;
        p->Progress = t;
        ASSERT_TRUE(Frame(0xFF000000u, [&](oru::T3DDrawer& dr) { dr.DrawTransition(sa.get(), sb.get(), p.get()); }));
        Capture();
        frames[pass] = px;
        if (pass == 0) {
          TRect reads;
          ASSERT_TRUE(p->Filter);
          EXPECT_FALSE(p->Filter->IsAlpha);  // the filter meant, not the cross-fade
          // A growing shape early on reads a part only.
          if (t < 0.5f && k.flags[0] == 0 && k.kind == 3) {
            ASSERT_TRUE(p->Filter->ReadBounds(reads));
            EXPECT_LT((reads.Right - reads.Left) * (reads.Bottom - reads.Top), 160 * 90);
          }
        }
      }
      drawer->LimitFilterReads = true;
      EXPECT_EQ(frames[0], frames[1]);
    }
}

// A broom shows the incoming slide whole behind its soft edge: there the
// slide is drawn straight, the outgoing one and the picture only elsewhere,
// and the frames are those of the general way, at every point of the sweep,
// from every side and corner, either way round, near and far pivots, on
// sizes that are no multiple of anything.
template <int W, int H>
class DirectBroomOn : public drawertest::TTransitionOnDevice {
protected:
  DirectBroomOn() : TTransitionOnDevice(W, H) {}

  void Run() {
    std::mt19937 rng(7);
    // Pictures with a margin: the slide's replication reads past the area.
    TRef<TImage> a = drawertest::MakeImage(W + 40, H + 40, [&](int, int) { return rng() | 0xFF000000u; });
    TRef<TImage> b = drawertest::MakeImage(W + 40, H + 40, [&](int, int) { return rng() | 0xFF000000u; });
    using drawertest::TOpaquePictureSlide;
    TRef<TOpaquePictureSlide> sa = MakeRef<TOpaquePictureSlide>(a.get()), sb = MakeRef<TOpaquePictureSlide>(b.get());
    int directFrames = 0;
    // Flags 2-5 and 7-10: the eight directions; flag 1: reversed.
    for (int dir : {2, 3, 4, 5, 7, 8, 9, 10})
      for (const bool reverse : {false, true})
        for (const float spread : {0.1f, 0.0f})
          for (const float t : {0.02f, 0.25f, 0.5f, 0.75f, 0.97f}) {
            SCOPED_TRACE(testing::Message() << "flag " << dir << (reverse ? " reversed" : "") << " spread " << spread
                                            << " at " << t);
            std::vector<std::uint32_t> frames[2];
            int draws[2] = {};
            for (int pass = 0; pass < 2; ++pass) {
              drawer->DirectFilterDraws = pass == 0;
              TRef<oru::TTransitionDef> d = MakeRef<oru::TTransitionDef>();
              d->Kind = 2;
              d->Flags.assign(11, 0);
              d->Flags[std::size_t(dir)] = 1;
              d->Flags[1] = reverse;
              d->Smoothline = 0.1;
              d->Floats = {spread};
              TRef<oru::TOruFilter> p = MakeRef<oru::TOruFilter>();
              p->Effect = d;
              p->Progress = t;
              sa->Draws = sb->Draws = 0;
              ASSERT_TRUE(Frame(0xFF000000u, [&](oru::T3DDrawer& dr) { dr.DrawTransition(sa.get(), sb.get(), p.get()); }));
              Capture();
              frames[pass] = px;
              draws[pass] = sa->Draws + sb->Draws;
              ASSERT_TRUE(p->Filter);
              EXPECT_FALSE(p->Filter->IsAlpha);
            }
            drawer->DirectFilterDraws = true;
            ASSERT_EQ(frames[0].size(), frames[1].size());
            for (std::size_t i = 0; i < frames[0].size(); ++i)
              ASSERT_EQ(frames[0][i], frames[1][i]) << "pixel " << i % W << "," << i / W;
            EXPECT_EQ(draws[1], 2);
            if (draws[0] > 2) ++directFrames;
          }
    // Most frames from a quarter to three quarters of the sweep go the
    // direct way (a band's draws are not worth a thin sliver).
    EXPECT_GE(directFrames, 8 * 2 * 2 * 2);
  }
};

using DirectBroomOdd = DirectBroomOn<161, 91>;
using DirectBroomTall = DirectBroomOn<67, 129>;

TEST_F(DirectBroomOdd, TheSlideDrawnStraightWhereTheBroomShowsItWholeGivesTheSameFrames) { Run(); }
TEST_F(DirectBroomTall, TheSlideDrawnStraightWhereTheBroomShowsItWholeGivesTheSameFrames) { Run(); }

}  // namespace
