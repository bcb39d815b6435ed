// Button captions drawn by the 3D drawer on the software device, with the
// real text object as caption: a caption fades with its button's opacity and
// takes the colours its keys give over its skin's.
#include <memory>
#include <string>

#include "OruLib2/OruClasses/OruText.h"
#include "tests/OruLib2/OruClasses/OruButtonTestKit.h"
#include "tests/OruLib2/OruClasses/OruGlyphCacheTestKit.h"
#include "tests/support/DrawerOnDevice.h"

namespace {

using namespace oru_button_test;
using drawertest::Near;
using oru::objects::TOruText;

constexpr int kTolerance = 12;
constexpr std::uint32_t kFace = 0x202020, kWhite = 0xFFFFFF, kYellow = 0xFFFF00;

class CaptionsOnDevice : public drawertest::TDrawerOnDevice {
protected:
  void SetUp() override {
    TDrawerOnDevice::SetUp();
    kit = std::make_unique<ButtonFixture>();
    // The real text kind as caption, over the kit's stand-in.
    oru::InitOruTextKind();
    // A dark skin whose captions are white.
    const std::string faces[3] = {"g.bpic", "g.bpic", "g.bpic"};
    kit->source->files.push_back(
        {u"pre\\white\\skin.ini", ButtonSkinIni(faces, "Color=#FFFFFF\r\nBtnOffset=20\r\nFiltering=Nearest\r\n")});
    kit->source->files.push_back({u"pre\\white\\g.bpic", "12x6 " + Rgb(kFace)});
  }
  void TearDown() override {
    if (tree.Slide) tree.Slide->ReleaseResources(*drawer);
    tree = {};
    kit.reset();  // puts the kit's kinds back
    TDrawerOnDevice::TearDown();
  }
  // A button of the white skin with the keys Button (and a key frame with
  // Frame) and the caption "TTT" with the keys Caption.
  TOruText* Build(const std::string& button, const std::string& frame, const std::string& caption) {
    tree = kit->Build("Theme=white\r\nAntialiased=0\r\n" + button + (frame.empty() ? "" : KeyAt(0, frame)),
                      "Text=TTT\r\nFontName=Arial\r\n" + caption);
    auto* text = dynamic_cast<TOruText*>(tree.Find("C"));
    EXPECT_NE(text, nullptr);
    EXPECT_TRUE(text && text->IsCaption);
    return text;
  }
  void Draw() {
    tree.Layout(0);
    tree.Slide->PrepareResources(*drawer);
    tree.Layout(0);
    ASSERT_TRUE(Frame(0xFF000000u, [&](oru::T3DDrawer& d) { d.Draw(tree.Slide.get()); }));
    Capture();
  }
  // The caption's T bars fill the middle of the face.
  std::uint32_t Middle() const { return At(32, 11); }

  oru_test::TGlyphTestScope glyphs;
  std::unique_ptr<ButtonFixture> kit;
  TTestTree tree;
};

TEST_F(CaptionsOnDevice, KeyColoursWinOverTheSkinsAndTheSkinsStandWithoutKeys) {
  // No colour keys: the skin's white.
  TOruText* plain = Build("", "", "");
  ASSERT_NE(plain, nullptr);
  for (std::int32_t i = 0; i < 3; ++i) EXPECT_EQ(plain->Colour(i), (zm::TColor24{255, 255, 255})) << i;
  Draw();
  EXPECT_TRUE(Near(Middle(), kWhite, kTolerance));
  EXPECT_TRUE(Near(At(32, 1), kFace, kTolerance));  // the face above the caption

  // A skin with dark captions over red faces: the caption takes its colour.
  tree = kit->Build("Theme=btn\r\nAntialiased=0\r\n", "Text=TTT\r\nFontName=Arial\r\n");
  auto* dark = dynamic_cast<TOruText*>(tree.Find("C"));
  ASSERT_NE(dark, nullptr);
  EXPECT_EQ(dark->Colour(TOruText::kHoverColour), (zm::TColor24{0x30, 0x20, 0x10}));
  Draw();
  EXPECT_TRUE(Near(Middle(), 0x102030, kTolerance)) << std::hex << Middle();
  EXPECT_TRUE(Near(At(32, 1), kNormalRGB, kTolerance)) << std::hex << At(32, 1);

  // Yellow under the white skin, with its own hover colour.
  TOruText* yellow = Build("", "", "TextColor=255,255,0\r\nTextColorHover=0,255,0\r\n");
  ASSERT_NE(yellow, nullptr);
  Draw();
  EXPECT_TRUE(Near(Middle(), kYellow, kTolerance)) << std::hex << Middle();
  EXPECT_EQ(yellow->Colour(TOruText::kClickColour), yellow->Colour(TOruText::kTextColour));
  yellow->SetMouseState(1);
  ASSERT_TRUE(Frame(0xFF000000u, [&](oru::T3DDrawer& d) { d.Draw(tree.Slide.get()); }));
  Capture();
  EXPECT_TRUE(Near(Middle(), 0x00FF00, kTolerance)) << std::hex << Middle();
}

TEST_F(CaptionsOnDevice, CaptionFadesWithItsButton) {
  // The button at 100, 50 and 0 %: the caption at that times its own 100 %.
  for (const int opacity : {100, 50, 0}) {
    SCOPED_TRACE(opacity);
    Build("", "grps=1\r\nOpacity=" + std::to_string(opacity) + "\r\n", "TextColor=255,255,0\r\n");
    Draw();
    const double a = opacity / 100.0;
    const auto mix = [a](int top, int under) { return std::uint32_t(a * top + (1 - a) * under + 0.5); };
    // The face at the button's opacity over black, the caption over it.
    const std::uint32_t face = mix(0x20, 0);
    const std::uint32_t want = mix(0xFF, int(face)) << 16 | mix(0xFF, int(face)) << 8 | mix(0, int(face));
    EXPECT_TRUE(Near(Middle(), want, kTolerance)) << std::hex << Middle();
    EXPECT_TRUE(Near(At(32, 1), face << 16 | face << 8 | face, kTolerance)) << std::hex << At(32, 1);
  }
  // The body's own BtnOpacity leaves the caption alone.
  Build("BtnOpacity=50\r\n", "", "TextColor=255,255,0\r\n");
  Draw();
  EXPECT_TRUE(Near(Middle(), kYellow, kTolerance)) << std::hex << Middle();
  EXPECT_TRUE(Near(At(32, 1), 0x101010, kTolerance)) << std::hex << At(32, 1);
  TOruText* half = Build("", "grps=1\r\nOpacity=50\r\n", "TextColor=255,255,0\r\n");
  ASSERT_NE(half, nullptr);
  tree.Layout(0);
  EXPECT_FLOAT_EQ(half->GetDrawOpacity(), 50);
}

}  // namespace
