#pragma once
// The abstract standard controls (button, scroll bar, check box, radio
// button, speed button, progress bar, tab page) that the themed controls
// derive from, the hooks that make them, the per-root handler that gives
// dialogs their default and cancel buttons, and the hot-key mark remover.
// Each control draws nothing itself: the themed classes paint and override
// the Changed operations; the base repaints the whole control.
// UI thread only.
#include <cstdint>
#include <functional>
#include <string>

#include "ZmLib/Composite/zmFrameControls.h"

namespace zm {

class TFrameCaption;
class TFrameButton;

// Keys the controls answer.
constexpr std::uint16_t kKeyEnter = 13;
constexpr std::uint16_t kKeyEscape = 27;
constexpr std::uint16_t kKeySpace = 32;

using TClickEvent = std::function<void(TFrameControl* sender)>;

// A control with a style object (nil: the inherited styles) and a click.
class TStdFrameControl : public TFrameControl {
public:
  TStdFrameControl(TFrameControl* parent, TControlStyles* styles);
  void Dispose() override;
  TControlStyles* GetStyles() override;
  // Runs OnClick (the themed controls add their behaviour first).
  virtual void Click();
  TClickEvent OnClick;

protected:
  // A state the control shows changed: repaint everything.
  virtual void StateChanged() { InvalidateAll(); }

private:
  TControlStyles* styles_ = nullptr;  // one reference held
};

// ---- Default and cancel buttons ---------------------------------------------------------

// One per root, attached to the root's listeners and subscribed to its
// keyboard events. Enter clicks the focused button when
// FocusedButtonIsDefault is set and a button has the focus, else the default
// button; Escape clicks the cancel button.
class TButtonHandler : public events::TEventHandler {
public:
  void HandleEvent(TRefObject* sender, std::int32_t code, std::intptr_t param) override;
  void Dispose() override;
  // Drops every pointer to Button.
  void RemoveButton(TFrameButton* button);
  TFrameButton* DefaultButton = nullptr;  // none is referenced
  TFrameButton* CancelButton = nullptr;
  TFrameButton* FocusedButton = nullptr;
};
extern bool FocusedButtonIsDefault;
// The handler of Control's root (made and registered when there is none);
// nil for nil or a control outside a rooted tree.
TButtonHandler* ButtonHandlerOf(TFrameControl* control);

// ---- Controls ---------------------------------------------------------------------------

class TFrameButton : public TStdFrameControl {
public:
  TFrameButton(TFrameControl* parent, TControlStyles* styles = nullptr);
  void Dispose() override;
  void FocusChanged(bool gained) override;
  bool IsDefault() const { return default_; }
  bool IsCancel() const { return cancel_; }
  void SetDefault(bool on);
  void SetCancel(bool on);
  // The caption control, made on first use through AllocFrameCaption
  // (shortening on); nil when no caption factory is installed.
  TFrameCaption* Caption();
  // Hot-key marks are removed.
  void SetText(const std::u16string& text);

private:
  void Register();
  TRef<TButtonHandler> handler_;
  TFrameCaption* caption_ = nullptr;  // a child, owned by the tree
  bool default_ = false;
  bool cancel_ = false;
};

class TFrameScrollBar : public TStdFrameControl {
public:
  // Orientations 0 and 2 are horizontal, 1 vertical.
  TFrameScrollBar(TFrameControl* parent, TControlStyles* styles = nullptr, std::uint8_t orientation = 0);
  bool Vertical() const { return orientation_ == 1; }
  std::uint8_t Orientation() const { return orientation_; }
  // Both are clamped to 0..1 (not-a-number becomes 0); repaints when either changed.
  void SetPageAndPosition(float page, float position);
  float Page() const { return page_; }
  float ScrollPosition() const { return position_; }
  void SetSmallChange(float v);
  void SetLargeChange(float v);
  float SmallChange() const { return small_; }
  float LargeChange() const { return large_; }

private:
  std::uint8_t orientation_;
  float page_ = 0, position_ = 0;
  float small_ = 0.01f, large_ = 0.1f;
};

// Check-box states.
constexpr std::uint8_t cbUnchecked = 0;
constexpr std::uint8_t cbNeutral = 1;
constexpr std::uint8_t cbChecked = 2;

class TFrameCheckBox : public TStdFrameControl {
public:
  TFrameCheckBox(TFrameControl* parent, TControlStyles* styles = nullptr);
  // Space on key-down clicks.
  void KeyNotify(TKeyboardData* key) override;
  // An auto-check box advances its state first.
  void Click() override;
  // Values above 2 are refused.
  void SetState(std::uint8_t state);
  std::uint8_t State() const { return state_; }
  // The state a click leads to from State.
  std::uint8_t NextState(std::uint8_t state) const;
  bool AutoCheck = true;
  bool AllowNeutral = false;
  bool NeutralFirst = false;

private:
  std::uint8_t state_ = cbUnchecked;
};

class TFrameRadioButton : public TStdFrameControl {
public:
  TFrameRadioButton(TFrameControl* parent, TControlStyles* styles = nullptr);
  void FocusChanged(bool gained) override;
  void Click() override;
  // Unchecking the parent's focused radio button takes the focus away.
  virtual void SetChecked(bool on);
  bool Checked() const { return checked_; }
  bool AutoCheck = true;

private:
  bool checked_ = false;
};

// Speed-button mouse states.
constexpr std::uint8_t sbNormal = 0;
constexpr std::uint8_t sbHot = 1;
constexpr std::uint8_t sbPressed = 2;

class TFrameSpeedButton : public TStdFrameControl {
public:
  TFrameSpeedButton(TFrameControl* parent, TControlStyles* styles = nullptr);
  void Click() override;
  void SetDown(bool on);
  bool Down() const { return down_; }
  bool Toggle = false;
  bool Grouped = false;
  // Becoming pressed raises notification 13.
  void SetMouseState(std::uint8_t state);
  std::uint8_t MouseState() const { return mouseState_; }

private:
  bool down_ = false;
  std::uint8_t mouseState_ = sbNormal;
};

class TFrameProgressBar : public TStdFrameControl {
public:
  TFrameProgressBar(TFrameControl* parent, TControlStyles* styles = nullptr);
  // The value as a fraction (kept as given; the drawing clamps it).
  void SetValue(float value);
  float Value() const { return value_; }
  // Bar states 0..4 (the theme asserts on others).
  void SetBarState(std::uint8_t state);
  std::uint8_t BarState() const { return barState_; }
  void SetMarquee(bool on);
  bool Marquee() const { return marquee_; }

protected:
  // Each repaints; the themed bar forwards to its drawer.
  virtual void ValueChanged() { StateChanged(); }
  virtual void BarStateChanged() { StateChanged(); }
  virtual void MarqueeChanged() { StateChanged(); }

private:
  float value_ = 0;
  std::uint8_t barState_ = 0;
  bool marquee_ = false;
};

// The abstract tab page: takes no mouse input of its own.
class TFramePage : public TStdFrameControl {
public:
  using TStdFrameControl::TStdFrameControl;
  bool AcceptsMouse(const TMouseData&) override { return false; }
};

// ---- Hooks ------------------------------------------------------------------------------

// Each default is an assertion naming the hook; the themed units install theirs.
using TAllocFrameButtonProc = TFrameButton* (*)(TFrameControl* parent, TControlStyles* styles);
using TAllocFrameScrollBarProc = TFrameScrollBar* (*)(TFrameControl* parent, TControlStyles* styles,
                                                       std::uint8_t orientation);
using TAllocFrameCheckBoxProc = TFrameCheckBox* (*)(TFrameControl* parent, TControlStyles* styles);
using TAllocFrameRadioButtonProc = TFrameRadioButton* (*)(TFrameControl* parent, TControlStyles* styles);
using TAllocFrameSpeedButtonProc = TFrameSpeedButton* (*)(TFrameControl* parent, TControlStyles* styles);
using TAllocFrameProgressBarProc = TFrameProgressBar* (*)(TFrameControl* parent, TControlStyles* styles);
extern TAllocFrameButtonProc AllocFrameButton;
extern TAllocFrameScrollBarProc AllocFrameScrollBar;
extern TAllocFrameCheckBoxProc _AllocFrameCheckBox;
extern TAllocFrameRadioButtonProc _AllocFrameRadioButton;
extern TAllocFrameSpeedButtonProc _AllocFrameSpeedButton;
extern TAllocFrameProgressBarProc _AllocFrameProgressBar;

// Removes every "&" except one that directly follows a removed one: "&&"
// becomes "&", "&File" becomes "File".
std::u16string StripHotkeys(const std::u16string& text);
using TStripHotkeyProc = std::u16string (*)(const std::u16string& text);
extern TStripHotkeyProc StripHotkeyProc;
// Through the hook; the text unchanged when none is installed.
std::u16string StripHotkey(const std::u16string& text);

// The millisecond clock animated controls read (wrapping); tests install a
// manual one. Nil reads GetTimeMs.
using TControlClockProc = std::uint32_t (*)();
extern TControlClockProc ControlClockHook;
std::uint32_t ControlTimeMs();

void InitStdFrameControls();
void FiniStdFrameControls();

}  // namespace zm
