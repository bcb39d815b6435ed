#include "OruLib2/OruViewer/OruEngine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "Platform/PlatSystem.h"
#include "ZmLib/Music/zmMusicPlayer.h"
#include "ZmLib/3DBasics/DeviceDrawer.h"
#include "tests/ZmLib/3DBasics/DeviceDrawerDoubles.h"
#include "tests/OruLib2/OruViewer/OruMusicPlayerTestKit.h"
#include "tests/support/kit/IniText.h"

using namespace zm;
using namespace oru;

namespace {

// ---- Doubles: a loader that hands over the slides of the clock's time at
// once, and a root that presents every frame. ----

class TEtList : public TRefObject {
public:
  std::vector<TOruPreparedSlide> Slides;
};

class TEtSlide : public TRefObject {};

class TEtLoader : public TOruEngineLoader {
public:
  TEtLoader(TOruSource* source, TThreadEventList* queue, std::int32_t eventId)
      : source_(source), queue_(queue), eventId_(eventId) {}

  bool Start() override {
    ++Starts;
    running_ = true;
    return true;
  }
  bool Running() override { return running_; }
  void Terminate() override { running_ = false; }
  double CurrentTime() override { return current_; }
  void SetCurrentTime(double time) override {
    current_ = time;
    if (AutoList) Deliver(time);
  }
  double RequestedTime() override { return requested_; }
  void SetRequestedTime(double time) override { requested_ = time; }
  std::int32_t Width() override { return 320; }
  std::int32_t Height() override { return 240; }
  std::int32_t WindowKind() override { return 1; }
  void SetSize(std::int32_t width, std::int32_t height) override { Size = TSize{width, height}; }
  void Layout(bool) override {}
  TRect ViewRect() override { return TRect{0, 0, Size.cx, Size.cy}; }
  std::int32_t Capacity() override { return 3; }
  void SetPreloadCallback(std::function<void(TRefObject*)> callback) override { Preload = std::move(callback); }
  bool TakeList(TRefObject* data, std::vector<TOruPreparedSlide>& slides) override {
    auto* l = dynamic_cast<TEtList*>(data);
    if (!l) return false;
    slides = l->Slides;
    return true;
  }
  bool SlidesReady(double) override { return Ready; }
  void PrepareSlide(TRefObject*, TDeviceDrawer*) override { ++Prepares; }
  void PrepareNewSlide(TRefObject*, TDeviceDrawer* drawer) override {
    ++NewPrepares;
    NewPrepareDrawer = drawer;
  }
  void StartSlide(TRefObject*, double) override { ++SlideStarts; }
  void ReleaseSlide(TRefObject*, TDeviceDrawer*) override {}
  bool HitSlide(TRefObject*, const TMouseData&, double, WideString& className, TOruActionInfo& action) override {
    if (Hit.Code == acNone && !Over) return false;
    className = u"TButton";
    action = Hit;
    return true;
  }

  // The slide at the time and the two after it, posted when that changes.
  void Deliver(double time) {
    const std::int32_t first = source_->SlideAtTime(time);
    if (first == lastFirst_) return;
    lastFirst_ = first;
    TRef<TEtList> list = MakeRef<TEtList>();
    for (std::int32_t i = first; i < first + 3; ++i) {
      TOruPreparedSlide s;
      s.Container = MakeRef<TEtSlide>();
      s.Index = i;
      source_->GetSlideSpan(i, s.Times);
      s.StillBetweenChanges = Still;
      list->Slides.push_back(s);
    }
    queue_->Post(eventId_, list.Detach());
  }

