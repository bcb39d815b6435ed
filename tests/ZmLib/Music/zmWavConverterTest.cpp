#include "ZmLib/Music/zmWavConverter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <cstring>
#include <string>
#include <vector>

#include "ZmLib/Music/zmPcmResampler.h"
#include "tests/ZmLib/Music/MusicMediaKit.h"

using namespace zm;
using zmtest::TWavLayout;

namespace wavconvtest {

// A converter set up on the WAV bytes, the way the channel does it.
struct TConverterRun {
  zmtest::TTestStream stream;
  TMediaInfo info{};
  TRef<TWavConverter> conv = MakeRef<TWavConverter>();

  explicit TConverterRun(const std::string& wav) : stream(zmtest::MemoryMedia(wav)) {
    EXPECT_TRUE(TMediaInfoExtractor().Extract(stream.get(), u"t.wav", info));
    conv->Stream = stream.get();
    EXPECT_TRUE(conv->SetInputFormat(info));
  }
  // Everything the data decodes to.
  std::string DecodeAll() {
    while (conv->ReadInput()) EXPECT_TRUE(conv->Convert(conv->Input()));
    std::string out(reinterpret_cast<const char*>(conv->Output().Data()), std::size_t(conv->Output().Length()));
    conv->Output().Consume(conv->Output().Length());
    return out;
  }
};

TWaveFormatEx Format(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate, std::uint16_t bits) {
  const std::uint16_t align = std::uint16_t(channels * (bits / 8));
  return TWaveFormatEx{tag, channels, rate, rate * align, align, bits, 0};
}

std::vector<std::int16_t> AsInt16(const std::string& bytes) {
  std::vector<std::int16_t> v(bytes.size() / 2);
  if (!v.empty()) std::memcpy(v.data(), bytes.data(), v.size() * 2);
  return v;
}

// Resamples bytes in pieces of the given sizes (cycled; one piece of
// everything when empty), then flushes what the filter holds.
std::string Resample(TPcmResampler& r, const TWaveFormatEx& in, const TWaveFormatEx& out, const std::string& bytes,
                     const std::vector<std::size_t>& pieces = {}) {
  std::string result;
  std::size_t at = 0, k = 0;
  while (at < bytes.size()) {
    const std::size_t n = pieces.empty() ? bytes.size() : std::min(pieces[k++ % pieces.size()], bytes.size() - at);
    const std::int32_t most = r.Prepare(in, out, std::int32_t(n));
    std::string o(std::size_t(std::max(most, 0)), '\x55');
    const std::int32_t made =
        r.Resample(reinterpret_cast<const std::uint8_t*>(bytes.data() + at), reinterpret_cast<std::uint8_t*>(o.data()));
    EXPECT_LE(made, most);
    result += o.substr(0, std::size_t(std::max(made, 0)));
    at += n;
  }
  std::string tail(std::size_t(r.FlushSize()), '\x55');
  const std::int32_t made = r.Flush(reinterpret_cast<std::uint8_t*>(tail.data()));
  EXPECT_LE(std::size_t(made), tail.size());
  return result + tail.substr(0, std::size_t(std::max(made, 0)));
}

// The left channel of 16-bit stereo bytes, in [-1, 1].
std::vector<double> LeftOf(const std::string& bytes) {
  return zmtest::Channel(zmtest::Pcm16ToDouble(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), 2,
                         0);
}

TEST(WavConverter, EachDepthDecodesSampleExact) {
  struct TCase {
    std::uint16_t tag, bits, channels;
    std::uint32_t rate;
  };
  for (const TCase& c : {TCase{1, 8, 1, 22050}, TCase{1, 16, 2, 44100}, TCase{1, 16, 1, 8000}, TCase{1, 24, 2, 44100},
                         TCase{1, 24, 1, 44100}, TCase{1, 32, 2, 44100}, TCase{3, 32, 2, 44100}, TCase{3, 32, 1, 44100}}) {
    SCOPED_TRACE(testing::Message() << "tag " << c.tag << " bits " << c.bits << " channels " << c.channels);
    // Odd frame count, full scale at both ends: every rounding edge shows.
    std::vector<double> samples = zmtest::Sine(5001, c.channels, c.rate, 997, 0.9);
    samples[0] = -1.0;
    samples[1] = 1.0;
    TWavLayout w;
    w.Tag = c.tag;
    w.Bits = c.bits;
    w.Channels = c.channels;
    w.Rate = c.rate;
    const std::string pcm = zmtest::EncodeSamples(samples, c.bits, c.tag == 3);
    TConverterRun run(zmtest::MakeWav(w, pcm));
    const std::string out = run.DecodeAll();
    if (c.bits <= 16) {
      // What a sound ring takes passes untouched.
      EXPECT_EQ(run.conv->Resampler(), nullptr);
      EXPECT_EQ(out, pcm);
      continue;
    }
    ASSERT_NE(run.conv->Resampler(), nullptr);
    const std::vector<std::int16_t> got = AsInt16(out);
    ASSERT_EQ(got.size(), 5001u * 2);
    for (std::size_t i = 0; i < 5001; ++i) {
      for (std::size_t ch = 0; ch < 2; ++ch) {
        const double v = std::clamp(samples[i * c.channels + (c.channels == 2 ? ch : 0)], -1.0, 1.0);
        std::int32_t want;
        if (c.tag == 3) {
          want = std::int32_t(std::lrint(double(float(v)) * 32767.0));
        } else {
          // The top 16 bits of the stored integer.
          const double scale = std::ldexp(1.0, c.bits - 1);
          const std::int64_t q = std::clamp<std::int64_t>(std::llround(v * scale), -std::int64_t(scale),
                                                          std::int64_t(scale) - 1);
          want = std::int32_t(q >> (c.bits - 16));
        }
        ASSERT_EQ(got[i * 2 + ch], want) << "frame " << i << " channel " << ch;
      }
    }
  }
}

TEST(WavConverter, BlocksResamplerAndSilenceAtTheEnd) {
  // 44100 Hz 16-bit stereo: no resampler, 4096-byte blocks; the bytes after
  // the data chunk are never played.
  std::string wav = zmtest::MakeWav(TWavLayout{}, std::string(1000, '\x07')) + "LIST" + std::string(40, '\x7F');
  TConverterRun run(wav);
  EXPECT_EQ(run.conv->Resampler(), nullptr);
  EXPECT_EQ(run.conv->BlockSize(), 4096);
  EXPECT_GE(run.conv->Input().Capacity(), 4096);
  ASSERT_TRUE(run.conv->Fill(4096));
  TLocalBuffer& out = run.conv->Output();
  ASSERT_EQ(out.Length(), 4096);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.Data()), 1000), std::string(1000, '\x07'));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.Data()) + 1000, 3096), std::string(3096, '\0'));
  EXPECT_NEAR(run.conv->DecodedMs(), 1000 * 1000.0 / 176400, 1e-9);
  // Enough already: nothing read.
  EXPECT_TRUE(run.conv->Fill(100));
  out.Consume(out.Length());
  EXPECT_FALSE(run.conv->Fill(64));
  EXPECT_EQ(out.Length(), 64);

  // 8-bit silence is 128.
  TWavLayout u8;
  u8.Bits = 8;
  u8.Channels = 1;
  TConverterRun run8(zmtest::MakeWav(u8, std::string(3, '\x90')));
  ASSERT_TRUE(run8.conv->Fill(8));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(run8.conv->Output().Data()), 8), "\x90\x90\x90\x80\x80\x80\x80\x80");

  // 24 bits: 12288-byte blocks, resampled to the standard output format.
  TWavLayout w24;
  w24.Bits = 24;
  TConverterRun run24(zmtest::MakeWav(w24, std::string(6 * 3000, '\0')));
  EXPECT_EQ(run24.conv->BlockSize(), 12288);
  EXPECT_GE(run24.conv->Input().Capacity(), 12288);
  ASSERT_NE(run24.conv->Resampler(), nullptr);
  EXPECT_EQ(std::memcmp(&run24.conv->OutputFormat(), &StandardOutputFormat(), sizeof(TWaveFormatEx)), 0);
  EXPECT_EQ(std::memcmp(&run24.conv->Output().Format, &StandardOutputFormat(), sizeof(TWaveFormatEx)), 0);
  EXPECT_EQ(run24.DecodeAll().size(), 4u * 3000);

  // A record of nothing: silence, never a read outside the data.
  auto empty = MakeRef<TWavConverter>();
  TMediaInfo none{};
  EXPECT_TRUE(empty->SetInputFormat(none));
  EXPECT_FALSE(empty->Fill(16));
  EXPECT_EQ(empty->Output().Length(), 16);
  EXPECT_FALSE(empty->Fill(1 << 30));
}

