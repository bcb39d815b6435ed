#include "ZmLib/Graphics/sysCorrectInvisiblePixels.h"

#include <gtest/gtest.h>

#include "ZmLib/Graphics/SysPixelFormat.h"

using namespace zm;

namespace {

TRef<TDirectBitmap> Filled(int w, int h, std::uint32_t color) {
  TRef<TDirectBitmap> b = MakeRef<TDirectBitmap>(w, FindPixelFormat("A8R8G8B8"), h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b->Row32(y)[x] = color;
  return b;
}

std::vector<std::uint32_t> PixelsOf(TDirectBitmap* b) {
  std::vector<std::uint32_t> v;
  for (int y = 0; y < b->Height(); ++y) v.insert(v.end(), b->Row32(y), b->Row32(y) + b->Width());
  return v;
}

// Averages of 255 come out a little lower through the fixed reciprocals,
// once per halving.
bool Invisible(std::uint32_t c, std::uint32_t rgb) {
  for (int k = 0; k < 24; k += 8) {
    const int got = int((c >> k) & 0xFF), want = int((rgb >> k) & 0xFF);
    if (got > want || got < want - 3) return false;
  }
  return (c >> 24) == 0;
}

}  // namespace

TEST(InvisiblePixels, PicturesWithNothingToBorrowStayUnchanged) {
  // Opaque: no copy is made, so the phase does not move.
  SetInvisiblePixelPhase(0);
  TRef<TDirectBitmap> opaque = Filled(9, 7, 0xFF102030u);
  opaque->Row32(3)[4] = 0x80FFFFFFu;
  const auto before = PixelsOf(opaque.get());
  CorrectInvisiblePixels(opaque.get());
  EXPECT_EQ(PixelsOf(opaque.get()), before);
  EXPECT_EQ(InvisiblePixelPhase(), 0);

  // Fully transparent: every copy is transparent black, nothing changes.
  TRef<TDirectBitmap> clear = Filled(13, 5, 0x00FFFFFFu);
  CorrectInvisiblePixels(clear.get());
  EXPECT_EQ(PixelsOf(clear.get()), std::vector<std::uint32_t>(13 * 5, 0x00FFFFFFu));
  EXPECT_EQ(InvisiblePixelPhase(), 1);  // three halvings

  // Other formats and tiny pictures are left alone.
  TRef<TDirectBitmap> rgb = MakeRef<TDirectBitmap>(3, FindPixelFormat("R8G8B8"), 3);
  CorrectInvisiblePixels(rgb.get());
  EXPECT_FALSE(HalveVisible(rgb.get()));
  CorrectInvisiblePixels(nullptr);
  TRef<TDirectBitmap> one = Filled(1, 1, 0);
  CorrectInvisiblePixels(one.get());
  EXPECT_EQ(one->Row32(0)[0], 0u);
}

TEST(InvisiblePixels, HolesTakeTheColourAroundThemAndStayInvisible) {
  for (int phase : {0, 1}) {
    SetInvisiblePixelPhase(phase);
    TRef<TDirectBitmap> b = Filled(16, 12, 0xFFFF0000u);
    b->Row32(5)[7] = 0x00FFFFFFu;
    CorrectInvisiblePixels(b.get());
    EXPECT_TRUE(Invisible(b->Row32(5)[7], 0xFF0000u)) << phase;
    EXPECT_EQ(b->Row32(5)[6], 0xFFFF0000u) << phase;
  }
  // A wide hole: the half copy fills its edge, the quarter and eighth
  // copies the pixels further in; farther pixels keep their colour.
  SetInvisiblePixelPhase(1);
  TRef<TDirectBitmap> b = Filled(32, 32, 0x00000000u);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 4; ++x) b->Row32(y)[x] = 0xFF0000FFu;
  CorrectInvisiblePixels(b.get());
  EXPECT_TRUE(Invisible(b->Row32(10)[5], 0xFFu));   // from the half copy
  EXPECT_TRUE(Invisible(b->Row32(10)[7], 0xFFu));   // the quarter copy
  EXPECT_TRUE(Invisible(b->Row32(10)[9], 0xFFu));   // the eighth copy
  EXPECT_EQ(b->Row32(10)[31], 0u);
  EXPECT_EQ(b->Row32(10)[0], 0xFF0000FFu);
}

TEST(InvisiblePixels, HalvingUsesTheFixedDivisionsAndAlternatesThePhase) {
  // Phase 1 next: the copy's top row samples source row 1 around column
  // 2x + 1; one transparent neighbour leaves weight 3 (1 + 2), and 3 x 255
  // divided with the fixed reciprocal gives 254.
  SetInvisiblePixelPhase(0);
  TRef<TDirectBitmap> b = Filled(8, 8, 0xFFFFFFFFu);
  b->Row32(1)[4] = 0x00000000u;
  TRef<TDirectBitmap> half = HalveVisible(b.get());
  ASSERT_TRUE(half);
  EXPECT_EQ(half->Width(), 4);
  EXPECT_EQ(half->Height(), 4);
  EXPECT_EQ(half->Row32(0)[1], 0xFEFEFEFEu);
  EXPECT_EQ(half->Row32(2)[2], 0xFFFFFFFFu);  // weight 10: 2550 -> 255
  EXPECT_EQ(InvisiblePixelPhase(), 1);
  // Phase 0 next: the same spot is now the centre of copy pixel (0, 0)'s
  // neighbourhood no more; the copy's last column reaches past the source.
  TRef<TDirectBitmap> again = HalveVisible(b.get());
  EXPECT_EQ(InvisiblePixelPhase(), 0);
  EXPECT_EQ(again->Row32(0)[1], 0xFFFFFFFFu);
  // Small sources give at least 4 x 4; pixels with no source are empty.
  TRef<TDirectBitmap> tiny = HalveVisible(Filled(2, 1, 0xFF00FF00u).get());
  EXPECT_EQ(tiny->Size(), (TPoint{4, 4}));
  EXPECT_EQ(tiny->Row32(3)[3], 0u);
}
