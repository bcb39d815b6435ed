// Video objects drawn by the 3D drawer on the software device: the clip time
// at a show time, the frame that reaches the screen, the field of an
// interlaced clip, a clip of the Tracks list shared by two objects, and the
// placeholders of clips that cannot be shown. Clips are made with ffmpeg.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "OruLib2/Effects/OruEffectManager.h"
#include "OruLib2/OruClasses/OruFileAccess.h"
#include "OruLib2/OruClasses/OruObjectFactory.h"
#include "OruLib2/OruClasses/OruVideo.h"
#include "ZmLib/3DBasics/CustomColorGradeTexture.h"
#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/Graphics/Video/FFMpegApi.h"
#include "ZmLib/Graphics/Video/VideoSource2.h"
#include "ZmLib/zmHookScope.h"
#include "tests/OruLib2/OruClasses/OruImageTestKit.h"
#include "tests/ZmLib/Graphics/Video/VideoMediaKit.h"
#include "tests/support/DrawerOnDevice.h"

namespace {

using namespace oru_image_test;
using oru::TOruVideo;
using oru::TVideoFrameExtractor;
using zmtest::TClip;

std::unique_ptr<zmtest::TMediaDir>& Media() {
  static std::unique_ptr<zmtest::TMediaDir> dir;
  return dir;
}

zm::TRef<zm::TCustomColorGradeTexture> MakeGrade(zm::TDeviceDrawer& drawer, std::uint8_t kind) {
  auto* d = dynamic_cast<oru::T3DDrawer*>(&drawer);
  if (!d || !d->Screen()) return nullptr;
  return zm::MakeRef<zm::TCustomColorGradeTexture>(d->Screen(), kind);
}

zm::TSize BufferSize(void*, TOruSlideHost*) { return {64, 64}; }
zm::TFloatPoint3 Camera(void*, TOruSlideHost*) { return {32, 32, -64}; }
oru::TOruSource* NoShow(void*, TOruSlideHost*) { return nullptr; }

// The frame number a numbered clip's frame carries at clip time T (ms), 25 fps.
int FrameAt(double t) { return int(std::lround(t * 25 / 1000)); }

class VideoOnDevice : public drawertest::TDrawerOnDevice {
protected:
  VideoOnDevice() : TDrawerOnDevice(64, 64) {}

  static void SetUpTestSuite() {
    Media() = std::make_unique<zmtest::TMediaDir>();
    zm::InitVideoSource2();
  }
  static void TearDownTestSuite() {
    zm::FiniVideoSource2();
    Media().reset();
  }

  void SetUp() override {
    TDrawerOnDevice::SetUp();
    grade_.Set(&MakeGrade);
    accessor_ = zm::MakeRef<TFileAccessor>(zm::MakeRef<oru::TRealFileSource>().get());
    oru::TOruHostCallbacks cb;
    cb.EffectBufferSize = {&BufferSize, nullptr};
    cb.Camera = {&Camera, nullptr};
    cb.ShowSource = {&NoShow, nullptr};
    host_ = zm::MakeRef<TOruSlideHost>(accessor_.get(), cb, u"", false);
  }
  void TearDown() override {
    host_ = nullptr;
    accessor_ = nullptr;
    grade_.Restore();
    TDrawerOnDevice::TearDown();
  }

  static std::string ClipPath(TClip c) { return zmtest::MakeClip(*Media(), c); }
  // A numbered, interlaced clip whose frames are flagged top field first.
  static std::string TopFieldFirstClip() {
    const std::string path = (Media()->Path() / "tff_numbered.mkv").string();
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) return path;
    if (!zmtest::HaveTool("ffmpeg")) return {};
    std::string src = zmtest::NumberedSource(64, 64, 25, 1);
    src.insert(src.size() - 1, ",setfield=tff");
    const std::string cmd = "ffmpeg -hide_banner -loglevel error -y " + src +
                            " -c:v libx264 -preset ultrafast -threads 1 -crf 16 -flags +ildct+ilme -top 1"
                            " -pix_fmt yuv420p " +
                            zmtest::ShellQuote(path);
    return zmtest::RunTool(cmd) == 0 ? path : std::string();
  }

