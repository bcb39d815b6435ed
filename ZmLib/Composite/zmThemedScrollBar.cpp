#include "ZmLib/Composite/zmThemedScrollBar.h"

#include <algorithm>
#include <cmath>

#include "ZmLib/Application2/zmTimer2.h"
#include "ZmLib/Composite/winControlStyles.h"
#include "ZmLib/Composite/zmThemedButtons.h"
#include "ZmLib/Composite/zmThemedControlUtils.h"
#include "ZmLib/Graphics/zmPixelFormat.h"
#include "ZmLib/zmHookScope.h"

namespace zm {

namespace {

const char16_t* const kPartNames[] = {u"sbFirstButton", u"sbSecondButton", u"sbThumb",
                                      u"sbUpperTrack",  u"sbLowerTrack",   u"sbSizeBox"};
const char16_t* const kStateNames[] = {u"Disabled", u"Pressed", u"Hot", u"Focused", u"Normal"};

bool Contains(const TRect& r, std::int32_t x, std::int32_t y) {
  return x >= r.Left && x < r.Right && y >= r.Top && y < r.Bottom;
}

TColor32 Mix(TColor32 a, TColor32 b) {
  return {std::uint8_t((a.B + b.B) / 2), std::uint8_t((a.G + b.G) / 2), std::uint8_t((a.R + b.R) / 2), 255};
}

// The state name of a part: what the cache key ends with.
const char16_t* StateName(std::uint8_t part, std::uint32_t state) {
  if (state & spsDisabled) return u"Disabled";
  if (state & spsPressed) return part == spThumb || (state & spsHover) ? u"Pressed" : u"Hot";
  if (state & spsHover) return u"Hot";
  if (state & spsBarHot) return u"Focused";
  return u"Normal";
}

}  // namespace

// ---- TFrameScrollBarTheme ---------------------------------------------------------------

std::int32_t TFrameScrollBarTheme::ButtonLength(std::uint8_t o) { return o == 1 ? VScrollArrowHeight : HScrollArrowWidth; }
std::int32_t TFrameScrollBarTheme::Thickness(std::uint8_t o) { return o == 1 ? VScrollWidth : HScrollHeight; }
// Along a horizontal bar the vertical thumb's height, along a vertical one the horizontal thumb's width.
std::int32_t TFrameScrollBarTheme::MinThumbLength(std::uint8_t o) { return o == 1 ? HThumbWidth : VThumbHeight; }

TSize TFrameScrollBarTheme::DefaultSize(std::uint8_t o) {
  return o == 1 ? TSize{Thickness(1), 121} : TSize{121, Thickness(0)};
}

void TFrameScrollBarTheme::ButtonRect(const TSize& bar, std::uint8_t o, TRect& rect, std::int32_t which) {
  const std::int32_t len = std::min(ButtonLength(o), (o == 1 ? bar.cy : bar.cx) / 2);
  if (o == 1)
    rect = which == 0 ? TRect{0, 0, bar.cx, len} : TRect{0, bar.cy - len, bar.cx, bar.cy};
  else
    rect = which == 0 ? TRect{0, 0, len, bar.cy} : TRect{bar.cx - len, 0, bar.cx, bar.cy};
}

std::int32_t TFrameScrollBarTheme::ThumbLength(const TRect& track, std::uint8_t o, float page) {
  const std::int32_t len = o == 1 ? track.Bottom - track.Top : track.Right - track.Left;
  const double f = std::isfinite(page) ? std::clamp(double(page), 0.0, 1.0) : 0.0;
  return std::max(RoundHalfEven(len * f), MinThumbLength(o));
}

bool TFrameScrollBarTheme::TrackRect(const TSize& bar, std::uint8_t o, TRect& rect) {
  TRect first, second;
  ButtonRect(bar, o, first, 0);
  ButtonRect(bar, o, second, 1);
  rect = o == 1 ? TRect{0, first.Bottom, bar.cx, std::max(second.Top, first.Bottom)}
                : TRect{first.Right, 0, std::max(second.Left, first.Right), bar.cy};
  return true;
}

bool TFrameScrollBarTheme::TransitionTime(std::uint32_t, std::uint32_t, std::int32_t& ms) {
  ms = 0;
  return false;
}

void TFrameScrollBarTheme::CacheKey(std::uint8_t part, std::uint32_t state, std::u16string& key,
                                    std::uint8_t orientation) {
  ZM_ASSERT(orientation <= 1, "win9xFrameScrollBarTheme");
  key = orientation == 1 ? u"V" : u"H";
  if (part <= spSizeBox) key += kPartNames[part];
  key += StateName(part, state);
}

TRef<TDirectBitmap> TFrameScrollBarTheme::Draw(const std::u16string&, const TSize&) { return {}; }

bool ParseScrollBarKey(const std::u16string& key, std::uint8_t& orientation, std::uint8_t& part,
                       std::uint32_t& state) {
  if (key.empty() || (key[0] != u'H' && key[0] != u'V')) return false;
  orientation = key[0] == u'V' ? 1 : 0;
  std::u16string rest = key.substr(1);
  for (std::uint8_t p = 0; p <= spSizeBox; ++p) {
    const std::u16string name = kPartNames[p];
    if (rest.compare(0, name.size(), name) != 0) continue;
    const std::u16string s = rest.substr(name.size());
    for (std::size_t i = 0; i < 5; ++i) {
      if (s != kStateNames[i]) continue;
      part = p;
      static const std::uint32_t kStates[] = {spsDisabled, spsPressed | spsHover, spsHover, spsBarHot, 0};
      state = kStates[i];
      return true;
    }
  }
  return false;
}

// ---- TWin9xFrameScrollBarTheme ----------------------------------------------------------

TRef<TDirectBitmap> TWin9xFrameScrollBarTheme::Draw(const std::u16string& key, const TSize& size) {
  return DrawClassic(key, size);
}

TRef<TDirectBitmap> TWin9xFrameScrollBarTheme::DrawClassic(const std::u16string& key, const TSize& size) {
  std::uint8_t o = 0, part = 0;
  std::uint32_t state = 0;
  if (size.cx < 1 || size.cy < 1 || size.cx > 16384 || size.cy > 16384 || !ParseScrollBarKey(key, o, part, state))
    return {};
  TControlStyles* st = Styles();
  auto b = MakeRef<TDirectBitmap>(size.cx, PixelFormatByName(PF_A8R8G8B8), size.cy);
  const TRect all{0, 0, size.cx, size.cy};
  const bool disabled = state & spsDisabled, pressed = (state & spsPressed) && (state & spsHover);
  const auto raised = [&] {
    DrawClassicFrame(b.get(), all, st->LightColor, st->HighlightColor, st->DarkShadowColor, st->ShadowColor,
                     st->FaceColor);
  };
  if (part == spFirstButton || part == spSecondButton) {
    if (pressed) {
      b->FillRect(all, st->ShadowColor);
      if (size.cx > 2 && size.cy > 2) b->FillRect({1, 1, size.cx - 1, size.cy - 1}, st->FaceColor);
    } else {
      raised();
    }
    // Up, down, left or right by part and orientation.
    const std::int32_t dir = o == 1 ? (part == spFirstButton ? adUp : adDown) : (part == spFirstButton ? adLeft : adRight);
    const std::int32_t side = std::max(1, std::min(size.cx, size.cy) / 2);
    const TColor32 ink = disabled ? st->ShadowColor : TColor32{0, 0, 0, 255};
    if (TDirectBitmap* g = ArrowGlyph(part == spFirstButton ? 0 : 1, side, ink, dir)) {
      const std::int32_t d = pressed ? 1 : 0;
      const std::int32_t gx = (size.cx - side) / 2 + d, gy = (size.cy - side) / 2 + d;
      // Blend the glyph over the face by its alpha.
      for (std::int32_t y = 0; y < side; ++y)
        for (std::int32_t x = 0; x < side; ++x) {
          const std::int32_t tx = gx + x, ty = gy + y;
          if (tx < 0 || ty < 0 || tx >= size.cx || ty >= size.cy) continue;
          const TColor32 s = TColor32::FromValue(ArgbPixel(g, x, y));
          std::uint32_t* row = b->Row32(ty);
          TColor32 dcol = TColor32::FromValue(row[tx]);
          const auto mix = [&](std::uint8_t a, std::uint8_t c) { return std::uint8_t((c * s.A + a * (255 - s.A)) / 255); };
          dcol = {mix(dcol.B, s.B), mix(dcol.G, s.G), mix(dcol.R, s.R), 255};
          row[tx] = dcol.Value();
        }
    }
  } else if (part == spThumb && !disabled) {
    raised();
  } else {
    // Tracks, and a disabled thumb drawn as track.
    const bool held = part != spThumb && (state & spsPressed);
    b->FillRect(all, held ? st->FrameColor : Mix(st->FaceColor, st->HighlightColor));
  }
  return b;
}

// ---- TWinXPFrameScrollBarTheme ----------------------------------------------------------

bool ScrollBarHoverElements = false;

std::int32_t WinXPScrollBarElement(std::uint8_t part, std::uint32_t state, std::uint8_t o, bool hoverElements) {
  static const std::int32_t kBase[6][2] = {{10, 2}, {14, 6}, {18, 23}, {33, 43}, {28, 38}, {58, 59}};
  static const std::int32_t kHover[5][2] = {{62, 60}, {63, 61}, {22, 23}, {37, 47}, {32, 42}};
  if (part > spSizeBox || o > 1) return 0;
  const bool plain = !(state & (spsDisabled | spsPressed | spsHover));
  if (hoverElements && plain && (state & spsBarHot) && part != spSizeBox) return kHover[part][o];
  const std::int32_t add = state & spsDisabled ? 3 : (state & spsPressed) && (part == spThumb || (state & spsHover)) ? 2
                           : state & (spsHover | spsPressed)                                                         ? 1
                                                                                                                     : 0;
  return kBase[part][o] + add;
}

std::int32_t WinXPScrollBarTransition(std::uint32_t oldState, std::uint32_t newState) {
  if ((oldState ^ newState) & spsPressed) return 50;
  return (newState & ~oldState) ? 100 : 500;
}

bool TWinXPFrameScrollBarTheme::TransitionTime(std::uint32_t oldState, std::uint32_t newState, std::int32_t& ms) {
  if (!ThemesActive()) return TWin9xFrameScrollBarTheme::TransitionTime(oldState, newState, ms);
  ms = WinXPScrollBarTransition(oldState, newState);
  return true;
}

TRef<TDirectBitmap> TWinXPFrameScrollBarTheme::Draw(const std::u16string& key, const TSize& size) {
  if (!ThemesActive()) return DrawClassic(key, size);
  std::uint8_t o = 0, part = 0;
  std::uint32_t state = 0;
  if (!ParseScrollBarKey(key, o, part, state)) return {};
  auto b = RenderThemeElement(ThemedElement(TThemeKind::ScrollBar, WinXPScrollBarElement(part, state, o,
                                                                                          ScrollBarHoverElements)),
                              size.cx, size.cy, Styles()->FaceColor);
  return b ? b : DrawClassic(key, size);
}

// ---- Parts ------------------------------------------------------------------------------

TThemedScrollBarPart::TThemedScrollBarPart(TThemedFrameScrollBar* bar, std::uint8_t kind)
    : TThemedControlAnimatedPart(bar), bar_(bar), kind_(kind) {}

void TThemedScrollBarPart::Dispose() {
  bar_ = nullptr;
  TThemedControlAnimatedPart::Dispose();
}

std::uint32_t TThemedScrollBarPart::State() const {
  std::uint32_t s = 0;
  if ((Frame() && !Frame()->Enabled()) || (bar_ && !bar_->Enabled())) s |= spsDisabled;
  if (hover_) s |= spsHover;
  if (pressed_) s |= spsPressed;
  if (barHot_) s |= spsBarHot;
  return s;
}

void TThemedScrollBarPart::UpdateState() {
  if (TornDown() || !bar_ || !bar_->Theme()) return;
  const std::uint32_t state = State();
  if (hasState_ && state == lastState_) return;
  TFrameScrollBarTheme* theme = bar_->Theme();
  std::u16string key;
  theme->CacheKey(kind_, state, key, bar_->ThemeOrientation());
  std::int32_t ms = 0;
  const bool animate = hasState_ && theme->TransitionTime(lastState_, state, ms);
  theme->PartChanged(lastState_, state);
  lastState_ = state;
  hasState_ = true;
  SetStateAnimated(key, animate ? ms : 0);
}

void TThemedScrollBarPart::CreateImage(const std::u16string& key, TPoint& offset, TRef<TDirectBitmap>& bitmap) {
  offset = {};
  bitmap.reset();
  if (bar_ && bar_->Theme() && !key.empty() && Width() > 0 && Height() > 0)
    bitmap = bar_->Theme()->Draw(key, {Width(), Height()});
}

void TThemedScrollBarPart::SetHover(bool on) {
  if (on == hover_) return;
  hover_ = on;
  if (bar_) bar_->PartStateChanged();
}

void TThemedScrollBarPart::SetPressed(bool on) {
  if (on == pressed_) return;
  pressed_ = on;
  TKeepAlive self(this);
  if (bar_) bar_->PartStateChanged();
  if (!TornDown()) PressChanged();
}

void TThemedScrollBarPart::MouseEvent(TMouseData& mouse) {
  TKeepAlive self(this);
  TThemedControlAnimatedPart::MouseEvent(mouse);
  if (TornDown() || !bar_ || !bar_->Enabled()) return;
  SetHover(mouse.X >= 0 && mouse.Y >= 0 && mouse.X < Width() && mouse.Y < Height());
  if (TornDown()) return;
  if (mouse.Kind == mkDown && (mouse.Buttons & mbLeft))
    SetPressed(true);
  else if (mouse.Kind == mkUp && (mouse.Buttons & mbLeft))
    SetPressed(false);
  else if (mouse.Kind == mkMove && pressed_)
    Dragged(mouse);
}

void TThemedScrollBarPart::MouseLeave() {
  TKeepAlive self(this);
  TThemedControlAnimatedPart::MouseLeave();
  if (!TornDown()) SetHover(false);
}

void TThemedScrollBarPart::EnabledChanged() {
  TKeepAlive self(this);
  if (bar_ && !bar_->Enabled()) {
    hover_ = false;
    SetPressed(false);
  }
  if (!TornDown()) UpdateState();
}

// ---- Repeating parts --------------------------------------------------------------------

void TThemedScrollBarRepeater::Dispose() {
  StopTimer();
  TThemedScrollBarPart::Dispose();
}

namespace {
void OnRepeatTimer(void* data, TMultiTimerEvent*) {
  auto* part = static_cast<TThemedScrollBarRepeater*>(data);
  TKeepAlive keep(part);
  part->TimerTick();
}

void* StartMultiTimer(std::int32_t ms, TThemedScrollBarRepeater* part) {
  if (!CreateTimerHook && !MultiTimer()) return nullptr;
  try {
    return RegisterTimedCallback(ms, 0, &OnRepeatTimer, part);
  } catch (const ETimerError&) {
    return nullptr;  // no window timer: the hold works without repeats
  }
}

void StopMultiTimer(void* handle) {
  auto* e = static_cast<TMultiTimerEvent*>(handle);
  ReleaseTimedCallback(e);
}
}  // namespace

TScrollBarTimerProcs ScrollBarTimerProcs{&StartMultiTimer, &StopMultiTimer};

void TThemedScrollBarRepeater::StartTimer(std::int32_t ms) {
  StopTimer();
  interval_ = ms;
  if (ScrollBarTimerProcs.Start) timer_ = ScrollBarTimerProcs.Start(ms, this);
}

void TThemedScrollBarRepeater::StopTimer() {
  interval_ = 0;
  void* t = timer_;
  timer_ = nullptr;
  if (t && ScrollBarTimerProcs.Stop) ScrollBarTimerProcs.Stop(t);
}

void TThemedScrollBarRepeater::PressChanged() {
  if (pressed_) {
    Step();
    if (!TornDown() && pressed_) StartTimer(kScrollRepeatDelay);
  } else {
    StopTimer();
  }
}

void TThemedScrollBarRepeater::TimerTick() {
  if (TornDown() || !pressed_ || interval_ == 0) return;
  const bool first = interval_ != kScrollRepeatInterval;
  if (hover_) Step();
  if (!TornDown() && pressed_ && first) StartTimer(kScrollRepeatInterval);
}

void TThemedScrollBarButton::Step() {
  if (!bar_) return;
  const float d = bar_->SmallChange();
  bar_->SetScrollPosition(bar_->ScrollPosition() + (kind_ == spFirstButton ? -d : d));
}

void TThemedScrollBarTrack::Step() {
  if (!bar_) return;
  const float d = bar_->LargeChange();
  bar_->SetScrollPosition(bar_->ScrollPosition() + (kind_ == spUpperTrack ? -d : d));
}

void TThemedScrollBarTrack::MouseEvent(TMouseData& mouse) {
  const TPoint p = Position();
  mouse_ = {mouse.X + p.X, mouse.Y + p.Y};
  TThemedScrollBarPart::MouseEvent(mouse);
}

void TThemedScrollBarTrack::TimerTick() {
  if (TornDown() || !pressed_) return;
  // The piece moves with the thumb: it may have left the mouse behind.
  const TPoint p = Position();
  SetHover(Contains({p.X, p.Y, p.X + Width(), p.Y + Height()}, mouse_.X, mouse_.Y));
  if (!TornDown()) TThemedScrollBarRepeater::TimerTick();
}

void TThemedScrollBarThumb::MouseEvent(TMouseData& mouse) {
  TKeepAlive self(this);
  const bool was = pressed_;
  TThemedScrollBarPart::MouseEvent(mouse);
  if (TornDown() || !bar_) return;
  const TPoint p = Position();
  const TPoint inBar{mouse.X + p.X, mouse.Y + p.Y};
  if (!was && pressed_) {
    dragMouse_ = inBar;
    dragOrigin_ = p;
    dragPosition_ = bar_->ScrollPosition();
    return;
  }
  if (!pressed_ || mouse.Kind != mkMove) return;
  const bool vertical = bar_->Vertical();
  TRect tol = bar_->TrackRect();
  const std::int32_t along = kThumbToleranceAlong, across = kThumbToleranceAcross;
  tol = vertical ? TRect{tol.Left - across, tol.Top - along, tol.Right + across, tol.Bottom + along}
                 : TRect{tol.Left - along, tol.Top - across, tol.Right + along, tol.Bottom + across};
  float pos = dragPosition_;
  if (Contains(tol, inBar.X, inBar.Y)) {
    const TRect track = bar_->TrackRect();
    const std::int32_t room =
        (vertical ? track.Bottom - track.Top : track.Right - track.Left) - bar_->ThumbLength();
    const std::int32_t offset = vertical ? inBar.Y - dragMouse_.Y : inBar.X - dragMouse_.X;
    if (room > 0) pos = dragPosition_ + float(offset) / float(room);
  }
  bar_->SetScrollPosition(pos);
}

// ---- TThemedFrameScrollBar --------------------------------------------------------------

TThemedFrameScrollBar::TThemedFrameScrollBar(TFrameControl* parent, TControlStyles* styles, std::uint8_t orientation,
                                             TFrameScrollBarTheme* theme)
    : TFrameScrollBar(parent, styles, orientation), theme_(theme ? theme : ScrollBarThemeOf(GetStyles())) {
  parts_[spFirstButton] = NewControl<TThemedScrollBarButton>(this, spFirstButton);
  parts_[spSecondButton] = NewControl<TThemedScrollBarButton>(this, spSecondButton);
  parts_[spThumb] = NewControl<TThemedScrollBarThumb>(this, spThumb);
  parts_[spUpperTrack] = NewControl<TThemedScrollBarTrack>(this, spUpperTrack);
  parts_[spLowerTrack] = NewControl<TThemedScrollBarTrack>(this, spLowerTrack);
  Layout();
}

void TThemedFrameScrollBar::Dispose() {
  for (auto& p : parts_) p = nullptr;
  TFrameScrollBar::Dispose();
  theme_.reset();
}

void TThemedFrameScrollBar::AfterResize() {
  TFrameScrollBar::AfterResize();
  Layout();
}

void TThemedFrameScrollBar::StateChanged() {
  Layout();
  TFrameScrollBar::StateChanged();
}

TRect TThemedFrameScrollBar::TrackRect() {
  TRect r;
  if (!theme_ || !theme_->TrackRect({Width(), Height()}, ThemeOrientation(), r)) return {};
  return r;
}

std::int32_t TThemedFrameScrollBar::ThumbLength() {
  return theme_ ? theme_->ThumbLength(TrackRect(), ThemeOrientation(), Page()) : 0;
}

void TThemedFrameScrollBar::Layout() {
  if (TornDown() || !theme_) return;
  const TSize size{Width(), Height()};
  const std::uint8_t o = ThemeOrientation();
  const auto place = [](TThemedScrollBarPart* p, const TRect& r) {
    if (!p) return;
    p->SetPosition(r.Left, r.Top);
    p->SetSize(std::max(r.Right - r.Left, 0), std::max(r.Bottom - r.Top, 0));
  };
  TRect r;
  theme_->ButtonRect(size, o, r, 0);
  place(parts_[spFirstButton], r);
  theme_->ButtonRect(size, o, r, 1);
  place(parts_[spSecondButton], r);
  const TRect track = TrackRect();
  const std::int32_t start = o == 1 ? track.Top : track.Left, end = o == 1 ? track.Bottom : track.Right;
  const std::int32_t thumb = ThumbLength();
  const std::int32_t at = start + RoundHalfEven(double(end - start - thumb) * ScrollPosition());
  const std::int32_t thumbEnd = at + thumb;
  if (o == 1) {
    place(parts_[spThumb], {track.Left, at, track.Right, thumbEnd});
    place(parts_[spUpperTrack], {track.Left, start, track.Right, std::max(at, start)});
    place(parts_[spLowerTrack], {track.Left, std::min(thumbEnd, end), track.Right, end});
  } else {
    place(parts_[spThumb], {at, track.Top, thumbEnd, track.Bottom});
    place(parts_[spUpperTrack], {start, track.Top, std::max(at, start), track.Bottom});
    place(parts_[spLowerTrack], {std::min(thumbEnd, end), track.Top, end, track.Bottom});
  }
  for (auto* p : parts_)
    if (p) p->UpdateState();
}

void TThemedFrameScrollBar::PartStateChanged() {
  if (TornDown()) return;
  bool hot = false;
  for (auto* p : parts_) hot = hot || (p && (p->Hover() || p->Pressed()));
  for (auto* p : parts_)
    if (p) {
      p->SetBarHot(hot);
      p->UpdateState();
    }
}

void TThemedFrameScrollBar::SetEnabled(bool on) {
  TKeepAlive self(this);
  if (Frame()) Frame()->SetEnabled(on);
  for (TFrameControl* c = FirstChildControl(); c && !TornDown(); c = c->NextSiblingControl())
    if (auto* p = dynamic_cast<TThemedScrollBarPart*>(c)) p->EnabledChanged();
  InvalidateAll();
}

void TThemedFrameScrollBar::SetScrollPosition(float position) {
  const float before = ScrollPosition();
  SetPageAndPosition(Page(), position);
  if (ScrollPosition() != before && OnScroll && !TornDown()) {
    TKeepAlive self(this);
    OnScroll(this);
  }
}

void TThemedFrameScrollBar::PreferredSize(std::int32_t& width, std::int32_t& height) {
  width = Width();
  height = Height();
  if (!theme_) return;
  const TSize d = theme_->DefaultSize(ThemeOrientation());
  if (Vertical())
    width = d.cx;
  else
    height = d.cy;
}

// ---- Factories --------------------------------------------------------------------------

namespace {
THookInstall<TAllocFrameScrollBarProc> gThemedScrollBar;
int gInitCount = 0;
}  // namespace

TFrameScrollBarTheme* ScrollBarThemeOf(TControlStyles* styles) {
  if (!styles) styles = DefaultControlStyles();
  if (auto* t = styles->FindTheme<TFrameScrollBarTheme>()) return t;
  return MakeRef<TWin9xFrameScrollBarTheme>(styles).get();  // the styles' list keeps it
}

TFrameScrollBarTheme* MakeWinXPFrameScrollBarTheme(TControlStyles* styles) {
  return MakeRef<TWinXPFrameScrollBarTheme>(styles ? styles : DefaultControlStyles()).get();
}

TFrameScrollBar* AllocThemedFrameScrollBar(TFrameControl* parent, TControlStyles* styles, std::uint8_t orientation) {
  TControlStyles* s = styles ? styles : DefaultControlStyles();
  if (auto* t = s->FindTheme<TFrameScrollBarTheme>())
    return NewControl<TThemedFrameScrollBar>(parent, styles, orientation, t);
  const TAllocFrameScrollBarProc next = gThemedScrollBar.Saved();
  if (next && next != &AllocThemedFrameScrollBar) return next(parent, styles, orientation);
  return nullptr;
}

void InitThemedScrollBar() {
  if (gInitCount++ > 0) return;
  gThemedScrollBar.Install(AllocFrameScrollBar, &AllocThemedFrameScrollBar);
}

void FiniThemedScrollBar() {
  if (gInitCount == 0 || --gInitCount > 0) return;
  gThemedScrollBar.Restore();
}

}  // namespace zm
