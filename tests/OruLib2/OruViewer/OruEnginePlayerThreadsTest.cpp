#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "OruLib2/OruClasses/OruSlideProducer.h"
#include "OruLib2/OruViewer/OruEngine.h"
#include "Platform/PlatSystem.h"
#include "tests/OruLib2/OruViewer/OruMusicPlayerTestKit.h"
#include "tests/ZmLib/3DBasics/DeviceDrawerDoubles.h"
#include "tests/support/kit/IniText.h"

using namespace zm;
using namespace oru;

namespace {

// The engine over the player's own loader thread and slide cache, driven
// pass by pass on this thread with a manual clock. Slides without sections
// build at once; the engine's own pass waits for the loader's lists.
class OruEnginePlayerThreadsTest : public ::testing::Test {
protected:
  void SetUp() override {
    engine = MakeRef<TOruEngine>(nullptr, 0, false, false, listener.get());
    engine->SetFrameStep(10);
  }
  void TearDown() override {
    EXPECT_TRUE(engine->Stop(5000));
    engine = nullptr;
    listener->ProcessEvents();
  }
  void Open(const std::vector<long long>& ends, const char* repeat, std::int32_t time) {
    TIniText t;
    t.Section("main").Key("opt_repeat", repeat).Key("opt_pausewheninactive", 0);
    t.Section("Times").Key("opt_slidescount", static_cast<long long>(ends.size()));
    for (std::size_t i = 0; i < ends.size(); ++i) t.Key("opt_synchpos" + std::to_string(i + 1), ends[i]);
    // Each slide has its section, as in every saved show (the music reads them).
    for (std::size_t i = 0; i < ends.size(); ++i) t.Section("Slide" + std::to_string(i + 1));
    TRef<TIniFile> doc = MakeRef<TIniFile>();
    doc->LoadFromText(TByteString(t.Bytes(false)));
    engine->RequestOpen(MakeRef<TFileAccessor>(MakeRef<TRealFileSource>().get()).get(), doc.get(), time, false);
  }
  double Shown() { return engine->Loader() ? engine->Loader()->CurrentTime() : -1; }
  bool SlidesCover(double t) {
    for (const TOruPreparedSlide& s : engine->Slides())
      if (s.Times.Start <= t && t <= s.Times.End) return true;
    return false;
  }
  // Passes (the clock moving by Ms while the show runs) until Done, at most Limit.
  template <class F>
  bool PassUntil(F done, double ms = 10, int limit = 20000) {
    for (int i = 0; i < limit; ++i) {
      if (engine->Active()) clock.Advance(static_cast<std::uint32_t>(ms));
      engine->Step();
      listener->ProcessEvents();
      if (done()) return true;
    }
    return false;
  }

