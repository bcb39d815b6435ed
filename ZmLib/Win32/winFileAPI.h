#pragma once
// The file API: every file-system call of the framework goes through the one
// replaceable object in FileAPIClass. Paths are wide strings in the Windows
// form ("\" separators, any letter case, optional "\\?\" prefix); the
// implementation turns them into the names of this system. The file errors
// and the file-handle functions that raise them stand on it.
#include <cstdint>
#include <vector>

#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/zmByteString.h"
#include "ZmLib/zmTypes.h"

namespace zm {

using THandle = std::intptr_t;
constexpr THandle INVALID_HANDLE_VALUE = -1;

constexpr std::uint32_t GENERIC_READ = 0x80000000u;
constexpr std::uint32_t GENERIC_WRITE = 0x40000000u;
constexpr std::uint32_t FILE_SHARE_READ = 1;
constexpr std::uint32_t FILE_SHARE_WRITE = 2;
constexpr std::uint32_t FILE_SHARE_DELETE = 4;
constexpr std::uint32_t CREATE_NEW = 1;
constexpr std::uint32_t CREATE_ALWAYS = 2;
constexpr std::uint32_t OPEN_EXISTING = 3;
constexpr std::uint32_t OPEN_ALWAYS = 4;
constexpr std::uint32_t TRUNCATE_EXISTING = 5;
constexpr std::uint32_t FILE_BEGIN = 0;
constexpr std::uint32_t FILE_CURRENT = 1;
constexpr std::uint32_t FILE_END = 2;
constexpr std::uint32_t FILE_ATTRIBUTE_READONLY = 0x01;
constexpr std::uint32_t FILE_ATTRIBUTE_HIDDEN = 0x02;
constexpr std::uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr std::uint32_t FILE_ATTRIBUTE_ARCHIVE = 0x20;
constexpr std::uint32_t FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr std::uint32_t FILE_ATTRIBUTE_REPARSE_POINT = 0x400;
constexpr std::int32_t INVALID_FILE_ATTRIBUTES = -1;
constexpr std::uint32_t MOVEFILE_REPLACE_EXISTING = 1;

// Windows error codes, for callers that compare them (see WindowsErrorCode).
constexpr std::int32_t ERROR_FILE_NOT_FOUND = 2;
constexpr std::int32_t ERROR_PATH_NOT_FOUND = 3;
constexpr std::int32_t ERROR_ACCESS_DENIED = 5;
constexpr std::int32_t ERROR_INVALID_HANDLE = 6;
constexpr std::int32_t ERROR_NO_MORE_FILES = 18;
constexpr std::int32_t ERROR_ALREADY_EXISTS = 183;
// The Windows code of an OS error code as the thread's last error holds it.
std::int32_t WindowsErrorCode(std::int32_t osError);

// ============================================================================
// File errors: each carries the OS error code besides its message
// ============================================================================

class EFileError : public Exception {
public:
  EFileError(std::string message, std::int32_t code) : Exception(std::move(message)), code_(code) {}
  std::int32_t Code() const noexcept { return code_; }
  std::int32_t WindowsCode() const { return WindowsErrorCode(code_); }

private:
  std::int32_t code_;
};
#define ZM_FILE_ERROR(Name)            \
  class Name : public EFileError {     \
  public:                              \
    using EFileError::EFileError;      \
  };
ZM_FILE_ERROR(EFileOpenError)
ZM_FILE_ERROR(EFileSeekError)
ZM_FILE_ERROR(EFileReadError)
ZM_FILE_ERROR(EFileWriteError)
ZM_FILE_ERROR(EFileAccessError)
#undef ZM_FILE_ERROR

// Raises E for the thread's last OS error, with the system's text.
template <class E>
[[noreturn]] void RaiseFileError();
extern template void RaiseFileError<EFileError>();
extern template void RaiseFileError<EFileSeekError>();
extern template void RaiseFileError<EFileReadError>();
extern template void RaiseFileError<EFileWriteError>();
extern template void RaiseFileError<EFileAccessError>();

// ============================================================================
// TFileAPI
// ============================================================================

struct TWin32FindData {
  std::uint32_t FileAttributes = 0;
  std::int64_t CreationTime = 0;  // 100-ns steps since 1601
  std::int64_t LastAccessTime = 0;
  std::int64_t LastWriteTime = 0;
  std::int64_t FileSize = 0;
  WideString FileName;
  WideString AlternateFileName;  // the short name: here the name itself
};

class TFileAPI : public TRefObject {
public:
  // The program's own path when module is nil (there are no other modules).
  virtual bool GetModuleFileName(const void* module, WideString& s);
  virtual bool GetCommandLine(WideString& s);
  // The arguments as the system handed them to the program, the program
  // first, each whole (a quote or blank inside one is part of it); false
  // when they are not known.
  virtual bool GetArguments(std::vector<WideString>& args);
  virtual bool GetCurrentDir(WideString& s);
  virtual bool SetCurrentDir(const WideString& name);
  virtual THandle FindFirst(const WideString& pattern, TWin32FindData& data);
  virtual bool FindNext(THandle h, TWin32FindData& data);
  virtual bool FindClose(THandle h);
  virtual std::int32_t GetFileAttributes(const WideString& name);  // -1 on failure
  // One file's entry by its name, without listing its folder; false when
  // it does not exist.
  virtual bool GetFileAttributesEx(const WideString& name, TWin32FindData& data);
  virtual bool SetFileAttributes(const WideString& name, std::uint32_t attributes);
  virtual bool CreateDir(const WideString& name, const void* security);
  virtual bool RemoveDir(const WideString& name);
  virtual THandle CreateFile(const WideString& name, std::uint32_t access, std::uint32_t share, const void* security,
                             std::uint32_t creation, std::uint32_t flags, THandle templateFile);
  virtual std::int64_t GetFileSize(THandle h);  // -1 on failure
  virtual std::int64_t Seek(THandle h, std::int64_t distance, std::uint32_t origin);  // -1 on failure
  virtual bool SetEndOfFile(THandle h);
  virtual bool ReadFile(THandle h, void* buffer, std::uint32_t count, std::uint32_t& done);
  virtual bool WriteFile(THandle h, const void* buffer, std::uint32_t count, std::uint32_t& done);
  virtual bool CloseFile(THandle h);
  virtual bool MoveFile(const WideString& oldName, const WideString& newName, std::uint32_t flags);
  virtual bool DeleteFile(const WideString& name);
  // Major and minor of the file version; -1 when the file has none (no file
  // of this system carries a version resource).
  virtual std::int32_t GetFileVersion(const WideString& name);
  // The short form of a path as bytes (here the UTF-8 path itself); false
  // for a path longer than 260 characters.
  virtual bool GetShortPathName(const WideString& name, TByteString& s);
};

// The file API in use; tests may put their own in its place.
extern TRef<TFileAPI> FileAPIClass;
// FileAPIClass, or the assertion "FileAPIClass not Assigned".
TFileAPI& FileAPI();

// Paths of 248 characters or more get the long-path prefix: "\\?\UNC" and
// the path without its first character for a network path ("\\server"),
// else "\\?\" and the path. Paths that already have it stay as they are.
WideString AddLongPathPrefix(const WideString& path);
// The reverse for paths read back from the system: "\\?\UNC\x" (longer than
// 8 characters) becomes "\\x", a plain "\\?\" is dropped.
WideString StripLongPathPrefix(const WideString& path);

// ============================================================================
// File-handle functions (they raise the file errors)
// ============================================================================

THandle FileOpen(const WideString& name, std::uint32_t access, std::uint32_t share, std::uint32_t creation);
std::int64_t FileSeek(THandle h, std::uint32_t origin, std::int64_t distance);
std::int64_t FileSize(THandle h);
// Remembers the position, cuts or extends the file to size, seeks back.
void SetFileSize(THandle h, std::int64_t size);
// Sets the size, then the position.
void FileTruncateTo(THandle h, std::int64_t size, std::int64_t position);
std::uint32_t FileRead(THandle h, void* buffer, std::uint32_t count);  // bytes read
std::uint32_t FileWrite(THandle h, const void* buffer, std::uint32_t count);
void FileClose(THandle h);

void InitWinFileAPI();
void FiniWinFileAPI();

}  // namespace zm
