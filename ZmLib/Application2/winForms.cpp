#include "ZmLib/Application2/winForms.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <mutex>

#include "Platform/PlatSystem.h"
#include "ZmLib/Application2/winApplication.h"

namespace zm {

using namespace plat;

int KeyboardCuesSetting = 2;

namespace {
constexpr char16_t kFormClass[] = u"TZmForm";
constexpr char16_t kDumbClass[] = u"TDumbWindow";
constexpr char16_t kControlClass[] = u"TWinControl";

UINT gFreeMsg = 0;
UINT gTaskbarMsg = 0;

// The window procedure of a class finds its object through these during
// CreateWindowExW; creation is serialised.
std::recursive_mutex& CreateLock() {
  static std::recursive_mutex m;
  return m;
}
TWinFormController* gCreatingForm = nullptr;
TDumbWindow* gCreatingDumb = nullptr;

// Registers one of the module's classes unless it is registered already.
bool EnsureClass(const char16_t* name, WNDPROC proc, UINT style = 0, bool arrowCursor = false,
                 HBRUSH background = nullptr) {
  WNDCLASSW wc{};
  wc.style = style;
  wc.lpfnWndProc = proc;
  wc.hInstance = ModuleInstance();
  if (arrowCursor) wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = background;
  wc.lpszClassName = name;
  if (WndAPIClass->RegisterClass(wc)) return true;
  return LastOSError() == ERROR_CLASS_ALREADY_EXISTS;
}

// Creates a window whose first messages reach Self through its stub: the
// class's InitProc takes Self from Creating and hands the window over.
template <class T>
HWND CreateThroughStub(T* self, T*& creating, WNDPROC& stub, TWndThunkMethod entry, const TWndCreateParams& p) {
  std::lock_guard<std::recursive_mutex> lock(CreateLock());
  if (!stub) stub = MakeWndProcThunk(self, entry);
  creating = self;
  HWND h = nullptr;
  try {
    h = WndAPIClass->CreateWindow(p);
  } catch (...) {
    creating = nullptr;
    throw;
  }
  creating = nullptr;
  return h;
}

// The InitProc side: the object being created takes the window and its
// stub becomes the window procedure.
template <class T>
LRESULT AttachCreating(T*& creating, HWND T::*handle, WNDPROC T::*stub, HWND h, UINT msg, WPARAM w, LPARAM l) {
  T* o = creating;
  if (!o || !(o->*stub)) return DefWindowProcW(h, msg, w, l);
  creating = nullptr;
  o->*handle = h;
  WndAPIClass->SetWindowLong(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(o->*stub));
  return CallWindowProcW(o->*stub, h, msg, w, l);
}

// At WM_DESTROY: the object forgets the window and the rest of its messages
// no longer come through the stub (the object may go before WM_NCDESTROY).
void DetachDestroyed(HWND& handle, HWND h) {
  if (handle == h) handle = nullptr;
  WndAPIClass->SetWindowLong(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DefWindowProcW));
}

void FreeStub(WNDPROC& stub) {
  if (stub) FreeThunk(reinterpret_cast<const void*>(stub));
  stub = nullptr;
}

// Destroys the window, catching what a handler throws for the caller to
// rethrow once its own teardown is done.
std::exception_ptr DestroyCaught(HWND h) {
  try {
    WndAPIClass->DestroyWindow(h);
  } catch (...) {
    return std::current_exception();
  }
  return nullptr;
}

// The teardown of a window made through a stub: the object lets go of the
// window first, so its messages during destruction see it gone.
std::exception_ptr DestroyWindowAndStub(HWND& handle, WNDPROC& stub) {
  std::exception_ptr failure;
  if (HWND h = handle) {
    handle = nullptr;
    failure = DestroyCaught(h);
  }
  FreeStub(stub);
  return failure;
}

// Rounded to the nearest, as the system's MulDiv.
int MulDivRound(int a, int b, int c) {
  if (c == 0) return -1;
  return int(std::llround(double(std::int64_t(a) * b) / double(c)));
}

// Cursor numbers 0 down to -23; bit 31 marks the program's own cursors.
constexpr std::uintptr_t kOwn = 0x80000000u;
constexpr std::uintptr_t kCursorIds[24] = {
    IDC_ARROW,       0,          IDC_ARROW,   IDC_CROSS,   IDC_IBEAM,  IDC_SIZEALL,    IDC_SIZENESW,  IDC_SIZENS,
    IDC_SIZENWSE,    IDC_SIZEWE, IDC_UPARROW, IDC_WAIT,    IDC_ARROW,  IDC_ARROW,      kOwn | 107,    kOwn | 135,
    IDC_ARROW,       IDC_ARROW,  IDC_NO,      IDC_APPSTARTING, IDC_HELP, IDC_HAND,     IDC_SIZEALL,   kOwn | 106};

TRect ToRect(const RECT& r) { return {r.left, r.top, r.right, r.bottom}; }
int SizeOf(std::int32_t lo, std::int32_t hi) {
  return int(std::clamp<std::int64_t>(std::int64_t(hi) - lo, 0, INT32_MAX));
}
// A window is never made larger than this (the system's coordinates are
// 16-bit signed in many messages); the form keeps what it was asked.
constexpr int kMaxWindowSize = 32767;
int WindowSize(std::int32_t lo, std::int32_t hi) { return std::min(SizeOf(lo, hi), kMaxWindowSize); }

// Sets a flag for the life of a scope.
class TFlagScope {
public:
  explicit TFlagScope(bool& f) : f_(f), old_(f) { f_ = true; }
  ~TFlagScope() { f_ = old_; }

private:
  bool& f_;
  bool old_;
};
}  // namespace

