// The UI thread's idle wait on the SDL display, ended by other threads: run
// under a virtual X server with ZM_DISPLAY=sdl.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>

#include "Platform/PlatSystem.h"
#include "Platform/User/PlatUser.h"
#include "Platform/User/PlatUserHeadless.h"

using namespace plat;

namespace {

using Clock = std::chrono::steady_clock;
constexpr UINT kWmPing = WM_USER + 7;

// Whether a thread of this process sleeps in the kernel, from its state in
// /proc: the thread has gone into its wait.
bool Sleeping(std::uint32_t tid) {
  std::ifstream f("/proc/self/task/" + std::to_string(tid) + "/stat");
  const std::string s((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  const std::size_t name = s.rfind(')');
  return name != std::string::npos && name + 2 < s.size() && s[name + 2] == 'S';
}

// How often a thread of this process has gone to sleep in the kernel.
long long Sleeps(std::uint32_t tid) {
  std::ifstream f("/proc/self/task/" + std::to_string(tid) + "/status");
  std::string line;
  while (std::getline(f, line))
    if (line.rfind("voluntary_ctxt_switches:", 0) == 0) return std::stoll(line.substr(24));
  return -1;
}

// Another thread posts to the UI thread while it sleeps with nothing to do:
// the post ends the wait at once, every time; also when the thread goes on
// at once, as one drawing frames does, to ask for the monitor of its window
// (of the display, on whose connection the UI thread sleeps). A lost wake-up
// would leave the message until the UI thread's next event, here its timer.
// The display asked from another thread leaves the UI thread asleep.
TEST(SdlWake, APostFromAnotherThreadEndsTheIdleWaitAtOnce) {
  ASSERT_TRUE(InitWindowSystem());
  ASSERT_EQ(WindowSystemBackEnd(), "sdl") << "no display server: run under xvfb-run";
  WNDCLASSW wc{};
  wc.lpfnWndProc = &DefWindowProcW;
  wc.lpszClassName = u"SdlWake";
  ASSERT_NE(RegisterClassW(&wc), 0);
  HWND h = CreateWindowExW(0, u"SdlWake", u"Wake", WS_POPUP | WS_VISIBLE, 20, 20, 80, 60, nullptr, nullptr,
                           ModuleInstance(), nullptr);
  ASSERT_NE(h, nullptr);
  headless::PumpUntilIdle();
  ASSERT_NE(SetTimer(h, 1, 2000, nullptr), 0u);
  const auto askForTheMonitor = [h] {
    MONITORINFO mi{};
    mi.cbSize = sizeof mi;
    GetMonitorInfoA(MonitorFromWindow(h, MONITOR_DEFAULTTONEAREST), &mi);
  };

  // Rounds of a post each, the first ones alone; in the last one the
  // thread asks for the monitor many times before it posts.
  constexpr int kAlone = 50, kRounds = 250, kAsks = 100;
  const std::uint32_t ui = CurrentThreadId();
  std::mutex m;
  std::condition_variable cv;
  int asked = 0;
  bool stop = false;
  std::atomic<Clock::rep> postedAt{0};
  std::atomic<long long> wokenWhileAsked{-1};
  std::thread poster([&] {
    for (int r = 1; r <= kRounds; ++r) {
      {
        std::unique_lock<std::mutex> l(m);
        cv.wait(l, [&] { return asked == r || stop; });
        if (stop) return;
      }
      while (!Sleeping(ui)) std::this_thread::yield();
      if (r == kRounds) {
        const long long before = Sleeps(ui);
        for (int i = 0; i < kAsks; ++i) askForTheMonitor();
        wokenWhileAsked.store(Sleeps(ui) - before);
      }
      postedAt.store(Clock::now().time_since_epoch().count());
      PostMessageW(h, kWmPing, WPARAM(r), 0);
      for (int i = 0; r > kAlone && r < kRounds && i < 4; ++i) askForTheMonitor();
    }
  });
  int late[2] = {0, 0};
  std::int64_t worstMs = 0;
  // A few lost wakes are enough to tell.
  for (int r = 1; r <= kRounds && late[0] + late[1] < 3; ++r) {
    {
      std::lock_guard<std::mutex> l(m);
      asked = r;
    }
    cv.notify_one();
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0 && !(msg.message == kWmPing && msg.wParam == WPARAM(r)))
      DispatchMessageW(&msg);
    const auto took = Clock::now() - Clock::time_point(Clock::duration(postedAt.load()));
    const std::int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(took).count();
    worstMs = std::max(worstMs, ms);
    if (ms > 400) ++late[r > kAlone];
  }
  {
    std::lock_guard<std::mutex> l(m);
    stop = true;
  }
  cv.notify_one();
  poster.join();
  EXPECT_EQ(late[0], 0) << "posts alone waited for the next event";
  EXPECT_EQ(late[1], 0) << "posts followed by a look at the display waited for the next event";
  EXPECT_LT(worstMs, 400);
  EXPECT_LT(wokenWhileAsked.load(), 10) << "the UI thread woke for the display asked " << kAsks << " times";
  KillTimer(h, 1);
  EXPECT_TRUE(DestroyWindow(h));
  EXPECT_TRUE(UnregisterClassW(u"SdlWake", nullptr));
  ShutdownWindowSystem();
}

// With no window on the display (none made yet, or all hidden) the idle UI
// thread sleeps until something comes, here its timer, rather than looking
// every millisecond; a post from another thread still ends its wait at once.
TEST(SdlWake, AnIdleUiThreadWithoutWindowsSleeps) {
  ASSERT_TRUE(InitWindowSystem());
  ASSERT_EQ(WindowSystemBackEnd(), "sdl") << "no display server: run under xvfb-run";
  const std::uint32_t ui = CurrentThreadId();
  const UINT_PTR timer = SetTimer(nullptr, 0, 300, nullptr);
  ASSERT_NE(timer, 0u);
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }
  const long long before = Sleeps(ui);
  ASSERT_GE(before, 0);
  while (GetMessageW(&msg, nullptr, 0, 0) > 0 && msg.message != WM_TIMER) {
  }
  EXPECT_LT(Sleeps(ui) - before, 30) << "the thread woke again and again in 300 ms";
  KillTimer(nullptr, timer);

  std::atomic<Clock::rep> postedAt{0};
  std::thread poster([&] {
    while (!Sleeping(ui)) std::this_thread::yield();
    postedAt.store(Clock::now().time_since_epoch().count());
    PostThreadMessageW(ui, kWmPing, 0, 0);
  });
  while (GetMessageW(&msg, nullptr, 0, 0) > 0 && msg.message != kWmPing) {
  }
  const auto took = Clock::now() - Clock::time_point(Clock::duration(postedAt.load()));
  poster.join();
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(took).count(), 400);
  ShutdownWindowSystem();
}

}  // namespace
