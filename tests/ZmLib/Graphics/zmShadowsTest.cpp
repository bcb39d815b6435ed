#include "ZmLib/Graphics/zmShadows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "ZmLib/Graphics/SysBitmapStore.h"
#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/wpLoadCallBack.h"
#include "tests/ZmLib/Graphics/GraphicsTestUtil.h"

using namespace zm;

namespace shadows_test {

// The slide host as far as shadows need it: pictures by name, generated
// shadows made on first request and cached by their key.
struct THost {
  std::map<WideString, TRef<TImage>> Pictures;
  std::map<WideString, TRef<TImage>> Cache;
  std::vector<WideString> Generated;
  TRef<TShadowGenerator> Generator = MakeRef<TShadowGenerator>();

  TImageAccessor Accessor() {
    return [this](const WideString& name) -> TRef<TImage> {
      if (auto it = Pictures.find(name); it != Pictures.end()) return it->second;
      if (auto it = Cache.find(name); it != Cache.end()) return it->second;
      if (GeneratedImageKind(name) != TGeneratedImageKind::Shadow) return nullptr;
      TShadowParams p;
      ParseShadowKey(name, p);
      Generated.push_back(name);
      return Cache[name] = Generator->MakeShadow(p, Accessor());
    };
  }
};

TRef<TImage> Picture32(const WideString& name, std::int32_t w, std::int32_t h,
                       const std::function<std::uint8_t(int x, int y)>& alpha) {
  TRef<TSysBitmap> b = CreateSysBitmap(w, h, FindPixelFormat(PF_A8R8G8B8));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b->Row32(y)[x] = (std::uint32_t(alpha(x, y)) << 24) | 0x123456u;
  return SysBitmapToImage(b.get(), false, name);
}

TSysBitmap* Level0(TImage* img) {
  return dynamic_cast<TSysBitmap*>(img->Store()->GetMipLevel(0, FindPixelFormat(PF_A8R8G8B8), nullptr));
}
std::uint8_t Alpha(TImage* img, int x, int y) { return std::uint8_t(Level0(img)->Row32(y)[x] >> 24); }

// A plain rectangle shape of W x H with margins M on every side.
TShadowParams Shape(float w, float h, float m, float blur) {
  TShadowParams p;
  p.Name = kNoPictureName;
  p.Right = w;
  p.Bottom = h;
  p.MarginX = p.MarginY = m;
  p.BackAlpha = 0;
  p.Blur = blur;
  p.Contour = -1;
  return p;
}

// The alpha of an image as rows of digits: alpha * 9 / 255 ('9' opaque, '.' for 0).
std::vector<std::string> Picture(TImage* img) {
  TSysBitmap* b = Level0(img);
  std::vector<std::string> rows(std::size_t(b->Height()));
  for (int y = 0; y < b->Height(); ++y)
    for (int x = 0; x < b->Width(); ++x) {
      const std::uint32_t a = b->Row32(y)[x] >> 24;
      rows[std::size_t(y)] += a == 0 ? '.' : char('0' + a * 9 / 255);
    }
  return rows;
}

struct TCentroid {
  double X = 0, Y = 0, Mass = 0;
};
TCentroid Centroid(TImage* img) {
  TCentroid c;
  TSysBitmap* b = Level0(img);
  for (int y = 0; y < b->Height(); ++y)
    for (int x = 0; x < b->Width(); ++x) {
      const double a = b->Row32(y)[x] >> 24;
      c.X += a * x;
      c.Y += a * y;
      c.Mass += a;
    }
  if (c.Mass > 0) c.X /= c.Mass, c.Y /= c.Mass;
  return c;
}

struct TDrawCall {
  TImage* Image;
  TShadowDrawRecord Record;
  TFloatPoint3 Origin, X, Y;
  float TexScale;
};

struct TRecordingDrawer : ShadowDrawer {
  std::vector<TDrawCall> Draws;
  std::vector<std::string> Cache;
  TShadowDrawRecord DefaultRecord() const override {
    TShadowDrawRecord r;
    r.BlendMode = 5;
    return r;
  }
  void DrawImage(TImage* image, const TShadowDrawRecord& record, const TFloatPoint3& origin, const TFloatPoint3& x,
                 const TFloatPoint3& y, float texScale) override {
    Draws.push_back({image, record, origin, x, y, texScale});
  }
  void Precache(TImage*) override { Cache.push_back("pre"); }
  void ReleaseCache(TImage*) override { Cache.push_back("release"); }
};

// Where the middle of the drawn picture lands.
TFloatPoint3 DrawnCentre(const TDrawCall& c) {
  const float w = float(c.Image->Params.Width) / 2, h = float(c.Image->Params.Height) / 2;
  return {c.Origin.X + c.X.X * w + c.Y.X * h, c.Origin.Y + c.X.Y * w + c.Y.Y * h, c.Origin.Z + c.X.Z * w + c.Y.Z * h};
}

}  // namespace shadows_test

