#include "ZmLib/Music/zmAdpcmConverter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ZmLib/Music/zmConverterFactory.h"
#include "ZmLib/Music/zmMpegConverter.h"
#include "ZmLib/zmHookScope.h"
#include "tests/ZmLib/Music/MusicMediaKit.h"

using namespace zm;

namespace adpcmconv_test {

using namespace zmtest;
using Bytes = std::vector<std::uint8_t>;

// The record the media information gives an MS ADPCM file (kind 2, the
// format with its extra bytes, where the data lies as the header says).
TMediaInfo InfoOf(const Bytes& f) {
  TMediaInfo info{};
  info.Kind = kMediaAdpcm;
  for (std::size_t p = 12; p + 8 <= f.size();) {
    std::uint32_t n;
    std::memcpy(&n, &f[p + 4], 4);
    if (std::memcmp(&f[p], "fmt ", 4) == 0 && p + 8 + 18 <= f.size()) {
      std::memcpy(&info.Format, &f[p + 8], 18);
      const std::size_t extra = std::min<std::size_t>({info.Format.cbSize, sizeof info.Extra, f.size() - p - 26});
      std::memcpy(info.Extra, &f[p + 26], extra);
    }
    if (std::memcmp(&f[p], "data", 4) == 0) {
      info.DataOffset = std::uint32_t(p + 8);
      info.DataSize = n;
      break;
    }
    p += 8 + n + (n & 1);
  }
  return info;
}

// The seven standard coefficient pairs after samplesPerBlock.
std::string AdpcmExtra(int samplesPerBlock) {
  std::string e;
  PutLE(e, 32, 2);
  PutLE(e, std::uint64_t(samplesPerBlock), 2);
  PutLE(e, 7, 2);
  const int c[7][2] = {{256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232}};
  for (auto& p : c) {
    PutLE(e, std::uint16_t(p[0]), 2);
    PutLE(e, std::uint16_t(p[1]), 2);
  }
  return e;
}

// A small mono MS ADPCM encoder (predictor 0 throughout) for block sizes
// ffmpeg's encoder does not make; samples is a whole number of blocks.
std::string EncodeMono(const std::vector<std::int16_t>& s, int align) {
  static const int kAdapt[16] = {230, 230, 230, 230, 307, 409, 512, 614, 768, 614, 512, 409, 307, 230, 230, 230};
  const std::size_t spb = std::size_t(2 + (align - 7) * 2);
  std::string out;
  for (std::size_t b = 0; b + spb <= s.size(); b += spb) {
    int delta = 16, s2 = s[b], s1 = s[b + 1];
    out += '\0';
    PutLE(out, std::uint16_t(delta), 2);
    PutLE(out, std::uint16_t(s1), 2);
    PutLE(out, std::uint16_t(s2), 2);
    int high = -1;
    for (std::size_t i = b + 2; i < b + spb; ++i) {
      const int err = s[i] - s1;
      int n = std::clamp(int(std::lround(double(err) / delta)), -8, 7);
      const int v = std::clamp(s1 + n * delta, -32768, 32767);
      s2 = s1;
      s1 = v;
      delta = std::max(16, kAdapt[n & 15] * delta / 256);
      if (high < 0) {
        high = n & 15;
      } else {
        out += char((high << 4) | (n & 15));
        high = -1;
      }
    }
    (void)s2;
  }
  return out;
}

Bytes ReferenceDecode(const TMediaDir& dir, const std::string& name) {
  const std::string out = (dir.Path() / (name + ".s16")).string();
  if (RunTool("ffmpeg -hide_banner -loglevel error -y -i " + ShellQuote((dir.Path() / name).string()) +
              " -f s16le " + ShellQuote(out)) != 0) {
    return {};
  }
  return ReadAllBytes(out);
}

struct TOpened {
  TTestStream stream;
  TMediaInfo info{};
  TRef<TAdpcmConverter> conv;

  bool Open(TTestStream s, const Bytes& file) {
    stream = std::move(s);
    info = InfoOf(file);
    conv = MakeRef<TAdpcmConverter>();
    conv->Stream = stream.get();
    return conv->SetInputFormat(info);
  }
};

Bytes DecodeAll(TAdpcmConverter& c) {
  for (int guard = 0; guard < 1000000 && c.ReadInput(); ++guard) {
    if (!c.Convert(c.Input())) break;
  }
  return Bytes(c.Output().Data(), c.Output().Data() + c.Output().Length());
}

class AdpcmConverter : public ::testing::Test {
protected:
  void SetUp() override {
    if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
  }
  TMediaDir dir;
};

}  // namespace adpcmconv_test

