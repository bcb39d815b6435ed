#pragma once
// The player's sound on the real clock, recorded through the WAV sink, with
// a counter of the frames the mixer has mixed that a test reads at any
// moment (when a frame is presented, when it presses a key): a looping
// reference ring of the test's own plays on the same output, and a marker
// at its start puts its first mixed frame into the recording. Recording
// sample n (after Finish) is mixer frame n of that counter.
//
// Tones are told apart with a Goertzel filter over a window of the left
// channel.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include "Platform/Sound/PlatDSound.h"
#include "ZmLib/Music/zmMusicChannel.h"
#include "tests/support/EnvGuard.h"
#include "tests/support/kit/TempFolder.h"

namespace orutest {

constexpr std::int64_t kMixRate = plat::kMixRate;

inline std::int64_t MixFrames(std::int64_t ms) { return ms * kMixRate / 1000; }

// The samples of a 16-bit stereo WAV as the sink writes it, left and right
// interleaved (also of one still open, whose header counts only what its
// last update saw); empty when the file is not one.
inline std::vector<std::int16_t> ReadStereoWav(const std::string& path) {
  const std::string bytes = zmtest::ReadFileBytes(path);
  auto u32 = [&](std::size_t at) {
    return std::uint32_t(std::uint8_t(bytes[at])) | std::uint32_t(std::uint8_t(bytes[at + 1])) << 8 |
           std::uint32_t(std::uint8_t(bytes[at + 2])) << 16 | std::uint32_t(std::uint8_t(bytes[at + 3])) << 24;
  };
  if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0) return {};
  bool stereo16 = false;
  for (std::size_t at = 12; at + 8 <= bytes.size();) {
    const std::string id = bytes.substr(at, 4);
    const std::size_t size = std::min<std::size_t>(u32(at + 4), bytes.size() - at - 8);
    if (id == "fmt " && size >= 16)
      stereo16 = bytes[at + 8] == 1 && bytes[at + 10] == 2 && u32(at + 12) == kMixRate && bytes[at + 22] == 16;
    if (id == "data" && stereo16) {
      std::vector<std::int16_t> s((bytes.size() - at - 8) / 2);
      std::memcpy(s.data(), bytes.data() + at + 8, s.size() * 2);
      return s;
    }
    at += 8 + size + (size & 1);
  }
  return {};
}

class TMixRecording {
public:
  // The sound goes to File through Env (which puts ZM_AUDIO back afterwards).
  TMixRecording(zmtest::TEnvGuard& env, std::string file) : file_(std::move(file)) {
    env.Set("ZM_AUDIO", "wav:" + file_);
    env.Unset("ZM_FRAME_STEP_MS");
  }
  TMixRecording(const TMixRecording&) = delete;
  TMixRecording& operator=(const TMixRecording&) = delete;
  ~TMixRecording() { Close(); }

  // The reference ring plays, its marker sounds, then it is silent. ASSERT
  // inside: call through ASSERT_NO_FATAL_FAILURE.
  void Start() {
    ASSERT_EQ(plat::DirectSoundCreate8(nullptr, &ds_, nullptr), plat::DS_OK);
    plat::WAVEFORMATEX fmt{};
    fmt.wFormatTag = plat::WAVE_FORMAT_PCM;
    fmt.nChannels = 1;
    fmt.nSamplesPerSec = std::uint32_t(kMixRate);
    fmt.wBitsPerSample = 16;
    fmt.nBlockAlign = 2;
    fmt.nAvgBytesPerSec = std::uint32_t(kMixRate) * 2;
    plat::DSBUFFERDESC desc{36, plat::DSBCAPS_GETCURRENTPOSITION2, kRingFrames * 2, 0, &fmt};
    ASSERT_EQ(ds_->CreateSoundBuffer(&desc, &ring_, nullptr), plat::DS_OK);
    Mark(kMarker);
    ASSERT_EQ(ring_->Play(0, 0, plat::DSBPLAY_LOOPING), plat::DS_OK);
    // The output runs in real time: nothing but time moves it.
    const auto give = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (Mixed() < kMixRate / 10 && std::chrono::steady_clock::now() < give)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_GE(Mixed(), kMixRate / 10) << "the output does not move";
    Mark(0);
  }

