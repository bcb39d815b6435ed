// Button objects: skins and their fallback, the face width, the state faces
// and when they are fetched, the body's opacity, damaged skins and captions.
#include <cmath>
#include <limits>
#include <memory>

#include "tests/OruLib2/OruClasses/OruButtonTestKit.h"

namespace {

using namespace oru_button_test;

class Buttons : public ::testing::Test, public ButtonFixture {
protected:
  TOruButton* ButtonOf(TTestTree& t) { return dynamic_cast<TOruButton*>(t.Find("B")); }
  static std::uint32_t FaceRgb(TOruButton* b) {
    if (!b->Picture) return 0xDEAD;
    zm::TBitmap* bitmap =
        b->Picture->Store()->GetMipLevel(0, zm::PixelFormatByName(zm::TByteString(zm::PF_A8R8G8B8)), nullptr);
    std::uint32_t pixel = 0;
    bitmap->GetPixels32(std::span<std::uint32_t>(&pixel, 1), 0, b->PictureWidth / 2, b->PictureHeight / 2, 1);
    return pixel & 0xFFFFFFu;
  }
};

TEST(ButtonFaceWidth, CaptionInkMinimumAndLimits) {
  // H 6, ink 4:1, caption at 80 %: m = round(1.2) = 1, (6 - 1) * 4 + 6 = 26.
  EXPECT_EQ(ButtonFaceWidth(6, 4, 80, 150, 100), 26);
  EXPECT_EQ(ButtonFaceWidth(6, 0.1, 80, 150, 100), 9);   // the minimum width wins
  EXPECT_EQ(ButtonFaceWidth(6, 0, 100, 0, 0), 6);        // never below the height
  // Halves go to the even neighbour.
  EXPECT_EQ(ButtonFaceWidth(10, 0, 100, 125, 0), 12);
  EXPECT_EQ(ButtonFaceWidth(10, 0, 100, 135, 0), 14);
  // Nothing to make without a height; absurd inputs stay within the producer's limit.
  EXPECT_EQ(ButtonFaceWidth(0, 4, 80, 150, 100), 0);
  EXPECT_EQ(ButtonFaceWidth(6, 1e30, 80, 1e30, 1e30), zm::kMaxButtonWidth);
  EXPECT_EQ(ButtonFaceWidth(6, std::numeric_limits<double>::quiet_NaN(), std::nan(""), std::nan(""), -1e9), 6);
  EXPECT_EQ(ButtonFaceWidth(6, -3, 80, 0, 0), 6);
}

TEST_F(Buttons, SkinSetsSizesFilteringAndTheCaptionsScale) {
  TTestTree t = Build("Theme=btn\r\n");
  TOruButton* b = ButtonOf(t);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->Theme, u"btn");
  EXPECT_EQ(b->SkinWidth, 12);
  EXPECT_EQ(b->PixelHeight, 6);
  // The image keys come after the skin: without Filtering, "Default".
  EXPECT_EQ(b->SkinFiltering, zm::bfNearest);
  EXPECT_EQ(b->Filtering, zm::bfDefault);
  EXPECT_FLOAT_EQ(b->BtnMinWidth, 150);
  EXPECT_FLOAT_EQ(b->BtnOffsetX, 100);
  EXPECT_EQ(b->CaptionColour(), (zm::TColor24{0x30, 0x20, 0x10}));
  ASSERT_NE(b->CaptionObject(), nullptr);
  double sx = 0, sy = 0;
  TOruKeyFrame* frame = GetKeyFrame(b->CaptionObject()->Props()->KeyFrames(), 0);
  frame->GetParam(kParamScaleX, sx);
  frame->GetParam(kParamScaleY, sy);
  EXPECT_DOUBLE_EQ(sx, 80);
  EXPECT_DOUBLE_EQ(sy, 80);

  // The face is as wide as the caption's ink needs, in the normal state.
  t.Layout(0);
  EXPECT_EQ(b->PixelWidth, 26);
  EXPECT_EQ(b->PictureWidth, 26);
  EXPECT_EQ(b->PictureHeight, 6);
  EXPECT_EQ(FaceRgb(b), kNormalRGB);
  // Zoom: container height over own height; a wide face is laid out by cover.
  EXPECT_DOUBLE_EQ(b->ZoomY, 24.0 / 6.0);
  EXPECT_EQ(b->FitMode, kFitCover);
  // A wider ink makes a new, wider face.
  b->CaptionObject()->Width = 80;
  t.Layout(0);
  EXPECT_EQ(b->PictureWidth, 46);

