#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ZmLib/Composite/zmFrameCaption.h"
#include "ZmLib/Composite/zmThemedControlUtils.h"
#include "ZmLib/Composite/zmThemedTabControl.h"
#include "ZmLib/Win32/winInput.h"
#include "ZmLib/zmHookScope.h"
#include "tests/ZmLib/Composite/ThemedTestSupport.h"
#include "tests/support/FixedText.h"

using namespace zm;

namespace {

using themedtest::gNow;
using themedtest::ManualClock;
using themedtest::TManualRoot;
// Every character 6 pixels wide, 10 high: tabs are 14 high, the strip 16.
constexpr auto* FixedText = &zmtest::FixedText<>;

struct TabEnv : ::testing::Test {
  TRootControl* root = NewControl<TManualRoot>();
  TRef<TControlStyles> styles = MakeRef<TControlStyles>();
  zm::THookScope<TCreateTextElementProc> captionText{CreateCaptionTextHook};
  zm::THookScope<TControlClockProc> clock{ControlClockHook};
  TWin9xTabsTheme* theme = nullptr;
  TThemedTabControl* tabs = nullptr;
  TabEnv() {
    root->SetSize(400, 300);
    captionText.Set(FixedText);
    clock.Set(&ManualClock);
    gNow = 1000;
    theme = MakeRef<TWin9xTabsTheme>(styles.get()).get();  // the styles hold it
    tabs = NewControl<TThemedTabControl>(root, styles.get(), theme);
    tabs->SetSize(200, 150);
  }
  ~TabEnv() override {
    root->Free();
    ProcessDeferredFrees();
  }
  // Pages whose tabs prefer Width pixels.
  void AddPages(int n, std::int32_t width) {
    for (int i = 0; i < n; ++i) {
      TThemedPage* p = tabs->AddPage(u"P" + std::u16string(1, char16_t(u'0' + i)));
      p->TabButton()->SetPreferredWidth(width);
    }
    tabs->Realign();
  }
  TThemedTabButton* Tab(int i) { return tabs->Page(i)->TabButton(); }
  void Key(std::uint16_t key, std::uint8_t shift) {
    auto k = MakeRef<TKeyboardData>();
    k->Kind = kkKeyDown;
    k->Key = key;
    k->Shift = shift;
    tabs->KeyNotify(k.get());
  }
  void Mouse(std::int32_t kind, std::int32_t x, std::int32_t y) {
    TMouseData m;
    m.Kind = kind;
    m.Buttons = kind == mkUp ? 0 : mbLeft;
    m.X = x;
    m.Y = y;
    root->MouseInput(m);
  }
};

TEST_F(TabEnv, RowFitsWithoutArrowsAndScrollsWhenTooWide) {
  AddPages(3, 60);
  EXPECT_EQ(tabs->Arrow(0)->Visibility(), vsHidden);
  EXPECT_EQ(tabs->ScrollOffset(), 0);
  // The row sits at the strip's bottom (16 - 14).
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Tab(i)->Position().X, 60 * i);
    EXPECT_EQ(Tab(i)->Position().Y, 2);
    EXPECT_EQ(Tab(i)->CutFlags(), 0u);
  }
  EXPECT_EQ(Tab(0)->NeighbourMode(), nbLeftEdge);
  EXPECT_EQ(Tab(1)->NeighbourMode(), nbMiddle);
  EXPECT_EQ(Tab(2)->NeighbourMode(), nbRightEnd);

  for (int i = 3; i < 5; ++i) tabs->AddPage(u"More")->TabButton()->SetPreferredWidth(60);
  tabs->Realign();
  // The strip gives 2 x 14 to the arrows: 172 pixels.
  EXPECT_NE(tabs->Arrow(0)->Visibility(), vsHidden);
  EXPECT_EQ(tabs->Arrow(0)->Position().X, 200 - 14);
  EXPECT_EQ(tabs->Arrow(1)->Position().X, 200 - 28);
  EXPECT_EQ(Tab(2)->CutFlags(), tcCutRight);
  EXPECT_TRUE(tabs->Page(3)->TabHidden());
  EXPECT_TRUE(tabs->Page(4)->TabHidden());

  // Activating the last page brings its right end to the strip's right edge.
  tabs->SetActivePage(tabs->Page(4));
  EXPECT_EQ(tabs->ScrollOffset(), 300 - 172);
  EXPECT_EQ(Tab(4)->Position().X + Tab(4)->Width(), 172);
  EXPECT_TRUE(tabs->Page(0)->TabHidden());
  EXPECT_EQ(Tab(2)->CutFlags(), tcCutLeft);
  EXPECT_TRUE(tabs->Page(4)->IsActive());

  // And the first page scrolls back to 0.
  tabs->SetActivePage(tabs->Page(0));
  EXPECT_EQ(tabs->ScrollOffset(), 0);
  EXPECT_FALSE(tabs->Page(0)->TabHidden());
  EXPECT_FALSE(tabs->Page(4)->IsActive());

  // A middle page is scrolled 12 pixels past its end, keeping part of the next tab in view.
  tabs->SetActivePage(tabs->Page(3));
  EXPECT_EQ(tabs->ScrollOffset(), 240 - 172 + 12);
}