UINT FormFreeMessage() { return gFreeMsg; }
UINT TaskbarButtonCreatedMessage() { return gTaskbarMsg; }

TPoint GetCursorPoint() {
  POINT p;
  if (!GetCursorPos(&p)) return {};
  return {p.x, p.y};
}

HCURSOR FormCursorHandle(std::int32_t number) {
  if (number > 0 || number < -23) number = 0;
  std::uintptr_t id = kCursorIds[-number];
  if (id == 0) return nullptr;
  if (id & kOwn) {
    if (HCURSOR c = LoadCursorW(ModuleInstance(), id & ~kOwn)) return c;
    id = IDC_ARROW;
  }
  return LoadCursorW(nullptr, id);
}

void FormWindowStyles(std::uint8_t borderStyle, std::uint8_t borderIcons, bool stayOnTop, bool visible,
                      std::uint8_t windowState, DWORD& style, DWORD& exStyle) {
  std::uint8_t icons = borderIcons & biAll;
  switch (borderStyle) {
    case 0: style = WS_POPUP, exStyle = 0, icons = 0; break;
    case 2:
    case 3: style = 0x06C40000, exStyle = WS_EX_WINDOWEDGE | WS_EX_TOOLWINDOW; break;
    case 4: style = WS_POPUP | WS_BORDER, exStyle = WS_EX_WINDOWEDGE, icons = 0; break;
    case 5: style = WS_CAPTION, exStyle = WS_EX_WINDOWEDGE, icons &= ~biMaximize; break;
    case 6: style = WS_CAPTION, exStyle = WS_EX_WINDOWEDGE, icons &= ~(biMinimize | biMaximize); break;
    default: style = 0x06C40000, exStyle = WS_EX_WINDOWEDGE; break;
  }
  exStyle |= WS_EX_CONTROLPARENT;
  if (stayOnTop) exStyle |= WS_EX_TOPMOST;
  if (visible) style |= WS_VISIBLE;
  if (windowState == wsMinimized) style |= WS_MINIMIZE;
  if (windowState == wsMaximized) style |= WS_MAXIMIZE;
  if (icons & biSystemMenu) {
    style |= WS_SYSMENU;
    if (icons & biMinimize) style |= WS_MINIMIZEBOX;
    if (icons & biMaximize) style |= WS_MAXIMIZEBOX;
    if (icons & biHelp) exStyle |= WS_EX_CONTEXTHELP;
  }
}

// ============================================================================
// TWinFormController
// ============================================================================

