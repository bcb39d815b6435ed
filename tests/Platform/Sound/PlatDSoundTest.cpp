#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Platform/PlatSystem.h"
#include "Platform/Sound/PlatDSound.h"
#include "Platform/Sound/PlatSoundMixer.h"
#include "Platform/Sound/PlatSoundSinks.h"
#include "tests/support/EnvGuard.h"
#include "tests/support/Spectrum.h"
#include "tests/support/TempDir.h"

namespace platdsound_test {

using namespace plat;

WAVEFORMATEX Pcm(std::uint32_t rate, std::uint16_t channels, std::uint16_t bits) {
  const auto block = static_cast<std::uint16_t>(channels * bits / 8);
  return {WAVE_FORMAT_PCM, channels, rate, rate * block, block, bits, 0};
}

// A device under manual time and buffers made on it, released at the end.
struct TRig {
  TManualAudio audio;
  IDirectSound8* ds = nullptr;
  std::vector<IDirectSoundBuffer*> made;

  TRig() {
    EXPECT_EQ(DirectSoundCreate8(nullptr, &ds, nullptr), DS_OK);
    EXPECT_EQ(ds->SetCooperativeLevel(nullptr, DSSCL_PRIORITY), DS_OK);
  }
  ~TRig() {
    for (auto* b : made) b->Release();
    if (ds) ds->Release();
  }
  IDirectSoundBuffer* Make(const WAVEFORMATEX& fmt, std::uint32_t bytes, std::uint32_t flags = DSBCAPS_CTRLVOLUME) {
    DSBUFFERDESC d{36, flags | DSBCAPS_GETCURRENTPOSITION2, bytes, 0, &fmt};
    IDirectSoundBuffer* b = nullptr;
    EXPECT_EQ(ds->CreateSoundBuffer(&d, &b, nullptr), DS_OK);
    if (b) made.push_back(b);
    return b;
  }
};

std::uint32_t PlayPos(IDirectSoundBuffer* b) {
  std::uint32_t play = 0xFFFFFFFF, write = 0;
  EXPECT_EQ(b->GetCurrentPosition(&play, &write), DS_OK);
  return play;
}

// Writes samples (interleaved 16-bit) into the ring from offset on, wrapping.
void Fill16(IDirectSoundBuffer* b, std::uint32_t offset, const std::vector<std::int16_t>& samples) {
  void *p1, *p2;
  std::uint32_t n1, n2;
  const auto bytes = static_cast<std::uint32_t>(samples.size() * 2);
  ASSERT_EQ(b->Lock(offset, bytes, &p1, &n1, &p2, &n2, 0), DS_OK);
  std::memcpy(p1, samples.data(), n1);
  if (n2) std::memcpy(p2, reinterpret_cast<const char*>(samples.data()) + n1, n2);
  ASSERT_EQ(b->Unlock(p1, n1, p2, n2), DS_OK);
}

TEST(PlatDSound, LockSpansAndBadArguments) {
  TRig rig;
  auto* b = rig.Make(Pcm(44100, 2, 16), 400);
  ASSERT_TRUE(b);
  void *p1, *p2;
  std::uint32_t n1, n2;
  ASSERT_EQ(b->Lock(0, 400, &p1, &n1, &p2, &n2, 0), DS_OK);
  EXPECT_EQ(n1, 400u);
  EXPECT_EQ(p2, nullptr);
  EXPECT_EQ(n2, 0u);
  auto* base = static_cast<std::uint8_t*>(p1);
  EXPECT_EQ(b->Unlock(p1, n1, p2, n2), DS_OK);

  // A span over the end comes in two parts; the second starts the ring.
  ASSERT_EQ(b->Lock(300, 200, &p1, &n1, &p2, &n2, 0), DS_OK);
  EXPECT_EQ(p1, base + 300);
  EXPECT_EQ(n1, 100u);
  EXPECT_EQ(p2, base);
  EXPECT_EQ(n2, 100u);
  EXPECT_EQ(b->Unlock(p1, n1, p2, n2), DS_OK);
  ASSERT_EQ(b->Lock(123, 0, &p1, &n1, &p2, &n2, DSBLOCK_ENTIREBUFFER), DS_OK);
  EXPECT_EQ(n1 + n2, 400u);

  EXPECT_EQ(b->Lock(0, 0, &p1, &n1, &p2, &n2, 0), DSERR_INVALIDPARAM);
  EXPECT_EQ(b->Lock(400, 4, &p1, &n1, &p2, &n2, 0), DSERR_INVALIDPARAM);
  EXPECT_EQ(b->Lock(0, 401, &p1, &n1, &p2, &n2, 0), DSERR_INVALIDPARAM);
  EXPECT_EQ(b->Lock(0, 0xFFFFFFFF, &p1, &n1, &p2, &n2, 0), DSERR_INVALIDPARAM);
  EXPECT_EQ(b->Lock(0, 4, nullptr, &n1, &p2, &n2, 0), DSERR_INVALIDPARAM);
  EXPECT_EQ(b->Lock(300, 200, &p1, &n1, nullptr, nullptr, 0), DSERR_INVALIDPARAM);
  EXPECT_EQ(b->Lock(0, 100, &p1, &n1, nullptr, nullptr, 0), DS_OK);  // no wrap: part2 not needed
  int foreign = 0;
  EXPECT_EQ(b->Unlock(&foreign, 4, nullptr, 0), DSERR_INVALIDPARAM);
  EXPECT_EQ(b->Unlock(base + 396, 8, nullptr, 0), DSERR_INVALIDPARAM);
  EXPECT_EQ(b->Unlock(base, 4, base + 4, 4), DSERR_INVALIDPARAM);
  EXPECT_EQ(b->Unlock(nullptr, 0, nullptr, 0), DSERR_INVALIDPARAM);
}

TEST(PlatDSound, BadFormatsAndSizes) {
  TRig rig;
  DSBUFFERDESC d{36, 0, 4000, 0, nullptr};
  IDirectSoundBuffer* b = reinterpret_cast<IDirectSoundBuffer*>(&d);
  EXPECT_EQ(rig.ds->CreateSoundBuffer(&d, &b, nullptr), DSERR_INVALIDPARAM);
  EXPECT_EQ(b, nullptr);
  auto good = Pcm(44100, 2, 16);
  d.lpwfxFormat = &good;
  EXPECT_EQ(rig.ds->CreateSoundBuffer(nullptr, &b, nullptr), DSERR_INVALIDPARAM);
  EXPECT_EQ(rig.ds->CreateSoundBuffer(&d, nullptr, nullptr), DSERR_INVALIDPARAM);
  EXPECT_EQ(rig.ds->CreateSoundBuffer(&d, &b, &d), DSERR_INVALIDPARAM);

  std::vector<WAVEFORMATEX> bad = {Pcm(44100, 2, 24), Pcm(44100, 0, 16), Pcm(44100, 9, 16), Pcm(999, 1, 8),
                                   Pcm(192001, 1, 16), Pcm(44100, 2, 16), Pcm(44100, 2, 16)};
  bad[5].wFormatTag = WAVE_FORMAT_ADPCM;
  bad[6].nBlockAlign = 2;
  for (const auto& f : bad) {
    d.lpwfxFormat = &f;
    EXPECT_EQ(rig.ds->CreateSoundBuffer(&d, &b, nullptr), DSERR_BADFORMAT) << f.nChannels << " " << f.nSamplesPerSec;
    EXPECT_EQ(b, nullptr);
  }
  // Sizes are whole frames; nothing, less than a frame or absurd is refused.
  d.lpwfxFormat = &good;
  for (std::uint32_t bytes : {0u, 3u, (64u << 20) + 4, 0xFFFFFFFFu}) {
    d.dwBufferBytes = bytes;
    EXPECT_EQ(rig.ds->CreateSoundBuffer(&d, &b, nullptr), DSERR_INVALIDPARAM) << bytes;
  }
  auto* odd = rig.Make(Pcm(1000, 8, 16), 16 * 3 + 15);
  ASSERT_TRUE(odd);
  EXPECT_EQ(odd->SetCurrentPosition(16 * 3), DSERR_INVALIDPARAM);  // the ring is 3 frames
  EXPECT_EQ(odd->SetCurrentPosition(16 * 2 + 15), DS_OK);
  EXPECT_EQ(PlayPos(odd), 32u);
  EXPECT_EQ(odd->Play(0, 0, 0), DSERR_INVALIDPARAM);  // only looping play
  EXPECT_EQ(rig.ds->SetCooperativeLevel(nullptr, 0), DSERR_INVALIDPARAM);
  EXPECT_EQ(rig.ds->SetCooperativeLevel(nullptr, 5), DSERR_INVALIDPARAM);
  EXPECT_EQ(rig.ds->SetCooperativeLevel(&d, DSSCL_NORMAL), DS_OK);
  EXPECT_EQ(DirectSoundCreate8(nullptr, nullptr, nullptr), DSERR_INVALIDPARAM);
  IDirectSound8* ds = nullptr;
  EXPECT_EQ(DirectSoundCreate(nullptr, &ds, &d), DSERR_INVALIDPARAM);
  EXPECT_EQ(ds, nullptr);
}

TEST(PlatDSound, CursorsAdvanceByConsumedSourceFrames) {
  TRig rig;
  auto* mono8 = rig.Make(Pcm(22050, 1, 8), 44100);   // two seconds
  auto* st16 = rig.Make(Pcm(44100, 2, 16), 352800);  // two seconds
  auto* mono48 = rig.Make(Pcm(48000, 1, 16), 96000);
  ASSERT_TRUE(mono8 && st16 && mono48);
  for (auto* b : {mono8, st16, mono48}) ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  EXPECT_EQ(PlayPos(mono8), 0u);

  rig.audio.Advance(441);  // half a source frame left over at 22050 Hz
  EXPECT_EQ(PlayPos(mono8), 220u);
  EXPECT_EQ(PlayPos(st16), 441u * 4);
  EXPECT_EQ(PlayPos(mono48), 480u * 2);
  rig.audio.Advance(441);
  EXPECT_EQ(PlayPos(mono8), 441u);
  for (int i = 0; i < 3; ++i) rig.audio.Advance(1);
  EXPECT_EQ(PlayPos(mono8), 442u);  // 441 + 1.5 frames
  rig.audio.Advance(44100 * 2 - 885);
  // Exactly two seconds: each ring is back where it started.
  EXPECT_EQ(PlayPos(mono8), 0u);
  EXPECT_EQ(PlayPos(st16), 0u);
  EXPECT_EQ(PlayPos(mono48), 0u);
  EXPECT_EQ(rig.audio.FramesMixed(), 88200u);
  EXPECT_EQ(rig.audio.Mixed().size(), 88200u * 2);
  // New rings are silent, 8-bit ones included.
  for (std::int16_t v : rig.audio.Mixed()) ASSERT_EQ(v, 0);

  // The write cursor leads by 15 ms, wrapping.
  ASSERT_EQ(st16->SetCurrentPosition(352800 - 4), DS_OK);
  std::uint32_t play, write;
  ASSERT_EQ(st16->GetCurrentPosition(&play, &write), DS_OK);
  EXPECT_EQ(play, 352800u - 4);
  EXPECT_EQ(write, 661u * 4 - 4);
  // Beyond what the mixer's converter reads ahead in a ring of another rate.
  EXPECT_EQ(mono8->GetCurrentPosition(nullptr, &write), DS_OK);
  EXPECT_EQ(write, 330u + sound::ReadAheadFrames(22050));
  EXPECT_GT(sound::ReadAheadFrames(22050), 0u);
  EXPECT_EQ(sound::ReadAheadFrames(44100), 0u);

  // Stop keeps the position; a new position drops the half frame read.
  rig.audio.Advance(1);
  ASSERT_EQ(mono8->Stop(), DS_OK);
  rig.audio.Advance(1000);
  EXPECT_EQ(PlayPos(mono8), 0u);
  ASSERT_EQ(mono8->SetCurrentPosition(10), DS_OK);
  ASSERT_EQ(mono8->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  ASSERT_EQ(mono8->Play(0, 0, DSBPLAY_LOOPING), DS_OK);  // twice is still one voice
  rig.audio.Advance(2);
  EXPECT_EQ(PlayPos(mono8), 11u);
}

TEST(PlatDSound, MixLevelsGainAndClamping) {
  TRig rig;
  auto* a = rig.Make(Pcm(44100, 2, 16), 400);
  auto* m8 = rig.Make(Pcm(44100, 1, 8), 100);
  auto* six = rig.Make(Pcm(44100, 6, 16), 1200, 0);  // no volume control
  ASSERT_TRUE(a && m8 && six);
  auto frames = [&](std::int16_t l, std::int16_t r, std::size_t n) {
    std::vector<std::int16_t> v;
    for (std::size_t i = 0; i < n; ++i) v.insert(v.end(), {l, r});
    return v;
  };
  Fill16(a, 0, frames(10000, -10000, 100));
  ASSERT_EQ(a->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  auto last = [&] { return std::make_pair(rig.audio.Mixed()[rig.audio.Mixed().size() - 2], rig.audio.Mixed().back()); };
  rig.audio.Advance(10);
  EXPECT_EQ(last(), std::make_pair(std::int16_t(10000), std::int16_t(-10000)));

  std::int32_t v = 1;
  EXPECT_EQ(a->GetVolume(&v), DS_OK);
  EXPECT_EQ(v, 0);
  ASSERT_EQ(a->SetVolume(-600), DS_OK);  // -6 dB: 10^-0.3
  rig.audio.Advance(10);
  EXPECT_NEAR(last().first, 10000 * std::pow(10.0, -0.3), 1.0);
  EXPECT_NEAR(last().second, -10000 * std::pow(10.0, -0.3), 1.0);
  ASSERT_EQ(a->SetVolume(-2000), DS_OK);
  rig.audio.Advance(10);
  EXPECT_NEAR(last().first, 1000, 1.0);
  ASSERT_EQ(a->SetVolume(-20000), DS_OK);  // clamped to the minimum: exactly silent
  EXPECT_EQ(a->GetVolume(&v), DS_OK);
  EXPECT_EQ(v, DSBVOLUME_MIN);
  rig.audio.Advance(10);
  EXPECT_EQ(last(), std::make_pair(std::int16_t(0), std::int16_t(0)));
  EXPECT_EQ(PlayPos(a), 40u * 4 % 400);  // a silent voice still moves
  ASSERT_EQ(a->SetVolume(500), DS_OK);
  EXPECT_EQ(a->GetVolume(&v), DS_OK);
  EXPECT_EQ(v, DSBVOLUME_MAX);
  EXPECT_EQ(six->SetVolume(-100), DSERR_CONTROLUNAVAIL);
  EXPECT_EQ(six->GetVolume(&v), DSERR_CONTROLUNAVAIL);
  EXPECT_EQ(a->GetVolume(nullptr), DSERR_INVALIDPARAM);

  // 8-bit is unsigned around 128 and a mono voice sounds on both sides; the
  // sum clamps instead of wrapping.
  void *p1, *p2;
  std::uint32_t n1, n2;
  ASSERT_EQ(m8->Lock(0, 100, &p1, &n1, &p2, &n2, 0), DS_OK);
  std::memset(p1, 0xFF, n1);
  ASSERT_EQ(m8->Unlock(p1, n1, p2, n2), DS_OK);
  ASSERT_EQ(m8->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  rig.audio.Advance(10);
  EXPECT_EQ(last(), std::make_pair(std::int16_t(32767), std::int16_t(32512 - 10000)));
  ASSERT_EQ(m8->Lock(0, 100, &p1, &n1, &p2, &n2, 0), DS_OK);
  std::memset(p1, 0x00, n1);
  ASSERT_EQ(m8->Unlock(p1, n1, p2, n2), DS_OK);
  Fill16(a, 0, frames(-30000, 30000, 100));
  rig.audio.Advance(10);
  EXPECT_EQ(last(), std::make_pair(std::int16_t(-32768), std::int16_t(30000 - 32768)));
  ASSERT_EQ(a->Stop(), DS_OK);
  ASSERT_EQ(m8->Stop(), DS_OK);

  // Six channels (5.1) fold to two: the fronts on their sides, the centre
  // on both and the backs on theirs at -3 dB, the low frequency left out,
  // all scaled by 1 / (1 + 2 * 0.7071) so that nothing can clip.
  std::vector<std::int16_t> wide;
  for (int i = 0; i < 100; ++i) wide.insert(wide.end(), {300, 30, 600, 6000, 900, -900});
  Fill16(six, 0, wide);
  ASSERT_EQ(six->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  rig.audio.Advance(10);
  EXPECT_EQ(last(), std::make_pair(std::int16_t(564), std::int16_t(-75)));
}

// A ring of another rate is mixed band-limited: a tone below 0.45 of its
// rate comes with nothing else within 60 dB of it (no alias, no image), one
// above half the mix's rate stays at -60 dBFS at most; and a click sounds
// where the cursor says, also after a new position.
TEST(PlatDSound, OtherRatesAreMixedWithoutAliasesAndInPlace) {
  struct TCase {
    std::uint32_t rate;
    double hz;
    std::uint16_t channels;
  };
  for (const TCase& c : {TCase{8000, 3000, 1}, TCase{22050, 9000, 2}, TCase{48000, 10000, 2}, TCase{96000, 30000, 2},
                         TCase{96000, 40000, 1}}) {
    SCOPED_TRACE(testing::Message() << c.hz << " Hz at " << c.rate);
    TRig rig;
    // One second: whole periods, so the ring loops without a seam.
    auto* b = rig.Make(Pcm(c.rate, c.channels, 16), c.rate * 2 * c.channels);
    ASSERT_TRUE(b);
    std::vector<std::int16_t> tone;
    for (std::uint32_t i = 0; i < c.rate; ++i)
      for (int ch = 0; ch < c.channels; ++ch)
        tone.push_back(std::int16_t(std::lrint(16384 * std::sin(2 * 3.14159265358979 * c.hz * i / c.rate))));
    Fill16(b, 0, tone);
    ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    // Passes of every size the sinks ask for and more: the converter,
    // never reading further ahead than it may, never runs dry.
    const std::uint32_t passes[] = {1, 7, 333, 2500, 4096, 512, 220};
    for (std::uint32_t done = 0, k = 0; done < 4410 + 16384; ++k) {
      const std::uint32_t n = std::min(passes[k % std::size(passes)], 4410 + 16384 - done);
      rig.audio.Advance(n);
      done += n;
    }
    std::vector<double> left;
    for (std::size_t f = 4410; f < 4410 + 16384; ++f) left.push_back(rig.audio.Mixed()[2 * f] / 32768.0);
    const zmtest::TSpectrum sp = zmtest::SpectrumOf(left, 44100);
    double where = 0;
    if (c.hz < 22050) {
      const double level = zmtest::Decibels(zmtest::ToneLevel(left, 44100, c.hz));
      EXPECT_NEAR(level, zmtest::Decibels(0.5), 0.1);
      EXPECT_LT(zmtest::Decibels(sp.LargestAway({c.hz}, 20, &where)), level - 60) << "at " << where << " Hz";
    } else {
      EXPECT_LT(zmtest::Decibels(sp.LargestAway({}, 0, &where)), -60) << "at " << where << " Hz";
    }
    ASSERT_EQ(b->Stop(), DS_OK);

    // A click at a third of the ring, played from a sixth: it sounds a
    // sixth of a second in, and the cursor stands there then.
    std::vector<std::int16_t> click(std::size_t(c.rate) * c.channels, 0);
    for (int ch = 0; ch < c.channels; ++ch) click[std::size_t(c.rate / 3) * c.channels + std::size_t(ch)] = 30000;
    Fill16(b, 0, click);
    const std::uint32_t from = c.rate / 6;
    ASSERT_EQ(b->SetCurrentPosition(from * 2 * c.channels), DS_OK);
    ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    const std::size_t start = rig.audio.Mixed().size() / 2;
    rig.audio.Advance(22050);
    std::size_t peak = start;
    for (std::size_t f = start; 2 * f < rig.audio.Mixed().size(); ++f)
      if (std::abs(rig.audio.Mixed()[2 * f]) > std::abs(rig.audio.Mixed()[2 * peak])) peak = f;
    const double want = double(c.rate / 3 - from) * 44100 / c.rate;
    EXPECT_NEAR(double(peak - start), want, 1.0);
    EXPECT_EQ(PlayPos(b) / (2 * c.channels), (from + std::uint64_t(22050) * c.rate / 44100) % c.rate);
  }
}

// A fade out asked of the sound layer ramps the buffer's sound down from the
// next mix on, over as long as the frames asked take at the buffer's own
// rate, and then leaves it silent while its cursor moves on; the frames
// read when it fell silent are told. A second fade changes nothing; a buffer
// that does not play is silent at once.
TEST(PlatDSound, FadeOutRampsFromTheNextMixAndStaysSilent) {
  TRig rig;
  auto* a = rig.Make(Pcm(44100, 2, 16), 4000);
  auto* half = rig.Make(Pcm(22050, 2, 16), 4000);
  auto* idle = rig.Make(Pcm(44100, 2, 16), 4000);
  ASSERT_TRUE(a && half && idle);
  std::vector<std::int16_t> dc(2000, 10000);
  Fill16(a, 0, dc);
  ASSERT_EQ(a->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  rig.audio.Advance(100);
  std::int64_t read = -1, silent = 0;
  ASSERT_EQ(a->GetReadFrames(&read, &silent), DS_OK);
  EXPECT_EQ(read, 100);
  EXPECT_EQ(silent, -1);
  ASSERT_EQ(a->FadeOut(50), DS_OK);
  rig.audio.Advance(100);
  const std::vector<std::int16_t>& mix = rig.audio.Mixed();
  for (int k = 0; k < 100; ++k) {
    const double want = k < 50 ? 10000.0 * (50 - k) / 50 : 0.0;
    EXPECT_NEAR(mix[std::size_t(2 * (100 + k))], want, 1.0) << k;
    EXPECT_NEAR(mix[std::size_t(2 * (100 + k) + 1)], want, 1.0) << k;
  }
  ASSERT_EQ(a->GetReadFrames(&read, &silent), DS_OK);
  EXPECT_EQ(read, 200);
  EXPECT_EQ(silent, 150);
  ASSERT_EQ(a->FadeOut(10), DS_OK);
  rig.audio.Advance(100);
  EXPECT_EQ(mix.back(), 0);
  EXPECT_EQ(PlayPos(a), 300u * 4);
  ASSERT_EQ(a->GetReadFrames(nullptr, &silent), DS_OK);
  EXPECT_EQ(silent, 150);
  ASSERT_EQ(a->Stop(), DS_OK);

  // Half the rate: 50 of its frames last 100 of the output's.
  Fill16(half, 0, dc);
  ASSERT_EQ(half->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  ASSERT_EQ(half->FadeOut(50), DS_OK);
  const std::size_t from = mix.size() / 2;
  rig.audio.Advance(200);
  EXPECT_GT(mix[2 * (from + 99)], 0);
  EXPECT_EQ(mix[2 * (from + 100)], 0);
  ASSERT_EQ(half->GetReadFrames(&read, &silent), DS_OK);
  EXPECT_EQ(silent, 50);
  EXPECT_EQ(read, 100);

  ASSERT_EQ(idle->FadeOut(0), DS_OK);
  ASSERT_EQ(idle->GetReadFrames(&read, &silent), DS_OK);
  EXPECT_EQ(read, 0);
  EXPECT_EQ(silent, 0);
  Fill16(idle, 0, dc);
  ASSERT_EQ(idle->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  rig.audio.Advance(10);
  EXPECT_EQ(mix.back(), 0) << "a faded buffer sounds again";
  ASSERT_EQ(idle->GetReadFrames(nullptr, nullptr), DS_OK);
}

// A writer that refills the span behind the play cursor after every mix
// period keeps the output exactly the sequence it writes, across wraps and
// with periods that do not divide the ring.
TEST(PlatDSound, RefillBehindCursorIsGapless) {
  TRig rig;
  constexpr std::uint32_t kFrames = 1000;
  auto* b = rig.Make(Pcm(44100, 2, 16), kFrames * 4);
  ASSERT_TRUE(b);
  std::int16_t next = 0;
  auto samples = [&](std::uint32_t n) {
    std::vector<std::int16_t> v;
    for (std::uint32_t i = 0; i < n; ++i, ++next) v.insert(v.end(), {next, std::int16_t(-next)});
    return v;
  };
  Fill16(b, 0, samples(750));  // three quarters first, as the player does
  std::uint32_t writeEnd = 750 * 4;
  ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  for (std::uint32_t period : {333u, 512u, 700u, 1u, 999u, 256u, 400u}) {
    rig.audio.Advance(period);
    const std::uint32_t play = PlayPos(b);
    const std::uint32_t free = (play + kFrames * 4 - writeEnd) % (kFrames * 4);
    if (free) Fill16(b, writeEnd, samples(free / 4));
    writeEnd = play;
  }
  const auto& mixed = rig.audio.Mixed();
  ASSERT_EQ(mixed.size(), 2u * (333 + 512 + 700 + 1 + 999 + 256 + 400));
  for (std::size_t i = 0; i < mixed.size() / 2; ++i) {
    ASSERT_EQ(mixed[2 * i], std::int16_t(i)) << i;
    ASSERT_EQ(mixed[2 * i + 1], std::int16_t(-std::int16_t(i))) << i;
  }
}

TEST(PlatDSound, FaultsLostBuffersAndReferences) {
  {
    TManualAudio audio;
    IDirectSound8* ds = reinterpret_cast<IDirectSound8*>(&audio);
    SetSoundFaults({true, false, false, 0});
    EXPECT_EQ(DirectSoundCreate8(nullptr, &ds, nullptr), DSERR_NODRIVER);
    EXPECT_EQ(ds, nullptr);
    EXPECT_EQ(DirectSoundCreate(nullptr, &ds, nullptr), DSERR_NODRIVER);
    SetSoundFaults({false, true, true, 1});
    ASSERT_EQ(DirectSoundCreate8(nullptr, &ds, nullptr), DS_OK);
    EXPECT_EQ(ds->SetCooperativeLevel(nullptr, DSSCL_PRIORITY), DSERR_INVALIDPARAM);
    auto fmt = Pcm(44100, 2, 16);
    DSBUFFERDESC d{36, 0x18088, 4000, 0, &fmt};
    IDirectSoundBuffer* b = nullptr;
    EXPECT_EQ(ds->CreateSoundBuffer(&d, &b, nullptr), DSERR_OUTOFMEMORY);
    EXPECT_EQ(b, nullptr);
    SetSoundFaults({false, false, false, 1});
    ASSERT_EQ(ds->CreateSoundBuffer(&d, &b, nullptr), DS_OK);
    IDirectSoundBuffer* fine = nullptr;
    ASSERT_EQ(ds->CreateSoundBuffer(&d, &fine, nullptr), DS_OK);
    // Lost until restored, however often play is asked for.
    EXPECT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DSERR_BUFFERLOST);
    EXPECT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DSERR_BUFFERLOST);
    audio.Advance(100);
    EXPECT_EQ(PlayPos(b), 0u);
    EXPECT_EQ(b->Restore(), DS_OK);
    EXPECT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    EXPECT_EQ(fine->Play(0, 0, DSBPLAY_LOOPING), DS_OK);

    // References; a device released under its buffers leaves them usable but
    // still: they no longer move.
    EXPECT_EQ(b->AddRef(), 2u);
    EXPECT_EQ(b->Release(), 1u);
    EXPECT_EQ(ds->AddRef(), 2u);
    EXPECT_EQ(ds->Release(), 1u);
    EXPECT_EQ(ds->Release(), 0u);
    audio.Advance(100);
    EXPECT_EQ(PlayPos(b), 0u);
    EXPECT_EQ(b->Stop(), DS_OK);
    EXPECT_EQ(b->SetCurrentPosition(8), DS_OK);
    EXPECT_EQ(b->Release(), 0u);
    EXPECT_EQ(fine->Release(), 0u);
    EXPECT_EQ(audio.FramesMixed(), 200u);
  }
  // The faults end with the manual audio that was installed with them.
  SetSoundFaults({true, true, true, 5});
  {
    TManualAudio cleared;
  }
  TRig rig;
  auto fmt = Pcm(8000, 1, 8);
  auto* b = rig.Make(fmt, 8000);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
}

TEST(PlatDSound, DevicesSumIntoOneClampedMix) {
  TManualAudio audio;
  IDirectSound8 *one = nullptr, *two = nullptr;
  ASSERT_EQ(DirectSoundCreate8(nullptr, &one, nullptr), DS_OK);
  ASSERT_EQ(DirectSoundCreate8(nullptr, &two, nullptr), DS_OK);
  auto fmt = Pcm(44100, 1, 16);
  DSBUFFERDESC d{36, 0, 200, 0, &fmt};
  IDirectSoundBuffer *a = nullptr, *b = nullptr;
  ASSERT_EQ(one->CreateSoundBuffer(&d, &a, nullptr), DS_OK);
  ASSERT_EQ(two->CreateSoundBuffer(&d, &b, nullptr), DS_OK);
  Fill16(a, 0, std::vector<std::int16_t>(100, -20000));
  Fill16(b, 0, std::vector<std::int16_t>(100, -30000));
  ASSERT_EQ(a->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  audio.Advance(10);
  EXPECT_EQ(audio.Mixed().back(), -32768);
  two->Release();
  audio.Advance(10);
  EXPECT_EQ(audio.Mixed().back(), -20000);
  EXPECT_EQ(PlayPos(a), 40u);
  EXPECT_EQ(PlayPos(b), 20u);
  EXPECT_EQ(audio.FramesMixed(), 20u);
  a->Release();
  b->Release();
  one->Release();
}

// ---- Sinks chosen by ZM_AUDIO ------------------------------------------------

// Polls a condition for up to ten seconds (the sinks run in real time).
template <class F>
bool WaitFor(F done) {
  for (int i = 0; i < 2000; ++i) {
    if (done()) return true;
    SleepMs(5);
  }
  return done();
}

TEST(PlatDSoundSinks, ChoiceByEnvironment) {
  zmtest::TEnvGuard env;
  zmtest::TTempDir dir;
  for (const char* value : {"none", "NONE", "bogus", "wav:", "null:x"}) {
    env.Set("ZM_AUDIO", value);
    IDirectSound8* ds = reinterpret_cast<IDirectSound8*>(&env);
    EXPECT_EQ(DirectSoundCreate8(nullptr, &ds, nullptr), DSERR_NODRIVER) << value;
    EXPECT_EQ(ds, nullptr);
  }
  env.Set("ZM_AUDIO", "wav:" + (dir.Path() / "no" / "such" / "folder.wav").string());
  IDirectSound8* ds = nullptr;
  EXPECT_EQ(DirectSoundCreate8(nullptr, &ds, nullptr), DSERR_NODRIVER);

  // The null sink pulls in real time: the cursor moves, but never by more
  // than the time that has passed (plus its half-second catch-up window).
  env.Set("ZM_AUDIO", "null");
  ASSERT_EQ(DirectSoundCreate8(nullptr, &ds, nullptr), DS_OK);
  auto fmt = Pcm(44100, 2, 16);
  DSBUFFERDESC d{36, 0x18088, 352800, 0, &fmt};
  IDirectSoundBuffer* b = nullptr;
  ASSERT_EQ(ds->CreateSoundBuffer(&d, &b, nullptr), DS_OK);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  EXPECT_TRUE(WaitFor([&] { return PlayPos(b) >= 4410 * 4; }));
  const std::uint32_t pos = PlayPos(b);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  if (ms < 1500) {
    EXPECT_LE(pos / 4, std::uint32_t((ms + 600) * 441 / 10));
  }
  b->Release();
  EXPECT_EQ(ds->Release(), 0u);
}

// Devices share one output: the file holds their sum. A released device's
// rings stop while the others play on.
TEST(PlatDSoundSinks, WavRecordsTheMixOfAllDevices) {
  zmtest::TEnvGuard env;
  zmtest::TTempDir dir;
  const std::string path = (dir.Path() / "mix.wav").string();
  env.Set("ZM_AUDIO", "wav:" + path);
  IDirectSound8 *ds = nullptr, *ds2 = nullptr;
  ASSERT_EQ(DirectSoundCreate8(nullptr, &ds, nullptr), DS_OK);
  env.Set("ZM_AUDIO", "none");  // read only when the output opens
  ASSERT_EQ(DirectSoundCreate8(nullptr, &ds2, nullptr), DS_OK);
  // At the mix's rate, so that every sample heard is the ring's own.
  auto fmt = Pcm(44100, 1, 16);
  DSBUFFERDESC d{36, 0x18088, 8820, 0, &fmt};
  IDirectSoundBuffer *b = nullptr, *b2 = nullptr;
  ASSERT_EQ(ds->CreateSoundBuffer(&d, &b, nullptr), DS_OK);
  ASSERT_EQ(ds2->CreateSoundBuffer(&d, &b2, nullptr), DS_OK);
  Fill16(b, 0, std::vector<std::int16_t>(4410, 1234));
  Fill16(b2, 0, std::vector<std::int16_t>(4410, 1000));
  ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  ASSERT_EQ(b2->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  // Laps of the 100 ms ring of b.
  std::uint32_t laps = 0, last = 0;
  auto lapped = [&](std::uint32_t n) {
    laps = 0;
    return WaitFor([&] {
      const std::uint32_t p = PlayPos(b);
      laps += p < last;
      last = p;
      return laps >= n;
    });
  };
  EXPECT_TRUE(lapped(2));
  ds2->Release();
  const std::uint32_t frozen = PlayPos(b2);
  EXPECT_TRUE(lapped(1));
  EXPECT_EQ(PlayPos(b2), frozen);
  EXPECT_EQ(b2->Release(), 0u);
  ds->Release();  // the recording ends here, while the ring still plays
  b->Release();

  std::ifstream in(path, std::ios::binary);
  std::vector<unsigned char> f((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GE(f.size(), 44u);
  auto u32 = [&](std::size_t o) { return std::uint32_t(f[o] | f[o + 1] << 8 | f[o + 2] << 16 | std::uint32_t(f[o + 3]) << 24); };
  auto u16 = [&](std::size_t o) { return std::uint32_t(f[o] | f[o + 1] << 8); };
  EXPECT_EQ(std::memcmp(f.data(), "RIFF", 4), 0);
  EXPECT_EQ(u32(4), f.size() - 8);
  EXPECT_EQ(std::memcmp(f.data() + 8, "WAVEfmt ", 8), 0);
  EXPECT_EQ(u32(16), 16u);
  EXPECT_EQ(u16(20), 1u);
  EXPECT_EQ(u16(22), 2u);
  EXPECT_EQ(u32(24), 44100u);
  EXPECT_EQ(u32(28), 176400u);
  EXPECT_EQ(u16(32), 4u);
  EXPECT_EQ(u16(34), 16u);
  EXPECT_EQ(std::memcmp(f.data() + 36, "data", 4), 0);
  EXPECT_EQ(u32(40), f.size() - 44);
  // Silence until play, then b alone or both, never anything else.
  std::size_t both = 0, loud = 0;
  for (std::size_t o = 44; o + 1 < f.size(); o += 2) {
    const std::uint32_t v = u16(o);
    ASSERT_TRUE(v == 0 || v == 1234 || v == 2234) << o;
    if (v == 0) {
      ASSERT_EQ(loud, 0u) << "silence after play at " << o;
    } else {
      ++loud;
      both += v == 2234;
    }
  }
  EXPECT_GE(both, 2u * 2 * 4410);  // two laps, both sides
  EXPECT_EQ(u16(f.size() - 2), 1234u);
}

// While it records, the file's header is brought up to date about each
// second and never counts more than the file holds, so a recording whose
// process is killed stays readable up to then.
TEST(PlatDSoundSinks, WavHeaderCountsTheSoundWhileRecording) {
  zmtest::TEnvGuard env;
  zmtest::TTempDir dir;
  const std::string path = (dir.Path() / "live.wav").string();
  env.Set("ZM_AUDIO", "wav:" + path);
  IDirectSound8* ds = nullptr;
  ASSERT_EQ(DirectSoundCreate8(nullptr, &ds, nullptr), DS_OK);
  auto fmt = Pcm(22050, 1, 16);
  DSBUFFERDESC d{36, 0x18088, 4410, 0, &fmt};
  IDirectSoundBuffer* b = nullptr;
  ASSERT_EQ(ds->CreateSoundBuffer(&d, &b, nullptr), DS_OK);
  Fill16(b, 0, std::vector<std::int16_t>(2205, 1234));
  ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  std::vector<unsigned char> f;
  auto u32 = [&](std::size_t o) { return std::uint32_t(f[o] | f[o + 1] << 8 | f[o + 2] << 16 | std::uint32_t(f[o + 3]) << 24); };
  auto counted = [&] {
    std::ifstream in(path, std::ios::binary);
    f.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return f.size() >= 44 && u32(40) >= 176400u;
  };
  EXPECT_TRUE(WaitFor(counted));
  if (f.size() >= 44) {
    const std::uint32_t data = u32(40);
    EXPECT_EQ(u32(4), data + 36);
    EXPECT_LE(data, f.size() - 44);
    EXPECT_EQ(data % 4, 0u);
    EXPECT_EQ(std::memcmp(f.data() + 36, "data", 4), 0);
  }
  b->Release();
  EXPECT_EQ(ds->Release(), 0u);
}

// A recording that cannot go on (the disk full: /dev/full stands in for
// it; the file removed) says so once on the error output with the file and
// the system's reason, writes nothing more and makes the run a failure; a
// folder that is not there says so before anything is recorded.
TEST(PlatDSoundSinks, WavRecordingThatCannotBeWrittenSaysSoOnce) {
  zmtest::TTempDir dir;
  const std::vector<std::int16_t> second(2 * 44100, 100);
  const auto recordInto = [&](const std::string& path, bool removeHalfWay) {
    testing::internal::CaptureStderr();
    {
      sound::TWavWriter wav;
      std::string error;
      EXPECT_TRUE(wav.Open(path, error)) << error;
      for (int i = 0; i < 3; ++i) {
        wav.Write(second.data(), second.size());
        if (removeHalfWay && i == 0) std::filesystem::remove(path);
      }
      wav.Close();
    }
    return testing::internal::GetCapturedStderr();
  };
  if (std::filesystem::exists("/dev/full")) {
    EXPECT_EQ(recordInto("/dev/full", false),
              "Sound recording stopped: cannot write /dev/full: No space left on device; the show plays on.\n");
  }
  const std::string gone = (dir.Path() / "gone.wav").string();
  EXPECT_EQ(recordInto(gone, true),
            "Sound recording stopped: cannot write " + gone + ": No such file or directory; the show plays on.\n");
  EXPECT_TRUE(OutputFailed());

  // A whole recording says nothing.
  EXPECT_EQ(recordInto((dir.Path() / "whole.wav").string(), false), "");
  EXPECT_EQ(std::filesystem::file_size(dir.Path() / "whole.wav"), 44u + 3 * 2 * second.size());

  const std::string nowhere = (dir.Path() / "no" / "such" / "folder.wav").string();
  sound::TWavWriter wav;
  std::string error;
  EXPECT_FALSE(wav.Open(nowhere, error));
  EXPECT_EQ(error, "Sound recording not started: cannot write " + nowhere + ": No such file or directory");
}

// Without a sound card SDL's dummy driver still opens and paces in real time.
TEST(PlatDSoundSinks, SdlDummyDriverPlays) {
  zmtest::TEnvGuard env;
  env.Set("ZM_AUDIO", "sdl");
  env.Set("SDL_AUDIODRIVER", "dummy");
  SetSoundFaults({});  // a failed output remembered by an earlier test is tried again
  for (int round = 0; round < 2; ++round) {  // the audio subsystem starts again after the last sink
    IDirectSound8* ds = nullptr;
    ASSERT_EQ(DirectSoundCreate8(nullptr, &ds, nullptr), DS_OK);
    auto fmt = Pcm(44100, 2, 16);
    DSBUFFERDESC d{36, 0x18088, 176400, 0, &fmt};
    IDirectSoundBuffer* b = nullptr;
    ASSERT_EQ(ds->CreateSoundBuffer(&d, &b, nullptr), DS_OK);
    ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    EXPECT_TRUE(WaitFor([&] { return PlayPos(b) >= 1024 * 4; }));
    ds->Release();
    b->Release();
  }
  env.Set("SDL_AUDIODRIVER", "no-such-driver");
  IDirectSound8* ds = nullptr;
  EXPECT_EQ(DirectSoundCreate8(nullptr, &ds, nullptr), DSERR_NODRIVER);
  EXPECT_EQ(ds, nullptr);
}

// A failed open leaves SDL's audio to be shut down aside; a device asked
// for straight after waits for that and opens.
TEST(PlatDSoundSinks, SdlOpensRightAfterAFailedOpen) {
  zmtest::TEnvGuard env;
  zmtest::TTempDir dir;
  auto bus = std::make_shared<sound::TMixBus>();
  std::string error;
  for (int round = 0; round < 2; ++round) {
    // The disk driver starts, then cannot make its file.
    env.Set("SDL_AUDIODRIVER", "disk");
    env.Set("SDL_DISKAUDIOFILE", (dir.Path() / "no" / "such" / "folder.raw").string());
    EXPECT_EQ(sound::OpenSdlSink(bus, error), nullptr);
    EXPECT_FALSE(error.empty());
    env.Set("SDL_AUDIODRIVER", "dummy");
    auto sink = sound::OpenSdlSink(bus, error);
    ASSERT_TRUE(sink) << error;
    const std::uint64_t mixed = bus->FramesMixed();
    EXPECT_TRUE(WaitFor([&] { return bus->FramesMixed() > mixed; }));
  }
}

}  // namespace platdsound_test
