#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "Platform/PlatSystem.h"
#include "ZmLib/Application2/winApplication.h"
#include "tests/ZmLib/Application2/EventListSupport.h"
#include "tests/support/HeadlessApp.h"

using namespace zm;
using evtest::NewData;
using evtest::TData;

namespace {

class WinAppThreads : public zmtest::THeadlessAppTest {};

struct TState {
  std::vector<int> Values;  // UI thread only
  std::atomic<int> Count{0};
  std::uint32_t UiThread = 0;
  bool WrongThread = false;
};

void Collect(void* data, TRefObject*, std::int32_t, std::intptr_t param) {
  auto* s = static_cast<TState*>(data);
  if (plat::CurrentThreadId() != s->UiThread) s->WrongThread = true;
  s->Values.push_back(reinterpret_cast<TData*>(param)->Value);
  s->Count++;
}

TEST_F(WinAppThreads, EventsFromWorkersArriveInOrderAndTerminateEndsRun) {
  TState state;
  state.UiThread = plat::CurrentThreadId();
  app->AddHandler(9, &Collect, &state);
  constexpr int kEach = 200;
  std::vector<std::thread> workers;
  for (int t = 0; t < 3; ++t)
    workers.emplace_back([&, t] {
      app->AddWorker(reinterpret_cast<TRefObject*>(&workers) + t);
      for (int i = 0; i < kEach; ++i) app->PostEvent(9, NewData(t * 10000 + i));
      app->RemoveWorker(reinterpret_cast<TRefObject*>(&workers) + t);
    });
  std::thread stopper([&] {
    for (auto& w : workers) w.join();
    app->Terminate();  // from another thread: WM_QUIT to the loop's thread
  });
  EXPECT_TRUE(app->Run());  // events still queued are dispatched by Finalize
  stopper.join();
  EXPECT_FALSE(state.WrongThread);
  ASSERT_EQ(state.Values.size(), std::size_t(3 * kEach));
  std::vector<int> next(3, 0);
  for (int v : state.Values) {
    int t = v / 10000, i = v % 10000;
    EXPECT_EQ(i, next[std::size_t(t)]);
    next[std::size_t(t)] = i + 1;
  }
}

TEST_F(WinAppThreads, SenderWaitsUntilTheUiThreadHandledIt) {
  TState state;
  state.UiThread = plat::CurrentThreadId();
  app->AddHandler(9, &Collect, &state);
  std::atomic<int> seenBySender{-1};
  std::thread sender([&] {
    TData* d = NewData(42);
    app->SendAndWait(9, d);
    seenBySender = state.Count.load();  // handled before SendAndWait returned
    d->Free();
    app->Terminate();
  });
  EXPECT_TRUE(app->Run());
  sender.join();
  EXPECT_EQ(seenBySender.load(), 1);
  EXPECT_EQ(state.Values, std::vector<int>{42});
}

TEST_F(WinAppThreads, ShutdownWaitsForAWorkerThatEndsLate) {
  TState state;
  state.UiThread = plat::CurrentThreadId();
  app->AddHandler(9, &Collect, &state);
  TRefObject* token = reinterpret_cast<TRefObject*>(&state);
  app->AddWorker(token);
  auto go = MakeRef<TEvent>();
  std::thread worker([&] {
    go->WaitFor();
    app->PostEvent(9, NewData(5));  // still accepted while the wait runs
    app->RemoveWorker(token);
  });
  plat::PostQuitMessage(0);
  // The worker starts its last work only once the loop has ended.
  app->AddHandler(0, [](void* g, TRefObject*, std::int32_t, std::intptr_t) { static_cast<TEvent*>(g)->Set(); },
                  go.get());
  EXPECT_TRUE(app->Run());
  worker.join();
  EXPECT_EQ(state.Values, std::vector<int>{5});
}

}  // namespace
