#include "Platform/PlatSystem.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <errno.h>
#include <linux/capability.h>
#include <sched.h>
#include <signal.h>
#include <string.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <thread>

extern char** environ;

namespace plat {

// ---- Clock ------------------------------------------------------------------

namespace {

std::uint32_t SteadyTicks() {
  using namespace std::chrono;
  auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ms));
}

std::atomic<TTimeSource> gTimeSource{&SteadyTicks};
std::atomic<std::uint32_t> gManualNow{0};

std::uint32_t ManualTicks() { return gManualNow.load(std::memory_order_relaxed); }

}  // namespace

std::uint32_t TickCount32() { return gTimeSource.load(std::memory_order_relaxed)(); }

TTimeSource SetTimeSource(TTimeSource source) {
  return gTimeSource.exchange(source ? source : &SteadyTicks);
}

bool TimeSourceIsSteady() { return gTimeSource.load(std::memory_order_relaxed) == &SteadyTicks; }

TManualClock::TManualClock(std::uint32_t start) {
  gManualNow.store(start);
  previous_ = SetTimeSource(&ManualTicks);
}
TManualClock::~TManualClock() { SetTimeSource(previous_); }
void TManualClock::Advance(std::uint32_t ms) { gManualNow.fetch_add(ms); }
void TManualClock::Set(std::uint32_t ms) { gManualNow.store(ms); }
std::uint32_t TManualClock::Now() const { return gManualNow.load(); }

// ---- Threads ----------------------------------------------------------------

std::uint32_t CurrentThreadId() {
  thread_local std::uint32_t id = static_cast<std::uint32_t>(::syscall(SYS_gettid));
  return id;
}

int ProcessorCount() {
  static const int count = [] {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
      int n = CPU_COUNT(&set);
      if (n > 0) return n;
    }
    unsigned h = std::thread::hardware_concurrency();
    return h > 0 ? static_cast<int>(h) : 1;
  }();
  return count;
}

std::int64_t PhysicalMemoryBytes() {
  const long pages = ::sysconf(_SC_PHYS_PAGES), size = ::sysconf(_SC_PAGESIZE);
  return pages > 0 && size > 0 ? std::int64_t(pages) * size : 0;
}

void SleepMs(std::uint32_t ms) {
  if (ms == 0)
    std::this_thread::yield();
  else
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void SetCurrentThreadNice(int windowsPriority) {
  int nice = 0;
  if (windowsPriority <= -15) nice = 19;
  else if (windowsPriority >= 15) nice = -20;
  else nice = -5 * windowsPriority;
  // An unprivileged process may not raise its priority again; that is fine.
  (void)setpriority(PRIO_PROCESS, static_cast<id_t>(CurrentThreadId()), nice);
}

bool MayRaiseThreadPriority() {
  // Nice 0 is reached again with a nice limit of 20 or more, or with the
  // capability to set any priority.
  rlimit limit{};
  if (getrlimit(RLIMIT_NICE, &limit) == 0 && (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= 20)) return true;
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  return (data[CAP_TO_INDEX(CAP_SYS_NICE)].effective & CAP_TO_MASK(CAP_SYS_NICE)) != 0;
}

// ---- Program identity ---------------------------------------------------------

std::string ProgramPath() {
  static const std::string path = [] {
    std::string buf(4096, '\0');
    ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0) return std::string();
    buf.resize(static_cast<std::size_t>(n));
    const std::string deleted = " (deleted)";
    if (buf.size() > deleted.size() && buf.compare(buf.size() - deleted.size(), deleted.size(), deleted) == 0)
      buf.resize(buf.size() - deleted.size());
    return buf;
  }();
  return path;
}

namespace {
std::vector<std::string>& ArgStore() {
  static std::vector<std::string> args;
  return args;
}
}  // namespace

void SetArguments(int argc, const char* const* argv) {
  auto& a = ArgStore();
  a.clear();
  for (int i = 0; i < argc; ++i) a.emplace_back(argv[i] ? argv[i] : "");
}

