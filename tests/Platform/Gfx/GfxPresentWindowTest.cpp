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

}  // namespace gfxpresenttest
