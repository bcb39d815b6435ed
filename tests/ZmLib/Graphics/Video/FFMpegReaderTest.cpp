#include "ZmLib/Graphics/Video/FFMpegReader.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Platform/PlatUtf8.h"
#include "ZmLib/zmLog.h"
#include "tests/ZmLib/Graphics/Video/VideoMediaKit.h"

namespace {

using zm::WideString;
using zmtest::TClip;

// Lines of the log; FFmpeg's own threads write here too.
class TLinesLog : public zm::TLog {
public:
  void WriteText(const WideString& line) override {
    std::lock_guard<std::mutex> g(m_);
    lines_.push_back(plat::ToUtf8(line));
  }
  bool Contains(const std::string& s) const {
    std::lock_guard<std::mutex> g(m_);
    for (const auto& l : lines_)
      if (l.find(s) != std::string::npos) return true;
    return false;
  }

private:
  mutable std::mutex m_;
  std::vector<std::string> lines_;
};

// Installs a capturing log for the scope.
struct TLogScope {
  TLinesLog* Log = new TLinesLog;
  TLogScope() { zm::SetLog(Log); }
  ~TLogScope() { zm::SetLog(nullptr); }
};

// A stream whose reads fail with an exception after the first bytes.
class TFailingStream : public zm::TMemoryStream {
public:
  explicit TFailingStream(std::int64_t failAt) : failAt_(failAt) {}
  std::int32_t Read(zm::TReadBuffer buffer, std::int32_t count, std::int32_t offset) override {
    if (GetPosition() >= failAt_) throw zm::EStreamReadError();
    return TMemoryStream::Read(buffer, count, offset);
  }
  using TMemoryStream::Read;

private:
  std::int64_t failAt_;
};

class FFMpegReader : public ::testing::Test {
protected:
  static void SetUpTestSuite() { dir_ = new zmtest::TMediaDir; }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override {
    if (!zm::LoadFFmpegLibraries()) GTEST_SKIP() << "FFmpeg libraries not installed";
  }

  // The clip's bytes as a stream; empty (and the test skipped) without ffmpeg.
  static std::string Clip(TClip c) { return zmtest::MakeClip(*dir_, c); }

  struct TOpened {
    zm::TRef<zm::TMemoryStream> Stream;
    zm::TRef<zm::TFFMpegVideo> Video;
    bool Ok = false;
  };
  static TOpened OpenVideo(const std::string& path) {
    TOpened o;
    o.Stream = zmtest::MemoryClip(zmtest::ClipBytes(path));
    o.Video = zm::MakeRef<zm::TFFMpegVideo>();
    o.Ok = o.Video->Open(o.Stream.get(), plat::FromUtf8(std::filesystem::path(path).filename().string()));
    return o;
  }
  static int Number(const zm::TFFMpegVideo& v) {
    const AVFrame* f = v.CurrentFrame();
    return f ? zmtest::ReadFrameNumber(f->data[0], f->width, f->height, f->linesize[0]) : -2;
  }

