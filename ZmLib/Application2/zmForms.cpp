#include "ZmLib/Application2/zmForms.h"

#include <algorithm>
#include <exception>
#include <string>

#include "Platform/PlatSystem.h"
#include "Platform/User/PlatUser.h"

namespace zm {

namespace {
TFormControllerFactory gControllerHook = nullptr;

std::int32_t Clamp32(std::int64_t v) {
  return std::int32_t(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX));
}
std::int64_t Width(const TRect& r) { return std::max<std::int64_t>(0, std::int64_t(r.Right) - r.Left); }
std::int64_t Height(const TRect& r) { return std::max<std::int64_t>(0, std::int64_t(r.Bottom) - r.Top); }

template <class T>
T* MakeData(T*& slot) {
  if (!slot) {
    slot = new T();
    slot->AfterConstruction();
  }
  return slot;
}
}  // namespace

TFormControllerFactory FormControllerHook() { return gControllerHook; }

void SetFormControllerHook(TFormControllerFactory factory) {
  ZM_ASSERT(gControllerHook == nullptr || factory == nullptr, "FormControllerHook already assigned");
  gControllerHook = factory;
}

void ClearFormControllerHook(TFormControllerFactory factory) {
  if (gControllerHook == factory) gControllerHook = nullptr;
}

TFormGuard::~TFormGuard() {
  if (!obj_) return;
  try {
    obj_->ReleaseRef();
  } catch (...) {
    ReportSwallowedException();
  }
}

// ============================================================================
// TZmForm
// ============================================================================

TZmForm::TZmForm(TFormControllerFactory factory) {
  if (!factory) factory = gControllerHook;
  ZM_ASSERT(factory != nullptr, "TZmForm.Create: no form controller factory");
  try {
    events_ = new TEventList();
    events_->AfterConstruction();
    MakeData(adjustData_);
    controller_ = factory(this);
    ZM_ASSERT(controller_ != nullptr, "TZmForm.Create: the factory made no controller");
    bounds_ = controller_->DefaultBounds();
  } catch (...) {
    if (controller_) {
      controller_->DetachForm();
      FreeAndNil(controller_);
    }
    FreeAndNil(adjustData_);
    FreeAndNil(events_);
    throw;
  }
}

