#include <gtest/gtest.h>

#include <map>
#include <string>

#include "OruLib2/NavPanel/NavBar.h"
#include "OruLib2/NavPanel/NavPanel.h"
#include "OruLib2/NavPanel/VideoNavBar.h"
#include "Platform/User/PlatUserHeadless.h"
#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/zmHookScope.h"
#include "tests/ZmLib/VectorGraphics/FakeVectorizer.h"
#include "tests/support/kit/BmpWriter.h"
#include "tests/support/kit/StreamBytes.h"

using namespace oru;
using zm::TRect;
using zm::TRef;

namespace navpaneltest {

class MapSource : public TFileSource {
public:
  std::map<zm::WideString, std::string> files;
  zm::TStream* OpenFile(const zm::WideString& name) override {
    auto it = files.find(name);
    return it == files.end() ? nullptr : zmtest::MemoryStreamOf(it->second).Detach();
  }
};

// Buttons 20 x 10 in one row; sections in the order exit, home, forward.
std::string SkinText(const std::string& common = "", const std::string& cell = "1,1") {
  std::string s = "[Common]\nColsCount=1\nRowsCount=1\n" + common + "[CellWithObjects]\nCell=" + cell +
                  "\n[Objects]\nCount=3\n[Cell(1:1)]\nBounds=0,0,4,4\nflnm_Texture=cell.bmp\n";
  for (const char* a : {"exit", "home", "forward"})
    s += std::string("[Action-") + a + "]\nActionType=" + a +
         "\nBtnTextureNormalBounds=0,0,20,10\nflnm_BtnTextureNormal=face.bmp\n"
         "BgTextureNormalBounds=0,0,20,10\nflnm_BgTextureNormal=face.bmp\n";
  return s;
}

struct FakeEvent {
  std::int32_t button, x, y, kind;
  std::uint8_t shift;
};

// A bar of a kind the panel doesn't know: records what it is given and
// draws fixed pictures, the exit picture only when asked the upper half.
class FakeBar : public TCustomNavBar {
public:
  static inline std::vector<zm::WideString> kinds;
  static inline TRef<FakeBar> last;
  static inline std::vector<zm::WideString> available{u"backward", u"forward"};
  static inline std::int32_t width = 100, height = 20;

  static TRef<TCustomNavBar> Make(const zm::WideString& kind) {
    kinds.push_back(kind);
    last = zm::MakeRef<FakeBar>();
    return last;
  }

  std::vector<FakeEvent> events;
  std::int32_t containerWidth = -1, heightGiven = -1;
  double scale = -1, volume = -1, played = -1;
  zm::WideString folder = u"(none)";

  const std::vector<zm::WideString>& AvailableActions() const override { return available; }
  void Load(zm::TIniFile*, const zm::WideString& f) override { folder = f; }
  void SetButtons(std::span<const std::int32_t> codes) override {
    TCustomNavBar::SetButtons(codes);
    bitmap_ = zm::CreateSysBitmap(width, height, zm::pfA8R8G8B8);
    if (OnChange) OnChange(this, TRect{0, 0, width, height});
    if (OnIsUpperHalf) {
      exitBitmap_ = zm::CreateSysBitmap(30, 30, zm::pfA8R8G8B8);
      if (OnExitChange) OnExitChange(this, TRect{0, 0, 30, 30});
    }
  }
  void MouseEvent(std::int32_t button, std::uint8_t shift, std::int32_t x, std::int32_t y,
                  std::int32_t kind) override {
    events.push_back({button, x, y, kind, shift});
    if (kind == nmUp && clickOnUp != -100 && OnClick) OnClick(this, clickOnUp);
  }
  void UpdatePlayState(double time) override { played = time; }
  void SetVolume(double v) override { volume = v; }
  void SetContainerWidth(std::int32_t w) override { containerWidth = w; }
  void SetHeight(std::int32_t h) override { heightGiven = h; }
  void SetScale(double s) override { scale = s; }

