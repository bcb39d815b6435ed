#include <gtest/gtest.h>

#include "Platform/User/PlatUser.h"
#include "Platform/User/PlatUserHeadless.h"
#include "ZmLib/Application2/winApplication.h"
#include "ZmLib/Composite/winControlStyles.h"
#include "ZmLib/Composite/winThemes2.h"
#include "ZmLib/Win32/Fonts/winFontUtils.h"
#include "ZmLib/Win32/winFileAPI.h"
#include "ZmLib/zmHookScope.h"
#include "tests/support/HeadlessApp.h"

using namespace zm;

namespace {

class AppFixture : public zmtest::THeadlessAppTest {
protected:
  void TearDown() override {
    FreeThemeServices();
    THeadlessAppTest::TearDown();
  }
};

class TVersionFileAPI : public TFileAPI {
public:
  explicit TVersionFileAPI(std::int32_t v) : version(v) {}
  std::int32_t GetFileVersion(const WideString& name) override { return name == u"comctl32.dll" ? version : -1; }
  std::int32_t version;
};

// The visual-styles stand-in: one handle per class, a drawing recorded.
struct TFakeUx {
  static inline bool themed = true, active = true;
  static inline int opens = 0, closes = 0, loads = 0, releases = 0;
  static inline TThemedElement lastDrawn;
  static TUxThemeApi Api() {
    TUxThemeApi a;
    a.IsAppThemed = [] { return themed; };
    a.IsThemeActive = [] { return active; };
    a.OpenThemeData = [](plat::HWND, const char16_t*) { return HTHEME(++opens); };
    a.CloseThemeData = [](HTHEME) { return ++closes, 0; };
    a.DrawThemeBackground = [](HTHEME, plat::HDC, std::int32_t part, std::int32_t state, const TRect*, const TRect*) {
      lastDrawn = {0, part, state};
      return 0;
    };
    a.GetThemeBackgroundContentRect = [](HTHEME, plat::HDC, std::int32_t, std::int32_t, const TRect* b, TRect* c) {
      *c = {b->Left + 2, b->Top + 2, b->Right - 2, b->Bottom - 2};
      return 0;
    };
    a.GetThemePartSize = [](HTHEME, plat::HDC, std::int32_t, std::int32_t, const TRect*, std::int32_t, TSize* s) {
      *s = {13, 13};
      return 0;
    };
    return a;
  }
  static const TUxThemeApi* Load() {
    static TUxThemeApi api = Api();
    ++loads;
    return &api;
  }
  static void Release() { ++releases; }
};

class FakeThemes : public AppFixture {
protected:
  void SetUp() override {
    AppFixture::SetUp();
    api_.Set(MakeRef<TVersionFileAPI>(0x60000));
    loader_.Set({&TFakeUx::Load, &TFakeUx::Release});
    TFakeUx::themed = TFakeUx::active = true;
    TFakeUx::opens = TFakeUx::closes = TFakeUx::loads = TFakeUx::releases = 0;
  }
  void TearDown() override {
    AppFixture::TearDown();
    api_.Restore();
    loader_.Restore();
  }
  zm::THookScope<TRef<TFileAPI>> api_{FileAPIClass};
  zm::THookScope<TThemeLibraryLoader> loader_{LoadThemeLibraryHook};
};

}  // namespace

