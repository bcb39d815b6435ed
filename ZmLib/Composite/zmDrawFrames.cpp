#include "ZmLib/Composite/zmDrawFrames.h"

#include <cmath>

namespace zm {

bool IsEmptyRect(const TRect& r) { return r.Right <= r.Left || r.Bottom <= r.Top; }

// ---- TDrawSurface -------------------------------------------------------------------

std::int32_t TDrawSurface::TilePositions(const TRect& rect, std::int32_t w, std::int32_t h, std::int32_t ox,
                                         std::int32_t oy, TPoint* out, std::int32_t max) {
  if (w < 1 || h < 1 || IsEmptyRect(rect)) return 0;
  // C++ division truncates toward zero, as the anchor rule asks.
  std::int64_t x0 = std::int64_t(ox) + (std::int64_t(rect.Left) - ox) / w * w;
  std::int64_t y0 = std::int64_t(oy) + (std::int64_t(rect.Top) - oy) / h * h;
  std::int32_t n = 0;
  for (std::int64_t y = y0; y < rect.Bottom; y += h)
    for (std::int64_t x = x0; x < rect.Right; x += w) {
      if (out && n < max) out[n] = {std::int32_t(x), std::int32_t(y)};
      ++n;
    }
  return n;
}

void TDrawSurface::Tile(const TRect& rect, std::int32_t w, std::int32_t h, std::int32_t ox, std::int32_t oy,
                        TBitmap* tile) {
  if (!tile || w < 1 || h < 1 || IsEmptyRect(rect)) return;
  std::int64_t x0 = std::int64_t(ox) + (std::int64_t(rect.Left) - ox) / w * w;
  std::int64_t y0 = std::int64_t(oy) + (std::int64_t(rect.Top) - oy) / h * h;
  for (std::int64_t y = y0; y < rect.Bottom; y += h)
    for (std::int64_t x = x0; x < rect.Right; x += w) DrawBitmap(std::int32_t(x), std::int32_t(y), tile);
}

// ---- TFrameHandler --------------------------------------------------------------------

void TFrameHandler::Dispose() {
  SetFrame(nullptr);
  events::TEventHandler::Dispose();
}

void TFrameHandler::SetFrame(TDrawFrame* frame) {
  if (frame == frame_) return;
  if (TDrawFrame* old = frame_) old->AttachHandler(nullptr);
  frame_ = frame;
  if (frame) frame->AttachHandler(this);
}

void TFrameHandler::FrameNotify(std::int32_t, std::intptr_t) {}
void TFrameHandler::BeforeMove() {}
void TFrameHandler::AfterMove() {}
void TFrameHandler::FrameDetached() { frame_ = nullptr; }
void TFrameHandler::Paint(TDrawSurface*) {}
bool TFrameHandler::HandleMouse(TMouseData&) { return false; }

// ---- TDrawFrame --------------------------------------------------------------------------

TDrawFrame::TDrawFrame() = default;

void TDrawFrame::Dispose() {
  if (TFrameHandler* h = handler_) {
    handler_ = nullptr;
    h->FrameDetached();
  }
  RemoveFromParent();
  // Frames with a handler belong to it and are only let go; plain frames die with the tree.
  while (TDrawFrame* c = first_) {
    c->RemoveFromParent();
    if (!c->handler_) c->Free();
  }
  TRefObject::Dispose();
}

void TDrawFrame::AttachHandler(TFrameHandler* handler) {
  if (handler) {
    ZM_ASSERT(!handler_ && handler->frame_ == this, "TDrawFrame.AttachHandler: handler does not match its frame");
    handler_ = handler;
  } else {
    ZM_ASSERT(!handler_ || handler_->frame_ == this, "TDrawFrame.AttachHandler: handler does not match its frame");
    handler_ = nullptr;
  }
}

void TDrawFrame::Changed() {}

TRef<TDrawFrame> TDrawFrame::CreateFrame() { return MakeRef<TDrawFrame>(); }

void TDrawFrame::SetPosition(std::int32_t x, std::int32_t y) {
  if (handler_) handler_->BeforeMove();
  pos_ = {x, y};
  if (handler_) handler_->AfterMove();
}

TFrameOwner* TDrawFrame::Owner() { return parent_ ? parent_->Owner() : nullptr; }

TPoint TDrawFrame::Origin() {
  if (!parent_) return {};
  TPoint o = parent_->Origin();
  return {o.X + pos_.X, o.Y + pos_.Y};
}

void TDrawFrame::Link(TDrawFrame* parent, TDrawFrame* prev, TDrawFrame* next) {
  ZM_ASSERT(parent != nullptr, "TDrawFrame: nil parent");
  parent_ = parent;
  prev_ = prev;
  next_ = next;
  if (prev) prev->next_ = this;
  else parent->first_ = this;
  if (next) next->prev_ = this;
  else parent->last_ = this;
}

void TDrawFrame::AddChildAfter(TDrawFrame* child, TDrawFrame* after) {
  ZM_ASSERT(child != nullptr, "TDrawFrame.AddChildAfter: nil frame");
  ZM_ASSERT(child != this && (!after || after->parent_ == this), "TDrawFrame.AddChildAfter: bad neighbour");
  child->RemoveFromParent();
  TDrawFrame* prev = after ? after : last_;
  child->Link(this, prev, prev ? prev->next_ : first_);
}

void TDrawFrame::AddChildBefore(TDrawFrame* child, TDrawFrame* before) {
  ZM_ASSERT(child != nullptr, "TDrawFrame.AddChildBefore: nil frame");
  ZM_ASSERT(child != this && (!before || before->parent_ == this), "TDrawFrame.AddChildBefore: bad neighbour");
  child->RemoveFromParent();
  TDrawFrame* next = before ? before : first_;
  child->Link(this, next ? next->prev_ : last_, next);
}

void TDrawFrame::RemoveFromParent() {
  if (!parent_) return;
  if (prev_) prev_->next_ = next_;
  else parent_->first_ = next_;
  if (next_) next_->prev_ = prev_;
  else parent_->last_ = prev_;
  parent_ = prev_ = next_ = nullptr;
}

void TDrawFrame::Invalidate(const TRect&) {}

void TDrawFrame::PaintDefault(TDrawSurface* surface) {
  if (handler_) handler_->Paint(surface);
}

float TDrawFrame::ScaledFontSize(float size, float factor) {
  TFrameOwner* o = Owner();
  double scale = o ? o->FontScale() : 0;
  if (scale > 0) return float(double(size) * factor / scale);
  return size;
}

TPoint TDrawFrame::ToWindow(const TPoint& p) {
  TPoint o = Origin();
  return {o.X + p.X, o.Y + p.Y};
}

void TDrawFrame::SetClipRect(const TRect& r) {
  if (r == clip_ || (IsEmptyRect(r) && IsEmptyRect(clip_))) return;
  clip_ = r;
  Changed();
}

void TDrawFrame::SetClipped(bool clipped) {
  if (clipped == clipped_) return;
  clipped_ = clipped;
  Changed();
}

void TDrawFrame::NotifyTree(std::int32_t code, std::intptr_t data) {
  TKeepAlive self(this);
  if (handler_) handler_->FrameNotify(code, data);
  for (TDrawFrame* c = first_; c;) {
    TDrawFrame* next = c->next_;
    c->NotifyTree(code, data);
    c = next;
  }
}

std::int32_t TDrawFrame::ChildCount() const {
  std::int32_t n = 0;
  for (TDrawFrame* c = first_; c; c = c->next_) ++n;
  return n;
}

}  // namespace zm
