#include "Platform/Gdi/PlatGdi.h"

#include <gtest/gtest.h>

#include <cstring>


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

HGDIOBJ Obj(HBITMAP b) { return reinterpret_cast<HGDIOBJ>(b); }

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
    Old = SelectObject(Dc, Obj(Bitmap));
  }
  ~TDibDc() {
    SelectObject(Dc, Old);
    DeleteDC(Dc);
    DeleteObject(Obj(Bitmap));
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
  void* bits = nullptr;
  BITMAPINFO good = Info(3, 2, 24);
  HBITMAP b = CreateDIBSection(nullptr, &good, DIB_RGB_COLORS, &bits, nullptr, 0);
  ASSERT_TRUE(b);
  auto* p = static_cast<std::uint8_t*>(bits);
  for (int i = 0; i < 24; ++i) EXPECT_EQ(p[i], 0) << i;  // 2 rows of 12 bytes
  EXPECT_TRUE(DeleteObject(Obj(b)));

  // Bad headers give nothing and never a crash.
  for (BITMAPINFO bad : {Info(0, 2, 24), Info(3, 0, 24), Info(3, 2, 7), Info(3, 2, 8, BI_RLE8), Info(-3, 2, 24),
                         Info(3, 2, 16, BI_BITFIELDS), Info(70000, 70000, 32)}) {
    bits = reinterpret_cast<void*>(1);
    EXPECT_FALSE(CreateDIBSection(nullptr, &bad, DIB_RGB_COLORS, &bits, nullptr, 0));
    EXPECT_EQ(bits, nullptr);
  }
  EXPECT_FALSE(CreateDIBSection(nullptr, &good, DIB_PAL_COLORS, &bits, nullptr, 0));
  EXPECT_FALSE(CreateDIBSection(nullptr, nullptr, DIB_RGB_COLORS, &bits, nullptr, 0));
}

TEST_F(GdiTest, HandlesAreCheckedSelectionAndDeletionFollowGdiRules) {
  BITMAPINFO info = Info(2, 2, 32);
  void* bits;
  HBITMAP b = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC dc1 = CreateCompatibleDC(nullptr), dc2 = CreateCompatibleDC(dc1);
  ASSERT_TRUE(b && dc1 && dc2);
  HGDIOBJ stock = SelectObject(dc1, Obj(b));
  ASSERT_TRUE(stock);
  // One DC at a time, and no deletion while selected.
  EXPECT_FALSE(SelectObject(dc2, Obj(b)));
  EXPECT_FALSE(DeleteObject(Obj(b)));
  EXPECT_EQ(SelectObject(dc1, stock), Obj(b));
  EXPECT_TRUE(DeleteObject(Obj(b)));
  // A stale handle fails, also in the wrong role.
  EXPECT_FALSE(DeleteObject(Obj(b)));
  EXPECT_FALSE(SelectObject(dc1, Obj(b)));
  EXPECT_FALSE(DeleteObject(reinterpret_cast<HGDIOBJ>(dc1)));
  EXPECT_EQ(GetPixel(reinterpret_cast<HDC>(b), 0, 0), CLR_INVALID);
  EXPECT_TRUE(DeleteDC(dc1));
  EXPECT_FALSE(DeleteDC(dc1));
  EXPECT_TRUE(DeleteDC(dc2));
  EXPECT_FALSE(DeleteObject(reinterpret_cast<HGDIOBJ>(std::uintptr_t(12345))));
  LOGPALETTE noEntries{};
  EXPECT_FALSE(CreatePalette(&noEntries));
  // Deleting a DC lets its bitmap go, which can then be deleted.
  HBITMAP c = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC dc3 = CreateCompatibleDC(nullptr);
  SelectObject(dc3, Obj(c));
  EXPECT_TRUE(DeleteDC(dc3));
  EXPECT_TRUE(DeleteObject(Obj(c)));
}

TEST_F(GdiTest, BitBltConvertsClipsAndKeepsAlphaOnlyBetween32BitBitmaps) {
  BITMAPINFO info32 = Info(4, -2, 32);
  TDibDc s(info32);
  auto* px = reinterpret_cast<std::uint32_t*>(s.Bits);
  for (int i = 0; i < 8; ++i) px[i] = 0x80000000u | std::uint32_t(i * 0x010203);
  TDibDc d(info32);
  EXPECT_TRUE(BitBlt(d.Dc, 0, 0, 4, 2, s.Dc, 0, 0, SRCCOPY));
  EXPECT_EQ(std::memcmp(d.Bits, s.Bits, 32), 0);
  // Negative offsets clip; the source rectangle moves with them.
  TDibDc e(Info(4, -2, 24));
  EXPECT_TRUE(BitBlt(e.Dc, -1, 1, 4, 2, s.Dc, 0, 0, SRCCOPY));
  EXPECT_EQ(GetPixel(e.Dc, 0, 1), RGB(1, 2, 3));  // source pixel (1, 0): 0x80010203
  EXPECT_EQ(GetPixel(e.Dc, 0, 0), RGB(0, 0, 0));
  EXPECT_EQ(GetPixel(e.Dc, 3, 1), RGB(0, 0, 0));  // beyond the copied width
  EXPECT_EQ(GetPixel(e.Dc, 4, 0), CLR_INVALID);
  EXPECT_EQ(SetPixel(e.Dc, -1, 0, 0), CLR_INVALID);
  // 24 to 32 writes alpha 0.
  std::memset(d.Bits, 0xFF, 32);
  EXPECT_TRUE(BitBlt(d.Dc, 0, 0, 4, 2, e.Dc, 0, 0, SRCCOPY));
  EXPECT_EQ(d.Bits[3], 0);

  EXPECT_FALSE(BitBlt(d.Dc, 0, 0, 4, 2, e.Dc, 0, 0, 0x00EE0086));  // not SRCCOPY
  HDC screen = GetDC(nullptr);
  EXPECT_FALSE(BitBlt(d.Dc, 0, 0, 4, 2, screen, 0, 0, SRCCOPY));  // no pixels to read
  EXPECT_FALSE(BitBlt(screen, 0, 0, 4, 2, e.Dc, 0, 0, SRCCOPY));
  EXPECT_EQ(GetDeviceCaps(screen, 9999), 0);
  EXPECT_EQ(GetDeviceCaps(nullptr, BITSPIXEL), 0);
  EXPECT_FALSE(CreateCompatibleBitmap(screen, 0, 1));
  EXPECT_TRUE(ReleaseDC(nullptr, screen));
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
