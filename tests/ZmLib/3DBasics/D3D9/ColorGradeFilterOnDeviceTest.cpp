// Colour filters laid over grade tables on the software device: the whole
// cube, only row 0 of a strip, and again after the device goes.
#include <gtest/gtest.h>

#include "tests/support/FormDevice.h"

#include "Platform/Gfx/GfxDevice.h"
#include "ZmLib/3DBasics/CustomColorGradeTexture.h"
#include "ZmLib/3DBasics/D3D9/Dev3D9Renderer.h"
#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/Graphics/zmObjectFilters.h"
#include "ZmLib/zmIni.h"

namespace color_grade_filter_test {

using namespace zm;

class ColorGradeFilterOnDevice : public zmtest::TScreenOnDevice {
protected:
  ColorGradeFilterOnDevice() : TScreenOnDevice(100, 80, true) {}

  // A filter bound to the one object block of text (kept in doc).
  TRef<TObjectFilter> Filter(const std::string& text) {
    docs.push_back(MakeRef<TIniFile>());
    docs.back()->LoadFromText(TByteString(text));
    return CreateObjectFilter(docs.back()->FirstObject());
  }

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

  static std::uint32_t Grey(std::uint32_t v) { return 0xFF000000u | v * 0x010101u; }
  static std::uint32_t Cube(int x, int y, int z) {
    return 0xFF000000u | std::uint32_t(GradeLevel(x)) << 16 | std::uint32_t(GradeLevel(y)) << 8 | GradeLevel(z);
  }

  std::vector<TRef<TIniFile>> docs;
};

TEST_F(ColorGradeFilterOnDevice, StripFilterChangesOnlyRowZero) {
  TRef<TCustomColorGradeTexture> strip = MakeRef<TCustomColorGradeTexture>(screen.get(), gkStrip);
  ASSERT_NE(strip->Realize(), nullptr);
  const std::vector<std::uint32_t> plain = ReadBack(strip.get());
  ASSERT_EQ(plain.size(), 256u * 16u);

  // Made again at once with the filter over row 0.
  TRef<TObjectFilter> invert = Filter("object Invert\nend\n");
  strip->SetGradeFilter(invert.get());
  EXPECT_EQ(strip->GradeFilter(), invert.get());
  ASSERT_NE(strip->DeviceObject(), nullptr);
  std::vector<std::uint32_t> got = ReadBack(strip.get());
  for (std::uint32_t x = 0; x < 256; ++x) ASSERT_EQ(got[x], Grey(255 - x)) << x;
  EXPECT_TRUE(std::equal(got.begin() + 256, got.end(), plain.begin() + 256));

  // Another filter, one that mixes channels too: still row 0 alone.
  TRef<TObjectFilter> chain = Filter("object BrightContrast\n  Bright=50\nend\n");
  TRef<TObjectFilter> hsl = Filter("object HSL\n  Saturation=-100\nend\n");
  chain->Next = hsl.Detach();
  strip->SetGradeFilter(chain.get());
  got = ReadBack(strip.get());
  EXPECT_EQ(got[0], Grey(50));
  EXPECT_EQ(got[250], Grey(255));
  EXPECT_TRUE(std::equal(got.begin() + 256, got.end(), plain.begin() + 256));

  // A disabled filter, or none, gives the plain strip back.
  chain->SetDisabled(true);
  chain->Next->SetDisabled(true);
  strip->SetGradeFilter(chain.get());
  EXPECT_EQ(ReadBack(strip.get()), plain);
  strip->SetGradeFilter(nullptr);
  EXPECT_EQ(ReadBack(strip.get()), plain);
}

TEST_F(ColorGradeFilterOnDevice, VolumeFilterCoversTheWholeCube) {
  TRef<TCustomColorGradeTexture> cube = MakeRef<TCustomColorGradeTexture>(screen.get(), gkVolume);
  // The identity filter leaves the input colour at every lattice point.
  cube->SetGradeFilter(Filter("object BrightContrast\nend\n").get());
  std::vector<std::uint32_t> got = ReadBack(cube.get());
  ASSERT_EQ(got.size(), 32u * 1024u);
  for (int z = 0; z < 32; ++z)
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 32; ++x) ASSERT_EQ(got[std::size_t(32 * (32 * z + y) + x)], Cube(x, y, z));

  // Invert: every entry, not only the first row.
  cube->SetGradeFilter(Filter("object Invert\nend\n").get());
  got = ReadBack(cube.get());
  for (int r = 0; r < 1024; r += 97)
    for (int x = 0; x < 32; x += 5) ASSERT_EQ(got[std::size_t(32 * r + x)], Cube(x, r % 32, r / 32) ^ 0x00FFFFFFu);

  // Grey scale mixes channels: red 255 alone gives L = 255 * 13933 shr 16 = 54.
  cube->SetGradeFilter(Filter("object Colorization\n  Color=#808080\nend\n").get());
  got = ReadBack(cube.get());
  EXPECT_EQ(got[31], Grey(54));
  EXPECT_EQ(got[0], Grey(0));

  // The filter is laid again over the table made after the device goes.
  auto* renderer = dynamic_cast<T3DRenderer9*>(screen->Renderer());
  ASSERT_NE(renderer, nullptr);
  renderer->D3DDevice()->Debug().LoseDevice(plat::gfx::LossMode::EveryCall);
  screen->BeginFrame();
  if (screen->CanDraw()) screen->EndFrame(true);
  EXPECT_EQ(cube->DeviceObject(), nullptr);
  screen->BeginFrame();
  ASSERT_TRUE(screen->CanDraw());
  ASSERT_NE(cube->Realize(), nullptr);
  EXPECT_EQ(ReadBack(cube.get()), got);
  screen->EndFrame(true);

  // A filter set while the screen cannot draw waits for the next Realize.
  screen->Close();
  TRef<TObjectFilter> invert = Filter("object Invert\nend\n");
  cube->SetGradeFilter(invert.get());
  EXPECT_EQ(cube->DeviceObject(), nullptr);
}

}  // namespace color_grade_filter_test