  // Same skin in other letter case: nothing is opened again. Another skin
  // re-colours the caption that is now there.
  const int opens = source->opens;
  b->SetTheme(u"BTN");
  EXPECT_EQ(source->opens, opens);
  b->SetTheme(u"aqua");
  ASSERT_FALSE(CaptionColours().empty());
  EXPECT_EQ(CaptionColours().back().first, b->CaptionObject());
  EXPECT_EQ(b->Picture.get(), nullptr);  // released until asked again
  t.Layout(0);
  EXPECT_EQ(FaceRgb(b), kAquaRGB);
}

TEST_F(Buttons, MissingSkinsFallBackToAquaThenToNoBody) {
  {
    TTestTree t = Build("Theme=nosuchskin\r\nBtnMinWidth=300\r\nBtnOffsetX=50\r\n", "");
    TOruButton* b = ButtonOf(t);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->Theme, u"aqua");
    // Keys read after the skin override what the skin gave.
    EXPECT_FLOAT_EQ(b->BtnMinWidth, 300);
    EXPECT_FLOAT_EQ(b->BtnOffsetX, 50);
    EXPECT_EQ(b->CaptionObject(), nullptr);
    t.Layout(0);
    EXPECT_EQ(b->PictureWidth, 12);  // no caption: the skin's width
    EXPECT_EQ(FaceRgb(b), kAquaRGB);
  }
  // Neither the skin nor "aqua": no body, and nothing fails on the way.
  RemoveFile(u"pre\\aqua\\skin.ini");
  host = zm::MakeRef<TOruSlideHost>(accessor.get(), callbacks, u"pre\\", false);  // no producer loaded yet
  TTestTree t = Build("Theme=gone\r\n");
  TOruButton* b = ButtonOf(t);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->PixelHeight, 0);
  TLogDrawer drawer;
  t.Layout(0);
  t.Slide->PrepareResources(drawer);
  b->SetMouseState(TOruButton::kHover);
  t.Layout(0);
  drawer.Draw(t.Slide.get());
  b->ReleaseResources(drawer);
  EXPECT_EQ(b->Picture.get(), nullptr);
  EXPECT_TRUE(drawer.images.empty());
  EXPECT_TRUE(drawer.prepared.empty());
  EXPECT_GT(static_cast<TTestCaption*>(b->CaptionObject())->DrawCount, 0);  // the caption still shows
}

// No Theme key is no skin: nothing is opened, no "aqua" in its place, no
// body drawn; the caption keeps the text colour. A Filtering key wins over
// the skin's.
TEST_F(Buttons, WithoutAThemeThereIsNoBodyAndFilteringKeysWin) {
  const int opens = source->opens;
  TTestTree t = Build("BtnOpacity=80\r\n");
  TOruButton* b = ButtonOf(t);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->Theme, u"");
  EXPECT_EQ(b->PixelHeight, 0);
  EXPECT_EQ(source->opens, opens);
  EXPECT_TRUE(CaptionColours().empty());
  TLogDrawer drawer;
  t.Layout(0);
  t.Slide->PrepareResources(drawer);
  drawer.Draw(t.Slide.get());
  EXPECT_EQ(b->Picture.get(), nullptr);
  EXPECT_TRUE(drawer.images.empty());
  EXPECT_GT(static_cast<TTestCaption*>(b->CaptionObject())->DrawCount, 0);
  // A skin set later loads as usual, and going back to none drops it.
  b->SetTheme(u"btn");
  EXPECT_EQ(b->PixelHeight, 6);
  b->SetTheme(u"");
  EXPECT_EQ(b->PixelHeight, 0);
  EXPECT_EQ(b->Picture.get(), nullptr);

  TTestTree f = Build("Theme=btn\r\nFiltering=Bilinear\r\n");
  ASSERT_NE(ButtonOf(f), nullptr);
  EXPECT_EQ(ButtonOf(f)->Filtering, zm::bfBilinear);
}

