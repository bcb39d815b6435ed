#include "ZmLib/zmTempFiles.h"

#include <mutex>
#include <string>
#include <vector>

#include "Platform/PlatLock.h"
#include "Platform/PlatSystem.h"
#include "Platform/PlatUtf8.h"
#include "ZmLib/Win32/winSysUtils.h"
#include "ZmLib/wpFileStream.h"
#include "ZmLib/zmStringList.h"

namespace zm {

namespace {

constexpr char16_t kRootName[] = u"TAVREL_TEMP_ROOT";
constexpr char16_t kLockExt[] = u".lock";
constexpr std::size_t kLockExtLen = 5;
// A fresh GUID names a new folder; failures to make one are not chance, so
// a few tries are enough.
constexpr int kCreateTries = 16;

std::mutex gLock;
TRef<TStringList> gFolders;  // this process's folders, each with its locked lock-file stream
WideString gRoot;

std::string Utf8(const WideString& s) { return plat::ToUtf8(s); }

// Opens a lock file and takes its lock without waiting; nil when the file
// is missing, cannot be opened, or another open holds the lock.
TRef<TFileStream> TryLock(const WideString& name, std::uint32_t access, std::uint32_t creation) {
  TRef<TFileStream> s;
  try {
    s = MakeRef<TFileStream>(name, access, creation);
  } catch (const EFileError&) {
    return {};
  }
  if (!plat::LockFile(s->Handle(), true, false)) return {};
  return s;
}

// Deletes a file; false instead of the file error.
bool TryDeleteFile(const WideString& name) {
  try {
    return ForceDeleteFile(name);
  } catch (const EFileError&) {
    return false;
  }
}

// Leaves an empty lock file beside a folder that could not be removed, so
// that a later process tries again.
void PutBackLockFile(const WideString& name) {
  try {
    MakeRef<TFileStream>(name, GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS);
  } catch (const EFileError&) {
  }
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

// Under gLock.
const WideString& RootLocked() {
  if (!gFolders) {
    gFolders = MakeRef<TStringList>();
    gRoot = GetTempDir(true) + kRootName + u"\\";
    // Every user's processes share the root, each removing only its own.
    if (!DirectoryExists(gRoot) && !plat::CreateSharedDirectory(gRoot) && !ForceDirectories(gRoot))
      ZM_FAIL("VendorTemp Create Error: " + Utf8(gRoot));
    // Anyone may put a link under the root's name into a shared temporary
    // folder; following it would let the clean-up remove folders elsewhere.
    std::int32_t attributes = FileAPI().GetFileAttributes(ExcludeTrailingBackslash(gRoot));
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      gFolders.reset();  // every later call refuses it too
      ZM_FAIL("VendorTemp Create Error: " + Utf8(gRoot));
    }
    RemoveStaleTempFolders(gRoot);
  }
  if (!DirectoryExists(gRoot)) {
    // removed behind our back (a cleaner of the system's temporary folder)
    plat::CreateSharedDirectory(gRoot);
    if (!DirectoryExists(gRoot)) ZM_FAIL("Temp Path not Found");
  }
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
    TRef<TFileStream> lock = TryLock(lockName, GENERIC_READ | GENERIC_WRITE, CREATE_NEW);
    if (!lock || !plat::IsFileAt(lock->Handle(), lockName)) {
      lock.reset();
      DeleteDirectory(folder);
      continue;
    }
    gFolders->AddObject(folder, lock.Detach());
    return withBackslash ? folder + u"\\" : folder;
  }
  throw EFileAccessError("Cannot create a temporary folder in " + Utf8(root), plat::LastOSError());
}

void Cleanup() {
  std::lock_guard<std::mutex> guard(gLock);
  if (!gFolders) return;
  for (std::int32_t i = 0; i < gFolders->GetCount(); ++i) {
    WideString folder = gFolders->GetString(i);
    TRefObject* lock = gFolders->GetObject(i);
    WideString lockName = folder + kLockExt;
    // This system lets a locked file be deleted: the lock stays held until
    // the folder is gone, so no other process's cleaner meets it half-removed.
    TryDeleteFile(lockName);
    if (!DeleteDirectory(folder)) PutBackLockFile(lockName);
    try {
      if (lock) lock->Free();
    } catch (const Exception&) {
      // closing a file that was only locked loses nothing
    }
  }
  gFolders->Clear();
  gFolders.reset();
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
    TRef<TFileStream> lock = TryLock(lockName, GENERIC_READ, OPEN_EXISTING);
    if (!lock) continue;
    bool deleted = TryDeleteFile(lockName);
    WideString folder = lockName.substr(0, lockName.size() - kLockExtLen);
    if (deleted && DirectoryExists(folder) && !DeleteDirectory(folder)) PutBackLockFile(lockName);
  }
}

void InitTempFiles() {}

void FiniTempFiles() { Cleanup(); }

}  // namespace zm
