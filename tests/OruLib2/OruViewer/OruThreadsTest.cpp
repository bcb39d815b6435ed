#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "OruLib2/OruViewer/OruThreads.h"

using namespace zm;
using namespace oru;

namespace {

class TOtPayload : public TRefObject {
public:
  explicit TOtPayload(std::atomic<int>* freed, int value = 0) : Value(value), freed_(freed) {}
  void Dispose() override {
    if (freed_) freed_->fetch_add(1);
    TRefObject::Dispose();
  }
  int Value;

private:
  std::atomic<int>* freed_;
};

// A worker that waits for events and drains them; in hold mode it reports
// the first wake-up and then stops draining until it is told to stop.
class TOtWorker : public TOruThread {
public:
  bool Hold = false;

  void HandleEvent(TRefObject*, std::int32_t id, bool& handled, TRefObject* data) override {
    handled = true;
    if (id == 3) Events()->SendWait(4, nullptr);  // from the thread itself: handled at once
    auto* p = dynamic_cast<TOtPayload*>(data);
    std::lock_guard<std::mutex> g(m_);
    Seen.push_back(id * 100 + (p ? p->Value : 0));
  }
  void DoStart() override { started.store(true); }
  void DoStop() override {
    TOruThread::DoStop();
    stopped.store(true);
  }
  void Step() override {
    WaitForEvents(kInfinite);
    if (Hold) {
      std::unique_lock<std::mutex> l(m_);
      woken_ = true;
      cv_.notify_all();
      cv_.wait(l, [this] { return Terminated(); });
      return;
    }
    ProcessEvents();
  }
  void Terminate() override {
    TOruThread::Terminate();
    std::lock_guard<std::mutex> g(m_);
    cv_.notify_all();
  }
  void WaitWoken() {
    std::unique_lock<std::mutex> l(m_);
    cv_.wait(l, [this] { return woken_; });
  }
  std::vector<int> Snapshot() {
    std::lock_guard<std::mutex> g(m_);
    return Seen;
  }

  std::atomic<bool> started{false}, stopped{false};

private:
  std::mutex m_;
  std::condition_variable cv_;
  bool woken_ = false;
  std::vector<int> Seen;
};

TEST(OruThreadThreadsTest, PostThenSendWaitAreHandledInOrderOnTheThread) {
  std::atomic<int> freed{0};
  auto w = MakeRef<TOtWorker>();
  ASSERT_TRUE(w->Start());
  EXPECT_TRUE(w->Running());
  w->Events()->Post(1, MakeRef<TOtPayload>(&freed, 7).Detach());
  w->Events()->Post(3, nullptr);
  TRef<TOtPayload> kept = MakeRef<TOtPayload>(&freed, 9);
  w->Events()->SendWait(2, kept.get());
  // The send returned only after the worker handled it, and after the posts.
  EXPECT_EQ(w->Snapshot(), (std::vector<int>{107, 400, 300, 209}));
  EXPECT_EQ(freed.load(), 1);  // the posted payload; the sender keeps its own
  EXPECT_TRUE(w->Stop(TThread::kDisposeWaitMs));
  EXPECT_TRUE(w->started.load());
  EXPECT_TRUE(w->stopped.load());
  EXPECT_FALSE(w->Running());
  // After the stop a post frees its data at once and a send does not block.
  w->Events()->Post(5, MakeRef<TOtPayload>(&freed).Detach());
  EXPECT_EQ(freed.load(), 2);
  w->Events()->SendWait(6, kept.get());
  EXPECT_EQ(w->Snapshot().size(), 4u);
}

TEST(OruThreadThreadsTest, StopReleasesASenderTheWorkerNeverServed) {
  auto w = MakeRef<TOtWorker>();
  w->Hold = true;
  ASSERT_TRUE(w->Start());
  std::atomic<bool> returned{false};
  std::thread sender([&] {
    w->Events()->SendWait(8, nullptr);
    returned.store(true);
  });
  w->WaitWoken();  // the send is queued and the worker will not drain it
  EXPECT_FALSE(returned.load());
  EXPECT_TRUE(w->Stop(TThread::kDisposeWaitMs));
  sender.join();
  EXPECT_TRUE(returned.load());
  EXPECT_TRUE(w->Snapshot().empty());
  EXPECT_TRUE(w->stopped.load());
}

TEST(OruThreadThreadsTest, StopEndsAnIdleOrUnstartedThreadWithinTheWait) {
  auto idle = MakeRef<TOtWorker>();
  ASSERT_TRUE(idle->Start());
  EXPECT_TRUE(idle->Stop(TThread::kDisposeWaitMs));
  EXPECT_TRUE(idle->Stop(0));  // a second stop finds it ended
  auto never = MakeRef<TOtWorker>();
  EXPECT_TRUE(never->Stop(0));
  EXPECT_FALSE(never->started.load());
  // Dispose of a running thread stops it too.
  auto running = MakeRef<TOtWorker>();
  ASSERT_TRUE(running->Start());
  running = nullptr;
}

class TOtEngine : public TCustomOruEngine {
public:
  using TCustomOruEngine::TCustomOruEngine;
  void HandleEvent(TRefObject*, std::int32_t id, bool& handled, TRefObject*) override {
    handled = true;
    const std::int32_t params[] = {id == 10 ? Generation() : Generation() - 1, 1500, 9000, 0};
    PostToListener(kPositionEvent, params, false, nullptr);
  }
  void Step() override {
    WaitForEvents(kInfinite);
    ProcessEvents();
  }
};

TEST(OruThreadThreadsTest, EngineReportsReachTheListenerThreadFilteredByGeneration) {
  auto listener = MakeRef<TThreadEventList>();
  listener->BindOwner();
  auto engine = MakeRef<TOtEngine>(listener.get());
  std::vector<std::int32_t> times;
  engine->OnPosition = [&](TCustomOruEngine* sender, std::int32_t time, bool ended, std::int32_t endTime) {
    EXPECT_EQ(sender, engine.get());
    EXPECT_FALSE(ended);
    EXPECT_EQ(endTime, 9000);
    times.push_back(time);
  };
  engine->NextGeneration();
  ASSERT_TRUE(engine->Start());
  engine->Events()->SendWait(11, nullptr);  // reports an older open
  engine->Events()->SendWait(10, nullptr);  // reports the current one
  listener->ProcessEvents();
  EXPECT_EQ(times, (std::vector<std::int32_t>{1500}));
  EXPECT_TRUE(engine->Stop(TThread::kDisposeWaitMs));
  engine = nullptr;
  listener->Close();
}

}  // namespace
