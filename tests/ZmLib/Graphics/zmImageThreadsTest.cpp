// Threads meeting on one picture: a store builds each level once however
// many threads ask, and a profile's lookup grid is made once.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/Graphics/zmColorProfiles.h"
#include "ZmLib/Graphics/zmJpegLoader.h"
#include "ZmLib/zmHookScope.h"
#include "tests/support/kit/JpegWriter.h"
#include "tests/support/kit/StreamBytes.h"

using namespace zm;

TEST(ImageThreads, LevelsOfOneStoreAreBuiltOnce) {
  zmtest::TJpegOptions opts;
  opts.Width = 200;
  opts.Height = 120;
  TRef<TMemoryStream> s = zmtest::MemoryStreamOf(zmtest::WriteJpeg(opts));
  TRef<TBitmapStore> store = LoadBitmapStore(s.get(), u"t.jpg", false, {});
  ASSERT_TRUE(store);
  constexpr int kThreads = 4;
  std::vector<std::vector<TBitmap*>> seen(kThreads);
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      ready.fetch_add(1);
      while (ready.load() < kThreads) std::this_thread::yield();
      // Each thread walks the levels in its own order, some in another format.
      for (int i = 0; i < 6; ++i) {
        const int level = (i + t) % 6;
        seen[std::size_t(t)].push_back(store->GetMipLevel(level, nullptr, nullptr));
        store->GetMipLevel(level, pfA8R8G8B8, nullptr);
      }
    });
  for (auto& th : threads) th.join();
  for (int t = 1; t < kThreads; ++t)
    for (int i = 0; i < 6; ++i) {
      const int level = (i + t) % 6;
      EXPECT_EQ(seen[std::size_t(t)][std::size_t(i)], seen[0][std::size_t(level)]) << t << " " << level;
    }
  for (int level = 0; level < 6; ++level) EXPECT_EQ(store->LevelBitmapCount(level), 2) << level;
}

namespace {
std::atomic<int> gTransforms{0};
class TIdentity : public TColorTransform {
public:
  using TColorTransform::TColorTransform;
  void TransformBitmap(TBitmap*) override {}
};
TRef<TColorTransform> CountingHook(TColorProfile* s, TColorProfile* t) {
  gTransforms.fetch_add(1);
  return MakeRef<TIdentity>(s, t);
}
}  // namespace

TEST(ImageThreads, LookupGridOfAProfileIsMadeOnce) {
  zm::THookScope transform(CreateColorTransformHook, &CountingHook);
  gTransforms = 0;
  TRef<TColorProfile> p = MakeRef<TColorProfile>(std::vector<std::uint8_t>{1, 2, 3}, u"p");
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        TColor24 out;
        const auto v = std::uint8_t(i * 5 + t);
        CorrectColorByProfile(p.get(), out, TColor24{v, v, v});
        if (std::abs(out.B - v) > 1) wrong.fetch_add(1);
      }
    });
  for (auto& th : threads) th.join();
  transform.Restore();
  EXPECT_EQ(gTransforms.load(), 1);
  EXPECT_EQ(wrong.load(), 0);
}