  static zmtest::TMediaDir* dir_;
};

zmtest::TMediaDir* FFMpegReader::dir_ = nullptr;

#define CLIP_OR_SKIP(var, clip)                                     \
  const std::string var = Clip(clip);                               \
  if (var.empty()) GTEST_SKIP() << "ffmpeg cannot make test media"

TEST_F(FFMpegReader, MissingLibrariesFailEveryOpenWithoutRaisingAndLoadAgainWhenRestored) {
  CLIP_OR_SKIP(path, TClip::NumberedH264);
  zm::SetFFmpegLibraryNamesForTest({"libavutil.so.57", "libzm-no-such-library.so.4"});
  EXPECT_FALSE(zm::LoadFFmpegLibraries());
  {
    TOpened o;
    ASSERT_NO_THROW(o = OpenVideo(path));
    EXPECT_FALSE(o.Ok);
    EXPECT_FALSE(o.Video->DecodeNext(INT64_MIN));
    EXPECT_FALSE(o.Video->SeekTime(0));
    auto stream = zmtest::MemoryClip(zmtest::ClipBytes(path));
    auto audio = zm::MakeRef<zm::TFFMpegAudio>(2, 44100, AV_SAMPLE_FMT_S16);
    EXPECT_FALSE(audio->Open(stream.get(), u"a.mp4"));
    EXPECT_FALSE(audio->DecodeNext());
  }
  zm::SetFFmpegLibraryNamesForTest({});
  EXPECT_TRUE(zm::LoadFFmpegLibraries());
  // A folder without the libraries falls back to the system's search.
  zm::SetFFmpegFolder(u"/no/such/folder");
  EXPECT_TRUE(zm::LoadFFmpegLibraries());
  EXPECT_EQ(zm::FFmpegFolder(), u"/no/such/folder");
  zm::SetFFmpegFolder(u"");
  EXPECT_TRUE(zm::LoadFFmpegLibraries());
  EXPECT_TRUE(OpenVideo(path).Ok);
}

TEST_F(FFMpegReader, ReadersOnSeveralThreadsWhileTheFolderChanges) {
  CLIP_OR_SKIP(path, TClip::NumberedH264);
  const std::string bytes = zmtest::ClipBytes(path);
  std::atomic<int> failures{0};
  std::atomic<bool> done{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&] {
      for (int round = 0; round < 3; ++round) {
        if (!zm::LoadFFmpegLibraries()) ++failures;
        auto s = zmtest::MemoryClip(bytes);
        auto v = zm::MakeRef<zm::TFFMpegVideo>();
        if (!v->Open(s.get(), u"t.mp4")) ++failures;
        int n = 0;
        while (v->DecodeNext(INT64_MIN))
          if (Number(*v) != n++) ++failures;
        if (n != 50) ++failures;
      }
    });
  }
  // Every change of folder makes the next caller load again.
  std::thread changer([&] {
    for (int i = 0; !done.load(); ++i) {
      zm::SetFFmpegFolder(i % 2 ? u"/no/such/folder" : u"");
      std::this_thread::yield();
    }
  });
  for (auto& t : threads) t.join();
  done = true;
  changer.join();
  zm::SetFFmpegFolder(u"");
  EXPECT_EQ(failures.load(), 0);
  EXPECT_TRUE(zm::LoadFFmpegLibraries());
}

TEST_F(FFMpegReader, ClipsGiveTheirFiguresAndEveryFrameInOrder) {
  struct TCase {
    TClip Clip;
    const char16_t* Name;
    AVCodecID Id;
  };
  for (const TCase& c : {TCase{TClip::NumberedMpeg4, u"MPEG4", AV_CODEC_ID_MPEG4},
                         TCase{TClip::NumberedH264, u"H.264", AV_CODEC_ID_H264},
                         TCase{TClip::NumberedVp9, u"VP9", AV_CODEC_ID_VP9}}) {
    CLIP_OR_SKIP(path, c.Clip);
    SCOPED_TRACE(path);
    TOpened o = OpenVideo(path);
    ASSERT_TRUE(o.Ok);
    zm::TFFMpegVideo& v = *o.Video;
    EXPECT_EQ(v.StreamCount(), 1);
    EXPECT_EQ(v.VideoStreamCount(), 1);
    EXPECT_EQ(v.FrameCount(), 50);
    EXPECT_NEAR(double(v.DurationUs()), 2e6, 1e5);
    EXPECT_EQ(v.RateNum() * 1.0 / v.RateDen(), 25.0);
    const zm::TFFStreamInfo& info = v.StreamInfo();
    EXPECT_EQ(info.CodecId, c.Id);
    EXPECT_EQ(info.CodecName, c.Name);
    EXPECT_EQ(info.Width, 64);
    EXPECT_EQ(info.Height, 64);
    EXPECT_EQ(info.SourcePixelFormat, AV_PIX_FMT_YUV420P);
    EXPECT_FALSE(info.IsBGRA);
    EXPECT_EQ(info.Rotation, 0);
    zm::TFFContainerInfo container;
    v.Input()->GetInfo(container);
    EXPECT_NEAR(double(container.Duration), 2e6, 1e5);

    std::vector<int> numbers;
    std::int64_t lastTime = -1;
    while (v.DecodeNext(INT64_MIN)) {
      ASSERT_NE(v.CurrentFrame(), nullptr);
      EXPECT_TRUE(v.FrameProps().Valid);
      EXPECT_GT(v.FrameTime(), lastTime);
      lastTime = v.FrameTime();
      numbers.push_back(Number(v));
      ASSERT_LT(numbers.size(), 60u);
    }
    std::vector<int> expected(50);
    for (int i = 0; i < 50; ++i) expected[std::size_t(i)] = i;
    EXPECT_EQ(numbers, expected);
    EXPECT_TRUE(v.AtEnd());
    EXPECT_FALSE(v.DecodeNext(INT64_MIN));
    EXPECT_NEAR(double(lastTime), 49 * 40000.0, 1000);
  }
}

