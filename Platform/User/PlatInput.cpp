#include "Platform/User/PlatInput.h"

#include "Platform/User/PlatCursors.h"

#include <cstring>

#include "Platform/User/PlatMessageQueues.h"

namespace plat::user {

namespace {
bool IsMouseMsg(UINT m) { return m >= WM_MOUSEFIRST && m <= WM_MOUSELAST; }

// One of the input state's windows, read under the lock.
HWND InputWindow(HWND TInputState::*which) {
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  return wm.Input.*which;
}
}  // namespace

void SetKey(std::uint8_t* st, UINT vk, bool down) {
  vk &= 0xFF;
  if (down) {
    if (!(st[vk] & 0x80)) st[vk] ^= 1;
    st[vk] |= 0x80;
  } else {
    st[vk] &= 0x7F;
  }
}

// The thread's key state follows the messages it retrieves.
void NoteRetrieved(TQueue& q, const MSG& m) {
  if (m.message == WM_KEYDOWN || m.message == WM_SYSKEYDOWN || m.message == WM_KEYUP ||
      m.message == WM_SYSKEYUP) {
    bool down = m.message == WM_KEYDOWN || m.message == WM_SYSKEYDOWN;
    UINT vk = UINT(m.wParam & 0xFF);
    SetKey(q.KeyState, vk, down);
    bool ext = (m.lParam >> 24) & 1;
    if (vk == VK_SHIFT) SetKey(q.KeyState, ((m.lParam >> 16) & 0xFF) == 0x36 ? VK_RSHIFT : VK_LSHIFT, down);
    if (vk == VK_CONTROL) SetKey(q.KeyState, ext ? VK_RCONTROL : VK_LCONTROL, down);
    if (vk == VK_MENU) SetKey(q.KeyState, ext ? VK_RMENU : VK_LMENU, down);
  } else if (IsMouseMsg(m.message) && m.message != WM_MOUSEWHEEL && m.message != WM_MOUSEHWHEEL) {
    WPARAM mk = m.wParam;
    auto set = [&](UINT vk, bool d) {
      if (d)
        q.KeyState[vk] |= 0x80;
      else
        q.KeyState[vk] &= 0x7F;
    };
    set(VK_LBUTTON, mk & MK_LBUTTON);
    set(VK_RBUTTON, mk & MK_RBUTTON);
    set(VK_MBUTTON, mk & MK_MBUTTON);
  }
}

POINT CursorNow() {
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  POINT p = wm.Input.Cursor;
  if (wm.Backend && wm.OnUiThread() && wm.Backend->CursorPos(p)) wm.Input.Cursor = p;
  return wm.Input.Cursor;
}

void ActivateTop(HWND h, WPARAM how) {
  TWindowManager& wm = WindowManager();
  HWND old;
  {
    auto l = wm.Lock();
    old = wm.Input.Active;
    wm.Input.OtherProgramActive = false;
    if (old == h) return;
    wm.Input.Active = h;
  }
  if (old && IsWindow(old)) {
    SendMessageW(old, WM_NCACTIVATE, 0, 0);
    SendMessageW(old, WM_ACTIVATE, WA_INACTIVE, reinterpret_cast<LPARAM>(h));
    auto l = wm.Lock();
    if (wm.Input.Focus && (wm.Input.Focus == old || IsChild(old, wm.Input.Focus))) wm.Input.Focus = nullptr;
  }
  if (h && IsWindow(h)) {
    SendMessageW(h, WM_NCACTIVATE, 1, 0);
    SendMessageW(h, WM_ACTIVATE, how, reinterpret_cast<LPARAM>(old));
  }
}

void DeactivateIf(HWND h) {
  TWindowManager& wm = WindowManager();
  HWND focus;
  {
    auto l = wm.Lock();
    if (wm.Input.Active != h) return;
    wm.Input.Active = nullptr;
    focus = wm.Input.Focus;
    if (focus && (focus == h || IsChild(h, focus)))
      wm.Input.Focus = nullptr;
    else
      focus = nullptr;
  }
  if (IsWindow(h)) {
    SendMessageW(h, WM_NCACTIVATE, 0, 0);
    SendMessageW(h, WM_ACTIVATE, WA_INACTIVE, 0);
  }
  if (focus && IsWindow(focus)) SendMessageW(focus, WM_KILLFOCUS, 0, 0);
}

HWND ActivationTarget(HWND top) {
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  // Each step goes to a window in front; a chain of owners is short.
  for (int depth = 0; depth < 16; ++depth) {
    auto w = wm.Find(top);
    if (!w || !(w->Style & WS_DISABLED)) return top;
    HWND popup = nullptr;
    for (HWND t : wm.Windows.TopZ) {
      auto o = wm.Find(t);
      if (o && o->Owner == top && o->Life == TWindowLife::Alive && (o->Style & WS_VISIBLE) &&
          o->State != TShowState::Minimized) {
        popup = t;
        break;
      }
    }
    if (!popup) return top;
    top = popup;
  }
  return top;
}

void ActivateNative(HWND top) {
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  auto w = wm.Find(top);
  if (!w || !w->Native || !wm.Backend || !wm.OnUiThread() || (w->Style & WS_CHILD) || !(w->Style & WS_VISIBLE) ||
      w->State == TShowState::Minimized)
    return;
  wm.Backend->Activate(w->Native);
}

// The deepest visible, enabled child under a screen point (under the lock).
HWND ChildAt(const std::shared_ptr<TWindow>& w, POINT pt) {
  TWindowManager& wm = WindowManager();
  for (HWND c : w->Children) {
    auto cw = wm.Find(c);
    if (!cw || !(cw->Style & WS_VISIBLE) || cw->Life != TWindowLife::Alive) continue;
    if (!Contains(ScreenRect(*cw), pt)) continue;
    if (cw->Style & WS_DISABLED) return w->H;
    return ChildAt(cw, pt);
  }
  return w->H;
}

std::vector<HWND> TopsAt(POINT pt) {
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  std::vector<HWND> r;
  for (HWND t : wm.Windows.TopZ) {
    auto w = wm.Find(t);
    if (!w || w->Life != TWindowLife::Alive || !(w->Style & WS_VISIBLE) || w->State == TShowState::Minimized) continue;
    if (!Contains(ScreenRect(*w), pt)) continue;
    r.push_back(ChildAt(w, pt));
  }
  return r;
}

HWND TopLevelAt(POINT pt) {
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  for (HWND t : wm.Windows.TopZ) {
    auto w = wm.Find(t);
    if (w && w->Life == TWindowLife::Alive && (w->Style & WS_VISIBLE) && w->State != TShowState::Minimized &&
        Contains(ScreenRect(*w), pt))
      return t;
  }
  return nullptr;
}

// The window under a point, asking WM_NCHITTEST: HTTRANSPARENT passes the
// point to the parent, or to the next top-level beneath.
HWND HitWindow(POINT pt, LRESULT* hit) {
  TWindowManager& wm = WindowManager();
  for (HWND h : TopsAt(pt)) {
    while (h) {
      LRESULT r = SendMessageW(h, WM_NCHITTEST, 0, MAKELPARAM(pt.x, pt.y));
      if (r != HTTRANSPARENT) {
        if (hit) *hit = r;
        return h;
      }
      auto l = wm.Lock();
      auto w = wm.Find(h);
      h = w && (w->Style & WS_CHILD) ? w->Parent : nullptr;
    }
  }
  if (hit) *hit = HTNOWHERE;
  return nullptr;
}

}  // namespace plat::user

