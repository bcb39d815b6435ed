#include "ZmLib/Music/zmMpegConverter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/ZmLib/Music/MusicMediaKit.h"

using namespace zm;

namespace mpegconv_test {

using namespace zmtest;
using Pcm = std::vector<std::int16_t>;

// 3 s of a 440 Hz sine at rate with channels, encoded by ffmpeg with args;
// a chirp of seconds instead when given (no stretch of it repeats another).
bool Encode(const TMediaDir& dir, const std::string& name, const std::string& args, int rate = 44100, int channels = 2,
            int seconds = 0) {
  const std::string r = std::to_string(rate);
  const std::string src = seconds == 0 ? "sine=frequency=440:sample_rate=" + r + ":duration=3"
                                       : "aevalsrc=0.5*sin(2*PI*(200*t+40*t*t)):s=" + r + ":d=" + std::to_string(seconds);
  return RunTool("ffmpeg -hide_banner -loglevel error -y -f lavfi -i " + ShellQuote(src) + " -ac " +
                 std::to_string(channels) + " " + args + " " + ShellQuote((dir.Path() / name).string())) == 0;
}

Pcm ToPcm(const std::vector<std::uint8_t>& b) {
  Pcm p(b.size() / 2);
  if (!p.empty()) std::memcpy(p.data(), b.data(), p.size() * 2);
  return p;
}

// What the mpg123 program makes of the file: with its gapless decoding (the
// encoder's delay and padding dropped where the encoder's tag tells them),
// or whole frames.
Pcm ReferenceDecode(const TMediaDir& dir, const std::string& name, bool gapless = true) {
  const std::string out = (dir.Path() / (name + ".ref.raw")).string();
  const std::string cmd = std::string("mpg123 -q -s ") + (gapless ? "" : "--no-gapless ") +
                          ShellQuote((dir.Path() / name).string()) + " > " + ShellQuote(out) + " 2>/dev/null";
  if (std::system(cmd.c_str()) != 0) return {};
  return ToPcm(ReadAllBytes(out));
}

// Samples a Layer III decoder gives before the sound of an MP3 without the
// encoder's tag: the encoder's usual delay and its own.
constexpr std::size_t kUntaggedDelay = 576 + 529;

// Audio frames from offset on, without the Xing/Info frame (which carries no sound).
std::int64_t CountFrames(const std::vector<std::uint8_t>& file, std::size_t offset, std::int32_t& samplesPerFrame) {
  std::int64_t frames = 0;
  std::size_t p = offset;
  TMpegHeader h;
  while (p + 4 <= file.size() && ParseMpegHeader(&file[p], h) && p + std::size_t(h.FrameLength) <= file.size()) {
    const bool mono = h.ChannelMode == 3;
    const std::size_t at = p + (h.Version == 3 ? (mono ? 21 : 36) : (mono ? 13 : 21));
    const bool info = frames == 0 && h.Layer == 1 && at + 4 <= file.size() &&
                      (std::memcmp(&file[at], "Xing", 4) == 0 || std::memcmp(&file[at], "Info", 4) == 0);
    if (!info) ++frames;
    samplesPerFrame = h.SamplesPerFrame;
    p += std::size_t(h.FrameLength);
  }
  return frames;
}

// A converter over a stream, released before the stream closes.
struct TOpened {
  TTestStream stream;
  TMediaInfo info{};
  TRef<TMpegConverter> conv;

