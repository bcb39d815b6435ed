#include "OruLib2/OruClasses/OruSlideProducer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "OruLib2/OruClasses/OruSlideCache.h"
#include "OruLib2/OruClasses/OruObjectFactory.h"
#include "OruLib2/OruClasses/OruSlideHost.h"
#include "ZmLib/zmHookScope.h"
#include "tests/support/kit/IniText.h"
#include "tests/support/kit/ShowBuilder.h"

namespace {

using namespace oru;
using zm::TRef;
using zm::TSize;
using zmtest::TIniText;

class TManualTiming : public ITiming {
public:
  double Time = 0;
  double GetTime() override { return Time; }
};

// Slides ending at Ends with their own transitions of Effects (ms), design
// size W x H; Extra adds keys to `main` and further sections.
TIniText Show(const std::vector<long long>& ends, const std::vector<long long>& effects = {}, long long w = 320,
              long long h = 240, const std::function<void(TIniText&)>& extra = {}, const char* repeat = "repeat") {
  TIniText t;
  t.Section("main").Key("opt_repeat", repeat).Key("opt_scr_width", w).Key("opt_scr_height", h);
  if (extra) extra(t);
  t.Section("Times").Key("opt_slidescount", static_cast<long long>(ends.size()));
  for (std::size_t i = 0; i < ends.size(); ++i) t.Key("opt_synchpos" + std::to_string(i + 1), ends[i]);
  for (std::size_t i = 0; i < ends.size(); ++i) {
    t.Section("Slide" + std::to_string(i + 1)).Key("bstyle", 1).Key("bcolor", static_cast<long long>(0x102030 + i));
    t.Object("TheEffect", "AnEffect").Key("GUID", zmtest::NewShowGuid()).Key("time", i < effects.size() ? effects[i] : 0).End();
  }
  return t;
}

struct TProducerFixture {
  explicit TProducerFixture(const TIniText& text, std::int32_t w = 640, std::int32_t h = 480) {
    doc = zm::MakeRef<zm::TIniFile>();
    doc->LoadFromText(zm::TByteString(text.Bytes(false)));
    accessor = zm::MakeRef<TFileAccessor>(zm::MakeRef<TRealFileSource>().get());
    source = zm::MakeRef<TOruSource>(accessor.get(), false, doc.get(), false);
    producer = zm::MakeRef<TSlideProducer>(source.get(), nullptr, w, h, false);
    timing = zm::MakeRef<TManualTiming>();
    producer->SetTiming(timing.get());
  }
  TRef<zm::TIniFile> doc;
  TRef<TFileAccessor> accessor;
  TRef<TOruSource> source;
  TRef<TSlideProducer> producer;
  TRef<TManualTiming> timing;
};

std::string Raised(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return {};
}

bool Mentions(const std::string& text, const std::string& what) { return text.find(what) != std::string::npos; }

// ---- Layout ------------------------------------------------------------------------------------

TEST(SlideLayout, FitCoverAndTheEvenWidthRule) {
  const double wide = 16.0 / 9.0, four3 = 4.0 / 3.0;
  struct TCase {
    TSize Output;
    double Ratio;
    bool Cover;
    float Px, Py;
    TSize View;
  } cases[] = {
      {{640, 480}, wide, false, 100, 100, {640, 360}},  // bars above and below
      {{640, 480}, wide, true, 100, 100, {853, 480}},   // wider than the output: cropped
      {{1920, 1080}, four3, false, 100, 100, {1440, 1080}},
      {{1920, 1080}, four3, true, 100, 100, {1920, 1440}},
      {{1280, 767}, four3, false, 100, 100, {1024, 767}},  // 1023 made even; 767 fills the height
      {{1023, 767}, four3, false, 100, 100, {1023, 767}},  // odd, but as wide as the output
      {{640, 480}, four3, false, 50, 50, {640, 480}},      // the slide at half the output's share
      {{641, 481}, four3, false, 100, 100, {641, 481}},
      {{641, 479}, four3, false, 100, 100, {640, 479}},  // 638.67 -> 639, made even
      {{0, 480}, four3, false, 100, 100, {0, 0}},
      {{640, 0}, four3, true, 100, 100, {0, 0}},
      {{640, 480}, std::nan(""), false, 100, 100, {640, 480}},  // unusable ratio: 4:3
      {{640, 480}, four3, false, 0, -5, {640, 480}},            // unusable percentages: 100
      {{1, 1}, 1000.0, false, 100, 100, {1, 1}},  // never below a pixel
      {{100000, 100000}, four3, true, 100, 100, {kMaxOutputSide, kMaxOutputSide}},
  };
  for (const TCase& c : cases) {
    const TSize v = LayoutViewSize(c.Output, c.Ratio, c.Cover, c.Px, c.Py);
    EXPECT_EQ(v, c.View) << c.Output.cx << "x" << c.Output.cy << " ratio " << c.Ratio << " cover " << c.Cover << ": "
                         << v.cx << "x" << v.cy;
  }
}

TEST(SlideLayout, ProducerViewRectAndAspectSources) {
  {
    TProducerFixture f(Show({1000}, {}, 320, 180));  // 16:9
    f.producer->SetOutputSize({640, 480}, false, 100, 100);
    EXPECT_FALSE(f.producer->IsCover());
    EXPECT_EQ(f.producer->GetViewRect(), (zm::TRect{0, 60, 640, 420}));
    f.producer->SetOutputSize({640, 480}, true, 100, 100);
    EXPECT_TRUE(f.producer->IsCover());
    EXPECT_EQ(f.producer->ViewWidth, 853);
    EXPECT_EQ(f.producer->GetViewRect(), (zm::TRect{0, 0, 640, 480}));  // clipped to the output
    f.producer->SetOutputSize({0, 0}, true, 100, 100);
    EXPECT_EQ(f.producer->GetViewRect(), zm::TRect{});
  }
  {
    // Older shows take the output's aspect, or "opt_scr_ratio" when given.
    TProducerFixture older(Show({1000}, {}, 0, 0, [](TIniText& t) { t.Key("MinorVersion", 12); }));
    older.producer->SetOutputSize({800, 600}, false, 100, 100);
    EXPECT_EQ(older.producer->AspectRatio, 800.0 / 600.0);
    older.producer->SetOutputSize({800, 0}, false, 100, 100);
    EXPECT_EQ(older.producer->AspectRatio, 4.0 / 3.0);
    TProducerFixture ratio(
        Show({1000}, {}, 0, 0, [](TIniText& t) { t.Key("MinorVersion", 12).Key("opt_scr_ratio", "1.5"); }));
    ratio.producer->SetOutputSize({800, 600}, false, 100, 100);
    EXPECT_EQ(ratio.producer->AspectRatio, 1.5);
    EXPECT_EQ(ratio.producer->ViewWidth, 800);
    EXPECT_EQ(ratio.producer->ViewHeight, 534);  // 533 made even
  }
  {
    // A show without a usable side takes 1920 or 1080 for it, as its
    // transitions do: 0, absent, empty, not a number, past the largest screen.
    const auto sized = [](const char* w, const char* h) {
      TIniText t;
      t.Section("main").Key("opt_repeat", "repeat");
      if (w) t.Key("opt_scr_width", w);
      if (h) t.Key("opt_scr_height", h);
      t.Section("Times").Key("opt_slidescount", 1).Key("opt_synchpos1", 1000);
      return t;
    };
    struct TCase {
      TIniText Text;
      TSize Design;
    };
    const TCase cases[] = {{sized("320", "0"), {320, 1080}},     {sized(nullptr, "200"), {1920, 200}},
                           {sized("40000", "-5"), {1920, 1080}}, {sized(nullptr, nullptr), {1920, 1080}},
                           {sized("wide", ""), {1920, 1080}}};
    for (const TCase& c : cases) {
      TProducerFixture f(c.Text);
      EXPECT_EQ(f.producer->DesignWidth, c.Design.cx);
      EXPECT_EQ(f.producer->DesignHeight, c.Design.cy);
      f.producer->SetOutputSize({640, 480}, false, 100, 100);
      EXPECT_EQ(f.producer->AspectRatio, double(c.Design.cx) / c.Design.cy);
      EXPECT_EQ(f.source->EffectManager()->GetScreenWidth(), c.Design.cx);
      EXPECT_EQ(f.source->EffectManager()->GetScreenHeight(), c.Design.cy);
    }
    // A design size set to nothing still cannot be laid out.
    TProducerFixture zero(Show({1000}));
    zero.producer->SetDesignSize({320, 0});
    EXPECT_TRUE(Mentions(Raised([&] { zero.producer->SetOutputSize({640, 480}, false, 100, 100); }),
                         "ZeroSize of Presentation!"));
  }
  {
    // Fixed size: the design size fitted, enlarged or not.
    TProducerFixture fixed(Show({1000}, {}, 320, 240, [](TIniText& t) { t.Key("opt_scr_fullfixedsize", 1); }));
    fixed.producer->SetOutputSize({1280, 720}, false, 100, 100);
    EXPECT_EQ(fixed.producer->ViewWidth, 960);
    EXPECT_EQ(fixed.producer->ViewHeight, 720);
    fixed.producer->FixedNoEnlarge = 1;
    fixed.producer->SetOutputSize({1280, 720}, false, 100, 100);
    EXPECT_EQ(fixed.producer->ViewWidth, 320);
    EXPECT_EQ(fixed.producer->GetViewRect(), (zm::TRect{480, 240, 800, 480}));
  }
}

TEST(SlideLayout, HugeAndEmptyOutputsBuildSlidesWithoutHugeAllocations) {
  TProducerFixture f(Show({1000, 2000}, {0, 500}));
  for (TSize size : {TSize{100000, 100000}, TSize{0, 0}, TSize{-5, 100000}, TSize{1, 1}}) {
    f.producer->SetOutputSize(size, false, 100, 100);
    EXPECT_LE(f.producer->ViewWidth, kMaxOutputSide);
    EXPECT_LE(f.producer->ViewHeight, kMaxOutputSide);
    EXPECT_GE(f.producer->ViewWidth, 0);
    const zm::TRect r = f.producer->GetViewRect();
    EXPECT_TRUE(r.Left <= r.Right && r.Top <= r.Bottom);
    TRef<TDrawContainer> c = f.producer->CreateContainer(1);
    ASSERT_TRUE(c->Slide);
    c->SetTime(1200);
    EXPECT_EQ(f.producer->Host()->SlideEffectBufferSize(), (TSize{f.producer->OutputWidth, f.producer->OutputHeight}));
  }
}

// ---- Times -------------------------------------------------------------------------------------

TEST(SlideTimes, RepetitionAndTheLeadInSlide) {
  TProducerFixture f(Show({1000, 2000, 3000, 4000}, {200, 300, 400, 500}));
  const TSlideSpan five = f.producer->GetSlideTimes(5);  // slide 2 of the second pass
  EXPECT_EQ(five.Start, 1000 + 4000);
  EXPECT_EQ(five.End, 2000 + 4000);
  EXPECT_EQ(five.OwnLength, 300);   // durations are not moved
  EXPECT_EQ(five.NextLength, 400);
  EXPECT_EQ(five.VisibleUntil, 2400 + 4000);
  const TSlideSpan lead = f.producer->GetSlideTimes(-1);
  EXPECT_EQ(lead.Start, -1073741823);
  EXPECT_EQ(lead.End, 0);
  EXPECT_EQ(lead.OwnLength, 0);
  EXPECT_EQ(lead.NextLength, 200);
  EXPECT_EQ(lead.VisibleUntil, 200);
  const TSlideSpan before = f.producer->GetSlideTimes(-7);
  EXPECT_EQ(before.Start, -2147483647);
  EXPECT_EQ(before.End, -1073741823);
  EXPECT_EQ(before.VisibleUntil, -1073741823);
  EXPECT_EQ(before.OwnLength + before.NextLength, 0);

  // Container 5 shows the second slide, moved by one show length.
  TRef<TDrawContainer> c = f.producer->CreateContainer(5);
  EXPECT_EQ(c->Index, 5);
  EXPECT_EQ(c->LoopOffset, 4000);
  ASSERT_TRUE(c->Slide);
  EXPECT_EQ(c->Slide->Index, 1);
  EXPECT_EQ(c->Times.Start, five.Start);
  f.timing->Time = 5100;
  EXPECT_EQ(c->CurrentTime(), 5100);
  c->SetTime(5100);
  EXPECT_EQ(c->Slide->LocalTime, 5100 - 4000 - 1000);
  c->SetTime(std::nan(""));  // ignored
  EXPECT_EQ(c->Slide->LocalTime, 100);

  // The lead-in slide: empty, before the show, with the first slide's background.
  TRef<TDrawContainer> lead0 = f.producer->CreateContainer(-1);
  ASSERT_TRUE(lead0->Slide);
  EXPECT_EQ(lead0->Slide->ChildCount(), 0);
  EXPECT_LT(lead0->Slide->Begin, 0);
  EXPECT_EQ(lead0->Slide->Background.Colour1, 0x102030u);
  EXPECT_EQ(lead0->Slide->Width, f.producer->ViewWidth);
  EXPECT_FALSE(lead0->Filter);
}

TEST(SlideTimes, AbsurdTimeLinesGiveAnswersQuickly) {
  // Slides of 1 ms, a jump a thousand million passes ahead and back.
  TProducerFixture f(Show({1, 2, 3}));
  std::int32_t a = 0, b = 0;
  f.producer->GetSlideRange(3e9, a, b);
  EXPECT_GT(a, 900000000);
  f.producer->GetSlideRange(1e300, a, b);
  EXPECT_GT(a, 2000000000);
  EXPECT_LE(static_cast<std::int64_t>(a) + kSlideCacheMaxCapacity, std::numeric_limits<std::int32_t>::max());
  f.producer->GetSlideRange(-std::numeric_limits<double>::infinity(), a, b);
  EXPECT_EQ(a, -1);
  f.producer->GetSlideRange(std::numeric_limits<double>::infinity(), a, b);
  EXPECT_GT(a, 2000000000);
  TRef<TDrawContainer> far = f.producer->CreateContainer(a + 2);
  EXPECT_TRUE(far->Slide);
  EXPECT_TRUE(std::isfinite(far->LoopOffset));

  // A show of zero length stays answerable.
  TProducerFixture flat(Show({0, 0}));
  flat.producer->GetSlideRange(10, a, b);
  EXPECT_GE(a, 0);
  flat.producer->GetSlideRange(-10, a, b);
  EXPECT_EQ(a, -1);
  // Times of two thousand million ms.
  TProducerFixture longShow(Show({2000000000, 2100000000}, {0, 1000000000}));
  longShow.producer->GetSlideRange(2050000000, a, b);
  EXPECT_EQ(a, 0);
  EXPECT_EQ(b, 1);
}

// What every object of the container shows at show time T: its parameters
// and whether it is on.
std::vector<double> ObjectStates(TDrawContainer& c, double t) {
  c.SetTime(t);
  std::vector<double> state;
  const std::function<void(TOruObject*)> walk = [&](TOruObject* o) {
    if (TOruObjectProps* p = o->Props())
      for (std::int32_t i = 0; i < kKeyFrameParamCount; ++i) state.push_back(p->Param(i));
    state.push_back(o->Active);
    for (std::int32_t i = 0; i < o->ChildCount(); ++i) walk(o->Child(i));
  };
  walk(c.Slide.get());
  return state;
}

TEST(SlideTimes, ObjectChangeTimesAreWhereTheObjectsChangeOnTheShowTimeLine) {
  // Slide 2 (1000 - 4000, 300 ms in, 400 ms out): a box shown from 200 ms
  // after the slide's begin to 100 ms before its end, standing still until
  // 800 ms and then moving, with a nested box whose key frames count from
  // the transitions. Slide 3 scales its key-frame times by two.
  TIniText t;
  t.Section("main").Key("opt_repeat", "repeat").Key("opt_scr_width", 320).Key("opt_scr_height", 240);
  t.Section("Times").Key("opt_slidescount", 3).Key("opt_synchpos1", 1000).Key("opt_synchpos2", 4000);
  t.Key("opt_synchpos3", 6000);
  const long long effects[3] = {0, 300, 400};
  for (int i = 0; i < 3; ++i) {
    t.Section("Slide" + std::to_string(i + 1));
    if (i == 2) t.Key("ScaleMode", 1).Key("ScaleTimes", "1000,0,0");
    t.Object("TheEffect", "AnEffect").Key("GUID", zmtest::NewShowGuid()).Key("time", effects[i]).End();
    if (i == 1) {
      t.Object("Outer", "Box").Key("GUID", zmtest::NewShowGuid()).Key("Size", "100,50");
      t.Key("DeltaTime1", 200).Key("DeltaTime2", 100);
      t.Object("KeyPoint", "KeyPoint").Key("Time", 0).Key("Position", "0,0").End();
      t.Object("KeyPoint", "KeyPoint").Key("Time", 800).Key("Position", "0,0").End();
      t.Object("KeyPoint", "KeyPoint").Key("Time", 1200).Key("Position", "10,0").End();
      t.Object("Inner", "Box").Key("GUID", zmtest::NewShowGuid()).Key("Size", "10,10");
      t.Object("KeyPoint", "KeyPoint").Key("Origin", "PrevEffectEnd").Key("Time", 100).Key("Opacity", 100).End();
      t.Object("KeyPoint", "KeyPoint").Key("Origin", "NextEffectBegin").Key("Time", -500).Key("Opacity", 100).End();
      t.Object("KeyPoint", "KeyPoint").Key("Origin", "NextEffectBegin").Key("Time", 0).Key("Opacity", 0).End();
      t.End().End();
    }
    if (i == 2) {
      t.Object("Scaled", "Box").Key("GUID", zmtest::NewShowGuid()).Key("Size", "10,10");
      t.Object("KeyPoint", "KeyPoint").Key("Time", 300).Key("Angle", 0).End();
      t.Object("KeyPoint", "KeyPoint").Key("Time", 700).Key("Angle", 90).End();
      t.End();
    }
  }
  TProducerFixture f(t);

  TRef<TDrawContainer> two = f.producer->CreateContainer(1);
  ASSERT_TRUE(two->Slide);
  EXPECT_EQ(two->ChangeTimes, (std::vector<double>{1000, 1200, 1400, 1800, 2200, 3500, 4000, 4300, 4400}));
  // The same slide in the show's next pass, one show length on.
  TRef<TDrawContainer> five = f.producer->CreateContainer(4);
  std::vector<double> later = two->ChangeTimes;
  for (double& v : later) v += 6000;
  EXPECT_EQ(five->ChangeTimes, later);
  TRef<TDrawContainer> three = f.producer->CreateContainer(2);
  EXPECT_EQ(three->ChangeTimes, (std::vector<double>{4000, 4600, 5400, 6000}));

  // Whatever stood still for a millisecond and changes in the next one has
  // a change time within that one.
  for (TDrawContainer* c : {two.get(), five.get(), three.get()}) {
    std::vector<double> before = ObjectStates(*c, c->Times.Start);
    bool still = false;
    int starts = 0;
    for (double ms = c->Times.Start + 1; ms <= c->Times.VisibleUntil; ++ms) {
      std::vector<double> now = ObjectStates(*c, ms);
      const bool changed = now != before;
      if (changed && still) {
        ++starts;
        const auto at = std::lower_bound(c->ChangeTimes.begin(), c->ChangeTimes.end(), ms - 1);
        EXPECT_TRUE(at != c->ChangeTimes.end() && *at <= ms) << "slide " << c->Index << " changes at " << ms;
      }
      still = !changed;
      before = std::move(now);
    }
    EXPECT_EQ(starts, c == three.get() ? 1 : 4) << c->Index;  // on, moves, fades, off
  }

  // The lead-in slide changes only where it begins and ends.
  EXPECT_EQ(f.producer->CreateContainer(-1)->ChangeTimes, (std::vector<double>{kBeforeShowStart, 0}));
}

TEST(SlideTimes, OnlySlidesWithoutPlayingPicturesOrModifiersStandStillBetweenTheirChangeTimes) {
  // Slide 1 moves by key frames only; slide 2 adds a formula of the time;
  // slide 3 shows an animated picture strip.
  TIniText t;
  t.Section("main").Key("opt_repeat", "repeat").Key("opt_scr_width", 320).Key("opt_scr_height", 240);
  t.Section("Times").Key("opt_slidescount", 3).Key("opt_synchpos1", 1000).Key("opt_synchpos2", 2000);
  t.Key("opt_synchpos3", 3000);
  for (int i = 0; i < 3; ++i) {
    t.Section("Slide" + std::to_string(i + 1));
    if (i == 2) {
      t.Object("Strip", "Image").Key("GUID", zmtest::NewShowGuid()).Key("ImageName", "strip.png");
      t.Key("AnimEnable", 1).Key("AnimColumns", 4).Key("AnimCount", 4).Key("AnimInterval", "100").End();
      continue;
    }
    t.Object("Mover", "Box").Key("GUID", zmtest::NewShowGuid()).Key("Size", "20,20");
    t.Object("KeyPoint", "KeyPoint").Key("Time", 0).Key("Position", "0,0");
    if (i == 1) t.Object("Wobble", "Mod").Key("dst", "Pos.X").Key("fn", "T*4").End();
    t.End();
    t.Object("KeyPoint", "KeyPoint").Key("Time", 500).Key("Position", "10,0").End();
    t.End();
  }
  TProducerFixture f(t);
  for (std::int32_t i = 0; i < 3; ++i) {
    TRef<TDrawContainer> c = f.producer->CreateContainer(i);
    ASSERT_TRUE(c->Slide);
    EXPECT_EQ(c->StillBetweenChanges, i == 0) << "slide " << i + 1;
  }
}

// ---- Range -------------------------------------------------------------------------------------

TEST(SlideRange, TransitionsAndTheCursor) {
  TProducerFixture f(Show({1000, 2000, 3000, 4000}, {200, 300, 400, 500}));
  struct TCase {
    double Time;
    std::int32_t First, Second;
  } cases[] = {
      {0, -1, 0},    {100, -1, 0},  {199, -1, 0},   {201, 0, 0},     {1000, 0, 1},    {1100, 0, 1},
      {1299.4, 0, 1}, {1300.6, 1, 1}, {1999, 1, 1},  {2399, 1, 2},    {4000, 3, 4},    {4100, 3, 4},
      {4201, 4, 4},  {9100, 8, 9},  {-5e9, -1, -1}, {5.5e6, 5499, 5500},
  };
  // In order, in reverse and shuffled: the answer never depends on where
  // the cursor was.
  std::vector<TCase> order(std::begin(cases), std::end(cases));
  std::mt19937 rng(5);
  for (int round = 0; round < 3; ++round) {
    if (round == 1) std::reverse(order.begin(), order.end());
    if (round == 2) std::shuffle(order.begin(), order.end(), rng);
    for (const TCase& c : order) {
      std::int32_t a = 99, b = 99;
      f.producer->GetSlideRange(c.Time, a, b);
      EXPECT_EQ(a, c.First) << c.Time;
      EXPECT_EQ(b, c.Second) << c.Time;
    }
  }
  // Times count in whole milliseconds: 1300.4 is still the end of the
  // transition when coming from before it.
  std::int32_t a = 0, b = 0;
  f.producer->GetSlideRange(500, a, b);
  f.producer->GetSlideRange(1300.4, a, b);
  EXPECT_EQ(a, 0);
  EXPECT_EQ(b, 1);
  // NaN keeps the last answer.
  f.producer->GetSlideRange(1500, a, b);
  f.producer->GetSlideRange(std::nan(""), a, b);
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 1);
}

