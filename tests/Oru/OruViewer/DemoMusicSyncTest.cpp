// The demo show's music against its pictures, end to end: the player runs
// in real time with the mix recorded to a WAV file, and the clicks the demo
// puts in its music at slide starts must sound when the frames of those
// slide starts are drawn.
//
// Sound and pictures meet on one counter, the frames the mixer has mixed:
// the recording's sample index is that counter, and a looping buffer of the
// test's own on the same output reads it as its play cursor whenever a frame
// is presented. A marker at the start of that buffer puts its first mixed
// frame into the recording. Each frame then pairs a show time with a mixer
// frame; the pairing nearest the real relation is the one read soonest after
// its show time was taken, i.e. the smallest mixer-minus-show offset, so
// frames slowed down by a loaded machine do not count against the music.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Platform/PlatUtf8.h"
#include "Platform/Sound/PlatDSound.h"
#include "ZmLib/Music/zmMusicChannel.h"
#include "tests/support/EnvGuard.h"
#include "tests/Oru/OruViewer/InProcessPlayer.h"
#include "tests/Oru/OruViewer/MixRecording.h"
#include "tests/support/kit/TempFolder.h"
#include "tools/DemoShow.h"

using namespace oru;

namespace {

constexpr std::int64_t kRate = plat::kMixRate;
constexpr std::int64_t kToleranceMs = 20;
// The reference ring: mono 16-bit, longer than any run between two frames.
constexpr std::uint32_t kRingFrames = 30 * kRate;
constexpr std::int16_t kMarker = 30000;
// Louder than the tones (even both at once under the cross-fade), quieter
// than a click or the marker.
constexpr int kOnsetLevel = 12000;

struct TFrameAt {
  std::int64_t ShowTime;
  std::int64_t Mixed;  // frames mixed since the reference buffer began
};

// Output frames where the sound first rises past the onset level, each at
// least 50 ms after the one before.
std::vector<std::int64_t> Onsets(const std::vector<std::int16_t>& s) {
  std::vector<std::int64_t> at;
  for (std::size_t f = 0; f * 2 + 1 < s.size(); ++f) {
    const int v = std::max(std::abs(int(s[f * 2])), std::abs(int(s[f * 2 + 1])));
    if (v >= kOnsetLevel && (at.empty() || std::int64_t(f) > at.back() + kRate / 20)) at.push_back(std::int64_t(f));
  }
  return at;
}

std::string List(const std::vector<std::int64_t>& v) {
  std::string s;
  for (std::int64_t x : v) s += std::to_string(x) + " ";
  return s;
}

class DemoMusicSync : public ::testing::Test {
protected:
  void SetUp() override {
    TDemoShowOptions o;
    o.Slides = 1;
    // Small frames draw quickly, so that frames come often.
    o.Width = 160;
    o.Height = 90;
    o.Video = false;
    layout_ = WriteDemoShow(folder_.File("project"), o);
  }

