// The music player and its channels under a manual clock on the hand-mixed
// sound layer: play, stop and seek replacing music channels, volumes, the
// clock, and files that cannot be played.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

#include "Platform/PlatSystem.h"
#include "Platform/Sound/PlatDSound.h"
#include "ZmLib/Music/zmDirectSound.h"
#include "ZmLib/Music/zmMusicChannel.h"
#include "ZmLib/Music/zmMusicPlayer.h"
#include "ZmLib/zmHookScope.h"
#include "tests/ZmLib/Music/MusicMediaKit.h"
#include "tests/ZmLib/Music/MusicPlayerKit.h"

namespace zm_music_player_test {

using namespace zm;
using namespace zmtest;


class MusicPlayer : public TManualPlayerTest {
protected:
  void SetUp() override {
    TManualPlayerTest::SetUp();
    Player();
    TWavLayout w;
    WriteWav(dir_, "tone.wav", w, EncodeSamples(Sine(44100 * 5, 2, 44100, 441.0, 0.5), 16));
  }
};

TEST_F(MusicPlayer, PlayTwiceDoesNotRestartAndStopThenPlayGoesOnFromThePositionReached) {
  TRef<TChannelMusic> c = Open("tone.wav");
  ASSERT_TRUE(c);
  EXPECT_EQ(c->GetLength(), 5000u);
  EXPECT_EQ(player_->ChannelCount(), 1u);
  EXPECT_FALSE(c->IsPlaying());
  ASSERT_TRUE(c->Play(10));
  TRef<TMusicChannel> first = c->Current();
  for (int i = 0; i < 10; ++i) Run(100);
  EXPECT_FALSE(c->Play(10));
  EXPECT_EQ(c->Current(), first);
  EXPECT_EQ(Device()->Made, 1);
  const std::uint32_t reached = c->GetPosition();
  EXPECT_NEAR(double(reached), 1000.0, 30.0);

  ASSERT_TRUE(c->Stop(10));
  EXPECT_FALSE(c->IsPlaying());
  // The old channel plays its faded tail out; the position stays where Stop left it.
  Run(500);
  EXPECT_EQ(c->GetPosition(), reached);
  for (int i = 0; i < 25; ++i) Run(100);
  ASSERT_TRUE(WaitUntil([&] { return c->MusicChannelCount() == 0; }));
  EXPECT_EQ(c->GetPosition(), reached);

  ASSERT_TRUE(c->Play(10));
  TRef<TMusicChannel> second = c->Current();
  ASSERT_TRUE(second);
  EXPECT_NE(second, first);
  EXPECT_EQ(c->GetPosition(), reached);
  // The new ring starts with the sound from there on: the tone's phase at
  // `reached` (441 Hz: a period of 100 frames).
  const std::vector<std::uint8_t>& w = Device()->Live.back()->Written;
  const std::size_t startFrame = std::size_t(reached) * 441 / 10;
  std::int16_t s;
  std::memcpy(&s, w.data() + 4 * 1000, 2);
  const double expected = 0.5 * std::sin(2 * std::numbers::pi * 441.0 * double(startFrame + 1000) / 44100.0) * 32768.0;
  EXPECT_NEAR(s, expected, 40.0);
  Drain(c.get());
}

TEST_F(MusicPlayer, SeekWhilePlayingFadesTheOldChannelOutAndTheNewOneInOverTenMs) {
  TRef<TChannelMusic> c = Open("tone.wav", 2000);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->GetPosition(), 2000u);
  ASSERT_TRUE(c->Play(200));
  Run(100);
  Run(100);
  c->SetPosition(3000);
  EXPECT_TRUE(c->IsPlaying());
  EXPECT_EQ(c->MusicChannelCount(), 2u);
  ASSERT_EQ(Device()->Live.size(), 2u);
  TManualBuffer* oldRing = Device()->Live[0];
  TManualBuffer* newRing = Device()->Live[1];
  // The new channel fades in over 441 frames.
  auto peak = [](const std::vector<std::uint8_t>& b, std::size_t from, std::size_t n) {
    int m = 0;
    for (std::size_t k = from; k < from + n && 4 * k + 2 <= b.size(); ++k) {
      std::int16_t s;
      std::memcpy(&s, b.data() + 4 * k, 2);
      m = std::max(m, std::abs(int(s)));
    }
    return m;
  };
  EXPECT_LT(peak(newRing->Written, 0, 100), 16384 * 100 / 441 + 200);
  EXPECT_GT(peak(newRing->Written, 441, 100), 16000);
  // The old one fades what it had queued out over 441 frames, then silence.
  Run(100);
  ASSERT_FALSE(oldRing->Fades.empty());
  const std::vector<std::uint8_t>& f = oldRing->Fades[0];
  EXPECT_GT(peak(f, 0, 100), 8000);
  EXPECT_EQ(peak(f, 442, f.size() / 4 - 442), 0);
  EXPECT_NEAR(double(c->GetPosition()), 3100.0, 20.0);

