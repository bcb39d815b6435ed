// The SDL display: each visible top-level is an SDL window that shows the
// frame buffer; SDL input becomes the window manager's input. On an X server
// on this machine the frame buffers are memory shared with the server, which
// reads them as they are; elsewhere they are copied onto SDL's window
// surface, the display's plain frame buffer unless SDL_FRAMEBUFFER_ACCELERATION
// asks for SDL's texture path.
#include <SDL.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "Platform/PlatSystem.h"
#include "Platform/PlatUtf8.h"
#include "Platform/User/PlatTermination.h"
#include "Platform/User/PlatUserBackend.h"
#include "Platform/User/PlatX11Shm.h"
#include "Platform/User/PlatX11Windows.h"

namespace plat::user {

namespace {

// Virtual key of an SDL key: letters and digits by symbol, the rest by scan code.
UINT VirtualKey(const SDL_Keysym& k, bool& extended) {
  extended = false;
  SDL_Keycode s = k.sym;
  if (s >= SDLK_a && s <= SDLK_z) return UINT('A' + (s - SDLK_a));
  if (s >= SDLK_0 && s <= SDLK_9) return UINT('0' + (s - SDLK_0));
  SDL_Scancode c = k.scancode;
  if (c >= SDL_SCANCODE_F1 && c <= SDL_SCANCODE_F12) return VK_F1 + (c - SDL_SCANCODE_F1);
  if (c >= SDL_SCANCODE_KP_1 && c <= SDL_SCANCODE_KP_9) return VK_NUMPAD0 + 1 + (c - SDL_SCANCODE_KP_1);
  switch (c) {
    case SDL_SCANCODE_RETURN: return VK_RETURN;
    case SDL_SCANCODE_KP_ENTER: extended = true; return VK_RETURN;
    case SDL_SCANCODE_ESCAPE: return VK_ESCAPE;
    case SDL_SCANCODE_BACKSPACE: return VK_BACK;
    case SDL_SCANCODE_TAB: return VK_TAB;
    case SDL_SCANCODE_SPACE: return VK_SPACE;
    case SDL_SCANCODE_MINUS: return VK_OEM_MINUS;
    case SDL_SCANCODE_EQUALS: return VK_OEM_PLUS;
    case SDL_SCANCODE_LEFTBRACKET: return VK_OEM_4;
    case SDL_SCANCODE_RIGHTBRACKET: return VK_OEM_6;
    case SDL_SCANCODE_BACKSLASH: return VK_OEM_5;
    case SDL_SCANCODE_SEMICOLON: return VK_OEM_1;
    case SDL_SCANCODE_APOSTROPHE: return VK_OEM_7;
    case SDL_SCANCODE_GRAVE: return VK_OEM_3;
    case SDL_SCANCODE_COMMA: return VK_OEM_COMMA;
    case SDL_SCANCODE_PERIOD: return VK_OEM_PERIOD;
    case SDL_SCANCODE_SLASH: return VK_OEM_2;
    case SDL_SCANCODE_CAPSLOCK: return VK_CAPITAL;
    case SDL_SCANCODE_PAUSE: return VK_PAUSE;
    case SDL_SCANCODE_INSERT: extended = true; return VK_INSERT;
    case SDL_SCANCODE_HOME: extended = true; return VK_HOME;
    case SDL_SCANCODE_PAGEUP: extended = true; return VK_PRIOR;
    case SDL_SCANCODE_DELETE: extended = true; return VK_DELETE;
    case SDL_SCANCODE_END: extended = true; return VK_END;
    case SDL_SCANCODE_PAGEDOWN: extended = true; return VK_NEXT;
    case SDL_SCANCODE_RIGHT: extended = true; return VK_RIGHT;
    case SDL_SCANCODE_LEFT: extended = true; return VK_LEFT;
    case SDL_SCANCODE_DOWN: extended = true; return VK_DOWN;
    case SDL_SCANCODE_UP: extended = true; return VK_UP;
    case SDL_SCANCODE_NUMLOCKCLEAR: return VK_NUMLOCK;
    case SDL_SCANCODE_SCROLLLOCK: return VK_SCROLL;
    case SDL_SCANCODE_KP_DIVIDE: extended = true; return VK_DIVIDE;
    case SDL_SCANCODE_KP_MULTIPLY: return VK_MULTIPLY;
    case SDL_SCANCODE_KP_MINUS: return VK_SUBTRACT;
    case SDL_SCANCODE_KP_PLUS: return VK_ADD;
    case SDL_SCANCODE_KP_0: return VK_NUMPAD0;
    case SDL_SCANCODE_KP_PERIOD: return VK_DECIMAL;
    case SDL_SCANCODE_LCTRL: return VK_CONTROL;
    case SDL_SCANCODE_RCTRL: extended = true; return VK_CONTROL;
    case SDL_SCANCODE_LSHIFT: return VK_SHIFT;
    case SDL_SCANCODE_RSHIFT: return VK_SHIFT;
    case SDL_SCANCODE_LALT: return VK_MENU;
    case SDL_SCANCODE_RALT: extended = true; return VK_MENU;
    case SDL_SCANCODE_LGUI: extended = true; return VK_LWIN;
    case SDL_SCANCODE_RGUI: extended = true; return VK_RWIN;
    case SDL_SCANCODE_APPLICATION: extended = true; return VK_APPS;
    case SDL_SCANCODE_AC_BACK: extended = true; return VK_BROWSER_BACK;
    case SDL_SCANCODE_AC_FORWARD: extended = true; return VK_BROWSER_FORWARD;
    case SDL_SCANCODE_MUTE: extended = true; return VK_VOLUME_MUTE;
    case SDL_SCANCODE_VOLUMEDOWN: extended = true; return VK_VOLUME_DOWN;
    case SDL_SCANCODE_VOLUMEUP: extended = true; return VK_VOLUME_UP;
    case SDL_SCANCODE_AUDIONEXT: extended = true; return VK_MEDIA_NEXT_TRACK;
    case SDL_SCANCODE_AUDIOPREV: extended = true; return VK_MEDIA_PREV_TRACK;
    case SDL_SCANCODE_AUDIOSTOP: extended = true; return VK_MEDIA_STOP;
    case SDL_SCANCODE_AUDIOPLAY: extended = true; return VK_MEDIA_PLAY_PAUSE;
    default: return 0;
  }
}

// PC/AT scan code of a virtual key, as far as the key messages show it.
UINT ScanCode(const SDL_Keysym& k) {
  switch (k.scancode) {
    case SDL_SCANCODE_LSHIFT: return 0x2A;
    case SDL_SCANCODE_RSHIFT: return 0x36;
    case SDL_SCANCODE_LCTRL: case SDL_SCANCODE_RCTRL: return 0x1D;
    case SDL_SCANCODE_LALT: case SDL_SCANCODE_RALT: return 0x38;
    case SDL_SCANCODE_ESCAPE: return 0x01;
    case SDL_SCANCODE_RETURN: return 0x1C;
    case SDL_SCANCODE_SPACE: return 0x39;
    default: return UINT(k.scancode) & 0xFF;
  }
}

class TSdl final : public TBackend {
public:
  bool Start() {
    // Closing a window is reported per window; a quit event then only comes
    // from the session. Terminating signals are ours (PlatTermination).
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // Frames are made in the processor's memory: handing them to the window
    // system as they are beats uploading each to a GL texture, which on a
    // machine without a GPU is drawn again in software. The variable, when
    // set, still chooses.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    // Only the kind of display that is named is tried: probing the other
    // kind prints its own complaints, which say nothing about the one named.
    // SDL_VIDEODRIVER, when set, still wins.
    std::string x11, wayland;
    const bool hasX11 = GetEnv("DISPLAY", x11) && !x11.empty();
    const bool hasWayland = GetEnv("WAYLAND_DISPLAY", wayland) && !wayland.empty();
    if (hasX11 != hasWayland) SDL_SetHint(SDL_HINT_VIDEODRIVER, hasX11 ? "x11" : "wayland");
    X11SurviveWindowsThatAreGone();
    X11SurviveLostDisplay();
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
      error_ = SDL_GetError();
      return false;
    }
    started_ = true;
    uiThread_ = CurrentThreadId();
    X11PrepareDisplay();
    OpenWaker();
    // A window that another program destroys is told of by the window
    // system's own event only.
    SDL_EventState(SDL_SYSWMEVENT, SDL_ENABLE);
    const char* accel = SDL_GetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION);
    if (!accel || accel[0] == '0' || SDL_strcasecmp(accel, "false") == 0) shm_ = TShmPresenter::Open();
    wakeType_ = SDL_RegisterEvents(1);
    SDL_StopTextInput();
    SDL_StartTextInput();
    Monitors();
    return wakeType_ != Uint32(-1);
  }
  ~TSdl() override {
    // A display that is gone is left alone: SDL's ends would wait on it, or
    // end the process on a connection that does not survive the loss.
    if (Lost()) {
      if (wakeFile_ >= 0) close(wakeFile_);
      return;
    }
    for (auto& [id, w] : windows_) {
      if (shm_) shm_->Unbind(id);
      if (gone_.count(id)) X11NoteUnmapped(w);
      const std::uintptr_t xid = X11WindowId(w);
      SDL_DestroyWindow(w);
      X11NoteWindow(xid, false);
    }
    windows_.clear();
    shm_.reset();
    for (auto& [id, c] : cursors_)
      if (c) SDL_FreeCursor(c);
    cursors_.clear();
    if (custom_) SDL_FreeCursor(custom_);
    if (started_) SDL_QuitSubSystem(SDL_INIT_VIDEO);
    if (wakeFile_ >= 0) close(wakeFile_);
  }