  // Frames mixed since the reference ring began (any thread).
  std::int64_t Mixed() {
    std::lock_guard<std::mutex> l(lock_);
    if (!ring_) return last_ + laps_ * kRingFrames;
    std::uint32_t play = 0, write = 0;
    ring_->GetCurrentPosition(&play, &write);
    if (play / 2 < last_) ++laps_;
    last_ = play / 2;
    return laps_ * kRingFrames + last_;
  }

  // After the player has gone: the ring stops, the stopped channels end on
  // the channel killer's clock, the output closes and the file is read.
  // Samples() then holds left and right interleaved from the ring's first
  // frame on. ASSERT inside.
  void Finish() {
    Close();
    EXPECT_TRUE(zm::ChannelKiller()->WaitEmpty(120000));
    if (ds_) EXPECT_EQ(ds_->Release(), 0u);
    ds_ = nullptr;
    const std::vector<std::int16_t> all = ReadStereoWav(file_);
    ASSERT_FALSE(all.empty()) << "no recording in " << file_;
    std::size_t marker = 0;
    while (marker * 2 + 1 < all.size() && std::abs(int(all[marker * 2])) < kMarker / 2) ++marker;
    ASSERT_LT(marker * 2 + 1, all.size()) << "the marker was not recorded";
    samples_.assign(all.begin() + std::ptrdiff_t(marker * 2), all.end());
    // The marker itself would pass for every tone.
    for (std::size_t i = 0; i < samples_.size() && i < 2 * 128; ++i)
      if (std::abs(int(samples_[i])) >= kMarker / 2) samples_[i] = 0;
  }

  const std::vector<std::int16_t>& Samples() const { return samples_; }
  std::int64_t Frames() const { return std::int64_t(samples_.size() / 2); }

  // The amplitude (full scale 1) of a sine of Hz in the left channel over
  // Frames from mixer frame From; 0 outside the recording.
  double Level(std::int64_t from, std::int64_t frames, double hz) const {
    if (from < 0 || frames <= 0 || from + frames > Frames()) return 0;
    const double w = 2 * std::numbers::pi * hz / double(kMixRate), c = 2 * std::cos(w);
    double s1 = 0, s2 = 0;
    for (std::int64_t i = 0; i < frames; ++i) {
      const double s0 = samples_[std::size_t(from + i) * 2] / 32768.0 + c * s1 - s2;
      s2 = s1;
      s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - c * s1 * s2;
    return 2 * std::sqrt(std::max(power, 0.0)) / double(frames);
  }

  // Of Tones, the one sounding over the window (the loudest, at least
  // Floor), else 0.
  double ToneAt(std::int64_t from, std::int64_t frames, const std::vector<double>& tones, double floor = 0.02) const {
    double best = 0, level = floor;
    for (double hz : tones) {
      const double l = Level(from, frames, hz);
      if (l >= level) {
        level = l;
        best = hz;
      }
    }
    return best;
  }

  // The first mixer frame at or after From (stepping by Step) from which a
  // window of Frames holds Hz as its tone among Tones; -1 when none.
  std::int64_t FirstOf(double hz, std::int64_t from, std::int64_t frames, const std::vector<double>& tones,
                       std::int64_t step = MixFrames(1)) const {
    for (std::int64_t f = std::max<std::int64_t>(from, 0); f + frames <= Frames(); f += step)
      if (ToneAt(f, frames, tones) == hz) return f;
    return -1;
  }

private:
  static constexpr std::uint32_t kRingFrames = 30 * std::uint32_t(kMixRate);
  static constexpr std::int16_t kMarker = 30000;

  void Mark(std::int16_t value) {
    void *p1 = nullptr, *p2 = nullptr;
    std::uint32_t n1 = 0, n2 = 0;
    ASSERT_EQ(ring_->Lock(0, 2 * 64, &p1, &n1, &p2, &n2, 0), plat::DS_OK);
    const std::vector<std::int16_t> v(n1 / 2, value);
    std::memcpy(p1, v.data(), n1);
    ring_->Unlock(p1, n1, p2, n2);
  }

  void Close() {
    std::lock_guard<std::mutex> l(lock_);
    if (ring_) ring_->Release();
    ring_ = nullptr;
  }

  std::string file_;
  plat::IDirectSound8* ds_ = nullptr;
  plat::IDirectSoundBuffer* ring_ = nullptr;
  std::mutex lock_;
  std::uint32_t last_ = 0;
  std::int64_t laps_ = 0;
  std::vector<std::int16_t> samples_;
};

}  // namespace orutest