  // Seeking a stopped channel makes a fresh idle one; seeking an idle one reuses it.
  ASSERT_TRUE(c->Stop(10));
  c->SetPosition(4000);
  TRef<TMusicChannel> idle = c->Current();
  EXPECT_EQ(idle->State(), TMusicChannel::kIdle);
  c->SetPosition(500);
  EXPECT_EQ(c->Current(), idle);
  EXPECT_EQ(c->GetPosition(), 500u);
  for (int i = 0; i < 25; ++i) Run(100);
  ASSERT_TRUE(WaitUntil([&] { return c->MusicChannelCount() == 1; }));
  // Idle channels are disposed of at once with their channel.
  c = nullptr;
  EXPECT_EQ(player_->ChannelCount(), 0u);
}

// An idle channel moved on a little (it starts late) drops the front of what
// it decoded ahead; moved back, it decodes again. Either way its ring starts
// with the sound of the new position.
TEST_F(MusicPlayer, AnIdleChannelMovedOnOrBackStartsWithTheSoundOfItsNewPosition) {
  for (const std::uint32_t to : {2137u, 1500u, 4000u}) {
    TRef<TChannelMusic> c = Open("tone.wav", 2000);
    ASSERT_TRUE(c);
    c->SetPosition(to);
    EXPECT_EQ(c->GetPosition(), to);
    ASSERT_TRUE(c->Play(10));
    const std::vector<std::uint8_t>& w = Device()->Live.back()->Written;
    ASSERT_GE(w.size(), 4u * 66100);
    const std::size_t startFrame = std::size_t(to) * 441 / 10;
    // The last frames come after what was decoded ahead: no gap between.
    for (const std::size_t k : {std::size_t(1000), std::size_t(66000)}) {
      std::int16_t s;
      std::memcpy(&s, w.data() + 4 * k, 2);
      const double expected = 0.5 * std::sin(2 * std::numbers::pi * 441.0 * double(startFrame + k) / 44100.0) * 32768.0;
      EXPECT_NEAR(s, expected, 40.0) << to << " " << k;
    }
    Drain(c.get());
  }
}

TEST_F(MusicPlayer, VolumesMultiplyIntoTheRingAndTheClockStartsOnFirstUse) {
  player_->SetVolume(0.5f);
  TRef<TChannelMusic> c = Open("tone.wav");
  ASSERT_TRUE(c);
  EXPECT_EQ(c->GetMasterVolume(), 0.5f);
  c->SetVolume(0.5f);
  EXPECT_FLOAT_EQ(Device()->Live.back()->GetVolume(), 0.25f);
  player_->SetVolume(1.0f);
  EXPECT_FLOAT_EQ(Device()->Live.back()->GetVolume(), 0.5f);
  EXPECT_EQ(c->GetVolume(), 0.5f);

  EXPECT_EQ(player_->GetTime(), 0.0);
  ASSERT_TRUE(player_->Clock());
  EXPECT_TRUE(player_->Clock()->IsPlaying());
}

TEST_F(MusicPlayer, FilesThatCannotBePlayedGiveNoChannel) {
  dir_.Write("garbage.wav", std::string(5000, '\x5A'));
  dir_.Write("empty.mp3", "");
  dir_.Write("noise.mp3", std::string(3000, '\x01'));
  TWavLayout zero;
  zero.Channels = 0;
  WriteWav(dir_, "zero_channels.wav", zero, std::string(4000, '\0'));
  TWavLayout huge;
  huge.Channels = 200;
  WriteWav(dir_, "huge_channels.wav", huge, std::string(4000, '\0'));
  TWavLayout rate0;
  rate0.Rate = 0;
  WriteWav(dir_, "rate0.wav", rate0, std::string(4000, '\0'));
  TWavLayout tag;
  tag.Tag = 0x1234;
  WriteWav(dir_, "unknown_tag.wav", tag, std::string(4000, '\0'));
  for (const char* name : {"missing.wav", "garbage.wav", "empty.mp3", "noise.mp3", "zero_channels.wav",
                           "huge_channels.wav", "rate0.wav", "unknown_tag.wav", ""}) {
    EXPECT_FALSE(Open(name)) << name;
  }
  // A composite-track text while no soundtrack is set up is a missing file.
  EXPECT_FALSE(player_->CreateChannel(u"9213AB40-17BB-458F-9C4C-1806F44BEB65\r\n[x]", kNoStartPosition));
  EXPECT_EQ(player_->ChannelCount(), 0u);

  // A file that goes away after its channel was made: the first music
  // channel still plays it; a later one cannot, and Play says so.
  TWavLayout w;
  WriteWav(dir_, "gone.wav", w, EncodeSamples(Sine(44100, 2, 44100, 441.0, 0.5), 16));
  TRef<TChannelMusic> c = Open("gone.wav");
  ASSERT_TRUE(c);
  ASSERT_TRUE(c->Play(10));
  Run(100);
  std::filesystem::remove(dir_.Path() / "gone.wav");
  ASSERT_TRUE(c->Stop(10));
  EXPECT_FALSE(c->Play(10));
  c->SetPosition(100);  // no channel to seek: remembered only
  EXPECT_EQ(c->GetPosition(), 100u);
  Drain(c.get());
}

