#include "Platform/PlatFiles.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "Platform/PlatSystem.h"
#include "Platform/PlatUtf8.h"

namespace plat {

// ---- Error codes ------------------------------------------------------------------

int WindowsErrorCode(int e) {
  switch (e) {
    case 0: return kErrorSuccess;
    case ENOENT: return kErrorFileNotFound;
    case ENOTDIR: return kErrorPathNotFound;
    case EMFILE: case ENFILE: return kErrorTooManyOpenFiles;
    case EACCES: case EPERM: case EISDIR: case EROFS: case ETXTBSY: return kErrorAccessDenied;
    case EBADF: return kErrorInvalidHandle;
    case ENOMEM: return kErrorNotEnoughMemory;
    case EBUSY: return kErrorSharingViolation;
    case EEXIST: return kErrorAlreadyExists;
    case EINVAL: return kErrorInvalidParameter;
    case ENOSPC: case EDQUOT: return kErrorDiskFull;
    case ENOTEMPTY: return kErrorDirNotEmpty;
    case ENAMETOOLONG: return kErrorFilenameExcedRange;
    case EXDEV: return kErrorNotSameDevice;
    case ENODATA: return kErrorNoMoreFiles;
    default: return kErrorGenFailure;
  }
}

namespace {

bool Fail(int e) {
  SetLastOSError(e);
  return false;
}

bool FailErrno() { return Fail(errno); }

}  // namespace

// ---- Paths ------------------------------------------------------------------------

std::string NativePath(std::u16string_view p) {
  auto starts = [&](std::u16string_view prefix) {
    return p.size() >= prefix.size() && p.substr(0, prefix.size()) == prefix;
  };
  auto unc = [&] {
    if (p.size() < 8 || !starts(u"\\\\?\\")) return false;
    for (int i = 0; i < 3; ++i) {
      char16_t c = p[4 + static_cast<std::size_t>(i)];
      if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
      if (c != u"UNC"[i]) return false;
    }
    return p[7] == u'\\';
  };
  std::u16string s;
  if (unc()) {
    s = u"\\\\";
    s.append(p.substr(8));
  } else if (starts(u"\\\\?\\")) {
    s = p.substr(4);
  } else {
    s = p;
  }
  std::replace(s.begin(), s.end(), u'\\', u'/');
  return ToUtf8(s);
}

std::u16string FromNativePath(std::string_view native) {
  std::u16string s = FromUtf8(native);
  std::replace(s.begin(), s.end(), u'/', u'\\');
  return s;
}

namespace {

bool AsciiEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

std::atomic<TNameEquals> gNameEquals{&AsciiEquals};

bool Exists(const std::string& p) {
  struct stat st;
  return ::lstat(p.c_str(), &st) == 0;
}

}  // namespace

TNameEquals SetNameEquals(TNameEquals equals) { return gNameEquals.exchange(equals ? equals : &AsciiEquals); }

std::string ResolvePath(std::string_view native) {
  std::string out;
  std::size_t pos = 0;
  if (!native.empty() && native[0] == '/') {
    out.push_back('/');
    pos = 1;
  }
  TNameEquals equals = gNameEquals.load();
  bool searching = true;
  while (pos <= native.size()) {
    std::size_t end = native.find('/', pos);
    if (end == std::string_view::npos) end = native.size();
    std::string_view comp = native.substr(pos, end - pos);
    bool last = end == native.size();
    pos = end + 1;
    if (comp.empty()) {
      if (last) break;
      continue;  // doubled separators
    }
    std::string dir = out.empty() ? std::string(".") : out;
    std::string candidate = out;
    if (!candidate.empty() && candidate.back() != '/') candidate += '/';
    std::string exact = candidate + std::string(comp);
    if (searching && comp != "." && comp != ".." && !Exists(exact)) {
      std::string best;
      bool found = false;
      if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d)) {
          std::string_view name(e->d_name);
          if (name == "." || name == "..") continue;
          if (equals(name, comp) && (!found || name < best)) {
            best = std::string(name);
            found = true;
          }
        }
        ::closedir(d);
      }
      if (found) {
        exact = candidate + best;
      } else {
        searching = false;  // the rest is kept as written
      }
    }
    out = std::move(exact);
    if (last) break;
  }
  if (out.empty()) out = std::string(native);
  // keep a trailing separator the caller wrote
  if (!native.empty() && native.back() == '/' && !out.empty() && out.back() != '/') out += '/';
  return out;
}

