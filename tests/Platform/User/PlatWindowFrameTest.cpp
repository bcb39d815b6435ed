#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "Platform/Gdi/PlatGdi.h"
#include "Platform/PlatUtf8.h"
#include "tests/Platform/User/UserTestSupport.h"

using namespace plat;
using usertest::TRecorder;

namespace {

class PlatFrame : public usertest::UserTest {};

LRESULT Hit(HWND h, int x, int y) { return SendMessageW(h, WM_NCHITTEST, 0, MAKELPARAM(x, y)); }

TEST_F(PlatFrame, HitTestAnswersSizingBordersAndCaption) {
  HWND h = Make(WS_OVERLAPPEDWINDOW, nullptr, {100, 100, 400, 300});
  EXPECT_EQ(Hit(h, 101, 200), HTLEFT);
  EXPECT_EQ(Hit(h, 398, 200), HTRIGHT);
  EXPECT_EQ(Hit(h, 250, 101), HTTOP);
  EXPECT_EQ(Hit(h, 250, 298), HTBOTTOM);
  EXPECT_EQ(Hit(h, 101, 101), HTTOPLEFT);
  EXPECT_EQ(Hit(h, 398, 101), HTTOPRIGHT);
  EXPECT_EQ(Hit(h, 101, 298), HTBOTTOMLEFT);
  EXPECT_EQ(Hit(h, 399, 299), HTBOTTOMRIGHT);
  EXPECT_EQ(Hit(h, 250, 115), HTCAPTION);
  EXPECT_EQ(Hit(h, 250, 200), HTCLIENT);
  EXPECT_EQ(Hit(h, 50, 50), HTNOWHERE);
  // No sizing frame, no sizing borders; a popup has neither caption nor borders.
  HWND fixed = Make(WS_CAPTION | WS_BORDER, nullptr, {100, 100, 400, 300});
  EXPECT_EQ(Hit(fixed, 100, 200), HTBORDER);
  HWND popup = Make(WS_POPUP, nullptr, {100, 100, 400, 300});
  EXPECT_EQ(Hit(popup, 100, 100), HTCLIENT);
}

TEST_F(PlatFrame, UserResizePassesThroughSizing) {
  HWND h = Make(WS_OVERLAPPEDWINDOW | WS_VISIBLE, nullptr, {100, 100, 400, 300});
  Pump();
  // The handler keeps the width a multiple of 50.
  WPARAM edge = 0;
  TRecorder::Get().OnMessage = [&](HWND w, UINT m, WPARAM wp, LPARAM lp, LRESULT& r) {
    if (w != h || m != WM_SIZING) return false;
    edge = wp;
    auto* rc = reinterpret_cast<RECT*>(lp);
    rc->right = rc->left + (rc->right - rc->left) / 50 * 50;
    r = 1;
    return true;
  };
  TRecorder::Get().Clear();
  headless::DragResize(h, WMSZ_RIGHT, RECT{100, 100, 433, 300});
  EXPECT_EQ(edge, WMSZ_RIGHT);
  RECT wr;
  GetWindowRect(h, &wr);
  EXPECT_EQ(wr, (RECT{100, 100, 400, 300}));
  headless::DragResize(h, 0, RECT{100, 100, 480, 350});
  EXPECT_EQ(edge, WMSZ_BOTTOMRIGHT);
  GetWindowRect(h, &wr);
  EXPECT_EQ(wr, (RECT{100, 100, 450, 350}));
  EXPECT_FALSE(TRecorder::Get().Of(WM_WINDOWPOSCHANGED).empty());
  // A handler writing nonsense gives an empty window, not a crash.
  TRecorder::Get().OnMessage = [&](HWND, UINT m, WPARAM, LPARAM lp, LRESULT&) {
    if (m == WM_SIZING) *reinterpret_cast<RECT*>(lp) = RECT{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
    return false;
  };
  headless::DragResize(h, WMSZ_LEFT, RECT{90, 100, 450, 350});
  RECT cr;
  GetClientRect(h, &cr);
  EXPECT_EQ(cr.right, 0);
}

TEST_F(PlatFrame, HugeSizesAreClamped) {
  HWND hidden = Make(WS_OVERLAPPEDWINDOW, nullptr, {0, 0, 100000, 100000});
  RECT wr;
  GetWindowRect(hidden, &wr);
  EXPECT_EQ(wr.right - wr.left, kMaxWindowExtent);
  HWND h = Make(WS_POPUP | WS_VISIBLE, nullptr, {0, 0, 10, 10});
  EXPECT_TRUE(SetWindowPos(h, nullptr, INT32_MAX, INT32_MIN, 100000, 20, SWP_NOZORDER));
  GetWindowRect(h, &wr);
  EXPECT_EQ(wr.right - wr.left, kMaxWindowExtent);
  EXPECT_GT(wr.right, wr.left);  // no overflow
  int w = 1, hh = 1;
  EXPECT_EQ(headless::CaptureClient(h, w, hh).size(), std::size_t(kMaxFrameBufferSide) * 20);
  EXPECT_TRUE(SetWindowPos(h, nullptr, 0, 0, -5, -5, SWP_NOZORDER));
  EXPECT_TRUE(headless::CaptureClient(h, w, hh).empty());
}

TEST_F(PlatFrame, FrameChangeResizesTheClientArea) {
  HWND h = Make(WS_POPUP | WS_VISIBLE, nullptr, {0, 0, 200, 100});
  Pump();
  RECT cr;
  GetClientRect(h, &cr);
  EXPECT_EQ(cr, (RECT{0, 0, 200, 100}));
  SetWindowLongW(h, GWL_STYLE, LONG(WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_THICKFRAME));
  TRecorder::Get().Clear();
  EXPECT_TRUE(SetWindowPos(h, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED));
  GetClientRect(h, &cr);
  EXPECT_EQ(cr, (RECT{0, 0, 192, 69}));
  auto sizes = TRecorder::Get().Of(WM_SIZE);
  ASSERT_EQ(sizes.size(), 1u);
  EXPECT_EQ(sizes[0].L, MAKELPARAM(192, 69));
  EXPECT_EQ(TRecorder::Get().Of(WM_WINDOWPOSCHANGED).size(), 1u);
  int w = 0, hh = 0;
  headless::CaptureClient(h, w, hh);
  EXPECT_EQ(w, 192);
  EXPECT_EQ(hh, 69);
  EXPECT_TRUE(GetUpdateRect(h, nullptr, 0));
}

TEST_F(PlatFrame, SystemColoursMetricsAndFonts) {
  EXPECT_EQ(GetSysColor(COLOR_BTNFACE), RGB(212, 208, 200));
  EXPECT_EQ(GetSysColor(COLOR_WINDOW), RGB(255, 255, 255));
  EXPECT_EQ(GetSysColor(COLOR_INFOBK), RGB(255, 255, 225));
  EXPECT_EQ(GetSysColor(COLOR_3DDKSHADOW), RGB(64, 64, 64));
  EXPECT_EQ(GetSysColor(COLOR_MENUBAR), RGB(212, 208, 200));
  EXPECT_EQ(GetSysColor(-1), 0u);
  EXPECT_EQ(GetSysColor(31), 0u);
  EXPECT_EQ(GetCaretBlinkTime(), 530u);
  NONCLIENTMETRICSW m;
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, m.cbSize, &m, 0));
  EXPECT_EQ(std::u16string(m.lfMessageFont.lfFaceName), u"Tahoma");
  EXPECT_EQ(m.lfMessageFont.lfHeight, -11);  // 8 points at 96 dpi
  NONCLIENTMETRICSW bad;
  bad.cbSize = 12;
  EXPECT_FALSE(SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, 0, &bad, 0));
  EXPECT_FALSE(SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, 0, nullptr, 0));
  // WM_SETFONT is kept by the default procedure.
  HWND h = Make();
  SendMessageW(h, WM_SETFONT, WPARAM(0x1234), 0);
  EXPECT_EQ(SendMessageW(h, WM_GETFONT, 0, 0), 0x1234);
}

