#pragma once
// The display as forms and the player see it: monitors with their areas,
// screen and work-area sizes, the desktop's bounds, density, refresh rate and
// colour depth. The multi-monitor functions are looked up at first use; a
// system without them is one monitor covering the screen.
#include <cstdint>

#include "Platform/User/PlatUser.h"
#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/zmLists.h"

namespace zm {

namespace screen {

// The handle of the single monitor of a system without multi-monitor functions.
constexpr std::uintptr_t kSingleMonitor = 0x12340042;

class TMonitor : public TRefObject {
public:
  explicit TMonitor(plat::HMONITOR handle) : handle_(handle) {}
  plat::HMONITOR Handle() const { return handle_; }
  // Read when asked; the empty rectangle when the monitor is gone.
  TRect Bounds() const;
  TRect WorkArea() const;
  bool Primary() const;
  std::string DeviceName() const;

private:
  plat::HMONITOR handle_;
};

}  // namespace screen

class TScreen : public TRefObject {
public:
  TScreen();
  void Dispose() override;
  int MonitorCount() const { return monitors_ ? int(monitors_->Count()) : 0; }
  screen::TMonitor* Monitor(int index) const;  // nullptr out of range
  void RefreshMonitors();

private:
  TRef<TList> monitors_;  // of screen::TMonitor, owned
};

// The one screen object, made on first use.
TScreen* Screen();
// Frees it (the next use makes it again, looking the functions up anew).
void FreeScreen();

TSize ScreenSize();
TRect WorkArea();
// A width x height rectangle centred in the work area.
TRect CenteredRect(int width, int height);
// The union of all monitors; the desktop window's rectangle when they cannot
// be listed; else empty.
TRect DesktopBounds();
TPoint PixelsPerInch();
int RefreshRate();
int BitsPerPixel();
TRect MonitorBoundsOfWindow(plat::HWND window);
TRect MonitorBoundsOfPoint(const TPoint& point);
// The union rule of DesktopBounds.
TRect UnionRect(const TRect& acc, const TRect& next);

void InitWinScreen();
void FiniWinScreen();

}  // namespace zm