  // A slide of 64 x 64 with Body, after a [Tracks] section with Tracks.
  TTestTree Tree(const std::string& body, const std::string& tracks = "", const std::string& times = "") {
    TTestTree t;
    t.File = zm::MakeRef<zm::TIniFile>();
    t.File->LoadFromText(zm::TByteString("[Times]\r\n" + times + "[Tracks]\r\n" + tracks +
                                         "[Slide1]\r\nGUID={S}\r\n" + body));
    t.Props = zm::MakeRef<TOruObjectProps>();
    t.Props->LoadFromIni(t.File->FindSection(u"Slide1"));
    t.Props->ScaleTimes({0, 0, 10000, 10000}, 1);
    zm::TRef<THostedSlide> slide = TOruObject::Create<THostedSlide>(nullptr, t.Props.get());
    slide->Host = host_;
    slide->Width = 64;
    slide->Height = 64;
    t.Slide = slide;
    t.Slide->Load(t.Props.get(), false);
    return t;
  }

  // Draws the slide at show time T in the drawer's wait-for-frames mode and
  // answers the frame number read back from the screen (-1: none readable).
  int DrawAt(TTestTree& t, double time) {
    drawer->CaptureMode = true;
    t.Layout(time);
    EXPECT_TRUE(Frame(0xFF000000u, [&](oru::T3DDrawer& d) { d.Draw(t.Slide.get()); }));
    shot_ = zm::CreateSysBitmap(64, 64, zm::pfA8R8G8B8);
    const bool read = drawer->ReadFrame(shot_.get());
    t.Slide->Reset(*drawer);
    drawer->CaptureMode = false;
    if (!read) {
      shot_ = nullptr;
      return -1;
    }
    const int stride = int(shot_->ScanLine(1) - shot_->ScanLine(0));
    return zmtest::ReadFrameNumber(shot_->ScanLine(0) + 1, 64, 64, stride, 4);
  }
  // Whether the last frame of DrawAt has any pixel that is not black.
  bool AnyLit() const {
    if (!shot_) return false;
    for (int y = 0; y < 64; ++y)
      for (int x = 0; x < 64 * 4; ++x)
        if (x % 4 != 3 && shot_->ScanLine(y)[x] != 0) return true;
    return false;
  }

  static TOruVideo* Video(TTestTree& t, const char* key) { return dynamic_cast<TOruVideo*>(t.Find(key)); }

  zm::THookScope<oru::TMakeGradeTextureProc> grade_{oru::MakeGradeTextureHook};
  zm::TRef<TFileAccessor> accessor_;
  zm::TRef<TOruSlideHost> host_;
  zm::TRef<zm::TSysBitmap> shot_;
};

std::string ClipKeys(const std::string& path, const std::string& more) {
  return "FileName=" + path + "\r\n" + more;
}

// A clip is read about 160 ms ahead, at most 8 frames, and only as far as
// 64 MB of its pictures allow (not at all where its two pictures pass that).
TEST(OruVideoReadAhead, AboutASixthOfASecondWithinTheMemoryOfAClip) {
  zm::TFrameSourceInfo info;
  info.Width = 640;
  info.Height = 360;
  info.FrameRate = 25;
  EXPECT_EQ(oru::VideoReadAheadFrames(info), 4);
  info.FrameRate = 60;
  EXPECT_EQ(oru::VideoReadAheadFrames(info), 8);
  info.FrameRate = std::nan("");  // as 25
  EXPECT_EQ(oru::VideoReadAheadFrames(info), 4);
  info.Width = 3840;
  info.Height = 2160;
  info.FrameRate = 30;
  EXPECT_EQ(oru::VideoReadAheadFrames(info), 3);
  info.HasAlpha = true;
  EXPECT_EQ(oru::VideoReadAheadFrames(info), 0);
}

