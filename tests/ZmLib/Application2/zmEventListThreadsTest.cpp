#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "ZmLib/Application2/zmEventList.h"
#include "tests/ZmLib/Application2/EventListSupport.h"

using namespace zm;
using evtest::NewData;
using evtest::TData;
using evtest::TTestPostList;

namespace {

struct TOrder {
  std::vector<int> Values;  // owner thread only
};

void Record(void* data, TRefObject*, std::int32_t, std::intptr_t param) {
  static_cast<TOrder*>(data)->Values.push_back(reinterpret_cast<TData*>(param)->Value);
}

TEST(EventListThreads, PostsFromWorkersArriveInOrder) {
  auto list = MakeRef<TTestPostList>();
  TOrder order;
  list->AddHandler(1, &Record, &order);
  constexpr int kEach = 300;
  std::vector<std::thread> workers;
  for (int t = 0; t < 3; ++t)
    workers.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) list->PostEvent(1, NewData(t * 10000 + i));
    });
  for (int n = 0; n < 3 * kEach; ++n) ASSERT_TRUE(list->DispatchNext());
  for (auto& w : workers) w.join();
  std::vector<int> next(3, 0);
  for (int v : order.Values) {
    int t = v / 10000, i = v % 10000;
    EXPECT_EQ(i, next[std::size_t(t)]);
    next[std::size_t(t)] = i + 1;
  }
  EXPECT_EQ(order.Values.size(), std::size_t(3 * kEach));
}

TEST(EventListThreads, SendWaitsUntilHandledAndOvertakesPosts) {
  auto list = MakeRef<TTestPostList>();
  TOrder order;
  list->AddHandler(1, &Record, &order);
  std::atomic<bool> returned{false};
  TData* mine = NewData(3);
  std::thread worker([&] {
    list->PostEvent(1, NewData(1));
    list->PostEvent(1, NewData(2));
    list->SendAndWait(1, mine);
    returned = true;
  });
  list->WaitWoken(3);  // all three are queued
  EXPECT_FALSE(returned.load());  // the sender waits for the owner
  list->DispatchAll();
  worker.join();
  EXPECT_TRUE(returned.load());
  EXPECT_EQ(order.Values, (std::vector<int>{3, 1, 2}));
  EXPECT_EQ(mine->RefCount(), 1);  // the sender's data was not freed
  mine->Free();
}

TEST(EventListThreads, UnwokenSendDoesNotRunAfterTheSenderWentOn) {
  auto list = MakeRef<TTestPostList>();
  TOrder order;
  list->AddHandler(1, &Record, &order);
  list->Refuse = true;
  TData* mine = NewData(9);
  std::thread([&] { list->SendAndWait(1, mine); }).join();
  EXPECT_EQ(list->QueueLength(), 0u);
  list->DispatchAll();
  EXPECT_TRUE(order.Values.empty());
  mine->Free();
}

// A post its owner cannot be woken for is taken back by the poster, perhaps
// while the owner dispatches the queue: each event runs or is dropped, once.
TEST(EventListThreads, PostsTakenBackWhileTheOwnerDispatchesAreFreedOnce) {
  auto list = MakeRef<TTestPostList>();
  TOrder order;
  list->AddHandler(1, &Record, &order);
  list->Refuse = true;
  constexpr int kPosts = 20000;
  std::atomic<int> disposed{0};
  std::atomic<bool> done{false};
  std::thread worker([&] {
    for (int i = 0; i < kPosts; ++i) list->PostEvent(1, NewData(i, &disposed));
    done = true;
  });
  while (!done.load()) list->DispatchAll();
  worker.join();
  list->DispatchAll();
  EXPECT_EQ(disposed.load(), kPosts);
  EXPECT_EQ(list->QueueLength(), 0u);
}

}  // namespace