  bool AutoList = true;
  bool Ready = true;
  bool Still = false;  // the slides say they change only at their change times
  int Starts = 0;
  int SlideStarts = 0;
  std::atomic<int> Prepares{0};
  std::atomic<int> NewPrepares{0};
  TDeviceDrawer* NewPrepareDrawer = nullptr;
  TSize Size;
  TOruActionInfo Hit;
  bool Over = false;  // an object with an action under the pointer, Hit or not
  std::function<void(TRefObject*)> Preload;

private:
  TOruSource* source_;
  TThreadEventList* queue_;
  std::int32_t eventId_;
  bool running_ = false;
  double current_ = 0;
  double requested_ = 0;
  std::int32_t lastFirst_ = INT32_MIN;
};

class TEtRoot : public TOruEngineRoot {
public:
  bool Update(const std::vector<TOruPreparedSlide>& slides) override {
    Count = slides.size();
    Indexes.clear();
    for (const TOruPreparedSlide& s : slides) Indexes.push_back(s.Index);
    return Changes;
  }
  bool Draw(TOruDrawController*, const TRect&, std::uint32_t color, double) override {
    ++Draws;
    Color = color;
    return Present;
  }
  TRefObject* Render(TOruDrawController*, const TRect&, std::uint32_t, double) override { return nullptr; }
  void PrepareTransitions(TOruDrawController*, const std::vector<TOruPreparedSlide>& slides) override {
    Readied.push_back({Draws, slides.size()});
  }
  bool Present = true;
  bool Changes = true;  // false: a still picture, nothing moves
  int Draws = 0;
  std::vector<std::pair<int, std::size_t>> Readied;  // draws so far, slides
  std::size_t Count = 0;
  std::vector<std::int32_t> Indexes;  // of the slides last handed over
  std::uint32_t Color = 0;
};

class TEtParts : public TOruShowParts {
public:
  TRef<TOruEngineLoader> MakeLoader(TOruSource* source, std::int32_t, std::int32_t, std::int32_t,
                                    TThreadEventList* listener, std::int32_t eventId) override {
    ++Loaders;
    Last = MakeRef<TEtLoader>(source, listener, eventId);
    Last->AutoList = AutoList;
    Last->Still = Still;
    return TRef<TOruEngineLoader>(Last.get());
  }
  TRef<TOruEngineRoot> MakeRoot() override { return TRef<TOruEngineRoot>(Root.get()); }
  TRef<TEtLoader> Last;
  TRef<TEtRoot> Root = MakeRef<TEtRoot>();
  int Loaders = 0;
  bool AutoList = true;
  bool Still = false;
};

class TEtDevice : public TDrawDevice {
public:
  TEtDevice() : TDrawDevice(nullptr) {}
  bool IsActive() override { return Active; }
  bool Active = true;
};

class TEtLink : public TOruDrawerLink {
public:
  TDeviceDrawer* Drawer() override { return Given.get(); }
  bool Open(TDrawDevice* device) override { return device != nullptr; }
  bool ScreenReady() override { return Ready; }
  TRect ScreenRect() override { return TRect{0, 0, 320, 240}; }
  bool Ready = true;
  TRef<TDeviceDrawer> Given;
};

struct TEtReport {
  std::int32_t Time;
  bool Ended;
  std::int32_t End;
};

// Slides ending at the given times; per slide an optional end action.
std::string Show(const std::vector<long long>& ends, const char* repeat,
                 const std::vector<std::pair<int, const char*>>& endActions = {}, bool pauseWhenInactive = false,
                 int runAppSlide = -1) {
  TIniText t;
  t.Section("main").Key("opt_repeat", repeat).Key("opt_pausewheninactive", pauseWhenInactive ? 1 : 0);
  t.Section("Times").Key("opt_slidescount", static_cast<long long>(ends.size()));
  for (std::size_t i = 0; i < ends.size(); ++i) t.Key("opt_synchpos" + std::to_string(i + 1), ends[i]);
  for (std::size_t i = 0; i < ends.size(); ++i) {
    t.Section("Slide" + std::to_string(i + 1));
    for (const auto& [slide, action] : endActions)
      if (slide == static_cast<int>(i)) t.Key("Pers_EndAction", action);
    if (runAppSlide == static_cast<int>(i)) t.Key("Pers_RunApp", 1).Key("RunAppFN", "tool.sh");
  }
  return t.Bytes(false);
}

class OruEngine : public ::testing::Test {
protected:
  void SetUp() override {
    device = MakeRef<TEtDevice>();
    device->SetBounds(TRect{0, 0, 320, 240}, TPoint{}, false);
    engine = MakeRef<TOruEngine>(device.get(), 0, true, false, listener.get(), TRef<TOruShowParts>(parts.get()),
                                 [this] { return TRef<TOruDrawerLink>(link.get()); });
    engine->SetFrameStep(10);  // exact clock, no sleeping while frames are drawn
    // On the real clock a pass ends in a wait for events: noted, not waited.
    engine->OnPassWait = [this](std::uint32_t ms) { waits.push_back(ms); };
    engine->OnPosition = [this](TCustomOruEngine*, std::int32_t time, bool ended, std::int32_t end) {
      reports.push_back({time, ended, end});
    };
    engine->OnFirstFrame = [this](TCustomOruEngine*) { ++firstFrames; };
    engine->OnEngineEvent = [this](TCustomOruEngine*, TOruEventData* e) {
      if (e->Id == TOruEngine::kActionEvent) {
        auto* s = dynamic_cast<TStrValue*>(e->Data);
        actions.push_back(std::to_string(e->Params.at(0)) + ":" +
                          (s ? std::string(s->Value.begin(), s->Value.end()) : std::string("?")));
      }
      if (e->Id == TOruEngine::kWindowEvent) windowEvents.push_back(e->Params);
    };
  }
  void TearDown() override {
    if (engine) {
      EXPECT_TRUE(engine->Stop(5000));
    }
    engine = nullptr;
  }

  TRef<TIniFile> Doc(const std::string& text) {
    TRef<TIniFile> f = MakeRef<TIniFile>();
    f->LoadFromText(TByteString(text));
    return f;
  }
  TRef<TFileAccessor> Accessor() { return MakeRef<TFileAccessor>(MakeRef<TRealFileSource>().get()); }

  void Open(const std::string& show, std::int32_t time, bool paused = false) {
    engine->RequestOpen(Accessor().get(), Doc(show).get(), time, paused);
  }
  // One pass after the clock moved by Ms; the listener's events are taken.
  void Pass(double ms = 10) {
    clock.Advance(static_cast<std::uint32_t>(ms));
    engine->Step();
    listener->ProcessEvents();
  }
  double Shown() { return engine->Loader() ? engine->Loader()->CurrentTime() : -1; }
  // Passes until the shown time reaches Time (at most Limit passes).
  void RunUntil(double time, double ms = 10, int limit = 10000) {
    for (int i = 0; i < limit && Shown() < time; ++i) Pass(ms);
  }

