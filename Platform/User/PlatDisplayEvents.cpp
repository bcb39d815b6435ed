#include "Platform/User/PlatDisplayEvents.h"

#include <cstdlib>
#include <utility>

#include "Platform/User/PlatHooks.h"
#include "Platform/User/PlatInput.h"
#include "Platform/User/PlatMessageQueues.h"
#include "Platform/User/PlatPainting.h"
#include "Platform/User/PlatTermination.h"
#include "Platform/User/PlatWindowPlacement.h"

namespace plat::user {

namespace {

class TSink final : public TInputSink {
public:
  void Key(UINT vk, UINT scan, bool extended, bool down, bool repeat) override {
    TWindowManager& wm = WindowManager();
    vk &= 0xFF;
    bool alt;
    {
      auto l = wm.Lock();
      alt = (wm.Input.Async[VK_MENU] & 0x80) != 0 || (vk == VK_MENU && down);
    }
    bool sys = alt || vk == VK_F10;
    bool ctrl;
    {
      auto l = wm.Lock();
      ctrl = (wm.Input.Async[VK_CONTROL] & 0x80) != 0;
    }
    if (ctrl && vk != VK_MENU && !(alt && vk != VK_MENU)) sys = vk == VK_F10;
    UINT msg = down ? (sys ? WM_SYSKEYDOWN : WM_KEYDOWN) : (sys ? WM_SYSKEYUP : WM_KEYUP);
    KBDLLHOOKSTRUCT k{vk, scan, DWORD((extended ? LLKHF_EXTENDED : 0) | (alt ? LLKHF_ALTDOWN : 0) |
                                        (down ? 0 : LLKHF_UP)),
                      Now(), 0};
    if (RunKeyboardHooks(msg, k)) return;  // swallowed
    HWND target;
    bool prev;
    {
      auto l = wm.Lock();
      prev = (wm.Input.Async[vk] & 0x80) != 0;
      SetKey(wm.Input.Async, vk, down);
      if (vk == VK_SHIFT) SetKey(wm.Input.Async, scan == 0x36 ? VK_RSHIFT : VK_LSHIFT, down);
      if (vk == VK_CONTROL) SetKey(wm.Input.Async, extended ? VK_RCONTROL : VK_LCONTROL, down);
      if (vk == VK_MENU) SetKey(wm.Input.Async, extended ? VK_RMENU : VK_LMENU, down);
      target = wm.Input.Focus;
      if (!target) {
        // Nothing has the focus: the active window gets the WM_SYS variant.
        target = wm.Input.Active;
        msg = down ? WM_SYSKEYDOWN : WM_SYSKEYUP;
      }
      // A held key repeats into the window it was pressed in, and nowhere
      // else (nor anywhere when its press was let go by a change of focus):
      // Escape held on a dialog answers the dialog, not the show that has
      // the keyboard after it as well. Its release goes where the keyboard
      // is, so that no key stays down for the thread.
      auto w = target ? wm.Find(target) : nullptr;
      const HWND top = w ? TopLevelOf(w)->H : nullptr;
      HWND& pressedIn = wm.Input.KeyPressedIn[vk];
      if (!down) pressedIn = nullptr;
      else if (!(repeat || prev)) pressedIn = top;
      else if (pressedIn != top) return;
    }
    if (!target) return;
    std::uint32_t lp = 1 | ((scan & 0xFF) << 16) | (extended ? 1u << 24 : 0) | (alt ? 1u << 29 : 0);
    if (down) {
      if (repeat || prev) lp |= 1u << 30;
    } else {
      lp |= (1u << 30) | (1u << 31);
    }
    Post(target, msg, vk, LPARAM(std::int32_t(lp)));
  }

  void Text(const std::u16string& chars) override {
    TWindowManager& wm = WindowManager();
    HWND target;
    {
      auto l = wm.Lock();
      target = wm.Input.Focus ? wm.Input.Focus : wm.Input.Active;
    }
    if (!target) return;
    for (char16_t c : chars) Post(target, WM_CHAR, c, 1);
  }

  void MouseMove(POINT screen) override {
    TWindowManager& wm = WindowManager();
    const HWND over = TopLevelAt(screen);
    HWND target, left;
    {
      auto l = wm.Lock();
      wm.Input.Cursor = screen;
      target = wm.Input.Capture;
      left = std::exchange(wm.Input.PointerTop, over);
    }
    // A display without leave events of its own (headless) says it here.
    if (left && left != over) Post(left, WM_MOUSELEAVE, 0, 0);
    LRESULT hit = HTCLIENT;
    if (!target) target = HitWindow(screen, &hit);
    if (!target) return;
    if (!GetCapture())
      SendMessageW(target, WM_SETCURSOR, reinterpret_cast<WPARAM>(target), MAKELPARAM(int(hit), WM_MOUSEMOVE));
    PostMouse(target, WM_MOUSEMOVE, screen, true);
  }

