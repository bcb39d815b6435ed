// Buttons drawn by the 3D drawer on the software device: the face of each
// mouse state, and the fallback skin, against the skins' solid colours.
#include <memory>

#include "tests/OruLib2/OruClasses/OruButtonTestKit.h"
#include "tests/support/DrawerOnDevice.h"

namespace {

using namespace oru_button_test;
using drawertest::Near;

// Every channel within this of the expected colour.
constexpr int kButtonTolerance = 12;
constexpr std::uint32_t kButtonBackground = 0x404040;

class ButtonsOnDevice : public drawertest::TDrawerOnDevice {
protected:
  void SetUp() override {
    TDrawerOnDevice::SetUp();
    kit = std::make_unique<ButtonFixture>();
  }
  void TearDown() override {
    kit.reset();
    TDrawerOnDevice::TearDown();
  }
  void DrawTree(TTestTree& t) {
    t.Layout(0);
    ASSERT_TRUE(Frame(0xFF000000u | kButtonBackground, [&](oru::T3DDrawer& d) { d.Draw(t.Slide.get()); }));
    Capture();
  }
  // A 12 x 6 face at zoom 4 (the slide's height over the skin's) fills
  // columns 8..55 of the 64 x 24 slide in the top of the 64 x 48 frame;
  // the edges are not checked.
  void ExpectFace(std::uint32_t rgb) {
    for (int x : {10, 32, 53})
      for (int y : {2, 12, 21}) EXPECT_TRUE(Near(At(x, y), rgb, kButtonTolerance)) << x << ", " << y;
    for (int x : {2, 5, 58, 61}) EXPECT_TRUE(Near(At(x, 12), kButtonBackground, kButtonTolerance)) << x;
    EXPECT_TRUE(Near(At(32, 27), kButtonBackground, kButtonTolerance));
  }
  std::unique_ptr<ButtonFixture> kit;
};

TEST_F(ButtonsOnDevice, EachStateDrawsItsFace) {
  TTestTree t = kit->Build("Theme=btn\r\nAntialiased=0\r\n", "");
  auto* b = dynamic_cast<TOruButton*>(t.Find("B"));
  ASSERT_NE(b, nullptr);
  t.Layout(0);
  t.Slide->PrepareResources(*drawer);
  DrawTree(t);
  ExpectFace(kNormalRGB);
  b->SetMouseState(TOruButton::kHover);
  DrawTree(t);
  ExpectFace(kHoverRGB);
  b->SetMouseState(TOruButton::kPressed);
  DrawTree(t);
  ExpectFace(kPressedRGB);
  // Back to normal after the textures were released and made again on use.
  b->ReleaseResources(*drawer);
  b->SetMouseState(TOruButton::kNormal);
  DrawTree(t);
  ExpectFace(kNormalRGB);
}

TEST_F(ButtonsOnDevice, HalfOpaqueBodyOfTheFallbackSkin) {
  TTestTree t = kit->Build("Theme=missing\r\nAntialiased=0\r\nBtnOpacity=50\r\n", "");
  t.Layout(0);
  t.Slide->PrepareResources(*drawer);
  DrawTree(t);
  // Half of cyan over the grey background.
  const std::uint32_t half = ((0x00 + 0x40) / 2) << 16 | ((0xFF + 0x40) / 2) << 8 | ((0xFF + 0x40) / 2);
  EXPECT_TRUE(Near(At(32, 12), half, kButtonTolerance));
  EXPECT_TRUE(Near(At(2, 12), kButtonBackground, kButtonTolerance));
}

}  // namespace