  // No sound device: the show runs on the tick count, which the test moves.
  orutest::TClockPlayerHook noSound{false};
  plat::TManualClock clock{1000};
  TRef<TThreadEventList> listener = MakeRef<TThreadEventList>();
  TRef<TEtParts> parts = MakeRef<TEtParts>();
  TRef<TEtLink> link = MakeRef<TEtLink>();
  TRef<TEtDevice> device;
  TRef<TOruEngine> engine;
  std::vector<TEtReport> reports;
  std::vector<std::string> actions;
  std::vector<std::vector<std::int32_t>> windowEvents;
  std::vector<std::uint32_t> waits;
  int firstFrames = 0;
};

// ---- Clock, barriers and the end ----

TEST(OruMusicPlayerTest, TickClockRunsOnlyWhileActiveAndAcrossTheTickWrap) {
  orutest::TClockPlayerHook noSound(false);
  // The tick count just before it wraps.
  plat::TManualClock ticks(0xFFFFFD00u);
  zmtest::TShowBuilder show;
  show.AddSlide(10000);
  TRef<TOruMusicPlayer> player = orutest::NewPlayer(show);
  ticks.Advance(500);
  EXPECT_EQ(player->Clock(), 0);  // stands while not active
  player->Resync(900, 100);
  EXPECT_TRUE(player->Ready());
  player->Activate();
  ticks.Advance(0x200);  // the 32-bit count wraps meanwhile
  EXPECT_EQ(player->Clock(), 100 + 0x200);
  player->Deactivate();
  ticks.Advance(1000);
  EXPECT_EQ(player->Clock(), 100 + 0x200);
  EXPECT_EQ(player->BarrierTime(), 900);
  // A move while active (a loop) keeps the clock running from there.
  player->Activate();
  player->Resync(5000, 50);
  EXPECT_TRUE(player->IsActive());
  ticks.Advance(30);
  EXPECT_EQ(player->Clock(), 80);
  // Without a device there is no volume; bad values change nothing.
  player->SetVolume(std::nanf(""));
  player->SetVolume(7);
  EXPECT_EQ(player->Volume(), 0.0f);
}

TEST_F(OruEngine, ShowWhoseMusicCannotBeReadPlaysOnSilent) {
  // No slide sections: the slides show, the music cannot be read.
  TIniText t;
  t.Section("main").Key("opt_repeat", "close").Key("opt_pausewheninactive", 0);
  t.Section("Times").Key("opt_slidescount", 2).Key("opt_synchpos1", 1000).Key("opt_synchpos2", 2000);
  Open(t.Bytes(false), 0);
  RunUntil(1500, 10, 400);
  EXPECT_GE(Shown(), 1500);
  ASSERT_NE(engine->Player(), nullptr);
  EXPECT_EQ(engine->Player()->Source()->SlideCount(), 0);
}

TEST_F(OruEngine, PauseSlideStopsTheClockAtItsEndUntilAMoveNotAPauseRequest) {
  Open(Show({1000, 2000, 3000, 4000}, "repeat", {{1, "pause"}}), 0);
  RunUntil(3000, 10, 400);
  EXPECT_EQ(Shown(), 2000);  // exactly the slide's end, though the clock ran on
  EXPECT_TRUE(engine->StoppedAtBarrier());
  EXPECT_FALSE(engine->Active());
  EXPECT_EQ(engine->Barrier().Time, 6000);  // the same slide in the show's next pass
  engine->RequestPause(true);
  Pass();
  engine->RequestPause(false);
  for (int i = 0; i < 20; ++i) Pass();
  EXPECT_EQ(Shown(), 2000);  // play does not release it
  EXPECT_TRUE(engine->StoppedAtBarrier());

  engine->RequestPosition(2000, false);  // the next slide
  for (int i = 0; i < 30; ++i) Pass();
  EXPECT_FALSE(engine->StoppedAtBarrier());
  EXPECT_GT(Shown(), 2100);
  EXPECT_LT(Shown(), 2400);
}

// A pause stops the show where the clock is, also when the last pass was
// long ago (the engine sleeps on a still slide), and the resume goes on
// from there: the music is not set back to the last pass's time.
TEST_F(OruEngine, PauseStandsWhereTheClockStoppedAndTheResumeGoesOnFromThere) {
  Open(Show({3000, 6000, 9000}, "repeat"), 0);
  RunUntil(700);
  ASSERT_TRUE(engine->Active());
  for (int i = 0; i < 2; ++i) {
    const double clockAt = engine->Player()->Clock() + 600;
    clock.Advance(600);  // no pass meanwhile
    engine->RequestPause(true);
    Pass(0);
    EXPECT_FALSE(engine->Active());
    EXPECT_EQ(Shown(), clockAt);
    EXPECT_EQ(engine->HeldTime(), clockAt);
    clock.Advance(5000);
    engine->RequestPause(false);
    Pass(0);
    EXPECT_TRUE(engine->Active());
    EXPECT_EQ(engine->Player()->Clock(), clockAt);
    Pass(10);
    EXPECT_EQ(Shown(), clockAt + 10);
  }
}

// The form lets a show standing at a "pause" slide go on from where it
// stands; it does not hold there again. While it stands, and at the end of a
// show that stops, the slide that would begin there is not drawn.
TEST_F(OruEngine, GoOnLeavesAPauseSlideAndAStandingShowKeepsItsSlide) {
  Open(Show({1000, 2000, 3000, 4000}, "stop", {{1, "pause"}}), 0);
  Pass();
  EXPECT_FALSE(engine->GoOn());  // not standing at one
  RunUntil(3000, 10, 400);
  ASSERT_TRUE(engine->StoppedAtBarrier());
  ASSERT_EQ(Shown(), 2000);
  const auto& drawn = parts->Root->Indexes;
  ASSERT_FALSE(drawn.empty());
  EXPECT_EQ(*std::max_element(drawn.begin(), drawn.end()), 1);
  EXPECT_TRUE(engine->GoOn());
  EXPECT_FALSE(engine->GoOn());  // once
  RunUntil(2300, 10, 100);
  EXPECT_FALSE(engine->StoppedAtBarrier());
  EXPECT_GE(Shown(), 2300);
  RunUntil(9000, 10, 400);
  EXPECT_EQ(Shown(), 4000);
  ASSERT_FALSE(drawn.empty());
  EXPECT_EQ(*std::max_element(drawn.begin(), drawn.end()), 3);
}

TEST_F(OruEngine, LoopSlideGoesBackByWholeLoopLengthsAndPlaysOn) {
  Open(Show({1000, 2000, 3000}, "repeat", {{1, "loop"}}), 0);
  engine->SetFrameStep(0);  // the interpolated clock: steps of 70 ms pass the end unevenly
  RunUntil(1500, 70, 400);
  double lowest = 1e9, highest = 0;
  int wraps = 0;
  double last = Shown();
  for (int i = 0; i < 100; ++i) {
    Pass(70);
    const double now = Shown();
    if (now < last) ++wraps;
    last = now;
    lowest = std::min(lowest, now);
    highest = std::max(highest, now);
  }
  EXPECT_GE(wraps, 5);
  EXPECT_GE(lowest, 1000);
  EXPECT_LT(highest, 2000);  // never shows the slide's end
  EXPECT_FALSE(engine->StoppedAtBarrier());
  EXPECT_TRUE(engine->Barrier().Active);
  EXPECT_EQ(engine->Barrier().LoopLength, 1000);
}

TEST_F(OruEngine, EndOfAClosingShowIsReportedOnceAndTheClockStands) {
  Open(Show({1000, 2000}, "close"), 0);
  RunUntil(2000, 10, 400);
  for (int i = 0; i < 30; ++i) Pass();
  EXPECT_EQ(Shown(), 2000);
  EXPECT_FALSE(engine->Active());
  const auto ended = std::count_if(reports.begin(), reports.end(), [](const TEtReport& r) { return r.Ended; });
  EXPECT_EQ(ended, 1);
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.back().End, 2000);