  const char* Name() const override { return "sdl"; }
  const std::string& Error() const { return error_; }

  std::vector<TMonitorInfo> Monitors() override {
    // SDL's display is the UI thread's. Other threads (a 3D device looks for
    // its monitor at every frame) get what it found last: a request of
    // theirs on SDL's connection could also read off it the event that was
    // to end the UI thread's wait.
    if (CurrentThreadId() != uiThread_ || Lost()) {
      std::lock_guard<std::mutex> l(monitorsLock_);
      return monitors_;
    }
    std::vector<TMonitorInfo> r = AskMonitors();
    std::lock_guard<std::mutex> l(monitorsLock_);
    monitors_ = r;
    return r;
  }

  std::vector<TMonitorInfo> AskMonitors() {
    std::vector<TMonitorInfo> r;
    int n = SDL_GetNumVideoDisplays();
    for (int i = 0; i < n; ++i) {
      SDL_Rect b, u;
      if (SDL_GetDisplayBounds(i, &b) != 0) continue;
      if (SDL_GetDisplayUsableBounds(i, &u) != 0) u = b;
      TMonitorInfo m;
      m.Bounds = {b.x, b.y, b.x + b.w, b.y + b.h};
      m.Work = {u.x, u.y, u.x + u.w, u.y + u.h};
      m.Primary = i == 0;  // SDL lists the primary output first
      SDL_DisplayMode mode;
      if (SDL_GetCurrentDisplayMode(i, &mode) == 0) {
        m.Refresh = mode.refresh_rate;
        m.BitsPerPixel = std::max(24, int(SDL_BITSPERPIXEL(mode.format)));
        if (m.BitsPerPixel == 24) m.BitsPerPixel = 32;
      }
      float ddpi = 0;
      if (SDL_GetDisplayDPI(i, &ddpi, nullptr, nullptr) == 0 && ddpi > 0) m.Dpi = 96;  // logical pixels stay 96
      r.push_back(m);
    }
    return r;
  }

