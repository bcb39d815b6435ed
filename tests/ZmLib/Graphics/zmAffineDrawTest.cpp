#include "ZmLib/Graphics/zmAffineDraw.h"

#include <gtest/gtest.h>

#include <limits>
#include <random>

#include "tests/ZmLib/Graphics/GraphicsTestUtil.h"

using namespace zm;
using zmtest::BitmapOf;
using zmtest::BytesOf;

namespace {

// A W x H picture whose every byte tells where it is.
std::vector<std::uint8_t> Pattern(std::int32_t w, std::int32_t h, std::int32_t bpp) {
  std::vector<std::uint8_t> b;
  for (std::int32_t y = 0; y < h; ++y)
    for (std::int32_t x = 0; x < w; ++x)
      for (std::int32_t c = 0; c < bpp; ++c) b.push_back(std::uint8_t(c == 3 ? 255 : 16 * y + x + 100 * c));
  return b;
}

TRef<TSysBitmap> Filled(std::int32_t w, std::int32_t h, std::uint8_t v) {
  return BitmapOf(PF_R8G8B8, w, h, std::vector<std::uint8_t>(std::size_t(w * h * 3), v));
}

TAffineFrame Frame(std::int32_t w, std::int32_t h, TFloatPoint o, TFloatPoint xe, TFloatPoint ye) {
  TAffineFrame f;
  EXPECT_TRUE(InitAffineFrame(f, w, h, o, xe, ye));
  return f;
}

const TRect kAll{0, 0, 2147483647, 2147483647};

std::vector<TColor24> PixelsOf(TSysBitmap* b) {
  std::vector<TColor24> pixels;
  for (std::int32_t y = 0; y < b->Size().Y; ++y)
    for (std::int32_t x = 0; x < b->Size().X; ++x) pixels.push_back(b->Row24(y)[x]);
  return pixels;
}

}  // namespace

TEST(AffineFrame, CornersEdgesAndSpans) {
  const TAffineFrame f = Frame(4, 2, {1.5f, 1}, {5.5f, 1}, {1.5f, 3});
  EXPECT_EQ(f.Bounds, (TRect{1, 1, 6, 3}));
  std::int32_t x1, x2;
  EXPECT_FALSE(FindSpan(f, 3, x1, x2));
  ASSERT_TRUE(FindSpan(f, 1, x1, x2));
  EXPECT_EQ(std::make_pair(x1, x2), std::make_pair(1, 5));
  // A tilted frame: its rows cover wider spans in the middle.
  const TAffineFrame t = Frame(10, 10, {10, 0}, {20, 10}, {0, 10});
  ASSERT_TRUE(FindSpan(t, 9, x1, x2));
  EXPECT_EQ(std::make_pair(x1, x2), std::make_pair(0, 19));
  // Degenerate frames.
  TAffineFrame d;
  EXPECT_FALSE(InitAffineFrame(d, 4, 4, {0, 0}, {4, 4}, {8, 8}));  // three points on one line
  EXPECT_FALSE(InitAffineFrame(d, 4, 4, {std::nanf(""), 0}, {4, 0}, {0, 4}));
  EXPECT_FALSE(InitAffineFrame(d, 4, 4, {0, 0}, {std::numeric_limits<float>::infinity(), 0}, {0, 4}));
  EXPECT_TRUE(InitAffineFrame(d, 4, 4, {0, 0}, {3e38f, 0}, {0, -3e38f}));  // huge, but invertible
  // Rows inside the bounds that no edge reaches (only a broken frame has them).
  TAffineFrame broken = f;
  for (TAffineEdge& e : broken.Edges) e.Top = e.Bottom = -50;
  broken.Bounds = {0, 0, 10, 10};
  EXPECT_TRUE(zmtest::Contains(zmtest::AssertionOf([&] { FindSpan(broken, 3, x1, x2); }),
                               "Line not Found for interval: 3 - 4"));
}

TEST(AffineDraw, IdentityCopiesExactly) {
  const std::vector<std::uint8_t> pattern = Pattern(5, 4, 3);
  TRef<TSysBitmap> src = BitmapOf(PF_R8G8B8, 5, 4, pattern);
  const TAffineFrame f = Frame(5, 4, {0, 0}, {5, 0}, {0, 4});
  TRef<TSysBitmap> src32 = BitmapOf(PF_A8R8G8B8, 5, 4, Pattern(5, 4, 4));  // opaque
  for (int way = 0; way < 3; ++way) {
    TRef<TSysBitmap> dst = Filled(5, 4, 7);
    if (way == 0) AffineDrawNearest(f, dst.get(), src.get(), 255, kAll);
    if (way == 1) AffineDrawBilinear(f, dst.get(), src.get(), 300, kAll, false);  // above 255 counts as 255
    if (way == 2) AffineDrawBilinear(f, dst.get(), src32.get(), 255, kAll, true);
    EXPECT_EQ(BytesOf(*dst), pattern) << way;
  }
}

TEST(AffineDraw, QuarterTurn) {
  // 3 x 2 turned clockwise about its corner into 2 x 3.
  const std::vector<std::uint8_t> pattern = Pattern(3, 2, 3);
  TRef<TSysBitmap> src = BitmapOf(PF_R8G8B8, 3, 2, pattern);
  const TAffineFrame f = Frame(3, 2, {2, 0}, {2, 3}, {0, 0});
  for (bool bilinear : {false, true}) {
    TRef<TSysBitmap> dst = Filled(2, 3, 0);
    if (bilinear) AffineDrawBilinear(f, dst.get(), src.get(), 255, kAll, false);
    else AffineDrawNearest(f, dst.get(), src.get(), 255, kAll);
    for (std::int32_t y = 0; y < 3; ++y)
      for (std::int32_t x = 0; x < 2; ++x)
        EXPECT_EQ(dst->Row24(y)[x], src->Row24(1 - x)[y]) << x << "," << y << " bilinear=" << bilinear;
  }
}

