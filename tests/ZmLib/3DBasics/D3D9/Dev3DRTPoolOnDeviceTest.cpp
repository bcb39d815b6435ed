// The render-target pool and the box antialiaser on the software device.
#include <gtest/gtest.h>

#include "tests/support/FormDevice.h"

#include "Platform/Gfx/GfxDevice.h"
#include "Platform/PlatSystem.h"
#include "Platform/User/PlatUserHeadless.h"
#include "ZmLib/3DBasics/D3D9/Dev3D9Renderer.h"
#include "ZmLib/3DBasics/Dev3DRTPool.h"
#include "ZmLib/Application2/winApplication.h"
#include "ZmLib/Application2/winForms.h"
#include "ZmLib/Application2/zmForms.h"

namespace rt_pool_device_test {

using namespace zm;

class RTPoolOnDevice : public zmtest::TScreenOnDevice {
protected:
  RTPoolOnDevice() : TScreenOnDevice(100, 80, true) {}
  std::uint32_t At(int x, int y) const { return px[std::size_t(y) * std::size_t(w) + std::size_t(x)] & 0xFFFFFFu; }
  void Capture() { px = plat::headless::CaptureClient(device->Window(), w, h); }

  std::vector<std::uint32_t> px;
  int w = 0, h = 0;
};

int Channel(std::uint32_t c, int shift) { return int((c >> shift) & 0xFF); }

TEST_F(RTPoolOnDevice, BoxesAreTheirVertexColoursOverTheWhiteTexture) {
  ASSERT_TRUE(screen->CanDraw());
  TRef<TBoxAntialiaser> box = MakeRef<TBoxAntialiaser>(screen.get());
  screen->BeginFrame();
  ASSERT_TRUE(screen->CanDraw());
  screen->Clear(0xFF000000u, false);
  // A plain 8 x 6 box at (10, 10).
  const std::uint32_t c = 0xFF3080C0u;
  box->DrawBox(screen.get(), {8, 0, 0}, 0, c, c, c, c, {0, 6, 0}, {10, 10, 0});
  // A 16 x 4 box at (10, 30), black on the left to white on the right.
  box->DrawBox(screen.get(), {16, 0, 0}, 0, 0xFF000000u, 0xFFFFFFFFu, 0xFF000000u, 0xFFFFFFFFu, {0, 4, 0},
               {10, 30, 0});
  ASSERT_TRUE(screen->EndFrame(true));
  Capture();
  ASSERT_GE(w, 40);
  ASSERT_GE(h, 40);
  for (int y = 8; y < 18; ++y)
    for (int x = 8; x < 20; ++x) {
      const bool inside = x >= 10 && x < 18 && y >= 10 && y < 16;
      EXPECT_EQ(At(x, y), inside ? (c & 0xFFFFFFu) : 0u) << x << "," << y;
    }
  // The device samples pixel x at x itself: (x - 10) / 16 of the way across.
  for (int x = 10; x < 26; ++x) {
    const double want = 255.0 * (x - 10) / 16;
    for (int shift : {0, 8, 16}) EXPECT_NEAR(Channel(At(x, 31), shift), want, 1.0) << x;
  }
  EXPECT_EQ(At(9, 31), 0u);
  EXPECT_EQ(At(26, 31), 0u);
}

TEST_F(RTPoolOnDevice, AFeatheredEdgeFadesOverOnePixel) {
  ASSERT_TRUE(screen->CanDraw());
  TRef<TBoxAntialiaser> box = MakeRef<TBoxAntialiaser>(screen.get());
  screen->BeginFrame();
  screen->Clear(0xFF000000u, false);
  // From 20.5 to 30.5: the band runs from 19.5 (alpha 0) to 20.5 (alpha 1).
  box->DrawBox(screen.get(), {10, 0, 0}, ebLeft, ~0u, ~0u, ~0u, ~0u, {0, 10, 0}, {20.5f, 20, 0});
  ASSERT_TRUE(screen->EndFrame(true));
  Capture();
  ASSERT_GE(w, 40);
  // Pixel 20, sampled at 20, lies half-way along the band: half of white
  // over black. Unfeathered, it would stay black.
  for (int shift : {0, 8, 16}) EXPECT_NEAR(Channel(At(20, 25), shift), 127.5, 1.0);
  EXPECT_EQ(At(19, 25), 0u);
  EXPECT_EQ(At(21, 25), 0xFFFFFFu);
  EXPECT_EQ(At(30, 25), 0xFFFFFFu);
  EXPECT_EQ(At(31, 25), 0u);  // the right edge is not feathered
}

TEST_F(RTPoolOnDevice, PooledTargetsAreDrawnIntoAndComeBackAfterALoss) {
  ASSERT_TRUE(screen->CanDraw());
  TRef<TRenderTargetManager> pool = MakeRef<TRenderTargetManager>(false);
  pool->SetPoolSize(40, 20);
  TRef<TRenderTargetTexture> t = pool->Acquire(screen.get());
  ASSERT_NE(t->DeviceTexture(), nullptr);
  EXPECT_EQ(t->Extent(), (TSize{64, 32}));

  // Drawn into, then onto the window.
  screen->BeginFrame();
  ASSERT_TRUE(screen->CanDraw());
  screen->Clear(0xFF000000u, false);
  screen->SetRenderTarget(t->DeviceTexture());
  screen->Clear(0xFF20A040u, false);
  screen->SetRenderTarget(nullptr);
  screen->DrawTexture(t.get(), {5, 5, 0}, {0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 8, 8});
  ASSERT_TRUE(screen->EndFrame(true));
  Capture();
  ASSERT_GE(w, 20);
  EXPECT_EQ(At(8, 8), 0x20A040u);
  EXPECT_EQ(At(4, 8), 0u);
  pool->ReturnTexture(t.get());

  auto* renderer = dynamic_cast<T3DRenderer9*>(screen->Renderer());
  ASSERT_NE(renderer, nullptr);
  renderer->D3DDevice()->Debug().LoseDevice(plat::gfx::LossMode::EveryCall);
  screen->BeginFrame();
  screen->EndFrame(true);
  EXPECT_EQ(t->DeviceTexture(), nullptr);

  screen->BeginFrame();
  ASSERT_TRUE(screen->CanDraw());
  EXPECT_EQ(pool->Acquire(screen.get()), t);
  EXPECT_NE(t->DeviceTexture(), nullptr);
  screen->EndFrame(true);
}

}  // namespace rt_pool_device_test