  NativeWin Create(const TNativeDesc& d) override {
    if (Lost()) return 0;
    Uint32 flags = SDL_WINDOW_HIDDEN;
    if (!d.Bordered) flags |= SDL_WINDOW_BORDERLESS;
    if (d.Resizable) flags |= SDL_WINDOW_RESIZABLE;
    if (d.Topmost) flags |= SDL_WINDOW_ALWAYS_ON_TOP;
    if (d.SkipTaskbar) flags |= SDL_WINDOW_SKIP_TASKBAR;
    if (d.Utility) flags |= SDL_WINDOW_UTILITY;
    int w = std::max(1, int(d.Client.right - d.Client.left)), h = std::max(1, int(d.Client.bottom - d.Client.top));
    // A window manager reads the type when the window is made, and keeps a
    // dialog above the window it is transient for, also a full-screen one.
    if (d.Dialog) SDL_SetHint(SDL_HINT_X11_WINDOW_TYPE, "_NET_WM_WINDOW_TYPE_DIALOG");
    SDL_Window* win = SDL_CreateWindow(ToUtf8(d.Title).c_str(), d.Client.left, d.Client.top, w, h, flags);
    // SDL may make the native window anew for the framebuffer behind the
    // first surface asked for: asked now, before the window shows, the new
    // one is made with the type as well.
    if (win && (d.Dialog || d.Owner)) SDL_GetWindowSurface(win);
    if (d.Dialog) SDL_SetHint(SDL_HINT_X11_WINDOW_TYPE, "");
    if (!win) return 0;
    // A dialog is answered, not put away: the window manager is asked to
    // offer moving and closing it only.
    if (d.Dialog) X11MakeDialogFrame(win);
    else X11SetFrameFunctions(win, d.Bordered, !d.Resizable);
    NativeWin id = SDL_GetWindowID(win);
    windows_[id] = win;
    X11NoteWindow(X11WindowId(win), true);
    known_[id] = d;
    if (shm_) shm_->Bind(id, win);
    if (SDL_Window* owner = Win(d.Owner)) SDL_SetWindowModalFor(win, owner);
    // Constant alpha shows only under a compositor; per-pixel alpha is
    // presented over black (the premultiplied pixels as they are).
    if (d.Opacity < 255) SDL_SetWindowOpacity(win, float(d.Opacity) / 255.0f);
    if (d.Visible) SDL_ShowWindow(win);
    if (d.State == TShowState::Maximized) SDL_MaximizeWindow(win);
    if (d.State == TShowState::Minimized) SDL_MinimizeWindow(win);
    return id;
  }

  void Update(NativeWin id, const TNativeDesc& d) override {
    SDL_Window* win = Win(id);
    // A window that is gone is waited for in vain (SDL waits for a hidden
    // window's unmapping, say).
    if (!win || gone_.count(id) || Lost()) return;
    TNativeDesc& k = known_[id];
    if (d.Title != k.Title) SDL_SetWindowTitle(win, ToUtf8(d.Title).c_str());
    if (d.Owner != k.Owner)
      if (SDL_Window* owner = Win(d.Owner)) SDL_SetWindowModalFor(win, owner);
    if (d.Bordered != k.Bordered) SDL_SetWindowBordered(win, d.Bordered ? SDL_TRUE : SDL_FALSE);
    if (d.Resizable != k.Resizable) SDL_SetWindowResizable(win, d.Resizable ? SDL_TRUE : SDL_FALSE);
    if (!d.Dialog && (d.Bordered != k.Bordered || d.Resizable != k.Resizable))
      X11SetFrameFunctions(win, d.Bordered, !d.Resizable);
    if (d.Topmost != k.Topmost) SDL_SetWindowAlwaysOnTop(win, d.Topmost ? SDL_TRUE : SDL_FALSE);
    if (d.Opacity != k.Opacity) SDL_SetWindowOpacity(win, float(d.Opacity) / 255.0f);
    if (d.State != k.State) {
      if (d.State == TShowState::Maximized) SDL_MaximizeWindow(win);
      else if (d.State == TShowState::Minimized) SDL_MinimizeWindow(win);
      else SDL_RestoreWindow(win);
    }
    // Full screen by the window manager: the manager places it (SDL would
    // also fix a window that may not be resized at the size asked for).
    if (d.State == TShowState::Normal && !(d.Client == k.Client) && !managerFull_.count(id)) {
      SDL_SetWindowPosition(win, d.Client.left, d.Client.top);
      SDL_SetWindowSize(win, std::max(1, int(d.Client.right - d.Client.left)),
                        std::max(1, int(d.Client.bottom - d.Client.top)));
    }
    if (d.Visible != k.Visible) {
      // Shown or hidden by us: whatever the display did to it is past.
      unseen_.erase(id);
      if (d.Visible) SDL_ShowWindow(win);
      else SDL_HideWindow(win);
    }
    k = d;
  }

