#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "OruLib2/3DEngine/OruShaders.h"
#include "Platform/Gfx/GfxShaderAbi.h"

namespace videoshaderspantest {

namespace gfx = plat::gfx;
using gfx::Float4;
using gfx::Format;
using gfx::TTextureKind;
using gfx::TTextureView;

struct Plane {
  std::vector<std::uint8_t> bits;
  TTextureView view;
  Plane(std::uint32_t w, std::uint32_t h, Format f, std::mt19937& rng) {
    const std::uint32_t bpp = f == Format::L8 ? 1 : 4;
    bits.resize(std::size_t(w) * bpp * h);
    for (auto& b : bits) b = std::uint8_t(rng());
    view.kind = TTextureKind::Texture2D;
    view.levelCount = 1;
    view.levels[0] = {bits.data(), std::int32_t(w * bpp), w, h, f};
  }
};

struct Volume {
  std::vector<std::uint8_t> bits;
  TTextureView view;
  Volume(std::uint32_t n, Format f, std::mt19937& rng) {
    bits.resize(std::size_t(n) * n * n * 4);
    for (auto& b : bits) b = std::uint8_t(rng());
    view.kind = TTextureKind::Volume;
    view.volume = {bits.data(), std::int32_t(n * 4), std::int32_t(n * n * 4), n, n, n, f};
  }
};

gfx::SamplerSetup Clamped(gfx::TextureFilter f = gfx::TextureFilter::Linear) {
  gfx::SamplerSetup s;
  s.addressU = s.addressV = s.addressW = gfx::TextureAddress::Clamp;
  s.magFilter = s.minFilter = f;
  return s;
}

// The video shaders written pixel by pixel, straight from their definition.
Float4 Reference(const gfx::ShaderEnv& e, float u, float v, float alpha, bool deinterlace, bool key) {
  const auto red = [&](int k, float x, float y) { return gfx::Tex2D(*e.s[k], x, y).r; };
  float y = red(0, u, v);
  if (deinterlace) {
    const float line = v * e.c[1].r + e.c[2].g;
    const float k = std::floor(line * 0.5f);
    const float l0 = red(0, u, (2.0f * k + 0.5f + e.c[2].r) * e.c[1].g);
    const float l1 = red(0, u, (2.0f * k + 2.5f + e.c[2].r) * e.c[1].g);
    y = l0 + (line - (2.0f * k + 0.5f)) * 0.5f * (l1 - l0);
  }
  const float cu = red(1, u, v), cv = red(2, u, v);
  const auto at = [](float c) { return c * 0.96875f + 0.015625f; };
  const Float4 a = gfx::Tex3D(*e.s[3], at(cv), at(cu), at(y)), b = gfx::Tex3D(*e.s[4], at(cv), at(cu), at(y));
  const float t = e.c[0].r;
  Float4 r{a.r + t * (b.r - a.r), a.g + t * (b.g - a.g), a.b + t * (b.b - a.b), 0};
  if (key) {
    const float h = std::fabs((cu - e.c[4].r) + (cv - e.c[4].g)) * 0.5f;
    if (!(h - e.c[3].r >= 0.0f)) alpha *= (h * e.c[3].g) * (h * e.c[3].g);
  }
  r.a = alpha;
  return r;
}

bool Within1(std::uint32_t a, std::uint32_t b) {
  for (int s = 0; s < 32; s += 8)
    if (std::abs(int(a >> s & 255) - int(b >> s & 255)) > 1) return false;
  return true;
}

struct Scene {
  std::vector<Plane> planes;  // Y, U, V
  Volume v1, v2;
  gfx::SamplerView s[gfx::kMaxSamplers];
  Float4 c[32];
  Scene(std::uint32_t w, std::uint32_t h, Format f, std::uint32_t volume, Format vf, std::mt19937& rng)
      : v1(volume, vf, rng), v2(volume, vf, rng) {
    planes.emplace_back(w, h, f, rng);
    planes.emplace_back((w + 1) / 2, (h + 1) / 2, f, rng);
    planes.emplace_back((w + 1) / 2, (h + 1) / 2, f, rng);
    for (int k = 0; k < 3; ++k) s[k] = {&planes[std::size_t(k)].view, Clamped()};
    s[3] = {&v1.view, Clamped()};
    s[4] = {&v2.view, Clamped()};
    c[1] = {float(h), 1.0f / float(h), 0, 0};
  }
};

// Compares a run of spans of every video shader, colour and packed form,
// with the reference; returns the pixels off by more than one step, or
// where the two forms differ at all.
int Mismatches(Scene& sc, std::mt19937& rng, int spans) {
  int bad = 0;
  gfx::ShaderEnv env;
  for (std::uint32_t k = 0; k < gfx::kMaxSamplers; ++k) env.s[k] = &sc.s[k];
  env.c = sc.c;
  const std::uint32_t w = sc.planes[0].view.levels[0].width;
  std::uniform_real_distribution<float> over(-0.2f, 1.2f), unit(0.0f, 1.0f);
  for (int name = 4; name < 8; ++name) {
    const bool deinterlace = name == 5 || name == 7, key = name == 6 || name == 7;
    const gfx::ShaderInfo* info = gfx::FindPixelShader(oru::ShaderName(name));
    const gfx::PackedPixelShaderFn packed = gfx::FindPackedPixelShader(info);
    if (info == nullptr || packed == nullptr) return -1;
    for (int r = 0; r < spans; ++r) {
      const int n = 1 + int(rng() % 64);
      float u[64], v[64], alpha[64];
      const bool row = r % 4 != 3;  // mostly spans along a row, as a drawn quad gives
      const float x0 = over(rng), step = (unit(rng) * 2.0f) / float(w), v0 = over(rng);
      for (int i = 0; i < n; ++i) {
        u[i] = row ? x0 + step * float(i) : over(rng);
        v[i] = row ? v0 : over(rng);
        alpha[i] = unit(rng);
      }
      gfx::ShaderVaryings in;
      in.count = n;
      in.t[0][0] = u;
      in.t[0][1] = v;
      for (int ch = 0; ch < 3; ++ch) in.v0[ch] = alpha;
      in.v0[3] = alpha;
      Float4 out[64];
      std::uint32_t direct[64];
      info->fn(env, in, out);
      packed(env, in, direct);
      for (int i = 0; i < n; ++i) {
        const std::uint32_t got = gfx::PackShaderColour(out[i]);
        if (direct[i] != got) ++bad;  // the packed form is the same colour exactly
        const std::uint32_t want = gfx::PackShaderColour(Reference(env, u[i], v[i], alpha[i], deinterlace, key));
        if (!Within1(got, want)) ++bad;
      }
    }
  }
  return bad;
}

class VideoShaderSpans : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(oru::RegisterShaders()); }
};

