#include "ZmLib/Graphics/zmFixedPointResize.h"

#include <gtest/gtest.h>

#include "tests/ZmLib/Graphics/GraphicsTestUtil.h"

using namespace zm;
using zmtest::BitmapOf;
using zmtest::BytesOf;

namespace {

std::vector<std::uint8_t> Grey(std::initializer_list<std::uint8_t> values, int bpp) {
  std::vector<std::uint8_t> out;
  for (std::uint8_t v : values)
    for (int c = 0; c < bpp; ++c) out.push_back(c == 3 ? 255 : v);
  return out;
}

std::vector<std::uint8_t> Column(TSysBitmap& b, std::int32_t x) {
  std::vector<std::uint8_t> out;
  for (std::int32_t y = 0; y < b.Height(); ++y) out.push_back(b.ScanLine(y)[x * b.BytesPerPixel()]);
  return out;
}

}  // namespace

TEST(FixedPointResize, CornersMapOntoCorners) {
  // 2 x 2 to 3 x 3: the corners stay, the averages lie between.
  for (int bpp : {3, 4}) {
    TRef<TSysBitmap> src = BitmapOf(bpp == 3 ? PF_R8G8B8 : PF_A8R8G8B8, 2, 2, Grey({0, 200, 100, 50}, bpp));
    TRef<TSysBitmap> dst = BitmapOf(bpp == 3 ? PF_R8G8B8 : PF_A8R8G8B8, 3, 3, {});
    if (bpp == 3) ResizeBitmapRect24(dst.get(), src.get(), {0, 0, 3, 3}, {0, 0, 2, 2});
    else ResizeBitmapRect(dst.get(), src.get(), {0, 0, 3, 3}, 0, {0, 0, 2, 2});
    // Half-way weights are round(32767.5) = 32768; each step truncates.
    EXPECT_EQ(BytesOf(*dst), Grey({0, 100, 200, 50, 88, 125, 100, 75, 50}, bpp)) << bpp;
  }
}

TEST(FixedPointResize, OnePixelWideTakesTheLeftColumn) {
  TRef<TSysBitmap> src = BitmapOf(PF_R8G8B8, 3, 2, Grey({10, 20, 30, 40, 50, 60}, 3));
  TRef<TSysBitmap> dst = BitmapOf(PF_R8G8B8, 1, 2, {});
  ResizeBitmapRect24(dst.get(), src.get(), {0, 0, 1, 2}, {0, 0, 3, 2});
  EXPECT_EQ(Column(*dst, 0), (std::vector<std::uint8_t>{10, 40}));
}

TEST(FixedPointResize, PartlyOutsideWritesTheInsideWithTheSameMapping) {
  TRef<TSysBitmap> src = BitmapOf(PF_A8R8G8B8, 8, 1, Grey({0, 30, 60, 90, 120, 150, 180, 210}, 4));
  TRef<TSysBitmap> whole = BitmapOf(PF_A8R8G8B8, 13, 3, {});
  ResizeBitmapRect(whole.get(), src.get(), {0, 0, 13, 3}, 0, {0, 0, 8, 1});
  // The same rectangle moved 5 left and 1 up over a 10 x 2 bitmap.
  TRef<TSysBitmap> part = BitmapOf(PF_A8R8G8B8, 10, 2, std::vector<std::uint8_t>(80, 9));
  ResizeBitmapRect(part.get(), src.get(), {-5, -1, 8, 2}, 0, {0, 0, 8, 1});
  for (std::int32_t y = 0; y < 2; ++y)
    for (std::int32_t x = 0; x < 10; ++x) {
      const std::uint32_t want = x < 8 ? whole->Row32(y + 1)[x + 5] : 0x09090909u;  // beyond the rectangle: untouched
      EXPECT_EQ(part->Row32(y)[x], want) << x << "," << y;
    }
}

TEST(FixedPointResize, TransparentPixelsTakeTheEmptyValue) {
  // Alpha 0 on the left half; interpolated alpha above 0 keeps the colour.
  TRef<TSysBitmap> src = BitmapOf(PF_A8R8G8B8, 2, 1, {10, 20, 30, 0, 40, 50, 60, 255});
  TRef<TSysBitmap> dst = BitmapOf(PF_A8R8G8B8, 3, 1, {});
  ResizeBitmapRect(dst.get(), src.get(), {0, 0, 3, 1}, 0x00FFFFFF, {0, 0, 2, 1});
  EXPECT_EQ(dst->Row32(0)[0], 0x00FFFFFFu);
  EXPECT_EQ(TColor32::FromValue(dst->Row32(0)[1]), (TColor32{25, 35, 45, 127}));
  EXPECT_EQ(TColor32::FromValue(dst->Row32(0)[2]), (TColor32{40, 50, 60, 255}));
}

TEST(FixedPointResize, BadInput) {
  TRef<TSysBitmap> s24 = BitmapOf(PF_R8G8B8, 2, 2, Grey({1, 2, 3, 4}, 3));
  TRef<TSysBitmap> s32 = BitmapOf(PF_A8R8G8B8, 2, 2, Grey({1, 2, 3, 4}, 4));
  EXPECT_TRUE(zmtest::Contains(
      zmtest::AssertionOf([&] { ResizeBitmapRect(s32.get(), s24.get(), {0, 0, 2, 2}, 0, {0, 0, 2, 2}); }),
      "ResizeBitmapRect: Unsupported PixelFormat"));
  // Empty rectangles, sources beyond the bitmap, rectangles far away: nothing written.
  const std::vector<std::uint8_t> before = BytesOf(*s24);
  TRef<TSysBitmap> src = BitmapOf(PF_R8G8B8, 2, 2, Grey({9, 9, 9, 9}, 3));
  for (TRect dr : {TRect{0, 0, 0, 2}, TRect{5, 5, 9, 9}, TRect{-2147483647, -2147483647, 2147483647, 2147483647}})
    for (TRect sr : {TRect{0, 0, 0, 2}, TRect{-5, -5, 0, 0}}) ResizeBitmapRect24(s24.get(), src.get(), dr, sr);
  EXPECT_EQ(BytesOf(*s24), before);
  // A source rectangle reaching beyond its bitmap is held at the last column.
  TRef<TSysBitmap> wide = BitmapOf(PF_R8G8B8, 4, 1, {});
  ResizeBitmapRect24(wide.get(), s24.get(), {0, 0, 4, 1}, {0, 0, 100, 1});
  EXPECT_EQ(BytesOf(*wide), Grey({1, 2, 2, 2}, 3));
  // A huge destination rectangle over a small bitmap builds tables only for what is inside.
  ResizeBitmapRect24(wide.get(), s24.get(), {-2147483647, 0, 2147483647, 1}, {0, 0, 2, 2});
}
