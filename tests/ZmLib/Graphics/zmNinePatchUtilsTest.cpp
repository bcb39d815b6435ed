#include <gtest/gtest.h>

#include <climits>

#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/Graphics/zmNinePatchUtils.h"
#include "tests/ZmLib/Graphics/GraphicsTestUtil.h"

using namespace zm;

namespace {

TRef<TSysBitmap> Argb(std::int32_t w, std::int32_t h, std::uint32_t fill = 0) {
  TRef<TSysBitmap> b = CreateSysBitmap(w, h, FindPixelFormat(PF_A8R8G8B8));
  for (std::int32_t y = 0; y < h; ++y)
    for (std::int32_t x = 0; x < w; ++x) b->Row32(y)[x] = fill;
  return b;
}

std::uint32_t At(TSysBitmap* b, std::int32_t x, std::int32_t y) { return b->Row32(y)[x]; }

}  // namespace

TEST(NinePatch, GridLines) {
  std::int32_t l[4];
  NinePatchLines(10, 30, 4, 6, l);
  EXPECT_EQ((std::vector<std::int32_t>{l, l + 4}), (std::vector<std::int32_t>{10, 14, 24, 30}));
  // Shorter than both margins: the inner lines meet at the middle.
  NinePatchLines(0, 5, 4, 4, l);
  EXPECT_EQ((std::vector<std::int32_t>{l, l + 4}), (std::vector<std::int32_t>{0, 2, 2, 5}));
  // The middle truncates toward zero, not down.
  NinePatchLines(-5, 0, 4, 4, l);
  EXPECT_EQ((std::vector<std::int32_t>{l, l + 4}), (std::vector<std::int32_t>{-5, -2, -2, 0}));
  // Extreme values neither overflow nor leave the span.
  NinePatchLines(0, 10, INT_MAX, INT_MAX, l);
  EXPECT_EQ((std::vector<std::int32_t>{l, l + 4}), (std::vector<std::int32_t>{0, 5, 5, 10}));
  NinePatchLines(INT_MIN, INT_MAX, INT_MAX, INT_MAX, l);
  EXPECT_EQ((std::vector<std::int32_t>{l, l + 4}), (std::vector<std::int32_t>{INT_MIN, -1, 0, INT_MAX}));
}

TEST(NinePatch, NarrowerThanMarginsAndOneToOneCells) {
  // Six columns: 2 left (red), 2 centre (varied), 2 right (blue and green).
  TRef<TSysBitmap> pic = Argb(6, 1);
  const std::uint32_t px[6] = {0xFFFF0000, 0xFF800000, 0xFF000001, 0xFF000002, 0xFF0000FF, 0xFF00FF00};
  for (int x = 0; x < 6; ++x) pic->Row32(0)[x] = px[x];
  TNinePatch patch;
  LoadNinePatch(patch, pic.get(), 2, 0, 2, 0);
  pic = nullptr;  // the patch keeps its own pixels
  EXPECT_EQ(patch.Flags & npUniformCenter, 0u);

  // Width 3: lines 0, 1, 1, 3; the empty middle column is skipped, the
  // 1-pixel left cell takes the source's left column, the right cell is as
  // wide as its source and copied pixel for pixel.
  TRef<TSysBitmap> t = Argb(4, 1);
  DrawNinePatch(t.get(), TRect{0, 0, 3, 1}, patch);
  EXPECT_EQ(At(t.get(), 0, 0), 0xFFFF0000u);
  EXPECT_EQ(At(t.get(), 1, 0), 0xFF0000FFu);
  EXPECT_EQ(At(t.get(), 2, 0), 0xFF00FF00u);
  EXPECT_EQ(At(t.get(), 3, 0), 0u);

  // A clip keeps everything else untouched.
  TRef<TSysBitmap> c = Argb(6, 1);
  DrawNinePatch(c.get(), TRect{0, 0, 6, 1}, TRect{1, 0, 5, 1}, patch);
  EXPECT_EQ(At(c.get(), 0, 0), 0u);
  EXPECT_EQ(At(c.get(), 1, 0), 0xFF800000u);
  EXPECT_EQ(At(c.get(), 4, 0), 0xFF0000FFu);
  EXPECT_EQ(At(c.get(), 5, 0), 0u);
}

TEST(NinePatch, BilinearStretchExactValues) {
  TRef<TSysBitmap> pic = Argb(2, 1);
  pic->Row32(0)[0] = 0xFF000000;
  pic->Row32(0)[1] = 0xFF0000FF;
  TNinePatch patch;
  LoadNinePatch(patch, pic.get(), 0, 0, 0, 0);
  TRef<TSysBitmap> t = Argb(4, 2);
  DrawNinePatch(t.get(), TRect{0, 0, 4, 2}, patch);
  // t = i/3: weights nearest(frac * 65536 - 0.5) = 0, 21845, 43690 and the
  // last column on the source's last pixel; divisions truncate.
  const std::uint32_t blue[4] = {0, 84, 169, 255};
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(At(t.get(), x, y), 0xFF000000u | blue[x]) << x << "," << y;

  // A target reaching far outside the picture only writes what is inside.
  TRef<TSysBitmap> small = Argb(3, 3);
  DrawNinePatch(small.get(), TRect{-1000000, -5, 1000000, 10}, patch);
  EXPECT_EQ(At(small.get(), 2, 2) >> 24, 0xFFu);
}