TEST(WavConverter, SeekLandsOnWholeBlocksAndResumesThere) {
  TWavLayout w;
  w.Bits = 24;  // 6-byte blocks, 264600 bytes a second
  std::vector<double> samples(2 * 4410);
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = double(i % 1000) / 1000.0 - 0.5;
  const std::string pcm = zmtest::EncodeSamples(samples, 24);
  TConverterRun run(zmtest::MakeWav(w, pcm));
  const std::int64_t offset = run.info.DataOffset;
  TStream* s = run.stream.get();

  run.conv->Fill(4000);
  run.conv->Seek(1);  // 264.6 bytes: rounded to 265, then down to 264
  EXPECT_EQ(s->GetPosition(), offset + 264);
  EXPECT_EQ(run.conv->Output().Length(), 0);
  EXPECT_EQ(run.conv->DecodedMs(), 1.0);
  // The first frame after the seek is frame 44, not a blend with what came before.
  const std::vector<std::int16_t> got = AsInt16(run.DecodeAll());
  ASSERT_EQ(got.size(), 2u * (4410 - 44));
  EXPECT_EQ(got[0], std::int16_t(std::llround(samples[88] * 8388608.0) >> 8));

  run.conv->Seek(-50);
  EXPECT_EQ(s->GetPosition(), offset);
  run.conv->Seek(INT64_MAX);
  EXPECT_EQ(s->GetPosition(), offset + std::int64_t(pcm.size()));
  EXPECT_FALSE(run.conv->ReadInput());
}