  std::int32_t clickOnUp = -100;
};

struct Picture {
  zm::TImage* image;
  std::int32_t index;
  TRect rect;
};

class NavPanelTest : public ::testing::Test {
protected:
  void SetUp() override {
    FakeBar::kinds.clear();
    FakeBar::available = {u"backward", u"forward"};
    FakeBar::width = 100, FakeBar::height = 20;
    source->files[u"skins\\nav.ini"] = SkinText();
    source->files[u"skins\\cell.bmp"] = zmtest::SolidBmp(4, 4, 0x102030);
    source->files[u"skins\\face.bmp"] = zmtest::SolidBmp(20, 10, 0xC08040);
    panel->SetFileAccess(access.get());
    panel->OnBarPictureChanged = [this](TNavPanel*, zm::TImage* image, const zm::TImageDrawParams& params,
                                        std::int32_t& index, const TRect& rect) {
      EXPECT_FLOAT_EQ(params.Opacity, 100.0f);
      bars.push_back({image, index, rect});
      if (index < 0) index = 7;
    };
    panel->OnExitPictureChanged = [this](TNavPanel*, zm::TImage* image, const zm::TImageDrawParams&,
                                         std::int32_t& index, const TRect& rect) {
      exits.push_back({image, index, rect});
      if (index < 0) index = 8;
    };
  }
  void TearDown() override {
    navBars_.Restore();
    FakeBar::last = nullptr;
    plat::headless::ResetForTests();
  }
  void UseFake() { navBars_.Set(&FakeBar::Make); }
  void Place(float viewScale = 10, std::int32_t kind = npBottom, TRect container = {0, 0, 1000, 600}) {
    const TPercentPlacement p = AnchorFromPosition(kind, 0);
    panel->SetPlacement(viewScale, p.Position, p.Anchor, container);
  }
  TOruActionInfo Down(int x, int y, int button = 1) {
    TOruActionInfo a{acHelp, 9, u"stale"};
    panel->MouseDown(button, 0, x, y, a);
    return a;
  }
  TOruActionInfo Move(int x, int y, std::uint8_t shift = 0) {
    TOruActionInfo a{acHelp, 9, u"stale"};
    panel->MouseMove(0, shift, x, y, a);
    return a;
  }
  TOruActionInfo Up(int x, int y, int button = 1) {
    TOruActionInfo a{acHelp, 9, u"stale"};
    panel->MouseUp(button, 0, x, y, a);
    return a;
  }

  TRef<MapSource> source = zm::MakeRef<MapSource>();
  TRef<TFileAccessor> access = zm::MakeRef<TFileAccessor>(source.get());
  TRef<TNavPanel> panel = zm::MakeRef<TNavPanel>();
  std::vector<Picture> bars, exits;
  zm::THookScope<TCreateNavBarProc> navBars_{CreateNavBarHook};
};

}  // namespace navpaneltest

using namespace navpaneltest;

