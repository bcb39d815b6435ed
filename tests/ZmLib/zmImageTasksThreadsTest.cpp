#include "ZmLib/zmImageTasks.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ZmLib/Win32/winSysUtils.h"

using namespace zm;

namespace {

// A result object the renderer hands back: the task's name.
class TImgTaskResult : public TRefObject {
public:
  explicit TImgTaskResult(WideString n) : Name(std::move(n)) {}
  WideString Name;
};

// Renders each task only once its gate opens; tells when it started.
struct TImgTaskRig {
  TRef<TEvent> started = MakeRef<TEvent>();
  TRef<TEvent> gate = MakeRef<TEvent>();
  TRef<TEvent> delivered = MakeRef<TEvent>();
  std::mutex lock;
  std::vector<WideString> rendered;
  std::vector<WideString> results;  // the names the callbacks saw (nil result: "-")

  TRef<TImageTaskQueue> MakeQueue() {
    return MakeRef<TImageTaskQueue>([this](TImageTask* task) -> TRef<TRefObject> {
      {
        std::lock_guard<std::mutex> g(lock);
        rendered.push_back(task->Name);
      }
      started->Set();
      gate->WaitFor();
      if (task->Description == u"throw") throw Exception("broken picture");
      return MakeRef<TImgTaskResult>(task->Name);
    });
  }
  static void Callback(void* data, TImageTask* task) {
    auto* rig = static_cast<TImgTaskRig*>(data);
    auto* r = dynamic_cast<TImgTaskResult*>(task->Result.get());
    std::lock_guard<std::mutex> g(rig->lock);
    rig->results.push_back(r ? r->Name : u"-");
    rig->delivered->Set();
  }
  std::vector<WideString> Results() {
    std::lock_guard<std::mutex> g(lock);
    return results;
  }
};

constexpr std::uint32_t kImgTaskGuardMs = 10000;  // only a broken queue waits this long

}  // namespace

TEST(ImageTasks, NewerRequestReplacesWaitingOneAndCancelDropsRunningResult) {
  TImgTaskRig rig;
  TRef<TImageTaskQueue> q = rig.MakeQueue();
  ASSERT_TRUE(q->StartWorker());
  EXPECT_FALSE(q->StartWorker());  // one worker only

  q->AddTask(u"a", u"A", false, u"desc", &TImgTaskRig::Callback, &rig);
  ASSERT_TRUE(rig.started->Wait(kImgTaskGuardMs));  // A is being made: it stays listed
  q->AddTask(u"b", u"B1", false, u"desc", &TImgTaskRig::Callback, &rig);
  q->AddTask(u"b", u"B2", true, u"desc", &TImgTaskRig::Callback, &rig);
  q->AddTask(u"c", u"C", false, u"desc", &TImgTaskRig::Callback, &rig);
  EXPECT_EQ(q->TaskCount(), 3);   // A running, B2 and C waiting
  EXPECT_EQ(q->PendingCount(), 2);
  q->CancelTask(u"c");            // waiting: removed
  q->CancelTask(u"a");            // running: marked, its result dropped
  q->CancelTask(u"nothing");
  EXPECT_EQ(q->TaskCount(), 2);
  EXPECT_EQ(q->PendingCount(), 1);

  rig.gate->Set();
  ASSERT_TRUE(rig.delivered->Wait(kImgTaskGuardMs));
  q->StopTimeoutMs = kImgTaskGuardMs;  // a loaded machine may take longer than the default to end it
  q->StopQueue();
  EXPECT_TRUE(q->WorkerStopped());
  EXPECT_EQ(rig.Results(), std::vector<WideString>{u"B2"});
  std::lock_guard<std::mutex> g(rig.lock);
  EXPECT_EQ(rig.rendered, (std::vector<WideString>{u"A", u"B2"}));
}

TEST(ImageTasks, FailingRendererDeliversNilAndQueueGoesOn) {
  TImgTaskRig rig;
  rig.gate->Set();
  TRef<TImageTaskQueue> q = rig.MakeQueue();
  ASSERT_TRUE(q->StartWorker());
  q->AddTask(u"x", u"X", false, u"throw", &TImgTaskRig::Callback, &rig);
  ASSERT_TRUE(rig.delivered->Wait(kImgTaskGuardMs));
  rig.delivered->Reset();
  q->AddTask(u"y", u"Y", false, u"desc", &TImgTaskRig::Callback, &rig);
  ASSERT_TRUE(rig.delivered->Wait(kImgTaskGuardMs));
  q->StopQueue();
  EXPECT_EQ(rig.Results(), (std::vector<WideString>{u"-", u"Y"}));
}