TEST_F(TabEnv, SharedModeSqueezesOnlyWhenTooWide) {
  tabs->SetSize(100, 150);
  AddPages(3, 60);
  tabs->SetLayoutMode(1);
  EXPECT_EQ(Tab(0)->Width(), 33);
  EXPECT_EQ(Tab(1)->Width(), 34);
  EXPECT_EQ(Tab(2)->Width(), 33);
  EXPECT_EQ(Tab(2)->Position().X, 67);
  EXPECT_EQ(tabs->Arrow(0)->Visibility(), vsHidden);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Tab(i)->CutFlags(), 0u);

  tabs->SetSize(200, 150);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Tab(i)->Width(), 60);
    EXPECT_EQ(Tab(i)->Position().X, 60 * i);
  }
  // Without visible tabs there is nothing to divide.
  for (int i = 0; i < 3; ++i) tabs->Page(i)->SetTabVisible(false);
  tabs->SetSize(10, 150);
  EXPECT_EQ(Tab(0)->Visibility(), vsHidden);
}

TEST_F(TabEnv, FixedWidthAndCentredRow) {
  AddPages(2, 60);
  tabs->SetFixedTabWidth(40);
  EXPECT_EQ(Tab(1)->Position().X, 40);
  EXPECT_EQ(Tab(1)->Width(), 40);
  tabs->SetAlignment(1);
  EXPECT_EQ(Tab(0)->Position().X, (200 - 80) / 2);
  // Too wide for the strip: centring gives way to the left-aligned, scrolled row.
  tabs->SetFixedTabWidth(90);
  tabs->SetFixedTabWidth(0);
  for (int i = 0; i < 2; ++i) tabs->AddPage(u"x")->TabButton()->SetPreferredWidth(60);
  tabs->Realign();
  EXPECT_EQ(Tab(0)->Position().X, 0);
  EXPECT_NE(tabs->Arrow(0)->Visibility(), vsHidden);
}

TEST_F(TabEnv, CtrlTabWrapsAndSkipsHiddenTabs) {
  AddPages(4, 40);
  // Without an active page the first one is taken.
  Key(9, ssCtrl);
  EXPECT_EQ(tabs->ActivePage(), tabs->Page(0));
  tabs->SetActivePage(tabs->Page(3));
  Key(9, ssCtrl);
  EXPECT_EQ(tabs->ActivePage(), tabs->Page(0));
  tabs->Page(3)->SetTabVisible(false);
  Key(9, ssCtrl | ssShift);
  EXPECT_EQ(tabs->ActivePage(), tabs->Page(2));
  // Tab alone, key-up, or a key the focused control handled: nothing.
  Key(9, 0);
  EXPECT_EQ(tabs->ActivePage(), tabs->Page(2));
  auto k = MakeRef<TKeyboardData>();
  k->Kind = kkKeyDown;
  k->Key = 9;
  k->Shift = ssCtrl;
  k->Handled = true;
  tabs->KeyNotify(k.get());
  EXPECT_EQ(tabs->ActivePage(), tabs->Page(2));
  // A single selectable page stays.
  tabs->Page(0)->SetTabVisible(false);
  tabs->Page(1)->SetTabVisible(false);
  Key(9, ssCtrl);
  EXPECT_EQ(tabs->ActivePage(), tabs->Page(2));
}

