#include <gtest/gtest.h>

#include "Platform/Gfx/GfxDevice.h"
#include "Platform/Gfx/GfxPresent.h"
#include "tests/Platform/User/UserTestSupport.h"

namespace gfxpresenttest {

namespace gfx = plat::gfx;

class GfxPresentWindow : public usertest::UserTest {};

TEST_F(GfxPresentWindow, PresentLandsInTheHeadlessWindowsPixels) {
  plat::HWND hwnd = Make(plat::WS_OVERLAPPEDWINDOW | plat::WS_VISIBLE);
  ASSERT_NE(hwnd, nullptr);
  Pump();
  plat::RECT client{};
  ASSERT_TRUE(plat::GetClientRect(hwnd, &client));
  gfx::SystemConfig cfg;  // presents go to the window's frame buffer
  gfx::Ref<gfx::System> sys = gfx::CreateSystem(gfx::kSdkVersion, cfg);
  ASSERT_TRUE(sys);
  ASSERT_GE(sys->AdapterCount(), 1u);
  EXPECT_NE(sys->AdapterMonitor(0), nullptr);
  gfx::PresentParameters pp;  // size 0: the client area
  pp.deviceWindow = hwnd;
  gfx::Ref<gfx::Device> dev;
  ASSERT_EQ(sys->CreateDevice(0, gfx::DeviceType::Hal, hwnd, 0x26, pp, dev), gfx::Result::Ok);
  EXPECT_EQ(pp.backBufferWidth, static_cast<std::uint32_t>(client.right));
  EXPECT_EQ(pp.backBufferHeight, static_cast<std::uint32_t>(client.bottom));

  ASSERT_EQ(dev->Clear(0, nullptr, gfx::ClearTarget, 0xFF204060u, 1.0f, 0), gfx::Result::Ok);
  ASSERT_EQ(dev->SetViewport(gfx::Viewport{0, 0, 10, 5, 0.0f, 1.0f}), gfx::Result::Ok);
  ASSERT_EQ(dev->Clear(0, nullptr, gfx::ClearTarget, 0xFFFF0000u, 1.0f, 0), gfx::Result::Ok);
  ASSERT_EQ(dev->Present(nullptr, nullptr, nullptr, nullptr), gfx::Result::Ok);
  int w = 0, h = 0;
  std::vector<std::uint32_t> px = plat::headless::CaptureClient(hwnd, w, h);
  ASSERT_EQ(w, client.right);
  ASSERT_EQ(h, client.bottom);
  EXPECT_EQ(px[0] | 0xFF000000u, 0xFFFF0000u);
  EXPECT_EQ(px[4 * w + 9] | 0xFF000000u, 0xFFFF0000u);
  EXPECT_EQ(px[4 * w + 10] | 0xFF000000u, 0xFF204060u);
  EXPECT_EQ(px[(h - 1) * w + (w - 1)] | 0xFF000000u, 0xFF204060u);

  // A destination reaching past the client area is cut, not written outside.
  ASSERT_EQ(dev->Clear(0, nullptr, gfx::ClearTarget, 0xFF00FF00u, 1.0f, 0), gfx::Result::Ok);
  const gfx::Rect src{0, 0, 10, 5};
  const gfx::Rect dst{w - 4, h - 2, w + 6, h + 3};
  ASSERT_EQ(dev->Present(&src, &dst, nullptr, nullptr), gfx::Result::Ok);
  px = plat::headless::CaptureClient(hwnd, w, h);
  EXPECT_EQ(px[(h - 1) * w + (w - 1)] | 0xFF000000u, 0xFF00FF00u);
  EXPECT_EQ(px[(h - 3) * w + (w - 1)] | 0xFF000000u, 0xFF204060u);

  // A window that went away takes no frame; the device does not fail for it.
  ASSERT_TRUE(plat::DestroyWindow(hwnd));
  EXPECT_EQ(dev->Present(nullptr, nullptr, nullptr, nullptr), gfx::Result::Ok);
}

// A device on a child window: frames land where the child lies in its
// top-level, cut where the child sticks out, stretched ones too.
TEST_F(GfxPresentWindow, FramesOfAChildWindowLandAtTheChildAndAreCutWhereItSticksOut) {
  plat::HWND top = Make(plat::WS_POPUP | plat::WS_VISIBLE, nullptr, {0, 0, 64, 48});
  plat::HWND child = Make(plat::WS_CHILD | plat::WS_VISIBLE, top, {10, 6, 40, 26});
  Pump();
  gfx::SystemConfig cfg;
  gfx::Ref<gfx::System> sys = gfx::CreateSystem(gfx::kSdkVersion, cfg);
  ASSERT_TRUE(sys);
  gfx::PresentParameters pp;
  pp.deviceWindow = child;
  gfx::Ref<gfx::Device> dev;
  ASSERT_EQ(sys->CreateDevice(0, gfx::DeviceType::Hal, child, 0x26, pp, dev), gfx::Result::Ok);
  ASSERT_EQ(pp.backBufferWidth, 30u);
  const auto mark = [&](int x, int y, std::uint32_t argb) {
    const gfx::Rect r{x, y, x + 1, y + 1};
    ASSERT_EQ(dev->Clear(1, &r, gfx::ClearTarget, argb, 1.0f, 0), gfx::Result::Ok);
  };
  ASSERT_EQ(dev->Clear(0, nullptr, gfx::ClearTarget, 0xFFFF0000u, 1.0f, 0), gfx::Result::Ok);
  mark(0, 0, 0xFF00FF00u);
  mark(29, 19, 0xFF0000FFu);
  ASSERT_EQ(dev->Present(nullptr, nullptr, nullptr, nullptr), gfx::Result::Ok);
  int w = 0, h = 0;
  std::vector<std::uint32_t> px = plat::headless::CaptureClient(top, w, h);
  ASSERT_EQ(w, 64);
  const auto at = [&](int x, int y) { return px[static_cast<std::size_t>(y) * w + x] | 0xFF000000u; };
  EXPECT_EQ(at(10, 6), 0xFF00FF00u);
  EXPECT_EQ(at(11, 6), 0xFFFF0000u);
  EXPECT_EQ(at(39, 25), 0xFF0000FFu);
  EXPECT_NE(at(40, 25), 0xFFFF0000u);
  EXPECT_NE(at(9, 6), 0xFFFF0000u);

  // Sticking out left and above: client point (5, 4) is the top-level's (0, 0).
  ASSERT_TRUE(plat::SetWindowPos(child, nullptr, -5, -4, 0, 0, plat::SWP_NOSIZE | plat::SWP_NOZORDER));
  mark(5, 4, 0xFFFFFF00u);
  ASSERT_EQ(dev->Present(nullptr, nullptr, nullptr, nullptr), gfx::Result::Ok);
  px = plat::headless::CaptureClient(top, w, h);
  EXPECT_EQ(at(0, 0), 0xFFFFFF00u);
  EXPECT_EQ(at(1, 0), 0xFFFF0000u);
  EXPECT_EQ(at(24, 15), 0xFF0000FFu);
  // Neither right of nor below the child's pixels: never written.
  EXPECT_NE(at(25, 2), 0xFFFF0000u);
  EXPECT_NE(at(5, 16), 0xFFFF0000u);

  // Half the frame stretched over the child: client point (5, 4) shows
  // texel (2, 2), (6, 4) texel (3, 2).
  ASSERT_EQ(dev->Clear(0, nullptr, gfx::ClearTarget, 0xFFFF0000u, 1.0f, 0), gfx::Result::Ok);
  mark(2, 2, 0xFF00FFFFu);
  const gfx::Rect half{0, 0, 15, 10};
  const gfx::Rect whole{0, 0, 30, 20};
  ASSERT_EQ(dev->Present(&half, &whole, nullptr, nullptr), gfx::Result::Ok);
  px = plat::headless::CaptureClient(top, w, h);
  EXPECT_EQ(at(0, 0), 0xFF00FFFFu);
  EXPECT_EQ(at(1, 0), 0xFFFF0000u);
  EXPECT_EQ(at(24, 15), 0xFFFF0000u);
  EXPECT_NE(at(25, 2), 0xFFFF0000u);
  EXPECT_NE(at(5, 16), 0xFFFF0000u);
}

}  // namespace gfxpresenttest