// Turns the translated input into the form's input calls.
class TWinFormController::TReceiver : public TInputReceiver {
public:
  explicit TReceiver(TZmForm* form) : form_(form) {}
  void Key(std::uint16_t key, TShiftState shift, bool down) override {
    WideChar c = 0;
    form_->DoKey(down ? TKeyKind::Down : TKeyKind::Up, key, c, shift);
  }
  void Char(WideChar c) override {
    form_->DoKey(TKeyKind::Char, 0, c, KeyboardShiftState());
    NewChar = c;
  }
  void Mouse(TShiftState shift, TPoint pos, TMouseKind kind, int button) override {
    form_->DoMouse(kind, pos, button, shift);
  }
  void Wheel(int notches, TShiftState shift, TPoint pos) override { form_->DoMouseWheel(shift, pos, notches); }
  int NewChar = -1;

private:
  TZmForm* form_;
};

TWinFormController::TWinFormController(TZmForm* form) : TCustomWinFormController(form) {}

TFormController* CreateWinFormController(TZmForm* form) {
  auto* c = new TWinFormController(form);
  c->AfterConstruction();
  return c;
}

void TWinFormController::Dispose() {
  disposing_ = true;
  DetachForm();
  std::exception_ptr failure = DestroyWindowAndStub(handle_, stub_);
  TCustomWinFormController::Dispose();
  if (failure) std::rethrow_exception(failure);
}

TRect TWinFormController::DefaultBounds() {
  RECT work{0, 0, 640, 480};
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  int ww = work.right - work.left, wh = work.bottom - work.top;
  int w = MulDivRound(ww - GetSystemMetrics(SM_CXFRAME), 3, 4);
  int h = MulDivRound(wh - GetSystemMetrics(SM_CYFRAME) + GetSystemMetrics(SM_CYCAPTION), 3, 4);
  int left = work.left + (ww - w) / 2, top = work.top + (wh - h) / 2;
  return {left, top, left + w, top + h};
}

void TWinFormController::CreateHandle() {
  if (handle_ || disposing_) return;
  TZmForm* f = Form();
  ZM_ASSERT(f != nullptr, "TWinFormController.CreateHandle: no form");
  TFormGuard keepSelf(this, false);
  TFormGuard keepForm(f, f->Disposing());
  if (!EnsureClass(kFormClass, &InitProc, CS_DBLCLKS, true,
                   reinterpret_cast<HBRUSH>(std::uintptr_t(COLOR_BTNFACE + 1))))
    RaiseLastOSError();
  TWndCreateParams p;
  FormWindowStyles(f->BorderStyle(), f->BorderIcons(), f->StayOnTop(), f->Visible(), f->WindowState(), p.Style,
                   p.ExStyle);
  p.ClassName = kFormClass;
  p.WindowName = f->Caption();
  const TRect& b = f->Bounds();
  p.X = b.Left;
  p.Y = b.Top;
  p.Width = WindowSize(b.Left, b.Right);
  p.Height = WindowSize(b.Top, b.Bottom);
  // Forms outside the taskbar are owned by the application's hidden window.
  if (!f->ShowInTaskbar() && WinApplication) p.Parent = WinApplication->GetHandle();
  HWND h = CreateThroughStub(this, gCreatingForm, stub_, &StubEntry, p);
  if (!h || h != handle_) RaiseLastOSError();
  RECT r;
  if (GetWindowRect(h, &r))
    SetWindowPos(h, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  if (KeyboardCuesSetting == 2 && handle_)
    WndAPIClass->SendMessage(handle_, WM_CHANGEUISTATE, MAKEWPARAM(UIS_INITIALIZE, UISF_HIDEFOCUS | UISF_HIDEACCEL), 0);
  if (freePosted_) PostFree();
}

void TWinFormController::RecreateHandle() {
  if (disposing_) return;
  TFormGuard keepSelf(this, false);
  if (HWND h = handle_) {
    TFlagScope s(recreating_);
    WndAPIClass->DestroyWindow(h);
    handle_ = nullptr;
  }
  if (Form()) CreateHandle();
}

HWND TWinFormController::Handle() {
  if (!handle_ && Form()) CreateHandle();
  return handle_;
}

LRESULT TWinFormController::InitProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
  return AttachCreating(gCreatingForm, &TWinFormController::handle_, &TWinFormController::stub_, h, msg, w, l);
}

