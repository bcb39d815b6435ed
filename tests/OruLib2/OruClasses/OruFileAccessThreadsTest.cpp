#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "OruLib2/OruClasses/OruFileAccess.h"
#include "ZmLib/Graphics/SysBitmapStore.h"
#include "ZmLib/Graphics/zmBitmap.h"
#include "ZmLib/Graphics/zmPixelFormat.h"
#include "tests/support/kit/StreamBytes.h"

using namespace zm;
using namespace oru;

namespace {

constexpr int kThreads = 8;

std::atomic<int> gThreadDecodes{0};

// Pictures of ".thr" files: a 4 x 4 picture whatever the bytes.
TRef<TBitmapStore> LoadThreadPicture(TStream* stream, const WideString& fileName, bool ownsStream,
                                     const TImageLoadHandler& handler) {
  zmtest::ReadAllBytes(stream);
  ++gThreadDecodes;
  TRef<TDirectBitmap> bitmap = MakeRef<TDirectBitmap>(4, PixelFormatByName(TByteString(PF_A8R8G8B8)), 4);
  TRef<TBitmapStore> store = MakeRef<TWrapperBitmapStore>(fileName, handler, false, bitmap.get());
  if (ownsStream) stream->ReleaseRef();
  return store;
}

class TBytesSource : public TFileSource {
public:
  TStream* OpenFile(const WideString& name) override {
    return name.ends_with(u".thr") || name.ends_with(u".THR") ? zmtest::MemoryStreamOf("picture").Detach() : nullptr;
  }
};

class FileAccessThreads : public ::testing::Test {
protected:
  void SetUp() override {
    RegisterImageLoader(&LoadThreadPicture, {u".thr"});
    gThreadDecodes = 0;
    liveBefore_ = LiveImageHandleCount();
  }
  void TearDown() override {
    UnregisterImageLoader(&LoadThreadPicture);
    EXPECT_EQ(LiveImageHandleCount(), liveBefore_);
  }
  std::int32_t liveBefore_ = 0;
};

TEST_F(FileAccessThreads, ManyThreadsDecodeOnePictureOnce) {
  TRef<TBytesSource> source = MakeRef<TBytesSource>();
  TRef<TFileAccessor> accessor = MakeRef<TFileAccessor>(source.get());
  std::vector<TRef<TOruImage>> images(kThreads);
  std::latch start(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      // Half through copies of the accessor: the source decides the sharing.
      TRef<TFileAccessor> mine = t % 2 ? accessor->CreateCopy() : accessor;
      start.arrive_and_wait();
      images[t] = mine->GetImage(t % 3 ? u"shared.thr" : u"SHARED.THR");
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(gThreadDecodes, 1);
  for (const auto& image : images) {
    ASSERT_TRUE(image);
    EXPECT_EQ(image->Params.Width, 4);
    EXPECT_EQ(image->Store(), images[0]->Store());
  }
}

TEST_F(FileAccessThreads, PicturesComeAndGoWhileOthersAsk) {
  TRef<TBytesSource> one = MakeRef<TBytesSource>();
  TRef<TBytesSource> two = MakeRef<TBytesSource>();
  TRef<TFileAccessor> accessors[2] = {MakeRef<TFileAccessor>(one.get()), MakeRef<TFileAccessor>(two.get())};
  const WideString names[3] = {u"a.thr", u"b.thr", u"c.thr"};
  std::latch start(kThreads);
  std::atomic<int> missing{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      TRef<TOruImage> kept;
      for (int i = 0; i < 200; ++i) {
        TRef<TOruImage> image = accessors[(t + i) % 2]->GetImage(names[(t * 7 + i) % 3]);
        if (!image || image->Params.Width != 4) ++missing;
        TRef<TImage> copy = image ? image->CreateCopy() : nullptr;
        if (i % 5 == 0) kept = image;  // some live on across the next asks
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(missing, 0);
  EXPECT_GE(gThreadDecodes, 6);
}

TRef<TImage> CountingCallback(void* data, TFileSource*, const WideString&) {
  ++*static_cast<std::atomic<int>*>(data);
  return nullptr;
}

TEST_F(FileAccessThreads, CallbacksAddedAndFreedWhileLoading) {
  TRef<TBytesSource> source = MakeRef<TBytesSource>();
  std::atomic<int> calls{0};
  TRef<TCallbackHandle> fixed = source->AddCallback(&CountingCallback, &calls);
  std::latch start(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      for (int i = 0; i < 100; ++i) {
        if (t % 2) {
          std::atomic<int> own{0};
          TRef<TCallbackHandle> handle = source->AddCallback(&CountingCallback, &own);
          source->CallImageCallbacks(u"x.thr");
          handle.reset();  // waits for other threads still in its callback
        } else {
          source->CallImageCallbacks(u"y.thr");
        }
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(calls, kThreads * 100);
}

}  // namespace
