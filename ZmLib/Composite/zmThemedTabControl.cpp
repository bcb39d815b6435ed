#include "ZmLib/Composite/zmThemedTabControl.h"

#include <algorithm>
#include <cmath>

#include "ZmLib/Composite/zmEvents.h"
#include "ZmLib/Composite/zmFrameCaption.h"
#include "ZmLib/Win32/winInput.h"
#include "ZmLib/zmHookScope.h"

namespace zm {

TAllocFrameTabControlProc AllocFrameTabControl = nullptr;

namespace {
constexpr std::uint16_t kKeyTab = 9;
constexpr std::int32_t kScrollMargin = 12;  // keeps part of the neighbouring tab in view
constexpr std::int32_t kMinAutoSize = 50;
}  // namespace

// ---- TPushControl -----------------------------------------------------------------------

void TPushControl::Dispose() {
  bitmap_.reset();
  TFrameControl::Dispose();
}

void TPushControl::Rebuild() {
  bitmap_.reset();
  InvalidateAll();
}

TDirectBitmap* TPushControl::Bitmap() {
  if (!bitmap_ && !TornDown()) {
    TTabBitmap b = BuildBitmap();
    bitmap_ = b.Bitmap;
    offset_ = b.Offset;
  }
  return bitmap_.get();
}

void TPushControl::MouseEvent(TMouseData& mouse) {
  TKeepAlive self(this);
  TFrameControl::MouseEvent(mouse);
  if (TornDown()) return;
  const bool inside = HitTest(mouse.X, mouse.Y);
  switch (mouse.Kind) {
    case mkMove:
      if (inside != hot_) {
        hot_ = inside;
        Rebuild();
      }
      break;
    case mkDown:
    case mkDoubleClick:
      if (mouse.Buttons & mbLeft) {
        hot_ = inside;
        pressed_ = true;
        mouse.Handled = true;
        Rebuild();
        Pushed();
      }
      break;
    case mkUp:
      if (pressed_) {
        pressed_ = false;
        mouse.Handled = true;
        Rebuild();
        if (inside) Clicked();
      }
      break;
    default:
      break;
  }
}

void TPushControl::MouseLeave() {
  TFrameControl::MouseLeave();
  if (hot_ && !TornDown()) {
    hot_ = false;
    Rebuild();
  }
}

void TPushControl::Paint(TDrawSurface* surface) {
  if (!surface) return;
  if (TDirectBitmap* b = Bitmap()) surface->DrawBitmap(offset_.X, offset_.Y, b);
}

// ---- TThemedTabButton -------------------------------------------------------------------

TThemedTabButton::TThemedTabButton(TThemedTabControl* control, TThemedPage* page)
    : TPushControl(control), control_(control), page_(page) {}

bool TThemedTabButton::AcceptsMouse(const TMouseData& mouse) {
  return page_ && !page_->TabHidden() && TPushControl::AcceptsMouse(mouse);
}

void TThemedTabButton::SetCaption(const std::u16string& text) {
  if (!caption_ && AllocFrameCaption && !TornDown()) caption_ = AllocFrameCaption(this);
  std::int32_t textWidth = 0;
  if (caption_) {
    caption_->SetText(text);
    textWidth = caption_->PreferredWidth();
  }
  preferredWidth_ = control_->Theme()->GetTabWidth(textWidth);
  PlaceCaption();
}

void TThemedTabButton::SetPreferredWidth(std::int32_t width) { preferredWidth_ = std::max(width, 0); }

void TThemedTabButton::SetNeighbourMode(std::int32_t mode) {
  if (mode == neighbour_) return;
  neighbour_ = mode;
  Rebuild();
}

void TThemedTabButton::SetCutFlags(std::uint32_t cut) {
  if (cut == cut_) return;
  cut_ = cut;
  Rebuild();
}

void TThemedTabButton::AfterResize() {
  TPushControl::AfterResize();
  Rebuild();
  PlaceCaption();
}

void TThemedTabButton::PlaceCaption() {
  if (!caption_ || TornDown()) return;
  TFrameTabControlTheme* t = control_->Theme();
  const TRect r = t->GetTextRect(Width(), Height());
  const TPoint d = t->GetSelectedOffset(page_ && page_->IsActive());
  caption_->SetPosition(r.Left + d.X, r.Top + d.Y);
  caption_->SetSize(std::max(r.Right - r.Left, 0), std::max(r.Bottom - r.Top, 0));
}

TTabBitmap TThemedTabButton::BuildBitmap() {
  TFrameTabControlTheme* t = control_->Theme();
  const std::uint32_t flags = StateFlags() | (page_ && page_->IsActive() ? tsPressed : 0);
  return t->DrawTab(t->GetStateKey(0, flags), neighbour_, Width(), Height(), cut_);
}

void TThemedTabButton::Pushed() {
  if (page_ && !page_->TabHidden() && control_->ActivePage() != page_) control_->SetActivePage(page_);
}

// ---- TThemedTabArrow --------------------------------------------------------------------

TThemedTabArrow::TThemedTabArrow(TThemedTabControl* control, std::int32_t index)
    : TPushControl(control), control_(control), index_(index) {}

TTabBitmap TThemedTabArrow::BuildBitmap() {
  TFrameTabControlTheme* t = control_->Theme();
  return t->DrawArrow(t->GetStateKey(0, StateFlags()), index_, Width(), Height());
}

void TThemedTabArrow::Pushed() {
  lastRepeat_ = ControlTimeMs();
  SetRefreshing(true);
}

void TThemedTabArrow::Clicked() {
  SetRefreshing(false);
  control_->ArrowClicked(index_);
}

void TThemedTabArrow::NotifyRefresh() {
  TKeepAlive self(this);
  TPushControl::NotifyRefresh();
  if (TornDown()) return;
  if (!pressed_) {
    SetRefreshing(false);
    return;
  }
  const std::uint32_t now = ControlTimeMs();
  const auto interval = std::uint32_t(std::max(control_->Theme()->GetRepeatInterval(), 1));
  if (hot_ && now - lastRepeat_ >= interval) {
    lastRepeat_ = now;
    control_->ArrowClicked(index_);
  }
}

// ---- Pages -------------------------------------------------------------------------------

TThemedPage::TThemedPage(TFrameControl* parent) : TFramePage(parent, nullptr) {}

void TThemedPage::SetTabVisible(bool on) {
  if (tabVisible_ == on) return;
  tabVisible_ = on;
  if (auto* c = dynamic_cast<TThemedTabControl*>(ParentControl())) c->Realign();
}

TRect TThemedPage::ChildBounds() {
  TRect r{0, 0, 0, 0};
  for (TFrameControl* k = FirstChildControl(); k; k = k->NextSiblingControl()) {
    const TPoint p = k->Position();
    r.Right = std::max(r.Right, p.X + k->Width());
    r.Bottom = std::max(r.Bottom, p.Y + k->Height());
  }
  return r;
}

// ---- TThemedTabControl ------------------------------------------------------------------

namespace {
// Checked before the control joins its parent's tree.
TFrameControl* CheckedParent(TFrameControl* parent, TFrameTabControlTheme* theme) {
  ZM_ASSERT(theme != nullptr, "tab theme not Assigned (ZmLib\\Composite\\zmThemedTabControl)");
  return parent;
}
}  // namespace

TThemedTabControl::TThemedTabControl(TFrameControl* parent, TControlStyles* styles, TFrameTabControlTheme* theme)
    : TFrameTabControl(CheckedParent(parent, theme), styles), theme_(theme) {
  alignment_ = theme->GetDefaultAlignment();
  common_ = NewControl<TCommonThemedPage>(this);
  for (std::int32_t i = 0; i < 2; ++i) {
    arrows_[i] = NewControl<TThemedTabArrow>(this, i);
    arrows_[i]->SetVisibility(vsHidden);
  }
  mode_ = 0;
  Realign();
}

void TThemedTabControl::Dispose() {
  pages_.clear();
  active_ = nullptr;
  common_ = nullptr;
  arrows_[0] = arrows_[1] = nullptr;
  background_.reset();
  TFrameTabControl::Dispose();
}

TThemedPage* TThemedTabControl::Page(std::int32_t index) const {
  return index >= 0 && index < PageCount() ? pages_[std::size_t(index)] : nullptr;
}

std::int32_t TThemedTabControl::IndexOf(const TThemedPage* page) const {
  auto it = std::find(pages_.begin(), pages_.end(), page);
  return it == pages_.end() ? -1 : std::int32_t(it - pages_.begin());
}

TRect TThemedTabControl::PageArea() { return theme_->GetPageRect(Width(), Height(), position_); }

TThemedPage* TThemedTabControl::AddPage(const std::u16string& caption) {
  if (TornDown()) return nullptr;
  auto* page = NewControl<TThemedPage>(this);
  page->SetVisibility(vsHidden);
  page->button_ = NewControl<TThemedTabButton>(this, page);
  // The arrows stay above the tabs that run under them.
  if (Frame() && arrows_[0] && arrows_[0]->Frame() && arrows_[0]->Frame()->Parent() == Frame()) {
    Frame()->AddChildBefore(page->Frame(), arrows_[0]->Frame());
    Frame()->AddChildBefore(page->button_->Frame(), arrows_[0]->Frame());
  }
  pages_.push_back(page);
  page->button_->SetSize(30, theme_->GetTabHeight());
  page->button_->SetCaption(caption);
  Realign();
  return page;
}

void TThemedTabControl::AfterResize() {
  TFrameTabControl::AfterResize();
  background_.reset();
  Realign();
  const TRect r = PageArea();
  if (active_) active_->SetSize(r.Right - r.Left, r.Bottom - r.Top);
  if (common_) {
    common_->SetPosition(r.Left, r.Top);
    common_->SetSize(std::max(r.Right - r.Left, 0), std::max(r.Bottom - r.Top, 0));
  }
}

void TThemedTabControl::SetTabPosition(std::uint8_t position) {
  if (position == position_) return;
  position_ = position;
  background_.reset();
  Realign();
  InvalidateAll();
}

void TThemedTabControl::SetAlignment(std::uint8_t alignment) {
  if (alignment == alignment_) return;
  alignment_ = alignment;
  Realign();
}

void TThemedTabControl::SetLayoutMode(std::uint8_t mode) {
  mode_ = mode;
  Realign();
}

void TThemedTabControl::SetFixedTabWidth(std::int32_t width) {
  fixedWidth_ = width;
  Realign();
}

void TThemedTabControl::SetAutoSizeFlags(std::uint8_t flags) {
  autoSize_ = flags & (asWidth | asHeight);
  AutoSize();
}

std::int32_t TThemedTabControl::TabWidthOf(const TThemedPage* page) const {
  const TThemedTabButton* b = page ? page->TabButton() : nullptr;
  if (!b) return 0;
  return fixedWidth_ >= 1 && mode_ == 0 ? fixedWidth_ : b->PreferredWidth();
}

std::vector<TThemedPage*> TThemedTabControl::TabPages() const {
  std::vector<TThemedPage*> out;
  for (TThemedPage* p : pages_)
    if (p->IsTabVisible() && p->TabButton()) out.push_back(p);
  return out;
}

void TThemedTabControl::ShowArrows(bool on) {
  for (std::int32_t i = 0; i < 2; ++i) {
    if (!arrows_[i]) continue;
    if (on) {
      const TRect r = theme_->GetArrowRect(i, Width(), Height(), position_);
      arrows_[i]->SetPosition(r.Left, r.Top);
      arrows_[i]->SetSize(r.Right - r.Left, r.Bottom - r.Top);
    }
    arrows_[i]->SetVisibility(on ? vsInherit : vsHidden);
  }
}

void TThemedTabControl::Realign() {
  if (inLayout_ || TornDown() || !theme_) return;
  inLayout_ = true;
  try {
    for (TThemedPage* p : pages_)
      if (!p->IsTabVisible()) p->TabButton()->SetVisibility(vsHidden);
    if (mode_ == 1) RealignShared();
    else RealignRow();
  } catch (...) {
    inLayout_ = false;
    throw;
  }
  inLayout_ = false;
}

void TThemedTabControl::SetNeighbours(const std::vector<TThemedPage*>& shown, const TRect& strip, bool arrows) {
  const std::size_t n = shown.size();
  for (std::size_t i = 0; i < n; ++i) {
    TThemedTabButton* b = shown[i]->TabButton();
    const TPoint p = b->Position();
    const TRect r{p.X, p.Y, p.X + b->Width(), p.Y + b->Height()};
    std::int32_t mode = nbMiddle;
    if (n == 1) mode = theme_->GetSingleKind(alignment_);
    else if (i == 0) mode = theme_->TouchesEdge(r, strip, arrows) ? nbLeftEdge : nbLeftEnd;
    else if (i == n - 1) mode = theme_->TouchesEdge(r, strip, arrows) ? nbRightEdge : nbRightEnd;
    b->SetNeighbourMode(mode);
  }
}

void TThemedTabControl::RealignRow() {
  const std::int32_t th = theme_->GetTabHeight();
  const TPoint tabOffset = theme_->GetTabOffset();
  TRect strip = theme_->GetStripRect(Width(), Height(), position_, false);
  const std::int32_t rowY = position_ == 0 ? strip.Bottom - th : strip.Top;
  const std::vector<TThemedPage*> tabs = TabPages();
  std::int32_t total = 0;
  for (TThemedPage* p : tabs) total += TabWidthOf(p);
  std::uint8_t align = alignment_;
  const bool arrows = total > strip.Right - strip.Left;
  if (arrows) {
    if (align == 1) align = 0;
    strip = theme_->GetStripRect(Width(), Height(), position_, true);
  } else if (align != 1) {
    offset_ = 0;
  }
  const std::int32_t stripW = strip.Right - strip.Left;
  stripWidth_ = stripW;
  std::int32_t start = strip.Left;
  if (align == 1) {
    start = strip.Left + (stripW - total) / 2;
    offset_ = 0;
  }
  std::int32_t limit = offset_ + stripW;
  if (offset_ >= 1 && total < limit) {
    offset_ = std::max(total - stripW, 0);
    limit = offset_ + stripW;
  }
  std::vector<TThemedPage*> shown;
  std::int32_t x = 0;
  for (TThemedPage* p : tabs) {
    TThemedTabButton* b = p->TabButton();
    const std::int32_t w = TabWidthOf(p);
    p->hidden_ = x >= limit || x + tabOffset.X + w <= offset_;
    if (p->hidden_) {
      b->SetVisibility(vsHidden);
    } else {
      b->SetCutFlags((offset_ > x ? tcCutLeft : 0) | (x + w > limit ? tcCutRight : 0));
      b->SetPosition(x - offset_ + start + tabOffset.X, rowY);
      b->SetSize(w, th);
      b->SetVisibility(vsInherit);
      shown.push_back(p);
    }
    x += w;
  }
  SetNeighbours(shown, strip, arrows);
  ShowArrows(arrows);
}

void TThemedTabControl::RealignShared() {
  const std::int32_t th = theme_->GetTabHeight();
  const TPoint tabOffset = theme_->GetTabOffset();
  TRect strip = theme_->GetStripRect(Width(), Height(), position_, false);
  strip.Right -= tabOffset.X;
  const std::vector<TThemedPage*> tabs = TabPages();
  std::int32_t total = 0;
  for (TThemedPage* p : tabs) total += p->TabButton()->PreferredWidth();
  const std::int32_t stripW = strip.Right - strip.Left;
  if (tabs.empty() || total <= stripW) {
    RealignRow();
    return;
  }
  const std::int32_t rowY = position_ == 0 ? strip.Bottom - th : strip.Top;
  const double step = double(std::max(stripW, 0)) / double(tabs.size());
  offset_ = 0;
  stripWidth_ = stripW;
  for (std::size_t i = 0; i < tabs.size(); ++i) {
    const auto a = std::int32_t(std::lround(double(i) * step)), b = std::int32_t(std::lround(double(i + 1) * step));
    TThemedTabButton* btn = tabs[i]->TabButton();
    tabs[i]->hidden_ = false;
    btn->SetCutFlags(0);
    btn->SetPosition(strip.Left + tabOffset.X + a, rowY);
    btn->SetSize(b - a, th);
    btn->SetVisibility(vsInherit);
  }
  SetNeighbours(tabs, strip, false);
  ShowArrows(false);
}

void TThemedTabControl::ScrollIntoView(TThemedPage* page) {
  TThemedTabButton* b = page ? page->TabButton() : nullptr;
  if (!b || !page->IsTabVisible() || (!page->TabHidden() && b->CutFlags() == 0)) return;
  const std::vector<TThemedPage*> tabs = TabPages();
  std::int32_t x = 0;
  for (TThemedPage* p : tabs) {
    if (p == page) break;
    x += TabWidthOf(p);
  }
  const std::int32_t w = TabWidthOf(page);
  const std::int32_t limit = offset_ + stripWidth_;
  if (x >= offset_ && x + w > limit && limit >= 1)
    offset_ += x + w - limit + (page == tabs.back() ? 0 : kScrollMargin);
  else if (x < offset_)
    offset_ = page == tabs.front() ? x : std::max(x - kScrollMargin, 0);
}

void TThemedTabControl::ArrowClicked(std::int32_t index) {
  const std::vector<TThemedPage*> tabs = TabPages();
  std::int32_t first = -1, last = -1;
  for (std::size_t i = 0; i < tabs.size(); ++i)
    if (!tabs[i]->TabHidden()) {
      if (first < 0) first = std::int32_t(i);
      last = std::int32_t(i);
    }
  TThemedPage* target = nullptr;
  if (first < 0) return;
  if (index == 1) {
    if (tabs[std::size_t(first)]->TabButton()->CutFlags() & tcCutLeft) target = tabs[std::size_t(first)];
    else if (first > 0) target = tabs[std::size_t(first - 1)];
  } else {
    if (tabs[std::size_t(last)]->TabButton()->CutFlags() & tcCutRight) target = tabs[std::size_t(last)];
    else if (last + 1 < std::int32_t(tabs.size())) target = tabs[std::size_t(last + 1)];
  }
  if (!target) return;
  ScrollIntoView(target);
  Realign();
  InvalidateAll();
}

void TThemedTabControl::ActivePageChanged(TThemedPage* old, TThemedPage* now) {
  if (OnChange) OnChange(this, old, now);
}

void TThemedTabControl::SetActivePage(TThemedPage* page) {
  if (page == active_ || TornDown() || (page && IndexOf(page) < 0)) return;
  TKeepAlive self(this);
  TThemedPage* old = active_;
  const bool hadFocus = Focused() || (old && FocusedChild() == old);
  if (old) {
    old->active_ = false;
    old->SetVisibility(vsHidden);
  }
  if (page && (page->TabHidden() || page->TabButton()->CutFlags() != 0)) {
    ScrollIntoView(page);
    Realign();
  }
  active_ = page;
  if (page) {
    page->active_ = true;
    page->TabButton()->Rebuild();
    page->TabButton()->PlaceCaption();
  }
  ActivePageChanged(old, page);
  if (TornDown()) return;
  if (old && old->TabButton()) {
    old->TabButton()->Rebuild();
    old->TabButton()->PlaceCaption();
  }
  InvalidateAll();
  if (!page) return;
  const TRect r = PageArea();
  page->SetPosition(r.Left, r.Top);
  page->SetSize(std::max(r.Right - r.Left, 0), std::max(r.Bottom - r.Top, 0));
  page->SetVisibility(vsInherit);
  if (hadFocus) page->SetFocus();
}

TThemedPage* TThemedTabControl::NextPage(bool backwards) const {
  const std::int32_t n = PageCount();
  if (n == 0) return nullptr;
  std::int32_t start = IndexOf(active_);
  if (start < 0) {
    for (TThemedPage* p : pages_)
      if (p->IsTabVisible()) return p;
    return nullptr;
  }
  for (std::int32_t i = (start + (backwards ? n - 1 : 1)) % n; i != start; i = (i + (backwards ? n - 1 : 1)) % n)
    if (pages_[std::size_t(i)]->IsTabVisible()) return pages_[std::size_t(i)];
  return nullptr;
}

void TThemedTabControl::KeyNotify(TKeyboardData* key) {
  TKeepAlive self(this);
  TFrameTabControl::KeyNotify(key);
  if (!key || key->Handled || TornDown() || key->Kind != kkKeyDown || key->Key != kKeyTab) return;
  if (!(key->Shift & ssCtrl)) return;
  if (TThemedPage* p = NextPage((key->Shift & ssShift) != 0)) {
    key->Handled = true;
    SetActivePage(p);
  }
}

void TThemedTabControl::AutoSize() {
  if (!autoSize_ || TornDown()) return;
  TRect u = common_ ? common_->ChildBounds() : TRect{};
  for (TThemedPage* p : pages_) {
    const TRect r = p->ChildBounds();
    u.Right = std::max(u.Right, r.Right);
    u.Bottom = std::max(u.Bottom, r.Bottom);
  }
  const TRect pr = PageArea();
  const std::int32_t mw = Width() - (pr.Right - pr.Left), mh = Height() - (pr.Bottom - pr.Top);
  const std::int32_t w = autoSize_ & asWidth ? std::max(u.Right + mw, kMinAutoSize) : Width();
  const std::int32_t h = autoSize_ & asHeight ? std::max(u.Bottom + mh, kMinAutoSize) : Height();
  SetSize(w, h);
}

void TThemedTabControl::Paint(TDrawSurface* surface) {
  if (!surface) return;
  if (!background_) {
    const TRect r = PageArea();
    // The frame is drawn around the page area.
    TTabBitmap b = theme_->DrawPage(r.Right - r.Left + 4, r.Bottom - r.Top + 4);
    background_ = b.Bitmap;
    backgroundOffset_ = {r.Left - 2 + b.Offset.X, r.Top - 2 + b.Offset.Y};
  }
  if (background_) surface->DrawBitmap(backgroundOffset_.X, backgroundOffset_.Y, background_.get());
}

// ---- Factory -----------------------------------------------------------------------------

namespace {
THookInstall<TAllocFrameTabControlProc> gThemedTabControl;
std::int32_t gInitCount = 0;
}  // namespace

TFrameTabControl* AllocThemedTabControl(TFrameControl* parent, TControlStyles* styles) {
  TControlStyles* s = styles ? styles : parent ? parent->GetStyles() : DefaultControlStyles();
  if (auto* theme = s ? s->FindTheme<TFrameTabControlTheme>() : nullptr)
    return NewControl<TThemedTabControl>(parent, styles, theme);
  return gThemedTabControl.Saved() ? gThemedTabControl.Saved()(parent, styles) : nullptr;
}

void InitThemedTabControl() {
  if (gInitCount++ > 0) return;
  gThemedTabControl.Install(AllocFrameTabControl, &AllocThemedTabControl);
}

void FiniThemedTabControl() {
  if (gInitCount == 0 || --gInitCount > 0) return;
  gThemedTabControl.Restore();
}

}  // namespace zm
