#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "Platform/PlatSystem.h"
#include "tests/Platform/User/UserTestSupport.h"

using namespace plat;
using usertest::TRecorder;

namespace {

class PlatUserThreads : public usertest::UserTest {};

TEST_F(PlatUserThreads, QuitFromAnotherThreadWakesGetMessage) {
  DWORD ui = CurrentThreadId();
  MSG m;
  PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE);  // the queue exists
  std::thread t([ui] { EXPECT_TRUE(PostThreadMessageW(ui, WM_QUIT, 5, 0)); });
  EXPECT_EQ(GetMessageW(&m, nullptr, 0, 0), 0);
  EXPECT_EQ(m.wParam, 5u);
  t.join();
  EXPECT_FALSE(PostThreadMessageW(0x7FFFFFF0, WM_USER, 0, 0));
}

TEST_F(PlatUserThreads, PostsFromWorkersArriveInOrder) {
  HWND h = Make();
  Pump();
  constexpr int kPerThread = 200;
  std::vector<std::thread> workers;
  for (int t = 0; t < 3; ++t)
    workers.emplace_back([h, t] {
      for (int i = 0; i < kPerThread; ++i) PostMessageW(h, WM_USER + UINT(t), WPARAM(i), 0);
    });
  std::vector<int> next(3, 0);
  int got = 0;
  MSG m;
  while (got < 3 * kPerThread && GetMessageW(&m, nullptr, 0, 0) > 0) {
    if (m.message < WM_USER || m.message > WM_USER + 2) continue;
    int t = int(m.message - WM_USER);
    EXPECT_EQ(int(m.wParam), next[size_t(t)]);
    next[size_t(t)] = int(m.wParam) + 1;
    ++got;
  }
  for (auto& w : workers) w.join();
  EXPECT_EQ(got, 3 * kPerThread);
}

TEST_F(PlatUserThreads, SendAcrossThreadsWaitsAndDoesNotDeadlock) {
  HWND ui = Make();
  Pump();
  // While the UI thread handles the worker's message it sends back to the
  // worker's own window: the worker must serve that while it waits.
  HWND mine = nullptr;
  std::atomic<bool> stop{false};
  TRecorder::Get().OnMessage = [&](HWND w, UINT m, WPARAM wp, LPARAM, LRESULT& r) {
    if (w == ui && m == WM_USER) {
      HWND back = reinterpret_cast<HWND>(wp);
      r = SendMessageW(back, WM_USER + 1, 20, 0) + 1;
      return true;
    }
    if (m == WM_USER + 1) {
      EXPECT_NE(CurrentThreadId(), UIThreadId());
      r = LRESULT(wp) * 2;
      return true;
    }
    return false;
  };
  std::thread worker([&] {
    mine = CreateWindowExW(0, u"Rec", u"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    LRESULT r = SendMessageW(ui, WM_USER, reinterpret_cast<WPARAM>(mine), 0);
    EXPECT_EQ(r, 41);
    // SendNotifyMessage does not wait for the UI thread.
    EXPECT_TRUE(SendNotifyMessageW(ui, WM_USER + 2, 0, 0));
    DestroyWindow(mine);
    stop = true;
    PostMessageW(ui, WM_NULL, 0, 0);
  });
  MSG m;
  while (!stop) {
    if (GetMessageW(&m, nullptr, 0, 0) > 0) DispatchMessageW(&m);
  }
  worker.join();
  Pump();
  EXPECT_EQ(TRecorder::Get().Of(WM_USER + 1).size(), 1u);
  EXPECT_EQ(TRecorder::Get().Msgs(ui, {WM_USER + 2}).size(), 1u);
  EXPECT_EQ(SendMessageW(mine, WM_USER + 1, 1, 0), 0);  // its thread has ended
}

TEST_F(PlatUserThreads, SendToAThreadThatEndsReturns) {
  std::promise<HWND> made;
  std::promise<void> release;
  std::thread worker([&] {
    HWND w = CreateWindowExW(0, u"Rec", u"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    made.set_value(w);
    release.get_future().wait();  // never serves its queue, then ends
  });
  HWND w = made.get_future().get();
  auto f = std::async(std::launch::async, [w] { return SendMessageW(w, WM_USER, 0, 0); });
  release.set_value();
  worker.join();
  EXPECT_EQ(f.get(), 0);
}

}  // namespace