using namespace adpcmconv_test;

TEST_F(AdpcmConverter, BitExactWithFfmpegForAnyBlockAlign) {
  const std::string sine = "sine=frequency=440:sample_rate=";
  ASSERT_EQ(RunTool("ffmpeg -hide_banner -loglevel error -y -f lavfi -i " + sine +
                    "44100:duration=3 -ac 2 -c:a adpcm_ms " + ShellQuote((dir.Path() / "st1024.wav").string())),
            0);
  // Blocks larger than the converter's 2048-byte read.
  ASSERT_EQ(RunTool("ffmpeg -hide_banner -loglevel error -y -f lavfi -i " + sine +
                    "22050:duration=3 -ac 1 -c:a adpcm_ms -block_size 4096 " +
                    ShellQuote((dir.Path() / "mono4096.wav").string())),
            0);
  // An odd block size that does not divide 2048.
  const int align = 1001, spb = 2 + (align - 7) * 2;
  std::vector<std::int16_t> samples;
  for (int i = 0; i < spb * 30; ++i) {
    samples.push_back(std::int16_t(12000 * std::sin(i * 0.031) + 3000 * std::sin(i * 0.47)));
  }
  TWavLayout layout;
  layout.Tag = plat::WAVE_FORMAT_ADPCM;
  layout.Channels = 1;
  layout.Rate = 22050;
  layout.Bits = 4;
  layout.BlockAlign = align;
  layout.AvgBytes = 22050u * align / spb;
  layout.FmtExtra = AdpcmExtra(spb);
  WriteWav(dir, "odd1001.wav", layout, EncodeMono(samples, align));

  for (const char* name : {"st1024.wav", "mono4096.wav", "odd1001.wav"}) {
    SCOPED_TRACE(name);
    const Bytes file = ReadAllBytes((dir.Path() / name).string());
    TOpened o;
    ASSERT_TRUE(o.Open(OpenMediaFile(dir, name), file));
    const std::int32_t blockAlign = o.info.Format.nBlockAlign;
    EXPECT_EQ(o.conv->BlockSize() % blockAlign, 0);
    EXPECT_GE(o.conv->BlockSize(), TAdpcmConverter::kAdpcmBlockSize);
    const Bytes ref = ReferenceDecode(dir, name);
    ASSERT_GT(ref.size(), 40000u);
    const Bytes got = DecodeAll(*o.conv);
    ASSERT_EQ(got.size(), ref.size());
    EXPECT_TRUE(got == ref);
    EXPECT_NEAR(o.conv->DecodedMs(), double(ref.size()) * 1000 / o.conv->Output().Format.nAvgBytesPerSec, 0.01);
  }
}

TEST_F(AdpcmConverter, TruncatedAndDamagedDataEndInSilence) {
  ASSERT_EQ(RunTool("ffmpeg -hide_banner -loglevel error -y -f lavfi -i sine=frequency=440:sample_rate=44100:"
                    "duration=2 -ac 2 -c:a adpcm_ms " +
                    ShellQuote((dir.Path() / "full.wav").string())),
            0);
  const Bytes full = ReadAllBytes((dir.Path() / "full.wav").string());
  const Bytes ref = ReferenceDecode(dir, "full.wav");
  const TMediaInfo info = InfoOf(full);
  const std::size_t align = info.Format.nBlockAlign;
  const std::size_t pcmPerBlock = ref.size() / (info.DataSize / align);

  // Cut in the middle of the fourth block (the header still claims it all),
  // and a block with a predictor index beyond the table.
  Bytes cut(full.begin(), full.begin() + std::ptrdiff_t(info.DataOffset + 3 * align + align / 2));
  Bytes damaged = full;
  damaged[info.DataOffset + 5 * align] = 9;
  struct Case {
    const Bytes* file;
    std::size_t goodBlocks;
  } cases[] = {{&cut, 3}, {&damaged, 5}};
  for (const Case& k : cases) {
    TOpened o;
    ASSERT_TRUE(o.Open(MemoryMedia(std::string(k.file->begin(), k.file->end())), *k.file));
    Bytes got;
    bool last = true;
    for (int calls = 0; calls < 100 && got.size() < ref.size(); ++calls) {
      last = o.conv->Fill(8192);
      TLocalBuffer& out = o.conv->Output();
      ASSERT_GE(out.Length(), 8192);
      const std::int32_t take = last ? 8192 : out.Length();
      got.insert(got.end(), out.Data(), out.Data() + take);
      out.Consume(take);
      if (!last) break;
    }
    const std::size_t good = k.goodBlocks * pcmPerBlock;
    ASSERT_GE(got.size(), good);
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + std::ptrdiff_t(good), ref.begin())) << k.goodBlocks;
    EXPECT_TRUE(std::all_of(got.begin() + std::ptrdiff_t(good), got.end(), [](std::uint8_t b) { return b == 0; }));
    // The filling ends: at the damage at once, at the cut once the silence is out.
    EXPECT_FALSE(last);
  }
}