TEST(PcmResampler, MonoAt22050BecomesTwiceTheFramesOnBothChannels) {
  const TWaveFormatEx in = Format(1, 1, 22050, 16), out = StandardOutputFormat();
  const std::string bytes = zmtest::EncodeSamples(zmtest::Sine(1001, 1, 22050, 1000, 0.5), 16);
  TPcmResampler r;
  const std::vector<std::int16_t> got = AsInt16(Resample(r, in, out, bytes));
  ASSERT_EQ(got.size(), 2u * 2 * 1001);
  for (std::size_t j = 0; j < got.size() / 2; ++j) ASSERT_EQ(got[2 * j], got[2 * j + 1]) << j;
  // Output frame 2k is input frame k: away from the ends, the same sample.
  for (std::size_t k = 100; k < 900; ++k)
    ASSERT_NEAR(got[4 * k], std::lrint(0.5 * 32768 * std::sin(2 * std::numbers::pi * 1000 * double(k) / 22050)), 8)
        << k;
}

TEST(PcmResampler, SinesKeepFrequencyAndLevelAndPiecesJoinWithoutClicks) {
  for (std::uint32_t rate : {48000u, 22050u}) {
    SCOPED_TRACE(rate);
    const TWaveFormatEx in = Format(1, 2, rate, 16), out = StandardOutputFormat();
    const std::string bytes = zmtest::EncodeSamples(zmtest::Sine(rate, 2, rate, 1000, 0.5), 16);
    TPcmResampler whole, pieces;
    const std::string once = Resample(whole, in, out, bytes);
    EXPECT_EQ(once.size(), 4u * 44100);
    // Odd pieces cut frames and samples apart; the joins must not show.
    EXPECT_EQ(Resample(pieces, in, out, bytes, {1, 7, 333, 4093, 2, 1001}), once);

    // Within the edges, where the tone comes up from silence and goes back
    // to it with the filter's ripple.
    std::vector<double> left = LeftOf(once);
    left = std::vector<double>(left.begin() + 100, left.end() - 100);
    const zmtest::TSineFit fit = zmtest::FitSine(left, 44100);
    EXPECT_NEAR(fit.Frequency, 1000, 0.05);
    EXPECT_NEAR(fit.Level, 0.5, 0.005);
    EXPECT_LT(fit.MaxError, 0.005);
  }
}

