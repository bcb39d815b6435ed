#pragma once
// What the window manager asks of a display back end, and what a back end
// reports to it. Internal to Platform/User.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Platform/User/PlatUser.h"

namespace plat::user {

using NativeWin = std::uintptr_t;  // 0: none

enum class TShowState : std::uint8_t { Normal, Minimized, Maximized };

struct TNativeDesc {
  RECT Client;  // screen coordinates
  std::u16string Title;
  bool Bordered = true, Resizable = false, Topmost = false, SkipTaskbar = false, Utility = false;
  bool Visible = false;
  TShowState State = TShowState::Normal;
  int Opacity = 255;  // a layered window's constant alpha
  bool PerPixel = false;  // shows an UpdateLayeredWindow image (premultiplied)
  // A dialog box of the dialog manager, and the native window of its owner
  // (0: none), which it stays above.
  bool Dialog = false;
  NativeWin Owner = 0;
};

// The memory of a top-level's pixels (B, G, R, A, rows tight). A back end
// may hand out memory that the display reads as it is, so that showing a
// frame copies nothing; it may be made and freed on any thread.
class TPixelMemory {
public:
  virtual ~TPixelMemory() = default;
  std::uint32_t* Bits() const { return bits_; }

protected:
  std::uint32_t* bits_ = nullptr;
};

// Zeroed process memory; nullptr when there is none.
std::unique_ptr<TPixelMemory> HeapPixels(std::size_t count);

struct TMonitorInfo {
  RECT Bounds, Work;
  bool Primary = false;
  int Dpi = 96, Refresh = 60, BitsPerPixel = 32;
};

// Called by a back end on the UI thread while it pumps.
class TInputSink {
public:
  virtual ~TInputSink() = default;
  virtual void Key(UINT vk, UINT scan, bool extended, bool down, bool repeat) = 0;
  virtual void Text(const std::u16string& chars) = 0;
  virtual void MouseMove(POINT screen) = 0;
  // The pointer left a window (it may have rested in it and left in one move).
  virtual void MouseLeft(NativeWin win) = 0;
  virtual void Button(int button, bool down, int clicks, POINT screen) = 0;  // 1 left, 2 right, 3 middle
  virtual void Wheel(int delta, bool horizontal, POINT screen) = 0;
  virtual void Moved(NativeWin win, RECT client) = 0;
  virtual void Focus(NativeWin win, bool gained) = 0;
  virtual void CloseRequested(NativeWin win) = 0;
  virtual void Exposed(NativeWin win) = 0;
  // The display took a window out of sight (a window manager minimised it,
  // another program unmapped it), or gave it back.
  virtual void Seen(NativeWin win, bool seen) = 0;
};

class TBackend {
public:
  virtual ~TBackend() = default;
  virtual const char* Name() const = 0;
  virtual std::vector<TMonitorInfo> Monitors() = 0;
  virtual NativeWin Create(const TNativeDesc& desc) = 0;
  virtual void Update(NativeWin win, const TNativeDesc& desc) = 0;
  virtual void Destroy(NativeWin win) = 0;
  // The window is activated by the program: raised, and given the keyboard
  // focus of the display.
  virtual void Activate(NativeWin win) { (void)win; }
  // Memory for count pixels of a top-level, from any thread, under the
  // window manager's lock; nullptr when there is none.
  virtual std::unique_ptr<TPixelMemory> AllocPixels(std::size_t count) { return HeapPixels(count); }
  // memory: what AllocPixels gave for the window, bits inside it (B, G, R, A
  // per pixel, stride in pixels); the display has read them on return.
  virtual void Present(NativeWin win, const TPixelMemory& memory, const std::uint32_t* bits, int stride, int width,
                       int height, const RECT& dirty) = 0;
  virtual void Pump(TInputSink& sink) = 0;
  // True when the UI thread waits in the back end (native events); Wake is
  // then called from any thread to end the wait.
  virtual bool WaitsNatively() const = 0;
  virtual void Wait(int timeoutMs) = 0;
  virtual void Wake() = 0;
  // How long the UI thread may wait, with nothing posted, sent, painted or
  // due, before Pump must look again (ms); kUntilWoken: only a wake, input
  // or a timer need end the wait.
  static constexpr std::uint32_t kUntilWoken = 0xFFFFFFFFu;
  virtual std::uint32_t IdleWaitMs() { return kUntilWoken; }
  // From any thread: the run's own end has come (headless: the quit time),
  // which Pump would act on once the UI thread pumps again.
  virtual bool QuitTimePassed() const { return false; }
  virtual bool CursorPos(POINT& pt) = 0;  // false: the window manager keeps it
  virtual void GrabPointer(bool grab) = 0;
  virtual void SetCursor(std::uintptr_t cursorId) = 0;  // 0 hides it
  // A made cursor (B, G, R, A straight alpha); handle identifies it for caching.
  virtual void SetColorCursor(std::uintptr_t handle, const std::uint32_t* bgra, int width, int height, POINT hot) {
    (void)bgra, (void)width, (void)height, (void)hot;
    SetCursor(handle);
  }
  // True where a person sees the windows: message boxes are then drawn as
  // windows of the window manager, else only written to the error output.
  virtual bool ShowsMessageBoxes() const { return false; }
  // Checks of the real display for tests: a press and release through the
  // display's own event queue, the display's pointer moved, a pixel as
  // shown, the native windows alive.
  virtual bool TestClick(NativeWin, POINT, int) { return false; }
  virtual bool TestMovePointer(POINT) { return false; }
  virtual bool TestPixel(NativeWin, POINT, std::uint32_t&) { return false; }
  virtual int TestWindowCount() { return 0; }
  virtual bool TestWindowState(NativeWin, TNativeWindowState&) { return false; }
  virtual bool TestCursor(bool&, std::uintptr_t&) { return false; }
};

std::unique_ptr<TBackend> CreateHeadlessBackend();
// quitAfterMs < 0: never closes the main window by itself.
std::unique_ptr<TBackend> CreateHeadlessBackend(std::int64_t quitAfterMs);
// nullptr when no display server answers; then Error (when given) says why.
std::unique_ptr<TBackend> CreateSdlBackend(std::string* error = nullptr);

}  // namespace plat::user
