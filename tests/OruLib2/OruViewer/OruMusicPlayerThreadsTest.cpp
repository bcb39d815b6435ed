#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "OruLib2/OruViewer/OruMusicPlayer.h"
#include "tests/OruLib2/OruViewer/OruMusicPlayerTestKit.h"

namespace oru {
namespace {

using namespace orutest;
using zm::MakeRef;
using zm::TRef;
using zmtest::TShowBuilder;

// The engine asks for positions, pauses and end limits while the player and
// loader threads open, start and release channels and the device clock runs
// on another thread: no request may be lost or hang, the time never passes
// the end limit, and stopping ends both threads with every channel released.
TEST(OruMusicPlayerThreads, EngineRequestsMeetThePlayerAndLoaderThreads) {
  TClockPlayerHook hook;
  TClockPlayer* d = hook.Device.get();
  TShowBuilder show;
  show.AddSlide(3000).Comment("voice.mp3", 2000);
  show.AddSlide(6000).Comment("other.mp3", 2000);
  show.Main().Key("opt_syncmode", 1).Key("opt_repeat", "repeat");
  show.MusicItem("a.mp3", 4000);
  TRef<TOruSource> src = OpenShow(show);
  auto p = MakeRef<TOruMusicPlayer>(src.Detach(), true);
  ASSERT_TRUE(p->Start());

  std::atomic<bool> done{false};
  std::thread device([&] {
    while (!done.load()) {
      d->Now = d->Now.load() + 1;
      std::this_thread::yield();
    }
  });
  int over = 0;
  for (int i = 0; i < 300; ++i) {
    switch (i % 6) {
      case 0: p->SetRunRequested(true); break;
      case 1: p->SetEndLimit(2000.0 + (i % 50) * 100); break;
      case 2: p->SetRunRequested(false); break;
      case 3: p->SetTime(-1, (i * 137) % 9000); break;
      case 4: p->SetVolume(0.5f); break;
      default: p->SetTime(1e9, -1); break;
    }
    if (p->GetTime() > p->LastEndLimit()) ++over;
    (void)p->IsReady();
  }
  EXPECT_EQ(over, 0);
  done = true;
  device.join();
  EXPECT_TRUE(p->Stop());
  EXPECT_TRUE(p->Items().empty());
  p = nullptr;
  std::lock_guard<std::mutex> g(d->Record->m);
  EXPECT_EQ(d->Record->created, d->Record->disposed);
}

}  // namespace
}  // namespace oru