TEST(NavPanelPlacement, NamedPositionsAndRounding) {
  EXPECT_EQ(AnchorFromPosition(npRightBottom, 5), (TPercentPlacement{{95, 95}, {100, 100}}));
  EXPECT_EQ(AnchorFromPosition(npLeftTop, 5), (TPercentPlacement{{-95, -95}, {-100, -100}}));
  EXPECT_EQ(AnchorFromPosition(npTop, 5), (TPercentPlacement{{0, -95}, {0, -100}}));
  EXPECT_EQ(AnchorFromPosition(npRightTop, 5), (TPercentPlacement{{95, -95}, {100, -100}}));
  EXPECT_EQ(AnchorFromPosition(npRight, 5), (TPercentPlacement{{95, 0}, {100, 0}}));
  EXPECT_EQ(AnchorFromPosition(npBottom, 5), (TPercentPlacement{{0, 95}, {0, 100}}));
  EXPECT_EQ(AnchorFromPosition(npLeftBottom, 5), (TPercentPlacement{{-95, 95}, {-100, 100}}));
  EXPECT_EQ(AnchorFromPosition(npLeft, 5), (TPercentPlacement{{-95, 0}, {-100, 0}}));
  for (std::int32_t k : {8, 9, -1, 1 << 30}) EXPECT_EQ(AnchorFromPosition(k, 5), (TPercentPlacement{}));

  EXPECT_EQ(PositionKindFromName(u"right-BOTTOM"), npRightBottom);
  EXPECT_EQ(PositionKindFromName(u"Left"), npLeft);
  EXPECT_EQ(PositionKindFromName(u"Left "), npCenter);
  EXPECT_EQ(PositionKindFromName(u""), npCenter);

  const TPercentPlacement rb = AnchorFromPosition(npRightBottom, 5);
  EXPECT_EQ(PlaceRectByPercent(rb.Position, rb.Anchor, {0, 0, 1000, 600}, 200, 50), (TRect{775, 535, 975, 585}));
  // The container's origin moves the rectangle; halves go to even on both
  // terms: 2.5 -> 2, 3.5 -> 4 and 1.5 -> 2.
  EXPECT_EQ(PlaceRectByPercent({0, 0}, {0, 0}, {10, 20, 15, 27}, 3, 3), (TRect{10, 22, 13, 25}));
  // Degenerate sizes give a clear rectangle, never a crash.
  EXPECT_EQ(PlaceRectByPercent({0, 0}, {0, 0}, {0, 0, 0, 0}, 0, 0), (TRect{}));
}

TEST_F(NavPanelTest, SkinnedBarButtonsPictureAndClicks) {
  ASSERT_NE(CreateNavBarHook, nullptr);  // the skinned bar's module
  // Names in the show's order and letter case; "bogus" has no section.
  panel->ButtonNames = {u"Forward", u"bogus", u"home", u"EXIT"};
  Place(10);
  panel->Open(u"skins\\nav.ini", false, false, 0.5, 9000);
  TCustomNavBar* bar = panel->Bar();
  ASSERT_NE(bar, nullptr);
  EXPECT_FALSE(panel->VideoStyle());
  // Available actions are exit, home, forward (section order).
  EXPECT_EQ(bar->Buttons(), (std::vector<std::int32_t>{2, 1, 0}));
  ASSERT_NE(bar->Bitmap(), nullptr);
  ASSERT_EQ(bar->Bitmap()->Width(), 60);
  ASSERT_EQ(bar->Bitmap()->Height(), 10);
  // Textures came through the file access, opaque A8R8G8B8.
  EXPECT_EQ(bar->Bitmap()->Row32(5)[10], 0xFFC08040u);

  // Height 10% of 600, width kept in proportion, at the bottom centre.
  ASSERT_FALSE(bars.empty());
  EXPECT_EQ(bars.front().index, -1);
  EXPECT_EQ(bars.back().rect, (TRect{320, 540, 680, 600}));
  EXPECT_EQ(panel->BarIndex(), 7);
  EXPECT_EQ(panel->BarImage(), bars.back().image);
  EXPECT_EQ(panel->BarImage()->GetBitmap()->Width(), 60);
  EXPECT_TRUE(exits.empty());

  // Off the panel nothing is passed and nothing comes back.
  EXPECT_TRUE(Move(10, 10).IsEmpty());
  EXPECT_FALSE(panel->OverPanel());
  // On the panel: code 20 until a button is clicked. Button k covers
  // x 320 + 120k ... 440 + 120k.
  EXPECT_EQ(Move(330, 550), (TOruActionInfo{acOverPanel, 0, u""}));
  EXPECT_EQ(Down(330, 550).Code, acOverPanel);
  EXPECT_EQ(Up(330, 550), (TOruActionInfo{acNextSlide, 0, u""}));
  Down(470, 550);
  EXPECT_EQ(Up(470, 550), (TOruActionInfo{acGotoSlide, 0, u""}));  // home: the first slide
  Down(679, 599);
  EXPECT_EQ(Up(679, 599).Code, acExit);
  // Right and bottom edges are outside; another button never presses.
  EXPECT_TRUE(Down(680, 599).IsEmpty());
  EXPECT_TRUE(Up(680, 600).IsEmpty());
  EXPECT_EQ(Down(330, 550, 2).Code, acNone);
  EXPECT_FALSE(panel->PressedOnBar());
  EXPECT_TRUE(panel->OverPanel());

  // Pressed on the bar, released outside: no action, and the bar's press
  // ended so a later return does not click.
  TNavBar* skinned = dynamic_cast<TNavBar*>(bar);
  ASSERT_NE(skinned, nullptr);
  Down(330, 550);
  EXPECT_EQ(skinned->PressedIndex(), 0);
  EXPECT_TRUE(Move(330, 100).IsEmpty());
  EXPECT_TRUE(Up(330, 100).IsEmpty());
  EXPECT_EQ(skinned->PressedIndex(), -1);
  EXPECT_FALSE(panel->PressedOnBar());
  EXPECT_EQ(Up(330, 550).Code, acOverPanel);
}

