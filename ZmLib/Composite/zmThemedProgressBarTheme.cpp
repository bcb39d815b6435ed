#include "ZmLib/Composite/zmThemedProgressBarTheme.h"

#include <algorithm>
#include <exception>

namespace zm {

// ---- TProgressBarTheme ------------------------------------------------------------------

void TProgressBarTheme::Dispose() {
  ZM_ASSERT(drawers_.empty(), "TProgressBarTheme.Dispose: drawers still registered");
  StopListening();
  TFrameControlTheme::Dispose();
}

TRefreshNotifier* TProgressBarTheme::Notifier() {
  if (!notifier_) notifier_ = GlobalRefreshNotifier();
  return notifier_;
}

void TProgressBarTheme::AddDrawer(TProgressBarDrawer* drawer) {
  if (!drawer || std::find(drawers_.begin(), drawers_.end(), drawer) != drawers_.end()) return;
  drawers_.push_back(drawer);
  if (drawers_.size() != 1) return;
  try {
    StartListening();
  } catch (...) {
    // The drawer's construction fails with this: it must not stay listed.
    drawers_.pop_back();
    throw;
  }
}

void TProgressBarTheme::RemoveDrawer(TProgressBarDrawer* drawer) {
  auto it = std::find(drawers_.begin(), drawers_.end(), drawer);
  ZM_ASSERT(it != drawers_.end(), "TProgressBarTheme.RemoveDrawer: drawer not registered");
  drawers_.erase(it);
}

void TProgressBarTheme::Animate() {
  if (drawers_.empty()) {
    StopListening();
    return;
  }
  TKeepAlive self(this);
  // A step may repaint, and a repaint may free a bar: walk a copy.
  std::vector<TProgressBarDrawer*> list = drawers_;
  for (TProgressBarDrawer* d : list)
    if (std::find(drawers_.begin(), drawers_.end(), d) != drawers_.end()) {
      TKeepAlive keep(d);
      d->AnimateStep();
    }
}

// ---- TThemedFrameProgressBar ------------------------------------------------------------

TThemedFrameProgressBar::TThemedFrameProgressBar(TFrameControl* parent, TControlStyles* styles,
                                                 TProgressBarTheme* theme)
    : TFrameProgressBar(parent, styles), theme_(theme) {
  if (!theme_) return;  // draws nothing
  // The bar has joined its parent's tree already: a throw from here would
  // leave the tree holding a freed control, so a drawer that cannot be made
  // (no timer for its animation) leaves the bar drawing nothing instead.
  try {
    drawer_ = theme_->MakeDrawer();
  } catch (const std::exception&) {
    drawer_.reset();
  }
  if (drawer_)
    drawer_->OnRepaint = [this] {
      if (!TornDown()) InvalidateAll();
    };
  TSize s = theme_->DefaultSize();
  SetSize(s.cx, s.cy);
}

void TThemedFrameProgressBar::Dispose() {
  if (drawer_) {
    drawer_->OnRepaint = nullptr;
    drawer_.reset();
  }
  theme_.reset();
  TFrameProgressBar::Dispose();
}

void TThemedFrameProgressBar::AfterResize() {
  TFrameProgressBar::AfterResize();
  if (drawer_) drawer_->SetSize(Width(), Height());
  InvalidateAll();
}

void TThemedFrameProgressBar::Paint(TDrawSurface* surface) {
  if (drawer_ && surface) drawer_->Paint(surface);
}

void TThemedFrameProgressBar::SetReversed(bool on) {
  if (on == reversed_) return;
  reversed_ = on;
  if (drawer_ && Marquee()) drawer_->StartMarquee(on);
  InvalidateAll();
}

void TThemedFrameProgressBar::ValueChanged() {
  if (!drawer_) return;
  bool animating = false;
  drawer_->SetValue(reversed_, animating, Value());
  if (animating) InvalidateAll();
}

void TThemedFrameProgressBar::BarStateChanged() {
  if (!drawer_) return;
  drawer_->SetState(BarState());
  InvalidateAll();
}

void TThemedFrameProgressBar::MarqueeChanged() {
  if (!drawer_) return;
  if (Marquee())
    drawer_->StartMarquee(reversed_);
  else
    drawer_->StopMarquee();
  InvalidateAll();
}

// ---- Hooks ------------------------------------------------------------------------------

namespace {
TProgressBarTheme* NoTheme(TControlStyles*) { ZM_FAIL("AllocProgressBarTheme undefined"); }
}  // namespace

TAllocProgressBarThemeProc AllocProgressBarTheme = &NoTheme;

TFrameProgressBar* AllocThemedFrameProgressBar(TFrameControl* parent, TControlStyles* styles) {
  TControlStyles* s = styles ? styles : parent ? parent->GetStyles() : DefaultControlStyles();
  TProgressBarTheme* theme = s->FindTheme<TProgressBarTheme>();
  if (!theme) theme = AllocProgressBarTheme(s);  // registered in the styles' list
  return NewControl<TThemedFrameProgressBar>(parent, styles, theme);
}

void InitThemedProgressBarTheme() {
  AllocProgressBarTheme = &NoTheme;
  _AllocFrameProgressBar = &AllocThemedFrameProgressBar;
}

void FiniThemedProgressBarTheme() { AllocProgressBarTheme = &NoTheme; }

}  // namespace zm
