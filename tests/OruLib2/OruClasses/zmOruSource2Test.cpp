#include "OruLib2/OruClasses/zmOruSource2.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "OruLib2/OruClasses/OruSlideRandomList.h"
#include "ZmLib/zmRandom.h"
#include "tests/support/kit/IniText.h"

namespace {

using namespace oru;
using zm::TIniFile;
using zm::TRef;
using zmtest::TIniText;

TRef<TIniFile> Doc(const std::string& text) {
  TRef<TIniFile> f = zm::MakeRef<TIniFile>();
  f->LoadFromText(zm::TByteString(text));
  return f;
}

// The source only keeps the accessor.
TRef<TFileAccessor> Accessor() { return zm::MakeRef<TFileAccessor>(zm::MakeRef<TRealFileSource>().get()); }

TRef<TOruSource> Source(const TRef<TIniFile>& f, bool screenSaver = false) {
  return zm::MakeRef<TOruSource>(Accessor().get(), false, f.get(), screenSaver);
}

// Slides ending at the given times, with optional own transition times.
TIniText Show(const std::vector<long long>& ends, const std::vector<long long>& effectTimes = {},
              const char* repeat = "repeat") {
  TIniText t;
  t.Section("main").Key("opt_repeat", repeat);
  t.Section("Times").Key("opt_slidescount", static_cast<long long>(ends.size()));
  for (std::size_t i = 0; i < ends.size(); ++i) t.Key("opt_synchpos" + std::to_string(i + 1), ends[i]);
  for (std::size_t i = 0; i < effectTimes.size(); ++i) {
    t.Section("Slide" + std::to_string(i + 1));
    t.Object("TheEffect", "AnEffect").Key("time", effectTimes[i]).End();
  }
  return t;
}

// The slide at a time by walking the spans from -1 on, as the definition says.
std::int32_t SlowSlideAtTime(const TOruSource& s, double time) {
  for (std::int32_t i = -1; i < 100000; ++i) {
    TSlideSpan span;
    s.GetSlideSpan(i, span);
    if (span.Start <= time && time <= span.End) return i;
  }
  return -1;
}

TEST(OruSource, TimeLineSpans) {
  TRef<TOruSource> s = Source(Doc(Show({757, 6471}).Bytes(false)));
  ASSERT_EQ(s->SlideCount(), 2);
  EXPECT_EQ(s->ShowLength(), 6471);
  TSlideSpan span;
  EXPECT_EQ(s->GetSlideSpan(0, span), 0);
  EXPECT_EQ(span.Start, 0);
  EXPECT_EQ(span.End, 757);
  s->GetSlideSpan(1, span);
  EXPECT_EQ(span.Start, 757);
  EXPECT_EQ(span.End, 6471);
  EXPECT_EQ(s->SlideAtTime(757), 0);
  EXPECT_EQ(s->SlideAtTime(757.001), 1);
  EXPECT_EQ(s->SlideAtTime(0.5), 0);
  EXPECT_EQ(s->SlideAtTime(-5), -1);
  EXPECT_EQ(s->SlideAtTime(0), -1);
  EXPECT_EQ(s->SlideAtTime(-5e9), -1);
  EXPECT_EQ(s->SlideAtTime(std::nan("")), -1);
  EXPECT_EQ(s->SlideAtTime(6472), 2);  // the second pass
  EXPECT_EQ(s->SlideAtTime(6471 * 3), 5);

  EXPECT_EQ(s->GetSlideSpan(-1, span), -1);
  EXPECT_EQ(span.Start, kBeforeShowStart);
  EXPECT_EQ(span.End, 0);
  EXPECT_EQ(s->GetSlideSpan(-7, span), -1);
  EXPECT_EQ(span.Start, kLongBeforeShowStart);
  EXPECT_EQ(span.End, kBeforeShowStart);
  EXPECT_EQ(span.VisibleUntil, kBeforeShowStart);
}

TEST(OruSource, LaterPassesMoveByTheShowLength) {
  TRef<TOruSource> s = Source(Doc(Show({1000, 2500, 4000}, {0, 400, 300}).Bytes(false)));
  TSlideSpan span;
  EXPECT_EQ(s->GetSlideSpan(3 + 2, span), 1);
  EXPECT_EQ(span.Start, 2500 + 4000);
  EXPECT_EQ(span.End, 4000 + 4000);
  EXPECT_EQ(span.OwnLength, 300);  // lengths are not moved
  EXPECT_EQ(span.NextLength, 0);   // slide 0's own transition, 0
  EXPECT_EQ(span.VisibleUntil, 8000);
  EXPECT_EQ(s->GetSlideSpan(7, span), 2);
  EXPECT_EQ(span.Start, 9000);
  EXPECT_EQ(span.NextLength, 300);

  // Times of many passes agree with the walk over the spans.
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> time(-10, 4000 * 20);
  for (int k = 0; k < 300; ++k) {
    double t = k < 40 ? 500.0 * k : time(rng);
    ASSERT_EQ(s->SlideAtTime(t), SlowSlideAtTime(*s, t)) << t;
  }
}

TEST(OruSource, TransitionLengthsAndRepeatModes) {
  // Own lengths are cut to the slide's span.
  TRef<TOruSource> s = Source(Doc(Show({1000, 1200, 5000}, {900, 800, 2000}).Bytes(false)));
  TSlideSpan span;
  s->GetSlideSpan(0, span);
  EXPECT_EQ(span.OwnLength, 900);
  EXPECT_EQ(span.NextLength, 200);
  EXPECT_EQ(span.VisibleUntil, 1200);
  s->GetSlideSpan(2, span);
  EXPECT_EQ(span.NextLength, 900);  // "repeat": slide 0 follows
  s->GetSlideSpan(-1, span);
  EXPECT_EQ(span.NextLength, 900);
  EXPECT_EQ(span.VisibleUntil, 900);

  for (const char* mode : {"close", "Stop"}) {
    TRef<TOruSource> c = Source(Doc(Show({1000, 1200, 5000}, {900, 800, 2000}, mode).Bytes(false)));
    c->GetSlideSpan(2, span);
    EXPECT_EQ(span.NextLength, 0) << mode;
    EXPECT_EQ(span.VisibleUntil, 5000) << mode;
  }
  EXPECT_EQ(Source(Doc(Show({1}, {}, "CLOSE").Bytes(false)))->RepeatMode(), kRepeatClose);
  EXPECT_EQ(Source(Doc(Show({1}, {}, "stop").Bytes(false)))->RepeatMode(), kRepeatStop);
  EXPECT_EQ(Source(Doc(Show({1}, {}, "forever").Bytes(false)))->RepeatMode(), kRepeatLoop);
}

TEST(OruSource, EndActions) {
  TIniText t = Show({1000, 3000, 6000, 7000, 8000}, {0, 500});
  t.Section("Slide2").Key("Pers_EndAction", "LOOP");
  t.Section("Slide3").Key("Pers_EndAction", "pause");
  t.Section("Slide4").Key("Pers_EndAction", "timer");
  t.Section("Slide5").Key("Pers_EndAction", "dance");
  TRef<TOruSource> s = Source(Doc(t.Bytes(false)));
  double d = -1;
  EXPECT_TRUE(s->GetSlideEndAction(1, d));
  EXPECT_EQ(d, 2000 - 500);
  EXPECT_TRUE(s->GetSlideEndAction(2, d));
  EXPECT_EQ(d, 0);
  EXPECT_FALSE(s->GetSlideEndAction(3, d));
  EXPECT_FALSE(s->GetSlideEndAction(4, d));
  EXPECT_FALSE(s->GetSlideEndAction(0, d));
  EXPECT_TRUE(s->GetSlideEndAction(5 + 1, d));  // a later pass of slide 1
  EXPECT_EQ(d, 1500);
  EXPECT_FALSE(s->GetSlideEndAction(-1, d));

  // A manual show pauses after slides without their own action.
  t.Section("main").Key("opt_manualshow", "1");
  TRef<TOruSource> manual = Source(Doc(t.Bytes(false)));
  EXPECT_TRUE(manual->GetSlideEndAction(0, d));
  EXPECT_TRUE(manual->GetSlideEndAction(4, d));   // unknown word
  EXPECT_FALSE(manual->GetSlideEndAction(3, d));  // "timer"
}

TEST(OruSource, RunAppAndIdentity) {
  TIniText t = Show({1000, 2000, 3000});
  t.Section("Slide1").Key("Pers_RunApp", "1").Key("RunAppFN", "C:\\tools\\go.exe").Key("slideid", "first");
  t.Section("Slide2").Key("Pers_RunApp", "1").Key("Picture", "C:\\pics\\Holiday.final.JPG");
  t.Section("Slide3").Key("Pers_RunApp", "0").Key("RunAppFN", "x.exe").Key("Picture", "bare");
  TRef<TOruSource> s = Source(Doc(t.Bytes(false)));
  zm::WideString fn;
  EXPECT_TRUE(s->GetSlideRunApp(0, fn));
  EXPECT_EQ(fn, u"C:\\tools\\go.exe");
  EXPECT_FALSE(s->GetSlideRunApp(1, fn));
  EXPECT_FALSE(s->GetSlideRunApp(2, fn));
  EXPECT_TRUE(s->GetSlideRunApp(3, fn));
  EXPECT_EQ(s->SlideId(0), u"first");
  EXPECT_EQ(s->SlideId(1), u"Holiday.final");
  EXPECT_EQ(s->SlideId(2), u"bare");
  EXPECT_EQ(s->SlideId(3), u"");
  EXPECT_EQ(s->SlideSection(1), s->Project()->FindSection(u"Slide2"));
}

TEST(OruSource, OptionsAndScreenSaver) {
  TIniText t = Show({1000}, {}, "stop");
  t.Section("main").Key("opt_scr_hidercolor", 0x00332211).Key("opt_scr_unsharpamount", "0.75")
      .Key("opt_pausewheninactive", "0").Key("opt_scr_width", "640");
  TRef<TIniFile> f = Doc(t.Bytes(false));
  TRef<TOruSource> s = Source(f);
  EXPECT_EQ(s->HiderColor()[0], 0x11);
  EXPECT_EQ(s->HiderColor()[1], 0x22);
  EXPECT_EQ(s->HiderColor()[2], 0x33);
  EXPECT_EQ(s->UnsharpAmount(), 0.75);
  EXPECT_FALSE(s->PauseWhenInactive());
  EXPECT_EQ(s->ScreenWidth(), 640);
  EXPECT_EQ(s->ScreenHeight(), 1080);
  EXPECT_EQ(s->RepeatMode(), kRepeatStop);
  EXPECT_FALSE(s->ScreenSaver());
  zm::TIniSection* main = f->FindSection(u"main");
  EXPECT_EQ(main->ReadString(u"opt_ssaver"), u"0");
  ASSERT_NE(main->Find(u"opt_scr_height"), nullptr);  // added, empty
  EXPECT_EQ(main->ReadString(u"opt_scr_height"), u"");
  EXPECT_EQ(main->Find(u"opt_hidecursor"), nullptr);

  TRef<TIniFile> g = Doc(t.Bytes(false));
  TRef<TOruSource> saver = Source(g, true);
  EXPECT_TRUE(saver->ScreenSaver());
  EXPECT_EQ(saver->RepeatMode(), kRepeatLoop);
  zm::TIniSection* m2 = g->FindSection(u"main");
  EXPECT_EQ(m2->ReadString(u"opt_repeat"), u"repeat");
  EXPECT_EQ(m2->ReadString(u"opt_ssaver"), u"1");
  EXPECT_EQ(m2->ReadString(u"opt_fcp"), u"0");
  EXPECT_EQ(m2->ReadString(u"opt_hidecursor"), u"1");
  EXPECT_EQ(m2->ReadString(u"opt_scr_full"), u"1");
}

TEST(OruSource, NeedsBothPartsAndRefusesFallingTimes) {
  TRef<TIniFile> f = Doc(Show({1}).Bytes(false));
  EXPECT_THROW(zm::MakeRef<TOruSource>(nullptr, false, f.get()), zm::EAbort);
  EXPECT_THROW(zm::MakeRef<TOruSource>(Accessor().get(), false, nullptr), zm::EAbort);
  try {
    Source(Doc(Show({1000, 999}).Bytes(false)));
    FAIL();
  } catch (const zm::EAbort& e) {
    EXPECT_NE(std::string(e.what()).find("'Incorrect time'"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("zmOruSource2"), std::string::npos) << e.what();
  }
  EXPECT_THROW(Source(Doc(Show({-5}).Bytes(false))), zm::EAbort);  // a negative duration
  // An owning source frees what it was given, also when it fails (the leak
  // checker watches).
  TRef<TIniFile> owned = Doc(Show({5, 1}).Bytes(false));
  TRef<TFileAccessor> accessor = Accessor();
  EXPECT_THROW(zm::MakeRef<TOruSource>(accessor.Detach(), true, owned.Detach()), zm::EAbort);
  TRef<TIniFile> good = Doc(Show({5, 10}).Bytes(false));
  TRef<TFileAccessor> a2 = Accessor();
  TFileAccessor* handedOut = a2.get();
  TRef<TOruSource> s = zm::MakeRef<TOruSource>(a2.Detach(), true, good.Detach());
  EXPECT_EQ(s->SlideCount(), 2);
  EXPECT_EQ(s->FileAccessor(), handedOut);
}

TEST(OruSource, MissingSectionsAndAbsurdCounts) {
  TRef<TOruSource> empty = Source(Doc(""));
  EXPECT_EQ(empty->SlideCount(), 0);
  EXPECT_EQ(empty->ShowLength(), 0);
  EXPECT_EQ(empty->SlideAtTime(100), -1);
  TSlideSpan span;
  EXPECT_EQ(empty->GetSlideSpan(12, span), 0);
  EXPECT_EQ(span.End, 0);
  double t = 5;
  float sl = 5;
  EXPECT_FALSE(empty->GetSlideEffect(0, t, sl));
  EXPECT_EQ(t, 0);
  double d = 1;
  EXPECT_FALSE(empty->GetSlideEndAction(3, d));
  zm::WideString fn;
  EXPECT_FALSE(empty->GetSlideRunApp(0, fn));
  EXPECT_EQ(empty->RepeatMode(), kRepeatLoop);
  EXPECT_TRUE(empty->PauseWhenInactive());
  EXPECT_EQ(empty->ScreenWidth(), 1920);

  // A billion slides without times: cut to the limit, all of length 0.
  TIniText big;
  big.Section("main").Key("opt_scr_width", "-4").Key("opt_scr_height", "99999999");
  big.Section("Times").Key("opt_slidescount", 1000000000);
  TRef<TOruSource> b = Source(Doc(big.Bytes(false)));
  EXPECT_EQ(b->SlideCount(), kMaxSlideCount);
  EXPECT_EQ(b->ScreenWidth(), 1920);
  EXPECT_EQ(b->ScreenHeight(), 1080);
  EXPECT_EQ(b->SlideAtTime(1), -1);
}

TEST(OruSource, HugeTimesStayDefined) {
  TRef<TOruSource> s = Source(Doc(Show({1000000000000000LL}).Bytes(false)));
  EXPECT_EQ(s->SlideAtTime(1e15), 0);
  EXPECT_EQ(s->SlideAtTime(2e15), 1);
  EXPECT_EQ(s->SlideAtTime(1e300), -1);  // beyond any 32-bit index
  EXPECT_EQ(s->SlideAtTime(INFINITY), -1);
  TSlideSpan span;
  EXPECT_EQ(s->GetSlideSpan(2147483647, span), 2147483647);
  EXPECT_GT(span.End, 1e24);
}

// ---- Transitions -------------------------------------------------------------------

const char* const kEffects = R"([main]
object TheEffect:AnEffect
  time=1200
  object dissolve:AnEffect
    checked=1
    stdidx=2
  end
  object push:AnEffect
    key=direction
    direction=1111
    stdidx=9
    smoothline=0.5
  end
  object gates:AnEffect
    key=direction
    direction=00000000
    stdidx=6
  end
  object custom:AnEffect
    checked=1
    stdidx=14
    object a:one
      checked=1
    end
    object b:two
      checked=1
    end
    object c:three
      checked=0
    end
  end
end
[effect_one]
CoverMode=1
[effect_three]
CoverMode=1
[Times]
opt_slidescount=6
opt_synchpos1=3000
opt_synchpos2=6000
opt_synchpos3=9000
opt_synchpos4=12000
opt_synchpos5=15000
opt_synchpos6=18000
[Slide1]
object TheEffect:AnEffect
  ref=default
end
[Slide2]
object TheEffect:AnEffect
  ref=push
  time=800
  direction=0100
end
[Slide3]
object TheEffect:AnEffect
  ref=quick
  time=800
end
[Slide4]
object TheEffect:AnEffect
  ref=defowntime
  time=650
  smoothline=0.25
end
[Slide5]
object TheEffect:AnEffect
  time=400
  object x:AnEffect
    checked=0
  end
  object y:AnEffect
    checked=1
  end
end
[Slide6]
object TheEffect:AnEffect
  ref=push
end
)";

TEST(OruSourceEffects, PoolHoldsTheCheckedEntries) {
  TRef<TOruSource> s = Source(Doc(kEffects));
  EXPECT_EQ(s->MainEffectTime(), 1200);
  // dissolve, push, and the custom sub-definition that is checked and has
  // its section; gates has no direction.
  ASSERT_EQ(s->PoolSize(), 3);
  int kinds[13] = {};
  for (int i = 0; i < 3; ++i) ++kinds[s->PoolEffect(i)->Kind];
  EXPECT_EQ(kinds[kEffectDissolve], 1);
  EXPECT_EQ(kinds[kEffectPush], 1);
  EXPECT_EQ(kinds[kEffectCustom], 1);
  for (int i = 0; i < 3; ++i) {
    if (s->PoolEffect(i)->Kind != kEffectCustom) continue;
    ASSERT_TRUE(s->PoolEffect(i)->CustomObject);
    EXPECT_EQ(s->PoolEffect(i)->CustomObject.get(), s->Project()->FindSection(u"effect_one"));
  }
  EXPECT_EQ(s->PoolEffect(3), nullptr);
}

TEST(OruSourceEffects, SlideEffects) {
  TRef<TOruSource> s = Source(Doc(kEffects));
  double t;
  float sl;
  // A family named by the slide, with its own directions over the entry's.
  TRef<TOruEffect> e = s->GetSlideEffect(1, t, sl);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->Kind, kEffectPush);
  EXPECT_EQ(t, 800);
  EXPECT_FLOAT_EQ(sl, 0.5f);
  EXPECT_EQ(e->Flags, (std::vector<std::uint8_t>{1, 0, 0, 0}));  // stored 1,0,2,3
  EXPECT_EQ(e->Variants, 1);