  void Activate(NativeWin id) override {
    SDL_Window* win = Win(id);
    if (!win || gone_.count(id) || Lost()) return;
    // Minimised by the window manager (with its owner) while it should be
    // on screen: it comes back first.
    const Uint32 flags = SDL_GetWindowFlags(win);
    if (flags & SDL_WINDOW_MINIMIZED) SDL_RestoreWindow(win);
    if (!(SDL_GetWindowFlags(win) & SDL_WINDOW_SHOWN) && known_[id].Visible) SDL_ShowWindow(win);
    if (!(SDL_GetWindowFlags(win) & SDL_WINDOW_SHOWN)) return;
    // A window manager moves the focus when asked; without one, the focus
    // would stay where a closed window left it (nowhere).
    SDL_RaiseWindow(win);
    if (!X11HasWindowManager(win)) SDL_SetWindowInputFocus(win);
  }

  void Destroy(NativeWin id) override {
    if (Lost()) {
      // Left to the display that is gone; only our records go.
      windows_.erase(id);
      known_.erase(id);
      return;
    }
    if (shm_) shm_->Unbind(id);
    if (SDL_Window* win = Win(id)) {
      // SDL hides a window before it destroys it, and waits for the window
      // system to unmap it: one that is gone never will.
      if (gone_.count(id)) X11NoteUnmapped(win);
      const std::uintptr_t xid = X11WindowId(win);
      SDL_DestroyWindow(win);
      X11NoteWindow(xid, false);
    }
    windows_.erase(id);
    known_.erase(id);
    gone_.erase(id);
    unseen_.erase(id);
    managerFull_.erase(id);
  }

  std::unique_ptr<TPixelMemory> AllocPixels(std::size_t count) override {
    if (shm_)
      if (auto shared = shm_->AllocPixels(count)) return shared;
    return HeapPixels(count);
  }

  void Present(NativeWin id, const TPixelMemory& memory, const std::uint32_t* bits, int stride, int width,
               int height, const RECT&) override {
    SDL_Window* win = Win(id);
    if (!win || gone_.count(id) || width <= 0 || height <= 0 || Lost()) return;
    if (shm_ && shm_->Present(id, memory, bits, stride, width, height)) return;
    SDL_Surface* dst = SDL_GetWindowSurface(win);
    if (!dst) return;
    SDL_Surface* src = SDL_CreateRGBSurfaceWithFormatFrom(const_cast<std::uint32_t*>(bits), width, height, 32,
                                                          stride * 4, SDL_PIXELFORMAT_ARGB8888);
    if (!src) return;
    SDL_SetSurfaceBlendMode(src, SDL_BLENDMODE_NONE);
    SDL_BlitSurface(src, nullptr, dst, nullptr);
    SDL_FreeSurface(src);
    SDL_UpdateWindowSurface(win);
  }