  // Moved back, it plays to the end and says so again.
  engine->RequestPosition(1500, false);
  Pass();
  EXPECT_EQ(Shown(), 1500);
  RunUntil(2000, 10, 400);
  for (int i = 0; i < 5; ++i) Pass();
  EXPECT_EQ(std::count_if(reports.begin(), reports.end(), [](const TEtReport& r) { return r.Ended; }), 2);
}

TEST_F(OruEngine, RepeatingShowRunsPastItsLengthIntoLaterPasses) {
  Open(Show({1000, 2000}, "repeat"), 0);
  RunUntil(4500, 10, 1000);
  EXPECT_GE(Shown(), 4500);
  EXPECT_TRUE(engine->Active());
  EXPECT_TRUE(std::none_of(reports.begin(), reports.end(), [](const TEtReport& r) { return r.Ended || r.End; }));
  ASSERT_FALSE(engine->Slides().empty());
  EXPECT_GE(engine->Slides().front().Index, 4);  // the third pass of the show
}

// ---- Start positions, requests and generations ----

TEST_F(OruEngine, OpensAtTheRequestedTimeAndStandsWhilePaused) {
  Open(Show({1000, 2000, 3000}, "close", {{1, "pause"}}), 2500, true);
  for (int i = 0; i < 10; ++i) Pass();
  EXPECT_EQ(Shown(), 2500);
  EXPECT_TRUE(engine->Paused());
  EXPECT_FALSE(engine->Barrier().Active);  // the pause slide lies behind the start
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.back().Time, 2500);
  ASSERT_EQ(windowEvents.size(), 1u);
  EXPECT_EQ(windowEvents[0], (std::vector<std::int32_t>{320, 240, 1}));

  engine->RequestPause(false);
  RunUntil(2600);
  EXPECT_TRUE(engine->Active());

  // A start exactly at a pausing slide's end does not stop there again.
  engine->RequestPosition(2000, false);
  for (int i = 0; i < 20; ++i) Pass();
  EXPECT_GT(Shown(), 2100);
}