TEST(AdpcmConverterInput, FormatsItCannotConvertAreRefused) {
  TMediaInfo info{};
  info.Kind = kMediaAdpcm;
  const TWaveFormatEx noAlign{plat::WAVE_FORMAT_ADPCM, 2, 44100, 44359, 0, 4, 32};
  std::memcpy(&info.Format, &noAlign, sizeof noAlign);
  EXPECT_FALSE(MakeRef<TAdpcmConverter>()->SetInputFormat(info));
  info.Format.nBlockAlign = 1024;
  info.Format.wFormatTag = plat::WAVE_FORMAT_PCM;
  EXPECT_FALSE(MakeRef<TAdpcmConverter>()->SetInputFormat(info));
  // Accepted, but coefficients missing: the compression manager refuses, so
  // the first conversion fails instead of decoding garbage.
  info.Format.wFormatTag = plat::WAVE_FORMAT_ADPCM;
  info.Format.cbSize = 0;
  auto c = MakeRef<TAdpcmConverter>();
  ASSERT_TRUE(c->SetInputFormat(info));
  c->Input().EnsureFree(1024);
  std::memset(c->Input().WritePointer(), 0, 1024);
  c->Input().AddLength(1024);
  EXPECT_FALSE(c->Convert(c->Input()));
}

namespace adpcmconv_test {
TRef<TWavConverter> PluginConverter(const TMediaInfo& info, const WideString&) {
  return info.Kind == kMediaOgg ? MakeRef<TWavConverter>() : nullptr;
}
}  // namespace adpcmconv_test

TEST(ConverterFactory, ChoosesByKind) {
  const TCreateConverterProc before = CreateConverterHook;
  // The music module may have set up the plug-in decoders already.
  zm::THookScope pluginConverter(CreatePluginConverterHook, nullptr);
  InitConverterFactory();
  ASSERT_EQ(CreateConverterHook, &CreateConverter);
  auto make = [](std::uint8_t kind) {
    TMediaInfo info{};
    info.Kind = kind;
    return CreateConverterHook(info, u"x.bin");
  };
  EXPECT_EQ(make(kMediaPcm)->ClassName(), "TWavConverter");
  EXPECT_EQ(make(kMediaFloat)->ClassName(), "TWavConverter");
  EXPECT_NE(dynamic_cast<TAdpcmConverter*>(make(kMediaAdpcm).get()), nullptr);
  EXPECT_NE(dynamic_cast<TMpegConverter*>(make(kMediaMpeg).get()), nullptr);
  // Plug-in and FFmpeg kinds: none until their decoders are set up.
  for (std::uint8_t k : {kMediaWma, kMediaOgg, kMediaFFmpeg}) EXPECT_EQ(make(k).get(), nullptr) << int(k);
  pluginConverter.Set(&PluginConverter);
  EXPECT_NE(make(kMediaOgg).get(), nullptr);
  EXPECT_EQ(make(kMediaWma).get(), nullptr);
  pluginConverter.Set(nullptr);
  // Composite tracks never come here; unknown kinds are failed assertions.
  for (std::uint8_t k : {kMediaUnknown, std::uint8_t(7), kMediaComposite, std::uint8_t(255)}) {
    EXPECT_ANY_THROW(make(k)) << int(k);
  }
  FiniConverterFactory();
  EXPECT_EQ(CreateConverterHook, nullptr);
  if (before) InitConverterFactory();
}
