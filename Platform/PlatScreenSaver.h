#pragma once
// The system screen saver and display sleep, and the lock that tells
// whether another instance of a program runs.
#include <cstdint>
#include <string>
#include <string_view>

namespace plat {

// Off: the display stays on and the screen saver does not start (through the
// display back end when one runs; only recorded without one). On undoes it.
void SetScreenSaverEnabled(bool on);
// False while switched off by SetScreenSaverEnabled(false).
bool ScreenSaverEnabled();

// A named lock held for the life of its owner: a file "<name>.instance" in
// a private folder of the user, locked with flock. It is freed when the
// owner closes it or its process ends; the owner removes the file when it
// closes.
class TInstanceLock {
 public:
  TInstanceLock() = default;
  ~TInstanceLock();
  TInstanceLock(const TInstanceLock&) = delete;
  TInstanceLock& operator=(const TInstanceLock&) = delete;

  // Opens the lock file of Name ("/" and NUL become "_") in Folder (a
  // native path), never through a symbolic link, and tries to take the lock
  // at once. False when the file cannot be opened.
  bool Open(std::string_view folder, std::string_view name);
  // True when another owner holds the lock now; takes it when it is free
  // (a holder that ended). False when not open.
  bool HeldByAnother();
  bool Owned() const { return owned_; }
  void Close();
  const std::string& FilePath() const { return path_; }

 private:
  bool OpenFile();
  // Takes the lock without waiting: 1 taken, 0 held by another, -1 failed.
  // A file that lost its name meanwhile (its owner closed and removed it)
  // is opened again under the name.
  int TakeLock();
  int fd_ = -1;
  bool owned_ = false;
  std::string path_;
};

}  // namespace plat
