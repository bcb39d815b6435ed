// Tiled pictures drawn on the software device: the tiles side by side give
// the picture back, also where linear filtering reads across a seam, and
// come back with the same pixels after the device was lost.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include <set>
#include <utility>

#include "OruLib2/MultiTexture6.h"
#include "Platform/Gfx/GfxDevice.h"
#include "Platform/Gfx/GfxRaster.h"
#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/wpLoadCallBack.h"
#include "ZmLib/zmHookScope.h"
#include "tests/support/FormDevice.h"

namespace multi_texture_device_test {

using namespace zm;

constexpr std::int32_t kW = 1100, kH = 700;

// Steep ramps in red and green and a 3-pixel checker in blue: neighbours
// always differ, also across the seams at 510 and 1020.
std::uint32_t Source(std::int32_t x, std::int32_t y) {
  const std::uint32_t b = ((x / 3 + y / 3) & 1) ? 255u : 0u;
  return 0xFF000000u | std::uint32_t(x * 37 & 255) << 16 | std::uint32_t(y * 53 & 255) << 8 | b;
}

int Channel(std::uint32_t c, int shift) { return int((c >> shift) & 0xFF); }

class MultiTextureOnDevice : public zmtest::TScreenOnDevice {
 protected:
  // The form's frame takes some of its size: the client area holds the picture.
  MultiTextureOnDevice() : TScreenOnDevice(kW + 40, kH + 60, true) {}
  void SetUp() override {
    TScreenOnDevice::SetUp();
    manager = MakeRef<TTextureManager6>(screen.get());
    // The tile sizes themselves: every picture goes on the managers' tiles.
    manager->FitsWholePictures = false;
    texture = MakeRef<TMultiTexture6>(manager.get());
    TRef<TSysBitmap> pic = CreateSysBitmap(kW, kH, FindPixelFormat(PF_A8R8G8B8));
    for (std::int32_t y = 0; y < kH; ++y)
      for (std::int32_t x = 0; x < kW; ++x) pic->Row32(y)[x] = Source(x, y);
    texture->SetPicture(pic.Detach(), true, false, false, 1, 1, {0, 0, kW, kH});
  }
  void TearDown() override {
    texture = nullptr;
    manager = nullptr;
    TScreenOnDevice::TearDown();
  }
  // One frame with the picture at Origin, one screen pixel per picture pixel.
  bool Frame(float originX, float originY, const TRectF& visible = {0, 0, kW, kH}) {
    screen->BeginFrame();
    if (!screen->CanDraw()) return false;
    screen->Clear(0xFF000000u, false);
    texture->Draw(visible, {originX, originY, 0}, {1, 0, 0}, {0, 1, 0});
    return screen->EndFrame(true);
  }
  std::vector<std::uint32_t> Capture() {
    int w = 0, h = 0;
    std::vector<std::uint32_t> px = plat::headless::CaptureClient(device->Window(), w, h);
    std::vector<std::uint32_t> out(std::size_t(kW) * kH);
    if (w < kW || h < kH) {
      ADD_FAILURE() << "client area " << w << "x" << h;
      return out;
    }
    for (std::int32_t y = 0; y < kH; ++y)
      std::copy_n(px.begin() + std::ptrdiff_t(std::size_t(y) * std::size_t(w)), kW,
                  out.begin() + std::ptrdiff_t(std::size_t(y) * kW));
    return out;
  }
  // The largest channel difference between the capture and Expected over
  // the pixels inside the margin.
  template <class F>
  int MaxError(const std::vector<std::uint32_t>& px, int margin, F expected, std::int32_t* worstX = nullptr,
               std::int32_t* worstY = nullptr) {
    int worst = 0;
    for (std::int32_t y = margin; y < kH - margin; ++y)
      for (std::int32_t x = margin; x < kW - margin; ++x) {
        const std::uint32_t got = px[std::size_t(y) * kW + std::size_t(x)];
        for (int shift : {0, 8, 16}) {
          const int e = std::abs(Channel(got, shift) - expected(x, y, shift));
          if (e > worst) {
            worst = e;
            if (worstX) *worstX = x;
            if (worstY) *worstY = y;
          }
        }
      }
    return worst;
  }