  void MouseLeft(NativeWin win) override {
    TWindowManager& wm = WindowManager();
    HWND h = FromNative(win);
    if (!h) return;
    {
      auto l = wm.Lock();
      if (wm.Input.PointerTop == h) wm.Input.PointerTop = nullptr;
    }
    Post(h, WM_MOUSELEAVE, 0, 0);
  }

  void Button(int button, bool down, int clicks, POINT screen) override {
    TWindowManager& wm = WindowManager();
    UINT vk = button == 1 ? VK_LBUTTON : button == 2 ? VK_RBUTTON : VK_MBUTTON;
    HWND target;
    {
      auto l = wm.Lock();
      wm.Input.Cursor = screen;
      SetKey(wm.Input.Async, vk, down);
      target = wm.Input.Capture;
    }
    LRESULT hit = HTCLIENT;
    if (!target) target = HitWindow(screen, &hit);
    if (!target) return;
    UINT base = button == 1 ? WM_LBUTTONDOWN : button == 2 ? WM_RBUTTONDOWN : WM_MBUTTONDOWN;
    UINT msg = base + (down ? 0 : 1);
    if (down) {
      if (clicks >= 2 && (clicks % 2) == 0 && (GetClassLongPtrW(target, GCL_STYLE) & CS_DBLCLKS)) msg = base + 2;
      // A press in an inactive top-level activates it unless it declines.
      HWND top;
      {
        auto l = wm.Lock();
        auto w = wm.Find(target);
        if (!w) return;
        top = TopLevelOf(w)->H;
      }
      if (GetActiveWindow() != top || GetForegroundWindow() != top) {
        LRESULT r =
            SendMessageW(target, WM_MOUSEACTIVATE, reinterpret_cast<WPARAM>(top), MAKELPARAM(int(hit), int(base)));
        if (r != MA_NOACTIVATE && r != MA_NOACTIVATEANDEAT && IsWindow(top)) {
          // A click on the owner of a modal dialog brings the dialog back.
          const HWND to = ActivationTarget(top);
          ActivateTop(to, WA_CLICKACTIVE);
          if (to != top) ActivateNative(to);
        }
        if (r == MA_ACTIVATEANDEAT || r == MA_NOACTIVATEANDEAT) return;
      }
      if (!IsWindow(target)) return;
    }
    PostMouse(target, msg, screen, false);
  }

  void Wheel(int delta, bool horizontal, POINT screen) override {
    TWindowManager& wm = WindowManager();
    HWND target;
    {
      auto l = wm.Lock();
      wm.Input.Cursor = screen;
      target = wm.Input.Focus ? wm.Input.Focus : wm.Input.Active;
    }
    if (!target) target = HitWindow(screen, nullptr);
    if (!target) return;
    Post(target, horizontal ? WM_MOUSEHWHEEL : WM_MOUSEWHEEL, MAKEWPARAM(int(KeyFlags()), delta),
         MAKELPARAM(screen.x, screen.y));
  }

  void Moved(NativeWin win, RECT client) override {
    TWindowManager& wm = WindowManager();
    HWND h = FromNative(win);
    if (!h) return;
    RECT r;
    bool sized = false;
    {
      auto l = wm.Lock();
      auto w = wm.Find(h);
      if (!w) return;
      RECT i = Insets(w->Style);
      r = {client.left - i.left, client.top - i.top, client.right + i.right, client.bottom + i.bottom};
      if (r == w->Rect) return;
      sized = w->State == TShowState::Normal && (r.right - r.left != w->Rect.right - w->Rect.left ||
                                                 r.bottom - r.top != w->Rect.bottom - w->Rect.top);
    }
    // A size change by the user passes through WM_SIZING, which may correct it.
    if (sized) {
      UserResized(h, 0, r);
      return;
    }
    {
      auto l = wm.Lock();
      auto w = wm.Find(h);
      if (!w) return;
      w->Rect = r;
      if (w->State == TShowState::Normal) w->Normal = r;
      SizeFrameBuffer(*w);
    }
    InvalidateAll(h, true);
    SendWindowPosChanged(h, SWP_NOZORDER | SWP_NOACTIVATE);
  }

  void Focus(NativeWin win, bool gained) override {
    TWindowManager& wm = WindowManager();
    HWND h = FromNative(win);
    if (!h) return;
    if (gained) {
      // The owner of a modal dialog passes the activation to the dialog,
      // and the display's keyboard with it.
      const HWND to = ActivationTarget(h);
      ActivateTop(to, WA_ACTIVE);
      if (to != h) ActivateNative(to);
    } else {
      DeactivateIf(h);
      auto l = wm.Lock();
      wm.Input.OtherProgramActive = true;
    }
  }

  void CloseRequested(NativeWin win) override {
    if (HWND h = FromNative(win)) SendMessageW(h, WM_SYSCOMMAND, SC_CLOSE, 0);
  }

  void Exposed(NativeWin win) override {
    TWindowManager& wm = WindowManager();
    if (HWND h = FromNative(win)) {
      auto l = wm.Lock();
      if (auto w = wm.Find(h)) w->NeedsPresent = true;
    }
  }

  void Seen(NativeWin win, bool seen) override {
    if (HWND h = FromNative(win)) DisplaySees(h, seen);
  }