  void Pump(TInputSink& sink) override {
    SDL_Event e;
    while (!Lost() && SDL_PollEvent(&e)) {
      if (e.type == wakeType_) continue;
      switch (e.type) {
        case SDL_KEYDOWN:
        case SDL_KEYUP: {
          bool ext;
          UINT vk = VirtualKey(e.key.keysym, ext);
          // SDL lets go of the keys held when its keyboard focus goes (a
          // dialog closed by Escape): the key's next automatic repeat then
          // looks like a new press, unless the window system's own events
          // said it is one.
          const bool repeat = e.key.repeat != 0 || (e.type == SDL_KEYDOWN && nextPressRepeats_);
          if (e.type == SDL_KEYDOWN) nextPressRepeats_ = false;
          if (vk) sink.Key(vk, ScanCode(e.key.keysym), ext, e.type == SDL_KEYDOWN, repeat);
          break;
        }
        case SDL_TEXTINPUT: sink.Text(FromUtf8(e.text.text)); break;
        case SDL_MOUSEMOTION: sink.MouseMove(Screen(e.motion.windowID, e.motion.x, e.motion.y)); break;
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: {
          int b = e.button.button == SDL_BUTTON_LEFT ? 1 : e.button.button == SDL_BUTTON_RIGHT ? 2
                  : e.button.button == SDL_BUTTON_MIDDLE ? 3 : 0;
          if (e.type == SDL_MOUSEBUTTONDOWN) ClickFocus(e.button.windowID);
          if (b)
            sink.Button(b, e.type == SDL_MOUSEBUTTONDOWN, e.button.clicks,
                        Screen(e.button.windowID, e.button.x, e.button.y));
          break;
        }
        case SDL_MOUSEWHEEL: {
          int dy = e.wheel.y, dx = e.wheel.x;
          if (e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED) dy = -dy, dx = -dx;
          int mx = 0, my = 0;
          SDL_GetGlobalMouseState(&mx, &my);
          if (dy) sink.Wheel(dy * WHEEL_DELTA, false, POINT{mx, my});
          if (dx) sink.Wheel(dx * WHEEL_DELTA, true, POINT{mx, my});
          break;
        }
        case SDL_WINDOWEVENT: Window(sink, e.window); break;
        case SDL_DISPLAYEVENT: Monitors(); break;
        case SDL_SYSWMEVENT: {
          if (const std::uintptr_t x = X11DestroyedWindow(e.syswm.msg)) Destroyed(sink, x);
          if (const std::uintptr_t x = X11StateChanged(e.syswm.msg)) ManagerStateChanged(x);
          // SDL tells of a lost focus a while later, and only when it is
          // pumped again: the look for a keyboard left to nobody starts now.
          if (const std::uintptr_t x = X11FocusLeft(e.syswm.msg))
            for (const auto& [id, win] : windows_)
              if (X11WindowId(win) == x) LookForFocus(id);
          unsigned code = 0;
          bool press = false;
          unsigned long time = 0;
          if (X11KeyEvent(e.syswm.msg, code, press, time)) {
            // A press that follows a press of the key, or its release of the
            // same moment, is the server's automatic repeat.
            TXKey& k = xkeys_[code];
            if (press) nextPressRepeats_ = k.Down || (k.Time == time && k.Seen);
            k = {press, true, time};
          } else if (X11IsFocusIn(e.syswm.msg) && !windows_.empty()) {
            // Releases made while another window had the keyboard were not
            // seen: the server says which keys are down.
            unsigned char down[32];
            if (X11KeysDown(windows_.begin()->second, down))
              for (auto& [c, k] : xkeys_) k.Down = c < 256 && (down[c / 8] >> (c % 8)) & 1;
          }
          break;
        }
        case SDL_QUIT: {
          // Asked from outside to end: every window is asked to close, as
          // when its user closes it.
          std::vector<NativeWin> ids;
          for (const auto& [id, win] : windows_) ids.push_back(id);
          for (NativeWin id : ids) sink.CloseRequested(id);
          break;
        }
        default: break;
      }
    }
    if (Lost()) {
      // The display went away: the program ends as on a terminating
      // signal, every dialog and box answered as it would be then.
      if (!endAsked_) RequestTermination();
      endAsked_ = true;
      return;
    }
    RegainFocus();
  }

  bool WaitsNatively() const override { return true; }
  // A window that lost the keyboard looks now and then whether it should
  // take it back.
  std::uint32_t IdleWaitMs() override { return focusLost_ ? kFocusLookMs : kUntilWoken; }
  void Wait(int timeoutMs) override {
    if (wakeFile_ < 0) {
      if (!Lost()) SDL_WaitEventTimeout(nullptr, std::max(1, timeoutMs));
      else SDL_Delay(Uint32(std::clamp(timeoutMs, 1, 10)));
      return;
    }
    pollfd files[2] = {{wakeFile_, POLLIN, 0}, {xFile_, POLLIN, 0}};
    nfds_t count = 1;
    if (!Lost()) {
      // What SDL or Xlib have read already would not show on the files.
      SDL_PumpEvents();
      if (Lost() || SDL_HasEvents(SDL_FIRSTEVENT, SDL_LASTEVENT) || X11EventsWaiting(xConnection_)) return;
      count = xFile_ >= 0 ? 2 : 1;
    }
    // A connection that broke would end every wait at once; SDL's next
    // look at it tells.
    if (poll(files, count, std::max(1, timeoutMs)) > 0 && count == 2 &&
        (files[1].revents & (POLLERR | POLLHUP | POLLNVAL)))
      xFile_ = -1;
    // The wakes are taken after the wait, so that one sent since the caller
    // last looked ends it.
    std::uint64_t wakes;
    [[maybe_unused]] const ssize_t taken = read(wakeFile_, &wakes, sizeof wakes);
  }
  void Wake() override {
    if (wakeFile_ >= 0) {
      const std::uint64_t one = 1;
      // Refused only with the count at its top, which ends the wait as well.
      [[maybe_unused]] const ssize_t written = write(wakeFile_, &one, sizeof one);
      return;
    }
    SDL_Event e{};
    e.type = wakeType_;
    SDL_PushEvent(&e);
  }

  bool CursorPos(POINT& pt) override {
    if (Lost()) return false;
    int x = 0, y = 0;
    // Where the pointer is now, also when it has left the program's windows.
    if (!windows_.empty() && X11PointerAt(windows_.begin()->second, x, y)) {
      pt = {x, y};
      return true;
    }
    SDL_GetGlobalMouseState(&x, &y);
    pt = {x, y};
    return true;
  }
  void GrabPointer(bool grab) override {
    if (!Lost()) SDL_CaptureMouse(grab ? SDL_TRUE : SDL_FALSE);
  }

