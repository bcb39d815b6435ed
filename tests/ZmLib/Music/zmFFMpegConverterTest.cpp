// The FFmpeg converter against ffmpeg's own decode of the same files: the
// standard format copied sample for sample, other rates resampled with the
// tone kept, seeks, lossy and lossless codecs, and files it cannot open.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "ZmLib/Graphics/Video/FFMpegReader.h"
#include "ZmLib/Music/zmFFMpegConverter.h"
#include "tests/ZmLib/Music/MusicMediaKit.h"

namespace zm_ffmpeg_converter_test {

using namespace zm;
using namespace zmtest;

class FFMpegConverter : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    if (!HaveTool("ffmpeg")) return;
    media_ = new TMediaDir;
    const auto make = [](const std::string& source, const std::string& args, const std::string& name) {
      const std::string cmd = "ffmpeg -hide_banner -loglevel error -y -f lavfi -i " + ShellQuote(source) + " " + args +
                              " " + ShellQuote((media_->Path() / name).string());
      EXPECT_EQ(RunTool(cmd), 0) << cmd;
    };
    make("sine=frequency=440:sample_rate=44100:duration=1", "-ac 2 -c:a flac", "flac44.flac");
    make("sine=frequency=440:sample_rate=48000:duration=1", "-ac 2 -c:a flac", "flac48.flac");
    make("sine=frequency=440:sample_rate=44100:duration=1", "-ac 2 -c:a aac", "aac.m4a");
    make("sine=frequency=440:sample_rate=48000:duration=1", "-ac 2 -c:a libvorbis -q:a 3", "vorbis.ogg");
    make("sine=frequency=1000:sample_rate=22050:duration=1", "-ac 1 -c:a pcm_s16le", "mono22.wav");
    media_->Write("junk.m4a", std::string(3000, '\x11'));
  }
  static void TearDownTestSuite() {
    delete media_;
    media_ = nullptr;
  }
  void SetUp() override {
    if (!media_) GTEST_SKIP() << "ffmpeg is not installed";
  }

  // ffmpeg's decode as 16-bit interleaved samples in the file's own rate.
  static std::vector<std::int16_t> Reference(const std::string& name) {
    const std::string out = (media_->Path() / (name + ".raw")).string();
    const std::string cmd = "ffmpeg -hide_banner -loglevel error -y -i " +
                            ShellQuote((media_->Path() / name).string()) + " -f s16le " + ShellQuote(out);
    EXPECT_EQ(RunTool(cmd), 0) << cmd;
    const std::vector<std::uint8_t> b = ReadAllBytes(out);
    std::vector<std::int16_t> v(b.size() / 2);
    if (!v.empty()) std::memcpy(v.data(), b.data(), v.size() * 2);
    return v;
  }

  TMediaInfo KindTen() {
    TMediaInfo info{};
    info.Kind = kMediaFFmpeg;
    info.Format = StandardOutputFormat();
    return info;
  }

  // Everything the converter delivers after an optional seek.
  // LeftAt: where (a fraction of its size) the stream stands when the converter gets it.
  std::vector<std::int16_t> Convert(const std::string& name, std::int64_t seekMs = -1, double* decodedMs = nullptr,
                                    bool* resampled = nullptr, double leftAt = 0) {
    TTestStream s = OpenMediaFile(*media_, name);
    if (s) s.get()->SetPosition(std::int64_t(double(s.get()->GetSize()) * leftAt));
    TRef<TFFMpegConverter2> c = MakeRef<TFFMpegConverter2>(media_->Wide(name));
    c->Stream = s.get();
    if (!c->SetInputFormat(KindTen())) return {};
    if (resampled) *resampled = c->DecodedResampler() != nullptr;
    if (seekMs >= 0) c->Seek(seekMs);
    if (decodedMs) *decodedMs = c->DecodedMs();
    std::vector<std::uint8_t> all;
    for (int i = 0; i < 100000 && c->ReadInput() && c->Convert(c->Input()); ++i) {
      all.insert(all.end(), c->Output().Data(), c->Output().Data() + c->Output().Length());
      c->Output().Consume(c->Output().Length());
    }
    std::vector<std::int16_t> v(all.size() / 2);
    if (!v.empty()) std::memcpy(v.data(), all.data(), v.size() * 2);
    return v;
  }

  static std::vector<double> Left(const std::vector<std::int16_t>& v) {
    return Channel(ToDouble16(v.data(), v.size()), 2, 0);
  }

  static TMediaDir* media_;
};

TMediaDir* FFMpegConverter::media_ = nullptr;

