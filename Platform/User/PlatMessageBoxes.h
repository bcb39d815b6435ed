#pragma once
// Message boxes (scripted, logged, shown by the display or written to the
// error output) and session notifications.
#include "Platform/User/PlatWindowManager.h"

namespace plat::user {

// The answer of a message box that nobody clicks: its default button.
int DefaultMessageBoxAnswer(UINT type);

}  // namespace plat::user
