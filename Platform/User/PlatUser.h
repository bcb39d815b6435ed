#pragma once
// The in-process window manager: window classes, the window tree, window
// procedures, per-thread message queues, timers, the low-level keyboard hook,
// key state, mouse input, focus and capture, painting, monitors and message
// boxes, with the Win32 names and failure results. Windows are drawn by a back
// end: SDL (a native window per visible top-level) or headless (memory frame
// buffers and synthetic input, for tests and demo runs).
#include <cstdint>
#include <string>
#include <string_view>

#include "Platform/User/PlatUserTypes.h"

namespace plat {

// ---- the window system --------------------------------------------------------
// Starts the window system on the calling thread, which becomes the UI thread
// (the only one that talks to the display). ZM_DISPLAY=sdl|headless chooses the
// back end; without it SDL is used when a display is named (DISPLAY or
// WAYLAND_DISPLAY). When SDL was wanted but could not start, or no display is
// named, headless stands in and DisplayProblem says why. A second call only
// adds a reference. False when nothing could be started.
bool InitWindowSystem();
// Drops a reference; the last one destroys every window and closes the back end.
void ShutdownWindowSystem();
bool WindowSystemRunning();
// Why the running window system shows nothing although headless was not asked
// for (ZM_DISPLAY=headless): an English text without a line end; empty when
// the back end is the one wanted, or when the window system does not run.
std::string DisplayProblem();
// "sdl" or "headless".
std::string WindowSystemBackEnd();
std::uint32_t UIThreadId();

// The module instance handle of the program (any non-null value).
HINSTANCE ModuleInstance();

// ---- classes and windows --------------------------------------------------------
ATOM RegisterClassW(const WNDCLASSW* wc);
BOOL UnregisterClassW(const char16_t* className, HINSTANCE instance);
HWND CreateWindowExW(DWORD exStyle, const char16_t* className, const char16_t* windowName, DWORD style, int x,
                     int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance, void* param);
BOOL DestroyWindow(HWND hwnd);
BOOL IsWindow(HWND hwnd);
BOOL IsWindowVisible(HWND hwnd);
BOOL IsWindowEnabled(HWND hwnd);
BOOL EnableWindow(HWND hwnd, BOOL enable);  // the previous "disabled" state
BOOL IsChild(HWND parent, HWND hwnd);
HWND GetParent(HWND hwnd);
HWND GetWindowOwner(HWND hwnd);
DWORD GetWindowThreadProcessId(HWND hwnd, DWORD* processId);
// Children of parent (nullptr: top-levels) in creation order after childAfter,
// matching the class and title when given.
HWND FindWindowExA(HWND parent, HWND childAfter, const char* className, const char* windowName);
HWND FindWindowExW(HWND parent, HWND childAfter, const char16_t* className, const char16_t* windowName);

LONG_PTR GetWindowLongPtrW(HWND hwnd, int index);
LONG_PTR SetWindowLongPtrW(HWND hwnd, int index, LONG_PTR value);
LONG GetWindowLongW(HWND hwnd, int index);
LONG SetWindowLongW(HWND hwnd, int index, LONG value);
ULONG_PTR GetClassLongPtrW(HWND hwnd, int index);  // GCLP_HCURSOR, GCL_STYLE
constexpr int GCLP_HCURSOR = -12, GCL_STYLE = -26, GCLP_HBRBACKGROUND = -10;

int GetWindowTextW(HWND hwnd, char16_t* buffer, int maxCount);
int GetWindowTextLengthW(HWND hwnd);
BOOL SetWindowTextW(HWND hwnd, const char16_t* text);
// The stored text, as DefWindowProcW keeps it (any thread).
std::u16string WindowText(HWND hwnd);

UINT RegisterWindowMessageW(const char16_t* name);

// ---- geometry and show state --------------------------------------------------------
BOOL ShowWindow(HWND hwnd, int cmdShow);  // whether it was visible before
BOOL SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags);
BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint);
BOOL GetWindowRect(HWND hwnd, RECT* rect);  // screen coordinates
BOOL GetClientRect(HWND hwnd, RECT* rect);
BOOL ClientToScreen(HWND hwnd, POINT* pt);
BOOL ScreenToClient(HWND hwnd, POINT* pt);
BOOL GetWindowPlacement(HWND hwnd, WINDOWPLACEMENT* wp);
// Never changes visibility: it sets the normal rectangle and, on a visible
// window, the state; a hidden window keeps the state for its next show.
BOOL SetWindowPlacement(HWND hwnd, const WINDOWPLACEMENT* wp);
BOOL IsIconic(HWND hwnd);
// A visible window nobody can see: its top-level minimised, or kept out of
// sight by the display (a window manager's minimise, unmapped by another
// program). False for a hidden window.
bool IsWindowOffScreen(HWND hwnd);
BOOL IsZoomed(HWND hwnd);
HWND WindowFromPoint(POINT screen);

