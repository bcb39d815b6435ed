// A 3D device's frames as the display server shows them: run under a virtual
// X server with ZM_DISPLAY=sdl.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "Platform/Gfx/GfxDevice.h"
#include "Platform/PlatSystem.h"
#include "Platform/User/PlatUser.h"
#include "Platform/User/PlatUserHeadless.h"
#include "tests/Platform/User/UserTestSupport.h"

using namespace plat;
namespace gfx = plat::gfx;

namespace {

// Cells of 8 x 8 pixels, each of its own colour with unlike red, green and
// blue bytes: a swapped channel, a shifted row or a wrong stride shows.
std::uint32_t CellColour(int cx, int cy, int seed) {
  const auto byte = [](int v) { return std::uint32_t(v & 0xFF); };
  return 0xFF000000u | byte(cx * 37 + seed * 11 + 5) << 16 | byte(cy * 53 + seed * 5 + 7) << 8 |
         byte(cx * 13 + cy * 29 + seed * 3 + 101);
}

void DrawCells(gfx::Device& dev, int width, int height, int seed) {
  for (int cy = 0; cy * 8 < height; ++cy)
    for (int cx = 0; cx * 8 < width; ++cx) {
      const gfx::Rect r{cx * 8, cy * 8, std::min(width, cx * 8 + 8), std::min(height, cy * 8 + 8)};
      ASSERT_EQ(dev.Clear(1, &r, gfx::ClearTarget, CellColour(cx, cy, seed), 1.0f, 0), gfx::Result::Ok);
    }
}

std::vector<int> Samples(int size, int step) {
  std::vector<int> v;
  for (int i = 0; i < size; i += step) v.push_back(i);
  if (v.back() != size - 1) v.push_back(size - 1);
  return v;
}

// Points of the window whose shown pixel differs from the cells drawn.
int Mismatches(HWND hwnd, int width, int height, int seed) {
  int bad = 0;
  for (int y : Samples(height, 3))
    for (int x : Samples(width, 5)) {
      std::uint32_t shown = 0;
      if (!ReadNativePixel(hwnd, POINT{x, y}, shown) || shown != CellColour(x / 8, y / 8, seed)) ++bad;
    }
  return bad;
}

TEST(SdlPresent, TheWindowShowsTheDevicesFrameFromEitherThreadAndAfterAResize) {
  ASSERT_TRUE(InitWindowSystem());
  ASSERT_EQ(WindowSystemBackEnd(), "sdl") << "no display server: run under xvfb-run";
  WNDCLASSW wc{};
  wc.lpfnWndProc = &DefWindowProcW;
  wc.lpszClassName = u"SdlPresent";
  ASSERT_NE(RegisterClassW(&wc), 0);
  HWND h = CreateWindowExW(0, u"SdlPresent", u"Frames", WS_POPUP | WS_VISIBLE, 30, 30, 100, 60, nullptr, nullptr,
                           ModuleInstance(), nullptr);
  ASSERT_NE(h, nullptr);
  headless::PumpUntilIdle();
  gfx::SystemConfig cfg;  // presents go to the window
  gfx::Ref<gfx::System> sys = gfx::CreateSystem(gfx::kSdkVersion, cfg);
  ASSERT_TRUE(sys);
  gfx::PresentParameters pp;
  pp.deviceWindow = h;
  gfx::Ref<gfx::Device> dev;
  ASSERT_EQ(sys->CreateDevice(0, gfx::DeviceType::Hal, h, 0x26, pp, dev), gfx::Result::Ok);
  ASSERT_EQ(pp.backBufferWidth, 100u);
  ASSERT_EQ(pp.backBufferHeight, 60u);

  // From the UI thread: shown on return.
  DrawCells(*dev, 100, 60, 1);
  ASSERT_EQ(dev->Present(nullptr, nullptr, nullptr, nullptr), gfx::Result::Ok);
  EXPECT_EQ(Mismatches(h, 100, 60, 1), 0);

  // From a drawing thread: shown once the UI thread has handed it on.
  const int before = headless::PresentCount(h);
  std::thread drawer([&] {
    DrawCells(*dev, 100, 60, 2);
    EXPECT_EQ(dev->Present(nullptr, nullptr, nullptr, nullptr), gfx::Result::Ok);
  });
  drawer.join();
  ASSERT_TRUE(usertest::PumpMessagesUntil([&] { return headless::PresentCount(h) > before; }, 10000));
  EXPECT_EQ(Mismatches(h, 100, 60, 2), 0);

  // A larger window gets new pixels; the device follows after a reset.
  ASSERT_TRUE(SetWindowPos(h, nullptr, 0, 0, 124, 90, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE));
  gfx::PresentParameters again;
  again.deviceWindow = h;
  ASSERT_EQ(dev->Reset(again), gfx::Result::Ok);
  ASSERT_EQ(again.backBufferWidth, 124u);
  DrawCells(*dev, 124, 90, 3);
  ASSERT_EQ(dev->Present(nullptr, nullptr, nullptr, nullptr), gfx::Result::Ok);
  EXPECT_EQ(Mismatches(h, 124, 90, 3), 0);

  EXPECT_TRUE(DestroyWindow(h));
  EXPECT_EQ(dev->Present(nullptr, nullptr, nullptr, nullptr), gfx::Result::Ok);
  dev = nullptr;
  sys = nullptr;
  EXPECT_TRUE(UnregisterClassW(u"SdlPresent", nullptr));
  ShutdownWindowSystem();
}

}  // namespace
