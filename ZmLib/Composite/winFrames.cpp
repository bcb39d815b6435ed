#include "ZmLib/Composite/winFrames.h"

#include <algorithm>

#include "Platform/Gdi/PlatGdi.h"
#include "Platform/User/PlatUser.h"
#include "ZmLib/Composite/winMouseCursor.h"
#include "ZmLib/Composite/zmFrameControls.h"

namespace zm {

namespace {
std::uint32_t gNextId = 0;
TRootFrameRegistry* gRegistry = nullptr;

// Covers every window coordinate a frame can reach.
constexpr TRect kEverywhere{-1000000000, -1000000000, 1000000000, 1000000000};

std::int32_t Sat(std::int64_t v) { return std::int32_t(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX)); }

TRect Moved(const TRect& r, std::int32_t dx, std::int32_t dy) {
  if (IsEmptyRect(r)) return r;
  return {Sat(std::int64_t(r.Left) + dx), Sat(std::int64_t(r.Top) + dy), Sat(std::int64_t(r.Right) + dx),
          Sat(std::int64_t(r.Bottom) + dy)};
}

TRect Intersect(const TRect& a, const TRect& b) {
  TRect r{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right), std::min(a.Bottom, b.Bottom)};
  return IsEmptyRect(r) ? kEmptyRect : r;
}

bool Meets(const TRect& a, const TRect& b) { return !IsEmptyRect(Intersect(a, b)); }

bool SameRect(const TRect& a, const TRect& b) { return a == b || (IsEmptyRect(a) && IsEmptyRect(b)); }

// The frames below F, each held for the walk (a handler may free any of them).
std::vector<TRef<TWinFrame>> ChildFrames(TDrawFrame* f) {
  std::vector<TRef<TWinFrame>> out;
  for (TDrawFrame* c = f->FirstChild(); c; c = c->NextSibling())
    if (auto* w = dynamic_cast<TWinFrame*>(c); w && w->RefCount() > 0) out.emplace_back(w);
  return out;
}
}  // namespace

// ---- TWinFrame ---------------------------------------------------------------------

TWinFrame::TWinFrame(TWinSurface* surface)
    : id_(++gNextId), surface_(surface), visible_(kEverywhere), bounds_(kEmptyRect) {
  if (id_ == 0) id_ = ++gNextId;  // 0 means "no frame"
}

void TWinFrame::Dispose() {
  if (surface_ && (InvalidateRegions() || pending_.Count > 0)) MarkChanged();
  TDrawFrame::Dispose();
  surface_ = nullptr;
  pending_.Reset();
  region_.Reset();
}

void TWinFrame::MarkChanged() {
  if (surface_) surface_->SetChanged(true);
}

bool TWinFrame::InvalidateRegions() {
  bool any = false;
  if (surface_ && region_.Count > 0) any = surface_->InvalidateList(region_.Items.data(), region_.Count);
  for (auto& c : ChildFrames(this)) any = c->InvalidateRegions() || any;
  return any;
}

bool TWinFrame::Visible() {
  if (TFrameHandler* h = Handler()) return h->Shown();
  return true;
}

void TWinFrame::UpdateVisibleRect() {
  TRect r;
  if (!Visible()) {
    r = kHiddenFrameRect;
  } else if (Clipped()) {
    TPoint o = Origin();
    r = Moved(ClipRect(), o.X, o.Y);
    if (IsEmptyRect(r)) r = kHiddenFrameRect;
  } else {
    r = kEverywhere;
  }
  if (SameRect(r, visible_)) return;
  visible_ = r;
  if (InvalidateRegions()) MarkChanged();
}

TRef<TWinFrame> TWinFrame::Clone() { return MakeRef<TWinFrame>(surface_.get()); }

TRef<TDrawFrame> TWinFrame::CreateFrame() { return Clone(); }

void TWinFrame::SetPosition(std::int32_t x, std::int32_t y) {
  if (Position() == TPoint{x, y}) return;
  TDrawFrame::SetPosition(x, y);
  MarkChanged();
}

