#include "Platform/Gdi/PlatGdi.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "Platform/Gdi/PlatMscms.h"
#include "Platform/User/PlatUserHeadless.h"

using namespace plat;

namespace {

BITMAPINFO Info(int w, int h, int bits, DWORD compression = BI_RGB) {
  BITMAPINFO i{};
  i.bmiHeader.biSize = 40;
  i.bmiHeader.biWidth = w;
  i.bmiHeader.biHeight = h;
  i.bmiHeader.biPlanes = 1;
  i.bmiHeader.biBitCount = WORD(bits);
  i.bmiHeader.biCompression = compression;
  return i;
}

void SetMasks(BITMAPINFO& i, std::uint32_t r, std::uint32_t g, std::uint32_t b) {
  const std::uint32_t m[3] = {r, g, b};
  std::memcpy(i.bmiColors, m, 12);
}

// A memory DC with a new DIB section selected; released at the end.
struct TDibDc {
  HDC Dc = nullptr;
  HBITMAP Bitmap = nullptr;
  HGDIOBJ Old = nullptr;
  std::uint8_t* Bits = nullptr;
  explicit TDibDc(const BITMAPINFO& info) {
    void* p = nullptr;
    Bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &p, nullptr, 0);
    Bits = static_cast<std::uint8_t*>(p);
    Dc = CreateCompatibleDC(nullptr);
    Old = SelectObject(Dc, reinterpret_cast<HGDIOBJ>(Bitmap));
  }
  ~TDibDc() {
    SelectObject(Dc, Old);
    DeleteDC(Dc);
    DeleteObject(reinterpret_cast<HGDIOBJ>(Bitmap));
  }
};

class GdiTest : public ::testing::Test {
protected:
  void SetUp() override { baseline_ = LiveGdiObjectCount(); }
  void TearDown() override { EXPECT_EQ(LiveGdiObjectCount(), baseline_) << "GDI objects leaked"; }
  int baseline_ = 0;
};

}  // namespace

TEST_F(GdiTest, DibSectionsAreValidatedZeroFilledAndAligned) {
  void* bits = reinterpret_cast<void*>(1);
  BITMAPINFO good = Info(3, 2, 24);
  HBITMAP b = CreateDIBSection(nullptr, &good, DIB_RGB_COLORS, &bits, nullptr, 0);
  ASSERT_TRUE(b);
  auto* p = static_cast<std::uint8_t*>(bits);
  for (int i = 0; i < 24; ++i) EXPECT_EQ(p[i], 0) << i;  // 2 rows of 12 bytes
  EXPECT_TRUE(DeleteObject(reinterpret_cast<HGDIOBJ>(b)));

  // Bad headers give nothing and never a crash.
  for (BITMAPINFO bad : {Info(0, 2, 24), Info(3, 0, 24), Info(3, 2, 7), Info(3, 2, 8, BI_RLE8),
                         Info(3, 2, 24, BI_BITFIELDS), Info(70000, 70000, 32), Info(-3, 2, 24)}) {
    bits = reinterpret_cast<void*>(1);
    EXPECT_FALSE(CreateDIBSection(nullptr, &bad, DIB_RGB_COLORS, &bits, nullptr, 0));
    EXPECT_EQ(bits, nullptr);
  }
  BITMAPINFO noMasks = Info(3, 2, 16, BI_BITFIELDS);
  EXPECT_FALSE(CreateDIBSection(nullptr, &noMasks, DIB_RGB_COLORS, &bits, nullptr, 0));
  EXPECT_FALSE(CreateDIBSection(nullptr, &good, DIB_PAL_COLORS, &bits, nullptr, 0));
  EXPECT_FALSE(CreateDIBSection(nullptr, nullptr, DIB_RGB_COLORS, &bits, nullptr, 0));
}

