#include "OruLib2/OruClasses/OruSlideHost.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "ZmLib/Graphics/FrameSource.h"
#include "ZmLib/Graphics/SysBitmapStore.h"
#include "ZmLib/Graphics/zmBitmap.h"
#include "ZmLib/Graphics/zmGeneratorKeys.h"
#include "ZmLib/Graphics/zmPixelFormat.h"
#include "ZmLib/zmHookScope.h"
#include "tests/ZmLib/3DBasics/DeviceDrawerDoubles.h"
#include "tests/support/kit/StreamBytes.h"

using namespace zm;
using namespace oru;

namespace {

// The files of a show by name.
class THostTestSource : public TFileSource {
public:
  std::vector<std::pair<WideString, std::string>> files;
  TStream* OpenFile(const WideString& name) override {
    for (const auto& [n, bytes] : files)
      if (n == name) return zmtest::MemoryStreamOf(bytes).Detach();
    return nullptr;
  }
};

// ".hpic" pictures: "<w>x<h> <r> <g> <b> [<a>]"; with an alpha the picture
// is 32-bit, else 24-bit.
TRef<TBitmapStore> LoadHostTestPicture(TStream* stream, const WideString& fileName, bool ownsStream,
                                       const TImageLoadHandler& handler) {
  std::string text = zmtest::ReadAllBytes(stream);
  int w = 0, h = 0, r = 0, g = 0, b = 0, a = -1;
  int n = std::sscanf(text.c_str(), "%dx%d %d %d %d %d", &w, &h, &r, &g, &b, &a);
  if (n < 5 || w < 1 || h < 1 || w > 64 || h > 64) throw EStreamReadError();
  const char* format = n == 6 ? PF_A8R8G8B8 : PF_R8G8B8;
  TRef<TDirectBitmap> bitmap = MakeRef<TDirectBitmap>(w, PixelFormatByName(TByteString(format)), h);
  bitmap->FillRect({0, 0, w, h}, MakeColor32(std::uint8_t(r), std::uint8_t(g), std::uint8_t(b),
                                             std::uint8_t(n == 6 ? a : 255)));
  TRef<TBitmapStore> store = MakeRef<TWrapperBitmapStore>(fileName, handler, false, bitmap.get());
  if (ownsStream) stream->ReleaseRef();
  return store;
}

TColor32 PixelOf(TImage* image, std::int32_t x, std::int32_t y) {
  TBitmap* bitmap = image->Store()->GetMipLevel(0, PixelFormatByName(TByteString(PF_A8R8G8B8)), nullptr);
  std::uint32_t pixel = 0;
  bitmap->GetPixels32(std::span<std::uint32_t>(&pixel, 1), 0, x, y, 1);
  return TColor32::FromValue(pixel);
}

TSize BufferSizeCb(void* data, TOruSlideHost*) { return *static_cast<TSize*>(data); }
TFloatPoint3 CameraCb(void*, TOruSlideHost*) { return CameraForOutput(640, 480); }
TOruSource* SourceCb(void*, TOruSlideHost*) { return nullptr; }

WideString gGlyphContext;
void RecordGlyphContext(const WideString& text) { gGlyphContext = text; }

class TRecordingTextMaker : public TTextBitmapMaker {
public:
  static inline WideString LastDescription;
  static inline TFileAccessor* LastAccessor = nullptr;
  TRef<TImage> MakeTextBitmap(const WideString& description, TFileAccessor* accessor) override {
    LastDescription = description;
    LastAccessor = accessor;
    TRef<TDirectBitmap> b = MakeRef<TDirectBitmap>(3, PixelFormatByName(TByteString(PF_A8R8G8B8)), 2);
    return SysBitmapToImage(b.get(), false, u"Text: " + description);
  }
};

// A clip source that says it has 50 frames at 25 per second.
class THostTestFrames : public TFrameSource {
public:
  bool SeekFrame(std::int32_t) override { return true; }
  bool GetFrame(TYUVImage*) override { return false; }
  bool GetFrameBitmap(TBitmap*) override { return false; }
};
TRef<TFrameSource> MakeHostTestFrames(TStream* stream, bool ownsStream, const WideString& fileName, bool, bool) {
  if (ownsStream) stream->ReleaseRef();
  if (fileName.ends_with(u".nomovie")) return nullptr;
  TRef<TFrameSource> s = MakeRef<THostTestFrames>();
  s->Info.FrameCount = 50;
  s->Info.FrameRate = 25;
  return s;
}

// A clip whose load is given up on the way (the loader was told to stop).
TRef<TFrameSource> MakeStoppedFrames(TStream* stream, bool ownsStream, const WideString&, bool, bool) {
  if (ownsStream) stream->ReleaseRef();
  throw EAbort();
}

// While a clip loads, another load of the same name comes first (here on
// the same thread, as a second loader would on its own).
TOruSlideHost* gNestedHost = nullptr;
TRef<TFrameSource> MakeFramesOvertaken(TStream* stream, bool ownsStream, const WideString& fileName, bool m,
                                      bool h) {
  if (TOruSlideHost* host = std::exchange(gNestedHost, nullptr)) {
    TRef<TExtractorWrapper> first = host->GetExtractor(fileName);
    EXPECT_EQ(first->State(), kExtractorReady);
  }
  return MakeHostTestFrames(stream, ownsStream, fileName, m, h);
}

class SlideHost : public ::testing::Test {
protected:
  void SetUp() override {
    RegisterImageLoader(&LoadHostTestPicture, {u".hpic"});
    source_ = MakeRef<THostTestSource>();
    source_->files = {
        {u"grey.hpic", "4x3 200 100 50"},         // no alpha: brightness becomes alpha
        {u"semi.hpic", "2x2 10 20 30 77"},        // own alpha kept
        {u"opaque32.hpic", "2x2 30 60 90 255"},   // 32-bit but every alpha 255
        {u"green.hpic", "2x2 0 255 0 255"},
        {u"pre\\sk\\part.hpic", "2x2 1 2 3"},
        {u"ExeGUID", "{0A1B}"},
        {u"clip.mp4", "frames"},
        {u"clip.nomovie", "frames"},
    };
    accessor_ = MakeRef<TFileAccessor>(source_.get());
    callbacks_.EffectBufferSize = {&BufferSizeCb, &bufferSize_};
    callbacks_.Camera = {&CameraCb, nullptr};
    callbacks_.ShowSource = {&SourceCb, nullptr};
  }
  void TearDown() override { UnregisterImageLoader(&LoadHostTestPicture); }

