#include <gtest/gtest.h>

#include <map>
#include <string>

#include "OruLib2/NavPanel/NavBar.h"
#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/zmHookScope.h"
#include "tests/ZmLib/Graphics/GraphicsTestUtil.h"

using namespace oru;
using zm::TRect;
using zm::TRef;
using zm::TSysBitmap;

namespace {

constexpr std::uint32_t kCell = 0xFF102030, kBg = 0xFF404040;
constexpr std::uint32_t kFace[4] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF};
constexpr std::uint32_t kPlay = 0xFFFFFF00;

TRef<TSysBitmap> Solid(std::int32_t w, std::int32_t h, std::uint32_t c) {
  TRef<TSysBitmap> b = zm::CreateSysBitmap(w, h, zm::pfA8R8G8B8);
  b->FillRect(TRect{0, 0, w, h}, zm::TColor32::FromValue(c));
  return b;
}

// Four 20 x 20 faces side by side: normal, hover, pressed, disabled.
TRef<TSysBitmap> Faces(std::uint32_t first) {
  TRef<TSysBitmap> b = zm::CreateSysBitmap(80, 20, zm::pfA8R8G8B8);
  for (int s = 0; s < 4; ++s)
    b->FillRect(TRect{s * 20, 0, s * 20 + 20, 20}, zm::TColor32::FromValue(s ? kFace[s] : first));
  return b;
}

const char* kActions =
    "[Action-pause]\nActionType=Pause\nAction=toggle\n"
    "BtnTextureNormalBounds=0,0,20,20\nflnm_BtnTextureNormal=faces.bmp\n"
    "BtnTextureHoverBounds=20,0,20,20\nBtnTexturePressedBounds=40,0,20,20\nBtnTextureDisabledBounds=60,0,20,20\n"
    "flnm_BtnTextureNormalPlay=play.bmp\n"
    "BgTextureNormalBounds=0,0,40,30\nflnm_BgTextureNormal=BG.bmp\n"
    "[Action-home]\nActionType=home\nAction=go home\n"
    "BtnTextureNormalBounds=0,0,20,20\nflnm_BtnTextureNormal=faces.bmp\n"
    "BtnTextureHoverBounds=20,0,20,20\nBtnTexturePressedBounds=40,0,20,20\nBtnTextureDisabledBounds=60,0,20,20\n"
    "BgTextureNormalBounds=0,0,40,30\nflnm_BgTextureNormal=bg.bmp\n"
    "[Action-bogus]\nActionType=home\n"
    "[Action-exit]\nActionType=exit\n"
    "BtnTextureNormalBounds=0,0,20,20\nflnm_BtnTextureNormal=faces.bmp\n"
    "BgTextureNormalBounds=0,0,40,30\nflnm_BgTextureNormal=bg.bmp\n";

std::string Skin(const std::string& cellValue = "2,2", const std::string& cell23Bounds = "0,0,4,4") {
  std::string s = "[Common]\nColsCount=3\nRowsCount=3\nRecommendedScale=1.5\n"
                  "[CellWithObjects]\nLeftOffset=10\nTopOffset=5\nRightOffset=10\nBottomOffset=5\nCell=" +
                  cellValue + "\n[Objects]\nCount=3\n[Object1]\nSpace=4\nShiftPressed=2\nGrayNormal=1\n"
                  "[Object2]\nSpace=4\nGrayDisabled=1\n[Object3]\nSpace=4\nLeft=x\n";
  for (int c = 1; c <= 3; ++c)
    for (int r = 1; r <= 3; ++r)
      s += "[Cell(" + std::to_string(c) + ":" + std::to_string(r) + ")]\nTextureType=Repeat\nBounds=" +
           (c == 2 && r == 3 ? cell23Bounds : std::string("0,0,4,4")) + "\nflnm_Texture=cells.bmp\n";
  return s + kActions;
}

struct Bar {
  TRef<zm::TIniFile> skin = zm::MakeRef<zm::TIniFile>();
  zm::TIniFile* ini = skin.get();
  TRef<TNavBar> bar = zm::MakeRef<TNavBar>();
  std::map<zm::WideString, TRef<zm::TBitmap>> files;
  std::vector<zm::WideString> asked;
  std::vector<TRect> changes;
  std::vector<std::int32_t> clicks;
  bool playing = true;