TEST_F(GdiTest, HandlesAreCheckedSelectionAndDeletionFollowGdiRules) {
  BITMAPINFO info = Info(2, 2, 32);
  void* bits;
  HBITMAP b = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC dc1 = CreateCompatibleDC(nullptr), dc2 = CreateCompatibleDC(dc1);
  ASSERT_TRUE(b && dc1 && dc2);
  HGDIOBJ stock = SelectObject(dc1, reinterpret_cast<HGDIOBJ>(b));
  ASSERT_TRUE(stock);
  // One DC at a time, and no deletion while selected.
  EXPECT_FALSE(SelectObject(dc2, reinterpret_cast<HGDIOBJ>(b)));
  EXPECT_FALSE(DeleteObject(reinterpret_cast<HGDIOBJ>(b)));
  EXPECT_EQ(SelectObject(dc1, stock), reinterpret_cast<HGDIOBJ>(b));
  EXPECT_TRUE(DeleteObject(reinterpret_cast<HGDIOBJ>(b)));
  // A stale handle fails, also in the wrong role.
  EXPECT_FALSE(DeleteObject(reinterpret_cast<HGDIOBJ>(b)));
  EXPECT_FALSE(SelectObject(dc1, reinterpret_cast<HGDIOBJ>(b)));
  EXPECT_FALSE(DeleteObject(reinterpret_cast<HGDIOBJ>(dc1)));
  EXPECT_EQ(GetPixel(reinterpret_cast<HDC>(b), 0, 0), CLR_INVALID);
  EXPECT_TRUE(DeleteDC(dc1));
  EXPECT_FALSE(DeleteDC(dc1));
  EXPECT_TRUE(DeleteDC(dc2));
  EXPECT_FALSE(DeleteObject(reinterpret_cast<HGDIOBJ>(std::uintptr_t(12345))));

  // Deleting a DC lets its bitmap go, which can then be deleted.
  HBITMAP c = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC dc3 = CreateCompatibleDC(nullptr);
  SelectObject(dc3, reinterpret_cast<HGDIOBJ>(c));
  EXPECT_TRUE(DeleteDC(dc3));
  EXPECT_TRUE(DeleteObject(reinterpret_cast<HGDIOBJ>(c)));
}

TEST_F(GdiTest, BottomUpAndTopDownRowsAndPixels) {
  BITMAPINFO up = Info(2, 3, 24);
  TDibDc a(up);
  // Bottom-up: the top line is the last in memory.
  EXPECT_EQ(SetPixel(a.Dc, 0, 0, RGB(10, 20, 30)), RGB(10, 20, 30));
  const std::uint8_t* last = a.Bits + 2 * 8;
  EXPECT_EQ(last[0], 30);
  EXPECT_EQ(last[1], 20);
  EXPECT_EQ(last[2], 10);
  EXPECT_EQ(GetPixel(a.Dc, 0, 0), RGB(10, 20, 30));
  EXPECT_EQ(GetPixel(a.Dc, 2, 0), CLR_INVALID);
  EXPECT_EQ(SetPixel(a.Dc, -1, 0, 0), CLR_INVALID);

  BITMAPINFO down = Info(2, -3, 24);
  TDibDc b(down);
  SetPixel(b.Dc, 1, 0, RGB(1, 2, 3));
  EXPECT_EQ(b.Bits[3], 3);
  EXPECT_EQ(b.Bits[5], 1);
}

TEST_F(GdiTest, BitBltConvertsClipsAndKeepsAlphaOnlyBetween32BitBitmaps) {
  BITMAPINFO src32 = Info(4, -2, 32);
  TDibDc s(src32);
  auto* px = reinterpret_cast<std::uint32_t*>(s.Bits);
  for (int i = 0; i < 8; ++i) px[i] = 0x80000000u | std::uint32_t(i * 0x010203);
  BITMAPINFO dst32 = Info(4, -2, 32);
  TDibDc d(dst32);
  EXPECT_TRUE(BitBlt(d.Dc, 0, 0, 4, 2, s.Dc, 0, 0, SRCCOPY));
  EXPECT_EQ(std::memcmp(d.Bits, s.Bits, 32), 0);

  // Negative offsets clip; the source rectangle moves with them.
  BITMAPINFO dst24 = Info(4, -2, 24);
  TDibDc e(dst24);
  EXPECT_TRUE(BitBlt(e.Dc, -1, 1, 4, 2, s.Dc, 0, 0, SRCCOPY));
  EXPECT_EQ(GetPixel(e.Dc, 0, 1), RGB(1, 2, 3));  // source pixel (1, 0): 0x80010203
  EXPECT_EQ(GetPixel(e.Dc, 0, 0), RGB(0, 0, 0));
  EXPECT_EQ(GetPixel(e.Dc, 3, 1), RGB(0, 0, 0));  // beyond the copied width

  // 24 to 32 writes alpha 0.
  TDibDc f(dst32);
  std::memset(f.Bits, 0xFF, 32);
  EXPECT_TRUE(BitBlt(f.Dc, 0, 0, 4, 2, e.Dc, 0, 0, SRCCOPY));
  EXPECT_EQ(f.Bits[3], 0);

  EXPECT_FALSE(BitBlt(f.Dc, 0, 0, 4, 2, e.Dc, 0, 0, 0x00EE0086));  // not SRCCOPY
  HDC screen = GetDC(nullptr);
  EXPECT_FALSE(BitBlt(f.Dc, 0, 0, 4, 2, screen, 0, 0, SRCCOPY));  // no pixels to read
  EXPECT_FALSE(BitBlt(screen, 0, 0, 4, 2, e.Dc, 0, 0, SRCCOPY));
  EXPECT_TRUE(ReleaseDC(nullptr, screen));
}

