// Threads meeting on shadows: loader threads each make shadows with a
// generator of their own from one shared picture; nothing they share may
// change the result.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "ZmLib/Graphics/SysBitmapStore.h"
#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/Graphics/zmShadows.h"

using namespace zm;

namespace shadow_threads_test {

std::vector<std::uint32_t> PixelsOf(TImage* img) {
  auto* b = dynamic_cast<TSysBitmap*>(img->Store()->GetMipLevel(0, FindPixelFormat(PF_A8R8G8B8), nullptr));
  std::vector<std::uint32_t> out;
  for (int y = 0; y < b->Height(); ++y) out.insert(out.end(), b->Row32(y), b->Row32(y) + b->Width());
  return out;
}

}  // namespace shadow_threads_test

TEST(ShadowThreads, GeneratorsOnSeveralThreadsAgree) {
  TRef<TSysBitmap> pic = CreateSysBitmap(40, 30, FindPixelFormat(PF_A8R8G8B8));
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) pic->Row32(y)[x] = std::uint32_t((x * 7 + y * 3) & 255) << 24;
  TRef<TImage> image = SysBitmapToImage(pic.get(), false, u"pic.png");
  const TImageAccessor accessor = [&](const WideString& name) { return name == u"pic.png" ? image : nullptr; };

  // Contour presets and mip levels differ per job, so tables are built concurrently.
  auto params = [](int job) {
    TShadowParams p;
    p.Name = u"pic.png";
    p.Right = 40;
    p.Bottom = 30;
    p.MarginX = p.MarginY = 6;
    p.Blur = float(job % 3);
    p.Contour = job % 10;
    p.MipLevel = job % 2;
    return p;
  };
  constexpr int kJobs = 12, kThreads = 4;
  std::vector<std::vector<std::uint32_t>> expected(kJobs);
  {
    TRef<TShadowGenerator> g = MakeRef<TShadowGenerator>();
    for (int j = 0; j < kJobs; ++j)
      expected[std::size_t(j)] = shadow_threads_test::PixelsOf(g->MakeShadow(params(j), accessor).get());
  }
  TRef<TImage> fresh = SysBitmapToImage(pic.get(), false, u"pic.png");  // levels not yet built
  image = fresh;
  std::atomic<int> ready{0}, mismatches{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      TRef<TShadowGenerator> g = MakeRef<TShadowGenerator>();
      ready.fetch_add(1);
      while (ready.load() < kThreads) std::this_thread::yield();
      for (int i = 0; i < kJobs; ++i) {
        const int j = (i + t * 5) % kJobs;
        TRef<TImage> img = g->MakeShadow(params(j), accessor);
        if (!img || shadow_threads_test::PixelsOf(img.get()) != expected[std::size_t(j)]) mismatches.fetch_add(1);
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(mismatches.load(), 0);
}
