#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <string>

#include "OruLib2/NavPanel/VideoNavBar.h"
#include "ZmLib/Graphics/SysPixelFormat.h"
#include "tests/ZmLib/Graphics/GraphicsTestUtil.h"
#include "tests/ZmLib/VectorGraphics/FakeVectorizer.h"

using namespace oru;
using zm::TRect;
using zm::TRef;
using zm::TSysBitmap;

namespace {

constexpr std::uint32_t kBack = 0xFF202020, kLine = 0xFF0000C0, kKnob = 0xFFC0C000;

TRef<TSysBitmap> Solid(std::int32_t w, std::int32_t h, std::uint32_t c) {
  TRef<TSysBitmap> b = zm::CreateSysBitmap(w, h, zm::pfA8R8G8B8);
  b->FillRect(TRect{0, 0, w, h}, zm::TColor32::FromValue(c));
  return b;
}

// The colour of button cell C in state S: red tells the state, green the cell.
std::uint32_t CellColor(int s, int c) {
  return 0xFF000000u | std::uint32_t(40 + s * 80) << 16 | std::uint32_t(10 + c * 30) << 8;
}

TRef<TSysBitmap> Cells(int s) {
  TRef<TSysBitmap> b = zm::CreateSysBitmap(7 * 16, 16, zm::pfA8R8G8B8);
  for (int c = 0; c < 7; ++c) b->FillRect(TRect{c * 16, 0, c * 16 + 16, 16}, zm::TColor32::FromValue(CellColor(s, c)));
  return b;
}

// At scale 1 and width 400 with two show's buttons: TS 54, TE 163 (79 with
// hours), DE 331, sound button at 336, volume track 358..398, knob 6 x 12.
const char* kSkin =
    "[Common]\nDefaultScale=2.5\nBgLeft=2\nBgRight=2\nTrackLineLeft=1\nTrackLineRight=1\nflnm_back=back.bmp\n"
    "[Pixel positions]\nBarSize=400,20\nTrackHeight=4\nBtnSize=16,16\nDigitSize=14,10\nVolumeControlLength=40\n"
    "LeftSpace=2\nButtonsTrackSpace=4\nTrackDigitsSpace=3\nDigitsSoundBtnSpace=5\nSoundBtnTrackSpace=6\nRightSpace=2\n"
    "[Trackbar]\nflnm_Line=line.bmp\nflnm_Polzun=knob.bmp\n"
    "[Buttons]\nflnm_Normal=n.bmp\nflnm_Hover=h.bmp\nflnm_Click=c.bmp\n";

struct Bar {
  zmtest::TFakeVectorizerScope fonts;
  TRef<zm::TIniFile> skin = zm::MakeRef<zm::TIniFile>();
  TRef<TVideoNavBar> bar = zm::MakeRef<TVideoNavBar>();
  std::map<zm::WideString, TRef<zm::TBitmap>> files;
  int changes = 0, exitChanges = 0;
  std::vector<std::int32_t> clicks;
  std::vector<double> seeks, volumes;
  bool playing = true;
  double duration = 65000;

