#pragma once
// The temporary-file manager. Files that must lie on disk before they can
// be used go into folders of their own under one private root per user:
// "$XDG_RUNTIME_DIR\TAVREL_TEMP_ROOT\" when that folder exists, else
// "<temp folder>\TAVREL_TEMP_ROOT-<user id>\"; each folder "[GUID]" has a
// lock file "[GUID].lock" beside it. The owner keeps the lock file open and
// locked while it runs and removes its folders and lock files at exit; the
// first use of the root in a process removes the folders whose lock no
// process holds any more. A folder whose lock is held is never touched.
// The root is made with mode 0700; one that is not the user's own, that
// others may write to, or that is a link is refused (logged).
//
// All functions may be called from any thread.
#include "ZmLib/zmTypes.h"

namespace zm {

// The system's temporary folder: the first existing one of $TMPDIR, %TMP%,
// %TEMP%, "TEMP" in %WINDIR% and /tmp; else "TEMP" beside the program,
// made when missing; else "\tmp". Paths use "\".
WideString GetTempDir(bool withBackslash);

// The root with its final "\". The first use makes the root and removes
// stale folders; a root that is refused gives a log line and the assertion
// "VendorTemp Create Error: " with the path; a root that is gone is made
// again; the assertion "Temp Path not Found" when it cannot be.
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