TEST_F(FFMpegConverter, TheStandardFormatIsCopiedSampleForSampleAndSeeksLandWithinAFrame) {
  const std::vector<std::int16_t> ref = Reference("flac44.flac");
  bool resampled = true;
  const std::vector<std::int16_t> got = Convert("flac44.flac", -1, nullptr, &resampled);
  EXPECT_FALSE(resampled);
  ASSERT_EQ(got.size(), ref.size());
  EXPECT_TRUE(got == ref);

  // After a seek the output is the reference from a point within one FLAC
  // frame (4608 samples at most) of the target.
  double at = -1;
  const std::vector<std::int16_t> tail = Convert("flac44.flac", 500, &at);
  EXPECT_DOUBLE_EQ(at, 500.0);
  ASSERT_GT(tail.size(), 256u);
  const std::int64_t target = 22050, frame = 4608;
  std::int64_t found = -1;
  for (std::int64_t f = std::max<std::int64_t>(0, target - frame); f <= target + frame && found < 0; ++f) {
    if (std::size_t(f * 2 + 256) <= ref.size() && std::equal(tail.begin(), tail.begin() + 256, ref.begin() + f * 2))
      found = f;
  }
  EXPECT_GE(found, 0);
  // Past the end: nothing, and no failure.
  EXPECT_LT(Convert("flac44.flac", 5000).size(), 2u * 4608);
}

TEST_F(FFMpegConverter, OtherRatesAndChannelsAreResampledWithTheToneKept) {
  struct TCase {
    const char* name;
    double frequency;
    double level;
  // ffmpeg's sine source is at 1/8; spread over two channels 3 dB less each.
  } cases[] = {{"flac48.flac", 440, 0.125 * std::sqrt(0.5)}, {"mono22.wav", 1000, 0.125}};
  for (const TCase& t : cases) {
    bool resampled = false;
    const std::vector<std::int16_t> got = Convert(t.name, -1, nullptr, &resampled);
    EXPECT_TRUE(resampled) << t.name;
    EXPECT_NEAR(double(got.size()) / 2, 44100.0, 50.0) << t.name;
    const TSineFit fit = FitSine(Left(got), 44100);
    EXPECT_NEAR(fit.Frequency, t.frequency, 0.5) << t.name;
    EXPECT_NEAR(fit.Level, t.level, 0.005) << t.name;
    EXPECT_LT(fit.Residual, 0.002) << t.name;
  }
}

TEST_F(FFMpegConverter, LossyAndLosslessCodecsMatchFFmpegsOwnDecode) {
  // Same rate: the samples themselves, within a few steps.
  {
    const std::vector<std::int16_t> ref = Reference("aac.m4a");
    const std::vector<std::int16_t> got = Convert("aac.m4a");
    ASSERT_FALSE(got.empty());
    EXPECT_NEAR(double(got.size()), double(ref.size()), 2.0 * 1024);
    int worst = 0;
    for (std::size_t i = 0; i < std::min(got.size(), ref.size()); ++i) worst = std::max(worst, std::abs(got[i] - ref[i]));
    EXPECT_LE(worst, 2);
  }
  // Other rates: the same tone, level and length as ffmpeg's decode in the file's rate.
  for (const char* name : {"vorbis.ogg", "flac48.flac"}) {
    const std::vector<std::int16_t> ref = Reference(name);
    const std::vector<std::int16_t> got = Convert(name);
    const TSineFit want = FitSine(Left(ref), 48000), have = FitSine(Left(got), 44100);
    EXPECT_NEAR(have.Frequency, want.Frequency, 0.5) << name;
    EXPECT_NEAR(have.Level, want.Level, 0.01 * want.Level + 0.001) << name;
    EXPECT_NEAR(double(got.size()) / 2 / 44.1, double(ref.size()) / 2 / 48.0, 5.0) << name;
  }
}

// The lag (in samples, within +-Range) at which Got (stereo) best matches
// Source (stereo) from SourceFrom on, over 0.2 s from its tenth of a second;
// Corr gets the correlation there.
int BestLagOf(const std::vector<std::int16_t>& got, const std::vector<std::int16_t>& source, std::size_t sourceFrom,
              double* corr = nullptr, int range = 200) {
  const std::size_t from = 4410, n = 8820;
  int best = 9999;
  double bestC = -2;
  for (int lag = -range; lag <= range; ++lag) {
    double ab = 0, aa = 0, bb = 0;
    for (std::size_t i = from; i < from + n && 2 * (sourceFrom + i + std::size_t(lag)) < source.size() && 2 * i < got.size(); ++i) {
      const double a = got[2 * i], b = source[2 * (sourceFrom + i + std::size_t(lag))];
      ab += a * b;
      aa += a * a;
      bb += b * b;
    }
    const double c = aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : -1;
    if (c > bestC) {
      bestC = c;
      best = lag;
    }
  }
  if (corr) *corr = bestC;
  return best;
}

