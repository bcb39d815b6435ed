// The music player on the silent real-time sound sink: channels played,
// stopped and sought from several threads while the rings' threads fill and
// the channel killer disposes of what has played out.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ZmLib/Music/zmConverterFactory.h"
#include "ZmLib/Music/zmDirectSound.h"
#include "ZmLib/Music/zmMusicChannel.h"
#include "ZmLib/Music/zmMusicPlayer.h"
#include "ZmLib/Music/zmWavConverter.h"
#include "ZmLib/zmHookScope.h"
#include "tests/ZmLib/Music/MusicMediaKit.h"
#include "tests/ZmLib/Music/MusicPlayerKit.h"
#include "tests/support/EnvGuard.h"

namespace zm_music_player_threads_test {

using namespace zm;
using namespace zmtest;

class MusicPlayerThreads : public ::testing::Test {
protected:
  void SetUp() override {
    env_.Set("ZM_AUDIO", "null");
    InitDirectSound();
    // This binary starts no audio modules of its own.
    InitConverterFactory();
    player_ = CreateMusicPlayer();
    TWavLayout w;
    WriteWav(dir_, "tone.wav", w, EncodeSamples(Sine(44100, 2, 44100, 441.0, 0.5), 16));
    WriteWav(dir_, "blip.wav", w, EncodeSamples(Sine(4410, 2, 44100, 441.0, 0.5), 16));
  }
  void TearDown() override {
    player_ = nullptr;
    EXPECT_TRUE(WaitUntil([] { return ChannelKiller()->Count() == 0; }));
    // The killer is a worker thread: later tests of this binary count workers.
    FiniMusicChannel();
    waveOut_.Restore();
    create8_.Restore();
    converter_.Restore();
  }

  TMediaDir dir_;
  TRef<TMusicPlayer> player_;
  zmtest::TEnvGuard env_;
  zm::THookScope<TCreateWaveOutDeviceProc> waveOut_{CreateWaveOutDeviceHook};
  zm::THookScope<TDirectSoundCreateProc> create8_{DirectSoundCreate8Proc};
  zm::THookScope<TCreateConverterProc> converter_{CreateConverterHook};
};

TEST_F(MusicPlayerThreads, ChannelsDrivenFromSeveralThreadsWhileTheKillerDisposes) {
  ASSERT_TRUE(player_->IsReady());
  std::vector<TRef<TChannel>> channels;
  for (int i = 0; i < 3; ++i) {
    channels.push_back(player_->CreateChannel(dir_.Wide("tone.wav"), kNoStartPosition));
    ASSERT_TRUE(channels.back());
  }
  std::atomic<bool> done{false};
  std::thread volume([&] {
    while (!done) {
      player_->SetVolume(player_->GetVolume() > 0.5f ? 0.25f : 1.0f);
      player_->GetTime();
    }
  });
  std::vector<std::thread> users;
  for (int t = 0; t < 3; ++t) {
    users.emplace_back([&, t] {
      // Two threads share channel 0, as the player and loader threads do.
      TChannel* c = channels[std::size_t(t == 2 ? 0 : t)].get();
      for (int i = 0; i < 8; ++i) {
        c->Play(5);
        c->SetPosition(std::uint32_t(i * 97 % 900));
        c->GetPosition();
        c->SetVolume(i % 2 ? 0.5f : 1.0f);
        c->IsPlaying();
        c->Stop(5);
      }
      c->Play(5);
    });
  }
  for (std::thread& u : users) u.join();
  done = true;
  volume.join();
  // Disposing a playing channel waits for the killer to take its tails.
  channels.clear();
  EXPECT_EQ(RefCast<TMusicPlayerClass>(player_)->ChannelCount(), 0u);
}

TEST_F(MusicPlayerThreads, ShortTrackEndsOnItsOwnAndPlaysAgain) {
  TRef<TChannel> c = player_->CreateChannel(dir_.Wide("blip.wav"), kNoStartPosition);
  ASSERT_TRUE(c);
  TEndCounter ends;
  ends.Attach(c.get());
  ASSERT_TRUE(c->Play(10));
  ASSERT_TRUE(ends.WaitFor(1));
  EXPECT_TRUE(WaitUntil([&] { return !c->IsPlaying(); }));
  c->SetPosition(0);
  ASSERT_TRUE(c->Play(10));
  ASSERT_TRUE(ends.WaitFor(2));
  EXPECT_EQ(ends.Ends(), 2);
}

// A PCM converter whose seeks after the first (the one a start position
// asks for) wait until the test opens the gate.
struct TSeekGate {
  std::mutex m;
  std::condition_variable cv;
  bool reached = false, open = false;
};
TSeekGate gSeekGate;

class TGatedWavConverter : public TWavConverter {
public:
  void Seek(std::int64_t ms) override {
    if (seeks_++ > 0) {
      std::unique_lock<std::mutex> l(gSeekGate.m);
      gSeekGate.reached = true;
      gSeekGate.cv.notify_all();
      gSeekGate.cv.wait(l, [] { return gSeekGate.open; });
    }
    TWavConverter::Seek(ms);
  }

private:
  int seeks_ = 0;
};

TRef<TWavConverter> GatedConverterProc(const TMediaInfo&, const WideString&) {
  return MakeRef<TGatedWavConverter>();
}

// A channel decodes ahead to its start position outside the player's lock:
// the audio clock, which the show clock reads for every frame, answers
// meanwhile.
TEST_F(MusicPlayerThreads, TheClockAnswersWhileANewChannelDecodesAhead) {
  converter_.Set(&GatedConverterProc);
  TRef<TChannel> c;
  std::thread maker([&] { c = player_->CreateChannel(dir_.Wide("tone.wav"), 500); });
  {
    std::unique_lock<std::mutex> l(gSeekGate.m);
    ASSERT_TRUE(gSeekGate.cv.wait_for(l, std::chrono::seconds(20), [] { return gSeekGate.reached; }));
  }
  std::future<double> clock = std::async(std::launch::async, [&] { return player_->GetTime(); });
  EXPECT_EQ(clock.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  {
    std::lock_guard<std::mutex> l(gSeekGate.m);
    gSeekGate.open = true;
  }
  gSeekGate.cv.notify_all();
  maker.join();
  clock.wait();
  ASSERT_TRUE(c);
  EXPECT_EQ(c->GetPosition(), 500u);
}

}  // namespace zm_music_player_threads_test