namespace {

bool Missing(int e) { return e == ENOENT || e == ENOTDIR; }

// Runs op on the path as written; when the name is missing, once more on the
// path resolved without letter case.
template <class Op>
auto TryResolved(const std::string& path, Op op) -> decltype(op(path)) {
  auto r = op(path);
  if (r) return r;
  int e = errno;
  if (Missing(e)) {
    std::string resolved = ResolvePath(path);
    if (resolved != path) {
      r = op(resolved);
      if (r) return r;
      e = errno;
    }
  }
  SetLastOSError(e);
  errno = e;
  return r;
}

// For calls that create a name: an existing entry that differs only in
// letter case is taken, as a case-insensitive file system would.
std::string ForCreate(const std::string& path) {
  if (Exists(path)) return path;
  return ResolvePath(path);
}

bool ValidPath(const std::string& p) {
  if (p.empty()) return Fail(ENOENT);
  if (p.find('\0') != std::string::npos) return Fail(EINVAL);
  return true;
}

}  // namespace

// ---- Open files ---------------------------------------------------------------------

namespace {

// Why a file opened for reading only is refused: 0 for a regular file.
int RefusalOf(mode_t mode) {
  if (S_ISREG(mode)) return 0;
  return S_ISDIR(mode) ? EISDIR : EPERM;
}

}  // namespace