TEST_F(NavPanelTest, VideoStyleBarThroughTheHook) {
  UseFake();
  source->files[u"skins\\nav.ini"] = SkinText("VideoStyle=1\n");
  panel->ButtonNames = {u"forward", u"home", u"Backward"};
  bool playing = true;
  std::vector<double> seeks;
  panel->OnIsPlaying = [&] { return playing; };
  panel->OnSeek = [&](TCustomNavBar*, double v) { seeks.push_back(v); };
  panel->ShowBackground = true;
  panel->Hue = 33;
  plat::headless::TMonitorDesc m;
  m.Bounds = {0, 0, 1000, 600};
  m.Work = m.Bounds;
  m.Primary = true;
  m.Dpi = 144;
  plat::headless::SetMonitors({m});
  Place(12.5f, npTop, {0, 0, 1000, 600});
  panel->Open(u"skins\\nav.ini", false, true, 0.25, 4000);

  ASSERT_EQ(FakeBar::kinds, (std::vector<zm::WideString>{u"video"}));
  FakeBar* bar = FakeBar::last.get();
  ASSERT_EQ(panel->Bar(), bar);
  EXPECT_TRUE(panel->VideoStyle());
  EXPECT_EQ(bar->folder, u"skins\\");
  EXPECT_EQ(bar->containerWidth, 1000);
  EXPECT_DOUBLE_EQ(bar->scale, 1.5);
  EXPECT_EQ(bar->heightGiven, -1);
  EXPECT_EQ(bar->Buttons(), (std::vector<std::int32_t>{1, 0}));  // home is not the video bar's
  EXPECT_DOUBLE_EQ(bar->played, 0);
  EXPECT_DOUBLE_EQ(bar->volume, 0.25);
  EXPECT_TRUE(bar->ShowBackground);
  EXPECT_EQ(bar->Hue, 33);
  ASSERT_TRUE(bar->OnGetDuration && bar->OnIsPlaying && bar->OnSeek);
  EXPECT_DOUBLE_EQ(bar->OnGetDuration(), 4000);
  EXPECT_TRUE(bar->OnIsPlaying());
  bar->OnSeek(bar, 1234);
  EXPECT_EQ(seeks, (std::vector<double>{1234}));
  EXPECT_FALSE(bar->OnSetVolume);

  // Own size at the bottom centre whatever the placement; exit part at the
  // top-right corner.
  ASSERT_EQ(bars.size(), 1u);
  EXPECT_EQ(bars[0].rect, (TRect{450, 580, 550, 600}));
  ASSERT_EQ(exits.size(), 1u);
  EXPECT_EQ(exits[0].rect, (TRect{970, 0, 1000, 30}));
  EXPECT_EQ(panel->ExitIndex(), 8);

  // Upper half: events go to the exit picture, and the bar's query says so.
  ASSERT_TRUE(bar->OnIsUpperHalf);
  EXPECT_EQ(Move(985, 15).Code, acOverPanel);
  EXPECT_TRUE(panel->IsUpperHalf());
  EXPECT_TRUE(bar->OnIsUpperHalf());
  ASSERT_EQ(bar->events.size(), 1u);
  EXPECT_EQ(bar->events[0].x, 15);
  EXPECT_EQ(bar->events[0].y, 15);
  bar->clickOnUp = kNavClickExit;
  Down(985, 15);
  EXPECT_EQ(Up(985, 15), (TOruActionInfo{acExit, 0, u""}));
  // Lower half: the bar's picture, in its own pixels.
  bar->clickOnUp = kNavClickPlayPause;
  Down(500, 590);
  EXPECT_FALSE(panel->IsUpperHalf());
  EXPECT_EQ(bar->events.back().x, 50);
  EXPECT_EQ(bar->events.back().y, 10);
  EXPECT_EQ(Up(500, 590).Code, acPause);
  bar->clickOnUp = 1;  // button 1 has code 0: "backward" of this bar
  Down(460, 581);
  EXPECT_EQ(Up(460, 581).Code, acPrevSlide);
  // A click index beyond the buttons, or a code beyond the names, is none.
  bar->clickOnUp = 5;
  Down(460, 581);
  EXPECT_EQ(Up(460, 581).Code, acOverPanel);

  // Press, then moves off the panel still reach the bar with button 1 and
  // the shift given; the release outside gives nothing.
  bar->clickOnUp = -100;
  bar->events.clear();
  Down(500, 590);
  EXPECT_TRUE(Move(500, 400, 0x11).IsEmpty());
  EXPECT_TRUE(Move(10, 450).IsEmpty());
  EXPECT_TRUE(Up(10, 450).IsEmpty());
  ASSERT_EQ(bar->events.size(), 4u);
  EXPECT_EQ(bar->events[1].kind, nmMove);
  EXPECT_EQ(bar->events[1].button, 1);
  EXPECT_EQ(bar->events[1].shift, 0x11);
  EXPECT_EQ(bar->events[3].kind, nmUp);
  // Nothing pressed and off the panel: nothing more reaches it.
  Move(10, 450);
  Up(10, 450);
  EXPECT_EQ(bar->events.size(), 4u);

  panel->Tick(2500);
  EXPECT_DOUBLE_EQ(bar->played, 2500);
}