TEST(ThemeElements, NumbersMapToClassPartAndState) {
  EXPECT_EQ(ThemedElement(TThemeKind::Tab, 22), (TThemedElement{15, 5, 1}));
  EXPECT_EQ(ThemedElement(TThemeKind::Tab, 43), (TThemedElement{15, 10, 1}));
  EXPECT_EQ(ThemedElement(TThemeKind::Tab, 41), (TThemedElement{15, 8, 5}));
  EXPECT_EQ(ThemedElement(TThemeKind::ScrollBar, 60), (TThemedElement{11, 1, 17}));
  EXPECT_EQ(ThemedElement(TThemeKind::ScrollBar, 63), (TThemedElement{11, 1, 20}));
  EXPECT_EQ(ThemedElement(TThemeKind::ScrollBar, 59), (TThemedElement{11, 10, 2}));
  EXPECT_EQ(ThemedElement(TThemeKind::Button, 30), (TThemedElement{0, 5, 1}));
  EXPECT_EQ(ThemedElement(TThemeKind::Button, 16), (TThemedElement{0, 3, 1}));
  EXPECT_EQ(ThemedElement(TThemeKind::Spin, 17), (TThemedElement{12, 4, 4}));
  // Outside a kind's table: part 0, state n + 1.
  EXPECT_EQ(ThemedElement(TThemeKind::Button, 1), (TThemedElement{0, 0, 2}));
  EXPECT_EQ(ThemedElement(TThemeKind::Toolbar, 38), (TThemedElement{18, 0, 39}));
  EXPECT_EQ(ThemedElement(TThemeKind::Edit, -5).State, -4);
  EXPECT_EQ(ThemedElement(TThemeKind::Edit, INT32_MAX).State, INT32_MAX);
  EXPECT_EQ(ThemeClassName(23), std::u16string(u"window"));
  EXPECT_EQ(ThemeClassName(24), nullptr);
}

TEST(ThemeServicesNoApp, CreationNeedsTheApplication) {
  ASSERT_EQ(WinApplication, nullptr);
  EXPECT_ANY_THROW(MakeRef<TThemeServices>());
}

TEST_F(AppFixture, WithoutVisualStylesEverythingIsClassic) {
  TThemeServices* s = ThemeServices();
  EXPECT_FALSE(s->CommonControls6());
  EXPECT_FALSE(s->LibraryLoaded());
  EXPECT_FALSE(s->ThemesEnabled());
  EXPECT_EQ(s->GetThemeHandle(0), 0u);
  EXPECT_FALSE(s->DrawElement(nullptr, ThemedElement(TThemeKind::Button, 2), {0, 0, 10, 10}));
  TSize size;
  EXPECT_FALSE(s->GetElementSize(nullptr, {0, 1, 1}, nullptr, 0, size));
  EXPECT_EQ(ThemeServices(), s);  // one global instance
  // Version 6 but no library on this system: still classic.
  zm::THookScope api(FileAPIClass, MakeRef<TVersionFileAPI>(0x60000));
  auto t = MakeRef<TThemeServices>();
  EXPECT_TRUE(t->CommonControls6());
  EXPECT_FALSE(t->LibraryLoaded());
  EXPECT_FALSE(t->ThemesEnabled());
}

TEST_F(FakeThemes, HandlesOpenOnDemandAndCloseOnThemeChange) {
  {
    auto s = MakeRef<TThemeServices>();
    EXPECT_TRUE(s->ThemesEnabled());
    HTHEME h = s->GetThemeHandle(15);
    EXPECT_NE(h, 0u);
    EXPECT_EQ(s->GetThemeHandle(15), h);
    EXPECT_EQ(TFakeUx::opens, 1);
    EXPECT_EQ(s->GetThemeHandle(-1), 0u);
    EXPECT_EQ(s->GetThemeHandle(24), 0u);
    EXPECT_TRUE(s->DrawElement(nullptr, ThemedElement(TThemeKind::Tab, 22), {0, 0, 5, 5}));
    EXPECT_EQ(TFakeUx::lastDrawn.Part, 5);
    TRect content;
    EXPECT_TRUE(s->GetElementContentRect(nullptr, {15, 9, 1}, {0, 0, 10, 10}, content));
    EXPECT_EQ(content, (TRect{2, 2, 8, 8}));

    int changes = 0;
    s->OnThemeChange = [&] { ++changes; };
    plat::SendMessageW(app->GetHandle(), WM_THEMECHANGED_ID, 0, 0);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(TFakeUx::closes, 1);
    s->GetThemeHandle(15);
    EXPECT_EQ(TFakeUx::opens, 2);  // opened again

    // The user turns visual styles off: the next question says so.
    TFakeUx::active = false;
    EXPECT_FALSE(s->ThemesEnabled());
    EXPECT_EQ(s->GetThemeHandle(3), 0u);
    EXPECT_FALSE(s->DrawElement(nullptr, {3, 1, 1}, {0, 0, 5, 5}));
  }
  EXPECT_EQ(TFakeUx::closes, 2);  // the open handle closed with the services
  EXPECT_EQ(TFakeUx::loads, TFakeUx::releases);
  // Older common controls never load the library.
  api_.Set(MakeRef<TVersionFileAPI>(0x50052));
  auto old = MakeRef<TThemeServices>();
  EXPECT_FALSE(old->LibraryLoaded());
  EXPECT_EQ(TFakeUx::loads, 1);
}