TEST_F(FFMpegReader, SeekLandsOnTheAskedFrameBothWays) {
  for (TClip clip : {TClip::NumberedH264, TClip::NumberedMpeg4, TClip::NumberedVp9}) {
    CLIP_OR_SKIP(path, clip);
    SCOPED_TRACE(path);
    TOpened o = OpenVideo(path);
    ASSERT_TRUE(o.Ok);
    zm::TFFMpegVideo& v = *o.Video;
    for (int k : {23, 49, 7, 0, 31, 12}) {
      ASSERT_TRUE(v.SeekTime(std::int64_t(k) * 40000)) << k;
      EXPECT_EQ(Number(v), k);
      EXPECT_NEAR(double(v.FrameTime()), k * 40000.0, 1000);
      if (k < 49) {
        // Decoding goes on from there.
        ASSERT_TRUE(v.DecodeNext(INT64_MIN));
        EXPECT_EQ(Number(v), k + 1);
      }
    }
    // Past the end: the last frame or the end, never a hang.
    EXPECT_NO_THROW(v.SeekTime(10'000'000));
    // A frame before the target is skipped without a picture.
    ASSERT_TRUE(v.SeekTime(0));
    ASSERT_TRUE(v.DecodeNext(1'000'000));
    EXPECT_EQ(v.CurrentFrame(), nullptr);
  }
}

TEST_F(FFMpegReader, PixelFormatsAndFieldOrderComeThrough) {
  struct TCase {
    TClip Clip;
    AVPixelFormat Format;
    bool Interlaced, TopFirst;
  };
  for (const TCase& c : {TCase{TClip::Bgra, AV_PIX_FMT_BGRA, false, false},
                         TCase{TClip::Nv12, AV_PIX_FMT_NV12, false, false},
                         TCase{TClip::YuvJ420, AV_PIX_FMT_YUVJ420P, false, false},
                         TCase{TClip::Yuv422, AV_PIX_FMT_YUV422P, false, false},
                         TCase{TClip::InterlacedMpeg2, AV_PIX_FMT_YUV420P, true, false},
                         TCase{TClip::InterlacedMpeg2Tff, AV_PIX_FMT_YUV420P, true, true},
                         TCase{TClip::InterlacedH264, AV_PIX_FMT_YUV420P, true, false}}) {
    CLIP_OR_SKIP(path, c.Clip);
    SCOPED_TRACE(path);
    TOpened o = OpenVideo(path);
    ASSERT_TRUE(o.Ok);
    EXPECT_EQ(o.Video->StreamInfo().IsBGRA, c.Format == AV_PIX_FMT_BGRA);
    for (int n = 0; n < 25; ++n) {
      ASSERT_TRUE(o.Video->DecodeNext(INT64_MIN)) << n;
      const zm::TFFFrameProps& p = o.Video->FrameProps();
      EXPECT_EQ(p.PixelFormat, c.Format);
      EXPECT_EQ(p.Interlaced, c.Interlaced);
      if (c.Interlaced) {
        EXPECT_EQ(p.TopFieldFirst, c.TopFirst);
      }
      const AVFrame* f = o.Video->CurrentFrame();
      const int step = c.Format == AV_PIX_FMT_BGRA ? 4 : 1;
      EXPECT_EQ(zmtest::ReadFrameNumber(f->data[0], f->width, f->height, f->linesize[0], step), n);
    }
    EXPECT_FALSE(o.Video->DecodeNext(INT64_MIN));
  }
}

