// The process's 3D engine asked for by several threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <thread>
#include <vector>

#include "ZmLib/3DBasics/Dev3DApp2.h"
#include "ZmLib/zmHookScope.h"
#include "tests/ZmLib/3DBasics/Dev3DAppDoubles.h"

using namespace zm;

// Named, not anonymous: test files may be compiled together.
namespace dev3dapp_threads {

std::atomic<int> gCalls{0};
std::atomic<int> gNils{0};  // the hook yields nil this many times first
zmtest::TFakeEngine* gMade = nullptr;

TRef<T3DEngine> CountingHook(std::int32_t) {
  ++gCalls;
  if (gNils.fetch_sub(1) > 0) return nullptr;
  auto e = MakeRef<zmtest::TFakeEngine>();
  gMade = e.get();
  return e;
}

class Dev3DEngineThreads : public ::testing::Test {
protected:
  void SetUp() override {
    FiniDev3DApp2();
    engine_.Set(&CountingHook);
    gCalls = 0;
    gMade = nullptr;
    InitDev3DApp2();
  }
  void TearDown() override {
    FiniDev3DApp2();
    engine_.Restore();
    InitDev3DApp2();
  }

private:
  zm::THookScope<TCreate3DEngineHook> engine_{Create3DEngineHook};
};

// Every thread keeps asking until it gets an engine; all get the same one,
// and the hook is asked exactly once per nil plus once for the engine.
void RunRace(int nils) {
  constexpr int kThreads = 8;
  gNils = nils;
  std::latch start(kThreads);
  std::vector<T3DEngine*> seen(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i)
    threads.emplace_back([&, i] {
      start.arrive_and_wait();
      T3DEngine* e = nullptr;
      while (!e) e = Get3DEngine().get();
      seen[std::size_t(i)] = e;
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(gCalls, nils + 1);
  ASSERT_NE(gMade, nullptr);
  for (T3DEngine* e : seen) EXPECT_EQ(e, gMade);
}

}  // namespace dev3dapp_threads

using namespace dev3dapp_threads;

TEST_F(Dev3DEngineThreads, MadeOnceUnderConcurrentFirstUse) { RunRace(0); }

TEST_F(Dev3DEngineThreads, MadeOnceAfterTheHookYieldedNil) { RunRace(5); }

// Finalisation while others ask: each answer is the engine or nil, never a
// freed engine, and nothing is made once the unit has ended.
TEST_F(Dev3DEngineThreads, FinalisationRacesWithRequests) {
  gNils = 0;
  std::latch start(3);
  std::atomic<int> engines{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 2; ++i)
    threads.emplace_back([&] {
      start.arrive_and_wait();
      for (int k = 0; k < 200; ++k)
        if (TRef<T3DEngine> e = Get3DEngine()) engines += e->GetShaderLevel(0) == 2;
    });
  start.arrive_and_wait();
  FiniDev3DApp2();
  for (auto& t : threads) t.join();
  const int calls = gCalls;
  EXPECT_LE(calls, 1);
  EXPECT_EQ(Get3DEngine().get(), nullptr);
  EXPECT_EQ(gCalls, calls);
}
