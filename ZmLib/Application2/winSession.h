#pragma once
// Whether the user's desktop is locked, from the session notifications that
// the application's window receives. Where the notification functions are
// missing the desktop is never locked.
namespace zm {

bool IsSessionLocked();
// Unregisters and frees the session manager (the next query makes it again).
void FreeSessionManager();

void InitWinSession();
void FiniWinSession();

}  // namespace zm
