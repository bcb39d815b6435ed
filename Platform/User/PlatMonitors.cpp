#include "Platform/User/PlatMonitors.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <string>

namespace plat::user {

namespace {
// ZM_SCREEN_SIZE=<width>x<height>: the screen of a display without monitors
// of its own (headless), for runs that measure a larger window.
SIZE HeadlessScreenSize() {
  constexpr SIZE kDefault{1920, 1080};
  std::string v;
  if (!GetEnv("ZM_SCREEN_SIZE", v)) return kDefault;
  int w = 0, h = 0;
  const char* end = v.data() + v.size();
  auto [x, e1] = std::from_chars(v.data(), end, w);
  if (e1 == std::errc() && x != end && (*x == 'x' || *x == 'X')) {
    auto [y, e2] = std::from_chars(x + 1, end, h);
    if (e2 == std::errc() && y == end && w >= 1 && h >= 1 && w <= kMaxFrameBufferSide && h <= kMaxFrameBufferSide)
      return SIZE{w, h};
  }
  static std::atomic<bool> told{false};
  if (!told.exchange(true))
    WriteStdErr("ZM_SCREEN_SIZE \"" + v + "\" is not <width>x<height> (1 to " +
                std::to_string(kMaxFrameBufferSide) + " each): the screen stays 1920x1080\n");
  return kDefault;
}
}  // namespace

std::vector<TMonitorInfo> Monitors() {
  TWindowManager& wm = WindowManager();
  std::vector<TMonitorInfo> m;
  if (wm.Backend && std::string(wm.Backend->Name()) == "sdl") m = wm.Backend->Monitors();
  if (m.empty()) {
    for (auto& d : wm.Screen.Monitors) {
      TMonitorInfo i;
      i.Bounds = d.Bounds;
      i.Work = d.Work;
      i.Primary = d.Primary;
      i.Dpi = d.Dpi;
      i.Refresh = d.Refresh;
      i.BitsPerPixel = d.BitsPerPixel;
      m.push_back(i);
    }
  }
  if (m.empty()) {
    const SIZE screen = HeadlessScreenSize();
    TMonitorInfo i;
    i.Bounds = {0, 0, screen.cx, screen.cy};
    // A bar along the bottom, as on a desktop.
    i.Work = {0, 0, screen.cx, std::max(1, screen.cy - 40)};
    i.Primary = true;
    m.push_back(i);
  }
  // The primary monitor comes first.
  std::stable_partition(m.begin(), m.end(), [](const TMonitorInfo& i) { return i.Primary; });
  bool any = false;
  for (auto& i : m) any = any || i.Primary;
  if (!any) m[0].Primary = true;
  return m;
}

namespace {
HMONITOR MonHandle(std::size_t i) { return reinterpret_cast<HMONITOR>(i + 1); }
}  // namespace

}  // namespace plat::user

