// The seams between the slide objects and the 3D drawer, filled by
// InstallDrawerHooks: slides and images drawn by the real drawer on the
// software device.
#include "OruLib2/OruViewer/OruDrawerHooks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "OruLib2/3DEngine/FilterFactory.h"
#include "OruLib2/3DEngine/OruFilter.h"
#include "OruLib2/OruClasses/OruFileAccess.h"
#include "OruLib2/OruClasses/OruImage.h"
#include "OruLib2/OruClasses/OruRootItem.h"
#include "OruLib2/OruClasses/OruSlide.h"
#include "OruLib2/OruClasses/OruSlideHost.h"
#include "OruLib2/OruClasses/OruSlideProducer.h"
#include "ZmLib/3DBasics/CustomColorGradeTexture.h"
#include "ZmLib/zmHookScope.h"
#include "tests/OruLib2/OruClasses/OruImageTestKit.h"
#include "tests/support/DrawerOnDevice.h"

using namespace oru;
using drawertest::Near;
using zm::TRef;

namespace {

constexpr int kTol = 10;

zm::TCustomColorGradeTexture* SentinelTable(zm::TDeviceDrawer&, TSlideBgPicture*) { return nullptr; }

TEST(DrawerHooks, InstallIsCountedAndRemovalRestores) {
  zm::THookScope table(SlideColourTableHook, &SentinelTable);
  zm::THookScope read(ReadTransitionDefHook, nullptr);
  InstallDrawerHooks();
  InstallDrawerHooks();
  EXPECT_NE(SlideColourTableHook, &SentinelTable);
  EXPECT_NE(ReadTransitionDefHook.load(), nullptr);
  EXPECT_NE(SlideFilterHooks.Create, nullptr);
  RemoveDrawerHooks();
  EXPECT_NE(SlideColourTableHook, &SentinelTable);  // one install still stands
  RemoveDrawerHooks();
  EXPECT_EQ(SlideColourTableHook, &SentinelTable);
  EXPECT_EQ(ReadTransitionDefHook.load(), nullptr);
  EXPECT_EQ(SlideFilterHooks.Create, nullptr);
  EXPECT_EQ(SlideLayerHooks.Begin, nullptr);
  EXPECT_EQ(ResetTransitionFilterHook, nullptr);
  RemoveDrawerHooks();  // one too many changes nothing
  EXPECT_EQ(SlideColourTableHook, &SentinelTable);
}

TEST(DrawerHooks, TransitionParametersAndProgress) {
  InstallDrawerHooks();
  EXPECT_FALSE(SlideFilterHooks.Create(nullptr, 0));  // no transition at all
  TRef<zm::TFilterParams> none = SlideFilterHooks.Create(nullptr, 500);
  auto* f = dynamic_cast<TOruFilter*>(none.get());
  ASSERT_NE(f, nullptr);  // a transition time without an effect
  EXPECT_FALSE(f->Effect);

  // The show's effect objects reach the factory as definitions.
  TRef<TOruEffect> e = zm::MakeRef<TOruEffect>();
  e->Kind = 2;  // a family whose flags select nothing
  TTransitionDef def;
  ASSERT_TRUE(ReadTransitionDefHook.load()(e.get(), def));
  EXPECT_EQ(def.Kind, 2);
  EXPECT_FALSE(CreateTransitionFilter({64, 48}, e.get(), nullptr, false));
  e->Kind = 1;
  EXPECT_TRUE(CreateTransitionFilter({64, 48}, e.get(), nullptr, false));

  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  struct {
    double Elapsed, Duration;
    float Want;
  } cases[] = {{100, 400, 0.25f}, {-5, 400, 0}, {500, 400, 1}, {nan, 400, 0}, {inf, 400, 1}, {-inf, 400, 0},
               {10, 0, 1},       {-1, 0, 0},    {0, -3, 1},    {10, nan, 1}, {10, inf, 1}};
  for (const auto& c : cases) {
    f->Progress = 0.5f;
    SlideFilterHooks.SetProgress(f, c.Elapsed, c.Duration);
    EXPECT_EQ(f->Progress, c.Want) << c.Elapsed << " of " << c.Duration;
  }
  SlideFilterHooks.SetProgress(nullptr, 1, 1);  // nothing to set: no fault
  RemoveDrawerHooks();
}

// ---- On the software device ----------------------------------------------------------------

class TFill : public TOruObject {
public:
  zm::TFloatPoint From, To;
  std::uint32_t Colour = 0xFFFFFFFFu;
  void Draw(zm::TDeviceDrawer& d) override { d.FillRectF(From, To, zm::TColor32::FromValue(Colour)); }
};

class TNoFiles : public TFileSource {
public:
  zm::TStream* OpenFile(const WideString&) override { return nullptr; }
};

class DrawerHooksOnDevice : public drawertest::TDrawerOnDevice {
protected:
  void SetUp() override {
    drawertest::TDrawerOnDevice::SetUp();
    InstallDrawerHooks();
    files = zm::MakeRef<TNoFiles>();
    accessor = zm::MakeRef<TFileAccessor>(files.get());
    TOruHostCallbacks cb;
    cb.Camera.Code = [](void*, TOruSlideHost*) { return CameraForOutput(64, 48); };
    cb.EffectBufferSize.Code = [](void*, TOruSlideHost*) { return zm::TSize{64, 48}; };
    cb.ShowSource.Code = [](void*, TOruSlideHost*) -> TOruSource* { return nullptr; };
    host = zm::MakeRef<TOruSlideHost>(accessor.get(), cb, WideString(), false);
  }
  void TearDown() override {
    host.reset();
    accessor.reset();
    RemoveDrawerHooks();
    drawertest::TDrawerOnDevice::TearDown();
  }
  // A slide filling the frame with a solid background.
  TRef<TOruSlide> Solid(std::uint32_t rgb) {
    TRef<TOruSlide> s = TOruSlide::Create(host.get(), nullptr, false);
    s->SetSize(64, 48);
    s->SetViewCentre(32, 24);
    s->Background.Kind = kSlideBgSolid;
    s->Background.DisplayColour1 = rgb;
    return s;
  }
  void DrawSlide(TOruSlide* s) {
    s->SetTimeAndLayout(true, 0);
    ASSERT_TRUE(Frame(0xFF000000u, [&](T3DDrawer& d) { d.Draw(s); }));
    Capture();
  }