  explicit Bar(const std::string& text = kSkin, bool upper = false, bool upperAnswer = false) {
    skin->LoadFromText(text);
    files[u"skin/back.bmp"] = Solid(8, 20, kBack);
    files[u"skin/line.bmp"] = Solid(4, 4, kLine);
    files[u"skin/knob.bmp"] = Solid(6, 12, kKnob);
    files[u"skin/n.bmp"] = Cells(0);
    files[u"skin/h.bmp"] = Cells(1);
    files[u"skin/c.bmp"] = Cells(2);
    bar->OnLoadBitmap = [this](TCustomNavBar*, const zm::WideString& path) -> TRef<zm::TBitmap> {
      auto it = files.find(path);
      return it == files.end() ? nullptr : it->second;
    };
    bar->OnChange = [this](TCustomNavBar*, const TRect&) { ++changes; };
    bar->OnExitChange = [this](TCustomNavBar*, const TRect&) { ++exitChanges; };
    bar->OnClick = [this](TCustomNavBar*, std::int32_t i) { clicks.push_back(i); };
    bar->OnSeek = [this](TCustomNavBar*, double v) { seeks.push_back(v); };
    bar->OnSetVolume = [this](TCustomNavBar*, double v) { volumes.push_back(v); };
    bar->OnIsPlaying = [this] { return playing; };
    bar->OnGetDuration = [this] { return duration; };
    if (upper) bar->OnIsUpperHalf = [upperAnswer] { return upperAnswer; };
  }
  ~Bar() {
    if (bar) bar->Dispose();
  }
  // Load, width 400, scale 1, backward and forward, volume 0.5.
  Bar& Ready(std::int32_t width = 400, double scale = 1.0) {
    bar->Load(skin.get(), u"skin/");
    bar->SetContainerWidth(width);
    bar->SetScale(scale);
    bar->SetButtons({0, 1});
    bar->SetVolume(0.5);
    return *this;
  }
  std::uint32_t At(int x, int y) const { return bar->Bitmap()->Row32(y)[x]; }
  void Mouse(int kind, int x, int y, int button = 1) { bar->MouseEvent(button, 0, x, y, kind); }
};

}  // namespace

TEST(VideoNavBar, LayoutReservesDigitsAndFitsTheScale) {
  Bar t;
  t.Ready();
  EXPECT_FLOAT_EQ(t.bar->RecommendedScale(), 2.5f);
  EXPECT_EQ(t.bar->AvailableActions(), (std::vector<zm::WideString>{u"backward", u"forward"}));
  TVideoNavLayout l = t.bar->Layout();
  EXPECT_EQ(l.TS, 54);
  EXPECT_EQ(l.TE, 163);
  EXPECT_EQ(l.DE, 331);
  EXPECT_EQ(l.VS, 358);
  ASSERT_TRUE(t.bar->Bitmap());
  EXPECT_EQ(t.bar->Bitmap()->Width(), 400);
  EXPECT_EQ(t.bar->Bitmap()->Height(), 20);
  EXPECT_EQ(t.bar->ExitBitmap(), nullptr);  // no upper-half query
  EXPECT_EQ(t.At(20, 10), CellColor(0, 4));  // backward
  EXPECT_EQ(t.At(40, 10), CellColor(0, 5));  // forward
  EXPECT_EQ(t.At(340, 10), CellColor(0, 2));
  EXPECT_EQ(t.At(100, 10), kLine);
  EXPECT_EQ(t.At(57, 10), kKnob);  // no position yet: at the track start
  EXPECT_EQ(t.At(1, 10), kBack);
  EXPECT_EQ(t.bar->TimeText(), u"00:00 / 01:05");
  // The digits are white glyphs centred between the track's end + 3 and DE.
  auto inked = [&t] {
    int first = -1, last = -1;
    for (int x = 163; x < 336; ++x)
      for (int y = 0; y < 20; ++y)
        if (t.At(x, y) != kBack) {
          if (first < 0) first = x;
          last = x;
        }
    return std::pair{first, last};
  };
  auto [first, last] = inked();
  ASSERT_GT(first, 166);
  EXPECT_LT(last, 331);
  EXPECT_NEAR(first - 166, 331 - last, 3);
  bool white = false;
  for (int x = first; x <= last; ++x) white = white || t.At(x, 10) == 0xFFFFFFFFu;
  EXPECT_TRUE(white);

  // One hour exactly shows hours and reserves 18 digit widths; a millisecond less 12.
  t.duration = 3600000;
  t.bar->SetButtons({0, 1});
  EXPECT_TRUE(t.bar->ShowHours());
  EXPECT_EQ(t.bar->Layout().TE, 79);
  EXPECT_EQ(t.bar->TimeText(), u"00:00:00 / 01:00:00");
  t.duration = 3599999;
  t.bar->SetButtons({0, 1});
  EXPECT_EQ(t.bar->Layout().TE, 163);
  t.duration = 100 * 3600000.0;  // hours are shown modulo 100
  t.bar->SetButtons({0, 1});
  EXPECT_EQ(t.bar->TimeText(), u"00:00:00 / 00:00:00");

  // Scale 1.5 leaves less than 100 pixels of track: halved to 0.75.
  Bar twice;
  twice.Ready(400, 1.5);
  EXPECT_FLOAT_EQ(twice.bar->Scale(), 0.75f);
  EXPECT_FALSE(twice.bar->TooNarrow());
  // Where no scale can leave 100 pixels, the asked one stays (and halving ends).
  Bar tight;
  tight.Ready(118, 0.1);
  EXPECT_FLOAT_EQ(tight.bar->Scale(), 0.1f);
  EXPECT_FALSE(tight.bar->TooNarrow());
  // Scales that are no scale change nothing.
  tight.bar->SetScale(0);
  tight.bar->SetScale(std::numeric_limits<double>::quiet_NaN());
  tight.bar->SetScale(1e300);
  EXPECT_FLOAT_EQ(tight.bar->Scale(), 0.1f);
}