TEST(SlideRange, AgreesWithSingleStepsFromEveryCursor) {
  TProducerFixture f(Show({700, 1500, 1500, 4000, 4100}, {0, 300, 0, 900, 100}));
  // The definition: step back while the slide before is visible, forward
  // while the cursor's slide is over.
  std::int32_t cursor = 0;
  const auto vu = [&](std::int32_t i) { return std::nearbyint(f.producer->GetSlideTimes(i).VisibleUntil); };
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> time(-500, 4100 * 12);
  for (int k = 0; k < 2000; ++k) {
    const double t = k % 7 == 0 ? std::nearbyint(time(rng) / 100) * 100 : time(rng);
    const double r = std::nearbyint(t);
    while (cursor > -1 && vu(cursor - 1) > r) --cursor;
    while (r > vu(cursor)) ++cursor;
    const TSlideSpan next = f.producer->GetSlideTimes(cursor + 1);
    const std::int32_t second =
        !(r < std::nearbyint(next.Start)) && !(r > std::nearbyint(next.VisibleUntil)) ? cursor + 1 : cursor;
    std::int32_t a = 0, b = 0;
    f.producer->GetSlideRange(t, a, b);
    ASSERT_EQ(a, cursor) << t;
    ASSERT_EQ(b, second) << t;
  }
}