using namespace shadows_test;

TEST(Shadows, WorkScaleHalvesLargeSilhouettes) {
  // 1000 x 750 is still 700000 or more: one more halving.
  TShadowWorkScale s = ShadowWorkScale(Shape(4000, 3000, 0, 0));
  EXPECT_EQ(s.K, 8);
  EXPECT_EQ(s.Halvings, 3);
  EXPECT_EQ(s.W, 500);
  EXPECT_EQ(s.H, 375);
  s = ShadowWorkScale(Shape(1000, 699, 0, 0));
  EXPECT_EQ(s.K, 1);
  s = ShadowWorkScale(Shape(40000, 4, 0, 0));  // small area, too wide
  EXPECT_EQ(s.K, 8);
  EXPECT_EQ(s.W, 5000);
  s = ShadowWorkScale(Shape(std::numeric_limits<float>::quiet_NaN(), 10, 0, 0));
  EXPECT_EQ(s.K, 1);

  // The 4000 x 3000 shape is worked at 500 x 375 with the blur divided by 8:
  // r = 16 / 8 + 1 = 3, so the margin of the blur is 8 on each side.
  THost host;
  TRef<TImage> img = host.Generator->MakeShadow(Shape(4000, 3000, 0, 16), host.Accessor());
  ASSERT_TRUE(img);
  EXPECT_EQ(img->Params.Width, 516);
  EXPECT_EQ(img->Params.Height, 391);
  EXPECT_EQ(img->Params.FileName, MakeShadowKey(Shape(4000, 3000, 0, 16)));
}