  TRef<TOruSlideHost> MakeHost() { return MakeRef<TOruSlideHost>(accessor_.get(), callbacks_, u"pre\\", false); }

  TRef<THostTestSource> source_;
  TRef<TFileAccessor> accessor_;
  TOruHostCallbacks callbacks_;
  TSize bufferSize_{32, 24};
};

}  // namespace

TEST_F(SlideHost, CreationNeedsTheThreeRequiredCallbacks) {
  for (int missing = 0; missing < 3; ++missing) {
    TOruHostCallbacks c = callbacks_;
    if (missing == 0) c.EffectBufferSize = {};
    if (missing == 1) c.Camera = {};
    if (missing == 2) c.ShowSource = {};
    EXPECT_THROW(MakeRef<TOruSlideHost>(accessor_.get(), c, u"", false), EAbort) << missing;
  }
  EXPECT_THROW(MakeRef<TOruSlideHost>(nullptr, callbacks_, u"", false), EAbort);
  // The callbacks reach the creator; the resolver leaves with the host.
  TRef<TOruSlideHost> host = MakeHost();
  EXPECT_EQ(host->SlideEffectBufferSize(), (TSize{32, 24}));
  EXPECT_EQ(host->CameraPoint(), (TFloatPoint3{320, 240, -480}));
  host->NotifyObjectChanged(nullptr);  // no handler: nothing happens
  host.reset();
  EXPECT_TRUE(ResolveGeneratedImage(u"TextWithSize:4, 4") == nullptr);
}

