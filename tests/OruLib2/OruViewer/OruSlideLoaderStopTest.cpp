// The slide loader stopped while it builds a slide of many pictures and
// many texts, at each step of the build: between two objects, and between
// the steps of a picture (its decode, its levels, its picture at screen
// size, its textures). The build ends at the very step the stop came in,
// keeps nothing half made, and the loader builds again after a new start.
// The loader's thread stopped from another thread frees everything it held
// (the address checker watches).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "OruLib2/OruClasses/OruFileAccess.h"
#include "OruLib2/OruClasses/OruImage.h"
#include "OruLib2/OruViewer/OruSlideLoader.h"
#include "ZmLib/wpUnicode.h"
#include "tests/OruLib2/OruClasses/OruGlyphCacheTestKit.h"
#include "tests/support/DrawerOnDevice.h"
#include "tests/support/TempDir.h"
#include "tests/support/kit/BmpWriter.h"
#include "tests/support/kit/IniText.h"
#include "tests/support/kit/JpegWriter.h"

namespace {

using namespace oru;
using zm::TRef;

class LoaderStopOnDevice : public drawertest::TDrawerOnDevice {
protected:
  LoaderStopOnDevice() : drawertest::TDrawerOnDevice(320, 240) {}

  void SetUp() override {
    drawertest::TDrawerOnDevice::SetUp();
    // Pictures larger than the slide: decoded at a level below their size
    // (the JPEGs in the decoder, the BMP by halving), then made again at
    // the size they are drawn at.
    zmtest::TJpegOptions jpeg;
    jpeg.Width = 1280;
    jpeg.Height = 960;
    dir_.Write("a.jpg", zmtest::WriteJpeg(jpeg));
    jpeg.Progressive = true;
    dir_.Write("b.jpg", zmtest::WriteJpeg(jpeg));
    dir_.Write("c.bmp", zmtest::SolidBmp(1280, 960, 0x336699));
    zmtest::TIniText t;
    t.Section("main").Key("opt_repeat", "stop").Key("opt_scr_width", 320).Key("opt_scr_height", 240);
    t.Section("Times").Key("opt_slidescount", 1).Key("opt_synchpos1", 60000);
    t.Section("Slide1");
    t.Object("TheEffect", "AnEffect").Key("GUID", "{E}").Key("ref", "quick").End();
    int n = 0;
    for (const char* file : {"a.jpg", "b.jpg", "c.bmp"}) {
      const std::string id = std::to_string(++n);
      t.Object("P" + id, "Image").Key("GUID", "{P" + id + "}").Key("ImageName", Name(file)).End();
    }
    for (int i = 0; i < 20; ++i) {
      const std::string id = std::to_string(i);
      t.Object("T" + id, "Text").Key("GUID", "{T" + id + "}").Key("Text", "Text " + id);
      t.Object("KeyPoint", "KeyPoint").Key("GUID", "{K" + id + "}").Key("ScaleX", 20).Key("ScaleY", 20).End();
      t.End();
    }
    show_ = t.Bytes(false);
  }

  std::string Name(const char* file) const { return zm::UTF8Encode(dir_.Wide(file)).Str(); }

  // A loader of the show whose new slides are readied for the drawer as the
  // engine readies them.
  TRef<TOruSlideLoader> MakeLoader() {
    TRef<zm::TIniFile> doc = zm::MakeRef<zm::TIniFile>();
    doc->LoadFromText(zm::TByteString(show_));
    TRef<TFileAccessor> accessor = zm::MakeRef<TFileAccessor>(zm::MakeRef<TRealFileSource>().get());
    TRef<TOruSource> source = zm::MakeRef<TOruSource>(accessor.Detach(), true, doc.Detach());
    TRef<TOruSlideLoader> loader = zm::MakeRef<TOruSlideLoader>(source.get(), 3, 320, 240, false);
    sources_.push_back(source);
    loader->Layout(zm::TSize{320, 240}, false);
    loader->Cache()->OnSlidePrepared = [this](TSlideCache*, TDrawContainer* c) {
      if (c->Slide) c->Slide->PrepareResources(*drawer);
      c->SetTime(c->Times.Start);
    };
    return loader;
  }

