#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>

#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/Graphics/zmMaskGenerator.h"
#include "tests/ZmLib/Graphics/GraphicsTestUtil.h"

using namespace zm;
using zmtest::AssertionOf;
using zmtest::Contains;

namespace maskgen_test {

TMaskParams Mask(std::int32_t shape, float softness, float corner, std::int32_t w, std::int32_t h) {
  TMaskParams p;
  p.Shape = shape;
  p.Softness = softness;
  p.CornerSize = corner;
  p.Width = w;
  p.Height = h;
  return p;
}

// The grey of every pixel; the three bytes of a pixel must agree.
struct TGreys {
  std::int32_t W = 0, H = 0;
  std::vector<std::uint8_t> V;
  std::uint8_t operator()(std::int32_t x, std::int32_t y) const { return V[std::size_t(y * W + x)]; }
};

TGreys GreysOf(TImage* image) {
  TGreys g;
  TBitmap* b = image->GetBitmap();
  EXPECT_EQ(b->PixelFormat()->Name, PF_R8G8B8);
  g.W = b->Width();
  g.H = b->Height();
  for (std::int32_t y = 0; y < g.H; ++y) {
    std::vector<TColor24> row(std::size_t(g.W));
    b->GetPixels24(row, 0, 0, y, g.W);
    for (const TColor24& c : row) {
      EXPECT_TRUE(c.B == c.G && c.G == c.R);
      g.V.push_back(c.B);
    }
  }
  return g;
}

TBorderParams Crop(float aspect, float zoom, float ox, float oy) {
  TBorderParams p;
  p.AspectCropOn = 1;
  p.Aspect = aspect;
  p.Zoom = zoom;
  p.OffsetX = ox;
  p.OffsetY = oy;
  return p;
}

TFloatRect Geometry(const TBorderParams& p, TSize size, float scale = 1, float* radius = nullptr) {
  float r = -1;
  TFloatRect rect{-1, -1, -1, -1};
  CalcBorderGeometry(p, size, r, rect, scale);
  if (radius) *radius = r;
  return rect;
}

// ---- Masks ---------------------------------------------------------------------------------

TEST(PresetMask, SoftEdgeValueAtItsBounds) {
  EXPECT_EQ(SoftEdgeValue(5.99, 10, 4), 255);
  EXPECT_EQ(SoftEdgeValue(6, 10, 4), 255);  // t = 0
  EXPECT_EQ(SoftEdgeValue(8, 10, 4), 127);  // t = 0.5: 255 - round(127.5), ties to even
  EXPECT_EQ(SoftEdgeValue(7, 10, 4), 223);  // 255 - round(0.125 * 255)
  EXPECT_EQ(SoftEdgeValue(10, 10, 4), 0);
  EXPECT_EQ(SoftEdgeValue(10.01, 10, 4), 0);
  // No softness: a hard edge, black on the line itself.
  EXPECT_EQ(SoftEdgeValue(9.99, 10, 0), 255);
  EXPECT_EQ(SoftEdgeValue(10, 10, 0), 0);
}

TEST(PresetMask, RoundRectWithoutCornersIsAllWhite) {
  TRef<TImage> image = GeneratePresetMask(nullptr, Mask(kMaskRoundRect, 50, 0, 9, 5));
  ASSERT_TRUE(image);
  const TGreys g = GreysOf(image.get());
  ASSERT_EQ(g.W, 9);
  ASSERT_EQ(g.H, 5);
  for (std::uint8_t v : g.V) ASSERT_EQ(v, 255);
  EXPECT_EQ(image->Params.FileName, MakeMaskKey(Mask(kMaskRoundRect, 50, 0, 9, 5)));
}

TEST(PresetMask, RoundRectEdgesCornersAndSymmetry) {
  // 20 x 12, corner 50%: r = 3, s = 3 * 50 / 100 + 1 = 2.5; cx = 9.5, cy = 5.5.
  const TGreys g = GreysOf(GeneratePresetMask(nullptr, Mask(kMaskRoundRect, 50, 50, 20, 12)).get());
  EXPECT_EQ(g(0, 0), 0);     // beyond the corner circle
  EXPECT_EQ(g(10, 0), 0);    // top band: d = cy, the edge itself
  EXPECT_EQ(g(0, 6), 0);     // left band: d = cx
  EXPECT_EQ(g(10, 6), 255);  // inside
  EXPECT_EQ(g(3, 3), 255);   // first pixel past the corner square
  EXPECT_EQ(g(10, 1), 82);   // d = 4.5, t = 0.6: 255 - round(0.68 * 255)
  EXPECT_EQ(g(10, 2), 235);  // t = 0.2
  EXPECT_EQ(g(2, 2), 187);   // corner circle centre (3, 3): d = sqrt 2
  for (std::int32_t y = 0; y < 12; ++y)
    for (std::int32_t x = 0; x < 20; ++x) {
      ASSERT_EQ(g(x, y), g(19 - x, y)) << x << "," << y;
      ASSERT_EQ(g(x, y), g(x, 11 - y)) << x << "," << y;
    }
}

TEST(PresetMask, EllipseOfASquareDependsOnlyOnTheDistance) {
  const TGreys g = GreysOf(GeneratePresetMask(nullptr, Mask(kMaskEllipse, 40, 0, 15, 15)).get());
  EXPECT_EQ(g(7, 7), 255);
  EXPECT_EQ(g(0, 0), 0);
  EXPECT_EQ(g(0, 7), 0);  // d = 7 = reach
  for (std::int32_t y = 0; y < 15; ++y)
    for (std::int32_t x = 0; x < 15; ++x) {
      ASSERT_EQ(g(x, y), g(y, x));
      ASSERT_EQ(g(x, y), g(14 - x, y));
      ASSERT_EQ(g(x, y), g(x, 14 - y));
    }
  std::map<std::int32_t, std::uint8_t> byDistance;  // squared distance to the grey first seen there
  for (std::int32_t y = 0; y < 15; ++y)
    for (std::int32_t x = 0; x < 15; ++x) {
      const auto it = byDistance.emplace((x - 7) * (x - 7) + (y - 7) * (y - 7), g(x, y)).first;
      ASSERT_EQ(it->second, g(x, y)) << x << "," << y;
    }
  // Distance 4 from the centre: t = (4 - 7 + 2.8) / 2.8 < 0, so white.
  EXPECT_EQ(g(3, 7), 255);
}

TEST(PresetMask, WideEllipseIsStretchedByTheAspect) {
  const TGreys g = GreysOf(GeneratePresetMask(nullptr, Mask(kMaskEllipse, 0, 0, 21, 7)).get());
  EXPECT_EQ(g(10, 3), 255);
  EXPECT_EQ(g(0, 3), 0);  // d = 10 = reach
  EXPECT_EQ(g(1, 3), 255);
  EXPECT_EQ(g(10, 0), 255);  // y counts W / H = 3 times: d = 9
  EXPECT_EQ(g(3, 0), 0);     // d = sqrt(49 + 81)
}

TEST(PresetMask, AMaskMadeFromItsParsedKeyIsTheSame) {
  const TMaskParams p = Mask(kMaskRoundRect, 33.3f, 71.5f, 23, 17);
  TRef<TImage> first = GeneratePresetMask(nullptr, p);
  TMaskParams parsed;
  ParseMaskKey(first->Params.FileName, parsed);
  TRef<TImage> again = GeneratePresetMask(nullptr, parsed);
  EXPECT_EQ(again->Params.FileName, first->Params.FileName);
  EXPECT_EQ(GreysOf(again.get()).V, GreysOf(first.get()).V);
}

TEST(PresetMask, BadParameters) {
  EXPECT_TRUE(Contains(AssertionOf([] { GeneratePresetMask(nullptr, Mask(2, 0, 0, 4, 4)); }),
                       "GeneratePresetMask: Invalid Shape"));
  EXPECT_FALSE(GeneratePresetMask(nullptr, Mask(kMaskRoundRect, 0, 0, 0, 4)));
  EXPECT_FALSE(GeneratePresetMask(nullptr, Mask(kMaskEllipse, 0, 0, 4, -1)));
  EXPECT_FALSE(GeneratePresetMask(nullptr, Mask(kMaskEllipse, 0, 0, 2147483647, 2147483647)));
  EXPECT_FALSE(GeneratePresetMask(nullptr, Mask(kMaskRoundRect, 0, 0, 1 << 20, 1 << 10)));
  // Softness and corner size are held within 0..100: negative or NaN is 0, more is 100.
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const TGreys hard = GreysOf(GeneratePresetMask(nullptr, Mask(kMaskEllipse, 0, 0, 9, 9)).get());
  EXPECT_EQ(GreysOf(GeneratePresetMask(nullptr, Mask(kMaskEllipse, -30, 0, 9, 9)).get()).V, hard.V);
  EXPECT_EQ(GreysOf(GeneratePresetMask(nullptr, Mask(kMaskEllipse, nan, nan, 9, 9)).get()).V, hard.V);
  EXPECT_EQ(GreysOf(GeneratePresetMask(nullptr, Mask(kMaskRoundRect, 500, 900, 9, 9)).get()).V,
            GreysOf(GeneratePresetMask(nullptr, Mask(kMaskRoundRect, 100, 100, 9, 9)).get()).V);
  // One pixel: no corners (r = 0), and the ellipse's point is its own centre.
  EXPECT_EQ(GreysOf(GeneratePresetMask(nullptr, Mask(kMaskRoundRect, 50, 100, 1, 1)).get()).V[0], 255);
  EXPECT_EQ(GreysOf(GeneratePresetMask(nullptr, Mask(kMaskEllipse, 50, 100, 1, 1)).get()).V[0], 0);
}

TEST(PresetMask, ProgressAfterEachRowAndCancelKeepsTheRowsMade) {
  TRef<TMaskGenerator> gen = MakeRef<TMaskGenerator>();
  std::int32_t rows = 0;
  gen->Progress = [&](TMaskGenerator* sender, bool& cancel) {
    EXPECT_EQ(sender, gen.get());
    cancel = ++rows == 3;
  };
  TRef<TImage> image = GeneratePresetMask(gen.get(), Mask(kMaskRoundRect, 0, 0, 6, 8));
  ASSERT_TRUE(image);
  EXPECT_EQ(rows, 3);
  const TGreys g = GreysOf(image.get());
  EXPECT_EQ(g(0, 2), 255);
  EXPECT_EQ(g(0, 3), 0);  // never made
  rows = -100;
  GeneratePresetMask(gen.get(), Mask(kMaskEllipse, 0, 0, 6, 8));
  EXPECT_EQ(rows, -92);
}

// ---- Border geometry -----------------------------------------------------------------------

TEST(BorderGeometry, AspectCropZoomAndOffsets) {
  EXPECT_EQ(Geometry(Crop(1, 100, 0, 0), {400, 200}), (TFloatRect{100, 0, 300, 200}));
  EXPECT_EQ(Geometry(Crop(1, 100, 100, 0), {400, 200}), (TFloatRect{200, 0, 400, 200}));
  EXPECT_EQ(Geometry(Crop(1, 100, -100, 0), {400, 200}), (TFloatRect{0, 0, 200, 200}));
  EXPECT_EQ(Geometry(Crop(1, 100, 500, 0), {400, 200}), (TFloatRect{200, 0, 400, 200}));  // clamped
  // Zoom 50 about the centre, then moved half the room down.
  EXPECT_EQ(Geometry(Crop(1, 50, 0, 50), {400, 200}), (TFloatRect{150, 75, 250, 175}));
  // Zoom 0, 100 and more all mean 100; aspect 0 is the object's own.
  EXPECT_EQ(Geometry(Crop(1, 0, 0, 0), {400, 200}), (TFloatRect{100, 0, 300, 200}));
  EXPECT_EQ(Geometry(Crop(1, 250, 0, 0), {400, 200}), (TFloatRect{100, 0, 300, 200}));
  EXPECT_EQ(Geometry(Crop(0, 100, 0, 0), {400, 200}), (TFloatRect{0, 0, 400, 200}));
  // A wide aspect on a tall object: full width, centred vertically.
  EXPECT_EQ(Geometry(Crop(2, 100, 0, 0), {100, 300}), (TFloatRect{0, 125, 100, 175}));
}

TEST(BorderGeometry, RadiusMarginsAndScale) {
  TBorderParams p = Crop(1, 100, 0, 0);
  p.RadiusOn = 1;
  p.Radius = 10;
  p.MarginsOn = 1;
  p.MarginLeft = 10;
  p.MarginTop = 5;
  p.MarginRight = 20;
  p.MarginBottom = 0;
  float radius = 0;
  EXPECT_EQ(Geometry(p, {400, 200}, 1, &radius), (TFloatRect{120, 10, 260, 200}));
  EXPECT_FLOAT_EQ(radius, 20);
  // Pixels twice as wide: the crop is made on 800 x 200, left and right are then halved.
  EXPECT_EQ(Geometry(Crop(1, 100, 0, 0), {400, 200}, 2), (TFloatRect{150, 0, 250, 200}));
  EXPECT_EQ(Geometry(Crop(1, 100, 0, 0), {400, 200}, 0.0005f), (TFloatRect{100, 0, 300, 200}));  // counts as 1
  TBorderParams off;
  off.Radius = 50;  // not on
  EXPECT_EQ(Geometry(off, {30, 20}, 1, &radius), (TFloatRect{0, 0, 30, 20}));
  EXPECT_EQ(radius, 0);
}

TEST(BorderGeometry, SliversWidenAndReversedResultsFallBackToTheWholeObject) {
  TBorderParams p;
  p.MarginsOn = 1;
  p.MarginLeft = p.MarginRight = 60;  // more than the frame
  EXPECT_EQ(Geometry(p, {400, 200}), (TFloatRect{0, 0, 400, 200}));
  p.MarginLeft = p.MarginRight = 50;  // nothing left: one pixel to the right
  EXPECT_EQ(Geometry(p, {400, 200}), (TFloatRect{200, 0, 201, 200}));
  p.MarginLeft = 100;
  p.MarginRight = 0;  // at the right edge: one pixel to the left
  EXPECT_EQ(Geometry(p, {400, 200}), (TFloatRect{399, 0, 400, 200}));
  p = {};
  p.MarginsOn = 1;
  p.MarginTop = 100;
  EXPECT_EQ(Geometry(p, {400, 200}), (TFloatRect{0, 199, 400, 200}));
  p.MarginTop = -50;  // reaching out of the object: clipped
  EXPECT_EQ(Geometry(p, {400, 200}), (TFloatRect{0, 0, 400, 200}));
}

TEST(BorderGeometry, DegenerateInput) {
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  float radius = -1;
  EXPECT_EQ(Geometry(Crop(1, 100, 0, 0), {0, 0}, 1, &radius), (TFloatRect{0, 0, 0, 0}));
  EXPECT_EQ(radius, 0);
  EXPECT_EQ(Geometry(Crop(1, 100, 0, 0), {-5, 10}), (TFloatRect{0, 0, -5, 10}));
  // Unusable aspect, zoom and offsets count as unset.
  EXPECT_EQ(Geometry(Crop(nan, nan, nan, nan), {40, 20}), (TFloatRect{0, 0, 40, 20}));
  EXPECT_EQ(Geometry(Crop(inf, 100, 0, 0), {40, 20}), (TFloatRect{0, 0, 40, 20}));
  TBorderParams p = Crop(1, 100, 0, 0);
  p.RadiusOn = 1;
  p.Radius = nan;
  p.MarginsOn = 1;
  p.MarginLeft = nan;
  EXPECT_EQ(Geometry(p, {40, 20}, nan, &radius), (TFloatRect{0, 0, 40, 20}));
  EXPECT_EQ(radius, 0);
}

TEST(BorderGeometry, SameBorderParamsComparesEveryField) {
  TBorderParams a = Crop(1.5f, 80, 10, -10);
  a.Color = TColor32{1, 2, 3, 4};
  TBorderParams b = a;
  EXPECT_TRUE(SameBorderParams(a, b));
  EXPECT_TRUE(SameBorderParams(DefaultBorderParams, TBorderParams{}));
  b.Color.A = 5;
  EXPECT_FALSE(SameBorderParams(a, b));
  b = a;
  b.MarginBottom = 0.001f;
  EXPECT_FALSE(SameBorderParams(a, b));
  b = a;
  b.MarginsOn = 1;
  EXPECT_FALSE(SameBorderParams(a, b));
}

}  // namespace maskgen_test