  TRef<TTextureManager6> manager;
  TRef<TMultiTexture6> texture;
};

// At 1:1 with texel centres on pixel centres every pixel is its source
// pixel; half a pixel off, every pixel is the mean of two neighbours, which
// across a seam needs the border's copy of the neighbouring tile.
TEST_F(MultiTextureOnDevice, TiledPictureDrawnOneToOneHasNoSeams) {
  ASSERT_TRUE(screen->CanDraw());
  ASSERT_TRUE(Frame(-0.5f, -0.5f));
  ASSERT_GT(texture->TileCount(), 4);  // seams at x 510 and 1020, y 510
  std::int32_t wx = 0, wy = 0;
  int err = MaxError(
      Capture(), 0, [](std::int32_t x, std::int32_t y, int s) { return Channel(Source(x, y), s); }, &wx, &wy);
  EXPECT_LE(err, 1) << "at " << wx << "," << wy;

  // Off the texel centres every pixel mixes its neighbours: half a pixel
  // right and down mixes in the left and upper ones (at a seam the right
  // tile's border), a quarter up and left the right and lower ones (at a
  // seam the left tile's border).
  for (float shift : {0.0f, -0.75f}) {
    ASSERT_TRUE(Frame(shift, shift));
    auto mix = [shift](std::int32_t x, std::int32_t y, int s) {
      // Pixel centre x samples picture coordinate x - shift.
      const float t = -shift - 0.5f;
      const std::int32_t k = std::int32_t(std::floor(t));
      const float f = t - float(k);
      auto at = [&](std::int32_t dx, std::int32_t dy) {
        return float(Channel(Source(std::clamp(x + k + dx, 0, kW - 1), std::clamp(y + k + dy, 0, kH - 1)), s));
      };
      return int(std::lround((1 - f) * (1 - f) * at(0, 0) + f * (1 - f) * (at(1, 0) + at(0, 1)) + f * f * at(1, 1)));
    };
    err = MaxError(Capture(), 1, mix, &wx, &wy);
    EXPECT_LE(err, 2) << "shift " << shift << " at " << wx << "," << wy;
  }

  // Smoothing the outer edges leaves the inside and the seams alone.
  texture->EdgeSmoothing = true;
  ASSERT_TRUE(Frame(-0.5f, -0.5f));
  err = MaxError(
      Capture(), 2, [](std::int32_t x, std::int32_t y, int s) { return Channel(Source(x, y), s); }, &wx, &wy);
  EXPECT_LE(err, 1) << "at " << wx << "," << wy;
}

// A picture drawn unscaled with its texel centres on the pixel centres is
// copied row by row from its tiles: pixel for pixel what the sampler reads
// there, for every size of tile the manager hands out, plain and with
// smoothed edges.
TEST_F(MultiTextureOnDevice, OneToOneCopiesEqualTheSampledPicture) {
  struct TScope {
    ~TScope() {
      plat::gfx::SetGfxFastPathEnabled(true);
      plat::gfx::SetGfxRowPathEnabled(true);
    }
  } scope;
  const std::pair<std::int32_t, std::int32_t> sizes[] = {{1100, 700}, {300, 300}, {250, 250}, {200, 100},
                                                         {100, 200},  {60, 60},   {520, 70},  {70, 520},
                                                         {33, 17}};
  std::set<std::pair<std::int32_t, std::int32_t>> tileSizes;
  for (const auto& [w, h] : sizes) {
    for (const bool smoothed : {false, true}) {
      SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + (smoothed ? " smoothed" : ""));
      TRef<TMultiTexture6> t = MakeRef<TMultiTexture6>(manager.get());
      TRef<TSysBitmap> pic = CreateSysBitmap(w, h, FindPixelFormat(PF_A8R8G8B8));
      for (std::int32_t y = 0; y < h; ++y)
        for (std::int32_t x = 0; x < w; ++x) pic->Row32(y)[x] = Source(x * 7 + 3, y * 5 + 1);
      t->SetPicture(pic.Detach(), true, false, false, 1, 1, {0, 0, w, h});
      t->EdgeSmoothing = smoothed;
      std::vector<std::uint32_t> frames[2];
      std::uint64_t copied[2] = {};
      for (int pass = 0; pass < 2; ++pass) {
        plat::gfx::SetGfxFastPathEnabled(pass == 0);
        plat::gfx::SetGfxRowPathEnabled(pass == 0);
        const std::uint64_t before = plat::gfx::GfxDirectRowCount() + plat::gfx::GfxDirectRunCount();
        screen->BeginFrame();
        ASSERT_TRUE(screen->CanDraw());
        screen->Clear(0xFF102030u, false);
        t->Draw({0, 0, float(w), float(h)}, {10.5f, 10.5f, 0}, {1, 0, 0}, {0, 1, 0});
        ASSERT_TRUE(screen->EndFrame(true));
        copied[pass] = plat::gfx::GfxDirectRowCount() + plat::gfx::GfxDirectRunCount() - before;
        frames[pass] = Capture();
      }
      EXPECT_GT(copied[0], 0u);
      EXPECT_EQ(copied[1], 0u);
      ASSERT_EQ(frames[0], frames[1]);
      // Inside its edges the frame is the picture itself.
      const std::int32_t x0 = 11, y0 = 11;
      for (std::int32_t y = 1; y + 1 < std::min(h, kH - y0); ++y)
        for (std::int32_t x = 1; x + 1 < std::min(w, kW - x0); ++x)
          ASSERT_EQ(frames[0][std::size_t(y + y0) * kW + std::size_t(x + x0)] & 0xFFFFFFu,
                    Source(x * 7 + 3, y * 5 + 1) & 0xFFFFFFu)
              << x << "," << y;
      for (std::int32_t i = 0; i < t->TileCount(); ++i)
        tileSizes.insert({t->Tile(i)->Manager()->TileWidth(), t->Tile(i)->Manager()->TileHeight()});
    }
  }
  EXPECT_EQ(tileSizes.size(), std::size_t(manager->TileManagerCount()));
}