void TWinFrame::Changed() {
  TDrawFrame::Changed();
  UpdateVisibleRect();
  MarkChanged();
}

void TWinFrame::Invalidate(const TRect& rect) {
  if ((Flags() & kDisposed) || !surface_ || IsEmptyRect(rect)) return;
  pending_.Add(rect);
  UnionRectInPlace(bounds_, Moved(rect, absPos_.X, absPos_.Y));
  MarkChanged();
}

void TWinFrame::InvalidateAll() {
  if (auto* c = dynamic_cast<TFrameControl*>(Handler())) c->InvalidateAll();
  else if (Clipped()) Invalidate(ClipRect());
  for (auto& k : ChildFrames(this)) k->InvalidateAll();
}

void TWinFrame::AddChildAfter(TDrawFrame* child, TDrawFrame* after) {
  TDrawFrame::AddChildAfter(child, after);
  if (auto* w = dynamic_cast<TWinFrame*>(child)) w->InvalidateAll();
}

void TWinFrame::AddChildBefore(TDrawFrame* child, TDrawFrame* before) {
  TDrawFrame::AddChildBefore(child, before);
  if (auto* w = dynamic_cast<TWinFrame*>(child)) w->InvalidateAll();
}

void TWinFrame::RemoveFromParent() {
  if (Parent() && InvalidateRegions()) MarkChanged();
  TDrawFrame::RemoveFromParent();
}

TWinFrame* TWinFrame::FindById(std::uint32_t id) {
  if (id == 0) return nullptr;
  if (id == id_) return this;
  for (TDrawFrame* c = FirstChild(); c; c = c->NextSibling())
    if (auto* w = dynamic_cast<TWinFrame*>(c))
      if (TWinFrame* f = w->FindById(id)) return f;
  return nullptr;
}

std::int32_t TWinFrame::DispatchMouse(TMouseDataEx& m, bool cancel) {
  if (!FirstChild() && !Handler()) return 0;
  TKeepAlive self(this);
  const std::int32_t sx = m.X, sy = m.Y;
  TPoint pos = Parent() ? Position() : TPoint{};
  m.X = sx - pos.X;
  m.Y = sy - pos.Y;
  bool inside = m.WindowX >= visible_.Left && m.WindowX < visible_.Right && m.WindowY >= visible_.Top &&
                m.WindowY < visible_.Bottom;
  std::int32_t result = 0;
  if (m.Capture || IsEmptyRect(visible_) || inside) {
    // The frame drawn last lies on top: it is asked first.
    auto children = ChildFrames(this);
    for (auto it = children.rbegin(); it != children.rend() && result == 0; ++it)
      result = (*it)->DispatchMouse(m, cancel);
    TFrameHandler* h = Handler();
    if (result == 0 && h) {
      TKeepAlive keepHandler(h);
      bool handled = false;
      if (m.Capture) {
        if (m.CaptureId == id_) {
          if (cancel) {
            h->MouseLeft();
          } else {
            m.Captured = true;
            h->HandleMouse(m);
            m.NextHoverId = id_;
            if (m.HoverId == id_) m.HoverId = 0;
          }
          result = -1;
        }
      } else {
        m.Captured = false;
        handled = h->HandleMouse(m);
        if (handled) {
          result = 1;
          if (m.Kind == mkDown && m.Buttons != 0) {
            m.Capture = true;
            m.CaptureId = id_;
            m.CaptureButton = m.Buttons;
          }
        }
        if (!handled && m.HoverId == id_ && Handler() == h) {
          m.HoverId = 0;
          h->MouseLeft();
        }
        if (handled) {
          m.NextHoverId = id_;
          if (m.HoverId == id_) m.HoverId = 0;
        }
      }
    }
  }
  m.X = sx;
  m.Y = sy;
  return result;
}