TEST_F(TabEnv, MouseActivatesOnPressAndArrowsScrollAndRepeat) {
  AddPages(5, 60);
  std::vector<std::pair<TThemedPage*, TThemedPage*>> changes;
  tabs->OnChange = [&](TThemedTabControl*, TThemedPage* o, TThemedPage* n) { changes.push_back({o, n}); };
  Mouse(mkDown, 70, 8);  // on the second tab
  EXPECT_EQ(tabs->ActivePage(), tabs->Page(1));
  EXPECT_TRUE(Tab(1)->Pressed());
  Mouse(mkUp, 70, 8);
  EXPECT_FALSE(Tab(1)->Pressed());
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].second, tabs->Page(1));
  // The active page fills the page area.
  const TRect pa = tabs->PageArea();
  EXPECT_EQ(tabs->Page(1)->Width(), pa.Right - pa.Left);
  EXPECT_NE(tabs->Page(1)->Visibility(), vsHidden);
  EXPECT_EQ(tabs->Page(0)->Visibility(), vsHidden);

  // The right arrow reveals the cut tab, then the next hidden one.
  const TPoint a = tabs->Arrow(0)->Position();
  Mouse(mkDown, a.X + 3, a.Y + 3);
  Mouse(mkUp, a.X + 3, a.Y + 3);
  EXPECT_EQ(tabs->ScrollOffset(), 180 - 172 + 12);
  const std::int32_t after = tabs->ScrollOffset();
  // Held down, it repeats once the theme's interval has passed.
  Mouse(mkDown, a.X + 3, a.Y + 3);
  tabs->Arrow(0)->NotifyRefresh();
  EXPECT_EQ(tabs->ScrollOffset(), after);
  gNow += 120;
  tabs->Arrow(0)->NotifyRefresh();
  EXPECT_GT(tabs->ScrollOffset(), after);
  Mouse(mkUp, a.X + 100, a.Y + 100);  // released outside: no click
  const std::int32_t held = tabs->ScrollOffset();
  gNow += 500;
  tabs->Arrow(0)->NotifyRefresh();
  EXPECT_EQ(tabs->ScrollOffset(), held);
  // The left arrow goes back.
  const TPoint b = tabs->Arrow(1)->Position();
  Mouse(mkDown, b.X + 3, b.Y + 3);
  Mouse(mkUp, b.X + 3, b.Y + 3);
  EXPECT_LT(tabs->ScrollOffset(), held);
  // A hidden tab takes no mouse input.
  tabs->SetActivePage(tabs->Page(4));
  TMouseData m;
  EXPECT_FALSE(Tab(0)->AcceptsMouse(m));
}

