#include "Platform/User/PlatWindowPlacement.h"

#include <algorithm>

#include "Platform/User/PlatInput.h"
#include "Platform/User/PlatMonitors.h"
#include "Platform/User/PlatPainting.h"

namespace plat::user {

int ClampExtent(int v) { return std::clamp(v, 0, kMaxWindowExtent); }
int ClampCoordinate(int v) { return std::clamp(v, -kMaxCoordinate, kMaxCoordinate); }

void UserResized(HWND h, WPARAM edge, RECT outer) {
  TWindowManager& wm = WindowManager();
  RECT old;
  {
    auto l = wm.Lock();
    auto w = wm.Find(h);
    if (!w) return;
    old = w->Rect;
  }
  if (edge == 0) {
    // Which edge moved, as the user dragged it.
    const bool l = outer.left != old.left, t = outer.top != old.top;
    const bool r = outer.right != old.right, b = outer.bottom != old.bottom;
    edge = t ? (l ? WMSZ_TOPLEFT : r ? WMSZ_TOPRIGHT : WMSZ_TOP)
             : b ? (l ? WMSZ_BOTTOMLEFT : r ? WMSZ_BOTTOMRIGHT : WMSZ_BOTTOM)
                 : l ? WMSZ_LEFT : r ? WMSZ_RIGHT : WMSZ_BOTTOMRIGHT;
  }
  RECT wanted = outer;
  SendMessageW(h, WM_SIZING, edge, reinterpret_cast<LPARAM>(&wanted));
  // A handler may write anything into the rectangle.
  const auto extent = [](std::int32_t a, std::int32_t b) {
    return int(std::clamp<std::int64_t>(std::int64_t(b) - a, 0, kMaxWindowExtent));
  };
  SetWindowPos(h, nullptr, wanted.left, wanted.top, extent(wanted.left, wanted.right),
               extent(wanted.top, wanted.bottom), SWP_NOZORDER | SWP_NOACTIVATE);
}

void SendWindowPosChanged(HWND h, UINT flags) {
  TWindowManager& wm = WindowManager();
  WINDOWPOS wp{};
  {
    auto l = wm.Lock();
    auto w = wm.Find(h);
    if (!w) return;
    wp.hwnd = h;
    wp.x = w->Rect.left;
    wp.y = w->Rect.top;
    wp.cx = w->Rect.right - w->Rect.left;
    wp.cy = w->Rect.bottom - w->Rect.top;
    wp.flags = flags;
  }
  SendMessageW(h, WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&wp));
}

namespace {
RECT WorkAreaFor(const RECT& r) {
  HMONITOR m = MonitorFromRect(&r, MONITOR_DEFAULTTONEAREST);
  MONITORINFO mi;
  GetMonitorInfoA(m, &mi);
  return mi.rcWork;
}

// Changes rectangle and state; sends WM_WINDOWPOSCHANGED when it changed.
void Place(HWND h, const RECT& r, UINT flags) {
  TWindowManager& wm = WindowManager();
  bool changed = false;
  {
    auto l = wm.Lock();
    auto w = wm.Find(h);
    if (!w) return;
    changed = !(w->Rect == r);
    w->Rect = r;
    if (w->State == TShowState::Normal) {
      if (w->Style & WS_CHILD)
        w->Normal = r;
      else
        w->Normal = r;
    }
    if (changed) {
      auto top = TopLevelOf(w);
      if (top && (top->Style & WS_VISIBLE)) SizeFrameBuffer(*top);
      SyncNative(*w);
    }
  }
  if (changed) {
    InvalidateAll(h, true);
    SendWindowPosChanged(h, flags);
  }
}
}  // namespace

}  // namespace plat::user

