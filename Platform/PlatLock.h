#pragma once
// Advisory whole-file locks on open files (flock). A lock belongs to one
// open of a file: two opens of the same file conflict even within one
// process, and closing the handle drops the lock. Lock files mark what a
// running process still uses; since this system deletes open files, the
// lock, not the refusal to delete, tells a live owner from a dead one.
#include <string_view>

#include "Platform/PlatFiles.h"

namespace plat {

// Takes the lock (shared or exclusive). Without wait it fails at once when
// another open holds a conflicting lock; the last OS error then answers
// true to IsLockBusyError.
bool LockFile(TFileHandle h, bool exclusive, bool wait);
bool UnlockFile(TFileHandle h);
bool IsLockBusyError(int osError);

// Whether the open file h is still the file that path names: false when
// the name has gone or names another file since h was opened.
bool IsFileAt(TFileHandle h, std::u16string_view path);

// Makes a folder that every user may add to but where each user may remove
// only their own entries (the mode of /tmp). False when it cannot be made;
// an existing folder is left as it is.
bool CreateSharedDirectory(std::u16string_view path);

}  // namespace plat
