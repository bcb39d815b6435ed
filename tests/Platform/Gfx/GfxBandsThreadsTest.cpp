// Draws shared out over the workers (triangle set-up in chunks, bands of
// rows) must give the pixels one thread gives, wherever the pieces meet.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "Platform/Gfx/GfxRaster.h"
#include "Platform/Gfx/GfxWorkers.h"
#include "tests/Platform/Gfx/GfxTestScene.h"

namespace plat::gfx::test {
namespace {

struct ThreadCountGuard {
  GfxWorkers& w = GfxWorkers::Instance();
  std::uint32_t saved = w.ThreadCount();
  ~ThreadCountGuard() { w.SetThreadCount(saved); }
};

// Overlapping half-transparent triangles (blended in order), with slivers
// that vanish when snapped, triangles wholly off the target and ones of
// alpha 0 (dropped from the draw) strewn through the list. unitRhw keeps
// every triangle on the row-merged path; badAt puts one that leaves it
// there.
std::vector<TlVertex> Crowd(unsigned seed, std::size_t triangles, bool unitRhw, std::size_t badAt) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> pos(-30, 250), uv(-1, 2), rhw(0.3f, 1.7f);
  std::vector<TlVertex> v;
  for (std::size_t t = 0; t < triangles; ++t) {
    std::uint32_t colour = static_cast<std::uint32_t>(rng()) | 0x40000000u;
    if (t % 17 == 5) colour &= 0x00FFFFFFu;
    for (int k = 0; k < 3; ++k) {
      const float w = unitRhw && t != badAt ? 1.0f : rhw(rng);
      v.push_back({pos(rng), pos(rng) * 0.7f, 0, w, colour, uv(rng), uv(rng)});
    }
    if (t % 23 == 7) v[v.size() - 1] = v[v.size() - 2];          // no area
    if (t % 29 == 3)
      for (int k = 1; k <= 3; ++k) v[v.size() - k].x += 1000;  // off the target
  }
  return v;
}

std::vector<std::uint32_t> DrawCrowd(const std::vector<TlVertex>& v, std::size_t perDraw) {
  Image tex(37, 23);
  std::mt19937 rng(5);
  for (auto& p : tex.pixels) p = rng();
  Image dst(241, 173, 0xFF304050u);
  Scene s(dst);
  s.Texture(tex);
  s.SourceOver();
  for (std::size_t i = 0; i < v.size(); i += perDraw * 3)
    s.Draw(std::vector<TlVertex>(v.begin() + static_cast<std::ptrdiff_t>(i),
                                 v.begin() + static_cast<std::ptrdiff_t>(std::min(v.size(), i + perDraw * 3))),
           kTlFvf);
  return dst.pixels;
}

TEST(GfxBandsThreads, ManyTrianglesSetUpOnTheWorkersKeepTheirOrder) {
  ThreadCountGuard guard;
  struct Case {
    bool unitRhw;
    std::size_t badAt;
  };
  for (const Case c : {Case{true, 100000}, Case{true, 377}, Case{false, 100000}}) {
    const std::vector<TlVertex> v = Crowd(c.badAt + (c.unitRhw ? 1 : 2), 420, c.unitRhw, c.badAt);
    guard.w.SetThreadCount(1);
    const std::vector<std::uint32_t> one = DrawCrowd(v, 420);
    for (const std::uint32_t threads : {2u, 8u}) {
      guard.w.SetThreadCount(threads);
      EXPECT_EQ(DrawCrowd(v, 420), one) << "threads " << threads << " unit rhw " << c.unitRhw << " bad at " << c.badAt;
    }
    // Drawn a few at a time the set-up stays on the caller: same pixels,
    // unless the odd triangle sends only its own piece off the merged rows.
    if (c.badAt > 420) EXPECT_EQ(DrawCrowd(v, 40), one) << "unit rhw " << c.unitRhw;
  }
}

// Thin and short draws on either side of the inline limit: a column one
// pixel wide down the whole target, a row one pixel high, heights that end
// one row before, on and after a band's edge (large bands and the small
// ones at a draw's end), and fewer bands than threads.
// Each pixel covered is blended exactly once.
TEST(GfxBandsThreads, BandsMeetWithoutGapOrOverlapOnAnyThreadCount) {
  ThreadCountGuard guard;
  const std::uint32_t kBase = 0xFF000000u, kHalfWhite = 0x80FFFFFFu;
  struct Box {
    float x0, y0, x1, y1;
  };
  const Box boxes[] = {{10, 0, 11, 1000},   {0, 500, 300, 501},   {20, 3, 300, 34},     {20, 40, 300, 72},
                       {20, 80, 300, 113},  {170, 120, 171, 122}, {20, 130, 300, 131},  {200, 140, 203, 997},
                       {20, 140, 150, 205}, {20, 210, 150, 307},  {20, 310, 150, 375}};
  Image one;
  for (const std::uint32_t threads : {1u, 2u, 3u, 8u}) {
    guard.w.SetThreadCount(threads);
    Image dst(300, 1000, kBase);
    Scene s(dst);
    s.SourceOver();
    for (const Box& b : boxes) s.Draw(Quad(b.x0 - 0.5f, b.y0 - 0.5f, b.x1 - 0.5f, b.y1 - 0.5f, kHalfWhite), kTlFvf);
    if (threads == 1) {
      one = dst;
      const std::uint32_t once = one.At(10, 0);
      ASSERT_NE(once, kBase);
      for (const Box& b : boxes)
        for (std::uint32_t y = static_cast<std::uint32_t>(b.y0); y < static_cast<std::uint32_t>(b.y1); ++y)
          for (std::uint32_t x = static_cast<std::uint32_t>(b.x0); x < static_cast<std::uint32_t>(b.x1); ++x)
            if (!(x == 10 && y == 500) && !(x >= 200 && x < 203 && y == 500))
              ASSERT_EQ(one.At(x, y), once) << x << "," << y;
      EXPECT_EQ(one.At(11, 999), kBase);
      EXPECT_EQ(one.At(10, 999), once);
    } else {
      EXPECT_EQ(dst.pixels, one.pixels) << "threads " << threads;
    }
  }
}

// Rows wide enough that their texel columns are made in ranges on the
// workers: drawn 1:1 (read in place), scaled (one weight for all), point
// sampled, and wrapping inside one range; each as the per-pixel path draws
// it.
TEST(GfxBandsThreads, WideRowsMadeInRangesEqualThePerPixelPath) {
  ThreadCountGuard guard;
  Image tex(1024, 9);
  std::mt19937 rng(11);
  for (auto& p : tex.pixels) p = rng() | 0xFF000000u;
  struct Case {
    float x1, u0, u1;
    std::uint32_t filter, address;
  };
  const std::uint64_t before = GfxFastPathCount();
  const float seam = 0.375f;  // wraps at pixel 640
  for (const Case c : {Case{1024, 0, 1, 2, 3}, Case{1024, 0, 0.5f, 2, 3}, Case{1024, 0, 1, 1, 3},
                       Case{1024, 0, 1.7f, 1, 1}, Case{950, 0, 1, 2, 1}, Case{1024, seam, seam + 1, 2, 1},
                       Case{1024, seam, seam + 1, 1, 1}}) {
    std::vector<std::uint32_t> want;
    for (const std::uint32_t threads : {1u, 2u, 8u})
      for (const bool fast : {false, true}) {
        guard.w.SetThreadCount(threads);
        SetGfxFastPathEnabled(fast);
        Image dst(1024, 9, 0xFF000000u);
        Scene s(dst);
        s.Texture(tex);
        s.Filter(c.filter);
        s.Address(c.address);
        s.Draw(Quad(-0.5f, -0.5f, c.x1 - 0.5f, 8.5f, 0xFFFFFFFFu, c.u0, 0, c.u1, 1), kTlFvf);
        SetGfxFastPathEnabled(true);
        if (want.empty())
          want = dst.pixels;
        else
          EXPECT_EQ(dst.pixels, want) << "u1 " << c.u1 << " filter " << c.filter << " threads " << threads;
      }
  }
  EXPECT_GE(GfxFastPathCount() - before, 7u);
}

}  // namespace
}  // namespace plat::gfx::test
