#include "OruLib2/OruViewer/OruMusicPlayer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <mutex>
#include <string>
#include <vector>

#include "Platform/PlatSystem.h"
#include "ZmLib/zmLog.h"
#include "tests/OruLib2/OruViewer/OruMusicPlayerTestKit.h"

namespace oru {
namespace {

using namespace orutest;
using zm::MakeRef;
using zm::TRef;
using zmtest::TShowBuilder;

struct TCounts {
  int requests, created, plays, stops;
};

TCounts Counts(TClockPlayer* d) {
  std::lock_guard<std::mutex> g(d->Record->m);
  return {int(d->Record->requests.size()), d->Record->created, d->Record->plays, d->Record->stops};
}

std::vector<std::uint32_t> Positions(TClockPlayer* d) {
  std::lock_guard<std::mutex> g(d->Record->m);
  return d->Record->positions;
}

std::vector<double> Delays(TClockPlayer* d) {
  std::lock_guard<std::mutex> g(d->Record->m);
  return d->Record->delays;
}

std::uint32_t LastStartPosition(TClockPlayer* d) {
  std::lock_guard<std::mutex> g(d->Record->m);
  return d->Record->requests.empty() ? ~0u : d->Record->requests.back().second;
}

// A pause the engine asks for, and the time it takes to settle (the
// channels stop once no new time has followed it at once).
void Pause(TOruMusicPlayer* p, plat::TManualClock& ticks) {
  p->SetRunRequested(false);
  ticks.Advance(kPauseGraceMs);
}

// Runs the show clock on by ms in steps of 10 ms, a pass after each step.
void Play(TOruMusicPlayer* p, TClockPlayer* d, double ms) {
  Pass(p);  // what the engine asked before
  for (double done = 0; done < ms; done += 10) {
    d->Now = d->Now.load() + std::min(10.0, ms - done);
    Pass(p);
  }
}

TEST(OruMusicPlayer, NoShowAndADeviceThatIsNotReadyLeaveTheTickClock) {
  try {
    MakeRef<TOruMusicPlayer>(nullptr, true);
    FAIL() << "no error";
  } catch (const std::exception& e) {
    EXPECT_NE(std::string(e.what()).find("No OruSource for OruMusicPlayer"), std::string::npos);
  }

  // A damaged show: the slide table names a slide that is not there.
  TShowBuilder damaged;
  damaged.AddSlide(2000).Comment("voice.mp3", 1000);
  damaged.Times().Key("opt_slidescount", 2).Key("opt_synchpos2", 4000);
  TRef<TOruSource> bad = OpenShow(damaged);
  EXPECT_ANY_THROW(MakeRef<TOruMusicPlayer>(bad.Detach(), true));

  TClockPlayerHook hook(false);
  // Close to the 32-bit wrap of the tick count: the show time must not jump back.
  plat::TManualClock clock(0xFFFFF800u);
  TShowBuilder show;
  show.AddSlide(10000);
  TRef<TOruMusicPlayer> p = NewPlayer(show);
  EXPECT_EQ(p->MusicPlayer(), nullptr);
  EXPECT_EQ(p->GetVolume(), 0.0f);
  p->SetVolume(0.5f);

  p->SetRunRequested(true);
  Pass(p.get());
  clock.Advance(3000);
  EXPECT_EQ(p->GetTime(), 3000);
  p->SetRunRequested(false);
  Pass(p.get());
  clock.Advance(5000);
  EXPECT_EQ(p->GetTime(), 3000);
  p->SetRunRequested(true);
  Pass(p.get());
  clock.Advance(250);
  EXPECT_EQ(p->GetTime(), 3250);
  EXPECT_TRUE(p->IsReady());
}

TEST(OruMusicPlayer, SteppedCapturesRunOnTheTickCountThoughADeviceIsThere) {
  TClockPlayerHook hook;
  TClockPlayer* d = hook.Device.get();
  plat::TManualClock clock(1000);
  TShowBuilder show;
  show.AddSlide(5000);
  TRef<TOruMusicPlayer> p = NewPlayer(show);
  ASSERT_EQ(p->MusicPlayer(), d);
  p->SetTickClock(true);
  p->SetRunRequested(true);
  Pass(p.get());
  d->Now = d->Now.load() + 900;
  clock.Advance(40);
  EXPECT_EQ(p->GetTime(), 40);
}

TEST(OruMusicPlayer, ClockPausesWithoutJumpsAndNeverPassesTheEndLimit) {
  TClockPlayerHook hook;
  TClockPlayer* d = hook.Device.get();
  d->Now = 100000;
  TShowBuilder show;
  show.AddSlide(5000);
  TRef<TOruMusicPlayer> p = NewPlayer(show);
  ASSERT_EQ(p->MusicPlayer(), d);
  p->SetVolume(0.25f);
  EXPECT_EQ(p->GetVolume(), 0.25f);

  EXPECT_EQ(p->GetTime(), 0);
  p->SetRunRequested(true);
  p->SetRunRequested(true);  // no second event
  Play(p.get(), d, 1500);
  EXPECT_EQ(p->GetTime(), 1500);

  p->SetEndLimit(1200);
  EXPECT_EQ(p->LastEndLimit(), 1200);
  EXPECT_EQ(p->GetTime(), 1200);
  EXPECT_TRUE(p->RunRequested());  // an end limit alone keeps playing
  p->SetEndLimit(1e9);
  EXPECT_EQ(p->GetTime(), 1500);

  p->SetRunRequested(false);
  Pass(p.get());
  d->Now = d->Now.load() + 4000;
  EXPECT_EQ(p->GetTime(), 1500);
  p->SetRunRequested(true);
  Pass(p.get());
  d->Now = d->Now.load() + 10;
  EXPECT_EQ(p->GetTime(), 1510);

  // A new position stops the clock there until the engine runs it again.
  p->SetTime(-1, 7000);
  EXPECT_FALSE(p->RunRequested());
  EXPECT_FALSE(p->IsReady());
  d->Now = d->Now.load() + 500;
  EXPECT_EQ(p->GetTime(), 7000);
  Pass(p.get());
  EXPECT_TRUE(p->IsReady());
  // Values that are not numbers change nothing.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  p->SetTime(nan, nan);
  EXPECT_EQ(p->GetTime(), 7000);
  EXPECT_EQ(p->LastEndLimit(), 1e9);

  bool handled = false;
  EXPECT_ANY_THROW(p->HandleEvent(nullptr, 99, handled, nullptr));
}

TEST(OruMusicPlayer, SynchronisedMusicFollowsPauseAndPositionFreeRunningMusicPlaysOn) {
  plat::TManualClock ticks(1000);  // a pause settles on it
  for (bool sync : {true, false}) {
    SCOPED_TRACE(sync);
    TClockPlayerHook hook;
    TClockPlayer* d = hook.Device.get();
    d->Now = 50000;
    TShowBuilder show;
    show.AddSlide(5000);
    show.AddSlide(10000);
    if (sync) show.Main().Key("opt_syncmode", 1);
    show.MusicItem("a.mp3", 8000);
    TRef<TOruMusicPlayer> p = NewPlayer(show);
    ASSERT_EQ(p->Items().size(), 1u);
    EXPECT_FALSE(p->IsReady());
    Pass(p.get());
    Pass(p.get());
    EXPECT_EQ(Counts(d).requests, 1);
    EXPECT_EQ(LastStartPosition(d), 0u);
    EXPECT_TRUE(p->IsReady());

    p->SetRunRequested(true);
    Play(p.get(), d, 1000);
    EXPECT_EQ(Counts(d).plays, 1);
    EXPECT_NE(p->CurrentSequence(), nullptr);

    Pause(p.get(), ticks);
    Pass(p.get());
    EXPECT_EQ(Counts(d).stops, sync ? 1 : 0);
    d->Now = d->Now.load() + 3000;
    p->SetRunRequested(true);
    Pass(p.get());
    EXPECT_EQ(Counts(d).plays, sync ? 2 : 1);
    EXPECT_EQ(p->GetTime(), 1000);

    // A new position: synchronised music restarts from there (the old place
    // stopped as the new one starts), free-running music is left alone.
    const int stopsBefore = Counts(d).stops;
    p->SetTime(-1, 3000);
    Pass(p.get());
    Pass(p.get());
    if (sync) {
      EXPECT_EQ(Counts(d).requests, 2);
      EXPECT_EQ(LastStartPosition(d), 3000u);
      ASSERT_EQ(p->Items().size(), 1u);
      p->SetRunRequested(true);
      Play(p.get(), d, 20);
      EXPECT_EQ(Counts(d).stops, stopsBefore + 1);
      EXPECT_EQ(Counts(d).plays, 3);
    } else {
      EXPECT_EQ(Counts(d).stops, stopsBefore);
      EXPECT_EQ(Counts(d).requests, 1);
    }
  }
}

// Each pause readies synchronised music at the place of the time the show
// stands at, from its second pass on (the first one may be a seek's stop),
// and the resume sounds from there, however late its pass comes: the clock
// starts again with it.
TEST(OruMusicPlayer, SynchronisedMusicGoesOnFromThePlaceOfEachPause) {
  plat::TManualClock ticks(1000);  // a pause settles on it
  TClockPlayerHook hook;
  TClockPlayer* d = hook.Device.get();
  TShowBuilder show;
  show.AddSlide(10000);
  show.Main().Key("opt_syncmode", 1);
  show.MusicItem("a.mp3", 10000);
  TRef<TOruMusicPlayer> p = NewPlayer(show);
  Pass(p.get());
  Pass(p.get());
  ASSERT_TRUE(p->IsReady());
  p->SetRunRequested(true);
  Play(p.get(), d, 1000);
  ASSERT_EQ(Counts(d).plays, 1);
  std::vector<std::uint32_t> expected;
  int pauses = 0;
  for (double at : {1000.0, 2500.0}) {
    ++pauses;
    Pause(p.get(), ticks);
    Pass(p.get());
    EXPECT_EQ(Counts(d).stops, pauses);
    EXPECT_EQ(Positions(d), expected);
    Pass(p.get());
    expected.push_back(static_cast<std::uint32_t>(at));
    EXPECT_EQ(Positions(d), expected);
    d->Now = d->Now.load() + 4000;
    EXPECT_EQ(p->GetTime(), at);
    EXPECT_TRUE(p->IsReady());
    p->SetRunRequested(true);
    d->Now = d->Now.load() + 3;
    EXPECT_EQ(p->GetTime(), at);
    Pass(p.get());
    EXPECT_EQ(Counts(d).plays, pauses + 1);
    EXPECT_EQ(Positions(d), expected);
    EXPECT_EQ(p->GetTime(), at);
    Play(p.get(), d, 1500);
  }
  EXPECT_EQ(Counts(d).requests, 1);  // the same channel throughout
}

// A pause of synchronised music waits to learn where the stopped music
// fell silent (its fade sounds on past the time the clock stood at); the
// stood clock then moves on to the time of that place, within the end
// limit, and the resume sounds from there. A place behind the stood time
// moves nothing; a resume, a new time or the first answer ends the wait.
// Music of a show that is not synchronised plays on and waits for nothing.
TEST(OruMusicPlayer, SynchronisedPauseStandsWhereTheMusicFellSilent) {
  plat::TManualClock ticks(1000);  // a pause settles on it
  for (bool sync : {true, false}) {
    SCOPED_TRACE(sync);
    TClockPlayerHook hook;
    TClockPlayer* d = hook.Device.get();
    TShowBuilder show;
    show.AddSlide(10000);
    if (sync) show.Main().Key("opt_syncmode", 1);
    show.MusicItem("a.mp3", 10000);
    TRef<TOruMusicPlayer> p = NewPlayer(show);
    Pass(p.get());
    Pass(p.get());
    p->SetRunRequested(true);
    Play(p.get(), d, 1000);
    ASSERT_EQ(Counts(d).plays, 1);
    const auto silence = [&](bool known, double place) {
      std::lock_guard<std::mutex> g(d->Record->m);
      d->Record->silenceKnown = known;
      d->Record->silence = place;
    };
    // The player's pass comes 3 ms after the request: the clock starts with
    // it, and the music sounds from the place the clock stood at.
    const auto resume = [&](double ms) {
      p->SetRunRequested(true);
      d->Now = d->Now.load() + 3;
      Play(p.get(), d, ms);
    };
    double clock = -1;
    silence(false, 0);
    Pause(p.get(), ticks);
    Pass(p.get());
    if (!sync) {
      EXPECT_FALSE(p->SilencePending());
      EXPECT_FALSE(p->StandWhereSilent(1000, clock));
      continue;
    }
    // Held, while its output has not placed the fade.
    EXPECT_EQ(Counts(d).stops, 1);
    EXPECT_TRUE(p->SilencePending());
    silence(true, 1037);
    Pass(p.get());
    EXPECT_FALSE(p->SilencePending());
    ASSERT_TRUE(p->StandWhereSilent(1000, clock));
    EXPECT_EQ(clock, 1037);
    EXPECT_EQ(p->GetTime(), 1037);
    EXPECT_FALSE(p->StandWhereSilent(1037, clock));
    resume(463);
    EXPECT_EQ(Counts(d).plays, 2);
    EXPECT_EQ(Positions(d), (std::vector<std::uint32_t>{1000, 1037}));

    // Behind the time it stood at, or not where the asker left it: no move.
    for (double place : {1490.0, 1540.0}) {
      silence(true, place);
      Pause(p.get(), ticks);
      Pass(p.get());
      EXPECT_FALSE(p->SilencePending());
      EXPECT_FALSE(p->StandWhereSilent(place == 1490 ? 1500 : 1499, clock));
      EXPECT_EQ(p->GetTime(), 1500);
      p->SetRunRequested(true);
      Pass(p.get());
    }
    // A resume or a new time before the answer: it is not asked for any more.
    for (bool move : {false, true}) {
      silence(false, 0);
      Pause(p.get(), ticks);
      Pass(p.get());
      ASSERT_TRUE(p->SilencePending());
      if (move) p->SetTime(-1, 1500);
      else p->SetRunRequested(true);
      EXPECT_FALSE(p->SilencePending());
      silence(true, 1530);
      Pass(p.get());
      EXPECT_FALSE(p->SilencePending());
      EXPECT_FALSE(p->StandWhereSilent(1500, clock));
      p->SetRunRequested(true);
      Pass(p.get());
    }
    // No further than the end limit.
    p->SetEndLimit(1520);
    silence(true, 1540);
    Pause(p.get(), ticks);
    Pass(p.get());
    ASSERT_TRUE(p->StandWhereSilent(1500, clock));
    EXPECT_EQ(clock, 1520);
    EXPECT_EQ(p->GetTime(), 1520);
  }
}

namespace {
class TLinesLog : public zm::TLog {
public:
  void WriteText(const WideString& line) override {
    std::lock_guard<std::mutex> g(m);
    Lines.push_back(line);
  }
  std::vector<WideString> Starting(const WideString& text) {
    std::lock_guard<std::mutex> g(m);
    std::vector<WideString> found;
    for (const WideString& l : Lines)
      if (l.compare(0, text.size(), text) == 0) found.push_back(l);
    return found;
  }
  std::mutex m;
  std::vector<WideString> Lines;
};
}  // namespace

// The sequence's stop writes "Stop Channel: " and the file of each channel
// still playing (read from the log): one for the main music a player ends
// while it sounds, none for a show whose music never started.
TEST(OruMusicPlayer, TheSequencesStopLogsEachChannelStillPlaying) {
  auto log = MakeRef<TLinesLog>();
  log->AddRef();
  zm::SetLog(log.get());
  for (bool run : {true, false}) {
    SCOPED_TRACE(run);
    TClockPlayerHook hook;
    TClockPlayer* d = hook.Device.get();
    TShowBuilder show;
    show.AddSlide(5000);
    show.Main().Key("opt_syncmode", 1);
    show.MusicItem("music\\song.mp3", 5000);
    TRef<TOruMusicPlayer> p = NewPlayer(show);
    Pass(p.get());
    Pass(p.get());
    if (run) {
      p->SetRunRequested(true);
      Play(p.get(), d, 500);
      ASSERT_EQ(Counts(d).plays, 1);
    }
    const std::size_t before = log->Starting(u"Stop Channel: ").size();
    p->Stop();
    const std::vector<WideString> stops = log->Starting(u"Stop Channel: ");
    ASSERT_EQ(stops.size(), before + (run ? 1u : 0u));
    if (run) {
      // The channel the start line named (the music's composite track).
      const std::vector<WideString> starts = log->Starting(u"Start Channel: ");
      ASSERT_FALSE(starts.empty());
      const WideString started = starts.back().substr(15, starts.back().find(u"   IntTime: ") - 15);
      EXPECT_FALSE(started.empty());
      EXPECT_TRUE(stops.back() == u"Stop Channel: " + started);
    }
    p = nullptr;
  }
  zm::SetLog(nullptr);
}

TEST(OruMusicPlayer, MainMusicRepeatsOnlyWithARepeatingShow) {
  for (bool repeat : {true, false}) {
    SCOPED_TRACE(repeat);
    TClockPlayerHook hook;
    TClockPlayer* d = hook.Device.get();
    TShowBuilder show;
    show.AddSlide(5000);
    show.AddSlide(10000);
    show.Main().Key("opt_syncmode", 1);
    show.Main().Key("opt_repeat", repeat ? "repeat" : "stop");
    show.MusicItem("a.mp3", 8000);
    TRef<TOruMusicPlayer> p = NewPlayer(show);
    // Loaded before the show runs, as the engine waits for it.
    Pass(p.get());
    Pass(p.get());
    p->SetRunRequested(true);
    Play(p.get(), d, 4990);
    EXPECT_EQ(Counts(d).requests, 1);
    // The next pass of the show comes into the window at 5000.
    Play(p.get(), d, 20);
    EXPECT_EQ(Counts(d).requests, repeat ? 2 : 1);
    Play(p.get(), d, 6000);
    EXPECT_EQ(Counts(d).plays, repeat ? 2 : 1);
    EXPECT_EQ(p->Items().size(), repeat ? 1u : 0u);
  }
}

TEST(OruMusicPlayer, VoiceCommentsStartAtTheirTimeAndJoinLateAtTheRightOffset) {
  plat::TManualClock ticks(1000);  // a pause settles on it
  TClockPlayerHook hook;
  TClockPlayer* d = hook.Device.get();
  TShowBuilder show;
  show.AddSlide(4000);
  show.AddSlide(8000).Comment("voice.mp3", 3000);
  show.Main().Key("opt_repeat", "stop");
  TRef<TOruMusicPlayer> p = NewPlayer(show);
  const TSlideMusicInfo* info = p->Source()->Slide(1);
  ASSERT_NE(info, nullptr);
  const double length = info->CommentLength;
  ASSERT_GT(length, 1000);
  const auto first = static_cast<std::uint32_t>(std::round(info->CommentStartPosition));

  Pass(p.get());
  Pass(p.get());
  EXPECT_EQ(Counts(d).requests, 1);
  EXPECT_EQ(LastStartPosition(d), first);
  p->SetRunRequested(true);
  Play(p.get(), d, 3950);
  EXPECT_EQ(Counts(d).plays, 0);
  // Played a little ahead of its time, silent up to it.
  Play(p.get(), d, 60);
  EXPECT_EQ(Counts(d).plays, 1);
  EXPECT_EQ(Delays(d), std::vector<double>{kStartLeadMs});
  EXPECT_NE(p->CurrentComment(), nullptr);
  // It pauses with the show, ready to go on from where the show stands.
  Pause(p.get(), ticks);
  Pass(p.get());
  EXPECT_EQ(Counts(d).stops, 1);
  Pass(p.get());
  EXPECT_EQ(Positions(d), std::vector<std::uint32_t>{first + 10});
  p->SetRunRequested(true);
  Pass(p.get());
  EXPECT_EQ(Counts(d).plays, 2);
  // Stopped 10 ms before its end, then gone.
  Play(p.get(), d, length);
  EXPECT_EQ(Counts(d).stops, 2);
  EXPECT_EQ(p->CurrentComment(), nullptr);
  EXPECT_TRUE(p->Items().empty());

  // Joining one second late plays from one second in.
  p->SetTime(-1, 5000);
  Pass(p.get());
  Pass(p.get());
  EXPECT_EQ(Counts(d).requests, 2);
  EXPECT_EQ(LastStartPosition(d), first + 1000);
  p->SetRunRequested(true);
  Pass(p.get());
  EXPECT_EQ(Counts(d).plays, 3);

  // Past its length: not opened at all; the old one is stopped once the
  // show runs there.
  p->SetTime(-1, 4000 + length + 1);
  Pass(p.get());
  Pass(p.get());
  p->SetRunRequested(true);
  Pass(p.get());
  EXPECT_EQ(Counts(d).requests, 2);
  EXPECT_EQ(Counts(d).stops, 3);
  EXPECT_TRUE(p->Items().empty());
}

TEST(OruMusicPlayer, LoweringTheEndLimitDoesNotScheduleACommentTwice) {
  TClockPlayerHook hook;
  TClockPlayer* d = hook.Device.get();
  TShowBuilder show;
  show.AddSlide(6000);
  show.AddSlide(9000).Comment("voice.mp3", 2000);
  show.Main().Key("opt_repeat", "stop");
  TRef<TOruMusicPlayer> p = NewPlayer(show);
  p->SetRunRequested(true);
  Play(p.get(), d, 1500);
  EXPECT_EQ(Counts(d).requests, 1);
  p->SetEndLimit(800);
  Play(p.get(), d, 100);
  p->SetEndLimit(1e9);
  Play(p.get(), d, 100);
  EXPECT_EQ(Counts(d).requests, 1);
  EXPECT_EQ(p->Items().size(), 1u);
}

TEST(OruMusicPlayer, MissingAndDamagedFilesLetTheShowPlayOnSilent) {
  TClockPlayerHook hook;
  TClockPlayer* d = hook.Device.get();
  TShowBuilder show;
  show.AddSlide(5000);
  show.AddSlide(10000).Comment("damaged.mp3", 2000);
  show.Main().Key("opt_syncmode", 1);
  show.MusicItem("missing.mp3", 8000);
  TRef<TOruMusicPlayer> p = NewPlayer(show);
  Pass(p.get());
  Pass(p.get());
  // A slide's voice comment must not cost the show its main music.
  ASSERT_NE(p->Source()->MainList(), nullptr);
  ASSERT_EQ(p->Items().size(), 2u);
  EXPECT_EQ(Counts(d).created, 0);
  // Nothing to wait for: the failed channels count as opened.
  EXPECT_TRUE(p->IsReady());
  p->SetRunRequested(true);
  Play(p.get(), d, 7000);
  EXPECT_EQ(p->GetTime(), 7000);
  EXPECT_EQ(Counts(d).plays, 0);
}

TEST(OruMusicPlayer, SequenceOpensOnlyTheNextFiveSecondsAndSurvivesOddLists) {
  TClockPlayerHook hook;
  TClockPlayer* d = hook.Device.get();
  TShowBuilder show;
  show.AddSlide(4000);
  TRef<TOruMusicPlayer> p = NewPlayer(show);
  auto drain = [&] { p->Loader()->Events()->ProcessEvents(); };

  TRef<TPlayList> list = MakeRef<TPlayList>(false);
  list->AddEntry(u"a.mp3", 6000);
  list->AddEntry(u"b.mp3", 4000);
  TRef<TPlaySequence> seq = MakeRef<TPlaySequence>(p.get(), true, list.get());
  EXPECT_FALSE(seq->Ready);
  seq->Sync(false, -1);
  drain();
  EXPECT_EQ(Counts(d).requests, 1);
  seq->Sync(false, 1000);  // b starts exactly 5000 ahead
  drain();
  EXPECT_EQ(Counts(d).requests, 1);
  seq->Sync(false, 1001);
  drain();
  EXPECT_EQ(Counts(d).requests, 2);
  EXPECT_EQ(LastStartPosition(d), 0u);
  // Past the end of a list that does not repeat: finished.
  seq->Sync(false, 10001);
  EXPECT_TRUE(seq->Finished);
  EXPECT_TRUE(seq->Channels.empty());
  seq = nullptr;
  drain();

  // A repeating list without length would never leave its first window.
  TRef<TPlayList> empty = MakeRef<TPlayList>(true);
  for (int i = 0; i < 3; ++i) empty->AddEntry(u"z.mp3", 0);
  seq = MakeRef<TPlaySequence>(p.get(), true, empty.get());
  seq->Sync(false, 0);
  EXPECT_TRUE(seq->Channels.empty());
  seq = nullptr;

  // Countless tiny tracks: opened a bounded number per pass.
  TRef<TPlayList> tiny = MakeRef<TPlayList>(true);
  for (int i = 0; i < 100000; ++i) tiny->AddEntry(u"t.mp3", 1);
  seq = MakeRef<TPlaySequence>(p.get(), true, tiny.get());
  seq->Sync(false, 0);
  const std::size_t firstPass = seq->Channels.size();
  EXPECT_GT(firstPass, 0u);
  EXPECT_LE(firstPass, 100u);
  seq->Sync(false, 0);
  EXPECT_GT(seq->Channels.size(), firstPass);
  // A channel of someone else is not taken.
  TRef<TOruChannel> stranger = NewChannel(seq->Id, u"x.mp3");
  seq->ChannelLoaded(stranger.get());
  EXPECT_FALSE(stranger->Loaded);
  seq = nullptr;
  drain();
}

}  // namespace
}  // namespace oru
