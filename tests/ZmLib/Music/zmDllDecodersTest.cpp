// The decoder choice and the decoder plug-ins: which decoder a file goes to
// and what it reports, Ogg Vorbis through its plug-in and everything else
// through FFmpeg, the WMA plug-in on its own, damaged streams, libraries that
// are no plug-ins, Windows binaries standing in for plug-ins, and a machine
// without FFmpeg.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "Platform/PlatUtf8.h"
#include "ZmLib/Graphics/Video/FFMpegApi.h"
#include "ZmLib/Music/zmConverterFactory.h"
#include "ZmLib/Music/zmDllDecoders.h"
#include "ZmLib/Music/zmMusicPlayer.h"
#include "ZmLib/zmHookScope.h"
#include "tests/ZmLib/Music/MusicMediaKit.h"
#include "tests/ZmLib/Music/MusicPlayerKit.h"
#include "tests/support/EnvGuard.h"

namespace zm_dll_decoders_test {

using namespace zm;
using namespace zmtest;

// The test tone's peak: ffmpeg's sine source is at 1/8, and spreading its one
// channel over two takes 3 dB off each.
const double kStereoLevel = 0.125 * std::sqrt(0.5);

// Every byte a converter delivers until it reports the end (bounded).
std::vector<std::uint8_t> DecodeAll(TWavConverter& c) {
  std::vector<std::uint8_t> all;
  for (int i = 0; i < 100000 && c.ReadInput() && c.Convert(c.Input()); ++i) {
    TLocalBuffer& out = c.Output();
    all.insert(all.end(), out.Data(), out.Data() + out.Length());
    out.Consume(out.Length());
  }
  return all;
}

// The plug-in hooks as the music module sets them (other tests clear them).
class TPluginHooksScope {
public:
  ~TPluginHooksScope() {
    info_.Restore();
    create_.Restore();
    UnloadOgg();
    UnloadWma();
  }

private:
  zm::THookScope<TDecoderInfoProc> info_{DecoderInfoHook, &ChooseDecoder};
  zm::THookScope<TCreateConverterProc> create_{CreatePluginConverterHook, &CreatePluginConverter};
};

class DllDecoders : public TManualPlayerTest {
protected:
  static void SetUpTestSuite() {
    if (!HaveTool("ffmpeg")) return;
    media_ = new TMediaDir;
    const auto make = [](const std::string& source, const std::string& args, const std::string& name) {
      const std::string cmd = "ffmpeg -hide_banner -loglevel error -y -f lavfi -i " + ShellQuote(source) + " " + args +
                              " " + ShellQuote((media_->Path() / name).string());
      EXPECT_EQ(RunTool(cmd), 0) << cmd;
    };
    const std::string s48 = "sine=frequency=440:sample_rate=48000:duration=1";
    const std::string s44 = "sine=frequency=440:sample_rate=44100:duration=1";
    const std::string s22 = "sine=frequency=440:sample_rate=22050:duration=1";
    make(s48, "-ac 2 -c:a libvorbis -q:a 3", "vorbis.ogg");
    make(s48, "-ac 2 -c:a libopus", "opus.ogg");
    make(s44, "-ac 2 -c:a wmav2 -b:a 128k", "wmav2.wma");
    make(s44, "-ac 2 -c:a aac", "aac.m4a");
    make(s22, "-ac 1 -c:a adpcm_ima_wav", "ima.wav");
    make(s48, "-ac 2 -c:a pcm_s24le", "s24.wav");
    make(s48, "-ac 2 -c:a flac", "flac48.flac");
    media_->Write("junk.m4a", std::string(4096, '\x5a'));
    TWavLayout unknown;
    unknown.Tag = 0x1234;  // a codec FFmpeg's WAV reader names but nothing decodes
    WriteWav(*media_, "unknown.wav", unknown, std::string(8000, '\0'));
    // Damage: the last tenth cut off, and 64 bytes flipped two thirds in.
    for (const std::string name : {"vorbis.ogg", "wmav2.wma"}) {
      std::string bytes = media_->Read(name);
      media_->Write("cut-" + name, bytes.substr(0, bytes.size() * 9 / 10));
      for (std::size_t i = bytes.size() * 2 / 3; i < bytes.size() * 2 / 3 + 64 && i < bytes.size(); ++i)
        bytes[i] = char(bytes[i] ^ 0x55);
      media_->Write("bad-" + name, bytes);
    }
  }
  static void TearDownTestSuite() {
    delete media_;
    media_ = nullptr;
  }
  void SetUp() override {
    if (!media_) GTEST_SKIP() << "ffmpeg is not installed";
    TManualPlayerTest::SetUp();
  }

