#include "ZmLib/Composite/zmThemedButtons.h"

#include <algorithm>
#include <cmath>

#include "ZmLib/Composite/winSurface.h"
#include "ZmLib/Composite/zmFrameCaption.h"
#include "ZmLib/Composite/zmThemedControlUtils.h"
#include "ZmLib/Graphics/zmDibBitmap.h"
#include "ZmLib/Graphics/zmPixelFormat.h"
#include "ZmLib/zmHookScope.h"

namespace zm {

namespace {

// The focus helper's event 1 reaches the control under this code.
constexpr std::int32_t kFocusCueCode = 1001;

void Fill(TDirectBitmap* b, TRect r, TColor32 c) {
  r.Left = std::max(r.Left, 0);
  r.Top = std::max(r.Top, 0);
  r.Right = std::min(r.Right, b->Width());
  r.Bottom = std::min(r.Bottom, b->Height());
  if (r.Right > r.Left && r.Bottom > r.Top) b->FillRect(r, c);
}

// One-pixel ring: top and left in Light, bottom and right in Dark.
void Ring(TDirectBitmap* b, const TRect& r, TColor32 light, TColor32 dark) {
  if (r.Right <= r.Left || r.Bottom <= r.Top) return;
  Fill(b, {r.Left, r.Top, r.Right, r.Top + 1}, light);
  Fill(b, {r.Left, r.Top, r.Left + 1, r.Bottom}, light);
  Fill(b, {r.Left, r.Bottom - 1, r.Right, r.Bottom}, dark);
  Fill(b, {r.Right - 1, r.Top, r.Right, r.Bottom}, dark);
}

TRect Inflate(const TRect& r, std::int32_t d) { return {r.Left - d, r.Top - d, r.Right + d, r.Bottom + d}; }

TRef<TDirectBitmap> NewPicture(std::int32_t w, std::int32_t h) {
  return MakeRef<TDirectBitmap>(w, PixelFormatByName(PF_A8R8G8B8), h);
}

bool ValidSize(const TSize& s) { return s.cx > 0 && s.cy > 0 && s.cx <= 16384 && s.cy <= 16384; }

TColor32 Opaque(TColor24 c) { return {c.B, c.G, c.R, 255}; }

std::int32_t TextHeightOf(TFrameControl* control) {
  TTextFormat f;
  if (control) control->GetTextFormat(f);
  auto e = CreateCaptionText(f.Font, u"Wg");
  return e ? e->GetMetrics().Height : 0;
}

TRef<TFastDIB> gScratch;

bool Inside(TFrameControl* c, std::int32_t x, std::int32_t y) {
  return x >= 0 && y >= 0 && x < c->Width() && y < c->Height();
}

// Hit test by the alpha of the mask under the point.
bool MaskHits(TDirectBitmap* mask, const TPoint& offset, std::int32_t x, std::int32_t y) {
  return (ArgbPixel(mask, x - offset.X, y - offset.Y) >> 24) != 0;
}

}  // namespace

// ---- Shared drawing ---------------------------------------------------------------------

void DrawFocusDots(TDirectBitmap* b, const TRect& r, TColor32 color) {
  if (!b || r.Right <= r.Left || r.Bottom <= r.Top) return;
  const auto dot = [&](std::int32_t x, std::int32_t y) {
    if (((x - r.Left + y - r.Top) & 1) == 0) Fill(b, {x, y, x + 1, y + 1}, color);
  };
  for (std::int32_t x = std::max(r.Left, -1); x < std::min(r.Right, b->Width() + 1); ++x) {
    dot(x, r.Top);
    dot(x, r.Bottom - 1);
  }
  for (std::int32_t y = std::max(r.Top, -1); y < std::min(r.Bottom, b->Height() + 1); ++y) {
    dot(r.Left, y);
    dot(r.Right - 1, y);
  }
}

TRef<TDirectBitmap> RenderThemeElement(const TThemedElement& element, std::int32_t w, std::int32_t h,
                                       TColor32 keyColor) {
  if (!ValidSize({w, h})) return {};
  const TRect bounds{0, 0, w, h};
  auto dib = MakeRef<TFastDIB>();
  dib->SetSize(w, -h, 32);
  for (std::int32_t row = 0; row < h; ++row) std::fill_n(dib->Pixels32(row), w, 0u);
  if (!ThemeServices()->DrawElement(dib->Dc(), element, bounds)) return {};
  auto out = NewPicture(w, h);
  bool alpha = false;
  for (std::int32_t row = 0; row < h && !alpha; ++row)
    alpha = std::any_of(dib->Pixels32(row), dib->Pixels32(row) + w, [](std::uint32_t p) { return p >> 24; });
  if (alpha) {
    for (std::int32_t row = 0; row < h; ++row) std::copy_n(dib->Pixels32(row), w, out->Row32(row));
    return out;
  }
  // No alpha came back: draw over the key colour and keep the result opaque.
  if (!gScratch || gScratch->Width() < w || std::abs(gScratch->Height()) < h) {
    const std::int32_t sw = gScratch ? std::max(gScratch->Width(), w) : w;
    const std::int32_t sh = gScratch ? std::max(std::abs(gScratch->Height()), h) : h;
    gScratch = MakeRef<TFastDIB>();
    gScratch->SetSize(sw, -sh, 24);
  }
  for (std::int32_t row = 0; row < h; ++row)
    std::fill_n(gScratch->Pixels24(row), w, TColor24{keyColor.B, keyColor.G, keyColor.R});
  ThemeServices()->DrawElement(gScratch->Dc(), element, bounds);
  for (std::int32_t row = 0; row < h; ++row) {
    const TColor24* src = gScratch->Pixels24(row);
    std::uint32_t* dst = out->Row32(row);
    for (std::int32_t x = 0; x < w; ++x) dst[x] = TColor32{src[x].B, src[x].G, src[x].R, 255}.Value();
  }
  return out;
}

TSize ThemeElementScratchSize() { return gScratch ? TSize{gScratch->Width(), std::abs(gScratch->Height())} : TSize{}; }
void FreeThemeElementScratch() { gScratch.reset(); }

bool KeyHasName(const std::u16string& key, const std::u16string& name) {
  std::size_t start = 0;
  while (start <= key.size()) {
    std::size_t end = key.find(u'|', start);
    if (end == std::u16string::npos) end = key.size();
    if (key.compare(start, end - start, name) == 0) return true;
    start = end + 1;
  }
  return false;
}

// ---- TButtonTheme -----------------------------------------------------------------------

void ClassicButtonStateName(std::uint32_t state, std::u16string& name) {
  if (state & pbsAnimated) {
    name = u"Invalid";
    return;
  }
  name = state & pbsDisabled ? u"Disabled"
         : state & pbsPressed ? u"Pressed"
         : state & pbsDefaulted ? u"Defaulted"
         : state & pbsHot ? u"Hot"
                           : u"Normal";
  if (state & pbsFocused) name += u"|Focused";
}

void WinXPButtonStateName(std::uint32_t state, std::u16string& name) {
  name = state & pbsDisabled ? u"Disabled"
         : state & pbsAnimated ? u"Animated"
         : state & pbsPressed ? u"Pressed"
         : state & pbsHot ? u"Hot"
         : state & pbsDefaulted ? u"Defaulted"
                                 : u"Normal";
  if (state & pbsFocused) name += u"|Focused";
}

std::uint32_t TButtonTheme::ParseState(const std::u16string& name) {
  std::uint32_t s = 0;
  if (KeyHasName(name, u"Disabled")) s |= pbsDisabled;
  if (KeyHasName(name, u"Defaulted")) s |= pbsDefaulted;
  if (KeyHasName(name, u"Focused")) s |= pbsFocused;
  if (KeyHasName(name, u"Hot")) s |= pbsHot;
  if (KeyHasName(name, u"Pressed")) s |= pbsPressed;
  if (KeyHasName(name, u"Animated")) s |= pbsAnimated;
  return s;
}

TSize TButtonTheme::DefaultSize(TFrameControl* control) {
  TTextFormat f;
  if (control) control->GetTextFormat(f);
  auto e = CreateCaptionText(f.Font, u"Wg");
  const std::int32_t w = e ? e->MeasureRange(0, e->Length()) : 0;
  const std::int32_t h = e ? e->GetMetrics().Height : 0;
  return {std::int32_t(std::lround(w * 3.8125)) + 2 * kButtonMarginX, h + 2 * kButtonMarginY};
}

void TButtonTheme::ContentRect(std::uint32_t state, const TSize& size, TRect& rect) {
  rect = {kButtonMarginX, kButtonMarginY, std::max(size.cx, 2 * kButtonMarginX) - kButtonMarginX,
          std::max(size.cy, 2 * kButtonMarginY) - kButtonMarginY};
  if (state & pbsPressed) rect = {rect.Left + 1, rect.Top + 1, rect.Right + 1, rect.Bottom + 1};
}

void TButtonTheme::StateName(std::uint32_t state, std::u16string& name) { ClassicButtonStateName(state, name); }

bool TButtonTheme::TransitionTime(std::uint32_t, std::uint32_t, std::int32_t& ms) {
  ms = 0;
  return false;
}

TRef<TDirectBitmap> TButtonTheme::Draw(const std::u16string& name, const TSize& size, TPoint& offset) {
  offset = {};
  return DrawClassic(ParseState(name), size);
}

TRef<TDirectBitmap> TButtonTheme::HitMask(const std::u16string&, const TSize&, TPoint& offset) {
  offset = {};
  return {};
}

TRef<TDirectBitmap> TButtonTheme::DrawClassic(std::uint32_t state, const TSize& size) {
  if (!ValidSize(size)) return {};
  TControlStyles* st = Styles();
  auto b = NewPicture(size.cx, size.cy);
  TRect r{0, 0, size.cx, size.cy};
  b->FillRect(r, st->FaceColor);
  if (state & (pbsPressed | pbsDefaulted)) {
    Ring(b.get(), r, st->FrameColor, st->FrameColor);
    r = Inflate(r, -1);
  }
  if (state & pbsPressed) {
    Ring(b.get(), r, st->ShadowColor, st->ShadowColor);
    Ring(b.get(), Inflate(r, -1), st->FaceColor, st->FaceColor);
    Fill(b.get(), Inflate(r, -2), st->FaceColor);
  } else if (r.Right > r.Left && r.Bottom > r.Top) {
    DrawClassicFrame(b.get(), r, st->HighlightColor, st->LightColor, st->DarkShadowColor, st->ShadowColor,
                     st->FaceColor);
  }
  r = Inflate(r, -2);
  if (state & pbsFocused) DrawFocusDots(b.get(), Inflate(r, -1), Opaque(st->Font.Font.TextColor));
  return b;
}

// ---- TWinXPButtonTheme ------------------------------------------------------------------

std::int32_t WinXPButtonTransition(std::uint32_t oldState, std::uint32_t newState) {
  const std::uint32_t added = newState & ~oldState, removed = oldState & ~newState;
  std::int32_t ms = 30;
  if (added == 0) ms = 500;
  if (removed & pbsFocused) ms = 30;
  if (removed & pbsDefaulted) ms = 30;
  if (removed == pbsHot) ms = 500;
  if (added == pbsHot) ms = 500;
  if (removed == pbsPressed) ms = 30;
  if (added == pbsAnimated) ms = 2000;
  return ms;
}

std::int32_t WinXPButtonElement(const std::u16string& name) {
  if (KeyHasName(name, u"Disabled")) return 5;
  if (KeyHasName(name, u"Pressed")) return 4;
  if (KeyHasName(name, u"Defaulted")) return 6;
  if (KeyHasName(name, u"Hot")) return 3;
  if (KeyHasName(name, u"Animated")) return 7;
  return 2;
}

void TWinXPButtonTheme::StateName(std::uint32_t state, std::u16string& name) {
  if (ThemesActive())
    WinXPButtonStateName(state, name);
  else
    TButtonTheme::StateName(state, name);
}

bool TWinXPButtonTheme::TransitionTime(std::uint32_t oldState, std::uint32_t newState, std::int32_t& ms) {
  if (!ThemesActive()) return TButtonTheme::TransitionTime(oldState, newState, ms);
  ms = WinXPButtonTransition(oldState, newState);
  return true;
}

TRef<TDirectBitmap> TWinXPButtonTheme::Draw(const std::u16string& name, const TSize& size, TPoint& offset) {
  offset = {};
  if (!ThemesActive()) return TButtonTheme::Draw(name, size, offset);
  auto b = RenderThemeElement(ThemedElement(TThemeKind::Button, WinXPButtonElement(name)), size.cx, size.cy,
                              Styles()->FaceColor);
  if (!b) return TButtonTheme::Draw(name, size, offset);
  if (KeyHasName(name, u"Focused"))
    DrawFocusDots(b.get(), {3, 3, size.cx - 3, size.cy - 3}, Opaque(Styles()->Font.Font.TextColor));
  return b;
}

TRef<TDirectBitmap> TWinXPButtonTheme::HitMask(const std::u16string& name, const TSize& size, TPoint& offset) {
  if (!ThemesActive()) return TButtonTheme::HitMask(name, size, offset);
  return Draw(u"Normal", size, offset);
}

// ---- TThemedFrameButton -----------------------------------------------------------------

TThemedFrameButton::TThemedFrameButton(TFrameControl* parent, TControlStyles* styles, TButtonTheme* theme)
    : TFrameButton(parent, styles),
      theme_(theme ? theme : ButtonThemeOf(GetStyles())),
      images_(MakeRef<TThemedControlImages>()) {
  images_->OnCreateImage = [this](const std::u16string& key, TPoint& offset, TRef<TDirectBitmap>& bitmap) {
    offset = {};
    bitmap = theme_ ? theme_->Draw(key, {Width(), Height()}, offset) : TRef<TDirectBitmap>{};
  };
  images_->OnStart = [this] { SetRefreshing(true); };
  images_->OnStop = [this] { SetRefreshing(false); };
  images_->OnFinished = [] {};
  focusHelper_ = TRef<TFocusHelper>(GetFocusHelper(this));
  if (focusHelper_) focusHelper_->Subscribe(TFocusHelper::kFocusChangedEvent, kFocusCueCode, this);
}

void TThemedFrameButton::Dispose() {
  if (focusHelper_) {
    focusHelper_->Unsubscribe(TFocusHelper::kFocusChangedEvent, this);
    focusHelper_.reset();
  }
  if (images_) {
    images_->Clear();
    images_.reset();
  }
  hitMask_.reset();
  TFrameButton::Dispose();
  theme_.reset();
}

void TThemedFrameButton::HandleEvent(TRefObject* sender, std::int32_t code, std::intptr_t param) {
  if (code == kFocusCueCode) {
    Changed();
    return;
  }
  TFrameButton::HandleEvent(sender, code, param);
}

bool TThemedFrameButton::Enabled() const { return !Frame() || Frame()->Enabled(); }

void TThemedFrameButton::SetEnabled(bool on) {
  if (Frame()) Frame()->SetEnabled(on);
  if (!on) keyPressed_ = mousePressed_ = false;
  Changed();
}

void TThemedFrameButton::SetHeldDown(bool on) {
  if (on == heldDown_) return;
  heldDown_ = on;
  Changed();
}

std::uint32_t TThemedFrameButton::State() {
  std::uint32_t s = 0;
  const bool enabled = Enabled();
  if (!enabled) s |= pbsDisabled;
  if (IsDefault()) s |= pbsDefaulted;
  if (enabled && Focused() && focusHelper_ && focusHelper_->ShowFocus()) s |= pbsFocused;
  if (heldDown_ || keyPressed_ || (mousePressed_ && hover_)) s |= pbsPressed;
  if (hover_ || mousePressed_) s |= pbsHot;
  return s;
}

void TThemedFrameButton::Changed() {
  if (TornDown()) return;
  if (TFrameCaption* c = Caption(); c && theme_) {
    TRect r;
    theme_->ContentRect(State(), {Width(), Height()}, r);
    c->SetPosition(r.Left, r.Top);
    c->SetSize(std::max(r.Right - r.Left, 0), std::max(r.Bottom - r.Top, 0));
    baseline_ = c->DisplayMode() == cdNone ? -1 : r.Top + c->Baseline();
  }
  InvalidateAll();
}

void TThemedFrameButton::MouseEvent(TMouseData& mouse) {
  TKeepAlive self(this);
  TFrameButton::MouseEvent(mouse);
  if (TornDown() || !Enabled()) return;
  hover_ = Inside(this, mouse.X, mouse.Y);
  if (mouse.Kind == mkDown && (mouse.Buttons & mbLeft) && hover_) {
    mousePressed_ = true;
    if (GetTabStop()) SetFocus();
  } else if (mouse.Kind == mkUp && (mouse.Buttons & mbLeft) && mousePressed_) {
    mousePressed_ = false;
    if (hover_) {
      Changed();
      Click();
      return;
    }
  }
  Changed();
}

void TThemedFrameButton::MouseLeave() {
  TKeepAlive self(this);
  TFrameButton::MouseLeave();
  if (TornDown()) return;
  hover_ = false;
  Changed();
}

void TThemedFrameButton::KeyNotify(TKeyboardData* key) {
  TKeepAlive self(this);
  TFrameButton::KeyNotify(key);
  if (!key || key->Handled || TornDown() || !Enabled() || key->Key != kKeySpace) return;
  if (key->Kind == kkKeyDown) {
    key->Handled = true;
    if (!keyPressed_) {
      keyPressed_ = true;
      Changed();
    }
  } else if (key->Kind == kkKeyUp && keyPressed_) {
    key->Handled = true;
    keyPressed_ = false;
    Changed();
    Click();
  }
}

void TThemedFrameButton::FocusChanged(bool gained) {
  TKeepAlive self(this);
  if (!gained) keyPressed_ = false;  // a key released elsewhere must not click here
  TFrameButton::FocusChanged(gained);
  if (!TornDown()) Changed();
}

void TThemedFrameButton::ActiveChanged() {
  TKeepAlive self(this);
  TFrameButton::ActiveChanged();
  if (!TornDown()) Changed();
}

void TThemedFrameButton::AfterResize() {
  TFrameButton::AfterResize();
  hasState_ = false;
  hitMask_.reset();
  if (images_) images_->Clear();
  Changed();
}

void TThemedFrameButton::PreferredSize(std::int32_t& width, std::int32_t& height) {
  width = Width();
  height = Height();
  if (!theme_) return;
  const TSize def = theme_->DefaultSize(this);
  TFrameCaption* c = Caption();
  const auto pick = [](std::uint8_t mode, std::int32_t v, std::int32_t content, bool hasContent, std::int32_t d) {
    if ((mode & smFromCaption) && hasContent) v = content;
    if (mode & smAtLeastDefault) v = std::max(v, d);
    if (mode & smAtMostDefault) v = std::min(v, d);
    return v;
  };
  width = pick(WidthMode, width, c ? theme_->WidthForContent(c->Text().empty() ? 0 : c->PreferredWidth()) : 0, c != nullptr, def.cx);
  height = pick(HeightMode, height, c ? theme_->HeightForContent(TextHeightOf(this)) : 0, c != nullptr, def.cy);
}

void TThemedFrameButton::StartPulse(std::uint32_t state) {
  std::int32_t ms = 0;
  const std::uint32_t target = pulseOut_ ? state : (state | pbsAnimated);
  std::u16string name;
  theme_->StateName(target, name);
  theme_->TransitionTime(lastState_, target, ms);
  images_->SetState(name, ms, false);
  pulseOut_ = !pulseOut_;
}

void TThemedFrameButton::UpdateImage() {
  if (!theme_ || !images_) return;
  const std::uint32_t state = State();
  if (hasState_ && state == lastState_ && images_->CurrentFrame().Bitmap) return;
  std::u16string name;
  theme_->StateName(state, name);
  std::int32_t ms = 0;
  const bool animate = hasState_ && theme_->TransitionTime(lastState_, state, ms);
  images_->SetState(name, animate ? ms : 0, false);
  lastState_ = state;
  hasState_ = true;
  pulseOut_ = false;
  TPoint off;
  hitMask_ = theme_->HitMask(name, {Width(), Height()}, off);
  hitOffset_ = off;
}

void TThemedFrameButton::NotifyRefresh() {
  TKeepAlive self(this);
  TFrameButton::NotifyRefresh();
  if (TornDown() || !images_) return;
  if (images_->Animating()) images_->Tick();
  // An idle default button of a visual style pulses toward "Animated" and back.
  std::int32_t ms = 0;
  if (!images_->Animating() && hasState_ && (lastState_ == 2 || lastState_ == 6) && ThemesActive() &&
      theme_->TransitionTime(lastState_, lastState_ | pbsAnimated, ms))
    StartPulse(lastState_);
  InvalidateAll();
}

void TThemedFrameButton::Paint(TDrawSurface* surface) {
  painted_ = {};
  if (!surface || TornDown()) return;
  UpdateImage();
  if (!images_) return;
  auto f = images_->CurrentFrame();
  if (!f.Bitmap) return;
  surface->DrawBitmap(f.Offset.X, f.Offset.Y, f.Bitmap);
  painted_ = {f.Offset.X, f.Offset.Y, f.Offset.X + f.Bitmap->Width(), f.Offset.Y + f.Bitmap->Height()};
}

void TThemedFrameButton::GetBounds(TRect& rect) {
  TFrameButton::GetBounds(rect);
  rect = {0, 0, Width(), Height()};
}

bool TThemedFrameButton::HitTest(std::int32_t x, std::int32_t y) {
  if (!Inside(this, x, y)) return false;
  return hitMask_ ? MaskHits(hitMask_.get(), hitOffset_, x, y) : true;
}

// ---- TSpeedButtonTheme ------------------------------------------------------------------

std::uint32_t ParseSpeedButtonKey(const std::u16string& key) {
  std::uint32_t s = 0;
  if (KeyHasName(key, u"Disabled")) s |= sbsDisabled;
  if (KeyHasName(key, u"Hot")) s |= sbsHot;
  if (KeyHasName(key, u"Pressed")) s |= sbsPressed | sbsHot;
  if (KeyHasName(key, u"Checked")) s |= sbsChecked;
  return s;
}

bool TSpeedButtonTheme::IsPushedIn(std::uint32_t state) {
  return (state & sbsPressed) || ((state & sbsChecked) && !(state & sbsHot));
}

TSize TSpeedButtonTheme::DefaultSize(TFrameControl*, std::uint8_t kind) {
  return {23 + (kind == 1 ? kDropDownWidth : 0), 22};
}

std::int32_t TSpeedButtonTheme::MarginX() { return std::int32_t(std::trunc(6 * Styles()->ScaleX)); }
std::int32_t TSpeedButtonTheme::MarginY() { return std::int32_t(std::trunc(4 * Styles()->ScaleY)); }

void TSpeedButtonTheme::ContentRect(std::uint8_t kind, std::uint32_t state, TRect& rect, const TSize& size) {
  const std::int32_t mx = MarginX(), my = MarginY();
  const std::int64_t right = std::int64_t(size.cx) - mx - (kind == 1 ? kDropDownWidth : 0);
  rect = {mx, my, std::int32_t(std::max<std::int64_t>(right, mx)),
          std::int32_t(std::max<std::int64_t>(std::int64_t(size.cy) - my, my))};
  if (IsPushedIn(state)) rect = {rect.Left + 1, rect.Top + 1, rect.Right + 1, rect.Bottom + 1};
}

void TSpeedButtonTheme::SizeForContent(std::uint8_t kind, const TSize& content, TSize& size) {
  size = {std::max(content.cx, 0) + 2 * MarginX() + (kind == 1 ? kDropDownWidth : 0),
          std::max(content.cy, 0) + 2 * MarginY()};
}

void TSpeedButtonTheme::StateName(std::uint8_t kind, std::uint32_t state, std::u16string& name, bool checked) {
  name = state & sbsDisabled                         ? u"Disabled"
         : (state & sbsPressed) && (state & sbsHot) ? u"Pressed"
         : state & (sbsHot | sbsPressed)            ? u"Hot"
                                                     : u"Normal";
  if (checked) name = u"Checked|" + name;
  name = (kind == 1 ? u"DropDownButton|" : u"SpeedButton|") + name;
}

bool TSpeedButtonTheme::TransitionTime(std::uint32_t, std::uint32_t, std::int32_t& ms) {
  ms = 0;
  return false;
}

TRef<TDirectBitmap> TSpeedButtonTheme::Draw(const std::u16string& name, const TSize& size, TPoint& offset) {
  offset = {};
  return DrawClassic(name, size);
}

TRef<TDirectBitmap> TSpeedButtonTheme::HitMask(const std::u16string&, const TSize&, TPoint& offset) {
  offset = {};
  return {};
}

TRef<TDirectBitmap> TSpeedButtonTheme::DrawClassic(const std::u16string& name, const TSize& size) {
  if (!ValidSize(size)) return {};
  TControlStyles* st = Styles();
  const std::uint32_t state = ParseSpeedButtonKey(name);
  const bool dropDown = KeyHasName(name, u"DropDownButton");
  auto b = NewPicture(size.cx, size.cy);
  // A flat tool button shows its frame only when hot or pushed in.
  b->FillRect({0, 0, size.cx, size.cy}, st->FaceColor);
  const auto frame = [&](const TRect& r) {
    if (IsPushedIn(state))
      Ring(b.get(), r, st->ShadowColor, st->HighlightColor);
    else if (state & sbsHot)
      Ring(b.get(), r, st->HighlightColor, st->ShadowColor);
  };
  if (dropDown && size.cx > kDropDownWidth) {
    const std::int32_t split = size.cx - kDropDownWidth;
    frame({0, 0, split, size.cy});
    frame({split, 0, size.cx, size.cy});
    const std::int32_t cx = split + kDropDownWidth / 2, cy = size.cy / 2;
    const TColor32 arrow = state & sbsDisabled ? st->ShadowColor : Opaque(st->Font.Font.TextColor);
    for (std::int32_t i = 0; i < 3; ++i) Fill(b.get(), {cx - 2 + i, cy - 1 + i, cx + 3 - i, cy + i}, arrow);
  } else {
    frame({0, 0, size.cx, size.cy});
  }
  return b;
}

// ---- TWinXPSpeedButtonTheme -------------------------------------------------------------

std::int32_t WinXPSpeedButtonTransition(std::uint32_t oldState, std::uint32_t newState) {
  const std::uint32_t added = newState & ~oldState, removed = oldState & ~newState;
  std::int32_t ms = 30;
  if (added == 0) ms = 500;
  if (removed == sbsHot) ms = 500;
  if (added == sbsHot) ms = 150;
  if (removed == sbsPressed || added == sbsPressed) ms = 30;
  if ((added | removed) & sbsChecked) ms = 30;
  return ms;
}

std::int32_t WinXPSpeedButtonElement(const std::u16string& key) {
  const std::uint32_t s = ParseSpeedButtonKey(key);
  std::int32_t n = 2;
  const bool pressed = KeyHasName(key, u"Pressed"), hot = KeyHasName(key, u"Hot");
  if (s & sbsDisabled) n = 5;
  else if (pressed) n = 4;
  else if (hot && (s & sbsChecked)) n = 7;
  else if (hot) n = 3;
  else if (s & sbsChecked) n = 6;
  return KeyHasName(key, u"DropDownButton") ? n + 12 : n;
}

bool TWinXPSpeedButtonTheme::TransitionTime(std::uint32_t oldState, std::uint32_t newState, std::int32_t& ms) {
  if (!ThemesActive()) return TSpeedButtonTheme::TransitionTime(oldState, newState, ms);
  ms = WinXPSpeedButtonTransition(oldState, newState);
  return true;
}

TRef<TDirectBitmap> TWinXPSpeedButtonTheme::Draw(const std::u16string& name, const TSize& size, TPoint& offset) {
  offset = {};
  if (!ThemesActive() || !ValidSize(size)) return TSpeedButtonTheme::Draw(name, size, offset);
  const std::int32_t n = WinXPSpeedButtonElement(name);
  const TColor32 face = Styles()->FaceColor;
  if (!KeyHasName(name, u"DropDownButton") || size.cx <= kDropDownWidth) {
    auto b = RenderThemeElement(ThemedElement(TThemeKind::Toolbar, n), size.cx, size.cy, face);
    return b ? b : TSpeedButtonTheme::Draw(name, size, offset);
  }
  const std::int32_t split = size.cx - kDropDownWidth;
  auto main = RenderThemeElement(ThemedElement(TThemeKind::Toolbar, n), split, size.cy, face);
  auto arrow = RenderThemeElement(ThemedElement(TThemeKind::Toolbar, n - 12 + 18), kDropDownWidth, size.cy, face);
  if (!main || !arrow) return TSpeedButtonTheme::Draw(name, size, offset);
  auto b = NewPicture(size.cx, size.cy);
  b->CopyRect({0, 0, split, size.cy}, main.get(), {0, 0});
  b->CopyRect({split, 0, size.cx, size.cy}, arrow.get(), {0, 0});
  return b;
}

// ---- TThemedSpeedButton -----------------------------------------------------------------

TThemedSpeedButton::TThemedSpeedButton(TFrameControl* parent, TControlStyles* styles, TSpeedButtonTheme* theme)
    : TFrameSpeedButton(parent, styles),
      theme_(theme ? theme : SpeedButtonThemeOf(GetStyles())),
      images_(MakeRef<TThemedControlImages>()) {
  images_->OnCreateImage = [this](const std::u16string& key, TPoint& offset, TRef<TDirectBitmap>& bitmap) {
    offset = {};
    bitmap = theme_ ? theme_->Draw(key, {Width(), Height()}, offset) : TRef<TDirectBitmap>{};
  };
  images_->OnStart = [this] { SetRefreshing(true); };
  images_->OnStop = [this] { SetRefreshing(false); };
  images_->OnFinished = [] {};
}

void TThemedSpeedButton::Dispose() {
  if (images_) {
    images_->Clear();
    images_.reset();
  }
  hitMask_.reset();
  TFrameSpeedButton::Dispose();
  theme_.reset();
}

bool TThemedSpeedButton::Enabled() const { return !Frame() || Frame()->Enabled(); }

void TThemedSpeedButton::SetEnabled(bool on) {
  if (Frame()) Frame()->SetEnabled(on);
  if (!on) pressed_ = false;
  StateChanged();
}

void TThemedSpeedButton::SetKind(std::uint8_t kind) {
  kind = kind == 1 ? 1 : 0;
  if (kind == kind_) return;
  kind_ = kind;
  hasState_ = false;
  if (images_) images_->Clear();
  StateChanged();
}

void TThemedSpeedButton::StateChanged() {
  if (!TornDown()) InvalidateAll();
}

std::uint32_t TThemedSpeedButton::State() {
  std::uint32_t s = 0;
  if (!Enabled()) s |= sbsDisabled;
  if (hover_) s |= sbsHot;
  if (pressed_) s |= sbsPressed;
  if (Down()) s |= sbsChecked;
  return s;
}

void TThemedSpeedButton::ContentRect(TRect& rect) {
  if (theme_)
    theme_->ContentRect(kind_, State(), rect, {Width(), Height()});
  else
    rect = {0, 0, Width(), Height()};
}

void TThemedSpeedButton::PreferredSize(std::int32_t& width, std::int32_t& height) {
  width = Width();
  height = Height();
  if (FixedSize || !theme_) return;
  const TSize def = theme_->DefaultSize(this, kind_);
  const double scale = GetStyles()->ScaleX;
  width = std::max(width, std::int32_t(std::lround(def.cx * scale)));
  height = std::max(height, std::int32_t(std::lround(def.cy * scale)));
  TSize content;
  theme_->SizeForContent(kind_, ContentSize, content);
  if (AutoWidth) width = content.cx;
  if (AutoHeight) height = content.cy;
}

std::int32_t TThemedSpeedButton::HitPart(std::int32_t x, std::int32_t y) {
  if (!Inside(this, x, y)) return 0;
  if (hitMask_ && !MaskHits(hitMask_.get(), hitOffset_, x, y)) return 0;
  return kind_ == 1 && x >= Width() - kDropDownWidth ? 2 : 1;
}

bool TThemedSpeedButton::HitTest(std::int32_t x, std::int32_t y) { return HitPart(x, y) != 0; }

void TThemedSpeedButton::DropDown() {
  if (OnDropDown) {
    TKeepAlive self(this);
    OnDropDown(this);
  }
}

void TThemedSpeedButton::MouseEvent(TMouseData& mouse) {
  TKeepAlive self(this);
  TFrameSpeedButton::MouseEvent(mouse);
  if (TornDown() || !Enabled()) return;
  const std::int32_t part = HitPart(mouse.X, mouse.Y);
  hover_ = part != 0;
  if (mouse.Kind == mkDown && (mouse.Buttons & mbLeft)) {
    if (kind_ == 1 && part == 2) {
      DropDown();
      return;
    }
    if (hover_) pressed_ = true;
  } else if (mouse.Kind == mkUp) {
    const bool was = pressed_;
    pressed_ = false;
    if ((mouse.Buttons & mbLeft) && part != 0 && was && hover_) {
      SetMouseState(hover_ ? sbHot : sbNormal);
      StateChanged();
      Click();
      return;
    }
  }
  SetMouseState(pressed_ ? sbPressed : hover_ ? sbHot : sbNormal);
  StateChanged();
}

void TThemedSpeedButton::MouseLeave() {
  TKeepAlive self(this);
  TFrameSpeedButton::MouseLeave();
  if (TornDown()) return;
  hover_ = pressed_ = false;
  SetMouseState(sbNormal);
  StateChanged();
}

void TThemedSpeedButton::AfterResize() {
  TFrameSpeedButton::AfterResize();
  hasState_ = false;
  hitMask_.reset();
  if (images_) images_->Clear();
  StateChanged();
}

void TThemedSpeedButton::NotifyRefresh() {
  TKeepAlive self(this);
  TFrameSpeedButton::NotifyRefresh();
  if (TornDown() || !images_ || !images_->Animating()) return;
  images_->Tick();
  if (!TornDown()) InvalidateAll();
}

void TThemedSpeedButton::Paint(TDrawSurface* surface) {
  painted_ = {};
  if (!surface || TornDown() || !theme_ || !images_) return;
  const std::uint32_t state = State();
  if (!hasState_ || state != lastState_ || !images_->CurrentFrame().Bitmap) {
    std::u16string name;
    theme_->StateName(kind_, state, name, (state & sbsChecked) != 0);
    std::int32_t ms = 0;
    const bool animate = hasState_ && theme_->TransitionTime(lastState_, state, ms);
    images_->SetState(name, animate ? ms : 0, false);
    lastState_ = state;
    hasState_ = true;
    TPoint off;
    hitMask_ = theme_->HitMask(name, {Width(), Height()}, off);
    hitOffset_ = off;
  }
  auto f = images_->CurrentFrame();
  if (!f.Bitmap) return;
  surface->DrawBitmap(f.Offset.X, f.Offset.Y, f.Bitmap);
  painted_ = {f.Offset.X, f.Offset.Y, f.Offset.X + f.Bitmap->Width(), f.Offset.Y + f.Bitmap->Height()};
}

void TThemedSpeedButton::GetBounds(TRect& rect) {
  TFrameSpeedButton::GetBounds(rect);
  rect = {0, 0, Width(), Height()};
}

// ---- Hooks ------------------------------------------------------------------------------

TButtonThemeProc ButtonThemeHook = nullptr;
TSpeedButtonThemeProc SpeedButtonThemeHook = nullptr;

namespace {
TButtonTheme* MakeWinXPButtonTheme(TControlStyles* s) { return MakeRef<TWinXPButtonTheme>(s).get(); }
TSpeedButtonTheme* MakeWinXPSpeedButtonTheme(TControlStyles* s) { return MakeRef<TWinXPSpeedButtonTheme>(s).get(); }

THookInstall<TAllocFrameButtonProc> gThemedButton;
THookInstall<TAllocFrameSpeedButtonProc> gThemedSpeedButton;
int gInitCount = 0;
}  // namespace

// The styles' list keeps the theme the factory made; the factory's own reference is gone with its TRef.
TButtonTheme* ButtonThemeOf(TControlStyles* styles) {
  if (!styles) styles = DefaultControlStyles();
  if (auto* t = styles->FindTheme<TButtonTheme>()) return t;
  return ButtonThemeHook ? ButtonThemeHook(styles) : MakeRef<TButtonTheme>(styles).get();
}

TSpeedButtonTheme* SpeedButtonThemeOf(TControlStyles* styles) {
  if (!styles) styles = DefaultControlStyles();
  if (auto* t = styles->FindTheme<TSpeedButtonTheme>()) return t;
  return SpeedButtonThemeHook ? SpeedButtonThemeHook(styles) : MakeRef<TSpeedButtonTheme>(styles).get();
}

TFrameButton* AllocThemedFrameButton(TFrameControl* parent, TControlStyles* styles) {
  TControlStyles* s = styles ? styles : parent ? parent->GetStyles() : DefaultControlStyles();
  return NewControl<TThemedFrameButton>(parent, styles, ButtonThemeOf(s));
}

TFrameSpeedButton* AllocThemedSpeedButton(TFrameControl* parent, TControlStyles* styles) {
  TControlStyles* s = styles ? styles : parent ? parent->GetStyles() : DefaultControlStyles();
  return NewControl<TThemedSpeedButton>(parent, styles, SpeedButtonThemeOf(s));
}

void InitThemedButtons() {
  if (gInitCount++ > 0) return;
  ButtonThemeHook = &MakeWinXPButtonTheme;
  SpeedButtonThemeHook = &MakeWinXPSpeedButtonTheme;
  gThemedButton.Install(AllocFrameButton, &AllocThemedFrameButton);
  gThemedSpeedButton.Install(_AllocFrameSpeedButton, &AllocThemedSpeedButton);
}

void FiniThemedButtons() {
  if (gInitCount == 0 || --gInitCount > 0) return;
  ButtonThemeHook = nullptr;
  SpeedButtonThemeHook = nullptr;
  gThemedButton.Restore();
  gThemedSpeedButton.Restore();
  FreeThemeElementScratch();
}

}  // namespace zm