// The codecs' priming samples (AAC's encoder delay, Opus's pre-skip) are
// not heard: the sound decoded whole, or from a seek to 0 (also one made
// after decoding, when the codec has no fresh start), lies where the
// source's does; a seek lands on the place's sample. Against the source
// made at 44100 Hz (a 48000 Hz codec's sound is resampled: within a sample).
TEST_F(FFMpegConverter, PrimingIsSkippedAndSeeksLandOnTheSample) {
  const auto make = [](const std::string& source, const std::string& args, const std::string& name) {
    const std::string cmd = "ffmpeg -hide_banner -loglevel error -y -f lavfi -i " + ShellQuote(source) + " " + args +
                            " " + ShellQuote((media_->Path() / name).string());
    ASSERT_EQ(RunTool(cmd), 0) << cmd;
  };
  // A chirp: no stretch of it looks like another at another lag. A tone
  // of 1.5 s: the AAC encoder's priming then falls so that a seek to the
  // first whole packet misses it.
  const auto chirp = [](int rate) {
    return "aevalsrc=0.5*sin(2*PI*(200*t+40*t*t)):s=" + std::to_string(rate) + ":d=3";
  };
  ASSERT_NO_FATAL_FAILURE(make(chirp(44100), "-ac 2 -c:a pcm_s16le", "chirp44.wav"));
  const std::vector<std::int16_t> source = Reference("chirp44.wav");
  ASSERT_EQ(source.size(), 2u * 3 * 44100);
  struct TCase {
    const char* name;
    int rate;
    const char* args;
  } cases[] = {
      {"chirp.m4a", 44100, "-ac 2 -c:a aac"},        {"chirp.opus", 48000, "-ac 2 -c:a libopus"},
      {"chirp.ogg", 44100, "-ac 2 -c:a libvorbis"},  {"chirp48.ogg", 48000, "-ac 2 -c:a libvorbis"},
      {"chirp.flac", 44100, "-ac 2 -c:a flac"},
  };
  for (const TCase& k : cases) {
    SCOPED_TRACE(k.name);
    ASSERT_NO_FATAL_FAILURE(make(chirp(k.rate), k.args, k.name));
    const int slack = k.rate == 44100 ? 0 : 1;
    double c = 0;
    const std::vector<std::int16_t> whole = Convert(k.name);
    EXPECT_LE(std::abs(BestLagOf(whole, source, 0, &c)), slack);
    EXPECT_GT(c, 0.99);
    // The end: the last packet's padding may follow (AAC's: up to 1024).
    EXPECT_GE(double(whole.size()) / 2, 3.0 * 44100 - 1);
    EXPECT_LE(double(whole.size()) / 2, 3.0 * 44100 + 1024 * 44100.0 / k.rate + 1);
    const std::vector<std::int16_t> fromZero = Convert(k.name, 0);
    EXPECT_LE(std::abs(BestLagOf(fromZero, source, 0, &c)), slack);
    EXPECT_EQ(fromZero.size(), whole.size());
    double at = -1;
    const std::vector<std::int16_t> sought = Convert(k.name, 1234, &at);
    EXPECT_DOUBLE_EQ(at, 1234.0);
    EXPECT_LE(std::abs(BestLagOf(sought, source, 54419, &c)), slack);
    EXPECT_GT(c, 0.99);
    EXPECT_NEAR(double(sought.size()), double(whole.size()) - 2 * 54419.0, 2.0 + 2 * slack);
  }
  // Back to 0 after decoding a while, and to a place again.
  ASSERT_NO_FATAL_FAILURE(make("sine=frequency=440:sample_rate=44100:duration=1.5", "-ac 2 -c:a aac", "tone.m4a"));
  for (const char* name : {"tone.m4a", "chirp.opus"}) {
    SCOPED_TRACE(name);
    const std::vector<std::int16_t> whole = Convert(name);
    TTestStream st = OpenMediaFile(*media_, name);
    TRef<TFFMpegConverter2> conv = MakeRef<TFFMpegConverter2>(media_->Wide(name));
    conv->Stream = st.get();
    ASSERT_TRUE(conv->SetInputFormat(KindTen()));
    for (const std::int64_t ms : {std::int64_t(0), std::int64_t(700), std::int64_t(0)}) {
      ASSERT_TRUE(conv->Fill(44100 * 4 / 2));
      conv->Seek(ms);
      ASSERT_TRUE(conv->Fill(4 * 22050));
      const auto* p = reinterpret_cast<const std::int16_t*>(conv->Output().Data());
      const std::vector<std::int16_t> got(p, p + 2 * 22050);
      const std::size_t from = std::size_t(ms) * 441 / 10 * 2;
      // A file of another rate: the rate converter starts afresh at the
      // new place, its first millisecond coming up from silence.
      const std::size_t settle = std::string(name) == "chirp.opus" && ms > 0 ? 2 * 44 : 0;
      int worst = 0;
      for (std::size_t i = settle; i < got.size(); ++i) worst = std::max(worst, std::abs(got[i] - whole[from + i]));
      // The same samples as the decode from the start, within the steps a
      // codec's fresh start may leave.
      EXPECT_LE(worst, 64) << ms;
    }
  }
}