// ---- Building ----------------------------------------------------------------------------------

TEST(SlideProducer, BadShowsAndMissingPartsReportThemselves) {
  TProducerFixture empty(Show({}));
  EXPECT_TRUE(Mentions(Raised([&] { empty.producer->CreateSlide(0, 0); }), "No Slides in Presentation"));
  EXPECT_TRUE(Mentions(Raised([&] { empty.producer->CreateContainer(3); }), "No Slides in Presentation"));
  EXPECT_TRUE(empty.producer->CreateContainer(-1)->Slide);  // the lead-in slide needs no slide
  std::int32_t a = 0, b = 0;
  empty.producer->GetSlideRange(5000, a, b);
  EXPECT_EQ(a, 0);

  TProducerFixture f(Show({1000}));
  f.producer->SetTiming(nullptr);
  EXPECT_TRUE(Mentions(Raised([&] { f.producer->CreateContainer(0); }), "TSlideProducer.CurrentTiming not Assigned"));
  EXPECT_THROW(zm::MakeRef<TSlideProducer>(nullptr, nullptr, 640, 480, false), std::exception);

  // A slide whose section is missing gives a container without a slide.
  TProducerFixture missing([] {
    TIniText t;
    t.Section("main").Key("opt_scr_width", 320).Key("opt_scr_height", 240);
    t.Section("Times").Key("opt_slidescount", 2).Key("opt_synchpos1", 1000).Key("opt_synchpos2", 2000);
    t.Section("Slide1").Object("TheEffect", "AnEffect").Key("GUID", zmtest::NewShowGuid()).Key("time", 0).End();
    return t;
  }());
  TRef<TDrawContainer> c = missing.producer->CreateContainer(1);
  EXPECT_FALSE(c->Slide);
  EXPECT_EQ(c->Times.End, 2000);
  c->SetTime(1500);  // nothing to bring to its time
}

