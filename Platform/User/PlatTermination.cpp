#include "Platform/User/PlatTermination.h"

#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "Platform/User/PlatMessageQueues.h"
#include "Platform/User/PlatUser.h"

namespace plat {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

std::atomic<bool> gRequested{false};
std::atomic<bool> gHandlersSet{false};
int gPipe[2] = {-1, -1};
// When the first signal came (monotonic clock, ns; 0: none yet), and how
// long the orderly close it asked for has before another signal may end
// the process at once.
std::atomic<std::int64_t> gFirstSignalNs{0};
std::atomic<std::int64_t> gGraceNs{std::int64_t(kTerminationGraceMs) * 1000000};
static_assert(std::atomic<std::int64_t>::is_always_lock_free, "used in a signal handler");

std::int64_t MonotonicNs() {
  timespec t{};
  ::clock_gettime(CLOCK_MONOTONIC, &t);
  return std::int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// Only what is safe in a handler: atomics, the clock, a write, and for a
// signal that comes when the close has had its time, the default action.
void OnSignal(int sig) {
  const int saved = errno;
  const std::int64_t now = MonotonicNs();
  std::int64_t first = 0;
  // A burst (timeout(1), a service manager signalling the process group)
  // asks once; what comes within the grace is absorbed.
  if (!gFirstSignalNs.compare_exchange_strong(first, now) && now - first >= gGraceNs.load()) {
    struct sigaction d{};
    d.sa_handler = SIG_DFL;
    sigemptyset(&d.sa_mask);
    ::sigaction(sig, &d, nullptr);
    ::raise(sig);
  }
  gRequested.store(true);
  const char c = 1;
  if (gPipe[1] >= 0) {
    ssize_t r = ::write(gPipe[1], &c, 1);
    (void)r;
  }
  errno = saved;
}

bool SetHandlers() {
  struct sigaction a{};
  a.sa_handler = &OnSignal;
  sigemptyset(&a.sa_mask);
  // The signals are not handled within each other: one burst, one count.
  for (int s : kSignals) sigaddset(&a.sa_mask, s);
  a.sa_flags = SA_RESTART;
  bool ok = true;
  for (int s : kSignals) ok = ::sigaction(s, &a, nullptr) == 0 && ok;
  return ok;
}

// Wakes the UI thread's wait, so that its pump serves the request.
void WakeUi() {
  std::uint32_t tid = UIThreadId();
  if (!tid) return;
  if (auto q = user::QueueOfThread(tid)) {
    std::lock_guard<std::mutex> l(q->M);
    user::Wake(*q);
  }
}

void Watch() {
  char buf[16];
  for (;;) {
    ssize_t n = ::read(gPipe[0], buf, sizeof buf);
    if (n > 0) {
      WakeUi();
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return;
  }
}

std::mutex gAskedLock;
std::set<HWND> gAsked;  // top-levels already asked to close
std::atomic<bool> gQuitPosted{false};

}  // namespace

bool InstallTerminationSignals() {
  static std::once_flag once;
  static bool ok = false;
  std::call_once(once, [] {
    if (::pipe2(gPipe, O_CLOEXEC) != 0) return;
    // The handler never blocks on a full pipe.
    ::fcntl(gPipe[1], F_SETFL, ::fcntl(gPipe[1], F_GETFL) | O_NONBLOCK);
    std::thread(&Watch).detach();
    ok = SetHandlers();
    gHandlersSet.store(ok);
  });
  return ok;
}

bool TerminationRequested() { return gRequested.load(); }

void RequestTermination() {
  gRequested.store(true);
  WakeUi();
}

bool QuitAsked() {
  if (gRequested.load()) return true;
  user::TWindowManager& wm = user::WindowManager();
  auto l = wm.Lock();
  return wm.Backend && wm.Backend->QuitTimePassed();
}

}  // namespace plat

namespace plat::user {

void ServeTerminationRequest() {
  if (!gRequested.load()) return;
  TWindowManager& wm = WindowManager();
  const std::uint32_t me = CurrentThreadId();
  std::vector<HWND> ask;
  bool shown = false;
  {
    auto l = wm.Lock();
    std::lock_guard<std::mutex> a(gAskedLock);
    for (auto it = gAsked.begin(); it != gAsked.end();) it = wm.Find(*it) ? std::next(it) : gAsked.erase(it);
    for (auto& w : wm.Windows.Slots) {
      if (!w || w->Life != TWindowLife::Alive || w->Tid != me) continue;
      if ((w->Style & WS_CHILD) || !(w->Style & WS_VISIBLE)) continue;
      shown = true;
      if (w->Style & WS_DISABLED) continue;
      if (gAsked.insert(w->H).second) ask.push_back(w->H);
    }
  }
  for (HWND h : ask)
    if (IsWindow(h)) SendMessageW(h, WM_SYSCOMMAND, SC_CLOSE, 0);
  // Nothing on screen to close (a show still loading, or one whose window
  // never came): the UI thread's message loop ends at once, once.
  if (!shown && me == UIThreadId() && !gQuitPosted.exchange(true)) PostQuitMessage(0);
}

}  // namespace plat::user

namespace plat::headless {

void ResetTerminationForTests() {
  gRequested.store(false);
  gQuitPosted.store(false);
  gFirstSignalNs.store(0);
  gGraceNs.store(std::int64_t(kTerminationGraceMs) * 1000000);
  {
    std::lock_guard<std::mutex> a(gAskedLock);
    gAsked.clear();
  }
  if (gHandlersSet.load()) SetHandlers();
}

void SetTerminationGraceForTests(int ms) { gGraceNs.store(std::int64_t(ms) * 1000000); }

}  // namespace plat::headless