LRESULT TWinFormController::StubEntry(void* self, HWND h, UINT msg, WPARAM w, LPARAM l) {
  auto* c = static_cast<TWinFormController*>(self);
  if (c->disposing_) return WndAPIClass->DefWindowProc(h, msg, w, l);
  // The controller and its form may be freed by what a message does; they
  // go when the message has been handled.
  TFormGuard keepSelf(c, false);
  TZmForm* f = c->Form();
  TFormGuard keepForm(f, !f || f->Disposing());
  return c->WndProc(h, msg, w, l);
}

LRESULT TWinFormController::WndProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
  if (gFreeMsg != 0 && msg == gFreeMsg) {
    if (freePosted_) {
      freePosted_ = false;
      TFormController::FreeForm();
    }
    return 0;
  }
  TMessage m;
  m.Msg = msg;
  m.WParam = w;
  m.LParam = l;
  bool handled = false;
  if (HookManager) HookManager->CallMsgHooks(this, h, handled, m);
  if (!handled) {
    HandleMessage(h, m, handled);
    if (!handled) m.Result = WndAPIClass->DefWindowProc(h, m.Msg, m.WParam, m.LParam);
    TFormChange c;
    switch (m.Msg) {
      case WM_ACTIVATE:
        c.Kind = LOWORD(m.WParam) != WA_INACTIVE ? fcActivated : fcDeactivated;
        Report(c);
        break;
      case WM_SHOWWINDOW:
        c.Kind = fcVisible;
        c.Visible = m.WParam != 0;
        Report(c);
        break;
      case WM_SETTEXT:
        if (IsWindow(h)) {
          c.Kind = fcCaption;
          c.Caption = WndAPIClass->GetWindowText(h);
          Report(c);
        }
        break;
      case WM_NCHITTEST:
        // Border style 3 can't be resized by its borders.
        if (Form() && Form()->BorderStyle() == 3 && m.Result >= HTLEFT && m.Result <= HTBOTTOMRIGHT)
          m.Result = HTCLIENT;
        break;
      default: break;
    }
  }
  if (HookManager) HookManager->CallMsgListeners(this, h, m);
  return m.Result;
}

void TWinFormController::HandleMessage(HWND h, TMessage& m, bool& handled) {
  if (TZmForm* f = Form(); f && !f->Disposing()) {
    TReceiver r(f);
    translator_.Translate(h, m.Msg, m.WParam, m.LParam, r);
    // A handler may have changed the character.
    if ((m.Msg == WM_CHAR || m.Msg == WM_SYSCHAR) && r.NewChar >= 0) m.WParam = WPARAM(r.NewChar);
  }
  TZmForm* f = Form();
  switch (m.Msg) {
    case WM_CLOSE:
      handled = true;
      m.Result = 0;
      Close();
      break;
    case WM_ACTIVATE:
      if (LOWORD(m.WParam) != WA_INACTIVE && f && f->OnActivate()) {
        TZmForm::TActivateCallback cb = f->OnActivate();
        cb(f);
      }
      break;
    case WM_DESTROY:
      DetachDestroyed(handle_, h);
      if (!recreating_) {
        // The window went from outside: the form is no longer shown; a
        // pending free can't arrive any more.
        TFormChange c;
        c.Kind = fcVisible;
        Report(c);
        if (freePosted_) {
          freePosted_ = false;
          TFormController::FreeForm();
        }
      }
      break;
    case WM_SETCURSOR:
      if (f && LOWORD(std::uintptr_t(m.LParam)) == HTCLIENT) {
        plat::SetCursor(FormCursorHandle(f->Cursor()));
        m.Result = 1;
        handled = true;
      }
      break;
    case WM_ERASEBKGND:
      // The face would show between two of the device's frames.
      if (f && f->DrawnByDevice()) {
        m.Result = 1;
        handled = true;
      }
      break;
    case WM_WINDOWPOSCHANGED: ReportPlacement(); break;
    case WM_SIZING:
      if (f && m.LParam) {
        auto* r = reinterpret_cast<RECT*>(m.LParam);
        TRect t = ToRect(*r);
        f->AdjustBounds(t);
        *r = {t.Left, t.Top, t.Right, t.Bottom};
        m.Result = 1;
        handled = true;
      }
      break;
    case WM_CAPTURECHANGED:
      if (f) f->Changed(fcCaptureLost);
      break;
    case WM_MOUSELEAVE:
      if (f) f->DoMouseLeave();
      break;
    case WM_STYLECHANGED:
      if (!changingStyles_ && f && m.LParam &&
          (std::intptr_t(m.WParam) == GWL_STYLE || std::intptr_t(m.WParam) == GWL_EXSTYLE)) {
        // Someone else changed the styles: the bits the form decides come back.
        DWORD style, ex;
        FormWindowStyles(f->BorderStyle(), f->BorderIcons(), f->StayOnTop(), false, 0, style, ex);
        const auto* ss = reinterpret_cast<const STYLESTRUCT*>(m.LParam);
        bool isStyle = std::intptr_t(m.WParam) == GWL_STYLE;
        DWORD mask = isStyle ? kFormStyleMask : kFormExStyleMask;
        DWORD want = (ss->styleNew & ~mask) | ((isStyle ? style : ex) & mask);
        if (want != ss->styleNew) {
          TFlagScope s(changingStyles_);
          WndAPIClass->SetWindowLong(h, int(std::intptr_t(m.WParam)), LONG_PTR(LONG(want)));
        }
      }
      break;
    case WM_SYSCOMMAND:
      if ((m.WParam & 0xFFF0) == SC_SIZE && f && f->BorderStyle() == 3) {
        m.Result = 0;
        handled = true;
      }
      break;
    case WM_MENUCHAR:
      m.Result = MNC_CLOSE_RESULT;
      handled = true;
      break;
    default: break;
  }
}

