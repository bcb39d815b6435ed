#pragma once
// The system screen saver and display sleep, and the per-user lock that
// tells whether another instance of a program runs.
#include <cstdint>
#include <string>
#include <string_view>

namespace plat {

// Off: the display stays on and the screen saver does not start (through the
// display back end when one runs; only recorded without one). On undoes it.
void SetScreenSaverEnabled(bool on);
// False while switched off by SetScreenSaverEnabled(false).
bool ScreenSaverEnabled();

// A named lock held for the life of its owner: a lock file in
// $XDG_RUNTIME_DIR (else the temporary folder, with the user id in the name)
// locked with flock. It is freed when the owner closes it or its process ends.
class TInstanceLock {
 public:
  TInstanceLock() = default;
  ~TInstanceLock();
  TInstanceLock(const TInstanceLock&) = delete;
  TInstanceLock& operator=(const TInstanceLock&) = delete;

  // Opens the lock file of Name ("/" and NUL become "_") and tries to take
  // the lock at once. False when the file cannot be opened.
  bool Open(std::string_view name);
  // True when another owner holds the lock now; takes it when it is free
  // (a holder that ended). False when not open.
  bool HeldByAnother();
  bool Owned() const { return owned_; }
  void Close();
  const std::string& FilePath() const { return path_; }

 private:
  int fd_ = -1;
  bool owned_ = false;
  std::string path_;
};

}  // namespace plat
