#include "Platform/User/PlatX11Windows.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "Platform/PlatSystem.h"

#if defined(SDL_VIDEO_DRIVER_X11)
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
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

std::atomic<bool> gLost{false};

// The server is gone: said as Xlib says it, once. May run on any thread
// that reads a connection.
int DisplayLost(Display* d) {
  if (gLost.exchange(true)) return 0;
  // However the connection came to fail (a reset, a broken pipe, nothing
  // left to read, its file closed after an earlier failure), it is broken.
  char line[256];
  std::snprintf(line, sizeof line, "X connection to %s broken (explicit kill or server shutdown).",
                d ? DisplayString(d) : "");
  ReportOutputFailure("display", line);
  // A thread of SDL's may wait for the server's answer without end; the
  // close it starts must not.
  std::thread([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(kLostDisplayGraceMs));
    _exit(1);
  }).detach();
  return 0;
}

std::mutex gWaitedLock;
std::set<Window> gWaited;  // windows SDL may wait on

// The connection is lost and the call that found it returns: a wait of
// SDL's for one of its windows to be mapped or unmapped finds it done (the
// wait looks at the queue first).
void KeepGoingAfterLoss(Display* d, void*) {
  std::lock_guard<std::mutex> l(gWaitedLock);
  for (const Window w : gWaited) {
    XEvent e{};
    e.xunmap.type = UnmapNotify;
    e.xunmap.display = d;
    e.xunmap.event = e.xunmap.window = w;
    XPutBackEvent(d, &e);
    e = XEvent{};
    e.xmap.type = MapNotify;
    e.xmap.display = d;
    e.xmap.event = e.xmap.window = w;
    XPutBackEvent(d, &e);
  }
}

// The Motif hints: flags, functions, decorations, input mode, status.
constexpr long kMwmHintsFunctions = 1, kMwmHintsDecorations = 2;
constexpr long kMwmFuncMove = 4, kMwmFuncMinimize = 8, kMwmFuncClose = 32;
constexpr long kMwmDecorAll = 1, kMwmDecorBorder = 2, kMwmDecorTitle = 8, kMwmDecorMenu = 16,
               kMwmDecorMinimize = 32;

bool HasAtom(Display* d, Window w, Atom property, Atom wanted) {
  Atom actual = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  bool found = false;
  if (XGetWindowProperty(d, w, property, 0, 64, False, XA_ATOM, &actual, &format, &count, &after, &data) == Success &&
      data && actual == XA_ATOM && format == 32) {
    const auto* atoms = reinterpret_cast<const unsigned long*>(data);
    for (unsigned long i = 0; i < count && !found; ++i) found = atoms[i] == wanted;
  }
  if (data) XFree(data);
  return found;
}

void SetMotifHints(Display* d, Window w, long functions, long decorations) {
  const Atom hints = XInternAtom(d, "_MOTIF_WM_HINTS", False);
  long value[5] = {(functions ? kMwmHintsFunctions : 0) | kMwmHintsDecorations, functions, decorations, 0, 0};
  XChangeProperty(d, w, hints, hints, 32, PropModeReplace, reinterpret_cast<unsigned char*>(value), 5);
  XFlush(d);
}

}  // namespace

void X11SurviveLostDisplay() { XSetIOErrorHandler(&DisplayLost); }

void X11KeepAfterLoss(void* connection) {
  if (connection) XSetIOErrorExitHandler(static_cast<Display*>(connection), &KeepGoingAfterLoss, nullptr);
}

bool X11DisplayLost() { return gLost.load(); }

void X11NoteWindow(std::uintptr_t xid, bool alive) {
  if (!xid) return;
  std::lock_guard<std::mutex> l(gWaitedLock);
  if (alive) gWaited.insert(Window(xid));
  else gWaited.erase(Window(xid));
}

void X11PrepareDisplay() {
  const char* driver = SDL_GetCurrentVideoDriver();
  if (!driver || std::string(driver) != "x11") return;
  // On a connection of our own: an atom lives as long as the server, which
  // SDL's connection keeps up.
  if (Display* d = XOpenDisplay(nullptr)) {
    X11KeepAfterLoss(d);
    XInternAtom(d, "_MOTIF_WM_HINTS", False);
    XCloseDisplay(d);
  }
}

void X11MakeDialogFrame(SDL_Window* window) {
  Window self = 0;
  Display* d = DisplayOf(window, self);
  if (!d) return;
  SetMotifHints(d, self, kMwmFuncMove | kMwmFuncClose, kMwmDecorBorder | kMwmDecorTitle | kMwmDecorMenu);
}