// A .cur file with one 32-bit entry of 2 x 2 pixels.
std::vector<std::uint8_t> CurFile(std::uint16_t hotX, std::uint16_t hotY) {
  std::vector<std::uint8_t> f;
  auto u16 = [&](unsigned v) { f.push_back(std::uint8_t(v)), f.push_back(std::uint8_t(v >> 8)); };
  auto u32 = [&](unsigned v) { u16(v & 0xFFFF), u16(v >> 16); };
  u16(0), u16(2), u16(1);
  f.push_back(2), f.push_back(2), f.push_back(0), f.push_back(0);
  u16(hotX), u16(hotY), u32(40 + 16 + 8), u32(22);
  u32(40), u32(2), u32(4), u16(1), u16(32), u32(0), u32(0), u32(0), u32(0), u32(0), u32(0);
  // Bottom row first: red, green; then blue, transparent.
  u32(0xFFFF0000), u32(0xFF00FF00), u32(0xFF0000FF), u32(0x00000000);
  u32(0), u32(0);  // AND mask
  return f;
}

std::u16string WriteTemp(const std::vector<std::uint8_t>& bytes, const char* name) {
  std::string path = std::string(::testing::TempDir()) + name;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  return FromUtf8(path);
}

TEST_F(PlatFrame, CursorsFromFilesPixelsAndResources) {
  auto path = WriteTemp(CurFile(1, 0), "plat_cursor.cur");
  HCURSOR c = static_cast<HCURSOR>(LoadImageW(nullptr, path.c_str(), IMAGE_CURSOR, 0, 0, LR_LOADFROMFILE | LR_DEFAULTSIZE));
  ASSERT_NE(c, nullptr);
  std::uint32_t px[4];
  int w = 0, h = 0;
  POINT hot;
  ASSERT_TRUE(CursorPixels(c, px, w, h, hot));
  EXPECT_EQ(w, 2);
  EXPECT_EQ(h, 2);
  EXPECT_EQ(hot, (POINT{1, 0}));
  EXPECT_EQ(px[0], 0xFF0000FFu);  // top-left: blue
  EXPECT_EQ(px[1], 0u);
  EXPECT_EQ(px[2], 0xFFFF0000u);
  // Shown, then destroyed while shown: the arrow takes over and the handle is stale.
  SetCursor(c);
  EXPECT_EQ(GetCursor(), c);
  EXPECT_TRUE(DestroyCursor(c));
  EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_ARROW));
  EXPECT_FALSE(CursorPixels(c, nullptr, w, h, hot));
  EXPECT_FALSE(DestroyCursor(c));
  // Damaged files: truncated, offsets past the end, absurd sizes, wrong type.
  auto file = CurFile(0, 0);
  std::vector<std::vector<std::uint8_t>> damaged;
  damaged.push_back(std::vector<std::uint8_t>(file.begin(), file.begin() + 30));
  damaged.push_back(file), damaged.back()[18] = 0xFF, damaged.back()[21] = 0x7F;  // offset
  damaged.push_back(file), damaged.back()[22 + 4] = 0xFF, damaged.back()[22 + 7] = 0x7F;  // width
  damaged.push_back(file), damaged.back()[2] = 3;
  damaged.push_back(file), damaged.back()[22 + 14] = 7;  // bit count
  damaged.push_back({});
  for (std::size_t i = 0; i < damaged.size(); ++i) {
    auto p = WriteTemp(damaged[i], "plat_cursor_bad.cur");
    EXPECT_EQ(LoadImageW(nullptr, p.c_str(), IMAGE_CURSOR, 0, 0, LR_LOADFROMFILE), nullptr) << i;
  }
  EXPECT_EQ(LoadImageW(nullptr, u"/no/such/file.cur", IMAGE_CURSOR, 0, 0, LR_LOADFROMFILE), nullptr);
  EXPECT_EQ(LoadImageW(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE), nullptr);
  // The program has no cursor resources here: null, as Windows answers.
  EXPECT_EQ(LoadCursorW(ModuleInstance(), 106), nullptr);
  EXPECT_EQ(LoadCursorW(ModuleInstance(), reinterpret_cast<std::uintptr_t>(u"HANDPOINT")), nullptr);
  EXPECT_EQ(LoadCursorW(nullptr, 12345), nullptr);
  EXPECT_NE(LoadIconW(nullptr, IDI_APPLICATION), nullptr);
  EXPECT_EQ(LoadIconW(ModuleInstance(), 1), LoadIconW(nullptr, IDI_APPLICATION));
  EXPECT_TRUE(DestroyCursor(LoadCursorW(nullptr, IDC_ARROW)));  // standard cursors stay
}

