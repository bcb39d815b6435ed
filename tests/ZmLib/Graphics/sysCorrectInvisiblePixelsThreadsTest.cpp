#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/Graphics/sysCorrectInvisiblePixels.h"

using namespace zm;

// Every halving advances the shared phase exactly once, from any thread.
TEST(InvisiblePixelsThreads, ThePhaseAdvancesOncePerHalving) {
  SetInvisiblePixelPhase(0);
  constexpr int kThreads = 4, kEach = 51;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([] {
      TRef<TDirectBitmap> b = MakeRef<TDirectBitmap>(6, FindPixelFormat("A8R8G8B8"), 6);
      b->Row32(2)[2] = 0xFF123456u;
      for (int i = 0; i < kEach; ++i) EXPECT_TRUE(HalveVisible(b.get()));
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(InvisiblePixelPhase(), (kThreads * kEach) % 2);
}
