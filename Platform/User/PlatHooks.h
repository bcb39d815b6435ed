#pragma once
// The low-level keyboard hook chain.
#include "Platform/User/PlatWindowManager.h"

namespace plat::user {

// Runs the keyboard hooks for one key; true when a hook swallowed it.
bool RunKeyboardHooks(WPARAM msg, KBDLLHOOKSTRUCT& k);

}  // namespace plat::user
