#include "Platform/PlatLock.h"

#include <errno.h>
#include <sys/file.h>
#include <sys/stat.h>

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

bool CreateSharedDirectory(std::u16string_view path) {
  std::string p = NativePath(path);
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  if (p.empty()) return Fail(ENOENT);
  if (p.find('\0') != std::string::npos) return Fail(EINVAL);
  if (::mkdir(p.c_str(), 01777) != 0) return Fail(errno);
  // the process's umask took bits away from the mode given to mkdir
  ::chmod(p.c_str(), 01777);
  return true;
}

}  // namespace plat
