#pragma once
// What the display reports (keys, text, pointer, moves, focus, close
// requests, exposure) turned into window messages, and the headless controls
// that report the same events synthetically.
#include "Platform/User/PlatWindowManager.h"

namespace plat::user {

TInputSink& InputSink();
// The display took a top-level out of sight, or gave it back (UI thread).
void DisplaySees(HWND h, bool seen);
// On the UI thread: lets the back end deliver its pending events.
void PumpBackend();

}  // namespace plat::user
