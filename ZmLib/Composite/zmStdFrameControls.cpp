#include "ZmLib/Composite/zmStdFrameControls.h"

#include <cmath>

#include "ZmLib/Composite/zmFrameCaption.h"
#include "ZmLib/Win32/winSysUtils.h"

namespace zm {

// ---- TStdFrameControl -------------------------------------------------------------------

TStdFrameControl::TStdFrameControl(TFrameControl* parent, TControlStyles* styles)
    : TFrameControl(parent), styles_(styles) {
  if (styles_) styles_->AddRef();
}

void TStdFrameControl::Dispose() {
  TFrameControl::Dispose();
  if (TControlStyles* s = styles_) {
    styles_ = nullptr;
    s->ReleaseRef();
  }
}

TControlStyles* TStdFrameControl::GetStyles() { return styles_ ? styles_ : TFrameControl::GetStyles(); }

void TStdFrameControl::Click() {
  if (OnClick) {
    TKeepAlive self(this);
    OnClick(this);
  }
}

// ---- TButtonHandler ---------------------------------------------------------------------

bool FocusedButtonIsDefault = false;

void TButtonHandler::HandleEvent(TRefObject*, std::int32_t, std::intptr_t param) {
  auto* key = reinterpret_cast<TKeyboardData*>(param);
  if (!key || key->Handled || key->Kind != kkKeyDown) return;
  TFrameButton* target = nullptr;
  if (key->Key == kKeyEnter)
    target = FocusedButtonIsDefault && FocusedButton ? FocusedButton : DefaultButton;
  else if (key->Key == kKeyEscape)
    target = CancelButton;
  if (!target || target->TornDown()) return;
  key->Handled = true;
  TKeepAlive keep(this);
  target->Click();
}

void TButtonHandler::Dispose() {
  DefaultButton = CancelButton = FocusedButton = nullptr;
  events::TEventHandler::Dispose();
}

void TButtonHandler::RemoveButton(TFrameButton* button) {
  if (DefaultButton == button) DefaultButton = nullptr;
  if (CancelButton == button) CancelButton = nullptr;
  if (FocusedButton == button) FocusedButton = nullptr;
}

TButtonHandler* ButtonHandlerOf(TFrameControl* control) {
  TRootControl* root = control ? control->Root() : nullptr;
  if (!root || root->TornDown()) return nullptr;
  TEventsWithTags* list = root->Listeners();
  if (auto* h = list->FindAttached<TButtonHandler>()) return h;
  TRef<TButtonHandler> h = MakeRef<TButtonHandler>();
  list->Attach(h.get());
  list->Subscribe(ntInput, ntInput, h.get());
  return h.get();
}

// ---- TFrameButton -----------------------------------------------------------------------

TFrameButton::TFrameButton(TFrameControl* parent, TControlStyles* styles) : TStdFrameControl(parent, styles) {
  SetTabStop(true);
  Register();
}

// A button made before its tree had a root registers when it first needs to.
void TFrameButton::Register() {
  if (handler_ || TornDown()) return;
  handler_ = TRef<TButtonHandler>(ButtonHandlerOf(this));
}

void TFrameButton::Dispose() {
  if (handler_) {
    handler_->RemoveButton(this);
    handler_.reset();
  }
  caption_ = nullptr;
  TStdFrameControl::Dispose();
}

void TFrameButton::FocusChanged(bool gained) {
  Register();
  if (handler_) {
    if (gained)
      handler_->FocusedButton = this;
    else if (handler_->FocusedButton == this)
      handler_->FocusedButton = nullptr;
  }
  TStdFrameControl::FocusChanged(gained);
}

void TFrameButton::SetDefault(bool on) {
  Register();
  if (handler_) {
    if (on)
      handler_->DefaultButton = this;
    else if (handler_->DefaultButton == this)
      handler_->DefaultButton = nullptr;
  }
  if (on == default_) return;
  default_ = on;
  StateChanged();
}

void TFrameButton::SetCancel(bool on) {
  Register();
  if (handler_) {
    if (on)
      handler_->CancelButton = this;
    else if (handler_->CancelButton == this)
      handler_->CancelButton = nullptr;
  }
  if (on == cancel_) return;
  cancel_ = on;
  StateChanged();
}

TFrameCaption* TFrameButton::Caption() {
  if (!caption_ && !TornDown() && AllocFrameCaption) {
    caption_ = AllocFrameCaption(this);
    if (caption_) caption_->SetShorten(true);
  }
  return caption_;
}

void TFrameButton::SetText(const std::u16string& text) {
  if (TFrameCaption* c = Caption()) c->SetText(text);
}

// ---- TFrameScrollBar --------------------------------------------------------------------

namespace {
float Clamp01(float v) {
  if (std::isnan(v)) return 0;
  return v < 0 ? 0 : v > 1 ? 1 : v;
}
}  // namespace

TFrameScrollBar::TFrameScrollBar(TFrameControl* parent, TControlStyles* styles, std::uint8_t orientation)
    : TStdFrameControl(parent, styles), orientation_(orientation) {}

void TFrameScrollBar::SetPageAndPosition(float page, float position) {
  page = Clamp01(page);
  position = Clamp01(position);
  if (page == page_ && position == position_) return;
  page_ = page;
  position_ = position;
  StateChanged();
}

void TFrameScrollBar::SetSmallChange(float v) {
  if (v == small_) return;
  small_ = v;
  StateChanged();
}

void TFrameScrollBar::SetLargeChange(float v) {
  if (v == large_) return;
  large_ = v;
  StateChanged();
}

// ---- TFrameCheckBox ---------------------------------------------------------------------

TFrameCheckBox::TFrameCheckBox(TFrameControl* parent, TControlStyles* styles) : TStdFrameControl(parent, styles) {
  SetTabStop(true);
}

void TFrameCheckBox::KeyNotify(TKeyboardData* key) {
  TKeepAlive self(this);
  TStdFrameControl::KeyNotify(key);
  if (!key || key->Handled || TornDown() || key->Kind != kkKeyDown || key->Key != kKeySpace) return;
  key->Handled = true;
  Click();
}

std::uint8_t TFrameCheckBox::NextState(std::uint8_t state) const {
  if (!AllowNeutral) {
    if (state == cbUnchecked) return cbChecked;
    if (state == cbChecked) return cbUnchecked;
    return NeutralFirst ? cbChecked : cbUnchecked;
  }
  if (NeutralFirst) return state == cbUnchecked ? cbNeutral : state == cbNeutral ? cbChecked : cbUnchecked;
  return state == cbUnchecked ? cbChecked : state == cbChecked ? cbNeutral : cbUnchecked;
}

void TFrameCheckBox::Click() {
  TKeepAlive self(this);
  if (AutoCheck) SetState(NextState(state_));
  if (!TornDown()) TStdFrameControl::Click();
}

void TFrameCheckBox::SetState(std::uint8_t state) {
  if (state > cbChecked || state == state_) return;
  state_ = state;
  StateChanged();
}

// ---- TFrameRadioButton ------------------------------------------------------------------

TFrameRadioButton::TFrameRadioButton(TFrameControl* parent, TControlStyles* styles)
    : TStdFrameControl(parent, styles) {
  SetTabStop(true);
}

void TFrameRadioButton::FocusChanged(bool gained) {
  TKeepAlive self(this);
  if (gained) SetChecked(true);
  if (!TornDown()) TStdFrameControl::FocusChanged(gained);
}

void TFrameRadioButton::Click() {
  TKeepAlive self(this);
  SetChecked(AutoCheck ? true : checked_);
  if (!TornDown()) TStdFrameControl::Click();
}

void TFrameRadioButton::SetChecked(bool on) {
  if (on == checked_) return;
  checked_ = on;
  if (!on) {
    TFrameControl* p = ParentControl();
    if (p && p->FocusedChild() == this) p->SetFocusedChild(nullptr);
  }
  StateChanged();
}

// ---- TFrameSpeedButton ------------------------------------------------------------------

TFrameSpeedButton::TFrameSpeedButton(TFrameControl* parent, TControlStyles* styles)
    : TStdFrameControl(parent, styles) {}

void TFrameSpeedButton::Click() {
  TKeepAlive self(this);
  if (Toggle && !Grouped) SetDown(!down_);
  TStdFrameControl::Click();
}

void TFrameSpeedButton::SetDown(bool on) {
  if (on == down_) return;
  down_ = on;
  StateChanged();
}

void TFrameSpeedButton::SetMouseState(std::uint8_t state) {
  if (state == mouseState_) return;
  mouseState_ = state;
  StateChanged();
  if (state == sbPressed && !TornDown()) Notify13();
}

// ---- TFrameProgressBar ------------------------------------------------------------------

TFrameProgressBar::TFrameProgressBar(TFrameControl* parent, TControlStyles* styles)
    : TStdFrameControl(parent, styles) {}

void TFrameProgressBar::SetValue(float value) {
  value_ = value;
  ValueChanged();
}

void TFrameProgressBar::SetBarState(std::uint8_t state) {
  const std::uint8_t old = barState_;
  barState_ = state;
  try {
    BarStateChanged();
  } catch (...) {
    barState_ = old;  // a state the drawing refused is not kept
    throw;
  }
}

void TFrameProgressBar::SetMarquee(bool on) {
  marquee_ = on;
  MarqueeChanged();
}

// ---- Hooks ------------------------------------------------------------------------------

namespace {
TFrameButton* NoButton(TFrameControl*, TControlStyles*) { ZM_FAIL("AllocFrameButton not Assigned"); }
TFrameScrollBar* NoScrollBar(TFrameControl*, TControlStyles*, std::uint8_t) {
  ZM_FAIL("AllocFrameScrollBar not Assigned");
}
TFrameCheckBox* NoCheckBox(TFrameControl*, TControlStyles*) { ZM_FAIL("_AllocFrameCheckBox not Assigned"); }
TFrameRadioButton* NoRadioButton(TFrameControl*, TControlStyles*) { ZM_FAIL("_AllocFrameRadioButton not Assigned"); }
TFrameSpeedButton* NoSpeedButton(TFrameControl*, TControlStyles*) { ZM_FAIL("_AllocFrameSpeedButton not Assigned"); }
TFrameProgressBar* NoProgressBar(TFrameControl*, TControlStyles*) { ZM_FAIL("_AllocFrameProgressBar not Assigned"); }
}  // namespace

TAllocFrameButtonProc AllocFrameButton = &NoButton;
TAllocFrameScrollBarProc AllocFrameScrollBar = &NoScrollBar;
TAllocFrameCheckBoxProc _AllocFrameCheckBox = &NoCheckBox;
TAllocFrameRadioButtonProc _AllocFrameRadioButton = &NoRadioButton;
TAllocFrameSpeedButtonProc _AllocFrameSpeedButton = &NoSpeedButton;
TAllocFrameProgressBarProc _AllocFrameProgressBar = &NoProgressBar;

std::u16string StripHotkeys(const std::u16string& text) {
  std::u16string out;
  out.reserve(text.size());
  bool removed = false;  // the previous character was a removed "&"
  for (char16_t c : text) {
    if (c == u'&' && !removed) {
      removed = true;
      continue;
    }
    removed = false;
    out.push_back(c);
  }
  return out;
}

TStripHotkeyProc StripHotkeyProc = nullptr;

std::u16string StripHotkey(const std::u16string& text) { return StripHotkeyProc ? StripHotkeyProc(text) : text; }

TControlClockProc ControlClockHook = nullptr;
std::uint32_t ControlTimeMs() { return ControlClockHook ? ControlClockHook() : GetTimeMs(); }

void InitStdFrameControls() {
  AllocFrameButton = &NoButton;
  AllocFrameScrollBar = &NoScrollBar;
  _AllocFrameCheckBox = &NoCheckBox;
  _AllocFrameRadioButton = &NoRadioButton;
  _AllocFrameSpeedButton = &NoSpeedButton;
  _AllocFrameProgressBar = &NoProgressBar;
  StripHotkeyProc = &StripHotkeys;
}

void FiniStdFrameControls() {
  InitStdFrameControls();
  StripHotkeyProc = nullptr;
}

}  // namespace zm
