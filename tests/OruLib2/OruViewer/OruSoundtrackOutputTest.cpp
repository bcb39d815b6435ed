// The soundtrack as the output mixes it, on the manual clock and the
// hand-mixed sound layer (rings refilled by the test): a show's last music
// item in every format heard whole and ending with its fade, the place of
// synchronised music across a pause and a seek, a seek's old and new places
// together, the first item of a show and of its passes from its first
// sample, and an item whose file ends first, read from the mix by matching
// it against the source it was encoded from.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <tuple>
#include <functional>
#include <vector>

#include "OruLib2/OruViewer/OruMusicComposite.h"
#include "OruLib2/OruViewer/OruMusicPlayer.h"
#include "ZmLib/Music/zmConverterFactory.h"
#include "ZmLib/Music/zmDllDecoders.h"
#include "ZmLib/Music/zmMusicChannel.h"
#include "ZmLib/Music/zmMusicPlayer.h"
#include "tests/OruLib2/OruViewer/OruMusicPlayerTestKit.h"
#include "tests/ZmLib/Music/MusicMediaKit.h"
#include "tests/ZmLib/Music/MusicPlayerKit.h"

namespace {

using zm::MakeRef;
using zm::RefCast;
using zm::TRef;
using zmtest::RunTool;
using zmtest::ShellQuote;

zm::WideString SoundtrackTrack(const std::vector<std::pair<std::string, int>>& items);

// The music units as start-up sets them, over the hand-refilled device.
class SoundtrackOutput : public zmtest::TManualPlayerTest {
protected:
  void SetUp() override {
    if (!zmtest::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    zmtest::TManualPlayerTest::SetUp();
    zm::InitConverterFactory();
    zm::InitDllDecoders();
    zm::InitMusicPlayer();
    oru::InitMusicComposite();
  }
  void TearDown() override {
    if (!zmtest::HaveTool("ffmpeg")) return;
    player_ = nullptr;
    oru::FiniMusicComposite();
    zm::FiniMusicPlayer();
    zm::FiniDllDecoders();
    zm::FiniConverterFactory();
    zmtest::TManualPlayerTest::TearDown();
    // The killer's thread ends with the test: this binary's modules do not
    // include the music units, which would end it at the close.
    zm::FiniMusicChannel();
  }

  // Media made by ffmpeg from a lavfi source; the path.
  std::string Make(const std::string& source, const std::string& args, const std::string& name) {
    const std::string path = (dir_.Path() / name).string();
    const std::string cmd = "ffmpeg -hide_banner -loglevel error -y -f lavfi -i " + ShellQuote(source) + " " + args +
                            " " + ShellQuote(path);
    EXPECT_EQ(RunTool(cmd), 0) << cmd;
    return path;
  }

  // 10 ms of time and sound; the rings refill every tenth step, as their
  // threads do every 100 ms (a region then holds up to 100 ms).
  void Tick() {
    clock_.Advance(10);
    audio_.Advance(441);
    if (++ticks_ % 10 == 0)
      if (zmtest::TManualDevice* d = Device()) d->RefillAll();
  }
  int ticks_ = 0;

  // Two loud chirps of 4 s, a slide each, as a synchronised show's music
  // that stops at its end: the player over the hand-refilled device (Device),
  // and the second chirp's left channel (BSource).
  TRef<oru::TOruMusicPlayer> TwoLoudChirps(std::vector<std::int16_t>& bSource, zmtest::TManualDevice*& device);

  // One file as a show's only music item of Ms, played to its end: the
  // interleaved stereo mix from the item's start.
  std::vector<std::int16_t> Heard(const std::string& file, int ms) {
    const std::size_t start = audio_.Mixed().size();
    TRef<zm::TChannelMusic> c =
        RefCast<zm::TChannelMusic>(Player()->CreateChannel(SoundtrackTrack({{file, ms}}), zm::kNoStartPosition));
    EXPECT_TRUE(c);
    if (!c || !c->Play(10)) return {};
    for (int i = 0; i < ms / 10 + 100; ++i) Tick();
    Drain(c.get());
    const std::vector<std::int16_t>& m = audio_.Mixed();
    return std::vector<std::int16_t>(m.begin() + std::ptrdiff_t(start), m.end());
  }

  // The left channel of the mix from frame From on.
  std::vector<std::int16_t> MixedLeft(std::size_t from = 0) {
    const std::vector<std::int16_t>& m = audio_.Mixed();
    std::vector<std::int16_t> l;
    for (std::size_t f = from; 2 * f + 1 < m.size(); ++f) l.push_back(m[2 * f]);
    return l;
  }
};

// The source of the chirp music: 0.5 sin(2 pi (200 t + 40 t^2)), whose every
// stretch differs from the others.
std::string SoundtrackChirp(int rate, int seconds) {
  return "aevalsrc=0.5*sin(2*PI*(200*t+40*t*t)):s=" + std::to_string(rate) + ":d=" + std::to_string(seconds);
}

// The frame of Source (44100 Hz) whose next Window frames best match
// Mixed's from At, searched within Range of Guess.
std::int64_t SoundtrackPlaceInSource(const std::vector<std::int16_t>& mixed, std::size_t at,
                           const std::vector<std::int16_t>& source, std::int64_t guess, std::int64_t range,
                           double* corr = nullptr) {
  constexpr std::size_t kWindow = 441;
  std::int64_t best = -1;
  double bestC = -2;
  for (std::int64_t s = std::max<std::int64_t>(0, guess - range); s <= guess + range; ++s) {
    if (std::size_t(s) + kWindow > source.size() || at + kWindow > mixed.size()) break;
    double ab = 0, aa = 0, bb = 0;
    for (std::size_t i = 0; i < kWindow; ++i) {
      const double a = mixed[at + i], b = source[std::size_t(s) + i];
      ab += a * b;
      aa += a * a;
      bb += b * b;
    }
    const double c = aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : -1;
    if (c > bestC) {
      bestC = c;
      best = s;
    }
  }
  if (corr) *corr = bestC;
  return best;
}

std::vector<std::int16_t> SoundtrackLeftOfWav(const std::string& path) {
  const std::vector<std::uint8_t> b = zmtest::ReadAllBytes(path);
  std::vector<std::int16_t> l;
  // The data chunk of ffmpeg's plain WAV follows a 44-byte header or a LIST chunk.
  for (std::size_t p = 12; p + 8 <= b.size();) {
    std::uint32_t n;
    std::memcpy(&n, &b[p + 4], 4);
    if (std::memcmp(&b[p], "data", 4) == 0) {
      for (std::size_t i = p + 8; i + 3 < b.size() && i < p + 8 + n; i += 4) {
        std::int16_t s;
        std::memcpy(&s, &b[i], 2);
        l.push_back(s);
      }
      break;
    }
    p += 8 + n + (n & 1);
  }
  return l;
}

// A show's music laid out as the player lays it out: items one after the
// other, the track ending with the last.
zm::WideString SoundtrackTrack(const std::vector<std::pair<std::string, int>>& items) {
  TRef<oru::TCompositeParams> p = MakeRef<oru::TCompositeParams>();
  int at = 0;
  for (const auto& [file, ms] : items) {
    oru::TCompositeItem* item = p->AddItem(zm::WideString(file.begin(), file.end()), at);
    item->Duration = ms;
    at += ms;
  }
  p->Duration = at;
  return p->Save();
}

}  // namespace

// The last music item of a show, 2945 ms of a tone in every format the
// player reads, is heard 2935 to 2955 ms (its sound from its first to its
// last sample above 1 % of the tone) and ends with its fade: no step larger
// than the tone's own, the last sample small. So are four WAV items of
// 990 ms one after the other, the last of them whole. The track ends part
// way through a refill of its ring (whose regions here lie on 100 ms steps,
// and the mix's 2500-frame blocks end before the region does): the channel
// plays that region's sound out before the killer takes it. The channel plays it out before the killer takes it.
TEST_F(SoundtrackOutput, TheLastItemIsHeardWholeAndEndsWithItsFade) {
  struct TCase {
    const char* name;
    const char* args;
    int rate;
  } cases[] = {
      {"tone44.wav", "-ac 2 -c:a pcm_s16le", 44100}, {"tone48.wav", "-ac 2 -c:a pcm_s16le", 48000},
      {"tone.mp3", "-ac 2 -c:a libmp3lame -b:a 128k", 44100},
      {"bare.mp3", "-ac 2 -c:a libmp3lame -b:a 128k -write_xing 0", 44100},
      {"tone.opus", "-ac 2 -c:a libopus", 48000},     {"tone.m4a", "-ac 2 -c:a aac", 44100},
      {"tone.ogg", "-ac 2 -c:a libvorbis", 44100},    {"tone.flac", "-ac 2 -c:a flac", 44100},
  };
  std::vector<std::pair<std::vector<std::pair<std::string, int>>, std::string>> tracks;
  for (const TCase& k : cases) {
    const std::string file =
        Make("sine=frequency=440:sample_rate=" + std::to_string(k.rate) + ":duration=3", k.args, k.name);
    tracks.push_back({{{file, 2945}}, k.name});
  }
  const std::string one = Make("sine=frequency=440:sample_rate=44100:duration=1", "-ac 2 -c:a pcm_s16le", "one.wav");
  tracks.push_back({{{one, 990}, {one, 990}, {one, 990}, {one, 990}}, "four items"});

  for (const auto& [items, label] : tracks) {
    SCOPED_TRACE(label);
    const std::size_t start = audio_.Mixed().size() / 2;
    TRef<zm::TChannelMusic> c =
        RefCast<zm::TChannelMusic>(Player()->CreateChannel(SoundtrackTrack(items), zm::kNoStartPosition));
    ASSERT_TRUE(c);
    ASSERT_TRUE(c->Play(10));
    // Until the track has run out; its ring then lives on in the killer's
    // hands alone, until its time has come.
    TRef<zm::TMusicChannel> m = c->Current();
    for (int i = 0; i < 1000 && m->DoneAfterMs() == zm::TMusicChannel::kNotScheduled; ++i) Tick();
    const std::uint32_t after = m->DoneAfterMs();
    ASSERT_NE(after, zm::TMusicChannel::kNotScheduled);
    m = nullptr;
    for (std::uint32_t t = 0; t <= after + 10; t += 10) Tick();
    ASSERT_TRUE(zmtest::WaitUntil([&] { return c->MusicChannelCount() == 0; }));
    ASSERT_EQ(c->MusicChannelCount(), 0u);
    Run(100);
    const std::vector<std::int16_t> l = MixedLeft(start);
    int peak = 0;
    for (std::int16_t s : l) peak = std::max(peak, std::abs(int(s)));
    ASSERT_GT(peak, 2000);
    // The sound from where it rises above 1 % of the tone to where it falls
    // below (items one after the other dip only between their fades).
    std::vector<std::pair<std::size_t, std::size_t>> heard;
    for (std::size_t f = 0; f < l.size(); ++f) {
      if (std::abs(int(l[f])) * 100 <= peak) continue;
      if (heard.empty() || f - heard.back().second > 44) heard.push_back({f, f});
      heard.back().second = f;
    }
    ASSERT_EQ(heard.size(), 1u);
    int total = 0;
    for (const auto& item : items) total += item.second;
    const double ms = double(heard[0].second - heard[0].first + 1) / 44.1;
    EXPECT_GE(ms, total - 10.0) << "heard " << ms << " ms";
    EXPECT_LE(ms, total + 10.0) << "heard " << ms << " ms";
    // The tone's own largest step, in its middle; the end's, over its last
    // 5 ms and the silence after.
    const auto largestStep = [&](std::size_t from, std::size_t to) {
      int step = 0;
      for (std::size_t f = std::max<std::size_t>(from, 1); f < to && f < l.size(); ++f)
        step = std::max(step, std::abs(int(l[f]) - int(l[f - 1])));
      return step;
    };
    const std::size_t end = heard.back().second;
    const int tone = largestStep(end - 44100 / 2, end - 44100 / 2 + 4410);
    EXPECT_LE(largestStep(end - 220, end + 441), tone) << "a step at the end";
    EXPECT_LE(std::abs(int(l[end])) * 20, peak) << "the last sample is not faded";
    // Silence follows, not what a cut channel's ring held.
    for (std::size_t f = end + 44; f < end + 4410 && f < l.size(); ++f) ASSERT_EQ(l[f], 0) << f - end;
  }
}

namespace {

// One channel of an interleaved stereo mix, in [-1, 1].
std::vector<double> SoundtrackSide(const std::vector<std::int16_t>& mix, int side, std::size_t from = 0,
                                   std::size_t frames = SIZE_MAX) {
  std::vector<double> v;
  for (std::size_t f = from; 2 * f + 1 < mix.size() && f - from < frames; ++f) v.push_back(mix[2 * f + side] / 32768.0);
  return v;
}

}  // namespace

// What the player can decode it plays whole, whatever the file's name says:
// an MP3 whose bit rate varies without a VBR header, Ogg Vorbis and M4A
// named as MP3, WAVE files with an odd-sized chunk and its pad byte before
// "fmt " or before "data", and one whose data chunk says 0 bytes.
TEST_F(SoundtrackOutput, EveryFileThePlayerDecodesIsHeardWholeWhateverItsName) {
  const std::string chirp = "aevalsrc=0.5*sin(2*PI*(300+400*t)*t):s=44100:d=";
  struct TCase {
    std::string file;
    double seconds;
  };
  std::vector<TCase> cases = {
      {Make(chirp + "1.5", "-ac 2 -c:a libmp3lame -q:a 4 -write_xing 0", "vbr.mp3"), 1.5},
      {Make(chirp + "1", "-ac 2 -c:a libvorbis -f ogg", "vorbis.mp3"), 1.0},
      {Make(chirp + "1", "-ac 2 -c:a aac -f ipod", "aac.mp3"), 1.0},
  };
  // WAVE files laid out by hand around a second of the tone.
  std::vector<double> samples = zmtest::Sine(44100, 2, 44100, 440, 0.5);
  const std::string pcm = zmtest::EncodeSamples(samples, 16);
  std::string fmt = "fmt ";
  for (const auto& [v, n] : {std::pair{16, 4}, {1, 2}, {2, 2}, {44100, 4}, {176400, 4}, {4, 2}, {16, 2}})
    zmtest::PutLE(fmt, std::uint64_t(v), n);
  const std::string odd = std::string("junk\x05\0\0\0abcde", 13) + '\0';
  const auto wav = [&](const std::string& name, const std::string& body, std::uint32_t size) {
    std::string data = "data";
    zmtest::PutLE(data, size, 4);
    std::string file = "RIFF";
    zmtest::PutLE(file, 4 + body.size() + data.size() + pcm.size(), 4);
    cases.push_back({dir_.Write(name, file + "WAVE" + body + data + pcm), 1.0});
  };
  wav("padfmt.wav", odd + fmt, std::uint32_t(pcm.size()));
  wav("paddata.wav", fmt + odd, std::uint32_t(pcm.size()));
  wav("nosize.wav", fmt, 0);
  for (const TCase& k : cases) {
    SCOPED_TRACE(k.file);
    const std::vector<double> l = SoundtrackSide(Heard(k.file, 2000), 0);
    std::size_t first = SIZE_MAX, last = 0;
    for (std::size_t f = 0; f < l.size(); ++f)
      if (std::fabs(l[f]) > 0.01) {
        first = std::min(first, f);
        last = f;
      }
    ASSERT_NE(first, SIZE_MAX) << "not heard";
    EXPECT_NEAR(double(last - first + 1) / 44.1, k.seconds * 1000, 10.0);
  }
}

// Files of other rates than the output's are heard without the aliases and
// images of a converter that does not filter: a tone below 0.45 of its
// file's rate comes with nothing else within 60 dB of it, one above half the
// output's rate at -60 dBFS at most; WAVE read by the player itself and
// FLAC and Opus read through FFmpeg alike (Opus with its own noise around
// the tone: nothing else within 60 dB further than 1 kHz from it).
TEST_F(SoundtrackOutput, OtherRatesAreHeardWithoutAliasesOrImages) {
  struct TCase {
    int rate;
    int hz;
    const char* args;
    const char* ext;
    double apart = 20;
  } cases[] = {{8000, 3000, "-c:a pcm_s16le", "wav"},   {48000, 10000, "-c:a pcm_s16le", "wav"},
               {96000, 30000, "-c:a pcm_s16le", "wav"}, {96000, 40000, "-c:a pcm_s16le", "wav"},
               {96000, 20000, "-c:a flac", "flac"},     {48000, 10000, "-c:a libopus -b:a 192k", "opus", 1000}};
  for (const TCase& k : cases) {
    const std::string name = std::to_string(k.hz) + "at" + std::to_string(k.rate) + "." + k.ext;
    SCOPED_TRACE(name);
    const std::string file = Make("aevalsrc=0.5*sin(2*PI*" + std::to_string(k.hz) + "*t):s=" + std::to_string(k.rate) +
                                      ":d=1",
                                  std::string("-ac 2 ") + k.args, name);
    const std::vector<std::int16_t> mix = Heard(file, 1000);
    // The middle of the item, past its fades.
    std::size_t first = 0;
    while (2 * first < mix.size() && mix[2 * first] == 0) ++first;
    const std::vector<double> l = SoundtrackSide(mix, 0, std::min(first, mix.size() / 2) + 4410, 16384);
    ASSERT_EQ(l.size(), 16384u);
    const zmtest::TSpectrum sp = zmtest::SpectrumOf(l, 44100);
    double where = 0;
    if (k.hz < 22050) {
      const double tone = zmtest::Decibels(zmtest::ToneLevel(l, 44100, k.hz));
      EXPECT_GT(tone, -12.0);
      EXPECT_LT(zmtest::Decibels(sp.LargestAway({double(k.hz)}, k.apart, &where)), tone - 60) << "at " << where << " Hz";
    } else {
      EXPECT_LT(zmtest::Decibels(sp.LargestAway({}, 0, &where)), -60) << "at " << where << " Hz";
    }
  }
}

// Six tones at 0.3, one in each channel of 5.1, in every format that carries
// it: no sample at full scale, the front and back left tones on the left
// only, the right ones on the right only, the centre on both and the low
// frequency left out.
TEST_F(SoundtrackOutput, FiveOneFoldsToItsSidesWithoutClipping) {
  const std::string six = "aevalsrc=0.3*sin(2*PI*300*t)|0.3*sin(2*PI*500*t)|0.3*sin(2*PI*700*t)|"
                          "0.3*sin(2*PI*100*t)|0.3*sin(2*PI*1100*t)|0.3*sin(2*PI*1300*t):s=48000:d=1.5:c=5.1";
  for (const auto& [name, args] : {std::pair{"six.wav", "-c:a pcm_s16le"}, {"six.flac", "-c:a flac"},
                                   {"six.ogg", "-c:a libvorbis"}, {"six.opus", "-c:a libopus"},
                                   {"six.m4a", "-c:a aac"}}) {
    SCOPED_TRACE(name);
    const std::vector<std::int16_t> mix = Heard(Make(six, args, name), 2000);
    int peak = 0, full = 0;
    for (std::int16_t v : mix) {
      peak = std::max(peak, std::abs(int(v)));
      full += v == 32767 || v == -32768;
    }
    EXPECT_EQ(full, 0);
    EXPECT_GT(peak, 3000);
    std::size_t first = 0;
    while (2 * first < mix.size() && mix[2 * first] == 0) ++first;
    const std::size_t from = std::min(first, mix.size() / 2) + 4410;
    const std::vector<double> l = SoundtrackSide(mix, 0, from, 32768), r = SoundtrackSide(mix, 1, from, 32768);
    for (const auto& [hz, left, right] : {std::tuple{300, true, false}, {500, false, true}, {700, true, true},
                                          {100, false, false}, {1100, true, false}, {1300, false, true}}) {
      SCOPED_TRACE(hz);
      EXPECT_EQ(zmtest::ToneLevel(l, 44100, hz) > 0.03, left);
      EXPECT_EQ(zmtest::ToneLevel(r, 44100, hz) > 0.03, right);
    }
  }
}

// Synchronised chirp music, as MP3 with and without the encoder's tag and as
// WAV, through the music player thread's passes (as the engine drives them):
// paused, the show standing where the music fell silent, and resumed; then
// sought to the second slide's start. Read from the mix against the source:
// the music comes back at the place where it fell silent, lands on the
// slide's start (not before it), and keeps its offset to the clock the
// pictures follow, each within 5 ms.
TEST_F(SoundtrackOutput, SynchronisedMusicComesBackWhereItFellSilentAndLandsOnTheSlide) {
  const std::string wav = Make(SoundtrackChirp(44100, 8), "-ac 2 -c:a pcm_s16le", "source.wav");
  const std::vector<std::int16_t> source = SoundtrackLeftOfWav(wav);
  ASSERT_EQ(source.size(), 8u * 44100);
  const struct {
    const char* name;
    const char* args;
  } formats[] = {
      {"chirp.mp3", "-ac 2 -c:a libmp3lame -b:a 128k"},
      {"bare.mp3", "-ac 2 -c:a libmp3lame -b:a 128k -write_xing 0"},
      {"chirp.wav", "-ac 2 -c:a pcm_s16le"},
  };
  for (const auto& format : formats) {
    SCOPED_TRACE(format.name);
    const std::string music = Make(SoundtrackChirp(44100, 8), format.args, format.name);
    zmtest::TShowBuilder show;
    show.AddSlide(4000);
    show.AddSlide(8000);
    show.Main().Key("opt_syncmode", 1).Key("opt_repeat", "stop");
    show.MusicItem(music, 8000);
    TRef<oru::TOruMusicPlayer> p = orutest::NewPlayer(show);
    auto* output = dynamic_cast<zm::TMusicPlayerClass*>(p->MusicPlayer());
    ASSERT_TRUE(output);
    auto* device = dynamic_cast<zmtest::TManualDevice*>(output->Device());
    ASSERT_TRUE(device);
    const std::size_t start = audio_.Mixed().size() / 2;
    // The mix's frame count and the clock after each pass.
    std::vector<std::pair<std::size_t, double>> marks;
    const auto run = [&](int ms) {
      for (int t = 0; t < ms; t += 10) {
        clock_.Advance(10);
        audio_.Advance(441);
        if (++ticks_ % 10 == 0) device->RefillAll();
        orutest::Pass(p.get());
        marks.push_back({audio_.Mixed().size() / 2 - start, p->GetTime()});
      }
    };
    orutest::Pass(p.get());
    orutest::Pass(p.get());
    ASSERT_TRUE(p->IsReady());
    p->SetRunRequested(true);
    run(1500);

    // Paused: the clock stands where the music fell silent, once known.
    const std::size_t pausedAt = marks.back().first;
    p->SetRunRequested(false);
    for (int i = 0; i < 100 && (i < 2 || p->SilencePending()); ++i) run(10);
    double stood = 0;
    ASSERT_TRUE(p->StandWhereSilent(p->GetTime(), stood));
    run(400);
    // The player's thread takes the request at once (its event wakes it);
    // the ring that comes back sounds from the mix's next frame on.
    p->SetRunRequested(true);
    orutest::Pass(p.get());
    const std::size_t resumedAt = audio_.Mixed().size() / 2 - start;
    run(1000);

    // Sought to the second slide, as the engine asks: the new time, the
    // channels made ready, then on.
    p->SetTime(-1, 4000);
    for (int i = 0; i < 100 && !p->IsReady(); ++i) run(10);
    ASSERT_TRUE(p->IsReady());
    p->SetRunRequested(true);
    orutest::Pass(p.get());
    const std::size_t soughtAt = audio_.Mixed().size() / 2 - start;
    run(1000);
    p->SetRunRequested(false);
    run(500);

    const std::vector<std::int16_t> l = MixedLeft(start);
    // The clock when the mix held frame n, and the music's place (ms) there.
    const auto clockAt = [&](std::size_t n) {
      for (const auto& [frames, clock] : marks)
        if (frames >= n) return clock - double(frames - n) / 44.1;
      return marks.back().second;
    };
    const auto placeAt = [&](std::size_t n, double guessMs) {
      double corr = 0;
      const std::int64_t s = SoundtrackPlaceInSource(l, n, source, std::int64_t(guessMs * 44.1), 2205, &corr);
      EXPECT_GT(corr, 0.98) << "no clear place at mix frame " << n;
      return double(s) / 44.1;
    };
    // The place a ring that started at frame From sounded first: its place
    // 200 ms on, less 200 ms.
    const auto startPlace = [&](std::size_t from, double guessMs) {
      return placeAt(from + 8820, guessMs + 200) - 200.0;
    };
    const auto offsetAt = [&](std::size_t n) { return placeAt(n, clockAt(n)) - clockAt(n); };
    const double offsetBefore = offsetAt(pausedAt - 4410);
    EXPECT_LE(std::abs(offsetBefore), 5.0) << "the music lags the clock";

    // Where the pause's fade fell silent: the first of 20 quiet ms.
    std::size_t silentFrom = pausedAt, quiet = 0;
    for (; silentFrom < l.size() && quiet < 882; ++silentFrom) quiet = std::abs(int(l[silentFrom])) < 30 ? quiet + 1 : 0;
    silentFrom -= quiet;
    ASSERT_LT(silentFrom, resumedAt);
    const std::size_t w = 441 * 3;  // 30 ms: before the fade
    const double silentPlace = placeAt(silentFrom - w, stood - 30) + double(w) / 44.1;
    const double backPlace = startPlace(resumedAt, stood);
    EXPECT_NEAR(backPlace, silentPlace, 5.0) << "fell silent at " << silentPlace << ", came back at " << backPlace;
    EXPECT_NEAR(stood, silentPlace, 5.0);
    EXPECT_NEAR(offsetAt(resumedAt + 8820), offsetBefore, 5.0);

    const double landed = startPlace(soughtAt, 4000);
    EXPECT_GE(landed, 4000.0 - 1) << "the music came back before the slide";
    EXPECT_LE(landed, 4005.0);
    EXPECT_NEAR(offsetAt(soughtAt + 8820), offsetBefore, 5.0);
    p = nullptr;
  }
}

namespace {

// A chirp as loud as Amplitude on both channels (as a stereo source, so
// that no down-mix lowers it).
std::string SoundtrackLoudChirp(double amplitude, double hz, double hzPerS, int seconds) {
  char e[128];
  std::snprintf(e, sizeof e, "%.2f*sin(2*PI*(%g*t+%g*t*t))", amplitude, hz, hzPerS);
  return std::string("aevalsrc=") + e + "|" + e + ":s=44100:d=" + std::to_string(seconds);
}

TRef<oru::TOruMusicPlayer> SoundtrackOutput::TwoLoudChirps(std::vector<std::int16_t>& bSource,
                                                           zmtest::TManualDevice*& device) {
  const std::string a = Make(SoundtrackLoudChirp(0.9, 200, 25, 4), "-c:a pcm_s16le", "a.wav");
  const std::string b = Make(SoundtrackLoudChirp(0.9, 300, 20, 4), "-c:a pcm_s16le", "b.wav");
  bSource = SoundtrackLeftOfWav(b);
  zmtest::TShowBuilder show;
  show.AddSlide(4000);
  show.AddSlide(8000);
  show.Main().Key("opt_syncmode", 1).Key("opt_repeat", "stop");
  show.MusicItem(a, 4000);
  show.MusicItem(b, 4000);
  TRef<oru::TOruMusicPlayer> p = orutest::NewPlayer(show);
  auto* output = dynamic_cast<zm::TMusicPlayerClass*>(p->MusicPlayer());
  device = output ? dynamic_cast<zmtest::TManualDevice*>(output->Device()) : nullptr;
  return p;
}

// Offset in Mixed from Near (within Range) at which Source's frames from
// From on (to To) are heard unchanged; -1 when at none.
std::int64_t SoundtrackExactAt(const std::vector<std::int16_t>& mixed, std::int64_t near, std::int64_t range,
                               const std::vector<std::int16_t>& source, std::size_t from, std::size_t to) {
  for (std::int64_t at = std::max<std::int64_t>(0, near - range); at <= near + range; ++at) {
    if (std::size_t(at) + to > mixed.size()) break;
    std::size_t k = from;
    while (k < to && std::abs(int(mixed[std::size_t(at) + k]) - int(source[k])) <= 1) ++k;
    if (k == to) return at;
  }
  return -1;
}

}  // namespace

// Synchronised music of two loud chirps (0.9 of full scale), one item after
// the other, sought from inside the first to inside the second, the new
// place starting in the mix that follows the seek (its channels loaded
// while no sound was mixed): the old place fades out within the stop's
// 10 ms, over what the output had queued and taken alike, as the new one
// fades in. From 10 ms after the seek the mix is the new place alone, and
// the two together are never louder than the louder: no sample at full
// scale, the peak at most 0.95 of it.
TEST_F(SoundtrackOutput, ASeekFadesTheOldPlaceWithinItsFadeAndIsNeverLouderThanTheLouderPlace) {
  std::vector<std::int16_t> bSource;
  zmtest::TManualDevice* device = nullptr;
  TRef<oru::TOruMusicPlayer> p = TwoLoudChirps(bSource, device);
  ASSERT_EQ(bSource.size(), 4u * 44100);
  ASSERT_TRUE(device);
  const std::size_t start = audio_.Mixed().size() / 2;
  const auto run = [&](int ms) {
    for (int t = 0; t < ms; t += 10) {
      clock_.Advance(10);
      audio_.Advance(441);
      if (++ticks_ % 10 == 0) device->RefillAll();
      orutest::Pass(p.get());
    }
  };
  orutest::Pass(p.get());
  orutest::Pass(p.get());
  ASSERT_TRUE(p->IsReady());
  p->SetRunRequested(true);
  run(1500);

  // Sought to 1500 ms into the second item; no sound is mixed until it plays.
  p->SetTime(-1, 5500);
  for (int i = 0; i < 100 && !p->IsReady(); ++i) orutest::Pass(p.get());
  ASSERT_TRUE(p->IsReady());
  p->SetRunRequested(true);
  orutest::Pass(p.get());
  const std::size_t soughtAt = audio_.Mixed().size() / 2 - start;
  run(500);

  const std::vector<std::int16_t>& mix = audio_.Mixed();
  int before = 0, peak = 0, full = 0;
  for (std::size_t f = start + soughtAt - 441; f < start + soughtAt; ++f)
    before = std::max(before, std::abs(int(mix[2 * f])));
  EXPECT_GT(before, 25000) << "the old place did not sound up to the seek";
  for (std::size_t i = 2 * (start + soughtAt); i < 2 * (start + soughtAt + 4410); ++i) {
    peak = std::max(peak, std::abs(int(mix[i])));
    if (mix[i] >= 32767 || mix[i] <= -32768) ++full;
  }
  EXPECT_EQ(full, 0);
  EXPECT_LE(peak, int(0.95 * 32768)) << "old and new together louder than either";
  // The new place alone from the end of the fades on: its first frame is
  // the 1500 ms of the second file, where the mix that followed the seek began.
  const std::vector<std::int16_t> l = MixedLeft(start);
  EXPECT_EQ(SoundtrackExactAt(l, std::int64_t(soughtAt) - 66150, 0, bSource, 66150 + 441, 66150 + 4410),
            std::int64_t(soughtAt) - 66150)
      << "the old place still sounds 10 ms after the seek";
  p->SetRunRequested(false);
  run(500);
  p = nullptr;
}

// A synchronised show asked to run before its music is loaded, by a loader
// slow to open it (a busy machine: 50 ms), and looping, its length not a
// whole number of the player's passes (10 ms here): its music's first item,
// as the show starts and as its second pass starts, is heard from the
// file's first sample (the clock stands until the music can start with it;
// the second pass's is played a little ahead, silent up to its time),
// the second pass's at the pass's time within 1 ms of the first's.
TEST_F(SoundtrackOutput, TheFirstItemOfTheShowAndOfEachPassIsHeardFromItsFirstSample) {
  const std::string chirp = Make(SoundtrackLoudChirp(0.5, 200, 60, 2), "-c:a pcm_s16le", "chirp.wav");
  const std::vector<std::int16_t> source = SoundtrackLeftOfWav(chirp);
  ASSERT_EQ(source.size(), 2u * 44100);
  zmtest::TShowBuilder show;
  show.AddSlide(1000);
  show.AddSlide(1995);
  show.Main().Key("opt_syncmode", 1).Key("opt_repeat", "repeat");
  show.MusicItem(chirp, 1995);
  TRef<oru::TOruMusicPlayer> p = orutest::NewPlayer(show);
  auto* output = dynamic_cast<zm::TMusicPlayerClass*>(p->MusicPlayer());
  ASSERT_TRUE(output);
  auto* device = dynamic_cast<zmtest::TManualDevice*>(output->Device());
  ASSERT_TRUE(device);
  const std::size_t start = audio_.Mixed().size() / 2;
  // The mix's frame count when each ring made its first fill: its first
  // frame is the next one mixed.
  std::vector<std::size_t> rings;
  std::vector<zmtest::TManualBuffer*> seen;
  double stoodAt = -1;
  // The clock starts at the output's place; a busy machine lets the tick
  // clock run on 3 ms before the pass reads it again.
  ASSERT_TRUE(device->Timer);
  device->Timer->SetAfterSoundingOnce([this] { clock_.Advance(3); });
  p->SetRunRequested(true);
  for (int t = 0; t < 2600; t += 10) {
    if (t < 50) p->Pass();
    else orutest::Pass(p.get());
    {
      std::lock_guard<std::mutex> g(device->M);
      for (zmtest::TManualBuffer* b : device->Live)
        if (!b->Written.empty() && std::find(seen.begin(), seen.end(), b) == seen.end()) {
          seen.push_back(b);
          rings.push_back(audio_.Mixed().size() / 2 - start);
        }
    }
    if (rings.empty()) stoodAt = p->GetTime();
    clock_.Advance(10);
    audio_.Advance(441);
    if (++ticks_ % 10 == 0) device->RefillAll();
  }
  ASSERT_EQ(rings.size(), 2u);
  EXPECT_EQ(stoodAt, 0.0) << "the clock ran before its music";
  const std::vector<std::int16_t> l = MixedLeft(start);
  // Past the 10 ms fades each pass is the file itself, from where its ring
  // (its silence) began: a first sample left out would move it on.
  const std::int64_t first = SoundtrackExactAt(l, std::int64_t(rings[0]), 0, source, 441, 4410);
  EXPECT_EQ(first, std::int64_t(rings[0])) << "the show's first item did not start from its first sample";
  const std::int64_t second = SoundtrackExactAt(l, std::int64_t(rings[0]) + 87980, 441, source, 441, 4410);
  ASSERT_GE(second, 0) << "the second pass's first item did not start from its first sample";
  EXPECT_GE(second, std::int64_t(rings[1]));
  EXPECT_NEAR(double(second - first), 1995 * 44.1, 44.1);
  // Paused, its fade played out before the player goes.
  p->SetRunRequested(false);
  for (int t = 0; t < 500; t += 10) {
    orutest::Pass(p.get());
    clock_.Advance(10);
    audio_.Advance(441);
    if (++ticks_ % 10 == 0) device->RefillAll();
  }
  p = nullptr;
}

// A music item of 4 s whose 2.5 s file ends first, with a fade out of 1 s:
// the fade ends where the file's sound does and is heard, and the sound
// ends without a step, from a file of 8, 22.05 and 44.1 kHz alike, also
// when the file ends at the tone's peak. A file whose header claims 4 s
// (cut short, without a fade out) ends on a fade of its last 10 ms.
TEST_F(SoundtrackOutput, AnItemWhoseFileEndsFirstFadesOutToItsEndWithoutAStep) {
  const struct {
    int rate;
    const char* seconds;
    bool cut;
  } files[] = {{8000, "2.5", false}, {22050, "2.5", false}, {44100, "2.5", false}, {44100, "2.50057", false},
               {44100, "2.50057", true}};
  for (const auto& file : files) {
    const std::string label = std::to_string(file.rate) + " Hz, " + file.seconds + " s" + (file.cut ? ", cut" : "");
    SCOPED_TRACE(label);
    const std::string path = Make("sine=frequency=440:sample_rate=" + std::to_string(file.rate) +
                                      ":duration=" + file.seconds,
                                  "-ac 2 -c:a pcm_s16le",
                                  "tone" + std::to_string(file.rate) + file.seconds + (file.cut ? "cut" : "") + ".wav");
    if (file.cut) {
      // The data chunk's size says 4 s; the file holds what it holds.
      std::vector<std::uint8_t> bytes = zmtest::ReadAllBytes(path);
      for (std::size_t p = 12; p + 8 <= bytes.size();) {
        std::uint32_t n;
        std::memcpy(&n, &bytes[p + 4], 4);
        if (std::memcmp(&bytes[p], "data", 4) == 0) {
          const std::uint32_t claimed = 4 * 44100 * 4;
          std::memcpy(&bytes[p + 4], &claimed, 4);
          break;
        }
        p += 8 + n + (n & 1);
      }
      std::FILE* f = std::fopen(path.c_str(), "wb");
      ASSERT_TRUE(f);
      ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
      std::fclose(f);
    }
    TRef<oru::TCompositeParams> track = MakeRef<oru::TCompositeParams>();
    oru::TCompositeItem* item = track->AddItem(zm::WideString(path.begin(), path.end()), 0);
    item->Duration = 4000;
    if (!file.cut) {
      oru::TVolumeParams* fade = item->Volumes->Add();
      fade->AddPoint(3000, 1000);
      fade->AddPoint(4000, 0);
    }
    track->Duration = 4000;
    const std::size_t start = audio_.Mixed().size() / 2;
    TRef<zm::TChannelMusic> c =
        RefCast<zm::TChannelMusic>(Player()->CreateChannel(track->Save(), zm::kNoStartPosition));
    ASSERT_TRUE(c);
    ASSERT_TRUE(c->Play(10));
    for (int i = 0; i < 450; ++i) Tick();
    const std::vector<std::int16_t> l = MixedLeft(start);
    int peak = 0;
    for (std::int16_t s : l) peak = std::max(peak, std::abs(int(s)));
    ASSERT_GT(peak, 2000);
    std::size_t end = 0;
    for (std::size_t f = 0; f < l.size(); ++f)
      if (l[f] != 0) end = f;
    const auto largestStep = [&](std::size_t from, std::size_t to) {
      int step = 0;
      for (std::size_t f = std::max<std::size_t>(from, 1); f < to && f < l.size(); ++f)
        step = std::max(step, std::abs(int(l[f]) - int(l[f - 1])));
      return step;
    };
    const auto peakOf = [&](std::size_t from, std::size_t to) {
      int p = 0;
      for (std::size_t f = from; f < to && f < l.size(); ++f) p = std::max(p, std::abs(int(l[f])));
      return p;
    };
    // The tone's own step in the middle of what sounds at full level; the
    // end's over its last 5 ms and the silence after.
    const int tone = largestStep(44100 / 2, 44100 / 2 + 4410);
    EXPECT_LE(largestStep(end - 220, end + 441), tone * 3 / 2) << "a step at the end";
    // The fade out lasts its second up to the file's end (2.5 s of sound):
    // half way down half way through it.
    EXPECT_NEAR(double(end) / 44.1, std::stod(file.seconds) * 1000, 15.0);
    if (file.cut) {
      EXPECT_GT(peakOf(end - 441 - 220, end - 441), peak * 9 / 10) << "more than the last 10 ms faded";
    } else {
      const int half = peakOf(end - 22050 - 441, end - 22050 + 441);
      EXPECT_NEAR(double(half) / peak, 0.5, 0.05) << "the fade out does not end with the sound";
    }
    Drain(c.get());
  }
}

namespace {

// The amplitude (full scale 1) of a sine of Hz over Frames of Left from From.
double SoundtrackLevel(const std::vector<std::int16_t>& left, std::size_t from, std::size_t frames, double hz) {
  if (from + frames > left.size() || frames == 0) return 0;
  const double w = 2 * 3.14159265358979323846 * hz / 44100.0, c = 2 * std::cos(w);
  double s1 = 0, s2 = 0;
  for (std::size_t i = 0; i < frames; ++i) {
    const double s0 = left[from + i] / 32768.0 + c * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  return 2 * std::sqrt(std::max(s1 * s1 + s2 * s2 - c * s1 * s2, 0.0)) / double(frames);
}

// The largest step between neighbouring frames of Left in [From, To).
int SoundtrackLargestStep(const std::vector<std::int16_t>& left, std::size_t from, std::size_t to) {
  int step = 0;
  for (std::size_t f = std::max<std::size_t>(from, 1); f < to && f < left.size(); ++f)
    step = std::max(step, std::abs(int(left[f]) - int(left[f - 1])));
  return step;
}

// The longest run of silent frames (both channels 0) of the mix in [From, To).
std::size_t SoundtrackLongestSilence(const std::vector<std::int16_t>& mix, std::size_t from, std::size_t to) {
  std::size_t run = 0, longest = 0;
  for (std::size_t f = from; f < to && 2 * f + 1 < mix.size(); ++f) {
    run = mix[2 * f] == 0 && mix[2 * f + 1] == 0 ? run + 1 : 0;
    longest = std::max(longest, run);
  }
  return longest;
}

}  // namespace

// The track mixes in blocks of 2500 frames counted from where it starts,
// which puts 25,000 ms (and every multiple) on a block's edge: an item
// that starts there is heard from its time, when the track plays from its
// start and, after a jump to 1000, at 26,000, where it enters by a
// cross-fade with the item before it.
TEST_F(SoundtrackOutput, AnItemOnAMixBlockEdgeIsHeardFromItsTime) {
  const std::string low = Make("sine=frequency=400:sample_rate=44100:duration=2", "-ac 2 -c:a pcm_s16le", "low.wav");
  const std::string high = Make("sine=frequency=700:sample_rate=44100:duration=2", "-ac 2 -c:a pcm_s16le", "high.wav");
  const zm::WideString lowName(low.begin(), low.end()), highName(high.begin(), high.end());
  for (const int from : {0, 1000}) {
    SCOPED_TRACE(from);
    const int edge = 25000 + from;
    TRef<oru::TCompositeParams> track = MakeRef<oru::TCompositeParams>();
    oru::TCompositeItem* before = track->AddItem(lowName, edge - 1000);
    before->Duration = 1500;
    oru::TCompositeItem* item = track->AddItem(highName, edge);
    item->Duration = 1000;
    if (from) {
      // 500 ms of cross-fade, as a show's Cross lays it out.
      oru::TVolumeParams* out = before->Volumes->Add();
      out->AddPoint(1000, 1000);
      out->AddPoint(1500, 0);
      oru::TVolumeParams* in = item->Volumes->Add();
      in->AddPoint(0, 0);
      in->AddPoint(500, 1000);
    } else {
      before->Duration = 1000;
    }
    track->Duration = edge + 1000;
    const std::size_t start = audio_.Mixed().size() / 2;
    TRef<zm::TChannelMusic> c = RefCast<zm::TChannelMusic>(Player()->CreateChannel(track->Save(), std::uint32_t(from)));
    ASSERT_TRUE(c);
    ASSERT_TRUE(c->Play(10));
    // Whole refills at a time: the mix does not care how it is cut.
    for (int t = from; t < edge + 1200; t += 100) {
      clock_.Advance(100);
      audio_.Advance(4410);
      Device()->RefillAll();
    }
    // Mix frame Start is the track's From.
    const std::vector<std::int16_t> l = MixedLeft(start);
    const auto at = [&](int ms) { return std::size_t(std::int64_t(ms - from) * 441 / 10); };
    const double full = SoundtrackLevel(l, at(edge - 600), 4410, 400);
    ASSERT_GT(full, 0.05);
    // Heard from its first ms (its own fade aside), and whole.
    EXPECT_GT(std::abs(int(l[at(edge) + 44])), 0) << "silent where the item starts";
    if (from) {
      EXPECT_NEAR(SoundtrackLevel(l, at(edge + 240), 441, 700) / full, 0.5, 0.1) << "the cross-fade is not heard";
      EXPECT_NEAR(SoundtrackLevel(l, at(edge + 240), 441, 400) / full, 0.5, 0.1);
    } else {
      EXPECT_NEAR(SoundtrackLevel(l, at(edge + 20), 441, 700) / full, 1.0, 0.05) << "the item is not heard";
    }
    EXPECT_NEAR(SoundtrackLevel(l, at(edge + 550), 17640, 700) / full, 1.0, 0.05);
    Drain(c.get());
  }
}

// Files that end before their items, FLAC and Opus, each so that its last
// frame lies 0, 20, 200 or 440 frames past the edge of a mix block: each
// is heard to its own decode's last frame (its fade's last few frames,
// below 2 % of the tone, round to silence), full up to its last 20 ms, and
// ends without a step. So are items shorter than their fades (a 1 ms WAV
// and FLAC file, 5 ms of a longer one): heard for their own length from
// their time, without a step.
TEST_F(SoundtrackOutput, FilesEndingPastABlockEdgeAndShortItemsAreHeardToTheirEnd) {
  struct TItem {
    std::string file;
    int timeLine, duration;
    std::size_t frames;  // of its sound
    double hz;
  };
  std::vector<TItem> items;
  const struct {
    const char* ext;
    const char* args;
    int rate;
  } formats[] = {{"flac", "-c:a flac", 44100}, {"opus", "-c:a libopus", 48000}};
  int k = 0;
  for (const auto& f : formats) {
    for (const int past : {0, 20, 200, 440}) {
      const int timeLine = 500 * (k + 1);  // the track's own fade in apart
      const std::int64_t position = std::int64_t(timeLine) * 441 / 10;
      const std::int64_t frames = 12500 + ((past - position) % 2500 + 2500) % 2500;
      const double hz = 500 + 40 * k;
      const std::string name = "end" + std::to_string(k) + "." + f.ext;
      const std::string file =
          Make("sine=frequency=" + std::to_string(int(hz)) + ":sample_rate=" + std::to_string(f.rate),
               "-af atrim=end_sample=" + std::to_string(frames * f.rate / 44100) + " -ac 2 " + f.args, name);
      // The file's own decode says where its sound ends.
      const std::string decoded = (dir_.Path() / (name + ".wav")).string();
      EXPECT_EQ(RunTool("ffmpeg -hide_banner -loglevel error -y -i " + ShellQuote(file) +
                        " -ar 44100 -c:a pcm_s16le " + ShellQuote(decoded)),
                0);
      items.push_back({file, timeLine, 480, SoundtrackLeftOfWav(decoded).size(), hz});
      ++k;
    }
  }
  const std::string shortFile = Make("sine=frequency=1000:sample_rate=44100:duration=0.001", "-ac 2 -c:a pcm_s16le", "ms1.wav");
  const std::string longFile = Make("sine=frequency=1000:sample_rate=44100:duration=1", "-ac 2 -c:a pcm_s16le", "s1.wav");
  // A FLAC file of one frame, which its demuxer cannot seek.
  const std::string shortFlac = Make("sine=frequency=1000:sample_rate=44100:duration=0.001", "-ac 2 -c:a flac", "ms1.flac");
  items.push_back({shortFile, 500 * (k + 1), 400, 44, 1000});
  items.push_back({longFile, 500 * (k + 2), 5, 220, 1000});
  items.push_back({shortFlac, 500 * (k + 3), 400, 44, 1000});
  TRef<oru::TCompositeParams> track = MakeRef<oru::TCompositeParams>();
  for (const TItem& i : items) track->AddItem(zm::WideString(i.file.begin(), i.file.end()), i.timeLine)->Duration = i.duration;
  track->Duration = items.back().timeLine + 500;
  const std::size_t start = audio_.Mixed().size() / 2;
  TRef<zm::TChannelMusic> c = RefCast<zm::TChannelMusic>(Player()->CreateChannel(track->Save(), zm::kNoStartPosition));
  ASSERT_TRUE(c);
  ASSERT_TRUE(c->Play(10));
  for (int t = 0; t < track->Duration + 200; t += 100) {
    clock_.Advance(100);
    audio_.Advance(4410);
    Device()->RefillAll();
  }
  const std::vector<std::int16_t> l = MixedLeft(start);
  for (const TItem& i : items) {
    SCOPED_TRACE(i.file);
    const std::size_t from = std::size_t(std::int64_t(i.timeLine) * 441 / 10);
    std::size_t first = 0, last = 0;
    for (std::size_t f = from; f < from + 22050 && f < l.size(); ++f)
      if (l[f] != 0) {
        if (!first) first = f;
        last = f;
      }
    ASSERT_GT(last, 0u) << "not heard";
    // A sine's largest step between frames.
    const double tone = 32768 * 2 * std::sin(3.14159265358979323846 * i.hz / 44100.0);
    int peak = 0;
    for (std::size_t f = first; f <= last; ++f) peak = std::max(peak, std::abs(int(l[f])));
    const int ownStep = int(peak / 32768.0 * tone) + 1;
    EXPECT_LE(SoundtrackLargestStep(l, last - std::min<std::size_t>(220, last - first), last + 441), ownStep * 3 / 2)
        << "a step at the end";
    EXPECT_LE(first, from + 1) << "starts late";
    EXPECT_GE(last + 1, from + i.frames - 12) << "its last " << from + i.frames - last - 1 << " frames are not heard";
    EXPECT_LE(last + 1, from + i.frames + 2) << "heard past its end";  // resamplers differ by a frame
    if (i.frames > 4410) EXPECT_GT(SoundtrackLevel(l, from + i.frames - 1764, 441, i.hz) / (peak / 32768.0), 0.9);
  }
  Drain(c.get());
}

// Free-running music that repeats (its options' IsRepeat), a chirp of
// 990 ms, through the player's passes: each loop is heard from
// the file's first sample 990 ms after the one before, within a frame,
// with no silence at the junction but the frames where both fades meet.
TEST_F(SoundtrackOutput, LoopsOfRepeatingMusicFollowOnToTheFrame) {
  const std::string chirp = Make(SoundtrackLoudChirp(0.5, 200, 300, 1), "-c:a pcm_s16le", "loop.wav");
  const std::vector<std::int16_t> source = SoundtrackLeftOfWav(chirp);
  ASSERT_EQ(source.size(), 44100u);
  zmtest::TShowBuilder show;
  show.AddSlide(6000);
  show.Main().Key("opt_repeat", "stop");
  show.Music().Add("O", "TMusicOptions").Key("IsRepeat", 1);
  show.MusicItem(chirp, 990);
  TRef<oru::TOruMusicPlayer> p = orutest::NewPlayer(show);
  auto* output = dynamic_cast<zm::TMusicPlayerClass*>(p->MusicPlayer());
  ASSERT_TRUE(output);
  auto* device = dynamic_cast<zmtest::TManualDevice*>(output->Device());
  ASSERT_TRUE(device);
  // A pass every 20 ms (a busy machine's): a loop's time falls between two.
  const auto run = [&](int ms) {
    for (int t = 0; t < ms; t += 20) {
      orutest::Pass(p.get());
      clock_.Advance(20);
      audio_.Advance(882);
      if (++ticks_ % 5 == 0) device->RefillAll();
    }
  };
  // The show starts a while after the player, whose clock has met the
  // output by then.
  run(100);
  const std::size_t start = audio_.Mixed().size() / 2;
  p->SetRunRequested(true);
  run(4300);
  const std::vector<std::int16_t> l = MixedLeft(start);
  const std::int64_t loop = 990 * 441 / 10;
  // Past both fades each loop is the file itself.
  std::int64_t at = SoundtrackExactAt(l, 0, 2205, source, 882, 4410);
  ASSERT_GE(at, 0) << "the first loop is not the file";
  for (int k = 1; k <= 3; ++k) {
    SCOPED_TRACE(k);
    const std::int64_t next = SoundtrackExactAt(l, at + loop, 441, source, 882, 4410);
    ASSERT_GE(next, 0) << "loop " << k + 1 << " is not the file from its start";
    EXPECT_NEAR(double(next - at), double(loop), 1.0) << "the loop starts " << next - at - loop << " frames off";
    EXPECT_LE(SoundtrackLongestSilence(audio_.Mixed(), start + std::size_t(next) - 441, start + std::size_t(next) + 441), 8u)
        << "silence at the junction";
    at = next;
  }
  // Stopped, its fade played out before the player goes.
  for (oru::TPlayItem* item : p->Items())
    if (auto* sequence = dynamic_cast<oru::TPlaySequence*>(item))
      for (const TRef<oru::TOruChannel>& c : sequence->Channels)
        if (c->AudioChannel) c->AudioChannel->Stop(10);
  for (int t = 0; t < 2500; t += 100) {
    clock_.Advance(100);
    audio_.Advance(4410);
    device->RefillAll();
  }
  p = nullptr;
}

// A jump as the engine makes one: it pauses the show, then sets the new
// time (the new place loading while the output mixes on), then runs again.
// Two loud chirps (0.9 of full scale), from inside the first to inside the
// second: the old place sounds on until the new one comes in and fades out
// as it fades in, so no silence lies between them, and the two together
// are never louder than the louder; 10 ms on the new place sounds alone.
TEST_F(SoundtrackOutput, AJumpFadesTheOldPlaceOutAsTheNewOneComesIn) {
  std::vector<std::int16_t> bSource;
  zmtest::TManualDevice* device = nullptr;
  TRef<oru::TOruMusicPlayer> p = TwoLoudChirps(bSource, device);
  ASSERT_EQ(bSource.size(), 4u * 44100);
  ASSERT_TRUE(device);
  const auto pass = [&] {
    orutest::Pass(p.get());
    clock_.Advance(10);
    audio_.Advance(441);
    if (++ticks_ % 10 == 0) device->RefillAll();
  };
  const std::size_t start = audio_.Mixed().size() / 2;
  pass();
  pass();
  ASSERT_TRUE(p->IsReady());
  p->SetRunRequested(true);
  for (int t = 0; t < 1500; t += 10) pass();

  const std::size_t jumpAt = audio_.Mixed().size() / 2 - start;
  p->SetRunRequested(false);
  pass();
  p->SetTime(-1, 5500);
  for (int i = 0; i < 100 && !p->IsReady(); ++i) pass();
  ASSERT_TRUE(p->IsReady());
  p->SetRunRequested(true);
  orutest::Pass(p.get());
  const std::size_t soughtAt = audio_.Mixed().size() / 2 - start;
  for (int t = 0; t < 500; t += 10) pass();

  const std::vector<std::int16_t>& mix = audio_.Mixed();
  EXPECT_LE(SoundtrackLongestSilence(mix, start + jumpAt, start + soughtAt + 882), 4u)
      << "silence between the old place and the new";
  int before = 0, peak = 0, full = 0;
  for (std::size_t f = start + soughtAt - 441; f < start + soughtAt; ++f)
    before = std::max(before, std::abs(int(mix[2 * f])));
  EXPECT_GT(before, 25000) << "the old place did not sound up to the new one";
  for (std::size_t i = 2 * (start + jumpAt); i < 2 * (start + soughtAt + 4410); ++i) {
    peak = std::max(peak, std::abs(int(mix[i])));
    if (mix[i] >= 32767 || mix[i] <= -32768) ++full;
  }
  EXPECT_EQ(full, 0);
  EXPECT_LE(peak, int(0.95 * 32768)) << "old and new together louder than either";
  const std::vector<std::int16_t> l = MixedLeft(start);
  EXPECT_EQ(SoundtrackExactAt(l, std::int64_t(soughtAt) - 66150, 0, bSource, 66150 + 441, 66150 + 4410),
            std::int64_t(soughtAt) - 66150)
      << "the old place still sounds 10 ms after the new one came in";
  p->SetRunRequested(false);
  for (int t = 0; t < 500; t += 10) pass();
  p = nullptr;
}