void TWinFormController::ReportPlacement() {
  HWND h = handle_;
  TZmForm* f = Form();
  if (!h || !f) return;
  TRect b = WndAPIClass->GetWindowBounds(h);
  TFormChange c[4];
  c[0].Kind = fcPosition;
  c[0].X = b.Left;
  c[0].Y = b.Top;
  c[1].Kind = fcSize;
  c[1].Width = SizeOf(b.Left, b.Right);
  c[1].Height = SizeOf(b.Top, b.Bottom);
  c[2].Kind = fcStayOnTop;
  c[2].StayOnTop = (WndAPIClass->GetWindowLong(h, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
  c[3].Kind = fcWindowState;
  // A hidden window keeps the state the form asks for its next show.
  c[3].WindowState = !IsWindowVisible(h) ? f->WindowState() : IsIconic(h) ? wsMinimized : IsZoomed(h) ? wsMaximized
                                                                                                      : wsNormal;
  Report(c, 4);
}

bool TWinFormController::HasMouseCapture() { return handle_ && GetCapture() == handle_; }

bool TWinFormController::SetMouseCapture() {
  if (!handle_) return false;
  SetCapture(handle_);
  return GetCapture() == handle_;
}

void TWinFormController::ReleaseMouseCapture() {
  ZM_ASSERT(handle_ != nullptr, "TWinFormController.ReleaseMouseCapture: the form has no window");
  if (GetCapture() == handle_) ReleaseCapture();
}

bool TWinFormController::ClientToScreen(TPoint& p) {
  POINT q{p.X, p.Y};
  if (!handle_ || !plat::ClientToScreen(handle_, &q)) return false;
  p = {q.x, q.y};
  return true;
}

bool TWinFormController::ScreenToClient(TPoint& p) {
  POINT q{p.X, p.Y};
  if (!handle_ || !plat::ScreenToClient(handle_, &q)) return false;
  p = {q.x, q.y};
  return true;
}

bool TWinFormController::SetBounds(const TRect& b) {
  if (!handle_) return false;
  TFormGuard keepSelf(this, disposing_);
  return SetWindowPos(handle_, nullptr, b.Left, b.Top, WindowSize(b.Left, b.Right), WindowSize(b.Top, b.Bottom),
                      SWP_NOZORDER | SWP_NOACTIVATE) != 0;
}

bool TWinFormController::SetCaption(const WideString& caption) {
  if (!handle_) return false;
  TFormGuard keepSelf(this, disposing_);
  return WndAPIClass->SetWindowText(handle_, caption);
}

bool TWinFormController::SetCursor(std::int32_t cursor) {
  if (!handle_) return false;
  TFormGuard keepSelf(this, disposing_);
  TFormChange c;
  c.Kind = fcCursor;
  c.Cursor = cursor;
  Report(c);
  // Shown at once when the mouse is over the client area.
  HWND h = handle_;
  POINT pt;
  if (h && IsWindowVisible(h) && GetCursorPos(&pt) && WindowFromPoint(pt) == h &&
      WndAPIClass->SendMessage(h, WM_NCHITTEST, 0, MAKELPARAM(pt.x, pt.y)) == HTCLIENT)
    plat::SetCursor(FormCursorHandle(cursor));
  return true;
}

void TWinFormController::ShowForState(std::uint8_t state) {
  int s = state == wsMinimized ? ssShowMinimized : state == wsMaximized ? ssShowMaximized : ssShowNormal;
  WndAPIClass->ShowWindow(handle_, s, true);
}

bool TWinFormController::SetVisible(bool visible) {
  TFormGuard keepSelf(this, disposing_);
  if (!visible) {
    if (!handle_) return false;
    WndAPIClass->ShowWindow(handle_, ssHide, true);
    return true;
  }
  if (!handle_ && Form()) CreateHandle();
  TZmForm* f = Form();
  if (!handle_ || !f) return false;
  ShowForState(f->WindowState());
  return true;
}

bool TWinFormController::SetShowInTaskbar(bool on) {
  if (!handle_) return false;
  TFormGuard keepSelf(this, disposing_);
  TFormChange c;
  c.Kind = fcShowInTaskbar;
  c.ShowInTaskbar = on;
  Report(c);
  // The owner decides the taskbar button: the window is made again.
  RecreateHandle();
  return true;
}

bool TWinFormController::SetStayOnTop(bool on) {
  if (!handle_) return false;
  TFormGuard keepSelf(this, disposing_);
  TFormChange c;
  c.Kind = fcStayOnTop;
  c.StayOnTop = on;
  Report(c);
  if (handle_)
    SetWindowPos(handle_, on ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_FRAMECHANGED);
  return true;
}

bool TWinFormController::SetWindowState(std::uint8_t state) {
  if (!handle_) return false;
  TFormGuard keepSelf(this, disposing_);
  if (IsWindowVisible(handle_)) {
    ShowForState(state);
    ReportPlacement();
  } else {
    TFormChange c;
    c.Kind = fcWindowState;
    c.WindowState = state;
    Report(c);
  }
  return true;
}

void TWinFormController::ApplyStyles() {
  HWND h = handle_;
  TZmForm* f = Form();
  if (!h || !f) return;
  DWORD style, ex;
  FormWindowStyles(f->BorderStyle(), f->BorderIcons(), f->StayOnTop(), false, 0, style, ex);
  DWORD curStyle = DWORD(WndAPIClass->GetWindowLong(h, GWL_STYLE));
  DWORD curEx = DWORD(WndAPIClass->GetWindowLong(h, GWL_EXSTYLE));
  {
    TFlagScope s(changingStyles_);
    WndAPIClass->SetWindowLong(h, GWL_STYLE, LONG_PTR(LONG((curStyle & ~kFormStyleMask) | (style & kFormStyleMask))));
    WndAPIClass->SetWindowLong(h, GWL_EXSTYLE, LONG_PTR(LONG((curEx & ~kFormExStyleMask) | (ex & kFormExStyleMask))));
  }
  if (handle_)
    SetWindowPos(handle_, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

bool TWinFormController::ChangeStyles(const TFormChange& c) {
  if (!handle_) return false;
  TFormGuard keepSelf(this, disposing_);
  Report(c);
  ApplyStyles();
  return true;
}

bool TWinFormController::SetBorderStyle(std::uint8_t style) {
  TFormChange c;
  c.Kind = fcBorderStyle;
  c.BorderStyle = style;
  return ChangeStyles(c);
}

bool TWinFormController::SetBorderIcons(std::uint8_t icons) {
  TFormChange c;
  c.Kind = fcBorderIcons;
  c.BorderIcons = icons;
  return ChangeStyles(c);
}

TRect TWinFormController::GetClientRect() {
  RECT r;
  HWND h = Handle();
  if (!h || !plat::GetClientRect(h, &r)) return TFormController::GetClientRect();
  return ToRect(r);
}

TSize TWinFormController::GetNonClientSize() {
  HWND h = Handle();
  RECT w, c;
  if (!h || !GetWindowRect(h, &w) || !plat::GetClientRect(h, &c)) return {};
  return {SizeOf(w.left, w.right) - c.right, SizeOf(w.top, w.bottom) - c.bottom};
}

void TWinFormController::Invalidate(const TRect* rect) {
  ZM_ASSERT(handle_ != nullptr, "TWinFormController.Invalidate: the form has no window");
  if (rect) {
    RECT r{rect->Left, rect->Top, rect->Right, rect->Bottom};
    InvalidateRect(handle_, &r, 0);
  } else {
    InvalidateRect(handle_, nullptr, 0);
  }
}

bool TWinFormController::IsActive() { return handle_ && GetForegroundWindow() == handle_; }

void TWinFormController::PostFree() {
  if (!handle_ || gFreeMsg == 0 || !WndAPIClass->PostMessage(handle_, gFreeMsg, 0, 0)) {
    freePosted_ = false;
    TFormController::FreeForm();
  }
}

void TWinFormController::FreeForm() {
  if (!handle_) {
    TFormController::FreeForm();
    return;
  }
  // Freed when the posted message arrives, after the message that closed it.
  if (freePosted_) return;
  freePosted_ = true;
  PostFree();
}

// ============================================================================
// TDumbWindow
// ============================================================================

void TDumbWindow::Dispose() {
  disposing_ = true;
  std::exception_ptr failure = DestroyWindowAndStub(handle_, stub_);
  TRefObject::Dispose();
  if (failure) std::rethrow_exception(failure);
}

void TDumbWindow::CreateHandle() {
  if (handle_ || disposing_) return;
  ZM_ASSERT(EnsureClass(kDumbClass, &InitProc), "TDumbWindow: window class not registered");
  TWndCreateParams p;
  p.ExStyle = WS_EX_TOOLWINDOW;
  p.ClassName = kDumbClass;
  p.Style = WS_POPUP;
  HWND h = CreateThroughStub(this, gCreatingDumb, stub_, &StubEntry, p);
  ZM_ASSERT(h != nullptr && h == handle_, "TDumbWindow: window not created");
}

LRESULT TDumbWindow::InitProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
  return AttachCreating(gCreatingDumb, &TDumbWindow::handle_, &TDumbWindow::stub_, h, msg, w, l);
}

LRESULT TDumbWindow::StubEntry(void* self, HWND h, UINT msg, WPARAM w, LPARAM l) {
  auto* d = static_cast<TDumbWindow*>(self);
  if (d->disposing_) return WndAPIClass->DefWindowProc(h, msg, w, l);
  TFormGuard keep(d, false);
  LRESULT r = d->WndProc(h, msg, w, l);
  if (msg == WM_DESTROY) DetachDestroyed(d->handle_, h);
  return r;
}

LRESULT TDumbWindow::WndProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
  return WndAPIClass->DefWindowProc(h, msg, w, l);
}

void TDumbWindow::SetBounds(const TRect& b) {
  CreateHandle();
  if (!handle_) return;
  SetWindowPos(handle_, nullptr, b.Left, b.Top, SizeOf(b.Left, b.Right), SizeOf(b.Top, b.Bottom),
               SWP_NOZORDER | SWP_NOREDRAW | SWP_NOACTIVATE | SWP_HIDEWINDOW);
}

HWND TDumbWindow::Handle() {
  CreateHandle();
  return handle_;
}

// ============================================================================
// TWinControl
// ============================================================================

void TWinControl::Dispose() {
  std::exception_ptr failure;
  if (HWND h = handle_) {
    failure = DestroyCaught(h);  // WM_NCDESTROY releases the stub
    if (stub_) {
      // Not destroyed (another thread's window?): take the stub out first.
      if (IsWindow(h)) WndAPIClass->SetWindowLong(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous_));
      FreeStub(stub_);
    }
    handle_ = nullptr;
  }
  TRefObject::Dispose();
  if (failure) std::rethrow_exception(failure);
}

WideString TWinControl::WindowClassName() { return kControlClass; }

void TWinControl::RegisterWindowClass() {
  EnsureClass(kControlClass, &DefWindowProcW, CS_DBLCLKS, true);
}

bool TWinControl::CreateHandle(HWND parent, const TRect& b) {
  if (handle_) return true;
  if (!parent || !IsWindow(parent)) return false;
  RegisterWindowClass();
  TWndCreateParams p;
  p.ClassName = WindowClassName();
  p.Style = WindowStyle() | WS_CHILD;
  p.X = b.Left;
  p.Y = b.Top;
  p.Width = SizeOf(b.Left, b.Right);
  p.Height = SizeOf(b.Top, b.Bottom);
  p.Parent = parent;
  HWND h = WndAPIClass->CreateWindow(p);
  if (!h) return false;
  handle_ = h;
  stub_ = MakeWndProcThunk(this, &StubEntry);
  previous_ = reinterpret_cast<WNDPROC>(
      WndAPIClass->SetWindowLong(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(stub_)));
  return true;
}

LRESULT TWinControl::StubEntry(void* self, HWND h, UINT msg, WPARAM w, LPARAM l) {
  auto* c = static_cast<TWinControl*>(self);
  if (msg != WM_NCDESTROY) return c->WndProc(msg, w, l);
  LRESULT r = c->CallPrevious(msg, w, l);
  // The last message: the window forgets the stub, the stub goes.
  WndAPIClass->SetWindowLong(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(c->previous_));
  FreeStub(c->stub_);
  c->handle_ = nullptr;
  return r;
}

LRESULT TWinControl::WndProc(UINT msg, WPARAM w, LPARAM l) {
  switch (msg) {
    case WM_SETFONT: font_ = w; return 0;
    case WM_GETFONT: return LRESULT(font_);
    default: return CallPrevious(msg, w, l);
  }
}

LRESULT TWinControl::CallPrevious(UINT msg, WPARAM w, LPARAM l) {
  if (!handle_) return 0;
  if (!previous_) return WndAPIClass->DefWindowProc(handle_, msg, w, l);
  return WndAPIClass->CallWindowProc(previous_, handle_, msg, w, l);
}

bool TWinControl::SetBounds(const TRect& b) {
  if (!handle_) return false;
  return SetWindowPos(handle_, nullptr, b.Left, b.Top, SizeOf(b.Left, b.Right), SizeOf(b.Top, b.Bottom),
                      SWP_NOZORDER | SWP_NOACTIVATE) != 0;
}

bool TWinControl::SetText(const WideString& text) { return handle_ && WndAPIClass->SetWindowText(handle_, text); }

bool TWinControl::SetVisible(bool visible) {
  return handle_ && WndAPIClass->ShowWindow(handle_, visible ? ssShow : ssHide, true);
}

TRect TWinControl::GetClientRect() {
  RECT r;
  if (!handle_ || !plat::GetClientRect(handle_, &r)) return {};
  return ToRect(r);
}

TRect TWinControl::GetRestoredRect() {
  WINDOWPLACEMENT wp;
  if (!handle_ || !GetWindowPlacement(handle_, &wp)) return {};
  return ToRect(wp.rcNormalPosition);
}

// ============================================================================
// Module
// ============================================================================

void InitWinForms() {
  if (HookManager) gFreeMsg = UINT(HookManager->NextHookId());
  gTaskbarMsg = RegisterWindowMessageW(u"TaskbarButtonCreated");
  SetFormControllerHook(&CreateWinFormController);
}

void FiniWinForms() {
  ClearFormControllerHook(&CreateWinFormController);
  WndAPIClass->UnregisterClass(kFormClass, ModuleInstance());
  WndAPIClass->UnregisterClass(kDumbClass, ModuleInstance());
  WndAPIClass->UnregisterClass(kControlClass, ModuleInstance());
}

}  // namespace zm