  TRef<TNoFiles> files;
  TRef<TFileAccessor> accessor;
  TRef<TOruSlideHost> host;
};

int gLayerBegins = 0;
bool (*gRealBegin)(zm::TDeviceDrawer&) = nullptr;
bool CountingBegin(zm::TDeviceDrawer& d) {
  ++gLayerBegins;
  return gRealBegin(d);
}

// The second background fades in over the first through an off-screen
// layer that carries its objects too: a white left half, a quarter in.
TEST_F(DrawerHooksOnDevice, BackgroundCrossFadeGoesThroughTheLayer) {
  TRef<TOruSlide> s = Solid(0xFF0000);
  s->Background2.Kind = kSlideBgSolid;
  s->Background2.DisplayColour1 = 0x00FF00;
  s->Background2.Blend = 0.25f;
  TRef<TFill> half = TOruObject::Create<TFill>(nullptr, nullptr);
  half->From = {0, 0};
  half->To = {32, 48};
  s->BgObjects2 = {half};
  zm::THookScope begin(SlideLayerHooks.Begin, &CountingBegin);
  gRealBegin = begin.Saved();
  gLayerBegins = 0;
  for (int frame = 0; frame < 3; ++frame) {  // the layer goes back to the pool
    if (frame == 2) {
      // A draw that failed before its Blend leaves a layer behind: the next
      // slide's layer is still the one blended.
      TRef<drawertest::TFnItem> broken = zm::MakeRef<drawertest::TFnItem>([](T3DDrawer& d) {
        EXPECT_TRUE(SlideLayerHooks.Begin(d));
        SlideLayerHooks.End(d);
      });
      ASSERT_TRUE(Frame(0xFF000000u, [&](T3DDrawer& d) { d.Draw(broken.get()); }));
      gLayerBegins = 2;
    }
    DrawSlide(s.get());
    EXPECT_EQ(gLayerBegins, frame + 1);
    EXPECT_TRUE(Near(At(48, 24), 0xBF4000, kTol)) << std::hex << At(48, 24);  // red and green
    EXPECT_TRUE(Near(At(16, 24), 0xFF4040, kTol)) << std::hex << At(16, 24);  // red and white
  }
  begin.Restore();

  // A Blend without its Begin, and an End without either, change nothing.
  ASSERT_TRUE(Frame(0xFF102030u, [&](T3DDrawer& d) {
    SlideLayerHooks.End(d);
    SlideLayerHooks.Blend(d, 200);
  }));
  Capture();
  EXPECT_TRUE(Near(At(10, 10), 0x102030, 2));
  // A drawer that is not the 3D drawer gets no layer: the slide draws the
  // second background straight.
  TRef<oru_image_test::TLogDrawer> other = zm::MakeRef<oru_image_test::TLogDrawer>();
  EXPECT_FALSE(SlideLayerHooks.Begin(*other));
  EXPECT_EQ(SlideColourTableHook(*other, nullptr), nullptr);
  EXPECT_FALSE(MakeGradeTextureHook(*other, zm::gkVolume));
}

// A background picture whose profile differs from the display's is drawn
// through its colour table: here a table that inverts.
TEST_F(DrawerHooksOnDevice, BackgroundPictureIsGradedByItsTable) {
  TRef<TOruSlide> s = Solid(0);
  s->Background.Kind = kSlideBgPicture;
  s->Background.PictureName = u"p.jpg";
  s->Background.PictureSize = 100;
  TRef<TSlideBgPicture> pic = zm::MakeRef<TSlideBgPicture>();
  pic->Key = BackgroundPictureKey(100, u"p.jpg");
  pic->Image = drawertest::MakeImage(8, 8, [](int, int) { return 0xFF804020u; });
  pic->Size = {64, 48};
  TRef<zm::TSysBitmap> table = zm::CreateSysBitmap(zm::kGradeCubeSize, zm::kGradeCubeRows, zm::pfA8R8G8B8);
  zm::FillIdentityCube32(table.get());
  for (int y = 0; y < zm::kGradeCubeRows; ++y)
    for (int x = 0; x < zm::kGradeCubeSize; ++x) {
      std::uint32_t p;
      std::memcpy(&p, table->ScanLine(y) + 4 * x, 4);
      p ^= 0x00FFFFFFu;
      std::memcpy(table->ScanLine(y) + 4 * x, &p, 4);
    }
  pic->ColourTable = table;
  s->BgPictures.push_back(pic);
  DrawSlide(s.get());
  EXPECT_TRUE(Near(At(32, 24), 0x7FBFDF, kTol)) << std::hex << At(32, 24);
  ASSERT_TRUE(pic->GradeTexture);
  zm::TCustomColorGradeTexture* kept = pic->GradeTexture.get();
  DrawSlide(s.get());
  EXPECT_EQ(pic->GradeTexture.get(), kept);  // made once per picture
  // A table of the wrong shape is refused: drawn as it is.
  pic->ColourTable = zm::CreateSysBitmap(4, 4, zm::pfA8R8G8B8);
  DrawSlide(s.get());
  EXPECT_TRUE(Near(At(32, 24), 0x804020, kTol)) << std::hex << At(32, 24);
}

// A slide that carries its own slide-based effect gets its filter when it
// is prepared; a slide of absurd size still gets one without fault.
TEST_F(DrawerHooksOnDevice, OwnSlideEffectGetsAFilter) {
  for (float side : {64.0f, std::numeric_limits<float>::infinity(), -5.0f}) {
    TRef<TOruSlide> s = Solid(0);
    s->Width = side;
    s->Effect = zm::MakeRef<TOruEffect>();
    s->Effect->Kind = kEffectCustom;
    s->PrepareResources(*drawer);
    EXPECT_TRUE(dynamic_cast<TDrawFilter*>(s->EffectFilter.get())) << side;
  }
}

// An image object's key-frame filter gets its grading texture on the
// drawer's screen.
class ImageOnDevice : public DrawerHooksOnDevice {};
TEST_F(ImageOnDevice, KeyFrameFilterGradesTheImage) {
  using namespace oru_image_test;
  zm::TRef<TImage> pic = MakePicture(8, 8, [](int, int) { return 0xFF804020u; });
  TTestTree t = BuildTree(Obj("I", "Image",
                              "Filtering=Nearest\r\nAntialiased=0\r\n" +
                                  KeyAt(0, "object Filter:Filter\r\nobject Invert:Invert\r\nend\r\nend\r\n")),
                          8, 8);
  auto* img = dynamic_cast<objects::TOruImage*>(t.Find("I"));
  ASSERT_NE(img, nullptr);
  img->AssignPicture(pic.get(), false);
  t.Layout(100);
  t.Slide->PrepareResources(*drawer);
  ASSERT_TRUE(Frame(0xFF000000u, [&](T3DDrawer& d) { d.Draw(t.Slide.get()); }));
  Capture();
  EXPECT_TRUE(Near(At(4, 4), 0x7FBFDF, kTol)) << std::hex << At(4, 4);
}

// The root item draws a cross-fade between two slides through the drawer's
// filter, the progress coming from the container's time.
TEST_F(DrawerHooksOnDevice, RootItemCrossFadesTwoSlides) {
  class TClock : public ITiming {
  public:
    double Now = 0;
    double GetTime() override { return Now; }
  };
  TRef<TClock> clock = zm::MakeRef<TClock>();
  const auto entry = [&](std::uint32_t rgb, double start, double in, bool effect) {
    TRef<TDrawContainer> c = zm::MakeRef<TDrawContainer>();
    c->Timing = clock;
    c->Slide = Solid(rgb);
    c->Times = {start, start + 1000, in, 0, start + 1000};
    TRef<TOruEffect> e;
    if (effect) {
      e = zm::MakeRef<TOruEffect>();
      e->Kind = 1;
    }
    c->Filter = SlideFilterHooks.Create(e.get(), in);
    return c;
  };
  TRef<TDrawContainer> a = entry(0xFF0000, 0, 0, false), b = entry(0x0000FF, 1000, 400, true);
  a->Times.NextLength = 400;
  a->Times.VisibleUntil = 1400;
  TRef<TRootItem> root = TRootItem::Create(true);
  TDrawContainer* list[] = {a.get(), b.get()};
  const auto frame = [&](double t) {
    clock->Now = t;
    EXPECT_TRUE(root->Update(list, 2, nullptr));
    ASSERT_TRUE(drawer->Draw(root.get()));
    Capture();
  };
  frame(500);
  EXPECT_TRUE(Near(At(32, 24), 0xFF0000, kTol)) << std::hex << At(32, 24);
  frame(1200);
  EXPECT_TRUE(Near(At(32, 24), 0x800080, 16)) << std::hex << At(32, 24);
  frame(1500);
  EXPECT_TRUE(Near(At(32, 24), 0x0000FF, kTol)) << std::hex << At(32, 24);
}

}  // namespace