bool TWinFrame::UpdatePositions(TPoint offset) {
  UpdateVisibleRect();
  bool any = false;
  if (!Visible() || !surface_) return any;
  TPoint abs = Parent() ? TPoint{Sat(std::int64_t(offset.X) + Position().X), Sat(std::int64_t(offset.Y) + Position().Y)}
                        : offset;
  if (abs != absPos_) {
    std::int32_t dx = Sat(std::int64_t(abs.X) - absPos_.X), dy = Sat(std::int64_t(abs.Y) - absPos_.Y);
    if (region_.Count == 0) {
      bounds_ = Moved(bounds_, dx, dy);
    } else {
      any = surface_->InvalidateList(region_.Items.data(), region_.Count) || any;
      region_.Offset(dx, dy);
      bounds_ = Moved(bounds_, dx, dy);
      any = surface_->InvalidateList(region_.Items.data(), region_.Count) || any;
    }
    absPos_ = abs;
  }
  // What was asked in frame coordinates goes onto the surface now.
  for (std::int32_t i = 0; i < pending_.Count; ++i) {
    TRect r = Moved(pending_[i], abs.X, abs.Y);
    any = surface_->Invalidate(r) || any;
    UnionRectInPlace(bounds_, r);
  }
  pending_.Reset();
  for (auto& c : ChildFrames(this)) any = c->UpdatePositions(abs) || any;
  return any;
}

void TWinFrame::PaintFrame() {
  TWinSurface* s = surface_.get();
  if (!s) return;
  TKeepAlive self(this);
  TRef<TWinSurface> keepSurface(s);
  s->SetOrigin(absPos_.X, absPos_.Y);
  const TRect savedClip = s->PaintClip();
  struct TRestoreClip {
    TWinSurface* S;
    TRect R;
    ~TRestoreClip() { S->SetPaintClip(R); }
  } restoreClip{s, savedClip};
  if (!Visible()) return;
  if (Clipped()) {
    TRect clip = Intersect(savedClip, visible_);
    if (IsEmptyRect(clip)) return;
    s->SetPaintClip(clip);
  }
  // The root always paints under everything; other frames when they cover
  // part of what is being repainted.
  if (!Parent() || Meets(bounds_, s->PaintClip())) {
    pending_.Reset();
    region_.Reset();
    TRectList* saved = s->SwapDrawnList(&region_);
    struct TRestoreList {
      TWinSurface* S;
      TRectList* L;
      ~TRestoreList() { S->SwapDrawnList(L); }
    } restoreList{s, saved};
    if (OnPaint) OnPaint(this, s);
    else PaintDefault(s);
    bounds_ = region_.Count > 0 ? region_.GetBounds() : kEmptyRect;
  }
  for (auto& c : ChildFrames(this)) {
    if (c->Parent() != this) continue;  // a painter took it away
    c->PaintFrame();
  }
}

// ---- TRootFrame ----------------------------------------------------------------------

TRootFrame::TRootFrame() : TWinFrame(nullptr) {
  SetSurface(MakeRef<TWinSurface>(1, 1).get());
  RootFrameRegistry()->Add(this);
}

void TRootFrame::Dispose() {
  if (gRegistry) gRegistry->Remove(this);
  OnCaptureChanged = nullptr;
  OnGetAbsolutePos = nullptr;
  if (TWinSurface* s = Surface()) s->OnChanged = nullptr;
  update_.clear();
  TWinFrame::Dispose();
}

TRootFrameRegistry* TRootFrame::GetRegistry() { return RootFrameRegistry(); }

TPoint TRootFrame::GetAbsolutePos() {
  ZM_ASSERT(bool(OnGetAbsolutePos), "TRootFrame.OnGetAbsolutePos not Assigned");
  return OnGetAbsolutePos();
}

bool TRootFrame::SetCursor(std::int32_t cursor) { return SetMouseCursor(cursor); }

void TRootFrame::InvalidateAll() {
  Invalidate({0, 0, width_, height_});
  TWinFrame::InvalidateAll();
}

void TRootFrame::SystemChanged() { InvalidateAll(); }

