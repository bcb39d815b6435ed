#include "ZmLib/Graphics/SysBilinearDrawer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "tests/ZmLib/Graphics/GraphicsTestUtil.h"

using namespace zm;
using zmtest::BitmapOf;
using zmtest::BytesOf;

namespace {

std::vector<std::uint8_t> Pattern(std::int32_t w, std::int32_t h, std::int32_t bpp, std::uint32_t seed = 1) {
  std::vector<std::uint8_t> b;
  std::mt19937 rng(seed);
  for (std::int32_t i = 0; i < w * h; ++i)
    for (std::int32_t c = 0; c < bpp; ++c) b.push_back(std::uint8_t(c == 3 ? (i % 3 == 0 ? 255 : rng() % 256) : rng() % 256));
  return b;
}

TRef<TSysBitmap> Filled(std::int32_t w, std::int32_t h, std::uint8_t v) {
  return BitmapOf(PF_R8G8B8, w, h, std::vector<std::uint8_t>(std::size_t(w * h * 3), v));
}

TDrawerMatrix Mat(float tx, float ty, float m2, float m3, float m4, float m5) { return {{tx, ty, m2, m3, m4, m5}}; }

// The same drawer with every cell an edge cell: what the inner procedures
// must reproduce.
class TEdgeOnlyDrawer : public TBilinearDrawer {
public:
  using TBilinearDrawer::TBilinearDrawer;
  bool Prepare() override {
    const bool ok = TBilinearDrawer::Prepare();
    InnerRect = OpaqueRect = TRect{};
    return ok;
  }
};

int CountKind(const TAffineDrawer& d, std::uint8_t kind) {
  int n = 0;
  for (const TDrawCellRow& r : d.CellRows())
    for (const TDrawCell& c : r.Cells) n += c.Kind == kind;
  return n;
}

}  // namespace

TEST(BilinearDrawer, IdentityCopiesA24BitSource) {
  const std::vector<std::uint8_t> pattern = Pattern(13, 11, 3);
  TRef<TSysBitmap> src = BitmapOf(PF_R8G8B8, 13, 11, pattern);
  TRef<TBilinearDrawer> d = MakeRef<TBilinearDrawer>(4, 4);
  d->SetSource(src.get(), false);
  d->SetTransform({0, 0, 13, 11}, TDrawerMatrix{});
  ASSERT_TRUE(d->Ready());
  TRef<TSysBitmap> dst = Filled(13, 11, 0);
  d->Draw(dst.get());
  EXPECT_EQ(BytesOf(*dst), pattern);
}

TEST(BilinearDrawer, RightEdgeBlendsWithItself) {
  // 2 x 1 doubled: the last two destination pixels sample the last source pixel with itself.
  TRef<TSysBitmap> src = BitmapOf(PF_R8G8B8, 2, 1, {0, 0, 0, 200, 100, 40});
  TRef<TBilinearDrawer> d = MakeRef<TBilinearDrawer>(8, 8);
  d->SetSource(src.get(), false);
  d->SetTransform({0, 0, 4, 1}, Mat(0, 0, 2, 0, 0, 1));
  TRef<TSysBitmap> dst = Filled(4, 1, 9);
  d->Draw(dst.get());
  EXPECT_EQ(BytesOf(*dst), (std::vector<std::uint8_t>{0, 0, 0, 50, 25, 10, 150, 75, 30, 200, 100, 40}));
}

TEST(BilinearDrawer, ZeroScaleDrawsNothingAndTheClipLimitsCells) {
  TRef<TSysBitmap> src = BitmapOf(PF_R8G8B8, 16, 16, Pattern(16, 16, 3));
  TRef<TBilinearDrawer> d = MakeRef<TBilinearDrawer>(4, 4);
  d->SetSource(src.get(), false);
  d->SetTransform({0, 0, 16, 16}, Mat(0, 0, 0, 0, 0, 1));
  EXPECT_FALSE(d->Ready());
  TRef<TSysBitmap> dst = Filled(16, 16, 7);
  d->Draw(dst.get());
  EXPECT_EQ(BytesOf(*dst), BytesOf(*Filled(16, 16, 7)));
  // A clip smaller than the picture: pixels only there.
  d->SetTransform({5, 3, 11, 9}, TDrawerMatrix{});
  d->Draw(dst.get());
  for (std::int32_t y = 0; y < 16; ++y)
    for (std::int32_t x = 0; x < 16; ++x)
      EXPECT_EQ(dst->Row24(y)[x], (x >= 5 && x < 11 && y >= 3 && y < 9 ? src->Row24(y)[x] : TColor24{7, 7, 7}));
}

