// Building a slide is linear in its objects: the work of building one (its
// objects made, laid out at its start, readied for a drawer and drawn once),
// counted as the calls its objects take and the steps the build looks for a
// stop between, grows as the number of objects does, for each kind of
// object a show may hold many of. A frame of such a slide drawn for a
// player that ends stops between two objects.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "OruLib2/OruClasses/OruBox.h"
#include "OruLib2/OruClasses/OruImage.h"
#include "OruLib2/OruClasses/OruObjectFactory.h"
#include "OruLib2/OruClasses/OruSlideProducer.h"
#include "OruLib2/OruClasses/OruText.h"
#include "ZmLib/wpLoadCallBack.h"
#include "ZmLib/wpUnicode.h"
#include "tests/OruLib2/OruClasses/OruGlyphCacheTestKit.h"
#include "tests/OruLib2/OruClasses/OruImageTestKit.h"
#include "tests/support/TempDir.h"
#include "tests/support/kit/IniText.h"
#include "tests/support/kit/JpegWriter.h"

namespace {

using namespace oru;
using zm::TRef;

std::atomic<std::uint64_t> gObjectCalls{0};

// An object of a real kind that counts what is asked of it.
template <class Base>
class TWorkCounted : public Base {
public:
  bool GetMainPicture(WideString& fileName, zm::TSize& size) override {
    ++gObjectCalls;
    return Base::GetMainPicture(fileName, size);
  }
  TOruSlideHost* GetHost() override {
    ++gObjectCalls;
    return Base::GetHost();
  }
  double GetTimePoint(std::int32_t kind) override {
    ++gObjectCalls;
    return Base::GetTimePoint(kind);
  }
  void SetTime(bool recursive, double t) override {
    ++gObjectCalls;
    Base::SetTime(recursive, t);
  }
  void UpdateLayout(bool recursive) override {
    ++gObjectCalls;
    Base::UpdateLayout(recursive);
  }
  bool IsChanged() override {
    ++gObjectCalls;
    return Base::IsChanged();
  }
  void PrepareResources(zm::TDeviceDrawer& drawer) override {
    ++gObjectCalls;
    Base::PrepareResources(drawer);
  }
  void PrepareDraw(zm::TDeviceDrawer& drawer) override {
    ++gObjectCalls;
    Base::PrepareDraw(drawer);
  }
  void CommitFrame(bool recursive) override {
    ++gObjectCalls;
    Base::CommitFrame(recursive);
  }
  float GetOpacityPercent() override {
    ++gObjectCalls;
    return Base::GetOpacityPercent();
  }
  bool GetEyePoint(zm::TFloatPoint3& eye) override {
    ++gObjectCalls;
    return Base::GetEyePoint(eye);
  }
  void ObjectChanged(TOruObject* object) override {
    ++gObjectCalls;
    Base::ObjectChanged(object);
  }
};

class TBuildTiming : public ITiming {
public:
  double GetTime() override { return 0; }
};

class SlideBuildWork : public ::testing::Test {
protected:
  void SetUp() override {
    box_ = SetOruObjectClass(kOruObjBox, &MakeOruObject<TWorkCounted<TOruBox>>);
    image_ = SetOruObjectClass(kOruObjImage, &MakeOruObject<TWorkCounted<objects::TOruImage>>);
    text_ = SetOruObjectClass(kOruObjText, &MakeOruObject<TWorkCounted<objects::TOruText>>);
    zmtest::TJpegOptions jpeg;
    jpeg.Width = 8;
    jpeg.Height = 8;
    dir_.Write("p.jpg", zmtest::WriteJpeg(jpeg));
  }
  void TearDown() override {
    SetOruObjectClass(kOruObjBox, box_);
    SetOruObjectClass(kOruObjImage, image_);
    SetOruObjectClass(kOruObjText, text_);
  }

  // A show of one 320 x 240 slide holding Count objects, each Object(i).
  std::string Show(int count, const std::function<void(zmtest::TIniText&, int)>& object) {
    zmtest::TIniText t;
    t.Section("main").Key("opt_repeat", "stop").Key("opt_scr_width", 320).Key("opt_scr_height", 240);
    t.Section("Times").Key("opt_slidescount", 1).Key("opt_synchpos1", 60000);
    t.Section("Slide1");
    t.Object("TheEffect", "AnEffect").Key("GUID", "{E}").Key("ref", "quick").End();
    for (int i = 0; i < count; ++i) object(t, i);
    return t.Bytes(false);
  }

