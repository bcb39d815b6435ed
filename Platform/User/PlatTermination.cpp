#include "Platform/User/PlatTermination.h"

#include <fcntl.h>
#include <signal.h>
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

// Only what is safe in a handler: an atomic store and a write.
void OnSignal(int) {
  const int saved = errno;
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
  // The first signal asks; the next one ends the process as without us.
  a.sa_flags = SA_RESTART | SA_RESETHAND;
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
  {
    std::lock_guard<std::mutex> a(gAskedLock);
    gAsked.clear();
  }
  if (gHandlersSet.load()) SetHandlers();
}

}  // namespace plat::headless
