// Drawing through the DC of a child window that lies partly outside its
// top-level's frame buffer: client coordinates hold, the outside is clipped.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "Platform/Gdi/PlatGdi.h"
#include "tests/Platform/User/UserTestSupport.h"

using namespace plat;

namespace {

constexpr std::uint32_t kRed = 0xFFFF0000u, kBlack = 0xFF000000u;

class PlatChildPixels : public usertest::UserTest {
protected:
  HWND Top = nullptr;
  void SetUp() override {
    UserTest::SetUp();
    Top = Make(WS_POPUP | WS_VISIBLE, nullptr, {0, 0, 100, 80});
    Pump();
  }
  // A child of Top at (x, y), 40 x 30.
  HWND Child(int x, int y, const char16_t* cls = u"Rec") {
    HWND h = CreateWindowExW(0, cls, u"c", WS_CHILD | WS_VISIBLE, x, y, 40, 30, Top, nullptr, ModuleInstance(),
                             nullptr);
    EXPECT_NE(h, nullptr);
    Pump();
    return h;
  }
  std::vector<std::uint32_t> TopPixels() {
    int w = 0, h = 0;
    auto px = headless::CaptureClient(Top, w, h);
    EXPECT_EQ(w, 100);
    EXPECT_EQ(h, 80);
    return px;
  }
  // How many pixels of the top-level's buffer are `bgra`.
  int CountOf(std::uint32_t bgra) {
    auto px = TopPixels();
    return int(std::count(px.begin(), px.end(), bgra));
  }
  std::uint32_t TopAt(int x, int y) { return TopPixels()[std::size_t(y) * 100 + std::size_t(x)]; }
};

using TSource = usertest::TDibSource;

TEST_F(PlatChildPixels, PixelsOfAChildAboveAndLeftOfTheBufferKeepTheirClientPoint) {
  HWND c = Child(-10, -5);
  HDC dc = GetDC(c);
  ASSERT_NE(dc, nullptr);
  EXPECT_EQ(SetPixel(dc, 12, 7, RGB(255, 0, 0)), RGB(255, 0, 0));
  EXPECT_EQ(TopAt(2, 2), kRed);
  EXPECT_EQ(CountOf(kRed), 1);
  EXPECT_EQ(GetPixel(dc, 12, 7), RGB(255, 0, 0));
  EXPECT_EQ(GetPixel(dc, 10, 5), RGB(0, 0, 0));  // the buffer's first pixel
  // Client points outside the buffer are clipped, on every side.
  for (POINT p : {POINT{9, 7}, POINT{12, 4}, POINT{0, 0}, POINT{40, 7}, POINT{12, 30}, POINT{-1, -1}}) {
    EXPECT_EQ(SetPixel(dc, p.x, p.y, RGB(255, 0, 0)), CLR_INVALID) << p.x << "," << p.y;
    EXPECT_EQ(GetPixel(dc, p.x, p.y), CLR_INVALID) << p.x << "," << p.y;
  }
  EXPECT_EQ(CountOf(kRed), 1);
  // The capture of the child is indexed by client point too.
  int w = 0, h = 0;
  auto px = headless::CaptureClient(c, w, h);
  ASSERT_EQ(w, 40);
  ASSERT_EQ(h, 30);
  EXPECT_EQ(px[7 * 40 + 12], kRed);
  EXPECT_EQ(ReleaseDC(c, dc), 1);

  // A blit at the same point, and one over the whole client area.
  TSource red(1, 1, 0x00FF0000u), all(40, 30, 0x000000FFu);
  dc = GetDC(c);
  SetPixel(dc, 12, 7, RGB(0, 0, 0));
  ASSERT_TRUE(BitBlt(dc, 12, 7, 1, 1, red.Dc, 0, 0, SRCCOPY));
  EXPECT_EQ(TopAt(2, 2), kRed);
  EXPECT_EQ(CountOf(kRed), 1);
  ASSERT_TRUE(BitBlt(dc, 0, 0, 40, 30, all.Dc, 0, 0, SRCCOPY));
  EXPECT_EQ(CountOf(0xFF0000FFu), 30 * 25);
  EXPECT_EQ(TopAt(29, 24), 0xFF0000FFu);
  EXPECT_EQ(TopAt(30, 24), 0u);
  EXPECT_EQ(TopAt(29, 25), 0u);
  // A source offset keeps source pixel (sx, sy) at client (x, y).
  all.Bits[7 * 40 + 12] = 0x00FF0000u;
  ASSERT_TRUE(BitBlt(dc, 0, 0, 40, 30, all.Dc, 0, 0, SRCCOPY));
  EXPECT_EQ(TopAt(2, 2), kRed);
  ASSERT_TRUE(BitBlt(dc, 2, 2, 38, 28, all.Dc, 2, 2, SRCCOPY));
  EXPECT_EQ(TopAt(2, 2), kRed);
  EXPECT_EQ(CountOf(kRed), 1);
  EXPECT_EQ(ReleaseDC(c, dc), 1);
}

TEST_F(PlatChildPixels, StretchDIBitsOnAChildMapsClientPoints) {
  HWND c = Child(-10, -5);
  HDC dc = GetDC(c);
  // A 2 x 2 DIB doubled onto client (11, 6): its red corner covers (11..12, 6..7).
  std::uint32_t bits[4] = {0x00FF0000u, 0x000000FFu, 0x000000FFu, 0x000000FFu};
  BITMAPINFO info = usertest::Dib32Info(2, 2);
  EXPECT_EQ(StretchDIBits(dc, 11, 6, 4, 4, 0, 0, 2, 2, bits, &info, DIB_RGB_COLORS, SRCCOPY), 2);
  EXPECT_EQ(TopAt(1, 1), kRed);
  EXPECT_EQ(TopAt(2, 2), kRed);
  EXPECT_EQ(TopAt(3, 3), 0xFF0000FFu);
  EXPECT_EQ(CountOf(kRed), 4);
  // Wholly outside the buffer: drawn nowhere, and no failure.
  EXPECT_EQ(StretchDIBits(dc, 0, 0, 10, 5, 0, 0, 2, 2, bits, &info, DIB_RGB_COLORS, SRCCOPY), 2);
  EXPECT_EQ(CountOf(kRed), 4);
  // From far outside with coordinates at the ends of int.
  EXPECT_EQ(StretchDIBits(dc, INT32_MIN, INT32_MIN, 4, 4, 0, 0, 2, 2, bits, &info, DIB_RGB_COLORS, SRCCOPY), 2);
  TSource src(4, 4, 0x00FF0000u);
  EXPECT_TRUE(BitBlt(dc, INT32_MAX - 2, INT32_MAX - 2, 4, 4, src.Dc, 0, 0, SRCCOPY));
  EXPECT_TRUE(BitBlt(dc, INT32_MIN, INT32_MIN, 4, 4, src.Dc, 0, 0, SRCCOPY));
  EXPECT_EQ(SetPixel(dc, INT32_MIN, INT32_MAX, RGB(255, 0, 0)), CLR_INVALID);
  EXPECT_EQ(CountOf(kRed), 4);
  ReleaseDC(c, dc);
}

TEST_F(PlatChildPixels, AChildPastTheRightAndBottomEdgesIsCutThere) {
  HWND c = Child(80, 70);  // 20 x 10 of it inside the buffer
  HDC dc = GetDC(c);
  EXPECT_EQ(SetPixel(dc, 5, 3, RGB(255, 0, 0)), RGB(255, 0, 0));
  EXPECT_EQ(TopAt(85, 73), kRed);
  EXPECT_EQ(SetPixel(dc, 20, 3, RGB(255, 0, 0)), CLR_INVALID);
  EXPECT_EQ(SetPixel(dc, 5, 10, RGB(255, 0, 0)), CLR_INVALID);
  EXPECT_EQ(GetPixel(dc, 19, 9), RGB(0, 0, 0));
  EXPECT_EQ(GetPixel(dc, 39, 29), CLR_INVALID);
  TSource all(40, 30, 0x000000FFu);
  ASSERT_TRUE(BitBlt(dc, 0, 0, 40, 30, all.Dc, 0, 0, SRCCOPY));
  EXPECT_EQ(CountOf(0xFF0000FFu), 20 * 10);
  EXPECT_EQ(TopAt(80, 70), 0xFF0000FFu);
  EXPECT_EQ(TopAt(99, 79), 0xFF0000FFu);
  EXPECT_EQ(TopAt(79, 79), 0u);
  int w = 0, h = 0;
  EXPECT_EQ(headless::CaptureClient(c, w, h).size(), 20u * 10u);
  ReleaseDC(c, dc);
  // Wholly outside: there are no pixels to lock, and drawing fails cleanly.
  SetWindowPos(c, nullptr, 100, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  dc = GetDC(c);
  EXPECT_EQ(SetPixel(dc, 0, 0, RGB(255, 0, 0)), CLR_INVALID);
  EXPECT_FALSE(BitBlt(dc, 0, 0, 40, 30, all.Dc, 0, 0, SRCCOPY));
  ReleaseDC(c, dc);
}

TEST_F(PlatChildPixels, PaintAndClipRegionsOfAChildAreInClientCoordinates) {
  HWND c = Child(-10, -5);
  TSource all(40, 30, 0x000000FFu);
  {
    // The application clip: one client pixel.
    HDC dc = GetDC(c);
    HRGN one = CreateRectRgn(12, 7, 13, 8);
    SelectClipRgn(dc, one);
    ASSERT_TRUE(BitBlt(dc, 0, 0, 40, 30, all.Dc, 0, 0, SRCCOPY));
    EXPECT_EQ(CountOf(0xFF0000FFu), 1);
    EXPECT_EQ(TopAt(2, 2), 0xFF0000FFu);
    EXPECT_EQ(SetPixel(dc, 13, 7, RGB(255, 0, 0)), CLR_INVALID);
    DeleteObject(reinterpret_cast<HGDIOBJ>(one));
    ReleaseDC(c, dc);
  }
  // BeginPaint's DC reaches only the update region, at its client points.
  std::vector<RECT> painted;
  usertest::TRecorder::Get().OnMessage = [&](HWND h, UINT m, WPARAM, LPARAM, LRESULT& r) {
    if (h != c || m != WM_PAINT) return false;
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(h, &ps);
    painted.push_back(ps.rcPaint);
    TSource red(40, 30, 0x00FF0000u);
    BitBlt(dc, 0, 0, 40, 30, red.Dc, 0, 0, SRCCOPY);
    EndPaint(h, &ps);
    r = 0;
    return true;
  };
  const RECT area{11, 6, 14, 8};
  InvalidateRect(c, &area, 0);
  UpdateWindow(c);
  ASSERT_EQ(painted.size(), 1u);
  EXPECT_EQ(painted[0].left, 11);
  EXPECT_EQ(painted[0].bottom, 8);
  EXPECT_EQ(CountOf(kRed), 3 * 2);
  for (int y = 1; y < 3; ++y)
    for (int x = 1; x < 4; ++x) EXPECT_EQ(TopAt(x, y), kRed) << x << "," << y;
}

TEST_F(PlatChildPixels, EraseFillsTheUpdateRegionAtItsClientPoints) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = &DefWindowProcW;
  wc.lpszClassName = u"Brushed";
  wc.hbrBackground = reinterpret_cast<HBRUSH>(std::uintptr_t(COLOR_WINDOW + 1));
  ASSERT_NE(RegisterClassW(&wc), 0);
  const DWORD c5 = GetSysColor(COLOR_WINDOW);
  const std::uint32_t fill = 0xFF000000u | (c5 & 0xFF) << 16 | (c5 & 0xFF00) | (c5 >> 16 & 0xFF);
  ASSERT_NE(fill, kBlack);
  HWND c = Child(-10, -5, u"Brushed");
  UpdateWindow(c);
  // The first paint erased all of the child that is inside the buffer.
  EXPECT_EQ(CountOf(fill), 30 * 25);
  EXPECT_EQ(TopAt(29, 24), fill);
  EXPECT_EQ(TopAt(30, 0), 0u);

  TSource black(40, 30, 0);
  HDC dc = GetDC(c);
  ASSERT_TRUE(BitBlt(dc, 0, 0, 40, 30, black.Dc, 0, 0, SRCCOPY));
  ReleaseDC(c, dc);
  ASSERT_EQ(CountOf(kBlack), 30 * 25);
  const RECT area{12, 7, 14, 9};
  InvalidateRect(c, &area, 1);
  UpdateWindow(c);
  EXPECT_EQ(CountOf(fill), 4);
  EXPECT_EQ(TopAt(2, 2), fill);
  EXPECT_EQ(TopAt(3, 3), fill);
  EXPECT_EQ(TopAt(1, 1), kBlack);
  EXPECT_EQ(TopAt(4, 4), kBlack);

  // Erasing into a memory DC fills that DC instead of the window.
  TSource mem(40, 30, 0);
  EXPECT_EQ(SendMessageW(c, WM_ERASEBKGND, reinterpret_cast<WPARAM>(mem.Dc), 0), 1);
  EXPECT_EQ(mem.Bits[0] & 0xFFFFFFu, fill & 0xFFFFFFu);
  EXPECT_EQ(mem.Bits[40 * 30 - 1] & 0xFFFFFFu, fill & 0xFFFFFFu);
  EXPECT_EQ(CountOf(fill), 4);
  // No DC, no erase.
  EXPECT_EQ(SendMessageW(c, WM_ERASEBKGND, 0, 0), 0);
}

}  // namespace