void X11SetFrameFunctions(SDL_Window* window, bool bordered, bool fixed) {
  Window self = 0;
  Display* d = DisplayOf(window, self);
  if (!d) return;
  if (fixed)
    SetMotifHints(d, self, kMwmFuncMove | kMwmFuncMinimize | kMwmFuncClose,
                  bordered ? kMwmDecorBorder | kMwmDecorTitle | kMwmDecorMenu | kMwmDecorMinimize : 0);
  else
    SetMotifHints(d, self, 0, bordered ? kMwmDecorAll : 0);
}

std::uintptr_t X11StateChanged(const void* sdlSysWmMsg) {
  const auto* m = static_cast<const SDL_SysWMmsg*>(sdlSysWmMsg);
  if (!m || m->subsystem != SDL_SYSWM_X11 || m->msg.x11.event.type != PropertyNotify) return 0;
  const XPropertyEvent& e = m->msg.x11.event.xproperty;
  return e.atom == XInternAtom(e.display, "_NET_WM_STATE", False) ? e.window : 0;
}

bool X11FullScreenByManager(SDL_Window* window) {
  Window self = 0;
  Display* d = DisplayOf(window, self);
  return d && HasAtom(d, self, XInternAtom(d, "_NET_WM_STATE", False),
                      XInternAtom(d, "_NET_WM_STATE_FULLSCREEN", False));
}

void X11SetSizeHints(SDL_Window* window, int width, int height, bool fixed) {
  Window self = 0;
  Display* d = DisplayOf(window, self);
  if (!d) return;
  XSizeHints* hints = XAllocSizeHints();
  if (!hints) return;
  long given = 0;
  XGetWMNormalHints(d, self, hints, &given);
  hints->flags = (hints->flags & ~(PMinSize | PMaxSize)) | PMinSize | (fixed ? PMaxSize : 0);
  hints->min_width = fixed ? width : 1;
  hints->min_height = fixed ? height : 1;
  hints->max_width = width;
  hints->max_height = height;
  XSetWMNormalHints(d, self, hints);
  XFree(hints);
  XFlush(d);
}

bool X11DisplayAnswers(const char* name) {
  Display* d = XOpenDisplay(name);
  if (!d) return false;
  XCloseDisplay(d);
  return true;
}

std::uintptr_t X11WindowId(SDL_Window* window) {
  Window self = 0;
  return DisplayOf(window, self) ? self : 0;
}

void* X11ConnectionOf(SDL_Window* window) {
  Window self = 0;
  return DisplayOf(window, self);
}

int X11ConnectionFile(void* connection) {
  return connection ? ConnectionNumber(static_cast<Display*>(connection)) : -1;
}

bool X11EventsWaiting(void* connection) {
  return connection && XEventsQueued(static_cast<Display*>(connection), QueuedAfterFlush) > 0;
}

std::uintptr_t X11DestroyedWindow(const void* sdlSysWmMsg) {
  const auto* m = static_cast<const SDL_SysWMmsg*>(sdlSysWmMsg);
  if (!m || m->subsystem != SDL_SYSWM_X11 || m->msg.x11.event.type != DestroyNotify) return 0;
  return m->msg.x11.event.xdestroywindow.window;
}

bool X11KeyEvent(const void* sdlSysWmMsg, unsigned& keycode, bool& press, unsigned long& time) {
  const auto* m = static_cast<const SDL_SysWMmsg*>(sdlSysWmMsg);
  if (!m || m->subsystem != SDL_SYSWM_X11) return false;
  const XEvent& e = m->msg.x11.event;
  if (e.type != KeyPress && e.type != KeyRelease) return false;
  keycode = e.xkey.keycode;
  press = e.type == KeyPress;
  time = e.xkey.time;
  return true;
}

bool X11FocusIsNowhere(SDL_Window* window) {
  Window self = 0;
  Display* d = DisplayOf(window, self);
  if (!d) return false;
  Window focus = None;
  int revert = 0;
  XGetInputFocus(d, &focus, &revert);
  return focus == None || focus == PointerRoot || focus == DefaultRootWindow(d);
}

std::uintptr_t X11FocusLeft(const void* sdlSysWmMsg) {
  const auto* m = static_cast<const SDL_SysWMmsg*>(sdlSysWmMsg);
  if (!m || m->subsystem != SDL_SYSWM_X11 || m->msg.x11.event.type != FocusOut) return 0;
  return m->msg.x11.event.xfocus.window;
}

