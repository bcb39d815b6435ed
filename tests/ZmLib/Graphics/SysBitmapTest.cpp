#include "ZmLib/Graphics/SysBitmap.h"

#include <gtest/gtest.h>

#include <tuple>

#include "tests/ZmLib/Graphics/GraphicsTestUtil.h"

using namespace zm;
using zmtest::AssertionOf;
using zmtest::BitmapOf;
using zmtest::BytesOf;
using zmtest::Contains;

namespace {

using Bytes = std::vector<std::uint8_t>;

// Y8 pixels numbered 10 * y + x.
TRef<TSysBitmap> Numbered(std::int32_t w, std::int32_t h) {
  Bytes b;
  for (std::int32_t y = 0; y < h; ++y)
    for (std::int32_t x = 0; x < w; ++x) b.push_back(std::uint8_t(10 * y + x));
  return BitmapOf(PF_Y8, w, h, b);
}

Bytes Pixel(const TSysBitmap& b, std::int32_t x, std::int32_t y) {
  const std::uint8_t* p = b.ScanLine(y) + x * b.BytesPerPixel();
  return Bytes(p, p + b.BytesPerPixel());
}

}  // namespace

TEST(SysBitmap, ConstructionChecks) {
  std::uint8_t mem[16] = {};
  EXPECT_TRUE(Contains(AssertionOf([&] { MakeRef<TSysBitmap>(TPoint{2, 3}, std::vector<std::uint8_t*>{mem, mem}, pfA8); }),
                       "TSysBitmap.Create - Invalid Rows Count"));
  auto src = Numbered(4, 3);
  EXPECT_TRUE(Contains(AssertionOf([&] { MakeRef<TCropBitmap>(TRect{4, 0, 8, 3}, false, src.get()); }),
                       "'TCropBitmap.Create - Bitmap is Empty'"));
  EXPECT_EQ(src->RefCount(), 1);  // failed views took no reference
  // An empty system bitmap is allowed and does nothing.
  TRef<TSysBitmap> empty = MakeRef<TSysBitmap>(TPoint{0, 0}, std::vector<std::uint8_t*>{}, pfA8R8G8B8);
  EXPECT_FALSE(empty->FillRect({0, 0, 5, 5}, {}));
  EXPECT_FALSE(empty->CopyFrom(src.get()));
}

TEST(SysBitmap, GetPixelsCopiesWhatFits) {
  auto b = BitmapOf(PF_R8G8B8, 3, 2, {1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13, 14, 15, 16, 17, 18, 19});
  Bytes buf(8, 0xEE);
  EXPECT_EQ(b->GetPixels(buf, 1, 0, 1, 3), 6);  // two whole pixels fit after offset 1
  EXPECT_EQ(buf, (Bytes{0xEE, 11, 12, 13, 14, 15, 16, 0xEE}));
  EXPECT_EQ(b->GetPixels(buf, 0, 2, 0, 3), 3);  // cut to Width - X
  // Outside the bitmap or the buffer: nothing.
  for (auto [offset, x, y, count] : {std::tuple{0, 3, 0, 1}, {0, 0, 2, 1}, {0, -1, 0, 1}, {9, 0, 0, 1}, {-1, 0, 0, 1},
                                     {0, 0, 0, -1}})
    EXPECT_EQ(b->GetPixels(buf, offset, x, y, count), 0) << offset << " " << x << " " << y << " " << count;
  TColor24 px[2];
  EXPECT_EQ(b->GetPixels24(px, 1, 0, 0, 3), 3);  // the element buffer bounds the copy
  EXPECT_EQ(b->GetPixels24(px, 1 << 30, 0, 0, 1), 0);
}

TEST(SysBitmap, CopyRectPremultiplies) {
  const Bytes src = {200, 100, 50, 128, 255, 255, 255, 128, 10, 20, 30, 255, 9, 9, 9, 0};
  auto copy = [&](const char* format, std::int32_t mode) {
    auto s = BitmapOf(PF_A8R8G8B8, 4, 1, src);
    TRef<TSysBitmap> d = CreateSysBitmap(4, 1, FindPixelFormat(format));
    EXPECT_TRUE(d->CopyRect({0, 0, 4, 1}, s.get(), mode, {0, 0}));
    return BytesOf(*d);
  };
  EXPECT_EQ(copy(PF_A8R8G8B8, pmNone), src);
  EXPECT_EQ(copy(PF_A8R8G8B8, pmShift8), (Bytes{100, 50, 25, 128, 127, 127, 127, 128, 10, 20, 30, 255, 0, 0, 0, 0}));
  EXPECT_EQ(copy(PF_A8R8G8B8, pmDiv255), (Bytes{100, 50, 25, 128, 128, 128, 128, 128, 10, 20, 30, 255, 0, 0, 0, 0}));
  // Without alpha there is nothing to premultiply by.
  EXPECT_EQ(copy(PF_R8G8B8, pmShift8), (Bytes{200, 100, 50, 255, 255, 255, 10, 20, 30, 9, 9, 9}));
  // An alpha format of another size is copied, never premultiplied as 32-bit pixels.
  EXPECT_EQ(copy(PF_A8, pmShift8), (Bytes{128, 128, 255, 0}));
  auto s = BitmapOf(PF_A8R8G8B8, 4, 1, src);
  EXPECT_TRUE(Contains(AssertionOf([&] { s->CopyRect({0, 0, 1, 1}, s.get(), 100, {0, 0}); }),
                       "Invalid APremultiply parameter Value"));
}

