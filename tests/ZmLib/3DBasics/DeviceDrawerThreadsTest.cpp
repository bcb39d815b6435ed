// Engine, loader and interface threads drawing at once: one drawer shared
// and one each, with items that draw through a second drawer.
#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <thread>
#include <vector>

#include "tests/ZmLib/3DBasics/DeviceDrawerDoubles.h"

namespace zm::test {
namespace {

TEST(DeviceDrawerThreads, DrawingLockKeepsFramesApart) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 200;
  auto shared = MakeRef<TRecordingDrawer>();
  std::vector<TRef<TRecordingDrawer>> own;
  for (int i = 0; i < kThreads; ++i) own.push_back(MakeRef<TRecordingDrawer>());

  std::atomic<int> inside{0};
  std::atomic<int> worst{0};
  std::atomic<int> failed{0};
  auto leaf = MakeRef<TScriptItem>();
  leaf->onDraw = [&](TDeviceDrawer&) {
    const int n = inside.fetch_add(1) + 1;
    int w = worst.load();
    while (n > w && !worst.compare_exchange_weak(w, n)) {
    }
    inside.fetch_sub(1);
  };

  std::latch start(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      // Each thread's item draws the leaf nested, then through the other
      // drawer as a frame of its own, on the thread that holds the lock.
      auto item = MakeRef<TScriptItem>();
      TDeviceDrawer* other = t % 2 ? shared.get() : own[t].get();
      item->onDraw = [&, other](TDeviceDrawer& d) {
        if (!d.Draw(leaf.get())) failed.fetch_add(1);
        if (other != &d && !other->Draw(leaf.get())) failed.fetch_add(1);
      };
      start.arrive_and_wait();
      for (int r = 0; r < kRounds; ++r) {
        TDeviceDrawer* first = r % 2 ? shared.get() : own[t].get();
        if (!first->Draw(item.get())) failed.fetch_add(1);
      }
    });
  for (auto& th : threads) th.join();

  EXPECT_EQ(failed.load(), 0);
  EXPECT_EQ(worst.load(), 1);
  EXPECT_EQ(shared->DrawDepth, 0);
  // Frames on the shared drawer never overlap: each begin meets its end first.
  int begins = 0;
  bool open = false;
  for (const std::string& e : shared->log) {
    if (e == "begin") {
      EXPECT_FALSE(open);
      open = true;
      ++begins;
    } else if (e == "end") {
      EXPECT_TRUE(open);
      open = false;
    }
  }
  // Odd rounds draw on the shared drawer; threads whose other drawer is the
  // shared one add a frame of the leaf in their even rounds.
  EXPECT_EQ(begins, kThreads * kRounds / 2 + (kThreads / 2) * (kRounds / 2));
  EXPECT_EQ(leaf->draws, kThreads * kRounds * 3 / 2);
}

}  // namespace
}  // namespace zm::test