// A tone below 0.45 of its file's rate comes out with nothing else within
// 60 dB of it; one above half the output's rate, which nobody hears, at
// -60 dBFS at most (it would fold back as an audible alias otherwise).
TEST(PcmResampler, OtherRatesComeOutWithoutAliasesOrImages) {
  struct TCase {
    std::uint32_t rate;
    double hz;
  };
  for (const TCase& c : {TCase{8000, 3000}, TCase{8000, 3500}, TCase{22050, 9000}, TCase{48000, 10000},
                         TCase{48000, 21000}, TCase{48000, 23000}, TCase{96000, 30000}, TCase{96000, 40000}}) {
    SCOPED_TRACE(testing::Message() << c.hz << " Hz at " << c.rate);
    const std::int64_t frames = std::int64_t(c.rate) / 2;
    TPcmResampler r;
    const std::string out = Resample(r, Format(1, 2, c.rate, 16), StandardOutputFormat(),
                                     zmtest::EncodeSamples(zmtest::Sine(frames, 2, c.rate, c.hz, 0.5), 16));
    // Past the tone's start, where it comes up from silence.
    const std::vector<double> left = LeftOf(out);
    ASSERT_GT(left.size(), 2000u + 16384u);
    const std::vector<double> window(left.begin() + 2000, left.begin() + 2000 + 16384);
    const zmtest::TSpectrum sp = zmtest::SpectrumOf(window, 44100);
    double where = 0;
    if (c.hz < 22050) {
      const double tone = zmtest::Decibels(zmtest::ToneLevel(window, 44100, c.hz));
      if (c.hz < 20000) EXPECT_NEAR(tone, zmtest::Decibels(0.5), 0.1);
      const double other = zmtest::Decibels(sp.LargestAway({c.hz}, 20, &where));
      EXPECT_LT(other, tone - 60) << "at " << where << " Hz";
    } else {
      EXPECT_LT(zmtest::Decibels(sp.LargestAway({}, 0, &where)), -60) << "at " << where << " Hz";
    }
  }
}

// Output frame k lies at input time k * in / out: a click keeps its place
// within a frame, and the whole keeps its length, also from a new start.
TEST(PcmResampler, PlacesAndLengthsStayWithinAFrame) {
  for (std::uint32_t rate : {8000u, 11025u, 32000u, 48000u, 96000u}) {
    SCOPED_TRACE(rate);
    const std::int64_t frames = rate;
    std::vector<double> samples(std::size_t(frames) * 2, 0.0);
    const std::int64_t click = rate / 3;
    samples[std::size_t(2 * click)] = samples[std::size_t(2 * click + 1)] = 0.9;
    const std::string bytes = zmtest::EncodeSamples(samples, 16);
    TPcmResampler r;
    for (int pass = 0; pass < 2; ++pass) {
      if (pass) r.Reset();
      const std::vector<double> left = LeftOf(Resample(r, Format(1, 2, rate, 16), StandardOutputFormat(), bytes));
      EXPECT_NEAR(double(left.size()), double(frames) * 44100 / rate, 1.0);
      const auto peak = std::max_element(left.begin(), left.end());
      EXPECT_NEAR(double(peak - left.begin()), double(click) * 44100 / rate, 1.0);
    }
  }
}

