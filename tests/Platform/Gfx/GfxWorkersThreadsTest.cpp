// Several threads drawing at once share the band workers: each frame must come
// out as it does when drawn alone.
#include <gtest/gtest.h>

#include <random>
#include <thread>
#include <vector>

#include "Platform/Gfx/GfxWorkers.h"
#include "tests/Platform/Gfx/GfxTestScene.h"

namespace plat::gfx::test {
namespace {

// Large enough that its bands go to the workers.
std::vector<std::uint32_t> DrawFrame(unsigned seed) {
  Image tex(64, 48);
  std::mt19937 rng(seed);
  for (auto& p : tex.pixels) p = rng();
  Image dst(400, 300, 0xFF102030u);
  Scene s(dst);
  s.Texture(tex);
  s.SourceOver();
  s.Draw(Quad(-0.5f, -0.5f, 399.5f, 299.5f, 0xB0FFFFFFu, -0.2f, 0.3f, 1.7f, 2.1f), kTlFvf);
  std::uniform_real_distribution<float> pos(-40, 440), uv(-1, 2);
  std::vector<TlVertex> v;
  for (int k = 0; k < 90; ++k)
    v.push_back({pos(rng), pos(rng) * 0.75f, 0, 1, static_cast<std::uint32_t>(rng()), uv(rng), uv(rng)});
  s.Draw(v, kTlFvf);
  return dst.pixels;
}

TEST(GfxWorkersThreads, ConcurrentCallersGetTheFramesTheyDrawAlone) {
  GfxWorkers& w = GfxWorkers::Instance();
  const std::uint32_t saved = w.ThreadCount();
  w.SetThreadCount(4);
  constexpr unsigned kCallers = 4;
  std::vector<std::vector<std::uint32_t>> alone;
  for (unsigned c = 0; c < kCallers; ++c) alone.push_back(DrawFrame(c + 1));
  std::vector<int> mismatches(kCallers, 0);
  std::vector<std::thread> threads;
  for (unsigned c = 0; c < kCallers; ++c)
    threads.emplace_back([&, c] {
      for (int round = 0; round < 3; ++round)
        if (DrawFrame(c + 1) != alone[c]) ++mismatches[c];
    });
  for (auto& t : threads) t.join();
  w.SetThreadCount(saved);
  for (unsigned c = 0; c < kCallers; ++c) EXPECT_EQ(mismatches[c], 0) << "caller " << c;
}

}  // namespace
}  // namespace plat::gfx::test