TEST(SysBitmap, ProgressStopsTheCopy) {
  auto src = Numbered(2, 5);
  TRef<TSysBitmap> dst = CreateSysBitmap(2, 5, pfY8);
  std::vector<float> seen;
  dst->ProgressHandler = [&seen](float f) {
    seen.push_back(f);
    return seen.size() < 3;  // false on the third row
  };
  EXPECT_FALSE(dst->CopyFrom(src.get()));
  EXPECT_EQ(BytesOf(*dst), (Bytes{0, 1, 10, 11, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(seen, (std::vector<float>{0.0f, 0.2f, 0.4f}));
  dst->ProgressHandler = [](float f) { return f < 1.0f; };  // only the final call says no
  EXPECT_FALSE(dst->CopyFrom(src.get()));
  EXPECT_FALSE(dst->FillRect({0, 0, 1, 1}, {}));
}

TEST(SysBitmap, FillRectFromAPattern) {
  const TColor32 c = MakeColor32(255, 128, 0, 200);
  struct TCase {
    const char* Format;
    std::int32_t Width;
  };
  // Around the pattern's length: 768 pixels of 4 bytes, 1024 of 3, 1536 of 2, 3072 of 1, one huge pixel.
  for (TCase k : {TCase{PF_A8R8G8B8, 1000}, TCase{PF_A8R8G8B8, 768}, TCase{PF_A8R8G8B8, 769}, TCase{PF_R8G8B8, 2049},
                  TCase{PF_B5G6R5, 1537}, TCase{PF_Y8, 3073}, TCase{PF_A8, 1}, TCase{"R4096G4096B4096A4096X4096X4096X4096", 3}}) {
    TPixelFormat* f = FindPixelFormat(k.Format);
    TRef<TSysBitmap> b = CreateSysBitmap(k.Width + 2, 3, f);
    EXPECT_TRUE(b->FillRect({1, 1, k.Width + 1, 2}, c)) << k.Format;
    Bytes want(std::size_t(f->BytesPerPixel));
    const std::uint8_t argb[4] = {c.B, c.G, c.R, c.A};
    FindPixelConverter(f, pfA8R8G8B8)->Convert8(want.data(), 0, argb, 0, 1);
    const Bytes zero(std::size_t(f->BytesPerPixel), 0);
    for (std::int32_t y = 0; y < 3; ++y)
      for (std::int32_t x = 0; x < k.Width + 2; ++x) {
        const bool inside = y == 1 && x >= 1 && x <= k.Width;
        ASSERT_EQ(Pixel(*b, x, y), inside ? want : zero) << k.Format << " " << x << "," << y;
      }
  }
  TRef<TSysBitmap> b = CreateSysBitmap(4, 4, pfA8R8G8B8);
  EXPECT_FALSE(b->FillRect({4, 0, 9, 9}, c));
  EXPECT_TRUE(b->FillRect({-100, -100, 100, 100}, c));
  EXPECT_EQ(Pixel(*b, 3, 3), (Bytes{0, 128, 255, 200}));
}

TEST(SysBitmap, CropViewsShareTheSourceMemory) {
  auto src = Numbered(4, 3);
  TRef<TCropBitmap> crop = MakeRef<TCropBitmap>(TRect{1, 1, 10, 10}, false, src.get());
  EXPECT_EQ(BytesOf(*crop), (Bytes{11, 12, 13, 21, 22, 23}));
  crop->FillRect({0, 0, 1, 1}, MakeColor32(1, 2, 3, 99));  // "Y8" takes the alpha: Y and A are one kind
  EXPECT_EQ(Pixel(*src, 1, 1), Bytes{99});
  // Bottom-up memory: row 0 is the last memory row, the step negative.
  std::uint8_t memory[3][2] = {{1, 2}, {3, 4}, {5, 6}};
  TRef<TRefBitmap> up = MakeRef<TRefBitmap>(TPoint{2, 3}, -2, &memory[2][0], pfY8);
  EXPECT_EQ(BytesOf(*up), (Bytes{5, 6, 3, 4, 1, 2}));
  EXPECT_EQ(BytesOf(*MakeRef<TCropBitmap>(TRect{1, 0, 2, 2}, false, up.get())), (Bytes{6, 4}));
}

TEST(SysBitmap, ViewsKeepTheirSourceAlive) {
  // (Use after free and leaks are the sanitizer's to find.)
  auto src = Numbered(2, 2);
  TSysBitmap* raw = src.get();
  TRef<TCropBitmap> crop = MakeRef<TCropBitmap>(TRect{1, 1, 2, 2}, false, src.get());
  EXPECT_EQ(raw->RefCount(), 2);
  src = nullptr;  // the caller lets go; the view still reads the pixels
  EXPECT_EQ(BytesOf(*crop), Bytes{11});
  EXPECT_EQ(raw->RefCount(), 1);
  TRef<TCropBitmap> owner = MakeRef<TCropBitmap>(TRect{0, 0, 1, 1}, true, Numbered(2, 2).Detach());
  EXPECT_EQ(owner->Source()->RefCount(), 1);  // freed with the view
  TRef<TDirectBitmap> direct = MakeRef<TDirectBitmap>(2, pfY8, 2);
  MakeRef<TSysDirectWrapper>(direct.get(), false);
  EXPECT_EQ(direct->RefCount(), 1);
  MakeRef<TSysDirectWrapper>(direct.Detach(), true);
}