  explicit Bar(const std::string& text = Skin()) {
    ini->LoadFromText(text);
    files[u"skin/cells.bmp"] = Solid(4, 4, kCell);
    files[u"skin/bg.bmp"] = Solid(40, 30, kBg);
    files[u"skin/faces.bmp"] = Faces(kFace[0]);
    files[u"skin/play.bmp"] = Faces(kPlay);
    bar->OnLoadBitmap = [this](TCustomNavBar*, const zm::WideString& path) -> TRef<zm::TBitmap> {
      asked.push_back(path);
      auto it = files.find(path);
      return it == files.end() ? nullptr : it->second;
    };
    bar->OnChange = [this](TCustomNavBar*, const TRect& r) { changes.push_back(r); };
    bar->OnClick = [this](TCustomNavBar*, std::int32_t i) { clicks.push_back(i); };
  }
  std::uint32_t At(int x, int y) const { return bar->Bitmap()->Row32(y)[x]; }
  void Mouse(int kind, int x, int y, std::uint8_t shift = 0, int button = 1) {
    bar->MouseEvent(button, shift, x, y, kind);
  }
  std::vector<int> States() const {
    std::vector<int> s;
    for (int i = 0; i < bar->ButtonCount(); ++i) s.push_back(bar->Button(i)->State);
    return s;
  }
};

std::string AssertionOf(const std::function<void()>& f) { return zmtest::AssertionOf(f); }

}  // namespace

TEST(NavBar, GridLayoutAndActions) {
  Bar t;
  t.bar->Load(t.ini, u"skin/");
  ASSERT_TRUE(t.bar->Loaded());
  EXPECT_FLOAT_EQ(t.bar->RecommendedScale(), 1.5f);
  // Sections in skin order, unknown names left out; codes index this list.
  EXPECT_EQ(t.bar->AvailableActions(), (std::vector<zm::WideString>{u"pause", u"home", u"exit"}));
  t.bar->SetButtons({1, 0, 2});
  ASSERT_EQ(t.bar->ButtonCount(), 3);
  EXPECT_EQ(t.bar->Cell(2, 2)->Width, 152);  // 10 + 10 + 3 * (40 + 4)
  EXPECT_EQ(t.bar->Cell(2, 1)->Width, 152);
  EXPECT_EQ(t.bar->Cell(1, 2)->Height, 40);  // 5 + 5 + 30
  EXPECT_EQ(t.bar->Cell(3, 3)->X, 156);
  EXPECT_EQ(t.bar->Cell(3, 3)->Y, 44);
  EXPECT_EQ(t.bar->Width(), 160);
  EXPECT_EQ(t.bar->Height(), 48);
  EXPECT_EQ(t.bar->Cell(0, 1), nullptr);
  EXPECT_EQ(t.bar->Cell(4, 1), nullptr);
  const int xs[3] = {14, 58, 102};
  const int codes[3] = {naHome, naPause, naExit};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(t.bar->Button(i)->X, xs[i]);
    EXPECT_EQ(t.bar->Button(i)->Y, 9);
    EXPECT_EQ(t.bar->Button(i)->Action, codes[i]);
  }
  EXPECT_EQ(t.bar->Button(0)->ActionText, u"go home");
  // Each file is loaded once, whatever the letter case of its name.
  EXPECT_EQ(std::count(t.asked.begin(), t.asked.end(), u"skin/bg.bmp") +
                std::count(t.asked.begin(), t.asked.end(), u"skin/BG.bmp"),
            1);
  ASSERT_FALSE(t.changes.empty());
  EXPECT_EQ(t.changes.back(), (TRect{0, 0, 160, 48}));

  ASSERT_NE(t.bar->Bitmap(), nullptr);
  EXPECT_EQ(t.At(0, 0), kCell);
  EXPECT_EQ(t.At(159, 47), kCell);
  EXPECT_EQ(t.At(15, 10), kBg);
  EXPECT_EQ(t.At(25, 15), 0xFF555555u);  // grey normal face: (255 + 0 + 0) div 3
  EXPECT_EQ(t.At(69, 15), kFace[0]);     // plain: the playing query is not set

  // More codes than buttons, then fewer.
  t.bar->SetButtons({0, 1, 2, 0, 1});
  EXPECT_EQ(t.bar->ButtonCount(), 3);
  t.bar->SetButtons({0, 1});
  EXPECT_EQ(t.bar->ButtonCount(), 2);
  EXPECT_EQ(t.bar->Cell(2, 2)->Width, 108);
  EXPECT_EQ(t.bar->Bitmap()->Width(), 116);  // the picture follows the new size
}

