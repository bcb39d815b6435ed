#include "OruLib2/OruClasses/zmOruSource2.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "OruLib2/OruClasses/OruSlideRandomList.h"
#include "Platform/PlatUtf8.h"
#include "ZmLib/zmHookScope.h"
#include "ZmLib/zmLog.h"
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
  s->GetSlideSpan(1, span);
  EXPECT_EQ(span.Start, 757);
  EXPECT_EQ(span.End, 6471);
  EXPECT_EQ(s->SlideAtTime(757), 0);
  EXPECT_EQ(s->SlideAtTime(-5), -1);
  EXPECT_EQ(s->SlideAtTime(0), -1);
  EXPECT_EQ(s->SlideAtTime(std::nan("")), -1);
  EXPECT_EQ(s->SlideAtTime(6472), 2);  // the second pass

  EXPECT_EQ(s->GetSlideSpan(-7, span), -1);
  EXPECT_EQ(span.Start, kLongBeforeShowStart);
  EXPECT_EQ(span.End, kBeforeShowStart);
}

TEST(OruSource, LaterPassesMoveByTheShowLength) {
  TRef<TOruSource> s = Source(Doc(Show({1000, 2500, 4000}, {0, 400, 300}).Bytes(false)));
  TSlideSpan span;
  EXPECT_EQ(s->GetSlideSpan(3 + 2, span), 1);
  EXPECT_EQ(span.Start, 2500 + 4000);
  EXPECT_EQ(span.End, 4000 + 4000);
  EXPECT_EQ(span.OwnLength, 300);  // lengths are not moved

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

  for (const char* mode : {"close", "Stop"}) {
    TRef<TOruSource> c = Source(Doc(Show({1000, 1200, 5000}, {900, 800, 2000}, mode).Bytes(false)));
    c->GetSlideSpan(2, span);
    EXPECT_EQ(span.NextLength, 0) << mode;
    EXPECT_EQ(span.VisibleUntil, 5000) << mode;
  }
  EXPECT_EQ(Source(Doc(Show({1}, {}, "forever").Bytes(false)))->RepeatMode(), kRepeatLoop);
}

TEST(OruSource, EndActionsAndRunApp) {
  TIniText t = Show({1000, 3000, 6000, 7000, 8000}, {0, 500});
  t.Section("Slide1").Key("Pers_RunApp", "1").Key("RunAppFN", "C:\\tools\\go.exe").Key("slideid", "first");
  t.Section("Slide2").Key("Pers_EndAction", "LOOP").Key("Picture", "C:\\pics\\Holiday.final.JPG");
  t.Section("Slide3").Key("Pers_EndAction", "pause");
  t.Section("Slide4").Key("Pers_EndAction", "timer");
  t.Section("Slide5").Key("Pers_EndAction", "dance");
  TRef<TOruSource> s = Source(Doc(t.Bytes(false)));
  double d = -1;
  EXPECT_TRUE(s->GetSlideEndAction(1, d));
  EXPECT_EQ(d, 2000 - 500);  // a loop ends before its own transition
  EXPECT_TRUE(s->GetSlideEndAction(2, d));
  EXPECT_EQ(d, 0);
  EXPECT_FALSE(s->GetSlideEndAction(3, d));
  EXPECT_TRUE(s->GetSlideEndAction(5 + 1, d));  // a later pass of slide 1
  EXPECT_EQ(d, 1500);
  EXPECT_FALSE(s->GetSlideEndAction(-1, d));
  zm::WideString fn;
  EXPECT_TRUE(s->GetSlideRunApp(0, fn));
  EXPECT_EQ(fn, u"C:\\tools\\go.exe");
  EXPECT_EQ(s->SlideId(1), u"Holiday.final");

  // A manual show pauses after slides without their own action.
  t.Section("main").Key("opt_manualshow", "1");
  TRef<TOruSource> manual = Source(Doc(t.Bytes(false)));
  EXPECT_TRUE(manual->GetSlideEndAction(0, d));
  EXPECT_TRUE(manual->GetSlideEndAction(4, d));   // unknown word
  EXPECT_FALSE(manual->GetSlideEndAction(3, d));  // "timer"
}