// The clip time before the start, inside the clip, past its end, with an FPS
// multiplier, and for a Tracks clip moved by the host's offset less its
// synchronisation position. A missing file keeps the mapping computable.
TEST_F(VideoOnDevice, ClipTimeBeforeInsideAndPastTheClip) {
  TTestTree t = Tree(Obj("V", "Video", ClipKeys("/nonexistent/clip.mp4",
                                                "StartORUTime=1000\r\nStartVideoTime=400\r\nDuration=2000\r\n")) +
                         Obj("F", "Video", ClipKeys("/nonexistent/clip.mp4",
                                                    "StartORUTime=1000\r\nStartVideoTime=400\r\nDuration=2000\r\n"
                                                    "FPSMultiplier=2\r\n")) +
                         Obj("C", "Video", "ClipGUID={C1}\r\n"),
                     "object VideoClip:VideoClip\r\nClipGUID={C1}\r\nFileName=/nonexistent/c.mp4\r\n"
                     "StartORUTime=1000\r\nDuration=2000\r\nStartSlideIdx=2\r\nend\r\n",
                     "opt_synchpos2=300\r\n");
  TOruVideo* v = Video(t, "V");
  ASSERT_NE(v, nullptr);
  EXPECT_DOUBLE_EQ(v->VideoTimeAt(0), 400);      // before the start: the first frame
  EXPECT_DOUBLE_EQ(v->VideoTimeAt(999), 400);
  EXPECT_DOUBLE_EQ(v->VideoTimeAt(1500), 900);
  EXPECT_DOUBLE_EQ(v->VideoTimeAt(3000), 2400);  // the last moment of the clip
  EXPECT_DOUBLE_EQ(v->VideoTimeAt(3500), 2400);  // held past the end
  EXPECT_DOUBLE_EQ(v->VideoTimeAt(1e300), 2400);
  EXPECT_DOUBLE_EQ(v->VideoTimeAt(std::nan("")), 400);

  // Twice the speed: one second of clip in half a second of show.
  TOruVideo* f = Video(t, "F");
  ASSERT_NE(f, nullptr);
  EXPECT_DOUBLE_EQ(f->VideoTimeAt(1000), 400);
  EXPECT_DOUBLE_EQ(f->VideoTimeAt(1500), 1400);
  EXPECT_DOUBLE_EQ(f->VideoTimeAt(2000), 2400);
  EXPECT_DOUBLE_EQ(f->VideoTimeAt(2500), 2400);

  TOruVideo* c = Video(t, "C");
  ASSERT_NE(c, nullptr);
  ASSERT_NE(c->Clip.get(), nullptr);
  EXPECT_DOUBLE_EQ(c->Clip->SynchPos, 300);
  host_->TimeOffset = 500;  // the clip starts 500 - 300 ms earlier
  EXPECT_DOUBLE_EQ(c->VideoTimeAt(1100), 300);
  EXPECT_DOUBLE_EQ(c->VideoTimeAt(999), 0);
}