// ---- procedures and messages ----------------------------------------------------------
LRESULT CallWindowProcW(WNDPROC proc, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT DefWindowProcW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Same thread: a direct call. Another thread's window: queued to that thread;
// the caller waits, still serving messages sent to its own thread.
LRESULT SendMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
BOOL SendNotifyMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Any thread. hwnd nullptr posts a thread message to the calling thread.
BOOL PostMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
BOOL PostThreadMessageW(DWORD threadId, UINT msg, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
// Served in this order: messages sent from other threads (handled inside),
// posted and input messages (FIFO), the quit request, WM_PAINT, WM_TIMER.
// -1 on a bad window filter, 0 for WM_QUIT.
BOOL GetMessageW(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax);
BOOL PeekMessageW(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeMsg);
// Characters come from text input as WM_CHAR messages already; TRUE for key
// messages.
BOOL TranslateMessage(const MSG* msg);
LRESULT DispatchMessageW(const MSG* msg);
// Blocks until a message arrives in the calling thread's queue or timeoutMs ends.
BOOL WaitMessageTimeout(std::uint32_t timeoutMs);
BOOL WaitMessage();

// ---- timers ------------------------------------------------------------------------------
// The id is returned (for a window); a timer with a window and id replaces an
// existing one. WM_TIMER is made when due, at most one at a time per timer.
UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs, TIMERPROC proc);
BOOL KillTimer(HWND hwnd, UINT_PTR id);

// ---- hooks ---------------------------------------------------------------------------------
// Only WH_KEYBOARD_LL, called on the UI thread for the keys that reach our own
// windows, before they are queued; a non-zero result swallows the key.
HHOOK SetWindowsHookExA(int idHook, HOOKPROC proc, HINSTANCE instance, DWORD threadId);
HHOOK SetWindowsHookExW(int idHook, HOOKPROC proc, HINSTANCE instance, DWORD threadId);
BOOL UnhookWindowsHookEx(HHOOK hook);
LRESULT CallNextHookEx(HHOOK hook, int code, WPARAM wParam, LPARAM lParam);

// ---- keyboard, focus, mouse, capture, cursor ---------------------------------------------
// Thread key state, updated as key and mouse messages are retrieved.
short GetKeyState(int vk);
short GetAsyncKeyState(int vk);
BOOL GetKeyboardState(std::uint8_t* state256);
// Characters of a key with a keyboard state (a small US table).
int ToUnicode(UINT vk, UINT scanCode, const std::uint8_t* state256, char16_t* buffer, int bufferSize, UINT flags);
HWND SetFocus(HWND hwnd);
HWND GetFocus();
HWND GetActiveWindow();
HWND SetActiveWindow(HWND hwnd);
HWND GetForegroundWindow();
BOOL SetForegroundWindow(HWND hwnd);
HWND SetCapture(HWND hwnd);
BOOL ReleaseCapture();
HWND GetCapture();
BOOL GetCursorPos(POINT* pt);
// Resource names as in Win32: a value up to 0xFFFF is a number, a larger one a
// const char16_t* name (MAKEINTRESOURCE).
constexpr bool IS_INTRESOURCE(std::uintptr_t v) { return v <= 0xFFFF; }
// instance nullptr: a standard cursor (IDC_*), nullptr for unknown ids. The
// program's instance: its resource of type "CURSOR" named "#<number>" or by
// name (a .cur file), loaded once and shared; nullptr when the program has none.
HCURSOR LoadCursorW(HINSTANCE instance, std::uintptr_t cursorId);
// A standard icon (IDI_*) for nullptr; for the program's instance its "ICON"
// resource (an .ico file), else the standard application icon.
HICON LoadIconW(HINSTANCE instance, std::uintptr_t iconId);
// A cursor (fIcon 0) or icon from a 32-bit colour bitmap and its hot spot; the
// bitmaps stay the caller's. nullptr on a bad bitmap.
HICON CreateIconIndirect(const ICONINFO* info);
// IMAGE_CURSOR or IMAGE_ICON with LR_LOADFROMFILE: a .cur or .ico file (the
// entry nearest the default size is taken), else as LoadCursorW/LoadIconW.
// nullptr for damaged files.
void* LoadImageW(HINSTANCE instance, const char16_t* name, UINT type, int cx, int cy, UINT flags);
// Made cursors only (standard ones stay); the cursor shown falls back to the arrow.
BOOL DestroyCursor(HCURSOR cursor);
BOOL DestroyIcon(HICON icon);
// A cursor's pixels (B, G, R, A, straight alpha) and hot spot; standard cursors
// answer false.
bool CursorPixels(HCURSOR cursor, std::uint32_t* bgra /*w*h or nullptr*/, int& width, int& height, POINT& hot);
HCURSOR SetCursor(HCURSOR cursor);  // nullptr hides the pointer
HCURSOR GetCursor();
UINT GetCaretBlinkTime();  // 530 ms

// ---- painting --------------------------------------------------------------------------------
// The update area of a window is a region (a set of rectangles) in client
// coordinates; invalidating a window also invalidates its children.
BOOL InvalidateRect(HWND hwnd, const RECT* rect, BOOL erase);
BOOL ValidateRect(HWND hwnd, const RECT* rect);
// region nullptr: the whole client area. FALSE for a bad window or region.
BOOL InvalidateRgn(HWND hwnd, HRGN region, BOOL erase);
BOOL ValidateRgn(HWND hwnd, HRGN region);
BOOL GetUpdateRect(HWND hwnd, RECT* rect, BOOL erase);  // the update region's box
// Copies the update region into region: NULLREGION, SIMPLEREGION,
// COMPLEXREGION, or RGN_ERROR (0) for a bad window or region.
int GetUpdateRgn(HWND hwnd, HRGN region, BOOL erase);
BOOL UpdateWindow(HWND hwnd);
// Validates the window and gives a DC on its client pixels whose drawing is
// clipped to the update region (the DC's system clip: GetClipRgn still answers
// 0, as no application clip is set); rcPaint is the region's box. EndPaint
// releases the DC and presents.
HDC BeginPaint(HWND hwnd, PAINTSTRUCT* ps);
BOOL EndPaint(HWND hwnd, const PAINTSTRUCT* ps);

// ---- layered windows ------------------------------------------------------------------------
// WS_EX_LAYERED top-levels are composed over what lies below them. Either the
// attributes (constant alpha and/or colour key over the painted pixels), or a
// per-pixel image given by UpdateLayeredWindow: as in Windows, once attributes
// are set UpdateLayeredWindow fails until WS_EX_LAYERED is cleared and set
// again; clearing the style drops both. FALSE without WS_EX_LAYERED.
BOOL SetLayeredWindowAttributes(HWND hwnd, DWORD colorKey, std::uint8_t alpha, DWORD flags);
// FALSE when the window is not layered or shows an UpdateLayeredWindow image.
BOOL GetLayeredWindowAttributes(HWND hwnd, DWORD* colorKey, std::uint8_t* alpha, DWORD* flags);
// The window's pixels become the source DC's (size at srcPoint, default (0, 0));
// position and size, when given, move and size the window. ULW_ALPHA: blend
// with per-pixel alpha (AC_SRC_ALPHA: premultiplied 32-bit source) and the
// constant alpha; ULW_COLORKEY: pixels of colorKey are transparent; ULW_OPAQUE:
// no blending. dstDc is ignored. The window gets no WM_PAINT while it shows an image.
BOOL UpdateLayeredWindow(HWND hwnd, HDC dstDc, const POINT* position, const SIZE* size, HDC srcDc,
                         const POINT* srcPoint, DWORD colorKey, const BLENDFUNCTION* blend, DWORD flags);
// The pixels of a visible window: 32-bit B, G, R, A in memory, rows top-down.
// Only the part of the client area inside its top-level's frame buffer is
// there: Bits is its first pixel, at Origin in the top-level's buffer and at
// client point Client (not (0, 0) for a child that sticks out left or above).
struct TWindowPixels {
  std::uint32_t* Bits = nullptr;
  int Stride = 0;  // in pixels
  int Width = 0, Height = 0;  // of the visible part
  POINT Origin;
  POINT Client;
};
bool LockWindowPixels(HWND hwnd, TWindowPixels& pixels);
// Hands the changed client rectangle (nullptr: all; empty: nothing changed)
// to the display.
void UnlockWindowPixels(HWND hwnd, const RECT* dirty);

// ---- monitors and screen -------------------------------------------------------------------
BOOL EnumDisplayMonitors(HDC hdc, const RECT* clip, MONITORENUMPROC proc, LPARAM data);
BOOL GetMonitorInfoA(HMONITOR monitor, MONITORINFO* info);
HMONITOR MonitorFromPoint(POINT pt, DWORD flags);
HMONITOR MonitorFromRect(const RECT* rect, DWORD flags);
HMONITOR MonitorFromWindow(HWND hwnd, DWORD flags);
int GetSystemMetrics(int index);
BOOL SystemParametersInfoA(UINT action, UINT param, void* data, UINT winIni);
// SPI_GETNONCLIENTMETRICS (data a NONCLIENTMETRICSW with cbSize set) and the
// actions of SystemParametersInfoA.
BOOL SystemParametersInfoW(UINT action, UINT param, void* data, UINT winIni);
HWND GetDesktopWindow();
DWORD GetSysColor(int index);  // 0x00BBGGRR of a COLOR_ index (0..30, the classic scheme); 0 for others
// The screen's device capabilities (BITSPIXEL, LOGPIXELSX/Y, VREFRESH, HORZRES, VERTRES).
int ScreenDeviceCaps(int index);
// Looks a window-manager function up by name, as a program would in the
// system library ("EnumDisplayMonitors", "GetMonitorInfoA", "MonitorFromWindow",
// "MonitorFromPoint", "MonitorFromRect", "WTSRegisterSessionNotification",
// "WTSUnRegisterSessionNotification"); nullptr when absent.
void* GetUserProcAddress(const char* name);

// ---- message boxes and sessions ------------------------------------------------------------
// Modal; the button id. Works before any window exists.
int MessageBoxW(HWND owner, const char16_t* text, const char16_t* caption, UINT type);
BOOL WTSRegisterSessionNotification(HWND hwnd, DWORD flags);
BOOL WTSUnRegisterSessionNotification(HWND hwnd);

// ---- checks of the real display (tests) -------------------------------------------------
// A press and release of a button (1 left) at a client point of a visible
// top-level, pushed through the display's own event queue; false where the
// display has none.
bool InjectNativeClick(HWND hwnd, POINT client, int button);
// Moves the display's own pointer to a screen point in one move, as a quick
// hand would (the display then reports what the pointer left and entered);
// false where the display has no pointer of its own.
bool MoveNativePointer(POINT screen);
// The pixel the display shows at a client point (B, G, R, A).
bool ReadNativePixel(HWND hwnd, POINT client, std::uint32_t& bgra);
// What the real window shows of the window record: title, and SDL's flags
// (bordered, resizable, always on top, opacity in 0..255), whether it has the
// display's keyboard focus, and what a window manager reads (the native id,
// the id it is transient for, a dialog's window type); false where there is
// no native window.
struct TNativeWindowState {
  std::u16string Title;
  bool Bordered = false, Resizable = false, Topmost = false, Visible = false;
  int Opacity = 255;
  bool Focused = false, DialogType = false;
  std::uintptr_t NativeId = 0, TransientFor = 0;
  // What the window manager is told and offers: the functions of the Motif
  // hints (-1: none), move, minimise and maximise among the allowed actions;
  // and whether the window has the display's input focus.
  long MotifFunctions = -1;
  bool Movable = false, Minimizable = false, Maximizable = false, KeyboardFocus = false;
};
bool ReadNativeWindowState(HWND hwnd, TNativeWindowState& state);
// The cursor the display shows: visible, and the standard id (0 for a made one).
bool ReadNativeCursor(bool& visible, std::uintptr_t& standardId);
int NativeWindowCount();

}  // namespace plat
