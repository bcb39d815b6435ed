// The loader thread readies still pictures at their screen size (and lets
// them go again) while the engine draws them: every frame shows the
// picture, from its screen-sized texture or from its level.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/OruLib2/3DEngine/DrawerOnDeviceFixture.h"

namespace {

using namespace zm;
using namespace oru;
using drawertest::MakeImage;

class ScreenLevelsThreads : public drawertest::TDrawerOnDevice {};

TEST_F(ScreenLevelsThreads, TheLoaderReadiesStillPicturesWhileTheEngineDrawsThem) {
  TRef<TImage> img = MakeImage(301, 203, [](int x, int y) { return 0xFF000000u | std::uint32_t((x + y) & 255) << 8; });
  TImageDrawParams p;
  p.Filtering = 1;
  p.Antialiased = true;
  p.SourceRect = {0, 0, 301, 203};
  const TFloatPoint o{3.3f, 2.6f}, ax{50.2f / 301, 0}, ay{0, 33.9f / 203};
  std::atomic<bool> stop{false};
  std::thread loader([&] {
    TImageDrawParams still = p;
    still.Still = true;
    still.StillOrigin = o;
    still.StillAxisX = ax;
    still.StillAxisY = ay;
    while (!stop.load()) {
      drawer->PrepareImage(img.get(), still);
      drawer->ReleaseImageTextures(img.get());
    }
    drawer->PrepareImage(img.get(), still);
  });
  for (int i = 0; i < 20; ++i)
    ASSERT_TRUE(Frame(0xFF000000u, [&](T3DDrawer& d) {
      TFloatRect hole;
      d.OpaqueImageRect(img.get(), o, p, ax, ay, hole);
      d.DrawImage(img.get(), o, p, ax, ay);
    }));
  stop = true;
  loader.join();
  ASSERT_TRUE(Frame(0xFF000000u, [&](T3DDrawer& d) { d.DrawImage(img.get(), o, p, ax, ay); }));
  Capture();
  // The middle of the picture: green rising to the right and down.
  EXPECT_GT(drawertest::Channel(At(30, 20), 8), 0);
  EXPECT_EQ(drawertest::Channel(At(30, 20), 16), 0);
  EXPECT_EQ(At(60, 45), 0u);  // past the picture
}

}  // namespace