TEST_F(MultiTextureOnDevice, VisiblePartTintAndOpacity) {
  texture->SetTint(255, 0, 255);
  ASSERT_TRUE(Frame(-0.5f, -0.5f, {500, 400, 600, 600}));
  const std::vector<std::uint32_t> px = Capture();
  auto at = [&](std::int32_t x, std::int32_t y) { return px[std::size_t(y) * kW + std::size_t(x)] & 0xFFFFFFu; };
  EXPECT_EQ(at(499, 450), 0u);
  EXPECT_EQ(at(600, 450), 0u);
  EXPECT_EQ(at(550, 399), 0u);
  EXPECT_EQ(at(550, 600), 0u);
  for (auto [x, y] : {std::pair{500, 400}, {509, 509}, {510, 510}, {599, 599}}) {
    const std::uint32_t want = Source(x, y) & 0xFF00FFu;  // green tinted away
    EXPECT_EQ(at(x, y), want) << x << "," << y;
  }

  // Opacity 0 draws nothing and does not even lay the picture out.
  TRef<TMultiTexture6> hidden = MakeRef<TMultiTexture6>(manager.get());
  hidden->SetPicture(CreateSysBitmap(10, 10, FindPixelFormat(PF_A8R8G8B8)).Detach(), true, false, false, 1, 1,
                     {0, 0, 10, 10});
  hidden->Opacity = 0;
  hidden->Draw({0, 0, 10, 10}, {0, 0, 0}, {1, 0, 0}, {0, 1, 0});
  EXPECT_EQ(hidden->TileCount(), 0);
}

TEST_F(MultiTextureOnDevice, TilesComeBackAfterALostDevice) {
  texture->Prepare(true);
  ASSERT_GT(texture->TileCount(), 0);
  for (std::int32_t i = 0; i < texture->TileCount(); ++i) {
    EXPECT_TRUE(texture->Tile(i)->Prepared());
    EXPECT_NE(texture->Tile(i)->DeviceTexture(), nullptr);
  }
  ASSERT_TRUE(Frame(-0.5f, -0.5f));
  const std::vector<std::uint32_t> before = Capture();

  auto* renderer = dynamic_cast<T3DRenderer9*>(screen->Renderer());
  ASSERT_NE(renderer, nullptr);
  renderer->D3DDevice()->Debug().LoseDevice(plat::gfx::LossMode::EveryCall);
  EXPECT_FALSE(Frame(-0.5f, -0.5f));
  for (std::int32_t i = 0; i < texture->TileCount(); ++i) EXPECT_EQ(texture->Tile(i)->DeviceTexture(), nullptr);

  ASSERT_TRUE(Frame(-0.5f, -0.5f));
  const std::vector<std::uint32_t> after = Capture();
  ASSERT_EQ(after.size(), before.size());
  std::size_t differ = 0;
  for (std::size_t i = 0; i < after.size(); ++i) differ += after[i] != before[i];
  EXPECT_EQ(differ, 0u);
}

namespace {
bool gRefuse = false;
bool RefusingCallback() { return !gRefuse; }
}  // namespace

