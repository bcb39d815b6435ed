// The video extractor's worker meeting consumers on other threads: a slow
// and a fast consumer taking and putting back while pictures get lost, and
// a stop that comes while the worker decodes.
#include "ZmLib/Graphics/Video/OruVideoExtractor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "tests/ZmLib/Graphics/Video/FakeFrameSource.h"

namespace extractorthreadstest {

using namespace zm;
using fakevideo::TFakePicture;
using fakevideo::TFakeSource;

// Also with the worker reading ahead on its own.
TEST(OruVideoExtractorThreads, ConsumersTakeAndPutBackWhilePicturesGetLost) {
  for (const int ahead : {0, 2}) {
    SCOPED_TRACE(ahead);
    TRef<TFakeSource> source = MakeRef<TFakeSource>(1000, 25);
    TRef<TOruVideoExtractor> x = TOruVideoExtractor::Create(source.get(), false);
    x->SetReadAhead(ahead);
    std::vector<TRef<TFakePicture>> pics;
    for (int i = 0; i < 3 + ahead; ++i) {
      pics.push_back(MakeRef<TFakePicture>());
      x->AddImage(pics.back().get());
    }
    std::atomic<bool> doubleHanded{false};
    std::atomic<int> consumersLeft{2};
    // Work: how long the consumer keeps its picture (in yields, not time).
    const auto consumer = [&](double displayRate, int work, bool waits) {
      for (int i = 0; i < 400; ++i) {
        const double t = i * 1000.0 / displayRate;
        if (waits) x->Request(true, t);
        TVideoPoolEntry e;
        if (!x->TakeFrame(e, displayRate, t) && !e.Image) continue;
        auto* p = static_cast<TFakePicture*>(e.Image.get());
        if (p->Holders.fetch_add(1) != 0) doubleHanded = true;
        for (int k = 0; k < work; ++k) std::this_thread::yield();
        p->Holders.fetch_sub(1);
        x->PutBack(e);
      }
      consumersLeft.fetch_sub(1);
    };
    std::thread slow(consumer, 30.0, 50, true);
    std::thread fast(consumer, 120.0, 0, false);
    // A third thread loses pictures as a device reset would.
    std::thread loser([&] {
      for (int i = 0; consumersLeft.load() > 0; ++i) {
        pics[std::size_t(i) % pics.size()]->MarkContentLost();
        std::this_thread::yield();
      }
    });
    slow.join();
    fast.join();
    loser.join();
    x->Stop();
    x->Join();
    EXPECT_FALSE(doubleHanded.load());
    EXPECT_FALSE(source->HandedOutWhileDecoding.load());
    EXPECT_TRUE(x->Finished());
    for (auto& p : pics) EXPECT_EQ(p->RefCount(), 1);
  }
}

TEST(OruVideoExtractorThreads, StopWhileDecoding) {
  TRef<TFakeSource> source = MakeRef<TFakeSource>(100, 25);
  TRef<TOruVideoExtractor> x = TOruVideoExtractor::Create(source.get(), false);
  TRef<TFakePicture> pic = MakeRef<TFakePicture>();
  x->AddImage(pic.get());
  source->HoldAt(2);
  std::thread waiter([&] { x->Request(true, 400); });
  ASSERT_TRUE(source->WaitHeld());
  // The worker decodes outside the lock: stopping neither waits for it nor
  // finds the picture in the pool.
  x->Stop();
  EXPECT_EQ(x->PoolCount(), 0);
  source->HoldAt(0);
  waiter.join();
  x->Join();
  EXPECT_TRUE(x->Finished());
  EXPECT_EQ(pic->Frame, 10);
  EXPECT_EQ(pic->RefCount(), 1);  // the worker let it go
  EXPECT_EQ(source->RefCount(), 1);
}

}  // namespace extractorthreadstest
