// The output device, its ring buffers and the audio clock on the sound layer
// mixed by hand (TManualAudio) under a manual clock: no test waits on the
// wall clock, and the mixed output shows exactly what reached the speaker.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>
#include <string>
#include <vector>

#include "Platform/PlatSystem.h"
#include "Platform/Sound/PlatSoundSinks.h"
#include "ZmLib/Music/zmDirectSound.h"
#include "ZmLib/Music/zmTimerChannel.h"
#include "ZmLib/zmHookScope.h"
#include "ZmLib/zmLog.h"
#include "tests/support/EnvGuard.h"

namespace zm_waveout_test {

using namespace zm;

const TWaveFormatEx kStd{1, 2, 44100, 176400, 4, 16, 0};
constexpr std::uint32_t kRing = 352800;  // two seconds of kStd

class TLinesLog : public TLog {
public:
  void WriteText(const WideString& line) override {
    std::lock_guard<std::mutex> g(m);
    Lines.push_back(line);
  }
  std::mutex m;
  std::vector<WideString> Lines;
};

// Writes one known stream of 16-bit samples through the callbacks: sample k
// of everything written is Expected(k).
struct TPattern {
  static std::int16_t Expected(std::uint64_t k) { return std::int16_t(std::int64_t(k * 37 % 20001) - 10000); }

  void Attach(TwinWaveOutBuffer* b) {
    buffer = b;
    b->OnFirstFill = {&TPattern::FirstFill, this};
    b->OnFill = {&TPattern::Fill, this};
    b->OnFade = {&TPattern::Fade, this};
  }
  void Write(std::uint8_t* p, std::uint32_t n) {
    for (std::uint32_t i = 0; i + 1 < n; i += 2) {
      const std::int16_t v = Expected((produced + i) / 2);
      std::memcpy(p + i, &v, 2);
    }
    produced += n;
  }
  static void FirstFill(void* d, std::uint8_t* p, std::uint32_t n) {
    auto* t = static_cast<TPattern*>(d);
    t->base = p;
    t->Write(p, n);
  }
  static void Fill(void* d, std::uint8_t* p, std::uint32_t n) {
    auto* t = static_cast<TPattern*>(d);
    t->fills.push_back(n);
    std::uint32_t play = 0, write = 0;
    t->buffer->SoundBuffer()->GetCurrentPosition(&play, &write);
    const auto offset = std::uint32_t(p - t->base);
    t->queued.push_back({t->buffer->QueuedBytes(), (offset + kRing - play) % kRing});
    t->Write(p, n);
  }
  static void Fade(void* d, std::uint8_t* p, std::uint32_t n) {
    auto* t = static_cast<TPattern*>(d);
    t->fades.push_back({std::uint32_t(p - t->base), n});
  }

  TwinWaveOutBuffer* buffer = nullptr;
  std::uint8_t* base = nullptr;
  std::uint64_t produced = 0;
  std::vector<std::uint32_t> fills;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> queued;  // answered, expected
  std::vector<std::pair<std::uint32_t, std::uint32_t>> fades;   // offset, bytes
};

class NotAWinDevice : public TWaveOutDevice {
public:
  bool IsReady() override { return true; }
  TRef<TWaveOutBuffer> CreateBuffer(const TWaveFormatEx&) override { return nullptr; }
  TRef<TTimerChannel> CreateChannel() override { return nullptr; }
};

class WaveOut : public ::testing::Test {
protected:
  void SetUp() override {
    InitDirectSound();
    log_ = new TLinesLog;
    SetLog(log_);
  }
  void TearDown() override {
    SetLog(nullptr);
    waveOut_.Restore();
    create8_.Restore();
  }
  TRef<TwinWaveOutDevice> Device() {
    TRef<TWaveOutDevice> d = CreateWaveOutDeviceHook();
    return TRef<TwinWaveOutDevice>(dynamic_cast<TwinWaveOutDevice*>(d.get()));
  }
  TRef<TwinWaveOutBuffer> Buffer(TWaveOutDevice* d, const TWaveFormatEx& f = kStd) {
    TRef<TWaveOutBuffer> b = d->CreateBuffer(f);
    auto* w = dynamic_cast<TwinWaveOutBuffer*>(b.get());
    if (w) w->ManualTicks = true;
    return TRef<TwinWaveOutBuffer>(w);
  }
  TRef<TwinTimerChannel> Channel(TWaveOutDevice* d) {
    TRef<TTimerChannel> c = d->CreateChannel();
    auto* w = dynamic_cast<TwinTimerChannel*>(c.get());
    if (w) w->ManualSteps = true;
    return TRef<TwinTimerChannel>(w);
  }
  // Clock and sound card move together.
  void Run(std::uint32_t ms) {
    clock_.Advance(ms);
    audio_.Advance(ms * 441 / 10);
  }
  std::vector<std::string> Lines() {
    std::lock_guard<std::mutex> g(log_->m);
    std::vector<std::string> r;
    for (const WideString& w : log_->Lines) r.emplace_back(w.begin(), w.end());
    return r;
  }
  bool Logged(const std::string& line) {
    for (const std::string& l : Lines())
      if (l == line) return true;
    return false;
  }

