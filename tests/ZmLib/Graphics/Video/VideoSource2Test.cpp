#include "ZmLib/Graphics/Video/VideoSource2.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "ZmLib/Graphics/zmBitmap.h"
#include "ZmLib/Graphics/zmPixelFormat.h"
#include "ZmLib/zmHookScope.h"
#include "tests/ZmLib/Graphics/Video/VideoMediaKit.h"
#include "tests/support/kit/StreamBytes.h"

using namespace zm;
using namespace zmtest;

namespace {

TPixelFormat* Format(const char* name) { return PixelFormatByName(TByteString(name)); }

using zmtest::TCountedStream;

// A picture of plain planes: three 8-bit ones, or one packed plane.
class TPlainImage : public TYUVImage {
public:
  TPlainImage(int w, int h, bool rgba = false, bool grey = false) : TYUVImage(w, h) {
    SetRGBA(rgba);
    SetGrayScale(grey);
  }
  TRef<TBitmap> LockPlane(std::int32_t index) override {
    if (!HasPlane(index)) return nullptr;
    if (!Planes[index]) {
      const TPoint s = PlaneSize(index);
      const char* fmt = index == 4 ? PF_A8R8G8B8 : index == 3 ? PF_R5G6B5 : PF_Y8;
      Planes[index] = MakeRef<TDirectBitmap>(s.X, Format(fmt), s.Y);
    }
    return Planes[index];
  }
  bool UnlockPlane(std::int32_t, TRef<TBitmap>& plane) override {
    plane = nullptr;
    return true;
  }
  void Commit() override { ++Commits; }

  // The number the numbered clip's frame carries, read from the plane that holds the luma.
  int Number() {
    const int p = PackedPlane() < 0 ? 0 : PackedPlane();
    TDirectBitmap* b = Planes[p].get();
    if (!b) return -1;
    // Grey: the high byte of the 5-6-5 word grows with the level; BGRA: the green byte.
    const int step = p == 4 ? 4 : p == 3 ? 2 : 1;
    return ReadFrameNumber(b->ScanLine(0) + (p == 0 ? 0 : 1), Width(), Height(), b->RowBytes(), step);
  }