TEST(PcmResampler, FoldsWiderLayoutsAndRefusesWhatItCannotConvert) {
  // 5.1 (front left, right, centre, low frequency, back left, right): each
  // front on its side, the centre on both and the backs on theirs at -3 dB,
  // the low frequency left out; scaled so full scale everywhere is full
  // scale at most.
  const double k = 1 / (1 + 2 * 0.70710678);
  const std::int16_t six[12] = {1000, 2000, 3000, 4000, 5000, 6000, 32767, 32767, 32767, 32767, 32767, 32767};
  const std::string bytes(reinterpret_cast<const char*>(six), sizeof six);
  TPcmResampler r;
  std::vector<std::int16_t> got = AsInt16(Resample(r, Format(1, 6, 44100, 16), StandardOutputFormat(), bytes));
  ASSERT_EQ(got.size(), 4u);
  EXPECT_NEAR(got[0], (1000 + 0.70710678 * (3000 + 5000)) * k, 1);
  EXPECT_NEAR(got[1], (2000 + 0.70710678 * (3000 + 6000)) * k, 1);
  EXPECT_EQ(got[2], 32767);
  EXPECT_EQ(got[3], 32767);
  got = AsInt16(Resample(r, Format(1, 6, 44100, 16), Format(1, 1, 44100, 16), bytes));
  ASSERT_EQ(got.size(), 2u);
  EXPECT_NEAR(got[0], (1000 + 2000 + 0.70710678 * (2 * 3000 + 5000 + 6000)) * k / 2, 1);
  const std::string eight = Resample(r, Format(1, 6, 44100, 16), Format(1, 2, 44100, 8), bytes);
  ASSERT_EQ(eight.size(), 4u);
  EXPECT_EQ(std::uint8_t(eight[2]), 0xFF);

  // A mask names the speakers: side instead of back, and a quad layout.
  r.SetChannelMask(0x60F);  // front left, right, centre, low frequency, side left, right
  got = AsInt16(Resample(r, Format(1, 6, 44100, 16), StandardOutputFormat(), bytes));
  ASSERT_EQ(got.size(), 4u);
  EXPECT_NEAR(got[0], (1000 + 0.70710678 * (3000 + 5000)) * k, 1);
  r.SetChannelMask(0x33);  // front left, right, back left, right
  const std::int16_t quad[4] = {1000, 2000, 3000, 4000};
  got = AsInt16(Resample(r, Format(1, 4, 44100, 16), StandardOutputFormat(),
                         std::string(reinterpret_cast<const char*>(quad), sizeof quad)));
  ASSERT_EQ(got.size(), 2u);
  EXPECT_NEAR(got[0], (1000 + 0.70710678 * 3000) / (1 + 0.70710678), 1);
  EXPECT_NEAR(got[1], (2000 + 0.70710678 * 4000) / (1 + 0.70710678), 1);
  r.SetChannelMask(0);

  for (const auto& [in, out] : {std::pair{Format(1, 2, 0, 16), StandardOutputFormat()},
                                std::pair{Format(1, 2, 44100, 16), Format(1, 2, 0, 16)},
                                std::pair{Format(1, 2, 44100, 12), StandardOutputFormat()},
                                std::pair{Format(1, 0, 44100, 16), StandardOutputFormat()},
                                std::pair{Format(3, 2, 44100, 16), StandardOutputFormat()},
                                std::pair{Format(1, 2, 44100, 16), Format(1, 2, 44100, 24)},
                                std::pair{Format(1, 2, 999, 16), StandardOutputFormat()}}) {
    EXPECT_EQ(r.Prepare(in, out, 4096), 0);
    EXPECT_EQ(r.Resample(reinterpret_cast<const std::uint8_t*>(bytes.data()), nullptr), 0);
    EXPECT_EQ(r.FlushSize(), 0);
  }
  EXPECT_EQ(r.Prepare(StandardOutputFormat(), Format(1, 2, 48000, 16), -4), 0);
}

}  // namespace wavconvtest