namespace plat {

using namespace user;

BOOL ShowWindow(HWND hwnd, int cmd) {
  TWindowManager& wm = WindowManager();
  bool was, top, child;
  TShowState oldState;
  {
    auto l = wm.Lock();
    auto w = FindAliveOrFail(wm, hwnd);
    if (!w) return 0;
    was = (w->Style & WS_VISIBLE) != 0;
    child = (w->Style & WS_CHILD) != 0;
    top = !child;
    oldState = w->State;
    if (cmd < SW_HIDE || cmd > SW_SHOWDEFAULT + 1) {
      SetError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    // A state stored by SetWindowPlacement on a hidden window takes effect now.
    if (!was && (cmd == SW_SHOW || cmd == SW_SHOWNA || cmd == SW_SHOWDEFAULT) && w->PendingShow)
      cmd = *w->PendingShow;
    if (cmd != SW_HIDE) w->PendingShow.reset();
  }
  if (cmd == SW_HIDE) {
    if (!was) return 0;
    SendMessageW(hwnd, WM_SHOWWINDOW, 0, 0);
    {
      auto l = wm.Lock();
      auto w = wm.Find(hwnd);
      if (!w) return 1;
      w->Style &= ~WS_VISIBLE;
      w->Unseen = false;
      SyncNative(*w);
    }
    if (top) DeactivateIf(hwnd);
    if (child) {
      if (auto p = GetParent(hwnd)) InvalidateAll(p, true);
    }
    SendWindowPosChanged(hwnd, SWP_HIDEWINDOW | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER);
    return 1;
  }
  TShowState state = oldState;
  bool activate = top;
  switch (cmd) {
    case SW_SHOWNORMAL: case SW_RESTORE: case SW_SHOWDEFAULT: state = TShowState::Normal; break;
    case SW_SHOWNOACTIVATE: state = TShowState::Normal, activate = false; break;
    case SW_SHOWMINIMIZED: state = TShowState::Minimized; break;
    case SW_MINIMIZE: case SW_SHOWMINNOACTIVE: state = TShowState::Minimized, activate = false; break;
    case SW_SHOWMAXIMIZED: state = TShowState::Maximized; break;
    case SW_SHOWNA: activate = false; break;
    default: break;  // SW_SHOW keeps the state
  }
  if (child && state == TShowState::Maximized) state = TShowState::Normal;
  if (!was) SendMessageW(hwnd, WM_SHOWWINDOW, 1, 0);
  RECT target;
  {
    auto l = wm.Lock();
    auto w = wm.Find(hwnd);
    if (!w) return was;
    if (w->State == TShowState::Normal) w->Normal = w->Rect;
    w->State = state;
    if (state == TShowState::Maximized)
      target = WorkAreaFor(w->Normal);
    else if (state == TShowState::Minimized)
      target = {-32000, -32000, -32000 + 160, -32000 + 28};
    else
      target = w->Normal;
    if (!was) w->Unseen = false;
    w->Style |= WS_VISIBLE;
    auto tw = TopLevelOf(w);
    if (tw && (tw->Style & WS_VISIBLE)) SizeFrameBuffer(*tw);
  }
  Place(hwnd, target, SWP_SHOWWINDOW | SWP_NOZORDER);
  {
    auto l = wm.Lock();
    if (auto w = wm.Find(hwnd)) SyncNative(*w);
  }
  if (!was) {
    InvalidateAll(hwnd, true);
    if (child) InvalidateAll(hwnd, true);
    SendWindowPosChanged(hwnd, SWP_SHOWWINDOW | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER);
  }
  if (activate && state != TShowState::Minimized && !(GetWindowLongPtrW(hwnd, GWL_EXSTYLE) & WS_EX_NOACTIVATE))
    SetActiveWindow(hwnd);
  if (state == TShowState::Minimized) DeactivateIf(hwnd);
  return was ? 1 : 0;
}

BOOL SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
  TWindowManager& wm = WindowManager();
  RECT r;
  bool zChanged = false;
  {
    auto l = wm.Lock();
    auto w = FindAliveOrFail(wm, hwnd);
    if (!w) return 0;
    r = w->Rect;
    if (!(flags & SWP_NOMOVE)) {
      int wdt = r.right - r.left, hgt = r.bottom - r.top;
      x = ClampCoordinate(x), y = ClampCoordinate(y);
      r = {x, y, x + wdt, y + hgt};
    }
    if (!(flags & SWP_NOSIZE)) r.right = r.left + ClampExtent(cx), r.bottom = r.top + ClampExtent(cy);
    if (!(flags & SWP_NOZORDER) && !(w->Style & WS_CHILD)) {
      DWORD ex = w->ExStyle;
      if (insertAfter == HWND_TOPMOST) ex |= WS_EX_TOPMOST;
      if (insertAfter == HWND_NOTOPMOST) ex &= ~WS_EX_TOPMOST;
      zChanged = ex != w->ExStyle || insertAfter == HWND_TOP || insertAfter == HWND_BOTTOM;
      w->ExStyle = ex;
      auto& z = wm.Windows.TopZ;
      z.erase(std::remove(z.begin(), z.end(), hwnd), z.end());
      if (insertAfter == HWND_BOTTOM) {
        z.push_back(hwnd);
      } else {
        // Topmost windows stay in front of the others.
        auto pos = z.begin();
        if (!(ex & WS_EX_TOPMOST))
          while (pos != z.end()) {
            auto o = wm.Find(*pos);
            if (!o || !(o->ExStyle & WS_EX_TOPMOST)) break;
            ++pos;
          }
        z.insert(pos, hwnd);
      }
      SyncNative(*w);
    }
    // Moving or sizing a minimised or maximised window restores it.
    if (!((flags & SWP_NOMOVE) && (flags & SWP_NOSIZE))) w->State = TShowState::Normal;
  }
  if (flags & SWP_HIDEWINDOW) ShowWindow(hwnd, SW_HIDE);
  RECT old;
  {
    auto l = wm.Lock();
    auto w = wm.Find(hwnd);
    if (!w) return 0;
    old = w->Rect;
  }
  if (!(old == r))
    Place(hwnd, r, flags & ~(SWP_SHOWWINDOW | SWP_HIDEWINDOW));
  else if (flags & SWP_FRAMECHANGED) {
    // The frame changed with the style: the client area and its pixels follow.
    {
      auto l = wm.Lock();
      if (auto w = wm.Find(hwnd)) {
        auto top = TopLevelOf(w);
        if (top && (top->Style & WS_VISIBLE)) SizeFrameBuffer(*top);
        SyncNative(*w);
      }
    }
    InvalidateAll(hwnd, true);
    SendWindowPosChanged(hwnd, flags & ~(SWP_SHOWWINDOW | SWP_HIDEWINDOW));
  } else if (zChanged)
    SendWindowPosChanged(hwnd, flags & ~(SWP_SHOWWINDOW | SWP_HIDEWINDOW));
  if (flags & SWP_SHOWWINDOW) ShowWindow(hwnd, (flags & SWP_NOACTIVATE) ? SW_SHOWNA : SW_SHOW);
  else if (!(flags & (SWP_NOACTIVATE | SWP_HIDEWINDOW)) && !(flags & SWP_NOZORDER) && IsWindowVisible(hwnd) &&
           !(GetWindowLongPtrW(hwnd, GWL_STYLE) & WS_CHILD))
    SetActiveWindow(hwnd);
  return 1;
}

BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint) {
  return SetWindowPos(hwnd, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE | (repaint ? 0 : SWP_NOREDRAW));
}