TEST(NavBar, ButtonStatesAndClicks) {
  Bar t;
  t.bar->Load(t.ini, u"skin/");
  t.bar->SetButtons({1, 0, 2});
  using V = std::vector<int>;

  t.changes.clear();
  t.Mouse(nmMove, 60, 10);
  EXPECT_EQ(t.States(), (V{0, 1, 0}));
  EXPECT_EQ(t.At(69, 15), kFace[1]);
  ASSERT_EQ(t.changes.size(), 1u);
  EXPECT_EQ(t.changes[0], (TRect{58, 9, 98, 39}));  // only what changed is redrawn
  t.Mouse(nmMove, 20, 10, 0x10);  // flagged move without a press: ignored
  EXPECT_EQ(t.States(), (V{0, 1, 0}));
  t.Mouse(nmMove, 200, 10);  // outside: all normal again
  EXPECT_EQ(t.States(), (V{0, 0, 0}));

  // Press and release on the same button; the pressed face moves by 2.
  t.changes.clear();
  t.Mouse(nmDown, 14, 9);
  EXPECT_EQ(t.States(), (V{2, 0, 0}));
  EXPECT_EQ(t.bar->PressedIndex(), 0);
  EXPECT_EQ(t.changes.back(), (TRect{14, 9, 56, 41}));  // the button's rectangle and the shift
  EXPECT_EQ(t.At(26, 16), kFace[2]);
  EXPECT_EQ(t.At(24, 14), kBg);  // the background does not move
  t.Mouse(nmUp, 53, 38);         // right and bottom edges are exclusive: 53 < 54
  EXPECT_EQ(t.clicks, (std::vector<std::int32_t>{0}));
  EXPECT_EQ(t.States(), (V{1, 0, 0}));

  // Released over another button or outside the bar: no click, no stuck press.
  t.Mouse(nmDown, 20, 20);
  t.Mouse(nmMove, 60, 20, 0x10);  // while pressed the flag does not matter
  EXPECT_EQ(t.States(), (V{0, 0, 0}));
  t.Mouse(nmUp, 60, 20);
  t.Mouse(nmDown, 20, 20);
  t.Mouse(nmUp, 500, 500);
  t.Mouse(nmDown, 54, 20);  // the gap between buttons
  t.Mouse(nmUp, 54, 20);
  t.Mouse(nmDown, 20, 20, 0, 2);  // right button: nothing
  EXPECT_EQ(t.clicks.size(), 1u);
  EXPECT_EQ(t.bar->PressedIndex(), -1);
  EXPECT_EQ(t.States(), (V{0, 0, 0}));

  // A disabled button keeps its state and never clicks; grey disabled faces
  // are averaged with a quarter of their alpha.
  t.bar->SetButtonState(1, nsDisabled);
  EXPECT_EQ(t.bar->Button(1)->Textures[nsDisabled].Bitmap->Row32(0)[0], 0x3FFFFFFFu);
  t.Mouse(nmDown, 60, 20);
  t.Mouse(nmMove, 60, 20);
  t.Mouse(nmUp, 60, 20);
  EXPECT_EQ(t.States(), (V{0, 3, 0}));
  EXPECT_EQ(t.clicks.size(), 1u);

  EXPECT_TRUE(zmtest::Contains(AssertionOf([&] { t.Mouse(3, 0, 0); }), "Invalid Kind 3"));

  // A click handler that drops the owner's reference during the click.
  Bar u;
  u.bar->Load(u.ini, u"skin/");
  u.bar->SetButtons({1});
  TNavBar* raw = u.bar.get();
  raw->AddRef();
  u.bar->OnClick = [&](TCustomNavBar*, std::int32_t) { raw->Free(); };
  u.Mouse(nmDown, 20, 20);
  u.Mouse(nmUp, 20, 20);
  EXPECT_EQ(raw->RefCount(), 1);
}

TEST(NavBar, PlayStateRefresh) {
  Bar t;
  t.bar->OnIsPlaying = [&] { return t.playing; };
  t.bar->Load(t.ini, u"skin/");
  t.bar->SetButtons({1, 0});
  EXPECT_EQ(t.At(69, 15), kFace[0]);
  t.changes.clear();
  t.bar->UpdatePlayState(0);  // the first refresh is forced
  ASSERT_EQ(t.changes.size(), 1u);
  EXPECT_EQ(t.changes[0], (TRect{58, 9, 98, 39}));
  t.bar->UpdatePlayState(10);
  EXPECT_EQ(t.changes.size(), 1u);
  t.playing = false;
  t.bar->UpdatePlayState(20);
  ASSERT_EQ(t.changes.size(), 2u);
  EXPECT_EQ(t.At(69, 15), kPlay);
  EXPECT_EQ(t.At(25, 15), 0xFF555555u);  // a button without Play textures is unchanged
}

