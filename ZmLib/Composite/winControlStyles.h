#pragma once
// The control styles filled from the system settings, a brush that always
// paints a current system colour, the focus helper of window-bound control
// trees, and the scroll-bar, caret and key-repeat settings controls read.
#include <cstdint>

#include "ZmLib/Composite/zmControlThemes.h"

namespace zm {

// GetSysColor(index), passed through the colour adjustment when it is on.
TColorRef SysColor(std::int32_t index);
// The same as an opaque 32-bit colour.
TColor32 SysColor32(std::int32_t index);

class TSysColorBrush : public TFrameBrush {
public:
  explicit TSysColorBrush(std::int32_t index) : Index(index) {}
  TColor32 GetColor() override;
  std::int32_t Index;
};
// The brush's colour; the framework's default colour for nil.
TColor32 BrushColor(TFrameBrush* brush);
constexpr TColor32 kDefaultBrushColor{0xF0, 0xF0, 0xF0, 0xFF};

class TWinControlStyles : public TControlStyles {
public:
  TWinControlStyles();
  void Refresh() override;
};

// Window metrics read by the refresh.
extern std::int32_t HScrollArrowWidth, HScrollHeight, VScrollWidth, VScrollArrowHeight;
extern std::int32_t VThumbHeight, HThumbWidth;
// Keyboard and caret settings (read at start-up; each kept when its query fails).
extern std::int32_t CaretBlinkTime, KeyRepeatDelay, KeyRepeatInterval;
std::int32_t KeyRepeatDelayFor(std::int32_t setting);     // 250 + d * 750 / 3
std::int32_t KeyRepeatIntervalFor(std::int32_t setting);  // (31 - s) * 12 + 32
void ReadKeyboardSettings();

// The focus helper of a window root: focus cues show unless the window's UI
// state hides them.
class TWinFocusHelper : public TFocusHelper {
public:
  // Registers itself as the root's focus helper and sets the root's
  // focus-changed callback (which fires event 1).
  explicit TWinFocusHelper(TWinHandleRootControl* root);
  void Dispose() override;
  bool ShowFocus() override;
  TWinHandleRootControl* WinRoot() const { return winRoot_; }

private:
  TWinHandleRootControl* winRoot_;
};

// The chained focus-helper factory: window roots get a TWinFocusHelper,
// other roots the previous hook's helper.
TFocusHelper* CreateWinFocusHelper(TFrameControl* control);

// Makes the TWinControlStyles and installs it as the global styles, chains
// the focus-helper factory and reads the keyboard settings.
void InitWinControlStyles();
void FiniWinControlStyles();

}  // namespace zm
