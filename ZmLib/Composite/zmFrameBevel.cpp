#include "ZmLib/Composite/zmFrameBevel.h"

namespace zm {

TFrameBevel::TFrameBevel(TFrameControl* parent, TControlStyles* styles) : TStdFrameControl(parent, styles) {}

void TFrameBevel::Dispose() {
  Unwrap();
  TStdFrameControl::Dispose();
}

void TFrameBevel::Unwrap() {
  if (!control_) return;
  TFrameControl* c = control_;
  control_ = nullptr;
  if (c->HasListeners())
    for (std::int32_t tag : {ntDestroy, ntAfterResize, ntAfterMove}) c->Listeners()->Unsubscribe(tag, this);
}

void TFrameBevel::SetControl(TFrameControl* control) {
  if (control == control_) return;
  Unwrap();
  if (!control || control == this || control->TornDown()) return;
  control_ = control;
  for (std::int32_t tag : {ntDestroy, ntAfterResize, ntAfterMove})
    control->Listeners()->Subscribe(tag, kControlEvent + tag, this);
  if (autoSize_) {
    TPoint offset;
    TSize outer;
    OuterSize({control->Width(), control->Height()}, offset, outer);
    SetSize(outer.cx, outer.cy);
    FitControl();
  }
}

void TFrameBevel::SetAutoSize(bool on) {
  if (on == autoSize_) return;
  autoSize_ = on;
  if (on && control_) {
    TFrameControl* c = control_;
    control_ = nullptr;  // SetControl wraps it again and fits it
    for (std::int32_t tag : {ntDestroy, ntAfterResize, ntAfterMove}) c->Listeners()->Unsubscribe(tag, this);
    SetControl(c);
  }
}

void TFrameBevel::HandleEvent(TRefObject* sender, std::int32_t code, std::intptr_t param) {
  if (code < kControlEvent || !control_ || sender != control_) {
    TStdFrameControl::HandleEvent(sender, code, param);
    return;
  }
  switch (code - kControlEvent) {
    case ntDestroy: Unwrap(); break;
    case ntAfterResize: ControlResized(); break;
    case ntAfterMove: ControlMoved(); break;
    default: break;
  }
}

void TFrameBevel::ControlResized() {
  if (!autoSize_ || sizeLock_ || busy_ || TornDown()) return;
  TPoint offset;
  TSize outer;
  OuterSize({control_->Width(), control_->Height()}, offset, outer);
  busy_ = true;
  SetSize(outer.cx, outer.cy);
  busy_ = false;  // also when the size did not change
}

void TFrameBevel::ControlMoved() {
  if (!Follow || busy_ || updateCount_ > 0 || TornDown()) return;
  busy_ = true;
  TRect client;
  ClientRect({Width(), Height()}, client);
  TPoint p = control_->Position();
  SetPosition(p.X - client.Left, p.Y - client.Top);
  busy_ = false;
}

void TFrameBevel::FitControl() {
  if (!control_ || TornDown()) return;
  TRect client;
  ClientRect({Width(), Height()}, client);
  TPoint p = Position();
  TKeepAlive keep(control_);
  ++updateCount_;
  control_->SetPosition(p.X + client.Left, p.Y + client.Top);
  --updateCount_;
  if (!control_) return;  // gone meanwhile
  sizeLock_ = true;
  control_->SetSize(client.Right - client.Left, client.Bottom - client.Top);
  sizeLock_ = false;
}

void TFrameBevel::AfterResize() {
  TStdFrameControl::AfterResize();
  InvalidateAll();
  if (!autoSize_) return;
  if (busy_) {
    busy_ = false;
    return;
  }
  FitControl();
}

bool TFrameBevel::HitTest(std::int32_t x, std::int32_t y) {
  return !MouseTransparent && TStdFrameControl::HitTest(x, y);
}

void TFrameBevel::SetNoFill(bool on) {
  if (on == noFill_) return;
  noFill_ = on;
  InvalidateAll();
}

void TFrameBevel::SetStyle(std::uint8_t style) {
  if (style == style_) return;
  style_ = style;
  InvalidateAll();
}

TRect TFrameBevel::WholeRect() { return {0, 0, Width(), Height()}; }

void TDefFrameBevel::ClientRect(const TSize& size, TRect& rect) { rect = {0, 0, size.cx, size.cy}; }

void TDefFrameBevel::OuterSize(const TSize& inner, TPoint& offset, TSize& size) {
  offset = {};
  size = inner;
}

TFrameBevel* AllocDefFrameBevel(TFrameControl* parent) { return NewControl<TDefFrameBevel>(parent); }
TAllocFrameBevelProc AllocFrameBevel = &AllocDefFrameBevel;

void InitFrameBevel() { AllocFrameBevel = &AllocDefFrameBevel; }
void FiniFrameBevel() { AllocFrameBevel = &AllocDefFrameBevel; }

}  // namespace zm