namespace plat {

using namespace user;

BOOL EnumDisplayMonitors(HDC, const RECT* clip, MONITORENUMPROC proc, LPARAM data) {
  TWindowManager& wm = WindowManager();
  if (!proc) return 0;
  std::vector<TMonitorInfo> m;
  {
    auto l = wm.Lock();
    m = Monitors();
  }
  for (std::size_t i = 0; i < m.size(); ++i) {
    RECT r = m[i].Bounds;
    if (clip) {
      r = Intersect(r, *clip);
      if (Empty(r)) continue;
    }
    if (!proc(MonHandle(i), nullptr, &r, data)) break;
  }
  return 1;
}

BOOL GetMonitorInfoA(HMONITOR monitor, MONITORINFO* info) {
  TWindowManager& wm = WindowManager();
  if (!info || info->cbSize < sizeof(MONITORINFO)) {
    SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::vector<TMonitorInfo> m;
  {
    auto l = wm.Lock();
    m = Monitors();
  }
  std::uintptr_t i = reinterpret_cast<std::uintptr_t>(monitor);
  if (i == 0 || i > m.size()) {
    SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  auto& d = m[i - 1];
  info->rcMonitor = d.Bounds;
  info->rcWork = d.Work;
  info->dwFlags = d.Primary ? MONITORINFOF_PRIMARY : 0;
  if (info->cbSize >= sizeof(MONITORINFOEXA)) {
    auto* ex = static_cast<MONITORINFOEXA*>(info);
    std::string name = "\\\\.\\DISPLAY" + std::to_string(i);
    std::memset(ex->szDevice, 0, sizeof ex->szDevice);
    std::memcpy(ex->szDevice, name.data(), std::min(name.size(), sizeof ex->szDevice - 1));
  }
  return 1;
}

HMONITOR MonitorFromRect(const RECT* rect, DWORD flags) {
  TWindowManager& wm = WindowManager();
  if (!rect) return nullptr;
  std::vector<TMonitorInfo> m;
  {
    auto l = wm.Lock();
    m = Monitors();
  }
  // The monitor with the largest intersection, else by the flags.
  long long best = 0;
  std::size_t bi = 0;
  bool found = false;
  RECT r = *rect;
  if (Empty(r)) r.right = r.left + 1, r.bottom = r.top + 1;
  for (std::size_t i = 0; i < m.size(); ++i) {
    RECT x = Intersect(m[i].Bounds, r);
    long long a = Empty(x) ? 0 : (long long)(x.right - x.left) * (x.bottom - x.top);
    if (a > best) best = a, bi = i, found = true;
  }
  if (found) return MonHandle(bi);
  if (flags == MONITOR_DEFAULTTOPRIMARY) return MonHandle(0);
  if (flags == MONITOR_DEFAULTTONEAREST) {
    long long bd = -1;
    POINT c{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    for (std::size_t i = 0; i < m.size(); ++i) {
      auto& b = m[i].Bounds;
      long long dx = c.x < b.left ? b.left - c.x : c.x >= b.right ? c.x - b.right + 1 : 0;
      long long dy = c.y < b.top ? b.top - c.y : c.y >= b.bottom ? c.y - b.bottom + 1 : 0;
      long long d = dx * dx + dy * dy;
      if (bd < 0 || d < bd) bd = d, bi = i;
    }
    return MonHandle(bi);
  }
  return nullptr;
}

HMONITOR MonitorFromPoint(POINT pt, DWORD flags) {
  RECT r{pt.x, pt.y, pt.x + 1, pt.y + 1};
  return MonitorFromRect(&r, flags);
}

HMONITOR MonitorFromWindow(HWND hwnd, DWORD flags) {
  TWindowManager& wm = WindowManager();
  RECT r;
  if (!GetWindowRect(hwnd, &r)) return flags == MONITOR_DEFAULTTONULL ? nullptr : MonHandle(0);
  {
    auto l = wm.Lock();
    auto w = wm.Find(hwnd);
    if (w && w->State == TShowState::Minimized) r = w->Normal;
  }
  return MonitorFromRect(&r, flags);
}

int GetSystemMetrics(int index) {
  TWindowManager& wm = WindowManager();
  std::vector<TMonitorInfo> m;
  {
    auto l = wm.Lock();
    m = Monitors();
  }
  switch (index) {
    case SM_CXSCREEN: return m[0].Bounds.right - m[0].Bounds.left;
    case SM_CYSCREEN: return m[0].Bounds.bottom - m[0].Bounds.top;
    case SM_CXVSCROLL: case SM_CYHSCROLL: case SM_CYVSCROLL: case SM_CXHSCROLL: case SM_CYVTHUMB:
    case SM_CXHTHUMB: return 17;
    case SM_CYCAPTION: return 23;
    case SM_CXBORDER: case SM_CYBORDER: return 1;
    case SM_CXDLGFRAME: case SM_CYDLGFRAME: return 3;
    case SM_CXFRAME: case SM_CYFRAME: return 4;
    case SM_CMONITORS: return int(m.size());
    case SM_CXVIRTUALSCREEN: case SM_CYVIRTUALSCREEN: {
      RECT u{};
      for (auto& i : m) u = Union(u, i.Bounds);
      return index == SM_CXVIRTUALSCREEN ? u.right - u.left : u.bottom - u.top;
    }
    default: return 0;
  }
}

BOOL SystemParametersInfoA(UINT action, UINT, void* data, UINT) {
  TWindowManager& wm = WindowManager();
  switch (action) {
    case SPI_GETWORKAREA: {
      if (!data) return 0;
      auto l = wm.Lock();
      *static_cast<RECT*>(data) = Monitors()[0].Work;
      return 1;
    }
    case SPI_GETKEYBOARDDELAY:
      if (!data) return 0;
      *static_cast<int*>(data) = 1;
      return 1;
    case SPI_GETKEYBOARDSPEED:
      if (!data) return 0;
      *static_cast<int*>(data) = 31;
      return 1;
    case SPI_SETSCREENSAVEACTIVE:
    case SPI_SETSCREENSAVERRUNNING: return 1;
    default: SetError(ERROR_INVALID_PARAMETER); return 0;
  }
}

HWND GetDesktopWindow() { return kDesktop; }

int ScreenDeviceCaps(int index) {
  TWindowManager& wm = WindowManager();
  std::vector<TMonitorInfo> m;
  {
    auto l = wm.Lock();
    m = Monitors();
  }
  switch (index) {
    case BITSPIXEL: return m[0].BitsPerPixel;
    case LOGPIXELSX: case LOGPIXELSY: return m[0].Dpi;
    case VREFRESH: return m[0].Refresh;
    case HORZRES: return m[0].Bounds.right - m[0].Bounds.left;
    case VERTRES: return m[0].Bounds.bottom - m[0].Bounds.top;
    default: return 0;
  }
}

DWORD GetSysColor(int index) {
  // The classic scheme (0x00BBGGRR); index 25 has no colour.
  static const DWORD kColors[31] = {
      0xC8D0D4, 0xA56E3A, 0x6A240A, 0x808080, 0xC8D0D4, 0xFFFFFF, 0x000000, 0x000000, 0x000000, 0xFFFFFF,
      0xC8D0D4, 0xC8D0D4, 0x808080, 0x6A240A, 0xFFFFFF, 0xC8D0D4, 0x808080, 0x808080, 0x000000, 0xC8D0D4,
      0xFFFFFF, 0x404040, 0xC8D0D4, 0x000000, 0xE1FFFF, 0x000000, 0x800000, 0xF0CAA6, 0xC0C0C0, 0x6A240A,
      0xC8D0D4};
  return index >= 0 && index < 31 ? kColors[index] : 0;
}

UINT GetCaretBlinkTime() { return 530; }

BOOL SystemParametersInfoW(UINT action, UINT param, void* data, UINT winIni) {
  if (action != SPI_GETNONCLIENTMETRICS) return SystemParametersInfoA(action, param, data, winIni);
  auto* m = static_cast<NONCLIENTMETRICSW*>(data);
  if (!m || m->cbSize < offsetof(NONCLIENTMETRICSW, iPaddedBorderWidth) || m->cbSize > sizeof(NONCLIENTMETRICSW)) {
    SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // 8 points at the screen's dpi; the classic message font.
  const int dpi = ScreenDeviceCaps(LOGPIXELSY) > 0 ? ScreenDeviceCaps(LOGPIXELSY) : 96;
  LOGFONTW f;
  f.lfHeight = -((8 * dpi + 36) / 72);
  f.lfWeight = 400;
  f.lfCharSet = 1;  // DEFAULT_CHARSET
  const char16_t face[] = u"Tahoma";
  std::copy(std::begin(face), std::end(face), f.lfFaceName);
  LOGFONTW bold = f;
  bold.lfWeight = 700;
  const UINT size = m->cbSize;
  NONCLIENTMETRICSW out;
  out.cbSize = size;
  out.iBorderWidth = 1;
  out.iScrollWidth = out.iScrollHeight = 16;
  out.iCaptionWidth = out.iCaptionHeight = 18;
  out.lfCaptionFont = bold;
  out.iSmCaptionWidth = 12;
  out.iSmCaptionHeight = 15;
  out.lfSmCaptionFont = f;
  out.iMenuWidth = out.iMenuHeight = 18;
  out.lfMenuFont = out.lfStatusFont = out.lfMessageFont = f;
  std::memcpy(m, &out, size);  // an older, shorter structure gets its part
  return 1;
}

void* GetUserProcAddress(const char* name) {
  TWindowManager& wm = WindowManager();
  if (!name) return nullptr;
  std::string n(name);
  bool mm, wts;
  {
    auto l = wm.Lock();
    mm = wm.Screen.MultiMonApi;
    wts = wm.Screen.WtsApi;
  }
  if (mm) {
    if (n == "EnumDisplayMonitors") return reinterpret_cast<void*>(&EnumDisplayMonitors);
    if (n == "GetMonitorInfoA") return reinterpret_cast<void*>(&GetMonitorInfoA);
    if (n == "MonitorFromWindow") return reinterpret_cast<void*>(&MonitorFromWindow);
    if (n == "MonitorFromPoint") return reinterpret_cast<void*>(&MonitorFromPoint);
    if (n == "MonitorFromRect") return reinterpret_cast<void*>(&MonitorFromRect);
  }
  if (wts) {
    if (n == "WTSRegisterSessionNotification") return reinterpret_cast<void*>(&WTSRegisterSessionNotification);
    if (n == "WTSUnRegisterSessionNotification")
      return reinterpret_cast<void*>(&WTSUnRegisterSessionNotification);
  }
  return nullptr;
}

}  // namespace plat

namespace plat::headless {

using namespace user;

void SetMonitors(const std::vector<TMonitorDesc>& monitors) {
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  wm.Screen.Monitors = monitors;
}

void SetMultiMonitorApiAvailable(bool available) {
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  wm.Screen.MultiMonApi = available;
}

void SetSessionApiAvailable(bool available) {
  TWindowManager& wm = WindowManager();
  auto l = wm.Lock();
  wm.Screen.WtsApi = available;
}

}  // namespace plat::headless