  // Passes until the cache holds what time 0 needs; false once a pass was
  // stopped (no pass after it).
  static bool BuildAll(TOruSlideLoader* loader) {
    for (int i = 0; i < 10 && !loader->WorkStop().Requested(); ++i)
      if (loader->Pass()) return true;
    return false;
  }
  // Every picture of the slides held readied at the level it is drawn at
  // (a level below its own size).
  static bool PicturesReadied(TOruSlideLoader* loader) {
    std::int32_t pictures = 0;
    for (std::int32_t i = 0; i < Prepared(loader); ++i) {
      TOruSlide* slide = loader->Cache()->Item(i)->Slide.get();
      for (std::int32_t k = 0; slide && k < slide->ChildCount(); ++k) {
        auto* image = dynamic_cast<objects::TOruImage*>(slide->Child(k));
        if (!image || image->ImageName.empty()) continue;
        ++pictures;
        if (!image->Picture || image->MipLevel < 1 || image->PreparedLevel != image->MipLevel) return false;
      }
    }
    return pictures > 0 && pictures % 3 == 0;
  }

  static std::int32_t Prepared(TOruSlideLoader* loader) { return loader->Cache()->Count(); }

  oru_test::TGlyphTestScope glyphs_;
  zmtest::TTempDir dir_;
  std::string show_;
  std::vector<TRef<TOruSource>> sources_;
};

TEST_F(LoaderStopOnDevice, StopAtEachStepEndsThereAndKeepsNothingHalfBuilt) {
  // The whole build: its steps counted.
  TRef<TOruSlideLoader> whole = MakeLoader();
  ASSERT_TRUE(BuildAll(whole.get()));
  const std::int32_t slides = Prepared(whole.get());
  EXPECT_TRUE(PicturesReadied(whole.get()));
  ASSERT_GE(slides, 2);  // the lead-in and the slide
  const std::uint64_t steps = whole->WorkStop().Polls();
  // Many objects and many picture rows: every kind of step is met below.
  ASSERT_GT(steps, 500u);
  whole = nullptr;

  const std::uint64_t stride = std::max<std::uint64_t>(1, steps / 48);
  for (std::uint64_t at = 1; at <= steps; at += at < 40 ? 1 : stride) {
    SCOPED_TRACE("stopped at step " + std::to_string(at) + " of " + std::to_string(steps));
    TRef<TOruSlideLoader> loader = MakeLoader();
    loader->WorkStop().RequestAtPoll(at);
    EXPECT_FALSE(BuildAll(loader.get()));
    // No step ran after the one that saw the stop.
    EXPECT_EQ(loader->WorkStop().Polls(), at);
    // Only slides built whole before it are held.
    EXPECT_LT(Prepared(loader.get()), slides);
    for (std::int32_t i = 0; i < Prepared(loader.get()); ++i) EXPECT_NE(loader->Cache()->Item(i)->Slide, nullptr);
  }

  // Built again after a stop (a new start clears it): nothing the stopped
  // build left (a picture half decoded) is taken for done.
  for (const std::uint64_t at : {steps / 3, steps / 2, steps - 5}) {
    TRef<TOruSlideLoader> again = MakeLoader();
    again->WorkStop().RequestAtPoll(at);
    EXPECT_FALSE(BuildAll(again.get()));
    again->WorkStop().Reset();
    again->WorkStop().RequestAtPoll(0);
    EXPECT_TRUE(BuildAll(again.get()));
    EXPECT_EQ(Prepared(again.get()), slides);
    EXPECT_TRUE(PicturesReadied(again.get()));
  }
}

TEST_F(LoaderStopOnDevice, ThreadStoppedWhileItBuildsEndsAndFreesWhatItHeld) {
  for (int round = 0; round < 3; ++round) {
    TRef<TOruSlideLoader> loader = MakeLoader();
    ASSERT_TRUE(loader->Start());
    // Once it is under way (a step after the start of the build), or at once.
    if (round > 0) {
      while (loader->Running() && loader->WorkStop().Polls() < std::uint64_t(round) * 100) std::this_thread::yield();
    }
    loader->Terminate();
    EXPECT_TRUE(loader->Wait(60000));
    EXPECT_FALSE(loader->Running());
    loader = nullptr;  // frees its cache, slides and pictures
  }
}

}  // namespace
