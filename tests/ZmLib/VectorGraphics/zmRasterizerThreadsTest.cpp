#include "ZmLib/VectorGraphics/zmRasterizer.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace zm;

// Threads scan squares met before and new ones, more than the runs kept
// can hold, so that runs are found, kept and let go at once.
TEST(RasterizerThreads, ShapesMetAgainWhileOthersAreKeptAndLetGo) {
  constexpr int kThreads = 4;
  constexpr int kSizes = 30;  // squares of ~0.7 MB of runs each: more than are kept
  std::vector<std::thread> threads;
  std::vector<int> wrong(kThreads, 0);
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      TRef<TRasterizer> r = MakeRef<TRasterizer>();
      for (int round = 0; round < 2 * kSizes; ++round) {
        const int size = 560 + (round * 7 + t * 13) % kSizes;
        const float left = float(1 + (round + t) % 5), top = float(2 + round % 3);
        TRef<TOutline> o = MakeRef<TOutline>();
        o->MoveTo({left, top});
        for (const TFloatPoint& p : {TFloatPoint{left, top + size}, TFloatPoint{left + size, top + size}, TFloatPoint{left + size, top}})
          o->AddPoint(p);
        std::int64_t sum = 0;
        std::int32_t lastRow = -1;
        o->OnSpan = [&](std::int32_t row, const std::uint16_t* cov, std::int32_t f, std::int32_t l) {
          if (row <= lastRow || f != int(left) || l != int(left) + size - 1) ++wrong[t];
          lastRow = row;
          for (std::int32_t i = f; i <= l; ++i) sum += cov[i];
        };
        r->Rasterize(o.get(), 600, 600);
        if (sum != std::int64_t(size) * size * 256) ++wrong[t];
      }
    });
  for (std::thread& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(wrong[t], 0) << "thread " << t;
}
