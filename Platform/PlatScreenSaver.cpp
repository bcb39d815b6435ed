#include "Platform/PlatScreenSaver.h"

#include <SDL.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace plat {

namespace {

std::atomic<bool> gScreenSaverEnabled{true};

// A lock file that lost its name is opened again this often at most.
constexpr int kReopenTries = 8;

}  // namespace

void SetScreenSaverEnabled(bool on) {
  gScreenSaverEnabled.store(on);
  // Without a display back end there is nothing to tell.
  if (SDL_WasInit(SDL_INIT_VIDEO) == 0) return;
  if (on)
    SDL_EnableScreenSaver();
  else
    SDL_DisableScreenSaver();
}

bool ScreenSaverEnabled() { return gScreenSaverEnabled.load(); }

TInstanceLock::~TInstanceLock() { Close(); }

bool TInstanceLock::Open(std::string_view folder, std::string_view name) {
  Close();
  std::string safe(name);
  for (char& c : safe)
    if (c == '/' || c == '\0') c = '_';
  std::string dir(folder);
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  if (dir.empty() || dir.find('\0') != std::string::npos) return false;
  // Appended piece by piece: g++ 12 warns (falsely) on the chained form.
  path_ = dir;
  path_ += '/';
  path_ += safe;
  path_ += ".instance";
  if (!OpenFile()) return false;
  TakeLock();
  return true;
}

bool TInstanceLock::OpenFile() {
  if (fd_ >= 0) ::close(fd_);
  do {
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
  } while (fd_ < 0 && errno == EINTR);
  if (fd_ < 0) return false;
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  return true;
}

int TInstanceLock::TakeLock() {
  for (int i = 0; i < kReopenTries && fd_ >= 0; ++i) {
    int r;
    do {
      r = ::flock(fd_, LOCK_EX | LOCK_NB);
    } while (r != 0 && errno == EINTR);
    if (r != 0) return errno == EWOULDBLOCK ? 0 : -1;
    struct stat held {}, named {};
    if (::fstat(fd_, &held) == 0 && ::lstat(path_.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
        held.st_ino == named.st_ino) {
      owned_ = true;
      return 1;
    }
    if (!OpenFile()) break;
  }
  return -1;
}

bool TInstanceLock::HeldByAnother() {
  if (fd_ < 0) return false;
  if (owned_) return false;
  return TakeLock() == 0;
}

void TInstanceLock::Close() {
  // Removed while still locked: a later owner makes the file anew.
  if (fd_ >= 0 && owned_) ::unlink(path_.c_str());
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  owned_ = false;
}

}  // namespace plat
