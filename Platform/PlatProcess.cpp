#include "Platform/PlatProcess.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <mutex>
#include <thread>

#include "Platform/PlatFiles.h"
#include "Platform/PlatUtf8.h"

extern char** environ;

namespace plat {

namespace {

class TRealSpawner : public IProcessSpawner {
 public:
  int Spawn(const std::string& program, const std::vector<std::string>& argv, const std::string& dir,
            bool search) override {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return ENOMEM;
    if (!dir.empty() && posix_spawn_file_actions_addchdir_np(&actions, dir.c_str()) != 0) {
      posix_spawn_file_actions_destroy(&actions);
      return ENOMEM;
    }
    pid_t pid = 0;
    int r = search ? posix_spawnp(&pid, program.c_str(), &actions, nullptr, args.data(), environ)
                   : posix_spawn(&pid, program.c_str(), &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (r != 0) return r;
    // Started programs live on their own; only their exit status is collected.
    try {
      std::thread([pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
      }).detach();
    } catch (...) {
    }
    return 0;
  }
};

TRealSpawner gRealSpawner;
std::mutex gSpawnerLock;
IProcessSpawner* gSpawner = &gRealSpawner;

IProcessSpawner* Spawner() {
  std::lock_guard<std::mutex> lock(gSpawnerLock);
  return gSpawner;
}

bool IsAsciiLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

int SpawnResult(int error) {
  if (error == 0) return kShellStarted;
  if (error == ENOENT) return kShellFileNotFound;
  if (error == EACCES) return kShellAccessDenied;
  return kShellFailed;
}

int OpenWithDesktop(const std::string& target, const std::string& dir) {
  return SpawnResult(Spawner()->Spawn("xdg-open", {"xdg-open", target}, dir, true));
}

}  // namespace

IProcessSpawner* SetProcessSpawner(IProcessSpawner* spawner) {
  std::lock_guard<std::mutex> lock(gSpawnerLock);
  IProcessSpawner* previous = gSpawner == &gRealSpawner ? nullptr : gSpawner;
  gSpawner = spawner ? spawner : &gRealSpawner;
  return previous;
}

bool HasUrlScheme(std::u16string_view text) {
  if (text.size() < 3 || !IsAsciiLetter(text[0])) return false;
  for (std::size_t i = 1; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c == u':') return i >= 2;
    if (!IsAsciiLetter(c) && !(c >= u'0' && c <= u'9') && c != u'+' && c != u'.' && c != u'-') return false;
  }
  return false;
}

int ShellExecute(std::u16string_view file, const std::vector<std::u16string>& params, std::u16string_view dir) {
  if (file.empty()) return kShellFileNotFound;
  // A NUL would cut the name short for the system: another program than the
  // one checked would start, or other arguments than the ones given.
  if (file.find(u'\0') != std::u16string_view::npos) return kShellFileNotFound;
  if (dir.find(u'\0') != std::u16string_view::npos) return kShellPathNotFound;
  for (const std::u16string& p : params)
    if (p.find(u'\0') != std::u16string::npos) return kShellFailed;
  if (HasUrlScheme(file)) return OpenWithDesktop(ToUtf8(file), std::string());

  namespace fs = std::filesystem;
  std::string nativeDir = dir.empty() ? std::string() : ResolvePath(NativePath(dir));
  std::string native = NativePath(file);
  if (native.empty() || native[0] != '/') {
    std::error_code ec;
    fs::path base = nativeDir.empty() ? fs::current_path(ec) : fs::path(nativeDir);
    native = (base / native).string();
  }
  native = ResolvePath(native);
  struct stat st {};
  if (::stat(native.c_str(), &st) != 0) {
    std::string folder = fs::path(native).parent_path().string();
    struct stat fst {};
    return ::stat(folder.c_str(), &fst) == 0 && S_ISDIR(fst.st_mode) ? kShellFileNotFound : kShellPathNotFound;
  }
  struct stat dst {};
  std::string cwd =
      !nativeDir.empty() && ::stat(nativeDir.c_str(), &dst) == 0 && S_ISDIR(dst.st_mode) ? nativeDir : std::string();
  if (S_ISREG(st.st_mode) && ::access(native.c_str(), X_OK) == 0) {
    std::vector<std::string> argv{native};
    for (const std::u16string& p : params) argv.push_back(ToUtf8(p));
    return SpawnResult(Spawner()->Spawn(native, argv, cwd, false));
  }
  // A document or folder: opened by its desktop program, without parameters.
  return OpenWithDesktop(native, cwd);
}

}  // namespace plat