  // No sound device: the show runs on the tick count, which the test moves.
  orutest::TClockPlayerHook noSound{false};
  plat::TManualClock clock{0};
  TRef<TThreadEventList> listener = MakeRef<TThreadEventList>();
  TRef<TOruEngine> engine;
};

TEST_F(OruEnginePlayerThreadsTest, ThreeSlidesAreReadyBeforeTheClockRunsAlsoAfterJumps) {
  std::vector<long long> ends;
  for (int i = 1; i <= 10; ++i) ends.push_back(i * 1000LL);
  Open(ends, "close", 0);
  ASSERT_TRUE(PassUntil([&] { return engine->Active(); }));
  EXPECT_EQ(engine->Slides().size(), 3u);
  EXPECT_EQ(Shown(), 0);

  // The list follows the clock.
  ASSERT_TRUE(PassUntil([&] { return Shown() >= 2500; }));
  ASSERT_TRUE(PassUntil([&] { return SlidesCover(Shown()) && engine->Slides().front().Index >= 1; }));

  // Far ahead and back: the clock stands until three slides around the new
  // time are prepared.
  for (const std::int32_t target : {8500, 1200}) {
    engine->RequestPosition(target, false);
    ASSERT_TRUE(PassUntil([&] { return engine->PlayingGeneration() == engine->Generation(); }));
    ASSERT_TRUE(PassUntil([&] { return engine->Active(); }));
    EXPECT_EQ(Shown(), target);
    EXPECT_EQ(engine->Slides().size(), 3u);
    EXPECT_TRUE(SlidesCover(target)) << target;
  }
  ASSERT_TRUE(PassUntil([&] { return Shown() >= 10000; }));
  EXPECT_EQ(Shown(), 10000);
}

TEST_F(OruEnginePlayerThreadsTest, ShowWithoutSlidesStandsAndStops) {
  Open({}, "repeat", 0);
  EXPECT_FALSE(PassUntil([&] { return engine->Active(); }, 10, 200));
  EXPECT_EQ(Shown(), 0);
}

// ---- A pause of synchronised music on the audio clock ----

// The show clock is the sound device's (the test moves it), the music a fake
// channel whose stop falls silent where the test says; the player and the
// loaders run on their own threads, the engine's passes on this one.
TEST(OruEnginePause, SynchronisedShowStandsWhereItsMusicFellSilent) {
  orutest::TClockPlayerHook sound;
  orutest::TClockPlayer* d = sound.Device.get();
  plat::TManualClock clock{0};
  TRef<TThreadEventList> listener = MakeRef<TThreadEventList>();
  TRef<TOruEngine> engine = MakeRef<TOruEngine>(nullptr, 0, false, false, listener.get());
  engine->SetFrameStep(0);
  std::vector<std::uint32_t> waits;
  engine->OnPassWait = [&](std::uint32_t ms) { waits.push_back(ms); };
  zmtest::TShowBuilder show;
  show.AddSlide(5000);
  show.AddSlide(10000);
  show.Main().Key("opt_syncmode", 1).Key("opt_repeat", "stop").Key("opt_pausewheninactive", 0);
  show.MusicItem("a.mp3", 10000);
  engine->RequestOpen(orutest::OpenShow(show).get(), 0, false);

  const auto step = [&] {
    engine->Step();
    listener->ProcessEvents();
  };
  // Other threads' work, looked at between passes (a safety net of 20 s).
  const auto until = [&](auto done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      step();
      std::this_thread::yield();
    }
    return true;
  };
  // The same without the engine's passes (only the events it is sent): the
  // engine counts its looks at a pending pause by passes, which a loaded
  // machine could spend before the player's thread has done its part.
  const auto wait = [&](auto done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      listener->ProcessEvents();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  };
  const auto record = [&](auto read) {
    std::lock_guard<std::mutex> g(d->Record->m);
    return read(*d->Record);
  };
  const auto silence = [&](bool known, double place) {
    record([&](orutest::TChannelRecord& r) {
      r.silenceKnown = known;
      r.silence = place;
      return 0;
    });
  };
  const auto shown = [&] { return engine->Loader() ? engine->Loader()->CurrentTime() : -1.0; };
  const auto stops = [&] { return record([](orutest::TChannelRecord& r) { return r.stops; }); };
  const auto plays = [&] { return record([](orutest::TChannelRecord& r) { return r.plays; }); };
  const auto run = [&](double ms) {
    d->Now = d->Now.load() + ms;
    clock.Advance(static_cast<std::uint32_t>(ms));
    step();
  };
  // The clock starts on the player's thread, in the pass that plays.
  ASSERT_TRUE(until([&] { return engine->Active() && plays() && engine->Player()->ClockRunning(); }));
  // Counted from here: a start that waited for its music may have played
  // and stopped before.
  const int plays0 = plays(), stops0 = stops();
  run(1000);
  ASSERT_EQ(engine->Player()->Clock(), 1000);

