#include "Platform/PlatScreenSaver.h"

#include <SDL.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "Platform/PlatSystem.h"

namespace plat {

namespace {

std::atomic<bool> gScreenSaverEnabled{true};

std::string LockFolder(bool& perUser) {
  std::string folder;
  perUser = false;
  if (GetEnv("XDG_RUNTIME_DIR", folder) && !folder.empty() && folder[0] == '/') return folder;
  perUser = true;
  for (const char* name : {"TMPDIR", "TMP", "TEMP"})
    if (GetEnv(name, folder) && !folder.empty() && folder[0] == '/') return folder;
  return "/tmp";
}

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

bool TInstanceLock::Open(std::string_view name) {
  Close();
  std::string safe(name);
  for (char& c : safe)
    if (c == '/' || c == '\0') c = '_';
  bool perUser = false;
  std::string folder = LockFolder(perUser);
  if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  // Appended piece by piece: g++ 12 warns (falsely) on the chained form.
  path_ = folder;
  path_ += '/';
  path_ += safe;
  if (perUser) {
    path_ += '-';
    path_ += std::to_string(::getuid());
  }
  path_ += ".lock";
  fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd_ < 0) return false;
  owned_ = ::flock(fd_, LOCK_EX | LOCK_NB) == 0;
  return true;
}

bool TInstanceLock::HeldByAnother() {
  if (fd_ < 0) return false;
  if (owned_) return false;
  int r;
  do {
    r = ::flock(fd_, LOCK_EX | LOCK_NB);
  } while (r != 0 && errno == EINTR);
  if (r == 0) {
    owned_ = true;
    return false;
  }
  return errno == EWOULDBLOCK;
}

void TInstanceLock::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  owned_ = false;
}

}  // namespace plat
