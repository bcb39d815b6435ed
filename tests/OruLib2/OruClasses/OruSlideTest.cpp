#include "OruLib2/OruClasses/OruSlide.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

#include "OruLib2/OruClasses/OruObjectFactory.h"
#include "OruLib2/OruClasses/OruObjectReader.h"
#include "OruLib2/OruClasses/OruSlideHost.h"
#include "OruLib2/OruClasses/zmOruSource2.h"
#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/SysBitmapStore.h"
#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/wpLoadCallBack.h"
#include "ZmLib/zmHookScope.h"

using namespace oru;
using zm::TFloatPoint;
using zm::TRef;

namespace {

const double kTan30 = std::tan(std::numbers::pi / 6);

TRef<zm::TIniFile> Ini(const std::string& text) {
  TRef<zm::TIniFile> f = zm::MakeRef<zm::TIniFile>();
  f->LoadFromText(zm::TByteString(text));
  return f;
}

TRef<zm::TImage> MakeImage(std::int32_t w, std::int32_t h) {
  TRef<zm::TSysBitmap> b = zm::CreateSysBitmap(w, h, zm::pfA8R8G8B8);
  TRef<zm::TBitmapStore> store =
      zm::MakeRef<zm::TWrapperBitmapStore>(u"test", zm::TImageLoadHandler{}, false, b.get());
  return zm::MakeRef<zm::TImage>(store.get());
}

// ---- A drawer that records what it is asked ------------------------------------------------

struct TCall {
  TCall(std::string what = {}, TFloatPoint origin = {}, TFloatPoint ax = {}, TFloatPoint ay = {})
      : What(std::move(what)), Origin(origin), AxisX(ax), AxisY(ay) {}
  std::string What;
  TFloatPoint Origin, AxisX, AxisY;
  std::uint32_t Colour1 = 0, Colour2 = 0;
  int Kind = -1;
  float Opacity = 0;
};

class TRecordingDrawer : public zm::TDeviceDrawer {
public:
  std::vector<TCall> Calls;
  bool InTransition = false;
  std::vector<std::string> Names() const {
    std::vector<std::string> n;
    for (const auto& c : Calls) n.push_back(c.What);
    return n;
  }
  void Log(const std::string& s) { Calls.push_back(TCall(s)); }

  void BeginFrame() override {}
  bool EndFrame() override { return true; }
  bool CanDraw() override { return true; }
  bool IsDrawingTransition() override { return InTransition; }
  bool Open(zm::TDrawDevice*) override { return true; }
  void Close() override {}
  void PrepareImage(zm::TImage*, const zm::TImageDrawParams&) override { Log("PrepareImage"); }
  void ReleaseImageTextures(zm::TImage*) override { Log("ReleaseImageTextures"); }
  void SetFixedFrameSize(const zm::TSize&) override {}
  void RestoreDeviceStates() override {}
  void Clear(zm::TColor32, bool) override {}
  void FillRect(zm::TColor32, const zm::TRect&) override {}
  void SetDrawOffset(const TFloatPoint& offset) override {
    TDeviceDrawer::SetDrawOffset(offset);
    TCall c("SetDrawOffset");
    c.Origin = offset;
    Calls.push_back(c);
  }
  void DrawTransition(zm::TDrawItem*, zm::TDrawItem*, zm::TFilterParams*) override {}
  void DrawImage(zm::TImage*, const TFloatPoint& origin, const zm::TImageDrawParams& params, const TFloatPoint& ax,
                 const TFloatPoint& ay) override {
    TCall c("DrawImage", origin, ax, ay);
    c.Opacity = params.Opacity;
    Calls.push_back(c);
  }
  void FillGradientQuad(const TFloatPoint& origin, const TFloatPoint&, const zm::TGradientFill& fill,
                        const TFloatPoint& ax, const TFloatPoint& ay) override {
    TCall c("Fill", origin, zm::ScaleFloatPoint(ax, fill.ScaleX), zm::ScaleFloatPoint(ay, fill.ScaleY));
    c.Colour1 = fill.Colour1.Value();
    c.Colour2 = fill.Colour2.Value();
    c.Kind = fill.Kind;
    c.Opacity = fill.Opacity;
    Calls.push_back(c);
  }
  void DrawGradientFrame(bool, const TFloatPoint&, bool, float, zm::TColor32, const TFloatPoint&,
                         const TFloatPoint&) override {}
  TRef<zm::TYUVImage> CreateVideoImage(std::int32_t, std::int32_t, bool) override { return nullptr; }
  void DrawVideoImage(const zm::TVideoDrawParams&, const TFloatPoint&, const TFloatPoint&,
                      const TFloatPoint&) override {}
  void FillRectF(const TFloatPoint&, const TFloatPoint&, zm::TColor32) override {}
  bool DrawMasked(zm::TDrawItem*, zm::TDrawItem*) override { return false; }
  void BeginSharpen() override {}
  void EndSharpen(float) override {}
  void BeginTrail(float) override {}
  void EndTrail() override {}
  bool ReadFrame(zm::TBitmap*) override { return false; }
};

// ---- Object kinds standing in for boxes and buttons ------------------------------------------

class TKind : public TOruObject {
public:
  int SetTimes = 0;
  void ReadProps(TOruObjectProps* props, bool reload) override {
    const zm::TPoint s = ReadPropPoint(props, u"Size", {0, 0});
    Width = static_cast<float>(s.X);
    Height = static_cast<float>(s.Y);
    TOruObject::ReadProps(props, reload);
  }
  void SetTime(bool recursive, double t) override {
    ++SetTimes;
    TOruObject::SetTime(recursive, t);
  }
  void Draw(zm::TDeviceDrawer& drawer) override {
    if (auto* r = dynamic_cast<TRecordingDrawer*>(&drawer)) r->Log("Draw " + Key.Str());
    TOruObject::Draw(drawer);
  }
};

class TButtonKind : public TKind, public TOruMouseStateItem {
public:
  std::uint8_t State = 0;
  std::vector<std::uint8_t> History;
  void SetMouseState(std::uint8_t s) override {
    if (s != State) History.push_back(s);
    State = s;
  }
  std::uint8_t GetMouseState() override { return State; }
  TOruObject* MouseCaption() override { return Child(0); }
};

class TTextKind : public TKind, public TOruMouseStateItem {
public:
  std::uint8_t State = 0;
  void SetMouseState(std::uint8_t s) override { State = s; }
  std::uint8_t GetMouseState() override { return State; }
};

TRef<TOruObject> CreateKind(std::int32_t code, TOruObject* parent, TOruObjectProps* props) {
  if (code == kOruObjButton) return TOruObject::Create<TButtonKind>(parent, props);
  if (code == kOruObjText) return TOruObject::Create<TTextKind>(parent, props);
  if (code >= 1 && code <= 11) return TOruObject::Create<TKind>(parent, props);
  return nullptr;
}

std::string Obj(const std::string& name, const std::string& type, const std::string& body) {
  return "object " + name + ":" + type + "\r\nGUID={" + name + "}\r\n" + body + "end\r\n";
}
std::string KeyAt(long long time, const std::string& keys) {
  return "object KeyPoint:KeyPoint\r\nTime=" + std::to_string(time) + "\r\n" + keys + "end\r\n";
}

zm::TFloatPoint3 gEye{320, 240, -576};
zm::TFloatPoint3 Camera(void*, TOruSlideHost*) { return gEye; }
zm::TSize BufferSize(void*, TOruSlideHost*) { return {640, 480}; }
TOruSource* NoSource(void*, TOruSlideHost*) { return nullptr; }

class TMapSource : public TFileSource {
public:
  zm::TStream* OpenFile(const WideString&) override { return nullptr; }
};

TRef<zm::TImage> gPicture;
TRef<zm::TImage> PictureCallback(void*, TFileSource*, const WideString& name) {
  return name == u"bg.png" ? gPicture : nullptr;
}

class OruSlide : public ::testing::Test {
protected:
  void SetUp() override {
    objects_.Set(&CreateKind);
    gEye = {320, 240, -576};
    gPicture = MakeImage(200, 100);
    source_ = zm::MakeRef<TMapSource>();
    handle_ = source_->AddCallback(&PictureCallback, nullptr);
    accessor_ = zm::MakeRef<TFileAccessor>(source_.get());
    TOruHostCallbacks cb;
    cb.Camera.Code = &Camera;
    cb.EffectBufferSize.Code = &BufferSize;
    cb.ShowSource.Code = &NoSource;
    host_ = zm::MakeRef<TOruSlideHost>(accessor_.get(), cb, WideString(), false);
    layers_.Set({});
  }
  void TearDown() override {
    layers_.Restore();
    objects_.Restore();
    host_.reset();
    accessor_.reset();
    handle_.reset();
    gPicture.reset();
  }