TEST(OruSource, ScreenSaverModeRepeats) {
  TRef<TIniFile> g = Doc(Show({1000}, {}, "stop").Bytes(false));
  TRef<TOruSource> saver = Source(g, true);
  EXPECT_EQ(saver->RepeatMode(), kRepeatLoop);
  zm::TIniSection* main = g->FindSection(u"main");
  EXPECT_EQ(main->ReadString(u"opt_repeat"), u"repeat");
  EXPECT_EQ(main->ReadString(u"opt_ssaver"), u"1");
  EXPECT_EQ(main->ReadString(u"opt_hidecursor"), u"1");
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
  }
  EXPECT_THROW(Source(Doc(Show({-5}).Bytes(false))), zm::EAbort);  // a negative duration
  // An owning source frees what it was given, also when it fails (the leak
  // checker watches).
  TRef<TIniFile> owned = Doc(Show({5, 1}).Bytes(false));
  TRef<TFileAccessor> accessor = Accessor();
  EXPECT_THROW(zm::MakeRef<TOruSource>(accessor.Detach(), true, owned.Detach()), zm::EAbort);
}

TEST(OruSource, MissingSectionsAbsurdCountsAndHugeTimes) {
  TRef<TOruSource> empty = Source(Doc(""));
  EXPECT_EQ(empty->SlideAtTime(100), -1);  // a show of length 0 ends the search
  TSlideSpan span;
  EXPECT_EQ(empty->GetSlideSpan(12, span), 0);
  double t = 5;
  float sl = 5;
  EXPECT_FALSE(empty->GetSlideEffect(0, t, sl));

  // A billion slides without times: cut to the limit, all of length 0.
  TIniText big;
  big.Section("main").Key("opt_scr_width", "-4").Key("opt_scr_height", "99999999");
  big.Section("Times").Key("opt_slidescount", 1000000000);
  TRef<TOruSource> b = Source(Doc(big.Bytes(false)));
  EXPECT_EQ(b->SlideCount(), kMaxSlideCount);
  EXPECT_EQ(b->ScreenHeight(), 1080);
  EXPECT_EQ(b->SlideAtTime(1), -1);

  // The longest slide times can give (whole milliseconds in 32 bits).
  const double longest = 2147483647;
  TRef<TOruSource> s = Source(Doc(Show({2147483647}).Bytes(false)));
  EXPECT_EQ(s->SlideAtTime(2 * longest + 1), 2);
  EXPECT_EQ(s->SlideAtTime(1e300), -1);  // beyond any 32-bit index
  EXPECT_EQ(s->SlideAtTime(INFINITY), -1);
  EXPECT_EQ(s->GetSlideSpan(2147483647, span), 2147483647);
  EXPECT_EQ(span.End, 2147483648.0 * longest);
}

// The message of the assertion that building a source of Text fails with;
// empty when the source is built.
std::string Refusal(const TIniText& text) {
  try {
    Source(Doc(text.Bytes(false)));
  } catch (const zm::EAbort& e) {
    return e.what();
  }
  return std::string();
}

