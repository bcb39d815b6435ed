#pragma once
// The 3D drawer opened on the headless form-and-device fixture (the software
// device, presents that never sleep), helpers to draw frames and read what
// was presented, and the fixture of transitions drawn on the device.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "OruLib2/3DEngine/DrawFilter.h"
#include "OruLib2/3DEngine/DrawManager3D2.h"
#include "OruLib2/3DEngine/FilterFactory.h"
#include "Platform/Gfx/GfxDevice.h"
#include "Platform/User/PlatUserHeadless.h"
#include "ZmLib/3DBasics/D3D9/Dev3D9Renderer.h"
#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/SysBitmapStore.h"
#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/Graphics/zmImage.h"
#include "ZmLib/zmHookScope.h"
#include "tests/support/FormDevice.h"

namespace drawertest {

// An item that runs a function when drawn, with a blur radius of choice.
class TFnItem : public zm::TDrawItem {
public:
  explicit TFnItem(std::function<void(oru::T3DDrawer&)> fn, float radius = 0) : Fn(std::move(fn)), Radius(radius) {}
  float GetBlurRadius() override { return Radius; }
  void Draw(zm::TDeviceDrawer& d) override {
    ++Draws;
    if (Fn) Fn(static_cast<oru::T3DDrawer&>(d));
  }
  std::function<void(oru::T3DDrawer&)> Fn;
  float Radius;
  int Draws = 0;
};

// A slide that is one opaque picture at its origin, covering all it is
// asked about; counts its draws.
class TOpaquePictureSlide : public zm::TDrawItem {
public:
  explicit TOpaquePictureSlide(zm::TImage* picture) : picture_(picture) {}
  void Draw(zm::TDeviceDrawer& d) override {
    ++Draws;
    d.DrawImage(picture_, {0, 0}, zm::TImageDrawParams{}, {1, 0}, {0, 1});
  }
  bool CoversOpaque(const zm::TFloatRect&) override { return true; }
  int Draws = 0;

private:
  zm::TImage* picture_;
};

// A picture of w x h A8R8G8B8 pixels from pixel(x, y).
inline zm::TRef<zm::TImage> MakeImage(std::int32_t w, std::int32_t h,
                                      const std::function<std::uint32_t(int, int)>& pixel) {
  zm::TRef<zm::TSysBitmap> b = zm::CreateSysBitmap(w, h, zm::pfA8R8G8B8);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const std::uint32_t p = pixel(x, y);
      std::memcpy(b->ScanLine(y) + 4 * x, &p, 4);
    }
  zm::TRef<zm::TBitmapStore> store = zm::MakeRef<zm::TWrapperBitmapStore>(u"test", zm::TImageLoadHandler{}, false,
                                                                        b.get());
  return zm::MakeRef<zm::TImage>(store.get());
}

class TDrawerOnDevice : public zmtest::TFormDeviceTest {
protected:
  // The drawer sees the form's client area: Width x Height.
  TDrawerOnDevice(std::int32_t width = 64, std::int32_t height = 48)
      : TFormDeviceTest(width, height, true), width_(width), height_(height) {}

  void SetUp() override {
    TFormDeviceTest::SetUp();
    drawer = zm::MakeRef<oru::T3DDrawer>();
    ASSERT_TRUE(drawer->Open(device.get()));
    ASSERT_EQ(drawer->Bounds, (zm::TRect{0, 0, width_, height_}));
  }
  void TearDown() override {
    drawer = nullptr;
    TFormDeviceTest::TearDown();
  }

  // One presented frame: cleared to Background, then Fn.
  bool Frame(std::uint32_t background, std::function<void(oru::T3DDrawer&)> fn) {
    zm::TRef<TFnItem> item = zm::MakeRef<TFnItem>([&](oru::T3DDrawer& d) {
      d.Clear(zm::TColor32::FromValue(background), false);
      if (fn) fn(d);
    });
    return drawer->Draw(item.get());
  }
  // The presented client area, 0x00RRGGBB per pixel.
  void Capture() {
    px = plat::headless::CaptureClient(device->Window(), w, h);
    ASSERT_EQ(w, width_);
    ASSERT_EQ(h, height_);
  }
  std::uint32_t At(int x, int y) const { return px[std::size_t(y) * std::size_t(w) + std::size_t(x)] & 0xFFFFFFu; }
  plat::gfx::Device* Dev() const {
    return static_cast<zm::T3DRenderer9*>(drawer->Screen()->Renderer())->D3DDevice();
  }

  zm::TRef<oru::T3DDrawer> drawer;
  std::vector<std::uint32_t> px;
  int w = 0, h = 0;

private:
  std::int32_t width_, height_;
};

// Transitions drawn as the player draws them: the drawer's effect filters
// stand behind the effect-filter hook.
class TTransitionOnDevice : public TDrawerOnDevice {
protected:
  using TDrawerOnDevice::TDrawerOnDevice;

  void SetUp() override {
    TDrawerOnDevice::SetUp();
    effectFilter_.Set(&oru::CreateDrawerEffectFilter);
  }
  void TearDown() override {
    effectFilter_.Restore();
    TDrawerOnDevice::TearDown();
  }

private:
  zm::THookScope<oru::TCreateEffectFilterProc> effectFilter_{oru::CreateEffectFilterHook};
};

inline int Channel(std::uint32_t c, int shift) { return int((c >> shift) & 0xFF); }

// Channel by channel within Tol.
inline ::testing::AssertionResult Near(std::uint32_t got, std::uint32_t want, int tol) {
  for (int s = 0; s < 24; s += 8)
    if (std::abs(Channel(got, s) - Channel(want, s)) > tol)
      return ::testing::AssertionFailure() << std::hex << "got 0x" << got << ", want 0x" << want;
  return ::testing::AssertionSuccess();
}

}  // namespace drawertest