TEST_F(MusicPlayer, NoDeviceMeansNotReadyAndNoChannels) {
  waveOut_.Set(nullptr);
  TRef<TMusicPlayer> p = CreateMusicPlayer();
  ASSERT_TRUE(p);
  EXPECT_FALSE(p->IsReady());
  EXPECT_FALSE(p->CreateChannel(dir_.Wide("tone.wav"), 0));
  EXPECT_EQ(p->GetTime(), 0.0);
  // The factory hook is the module's.
  EXPECT_EQ(CreateMusicPlayerHook, &CreateMusicPlayer);
}

// A composite track as the soundtrack hooks present it: no file behind it,
// half a second of a constant level from its own converter.
struct TFakeComposite {
  static inline TMusicPlayer* seenPlayer = nullptr;
  static bool IsComposite(const WideString& name) { return name.rfind(u"COMPOSITE:", 0) == 0; }
  static bool Info(const WideString& name, TMediaInfo& info) {
    if (name != u"COMPOSITE:ok") return false;
    info = TMediaInfo{};
    info.Kind = kMediaComposite;
    info.Duration = 500;
    info.Format = StandardOutputFormat();
    return true;
  }
  class TConverter : public TWavConverter {
  public:
    void Seek(std::int64_t ms) override {
      Output().Consume(Output().Length());
      left_ = std::max<std::int64_t>(0, 88200 - ms * 441 / 10 * 4);
    }
    bool Fill(std::int32_t bytes) override {
      TLocalBuffer& o = Output();
      const bool had = o.Length() > 0;
      if (o.Length() >= bytes) return true;
      const std::int32_t want = bytes - o.Length();
      o.EnsureFree(want);
      const auto n = std::int32_t(std::min<std::int64_t>(want, left_));
      std::uint8_t* p = o.WritePointer();
      for (std::int32_t i = 0; i + 1 < n; i += 2) {
        const std::int16_t v = 8000;
        std::memcpy(p + i, &v, 2);
      }
      std::memset(p + n, 0, std::size_t(want - n));
      o.AddLength(want);
      left_ -= n;
      return n > 0 || had;
    }

  private:
    std::int64_t left_ = 88200;
  };
  static TRef<TWavConverter> Create(TMusicPlayer* player, const WideString&) {
    seenPlayer = player;
    return MakeRef<TConverter>();
  }
};

TEST_F(MusicPlayer, CompositeTrackPlaysThroughTheSoundtrackHooksWithoutAFile) {
  zm::THookScope isComposite(IsCompositeTrackHook, &TFakeComposite::IsComposite);
  zm::THookScope compositeInfo(CompositeTrackInfoHook, &TFakeComposite::Info);
  zm::THookScope compositeConverter(CreateCompositeConverterHook, &TFakeComposite::Create);
  {
    EXPECT_FALSE(player_->CreateChannel(u"COMPOSITE:unreadable", kNoStartPosition));
    TEndCounter ends;
    TRef<TChannelMusic> c = RefCast<TChannelMusic>(player_->CreateChannel(u"COMPOSITE:ok", kNoStartPosition));
    ASSERT_TRUE(c);
    EXPECT_EQ(TFakeComposite::seenPlayer, player_.get());
    EXPECT_EQ(c->GetLength(), 500u);
    ends.Attach(c.get());
    ASSERT_TRUE(c->Play(0));
    const std::vector<std::uint8_t>& w = Device()->Live.back()->Written;
    std::int16_t s;
    std::memcpy(&s, w.data() + 4 * 1000, 2);
    EXPECT_EQ(s, 8000);
    std::memcpy(&s, w.data() + 4 * 30000, 2);
    EXPECT_EQ(s, 0);
    for (int i = 0; i < 20; ++i) Run(100);
    EXPECT_TRUE(ends.WaitFor(1));
  }
}

}  // namespace zm_music_player_test