  bool Open(TTestStream s) {
    stream = std::move(s);
    if (!stream) return false;
    TMpegInfo mp;
    if (!mp.Read(stream.get(), info)) return false;
    conv = MakeRef<TMpegConverter>();
    conv->Stream = stream.get();
    return conv->SetInputFormat(info);
  }
};

// Reads and converts up to the end of the data; the output is everything decoded.
Pcm DecodeAll(TMpegConverter& c) {
  for (int guard = 0; guard < 1000000 && c.ReadInput(); ++guard) {
    if (!c.Convert(c.Input())) break;
  }
  TLocalBuffer& out = c.Output();
  Pcm p(std::size_t(out.Length()) / 2);
  if (!p.empty()) std::memcpy(p.data(), out.Data(), p.size() * 2);
  return p;
}

double Correlation(const Pcm& a, const Pcm& b, std::size_t offset = 0) {
  double ab = 0, aa = 0, bb = 0;
  for (std::size_t i = 0; i < a.size() && offset + i < b.size(); ++i) {
    ab += double(a[i]) * b[offset + i];
    aa += double(a[i]) * a[i];
    bb += double(b[offset + i]) * b[offset + i];
  }
  return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
}

int MaxDiff(const Pcm& a, const Pcm& b, std::size_t offset = 0) {
  int m = 0;
  for (std::size_t i = 0; i < a.size() && offset + i < b.size(); ++i) m = std::max(m, std::abs(a[i] - b[offset + i]));
  return m;
}

// Same library on both sides, so the samples should agree to the bit; a
// couple of steps allow for a different synthesis routine in the program.
constexpr int kSampleTolerance = 2;
constexpr double kMinCorrelation = 0.9999;

class MpegConverter : public ::testing::Test {
protected:
  void SetUp() override {
    if (!HaveTool("ffmpeg") || !HaveTool("mpg123")) GTEST_SKIP() << "ffmpeg or mpg123 missing";
  }
  TMediaDir dir;
};

// The byte offset of the data chunk's content in a RIFF file.
std::size_t DataChunk(const std::vector<std::uint8_t>& f, std::uint32_t& size) {
  for (std::size_t p = 12; p + 8 <= f.size();) {
    std::uint32_t n;
    std::memcpy(&n, &f[p + 4], 4);
    if (std::memcmp(&f[p], "data", 4) == 0) {
      size = n;
      return p + 8;
    }
    p += 8 + n + (n & 1);
  }
  size = 0;
  return 0;
}

}  // namespace mpegconv_test

using namespace mpegconv_test;