// ---- Control styles, brushes and focus helpers ----------------------------------------

namespace {
class TRecordingSurface : public TDrawSurface {
public:
  void FillRect(const TRect& r, TColor32 c) override { fills.push_back({r, c}); }
  void BlendRect(const TRect&, TColor32) override {}
  void DrawBitmap(std::int32_t, std::int32_t, TBitmap*) override {}
  std::vector<std::pair<TRect, TColor32>> fills;
};

class TWindowRoot : public TWinHandleRootControl {
public:
  plat::HWND WindowHandle() override { return window; }
  plat::HWND window = nullptr;
};
}  // namespace

TEST(WinControlStyles, SystemColourBrushes) {
  auto canvas = MakeRef<TRecordingSurface>();
  auto brush = MakeRef<TSysColorBrush>(15);
  EXPECT_EQ(brush->GetColor(), ColorRefToColor32(plat::GetSysColor(15), 255));
  brush->FillClipped(canvas.get(), {0, 0, 10, 10}, {20, 20, 30, 30});
  brush->FillClipped(canvas.get(), {0, 0, 10, 10}, {10, 0, 20, 10});  // touching edges only
  EXPECT_TRUE(canvas->fills.empty());
  brush->FillClipped(canvas.get(), {0, 0, 10, 10}, {5, -5, 20, 5});
  ASSERT_EQ(canvas->fills.size(), 1u);
  EXPECT_EQ(canvas->fills[0].first, (TRect{5, 0, 10, 5}));
  brush->Fill(nullptr, {0, 0, 1, 1});  // no canvas: nothing
  EXPECT_EQ(BrushColor(nullptr), kDefaultBrushColor);
  ColorAdjustment.Enabled = true;
  ColorAdjustment.Offset[0] = 255;
  EXPECT_EQ(plat::GetRValue(SysColor(8)), 255);  // black text made red
  ColorAdjustment = TColorAdjustment{};
}

TEST(WinControlStyles, RefreshReadsTheSystem) {
  auto* s = dynamic_cast<TWinControlStyles*>(DefaultControlStyles());
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(dynamic_cast<TSysColorBrush*>(s->Background.get())->Index, 15);
  EXPECT_EQ(s->FaceColor, SysColor32(15));
  EXPECT_EQ(s->MixedColor, BlendColor32(s->FaceColor, s->WindowColor, 176));
  EXPECT_TRUE(s->DefaultFont.HasBackground);
  EXPECT_EQ(s->SelectionFont.Font.BackColor, ColorRefToColor24(plat::GetSysColor(13)));
  // The control font is the system's message font, in points at the screen's density.
  plat::NONCLIENTMETRICSW m;
  ASSERT_TRUE(plat::SystemParametersInfoW(plat::SPI_GETNONCLIENTMETRICS, sizeof m, &m, 0));
  EXPECT_EQ(s->Font.Font.Name, std::u16string(m.lfMessageFont.lfFaceName));
  EXPECT_FLOAT_EQ(s->Font.Font.Size, float(-m.lfMessageFont.lfHeight * 72.0 / ScreenPixelsPerInchY()));
  EXPECT_EQ(s->DefaultFont.Font.Size, s->Font.Font.Size);
  EXPECT_EQ(VScrollWidth, plat::GetSystemMetrics(plat::SM_CXVSCROLL));
  ASSERT_TRUE(s->FocusPattern);
  TBitmap* b = s->FocusPattern->GetBitmap();
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->Width(), 32);
  std::uint32_t px[2];
  b->GetPixels32(px, 0, 0, 0, 2);
  EXPECT_EQ(TColor32::FromValue(px[0]).A, 0);    // (0, 0): x + y even
  EXPECT_EQ(TColor32::FromValue(px[1]).A, 255);  // (1, 0)
  EXPECT_DOUBLE_EQ(s->ScaleX, 1.0);
}