// Luminance and 32-bit planes of odd sizes, read past their edges, each
// deinterlace field, the key on and off, and the mix of the two volumes:
// off, partway, all the way, one volume twice, and a NaN t.
TEST_F(VideoShaderSpans, MatchThePixelByPixelShaders) {
  std::mt19937 rng(21);
  struct Case {
    std::uint32_t w, h;
    Format plane, volume;
    std::uint32_t side;
  };
  for (Case k : {Case{7, 5, Format::L8, Format::A8R8G8B8, 32}, Case{64, 3, Format::A8R8G8B8, Format::X8R8G8B8, 5},
                 Case{1, 1, Format::L8, Format::A8R8G8B8, 2}, Case{33, 18, Format::X8R8G8B8, Format::A8R8G8B8, 32}}) {
    Scene sc(k.w, k.h, k.plane, k.side, k.volume, rng);
    for (float t : {0.0f, 0.3f, 1.0f, std::numeric_limits<float>::quiet_NaN()})
      for (bool same : {false, true}) {
        sc.s[4].texture = same ? &sc.v1.view : &sc.v2.view;
        sc.c[0] = {t, 0, 0, 0};
        sc.c[2] = rng() % 2 ? Float4{0, 0, 0, 0} : Float4{1, -1, 0, 0};
        sc.c[3] = {0.2f, 5.0f, 0, 0};
        sc.c[4] = {0.5f, 0.45f, 0, 0};
        EXPECT_EQ(Mismatches(sc, rng, 40), 0) << k.w << "x" << k.h << " t " << t << " same " << same;
      }
  }
}

// Volumes the lattice cannot read (point sampled on one sampler, an
// unusable format, nothing bound) still give the shaders' results.
TEST_F(VideoShaderSpans, UnusualBindingsFallBackToTheSameResults) {
  std::mt19937 rng(5);
  Scene sc(9, 4, Format::L8, 4, Format::A8R8G8B8, rng);
  sc.c[0] = {0.5f, 0, 0, 0};
  sc.s[3].setup = Clamped(gfx::TextureFilter::Point);
  EXPECT_EQ(Mismatches(sc, rng, 20), 0);
  sc.v2.view.volume.format = Format::L8;
  EXPECT_EQ(Mismatches(sc, rng, 20), 0);
  sc.s[4].texture = nullptr;
  EXPECT_EQ(Mismatches(sc, rng, 20), 0);
  sc.s[1].texture = nullptr;
  EXPECT_EQ(Mismatches(sc, rng, 20), 0);
}

// Band threads draw at once with volumes of different sizes; each keeps its
// own lattices.
TEST_F(VideoShaderSpans, ThreadsWithTheirOwnVolumesAgree) {
  std::vector<int> bad(4, -2);
  std::vector<std::thread> threads;
  for (int k = 0; k < 4; ++k)
    threads.emplace_back([&bad, k] {
      std::mt19937 rng(std::uint32_t(100 + k));
      Scene sc(13 + std::uint32_t(k), 7, Format::L8, 3 + std::uint32_t(k) * 9, Format::A8R8G8B8, rng);
      sc.c[0] = {0.25f * float(k), 0, 0, 0};
      bad[std::size_t(k)] = Mismatches(sc, rng, 60);
    });
  for (auto& t : threads) t.join();
  for (int b : bad) EXPECT_EQ(b, 0);
}

}  // namespace videoshaderspantest