// A blur wide for its object is worked at a reduced size: what its margins
// add stays under 700000 pixels, the picture looks as the full-size one
// does, and it is drawn where that one would be.
TEST(Shadows, WideBlurIsWorkedSmallerAndLooksTheSame) {
  // 400 x 300 blurred by 120: at full size r = 121 adds 303 on every side,
  // 790000 pixels around 120000; at half size r = 61, margin 153. So soft a
  // blur is kept at half that size again.
  const TShadowParams wide = Shape(400, 300, 0, 120);
  TShadowWorkScale s = ShadowWorkScale(wide);
  EXPECT_EQ(s.K, 2);
  EXPECT_EQ(s.W, 200);
  EXPECT_EQ(s.H, 150);
  EXPECT_TRUE(s.KeptHalf);
  EXPECT_EQ(s.KeptScale(), 4);
  EXPECT_EQ(ShadowWorkScale(Shape(400, 300, 0, 16)).K, 1);  // an ordinary blur keeps the object's scale
  EXPECT_FALSE(ShadowWorkScale(Shape(400, 300, 0, 2.5f)).KeptHalf);  // and a sharp one its pixels
  THost host;
  TRef<TImage> img = host.Generator->MakeShadow(wide, host.Accessor());
  ASSERT_TRUE(img);
  ASSERT_EQ(img->Params.Width, (200 + 2 * 153) / 2);
  ASSERT_EQ(img->Params.Height, (150 + 2 * 153) / 2);

  // The full-size picture, as the blur makes it without the reduction.
  TRef<TSysBitmap> mask = CreateSysBitmap(400, 300, FindPixelFormat(PF_A8));
  for (int y = 0; y < 300; ++y) std::fill_n(mask->ScanLine(y), 400, std::uint8_t(255));
  TRef<TDropShadow> full = MakeRef<TDropShadow>();
  full->SetBlurRadius(120);
  ASSERT_TRUE(full->Make(mask.get()));
  TSysBitmap* ref = full->Result();
  ASSERT_EQ(ref->Width(), 400 + 2 * 303);
  // Both seen as 64 x 48 samples over the same stretch of the object's
  // plane (bilinear between pixel centres): within 3 of 255 everywhere.
  auto sample = [](auto alpha, int w, int h, double x, double y) {
    x = std::clamp(x, 0.0, w - 1.0), y = std::clamp(y, 0.0, h - 1.0);
    const int x0 = std::min(int(x), w - 2), y0 = std::min(int(y), h - 2);
    const double fx = x - x0, fy = y - y0;
    return (alpha(x0, y0) * (1 - fx) + alpha(x0 + 1, y0) * fx) * (1 - fy) +
           (alpha(x0, y0 + 1) * (1 - fx) + alpha(x0 + 1, y0 + 1) * fx) * fy;
  };
  auto refAlpha = [&](int x, int y) { return double(ref->ScanLine(y)[x]); };
  auto newAlpha = [&](int x, int y) { return double(Alpha(img.get(), x, y)); };
  double worst = 0, peak = 0;
  for (int j = 0; j < 48; ++j)
    for (int i = 0; i < 64; ++i) {
      const double x = -303 + (i + 0.5) * 1006 / 64, y = -303 + (j + 0.5) * 906 / 48;  // object pixels
      const double a = sample(refAlpha, ref->Width(), ref->Height(), x + 303 - 0.5, y + 303 - 0.5);
      // Working pixels u, v of the half-size work; the kept picture has one
      // pixel for two of them.
      const double u = x / 2 + 153, v = y / 2 + 153;
      const double b = sample(newAlpha, 253, 228, u / 2 - 0.5, v / 2 - 0.5);
      worst = std::max(worst, std::fabs(a - b));
      peak = std::max(peak, a);
    }
  EXPECT_GT(peak, 200);  // a shadow there is to compare
  EXPECT_LE(worst, 3);

  // The shadow object draws it from the scaled blur of its key: at four
  // times the picture's pixel, its middle on the object's middle.
  TRef<TShadow> sh = TShadow::CreateImageShadow(Shape(400, 300, 0, 12), nullptr, host.Accessor(), 10);
  EXPECT_EQ(sh->WorkScale(), 4);
  ASSERT_TRUE(sh->Image());
  EXPECT_EQ(sh->Key(), MakeShadowKey(wide));
  TRecordingDrawer drawer;
  sh->Draw(&drawer, {0, 0, 0}, {1, 0, 0}, {0, 1, 0}, 0, 1, 0, 0, 1);
  ASSERT_EQ(drawer.Draws.size(), 1u);
  EXPECT_FLOAT_EQ(drawer.Draws[0].X.X, 4);
  const TFloatPoint3 mid = DrawnCentre(drawer.Draws[0]);
  EXPECT_NEAR(mid.X, 200, 1e-3);
  EXPECT_NEAR(mid.Y, 150, 1e-3);

  // A blur of three line heights on a 2226 x 541 caption: where the blur
  // alone once made ten million pixels, the picture now stays small.
  s = ShadowWorkScale(Shape(2226, 541, 0, 2405.7f));
  TRef<TImage> caption = host.Generator->MakeShadow(Shape(2226, 541, 0, 2405.7f), host.Accessor());
  ASSERT_TRUE(caption);
  EXPECT_LT(double(caption->Params.Width) * caption->Params.Height, 700000 + s.W * s.H);
}