TEST_F(FFMpegReader, DisplayMatrixGivesTheRotation) {
  CLIP_OR_SKIP(plus, TClip::RotatedPlus90);
  CLIP_OR_SKIP(minus, TClip::RotatedMinus90);
  TOpened a = OpenVideo(plus), b = OpenVideo(minus);
  ASSERT_TRUE(a.Ok);
  ASSERT_TRUE(b.Ok);
  EXPECT_EQ(a.Video->StreamInfo().Rotation, 270);
  EXPECT_EQ(b.Video->StreamInfo().Rotation, 90);
}

TEST_F(FFMpegReader, HardwareAndThreadCandidates) {
  CLIP_OR_SKIP(hd60, TClip::Hd60);
  CLIP_OR_SKIP(hd30, TClip::Hd30);
  CLIP_OR_SKIP(mpeg4, TClip::NumberedMpeg4);
  CLIP_OR_SKIP(vp9, TClip::NumberedVp9);
  TOpened a = OpenVideo(hd60), b = OpenVideo(hd30), c = OpenVideo(mpeg4), d = OpenVideo(vp9);
  ASSERT_TRUE(a.Ok && b.Ok && c.Ok && d.Ok);
  EXPECT_TRUE(a.Video->IsHardwareCandidate());   // 1280 x 720 x 60 = 55296000
  EXPECT_FALSE(b.Video->IsHardwareCandidate());  // 27648000
  EXPECT_FALSE(c.Video->IsHardwareCandidate());
  EXPECT_FALSE(d.Video->IsHardwareCandidate());  // VP9, but small
  EXPECT_TRUE(a.Video->IsThreadCandidate());
  EXPECT_TRUE(d.Video->IsThreadCandidate());
  EXPECT_FALSE(c.Video->IsThreadCandidate());
  EXPECT_EQ(a.Video->FrameCount(), 12);
  EXPECT_EQ(b.Video->FrameCount(), 6);
  // Threads asked for: the frames still come in order.
  a.Video->SetThreadCount(8);
  int n = 0;
  while (a.Video->DecodeNext(INT64_MIN)) EXPECT_EQ(Number(*a.Video), n++);
  EXPECT_EQ(n, 12);
}

TEST_F(FFMpegReader, HardwareDeviceFailsCleanlyAndDecodingRunsOnTheProcessor) {
  CLIP_OR_SKIP(path, TClip::NumberedH264);
  zm::SetHardwareDecoding(true);
  zm::FiniFFmpegApi();
  TLogScope log;
  ASSERT_TRUE(zm::LoadFFmpegLibraries());
  // This FFmpeg has no DXVA2: nothing is tried, and the log stays quiet about it.
  EXPECT_FALSE(log.Log->Contains("ffmpeg: Failed to create specified HW device."));
  EXPECT_EQ(zm::HardwareDeviceStatus(), u"AV_HWDEVICE_TYPE_DXVA2=Failed");
  EXPECT_FALSE(zm::HardwareDeviceReady());
  const std::int32_t holders = zm::HardwareHolders();
  {
    TOpened o = OpenVideo(path);
    EXPECT_EQ(zm::HardwareHolders(), holders + 1);
    ASSERT_TRUE(o.Ok);
    EXPECT_EQ(o.Video->HardwareStatus(), u"AV_HWDEVICE_TYPE_DXVA2=Failed");
    o.Video->SetHardwareWanted(true);
    ASSERT_TRUE(o.Video->DecodeNext(INT64_MIN));
    EXPECT_TRUE(o.Video->HardwareInUse());
    EXPECT_EQ(Number(*o.Video), 0);
    EXPECT_EQ(o.Video->FrameProps().PixelFormat, AV_PIX_FMT_YUV420P);
    // Latched at the first decode.
    o.Video->SetHardwareWanted(false);
    EXPECT_TRUE(o.Video->DecodeNext(INT64_MIN));
    EXPECT_TRUE(o.Video->HardwareInUse());
  }
  EXPECT_EQ(zm::HardwareHolders(), holders);
  EXPECT_TRUE(log.Log->Contains("ffmpeg: avcodec_find_decoder: LDecoder.name = h264"));
}

