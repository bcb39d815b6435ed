#include "Platform/User/PlatWindowProc.h"

#include <algorithm>
#include <cstring>

#include "Platform/Gdi/PlatGdiInternal.h"
#include "Platform/User/PlatWindowManager.h"

namespace plat::user {

LRESULT CallProc(const std::shared_ptr<TWindow>& w, UINT msg, WPARAM wp, LPARAM lp) {
  TWindowManager& wm = WindowManager();
  WNDPROC p;
  HWND h;
  {
    auto l = wm.Lock();
    p = w->Proc;
    h = w->H;
  }
  if (!p) return 0;
  return p(h, msg, wp, lp);
}

}  // namespace plat::user

namespace plat {

using namespace user;

LRESULT CallWindowProcW(WNDPROC proc, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (!proc) return 0;
  return proc(hwnd, msg, wParam, lParam);
}

namespace {
HBRUSH ClassBrush(HWND h) { return reinterpret_cast<HBRUSH>(GetClassLongPtrW(h, GCLP_HBRBACKGROUND)); }

std::uint32_t SysColorBgra(int index) {
  DWORD c = GetSysColor(index);
  return 0xFF000000u | ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
}

void UpdateUiState(HWND h, WORD action, WORD bits) {
  TWindowManager& wm = WindowManager();
  std::vector<HWND> tree;
  {
    auto l = wm.Lock();
    auto w = wm.Find(h);
    if (!w) return;
    if (action == UIS_SET || action == UIS_INITIALIZE) w->UiState |= bits;
    if (action == UIS_CLEAR) w->UiState &= ~DWORD(bits);
    CollectTree(*w, tree);
  }
  for (HWND t : tree) {
    {
      auto l = wm.Lock();
      auto w = wm.Find(t);
      if (!w) continue;
      if (action == UIS_SET || action == UIS_INITIALIZE) w->UiState |= bits;
      if (action == UIS_CLEAR) w->UiState &= ~DWORD(bits);
    }
    SendMessageW(t, WM_UPDATEUISTATE, MAKEWPARAM(action, bits), 0);
  }
}
}  // namespace

LRESULT DefWindowProcW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  TWindowManager& wm = WindowManager();
  if (!IsWindow(hwnd)) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  switch (msg) {
    case WM_NCCREATE: return 1;
    case WM_CLOSE: DestroyWindow(hwnd); return 0;
    case WM_SYSCOMMAND:
      switch (wParam & 0xFFF0) {
        case SC_CLOSE: SendMessageW(hwnd, WM_CLOSE, 0, 0); return 0;
        case SC_MINIMIZE: ShowWindow(hwnd, SW_MINIMIZE); return 0;
        case SC_MAXIMIZE: ShowWindow(hwnd, SW_MAXIMIZE); return 0;
        case SC_RESTORE: ShowWindow(hwnd, SW_RESTORE); return 0;
        default: return 0;
      }
    case WM_PAINT: {
      PAINTSTRUCT ps;
      BeginPaint(hwnd, &ps);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_ERASEBKGND: {
      std::uintptr_t b = reinterpret_cast<std::uintptr_t>(ClassBrush(hwnd));
      if (b == 0 || b > 31) return 0;
      // Through the DC given: its clip (BeginPaint's update region) and its
      // client coordinates hold, and a memory DC gets the fill instead.
      RECT cr{};
      GetClientRect(hwnd, &cr);
      return gdi::FillDc(reinterpret_cast<HDC>(wParam), cr, SysColorBgra(int(b - 1))) ? 1 : 0;
    }
    case WM_NCHITTEST: {
      RECT wr, cr{};
      GetWindowRect(hwnd, &wr);
      POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      if (!Contains(wr, p)) return HTNOWHERE;
      GetClientRect(hwnd, &cr);
      POINT c = p;
      ScreenToClient(hwnd, &c);
      if (Contains(cr, c)) return HTCLIENT;
      DWORD style = 0;
      {
        auto l = wm.Lock();
        if (auto w = wm.Find(hwnd)) style = w->Style;
      }
      // Sizing borders: the frame, with corners as wide as a caption is tall.
      if ((style & WS_THICKFRAME) && !(style & WS_CHILD)) {
        const RECT in = Insets(style);
        const int corner = 16;
        const bool left = p.x < wr.left + in.left, right = p.x >= wr.right - in.right;
        const bool top = p.y < wr.top + in.left, bottom = p.y >= wr.bottom - in.bottom;
        const bool nearLeft = p.x < wr.left + corner, nearRight = p.x >= wr.right - corner;
        const bool nearTop = p.y < wr.top + corner, nearBottom = p.y >= wr.bottom - corner;
        if (top) return nearLeft ? HTTOPLEFT : nearRight ? HTTOPRIGHT : HTTOP;
        if (bottom) return nearLeft ? HTBOTTOMLEFT : nearRight ? HTBOTTOMRIGHT : HTBOTTOM;
        if (left) return nearTop ? HTTOPLEFT : nearBottom ? HTBOTTOMLEFT : HTLEFT;
        if (right) return nearTop ? HTTOPRIGHT : nearBottom ? HTBOTTOMRIGHT : HTRIGHT;
      }
      if ((style & WS_CAPTION) == WS_CAPTION && c.y < 0 && c.x >= 0 && c.x < cr.right) return HTCAPTION;
      return (style & (WS_BORDER | WS_DLGFRAME | WS_THICKFRAME)) ? HTBORDER : HTNOWHERE;
    }
    case WM_WINDOWPOSCHANGED: {
      // As Windows does: the size and move messages follow a position change.
      const auto* wp = reinterpret_cast<const WINDOWPOS*>(lParam);
      if (!wp) return 0;
      const bool frame = (wp->flags & SWP_FRAMECHANGED) != 0;
      RECT cr{};
      GetClientRect(hwnd, &cr);
      if (!(wp->flags & SWP_NOSIZE) || frame) {
        WPARAM kind = IsIconic(hwnd) ? 1 : IsZoomed(hwnd) ? 2 : 0;  // SIZE_MINIMIZED, SIZE_MAXIMIZED, SIZE_RESTORED
        SendMessageW(hwnd, WM_SIZE, kind, MAKELPARAM(cr.right, cr.bottom));
      }
      if (!(wp->flags & SWP_NOMOVE) || frame) {
        POINT o{};
        ClientToScreen(hwnd, &o);
        if (HWND parent = GetParent(hwnd); parent && (GetWindowLongPtrW(hwnd, GWL_STYLE) & WS_CHILD))
          ScreenToClient(parent, &o);
        SendMessageW(hwnd, WM_MOVE, 0, MAKELPARAM(o.x, o.y));
      }
      return 0;
    }
    case WM_SETFONT: {
      auto l = wm.Lock();
      if (auto w = wm.Find(hwnd)) w->Font = reinterpret_cast<HFONT>(wParam);
      return 0;
    }
    case WM_GETFONT: {
      auto l = wm.Lock();
      auto w = wm.Find(hwnd);
      return w ? reinterpret_cast<LRESULT>(w->Font) : 0;
    }
    case WM_SETCURSOR: {
      HWND parent = nullptr;
      {
        auto l = wm.Lock();
        auto w = wm.Find(hwnd);
        if (w && (w->Style & WS_CHILD)) parent = w->Parent;
      }
      if (parent && SendMessageW(parent, WM_SETCURSOR, wParam, lParam)) return 1;
      if (LOWORD(std::uintptr_t(lParam)) == HTCLIENT) {
        HCURSOR c = reinterpret_cast<HCURSOR>(GetClassLongPtrW(hwnd, GCLP_HCURSOR));
        if (c) SetCursor(c);
      } else {
        SetCursor(LoadCursorW(nullptr, IDC_ARROW));
      }
      return 0;
    }
    case WM_MOUSEACTIVATE: {
      HWND parent = nullptr;
      {
        auto l = wm.Lock();
        auto w = wm.Find(hwnd);
        if (w && (w->Style & WS_CHILD)) parent = w->Parent;
      }
      if (parent) {
        LRESULT r = SendMessageW(parent, WM_MOUSEACTIVATE, wParam, lParam);
        if (r) return r;
      }
      return MA_ACTIVATE;
    }
    case WM_ACTIVATE:
      if (LOWORD(wParam) != WA_INACTIVE && !IsIconic(hwnd)) SetFocus(hwnd);
      return 0;
    case WM_NCACTIVATE: return 1;
    case WM_SETTEXT: {
      {
        auto l = wm.Lock();
        auto w = wm.Find(hwnd);
        if (!w) return 0;
        w->Text = lParam ? std::u16string(reinterpret_cast<const char16_t*>(lParam)) : std::u16string();
        SyncNative(*w);
      }
      return 1;
    }
    case WM_GETTEXT: {
      auto* buf = reinterpret_cast<char16_t*>(lParam);
      int max = int(wParam);
      if (!buf || max <= 0) return 0;
      std::u16string t = WindowText(hwnd);
      int n = std::min<int>(int(t.size()), max - 1);
      std::memcpy(buf, t.data(), std::size_t(n) * 2);
      buf[n] = 0;
      return n;
    }
    case WM_GETTEXTLENGTH: return LRESULT(WindowText(hwnd).size());
    case WM_CANCELMODE:
      if (GetCapture() == hwnd) ReleaseCapture();
      return 0;
    case WM_CHANGEUISTATE: {
      WORD action = LOWORD(wParam), bits = HIWORD(wParam);
      HWND parent = nullptr;
      {
        auto l = wm.Lock();
        auto w = wm.Find(hwnd);
        if (w && (w->Style & WS_CHILD)) parent = w->Parent;
      }
      if (parent) return SendMessageW(parent, WM_CHANGEUISTATE, wParam, lParam);
      UpdateUiState(hwnd, action, bits);
      return 0;
    }
    case WM_UPDATEUISTATE: return 0;
    case WM_QUERYUISTATE: {
      auto l = wm.Lock();
      auto w = wm.Find(hwnd);
      return w ? LRESULT(w->UiState) : 0;
    }
    case WM_MOUSEWHEEL:
    case WM_MOUSEHWHEEL: {
      HWND parent = nullptr;
      {
        auto l = wm.Lock();
        auto w = wm.Find(hwnd);
        if (w && (w->Style & WS_CHILD)) parent = w->Parent;
      }
      return parent ? SendMessageW(parent, msg, wParam, lParam) : 0;
    }
    default: return 0;
  }
}

}  // namespace plat
