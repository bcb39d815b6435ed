#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "ZmLib/Application2/zmThreadEventList.h"
#include "tests/ZmLib/Application2/EventListSupport.h"

using namespace zm;
using evtest::NewData;
using evtest::TData;

namespace {

// A list whose owner waits on a condition variable for the next wake-up.
class TTelWakeList : public TThreadEventList {
public:
  void WakeOwner(std::int32_t kind) override {
    std::lock_guard<std::mutex> l(m_);
    ++wakes_;
    if (kind == 1) ++sends_;
    cv_.notify_all();
  }
  // Waits until more than `seen` wake-ups came, or Stop was called.
  std::size_t WaitWake(std::size_t seen) {
    std::unique_lock<std::mutex> l(m_);
    cv_.wait(l, [&] { return wakes_ > seen || stop_; });
    return wakes_;
  }
  void WaitSends(std::size_t n) {
    std::unique_lock<std::mutex> l(m_);
    cv_.wait(l, [&] { return sends_ >= n; });
  }
  void Stop() {
    std::lock_guard<std::mutex> l(m_);
    stop_ = true;
    cv_.notify_all();
  }
  bool Stopped() {
    std::lock_guard<std::mutex> l(m_);
    return stop_;
  }

private:
  std::mutex m_;
  std::condition_variable cv_;
  std::size_t wakes_ = 0, sends_ = 0;
  bool stop_ = false;
};

struct TTelSeen {
  std::vector<int> Values;  // owner thread only
};

void TelRecord(void* seen, TRefObject*, std::int32_t, std::intptr_t param) {
  auto* d = reinterpret_cast<TData*>(param);
  static_cast<TTelSeen*>(seen)->Values.push_back(d ? d->Value : -1);
}

// The owner thread's loop: drain, wait for the next wake-up, until stopped.
void TelOwnerLoop(TTelWakeList* list, TEvent* ended) {
  list->BindOwner();
  std::size_t seen = 0;
  while (!list->Stopped()) {
    list->ProcessEvents();
    seen = list->WaitWake(seen);
  }
  ended->Set();
}

// A bound against a hang, not a timing assumption.
constexpr std::uint32_t kTelBoundMs = 60000;

TEST(ThreadEventListThreads, PostsFromManyThreadsKeepEachSendersOrder) {
  auto list = MakeRef<TTelWakeList>();
  TTelSeen seen;
  list->AddHandler(1, &TelRecord, &seen);
  std::atomic<int> freed{0};
  constexpr int kThreads = 4, kEach = 250;
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t)
    posters.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) list->Post(1, NewData(t * 10000 + i, &freed));
    });
  std::size_t wakes = 0;
  while (seen.Values.size() < std::size_t(kThreads * kEach)) {
    wakes = list->WaitWake(wakes);
    list->ProcessEvents();
  }
  for (auto& p : posters) p.join();
  std::vector<int> next(kThreads, 0);
  for (int v : seen.Values) {
    int t = v / 10000, i = v % 10000;
    ASSERT_EQ(i, next[std::size_t(t)]) << "sender " << t;
    next[std::size_t(t)] = i + 1;
  }
  EXPECT_EQ(freed.load(), kThreads * kEach);
}

TEST(ThreadEventListThreads, SendWaitsUntilTheOwnerHandledIt) {
  auto list = MakeRef<TTelWakeList>();
  TTelSeen seen;
  list->AddHandler(1, &TelRecord, &seen);
  std::atomic<int> freed{0};
  std::atomic<bool> returned{false};
  TData* mine = NewData(42, &freed);
  std::thread sender([&] {
    list->Post(1, NewData(1, &freed));
    list->SendWait(1, mine);
    returned = true;
  });
  list->WaitSends(1);
  EXPECT_FALSE(returned.load());  // nobody drained yet
  list->ProcessEvents();
  sender.join();
  EXPECT_TRUE(returned.load());
  EXPECT_EQ(seen.Values, std::vector<int>({1, 42}));
  EXPECT_EQ(freed.load(), 1);  // only the posted one
  EXPECT_EQ(mine->Value, 42);
  mine->Free();
  EXPECT_EQ(freed.load(), 2);
}

TEST(ThreadEventListThreads, CloseReleasesWaitingSenders) {
  auto list = MakeRef<TTelWakeList>();
  TTelSeen seen;
  list->AddHandler(1, &TelRecord, &seen);
  std::atomic<int> freed{0};
  constexpr int kSenders = 3;
  std::vector<TData*> datas;
  for (int i = 0; i < kSenders; ++i) datas.push_back(NewData(i, &freed));
  std::vector<std::thread> senders;
  for (int i = 0; i < kSenders; ++i) senders.emplace_back([&, i] { list->SendWait(1, datas[std::size_t(i)]); });
  list->Post(1, NewData(100, &freed));
  list->WaitSends(kSenders);
  list->Close();
  for (auto& s : senders) s.join();  // released, never handled
  EXPECT_TRUE(seen.Values.empty());
  EXPECT_EQ(freed.load(), 1);  // the posted one only
  for (TData* d : datas) d->Free();
  EXPECT_EQ(freed.load(), 1 + kSenders);
  list->ProcessEvents();  // nothing left
  EXPECT_TRUE(seen.Values.empty());
}

TEST(ThreadEventListThreads, OwnerLoopStopsWithSendersInFlight) {
  auto list = MakeRef<TTelWakeList>();
  TTelSeen seen;
  list->AddHandler(1, &TelRecord, &seen);
  std::atomic<int> freed{0};
  auto ended = MakeRef<TEvent>();
  std::thread owner(&TelOwnerLoop, list.get(), ended.get());

  constexpr int kThreads = 4, kEach = 100;
  std::atomic<int> sendsDone{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t)
    workers.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        if (i % 2) {
          list->Post(1, NewData(t * 10000 + i, &freed));
        } else {
          TData* d = NewData(t * 10000 + i, &freed);
          list->SendWait(1, d);  // answered or released by Close
          d->Free();
          sendsDone++;
        }
      }
    });
  // Stop half-way through, like a thread told to terminate: closing first
  // releases every waiting sender, then the loop is woken.
  list->WaitSends(std::size_t(kThreads));
  list->Close();
  list->Stop();
  EXPECT_TRUE(ended->Wait(kTelBoundMs));
  owner.join();
  for (auto& w : workers) w.join();
  EXPECT_EQ(sendsDone.load(), kThreads * kEach / 2);
  EXPECT_EQ(freed.load(), kThreads * kEach);  // every object exactly once
  EXPECT_EQ(list->Count(), 0u);
}

}  // namespace