TEST_F(OruEngine, NewSlidesArePreparedOnTheLoaderThreadAlsoBeforeTheShowRuns) {
  // The engine thread must not make a slide's textures between two frames:
  // the loader prepares each new slide as it builds it, paused or not.
  TRef<zm::test::TRecordingDrawer> drawer = MakeRef<zm::test::TRecordingDrawer>();
  link->Given = TRef<TDeviceDrawer>(drawer.get());
  Open(Show({1000, 2000, 3000}, "repeat"), 0, true);
  for (int i = 0; i < 3; ++i) Pass();
  ASSERT_TRUE(parts->Last && parts->Last->Preload);
  EXPECT_FALSE(engine->Active());
  const int startsBefore = parts->Last->SlideStarts;
  TRef<TRefObject> container = MakeRef<TEtSlide>();
  std::thread loaderThread([&] { parts->Last->Preload(container.get()); });
  loaderThread.join();
  EXPECT_EQ(parts->Last->NewPrepares.load(), 1);
  EXPECT_EQ(parts->Last->NewPrepareDrawer, drawer.get());
  EXPECT_EQ(parts->Last->Prepares.load(), 0);
  EXPECT_EQ(parts->Last->SlideStarts, startsBefore + 1);
  // Without a drawer the slide is only started; the engine prepares it
  // when the show starts.
  link->Given = nullptr;
  parts->Last->Preload(container.get());
  EXPECT_EQ(parts->Last->NewPrepares.load(), 1);
  EXPECT_EQ(parts->Last->SlideStarts, startsBefore + 2);
}

TEST_F(OruEngine, RequestsBeforeAPassMergeIntoOneMoveWithTheNewestGeneration) {
  Open(Show({1000, 2000, 3000}, "repeat"), 0, true);
  Pass();
  const std::int32_t g1 = engine->RequestPosition(500, true);
  const std::int32_t g2 = engine->RequestPosition(1700, true);
  EXPECT_GT(g2, g1);
  Pass();
  EXPECT_EQ(engine->PlayingGeneration(), g2);
  EXPECT_EQ(Shown(), 1700);
  EXPECT_EQ(engine->HeldTime(), 1700);

  // An open superseded by a move: the new show opens at the move's time
  // with the move's generation; a pause request in between holds for it.
  const int loaders = parts->Loaders;
  engine->RequestOpen(Accessor().get(), Doc(Show({500, 900, 5000}, "close")).get(), 0, false);
  engine->RequestPause(true);
  const std::int32_t g4 = engine->RequestPosition(4000, false);
  reports.clear();
  Pass();
  EXPECT_EQ(parts->Loaders, loaders + 1);
  EXPECT_EQ(engine->PlayingGeneration(), g4);
  EXPECT_EQ(Shown(), 4000);
  EXPECT_FALSE(engine->Paused());  // the later request's wish
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.front().Time, 4000);
  EXPECT_EQ(reports.front().End, 5000);
}

TEST_F(OruEngine, PositionReportsComeEveryTwentyMillisecondsOfShowTimeAtMost) {
  Open(Show({5000, 9000}, "repeat"), 0);
  for (int i = 0; i < 200; ++i) Pass(7);
  ASSERT_GE(reports.size(), 10u);
  for (std::size_t i = 1; i < reports.size(); ++i) EXPECT_GT(reports[i].Time - reports[i - 1].Time, 20) << i;
  EXPECT_NEAR(reports.back().Time, Shown(), 21);
}

// ---- Drawing and what waits for it ----

TEST_F(OruEngine, WaitsForThreeSlidesAndForTheLoaderBeforeTheClockRuns) {
  parts->AutoList = false;
  Open(Show({1000, 2000, 3000}, "repeat"), 0);
  for (int i = 0; i < 10; ++i) Pass();
  EXPECT_FALSE(engine->Active());
  EXPECT_EQ(Shown(), 0);
  EXPECT_EQ(parts->Root->Draws, 0);

  parts->Last->Deliver(0);
  Pass();
  EXPECT_TRUE(engine->Active());
  // Stepped frames wait for the loader: no frame, and with the stepped
  // platform clock no time, while its slides are not ready.
  parts->Last->Ready = false;
  const int draws = parts->Root->Draws;
  for (int i = 0; i < 5; ++i) Pass(0);
  EXPECT_EQ(parts->Root->Draws, draws);
  parts->Last->Ready = true;
  Pass(0);
  EXPECT_EQ(parts->Root->Draws, draws + 1);
  EXPECT_EQ(firstFrames, 1);
}

TEST_F(OruEngine, TransitionsAreReadiedAfterAPresentedFrameOncePerSlideList) {
  using TReadied = std::vector<std::pair<int, std::size_t>>;
  parts->AutoList = false;
  parts->Root->Present = false;
  Open(Show({1000, 2000, 3000}, "repeat"), 0);
  Pass();
  parts->Last->Deliver(0);
  for (int i = 0; i < 5; ++i) Pass();
  ASSERT_GT(parts->Root->Draws, 0);
  EXPECT_EQ(parts->Root->Readied, TReadied{});  // nothing presented yet
  parts->Root->Present = true;
  Pass();
  const int first = parts->Root->Draws;
  for (int i = 0; i < 5; ++i) Pass();
  RunUntil(1100);
  EXPECT_EQ(parts->Root->Readied, (TReadied{{first, 3}}));  // after that frame, not before
  parts->Last->Deliver(Shown());
  Pass();
  EXPECT_EQ(parts->Root->Readied.size(), 2u);
}