// The sound alone, as the mpg123 program gives it with its gapless decoding:
// the encoder's delay and padding, which its tag tells, are dropped (3 s of
// sound give 3 s exactly); the length the media information gives is that
// of the sound. Layer II has neither.
TEST_F(MpegConverter, DecodesTheSoundWithoutTheEncodersDelayAndPaddingLikeTheMpg123Program) {
  struct Case {
    const char* name;
    const char* args;
    int rate, channels;
    bool trimmed;
  } cases[] = {
      {"cbr128.mp3", "-c:a libmp3lame -b:a 128k", 44100, 2, true},                // ID3v2 + Info frame
      {"vbr_xing.mp3", "-c:a libmp3lame -q:a 4", 44100, 2, true},                 // Xing
      {"tags.mp3", "-c:a libmp3lame -b:a 128k -write_id3v1 1", 44100, 2, true},  // ID3v2 and ID3v1
      {"m2_mono.mp3", "-c:a libmp3lame -q:a 5", 22050, 1, true},                  // MPEG 2, mono
      {"layer2.mp2", "-c:a mp2 -b:a 192k", 44100, 2, false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    ASSERT_TRUE(Encode(dir, k.name, k.args, k.rate, k.channels));
    TOpened o;
    ASSERT_TRUE(o.Open(OpenMediaFile(dir, k.name)));
    std::int32_t spf = 0;
    const std::int64_t frames = CountFrames(ReadAllBytes((dir.Path() / k.name).string()), o.info.DataOffset, spf);
    ASSERT_GT(frames, 50);

    const Pcm got = DecodeAll(*o.conv);
    const std::int64_t samples = k.trimmed ? std::int64_t(3) * k.rate : frames * spf;
    EXPECT_EQ(std::int64_t(got.size()), samples * k.channels);
    const double ms = double(samples) * 1000.0 / k.rate;
    EXPECT_NEAR(o.conv->DecodedMs(), ms, 0.01);
    EXPECT_NEAR(double(o.info.Duration), ms, k.trimmed ? 0.5 : 2 * o.info.FrameDuration);

    const Pcm ref = ReferenceDecode(dir, k.name);
    ASSERT_EQ(ref.size(), got.size());
    EXPECT_LE(MaxDiff(got, ref), kSampleTolerance);
    EXPECT_GT(Correlation(got, ref), kMinCorrelation);
  }
}

// MPEG audio inside a RIFF file carries no encoder's tag: the usual delay is
// dropped, and the sound lines up with the whole frames from there on.
TEST_F(MpegConverter, EmbeddedInRiffDecodesThroughTheShiftedView) {
  ASSERT_TRUE(Encode(dir, "riff.wav", "-c:a libmp3lame -b:a 128k"));
  const auto file = ReadAllBytes((dir.Path() / "riff.wav").string());
  std::uint32_t size = 0;
  const std::size_t at = DataChunk(file, size);
  ASSERT_GT(at, 0u);
  ASSERT_LE(at + size, file.size());
  dir.Write("riff_data.mp3", std::string(file.begin() + std::ptrdiff_t(at), file.begin() + std::ptrdiff_t(at + size)));

  TOpened o;
  ASSERT_TRUE(o.Open(TTestStream(StreamWrapper()->OpenShifted(nullptr, dir.Wide("riff.wav"), std::int64_t(at),
                                                                 nullptr, nullptr),
                                 true)));
  EXPECT_EQ(std::uint32_t{o.info.DataOffset}, 0u);
  const Pcm got = DecodeAll(*o.conv);
  const Pcm ref = ReferenceDecode(dir, "riff_data.mp3", false);
  ASSERT_GT(ref.size(), 44100u);
  ASSERT_EQ(got.size() + 2 * kUntaggedDelay, ref.size());
  EXPECT_LE(MaxDiff(got, ref, 2 * kUntaggedDelay), kSampleTolerance);
  EXPECT_GT(Correlation(got, ref, 2 * kUntaggedDelay), kMinCorrelation);
}

TEST_F(MpegConverter, WithoutADataSizeReadsSmallBlocksToTheStreamEnd) {
  ASSERT_TRUE(Encode(dir, "cbr.mp3", "-c:a libmp3lame -b:a 128k"));
  TOpened sized, unsized;
  ASSERT_TRUE(sized.Open(OpenMediaFile(dir, "cbr.mp3")));
  const Pcm all = DecodeAll(*sized.conv);
  unsized.stream = OpenMediaFile(dir, "cbr.mp3");
  unsized.info = sized.info;
  unsized.info.DataSize = 0;
  unsized.conv = MakeRef<TMpegConverter>();
  unsized.conv->Stream = unsized.stream.get();
  ASSERT_TRUE(unsized.conv->SetInputFormat(unsized.info));
  EXPECT_EQ(unsized.conv->BlockSize(), 6 * std::int32_t(sized.info.FrameLength));
  EXPECT_TRUE(DecodeAll(*unsized.conv) == all);
}

// A seek decodes from frames before the place (at least 100 ms, and as many
// as a bit reservoir may reach back over) and drops up to the place's exact
// sample: what follows is the decode from the start at that sample, to the
// bit. Without and with the encoder's Info frame, which carries no sound.
TEST_F(MpegConverter, SeekDecodesFromFramesBeforeThePlaceAndLandsOnItsSample) {
  for (const char* options : {"-c:a libmp3lame -b:a 128k -write_xing 0", "-c:a libmp3lame -b:a 128k"}) {
  SCOPED_TRACE(options);
  ASSERT_TRUE(Encode(dir, "long.mp3", options, 44100, 2, 12));
  TOpened whole;
  ASSERT_TRUE(whole.Open(OpenMediaFile(dir, "long.mp3")));
  const Pcm all = DecodeAll(*whole.conv);
  ASSERT_GE(all.size(), 12u * 44100 * 2);

  TOpened o;
  ASSERT_TRUE(o.Open(OpenMediaFile(dir, "long.mp3")));
  auto outputPcm = [&] {
    TLocalBuffer& out = o.conv->Output();
    Pcm p(std::size_t(out.Length()) / 2);
    std::memcpy(p.data(), out.Data(), p.size() * 2);
    return p;
  };
  auto outputMs = [&] { return o.conv->Output().Length() / 176.4; };

  // 50 ms: decoding starts at the first frame; the decoder's samples before
  // the sound and the first 50 ms are dropped. 10 s, and a place inside a
  // frame: from frames at least 100 ms before.
  for (const std::int64_t ms : {std::int64_t(50), std::int64_t(10000), std::int64_t(7777)}) {
    SCOPED_TRACE(ms);
    o.conv->Seek(ms);
    EXPECT_GE(o.conv->PrerollMs(), double(std::min<std::int64_t>(ms, 100)));
    EXPECT_LE(o.conv->PrerollMs(), ms == 50 ? 76.0 : 100.0 + 10 * 26.2);
    const Pcm p = outputPcm();
    ASSERT_GE(p.size(), 2u * 4410);
    EXPECT_NEAR(o.conv->DecodedMs() - outputMs(), double(ms), 0.01);
    EXPECT_EQ(MaxDiff(p, all, std::size_t(std::llround(double(ms) * 44.1)) * 2), 0);
  }

  // Past the end: nothing to give, no crash.
  o.conv->Seek(60000);
  EXPECT_FALSE(o.conv->Fill(4096));
  EXPECT_GE(o.conv->Output().Length(), 4096);
  }
}

// The source as a WAV and as MP3 with and without the encoder's tag, at
// 44100 Hz stereo and 22050 Hz mono: decoded whole and from a seek, the
// MP3's sound lies where the source's does, at offset 0; the tagged one
// ends where the source ends.
TEST_F(MpegConverter, SoundLinesUpWithTheSourceWithAndWithoutTheEncodersTag) {
  struct Case {
    int rate, channels;
    const char* args;
    bool tagged;
  } cases[] = {
      {44100, 2, "-c:a libmp3lame -b:a 128k", true},
      {44100, 2, "-c:a libmp3lame -b:a 128k -write_xing 0", false},
      {22050, 1, "-c:a libmp3lame -q:a 5", true},
      {22050, 1, "-c:a libmp3lame -q:a 5 -write_xing 0", false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.args + std::string(" at ") + std::to_string(k.rate));
    ASSERT_TRUE(Encode(dir, "source.wav", "-c:a pcm_s16le", k.rate, k.channels, 4));
    ASSERT_TRUE(Encode(dir, "coded.mp3", k.args, k.rate, k.channels, 4));
    const auto wav = ReadAllBytes((dir.Path() / "source.wav").string());
    std::uint32_t size = 0;
    const std::size_t at = DataChunk(wav, size);
    ASSERT_GT(at, 0u);
    Pcm source(size / 2);
    std::memcpy(source.data(), wav.data() + at, source.size() * 2);
    const std::size_t frames = source.size() / std::size_t(k.channels);
    ASSERT_EQ(frames, std::size_t(4 * k.rate));

    TOpened o;
    ASSERT_TRUE(o.Open(OpenMediaFile(dir, "coded.mp3")));
    const Pcm whole = DecodeAll(*o.conv);
    if (k.tagged) {
      EXPECT_EQ(whole.size(), source.size());
      EXPECT_EQ(o.info.Duration, 4000u);
    } else {
      // The padding stays: the last frame's rest.
      EXPECT_GE(whole.size(), source.size());
      EXPECT_LT(whole.size(), source.size() + std::size_t(2 * 1152 * k.channels));
    }
    // The lag at which the decode matches the source best, over a stretch
    // of the chirp (no lag of it looks like another).
    const auto bestLag = [&](const Pcm& got, std::size_t sourceFrom) {
      const std::size_t from = std::size_t(k.rate / 10), n = std::size_t(k.rate / 2);
      int best = 9999;
      double bestC = -1;
      for (int lag = -300; lag <= 300; ++lag) {
        double ab = 0, aa = 0, bb = 0;
        for (std::size_t i = from; i < from + n; ++i) {
          const double a = got[i * std::size_t(k.channels)];
          const double b = source[(sourceFrom + i + std::size_t(lag)) * std::size_t(k.channels)];
          ab += a * b;
          aa += a * a;
          bb += b * b;
        }
        const double c = ab / std::sqrt(aa * bb);
        if (c > bestC) {
          bestC = c;
          best = lag;
        }
      }
      EXPECT_GT(bestC, 0.99);
      return best;
    };
    EXPECT_EQ(bestLag(whole, 0), 0);
    o.conv->Seek(2346);
    const std::size_t place = std::size_t(std::llround(2346.0 * k.rate / 1000));
    ASSERT_TRUE(o.conv->Fill(k.rate * 2 * k.channels));
    TLocalBuffer& out = o.conv->Output();
    Pcm sought(std::size_t(out.Length()) / 2);
    std::memcpy(sought.data(), out.Data(), sought.size() * 2);
    // MPEG 2 frames decoded from a fresh start may differ by a step.
    EXPECT_LE(MaxDiff(sought, whole, place * std::size_t(k.channels)), kSampleTolerance);
    EXPECT_EQ(bestLag(sought, place), 0);
  }
}

// Constant bit rates at several rates and versions, with and without the
// encoder's Info frame: the frame a seek takes from its byte estimate is the
// one the walk from the start reaches; junk between frames makes it walk.
TEST_F(MpegConverter, ConstantRateFramesAreFoundWhereTheWalkFindsThem) {
  struct Case {
    const char* args;
    int rate, channels;
  } cases[] = {
      {"-c:a libmp3lame -b:a 128k", 44100, 2},
      {"-c:a libmp3lame -b:a 128k -write_xing 0", 44100, 2},
      {"-c:a libmp3lame -b:a 32k -write_xing 0", 48000, 2},
      {"-c:a libmp3lame -b:a 24k", 22050, 1},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.args);
    ASSERT_TRUE(Encode(dir, "cbr.mp3", k.args, k.rate, k.channels, 12));
    for (const bool junk : {false, true}) {
      std::string bytes = dir.Read("cbr.mp3");
      // Junk in the middle: a frame's worth of bytes no header starts in.
      if (junk) bytes.insert(bytes.size() / 2, std::string(300, '\x11'));
      TTestStream s = MemoryMedia(bytes);
      TMediaInfo info{};
      TMpegInfo mp;
      ASSERT_TRUE(mp.Read(s.get(), info));
      ASSERT_EQ(info.Vbr(), 0u);
      TMediaInfo walked = info;
      walked.SetVbr(0xFFFFFFFFu);  // the VBR way: always walked
      for (const std::int64_t frame : {std::int64_t(1), std::int64_t(7), std::int64_t(100), std::int64_t(333),
                                       std::int64_t(100000)}) {
        const std::int64_t got = TMpegInfo::SeekToFrame(s.get(), frame, info);
        const std::int64_t at = s.get()->GetPosition();
        EXPECT_EQ(got, TMpegInfo::SeekToFrame(s.get(), frame, walked)) << frame << (junk ? " with junk" : "");
        EXPECT_EQ(at, s.get()->GetPosition()) << frame << (junk ? " with junk" : "");
      }
    }
  }
}