// A slide whose build fails on what its data does leaves its container
// without a slide, and the show goes on; a stop or a fault of the show's
// structure (the silent exception) still ends the pass.
TEST(SlideProducer, ASlideThatCannotBeBuiltLeavesItsContainerEmpty) {
  TProducerFixture f([] {
    TIniText t;
    t.Section("main").Key("opt_scr_width", 320).Key("opt_scr_height", 240);
    t.Section("Times").Key("opt_slidescount", 1).Key("opt_synchpos1", 1000);
    t.Section("Slide1");
    t.Object("TheEffect", "AnEffect").Key("GUID", zmtest::NewShowGuid()).Key("time", 0).End();
    t.Object("Box1", "Box").Key("Color1", "#FF0000").End();
    return t;
  }());
  static bool abort = false;
  zm::THookScope<TCreateOruObjectProc> hook(CreateOruObjectHook, [](std::int32_t, TOruObject*, TOruObjectProps*) -> TRef<TOruObject> {
    if (abort) throw zm::EAbort("stopped");
    throw zm::EStreamReadError();
  });
  TRef<TDrawContainer> c = f.producer->CreateContainer(0);
  ASSERT_TRUE(c);
  EXPECT_FALSE(c->Slide);
  EXPECT_EQ(c->Times.End, 1000);
  abort = true;
  EXPECT_THROW(f.producer->CreateContainer(0), zm::EAbort);
  abort = false;
  hook.Restore();
  EXPECT_TRUE(f.producer->CreateContainer(0)->Slide);
}

