// The drawing helpers that the slide objects, generators and navigation
// build on, fed hostile rectangles, extreme coordinates and a bitmap drawn
// onto itself; and the colour and basis helpers at their edges.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "ZmLib/Graphics/SysBitmapStore.h"
#include "ZmLib/Graphics/SysBitmapUtils.h"
#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/Graphics/zmBitmap.h"
#include "ZmLib/Graphics/zmColorTypes.h"
#include "ZmLib/Graphics/zmRectUtils.h"
#include "tests/ZmLib/Graphics/GraphicsTestUtil.h"

using namespace zm;
using zmtest::AssertionOf;
using zmtest::BitmapOf;
using zmtest::BytesOf;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

// Pixel (x, y) holds blue = 10 * y + x, opaque.
TRef<TSysBitmap> Numbered(std::int32_t w, std::int32_t h) {
  TRef<TSysBitmap> b = CreateSysBitmap(w, h, FindPixelFormat(PF_A8R8G8B8));
  for (std::int32_t y = 0; y < h; ++y)
    for (std::int32_t x = 0; x < w; ++x) b->Row32(y)[x] = 0xFF000000u | std::uint32_t(10 * y + x);
  return b;
}

std::uint32_t Blue(TSysBitmap* b, std::int32_t x, std::int32_t y) { return b->Row32(y)[x] & 0xFF; }

}  // namespace

TEST(DrawingEdges, ExtremeRectanglesAreCutNotWrapped) {
  TRef<TSysBitmap> t = Numbered(4, 3);
  const Bytes before = BytesOf(*t);
  TRef<TSysBitmap> s = Numbered(2, 2);
  for (const TRect& r : {TRect{kMin, kMin, kMax, kMax}, TRect{3, 3, 1, 1}, TRect{kMax - 1, 0, kMax, 2}}) {
    SetAlphaRect(t.get(), TRect{r.Left, r.Top, r.Left, r.Bottom}, 0);  // empty
    DrawBitmapOver32(t.get(), s.get(), r, TPoint{kMax, kMax});
    DrawBitmapOver32(t.get(), s.get(), r, TPoint{kMin, kMin});
    TileBitmapRect(t.get(), s.get(), TRect{0, 0, 4, 3}, TRect{0, 0, 4, 3}, r == TRect{3, 3, 1, 1} ? r : TRect{5, 5, 9, 9});
  }
  TileBitmapRectEx(t.get(), s.get(), TRect{0, 0, 4, 3}, TPoint{}, TRect{1, 1, kMin, kMin});
  // Pictures without alpha are copied, with it blended: both cut the same way.
  TRef<TSysBitmap> rgb = CreateSysBitmap(2, 2, FindPixelFormat(PF_R8G8B8));
  for (TSysBitmap* pic : {s.get(), rgb.get()}) {
    TRef<TImage> image = GetSysBitmapHook(pic, false, u"pic");
    // Source x lands at x + at.X - kMin: all of these miss the target.
    for (const TPoint& at : {TPoint{kMax, kMax}, TPoint{kMin, kMin + 5}, TPoint{kMin + 5, kMin}, TPoint{kMax, 0}})
      DrawImageOnBitmap(t.get(), at, image.get(), true, TRect{kMin, kMin, kMax, kMax});
  }
  EXPECT_EQ(BytesOf(*t), before);
  // A rectangle spanning the range still lands its visible part where it belongs.
  TRef<TImage> image = GetSysBitmapHook(rgb.get(), false, u"rgb");
  DrawImageOnBitmap(t.get(), TPoint{kMin + 1, kMin + 2}, image.get(), true, TRect{kMin, kMin, kMax, kMax});
  // Source x maps to x + 1, source y to y + 2: only the picture's top row shows.
  EXPECT_EQ(t->Row32(2)[1], 0xFF000000u);
  EXPECT_EQ(t->Row32(2)[2], 0xFF000000u);
  EXPECT_EQ(t->Row32(2)[0], 0xFF000000u | 20u);
  EXPECT_EQ(t->Row32(2)[3], 0xFF000000u | 23u);
  EXPECT_EQ(t->Row32(1)[1], 0xFF000000u | 11u);
  // The whole range of coordinates sets exactly the bitmap.
  EXPECT_TRUE(SetAlphaRect(t.get(), TRect{kMin, kMin, kMax, kMax}, 7));
  for (std::int32_t y = 0; y < 3; ++y)
    for (std::int32_t x = 0; x < 4; ++x) EXPECT_EQ(t->Row32(y)[x] >> 24, 7u);
}