TEST_F(MpegConverter, LastConverterTakesTheSharedDecoderAlong) {
  ASSERT_EQ(TMpg123::Instance(), nullptr);
  std::uint32_t gen = 0;
  {
    auto a = MakeRef<TMpegConverter>();
    gen = TMpg123::Generation();
    TMpg123* shared = TMpg123::Instance();
    ASSERT_NE(shared, nullptr);
    auto b = MakeRef<TMpegConverter>();
    EXPECT_EQ(TMpg123::Instance(), shared);
    EXPECT_EQ(shared->Users(), 2);
    a = nullptr;
    EXPECT_EQ(TMpg123::Instance(), shared);
    EXPECT_EQ(shared->Users(), 1);
  }
  EXPECT_EQ(TMpg123::Instance(), nullptr);
  auto c = MakeRef<TMpegConverter>();
  EXPECT_NE(TMpg123::Instance(), nullptr);
  EXPECT_EQ(TMpg123::Generation(), gen + 1);
}

TEST_F(MpegConverter, TruncatedDamagedAndChangingStreamsEndCleanly) {
  ASSERT_TRUE(Encode(dir, "vbr.mp3", "-c:a libmp3lame -q:a 4"));
  ASSERT_TRUE(Encode(dir, "cbr_bare.mp3", "-c:a libmp3lame -b:a 128k -write_xing 0 -id3v2_version 0"));
  ASSERT_TRUE(Encode(dir, "m2.mp3", "-c:a libmp3lame -q:a 5 -write_xing 0 -id3v2_version 0", 22050, 1));
  const std::string vbr = dir.Read("vbr.mp3");
  std::string damaged = vbr;
  for (std::size_t i = damaged.size() / 3; i < damaged.size() / 3 + 3000; ++i) damaged[i] = char(i * 37 + 11);
  const std::string cases[] = {
      vbr.substr(0, vbr.size() / 2 + 101),  // the Xing header still promises all frames
      damaged,
      // 44100 Hz stereo followed by 22050 Hz mono: the decoder must stay
      // within the one output format it was given.
      dir.Read("cbr_bare.mp3") + dir.Read("m2.mp3"),
      vbr.substr(0, 700),  // not even two frames past the Info frame
  };
  for (const std::string& bytes : cases) {
    SCOPED_TRACE(bytes.size());
    TOpened o;
    if (!o.Open(MemoryMedia(bytes))) continue;
    std::int64_t filled = 0;
    int calls = 0;
    for (; calls < 2000 && o.conv->Fill(16384); ++calls) {
      ASSERT_GE(o.conv->Output().Length(), 16384);
      filled += 16384;
      o.conv->Output().Consume(16384);
    }
    EXPECT_LT(calls, 2000);
    // Never more than the data can hold, rounded up to one fill.
    EXPECT_LE(filled, std::int64_t(bytes.size()) * 200 + 16384);
    const int decodedChannels = o.conv->Decoded().Format.nChannels, channels = o.info.Format.nChannels;
    EXPECT_EQ(decodedChannels, channels);
  }
}

TEST(MpegConverterInput, BadFormatsAreRefused) {
  for (std::uint16_t channels : {0, 3}) {
    TMediaInfo info{};
    info.Kind = kMediaMpeg;
    const TWaveFormatEx f{plat::WAVE_FORMAT_PCM, channels, 44100, 44100u * 2 * channels, std::uint16_t(2 * channels),
                          16, 0};
    std::memcpy(&info.Format, &f, sizeof f);
    auto c = MakeRef<TMpegConverter>();
    EXPECT_FALSE(c->SetInputFormat(info)) << channels;
    // Without a stream, nothing to fill: padded silence, answered false.
    EXPECT_FALSE(c->Fill(64));
  }
}