TEST(VideoNavBar, TooNarrowIgnoresEverything) {
  Bar t;
  t.bar->Load(t.skin.get(), u"skin/");
  t.bar->SetContainerWidth(150);
  t.bar->SetScale(1.0);
  ASSERT_TRUE(t.bar->TooNarrow());
  t.bar->SetButtons({0, 1});
  t.bar->SetVolume(0.3);
  t.bar->UpdatePlayState(1000);
  t.Mouse(nmDown, 10, 10);
  t.Mouse(nmUp, 10, 10);
  EXPECT_EQ(t.bar->Bitmap(), nullptr);
  EXPECT_TRUE(t.bar->Buttons().empty());
  EXPECT_EQ(t.bar->Volume(), -1);
  EXPECT_EQ(t.bar->Position(), -1);
  EXPECT_EQ(t.changes, 0);
  EXPECT_TRUE(t.clicks.empty());
}

TEST(VideoNavBar, PositionWrapsAndRefreshesOnlyOnChange) {
  Bar t;
  t.Ready();
  t.bar->UpdatePlayState(70000);  // beyond the duration: shown as 5000
  EXPECT_EQ(t.bar->TimeText(), u"00:05 / 01:05");
  const std::int64_t wrapped = t.bar->KnobCentre();
  EXPECT_EQ(wrapped, 3 + 54 + (163 - 6 - 54) * 5000 / 65000);
  EXPECT_EQ(t.At(int(wrapped), 10), kKnob);
  t.bar->UpdatePlayState(5000);
  EXPECT_EQ(t.bar->KnobCentre(), wrapped);

  const int before = t.changes;
  t.bar->UpdatePlayState(5000);  // same time, same play state
  t.bar->UpdatePlayState(5001);  // neither a knob pixel nor a second
  t.bar->UpdatePlayState(std::numeric_limits<double>::quiet_NaN());
  EXPECT_EQ(t.changes, before);
  t.playing = false;
  t.bar->UpdatePlayState(5001);  // paused flips: the play/pause button shows cell 0
  EXPECT_EQ(t.changes, before + 1);
  EXPECT_EQ(t.At(10, 10), CellColor(0, 0));
  // Bad volumes put the knob at the start of the volume track.
  t.bar->SetVolume(7);
  EXPECT_EQ(t.bar->VolumeKnobCentre(), 3 + 358);
  t.bar->SetVolume(-0.5);
  EXPECT_EQ(t.bar->VolumeKnobCentre(), 3 + 358);
  t.bar->SetVolume(1);
  EXPECT_EQ(t.bar->VolumeKnobCentre(), 3 + 358 + 34);
  EXPECT_EQ(t.At(395, 10), kKnob);
}