TEST(DrawingEdges, TilingAnchoredFarAwayKeepsThePhase) {
  TRef<TSysBitmap> p = Numbered(3, 2);
  TRef<TSysBitmap> t = Numbered(5, 4);
  // Anchored at the bottom of the coordinate range: the phase is
  // (x - kMin) mod 3 and (y - kMin) mod 2, computed without overflow.
  TileBitmapRect(t.get(), p.get(), TRect{kMin, kMin, kMax, kMax}, TRect{0, 0, 5, 4}, TRect{0, 0, 3, 2});
  for (std::int32_t y = 0; y < 4; ++y)
    for (std::int32_t x = 0; x < 5; ++x) {
      const std::int64_t px = (std::int64_t(x) - kMin) % 3, py = (std::int64_t(y) - kMin) % 2;
      EXPECT_EQ(Blue(t.get(), x, y), std::uint32_t(10 * py + px)) << x << "," << y;
    }
  // Offsets at the ends of the range wrap like any other.
  TileBitmapRectEx(t.get(), p.get(), TRect{0, 0, 5, 4}, TPoint{kMin, kMax}, TRect{0, 0, 3, 2});
  const std::int64_t ox = ((std::int64_t(kMin) % 3) + 3) % 3, oy = std::int64_t(kMax) % 2;
  EXPECT_EQ(Blue(t.get(), 0, 0), std::uint32_t(10 * oy + ox));
}

TEST(DrawingEdges, ABitmapDrawnOntoItself) {
  // Repeating a bitmap's own top-left 2 x 2 across it.
  TRef<TSysBitmap> b = Numbered(5, 3);
  TileBitmapRect(b.get(), b.get(), TRect{0, 0, 5, 3}, TRect{0, 0, 5, 3}, TRect{0, 0, 2, 2});
  for (std::int32_t y = 0; y < 3; ++y)
    for (std::int32_t x = 0; x < 5; ++x) EXPECT_EQ(Blue(b.get(), x, y), std::uint32_t(10 * (y % 2) + x % 2));
  // Opaque pixels over themselves stay as they are.
  TRef<TSysBitmap> c = Numbered(3, 3);
  const Bytes before = BytesOf(*c);
  DrawBitmapOver32(c.get(), c.get(), TRect{0, 0, 3, 3}, TPoint{0, 0});
  EXPECT_EQ(BytesOf(*c), before);
}

TEST(DrawingEdges, FillCopyAndCropWithRangeSpanningRectangles) {
  TRef<TSysBitmap> t = Numbered(4, 3);
  TRef<TSysBitmap> s = Numbered(2, 2);
  const Bytes before = BytesOf(*t);
  for (const TRect& r : {TRect{kMax, kMax, kMin, kMin}, TRect{kMax - 1, 0, kMax, 3}, TRect{kMin, 0, kMin + 1, 3}}) {
    t->FillRect(r, TColor32{1, 2, 3, 4});
    t->CopyRect(r, s.get(), pmNone, TPoint{0, 0});
    t->CopyRect(TRect{0, 0, 4, 3}, s.get(), pmNone, TPoint{r.Left, r.Top});
  }
  EXPECT_EQ(BytesOf(*t), before);
  t->FillRect(TRect{kMin, kMin, kMax, kMax}, TColor32{1, 2, 3, 4});
  EXPECT_EQ(t->Row32(2)[3], (TColor32{1, 2, 3, 4}).Value());
  // Copying from far to the left of the source moves the visible part.
  TRef<TSysBitmap> u = Numbered(4, 3);
  u->CopyRect(TRect{kMin, kMin, kMax, kMax}, s.get(), pmNone, TPoint{kMin, kMin});
  EXPECT_EQ(Blue(u.get(), 0, 0), 0u);
  EXPECT_EQ(Blue(u.get(), 1, 1), 11u);
  EXPECT_EQ(Blue(u.get(), 2, 2), 22u);  // outside the source: left alone
  TRef<TCropBitmap> crop = MakeRef<TCropBitmap>(TRect{kMin, kMin, kMax, kMax}, false, t.get());
  EXPECT_EQ(crop->Size(), (TPoint{4, 3}));
  EXPECT_NE(AssertionOf([&] { MakeRef<TCropBitmap>(TRect{kMax - 1, 0, kMax, 1}, false, t.get()); }),
            "(no assertion)");
}

TEST(DrawingEdges, GreyLooksAndWrongBitmaps) {
  TRef<TSysBitmap> b = BitmapOf(PF_A8R8G8B8, 2, 1, {255, 255, 254, 255, 1, 2, 3, 3});
  DisabledBitmap32(b.get());
  EXPECT_EQ(BytesOf(*b), (Bytes{254, 254, 254, 63, 2, 2, 2, 0}));
  TRef<TSysBitmap> g = BitmapOf(PF_A8R8G8B8, 1, 1, {255, 255, 255, 128});
  GrayscaleBitmap32(g.get());
  EXPECT_EQ(BytesOf(*g), (Bytes{255, 255, 255, 128}));
  TRef<TSysBitmap> rgb = CreateSysBitmap(1, 1, FindPixelFormat(PF_R8G8B8));
  for (auto f : {&GrayscaleBitmap32, &DisabledBitmap32}) {
    EXPECT_NE(AssertionOf([&] { f(rgb.get()); }), "(no assertion)");
    EXPECT_NE(AssertionOf([&] { f(nullptr); }), "(no assertion)");
  }
  EXPECT_NE(AssertionOf([&] { SetAlphaRect(nullptr, TRect{0, 0, 1, 1}, 0); }), "(no assertion)");
  EXPECT_NE(AssertionOf([&] { DrawBitmapOver32(b.get(), rgb.get(), TRect{0, 0, 1, 1}, TPoint{}); }),
            "(no assertion)");
}