TEST(NinePatch, UniformCentreFill) {
  // 3 x 3 with margins 1: the centre pixel alone decides the flag.
  auto make = [](std::uint32_t centre) {
    TRef<TSysBitmap> pic = Argb(3, 3, 0xFF112233);
    pic->Row32(1)[1] = centre;
    TNinePatch p;
    LoadNinePatch(p, pic.get(), 1, 1, 1, 1);
    return p;
  };
  TNinePatch clear = make(0x00FFFFFF);
  ASSERT_NE(clear.Flags & npUniformCenter, 0u);
  TRef<TSysBitmap> t = Argb(6, 6, 0xFF445566);
  DrawNinePatch(t.get(), TRect{0, 0, 6, 6}, clear);
  EXPECT_EQ(At(t.get(), 2, 2), 0xFF445566u);  // alpha 0: the centre is left alone
  EXPECT_EQ(At(t.get(), 0, 0), 0xFF112233u);
  EXPECT_EQ(At(t.get(), 5, 3), 0xFF112233u);  // stretched edge

  TNinePatch opaque = make(0xFF00FF00);
  DrawNinePatch(t.get(), TRect{0, 0, 6, 6}, opaque);
  for (int y = 1; y < 5; ++y)
    for (int x = 1; x < 5; ++x) ASSERT_EQ(At(t.get(), x, y), 0xFF00FF00u) << x << "," << y;

  TNinePatch half = make(0x80FFFFFF);
  TRef<TSysBitmap> h = Argb(4, 4, 0xFF000000);
  DrawNinePatch(h.get(), TRect{0, 0, 4, 4}, half);
  EXPECT_EQ(At(h.get(), 1, 1), 0xFF7F7F7Fu);  // 0 + 255 * 128 >> 8
}

TEST(NinePatch, EmptyDamagedAndForeignPictures) {
  TNinePatch p;
  LoadNinePatch(p, nullptr, 1, 1, 1, 1);
  EXPECT_TRUE(p.IsEmpty());
  TRef<TSysBitmap> t = Argb(4, 4, 0x12345678);
  DrawNinePatch(t.get(), TRect{0, 0, 4, 4}, p);  // nothing
  EXPECT_EQ(At(t.get(), 1, 1), 0x12345678u);

  TRef<TSysBitmap> pic = Argb(4, 4, 0xFFFFFFFF);
  LoadNinePatchCell(p, pic.get(), TRect{10, 10, 20, 20}, 0, 0, 0, 0);
  EXPECT_TRUE(p.IsEmpty());
  LoadNinePatchCell(p, pic.get(), TRect{2, 2, 9, 9}, -3, -3, 100, 100);  // cut to the picture
  ASSERT_FALSE(p.IsEmpty());
  EXPECT_EQ(p.Rect, (TRect{0, 0, 2, 2}));
  EXPECT_EQ(p.Flags & npUniformCenter, 0u);  // margins leave no centre cell to test
  DrawNinePatch(t.get(), TRect{4, 4, 0, 0}, p);  // inverted: nothing
  DrawNinePatch(t.get(), TRect{0, 0, 4, 4}, TRect{5, 5, 9, 9}, p);  // clip outside the target
  EXPECT_EQ(At(t.get(), 3, 3), 0x12345678u);
  DrawNinePatch(t.get(), TRect{0, 0, 4, 4}, p);
  EXPECT_EQ(At(t.get(), 3, 3), 0xFFFFFFFFu);

  // A 24-bit picture is converted and loads opaque.
  TRef<TSysBitmap> rgb = CreateSysBitmap(2, 2, FindPixelFormat(PF_R8G8B8));
  for (int y = 0; y < 2; ++y)
    for (int i = 0; i < 6; ++i) rgb->ScanLine(y)[i] = 0x40;
  LoadNinePatch(p, rgb.get(), 0, 0, 0, 0);
  ASSERT_FALSE(p.IsEmpty());
  EXPECT_EQ(At(p.Picture.get(), 1, 1), 0xFF404040u);

  // Only 32-bit targets.
  EXPECT_TRUE(zmtest::Contains(zmtest::AssertionOf([&] { DrawNinePatch(rgb.get(), TRect{0, 0, 2, 2}, p); }),
                               "A8R8G8B8"));
  EXPECT_TRUE(zmtest::Contains(zmtest::AssertionOf([&] { DrawNinePatch(nullptr, TRect{0, 0, 2, 2}, p); }),
                               "A8R8G8B8"));
}
