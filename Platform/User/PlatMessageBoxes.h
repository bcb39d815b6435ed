#pragma once
// Message boxes (scripted, logged, drawn by the window manager or written to
// the error output) and session notifications.
#include <functional>
#include <string>
#include <vector>

#include "Platform/User/PlatWindowManager.h"

namespace plat::user {

// The answer of a message box that nobody clicks: its default button.
int DefaultMessageBoxAnswer(UINT type);

// The lines a box shows: its line ends (CR, LF or both) kept, each line
// broken at blanks to at most maxWidth as width measures it; a word wider
// than that is broken after its last "/" or "\" that fits, else where it
// must be.
std::vector<std::u16string> WrapMessageText(const std::u16string& text, int maxWidth,
                                            const std::function<int(const std::u16string&)>& width);

}  // namespace plat::user