const std::vector<std::string>& Arguments() { return ArgStore(); }

std::string QuoteArgument(std::string_view arg) {
  bool needs = arg.empty();
  for (unsigned char c : arg)
    if (c <= 32) needs = true;
  if (!needs) return std::string(arg);
  // Appended rather than "\"" + ...: GCC 12 warns falsely (-Wrestrict) on that.
  std::string quoted;
  quoted.reserve(arg.size() + 2);
  quoted += '"';
  quoted += arg;
  quoted += '"';
  return quoted;
}

std::string CommandLine() {
  std::string out;
  const auto& a = ArgStore();
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (i) out += ' ';
    out += QuoteArgument(a[i]);
  }
  return out;
}

// ---- Debugger output -----------------------------------------------------------

namespace {
std::mutex gDebugMutex;
TDebugOutputHook& DebugHook() {
  static TDebugOutputHook hook;
  return hook;
}

void WriteAll(int fd, const char* p, std::size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return;
    }
    p += w;
    n -= static_cast<std::size_t>(w);
  }
}
}  // namespace

void DebugOutput(std::string_view utf8) {
  TDebugOutputHook hook;
  {
    std::lock_guard<std::mutex> lock(gDebugMutex);
    hook = DebugHook();
  }
  if (hook) {
    hook(utf8);
    return;
  }
  std::string line(utf8);
  if (line.empty() || line.back() != '\n') line += '\n';
  WriteAll(2, line.data(), line.size());
}

TDebugOutputHook SetDebugOutputHook(TDebugOutputHook hook) {
  std::lock_guard<std::mutex> lock(gDebugMutex);
  TDebugOutputHook old = std::move(DebugHook());
  DebugHook() = std::move(hook);
  return old;
}

bool StdErrIsTerminal() { return ::isatty(2) == 1; }
void WriteStdErr(std::string_view utf8) { WriteAll(2, utf8.data(), utf8.size()); }
void FlushStdOut() { std::fflush(stdout); }

// ---- Outputs the user asked for ---------------------------------------------------

namespace {
std::atomic<bool> gOutputFailed{false};
}  // namespace

void ReportOutputFailure(std::string_view output, std::string_view line) {
  static std::mutex lock;
  static std::set<std::string>* failed = new std::set<std::string>;  // lives to the end, for late threads
  gOutputFailed.store(true);
  {
    std::lock_guard<std::mutex> l(lock);
    if (!failed->insert(std::string(output)).second) return;
  }
  std::string text(line);
  text += '\n';
  WriteStdErr(text);
}

bool OutputFailed() { return gOutputFailed.load(); }

std::string CannotWriteText(std::string_view what, std::string_view file, int code) {
  std::string text(what);
  text += ": cannot write ";
  text += file;
  const std::string reason = OSErrorText(code);
  if (!reason.empty()) text += ": " + reason;
  return text;
}

// ---- Local time -------------------------------------------------------------------

TLocalTime LocalTimeNow() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm t{};
  localtime_r(&ts.tv_sec, &t);
  TLocalTime r{};
  r.Year = static_cast<std::uint16_t>(t.tm_year + 1900);
  r.Month = static_cast<std::uint16_t>(t.tm_mon + 1);
  r.DayOfWeek = static_cast<std::uint16_t>(t.tm_wday);
  r.Day = static_cast<std::uint16_t>(t.tm_mday);
  r.Hour = static_cast<std::uint16_t>(t.tm_hour);
  r.Minute = static_cast<std::uint16_t>(t.tm_min);
  r.Second = static_cast<std::uint16_t>(t.tm_sec);
  r.Milliseconds = static_cast<std::uint16_t>(ts.tv_nsec / 1000000);
  return r;
}

// ---- OS errors ----------------------------------------------------------------------

namespace {
thread_local int tLastOSError = 0;
}

int LastOSError() { return tLastOSError; }
void SetLastOSError(int code) { tLastOSError = code; }