TEST_F(SlideHost, MaskTurnsBrightnessIntoAlphaOnlyForOpaquePictures) {
  TRef<TOruSlideHost> host = MakeHost();
  TRef<TImage> grey = host->GetImage(u"Mask: grey.hpic");
  ASSERT_TRUE(grey);
  EXPECT_EQ(grey->Params.Width, 4);
  EXPECT_EQ(PixelOf(grey.get(), 3, 2).A, 200);  // max(R, G, B)
  TRef<TImage> opaque = host->GetImage(u"Mask: opaque32.hpic");
  EXPECT_EQ(PixelOf(opaque.get(), 0, 0).A, 90);
  TRef<TImage> semi = host->GetImage(u"Mask: semi.hpic");
  TColor32 s = PixelOf(semi.get(), 1, 1);
  EXPECT_EQ(s.A, 77);
  EXPECT_EQ(s.R, 10);
  // A missing picture gives the placeholder, itself made a mask.
  TRef<TImage> missing = host->GetImage(u"missing.hpic");
  ASSERT_TRUE(missing);
  EXPECT_GT(missing->Params.Width, 0);
  TRef<TImage> missingMask = host->GetImage(u"Mask: missing.hpic");
  ASSERT_TRUE(missingMask);
  EXPECT_EQ(missingMask->Params.Width, missing->Params.Width);
}

TEST_F(SlideHost, ResolverMakesEveryKindOfGeneratedPicture) {
  TRef<TOruSlideHost> host = MakeHost();
  host->BufferSize1 = 640;
  host->BufferSize2 = 480;
  EXPECT_EQ(host->EffectBufferKey(false, 1), u"SlideEffectBuffer:1, 640, 480");
  EXPECT_EQ(host->EffectBufferKey(true, 2), u"EffectResource:2, 640, 480");

  // The slide-effect buffer takes the callback's size, whatever the key says.
  TRef<TImage> buffer = host->GetImage(host->EffectBufferKey(false, 1));
  ASSERT_TRUE(buffer);
  EXPECT_EQ(buffer->Params.Width, 32);
  EXPECT_EQ(buffer->Params.Height, 24);
  EXPECT_EQ(buffer->Params.FileName, kSlideEffectBufferName);
  bufferSize_ = {-5, 1 << 30};  // absurd: held to a sane size
  TRef<TImage> held = host->ResolveImage(u"SlideEffectBuffer:2, 0, 0");
  ASSERT_TRUE(held);
  EXPECT_EQ(held->Params.Width, 1);
  EXPECT_LE(held->Params.Height, 16384);

  // Effect resources: none without the callback; with it, resized as a whole.
  EXPECT_FALSE(host->ResolveImage(u"EffectResource:1, 8, 4"));
  struct TSelf {
    static TRef<TImage> Cb(void*, TOruSlideHost* h, const WideString&) { return h->GetImage(u"green.hpic"); }
  };
  TOruHostCallbacks c = callbacks_;
  c.EffectResource = {&TSelf::Cb, nullptr};
  host = MakeRef<TOruSlideHost>(accessor_.get(), c, u"pre\\", false);
  TRef<TImage> res = host->ResolveImage(u"EffectResource:1, 8, 4");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->Params.Width, 8);
  EXPECT_EQ(res->Params.Height, 4);
  EXPECT_EQ(res->Params.FileName, kEffectResourceName);
  TColor32 px = PixelOf(res.get(), 7, 3);
  EXPECT_EQ(px.G, 255);
  EXPECT_EQ(px.R, 0);
  EXPECT_FALSE(host->ResolveImage(u"EffectResource:1, 0, 4"));
  EXPECT_FALSE(host->ResolveImage(u"EffectResource:1, 99999999, 4"));
  EXPECT_FALSE(host->ResolveImage(u"EffectResource:junk"));

  // Sized text: a framed grey placeholder of the size asked for.
  TRef<TImage> sized = host->ResolveImage(u"TextWithSize:60, 30");
  ASSERT_TRUE(sized);
  EXPECT_EQ(sized->Params.Width, 60);
  EXPECT_EQ(sized->Params.Height, 30);
  TColor32 corner = PixelOf(sized.get(), 0, 0), inside = PixelOf(sized.get(), 2, 2);
  EXPECT_EQ(corner.R, corner.G);
  EXPECT_NE(corner.R, inside.R);
  EXPECT_EQ(corner.A, 255);
  EXPECT_THROW(host->ResolveImage(u"TextWithSize:0, 30"), EAbort);
  EXPECT_THROW(host->ResolveImage(u"TextWithSize:x"), EAbort);
  // Asked for by name, a bad size is only the placeholder picture.
  TRef<TImage> viaAccessor = host->GetImage(u"TextWithSize:0, 30");
  ASSERT_TRUE(viaAccessor);

  // Preset masks from their key; a size that cannot be made gives nothing.
  TMaskParams mp;
  mp.Width = 20;
  mp.Height = 10;
  mp.Shape = kMaskEllipse;
  TRef<TImage> preset = host->ResolveImage(MakeMaskKey(mp));
  ASSERT_TRUE(preset);
  EXPECT_EQ(preset->Params.Width, 20);
  mp.Width = 2000000;
  EXPECT_FALSE(host->ResolveImage(MakeMaskKey(mp)));

  // Shadows of a shape.
  TShadowParams sp;
  sp.Name = kNoPictureName;
  sp.Right = 20;
  sp.Bottom = 10;
  sp.MarginX = sp.MarginY = 4;
  sp.Blur = 2;
  TRef<TImage> shadow = host->ResolveImage(MakeShadowKey(sp));
  ASSERT_TRUE(shadow);
  EXPECT_GT(shadow->Params.Width, 20);

  // Buttons need a loaded skin; texts need the text-bitmap unit.
  EXPECT_FALSE(host->ResolveImage(MakeButtonKey(u"sk", 0, 50, 0, 0, 0)));
  EXPECT_FALSE(host->ResolveImage(u"Text: hello"));
  EXPECT_FALSE(host->ResolveImage(u"plain.hpic"));
  EXPECT_FALSE(host->ResolveImage(u"button: lower case"));
}