TEST(OruSource, SlideTimesAreWholeMilliseconds) {
  // Blanks before a sign are fine; a key without a value is no time at all.
  auto ends = [](const std::vector<const char*>& texts) {
    TIniText t;
    t.Section("Times").Key("opt_slidescount", static_cast<long long>(texts.size()));
    for (std::size_t i = 0; i < texts.size(); ++i) t.Key("opt_synchpos" + std::to_string(i + 1), texts[i]);
    TRef<TOruSource> s = Source(Doc(t.Bytes(false)));
    std::vector<double> out;
    for (std::int32_t i = 0; i < s->SlideCount(); ++i) {
      TSlideSpan span;
      s->GetSlideSpan(i, span);
      out.push_back(span.End);
    }
    return out;
  };
  EXPECT_EQ(ends({"", "  +2600", "2147483647"}), (std::vector<double>{0, 2600, 2147483647}));
  // Anything else that is not a whole number within 32 bits is damage, not
  // a slide of no length: "1e3" and "2500.0" as much as "NaN" or 2^32 + 1.
  auto times = [](const char* second, const char* third) {
    TIniText t;
    t.Section("Times").Key("opt_slidescount", 2).Key("opt_synchpos1", 1000).Key("opt_synchpos2", second);
    t.Key("opt_synchpos3", third);
    return t;
  };
  for (const char* refused : {"1e3", "2500.0", "0x2710", "30 00", "1,5", "NaN", "-1", "2147483648", "4294967297"})
    EXPECT_NE(Refusal(times(refused, "3000")).find("'Incorrect time'"), std::string::npos) << refused;
  // Times past the slide count are never read; a time behind the one
  // before it stays refused.
  EXPECT_EQ(Refusal(times("2000", "NaN")), "");
  try {
    ends({"1000", "999"});
    FAIL();
  } catch (const zm::EAbort& e) {
    EXPECT_NE(std::string(e.what()).find("'Incorrect time'"), std::string::npos) << e.what();
  }
}

TEST(OruSource, CountsOutsideTheirRangeAreDamage) {
  // The slide count: no count or a blank one is an empty show; a count that
  // is no whole number within 32 bits is damage.
  for (const char* count : {"", "  "}) {
    TIniText t;
    t.Section("Times").Key("opt_slidescount", count);
    EXPECT_EQ(Source(Doc(t.Bytes(false)))->SlideCount(), 0) << "'" << count << "'";
  }
  for (const char* count : {"2147483648", "-1", "NaN", "4294967297", "3.0", "1e2"}) {
    TIniText t;
    t.Section("Times").Key("opt_slidescount", count).Key("opt_synchpos1", 1000);
    EXPECT_NE(Refusal(t).find("'Incorrect slides count'"), std::string::npos) << count;
  }
  // The other counts and times of the description, each alone.
  const struct {
    const char* Section;
    const char* Key;
    const char* Message;
  } keys[] = {{"main", "opt_customdialogscount", "'Incorrect dialogs count'"},
              {"main", "opt_newnavbuttons_count", "'Incorrect buttons count'"},
              {"main", "opt_hc2_hideinterval", "'Incorrect time'"},
              {"PathModifiers", "Count", "'Incorrect path modifiers count'"}};
  for (const auto& k : keys) {
    auto with = [&](const char* value) {
      TIniText t;
      t.Section(k.Section).Key(k.Key, value);
      t.Section("Times").Key("opt_slidescount", 1).Key("opt_synchpos1", 1000);
      return t;
    };
    for (const char* good : {"0", "2", "2147483647", ""}) EXPECT_EQ(Refusal(with(good)), "") << k.Key << "=" << good;
    for (const char* bad : {"-1", "NaN", "2147483648", "4294967297"})
      EXPECT_NE(Refusal(with(bad)).find(k.Message), std::string::npos) << k.Key << "=" << bad;
  }
}

