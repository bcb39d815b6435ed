// Grade tables on the software device: filled on first use, refused when
// of the wrong size, and filled again after the device goes.
#include <gtest/gtest.h>

#include "tests/support/FormDevice.h"

#include "Platform/Gfx/GfxDevice.h"
#include "Platform/PlatSystem.h"
#include "Platform/User/PlatUserHeadless.h"
#include "ZmLib/3DBasics/CustomColorGradeTexture.h"
#include "ZmLib/3DBasics/D3D9/Dev3D9Renderer.h"
#include "ZmLib/Application2/winApplication.h"
#include "ZmLib/Application2/winForms.h"
#include "ZmLib/Application2/zmForms.h"
#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/SysPixelFormat.h"
#include "tests/ZmLib/Graphics/GraphicsTestUtil.h"

namespace color_grade_device_test {

using namespace zm;

class ColorGradeOnDevice : public zmtest::TScreenOnDevice {
protected:
  ColorGradeOnDevice() : TScreenOnDevice(100, 80, true) {}
  // The device's copy of the table, read back through a lock.
  static std::vector<std::uint32_t> ReadBack(TCustomColorGradeTexture* tex) {
    std::vector<std::uint32_t> out;
    TBaseTexture* t = tex->DeviceObject();
    TRef<TSysBitmap> bits;
    TRef<T3DSurface> surface;
    auto* volume = dynamic_cast<TVolumeTexture*>(t);
    if (volume) {
      bits = volume->LockBox(0, {0, 0, 0, 32, 32, 32});
    } else if (auto* flat = dynamic_cast<T3DTexture*>(t)) {
      surface = flat->GetSurface(0);
      if (surface) bits = surface->Lock({0, 0, 256, 16}, true);
    }
    if (!bits) return out;
    for (std::int32_t y = 0; y < bits->Height(); ++y)
      out.insert(out.end(), bits->Row32(y), bits->Row32(y) + bits->Width());
    if (volume)
      volume->UnlockBox(0, bits);
    else
      surface->Unlock(bits);
    return out;
  }
  static std::vector<std::uint32_t> Pixels(TSysBitmap* b) {
    std::vector<std::uint32_t> out;
    for (std::int32_t y = 0; y < b->Height(); ++y) out.insert(out.end(), b->Row32(y), b->Row32(y) + b->Width());
    return out;
  }
  void LoseDevice() {
    auto* renderer = dynamic_cast<T3DRenderer9*>(screen->Renderer());
    ASSERT_NE(renderer, nullptr);
    renderer->D3DDevice()->Debug().LoseDevice(plat::gfx::LossMode::EveryCall);
    screen->BeginFrame();
    if (screen->CanDraw()) screen->EndFrame(true);
  }
};

TEST_F(ColorGradeOnDevice, IdentityVolumeHoldsEveryLatticeColour) {
  ASSERT_TRUE(screen->CanDraw());
  TRef<TCustomColorGradeTexture> tex = MakeRef<TCustomColorGradeTexture>(screen.get(), gkVolume);
  EXPECT_EQ(tex->DeviceObject(), nullptr);
  TBaseTexture* t = tex->Realize();
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(tex->Realize(), t);
  const std::vector<std::uint32_t> got = ReadBack(tex.get());
  ASSERT_EQ(got.size(), 32u * 1024u);
  for (int z = 0; z < 32; ++z)
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 32; ++x)
        ASSERT_EQ(got[std::size_t(32 * (32 * z + y) + x)],
                  0xFF000000u | std::uint32_t(GradeLevel(x)) << 16 | std::uint32_t(GradeLevel(y)) << 8 | GradeLevel(z))
            << x << " " << y << " " << z;
}

