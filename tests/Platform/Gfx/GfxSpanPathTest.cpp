// The span kernels of the raster against the one-pixel units they stand in
// for: any blend set-up, stages that modulate by a constant colour, batched
// sampling, and pixel shaders reading texels a span at a time.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "GfxTestScene.h"
#include "Platform/Gfx/GfxCombine.h"
#include "Platform/Gfx/GfxRaster.h"
#include "Platform/Gfx/GfxShaderAbi.h"
#include "Platform/Gfx/GfxWorkers.h"

namespace plat::gfx::test {
namespace {

std::uint32_t U(auto v) { return static_cast<std::uint32_t>(v); }

// Channel values that reach the saturating sums: 0, 255 and everything between.
std::uint32_t Extreme(std::mt19937& rng) {
  std::uint32_t v = rng();
  for (int shift = 0; shift < 32; shift += 8)
    if (rng() % 4 == 0) v = (v & ~(255u << shift)) | (rng() % 2 ? 255u << shift : 0u);
  return v;
}

TEST(GfxSpanPath, BlendAndModulateKernelsMatchThePixelUnit) {
  std::mt19937 rng(5);
  constexpr std::size_t kN = 67;  // every kernel's tail
  std::vector<std::uint32_t> src(kN), dst(kN), want(kN), got(kN);
  for (int level = 0; level <= 3; ++level) {
    LimitSpanKernels(level);
    for (std::uint32_t op = 1; op <= 5; ++op)
      for (std::uint32_t fs = 1; fs <= 10; ++fs)
        for (std::uint32_t fd = 1; fd <= 10; ++fd) {
          BlendSetup b;
          b.enable = (fs + fd + op) % 13 != 0;
          b.op = static_cast<BlendOp>(op);
          b.src = static_cast<Blend>(fs);
          b.dst = static_cast<Blend>(fd);
          b.separateAlpha = fd % 2 == 0;
          b.srcAlpha = static_cast<Blend>(1 + rng() % 10);
          b.dstAlpha = static_cast<Blend>(1 + rng() % 10);
          b.opAlpha = static_cast<BlendOp>(1 + rng() % 5);
          const bool x8 = fs % 3 == 0;
          const std::uint32_t fill = x8 ? 0xFF000000u : 0;
          for (std::size_t i = 0; i < kN; ++i) {
            src[i] = Extreme(rng);
            dst[i] = Extreme(rng);
            want[i] = BlendPixel(b, src[i], dst[i] | fill) | fill;
          }
          got = dst;
          BlendSpan(b, src.data(), got.data(), kN, x8);
          ASSERT_EQ(got, want) << "level " << level << " op " << op << " " << fs << "/" << fd;
        }
    // Premultiplied over, with and without the same separate alpha (sums
    // past 255 clamp), and source over with coverage adding up in alpha.
    for (int mode = 0; mode < 3; ++mode) {
      BlendSetup b;
      b.enable = true;
      b.src = mode == 2 ? Blend::SrcAlpha : Blend::One;
      b.srcAlpha = Blend::One;
      b.dst = b.dstAlpha = Blend::InvSrcAlpha;
      b.separateAlpha = mode > 0;
      for (std::size_t i = 0; i < kN; ++i) {
        src[i] = Extreme(rng);
        dst[i] = Extreme(rng);
        want[i] = BlendPixel(b, src[i], dst[i]);
      }
      got = dst;
      BlendSpan(b, src.data(), got.data(), kN, false);
      ASSERT_EQ(got, want) << "level " << level;
    }
    for (int round = 0; round < 50; ++round) {
      const std::uint32_t factor = Extreme(rng), sourceFill = round % 2 ? 0xFF000000u : 0;
      for (std::size_t i = 0; i < kN; ++i) {
        src[i] = Extreme(rng);
        const std::uint32_t s = src[i] | sourceFill;
        want[i] = 0;
        for (int shift = 0; shift < 32; shift += 8)
          want[i] |= Mul255(s >> shift & 255, factor >> shift & 255) << shift;
      }
      ModulateSpan(src.data(), got.data(), kN, factor, sourceFill);
      ASSERT_EQ(got, want) << "level " << level;
      ModulateSpan(src.data(), src.data(), kN, factor, sourceFill);  // in place
      ASSERT_EQ(src, want);
    }
  }
  LimitSpanKernels(3);
}

// Coordinates that reach every branch of the snap: texel centres, edges,
// far outside, NaN and infinities.
float Coordinate(std::mt19937& rng, std::uint32_t n) {
  switch (rng() % 8) {
    case 0: return (static_cast<float>(rng() % (n + 4)) - 2.0f + 0.5f) / static_cast<float>(n);
    case 1: return std::numeric_limits<float>::quiet_NaN();
    case 2: return rng() % 2 ? std::numeric_limits<float>::infinity() : -std::numeric_limits<float>::infinity();
    case 3: return rng() % 2 ? 3e30f : -3e30f;
    case 4: return static_cast<float>(rng() % 3) - 1.0f;
    default: return std::uniform_real_distribution<float>(-2.5f, 3.5f)(rng);
  }
}

TEST(GfxSpanPath, SampledSpansMatchSingleSamples) {
  std::mt19937 rng(11);
  constexpr std::size_t kN = 75;
  const Format formats[] = {Format::A8R8G8B8, Format::X8R8G8B8, Format::R5G6B5};
  for (int round = 0; round < 300; ++round) {
    const Format f = formats[round % 3];
    const std::uint32_t w = 1 + rng() % 40, h = 1 + rng() % 30;
    Image big(w, h), small((w + 1) / 2, (h + 1) / 2);
    big.format = small.format = f;
    for (auto& p : big.pixels) p = rng();
    for (auto& p : small.pixels) p = rng();
    TTextureView tex;
    tex.kind = TTextureKind::Texture2D;
    tex.levelCount = round % 5 == 4 ? 2 : 1;
    tex.levels[0] = big.View();
    tex.levels[1] = small.View();
    if (f == Format::R5G6B5) tex.levels[0].pitch = tex.levels[1].pitch = static_cast<std::int32_t>(w * 4);
    SamplerSetup s;
    s.addressU = static_cast<TextureAddress>(1 + rng() % 5);
    s.addressV = static_cast<TextureAddress>(1 + rng() % 5);
    s.magFilter = rng() % 3 ? TextureFilter::Linear : TextureFilter::Point;
    s.minFilter = rng() % 4 ? s.magFilter : TextureFilter::Point;
    s.mipFilter = tex.levelCount > 1 ? TextureFilter::Linear : TextureFilter::None;
    s.lodBias = round % 3 == 0 ? 1.5f : (round % 3 == 1 ? -0.5f : 0.0f);
    std::vector<float> u(kN), v(kN);
    for (std::size_t i = 0; i < kN; ++i) {
      u[i] = Coordinate(rng, w);
      v[i] = round % 4 == 3 && i > 0 ? v[0] : Coordinate(rng, h);  // a span along one row
    }
    std::vector<std::uint32_t> got(kN);
    Sample2DSpan(tex, s, u.data(), v.data(), kN, got.data());
    for (std::size_t i = 0; i < kN; ++i)
      ASSERT_EQ(got[i], Sample2D(tex, s, u[i], v[i], 0.0f)) << "round " << round << " at " << i << ": " << u[i] << "," << v[i];
    // Columns kept for reads at several v.
    TexColumns columns;
    PrepareTexColumns(SamplerView{&tex, s}, u.data(), 61, columns);  // a tail after the vectors
    // Random rows, then steps of one texel that share a row with the read before.
    const float frac = round % 2 ? 0.5f : 0.3f;
    for (int k = -3; k < static_cast<int>(h) + 3; ++k) {
      const float row = k < 0 ? Coordinate(rng, h) : (static_cast<float>(k) - 1.0f + frac) / static_cast<float>(h);
      Tex2DPackedAtV(SamplerView{&tex, s}, columns, row, got.data());
      for (std::size_t i = 0; i < 61; ++i) ASSERT_EQ(got[i], Sample2D(tex, s, u[i], row, 0.0f)) << "round " << round;
    }
    // Columns made for another texture never read past it.
    TTextureView narrow = tex;
    narrow.levels[0].width = (w + 1) / 2;
    const float row = Coordinate(rng, h);
    Tex2DPackedAtV(SamplerView{&narrow, s}, columns, row, got.data());
    for (std::size_t i = 0; i < 61; ++i) ASSERT_EQ(got[i], Sample2D(narrow, s, u[i], row, 0.0f)) << "round " << round;
    // The shader form: packed texels that unpack to Tex2D's channels.
    const SamplerView view{&tex, s};
    Tex2DPacked(view, u.data(), v.data(), kN, got.data());
    const float* unit = UnitChannels();
    for (std::size_t i = 0; i < kN; ++i) {
      const Float4 one = Tex2D(view, u[i], v[i]);
      ASSERT_EQ((Float4{unit[got[i] >> 16 & 255], unit[got[i] >> 8 & 255], unit[got[i] & 255], unit[got[i] >> 24]}), one);
    }
  }
  // Weighted sums and packed colours of a span, including NaN, infinities
  // and values either side of 0 and 1.
  const float specials[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity(), 0.0f, -0.0f, 1.0f, 0.99999994f, 1.0000001f,
                            1e-30f, -1e-30f, 0.5f / 255.0f, 254.5f / 255.0f};
  const float* unit = UnitChannels();
  for (int round = 0; round < 40; ++round) {
    const std::size_t n = 1 + rng() % 70;
    std::vector<std::uint32_t> texels(n), packed(n);
    std::vector<float> sums[4];
    std::vector<Float4> colours(n);
    for (auto& t : texels) t = Extreme(rng);
    for (auto& v : sums) {
      v.resize(n);
      for (auto& x : v) x = rng() % 5 == 0 ? specials[rng() % 12] : std::uniform_real_distribution<float>(-2, 2)(rng);
    }
    const float weight = round % 4 == 0 ? specials[rng() % 12] : std::uniform_real_distribution<float>(-1, 1)(rng);
    std::vector<float> want[4] = {sums[0], sums[1], sums[2], sums[3]};
    for (std::size_t i = 0; i < n; ++i) {
      const int shifts[4] = {16, 8, 0, 24};
      for (int c = 0; c < 4; ++c) want[c][i] = want[c][i] + unit[texels[i] >> shifts[c] & 255] * weight;
      colours[i] = Float4{sums[0][i], sums[1][i], sums[2][i], sums[3][i]};
    }
    AccumulateTexels(texels.data(), n, weight, sums[0].data(), sums[1].data(), sums[2].data(), sums[3].data());
    for (int c = 0; c < 4; ++c)
      ASSERT_EQ(std::memcmp(sums[c].data(), want[c].data(), n * sizeof(float)), 0) << "round " << round;
    PackShaderColours(colours.data(), n, packed.data());
    for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(packed[i], PackShaderColour(colours[i])) << "round " << round;
  }
  // Nothing bound reads (0, 0, 0, 1).
  const float u = 0.5f;
  std::uint32_t out = 0;
  Tex2DPacked(SamplerView{}, &u, &u, 1, &out);
  EXPECT_EQ(out, 0xFF000000u);
}

void SetStage(Scene& s, std::uint32_t colorOp, std::uint32_t c1, std::uint32_t c2, std::uint32_t alphaOp,
              std::uint32_t a1, std::uint32_t a2) {
  s.st[0][U(StageState::ColorOp)] = colorOp;
  s.st[0][U(StageState::ColorArg1)] = c1;
  s.st[0][U(StageState::ColorArg2)] = c2;
  s.st[0][U(StageState::AlphaOp)] = alphaOp;
  s.st[0][U(StageState::AlphaArg1)] = a1;
  s.st[0][U(StageState::AlphaArg2)] = a2;
}

// The span path with every blend and the stages a tinted or faded picture
// uses, against the per-pixel path with scalar kernels; big draws run on
// several workers at once.
TEST(GfxSpanPath, AnyStageAndBlendOnTheFastPathEqualThePerPixelPath) {
  std::mt19937 rng(77);
  GfxWorkers& workers = GfxWorkers::Instance();
  const std::uint32_t savedThreads = workers.ThreadCount();
  const std::uint64_t before = GfxFastPathCount();
  const std::uint32_t sel1 = U(TextureOp::SelectArg1), sel2 = U(TextureOp::SelectArg2), mod = U(TextureOp::Modulate);
  for (int round = 0; round < 90; ++round) {
    Image tex(1 + rng() % 60, 1 + rng() % 40, 0, round % 3 == 0 ? Format::X8R8G8B8 : Format::A8R8G8B8);
    for (auto& p : tex.pixels) p = Extreme(rng);
    const bool big = round % 10 == 0;
    const std::uint32_t tw = big ? 320 : 70, th = big ? 240 : 50;
    const std::uint32_t stage = rng() % 7, filter = round % 5 == 0 ? 1 : 2, address = 1 + rng() % 3;
    const bool exact = round % 3 == 1;
    const float x0 = exact ? std::floor(static_cast<float>(rng() % 30)) - 10.5f : static_cast<float>(rng() % 300) / 10.0f - 5;
    const float y0 = exact ? std::floor(static_cast<float>(rng() % 20)) - 5.5f : static_cast<float>(rng() % 200) / 10.0f - 5;
    const float x1 = big ? x0 + 300 : (exact ? x0 + static_cast<float>(tex.width) : x0 + 1 + static_cast<float>(rng() % 60));
    const float y1 = big ? y0 + 230 : (exact ? y0 + static_cast<float>(tex.height) : y0 + 1 + static_cast<float>(rng() % 45));
    const std::uint32_t colour = Extreme(rng);
    const std::uint32_t blend[8] = {rng() % 5 ? 1u : 0u, U(1 + rng() % 10), U(1 + rng() % 10), U(1 + rng() % 5),
                                    U(rng() % 2),        U(1 + rng() % 10), U(1 + rng() % 10), U(1 + rng() % 5)};
    Image targets[2];
    for (int pass = 0; pass < 2; ++pass) {
      std::mt19937 same(round);
      targets[pass] = Image(tw, th, 0, round % 4 == 1 ? Format::X8R8G8B8 : Format::A8R8G8B8);
      for (auto& p : targets[pass].pixels) p = Extreme(same);
      Scene s(targets[pass]);
      s.Texture(tex);
      s.Filter(filter);
      s.Address(address);
      switch (stage) {
        case 0: SetStage(s, mod, ArgTexture, ArgCurrent, mod, ArgTexture, ArgCurrent); break;
        case 1: SetStage(s, mod, ArgDiffuse, ArgTexture, sel1, ArgTexture, ArgCurrent); break;
        case 2: SetStage(s, sel2, ArgCurrent, ArgTexture, mod, ArgCurrent, ArgTexture); break;
        case 3: SetStage(s, sel1, ArgTexture, ArgCurrent, sel2, ArgCurrent, ArgTexture); break;
        case 4: SetStage(s, mod, ArgTexture, ArgTexture, mod, ArgTexture, ArgCurrent); break;  // not a constant stage
        case 5: SetStage(s, mod, ArgTexture | ArgComplement, ArgCurrent, mod, ArgTexture, ArgCurrent); break;
        default: SetStage(s, mod, ArgTexture, ArgCurrent, U(TextureOp::Disable), ArgTexture, ArgCurrent); break;
      }
      const RenderState keys[8] = {RenderState::AlphaBlendEnable,         RenderState::SrcBlend,
                                   RenderState::DestBlend,                RenderState::BlendOp,
                                   RenderState::SeparateAlphaBlendEnable, RenderState::SrcBlendAlpha,
                                   RenderState::DestBlendAlpha,           RenderState::BlendOpAlpha};
      for (int k = 0; k < 8; ++k) s.rs[U(keys[k])] = blend[k];
      if (round % 9 == 4) s.SourceOver();
      SetGfxFastPathEnabled(pass == 0);
      SetGfxRowPathEnabled(pass == 0);
      LimitSpanKernels(pass == 0 ? 3 : 0);
      workers.SetThreadCount(pass == 0 && big ? 4 : 1);
      if (round % 6 == 5 && tex.width > 1 && tex.height > 1) {
        // One texel per pixel, off the centres by a fraction: one weight for every column.
        const float w = static_cast<float>(tex.width), h = static_cast<float>(tex.height);
        const float fx = static_cast<float>(round % 8) / 8.0f - 0.5f, fy = static_cast<float>(round % 3) / 4.0f - 0.5f;
        s.Draw(Quad(fx, fy, fx + w - 1, fy + h - 1, colour, 0, 0, (w - 1) / w, (h - 1) / h), kTlFvf);
      } else {
        s.Draw(Quad(x0, y0, x1, y1, colour), kTlFvf);
      }
    }
    SetGfxFastPathEnabled(true);
    SetGfxRowPathEnabled(true);
    LimitSpanKernels(3);
    ASSERT_EQ(targets[0].pixels, targets[1].pixels) << "round " << round << " stage " << stage;
  }
  workers.SetThreadCount(savedThreads);
  EXPECT_GE(GfxFastPathCount() - before, 100u);
}

// Pixel shaders reading a span at a time give what they give one texel at a
// time, on tilted, perspective quads with every blend.
template <bool Batched>
void TapShader(const ShaderEnv& e, const ShaderVaryings& in, Float4* out) {
  std::uint32_t texels[kShaderSpan];
  float u[kShaderSpan], v[kShaderSpan];
  for (int i = 0; i < in.count; ++i) {
    u[i] = in.t[0][0][i] * 1.5f - 0.25f;
    v[i] = in.t[0][1][i] + in.v0[3][i] * 0.125f;
  }
  if (Batched) Tex2DPacked(*e.s[0], u, v, static_cast<std::size_t>(in.count), texels);
  const float* unit = UnitChannels();
  for (int i = 0; i < in.count; ++i) {
    Float4 t;
    if (Batched)
      t = Float4{unit[texels[i] >> 16 & 255], unit[texels[i] >> 8 & 255], unit[texels[i] & 255], unit[texels[i] >> 24]};
    else
      t = Tex2D(*e.s[0], u[i], v[i]);
    out[i] = Float4{t.r * in.v0[0][i], t.g, t.b + in.t[1][0][i], t.a * e.c[0].r};
  }
}

TEST(GfxSpanPath, ShaderSpansEqualSingleTexelReads) {
  ShaderInfo one{"test_span_taps_single", {{0, SamplerType::Texture2D, "s"}}, {{0, 1, "k"}}, &TapShader<false>};
  ShaderInfo batched{"test_span_taps_batched", {{0, SamplerType::Texture2D, "s"}}, {{0, 1, "k"}}, &TapShader<true>};
  ASSERT_TRUE(RegisterPixelShader(one));
  ASSERT_TRUE(RegisterPixelShader(batched));
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> pos(-40, 200), rhw(0.2f, 2.5f), uv(-1, 2);
  const float constants[kMaxShaderConstants * 4] = {0.75f};
  for (int round = 0; round < 24; ++round) {
    Image tex(1 + rng() % 50, 1 + rng() % 40, 0, round % 3 == 0 ? Format::X8R8G8B8 : Format::A8R8G8B8);
    for (auto& p : tex.pixels) p = rng();
    std::vector<TlVertex> verts;
    for (int k = 0; k < 9; ++k)
      verts.push_back({pos(rng), pos(rng), 0, round % 2 ? rhw(rng) : 1.0f, static_cast<std::uint32_t>(rng()), uv(rng), uv(rng)});
    const std::uint32_t blend[4] = {1, U(1 + rng() % 10), U(1 + rng() % 10), U(1 + rng() % 5)};
    Image targets[2];
    for (int pass = 0; pass < 2; ++pass) {
      std::mt19937 same(round);
      targets[pass] = Image(170, 150, 0, round % 4 == 1 ? Format::X8R8G8B8 : Format::A8R8G8B8);
      for (auto& p : targets[pass].pixels) p = same();
      Scene s(targets[pass]);
      s.Texture(tex);
      s.Filter(round % 5 == 0 ? 1 : 2);
      s.Address(1 + round % 5);
      s.rs[U(RenderState::AlphaBlendEnable)] = blend[0];
      s.rs[U(RenderState::SrcBlend)] = blend[1];
      s.rs[U(RenderState::DestBlend)] = blend[2];
      s.rs[U(RenderState::BlendOp)] = blend[3];
      s.call.pixelShader = FindPixelShader(pass == 0 ? "test_span_taps_batched" : "test_span_taps_single");
      s.call.pixelShaderConstants = constants;
      LimitSpanKernels(pass == 0 ? 3 : 0);
      s.Draw(verts, kTlFvf);
    }
    LimitSpanKernels(3);
    ASSERT_EQ(targets[0].pixels, targets[1].pixels) << "round " << round;
  }
}

// Opaque source pixels replace the target without reading it: long opaque
// runs (whole vectors), runs broken by one translucent pixel, X8 on either
// side and alpha scales below 255, against the pixel units.
TEST(GfxSpanPath, OpaqueRunsReplaceTheTargetAsThePixelUnitDoes) {
  std::mt19937 rng(77);
  constexpr std::size_t kN = 141;
  std::vector<std::uint32_t> src(kN), dst(kN), want(kN), got(kN);
  for (int level = 0; level <= 3; ++level) {
    LimitSpanKernels(level);
    for (int round = 0; round < 40; ++round) {
      for (std::size_t i = 0; i < kN; ++i) {
        src[i] = rng() | 0xFF000000u;
        dst[i] = Extreme(rng);
      }
      // A translucent pixel somewhere in most rounds.
      if (round % 4 != 0) src[rng() % kN] &= 0x7FFFFFFFu;
      const bool x8s = round % 3 == 1, x8t = round % 5 == 2;
      const std::uint32_t scale = round % 7 == 3 ? 200 : 255;
      const std::uint32_t sFill = x8s ? 0xFF000000u : 0, tFill = x8t ? 0xFF000000u : 0;
      for (std::size_t i = 0; i < kN; ++i) {
        const std::uint32_t t = src[i] | sFill;
        want[i] = BlendSourceOver((t & 0x00FFFFFFu) | Mul255(t >> 24, scale) << 24, dst[i] | tFill) | tFill;
      }
      got = dst;
      BlendSpanSourceOver(src.data(), got.data(), kN, scale, x8s, x8t);
      ASSERT_EQ(got, want) << "level " << level << " round " << round;
      // Premultiplied over and over with coverage kept, through BlendSpan.
      for (int mode = 0; mode < 2; ++mode) {
        BlendSetup b;
        b.enable = true;
        b.src = mode == 1 ? Blend::SrcAlpha : Blend::One;
        b.srcAlpha = Blend::One;
        b.dst = b.dstAlpha = Blend::InvSrcAlpha;
        b.separateAlpha = true;
        ASSERT_TRUE(OpaqueSourceReplaces(b));
        for (std::size_t i = 0; i < kN; ++i) want[i] = BlendPixel(b, src[i], dst[i] | tFill) | tFill;
        got = dst;
        BlendSpan(b, src.data(), got.data(), kN, x8t);
        ASSERT_EQ(got, want) << "level " << level << " round " << round << " mode " << mode;
      }
    }
  }
  LimitSpanKernels(3);
  BlendSetup additive;
  additive.enable = true;
  additive.src = additive.dst = Blend::One;
  EXPECT_FALSE(OpaqueSourceReplaces(additive));
  EXPECT_TRUE(OpaqueSourceReplaces(BlendSetup{}));
}

// The cross-fade's one pass (texels times a constant, premultiplied over)
// against ModulateSpan then BlendSpan; other set-ups take the two steps.
TEST(GfxSpanPath, ModulateAndBlendInOnePassEqualTheTwoSteps) {
  std::mt19937 rng(31);
  constexpr std::size_t kN = 77;
  std::vector<std::uint32_t> src(kN), dst(kN), want(kN), got(kN), scratch(kN);
  for (int level = 0; level <= 3; ++level) {
    LimitSpanKernels(level);
    for (int round = 0; round < 60; ++round) {
      BlendSetup b;
      b.enable = true;
      b.src = round % 3 == 2 ? Blend::SrcAlpha : Blend::One;
      b.dst = Blend::InvSrcAlpha;
      b.separateAlpha = round % 2 == 1;
      b.srcAlpha = Blend::One;
      b.dstAlpha = Blend::InvSrcAlpha;
      const std::uint32_t factor = round % 4 == 0 ? (rng() % 256) * 0x01010101u : Extreme(rng);
      const std::uint32_t fill = round % 5 == 1 ? 0xFF000000u : 0;
      const bool x8 = round % 7 == 3;
      for (std::size_t i = 0; i < kN; ++i) {
        src[i] = Extreme(rng);
        dst[i] = Extreme(rng);
      }
      std::vector<std::uint32_t> mod(kN);
      ModulateSpan(src.data(), mod.data(), kN, factor, fill);
      want = dst;
      BlendSpan(b, mod.data(), want.data(), kN, x8);
      got = dst;
      ModulateBlendSpan(b, src.data(), got.data(), kN, factor, fill, x8, scratch.data());
      ASSERT_EQ(got, want) << "level " << level << " round " << round;
    }
  }
  LimitSpanKernels(3);
}

}  // namespace
}  // namespace plat::gfx::test
