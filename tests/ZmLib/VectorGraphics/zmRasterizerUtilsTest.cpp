#include "ZmLib/VectorGraphics/zmRasterizerUtils.h"

#include <gtest/gtest.h>

#include <cmath>

#include "ZmLib/VectorGraphics/zmSvgUtils.h"
#include "tests/ZmLib/Graphics/GraphicsTestUtil.h"

using namespace zm;
using zmtest::AlphaPicture;
using zmtest::AssertionOf;
using zmtest::Contains;

namespace {

TColor32 Px(TDirectBitmap& b, std::int32_t x, std::int32_t y) { return TColor32::FromValue(b.Row32(y)[x]); }

TPathPoints Path(std::string_view text) {
  TPathPoints p;
  EXPECT_TRUE(ParseSvgPath(text, p)) << text;
  return p;
}

const TColor32 kRed{0, 0, 255, 255};

}  // namespace

TEST(RasterHelper, PaintStateMisuse) {
  TRef<TRasterHelper> h = MakeRef<TRasterHelper>();
  EXPECT_TRUE(Contains(AssertionOf([&] { h->EndPaint(); }), "No Previous Call of TRasterHelper.BeginPaint"));
  EXPECT_TRUE(Contains(AssertionOf([&] { h->BeginPaint(0, 5, kRed); }), "TRasterHelper.BeginPaint: W or H = 0"));
  EXPECT_TRUE(Contains(AssertionOf([&] { h->AddPath(Path("M 0 0 L 1 1"), false); }),
                       "No Previous Call of TRasterHelper.BeginPaint"));
  h->BeginPaint(4, 3, kRed);
  EXPECT_TRUE(Contains(AssertionOf([&] { h->BeginPaint(4, 3, kRed); }), "Previous TRasterHelper.BeginPaint not Closed"));
  EXPECT_EQ(Px(*h->EndPaint(), 3, 2), kRed);
  EXPECT_TRUE(Contains(AssertionOf([&] { h->EndPaint(); }), "No Previous Call of TRasterHelper.BeginPaint"));
  // Freed while painting: the assertion, and nothing leaks.
  TRasterHelper* raw = MakeRef<TRasterHelper>().Detach();
  raw->BeginPaintTransparent(2, 2);
  EXPECT_TRUE(Contains(AssertionOf([&] { raw->Free(); }), "Previous TRasterHelper.BeginPaint not Closed"));
}

TEST(RasterHelper, FillsAPathIntoASmallPicture) {
  TRef<TRasterHelper> h = MakeRef<TRasterHelper>();
  h->Color = kRed;
  h->BeginPaintTransparent(10, 8);
  h->AddPath(Path("M 1 1 H 9 V 3 H 5 V 7 H 1 Z"), false);
  TRef<TDirectBitmap> b = h->EndPaint();
  EXPECT_EQ(AlphaPicture(*b), (std::vector<std::string>{
                                  "..........",
                                  ".########.",
                                  ".########.",
                                  ".####.....",
                                  ".####.....",
                                  ".####.....",
                                  ".####.....",
                                  "..........",
                              }));
  EXPECT_EQ(Px(*b, 0, 0), (TColor32{0, 0, 255, 0}));  // the helper's colour at alpha 0
}

TEST(RasterHelper, PartialCoverageScalesAlpha) {
  // Every pixel's alpha follows its share inside the triangle (within the sampling grid).
  TRef<TRasterHelper> h = MakeRef<TRasterHelper>();
  h->Color = TColor32{10, 20, 30, 255};
  h->BeginPaint(8, 8, TColor32{0, 0, 0, 0});
  const TFloatPoint tri[] = {{0, 0}, {8, 0}, {0, 8}};
  h->AddPolygon(tri, false, 3);
  TRef<TDirectBitmap> b = h->EndPaint();
  for (std::int32_t y = 0; y < 8; ++y)
    for (std::int32_t x = 0; x < 8; ++x) {
      const double share = x + y + 1 <= 7 ? 1.0 : x + y == 7 ? 0.5 : 0.0;
      EXPECT_NEAR(Px(*b, x, y).A, share * 255, 12) << x << "," << y;
    }
  // Blending over an opaque background.
  h->Color = TColor32{255, 255, 255, 128};
  h->BeginPaint(2, 1, TColor32{0, 0, 0, 255});
  const TFloatPoint sq[] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
  h->AddPolygon(sq, false, 4);
  EXPECT_EQ(Px(*h->EndPaint(), 0, 0), (TColor32{127, 127, 127, 255}));
}

TEST(RasterHelper, Strokes) {
  TRef<TRasterHelper> h = MakeRef<TRasterHelper>();
  h->Color = kRed;
  h->StrokeMode = smBand;
  h->StrokeWidth = 0;
  h->BeginPaintTransparent(12, 10);
  h->AddPath(Path("M 0 5 L 10 5"), false);  // width 0: nothing
  h->StrokeWidth = 2;
  h->AddPath(Path("M 0 5 L 10 5"), false);
  TRef<TDirectBitmap> b = h->EndPaint();
  std::vector<std::string> want(10, std::string(12, '.'));
  want[4] = want[5] = "##########..";
  EXPECT_EQ(AlphaPicture(*b), want);
  // A ring round a closed square: the inside stays clear; the outer corners are cut diagonally.
  h->StrokeMode = smRing;
  h->BeginPaintTransparent(12, 12);
  h->AddPath(Path("M 2 2 L 10 2 L 10 10 L 2 10 L 2 2"), false);
  b = h->EndPaint();
  EXPECT_EQ(AlphaPicture(*b)[2], ".##########.");
  EXPECT_EQ(AlphaPicture(*b)[5], ".##......##.");
  EXPECT_EQ(Px(*b, 1, 1).A, 127);  // half of the corner pixel
}