// Whoever read the stream before (its media information) leaves it part way
// or at its end: FFmpeg still reads the file from its first byte.
TEST_F(FFMpegConverter, AStreamLeftAnywhereIsReadFromItsFirstByte) {
  for (const char* name : {"vorbis.ogg", "flac48.flac", "aac.m4a"}) {
    const std::vector<std::int16_t> whole = Convert(name);
    ASSERT_GT(whole.size(), 44100u) << name;
    for (double at : {0.5, 1.0}) EXPECT_TRUE(Convert(name, -1, nullptr, nullptr, at) == whole) << name << " " << at;
  }
}

TEST_F(FFMpegConverter, AFileFFmpegCannotOpenIsRefused) {
  TTestStream s = OpenMediaFile(*media_, "junk.m4a");
  TRef<TFFMpegConverter2> c = MakeRef<TFFMpegConverter2>(media_->Wide("junk.m4a"));
  c->Stream = s.get();
  EXPECT_FALSE(c->SetInputFormat(KindTen()));
  // Seeking a converter without audio changes nothing.
  c->Seek(100);
  EXPECT_DOUBLE_EQ(c->DecodedMs(), 0.0);
  // No stream at all.
  TRef<TFFMpegConverter2> none = MakeRef<TFFMpegConverter2>(u"none.m4a");
  EXPECT_FALSE(none->SetInputFormat(KindTen()));
}

}  // namespace zm_ffmpeg_converter_test

namespace zm_ffmpeg_converter_test {

// Vorbis changes its block size at every click, and FFmpeg times the chunk
// after such a change off by part of a block (448 frames at 48 kHz): seeks
// to places where that chunk is the one reaching the place (here 200 to 410
// frames early before) land on the place's sample all the same, as the
// converter's decode from the start has it (within a frame of the
// resampler).
TEST_F(FFMpegConverter, SeeksLandOnTheSampleWhereVorbisTimesAChunkOff) {
  const std::string name = "clicks48.ogg";
  const std::string cmd =
      "ffmpeg -hide_banner -loglevel error -y -f lavfi -i " +
      ShellQuote("aevalsrc=0.3*sin(2*PI*440*t)+if(lt(mod(t\\,0.137)\\,0.002)\\,0.6\\,0)+0.1*(random(0)-0.5):s=44100:d=8") +
      " -ar 48000 -ac 2 -c:a libvorbis " + ShellQuote((media_->Path() / name).string());
  ASSERT_EQ(RunTool(cmd), 0) << cmd;
  const std::vector<std::int16_t> whole = Convert(name);
  ASSERT_GT(whole.size(), 2u * 7 * 44100);
  TTestStream st = OpenMediaFile(*media_, name);
  TRef<TFFMpegConverter2> conv = MakeRef<TFFMpegConverter2>(media_->Wide(name));
  conv->Stream = st.get();
  ASSERT_TRUE(conv->SetInputFormat(KindTen()));
  int worst = 0;
  for (const std::int64_t ms : {std::int64_t(3140), std::int64_t(3560), std::int64_t(6430), std::int64_t(3560)}) {
    conv->Seek(ms);
    ASSERT_TRUE(conv->Fill(4 * 13230));
    const auto* p = reinterpret_cast<const std::int16_t*>(conv->Output().Data());
    const std::vector<std::int16_t> got(p, p + 2 * 13230);
    double c = 0;
    const int lag = BestLagOf(got, whole, std::size_t(ms * 441 / 10), &c, 600);
    EXPECT_LE(std::abs(lag), 1) << "sought to " << ms << " ms, landed " << lag << " frames off";
    EXPECT_GT(c, 0.99) << ms;
    worst = std::max(worst, std::abs(lag));
  }
  EXPECT_LE(worst, 1);
}

}  // namespace zm_ffmpeg_converter_test