  void SetColorCursor(std::uintptr_t handle, const std::uint32_t* bgra, int width, int height, POINT hot) override {
    if (Lost()) return;
    SDL_Surface* s = SDL_CreateRGBSurfaceWithFormatFrom(const_cast<std::uint32_t*>(bgra), width, height, 32,
                                                        width * 4, SDL_PIXELFORMAT_ARGB8888);
    SDL_Cursor* c = s ? SDL_CreateColorCursor(s, hot.x, hot.y) : nullptr;
    if (s) SDL_FreeSurface(s);
    if (!c) {
      SetCursor(IDC_ARROW);
      return;
    }
    SDL_SetCursor(c);
    SDL_ShowCursor(SDL_ENABLE);
    // The previous made cursor is no longer shown and can go.
    if (custom_) SDL_FreeCursor(custom_);
    custom_ = c;
    shownId_ = 0;
    (void)handle;
  }

  void SetCursor(std::uintptr_t id) override {
    if (Lost()) return;
    if (id == 0) {
      SDL_ShowCursor(SDL_DISABLE);
      shownId_ = 0;
      return;
    }
    shownId_ = id;
    SDL_SystemCursor c = SDL_SYSTEM_CURSOR_ARROW;
    switch (id) {
      case IDC_IBEAM: c = SDL_SYSTEM_CURSOR_IBEAM; break;
      case IDC_WAIT: c = SDL_SYSTEM_CURSOR_WAIT; break;
      case IDC_CROSS: c = SDL_SYSTEM_CURSOR_CROSSHAIR; break;
      case IDC_APPSTARTING: c = SDL_SYSTEM_CURSOR_WAITARROW; break;
      case IDC_SIZENWSE: c = SDL_SYSTEM_CURSOR_SIZENWSE; break;
      case IDC_SIZENESW: c = SDL_SYSTEM_CURSOR_SIZENESW; break;
      case IDC_SIZEWE: c = SDL_SYSTEM_CURSOR_SIZEWE; break;
      case IDC_SIZENS: c = SDL_SYSTEM_CURSOR_SIZENS; break;
      case IDC_SIZEALL: c = SDL_SYSTEM_CURSOR_SIZEALL; break;
      case IDC_NO: c = SDL_SYSTEM_CURSOR_NO; break;
      case IDC_HAND: c = SDL_SYSTEM_CURSOR_HAND; break;
      default: break;
    }
    SDL_Cursor*& cur = cursors_[c];
    if (!cur) cur = SDL_CreateSystemCursor(c);
    if (cur) SDL_SetCursor(cur);
    SDL_ShowCursor(SDL_ENABLE);
    if (custom_) {
      SDL_FreeCursor(custom_);
      custom_ = nullptr;
    }
  }

  // Drawn by the window manager: SDL's own box on X11 runs in a child
  // process that a signal would leave behind, and neither wraps nor breaks
  // lines as ours do.
  bool ShowsMessageBoxes() const override { return true; }

  bool TestClick(NativeWin id, POINT client, int button) override {
    if (!Win(id)) return false;
    for (int down = 1; down >= 0; --down) {
      SDL_Event e{};
      e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
      e.button.windowID = Uint32(id);
      e.button.button = Uint8(button == 2 ? SDL_BUTTON_RIGHT : button == 3 ? SDL_BUTTON_MIDDLE : SDL_BUTTON_LEFT);
      e.button.state = down ? SDL_PRESSED : SDL_RELEASED;
      e.button.clicks = 1;
      e.button.x = client.x;
      e.button.y = client.y;
      if (SDL_PushEvent(&e) < 0) return false;
    }
    return true;
  }

  bool TestMovePointer(POINT screen) override { return SDL_WarpMouseGlobal(screen.x, screen.y) == 0; }

  bool TestPixel(NativeWin id, POINT p, std::uint32_t& bgra) override {
    if (Lost()) return false;
    // What the server shows, where it reads our memory.
    if (shm_ && shm_->ReadPixel(id, p.x, p.y, bgra)) return true;
    SDL_Window* w = Win(id);
    SDL_Surface* s = w ? SDL_GetWindowSurface(w) : nullptr;
    if (!s || p.x < 0 || p.y < 0 || p.x >= s->w || p.y >= s->h) return false;
    if (SDL_MUSTLOCK(s)) SDL_LockSurface(s);
    Uint32 raw = 0;
    const Uint8* row = static_cast<const Uint8*>(s->pixels) + std::size_t(p.y) * s->pitch;
    int bpp = s->format->BytesPerPixel;
    std::memcpy(&raw, row + std::size_t(p.x) * bpp, std::min(bpp, 4));
    Uint8 r, g, b, a;
    SDL_GetRGBA(raw, s->format, &r, &g, &b, &a);
    if (SDL_MUSTLOCK(s)) SDL_UnlockSurface(s);
    bgra = std::uint32_t(b) | (std::uint32_t(g) << 8) | (std::uint32_t(r) << 16) | 0xFF000000u;
    return true;
  }

  int TestWindowCount() override { return int(windows_.size()); }

