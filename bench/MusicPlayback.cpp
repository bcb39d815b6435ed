// The show's music in virtual time: the music player, its loader, the sound
// rings, the audio clock and the hand-mixed sound layer all stepped on this
// thread (5 ms of program and sound time per step), so a ten-minute show
// takes only as long as its work.
//
//  - MusicCpuTwoCrossFadingMp3: processor time of that work per second of
//    music while two MP3 tracks play and cross-fade (the show's whole music
//    thread, loader and ring refills included).
//  - ShowClockAgainstAudioClock: over a ten-minute show, the largest distance
//    between the show clock and the sound actually mixed, and how far the
//    clock has drifted in the last minute; with a sound card running at the
//    system clock's rate and at 0.1 % fast or slow.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bench/BenchFiles.h"
#include "OruLib2/OruClasses/OruFileAccess.h"
#include "OruLib2/OruClasses/OruShowLoader.h"
#include "OruLib2/OruViewer/OruMusicComposite.h"
#include "OruLib2/OruViewer/OruMusicPlayer.h"
#include "Platform/PlatSystem.h"
#include "Platform/Sound/PlatDSound.h"
#include "ZmLib/Music/zmConverterFactory.h"
#include "ZmLib/Music/zmDirectSound.h"
#include "ZmLib/Music/zmMusicChannel.h"
#include "ZmLib/Music/zmMusicModules.h"
#include "ZmLib/Music/zmMusicPlayer.h"
#include "ZmLib/Music/zmTimerChannel.h"
#include "ZmLib/Text/zmTextModules.h"
#include "ZmLib/zmModules.h"
#include "tests/support/kit/ShowBuilder.h"

using zm::MakeRef;
using zm::TRef;

namespace {

class TStepDevice;
TStepDevice*& CurrentDevice();

// A ring refilled only when the bench says so; leaves the device's list
// when it is disposed of.
class TStepBuffer : public zm::TWaveOutBuffer {
public:
  // The channel fills this wrapper's callbacks; the ring calls them through.
  TStepBuffer(TStepDevice* device, TRef<zm::TwinWaveOutBuffer> inner) : device_(device), inner_(std::move(inner)) {
    inner_->OnFirstFill = {&FirstFillFwd, this};
    inner_->OnFill = {&FillFwd, this};
    inner_->OnFade = {&FadeFwd, this};
  }
  void Dispose() override;
  float GetVolume() override { return inner_->GetVolume(); }
  void SetVolume(float gain) override { inner_->SetVolume(gain); }
  void Play() override { inner_->Play(); }
  void Stop() override { inner_->Stop(); }
  std::uint32_t PrebufferSize() override { return inner_->PrebufferSize(); }
  std::uint32_t QueuedBytes() override { return inner_->QueuedBytes(); }
  std::uint32_t PlayedTime() override { return inner_->PlayedTime(); }
  zm::TwinWaveOutBuffer* Inner() const { return inner_.get(); }

private:
  static void FirstFillFwd(void* d, std::uint8_t* p, std::uint32_t n) {
    static_cast<TStepBuffer*>(d)->OnFirstFill(p, n);
  }
  static void FillFwd(void* d, std::uint8_t* p, std::uint32_t n) { static_cast<TStepBuffer*>(d)->OnFill(p, n); }
  static void FadeFwd(void* d, std::uint8_t* p, std::uint32_t n) { static_cast<TStepBuffer*>(d)->OnFade(p, n); }