BOOL GetWindowRect(HWND hwnd, RECT* rect) {
  TWindowManager& wm = WindowManager();
  if (!rect) return 0;
  if (hwnd == kDesktop) {
    auto m = Monitors();
    *rect = m[0].Bounds;
    return 1;
  }
  auto l = wm.Lock();
  auto w = FindOrFail(wm, hwnd);
  if (!w) return 0;
  *rect = ScreenRect(*w);
  return 1;
}

BOOL GetClientRect(HWND hwnd, RECT* rect) {
  TWindowManager& wm = WindowManager();
  if (!rect) return 0;
  if (hwnd == kDesktop) {
    RECT b = Monitors()[0].Bounds;
    *rect = {0, 0, b.right - b.left, b.bottom - b.top};
    return 1;
  }
  auto l = wm.Lock();
  auto w = FindOrFail(wm, hwnd);
  if (!w) return 0;
  SIZE s = ClientSize(*w);
  *rect = {0, 0, s.cx, s.cy};
  return 1;
}

BOOL ClientToScreen(HWND hwnd, POINT* pt) {
  if (!pt) return 0;
  return OnWindow(hwnd, BOOL(0), [&](TWindow& w) {
    POINT o = ClientOrigin(w);
    pt->x += o.x;
    pt->y += o.y;
    return BOOL(1);
  });
}