TEST_F(SlideHost, SeamsForTextBitmapsGlyphCacheAndSkins) {
  zm::THookScope maker(CreateTextBitmapMakerHook, [] { return TRef<TTextBitmapMaker>(MakeRef<TRecordingTextMaker>()); });
  zm::THookScope glyph(GlyphCacheContextHook, &RecordGlyphContext);
  gGlyphContext.clear();
  {
    TRef<TOruSlideHost> host = MakeHost();
    EXPECT_EQ(gGlyphContext, u"{0A1B}");
    EXPECT_EQ(host->ExeGuid(), u"{0A1B}");
    TRef<TImage> text = host->GetImage(u"Text: [font=x]hello");
    ASSERT_TRUE(text);
    EXPECT_EQ(text->Params.Width, 3);
    EXPECT_EQ(TRecordingTextMaker::LastDescription, u"[font=x]hello");
    EXPECT_EQ(TRecordingTextMaker::LastAccessor, accessor_.get());

    // Skin pictures load under the name prefix; a missing one is nil.
    ASSERT_TRUE(host->ButtonHost()->Loader);
    EXPECT_TRUE(host->ButtonHost()->Loader(u"sk\\part.hpic"));
    EXPECT_FALSE(host->ButtonHost()->Loader(u"sk\\none.hpic"));
    EXPECT_FALSE(host->LoadButtonSkin(u"sk", u"sk.ini"));
    EXPECT_EQ(host->GetButtonProducer(u"sk"), host->GetButtonProducer(u"sk"));
    EXPECT_EQ(host->GetButtonProducer(u""), nullptr);
  }
  maker.Restore();
  glyph.Restore();

  // No "ExeGUID" entry: the glyph cache is not told.
  source_->files.erase(source_->files.begin() + 5);
  gGlyphContext = u"unchanged";
  zm::THookScope glyphAgain(GlyphCacheContextHook, &RecordGlyphContext);
  TRef<TOruSlideHost> plain = MakeHost();
  glyphAgain.Restore();
  EXPECT_EQ(gGlyphContext, u"unchanged");
  EXPECT_TRUE(plain->ExeGuid().empty());
}