  // Identifies the file the way a channel does.
  bool Identify(const std::string& name, TMediaInfo& info, const WideString& as = {}) {
    TTestStream s = OpenMediaFile(*media_, name);
    if (!s) return false;
    return TMediaInfoExtractor().Extract(s.get(), as.empty() ? media_->Wide(name) : as, info);
  }

  // The whole file through the converter the factory makes for it.
  std::vector<std::uint8_t> Decode(const std::string& name, const TMediaInfo& info, double seekMs = -1,
                                   double* decodedMs = nullptr) {
    TTestStream s = OpenMediaFile(*media_, name);
    TRef<TWavConverter> c = CreateConverter(info, media_->Wide(name));
    if (!c) return {};
    c->Stream = s.get();
    if (!c->SetInputFormat(info)) return {};
    if (seekMs >= 0) c->Seek(std::int64_t(seekMs));
    if (decodedMs) *decodedMs = c->DecodedMs();
    return DecodeAll(*c);
  }

  static TMediaDir* media_;
  TPluginHooksScope hooks_;
};

TMediaDir* DllDecoders::media_ = nullptr;

TEST_F(DllDecoders, FilesWithoutPlugInsGoToFFmpegWithTheirDurationsInTheStandardFormat) {
  struct TCase {
    const char* name;
    std::uint32_t duration;
  } cases[] = {{"vorbis.ogg", 1000}, {"opus.ogg", 1000}, {"wmav2.wma", 1000}, {"aac.m4a", 1000},
               {"ima.wav", 1000},    {"s24.wav", 1000},  {"flac48.flac", 1000}};
  for (const TCase& t : cases) {
    TMediaInfo info{};
    ASSERT_TRUE(Identify(t.name, info)) << t.name;
    EXPECT_EQ(info.Kind, kMediaFFmpeg) << t.name;
    EXPECT_NEAR(double(info.Duration), double(t.duration), 50.0) << t.name;
    EXPECT_EQ(std::memcmp(&info.Format, &StandardOutputFormat(), sizeof(TWaveFormatEx)), 0) << t.name;
  }
  TMediaInfo info{};
  EXPECT_FALSE(Identify("junk.m4a", info));
  EXPECT_EQ(info.Kind, kMediaUnknown);
  EXPECT_FALSE(Identify("unknown.wav", info));
  // A nil stream is no file.
  EXPECT_FALSE(ChooseDecoder(nullptr, u"a.ogg", info));
}

TEST_F(DllDecoders, OggVorbisGoesThroughItsPlugInAndOtherOggCodecsToFFmpeg) {
  // The show's name for the plug-in maps to the library beside the program.
  ASSERT_TRUE(LoadOgg(u"oruogg.dll"));
  ASSERT_TRUE(OggPlugin());
  EXPECT_TRUE(LoadOgg(u"no-such-plugin.dll"));  // already loaded: kept

  TMediaInfo info{};
  // The extension decides, in any case and after a name suffix.
  ASSERT_TRUE(Identify("vorbis.ogg", info, media_->Wide("VORBIS.OGG?3")));
  EXPECT_EQ(info.Kind, kMediaOgg);
  EXPECT_NEAR(double(info.Duration), 1000.0, 2.0);
  EXPECT_EQ(+info.Format.nChannels, 2);
  EXPECT_EQ(+info.Format.nSamplesPerSec, 48000u);
  EXPECT_EQ(+info.Format.wBitsPerSample, 16);

  // Decoded in its own rate: a full second of the tone.
  const std::vector<std::uint8_t> all = Decode("vorbis.ogg", info);
  EXPECT_NEAR(double(all.size()) / 4, 48000.0, 1.0);
  const TSineFit fit = FitSine(Channel(Pcm16ToDouble(all.data(), all.size()), 2, 0), 48000);
  EXPECT_NEAR(fit.Frequency, 440.0, 0.5);
  EXPECT_NEAR(fit.Level, kStereoLevel, 0.005);

  // A seek lands on the very sample: the rest matches the whole decode there.
  double at = -1;
  const std::vector<std::uint8_t> tail = Decode("vorbis.ogg", info, 500, &at);
  EXPECT_NEAR(at, 500.0, 1.0);
  const std::size_t from = std::size_t(std::llround(at * 48)) * 4;
  ASSERT_GT(all.size(), from);
  ASSERT_EQ(tail.size(), all.size() - from);
  int worst = 0;
  for (std::size_t i = 0; i + 1 < tail.size(); i += 2) {
    std::int16_t a, b;
    std::memcpy(&a, &tail[i], 2);
    std::memcpy(&b, &all[from + i], 2);
    worst = std::max(worst, std::abs(a - b));
  }
  EXPECT_LE(worst, 1);

  // Opus in Ogg is refused by the plug-in and played by FFmpeg.
  ASSERT_TRUE(Identify("opus.ogg", info));
  EXPECT_EQ(info.Kind, kMediaFFmpeg);
  EXPECT_NEAR(double(Decode("opus.ogg", info).size()) / 4, 44100.0, 1500.0);

  // Damaged Vorbis whose end cannot be found decodes to nothing through the
  // plug-in: it is refused and left to FFmpeg, which ends it cleanly.
  for (const std::string name : {"cut-vorbis.ogg", "bad-vorbis.ogg"}) {
    TTestStream f = OpenMediaFile(*media_, name);
    std::int32_t ms = 0, offset = 0;
    OruWaveFormatEx format{};
    EXPECT_FALSE(OggPlugin()->GetMediaInfo(f.get(), reinterpret_cast<const OruStreamCallbacks*>(&StreamCallbacks()), &ms, &offset, &format)) << name;
    if (Identify(name, info)) {
      EXPECT_EQ(info.Kind, kMediaFFmpeg) << name;
      EXPECT_LE(Decode(name, info).size(), all.size()) << name;
    }
  }

  // Unloaded while a converter decodes: the converter keeps the library.
  ASSERT_TRUE(Identify("vorbis.ogg", info));
  {
    TTestStream f = OpenMediaFile(*media_, "vorbis.ogg");
    TRef<TWavConverter> c = CreateConverter(info, media_->Wide("vorbis.ogg"));
    ASSERT_TRUE(c);
    c->Stream = f.get();
    ASSERT_TRUE(c->SetInputFormat(info));
    UnloadOgg();
    EXPECT_EQ(DecodeAll(*c).size(), all.size());
  }

  // Without the plug-in the same file goes to FFmpeg.
  EXPECT_FALSE(OggPlugin());
  ASSERT_TRUE(Identify("vorbis.ogg", info));
  EXPECT_EQ(info.Kind, kMediaFFmpeg);
  info.Kind = kMediaOgg;
  EXPECT_FALSE(CreateConverter(info, media_->Wide("vorbis.ogg")));
}

// The content chooses the decoder, whatever the name says: Ogg Vorbis, Opus
// and M4A named as MP3 play (Vorbis through its plug-in when there is one,
// folded to stereo there when it has six channels); a MIDI file or a text
// named as MP3 is said once on standard error, with its name and why.
TEST_F(DllDecoders, TheContentChoosesTheDecoderWhateverTheName) {
  const std::string six = "aevalsrc=0.3*sin(2*PI*300*t)|0.3*sin(2*PI*500*t)|0.3*sin(2*PI*700*t)|"
                          "0.3*sin(2*PI*100*t)|0.3*sin(2*PI*1100*t)|0.3*sin(2*PI*1300*t):s=48000:d=1:c=5.1";
  ASSERT_EQ(RunTool("ffmpeg -hide_banner -loglevel error -y -f lavfi -i " + ShellQuote(six) +
                    " -c:a libvorbis -f ogg " + ShellQuote((media_->Path() / "six-vorbis.mp3").string())),
            0);
  for (const char* from : {"vorbis.ogg", "opus.ogg", "aac.m4a"})
    media_->Write(std::string(from) + ".mp3", media_->Read(from));
  media_->Write("midi.mp3", std::string("MThd\0\0\0\6\0\0\0\1\0\x60MTrk\0\0\0\4\0\xFF\x2F\0", 26));
  media_->Write("text.mp3", "Only words here, no sound at all.\n");

  TMediaInfo info{};
  for (const char* name : {"vorbis.ogg.mp3", "opus.ogg.mp3", "aac.m4a.mp3"}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(Identify(name, info));
    EXPECT_EQ(info.Kind, kMediaFFmpeg);
    EXPECT_NEAR(double(Decode(name, info).size()) / 4, 44100.0, 1500.0);
  }
  ASSERT_TRUE(LoadOgg(u"oruogg.dll"));
  ASSERT_TRUE(Identify("vorbis.ogg.mp3", info));
  EXPECT_EQ(info.Kind, kMediaOgg);
  EXPECT_NEAR(double(Decode("vorbis.ogg.mp3", info).size()) / 4, 48000.0, 1.0);
  ASSERT_TRUE(Identify("six-vorbis.mp3", info));
  EXPECT_EQ(info.Kind, kMediaOgg);
  EXPECT_EQ(+info.Format.nChannels, 2);
  const std::vector<std::uint8_t> folded = Decode("six-vorbis.mp3", info);
  const std::vector<double> samples = Pcm16ToDouble(folded.data(), folded.size());
  ASSERT_GT(samples.size(), 2u * 24000);
  double peak = 0;
  for (double v : samples) peak = std::max(peak, std::fabs(v));
  EXPECT_LT(peak, 0.35);
  const std::vector<double> left(samples.begin() + 2 * 4000, samples.end()), l = Channel(left, 2, 0),
      r = Channel(left, 2, 1);
  // Front left and back left on the left, the right ones on the right, the
  // centre on both, the low frequency nowhere.
  for (const auto& [hz, inLeft, inRight] : {std::tuple{300.0, true, false}, {500.0, false, true}, {700.0, true, true},
                                            {100.0, false, false}, {1100.0, true, false}, {1300.0, false, true}}) {
    SCOPED_TRACE(hz);
    EXPECT_EQ(ToneLevel(l, 48000, hz) > 0.03, inLeft);
    EXPECT_EQ(ToneLevel(r, 48000, hz) > 0.03, inRight);
  }
  UnloadOgg();

  for (const char* name : {"midi.mp3", "text.mp3"}) {
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Identify(name, info)) << name;
    EXPECT_FALSE(Identify(name, info)) << name;
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Sound load error: " + plat::ToUtf8(media_->Wide(name)) + " (not a sound the player can decode)\n");
  }
}