TEST(NavBar, BadSkinsAndMissingPictures) {
  {
    Bar t(Skin("2"));
    EXPECT_TRUE(zmtest::Contains(AssertionOf([&] { t.bar->Load(t.ini, u"skin/"); }),
                                 "Incorrect number of parameters in field \"Cell\""));
    EXPECT_FALSE(t.bar->Loaded());
    t.bar->SetButtons({0, 1});  // not loaded: nothing is built or drawn
    EXPECT_EQ(t.bar->ButtonCount(), 0);
    EXPECT_EQ(t.bar->Bitmap(), nullptr);
  }
  {
    Bar t(Skin("2,2", "0,0,4"));
    EXPECT_TRUE(zmtest::Contains(AssertionOf([&] { t.bar->Load(t.ini, u"skin/"); }),
                                 "Incorrect number of parameters in field \"Bounds\" in [Cell(2:3)]"));
    EXPECT_FALSE(t.bar->Loaded());
  }
  {
    std::string skin = Skin();
    skin.replace(skin.find("BgTextureNormalBounds=0,0,40,30\nflnm_BgTextureNormal=bg.bmp"), 31,
                 "BgTextureNormalBounds=0,\"0,4\",40");
    Bar t(skin);
    t.bar->Load(t.ini, u"skin/");
    EXPECT_TRUE(zmtest::Contains(AssertionOf([&] { t.bar->SetButtons({1}); }),
                                 "Bounds should contains 4 values. For example: BtnTextureNormalBounds=0,0,20,20. "
                                 "But ORU found only 3 values."));
  }
  {
    Bar t;
    t.bar->OnLoadBitmap = nullptr;
    EXPECT_TRUE(zmtest::Contains(AssertionOf([&] { t.bar->Load(t.ini, u"skin/"); }), "loader"));
  }
  {
    // Missing and foreign pictures, codes that name no action, odd numbers.
    std::string skin = Skin("x,y");
    skin.replace(skin.find("Bounds=0,0,4,4"), 14, "Bounds=a,b,c,d");
    Bar t(skin);
    t.files.erase(u"skin/faces.bmp");
    TRef<TSysBitmap> rgb = zm::CreateSysBitmap(40, 30, zm::pfR8G8B8);
    t.files[u"skin/bg.bmp"] = rgb;
    t.bar->Load(t.ini, u"skin/");
    ASSERT_TRUE(t.bar->Loaded());
    t.bar->SetButtons({99, -1, 0});
    ASSERT_EQ(t.bar->ButtonCount(), 3);
    EXPECT_EQ(t.bar->Button(0)->Action, naNone);
    t.Mouse(nmDown, 20, 20);
    t.Mouse(nmUp, 20, 20);
    t.bar->UpdatePlayState(0);
    ASSERT_NE(t.bar->Bitmap(), nullptr);
  }
  {
    // A grid no picture can hold, and an empty document.
    Bar t("[Common]\nColsCount=2000000000\nRowsCount=2000000000\n[CellWithObjects]\nCell=1,1\n");
    t.bar->Load(t.ini, u"");
    t.bar->SetButtons({0});
    EXPECT_EQ(t.bar->Bitmap(), nullptr);
    EXPECT_FLOAT_EQ(t.bar->RecommendedScale(), 8.0f);
    Bar e("");
    EXPECT_TRUE(zmtest::Contains(AssertionOf([&] { e.bar->Load(e.ini, u""); }), "\"Cell\""));
    e.bar->Load(nullptr, u"");
    e.Mouse(nmMove, 1, 1);
    e.bar->UpdatePlayState(0);
  }
}

namespace {
TCreateNavBarProc gPrevious = nullptr;
int gVideoMade = 0;
TRef<TCustomNavBar> VideoFactory(const zm::WideString& kind) {
  if (kind == u"video") ++gVideoMade;
  return gPrevious(kind);
}
}  // namespace

TEST(NavBar, FactoryChain) {
  TRef<TCustomNavBar> plain = CreateNavBar(u"");
  ASSERT_NE(dynamic_cast<TNavBar*>(plain.get()), nullptr);
  // A second start neither replaces nor loses the factory.
  InitNavBar();
  FiniNavBar();
  ASSERT_NE(CreateNavBar(u"anything"), nullptr);

  zm::THookScope videoBars(CreateNavBarHook, &VideoFactory);
  gPrevious = videoBars.Saved();
  EXPECT_NE(CreateNavBar(u"video"), nullptr);
  EXPECT_EQ(gVideoMade, 1);
  videoBars.Restore();

  // The base copies the codes element by element.
  std::vector<std::int32_t> codes{5, 6, 7};
  plain->SetButtons(codes);
  codes[0] = 0;
  EXPECT_EQ(plain->Buttons(), (std::vector<std::int32_t>{5, 6, 7}));
}