// The frame on the screen at each show time is the clip's frame of that
// time, also when the show stands still and when it jumps back.
TEST_F(VideoOnDevice, DrawnFrameFollowsTheShowThroughPauseAndSeek) {
  const std::string path = ClipPath(TClip::NumberedH264);
  if (path.empty()) GTEST_SKIP() << "ffmpeg is not available";
  TTestTree t = Tree(Obj("V", "Video", ClipKeys(path, "StartORUTime=1000\r\nStartVideoTime=200\r\nDuration=1600\r\n")));
  TOruVideo* v = Video(t, "V");
  ASSERT_NE(v, nullptr);
  ASSERT_NE(v->FrameExtractor(), nullptr);
  EXPECT_EQ(v->Placeholder.get(), nullptr);
  EXPECT_FLOAT_EQ(v->Width, 64);

  const double times[] = {0, 1000, 1480, 1480, 2000, 1120, 5000, 1000};
  for (double show : times) {
    const double clip = v->VideoTimeAt(show);
    EXPECT_EQ(DrawAt(t, show), FrameAt(clip)) << "show time " << show;
    EXPECT_EQ(v->FrameExtractor()->HeldUses, 0);  // given back after the frame
    EXPECT_FALSE(v->Holding);
  }
  EXPECT_EQ(FrameAt(v->VideoTimeAt(5000)), 45);  // the last frame of the segment

  // A picture whose content was lost while shown is never shown again as it
  // is: the next frame, even without waiting, decodes it anew.
  const auto draw = [&] { return Frame(0xFF000000u, [&](oru::T3DDrawer& d) { d.Draw(t.Slide.get()); }); };
  TVideoFrameExtractor* x = v->FrameExtractor();
  drawer->CaptureMode = true;
  t.Layout(1480);
  ASSERT_TRUE(draw());
  drawer->CaptureMode = false;
  ASSERT_NE(x->Held.Image.get(), nullptr);
  ASSERT_EQ(x->Held.FrameIndex, 17);
  x->Held.Image->MarkContentLost();
  t.Slide->Reset(*drawer);
  ASSERT_TRUE(draw());
  ASSERT_NE(x->Held.Image.get(), nullptr);
  EXPECT_FALSE(x->Held.Image->ContentLost());
  EXPECT_NEAR(x->Held.FrameIndex, 17, 1);
  v->Changed = false;
  t.Slide->Reset(*drawer);
  EXPECT_FALSE(v->Changed);  // close enough to the frame asked for

  // A jump without waiting shows the nearest picture held, far from the
  // frame asked for: the slide is marked for another frame.
  // (Once the thread has read ahead of frame 17 and rests: the pictures
  // hold that and earlier frames.)
  x->Video()->WaitIdle();
  const std::vector<std::int32_t> pooled = x->Video()->PoolFrames();
  ASSERT_FALSE(pooled.empty());
  const std::int32_t nearest = *std::max_element(pooled.begin(), pooled.end());
  const std::int32_t asked = FrameAt(v->VideoTimeAt(2520));
  ASSERT_LT(nearest, asked - 1);
  t.Layout(2520);
  ASSERT_TRUE(draw());
  EXPECT_EQ(x->Held.FrameIndex, nearest);
  EXPECT_EQ(x->Held.AskedIndex, asked);
  v->Changed = false;
  t.Slide->Reset(*drawer);
  EXPECT_TRUE(v->Changed);
}

// Auto deinterlacing of a top-field-first clip shows field 1 in the first
// half of a frame's time and field 2 in the second; the other types choose
// as their names say.
TEST_F(VideoOnDevice, InterlacedClipShowsItsFieldsInTurn) {
  EXPECT_EQ(oru::VideoFieldAt(oru::kDeinterlaceAuto, false, true, 380, 420, 385), 0);
  EXPECT_EQ(oru::VideoFieldAt(oru::kDeinterlaceAuto, true, false, 380, 420, 385), 2);
  EXPECT_EQ(oru::VideoFieldAt(oru::kDeinterlaceBobOdd, false, false, 380, 420, 410), 1);
  EXPECT_EQ(oru::VideoFieldAt(oru::kDeinterlaceWave, true, true, 380, 420, 385), 0);

  const std::string path = TopFieldFirstClip();
  if (path.empty()) GTEST_SKIP() << "ffmpeg is not available";
  TTestTree t = Tree(Obj("V", "Video", ClipKeys(path, "Duration=1000\r\n")));
  TOruVideo* v = Video(t, "V");
  ASSERT_NE(v, nullptr);
  ASSERT_NE(v->Source(), nullptr);
  ASSERT_TRUE(v->Source()->Info.Interlaced);
  ASSERT_TRUE(v->Source()->Info.TopFieldFirst);
  // Frame 10 covers 380 to 420 ms of the clip.
  EXPECT_EQ(DrawAt(t, 385), 10);
  EXPECT_EQ(v->LastField, 1);
  EXPECT_EQ(DrawAt(t, 410), 10);
  EXPECT_EQ(v->LastField, 2);
}

