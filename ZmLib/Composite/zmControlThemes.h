#pragma once
// The base of every control theme, and the per-root focus helper that tells
// controls whether to draw focus cues.
#include <cstdint>

#include "ZmLib/Composite/zmFrameControls.h"

namespace zm {

// A theme belongs to a control-styles object and registers itself in its
// theme list on construction (the list holds a reference).
class TFrameControlTheme : public TRefObject {
public:
  // Styles nil takes the global control styles.
  explicit TFrameControlTheme(TControlStyles* styles = nullptr);
  TControlStyles* Styles() const { return styles_; }

private:
  TControlStyles* styles_;  // not referenced: the styles own the theme
};

// One per root control, kept in the root's list of attached objects.
class TFocusHelper : public TEvents {
public:
  static constexpr std::int32_t kFocusChangedEvent = 1;
  explicit TFocusHelper(TRootControl* root, std::int32_t bucketCount = 16)
      : TEvents(root, bucketCount), root_(root) {}
  // Whether focus cues are to be drawn.
  virtual bool ShowFocus() { return true; }
  TRootControl* Root() const { return root_; }

private:
  TRootControl* root_;
};

// The focus helper of a control's tree; nil for nil or a tree without a root.
using TCreateFocusHelperProc = TFocusHelper* (*)(TFrameControl* control);
extern TCreateFocusHelperProc CreateFocusHelperHook;
// The plain factory: the TFocusHelper attached to the root, else a new one attached.
TFocusHelper* CreatePlainFocusHelper(TFrameControl* control);
// Through the hook; nil when none is installed.
TFocusHelper* GetFocusHelper(TFrameControl* control);

void InitControlThemes();
void FiniControlThemes();

}  // namespace zm
