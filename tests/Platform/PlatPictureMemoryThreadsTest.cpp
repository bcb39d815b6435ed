#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "Platform/PlatPictureMemory.h"

// A slide loader and the engine take and give back pictures at once.
TEST(PlatPictureMemoryThreads, TakenAndGivenBackOnSeveralThreads) {
  plat::TrimPictureMemory();
  std::vector<std::thread> threads;
  std::vector<int> faults(4, 0);
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t, &faults] {
      for (int i = 0; i < 40; ++i) {
        plat::PictureMemory m(plat::kPictureMemoryKeptFrom + std::size_t(i % 3) * 4096);
        if (m[0] != 0 || m[m.size() - 1] != 0) ++faults[std::size_t(t)];
        m[0] = m[m.size() - 1] = std::uint8_t(t + 1);
      }
    });
  for (std::thread& th : threads) th.join();
  for (int f : faults) EXPECT_EQ(f, 0);
  EXPECT_LE(plat::GetPictureMemoryStats().KeptBytes, plat::kPictureMemoryKeptBytes);
  plat::TrimPictureMemory();
}