TEST_F(GdiTest, SixteenBitMasksAndPalettesConvert) {
  // Red in the low bits, as the "B5G6R5" format name lays it out.
  BITMAPINFO info = Info(2, -1, 16, BI_BITFIELDS);
  SetMasks(info, 0x001F, 0x07E0, 0xF800);
  TDibDc s(info);
  const std::uint16_t words[2] = {0x001F, 0xF800};  // pure red, pure blue
  std::memcpy(s.Bits, words, 4);
  TDibDc d(Info(2, -1, 24));
  ASSERT_TRUE(BitBlt(d.Dc, 0, 0, 2, 1, s.Dc, 0, 0, SRCCOPY));
  EXPECT_EQ(GetPixel(d.Dc, 0, 0), RGB(248, 0, 0));
  EXPECT_EQ(GetPixel(d.Dc, 1, 0), RGB(0, 0, 248));

  // BI_RGB 16 bits is 5-5-5 with blue lowest.
  TDibDc t(Info(1, -1, 16));
  std::uint16_t w = 0x7C00;
  std::memcpy(t.Bits, &w, 2);
  EXPECT_EQ(GetPixel(t.Dc, 0, 0), RGB(248, 0, 0));

  // An 8-bit palette expands to its colours.
  BITMAPINFO pal = Info(2, -1, 8);
  pal.bmiHeader.biClrUsed = 2;
  pal.bmiColors[0] = RGBQUAD{255, 0, 0, 0};
  pal.bmiColors[1] = RGBQUAD{0, 255, 0, 0};
  TDibDc q(pal);
  q.Bits[0] = 1;
  q.Bits[1] = 0;
  ASSERT_TRUE(BitBlt(d.Dc, 0, 0, 2, 1, q.Dc, 0, 0, SRCCOPY));
  EXPECT_EQ(GetPixel(d.Dc, 0, 0), RGB(0, 255, 0));
  EXPECT_EQ(GetPixel(d.Dc, 1, 0), RGB(0, 0, 255));
}

TEST_F(GdiTest, StretchDIBitsCountsBottomUpSourcesFromTheBottom) {
  // A bottom-up 1 x 2 DIB: memory row 0 (the bottom line) red, row 1 blue.
  BITMAPINFO info = Info(1, 2, 32);
  std::uint32_t bits[2] = {0x00FF0000u, 0x000000FFu};
  TDibDc d(Info(2, -2, 32));
  EXPECT_EQ(StretchDIBits(d.Dc, 0, 0, 1, 2, 0, 0, 1, 2, bits, &info, DIB_RGB_COLORS, SRCCOPY), 2);
  EXPECT_EQ(GetPixel(d.Dc, 0, 0), RGB(0, 0, 255));  // the top line
  EXPECT_EQ(GetPixel(d.Dc, 0, 1), RGB(255, 0, 0));
  // Source row 0 of a bottom-up DIB is its bottom line.
  EXPECT_EQ(StretchDIBits(d.Dc, 1, 0, 1, 1, 0, 0, 1, 1, bits, &info, DIB_RGB_COLORS, SRCCOPY), 1);
  EXPECT_EQ(GetPixel(d.Dc, 1, 0), RGB(255, 0, 0));
  // Stretching repeats pixels; nothing is drawn outside the target.
  EXPECT_GT(StretchDIBits(d.Dc, -2, 0, 4, 2, 0, 0, 1, 2, bits, &info, DIB_RGB_COLORS, SRCCOPY), 0);
  EXPECT_EQ(GetPixel(d.Dc, 1, 1), RGB(255, 0, 0));
  EXPECT_EQ(StretchDIBits(d.Dc, 0, 0, 1, 1, 0, 0, 1, 1, nullptr, &info, DIB_RGB_COLORS, SRCCOPY), 0);
}

