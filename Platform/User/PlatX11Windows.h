#pragma once
// What the SDL display asks of X11 directly: whether a window manager runs,
// and the properties a window manager reads of a dialog box. Internal to
// Platform/User; every call is harmless where SDL does not run on X11.
#include <cstdint>

struct SDL_Window;

namespace plat::user {

// Makes an X error about a window that is gone (BadWindow, BadDrawable)
// harmless for the rest of the process: SDL wakes its waiting thread by an
// event sent to one of our windows on a second connection, which can reach
// the server after the window was destroyed on the first; Xlib's default
// handler would end the program for it. Other errors go on to the handler
// in place before. Once per process; nothing where SDL does not run on X11.
void X11SurviveWindowsThatAreGone();

// True when a window manager runs on the window's screen (or the display is
// not X11: focus is then the system's business).
bool X11HasWindowManager(SDL_Window* window);

// Test checks: the window's X id, the window its WM_TRANSIENT_FOR names
// (0: none), and whether its _NET_WM_WINDOW_TYPE is the dialog type.
struct TX11WindowFacts {
  std::uintptr_t Id = 0;
  std::uintptr_t TransientFor = 0;
  bool DialogType = false;
};
bool X11ReadWindowFacts(SDL_Window* window, TX11WindowFacts& facts);

}  // namespace plat::user
