#include "ZmLib/Music/zmMediaInfo.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ZmLib/zmHookScope.h"
#include "tests/ZmLib/Music/MusicMediaKit.h"

using namespace zm;
using zmtest::MakeWav;
using zmtest::MemoryMedia;
using zmtest::TWavLayout;

namespace mediainfotest {

struct THookLog {
  int calls = 0;
  std::int64_t position = -1;
  WideString name;
};
THookLog hookLog;

bool CountingHook(TStream* s, const WideString& name, TMediaInfo& info) {
  ++hookLog.calls;
  hookLog.position = StreamWrapper()->GetPosition(s);
  hookLog.name = name;
  info.Kind = kMediaFFmpeg;
  return true;
}

// Installs the counting hook for one test.
struct TCountingHookScope {
  explicit TCountingHookScope(TDecoderInfoProc hook = CountingHook) : scope(DecoderInfoHook, hook) {
    hookLog = THookLog{};
  }
  zm::THookScope<TDecoderInfoProc> scope;
};

bool ExtractBytes(const std::string& bytes, const WideString& name, TMediaInfo& info) {
  auto s = MemoryMedia(bytes);
  return TMediaInfoExtractor().Extract(s.get(), name, info);
}


TEST(MediaInfo, RiffChunksBeforeFormatAndDataAndTheFormatTags) {
  const std::string data(4000, '\x11');
  TMediaInfo info;
  for (bool before : {false, true}) {
    TWavLayout w;
    w.ListBeforeFmt = before;
    w.ListBeforeData = !before;
    // Named as MPEG audio, but RIFF wins.
    ASSERT_TRUE(ExtractBytes(MakeWav(w, data), u"C:\\m\\song.MP3?x", info)) << before;
    EXPECT_EQ(+info.Kind, kMediaPcm);
    EXPECT_EQ(info.DataOffset, 12u + 22u + 24u + 8u);
    EXPECT_EQ(info.DataSize, 4000u);
    EXPECT_EQ(info.Duration, 23u);  // 4000 / 176400 s
    EXPECT_EQ(info.Embedded, 0u);
    EXPECT_EQ(+info.Format.nSamplesPerSec, 44100u);
    EXPECT_EQ(+info.Format.nBlockAlign, 4);
    EXPECT_EQ(+info.Format.cbSize, 0);
  }

  // Float: kind 3. A missing byte rate is made from the rate and block.
  TWavLayout f;
  f.Tag = 3;
  f.Bits = 32;
  f.AvgBytes = 0;
  ASSERT_TRUE(ExtractBytes(MakeWav(f, std::string(352800, '\0')), u"a.wav", info));
  EXPECT_EQ(+info.Kind, kMediaFloat);
  EXPECT_EQ(+info.Format.nAvgBytesPerSec, 352800u);
  EXPECT_EQ(info.Duration, 1000u);

  // ADPCM: the 32 bytes after the extra-size field, and extra size 32.
  TWavLayout a;
  a.Tag = 2;
  a.Bits = 4;
  a.BlockAlign = 1024;
  a.AvgBytes = 22311;
  a.FmtExtra = std::string("\x20\x00", 2);
  for (int i = 0; i < 32; ++i) a.FmtExtra += char(i + 1);
  ASSERT_TRUE(ExtractBytes(MakeWav(a, std::string(2048, '\0')), u"a.wav", info));
  EXPECT_EQ(+info.Kind, kMediaAdpcm);
  EXPECT_EQ(+info.Format.cbSize, 32);
  EXPECT_EQ(info.Extra[0], 1);
  EXPECT_EQ(info.Extra[31], 32);
  EXPECT_EQ(info.DataOffset, 12u + 58u + 8u);
}

// A chunk of odd size is followed by a pad byte, before "fmt " and before
// "data" alike (a writer that left the pad byte out is read too); a data
// chunk whose size says 0 (a writer that never came back to it) holds the
// rest of the file.
TEST(MediaInfo, OddChunksWithTheirPadBytesAndDataOfNoSize) {
  TCountingHookScope hook;
  const std::string pcm(4000, '\x11');
  const std::string odd = std::string("junk") + '\x05' + std::string(3, '\0') + "abcde";
  std::string fmt = "fmt ";
  zmtest::PutLE(fmt, 16, 4);
  for (const auto& [v, n] : {std::pair{1, 2}, {2, 2}, {44100, 4}, {176400, 4}, {4, 2}, {16, 2}}) zmtest::PutLE(fmt, v, n);
  const auto wav = [&](const std::string& body, std::uint32_t dataSize) {
    std::string data = "data";
    zmtest::PutLE(data, dataSize, 4);
    std::string file = "RIFF";
    zmtest::PutLE(file, 4 + body.size() + data.size() + pcm.size(), 4);
    return file + "WAVE" + body + data + pcm;
  };
  TMediaInfo info;
  for (const bool pad : {true, false}) {
    const std::string chunk = odd + (pad ? std::string(1, '\0') : std::string());
    for (const bool beforeFmt : {true, false}) {
      SCOPED_TRACE(testing::Message() << (pad ? "padded" : "not padded") << (beforeFmt ? ", before fmt" : ", before data"));
      const std::string body = beforeFmt ? chunk + fmt : fmt + chunk;
      ASSERT_TRUE(ExtractBytes(wav(body, 4000), u"a.wav", info));
      EXPECT_EQ(+info.Kind, kMediaPcm);
      EXPECT_EQ(info.DataOffset, 12u + body.size() + 8u);
      EXPECT_EQ(info.DataSize, 4000u);
    }
  }
  ASSERT_TRUE(ExtractBytes(wav(fmt, 0), u"a.wav", info));
  EXPECT_EQ(+info.Kind, kMediaPcm);
  EXPECT_EQ(info.DataSize, 4000u);
  EXPECT_EQ(info.Duration, 23u);
  EXPECT_EQ(hookLog.calls, 0);
}

TEST(MediaInfo, OtherFilesGoToTheDecoderChoiceAtTheirPosition) {
  TWavLayout ima;
  ima.Tag = 0x11;
  const std::string imaWav = MakeWav(ima, std::string(100, '\0'));
  TMediaInfo info;
  // Without a decoder choice they are unknown.
  {
    TCountingHookScope none(nullptr);
    EXPECT_FALSE(ExtractBytes(imaWav, u"a.wav", info));
    EXPECT_FALSE(ExtractBytes("OggS and more bytes", u"a.ogg", info));
    EXPECT_EQ(+info.Kind, kMediaUnknown);
  }

  TCountingHookScope hook;
  auto s = MemoryMedia(imaWav);
  s.get()->SetPosition(5);
  ASSERT_TRUE(TMediaInfoExtractor().Extract(s.get(), u"a.wav", info));
  EXPECT_EQ(hookLog.calls, 1);
  EXPECT_EQ(hookLog.position, 5);
  EXPECT_EQ(+info.Kind, kMediaFFmpeg);
  EXPECT_TRUE(ExtractBytes("OggS and more bytes", u"a.ogg", info));
  EXPECT_EQ(hookLog.calls, 2);
  // A file named as MPEG audio in which none is found reaches it too (the
  // content chooses), and a short file is no RIFF.
  EXPECT_TRUE(ExtractBytes("junk junk junk", u"a.mp2", info));
  EXPECT_TRUE(ExtractBytes("RIF", u"a.mp1", info));
  EXPECT_TRUE(ExtractBytes("RIF", u"a.mpx", info));
  EXPECT_EQ(hookLog.calls, 5);
  EXPECT_FALSE(TMediaInfoExtractor().Extract(nullptr, u"a.wav", info));
}

TEST(MediaInfo, DamagedRiffHeadersFailOrStayInsideTheFile) {
  TCountingHookScope hook;
  const std::string data(1000, '\x22');
  const std::string good = MakeWav(TWavLayout{}, data);
  TMediaInfo info;

  // Every truncation: false (to the decoder choice) or data within what is left.
  for (std::size_t n = 0; n < good.size(); n += n < 60 ? 1 : 97) {
    const std::string cut = good.substr(0, n);
    if (ExtractBytes(cut, u"a.wav", info) && info.Kind == kMediaPcm) {
      EXPECT_LE(std::uint64_t(info.DataOffset) + info.DataSize, n) << n;
    }
  }

  const auto riffFails = [&](const TWavLayout& w, const std::string& what) {
    const int before = hookLog.calls;
    EXPECT_TRUE(ExtractBytes(MakeWav(w, data), u"a.wav", info)) << what;
    EXPECT_EQ(hookLog.calls, before + 1) << what;
  };
  TWavLayout w;
  w.Rate = 0;
  riffFails(w, "rate 0");
  w = TWavLayout{};
  w.BlockAlign = 0;
  riffFails(w, "block align 0");
  w = TWavLayout{};
  w.Channels = 0;
  riffFails(w, "no channels");
  w = TWavLayout{};
  w.Bits = 12;
  riffFails(w, "12 bits");
  w = TWavLayout{};
  w.Tag = 3;
  w.Bits = 64;
  riffFails(w, "double float");
  w = TWavLayout{};
  w.Tag = 2;
  w.Bits = 4;
  w.BlockAlign = 256;
  riffFails(w, "ADPCM without coefficients");

  // A 'fmt ' chunk of 12 bytes would lend four bytes of the next chunk.
  std::string shortFmt = good;
  shortFmt[16] = 12;
  EXPECT_TRUE(ExtractBytes(shortFmt, u"a.wav", info));
  EXPECT_EQ(+info.Kind, kMediaFFmpeg);

  // A data chunk longer than the file ends at the file's end.
  w = TWavLayout{};
  w.DataSize = 0xFFFFFFFFu;
  ASSERT_TRUE(ExtractBytes(MakeWav(w, data), u"a.wav", info));
  EXPECT_EQ(+info.Kind, kMediaPcm);
  EXPECT_EQ(info.DataSize, 1000u);
  EXPECT_EQ(info.Duration, 6u);

  // Chunk sizes that wrap 32 bits walk forward to the end, never back.
  std::string wrap = good;
  wrap.insert(12, std::string("JUNK\xF8\xFF\xFF\xFF", 8));
  EXPECT_TRUE(ExtractBytes(wrap, u"a.wav", info));
  EXPECT_EQ(+info.Kind, kMediaFFmpeg);
  std::string wrapBeforeData = good;
  wrapBeforeData.insert(36, std::string("JUNK\xFC\xFF\xFF\xFF", 8));
  EXPECT_TRUE(ExtractBytes(wrapBeforeData, u"a.wav", info));
  EXPECT_EQ(+info.Kind, kMediaFFmpeg);
}

TEST(MediaInfo, MpegAudioAloneAndInsideRiff) {
  if (!zmtest::HaveTool("ffmpeg")) GTEST_SKIP() << "no ffmpeg";
  zmtest::TMediaDir dir;
  const std::string src = "-f lavfi -i 'sine=frequency=440:sample_rate=44100:duration=1' -ac 2 -c:a libmp3lame -b:a 128k ";
  ASSERT_EQ(zmtest::RunTool("ffmpeg -v error -y " + src + zmtest::ShellQuote((dir.Path() / "x.wav").string())), 0);
  ASSERT_EQ(zmtest::RunTool("ffmpeg -v error -y " + src + zmtest::ShellQuote((dir.Path() / "x.mp3").string())), 0);

  TMediaInfo info;
  auto wav = zmtest::OpenMediaFile(dir, "x.wav");
  ASSERT_TRUE(wav);
  ASSERT_TRUE(TMediaInfoExtractor().Extract(wav.get(), dir.Wide("x.wav"), info));
  EXPECT_EQ(+info.Kind, kMediaMpeg);
  EXPECT_EQ(info.Embedded, 1u);
  EXPECT_GT(info.DataOffset, 20u);
  EXPECT_NEAR(double(info.Duration), 1040, 60);  // the encoder adds about a frame at each end
  EXPECT_EQ(+info.Format.nChannels, 2);
  EXPECT_EQ(+info.Format.nSamplesPerSec, 44100u);

  auto mp3 = zmtest::OpenMediaFile(dir, "x.mp3");
  ASSERT_TRUE(TMediaInfoExtractor().Extract(mp3.get(), dir.Wide("x.mp3"), info));
  EXPECT_EQ(+info.Kind, kMediaMpeg);
  EXPECT_EQ(info.Embedded, 0u);
  EXPECT_NEAR(double(info.Duration), 1040, 60);  // the encoder adds about a frame at each end
}

}  // namespace mediainfotest