TEST_F(SlideHost, ExtractorHoldersAreSharedPerMediaName) {
  zm::THookScope frames(CreateFrameSourceHook, &MakeHostTestFrames);
  {
    TRef<TOruSlideHost> host = MakeHost();
    TRef<TExtractorWrapper> a = host->GetExtractor(u"clip.mp4");
    TRef<TExtractorWrapper> b = host->GetExtractor(u"clip.mp4");
    EXPECT_EQ(a, b);
    EXPECT_EQ(host->ExtractorCount(), 1);
    EXPECT_EQ(a->State(), kExtractorReady);
    EXPECT_DOUBLE_EQ(a->DurationMs(), 2000.0);

    TRef<TExtractorWrapper> none = host->GetExtractor(u"absent.mp4");
    EXPECT_EQ(none->State(), kExtractorNoFile);
    EXPECT_EQ(none->DurationMs(), 0.0);
    TRef<TExtractorWrapper> bad = host->GetExtractor(u"clip.nomovie");
    EXPECT_EQ(bad->State(), kExtractorNoSource);

    // A new name on a holder replaces its extractor; the same name keeps it.
    TFrameExtractor* first = a->Extractor();
    a->SetMediaName(u"clip.mp4");
    EXPECT_EQ(a->Extractor(), first);
    a->SetMediaName(u"absent.mp4");
    EXPECT_EQ(a->State(), kExtractorNoFile);

    b.reset();
    none.reset();
    EXPECT_EQ(host->DropUnusedExtractors(), 1);  // "absent" only: "a" and "bad" are still held
    EXPECT_EQ(host->ExtractorCount(), 2);
    bad.reset();
    EXPECT_EQ(host->DropUnusedExtractors(), 1);
    host.reset();  // holders still held outlive the host harmlessly
    a->SetMediaName(u"clip.mp4");
    EXPECT_EQ(a->State(), kExtractorNoFile);
  }
}

// A holder whose load fails or is given up leaves the host's list without
// waiting for a lock its own caller holds (it used to wait on itself for
// good), and a holder made twice at once is listed once.
TEST_F(SlideHost, HoldersGivenUpOnTheWayTakeNoLockOfTheirCaller) {
  TRef<TOruSlideHost> host = MakeHost();
  {
    zm::THookScope frames(CreateFrameSourceHook, &MakeStoppedFrames);
    EXPECT_THROW(host->GetExtractor(u"clip.mp4"), EAbort);
  }
  EXPECT_EQ(host->ExtractorCount(), 0);
  zm::THookScope frames(CreateFrameSourceHook, &MakeFramesOvertaken);
  gNestedHost = host.get();
  TRef<TExtractorWrapper> w = host->GetExtractor(u"clip.mp4");
  EXPECT_EQ(gNestedHost, nullptr);
  EXPECT_EQ(w->State(), kExtractorReady);
  EXPECT_EQ(host->ExtractorCount(), 1);
  EXPECT_EQ(host->GetExtractor(u"clip.mp4"), w);
}

TEST_F(SlideHost, ImageTasksRenderThroughTheResolverAndStopWithTheHost) {
  TRef<TOruSlideHost> host = MakeHost();
  struct TRig {
    TRef<TEvent> done = MakeRef<TEvent>();
    std::int32_t width = -1;
    static void Cb(void* data, TImageTask* task) {
      auto* rig = static_cast<TRig*>(data);
      auto* image = dynamic_cast<TImage*>(task->Result.get());
      rig->width = image ? image->Params.Width : 0;
      rig->done->Set();
    }
  } rig;
  ASSERT_TRUE(host->ImageTasks());
  host->ImageTasks()->AddTask(u"obj1", u"shadow", false, u"TextWithSize:12, 7", &TRig::Cb, &rig);
  ASSERT_TRUE(rig.done->Wait(10000));
  EXPECT_EQ(rig.width, 12);
  TRef<TImageTaskQueue> queue(host->ImageTasks());
  host.reset();
  EXPECT_TRUE(queue->Stopped());
  EXPECT_TRUE(queue->WorkerStopped());
}

namespace {
class THostShadowDrawerDouble : public zm::test::TRecordingDrawer {
public:
  int draws = 0, prepared = 0, released = 0;
  TImageDrawParams params;
  TFloatPoint origin, axisX, axisY;
  void DrawImage(TImage*, const TFloatPoint& o, const TImageDrawParams& p, const TFloatPoint& x,
                 const TFloatPoint& y) override {
    ++draws;
    params = p;
    origin = o;
    axisX = x;
    axisY = y;
  }
  void PrepareImage(TImage*, const TImageDrawParams&) override { ++prepared; }
  void ReleaseImageTextures(TImage*) override { ++released; }
};
}  // namespace

