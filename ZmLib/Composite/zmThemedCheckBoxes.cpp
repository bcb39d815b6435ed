#include "ZmLib/Composite/zmThemedCheckBoxes.h"

#include <algorithm>
#include <cmath>

#include "ZmLib/Composite/zmFrameCaption.h"
#include "ZmLib/Composite/zmThemedButtons.h"
#include "ZmLib/Composite/zmThemedControlUtils.h"
#include "ZmLib/Graphics/zmPixelFormat.h"
#include "ZmLib/VectorGraphics/zmRasterizerUtils.h"
#include "ZmLib/VectorGraphics/zmSvgUtils.h"
#include "ZmLib/zmHookScope.h"

namespace zm {

namespace {

constexpr std::int32_t kFocusCueCode = 1001;

TColor32 Opaque(TColor24 c) { return {c.B, c.G, c.R, 255}; }

TRef<TRasterHelper> gRaster;
TRef<TRasterHelper>& Raster() {
  if (!gRaster) gRaster = MakeRef<TRasterHelper>();
  return gRaster;
}

TControlStyles* StylesFor(TFrameControl* parent, TControlStyles* styles) {
  return styles ? styles : parent ? parent->GetStyles() : DefaultControlStyles();
}

void FillPath(TRasterHelper* r, const char* path, TColor32 color) {
  TPathPoints pts;
  if (!ParseSvgPath(std::string_view(path), pts)) return;
  r->Color = color;
  r->AddPath(pts, false);
}

// An ellipse as four cubic arcs from the rightmost point through the bottom, left and top.
void Ellipse(TRasterHelper* r, float cx, float cy, float rx, float ry, TColor32 color) {
  constexpr float k = 0.5522847f;
  TPathPoints p;
  AddPathPoint(p, cx + rx, cy, pcMove);
  const float pts[4][6] = {{cx + rx, cy + k * ry, cx + k * rx, cy + ry, cx, cy + ry},
                           {cx - k * rx, cy + ry, cx - rx, cy + k * ry, cx - rx, cy},
                           {cx - rx, cy - k * ry, cx - k * rx, cy - ry, cx, cy - ry},
                           {cx + k * rx, cy - ry, cx + rx, cy - k * ry, cx + rx, cy}};
  for (const auto& a : pts) {
    AddPathPoint(p, a[0], a[1], pcControl3);
    AddPathPoint(p, a[2], a[3], pcControl2);
    AddPathPoint(p, a[4], a[5], pcLine);
  }
  r->Color = color;
  r->AddPath(p, false);
}

}  // namespace

std::int32_t CheckGlyphSide(std::int32_t textHeight, double scale) {
  if (!(scale > 0.00001) || !std::isfinite(scale)) scale = 1;
  const double v = std::round(double(std::max<std::int64_t>(kMinGlyphSide, std::int64_t(textHeight) - 2)) * scale);
  return std::int32_t(std::clamp(v, 1.0, 4096.0));
}

namespace {
std::int32_t Clamp32(std::int64_t v) { return std::int32_t(std::clamp<std::int64_t>(v, 0, INT32_MAX)); }
}  // namespace

// ---- TCheckBoxTheme ---------------------------------------------------------------------

TSize TCheckBoxTheme::DefaultSize(std::int32_t f, const TSize& caption) {
  f = std::max(f, 0);
  return {Clamp32(std::int64_t(std::max(caption.cx, 0)) + f + kGlyphGap + kGlyphMargin), std::max(f, caption.cy)};
}

void TCheckBoxTheme::CaptionRect(std::int32_t f, const TSize& size, TRect& rect, std::int32_t captionWidth,
                                 bool rtl) {
  const std::int64_t w = std::max(size.cx, 0), room = std::int64_t(std::max(f, 0)) + kGlyphGap;
  const std::int64_t cw = std::max(captionWidth, 0);
  if (!rtl) {
    const std::int64_t left = std::min(room, w);
    const std::int64_t right = std::max(std::min(left + cw + kGlyphMargin, w - kGlyphMargin), left);
    rect = {Clamp32(left), 0, Clamp32(right), std::max(size.cy, 0)};
  } else {
    const std::int64_t right = std::max<std::int64_t>(w - room, 0);
    const std::int64_t left = std::min(std::max<std::int64_t>(right - cw - kGlyphMargin, kGlyphMargin), right);
    rect = {Clamp32(left), 0, Clamp32(right), std::max(size.cy, 0)};
  }
}

void TCheckBoxTheme::GlyphRect(std::int32_t side, const TSize& size, TRect& rect, bool rtl) {
  const std::int32_t top = (size.cy - side) / 2;
  const std::int32_t left = rtl ? size.cx - side : 0;
  rect = {left, top, left + side, top + side};
}

bool TCheckBoxTheme::TransitionTime(std::uint32_t, std::uint32_t, std::int32_t& ms) {
  ms = 0;
  return false;
}

void TCheckBoxTheme::Key(std::uint8_t check, std::uint32_t bits, std::u16string& key) {
  key = check == cbChecked ? u"cbChecked|" : check == cbNeutral ? u"cbNeutral|" : u"cbUnchecked|";
  key += bits & cbsDisabled                          ? u"Disabled"
         : (bits & cbsPressed) && (bits & cbsHot)   ? u"Pressed"
         : bits & (cbsHot | cbsPressed)             ? u"Hot"
                                                     : u"Normal";
}

void TCheckBoxTheme::ParseKey(const std::u16string& key, std::uint8_t& check, std::uint32_t& bits) {
  bits = 0;
  if (KeyHasName(key, u"Disabled")) bits |= cbsDisabled;
  if (KeyHasName(key, u"Hot")) bits |= cbsHot;
  if (KeyHasName(key, u"Pressed")) bits |= cbsPressed | cbsHot;
  check = KeyHasName(key, u"cbChecked") ? cbChecked : KeyHasName(key, u"cbNeutral") ? cbNeutral : cbUnchecked;
}

TRef<TDirectBitmap> TCheckBoxTheme::Draw(const std::u16string& key, const TSize& size) {
  std::uint8_t check;
  std::uint32_t bits;
  ParseKey(key, check, bits);
  return DrawClassic(check, bits, std::min(size.cx, size.cy));
}

void TCheckBoxTheme::DrawFocus(TDrawSurface* canvas, const TRect& rect, const TRect& clip) {
  if (!canvas) return;
  const TColor32 c = Opaque(Styles()->Font.Font.TextColor);
  const auto dot = [&](std::int32_t x, std::int32_t y) {
    if (((x - rect.Left + y - rect.Top) & 1) || x < clip.Left || x >= clip.Right || y < clip.Top || y >= clip.Bottom)
      return;
    canvas->FillRect({x, y, x + 1, y + 1}, c);
  };
  if (rect.Right <= rect.Left || rect.Bottom <= rect.Top) return;
  for (std::int32_t x = std::max(rect.Left, clip.Left - 1); x < std::min(rect.Right, clip.Right + 1); ++x) {
    dot(x, rect.Top);
    dot(x, rect.Bottom - 1);
  }
  for (std::int32_t y = std::max(rect.Top, clip.Top - 1); y < std::min(rect.Bottom, clip.Bottom + 1); ++y) {
    dot(rect.Left, y);
    dot(rect.Right - 1, y);
  }
}

TRef<TDirectBitmap> TCheckBoxTheme::DrawClassic(std::uint8_t check, std::uint32_t bits, std::int32_t side) {
  ZM_ASSERT(check <= cbChecked, "zmCtrlVectorDraw");
  if (side < 1 || side > 4096) return {};
  TControlStyles* st = Styles();
  const bool enabled = !(bits & cbsDisabled);
  TRasterHelper* r = Raster().get();
  r->BeginPaint(side, side, st->FaceColor);
  r->SetMatrix(ScalingMatrix(side / 13.0f, side / 13.0f));
  FillPath(r, "M0,0 L13,0 L12,1 L1,1 L1,12 L0,13", Raised ? st->HighlightColor : st->ShadowColor);
  FillPath(r, "M13,0 L13,13 L0,13 L1,12 L12,12 L12,1", Raised ? st->ShadowColor : st->HighlightColor);
  FillPath(r, "M1,1 L12,1 L12,12 L1,12", st->FaceColor);
  FillPath(r, "M2,2 L11,2 L11,11 L2,11", enabled ? st->WindowColor : st->FaceColor);
  if (check == cbChecked)
    FillPath(r, "M3,5 L5.5,8 L10,3 L10,5.5 L5.5,10 L3,7.5",
             enabled ? Opaque(st->Font.Font.TextColor) : st->ShadowColor);
  else if (check == cbNeutral)
    FillPath(r, "M3,3 L10,3 L10,10 L3,10", enabled ? st->DarkShadowColor : st->ShadowColor);
  r->ResetTransform();
  return r->EndPaint();
}

// ---- TRadioButtonTheme ------------------------------------------------------------------

void TRadioButtonTheme::Key(std::uint8_t check, std::uint32_t bits, std::u16string& key) {
  TCheckBoxTheme::Key(check == cbChecked ? cbChecked : cbUnchecked, bits, key);
  key.replace(0, 2, u"rb");
}

void TRadioButtonTheme::ParseKey(const std::u16string& key, std::uint8_t& check, std::uint32_t& bits) {
  TCheckBoxTheme::ParseKey(key, check, bits);
  check = KeyHasName(key, u"rbChecked") ? cbChecked : cbUnchecked;
}

TRef<TDirectBitmap> TRadioButtonTheme::DrawClassic(std::uint8_t check, std::uint32_t bits, std::int32_t side) {
  ZM_ASSERT(check <= cbChecked, "zmCtrlVectorDraw");
  if (side < 1 || side > 4096) return {};
  TControlStyles* st = Styles();
  const bool enabled = !(bits & cbsDisabled);
  TRasterHelper* r = Raster().get();
  r->BeginPaintTransparent(side, side);
  TMatrix m = TranslationMatrix(-37, -62.5f);
  m = MultiplyMatrix(m, ScalingMatrix(side / 509.0f, side / 486.0f));
  r->SetMatrix(m);
  Ellipse(r, 305.61254f, 291.37802f, 242.64295f, 254.28513f, {236, 250, 252, 255});
  Ellipse(r, 301.57211f, 286.70553f, 196.39121f, 199.44768f, Raised ? st->WindowColor : st->DarkShadowColor);
  Ellipse(r, 297.53113f, 283.2971f, 144.3256f, 151.38738f, enabled ? st->WindowColor : st->FaceColor);
  if (check == cbChecked)
    Ellipse(r, 296.34785f, 282.69458f, 80.66215f, 84.6088f,
            enabled ? Opaque(st->Font.Font.TextColor) : st->ShadowColor);
  r->ResetTransform();
  return r->EndPaint();
}

// ---- Visual styles ----------------------------------------------------------------------

bool ForceClassicCheckGlyphs = false;

namespace {
std::int32_t StateOffset(std::uint32_t bits) {
  return bits & cbsDisabled ? 3 : bits & cbsPressed ? 2 : bits & cbsHot ? 1 : 0;
}
}  // namespace

std::int32_t WinCheckBoxElement(std::uint8_t check, std::uint32_t bits) {
  return (check == cbChecked ? 20 : check == cbNeutral ? 24 : 16) + StateOffset(bits);
}

std::int32_t WinRadioButtonElement(std::uint8_t check, std::uint32_t bits) {
  return (check == cbChecked ? 12 : 8) + StateOffset(bits);
}

std::int32_t WinCheckTransition(std::uint32_t oldState, std::uint32_t newState) {
  if ((oldState >> 8) != (newState >> 8)) return 50;
  const std::uint32_t o = oldState & 0xFF, n = newState & 0xFF;
  if (o == n) return 0;
  const std::uint32_t added = n & ~o, removed = o & ~n;
  if ((added && added != cbsHot) || (removed && removed != cbsHot)) return 50;
  return 500;
}

namespace {
bool TransitionOf(std::uint32_t o, std::uint32_t n, std::int32_t& ms) {
  ms = WinCheckTransition(o, n);
  return ms > 0;
}

TRef<TDirectBitmap> DrawWinGlyph(TCheckBoxTheme* theme, const std::u16string& key, const TSize& size, bool radio) {
  std::uint8_t check;
  std::uint32_t bits;
  theme->ParseKey(key, check, bits);
  const std::int32_t side = std::min(size.cx, size.cy);
  const std::int32_t n = radio ? WinRadioButtonElement(check, bits) : WinCheckBoxElement(check, bits);
  auto b = RenderThemeElement(ThemedElement(TThemeKind::Button, n), side, side, theme->Styles()->FaceColor);
  return b ? b : theme->DrawClassic(check, bits, side);
}
}  // namespace

bool TWinCheckBoxTheme::TransitionTime(std::uint32_t o, std::uint32_t n, std::int32_t& ms) {
  if (!ThemesActive() || ForceClassicCheckGlyphs) return TCheckBoxTheme::TransitionTime(o, n, ms);
  return TransitionOf(o, n, ms);
}

TRef<TDirectBitmap> TWinCheckBoxTheme::Draw(const std::u16string& key, const TSize& size) {
  if (!ThemesActive() || ForceClassicCheckGlyphs) return TCheckBoxTheme::Draw(key, size);
  return DrawWinGlyph(this, key, size, false);
}

bool TWinRadioButtonTheme::TransitionTime(std::uint32_t o, std::uint32_t n, std::int32_t& ms) {
  if (!ThemesActive() || ForceClassicCheckGlyphs) return TRadioButtonTheme::TransitionTime(o, n, ms);
  return TransitionOf(o, n, ms);
}

TRef<TDirectBitmap> TWinRadioButtonTheme::Draw(const std::u16string& key, const TSize& size) {
  if (!ThemesActive() || ForceClassicCheckGlyphs) return TRadioButtonTheme::Draw(key, size);
  return DrawWinGlyph(this, key, size, true);
}

// ---- TCheckBoxImage ---------------------------------------------------------------------

TCheckBoxImage::TCheckBoxImage(TFrameControl* parent, TCheckBoxTheme* theme)
    : TThemedControlAnimatedPart(parent), theme_(theme) {}

void TCheckBoxImage::Dispose() {
  TThemedControlAnimatedPart::Dispose();
  theme_.reset();
}

void TCheckBoxImage::CreateImage(const std::u16string& key, TPoint& offset, TRef<TDirectBitmap>& bitmap) {
  offset = {};
  bitmap.reset();
  if (theme_ && !key.empty() && Width() > 0 && Height() > 0) bitmap = theme_->Draw(key, {Width(), Height()});
}

// ---- TThemedCheckControl ----------------------------------------------------------------

template <class Base>
TThemedCheckControl<Base>::TThemedCheckControl(TFrameControl* parent, TControlStyles* styles, TCheckBoxTheme* theme)
    : Base(parent, styles), theme_(theme) {
  if (std::is_same_v<Base, TFrameRadioButton>)
    glyph_ = NewControl<TRadioButtonImage>(this, theme);
  else
    glyph_ = NewControl<TCheckBoxImage>(this, theme);
  if (AllocFrameCaption) caption_ = AllocFrameCaption(this);
  focusHelper_ = TRef<TFocusHelper>(GetFocusHelper(this));
  if (focusHelper_) focusHelper_->Subscribe(TFocusHelper::kFocusChangedEvent, kFocusCueCode, this);
}

template <class Base>
void TThemedCheckControl<Base>::Dispose() {
  if (focusHelper_) {
    focusHelper_->Unsubscribe(TFocusHelper::kFocusChangedEvent, this);
    focusHelper_.reset();
  }
  glyph_ = nullptr;
  caption_ = nullptr;
  Base::Dispose();
  theme_.reset();
}

template <class Base>
void TThemedCheckControl<Base>::HandleEvent(TRefObject* sender, std::int32_t code, std::intptr_t param) {
  if (code == kFocusCueCode) {
    this->InvalidateAll();
    return;
  }
  Base::HandleEvent(sender, code, param);
}

template <class Base>
std::uint32_t TThemedCheckControl<Base>::StateBits() const {
  std::uint32_t s = 0;
  if (!Enabled()) s |= cbsDisabled;
  if (hover_) s |= cbsHot;
  if (pressed_) s |= cbsPressed;
  return s;
}

template <class Base>
std::int32_t TThemedCheckControl<Base>::GlyphSide() {
  TTextFormat f;
  this->GetTextFormat(f);
  auto e = CreateCaptionText(f.Font, u"Wg");
  // The drawing device is the screen at 96 dpi here.
  return CheckGlyphSide(e ? e->GetMetrics().Height : 0, 1.0);
}

template <class Base>
void TThemedCheckControl<Base>::Changed() {
  if (this->TornDown() || !theme_) return;
  TKeepAlive self(this);
  const TSize size{this->Width(), this->Height()};
  const std::int32_t side = GlyphSide();
  if (glyph_) {
    TRect g;
    theme_->GlyphRect(side, size, g, rtl_);
    glyph_->SetPosition(g.Left, g.Top);
    glyph_->SetSize(g.Right - g.Left, g.Bottom - g.Top);
  }
  if (caption_) {
    TTextFormat f;
    this->GetTextFormat(f);
    auto e = CreateCaptionText(f.Font, u"Wg");
    const std::int32_t room = std::max(side, e ? e->GetMetrics().Height : 0);
    TRect c;
    theme_->CaptionRect(room, size, c, caption_->PreferredWidth(), rtl_);
    caption_->SetPosition(c.Left, c.Top);
    caption_->SetSize(c.Right - c.Left, c.Bottom - c.Top);
  }
  if (this->TornDown()) return;
  const std::uint32_t state = StateBits() | std::uint32_t(CheckState()) << 8;
  if (glyph_ && (!hasState_ || state != lastState_)) {
    std::u16string key;
    theme_->Key(CheckState(), StateBits(), key);
    std::int32_t ms = 0;
    const bool animate = hasState_ && theme_->TransitionTime(lastState_, state, ms);
    lastState_ = state;
    hasState_ = true;
    glyph_->SetStateAnimated(key, animate ? ms : 0);
  }
  this->InvalidateAll();
}

template <class Base>
void TThemedCheckControl<Base>::PreferredSize(std::int32_t& width, std::int32_t& height) {
  TTextFormat f;
  this->GetTextFormat(f);
  auto e = CreateCaptionText(f.Font, u"Wg");
  const std::int32_t room = std::max(GlyphSide(), e ? e->GetMetrics().Height : 0);
  TSize cap{};
  if (caption_ && !caption_->Text().empty()) cap = {caption_->PreferredWidth(), caption_->PreferredHeight()};
  const TSize s = theme_ ? theme_->DefaultSize(room, cap) : TSize{this->Width(), this->Height()};
  width = s.cx;
  height = s.cy;
}

template <class Base>
void TThemedCheckControl<Base>::SetText(const std::u16string& text) {
  if (caption_) caption_->SetText(text);
  Changed();
}

template <class Base>
void TThemedCheckControl<Base>::SetRightToLeft(bool on) {
  rtl_ = on;
  if (caption_) caption_->SetRightToLeft(on);
  Changed();
}

template <class Base>
void TThemedCheckControl<Base>::SetEnabled(bool on) {
  if (this->Frame()) this->Frame()->SetEnabled(on);
  if (!on) pressed_ = false;
  Changed();
}

template <class Base>
void TThemedCheckControl<Base>::MouseEvent(TMouseData& mouse) {
  TKeepAlive self(this);
  Base::MouseEvent(mouse);
  if (this->TornDown() || !Enabled()) return;
  hover_ = mouse.X >= 0 && mouse.Y >= 0 && mouse.X < this->Width() && mouse.Y < this->Height();
  if (mouse.Kind == mkDown && (mouse.Buttons & mbLeft)) {
    pressed_ = true;
    this->SetFocus();
  } else if (mouse.Kind == mkUp && (mouse.Buttons & mbLeft) && pressed_) {
    pressed_ = false;
    if (hover_) {
      this->Click();
      if (this->TornDown()) return;
    }
  }
  Changed();
}

template <class Base>
void TThemedCheckControl<Base>::MouseLeave() {
  TKeepAlive self(this);
  Base::MouseLeave();
  if (this->TornDown()) return;
  hover_ = false;
  Changed();
}

template <class Base>
void TThemedCheckControl<Base>::FocusChanged(bool gained) {
  TKeepAlive self(this);
  Base::FocusChanged(gained);
  if (!this->TornDown()) Changed();
}

template <class Base>
void TThemedCheckControl<Base>::AfterResize() {
  Base::AfterResize();
  Changed();
}

template <class Base>
void TThemedCheckControl<Base>::Paint(TDrawSurface* surface) {
  if (!surface || !caption_ || !theme_ || !Enabled() || !this->Focused()) return;
  if (!focusHelper_ || !focusHelper_->ShowFocus()) return;
  const TPoint p = caption_->Position();
  const TRect r{p.X - 1, p.Y, p.X + caption_->Width() + 1, p.Y + caption_->Height()};
  theme_->DrawFocus(surface, r, {0, 0, this->Width(), this->Height()});
}

template class TThemedCheckControl<TFrameCheckBox>;
template class TThemedCheckControl<TFrameRadioButton>;

// ---- Controls ---------------------------------------------------------------------------

TThemedFrameCheckBox::TThemedFrameCheckBox(TFrameControl* parent, TControlStyles* styles, TCheckBoxTheme* theme)
    : TThemedCheckControl<TFrameCheckBox>(parent, styles, theme ? theme : CheckBoxThemeOf(StylesFor(parent, styles))) {
  Changed();
}

std::vector<TFrameRadioButton*> RadioGroupOf(TFrameRadioButton* control) {
  std::vector<TFrameRadioButton*> out;
  if (!control) return out;
  TFrameControl* p = control->ParentControl();
  if (!p) return {control};
  for (TFrameControl* c = p->FirstChildControl(); c; c = c->NextSiblingControl())
    if (auto* r = dynamic_cast<TFrameRadioButton*>(c); r && !r->TornDown()) out.push_back(r);
  return out;
}

TThemedFrameRadioButton::TThemedFrameRadioButton(TFrameControl* parent, TControlStyles* styles,
                                                 TCheckBoxTheme* theme)
    : TThemedCheckControl<TFrameRadioButton>(parent, styles, theme ? theme : RadioButtonThemeOf(StylesFor(parent, styles))) {
  bool tabStop = false, checked = false;
  for (TFrameRadioButton* r : RadioGroupOf(this)) {
    if (r == this) continue;
    tabStop = tabStop || r->GetTabStop();
    checked = checked || r->Checked();
  }
  SetTabStop(!tabStop);
  if (!checked) SetChecked(true);
  Changed();
}

void TThemedFrameRadioButton::SetChecked(bool on) {
  TKeepAlive self(this);
  TFrameRadioButton::SetChecked(on);
  if (!on || TornDown()) return;
  for (TFrameRadioButton* r : RadioGroupOf(this)) {
    if (r == this) continue;
    r->SetTabStop(false);
    r->SetChecked(false);
  }
  SetTabStop(true);
}

void TThemedFrameRadioButton::FocusChanged(bool gained) {
  TKeepAlive self(this);
  if (gained) {
    for (TFrameRadioButton* r : RadioGroupOf(this))
      if (r != this) r->SetTabStop(false);
    SetTabStop(true);
  }
  TThemedCheckControl<TFrameRadioButton>::FocusChanged(gained);
}

void TThemedFrameRadioButton::KeyNotify(TKeyboardData* key) {
  TKeepAlive self(this);
  TThemedCheckControl<TFrameRadioButton>::KeyNotify(key);
  if (!key || key->Handled || TornDown() || key->Kind != kkKeyDown || key->Key < 37 || key->Key > 40) return;
  const bool back = key->Key == 37 || key->Key == 38;
  auto group = RadioGroupOf(this);
  const auto self_it = std::find(group.begin(), group.end(), this);
  if (self_it == group.end() || group.size() < 2) return;
  const std::size_t n = group.size(), at = std::size_t(self_it - group.begin());
  for (std::size_t step = 1; step < n; ++step) {
    TFrameRadioButton* r = group[back ? (at + n - step) % n : (at + step) % n];
    if (r->Frame() && !r->Frame()->Enabled()) continue;
    key->Handled = true;
    r->SetFocus();
    return;
  }
}

// ---- Hooks ------------------------------------------------------------------------------

TCheckBoxThemeProc CheckBoxThemeHook = nullptr;
TRadioButtonThemeProc RadioButtonThemeHook = nullptr;

namespace {
TCheckBoxTheme* MakeWinCheckBoxTheme(TControlStyles* s) { return MakeRef<TWinCheckBoxTheme>(s).get(); }
TRadioButtonTheme* MakeWinRadioButtonTheme(TControlStyles* s) { return MakeRef<TWinRadioButtonTheme>(s).get(); }
THookInstall<TAllocFrameCheckBoxProc> gThemedCheckBox;
THookInstall<TAllocFrameRadioButtonProc> gThemedRadioButton;
int gInitCount = 0;
}  // namespace

// A radio theme is a check-box theme too: the check box takes only a plain one.
TCheckBoxTheme* CheckBoxThemeOf(TControlStyles* styles) {
  if (!styles) styles = DefaultControlStyles();
  for (TRefObject* t : styles->Themes())
    if (auto* c = dynamic_cast<TCheckBoxTheme*>(t); c && !dynamic_cast<TRadioButtonTheme*>(t)) return c;
  return CheckBoxThemeHook ? CheckBoxThemeHook(styles) : MakeRef<TCheckBoxTheme>(styles).get();
}

TRadioButtonTheme* RadioButtonThemeOf(TControlStyles* styles) {
  if (!styles) styles = DefaultControlStyles();
  if (auto* t = styles->FindTheme<TRadioButtonTheme>()) return t;
  return RadioButtonThemeHook ? RadioButtonThemeHook(styles) : MakeRef<TRadioButtonTheme>(styles).get();
}

TFrameCheckBox* AllocThemedFrameCheckBox(TFrameControl* parent, TControlStyles* styles) {
  return NewControl<TThemedFrameCheckBox>(parent, styles, CheckBoxThemeOf(StylesFor(parent, styles)));
}

TFrameRadioButton* AllocThemedFrameRadioButton(TFrameControl* parent, TControlStyles* styles) {
  return NewControl<TThemedFrameRadioButton>(parent, styles, RadioButtonThemeOf(StylesFor(parent, styles)));
}

void InitThemedCheckBoxes() {
  if (gInitCount++ > 0) return;
  CheckBoxThemeHook = &MakeWinCheckBoxTheme;
  RadioButtonThemeHook = &MakeWinRadioButtonTheme;
  gThemedCheckBox.Install(_AllocFrameCheckBox, &AllocThemedFrameCheckBox);
  gThemedRadioButton.Install(_AllocFrameRadioButton, &AllocThemedFrameRadioButton);
}

void FiniThemedCheckBoxes() {
  if (gInitCount == 0 || --gInitCount > 0) return;
  CheckBoxThemeHook = nullptr;
  RadioButtonThemeHook = nullptr;
  gThemedCheckBox.Restore();
  gThemedRadioButton.Restore();
  gRaster.reset();
}

}  // namespace zm