  // Plays the demo project from show time From, in real time, until the show
  // passes Until. Fills frames_ and onsets_ (both relative to the first
  // frame of the reference buffer).
  void Play(std::int64_t from, std::int64_t until) {
    zmtest::TEnvGuard env;
    const std::string wav = folder_.File("mix.wav");
    env.Set("ZM_AUDIO", "wav:" + wav);
    env.Unset("ZM_FRAME_STEP_MS");
    plat::IDirectSound8* ds = nullptr;
    ASSERT_EQ(plat::DirectSoundCreate8(nullptr, &ds, nullptr), plat::DS_OK);
    plat::WAVEFORMATEX fmt{};
    fmt.wFormatTag = plat::WAVE_FORMAT_PCM;
    fmt.nChannels = 1;
    fmt.nSamplesPerSec = kRate;
    fmt.wBitsPerSample = 16;
    fmt.nBlockAlign = 2;
    fmt.nAvgBytesPerSec = kRate * 2;
    plat::DSBUFFERDESC desc{36, plat::DSBCAPS_GETCURRENTPOSITION2, kRingFrames * 2, 0, &fmt};
    plat::IDirectSoundBuffer* ring = nullptr;
    ASSERT_EQ(ds->CreateSoundBuffer(&desc, &ring, nullptr), plat::DS_OK);
    auto fill = [&](std::int16_t value) {
      void *p1 = nullptr, *p2 = nullptr;
      std::uint32_t n1 = 0, n2 = 0;
      ASSERT_EQ(ring->Lock(0, 2 * 64, &p1, &n1, &p2, &n2, 0), plat::DS_OK);
      std::vector<std::int16_t> v(n1 / 2, value);
      std::memcpy(p1, v.data(), n1);
      ring->Unlock(p1, n1, p2, n2);
    };
    fill(kMarker);
    ASSERT_EQ(ring->Play(0, 0, plat::DSBPLAY_LOOPING), plat::DS_OK);

    std::mutex lock;
    std::uint32_t last = 0;
    std::int64_t laps = 0;
    auto mixed = [&] {
      std::uint32_t play = 0, write = 0;
      ring->GetCurrentPosition(&play, &write);
      if (play / 2 < last) ++laps;
      last = play / 2;
      return laps * kRingFrames + last;
    };
    // The marker has sounded before the show starts; then it goes quiet.
    // (The output runs in real time: nothing but time moves it.)
    const auto give = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (mixed() < kRate / 10 && std::chrono::steady_clock::now() < give)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_GE(mixed(), kRate / 10) << "the output does not move";
    fill(0);

    const std::string show = folder_.File("project") + "/Project.oru";
    std::u16string command = u"player -filename \"" + plat::FromUtf8(show) + u"\"";
    if (from > 0) command += u" -time " + plat::FromUtf8(std::to_string(from));
    auto seen = [&](std::int64_t time, const std::uint32_t*, int, int) {
      std::lock_guard<std::mutex> l(lock);
      frames_.push_back({time, mixed()});
      return time > until;
    };
    const orutest::TInProcessRun run = orutest::PlayInProcess(command, 0, seen);
    EXPECT_TRUE(run.Started);
    EXPECT_TRUE(run.Boxes.empty()) << run.Boxes.front();
    ring->Release();
    // Stopped channels end on the channel killer's own clock, once their
    // queued sound has played (in real time, however slowly this machine
    // runs); then the last device closes the output, and the file with it.
    EXPECT_TRUE(zm::ChannelKiller()->WaitEmpty(120000));
    EXPECT_EQ(ds->Release(), 0u);
    const std::vector<std::int16_t> samples = orutest::ReadStereoWav(wav);
    ASSERT_FALSE(samples.empty()) << "no recording in " << wav;
    onsets_ = Onsets(samples);
    ASSERT_FALSE(onsets_.empty()) << "the marker was not recorded";
    const std::int64_t marker = onsets_.front();
    onsets_.erase(onsets_.begin());
    for (std::int64_t& o : onsets_) o -= marker;
  }

  // Each click of the demo between From and the end of the run falls within
  // the tolerance of the mixer frame at which the frames about its slide
  // start put its show time.
  void ExpectClicksOnTheirSlides(std::int64_t from) {
    ASSERT_FALSE(frames_.empty());
    int checked = 0;
    for (std::int64_t click : layout_.Clicks) {
      if (click <= from || click + 500 > frames_.back().ShowTime) continue;
      std::int64_t offset = std::numeric_limits<std::int64_t>::max();
      for (const TFrameAt& f : frames_)
        if (f.ShowTime >= click - 500 && f.ShowTime <= click + 500)
          offset = std::min(offset, f.Mixed - f.ShowTime * kRate / 1000);
      ASSERT_NE(offset, std::numeric_limits<std::int64_t>::max()) << "no frame about the slide start " << click;
      const std::int64_t expected = offset + click * kRate / 1000;
      std::int64_t nearest = -1;
      for (std::int64_t o : onsets_)
        if (nearest < 0 || std::abs(o - expected) < std::abs(nearest - expected)) nearest = o;
      ASSERT_GE(nearest, 0) << "no click recorded";
      EXPECT_LE(std::abs(nearest - expected), kToleranceMs * kRate / 1000)
          << "click of the slide starting at " << click << " ms: heard at mixer frame " << nearest
          << ", its slide started at " << expected << "; all clicks: " << List(onsets_);
      ++checked;
    }
    EXPECT_GE(checked, 1) << "no slide start with a click was played; last show time " << frames_.back().ShowTime;
    // Nothing else as loud: the clicks before From never sound.
    std::int64_t played = 0;
    for (std::int64_t c : layout_.Clicks) played += c > from && c <= frames_.back().ShowTime;
    EXPECT_EQ(std::int64_t(onsets_.size()), played) << List(onsets_);
  }

  zmtest::TTempFolder folder_;
  TDemoShowLayout layout_;
  std::vector<TFrameAt> frames_;
  std::vector<std::int64_t> onsets_;
};

}  // namespace

// From the show's start over two slide changes; then from a time picked
// inside a slide (the music starts there, not at its beginning), over the
// next slide change.
TEST_F(DemoMusicSync, ClicksSoundWithTheFramesThatStartTheirSlides) {
  ASSERT_GE(layout_.Clicks.size(), 2u);
  Play(0, layout_.Clicks[1] + 600);
  ExpectClicksOnTheirSlides(0);
}

TEST_F(DemoMusicSync, SeekingStartsTheMusicAtTheShowTime) {
  ASSERT_GE(layout_.Clicks.size(), 3u);
  const std::int64_t from = layout_.Clicks[1] + 1500;
  Play(from, layout_.Clicks[2] + 600);
  ExpectClicksOnTheirSlides(from);
}
