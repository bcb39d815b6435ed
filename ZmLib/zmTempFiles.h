#pragma once
// The temporary-file manager. Files that must lie on disk before they can
// be used (extracted show entries, libraries) go into folders of their own
// under one root that every player process shares:
// "<temp folder>\TAVREL_TEMP_ROOT\[GUID]\", each with a lock file
// "[GUID].lock" beside it. The owner keeps the lock file open and locked
// while it runs and removes its folders at exit; the first use of the root
// in a process removes the folders whose lock no process holds any more.
// A folder whose lock is held is never touched.
//
// All functions may be called from any thread.
#include "ZmLib/zmTypes.h"

namespace zm {

// The system's temporary folder: the first existing one of $TMPDIR, %TMP%,
// %TEMP%, "TEMP" in %WINDIR% and /tmp; else "TEMP" beside the program,
// made when missing; else "\tmp". Paths use "\".
WideString GetTempDir(bool withBackslash);

// The root with its final "\". The first use makes the root (the assertion
// "VendorTemp Create Error: " with the path when it cannot, or when the
// root's name is a symbolic link) and removes stale folders; a root that
// is gone is made again; the assertion "Temp Path not Found" when it
// cannot be.
WideString GetTempRoot();

// A new, empty folder of this process, locked until Cleanup. Raises
// EFileAccessError when no folder can be made in the root.
WideString CreateTempFolder(bool withBackslash);

// Removes every folder of this process with its lock file. A folder that
// cannot be removed gets an empty lock file again, so that a later process
// removes it. The next GetTempRoot starts afresh.
void Cleanup();

// Removes the folders of the root whose lock files no process holds, with
// their lock files (GetTempRoot does this once).
void RemoveStaleTempFolders(const WideString& root);

void InitTempFiles();
void FiniTempFiles();  // Cleanup

}  // namespace zm