  bool TestWindowState(NativeWin id, TNativeWindowState& st) override {
    SDL_Window* w = Win(id);
    if (!w || Lost()) return false;
    const char* title = SDL_GetWindowTitle(w);
    st.Title = FromUtf8(title ? title : "");
    const Uint32 f = SDL_GetWindowFlags(w);
    st.Bordered = !(f & SDL_WINDOW_BORDERLESS);
    st.Resizable = (f & SDL_WINDOW_RESIZABLE) != 0;
    st.Topmost = (f & SDL_WINDOW_ALWAYS_ON_TOP) != 0;
    st.Visible = (f & SDL_WINDOW_SHOWN) != 0;
    float opacity = 1.0f;
    st.Opacity = SDL_GetWindowOpacity(w, &opacity) == 0 ? int(opacity * 255.0f + 0.5f) : 255;
    st.Focused = SDL_GetKeyboardFocus() == w;
    TX11WindowFacts x;
    if (X11ReadWindowFacts(w, x)) {
      st.NativeId = x.Id;
      st.TransientFor = x.TransientFor;
      st.DialogType = x.DialogType;
      st.MotifFunctions = x.MotifFunctions;
      st.Movable = x.Movable;
      st.Minimizable = x.Minimizable;
      st.Maximizable = x.Maximizable;
      st.KeyboardFocus = x.KeyboardFocus;
    }
    return true;
  }

