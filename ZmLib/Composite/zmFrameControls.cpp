#include "ZmLib/Composite/zmFrameControls.h"

#include <algorithm>
#include <cmath>

#include "Platform/Gdi/PlatGdi.h"
#include "ZmLib/Graphics/zmRectUtils.h"

namespace zm {

namespace {
TControlStyles* gStyles = nullptr;
TTimeRefreshNotifier* gGlobalNotifier = nullptr;
std::vector<TRefObject*>* gDeferred = nullptr;

std::vector<TRefObject*>& Deferred() {
  if (!gDeferred) gDeferred = new std::vector<TRefObject*>();
  return *gDeferred;
}

TRect UnionOf(const TRect& a, const TRect& b) {
  return {std::min(a.Left, b.Left), std::min(a.Top, b.Top), std::max(a.Right, b.Right), std::max(a.Bottom, b.Bottom)};
}

TFrameControl* ControlOf(TDrawFrame* f) { return f ? dynamic_cast<TFrameControl*>(f->Handler()) : nullptr; }
}  // namespace

TColorAdjustment ColorAdjustment;
std::uint8_t DefaultMouseFilter = 1;

TColor32 AdjustColor(TColor32 c) {
  if (!ColorAdjustment.Enabled) return c;
  auto ch = [](std::uint8_t v, float f, std::int32_t o) {
    double x = std::floor(double(v) * f + o + 0.5);
    return std::uint8_t(std::clamp(x, 0.0, 255.0));
  };
  c.R = ch(c.R, ColorAdjustment.Factor[0], ColorAdjustment.Offset[0]);
  c.G = ch(c.G, ColorAdjustment.Factor[1], ColorAdjustment.Offset[1]);
  c.B = ch(c.B, ColorAdjustment.Factor[2], ColorAdjustment.Offset[2]);
  return c;
}

// ---- TFrameBrush ---------------------------------------------------------------------------

void TFrameBrush::Fill(TDrawSurface* canvas, const TRect& rect) {
  if (canvas) canvas->FillRect(rect, GetColor());
}

void TFrameBrush::FillClipped(TDrawSurface* canvas, const TRect& rect, const TRect& clip) {
  TRect r{std::max(rect.Left, clip.Left), std::max(rect.Top, clip.Top), std::min(rect.Right, clip.Right),
          std::min(rect.Bottom, clip.Bottom)};
  if (IsEmptyRect(r)) return;
  Fill(canvas, r);
}

// ---- TControlStyles --------------------------------------------------------------------------

TControlStyles::TControlStyles() {
  TFontParams f = MakeFontParams(u"Tahoma", 0, false, 8, {}, {0xF0, 0xF0, 0xF0});
  Font.Font = DefaultFont.Font = EditFont.Font = SelectionFont.Font = f;
  DefaultFont.HasBackground = true;
  FaceColor = {0xF0, 0xF0, 0xF0, 0xFF};
  FrameColor = {0x64, 0x64, 0x64, 0xFF};
  LightColor = {0xE3, 0xE3, 0xE3, 0xFF};
  HighlightColor = {0xFF, 0xFF, 0xFF, 0xFF};
  ShadowColor = {0xA0, 0xA0, 0xA0, 0xFF};
  DarkShadowColor = {0x69, 0x69, 0x69, 0xFF};
  WindowColor = {0xFF, 0xFF, 0xFF, 0xFF};
  InfoBkColor = {0xE1, 0xFF, 0xFF, 0xFF};
  MixedColor = BlendColor32(FaceColor, WindowColor, 176);
  Background = MakeRef<TFrameBrush>(FaceColor);
}

void TControlStyles::Dispose() {
  std::vector<TRefObject*> themes;
  themes.swap(themes_);
  for (auto it = themes.rbegin(); it != themes.rend(); ++it) (*it)->ReleaseRef();
  Background = nullptr;
  FocusPattern = nullptr;
  TRefObject::Dispose();
}

void TControlStyles::Assign(const TControlStyles& o) {
  if (&o == this) return;
  Font = o.Font;
  DefaultFont = o.DefaultFont;
  EditFont = o.EditFont;
  SelectionFont = o.SelectionFont;
  FaceColor = o.FaceColor;
  FrameColor = o.FrameColor;
  LightColor = o.LightColor;
  HighlightColor = o.HighlightColor;
  ShadowColor = o.ShadowColor;
  DarkShadowColor = o.DarkShadowColor;
  MixedColor = o.MixedColor;
  WindowColor = o.WindowColor;
  InfoBkColor = o.InfoBkColor;
  BorderColor = o.BorderColor;
  ScaleX = o.ScaleX;
  ScaleY = o.ScaleY;
  Background = o.Background;  // a reference of its own
  FocusPattern = o.FocusPattern;
}

void TControlStyles::AddTheme(TRefObject* theme) {
  if (!theme || std::find(themes_.begin(), themes_.end(), theme) != themes_.end()) return;
  theme->AddRef();
  themes_.push_back(theme);
}

bool TControlStyles::RemoveTheme(TRefObject* theme) {
  auto it = std::find(themes_.begin(), themes_.end(), theme);
  if (it == themes_.end()) return false;
  themes_.erase(it);
  theme->ReleaseRef();
  return true;
}

TControlStyles* DefaultControlStyles() {
  if (!gStyles) gStyles = MakeRef<TControlStyles>().Detach();
  return gStyles;
}

void SetDefaultControlStyles(TControlStyles* styles) {
  TControlStyles* old = gStyles;
  gStyles = styles;
  if (old && old != styles) old->Free();
}

// ---- Refresh clock ----------------------------------------------------------------------------

void TRefreshNotifier::AddListener(events::TEventHandler* control) {
  if (control && !IsSubscribed(kRefreshEvent, control)) Subscribe(kRefreshEvent, kRefreshEvent, control);
}

void TRefreshNotifier::RemoveListener(events::TEventHandler* control) { Unsubscribe(kRefreshEvent, control); }

std::int32_t RefreshIntervalFor(std::int32_t rate) { return rate > 0 ? 1000 / rate : 16; }

std::int32_t RefreshInterval() {
  plat::HDC dc = plat::GetDC(nullptr);
  std::int32_t rate = dc ? plat::GetDeviceCaps(dc, plat::VREFRESH) : 0;
  if (dc) plat::ReleaseDC(nullptr, dc);
  return RefreshIntervalFor(rate);
}

void TTimeRefreshNotifier::Dispose() {
  ReleaseTimedCallback(timer_);
  TRefreshNotifier::Dispose();
}

std::int32_t TTimeRefreshNotifier::Interval() const { return timer_ ? timer_->Interval : 0; }

void TTimeRefreshNotifier::ListenersChanged() {
  if (Flags() & kDisposed) return;
  if (ListenerCount() > 0) {
    if (!timer_) timer_ = RegisterTimedCallback(RefreshInterval(), 0, &OnTimer, this);
  } else {
    ReleaseTimedCallback(timer_);
  }
}

void TTimeRefreshNotifier::OnTimer(void* data, TMultiTimerEvent*) { static_cast<TTimeRefreshNotifier*>(data)->Tick(); }

void TTimeRefreshNotifier::Tick() {
  TKeepAlive self(this);
  if (ListenerCount() == 0) {
    ReleaseTimedCallback(timer_);
    return;
  }
  if (root_) root_->RefreshStep();
  Fire(kRefreshEvent, 0);
  if (ListenerCount() == 0) ReleaseTimedCallback(timer_);
}

TRefreshNotifier* GlobalRefreshNotifier() {
  if (!gGlobalNotifier) gGlobalNotifier = MakeRef<TTimeRefreshNotifier>(nullptr).Detach();
  return gGlobalNotifier;
}

// ---- TFrameControl ------------------------------------------------------------------------------

TFrameControl::TFrameControl(TDrawFrame* frame) : MouseFilter(DefaultMouseFilter) {
  if (!frame) frame = MakeRef<TDrawFrame>().Detach();
  ZM_ASSERT(frame->Handler() == nullptr, "TFrameControl.Create: frame already in use");
  SetFrame(frame);
}

TFrameControl::TFrameControl(TFrameControl* parent) : MouseFilter(DefaultMouseFilter) {
  TDrawFrame* frame = parent && parent->Frame() ? parent->Frame()->CreateFrame().Detach() : nullptr;
  if (!frame) frame = MakeRef<TDrawFrame>().Detach();
  SetFrame(frame);
  if (parent) SetParentControl(parent);
}

void TFrameControl::Raise(std::int32_t tag, std::intptr_t data) {
  if (listeners_) listeners_->Fire(tag, data);
}

TEventsWithTags* TFrameControl::Listeners() {
  if (!listeners_) listeners_ = MakeRef<TEventsWithTags>(this).Detach();
  return listeners_;
}

void TFrameControl::TearDown() {
  if (tornDown_) return;
  TKeepAlive self(this);
  tornDown_ = true;
  Raise(ntDestroy);
  SetFocusedChild(nullptr);
  while (TFrameControl* c = LastChildControl()) c->DeferredFree();
  SetRefreshing(false);
  SetParent(nullptr);  // drops the parent's focus and the root's pointers to it
  if (TDrawFrame* f = Frame()) {
    SetFrame(nullptr);
    f->Free();
  }
  if (TEventsWithTags* l = listeners_) {
    listeners_ = nullptr;
    l->Free();
  }
}

void TFrameControl::Dispose() {
  TearDown();
  TFrameHandler::Dispose();
}

void TFrameControl::DeferredFree() {
  if (freed_) return;
  TearDown();
  freed_ = true;
  DeferFree(this);
}

void FreeControl(TFrameControl* control) {
  if (control) control->DeferredFree();
}

void TFrameControl::HandleEvent(TRefObject*, std::int32_t code, std::intptr_t) {
  if (code == 2) NotifyRefresh();
}

void TFrameControl::SetParent(TDrawFrame* frame) {
  TDrawFrame* f = Frame();
  if (!f) return;
  if (frame == f->Parent()) return;
  ZM_ASSERT(frame != f, "TFrameControl.SetParent: own frame");
  TKeepAlive self(this);
  TFrameControl* oldParent = ParentControl();
  if (oldParent) {
    if (oldParent->focused_ == this) oldParent->SetFocusedChild(nullptr);
    if (TRootControl* r = dynamic_cast<TRootControl*>(oldParent->TopControl())) r->ControlRemoved(this);
  }
  bool wasVisible = IsVisible();
  if (refreshing_) {
    SetRefreshing(false);
    refreshing_ = true;  // re-subscribed below, in the new tree
  }
  f->RemoveFromParent();
  if (frame) frame->AddChildAfter(f, nullptr);
  TFrameControl* newParent = ParentControl();
  if (oldParent) oldParent->Notify17(reinterpret_cast<std::intptr_t>(this));
  if (newParent) newParent->Notify16(reinterpret_cast<std::intptr_t>(this));
  if (refreshing_) {
    refreshing_ = false;
    SetRefreshing(true);
  }
  if (!tornDown_ && wasVisible != IsVisible()) VisibilityChanged();
}

void TFrameControl::BeforeMove() { Raise(ntBeforeMove); }
void TFrameControl::AfterMove() { Raise(ntAfterMove); }

void TFrameControl::GetBounds(TRect& rect) {
  rect = invalid_;
  invalidCount_ = 0;
}

bool TFrameControl::AcceptsMouse(const TMouseData& mouse) {
  if (mouse.Kind == mkWheel && MouseFilter == 0) return false;
  return HitTest(mouse.X, mouse.Y);
}

void TFrameControl::MouseEvent(TMouseData& mouse) { Raise(ntMouse, reinterpret_cast<std::intptr_t>(&mouse)); }
void TFrameControl::MouseLeave() { Raise(ntMouseLeave); }

TFrameControl* TFrameControl::NextSiblingControl() {
  for (TDrawFrame* f = Frame() ? Frame()->NextSibling() : nullptr; f; f = f->NextSibling())
    if (TFrameControl* c = ControlOf(f)) return c;
  return nullptr;
}

TFrameControl* TFrameControl::PrevSiblingControl() const {
  for (TDrawFrame* f = Frame() ? Frame()->PrevSibling() : nullptr; f; f = f->PrevSibling())
    if (TFrameControl* c = ControlOf(f)) return c;
  return nullptr;
}

void TFrameControl::BeforeFocusChange() { Raise(ntBeforeFocusChange); }
void TFrameControl::AfterFocusChange() { Raise(ntAfterFocusChange); }
void TFrameControl::Notify16(std::intptr_t data) { Raise(ntData16, data); }
void TFrameControl::Notify17(std::intptr_t data) { Raise(ntData17, data); }

void TFrameControl::ConstrainSize(std::int32_t& width, std::int32_t& height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
}

void TFrameControl::BeforeResize() {
  InvalidateAll();
  Raise(ntBeforeResize);
}

void TFrameControl::AfterResize() {
  InvalidateAll();
  Raise(ntAfterResize);
}

void TFrameControl::InvalidateAll() { Invalidate({0, 0, width_, height_}); }

void TFrameControl::VisibilityChanged() {
  // The frame repaints what the control covered or now covers.
  if (TDrawFrame* f = Frame()) f->Changed();
  Raise(ntVisibleChanged);
  for (TFrameControl* c = FirstChildControl(); c;) {
    TFrameControl* next = c->NextSiblingControl();
    if (c->visibility_ == vsInherit) c->VisibilityChanged();
    c = next;
  }
}

void TFrameControl::Notify20() { Raise(ntNotify20); }
void TFrameControl::ActiveChanged() { Raise(ntActiveChanged); }
void TFrameControl::FocusChanged(bool gained) { Raise(gained ? ntFocusGained : ntFocusLost); }
void TFrameControl::KeyNotify(TKeyboardData* key) { Raise(ntKey, reinterpret_cast<std::intptr_t>(key)); }
void TFrameControl::InputNotify(TKeyboardData* key) { Raise(ntInput, reinterpret_cast<std::intptr_t>(key)); }
void TFrameControl::NotifyValue(std::intptr_t value) { Raise(ntValue, value); }
void TFrameControl::Notify13() { Raise(ntNotify13); }
void TFrameControl::NotifyRefresh() { Raise(ntRefresh); }

void TFrameControl::GetTextFormat(TTextFormat& format) {
  if (TFrameControl* p = ParentControl()) p->GetTextFormat(format);
  else format = DefaultControlStyles()->DefaultFont;
}

TControlStyles* TFrameControl::GetStyles() {
  if (TFrameControl* p = ParentControl()) return p->GetStyles();
  return DefaultControlStyles();
}

bool TFrameControl::HitTest(std::int32_t x, std::int32_t y) { return x >= 0 && x < width_ && y >= 0 && y < height_; }

TRefObject* TFrameControl::GetRootOwner() {
  TFrameControl* top = TopControl();
  return top != this ? top->GetRootOwner() : nullptr;
}

void TFrameControl::ToParent(std::int32_t x, std::int32_t y, TPoint& p) {
  TPoint pos = Position();
  p = {x + pos.X, y + pos.Y};
  if (TFrameControl* parent = ParentControl()) parent->ToParent(p.X, p.Y, p);
}

bool TFrameControl::HandleMouse(TMouseData& mouse) {
  // A captured control gets the mouse wherever it is.
  if (freed_ || tornDown_ || (!mouse.Captured && !AcceptsMouse(mouse))) return false;
  MouseEvent(mouse);
  return true;
}

void TFrameControl::Paint(TDrawSurface*) {}

bool TFrameControl::IsVisible() const {
  if (visibility_ == vsVisible) return true;
  if (visibility_ == vsHidden) return false;
  TFrameControl* p = ParentControl();
  return p ? p->IsVisible() : true;
}

void TFrameControl::SetSize(std::int32_t width, std::int32_t height) {
  ConstrainSize(width, height);
  if (width == width_ && height == height_) return;
  BeforeResize();
  width_ = width;
  height_ = height;
  AfterResize();
}

void TFrameControl::SetPosition(std::int32_t x, std::int32_t y) {
  if (TDrawFrame* f = Frame()) f->SetPosition(x, y);
}

TPoint TFrameControl::Position() const { return Frame() ? Frame()->Position() : TPoint{}; }

void TFrameControl::Invalidate(const TRect& rect) {
  if (freed_ || tornDown_) return;
  if (invalidCount_ == 0) invalid_ = rect;
  else if (IsEmptyRect(invalid_)) invalid_ = IsEmptyRect(rect) ? kEmptyRect : rect;
  else if (!IsEmptyRect(rect)) invalid_ = UnionOf(invalid_, rect);
  ++invalidCount_;
  if (TDrawFrame* f = Frame()) f->Invalidate(rect);
}

void TFrameControl::SetVisibility(std::uint8_t state) {
  if (state > vsHidden) state = vsHidden;
  if (state == visibility_) return;
  bool was = IsVisible();
  visibility_ = state;
  if (was != IsVisible()) VisibilityChanged();
}

bool TFrameControl::SetFocusedChild(TFrameControl* child) {
  if (child && child->ParentControl() != this) return false;
  if (child == focused_) return true;
  TKeepAlive self(this);
  TFrameControl* top = TopControl();
  TKeepAlive topRef(top);
  top->BeforeFocusChange();
  if (TFrameControl* old = focused_) {
    TKeepAlive keep(old);
    focused_ = nullptr;
    old->FocusChanged(false);
    if (old->active_) old->SetActive(false);
  }
  // A handler may have taken the child away meanwhile.
  if (child && child->ParentControl() == this && !child->tornDown_) {
    focused_ = child;
    TKeepAlive keep(child);
    child->FocusChanged(true);
    if (active_ && focused_ == child) child->SetActive(true);
  }
  top->AfterFocusChange();
  return true;
}

void TFrameControl::SetActive(bool active) {
  if (active == active_) return;
  active_ = active;
  ActiveChanged();
  if (focused_ && focused_->active_ != active_) focused_->SetActive(active_);
}

void TFrameControl::SetFocus() {
  if (active_ || tornDown_) return;
  TKeepAlive self(this);
  if (TFrameControl* p = ParentControl()) {
    if (p->focused_ != this) p->SetFocusedChild(this);
    p->SetFocus();
  } else if (auto* root = dynamic_cast<TRootControl*>(this)) {
    root->SetRootActive(true);
  } else {
    SetActive(true);
  }
}

bool TFrameControl::Focused() const { return active_ && !focused_; }

void TFrameControl::SetRefreshing(bool on) {
  if (on == refreshing_) return;
  if (on) {
    if (tornDown_) return;
    TRootControl* r = Root();
    TRefreshNotifier* n = r && r->RefreshNotifier() ? r->RefreshNotifier() : GlobalRefreshNotifier();
    refreshing_ = true;
    refreshNotifier_ = n;
    n->AddListener(this);
  } else {
    refreshing_ = false;
    if (TRefreshNotifier* n = refreshNotifier_) {
      refreshNotifier_ = nullptr;
      n->RemoveListener(this);
    }
  }
}

TFrameControl* TFrameControl::ParentControl() const {
  for (TDrawFrame* f = Frame() ? Frame()->Parent() : nullptr; f; f = f->Parent())
    if (TFrameControl* c = ControlOf(f)) return c;
  return nullptr;
}

namespace {
// Nearest control frames below F in one direction, skipping plain frames.
TFrameControl* EdgeControl(TDrawFrame* f, bool first) {
  for (TDrawFrame* c = f ? (first ? f->FirstChild() : f->LastChild()) : nullptr; c;
       c = first ? c->NextSibling() : c->PrevSibling()) {
    if (TFrameControl* x = ControlOf(c)) return x;
    if (TFrameControl* x = EdgeControl(c, first)) return x;
  }
  return nullptr;
}
}  // namespace

TFrameControl* TFrameControl::FirstChildControl() const { return EdgeControl(Frame(), true); }
TFrameControl* TFrameControl::LastChildControl() const { return EdgeControl(Frame(), false); }

TFrameControl* TFrameControl::TopControl() {
  TFrameControl* c = this;
  while (TFrameControl* p = c->ParentControl()) c = p;
  return c;
}

TRootControl* TFrameControl::Root() { return dynamic_cast<TRootControl*>(TopControl()); }

TPoint TFrameControl::OriginIn(const TFrameControl* ancestor) const {
  TPoint p;
  for (const TFrameControl* c = this; c && c != ancestor; c = c->ParentControl()) {
    TPoint pos = c->Position();
    p.X += pos.X;
    p.Y += pos.Y;
  }
  return p;
}

bool TFrameControl::IsInside(const TFrameControl* ancestor) const {
  for (const TFrameControl* c = this; c; c = c->ParentControl())
    if (c == ancestor) return true;
  return false;
}

// ---- TRootControl -----------------------------------------------------------------------------------

TRootControl::TRootControl(TDrawFrame* frame) : TFrameControl(frame) {
  ZM_ASSERT(!Frame() || !Frame()->Parent(), "TRootControl.Create: a root has no parent");
}

TRefreshNotifier* TRootControl::RefreshNotifier() {
  // Lazily, so that a derived root's factory is the one called.
  if (!notifier_ && !TornDown()) notifier_ = CreateRefreshNotifier();
  return notifier_;
}

void TRootControl::Dispose() {
  TearDown();
  capture_ = hover_ = candidate_ = current_ = nullptr;
  if (TRefreshNotifier* n = notifier_) {
    notifier_ = nullptr;
    n->ClearRoot();
    n->Free();
  }
  TFrameControl::Dispose();
}

TRefreshNotifier* TRootControl::CreateRefreshNotifier() { return MakeRef<TTimeRefreshNotifier>(this).Detach(); }

void TRootControl::ControlRemoved(TFrameControl* control) {
  if (!control) return;
  if (capture_ && capture_->IsInside(control)) {
    capture_ = nullptr;
    if (OnCaptureChanged) OnCaptureChanged(false);
  }
  if (hover_ && hover_->IsInside(control)) hover_ = nullptr;
  if (candidate_ && candidate_->IsInside(control)) candidate_ = nullptr;
  if (current_ && current_->IsInside(control)) current_ = nullptr;
}

TFrameControl* TRootControl::CurrentControl() {
  TFrameControl* c = this;
  while (c->focused_) c = c->focused_;
  return c;
}

namespace {
void CollectCandidates(TFrameControl* c, std::uint8_t mode, std::vector<TFrameControl*>& out,
                       TFrameControl* current, std::int32_t& currentIndex) {
  if (c == current) currentIndex = std::int32_t(out.size());
  if (c->GetTabStop() && (c->NavigationKinds() & (1u << mode)) && c->IsVisible() && c->Frame() &&
      c->Frame()->Enabled())
    out.push_back(c);
  for (TFrameControl* k = c->FirstChildControl(); k; k = k->NextSiblingControl())
    CollectCandidates(k, mode, out, current, currentIndex);
}
}  // namespace

bool TRootControl::Navigate(std::uint8_t mode, bool backwards) {
  if (mode > nmArrows) return false;
  TKeepAlive self(this);
  current_ = CurrentControl();
  std::vector<TFrameControl*> list;
  // Index in the candidate list where the current control stands (the
  // candidates before it have lower indexes).
  std::int32_t at = -1;
  CollectCandidates(this, mode, list, current_, at);
  candidate_ = nullptr;
  if (at >= 0) {
    bool currentIsCandidate = at < std::int32_t(list.size()) && list[std::size_t(at)] == current_;
    if (backwards) {
      if (at > 0) candidate_ = list[std::size_t(at - 1)];
    } else {
      std::int32_t next = currentIsCandidate ? at + 1 : at;
      if (next < std::int32_t(list.size())) candidate_ = list[std::size_t(next)];
      else if (!list.empty()) candidate_ = list.front();
    }
  }
  TFrameControl* found = candidate_;
  candidate_ = current_ = nullptr;
  if (!found || found == CurrentControl()) return found != nullptr;
  TKeepAlive keep(found);
  found->SetFocusedChild(nullptr);
  found->SetFocus();
  return true;
}

void TRootControl::InputNotify(TKeyboardData* key) {
  TKeepAlive self(this);
  TFrameControl::InputNotify(key);
  if (!key || key->Handled || key->Kind != kkKeyDown || tornDown_) return;
  if (key->Key == 9 && (key->Shift & ~ssShift) == 0) {
    if (Navigate(nmTabOrder, (key->Shift & ssShift) != 0)) key->Handled = true;
  } else if (key->Key >= 37 && key->Key <= 40) {
    if (Navigate(nmArrows, key->Key == 37 || key->Key == 38)) key->Handled = true;
  }
}

namespace {
TFrameControl* HitControl(TFrameControl* c, std::int32_t x, std::int32_t y, TPoint& local) {
  if (!c->IsVisible()) return nullptr;
  TDrawFrame* f = c->Frame();
  if (f && f->Clipped()) {
    TRect r = f->ClipRect();
    if (x < r.Left || x >= r.Right || y < r.Top || y >= r.Bottom) return nullptr;
  }
  for (TFrameControl* k = c->LastChildControl(); k; k = k->PrevSiblingControl()) {
    TPoint p = k->OriginIn(c);
    if (TFrameControl* hit = HitControl(k, x - p.X, y - p.Y, local)) return hit;
  }
  if (c->HitTest(x, y)) {
    local = {x, y};
    return c;
  }
  return nullptr;
}
}  // namespace

TFrameControl* TRootControl::FindControlAt(std::int32_t x, std::int32_t y, TPoint& local) {
  if (Width() < 1 || Height() < 1 || !HitTest(x, y)) return nullptr;
  return HitControl(this, x, y, local);
}

void TRootControl::SetCapture(TFrameControl* control) {
  if (control && (control->tornDown_ || control->TopControl() != this)) control = nullptr;
  if (control == capture_) return;
  bool was = capture_ != nullptr;
  capture_ = control;
  if (was != (capture_ != nullptr) && OnCaptureChanged) OnCaptureChanged(capture_ != nullptr);
}

TFrameControl* TRootControl::MouseInput(TMouseData mouse) {
  if (tornDown_) return nullptr;
  TKeepAlive self(this);
  TFrameControl* target = nullptr;
  std::int32_t rx = mouse.X, ry = mouse.Y;
  if (capture_) {
    target = capture_;
    TPoint o = target->OriginIn(this);
    mouse.X = rx - o.X;
    mouse.Y = ry - o.Y;
    mouse.Captured = true;
    TKeepAlive keep(target);
    target->MouseEvent(mouse);
    if (target->tornDown_) target = nullptr;  // it went away in its own handler
  } else {
    TPoint local;
    TFrameControl* hit = FindControlAt(rx, ry, local);
    if (hit) {
      mouse.X = local.X;
      mouse.Y = local.Y;
      TKeepAlive keep(hit);
      if (hit->AcceptsMouse(mouse)) {
        hit->MouseEvent(mouse);
        if (!hit->tornDown_) target = hit;
      }
    }
  }
  if (hover_ != target) {
    TFrameControl* old = hover_;
    hover_ = target;
    if (old && !old->tornDown_) {
      TKeepAlive keep(old);
      old->MouseLeave();
    }
  }
  if (mouse.Kind == mkDown && mouse.Buttons != 0 && !capture_ && target) SetCapture(target);
  else if (mouse.Kind == mkUp && capture_) ReleaseCapture();
  return target;
}

// ---- Deferred freeing ----------------------------------------------------------------------------

void DeferFree(TRefObject* object) {
  if (object) Deferred().push_back(object);
}

void ProcessDeferredFrees() {
  if (!gDeferred) return;
  // Releasing may append more; take the list in rounds.
  while (!gDeferred->empty()) {
    std::vector<TRefObject*> list;
    list.swap(*gDeferred);
    for (TRefObject* o : list) {
      try {
        o->ReleaseRef();
      } catch (...) {
        ReportSwallowedException();
      }
    }
  }
}

std::size_t DeferredFreeCount() { return gDeferred ? gDeferred->size() : 0; }

void InitFrameControls() {}

void FiniFrameControls() {
  ProcessDeferredFrees();
  if (TTimeRefreshNotifier* n = gGlobalNotifier) {
    gGlobalNotifier = nullptr;
    n->Free();
  }
  SetDefaultControlStyles(nullptr);
  ProcessDeferredFrees();
  delete gDeferred;
  gDeferred = nullptr;
}

}  // namespace zm