TEST(ImageTasks, StopGivesUpOnAStuckWorkerAndDropsEverything) {
  TImgTaskRig rig;
  TRef<TImageTaskQueue> q = rig.MakeQueue();
  q->StopTimeoutMs = 300;
  q->StopStepMs = 100;
  ASSERT_TRUE(q->StartWorker());
  q->AddTask(u"a", u"A", false, u"desc", &TImgTaskRig::Callback, &rig);
  ASSERT_TRUE(rig.started->Wait(kImgTaskGuardMs));
  q->AddTask(u"b", u"B", false, u"desc", &TImgTaskRig::Callback, &rig);

  std::uint32_t t0 = GetTimeMs();
  q->StopQueue();  // the worker hangs in the renderer: stop gives up
  std::uint32_t took = GetTimeMs() - t0;
  EXPECT_GE(took, 250u);
  EXPECT_LT(took, 5000u);
  EXPECT_FALSE(q->WorkerStopped());
  EXPECT_TRUE(q->Stopped());
  EXPECT_EQ(q->TaskCount(), 0);

  // Stopped: requests are ignored, a second stop returns at once.
  q->AddTask(u"c", u"C", false, u"desc", &TImgTaskRig::Callback, &rig);
  q->CancelTask(u"c");
  q->StopQueue();
  EXPECT_EQ(q->TaskCount(), 0);

  rig.gate->Set();  // the worker comes back late: its result is dropped
  q->Join();
  EXPECT_TRUE(rig.Results().empty());
}

TEST(ImageTasks, StoppingAnIdleOrUnstartedQueueIsQuick) {
  TImgTaskRig rig;
  TRef<TImageTaskQueue> idle = rig.MakeQueue();
  ASSERT_TRUE(idle->StartWorker());
  idle->StopTimeoutMs = kImgTaskGuardMs;
  idle->StopQueue();
  EXPECT_TRUE(idle->WorkerStopped());

  TRef<TImageTaskQueue> never = rig.MakeQueue();  // tasks kept, never made
  never->AddTask(u"a", u"A", false, u"desc", &TImgTaskRig::Callback, &rig);
  EXPECT_EQ(never->PendingCount(), 1);
  never->StopQueue();
  EXPECT_TRUE(never->WorkerStopped());
  EXPECT_FALSE(never->StartWorker());
  EXPECT_TRUE(rig.Results().empty());
}

TEST(ImageTasks, ManyThreadsRequestAndCancelWhileTheWorkerRuns) {
  TImgTaskRig rig;
  rig.gate->Set();
  TRef<TImageTaskQueue> q = rig.MakeQueue();
  ASSERT_TRUE(q->StartWorker());
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        WideString key = u"k" + WideString(1, char16_t(u'0' + (i % 5)));
        q->AddTask(key, u"T", false, u"desc", &TImgTaskRig::Callback, &rig);
        if ((i + t) % 3 == 0) q->CancelTask(key);
      }
    });
  for (auto& th : threads) th.join();
  q->StopQueue();
  EXPECT_EQ(q->TaskCount(), 0);
  // Every waiting key held one task at most: far fewer made than asked for.
  std::lock_guard<std::mutex> g(rig.lock);
  EXPECT_LE(rig.results.size(), rig.rendered.size());
}

TEST(ImageTasks, PostmanRefusesToGoWithMessagesLeft) {
  ASSERT_NE(AppPostman(), nullptr);
  EXPECT_EQ(AppPostman()->Messages()->Count(), 0);

  TAppPostman* p = MakeRef<TAppPostman>().Detach();
  TRef<TImgTaskResult> message = MakeRef<TImgTaskResult>(u"m");
  p->Messages()->Add(message.get());
  try {
    p->Dispose();
    ADD_FAILURE() << "no assertion";
  } catch (const Exception& e) {
    EXPECT_NE(e.Message().find("Invalid Messages List at TAppPostman.Dispose"), std::string::npos);
  }
  p->Messages()->Clear();
  p->Free();
}