TEST(AffineDraw, OpacityAndAlpha) {
  TRef<TSysBitmap> src = BitmapOf(PF_R8G8B8, 1, 1, {200, 100, 0});
  const TAffineFrame f = Frame(1, 1, {0, 0}, {1, 0}, {0, 1});
  TRef<TSysBitmap> dst = Filled(1, 1, 50);
  AffineDrawNearest(f, dst.get(), src.get(), 0, kAll);  // nothing
  AffineDrawBilinear(f, dst.get(), src.get(), -7, kAll, false);
  EXPECT_EQ(BytesOf(*dst), (std::vector<std::uint8_t>{50, 50, 50}));
  AffineDrawNearest(f, dst.get(), src.get(), 128, kAll);
  EXPECT_EQ(BytesOf(*dst), (std::vector<std::uint8_t>{125, 75, 25}));  // d + (s - d) * 128 / 256, toward zero
  // 32-bit with alpha 128 at full opacity: weight a * 256.
  TRef<TSysBitmap> a = BitmapOf(PF_A8R8G8B8, 1, 1, {200, 100, 0, 128});
  dst = Filled(1, 1, 51);
  AffineDrawNearest(f, dst.get(), a.get(), 255, kAll);
  EXPECT_EQ(BytesOf(*dst), (std::vector<std::uint8_t>{125, 75, 26}));
}

TEST(AffineDraw, ClipAndMisuse) {
  TRef<TSysBitmap> src = BitmapOf(PF_R8G8B8, 4, 4, Pattern(4, 4, 3));
  const TAffineFrame f = Frame(4, 4, {0, 0}, {4, 0}, {0, 4});
  TRef<TSysBitmap> dst = Filled(4, 4, 0);
  AffineDrawNearest(f, dst.get(), src.get(), 255, {1, 1, 3, 2});
  for (std::int32_t y = 0; y < 4; ++y)
    for (std::int32_t x = 0; x < 4; ++x) EXPECT_EQ(dst->Row24(y)[x].B, x >= 1 && x < 3 && y == 1 ? 16 * y + x : 0);
  TRef<TSysBitmap> d32 = BitmapOf(PF_A8R8G8B8, 4, 4, {});
  EXPECT_TRUE(zmtest::Contains(zmtest::AssertionOf([&] { AffineDrawNearest(f, d32.get(), src.get(), 255, kAll); }),
                               "AffineDrawNearest: Destination must be 24-bit"));
  TRef<TSysBitmap> small = Filled(3, 4, 0);
  EXPECT_TRUE(zmtest::Contains(
      zmtest::AssertionOf([&] { AffineDrawBilinear(f, dst.get(), small.get(), 255, kAll, false); }),
      "AffineDrawBilinear: Source smaller than Frame"));
}

TEST(AffineDraw, RandomTransformsStayInsideBothBitmaps) {
  // Under the address sanitizer: any transform, any clip, never a stray access.
  std::mt19937 rng(99);
  std::uniform_real_distribution<float> pos(-40, 80), huge(-1e9f, 1e9f);
  TRef<TSysBitmap> src24 = BitmapOf(PF_R8G8B8, 7, 5, Pattern(7, 5, 3));
  TRef<TSysBitmap> src32 = BitmapOf(PF_A8R8G8B8, 7, 5, Pattern(7, 5, 4));
  TRef<TSysBitmap> dst = Filled(31, 29, 0);
  for (int i = 0; i < 400; ++i) {
    auto pick = [&] { return i % 10 == 0 ? TFloatPoint{huge(rng), huge(rng)} : TFloatPoint{pos(rng), pos(rng)}; };
    TAffineFrame f;
    if (!InitAffineFrame(f, 7, 5, pick(), pick(), pick())) continue;
    const TRect clip{std::int32_t(rng() % 40) - 5, std::int32_t(rng() % 40) - 5, std::int32_t(rng() % 60),
                     std::int32_t(rng() % 60)};
    TSysBitmap* src = i % 2 ? src24.get() : src32.get();
    for (int way = 0; way < 2; ++way) {
      const std::vector<TColor24> before = PixelsOf(dst.get());
      if (way == 0) AffineDrawNearest(f, dst.get(), src, std::int32_t(rng() % 300), clip);
      else AffineDrawBilinear(f, dst.get(), src, std::int32_t(rng() % 300), clip, i % 3 == 0);
      // Nothing outside the clip changes.
      const std::vector<TColor24> after = PixelsOf(dst.get());
      for (std::int32_t y = 0; y < 29; ++y)
        for (std::int32_t x = 0; x < 31; ++x)
          if (x < clip.Left || x >= clip.Right || y < clip.Top || y >= clip.Bottom) {
            ASSERT_EQ(after[std::size_t(y * 31 + x)], before[std::size_t(y * 31 + x)])
                << "draw " << i << " way " << way << " at " << x << "," << y;
          }
    }
    // Keep the picture busy so that later draws have something to spoil.
    if (i % 50 == 0) dst = BitmapOf(PF_R8G8B8, 31, 29, Pattern(31, 29, 3));
  }
}