TEST_F(TabEnv, ClassicTabBitmapsAndMetrics) {
  EXPECT_EQ(theme->GetStateKey(1, tsHot | tsPressed), "bsh");
  EXPECT_EQ(theme->GetStateKey(0, 0), "");
  TTabBitmap plain = theme->DrawTab("", nbMiddle, 60, 14, 0);
  EXPECT_EQ(plain.Bitmap->Width(), 60);
  EXPECT_EQ(plain.Bitmap->Height(), 14);
  TTabBitmap sel = theme->DrawTab("s", nbMiddle, 60, 14, 0);
  EXPECT_EQ(sel.Bitmap->Width(), 64);
  EXPECT_EQ(sel.Bitmap->Height(), 18);
  EXPECT_EQ(sel.Offset.X, -2);
  EXPECT_EQ(sel.Offset.Y, -2);
  TTabBitmap edge = theme->DrawTab("s", nbLeftEdge, 60, 14, 0);
  EXPECT_EQ(edge.Bitmap->Width(), 62);
  EXPECT_EQ(edge.Offset.X, 0);
  // The left edge is light, the right shadowed; a cut side has no edge.
  styles->LightColor = {1, 2, 3, 255};
  styles->DarkShadowColor = {9, 9, 9, 255};
  styles->FaceColor = {5, 5, 5, 255};
  auto px = [](const TTabBitmap& b, int x, int y) { return ArgbPixel(b.Bitmap.get(), x, y) & 0xFFFFFF; };
  TTabBitmap t = theme->DrawTab("", nbMiddle, 20, 10, 0);
  EXPECT_EQ(px(t, 0, 5), 0x030201u);
  EXPECT_EQ(px(t, 19, 5), 0x090909u);
  EXPECT_EQ(ArgbPixel(t.Bitmap.get(), 0, 0) >> 24, 0u);  // the rounded corner stays clear
  TTabBitmap cut = theme->DrawTab("", nbMiddle, 20, 10, tcCutLeft | tcCutRight);
  EXPECT_EQ(px(cut, 0, 5), 0x050505u);
  EXPECT_EQ(px(cut, 19, 5), 0x050505u);
  // Degenerate sizes still give a bitmap.
  EXPECT_TRUE(theme->DrawTab("s", nbAlone, 0, -5, 0).Bitmap);
  EXPECT_TRUE(theme->DrawArrow("s", 1, 0, 0).Bitmap);
  EXPECT_TRUE(theme->DrawPage(-1, 3).Bitmap);
  // The page leaves 22 pixels for the strip (16 here), more when a tall
  // font makes the strip higher, on the side the tabs are on.
  EXPECT_EQ(theme->GetPageRect(200, 150, 0), (TRect{6, 26, 194, 144}));
  EXPECT_EQ(theme->GetPageRect(200, 150, 1), (TRect{6, 4, 194, 122}));
  captionText.Set(&zmtest::FixedText<24, 6>);  // tabs 34 high, the strip 36
  EXPECT_EQ(theme->GetPageRect(200, 150, 0), (TRect{6, 40, 194, 144}));
  EXPECT_EQ(theme->GetPageRect(200, 150, 1), (TRect{6, 4, 194, 108}));
  // Without a text measure the tab is 22 high; the strip (24) leaves the
  // page its place.
  captionText.Set(nullptr);
  EXPECT_EQ(theme->GetTabHeight(), 22);
  EXPECT_EQ(theme->GetPageRect(200, 150, 0).Top, 26);
}

// The page stays at 22 pixels from the strip's side while its frame, 2
// pixels around it, stays out of the strip: strips up to 24 high above the
// page, up to 26 below it (the bottom margin is 2 wider).
TEST_F(TabEnv, ClassicPageKeepsItsPlaceWhileTheStripLeavesRoom) {
  const struct {
    TCreateTextElementProc Text;
    std::int32_t Strip, Top, Bottom;
  } cases[] = {{&zmtest::FixedText<12, 4>, 22, 26, 122}, {&zmtest::FixedText<13, 4>, 23, 26, 122},
               {&zmtest::FixedText<14, 4>, 24, 26, 122}, {&zmtest::FixedText<15, 4>, 25, 29, 122},
               {&zmtest::FixedText<16, 4>, 26, 30, 122}, {&zmtest::FixedText<17, 4>, 27, 31, 117}};
  for (const auto& c : cases) {
    captionText.Set(c.Text);
    const TRect top = theme->GetStripRect(200, 150, 0, false), bottom = theme->GetStripRect(200, 150, 1, false);
    ASSERT_EQ(top.Bottom, c.Strip);
    EXPECT_EQ(theme->GetPageRect(200, 150, 0), (TRect{6, c.Top, 194, 144})) << c.Strip;
    EXPECT_EQ(theme->GetPageRect(200, 150, 1), (TRect{6, 4, 194, c.Bottom})) << c.Strip;
    // Never under the strip: the frame ends where it begins at the latest.
    EXPECT_GE(theme->GetPageRect(200, 150, 0).Top - 2, top.Bottom);
    EXPECT_LE(theme->GetPageRect(200, 150, 1).Bottom + 2, bottom.Top);
  }
}