TEST_F(ColorGradeOnDevice, StripAndSourcesOfTheRightSize) {
  TRef<TCustomColorGradeTexture> strip = MakeRef<TCustomColorGradeTexture>(screen.get(), 7);  // not 1: a strip
  EXPECT_FALSE(strip->IsVolume());
  ASSERT_NE(strip->Realize(), nullptr);
  std::vector<std::uint32_t> got = ReadBack(strip.get());
  ASSERT_EQ(got.size(), 256u * 16u);
  EXPECT_EQ(got[0], 0xFF000000u);
  EXPECT_EQ(got[15 * 256 + 200], 0xFFC8C8C8u);

  // An owned table replaces the ramp on the device at once.
  TRef<TSysBitmap> inverse = CreateSysBitmap(256, 16, pfA8R8G8B8);
  for (std::int32_t y = 0; y < 16; ++y)
    for (std::uint32_t x = 0; x < 256; ++x) inverse->Row32(y)[x] = 0xFF000000u | (255 - x) * 0x010101u;
  strip->SetSource(inverse.get(), true);
  EXPECT_TRUE(strip->OwnsSource());
  EXPECT_EQ(strip->DeviceObject(), nullptr);
  ASSERT_NE(strip->Realize(), nullptr);
  EXPECT_EQ(ReadBack(strip.get()), Pixels(inverse.get()));

  // Wrong sizes and formats for either kind: asserted, old table kept.
  TRef<TCustomColorGradeTexture> cube = MakeRef<TCustomColorGradeTexture>(screen.get(), gkVolume);
  struct Case {
    TCustomColorGradeTexture* Tex;
    TPixelFormat* Format;
    std::int32_t W, H;
  } cases[] = {{strip.get(), pfA8R8G8B8, 32, 1024}, {strip.get(), pfA8R8G8B8, 256, 15},
               {cube.get(), pfA8R8G8B8, 256, 16},   {cube.get(), pfA8R8G8B8, 32, 1023},
               {cube.get(), pfY8, 32, 1024}};
  for (const Case& c : cases) {
    TRef<TSysBitmap> bad = CreateSysBitmap(c.W, c.H, c.Format);
    TSysBitmap* before = c.Tex->Source();
    EXPECT_TRUE(zmtest::Contains(zmtest::AssertionOf([&] { c.Tex->SetSource(bad.get(), true); }),
                                 "TCustomColorGradeTexture.SetSource"))
        << c.W << "x" << c.H;
    EXPECT_EQ(c.Tex->Source(), before);
  }
  EXPECT_EQ(ReadBack(strip.get()), Pixels(inverse.get()));
  EXPECT_EQ(strip->Source(), inverse.get());

  // Back to the identity: the owned table is let go.
  TSysBitmap* raw = inverse.get();
  inverse = nullptr;
  EXPECT_EQ(strip->Source(), raw);
  strip->SetSource(nullptr, false);
  EXPECT_FALSE(strip->OwnsSource());
  ASSERT_NE(strip->Realize(), nullptr);
  EXPECT_EQ(ReadBack(strip.get())[255], 0xFFFFFFFFu);
}

TEST_F(ColorGradeOnDevice, FilledAgainAfterTheDeviceGoes) {
  TRef<TSysBitmap> yuv = GetSharedGradeTable(false, nullptr);
  TRef<TCustomColorGradeTexture> tex = MakeRef<TCustomColorGradeTexture>(screen.get(), gkVolume);
  tex->SetSource(yuv.get(), false);
  ASSERT_NE(tex->Realize(), nullptr);
  EXPECT_EQ(ReadBack(tex.get()), Pixels(yuv.get()));

  LoseDevice();
  EXPECT_EQ(tex->DeviceObject(), nullptr);
  EXPECT_EQ(tex->Realize(), nullptr);  // the screen cannot draw until it is opened again

  screen->BeginFrame();
  ASSERT_TRUE(screen->CanDraw());
  ASSERT_NE(tex->Realize(), nullptr);
  EXPECT_EQ(ReadBack(tex.get()), Pixels(yuv.get()));
  screen->EndFrame(true);
  FreeSharedGradeTables();
}

}  // namespace color_grade_device_test