TEST_F(NavPanelTest, VideoScaleAndNoExitPart) {
  UseFake();
  source->files[u"nav.ini"] = SkinText("VideoStyle=1\n");
  // 100 x 2.5% = 2.5: halves go to even.
  Place(2.5f, npBottom, {0, 0, 300, 100});
  panel->Open(u"nav.ini", true, false, 1, 0);
  FakeBar* bar = FakeBar::last.get();
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->heightGiven, 2);
  EXPECT_LT(bar->scale, 0);
  EXPECT_EQ(bar->folder, u"");
  EXPECT_FALSE(bar->OnIsUpperHalf);
  EXPECT_FALSE(bar->OnExitChange);
  EXPECT_TRUE(exits.empty());
  // Without an exit part the upper half is the bar's like any other place.
  Move(150, 10);
  EXPECT_FALSE(panel->IsUpperHalf());
  EXPECT_TRUE(bar->events.empty());
  // Play/pause and exit clicks only mean something for the video style.
  bar->clickOnUp = kNavClickExit;
  EXPECT_EQ(panel->BarRect(), (TRect{100, 80, 200, 100}));
  Down(150, 95);
  EXPECT_EQ(Up(150, 95).Code, acExit);
}

TEST_F(NavPanelTest, MissingOrBrokenInputLeavesNoBar) {
  // No file access is the caller's fault.
  TRef<TNavPanel> bare = zm::MakeRef<TNavPanel>();
  EXPECT_THROW(bare->Open(u"skins\\nav.ini", false, false, 1, 0), zm::Exception);
  EXPECT_EQ(bare->Bar(), nullptr);

  // A skin that is missing; no bar module at all.
  Place();
  panel->Open(u"skins\\none.ini", false, false, 1, 0);
  EXPECT_EQ(panel->Bar(), nullptr);
  navBars_.Set(nullptr);
  panel->Open(u"skins\\nav.ini", false, false, 1, 0);
  EXPECT_EQ(panel->Bar(), nullptr);
  EXPECT_TRUE(Down(500, 590).IsEmpty());
  EXPECT_TRUE(Move(500, 590).IsEmpty());
  EXPECT_TRUE(Up(500, 590).IsEmpty());
  EXPECT_FALSE(panel->OverPanel());
  EXPECT_FALSE(panel->IsUpperHalf());
  panel->Tick(10);
  EXPECT_TRUE(bars.empty());
  navBars_.Set(navBars_.Saved());

  // A skin the bar refuses: the assertion passes on and the panel is left
  // without the half-built bar.
  source->files[u"skins\\bad.ini"] = SkinText("", "1");
  EXPECT_THROW(panel->Open(u"skins\\bad.ini", false, false, 1, 0), zm::Exception);
  EXPECT_EQ(panel->Bar(), nullptr);
  EXPECT_TRUE(Down(500, 590).IsEmpty());

  // Damaged, empty and missing textures: the bar is built without them.
  source->files[u"skins\\face.bmp"] = zmtest::SolidBmp(20, 10, 0xC08040).substr(0, 40);
  source->files[u"skins\\cell.bmp"] = "";
  panel->ButtonNames = {u"home", u"exit"};
  panel->Open(u"skins\\nav.ini", false, false, 1, 0);
  ASSERT_NE(panel->Bar(), nullptr);
  source->files.erase(u"skins\\face.bmp");
  panel->Open(u"skins\\nav.ini", false, false, 1, 0);
  ASSERT_NE(panel->Bar(), nullptr);
  EXPECT_EQ(panel->Bar()->Buttons().size(), 2u);

  // Random bytes as the skin: the bar refuses it, no crash.
  source->files[u"skins\\nav.ini"] = std::string("\x00\xff[\n=\r[Common\nVideoStyle", 24);
  EXPECT_THROW(panel->Open(u"skins\\nav.ini", false, false, 1, 0), zm::Exception);
  EXPECT_EQ(panel->Bar(), nullptr);
  EXPECT_TRUE(Move(500, 590).IsEmpty());
}