  plat::TManualClock clock_{5000};
  plat::TManualAudio audio_;
  TLinesLog* log_ = nullptr;
  zm::THookScope<TCreateWaveOutDeviceProc> waveOut_{CreateWaveOutDeviceHook};
  zm::THookScope<TDirectSoundCreateProc> create8_{DirectSoundCreate8Proc};
};

TEST_F(WaveOut, VolumeIsSixDecibelsPerHalvingClampedAndReadBack) {
  EXPECT_EQ(GainToDSVolume(0.5f), -600);
  EXPECT_EQ(GainToDSVolume(1.0f), 0);
  EXPECT_EQ(GainToDSVolume(0.00001f), -10000);
  EXPECT_EQ(GainToDSVolume(0.25f), -1200);
  EXPECT_EQ(GainToDSVolume(0.001f), -5979);
  EXPECT_EQ(GainToDSVolume(2.0f), 0);
  for (float bad : {0.0f, -1.0f, std::numeric_limits<float>::quiet_NaN(), -std::numeric_limits<float>::infinity()})
    EXPECT_EQ(GainToDSVolume(bad), -10000) << bad;
  EXPECT_EQ(GainToDSVolume(std::numeric_limits<float>::infinity()), 0);

  TRef<TwinWaveOutDevice> d = Device();
  ASSERT_TRUE(d->IsReady());
  TRef<TwinWaveOutBuffer> b = Buffer(d.get());
  ASSERT_TRUE(b->SoundBuffer());
  // Nothing set yet: read back from the sound buffer.
  ASSERT_EQ(b->SoundBuffer()->SetVolume(-1200), plat::DS_OK);
  EXPECT_NEAR(b->GetVolume(), 0.25f, 1e-6);
  b->SetVolume(0.5f);
  std::int32_t v = 0;
  ASSERT_EQ(b->SoundBuffer()->GetVolume(&v), plat::DS_OK);
  EXPECT_EQ(v, -600);
  EXPECT_EQ(b->GetVolume(), 0.5f);
  b->SetVolume(std::numeric_limits<float>::quiet_NaN());
  b->SoundBuffer()->GetVolume(&v);
  EXPECT_EQ(v, -10000);
  EXPECT_EQ(b->GetVolume(), 0.0f);
}

TEST_F(WaveOut, FirstFillAndBoundedRefillsKeepTheRingGapless) {
  TRef<TwinWaveOutDevice> d = Device();
  TRef<TwinWaveOutBuffer> b = Buffer(d.get());
  ASSERT_TRUE(b);
  ASSERT_EQ(b->Size(), kRing);
  EXPECT_EQ(b->MaxChunk(), kRing / 4);
  EXPECT_EQ(b->PrebufferSize(), kRing / 4 * 3);
  TPattern p;
  p.Attach(b.get());
  b->Play();
  ASSERT_EQ(p.produced, kRing / 4 * 3);
  // A tick 1.2 s late still finds sound queued and refills half a second.
  Run(1200);
  b->Refill();
  ASSERT_EQ(p.fills.size(), 1u);
  EXPECT_EQ(p.fills[0], kRing / 4);
  for (int i = 0; i < 45; ++i) {
    Run(100);
    b->Refill();
  }
  for (std::uint32_t n : p.fills) {
    EXPECT_LE(n, kRing / 4);
    EXPECT_EQ(n % 4, 0u);
  }
  for (auto [answered, expected] : p.queued) EXPECT_EQ(answered, expected);
  // 5.7 s through a two-second ring: every sample came out as written.
  const std::vector<std::int16_t>& mixed = audio_.Mixed();
  ASSERT_EQ(mixed.size(), std::size_t(5700 * 441 / 10 * 2));
  ASSERT_GE(p.produced / 2, mixed.size());
  std::size_t bad = 0;
  for (std::size_t i = 0; i < mixed.size(); ++i)
    if (mixed[i] != TPattern::Expected(i) && bad++ == 0) ADD_FAILURE() << "first difference at sample " << i;
  EXPECT_EQ(bad, 0u);
}

TEST_F(WaveOut, PlayedTimeAddsTwoSecondsPerLapAndRunsOnBetweenReadings) {
  TRef<TwinWaveOutDevice> d = Device();
  TRef<TwinWaveOutBuffer> b = Buffer(d.get());
  TPattern p;
  p.Attach(b.get());
  EXPECT_EQ(b->PlayedTime(), 0u);
  b->Play();
  EXPECT_EQ(b->PlayedTime(), 0u);
  for (std::uint32_t t = 100; t <= 4500; t += 100) {
    Run(100);
    b->Refill();
    ASSERT_EQ(b->PlayedTime(), t);
  }
  clock_.Advance(40);
  EXPECT_EQ(b->PlayedTime(), 4540u);
}

TEST_F(WaveOut, StopFadesWhatIsQueuedFromTwentyFiveMsPastTheWriteCursor) {
  TRef<TwinWaveOutDevice> d = Device();
  TRef<TwinWaveOutBuffer> b = Buffer(d.get());
  TPattern p;
  p.Attach(b.get());
  b->Play();
  for (int i = 0; i < 3; ++i) {
    Run(100);
    b->Refill();
  }
  std::uint32_t play = 0, write = 0;
  b->SoundBuffer()->GetCurrentPosition(&play, &write);
  const std::uint32_t writeEnd = b->WriteEnd();
  const std::uint32_t fadeStart = (write + 44100 / 40 * 4) % kRing;
  b->Stop();
  b->Refill();
  // The ring is full here, so the faded span runs past its end: two parts.
  ASSERT_EQ(p.fades.size(), 2u);
  EXPECT_EQ(p.fades[0].first, fadeStart);
  EXPECT_EQ(p.fades[1].first, 0u);
  EXPECT_EQ(p.fades[0].second + p.fades[1].second, (writeEnd + kRing - fadeStart) % kRing);
  EXPECT_EQ(p.fades[1].second, writeEnd);
  b->Refill();  // the fade is applied once
  EXPECT_EQ(p.fades.size(), 2u);

  // Starved: less than 40 ms queued. Nothing lies between fadeStart and
  // writeEnd; the rest of the ring is old sound or being played.
  TRef<TwinWaveOutBuffer> s = Buffer(d.get());
  TPattern q;
  q.Attach(s.get());
  b = nullptr;
  s->Play();
  Run(1480);
  s->Stop();
  s->Refill();
  EXPECT_TRUE(q.fades.empty());
}

TEST_F(WaveOut, LostBuffersAreRestoredBeforePlay) {
  plat::SetSoundFaults({.LostBuffers = 2});
  TRef<TwinWaveOutDevice> d = Device();
  TRef<TwinWaveOutBuffer> b = Buffer(d.get());
  TRef<TwinTimerChannel> c = Channel(d.get());
  TPattern p;
  p.Attach(b.get());
  b->Play();
  c->Start();
  Run(100);
  std::uint32_t play = 0, write = 0;
  b->SoundBuffer()->GetCurrentPosition(&play, &write);
  EXPECT_EQ(play, 17640u);
  c->SoundBuffer()->GetCurrentPosition(&play, &write);
  EXPECT_EQ(play, 17640u);
  EXPECT_TRUE(Logged("-> FSoundBuffer.Restore [MusicClasses, 345]"));
  EXPECT_TRUE(Logged("-> SoundBuffer.Restore [TimerChannel, 165]"));
}

TEST_F(WaveOut, DeviceWithoutSoundOrCooperativeLevelIsNotReady) {
  plat::SetSoundFaults({.FailCreate = true});
  TRef<TwinWaveOutDevice> d = Device();
  EXPECT_FALSE(d->IsReady());
  EXPECT_EQ(Lines(), (std::vector<std::string>{
                         "-> DirectSoundCreate8 [MusicClasses, 158]", "<- DirectSoundCreate8 [MusicClasses, 160]",
                         "-> DirectSoundCreate [MusicClasses, 164]", "<- DirectSoundCreate [MusicClasses, 166]",
                         "!!! FDirectSound = nil [MusicClasses, 173]"}));
  // Its buffers play nothing; its clock cannot be made.
  TRef<TwinWaveOutBuffer> b = Buffer(d.get());
  TPattern p;
  p.Attach(b.get());
  b->Play();
  b->Stop();
  b->Refill();
  EXPECT_EQ(p.produced, 0u);
  EXPECT_EQ(b->PlayedTime(), 0u);
  EXPECT_EQ(b->QueuedBytes(), 0u);
  try {
    d->CreateChannel();
    ADD_FAILURE() << "no exception";
  } catch (const EWaveOutError& e) {
    EXPECT_STREQ(e.what(), "SoundBuffer = nil");
  }
  EXPECT_TRUE(Logged("!!! SoundBuffer = nil [TimerChannel, 133]"));

  plat::SetSoundFaults({.FailCooperativeLevel = true});
  EXPECT_FALSE(Device()->IsReady());
  EXPECT_TRUE(Logged("<- !!! FDirectSound.SetCooperativeLevel [MusicClasses, 186]"));

  // Without the newer entry point the older one serves alone.
  plat::SetSoundFaults({});
  log_->Lines.clear();
  create8_.Set(nullptr);
  EXPECT_TRUE(Device()->IsReady());
  EXPECT_FALSE(Logged("-> DirectSoundCreate8 [MusicClasses, 158]"));
  EXPECT_TRUE(Logged("-> DirectSoundCreate [MusicClasses, 164]"));
}

// A sound device that cannot be opened is asked for once in a run: the
// older entry point tried after the newer one, and the devices of later
// shows, get the remembered answer without asking SDL again.
TEST(WaveOutMissingDevice, IsAskedForOnceInARun) {
  zmtest::TEnvGuard env;
  env.Set("ZM_AUDIO", "sdl");
  env.Set("SDL_AUDIODRIVER", "no-such-driver");
  plat::SetSoundFaults({});  // nothing remembered from earlier tests
  zm::THookScope<TCreateWaveOutDeviceProc> waveOut{CreateWaveOutDeviceHook};
  zm::THookScope<TDirectSoundCreateProc> create8{DirectSoundCreate8Proc};
  InitDirectSound();
  const std::uint32_t before = plat::sound::SdlSinkOpenings();
  for (int show = 0; show < 3; ++show) EXPECT_FALSE(CreateWaveOutDeviceHook()->IsReady()) << show;
  EXPECT_EQ(plat::sound::SdlSinkOpenings() - before, 1u);

  // Another output is tried as asked, and the failed one stays remembered.
  env.Set("ZM_AUDIO", "null");
  EXPECT_TRUE(CreateWaveOutDeviceHook()->IsReady());
  env.Set("ZM_AUDIO", "sdl");
  EXPECT_FALSE(CreateWaveOutDeviceHook()->IsReady());
  EXPECT_EQ(plat::sound::SdlSinkOpenings() - before, 1u);
  plat::SetSoundFaults({});
}

TEST_F(WaveOut, BuffersThatCannotBeMadePlayNothing) {
  TRef<TwinWaveOutDevice> d = Device();
  plat::SetSoundFaults({.FailCreateBuffer = true});
  {
    TRef<TwinWaveOutBuffer> b = Buffer(d.get());
    EXPECT_EQ(b->SoundBuffer(), nullptr);
    EXPECT_TRUE(Logged("<- !!! FDirectSound.CreateSoundBuffer [MusicClasses, 264]"));
    TPattern p;
    p.Attach(b.get());
    b->Play();
    b->Refill();
    EXPECT_EQ(p.produced, 0u);
    EXPECT_THROW(d->CreateChannel(), EWaveOutError);
  }
  plat::SetSoundFaults({});
  // Damaged formats: refused by the sound layer or played; never a fault.
  const TWaveFormatEx damaged[] = {
      {1, 2, 44100, 0, 4, 16, 0},          {1, 2, 44100, 176400, 0, 16, 0},
      {1, 2, 44100, 0xFFFFFFFFu, 4, 16, 0}, {1, 0, 44100, 176400, 4, 16, 0},
      {1, 2, 0, 176400, 4, 16, 0},          {1, 2, 44100, 176400, 4, 12, 0},
      {2, 2, 44100, 176400, 4, 16, 0},      {1, 2, 44100, 150, 4, 16, 0},
      {1, 1, 11025, 11025, 1, 8, 0},
  };
  for (const TWaveFormatEx& f : damaged) {
    TRef<TwinWaveOutBuffer> b = Buffer(d.get(), f);
    TPattern p;
    p.Attach(b.get());
    b->SetVolume(0.5f);
    b->Play();
    Run(700);
    b->Stop();
    b->Refill();
    b->PlayedTime();
    b->QueuedBytes();
    EXPECT_LE(p.produced, std::uint64_t(b->Size()) * 2) << f.nAvgBytesPerSec;
  }
}

TEST_F(WaveOut, OnlyItsOwnDeviceMakesBuffersAndChannels) {
  TRef<NotAWinDevice> other = MakeRef<NotAWinDevice>();
  for (int kind = 0; kind < 2; ++kind) {
    try {
      if (kind == 0)
        MakeRef<TwinWaveOutBuffer>(other.get(), kStd);
      else
        MakeRef<TwinTimerChannel>(other.get());
      ADD_FAILURE() << "no exception " << kind;
    } catch (const EWaveOutError& e) {
      EXPECT_STREQ(e.what(), "WaveOutDevice is not TwinWaveOutDevice");
    }
  }
}

TEST_F(WaveOut, TimerChannelAnswersZeroUntilItsCursorMoves) {
  TRef<TwinWaveOutDevice> d = Device();
  TRef<TwinTimerChannel> c = Channel(d.get());
  EXPECT_EQ(c->GetTime(), 0u);
  EXPECT_FALSE(c->IsPlaying());
  c->Start();
  EXPECT_TRUE(c->IsPlaying());
  for (int i = 0; i < 20; ++i) {
    clock_.Advance(10);
    c->Step();
    ASSERT_EQ(c->GetTime(), 0u);
  }
  EXPECT_EQ(c->CursorTime(), 0u);
}

TEST_F(WaveOut, TimerChannelSyncsWrapsAndIsPulledOneMsPerStepTowardsTheCursor) {
  clock_.Set(0xFFFFFF00u);  // the system clock wraps on the way
  TRef<TwinWaveOutDevice> d = Device();
  TRef<TwinTimerChannel> c = Channel(d.get());
  c->Start();
  Run(10);
  c->Step();  // meets the cursor
  EXPECT_EQ(c->GetTime(), 0u);
  // In step with the card for 2.5 s, past the end of the ring.
  std::uint32_t last = 0;
  for (int i = 0; i < 250; ++i) {
    Run(10);
    c->Step();
    ASSERT_EQ(c->GetTime() - last, 10u) << i;
    last = c->GetTime();
  }
  EXPECT_EQ(last, 2500u);
  EXPECT_EQ(c->CursorTime(), 2510u);  // the cursor was 10 ms in at the meeting
  // The card stalls: the clock goes on one of the card's steps past what
  // it has played, then stands until the card moves on.
  EXPECT_EQ(c->CardStepMs(), 10u);
  for (int i = 0; i < 40; ++i) {
    clock_.Advance(10);
    c->Step();
    ASSERT_EQ(c->GetTime(), 2510u) << i;
  }
  last = c->GetTime();
  // The card runs fast (mixes what it owes): the clock follows what it has
  // played until it meets its own time again, then gains 1 ms per step.
  int gained = 0;
  for (int i = 0; i < 60; ++i) {
    clock_.Advance(10);
    audio_.Advance(441 * 3);
    c->Step();
    const std::uint32_t t = c->GetTime();
    ASSERT_GE(t, last) << i;
    ASSERT_LE(t, c->CursorTime() - 10 + c->CardStepMs()) << i;
    if (i >= 40) gained += t - last == 11;
    last = t;
  }
  EXPECT_EQ(gained, 20);
}

// The show reads the clock for every frame while the feeder sleeps: the
// readings alone keep it with the card, also when the card stalls and then
// mixes what it owes in one go.
TEST_F(WaveOut, TimerChannelReadAloneWaitsForAStalledCardAndNeverGoesBack) {
  TRef<TwinWaveOutDevice> d = Device();
  TRef<TwinTimerChannel> c = Channel(d.get());
  c->Start();
  Run(10);
  EXPECT_EQ(c->GetTime(), 0u);  // meets the cursor
  std::uint32_t last = 0;
  for (int i = 0; i < 250; ++i) {  // 2.5 s: the readings count the lap too
    Run(10);
    ASSERT_EQ(c->GetTime() - last, 10u) << i;
    last = c->GetTime();
  }
  ASSERT_EQ(c->CardStepMs(), 10u);
  // 120 ms without a move of the card: one step on, then the clock stands.
  for (int i = 0; i < 12; ++i) {
    clock_.Advance(10);
    ASSERT_EQ(c->GetTime(), last + 10) << i;
  }
  // The card mixes what it owes at once: the clock is back with it.
  audio_.Advance(120 * 441 / 10);
  EXPECT_EQ(c->GetTime(), last + 120);
  last += 120;
  for (int i = 0; i < 100; ++i) {
    Run(10);
    ASSERT_EQ(c->GetTime() - last, 10u) << i;
    last = c->GetTime();
  }
}

TEST_F(WaveOut, TimerChannelStandsWhileStoppedAndContinuesFromThere) {
  TRef<TwinWaveOutDevice> d = Device();
  TRef<TwinTimerChannel> c = Channel(d.get());
  c->Start();
  for (int i = 0; i < 71; ++i) {
    Run(10);
    c->Step();
  }
  c->Stop();
  EXPECT_FALSE(c->IsPlaying());
  const std::uint32_t stopped = c->GetTime();
  EXPECT_NEAR(double(stopped), 700.0, 10.0);
  EXPECT_EQ(c->CursorTime(), stopped);
  Run(500);
  EXPECT_EQ(c->GetTime(), stopped);
  c->Start();
  EXPECT_EQ(c->GetTime(), stopped);  // not back to 0 while it meets the cursor
  Run(10);
  c->Step();
  EXPECT_EQ(c->GetTime(), stopped);
  for (int i = 0; i < 30; ++i) {
    Run(10);
    c->Step();
  }
  EXPECT_EQ(c->GetTime(), stopped + 300);
  c->Stop();
  c->Stop();  // twice is harmless
}

}  // namespace zm_waveout_test
