#include <cmath>
#include <limits>

#include "tests/OruLib2/OruClasses/OruImageTestKit.h"

namespace {

using namespace oru_image_test;

TEST(OruBox, VisibilityEdges) {
  // Splitters never draw, whatever their colours and opacity.
  EXPECT_FALSE(BoxVisible(true, kFillSolid, 255, 255, 100));
  EXPECT_FALSE(BoxVisible(true, kFillHGradient, 255, 255, 100));
  // Solid looks at alpha 1 only; a gradient needs one of its alphas.
  EXPECT_FALSE(BoxVisible(false, kFillSolid, 0, 255, 100));
  EXPECT_TRUE(BoxVisible(false, kFillSolid, 1, 0, 100));
  EXPECT_TRUE(BoxVisible(false, kFillVGradient, 0, 255, 100));
  EXPECT_FALSE(BoxVisible(false, kFillTRBLGradient, 0, 0, 100));
  // The opacity threshold is exclusive; NaN and negatives draw nothing.
  EXPECT_FALSE(BoxVisible(false, kFillSolid, 255, 255, 0.001f));
  EXPECT_FALSE(BoxVisible(false, kFillSolid, 255, 255, kBoxMinOpacity));
  EXPECT_TRUE(BoxVisible(false, kFillSolid, 255, 255, 0.0020f));
  EXPECT_FALSE(BoxVisible(false, kFillSolid, 255, 255, std::numeric_limits<float>::quiet_NaN()));
  EXPECT_FALSE(BoxVisible(false, kFillSolid, 255, 255, -5));
}

TEST(OruBox, FillRecordByMode) {
  const zm::TColor24 red{0, 0, 255}, blue{255, 0, 0};
  const std::uint8_t kinds[] = {8, 6, 5, 0, 1};
  for (std::uint8_t mode = 0; mode < 5; ++mode) {
    const TGradientFill f = MakeBoxFill(mode, red, 200, blue, 100, mode % 2 == 0, 42);
    EXPECT_EQ(f.Kind, kinds[mode]) << int(mode);
    EXPECT_EQ(f.Opacity, 42);
    EXPECT_EQ(f.Colour1.Value(), 0xC8FF0000u);
    // Solid boxes draw colour 1 at both ends.
    EXPECT_EQ(f.Colour2.Value(), mode == kFillSolid ? 0xC8FF0000u : 0x640000FFu) << int(mode);
    for (bool e : f.Edges) EXPECT_EQ(e, mode % 2 == 0);
    EXPECT_EQ(f.ScaleX, 1);
    EXPECT_EQ(f.ScaleY, 1);
  }
  EXPECT_ANY_THROW(MakeBoxFill(5, red, 255, blue, 255, false, 100));
}

// A slide of 320 x 240 and a 100 x 50 box: placed into the slide it becomes
// 320 x 160, centred.
std::string BoxBody(const std::string& type, const std::string& keys) {
  return Obj("B", type, "Size=100,50\r\n" + keys);
}

TEST(OruBox, ReadsKeysAndFillsItsQuad) {
  TTestTree t = BuildTree(BoxBody("Box", "FillMode=vgradient\r\nColor1=255,0,0\r\nColor2=0,0,255\r\nAlpha2=7\r\n"
                                         "Antialiased=1\r\nShadowEnable=0\r\n"));
  auto* box = dynamic_cast<TOruBox*>(t.Find("B"));
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->FillMode, kFillVGradient);
  EXPECT_EQ(box->Alpha1, 255);
  EXPECT_EQ(box->Alpha2, 7);
  EXPECT_EQ(box->Width, 100);
  EXPECT_EQ(box->Height, 50);
  t.Layout(100);
  TLogDrawer d;
  ASSERT_TRUE(d.Draw(t.Slide.get()));
  ASSERT_EQ(d.fills.size(), 1u);
  EXPECT_EQ(d.fills[0].Kind, 5);
  EXPECT_EQ(d.fills[0].Colour1.Value(), 0xFFFF0000u);
  EXPECT_EQ(d.fills[0].Colour2.Value(), 0x070000FFu);
  EXPECT_TRUE(d.fills[0].Edges[2]);
  EXPECT_NEAR(d.fillOrigins[0].X, 0, 1e-3);
  EXPECT_NEAR(d.fillOrigins[0].Y, 40, 1e-3);
  EXPECT_NEAR(d.fillAxesX[0].X, 320, 1e-3);
  EXPECT_NEAR(d.fillAxesX[0].Y, 0, 1e-3);
  EXPECT_NEAR(d.fillAxesY[0].Y, 160, 1e-3);
}

