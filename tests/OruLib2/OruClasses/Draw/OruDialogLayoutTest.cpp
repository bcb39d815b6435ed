// A custom dialog's objects are laid out by the rules of a slide: the same
// button on a slide and in a dialog of the same show has the same body and
// its caption at the same place.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "OruLib2/OruClasses/OruButton.h"
#include "OruLib2/OruClasses/OruShowLoader.h"
#include "OruLib2/OruClasses/OruSlide.h"
#include "OruLib2/OruClasses/OruSlideProducer.h"
#include "OruLib2/OruClasses/zmOruSource2.h"
#include "Platform/PlatUtf8.h"
#include "tests/OruLib2/OruClasses/OruGlyphCacheTestKit.h"
#include "tests/support/kit/ShowBuilder.h"

namespace {

using namespace oru;
using zm::TRef;

// A 12 x 6 skin whose parts are cut from one picture per state.
std::string PlainSkin() {
  std::string ini;
  for (const char* state : {"NormalState", "HoverState", "ClickState"}) {
    ini += std::string("[") + state + "]\r\n";
    const auto part = [&](const char* key, int l, int t, int r, int b) {
      ini += std::string(key) + "=face.jpg," + std::to_string(l) + "," + std::to_string(t) + "," + std::to_string(r) +
             "," + std::to_string(b) + "\r\n";
    };
    part("LeftTop", 0, 0, 3, 2);
    part("Top", 3, 0, 9, 2);
    part("RightTop", 9, 0, 12, 2);
    part("Right", 9, 2, 12, 4);
    part("RightBottom", 9, 4, 12, 6);
    part("Bottom", 3, 4, 9, 6);
    part("LeftBottom", 0, 4, 3, 6);
    part("Left", 0, 2, 3, 4);
    part("Center", 3, 2, 9, 4);
  }
  return ini + "[TextParams]\r\nBtnOffset=20\r\nFiltering=Nearest\r\n";
}

// The button "B": its skin, its caption, and where it stands.
void ShapeButton(zmtest::TShowObject& b, const char* caption, bool addCaption) {
  b.Key("Theme", "plain");
  if (addCaption) {
    zmtest::TShowObject& c = b.Add("Caption", "Text").Text("Text", caption).Key("FontName", "DejaVu Sans");
    c.KeyPoint(0).Opacity(100);
  }
  b.KeyPoint(0).Position(-20, 10).Scale(12, 12);
}

// The first button of a tree.
objects::TOruButton* FirstButton(TOruObject* o) {
  if (!o) return nullptr;
  if (auto* b = dynamic_cast<objects::TOruButton*>(o)) return b;
  for (std::int32_t i = 0; i < o->ChildCount(); ++i)
    if (auto* f = FirstButton(o->Child(i))) return f;
  return nullptr;
}

void ExpectSamePlace(TOruObject* a, TOruObject* b, const char* what) {
  ASSERT_TRUE(a && b) << what;
  zm::TFloatPoint3 ca[4], cb[4];
  a->GetWorldCorners(ca);
  b->GetWorldCorners(cb);
  for (int i = 0; i < 4; ++i) {
    EXPECT_NEAR(ca[i].X, cb[i].X, 0.01) << what << " corner " << i;
    EXPECT_NEAR(ca[i].Y, cb[i].Y, 0.01) << what << " corner " << i;
  }
}

TEST(DialogLayout, ButtonsAreLaidOutAsOnASlide) {
  oru_test::TGlyphTestScope glyphs;
  const char* caption = "A caption far wider than the button is high";
  zmtest::TShowBuilder show;
  show.ScreenSize(640, 360).Main().Key("PathToButtons", "skins\\").Key("opt_customdialogscount", 1).Key(
      "custom_dialog1", "Info");
  ShapeButton(show.AddSlide(5000).Button("B", caption), caption, false);
  ShapeButton(show.Section("dialog_1_").Add("B", "Button"), caption, true);
  show.AddJpeg("skins\\plain\\face.jpg", 12, 6, 200, 40, 40);
  show.AddFile("skins\\plain\\skin.ini", PlainSkin());
  show.Write();

  TRef<TOruShowLocator> locator = OpenProjectShow(plat::FromUtf8(show.ProjectFile()));
  ASSERT_TRUE(locator);
  TRef<TSlideProducer> producer = zm::MakeRef<TSlideProducer>(locator->GetSource(), nullptr, 640, 360, false);
  producer->SetOutputSize({640, 360}, false, 100, 100);
  TRef<TOruSlide> slide = producer->CreateSlide(0, 0);
  ASSERT_TRUE(slide);
  // A slide is laid out on every frame it is drawn.
  for (double t : {0.0, 20.0, 40.0}) slide->SetTimeAndLayout(true, t);
  TRef<TOruDialog> dialog = producer->CreateDialog(u"Info");
  ASSERT_TRUE(dialog);

  objects::TOruButton* onSlide = FirstButton(slide.get());
  objects::TOruButton* inDialog = FirstButton(dialog.get());
  ASSERT_TRUE(onSlide) << "slide";
  ASSERT_TRUE(inDialog) << "dialog";
  ASSERT_GT(onSlide->PixelHeight, 0) << "no skin";
  // The caption's ink makes the body wide: far wider than high.
  EXPECT_GT(onSlide->PixelWidth, 3 * onSlide->PixelHeight);
  EXPECT_EQ(inDialog->PixelWidth, onSlide->PixelWidth);
  ExpectSamePlace(onSlide, inDialog, "body");
  ExpectSamePlace(onSlide->CaptionObject(), inDialog->CaptionObject(), "caption");
}

}  // namespace
