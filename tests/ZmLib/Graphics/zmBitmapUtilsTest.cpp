#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "ZmLib/Graphics/SysBitmapStore.h"
#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/Graphics/zmBitmapUtils.h"
#include "tests/ZmLib/Graphics/GraphicsTestUtil.h"

using namespace zm;
using zmtest::AssertionOf;
using zmtest::Contains;

namespace bitmaputils_test {

TRef<TDirectBitmap> Direct(const char* format, std::int32_t w, std::int32_t h) {
  return MakeRef<TDirectBitmap>(w, FindPixelFormat(format), h);
}

// A 32-bit picture whose pixel (x, y) is F(x, y).
template <class F>
TRef<TDirectBitmap> Argb(std::int32_t w, std::int32_t h, F f) {
  TRef<TDirectBitmap> b = Direct(PF_A8R8G8B8, w, h);
  for (std::int32_t y = 0; y < h; ++y)
    for (std::int32_t x = 0; x < w; ++x) b->Row32(y)[x] = f(x, y);
  return b;
}

TRef<TImage> ImageOf(TDirectBitmap* b) { return GetSysBitmapHook(b, false, u"pic"); }

TRef<TImage> Uniform(std::int32_t w, std::int32_t h, std::uint32_t c) {
  return ImageOf(Argb(w, h, [c](std::int32_t, std::int32_t) { return c; }).get());
}

// An opaque picture ("R8G8B8") of one colour.
TRef<TImage> Opaque(std::int32_t w, std::int32_t h, TColor32 c) {
  TRef<TDirectBitmap> b = Direct(PF_R8G8B8, w, h);
  b->FillRect(TRect{0, 0, w, h}, c);
  return ImageOf(b.get());
}

std::uint32_t Pixel(TImage* image, std::int32_t x, std::int32_t y) {
  std::uint32_t p = 0;
  image->Store()->GetMipLevel(0, FindPixelFormat(PF_A8R8G8B8), nullptr)->GetPixels32({&p, 1}, 0, x, y, 1);
  return p;
}

TColor24 At24(TDirectBitmap* b, std::int32_t x, std::int32_t y) { return b->Row24(y)[x]; }

// ---- TImageAnimator --------------------------------------------------------------

TEST(ImageAnimator, EndsGiveEachImageExactlyAndMidIsTheTruncatedSum) {
  // Image 0 at (0, 0), image 1 at (2, 1): the result covers both, 5 x 3.
  TRef<TImage> a = Uniform(3, 2, 0xC8641E0Bu);
  TRef<TImage> b = Uniform(3, 2, 0x6433FF81u);
  TRef<TImageAnimator> anim = MakeRef<TImageAnimator>();
  anim->SetImage(0, a.get(), false, {0, 0});
  anim->SetImage(1, b.get(), false, {2, 1});
  anim->SetPhase(0);
  ASSERT_EQ(anim->Result->Width(), 5);
  ASSERT_EQ(anim->Result->Height(), 3);
  EXPECT_EQ(anim->Origin, (TPoint{0, 0}));
  EXPECT_EQ(anim->Result->Row32(0)[0], 0xC8641E0Bu);
  EXPECT_EQ(anim->Result->Row32(1)[2], 0xC8641E0Bu);
  EXPECT_EQ(anim->Result->Row32(2)[4], 0u);  // only image 1 lies there
  anim->SetPhase(1);
  EXPECT_EQ(anim->Result->Row32(0)[0], 0u);
  EXPECT_EQ(anim->Result->Row32(2)[4], 0x6433FF81u);
  anim->SetPhase(0.5);
  // Each byte: a * 128 / 256 + b * 128 / 256, each product truncated.
  EXPECT_EQ(anim->Result->Row32(1)[2], 0x964B8E45u);
  EXPECT_EQ(anim->Result->Row32(0)[0], 0x64320F05u);
}

TEST(ImageAnimator, NegativeOffsetsMoveTheOriginAndTheResultIsKeptWhileTheSizeIs) {
  TRef<TImage> a = Uniform(2, 2, 0xFF0000FFu);
  TRef<TImage> b = Uniform(2, 2, 0xFFFF0000u);
  TRef<TImageAnimator> anim = MakeRef<TImageAnimator>();
  anim->SetImage(0, a.get(), false, {-3, 5});
  anim->SetImage(1, b.get(), false, {-1, 4});
  anim->SetPhase(1);
  EXPECT_EQ(anim->Origin, (TPoint{-3, 4}));
  ASSERT_EQ(anim->Result->Width(), 4);
  ASSERT_EQ(anim->Result->Height(), 3);
  EXPECT_EQ(anim->Result->Row32(0)[2], 0xFFFF0000u);
  TDirectBitmap* first = anim->Result.get();
  anim->SetPhase(0);
  EXPECT_EQ(anim->Result.get(), first);
  EXPECT_EQ(anim->Result->Row32(0)[2], 0u);  // cleared before each phase
  anim->SetImage(1, b.get(), false, {10, 4});
  anim->SetPhase(0);
  EXPECT_EQ(anim->Result->Width(), 15);
}

TEST(ImageAnimator, PhaseModes) {
  TRef<TImageAnimator> anim = MakeRef<TImageAnimator>();
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(anim->PhaseWeight(-2), 0);
  EXPECT_EQ(anim->PhaseWeight(nan), 0);
  EXPECT_EQ(anim->PhaseWeight(7), 256);
  EXPECT_EQ(anim->PhaseWeight(inf), 256);
  anim->BackAndForth = true;
  EXPECT_EQ(anim->PhaseWeight(0.25), 128);
  EXPECT_EQ(anim->PhaseWeight(0.75), 128);
  EXPECT_EQ(anim->PhaseWeight(0.5), 256);
  EXPECT_EQ(anim->PhaseWeight(1.0), 0);  // the fractional part of 1 is 0
  EXPECT_EQ(anim->PhaseWeight(2.25), 128);
  EXPECT_EQ(anim->PhaseWeight(inf), 0);
  anim->BackAndForth = false;
  anim->Easing = true;
  EXPECT_EQ(anim->PhaseWeight(0.5), 128);
  EXPECT_EQ(anim->PhaseWeight(0.25), 32);   // 0.125
  EXPECT_EQ(anim->PhaseWeight(0.75), 224);  // 0.875
  EXPECT_EQ(anim->PhaseWeight(1), 256);
}

TEST(ImageAnimator, SlotsAndAssertions) {
  TRef<TImageAnimator> anim = MakeRef<TImageAnimator>();
  TRef<TImage> alpha = Uniform(2, 2, 0x80102030u);
  TRef<TImage> opaque = Opaque(2, 2, TColor32{1, 2, 3, 255});
  EXPECT_TRUE(Contains(AssertionOf([&] { anim->SetImage(2, alpha.get(), false, {}); }),
                       "TImageAnimator.SetImage: Index must be in [0,1]"));
  EXPECT_TRUE(Contains(AssertionOf([&] { anim->SetImage(-1, alpha.get(), false, {}); }), "Index must be in [0,1]"));
  EXPECT_TRUE(Contains(AssertionOf([&] { anim->SetPhase(0.5); }), "TImageAnimator.SetPhase: Images not Set"));
  anim->SetImage(0, alpha.get(), true, {});
  anim->SetImage(1, opaque.get(), false, {});
  // A picture with alpha is used as it is; an opaque one is copied into 32 bits.
  EXPECT_FALSE(anim->Slots[0].Owned);
  EXPECT_EQ(anim->Slots[0].Image.get(), alpha.get());
  EXPECT_TRUE(anim->Slots[1].Owned);
  EXPECT_FALSE(anim->Slots[1].Image);
  anim->SetPhase(1);
  EXPECT_EQ(anim->Result->Row32(1)[1], 0xFF030201u);
  anim->SetImage(1, nullptr, false, {});  // clears the slot
  EXPECT_TRUE(Contains(AssertionOf([&] { anim->SetPhase(0.5); }), "Images not Set"));
}

TEST(ImageAnimator, ASlotOutlivesTheImageItWasSetFrom) {
  TRef<TImageAnimator> anim = MakeRef<TImageAnimator>();
  {
    TRef<TImage> alpha = Uniform(1, 1, 0x80445566u);  // its store's own bitmap is used
    anim->SetImage(0, alpha.get(), false, {});
    TRef<TImage> opaque = Opaque(1, 1, TColor32{7, 8, 9, 255});
    anim->SetImage(1, opaque.get(), false, {});
  }
  anim->SetPhase(0);
  EXPECT_EQ(anim->Result->Row32(0)[0], 0x80445566u);
  anim->SetPhase(1);
  EXPECT_EQ(anim->Result->Row32(0)[0], 0xFF090807u);
}

TEST(ImageAnimator, GetImageHandsOutACopy) {
  TRef<TImageAnimator> anim = MakeRef<TImageAnimator>();
  EXPECT_FALSE(anim->GetImage());
  TRef<TImage> a = Uniform(2, 1, 0xFF112233u);
  anim->SetImage(0, a.get(), false, {});
  anim->SetImage(1, a.get(), false, {});
  anim->SetPhase(0);
  TRef<TImage> out = anim->GetImage();
  ASSERT_TRUE(out);
  anim->Result->Row32(0)[0] = 0;
  EXPECT_EQ(Pixel(out.get(), 0, 0), 0xFF112233u);
  EXPECT_EQ(out->Params.Width, 2);
}

// ---- Drawing utilities ---------------------------------------------------------------

TEST(BitmapUtils, Blend32On24IsClippedOnEverySide) {
  TRef<TDirectBitmap> target = Direct(PF_R8G8B8, 4, 3);
  target->FillRect(TRect{0, 0, 4, 3}, TColor32{100, 100, 100, 255});
  // Blue 200 at alpha 128: 100 + (200 - 100) * 128 / 256 = 150.
  TRef<TDirectBitmap> source = Argb(3, 3, [](std::int32_t, std::int32_t) { return 0x806464C8u; });
  DrawDirectBitmap32On24(target.get(), source.get(), TRect{0, 0, 3, 3}, TPoint{-1, 2});
  EXPECT_EQ(At24(target.get(), 0, 2).B, 150);
  EXPECT_EQ(At24(target.get(), 1, 2).B, 150);
  EXPECT_EQ(At24(target.get(), 2, 2).B, 100);
  EXPECT_EQ(At24(target.get(), 0, 1).B, 100);
  // A source rectangle beyond the source and nil bitmaps change nothing.
  DrawDirectBitmap32On24(target.get(), source.get(), TRect{5, 5, 9, 9}, TPoint{0, 0});
  DrawDirectBitmap32On24(nullptr, source.get(), TRect{0, 0, 3, 3}, TPoint{0, 0});
  EXPECT_EQ(At24(target.get(), 0, 0).B, 100);
}

TEST(BitmapUtils, TilesAreAnchoredAtTheOriginAndStayInsideTheRect) {
  // A 3 x 2 tile whose pixels number themselves 1..6 in the blue byte.
  TRef<TImage> tile = ImageOf(
      Argb(3, 2, [](std::int32_t x, std::int32_t y) { return 0xFF000000u | std::uint32_t(y * 3 + x + 1); }).get());
  TRef<TDirectBitmap> target = Direct(PF_A8R8G8B8, 10, 6);
  TileImageOnBitmap(target.get(), TRect{1, 1, 9, 5}, tile.get(), TPoint{5, 4});
  for (std::int32_t y = 0; y < 6; ++y)
    for (std::int32_t x = 0; x < 10; ++x) {
      const bool inside = x >= 1 && x < 9 && y >= 1 && y < 5;
      const std::uint32_t want =
          inside ? 0xFF000000u | std::uint32_t(((y - 4) % 2 + 2) % 2 * 3 + ((x - 5) % 3 + 3) % 3 + 1) : 0u;
      ASSERT_EQ(target->Row32(y)[x], want) << x << "," << y;
    }
  // A rectangle outside the target, and a nil image: nothing.
  TileImageOnBitmap(target.get(), TRect{20, 20, 30, 30}, tile.get(), TPoint{});
  TileImageOnBitmap(target.get(), TRect{0, 0, 10, 6}, nullptr, TPoint{});
  EXPECT_EQ(target->Row32(0)[0], 0u);
}

TEST(BitmapUtils, TilingA24BitTargetBlendsPicturesWithAlpha) {
  TRef<TDirectBitmap> target = Direct(PF_R8G8B8, 5, 1);
  target->FillRect(TRect{0, 0, 5, 1}, TColor32{0, 0, 0, 255});
  TileImageOnBitmap(target.get(), TRect{0, 0, 5, 1}, Uniform(2, 1, 0x800000FFu).get(), TPoint{-1, 0});
  for (std::int32_t x = 0; x < 5; ++x) EXPECT_EQ(At24(target.get(), x, 0).B, 127) << x;  // 255 * 128 / 256
  TileImageOnBitmap(target.get(), TRect{0, 0, 5, 1}, Opaque(2, 1, TColor32{9, 8, 7, 255}).get(), TPoint{});
  EXPECT_EQ(At24(target.get(), 4, 0), (TColor24{9, 8, 7}));
}

TEST(BitmapUtils, BevelLinesOwnTheirCornersAndAreClipped) {
  const TColor32 light{255, 255, 255, 255}, dark{0, 0, 128, 255};
  TRef<TDirectBitmap> b = Direct(PF_A8R8G8B8, 6, 5);
  DrawBevelRect(b.get(), TRect{1, 1, 5, 4}, light, dark);
  EXPECT_EQ(b->Row32(1)[1], light.Value());
  EXPECT_EQ(b->Row32(1)[4], dark.Value());  // top right
  EXPECT_EQ(b->Row32(3)[1], dark.Value());  // bottom left
  EXPECT_EQ(b->Row32(2)[2], 0u);            // inside untouched
  EXPECT_EQ(b->Row32(0)[0], 0u);
  TRef<TDirectBitmap> c = Direct(PF_A8R8G8B8, 3, 3);
  DrawBevelRectEx(c.get(), TRect{-2, -2, 2, 2}, light, true, dark);  // sunken: colours exchanged
  EXPECT_EQ(c->Row32(0)[1], light.Value());                          // right line of the clipped rectangle
  EXPECT_EQ(c->Row32(1)[0], light.Value());                          // bottom line
  EXPECT_EQ(c->Row32(2)[2], 0u);
  DrawBevelRect(c.get(), TRect{2, 2, 2, 9}, light, dark);  // empty: nothing
  DrawBevelRect(nullptr, TRect{0, 0, 3, 3}, light, dark);
  EXPECT_EQ(c->Row32(2)[2], 0u);
}

TEST(BitmapUtils, FrameOfAnImageOnADirectBitmap) {
  TRef<TDirectBitmap> b = Direct(PF_R8G8B8, 6, 6);
  FrameDirectRectWithImage(b.get(), TPoint{1, 1}, Opaque(2, 2, TColor32{50, 60, 70, 255}).get(), TRect{0, 0, 4, 4});
  EXPECT_EQ(At24(b.get(), 1, 1), (TColor24{50, 60, 70}));
  EXPECT_EQ(At24(b.get(), 4, 4), (TColor24{50, 60, 70}));
  EXPECT_EQ(At24(b.get(), 2, 2), (TColor24{0, 0, 0}));
  FrameDirectRectWithImage(nullptr, TPoint{}, nullptr, TRect{0, 0, 4, 4});
}

TEST(BitmapUtils, HitTest) {
  TRef<TImage> holes =
      ImageOf(Argb(3, 2, [](std::int32_t x, std::int32_t) { return x == 1 ? 0x00FFFFFFu : 0x01000000u; }).get());
  EXPECT_TRUE(HitTestImage(holes.get(), {0, 0}));
  EXPECT_FALSE(HitTestImage(holes.get(), {1, 1}));  // fully transparent
  EXPECT_TRUE(HitTestImage(holes.get(), {2, 1}));
  EXPECT_FALSE(HitTestImage(holes.get(), {3, 0}));
  EXPECT_FALSE(HitTestImage(holes.get(), {-1, 0}));
  EXPECT_FALSE(HitTestImage(holes.get(), {0, 2}));
  EXPECT_FALSE(HitTestImage(nullptr, {0, 0}));
  TRef<TImage> opaque = Opaque(2, 2, TColor32{});
  EXPECT_TRUE(HitTestImage(opaque.get(), {1, 1}));
  EXPECT_FALSE(HitTestImage(opaque.get(), {2, 1}));
}

}  // namespace bitmaputils_test