TEST_F(DllDecoders, TheWmaPlugInDecodesWhenLoadedDirectlyThoughTheMediaRuntimeIsMissing) {
  // No Windows Media runtime here: the plug-in is never taken.
  EXPECT_FALSE(LoadWma(u"oruwma.dll"));
  EXPECT_FALSE(WmaPlugin());

  TRef<TDllDec> dll = MakeRef<TDllDec>(u"oruwma.dll");
  ASSERT_TRUE(dll->Valid());
  TTestStream s = OpenMediaFile(*media_, "wmav2.wma");
  std::int32_t ms = 0, offset = -1;
  OruWaveFormatEx format{};
  ASSERT_TRUE(dll->GetMediaInfo(s.get(), reinterpret_cast<const OruStreamCallbacks*>(&StreamCallbacks()), &ms, &offset, &format));
  EXPECT_NEAR(ms, 1000, 60);
  EXPECT_EQ(offset, 0);
  EXPECT_EQ(+format.nChannels, 2);
  EXPECT_EQ(+format.nSamplesPerSec, 44100u);
  EXPECT_EQ(+format.nAvgBytesPerSec, 176400u);

  TMediaInfo info{};
  info.Kind = kMediaWma;
  info.Format = Pcm16Format(2, 44100);
  const auto decode = [&](const std::string& name, std::int64_t seek, double* at) {
    TTestStream f = OpenMediaFile(*media_, name);
    TRef<TDllConverter> c = MakeRef<TDllConverter>(dll.get());
    c->Stream = f.get();
    if (!c->SetInputFormat(info)) return std::vector<std::uint8_t>();
    if (seek >= 0) c->Seek(seek);
    if (at) *at = c->DecodedMs();
    return DecodeAll(*c);
  };
  const std::vector<std::uint8_t> all = decode("wmav2.wma", -1, nullptr);
  EXPECT_NEAR(double(all.size()) / 4, 44100.0, 2048.0);
  const TSineFit fit = FitSine(Channel(Pcm16ToDouble(all.data(), all.size()), 2, 1), 44100);
  EXPECT_NEAR(fit.Frequency, 440.0, 0.5);
  EXPECT_NEAR(fit.Level, kStereoLevel, 0.005);

  double at = -1;
  const std::vector<std::uint8_t> tail = decode("wmav2.wma", 500, &at);
  EXPECT_NEAR(at, 500.0, 1.0);
  EXPECT_NEAR(double(tail.size()), double(all.size()) - at * 44.1 * 4, 4 * 2048.0);
  decode("wmav2.wma", 1000000, &at);  // far past the end: the end
  EXPECT_LE(at, 1100.0);

  // Not its container; damaged files end cleanly.
  TTestStream ogg = OpenMediaFile(*media_, "vorbis.ogg");
  EXPECT_FALSE(dll->GetMediaInfo(ogg.get(), reinterpret_cast<const OruStreamCallbacks*>(&StreamCallbacks()), &ms, &offset, &format));
  const std::size_t cut = decode("cut-wmav2.wma", -1, nullptr).size();
  EXPECT_GT(cut, all.size() / 2);
  EXPECT_LT(cut, all.size());
  EXPECT_TRUE(decode("cut-wmav2.wma", 990, &at).empty());
  EXPECT_LE(decode("bad-wmav2.wma", -1, nullptr).size(), all.size() + 4 * 2048);
  // Null arguments are refused, not followed.
  EXPECT_FALSE(dll->GetMediaInfo(nullptr, reinterpret_cast<const OruStreamCallbacks*>(&StreamCallbacks()), &ms, &offset, &format));
  EXPECT_FALSE(dll->CreateDecoder(s.get(), reinterpret_cast<const OruStreamCallbacks*>(&StreamCallbacks()), nullptr, nullptr, 0));
  EXPECT_EQ(dll->Decode(nullptr), 0);
  dll->DestroyDecoder(nullptr);
}

