#include "ZmLib/Composite/zmThemedProgressBarStdTheme.h"

#include <algorithm>
#include <cmath>

namespace zm {

namespace {
TRect Cut(const TRect& a, const TRect& b) {
  return {std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right), std::min(a.Bottom, b.Bottom)};
}
void Fill(TDrawSurface* c, const TRect& r, TColor32 color) {
  if (r.Right > r.Left && r.Bottom > r.Top) c->FillRect(r, color);
}
float Clamp01(float v) {
  if (!(v > 0)) return 0;  // NaN too
  return v > 1 ? 1 : v;
}
}  // namespace

TProgressBlocks TProgressBlocks::For(std::int32_t w, std::int32_t h) {
  TProgressBlocks b;
  b.Width = std::max<std::int32_t>(1, std::int32_t((std::int64_t(h) - 8) / 1.5));
  const std::int64_t room = std::int64_t(w) - 8;
  b.Count = room > 0 ? std::int32_t((room + b.Step() - 1) / b.Step()) : 0;
  return b;
}

bool ProgressShowsBlocks(std::int32_t w, std::int32_t h) { return w >= 9 && h >= 9; }

TColor32 ProgressStateColor(TControlStyles* styles, std::uint8_t state) {
  switch (state) {
    case 0: {
      const TColor24 c = styles ? styles->SelectionFont.Font.BackColor : TColor24{};
      return {c.B, c.G, c.R, 255};
    }
    case 1:
    case 4: return {0, 0, 255, 255};
    case 2: return {0, 255, 255, 255};
    case 3: return {255, 0, 0, 255};
    default: ZM_FAIL("TStdDrawer: bar state out of range");
  }
}

// ---- TStdProgressAnimator ---------------------------------------------------------------

void TStdProgressAnimator::StartValue(float target, std::uint32_t now) {
  Start = ShownValue(now);
  Target = target;
  StartTime = now;
  Animating = true;
}

float TStdProgressAnimator::ShownValue(std::uint32_t now) {
  ZM_ASSERT(!MarqueeRunning, "TStdProgressAnimator: no value while a marquee runs");
  if (!Animating) return Target;
  const std::uint32_t elapsed = now - StartTime;
  if (Duration <= 0 || elapsed >= std::uint32_t(Duration)) {
    Animating = false;
    return Target;
  }
  return Start + (Target - Start) * float(elapsed) / float(Duration);
}

void TStdProgressAnimator::StartMarquee(bool reversed, std::int32_t cycle, std::uint32_t now) {
  cycle = std::max(cycle, 1);
  if (MarqueeRunning && reversed != MarqueeReversed) {
    // The same offset, counted the other way.
    const std::int32_t o = MarqueeOffset(now);
    const std::int64_t base = reversed ? (cycle - o) % cycle : o;
    StartTime = now - std::uint32_t(base * 1000 / std::max(Speed, 1));
  } else if (!MarqueeRunning) {
    StartTime = now;
  }
  CycleLength = cycle;
  MarqueeReversed = reversed;
  MarqueeRunning = true;
  Animating = false;
}

std::int32_t TStdProgressAnimator::MarqueeOffset(std::uint32_t now) const {
  ZM_ASSERT(MarqueeRunning, "TStdProgressAnimator: no marquee runs");
  const std::int32_t cycle = std::max(CycleLength, 1);
  const std::int32_t raw = std::int32_t(std::int64_t(now - StartTime) * Speed / 1000 % cycle);
  return MarqueeReversed ? (cycle - raw) % cycle : raw;
}

// ---- TStdDrawer -------------------------------------------------------------------------

TStdDrawer::TStdDrawer(TProgressBarStdTheme* theme, TStdProgressAnimator* animator)
    : animator_(animator), theme_(theme) {
  ZM_ASSERT(theme_ && animator_, "TStdDrawer: theme and animator needed");
  theme_->AddDrawer(this);
}

void TStdDrawer::Dispose() {
  if (theme_) {
    theme_->RemoveDrawer(this);
    theme_.reset();
  }
  animator_.reset();
  OnRepaint = nullptr;
  TProgressBarDrawer::Dispose();
}

std::int32_t TStdDrawer::Cycle() const {
  const TProgressBlocks b = TProgressBlocks::For(width_, height_);
  return (b.Count + kProgressMarqueeBlocks) * b.Step();
}

void TStdDrawer::SetSize(std::int32_t width, std::int32_t height) {
  width_ = std::max(width, 0);
  height_ = std::max(height, 0);
  animator_->CycleLength = Cycle();
}

void TStdDrawer::SetState(std::uint8_t state) {
  ProgressStateColor(nullptr, state);  // asserts on states out of range
  state_ = state;
}

void TStdDrawer::StartMarquee(bool reversed) {
  marquee_ = true;
  reversed_ = reversed;
  animator_->StartMarquee(reversed, Cycle(), ControlTimeMs());
}

void TStdDrawer::StopMarquee() {
  marquee_ = false;
  animator_->StopMarquee();
  animator_->Start = animator_->Target = value_;
  lastOffset_ = -1;
}

void TStdDrawer::SetValue(bool reversed, bool& animating, float value) {
  reversed_ = reversed;
  value_ = value;
  if (marquee_) {
    animator_->Start = animator_->Target = value;
    animating = false;
    return;
  }
  animator_->StartValue(value, ControlTimeMs());
  animating = true;
}