// Two objects naming one clip of the Tracks list share its extractor and the
// picture it shows; a duration past the file's end is cut to the file and
// written back into the clip's entry.
TEST_F(VideoOnDevice, TracksClipIsSharedByItsObjects) {
  const std::string path = ClipPath(TClip::NumberedH264);
  if (path.empty()) GTEST_SKIP() << "ffmpeg is not available";
  TTestTree t = Tree(Obj("A", "Video", "ClipGUID={C1}\r\n") + Obj("B", "Video", "ClipGUID={C1}\r\nImageIndex=0\r\n"),
                     "object VideoClip:VideoClip\r\nClipGUID={C1}\r\nFileName=" + path +
                         "\r\nDuration=999999\r\nStartVideoTime=-5\r\nend\r\n");
  TOruVideo* a = Video(t, "A");
  TOruVideo* b = Video(t, "B");
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  ASSERT_NE(a->Clip.get(), nullptr);
  EXPECT_EQ(a->Clip.get(), b->Clip.get());
  ASSERT_NE(a->FrameExtractor(), nullptr);
  EXPECT_EQ(a->FrameExtractor(), b->FrameExtractor());
  EXPECT_EQ(host_->ExtractorCount(), 1);
  EXPECT_DOUBLE_EQ(a->Clip->Duration, 2000);
  EXPECT_DOUBLE_EQ(a->Clip->StartVideoTime, 0);
  zm::TIniList* entry = oru::FindVideoClipSection(t.File.get(), u"{C1}");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(zm::IniGetInt(entry->Find(u"Duration"), 0), 2000);
  // The object with an image index carries the slide's main picture: the clip's file and size.
  WideString media;
  zm::TSize size;
  ASSERT_NE(oru::GetObjectMediaHook, nullptr);
  EXPECT_EQ(oru::GetObjectMediaHook(t.Slide.get(), media, size), b);
  EXPECT_TRUE(media.ends_with(u"num_h264.mp4"));
  EXPECT_EQ(size, (zm::TSize{64, 64}));

  TVideoFrameExtractor* x = a->FrameExtractor();
  drawer->CaptureMode = true;
  t.Layout(600);
  ASSERT_TRUE(Frame(0xFF000000u, [&](oru::T3DDrawer& d) { d.Draw(t.Slide.get()); }));
  EXPECT_TRUE(a->Holding);
  EXPECT_TRUE(b->Holding);
  EXPECT_EQ(x->HeldUses, 2);
  EXPECT_EQ(x->Held.FrameIndex, 15);
  t.Slide->Reset(*drawer);
  drawer->CaptureMode = false;
  EXPECT_EQ(x->HeldUses, 0);
  EXPECT_EQ(x->Held.Image.get(), nullptr);
  // Taking the frame asked the worker for the next one, which it decodes
  // into a picture of the pool: wait until it has.
  if (const std::int32_t next = x->Video()->RequestedIndex(); next >= 0) {
    double start = 0, stop = 0;
    x->Video()->FrameTimeRange(next, start, stop);
    x->Video()->Request(true, (start + stop) / 2);
  }
  // And the frames it reads ahead of it.
  x->Video()->WaitIdle();
  ASSERT_GT(x->Video()->ReadAhead(), 0);
  // Every picture back with the extractor: the one shown, the one decoded
  // and those read ahead.
  EXPECT_EQ(x->Video()->PoolCount(), 2 + x->Video()->ReadAhead());
}

// The chroma key removes the colours near the key: the clip's greys vanish
// under a grey key and stay under a green one.
TEST_F(VideoOnDevice, ChromaKeyHidesColoursNearTheKey) {
  const std::string path = ClipPath(TClip::NumberedH264);
  if (path.empty()) GTEST_SKIP() << "ffmpeg is not available";
  const std::string keyed = "Duration=2000\r\nChromaEnable=1\r\nChromaDelta=0.1\r\n";
  TTestTree grey = Tree(Obj("V", "Video", ClipKeys(path, keyed + "Chromakey=128,128,128\r\n")));
  DrawAt(grey, 600);
  EXPECT_FALSE(AnyLit());
  TTestTree green = Tree(Obj("V", "Video", ClipKeys(path, keyed + "Chromakey=0,255,0\r\n")));
  EXPECT_EQ(DrawAt(green, 600), 15);
}

