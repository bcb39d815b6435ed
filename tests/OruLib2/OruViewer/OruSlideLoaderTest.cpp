#include "OruLib2/OruViewer/OruSlideLoader.h"

#include <gtest/gtest.h>

#include <chrono>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "OruLib2/OruClasses/OruFileAccess.h"
#include "ZmLib/Win32/winScreen.h"
#include "tests/OruLib2/OruViewer/OruSlideLoaderTestKit.h"

using namespace zm;
using namespace oru;
using namespace oru_loader_test;

namespace {

TRef<TOruSlideLoader> WindowLoader(const std::vector<std::pair<std::string, std::string>>& main) {
  return MakeRef<TOruSlideLoader>(MakeSource({1000, 2000}, main).get(), 3, 320, 240, false);
}

}  // namespace

TEST(SlideLoader, WindowFromTheShowOptions) {
  const TSize screen = ScreenSize();
  {
    // Full screen by default: the screen's size, the show's name.
    auto l = WindowLoader({{"projectname", "Holiday"}});
    EXPECT_EQ(l->FullScreenMode, 1);
    EXPECT_EQ(l->WindowKind(), 0);
    EXPECT_EQ(l->Caption, u"Holiday");
    EXPECT_FALSE(l->Framed);
    EXPECT_EQ(l->Width, screen.cx);
    EXPECT_EQ(l->Height, screen.cy);
  }
  {
    auto l = WindowLoader({{"projectname", "Holiday"}, {"opt_scr_full", "0"}, {"opt_withoutborder", "0"},
                     {"opt_scr_caption", "In a frame"}, {"opt_scr_width", "800"}, {"opt_scr_height", "600"}});
    EXPECT_TRUE(l->Framed);
    EXPECT_EQ(l->WindowKind(), 1);
    EXPECT_EQ(l->Caption, u"In a frame");
    EXPECT_EQ(l->Width, 800);
    EXPECT_EQ(l->Height, 600);
  }
  {
    // Borderless (the default of a window) keeps the show's name.
    auto l = WindowLoader({{"projectname", "Holiday"}, {"opt_scr_full", "0"}, {"opt_scr_caption", "unused"}});
    EXPECT_FALSE(l->Framed);
    EXPECT_EQ(l->WindowKind(), 2);
    EXPECT_EQ(l->Caption, u"Holiday");
  }
  {
    // Mode 2 keeps the screen size whatever the show's size says.
    auto l = WindowLoader({{"opt_scr_full", "2"}, {"opt_withoutborder", "0"}, {"opt_scr_width", "800"}});
    EXPECT_EQ(l->Caption, u"OruShow");
    EXPECT_FALSE(l->Framed);
    EXPECT_EQ(l->WindowKind(), 2);
    EXPECT_EQ(l->Width, screen.cx);
    EXPECT_EQ(l->Height, screen.cy);
  }
  {
    // Damaged or absent sizes fall back to the show's own default, 1920 x
    // 1080, as its slides are laid out.
    auto l = WindowLoader({{"opt_scr_full", "3"}, {"opt_scr_width", "0"}, {"opt_scr_height", "100000"}});
    EXPECT_EQ(l->Width, 1920);
    EXPECT_EQ(l->Height, 1080);
    auto m = WindowLoader({{"opt_scr_full", "0"}, {"opt_scr_width", "-5"}, {"opt_scr_height", "x"}});
    EXPECT_EQ(m->Width, 1920);
    EXPECT_EQ(m->Height, 1080);
    auto n = WindowLoader({{"opt_scr_full", "0"}, {"opt_scr_height", "500"}});
    EXPECT_EQ(n->Width, 1920);
    EXPECT_EQ(n->Height, 500);
  }
}

TEST(SlideLoader, SourceOwnershipAndBadArguments) {
  EXPECT_THROW(MakeRef<TOruSlideLoader>(nullptr, 3, 320, 240, true), EAbort);

  TOruSource* source = MakeSource({1000}).Detach();
  source->AddRef();  // ours, to watch the loader's go
  {
    // A capacity out of range is clamped.
    auto l = MakeRef<TOruSlideLoader>(source, 7, 320, 240, true);
    EXPECT_EQ(l->Cache()->Capacity(), 3);
    EXPECT_EQ(l->Source(), source);
  }
  EXPECT_EQ(source->RefCount(), 1);
  {
    auto l = MakeRef<TOruSlideLoader>(source, 0, 320, 240, false);
    EXPECT_EQ(l->Cache()->Capacity(), 1);
  }
  EXPECT_EQ(source->RefCount(), 1);
  source->Free();
}

