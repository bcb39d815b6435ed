#pragma once
// Drives the music player's output by hand: a device whose rings refill only
// when the test says so (under a manual clock and the hand-mixed sound
// layer), and that records what each ring was given. Header only, for the
// ThreadSanitizer binary too.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Platform/PlatSystem.h"
#include "Platform/Sound/PlatDSound.h"
#include "ZmLib/Music/zmDirectSound.h"
#include "ZmLib/Music/zmMusicChannel.h"
#include "ZmLib/Music/zmMusicPlayer.h"
#include "ZmLib/Music/zmTimerChannel.h"
#include "ZmLib/zmHookScope.h"
#include "tests/ZmLib/Music/MusicMediaKit.h"

namespace zmtest {

class TManualDevice;

// One ring: the real ring with its ticks left to the test, and a record of
// the bytes handed to it in order (first fill, then the fills) and of each
// region faded in place (as the fade left it).
class TManualBuffer : public zm::TWaveOutBuffer {
public:
  TManualBuffer(TManualDevice* device, zm::TRef<zm::TwinWaveOutBuffer> inner, const zm::TWaveFormatEx& format);
  void Dispose() override;

  float GetVolume() override { return inner_->GetVolume(); }
  void SetVolume(float gain) override { inner_->SetVolume(gain); }
  void Play() override { inner_->Play(); }
  void Stop() override { inner_->Stop(); }
  std::uint32_t PrebufferSize() override { return inner_->PrebufferSize(); }
  std::uint32_t QueuedBytes() override { return inner_->QueuedBytes(); }
  std::uint32_t PlayedTime() override { return inner_->PlayedTime(); }
  std::int64_t RegionStream() override { return inner_->RegionStream(); }
  std::int64_t PlayedStream() override { return inner_->PlayedStream(); }
  bool FadePlaced() override { return inner_->FadePlaced(); }
  bool FadeOut(std::uint32_t frames) override { return inner_->FadeOut(frames); }
  std::int64_t FadedStream() override { return inner_->FadedStream(); }
  std::int64_t ReadStream() override { return inner_->ReadStream(); }

  zm::TwinWaveOutBuffer* Inner() const { return inner_.get(); }
  const zm::TWaveFormatEx Format;
  std::vector<std::uint8_t> Written;
  std::vector<std::vector<std::uint8_t>> Fades;
  // Called at the start of each fill (not the first), before the channel
  // fills the region: what another thread may do while a fill is under way.
  std::function<void()> BeforeFill;

private:
  static void FirstFillFwd(void* d, std::uint8_t* p, std::uint32_t n) {
    auto* b = static_cast<TManualBuffer*>(d);
    b->OnFirstFill(p, n);
    b->Written.insert(b->Written.end(), p, p + n);
  }
  static void FillFwd(void* d, std::uint8_t* p, std::uint32_t n) {
    auto* b = static_cast<TManualBuffer*>(d);
    if (b->BeforeFill) b->BeforeFill();
    b->OnFill(p, n);
    b->Written.insert(b->Written.end(), p, p + n);
  }
  static void FadeFwd(void* d, std::uint8_t* p, std::uint32_t n) {
    auto* b = static_cast<TManualBuffer*>(d);
    b->OnFade(p, n);
    b->Fades.emplace_back(p, p + n);
  }

  TManualDevice* device_;
  zm::TRef<zm::TwinWaveOutBuffer> inner_;
};

// The audio clock as the device makes it, with a hook run once right after a
// reading of the output's place: what a busy machine does between two reads.
class TManualTimer : public zm::TTimerChannel {
public:
  explicit TManualTimer(zm::TRef<zm::TTimerChannel> inner) : inner_(std::move(inner)) {}
  void Dispose() override {
    inner_ = nullptr;
    zm::TTimerChannel::Dispose();
  }
  std::uint32_t GetTime() override { return inner_->GetTime(); }
  double SoundingTime() override {
    const double t = inner_->SoundingTime();
    std::function<void()> once;
    {
      std::lock_guard<std::mutex> g(m_);
      once.swap(AfterSoundingOnce);
    }
    if (once) once();
    return t;
  }
  void SetTime(std::uint32_t ms) override { inner_->SetTime(ms); }
  bool IsPlaying() override { return inner_->IsPlaying(); }
  void Start() override { inner_->Start(); }
  void Stop() override { inner_->Stop(); }
  void SetAfterSoundingOnce(std::function<void()> f) {
    std::lock_guard<std::mutex> g(m_);
    AfterSoundingOnce = std::move(f);
  }

private:
  std::mutex m_;
  std::function<void()> AfterSoundingOnce;
  zm::TRef<zm::TTimerChannel> inner_;
};

class TManualDevice : public zm::TWaveOutDevice {
public:
  explicit TManualDevice(zm::TRef<zm::TWaveOutDevice> inner) : inner_(std::move(inner)) {}
  void Dispose() override {
    inner_ = nullptr;
    zm::TWaveOutDevice::Dispose();
  }
  bool IsReady() override { return inner_ && inner_->IsReady(); }
  zm::TRef<zm::TWaveOutBuffer> CreateBuffer(const zm::TWaveFormatEx& format) override {
    zm::TRef<zm::TwinWaveOutBuffer> b = zm::RefCast<zm::TwinWaveOutBuffer>(inner_->CreateBuffer(format));
    if (!b) return nullptr;
    b->ManualTicks = true;
    auto w = zm::MakeRef<TManualBuffer>(this, b, format);
    std::lock_guard<std::mutex> g(M);
    Live.push_back(w.get());
    ++Made;
    return w;
  }
  zm::TRef<zm::TTimerChannel> CreateChannel() override {
    zm::TRef<zm::TwinTimerChannel> c = zm::RefCast<zm::TwinTimerChannel>(inner_->CreateChannel());
    if (!c) return nullptr;
    c->ManualSteps = true;
    auto t = zm::MakeRef<TManualTimer>(c);
    Timer = t.get();
    return t;
  }
  // Runs one refill of every live ring, oldest first.
  void RefillAll() {
    std::lock_guard<std::mutex> g(M);
    for (TManualBuffer* b : Live) b->Inner()->Refill();
  }
  std::size_t LiveCount() {
    std::lock_guard<std::mutex> g(M);
    return Live.size();
  }