TEST(Shadows, SizeSpreadAndSoftnessOfARectangle) {
  THost host;
  // 20 x 10 with margins 10: a 40 x 30 silhouette, r = 2 + 1, blur margin 8.
  TRef<TImage> img = host.Generator->MakeShadow(Shape(20, 10, 10, 2), host.Accessor());
  ASSERT_TRUE(img);
  ASSERT_EQ(img->Params.Width, 56);
  ASSERT_EQ(img->Params.Height, 46);
  TSysBitmap* b = Level0(img.get());
  for (int y = 0; y < 46; ++y)
    for (int x = 0; x < 56; ++x) ASSERT_EQ(b->Row32(y)[x] & 0xFFFFFF, 0xFFFFFFu);  // white throughout
  EXPECT_EQ(Alpha(img.get(), 0, 0), 0);
  EXPECT_EQ(Alpha(img.get(), 55, 45), 0);
  EXPECT_GT(Alpha(img.get(), 28, 23), 200);
  const TCentroid c = Centroid(img.get());
  EXPECT_NEAR(c.X, 28, 1.0);  // the rectangle's middle: 8 + 10 + 10
  EXPECT_NEAR(c.Y, 23, 1.0);

  // More blur: a softer, wider edge on the middle row, still inside the
  // picture (counted in the object's pixels: a soft one is kept at half size).
  auto edge = [&](float blur, int& soft, int& spread) {
    TRef<TImage> i = host.Generator->MakeShadow(Shape(20, 10, 10, blur), host.Accessor());
    TSysBitmap* m = Level0(i.get());
    const int y = m->Height() / 2;
    soft = spread = 0;
    for (int x = 0; x < m->Width(); ++x) {
      const std::uint32_t a = m->Row32(y)[x] >> 24;
      soft += a > 8 && a < 247;
      spread += a > 8;
    }
    const int kept = int(ShadowWorkScale(Shape(20, 10, 10, blur)).KeptScale());
    soft *= kept;
    spread *= kept;
  };
  int soft1, spread1, soft6, spread6;
  edge(1, soft1, spread1);
  edge(6, soft6, spread6);
  EXPECT_GT(soft6, soft1);
  EXPECT_GT(spread6, spread1);

  // A contour reshapes the edge: "Cone - Inverted" turns the empty outside opaque.
  TShadowParams p = Shape(20, 10, 10, 2);
  p.Contour = 2;
  TRef<TImage> cone = host.Generator->MakeShadow(p, host.Accessor());
  EXPECT_EQ(Alpha(cone.get(), 0, 0), 255);
  p.Contour = 0;  // "Linear" changes nothing beyond rounding
  TRef<TImage> lin = host.Generator->MakeShadow(p, host.Accessor());
  for (int y = 0; y < 46; ++y)
    for (int x = 0; x < 56; ++x) EXPECT_NEAR(Alpha(lin.get(), x, y), Alpha(img.get(), x, y), 2);
}

TEST(Shadows, SmallExpectedPictures) {
  THost host;
  // A 4 x 4 shape without margins and blur 0 (r = 1, blur margin 3): both
  // passes spread by 1/6, 2/3, 1/6, so each axis sees 1, 8, 18, 8, 1 / 36.
  TRef<TImage> img = host.Generator->MakeShadow(Shape(4, 4, 0, 0), host.Accessor());
  ASSERT_TRUE(img);
  const std::vector<std::string> expected = {
      "..........", "..000000..", ".00122100.", ".01566510.", ".02688620.",
      ".02688620.", ".01566510.", ".00122100.", "..000000..", "..........",
  };
  EXPECT_EQ(Picture(img.get()), expected);
  // Negative and NaN blur behave as blur 0.
  for (float blur : {-3.0f, -1.0f, std::numeric_limits<float>::quiet_NaN()}) {
    TRef<TImage> other = host.Generator->MakeShadow(Shape(4, 4, 0, blur), host.Accessor());
    ASSERT_TRUE(other);
    EXPECT_EQ(Picture(other.get()), expected) << blur;
  }
}