  // A slide of 640 x 480 centred on the output, loaded from Project's "Slide1".
  TRef<TOruSlide> Build(zm::TIniFile* project, std::int32_t index = 0, double out = 0, double in = 0) {
    TRef<TOruSlide> s = TOruSlide::Create(host_.get(), nullptr, false);
    s->SetSize(640, 480);
    s->SetViewCentre(320, 240);
    TSlideLoadArgs a;
    a.Main = project->FindSection(u"main");
    a.Times = project->FindSection(u"Times");
    a.Section = project->FindSection(u"Slide1");
    a.Index = index;
    a.OutDuration = out;
    a.InDuration = in;
    s->Load(a);
    return s;
  }
  // The screen point at the centre of an object's rectangle.
  static TFloatPoint CentreOf(TOruObject* o) {
    zm::TFloatPoint3 c[4];
    o->GetWorldCorners(c);
    return {(c[0].X + c[3].X) / 2, (c[0].Y + c[3].Y) / 2};
  }

  zm::THookScope<TCreateOruObjectProc> objects_{CreateOruObjectHook};
  zm::THookScope<TSlideLayerHooks> layers_{SlideLayerHooks};
  TRef<TMapSource> source_;
  TRef<TCallbackHandle> handle_;
  TRef<TFileAccessor> accessor_;
  TRef<TOruSlideHost> host_;
};

// ---- Times --------------------------------------------------------------------------------------

TEST(OruSlideTimes, BeginAndNextBeginFromTheTimesSection) {
  auto f = Ini("[Times]\r\nopt_slidescount=3\r\nopt_synchpos1=1000\r\nopt_synchpos2=2500\r\nopt_synchpos3=4000\r\n");
  const zm::TIniList* t = f->FindSection(u"Times");
  auto check = [&](int i, double b, double n) {
    const TSlideBeginTimes r = ReadSlideTimes(t, i);
    EXPECT_EQ(r.Begin, b) << i;
    EXPECT_EQ(r.NextBegin, n) << i;
  };
  check(0, 0, 1000);
  check(1, 1000, 2500);
  check(3, 4000, 4000);  // the last slide's next begin is its begin
  check(4, 0, 0);
  check(-1, 0, 0);
  check(2147483647, 0, 0);
  // A missing next key falls back to the begin; bad values count as missing.
  auto g = Ini("[Times]\r\nopt_slidescount=2\r\nopt_synchpos1=700\r\nopt_synchpos2=x\r\n");
  EXPECT_EQ(ReadSlideTimes(g->FindSection(u"Times"), 1).NextBegin, 700);
  EXPECT_EQ(ReadSlideTimes(nullptr, 1).Begin, 0);
}

TEST(OruSlideTimes, KeyFrameScaleFactorAndFrame) {
  double factor = 0;
  TOruTimeFrame frame;
  auto f = Ini("[A]\r\nScaleMode=1\r\nScaleTimes=4000,500,1000\r\n[B]\r\nScaleMode=2\r\nScaleTimes=4000,500,1000\r\n"
               "[Z]\r\nScaleMode=1\r\nScaleTimes=0,0,0\r\n[N]\r\nScaleTimes=1,1,1\r\n[U]\r\nScaleMode=3\r\n"
               "ScaleTimes=1,1,1\r\n[G]\r\nScaleMode=1\r\nScaleTimes=junk\r\n[H]\r\nScaleMode=2\r\nScaleTimes=1,0\r\n");
  // Mode 1: span 8000 + 2000 over a + c = 5000.
  ASSERT_TRUE(SlideTimeScale(f->FindSection(u"A"), 0, 8000, 2000, factor, frame));
  EXPECT_DOUBLE_EQ(factor, 2);
  EXPECT_DOUBLE_EQ(frame.SlideEnd, 10000);
  EXPECT_DOUBLE_EQ(frame.NextEffectBegin, 8000);
  EXPECT_DOUBLE_EQ(frame.PrevEffectEnd, 1000);
  // Mode 2: the span without the outgoing transition over a.
  ASSERT_TRUE(SlideTimeScale(f->FindSection(u"B"), 1000, 7000, 2000, factor, frame));
  EXPECT_DOUBLE_EQ(factor, 1.5);
  // Each term is rounded, halves to even: 2.5 -> 2 and 0.5 -> 0.
  ASSERT_TRUE(SlideTimeScale(f->FindSection(u"H"), 0, 2.5, 0.5, factor, frame));
  EXPECT_DOUBLE_EQ(factor, 2);
  for (const char16_t* name : {u"Z", u"N", u"U", u"G"}) {
    EXPECT_FALSE(SlideTimeScale(f->FindSection(name), 0, 8000, 2000, factor, frame));
    EXPECT_EQ(factor, 1);
  }
  EXPECT_FALSE(SlideTimeScale(nullptr, 0, 1, 1, factor, frame));
}

TEST(OruSlideTimes, PerspectiveDepthFactor) {
  EXPECT_NEAR(PerspectiveDepthFactor(-1296, 1080), kTan30 * 1.2, 1e-6);
  EXPECT_NEAR(PerspectiveDepthFactor(0, 1080), kTan30, 1e-6);    // d = 0
  EXPECT_NEAR(PerspectiveDepthFactor(500, 1080), kTan30, 1e-6);  // eye behind the screen
  EXPECT_NEAR(PerspectiveDepthFactor(-100, 0), kTan30, 1e-6);    // no height to divide by
  EXPECT_NEAR(PerspectiveDepthFactor(NAN, 480), kTan30, 1e-6);
  EXPECT_NEAR(PerspectiveDepthFactor(-INFINITY, 480), kTan30, 1e-6);
}

TEST_F(OruSlide, TimePointsAndScaledKeyFrames) {
  auto f = Ini("[Times]\r\nopt_slidescount=2\r\nopt_synchpos1=1000\r\nopt_synchpos2=5000\r\n"
               "[Slide1]\r\nScaleMode=1\r\nScaleTimes=1000,0,1000\r\n" +
               Obj("A", "Box", "Size=10,10\r\n" + KeyAt(500, "") + KeyAt(1000, "")));
  TRef<TOruSlide> s = Build(f.get(), 1, 1000);
  s->InDuration = 300;
  EXPECT_EQ(s->GetTimePoint(0), 1000);
  EXPECT_EQ(s->GetTimePoint(1), 1300);
  EXPECT_EQ(s->GetTimePoint(2), 5000);
  EXPECT_EQ(s->GetTimePoint(3), 6000);
  EXPECT_THROW(s->GetTimePoint(4), zm::Exception);
  EXPECT_THROW(s->GetTimePoint(-1), zm::Exception);
  // Span (4000 + 1000) over a + c = 2000: every key-frame time times 2.5.
  TOruObject* a = s->Child(0);
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(a->Props()->KeyFrames().Items.size(), 2u);
  EXPECT_DOUBLE_EQ(a->Props()->KeyFrames().Items[0]->Time(), 1250);
  EXPECT_DOUBLE_EQ(a->Props()->KeyFrames().Items[1]->Time(), 2500);

  // ScaleTimes 0,0,0 leaves them as stored.
  auto g = Ini("[Times]\r\nopt_slidescount=2\r\nopt_synchpos1=1000\r\nopt_synchpos2=5000\r\n"
               "[Slide1]\r\nScaleMode=1\r\nScaleTimes=0,0,0\r\n" +
               Obj("A", "Box", "Size=10,10\r\n" + KeyAt(500, "")));
  s = Build(g.get(), 1, 1000);
  EXPECT_DOUBLE_EQ(s->Child(0)->Props()->KeyFrames().Items[0]->Time(), 500);
}

TEST_F(OruSlide, UnscaledKeyFramesCountFromTheSlidesOwnTimePoints) {
  // Slide 1 runs 1000..3000 with 250 ms in and 500 ms out: key frames from
  // the slide's end must land there, not on its start, or nothing moves.
  auto f = Ini("[Times]\r\nopt_slidescount=2\r\nopt_synchpos1=1000\r\nopt_synchpos2=3000\r\n[Slide1]\r\n" +
               Obj("A", "Box",
                   "Size=100,50\r\n" + KeyAt(0, "ScaleX=100\r\nScaleY=100\r\ngrps=4\r\n") +
                       KeyAt(0, "Origin=SlideEnd\r\nScaleX=200\r\nScaleY=200\r\ngrps=4\r\n")) +
               Obj("B", "Box",
                   "Size=10,10\r\n" + KeyAt(10, "Origin=prevEffectEnd\r\n") + KeyAt(-100, "Origin=NextEffectBegin\r\n")));
  TRef<TOruSlide> s = Build(f.get(), 1, 500, 250);
  TOruObject* a = s->Child(0);
  TOruObject* b = s->Child(1);
  ASSERT_TRUE(a && b);
  ASSERT_EQ(a->Props()->KeyFrames().Items.size(), 2u);
  EXPECT_DOUBLE_EQ(a->Props()->KeyFrames().Items[1]->Time(), 2500);
  ASSERT_EQ(b->Props()->KeyFrames().Items.size(), 2u);
  EXPECT_DOUBLE_EQ(b->Props()->KeyFrames().Items[0]->Time(), 260);
  EXPECT_DOUBLE_EQ(b->Props()->KeyFrames().Items[1]->Time(), 1900);
  auto width = [&](double showTime) {
    s->SetTimeAndLayout(true, showTime);
    zm::TFloatPoint3 c[4];
    a->GetWorldCorners(c);
    return zm::Distance3(c[0], c[1]);
  };
  const float w0 = width(1000);
  ASSERT_GT(w0, 0);
  EXPECT_NEAR(width(1000 + 1250) / w0, 1.5, 1e-3);
  EXPECT_NEAR(width(1000 + 2500) / w0, 2.0, 1e-3);
  EXPECT_NEAR(width(1000 + 9999) / w0, 2.0, 1e-3);  // held after the last key frame
}

TEST_F(OruSlide, SetTimeAndLayoutSkipsAnUnchangedFrame) {
  auto f = Ini("[Slide1]\r\n" + Obj("A", "Box", "Size=10,10\r\n"));
  TRef<TOruSlide> s = Build(f.get());
  auto* a = dynamic_cast<TKind*>(s->Child(0));
  ASSERT_NE(a, nullptr);
  s->SetTimeAndLayout(true, 100);
  EXPECT_DOUBLE_EQ(s->LocalTime, 100);
  s->CommitFrame(true);
  const int before = a->SetTimes;
  s->SetTimeAndLayout(true, 100);
  EXPECT_EQ(a->SetTimes, before);
  a->Changed = true;  // a change forces the evaluation
  s->SetTimeAndLayout(true, 100);
  EXPECT_GT(a->SetTimes, before);
}

// ---- Background keys -----------------------------------------------------------------------------

TEST(OruSlideBackground, KeysFromMainWithPrefixUnlessTheSlideHasItsOwn) {
  auto f = Ini("[main]\r\nopt_bstyle=3\r\nopt_bcolorstyle=1\r\nopt_bcolor1=16711680\r\nopt_bcolor2=255\r\n"
               "bstyle=1\r\nbcolor=65280\r\n"
               "[S0]\r\nbcolor=123\r\n[S1]\r\nbstyle=0\r\n[S2]\r\nbstyle=1\r\nbcolor=65280\r\n"
               "[S3]\r\nbstyle=2\r\nbfn=pic.jpg\r\nbsize=50\r\n[S4]\r\nbstyle=2\r\nbfn=\r\n"
               "[S5]\r\nbstyle=3\r\nbcolorstyle=2\r\nbcolor1=1\r\nbcolor2=2\r\n"
               "[S6]\r\nbstyle=3\r\nbcolorstyle=7\r\nbcolor1=1\r\n[S7]\r\nbstyle=1\r\nbcolor=-1\r\n");
  const zm::TIniList* main = f->FindSection(u"main");
  auto read = [&](const char16_t* name) {
    TSlideBackground bg;
    ReadSlideBackground(main, f->FindSection(name), bg, false);
    return bg;
  };
  for (const char16_t* name : {u"S0", u"S1", u"none"}) {
    const TSlideBackground bg = read(name);  // the main section's opt_ keys, not its plain ones
    EXPECT_EQ(bg.Kind, kSlideBgGradient2);
    EXPECT_EQ(bg.Colour1, 0xFF0000u);
    EXPECT_EQ(bg.Colour2, 0x0000FFu);
    EXPECT_EQ(bg.DisplayColour2, 0x0000FFu);
  }
  EXPECT_EQ(read(u"S2").Kind, kSlideBgSolid);
  EXPECT_EQ(read(u"S2").Colour1, 0x00FF00u);
  EXPECT_EQ(read(u"S3").Kind, kSlideBgPicture);
  EXPECT_EQ(read(u"S3").PictureName, u"pic.jpg");
  EXPECT_EQ(read(u"S3").PictureSize, 50);
  EXPECT_EQ(read(u"S4").Kind, kSlideBgSolid);  // no name: the picture kind is not taken
  EXPECT_EQ(read(u"S5").Kind, kSlideBgGradient1);
  EXPECT_EQ(read(u"S5").Colour2, 2u);
  EXPECT_EQ(read(u"S6").Kind, kSlideBgSolid);  // unknown colour style
  EXPECT_EQ(read(u"S6").Colour1, 1u);
  EXPECT_EQ(read(u"S7").Colour1, 0xFFFFFFu);  // kept to 24 bits
  TSlideBackground bg;
  ReadSlideBackground(nullptr, nullptr, bg, true);
  EXPECT_EQ(bg.Kind, kSlideBgSolid);
  EXPECT_EQ(bg.PictureSize, 100);
}

TEST(OruSlideBackground, PictureFitsInsideTheSlide) {
  // 2:1 on 16:9 at 100 % spans the slide's width.
  TFloatPoint s = FitBackgroundPicture(1920, 1080, 400, 200, 100);
  EXPECT_FLOAT_EQ(s.X, 1920);
  EXPECT_FLOAT_EQ(s.Y, 960);
  s = FitBackgroundPicture(1920, 1080, 300, 300, 50);
  EXPECT_FLOAT_EQ(s.X, 540);
  EXPECT_FLOAT_EQ(s.Y, 540);
  for (float bad : {0.0f, -5.0f, NAN, INFINITY}) {
    EXPECT_EQ(FitBackgroundPicture(1920, 1080, 300, 300, bad), TFloatPoint{});
    EXPECT_EQ(FitBackgroundPicture(bad, 1080, 300, 300, 100), TFloatPoint{});
    EXPECT_EQ(FitBackgroundPicture(1920, 1080, 300, bad, 100), TFloatPoint{});
  }
  EXPECT_EQ(BackgroundPictureKey(100, u"a.jpg"), u"SlideBg: 100:a.jpg");
  EXPECT_EQ(BackgroundPictureKey(12.5f, u"a.jpg"), u"SlideBg: 12.5:a.jpg");
}

// ---- Background drawing ----------------------------------------------------------------------------

TEST(OruSlideBackground, EachKindDrawnOverTwiceTheSlide) {
  TRef<TRecordingDrawer> d = zm::MakeRef<TRecordingDrawer>();
  const TSlideCorners corners{{100, 50}, {740, 50}, {100, 530}};  // 640 x 480 at (100, 50)
  TSlideBackground bg;
  bg.DisplayColour1 = 0x112233;
  bg.DisplayColour2 = 0x445566;
  DrawSlideBackground(*d, bg, 0, corners, {640, 480}, nullptr);
  EXPECT_TRUE(d->Calls.empty());  // alpha 0 draws nothing

  DrawSlideBackground(*d, bg, 128, corners, {640, 480}, nullptr);
  ASSERT_EQ(d->Calls.size(), 1u);
  const TCall& solid = d->Calls[0];
  EXPECT_EQ(solid.Origin, (TFloatPoint{-220, -190}));
  EXPECT_EQ(solid.AxisX, (TFloatPoint{1280, 0}));
  EXPECT_EQ(solid.AxisY, (TFloatPoint{0, 960}));
  EXPECT_EQ(solid.Colour1 & 0xFFFFFFu, 0x112233u);

  for (auto [kind, fillKind] : {std::pair{kSlideBgGradient1, 6}, std::pair{kSlideBgGradient2, 5}}) {
    d->Calls.clear();
    bg.Kind = kind;
    DrawSlideBackground(*d, bg, 200, corners, {640, 480}, nullptr);
    ASSERT_EQ(d->Calls.size(), 1u);
    EXPECT_EQ(d->Calls[0].Kind, fillKind);
    EXPECT_EQ(d->Calls[0].Colour1, 0xC8112233u);
    EXPECT_EQ(d->Calls[0].Colour2, 0xC8445566u);
    EXPECT_EQ(d->Calls[0].Origin, (TFloatPoint{-220, -190}));
    EXPECT_EQ(d->Calls[0].AxisX, (TFloatPoint{1280, 0}));
  }

  // Picture: 200 x 100 drawn at 320 x 160 tiles -n..n with n = ceil(640 / 320 / 2) = 1
  // across and ceil(480 / 160 / 2) = 2 down, copy (0, 0) centred.
  TRef<TSlideBgPicture> pic = zm::MakeRef<TSlideBgPicture>();
  pic->Image = MakeImage(200, 100);
  pic->Size = {320, 160};
  bg.Kind = kSlideBgPicture;
  d->Calls.clear();
  DrawSlideBackground(*d, bg, 51, corners, {640, 480}, pic.get());
  ASSERT_EQ(d->Calls.size(), 15u);
  const TCall& first = d->Calls[0];  // (-1, -2)
  EXPECT_EQ(first.Origin, (TFloatPoint{420 - 480, 290 - 400}));
  EXPECT_FLOAT_EQ(first.AxisX.X, 1.6f);
  EXPECT_FLOAT_EQ(first.AxisY.Y, 1.6f);
  EXPECT_FLOAT_EQ(first.Opacity, 20.0f);
  EXPECT_EQ(d->Calls[7].Origin, (TFloatPoint{420 - 160, 290 - 80}));  // (0, 0)

  // A picture shrunk to a few pixels is capped; one of no size draws nothing.
  d->Calls.clear();
  pic->Size = {1, 1};
  DrawSlideBackground(*d, bg, 255, corners, {640, 480}, pic.get());
  EXPECT_EQ(d->Calls.size(), static_cast<size_t>((2 * kMaxBgTilesPerSide + 1) * (2 * kMaxBgTilesPerSide + 1)));
  d->Calls.clear();
  pic->Size = {0, NAN};
  DrawSlideBackground(*d, bg, 255, corners, {640, 480}, pic.get());
  DrawSlideBackground(*d, bg, 255, corners, {640, 480}, nullptr);
  bg.Kind = 77;
  DrawSlideBackground(*d, bg, 255, corners, {640, 480}, pic.get());
  EXPECT_TRUE(d->Calls.empty());
}

// A solid background around an opaque picture: four bands that leave out
// the hole (cut to the quad); others, turned slides and empty holes: whole.
TEST(OruSlideBackground, ASolidBackgroundGoesRoundAHole) {
  TRef<TRecordingDrawer> d = zm::MakeRef<TRecordingDrawer>();
  const TSlideCorners corners{{100, 50}, {740, 50}, {100, 530}};  // the quad: (-220, -190) to (1060, 770)
  TSlideBackground bg;
  bg.DisplayColour1 = 0x112233;
  const zm::TFloatRect hole{250.5f, 50.5f, 590.5f, 529.5f};
  DrawSlideBackground(*d, bg, 255, corners, {640, 480}, nullptr, &hole);
  ASSERT_EQ(d->Calls.size(), 4u);
  const std::pair<TFloatPoint, TFloatPoint> want[4] = {{{-220, -190}, {1060, 50.5f}},
                                                       {{-220, 529.5f}, {1060, 770}},
                                                       {{-220, 50.5f}, {250.5f, 529.5f}},
                                                       {{590.5f, 50.5f}, {1060, 529.5f}}};
  for (int i = 0; i < 4; ++i) {
    const TCall& c = d->Calls[std::size_t(i)];
    EXPECT_EQ(c.Origin, want[i].first) << i;
    EXPECT_EQ(zm::AddFloatPoints(c.Origin, zm::AddFloatPoints(c.AxisX, c.AxisY)), want[i].second) << i;
    EXPECT_EQ(c.Colour1, 0xFF112233u);
  }
  // A hole reaching past the quad is cut to it: three bands.
  d->Calls.clear();
  const zm::TFloatRect wide{-500, 100, 400, 200};
  DrawSlideBackground(*d, bg, 255, corners, {640, 480}, nullptr, &wide);
  EXPECT_EQ(d->Calls.size(), 3u);
  // Outside, empty, or a turned slide: the one quad.
  for (const zm::TFloatRect& h : {zm::TFloatRect{2000, 0, 2100, 10}, zm::TFloatRect{300, 300, 300, 400}}) {
    d->Calls.clear();
    DrawSlideBackground(*d, bg, 255, corners, {640, 480}, nullptr, &h);
    EXPECT_EQ(d->Calls.size(), 1u);
  }
  d->Calls.clear();
  DrawSlideBackground(*d, bg, 255, {{100, 50}, {740, 60}, {90, 530}}, {640, 480}, nullptr, &hole);
  EXPECT_EQ(d->Calls.size(), 1u);
}

// ---- The slide's drawing -----------------------------------------------------------------------------

struct TLayerLog {
  static std::vector<std::string>* Log;
  static bool Begin(zm::TDeviceDrawer&) {
    Log->push_back("LayerBegin");
    return true;
  }
  static void End(zm::TDeviceDrawer&) { Log->push_back("LayerEnd"); }
  static void Blend(zm::TDeviceDrawer&, std::uint8_t a) { Log->push_back("LayerBlend " + std::to_string(a)); }
};
std::vector<std::string>* TLayerLog::Log = nullptr;

TEST_F(OruSlide, CrossFadeDrawsThroughTheLayerInOrder) {
  auto f = Ini("[main]\r\nopt_bstyle=1\r\nopt_bcolor=255\r\n[Slide1]\r\n" + Obj("Bg", "Box", "Size=10,10\r\n") +
               Obj("Split", "Frame", "") + Obj("Split2", "Splitter", "") + Obj("Top", "Box", "Size=10,10\r\n"));
  TRef<TOruSlide> s = Build(f.get());
  ASSERT_EQ(s->ChildCount(), 4);
  s->SetTimeAndLayout(true, 0);
  TRef<TRecordingDrawer> d = zm::MakeRef<TRecordingDrawer>();
  std::vector<std::string> log;
  TLayerLog::Log = &log;

  s->BgObjects = SlideBackgroundObjects(s.get());
  ASSERT_EQ(s->BgObjects.size(), 2u);  // up to the first splitter (type code 3)
  s->BgObjects2 = {s->BgObjects[0]};
  s->Background2.Kind = kSlideBgSolid;
  s->Background2.DisplayColour1 = 0x00FF00;
  s->Background2.Blend = 0.25f;

  // Without the layer the second background goes straight over at 255 - alpha.
  d->Draw(s.get());
  std::vector<std::string> want = {"Fill", "Draw {Bg}", "Draw {Split}", "Fill", "Draw {Bg}", "Draw {Split}",
                                   "Draw {Split2}", "Draw {Top}"};
  EXPECT_EQ(d->Names(), want);
  EXPECT_EQ(d->Calls[3].Colour1 >> 24, 255u - 191u);

  layers_.Set({&TLayerLog::Begin, &TLayerLog::End, &TLayerLog::Blend});
  d->Calls.clear();
  s->EffectSlide = 1;
  d->Draw(s.get());
  EXPECT_EQ(log, (std::vector<std::string>{"LayerBegin", "LayerEnd", "LayerBlend 64"}));
  want = {"SetDrawOffset", "Fill", "SetDrawOffset", "Draw {Bg}", "SetDrawOffset", "Fill", "SetDrawOffset",
          "Draw {Bg}", "Draw {Split}", "Draw {Bg}", "Draw {Split}", "Draw {Split2}", "Draw {Top}"};
  EXPECT_EQ(d->Names(), want);
  EXPECT_EQ(d->Calls[1].Colour1, 0xFF00FF00u);  // the second background, opaque in the layer
  EXPECT_EQ(d->Calls[5].Colour1, 0xFF0000FFu);  // the first background

  // Rendered for a transition that keeps the background transparent: no
  // background, and the children after the first splitter only.
  log.clear();
  d->Calls.clear();
  s->TransparentBg = 1;
  d->InTransition = true;
  d->Draw(s.get());
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(d->Names(), (std::vector<std::string>{"Draw {Top}"}));
  // Outside a transition the flag only drops the background.
  d->Calls.clear();
  d->InTransition = false;
  d->Draw(s.get());
  EXPECT_EQ(d->Calls.size(), 4u);
}

// The drawer leaves out the clear under a slide whose own solid background
// paints everything it is asked about.
TEST_F(OruSlide, AnOpaqueSolidBackgroundCoversTheSlideAndItsSurroundings) {
  auto f = Ini("[main]\r\n[Slide1]\r\n");
  TRef<TOruSlide> s = Build(f.get());
  s->SetTimeAndLayout(true, 0);
  ASSERT_EQ(s->Background.Kind, kSlideBgSolid);
  const zm::TFloatRect slide{0, 0, 640, 480}, wide{-300, -220, 940, 700}, far{-340, 0, 640, 480};
  EXPECT_TRUE(s->CoversOpaque(slide));
  EXPECT_TRUE(s->CoversOpaque(wide));   // the quad is twice the slide, about its centre
  EXPECT_FALSE(s->CoversOpaque(far));   // past it
  EXPECT_FALSE(s->CoversOpaque({std::nanf(""), 0, 10, 10}));
  s->TransparentBg = 1;
  EXPECT_FALSE(s->CoversOpaque(slide));
  s->TransparentBg = 0;
  s->Background2.Blend = 0.25f;  // the second background mixed in over it
  EXPECT_FALSE(s->CoversOpaque(slide));
  s->Background2.Blend = 0;
  s->Background.Kind = kSlideBgGradient1;
  EXPECT_FALSE(s->CoversOpaque(slide));
  s->Background.Kind = kSlideBgSolid;
  s->TransitionFlag = true;  // drawn without its background for a slide effect
  EXPECT_FALSE(s->CoversOpaque(slide));
  s->TransitionFlag = false;
  EXPECT_TRUE(s->CoversOpaque(slide));
}

TEST_F(OruSlide, PictureBackgroundIsMadeOncePreparedAndReleased) {
  auto f = Ini("[main]\r\nopt_bstyle=2\r\nopt_bfn=bg.png\r\n[Slide1]\r\n");
  TRef<TOruSlide> s = Build(f.get());
  s->Background2 = s->Background;
  TRef<TRecordingDrawer> d = zm::MakeRef<TRecordingDrawer>();
  s->PrepareResources(*d);
  ASSERT_EQ(s->BgPictures.size(), 1u);
  EXPECT_EQ(s->BgPictures[0]->Key, u"SlideBg: 100:bg.png");
  EXPECT_FLOAT_EQ(s->BgPictures[0]->Size.X, 640);  // 2:1 on 4:3: the slide's width
  EXPECT_FLOAT_EQ(s->BgPictures[0]->Size.Y, 320);
  s->SetTimeAndLayout(true, 0);
  d->Calls.clear();
  d->Draw(s.get());
  // ceil(640 / 640 / 2) = 1 and ceil(480 / 320 / 2) = 1: 3 x 3 copies.
  EXPECT_EQ(d->Calls.size(), 9u);
  EXPECT_EQ(s->BgPictures.size(), 1u);
  d->Calls.clear();
  s->ReleaseResources(*d);
  EXPECT_EQ(d->Names(), (std::vector<std::string>{"ReleaseImageTextures"}));
  // A new slide size refits the picture kept.
  s->SetSize(320, 480);
  EXPECT_FLOAT_EQ(s->BgPictures[0]->Size.X, 320);
  EXPECT_FLOAT_EQ(s->BgPictures[0]->Size.Y, 160);
  // A missing picture is asked for once, however often it is drawn.
  auto g = Ini("[main]\r\nopt_bstyle=2\r\nopt_bfn=absent.png\r\n[Slide1]\r\n");
  TRef<TOruSlide> t = Build(g.get());
  t->PrepareResources(*d);
  d->Draw(t.get());
  d->Draw(t.get());
  EXPECT_EQ(t->BgPictures.size(), 1u);
}

TRef<zm::TRefObject> gFilter;
int gFiltersMade = 0;
TRef<zm::TRefObject> MakeFilter(TOruSlide*, zm::TDeviceDrawer&) {
  ++gFiltersMade;
  return gFilter;
}

TEST_F(OruSlide, OwnSlideEffectGetsItsFilterOnce) {
  auto f = Ini("[Slide1]\r\n");
  TRef<TOruSlide> s = Build(f.get());
  TRef<TOruEffect> effect = zm::MakeRef<TOruEffect>();
  effect->Kind = kEffectCustom;
  s->Effect = effect;
  gFilter = zm::MakeRef<TSlideBgPicture>();  // any object stands for the filter
  gFiltersMade = 0;
  TRef<TRecordingDrawer> d = zm::MakeRef<TRecordingDrawer>();
  s->PrepareResources(*d);  // no hook: no filter, no failure
  EXPECT_FALSE(s->EffectFilter);
  zm::THookScope effectFilter(SlideEffectFilterHook, &MakeFilter);
  s->PrepareResources(*d);
  s->PrepareResources(*d);
  EXPECT_EQ(gFiltersMade, 1);
  EXPECT_EQ(s->EffectFilter.get(), gFilter.get());
  effect->Kind = 3;  // another kind never asks
  s->EffectFilter.reset();
  s->PrepareResources(*d);
  EXPECT_EQ(gFiltersMade, 1);
  effectFilter.Restore();
  gFilter.reset();
}

// ---- Layout and the measuring pass ------------------------------------------------------------------

TEST_F(OruSlide, MeasuringPassRunsOnceOverDistinctKeyFrameTimes) {
  auto f = Ini("[Slide1]\r\n" +
               Obj("A", "Box",
                   "Size=100,50\r\n" + KeyAt(0, "ScaleX=100\r\nScaleY=100\r\n") +
                       KeyAt(1000, "ScaleX=300\r\nScaleY=300\r\n") + KeyAt(2000, "ScaleX=100\r\nScaleY=100\r\n")) +
               Obj("B", "Box", "Size=100,50\r\n" + KeyAt(1000, "") + KeyAt(500, "")));
  TRef<TOruSlide> s = Build(f.get());
  s->SetTimeAndLayout(true, 2000);
  EXPECT_EQ(s->KeyTimes, (std::vector<double>{0, 500, 1000, 2000}));
  EXPECT_EQ(s->Measured, 1);
  EXPECT_EQ(s->Measuring, 0);
  TOruObject* a = s->Child(0);
  // The largest size seen is the one at 1000 ms, three times that at 2000.
  zm::TFloatPoint3 c[4];
  a->GetWorldCorners(c);
  const float nowWidth = zm::Distance3(c[0], c[1]);
  EXPECT_NEAR(a->MeasuredWidth, 3 * nowWidth, 1e-3 * nowWidth + 1e-4);
  EXPECT_LT(a->MeasuredDistance, 1000000.0f);
  // The tree is back at the time asked for, not the last key frame's.
  EXPECT_DOUBLE_EQ(s->LocalTime, 2000);
  EXPECT_NEAR(s->PerspectiveFactor, kTan30 * 576 / 480, 1e-6);

  // Measuring again changes nothing.
  a->MeasuredWidth = 1;
  s->Measure();
  s->SetTimeAndLayout(true, 500);
  EXPECT_EQ(a->MeasuredWidth, 1);
}

bool gStopAfter(int& n) { return --n > 0; }
int gCallsLeft = 0;
bool StopSoon() { return gStopAfter(gCallsLeft); }

TEST_F(OruSlide, MeasuringStopsWhenTheLoadCallbackSaysSo) {
  std::string keys;
  for (int i = 0; i < 50; ++i) keys += KeyAt(i * 10, "");
  auto f = Ini("[Slide1]\r\n" + Obj("A", "Box", "Size=10,10\r\n" + keys));
  TRef<TOruSlide> s = Build(f.get());
  zm::THookScope callback(zm::LoadCallbackProc, &StopSoon);
  gCallsLeft = 3;
  s->SetTimeAndLayout(true, 0);
  callback.Restore();
  EXPECT_EQ(s->KeyTimes.size(), 50u);
  EXPECT_EQ(gCallsLeft, 0);  // asked three times, stopped at the third
  EXPECT_EQ(s->Measured, 1);
}

TEST_F(OruSlide, EyeBehindTheScreenGivesTheFlatFactor) {
  auto f = Ini("[Slide1]\r\n");
  TRef<TOruSlide> s = Build(f.get());
  gEye = {320, 240, 100};
  s->SetTimeAndLayout(true, 0);
  EXPECT_NEAR(s->PerspectiveFactor, kTan30, 1e-6);
}

// ---- Mouse ----------------------------------------------------------------------------------------

TEST_F(OruSlide, MouseHitsThroughNestedObjects) {
  const std::string caption = Obj("Cap", "Text", "Size=100,40\r\nTranspForClick=1\r\n");
  const std::string button = Obj("Btn", "Button", "Size=100,40\r\nAction=exit\r\n" + caption);
  auto f = Ini("[Slide1]\r\n" + Obj("Panel", "Box", "Size=400,300\r\nAction=nextslide\r\n" + button) +
               Obj("Glass", "Box", "Size=640,480\r\nTranspForClick=1\r\n") +
               Obj("Plain", "Text", "Size=50,50\r\n" + KeyAt(0, "ScaleX=10\r\nScaleY=10\r\n")));
  TRef<TOruSlide> s = Build(f.get());
  s->SetTimeAndLayout(true, 0);
  auto* panel = s->Child(0);
  auto* btn = dynamic_cast<TButtonKind*>(panel->Child(0));
  auto* cap = dynamic_cast<TTextKind*>(btn->Child(0));
  auto* plain = dynamic_cast<TTextKind*>(s->Child(2));
  ASSERT_TRUE(btn && cap && plain);
  // The button fills the panel's width; the plain text is a small square
  // on top of both at the centre.
  zm::TFloatPoint3 bc[4];
  btn->GetWorldCorners(bc);
  const TFloatPoint at{bc[0].X + 20, (bc[0].Y + bc[3].Y) / 2};
  TOruActionInfo action;

  // Over the button (the caption and the glass let clicks through).
  EXPECT_EQ(s->HandleMouse(0, at.X, true, action, kSlideMouseMove, 0, at.Y), btn);
  EXPECT_EQ(btn->State, 1);
  EXPECT_EQ(cap->State, 1);  // the caption follows its button
  EXPECT_TRUE(action.IsEmpty());
  EXPECT_EQ(s->HandleMouse(16, at.X, true, action, kSlideMouseMove, 0, at.Y), btn);
  EXPECT_EQ(btn->State, 2);
  // An up without a down before it returns nothing.
  s->HandleMouse(0, at.X, true, action, kSlideMouseUp, kSlideMouseLeft, at.Y);
  EXPECT_TRUE(action.IsEmpty());
  EXPECT_EQ(btn->State, 1);
  s->HandleMouse(0, at.X, true, action, kSlideMouseDown, kSlideMouseLeft, at.Y);
  EXPECT_EQ(btn->State, 2);
  EXPECT_EQ(btn->Pressed, 1);
  s->HandleMouse(0, at.X, true, action, kSlideMouseUp, kSlideMouseLeft, at.Y);
  EXPECT_EQ(action.Code, acExit);
  EXPECT_EQ(btn->Pressed, 0);
  EXPECT_EQ(btn->State, 1);
  // Hovering never passed through normal on the way.
  for (std::size_t i = 1; i < btn->History.size(); ++i) EXPECT_NE(btn->History[i], 0);

  // A press that ends elsewhere is over: a later release over the button
  // alone triggers nothing.
  s->HandleMouse(0, at.X, true, action, kSlideMouseDown, kSlideMouseLeft, at.Y);
  s->HandleMouse(0, -5000, false, action, kSlideMouseUp, kSlideMouseLeft, -5000);
  EXPECT_EQ(btn->Pressed, 0);
  s->HandleMouse(0, at.X, true, action, kSlideMouseUp, kSlideMouseLeft, at.Y);
  EXPECT_TRUE(action.IsEmpty());

  // Other key flags, or a point outside, leave everything normal.
  EXPECT_EQ(s->HandleMouse(1, at.X, true, action, kSlideMouseMove, 0, at.Y), nullptr);
  EXPECT_EQ(btn->State, 0);
  EXPECT_EQ(cap->State, 0);
  s->HandleMouse(0, at.X, true, action, kSlideMouseMove, 0, at.Y);
  EXPECT_EQ(s->HandleMouse(0, at.X, false, action, kSlideMouseMove, 0, at.Y), nullptr);
  EXPECT_EQ(btn->State, 0);

  // The panel under a corner away from the button: a plain object returns
  // its action on up after down.
  zm::TFloatPoint3 c[4];
  panel->GetWorldCorners(c);
  const TFloatPoint corner{c[0].X + 2, c[0].Y + 2};
  EXPECT_EQ(s->HandleMouse(0, corner.X, true, action, kSlideMouseUp, kSlideMouseLeft, corner.Y), panel);
  EXPECT_TRUE(action.IsEmpty());
  s->HandleMouse(0, corner.X, true, action, kSlideMouseDown, kSlideMouseLeft, corner.Y);
  s->HandleMouse(0, corner.X, true, action, kSlideMouseUp, kSlideMouseLeft, corner.Y);
  EXPECT_EQ(action.Code, acNextSlide);

  // A text without an action shows no hover.
  const TFloatPoint p = CentreOf(plain);
  EXPECT_EQ(s->HandleMouse(0, p.X, true, action, kSlideMouseMove, 0, p.Y), plain);
  EXPECT_EQ(plain->State, 0);
  // Far outside every object.
  EXPECT_EQ(s->HandleMouse(0, -5000, true, action, kSlideMouseDown, 0, -5000), nullptr);
}

// ---- Bad input ---------------------------------------------------------------------------------------

TEST_F(OruSlide, MissingSectionsAndAbsurdSizes) {
  EXPECT_THROW(TOruSlide::Create(nullptr, nullptr, false), zm::Exception);
  EXPECT_THROW(TOruDialog::Create(nullptr, nullptr, false), zm::Exception);
  auto f = Ini("[main]\r\nopt_bstyle=2\r\nopt_bfn=bg.png\r\nopt_bsize=1e300\r\n");
  TRef<TOruSlide> s = Build(f.get(), 5);  // no Times, no Slide1
  EXPECT_EQ(s->ChildCount(), 0);
  // Modes in the slide's own section cannot unseat it.
  auto m = Ini("[Slide1]\r\nFitMode=None\r\nCenterMode=Absolute\r\nPosMode=Percent\r\n");
  TRef<TOruSlide> ms = Build(m.get());
  EXPECT_NO_THROW(ms->SetTimeAndLayout(true, 0));
  EXPECT_EQ(ms->Basis.Origin, (zm::TFloatPoint3{320, 240, 0}));
  EXPECT_EQ(s->Begin, 0);
  EXPECT_EQ(s->Background.Kind, kSlideBgPicture);
  EXPECT_EQ(s->Background.PictureSize, 100);
  for (float bad : {NAN, -1.0f, INFINITY, 1e30f}) {
    s->SetSize(bad, bad);
    EXPECT_EQ(s->Width, 0);
    s->SetTimeAndLayout(true, bad);
    TRef<TRecordingDrawer> d = zm::MakeRef<TRecordingDrawer>();
    s->PrepareResources(*d);
    d->Draw(s.get());
    TOruActionInfo action;
    EXPECT_EQ(s->HandleMouse(0, bad, true, action, kSlideMouseDown, 0, bad), nullptr);
  }

  // The dialog draws only its children and fades with its own value.
  auto g = Ini("[main]\r\nopt_bstyle=1\r\n[Slide1]\r\n" + Obj("A", "Box", "Size=10,10\r\n"));
  TRef<TOruDialog> dlg = TOruDialog::Create(host_.get(), nullptr, false);
  TSlideLoadArgs a;
  a.Main = g->FindSection(u"main");
  a.Section = g->FindSection(u"Slide1");
  dlg->SetSize(200, 100);
  dlg->Load(a);
  EXPECT_EQ(dlg->GetOpacityPercent(), 0);
  dlg->Opacity = 40;
  EXPECT_FLOAT_EQ(dlg->Child(0)->GetOpacityPercent(), 40);
  TRef<TRecordingDrawer> d = zm::MakeRef<TRecordingDrawer>();
  d->Draw(dlg.get());
  EXPECT_EQ(d->Names(), (std::vector<std::string>{"Draw {A}"}));
}

}  // namespace