TEST(RasterHelper, LinearGradientAndClip) {
  TLinearGradient g;
  g.Origin = {0, 0};
  g.Direction = {0, 1};  // t grows with x
  g.Scale = 100;
  for (std::size_t i = 0; i < g.Table.size(); ++i) g.Table[i] = TColor32{0, 0, std::uint8_t(std::min<std::size_t>(i / 4, 255)), 255};
  TRef<TRasterHelper> h = MakeRef<TRasterHelper>();
  h->SetPaintSource(&g);
  EXPECT_EQ(h->GradientColorAt(-3, 0).R, 0);    // held at 0
  EXPECT_EQ(h->GradientColorAt(50, 0).R, 255);  // held at 1024
  h->ClipRect = {1, 1, 2147483647, 2147483647};
  h->BeginPaintTransparent(5, 3);
  h->AddPath(Path("M 0 0 H 5 V 3 H 0 Z"), false);
  TRef<TDirectBitmap> b = h->EndPaint();
  EXPECT_EQ(Px(*b, 0, 1).A, 0);  // left of the clip
  EXPECT_EQ(Px(*b, 3, 2), (TColor32{0, 0, 75, 255}));
}

TEST(RasterHelper, BadPathsPaintNothingOrAssert) {
  TRef<TRasterHelper> h = MakeRef<TRasterHelper>();
  h->BeginPaintTransparent(8, 8);
  h->AddPath({}, false);
  h->AddPath({{1, 1, pcLine}, {5, 5, pcLine}, {1, 5, pcLine}}, false);  // no move first
  h->AddPath({{1, 1, pcMove}, {5, 5, pcLine}, {1, 5, pcControl3}, {3, 3, pcControl2}}, false);  // cut short
  EXPECT_EQ(AlphaPicture(*h->EndPaint()), std::vector<std::string>(8, std::string(8, '.')));
  h->BeginPaintTransparent(8, 8);
  EXPECT_TRUE(Contains(AssertionOf([&] { h->AddPath({{1, 1, pcMove}, {5, 5, 9}}, false); }), "Unknown Path Command"));
  h->EndPaint();
}

TEST(RasterHelper, HugeAndBrokenCoordinatesPaintWithoutHarm) {
  TRef<TRasterHelper> h = MakeRef<TRasterHelper>();
  h->BeginPaintTransparent(64, 64);
  // Curves tens of millions of pixels long: only what the bitmap shows is flattened.
  h->AddPath(Path("M -60000000 0 Q 0 60000000 60000000 0 C 1e30 1e30 -1e30 5 0 0 Z"), false);
  h->AddPath(Path("M 0 0 C 0 90000000 90000000 90000000 90000000 0 L 0 64 Z"), true);
  h->StrokeMode = smBand;
  h->StrokeWidth = 3e9f;  // wider than everything
  h->AddPath(Path("M 0 0 Q 60000000 60000000 -60000000 5"), false);
  h->StrokeWidth = 1;
  h->SetMatrix(ScalingMatrix(std::nanf(""), 1));
  h->AddPath(Path("M 0 0 Q 5 50 60 3 L 1 60"), false);
  h->ResetTransform();
  const TFloatPoint pts[] = {{std::nanf(""), 0}, {1e38f, 5}, {-1e38f, -1e38f}, {3, 60}};
  h->AddPolygon(pts, true, 4);
  TRef<TDirectBitmap> b = h->EndPaint();
  EXPECT_EQ(b->Width(), 64);
}

TEST(RasterHelper, CurvesCoverTheirArea) {
  // A circle of radius 10 from four cubic curves, and a single point that paints nothing.
  TRef<TRasterHelper> h = MakeRef<TRasterHelper>();
  h->BeginPaintTransparent(24, 24);
  h->AddPath(Path("M 22 12 C 22 17.523 17.523 22 12 22 C 6.477 22 2 17.523 2 12 "
                  "C 2 6.477 6.477 2 12 2 C 17.523 2 22 6.477 22 12 Z M 5 5"),
             false);
  h->AddPath(Path("M 1 1"), false);
  TRef<TDirectBitmap> b = h->EndPaint();
  double area = 0;
  for (std::int32_t y = 0; y < 24; ++y)
    for (std::int32_t x = 0; x < 24; ++x) area += Px(*b, x, y).A / 255.0;
  // Chords of under 2 pixels cut a little off the circle: within 1 %.
  EXPECT_NEAR(area, 3.14159265 * 100, 3.2);
  EXPECT_EQ(Px(*b, 1, 1).A, 0);
}
