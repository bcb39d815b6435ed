// The cross-fade of two picture slides drawn in one pass from their pictures,
// against the general way (the outgoing slide, the incoming one rendered into
// the effecter's picture, the filter's triangles), pixel for pixel; and the
// slides it must leave to the general way.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "OruLib2/3DEngine/OruFilter.h"
#include "tests/support/DrawerOnDevice.h"

namespace {

using namespace zm;

// A picture slide as a show draws one: a background reaching past the
// frame, the picture, and what may lie over it.
class TFadeSlide : public TDrawItem {
public:
  TFadeSlide(TImage* picture, const TImageDrawParams& params, TFloatPoint origin, TFloatPoint axisX,
             TFloatPoint axisY)
      : Picture(picture), Params(params), Origin(origin), AxisX(axisX), AxisY(axisY) {}
  void Draw(TDeviceDrawer& d) override {
    d.FillQuad({-50, -50}, {5000, -50}, {-50, 5000}, TColor32::FromValue(0xFF102030u));
    // Image objects place their pictures in 3D, flat on the slide.
    if (In3D)
      d.DrawImage3D(Picture, {Origin.X, Origin.Y, 0}, Params, {AxisX.X, AxisX.Y, 0}, {AxisY.X, AxisY.Y, 0});
    else
      d.DrawImage(Picture, Origin, Params, AxisX, AxisY);
    if (ObjectOver) d.FillQuad({10, 10}, {30, 10}, {10, 20}, TColor32::FromValue(0xFFC04020u));
  }
  float GetBlurRadius() override { return Blur; }
  bool CoversOpaque(const TFloatRect&) override { return true; }

  TImage* Picture;
  TImageDrawParams Params;
  TFloatPoint Origin, AxisX, AxisY;
  bool ObjectOver = false;
  bool In3D = false;
  float Blur = 0;
};

// Noise pictures: without alpha (as a JPEG decodes) or with it.
TRef<TImage> NoisePicture(std::int32_t w, std::int32_t h, std::uint32_t seed, bool alpha) {
  TRef<TSysBitmap> b = CreateSysBitmap(w, h, alpha ? pfA8R8G8B8 : pfR8G8B8);
  std::mt19937 rng(seed);
  const int bpp = alpha ? 4 : 3;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const std::uint32_t p = rng() | (alpha ? 0x80000000u : 0);
      std::memcpy(b->ScanLine(y) + bpp * x, &p, std::size_t(bpp));
    }
  TRef<TBitmapStore> store = MakeRef<TWrapperBitmapStore>(u"fade", TImageLoadHandler{}, false, b.get());
  return MakeRef<TImage>(store.get());
}

template <int W, int H>
class OnePassFadeOn : public drawertest::TTransitionOnDevice {
protected:
  OnePassFadeOn() : TTransitionOnDevice(W, H) {}
  // Pictures are readied at their screen size once a frame was drawn at it.
  void SetUp() override {
    TTransitionOnDevice::SetUp();
    ASSERT_TRUE(Frame(0xFF000000u, {}));
  }

  enum TKind { kOneToOne, kScreenSized, kInside, kObjectOver, kAlpha, kBlurred, kHalfOpaque };

  // The slide of a case; Picture keeps its picture.
  TRef<TFadeSlide> MakeSlide(TKind kind, std::uint32_t seed) {
    TImageDrawParams p;
    p.Filtering = 1;
    p.Antialiased = true;
    std::int32_t pw = W, ph = H;
    TFloatPoint origin{0, 0}, ax{1, 0}, ay{0, 1};
    if (kind == kScreenSized) {
      pw = 2 * W + 3;
      ph = 2 * H + 1;
      ax = {float(W) / float(pw), 0};
      ay = {0, float(H) / float(ph)};
    } else if (kind == kInside) {
      pw = W - 20;
      ph = H - 14;
      origin = {7, 5};
    }
    pictures_.push_back(NoisePicture(pw, ph, seed, kind == kAlpha));
    TImage* picture = pictures_.back().get();
    p.SourceRect = {0, 0, float(pw), float(ph)};
    if (kind == kHalfOpaque) p.Opacity = 60;
    TImageDrawParams ready = p;
    ready.Still = true;
    ready.StillOrigin = origin;
    ready.StillAxisX = ax;
    ready.StillAxisY = ay;
    drawer->PrepareImage(picture, ready);
    TRef<TFadeSlide> s = MakeRef<TFadeSlide>(picture, p, origin, ax, ay);
    s->ObjectOver = kind == kObjectOver;
    s->In3D = kind == kScreenSized;
    s->Blur = kind == kBlurred ? 3.0f : 0.0f;
    return s;
  }

