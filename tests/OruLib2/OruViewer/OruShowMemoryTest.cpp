// What a slide holds once built, counted in picture memory: a caption its
// text's picture and its shadow's, once, at the size they are drawn, shared
// by captions of one text and apart for different ones; and a slide whose
// build would pass the player's limit is refused with nothing of it kept,
// a large picture before its memory is taken.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "OruLib2/OruClasses/OruFileAccess.h"
#include "OruLib2/OruClasses/OruText.h"
#include "OruLib2/OruViewer/OruSlideLoader.h"
#include "Platform/PlatPictureMemory.h"
#include "ZmLib/Graphics/zmShadows.h"
#include "ZmLib/wpUnicode.h"
#include "tests/OruLib2/OruClasses/OruGlyphCacheTestKit.h"
#include "tests/support/DrawerOnDevice.h"
#include "tests/support/TempDir.h"
#include "tests/support/kit/BmpWriter.h"
#include "tests/support/kit/IniText.h"

namespace {

using namespace oru;
using zm::TRef;

constexpr std::int32_t kW = 640, kH = 480;

// What the loader's watch reads as held: the picture memory, and the
// largest figure it was asked for.
std::atomic<std::int64_t> gPeak{0};
std::int64_t PictureBytes() {
  const std::int64_t held = plat::PictureMemoryBytes();
  std::int64_t peak = gPeak.load();
  while (held > peak && !gPeak.compare_exchange_weak(peak, held)) {
  }
  return held;
}

class ShowMemory : public drawertest::TDrawerOnDevice {
protected:
  ShowMemory() : drawertest::TDrawerOnDevice(kW, kH) {}

  // One slide of captions (Text(i) each) and pictures named Pictures.
  static std::string Show(std::int32_t captions, const std::function<std::string(std::int32_t)>& text,
                          const std::vector<std::string>& pictures = {}) {
    zmtest::TIniText t;
    t.Section("main").Key("opt_repeat", "stop").Key("opt_scr_width", kW).Key("opt_scr_height", kH);
    t.Section("Times").Key("opt_slidescount", 1).Key("opt_synchpos1", 60000);
    t.Section("Slide1");
    t.Object("TheEffect", "AnEffect").Key("GUID", "{E}").Key("ref", "quick").End();
    for (std::size_t i = 0; i < pictures.size(); ++i)
      t.Object("P" + std::to_string(i), "Image").Key("GUID", "{P" + std::to_string(i) + "}").Key("ImageName", pictures[i]).End();
    for (std::int32_t i = 0; i < captions; ++i) {
      const std::string id = std::to_string(i);
      t.Object("T" + id, "Text").Key("GUID", "{T" + id + "}").Key("Text", text(i)).Key("FontName", "DejaVu Sans");
      t.Object("KeyPoint", "KeyPoint")
          .Key("GUID", "{K" + id + "}")
          .Key("Position", std::to_string(i % 7 * 25 - 75) + "," + std::to_string(i / 7 % 7 * 25 - 75))
          .Key("ScaleX", 10)
          .Key("ScaleY", 10)
          .End();
      t.End();
    }
    return t.Bytes(false);
  }

  TRef<TOruSlideLoader> MakeLoader(const std::string& show) {
    TRef<zm::TIniFile> doc = zm::MakeRef<zm::TIniFile>();
    doc->LoadFromText(zm::TByteString(show));
    TRef<TFileAccessor> accessor = zm::MakeRef<TFileAccessor>(zm::MakeRef<TRealFileSource>().get());
    TRef<TOruSource> source = zm::MakeRef<TOruSource>(accessor.Detach(), true, doc.Detach());
    TRef<TOruSlideLoader> loader = zm::MakeRef<TOruSlideLoader>(source.get(), 3, kW, kH, false);
    sources_.push_back(source);
    loader->Layout(zm::TSize{kW, kH}, false);
    loader->Cache()->OnSlidePrepared = [this](TSlideCache*, TDrawContainer* c) {
      if (c->Slide) c->Slide->PrepareResources(*drawer);
      c->SetTime(c->Times.Start);
    };
    return loader;
  }

  // Passes until the cache holds what time 0 needs.
  static bool Build(TOruSlideLoader* loader) {
    for (int i = 0; i < 10; ++i)
      if (loader->Pass()) return loader->Cache()->Count() >= 1;
    return false;
  }

  // The picture memory held, after a frame (which lets the textures of
  // pictures no image holds go) and without the blocks kept for reuse.
  std::int64_t Held() {
    EXPECT_TRUE(Frame(0xFF000000u, [](T3DDrawer&) {}));
    plat::TrimPictureMemory();
    return plat::PictureMemoryBytes();
  }