  // Paused at 1000: the show stands there, and looks again soon, until the
  // player learns where the music's fade fell silent; then it stands there.
  silence(false, 0);
  engine->RequestPause(true);
  step();
  ASSERT_FALSE(engine->Active());
  EXPECT_EQ(shown(), 1000);
  EXPECT_LE(waits.back(), TOruEngine::kPauseLookMs);
  // The music stops once no new time has followed the pause.
  clock.Advance(oru::kPauseGraceMs);
  ASSERT_TRUE(wait([&] { return stops() == stops0 + 1; }));
  step();
  EXPECT_EQ(shown(), 1000);
  silence(true, 1042);
  ASSERT_TRUE(wait([&] { return !engine->Player()->SilencePending(); }));
  ASSERT_TRUE(until([&] { return shown() != 1000; }));
  EXPECT_EQ(shown(), 1042);
  EXPECT_EQ(engine->HeldTime(), 1042);
  EXPECT_EQ(engine->Player()->Clock(), 1042);
  step();
  EXPECT_GT(waits.back(), TOruEngine::kPauseLookMs);
  engine->RequestPause(false);
  step();
  ASSERT_TRUE(engine->Active());
  // Sounding again (a play still queued would be taken back, not stopped).
  ASSERT_TRUE(wait([&] { return plays() == plays0 + 1; }));
  run(458);
  EXPECT_EQ(engine->Player()->Clock(), 1500);

  // Resumed at once: the show goes on from where the music fell silent.
  silence(false, 0);
  engine->RequestPause(true);
  step();
  clock.Advance(oru::kPauseGraceMs);
  engine->RequestPause(false);
  step();
  EXPECT_FALSE(engine->Active());
  ASSERT_TRUE(wait([&] { return stops() == stops0 + 2; }));
  silence(true, 1530);
  ASSERT_TRUE(wait([&] { return !engine->Player()->SilencePending(); }));
  ASSERT_TRUE(until([&] { return engine->Active(); }));
  EXPECT_EQ(shown(), 1530);
  ASSERT_TRUE(wait([&] { return plays() == plays0 + 2; }));
  run(470);
  EXPECT_EQ(engine->Player()->Clock(), 2000);

  // A move made meanwhile holds.
  silence(false, 0);
  engine->RequestPause(true);
  step();
  clock.Advance(oru::kPauseGraceMs);
  ASSERT_TRUE(until([&] { return stops() == stops0 + 3; }));
  engine->RequestPosition(6000, true);
  ASSERT_TRUE(until([&] { return engine->PlayingGeneration() == engine->Generation(); }));
  silence(true, 2040);
  for (int i = 0; i < 2 * TOruEngine::kPauseLooks; ++i) step();
  EXPECT_EQ(shown(), 6000);

  EXPECT_TRUE(engine->Stop(5000));
  engine = nullptr;
  listener->ProcessEvents();
}

// ---- The real clock over real slides: woken when an object starts to move ----

class TWakeDevice : public TDrawDevice {
public:
  TWakeDevice() : TDrawDevice(nullptr) {}
  bool IsActive() override { return true; }
};

class TWakeLink : public TOruDrawerLink {
public:
  TDeviceDrawer* Drawer() override { return drawer_.get(); }
  bool Open(TDrawDevice* device) override { return device != nullptr; }
  bool ScreenReady() override { return true; }
  TRect ScreenRect() override { return TRect{0, 0, 320, 240}; }

private:
  TRef<zm::test::TRecordingDrawer> drawer_ = MakeRef<zm::test::TRecordingDrawer>();
};