TEST(Shadows, PictureSilhouetteAndGradients) {
  THost host;
  // A 12 x 8 picture, opaque only in the 4 x 4 square at (6, 2).
  host.Pictures[u"pic.png"] = Picture32(u"pic.png", 12, 8, [](int x, int y) {
    return std::uint8_t(x >= 6 && x < 10 && y >= 2 && y < 6 ? 255 : 0);
  });
  TShadowParams p = Shape(12, 8, 4, 0);
  p.Name = u"pic.png";
  TRef<TImage> img = host.Generator->MakeShadow(p, host.Accessor());
  ASSERT_TRUE(img);
  ASSERT_EQ(img->Params.Width, 12 + 8 + 6);
  const TCentroid c = Centroid(img.get());
  EXPECT_NEAR(c.X, 3 + 4 + 8, 0.75);  // blur margin + picture margin + square centre
  EXPECT_NEAR(c.Y, 3 + 4 + 4, 0.75);
  // A missing picture leaves the background only.
  p.Name = u"missing.png";
  TRef<TImage> none = host.Generator->MakeShadow(p, host.Accessor());
  ASSERT_TRUE(none);
  EXPECT_EQ(Centroid(none.get()).Mass, 0);

  // Gradients on a shape: each direction runs from B1 at its start to B2 at its end.
  auto grad = [&](std::uint8_t dir) {
    TShadowParams g = Shape(30, 20, 0, 0);
    g.StartOpacity = 0;
    g.EndOpacity = 255;
    g.Direction = dir;
    return host.Generator->MakeShadow(g, host.Accessor());
  };
  // Inside the silhouette (blur margin 3): left middle, right middle, top, bottom.
  auto at = [](TImage* i, int x, int y) { return int(Alpha(i, 3 + x, 3 + y)); };
  TRef<TImage> g6 = grad(6), g7 = grad(7), g5 = grad(5), g4 = grad(4), g0 = grad(0), g2 = grad(2);
  EXPECT_LT(at(g6.get(), 2, 10), at(g6.get(), 27, 10));
  EXPECT_GT(at(g7.get(), 2, 10), at(g7.get(), 27, 10));
  EXPECT_NEAR(at(g6.get(), 2, 10), at(g7.get(), 27, 10), 3);  // mirror images
  EXPECT_LT(at(g5.get(), 15, 2), at(g5.get(), 15, 17));
  EXPECT_GT(at(g4.get(), 15, 2), at(g4.get(), 15, 17));
  EXPECT_LT(at(g0.get(), 2, 2), at(g0.get(), 27, 17));
  EXPECT_GT(at(g2.get(), 2, 2), at(g2.get(), 27, 17));
  EXPECT_EQ(Centroid(grad(8).get()).Mass, 0);  // no gradient: the background stays
  EXPECT_EQ(Centroid(grad(200).get()).Mass, 0);

  // The load callback stops the filling after the first row.
  SetLoadCallbackMode(3);
  TRef<TImage> stopped = grad(6);
  SetLoadCallbackMode(0);
  EXPECT_EQ(at(stopped.get(), 27, 17), 0);
  EXPECT_GT(at(grad(6).get(), 27, 17), 0);
}

TEST(Shadows, RectangleShadowsShareOneImage) {
  THost host;
  TRef<TShadow> a = TShadow::CreateRectShadow(Shape(100, 50, 10, 4), host.Accessor());
  TRef<TShadow> b = TShadow::CreateRectShadow(Shape(200, 100, 20, 4), host.Accessor());
  EXPECT_EQ(a->Key(), b->Key());
  EXPECT_EQ(a->Image(), b->Image());
  ASSERT_TRUE(a->Image());
  EXPECT_EQ(host.Generated.size(), 1u);
  EXPECT_TRUE(a->IsRect());
  EXPECT_EQ(a->Params().Right, 218);
  EXPECT_EQ(a->Params().MarginX, 22);
  EXPECT_TRUE(a->SameParams(Shape(200, 100, 20, 4)));
  EXPECT_TRUE(a->SameParams(Shape(200, 100, 20, 4.00001f)));
  EXPECT_FALSE(a->SameParams(Shape(200, 100, 20, 4.1f)));
  EXPECT_FALSE(a->SameParams(Shape(200, 150, 20, 4)));
  TShadowParams moved = Shape(200, 100, 20, 4);
  moved.Left = 3;  // rectangles start at 0: simply not the same
  EXPECT_FALSE(a->SameParams(moved));
  EXPECT_TRUE(zmtest::Contains(zmtest::AssertionOf([&] { TShadow::CreateRectShadow(moved, host.Accessor()); }),
                               "Rect must start at 0, 0"));
  // Zero and hostile sizes: no picture, no crash.
  TRef<TShadow> zero = TShadow::CreateRectShadow(Shape(0, 0, 0, 4), host.Accessor());
  EXPECT_FALSE(zero->Image());
  // Enormous rectangles normalise like any other; an enormous blur is held.
  TRef<TShadow> huge = TShadow::CreateRectShadow(Shape(3e38f, 3e38f, 3e38f, 1e30f), host.Accessor());
  ASSERT_TRUE(huge->Image());
  EXPECT_LE(huge->Image()->Params.Width, 201 + 2 * 1280);
  EXPECT_FALSE(TShadow::CreateRectShadow(Shape(10, 10, 0, 1), nullptr)->Image());
}