bool X11IsFocusIn(const void* sdlSysWmMsg) {
  const auto* m = static_cast<const SDL_SysWMmsg*>(sdlSysWmMsg);
  return m && m->subsystem == SDL_SYSWM_X11 && m->msg.x11.event.type == FocusIn;
}

bool X11KeysDown(SDL_Window* window, unsigned char keys[32]) {
  Window self = 0;
  Display* d = DisplayOf(window, self);
  if (!d) return false;
  char raw[32] = {};
  XQueryKeymap(d, raw);
  std::memcpy(keys, raw, 32);
  return true;
}

bool X11PointerAt(SDL_Window* window, int& x, int& y) {
  Window self = 0;
  Display* d = DisplayOf(window, self);
  if (!d) return false;
  Window root = 0, child = 0;
  int wx = 0, wy = 0;
  unsigned mask = 0;
  if (!XQueryPointer(d, self, &root, &child, &x, &y, &wx, &wy, &mask)) return false;
  return true;
}

void X11NoteUnmapped(SDL_Window* window) {
  Window self = 0;
  Display* d = DisplayOf(window, self);
  if (!d) return;
  XEvent e{};
  e.xunmap.type = UnmapNotify;
  e.xunmap.display = d;
  e.xunmap.event = self;
  e.xunmap.window = self;
  XPutBackEvent(d, &e);
}

void X11SurviveWindowsThatAreGone() {
  // Before SDL starts: SDL's own handler passes errors on to the one it
  // found, ours, and puts ours back when it ends, before it closes its
  // connections (whose last errors, about a window another program
  // destroyed, are read only then).
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
  facts.MotifFunctions = -1;
  {
    const Atom hints = XInternAtom(d, "_MOTIF_WM_HINTS", False);
    Atom actual = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(d, self, hints, 0, 5, False, hints, &actual, &format, &count, &after, &data) == Success &&
        data && actual == hints && format == 32 && count >= 2) {
      const auto* v = reinterpret_cast<const long*>(data);
      if (v[0] & kMwmHintsFunctions) facts.MotifFunctions = v[1];
    }
    if (data) XFree(data);
  }
  const Atom allowed = XInternAtom(d, "_NET_WM_ALLOWED_ACTIONS", False);
  facts.Movable = HasAtom(d, self, allowed, XInternAtom(d, "_NET_WM_ACTION_MOVE", False));
  facts.Minimizable = HasAtom(d, self, allowed, XInternAtom(d, "_NET_WM_ACTION_MINIMIZE", False));
  facts.Maximizable = HasAtom(d, self, allowed, XInternAtom(d, "_NET_WM_ACTION_MAXIMIZE_HORZ", False)) ||
                      HasAtom(d, self, allowed, XInternAtom(d, "_NET_WM_ACTION_MAXIMIZE_VERT", False));
  Window focus = None;
  int revert = 0;
  XGetInputFocus(d, &focus, &revert);
  facts.KeyboardFocus = focus == self;
  return true;
}

#else

void X11SurviveLostDisplay() {}
void X11KeepAfterLoss(void*) {}
bool X11DisplayLost() { return false; }
void X11NoteWindow(std::uintptr_t, bool) {}
void X11SetFrameFunctions(SDL_Window*, bool, bool) {}
std::uintptr_t X11StateChanged(const void*) { return 0; }
bool X11FullScreenByManager(SDL_Window*) { return false; }
void X11SetSizeHints(SDL_Window*, int, int, bool) {}
bool X11FocusIsNowhere(SDL_Window*) { return false; }
std::uintptr_t X11FocusLeft(const void*) { return 0; }
void X11SurviveWindowsThatAreGone() {}
void X11PrepareDisplay() {}
void X11MakeDialogFrame(SDL_Window*) {}
void X11NoteUnmapped(SDL_Window*) {}
bool X11KeyEvent(const void*, unsigned&, bool&, unsigned long&) { return false; }
bool X11IsFocusIn(const void*) { return false; }
bool X11KeysDown(SDL_Window*, unsigned char*) { return false; }
bool X11PointerAt(SDL_Window*, int&, int&) { return false; }
bool X11DisplayAnswers(const char*) { return false; }
std::uintptr_t X11WindowId(SDL_Window*) { return 0; }
void* X11ConnectionOf(SDL_Window*) { return nullptr; }
int X11ConnectionFile(void*) { return -1; }
bool X11EventsWaiting(void*) { return false; }
std::uintptr_t X11DestroyedWindow(const void*) { return 0; }
bool X11HasWindowManager(SDL_Window*) { return true; }
bool X11ReadWindowFacts(SDL_Window*, TX11WindowFacts&) { return false; }

#endif

}  // namespace plat::user
