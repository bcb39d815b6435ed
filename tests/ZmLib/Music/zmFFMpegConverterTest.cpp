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
