#pragma once
// Keyboard state, activation, focus, capture, the pointer and hit testing.
#include "Platform/User/PlatWindowManager.h"

namespace plat::user {

// Sets a key down or up in a 256-entry state (the toggle bit flips on a press).
void SetKey(std::uint8_t* state, UINT vk, bool down);
// The thread's key state follows the messages it retrieves.
void NoteRetrieved(TQueue& q, const MSG& m);
// The pointer position, asked of the display on the UI thread.
POINT CursorNow();

// Activates a top-level (how: WA_ACTIVE or WA_CLICKACTIVE).
void ActivateTop(HWND h, WPARAM how);
// Deactivates h if it is the active window; the focus inside it goes too.
void DeactivateIf(HWND h);
// The top-level that takes an activation meant for top: a disabled one (the
// owner of a modal dialog) passes it to its enabled window in front.
HWND ActivationTarget(HWND top);
// Asks the display to raise a visible top-level of the UI thread and give it
// the keyboard (what the program's own activation does).
void ActivateNative(HWND top);

// The window under a screen point, asking WM_NCHITTEST (hit: its answer).
HWND HitWindow(POINT pt, LRESULT* hit);
// The front visible top-level whose rectangle holds a screen point; asks
// nothing of the windows.
HWND TopLevelAt(POINT pt);

}  // namespace plat::user