TEST(SlideProducer, ContainersCarryTheTransitionFilterThroughTheHooks) {
  struct TFilter : zm::TFilterParams {
    double Elapsed = -1, Duration = -1;
    TOruEffect* Effect = nullptr;
  };
  static int made = 0;
  zm::THookScope filterHooks(SlideFilterHooks);
  SlideFilterHooks.Create = [](TOruEffect* effect, double duration) -> TRef<zm::TFilterParams> {
    ++made;
    TRef<TFilter> p = zm::MakeRef<TFilter>();
    p->Effect = effect;
    p->Duration = duration;
    return p;
  };
  SlideFilterHooks.SetProgress = [](zm::TFilterParams* filter, double elapsed, double duration) {
    auto* p = static_cast<TFilter*>(filter);
    p->Elapsed = elapsed;
    p->Duration = duration;
  };
  TProducerFixture f(Show({1000, 2000, 3000}, {0, 400, 0}));
  made = 0;
  TRef<TDrawContainer> c = f.producer->CreateContainer(4);  // slide 2 of the second pass
  ASSERT_TRUE(c->Filter);
  auto* filter = static_cast<TFilter*>(c->Filter.get());
  EXPECT_EQ(filter->Effect, c->Slide->Effect.get());
  c->SetTime(3000 + 1000 + 150);
  EXPECT_EQ(filter->Elapsed, 150);
  EXPECT_EQ(filter->Duration, 400);
  f.producer->CreateContainer(-1);  // the lead-in slide has no transition
  EXPECT_EQ(made, 1);
  filterHooks.Restore();
  // Without hooks there is no filter, and time still reaches the slide.
  TRef<TDrawContainer> plain = f.producer->CreateContainer(1);
  EXPECT_FALSE(plain->Filter);
  plain->SetTime(1200);
  EXPECT_EQ(plain->Slide->LocalTime, 200);
}

