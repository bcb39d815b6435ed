#include "ZmLib/Graphics/SysBitmapUtils.h"

#include <gtest/gtest.h>

#include <cmath>

#include "ZmLib/Graphics/SysBitmapStore.h"
#include "ZmLib/Graphics/SysPixelFormat.h"
#include "tests/ZmLib/Graphics/GraphicsTestUtil.h"

using namespace zm;
using zmtest::AssertionOf;
using zmtest::BitmapOf;
using zmtest::BytesOf;
using zmtest::Contains;
using Bytes = std::vector<std::uint8_t>;

namespace {

TRef<TSysBitmap> Make(const char* format, std::int32_t w, std::int32_t h) {
  return CreateSysBitmap(w, h, FindPixelFormat(format));
}

// Each pixel's first byte holds its number (y * w + x), the others 0 / 255 alpha.
TRef<TSysBitmap> Numbered32(std::int32_t w, std::int32_t h) {
  TRef<TSysBitmap> b = Make(PF_A8R8G8B8, w, h);
  for (std::int32_t y = 0; y < h; ++y)
    for (std::int32_t x = 0; x < w; ++x) b->Row32(y)[x] = 0xFF000000u | std::uint32_t(y * w + x);
  return b;
}

std::uint8_t First(TSysBitmap* b, std::int32_t x, std::int32_t y) { return b->ScanLine(y)[x * b->BytesPerPixel()]; }

}  // namespace

TEST(BilinearResize, UniformColourStaysExact) {
  for (auto [sw, sh, tw, th] : {std::tuple{7, 5, 23, 2}, {100, 3, 13, 40}, {1, 1, 9, 9}, {9, 9, 1, 1}}) {
    TRef<TSysBitmap> s = Make(PF_A8R8G8B8, sw, sh);
    s->FillRect(TRect{0, 0, sw, sh}, TColor32{255, 17, 0, 254});
    TRef<TSysBitmap> t = Make(PF_A8R8G8B8, tw, th);
    EXPECT_TRUE(ResizeBilinear32(s.get(), t.get()));
    for (std::int32_t y = 0; y < th; ++y)
      for (std::int32_t x = 0; x < tw; ++x) ASSERT_EQ(t->Row32(y)[x], 0xFE0011FFu) << x << "," << y;
  }
}

TEST(BilinearResize, TwoByTwoToFourByFourSamplesQuarterSteps) {
  // Columns 0 and 200 in every row: samples at x = 0.5, 0.75, 1.0 and 1.25.
  TRef<TSysBitmap> s = BitmapOf(PF_R8G8B8, 2, 2, {0, 0, 0, 200, 200, 200, 0, 0, 0, 200, 200, 200});
  TRef<TSysBitmap> t = Make(PF_R8G8B8, 4, 4);
  ResizeBilinear24(s.get(), t.get());
  // x = 0.5: fx 32768, half way; 0.75: three quarters; 1.0 and 1.25 read
  // column 1 twice (the right neighbour is clamped).
  EXPECT_EQ(First(t.get(), 0, 0), 100);
  EXPECT_EQ(First(t.get(), 1, 0), 150);
  EXPECT_EQ(First(t.get(), 2, 0), 200);
  EXPECT_EQ(First(t.get(), 3, 0), 200);
}

TEST(Halving, WeightedAverageWithRepeatedEdges) {
  // A 5 x 3 picture halves to 3 x 2; a single bright pixel spreads 1-2-1.
  TRef<TSysBitmap> s = Make(PF_R8G8B8, 5, 3);
  s->ScanLine(1)[2 * 3] = 160;  // pixel (2, 1)
  TRef<TSysBitmap> t = Make(PF_R8G8B8, 3, 2);
  EXPECT_TRUE(HalveBitmap24(s.get(), t.get()));
  EXPECT_EQ(First(t.get(), 1, 0), 160 * 2 / 16);  // around (2, 0): weight 2
  EXPECT_EQ(First(t.get(), 0, 0), 0);             // (2, 1) is not around (0, 0)
  // At the corner the repeated edge gives the pixel weight 3 x 3.
  TRef<TSysBitmap> corner = Make(PF_R8G8B8, 5, 3);
  corner->ScanLine(0)[0] = 160;
  HalveBitmap24(corner.get(), t.get());
  EXPECT_EQ(First(t.get(), 0, 0), 160 * 9 / 16);
  TRef<TSysBitmap> argb = Make(PF_A8R8G8B8, 3, 3);
  EXPECT_TRUE(Contains(AssertionOf([&] { HalveBitmap24(argb.get(), t.get()); }), "Invalid Pixel Size"));
}

TEST(Rotation, QuarterAndHalfTurns) {
  TRef<TSysBitmap> s = Numbered32(3, 2);  // 0 1 2 / 3 4 5
  TRef<TSysBitmap> cw = Make(PF_A8R8G8B8, 2, 3);
  EXPECT_TRUE(RotateBitmapCW32(s.get(), cw.get()));
  // Clockwise: the left column, read bottom to top, becomes the top row.
  EXPECT_EQ(First(cw.get(), 0, 0), 3);
  EXPECT_EQ(First(cw.get(), 0, 2), 5);
  TRef<TSysBitmap> odd = Numbered32(3, 3);
  RotateBitmap180_32(odd.get());
  for (int i = 0; i < 9; ++i) EXPECT_EQ(First(odd.get(), i % 3, i / 3), 8 - i);
  TRef<TSysBitmap> wrong = Make(PF_R8G8B8, 3, 2);
  EXPECT_TRUE(Contains(AssertionOf([&] { RotateBitmapCW24(Make(PF_R8G8B8, 3, 2).get(), wrong.get()); }),
                       "Target Size Mismatch"));
}