  TRef<TDirectBitmap> Planes[5];
  int Commits = 0;
};

std::string FileBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

TCountedStream* NewStream(const std::string& bytes, int* disposed = nullptr) {
  auto* s = new TCountedStream(disposed);
  if (!bytes.empty()) s->Write(TWriteBuffer(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
  s->SetPosition(0);
  return s;
}

class VideoSource2Test : public ::testing::Test {
protected:
  static void SetUpTestSuite() { dir_ = std::make_unique<TMediaDir>(); }
  static void TearDownTestSuite() { dir_.reset(); }
  void SetUp() override {
    if (!LoadFFmpegLibraries()) GTEST_SKIP() << "FFmpeg libraries not loadable";
    if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg program missing";
    SetVideoDecodeFaultForTest(nullptr);
  }
  void TearDown() override { SetVideoDecodeFaultForTest(nullptr); }

  static std::string Clip(TClip c) { return FileBytes(MakeClip(*dir_, c)); }
  // A source over the clip's bytes, owning the stream; nil when it did not open.
  static TRef<TVideoSource2> Open(TClip c, bool hardware = false, int* disposed = nullptr, bool multiThread = false) {
    const std::string bytes = Clip(c);
    TRef<TFrameSource> s = CreateVideoSource2(NewStream(bytes, disposed), true,
                                              Ascii(std::string("clip_") + ClipFileName(c)), multiThread, hardware);
    return RefCast<TVideoSource2>(s);
  }
  static WideString Ascii(const std::string& s) { return WideString(s.begin(), s.end()); }

  static std::unique_ptr<TMediaDir> dir_;
};
std::unique_ptr<TMediaDir> VideoSource2Test::dir_;

int gFaultCalls = 0;
bool CountCalls(const TVideoSource2&) {
  ++gFaultCalls;
  return false;
}
bool gFailNow = false;
bool FailWithHardware(const TVideoSource2& s) {
  return gFailNow && const_cast<TVideoSource2&>(s).UsesHardware();
}

}  // namespace

// Each frame carries its number: stepping and seeking must land on the frame
// asked for, whichever way it is reached.
TEST_F(VideoSource2Test, StepsWithinTheWindowAndSeeksBeyondIt) {
  TRef<TVideoSource2> src = Open(TClip::NumberedH264, false, nullptr, true);
  ASSERT_TRUE(src);
  EXPECT_EQ(src->Info.Width, 64);
  EXPECT_EQ(src->Info.Height, 64);
  EXPECT_DOUBLE_EQ(src->Info.FrameRate, 25);
  EXPECT_EQ(src->Info.FrameCount, 50);
  EXPECT_EQ(src->Info.CodecClass, u"H264");
  EXPECT_EQ(src->Info.Reserved, 0);
  EXPECT_FALSE(src->Info.HasAlpha);
  EXPECT_EQ(src->CurrentFrame(), 0);
  EXPECT_EQ(src->StepWindow(), 2);  // frames in 0.1 s at 25 fps

  TRef<TPlainImage> img = MakeRef<TPlainImage>(64, 64);
  SetVideoDecodeFaultForTest(&CountCalls);
  // {asked, decoder calls}: two steps, one seek.
  struct {
    int Asked, Calls;
  } const plan[] = {{1, 1}, {3, 2}, {10, 1}, {12, 2}, {20, 1}, {5, 1}, {5, 0}, {49, 1}, {0, 1}};
  for (const auto& p : plan) {
    SCOPED_TRACE(p.Asked);
    gFaultCalls = 0;
    ASSERT_TRUE(src->SeekFrame(p.Asked));
    EXPECT_EQ(gFaultCalls, p.Calls);
    EXPECT_EQ(src->CurrentFrame(), p.Asked);
    ASSERT_TRUE(src->GetFrame(img.get()));
    EXPECT_EQ(img->Number(), p.Asked);
  }
  EXPECT_EQ(img->Commits, 9);
  // Below 0 counts as 0; far past the end fails without harm and a seek back recovers.
  EXPECT_TRUE(src->SeekFrame(-7));
  EXPECT_EQ(src->CurrentFrame(), 0);
  src->SeekFrame(500);
  ASSERT_TRUE(src->SeekFrame(3));
  ASSERT_TRUE(src->GetFrame(img.get()));
  EXPECT_EQ(img->Number(), 3);
}

// A jump ahead past the window that a seek would decode from a key frame
// the decoder has passed already decodes on instead; one past the next key
// frame, or back, seeks. (The clip has a key frame every 10 frames.)
TEST_F(VideoSource2Test, JumpsAheadWithinAKeyFrameIntervalDecodeOn) {
  TRef<TVideoSource2> src = Open(TClip::NumberedH264, false, nullptr, true);
  ASSERT_TRUE(src);
  TRef<TPlainImage> img = MakeRef<TPlainImage>(64, 64);
  // {asked, seeks made for it}
  struct {
    int Asked, Seeks;
  } const plan[] = {{20, 1}, {27, 0}, {35, 1}, {39, 0}, {45, 1}, {41, 1}, {48, 0}};
  for (const auto& p : plan) {
    SCOPED_TRACE(p.Asked);
    const int seeks = src->Seeks();
    ASSERT_TRUE(src->SeekFrame(p.Asked));
    EXPECT_EQ(src->Seeks() - seeks, p.Seeks);
    EXPECT_EQ(src->CurrentFrame(), p.Asked);
    ASSERT_TRUE(src->GetFrame(img.get()));
    EXPECT_EQ(img->Number(), p.Asked);
  }
}

// The information record follows the clip: codec class, field order from the
// first frame, rotation from the display matrix.
TEST_F(VideoSource2Test, InformationRecordFollowsTheClip) {
  struct {
    TClip Clip;
    const char16_t* Codec;
    bool Interlaced, Tff;
    int Rotation;
  } const cases[] = {{TClip::NumberedMpeg4, u"MPEG4", false, false, 0},
                     {TClip::NumberedVp9, u"VP9", false, false, 0},
                     {TClip::InterlacedMpeg2, u"MPEG2", true, false, 0},
                     {TClip::InterlacedMpeg2Tff, u"MPEG2", true, true, 0},
                     {TClip::RotatedPlus90, u"H264", false, false, 270},
                     {TClip::Bgra, u"OTHER", false, false, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(ClipFileName(c.Clip));
    TRef<TVideoSource2> src = Open(c.Clip);
    ASSERT_TRUE(src);
    EXPECT_EQ(src->Info.CodecClass, c.Codec);
    EXPECT_EQ(src->Info.Interlaced, c.Interlaced);
    EXPECT_EQ(src->Info.TopFieldFirst, c.Tff);
    EXPECT_EQ(src->Info.Rotation, c.Rotation);
    EXPECT_EQ(src->Info.AspectClass, acOther);  // square pictures
    EXPECT_FALSE(src->UsesHardware());
  }
  TRef<TVideoSource2> hd = Open(TClip::Hd30);
  ASSERT_TRUE(hd);
  EXPECT_EQ(hd->Info.AspectClass, ac16x9);
  EXPECT_EQ(hd->Info.FrameCount, 6);
  EXPECT_EQ(hd->StepWindow(), 3);
}

// Every decoded layout reaches the picture: planar (both ranges), NV12,
// 4:2:2 through the scaler, BGRA into a packed image, luma into a grey one.
TEST_F(VideoSource2Test, EveryDecodedLayoutCarriesTheFrameNumber) {
  struct {
    TClip Clip;
    bool Rgba, Grey, Alpha;
  } const cases[] = {{TClip::NumberedMpeg4, false, false, false}, {TClip::NumberedVp9, false, true, false},
                     {TClip::YuvJ420, false, false, false},       {TClip::Nv12, false, false, false},
                     {TClip::Nv12, false, true, false},           {TClip::Yuv422, false, false, false},
                     {TClip::Bgra, true, false, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(ClipFileName(c.Clip));
    TRef<TVideoSource2> src = Open(c.Clip);
    ASSERT_TRUE(src);
    EXPECT_EQ(src->Info.HasAlpha, c.Alpha);
    TRef<TPlainImage> img = MakeRef<TPlainImage>(64, 64, c.Rgba, c.Grey);
    ASSERT_TRUE(src->SeekFrame(7));
    ASSERT_TRUE(src->GetFrame(img.get()));
    EXPECT_EQ(img->Number(), 7);
  }
  // A BGRA frame has no place in a three-plane image.
  TRef<TVideoSource2> bgra = Open(TClip::Bgra);
  ASSERT_TRUE(bgra);
  TRef<TPlainImage> yuv = MakeRef<TPlainImage>(64, 64);
  EXPECT_FALSE(bgra->GetFrame(yuv.get()));
  EXPECT_EQ(yuv->Commits, 0);
}

TEST_F(VideoSource2Test, FrameBitmapHasTheClipsColours) {
  TRef<TVideoSource2> src = Open(TClip::NumberedH264);
  ASSERT_TRUE(src);
  ASSERT_TRUE(src->SeekFrame(1));  // block 0 white, the others black
  TRef<TDirectBitmap> bmp = MakeRef<TDirectBitmap>(64, Format(PF_R8G8B8), 64);
  ASSERT_TRUE(src->GetFrameBitmap(bmp.get()));
  auto px = [&](int x, int y, int c) { return int(bmp->ScanLine(y)[x * 3 + c]); };
  for (int c = 0; c < 3; ++c) {
    EXPECT_GE(px(4, 12, c), 235) << c;
    EXPECT_LE(px(20, 12, c), 20) << c;
    EXPECT_NEAR(px(32, 48, c), 130, 8) << c;  // mid grey of video range
  }
  TRef<TDirectBitmap> wrong = MakeRef<TDirectBitmap>(64, Format(PF_Y8), 64);
  EXPECT_FALSE(src->GetFrameBitmap(wrong.get()));
  EXPECT_FALSE(src->GetFrameBitmap(nullptr));
  EXPECT_FALSE(src->GetFrame(nullptr));
}

// Ten sources may hold hardware slots; the eleventh decodes on the processor
// from the start, and a clip that is not worth hardware never keeps one.
TEST_F(VideoSource2Test, HardwareSlotsAreLimitedAndGivenBack) {
  ASSERT_EQ(HardwareSourceCount(), 0);
  std::vector<TRef<TVideoSource2>> sources;
  for (int i = 0; i < kMaxHardwareSources + 1; ++i) {
    sources.push_back(Open(TClip::Hd60, true));
    ASSERT_TRUE(sources.back());
  }
  for (int i = 0; i < kMaxHardwareSources; ++i) EXPECT_TRUE(sources[std::size_t(i)]->UsesHardware()) << i;
  EXPECT_FALSE(sources.back()->UsesHardware());
  EXPECT_FALSE(sources.back()->Decoder()->HardwareInUse());
  EXPECT_EQ(HardwareSourceCount(), kMaxHardwareSources);
  sources.front() = nullptr;
  EXPECT_EQ(HardwareSourceCount(), kMaxHardwareSources - 1);
  TRef<TVideoSource2> hd30 = Open(TClip::Hd30, true);
  ASSERT_TRUE(hd30);
  EXPECT_FALSE(hd30->UsesHardware());
  EXPECT_EQ(HardwareSourceCount(), kMaxHardwareSources - 1);
  // A clip that does not open gives its slot back.
  EXPECT_FALSE(Open(TClip::NotMedia, true));
  EXPECT_EQ(HardwareSourceCount(), kMaxHardwareSources - 1);
  sources.clear();
  EXPECT_EQ(HardwareSourceCount(), 0);
}

// Hardware that keeps failing: the sixth failed request counted since the
// last seek from a known frame reopens the clip on the processor and is
// tried once more; failures before it only count.
TEST_F(VideoSource2Test, SixthHardwareFailureReopensOnTheProcessor) {
  TRef<TVideoSource2> src = Open(TClip::Hd60, true);
  ASSERT_TRUE(src);
  ASSERT_TRUE(src->UsesHardware());
  ASSERT_EQ(src->StepWindow(), 6);
  SetVideoDecodeFaultForTest(&FailWithHardware);
  gFailNow = true;
  EXPECT_FALSE(src->SeekFrame(1));  // a step
  EXPECT_FALSE(src->SeekFrame(2));  // a seek from nowhere goes on counting
  EXPECT_EQ(src->HardwareErrors(), 2);
  gFailNow = false;
  ASSERT_TRUE(src->SeekFrame(3));
  EXPECT_EQ(src->HardwareErrors(), 2);
  gFailNow = true;
  // A seek from a known frame starts the count again.
  for (int i = 1; i <= kMaxHardwareErrors; ++i) {
    EXPECT_FALSE(src->SeekFrame(10 + i)) << i;
    EXPECT_EQ(src->HardwareErrors(), i);
    EXPECT_EQ(src->CurrentFrame(), -1);
    EXPECT_TRUE(src->UsesHardware());
  }
  ASSERT_TRUE(src->SeekFrame(9));
  EXPECT_FALSE(src->UsesHardware());
  EXPECT_EQ(HardwareSourceCount(), 0);
  EXPECT_EQ(src->HardwareErrors(), 0);
  EXPECT_EQ(src->CurrentFrame(), 9);
  TRef<TPlainImage> img = MakeRef<TPlainImage>(1280, 720);
  ASSERT_TRUE(src->GetFrame(img.get()));
  EXPECT_EQ(img->Number(), 9);
  // Without hardware, failures are not counted and nothing is reopened.
  SetVideoDecodeFaultForTest([](const TVideoSource2&) { return true; });
  for (int i = 0; i < 8; ++i) EXPECT_FALSE(src->SeekFrame(2));
  EXPECT_EQ(src->HardwareErrors(), 0);
  SetVideoDecodeFaultForTest(nullptr);
  EXPECT_TRUE(src->SeekFrame(2));
}

// Clips that cannot be opened give no source and free a stream handed over;
// with another kind installed before, that kind gets the stream back at its
// start. A clip cut short opens and fails only where its frames end.
TEST_F(VideoSource2Test, ClipsThatCannotOpenAndClipsCutShort) {
  for (TClip c : {TClip::NotMedia, TClip::Truncated, TClip::AudioOnly}) {
    SCOPED_TRACE(ClipFileName(c));
    int disposed = 0;
    EXPECT_FALSE(Open(c, false, &disposed));
    EXPECT_EQ(disposed, 1);
  }
  int disposed = 0;
  TCountedStream* empty = NewStream("", &disposed);
  EXPECT_FALSE(CreateVideoSource2(empty, false, u"empty.mp4", false, false));
  EXPECT_EQ(disposed, 0);  // not handed over: still the caller's
  empty->Free();
  EXPECT_FALSE(CreateVideoSource2(nullptr, true, u"none.mp4", false, false));

  static std::int64_t seenPosition;
  static int passedOn;
  seenPosition = -1;
  passedOn = 0;
  zm::THookScope create(CreateFrameSourceHook, [](TStream* s, bool owns, const WideString&, bool, bool) -> TRef<TFrameSource> {
    ++passedOn;
    seenPosition = s->GetPosition();
    if (owns) s->Free();
    return nullptr;
  });
  InitVideoSource2();
  EXPECT_EQ(CreateFrameSourceHook, &CreateVideoSource2);
  disposed = 0;
  TCountedStream* text = NewStream(Clip(TClip::NotMedia) + "more text", &disposed);
  text->SetPosition(5);
  EXPECT_FALSE(CreateFrameSource(text, true, u"clip.mp4", false, false));
  EXPECT_EQ(passedOn, 1);
  EXPECT_EQ(seenPosition, 5);
  EXPECT_EQ(disposed, 1);
  // Animated pictures go to their own kind without a try.
  EXPECT_FALSE(CreateFrameSource(NewStream(Clip(TClip::NumberedH264)), true, u"a.GIF", false, false));
  EXPECT_EQ(passedOn, 2);
  EXPECT_EQ(seenPosition, 0);
  TRef<TFrameSource> real = CreateFrameSource(NewStream(Clip(TClip::NumberedH264)), true, u"b.mp4", false, false);
  EXPECT_TRUE(real);
  EXPECT_EQ(passedOn, 2);
  FiniVideoSource2();
  EXPECT_NE(CreateFrameSourceHook, &CreateVideoSource2);
  create.Restore();

  // The first half of a WebM file: the header promises 50 frames, about 20 are there.
  std::string webm = Clip(TClip::NumberedVp9);
  webm.resize(webm.size() / 2);
  TRef<TVideoSource2> cut =
      RefCast<TVideoSource2>(CreateVideoSource2(NewStream(webm), true, u"cut.webm", false, false));
  ASSERT_TRUE(cut);
  TRef<TPlainImage> img = MakeRef<TPlainImage>(64, 64);
  int got = 0;
  while (got < 60 && cut->SeekFrame(got + 1)) {
    ++got;
    ASSERT_TRUE(cut->GetFrame(img.get()));
    ASSERT_EQ(img->Number(), got);
  }
  EXPECT_GT(got, 10);
  EXPECT_LT(got, 49);
  EXPECT_EQ(cut->CurrentFrame(), -1);
  EXPECT_FALSE(cut->GetFrame(img.get()));
  EXPECT_FALSE(cut->SeekFrame(45));
  ASSERT_TRUE(cut->SeekFrame(0));
  ASSERT_TRUE(cut->GetFrame(img.get()));
  EXPECT_EQ(img->Number(), 0);
}
