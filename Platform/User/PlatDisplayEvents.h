#pragma once
// What the display reports (keys, text, pointer, moves, focus, close
// requests, exposure) turned into window messages, and the headless controls
// that report the same events synthetically.
#include "Platform/User/PlatWindowManager.h"

namespace plat::user {

TInputSink& InputSink();
// On the UI thread: lets the back end deliver its pending events.
void PumpBackend();

}  // namespace plat::user