TEST(VideoNavBar, DraggingTheKnobPausesAndResumes) {
  Bar t;
  t.Ready();
  const int kc = int(t.bar->KnobCentre());
  t.Mouse(nmDown, kc + 2, 10);  // grabbed 2 pixels right of the centre
  EXPECT_EQ(t.clicks, std::vector<std::int32_t>{-1});
  EXPECT_TRUE(t.bar->Paused());
  EXPECT_EQ(t.At(10, 10), CellColor(0, 1));  // still the playing look
  t.playing = false;                          // the owner paused
  t.bar->UpdatePlayState(1234);               // ticks don't move a dragged knob
  EXPECT_EQ(t.bar->Position(), -1);
  t.Mouse(nmMove, 162, 3);  // beyond the end: held at the end
  ASSERT_EQ(t.seeks.size(), 1u);
  EXPECT_DOUBLE_EQ(t.seeks[0], 65000);
  t.Mouse(nmUp, 100, 0);  // off the track band: the drag still seeks
  EXPECT_EQ(t.clicks, (std::vector<std::int32_t>{-1, -1}));
  ASSERT_EQ(t.seeks.size(), 2u);
  EXPECT_DOUBLE_EQ(t.seeks[1], double(100 - 2 - 54 - 3) / (163 - 54 - 6) * 65000);
  EXPECT_FALSE(t.bar->Paused());

  // A paused show stays paused and reports nothing but the seek.
  t.clicks.clear();
  t.Mouse(nmDown, 10, 10);  // play/pause: now paused
  t.Mouse(nmUp, 10, 10);
  EXPECT_EQ(t.clicks, std::vector<std::int32_t>{-1});
  t.Mouse(nmDown, 120, 10);
  t.Mouse(nmUp, 120, 10);
  EXPECT_EQ(t.clicks, std::vector<std::int32_t>{-1});
  EXPECT_TRUE(t.bar->Paused());
  // A release over the track after a press elsewhere seeks too.
  t.Mouse(nmDown, 300, 1);
  t.Mouse(nmUp, 57, 10);
  EXPECT_DOUBLE_EQ(t.seeks.back(), 0);
}

TEST(VideoNavBar, ButtonsHoverPressAndMute) {
  Bar t;
  t.Ready();
  t.Mouse(nmMove, 40, 10);
  EXPECT_EQ(*t.bar->State(4), bs_Hover);
  EXPECT_EQ(t.At(40, 10), CellColor(1, 5));
  t.Mouse(nmDown, 40, 10);
  EXPECT_EQ(t.clicks, std::vector<std::int32_t>{1});
  EXPECT_EQ(t.At(40, 10), CellColor(2, 5));
  // Moves while a button is held change nothing.
  const int before = t.changes;
  t.Mouse(nmMove, 20, 10);
  t.Mouse(nmMove, 340, 10);
  EXPECT_EQ(t.changes, before);
  EXPECT_EQ(*t.bar->State(4), bs_Click);
  t.Mouse(nmUp, 340, 10);
  EXPECT_EQ(*t.bar->State(4), bs_Normal);
  EXPECT_EQ(t.At(40, 10), CellColor(0, 5));

  // Muting keeps the volume for unmuting; cell 3 exactly while silent.
  t.volumes.clear();
  t.Mouse(nmDown, 340, 10);
  t.Mouse(nmUp, 340, 10);
  EXPECT_EQ(t.At(340, 10), CellColor(0, 3));
  t.Mouse(nmDown, 340, 10);
  t.Mouse(nmUp, 340, 10);
  EXPECT_EQ(t.volumes, (std::vector<double>{0, 0.5}));
  EXPECT_EQ(t.At(340, 10), CellColor(0, 2));
  // A mute before any volume arrived unmutes to full, never to -1.
  Bar fresh;
  fresh.bar->Load(fresh.skin.get(), u"skin/");
  fresh.bar->SetContainerWidth(400);
  fresh.bar->SetScale(1);
  fresh.bar->SetButtons({0, 1});
  for (int i = 0; i < 2; ++i) {
    fresh.Mouse(nmDown, 340, 10);
    fresh.Mouse(nmUp, 340, 10);
  }
  EXPECT_EQ(fresh.volumes, (std::vector<double>{0, 1}));
}

