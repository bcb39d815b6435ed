#pragma once
// Keeping the display awake while a show plays, running as the system's
// screen saver, and telling whether another instance of the program runs.
// The hooks do nothing (false) until the module starts.
#include "ZmLib/zmTypes.h"

namespace oru {

using TScreenSaverHook = bool (*)();
// Enters screen-saver mode; false when already in it.
extern TScreenSaverHook ScreenSaverRunningHook;
// Keeps the display on and the system screen saver off; false when already
// so, or in screen-saver mode.
extern TScreenSaverHook DisableScreenSaverHook;
// Undoes DisableScreenSaverHook; false when it was not in effect.
extern TScreenSaverHook EnableScreenSaverHook;
// True when another instance of this program file holds the instance lock.
extern TScreenSaverHook SecondInstanceHook;

extern bool ScreenSaverMode;
extern bool KeepAwake;

// "Instance_ID", the hashes of the full path, of its folder and of its file
// name, then the file name.
zm::WideString InstanceMutexName(const zm::WideString& programFile);
// Takes the instance lock of a program file in the user's private temporary
// root (the first SecondInstanceHook does so for the program itself when it
// is a screen saver); a lock held before is let go. Without the root (it was
// refused) there is no lock: every instance counts as the first.
void OpenInstanceLock(const zm::WideString& programFile);

void InitOruScreenSaver();
// Leaves screen-saver mode, or lets the screen saver run again.
void FiniOruScreenSaver();

}  // namespace oru
