#include "ZmLib/Composite/winFrameForms.h"

#include <algorithm>

#include "Platform/Gdi/PlatGdi.h"
#include "Platform/User/PlatUser.h"
#include "ZmLib/Composite/winControlStyles.h"
#include "ZmLib/Graphics/zmDibBitmap.h"
#include "ZmLib/zmHookScope.h"
#include "ZmLib/zmLog.h"

namespace zm {

using namespace plat;

TWinFormStyle* NormalFormStyle = nullptr;
TWinFormStyle* PopupFormStyle = nullptr;
TWinFormStyle* OverlayFormStyle = nullptr;

namespace {
constexpr WPARAM kSysMoveByCaption = 0xF012;
constexpr WPARAM kShowFocusCues = 0x10002;  // UIS_CLEAR with UISF_HIDEFOCUS
constexpr std::int32_t kLeavePollMs = 50;

THookInstall<TCreateFrameFormProc> gWinCreateForm;
THookInstall<TUpdateLayeredFormProc> gWinLayered;
THookInstall<TSetFormAlphaProc> gWinAlpha;
THookInstall<TTaskbarProgressProc> gWinTaskbar;
THookInstall<TAllocFrameDrawDeviceProc> gWinAllocDevice;

void DeleteRgn(HRGN rgn) { DeleteObject(reinterpret_cast<HGDIOBJ>(rgn)); }

std::vector<TRect> RegionRects(HRGN rgn) {
  std::vector<TRect> out;
  DWORD size = rgn ? GetRegionData(rgn, 0, nullptr) : 0;
  if (size < sizeof(RGNDATAHEADER)) return out;
  std::vector<std::uint64_t> buf((size + 7) / 8);
  auto* data = reinterpret_cast<RGNDATA*>(buf.data());
  if (GetRegionData(rgn, size, data) == 0) return out;
  const auto* rects = reinterpret_cast<const RECT*>(data->Buffer);
  for (DWORD i = 0; i < data->rdh.nCount; ++i) out.push_back({rects[i].left, rects[i].top, rects[i].right, rects[i].bottom});
  return out;
}

// Translates key messages into the form's key callback.
class TKeyReceiver : public TInputReceiver {
public:
  explicit TKeyReceiver(TWinRootControl* root) : root_(root) {}
  void Key(std::uint16_t key, TShiftState shift, bool down) override {
    Dispatch(down ? kkKeyDown : kkKeyUp, shift, key);
  }
  void Char(WideChar c) override { Dispatch(kkChar, KeyboardShiftState(), std::uint16_t(c)); }
  void Mouse(TShiftState, TPoint, TMouseKind, int) override {}
  void Wheel(int, TShiftState, TPoint) override {}
  bool Handled = false;

private:
  void Dispatch(std::int32_t kind, TShiftState shift, std::uint16_t key) {
    if (!root_ || root_->TornDown()) return;
    TKeepAlive keep(root_);
    TWinKeyboardData* kb = root_->Keyboard();
    if (!kb) return;
    TKeepAlive keepKb(kb);
    kb->Handled = false;
    kb->Kind = kind;
    kb->Shift = shift;
    kb->Key = key;
    kb->SnapshotValid = false;
    // The focused control first, then its containers, then the root's navigation.
    TFrameControl* c = root_->CurrentControl();
    for (; c && c != root_ && !kb->Handled; c = c->ParentControl()) {
      TKeepAlive k(c);
      c->KeyNotify(kb);
      if (c->TornDown()) break;
    }
    if (!kb->Handled && !root_->TornDown()) root_->KeyNotify(kb);
    if (!kb->Handled && !root_->TornDown()) root_->InputNotify(kb);
    Handled = Handled || kb->Handled;
  }
  TWinRootControl* root_;
};
}  // namespace

// ---- TWinKeyboardData ---------------------------------------------------------------

bool TWinKeyboardData::KeyPressed(std::int32_t vk) {
  if (vk < 0 || vk > 255) return false;
  if (!SnapshotValid) {
    if (!GetKeyboardState(Snapshot)) std::fill(std::begin(Snapshot), std::end(Snapshot), 0);
    SnapshotValid = true;
  }
  return Snapshot[vk] > 127;
}

// ---- TWinRefreshNotifier ---------------------------------------------------------------

TWinRefreshNotifier::TWinRefreshNotifier(TWinRootControl* root) : TTimeRefreshNotifier(root), winRoot_(root) {}

void TWinRefreshNotifier::Tick() {
  TWinForm* f = winRoot_ && Root() ? winRoot_->Form() : nullptr;
  TKeepAlive keep(f);
  if (f) f->EnterNesting();
  struct TLeave {
    TWinForm* F;
    ~TLeave() {
      if (F) F->LeaveNesting();
    }
  } leave{f};
  TTimeRefreshNotifier::Tick();
}

// ---- TWinRootControl ----------------------------------------------------------------------

TWinRootControl::TWinRootControl(TWinForm* form, TRootFrame* frame)
    : TWinHandleRootControl(frame), form_(form), keyboard_(MakeRef<TWinKeyboardData>()) {
  ZM_ASSERT(form != nullptr, "TWinRootControl.Create: no form");
  RootOwner = form;
}

void TWinRootControl::Dispose() {
  TearDown();
  keyboard_ = nullptr;
  TWinHandleRootControl::Dispose();
}

TRefreshNotifier* TWinRootControl::CreateRefreshNotifier() { return MakeRef<TWinRefreshNotifier>(this).Detach(); }

TPoint TWinRootControl::ClientToScreen(const TPoint& p) {
  HWND h = WindowHandle();
  POINT q{p.X, p.Y};
  if (!h || !plat::ClientToScreen(h, &q)) return {};
  return {q.x, q.y};
}

void TWinRootControl::AfterResize() {
  HWND h = WindowHandle();
  if (form_ && h) {
    RECT cr;
    if (plat::GetClientRect(h, &cr)) {
      std::int32_t dw = Width() - (cr.right - cr.left), dh = Height() - (cr.bottom - cr.top);
      if (dw != 0 || dh != 0) {
        TRect b = form_->Bounds();
        form_->SetBounds({b.Left, b.Top, b.Right + dw, b.Bottom + dh});
      }
    }
  }
  TWinHandleRootControl::AfterResize();
}

void TWinRootControl::SystemSettingsChanged() {
  DefaultControlStyles()->Refresh();
  InvalidateAll();
}

void TWinRootControl::InputNotify(TKeyboardData* key) {
  bool note = false;
  if (!cuesShown_ && key && !key->Handled) {
    bool shiftOnly = (key->Shift & ~ssShift) == 0;
    note = (key->Kind == kkKeyDown && key->Key == VK_MENU) || (key->Kind == kkChar && key->Key == 9 && shiftOnly) ||
           (key->Kind == kkKeyDown && key->Key >= 37 && key->Key <= 40);
  }
  TKeepAlive self(this);
  TWinHandleRootControl::InputNotify(key);
  if (note && !TornDown()) {
    cuesShown_ = true;
    if (HWND h = WindowHandle()) SendMessageW(h, WM_CHANGEUISTATE, kShowFocusCues, 0);
  }
}

void TWinRootControl::Paint(TDrawSurface* surface) {
  if (!surface) return;
  TColor32 c = form_ && form_->ColorKeyTransparent ? TColor32{255, 0, 255, 255} : SysColor32(COLOR_BTNFACE);
  c.A = 255;
  surface->FillRect({0, 0, Width(), Height()}, c);
}

HWND TWinRootControl::WindowHandle() { return form_ ? form_->WindowHandle() : nullptr; }

void TWinRootControl::ResendMouse() {
  if (form_) form_->ResendMouse();
}

// ---- TWinForm ----------------------------------------------------------------------------

TWinForm::TWinForm() : TZmForm(&CreateWinFormController) {
  controller_ = dynamic_cast<TWinFormController*>(Controller());
  if (HookManager && controller_) {
    HookManager->AddMsgHook(controller_, &FilterProc, this);
    HookManager->AddMsgListener(controller_, &AfterProc, this);
  }
  rootFrame_ = MakeRef<TRootFrame>();
  rootFrame_->OnGetAbsolutePos = [this] { return ClientOrigin(); };
  rootFrame_->OwnSurface()->OnChanged = [this](TWinSurface* s) { Invalidated(s); };
  rootFrame_->OnCaptureChanged = [this](bool on) {
    HWND h = WindowHandle();
    if (!h) return;
    if (on) plat::SetCapture(h);
    else if (plat::GetCapture() == h) plat::ReleaseCapture();
  };
  rootFrame_->AddRef();  // the root control's reference
  rootControl_ = NewControl<TWinRootControl>(this, rootFrame_.get());
}

void TWinForm::Dispose() {
  ReleaseTimedCallback(leaveTimer_);
  if (HookManager && controller_) {
    HookManager->RemoveMsgHook(controller_, &FilterProc, this);
    HookManager->RemoveMsgListener(controller_, &AfterProc, this);
  }
  if (TWinFrameForm* o = owner_) {
    owner_ = nullptr;
    o->winForm_ = nullptr;
    o->form_ = nullptr;
    o->Free();
  }
  if (TWinRootControl* r = rootControl_) {
    rootControl_ = nullptr;
    r->ClearForm();
    FreeControl(r);
  }
  if (rootFrame_) {
    rootFrame_->OnGetAbsolutePos = nullptr;
    rootFrame_->OnCaptureChanged = nullptr;
    rootFrame_->OwnSurface()->OnChanged = nullptr;
    rootFrame_ = nullptr;
  }
  TZmForm::Dispose();
  controller_ = nullptr;
}

void TWinForm::CloseQuery(std::int32_t& action) {
  action = owner_ && !freed_ ? owner_->CloseAction() : caFree;
}

TPoint TWinForm::ClientOrigin() { return ClientToScreen({0, 0}); }

void TWinForm::Invalidated(TWinSurface* s) {
  if (busy_ || !rootFrame_ || !s || !s->Changed()) return;
  HWND h = WindowHandle();
  if (!h) return;
  busy_ = true;
  PostMessageW(h, WM_USER, 0, 0);
}

void TWinForm::FilterProc(void* data, HWND window, TMessage& m, bool& handled) {
  static_cast<TWinForm*>(data)->Filter(window, m, handled);
}

void TWinForm::AfterProc(void* data, HWND window, TMessage& m) { static_cast<TWinForm*>(data)->After(window, m); }

void TWinForm::Filter(HWND h, TMessage& m, bool& handled) {
  switch (m.Msg) {
    case WM_ERASEBKGND:
      m.Result = 1;
      handled = true;
      return;
    case WM_PAINT:
      Paint(h, m);
      handled = m.Msg == WM_PAINT && sized_;
      return;
    default: break;
  }
  if (m.Msg == WM_MOUSEACTIVATE && NoActivate) {
    m.Result = MA_NOACTIVATE;
    handled = true;
    return;
  }
  if (m.Msg == WM_NCHITTEST && MouseTransparent) {
    m.Result = HTTRANSPARENT;
    handled = true;
    return;
  }
  TKeepAlive self(this);
  if (m.Msg == WM_UPDATEUISTATE && rootControl_) rootControl_->FocusCuesChanged();
  if ((m.Msg == WM_SYSCOLORCHANGE || m.Msg == WM_THEMECHANGED) && rootFrame_) {
    RootFrameRegistry()->ReadPixelsPerInch();
    rootFrame_->SystemChanged();
    if (rootControl_) rootControl_->SystemSettingsChanged();
  }
  if (m.Msg == WM_WINDOWPOSCHANGED && rootFrame_) {
    RECT cr;
    if (plat::GetClientRect(h, &cr) && cr.right > cr.left && cr.bottom > cr.top) {
      std::int32_t w = cr.right - cr.left, hh = cr.bottom - cr.top;
      rootFrame_->SetBounds(0, 0, w, hh);
      if (rootControl_) {
        TKeepAlive keep(rootControl_);
        rootControl_->SetSize(w, hh);
        for (TDrawFrame* c = rootFrame_->FirstChild(); c; c = c->NextSibling()) c->NotifyTree(ntAfterMove, 0);
      }
      sized_ = true;
    }
  }
  busy_ = true;
  ++nesting_;
  struct TLeave {
    TWinForm* F;
    ~TLeave() {
      --F->nesting_;
      F->busy_ = false;
    }
  } leave{this};
  if (!rootFrame_) return;
  if (m.Msg == WM_SETFOCUS && rootControl_) {
    if (TWinKeyboardData* kb = rootControl_->Keyboard()) kb->SnapshotValid = false;
    rootControl_->SetRootActive(true);
  } else if (m.Msg == WM_KILLFOCUS && rootControl_) {
    rootControl_->SetRootActive(false);
  }
  static const UINT wheelMsg = RegisterWindowMessageW(u"MSWHEEL_ROLLMSG");
  if ((m.Msg >= WM_MOUSEFIRST && m.Msg <= WM_MOUSELAST) || (wheelMsg != 0 && m.Msg == wheelMsg)) {
    if (m.Msg != WM_MOUSEMOVE) ++inputCount_;
    m.Result = MouseMessage(h, m.Msg, m.WParam, m.LParam);
    handled = m.Result == 0;
  } else if (m.Msg >= WM_KEYDOWN && m.Msg <= WM_KEYLAST) {
    KeyMessage(h, m, handled);
  } else if (m.Msg == WM_SETCURSOR && LOWORD(std::uintptr_t(m.LParam)) == HTCLIENT && GetForegroundWindow() == h) {
    m.Result = 1;
    handled = true;
  }
}

void TWinForm::KeyMessage(HWND h, TMessage& m, bool& handled) {
  const bool alt = m.WParam == VK_MENU;
  const bool repeat = (std::uintptr_t(m.LParam) >> 30) & 1;
  if (!alt) ++inputCount_;
  if (alt) {
    if (m.Msg == WM_KEYUP) handled = true;
    else if (m.Msg == WM_SYSKEYDOWN && !repeat) inputCount_ = 0;
    else if (m.Msg == WM_SYSKEYDOWN) handled = true;
    else if (m.Msg == WM_SYSKEYUP && inputCount_ > 0) handled = true;
  }
  if (m.Msg == WM_KEYDOWN && repeat &&
      (m.WParam == VK_SHIFT || m.WParam == VK_CONTROL || m.WParam == VK_MENU || m.WParam == VK_LWIN ||
       m.WParam == VK_RWIN))
    handled = true;
  if (handled || !rootControl_) return;
  TKeyReceiver r(rootControl_);
  keys_.Translate(h, m.Msg, m.WParam, m.LParam, r);
  // A key a control took is not seen again by the form.
  if (r.Handled) m.WParam = 0;
}

void TWinForm::Paint(HWND h, TMessage& m) {
  ZM_ASSERT(rootFrame_ != nullptr, "TWinForm: no root frame");
  if (!sized_) return;
  HRGN rgn = CreateRectRgn(0, 0, 0, 0);
  // The update region itself: only the cells that changed are copied.
  int kind = rgn ? GetUpdateRgn(h, rgn, 0) : RGN_ERROR;
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(h, &ps);
  if (rgn && (kind == RGN_ERROR || kind == NULLREGION)) {
    HRGN box = CreateRectRgnIndirect(&ps.rcPaint);
    if (box) {
      CombineRgn(rgn, box, nullptr, RGN_COPY);
      DeleteRgn(box);
    }
  }
  lastPaint_.clear();
  if (dc && rgn && GetClipRgn(dc, rgn) >= 0) {
    lastPaint_ = RegionRects(rgn);
    rootFrame_->PaintTo(dc, 0, 0, lastPaint_, ColorKeyTransparent);
  }
  if (rgn) DeleteRgn(rgn);
  EndPaint(h, &ps);
  m.Result = 0;
}

void TWinForm::After(HWND h, TMessage& m) {
  if (m.Msg == WM_NCHITTEST && MouseTransparent) return;
  TKeepAlive self(this);
  try {
    if (sized_ && nesting_ == 0 && rootFrame_ && rootFrame_->OwnSurface()->Changed() && rootFrame_->PrepareUpdate()) {
      HRGN rgn = CreateRectRgn(0, 0, 0, 0);
      for (const TRect& r : rootFrame_->UpdateRegion()) {
        HRGN part = CreateRectRgn(r.Left, r.Top, r.Right, r.Bottom);
        if (rgn && part) CombineRgn(rgn, rgn, part, RGN_OR);
        if (part) DeleteRgn(part);
      }
      if (rgn) {
        InvalidateRgn(h, rgn, 0);
        DeleteRgn(rgn);
      }
      UpdateWindow(h);
    }
  } catch (...) {
    MessageBoxW(nullptr, u"Frame Engine Exception", u"Error", MB_ICONSTOP);
  }
  if (nesting_ == 0) ProcessDeferredFrees();
}

LRESULT TWinForm::MouseMessage(HWND h, UINT msg, WPARAM w, LPARAM l) {
  if (ColorKeyTransparent && (msg == WM_LBUTTONDOWN || msg == WM_LBUTTONDBLCLK)) {
    std::int32_t x = GET_X_LPARAM(l), y = GET_Y_LPARAM(l);
    TWinSurface* s = rootFrame_->OwnSurface();
    bool magenta = false;
    if (s && s->Dib() && s->Dib()->BitCount() == 24 && x >= 0 && y >= 0 && x < s->Width() && y < s->Height()) {
      TColor24 c = s->Pixel(x, y);
      magenta = c.R == 255 && c.G == 0 && c.B == 255;
    }
    if (magenta) {
      if (msg == WM_LBUTTONDOWN) {
        if (GetCapture() == h) ReleaseCapture();
        SendMessageW(h, WM_SYSCOMMAND, kSysMoveByCaption, 0);
      } else {
        SetWindowState(WindowState() == wsMaximized ? wsNormal : wsMaximized);
      }
      return 0;
    }
  }
  WPARAM keys = w & ~WPARAM(MK_SHIFT | MK_CONTROL);
  if (TWinKeyboardData* kb = rootControl_ ? rootControl_->Keyboard() : nullptr) {
    if (kb->KeyPressed(VK_SHIFT)) keys |= MK_SHIFT;
    if (kb->KeyPressed(VK_CONTROL)) keys |= MK_CONTROL;
  }
  TRef<TRootFrame> root = rootFrame_;
  LRESULT result = 1;
  if (root->HandleMessage(msg, keys, l, ClientOrigin(), h))
    result = root->MouseData().NextHoverId != 0 || root->Captured() ? 0 : 1;
  if (!leaveTimer_ && !(Flags() & kDisposed)) leaveTimer_ = RegisterTimedCallback(kLeavePollMs, 0, &LeaveTick, this);
  lastMsg_ = msg;
  lastW_ = keys;
  lastL_ = l;
  lastResult_ = result;
  return result;
}

void TWinForm::LeaveTick(void* data, TMultiTimerEvent*) {
  auto* f = static_cast<TWinForm*>(data);
  HWND h = f->WindowHandle();
  if (h && GetCapture() == h) return;
  POINT pt{-30000, -30000};
  RECT wr{};
  bool read = GetCursorPos(&pt) != 0;
  if (!read) pt = {-30000, -30000};
  if (read && h && GetWindowRect(h, &wr) && pt.x >= wr.left && pt.x < wr.right && pt.y >= wr.top && pt.y < wr.bottom)
    return;
  TKeepAlive keep(f);
  ReleaseTimedCallback(f->leaveTimer_);
  if (TRef<TRootFrame> root = f->rootFrame_) {
    TPoint o = f->ClientOrigin();
    root->HandleMessage(WM_MOUSEMOVE, 0, MAKELPARAM(pt.x - o.X, pt.y - o.Y), o, h);
  }
}

void TWinForm::ResendMouse() {
  if (rootFrame_) rootFrame_->HandleMessage(WM_MOUSEMOVE, lastW_, lastL_, ClientOrigin(), WindowHandle());
}

// ---- TWinFrameForm ------------------------------------------------------------------------

TWinFrameForm::TWinFrameForm(TWinForm* form) : TFrameForm(form), winForm_(form) {
  ZM_ASSERT(form != nullptr, "TWinFrameForm.Create: no form");
  form->owner_ = this;
}

void TWinFrameForm::Dispose() {
  if (TWinForm* f = winForm_) {
    winForm_ = nullptr;
    f->owner_ = nullptr;
  }
  TFrameForm::Dispose();
}

bool TWinFrameForm::IsVisible() {
  HWND h = winForm_ ? winForm_->WindowHandle() : nullptr;
  return h && IsWindowVisible(h);
}

void TWinFrameForm::SetVisible(bool visible) {
  if (!winForm_) return;
  TKeepAlive keep(winForm_);
  if (visible && winForm_->NoActivate) {
    HWND h = winForm_->WinController() ? winForm_->WinController()->Handle() : nullptr;
    WINDOWPLACEMENT wp;
    if (h && GetWindowPlacement(h, &wp)) {
      const RECT& r = wp.rcNormalPosition;
      SetWindowPos(h, HWND_TOPMOST, r.left, r.top, r.right - r.left, r.bottom - r.top,
                   SWP_NOMOVE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
      return;
    }
  }
  winForm_->SetVisible(visible);
  if (!visible)
    if (HWND h = winForm_ ? winForm_->WindowHandle() : nullptr) {
      WINDOWPLACEMENT wp;
      if (GetWindowPlacement(h, &wp)) {
        wp.showCmd = SW_HIDE;
        SetWindowPlacement(h, &wp);
      }
    }
}

std::uint8_t TWinFrameForm::GetWindowState() {
  HWND h = winForm_ ? winForm_->WindowHandle() : nullptr;
  if (!h) return winForm_ ? winForm_->WindowState() : 0;
  return IsIconic(h) ? wsMinimized : IsZoomed(h) ? wsMaximized : wsNormal;
}

void TWinFrameForm::SetWindowState(std::uint8_t state) {
  if (winForm_) winForm_->SetWindowState(state);
}

TRect TWinFrameForm::GetBounds() { return winForm_ ? winForm_->Bounds() : TRect{}; }

void TWinFrameForm::SetBounds(const TRect& b) {
  if (!winForm_) return;
  TRect cur = winForm_->Bounds();
  if (b == cur) return;
  if (IsEmptyRect(b) && !IsEmptyRect(cur)) return;
  winForm_->SetBounds(b);
}

bool TWinFrameForm::PaintTo(TBitmap* bitmap, std::int32_t x, std::int32_t y) {
  TRootFrame* root = winForm_ ? winForm_->RootFrame() : nullptr;
  TWinSurface* s = root ? root->OwnSurface() : nullptr;
  auto* target = dynamic_cast<TDirectBitmap*>(bitmap);
  if (!target || !s || !s->Bitmap()) return false;
  target->CopyRect({x, y, x + s->Width(), y + s->Height()}, s->Bitmap(), {0, 0});
  return true;
}

TRootControl* TWinFrameForm::RootControl() { return winForm_ ? winForm_->RootControl() : nullptr; }

void TWinFrameForm::FreeFrameForm() {
  if (!winForm_) {
    TFrameForm::FreeFrameForm();
    return;
  }
  TKeepAlive keep(winForm_);
  winForm_->freed_ = true;
  winForm_->Close();
}

// ---- Layered windows -------------------------------------------------------------------------

bool UpdateLayeredForm(TWinFrameForm* form, TBitmap* bitmap, bool transparent) {
  TWinForm* f = form ? form->WinForm() : nullptr;
  HWND h = f && f->WinController() ? f->WinController()->Handle() : nullptr;
  if (!h || !bitmap || bitmap->IsEmpty()) return false;
  DWORD ex = WS_EX_LAYERED | (transparent ? WS_EX_TRANSPARENT : 0);
  SetWindowLongW(h, GWL_EXSTYLE, LONG(ex));
  // The controller puts its own extended bits back; the two asked for must hold.
  if ((DWORD(GetWindowLongW(h, GWL_EXSTYLE)) & (WS_EX_LAYERED | WS_EX_TRANSPARENT)) != ex) return false;
  TRef<TBitmap> src(bitmap);
  TPixelFormat* argb = PixelFormatByName("A8R8G8B8");
  if (bitmap->PixelFormat() != argb) src = ConvertBitmap(bitmap, argb, nullptr);
  if (!src) return false;
  std::int32_t w = src->Width(), hh = src->Height();
  TRef<TFastDIB> dib = MakeRef<TFastDIB>();
  dib->SetSize(w, hh, 32);
  if (dib->BitCount() != 32 || !dib->Dc()) return false;
  std::vector<std::uint32_t> line(static_cast<std::size_t>(w));
  for (std::int32_t y = 0; y < hh; ++y) {
    src->GetPixels32(line, 0, 0, y, w);
    std::uint32_t* d = dib->Pixels32(dib->TopDown() ? y : dib->AbsHeight() - 1 - y);
    for (std::int32_t x = 0; x < w; ++x) {
      TColor32 c = TColor32::FromValue(line[std::size_t(x)]);
      std::uint32_t a = std::uint32_t(c.A) * 256 / 256;
      if (a < 255) {
        c.B = std::uint8_t(c.B * a / 256);
        c.G = std::uint8_t(c.G * a / 256);
        c.R = std::uint8_t(c.R * a / 256);
      }
      c.A = std::uint8_t(a);
      d[x] = c.Value();
    }
  }
  RECT wr;
  if (!GetWindowRect(h, &wr)) return false;
  POINT pos{wr.left, wr.top}, srcPt{0, 0};
  SIZE size{w, hh};
  BLENDFUNCTION bf{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  return UpdateLayeredWindow(h, nullptr, &pos, &size, dib->Dc(), &srcPt, 0x1FFFFFFF, &bf, ULW_ALPHA) != 0;
}

bool SetWinFormAlpha(TWinFrameForm* form, std::uint8_t alpha) {
  TWinForm* f = form ? form->WinForm() : nullptr;
  HWND h = f && f->WinController() ? f->WinController()->Handle() : nullptr;
  if (!h) return false;
  DWORD ex = DWORD(GetWindowLongW(h, GWL_EXSTYLE));
  if (alpha == 255) {
    if (ex & WS_EX_LAYERED) SetWindowLongW(h, GWL_EXSTYLE, LONG(ex & ~WS_EX_LAYERED));
    return (DWORD(GetWindowLongW(h, GWL_EXSTYLE)) & WS_EX_LAYERED) == 0;
  }
  if (!(ex & WS_EX_LAYERED)) SetWindowLongW(h, GWL_EXSTYLE, LONG(ex | WS_EX_LAYERED));
  return SetLayeredWindowAttributes(h, 0, alpha, LWA_ALPHA) != 0;
}

// ---- Frame draw devices ---------------------------------------------------------------------

bool TWinDevice::IsActive() { return Window() && GetForegroundWindow() == Window(); }

void TFrameDrawDevice::MouseEvent(TMouseData& mouse) {
  TKeepAlive self(this);
  TFrameControl::MouseEvent(mouse);
  if (mouse.Kind == mkDown && (mouse.Buttons & mbLeft) && !TornDown()) SetFocus();
}

void TFrameDrawDevice::FireBoundsChanged() {
  if (entered_ > 0 || !OnBoundsChanged) return;
  ++entered_;
  struct TLeave {
    std::int32_t& N;
    ~TLeave() { --N; }
  } leave{entered_};
  TKeepAlive self(this);
  OnBoundsChanged(this);
}

TWinFrameDrawDevice::TWinFrameDrawDevice(TFrameControl* parent, const WideString& name)
    : TFrameDrawDevice(parent), name_(name) {
  for (TFrameControl* a = ParentControl(); a; a = a->ParentControl()) {
    a->Listeners()->Subscribe(ntAfterMove, ntAfterMove, this);
    if (dynamic_cast<TWinRootControl*>(a)) break;
  }
}

void TWinFrameDrawDevice::Dispose() {
  if (device_) device_->SetOnBoundsChanged(nullptr);
  device_ = nullptr;
  TFrameDrawDevice::Dispose();
}

void TWinFrameDrawDevice::HandleEvent(TRefObject* sender, std::int32_t code, std::intptr_t param) {
  if (code == ntAfterMove) UpdateBounds();
  else TFrameDrawDevice::HandleEvent(sender, code, param);
}

void TWinFrameDrawDevice::AfterResize() {
  TFrameDrawDevice::AfterResize();
  UpdateBounds();
}

void TWinFrameDrawDevice::AfterMove() {
  TFrameDrawDevice::AfterMove();
  UpdateBounds();
}

void TWinFrameDrawDevice::VisibilityChanged() {
  TFrameDrawDevice::VisibilityChanged();
  if (IsVisible()) UpdateBounds();
}

void TWinFrameDrawDevice::SetFlag(std::uint8_t flag) {
  if (flag == Flag) return;
  Flag = flag;
  UpdateBounds();
}

TWinDevice* TWinFrameDrawDevice::GetDevice() {
  if (!device_ && !TornDown()) {
    auto* root = dynamic_cast<TWinRootControl*>(TopControl());
    HWND h = root ? root->WindowHandle() : nullptr;
    if (!h) return nullptr;
    device_ = MakeRef<TWinDevice>(h);
    device_->SetOnBoundsChanged([this](TDrawDevice*) { FireBoundsChanged(); });
    UpdateBounds();
  }
  return device_.get();
}

void TWinFrameDrawDevice::UpdateBounds() {
  if (!device_ || TornDown()) return;
  TFrameControl* top = TopControl();
  TPoint o = OriginIn(top);
  TPoint ro = top->Position();
  TRect r{o.X - ro.X, o.Y - ro.Y, o.X - ro.X + Width(), o.Y - ro.Y + Height()};
  TPoint screen{r.Left, r.Top};
  if (auto* root = dynamic_cast<TWinRootControl*>(top)) screen = root->ClientToScreen(screen);
  device_->SetBounds(r, screen, Flag != 0);
  std::int32_t v[4] = {r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top};
  LogInts(u"TWinFrameDrawDevice.UpdateBounds:= ", v);
}

// ---- Hooks -------------------------------------------------------------------------------------

namespace {
TFrameForm* CreateWinFrameForm(TRefObject* style) {
  TRef<TWinForm> form = MakeRef<TWinForm>();
  if (auto* s = dynamic_cast<TWinFormStyle*>(style)) {
    form->SetBorderStyle(s->BorderStyle);
    form->SetShowInTaskbar(s->ShowInTaskbar);
    form->SetStayOnTop(s->StayOnTop);
    form->NoActivate = s->NoActivate;
    form->MouseTransparent = s->MouseTransparent;
  } else {
    form->SetShowInTaskbar(true);
  }
  auto* ff = new TWinFrameForm(form.Detach());
  ff->AfterConstruction();
  return ff;
}

bool LayeredHook(TFrameForm* form, TImage* image) {
  if (auto* f = dynamic_cast<TWinFrameForm*>(form))
    return image && UpdateLayeredForm(f, image->GetBitmap(), false);
  return gWinLayered.Saved() ? gWinLayered.Saved()(form, image) : false;
}

bool AlphaHook(TFrameForm* form, std::uint8_t alpha) {
  if (auto* f = dynamic_cast<TWinFrameForm*>(form))
    if (SetWinFormAlpha(f, alpha)) return true;
  return gWinAlpha.Saved() ? gWinAlpha.Saved()(form, alpha) : false;
}

std::int32_t TaskbarHook(TFrameForm* form, std::int32_t& state, std::uint64_t& value) {
  auto* f = dynamic_cast<TWinFrameForm*>(form);
  if (!f) return gWinTaskbar.Saved() ? gWinTaskbar.Saved()(form, state, value) : 0;
  TWinFormController* c = f->WinForm() ? f->WinForm()->WinController() : nullptr;
  if (!c) return 0;
  static constexpr std::uint32_t kFlags[6] = {0, 0, 2, 4, 8, 1};
  if (state == 0) {
    switch (c->TaskbarProgressFlag()) {
      case 0: state = 1; break;
      case 1: state = 5; break;
      case 2: state = 2; break;
      case 4: state = 3; break;
      case 8: state = 4; break;
      default: state = 1; break;
    }
    value = c->TaskbarProgressValue();
    return 1;
  }
  ZM_ASSERT(state >= 1 && state <= 5, "winFrameForms: bad taskbar progress state");
  c->SetTaskbarProgress(kFlags[state], value);
  return 1;
}

TFrameControl* AllocDevice(TFrameControl* parent, const WideString& name) {
  TFrameControl* top = parent ? parent->TopControl() : nullptr;
  if (top && dynamic_cast<TWinRootControl*>(top)) return NewControl<TWinFrameDrawDevice>(parent, name);
  return gWinAllocDevice.Saved() ? gWinAllocDevice.Saved()(parent, name) : nullptr;
}
}  // namespace

void InitWinFrameForms() {
  NormalFormStyle = MakeRef<TWinFormStyle>(0, true, false, false, false).Detach();
  PopupFormStyle = MakeRef<TWinFormStyle>(4, false, true, true, false).Detach();
  OverlayFormStyle = MakeRef<TWinFormStyle>(0, false, true, true, true).Detach();
  gWinCreateForm.Install(CreateFrameFormHook, &CreateWinFrameForm);
  gWinLayered.Install(UpdateLayeredFormHook, &LayeredHook);
  gWinAlpha.Install(SetFormAlphaHook, &AlphaHook);
  gWinTaskbar.Install(TaskbarProgressHook, &TaskbarHook);
  gWinAllocDevice.Install(AllocFrameDrawDevice, &AllocDevice);
}

void FiniWinFrameForms() {
  gWinCreateForm.Restore();
  gWinLayered.Restore();
  gWinAlpha.Restore();
  gWinTaskbar.Restore();
  gWinAllocDevice.Restore();
  FreeAndNil(NormalFormStyle);
  FreeAndNil(PopupFormStyle);
  FreeAndNil(OverlayFormStyle);
}

}  // namespace zm
