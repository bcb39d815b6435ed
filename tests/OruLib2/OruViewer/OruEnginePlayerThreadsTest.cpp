#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "OruLib2/OruViewer/OruEngine.h"
#include "Platform/PlatSystem.h"
#include "tests/OruLib2/OruViewer/OruMusicPlayerTestKit.h"
#include "tests/support/kit/IniText.h"

using namespace zm;
using namespace oru;

namespace {

// The engine over the player's own loader thread and slide cache, driven
// pass by pass on this thread with a manual clock. Slides without sections
// build at once; the engine's own pass waits for the loader's lists.
class OruEnginePlayerThreadsTest : public ::testing::Test {
protected:
  void SetUp() override {
    engine = MakeRef<TOruEngine>(nullptr, 0, false, false, listener.get());
    engine->SetFrameStep(10);
  }
  void TearDown() override {
    EXPECT_TRUE(engine->Stop(5000));
    engine = nullptr;
    listener->ProcessEvents();
  }
  void Open(const std::vector<long long>& ends, const char* repeat, std::int32_t time) {
    TIniText t;
    t.Section("main").Key("opt_repeat", repeat).Key("opt_pausewheninactive", 0);
    t.Section("Times").Key("opt_slidescount", static_cast<long long>(ends.size()));
    for (std::size_t i = 0; i < ends.size(); ++i) t.Key("opt_synchpos" + std::to_string(i + 1), ends[i]);
    // Each slide has its section, as in every saved show (the music reads them).
    for (std::size_t i = 0; i < ends.size(); ++i) t.Section("Slide" + std::to_string(i + 1));
    TRef<TIniFile> doc = MakeRef<TIniFile>();
    doc->LoadFromText(TByteString(t.Bytes(false)));
    engine->RequestOpen(MakeRef<TFileAccessor>(MakeRef<TRealFileSource>().get()).get(), doc.get(), time, false);
  }
  double Shown() { return engine->Loader() ? engine->Loader()->CurrentTime() : -1; }
  bool SlidesCover(double t) {
    for (const TOruPreparedSlide& s : engine->Slides())
      if (s.Times.Start <= t && t <= s.Times.End) return true;
    return false;
  }
  // Passes (the clock moving by Ms while the show runs) until Done, at most Limit.
  template <class F>
  bool PassUntil(F done, double ms = 10, int limit = 20000) {
    for (int i = 0; i < limit; ++i) {
      if (engine->Active()) clock.Advance(static_cast<std::uint32_t>(ms));
      engine->Step();
      listener->ProcessEvents();
      if (done()) return true;
    }
    return false;
  }

  // No sound device: the show runs on the tick count, which the test moves.
  orutest::TClockPlayerHook noSound{false};
  plat::TManualClock clock{0};
  TRef<TThreadEventList> listener = MakeRef<TThreadEventList>();
  TRef<TOruEngine> engine;
};

TEST_F(OruEnginePlayerThreadsTest, ThreeSlidesAreReadyBeforeTheClockRunsAlsoAfterJumps) {
  std::vector<long long> ends;
  for (int i = 1; i <= 10; ++i) ends.push_back(i * 1000LL);
  Open(ends, "close", 0);
  ASSERT_TRUE(PassUntil([&] { return engine->Active(); }));
  EXPECT_EQ(engine->Slides().size(), 3u);
  EXPECT_EQ(Shown(), 0);

  // The list follows the clock.
  ASSERT_TRUE(PassUntil([&] { return Shown() >= 2500; }));
  ASSERT_TRUE(PassUntil([&] { return SlidesCover(Shown()) && engine->Slides().front().Index >= 1; }));

  // Far ahead and back: the clock stands until three slides around the new
  // time are prepared.
  for (const std::int32_t target : {8500, 1200}) {
    engine->RequestPosition(target, false);
    ASSERT_TRUE(PassUntil([&] { return engine->PlayingGeneration() == engine->Generation(); }));
    ASSERT_TRUE(PassUntil([&] { return engine->Active(); }));
    EXPECT_EQ(Shown(), target);
    EXPECT_EQ(engine->Slides().size(), 3u);
    EXPECT_TRUE(SlidesCover(target)) << target;
  }
  ASSERT_TRUE(PassUntil([&] { return Shown() >= 10000; }));
  EXPECT_EQ(Shown(), 10000);
}

TEST_F(OruEnginePlayerThreadsTest, ShowWithoutSlidesStandsAndStops) {
  Open({}, "repeat", 0);
  EXPECT_FALSE(PassUntil([&] { return engine->Active(); }, 10, 200));
  EXPECT_EQ(Shown(), 0);
}

}  // namespace