TEST(BilinearDrawer, Misuse) {
  TRef<TBilinearDrawer> d = MakeRef<TBilinearDrawer>(8, 8);
  TRef<TSysBitmap> y8 = BitmapOf(PF_Y8, 2, 2, {});
  EXPECT_TRUE(zmtest::Contains(zmtest::AssertionOf([&] { d->SetSource(y8.get(), false); }), "Unsupported PixelFormat"));
  EXPECT_TRUE(zmtest::Contains(zmtest::AssertionOf([&] { d->SetTransform({-1, 0, 5, 5}, TDrawerMatrix{}); }),
                               "TAffineDrawer.SetTransform"));
  EXPECT_THROW(MakeRef<TBilinearDrawer>(0, 8), EAbort);
  TRef<TSysBitmap> src = Filled(4, 4, 1);
  d->SetSource(src.get(), false);
  d->SetOpacity(0);
  d->SetTransform({0, 0, 8, 8}, TDrawerMatrix{});
  EXPECT_FALSE(d->Ready());  // opacity 0 draws nothing
  d->SetOpacity(255);
  d->SetTransform({0, 0, 8, 8}, TDrawerMatrix{});
  TRef<TSysBitmap> small = Filled(7, 8, 0);
  EXPECT_TRUE(zmtest::Contains(zmtest::AssertionOf([&] { d->Draw(small.get()); }),
                               "TAffineDrawer.Draw: Destination smaller than ClipRect"));
  // An owned source goes with the drawer; replacing it frees the old one (or the leak check fails).
  d->SetSource(Filled(3, 3, 2).Detach(), true);
  d->SetSource(Filled(3, 3, 2).Detach(), true);
  // Transforms that would need endless cells make none.
  d->SetTransform({0, 0, 2147483647, 2147483647}, Mat(0, 0, 1e6f, 0, 0, 1e6f));
  EXPECT_FALSE(d->Ready());
}

TEST(BilinearDrawer, InnerCellsMatchEdgeCellsUnderAnyTransform) {
  // Rotations, shears and scales: the inner procedures sample without tests,
  // so they must give what the tested procedures give, and never read
  // outside the source (checked by the address sanitizer).
  std::mt19937 rng(2024);
  std::uniform_real_distribution<float> angle(0, 6.2831853f), scale(0.3f, 3.5f), shear(-0.7f, 0.7f), off(-20, 40);
  int inner = 0;
  for (int round = 0; round < 300; ++round) {
    const std::int32_t sw = 1 + std::int32_t(rng() % 17), sh = 1 + std::int32_t(rng() % 13);
    const bool alpha = round % 2 == 1;
    TRef<TSysBitmap> src = BitmapOf(alpha ? PF_A8R8G8B8 : PF_R8G8B8, sw, sh, Pattern(sw, sh, alpha ? 4 : 3, round));
    const float a = angle(rng), s = scale(rng), k = shear(rng);
    const TDrawerMatrix m = Mat(off(rng), off(rng), s * std::cos(a), s * std::sin(a), -s * std::sin(a) + k,
                                s * std::cos(a) * (0.5f + float(rng() % 3) * 0.5f));
    const std::int32_t cw = 1 + std::int32_t(rng() % 9), ch = 1 + std::int32_t(rng() % 9);
    TRef<TBilinearDrawer> fast = MakeRef<TBilinearDrawer>(cw, ch);
    TRef<TEdgeOnlyDrawer> slow = MakeRef<TEdgeOnlyDrawer>(cw, ch);
    fast->SetSource(src.get(), false);
    slow->SetSource(src.get(), false);
    const TRect clip{std::int32_t(rng() % 5), std::int32_t(rng() % 5), 40 + std::int32_t(rng() % 10), 45};
    fast->SetTransform(clip, m);
    slow->SetTransform(clip, m);
    TRef<TSysBitmap> d1 = Filled(50, 45, 77), d2 = Filled(50, 45, 77);
    fast->Draw(d1.get());
    slow->Draw(d2.get());
    EXPECT_EQ(BytesOf(*d1), BytesOf(*d2)) << "round " << round;
    inner += CountKind(*fast, ckInner) + CountKind(*fast, ckOpaque);
  }
  EXPECT_GT(inner, 100);  // the fast cells were really used
}
