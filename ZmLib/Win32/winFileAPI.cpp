#include "ZmLib/Win32/winFileAPI.h"

#include "Platform/PlatFiles.h"
#include "Platform/PlatSystem.h"
#include "Platform/PlatUtf8.h"

namespace zm {

std::int32_t WindowsErrorCode(std::int32_t osError) { return plat::WindowsErrorCode(osError); }

template <class E>
void RaiseFileError() {
  std::int32_t code = plat::LastOSError();
  throw E(SysErrorMessage(code), code);
}
template void RaiseFileError<EFileError>();
template void RaiseFileError<EFileSeekError>();
template void RaiseFileError<EFileReadError>();
template void RaiseFileError<EFileWriteError>();
template void RaiseFileError<EFileAccessError>();

// ============================================================================
// Long paths
// ============================================================================

namespace {
constexpr std::size_t kLongPathFrom = 248;
const WideString kLongPrefix = u"\\\\?\\";
}  // namespace

WideString AddLongPathPrefix(const WideString& path) {
  if (path.size() < kLongPathFrom || path.compare(0, 4, kLongPrefix) == 0) return path;
  if (path.compare(0, 2, u"\\\\") == 0) return u"\\\\?\\UNC" + path.substr(1);
  return kLongPrefix + path;
}

WideString StripLongPathPrefix(const WideString& path) {
  if (path.compare(0, 4, kLongPrefix) != 0) return path;
  if (path.size() > 8) {
    WideString unc = path.substr(4, 3);
    for (char16_t& c : unc)
      if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
    if (unc == u"UNC" && path[7] == u'\\') return u"\\\\" + path.substr(8);
  }
  return path.substr(4);
}

// ============================================================================
// TFileAPI
// ============================================================================

namespace {
void FillFindData(const plat::TFindEntry& e, TWin32FindData& d) {
  d.FileAttributes = e.Attributes;
  d.CreationTime = e.CreationTime;
  d.LastAccessTime = e.LastAccessTime;
  d.LastWriteTime = e.LastWriteTime;
  d.FileSize = e.Size;
  d.FileName = e.Name;
  d.AlternateFileName = e.Name;
}
}  // namespace

bool TFileAPI::GetModuleFileName(const void* module, WideString& s) {
  if (module) {
    plat::SetLastOSError(22);  // EINVAL: no other modules
    return false;
  }
  std::string path = plat::ProgramPath();
  if (path.empty()) return false;
  s = StripLongPathPrefix(plat::FromNativePath(path));
  return true;
}

bool TFileAPI::GetCommandLine(WideString& s) {
  s = plat::FromUtf8(plat::CommandLine());
  return true;
}

bool TFileAPI::GetArguments(std::vector<WideString>& args) {
  args.clear();
  for (const std::string& a : plat::Arguments()) args.push_back(plat::FromUtf8(a));
  return !args.empty();
}

bool TFileAPI::GetCurrentDir(WideString& s) {
  WideString dir;
  if (!plat::GetCurrentDirectory(dir)) return false;
  s = StripLongPathPrefix(dir);
  return true;
}

bool TFileAPI::SetCurrentDir(const WideString& name) { return plat::SetCurrentDirectory(AddLongPathPrefix(name)); }

THandle TFileAPI::FindFirst(const WideString& pattern, TWin32FindData& data) {
  plat::TFindEntry e;
  plat::TFindHandle h = plat::FindFirstFile(AddLongPathPrefix(pattern), e);
  if (h == plat::kInvalidFindHandle) return INVALID_HANDLE_VALUE;
  FillFindData(e, data);
  return h;
}

bool TFileAPI::FindNext(THandle h, TWin32FindData& data) {
  plat::TFindEntry e;
  if (!plat::FindNextFile(h, e)) return false;
  FillFindData(e, data);
  return true;
}

bool TFileAPI::FindClose(THandle h) { return plat::FindClose(h); }

std::int32_t TFileAPI::GetFileAttributes(const WideString& name) {
  return plat::GetFileAttributes(AddLongPathPrefix(name));
}

bool TFileAPI::GetFileAttributesEx(const WideString& name, TWin32FindData& data) {
  plat::TFindEntry e;
  if (!plat::GetFileAttributesEx(AddLongPathPrefix(name), e)) return false;
  FillFindData(e, data);
  return true;
}

bool TFileAPI::SetFileAttributes(const WideString& name, std::uint32_t attributes) {
  return plat::SetFileAttributes(AddLongPathPrefix(name), attributes);
}

bool TFileAPI::CreateDir(const WideString& name, const void*) {
  return plat::CreateDirectory(AddLongPathPrefix(name));
}

bool TFileAPI::RemoveDir(const WideString& name) { return plat::RemoveDirectory(AddLongPathPrefix(name)); }

THandle TFileAPI::CreateFile(const WideString& name, std::uint32_t access, std::uint32_t, const void*,
                             std::uint32_t creation, std::uint32_t, THandle) {
  // Share modes are kept by the callers; this system does not lock files.
  return plat::OpenFile(AddLongPathPrefix(name), access, creation);
}

std::int64_t TFileAPI::GetFileSize(THandle h) {
  plat::SetLastOSError(0);
  return plat::FileSize(h);
}

std::int64_t TFileAPI::Seek(THandle h, std::int64_t distance, std::uint32_t origin) {
  plat::SetLastOSError(0);
  return plat::SeekFile(h, distance, static_cast<int>(origin));
}

bool TFileAPI::SetEndOfFile(THandle h) { return plat::SetEndOfFile(h); }

bool TFileAPI::ReadFile(THandle h, void* buffer, std::uint32_t count, std::uint32_t& done) {
  return plat::ReadFile(h, buffer, count, done);
}

bool TFileAPI::WriteFile(THandle h, const void* buffer, std::uint32_t count, std::uint32_t& done) {
  return plat::WriteFile(h, buffer, count, done);
}

bool TFileAPI::CloseFile(THandle h) { return plat::CloseFile(h); }

bool TFileAPI::MoveFile(const WideString& oldName, const WideString& newName, std::uint32_t flags) {
  return plat::MoveFile(AddLongPathPrefix(oldName), AddLongPathPrefix(newName), flags);
}

bool TFileAPI::DeleteFile(const WideString& name) { return plat::DeleteFile(AddLongPathPrefix(name)); }

std::int32_t TFileAPI::GetFileVersion(const WideString&) { return -1; }

bool TFileAPI::GetShortPathName(const WideString& name, TByteString& s) {
  if (name.size() > 260) return false;
  s = TByteString(plat::ToUtf8(name));
  return true;
}

TRef<TFileAPI> FileAPIClass;

TFileAPI& FileAPI() {
  TFileAPI* api = FileAPIClass.get();
  if (!api) ZM_FAIL("FileAPIClass not Assigned");
  return *api;
}

// ============================================================================
// File-handle functions
// ============================================================================

THandle FileOpen(const WideString& name, std::uint32_t access, std::uint32_t share, std::uint32_t creation) {
  THandle h = FileAPI().CreateFile(name, access, share, nullptr, creation, FILE_ATTRIBUTE_NORMAL, 0);
  if (h == INVALID_HANDLE_VALUE) throw EFileOpenError(plat::ToUtf8(name), plat::LastOSError());
  return h;
}

std::int64_t FileSeek(THandle h, std::uint32_t origin, std::int64_t distance) {
  std::int64_t r = FileAPI().Seek(h, distance, origin);
  if (r == -1) RaiseFileError<EFileSeekError>();
  return r;
}

std::int64_t FileSize(THandle h) {
  std::int64_t r = FileAPI().GetFileSize(h);
  if (r == -1) RaiseFileError<EFileError>();
  return r;
}

void SetFileSize(THandle h, std::int64_t size) {
  TFileAPI& api = FileAPI();
  std::int64_t pos = api.Seek(h, 0, FILE_CURRENT);
  if (pos == -1) RaiseFileError<EFileAccessError>();
  if (api.Seek(h, size, FILE_BEGIN) == -1 || !api.SetEndOfFile(h)) {
    std::int32_t code = plat::LastOSError();
    api.Seek(h, pos, FILE_BEGIN);
    plat::SetLastOSError(code);
    RaiseFileError<EFileAccessError>();
  }
  if (api.Seek(h, pos, FILE_BEGIN) == -1) RaiseFileError<EFileAccessError>();
}

void FileTruncateTo(THandle h, std::int64_t size, std::int64_t position) {
  TFileAPI& api = FileAPI();
  if (api.Seek(h, size, FILE_BEGIN) == -1 || !api.SetEndOfFile(h) || api.Seek(h, position, FILE_BEGIN) == -1)
    RaiseFileError<EFileAccessError>();
}

std::uint32_t FileRead(THandle h, void* buffer, std::uint32_t count) {
  std::uint32_t done = 0;
  if (!FileAPI().ReadFile(h, buffer, count, done)) RaiseFileError<EFileReadError>();
  return done;
}

std::uint32_t FileWrite(THandle h, const void* buffer, std::uint32_t count) {
  std::uint32_t done = 0;
  if (!FileAPI().WriteFile(h, buffer, count, done)) RaiseFileError<EFileWriteError>();
  return done;
}

void FileClose(THandle h) {
  if (!FileAPI().CloseFile(h)) RaiseFileError<EFileWriteError>();
}

// ============================================================================
// Module
// ============================================================================

namespace {
plat::TNameEquals gSavedNameEquals = nullptr;

// File names that differ only in letter case are the same name, folded
// through the Unicode tables.
bool SameFileName(std::string_view a, std::string_view b) { return CompareTextUTF8(a, b) == 0; }
}  // namespace

void InitWinFileAPI() {
  FileAPIClass = MakeRef<TFileAPI>();
  gSavedNameEquals = plat::SetNameEquals(&SameFileName);
}

void FiniWinFileAPI() {
  plat::SetNameEquals(gSavedNameEquals);
  gSavedNameEquals = nullptr;
  FileAPIClass = nullptr;
}

}  // namespace zm