  TStepDevice* device_;
  TRef<zm::TwinWaveOutBuffer> inner_;
};

class TStepDevice : public zm::TWaveOutDevice {
public:
  explicit TStepDevice(TRef<zm::TWaveOutDevice> inner) : inner_(std::move(inner)) {}
  void Dispose() override {
    if (CurrentDevice() == this) CurrentDevice() = nullptr;
    {
      std::lock_guard<std::mutex> g(m_);
      timers_.clear();
    }
    inner_ = nullptr;
    zm::TWaveOutDevice::Dispose();
  }
  bool IsReady() override { return inner_ && inner_->IsReady(); }
  TRef<zm::TWaveOutBuffer> CreateBuffer(const zm::TWaveFormatEx& format) override {
    TRef<zm::TwinWaveOutBuffer> b = zm::RefCast<zm::TwinWaveOutBuffer>(inner_->CreateBuffer(format));
    if (!b) return nullptr;
    b->ManualTicks = true;
    auto w = MakeRef<TStepBuffer>(this, b);
    std::lock_guard<std::mutex> g(m_);
    live_.push_back(w.get());
    return w;
  }
  TRef<zm::TTimerChannel> CreateChannel() override {
    TRef<zm::TwinTimerChannel> c = zm::RefCast<zm::TwinTimerChannel>(inner_->CreateChannel());
    if (!c) return nullptr;
    c->ManualSteps = true;
    std::lock_guard<std::mutex> g(m_);
    timers_.push_back(c);
    return c;
  }
  void Refill(bool stepTimers) {
    std::lock_guard<std::mutex> g(m_);
    for (TStepBuffer* b : live_) b->Inner()->Refill();
    if (stepTimers)
      for (auto& t : timers_) t->Step();
  }
  void Leave(TStepBuffer* b) {
    std::lock_guard<std::mutex> g(m_);
    live_.erase(std::remove(live_.begin(), live_.end(), b), live_.end());
  }

private:
  std::mutex m_;
  std::vector<TStepBuffer*> live_;
  std::vector<TRef<zm::TwinTimerChannel>> timers_;
  TRef<zm::TWaveOutDevice> inner_;
};

void TStepBuffer::Dispose() {
  device_->Leave(this);
  inner_ = nullptr;
  zm::TWaveOutBuffer::Dispose();
}

TStepDevice*& CurrentDevice() {
  static TStepDevice* device = nullptr;
  return device;
}

TRef<zm::TWaveOutDevice> StepDeviceProc() {
  auto d = MakeRef<TStepDevice>(zm::CreateWinWaveOutDevice());
  CurrentDevice() = d.get();
  return d;
}

// Two MP3 tones, each a little over half of the show, made once by ffmpeg.
struct TMedia {
  std::unique_ptr<zmbench::TBenchFolder> folder;
  std::string a, b, error;
};

const TMedia& Media(int seconds) {
  static std::vector<std::pair<int, std::unique_ptr<TMedia>>> made;
  for (auto& [s, m] : made)
    if (s == seconds) return *m;
  auto m = std::make_unique<TMedia>();
  if (std::system("ffmpeg -version >/dev/null 2>&1") != 0) {
    m->error = "ffmpeg missing: no MP3 to play";
  } else {
    m->folder = std::make_unique<zmbench::TBenchFolder>();
    m->a = m->folder->File("a.mp3");
    m->b = m->folder->File("b.mp3");
    for (auto [path, hz] : {std::pair{m->a, 440}, std::pair{m->b, 330}}) {
      const std::string cmd = "ffmpeg -hide_banner -loglevel error -y -f lavfi -i \"sine=frequency=" +
                              std::to_string(hz) + ":sample_rate=44100:duration=" + std::to_string(seconds / 2 + 5) +
                              "\" -ac 2 -c:a libmp3lame -b:a 192k \"" + path + "\"";
      if (std::system(cmd.c_str()) != 0) m->error = "ffmpeg could not encode MP3";
    }
  }
  made.emplace_back(seconds, std::move(m));
  return *made.back().second;
}

// The core and music modules as the player's start-up runs them, with the
// composite tracks and the stepped device, for one run (stopped before this
// thread's own state goes at exit).
class TMusicModules {
public:
  TMusicModules() : modules_(zm::JoinModules({zm::CoreModules(), zm::TextModules(), zm::MusicModules()})) {
    savedDevice_ = zm::CreateWaveOutDeviceHook;
    oru::InitMusicComposite();
    zm::CreateWaveOutDeviceHook = &StepDeviceProc;
  }
  ~TMusicModules() {
    oru::FiniMusicComposite();
    zm::CreateWaveOutDeviceHook = savedDevice_;
    CurrentDevice() = nullptr;
  }

private:
  zm::TModuleRunner modules_;
  zm::TCreateWaveOutDeviceProc savedDevice_ = nullptr;
};

// A show of ten-second slides whose main music is A, cross-fading over
// three seconds into B.
TRef<oru::TOruMusicPlayer> MakePlayer(const TMedia& media, int seconds) {
  zmtest::TShowBuilder show;
  for (int s = 10; s <= seconds; s += 10) show.AddSlide(s * 1000LL);
  show.Main().Key("opt_syncmode", 1);
  const long long half = seconds * 500LL;
  // The show reads the disk: its names are the files' paths.
  show.MusicItem(media.a, half + 1500).Key("FadeIn", 200);
  show.MusicItem(media.b, seconds * 1000LL - half + 1500).Key("Cross", 3000);
  show.Render();
  TRef<zm::TIniFile> doc = MakeRef<zm::TIniFile>();
  doc->LoadFromText(zm::TByteString(show.Description().Bytes(false)));
  TRef<oru::TRealFileSource> files = MakeRef<oru::TRealFileSource>();
  TRef<oru::TFileAccessor> access = MakeRef<oru::TFileAccessor>(files.get());
  TRef<oru::TOruSource> src = MakeRef<oru::TOruSource>(access.Detach(), true, doc.Detach());
  auto player = MakeRef<oru::TOruMusicPlayer>(src.Detach(), true);
  player->Events()->BindOwner();
  player->Loader()->Events()->BindOwner();
  return player;
}

// Plays ms of show in 5 ms steps: program clock, sound card (at rate per
// mille of the system clock's pace), ring refills, then a pass of the loader
// and one of the player. Seen gets the show clock and the milliseconds of
// sound mixed after every step. Answers the loudest sample mixed (the music
// did play).
template <class F>
int Run(oru::TOruMusicPlayer* player, plat::TManualClock& clock, plat::TManualAudio& audio, std::int64_t ms,
        int perMille, std::uint64_t& owed, std::int64_t& step, F seen) {
  int peak = 0;
  for (std::int64_t t = 0; t < ms; t += 5, ++step) {
    if (step % 200 == 0) {
      for (std::int16_t v : audio.Mixed()) peak = std::max(peak, std::abs(int(v)));
      audio.ClearMixed();
    }
    clock.Advance(5);
    // 220.5 frames per 5 ms at the system clock's pace, counted in
    // 1/10000 frames so that no fraction is lost.
    owed += std::uint64_t(2205 * perMille);
    const std::uint64_t frames = owed / 10000;
    owed -= frames * 10000;
    audio.Advance(std::uint32_t(frames));
    if (TStepDevice* d = CurrentDevice()) d->Refill(step % 2 == 0);
    player->Loader()->Events()->ProcessEvents();
    player->Pass();
    seen(player->GetTime(), double(audio.FramesMixed()) / 44.1);
  }
  for (std::int16_t v : audio.Mixed()) peak = std::max(peak, std::abs(int(v)));
  return peak;
}

double ProcessCpuSeconds() { return double(std::clock()) / CLOCKS_PER_SEC; }

// Stops the player, then lets the channel killer dispose of the channels it
// was handed before the player goes: their composite items still point at
// the player's sound device. The killer waits for their tails to play out
// and a while more, by the program clock, polling on its own thread.
void Finish(TRef<oru::TOruMusicPlayer>& player, plat::TManualClock& clock, plat::TManualAudio& audio) {
  player->Stop();
  for (int i = 0; i < 2000 && zm::ChannelKiller()->Count() > 0; ++i) {
    clock.Advance(5);
    audio.Advance(220);
    plat::SleepMs(1);
  }
  player = nullptr;
}

}  // namespace

