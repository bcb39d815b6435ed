#include "ZmLib/zmTempFiles.h"

#include <mutex>
#include <string>
#include <vector>

#include "Platform/PlatLock.h"
#include "Platform/PlatSystem.h"
#include "Platform/PlatUtf8.h"
#include "ZmLib/Win32/winSysUtils.h"
#include "ZmLib/wpFileStream.h"
#include "ZmLib/zmLog.h"

namespace zm {

namespace {

constexpr char16_t kRootName[] = u"TAVREL_TEMP_ROOT";
constexpr char16_t kLockExt[] = u".lock";
constexpr std::size_t kLockExtLen = 5;
// A fresh GUID names a new folder; failures to make one are not chance, so
// a few tries are enough.
constexpr int kCreateTries = 16;

struct TFolder {
  WideString Path;
  plat::TFileHandle Lock;  // open and locked while the process runs
};

std::mutex gLock;
bool gStarted = false;         // the root was checked and cleaned
std::vector<TFolder> gFolders;  // this process's folders
WideString gRoot;

std::string Utf8(const WideString& s) { return plat::ToUtf8(s); }

// Opens a lock file (Create: makes it, failing when the name exists) and
// takes its lock without waiting; invalid when the file is missing, cannot
// be opened, or another open holds the lock.
plat::TFileHandle TryLock(const WideString& name, bool create) {
  plat::TFileHandle h = plat::OpenLockFile(name, create);
  if (h == plat::kInvalidFileHandle) return h;
  if (!plat::LockFile(h, true, false)) {
    plat::CloseFile(h);
    return plat::kInvalidFileHandle;
  }
  return h;
}

// Deletes a file; false instead of the file error.
bool TryDeleteFile(const WideString& name) {
  try {
    return ForceDeleteFile(name);
  } catch (const EFileError&) {
    return false;
  }
}

// Removes a folder; a folder that is gone already counts as removed.
bool RemoveFolder(const WideString& folder) {
  return DeleteDirectory(folder) || FileAPI().GetFileAttributes(folder) == INVALID_FILE_ATTRIBUTES;
}

// Leaves an empty lock file beside a folder that could not be removed, so
// that a later process tries again.
void PutBackLockFile(const WideString& name) {
  plat::TFileHandle h = plat::OpenLockFile(name, true);
  if (h != plat::kInvalidFileHandle) plat::CloseFile(h);
}

WideString FolderName() {
  TGUID g;
  NewGUID(g);
  WideString text = GUIDToString(g);  // "{...}"
  // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on u"[" + ...
  WideString name;
  name.reserve(text.size());
  name += u'[';
  name.append(text, 1, text.size() - 2);
  name += u']';
  return name;
}

// One root per user: in the user's runtime folder when there is one, else
// in the temporary folder with the user's number in its name.
WideString PrivateRootPath() {
  std::string runtime;
  if (plat::GetEnv("XDG_RUNTIME_DIR", runtime) && !runtime.empty() && runtime[0] == '/') {
    const WideString folder = plat::FromNativePath(runtime);
    if (DirectoryExists(folder)) return IncludeTrailingBackslash(folder) + kRootName + u"\\";
  }
  return GetTempDir(true) + kRootName + u"-" + IntToStr(plat::ProcessUserId()) + u"\\";
}

// Under gLock. A root that another user made, that others may write to or
// that is a link is never used: anyone could put files into it for this
// process to take as its own, or lead its clean-up elsewhere.
const WideString& RootLocked() {
  if (!gStarted) {
    gRoot = PrivateRootPath();
    const plat::TPrivateFolder state = plat::MakePrivateDirectory(gRoot);
    if (state != plat::TPrivateFolder::Ok) {
      LogLine(u"Temporary folder refused: " + gRoot + u" (" + plat::FromUtf8(plat::PrivateFolderProblem(state)) + u")");
      ZM_FAIL("VendorTemp Create Error: " + Utf8(gRoot));
    }
    gStarted = true;
    RemoveStaleTempFolders(gRoot);
  }
  // Removed behind our back (a cleaner of the system's temporary folder).
  if (!DirectoryExists(gRoot) && plat::MakePrivateDirectory(gRoot) != plat::TPrivateFolder::Ok)
    ZM_FAIL("Temp Path not Found");
  return gRoot;
}

}  // namespace

WideString GetTempDir(bool withBackslash) {
  auto finish = [withBackslash](const WideString& dir) {
    return withBackslash ? IncludeTrailingBackslash(dir) : ExcludeTrailingBackslash(dir);
  };
  auto fromEnv = [](const char* name) {
    std::string value;
    if (!plat::GetEnv(name, value) || value.empty()) return WideString();
    return plat::FromNativePath(value);
  };
  std::vector<WideString> candidates = {fromEnv("TMPDIR"), fromEnv("TMP"), fromEnv("TEMP")};
  WideString windows = fromEnv("WINDIR");
  if (!windows.empty()) candidates.push_back(CombinePath(windows, u"TEMP"));
  candidates.push_back(u"\\tmp");
  for (const WideString& dir : candidates)
    if (DirectoryExists(dir)) return finish(dir);
  WideString beside = ProgramDir + u"TEMP";
  if (!ProgramDir.empty() && ForceDirectories(beside)) return finish(beside);
  return finish(u"\\tmp");
}

WideString GetTempRoot() {
  std::lock_guard<std::mutex> guard(gLock);
  return RootLocked();
}

WideString CreateTempFolder(bool withBackslash) {
  std::lock_guard<std::mutex> guard(gLock);
  WideString root = RootLocked();
  for (int attempt = 0; attempt < kCreateTries; ++attempt) {
    WideString folder = root + FolderName();
    WideString lockName = folder + kLockExt;
    if (FileAPI().GetFileAttributes(folder) != INVALID_FILE_ATTRIBUTES || FileExists(lockName)) continue;
    if (!FileAPI().CreateDir(folder, nullptr)) continue;
    // The lock is taken right after the file is made; should a cleaner have
    // taken and deleted the file in between, the name no longer leads to
    // this file and the folder is given up.
    plat::TFileHandle lock = TryLock(lockName, true);
    if (lock != plat::kInvalidFileHandle && !plat::IsFileAt(lock, lockName)) {
      plat::CloseFile(lock);
      lock = plat::kInvalidFileHandle;
    }
    if (lock == plat::kInvalidFileHandle) {
      DeleteDirectory(folder);
      continue;
    }
    gFolders.push_back({folder, lock});
    return withBackslash ? folder + u"\\" : folder;
  }
  throw EFileAccessError("Cannot create a temporary folder in " + Utf8(root), plat::LastOSError());
}

void Cleanup() {
  std::lock_guard<std::mutex> guard(gLock);
  for (const TFolder& f : gFolders) {
    WideString lockName = f.Path + kLockExt;
    // This system lets a locked file be deleted: the lock stays held until
    // the folder is gone, so no other process's cleaner meets it half-removed.
    TryDeleteFile(lockName);
    if (!RemoveFolder(f.Path)) PutBackLockFile(lockName);
    plat::CloseFile(f.Lock);
  }
  gFolders.clear();
  gStarted = false;
  gRoot.clear();
}

void RemoveStaleTempFolders(const WideString& root) {
  WideString dir = IncludeTrailingBackslash(root);
  std::vector<WideString> names;
  TWin32FindData data;
  TFileAPI& api = FileAPI();
  THandle h = api.FindFirst(dir + u"*" + kLockExt, data);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      if (!(data.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) && data.FileName.size() > kLockExtLen)
        names.push_back(data.FileName);
    } while (api.FindNext(h, data));
    api.FindClose(h);
  }
  for (const WideString& name : names) {
    WideString lockName = dir + name;
    // A lock that another open holds belongs to a running process.
    plat::TFileHandle lock = TryLock(lockName, false);
    if (lock == plat::kInvalidFileHandle) continue;
    bool deleted = TryDeleteFile(lockName);
    WideString folder = lockName.substr(0, lockName.size() - kLockExtLen);
    if (deleted && DirectoryExists(folder) && !DeleteDirectory(folder)) PutBackLockFile(lockName);
    plat::CloseFile(lock);
  }
}

void InitTempFiles() {}

void FiniTempFiles() { Cleanup(); }

}  // namespace zm