TEST(OruBox, SplitterAndNearlyTransparentBoxesDrawNothing) {
  TTestTree t = BuildTree(BoxBody("Splitter", "Color1=255,255,255\r\n") +
                          Obj("S", "Box", "Size=10,10\r\nAlpha1=0\r\nAlpha2=255\r\n") +
                          Obj("G", "Box", "Size=10,10\r\nFillMode=HGradient\r\nAlpha1=0\r\nAlpha2=255\r\n") +
                          Obj("F", "Box", "Size=10,10\r\n" + KeyAt(0, "Opacity=0.001\r\n")));
  auto* splitter = dynamic_cast<TOruBox*>(t.Find("B"));
  ASSERT_NE(splitter, nullptr);
  EXPECT_TRUE(splitter->Splitter);
  t.Layout(100);
  TLogDrawer d;
  ASSERT_TRUE(d.Draw(t.Slide.get()));
  // Only the gradient box with one opaque end is drawn.
  ASSERT_EQ(d.fills.size(), 1u);
  EXPECT_EQ(d.fills[0].Kind, 6);
}

TEST(OruBox, BadKeysGiveDefaults) {
  TTestTree t = BuildTree(Obj("B", "Frame", "Size=1,2,3\r\nFillMode=Plaid\r\nAlpha1=999\r\nAlpha2=-4\r\n"));
  auto* box = dynamic_cast<TOruBox*>(t.Find("B"));
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->Width, 0);
  EXPECT_EQ(box->Height, 0);
  EXPECT_EQ(box->FillMode, kFillSolid);
  EXPECT_EQ(box->Alpha1, 255);
  EXPECT_EQ(box->Alpha2, 0);
  // A box without size lays out and draws without trouble.
  t.Layout(0);
  TLogDrawer d;
  EXPECT_TRUE(d.Draw(t.Slide.get()));
  EXPECT_FALSE(box->PrepareShadow());
}

TEST(OruBox, ShadowIsMadeOnceAndDrawnUnderTheBox) {
  TTestTree t = BuildTree(BoxBody("Box", "ShadowEnable=1\r\nShadowSize=4\r\nColor1=255,255,255\r\n"));
  auto* box = dynamic_cast<TOruBox*>(t.Find("B"));
  ASSERT_NE(box, nullptr);
  t.Layout(0);
  ASSERT_TRUE(box->PrepareShadow());
  zm::TShadow* first = box->Shadow.get();
  ASSERT_NE(first->Image(), nullptr);
  EXPECT_TRUE(box->PrepareShadow());
  EXPECT_EQ(box->Shadow.get(), first);  // same parameters: kept
  TLogDrawer d;
  ASSERT_TRUE(d.Draw(t.Slide.get()));
  ASSERT_EQ(d.images.size(), 1u);
  EXPECT_EQ(d.images[0].Image, first->Image());
  EXPECT_TRUE(d.images[0].Params.Tinted);
  EXPECT_NEAR(d.images[0].Params.Opacity, 59, 1e-3);
  ASSERT_EQ(d.fills.size(), 1u);
  box->ReleaseResources(d);
  ASSERT_EQ(d.released.size(), 1u);
  EXPECT_EQ(d.released[0], first->Image());
}

// The shadow moves by ShadowDistance percent of the box's own size (scaled
// as the box is drawn) towards ShadowAngle, as a picture's shadow does.
TEST(OruBox, ShadowIsOffsetByItsDistanceAndAngle) {
  const auto shadowOrigin = [](const std::string& keys) {
    TTestTree t = BuildTree(BoxBody("Box", "ShadowEnable=1\r\nShadowSize=4\r\nColor1=255,255,255\r\n" + keys));
    t.Layout(0);
    TLogDrawer d;
    EXPECT_TRUE(d.Draw(t.Slide.get()));
    EXPECT_EQ(d.images.size(), 1u);
    return d.images.empty() ? TFloatPoint{} : d.images[0].Origin;
  };
  const TFloatPoint still = shadowOrigin("ShadowDistance=0\r\n");
  // Placed into the 320 x 240 slide the 100 x 50 box is drawn 3.2 times its size.
  const double unit = std::sqrt(100.0 * 50.0) * 3.2 / 100.0;
  const struct {
    double Distance, Angle;
  } cases[] = {{10, 0}, {10, 90}, {1.5, 45}, {20, 180}, {5, -60}};
  for (const auto& c : cases) {
    const TFloatPoint o = shadowOrigin("ShadowDistance=" + std::to_string(c.Distance) +
                                       "\r\nShadowAngle=" + std::to_string(c.Angle) + "\r\n");
    const double a = c.Angle * 3.14159265358979 / 180, d = c.Distance * unit;
    // Within the rounding of the shadow's working size.
    EXPECT_NEAR(o.X - still.X, d * std::cos(a), 0.01 + d * 0.003) << c.Distance << " at " << c.Angle;
    EXPECT_NEAR(o.Y - still.Y, d * std::sin(a), 0.01 + d * 0.003) << c.Distance << " at " << c.Angle;
  }
}

}  // namespace
