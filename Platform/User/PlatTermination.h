#pragma once
// Terminating signals (SIGTERM, SIGINT, SIGHUP) as an orderly close: the
// handler only writes to a pipe; a watcher thread wakes the UI thread, whose
// message pump then asks every top-level window to close, as when its user
// closes it, or ends the message loop when no window is shown. A window
// disabled by a modal dialog or message box is asked once that has ended:
// the innermost box goes first, with its default answer.
#include "Platform/User/PlatUserTypes.h"

namespace plat {

// How long the orderly close that the first signal asked for has before a
// later signal may end the process at once, as without a handler: signals
// that come sooner (a burst) are absorbed.
constexpr int kTerminationGraceMs = 5000;

// Once per process (the program's start-up); later calls only answer. False
// when the pipe or the handlers could not be made.
bool InstallTerminationSignals();
// True once a terminating signal came (or RequestTermination was called).
bool TerminationRequested();
// As a terminating signal, from any thread.
void RequestTermination();
// From any thread: a terminating signal came, or the run's own end has come
// (headless: ZM_QUIT_AFTER_MS), so that the UI thread's pump will end the
// run. For work on the UI thread that holds the pump up meanwhile (a show
// opening), to give way.
bool QuitAsked();

}  // namespace plat

namespace plat::user {

// The UI thread's pump: while termination is requested, each visible,
// enabled top-level of the calling thread is asked to close, once; when the
// UI thread has no visible top-level at all, its message loop is ended
// (WM_QUIT, exit code 0), once.
void ServeTerminationRequest();

}  // namespace plat::user

namespace plat::headless {

// Tests: forgets a request (and the first signal's time), and puts the
// handlers back when they were installed.
void ResetTerminationForTests();
// Tests: another grace until the next reset.
void SetTerminationGraceForTests(int ms);

}  // namespace plat::headless