TEST_F(DllDecoders, LibrariesThatAreNoPlugInsAreRefusedAndWindowsBinariesStandIn) {
  // A real library without the five functions.
  EXPECT_FALSE(MakeRef<TDllDec>(u"libz.so.1")->Valid());
  EXPECT_FALSE(LoadOgg(u"libz.so.1"));
  EXPECT_FALSE(OggPlugin());
  EXPECT_FALSE(LoadOgg(media_->Wide("no-such.dll")));
  EXPECT_FALSE(LoadOgg(u""));

  // A Windows binary extracted from a show under a plug-in's name: the
  // library standing in for it is loaded; under any other name nothing is.
  const std::string mz = std::string("MZ\x90\0\3\0\0\0", 8) + std::string(1024, '\0');
  media_->Write("plugins/oruogg.dll", mz);
  media_->Write("plugins/other.dll", mz);
  EXPECT_FALSE(MakeRef<TDllDec>(media_->Wide("plugins/other.dll"))->Valid());
  ASSERT_TRUE(LoadOgg(media_->Wide("plugins/oruogg.dll")));
  TMediaInfo info{};
  ASSERT_TRUE(Identify("vorbis.ogg", info));
  EXPECT_EQ(info.Kind, kMediaOgg);

  // A library of this system under a plug-in's name is never loaded either:
  // its constructor would run before any function is looked at.
  std::ifstream in(ZM_SHOW_PLUGIN_CANARY, std::ios::binary);
  media_->Write("plugins/elf/oruwma.dll", std::string((std::istreambuf_iterator<char>(in)), {}));
  const std::filesystem::path ran = media_->Path() / "show-code-ran";
  {
    zmtest::TEnvGuard mark("ZM_SHOW_CODE_RAN", ran.c_str());
    EXPECT_TRUE(MakeRef<TDllDec>(media_->Wide("plugins/elf/oruwma.dll"))->Valid());  // the program's own
  }
  EXPECT_FALSE(std::filesystem::exists(ran));
}