static void BM_MusicCpuTwoCrossFadingMp3(benchmark::State& state) {
  constexpr int kSeconds = 20;
  const TMedia& media = Media(kSeconds);
  if (!media.error.empty()) {
    state.SkipWithError(media.error.c_str());
    return;
  }
  double cpu = 0, music = 0;
  int peak = 0;
  for (auto _ : state) {
    state.PauseTiming();
    TMusicModules modules;
    plat::TManualClock clock(1000);
    plat::TManualAudio audio;
    TRef<oru::TOruMusicPlayer> player = MakePlayer(media, kSeconds);
    player->SetVolume(1.0f);
    player->SetRunRequested(true);
    std::uint64_t owed = 0;
    std::int64_t step = 0;
    state.ResumeTiming();
    const double c0 = ProcessCpuSeconds();
    peak = Run(player.get(), clock, audio, kSeconds * 1000, 1000, owed, step, [](double, double) {});
    cpu += ProcessCpuSeconds() - c0;
    music += kSeconds;
    state.PauseTiming();
    Finish(player, clock, audio);
    state.ResumeTiming();
  }
  // A figure of silence would flatter the decoder: no figure then.
  if (peak == 0) state.SkipWithError("the music did not sound");
  state.counters["cpu_ms_per_music_s"] = 1000 * cpu / music;
  state.counters["core_pct"] = 100 * cpu / music;
  state.counters["peak"] = peak;
}
BENCHMARK(BM_MusicCpuTwoCrossFadingMp3)->Unit(benchmark::kMillisecond)->Iterations(2);

