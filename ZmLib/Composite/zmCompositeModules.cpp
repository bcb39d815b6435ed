#include "ZmLib/Composite/zmCompositeModules.h"

#include "ZmLib/Composite/winControlStyles.h"
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
#include "ZmLib/Composite/zmStdFrameControls.h"
#include "ZmLib/Composite/zmThemedBevel.h"
#include "ZmLib/Composite/zmThemedControlUtils.h"
#include "ZmLib/Composite/zmThemedProgressBarStdTheme.h"
#include "ZmLib/Composite/zmThemedProgressBarTheme.h"
#include "ZmLib/Win32/winTextElement.h"

namespace zm {

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
};
}  // namespace

std::span<const TModule> CompositeModules() { return kCompositeModules; }

}  // namespace zm
