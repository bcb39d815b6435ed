#include "ZmLib/Win32/winScreen.h"

#include <cstring>

#include "ZmLib/Win32/winSysUtils.h"

namespace zm {

using namespace plat;

namespace {

using TEnumDisplayMonitors = BOOL (*)(HDC, const RECT*, MONITORENUMPROC, LPARAM);
using TGetMonitorInfo = BOOL (*)(HMONITOR, MONITORINFO*);
using TMonitorFromWindow = HMONITOR (*)(HWND, DWORD);
using TMonitorFromPoint = HMONITOR (*)(POINT, DWORD);

// The single monitor of a system without the multi-monitor functions.
BOOL SingleEnum(HDC, const RECT* clip, MONITORENUMPROC proc, LPARAM data) {
  RECT r{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  if (clip) {
    RECT c{std::max(r.left, clip->left), std::max(r.top, clip->top), std::min(r.right, clip->right),
           std::min(r.bottom, clip->bottom)};
    if (c.right <= c.left || c.bottom <= c.top) return 1;
    r = c;
  }
  if (proc) proc(reinterpret_cast<HMONITOR>(screen::kSingleMonitor), nullptr, &r, data);
  return 1;
}

BOOL SingleInfo(HMONITOR m, MONITORINFO* info) {
  if (reinterpret_cast<std::uintptr_t>(m) != screen::kSingleMonitor || !info || info->cbSize < sizeof(MONITORINFO))
    return 0;
  info->rcMonitor = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &info->rcWork, 0)) info->rcWork = info->rcMonitor;
  info->dwFlags = MONITORINFOF_PRIMARY;
  if (info->cbSize >= sizeof(MONITORINFOEXA)) {
    auto* ex = static_cast<MONITORINFOEXA*>(info);
    std::memset(ex->szDevice, 0, sizeof ex->szDevice);
    std::memcpy(ex->szDevice, "DISPLAY", 7);
  }
  return 1;
}

HMONITOR SingleFromWindow(HWND, DWORD) { return reinterpret_cast<HMONITOR>(screen::kSingleMonitor); }
HMONITOR SingleFromPoint(POINT, DWORD) { return reinterpret_cast<HMONITOR>(screen::kSingleMonitor); }

struct TApi {
  bool Loaded = false;
  TEnumDisplayMonitors Enum = nullptr;
  TGetMonitorInfo Info = nullptr;
  TMonitorFromWindow FromWindow = nullptr;
  TMonitorFromPoint FromPoint = nullptr;
};
TApi gApi;  // UI thread

template <class T>
T Lookup(const char* name) {
  return reinterpret_cast<T>(GetUserProcAddress(name));
}

const TApi& Api() {
  if (!gApi.Loaded) {
    gApi.Enum = Lookup<TEnumDisplayMonitors>("EnumDisplayMonitors");
    gApi.Info = Lookup<TGetMonitorInfo>("GetMonitorInfoA");
    gApi.FromWindow = Lookup<TMonitorFromWindow>("MonitorFromWindow");
    gApi.FromPoint = Lookup<TMonitorFromPoint>("MonitorFromPoint");
    if (!gApi.Enum || !gApi.Info || !gApi.FromWindow || !gApi.FromPoint) {
      gApi.Enum = &SingleEnum;
      gApi.Info = &SingleInfo;
      gApi.FromWindow = &SingleFromWindow;
      gApi.FromPoint = &SingleFromPoint;
    }
    gApi.Loaded = true;
  }
  return gApi;
}

TRect ToRect(const RECT& r) { return TRect{r.left, r.top, r.right, r.bottom}; }

TRect BoundsOf(HMONITOR m) {
  MONITORINFO mi;
  if (!m || !Api().Info(m, &mi)) return TRect{};
  return ToRect(mi.rcMonitor);
}

TScreen* gScreen = nullptr;

}  // namespace

// ---- screen::TMonitor -------------------------------------------------------------