TEST(Shadows, ImageShadowKeys) {
  THost host;
  TRef<TSysBitmap> rgb = CreateSysBitmap(8, 8, FindPixelFormat(PF_R8G8B8));
  TRef<TSysBitmap> argb = CreateSysBitmap(8, 8, FindPixelFormat(PF_A8R8G8B8));
  TShadowParams p = Shape(8, 8, 2, 3);
  p.Name = u"pic.png";
  auto keyOf = [&](TBitmap* b, const TShadowParams& q, float scale) {
    TShadowParams k;
    ParseShadowKey(TShadow::CreateImageShadow(q, b, nullptr, scale)->Key(), k);
    return k;
  };
  EXPECT_EQ(keyOf(rgb.get(), p, 1).Name, kNoPictureName);
  EXPECT_EQ(keyOf(nullptr, p, 1).Name, kNoPictureName);
  EXPECT_EQ(keyOf(argb.get(), p, 1).Name, u"pic.png");
  EXPECT_EQ(keyOf(argb.get(), p, 2.5f).Blur, 7.5f);
  TShadowParams ignore = p;
  ignore.IgnoreAlpha = 1;
  EXPECT_EQ(keyOf(argb.get(), ignore, 1).Name, kNoPictureName);
  TShadowParams unnamed = p;
  unnamed.Name.clear();
  EXPECT_EQ(keyOf(argb.get(), unnamed, 1).Name, kNoPictureName);
  // The shadow keeps the parameters as given, so it recognises them again.
  TRef<TShadow> s = TShadow::CreateImageShadow(p, rgb.get(), host.Accessor(), 2);
  EXPECT_TRUE(s->SameParams(p));
  EXPECT_FALSE(s->IsRect());
  ASSERT_TRUE(s->Image());
}

TEST(Shadows, DrawPlacesAndOffsetsThePicture) {
  THost host;
  TRecordingDrawer drawer;
  TRef<TShadow> s = TShadow::CreateRectShadow(Shape(100, 50, 10, 4), host.Accessor());
  const TFloatPoint3 o{10, 20, 1}, x{120, 0, 0}, y{0, 70, 0};
  s->Draw(&drawer, o, x, y, 0x00112233, 0, 0, 0, 1);
  s->Draw(&drawer, o, x, y, 0x00112233, -1, 0, 0, 1);
  s->Draw(nullptr, o, x, y, 0x00112233, 1, 0, 0, 1);
  EXPECT_TRUE(drawer.Draws.empty());

  s->Draw(&drawer, o, x, y, 0x00112233, 0.5f, 0, 0, 2);
  ASSERT_EQ(drawer.Draws.size(), 1u);
  const TDrawCall& c = drawer.Draws[0];
  EXPECT_EQ(c.Image, s->Image());
  EXPECT_EQ(c.Record.Opacity, 0.5f);
  EXPECT_EQ(c.Record.Red, 0x11);
  EXPECT_EQ(c.Record.Green, 0x22);
  EXPECT_EQ(c.Record.Blue, 0x33);
  EXPECT_EQ(c.Record.BlendMode, 5);  // the rest comes from the drawer's default
  EXPECT_EQ(c.TexScale, 2);
  // Without distance the picture's middle is the object's middle; its edges
  // stick out by the blur margin.
  TFloatPoint3 mid = DrawnCentre(c);
  EXPECT_NEAR(mid.X, 70, 1e-3);
  EXPECT_NEAR(mid.Y, 55, 1e-3);
  EXPECT_FLOAT_EQ(mid.Z, 1);
  EXPECT_LT(c.Origin.X, o.X);

  // Distance 50 at 0 and 90 degrees: half an object unit right, then down.
  for (auto [angle, dx, dy] : {std::tuple{0.0f, 0.5f, 0.0f}, {90.0f, 0.0f, 0.5f}, {180.0f, -0.5f, 0.0f}}) {
    drawer.Draws.clear();
    s->Draw(&drawer, o, x, y, 0, 1, angle, 50, 1);
    mid = DrawnCentre(drawer.Draws.at(0));
    EXPECT_NEAR(mid.X - 70, dx, 0.01) << angle;
    EXPECT_NEAR(mid.Y - 55, dy, 0.01) << angle;
  }
  // Along the object's axes: a quarter-turned object moves along its own x axis.
  TShadowParams along = Shape(100, 50, 10, 4);
  along.OffsetAlongAxes = 1;
  TRef<TShadow> t = TShadow::CreateRectShadow(along, host.Accessor());
  drawer.Draws.clear();
  t->Draw(&drawer, o, {0, 120, 0}, {-70, 0, 0}, 0, 1, 0, 50, 1);
  mid = DrawnCentre(drawer.Draws.at(0));
  EXPECT_NEAR(mid.X, 10 - 35, 0.01);
  EXPECT_NEAR(mid.Y, 20 + 60 + 0.5, 0.01);

  s->Precache(&drawer);
  s->ReleaseCache(&drawer);
  EXPECT_EQ(drawer.Cache, (std::vector<std::string>{"pre", "release"}));
  TRef<TShadow> empty = TShadow::CreateRectShadow(Shape(10, 10, 0, 1), nullptr);
  empty->Precache(&drawer);
  empty->Draw(&drawer, o, x, y, 0, 1, 0, 0, 1);
  EXPECT_EQ(drawer.Cache.size(), 2u);
}