// Tiles that keep their device texture must still be filled again: after a
// fill the load callback abandoned, and when they serve a new picture.
TEST_F(MultiTextureOnDevice, AbandonedFillsAndNewPicturesAreFilledAgain) {
  zm::THookScope callback(LoadCallbackProc, &RefusingCallback);
  gRefuse = true;
  texture->Prepare();
  ASSERT_GT(texture->TileCount(), 0);
  for (std::int32_t i = 0; i < texture->TileCount(); ++i) {
    EXPECT_NE(texture->Tile(i)->DeviceTexture(), nullptr);
    EXPECT_TRUE(texture->Tile(i)->NeedsFill());
  }
  gRefuse = false;
  ASSERT_TRUE(Frame(-0.5f, -0.5f));
  for (std::int32_t i = 0; i < texture->TileCount(); ++i) EXPECT_FALSE(texture->Tile(i)->NeedsFill());
  auto same = [](std::int32_t x, std::int32_t y, int s) { return Channel(Source(x, y), s); };
  EXPECT_LE(MaxError(Capture(), 0, same), 1);

  // The same size again with the colours inverted: the same tiles, new pixels.
  TRef<TSysBitmap> pic = CreateSysBitmap(kW, kH, FindPixelFormat(PF_A8R8G8B8));
  for (std::int32_t y = 0; y < kH; ++y)
    for (std::int32_t x = 0; x < kW; ++x) pic->Row32(y)[x] = Source(x, y) ^ 0x00FFFFFFu;
  texture->SetPicture(pic.Detach(), true, false, false, 1, 1, {0, 0, kW, kH});
  ASSERT_TRUE(Frame(-0.5f, -0.5f));
  auto inverted = [](std::int32_t x, std::int32_t y, int s) { return 255 - Channel(Source(x, y), s); };
  EXPECT_LE(MaxError(Capture(), 0, inverted), 1);
}


// A picture on a tile of its own size draws as on the managers' tiles:
// copied row by row where it lies 1:1, the picture itself inside its edges,
// also at odd sizes; let go, it comes back made anew after a lost device.
TEST_F(MultiTextureOnDevice, FittedTilesDrawTheirPictureAndComeBackWhenLetGo) {
  manager->FitsWholePictures = true;
  for (auto [w, h] : {std::pair{33, 17}, {300, 301}, {509, 3}}) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    auto picture = [w = w, h = h] {
      TRef<TSysBitmap> pic = CreateSysBitmap(w, h, FindPixelFormat(PF_A8R8G8B8));
      for (std::int32_t y = 0; y < h; ++y)
        for (std::int32_t x = 0; x < w; ++x) pic->Row32(y)[x] = Source(x * 7 + 3, y * 5 + 1);
      return pic;
    };
    int made = 0;
    texture->SetPicture(picture().Detach(), true, false, false, 1, 1, {0, 0, w, h});
    texture->SetRemake([&made, &picture]() -> TRef<TBitmap> {
      ++made;
      return picture();
    });
    texture->Prepare();
    ASSERT_EQ(texture->TileCount(), 1);
    EXPECT_EQ(texture->Tile(0)->Size(), (TSize{w + 2, h + 2}));
    const std::uint64_t copied = plat::gfx::GfxDirectRowCount() + plat::gfx::GfxDirectRunCount();
    ASSERT_TRUE(Frame(10.5f, 10.5f));
    EXPECT_GT(plat::gfx::GfxDirectRowCount() + plat::gfx::GfxDirectRunCount(), copied);
    const std::vector<std::uint32_t> first = Capture();
    for (std::int32_t y = 0; y < h; ++y)
      for (std::int32_t x = 0; x < w; ++x)
        ASSERT_EQ(first[std::size_t(y + 11) * kW + std::size_t(x + 11)] & 0xFFFFFFu,
                  Source(x * 7 + 3, y * 5 + 1) & 0xFFFFFFu)
            << x << "," << y;
    ASSERT_TRUE(texture->LetSourceGo());
    auto* renderer = dynamic_cast<T3DRenderer9*>(screen->Renderer());
    ASSERT_NE(renderer, nullptr);
    renderer->D3DDevice()->Debug().LoseDevice(plat::gfx::LossMode::EveryCall);
    EXPECT_FALSE(Frame(10.5f, 10.5f));
    ASSERT_TRUE(Frame(10.5f, 10.5f));
    EXPECT_EQ(made, 1);
    EXPECT_EQ(Capture(), first);
  }
}

}  // namespace multi_texture_device_test
