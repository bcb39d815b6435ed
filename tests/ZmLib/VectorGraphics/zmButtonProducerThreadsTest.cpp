#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "ZmLib/VectorGraphics/zmButtonProducer.h"
#include "tests/ZmLib/VectorGraphics/ButtonSkinFixture.h"

using namespace zm;

// Faces of one skin made at once by several threads (the slide host
// resolves button keys on its loader threads): every face is right, the
// producer is shared, and the cache ends with one picture per file.
TEST(ButtonProducerThreads, FacesOfOneSkinAtOnce) {
  zmtest::TSkinFolder skins;
  skins.Skin("threads");
  std::atomic<int> columns{0};
  TRef<TButtonProducerHost> host =
      MakeRef<TButtonProducerHost>(skins.Loader(), [&](TButtonProducer*, bool&) { ++columns; });
  ASSERT_TRUE(host->GetProducer(u"threads")->LoadFromFile(skins.IniName("threads"), u"threads"));
  constexpr int kThreads = 4, kFaces = 12;
  std::vector<TButtonProducer*> producers(kThreads);
  std::vector<int> wrong(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      producers[std::size_t(t)] = host->GetProducer(u"threads");
      for (int i = 0; i < kFaces; ++i) {
        const std::int32_t state = (t + i) % 3, width = 12 + i;
        TRef<TImage> face = producers[std::size_t(t)]->MakeBitmap(std::uint8_t(state), width, 0, 0, 0);
        TBitmap* b = face ? face->Store()->GetMipLevel(0, PixelFormatByName(PF_A8R8G8B8), nullptr) : nullptr;
        if (!b || b->Width() != width) {
          ++wrong[std::size_t(t)];
          continue;
        }
        for (std::int32_t x = 0; x < width; ++x) {
          std::uint32_t p = 0;
          b->GetPixels32({&p, 1}, 0, x, 5, 1);
          if (p != zmtest::SkinPixel(state, zmtest::SkinColumn(x, width), 5)) ++wrong[std::size_t(t)];
        }
      }
    });
  for (std::thread& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(wrong[std::size_t(t)], 0) << t;
    EXPECT_EQ(producers[std::size_t(t)], producers[0]);
  }
  EXPECT_EQ(host->ProducerCount(), 1);
  EXPECT_GT(columns.load(), 0);
  // Threads may load the same picture at once, but the cache keeps one.
  EXPECT_LE(skins.Loads.load(), 3 * kThreads);
  TRef<TImage> kept = HashBitmaps()->FindImage(u"threads\\normal.bmp");
  ASSERT_TRUE(kept);
  EXPECT_EQ(HashBitmaps()->AddImage(u"threads\\normal.bmp", skins.Loader()(u"threads\\normal.bmp").get()), kept);
}
