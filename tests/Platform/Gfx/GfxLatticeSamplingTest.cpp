#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "Platform/Gfx/GfxSampler.h"
#include "Platform/Gfx/GfxShaderAbi.h"

namespace gfxlatticetest {

using namespace plat::gfx;

// Texels with the rows padded, so a read past a row's end would show.
struct Plane {
  std::vector<std::uint8_t> bits;
  TTextureView view;
  Plane(std::uint32_t w, std::uint32_t h, Format f, std::mt19937& rng) {
    const std::uint32_t bpp = f == Format::L8 ? 1 : 4;
    const std::int32_t pitch = static_cast<std::int32_t>(w * bpp + 3);
    // Exactly the texels of the last row: nothing after it to read.
    bits.resize(static_cast<std::size_t>(pitch) * (h - 1) + w * bpp);
    for (auto& b : bits) b = static_cast<std::uint8_t>(rng());
    view.kind = TTextureKind::Texture2D;
    view.levelCount = 1;
    view.levels[0] = {bits.data(), pitch, w, h, f};
  }
};

struct Volume {
  std::vector<std::uint8_t> bits;
  TTextureView view;
  Volume(std::uint32_t w, std::uint32_t h, std::uint32_t d, Format f, std::mt19937& rng) {
    const std::int32_t row = static_cast<std::int32_t>(w * 4 + 8), slice = row * static_cast<std::int32_t>(h);
    bits.resize(static_cast<std::size_t>(slice) * d);
    for (auto& b : bits) b = static_cast<std::uint8_t>(rng());
    view.kind = TTextureKind::Volume;
    view.volume = {bits.data(), row, slice, w, h, d, f};
  }
};

SamplerSetup SamplerFor(TextureAddress a, TextureFilter f) {
  SamplerSetup s;
  s.addressU = s.addressV = s.addressW = a;
  s.magFilter = s.minFilter = f;
  return s;
}

// Coordinates over and past the edges, on texel centres now and then.
float Coordinate(std::mt19937& rng, std::uint32_t n) {
  std::uniform_real_distribution<float> d(-0.3f, 1.3f);
  if (rng() % 4 == 0) return (static_cast<float>(rng() % n) + 0.5f) / static_cast<float>(n);
  return d(rng);
}

constexpr TextureAddress kModes[] = {TextureAddress::Clamp, TextureAddress::Wrap, TextureAddress::Mirror,
                                     TextureAddress::MirrorOnce};

// Every channel of every format, rows through the last one, spans with one v
// (read by rows) and with many, and a column set used again for other u values.
TEST(GfxChannelSpan, MatchesSample2DTexelForTexel) {
  std::mt19937 rng(7);
  ChannelColumns columns;
  for (Format f : {Format::L8, Format::A8R8G8B8, Format::X8R8G8B8})
    for (std::uint32_t w : {1u, 3u, 17u})
      for (std::uint32_t h : {1u, 2u, 9u}) {
        Plane p(w, h, f, rng);
        for (TextureAddress mode : kModes)
          for (TextureFilter filter : {TextureFilter::Point, TextureFilter::Linear}) {
            const SamplerSetup s = SamplerFor(mode, filter);
            for (int round = 0; round < 6; ++round) {
              const std::size_t n = 1 + rng() % 64;
              std::vector<float> u(n), v(n);
              const bool row = round % 3 != 2;
              const float lastRow = (static_cast<float>(h) - 0.5f) / static_cast<float>(h);
              for (std::size_t i = 0; i < n; ++i) {
                u[i] = Coordinate(rng, w);
                v[i] = row ? (round == 0 ? lastRow : (i == 0 ? Coordinate(rng, h) : v[0])) : Coordinate(rng, h);
              }
              for (int shift : {0, 8, 16, 24}) {
                std::vector<std::uint8_t> out(n);
                Sample2DChannelSpan(p.view, s, u.data(), v.data(), n, shift, out.data(), columns);
                for (std::size_t i = 0; i < n; ++i)
                  ASSERT_EQ(out[i], static_cast<std::uint8_t>(Sample2D(p.view, s, u[i], v[i], 0.0f) >> shift))
                      << "format " << int(f) << " " << w << "x" << h << " shift " << shift << " u " << u[i] << " v "
                      << v[i];
              }
            }
          }
      }
}

// Nothing bound, a volume on a 2D sampler, a texture without levels: the
// bytes Tex2D's red channel gives for them, 0.
TEST(GfxChannelSpan, UnusableTexturesReadZero) {
  const float u[3] = {0.1f, 0.5f, 2.0f}, v[3] = {0.5f, 0.5f, 0.5f};
  std::uint8_t out[3] = {9, 9, 9};
  SamplerView none;
  Tex2DRedBytes(none, u, v, 3, out);
  EXPECT_EQ(out[0] | out[1] | out[2], 0);
  std::mt19937 rng(1);
  Volume vol(2, 2, 2, Format::A8R8G8B8, rng);
  SamplerView wrongKind{&vol.view, SamplerFor(TextureAddress::Clamp, TextureFilter::Linear)};
  std::fill_n(out, 3, 9);
  Tex2DRedBytes(wrongKind, u, v, 3, out);
  EXPECT_EQ(out[0] | out[1] | out[2], 0);
  TTextureView empty;
  empty.kind = TTextureKind::Texture2D;
  SamplerView noLevels{&empty, SamplerFor(TextureAddress::Clamp, TextureFilter::Linear)};
  std::fill_n(out, 3, 9);
  Tex2DRedBytes(noLevels, u, v, 3, out);
  EXPECT_EQ(out[0] | out[1] | out[2], 0);
}

// Odd sizes, every address mode, point and linear, A8 and X8, lattice
// coordinates off the volume's edges, and z taps handed in directly.
TEST(GfxVolumeLattice, MatchesSampleVolume) {
  std::mt19937 rng(3);
  struct Size {
    std::uint32_t w, h, d;
  };
  for (Size z : {Size{1, 1, 1}, Size{5, 3, 7}, Size{32, 32, 32}})
    for (Format f : {Format::A8R8G8B8, Format::X8R8G8B8}) {
      Volume vol(z.w, z.h, z.d, f, rng);
      for (TextureAddress mode : kModes)
        for (TextureFilter filter : {TextureFilter::Point, TextureFilter::Linear})
          for (float scale : {0.96875f, 1.4f}) {
            const float offset = scale > 1.0f ? -0.2f : 0.015625f;
            const SamplerSetup s = SamplerFor(mode, filter);
            VolumeLattice l;
            ASSERT_TRUE(PrepareVolumeLattice(vol.view, s, scale, offset, l));
            constexpr std::size_t n = 61;
            std::uint8_t x[n], y[n], zb[n];
            float zc[n];
            std::int32_t o0[n], o1[n];
            std::uint32_t wz[n], got[n], gotTaps[n];
            for (std::size_t i = 0; i < n; ++i) {
              x[i] = static_cast<std::uint8_t>(i < 3 ? 255 * i / 2 : rng());
              y[i] = static_cast<std::uint8_t>(rng());
              zb[i] = static_cast<std::uint8_t>(rng());
              zc[i] = std::uniform_real_distribution<float>(-0.5f, 1.5f)(rng);
              VolumeAxisTaps(l, 2, zc[i], o0[i], o1[i], wz[i]);
            }
            const VolumeZTaps taps{o0, o1, wz};
            SampleVolumeLattice(l, x, y, zb, nullptr, n, got);
            SampleVolumeLattice(l, x, y, nullptr, &taps, n, gotTaps);
            const auto at = [&](std::uint8_t b) { return static_cast<float>(b) / 255.0f * scale + offset; };
            for (std::size_t i = 0; i < n; ++i) {
              ASSERT_EQ(got[i], SampleVolume(vol.view, s, at(x[i]), at(y[i]), at(zb[i]))) << i;
              ASSERT_EQ(gotTaps[i], SampleVolume(vol.view, s, at(x[i]), at(y[i]), zc[i])) << i;
            }
          }
    }
}

// A lattice made for one volume answers for another only once made again,
// whatever changed: size, sampler or coordinates.
TEST(GfxVolumeLattice, FollowsTheVolumeItIsAskedFor) {
  std::mt19937 rng(5);
  Volume a(4, 4, 4, Format::A8R8G8B8, rng), b(6, 5, 3, Format::A8R8G8B8, rng);
  const SamplerSetup clamp = SamplerFor(TextureAddress::Clamp, TextureFilter::Linear);
  const SamplerSetup wrap = SamplerFor(TextureAddress::Wrap, TextureFilter::Linear);
  VolumeLattice l;
  const std::uint8_t x[1] = {250}, y[1] = {3}, z[1] = {128};
  std::uint32_t out[1];
  const auto c = [](std::uint8_t v, float scale) { return static_cast<float>(v) / 255.0f * scale; };
  struct Case {
    const Volume* vol;
    const SamplerSetup* s;
    float scale;
  };
  for (Case k : {Case{&a, &clamp, 1.0f}, Case{&b, &clamp, 1.0f}, Case{&b, &wrap, 1.0f}, Case{&b, &wrap, 1.1f},
                 Case{&a, &clamp, 1.0f}}) {
    ASSERT_TRUE(PrepareVolumeLattice(k.vol->view, *k.s, k.scale, 0.0f, l));
    SampleVolumeLattice(l, x, y, z, nullptr, 1, out);
    EXPECT_EQ(out[0], SampleVolume(k.vol->view, *k.s, c(x[0], k.scale), c(y[0], k.scale), c(z[0], k.scale)));
  }
}

// What the lattice cannot read is refused, and a refused lattice reads 0.
TEST(GfxVolumeLattice, RefusesUnusableVolumes) {
  std::mt19937 rng(9);
  const SamplerSetup s = SamplerFor(TextureAddress::Clamp, TextureFilter::Linear);
  VolumeLattice l;
  Volume good(2, 2, 2, Format::A8R8G8B8, rng);
  ASSERT_TRUE(PrepareVolumeLattice(good.view, s, 1.0f, 0.0f, l));
  TTextureView noBits = good.view;
  noBits.volume.bits = nullptr;
  TTextureView l8 = good.view;
  l8.volume.format = Format::L8;
  TTextureView flat = good.view;
  flat.volume.depth = 0;
  TTextureView shortRows = good.view;
  shortRows.volume.rowPitch = 4;
  TTextureView huge = good.view;
  huge.volume.slicePitch = 1 << 30;
  huge.volume.depth = 4;
  TTextureView plane;
  plane.kind = TTextureKind::Texture2D;
  for (const TTextureView* bad : {&noBits, &l8, &flat, &shortRows, &huge, &plane}) {
    EXPECT_FALSE(PrepareVolumeLattice(*bad, s, 1.0f, 0.0f, l));
    EXPECT_FALSE(l.direct);
  }
  const std::uint8_t b[1] = {7};
  std::uint32_t out[1] = {1};
  SampleVolumeLattice(l, b, b, b, nullptr, 1, out);
  EXPECT_EQ(out[0], 0u);
}

// Threads reading different planes at once each keep their own columns.
TEST(GfxChannelSpan, ThreadsReadTheirOwnPlanes) {
  std::mt19937 rng(11);
  std::vector<Plane> planes;
  for (std::uint32_t w : {15u, 16u, 33u, 64u}) planes.emplace_back(w, 5, Format::L8, rng);
  std::vector<int> wrong(planes.size(), 0);
  std::vector<std::thread> threads;
  for (std::size_t k = 0; k < planes.size(); ++k)
    threads.emplace_back([&, k] {
      const SamplerSetup s = SamplerFor(TextureAddress::Clamp, TextureFilter::Linear);
      const SamplerView view{&planes[k].view, s};
      float u[64], v[64];
      std::uint8_t out[64];
      for (int round = 0; round < 300; ++round) {
        for (int i = 0; i < 64; ++i) {
          u[i] = static_cast<float>(i) / 64.0f;  // the same u for every plane and thread
          v[i] = static_cast<float>(round % 5) / 5.0f;
        }
        Tex2DRedBytes(view, u, v, 64, out);
        for (int i = 0; i < 64; ++i)
          if (out[i] != static_cast<std::uint8_t>(Sample2D(planes[k].view, s, u[i], v[i], 0.0f) >> 16)) ++wrong[k];
      }
    });
  for (auto& t : threads) t.join();
  for (int w : wrong) EXPECT_EQ(w, 0);
}

void Black(const ShaderEnv&, const ShaderVaryings& in, Float4* out) {
  for (int i = 0; i < in.count; ++i) out[i] = Float4{0, 0, 0, 1};
}
void BlackPacked(const ShaderEnv&, const ShaderVaryings& in, std::uint32_t* out) {
  for (int i = 0; i < in.count; ++i) out[i] = 0xFF000000u;
}
void WhitePacked(const ShaderEnv&, const ShaderVaryings& in, std::uint32_t* out) {
  for (int i = 0; i < in.count; ++i) out[i] = 0xFFFFFFFFu;
}

// A packed form belongs to a registered shader, once: unknown names, no
// function and a second, different form are refused.
TEST(GfxPackedShaders, BelongToOneRegisteredShader) {
  ASSERT_TRUE(RegisterPixelShader(ShaderInfo{"lattice_test_black", {}, {}, &Black}));
  const ShaderInfo* info = FindPixelShader("lattice_test_black");
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(FindPackedPixelShader(info), nullptr);
  EXPECT_FALSE(RegisterPackedPixelShader("lattice_test_unknown", &BlackPacked));
  EXPECT_FALSE(RegisterPackedPixelShader("lattice_test_black", nullptr));
  EXPECT_TRUE(RegisterPackedPixelShader("lattice_test_black", &BlackPacked));
  EXPECT_TRUE(RegisterPackedPixelShader("lattice_test_black", &BlackPacked));
  EXPECT_FALSE(RegisterPackedPixelShader("lattice_test_black", &WhitePacked));
  EXPECT_EQ(FindPackedPixelShader(info), &BlackPacked);
  EXPECT_EQ(FindPackedPixelShader(nullptr), nullptr);
}

}  // namespace gfxlatticetest