TEST(SlideLoader, LayoutForTheWindowOrTheDevice) {
  auto l = WindowLoader({{"opt_scr_full", "3"}, {"opt_scr_width", "400"}, {"opt_scr_height", "300"}});
  l->Layout(false);
  TRect r = l->GetViewRect();
  EXPECT_EQ(r.Right - r.Left, 400);
  EXPECT_EQ(r.Bottom - r.Top, 300);
  // A device scaled down to fit the monitor lays out for its own size.
  l->Layout(TSize{200, 150}, false);
  r = l->GetViewRect();
  EXPECT_EQ(r.Right - r.Left, 200);
  EXPECT_EQ(r.Bottom - r.Top, 150);
}

// The loader's passes run here, on the listener's own thread: sends are
// handled at once.
TEST(SlideLoader, KeepsThreeSlidesAheadWhileTheClockJumps) {
  TRef<TEngineSide> engine = MakeRef<TEngineSide>();
  engine->BindOwner();
  auto l = MakeRef<TOruSlideLoader>(MakeSource(TenSlides()).get(), 3, 320, 240, false);
  l->SetListener(engine.get());

  struct TJump {
    double time;
    std::int32_t first;
  };
  // Forward, far forward, back, into the second pass of the show, back to
  // the start.
  for (TJump j : {TJump{500, 0}, TJump{1500, 1}, TJump{7500, 7}, TJump{2500, 2}, TJump{13500, 13}, TJump{500, 0}}) {
    SCOPED_TRACE(j.time);
    l->Timing()->CurrentTime = j.time;
    EXPECT_FALSE(l->SlidesReady(j.time));
    int builds = 0;
    while (!l->Pass()) {
      ++builds;
      ASSERT_LE(builds, 3);
      // Never an empty list: the last old slide stays until a new one is in.
      ASSERT_GE(engine->Last().size(), 1u);
      ASSERT_FALSE(l->SlidesReady(j.time));
    }
    EXPECT_TRUE(l->SlidesReady(j.time));
    EXPECT_FALSE(l->SlidesReady(j.time + 1));
    EXPECT_EQ(engine->Last(), (std::vector<std::int32_t>{j.first, j.first + 1, j.first + 2}));
    // Each list is a full snapshot in slide order.
    for (const auto& list : engine->Lists())
      for (std::size_t i = 1; i < list.size(); ++i) ASSERT_LT(list[i - 1], list[i]);
    engine->ClearLists();
  }
  // A one-step move within a slide builds nothing and sends nothing.
  l->Timing()->CurrentTime = 600.0;
  EXPECT_TRUE(l->Pass());
  EXPECT_TRUE(l->SlidesReady(600));
  EXPECT_TRUE(engine->Lists().empty());
}

// A show standing at its end, or at the end of a slide that waits, stands
// exactly where the first slide's visibility ends: the list holds there,
// and a pass finds nothing to do until the time leaves it or the full rest
// is over (it used to pass again at once, pass after pass).
TEST(SlideLoader, TimeStandingAtTheEndOfTheFirstSlideLetsTheLoaderRest) {
  TRef<TEngineSide> engine = MakeRef<TEngineSide>();
  engine->BindOwner();
  auto l = MakeRef<TOruSlideLoader>(MakeSource({1000, 2000}, {{"opt_repeat", "stop"}}).get(), 3, 320, 240, false);
  l->SetListener(engine.get());
  for (double end : {1000.0, 2000.0}) {
    SCOPED_TRACE(end);
    l->Timing()->CurrentTime = end;
    for (int builds = 0; !l->Pass(); ++builds) ASSERT_LE(builds, 3);
    l->TimeMoved(end);
    const auto start = std::chrono::steady_clock::now();
    l->Step();
    EXPECT_GE(std::chrono::steady_clock::now() - start,
              std::chrono::milliseconds(TOruSlideLoader::kSettledSleepMs - 10));
  }
}

TEST(SlideLoader, DamagedShowsAndTimesStillSettle) {
  TRef<TEngineSide> engine = MakeRef<TEngineSide>();
  engine->BindOwner();
  auto l = MakeRef<TOruSlideLoader>(MakeSource({}).get(), 3, 320, 240, false);
  l->SetListener(engine.get());
  l->Timing()->CurrentTime = 100.0;
  // The build fails each pass (no slides): a frame goes on without them.
  EXPECT_TRUE(l->Pass());
  EXPECT_TRUE(l->SlidesReady(100));
  EXPECT_TRUE(l->Pass());
  EXPECT_EQ(l->Cache()->Count(), 0);

  // A time that is not a number builds nothing, but a frame at it is not
  // kept waiting.
  auto m = MakeRef<TOruSlideLoader>(MakeSource(TenSlides()).get(), 3, 320, 240, false);
  m->SetListener(engine.get());
  m->Timing()->CurrentTime = std::numeric_limits<double>::quiet_NaN();
  EXPECT_TRUE(m->Pass());
  EXPECT_TRUE(m->SlidesReady(std::numeric_limits<double>::quiet_NaN()));
  EXPECT_EQ(m->Cache()->Count(), 0);
  EXPECT_TRUE(engine->Lists().empty());
}
