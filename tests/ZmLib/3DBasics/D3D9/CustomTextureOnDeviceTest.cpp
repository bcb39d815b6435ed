// A custom texture on the software device: made when first drawn, lost with
// the device, and made again with the same pixels on the next frame.
#include <gtest/gtest.h>

#include "tests/support/FormDevice.h"

#include "Platform/Gfx/GfxDevice.h"
#include "Platform/PlatSystem.h"
#include "Platform/User/PlatUserHeadless.h"
#include "ZmLib/3DBasics/CustomTexture.h"
#include "ZmLib/3DBasics/D3D9/Dev3D9Renderer.h"
#include "ZmLib/Application2/winApplication.h"
#include "ZmLib/Application2/winForms.h"
#include "ZmLib/Application2/zmForms.h"
#include "ZmLib/Graphics/SysBitmap.h"

namespace custom_texture_device_test {

using namespace zm;

class TQuarters : public TCustomTexture {
public:
  static constexpr std::uint32_t kColours[4] = {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFFFFFF00u};
  explicit TQuarters(T3DScreen* screen) : TCustomTexture(screen, {32, 32}, tkColorAlpha, "TQuarters") {}
  void FillLevel(TSysBitmap* d) override {
    ++Fills;
    for (std::int32_t y = 0; y < 32; ++y)
      for (std::int32_t x = 0; x < 32; ++x) d->Row32(y)[x] = kColours[(y / 16) * 2 + x / 16];
  }
  int Fills = 0;
};

class CustomTextureOnDevice : public zmtest::TScreenOnDevice {
protected:
  CustomTextureOnDevice() : TScreenOnDevice(100, 80, false) {}
  bool Frame(TQuarters* tex) {
    screen->BeginFrame();
    if (!screen->CanDraw()) return false;
    screen->Clear(0xFF000000u, false);
    screen->DrawTexture(tex, {9.5f, 9.5f, 0}, {0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 32, 32});
    return screen->EndFrame(true);
  }
  void ExpectQuarters() {
    int w = 0, h = 0;
    const std::vector<std::uint32_t> px = plat::headless::CaptureClient(device->Window(), w, h);
    ASSERT_GE(w, 42);
    ASSERT_GE(h, 42);
    for (int q = 0; q < 4; ++q) {
      const int x = 10 + (q % 2) * 16 + 8, y = 10 + (q / 2) * 16 + 8;
      EXPECT_EQ(px[std::size_t(y) * std::size_t(w) + std::size_t(x)] & 0xFFFFFFu, TQuarters::kColours[q] & 0xFFFFFFu)
          << "quarter " << q;
    }
  }
};

TEST_F(CustomTextureOnDevice, LostWithTheDeviceAndDrawnAgainAfterIt) {
  screen->Open(device.get());
  ASSERT_TRUE(screen->CanDraw());
  TRef<TQuarters> tex = MakeRef<TQuarters>(screen.get());
  EXPECT_EQ(tex->DeviceTexture(), nullptr);
  ASSERT_TRUE(Frame(tex.get()));
  ASSERT_NE(tex->DeviceTexture(), nullptr);
  EXPECT_EQ(tex->Fills, 1);
  ExpectQuarters();

  auto* renderer = dynamic_cast<T3DRenderer9*>(screen->Renderer());
  ASSERT_NE(renderer, nullptr);
  renderer->D3DDevice()->Debug().LoseDevice(plat::gfx::LossMode::EveryCall);
  EXPECT_FALSE(Frame(tex.get()));
  EXPECT_EQ(screen->Renderer(), nullptr);
  EXPECT_EQ(tex->DeviceTexture(), nullptr);

  ASSERT_TRUE(Frame(tex.get()));
  EXPECT_NE(tex->DeviceTexture(), nullptr);
  EXPECT_EQ(tex->Fills, 2);
  ExpectQuarters();
}

}  // namespace custom_texture_device_test