TEST_F(TabEnv, VisualStyleThemeFallsBackToClassic) {
  auto xp = MakeRef<TWinXPTabsTheme>(styles.get());
  ASSERT_FALSE(ThemesActive());
  EXPECT_EQ(xp->GetTabHeight(), theme->GetTabHeight());
  EXPECT_EQ(xp->GetTabOffset().X, 0);
  EXPECT_EQ(xp->GetSingleKind(0), 3);
  EXPECT_EQ(xp->GetTextRect(50, 14).Left, 7);
  const TRect a = xp->GetStripRect(200, 150, 0, true), b = theme->GetStripRect(200, 150, 0, true);
  EXPECT_EQ(a.Right, b.Right);
  EXPECT_EQ(xp->GetArrowRect(1, 200, 150, 1).Top, theme->GetArrowRect(1, 200, 150, 1).Top);
  EXPECT_FALSE(xp->TouchesEdge({2, 0, 10, 5}, {0, 0, 100, 5}, false));
  EXPECT_TRUE(xp->TouchesEdge({2, 0, 100, 5}, {0, 0, 100, 5}, true));
  EXPECT_EQ(xp->DrawTab("s", nbMiddle, 60, 14, 0).Bitmap->Width(), 64);
}

TEST_F(TabEnv, AutoSizeBottomTabsAndCreation) {
  AddPages(2, 40);
  TFrameControl* child = NewControl<TFrameControl>(tabs->Page(1));
  child->SetPosition(10, 5);
  child->SetSize(90, 75);
  tabs->SetAutoSizeFlags(asWidth | asHeight);
  // Margins: 12 across, 6 + 4 + 22 for the strip (16 high) down.
  EXPECT_EQ(tabs->Width(), 100 + 12);
  EXPECT_EQ(tabs->Height(), 80 + 32);
  child->SetSize(1, 1);
  tabs->AutoSize();
  EXPECT_EQ(tabs->Width(), 50);
  EXPECT_EQ(tabs->Height(), 50);

  tabs->SetAutoSizeFlags(0);
  tabs->SetSize(200, 150);
  tabs->SetTabPosition(1);
  EXPECT_EQ(Tab(0)->Position().Y, 150 - 16);
  EXPECT_EQ(tabs->PageArea().Top, 4);

  // Without a registered theme the previous factory answers (none here).
  auto bare = MakeRef<TControlStyles>();
  const TAllocFrameTabControlProc saved = AllocFrameTabControl;
  InitThemedTabControl();
  EXPECT_EQ(AllocFrameTabControl(root, bare.get()), nullptr);
  TFrameTabControl* made = AllocFrameTabControl(root, styles.get());
  ASSERT_NE(made, nullptr);
  EXPECT_NE(dynamic_cast<TThemedTabControl*>(made), nullptr);
  FiniThemedTabControl();
  AllocFrameTabControl = saved;
  EXPECT_ANY_THROW(NewControl<TThemedTabControl>(root, styles.get(), nullptr));
  // Foreign pages are refused.
  tabs->SetActivePage(reinterpret_cast<TThemedPage*>(tabs->CommonPage()));
  EXPECT_EQ(tabs->ActivePage(), nullptr);
}

TEST_F(TabEnv, DegenerateSizesAndRemovedTabsStayConsistent) {
  AddPages(5, 60);
  for (auto [w, h] : {std::pair{0, 0}, std::pair{-10, 5}, std::pair{20, 3}}) {
    tabs->SetSize(w, h);
    for (int mode = 0; mode < 2; ++mode) {
      tabs->SetLayoutMode(std::uint8_t(mode));
      for (int i = 0; i < 5; ++i) {
        tabs->SetActivePage(tabs->Page(i));
        EXPECT_GE(tabs->ScrollOffset(), 0);
      }
      tabs->ArrowClicked(0);
      tabs->ArrowClicked(1);
      Key(9, ssCtrl);
    }
  }
  // Every tab taken out of the row: nothing is shown, nothing is selectable.
  tabs->SetSize(200, 150);
  tabs->SetLayoutMode(0);
  tabs->SetActivePage(nullptr);
  for (int i = 0; i < 5; ++i) tabs->Page(i)->SetTabVisible(false);
  EXPECT_EQ(tabs->NextPage(false), nullptr);
  EXPECT_EQ(tabs->Arrow(0)->Visibility(), vsHidden);
  tabs->ArrowClicked(0);
  tabs->ScrollIntoView(tabs->Page(2));
  EXPECT_EQ(tabs->ScrollOffset(), 0);
  EXPECT_EQ(tabs->Page(-1), nullptr);
  EXPECT_EQ(tabs->Page(5), nullptr);
}

}  // namespace