TEST_F(NavPanelTest, PicturesWaitForPlacementAndReopenDropsTheOldBar) {
  UseFake();
  panel->ButtonNames = {u"forward"};
  panel->Open(u"skins\\nav.ini", false, false, 1, 0);  // not placed yet
  EXPECT_EQ(FakeBar::kinds, (std::vector<zm::WideString>{u""}));
  EXPECT_TRUE(bars.empty());
  EXPECT_EQ(panel->BarRect(), TRect{});
  EXPECT_TRUE(Move(0, 0).IsEmpty());

  TRef<FakeBar> old = FakeBar::last;
  Place(10, npLeftTop);
  panel->Open(u"skins\\nav.ini", false, false, 1, 0);
  EXPECT_NE(panel->Bar(), old.get());
  // The old bar no longer calls back into the panel.
  EXPECT_FALSE(old->OnClick);
  EXPECT_FALSE(old->OnChange);
  EXPECT_FALSE(old->OnLoadBitmap);
  ASSERT_EQ(bars.size(), 1u);
  EXPECT_EQ(bars[0].rect, (TRect{0, 0, 300, 60}));  // 100 x 20 at 60 high

  // A view scale of 0 gives an empty rectangle that nothing hits.
  Place(0, npLeftTop);
  panel->Open(u"skins\\nav.ini", false, false, 1, 0);
  ASSERT_EQ(bars.size(), 2u);
  EXPECT_EQ(bars[1].rect, TRect{});
  EXPECT_TRUE(Move(0, 0).IsEmpty());

  // The overlay may drop the panel from within its picture callback.
  TNavPanel* raw = panel.get();
  panel->OnBarPictureChanged = [this](TNavPanel*, zm::TImage*, const zm::TImageDrawParams&, std::int32_t&,
                                      const TRect&) { panel = nullptr; };
  raw->Open(u"skins\\nav.ini", false, false, 1, 0);
  EXPECT_EQ(panel.get(), nullptr);
}