// A slide that stands draws no frame until its transition: a list that
// comes meanwhile is readied then, or the transition's second frame would
// wait for the work.
TEST_F(OruEngine, RealClockTransitionsAreReadiedWhileASlideStands) {
  engine->SetFrameStep(0);
  parts->AutoList = false;
  Open(Show({1000, 2000, 3000}, "repeat"), 0);
  Pass();
  parts->Last->Deliver(0);
  for (int i = 0; i < 3; ++i) Pass(TOruEngine::kRefreshMs);
  ASSERT_GT(parts->Root->Draws, 0);
  ASSERT_EQ(parts->Root->Readied.size(), 1u);
  // Frames flowing: a list that comes between two is readied after the next.
  parts->Last->Deliver(1000);
  Pass(1);
  EXPECT_EQ(parts->Root->Readied.size(), 1u);
  Pass(TOruEngine::kRefreshMs);
  ASSERT_EQ(parts->Root->Readied.size(), 2u);
  EXPECT_EQ(parts->Root->Readied.back().first, parts->Root->Draws);
  // Standing: readied in the pass the list comes in, with no frame.
  parts->Root->Changes = false;
  for (int i = 0; i < 3; ++i) Pass(TOruEngine::kRefreshMs);
  const int draws = parts->Root->Draws;
  parts->Last->Deliver(2000);
  Pass();
  EXPECT_EQ(parts->Root->Draws, draws);
  ASSERT_EQ(parts->Root->Readied.size(), 3u);
  EXPECT_EQ(parts->Root->Readied.back().first, draws);
}

TEST_F(OruEngine, DeviceRemadeAtANewSizeRebuildsTheLoaderAtTheSameTimeAndResumes) {
  Open(Show({1000, 2000, 3000}, "repeat"), 0);
  RunUntil(700);
  ASSERT_TRUE(engine->Active());
  EXPECT_EQ(firstFrames, 1);
  const int loaders = parts->Loaders;
  // Where the clock stops: at the next pass.
  const double before = Shown() + 10;

  // Same size: the slides are kept, the clock stops for the pass only.
  link->OnDeviceRecreated();
  Pass();
  EXPECT_EQ(parts->Loaders, loaders);
  EXPECT_EQ(Shown(), before);
  EXPECT_FALSE(engine->Active());

  link->OnDeviceRecreated();
  device->SetBounds(TRect{0, 0, 200, 150}, TPoint{}, false);
  Pass();
  EXPECT_EQ(parts->Loaders, loaders + 1);
  EXPECT_EQ(parts->Last->Size, (TSize{200, 150}));
  EXPECT_EQ(Shown(), before);
  EXPECT_TRUE(windowEvents.size() == 1);  // a reopen asks for no new window
  for (int i = 0; i < 10; ++i) Pass();
  EXPECT_GT(Shown(), before + 50);
  EXPECT_EQ(firstFrames, 3);  // after each re-initialisation
}

// ---- The real clock: frames when something changed or the window asks ----

TEST_F(OruEngine, RealClockRepaintDrawsWhateverTheSlidesSayAtMostOncePerRefresh) {
  engine->SetFrameStep(0);
  parts->Root->Changes = false;  // a still picture: the slides never report a change
  Open(Show({1000, 2000, 3000}, "repeat"), 0, true);
  for (int i = 0; i < 5; ++i) Pass();
  EXPECT_EQ(parts->Root->Draws, 0);
  // A repaint of the window (here: the device placed anew, same size).
  device->SetBounds(TRect{0, 0, 320, 240}, TPoint{5, 5}, false);
  Pass();
  EXPECT_EQ(parts->Root->Draws, 1);
  EXPECT_EQ(firstFrames, 1);
  Pass();
  EXPECT_EQ(parts->Root->Draws, 1);  // answered once
  // A storm of repaints within one refresh interval: the frame waits for
  // its turn, and the pass waits no longer than that.
  for (int i = 0; i < 1000; ++i) device->SetBounds(TRect{0, 0, 320, 240}, TPoint{i % 2, 0}, false);
  Pass(1);
  EXPECT_EQ(parts->Root->Draws, 1);
  ASSERT_FALSE(waits.empty());
  EXPECT_LE(waits.back(), TOruEngine::kRefreshMs);
  Pass(TOruEngine::kRefreshMs);
  EXPECT_EQ(parts->Root->Draws, 2);
  Pass(TOruEngine::kRefreshMs);
  EXPECT_EQ(parts->Root->Draws, 2);
}

