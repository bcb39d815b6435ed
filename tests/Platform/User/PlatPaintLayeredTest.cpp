#include <gtest/gtest.h>

#include <vector>

#include "Platform/Gdi/PlatGdi.h"
#include "tests/Platform/User/UserTestSupport.h"

using namespace plat;
using usertest::TRecorder;

namespace {

using TSource = usertest::TDibSource;

class PlatPaint : public usertest::UserTest {
protected:
  // A visible 100 x 100 popup at the origin, painted green (0xFF00C800).
  HWND GreenBelow() {
    HWND below = Make(WS_POPUP | WS_VISIBLE, nullptr, {0, 0, 100, 100});
    Pump();
    TSource green(100, 100, 0xFF00C800u);
    HDC wdc = GetDC(below);
    BitBlt(wdc, 0, 0, 100, 100, green.Dc, 0, 0, SRCCOPY);
    ReleaseDC(below, wdc);
    return below;
  }
};

std::uint32_t ClientPixel(HWND h, int x, int y) {
  int w = 0, hh = 0;
  auto px = headless::CaptureClient(h, w, hh);
  return x < w && y < hh ? px[std::size_t(y) * w + x] : 0xDEADBEEF;
}

std::uint32_t Screen(int x, int y) {
  std::uint32_t v = 0;
  EXPECT_TRUE(headless::ReadScreenPixel(POINT{x, y}, v));
  return v;
}

int Channel(std::uint32_t v, int shift) { return int((v >> shift) & 0xFF); }

TEST_F(PlatPaint, UpdateRegionIsASetOfRectangles) {
  HWND h = Make(WS_POPUP | WS_VISIBLE, nullptr, {0, 0, 100, 80});
  Pump();
  ASSERT_FALSE(GetUpdateRect(h, nullptr, 0));
  HRGN a = CreateRectRgn(0, 0, 10, 10), b = CreateRectRgn(50, 50, 60, 60), probe = CreateRectRgn(0, 0, 0, 0);
  EXPECT_TRUE(InvalidateRgn(h, a, 0));
  EXPECT_TRUE(InvalidateRgn(h, b, 0));
  EXPECT_EQ(GetUpdateRgn(h, probe, 0), COMPLEXREGION);
  RECT box;
  EXPECT_TRUE(GetUpdateRect(h, &box, 0));
  EXPECT_EQ(box, (RECT{0, 0, 60, 60}));
  // Validating one part leaves the other exactly.
  EXPECT_TRUE(ValidateRgn(h, a));
  EXPECT_EQ(GetUpdateRgn(h, probe, 0), SIMPLEREGION);
  EXPECT_TRUE(EqualRgn(probe, b));
  // Outside the client area nothing is added.
  HRGN outside = CreateRectRgn(200, 200, 300, 300);
  EXPECT_TRUE(InvalidateRgn(h, outside, 0));
  EXPECT_EQ(GetUpdateRgn(h, probe, 0), SIMPLEREGION);
  // Bad windows and regions fail; a stale region does not touch the window.
  DeleteObject(reinterpret_cast<HGDIOBJ>(outside));
  EXPECT_FALSE(InvalidateRgn(h, outside, 0));
  EXPECT_FALSE(ValidateRgn(h, outside));
  EXPECT_EQ(GetUpdateRgn(h, outside, 0), RGN_ERROR);
  EXPECT_EQ(GetUpdateRgn(reinterpret_cast<HWND>(std::uintptr_t(0x777)), probe, 0), RGN_ERROR);
  EXPECT_FALSE(InvalidateRgn(reinterpret_cast<HWND>(std::uintptr_t(0x777)), a, 0));
  EXPECT_TRUE(ValidateRgn(h, nullptr));
  EXPECT_EQ(GetUpdateRgn(h, probe, 0), NULLREGION);
  for (HRGN r : {a, b, probe}) DeleteObject(reinterpret_cast<HGDIOBJ>(r));
}

TEST_F(PlatPaint, BeginPaintDrawsOnlyTheUpdateRegion) {
  HWND h = Make(WS_POPUP | WS_VISIBLE, nullptr, {0, 0, 40, 40});
  Pump();
  TSource red(40, 40, 0xFFFF0000u);
  InvalidateRect(h, nullptr, 0);
  {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(h, &ps);
    ASSERT_NE(dc, nullptr);
    EXPECT_TRUE(BitBlt(dc, 0, 0, 40, 40, red.Dc, 0, 0, SRCCOPY));
    EndPaint(h, &ps);
  }
  TSource blue(40, 40, 0xFF0000FFu);
  RECT r1{0, 0, 5, 5}, r2{30, 30, 40, 40};
  InvalidateRect(h, &r1, 0);
  InvalidateRect(h, &r2, 0);
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(h, &ps);
  ASSERT_NE(dc, nullptr);
  EXPECT_EQ(ps.rcPaint, (RECT{0, 0, 40, 40}));
  EXPECT_FALSE(GetUpdateRect(h, nullptr, 0));  // validated
  HRGN probe = CreateRectRgn(0, 0, 1, 1);
  EXPECT_EQ(GetClipRgn(dc, probe), 0);  // the update region is the system clip
  EXPECT_TRUE(BitBlt(dc, 0, 0, 40, 40, blue.Dc, 0, 0, SRCCOPY));
  EXPECT_TRUE(EndPaint(h, &ps));
  EXPECT_EQ(ClientPixel(h, 2, 2), 0xFF0000FFu);
  EXPECT_EQ(ClientPixel(h, 35, 35), 0xFF0000FFu);
  EXPECT_EQ(ClientPixel(h, 20, 20), 0xFFFF0000u);
  EXPECT_EQ(ClientPixel(h, 6, 2), 0xFFFF0000u);
  // The paint DC is gone after EndPaint.
  EXPECT_FALSE(BitBlt(dc, 0, 0, 1, 1, blue.Dc, 0, 0, SRCCOPY));
  DeleteObject(reinterpret_cast<HGDIOBJ>(probe));
  // GetDC of a window draws everywhere.
  HDC wdc = GetDC(h);
  ASSERT_NE(wdc, nullptr);
  EXPECT_TRUE(BitBlt(wdc, 0, 0, 40, 40, blue.Dc, 0, 0, SRCCOPY));
  EXPECT_EQ(ReleaseDC(h, wdc), 1);
  EXPECT_EQ(ClientPixel(h, 20, 20), 0xFF0000FFu);
  EXPECT_EQ(ReleaseDC(h, wdc), 0);
}

TEST_F(PlatPaint, LayeredWindowComposesOverWhatLiesBelow) {
  HWND below = GreenBelow();
  EXPECT_EQ(Screen(10, 10), 0xFF00C800u);
  const std::uint32_t desktop = Screen(500, 500);

  HWND top = CreateWindowExW(WS_EX_LAYERED, u"Rec", u"l", WS_POPUP | WS_VISIBLE, 50, 50, 100, 100, nullptr, nullptr,
                             ModuleInstance(), nullptr);
  ASSERT_NE(top, nullptr);
  // Half-transparent red, premultiplied: R 128 at alpha 128.
  TSource half(60, 60, 0x80800000u);
  POINT pos{60, 60}, src{};
  SIZE size{60, 60};
  BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  ASSERT_TRUE(UpdateLayeredWindow(top, nullptr, &pos, &size, half.Dc, &src, 0x1FFFFFFF, &blend, ULW_ALPHA));
  RECT wr;
  GetWindowRect(top, &wr);
  EXPECT_EQ(wr, (RECT{60, 60, 120, 120}));
  EXPECT_EQ(ClientPixel(top, 0, 0), 0x80800000u);  // the window's pixels are the source's
  // Over the green window: red 128, green 200 * 127 / 255.
  std::uint32_t v = Screen(70, 70);
  EXPECT_EQ(Channel(v, 16), 128);
  EXPECT_NEAR(Channel(v, 8), 100, 1);
  EXPECT_EQ(Channel(v, 0), 0);
  // Over the desktop.
  v = Screen(110, 110);
  EXPECT_NEAR(Channel(v, 16), 128 + Channel(desktop, 16) * 127 / 255, 1);
  EXPECT_NEAR(Channel(v, 0), Channel(desktop, 0) * 127 / 255, 1);
  // The constant alpha applies on top of the per-pixel one.
  blend.SourceConstantAlpha = 0;
  ASSERT_TRUE(UpdateLayeredWindow(top, nullptr, nullptr, nullptr, half.Dc, &src, 0, &blend, ULW_ALPHA));
  EXPECT_EQ(Screen(70, 70), 0xFF00C800u);
  // An image window is not painted and has no attributes to read.
  TRecorder::Get().Clear();
  InvalidateRect(top, nullptr, 0);
  Pump();
  EXPECT_TRUE(TRecorder::Get().Of(WM_PAINT).empty());
  BYTE alpha = 0;
  EXPECT_FALSE(GetLayeredWindowAttributes(top, nullptr, &alpha, nullptr));
  // Bad calls: no blend with ULW_ALPHA, a DC without pixels, a non-layered window.
  EXPECT_FALSE(UpdateLayeredWindow(top, nullptr, nullptr, nullptr, half.Dc, &src, 0, nullptr, ULW_ALPHA));
  HDC screen = GetDC(nullptr);
  EXPECT_FALSE(UpdateLayeredWindow(top, nullptr, nullptr, nullptr, screen, &src, 0, &blend, ULW_ALPHA));
  ReleaseDC(nullptr, screen);
  EXPECT_FALSE(UpdateLayeredWindow(below, nullptr, nullptr, nullptr, half.Dc, &src, 0, &blend, ULW_ALPHA));
  SIZE zero{0, 5};
  EXPECT_FALSE(UpdateLayeredWindow(top, nullptr, nullptr, &zero, half.Dc, &src, 0, &blend, ULW_ALPHA));
  EXPECT_FALSE(SetLayeredWindowAttributes(below, 0, 128, LWA_ALPHA));
}

TEST_F(PlatPaint, LayeredAttributesAlphaAndColourKey) {
  GreenBelow();
  HWND top = CreateWindowExW(WS_EX_LAYERED, u"Rec", u"l", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr,
                             ModuleInstance(), nullptr);
  Pump();
  // Left half magenta (the key), right half white.
  TSource magenta(25, 50, 0xFFFF00FFu), white(25, 50, 0xFFFFFFFFu);
  HDC wdc = GetDC(top);
  BitBlt(wdc, 0, 0, 25, 50, magenta.Dc, 0, 0, SRCCOPY);
  BitBlt(wdc, 25, 0, 25, 50, white.Dc, 0, 0, SRCCOPY);
  ReleaseDC(top, wdc);
  // Layered without attributes yet: shown as painted.
  EXPECT_EQ(Screen(5, 5), 0xFFFF00FFu);
  ASSERT_TRUE(SetLayeredWindowAttributes(top, RGB(255, 0, 255), 0, LWA_COLORKEY));
  EXPECT_EQ(Screen(5, 5), 0xFF00C800u);
  EXPECT_EQ(Screen(30, 5), 0xFFFFFFFFu);
  ASSERT_TRUE(SetLayeredWindowAttributes(top, 0, 51, LWA_ALPHA));
  std::uint32_t v = Screen(30, 5);
  EXPECT_NEAR(Channel(v, 16), 51, 1);
  EXPECT_NEAR(Channel(v, 8), 51 + 200 * 204 / 255, 1);
  DWORD key = 1, flags = 0;
  BYTE alpha = 0;
  ASSERT_TRUE(GetLayeredWindowAttributes(top, &key, &alpha, &flags));
  EXPECT_EQ(alpha, 51);
  EXPECT_EQ(flags, LWA_ALPHA);
  // After attributes, per-pixel images are refused until the style is cleared and set again.
  TSource img(50, 50, 0xFFFFFFFFu);
  POINT src{};
  BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  EXPECT_FALSE(UpdateLayeredWindow(top, nullptr, nullptr, nullptr, img.Dc, &src, 0, &blend, ULW_ALPHA));
  SetWindowLongW(top, GWL_EXSTYLE, 0);
  EXPECT_FALSE(GetLayeredWindowAttributes(top, &key, &alpha, &flags));
  EXPECT_EQ(Screen(5, 5), 0xFFFF00FFu);  // plain again
  SetWindowLongW(top, GWL_EXSTYLE, LONG(WS_EX_LAYERED));
  EXPECT_TRUE(UpdateLayeredWindow(top, nullptr, nullptr, nullptr, img.Dc, &src, 0, &blend, ULW_ALPHA));
  // A hidden layered window shows nothing; outside every monitor there is no screen.
  ShowWindow(top, SW_HIDE);
  EXPECT_EQ(Screen(30, 5), 0xFF00C800u);
  std::uint32_t none;
  EXPECT_FALSE(headless::ReadScreenPixel(POINT{-5000, -5000}, none));
}

}  // namespace