TFileHandle OpenFile(std::u16string_view path, std::uint32_t access, std::uint32_t creation) {
  std::string p = NativePath(path);
  if (!ValidPath(p)) return kInvalidFileHandle;
  // O_NONBLOCK: a FIFO without writer, or a device, must not hang the open.
  int flags = O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
  bool r = access & kGenericRead, w = access & kGenericWrite;
  flags |= (r && w) ? O_RDWR : w ? O_WRONLY : O_RDONLY;
  // What is only read must be a regular file: a read of a device, a FIFO
  // or a socket may never end. Names that are none are not opened at all
  // (opening a device may act on it); the opened descriptor is checked
  // again below, so that a name swapped in between is refused all the same.
  const bool regularOnly = !w;
  bool creates = false;
  switch (creation) {
    case kCreateNew: flags |= O_CREAT | O_EXCL; creates = true; break;
    case kCreateAlways: flags |= O_CREAT | O_TRUNC; creates = true; break;
    case kOpenExisting: break;
    case kOpenAlways: flags |= O_CREAT; creates = true; break;
    case kTruncateExisting: flags |= O_TRUNC; break;
    default: Fail(EINVAL); return kInvalidFileHandle;
  }
  auto open = [&](const std::string& name) -> int {
    struct stat st;
    if (regularOnly && ::stat(name.c_str(), &st) == 0 && RefusalOf(st.st_mode) != 0) {
      errno = RefusalOf(st.st_mode);
      return -1;
    }
    int fd;
    do {
      fd = ::open(name.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd;
  };
  int fd;
  if (creates) {
    fd = open(ForCreate(p));
    if (fd < 0) FailErrno();
  } else {
    fd = open(p);
    if (fd < 0 && Missing(errno)) {
      std::string resolved = ResolvePath(p);
      if (resolved != p) fd = open(resolved);
    }
    if (fd < 0) FailErrno();
  }
  if (fd < 0) return kInvalidFileHandle;
  struct stat st;
  int statResult = ::fstat(fd, &st);
  const int refusal = statResult != 0 ? errno : regularOnly ? RefusalOf(st.st_mode) : S_ISDIR(st.st_mode) ? EISDIR : 0;
  if (refusal != 0) {
    ::close(fd);
    Fail(refusal);
    return kInvalidFileHandle;
  }
  // Non-blocking only for the open itself.
  int fl = ::fcntl(fd, F_GETFL);
  if (fl >= 0) ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
  return fd;
}

std::string NonRegularFileKind(std::u16string_view path) {
  std::string p = NativePath(path);
  if (p.empty() || p.find('\0') != std::string::npos) return {};
  struct stat st;
  const int lastError = LastOSError();  // a message leaves the caller's error as it was
  const bool found = TryResolved(p, [&](const std::string& name) { return ::stat(name.c_str(), &st) == 0; });
  SetLastOSError(lastError);
  if (!found) return {};
  if (S_ISREG(st.st_mode)) return {};
  if (S_ISDIR(st.st_mode)) return "folder";
  if (S_ISFIFO(st.st_mode)) return "named pipe";
  if (S_ISSOCK(st.st_mode)) return "socket";
  if (S_ISCHR(st.st_mode)) return "character device";
  if (S_ISBLK(st.st_mode)) return "block device";
  return "special file";
}

bool CloseFile(TFileHandle h) {
  if (h < 0 || h > INT32_MAX) return Fail(EBADF);
  if (::close(static_cast<int>(h)) != 0 && errno != EINTR) return FailErrno();
  return true;
}

std::int64_t FileSize(TFileHandle h) {
  if (h < 0 || h > INT32_MAX) return Fail(EBADF), -1;
  struct stat st;
  if (::fstat(static_cast<int>(h), &st) != 0) return FailErrno(), -1;
  return static_cast<std::int64_t>(st.st_size);
}

std::int64_t SeekFile(TFileHandle h, std::int64_t distance, int origin) {
  if (h < 0 || h > INT32_MAX) return Fail(EBADF), -1;
  int whence = origin == kSeekBegin ? SEEK_SET : origin == kSeekCurrent ? SEEK_CUR : origin == kSeekEnd ? SEEK_END : -1;
  if (whence < 0) return Fail(EINVAL), -1;
  off_t r = ::lseek(static_cast<int>(h), static_cast<off_t>(distance), whence);
  if (r < 0) return FailErrno(), -1;
  return static_cast<std::int64_t>(r);
}

bool SetEndOfFile(TFileHandle h) {
  if (h < 0 || h > INT32_MAX) return Fail(EBADF);
  int fd = static_cast<int>(h);
  off_t pos = ::lseek(fd, 0, SEEK_CUR);
  if (pos < 0) return FailErrno();
  int r;
  do {
    r = ::ftruncate(fd, pos);
  } while (r != 0 && errno == EINTR);
  if (r != 0) return FailErrno();
  return true;
}

bool ReadFile(TFileHandle h, void* buffer, std::uint32_t count, std::uint32_t& done) {
  done = 0;
  if (h < 0 || h > INT32_MAX) return Fail(EBADF);
  if (count > 0 && !buffer) return Fail(EFAULT);
  auto* p = static_cast<unsigned char*>(buffer);
  while (done < count) {
    ssize_t n = ::read(static_cast<int>(h), p + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return FailErrno();
    }
    if (n == 0) break;  // end of file
    done += static_cast<std::uint32_t>(n);
  }
  return true;
}

bool WriteFile(TFileHandle h, const void* buffer, std::uint32_t count, std::uint32_t& done) {
  done = 0;
  if (h < 0 || h > INT32_MAX) return Fail(EBADF);
  if (count > 0 && !buffer) return Fail(EFAULT);
  auto* p = static_cast<const unsigned char*>(buffer);
  while (done < count) {
    ssize_t n = ::write(static_cast<int>(h), p + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return FailErrno();
    }
    if (n == 0) return Fail(ENOSPC);
    done += static_cast<std::uint32_t>(n);
  }
  return true;
}

// ---- Names --------------------------------------------------------------------------

namespace {

std::string_view BaseName(std::string_view p) {
  while (p.size() > 1 && p.back() == '/') p.remove_suffix(1);
  std::size_t slash = p.rfind('/');
  return slash == std::string_view::npos ? p : p.substr(slash + 1);
}

// st from lstat; a link takes the directory bit of its target.
std::uint32_t AttributesOf(const struct stat& st, std::string_view name, const std::string& full) {
  std::uint32_t a = 0;
  if (S_ISLNK(st.st_mode)) {
    a |= kAttrReparsePoint;
    struct stat target;
    if (::stat(full.c_str(), &target) == 0 && S_ISDIR(target.st_mode)) a |= kAttrDirectory;
  }
  if (S_ISDIR(st.st_mode)) a |= kAttrDirectory;
  if (!(st.st_mode & S_IWUSR)) a |= kAttrReadOnly;
  if (name.size() > 1 && name[0] == '.' && name != "..") a |= kAttrHidden;
  if (a == 0) a = kAttrNormal;
  return a;
}

std::int64_t FileTimeOf(const struct timespec& t) {
  // 1601-01-01 to 1970-01-01 in 100-ns steps
  constexpr std::int64_t kEpoch = 116444736000000000LL;
  return kEpoch + static_cast<std::int64_t>(t.tv_sec) * 10000000 + t.tv_nsec / 100;
}

}  // namespace

std::int32_t GetFileAttributes(std::u16string_view path) {
  std::string p = NativePath(path);
  if (!ValidPath(p)) return -1;
  struct stat st;
  std::string used;
  bool ok = TryResolved(p, [&](const std::string& name) {
    used = name;
    return ::lstat(name.c_str(), &st) == 0;
  });
  if (!ok) return -1;
  return static_cast<std::int32_t>(AttributesOf(st, BaseName(used), used));
}

bool SetFileAttributes(std::u16string_view path, std::uint32_t attributes) {
  std::string p = NativePath(path);
  if (!ValidPath(p)) return false;
  return TryResolved(p, [&](const std::string& name) {
    struct stat st;
    if (::stat(name.c_str(), &st) != 0) return false;
    mode_t mode = st.st_mode & 07777;
    if (attributes & kAttrReadOnly)
      mode &= static_cast<mode_t>(~0222);
    else
      mode |= S_IWUSR;
    return ::chmod(name.c_str(), mode) == 0;
  });
}

bool CreateDirectory(std::u16string_view path) {
  std::string p = NativePath(path);
  if (!ValidPath(p)) return false;
  if (::mkdir(ForCreate(p).c_str(), 0777) != 0) return FailErrno();
  return true;
}

bool RemoveDirectory(std::u16string_view path) {
  std::string p = NativePath(path);
  if (!ValidPath(p)) return false;
  return TryResolved(p, [](const std::string& name) { return ::rmdir(name.c_str()) == 0; });
}

bool DeleteFile(std::u16string_view path) {
  std::string p = NativePath(path);
  if (!ValidPath(p)) return false;
  return TryResolved(p, [](const std::string& name) { return ::unlink(name.c_str()) == 0; });
}

bool MoveFile(std::u16string_view from, std::u16string_view to, std::uint32_t flags) {
  std::string src = NativePath(from), dst = NativePath(to);
  if (!ValidPath(src) || !ValidPath(dst)) return false;
  std::string target = ForCreate(dst);
  return TryResolved(src, [&](const std::string& name) {
    if (flags & kMoveReplaceExisting) return ::rename(name.c_str(), target.c_str()) == 0;
    int r = ::renameat2(AT_FDCWD, name.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE);
    if (r != 0 && errno == EINVAL) {
      // file systems without the no-replace flag
      if (Exists(target)) {
        errno = EEXIST;
        return false;
      }
      r = ::rename(name.c_str(), target.c_str());
    }
    return r == 0;
  });
}

bool GetCurrentDirectory(std::u16string& path) {
  std::vector<char> buf(4096);
  while (!::getcwd(buf.data(), buf.size())) {
    if (errno != ERANGE || buf.size() > (1u << 20)) return FailErrno();
    buf.resize(buf.size() * 2);
  }
  path = FromNativePath(buf.data());
  return true;
}

bool SetCurrentDirectory(std::u16string_view path) {
  std::string p = NativePath(path);
  if (!ValidPath(p)) return false;
  return TryResolved(p, [](const std::string& name) { return ::chdir(name.c_str()) == 0; });
}

// ---- Folder listing -------------------------------------------------------------------

bool MatchesMask(std::string_view name, std::string_view mask) {
  if (mask == "*.*" || mask == "*") return true;
  auto lower = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c; };
  // Iterative wildcard match with one back-track point (linear in practice).
  std::size_t n = 0, m = 0, starM = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (m < mask.size() && mask[m] == '*') {
      starM = m++;
      starN = n;
    } else if (m < mask.size() && (mask[m] == '?' || lower(static_cast<unsigned char>(mask[m])) ==
                                                         lower(static_cast<unsigned char>(name[n])))) {
      ++m;
      ++n;
    } else if (starM != std::string_view::npos) {
      m = starM + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == '*') ++m;
  return m == mask.size();
}

namespace {

struct TFindState {
  DIR* Dir = nullptr;
  std::string Folder;
  std::string Mask;
};

std::mutex gFindMutex;
std::unordered_map<TFindHandle, std::unique_ptr<TFindState>>& FindTable() {
  static auto* table = new std::unordered_map<TFindHandle, std::unique_ptr<TFindState>>();
  return *table;
}
TFindHandle gNextFind = 1;

// Reads entries until one matches; false at the end of the folder.
bool NextMatch(TFindState& s, TFindEntry& entry) {
  while (true) {
    errno = 0;
    dirent* e = ::readdir(s.Dir);
    if (!e) return Fail(errno ? errno : ENODATA);
    std::string_view name(e->d_name);
    if (!MatchesMask(name, s.Mask)) continue;
    std::string full = s.Folder + "/" + std::string(name);
    struct stat st;
    if (::lstat(full.c_str(), &st) != 0) continue;  // vanished meanwhile
    entry.Name = FromUtf8(name);
    entry.Attributes = AttributesOf(st, name, full);
    entry.Size = S_ISDIR(st.st_mode) ? 0 : static_cast<std::int64_t>(st.st_size);
    entry.CreationTime = FileTimeOf(st.st_ctim);
    entry.LastAccessTime = FileTimeOf(st.st_atim);
    entry.LastWriteTime = FileTimeOf(st.st_mtim);
    return true;
  }
}

}  // namespace

bool GetFileAttributesEx(std::u16string_view path, TFindEntry& entry) {
  std::string p = NativePath(path);
  if (!ValidPath(p)) return false;
  struct stat st;
  std::string used;
  if (!TryResolved(p, [&](const std::string& name) {
        used = name;
        return ::lstat(name.c_str(), &st) == 0;
      }))
    return false;
  const std::string_view base = BaseName(used);
  entry.Name = FromUtf8(base);
  entry.Attributes = AttributesOf(st, base, used);
  struct stat target = st;
  if (S_ISLNK(st.st_mode) && ::stat(used.c_str(), &target) != 0) target = st;  // a broken link
  entry.Size = S_ISDIR(target.st_mode) ? 0 : static_cast<std::int64_t>(target.st_size);
  entry.CreationTime = FileTimeOf(st.st_ctim);
  entry.LastAccessTime = FileTimeOf(st.st_atim);
  entry.LastWriteTime = FileTimeOf(st.st_mtim);
  return true;
}

TFindHandle FindFirstFile(std::u16string_view pattern, TFindEntry& entry) {
  std::string p = NativePath(pattern);
  if (!ValidPath(p)) return kInvalidFindHandle;
  std::size_t slash = p.rfind('/');
  auto s = std::make_unique<TFindState>();
  if (slash == std::string::npos) {
    s->Folder = std::string(".");
    s->Mask = p;
  } else {
    s->Folder = slash == 0 ? std::string("/") : p.substr(0, slash);
    s->Mask = p.substr(slash + 1);
  }
  if (s->Mask.empty()) return Fail(ENOENT), kInvalidFindHandle;
  std::string used;
  DIR* d = TryResolved(s->Folder, [&](const std::string& name) {
    used = name;
    return ::opendir(name.c_str());
  });
  if (!d) return kInvalidFindHandle;
  s->Dir = d;
  s->Folder = used;
  if (!NextMatch(*s, entry)) {
    int e = LastOSError();
    ::closedir(d);
    // an empty result is "file not found", as the Windows call reports it
    return Fail(e == ENODATA ? ENOENT : e), kInvalidFindHandle;
  }
  std::lock_guard<std::mutex> lock(gFindMutex);
  TFindHandle h = gNextFind++;
  FindTable()[h] = std::move(s);
  return h;
}

bool FindNextFile(TFindHandle h, TFindEntry& entry) {
  std::lock_guard<std::mutex> lock(gFindMutex);
  auto it = FindTable().find(h);
  if (it == FindTable().end()) return Fail(EBADF);
  return NextMatch(*it->second, entry);
}

bool FindClose(TFindHandle h) {
  std::unique_ptr<TFindState> s;
  {
    std::lock_guard<std::mutex> lock(gFindMutex);
    auto it = FindTable().find(h);
    if (it == FindTable().end()) return Fail(EBADF);
    s = std::move(it->second);
    FindTable().erase(it);
  }
  ::closedir(s->Dir);
  return true;
}

}  // namespace plat
