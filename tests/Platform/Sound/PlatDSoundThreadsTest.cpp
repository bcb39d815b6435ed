#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "Platform/PlatSystem.h"
#include "Platform/Sound/PlatDSound.h"
#include "tests/support/EnvGuard.h"

namespace platdsound_threads_test {

using namespace plat;

WAVEFORMATEX Stereo16() { return {WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0}; }

// Writes frames with running values (both sides) at offset, wrapping.
void Write(IDirectSoundBuffer* b, std::uint32_t offset, std::uint32_t frames, std::uint16_t& next) {
  void *p1, *p2;
  std::uint32_t n1, n2;
  if (b->Lock(offset, frames * 4, &p1, &n1, &p2, &n2, 0) != DS_OK) return;
  for (auto [p, n] : {std::pair{p1, n1}, std::pair{p2, n2}})
    for (std::uint32_t i = 0; i < n / 4; ++i, ++next) {
      const std::uint16_t v[2] = {next, next};
      std::memcpy(static_cast<char*>(p) + 4 * i, v, 4);
    }
  b->Unlock(p1, n1, p2, n2);
}

// A decoder thread refills behind the play cursor while another thread
// mixes; the only hand-over is the cursor and Unlock. The coordination
// counters are relaxed on purpose, so they order nothing themselves: the
// mix must still come out as exactly the sequence written.
TEST(PlatDSoundThreads, RefillWhileMixingIsGapless) {
  TManualAudio audio;
  IDirectSound8* ds = nullptr;
  ASSERT_EQ(DirectSoundCreate8(nullptr, &ds, nullptr), DS_OK);
  constexpr std::uint32_t kRing = 4096, kPeriod = 300, kTotal = 60000;
  auto fmt = Stereo16();
  DSBUFFERDESC d{36, 0x18088, kRing * 4, 0, &fmt};
  IDirectSoundBuffer* b = nullptr;
  ASSERT_EQ(ds->CreateSoundBuffer(&d, &b, nullptr), DS_OK);
  std::uint16_t next = 0;
  Write(b, 0, kRing * 3 / 4, next);
  std::atomic<std::uint32_t> written{kRing * 3 / 4}, mixed{0};
  ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);

  std::thread writer([&] {
    std::uint32_t writeEnd = kRing * 3 / 4 * 4;
    while (mixed.load(std::memory_order_relaxed) < kTotal) {
      std::uint32_t play = 0;
      b->GetCurrentPosition(&play, nullptr);
      // The mixer never drains the ring, so play == writeEnd means full.
      const std::uint32_t free = (play + kRing * 4 - writeEnd) % (kRing * 4);
      if (free == 0) {
        std::this_thread::yield();
        continue;
      }
      Write(b, writeEnd, free / 4, next);
      writeEnd = play;
      written.fetch_add(free / 4, std::memory_order_relaxed);
    }
  });
  std::thread mixer([&] {
    while (mixed.load(std::memory_order_relaxed) < kTotal) {
      if (written.load(std::memory_order_relaxed) - mixed.load(std::memory_order_relaxed) <= kPeriod) {
        std::this_thread::yield();
        continue;
      }
      audio.Advance(kPeriod);
      mixed.fetch_add(kPeriod, std::memory_order_relaxed);
    }
  });
  mixer.join();
  writer.join();
  const auto& out = audio.Mixed();
  ASSERT_EQ(out.size(), 2u * kTotal);
  for (std::uint32_t i = 0; i < kTotal; ++i) {
    ASSERT_EQ(std::uint16_t(out[2 * i]), std::uint16_t(i)) << i;
    ASSERT_EQ(std::uint16_t(out[2 * i + 1]), std::uint16_t(i)) << i;
  }
  b->Release();
  ds->Release();
}

// With the real-time null sink running: one thread keeps a ring filled while
// the test thread makes, plays, changes, fades and releases buffers under the
// mixer.
TEST(PlatDSoundThreads, NullSinkRefillAndReleaseWhilePlaying) {
  zmtest::TEnvGuard env;
  env.Set("ZM_AUDIO", "null");
  IDirectSound8* ds = nullptr;
  ASSERT_EQ(DirectSoundCreate8(nullptr, &ds, nullptr), DS_OK);
  auto fmt = Stereo16();
  DSBUFFERDESC d{36, 0x18088, 4410 * 4, 0, &fmt};  // 100 ms
  IDirectSoundBuffer* b = nullptr;
  ASSERT_EQ(ds->CreateSoundBuffer(&d, &b, nullptr), DS_OK);
  ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  std::atomic<bool> stop{false};
  std::atomic<int> laps{0};
  std::thread writer([&] {
    std::uint16_t next = 0;
    std::uint32_t writeEnd = 0, last = 0;
    while (!stop.load()) {
      std::uint32_t play = 0;
      b->GetCurrentPosition(&play, nullptr);
      if (play < last) laps.fetch_add(1);
      last = play;
      const std::uint32_t free = (play + 4410 * 4 - writeEnd) % (4410 * 4);
      if (free) Write(b, writeEnd, free / 4, next);
      writeEnd = play;
      SleepMs(1);
    }
  });

  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; laps.load() < 3 || i < 100; ++i) {
    if (std::chrono::steady_clock::now() - start > std::chrono::seconds(20)) break;
    IDirectSoundBuffer* other = nullptr;
    DSBUFFERDESC od{36, 0x18088, 441 * 4, 0, &fmt};
    ASSERT_EQ(ds->CreateSoundBuffer(&od, &other, nullptr), DS_OK);
    std::uint16_t v = 0;
    Write(other, 0, 441, v);
    ASSERT_EQ(other->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    other->SetVolume(-100 * (i % 100));
    other->SetCurrentPosition(4 * (i % 441));
    if (i % 4 == 1) other->FadeOut(std::uint32_t(i % 300));  // ends during a mix or not at all
    std::int64_t read = 0, silent = 0;
    other->GetReadFrames(&read, &silent);
    if (i % 3 == 0) other->Stop();
    SleepMs(i % 2);
    EXPECT_EQ(other->Release(), 0u);  // most of them while playing
  }
  stop.store(true);
  writer.join();
  EXPECT_GE(laps.load(), 3);
  ds->Release();  // the device goes first; the ring it played stays valid
  b->Release();
}

}  // namespace platdsound_threads_test
