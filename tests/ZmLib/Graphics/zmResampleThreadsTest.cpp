#include "ZmLib/Graphics/zmResample.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "ZmLib/Graphics/SysPixelFormat.h"

using namespace zm;

// Threads stretch masks of sizes that come and go while the lists of the
// sizes met are kept, found and let go: each result is the one a thread
// alone makes.
TEST(ResampleThreads, ListsKeptForSizesMetWhileOthersStretch) {
  constexpr int kThreads = 4, kSizes = 90;  // more sizes than lists are kept
  const auto stretch = [](std::int32_t size) {
    TRef<TSysBitmap> s = CreateSysBitmap(size, size / 2 + 3, FindPixelFormat(PF_A8));
    for (std::int32_t y = 0; y < s->Height(); ++y)
      for (std::int32_t x = 0; x < s->Width(); ++x) s->ScanLine(y)[x] = std::uint8_t((x * 13) ^ (y * 7));
    TRef<TSysBitmap> d = CreateSysBitmap(size / 3 + 1, size / 6 + 2, FindPixelFormat(PF_A8));
    const TResampleFilterInfo& f = ResampleFilters[kDefaultResampleFilter];
    Stretch(s.get(), d.get(), f.Filter, nullptr, nullptr, {}, nullptr, 1.0f / 3, f.Support);
    std::vector<std::uint8_t> out;
    for (std::int32_t y = 0; y < d->Height(); ++y) out.insert(out.end(), d->ScanLine(y), d->ScanLine(y) + d->Width());
    return out;
  };
  std::vector<std::vector<std::uint8_t>> alone;
  for (int i = 0; i < kSizes; ++i) alone.push_back(stretch(20 + i));
  std::vector<int> wrong(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int round = 0; round < 2 * kSizes; ++round) {
        const int i = (round * 7 + t * 31) % kSizes;
        if (stretch(20 + i) != alone[std::size_t(i)]) ++wrong[std::size_t(t)];
      }
    });
  for (std::thread& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(wrong[std::size_t(t)], 0) << "thread " << t;
}