  std::mutex M;
  std::vector<TManualBuffer*> Live;  // not owned: a ring leaves on its Dispose
  int Made = 0;
  TManualTimer* Timer = nullptr;  // the last clock made; not owned

private:
  zm::TRef<zm::TWaveOutDevice> inner_;
};

inline TManualBuffer::TManualBuffer(TManualDevice* device, zm::TRef<zm::TwinWaveOutBuffer> inner,
                                    const zm::TWaveFormatEx& format)
    : Format(format), device_(device), inner_(std::move(inner)) {
  inner_->OnFirstFill = {&FirstFillFwd, this};
  inner_->OnFill = {&FillFwd, this};
  inner_->OnFade = {&FadeFwd, this};
}

inline void TManualBuffer::Dispose() {
  {
    std::lock_guard<std::mutex> g(device_->M);
    auto& l = device_->Live;
    l.erase(std::remove(l.begin(), l.end(), this), l.end());
  }
  inner_ = nullptr;
  zm::TWaveOutBuffer::Dispose();
}

// A ring that never plays: no sound buffer could be made for it.
class TDeadBuffer : public zm::TWaveOutBuffer {
public:
  float GetVolume() override { return 1.0f; }
  void SetVolume(float) override {}
  void Play() override {}
  void Stop() override {}
  std::uint32_t PrebufferSize() override { return 4096; }
  std::uint32_t QueuedBytes() override { return 0; }
  std::uint32_t PlayedTime() override { return 0; }
};
class TDeadDevice : public zm::TWaveOutDevice {
public:
  bool IsReady() override { return true; }
  zm::TRef<zm::TWaveOutBuffer> CreateBuffer(const zm::TWaveFormatEx&) override {
    return zm::MakeRef<TDeadBuffer>();
  }
  zm::TRef<zm::TTimerChannel> CreateChannel() override { return nullptr; }
};

// Counts a channel's OnEnd calls and lets the test wait for them.
struct TEndCounter {
  std::mutex m;
  std::condition_variable cv;
  int ends = 0;
  zm::TChannel* last = nullptr;

  void Attach(zm::TChannel* c) { c->OnEnd = {&TEndCounter::Proc, this}; }
  static void Proc(void* d, zm::TChannel* c) {
    auto* t = static_cast<TEndCounter*>(d);
    // Notified under the lock: a waiter that returns may destroy the counter.
    std::lock_guard<std::mutex> g(t->m);
    ++t->ends;
    t->last = c;
    t->cv.notify_all();
  }
  bool WaitFor(int count) {
    std::unique_lock<std::mutex> l(m);
    return cv.wait_for(l, std::chrono::seconds(20), [&] { return ends >= count; });
  }
  int Ends() {
    std::lock_guard<std::mutex> g(m);
    return ends;
  }
};

// Waits (bounded, on the wall clock only as a safety net) until pred holds;
// the killer thread polls on its own.
template <class P>
bool WaitUntil(P pred) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::yield();
  }
  return true;
}

inline zm::TRef<zm::TWaveOutDevice> ManualDeviceProc() {
  return zm::MakeRef<TManualDevice>(zm::CreateWinWaveOutDevice());
}

// A music player over hand-refilled rings: Run moves the clock, the sound
// card and the refills together.
class TManualPlayerTest : public ::testing::Test {
protected:
  void SetUp() override {
    zm::InitDirectSound();
    waveOut_.Set(&ManualDeviceProc);
  }
  void TearDown() override {
    player_ = nullptr;
    EXPECT_TRUE(WaitUntil([] { return zm::ChannelKiller()->Count() == 0; }));
    waveOut_.Restore();
    create8_.Restore();
  }
  zm::TMusicPlayerClass* Player() {
    if (!player_) player_ = zm::RefCast<zm::TMusicPlayerClass>(zm::CreateMusicPlayer());
    return player_.get();
  }
  TManualDevice* Device() { return dynamic_cast<TManualDevice*>(Player()->Device()); }
  zm::TRef<zm::TChannelMusic> Open(const std::string& name, std::uint32_t start = zm::kNoStartPosition) {
    return zm::RefCast<zm::TChannelMusic>(Player()->CreateChannel(dir_.Wide(name), start));
  }
  void Run(std::uint32_t ms) {
    clock_.Advance(ms);
    audio_.Advance(ms * 441 / 10);
    if (TManualDevice* d = Device()) d->RefillAll();
  }
  // Stops the channel and plays its tail out until the killer has it.
  void Drain(zm::TChannelMusic* c) {
    c->Stop(10);
    for (int i = 0; i < 25; ++i) Run(100);
    EXPECT_TRUE(WaitUntil([c] { return c->MusicChannelCount() == 0; }));
  }

  plat::TManualClock clock_{5000};
  plat::TManualAudio audio_;
  TMediaDir dir_;
  zm::TRef<zm::TMusicPlayerClass> player_;
  zm::THookScope<zm::TCreateWaveOutDeviceProc> waveOut_{zm::CreateWaveOutDeviceHook};
  zm::THookScope<zm::TDirectSoundCreateProc> create8_{zm::DirectSoundCreate8Proc};
};

}  // namespace zmtest
