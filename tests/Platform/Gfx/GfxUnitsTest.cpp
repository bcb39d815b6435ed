// Formats, sampler, combiner, blend unit and workers on their own.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <thread>

#include "Platform/Gfx/GfxCombine.h"
#include "Platform/Gfx/GfxPixels.h"
#include "Platform/Gfx/GfxSampler.h"
#include "Platform/Gfx/GfxVertex.h"
#include "Platform/Gfx/GfxWorkers.h"
#include "tests/Platform/Gfx/GfxTestScene.h"

namespace plat::gfx::test {
namespace {

TEST(GfxPixels, DecodeAndEncode) {
  const std::uint8_t x8[4] = {0x10, 0x20, 0x30, 0x00};
  EXPECT_EQ(DecodePixel(Format::X8R8G8B8, x8), 0xFF302010u);  // alpha reads 1
  std::uint8_t out[4] = {};
  EncodePixel(Format::X8R8G8B8, out, 0x12345678u);
  EXPECT_EQ(out[3], 0xFF);  // alpha writes are dropped
  const std::uint8_t l8 = 0x5A;
  EXPECT_EQ(DecodePixel(Format::L8, &l8), 0xFF5A5A5Au);
  EXPECT_EQ(DecodePixel(Format::A8, &l8), 0x5A000000u);
  // R5G6B5 expands by repeating the top bits: full scale stays full scale.
  const std::uint16_t white = 0xFFFF, mixed = (0x10 << 11) | (0x21 << 5) | 0x01;
  EXPECT_EQ(DecodePixel(Format::R5G6B5, reinterpret_cast<const std::uint8_t*>(&white)), 0xFFFFFFFFu);
  EXPECT_EQ(DecodePixel(Format::R5G6B5, reinterpret_cast<const std::uint8_t*>(&mixed)), 0xFF848608u);
  const std::uint16_t a1 = 0x7C00;
  EXPECT_EQ(DecodePixel(Format::A1R5G5B5, reinterpret_cast<const std::uint8_t*>(&a1)), 0x00FF0000u);
  EXPECT_EQ(DecodePixel(Format::X1R5G5B5, reinterpret_cast<const std::uint8_t*>(&a1)), 0xFFFF0000u);
  // Every 5/6-bit level and every grey survive a round trip.
  for (std::uint32_t v = 0; v < 65536; ++v) {
    const std::uint16_t p = static_cast<std::uint16_t>(v);
    std::uint16_t back = 0;
    EncodePixel(Format::R5G6B5, reinterpret_cast<std::uint8_t*>(&back),
                DecodePixel(Format::R5G6B5, reinterpret_cast<const std::uint8_t*>(&p)));
    ASSERT_EQ(back, p);
  }
  for (std::uint32_t g = 0; g < 256; ++g) {
    std::uint8_t l = 0;
    EncodePixel(Format::L8, &l, 0xFF000000u | g * 0x010101u);
    ASSERT_EQ(l, g);
  }
  // Unknown and depth formats have no colour and are never written.
  std::uint8_t d[4] = {1, 2, 3, 4};
  EXPECT_EQ(DecodePixel(Format::D16, d), 0u);
  EncodePixel(static_cast<Format>(999), d, 0xFFFFFFFFu);
  EXPECT_EQ(d[0], 1);
  EXPECT_EQ(FindPixelFormat(static_cast<Format>(999)), nullptr);
  ASSERT_NE(FindPixelFormat(Format::D24X8), nullptr);
  EXPECT_FALSE(FindPixelFormat(Format::D24X8)->texture);
  EXPECT_TRUE(FindPixelFormat(Format::X8R8G8B8)->renderTarget);
  EXPECT_FALSE(FindPixelFormat(Format::L8)->renderTarget);
}

TEST(GfxSampler, BilinearTapsAtCentresAndEdgesPerAddressMode) {
  Image tex(4, 1);
  tex.pixels = {0xFF000000u, 0xFF404040u, 0xFF808080u, 0xFFC0C0C0u};
  const TSurfaceView l = tex.View();
  const auto t = [&](int i) { return tex.pixels[static_cast<std::size_t>(i)]; };
  struct Case {
    double u;
    std::uint32_t wrap, mirror, clamp;
  };
  const Case cases[] = {
      {0.125, t(0), t(0), t(0)},                                   // texel centres are exact
      {0.625, t(2), t(2), t(2)},
      {0.0, LerpArgb(t(3), t(0), 128), t(0), t(0)},                 // left edge: half of texel -1
      {1.0, LerpArgb(t(3), t(0), 128), t(3), t(3)},                 // right edge: half of texel 4
      {1.125, t(0), t(3), t(3)},                                   // centre of texel 4
      {-0.375, t(2), t(1), t(0)},                                  // centre of texel -2
      {0.25, LerpArgb(t(0), t(1), 128), LerpArgb(t(0), t(1), 128), LerpArgb(t(0), t(1), 128)},
  };
  for (const Case& c : cases) {
    SamplerSetup s;
    s.magFilter = s.minFilter = TextureFilter::Linear;
    s.addressU = s.addressV = TextureAddress::Wrap;
    EXPECT_EQ(SampleLevel(l, s, true, c.u, 0.5), c.wrap) << "wrap " << c.u;
    s.addressU = TextureAddress::Mirror;
    EXPECT_EQ(SampleLevel(l, s, true, c.u, 0.5), c.mirror) << "mirror " << c.u;
    s.addressU = TextureAddress::Clamp;
    EXPECT_EQ(SampleLevel(l, s, true, c.u, 0.5), c.clamp) << "clamp " << c.u;
  }
  // NaN and huge coordinates land on some texel, in every mode.
  for (double u : {std::nan(""), 1e300, -1e300, std::numeric_limits<double>::infinity()})
    for (auto mode : {TextureAddress::Wrap, TextureAddress::Mirror, TextureAddress::Clamp}) {
      SamplerSetup s;
      s.addressU = s.addressV = mode;
      const std::uint32_t v = SampleLevel(l, s, true, u, u);
      EXPECT_EQ(v >> 24, 0xFFu);
    }
}

TEST(GfxSampler, MipSelection) {
  Image l0(8, 8, 0xFF0000FFu), l1(4, 4, 0xFF00FF00u), l2(2, 2, 0xFFFF0000u);
  TTextureView tex;
  tex.kind = TTextureKind::Texture2D;
  tex.levelCount = 3;
  tex.levels[0] = l0.View();
  tex.levels[1] = l1.View();
  tex.levels[2] = l2.View();
  SamplerSetup s;
  s.magFilter = s.minFilter = TextureFilter::Linear;
  s.mipFilter = TextureFilter::Point;
  EXPECT_TRUE(SamplerNeedsLod(tex, s));
  EXPECT_EQ(Sample2D(tex, s, 0.5, 0.5, -1.0f), l0.pixels[0]);
  EXPECT_EQ(Sample2D(tex, s, 0.5, 0.5, 1.0f), l1.pixels[0]);
  EXPECT_EQ(Sample2D(tex, s, 0.5, 0.5, 9.0f), l2.pixels[0]);
  EXPECT_EQ(Sample2D(tex, s, 0.5, 0.5, std::nanf("")), l0.pixels[0]);
  s.mipFilter = TextureFilter::Linear;
  EXPECT_EQ(Sample2D(tex, s, 0.5, 0.5, 1.5f), LerpArgb(l1.pixels[0], l2.pixels[0], 128));
  s.lodBias = 1.0f;
  EXPECT_EQ(Sample2D(tex, s, 0.5, 0.5, 0.5f), LerpArgb(l1.pixels[0], l2.pixels[0], 128));
  s.mipFilter = TextureFilter::None;
  EXPECT_EQ(Sample2D(tex, s, 0.5, 0.5, 5.0f), l0.pixels[0]);
}

TEST(GfxSampler, VolumeTrilinear) {
  constexpr std::uint32_t n = kVolumeSize;
  std::vector<std::uint32_t> cube(n * n * n);
  for (std::uint32_t z = 0; z < n; ++z)
    for (std::uint32_t y = 0; y < n; ++y)
      for (std::uint32_t x = 0; x < n; ++x) cube[(z * n + y) * n + x] = 0xFF000000u | (x * 8) << 16 | (y * 8) << 8 | z * 8;
  TTextureView tex;
  tex.kind = TTextureKind::Volume;
  tex.volume = TVolumeView{reinterpret_cast<const std::uint8_t*>(cube.data()), static_cast<std::int32_t>(n * 4),
                           static_cast<std::int32_t>(n * n * 4), n, n, n, Format::A8R8G8B8};
  SamplerSetup s;
  s.magFilter = s.minFilter = TextureFilter::Linear;
  s.addressU = s.addressV = s.addressW = TextureAddress::Clamp;
  // Lattice points return the entry exactly.
  for (std::uint32_t i : {0u, 5u, 17u, 31u}) {
    const double c = (i + 0.5) / n, d = (31 - i + 0.5) / n;
    EXPECT_EQ(SampleVolume(tex, s, c, d, c), cube[(i * n + (31 - i)) * n + i]);
  }
  // Half way between two lattice points in z, x and y.
  EXPECT_EQ(SampleVolume(tex, s, 4.5 / n, 2.5 / n, 3.0 / n), 0xFF201014u);
  EXPECT_EQ(SampleVolume(tex, s, 5.0 / n, 3.0 / n, 2.5 / n), 0xFF241410u);
  // Clamp in w at both ends.
  EXPECT_EQ(SampleVolume(tex, s, 0.5 / n, 0.5 / n, -3.0), cube[0]);
  EXPECT_EQ(SampleVolume(tex, s, 0.5 / n, 0.5 / n, 7.0), cube[(31 * n) * n]);
  s.magFilter = TextureFilter::Point;
  EXPECT_EQ(SampleVolume(tex, s, 4.9 / n, 2.1 / n, 3.6 / n), cube[(3 * n + 2) * n + 4]);
  TTextureView none;
  EXPECT_EQ(SampleVolume(none, s, 0.5, 0.5, 0.5), 0u);
}

TEST(GfxCombine, Stages) {
  StageSetup s;
  s.colorOp = TextureOp::SelectArg1;
  s.alphaOp = TextureOp::SelectArg1;
  EXPECT_EQ(CombineStage(s, 0x11223344u, 0xAABBCCDDu, 0xAABBCCDDu), 0x11223344u);
  s.colorOp = TextureOp::Modulate;
  s.alphaOp = TextureOp::Modulate;
  EXPECT_EQ(CombineStage(s, 0xFF80FF00u, 0x80FF8040u, 0x80FF8040u), 0x80808000u);
  // Render-target textures that are not premultiplied keep the vertex alpha.
  s.colorOp = TextureOp::SelectArg1;
  s.alphaOp = TextureOp::SelectArg2;
  EXPECT_EQ(CombineStage(s, 0x10203040u, 0x7F000000u, 0x7F000000u), 0x7F203040u);
  s.colorArg1 = ArgDiffuse;
  EXPECT_EQ(CombineStage(s, 0x10203040u, 0x7F000000u, 0x7F010203u), 0x7F010203u);
  EXPECT_EQ(Mul255(255, 77), 77u);
  EXPECT_EQ(Mul255(0, 255), 0u);
}

TEST(GfxCombine, FourBlendSetUps) {
  RenderStateTable rs{};
  auto set = [&](RenderState s, auto v) { rs[static_cast<int>(s)] = static_cast<std::uint32_t>(v); };
  set(RenderState::AlphaBlendEnable, 1);
  set(RenderState::SrcBlend, Blend::SrcAlpha);
  set(RenderState::DestBlend, Blend::InvSrcAlpha);
  set(RenderState::BlendOp, BlendOp::Add);
  set(RenderState::SrcBlendAlpha, Blend::One);
  set(RenderState::DestBlendAlpha, Blend::InvSrcAlpha);
  set(RenderState::BlendOpAlpha, BlendOp::Add);
  const std::uint32_t src = 0x80FF4000u, dst = 0x40204080u;
  // 1: colour and alpha = src*as + dst*(1-as).
  BlendSetup b = MakeBlendSetup(rs);
  EXPECT_TRUE(IsSourceOverBlend(b));
  EXPECT_EQ(BlendPixel(b, src, dst), 0x60904040u);
  EXPECT_EQ(BlendSourceOver(src, dst), BlendPixel(b, src, dst));
  for (std::uint32_t d : {0u, 0x12345678u, 0xFFFFFFFFu}) EXPECT_EQ(BlendPixel(b, 0x00FFFFFFu, d), d);  // as = 0
  EXPECT_EQ(BlendPixel(b, 0xFF123456u, dst), 0xFF123456u);
  // 2: premultiplied, saturated.
  set(RenderState::SrcBlend, Blend::One);
  b = MakeBlendSetup(rs);
  EXPECT_EQ(BlendPixel(b, 0x80FF4000u, dst), 0xA0FF6040u);
  // 3: separate alpha: alpha = as + ad*(1-as), colour as set-up 1.
  set(RenderState::SrcBlend, Blend::SrcAlpha);
  set(RenderState::SeparateAlphaBlendEnable, 1);
  b = MakeBlendSetup(rs);
  EXPECT_EQ(BlendPixel(b, src, dst), 0xA0904040u);
  // 4: MAX per channel, the factors ignored.
  set(RenderState::SeparateAlphaBlendEnable, 0);
  set(RenderState::BlendOp, BlendOp::Max);
  b = MakeBlendSetup(rs);
  EXPECT_EQ(BlendPixel(b, src, dst), 0x80FF4080u);
  // Blending off writes the source.
  set(RenderState::AlphaBlendEnable, 0);
  EXPECT_EQ(BlendPixel(MakeBlendSetup(rs), src, dst), src);
  // The source-over shortcut agrees everywhere on a coarse grid.
  for (std::uint32_t a = 0; a < 256; a += 15)
    for (std::uint32_t c = 0; c < 256; c += 17)
      for (std::uint32_t d = 0; d < 256; d += 5) {
        const std::uint32_t s2 = a << 24 | c * 0x010101u, d2 = d * 0x01010101u;
        rs[static_cast<int>(RenderState::AlphaBlendEnable)] = 1;
        set(RenderState::BlendOp, BlendOp::Add);
        ASSERT_EQ(BlendSourceOver(s2, d2), BlendPixel(MakeBlendSetup(rs), s2, d2));
      }
}

TEST(GfxVertex, FvfLayouts) {
  FvfLayout l;
  ASSERT_TRUE(DecodeFvf(FvfXyz | FvfDiffuse | FvfTex2, l));
  EXPECT_EQ(l.stride, 32u);
  EXPECT_EQ(l.diffuseOffset, 12);
  EXPECT_EQ(l.texOffset[0], 16u);
  EXPECT_EQ(l.texOffset[1], 24u);
  ASSERT_TRUE(DecodeFvf(FvfXyzRhw | FvfNormal | FvfDiffuse | FvfSpecular | FvfTex1 | (1u << 16), l));
  EXPECT_EQ(l.stride, 16u + 12 + 4 + 4 + 12);  // a 3D texture set
  EXPECT_EQ(l.texSize[0], 3u);
  EXPECT_FALSE(DecodeFvf(FvfDiffuse, l));
  EXPECT_FALSE(DecodeFvf(FvfXyz | 0xF00, l));
}

TEST(GfxWorkers, RunsEveryBandOnceFromSeveralCallers) {
  GfxWorkers& w = GfxWorkers::Instance();
  const std::uint32_t saved = w.ThreadCount();
  w.SetThreadCount(4);
  std::vector<std::atomic<int>> hits(1000);
  std::vector<std::thread> callers;
  for (int c = 0; c < 3; ++c)
    callers.emplace_back([&] {
      for (int round = 0; round < 20; ++round)
        w.Run(1000, [&](std::uint32_t i) {
          hits[i].fetch_add(1);
          if (i == 3) w.Run(2, [](std::uint32_t) {});  // nested runs inline
        });
    });
  for (auto& t : callers) t.join();
  for (auto& h : hits) ASSERT_EQ(h.load(), 60);
  w.SetThreadCount(0);
  EXPECT_EQ(w.ThreadCount(), 1u);
  w.SetThreadCount(saved);
  EXPECT_EQ(GfxThreadCountFromEnv("3"), 3u);
  EXPECT_GE(GfxThreadCountFromEnv("0"), 1u);
  EXPECT_GE(GfxThreadCountFromEnv("x7"), 1u);
  EXPECT_EQ(GfxThreadCountFromEnv("7"), 7u);
}

}  // namespace
}  // namespace plat::gfx::test