TEST_F(DllDecoders, WithoutFFmpegSuchFilesAreUnknownAndTheMusicPlaysOnWithoutThem) {
  WriteWav(dir_, "tone.wav", TWavLayout{}, EncodeSamples(Sine(44100, 2, 44100, 440), 16));
  std::filesystem::copy_file(media_->Path() / "aac.m4a", dir_.Path() / "aac.m4a");
  std::filesystem::copy_file(media_->Path() / "junk.m4a", dir_.Path() / "junk.m4a");

  // A file FFmpeg cannot open makes no channel; one it can, does.
  EXPECT_FALSE(Open("junk.m4a"));
  EXPECT_TRUE(Open("aac.m4a"));

  SetFFmpegLibraryNamesForTest({"libzm-none-1.so", "libzm-none-2.so", "libzm-none-3.so", "libzm-none-4.so",
                                "libzm-none-5.so"});
  struct TRestore {
    ~TRestore() { SetFFmpegLibraryNamesForTest({}); }
  } restore;
  TMediaInfo info{};
  EXPECT_FALSE(Identify("aac.m4a", info));
  EXPECT_FALSE(Open("aac.m4a"));
  TRef<TChannelMusic> wav = Open("tone.wav");
  ASSERT_TRUE(wav);
  wav->Play(10);
  for (int i = 0; i < 5; ++i) Run(100);
  double peak = 0;
  {
    std::lock_guard<std::mutex> g(Device()->M);
    for (TManualBuffer* b : Device()->Live) {
      const std::vector<double> v = Pcm16ToDouble(b->Written.data(), b->Written.size());
      for (double x : v) peak = std::max(peak, std::fabs(x));
    }
  }
  EXPECT_GT(peak, 0.4);
  Drain(wav.get());
}

}  // namespace zm_dll_decoders_test