  // The work of building the slide as the loader does: made, readied for
  // a drawer, started at its local time 0, then drawn once.
  std::uint64_t BuildWork(const std::string& show) {
    TRef<zm::TIniFile> doc = zm::MakeRef<zm::TIniFile>();
    doc->LoadFromText(zm::TByteString(show));
    TRef<TFileAccessor> accessor = zm::MakeRef<TFileAccessor>(zm::MakeRef<TRealFileSource>().get());
    TRef<TOruSource> source = zm::MakeRef<TOruSource>(accessor.get(), false, doc.get(), false);
    TRef<TSlideProducer> producer = zm::MakeRef<TSlideProducer>(source.get(), nullptr, 320, 240, false);
    TRef<TBuildTiming> timing = zm::MakeRef<TBuildTiming>();
    producer->SetTiming(timing.get());
    oru_image_test::TLogDrawer drawer;
    zm::TLoadStop steps;
    gObjectCalls = 0;
    {
      const zm::TLoadStopScope scope(&steps);
      TRef<TDrawContainer> c = producer->CreateContainer(0);
      EXPECT_TRUE(c && c->Slide);
      if (!c || !c->Slide) return 0;
      c->Slide->PrepareResources(drawer);
      c->SetTime(c->Times.Start);
      drawer.Draw(c->Slide.get());
    }
    return gObjectCalls.load() + steps.Polls();
  }

  void ExpectLinear(const std::function<void(zmtest::TIniText&, int)>& object) {
    const std::uint64_t small = BuildWork(Show(1000, object));
    const std::uint64_t large = BuildWork(Show(10000, object));
    EXPECT_GE(small, 1000u);
    // Ten times the objects: ten times the work, give or take what a slide
    // costs whatever it holds.
    EXPECT_LE(large, 11 * small) << "1,000 objects: " << small << ", 10,000 objects: " << large;
  }

  zmtest::TTempDir dir_;
  oru_test::TGlyphTestScope glyphs_;

private:
  TOruObjectClassProc box_ = nullptr, image_ = nullptr, text_ = nullptr;
};

TEST_F(SlideBuildWork, DrawingStopsBetweenObjects) {
  TRef<zm::TIniFile> doc = zm::MakeRef<zm::TIniFile>();
  doc->LoadFromText(zm::TByteString(Show(100, [](zmtest::TIniText& t, int i) {
    t.Object("B" + std::to_string(i), "Box").Key("GUID", "{B" + std::to_string(i) + "}").Key("Size", "10,10").End();
  })));
  TRef<TFileAccessor> accessor = zm::MakeRef<TFileAccessor>(zm::MakeRef<TRealFileSource>().get());
  TRef<TOruSource> source = zm::MakeRef<TOruSource>(accessor.get(), false, doc.get(), false);
  TRef<TSlideProducer> producer = zm::MakeRef<TSlideProducer>(source.get(), nullptr, 320, 240, false);
  TRef<TBuildTiming> timing = zm::MakeRef<TBuildTiming>();
  producer->SetTiming(timing.get());
  TRef<TDrawContainer> c = producer->CreateContainer(0);
  ASSERT_TRUE(c && c->Slide);
  c->SetTime(c->Times.Start);
  const auto fills = [&](std::uint64_t stopAt) {
    oru_image_test::TLogDrawer drawer;
    zm::TLoadStop stop;
    stop.RequestAtPoll(stopAt);
    const zm::TDrawStopScope scope(&stop);
    drawer.Draw(c->Slide.get());
    return drawer.fills.size();
  };
  const std::size_t whole = fills(0);
  ASSERT_GE(whole, 100u);
  // Asked to stop at its 31st look (before the 31st box), 30 boxes are drawn.
  EXPECT_EQ(fills(31), whole - 70);
  EXPECT_EQ(fills(1), whole - 100);
}

TEST_F(SlideBuildWork, BoxesAndImagesOfOnePicture) {
  ExpectLinear([](zmtest::TIniText& t, int i) {
    t.Object("B" + std::to_string(i), "Box").Key("GUID", "{B" + std::to_string(i) + "}").End();
  });
  const std::string picture = zm::UTF8Encode(dir_.Wide("p.jpg")).Str();
  ExpectLinear([&](zmtest::TIniText& t, int i) {
    t.Object("I" + std::to_string(i), "Image").Key("GUID", "{I" + std::to_string(i) + "}").Key("ImageName", picture);
    t.Object("KeyPoint", "KeyPoint").Key("GUID", "{K" + std::to_string(i) + "}").Key("Position", "10,10")
        .Key("ScaleX", 2).Key("ScaleY", 2).End();
    t.End();
  });
}

TEST_F(SlideBuildWork, EmptyTextsAndShortCaptions) {
  ExpectLinear([](zmtest::TIniText& t, int i) {
    t.Object("T" + std::to_string(i), "Text").Key("GUID", "{T" + std::to_string(i) + "}").End();
  });
  ExpectLinear([](zmtest::TIniText& t, int i) {
    t.Object("C" + std::to_string(i), "Text").Key("GUID", "{C" + std::to_string(i) + "}")
        .Key("Text", "Caption " + std::to_string(i % 10)).Key("ShadowEnable", 0);
    t.Object("KeyPoint", "KeyPoint").Key("GUID", "{K" + std::to_string(i) + "}")
        .Key("Position", std::to_string(i % 180 - 90) + ",0").Key("ScaleX", 10).Key("ScaleY", 10).End();
    t.End();
  });
}

}  // namespace