BOOL ScreenToClient(HWND hwnd, POINT* pt) {
  if (!pt) return 0;
  return OnWindow(hwnd, BOOL(0), [&](TWindow& w) {
    POINT o = ClientOrigin(w);
    pt->x -= o.x;
    pt->y -= o.y;
    return BOOL(1);
  });
}

BOOL GetWindowPlacement(HWND hwnd, WINDOWPLACEMENT* wp) {
  TWindowManager& wm = WindowManager();
  if (!wp) return 0;
  auto l = wm.Lock();
  auto w = FindOrFail(wm, hwnd);
  if (!w) return 0;
  wp->length = sizeof(WINDOWPLACEMENT);
  wp->flags = 0;
  if (!(w->Style & WS_VISIBLE))
    wp->showCmd = w->PendingShow ? UINT(*w->PendingShow) : UINT(SW_HIDE);
  else if (w->State == TShowState::Minimized)
    wp->showCmd = SW_SHOWMINIMIZED;
  else
    wp->showCmd = w->State == TShowState::Maximized ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL;
  wp->ptMinPosition = {-1, -1};
  wp->ptMaxPosition = {-1, -1};
  wp->rcNormalPosition = w->State == TShowState::Normal ? w->Rect : w->Normal;
  return 1;
}

BOOL SetWindowPlacement(HWND hwnd, const WINDOWPLACEMENT* wp) {
  TWindowManager& wm = WindowManager();
  if (!wp) {
    SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  bool visible;
  TShowState state;
  {
    auto l = wm.Lock();
    auto w = FindOrFail(wm, hwnd);
    if (!w) return 0;
    w->Normal = wp->rcNormalPosition;
    visible = (w->Style & WS_VISIBLE) != 0;
    state = w->State;
    if (!visible) {
      // Stored for the next show; the window stays hidden.
      int cmd = int(wp->showCmd);
      if (cmd >= 0 && cmd != SW_HIDE)
        w->PendingShow = cmd;
      else if (cmd != SW_HIDE)
        w->PendingShow.reset();
      if (cmd == SW_SHOWMAXIMIZED || cmd == SW_MAXIMIZE) w->State = TShowState::Normal;
    }
  }
  if (!visible) {
    auto l = wm.Lock();
    auto w = wm.Find(hwnd);
    if (w && w->State == TShowState::Normal) w->Rect = wp->rcNormalPosition;
    return 1;
  }
  int cmd = int(wp->showCmd);
  if (cmd == SW_HIDE) {
    // Placement never hides; only the rectangle changes.
    cmd = -1;
  }
  bool normal = state == TShowState::Normal;
  if (cmd < 0 || ((cmd == SW_SHOW || cmd == SW_SHOWNA) && normal) ||
      ((cmd == SW_SHOWNORMAL || cmd == SW_RESTORE || cmd == SW_SHOWNOACTIVATE) && normal)) {
    if (normal) Place(hwnd, wp->rcNormalPosition, SWP_NOZORDER | SWP_NOACTIVATE);
    return 1;
  }
  ShowWindow(hwnd, cmd);
  return 1;
}

BOOL IsIconic(HWND hwnd) {
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  auto w = wm.Find(hwnd);
  return w && w->State == TShowState::Minimized && (w->Style & WS_VISIBLE) ? 1 : 0;
}

bool IsWindowOffScreen(HWND hwnd) {
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  for (auto w = wm.Find(hwnd); w; w = wm.Find(w->Parent)) {
    if (!(w->Style & WS_VISIBLE)) return false;
    if (!(w->Style & WS_CHILD) || !w->Parent) return w->Unseen || w->State == TShowState::Minimized;
  }
  return false;
}

BOOL IsZoomed(HWND hwnd) {
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  auto w = wm.Find(hwnd);
  return w && w->State == TShowState::Maximized ? 1 : 0;
}

}  // namespace plat

namespace plat::headless {

void DragResize(HWND hwnd, WPARAM edge, RECT outer) {
  if (IsWindow(hwnd)) user::UserResized(hwnd, edge, outer);
}

}  // namespace plat::headless