TEST(Shadows, DrawOfAReducedMipLevelPicture) {
  // 4000 x 3000 at mip level 1 is worked at an eighth: the drawer gets axes
  // of 16 level-0 pixels per shadow pixel and the middle stays the middle.
  TShadowParams p = Shape(4000, 3000, 0, 2);
  p.Name = u"big.jpg";
  p.MipLevel = 1;
  TRef<TImage> fake = Picture32(u"fake", 1010, 760, [](int, int) { return 0; });
  TRef<TShadow> s = TShadow::CreateImageShadow(p, nullptr, [&](const WideString&) { return fake; }, 1);
  TRecordingDrawer drawer;
  s->Draw(&drawer, {0, 0, 0}, {1, 0, 0}, {0, 1, 0}, 0, 1, 0, 0, 16);
  ASSERT_EQ(drawer.Draws.size(), 1u);
  const TDrawCall& c = drawer.Draws[0];
  EXPECT_FLOAT_EQ(c.X.X, 16);
  EXPECT_FLOAT_EQ(c.Y.Y, 16);
  EXPECT_FLOAT_EQ(c.TexScale, 1);
  const TFloatPoint3 mid = DrawnCentre(c);
  EXPECT_NEAR(mid.X, 4000, 1e-2);
  EXPECT_NEAR(mid.Y, 3000, 1e-2);
}