TEST(WinControlStyles, KeyboardSettings) {
  EXPECT_EQ(KeyRepeatDelayFor(0), 250);
  EXPECT_EQ(KeyRepeatDelayFor(3), 1000);
  EXPECT_EQ(KeyRepeatIntervalFor(31), 32);
  EXPECT_EQ(KeyRepeatIntervalFor(0), 404);
  CaretBlinkTime = 1;
  ReadKeyboardSettings();
  EXPECT_EQ(CaretBlinkTime, std::int32_t(plat::GetCaretBlinkTime()));
  int d = 0, sp = 0;
  plat::SystemParametersInfoA(plat::SPI_GETKEYBOARDDELAY, 0, &d, 0);
  plat::SystemParametersInfoA(plat::SPI_GETKEYBOARDSPEED, 0, &sp, 0);
  EXPECT_EQ(KeyRepeatDelay, KeyRepeatDelayFor(d));
  EXPECT_EQ(KeyRepeatInterval, KeyRepeatIntervalFor(sp));
}

TEST(FocusHelpers, PlainAndWindowRootsGetTheirHelper) {
  auto* plain = NewControl<TRootControl>();
  auto* child = NewControl<TFrameControl>(static_cast<TFrameControl*>(plain));
  TFocusHelper* h = GetFocusHelper(child);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(dynamic_cast<TWinFocusHelper*>(h), nullptr);
  EXPECT_EQ(GetFocusHelper(plain), h);
  EXPECT_TRUE(h->ShowFocus());
  EXPECT_EQ(GetFocusHelper(nullptr), nullptr);
  plain->Free();

  auto* win = NewControl<TWindowRoot>();
  auto* wh = dynamic_cast<TWinFocusHelper*>(GetFocusHelper(win));
  ASSERT_NE(wh, nullptr);
  EXPECT_EQ(win->FocusHelper, wh);
  EXPECT_TRUE(wh->ShowFocus());  // no window: cues always show
  win->window = reinterpret_cast<plat::HWND>(std::intptr_t(-1));
  EXPECT_TRUE(wh->ShowFocus());
  // The window's UI-state callback reaches the helper's listeners.
  struct TCount : events::TEventHandler {
    void HandleEvent(TRefObject*, std::int32_t, std::intptr_t) override { ++n; }
    int n = 0;
  };
  auto count = MakeRef<TCount>();
  wh->Subscribe(TFocusHelper::kFocusChangedEvent, 0, count.get());
  win->FocusCuesChanged();
  EXPECT_EQ(count->n, 1);
  FreeControl(win);  // the helper goes with the root
  ProcessDeferredFrees();
  EXPECT_EQ(count->SubscriptionCount(), 0);
}

TEST(FocusHelpers, HiddenFocusCuesOfAWindow) {
  plat::headless::ResetForTests();
  ASSERT_TRUE(plat::InitWindowSystem());
  plat::WNDCLASSW wc;
  wc.lpfnWndProc = &plat::DefWindowProcW;
  wc.lpszClassName = u"FocusCueTest";
  ASSERT_NE(plat::RegisterClassW(&wc), 0);
  plat::HWND w = plat::CreateWindowExW(0, u"FocusCueTest", u"", plat::WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                                       nullptr, nullptr, nullptr);
  ASSERT_NE(w, nullptr);
  auto* root = NewControl<TWindowRoot>();
  root->window = w;
  auto* h = dynamic_cast<TWinFocusHelper*>(GetFocusHelper(root));
  ASSERT_NE(h, nullptr);
  plat::SendMessageW(w, plat::WM_CHANGEUISTATE, plat::MAKEWPARAM(plat::UIS_SET, plat::UISF_HIDEFOCUS), 0);
  EXPECT_FALSE(h->ShowFocus());
  plat::SendMessageW(w, plat::WM_CHANGEUISTATE, plat::MAKEWPARAM(plat::UIS_CLEAR, plat::UISF_HIDEFOCUS), 0);
  EXPECT_TRUE(h->ShowFocus());
  root->Free();
  plat::DestroyWindow(w);
  plat::ShutdownWindowSystem();
  plat::headless::ResetForTests();
}
