// The tile bitmap: borders that repeat each tile's edge, read from any
// column, in every pixel size, and the checks of its readers.
#include <gtest/gtest.h>

#include <cstring>

#include "OruLib2/TileBitmap.h"
#include "tests/ZmLib/Graphics/GraphicsTestUtil.h"

namespace tile_bitmap_test {

using namespace zm;
using zmtest::AssertionOf;
using zmtest::Contains;

// Pixel bytes numbered by position so that every source pixel differs.
TRef<TSysBitmap> Numbered(const char* format, std::int32_t w, std::int32_t h) {
  TRef<TSysBitmap> b = CreateSysBitmap(w, h, FindPixelFormat(format));
  const std::int32_t bpp = b->BytesPerPixel();
  for (std::int32_t y = 0; y < h; ++y)
    for (std::int32_t x = 0; x < w; ++x)
      for (std::int32_t k = 0; k < bpp; ++k) b->ScanLine(y)[x * bpp + k] = std::uint8_t(y * 31 + x * 7 + k * 101);
  return b;
}

TEST(TileBitmap, ColumnMapAndMappingOfBorders) {
  TRef<TSysBitmap> src = Numbered(PF_Y8, 6, 4);
  TRef<TTileBitmap> v = MakeRef<TTileBitmap>(src.get(), false, 2, 2);
  EXPECT_EQ(v->TileWidth(), 3);
  EXPECT_EQ(v->TileHeight(), 2);
  EXPECT_EQ(v->Width(), 10);
  EXPECT_EQ(v->Height(), 8);
  EXPECT_EQ(v->PixelFormat(), src->PixelFormat());
  EXPECT_EQ(v->ColumnMap(), (std::vector<std::uint8_t>{1, 0, 0, 0, 1, 1, 0, 0, 0, 1}));
  const std::int32_t cols[10] = {0, 0, 1, 2, 2, 3, 3, 4, 5, 5};
  const std::int32_t rows[8] = {0, 0, 1, 1, 2, 2, 3, 3};
  for (std::int32_t x = 0; x < 10; ++x) EXPECT_EQ(v->SourceColumn(x), cols[x]) << x;
  for (std::int32_t y = 0; y < 8; ++y) EXPECT_EQ(v->SourceRow(y), rows[y]) << y;
}

// Every start column and count, in every pixel size, against the mapping;
// 7 columns in 2 tiles leave a remainder column past the last tile.
TEST(TileBitmap, ReadsFromAnyColumnInEveryPixelSize) {
  for (const char* format : {PF_Y8, PF_R5G6B5, PF_R8G8B8, PF_A8R8G8B8}) {
    TRef<TSysBitmap> src = Numbered(format, 7, 5);
    TRef<TTileBitmap> v = MakeRef<TTileBitmap>(src.get(), false, 2, 2);
    const std::int32_t bpp = v->BytesPerPixel();
    ASSERT_EQ(v->Width(), 11);
    for (std::int32_t y = 0; y < v->Height(); ++y)
      for (std::int32_t x = 0; x < v->Width(); ++x)
        for (std::int32_t count = 1; count <= v->Width() - x + 2; ++count) {
          std::vector<std::uint8_t> buf(std::size_t(v->Width() * bpp + 4), 0xEE);
          const std::int32_t got = v->GetPixels(buf, 3, x, y, count);
          const std::int32_t n = std::min(count, v->Width() - x);
          ASSERT_EQ(got, n * bpp) << format;
          for (std::int32_t i = 0; i < n; ++i)
            ASSERT_EQ(0, std::memcmp(&buf[std::size_t(3 + i * bpp)],
                                     src->ScanLine(v->SourceRow(y)) + v->SourceColumn(x + i) * bpp, std::size_t(bpp)))
                << format << " x " << x << " y " << y << " i " << i;
          ASSERT_EQ(buf[std::size_t(3 + n * bpp)], 0xEE) << "wrote past the run";
        }
    if (bpp == 4) {
      std::vector<std::uint32_t> px(11);
      EXPECT_EQ(v->GetPixels32(px, 0, 0, 0, 11), 44);
      EXPECT_EQ(px[0], px[1]);  // left border of tile 0
      EXPECT_EQ(px[4], px[3]);  // right border of tile 0
      EXPECT_EQ(px[5], px[6]);  // left border of tile 1
      EXPECT_NE(px[4], px[5]);
    }
  }
}

TEST(TileBitmap, ChecksOfTheReadersAndOfCreate) {
  TRef<TSysBitmap> src = Numbered(PF_A8R8G8B8, 6, 4);
  TRef<TTileBitmap> v = MakeRef<TTileBitmap>(src.get(), false, 2, 2);
  std::vector<std::uint8_t> buf(16);
  EXPECT_TRUE(
      Contains(AssertionOf([&] { v->GetPixels(buf, 0, -1, 0, 1); }), "TTileBitmap.GetPixels (X,Y) out of Bitmap.Size"));
  EXPECT_TRUE(
      Contains(AssertionOf([&] { v->GetPixels(buf, 0, 0, 8, 1); }), "TTileBitmap.GetPixels (X,Y) out of Bitmap.Size"));
  EXPECT_TRUE(
      Contains(AssertionOf([&] { v->GetPixels(buf, -1, 0, 0, 1); }), "TTileBitmap.GetPixels - Offset out of Bounds"));
  // 4 pixels need 16 bytes: from offset 4 only 12 are left.
  EXPECT_TRUE(Contains(AssertionOf([&] { v->GetPixels(buf, 4, 0, 0, 4); }),
                       "TTileBitmap.GetPixels - Not Enought Pixel Buffer Space"));
  EXPECT_TRUE(Contains(AssertionOf([&] { v->GetPixels(buf, 20, 0, 0, 1); }),
                       "TTileBitmap.GetPixels - Not Enought Pixel Buffer Space"));
  EXPECT_EQ(v->GetPixels(buf, 0, 0, 0, 4), 16);
  EXPECT_EQ(v->GetPixels(buf, 0, 0, 0, 0), 0);
  EXPECT_EQ(v->GetPixels(buf, 0, 0, 0, -3), 0);
  std::vector<std::uint8_t> small(4);
  EXPECT_TRUE(Contains(AssertionOf([&] { v->GetPixels8(small, 0, 0, 0, 1); }), "Invalid Pixel Size"));
  std::vector<std::uint32_t> px(4);
  EXPECT_TRUE(Contains(AssertionOf([&] { v->GetPixels32(px, 0, 8, 0, 4); }), "out of Bitmap.Size"));
  EXPECT_TRUE(Contains(AssertionOf([&] { v->GetPixels32(px, 1, 0, 0, 4); }), "Out of Pixel Buffer Bounds"));

  // Pixels wider than 4 bytes are refused.
  TRef<TPixelFormat> wide = MakeRef<TPixelFormat>();
  wide->BytesPerPixel = 8;
  wide->BitsPerPixel = 64;
  std::vector<std::uint8_t> mem(4 * 2 * 8);
  TRef<TRefBitmap> wideSrc = MakeRef<TRefBitmap>(TPoint{4, 2}, 32, mem.data(), wide.get());
  TRef<TTileBitmap> wv = MakeRef<TTileBitmap>(wideSrc.get(), false, 1, 1);
  std::vector<std::uint8_t> big(64);
  EXPECT_TRUE(
      Contains(AssertionOf([&] { wv->GetPixels(big, 0, 0, 0, 1); }), "TTileBitmap.GetPixels - Invalid Pixel Size"));

  // Create: a failed check leaves the caller's reference alone, also when
  // it was to be handed over.
  EXPECT_TRUE(Contains(AssertionOf([&] { MakeRef<TTileBitmap>(nullptr, true, 1, 1); }), "Bitmap not Assigned"));
  for (const auto& rc : {std::pair{0, 1}, {1, 0}, {5, 1}, {1, 7}, {-1, -1}})
    EXPECT_TRUE(Contains(AssertionOf([&] { MakeRef<TTileBitmap>(src.get(), true, rc.first, rc.second); }),
                         "Invalid Tile Count"));
  EXPECT_EQ(src->RefCount(), 2);  // ours and the first view's
  v = nullptr;
  EXPECT_EQ(src->RefCount(), 1);
  // Owning, the view takes over the reference it is given.
  TSysBitmap* given = src.Detach();
  v = MakeRef<TTileBitmap>(given, true, 1, 1);
  EXPECT_EQ(given->RefCount(), 1);
  EXPECT_TRUE(v->OwnsSource());
}

}  // namespace tile_bitmap_test
