#pragma once
// Controls of the headless back end: monitors, synthetic input, screenshots,
// scripted message boxes, and a reset between tests. Input is delivered as
// the display would: through the keyboard hook, to the focus, capture or
// pointed-at window.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Platform/User/PlatUserTypes.h"

namespace plat::headless {

struct TMonitorDesc {
  RECT Bounds;
  RECT Work;
  bool Primary = false;
  int Dpi = 96;
  int Refresh = 60;
  int BitsPerPixel = 32;
};
// The default is one monitor of ZM_SCREEN_SIZE (<width>x<height>, else
// 1920 x 1080) with a 40-pixel bar at the bottom.
void SetMonitors(const std::vector<TMonitorDesc>& monitors);
// Hides the multi-monitor functions from GetUserProcAddress.
void SetMultiMonitorApiAvailable(bool available);
// Hides the session-notification functions from GetUserProcAddress.
void SetSessionApiAvailable(bool available);
// Sends WM_WTSSESSION_CHANGE to the windows registered for it.
void SetSessionLocked(bool locked);

// Keys: virtual key codes; Alt (VK_MENU) held makes the WM_SYS variants.
void Key(UINT vk, bool down, bool repeat = false);
void Type(const std::u16string& text);  // WM_CHAR to the focus window
void MoveMouse(POINT screen);
// button: 1 left, 2 right, 3 middle.
void Press(int button);
void Release(int button);
void Click(int button, POINT screen);
void Wheel(int delta, POINT screen);
// Another program takes the activation (GetForegroundWindow answers nullptr).
void ActivateOtherProgram();
// The user activates one of our top-levels.
void Activate(HWND hwnd);
// The user asks to close a window (the close box).
void RequestClose(HWND hwnd);
// The display takes a top-level out of sight (a window manager minimises
// it) or gives it back, as a window manager does on its own.
void SetSeenByDisplay(HWND hwnd, bool seen);

// Message boxes: the answers of the next boxes (else the default button),
// and what was shown ("caption: text").
void ScriptMessageBox(int answer);
std::vector<std::string> MessageBoxesShown();

// The client pixels of a visible window (B, G, R, A per pixel, top-down), up
// to where its top-level's buffer ends; parts outside the buffer read 0.
std::vector<std::uint32_t> CaptureClient(HWND hwnd, int& width, int& height);
// The screen as composed from the visible top-levels, back to front, over the
// desktop colour (COLOR_DESKTOP): the non-client area in COLOR_BTNFACE, the
// client pixels, layered windows blended with their constant alpha, colour
// key or premultiplied per-pixel image. False outside every monitor.
bool ReadScreenPixel(POINT screen, std::uint32_t& bgra);
std::vector<std::uint32_t> CaptureScreen(const RECT& screen);
// The user drags a border of a window with a sizing frame to this outer
// rectangle (screen coordinates): WM_SIZING with the edge, then the corrected
// rectangle is applied.
void DragResize(HWND hwnd, WPARAM edge, RECT outer);
// How many frames were handed to the display for a top-level.
int PresentCount(HWND hwnd);
// Sees every frame a top-level window hands to the display: the window, the
// show time its pixels were stamped with (-1: none), the client pixels and
// their size. Runs on the UI thread inside the window layer: it must not
// call the window layer. Nil stops it.
using TPresentObserver =
    std::function<void(HWND window, std::int64_t showTime, const std::uint32_t* bits, int width, int height)>;
void SetPresentObserver(TPresentObserver observer);

// Handles every message that is queued on the calling thread, without waiting.
void PumpUntilIdle();
// Destroys every window, queue, timer, hook and class (between tests).
void ResetForTests();

}  // namespace plat::headless