  HWND FromNative(NativeWin win) {
    TWindowManager& wm = WindowManager();
    auto l = wm.Lock();
    for (auto& w : wm.Windows.Slots)
      if (w && w->Native == win && w->Life == TWindowLife::Alive) return w->H;
    return nullptr;
  }

  static WPARAM KeyFlags() {
    TWindowManager& wm = WindowManager();
    auto l = wm.Lock();
    auto& a = wm.Input.Async;
    WPARAM mk = 0;
    if (a[VK_LBUTTON] & 0x80) mk |= MK_LBUTTON;
    if (a[VK_RBUTTON] & 0x80) mk |= MK_RBUTTON;
    if (a[VK_MBUTTON] & 0x80) mk |= MK_MBUTTON;
    if (a[VK_SHIFT] & 0x80) mk |= MK_SHIFT;
    if (a[VK_CONTROL] & 0x80) mk |= MK_CONTROL;
    return mk;
  }

  // The queue of a window; nullptr when the window is gone.
  static std::shared_ptr<TQueue> QueueOf(HWND h) {
    TWindowManager& wm = WindowManager();
    auto l = wm.Lock();
    auto w = wm.Find(h);
    return w ? w->Queue : nullptr;
  }

  static void Post(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    std::shared_ptr<TQueue> q = QueueOf(h);
    if (!q) return;
    PostTo(q, PostedMessage(h, msg, wp, lp));
  }

  static void PostMouse(HWND h, UINT msg, POINT screen, bool coalesce) {
    POINT c = screen;
    ScreenToClient(h, &c);
    std::shared_ptr<TQueue> q = QueueOf(h);
    if (!q) return;
    MSG m;
    m.hwnd = h;
    m.message = msg;
    m.wParam = KeyFlags();
    m.lParam = MAKELPARAM(c.x, c.y);
    m.time = Now();
    m.pt = screen;
    PostTo(q, m, coalesce);
  }
};

}  // namespace

void DisplaySees(HWND h, bool seen) {
  TWindowManager& wm = WindowManager();
  {
    auto l = wm.Lock();
    auto w = wm.Find(h);
    if (!w || (w->Style & WS_CHILD) || w->Unseen == !seen) return;
    w->Unseen = !seen;
    if (!seen) return;
    // Back on screen: the last frame at once, and what it shows now painted
    // anew (a device that draws the window hears of it as a repaint).
    w->NeedsPresent = true;
  }
  InvalidateAll(h, false);
}

TInputSink& InputSink() {
  static TSink* s = new TSink;
  return *s;
}

void PumpBackend() {
  TWindowManager& wm = WindowManager();
  if (wm.Backend) wm.Backend->Pump(InputSink());
  ServeTerminationRequest();
}

}  // namespace plat::user

namespace plat::headless {

using namespace user;

void Key(UINT vk, bool down, bool repeat) {
  static const UINT kScan[256] = {};
  (void)kScan;
  UINT scan = vk == VK_SHIFT ? 0x2A : vk == VK_CONTROL ? 0x1D : vk == VK_MENU ? 0x38 : (vk & 0x7F);
  InputSink().Key(vk, scan, false, down, repeat);
}

void Type(const std::u16string& text) { InputSink().Text(text); }

void MoveMouse(POINT screen) { InputSink().MouseMove(screen); }

void Press(int button) {
  TWindowManager& wm = WindowManager();
  POINT p;
  int clicks = 1;
  {
    auto l = wm.Lock();
    TInputState& in = wm.Input;
    p = in.Cursor;
    std::uint32_t now = Now();
    if (in.LastButton == button && now - in.LastDownTime <= 500 && std::abs(p.x - in.LastDownPt.x) <= 4 &&
        std::abs(p.y - in.LastDownPt.y) <= 4) {
      clicks = 2;
      in.LastButton = 0;
    } else {
      in.LastButton = button;
    }
    in.LastDownTime = now;
    in.LastDownPt = p;
  }
  InputSink().Button(button, true, clicks, p);
}

void Release(int button) {
  TWindowManager& wm = WindowManager();
  POINT p;
  {
    auto l = wm.Lock();
    p = wm.Input.Cursor;
  }
  InputSink().Button(button, false, 1, p);
}

void Click(int button, POINT screen) {
  MoveMouse(screen);
  Press(button);
  Release(button);
}

void Wheel(int delta, POINT screen) { InputSink().Wheel(delta, false, screen); }

void ActivateOtherProgram() {
  TWindowManager& wm = WindowManager();
  HWND a = GetActiveWindow();
  if (a) DeactivateIf(a);
  auto l = wm.Lock();
  wm.Input.OtherProgramActive = true;
}

void Activate(HWND hwnd) {
  if (IsWindow(hwnd)) ActivateTop(hwnd, WA_ACTIVE);
}

void RequestClose(HWND hwnd) {
  if (IsWindow(hwnd)) SendMessageW(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
}

void SetSeenByDisplay(HWND hwnd, bool seen) { DisplaySees(hwnd, seen); }

}  // namespace plat::headless