std::string OSErrorText(int code) {
  char buf[256];
  buf[0] = '\0';
  // GNU strerror_r returns the text, which may or may not live in buf.
  const char* s = strerror_r(code, buf, sizeof buf);
  return s ? std::string(s) : std::string();
}

// ---- Environment, randomness, code identity -----------------------------------------

std::int64_t GetEnvNumber(std::string_view name) {
  std::string v;
  if (!GetEnv(name, v)) return -1;
  try {
    return std::stoll(v);
  } catch (...) {
    return -1;
  }
}

bool GetEnv(std::string_view name, std::string& value) {
  std::string n(name);
  if (const char* v = std::getenv(n.c_str())) {
    value = v;
    return true;
  }
  auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; };
  for (char** e = environ; e && *e; ++e) {
    std::string_view entry(*e);
    auto eq = entry.find('=');
    if (eq == std::string_view::npos || eq != name.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < eq && same; ++i) same = lower(entry[i]) == lower(name[i]);
    if (same) {
      value = std::string(entry.substr(eq + 1));
      return true;
    }
  }
  return false;
}

void RandomBytes(void* buffer, std::size_t count) {
  auto* p = static_cast<unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < count) {
    ssize_t n = ::getrandom(p + done, count - done, 0);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (done < count) {
    std::random_device rd;
    for (; done < count; ++done) p[done] = static_cast<unsigned char>(rd());
  }
}

std::string DemangleTypeName(const char* mangled) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> d(abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
  return (status == 0 && d) ? std::string(d.get()) : std::string(mangled ? mangled : "");
}

bool ModuleOfAddress(const void* address, std::string& file, std::uintptr_t& base) {
  Dl_info info{};
  if (!address || dladdr(address, &info) == 0 || !info.dli_fname) return false;
  file = info.dli_fname;
  base = reinterpret_cast<std::uintptr_t>(info.dli_fbase);
  return true;
}

// ---- Shared libraries -------------------------------------------------------------

void* LoadLibrary(const std::string& path) {
  void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) SetLastOSError(ENOENT);
  return h;
}
void* LibrarySymbol(void* library, const char* name) { return library ? dlsym(library, name) : nullptr; }
void FreeLibrary(void* library) {
  if (library) dlclose(library);
}

// ---- Fatal signals ------------------------------------------------------------------

namespace {
std::atomic<TFaultReporter> gFaultReporter{nullptr};
struct sigaction gOldActions[4];
const int kFaultSignals[4] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
bool gFaultInstalled = false;

void OnFault(int sig, siginfo_t* info, void* ctx) {
  const void* code = nullptr;
  (void)ctx;
#if defined(__x86_64__)
  if (ctx) code = reinterpret_cast<const void*>(static_cast<ucontext_t*>(ctx)->uc_mcontext.gregs[REG_RIP]);
#endif
  TFaultKind kind = sig == SIGFPE ? TFaultKind::Arithmetic
                    : sig == SIGILL ? TFaultKind::IllegalInstruction
                                    : TFaultKind::AccessViolation;
  if (TFaultReporter r = gFaultReporter.load()) r(kind, code, info ? info->si_addr : nullptr);
  _exit(1);
}
}  // namespace

void InstallFaultHandler(TFaultReporter reporter) {
  gFaultReporter.store(reporter);
  if (gFaultInstalled) return;
  static std::vector<char> altStack(64 * 1024);
  stack_t ss{};
  ss.ss_sp = altStack.data();
  ss.ss_size = altStack.size();
  sigaltstack(&ss, nullptr);
  struct sigaction sa {};
  sa.sa_sigaction = &OnFault;
  sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&sa.sa_mask);
  for (int i = 0; i < 4; ++i) sigaction(kFaultSignals[i], &sa, &gOldActions[i]);
  gFaultInstalled = true;
}

void UninstallFaultHandler() {
  if (!gFaultInstalled) return;
  for (int i = 0; i < 4; ++i) sigaction(kFaultSignals[i], &gOldActions[i], nullptr);
  gFaultInstalled = false;
  gFaultReporter.store(nullptr);
}

}  // namespace plat