  EXPECT_FALSE(s->GetSlideEffect(2, t, sl));  // quick
  EXPECT_EQ(t, 0);
  EXPECT_FALSE(s->GetSlideEffect(5, t, sl));  // a named entry without a time
  EXPECT_EQ(t, 0);

  // "default" draws from the pool and plays for the main time.
  e = s->GetSlideEffect(0, t, sl);
  ASSERT_TRUE(e);
  EXPECT_EQ(t, 1200);
  EXPECT_FLOAT_EQ(sl, static_cast<float>(e->Smoothline));
  // "defowntime" keeps its own time and smoothing.
  e = s->GetSlideEffect(3, t, sl);
  ASSERT_TRUE(e);
  EXPECT_EQ(t, 650);
  EXPECT_FLOAT_EQ(sl, 0.25f);

  // Own settings with another word: the first checked child is played.
  e = s->GetSlideEffect(4, t, sl);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->Kind, kEffectCustom);
  EXPECT_EQ(t, 400);
  ASSERT_TRUE(e->CustomObject);
  EXPECT_EQ(e->CustomObject->GetName(), u"y");

  // Indexes of later passes wrap.
  e = s->GetSlideEffect(6 * 3 + 1, t, sl);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->Kind, kEffectPush);
  EXPECT_FALSE(s->GetSlideEffect(-1, t, sl));
}

