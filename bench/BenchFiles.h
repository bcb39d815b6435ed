#pragma once
// Where a benchmark program keeps the files it writes (pictures, clips,
// shows, logs): in folders of this run, "zm_bench_<process>_<n>" under
// $TMPDIR (or /tmp), or under /dev/shm for files asked to lie in memory.
// Each goes with its TBenchFolder (static ones at the program's normal
// end); when SIGINT, SIGTERM or SIGHUP stops the program, those still
// there are removed before the signal ends it. A run stopped in another way
// (killed, crashed) leaves its folders, and the next benchmark program to
// make one removes those whose process no longer runs.
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

namespace zmbench {

namespace bench_files {

namespace fs = std::filesystem;

constexpr std::string_view kPrefix = "zm_bench_";

// This process's number, as /proc/self names it; empty without /proc.
inline const std::string& OwnProcess() {
  static const std::string own = [] {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self", ec);
    return ec ? std::string() : self.filename().string();
  }();
  return own;
}

// Folders of this program's runs in base whose process no longer runs.
inline void RemoveLeftOver(const fs::path& base) {
  std::error_code ec;
  for (fs::directory_iterator it(base, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.compare(0, kPrefix.size(), kPrefix) != 0) continue;
    const std::string process = name.substr(kPrefix.size(), name.find('_', kPrefix.size()) - kPrefix.size());
    if (process.empty() || process.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code gone;
    if (!fs::exists(fs::path("/proc") / process, gone) && !gone) fs::remove_all(it->path(), gone);
  }
}

// The folders made and not yet removed; on a stop signal a thread of
// their own removes them (a handler may only touch lock-free atomics),
// then the signal ends the program as it would have. It lives to the very
// end, for folders that are static objects of any age.
struct TRegistry {
  std::mutex Lock;
  std::vector<std::string> Live;
  std::atomic<int> Signal{0};
};

inline TRegistry& Registry() {
  static TRegistry* registry = new TRegistry;
  return *registry;
}

static_assert(std::atomic<int>::is_always_lock_free, "set in a signal handler");

inline void OnStopSignal(int signal) {
  TRegistry& r = Registry();
  r.Signal.store(signal);
  r.Signal.notify_one();
}

inline void WatchStopSignals() {
  static std::once_flag once;
  std::call_once(once, [] {
    Registry();  // made before the handlers can reach it
    std::thread([] {
      TRegistry& r = Registry();
      r.Signal.wait(0);
      const int signal = r.Signal.load();
      {
        std::lock_guard<std::mutex> l(r.Lock);
        // Twice: the benchmark runs on meanwhile and may have made a file
        // again while the first pass removed a large one.
        for (int pass = 0; pass < 2; ++pass)
          for (const std::string& path : r.Live) {
            std::error_code ec;
            fs::remove_all(path, ec);
          }
      }
      std::signal(signal, SIG_DFL);
      std::raise(signal);
    }).detach();
    // A signal ignored from the start (nohup, a background job) stays so.
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
      if (std::signal(signal, &OnStopSignal) == SIG_IGN) std::signal(signal, SIG_IGN);
  });
}

inline fs::path Base(bool inMemory) {
  std::error_code ec;
  if (inMemory && fs::is_directory("/dev/shm", ec)) return "/dev/shm";
  const char* tmp = std::getenv("TMPDIR");
  return tmp && *tmp ? fs::path(tmp) : fs::path("/tmp");
}

}  // namespace bench_files

class TBenchFolder {
public:
  explicit TBenchFolder(bool inMemory = false) {
    namespace bf = bench_files;
    bf::WatchStopSignals();
    const bf::fs::path base = bf::Base(inMemory);
    static std::once_flag swept;
    std::call_once(swept, [] {
      if (bf::OwnProcess().empty()) return;
      bf::RemoveLeftOver(bf::Base(false));
      if (bf::Base(true) != bf::Base(false)) bf::RemoveLeftOver(bf::Base(true));
    });
    static std::atomic<unsigned> serial{0};
    const std::string own = bf::OwnProcess().empty() ? std::string("0") : bf::OwnProcess();
    std::lock_guard<std::mutex> l(bf::Registry().Lock);
    for (;;) {
      const bf::fs::path p = base / (std::string(bf::kPrefix) + own + "_" + std::to_string(serial++));
      std::error_code ec;
      if (bf::fs::create_directory(p, ec)) {
        path_ = p.string();
        break;
      }
      if (ec) throw std::runtime_error("cannot make a folder in " + base.string() + ": " + ec.message());
    }
    bf::Registry().Live.push_back(path_);
  }
  ~TBenchFolder() {
    namespace bf = bench_files;
    std::lock_guard<std::mutex> l(bf::Registry().Lock);
    auto& live = bf::Registry().Live;
    for (auto it = live.begin(); it != live.end(); ++it)
      if (*it == path_) {
        std::error_code ec;
        bf::fs::remove_all(path_, ec);
        live.erase(it);
        break;
      }
  }
  TBenchFolder(const TBenchFolder&) = delete;
  TBenchFolder& operator=(const TBenchFolder&) = delete;

  const std::string& Path() const { return path_; }
  // The path of a file inside the folder.
  std::string File(std::string_view name) const { return (bench_files::fs::path(path_) / name).string(); }

private:
  std::string path_;
};

}  // namespace zmbench
