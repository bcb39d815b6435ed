#include "ZmLib/Graphics/SysAlphaRow.h"

#include <gtest/gtest.h>

#include <random>

#include "ZmLib/Graphics/SysBilinearSampler.h"
#include "ZmLib/Graphics/SysPixelFormat.h"
#include "tests/ZmLib/Graphics/GraphicsTestUtil.h"

using namespace zm;
using zmtest::AssertionOf;
using zmtest::BitmapOf;
using zmtest::BytesOf;
using zmtest::Contains;
using Bytes = std::vector<std::uint8_t>;

namespace {

// The formula itself: Src2 + floor((Src1 - Src2) * a / 256), modulo 256.
std::uint8_t Reference(int s1, int s2, int a) {
  const int d = (s1 - s2) * a;
  const int q = d >= 0 ? d / 256 : -((-d + 255) / 256);
  return std::uint8_t(s2 + q);
}

}  // namespace

TEST(AlphaBlendRow, BothVariantsGiveTheFormulaExactly) {
  std::mt19937 rng(12345);
  for (TAlphaBlendRowProc proc : {&AlphaBlendRowPlain, &AlphaBlendRowSSE2}) {
    for (int round = 0; round < 300; ++round) {
      const int count = int(rng() % 70);
      const int a = round < 2 ? round * 256 : int(rng() % 257);
      const auto n = static_cast<std::size_t>(count);
      Bytes s1(n), s2(n), d(n);
      for (int i = 0; i < count; ++i) s1[std::size_t(i)] = std::uint8_t(rng()), s2[std::size_t(i)] = std::uint8_t(rng());
      proc(d.data(), s1.data(), s2.data(), a, count);
      for (int i = 0; i < count; ++i)
        ASSERT_EQ(d[std::size_t(i)], Reference(s1[std::size_t(i)], s2[std::size_t(i)], a))
            << "alpha " << a << " byte " << i << " of " << count;
    }
  }
  // Alpha beyond 0..256 is clamped; the target may be one of the sources.
  Bytes a(37, 9), b(37, 200);
  AlphaBlendRowProc(a.data(), a.data(), b.data(), 999, 37);
  EXPECT_EQ(a, Bytes(37, 9));
  AlphaBlendRowProc(a.data(), a.data(), b.data(), -5, 37);
  EXPECT_EQ(a, b);
}

TEST(RecoverAlpha, FromDrawingsOnBlackAndOnWhite) {
  // Opaque where both agree; transparent where black stays black and white white; half covered between.
  TRef<TSysBitmap> black = BitmapOf(PF_A8R8G8B8, 3, 1, {10, 20, 30, 0, 0, 0, 0, 0, 64, 64, 64, 0});
  TRef<TSysBitmap> white = BitmapOf(PF_R8G8B8, 3, 1, {10, 20, 30, 255, 255, 255, 191, 191, 191});
  RecoverAlphaAll(black.get(), white.get(), TColor32{1, 2, 3, 4});
  EXPECT_EQ(BytesOf(*black), (Bytes{10, 20, 30, 255, 1, 2, 3, 4, 127, 127, 127, 128}));
  EXPECT_TRUE(Contains(AssertionOf([&] { RecoverAlphaAll(white.get(), white.get(), {}); }), "A8R8G8B8"));
}

TEST(Unpremultiply, DrawingsWithAndWithoutAlpha) {
  TRef<TSysBitmap> noAlpha = BitmapOf(PF_A8R8G8B8, 1, 1, {1, 2, 3, 0});
  EXPECT_FALSE(UnpremultiplyBitmap32(noAlpha.get(), TColor32{}));
  EXPECT_EQ(BytesOf(*noAlpha), (Bytes{1, 2, 3, 0}));
  TRef<TSysBitmap> mixed = BitmapOf(PF_A8R8G8B8, 3, 1, {64, 32, 0, 128, 9, 9, 9, 0, 1, 2, 3, 255});
  EXPECT_TRUE(UnpremultiplyBitmap32(mixed.get(), TColor32{7, 7, 7, 7}));
  EXPECT_EQ(BytesOf(*mixed), (Bytes{127, 63, 0, 128, 7, 7, 7, 7, 1, 2, 3, 255}));
  EXPECT_TRUE(Contains(AssertionOf([&] { UnpremultiplyBitmap32(BitmapOf(PF_R8G8B8, 1, 1, {}).get(), {}); }),
                       "32-bit"));
}

TEST(BilinearLayout, CopyFillAndInterpolate) {
  // Same size copies exactly.
  TRef<TSysBitmap> src = BitmapOf(PF_A8R8G8B8, 3, 2, {0, 0, 0, 0, 100, 100, 100, 100, 200, 200, 200, 200,
                                                      50, 50, 50, 50, 150, 150, 150, 150, 250, 250, 250, 250});
  TPixelLayout s = GetBitmapLayout(src.get());
  TPixelLayout same(3, 2, 32);
  BilinearResizeLayout(s, same);
  EXPECT_TRUE(std::equal(same.Rows[1], same.Rows[1] + 12, src->ScanLine(1)));
  // A 1 x 1 source fills everything.
  TRef<TSysBitmap> one = BitmapOf(PF_A8R8G8B8, 1, 1, {9, 8, 7, 6});
  TPixelLayout big(4, 3, 32);
  BilinearResizeLayout(GetBitmapLayout(one.get()), big);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(big.Rows[std::size_t(y)][x * 4 + 3], 6);
  // 3 x 2 to 5 x 3: the corners land on the source corners, the middle mixes.
  TPixelLayout wide(5, 3, 32);
  BilinearResizeLayout(s, wide);
  EXPECT_EQ(wide.Rows[2][4 * 4], 250);
  EXPECT_EQ(wide.Rows[0][1 * 4], 50);    // column 0.5
  EXPECT_EQ(wide.Rows[1][2 * 4], 125);   // column 1 and row 0.5
  TPixelLayout empty(0, 5, 32);
  BilinearResizeLayout(s, empty);
  TPixelLayout rgb(2, 2, 24);
  EXPECT_TRUE(Contains(AssertionOf([&] { BilinearResizeLayout(s, rgb); }), "32-bit Layouts"));
}
