// The slide-based transition: when the factory falls back to the
// cross-fade, the effect slide built from the definition (never carrying a
// transition of its own), the backgrounds taken from the two slides and
// their cross-fade, and a transition frame on the software device whose
// effect-buffer images show the two slides as the drawer rendered them.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <typeinfo>

#include "OruLib2/3DEngine/FilterFactory.h"
#include "OruLib2/3DEngine/OruFilter.h"
#include "OruLib2/OruClasses/OruFileAccess.h"
#include "OruLib2/OruClasses/OruImage.h"
#include "OruLib2/OruClasses/OruSlideHost.h"
#include "OruLib2/OruClasses/OruSlideProducer.h"
#include "OruLib2/RealSlide/OruRealSlideFilter.h"
#include "ZmLib/zmHookScope.h"
#include "tests/support/DrawerOnDevice.h"
#include "tests/support/kit/IniText.h"
#include "tests/support/kit/ShowBuilder.h"

namespace realslidefiltertest {

using namespace oru;
using zm::MakeRef;
using zm::TRef;
using zmtest::TIniText;

class TManualTiming : public ITiming {
public:
  double GetTime() override { return 0; }
};

constexpr std::uint32_t kColourA = 0x2040C0, kColourB = 0xC08020, kOwnColour = 0x30A030;

// Two slides of plain colours and effect definitions: "effect_full" with
// images asking for both buffers (and values and kinds that ask for none),
// "effect_bare" with keys only.
TIniText ShowText(const std::string& effectKeys) {
  TIniText t;
  t.Section("main").Key("opt_scr_width", 64).Key("opt_scr_height", 48);
  t.Section("Times").Key("opt_slidescount", 2).Key("opt_synchpos1", 4000).Key("opt_synchpos2", 8000);
  for (const std::uint32_t colour : {kColourA, kColourB}) {
    t.Section(colour == kColourA ? "Slide1" : "Slide2").Key("bstyle", 1).Key("bcolor", static_cast<long long>(colour));
    t.Object("TheEffect", "AnEffect").Key("GUID", zmtest::NewShowGuid()).Key("time", 0).End();
  }
  t.Section("effect_full").Key("bstyle", 1).Key("bcolor", static_cast<long long>(kOwnColour));
  if (!effectKeys.empty()) t.Line(effectKeys);
  // Drawn in this order: the incoming slide's buffer last, over the rest.
  t.Object("C", "Image").Key("GUID", zmtest::NewShowGuid()).Key("ReplaceWithEffectBuffer", 3).End();
  t.Object("T", "Text").Key("GUID", zmtest::NewShowGuid()).Key("Text", "x").Key("ReplaceWithEffectBuffer", 1).End();
  t.Object("A", "Image").Key("GUID", zmtest::NewShowGuid()).Key("ReplaceWithEffectBuffer", 1).End();
  t.Object("B", "Image").Key("GUID", zmtest::NewShowGuid()).Key("ReplaceWithEffectBuffer", 2).End();
  t.Section("effect_bare").Key("TransparentBg", 1);
  return t;
}

struct TShow {
  explicit TShow(const std::string& effectKeys = {}) {
    doc = MakeRef<zm::TIniFile>();
    doc->LoadFromText(zm::TByteString(ShowText(effectKeys).Bytes(false)));
    accessor = MakeRef<TFileAccessor>(MakeRef<TRealFileSource>().get());
    source = MakeRef<TOruSource>(accessor.get(), false, doc.get(), false);
    producer = MakeRef<TSlideProducer>(source.get(), nullptr, 64, 48, false);
    producer->SetTiming(MakeRef<TManualTiming>().get());
    producer->SetOutputSize({64, 48}, false, 100, 100);
    slides[0] = producer->CreateSlide(0, 0);
    slides[1] = producer->CreateSlide(1, 0);
    for (int i = 0; i < 2; ++i)
      if (slides[i]) slides[i]->SetTimeAndLayout(true, 4000.0 * i + 100);
  }
  ~TShow() { ReleaseEffectProducer(); }
  zm::TIniSection* Section(const char16_t* name) const { return doc->FindSection(name); }
  TRef<TRealSlideFilter> Filter(const char16_t* name) {
    TRef<TDrawFilter> f = MakeRealSlideFilter(slides[0].get(), Section(name), false);
    return TRef<TRealSlideFilter>(dynamic_cast<TRealSlideFilter*>(f.get()));
  }
  TRef<zm::TIniFile> doc;
  TRef<TFileAccessor> accessor;
  TRef<TOruSource> source;
  TRef<TSlideProducer> producer;
  TRef<TOruSlide> slides[2];
};

TRef<TTransitionDef> Custom(zm::TRefObject* definition) {
  TRef<TTransitionDef> d = MakeRef<TTransitionDef>();
  d->Kind = 12;
  d->Flags = {1};
  d->CustomObject = TRef<zm::TRefObject>(definition);
  return d;
}

TEST(RealSlideFilter, MissingOrEmptyDefinitionsAndStrangeOwnersCrossFade) {
  TShow show;
  ASSERT_TRUE(show.slides[0] && show.slides[1]);
  InitRealSlideFilter();
  const auto make = [&](zm::TDrawItem* owner, zm::TRefObject* definition) {
    return CreateTransitionFilter({64, 48}, Custom(definition).get(), owner, false);
  };
  EXPECT_TRUE(make(show.slides[0].get(), nullptr)->IsAlpha);
  TRef<zm::TIniSection> empty = MakeRef<zm::TIniSection>(zm::TByteString("effect_empty"));
  EXPECT_TRUE(make(show.slides[0].get(), empty.get())->IsAlpha);
  // Not a definition, not a slide, a slide of no producer.
  EXPECT_TRUE(make(show.slides[0].get(), show.slides[1].get())->IsAlpha);
  EXPECT_TRUE(make(nullptr, show.Section(u"effect_full"))->IsAlpha);
  TRef<TOruSlide> stray = TOruSlide::Create(show.producer->Host(), nullptr, false);
  EXPECT_TRUE(make(stray.get(), show.Section(u"effect_full"))->IsAlpha);

  TRef<TDrawFilter> f = make(show.slides[0].get(), show.Section(u"effect_bare"));
  auto* real = dynamic_cast<TRealSlideFilter*>(f.get());
  ASSERT_NE(real, nullptr);
  EXPECT_EQ(real->PassMode(), TFilterPassMode::SlideEffect);
  EXPECT_TRUE(real->SlideFlag());
  EXPECT_EQ(real->CustomEffBg, kEffBgOwn);
  ASSERT_NE(real->EffectSlide(), nullptr);
  EXPECT_EQ(real->EffectSlide()->EffectSlide, 1);
  // The effect slide has no transition of its own: preparing it can never
  // build this filter again.
  EXPECT_EQ(real->EffectSlide()->Effect, nullptr);
  // Without a screen size of its own the definition is laid out for 1920 x 1080.
  TRef<TSlideProducer> ep = EffectProducerFor(show.source.get());
  EXPECT_EQ(ep->DesignWidth, 1920);
  EXPECT_EQ(ep->DesignHeight, 1080);
  EXPECT_EQ(EffectProducerFor(show.source.get()), ep);  // reused for the same show
  TShow other;
  EXPECT_NE(EffectProducerFor(other.source.get()), ep);

  FiniRealSlideFilter();
  EXPECT_TRUE(make(show.slides[0].get(), show.Section(u"effect_bare"))->IsAlpha);
}

TEST(RealSlideFilter, ScreenSizeAndBadKeysOfTheDefinition) {
  TShow show("opt_scr_width=800\r\nopt_scr_height=-5\r\nCustomEffBg=99\r\nTransparentBg=0\r\n");
  TRef<TRealSlideFilter> f = show.Filter(u"effect_full");
  ASSERT_NE(f, nullptr);
  TRef<TSlideProducer> ep = EffectProducerFor(show.source.get());
  EXPECT_EQ(ep->DesignWidth, 800);
  EXPECT_EQ(ep->DesignHeight, 1080);  // a side below 1 takes the default
  EXPECT_FALSE(f->SlideFlag());
  // An unknown background source keeps the effect's own background.
  f->SetSlides(show.slides[0].get(), show.slides[1].get());
  EXPECT_EQ(f->EffectSlide()->Background.Colour1, kOwnColour);
  // Progress out of range, and a time line, whatever it is, stays finite.
  for (float p : {-1.0f, 2.0f, std::numeric_limits<float>::quiet_NaN()}) {
    f->SetEffectTime(p);
    EXPECT_TRUE(f->LastProgress() >= 0 && f->LastProgress() <= 1);
  }
  EXPECT_GT(f->EffectSlide()->GetTimePoint(2), f->EffectSlide()->GetTimePoint(0));
}

TEST(RealSlideFilter, BackgroundsFromEitherSlideOrCrossFadedByTheProgress) {
  struct TCase {
    int Bg;
    float Progress;
    std::uint32_t First, Second;
    float Blend;
  };
  for (const TCase& c : {TCase{0, 0.5f, kOwnColour, kOwnColour, 0}, TCase{1, 0.5f, kColourA, kColourA, 0},
                         TCase{2, 0.5f, kColourB, kColourB, 0}, TCase{3, 0, kColourA, kColourB, 0},
                         TCase{3, 0.4f, kColourA, kColourB, 0.4f}, TCase{3, 1, kColourA, kColourB, 1}}) {
    SCOPED_TRACE(testing::Message() << "CustomEffBg " << c.Bg << " at " << c.Progress);
    TShow show("CustomEffBg=" + std::to_string(c.Bg) + "\r\n");
    TRef<TRealSlideFilter> f = show.Filter(u"effect_full");
    ASSERT_NE(f, nullptr);
    f->SetEffectTime(c.Progress);
    f->SetSlides(show.slides[0].get(), show.slides[1].get());
    const TOruSlide& e = *f->EffectSlide();
    EXPECT_EQ(e.Background.Colour1, c.First);
    if (c.Bg == 3) {
      EXPECT_EQ(e.Background2.Colour1, c.Second);
      EXPECT_FLOAT_EQ(e.Background2.Blend, c.Blend);
    } else {
      EXPECT_TRUE(e.BgObjects2.empty());
      EXPECT_EQ(e.Background2.Blend, 0.0f);
    }
    // A side that is not a slide leaves the background as it was.
    TShow fresh("CustomEffBg=" + std::to_string(c.Bg) + "\r\n");
    TRef<TRealSlideFilter> g = fresh.Filter(u"effect_full");
    g->SetSlides(nullptr, nullptr);
    EXPECT_EQ(g->EffectSlide()->Background.Colour1, kOwnColour);
  }
}

// ---- A frame on the software device ------------------------------------------------------------------

class RealSlideOnDevice : public drawertest::TDrawerOnDevice {};

TEST_F(RealSlideOnDevice, BuffersAttachOnlyToImagesAskingForThemAndComeOffAfterTheFrame) {
  TShow show("CustomEffBg=0\r\n");
  TRef<TRealSlideFilter> f = show.Filter(u"effect_full");
  ASSERT_NE(f, nullptr);
  // Pictures for the objects, as the drawer's preparing pass gives them.
  f->PrepareResources(*drawer);
  TOruSlide* e = f->EffectSlide();
  objects::TOruImage *a = nullptr, *b = nullptr, *c = nullptr, *t = nullptr;
  for (const TRef<TOruObject>& o : e->Children()) {
    auto* i = dynamic_cast<objects::TOruImage*>(o.get());
    if (!i) continue;
    if (typeid(*i) != typeid(objects::TOruImage))
      t = i;
    else
      (i->ReplaceWithEffectBuffer == 1 ? a : i->ReplaceWithEffectBuffer == 2 ? b : c) = i;
  }
  ASSERT_TRUE(a && b && c && t);
  ASSERT_TRUE(a->Picture && b->Picture);
  const auto customTextures = [](objects::TOruImage* o) {
    int n = 0;
    if (!o->Picture) return 0;
    for (std::int32_t i = 0; i < o->Picture->GetCacheList()->Count(); ++i)
      n += dynamic_cast<zm::TCustomTexture*>(o->Picture->GetCacheList()->Get(i)) != nullptr;
    return n;
  };
  // The drawer renders both slides, then hands its effecter over.
  bool drawn = false;
  ASSERT_TRUE(Frame(0xFF000000u, [&](T3DDrawer& d) {
    for (int i = 0; i < 2; ++i) {
      ASSERT_TRUE(d.Effecter->RenderPicture([&](void*, TCustomD3DEffecter*, const zm::TRect&) { d.Draw(show.slides[i].get()); },
                                            nullptr));
      d.Effecter->TogglePicture();
    }
    f->SetEffecter(d.Effecter.get());
    EXPECT_EQ(f->AttachedCount(), 2u);
    EXPECT_EQ(customTextures(a), 1);
    EXPECT_EQ(customTextures(b), 1);
    EXPECT_EQ(customTextures(c), 0);
    EXPECT_EQ(customTextures(t), 0);
    EXPECT_EQ(a->Picture->GetCacheList()->Get(a->Picture->GetCacheList()->Count() - 1), d.Effecter->GetPicture(0));
    // Twice in a frame: still one each.
    f->SetEffecter(d.Effecter.get());
    EXPECT_EQ(customTextures(a), 1);
    f->FinishSlideEffect();
    d.Effecter->ReleasePictures();
    drawn = true;
  }));
  EXPECT_TRUE(drawn);
  EXPECT_EQ(f->AttachedCount(), 0u);
  EXPECT_EQ(customTextures(a), 0);
  EXPECT_EQ(customTextures(b), 0);
}

TEST_F(RealSlideOnDevice, ASlidesOwnFilterIsPreparedAtItsFractionForTheDrawersClip) {
  TShow show;
  TRef<TRealSlideFilter> f = show.Filter(u"effect_full");
  ASSERT_NE(f, nullptr);
  f->Init({0, 0, 64, 48}, 0, 2.0f);
  f->SetProgress(0.5f);  // a quarter of the way
  drawer->SetClipRect({4, 6, 40, 30});
  InitRealSlideFilter();
  ASSERT_EQ(SlideEffectPrepareHook, &PrepareSlideEffectFilter);
  SlideEffectPrepareHook(f.get(), *drawer);
  EXPECT_EQ(f->Rect, (zm::TRect{4, 6, 40, 30}));
  EXPECT_FLOAT_EQ(f->LastProgress(), 0.25f);
  EXPECT_DOUBLE_EQ(f->EffectSlide()->LocalTime, 250.0);  // a quarter of the definition's own second
  // Other filters, and none, are left alone.
  SlideEffectPrepareHook(show.slides[0].get(), *drawer);
  SlideEffectPrepareHook(nullptr, *drawer);
  FiniRealSlideFilter();
  EXPECT_EQ(SlideEffectPrepareHook, nullptr);
}

TEST_F(RealSlideOnDevice, TransitionFrameShowsTheIncomingSlideThroughItsEffectBuffer) {
  TShow show("CustomEffBg=0\r\n");
  InitRealSlideFilter();
  zm::THookScope effectFilter(CreateEffectFilterHook, &CreateDrawerEffectFilter);
  for (float t : {0.0f, 0.5f}) {
    TRef<TOruFilter> p = MakeRef<TOruFilter>();
    p->Effect = Custom(show.Section(u"effect_full"));
    p->Progress = t;
    ASSERT_TRUE(Frame(0xFF808080u, [&](T3DDrawer& d) {
      d.DrawTransition(show.slides[0].get(), show.slides[1].get(), p.get());
    }));
    Capture();
    ASSERT_NE(dynamic_cast<TRealSlideFilter*>(p->Filter.get()), nullptr);
    EXPECT_EQ(static_cast<TRealSlideFilter*>(p->Filter.get())->AttachedCount(), 0u);
    // The image over the others shows the incoming slide (a plain colour)
    // as the drawer rendered it.
    int incoming = 0;
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 64; ++x) incoming += drawertest::Near(At(x, y), kColourB, 8);
    EXPECT_GT(incoming, 64 * 48 / 2) << t;
  }
  // With TransparentBg the slides are rendered without their backgrounds:
  // the buffers are empty and the effect slide's own background shows.
  TShow bare("CustomEffBg=0\r\nTransparentBg=1\r\n");
  TRef<TOruFilter> p = MakeRef<TOruFilter>();
  p->Effect = Custom(bare.Section(u"effect_full"));
  p->Progress = 0.5f;
  ASSERT_TRUE(Frame(0xFF808080u, [&](T3DDrawer& d) {
    d.DrawTransition(bare.slides[0].get(), bare.slides[1].get(), p.get());
  }));
  Capture();
  int own = 0;
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) own += drawertest::Near(At(x, y), kOwnColour, 8);
  EXPECT_GT(own, 64 * 48 / 2);
  EXPECT_FALSE(bare.slides[0]->TransitionFlag);
  effectFilter.Restore();
  FiniRealSlideFilter();
}

}  // namespace realslidefiltertest