TEST(OruSourceEffects, DrawsAlternateParityAndRefreshTheOrder) {
  // One entry of four directions: the draws alternate between even and odd
  // variants.
  TRef<TOruSource> s = Source(Doc(R"([main]
object TheEffect:AnEffect
  time=100
  object slide:AnEffect
    key=direction
    direction=1111
    stdidx=10
  end
end
[Times]
opt_slidescount=1
opt_synchpos1=1000
[Slide1]
)"));
  ASSERT_EQ(s->PoolSize(), 1);
  double t;
  float sl;
  int previousParity = -1;
  for (int k = 0; k < 40; ++k) {
    TRef<TOruEffect> e = s->GetSlideEffect(0, t, sl);
    ASSERT_TRUE(e);
    int set = 0, at = -1;
    for (int i = 0; i < 4; ++i)
      if (e->Flags[static_cast<std::size_t>(i)]) {
        ++set;
        at = i;
      }
    ASSERT_EQ(set, 1);
    int variant = at;  // every direction is enabled: variant v keeps flag v
    if (previousParity >= 0) {
      EXPECT_NE(variant & 1, previousParity) << k;
    }
    previousParity = variant & 1;
  }
}

TEST(OruSourceEffects, FixedSeedRepeats) {
  TRef<TOruSource> a = Source(Doc(kEffects));
  TRef<TOruSource> b = Source(Doc(kEffects));
  a->SetFixedSeed(true, 77);
  b->SetFixedSeed(true, 77);
  double t;
  float sl;
  for (int pass = 0; pass < 3; ++pass) {
    TRef<TOruEffect> x = a->GetSlideEffect(0, t, sl);
    TRef<TOruEffect> y = b->GetSlideEffect(0, t, sl);
    ASSERT_TRUE(x && y);
    EXPECT_EQ(x->Kind, y->Kind);
    EXPECT_EQ(x->Flags, y->Flags);
  }
  // The slide index picks the slot: index 0 and index 3 of a three-entry pool.
  TRef<TOruEffect> x = a->GetSlideEffect(0, t, sl);
  TRef<TOruEffect> z = a->GetSlideEffect(3, t, sl);
  ASSERT_TRUE(x && z);
  EXPECT_EQ(x->Kind, z->Kind);
}

// A definition prop over one object, for the family readers.
class FamilyReader : public ::testing::Test {
protected:
  TRef<TOruEffect> Read(std::int32_t kind, const std::string& keys) {
    std::string text = "[main]\r\nobject TheEffect:AnEffect\r\n  time=5\r\nend\r\n[Times]\r\nopt_slidescount=1\r\n"
                       "[Slide1]\r\nobject TheEffect:AnEffect\r\n" +
                       keys + "end\r\n";
    ini_ = Doc(text);
    m_ = zm::MakeRef<TORUEffectManager>(ini_.get(), 0, 0);
    return ReadFamilyEffect(kind, *m_->GetEffect(0));
  }
  TRef<TIniFile> ini_;
  TRef<TORUEffectManager> m_;
};

TEST_F(FamilyReader, Defaults) {
  TRef<TOruEffect> e = Read(kEffectDissolve, "");
  ASSERT_TRUE(e);
  EXPECT_EQ(e->Flags, (std::vector<std::uint8_t>{1}));
  EXPECT_EQ(e->Smoothline, kMinSmoothline);
  EXPECT_FALSE(Read(kEffectDissolve, "checked=0\r\n"));

  e = Read(kEffectHourHand, "action=10\r\ndirection=110000000\r\noffset=abc\r\n");
  ASSERT_TRUE(e);
  EXPECT_EQ(e->Variants, 2);
  EXPECT_EQ(e->Flags.size(), 11u);
  EXPECT_EQ(e->Floats, (std::vector<float>{0}));
  EXPECT_DOUBLE_EQ(e->Smoothline, 0.35);
  EXPECT_FALSE(Read(kEffectHourHand, "action=00\r\ndirection=111111111\r\n"));

  e = Read(kEffectShapes, "action=11\r\ndirection=111\r\nsmoothline=0.05\r\n");
  ASSERT_TRUE(e);
  EXPECT_EQ(e->Variants, 6);
  EXPECT_EQ(e->Ints, (std::vector<std::int32_t>{50, 50}));
  EXPECT_EQ(e->Smoothline, kMinSmoothline);

  e = Read(kEffectMosaic, "cols=-3\r\nrows=999999999\r\nappearence=2\r\n");
  ASSERT_TRUE(e);
  EXPECT_EQ(e->Ints, (std::vector<std::int32_t>{1, 512, 2, 0}));

  e = Read(kEffectSwap, "direction=0001\r\nangle=x\r\n");
  ASSERT_TRUE(e);
  EXPECT_EQ(e->Floats, (std::vector<float>{4, 1, 60}));
  EXPECT_EQ(e->Flags, (std::vector<std::uint8_t>{0, 0, 0, 1}));

  e = Read(kEffectFlip, "direction=1000\r\nspin_center=1\r\n3dvolume=1e300\r\n");
  ASSERT_TRUE(e);
  EXPECT_EQ(e->Flags, (std::vector<std::uint8_t>{0, 1, 0, 0, 1, 0}));
  EXPECT_EQ(e->Floats, (std::vector<float>{0.5f}));

  e = Read(kEffectCurling, "action=01\r\ndirection=10000001\r\npipe=z\r\nusevolume=1\r\nsmoothline=0.5\r\n");
  ASSERT_TRUE(e);
  EXPECT_EQ(e->Flags, (std::vector<std::uint8_t>{0, 1, 1, 0, 0, 0, 0, 0, 0, 1, 0, 1}));
  EXPECT_EQ(e->Ints, (std::vector<std::int32_t>{1, 0}));
  EXPECT_EQ(e->Floats, (std::vector<float>{0, 0.125f}));
  EXPECT_EQ(e->Smoothline, 0.5);
  EXPECT_EQ(e->Variants, 2);

  e = Read(kEffectGates, "direction=10101010111\r\n");
  ASSERT_TRUE(e);
  EXPECT_EQ(e->Variants, 4);
  EXPECT_FALSE(Read(99, "direction=1111\r\n"));
}

TEST_F(FamilyReader, Variants) {
  TRef<TOruEffect> e = Read(kEffectHourHand, "action=11\r\ndirection=100000001\r\n");
  ASSERT_TRUE(e);
  ASSERT_EQ(e->Variants, 4);
  auto flags = [](const TRef<TOruEffect>& r) { return r->Flags; };
  // Pairs: action 0 with each direction, then action 1.
  EXPECT_EQ(flags(RestrictToVariant(*e, 0)), (std::vector<std::uint8_t>{1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(flags(RestrictToVariant(*e, 1)), (std::vector<std::uint8_t>{1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}));
  EXPECT_EQ(flags(RestrictToVariant(*e, 2)), (std::vector<std::uint8_t>{0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0}));

  // Curling keeps its two further flags.
  e = Read(kEffectCurling, "action=11\r\ndirection=11000000\r\nusecolor=1\r\n");
  TRef<TOruEffect> r = RestrictToVariant(*e, 3);
  EXPECT_EQ(r->Flags, (std::vector<std::uint8_t>{0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 1, 0}));

  // Flip restricts its directions only.
  e = Read(kEffectFlip, "direction=1111\r\nnonlinear_speed=1\r\n");
  r = RestrictToVariant(*e, 2);
  EXPECT_EQ(r->Flags, (std::vector<std::uint8_t>{0, 0, 1, 0, 0, 1}));
  EXPECT_EQ(r->Variants, 1);
}

TEST(OruSourceEffects, MosaicGetsASeed) {
  TRef<TOruSource> s = Source(Doc(R"([Times]
opt_slidescount=2
opt_synchpos1=10
opt_synchpos2=20
[Slide2]
object TheEffect:AnEffect
  ref=mosaic
  time=5
  cols=4
end
)"));
  double t;
  float sl;
  TRef<TOruEffect> e = s->GetSlideEffect(1, t, sl);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->Kind, kEffectMosaic);
  ASSERT_EQ(e->Ints.size(), 4u);
  EXPECT_EQ(e->Ints[0], 4);
  EXPECT_GE(e->Ints[3], 0);
  EXPECT_LT(e->Ints[3], 4096 * 4096);
  s->SetFixedSeed(true, 0x10);
  e = s->GetSlideEffect(1, t, sl);
  EXPECT_EQ(e->Ints[3], 0x11);
}

TEST(OruSourceEffects, KindNumbering) {
  EXPECT_EQ(EffectKindOfWord(u"Dissolve"), kEffectDissolve);
  EXPECT_EQ(EffectKindOfWord(u"SWAP"), kEffectSwap);
  EXPECT_EQ(EffectKindOfWord(u"quick"), 0);
  EXPECT_EQ(EffectKindOfFamily(kFamilyDissolve), kEffectDissolve);
  EXPECT_EQ(EffectKindOfFamily(kFamilyQuick), 0);
  EXPECT_EQ(EffectKindOfFamily(kFamilyHourHand), kEffectHourHand);
  EXPECT_EQ(EffectKindOfFamily(kFamilySwap), kEffectSwap);
  EXPECT_EQ(EffectKindOfFamily(14), 0);
  EXPECT_EQ(EffectKindOfFamily(-1), 0);
}

}  // namespace