// What a user reads when a description is refused: the key to mend, with
// its value against the one before; the same faults the source refuses.
TEST(OruSource, RefusalsNameTheKeyToMend) {
  const auto times = [](const std::vector<const char*>& ends, const char* count = nullptr) {
    TIniText t;
    t.Section("Times").Key("opt_slidescount", count ? std::string(count) : std::to_string(ends.size()));
    for (std::size_t i = 0; i < ends.size(); ++i)
      if (ends[i]) t.Key("opt_synchpos" + std::to_string(i + 1), ends[i]);
    return t;
  };
  const std::string meaning = " ([Times]: opt_synchposN is the show time in ms at which slide N ends, growing from slide to slide)";
  const struct {
    TIniText Text;
    std::string Advice;
  } refused[] = {
      {times({"5000", "10000", "8000"}), "opt_synchpos3=8000 is before opt_synchpos2=10000" + meaning},
      {times({"5000", nullptr, "15000"}), "opt_synchpos2 is missing" + meaning},
      {times({"5000", " ", "15000"}), "opt_synchpos2 has no value" + meaning},
      {times({"5000", "10000", nullptr}), "opt_synchpos3 is missing" + meaning},
      {times({"5000", "5s"}), "opt_synchpos2=5s in [Times] is not a whole number from 0 to 2147483647 "
                              "(opt_synchposN is the show time in ms at which slide N ends)"},
      {times({"5000", std::string(100, '7').c_str()}),
       "opt_synchpos2=" + std::string(40, '7') + "... in [Times] is not a whole number from 0 to 2147483647 "
       "(opt_synchposN is the show time in ms at which slide N ends)"},
      {times({"5000"}, "-3"), "opt_slidescount=-3 in [Times] is not a whole number from 0 to 2147483647 (the number of slides)"},
  };
  for (const auto& r : refused) {
    const std::string text = r.Text.Bytes(false);
    EXPECT_EQ(plat::ToUtf8(TOruSource::DescriptionFault(Doc(text).get())), r.Advice) << text;
    EXPECT_NE(Refusal(r.Text), "") << text;
  }
  TIniText hide = times({"1000"});
  hide.Section("main").Key("opt_hc2_hideinterval", "soon");
  EXPECT_EQ(plat::ToUtf8(TOruSource::DescriptionFault(Doc(hide.Bytes(false)).get())),
            "opt_hc2_hideinterval=soon in [main] is not a whole number from 0 to 2147483647 (the seconds before a "
            "still pointer hides)");
  // Accepted descriptions have nothing to mend, also those whose slides are
  // never shown; a description without slides is refused elsewhere.
  for (const TIniText& accepted : {times({"5000", "5000", "5000"}), times({nullptr, "1000"}), times({}), times({"1", "2"}, "1")}) {
    EXPECT_TRUE(TOruSource::DescriptionFault(Doc(accepted.Bytes(false)).get()).empty()) << accepted.Bytes(false);
    EXPECT_EQ(Refusal(accepted), "");
  }
  EXPECT_TRUE(TOruSource::DescriptionFault(nullptr).empty());
}

// Ends written as lengths play as written; the slides that end as they
// start are named by their keys.
TEST(OruSource, SlidesNeverShownAreNamed) {
  const auto note = [](const TIniText& t) {
    return plat::ToUtf8(Source(Doc(t.Bytes(false)))->UnseenSlidesNote());
  };
  const std::string tail = " (opt_synchposN is the show time in ms at which slide N ends, not how long it lasts)";
  EXPECT_EQ(note(Show({5000, 5000, 5000})),
            "Slides 2 and 3 are never shown: opt_synchpos2=5000 and opt_synchpos3=5000 in [Times] end them as they "
            "start" + tail);
  TIniText first;
  first.Section("Times").Key("opt_slidescount", 2).Key("opt_synchpos2", 4000);
  EXPECT_EQ(note(first), "Slide 1 is never shown: opt_synchpos1 (missing) in [Times] ends it as it starts" + tail);
  std::vector<long long> flat(9, 3000);
  flat[0] = 1000;
  EXPECT_EQ(note(Show(flat)),
            "Slides 3, 4, 5, 6, 7 and 2 more are never shown: opt_synchpos3=3000, opt_synchpos4=3000, "
            "opt_synchpos5=3000, opt_synchpos6=3000, opt_synchpos7=3000 and 2 more in [Times] end them as they "
            "start" + tail);
  EXPECT_EQ(note(Show({1000, 2000})), "");
  EXPECT_EQ(note(Show({})), "");
}