TEST_F(FFMpegReader, OddInputsOpenOrFailCleanly) {
  CLIP_OR_SKIP(audio, TClip::AudioOnly);
  CLIP_OR_SKIP(truncated, TClip::Truncated);
  CLIP_OR_SKIP(notMedia, TClip::NotMedia);
  CLIP_OR_SKIP(h264, TClip::NumberedH264);
  {
    // No video stream: the open succeeds, the first decode says so and fails.
    TLogScope log;
    TOpened o = OpenVideo(audio);
    ASSERT_TRUE(o.Ok);
    EXPECT_EQ(o.Video->VideoStreamCount(), 0);
    EXPECT_EQ(o.Video->FrameCount(), 0);
    EXPECT_FALSE(o.Video->DecodeNext(INT64_MIN));
    EXPECT_TRUE(log.Log->Contains("ffmpeg: no video stream."));
    EXPECT_FALSE(o.Video->DecodeNext(INT64_MIN));
    EXPECT_FALSE(o.Video->SeekTime(0));
  }
  {
    TLogScope log;
    TOpened t = OpenVideo(truncated);
    EXPECT_FALSE(t.Ok);
    EXPECT_EQ(t.Video->Input()->LastError(), u"truncated.mp4: Invalid data found when processing input");
    EXPECT_FALSE(t.Video->DecodeNext(INT64_MIN));
    // FFmpeg's own complaint reaches the log.
    EXPECT_TRUE(log.Log->Contains("ffmpeg: "));
  }
  {
    // A picture wider than any video: refused at the decoder, not allocated.
    const std::string wide = (dir_->Path() / "wide.nut").string();
    if (zmtest::RunTool("ffmpeg -hide_banner -loglevel error -y -f lavfi -i color=s=16400x2:r=25:d=0.08 "
                        "-c:v rawvideo -pix_fmt gray " + zmtest::ShellQuote(wide)) == 0) {
      TLogScope log;
      TOpened w = OpenVideo(wide);
      ASSERT_TRUE(w.Ok);
      EXPECT_EQ(w.Video->StreamInfo().Width, 16400);
      EXPECT_FALSE(w.Video->DecodeNext(INT64_MIN));
      EXPECT_TRUE(log.Log->Contains("ffmpeg: frame size of codec is invalid in OpenVideoDecoder"));
    }
  }
  TOpened n = OpenVideo(notMedia);
  EXPECT_FALSE(n.Ok);
  EXPECT_EQ(n.Video->Input()->LastError(), u"notmedia.mp4: Invalid data found when processing input");
  // Empty input.
  auto empty = zmtest::MemoryClip("");
  auto v = zm::MakeRef<zm::TFFMpegVideo>();
  EXPECT_FALSE(v->Open(empty.get(), u"e.mp4"));
  EXPECT_FALSE(v->Open(nullptr, u"e.mp4"));
  // A stream that raises part way: the exception stays out of FFmpeg.
  const std::string bytes = zmtest::ClipBytes(h264);
  for (std::int64_t failAt : {std::int64_t(0), std::int64_t(bytes.size() / 2)}) {
    auto failing = zm::MakeRef<TFailingStream>(failAt);
    failing->Write(zm::TWriteBuffer(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    failing->SetPosition(0);
    auto fv = zm::MakeRef<zm::TFFMpegVideo>();
    bool opened = false;
    ASSERT_NO_THROW(opened = fv->Open(failing.get(), u"f.mp4"));
    int frames = 0;
    while (opened && fv->DecodeNext(INT64_MIN)) ASSERT_LT(++frames, 60);
    fv->Close();
  }
}

// Inputs that name other inputs (a playlist, a concatenation, a network
// session) are refused before their header is read: nothing they name is
// opened, though the file they name plays by itself.
TEST_F(FFMpegReader, PlaylistsAndSessionsAreNotFollowed) {
  CLIP_OR_SKIP(audio, TClip::AudioOnly);
  struct TCase {
    std::string Text;
    const char16_t* Name;
    const char* Demuxer;
  };
  const TCase cases[] = {
      {"#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:2.0,\n" + audio + "\n#EXT-X-ENDLIST\n", u"list.m3u8", "hls"},
      {"ffconcat version 1.0\nfile '" + audio + "'\n", u"list.ffconcat", "concat"},
      {"v=0\r\no=- 0 0 IN IP4 127.0.0.1\r\ns=x\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\nm=audio 9 RTP/AVP 0\r\n", u"a.sdp",
       "sdp"}};
  for (const TCase& c : cases) {
    TLogScope log;
    auto s = zmtest::MemoryClip(c.Text);
    auto a = zm::MakeRef<zm::TFFMpegAudio>(2, 44100, AV_SAMPLE_FMT_S16);
    EXPECT_FALSE(a->Open(s.get(), c.Name)) << c.Demuxer;
    EXPECT_TRUE(log.Log->Contains(std::string(c.Demuxer) + " input not read")) << c.Demuxer;
  }
  auto s = zmtest::MemoryClip(zmtest::ClipBytes(audio));
  auto a = zm::MakeRef<zm::TFFMpegAudio>(2, 44100, AV_SAMPLE_FMT_S16);
  EXPECT_TRUE(a->Open(s.get(), u"audio.m4a"));
}

TEST_F(FFMpegReader, FramesWithoutTimestampsGetTimesCarriedOn) {
  CLIP_OR_SKIP(path, TClip::RawH264);
  TOpened o = OpenVideo(path);
  ASSERT_TRUE(o.Ok);
  std::vector<std::int64_t> times;
  int n = 0;
  while (o.Video->DecodeNext(INT64_MIN)) {
    EXPECT_EQ(Number(*o.Video), n++);
    times.push_back(o.Video->FrameTime());
  }
  ASSERT_EQ(n, 25);
  for (std::size_t i = 1; i < times.size(); ++i) EXPECT_NEAR(double(times[i] - times[i - 1]), 40000.0, 2000) << i;
}

TEST_F(FFMpegReader, AudioDecodesResampledOrInItsOwnFormatAndSeeks) {
  CLIP_OR_SKIP(path, TClip::AudioOnly);
  const std::string bytes = zmtest::ClipBytes(path);
  {
    auto s = zmtest::MemoryClip(bytes);
    auto a = zm::MakeRef<zm::TFFMpegAudio>(2, 44100, AV_SAMPLE_FMT_S16);
    ASSERT_TRUE(a->Open(s.get(), u"audio.m4a"));
    EXPECT_TRUE(a->HasStream());
    EXPECT_EQ(a->AudioStreamCount(), 1);
    EXPECT_EQ(a->StreamInfo().SampleRate, 48000);
    EXPECT_EQ(a->StreamInfo().Channels, 2);
    EXPECT_EQ(a->StreamInfo().CodecId, AV_CODEC_ID_AAC);
    std::vector<std::uint8_t> pcm;
    int calls = 0;
    while (a->DecodeNext()) {
      ASSERT_GT(a->DecodedSize(), 0);
      pcm.insert(pcm.end(), a->Decoded(), a->Decoded() + a->DecodedSize());
      ASSERT_LT(++calls, 1000);
    }
    EXPECT_FALSE(a->DecodeNext());
    const double frames = double(pcm.size()) / 4;
    EXPECT_NEAR(frames, 2 * 44100.0, 44100 * 0.05);
    auto left = zmtest::Channel(zmtest::Pcm16ToDouble(pcm.data(), pcm.size()), 2, 0);
    // Skip the encoder's start-up and end.
    const std::vector<double> middle(left.begin() + 4410, left.begin() + 4410 + 44100);
    const zmtest::TSineFit fit = zmtest::FitSine(middle, 44100);
    EXPECT_NEAR(fit.Frequency, 440, 1);
    EXPECT_GT(fit.Level, 0.05);

    ASSERT_TRUE(a->SeekTime(1'000'000));
    ASSERT_TRUE(a->DecodeNext());
    EXPECT_NEAR(double(a->DecodedTime()), 1e6, 30000);
    std::size_t rest = std::size_t(a->DecodedSize());
    while (a->DecodeNext()) rest += std::size_t(a->DecodedSize());
    EXPECT_NEAR(double(rest) / 4, 44100.0, 44100 * 0.05);
  }
  {
    auto s = zmtest::MemoryClip(bytes);
    auto a = zm::MakeRef<zm::TFFMpegAudio>(0, 0, -1);
    ASSERT_TRUE(a->Open(s.get(), u"audio.m4a"));
    ASSERT_TRUE(a->DecodeNext());
    EXPECT_EQ(a->OutChannels(), 2);
    EXPECT_EQ(a->OutSampleRate(), 48000);
    // The decoder's planar float comes interleaved.
    EXPECT_EQ(a->OutSampleFormat(), AV_SAMPLE_FMT_FLT);
    std::size_t bytesOut = std::size_t(a->DecodedSize());
    while (a->DecodeNext()) bytesOut += std::size_t(a->DecodedSize());
    EXPECT_NEAR(double(bytesOut) / 8, 96000.0, 96000 * 0.05);
    // Seeking to the start of a finished reader starts again.
    ASSERT_TRUE(a->SeekTime(0));
    EXPECT_TRUE(a->DecodeNext());
  }
  {
    // The video file's audio reader finds no audio.
    CLIP_OR_SKIP(video, TClip::NumberedH264);
    TLogScope log;
    auto s = zmtest::MemoryClip(zmtest::ClipBytes(video));
    auto a = zm::MakeRef<zm::TFFMpegAudio>(2, 44100, AV_SAMPLE_FMT_S16);
    ASSERT_TRUE(a->Open(s.get(), u"v.mp4"));
    EXPECT_FALSE(a->HasStream());
    EXPECT_FALSE(a->DecodeNext());
    EXPECT_TRUE(log.Log->Contains("ffmpeg: No audio stream."));
  }
}

TEST(FFMpegErrorText, KnownAndUnknownNumbers) {
  EXPECT_EQ(zm::FFmpegErrorText(u"a.mp4", -99999), u"a.mp4: Error number -99999 occurred");
  EXPECT_EQ(zm::FFmpegErrorText(u"", AVERROR(ENOENT)), u"No such file or directory");
  EXPECT_EQ(zm::FFmpegErrorText(u"", AVERROR(EIO)), u"I/O error");
  EXPECT_EQ(zm::FFmpegErrorText(u"x", AVERROR_EOF), u"x: End of file");
  EXPECT_EQ(zm::FFmpegErrorText(u"", AVERROR_INVALIDDATA), u"Invalid data found when processing input");
  EXPECT_EQ(zm::FFmpegErrorText(u"", AVERROR_HTTP_NOT_FOUND), u"Server returned 404 Not Found");
  EXPECT_EQ(zm::FFmpegErrorText(u"", -10022), u"Invalid argument / Invalid data found when processing input");
  EXPECT_EQ(zm::FFmpegErrorText(u"", 0), u"Error number 0 occurred");
}

}  // namespace
