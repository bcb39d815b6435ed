#include "ZmLib/Application2/winApplication.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "Platform/PlatSystem.h"
#include "ZmLib/zmHookScope.h"
#include "tests/ZmLib/Application2/EventListSupport.h"
#include "tests/support/HeadlessApp.h"

using namespace zm;
using evtest::NewData;
using evtest::TData;

namespace {

class WinApp : public zmtest::THeadlessAppTest {};

std::vector<int> gSeen;
void Seen(void*, TRefObject*, std::int32_t id, std::intptr_t param) {
  gSeen.push_back(param ? reinterpret_cast<TData*>(param)->Value : -id);
}

TEST_F(WinApp, PostedEventsReachTheHandlersThroughTheLoop) {
  EXPECT_FALSE(plat::IsWindowVisible(app->GetHandle()));
  EXPECT_THROW(MakeRef<TZmApplication>(), EAbort);  // one application only
  gSeen.clear();
  app->AddHandler(5, &Seen, nullptr);
  app->AddHandler(0, &Seen, nullptr);
  app->PostEvent(5, NewData(1));
  app->PostEvent(5, NewData(2));
  app->Terminate();  // on the loop's thread: a quit message behind the posts
  EXPECT_TRUE(app->Run());
  EXPECT_EQ(gSeen, (std::vector<int>{1, 2, 0}));  // event 0: the loop ended
  EXPECT_TRUE(app->Finalized());
}

TEST_F(WinApp, ProcessMessagesConsumesQuit) {
  plat::PostQuitMessage(0);
  app->ProcessMessages();
  EXPECT_TRUE(app->GetTerminated());
  // Run returns at once: the loop does not wait for another message.
  EXPECT_TRUE(app->Run());
}

TEST_F(WinApp, FinalizeWithoutWorkersDispatchesAndRefusesLaterPosts) {
  gSeen.clear();
  app->AddHandler(5, &Seen, nullptr);
  app->PostEvent(5, NewData(7));
  EXPECT_TRUE(app->Finalize());
  EXPECT_EQ(gSeen, std::vector<int>{7});
  EXPECT_EQ(app->GetHandle(), nullptr);
  std::atomic<int> disposed{0};
  app->PostEvent(5, NewData(8, &disposed));
  EXPECT_EQ(disposed.load(), 1);
  EXPECT_EQ(gSeen, std::vector<int>{7});
  EXPECT_FALSE(app->WakeOwner(0));
}

TEST_F(WinApp, WorkersAndTheShutdownBound) {
  auto worker = MakeRef<TEvent>();
  app->AddWorker(worker.get());
  EXPECT_THROW(app->RemoveWorker(app), EAbort);
  // A clock that runs 1000 ms per reading: the 30,000 ms pass at once.
  static std::atomic<std::uint32_t> fast{0};
  auto saved = plat::SetTimeSource([] { return fast.fetch_add(1000); });
  static std::int32_t exitSeen = -1;
  zm::THookScope exitProcess(ExitProcessProc, [](std::int32_t code) { exitSeen = code; });
  ExitCode = 3;
  EXPECT_FALSE(app->Finalize());
  plat::SetTimeSource(saved);
  exitProcess.Restore();
  ExitCode = 0;
  EXPECT_EQ(exitSeen, 3);
  app->RemoveWorker(worker.get());
  EXPECT_EQ(app->WorkerCount(), 0u);
}

void Throws(void*, TRefObject*, std::int32_t, std::intptr_t) { throw Exception("handler failed"); }

TEST_F(WinApp, AnErrorInAHandlerIsReportedAndTheLoopGoesOn) {
  gSeen.clear();
  app->AddHandler(5, &Throws, nullptr);
  app->AddHandler(6, &Seen, nullptr);
  app->PostEvent(5, NewData(1));
  app->PostEvent(6, NewData(2));
  app->Terminate();
  testing::internal::CaptureStderr();
  EXPECT_TRUE(app->Run());
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(gSeen, std::vector<int>{2});
}

}  // namespace
