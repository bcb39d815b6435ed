// Clears and presents of whole frames, which run over the workers in bands
// of rows: the pixels are those of the one-thread run, edges of the viewport,
// the rectangles and the last partial band included.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "Platform/Gfx/GfxDevice.h"
#include "Platform/Gfx/GfxPresent.h"
#include "Platform/Gfx/GfxWorkers.h"

namespace plat::gfx {
namespace {

constexpr std::uint32_t kW = 700, kH = 523;  // 523 rows: a partial last band

// Clears the back buffer in turn (whole, viewport, rectangles) and presents
// a part of it; the sink's frame.
std::vector<std::uint32_t> ClearAndPresent(std::uint32_t threads) {
  GfxWorkers::Instance().SetThreadCount(threads);
  MemorySink sink;
  SystemConfig cfg;
  cfg.presentSink = &sink;
  Ref<System> system = CreateSystem(kSdkVersion, cfg);
  EXPECT_TRUE(system);
  if (!system) return {};
  PresentParameters pp;
  pp.backBufferWidth = kW;
  pp.backBufferHeight = kH;
  pp.backBufferFormat = Format::X8R8G8B8;
  Ref<Device> device;
  EXPECT_EQ(system->CreateDevice(0, DeviceType::Hal, nullptr, 0x26, pp, device), Result::Ok);
  if (!device) return {};
  EXPECT_EQ(device->Clear(0, nullptr, ClearTarget, 0x00102030u, 1.0f, 0), Result::Ok);
  EXPECT_EQ(device->SetViewport(Viewport{3, 5, kW - 10, kH - 7, 0.0f, 1.0f}), Result::Ok);
  EXPECT_EQ(device->Clear(0, nullptr, ClearTarget, 0x80FF0000u, 1.0f, 0), Result::Ok);
  const Rect rects[2] = {{-20, 100, 650, 900}, {600, 0, 800, 50}};
  EXPECT_EQ(device->Clear(2, rects, ClearTarget, 0xFF00FF00u, 1.0f, 0), Result::Ok);
  const Rect src{1, 2, kW - 1, kH}, dst{0, 0, kW - 2, kH - 2};
  EXPECT_EQ(device->Present(&src, &dst, reinterpret_cast<WindowId>(1), nullptr), Result::Ok);
  return sink.LastFrame(reinterpret_cast<WindowId>(1)).pixels;
}

TEST(GfxLargeFrame, BandedClearAndPresentEqualOneThread) {
  const std::uint32_t saved = GfxWorkers::Instance().ThreadCount();
  const std::vector<std::uint32_t> one = ClearAndPresent(1), four = ClearAndPresent(4);
  GfxWorkers::Instance().SetThreadCount(saved);
  ASSERT_EQ(one.size(), std::size_t{kW - 2} * (kH - 2));
  EXPECT_EQ(one, four);
  // Spot checks against the rules: outside the viewport, inside it, in a rectangle.
  const auto at = [&](std::uint32_t x, std::uint32_t y) { return one[std::size_t{y} * (kW - 2) + x]; };
  EXPECT_EQ(at(0, 0), 0xFF102030u);          // (1, 2): outside the viewport
  EXPECT_EQ(at(10, 10), 0xFFFF0000u);        // inside, X8 keeps alpha
  EXPECT_EQ(at(10, 200), 0xFF00FF00u);       // first rectangle, cut to the viewport
  EXPECT_EQ(at(kW - 3, kH - 3), 0xFF102030u);  // bottom right, past the viewport
}

}  // namespace
}  // namespace plat::gfx