TEST(Blending, StraightPremultipliedAndOverTransparency) {
  TRef<TSysBitmap> target = BitmapOf(PF_R8G8B8, 2, 1, {100, 100, 100, 100, 100, 100});
  TRef<TSysBitmap> src = BitmapOf(PF_A8R8G8B8, 1, 1, {200, 0, 100, 128});
  BlendBitmap32On24(target.get(), src.get(), TRect{0, 0, 1, 1}, TPoint{1, 0});
  // d + (s - d) * a / 256, truncating toward zero.
  EXPECT_EQ(BytesOf(*target), (Bytes{100, 100, 100, 150, 50, 100}));
  BlendBitmap32On24(target.get(), src.get(), TRect{0, 0, 1, 1}, TPoint{5, 5});  // clipped away
  EXPECT_EQ(BytesOf(*target), (Bytes{100, 100, 100, 150, 50, 100}));
  // Half transparent over opaque gives opaque.
  TRef<TSysBitmap> t = BitmapOf(PF_A8R8G8B8, 2, 1, {0, 0, 0, 255, 10, 20, 30, 0});
  TRef<TSysBitmap> s = BitmapOf(PF_A8R8G8B8, 2, 1, {255, 255, 255, 128, 40, 50, 60, 90});
  DrawBitmapOver32(t.get(), s.get(), TRect{0, 0, 2, 1}, TPoint{0, 0});
  const Bytes b = BytesOf(*t);
  EXPECT_EQ(b[3], 255);
  EXPECT_NEAR(b[0], 128, 1);
  // Onto a transparent pixel the source is copied.
  EXPECT_EQ((Bytes{b[4], b[5], b[6], b[7]}), (Bytes{40, 50, 60, 90}));
  // Both partly transparent: alpha 255 - (255 - da)(255 - sa) / 255.
  std::uint8_t d[4] = {100, 100, 100, 100};
  const std::uint8_t row[4] = {200, 200, 200, 100};
  BlendRowOver(d, row, 1);
  EXPECT_EQ(d[3], 255 - 155 * 155 / 255);
  EXPECT_NEAR(d[0], (100 * (155 * 100 / 255) + 200 * 100) / double(d[3]), 1.0);
}

TEST(AlphaLooks, OpaqueTestAndWrongFormats) {
  TRef<TSysBitmap> b = Make(PF_A8R8G8B8, 3, 2);
  b->FillRect(TRect{0, 0, 3, 2}, TColor32{0, 0, 0, 255});
  EXPECT_TRUE(IsOpaqueBitmap(b.get()));
  b->Row32(1)[2] = 0xFE000000u;
  EXPECT_FALSE(IsOpaqueBitmap(b.get()));
  EXPECT_TRUE(IsOpaqueBitmap(Make(PF_Y8, 1, 1).get()));  // grey is not alpha
  EXPECT_FALSE(IsOpaqueBitmap(Make(PF_A8, 1, 1).get()));
  EXPECT_FALSE(IsOpaqueBitmap(nullptr));
  EXPECT_TRUE(Contains(AssertionOf([&] { BrightnessToAlpha(Make(PF_R8G8B8, 1, 1).get()); }), "A8R8G8B8"));
}

TEST(ImageDrawing, ImagesOntoBitmapsAndFrames) {
  TRef<TSysBitmap> pic = BitmapOf(PF_A8R8G8B8, 2, 2, {255, 0, 0, 255, 0, 255, 0, 0, 0, 0, 255, 128, 9, 9, 9, 255});
  TRef<TImage> image = GetSysBitmapHook(pic.get(), false, u"pic");
  TRef<TSysBitmap> t = Make(PF_R8G8B8, 3, 3);
  DrawImageOnBitmap(t.get(), TPoint{1, 1}, image.get(), false, TRect{0, 0, 2, 2});
  EXPECT_EQ(First(t.get(), 1, 1), 255 * 255 / 256);  // opaque blue, by the blend formula
  EXPECT_EQ(t->ScanLine(1)[2 * 3 + 1], 0);          // transparent green left nothing
  DrawImageOnBitmap(t.get(), TPoint{1, 1}, image.get(), true, TRect{0, 0, 2, 2});
  EXPECT_EQ(t->ScanLine(1)[2 * 3 + 1], 255);        // NoAlpha copies
  TRef<TSysBitmap> frame = Make(PF_A8R8G8B8, 6, 6);
  TRef<TImage> img2 = GetSysBitmapHook(Numbered32(3, 3).get(), false, u"o");
  FrameRectWithImage(frame.get(), TPoint{1, 1}, img2.get(), TRect{0, 0, 3, 3});
  EXPECT_EQ(First(frame.get(), 1, 1), 0);
  EXPECT_EQ(First(frame.get(), 3, 3), 8);
  EXPECT_EQ(frame->Row32(2)[2], 0u);  // the inside stays
  FrameRectWithImage(frame.get(), TPoint{0, 0}, img2.get(), TRect{-1000000, -1000000, 1000000, 1000000});
  FrameRectWithImage(frame.get(), TPoint{0, 0}, nullptr, TRect{0, 0, 3, 3});
}
