#include "Platform/PlatLock.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <string>

#include "Platform/PlatSystem.h"

namespace plat {

namespace {

bool Fail(int e) {
  SetLastOSError(e);
  return false;
}

bool ValidHandle(TFileHandle h) { return h >= 0 && h <= INT_MAX; }

std::atomic<std::int64_t> gPretendedUserId{-1};

}  // namespace

bool LockFile(TFileHandle h, bool exclusive, bool wait) {
  if (!ValidHandle(h)) return Fail(EBADF);
  int op = (exclusive ? LOCK_EX : LOCK_SH) | (wait ? 0 : LOCK_NB);
  int r;
  do {
    r = ::flock(static_cast<int>(h), op);
  } while (r != 0 && errno == EINTR);
  if (r != 0) return Fail(errno);
  return true;
}

bool UnlockFile(TFileHandle h) {
  if (!ValidHandle(h)) return Fail(EBADF);
  if (::flock(static_cast<int>(h), LOCK_UN) != 0) return Fail(errno);
  return true;
}

bool IsLockBusyError(int osError) { return osError == EWOULDBLOCK || osError == EAGAIN; }

bool IsFileAt(TFileHandle h, std::u16string_view path) {
  if (!ValidHandle(h)) return Fail(EBADF);
  struct stat open, named;
  if (::fstat(static_cast<int>(h), &open) != 0) return Fail(errno);
  std::string p = ResolvePath(NativePath(path));
  if (::stat(p.c_str(), &named) != 0) return Fail(errno);
  return open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

TFileHandle OpenLockFile(std::u16string_view path, bool create) {
  std::string p = NativePath(path);
  if (p.empty() || p.find('\0') != std::string::npos) {
    Fail(p.empty() ? ENOENT : EINVAL);
    return kInvalidFileHandle;
  }
  // Non-blocking only for the open: a FIFO put there must not hang it.
  const int flags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | (create ? O_RDWR | O_CREAT | O_EXCL : O_RDONLY);
  int fd;
  do {
    fd = ::open(p.c_str(), flags, 0600);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    Fail(errno);
    return kInvalidFileHandle;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    Fail(EINVAL);
    return kInvalidFileHandle;
  }
  const int fl = ::fcntl(fd, F_GETFL);
  if (fl >= 0) ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
  return fd;
}

TPrivateFolder MakePrivateDirectory(std::u16string_view path) {
  std::string p = NativePath(path);
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  if (p.empty() || p.find('\0') != std::string::npos) {
    Fail(p.empty() ? ENOENT : EINVAL);
    return TPrivateFolder::Failed;
  }
  if (::mkdir(p.c_str(), 0700) != 0 && errno != EEXIST) {
    Fail(errno);
    return TPrivateFolder::Failed;
  }
  // Looked at through an open of the folder itself, so that what is checked
  // is what stands there, not what a link leads to.
  int fd;
  do {
    fd = ::open(p.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    const int e = errno;
    Fail(e);
    return e == ENOTDIR || e == ELOOP ? TPrivateFolder::NotAFolder : TPrivateFolder::Failed;
  }
  struct stat st {};
  const int r = ::fstat(fd, &st);
  ::close(fd);
  if (r != 0) {
    Fail(errno);
    return TPrivateFolder::Failed;
  }
  if (st.st_uid != ProcessUserId()) return TPrivateFolder::NotOwn;
  if (st.st_mode & (S_IWGRP | S_IWOTH)) return TPrivateFolder::OpenToOthers;
  const std::size_t cut = p.rfind('/');
  const std::string parent = cut == std::string::npos ? "." : cut == 0 ? "/" : p.substr(0, cut);
  struct stat up {};
  if (::stat(parent.c_str(), &up) != 0) {
    Fail(errno);
    return TPrivateFolder::Failed;
  }
  if ((up.st_mode & (S_IWGRP | S_IWOTH)) && !(up.st_mode & S_ISVTX)) return TPrivateFolder::ParentOpen;
  return TPrivateFolder::Ok;
}

const char* PrivateFolderProblem(TPrivateFolder state) {
  switch (state) {
    case TPrivateFolder::Ok: return "";
    case TPrivateFolder::Failed: return "it cannot be made";
    case TPrivateFolder::NotAFolder: return "not a folder, or a link";
    case TPrivateFolder::NotOwn: return "owned by another user";
    case TPrivateFolder::OpenToOthers: return "others may write to it";
    case TPrivateFolder::ParentOpen: return "others may move it";
  }
  return "";
}

std::uint32_t ProcessUserId() {
  const std::int64_t pretended = gPretendedUserId.load();
  return pretended >= 0 ? std::uint32_t(pretended) : std::uint32_t(::getuid());
}

void SetProcessUserIdForTest(std::int64_t uid) { gPretendedUserId.store(uid < 0 ? -1 : uid); }

}  // namespace plat