void TRootFrame::SetBounds(std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height) {
  width = std::max(width, 1);
  height = std::max(height, 1);
  SetPosition(x, y);
  TWinSurface* s = Surface();
  std::int32_t ow = s->Width(), oh = s->Height();
  width_ = width;
  height_ = height;
  if (ow == width && oh == height) return;
  s->SetSize(width, height, true);
  if (width > ow) Invalidate({ow, 0, width, std::min(oh, height)});
  if (height > oh) Invalidate({0, oh, std::max(ow, width), height});
  MarkChanged();
}

void TRootFrame::MouseEvent(std::int32_t kind, std::int32_t x, std::int32_t y, std::int32_t buttonsOrDelta) {
  TKeepAlive self(this);
  TMouseDataEx& m = mouse_;
  const bool was = m.Capture;
  m.Kind = kind;
  m.Buttons = kind == mkWheel ? 0 : buttonsOrDelta;
  m.WheelDelta = kind == mkWheel ? buttonsOrDelta : 0;
  m.X = x;
  m.Y = y;
  m.WindowX = Sat(std::int64_t(x) + origin_.X);
  m.WindowY = Sat(std::int64_t(y) + origin_.Y);
  m.Cursor = 0;
  m.Handled = false;
  m.NextHoverId = 0;
  // A captured frame that has gone holds the mouse no longer.
  if (m.Capture && m.CaptureId != Id() && !FindById(m.CaptureId)) m.Capture = false;
  const bool cancel = cancel_;
  DispatchMouse(m, cancel && m.Capture);
  if (Flags() & kDisposed) return;
  SetCursor(m.Cursor);
  if (m.HoverId != 0) {
    if (TWinFrame* f = FindById(m.HoverId))
      if (TFrameHandler* h = f->Handler()) {
        TKeepAlive keep(h);
        h->MouseLeft();
      }
  }
  m.HoverId = m.NextHoverId;
  if (cancel_) {
    cancel_ = false;
    m.Capture = false;
  } else if (kind == mkDown && m.Buttons != 0 && !m.Capture) {
    m.Capture = true;
    m.CaptureId = Id();
    m.CaptureButton = m.Buttons;
  } else if (kind == mkUp && m.Capture && (m.Buttons & m.CaptureButton) != 0) {
    m.Capture = false;
  } else if (kind != mkDown && m.Capture && was && window_ && plat::GetCapture() != window_) {
    m.Capture = false;
  }
  if (!m.Capture) m.CaptureId = 0;
  if (was != m.Capture && OnCaptureChanged) OnCaptureChanged(m.Capture);
}

bool TRootFrame::HandleMessage(plat::UINT msg, plat::WPARAM w, plat::LPARAM l, TPoint origin, plat::HWND window) {
  if (entered_ > 0) return false;
  static const plat::UINT wheelMsg = plat::RegisterWindowMessageW(u"MSWHEEL_ROLLMSG");
  bool wheel = msg == plat::WM_MOUSEWHEEL || (wheelMsg != 0 && msg == wheelMsg);
  if (!wheel && (msg < plat::WM_MOUSEFIRST || msg > plat::WM_MOUSELAST)) return false;
  window_ = window;
  TKeepAlive self(this);
  ++entered_;
  struct TLeave {
    std::int32_t& N;
    ~TLeave() { --N; }
  } leave{entered_};
  std::int32_t cx = plat::GET_X_LPARAM(l), cy = plat::GET_Y_LPARAM(l);
  if (wheel) {
    // Wheel messages carry the screen position.
    cx -= origin.X;
    cy -= origin.Y;
    MouseEvent(mkWheel, cx - origin_.X, cy - origin_.Y, plat::GET_WHEEL_DELTA_WPARAM(w));
    return true;
  }
  std::int32_t kind = mkMove, button = 0;
  switch (msg) {
    case plat::WM_LBUTTONDOWN: kind = mkDown, button = mbLeft; break;
    case plat::WM_RBUTTONDOWN: kind = mkDown, button = mbRight; break;
    case plat::WM_MBUTTONDOWN: kind = mkDown, button = mbMiddle; break;
    case plat::WM_LBUTTONUP: kind = mkUp, button = mbLeft; break;
    case plat::WM_RBUTTONUP: kind = mkUp, button = mbRight; break;
    case plat::WM_MBUTTONUP: kind = mkUp, button = mbMiddle; break;
    case plat::WM_LBUTTONDBLCLK: kind = mkDoubleClick, button = mbLeft; break;
    case plat::WM_RBUTTONDBLCLK: kind = mkDoubleClick, button = mbRight; break;
    case plat::WM_MBUTTONDBLCLK: kind = mkDoubleClick, button = mbMiddle; break;
    case plat::WM_MOUSEMOVE: button = std::int32_t(w & (mbLeft | mbRight | mbMiddle)); break;
    default: return true;  // horizontal wheel and the rest: mouse messages the frames do not use
  }
  MouseEvent(kind, cx - origin_.X, cy - origin_.Y, button);
  return true;
}

