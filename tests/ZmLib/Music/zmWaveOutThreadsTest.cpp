// The output buffers' notification threads and the clock's feeder thread for
// real, on the silent real-time sound sink, with other threads reading and
// the objects disposed of while they play.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Platform/PlatSystem.h"
#include "ZmLib/Music/zmDirectSound.h"
#include "ZmLib/Music/zmTimerChannel.h"
#include "ZmLib/zmHookScope.h"
#include "tests/support/EnvGuard.h"

namespace zm_waveout_threads_test {

using namespace zm;

const TWaveFormatEx kStd{1, 2, 44100, 176400, 4, 16, 0};

// Counts the callbacks and lets the test wait for them.
struct TCalls {
  std::mutex m;
  std::condition_variable cv;
  int firstFills = 0, fills = 0, fades = 0;
  std::thread::id firstFillThread;

  void Attach(TWaveOutBuffer* b) {
    b->OnFirstFill = {&TCalls::FirstFill, this};
    b->OnFill = {&TCalls::Fill, this};
    b->OnFade = {&TCalls::Fade, this};
  }
  void Bump(int& n) {
    {
      std::lock_guard<std::mutex> g(m);
      ++n;
    }
    cv.notify_all();
  }
  bool WaitFor(int& n, int count) {
    std::unique_lock<std::mutex> l(m);
    return cv.wait_for(l, std::chrono::seconds(20), [&] { return n >= count; });
  }
  static void FirstFill(void* d, std::uint8_t* p, std::uint32_t n) {
    std::memset(p, 0, n);
    {
      std::lock_guard<std::mutex> g(static_cast<TCalls*>(d)->m);
      static_cast<TCalls*>(d)->firstFillThread = std::this_thread::get_id();
    }
    static_cast<TCalls*>(d)->Bump(static_cast<TCalls*>(d)->firstFills);
  }
  static void Fill(void* d, std::uint8_t* p, std::uint32_t n) {
    std::memset(p, 0, n);
    static_cast<TCalls*>(d)->Bump(static_cast<TCalls*>(d)->fills);
  }
  static void Fade(void* d, std::uint8_t* p, std::uint32_t n) {
    std::memset(p, 0, n);
    static_cast<TCalls*>(d)->Bump(static_cast<TCalls*>(d)->fades);
  }
};

class WaveOutThreads : public ::testing::Test {
protected:
  void SetUp() override {
    env_.Set("ZM_AUDIO", "null");
    InitDirectSound();
    device_ = CreateWaveOutDeviceHook();
  }
  void TearDown() override {
    device_ = nullptr;
    waveOut_.Restore();
    create8_.Restore();
  }

  TRef<TWaveOutDevice> device_;
  zmtest::TEnvGuard env_;
  zm::THookScope<TCreateWaveOutDeviceProc> waveOut_{CreateWaveOutDeviceHook};
  zm::THookScope<TDirectSoundCreateProc> create8_{DirectSoundCreate8Proc};
};

TEST_F(WaveOutThreads, RefillsAndFadeRunOnTheNotificationThreadWhileOthersRead) {
  ASSERT_TRUE(device_->IsReady());
  TRef<TWaveOutBuffer> b = device_->CreateBuffer(kStd);
  TCalls calls;
  calls.Attach(b.get());
  std::atomic<bool> done{false};
  std::thread reader([&] {
    while (!done) {
      b->PlayedTime();
      b->QueuedBytes();
      b->SetVolume(b->GetVolume() > 0.5f ? 0.25f : 1.0f);
    }
  });
  b->Play();
  // The ring sounds from the call on: its first fill is made in it, not on
  // the thread, which a busy machine may start late.
  {
    std::lock_guard<std::mutex> g(calls.m);
    EXPECT_EQ(calls.firstFills, 1);
    EXPECT_EQ(calls.firstFillThread, std::this_thread::get_id());
  }
  b->Play();  // once only
  EXPECT_TRUE(calls.WaitFor(calls.fills, 3));
  b->Stop();
  EXPECT_TRUE(calls.WaitFor(calls.fades, 1));
  done = true;
  reader.join();
  EXPECT_EQ(calls.firstFills, 1);
  EXPECT_GT(b->PlayedTime(), 0u);
  b = nullptr;  // disposed while its thread ticks
}

TEST_F(WaveOutThreads, DisposedAtOnceWhileStartingUp) {
  ASSERT_TRUE(device_->IsReady());
  for (int round = 0; round < 5; ++round) {
    std::vector<TRef<TWaveOutBuffer>> buffers;
    std::vector<TCalls> calls(4);
    for (TCalls& c : calls) {
      buffers.push_back(device_->CreateBuffer(kStd));
      c.Attach(buffers.back().get());
      buffers.back()->Play();
    }
    TRef<TTimerChannel> clock = device_->CreateChannel();
    clock->Start();
    buffers[0]->Stop();
    buffers.clear();
    clock = nullptr;
  }
}

TEST_F(WaveOutThreads, FeederKeepsTheClockMovingUntilStopped) {
  ASSERT_TRUE(device_->IsReady());
  TRef<TTimerChannel> clock = device_->CreateChannel();
  clock->Start();
  std::atomic<bool> done{false};
  std::thread reader([&] {
    while (!done) {
      clock->GetTime();
      clock->IsPlaying();
    }
  });
  // The clock is time itself: look at it until it has run 50 ms.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (clock->GetTime() < 50 && std::chrono::steady_clock::now() < deadline) plat::SleepMs(2);
  EXPECT_GE(clock->GetTime(), 50u);
  clock->Stop();
  const std::uint32_t stopped = clock->GetTime();
  plat::SleepMs(20);
  EXPECT_EQ(clock->GetTime(), stopped);
  clock->Start();
  done = true;
  reader.join();
  clock = nullptr;  // disposed while its feeder runs
}

// A tick that never returns by itself: the end is reported after its wait
// and then waited for, never torn down under the running callback.
struct TStuckTick {
  static inline std::mutex m;
  static inline std::condition_variable cv;
  static inline bool entered = false, released = false;
  static inline std::string reported;
  static void Tick(void*) {
    std::unique_lock<std::mutex> l(m);
    entered = true;
    cv.notify_all();
    cv.wait(l, [] { return released; });
  }
  static void Notify(const std::string& message, const std::string&, int) {
    std::lock_guard<std::mutex> g(m);
    reported = message;
    released = true;
    cv.notify_all();
  }
};

TEST(DSEventThread, ThreadThatDoesNotEndInTimeIsReportedThenWaitedFor) {
  {
    std::lock_guard<std::mutex> g(TStuckTick::m);
    TStuckTick::entered = TStuckTick::released = false;
    TStuckTick::reported.clear();
  }
  zm::THookScope assertNotify(AssertNotifyProc, &TStuckTick::Notify);
  TRef<TDSEventThread> t = MakeRef<TDSEventThread>(1);
  t->OnTick = {&TStuckTick::Tick, nullptr};
  ASSERT_TRUE(t->Resume());
  {
    std::unique_lock<std::mutex> l(TStuckTick::m);
    TStuckTick::cv.wait(l, [] { return TStuckTick::entered; });
  }
  EXPECT_FALSE(t->Finish());
  assertNotify.Restore();
  EXPECT_EQ(TStuckTick::reported, "TDSEventThread did not end in time");
  EXPECT_FALSE(t->Running());
}

}  // namespace zm_waveout_threads_test