TEST(VideoNavBar, VolumeTrackPressDrawsNothingUntilMoved) {
  Bar t;
  t.Ready();
  const int before = t.changes;
  t.Mouse(nmDown, int(t.bar->VolumeKnobCentre()), 10);
  EXPECT_EQ(t.changes, before);
  EXPECT_TRUE(t.volumes.empty());
  t.Mouse(nmMove, 300, 10);  // off the volume track: nothing follows
  EXPECT_TRUE(t.volumes.empty());
  t.Mouse(nmMove, 355, 10);  // before the start
  EXPECT_TRUE(t.volumes.empty());
  t.Mouse(nmMove, 358, 10);
  ASSERT_EQ(t.volumes.size(), 1u);
  EXPECT_DOUBLE_EQ(t.volumes[0], 0);
  EXPECT_EQ(t.At(340, 10), CellColor(0, 3));  // silent look follows
  t.Mouse(nmUp, 398, 10);
  EXPECT_DOUBLE_EQ(t.volumes.back(), 1);
  EXPECT_EQ(t.At(340, 10), CellColor(0, 2));
  t.bar->SetVolume(0.25);  // after the drag the owner's volume counts again
  EXPECT_EQ(t.bar->Volume(), 0.25);
}

TEST(VideoNavBar, ExitPictureOnTheUpperHalf) {
  Bar t(kSkin, true, true);
  t.Ready();
  ASSERT_TRUE(t.bar->ExitBitmap());
  EXPECT_EQ(t.bar->ExitBitmap()->Width(), 20);
  EXPECT_EQ(t.bar->ExitBitmap()->Height(), 20);
  EXPECT_EQ(t.exitChanges, 1);
  EXPECT_EQ(t.bar->ExitBitmap()->Row32(0)[0], 0u);  // transparent around the button
  EXPECT_EQ(t.bar->ExitBitmap()->Row32(10)[10], CellColor(0, 6));
  t.Mouse(nmMove, 10, 10);
  EXPECT_EQ(t.bar->ExitBitmap()->Row32(10)[10], CellColor(1, 6));
  t.Mouse(nmDown, 30, 10);  // beside the button: nothing
  t.Mouse(nmDown, 10, 10);
  EXPECT_EQ(t.clicks, std::vector<std::int32_t>{-2});
  EXPECT_EQ(t.bar->ExitBitmap()->Row32(10)[10], CellColor(2, 6));
  t.Mouse(nmUp, 100, 10);  // not on the bar: no seek
  EXPECT_TRUE(t.seeks.empty());
  EXPECT_EQ(t.bar->ExitBitmap()->Row32(10)[10], CellColor(0, 6));
}