void TZmForm::Dispose() {
  disposing_ = true;
  std::exception_ptr failure;
  try {
    if (events_) events_->SendEvent(this, feDestroying, 0);
  } catch (...) {
    failure = std::current_exception();
  }
  if (TFormController* c = controller_) {
    controller_ = nullptr;
    c->DetachForm();
    try {
      c->Free();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  onActivate_ = nullptr;
  FreeAndNil(events_);
  FreeAndNil(keyData_);
  FreeAndNil(mouseData_);
  FreeAndNil(wheelData_);
  FreeAndNil(adjustData_);
  TRefObject::Dispose();
  if (failure) std::rethrow_exception(failure);
}

void TZmForm::Changed(std::uint8_t kind) {
  TFormGuard g(this, disposing_);
  if (events_) events_->SendEvent(this, FormChangeEvent(kind), 0);
  if (kind == fcSize) Resized();
}

void TZmForm::AdjustBounds(TRect& rect) {
  TFormGuard g(this, disposing_);
  if (!events_) return;
  TZmAdjustBoundsData* d = MakeData(adjustData_);
  TRef<TZmAdjustBoundsData> hold(d);
  d->Bounds = rect;
  events_->SendEvent(this, feAdjustBounds, reinterpret_cast<std::intptr_t>(d));
  rect = d->Bounds;
}

void TZmForm::CloseQuery(std::int32_t&) {}

void TZmForm::Resized() {}

void TZmForm::DoKey(TKeyKind kind, std::uint16_t key, WideChar& ch, TShiftState shift) {
  TFormGuard g(this, disposing_);
  if (!events_) return;
  TZmKeyData* d = MakeData(keyData_);
  TRef<TZmKeyData> hold(d);  // a nested call or the form's end must not free it under us
  d->Kind = kind;
  d->Key = key;
  d->Char = ch;
  d->Shift = shift;
  events_->SendEvent(this, feKey, reinterpret_cast<std::intptr_t>(d));
  ch = d->Char;
}

void TZmForm::DoMouse(TMouseKind kind, TPoint pos, int button, TShiftState shift) {
  TFormGuard g(this, disposing_);
  if (!events_) return;
  TZmMouseData* d = MakeData(mouseData_);
  TRef<TZmMouseData> hold(d);
  d->Kind = kind;
  d->Pos = pos;
  d->Button = button;
  d->Shift = shift;
  events_->SendEvent(this, feMouse, reinterpret_cast<std::intptr_t>(d));
}

void TZmForm::DoMouseWheel(TShiftState shift, TPoint pos, int notches) {
  TFormGuard g(this, disposing_);
  if (!events_) return;
  TZmWheelData* d = MakeData(wheelData_);
  TRef<TZmWheelData> hold(d);
  d->Shift = shift;
  d->Pos = pos;
  d->Notches = notches;
  events_->SendEvent(this, feWheel, reinterpret_cast<std::intptr_t>(d));
}

void TZmForm::DoMouseLeave() {
  TFormGuard g(this, disposing_);
  if (events_) events_->SendEvent(this, feMouseLeave, 0);
}

void TZmForm::SetBounds(const TRect& bounds) {
  TFormGuard g(this, disposing_);
  TRect b = bounds;
  b.Right = Clamp32(std::int64_t(b.Left) + Width(bounds));
  b.Bottom = Clamp32(std::int64_t(b.Top) + Height(bounds));
  if (controller_ && controller_->SetBounds(b)) return;
  // Applied last to first: the corner moves, then the size follows it.
  TFormChange c[2];
  c[0].Kind = fcSize;
  c[0].Width = Clamp32(Width(b));
  c[0].Height = Clamp32(Height(b));
  c[1].Kind = fcPosition;
  c[1].X = b.Left;
  c[1].Y = b.Top;
  ApplyChanges(c, 2);
}

void TZmForm::SetCaption(const WideString& caption) {
  TFormGuard g(this, disposing_);
  if (controller_ && controller_->SetCaption(caption)) return;
  TFormChange c;
  c.Kind = fcCaption;
  c.Caption = caption;
  ApplySelf(c);
}

void TZmForm::SetCursor(std::int32_t cursor) {
  TFormGuard g(this, disposing_);
  if (controller_ && controller_->SetCursor(cursor)) return;
  TFormChange c;
  c.Kind = fcCursor;
  c.Cursor = cursor;
  ApplySelf(c);
}

void TZmForm::SetVisible(bool visible) {
  TFormGuard g(this, disposing_);
  if (controller_ && controller_->SetVisible(visible)) return;
  TFormChange c;
  c.Kind = fcVisible;
  c.Visible = visible;
  ApplySelf(c);
}

void TZmForm::SetShowInTaskbar(bool on) {
  TFormGuard g(this, disposing_);
  if (controller_ && controller_->SetShowInTaskbar(on)) return;
  TFormChange c;
  c.Kind = fcShowInTaskbar;
  c.ShowInTaskbar = on;
  ApplySelf(c);
}

void TZmForm::SetStayOnTop(bool on) {
  TFormGuard g(this, disposing_);
  if (controller_ && controller_->SetStayOnTop(on)) return;
  TFormChange c;
  c.Kind = fcStayOnTop;
  c.StayOnTop = on;
  ApplySelf(c);
}

bool TZmForm::SetWindowState(std::uint8_t state) {
  if (state > wsMaximized) return false;
  TFormGuard g(this, disposing_);
  if (controller_ && controller_->SetWindowState(state)) return true;
  TFormChange c;
  c.Kind = fcWindowState;
  c.WindowState = state;
  ApplySelf(c);
  return true;
}

bool TZmForm::SetBorderStyle(std::uint8_t style) {
  if (style > kMaxBorderStyle) return false;
  TFormGuard g(this, disposing_);
  if (controller_ && controller_->SetBorderStyle(style)) return true;
  TFormChange c;
  c.Kind = fcBorderStyle;
  c.BorderStyle = style;
  ApplySelf(c);
  return true;
}

void TZmForm::SetBorderIcons(std::uint8_t icons) {
  icons &= biAll;
  TFormGuard g(this, disposing_);
  if (controller_ && controller_->SetBorderIcons(icons)) return;
  TFormChange c;
  c.Kind = fcBorderIcons;
  c.BorderIcons = icons;
  ApplySelf(c);
}

void TZmForm::ApplyChanges(const TFormChange* records, int count) {
  if (!records || count <= 0) return;
  TFormGuard g(this, disposing_);
  for (int i = count - 1; i >= 0; --i) {
    const TFormChange& c = records[i];
    ZM_ASSERT(c.Kind <= fcLastKind && c.Kind != fcCaptureLost,
              "TZmForm.ApplyChanges: bad change kind " + std::to_string(int(c.Kind)));
    if (ApplyOne(c)) Changed(c.Kind);
  }
}

bool TZmForm::ApplyOne(const TFormChange& c) {
  auto set = [](auto& field, auto value) {
    if (field == value) return false;
    field = value;
    return true;
  };
  switch (c.Kind) {
    case fcActivated: return set(active_, true);
    case fcDeactivated: return set(active_, false);
    case fcCaption: return set(caption_, c.Caption);
    case fcCursor: return set(cursor_, c.Cursor);
    case fcVisible: return set(visible_, c.Visible);
    case fcPosition: {
      TRect b{c.X, c.Y, Clamp32(std::int64_t(c.X) + Width(bounds_)), Clamp32(std::int64_t(c.Y) + Height(bounds_))};
      return set(bounds_, b);
    }
    case fcSize: {
      TRect b = bounds_;
      b.Right = Clamp32(std::int64_t(b.Left) + std::max(0, c.Width));
      b.Bottom = Clamp32(std::int64_t(b.Top) + std::max(0, c.Height));
      return set(bounds_, b);
    }
    case fcShowInTaskbar: return set(showInTaskbar_, c.ShowInTaskbar);
    case fcStayOnTop: return set(stayOnTop_, c.StayOnTop);
    case fcWindowState: return c.WindowState <= wsMaximized && set(windowState_, c.WindowState);
    case fcBorderStyle: return c.BorderStyle <= kMaxBorderStyle && set(borderStyle_, c.BorderStyle);
    case fcBorderIcons: return set(borderIcons_, std::uint8_t(c.BorderIcons & biAll));
    default: return false;
  }
}

void TZmForm::Close() {
  TFormGuard g(this, disposing_);
  if (controller_) controller_->Close();
}

TPoint TZmForm::ClientToScreen(TPoint p) {
  if (controller_ && controller_->ClientToScreen(p)) return p;
  return {Clamp32(std::int64_t(p.X) + bounds_.Left), Clamp32(std::int64_t(p.Y) + bounds_.Top)};
}

TPoint TZmForm::ScreenToClient(TPoint p) {
  if (controller_ && controller_->ScreenToClient(p)) return p;
  return {Clamp32(std::int64_t(p.X) - bounds_.Left), Clamp32(std::int64_t(p.Y) - bounds_.Top)};
}

TRect TZmForm::GetClientRect() {
  if (controller_) return controller_->GetClientRect();
  return {0, 0, Clamp32(Width(bounds_)), Clamp32(Height(bounds_))};
}

TSize TZmForm::GetNonClientSize() { return controller_ ? controller_->GetNonClientSize() : TSize{}; }

bool TZmForm::HasMouseCapture() { return controller_ && controller_->HasMouseCapture(); }

bool TZmForm::SetMouseCapture() { return controller_ && controller_->SetMouseCapture(); }

void TZmForm::ReleaseMouseCapture() {
  TFormGuard g(this, disposing_);
  if (controller_) controller_->ReleaseMouseCapture();
}

// ============================================================================
// TFormController
// ============================================================================

TFormController::TFormController(TZmForm* form) : form_(form) {
  ZM_ASSERT(form != nullptr, "TFormController.Create: no form");
}

TRect TFormController::DefaultBounds() { return {}; }

bool TFormController::ClientToScreen(TPoint&) { return false; }

bool TFormController::ScreenToClient(TPoint&) { return false; }

void TFormController::Close() {
  TZmForm* f = form_;
  if (!f || f->Disposing()) return;
  TFormGuard keep(f, false);
  std::int32_t action = caHide;
  f->CloseQuery(action);
  switch (action) {
    case caNone: break;
    case caHide: f->SetVisible(false); break;
    case caFree:
      if (form_ == f) FreeForm();
      break;
    case caMinimize: f->SetWindowState(wsMinimized); break;
    default: ZM_FAIL("TFormController.Close: bad close action " + std::to_string(action));
  }
}

void TFormController::FreeForm() {
  // Once only: the form keeps living while the operation that freed it runs.
  if (TZmForm* f = form_) {
    form_ = nullptr;
    f->Free();
  }
}

TRect TFormController::GetClientRect() {
  if (!form_) return {};
  const TRect& b = form_->Bounds();
  return {0, 0, Clamp32(Width(b)), Clamp32(Height(b))};
}

void TFormController::Invalidate(const TRect*) { ZM_FAIL("TFormController.Invalidate: the form has no window"); }

bool TFormController::IsActive() { return form_ && form_->Active(); }

void TFormController::Report(const TFormChange& change) { Report(&change, 1); }

void TFormController::Report(const TFormChange* changes, int count) {
  if (form_ && !form_->Disposing()) form_->ApplyChanges(changes, count);
}

// ============================================================================
// TZmFormDevice
// ============================================================================

namespace {
HWND FormHandle(TZmForm* form) {
  ZM_ASSERT(form != nullptr, "TZmFormDevice.Create: no form");
  TFormController* c = form->Controller();
  return c ? c->Handle() : nullptr;
}

// A move alone changes the client origin too, so position changes count.
const std::int32_t kDeviceEvents[] = {feDestroying, FormChangeEvent(fcCursor), FormChangeEvent(fcPosition),
                                      FormChangeEvent(fcSize)};
}  // namespace

TZmFormDevice::TZmFormDevice(TZmForm* form) : TDrawDevice(FormHandle(form)), form_(form) {
  form->Events()->AddHandlers(kDeviceEvents, &FormEvent, this);
  form->SetOnActivate([this](TZmForm*) { Refresh(); });
  form->SetDrawnByDevice(true);
  SetOnBoundsChanged([this](TDrawDevice*) { Refresh(); });
}

void TZmFormDevice::Unlink() {
  TZmForm* f = form_;
  form_ = nullptr;
  if (!f) return;
  if (TEventList* e = f->Events()) e->RemoveHandlers(kDeviceEvents, &FormEvent, this);
  f->SetOnActivate(nullptr);
  f->SetDrawnByDevice(false);
}

void TZmFormDevice::Dispose() {
  Unlink();
  SetOnBoundsChanged(nullptr);
  {
    std::lock_guard<std::mutex> l(refreshLock_);
    onRefresh_ = nullptr;
  }
  TDrawDevice::Dispose();
}

bool TZmFormDevice::IsActive() {
  TZmForm* f = form_;
  TFormController* c = f ? f->Controller() : nullptr;
  return c && c->IsActive();
}

void TZmFormDevice::SetOnRefresh(TRefreshCallback callback) {
  std::lock_guard<std::mutex> l(refreshLock_);
  onRefresh_ = std::move(callback);
}

void TZmFormDevice::Refresh() {
  TRefreshCallback cb;
  {
    std::lock_guard<std::mutex> l(refreshLock_);
    cb = onRefresh_;
  }
  if (cb) cb(this);
}

void TZmFormDevice::UpdateFromForm() {
  TZmForm* f = form_;
  if (!f) return;
  TRect client = f->GetClientRect();
  TPoint origin = f->ClientToScreen(TPoint{0, 0});
  SetBounds(client, origin, FullScreen());
}

void TZmFormDevice::FormEvent(void* data, TRefObject*, std::int32_t eventId, std::intptr_t) {
  auto* self = static_cast<TZmFormDevice*>(data);
  if (eventId == feDestroying) {
    self->Unlink();
    return;
  }
  if (!self->form_) return;
  if (eventId == FormChangeEvent(fcSize) || eventId == FormChangeEvent(fcPosition)) {
    self->UpdateFromForm();
    return;
  }
  // The cursor changed: the window under the mouse, when it is one of this
  // thread's, sets its cursor again at once.
  plat::POINT pt;
  if (!plat::GetCursorPos(&pt)) return;
  HWND h = plat::WindowFromPoint(pt);
  if (!h || plat::GetWindowThreadProcessId(h, nullptr) != plat::CurrentThreadId()) return;
  LRESULT hit = WndAPIClass->SendMessage(h, plat::WM_NCHITTEST, 0, plat::MAKELPARAM(pt.x, pt.y));
  WndAPIClass->SendMessage(h, plat::WM_SETCURSOR, reinterpret_cast<WPARAM>(h),
                           plat::MAKELPARAM(int(hit), int(plat::WM_MOUSEMOVE)));
}

}  // namespace zm