  // The frame of a cross-fade at t; OnePass tells whether it went the one-pass way.
  std::vector<std::uint32_t> FadeFrame(TDrawItem* a, TDrawItem* b, float t, bool onePass, bool& went) {
    drawer->OnePassFades = onePass;
    TRef<oru::TTransitionDef> d = MakeRef<oru::TTransitionDef>();
    d->Kind = 1;
    d->Flags = {1};
    TRef<oru::TOruFilter> p = MakeRef<oru::TOruFilter>();
    p->Effect = d;
    p->Progress = t;
    Dev()->Debug().RecordCalls(true);
    Dev()->Debug().ClearCalls();
    EXPECT_TRUE(Frame(0xFF000000u, [&](oru::T3DDrawer& dr) { dr.DrawTransition(a, b, p.get()); }));
    went = false;
    for (const plat::gfx::CallRecord& c : Dev()->Debug().Calls())
      went = went || (c.call == plat::gfx::CallKind::BlendOverTextures && c.result == plat::gfx::Result::Ok);
    Dev()->Debug().RecordCalls(false);
    drawer->OnePassFades = true;
    EXPECT_TRUE(p->Filter && p->Filter->IsAlpha);
    Capture();
    return px;
  }

  void Run() {
    struct TCase {
      const char* name;
      TKind a, b;
      bool onePass;
    };
    const TCase cases[] = {
        {"both 1:1", kOneToOne, kOneToOne, true},
        {"both readied at the screen size", kScreenSized, kScreenSized, true},
        {"1:1 over a smaller one", kInside, kOneToOne, true},
        {"a smaller one over one readied", kScreenSized, kInside, true},
        {"something over the incoming picture", kOneToOne, kObjectOver, false},
        {"something over the outgoing picture", kObjectOver, kScreenSized, false},
        {"a picture with alpha", kOneToOne, kAlpha, false},
        {"a blurred slide", kBlurred, kOneToOne, false},
        {"a half opaque picture", kHalfOpaque, kOneToOne, false},
    };
    std::uint32_t seed = 1;
    for (const TCase& c : cases) {
      TRef<TFadeSlide> a = MakeSlide(c.a, seed++), b = MakeSlide(c.b, seed++);
      for (const float t : {0.0f, 0.31f, 0.5f, 0.97f}) {
        SCOPED_TRACE(testing::Message() << c.name << " at " << t);
        bool went[2] = {};
        const std::vector<std::uint32_t> one = FadeFrame(a.get(), b.get(), t, true, went[0]);
        const std::vector<std::uint32_t> general = FadeFrame(a.get(), b.get(), t, false, went[1]);
        EXPECT_EQ(went[0], c.onePass);
        EXPECT_FALSE(went[1]);
        ASSERT_EQ(one.size(), general.size());
        for (std::size_t i = 0; i < one.size(); ++i)
          ASSERT_EQ(one[i], general[i]) << "pixel " << i % W << "," << i / W;
      }
    }
    pictures_.clear();
  }

  std::vector<TRef<TImage>> pictures_;
};

using OnePassFadeOdd = OnePassFadeOn<161, 91>;
using OnePassFadeTiled = OnePassFadeOn<523, 301>;  // two columns of tiles

TEST_F(OnePassFadeOdd, DrawsWhatTheGeneralWayDrawsAndLeavesItWhatItCannotTake) { Run(); }
TEST_F(OnePassFadeTiled, DrawsWhatTheGeneralWayDrawsAndLeavesItWhatItCannotTake) { Run(); }

}  // namespace