TEST(VideoNavBar, DamagedSkinsAndBadCallsNeverCrash) {
  Bar t;
  EXPECT_TRUE(zmtest::Contains(zmtest::AssertionOf([&] { t.bar->Load(t.skin.get(), u"skin"); }),
                               "Path delimiter nof found!"));
  Bar noLoader;
  noLoader.bar->OnLoadBitmap = nullptr;
  EXPECT_NE(zmtest::AssertionOf([&] { noLoader.bar->Load(noLoader.skin.get(), u"skin/"); }), "(no assertion)");
  t.bar->Load(nullptr, u"skin/");  // no skin: nothing to draw
  t.bar->SetButtons({0, 1});
  t.Mouse(nmDown, 10, 10);
  EXPECT_EQ(t.bar->Bitmap(), nullptr);

  const char* damaged[] = {
      // sizes that are not two numbers, missing pictures
      "[Pixel positions]\nBarSize=400\nBtnSize=16,16,16\nDigitSize=x,y\n[Trackbar]\nflnm_Polzun=none.bmp\n",
      // negative and huge sizes
      "[Pixel positions]\nBarSize=-40,-20\nBtnSize=-16,16\nTrackHeight=-4\nVolumeControlLength=2147483647\n"
      "[Buttons]\nflnm_Normal=n.bmp\n",
      "[Pixel positions]\nBarSize=400,2147483647\nBtnSize=2147483647,2147483647\nDigitSize=1,2147483647\n"
      "[Buttons]\nflnm_Normal=n.bmp\n[Trackbar]\nflnm_Polzun=knob.bmp\nflnm_Line=line.bmp\n",
      // a volume track exactly as long as the knob
      "[Pixel positions]\nBarSize=400,20\nBtnSize=16,16\nTrackHeight=4\nVolumeControlLength=6\nDigitSize=6,10\n"
      "[Trackbar]\nflnm_Polzun=knob.bmp\nflnm_Line=line.bmp\n",
  };
  for (const char* text : damaged) {
    SCOPED_TRACE(text);
    Bar d(text, true, false);
    d.bar->Load(d.skin.get(), u"skin/");
    d.bar->SetContainerWidth(400);
    d.bar->SetHeight(40);
    d.bar->SetScale(1);
    d.bar->SetButtons({0, 1, 7, -3});
    d.bar->SetVolume(std::numeric_limits<double>::infinity());
    d.bar->SetVolume(std::numeric_limits<double>::quiet_NaN());
    d.bar->UpdatePlayState(-5e300);
    d.bar->UpdatePlayState(1e300);
    for (int x : {-100000, 0, 10, 40, 57, 200, 340, 360, 392, 395, 398, 100000})
      for (int y : {-5, 0, 10, 19, 100000}) {
        d.Mouse(nmMove, x, y);
        d.Mouse(nmDown, x, y);
        d.Mouse(nmMove, x + 3, y);
        d.Mouse(nmUp, x, y);
      }
    for (double v : d.volumes) EXPECT_TRUE(v >= 0 && v <= 1) << v;
  }

  // An owner that drops the bar from inside a callback.
  Bar owner;
  owner.Ready();
  owner.bar->OnClick = [&owner](TCustomNavBar* b, std::int32_t) {
    b->Dispose();
    owner.bar = nullptr;
  };
  TVideoNavBar* raw = owner.bar.get();
  TRef<TVideoNavBar> hold(raw);
  raw->MouseEvent(1, 0, 10, 10, nmDown);
  raw->MouseEvent(1, 0, 10, 10, nmUp);
  raw->UpdatePlayState(5000);
  EXPECT_EQ(owner.bar, nullptr);
}

TEST(VideoNavBar, FactoryChainsTheVideoKind) {
  const TCreateNavBarProc before = CreateNavBarHook;
  InitVideoNavBar();
  InitVideoNavBar();
  TRef<TCustomNavBar> video = CreateNavBar(u"video");
  EXPECT_TRUE(dynamic_cast<TVideoNavBar*>(video.get()));
  TRef<TCustomNavBar> other = CreateNavBar(u"Video");  // the kind is matched exactly
  EXPECT_FALSE(dynamic_cast<TVideoNavBar*>(other.get()));
  FiniVideoNavBar();
  {
    // Still one user (besides the program's module, when it runs).
    TRef<TCustomNavBar> again = CreateNavBar(u"video");
    EXPECT_TRUE(dynamic_cast<TVideoNavBar*>(again.get()));
    if (again) again->Dispose();
  }
  FiniVideoNavBar();
  EXPECT_EQ(CreateNavBarHook, before);
  if (video) video->Dispose();
  if (other) other->Dispose();
}
