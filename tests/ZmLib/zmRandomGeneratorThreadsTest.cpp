// Generators randomized on several threads at once: the process-wide source
// is seeded once and every object keeps its own sequence.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "ZmLib/zmRandomGenerator.h"

using namespace zm;

TEST(RandomGeneratorThreads, RandomizeMeetsAndObjectsStayApart) {
  constexpr int kThreads = 6;
  std::vector<std::uint32_t> last(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&last, t] {
      for (int i = 0; i < 50; ++i) CreateRandomHook(true)->NextRaw();
      TRef<TRandomGenerator> g = CreateRandom(false);
      g->SetSeed(7);
      std::uint32_t v = 0;
      for (int i = 0; i < 1000; ++i) v = g->NextRaw();
      last[static_cast<std::size_t>(t)] = v;
    });
  for (auto& th : threads) th.join();
  std::uint32_t ref = 7;
  for (int i = 0; i < 1000; ++i) ref = KhnutLewisStep(ref);
  for (std::uint32_t v : last) EXPECT_EQ(v, ref);
}