TEST(OruSource, AnOpenShowKeepsItsSlideOrder) {
  TIniText t = Show({1000, 2000, 3000, 4000, 5000, 6000, 7000, 8000, 9000, 10000, 11000, 12000});
  t.Section("main").Key("ProjectFilePath", "/kept/show.oru");
  TRef<TIniFile> f = Doc(t.Bytes(false));
  TRef<TOruSource> s = Source(f);
  GetSlideRandomList(f.get())->Shuffle();
  std::vector<zm::WideString> order;
  for (std::int32_t i = 0; i < 12; ++i) order.push_back(GetSlideSectionName(f.get(), i));
  // Many other projects come and go while the show is open.
  for (std::size_t k = 0; k < 2 * kMaxIdleSlideRandomLists + 5; ++k) {
    TIniText other;
    other.Section("main").Key("ProjectFilePath", "/kept/other" + std::to_string(k));
    GetSlideRandomList(Doc(other.Bytes(false)).get());
  }
  for (std::int32_t i = 0; i < 12; ++i) EXPECT_EQ(GetSlideSectionName(f.get(), i), order[std::size_t(i)]);
}

TEST(OruSource, SectionAfterAnOpenObjectBlockKeepsItsData) {
  // The effect block of main has no end line: the section line after it
  // closes it, and the times still count.
  TRef<TIniFile> f = Doc("[main]\r\nobject TheEffect:AnEffect\r\n  time=1200\r\n"
                         "[Times]\r\nopt_slidescount=2\r\nopt_synchpos1=4000\r\nopt_synchpos2=9000\r\n");
  TRef<TOruSource> s = Source(f);
  ASSERT_EQ(s->SlideCount(), 2);
  EXPECT_EQ(s->ShowLength(), 9000);
  EXPECT_EQ(s->SlideAtTime(4001), 1);
  EXPECT_EQ(s->MainEffectTime(), 1200);
}

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
  for (int i = 0; i < 3; ++i) {
    const TOruEffect* e = s->PoolEffect(i);
    ++kinds[e->Kind];
    if (e->Kind == kEffectCustom) {
      EXPECT_EQ(e->CustomObject.get(), s->Project()->FindSection(u"effect_one"));
    }
  }
  EXPECT_EQ(kinds[kEffectDissolve] + kinds[kEffectPush] + kinds[kEffectCustom], 3);
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

  EXPECT_FALSE(s->GetSlideEffect(2, t, sl));  // quick
  EXPECT_EQ(t, 0);
  EXPECT_FALSE(s->GetSlideEffect(5, t, sl));  // a named entry without a time
  EXPECT_EQ(t, 0);

  // "default" draws from the pool and plays for the main time;
  // "defowntime" keeps its own time and smoothing.
  ASSERT_TRUE(s->GetSlideEffect(0, t, sl));
  EXPECT_EQ(t, 1200);
  ASSERT_TRUE(s->GetSlideEffect(3, t, sl));
  EXPECT_EQ(t, 650);
  EXPECT_FLOAT_EQ(sl, 0.25f);

  // Own settings with another word: the first checked child is played.
  e = s->GetSlideEffect(4, t, sl);
  ASSERT_TRUE(e && e->CustomObject);
  EXPECT_EQ(e->Kind, kEffectCustom);
  EXPECT_EQ(e->CustomObject->GetName(), u"y");

  // Indexes of later passes wrap.
  e = s->GetSlideEffect(6 * 3 + 1, t, sl);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->Kind, kEffectPush);
  EXPECT_FALSE(s->GetSlideEffect(-1, t, sl));
}

// The log's lines while installed.
class TLogLines : public zm::TLog {
public:
  void WriteText(const zm::WideString& line) override { Lines.push_back(plat::ToUtf8(line)); }
  std::vector<std::string> Lines;
};