TEST_F(PlatFrame, CursorFromPixelsAndHotSpot) {
  BITMAPINFO info = usertest::Dib32Info(4, 3);
  void* bits = nullptr;
  HBITMAP bm = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  static_cast<std::uint32_t*>(bits)[5] = 0x80102030u;
  ICONINFO ii;
  ii.xHotspot = 9;  // beyond the picture: pulled in
  ii.yHotspot = 1;
  ii.hbmColor = ii.hbmMask = bm;
  HCURSOR c = CreateIconIndirect(&ii);
  ASSERT_NE(c, nullptr);
  std::uint32_t px[12];
  int w, h;
  POINT hot;
  ASSERT_TRUE(CursorPixels(c, px, w, h, hot));
  EXPECT_EQ(hot, (POINT{3, 1}));
  EXPECT_EQ(px[5], 0x80102030u);
  DeleteObject(reinterpret_cast<HGDIOBJ>(bm));
  EXPECT_TRUE(CursorPixels(c, px, w, h, hot));  // the cursor keeps its own copy
  EXPECT_TRUE(DestroyCursor(c));
  EXPECT_EQ(CreateIconIndirect(nullptr), nullptr);
  ICONINFO stale;
  stale.hbmColor = bm;
  EXPECT_EQ(CreateIconIndirect(&stale), nullptr);
}

}  // namespace