bool TRootFrame::PrepareUpdate() {
  TWinSurface* s = Surface();
  if (!s || !s->Changed()) return false;
  TKeepAlive self(this);
  s->SetChanged(false);
  update_.clear();
  UpdatePositions(origin_);
  PaintFrame();
  s->SetOrigin(0, 0);
  s->CollectPaintRects();
  for (const TRect& r : s->PaintRects()) update_.push_back(Moved(r, origin_.X, origin_.Y));
  return !update_.empty();
}

bool TRootFrame::PaintTo(plat::HDC dc, std::int32_t x, std::int32_t y, const std::vector<TRect>& region,
                         bool layered) {
  TWinSurface* s = Surface();
  if (!s || !dc) return false;
  std::vector<TRect> rects;
  rects.reserve(region.size());
  for (const TRect& r : region) rects.push_back(Moved(r, -origin_.X, -origin_.Y));
  std::int32_t ox = Sat(std::int64_t(x) + origin_.X), oy = Sat(std::int64_t(y) + origin_.Y);
  if (layered) return s->PaintLayeredTo(dc, ox, oy, rects.data(), std::int32_t(rects.size()));
  return s->PaintRectsTo(dc, ox, oy, rects.data(), std::int32_t(rects.size()));
}

// ---- TRootFrameRegistry ----------------------------------------------------------------

void TRootFrameRegistry::Add(TRootFrame* root) {
  if (root && std::find(roots_.begin(), roots_.end(), root) == roots_.end()) roots_.push_back(root);
}

void TRootFrameRegistry::Remove(TRootFrame* root) { std::erase(roots_, root); }

void TRootFrameRegistry::ReadPixelsPerInch() {
  plat::HDC dc = plat::GetDC(nullptr);
  std::int32_t ppi = dc ? plat::GetDeviceCaps(dc, plat::LOGPIXELSY) : 0;
  if (dc) plat::ReleaseDC(nullptr, dc);
  if (ppi > 0) ppi_ = ppi;
}

bool TRootFrameRegistry::SystemMessage(plat::UINT msg) {
  if (msg != plat::WM_SYSCOLORCHANGE && msg != plat::WM_THEMECHANGED) return false;
  ReadPixelsPerInch();
  std::vector<TRef<TRootFrame>> roots;
  for (TRootFrame* r : roots_) roots.emplace_back(r);
  for (auto& r : roots)
    if (!(r->Flags() & kDisposed)) r->SystemChanged();
  return true;
}

TRootFrameRegistry* RootFrameRegistry() {
  if (!gRegistry) {
    gRegistry = MakeRef<TRootFrameRegistry>().Detach();
    gRegistry->ReadPixelsPerInch();
  }
  return gRegistry;
}

void InitWinFrames() {}

void FiniWinFrames() {
  if (TRootFrameRegistry* r = gRegistry) {
    gRegistry = nullptr;
    r->Free();
  }
}

}  // namespace zm
