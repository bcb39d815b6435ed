// The row path for triangles whose vertex colours differ (coverage ramps of
// soft wipes) and for blends other than source-over, against the general
// per-pixel path: any stage that selects or modulates the texture by the
// diffuse colour, every blend, perspective, both target and texture formats,
// rings of thin triangles cut over several worker threads, and triangles
// without a texture stage.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

#include "GfxTestScene.h"
#include "Platform/Gfx/GfxRaster.h"
#include "Platform/Gfx/GfxWorkers.h"

namespace plat::gfx::test {
namespace {

constexpr std::uint32_t U(auto v) { return static_cast<std::uint32_t>(v); }

// A ring of quads around (cx, cy) from radius ri to ro, texture coordinates
// one texel per pixel of a w x h picture, alpha ao outside and ai inside.
std::vector<TlVertex> Ring(float cx, float cy, float ri, float ro, std::uint32_t ao, std::uint32_t ai, float w,
                           float h, int segments) {
  std::vector<TlVertex> v;
  const auto at = [&](float r, int s, std::uint32_t a) {
    const double angle = 2.0 * std::numbers::pi * s / segments;
    const float x = static_cast<float>(cx + r * std::cos(angle)), y = static_cast<float>(cy + r * std::sin(angle));
    return TlVertex{x, y, 0, 1, a << 24 | 0xFFFFFFu, (x + 0.5f) / w, (y + 0.5f) / h};
  };
  for (int s = 0; s < segments; ++s) {
    const TlVertex o1 = at(ro, s, ao), o2 = at(ro, s + 1, ao), i1 = at(ri, s, ai), i2 = at(ri, s + 1, ai);
    v.insert(v.end(), {o1, o2, i2, o1, i2, i1});
  }
  return v;
}

struct Variant {
  std::uint32_t colorOp, colorArg1, colorArg2, alphaOp, alphaArg1, alphaArg2;
};

// Stage set-ups of the row path, and one it must leave (diffuse alone).
constexpr Variant kStages[] = {
    {U(TextureOp::Modulate), ArgTexture, ArgCurrent, U(TextureOp::Modulate), ArgTexture, ArgCurrent},
    {U(TextureOp::SelectArg1), ArgTexture, ArgCurrent, U(TextureOp::Modulate), ArgDiffuse, ArgTexture},
    {U(TextureOp::Modulate), ArgDiffuse, ArgTexture, U(TextureOp::SelectArg2), ArgCurrent, ArgTexture},
    {U(TextureOp::SelectArg1), ArgTexture, ArgCurrent, U(TextureOp::SelectArg1), ArgTexture, ArgCurrent},
    {U(TextureOp::SelectArg1), ArgDiffuse, ArgCurrent, U(TextureOp::Modulate), ArgTexture, ArgCurrent},
};

// Blend set-ups: source over, premultiplied over, coverage kept in alpha,
// additive, disabled, and the inverse factors.
constexpr std::uint32_t kBlends[][8] = {
    {1, U(Blend::SrcAlpha), U(Blend::InvSrcAlpha), U(BlendOp::Add), 0, 0, 0, 0},
    {1, U(Blend::One), U(Blend::InvSrcAlpha), U(BlendOp::Add), 0, 0, 0, 0},
    {1, U(Blend::SrcAlpha), U(Blend::InvSrcAlpha), U(BlendOp::Add), 1, U(Blend::One), U(Blend::InvSrcAlpha),
     U(BlendOp::Add)},
    {1, U(Blend::One), U(Blend::One), U(BlendOp::Add), 0, 0, 0, 0},
    {0, U(Blend::One), U(Blend::Zero), U(BlendOp::Add), 0, 0, 0, 0},
    {1, U(Blend::InvDestColor), U(Blend::SrcColor), U(BlendOp::RevSubtract), 0, 0, 0, 0},
};

TEST(GfxGouraudPath, RowPathEqualsThePixelPath) {
  auto& workers = GfxWorkers::Instance();
  const std::uint32_t savedThreads = workers.ThreadCount();
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> pos(-30, 230), rhw(0.2f, 2.5f), uv(-0.5f, 1.5f);
  for (int round = 0; round < 120; ++round) {
    const Variant& stage = kStages[round % std::size(kStages)];
    const std::uint32_t* blend = kBlends[(round / 5) % std::size(kBlends)];
    const bool ring = round % 4 == 3, big = round % 8 == 7;
    Image tex(ring ? 320 : 1 + rng() % 60, ring ? 300 : 1 + rng() % 50, 0,
              round % 3 == 0 ? Format::X8R8G8B8 : Format::A8R8G8B8);
    for (auto& p : tex.pixels) p = rng();
    std::vector<TlVertex> v;
    if (ring) {
      // Thin bands with a ramp across, as a soft circle wipe draws them; a
      // core fanned to the centre with one alpha everywhere.
      const float cx = pos(rng), cy = pos(rng) * 0.8f;
      for (int band = 0; band < 6; ++band) {
        const std::vector<TlVertex> r = Ring(cx, cy, 40.0f + 5.5f * band, 45.5f + 5.5f * band, 255 - 40 * band,
                                             215 - 40 * band, 320, 300, big ? 128 : 48);
        v.insert(v.end(), r.begin(), r.end());
      }
      const std::vector<TlVertex> core = Ring(cx, cy, 0.0f, 40.0f, 255, 255, 320, 300, 32);
      v.insert(v.end(), core.begin(), core.end());
    } else {
      for (int k = 0; k < 12; ++k)
        v.push_back({pos(rng), pos(rng) * 0.8f, 0, round % 2 ? rhw(rng) : 1.0f, static_cast<std::uint32_t>(rng()),
                     uv(rng), uv(rng)});
      if (round % 10 == 4) v[0].rhw = v[3].rhw = 1e-30f;  // rhw grazing zero
    }
    Image targets[2];
    for (int pass = 0; pass < 2; ++pass) {
      std::mt19937 same(round);
      targets[pass] = Image(240, 200, 0, round % 4 == 1 ? Format::X8R8G8B8 : Format::A8R8G8B8);
      for (auto& p : targets[pass].pixels) p = same();
      Scene s(targets[pass]);
      s.Texture(tex);
      s.st[0][U(StageState::ColorOp)] = stage.colorOp;
      s.st[0][U(StageState::ColorArg1)] = stage.colorArg1;
      s.st[0][U(StageState::ColorArg2)] = stage.colorArg2;
      s.st[0][U(StageState::AlphaOp)] = stage.alphaOp;
      s.st[0][U(StageState::AlphaArg1)] = stage.alphaArg1;
      s.st[0][U(StageState::AlphaArg2)] = stage.alphaArg2;
      s.Filter(round % 7 == 0 ? 1 : 2);
      s.Address(ring ? 3 : 1 + round % 5);
      const RenderState keys[8] = {RenderState::AlphaBlendEnable,         RenderState::SrcBlend,
                                   RenderState::DestBlend,                RenderState::BlendOp,
                                   RenderState::SeparateAlphaBlendEnable, RenderState::SrcBlendAlpha,
                                   RenderState::DestBlendAlpha,           RenderState::BlendOpAlpha};
      for (int k = 0; k < 8; ++k) s.rs[U(keys[k])] = blend[k];
      SetGfxRowPathEnabled(pass == 0);
      SetGfxFastPathEnabled(pass == 0);
      workers.SetThreadCount(pass == 0 && big ? 4 : 1);
      s.Draw(v, kTlFvf);
    }
    SetGfxRowPathEnabled(true);
    SetGfxFastPathEnabled(true);
    ASSERT_EQ(targets[0].pixels, targets[1].pixels) << "round " << round;
  }
  workers.SetThreadCount(savedThreads);
}

// Without a texture stage (fade and fill quads) a pixel is its diffuse
// colour: one colour or a ramp, flat or in perspective, rhw grazing zero,
// every blend, both target formats, and a full frame cut over threads.
TEST(GfxGouraudPath, DiffuseOnlyRowsEqualThePixelPath) {
  auto& workers = GfxWorkers::Instance();
  const std::uint32_t savedThreads = workers.ThreadCount();
  std::mt19937 rng(23);
  std::uniform_real_distribution<float> pos(-30, 230), rhw(0.2f, 2.5f);
  for (int round = 0; round < 48; ++round) {
    const std::uint32_t* blend = kBlends[round % std::size(kBlends)];
    const bool flatColour = round % 2 == 0, big = round % 8 == 7;
    const std::uint32_t colour = static_cast<std::uint32_t>(rng());
    std::vector<TlVertex> v;
    if (big) {
      const std::vector<TlVertex> q = Quad(0, 0, 240, 200, colour, 0, 0, 1, 1);
      v.assign(q.begin(), q.end());
    } else {
      for (int k = 0; k < 12; ++k)
        v.push_back({pos(rng), pos(rng) * 0.8f, 0, round % 3 ? rhw(rng) : 1.0f,
                     flatColour ? colour : static_cast<std::uint32_t>(rng()), 0, 0});
      if (round % 10 == 5) v[0].rhw = v[3].rhw = 1e-30f;
    }
    Image targets[2];
    for (int pass = 0; pass < 2; ++pass) {
      std::mt19937 same(round);
      targets[pass] = Image(240, 200, 0, round % 4 == 1 ? Format::X8R8G8B8 : Format::A8R8G8B8);
      for (auto& p : targets[pass].pixels) p = same();
      Scene s(targets[pass]);
      const RenderState keys[8] = {RenderState::AlphaBlendEnable,         RenderState::SrcBlend,
                                   RenderState::DestBlend,                RenderState::BlendOp,
                                   RenderState::SeparateAlphaBlendEnable, RenderState::SrcBlendAlpha,
                                   RenderState::DestBlendAlpha,           RenderState::BlendOpAlpha};
      for (int k = 0; k < 8; ++k) s.rs[U(keys[k])] = blend[k];
      SetGfxRowPathEnabled(pass == 0);
      workers.SetThreadCount(pass == 0 && big ? 4 : 1);
      s.Draw(v, kTlFvf);
    }
    SetGfxRowPathEnabled(true);
    ASSERT_EQ(targets[0].pixels, targets[1].pixels) << "round " << round;
  }
  workers.SetThreadCount(savedThreads);
}

// Axis-aligned pictures under a blend other than source-over with a white
// diffuse colour skip the colour stage on the span path, and half-texel
// offsets average neighbouring texels; the pixels stay.
TEST(GfxGouraudPath, WhiteStageOnTheSpanPathKeepsThePixels) {
  std::mt19937 rng(4);
  for (int round = 0; round < 12; ++round) {
    Image tex(round % 3 == 1 ? 128 : 64, 32, 0, round % 3 == 2 ? Format::X8R8G8B8 : Format::A8R8G8B8);
    for (auto& p : tex.pixels) p = rng();
    const std::uint32_t* blend = kBlends[1 + round % 3];
    Image targets[2];
    const std::uint64_t before = GfxFastPathCount();
    for (int pass = 0; pass < 2; ++pass) {
      std::mt19937 same(round);
      targets[pass] = Image(100, 60);
      for (auto& p : targets[pass].pixels) p = same();
      Scene s(targets[pass]);
      s.Texture(tex);
      s.st[0][U(StageState::ColorOp)] = U(TextureOp::Modulate);
      s.st[0][U(StageState::ColorArg2)] = ArgCurrent;
      const RenderState keys[8] = {RenderState::AlphaBlendEnable,         RenderState::SrcBlend,
                                   RenderState::DestBlend,                RenderState::BlendOp,
                                   RenderState::SeparateAlphaBlendEnable, RenderState::SrcBlendAlpha,
                                   RenderState::DestBlendAlpha,           RenderState::BlendOpAlpha};
      for (int k = 0; k < 8; ++k) s.rs[U(keys[k])] = blend[k];
      SetGfxFastPathEnabled(pass == 0);
      SetGfxRowPathEnabled(pass == 0);
      // One texel per pixel from texel 1 on, exactly and half a texel off
      // either way, never reaching the last texel (so no column clamps).
      const float offX = round % 2 ? 0.5f : 0.0f, offY = round % 4 >= 2 ? 0.5f : 0.0f;
      const float w = static_cast<float>(tex.width), h = static_cast<float>(tex.height);
      const float u0 = (1 + offX) / w, v0 = (1 + offY) / h;
      s.Draw(Quad(2.5f, 1.5f, 2.5f + w - 2, 1.5f + h - 2, 0xFFFFFFFFu, u0, v0, u0 + (w - 2) / w, v0 + (h - 2) / h),
             kTlFvf);
    }
    SetGfxFastPathEnabled(true);
    SetGfxRowPathEnabled(true);
    EXPECT_GT(GfxFastPathCount(), before) << "round " << round;
    ASSERT_EQ(targets[0].pixels, targets[1].pixels) << "round " << round;
  }
}

// Shading whose channels share ramps (grey on all four, grey colour under
// its own alpha, two colour channels alike) is evaluated once per shared
// ramp; rotated and scaled pictures whose texel pairs sit side by side are
// read a pair at a time, except at clamped or wrapped edges. Both against
// the per-pixel path.
TEST(GfxGouraudPath, SharedRampsAndTexelPairsEqualThePixelPath) {
  std::mt19937 rng(31);
  std::uniform_int_distribution<std::uint32_t> byte(0, 255);
  const auto colour = [&](int pattern) {
    const std::uint32_t g = byte(rng), a = byte(rng), c = byte(rng);
    switch (pattern) {
      case 0: return g * 0x01010101u;                          // all four alike
      case 1: return a << 24 | g * 0x010101u;                  // grey under its own alpha
      case 2: return a << 24 | g << 16 | c << 8 | g;           // red and blue alike
      default: return g << 24 | c << 16 | c << 8 | byte(rng);  // green and red alike
    }
  };
  for (int round = 0; round < 32; ++round) {
    Image tex(70 + round, 60, 0, round % 5 == 4 ? Format::X8R8G8B8 : Format::A8R8G8B8);
    for (auto& p : tex.pixels) p = rng();
    // A quad turned by a few degrees at about one texel per pixel, reaching
    // past the picture's edges on some rounds.
    const double turn = 0.02 + 0.3 * (round % 4), scale = 1.0 + 0.01 * (round % 5);
    const float reach = round % 3 == 0 ? 1.2f : 0.9f;
    const auto at = [&](float u, float v, std::uint32_t c) {
      const double x = (u - 0.5) * tex.width / scale, y = (v - 0.5) * tex.height / scale;
      return TlVertex{static_cast<float>(60 + x * std::cos(turn) - y * std::sin(turn)),
                      static_cast<float>(50 + x * std::sin(turn) + y * std::cos(turn)), 0, 1, c, u, v};
    };
    const float lo = 0.5f - reach / 2, hi = 0.5f + reach / 2;
    const TlVertex a = at(lo, lo, colour(round % 4)), b = at(hi, lo, colour(round % 4)),
                   c = at(hi, hi, colour(round % 4)), d = at(lo, hi, colour(round % 4));
    const std::vector<TlVertex> v = {a, b, c, a, c, d};
    Image targets[2];
    for (int pass = 0; pass < 2; ++pass) {
      std::mt19937 same(round);
      targets[pass] = Image(120, 100);
      for (auto& p : targets[pass].pixels) p = same();
      Scene s(targets[pass]);
      s.Texture(tex);
      const Variant& stage = kStages[round % 3];
      s.st[0][U(StageState::ColorOp)] = stage.colorOp;
      s.st[0][U(StageState::ColorArg1)] = stage.colorArg1;
      s.st[0][U(StageState::ColorArg2)] = stage.colorArg2;
      s.st[0][U(StageState::AlphaOp)] = stage.alphaOp;
      s.st[0][U(StageState::AlphaArg1)] = stage.alphaArg1;
      s.st[0][U(StageState::AlphaArg2)] = stage.alphaArg2;
      s.Address(round % 2 ? 1 : 3);  // wrap or clamp
      const std::uint32_t* blend = kBlends[round % 3];
      s.rs[U(RenderState::AlphaBlendEnable)] = blend[0];
      s.rs[U(RenderState::SrcBlend)] = blend[1];
      s.rs[U(RenderState::DestBlend)] = blend[2];
      s.rs[U(RenderState::BlendOp)] = blend[3];
      s.rs[U(RenderState::SeparateAlphaBlendEnable)] = blend[4];
      s.rs[U(RenderState::SrcBlendAlpha)] = blend[5];
      s.rs[U(RenderState::DestBlendAlpha)] = blend[6];
      s.rs[U(RenderState::BlendOpAlpha)] = blend[7];
      SetGfxRowPathEnabled(pass == 0);
      s.Draw(v, kTlFvf);
    }
    SetGfxRowPathEnabled(true);
    ASSERT_EQ(targets[0].pixels, targets[1].pixels) << "round " << round;
  }
}

}  // namespace
}  // namespace plat::gfx::test