  bool TestCursor(bool& visible, std::uintptr_t& standardId) override {
    visible = SDL_ShowCursor(SDL_QUERY) == SDL_ENABLE;
    standardId = shownId_;
    return true;
  }

private:
  // On X11 the UI thread waits on SDL's connection and on a file of ours
  // that other threads write to wake it. SDL's own wake-up, one event sent
  // through the server, is lost when another thread's request on SDL's
  // connection reads it off the file before the waiting thread looks; and
  // with no window to send it to SDL looks every millisecond.
  void OpenWaker() {
    const char* driver = SDL_GetCurrentVideoDriver();
    if (!driver || SDL_strcmp(driver, "x11") != 0) return;
    // The connection shows through a window only.
    SDL_Window* probe = SDL_CreateWindow("", 0, 0, 1, 1, SDL_WINDOW_HIDDEN);
    if (!probe) return;
    void* connection = X11ConnectionOf(probe);
    SDL_DestroyWindow(probe);
    X11KeepAfterLoss(connection);
    const int file = X11ConnectionFile(connection);
    if (file < 0) return;
    wakeFile_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFile_ < 0) return;
    xConnection_ = connection;
    xFile_ = file;
  }

  SDL_Window* Win(NativeWin id) {
    auto it = windows_.find(id);
    return it == windows_.end() ? nullptr : it->second;
  }

  // Whether the display went away; from then on nothing asks it anything.
  bool Lost() {
    if (!lost_ && X11DisplayLost()) lost_ = true;
    return lost_;
  }

  // The window manager made a window full screen, or let it go: a window of
  // a fixed size may then take the screen's size, and takes its own again.
  void ManagerStateChanged(std::uintptr_t xid) {
    for (const auto& [id, win] : windows_) {
      if (X11WindowId(win) != xid) continue;
      const TNativeDesc& d = known_[id];
      const bool full = X11FullScreenByManager(win);
      auto it = managerFull_.find(id);
      if (full && it == managerFull_.end()) {
        managerFull_[id] = d.Client;
        if (!d.Resizable) X11SetSizeHints(win, 1, 1, false);
      } else if (!full && it != managerFull_.end()) {
        const RECT before = it->second;
        managerFull_.erase(it);
        const int width = std::max(1, int(before.right - before.left));
        const int height = std::max(1, int(before.bottom - before.top));
        if (!d.Resizable) X11SetSizeHints(win, width, height, true);
      }
      return;
    }
  }

  // Out of sight (minimised, or unmapped by a window manager or another
  // program), or back.
  void Unseen(TInputSink& sink, NativeWin id, bool unseen) {
    if (unseen ? !unseen_.insert(id).second : unseen_.erase(id) == 0) return;
    sink.Seen(id, !unseen);
  }

  void LookForFocus(NativeWin id) {
    focusLost_ = id;
    focusLookUntil_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(kFocusLookForMs);
  }

  // A window that lost the keyboard while no window has it (the window
  // manager ended, and none is left to give it) takes it back, as a window
  // does that is shown without a manager. A manager that is still going
  // away is waited for a while.
  void RegainFocus() {
    if (!focusLost_) return;
    const NativeWin id = focusLost_;
    SDL_Window* w = Win(id);
    if (!w || gone_.count(id) || !known_[id].Visible || std::chrono::steady_clock::now() >= focusLookUntil_) {
      focusLost_ = 0;
      return;
    }
    // A manager that ends maps the window anew, out of its frame.
    if (unseen_.count(id) || !(SDL_GetWindowFlags(w) & SDL_WINDOW_SHOWN)) return;
    if (!X11FocusIsNowhere(w) || X11HasWindowManager(w)) return;
    focusLost_ = 0;
    SDL_SetWindowInputFocus(w);
  }

  // A window of ours that another program destroyed: nothing is drawn into
  // it any more, and it is closed as its user would close it.
  void Destroyed(TInputSink& sink, std::uintptr_t xid) {
    for (const auto& [id, win] : windows_)
      if (!gone_.count(id) && X11WindowId(win) == xid) {
        gone_.insert(id);
        sink.CloseRequested(id);
        return;
      }
  }

  bool FillsItsScreen(NativeWin id) {
    SDL_Window* w = Win(id);
    SDL_Rect b;
    if (!w || SDL_GetDisplayBounds(std::max(0, SDL_GetWindowDisplayIndex(w)), &b) != 0) return false;
    const RECT& c = known_[id].Client;
    return c.left <= b.x && c.top <= b.y && c.right >= b.x + b.w && c.bottom >= b.y + b.h;
  }

  // Without a window manager nobody gives a clicked window the keyboard.
  void ClickFocus(Uint32 windowId) {
    SDL_Window* w = Win(windowId);
    if (w && SDL_GetKeyboardFocus() != w && !X11HasWindowManager(w)) SDL_SetWindowInputFocus(w);
  }

  POINT Screen(Uint32 windowId, int x, int y) {
    int wx = 0, wy = 0;
    if (SDL_Window* w = Win(windowId)) SDL_GetWindowPosition(w, &wx, &wy);
    return {wx + x, wy + y};
  }

  void Window(TInputSink& sink, const SDL_WindowEvent& e) {
    SDL_Window* w = Win(e.windowID);
    if (!w) return;
    switch (e.event) {
      case SDL_WINDOWEVENT_MOVED:
      case SDL_WINDOWEVENT_SIZE_CHANGED: {
        int x, y, cw, ch;
        SDL_GetWindowPosition(w, &x, &y);
        SDL_GetWindowSize(w, &cw, &ch);
        RECT r{x, y, x + cw, y + ch};
        known_[e.windowID].Client = r;
        sink.Moved(e.windowID, r);
        break;
      }
      case SDL_WINDOWEVENT_EXPOSED: sink.Exposed(e.windowID); break;
      case SDL_WINDOWEVENT_HIDDEN:
        // Hidden by us, it is no longer shown anyway.
        if (known_[e.windowID].Visible) Unseen(sink, e.windowID, true);
        break;
      case SDL_WINDOWEVENT_SHOWN:
      case SDL_WINDOWEVENT_RESTORED: Unseen(sink, e.windowID, false); break;
      case SDL_WINDOWEVENT_MINIMIZED: {
        Unseen(sink, e.windowID, true);
        // A window manager may offer to minimise a dialog all the same, and
        // takes its owner along. Over a window that fills its screen (a
        // full-screen show) nothing would be left to bring them back: they
        // come back at once. Otherwise they come back with the owner.
        const TNativeDesc& d = known_[e.windowID];
        if (d.Dialog && FillsItsScreen(d.Owner)) {
          SDL_RestoreWindow(Win(d.Owner));
          SDL_RestoreWindow(w);
          SDL_RaiseWindow(w);
        }
        break;
      }
      case SDL_WINDOWEVENT_LEAVE: sink.MouseLeft(e.windowID); break;
      case SDL_WINDOWEVENT_FOCUS_GAINED:
        focusLost_ = 0;
        sink.Focus(e.windowID, true);
        break;
      case SDL_WINDOWEVENT_FOCUS_LOST:
        LookForFocus(e.windowID);
        sink.Focus(e.windowID, false);
        break;
      case SDL_WINDOWEVENT_CLOSE: sink.CloseRequested(e.windowID); break;
      default: break;
    }
  }

  static constexpr std::uint32_t kFocusLookMs = 100, kFocusLookForMs = 5000;

  std::string error_;  // why the video subsystem did not start
  bool started_ = false;
  bool lost_ = false;  // the display went away
  bool endAsked_ = false;  // and the program was asked to end
  NativeWin focusLost_ = 0;  // lost the keyboard, looked at until focusLookUntil_
  std::chrono::steady_clock::time_point focusLookUntil_;
  std::uint32_t uiThread_ = 0;
  Uint32 wakeType_ = 0;  // the wake-up where SDL waits
  int wakeFile_ = -1;  // the wake-up where we wait (an eventfd)
  void* xConnection_ = nullptr;  // SDL's X connection, and its file
  int xFile_ = -1;
  std::mutex monitorsLock_;
  std::vector<TMonitorInfo> monitors_;  // as the UI thread found them last
  std::unique_ptr<TShmPresenter> shm_;  // nil: SDL's window surfaces
  std::map<NativeWin, SDL_Window*> windows_;
  std::map<NativeWin, TNativeDesc> known_;
  std::set<NativeWin> gone_;  // destroyed by another program
  std::set<NativeWin> unseen_;  // out of sight by the display's doing
  std::map<NativeWin, RECT> managerFull_;  // full screen by the manager, with the client before
  // The last event of each X key code, and whether the next key press SDL
  // reports is a repeat.
  struct TXKey {
    bool Down = false, Seen = false;
    unsigned long Time = 0;
  };
  std::map<unsigned, TXKey> xkeys_;
  bool nextPressRepeats_ = false;
  std::map<int, SDL_Cursor*> cursors_;
  SDL_Cursor* custom_ = nullptr;  // the made cursor shown, owned
  std::uintptr_t shownId_ = IDC_ARROW;
};

}  // namespace

std::unique_ptr<TBackend> CreateSdlBackend(std::string* error) {
  auto b = std::make_unique<TSdl>();
  if (!b->Start()) {
    if (error) *error = b->Error();
    return nullptr;
  }
  return b;
}

}  // namespace plat::user
