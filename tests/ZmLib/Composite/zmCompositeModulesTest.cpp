#include <gtest/gtest.h>

#include <cstring>

#include "ZmLib/Composite/winClipboard.h"
#include "ZmLib/Composite/winFrameEditTheme.h"
#include "ZmLib/Composite/winProgressBarTheme.h"
#include "ZmLib/Composite/winThemes2.h"
#include "ZmLib/Composite/zmCompositeModules.h"
#include "ZmLib/Composite/zmFrameCaption.h"
#include "ZmLib/Composite/zmMenuDesc.h"
#include "ZmLib/Composite/zmThemedBevel.h"
#include "ZmLib/Composite/zmThemedButtons.h"
#include "ZmLib/Composite/zmThemedCheckBoxes.h"
#include "ZmLib/Composite/zmThemedProgressBarStdTheme.h"
#include "ZmLib/Composite/zmThemedScrollBar.h"
#include "ZmLib/Composite/zmThemedTabControl.h"
#include "ZmLib/zmHookScope.h"

using namespace zm;

namespace {

const TModule* ModuleNamed(const char* name) {
  for (const TModule& m : CompositeModules())
    if (std::strcmp(m.Name, name) == 0) return &m;
  return nullptr;
}

// Refresh ticks by hand: no timer behind the animated controls.
struct TManualRoot : TRootControl {
  TRefreshNotifier* CreateRefreshNotifier() override { return MakeRef<TRefreshNotifier>(this).Detach(); }
};

struct Started : ::testing::Test {
  TRootControl* root = NewControl<TManualRoot>();
  ~Started() override {
    root->Free();
    ProcessDeferredFrees();
  }
};

// After the start-up table ran (the test binary runs it), each hook gives
// the class the table says.
TEST_F(Started, HooksGiveTheTableClasses) {
  TControlStyles* styles = DefaultControlStyles();
  EXPECT_NE(styles->FindTheme<TWinXPTabsTheme>(), nullptr);
  EXPECT_NE(styles->FindTheme<TWinFrameEditTheme>(), nullptr);
  EXPECT_NE(dynamic_cast<TThemedTabControl*>(AllocFrameTabControl(root, nullptr)), nullptr);
  EXPECT_NE(dynamic_cast<TThemedBevel*>(AllocFrameBevel(root)), nullptr);
  EXPECT_NE(styles->FindTheme<TWinXPFrameScrollBarTheme>(), nullptr);
  EXPECT_NE(dynamic_cast<TThemedFrameScrollBar*>(AllocFrameScrollBar(root, nullptr, 1)), nullptr);
  EXPECT_NE(dynamic_cast<TThemedFrameButton*>(AllocFrameButton(root, nullptr)), nullptr);
  EXPECT_NE(dynamic_cast<TThemedSpeedButton*>(_AllocFrameSpeedButton(root, nullptr)), nullptr);
  EXPECT_NE(dynamic_cast<TThemedFrameCheckBox*>(_AllocFrameCheckBox(root, nullptr)), nullptr);
  EXPECT_NE(dynamic_cast<TThemedFrameRadioButton*>(_AllocFrameRadioButton(root, nullptr)), nullptr);
  auto hooks = MakeRef<TControlStyles>();
  EXPECT_NE(dynamic_cast<TWinXPButtonTheme*>(ButtonThemeHook(hooks.get())), nullptr);
  EXPECT_NE(dynamic_cast<TWinXPSpeedButtonTheme*>(SpeedButtonThemeHook(hooks.get())), nullptr);
  EXPECT_NE(dynamic_cast<TWinCheckBoxTheme*>(CheckBoxThemeHook(hooks.get())), nullptr);
  EXPECT_NE(dynamic_cast<TWinRadioButtonTheme*>(RadioButtonThemeHook(hooks.get())), nullptr);
  TRef<TBevelTheme> bevelTheme(BevelThemeHook(styles));
  EXPECT_NE(dynamic_cast<TWinBevelTheme*>(bevelTheme.get()), nullptr);
  // (A bar made here would animate on the global timer.)
  EXPECT_EQ(_AllocFrameProgressBar, &AllocThemedFrameProgressBar);
  EXPECT_NE(dynamic_cast<TFrameCaption*>(AllocFrameCaption(root)), nullptr);
  EXPECT_EQ(StripHotkeyProc(u"&File"), u"File");
  ASSERT_NE(EditContextMenu, nullptr);
  EXPECT_EQ(EditContextMenu->Count(), 9);
  EXPECT_NE(dynamic_cast<TClipboard*>(Clipbrd), nullptr);
  EXPECT_EQ(static_cast<TClipbrd*>(Clipboard), Clipbrd);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(IdentityByteTable[i], i);
  // No visual-styles library here: the standard progress-bar theme.
  auto scratch = MakeRef<TControlStyles>();
  TProgressBarTheme* pt = AllocProgressBarTheme(scratch.get());
  EXPECT_NE(dynamic_cast<TProgressBarStdTheme*>(pt), nullptr);
  EXPECT_EQ(dynamic_cast<TWinProgressBarTheme*>(pt), nullptr);
}

const TUxThemeApi kFakeApi{};
std::int32_t gReleases = 0;
const TUxThemeApi* FakeLoad() { return &kFakeApi; }
void FakeRelease() { ++gReleases; }

TEST_F(Started, ProgressThemeFollowsTheLibraryAndDefaultsAssert) {
  const TModule* win = ModuleNamed("winProgressBarTheme");
  ASSERT_NE(win, nullptr);
  zm::THookScope loader(LoadThemeLibraryHook, {&FakeLoad, &FakeRelease});
  gReleases = 0;
  win->Fini();
  win->Init();
  EXPECT_EQ(gReleases, 1);  // only asked, not kept
  auto scratch = MakeRef<TControlStyles>();
  EXPECT_NE(dynamic_cast<TWinProgressBarTheme*>(AllocProgressBarTheme(scratch.get())), nullptr);
  win->Fini();
  EXPECT_EQ(dynamic_cast<TWinProgressBarTheme*>(AllocProgressBarTheme(scratch.get())), nullptr);
  loader.Restore();
  win->Init();

  // Before the progress-bar units run, the allocator is the asserting default.
  FiniThemedProgressBarTheme();
  try {
    AllocProgressBarTheme(scratch.get());
    ADD_FAILURE() << "no assertion";
  } catch (const std::exception& e) {
    EXPECT_NE(std::string(e.what()).find("AllocProgressBarTheme undefined"), std::string::npos) << e.what();
  }
  InitThemedProgressBarTheme();
  InitThemedProgressBarStdTheme();
  EXPECT_NE(dynamic_cast<TProgressBarStdTheme*>(AllocProgressBarTheme(scratch.get())), nullptr);
}

TEST_F(Started, StyleThemesLeaveAndReturnWithTheirModule) {
  const TModule* m = ModuleNamed("zmStyleThemes");
  ASSERT_NE(m, nullptr);
  TControlStyles* styles = DefaultControlStyles();
  const std::size_t before = styles->Themes().size();
  m->Fini();
  EXPECT_EQ(styles->FindTheme<TWinXPTabsTheme>(), nullptr);
  EXPECT_EQ(AllocFrameTabControl(root, nullptr), nullptr);  // no theme, nothing chained
  m->Init();
  m->Init();  // once only
  EXPECT_EQ(styles->Themes().size(), before);
  EXPECT_NE(styles->FindTheme<TWinXPTabsTheme>(), nullptr);
}

}  // namespace