TEST(Shadows, DropShadowRadiusMasksAndCancel) {
  TRef<TSysBitmap> m8 = CreateSysBitmap(6, 5, FindPixelFormat(PF_A8));
  for (int y = 0; y < 5; ++y) std::fill_n(m8->ScanLine(y), 6, std::uint8_t(255));
  TRef<TDropShadow> d = MakeRef<TDropShadow>();
  auto result = [&](double radius) {
    d->SetBlurRadius(radius);
    EXPECT_TRUE(d->Make(m8.get()));
    return zmtest::BytesOf(*d->Result());
  };
  // Radius 0 and below all blur as radius 1 (r = given + 1, held to 1).
  const auto r0 = result(0);
  EXPECT_EQ(d->Result()->Width(), 6 + 2 * 3);
  EXPECT_EQ(result(-0.5), r0);
  EXPECT_EQ(result(-7), r0);
  EXPECT_EQ(result(std::numeric_limits<double>::quiet_NaN()), r0);
  result(1);  // r = 2: margin Ceil(5)
  EXPECT_EQ(d->Result()->Width(), 6 + 2 * 5);
  // A huge radius is held, so the mask stays a sane size.
  result(1e12);
  EXPECT_EQ(d->Result()->Width(), 6 + 2 * 1280);

  // 32-bit masks give their alpha; other formats are refused.
  TRef<TSysBitmap> m32 = CreateSysBitmap(6, 5, FindPixelFormat(PF_A8R8G8B8));
  m32->FillRect({0, 0, 6, 5}, TColor32::FromValue(0xFF000000u));
  d->SetBlurRadius(0);
  ASSERT_TRUE(d->Make(m32.get()));
  EXPECT_EQ(zmtest::BytesOf(*d->Result()), r0);
  TRef<TSysBitmap> m24 = CreateSysBitmap(6, 5, FindPixelFormat(PF_R8G8B8));
  EXPECT_TRUE(zmtest::Contains(zmtest::AssertionOf([&] { d->Make(m24.get()); }), "Unsupported PixelFormat"));

  // Cancel from the first row on: nothing made, the producer gives nil.
  int calls = 0;
  d->Progress = [](void* data, void*, bool& cancel) { cancel = ++*static_cast<int*>(data) >= 1; };
  d->ProgressData = &calls;
  EXPECT_FALSE(d->Make(m8.get()));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(d->Result(), nullptr);
  TRef<TShadowProducer> prod = MakeRef<TShadowProducer>();
  int later = -40;  // cancels inside the resampler
  prod->Progress = [](void* data, void*, bool& cancel) { cancel = ++*static_cast<int*>(data) >= 1; };
  prod->ProgressData = &later;
  TRef<TImage> pic = Picture32(u"p", 6, 5, [](int, int) { return 255; });
  EXPECT_FALSE(prod->Make(pic.get()));
  EXPECT_EQ(later, 1);
  EXPECT_FALSE(prod->Make(nullptr));
}

TEST(Shadows, ContourTableCoversBothEnds) {
  std::array<std::uint8_t, 256> id;
  for (int i = 0; i < 256; ++i) id[std::size_t(i)] = std::uint8_t(i);
  std::array<std::uint8_t, 4096> lut;
  TDropShadow::BuildContourLut(id, lut);
  EXPECT_EQ(lut[0], 0);
  EXPECT_EQ(lut[4095], 255);  // the last entry keeps the contour's end
  for (int i = 0; i < 4096; ++i) EXPECT_NEAR(lut[std::size_t(i)], i * 255.0 / 4095.0, 1.0) << i;
  std::array<std::uint8_t, 256> flat;
  flat.fill(77);
  TDropShadow::BuildContourLut(flat, lut);
  for (std::uint8_t v : lut) EXPECT_EQ(v, 77);
}

TEST(Shadows, HostileSizesGiveNoPictureOrASaneOne) {
  THost host;
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  for (TShadowParams p : {Shape(0, 0, 0, 1), Shape(-50, 20, 0, 1), Shape(nan, 10, 0, 1), Shape(10, inf, 0, 1),
                          Shape(1e30f, 0.5f, 0, 1), Shape(10, 10, -20, 1)})
    EXPECT_FALSE(host.Generator->MakeShadow(p, host.Accessor())) << p.Right << " x " << p.Bottom;
  // Enormous but finite: worked at a reduced size.
  TRef<TImage> img = host.Generator->MakeShadow(Shape(1e30f, 1e30f, 0, 1e30f), host.Accessor());
  ASSERT_TRUE(img);
  EXPECT_LT(img->Params.Width, 1000 + 2 * 1280 + 1);
  // Alpha and mip levels outside their ranges are held.
  host.Pictures[u"p"] = Picture32(u"p", 6, 6, [](int x, int) { return std::uint8_t(x * 40); });
  TShadowParams odd = Shape(6, 6, 1, 0), held = odd;
  odd.BackAlpha = 1000;
  held.BackAlpha = 255;
  odd.Name = held.Name = u"p";
  odd.MipLevel = -5;
  held.MipLevel = 0;
  img = host.Generator->MakeShadow(odd, host.Accessor());
  TRef<TImage> ref = host.Generator->MakeShadow(held, host.Accessor());
  ASSERT_TRUE(img && ref);
  EXPECT_EQ(Picture(img.get()), Picture(ref.get()));
  EXPECT_EQ(zmtest::BytesOf(*Level0(img.get())), zmtest::BytesOf(*Level0(ref.get())));
}
