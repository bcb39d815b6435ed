#include "ZmLib/Composite/zmCompositeModules.h"

#include <vector>

#include "ZmLib/Composite/winClipboard.h"
#include "ZmLib/Composite/winControlStyles.h"
#include "ZmLib/Composite/winFrameEditTheme.h"
#include "ZmLib/Composite/winFrameForms.h"
#include "ZmLib/Composite/winFrames.h"
#include "ZmLib/Composite/winMouseCursor.h"
#include "ZmLib/Composite/winProgressBarTheme.h"
#include "ZmLib/Composite/winThemes2.h"
#include "ZmLib/Composite/zmControlThemes.h"
#include "ZmLib/Composite/zmFrameBevel.h"
#include "ZmLib/Composite/zmFrameCaption.h"
#include "ZmLib/Composite/zmFrameControls.h"
#include "ZmLib/Composite/zmFrameImage.h"
#include "ZmLib/Composite/zmFramePanel.h"
#include "ZmLib/Composite/zmMenuDesc.h"
#include "ZmLib/Composite/zmStdFrameControls.h"
#include "ZmLib/Composite/zmThemedBevel.h"
#include "ZmLib/Composite/zmThemedButtons.h"
#include "ZmLib/Composite/zmThemedCheckBoxes.h"
#include "ZmLib/Composite/zmThemedControlUtils.h"
#include "ZmLib/Composite/zmThemedProgressBarStdTheme.h"
#include "ZmLib/Composite/zmThemedProgressBarTheme.h"
#include "ZmLib/Composite/zmThemedScrollBar.h"
#include "ZmLib/Composite/zmThemedTabControl.h"
#include "ZmLib/Composite/zmThemedTabsTheme.h"
#include "ZmLib/Win32/Fonts/winTextElement.h"
#include "ZmLib/zmHookScope.h"

namespace zm {

std::uint8_t IdentityByteTable[256] = {};

namespace {
TRef<TTextElement> WinCaptionText(const TFontParams& font, const std::u16string& text) {
  auto e = MakeRef<TWinTextElement>(font, 0);
  e->SetText(text);
  return e;
}

void InitCaptionText() {
  InitFrameCaption();
  CreateCaptionTextHook = &WinCaptionText;
  DrawTextElementHook = &DrawWinTextElement;
}
void FiniCaptionText() {
  CreateCaptionTextHook = nullptr;
  DrawTextElementHook = nullptr;
  FiniFrameCaption();
}

// The visual-style progress-bar theme replaces the standard one only when
// the visual-styles library loads.
THookInstall<TAllocProgressBarThemeProc> gWinProgressTheme;
void InitWinProgressBarTheme() {
  const TThemeLibraryLoader loader = LoadThemeLibraryHook;
  if (!loader.Load || !loader.Load()) return;
  if (loader.Release) loader.Release();
  gWinProgressTheme.Install(AllocProgressBarTheme, &MakeWinProgressBarTheme);
}
void FiniWinProgressBarTheme() { gWinProgressTheme.Restore(); }

// The themes registered in the global control styles at start-up; the
// styles are held so the themes can be taken out again.
TRef<TControlStyles> gThemedStyles;
std::vector<TRefObject*> gStyleThemes;
void InitStyleThemes() {
  if (gThemedStyles) return;
  gThemedStyles = TRef<TControlStyles>(DefaultControlStyles());
  TControlStyles* s = gThemedStyles.get();
  gStyleThemes.push_back(MakeRef<TWinXPTabsTheme>(s).get());
  gStyleThemes.push_back(MakeWinXPFrameScrollBarTheme(s));
  gStyleThemes.push_back(MakeRef<TWinFrameEditTheme>(s, true).get());
}
void FiniStyleThemes() {
  for (TRefObject* t : gStyleThemes) gThemedStyles->RemoveTheme(t);
  gStyleThemes.clear();
  gThemedStyles.reset();
}

void InitIdentityBytes() {
  for (std::size_t i = 0; i < 256; ++i) IdentityByteTable[i] = std::uint8_t(i);
}
void FiniIdentityBytes() {}

// The cursor hooks, the plain focus-helper factory and the theme services
// before the window styles that chain over them; the standard controls' hooks
// before the themed units that replace their asserting defaults.
const TModule kCompositeModules[] = {
    {"zmFrameControls", &InitFrameControls, &FiniFrameControls},
    {"winMouseCursor", &InitMouseCursor, &FiniMouseCursor},
    {"zmControlThemes", &InitControlThemes, &FiniControlThemes},
    {"winThemes2", &InitWinThemes2, &FiniWinThemes2},
    {"winControlStyles", &InitWinControlStyles, &FiniWinControlStyles},
    {"winFrames", &InitWinFrames, &FiniWinFrames},
    {"winFrameForms", &InitWinFrameForms, &FiniWinFrameForms},
    {"zmStdFrameControls", &InitStdFrameControls, &FiniStdFrameControls},
    {"zmThemedControlUtils", &InitThemedControlUtils, &FiniThemedControlUtils},
    {"zmFrameCaption", &InitCaptionText, &FiniCaptionText},
    {"zmFramePanel", &InitFramePanel, &FiniFramePanel},
    {"zmFrameImage", &InitFrameImage, &FiniFrameImage},
    {"zmFrameBevel", &InitFrameBevel, &FiniFrameBevel},
    {"zmThemedBevel", &InitThemedBevel, &FiniThemedBevel},
    {"zmThemedProgressBarTheme", &InitThemedProgressBarTheme, &FiniThemedProgressBarTheme},
    {"zmThemedProgressBarStdTheme", &InitThemedProgressBarStdTheme, &FiniThemedProgressBarStdTheme},
    {"winProgressBarTheme", &InitWinProgressBarTheme, &FiniWinProgressBarTheme},
    {"zmThemedTabControl", &InitThemedTabControl, &FiniThemedTabControl},
    {"zmThemedScrollBar", &InitThemedScrollBar, &FiniThemedScrollBar},
    {"zmThemedButtons", &InitThemedButtons, &FiniThemedButtons},
    {"zmThemedCheckBoxes", &InitThemedCheckBoxes, &FiniThemedCheckBoxes},
    {"zmMenuDesc", &InitEditContextMenu, &FiniEditContextMenu},
    {"zmIdentityBytes", &InitIdentityBytes, &FiniIdentityBytes},
    {"zmClipbrd", &InitClipbrd, &FiniClipbrd},
    {"winClipboard", &InitWinClipboard, &FiniWinClipboard},
    {"zmStyleThemes", &InitStyleThemes, &FiniStyleThemes},
};
}  // namespace

std::span<const TModule> CompositeModules() { return kCompositeModules; }

}  // namespace zm