// A shadow of new parameters is rendered in the background while the old
// one is still drawn, and replaces it once ready.
TEST_F(VideoOnDevice, ChangedShadowIsRenderedInTheBackground) {
  const std::string path = ClipPath(TClip::NumberedH264);
  if (path.empty()) GTEST_SKIP() << "ffmpeg is not available";
  TTestTree t = Tree(Obj("V", "Video", ClipKeys(path, "ShadowEnable=1\r\nShadowSize=4\r\nShadowOpacity=100\r\n")));
  TOruVideo* v = Video(t, "V");
  ASSERT_NE(v, nullptr);
  DrawAt(t, 100);
  const zm::TRef<zm::TShadow> first = v->Shadow;
  ASSERT_TRUE(first && first->Image());

  v->ShadowSize = 12;
  DrawAt(t, 100);
  EXPECT_EQ(v->Shadow, first);
  // The queue's one worker takes its tasks in order: once a later task is
  // done, so is the shadow.
  zm::TRef<zm::TEvent> done = zm::MakeRef<zm::TEvent>();
  host_->ImageTasks()->AddTask(u"after", u"after", false, u"TextWithSize:2, 2",
                               [](void* e, zm::TImageTask*) { static_cast<zm::TEvent*>(e)->Set(); }, done.get());
  ASSERT_TRUE(done->Wait(20000));
  EXPECT_TRUE(v->IsChanged());
  auto* slide = static_cast<THostedSlide*>(t.Slide.get());
  slide->Changes.clear();
  DrawAt(t, 100);
  ASSERT_NE(v->Shadow.get(), nullptr);
  EXPECT_NE(v->Shadow, first);
  EXPECT_NE(v->Shadow->Image(), nullptr);
  EXPECT_EQ(slide->Changes.size(), 1u);
}

// A missing file, a file that is no video and a clip without FFmpeg each
// show a placeholder of their own kind; the slide still draws.
TEST_F(VideoOnDevice, UnreadableClipsShowAPlaceholder) {
  const std::string path = ClipPath(TClip::NumberedH264);
  const std::string text = zmtest::MakeClip(*Media(), TClip::NotMedia);
  const std::string cut = zmtest::MakeClip(*Media(), TClip::Truncated);
  TTestTree t = Tree(Obj("M", "Video", ClipKeys("/nonexistent/missing.mp4", "")) +
                     Obj("N", "Video", ClipKeys(text, "")) +
                     (cut.empty() ? std::string() : Obj("T", "Video", ClipKeys(cut, ""))));
  TOruVideo* m = Video(t, "M");
  TOruVideo* n = Video(t, "N");
  ASSERT_NE(m, nullptr);
  ASSERT_NE(n, nullptr);
  ASSERT_NE(m->Placeholder.get(), nullptr);
  EXPECT_EQ(m->FrameExtractor(), nullptr);
  ASSERT_NE(m->Wrapper.get(), nullptr);
  EXPECT_EQ(m->Wrapper->State(), oru::kExtractorNoFile);
  EXPECT_EQ(m->Wrapper->Extractor(), nullptr);
  EXPECT_GT(m->Width, 0);
  EXPECT_GT(m->Height, 0);
  ASSERT_NE(n->Placeholder.get(), nullptr);
  EXPECT_EQ(n->FrameExtractor(), nullptr);
  EXPECT_EQ(n->Wrapper->State(), oru::kExtractorNoSource);
  if (TOruVideo* c = Video(t, "T")) {  // damaged: shown as a load error, or as far as it decodes
    EXPECT_TRUE(c->Placeholder || c->FrameExtractor());
  }
  DrawAt(t, 100);
  EXPECT_TRUE(AnyLit());

  if (path.empty()) return;
  zm::SetFFmpegLibraryNamesForTest({"libavutil-missing.so", "libswresample-missing.so", "libswscale-missing.so",
                                    "libavcodec-missing.so", "libavformat-missing.so"});
  TTestTree nf = Tree(Obj("V", "Video", ClipKeys(path, "")));
  zm::SetFFmpegLibraryNamesForTest({});
  TOruVideo* v = Video(nf, "V");
  ASSERT_NE(v, nullptr);
  EXPECT_NE(v->Placeholder.get(), nullptr);
  EXPECT_EQ(v->FrameExtractor(), nullptr);
  EXPECT_EQ(v->Wrapper->State(), oru::kExtractorNoSource);
  DrawAt(nf, 100);
  EXPECT_TRUE(AnyLit());
}

}  // namespace
