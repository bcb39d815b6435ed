#include "ZmLib/Graphics/winImageUtils.h"

#include <gtest/gtest.h>

#include "ZmLib/Graphics/SysBitmapStore.h"
#include "tests/ZmLib/Graphics/GraphicsTestUtil.h"

using namespace zm;

namespace {

std::pair<std::int32_t, std::int32_t> Fit(std::int32_t sw, std::int32_t sh, std::int32_t bw, std::int32_t bh) {
  std::int32_t w = -1, h = -1;
  FitSize(sw, sh, bw, bh, w, h);
  return {w, h};
}

// A picture of one colour, or (Hole) transparent in its left half.
TRef<TImage> Picture(std::int32_t w, std::int32_t h, bool alpha, TColor32 colour, bool hole = false) {
  std::vector<std::uint8_t> bytes;
  for (std::int32_t y = 0; y < h; ++y)
    for (std::int32_t x = 0; x < w; ++x) {
      const bool clear = hole && x < w / 2;
      bytes.insert(bytes.end(), {colour.B, colour.G, colour.R});
      if (alpha) bytes.push_back(clear ? 0 : 255);
    }
  return SysBitmapToImage(zmtest::BitmapOf(alpha ? PF_A8R8G8B8 : PF_R8G8B8, w, h, bytes).Detach(), true, u"pic");
}

TRef<TDibBitmap> View(TFastDIB* dib) { return WrapDibBitmap(dib, false); }

}  // namespace

TEST(FitSize, KeepsProportions) {
  EXPECT_EQ(Fit(400, 300, 100, 100), std::make_pair(100, 75));
  EXPECT_EQ(Fit(300, 400, 100, 100), std::make_pair(75, 100));
  EXPECT_EQ(Fit(50, 40, 100, 100), std::make_pair(100, 80));  // enlarged unless asked not to
  EXPECT_EQ(Fit(8, 3, 5, 5), std::make_pair(5, 2));  // 1.875 rounds to 2
  // Degenerate sizes still give a picture.
  EXPECT_EQ(Fit(100000, 1, 100, 100), std::make_pair(100, 1));
  EXPECT_EQ(Fit(0, 10, 100, 50), std::make_pair(100, 50));
  EXPECT_EQ(Fit(10, 10, 0, -5), std::make_pair(1, 1));
  EXPECT_EQ(Fit(2147483647, 1, 2147483647, 2147483647), std::make_pair(2147483647, 1));
}

TEST(Thumbnail, SizesAndLevels) {
  const TColor32 teal{120, 140, 20, 255};
  TRef<TFastDIB> t = MakeThumbnail(Picture(400, 300, false, teal).get(), 100, 100, false, false, {});
  ASSERT_TRUE(t);
  EXPECT_EQ(t->AbsHeight(), 75);
  // One colour in, the same colour everywhere out.
  TRef<TDibBitmap> v = View(t.get());
  for (std::int32_t y = 0; y < 75; y += 7)
    for (std::int32_t x = 0; x < 100; x += 9) EXPECT_EQ(v->Row24(y)[x], (TColor24{120, 140, 20})) << x << "," << y;
  // With NoEnlarge a small picture keeps its size.
  t = MakeThumbnail(Picture(50, 40, false, teal).get(), 100, 100, false, true, {});
  EXPECT_EQ(t->Width(), 50);
  EXPECT_FALSE(MakeThumbnail(nullptr, 10, 10, false, false, {}));
  EXPECT_TRUE(zmtest::Contains(
      zmtest::AssertionOf([&] { MakeThumbnail(Picture(4, 4, false, teal).get(), 0, 10, false, false, {}); }),
      "MakeThumbnail: BoxWidth or BoxHeight < 1"));
  t = MakeThumbnail(Picture(300, 1, false, teal).get(), 20, 20, false, false, {});
  EXPECT_EQ(t->AbsHeight(), 1);  // far longer than high: still a picture
}

TEST(Thumbnail, TransparencyKeptOrFlattened) {
  const TColor32 red{0, 0, 200, 255};
  const TColor32 white{255, 255, 255, 77};  // its alpha byte is not used
  TRef<TImage> pic = Picture(40, 20, true, red, true);
  // Flattened onto white: white where the picture was transparent.
  TRef<TFastDIB> flat = MakeThumbnail(pic.get(), 20, 20, true, false, white);
  ASSERT_TRUE(flat);
  EXPECT_EQ(flat->BitCount(), 24);
  TRef<TDibBitmap> v = View(flat.get());
  EXPECT_EQ(v->Row24(5)[1], (TColor24{255, 255, 255}));
  EXPECT_EQ(v->Row24(5)[18], (TColor24{0, 0, 200}));
  // Kept: a 32-bit DIB, transparent pixels in the background colour at alpha 0.
  TRef<TFastDIB> kept = MakeThumbnail(pic.get(), 20, 20, false, false, white);
  EXPECT_EQ(kept->BitCount(), 32);
  TRef<TDibBitmap> k = View(kept.get());
  EXPECT_EQ(TColor32::FromValue(k->Row32(5)[1]), (TColor32{255, 255, 255, 0}));
  EXPECT_EQ(TColor32::FromValue(k->Row32(5)[18]), red);
}
