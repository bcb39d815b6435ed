#pragma once
// Advisory whole-file locks on open files (flock). A lock belongs to one
// open of a file: two opens of the same file conflict even within one
// process, and closing the handle drops the lock. Lock files mark what a
// running process still uses; since this system deletes open files, the
// lock, not the refusal to delete, tells a live owner from a dead one.
#include <cstdint>
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

// Opens a lock file without following a symbolic link: Create makes it
// (mode 0600, read and write) and fails when the name exists; otherwise an
// existing regular file is opened for reading. kInvalidFileHandle on failure.
TFileHandle OpenLockFile(std::u16string_view path, bool create);

// What a private folder was found to be.
enum class TPrivateFolder : std::uint8_t {
  Ok,            // a folder of this user that nobody else may write to
  Failed,        // it could not be made or looked at (the last OS error)
  NotAFolder,    // a file or a symbolic link stands there
  NotOwn,        // another user's
  OpenToOthers,  // its group or everyone may write to it
  ParentOpen     // others may write to its parent, which is not sticky: they could move it away
};
// Makes Path with mode 0700 when it is missing, then looks at what stands
// there without following a link.
TPrivateFolder MakePrivateDirectory(std::u16string_view path);
// Why a folder was refused, for the log ("" for Ok).
const char* PrivateFolderProblem(TPrivateFolder state);

// The user the ownership checks take as this process's. A test may pretend
// to be another one (a negative id brings the real one back), since making
// a folder of another user needs the administrator.
std::uint32_t ProcessUserId();
void SetProcessUserIdForTest(std::int64_t uid);

}  // namespace plat
