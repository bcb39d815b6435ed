#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "OruLib2/OruClasses/OruSlideCache.h"
#include "tests/support/kit/IniText.h"
#include "tests/support/kit/ShowBuilder.h"

namespace {

using namespace oru;
using zm::TRef;

class TSharedTiming : public ITiming {
public:
  std::atomic<double> Time{0};
  double GetTime() override { return Time.load(); }
};

// The loader builds and drops containers while the engine brings the ones
// of the last list it was handed to their time: a container the cache lets
// go must stay alive in the engine's hands.
TEST(SlideCacheThreads, EngineDrawsWhatTheLoaderHandsOver) {
  zmtest::TIniText t;
  t.Section("main").Key("opt_scr_width", 320).Key("opt_scr_height", 240);
  t.Section("Times").Key("opt_slidescount", 3);
  for (int i = 1; i <= 3; ++i) t.Key("opt_synchpos" + std::to_string(i), i * 100);
  for (int i = 1; i <= 3; ++i)
    t.Section("Slide" + std::to_string(i))
        .Key("bstyle", 1)
        .Object("TheEffect", "AnEffect")
        .Key("GUID", zmtest::NewShowGuid())
        .Key("time", 50)
        .End();
  TRef<zm::TIniFile> doc = zm::MakeRef<zm::TIniFile>();
  doc->LoadFromText(zm::TByteString(t.Bytes(false)));
  TRef<TFileAccessor> accessor = zm::MakeRef<TFileAccessor>(zm::MakeRef<TRealFileSource>().get());
  TRef<TOruSource> source = zm::MakeRef<TOruSource>(accessor.get(), false, doc.get(), false);
  TRef<TSlideProducer> producer = zm::MakeRef<TSlideProducer>(source.get(), nullptr, 320, 240, false);
  producer->SetOutputSize({320, 240}, false, 100, 100);
  TRef<TSharedTiming> timing = zm::MakeRef<TSharedTiming>();
  producer->SetTiming(timing.get());
  TRef<TSlideCache> cache = zm::MakeRef<TSlideCache>(producer.get(), 3, false);

  std::mutex lock;
  std::condition_variable wake;
  std::vector<TRef<TDrawContainer>> handed;
  std::uint64_t generation = 0;
  bool done = false;
  cache->OnListChanged = [&](TSlideCache*, const TDrawContainers& list, std::int32_t count) {
    std::lock_guard<std::mutex> g(lock);
    handed.assign(list.begin(), list.begin() + count);
    ++generation;
    wake.notify_one();
  };

  std::thread engine([&] {
    std::uint64_t seen = 0;
    for (;;) {
      std::vector<TRef<TDrawContainer>> mine;
      {
        std::unique_lock<std::mutex> g(lock);
        wake.wait(g, [&] { return done || generation != seen; });
        if (generation == seen && done) return;
        seen = generation;
        mine = handed;
      }
      for (auto& c : mine) {
        const double now = c->CurrentTime();
        c->SetTime(now);
        if (c->Slide) {
          EXPECT_EQ(c->Slide->Width, 320);
        }
      }
    }
  });

  for (int step = 0; step < 3000; ++step) {
    const double now = (step * 7) % 2000;  // runs ahead and jumps back
    timing->Time = now;
    cache->Update(now);
  }
  {
    std::lock_guard<std::mutex> g(lock);
    done = true;
    wake.notify_one();
  }
  engine.join();
  EXPECT_GE(cache->Count(), 1);
  cache->OnListChanged = nullptr;
}

}  // namespace
