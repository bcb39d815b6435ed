// The player's sound on the real clock as a user hears it, recorded through
// the WAV sink: every music format a show may carry, a clip's sound against
// its pictures, and synchronised music across a seek. Tones are told by
// their frequency; times are the mixer's frames (MixRecording.h), against
// which the player's frames (as it stamps them with their show times, and
// as they are presented) and key presses are read too.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Oru/OruViewer/OruMainForm.h"
#include "OruLib2/OruViewer/OruShowViewer.h"
#include "Platform/PlatFrameClock.h"
#include "Platform/PlatUtf8.h"
#include "Platform/User/PlatUserHeadless.h"
#include "tests/Oru/OruViewer/InProcessPlayer.h"
#include "tests/Oru/OruViewer/MixRecording.h"
#include "tests/ZmLib/Music/MusicMediaKit.h"
#include "tests/support/kit/ShowBuilder.h"

namespace {

// A frame as its thread stamps it with its show time, before drawing it,
// and the mixer's count then.
struct TSoundTestStamp {
  std::int64_t ShowTime;
  std::int64_t Mixed;
};

// One presented frame of the show: its show time, the colour at the
// window's centre (0x00RRGGBB) and the mixer's count when it was presented.
struct TSoundTestPresent {
  std::int64_t ShowTime;
  std::uint32_t Centre;
  std::int64_t Mixed;
  std::int32_t Clip = -1;  // the clip's frame it shows (the clip test), -1 none
};

// A slide of one colour with a small box moving along its top edge, so
// that frames come all the time the show plays.
void MovingSoundTestSlide(zmtest::TShowSlide& s, std::uint8_t red, long long lengthMs) {
  s.SolidBackground(red, 0, 0).Transition("quick", 0);
  zmtest::TShowObject& mover = s.Box("Mover", 40, 40, "255,255,255");
  mover.KeyPoint(0).Position(-90, -80).Scale(10, 10);
  mover.KeyPoint(lengthMs).Position(90, -80).Scale(10, 10);
}

// Runs ffmpeg with lavfi inputs into File; false when it failed.
bool MakeSoundTestMedia(const std::string& inputsAndArgs, const std::string& file) {
  return zmtest::RunTool("ffmpeg -hide_banner -loglevel error -y " + inputsAndArgs + " " + zmtest::ShellQuote(file)) ==
         0;
}

// Music whose pitch tells its place: a sine rising kChirpHzPerS from
// kChirpHz at its start.
constexpr double kChirpHz = 200, kChirpHzPerS = 500;

// The place (ms into the music) heard at the middle of Frames of the
// recording from From, from the pitch that the left channel's rising zero
// crossings give; -1 where the window holds no clear tone.
double ChirpPlaceAt(const orutest::TMixRecording& r, std::int64_t from, std::int64_t frames) {
  if (from < 0 || frames <= 0 || from + frames > r.Frames()) return -1;
  const std::vector<std::int16_t>& s = r.Samples();
  const auto at = [&](std::int64_t f) { return double(s[std::size_t(f) * 2]); };
  double first = -1, last = -1;
  int crossings = 0;
  for (std::int64_t f = from; f + 1 < from + frames; ++f) {
    if (std::abs(at(f)) > 30000 || std::abs(at(f + 1)) > 30000) return -1;
    if (at(f) < 0 && at(f + 1) >= 0) {
      const double x = double(f) + at(f) / (at(f) - at(f + 1));
      if (first < 0) first = x;
      last = x;
      ++crossings;
    }
  }
  if (crossings < 8 || !(last > first)) return -1;
  const double hz = double(crossings - 1) * double(orutest::kMixRate) / (last - first);
  return (hz - kChirpHz) / kChirpHzPerS * 1000;
}

// The largest sample (either channel) over Frames from From.
int PeakOf(const orutest::TMixRecording& r, std::int64_t from, std::int64_t frames) {
  int peak = 0;
  for (std::int64_t f = std::max<std::int64_t>(from, 0); f < from + frames && f < r.Frames(); ++f)
    peak = std::max({peak, std::abs(int(r.Samples()[std::size_t(f) * 2])),
                     std::abs(int(r.Samples()[std::size_t(f) * 2 + 1]))});
  return peak;
}

class RealClockSound : public ::testing::Test {
protected:
  void SetUp() override {
    if (!zmtest::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  }

  // Plays the command line on the real clock, recording, until Until says
  // so (given the presents so far) or a minute has passed. Drive, when
  // given, runs on its own thread meanwhile.
  void Play(const zm::WideString& command, const std::function<bool(const std::vector<TSoundTestPresent>&)>& until,
            const std::function<void()>& drive = nullptr) {
    zmtest::TEnvGuard env;
    // The shows are 160 x 120 and so is the screen they fill (unless the
    // run names another): frames are small and quick to draw, also on a
    // busy machine.
    if (!std::getenv("ZM_SCREEN_SIZE")) env.Set("ZM_SCREEN_SIZE", "160x120");
    recording_ = std::make_unique<orutest::TMixRecording>(env, folder_.File("mix.wav"));
    ASSERT_NO_FATAL_FAILURE(recording_->Start());
    plat::headless::SetPresentObserver(
        [this](plat::HWND, std::int64_t showTime, const std::uint32_t* bits, int width, int height) {
          if (showTime < 0 || !bits || width <= 0 || height <= 0) return;
          const std::uint32_t centre = bits[std::size_t(height / 2) * std::size_t(width) + std::size_t(width / 2)];
          const std::int64_t mixed = recording_->Mixed();
          const std::int32_t clip = readClip_ ? readClip_(bits, width, height) : -1;
          std::lock_guard<std::mutex> l(lock_);
          presents_.push_back({showTime, centre & 0xFFFFFF, mixed, clip});
          changed_.notify_all();
        });
    plat::SetStampObserver([this](std::int64_t showTime) {
      const std::int64_t mixed = recording_->Mixed();
      std::lock_guard<std::mutex> l(lock_);
      stamps_.push_back({showTime, mixed});
    });
    std::atomic<bool> over{false};
    std::thread driver;
    if (drive) driver = std::thread([&] { drive(); });
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    const orutest::TInProcessRun run = orutest::PlayInProcess(
        command, 0, [](std::int64_t, const std::uint32_t*, int, int) { return false; }, {}, -1,
        [&](oru::TMainForm& form) {
          std::lock_guard<std::mutex> l(lock_);
          if (oru::TOruShowViewer* v = form.Viewer()) reported_ = v->Time();
          changed_.notify_all();
          if (!over && (until(presents_) || std::chrono::steady_clock::now() > giveUp)) {
            over = true;
            form.Close();
          }
        });
    {
      std::lock_guard<std::mutex> l(lock_);
      over = true;
      ended_ = true;
    }
    changed_.notify_all();
    if (driver.joinable()) driver.join();
    plat::headless::SetPresentObserver(nullptr);
    plat::SetStampObserver(nullptr);
    EXPECT_TRUE(run.Started);
    EXPECT_TRUE(run.Boxes.empty()) << run.Boxes.front();
    ASSERT_NO_FATAL_FAILURE(recording_->Finish());
  }

  // For the driver: waits until a presented frame's show time reaches Time
  // and the window has had the engine's report of it (keys step from there).
  bool WaitForShowTime(std::int64_t time) {
    std::unique_lock<std::mutex> l(lock_);
    return changed_.wait_for(l, std::chrono::seconds(30), [&] {
      return ended_ || (!presents_.empty() && presents_.back().ShowTime >= time && reported_ >= time);
    }) && !ended_;
  }

  // For the driver: waits until the window has been told show time Time
  // (a still slide presents no frames to wait for).
  bool WaitForReported(std::int64_t time) {
    std::unique_lock<std::mutex> l(lock_);
    return changed_.wait_for(l, std::chrono::seconds(30), [&] { return ended_ || reported_ >= time; }) && !ended_;
  }

  std::int64_t Reported() {
    std::lock_guard<std::mutex> l(lock_);
    return reported_;
  }

  // A synchronised show of slides of 2000 ms, moving or still, paused with
  // Space at 2500, 4500 and 6500 for 400 ms each: checks the music's place
  // and the frames around every pause.
  void PausedAndResumed(bool moving);

  // The mixer frame at which show time 0 sounded, from what the player
  // did: over the frames that In picks, the median of the mixer's count
  // when the frame was stamped with its show time, less that time. How
  // long frames take to draw and present, which a busy machine stretches,
  // plays no part. max() when In picks none.
  std::int64_t MixerAtShowZero(const std::function<bool(const TSoundTestStamp&)>& in) {
    std::vector<std::int64_t> zeros;
    for (const TSoundTestStamp& s : stamps_)
      if (in(s)) zeros.push_back(s.Mixed - orutest::MixFrames(s.ShowTime));
    if (zeros.empty()) return std::numeric_limits<std::int64_t>::max();
    std::nth_element(zeros.begin(), zeros.begin() + std::ptrdiff_t(zeros.size() / 2), zeros.end());
    return zeros[zeros.size() / 2];
  }

  zmtest::TTempFolder folder_;
  // Reads the frame number a clip shows from a presented frame, -1 none.
  std::function<std::int32_t(const std::uint32_t* bits, int width, int height)> readClip_;
  std::unique_ptr<orutest::TMixRecording> recording_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<TSoundTestPresent> presents_;
  std::vector<TSoundTestStamp> stamps_;
  std::int64_t reported_ = -1;  // the show time the window was told last
  bool ended_ = false;
};

void RealClockSound::PausedAndResumed(bool moving) {
  constexpr long long kSlideMs = 2000;
  constexpr int kSlides = 5;
  constexpr std::int64_t kPauseAt[] = {2500, 4500, 6500};
  constexpr int kPauses = int(std::size(kPauseAt));
  const std::string music = folder_.File("chirp.wav");
  ASSERT_TRUE(MakeSoundTestMedia("-f lavfi -i \"aevalsrc='0.25*sin(2*PI*(" + std::to_string(int(kChirpHz)) + "*t+" +
                                     std::to_string(int(kChirpHzPerS / 2)) + "*t*t))':s=44100:d=" +
                                     std::to_string(kSlides * kSlideMs / 1000) + "\" -ac 2 -c:a pcm_s16le",
                                 music));
  zmtest::TShowBuilder show;
  show.ScreenSize(160, 120).Repeat("stop");
  show.Main().Key("opt_syncmode", 1);
  for (int i = 0; i < kSlides; ++i) {
    zmtest::TShowSlide& s = show.AddSlide(kSlideMs * (i + 1));
    if (moving) MovingSoundTestSlide(s, std::uint8_t(40 * i), kSlideMs);
    else s.SolidBackground(std::uint8_t(40 * i), 0, 0).Transition("quick", 0);
  }
  show.AddFile("music\\chirp.wav", zmtest::ReadFileBytes(music));
  show.MusicItem("music\\chirp.wav", kSlides * kSlideMs);
  show.Write();

  struct TKeys {
    std::int64_t Pause = -1, Resume = -1;
    std::int64_t Reported = -1;  // the show time the window had at the resume key
  } keys[kPauses];
  const auto space = [] {
    plat::headless::Key(32, true);
    plat::headless::Key(32, false);
  };
  Play(
      u"player -filename \"" + plat::FromUtf8(show.Folder() + "/Project.oru") + u"\"",
      [](const std::vector<TSoundTestPresent>& p) { return !p.empty() && p.back().ShowTime >= 8000; },
      [&] {
        for (TKeys& k : keys) {
          const std::int64_t at = kPauseAt[&k - keys];
          if (!(moving ? WaitForShowTime(at) : WaitForReported(at))) return;
          // The engine looks at a still slide about once a second: the key
          // comes well after its last look, as a user's would.
          if (!moving) std::this_thread::sleep_for(std::chrono::milliseconds(300));
          k.Pause = recording_->Mixed();
          space();
          // The pause a user makes: time passes, nothing else happens. It
          // lasts 400 ms of the output too (a busy machine may hold the
          // output up meanwhile), so that the silence it makes is heard.
          std::this_thread::sleep_for(std::chrono::milliseconds(400));
          const auto give = std::chrono::steady_clock::now() + std::chrono::seconds(30);
          while (recording_->Mixed() - k.Pause < orutest::MixFrames(400) && std::chrono::steady_clock::now() < give)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
          k.Reported = Reported();
          k.Resume = recording_->Mixed();
          space();
        }
      });
  ASSERT_GE(keys[kPauses - 1].Resume, 0) << "the show did not reach its last pause";

  const auto ms = [](std::int64_t frames) { return frames * 1000 / orutest::kMixRate; };
  const std::int64_t w = orutest::MixFrames(40), fade = orutest::MixFrames(15), one = orutest::MixFrames(1);
  std::string figures;
  // Where the music stood when it went silent and when it came back (ms
  // into it), and the mixer frames of both.
  double silentPlace[kPauses], backPlace[kPauses];
  std::int64_t silentAt[kPauses], backAt[kPauses];
  for (int i = 0; i < kPauses; ++i) {
    const TKeys& k = keys[i];
    silentAt[i] = backAt[i] = -1;
    for (std::int64_t f = k.Pause; f + orutest::MixFrames(10) <= k.Resume; f += one)
      if (PeakOf(*recording_, f, orutest::MixFrames(10)) < 100) {
        silentAt[i] = f;
        break;
      }
    ASSERT_GE(silentAt[i], 0) << "pause " << i + 1 << ": the music was not silenced";
    EXPECT_LT(PeakOf(*recording_, silentAt[i], k.Resume - silentAt[i]), 100)
        << "pause " << i + 1 << ": music heard before the resume";
    for (std::int64_t f = k.Resume; f < recording_->Frames(); f += one)
      if (PeakOf(*recording_, f, one) >= 1000) {
        backAt[i] = f;
        break;
      }
    ASSERT_GE(backAt[i], 0) << "pause " << i + 1 << ": the music did not come back";
    // Read past the fades, then taken to the silence and the return.
    silentPlace[i] = ChirpPlaceAt(*recording_, silentAt[i] - fade - w, w);
    backPlace[i] = ChirpPlaceAt(*recording_, backAt[i] + fade, w);
    ASSERT_GE(silentPlace[i], 0) << "pause " << i + 1;
    ASSERT_GE(backPlace[i], 0) << "pause " << i + 1;
    silentPlace[i] += double(ms(fade + w / 2));
    backPlace[i] -= double(ms(fade + w / 2));
    figures += "pause " + std::to_string(i + 1) + ": silent at " + std::to_string(std::lround(silentPlace[i])) +
               " ms of the music, " + std::to_string(ms(silentAt[i] - k.Pause)) + " ms after the key; back at " +
               std::to_string(std::lround(backPlace[i])) + ", " + std::to_string(ms(backAt[i] - k.Resume)) +
               " ms after the key; the show stood at " + std::to_string(k.Reported) + "\n";
    // The show stands where the fade fell silent: what sounded after the
    // key (the ring's lead and the fade) is not heard again.
    EXPECT_NEAR(backPlace[i], silentPlace[i], 60) << "pause " << i + 1 << ": the music came back elsewhere";
    EXPECT_NEAR(backPlace[i], double(k.Reported), 40) << "pause " << i + 1 << ": the show stood elsewhere";
  }

  // Moving pictures: the first frame after each resume comes at once, with
  // the music, and goes on from the last one before it, no further than
  // the music has gone since it came back (as the player stamped them: a
  // busy machine may take a while to answer the key, to draw and to
  // present).
  if (moving) {
    for (int i = 0; i < kPauses; ++i) {
      auto first = std::find_if(presents_.begin(), presents_.end(),
                                [&](const TSoundTestPresent& p) { return p.Mixed >= keys[i].Resume; });
      ASSERT_TRUE(first != presents_.end() && first != presents_.begin()) << "pause " << i + 1;
      const TSoundTestPresent& before = *std::prev(first);
      auto stamped = std::find_if(stamps_.begin(), stamps_.end(),
                                  [&](const TSoundTestStamp& f) { return f.Mixed >= keys[i].Resume; });
      ASSERT_TRUE(stamped != stamps_.end() && stamped != stamps_.begin()) << "pause " << i + 1;
      const TSoundTestStamp& drawnBefore = *std::prev(stamped);
      figures += "pause " + std::to_string(i + 1) + ": first frame " +
                 std::to_string(ms(first->Mixed - keys[i].Resume)) + " ms after the key, " +
                 std::to_string(ms(stamped->Mixed - backAt[i])) + " ms from the music's return, show time " +
                 std::to_string(before.ShowTime) + " -> " + std::to_string(first->ShowTime) + " (drawn " +
                 std::to_string(drawnBefore.ShowTime) + " -> " + std::to_string(stamped->ShowTime) + ")\n";
      EXPECT_LE(std::llabs(stamped->Mixed - backAt[i]), orutest::MixFrames(100))
          << "pause " << i + 1 << ": the pictures stood after the resume";
      EXPECT_GE(stamped->ShowTime, drawnBefore.ShowTime) << "pause " << i + 1;
      EXPECT_LE(stamped->ShowTime - drawnBefore.ShowTime,
                std::max<std::int64_t>(ms(stamped->Mixed - backAt[i]), 0) + 60)
          << "pause " << i + 1 << ": the pictures went on from elsewhere";
    }
  }
  // Pictures follow the sound after each resume as before the first pause:
  // the frames' offset from the music's place (the output's own lag) stays.
  std::int64_t offset[kPauses + 1];
  for (int s = 0; s <= kPauses; ++s) {
    const std::int64_t from = s ? keys[s - 1].Resume : 0;
    const std::int64_t to = s < kPauses ? keys[s].Pause : std::numeric_limits<std::int64_t>::max();
    const std::int64_t zero =
        MixerAtShowZero([&](const TSoundTestStamp& f) { return f.Mixed >= from && f.Mixed < to && f.ShowTime >= 500; });
    ASSERT_NE(zero, std::numeric_limits<std::int64_t>::max()) << "no frame between pauses " << s << " and " << s + 1;
    const std::int64_t heardZero = s ? backAt[s - 1] - orutest::MixFrames(std::llround(backPlace[s - 1]))
                                     : silentAt[0] - orutest::MixFrames(std::llround(silentPlace[0]));
    offset[s] = zero - heardZero;
    figures += "after pause " + std::to_string(s) + ": the pictures " + std::to_string(ms(offset[s])) +
               " ms behind the music\n";
    EXPECT_NEAR(double(ms(offset[s])), double(ms(offset[0])), 40) << "after pause " << s;
  }
  if (std::getenv("ZM_SOUND_PRINT")) std::printf("%s", figures.c_str());
}

}  // namespace

// A show in a container whose music is one item of each format, each a
// tone of its own: each tone is heard for most of its item. Ogg Vorbis
// (mono, stereo, 48 kHz) and Opus go to FFmpeg, as the show names no Ogg
// plug-in; so do FLAC, AAC and WMA.
TEST_F(RealClockSound, EveryMusicFormatIsHeard) {
  struct TFormat {
    const char* File;
    const char* Args;
    int Hz;
    int Rate;
  };
  const TFormat formats[] = {
      {"tone.mp3", "-ac 2 -c:a libmp3lame -b:a 128k", 300, 44100},
      {"pcm.wav", "-ac 2 -c:a pcm_s16le", 400, 44100},
      {"adpcm.wav", "-ac 2 -c:a adpcm_ms", 500, 44100},
      {"mono.ogg", "-ac 1 -c:a libvorbis", 600, 44100},
      {"stereo.ogg", "-ac 2 -c:a libvorbis", 700, 44100},
      {"rate48.ogg", "-ac 2 -c:a libvorbis", 800, 48000},
      {"tone.opus", "-ac 2 -c:a libopus", 900, 48000},
      {"tone.flac", "-ac 2 -c:a flac", 1000, 44100},
      {"tone.m4a", "-ac 2 -c:a aac", 1100, 44100},
      {"tone.wma", "-ac 2 -c:a wmav2", 1200, 44100},
  };
  constexpr long long kItemMs = 500;
  const long long total = kItemMs * std::size(formats);
  zmtest::TShowBuilder show;
  MovingSoundTestSlide(show.AddSlide(total + 2000), 0, total + 2000);
  show.Repeat("stop");
  std::vector<double> tones;
  for (const TFormat& f : formats) {
    const std::string file = folder_.File(f.File);
    ASSERT_TRUE(MakeSoundTestMedia("-f lavfi -i sine=frequency=" + std::to_string(f.Hz) + ":sample_rate=" +
                                       std::to_string(f.Rate) + ":duration=1 " + f.Args,
                                   file))
        << f.File;
    show.AddFile(std::string("music\\") + f.File, zmtest::ReadFileBytes(file));
    show.MusicItem(std::string("music\\") + f.File, kItemMs);
    tones.push_back(f.Hz);
  }
  zmtest::TShowContainerWriter container;
  show.AddToContainer(container);
  const std::string packed = folder_.File("formats.orushow");
  container.WriteFile(packed);

  Play(u"player -exename \"" + plat::FromUtf8(packed) + u"\"",
       [&](const std::vector<TSoundTestPresent>& p) { return !p.empty() && p.back().ShowTime > total + 300; });

  // The tone of each 50 ms window; each format's for most of its item.
  const std::int64_t window = orutest::MixFrames(50);
  std::vector<int> heard(std::size(formats), 0);
  for (std::int64_t f = 0; f + window <= recording_->Frames(); f += window) {
    const double hz = recording_->ToneAt(f, window, tones);
    for (std::size_t i = 0; i < std::size(formats); ++i) heard[i] += hz == tones[i];
  }
  for (std::size_t i = 0; i < std::size(formats); ++i)
    EXPECT_GE(heard[i], 7) << formats[i].File << " heard for " << heard[i] * 50 << " ms of " << kItemMs;
}

namespace {

// The filters that write each frame's number into a clip of 160 x 120: a
// white box for each bit set, 20 pixels a side, along its bottom edge.
std::string ClipNumberBoxes() {
  std::string boxes;
  for (int i = 0; i < 8; ++i)
    boxes += ",drawbox=x=" + std::to_string(20 * i) + ":y=100:w=20:h=20:c=white:t=fill:enable=mod(floor(n/" +
             std::to_string(1 << i) + ")\\,2)";
  return boxes;
}

}  // namespace

// A clip turns from red to blue and its sound from 1000 Hz to 1300 Hz at
// the same clip time. It starts at show time 1000, inside the second slide
// (500 to 4500), 500 ms into the file, for 2500 ms: its sound starts at
// 1000, changes with the picture and ends at 3500.
TEST_F(RealClockSound, ClipSoundChangesWithItsPictureAndLastsAsLong) {
  const std::string clip = folder_.File("clip.mp4");
  ASSERT_TRUE(MakeSoundTestMedia(
      "-f lavfi -i color=c=red:s=160x120:r=25:d=2 -f lavfi -i color=c=blue:s=160x120:r=25:d=1.5 "
      "-f lavfi -i sine=frequency=1000:duration=2 -f lavfi -i sine=frequency=1300:duration=1.5 "
      "-filter_complex '[0:v][2:a][1:v][3:a]concat=n=2:v=1:a=1[v0][a]; [v0]null" +
          ClipNumberBoxes() + "[v]' -map '[v]' -map '[a]' -c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac -ar 44100",
      clip));
  // The clip fills 60 % of the 160 x 120 slide about its middle, the slide
  // as much of the screen as it can.
  readClip_ = [](const std::uint32_t* bits, int width, int height) {
    const double scale = std::min(width / 160.0, height / 120.0);
    const auto at = [&](int x, int y) {
      const double wx = (width - 160 * scale) / 2 + scale * (32 + 0.6 * x);
      const double wy = (height - 120 * scale) / 2 + scale * (24 + 0.6 * y);
      return bits[std::size_t(wy) * std::size_t(width) + std::size_t(wx)];
    };
    std::int32_t n = 0;
    for (int i = 0; i < 8; ++i) {
      const std::uint32_t c = at(20 * i + 10, 110);
      const int green = int(c >> 8 & 0xFF);
      if (green > 160) n |= 1 << i;
      else if (green > 80) return -1;  // neither box nor ground
    }
    return n;
  };
  zmtest::TShowBuilder show;
  show.ScreenSize(160, 120).Repeat("stop");
  MovingSoundTestSlide(show.AddSlide(500), 0, 500);
  zmtest::TShowSlide& second = show.AddSlide(4500);
  MovingSoundTestSlide(second, 0, 4000);
  second.Object("Clip", "Video")
      .Key("FileName", "video\\clip.mp4")
      .Key("StartORUTime", 1000)
      .Key("StartVideoTime", 500)
      .Key("Duration", 2500)
      .Key("Mute", 0)
      .KeyPoint(0)
      .Scale(60, 60);
  show.AddFile("video\\clip.mp4", zmtest::ReadFileBytes(clip));
  show.Write();

  Play(u"player -filename \"" + plat::FromUtf8(show.Folder() + "/Project.oru") + u"\"",
       [](const std::vector<TSoundTestPresent>& p) { return !p.empty() && p.back().ShowTime > 3900; });

  // Each frame shows the clip's frame of its show time, read from the
  // frame as the player stamped it: never more than a clip frame (40 ms)
  // off, as the clip's frames are decoded ahead of the show. Behind by more
  // only right after the frames themselves stood for more than 120 ms (a
  // busy machine may hold the drawing up so), past the 160 ms the clip was
  // read ahead of the frame before: that frame shows what was decoded then.
  int read = 0, worst = 0, late = 0;
  std::int64_t previous = -1;
  for (const TSoundTestPresent& p : presents_) {
    const std::int64_t before = std::exchange(previous, p.ShowTime);
    if (p.ShowTime < 1000 || p.ShowTime > 3500) continue;
    ASSERT_GE(p.Clip, 0) << "no clip frame read at show time " << p.ShowTime;
    const std::int32_t due = std::int32_t(std::nearbyint(double(p.ShowTime - 1000 + 500) * 25 / 1000));
    const int behind = (due - p.Clip) * 40;
    ++read;
    worst = std::max(worst, behind);
    late += behind > 40;
    EXPECT_GE(behind, -40) << "show time " << p.ShowTime << " shows clip frame " << p.Clip << " of " << due;
    EXPECT_TRUE(behind <= 40 || p.ShowTime - before > 120)
        << "show time " << p.ShowTime << " shows clip frame " << p.Clip << " of " << due << ", the frame before "
        << p.ShowTime - before << " ms earlier";
  }
  EXPECT_GT(read, 10);

  const auto isBlue = [](std::uint32_t c) { return (c & 0xFF) > 160 && (c >> 16 & 0xFF) < 80; };
  auto blue = std::find_if(presents_.begin(), presents_.end(),
                           [&](const TSoundTestPresent& p) { return p.ShowTime >= 1000 && isBlue(p.Centre); });
  ASSERT_TRUE(blue != presents_.end() && blue != presents_.begin()) << "the clip never turned blue";
  // The picture changed between these two frames.
  const std::int64_t redUntil = std::prev(blue)->ShowTime, blueFrom = blue->ShowTime;
  const std::int64_t zero =
      MixerAtShowZero([](const TSoundTestStamp& f) { return f.ShowTime >= 500 && f.ShowTime <= 3900; });
  ASSERT_NE(zero, std::numeric_limits<std::int64_t>::max());
  const auto showTimeOf = [&](std::int64_t mixed) { return (mixed - zero) * 1000 / orutest::kMixRate; };

  const std::vector<double> tones = {1000, 1300};
  const std::int64_t w = orutest::MixFrames(10);
  const std::int64_t low = recording_->FirstOf(1000, 0, w, tones);
  const std::int64_t high = recording_->FirstOf(1300, std::max<std::int64_t>(low, 0), w, tones);
  ASSERT_GE(low, 0) << "the clip's first tone was not heard";
  ASSERT_GE(high, 0) << "the clip's second tone was not heard";
  // Where the sound ends: after the last window that holds a tone (a gap
  // before it, which a busy machine may leave, does not end it).
  std::int64_t end = high;
  for (std::int64_t f = recording_->Frames() - w; f > high; f -= orutest::MixFrames(1))
    if (recording_->ToneAt(f, w, tones) != 0) {
      end = f + orutest::MixFrames(1);
      break;
    }

  // Each change at the middle of the first window that shows it. Against
  // the pictures: within a clip frame (40 ms) and some.
  EXPECT_NEAR(double(showTimeOf(low + w / 2)), 1000, 60) << "the sound starts at another time than the clip";
  const std::int64_t change = showTimeOf(high + w / 2);
  EXPECT_TRUE(change >= redUntil - 50 && change <= blueFrom + 50)
      << "the tone changed at show time " << change << ", the picture between " << redUntil << " and " << blueFrom;
  // Against itself: the clip's 1500 and 2500 ms. The slide's sound stops
  // 10 ms before its end, behind the output's own lag: its last few tens
  // of ms may go.
  const auto ms = [](std::int64_t frames) { return double(frames * 1000 / orutest::kMixRate); };
  EXPECT_NEAR(ms(high - low), 1500, 15);
  EXPECT_GT(ms(end - low), 2400) << "the sound does not last as long as the clip";
  EXPECT_LT(ms(end - low), 2560);
  if (std::getenv("ZM_SOUND_PRINT"))
    std::printf("clip: sound from show time %lld for %.0f ms; the tone changed at %lld, the picture between %lld and "
                "%lld; frames %d, the picture behind its show time by %d ms at most, in %d frames by more than 40\n",
                static_cast<long long>(showTimeOf(low + w / 2)), ms(end - low), static_cast<long long>(change),
                static_cast<long long>(redUntil), static_cast<long long>(blueFrom), read, worst, late);
}

// Synchronised music: Right at 800 ms goes to the second slide (1500);
// Right again as soon as that slide shows, perhaps while its music still
// loads, goes to the third (3000). The third slide's tone begins where the
// show's clock runs on from 3000; the tone of a place left is gone within
// 150 ms of the show's going there and does not come back.
TEST_F(RealClockSound, SynchronisedMusicFollowsASeekAtOnce) {
  constexpr long long kSlideMs = 1500;
  const std::vector<double> tones = {500, 700, 900, 1100};
  const std::string music = folder_.File("steps.wav");
  ASSERT_TRUE(MakeSoundTestMedia(
      "-f lavfi -i \"aevalsrc='0.25*sin(2*PI*(500+200*floor(t/1.5))*t)':s=44100:d=6\" -ac 2 -c:a pcm_s16le", music));
  zmtest::TShowBuilder show;
  show.ScreenSize(160, 120).Repeat("stop");
  show.Main().Key("opt_syncmode", 1);
  for (int i = 0; i < 4; ++i) MovingSoundTestSlide(show.AddSlide(kSlideMs * (i + 1)), std::uint8_t(40 * i), kSlideMs);
  show.AddFile("music\\steps.wav", zmtest::ReadFileBytes(music));
  show.MusicItem("music\\steps.wav", 4 * kSlideMs);
  show.Write();

  std::int64_t keys[2] = {-1, -1};
  const auto right = [&](int i) {
    keys[i] = recording_->Mixed();
    plat::headless::Key(39, true);
    plat::headless::Key(39, false);
  };
  Play(
      u"player -filename \"" + plat::FromUtf8(show.Folder() + "/Project.oru") + u"\"",
      [](const std::vector<TSoundTestPresent>& p) { return !p.empty() && p.back().ShowTime > 2 * kSlideMs + 900; },
      [&] {
        if (!WaitForShowTime(800)) return;
        right(0);
        if (WaitForShowTime(kSlideMs)) right(1);
      });
  ASSERT_GE(keys[1], 0) << "the show did not reach the second slide";
  auto third = std::find_if(presents_.begin(), presents_.end(),
                            [](const TSoundTestPresent& p) { return p.ShowTime >= 2 * kSlideMs; });
  ASSERT_NE(third, presents_.end()) << "the second Right did not reach the third slide";
  EXPECT_LT(third->ShowTime, 2 * kSlideMs + 300) << "the second Right went elsewhere";

  // Where each key took the show: its first frame of the new place, as the
  // player stamped it (a busy machine may take a while to answer a key;
  // the sound is measured against what the player did).
  const auto landed = [&](std::int64_t at) {
    auto f = std::find_if(stamps_.begin(), stamps_.end(), [&](const TSoundTestStamp& s) { return s.ShowTime >= at; });
    return f == stamps_.end() ? TSoundTestStamp{-1, -1} : *f;
  };
  const TSoundTestStamp lands[2] = {landed(kSlideMs), landed(2 * kSlideMs)};
  ASSERT_GE(lands[1].Mixed, 0);

  const auto ms = [](std::int64_t frames) { return frames * 1000 / orutest::kMixRate; };
  const std::int64_t w = orutest::MixFrames(20);
  const std::int64_t heard = recording_->FirstOf(900, keys[1], w, tones);
  ASSERT_GE(heard, 0) << "the third slide's music was not heard";
  // The places left: gone within as long, and from 60 ms after the new
  // place sounds (their stop fades 40 ms ahead of the output's read).
  for (int i = 0; i < 2; ++i) {
    const std::int64_t gone = std::min(lands[i].Mixed + orutest::MixFrames(150), heard + orutest::MixFrames(60));
    const std::int64_t old = recording_->FirstOf(tones[std::size_t(i)], gone, w, tones);
    EXPECT_LT(old, 0) << "the place left by key " << i + 1 << " is heard " << ms(old - lands[i].Mixed)
                      << " ms after the show left it";
  }
  // The show clock runs on from 3000 with the music of that place: the
  // frames from 3300 on keep to the mixer so that show time 3000 falls
  // where the third slide's tone began. How long the show stood at 3000
  // before (while a busy machine loaded that music) is the machine's
  // matter: the pictures and the sound wait for each other.
  const std::int64_t zero = MixerAtShowZero(
      [](const TSoundTestStamp& f) { return f.ShowTime >= 2 * kSlideMs + 300 && f.ShowTime <= 2 * kSlideMs + 900; });
  ASSERT_NE(zero, std::numeric_limits<std::int64_t>::max());
  const std::int64_t began = heard - (zero + orutest::MixFrames(2 * kSlideMs));
  EXPECT_NEAR(double(ms(began)), 0, 40) << "the third slide's tone began " << ms(began)
                                        << " ms after its place in the show";
  // Not for seconds, all the same (a busy machine takes a few hundred ms).
  const std::int64_t stood = zero - (lands[1].Mixed - orutest::MixFrames(lands[1].ShowTime));
  EXPECT_LE(stood, orutest::MixFrames(1000)) << "the show clock stood " << ms(stood) << " ms at 3000";
  if (std::getenv("ZM_SOUND_PRINT"))
    std::printf("seek: heard %lld ms after the show went there, the show stood %lld ms at 3000, the tone began %lld "
                "ms after its place in the show\n",
                static_cast<long long>(ms(heard - lands[1].Mixed)), static_cast<long long>(ms(stood)),
                static_cast<long long>(ms(began)));
}

// Synchronised music paused and resumed with Space, three times, over a
// still slide and a moving one: the music goes silent and comes back
// within 60 ms of one place, and the show with it; moving pictures go on at
// once from where they stood.
TEST_F(RealClockSound, SynchronisedMusicResumesWhereItWasPausedOnStillSlides) { PausedAndResumed(false); }

TEST_F(RealClockSound, SynchronisedMusicAndMovingPicturesResumeWhereTheyWerePaused) { PausedAndResumed(true); }