// Each pass is followed by the wait it asked for, as on the real clock when
// no event comes: the show time a frame shows is where the engine woke.
TEST(OruEngineObjectWake, StillSlideWakesWhenAnObjectStartsToMoveNotEveryFrame) {
  orutest::TClockPlayerHook noSound{false};
  plat::TManualClock clock{0};
  TRef<TThreadEventList> listener = MakeRef<TThreadEventList>();
  TRef<TWakeDevice> device = MakeRef<TWakeDevice>();
  device->SetBounds(TRect{0, 0, 320, 240}, TPoint{}, false);
  TRef<TOruEngine> engine = MakeRef<TOruEngine>(device.get(), 0, true, false, listener.get(), nullptr,
                                                [] { return TRef<TOruDrawerLink>(MakeRef<TWakeLink>().get()); });
  engine->SetFrameStep(0);

  // Slide 2 (1000 - 6000) holds a box that stands until 2050 ms into the
  // slide, then moves for a second: it starts to move at 3050 ms show time.
  const double moveAt = 3050;
  TIniText t;
  t.Section("main").Key("opt_repeat", "close").Key("opt_pausewheninactive", 0);
  t.Key("opt_scr_width", 320).Key("opt_scr_height", 240);
  t.Section("Times").Key("opt_slidescount", 3).Key("opt_synchpos1", 1000).Key("opt_synchpos2", 6000);
  t.Key("opt_synchpos3", 7000);
  t.Section("Slide1");
  t.Section("Slide2").Object("Mover", "Box").Key("GUID", "{6c1f0d4e-39b0-4a6e-9d1e-000000000001}");
  t.Key("Size", "20,20");
  t.Object("KeyPoint", "KeyPoint").Key("Time", 0).Key("Position", "0,0").End();
  t.Object("KeyPoint", "KeyPoint").Key("Time", 2050).Key("Position", "0,0").End();
  t.Object("KeyPoint", "KeyPoint").Key("Time", 3050).Key("Position", "50,0").End();
  t.End();
  t.Section("Slide3");
  TRef<TIniFile> doc = MakeRef<TIniFile>();
  doc->LoadFromText(TByteString(t.Bytes(false)));
  engine->RequestOpen(MakeRef<TFileAccessor>(MakeRef<TRealFileSource>().get()).get(), doc.get(), 1100, false);

  const auto shown = [&] { return engine->Loader() ? engine->Loader()->CurrentTime() : -1.0; };
  // Where the box is drawn, by the slide's container the engine holds.
  const auto boxX = [&]() -> double {
    for (const TOruPreparedSlide& s : engine->Slides())
      if (auto* c = dynamic_cast<TDrawContainer*>(s.Container.get()); c && c->Index == 1 && c->Slide)
        if (TOruObject* box = c->Slide->Child(0)) return box->Basis.Origin.X;
    return std::nan("");
  };
  std::vector<std::pair<double, double>> frames;  // show time, the box's place
  engine->OnFrameDrawing = [&](double at) { frames.push_back({at, boxX()}); };
  std::uint32_t wait = 0;
  std::vector<double> passes;  // show times of the passes that played
  engine->OnPassWait = [&](std::uint32_t ms) {
    wait = ms;
    if (engine->Active()) passes.push_back(shown());
  };
  for (int i = 0; i < 100000 && shown() < moveAt + 200; ++i) {
    engine->Step();
    listener->ProcessEvents();
    clock.Advance(wait);
  }
  ASSERT_GE(shown(), moveAt + 200);

  ASSERT_FALSE(frames.empty());
  const double still = frames.front().second;
  ASSERT_TRUE(std::isfinite(still));
  const auto moved = std::find_if(frames.begin(), frames.end(), [&](const auto& f) { return f.second != still; });
  ASSERT_NE(moved, frames.end());
  // The first frame that shows the move comes within a refresh interval of
  // its start, not a look at the still slide later.
  EXPECT_GT(moved->first, moveAt);
  EXPECT_LE(moved->first, moveAt + TOruEngine::kRefreshMs);
  // Meanwhile the still slide was looked at now and then, not every frame.
  const double from = 1100 + TOruEngine::kSettleMs + 100;
  const auto inSpell = std::count_if(passes.begin(), passes.end(), [&](double p) { return p >= from && p < moveAt; });
  EXPECT_LE(inSpell, static_cast<std::ptrdiff_t>((moveAt - from) / TOruEngine::kStillProbeMs) + 3);
  EXPECT_GE(inSpell, 1);

  EXPECT_TRUE(engine->Stop(5000));
  engine = nullptr;
  listener->ProcessEvents();
}

}  // namespace