TEST_F(OruEngine, RealClockStillSlideWaitsForItsNextChangeNotForAFrame) {
  engine->SetFrameStep(0);
  parts->Root->Changes = false;
  Open(Show({1000, 2000, 3000}, "repeat"), 0);
  RunUntil(700, 10, 400);
  ASSERT_TRUE(engine->Active());
  // Nothing moved for a while: the engine looks now and then, and wakes in
  // time for the next slide.
  waits.clear();
  Pass(100);
  ASSERT_EQ(waits.size(), 1u);
  EXPECT_GT(waits.back(), TOruEngine::kRefreshMs);
  EXPECT_LE(waits.back(), TOruEngine::kStillProbeMs);
  RunUntil(960, 10, 400);
  Pass(5);
  EXPECT_LE(double(waits.back()), 1000 - Shown() + 1);
  // Paused, it waits for events.
  engine->RequestPause(true);
  Pass();
  Pass();
  EXPECT_FALSE(engine->Active());
  EXPECT_EQ(waits.back(), TOruEngine::kPausedProbeMs);
  // Moving pictures draw a frame per refresh interval.
  parts->Root->Changes = true;
  engine->RequestPause(false);
  for (int i = 0; i < 5; ++i) Pass(TOruEngine::kRefreshMs);
  EXPECT_LE(waits.back(), TOruEngine::kRefreshMs);
}

TEST_F(OruEngine, RealClockFrameThatTookItsTurnIsFollowedAtOnce) {
  engine->SetFrameStep(0);
  Open(Show({1000, 2000, 3000}, "repeat"), 0);
  RunUntil(300, 10, 400);
  ASSERT_TRUE(engine->Active());
  // Drawing (and the present's wait for its turn) took a whole refresh: the
  // next frame begins after the shortest wait (passes that never waited
  // kept a show that closes at its end open for seconds in a window), or it
  // would start late.
  std::uint32_t drawMs = TOruEngine::kRefreshMs + 1;
  engine->OnFrameDrawing = [&](double) { clock.Advance(drawMs); };
  const int draws = parts->Root->Draws;
  Pass(TOruEngine::kRefreshMs);
  ASSERT_EQ(parts->Root->Draws, draws + 1);
  EXPECT_EQ(waits.back(), 1u);
  // A quick frame waits for its turn, never past it.
  drawMs = 2;
  Pass(TOruEngine::kRefreshMs);
  ASSERT_EQ(parts->Root->Draws, draws + 2);
  EXPECT_GE(waits.back(), 1u);
  EXPECT_LE(waits.back(), TOruEngine::kRefreshMs - drawMs);
  // Paused: no frame follows, and the engine waits.
  engine->OnFrameDrawing = nullptr;
  engine->RequestPause(true);
  Pass();
  Pass();
  EXPECT_GT(waits.back(), 0u);
}

// Paused right after a frame, the show draws the frame of the time it
// stands at in its turn, not with its next look a second later; resumed
// after a long pause, its frames come at their pace at once, though the
// slides announce their changes and nothing changed in the resume's pass.
TEST_F(OruEngine, RealClockPauseDrawsWhereItStandsAndTheResumeMovesOnAtOnce) {
  engine->SetFrameStep(0);
  parts->Still = true;
  Open(Show({3000, 6000, 9000}, "repeat"), 0);
  RunUntil(700, 10, 400);
  ASSERT_TRUE(engine->Active());
  Pass(TOruEngine::kRefreshMs);
  const int draws = parts->Root->Draws;
  engine->RequestPause(true);
  Pass(1);
  ASSERT_FALSE(engine->Active());
  EXPECT_EQ(parts->Root->Draws, draws);
  ASSERT_FALSE(waits.empty());
  EXPECT_LE(waits.back(), TOruEngine::kRefreshMs);
  Pass(waits.back());
  EXPECT_EQ(parts->Root->Draws, draws + 1);
  EXPECT_EQ(engine->FrameTime(), Shown());
  // Nothing changes while it stands: it looks now and then.
  parts->Root->Changes = false;
  Pass(TOruEngine::kRefreshMs);
  EXPECT_GT(waits.back(), TOruEngine::kRefreshMs);

  clock.Advance(2000);
  engine->RequestPause(false);
  waits.clear();
  Pass(1);
  ASSERT_TRUE(engine->Active());
  ASSERT_EQ(waits.size(), 1u);
  EXPECT_LE(waits.back(), TOruEngine::kRefreshMs);
}

// (Slides that may change unannounced: RealClockStillSlideWaitsForItsNextChangeNotForAFrame.)
TEST_F(OruEngine, RealClockSlidesThatChangeOnlyAtTheirTimesAreLookedAtOnceASecond) {
  engine->SetFrameStep(0);
  parts->Root->Changes = false;
  parts->Still = true;
  Open(Show({3000, 6000, 9000}, "repeat"), 0);
  RunUntil(700, 10, 400);
  ASSERT_TRUE(engine->Active());
  waits.clear();
  Pass(100);
  ASSERT_EQ(waits.size(), 1u);
  EXPECT_GT(waits.back(), TOruEngine::kStillProbeMs);
  EXPECT_LE(waits.back(), TOruEngine::kQuietProbeMs);
  // Still in time for the next slide, and paused it waits as long.
  RunUntil(2500, 100, 400);
  Pass(1);
  EXPECT_LE(double(waits.back()), 3000 - Shown() + 1);
  engine->RequestPause(true);
  Pass();
  Pass();
  EXPECT_FALSE(engine->Active());
  EXPECT_EQ(waits.back(), TOruEngine::kQuietProbeMs);
}