TEST(DrawingEdges, ClipCopyRectAtTheEndsOfTheRange) {
  std::int32_t dx = kMax - 1, dy = 0, w = kMax, h = 1, sx = 0, sy = 0;
  EXPECT_FALSE(ClipCopyRect(dx, dy, w, h, TPoint{10, 10}, TPoint{10, 10}, sx, sy));
  dx = kMin, dy = kMin, w = kMax, h = kMax, sx = kMin, sy = kMin;
  EXPECT_FALSE(ClipCopyRect(dx, dy, w, h, TPoint{10, 10}, TPoint{10, 10}, sx, sy));
  // A negative destination moves the source by the same amount.
  dx = -3, dy = -1, w = 8, h = 8, sx = 0, sy = 0;
  ASSERT_TRUE(ClipCopyRect(dx, dy, w, h, TPoint{6, 6}, TPoint{4, 4}, sx, sy));
  EXPECT_EQ((TRect{dx, dy, w, h}), (TRect{0, 0, 3, 4}));
  EXPECT_EQ((TPoint{sx, sy}), (TPoint{3, 1}));
  dx = 0, dy = 0, w = -5, h = 2, sx = 0, sy = 0;
  EXPECT_FALSE(ClipCopyRect(dx, dy, w, h, TPoint{6, 6}, TPoint{4, 4}, sx, sy));
}

TEST(ColorEdges, MemoryOrderAveragesAndBlendsAtTheLimits) {
  const TColor32 c = MakeColor32(1, 2, 3, 4);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(&c);
  EXPECT_EQ((Bytes{bytes[0], bytes[1], bytes[2], bytes[3]}), (Bytes{3, 2, 1, 4}));  // B, G, R, A
  const TColor32 w = AverageColor32(MakeColor32(255, 255, 255, 255), MakeColor32(255, 254, 1, 0));
  EXPECT_EQ(w, MakeColor32(255, 254, 128, 127));  // no carry between bytes
  EXPECT_TRUE(SameRGB(MakeColor32(9, 8, 7, 0), MakeColor32(9, 8, 7, 255)));
  EXPECT_FALSE(SameRGB(MakeColor32(9, 8, 7, 0), MakeColor32(9, 8, 6, 0)));
  TColor32 d = MakeColor32(10, 20, 30, 200);
  BlendOverColor32(d, MakeColor32(99, 99, 99, 0));
  EXPECT_EQ(d, MakeColor32(10, 20, 30, 200));  // a clear source keeps the destination
  d = MakeColor32(10, 20, 30, 0);
  BlendOverColor32(d, MakeColor32(99, 98, 97, 1));
  EXPECT_EQ(d, MakeColor32(99, 98, 97, 1));  // onto nothing the source is copied
}

TEST(BasisEdges, SingularBasesAndRoundTrips) {
  TFloatBasis3 b;
  // Two equal axes: singular, and the inverse stays zero.
  EXPECT_FALSE(MakeFloatBasis3(b, TFloatPoint3{1, 2, 3}, TFloatPoint3{1, 0, 0}, TFloatPoint3{1, 0, 0},
                               TFloatPoint3{0, 0, 1}));
  EXPECT_EQ(b.InvDet, 0.0);
  const TFloatPoint3 p = FloatBasis3ToLocal(b, TFloatPoint3{5, 5, 5});
  EXPECT_TRUE(p.X == p.X && p.Y == p.Y && p.Z == p.Z);  // finite, no NaN from 0 / 0
  ASSERT_TRUE(MakeFloatBasis3(b, TFloatPoint3{1, 2, 3}, TFloatPoint3{2, 0, 0}, TFloatPoint3{1, 3, 0},
                              TFloatPoint3{0, 1, -4}));
  const TFloatPoint3 local{0.25f, -2.0f, 1.5f};
  const TFloatPoint3 back = FloatBasis3ToLocal(b, FloatBasis3ToWorld(b, local));
  EXPECT_NEAR(back.X, local.X, 1e-5);
  EXPECT_NEAR(back.Y, local.Y, 1e-5);
  EXPECT_NEAR(back.Z, local.Z, 1e-5);
  TFloatBasis3 c = b;
  EXPECT_TRUE(SameFloatBasis3(b, c));
  c.Axis3.Z = -4.0001f;
  EXPECT_FALSE(SameFloatBasis3(b, c));
}