// Arg: the sound card's pace against the system clock, per mille.
static void BM_ShowClockAgainstAudioClock(benchmark::State& state) {
  constexpr int kSeconds = 600;
  const TMedia& media = Media(kSeconds);
  if (!media.error.empty()) {
    state.SkipWithError(media.error.c_str());
    return;
  }
  const int pace = int(state.range(0));
  double worst = 0, firstMinute = 0, lastMinute = 0;
  int peak = 0;
  for (auto _ : state) {
    TMusicModules modules;
    plat::TManualClock clock(1000);
    plat::TManualAudio audio;
    TRef<oru::TOruMusicPlayer> player = MakePlayer(media, kSeconds);
    player->SetVolume(1.0f);
    player->SetRunRequested(true);
    std::uint64_t owed = 0;
    std::int64_t step = 0;
    // The show clock starts when the clock has met the play cursor: the
    // distance is measured from the sound mixed at that moment on.
    double origin = -1;
    double sumFirst = 0, sumLast = 0;
    std::int64_t nFirst = 0, nLast = 0;
    worst = 0;
    peak = Run(player.get(), clock, audio, kSeconds * 1000, pace, owed, step, [&](double show, double mixed) {
      if (origin < 0) {
        if (show <= 0) return;
        origin = mixed - show;
      }
      const double d = show - (mixed - origin);
      // The first second settles the clock onto the cursor.
      if (show < 1000) return;
      worst = std::max(worst, std::abs(d));
      if (show < 61000) sumFirst += d, ++nFirst;
      if (show > (kSeconds - 60) * 1000.0) sumLast += d, ++nLast;
    });
    firstMinute = nFirst ? sumFirst / double(nFirst) : 0;
    lastMinute = nLast ? sumLast / double(nLast) : 0;
    Finish(player, clock, audio);
  }
  state.counters["max_distance_ms"] = worst;
  state.counters["mean_first_minute_ms"] = firstMinute;
  state.counters["mean_last_minute_ms"] = lastMinute;
  state.counters["peak"] = peak;
}
BENCHMARK(BM_ShowClockAgainstAudioClock)->Arg(1000)->Arg(1001)->Arg(999)->Unit(benchmark::kMillisecond)->Iterations(1);