TEST_F(GdiTest, CompatibleBitmapsFollowTheScreenDepth) {
  HDC screen = GetDC(nullptr);
  EXPECT_EQ(GetDeviceCaps(screen, BITSPIXEL), 32);
  EXPECT_EQ(GetDeviceCaps(screen, PLANES), 1);
  EXPECT_EQ(GetDeviceCaps(screen, 9999), 0);
  EXPECT_EQ(GetDeviceCaps(nullptr, BITSPIXEL), 0);

  // A 16-bit screen: green 100 survives 6 bits, not 5.
  std::vector<headless::TMonitorDesc> m(1);
  m[0].Bounds = RECT{0, 0, 800, 600};
  m[0].Work = m[0].Bounds;
  m[0].Primary = true;
  m[0].BitsPerPixel = 16;
  headless::SetMonitors(m);
  for (int green : {6, 5}) {
    SetScreen16GreenBits(green);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP b = CreateCompatibleBitmap(screen, 1, 1);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(b));
    const COLORREF back = SetPixel(dc, 0, 0, RGB(0, 100, 0));
    EXPECT_EQ(GetGValue(back) < 100, green == 5) << green;
    SelectObject(dc, old);
    DeleteObject(reinterpret_cast<HGDIOBJ>(b));
    DeleteDC(dc);
  }
  SetScreen16GreenBits(6);
  headless::SetMonitors({});  // the default screen again
  EXPECT_FALSE(CreateCompatibleBitmap(screen, 0, 1));
  ReleaseDC(nullptr, screen);
}

TEST_F(GdiTest, PalettesKeepTheirEntries) {
  LOGPALETTE lp;
  lp.palNumEntries = 3;
  for (int i = 0; i < 3; ++i) lp.palPalEntry[i] = PALETTEENTRY{BYTE(i), BYTE(i * 2), BYTE(i * 3), 0};
  HPALETTE p = CreatePalette(&lp);
  ASSERT_TRUE(p);
  EXPECT_EQ(GetPaletteEntries(p, 0, 0, nullptr), 3u);
  PALETTEENTRY e[4];
  EXPECT_EQ(GetPaletteEntries(p, 1, 4, e), 2u);
  EXPECT_EQ(e[1].peBlue, 6);
  EXPECT_TRUE(DeleteObject(reinterpret_cast<HGDIOBJ>(p)));
  EXPECT_EQ(GetPaletteEntries(p, 0, 4, e), 0u);
  lp.palNumEntries = 0;
  EXPECT_FALSE(CreatePalette(&lp));
  EXPECT_EQ(GetMsimg32ProcAddress("AlphaBlend"), nullptr);
}

TEST(Mscms, FolderAndProfilesAskedWithSizes) {
  DWORD size = 0;
  EXPECT_FALSE(GetColorDirectoryW(nullptr, nullptr, &size));
  EXPECT_EQ(size, DWORD(sizeof(u"/usr/share/color/icc")));
  std::vector<char16_t> buffer(size / 2);
  EXPECT_TRUE(GetColorDirectoryW(nullptr, buffer.data(), &size));
  EXPECT_EQ(std::u16string(buffer.data()), u"/usr/share/color/icc");

  // No monitor or standard profile unless a test names one.
  HDC screen = GetDC(nullptr);
  DWORD chars = 0;
  EXPECT_FALSE(GetICMProfileW(screen, &chars, nullptr));
  SetScreenProfileForTests(u"screen.icc");
  EXPECT_FALSE(GetICMProfileW(screen, &chars, nullptr));
  EXPECT_EQ(chars, 11u);
  char16_t text[11];
  EXPECT_TRUE(GetICMProfileW(screen, &chars, text));
  EXPECT_EQ(std::u16string(text), u"screen.icc");
  EXPECT_FALSE(GetICMProfileW(nullptr, &chars, text));
  SetScreenProfileForTests(u"");
  ReleaseDC(nullptr, screen);
  DWORD bytes = 0;
  EXPECT_FALSE(GetStandardColorSpaceProfileW(nullptr, 0, nullptr, &bytes));
}