TEST(SlideHostShadowDrawer, ShadowDrawsGoThroughTheDeviceDrawerTintedAndFaded) {
  TRef<THostShadowDrawerDouble> drawer = MakeRef<THostShadowDrawerDouble>();
  TDeviceShadowDrawer shadows(drawer.get());
  TRef<TDirectBitmap> b = MakeRef<TDirectBitmap>(4, PixelFormatByName(TByteString(PF_A8R8G8B8)), 4);
  TRef<TImage> image = SysBitmapToImage(b.get(), false, u"shadow");
  TShadowDrawRecord record;
  record.Opacity = 0.5f;
  record.Red = 10;
  record.Green = 20;
  record.Blue = 30;
  shadows.DrawImage(image.get(), record, {5, 6, 7}, {1, 0, 0}, {0, 2, 0}, 0.25f);
  ASSERT_EQ(drawer->draws, 1);
  EXPECT_FLOAT_EQ(drawer->params.Opacity, 50.0f);
  EXPECT_TRUE(drawer->params.Tinted);
  EXPECT_EQ(drawer->params.TintColour, (TColor24{30, 20, 10}));
  EXPECT_EQ(drawer->params.Level, 2);  // drawn at a quarter: two levels down
  EXPECT_EQ(drawer->origin, (TFloatPoint{5, 6}));
  EXPECT_EQ(drawer->axisY, (TFloatPoint{0, 2}));
  record.Opacity = 7.0f;  // held to 100 per cent; odd scales keep level 0
  shadows.DrawImage(image.get(), record, {}, {1, 0, 0}, {0, 1, 0}, std::nanf(""));
  EXPECT_FLOAT_EQ(drawer->params.Opacity, 100.0f);
  EXPECT_EQ(drawer->params.Level, 0);
  shadows.DrawImage(nullptr, record, {}, {}, {}, 1);
  EXPECT_EQ(drawer->draws, 2);
  shadows.Precache(image.get());
  shadows.ReleaseCache(image.get());
  EXPECT_EQ(drawer->prepared, 1);
  EXPECT_EQ(drawer->released, 1);
  TDeviceShadowDrawer none(nullptr);
  none.DrawImage(image.get(), record, {}, {}, {}, 1);  // no drawer: nothing, no fault

  // A grading holder starts dirty and needs a texture maker for its texture.
  THookScope<TMakeGradeTextureProc> noMaker(MakeGradeTextureHook, nullptr);
  TRef<TColorGradeWrapper> grade = MakeRef<TColorGradeWrapper>();
  EXPECT_TRUE(grade->Dirty());
  EXPECT_EQ(grade->Prepare(*drawer, true), nullptr);
  EXPECT_TRUE(grade->Dirty());
}

TEST_F(SlideHost, ButtonFacesComeFromTheSkinLoadedUnderThePrefix) {
  const bool ownCache = HashBitmaps() == nullptr;
  if (ownCache) InitButtonProducer();
  std::string ini;
  for (const char* state : {"NormalState", "HoverState", "ClickState"}) {
    ini += std::string("[") + state + "]\n";
    ini += "LeftTop=skin.hpic,0,0,4,2\nTop=skin.hpic,4,0,8,2\nRightTop=skin.hpic,8,0,12,2\n";
    ini += "Right=skin.hpic,8,2,12,4\nRightBottom=skin.hpic,8,4,12,6\nBottom=skin.hpic,4,4,8,6\n";
    ini += "LeftBottom=skin.hpic,0,4,4,6\nLeft=skin.hpic,0,2,4,4\nCenter=skin.hpic,4,2,8,4\n";
  }
  source_->files.push_back({u"pre\\sk\\sk.ini", ini});
  source_->files.push_back({u"pre\\sk\\skin.hpic", "12x6 40 80 120"});
  {
    TRef<TOruSlideHost> host = MakeHost();
    const WideString key = MakeButtonKey(u"sk", kButtonHover, 40, 0, 0, 0);
    EXPECT_FALSE(host->ResolveImage(key));  // skin not loaded yet
    ASSERT_TRUE(host->LoadButtonSkin(u"sk", u"sk.ini"));
    TRef<TImage> face = host->GetImage(key);
    ASSERT_TRUE(face);
    EXPECT_EQ(face->Params.Width, 40);
    EXPECT_EQ(face->Params.Height, 6);
    EXPECT_EQ(PixelOf(face.get(), 20, 3).B, 120);
    // Absurd widths are refused by the producer; never a huge picture.
    EXPECT_FALSE(host->ResolveImage(MakeButtonKey(u"sk", 0, 2000000000, 0, 0, 0)));
    EXPECT_FALSE(host->ResolveImage(MakeButtonKey(u"sk", 9, 40, 0, 0, 0)));
  }
  if (ownCache) FiniButtonProducer();
}
