#include "ZmLib/wpFileStream.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>
#include <set>
#include <vector>

#include "Platform/PlatFiles.h"
#include "Platform/PlatResources.h"
#include "Platform/PlatSystem.h"
#include "Platform/PlatText.h"
#include "Platform/PlatUtf8.h"
#include "ZmLib/wpUnicode.h"
#include "ZmLib/zmLog.h"

namespace zm {

WideString ProgramFile;
WideString ProgramDir;

// ============================================================================
// Paths
// ============================================================================

namespace {

bool IsSep(char16_t c) { return c == u'\\' || c == u'/'; }

// Index of the last separator, not counting one at the very end; npos when none.
std::size_t LastSep(const WideString& p) {
  std::size_t end = p.size();
  if (end > 0 && IsSep(p[end - 1])) --end;
  for (std::size_t i = end; i-- > 0;)
    if (IsSep(p[i])) return i;
  return WideString::npos;
}

// Index of the "." of the extension; npos when none.
std::size_t ExtDot(const WideString& p) {
  for (std::size_t i = p.size(); i-- > 0;) {
    if (IsSep(p[i])) return WideString::npos;
    if (p[i] == u'.') return i;
  }
  return WideString::npos;
}

bool IsLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

}  // namespace

WideString IncludeTrailingBackslash(const WideString& path) {
  if (!path.empty() && IsSep(path.back())) return path;
  return path + u'\\';
}

WideString ExcludeTrailingBackslash(const WideString& path) {
  if (!path.empty() && IsSep(path.back())) return path.substr(0, path.size() - 1);
  return path;
}

WideString ExtractFileDrive(const WideString& path) {
  if (path.size() >= 2 && path[1] == u':' && IsLetter(path[0])) return path.substr(0, 2);
  if (path.size() >= 5 && IsSep(path[0]) && IsSep(path[1])) {
    std::size_t server = 2;
    std::size_t slash = server;
    while (slash < path.size() && !IsSep(path[slash])) ++slash;
    if (slash == server || slash >= path.size()) return WideString();
    std::size_t share = slash + 1;
    std::size_t end = share;
    while (end < path.size() && !IsSep(path[end])) ++end;
    if (end == share) return WideString();
    return path.substr(0, end);
  }
  return WideString();
}

WideString ExtractFilePath(const WideString& path, bool withBackslash) {
  std::size_t i = LastSep(path);
  if (i == WideString::npos) return WideString();
  return path.substr(0, withBackslash ? i + 1 : i);
}

WideString ExtractFileName(const WideString& path) {
  std::size_t i = LastSep(path);
  WideString name = i == WideString::npos ? path : path.substr(i + 1);
  return ExcludeTrailingBackslash(name);
}

WideString ExtractFileExt(const WideString& path) {
  std::size_t dot = ExtDot(path);
  return dot == WideString::npos ? WideString() : path.substr(dot);
}

WideString ChangeFileExt(const WideString& name, const WideString& ext) {
  std::size_t dot = ExtDot(name);
  WideString base = dot == WideString::npos ? name : name.substr(0, dot);
  if (ext.empty()) return base;
  return ext[0] == u'.' ? base + ext : base + u'.' + ext;
}

WideString CombinePath(const WideString& folder, const WideString& name) {
  if (folder.empty()) return name;
  bool folderSep = IsSep(folder.back());
  bool nameSep = !name.empty() && IsSep(name[0]);
  if (folderSep && nameSep) return folder + name.substr(1);
  if (folderSep || nameSep) return folder + name;
  return folder + u'\\' + name;
}

WideString ExtractRelativePath(const WideString& base, const WideString& dest) {
  WideString baseUp = UpperCase(base), destUp = UpperCase(dest);
  if (ExtractFileDrive(baseUp) != ExtractFileDrive(destUp)) return dest;
  std::size_t driveLen = ExtractFileDrive(base).size();
  // the folder of a path: itself when it ends with a separator
  auto folder = [driveLen](const WideString& p) {
    WideString f = (!p.empty() && IsSep(p.back())) ? p : ExtractFilePath(p);
    return plat::SplitNonEmpty(f.size() > driveLen ? f.substr(driveLen) : WideString(), IsSep);
  };
  std::vector<WideString> b = folder(base), d = folder(dest), bu = folder(baseUp), du = folder(destUp);
  std::size_t common = 0;
  while (common < bu.size() && common < du.size() && bu[common] == du[common]) ++common;
  WideString r;
  for (std::size_t k = common; k < b.size(); ++k) r += u"..\\";
  for (std::size_t k = common; k < d.size(); ++k) r += d[k] + u'\\';
  return r + ExtractFileName(dest);
}

WideString GetCurrentDir(bool withBackslash) {
  WideString dir;
  if (!FileAPI().GetCurrentDir(dir)) return WideString();
  return withBackslash ? IncludeTrailingBackslash(dir) : ExcludeTrailingBackslash(dir);
}

bool SetCurrentDir(const WideString& path) { return FileAPI().SetCurrentDir(path); }

// ============================================================================
// Folders
// ============================================================================

bool FileExists(const WideString& name) {
  if (name.empty()) return false;
  std::int32_t a = FileAPI().GetFileAttributes(name);
  return a != INVALID_FILE_ATTRIBUTES && !(static_cast<std::uint32_t>(a) & FILE_ATTRIBUTE_DIRECTORY);
}

std::int64_t FileSizeOf(const WideString& name) {
  TWin32FindData data;
  if (name.empty() || !FileAPI().GetFileAttributesEx(name, data) || (data.FileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return -1;
  return data.FileSize;
}

bool DirectoryExists(const WideString& name) {
  if (name.empty()) return false;
  std::int32_t a = FileAPI().GetFileAttributes(name);
  return a != INVALID_FILE_ATTRIBUTES && (static_cast<std::uint32_t>(a) & FILE_ATTRIBUTE_DIRECTORY);
}

bool ForceDirectories(const WideString& path) {
  if (path.empty()) return false;
  if (DirectoryExists(path)) return true;
  // The missing folders, innermost first, up to the first one that exists.
  std::vector<WideString> missing;
  WideString dir = ExcludeTrailingBackslash(path);
  while (!dir.empty() && !DirectoryExists(dir)) {
    missing.push_back(dir);
    WideString parent = ExtractFilePath(dir, false);
    if (parent.size() >= dir.size()) break;
    dir = parent;
  }
  for (std::size_t i = missing.size(); i-- > 0;)
    if (!FileAPI().CreateDir(missing[i], nullptr)) return false;
  return true;
}

bool ForceDeleteFile(const WideString& name) {
  TFileAPI& api = FileAPI();
  if (api.DeleteFile(name)) return true;
  std::int32_t attributes = api.GetFileAttributes(name);
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  api.SetFileAttributes(name, FILE_ATTRIBUTE_NORMAL);
  if (api.DeleteFile(name)) return true;
  std::int32_t code = plat::LastOSError();
  api.SetFileAttributes(name, static_cast<std::uint32_t>(attributes));
  plat::SetLastOSError(code);
  RaiseFileError<EFileAccessError>();
}

bool DeleteDirectory(const WideString& path) {
  if (path.empty()) return true;
  TFileAPI& api = FileAPI();
  WideString folder = ExcludeTrailingBackslash(path);
  std::int32_t own = api.GetFileAttributes(folder);
  if (own != INVALID_FILE_ATTRIBUTES && (own & FILE_ATTRIBUTE_REPARSE_POINT)) return api.DeleteFile(folder);
  TWin32FindData data;
  THandle h = api.FindFirst(folder + u"\\*.*", data);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      if (data.FileName == u"." || data.FileName == u"..") continue;
      WideString item = folder + u'\\' + data.FileName;
      bool ok;
      if ((data.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(data.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        // a read-only folder keeps its entries on this system: make it writable first
        if (data.FileAttributes & FILE_ATTRIBUTE_READONLY) api.SetFileAttributes(item, FILE_ATTRIBUTE_DIRECTORY);
        ok = DeleteDirectory(item);
      } else {
        if (data.FileAttributes & FILE_ATTRIBUTE_READONLY) api.SetFileAttributes(item, FILE_ATTRIBUTE_NORMAL);
        ok = api.DeleteFile(item);
      }
      if (!ok) {
        api.FindClose(h);
        return false;
      }
    } while (api.FindNext(h, data));
    api.FindClose(h);
  }
  if (own != INVALID_FILE_ATTRIBUTES && (own & FILE_ATTRIBUTE_READONLY))
    api.SetFileAttributes(folder, FILE_ATTRIBUTE_DIRECTORY);
  return api.RemoveDir(folder);
}

// ============================================================================
// TFileStream
// ============================================================================

TFileStream::TFileStream(const WideString& name, std::uint32_t access, std::uint32_t creation, std::uint32_t share) {
  Open(name, access, creation, share);
}

void TFileStream::Dispose() {
  std::exception_ptr failure;
  try {
    Close();
  } catch (...) {
    failure = std::current_exception();
  }
  TStream::Dispose();
  if (failure) std::rethrow_exception(failure);
}

void TFileStream::Open(const WideString& name, std::uint32_t access, std::uint32_t creation, std::uint32_t share) {
  Close();
  handle_ = FileOpen(name, access, share, creation);
  fileName_ = name;
  access_ = access;
  share_ = share;
}

void TFileStream::Close() {
  THandle h = handle_;
  if (h == INVALID_HANDLE_VALUE) return;
  handle_ = INVALID_HANDLE_VALUE;
  FileClose(h);
}

std::int64_t TFileStream::GetPosition() { return FileSeek(handle_, FILE_CURRENT, 0); }

void TFileStream::SetPosition(std::int64_t p) { FileSeek(handle_, FILE_BEGIN, p); }

std::int64_t TFileStream::GetSize() { return FileSize(handle_); }

void TFileStream::SetSize(std::int64_t n) { SetFileSize(handle_, n); }

void TFileStream::Clear() {
  if (handle_ != INVALID_HANDLE_VALUE) FileTruncateTo(handle_, 0, 0);
}

std::int32_t TFileStream::Read(TReadBuffer buffer, std::int32_t count, std::int32_t offset) {
  if (offset < 0 || count <= 0 || static_cast<std::size_t>(offset) >= buffer.size()) return 0;
  std::uint32_t n = static_cast<std::uint32_t>(
      std::min<std::size_t>(static_cast<std::size_t>(count), buffer.size() - static_cast<std::size_t>(offset)));
  try {
    return static_cast<std::int32_t>(FileRead(handle_, buffer.data() + offset, n));
  } catch (const EFileError& e) {
    EStreamReadError r;
    r.SetMessage(e.Message());
    throw r;
  } catch (...) {
    throw EStreamReadError();
  }
}

std::int32_t TFileStream::Write(TWriteBuffer buffer, std::int32_t count, std::int32_t offset) {
  if (offset < 0 || count <= 0 || static_cast<std::size_t>(offset) >= buffer.size()) return 0;
  std::uint32_t n = static_cast<std::uint32_t>(
      std::min<std::size_t>(static_cast<std::size_t>(count), buffer.size() - static_cast<std::size_t>(offset)));
  try {
    return static_cast<std::int32_t>(FileWrite(handle_, buffer.data() + offset, n));
  } catch (const EFileError& e) {
    EStreamWriteError w;
    w.SetMessage(e.Message());
    throw w;
  } catch (...) {
    throw EStreamWriteError();
  }
}

std::int64_t TFileStream::CopyFrom(TStream* source, std::int64_t count) {
  if (handle_ == INVALID_HANDLE_VALUE || !source || count <= 0) return 0;
  constexpr std::int64_t kUnknown = 1048577;
  constexpr std::int64_t kHeapLimit = 8388608;
  constexpr std::int32_t kStackBuffer = 32768;
  std::int64_t size = source->GetSize();
  std::int64_t n = size == -1 ? kUnknown : std::min(count, size - source->GetPosition());
  if (size != -1) count = n;
  if (count <= 0) return 0;
  std::array<std::uint8_t, kStackBuffer> stackBuffer;
  std::vector<std::uint8_t> heapBuffer;
  std::span<std::uint8_t> buf(stackBuffer);
  if (n >= kUnknown) {
    heapBuffer.resize(static_cast<std::size_t>(std::min(n, kHeapLimit)));
    buf = heapBuffer;
  }
  std::int32_t bufSize = static_cast<std::int32_t>(buf.size());
  std::int64_t copied = 0;
  while (count > 0) {
    std::int32_t want = static_cast<std::int32_t>(std::min<std::int64_t>(bufSize, count));
    std::int32_t got = source->Read(buf, want, 0);
    if (got <= 0) break;
    std::int32_t put = Write(buf, got, 0);
    if (put < got) throw EStreamWriteError();
    copied += got;
    count -= got;
  }
  return copied;
}

// ============================================================================
// Opening files and resources; the hooks
// ============================================================================

TRef<TFileStream> OpenFileForRead(const WideString& name) {
  if (!FileExists(name)) return nullptr;
  return MakeRef<TFileStream>(name, GENERIC_READ, OPEN_EXISTING, FILE_SHARE_READ);
}

TRef<TFileStream> OpenMediaFile(const WideString& name, std::uint32_t share) {
  try {
    return MakeRef<TFileStream>(name, GENERIC_READ, OPEN_EXISTING, share);
  } catch (const EFileError&) {
    const std::string kind = plat::NonRegularFileKind(name);
    if (!kind.empty()) {
      static std::mutex lock;
      static std::set<std::string> logged;
      const std::string path = plat::NativePath(name);
      bool first;
      {
        std::lock_guard<std::mutex> guard(lock);
        first = logged.insert(path).second;
      }
      if (first) LogLine(u"Not a regular file (" + plat::FromUtf8(kind) + u"), not opened: " + plat::FromUtf8(path));
    }
    return nullptr;
  }
}

TRef<TFileStream> OpenFileForWrite(const WideString& name, bool truncate) {
  return MakeRef<TFileStream>(name, GENERIC_READ | GENERIC_WRITE, truncate ? CREATE_ALWAYS : OPEN_ALWAYS,
                              FILE_SHARE_READ);
}

bool SaveStreamToFile(TStream* source, const WideString& name) {
  TRef<TFileStream> f = MakeRef<TFileStream>(name, GENERIC_WRITE, CREATE_ALWAYS, FILE_SHARE_READ);
  f->LoadFromStream(source);
  f->Close();
  return true;
}

TRef<TResourceStream> OpenResourceStream(const WideString& name, std::string_view resourceType) {
  const plat::TEmbeddedResource* r = plat::FindProgramResource(resourceType, plat::ToUtf8(name));
  if (!r || !r->Data || r->Size < 1 || r->Size >= static_cast<std::size_t>(TMemoryStream::kMaxSize)) return nullptr;
  TRef<TResourceStream> s = MakeRef<TResourceStream>();
  s->SetSize(static_cast<std::int64_t>(r->Size));
  if (s->GetSize() != static_cast<std::int64_t>(r->Size)) return nullptr;
  std::memcpy(s->Memory(), r->Data, r->Size);
  s->SetPosition(0);
  return s;
}

TRef<TStream> ReadFileHook(const WideString& name) {
  if (name.size() >= 4 && UpperCase(name.substr(0, 4)) == u"RES:") {
    std::size_t dot = name.find(u'.');
    WideString res = name.substr(4, dot == WideString::npos ? WideString::npos : dot - 4);
    return OpenResourceStream(res, "RCDATA");
  }
  return OpenFileForRead(name);
}

TRef<TStream> WriteFileHook(const WideString& name, bool truncate) { return OpenFileForWrite(name, truncate); }

// ============================================================================
// Module
// ============================================================================

namespace {
TReadFileProc gSavedReadFile = nullptr;
TWriteFileProc gSavedWriteFile = nullptr;
}  // namespace

void InitFileStream() {
  if (FileAPI().GetModuleFileName(nullptr, ProgramFile)) ProgramDir = ExtractFilePath(ProgramFile, true);
  gSavedReadFile = ReadFile;
  gSavedWriteFile = WriteFile;
  ReadFile = &ReadFileHook;
  WriteFile = &WriteFileHook;
}

void FiniFileStream() {
  if (gSavedReadFile) ReadFile = gSavedReadFile;
  if (gSavedWriteFile) WriteFile = gSavedWriteFile;
  gSavedReadFile = nullptr;
  gSavedWriteFile = nullptr;
  ProgramFile.clear();
  ProgramDir.clear();
}

}  // namespace zm