  // What a built slide's captions draw: each text's picture and its
  // shadow's, with a texture's border, once for each picture.
  static std::int64_t Drawn(TOruSlide* slide, std::int32_t& captions) {
    std::vector<const void*> seen;
    std::int64_t bytes = 0;
    const auto add = [&](zm::TImage* image) {
      if (!image || std::find(seen.begin(), seen.end(), image->Store()) != seen.end()) return;
      seen.push_back(image->Store());
      bytes += std::int64_t(image->Params.Width + 2) * (image->Params.Height + 2) * 4;
    };
    captions = 0;
    for (std::int32_t k = 0; slide && k < slide->ChildCount(); ++k) {
      auto* t = dynamic_cast<objects::TOruText*>(slide->Child(k));
      if (!t || !t->Picture) continue;
      ++captions;
      add(t->Picture.get());
      if (t->Shadow) add(t->Shadow->Image());
      // Held once: the textures hold the pixels, the stores none.
      EXPECT_EQ(t->Picture->Store()->LevelBitmapCount(0), 0);
    }
    return bytes;
  }

  oru_test::TGlyphTestScope glyphs_;
  zmtest::TTempDir dir_;
  std::vector<TRef<TOruSource>> sources_;
};

TEST_F(ShowMemory, ACaptionHoldsWhatItDraws) {
  // As the first slide is readied (before the window's first frame): each
  // picture at its level. Later slides ready a still picture at the size
  // and place it is drawn, for each object alone, as large as the text.
  drawer->ScreenSizedPictures = false;
  const std::int64_t before = Held();
  std::int64_t apart = 0, drawnApart = 0;
  {
    TRef<TOruSlideLoader> loader = MakeLoader(Show(40, [](std::int32_t i) { return "w" + std::to_string(i * 37); }));
    ASSERT_TRUE(Build(loader.get()));
    std::int32_t captions = 0;
    drawnApart = Drawn(loader->Cache()->Item(0)->Slide.get(), captions);
    EXPECT_EQ(captions, 40);
    apart = Held() - before;
  }
  EXPECT_GT(drawnApart, 0);
  EXPECT_GE(apart, drawnApart * 9 / 10);
  EXPECT_LE(apart, drawnApart * 11 / 10) << "held " << apart << " for " << drawnApart << " drawn";
  EXPECT_EQ(Held(), before);  // all of it goes with the slide

  // One text on all of them: one picture and one shadow for the forty.
  TRef<TOruSlideLoader> loader = MakeLoader(Show(40, [](std::int32_t) { return std::string("w37"); }));
  ASSERT_TRUE(Build(loader.get()));
  std::int32_t captions = 0;
  const std::int64_t drawnShared = Drawn(loader->Cache()->Item(0)->Slide.get(), captions);
  EXPECT_EQ(captions, 40);
  const std::int64_t shared = Held() - before;
  EXPECT_LE(shared, drawnShared * 11 / 10);
  EXPECT_LT(shared * 20, apart);
}

// Past the limit the slide's build ends where it is: the show is refused,
// naming the slide and what it would take; nothing of it is kept, and the
// loader builds nothing more. A picture that would pass the limit is not
// taken at all.
TEST_F(ShowMemory, SlidePastTheLimitIsRefusedWithNothingOfItKept) {
  dir_.Write("big.bmp", zmtest::SolidBmp(1200, 1000, 0x336699));
  const std::string big = zm::UTF8Encode(dir_.Wide("big.bmp")).Str();
  const std::int64_t before = Held();
  constexpr std::int64_t kLimit = 3 << 20;
  for (const bool picture : {false, true}) {
    SCOPED_TRACE(picture ? "a large picture" : "captions");
    const std::string show = picture ? Show(1, [](std::int32_t) { return std::string("w"); }, {big})
                                     : Show(400, [](std::int32_t i) { return "w" + std::to_string(i); });
    TRef<TOruSlideLoader> loader = MakeLoader(show);
    gPeak = 0;
    loader->SetMemoryLimit(before + kLimit, &PictureBytes);
    loader->Pass();
    const WideString why = loader->Refusal();
    EXPECT_EQ(why.rfind(u"The show takes more memory than the player can hold: with slide 1 it would take about ", 0), 0u)
        << zm::UTF8Encode(why).Str();
    EXPECT_NE(why.find(u", more than the "), WideString::npos);
    EXPECT_EQ(loader->Cache()->Count(), 0);
    EXPECT_EQ(Held(), before);
    EXPECT_LE(gPeak.load(), before + kLimit + (picture ? 0 : 8 << 20));
    // Refused: no further pass builds anything.
    loader->Pass();
    EXPECT_EQ(loader->Cache()->Count(), 0);
  }
}

}  // namespace