namespace screen {

TRect TMonitor::Bounds() const { return BoundsOf(handle_); }

TRect TMonitor::WorkArea() const {
  MONITORINFO mi;
  if (!Api().Info(handle_, &mi)) return TRect{};
  return ToRect(mi.rcWork);
}

bool TMonitor::Primary() const {
  MONITORINFO mi;
  return Api().Info(handle_, &mi) && (mi.dwFlags & MONITORINFOF_PRIMARY);
}

std::string TMonitor::DeviceName() const {
  MONITORINFOEXA mi;
  if (!Api().Info(handle_, &mi)) return {};
  return std::string(mi.szDevice, strnlen(mi.szDevice, sizeof mi.szDevice));
}

}  // namespace screen

// ---- TScreen ----------------------------------------------------------------------

TScreen::TScreen() : monitors_(MakeRef<TList>()) { RefreshMonitors(); }

void TScreen::Dispose() {
  if (monitors_) monitors_->FreeAndClear();
  monitors_ = nullptr;
  TRefObject::Dispose();
}

screen::TMonitor* TScreen::Monitor(int index) const {
  return monitors_ ? static_cast<screen::TMonitor*>(monitors_->Get(index)) : nullptr;
}

void TScreen::RefreshMonitors() {
  monitors_->FreeAndClear();
  Api().Enum(
      nullptr, nullptr,
      [](HMONITOR h, HDC, RECT*, LPARAM data) -> BOOL {
        auto* list = reinterpret_cast<TList*>(data);
        auto* m = new screen::TMonitor(h);
        m->AfterConstruction();
        if (list->Add(m) < 0) m->Free();
        return 1;
      },
      reinterpret_cast<LPARAM>(monitors_.get()));
}

TScreen* Screen() {
  if (!gScreen) {
    gScreen = new TScreen();
    gScreen->AfterConstruction();
  }
  return gScreen;
}

void FreeScreen() {
  FreeAndNil(gScreen);
  gApi = TApi{};
}

// ---- questions ----------------------------------------------------------------------

TSize ScreenSize() { return TSize{GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)}; }

TRect WorkArea() {
  RECT r{};
  if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &r, 0)) return TRect{};
  return ToRect(r);
}

TRect CenteredRect(int width, int height) {
  TRect w = WorkArea();
  // Each half of the remaining space is truncated toward zero.
  int x = w.Left + (w.Right - w.Left - width) / 2;
  int y = w.Top + (w.Bottom - w.Top - height) / 2;
  return TRect{x, y, x + width, y + height};
}

TRect UnionRect(const TRect& acc, const TRect& next) {
  if (IsRectEmpty(acc)) return IsRectEmpty(next) ? TRect{} : next;
  if (IsRectEmpty(next)) return acc;
  return TRect{std::min(acc.Left, next.Left), std::min(acc.Top, next.Top), std::max(acc.Right, next.Right),
               std::max(acc.Bottom, next.Bottom)};
}

TRect DesktopBounds() {
  TRect acc;
  bool any = false;
  struct TCtx {
    TRect* Acc;
    bool* Any;
  } ctx{&acc, &any};
  BOOL ok = Api().Enum(
      nullptr, nullptr,
      [](HMONITOR h, HDC, RECT*, LPARAM data) -> BOOL {
        auto* c = reinterpret_cast<TCtx*>(data);
        *c->Acc = UnionRect(*c->Acc, BoundsOf(h));
        *c->Any = true;
        return 1;
      },
      reinterpret_cast<LPARAM>(&ctx));
  if (ok && any) return acc;
  RECT r;
  if (GetWindowRect(GetDesktopWindow(), &r)) return ToRect(r);
  return TRect{};
}

TPoint PixelsPerInch() { return TPoint{ScreenDeviceCaps(LOGPIXELSX), ScreenDeviceCaps(LOGPIXELSY)}; }

int RefreshRate() { return ScreenDeviceCaps(VREFRESH); }

int BitsPerPixel() { return ScreenDeviceCaps(BITSPIXEL); }

TRect MonitorBoundsOfWindow(HWND window) { return BoundsOf(Api().FromWindow(window, MONITOR_DEFAULTTONEAREST)); }

TRect MonitorBoundsOfPoint(const TPoint& p) {
  return BoundsOf(Api().FromPoint(POINT{p.X, p.Y}, MONITOR_DEFAULTTONEAREST));
}

void InitWinScreen() {}
void FiniWinScreen() { FreeScreen(); }

}  // namespace zm