TEST_F(Buttons, PreparedFacesServeStateChangesUntilTheFaceChanges) {
  TTestTree t = Build("Theme=btn\r\n");
  TOruButton* b = ButtonOf(t);
  ASSERT_NE(b, nullptr);
  TLogDrawer drawer;
  t.Layout(0);
  t.Slide->PrepareResources(drawer);
  ASSERT_EQ(drawer.prepared.size(), 3u);  // hover, pressed, normal
  EXPECT_EQ(b->MouseState, TOruButton::kNormal);
  for (auto& s : b->StatePictures) ASSERT_NE(s.Picture.get(), nullptr);
  EXPECT_EQ(drawer.prepared[0].Image, b->StatePictures[TOruButton::kHover].Picture.get());
  EXPECT_EQ(drawer.prepared[2].Image, b->Picture.get());

  // Hovering takes the prepared face: nothing is fetched, nothing to upload.
  const int opens = source->opens;
  b->StateChanged = false;
  b->SetMouseState(TOruButton::kHover);
  EXPECT_EQ(b->Picture.get(), b->StatePictures[TOruButton::kHover].Picture.get());
  EXPECT_EQ(b->NeedsTextures, 0);
  EXPECT_TRUE(b->StateChanged);
  EXPECT_EQ(source->opens, opens);
  EXPECT_EQ(FaceRgb(b), kHoverRGB);
  b->SetMouseState(7);  // no such state
  EXPECT_EQ(b->MouseState, TOruButton::kHover);

  // A colour shift makes the prepared faces stale: the pressed one is made anew.
  b->SetHue(40);
  b->SetMouseState(TOruButton::kPressed);
  EXPECT_NE(b->Picture.get(), b->StatePictures[TOruButton::kPressed].Picture.get());
  EXPECT_EQ(b->NeedsTextures, 1);

  // Release: the stored faces' textures and the current one's, each once.
  b->ReleaseResources(drawer);
  EXPECT_EQ(drawer.released.size(), 4u);
}

TEST_F(Buttons, BodyOpacityDamagedSkinAndOddCaptions) {
  TTestTree t = Build("Theme=btn\r\nBtnOpacity=50\r\nTxtOpacity=30\r\n");
  TOruButton* b = ButtonOf(t);
  ASSERT_NE(b, nullptr);
  TLogDrawer drawer;
  t.Layout(0);
  drawer.Draw(t.Slide.get());
  ASSERT_EQ(drawer.images.size(), 1u);
  EXPECT_FLOAT_EQ(drawer.images[0].Params.Opacity, 50);
  // The caption's share is taken from the button's own opacity, not the body's.
  EXPECT_FLOAT_EQ(b->GetOpacity(), 100);
  EXPECT_FLOAT_EQ(b->TxtOpacity, 30);

  // A hover part of the wrong size: an error face, the other states as usual.
  TTestTree broken = Build("Theme=broken\r\n", "");
  TOruButton* d = ButtonOf(broken);
  ASSERT_NE(d, nullptr);
  broken.Layout(0);
  EXPECT_EQ(FaceRgb(d), kNormalRGB);
  d->SetMouseState(TOruButton::kHover);
  ASSERT_NE(d->Picture.get(), nullptr);
  EXPECT_NE(FaceRgb(d), kHoverRGB);
  d->SetMouseState(TOruButton::kPressed);
  EXPECT_EQ(FaceRgb(d), kPressedRGB);

  // A caption with two key frames keeps them as they are; a zero-height ink
  // gives the skin's minimum width.
  TTestTree two = BuildHostedTree(Obj("B", "Button",
                                      "Theme=btn\r\n" + Obj("C", "Text",
                                                            "Size=40,0\r\n" + KeyAt(0, "ScaleX=90\r\n") +
                                                                KeyAt(500, "ScaleX=70\r\n"))),
                                  host.get(), 64, 24);
  TOruButton* c = ButtonOf(two);
  ASSERT_NE(c, nullptr);
  double sx = 0;
  GetKeyFrame(c->CaptionObject()->Props()->KeyFrames(), 1)->GetParam(kParamScaleX, sx);
  EXPECT_DOUBLE_EQ(sx, 70);
  two.Layout(0);
  EXPECT_EQ(c->PictureWidth, 9);
}

TEST_F(Buttons, NewButtonsStartInTheDefaultState) {
  const std::uint8_t saved = objects::DefaultButtonMouseState;
  objects::DefaultButtonMouseState = TOruButton::kPressed;
  TTestTree t = Build("Theme=btn\r\n", "");
  objects::DefaultButtonMouseState = 9;  // not a state: normal
  TTestTree u = Build("Theme=btn\r\n", "");
  objects::DefaultButtonMouseState = saved;
  t.Layout(0);
  EXPECT_EQ(ButtonOf(t)->MouseState, TOruButton::kPressed);
  EXPECT_EQ(FaceRgb(ButtonOf(t)), kPressedRGB);
  EXPECT_EQ(ButtonOf(u)->MouseState, TOruButton::kNormal);
}

}  // namespace