TEST_F(NavPanelTest, WithTheVideoBar) {
  zmtest::TFakeVectorizerScope fonts;
  InitVideoNavBar();  // counted: harmless when the module table has it too
  struct Fini {
    ~Fini() { FiniVideoNavBar(); }
  } fini;
  source->files[u"skins\\video.ini"] =
      "[Common]\nVideoStyle=1\nflnm_back=back.bmp\n"
      "[Pixel positions]\nBarSize=400,20\nTrackHeight=4\nBtnSize=16,16\nDigitSize=14,10\nVolumeControlLength=40\n"
      "LeftSpace=2\nButtonsTrackSpace=4\nTrackDigitsSpace=3\nDigitsSoundBtnSpace=5\nSoundBtnTrackSpace=6\n"
      "RightSpace=2\n[Trackbar]\nflnm_Line=line.bmp\nflnm_Polzun=knob.bmp\n"
      "[Buttons]\nflnm_Normal=n.bmp\nflnm_Hover=n.bmp\nflnm_Click=n.bmp\n";
  source->files[u"skins\\back.bmp"] = zmtest::SolidBmp(8, 20, 0x202020);
  source->files[u"skins\\line.bmp"] = zmtest::SolidBmp(4, 4, 0x0000C0);
  source->files[u"skins\\knob.bmp"] = zmtest::SolidBmp(6, 12, 0xC0C000);
  source->files[u"skins\\n.bmp"] = zmtest::SolidBmp(112, 16, 0x808080);
  panel->ButtonNames = {u"home", u"forward", u"backward"};
  Place(10, npBottom, {0, 0, 400, 300});
  panel->Open(u"skins\\video.ini", false, true, 0.5, 65000);
  auto* bar = dynamic_cast<TVideoNavBar*>(panel->Bar());
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->Buttons(), (std::vector<std::int32_t>{1, 0}));
  ASSERT_NE(bar->Bitmap(), nullptr);
  EXPECT_EQ(panel->BarRect(), (TRect{0, 280, 400, 300}));
  ASSERT_NE(bar->ExitBitmap(), nullptr);
  const std::int32_t ew = bar->ExitBitmap()->Width();
  EXPECT_EQ(panel->ExitRect(), (TRect{400 - ew, 0, 400, bar->ExitBitmap()->Height()}));
  ASSERT_FALSE(exits.empty());
  EXPECT_EQ(exits.back().rect, panel->ExitRect());

  // The exit button sits in the middle of the exit part.
  const int ex = 400 - ew / 2, ey = bar->ExitBitmap()->Height() / 2;
  EXPECT_EQ(Move(ex, ey).Code, acOverPanel);
  EXPECT_TRUE(panel->IsUpperHalf());
  EXPECT_EQ(Down(ex, ey).Code, acExit);
  EXPECT_EQ(Up(ex, ey).Code, acOverPanel);
  // Lower half, bar pixels: play/pause at the left end, then the first of
  // the show's buttons ("forward" here).
  EXPECT_EQ(Down(10, 290).Code, acPause);
  EXPECT_FALSE(panel->IsUpperHalf());
  Up(10, 290);
  EXPECT_EQ(Down(20, 290).Code, acNextSlide);
  Up(20, 290);
  // Off both parts, in the upper half: nothing.
  EXPECT_TRUE(Move(100, 50).IsEmpty());
  EXPECT_TRUE(Down(100, 50).IsEmpty());
  EXPECT_TRUE(Up(100, 50).IsEmpty());
  panel->Tick(1000);
}
