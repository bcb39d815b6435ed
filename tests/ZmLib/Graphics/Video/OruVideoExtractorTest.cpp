// The video extractor over a fake source: which picture is recycled, which
// is handed out, what is read ahead, lost pictures, stopping and bad input.
#include "ZmLib/Graphics/Video/OruVideoExtractor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "tests/ZmLib/Graphics/Video/FakeFrameSource.h"

namespace extractortest {

using namespace zm;
using fakevideo::TFakePicture;
using fakevideo::TFakeSource;

constexpr double kFps = 25;
double At(int frame) { return frame * 1000.0 / kFps; }

// An extractor over a fake 100-frame source with N pictures.
struct TRig {
  explicit TRig(int pictures, std::int32_t frames = 100) {
    source = MakeRef<TFakeSource>(frames, kFps);
    x = TOruVideoExtractor::Create(source.get(), false);
    for (int i = 0; i < pictures; ++i) {
      pics.push_back(MakeRef<TFakePicture>());
      x->AddImage(pics.back().get());
    }
  }
  ~TRig() {
    source->HoldAt(0);
    x->Stop();
    x->Join();
  }
  std::vector<std::int32_t> Sorted() {
    std::vector<std::int32_t> f = x->PoolFrames();
    std::sort(f.begin(), f.end());
    return f;
  }
  TRef<TFakeSource> source;
  TRef<TOruVideoExtractor> x;
  std::vector<TRef<TFakePicture>> pics;
};

TEST(OruVideoExtractor, FrameIndicesClampAndTimeRanges) {
  TRig r(0);
  EXPECT_EQ(r.x->FrameIndexAt(At(105)), 99);
  EXPECT_EQ(r.x->FrameIndexAt(-1000), 0);
  EXPECT_EQ(r.x->FrameIndexAt(std::numeric_limits<double>::quiet_NaN()), 0);
  EXPECT_EQ(r.x->FrameIndexAt(1e300), 99);
  EXPECT_EQ(r.x->FrameIndexAt(At(10) + 19), 10);
  EXPECT_EQ(r.x->FrameIndexAt(At(10) + 21), 11);
  double start = 0, stop = 0;
  r.x->FrameTimeRange(10, start, stop);
  EXPECT_DOUBLE_EQ(start, 380);
  EXPECT_DOUBLE_EQ(stop, 420);
  // A source without frames or without a rate still answers.
  TRef<TFakeSource> none = MakeRef<TFakeSource>(0, 0);
  TRef<TOruVideoExtractor> x = TOruVideoExtractor::Create(none.get(), false);
  EXPECT_EQ(x->FrameIndexAt(5000), 0);
  x->FrameTimeRange(3, start, stop);
  EXPECT_EQ(start, 0);
  EXPECT_EQ(stop, 0);
  x->Stop();
  x->Join();
  EXPECT_FALSE(TOruVideoExtractor::Create(nullptr, true));
}

// A source that loops answers the frame numbers of every pass (it wraps
// them itself): the clamps reach the last frame of the last pass.
TEST(OruVideoExtractor, LoopingSourcesCountEveryPass) {
  TFrameSourceInfo info;
  info.FrameCount = 10;
  info.FrameRate = 10;
  info.Duration = 1000;
  EXPECT_EQ(PlayedFrameCount(info), 10);  // no loop count: the frame count
  info.LoopCount = 1;
  EXPECT_EQ(PlayedFrameCount(info), 10);
  info.LoopCount = 3;
  EXPECT_EQ(PlayedFrameCount(info), 30);
  info.Duration = 950;  // the last pass's last frame still gets a number
  EXPECT_EQ(PlayedFrameCount(info), 29);
  info.LoopCount = kLoopForever;
  info.Duration = 60000;
  info.FrameRate = 100;
  EXPECT_EQ(PlayedFrameCount(info), INT32_MAX);
  for (double bad : {0.0, -5.0, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
    info.FrameRate = bad;
    EXPECT_EQ(PlayedFrameCount(info), 10) << bad;
  }
  info.FrameCount = -4;
  EXPECT_EQ(PlayedFrameCount(info), 0);

  TRef<TFakeSource> source = MakeRef<TFakeSource>(10, 10);
  source->Info.Duration = 1000;
  source->Info.LoopCount = 3;
  TRef<TOruVideoExtractor> x = TOruVideoExtractor::Create(source.get(), false);
  EXPECT_EQ(x->FrameCount(), 30);
  EXPECT_EQ(x->FrameIndexAt(2500), 25);
  EXPECT_EQ(x->FrameIndexAt(1e300), 29);
  x->Stop();
  x->Join();
}

TEST(OruVideoExtractor, RequestsRecycleTheFarthestPicture) {
  TRig r(2);
  r.x->Request(true, At(10));
  r.x->Request(true, At(11));
  EXPECT_EQ(r.Sorted(), (std::vector<std::int32_t>{10, 11}));
  const TFakePicture* held10 = r.pics[0]->Frame == 10 ? r.pics[0].get() : r.pics[1].get();
  r.x->Request(true, At(12));
  EXPECT_EQ(r.Sorted(), (std::vector<std::int32_t>{11, 12}));
  EXPECT_EQ(held10->Frame, 12);
  // A frame already held is not decoded again.
  r.x->Request(true, At(12));
  EXPECT_EQ(r.source->Decodes(12), 1);
  EXPECT_EQ(r.x->RequestedIndex(), kNoVideoFrame);
}

TEST(OruVideoExtractor, TakeFramePrefersTheEarlierFrameAndReadsAhead) {
  TRig r(2);
  r.x->Request(true, At(10));
  r.x->Request(true, At(12));
  r.source->HoldAt(1);  // the worker stays at its next seek
  TVideoPoolEntry e;
  EXPECT_FALSE(r.x->TakeFrame(e, 0, At(11)));
  EXPECT_EQ(e.FrameIndex, 10);
  EXPECT_EQ(e.AskedIndex, 11);
  EXPECT_EQ(r.x->RequestedIndex(), kNoVideoFrame);  // 12 is there already
  r.x->PutBack(e);
  EXPECT_FALSE(e.Image);
  EXPECT_EQ(e.FrameIndex, kNoVideoFrame);
  EXPECT_EQ(e.AskedIndex, kNoVideoFrame);
  // At 60 Hz the next refresh still shows frame 12 of a 25 fps clip: 13 is
  // asked for.
  EXPECT_TRUE(r.x->TakeFrame(e, 60, At(12)));
  EXPECT_EQ(e.FrameIndex, 12);
  EXPECT_EQ(r.x->RequestedIndex(), 13);
  r.x->PutBack(e);
  r.x->PutBack(e);  // an entry without picture is ignored
  EXPECT_EQ(r.x->PoolCount(), 2);
}

TEST(OruVideoExtractor, ReadAheadStopsAtTheLastFrame) {
  TRig r(2);
  r.x->Request(true, At(98));
  r.x->Request(true, At(99));
  r.source->HoldAt(1);
  TVideoPoolEntry e;
  EXPECT_TRUE(r.x->TakeFrame(e, 0, At(150)));
  EXPECT_EQ(e.FrameIndex, 99);
  EXPECT_EQ(r.x->RequestedIndex(), kNoVideoFrame);
  r.x->PutBack(e);
}

// Reading ahead, the worker fills the frames after the consumer's in order,
// into empty pictures or those of frames gone past, and rests once the
// window is full; frames the consumer jumps over are never decoded.
TEST(OruVideoExtractor, ReadAheadFillsTheNextFramesInOrderAndSkipsThosePassed) {
  TRig r(5);
  r.x->SetReadAhead(3);
  EXPECT_EQ(r.x->ReadAhead(), 3);
  r.x->Request(true, At(10));
  r.x->WaitIdle();
  EXPECT_EQ(r.Sorted(), (std::vector<std::int32_t>{kNoVideoFrame, 10, 11, 12, 13}));
  // Shown in turn: each frame taken moves the window on by one.
  for (int f = 11; f <= 13; ++f) {
    TVideoPoolEntry e;
    EXPECT_TRUE(r.x->TakeFrame(e, 60, At(f))) << f;
    r.x->PutBack(e);
    r.x->WaitIdle();
  }
  EXPECT_EQ(r.Sorted(), (std::vector<std::int32_t>{12, 13, 14, 15, 16}));
  // The show jumps on (or the drawer was held up): the nearest picture is
  // shown meanwhile, and the worker goes straight to the frames due.
  TVideoPoolEntry e;
  EXPECT_FALSE(r.x->TakeFrame(e, 60, At(40)));
  EXPECT_EQ(e.FrameIndex, 16);
  r.x->WaitIdle();
  r.x->PutBack(e);
  r.x->WaitIdle();
  EXPECT_EQ(r.Sorted(), (std::vector<std::int32_t>{16, 40, 41, 42, 43}));
  EXPECT_EQ(r.source->Written(), (std::vector<std::int32_t>{10, 11, 12, 13, 14, 15, 16, 40, 41, 42, 43}));
  // Without read-ahead only what is asked for is decoded.
  r.x->SetReadAhead(0);
  ASSERT_TRUE(r.x->TakeFrame(e, 0, At(43)));
  r.x->PutBack(e);
  r.x->WaitIdle();
  EXPECT_EQ(r.source->Written().back(), 44);
  EXPECT_EQ(r.source->Written().size(), 12u);
}

// A frame the consumer goes past while the worker seeks it is not written:
// the worker goes on with the frames due.
TEST(OruVideoExtractor, AFrameGonePastWhileSoughtGivesWayToTheDueOnes) {
  TRig r(4);
  r.x->SetReadAhead(2);
  r.x->Request(true, At(10));
  r.x->WaitIdle();
  ASSERT_EQ(r.Sorted(), (std::vector<std::int32_t>{kNoVideoFrame, 10, 11, 12}));
  r.source->HoldAt(1);
  TVideoPoolEntry e;
  ASSERT_TRUE(r.x->TakeFrame(e, 0, At(11)));  // the worker seeks 13
  ASSERT_TRUE(r.source->WaitHeld());
  r.x->PutBack(e);
  EXPECT_FALSE(r.x->TakeFrame(e, 0, At(20)));
  EXPECT_EQ(e.FrameIndex, 12);
  r.x->PutBack(e);
  r.source->HoldAt(0);
  r.x->WaitIdle();
  EXPECT_EQ(r.source->Decodes(13), 0);
  EXPECT_EQ(r.source->Written(), (std::vector<std::int32_t>{10, 11, 12, 20, 21, 22}));
  EXPECT_EQ(r.Sorted(), (std::vector<std::int32_t>{12, 20, 21, 22}));
}

TEST(OruVideoExtractor, LostPicturesAreDecodedAgain) {
  TRig r(2);
  r.x->Request(true, At(5));
  r.x->Request(true, At(6));
  TFakePicture* p5 = r.pics[0]->Frame == 5 ? r.pics[0].get() : r.pics[1].get();
  // Lost while in the pool: the picture's callback asks for it again.
  p5->MarkContentLost();
  r.x->Request(true, At(5));
  EXPECT_EQ(r.Sorted(), (std::vector<std::int32_t>{5, 6}));
  EXPECT_EQ(r.source->Decodes(5), 2);
  EXPECT_FALSE(p5->ContentLost());
  // Lost while taken: found at the next request, and recycled first (the
  // read-ahead of 7 takes the other picture meanwhile).
  TVideoPoolEntry e;
  ASSERT_TRUE(r.x->TakeFrame(e, 0, At(6)));
  auto* p6 = static_cast<TFakePicture*>(e.Image.get());
  p6->MarkContentLost();
  r.x->PutBack(e);
  r.x->Request(true, At(6));
  EXPECT_EQ(p6->Frame, 6);
  EXPECT_FALSE(p6->ContentLost());
  EXPECT_EQ(r.source->Decodes(6), 2);
}

TEST(OruVideoExtractor, FailuresAndStopNeverHang) {
  // No pictures: a waiting request returns, nothing can be taken.
  {
    TRig r(0);
    r.x->Request(true, At(3));
    TVideoPoolEntry e;
    e.FrameIndex = 7;
    EXPECT_FALSE(r.x->TakeFrame(e, 60, At(3)));
    EXPECT_FALSE(e.Image);
    EXPECT_EQ(e.FrameIndex, kNoVideoFrame);
  }
  // A failed decode still answers the waiting request.
  {
    TRig r(1);
    r.source->FailDecode = true;
    r.x->Request(true, At(4));
    EXPECT_EQ(r.x->RequestedIndex(), kNoVideoFrame);
    EXPECT_EQ(r.pics[0]->Frame, -1);
  }
  // Stop with a picture out: it is released when it comes back, and the
  // owned source goes with the worker.
  int disposed = 0;
  TRef<TFakePicture> a = MakeRef<TFakePicture>(), b = MakeRef<TFakePicture>();
  TRef<TOruVideoExtractor> x = TOruVideoExtractor::Create(MakeRef<TFakeSource>(100, kFps, &disposed).Detach(), true);
  x->AddImage(a.get());
  x->AddImage(b.get());
  x->Request(true, At(1));
  TVideoPoolEntry e;
  ASSERT_TRUE(x->TakeFrame(e, 0, At(1)));
  x->Stop();
  x->Request(true, At(50));  // returns at once
  EXPECT_EQ(x->PoolCount(), 0);
  x->PutBack(e);
  EXPECT_EQ(x->PoolCount(), 0);
  x->AddImage(b.get());
  EXPECT_EQ(x->PoolCount(), 0);
  x->Join();
  EXPECT_TRUE(x->Finished());
  EXPECT_EQ(disposed, 1);
  EXPECT_EQ(a->RefCount(), 1);
  EXPECT_EQ(b->RefCount(), 1);
  x = nullptr;
  a->MarkContentLost();  // no callback is left behind
  b->MarkContentLost();
}

}  // namespace extractortest