namespace plat {

using namespace user;

short GetKeyState(int vk) {
  auto q = CurrentQueue();
  std::lock_guard<std::mutex> l(q->M);
  std::uint8_t s = q->KeyState[vk & 0xFF];
  return short((s & 0x80 ? 0x8000 : 0) | (s & 1));
}

short GetAsyncKeyState(int vk) {
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  return (wm.Input.Async[vk & 0xFF] & 0x80) ? short(0x8000) : 0;
}

BOOL GetKeyboardState(std::uint8_t* state256) {
  if (!state256) return 0;
  auto q = CurrentQueue();
  std::lock_guard<std::mutex> l(q->M);
  std::memcpy(state256, q->KeyState, 256);
  return 1;
}

int ToUnicode(UINT vk, UINT, const std::uint8_t* state, char16_t* buffer, int bufferSize, UINT) {
  if (!buffer || bufferSize < 1) return 0;
  bool shift = state && ((state[VK_SHIFT] & 0x80) != 0);
  bool caps = state && (state[VK_CAPITAL] & 1);
  bool ctrl = state && (state[VK_CONTROL] & 0x80);
  char16_t c = 0;
  if (vk >= 'A' && vk <= 'Z') {
    c = char16_t((shift != caps) ? vk : vk + 32);
    if (ctrl) c = char16_t(vk - 'A' + 1);
  } else if (vk >= '0' && vk <= '9') {
    static const char16_t kShifted[] = u")!@#$%^&*(";
    c = shift ? kShifted[vk - '0'] : char16_t(vk);
  } else if (vk >= VK_NUMPAD0 && vk <= VK_NUMPAD0 + 9) {
    c = char16_t(u'0' + (vk - VK_NUMPAD0));
  } else {
    switch (vk) {
      case VK_SPACE: c = u' '; break;
      case VK_RETURN: c = u'\r'; break;
      case VK_TAB: c = u'\t'; break;
      case VK_BACK: c = 8; break;
      case VK_ESCAPE: c = 27; break;
      case VK_OEM_MINUS: c = shift ? u'_' : u'-'; break;
      case VK_OEM_PLUS: c = shift ? u'+' : u'='; break;
      case VK_OEM_COMMA: c = shift ? u'<' : u','; break;
      case VK_OEM_PERIOD: c = shift ? u'>' : u'.'; break;
      case VK_OEM_1: c = shift ? u':' : u';'; break;
      case VK_OEM_2: c = shift ? u'?' : u'/'; break;
      case VK_OEM_3: c = shift ? u'~' : u'`'; break;
      case VK_OEM_4: c = shift ? u'{' : u'['; break;
      case VK_OEM_5: c = shift ? u'|' : u'\\'; break;
      case VK_OEM_6: c = shift ? u'}' : u']'; break;
      case VK_OEM_7: c = shift ? u'"' : u'\''; break;
      case VK_MULTIPLY: c = u'*'; break;
      case VK_ADD: c = u'+'; break;
      case VK_SUBTRACT: c = u'-'; break;
      case VK_DECIMAL: c = u'.'; break;
      case VK_DIVIDE: c = u'/'; break;
      default: return 0;
    }
  }
  buffer[0] = c;
  return 1;
}

HWND GetFocus() { return InputWindow(&TInputState::Focus); }

HWND SetFocus(HWND hwnd) {
  TWindowManager& wm = WindowManager();
  HWND old;
  {
    auto l = wm.Lock();
    old = wm.Input.Focus;
    if (hwnd) {
      auto w = FindAliveOrFail(wm, hwnd);
      if (!w) return nullptr;
      if (w->Style & WS_DISABLED) return nullptr;
    }
    if (old == hwnd) return old;
  }
  if (hwnd) {
    HWND top;
    {
      auto l = wm.Lock();
      top = TopLevelOf(wm.Find(hwnd))->H;
    }
    if (GetActiveWindow() != top) {
      SetActiveWindow(top);
      auto l = wm.Lock();
      if (wm.Input.Focus == hwnd) return old;
    }
  }
  {
    auto l = wm.Lock();
    old = wm.Input.Focus;
    wm.Input.Focus = hwnd;
  }
  if (old && IsWindow(old)) SendMessageW(old, WM_KILLFOCUS, reinterpret_cast<WPARAM>(hwnd), 0);
  if (hwnd && IsWindow(hwnd)) SendMessageW(hwnd, WM_SETFOCUS, reinterpret_cast<WPARAM>(old), 0);
  return old;
}

HWND GetActiveWindow() { return InputWindow(&TInputState::Active); }

HWND SetActiveWindow(HWND hwnd) {
  TWindowManager& wm = WindowManager();
  HWND old = GetActiveWindow();
  if (hwnd) {
    auto l = wm.Lock();
    auto w = FindAliveOrFail(wm, hwnd);
    if (!w) return nullptr;
    hwnd = TopLevelOf(w)->H;
  }
  if (hwnd) {
    ActivateTop(hwnd, WA_ACTIVE);
    // The display follows: its keyboard goes where the program's goes.
    ActivateNative(hwnd);
  } else if (old) {
    DeactivateIf(old);
  }
  return old;
}

HWND GetForegroundWindow() {
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  return wm.Input.OtherProgramActive ? nullptr : wm.Input.Active;
}

BOOL SetForegroundWindow(HWND hwnd) {
  if (!IsWindow(hwnd) || hwnd == kDesktop) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  SetActiveWindow(hwnd);
  return 1;
}

HWND GetCapture() { return InputWindow(&TInputState::Capture); }

HWND SetCapture(HWND hwnd) {
  TWindowManager& wm = WindowManager();
  HWND old;
  {
    auto l = wm.Lock();
    if (!FindOrFail(wm, hwnd)) return nullptr;
    old = wm.Input.Capture;
    wm.Input.Capture = hwnd;
    if (wm.Backend && wm.OnUiThread()) wm.Backend->GrabPointer(true);
  }
  if (old && old != hwnd && IsWindow(old)) SendMessageW(old, WM_CAPTURECHANGED, 0, reinterpret_cast<LPARAM>(hwnd));
  return old;
}

BOOL ReleaseCapture() {
  TWindowManager& wm = WindowManager();
  HWND old;
  {
    auto l = wm.Lock();
    old = wm.Input.Capture;
    wm.Input.Capture = nullptr;
    if (old && wm.Backend && wm.OnUiThread()) wm.Backend->GrabPointer(false);
  }
  if (old && IsWindow(old)) SendMessageW(old, WM_CAPTURECHANGED, 0, 0);
  return 1;
}

BOOL GetCursorPos(POINT* pt) {
  if (!pt) return 0;
  *pt = CursorNow();
  return 1;
}

HCURSOR SetCursor(HCURSOR cursor) {
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  std::uintptr_t old = wm.Input.CursorId;
  std::uintptr_t id = reinterpret_cast<std::uintptr_t>(cursor);
  if (old != id) {
    wm.Input.CursorId = id;
    if (wm.Backend && wm.OnUiThread()) {
      TCursorImage image;
      if (IsMadeCursor(cursor) && MadeCursorImage(cursor, image))
        wm.Backend->SetColorCursor(id, image.Pixels.data(), image.Width, image.Height, image.Hot);
      else
        wm.Backend->SetCursor(id);
    }
  }
  return reinterpret_cast<HCURSOR>(old);
}

HCURSOR GetCursor() {
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  return reinterpret_cast<HCURSOR>(wm.Input.CursorId);
}

HWND WindowFromPoint(POINT screen) {
  auto t = TopsAt(screen);
  return t.empty() ? nullptr : t.front();
}

}  // namespace plat