// A transition the show names but does not define plays with the family's
// own settings (the slide's own keys still count); a name the player does
// not have cross-fades, as does a transition that gives nothing to play
// for the time the time line gives it. The log says so once a slide.
TEST(OruSourceEffects, NamedWithoutItsEntryStillMoves) {
  const char* const families[] = {"dissolve", "hourhand", "shapes", "gates", "page", "mosaic",
                                  "push",     "slide",    "curling", "flip", "swap"};
  TIniText t;
  t.Section("main").Key("opt_repeat", "stop");
  t.Object("TheEffect", "AnEffect").Key("time", 900).End();
  const int count = int(std::size(families)) + 3;
  t.Section("Times").Key("opt_slidescount", count);
  for (int i = 0; i < count; ++i) t.Key("opt_synchpos" + std::to_string(i + 1), 1000LL * (i + 1));
  const auto slide = [&](int i, const char* ref, const char* direction = nullptr) {
    t.Section("Slide" + std::to_string(i + 1));
    t.Object("TheEffect", "AnEffect").Key("ref", ref).Key("time", 500);
    if (direction) t.Key("direction", direction);
    t.End();
  };
  for (int i = 0; i < int(std::size(families)); ++i) slide(i, families[i]);
  const int own = int(std::size(families));
  slide(own, "slide", "0010");  // the slide's own direction: up
  slide(own + 1, "disolve");
  slide(own + 2, "default");  // a pool with nothing in it
  TRef<TLogLines> log = zm::MakeRef<TLogLines>();
  log->AddRef();
  zm::SetLog(log.get());
  TRef<TOruSource> s = Source(Doc(t.Bytes(false)));
  double time;
  float sl;
  for (int pass = 0; pass < 2; ++pass) {
    for (int i = 0; i < own; ++i) {
      TRef<TOruEffect> e = s->GetSlideEffect(i, time, sl);
      ASSERT_TRUE(e) << families[i];
      EXPECT_EQ(e->Kind, EffectKindOfWord(zm::WideString(families[i], families[i] + std::strlen(families[i]))));
      EXPECT_GE(e->Variants, 1) << families[i];
      EXPECT_EQ(time, 500) << families[i];
    }
    TRef<TOruEffect> up = s->GetSlideEffect(own, time, sl);
    ASSERT_TRUE(up);
    EXPECT_EQ(up->Flags, (std::vector<std::uint8_t>{0, 0, 1, 0}));
    TRef<TOruEffect> misspelt = s->GetSlideEffect(own + 1, time, sl);
    ASSERT_TRUE(misspelt);
    EXPECT_EQ(misspelt->Kind, kEffectCustom);
    EXPECT_FALSE(misspelt->CustomObject);  // the effect slide's maker cross-fades
    TRef<TOruEffect> fade = s->GetSlideEffect(own + 2, time, sl);
    ASSERT_TRUE(fade);
    EXPECT_EQ(fade->Kind, kEffectDissolve);
    EXPECT_EQ(time, 900);
    TSlideSpan span;
    s->GetSlideSpan(own + 2, span);
    EXPECT_EQ(span.OwnLength, 900);
  }
  // An entry of the show whose settings enable no variant.
  TIniText broken = Show({1000, 2000});
  broken.Section("main").Object("TheEffect", "AnEffect").Key("time", 900);
  broken.Object("push", "AnEffect").Key("stdidx", 9).Key("checked", 1).Key("direction", "0000").End().End();
  broken.Section("Slide2").Object("TheEffect", "AnEffect").Key("ref", "push").Key("time", 400).End();
  TRef<TOruEffect> fade = Source(Doc(broken.Bytes(false)))->GetSlideEffect(1, time, sl);
  ASSERT_TRUE(fade);
  EXPECT_EQ(fade->Kind, kEffectDissolve);
  EXPECT_EQ(time, 400);
  zm::SetLog(nullptr);
  const auto said = [&](const std::string& line) { return std::count(log->Lines.begin(), log->Lines.end(), line); };
  EXPECT_EQ(said("Slide 2: transition \"hourhand\" is not in the TheEffect of [main]: played with its own settings"), 1);
  EXPECT_EQ(said("Slide 6: transition \"mosaic\" is not in the TheEffect of [main]: played with its own settings"), 1);
  EXPECT_EQ(said("Slide 13: transition \"disolve\" is not one the player has: cross-fades"), 1);
  EXPECT_EQ(said("Slide 14: transition \"default\" gives nothing to play: cross-fades"), 1);
  EXPECT_EQ(said("Slide 2: transition \"push\" gives nothing to play: cross-fades"), 1);
  // Nothing was left to a default for these.
  for (const std::string& line : log->Lines) {
    EXPECT_EQ(line.find("\"dissolve\""), std::string::npos) << line;
    EXPECT_EQ(line.find("Slide 12:"), std::string::npos) << line;
  }
  EXPECT_EQ(log->Lines.size(), 13u);
}

