#pragma once
// The window table and handles: classes, creation and destruction, the
// window tree, window longs, text and registered messages.
#include "Platform/User/PlatWindowManager.h"

namespace plat::user {

// Destroys the calling thread's windows (with their messages), drops every
// other thread's windows without messages, and forgets all classes.
void DestroyWindowsForTests();

}  // namespace plat::user
