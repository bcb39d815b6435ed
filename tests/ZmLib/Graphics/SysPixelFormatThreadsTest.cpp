#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/SysPixelFormat.h"

using namespace zm;

// Slide loaders look formats and converters up while the UI thread does:
// every thread sees one object per name and per pair, and converts with it.
TEST(PixelFormatThreads, LookupsFromSeveralThreads) {
  constexpr int kThreads = 4, kNames = 60;
  std::vector<std::vector<TPixelFormat*>> seen(kThreads, std::vector<TPixelFormat*>(kNames));
  std::vector<std::vector<TPixelConverter*>> convs(kThreads, std::vector<TPixelConverter*>(kNames));
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kNames; ++i) {
        // The same new names on every thread, in a different order.
        const int n = (i * 7 + t * 13) % kNames;
        const std::string name = "A8R8G8B8 #" + std::to_string(n);
        TPixelFormat* f = FindPixelFormat(name);
        if (f->Name != TByteString(name) || f->BytesPerPixel != 4) ++wrong;
        seen[std::size_t(t)][std::size_t(n)] = f;
        convs[std::size_t(t)][std::size_t(n)] = FindPixelConverter(pfB5G6R5, f);
        // A bitmap of the thread's own, converted through the shared registry.
        TRef<TSysBitmap> a = CreateSysBitmap(8, 2, f);
        a->FillRect({0, 0, 8, 2}, MakeColor32(255, 0, 0, 255));
        TRef<TBitmap> b = ConvertBitmap(a.get(), pfB5G6R5, TSysBitmap::StaticClass());
        if (RefCast<TSysBitmap>(b)->Row16(1)[7] != 0x001F) ++wrong;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
  for (int t = 1; t < kThreads; ++t) {
    EXPECT_EQ(seen[std::size_t(t)], seen[0]);
    EXPECT_EQ(convs[std::size_t(t)], convs[0]);
  }
}