TEST(OruSourceEffects, DrawsAlternateParity) {
  // One entry of four directions: the draws alternate between even and odd
  // variants (every direction is enabled, so variant v keeps flag v).
  TRef<TOruSource> s = Source(Doc("[main]\r\nobject TheEffect:AnEffect\r\n  time=100\r\n  object slide:AnEffect\r\n"
                                  "    key=direction\r\n    direction=1111\r\n    stdidx=10\r\n  end\r\nend\r\n"
                                  "[Times]\r\nopt_slidescount=1\r\nopt_synchpos1=1000\r\n[Slide1]\r\n"));
  ASSERT_EQ(s->PoolSize(), 1);
  double t;
  float sl;
  int previous = -1;
  for (int k = 0; k < 40; ++k) {
    TRef<TOruEffect> e = s->GetSlideEffect(0, t, sl);
    ASSERT_TRUE(e);
    ASSERT_EQ(std::count(e->Flags.begin(), e->Flags.begin() + 4, 1), 1);
    const int variant = static_cast<int>(std::find(e->Flags.begin(), e->Flags.end(), 1) - e->Flags.begin());
    if (previous >= 0) {
      EXPECT_NE(variant & 1, previous & 1) << k;
    }
    previous = variant;
  }
}

TEST(OruSourceEffects, MosaicGetsASeedAndBoundedCells) {
  TRef<TOruSource> s = Source(Doc("[Times]\r\nopt_slidescount=2\r\nopt_synchpos1=10\r\nopt_synchpos2=20\r\n[Slide2]\r\n"
                                  "object TheEffect:AnEffect\r\n  ref=mosaic\r\n  time=5\r\n  cols=-3\r\n"
                                  "  rows=999999999\r\nend\r\n"));
  double t;
  float sl;
  TRef<TOruEffect> e = s->GetSlideEffect(1, t, sl);
  ASSERT_TRUE(e && e->Ints.size() == 4u);
  EXPECT_EQ(e->Ints[0], 1);
  EXPECT_EQ(e->Ints[1], 512);
  EXPECT_GE(e->Ints[3], 0);
  EXPECT_LT(e->Ints[3], 4096 * 4096);
  s->SetFixedSeed(true, 0x10);
  EXPECT_EQ(s->GetSlideEffect(1, t, sl)->Ints[3], 0x11);
  EXPECT_EQ(EffectKindOfFamily(14), 0);
  EXPECT_EQ(EffectKindOfFamily(-1), 0);
}

}  // namespace

