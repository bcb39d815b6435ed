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
// in place before. Called before the video subsystem starts.
void X11SurviveWindowsThatAreGone();

// The X server going away (killed, or its connection broken) ends the
// program in order, with status 1, rather than in the middle of whatever
// reads the connection: the handler says what Xlib would say, as an output
// that failed (plat::ReportOutputFailure), and lets the call return;
// X11DisplayLost tells it from then on. A close that has not ended the
// process kLostDisplayGraceMs later (a thread of SDL's waiting in vain for
// an event from the server) ends it at once, with status 1. Called before
// the video subsystem starts.
constexpr int kLostDisplayGraceMs = 10000;
void X11SurviveLostDisplay();
// The connection lets its calls return once it is lost, rather than end the
// process there (each connection is told so; a connection that is not
// must never be used after the loss).
void X11KeepAfterLoss(void* connection);
bool X11DisplayLost();
// The windows SDL may wait on (to be mapped, unmapped) when the connection
// is lost: such a wait would never end, and is answered at once.
void X11NoteWindow(std::uintptr_t xid, bool alive);

// True when a window manager runs on the window's screen (or the display is
// not X11: focus is then the system's business).
bool X11HasWindowManager(SDL_Window* window);

// Once the video subsystem runs: the atom of the Motif hints is made on the
// server. Where it is missing (no window manager has made it yet) SDL marks
// each window it makes transient for the root window instead, which a
// dialog's real owner would then have to replace.
void X11PrepareDisplay();

// A dialog box as the window manager offers it: moved and closed only (no
// minimise, maximise or resize), with border, title and menu.
void X11MakeDialogFrame(SDL_Window* window);

// A top-level of ours as the window manager offers it: a window of a fixed
// size is moved, minimised and closed, never resized or maximised (with a
// border, title, menu and minimise button when bordered); otherwise as SDL
// leaves it (decorations or none). SDL writes the hints anew when it
// changes the border.
void X11SetFrameFunctions(SDL_Window* window, bool bordered, bool fixed);

// The X window whose window-manager state (_NET_WM_STATE) a system event
// says has changed (0: it says nothing of that).
std::uintptr_t X11StateChanged(const void* sdlSysWmMsg);
// Whether the window manager shows the window over its whole screen.
bool X11FullScreenByManager(SDL_Window* window);
// The sizes the window manager may give the window: exactly width x height
// when fixed, else any from 1 x 1 (SDL's own hints keep a window that may
// not be resized at its size, also when its manager makes it full screen).
void X11SetSizeHints(SDL_Window* window, int width, int height, bool fixed);

// Whether an X server answers at the display name (the X11 back end's
// reason for a failure says nothing of that).
bool X11DisplayAnswers(const char* name);

// The X id of an SDL window (0: none, or not X11).
std::uintptr_t X11WindowId(SDL_Window* window);
// The X window that a DestroyNotify event of a system event names (0: it is
// no such event).
std::uintptr_t X11DestroyedWindow(const void* sdlSysWmMsg);

// The key event a system event holds (false: it holds none): the X key
// code, press or release, and the server's time.
bool X11KeyEvent(const void* sdlSysWmMsg, unsigned& keycode, bool& press, unsigned long& time);

// Whether the X input focus is on no window of a client (none, the root, or
// the window under the pointer, as a window manager leaves it when it
// ends); false where it cannot be asked.
bool X11FocusIsNowhere(SDL_Window* window);

// The X window a system event says the input focus left (0: it says
// nothing of that).
std::uintptr_t X11FocusLeft(const void* sdlSysWmMsg);

// Whether a system event is the X input focus coming to a window.
bool X11IsFocusIn(const void* sdlSysWmMsg);
// Which X key codes are down now (bit k % 8 of byte k / 8), asked of the
// server on the connection of the window; false when it cannot be asked.
bool X11KeysDown(SDL_Window* window, unsigned char keys[32]);

// Where the pointer is on the screen, asked of the server on the connection
// of the window; false when it cannot be asked. (SDL's global answer is the
// place of the last motion it saw over its own windows.)
bool X11PointerAt(SDL_Window* window, int& x, int& y);

// SDL's connection to the X server, found through one of its windows
// (nullptr: not X11), for a thread that waits on it beside files of its own.
void* X11ConnectionOf(SDL_Window* window);
// The connection's file, readable when the server has sent something.
int X11ConnectionFile(void* connection);
// Sends what waits to be written on the connection and reads what has come
// without waiting; true when events wait in Xlib's queue, which the file no
// longer shows.
bool X11EventsWaiting(void* connection);

// Tells SDL's connection that the window has been unmapped (a window that
// another program destroyed), so that SDL, which waits for the unmapping of
// a window it hides, does not wait for it in vain.
void X11NoteUnmapped(SDL_Window* window);

// Test checks: the window's X id, the window its WM_TRANSIENT_FOR names
// (0: none), whether its _NET_WM_WINDOW_TYPE is the dialog type, the
// functions its Motif hints allow (-1: no such hints), whether the window
// manager offers to move, minimise or maximise it (_NET_WM_ALLOWED_ACTIONS;
// all false without a manager) and whether it has the X input focus.
struct TX11WindowFacts {
  std::uintptr_t Id = 0;
  std::uintptr_t TransientFor = 0;
  bool DialogType = false;
  long MotifFunctions = -1;
  bool Movable = false, Minimizable = false, Maximizable = false;
  bool KeyboardFocus = false;
};
bool X11ReadWindowFacts(SDL_Window* window, TX11WindowFacts& facts);

}  // namespace plat::user
