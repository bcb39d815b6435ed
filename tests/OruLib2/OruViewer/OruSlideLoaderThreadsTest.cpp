#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "OruLib2/OruViewer/OruSlideLoader.h"
#include "tests/OruLib2/OruViewer/OruSlideLoaderTestKit.h"

using namespace zm;
using namespace oru;
using namespace oru_loader_test;

namespace {

// What the engine does in a frame-stepped run: sets the time, then drains
// its queue (the loader waits in its sends) until the loader reports the
// slides of that time ready.
void WaitReady(TEngineSide* engine, TOruSlideLoader* loader, double time) {
  std::uint64_t seen = engine->Signals();
  loader->Timing()->CurrentTime = time;
  for (;;) {
    engine->ProcessEvents();
    if (loader->SlidesReady(time)) return;
    ASSERT_TRUE(engine->WaitSignal(seen)) << "loader never got ready for " << time;
  }
}

}  // namespace

TEST(SlideLoaderThreads, ThreeSlidesReadyAtEveryJumpOfTheClock) {
  TRef<TEngineSide> engine = MakeRef<TEngineSide>();
  engine->BindOwner();
  auto l = MakeRef<TOruSlideLoader>(MakeSource(TenSlides()).get(), 3, 320, 240, false);
  l->SetListener(engine.get());
  l->OnSlidesReady = [e = engine.get()](TOruSlideLoader*) { e->Signal(); };
  ASSERT_TRUE(l->Start());

  const double times[] = {0.5, 1500, 8200, 2100, 2200, 15500, 300, 9999, 500};
  for (int round = 0; round < 3; ++round)
    for (double t : times) {
      SCOPED_TRACE(t);
      WaitReady(engine.get(), l.get(), t);
      if (HasFatalFailure()) return;
      const std::int32_t first = static_cast<std::int32_t>(t / 1000);
      EXPECT_EQ(engine->Last(), (std::vector<std::int32_t>{first, first + 1, first + 2}));
    }

  // Stopping while it may be sending: the engine drains until it has ended.
  l->Terminate();
  while (!l->Wait(1)) engine->ProcessEvents();
  EXPECT_FALSE(l->Running());
}

TEST(SlideLoaderThreads, SettledLoaderWakesWhenTheTimeLeavesItsListsSpan) {
  TRef<TEngineSide> engine = MakeRef<TEngineSide>();
  engine->BindOwner();
  auto l = MakeRef<TOruSlideLoader>(MakeSource(TenSlides()).get(), 3, 320, 240, false);
  l->SetListener(engine.get());
  l->OnSlidesReady = [e = engine.get()](TOruSlideLoader*) { e->Signal(); };
  ASSERT_TRUE(l->Start());
  WaitReady(engine.get(), l.get(), 500);
  ASSERT_EQ(engine->Last(), (std::vector<std::int32_t>{0, 1, 2}));
  // Only the writer of the time tells it, as the engine does on every pass;
  // times inside the first slide's span change nothing.
  for (double t : {600.0, 900.0}) {
    l->Timing()->CurrentTime = t;
    l->TimeMoved(t);
  }
  std::uint64_t seen = engine->Signals();
  l->Timing()->CurrentTime = 3500;
  l->TimeMoved(3500);
  while (engine->Last() != std::vector<std::int32_t>{3, 4, 5}) {
    ASSERT_TRUE(engine->WaitSignal(seen)) << "the loader slept through the move";
    engine->ProcessEvents();
  }
  l->Terminate();
  while (!l->Wait(1)) engine->ProcessEvents();
}

TEST(SlideLoaderThreads, StopsWhileItsEngineNoLongerListens) {
  TRef<TEngineSide> engine = MakeRef<TEngineSide>();
  auto l = MakeRef<TOruSlideLoader>(MakeSource(TenSlides()).get(), 3, 320, 240, false);
  l->SetListener(engine.get());
  std::uint64_t seen = engine->Signals();
  l->Timing()->CurrentTime = 4200.0;
  ASSERT_TRUE(l->Start());
  // The first list is queued and the loader waits for it to be taken.
  ASSERT_TRUE(engine->WaitSignal(seen));
  EXPECT_EQ(engine->Count(), 1u);
  // The engine goes away: its queue closes, and the loader ends in time.
  engine->Close();
  EXPECT_TRUE(l->Stop(TOruSlideLoader::kDisposeWaitMs));
  EXPECT_EQ(engine->Handled(), 0);
}

TEST(SlideLoaderThreads, DirectDeliveryAndBlockingWait) {
  TRef<TEngineSide> engine = MakeRef<TEngineSide>();
  auto l = MakeRef<TOruSlideLoader>(MakeSource(TenSlides()).get(), 2, 320, 240, false);
  l->SetListener(engine.get());
  l->SendDirect = true;  // handled on the loader thread: nobody drains
  // Never started: nothing gets ready.
  EXPECT_FALSE(l->WaitSlidesReady(0, 20));
  l->Timing()->CurrentTime = 6100.0;
  ASSERT_TRUE(l->Start());
  ASSERT_TRUE(l->WaitSlidesReady(6100, 10000));
  EXPECT_EQ(engine->Last(), (std::vector<std::int32_t>{6, 7}));
  l->Timing()->CurrentTime = 1100.0;
  ASSERT_TRUE(l->WaitSlidesReady(1100, 10000));
  EXPECT_EQ(engine->Last(), (std::vector<std::int32_t>{1, 2}));
  EXPECT_EQ(engine->Count(), 0u);
  // Freed while running: the thread ends before its cache goes.
}