TEST_F(OruEngine, InactiveWindowHoldsTheClockOnlyWhenTheShowAsksForIt) {
  device->Active = false;
  Open(Show({1000, 2000, 3000}, "repeat", {}, true), 0);
  for (int i = 0; i < 20; ++i) Pass();
  EXPECT_EQ(Shown(), 0);
  device->Active = true;
  for (int i = 0; i < 20; ++i) Pass();
  EXPECT_GT(Shown(), 100);

  Open(Show({1000, 2000, 3000}, "repeat", {}, false), 0);
  device->Active = false;
  for (int i = 0; i < 20; ++i) Pass();
  EXPECT_GT(Shown(), 100);
}

TEST_F(OruEngine, WithoutAReadyDrawerNothingIsDrawnButTheClockRuns) {
  link->Ready = false;
  Open(Show({1000, 2000, 3000}, "repeat"), 0);
  for (int i = 0; i < 30; ++i) Pass();
  EXPECT_EQ(parts->Root->Draws, 0);
  EXPECT_EQ(firstFrames, 0);
  EXPECT_GT(Shown(), 200);
}

TEST_F(OruEngine, RunProgramSlideAndPointerActionsGoToTheListener) {
  Open(Show({1000, 2000, 3000}, "close", {}, false, 1), 0);
  RunUntil(1500);
  ASSERT_EQ(actions.size(), 1u);
  EXPECT_EQ(actions[0], "10:tool.sh");
  RunUntil(3000);
  EXPECT_EQ(actions.size(), 1u);  // once per pass of the slide

  // A hit on a slide object runs its action; a miss runs the record's own.
  parts->Last->Hit = MakeActionInfo(acNextSlide, 0, u"");
  TRef<TMouseData> m = MakeRef<TMouseData>();
  m->Kind = 1;
  m->Action = MakeActionInfo(acGotoSlide, 2, u"");
  engine->Events()->Post(TOruEngine::kMouseEvent, TRef<TMouseData>(m.get()).Detach());
  Pass();
  EXPECT_TRUE(engine->Hover());
  EXPECT_EQ(engine->HoverName(), u"TButton");
  parts->Last->Hit = TOruActionInfo();
  engine->Events()->Post(TOruEngine::kMouseEvent, m.Detach());
  Pass();
  EXPECT_FALSE(engine->Hover());
  ASSERT_EQ(actions.size(), 3u);
  EXPECT_EQ(actions[1], "3:");
  EXPECT_EQ(actions[2], "7:");
}

// The click option the form attaches runs only where no object takes the
// click: an object with an action takes the left button's press (which makes
// no action yet) and release, but not the right button.
TEST_F(OruEngine, ClickOptionRunsOnlyWhereNoObjectTakesTheClick) {
  Open(Show({1000, 2000, 3000}, "close"), 0);
  RunUntil(500);
  const auto post = [&](std::uint8_t kind, std::int32_t buttons, const TOruActionInfo& option) {
    TRef<TMouseData> m = MakeRef<TMouseData>();
    m->Kind = kind;
    m->Buttons = buttons;
    m->Action = option;
    engine->Events()->Post(TOruEngine::kMouseEvent, m.Detach());
    Pass();
  };
  parts->Last->Over = true;  // a link, pressed
  post(1, 1, MakeActionInfo(acNextSlide, 0, u""));
  EXPECT_TRUE(engine->Hover());
  EXPECT_TRUE(actions.empty());
  parts->Last->Hit = MakeActionInfo(acPause, 0, u"");  // released: its own action
  post(2, 1, TOruActionInfo());
  parts->Last->Hit = TOruActionInfo();
  post(1, 2, MakeActionInfo(acPrevSlide, 0, u""));  // the right button over it
  parts->Last->Over = false;
  post(1, 1, MakeActionInfo(acNextSlide, 0, u""));  // beside it
  EXPECT_EQ(actions, (std::vector<std::string>{"5:", "2:", "3:"}));
}

// ---- Bad input ----

TEST_F(OruEngine, ShowsWithoutSlidesOrWithAbsurdTimesNeverHangOrCrash) {
  Open(Show({}, "close"), 0);
  for (int i = 0; i < 20; ++i) Pass();
  EXPECT_FALSE(engine->Active());

  // A loop slide of a huge length, a huge show, a move far beyond it.
  Open(Show({1, 2, 2000000000000LL, 2000000000001LL}, "repeat", {{2, "loop"}}), 0);
  for (int i = 0; i < 20; ++i) Pass(1e6);
  engine->RequestPosition(INT32_MAX, false);
  for (int i = 0; i < 20; ++i) Pass(1e9);
  engine->RequestPosition(INT32_MIN, false);
  for (int i = 0; i < 5; ++i) Pass(1e9);
  EXPECT_TRUE(std::isfinite(Shown()));

  // Records of the wrong kind, and unknown events, are ignored.
  engine->Events()->Post(TOruEngine::kOpenEvent, MakeRef<TModeData>().Detach());
  engine->Events()->Post(TOruEngine::kModeEvent, nullptr);
  engine->Events()->Post(TOruEngine::kSlideListEvent, MakeRef<TModeData>().Detach());
  engine->Events()->Post(999, nullptr);
  engine->Events()->Post(TOruEngine::kRenderEvent, nullptr);
  Pass();
  EXPECT_THROW(engine->OpenShow(Accessor().get(), nullptr, 0), std::exception);
}

}  // namespace