float TStdDrawer::ShownValue() { return marquee_ ? value_ : animator_->ShownValue(ControlTimeMs()); }

bool TStdDrawer::IsAnimating() { return marquee_ || animator_->Animating; }

void TStdDrawer::AnimateStep() {
  if (marquee_) {
    const std::int32_t o = animator_->MarqueeOffset(ControlTimeMs());
    if (o == lastOffset_) return;
    lastOffset_ = o;
  } else if (animator_->Animating) {
    animator_->ShownValue(ControlTimeMs());  // ends the animation when its time is up
  } else {
    return;
  }
  if (OnRepaint) OnRepaint();
}

void TStdDrawer::Paint(TDrawSurface* canvas) { PaintStd(canvas); }

void TStdDrawer::PaintStd(TDrawSurface* c) {
  if (!c || width_ < 1 || height_ < 1) return;
  TControlStyles* st = theme_ ? theme_->Styles() : DefaultControlStyles();
  const std::int32_t w = width_, h = height_;
  // The sunken ring (the light lines own the far corners), then the face.
  Fill(c, {0, 0, w, 1}, st->ShadowColor);
  Fill(c, {0, 0, 1, h}, st->ShadowColor);
  Fill(c, {0, h - 1, w, h}, st->HighlightColor);
  Fill(c, {w - 1, 0, w, h}, st->HighlightColor);
  Fill(c, {1, 1, w - 1, h - 1}, st->FaceColor);
  const TRect inner{2, 2, w - 2, h - 2};
  if (inner.Right <= inner.Left || inner.Bottom <= inner.Top) return;
  const TColor32 color = ProgressStateColor(st, state_);
  const bool smooth = state_ >= 3;
  if (!smooth && !ProgressShowsBlocks(w, h)) return;
  const TProgressBlocks b = TProgressBlocks::For(w, h);
  if (marquee_) {
    const std::int32_t o = animator_->MarqueeOffset(ControlTimeMs());
    lastOffset_ = o;
    if (smooth) {
      Fill(c, Cut({inner.Left + o - kProgressMarqueeBlocks * b.Step(), inner.Top, inner.Left + o, inner.Bottom}, inner),
           color);
      return;
    }
    const std::int32_t first = (o + b.Step() - 1) / b.Step() - kProgressMarqueeBlocks;
    for (std::int32_t i = first; i < first + kProgressMarqueeBlocks; ++i) {
      const std::int32_t x = inner.Left + i * b.Step();
      Fill(c, Cut({x, inner.Top, x + b.Width, inner.Bottom}, inner), color);
    }
    return;
  }
  const float v = Clamp01(ShownValue());
  if (smooth) {
    const auto fill = std::int32_t(std::lround(double(inner.Right - inner.Left) * v));
    Fill(c, {inner.Left, inner.Top, inner.Left + fill, inner.Bottom}, color);
    return;
  }
  const auto shown = std::int32_t(std::lround(double(b.Count) * v));
  for (std::int32_t i = 0; i < shown; ++i) {
    const std::int32_t x = inner.Left + i * b.Step();
    Fill(c, Cut({x, inner.Top, x + b.Width, inner.Bottom}, inner), color);
  }
}

// ---- TProgressBarStdTheme ---------------------------------------------------------------

void TAnimateHandler::HandleEvent(TRefObject*, std::int32_t code, std::intptr_t) {
  if (code == TRefreshNotifier::kRefreshEvent && theme_) theme_->Animate();
}

TProgressBarStdTheme::TProgressBarStdTheme(TControlStyles* styles) : TProgressBarTheme(styles) {}

void TProgressBarStdTheme::Dispose() {
  TProgressBarTheme::Dispose();  // stops listening
  if (handler_) {
    handler_->Detach();
    handler_.reset();
  }
}

TRef<TProgressBarDrawer> TProgressBarStdTheme::MakeDrawer() {
  auto animator = MakeRef<TStdProgressAnimator>();
  return MakeRef<TStdDrawer>(this, animator.get());
}

bool TProgressBarStdTheme::Listening() const { return listeningOn_ != nullptr; }

void TProgressBarStdTheme::StartListening() {
  if (listeningOn_) return;
  if (!handler_) handler_ = MakeRef<TAnimateHandler>(this);
  TRef<TRefreshNotifier> n(Notifier());
  try {
    n->AddListener(handler_.get());
  } catch (...) {
    // The notifier could not start its clock: not listening after all.
    try {
      n->RemoveListener(handler_.get());
    } catch (...) {
    }
    throw;
  }
  listeningOn_ = std::move(n);
}

void TProgressBarStdTheme::StopListening() {
  if (!listeningOn_) return;
  TRef<TRefreshNotifier> n = std::move(listeningOn_);
  if (handler_) n->RemoveListener(handler_.get());
}

TProgressBarTheme* MakeProgressBarStdTheme(TControlStyles* styles) {
  return MakeRef<TProgressBarStdTheme>(styles).get();  // the styles' list holds it
}

void InitThemedProgressBarStdTheme() { AllocProgressBarTheme = &MakeProgressBarStdTheme; }
void FiniThemedProgressBarStdTheme() {}

}  // namespace zm
