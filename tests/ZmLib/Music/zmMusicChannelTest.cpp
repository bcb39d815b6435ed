// Music channels under a manual clock on the hand-mixed sound layer: the
// fades as they reach the ring, the ring's format for wide and float sources,
// and when the channel killer disposes of a channel.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "Platform/PlatSystem.h"
#include "Platform/Sound/PlatDSound.h"
#include "ZmLib/Music/zmConverterFactory.h"
#include "ZmLib/Music/zmDirectSound.h"
#include "ZmLib/Music/zmMusicChannel.h"
#include "ZmLib/Music/zmMusicPlayer.h"
#include "ZmLib/zmHookScope.h"
#include "tests/ZmLib/Music/MusicMediaKit.h"
#include "tests/ZmLib/Music/MusicPlayerKit.h"

namespace zm_music_channel_test {

using namespace zm;
using namespace zmtest;

TRef<TWaveOutDevice> DeadDeviceProc() { return MakeRef<TDeadDevice>(); }

std::int16_t Sample16(const std::vector<std::uint8_t>& b, std::size_t frame, std::size_t frameBytes) {
  std::int16_t s;
  std::memcpy(&s, b.data() + frame * frameBytes, 2);
  return s;
}

class MusicChannel : public TManualPlayerTest {
protected:
  std::string Dc(const std::string& name, double level, double seconds, int channels = 2, std::uint32_t rate = 44100,
                 int bits = 16) {
    TWavLayout w;
    w.Channels = std::uint16_t(channels);
    w.Rate = rate;
    w.Bits = std::uint16_t(bits);
    const std::vector<double> v(std::size_t(seconds * rate) * std::size_t(channels), level);
    WriteWav(dir_, name, w, EncodeSamples(v, bits));
    return name;
  }
};

TEST_F(MusicChannel, FadesRampFrameByFrameAndLastAtLeastOneFrame) {
  Dc("dc16.wav", 0.5, 2.0);
  TRef<TChannelMusic> c = Open("dc16.wav");
  ASSERT_TRUE(c);
  ASSERT_TRUE(c->Play(10));
  ASSERT_EQ(Device()->Live.size(), 1u);
  TManualBuffer* ring = Device()->Live.back();
  // 10 ms at 44100 Hz: 441 frames from silence up to the full level.
  const std::vector<std::uint8_t>& w = ring->Written;
  ASSERT_GE(w.size(), 4u * 1000);
  EXPECT_EQ(Sample16(w, 0, 4), 0);
  for (std::size_t k = 0; k < 441; ++k) EXPECT_NEAR(Sample16(w, k, 4), 16384.0 * double(k) / 441.0, 2.0) << k;
  EXPECT_LT(Sample16(w, 440, 4), 16384);
  std::size_t off = 0;
  for (std::size_t k = 441; k < w.size() / 4; ++k) off += Sample16(w, k, 4) != 16384;
  EXPECT_EQ(off, 0u);

  // The stop fade works on what is already queued: full level down to
  // silence over 441 frames, and silence from then on.
  Run(100);
  ASSERT_TRUE(c->Stop(10));
  EXPECT_FALSE(c->Stop(10));
  Run(100);
  ASSERT_FALSE(ring->Fades.empty());
  const std::vector<std::uint8_t>& f = ring->Fades[0];
  ASSERT_GT(f.size(), 4u * 600);
  EXPECT_NEAR(Sample16(f, 0, 4), 16384, 1);
  for (std::size_t k = 0; k < 441; ++k) EXPECT_NEAR(Sample16(f, k, 4), 16384.0 * (1.0 - double(k) / 441.0), 40.0) << k;
  for (std::size_t k = 442; k < f.size() / 4; ++k) ASSERT_EQ(Sample16(f, k, 4), 0) << k;
  // Less than the 20 ms the killer waits past the fade: a longer run lets
  // it take the channel, and its ring, while the test still reads the ring.
  const std::size_t before = w.size();
  Run(10);
  ASSERT_GT(w.size(), before);
  for (std::size_t k = before / 4; k < w.size() / 4; ++k) ASSERT_EQ(Sample16(w, k, 4), 0) << k;
  Drain(c.get());

  // A fade of 0 ms still lasts one frame.
  TRef<TChannelMusic> d = Open("dc16.wav");
  ASSERT_TRUE(d && d->Play(0));
  TManualBuffer* ring2 = Device()->Live.back();
  EXPECT_EQ(Sample16(ring2->Written, 0, 4), 0);
  EXPECT_EQ(Sample16(ring2->Written, 1, 4), 16384);
  Drain(d.get());

  // 8-bit samples are scaled around 128: 220 frames at 22050 Hz.
  Dc("dc8.wav", 0.5, 1.0, 1, 22050, 8);
  TRef<TChannelMusic> e = Open("dc8.wav");
  ASSERT_TRUE(e && e->Play(10));
  const std::vector<std::uint8_t>& w8 = Device()->Live.back()->Written;
  EXPECT_EQ(Device()->Live.back()->Format.wBitsPerSample, 8);
  EXPECT_EQ(w8[0], 128);
  for (std::size_t k = 0; k < 220; ++k) EXPECT_NEAR(w8[k], 128.0 + 64.0 * double(k) / 220.0, 1.0) << k;
  for (std::size_t k = 220; k < 22050 / 2; ++k) ASSERT_EQ(w8[k], 192) << k;
  Drain(e.get());
}

TEST_F(MusicChannel, WideAndFloatSourcesPlayThroughA16BitRingAtTheConvertersRate) {
  struct TCase {
    const char* name;
    std::uint16_t tag, bits;
    std::uint32_t rate;
    bool asFloat;
  };
  for (const TCase& t : {TCase{"f32_48k.wav", 3, 32, 48000, true}, TCase{"s24_44k.wav", 1, 24, 44100, false},
                         TCase{"s32_22k.wav", 1, 32, 22050, false}}) {
    SCOPED_TRACE(t.name);
    TWavLayout layout;
    layout.Tag = t.tag;
    layout.Bits = t.bits;
    layout.Rate = t.rate;
    WriteWav(dir_, t.name, layout, EncodeSamples(Sine(t.rate * 2, 2, t.rate, 441.0, 0.5), t.bits, t.asFloat));
    TRef<TChannelMusic> c = Open(t.name);
    ASSERT_TRUE(c);
    TRef<TMusicChannel> m = c->Current();
    ASSERT_TRUE(m);
    const TWaveFormatEx ring = m->Format();
    EXPECT_EQ(ring.wFormatTag, 1);
    EXPECT_EQ(ring.wBitsPerSample, 16);
    // The ring runs at the rate the converter delivers: the tone keeps its pitch.
    const TWaveFormatEx out = m->Converter()->Output().Format;
    EXPECT_EQ(ring.nSamplesPerSec, out.nSamplesPerSec);
    EXPECT_EQ(ring.nChannels, out.nChannels);
    ASSERT_TRUE(c->Play(0));
    const std::vector<std::uint8_t>& w = Device()->Live.back()->Written;
    const std::size_t frames = std::min<std::size_t>(w.size() / 4, ring.nSamplesPerSec);  // one second
    int crossings = 0;
    for (std::size_t k = 1; k < frames; ++k)
      crossings += (Sample16(w, k - 1, 4) < 0) != (Sample16(w, k, 4) < 0);
    EXPECT_NEAR(crossings, 882, 10);
    Drain(c.get());
  }
}

TEST_F(MusicChannel, StoppedWithNothingQueuedIsDisposedOfTwoThousandTwentyMsLater) {
  // A ring that never asks for sound (its sound buffer could not be made)
  // still lets the channel go.
  waveOut_.Set(&DeadDeviceProc);
  Dc("dc.wav", 0.5, 1.0);
  TRef<TChannelMusic> c = Open("dc.wav");
  ASSERT_TRUE(c);
  ASSERT_TRUE(c->Play(10));
  TRef<TMusicChannel> m = c->Current();
  EXPECT_EQ(m->DoneAfterMs(), TMusicChannel::kNotScheduled);
  ASSERT_TRUE(c->Stop(10));
  EXPECT_EQ(m->DoneAfterMs(), 2020u);
  clock_.Advance(2020);
  EXPECT_FALSE(m->IsDone());
  EXPECT_EQ(c->MusicChannelCount(), 1u);
  clock_.Advance(1);
  EXPECT_TRUE(m->IsDone());
  EXPECT_TRUE(WaitUntil([&] { return c->MusicChannelCount() == 0; }));
  EXPECT_FALSE(c->IsPlaying());
}

// A playing channel stopped with most of its ring still queued: its sound
// ends with the fade a little ahead of the output, and the killer takes it
// then, not once the silence queued behind the fade has played.
TEST_F(MusicChannel, StoppedWhilePlayingIsDisposedOfOnceItsFadeHasPlayed) {
  Dc("dc.wav", 0.5, 5.0);
  TRef<TChannelMusic> c = Open("dc.wav");
  ASSERT_TRUE(c && c->Play(10));
  TRef<TMusicChannel> m = c->Current();
  // The ring refilled part way round, so that its last fill lies far ahead.
  for (int i = 0; i < 7; ++i) Run(100);
  ASSERT_TRUE(c->Stop(10));
  Run(10);
  ASSERT_FALSE(Device()->Live.empty());
  ASSERT_FALSE(Device()->Live.back()->Fades.empty());
  // The write lead, the 25 ms before the fade, the 10 ms fade and 20 ms.
  const std::uint32_t after = m->DoneAfterMs();
  EXPECT_GE(after, 55u);
  EXPECT_LE(after, 80u);
  Run(after + 1);
  EXPECT_TRUE(WaitUntil([&] { return c->MusicChannelCount() == 0; }));
}

// Stopped at a place of its track, a channel knows where its sound fell
// silent once the output's fade (from its next mix on) has: at the first
// silent frame the output plays, as ms into the track. So also when the fade runs over
// the ring's end, and when the stop comes while a fill is under way: that
// fill, far ahead of what plays, keeps its sound and fades with the rest
// (not silenced from the play position at once, with a click, and counted
// silent two seconds late); the killer takes the run once its fade played.
TEST_F(MusicChannel, StoppedRunKnowsWhereItsSoundFellSilent) {
  Dc("dc.wav", 0.5, 8.0);
  struct TCase {
    std::uint32_t RunMs;  // 1955: the fade runs over the end of the two-second ring
    bool DuringFill;
  };
  for (const TCase t : {TCase{700, false}, TCase{1955, false}, TCase{700, true}}) {
    SCOPED_TRACE(std::to_string(t.RunMs) + (t.DuringFill ? " during a fill" : ""));
    TRef<TChannelMusic> c = Open("dc.wav", 1000);
    ASSERT_TRUE(c);
    double place = 0;
    ASSERT_TRUE(c->StopSilence(place));
    EXPECT_TRUE(std::isnan(place));
    const std::size_t start = audio_.Mixed().size() / 2;
    ASSERT_TRUE(c->Play(10));
    TRef<TMusicChannel> m = c->Current();
    TManualBuffer* ring = Device()->Live.back();
    for (std::uint32_t done = 0; done < t.RunMs; done += 100) Run(std::min<std::uint32_t>(100, t.RunMs - done));
    if (t.DuringFill) {
      std::size_t from = 0;
      bool stopped = false;
      ring->BeforeFill = [&] {
        if (stopped) return;
        stopped = true;
        from = ring->Written.size();
        c->Stop(10);
      };
      Run(100);
      ring->BeforeFill = nullptr;
      ASSERT_TRUE(stopped);
      ASSERT_GT(ring->Written.size(), from);
      for (std::size_t k = from / 4; k < ring->Written.size() / 4; ++k)
        ASSERT_EQ(Sample16(ring->Written, k, 4), 16384) << k;
      EXPECT_TRUE(ring->Fades.empty());
    } else {
      ASSERT_TRUE(c->Stop(10));
    }
    EXPECT_FALSE(c->StopSilence(place)) << place;
    Run(20);
    ASSERT_FALSE(ring->Fades.empty());
    ASSERT_TRUE(c->StopSilence(place));
    EXPECT_LE(m->DoneAfterMs(), 80u);
    // Played out (the ring may go with it: not read any more).
    Run(100);
    const std::vector<std::int16_t>& mix = audio_.Mixed();
    std::size_t silent = start + 441;
    while (silent < mix.size() / 2 && (mix[2 * silent] != 0 || mix[2 * silent + 1] != 0)) ++silent;
    ASSERT_LT(silent, mix.size() / 2);
    EXPECT_NEAR(place, 1000.0 + double(silent - start) * 1000.0 / 44100.0, 0.03);
    Drain(c.get());
    double kept = 0;
    ASSERT_TRUE(c->StopSilence(kept));
    EXPECT_EQ(kept, place);
  }
}

TEST_F(MusicChannel, TrackThatRunsOutIsDisposedOfOnceItsSoundHasPlayedAndEndsOnce) {
  Dc("short.wav", 0.5, 0.3);
  // The header claims ten seconds; the data stops after 0.3 s.
  TWavLayout cut;
  cut.DataSize = 44100 * 4 * 10;
  WriteWav(dir_, "cut.wav", cut, EncodeSamples(std::vector<double>(44100 * 2 * 3 / 10, 0.5), 16));
  for (const char* name : {"short.wav", "cut.wav"}) {
    SCOPED_TRACE(name);
    TRef<TChannelMusic> c = Open(name);
    ASSERT_TRUE(c);
    TEndCounter ends;
    ends.Attach(c.get());
    ASSERT_TRUE(c->Play(10));
    TRef<TMusicChannel> m = c->Current();
    Run(100);
    const std::uint32_t after = m->DoneAfterMs();
    ASSERT_NE(after, TMusicChannel::kNotScheduled);
    EXPECT_TRUE(m->Ended());
    // What was queued when the source ran out: up to 1.5 s of the ring.
    EXPECT_GT(after, 1000u);
    EXPECT_LE(after, 1520u);
    EXPECT_TRUE(c->IsPlaying());
    for (std::uint32_t t = 100; t + 100 <= after; t += 100) Run(100);
    EXPECT_EQ(ends.Ends(), 0);
    for (int i = 0; i < 3; ++i) Run(100);
    ASSERT_TRUE(ends.WaitFor(1));
    EXPECT_EQ(ends.last, c.get());
    EXPECT_TRUE(WaitUntil([&] { return c->MusicChannelCount() == 0; }));
    EXPECT_FALSE(c->IsPlaying());
    EXPECT_GE(c->GetPosition(), 300u);
    Run(100);
    EXPECT_EQ(ends.Ends(), 1);
  }
  // Sought past its end: it plays silence out and ends all the same.
  TRef<TChannelMusic> c = RefCast<TChannelMusic>(Player()->CreateChannel(dir_.Wide("short.wav"), 60000));
  ASSERT_TRUE(c);
  TEndCounter ends;
  ends.Attach(c.get());
  ASSERT_TRUE(c->Play(10));
  for (int i = 0; i < 20; ++i) Run(100);
  ASSERT_TRUE(ends.WaitFor(1));
  EXPECT_GE(c->GetPosition(), 60000u);
}

// A converter that learns of the end of its data in the fill that delivers
// its last sound (as a decoder does that reads on its own): that fill
// answers false, its output padded with silence behind the sound.
class TEndsInConvert : public TWavConverter {
public:
  bool ReadInput() override {
    TWavConverter::ReadInput();
    return true;
  }
  bool Convert(TLocalBuffer& buffer) override { return buffer.Length() > 0 && TWavConverter::Convert(buffer); }
  static TRef<TWavConverter> Make(const TMediaInfo&, const WideString&) { return MakeRef<TEndsInConvert>(); }
};

// A track that runs out part way through a refill (past what the first fill
// held) is heard to its last sample: the killer counts the sound of that
// last region, not only what was queued before it. So also when the output
// stalls meanwhile (a busy machine: the clock goes on for 600 ms while
// nothing is mixed): the killer waits for what the output has played, not
// for the time it should have taken.
TEST_F(MusicChannel, TrackThatRunsOutInAFillIsHeardToItsLastSample) {
  THookScope<TCreateConverterProc> converters(CreateConverterHook, &TEndsInConvert::Make);
  Dc("dc.wav", 0.5, 1.75);
  for (const bool stall : {false, true}) {
    SCOPED_TRACE(stall ? "the output stalls" : "the output keeps time");
    TRef<TChannelMusic> c = Open("dc.wav");
    ASSERT_TRUE(c);
    const std::size_t start = audio_.Mixed().size() / 2;
    ASSERT_TRUE(c->Play(10));
    TRef<TMusicChannel> m = c->Current();
    Run(100);
    ASSERT_TRUE(m->Ended());
    // Queued before the region (1.4 s), the region's sound (0.25 s) and 20 ms.
    EXPECT_NEAR(double(m->DoneAfterMs()), 1670.0, 15.0);
    for (int i = 0; i < 400 && c->MusicChannelCount() > 0; ++i) {
      if (stall && i == 100) clock_.Advance(600);
      Run(10);
      // The killer takes the run on its own thread: the next step waits for it.
      if (m->IsDone()) ASSERT_TRUE(WaitUntil([&] { return c->MusicChannelCount() == 0; }));
    }
    ASSERT_EQ(c->MusicChannelCount(), 0u);
    const std::vector<std::int16_t>& mix = audio_.Mixed();
    std::size_t last = start;
    for (std::size_t f = start; f < mix.size() / 2; ++f)
      if (mix[2 * f] != 0) last = f;
    EXPECT_EQ(last - start + 1, 77175u) << "heard " << double(last - start + 1) / 44.1 << " ms of 1750";
    EXPECT_EQ(mix[2 * last], 16384);
  }
}

TEST_F(MusicChannel, EndHandlerThatDropsTheLastReferenceDoesNotWaitForItself) {
  Dc("short.wav", 0.5, 0.2);
  struct THolder {
    TRef<TChannel> channel;
    std::atomic<bool> dropped{false};
    static void Proc(void* d, TChannel*) {
      auto* h = static_cast<THolder*>(d);
      h->channel = nullptr;  // disposed of right here, on the killer's thread
      h->dropped = true;
    }
  } holder;
  holder.channel = Player()->CreateChannel(dir_.Wide("short.wav"), kNoStartPosition);
  ASSERT_TRUE(holder.channel);
  holder.channel->OnEnd = {&THolder::Proc, &holder};
  ASSERT_TRUE(holder.channel->Play(10));
  for (int i = 0; i < 20; ++i) Run(100);
  ASSERT_TRUE(WaitUntil([&] { return holder.dropped.load(); }));
  EXPECT_EQ(Player()->ChannelCount(), 0u);
}

TEST_F(MusicChannel, ChannelThatGivesUpWaitingLeavesItsTailToTheKillerAlone) {
  Dc("dc.wav", 0.5, 3.0);
  TRef<TChannelMusic> c = Open("dc.wav");
  ASSERT_TRUE(c && c->Play(10));
  Run(100);
  ASSERT_TRUE(c->Stop(10));
  Run(100);
  TRef<TMusicChannel> m = c->Current();
  ASSERT_NE(m->DoneAfterMs(), TMusicChannel::kNotScheduled);
  EXPECT_EQ(ChannelKiller()->Count(), 1u);
  m = nullptr;
  // The clock stands still: the tail never plays out while the channel waits.
  c = nullptr;
  EXPECT_EQ(Player()->ChannelCount(), 0u);
  EXPECT_EQ(ChannelKiller()->Count(), 1u);
  for (int i = 0; i < 20; ++i) Run(100);
  EXPECT_TRUE(WaitUntil([] { return ChannelKiller()->Count() == 0; }));
  EXPECT_EQ(Device()->LiveCount(), 0u);
}

}  // namespace zm_music_channel_test
