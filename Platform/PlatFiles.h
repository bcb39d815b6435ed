#pragma once
// Files and folders of the stand-in layer. Callers give paths the Windows
// way (UTF-16, "\" separators, optional "\\?\" prefix, any letter case);
// NativePath turns them into Linux paths, and a name that does not exist
// with its exact letter case is looked up without case, one folder level at
// a time, so that shows made on Windows open from a Linux disk.
//
// Every failing call stores errno as the thread's last OS error
// (plat::LastOSError); WindowsErrorCode maps it to the Windows code where a
// caller compares codes.
#include <cstdint>
#include <string>
#include <string_view>

namespace plat {

// ---- Windows constants the file layer understands ------------------------------
constexpr std::uint32_t kGenericRead = 0x80000000u;
constexpr std::uint32_t kGenericWrite = 0x40000000u;

constexpr std::uint32_t kCreateNew = 1;
constexpr std::uint32_t kCreateAlways = 2;
constexpr std::uint32_t kOpenExisting = 3;
constexpr std::uint32_t kOpenAlways = 4;
constexpr std::uint32_t kTruncateExisting = 5;

constexpr std::uint32_t kAttrReadOnly = 0x01;
constexpr std::uint32_t kAttrHidden = 0x02;
constexpr std::uint32_t kAttrDirectory = 0x10;
constexpr std::uint32_t kAttrArchive = 0x20;
constexpr std::uint32_t kAttrNormal = 0x80;
// A symbolic link (with the directory bit of its target).
constexpr std::uint32_t kAttrReparsePoint = 0x400;

constexpr std::uint32_t kMoveReplaceExisting = 0x01;

constexpr int kSeekBegin = 0;
constexpr int kSeekCurrent = 1;
constexpr int kSeekEnd = 2;

using TFileHandle = std::intptr_t;
constexpr TFileHandle kInvalidFileHandle = -1;

// Windows error codes (winerror.h values).
constexpr int kErrorSuccess = 0;
constexpr int kErrorFileNotFound = 2;
constexpr int kErrorPathNotFound = 3;
constexpr int kErrorTooManyOpenFiles = 4;
constexpr int kErrorAccessDenied = 5;
constexpr int kErrorInvalidHandle = 6;
constexpr int kErrorNotEnoughMemory = 8;
constexpr int kErrorSharingViolation = 32;
constexpr int kErrorHandleDiskFull = 39;
constexpr int kErrorFileExists = 80;
constexpr int kErrorInvalidParameter = 87;
constexpr int kErrorDiskFull = 112;
constexpr int kErrorDirNotEmpty = 145;
constexpr int kErrorAlreadyExists = 183;
constexpr int kErrorFilenameExcedRange = 206;
constexpr int kErrorNotSameDevice = 17;
constexpr int kErrorNoMoreFiles = 18;
constexpr int kErrorDirectory = 267;
constexpr int kErrorGenFailure = 31;

// The Windows code of an errno value (kErrorGenFailure when there is none).
int WindowsErrorCode(int osError);

// ---- Paths -----------------------------------------------------------------------
// "\\?\C:\x" and "\\?\UNC\srv\share" lose their prefix, "\" becomes "/", and
// the text becomes proper UTF-8 (one 4-byte sequence per surrogate pair).
std::string NativePath(std::u16string_view path);
// A path read back from the system: "/" becomes "\".
std::u16string FromNativePath(std::string_view native);

// Compares two UTF-8 names without letter case. The default folds ASCII only;
// the text module installs the Unicode folding at start-up.
using TNameEquals = bool (*)(std::string_view a, std::string_view b);
TNameEquals SetNameEquals(TNameEquals equals);  // nullptr restores the default

// The path with each component that does not exist as written replaced by
// the existing entry of its folder whose name equals it without letter case
// (the first in byte order when several do). Components after the first one
// that cannot be found are kept as written.
std::string ResolvePath(std::string_view native);

// ---- Open files ------------------------------------------------------------------
// Directories are refused (EISDIR). A file opened for reading only must be a
// regular file: a device, a named pipe or a socket is refused (EPERM) without
// waiting, never read from. Descriptors are opened close-on-exec.
TFileHandle OpenFile(std::u16string_view path, std::uint32_t access, std::uint32_t creation);
// What a name that is no regular file is, for messages: "folder", "named
// pipe", "socket", "character device", "block device" or "special file";
// empty for a regular file and for a name that does not exist.
std::string NonRegularFileKind(std::u16string_view path);
bool CloseFile(TFileHandle h);
std::int64_t FileSize(TFileHandle h);                                   // -1 on failure
std::int64_t SeekFile(TFileHandle h, std::int64_t distance, int origin);  // -1 on failure
bool SetEndOfFile(TFileHandle h);  // cuts or extends the file to the current position
bool ReadFile(TFileHandle h, void* buffer, std::uint32_t count, std::uint32_t& done);
bool WriteFile(TFileHandle h, const void* buffer, std::uint32_t count, std::uint32_t& done);

// ---- Names -------------------------------------------------------------------------
// -1 on failure. A symbolic link reports kAttrReparsePoint.
std::int32_t GetFileAttributes(std::u16string_view path);
bool SetFileAttributes(std::u16string_view path, std::uint32_t attributes);
bool CreateDirectory(std::u16string_view path);
bool RemoveDirectory(std::u16string_view path);
bool DeleteFile(std::u16string_view path);
bool MoveFile(std::u16string_view from, std::u16string_view to, std::uint32_t flags);
bool GetCurrentDirectory(std::u16string& path);
bool SetCurrentDirectory(std::u16string_view path);

// ---- Folder listing ------------------------------------------------------------------
struct TFindEntry {
  std::u16string Name;
  std::uint32_t Attributes = 0;
  std::int64_t Size = 0;
  // 100-ns steps since 1 January 1601 (the Windows file time).
  std::int64_t CreationTime = 0;
  std::int64_t LastAccessTime = 0;
  std::int64_t LastWriteTime = 0;
};

using TFindHandle = std::intptr_t;
constexpr TFindHandle kInvalidFindHandle = -1;

// Pattern: a folder and a name mask with "*" and "?" ("*.*" matches every
// name), compared without letter case. Handles are never reused, so a stale
// one fails instead of reaching another listing.
TFindHandle FindFirstFile(std::u16string_view pattern, TFindEntry& entry);
bool FindNextFile(TFindHandle h, TFindEntry& entry);  // false at the end (ERROR_NO_MORE_FILES)
bool FindClose(TFindHandle h);
// The mask rule on its own ("*", "?", letters without ASCII case).
bool MatchesMask(std::string_view name, std::string_view mask);
// The entry of one path without listing its folder (GetFileAttributesExW):
// attributes and times as a listing gives them, Name its last component,
// Size that of the file a symbolic link leads to (0 for a folder). False
// when it does not exist.
bool GetFileAttributesEx(std::u16string_view path, TFindEntry& entry);

}  // namespace plat