TEST(OruSource, SlidesReadLateGiveWhatAFullReadGives) {
  // The effect definitions above, with slides that lack one, a defowntime
  // without a time, end actions and programs: read as a long description
  // (a section at a time, when first asked) and whole, the source answers
  // alike, and completes the definitions alike.
  std::string text = kEffects;
  text += "[Slide7]\r\nPers_EndAction=loop\r\nslideid=seven\r\n"
          "[Slide8]\r\nobject TheEffect:AnEffect\r\n  ref=defowntime\r\nend\r\nPers_RunApp=1\r\nRunAppFN=go.sh\r\n"
          "[Slide9]\r\nPicture=C:\\pics\\nine.jpg\r\npers_endACTION=pause\r\n";
  const std::size_t times = text.find("opt_slidescount=6");
  text.replace(times, 17, "opt_slidescount=9");
  text.insert(text.find("opt_synchpos6=18000") + 19, "\nopt_synchpos7=21000\nopt_synchpos8=24000\nopt_synchpos9=30000");
  auto load = [&](bool late) {
    zm::THookScope<std::int32_t> lateBytes(zm::IniLateBytes);
    zm::IniLateBytes = late ? 1 : INT32_MAX;
    return Doc(text);
  };
  TRef<TIniFile> fullDoc = load(false), lateDoc = load(true);
  TRef<TOruSource> full = Source(fullDoc), late = Source(lateDoc);
  ASSERT_EQ(late->SlideCount(), 9);
  EXPECT_TRUE(lateDoc->FindSection(u"Slide7")->Pending());  // nothing asked of it yet
  full->SetFixedSeed(true, 7);
  late->SetFixedSeed(true, 7);
  for (std::int32_t i = 2 * 9 - 1; i >= -2; --i) {
    TSlideSpan a, b;
    EXPECT_EQ(late->GetSlideSpan(i, a), full->GetSlideSpan(i, b));
    EXPECT_EQ(a.Start, b.Start) << i;
    EXPECT_EQ(a.End, b.End) << i;
    EXPECT_EQ(a.OwnLength, b.OwnLength) << i;
    EXPECT_EQ(a.NextLength, b.NextLength) << i;
    EXPECT_EQ(a.VisibleUntil, b.VisibleUntil) << i;
    double da = -1, db = -1;
    EXPECT_EQ(late->GetSlideEndAction(i, da), full->GetSlideEndAction(i, db)) << i;
    EXPECT_EQ(da, db) << i;
    zm::WideString fa, fb;
    EXPECT_EQ(late->GetSlideRunApp(i, fa), full->GetSlideRunApp(i, fb)) << i;
    EXPECT_EQ(fa, fb);
    EXPECT_EQ(late->SlideId(i), full->SlideId(i)) << i;
    double ta = -1, tb = -1;
    float sa = -1, sb = -1;
    TRef<TOruEffect> ea = late->GetSlideEffect(i, ta, sa), eb = full->GetSlideEffect(i, tb, sb);
    ASSERT_EQ(bool(ea), bool(eb)) << i;
    EXPECT_EQ(ta, tb) << i;
    EXPECT_EQ(sa, sb) << i;
    if (ea) {
      EXPECT_EQ(ea->Kind, eb->Kind) << i;
      EXPECT_EQ(ea->Flags, eb->Flags) << i;
    }
    EXPECT_EQ(late->SlideAtTime(i * 1000.5), full->SlideAtTime(i * 1000.5));
  }
  // Definitions made and times written where the slides lacked them.
  zm::TRef<zm::TMemoryStream> a = zm::MakeRef<zm::TMemoryStream>(), b = zm::MakeRef<zm::TMemoryStream>();
  lateDoc->SaveToStream(a.get(), false);
  fullDoc->SaveToStream(b.get(), false);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(a->Memory()), std::size_t(a->GetSize())),
            std::string(reinterpret_cast<const char*>(b->Memory()), std::size_t(b->GetSize())));
  EXPECT_EQ(IniReadString(lateDoc->FindSection(u"Slide8")->FindObject(u"TheEffect"), u"time"), u"1200");
}