// ---- Dialogs -----------------------------------------------------------------------------------

TEST(SlideDialogs, SectionLookup) {
  const auto dialogs = [](bool withSecond) {
    return Show({1000}, {}, 320, 240, [withSecond](TIniText& t) {
      t.Key("opt_customdialogscount", 2).Key("custom_dialog1", "About").Key("custom_dialog2", "Credits");
      t.Section("dialog_1_").Key("help", 0).Key("DialogPause", 0);
      if (withSecond) t.Section("dialog_2_").Key("x", 1);
      t.Section("dialog_3_").Key("help", 1);
      t.Section("dialog_Other").Key("x", 1);
    });
  };
  TProducerFixture f(dialogs(true));
  zm::TIniFile* doc = f.doc.get();
  EXPECT_EQ(f.producer->FindDialogSection(u"help"), doc->FindSection(u"dialog_3_"));
  EXPECT_EQ(f.producer->FindDialogSection(u"HELP"), doc->FindSection(u"dialog_3_"));
  EXPECT_EQ(f.producer->FindDialogSection(u"credits"), doc->FindSection(u"dialog_2_"));
  EXPECT_EQ(f.producer->FindDialogSection(u"About"), doc->FindSection(u"dialog_1_"));
  EXPECT_EQ(f.producer->FindDialogSection(u"Other"), doc->FindSection(u"dialog_Other"));
  EXPECT_EQ(f.producer->FindDialogSection(u"Nothing"), nullptr);
  EXPECT_EQ(f.producer->FindDialogSection(u""), nullptr);

  // The search for help ends at the first missing section.
  TProducerFixture gap(dialogs(false));
  EXPECT_EQ(gap.producer->FindDialogSection(u"help"), nullptr);

  // An absurd count of custom dialogs is no long search.
  TProducerFixture absurd(Show({1000}, {}, 320, 240, [](TIniText& t) {
    t.Key("opt_customdialogscount", 2000000000).Key("custom_dialog1", "About");
    t.Section("dialog_1_").Key("x", 1);
  }));
  EXPECT_EQ(absurd.producer->FindDialogSection(u"about"), absurd.doc->FindSection(u"dialog_1_"));
  EXPECT_EQ(absurd.producer->FindDialogSection(u"zzz"), nullptr);

  f.producer->SetOutputSize({640, 480}, false, 100, 100);
  TRef<TOruDialog> about = f.producer->CreateDialog(u"About");
  ASSERT_TRUE(about);
  EXPECT_FALSE(about->Pause);  // "DialogPause" 0
  EXPECT_EQ(about->Name, u"About");
  EXPECT_EQ(about->Width, 640);
  EXPECT_EQ(about->Opacity, 0);
  TRef<TOruDialog> help = f.producer->CreateDialog(u"help");
  ASSERT_TRUE(help);
  EXPECT_TRUE(help->Pause);  // the default
  EXPECT_FALSE(f.producer->CreateDialog(u"Nothing"));
}

}  // namespace
