#include "Platform/User/PlatX11Windows.h"

#include <SDL.h>
#include <SDL_syswm.h>

#if defined(SDL_VIDEO_DRIVER_X11)
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#endif

namespace plat::user {

#if defined(SDL_VIDEO_DRIVER_X11)

namespace {

Display* DisplayOf(SDL_Window* window, Window& id) {
  if (!window) return nullptr;
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) return nullptr;
  id = info.info.x11.window;
  return info.info.x11.display;
}

// A window id held in a property of type WINDOW or ATOM (0: none).
unsigned long LongProperty(Display* d, Window w, Atom property, Atom type) {
  Atom actual = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  unsigned long value = 0;
  if (XGetWindowProperty(d, w, property, 0, 1, False, type, &actual, &format, &count, &after, &data) == Success &&
      data && actual == type && format == 32 && count == 1)
    value = reinterpret_cast<unsigned long*>(data)[0];
  if (data) XFree(data);
  return value;
}

bool gXError = false;
int NoteXError(Display*, XErrorEvent*) {
  gXError = true;
  return 0;
}

}  // namespace

bool X11HasWindowManager(SDL_Window* window) {
  Window self = 0;
  Display* d = DisplayOf(window, self);
  if (!d) return true;
  const Atom check = XInternAtom(d, "_NET_SUPPORTING_WM_CHECK", False);
  const Window wm = LongProperty(d, DefaultRootWindow(d), check, XA_WINDOW);
  if (!wm) return false;
  // A manager that has gone leaves its id behind: its own window must still
  // name itself. A missing window is an X error, which must not end us.
  XSync(d, False);
  gXError = false;
  auto* previous = XSetErrorHandler(&NoteXError);
  const Window named = LongProperty(d, wm, check, XA_WINDOW);
  XSync(d, False);
  XSetErrorHandler(previous);
  return !gXError && named == wm;
}

bool X11ReadWindowFacts(SDL_Window* window, TX11WindowFacts& facts) {
  Window self = 0;
  Display* d = DisplayOf(window, self);
  if (!d) return false;
  facts.Id = self;
  facts.TransientFor = LongProperty(d, self, XA_WM_TRANSIENT_FOR, XA_WINDOW);
  const Atom type = LongProperty(d, self, XInternAtom(d, "_NET_WM_WINDOW_TYPE", False), XA_ATOM);
  facts.DialogType = type != None && type == XInternAtom(d, "_NET_WM_WINDOW_TYPE_DIALOG", False);
  return true;
}

#else

bool X11HasWindowManager(SDL_Window*) { return true; }
bool X11ReadWindowFacts(SDL_Window*, TX11WindowFacts&) { return false; }

#endif

}  // namespace plat::user
