#include "Platform/User/PlatX11Windows.h"

#include <SDL.h>
#include <SDL_syswm.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "Platform/PlatSystem.h"

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

std::atomic<XErrorHandler> gBeforeOurs{nullptr};
std::atomic<int> gGoneReported{0};

// May run on any thread that reads the connection the error came on.
int ForgiveWindowsThatAreGone(Display* d, XErrorEvent* e) {
  if (e->error_code == BadWindow || e->error_code == BadDrawable) {
    if (gGoneReported.fetch_add(1) < 3) {
      char line[96];
      std::snprintf(line, sizeof line, "X11: request %d on window 0x%lx, which is gone: ignored", int(e->request_code),
                    e->resourceid);
      DebugOutput(line);
    }
    return 0;
  }
  const XErrorHandler before = gBeforeOurs.load();
  return before ? before(d, e) : 0;
}

}  // namespace

void X11SurviveWindowsThatAreGone() {
  const char* driver = SDL_GetCurrentVideoDriver();
  if (!driver || std::string(driver) != "x11") return;
  // SDL puts its own handler back when it ends, so each start installs ours.
  const XErrorHandler previous = XSetErrorHandler(&ForgiveWindowsThatAreGone);
  if (previous != &ForgiveWindowsThatAreGone) gBeforeOurs = previous;
}

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

void X11SurviveWindowsThatAreGone() {}
bool X11HasWindowManager(SDL_Window*) { return true; }
bool X11ReadWindowFacts(SDL_Window*, TX11WindowFacts&) { return false; }

#endif

}  // namespace plat::user
