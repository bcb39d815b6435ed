// The core of a transition frame: a full-screen 1920x1080 textured quad with
// opacity blended over a render target, against a plain copy of the frame.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "Platform/Gfx/GfxPipeline.h"
#include "Platform/Gfx/GfxRaster.h"
#include "Platform/Gfx/GfxWorkers.h"

namespace {

using namespace plat::gfx;

constexpr std::uint32_t kW = 1920, kH = 1080;
constexpr std::int64_t kFrameBytes = std::int64_t{kW} * kH * 4;

struct TlVertex {
  float x, y, z, rhw;
  std::uint32_t color;
  float u, v;
};

struct QuadFrame {
  std::vector<std::uint32_t> target, texture;
  RenderStateTable rs{};
  SamplerStateTable ss[kMaxSamplers]{};
  StageStateTable st[kMaxTextureStages]{};
  std::vector<TlVertex> quad;
  TDrawCall call;

  // texW x texH stretched over the whole target; 1:1 when they match.
  QuadFrame(std::uint32_t texW, std::uint32_t texH) : target(kW * kH, 0xFF336699u), texture(texW * texH) {
    std::mt19937 rng(1);
    for (auto& p : texture) p = rng();
    rs[static_cast<int>(RenderState::CullMode)] = static_cast<std::uint32_t>(Cull::None);
    rs[static_cast<int>(RenderState::AlphaBlendEnable)] = 1;
    rs[static_cast<int>(RenderState::SrcBlend)] = static_cast<std::uint32_t>(Blend::SrcAlpha);
    rs[static_cast<int>(RenderState::DestBlend)] = static_cast<std::uint32_t>(Blend::InvSrcAlpha);
    rs[static_cast<int>(RenderState::BlendOp)] = static_cast<std::uint32_t>(BlendOp::Add);
    for (auto& s : ss) {
      s[static_cast<int>(SamplerState::AddressU)] = static_cast<std::uint32_t>(TextureAddress::Clamp);
      s[static_cast<int>(SamplerState::AddressV)] = static_cast<std::uint32_t>(TextureAddress::Clamp);
      s[static_cast<int>(SamplerState::MagFilter)] = static_cast<std::uint32_t>(TextureFilter::Linear);
      s[static_cast<int>(SamplerState::MinFilter)] = static_cast<std::uint32_t>(TextureFilter::Linear);
    }
    for (auto& s : st) s[static_cast<int>(StageState::ColorOp)] = static_cast<std::uint32_t>(TextureOp::Disable);
    st[0][static_cast<int>(StageState::ColorOp)] = static_cast<std::uint32_t>(TextureOp::SelectArg1);
    st[0][static_cast<int>(StageState::ColorArg1)] = ArgTexture;
    st[0][static_cast<int>(StageState::AlphaOp)] = static_cast<std::uint32_t>(TextureOp::Modulate);
    st[0][static_cast<int>(StageState::AlphaArg1)] = ArgTexture;
    st[0][static_cast<int>(StageState::AlphaArg2)] = ArgCurrent;
    const std::uint32_t c = 0xB4FFFFFFu;  // opacity 0.7
    const float x0 = -0.5f, y0 = -0.5f, x1 = kW - 0.5f, y1 = kH - 0.5f;
    quad = {{x0, y0, 0, 1, c, 0, 0}, {x1, y0, 0, 1, c, 1, 0}, {x0, y1, 0, 1, c, 0, 1},
            {x1, y0, 0, 1, c, 1, 0}, {x1, y1, 0, 1, c, 1, 1}, {x0, y1, 0, 1, c, 0, 1}};
    call.primitiveType = PrimitiveType::TriangleList;
    call.primitiveCount = 2;
    call.vertices = reinterpret_cast<const std::uint8_t*>(quad.data());
    call.vertexStride = sizeof(TlVertex);
    call.vertexCount = 6;
    call.fvf = FvfXyzRhw | FvfDiffuse | FvfTex1;
    call.target = {reinterpret_cast<std::uint8_t*>(target.data()), static_cast<std::int32_t>(kW * 4), kW, kH,
                   Format::A8R8G8B8};
    call.viewport = {0, 0, kW, kH, 0.0f, 1.0f};
    call.renderStates = &rs;
    call.samplerStates = ss;
    call.stageStates = st;
    call.textures[0].kind = TTextureKind::Texture2D;
    call.textures[0].levelCount = 1;
    call.textures[0].levels[0] = {reinterpret_cast<std::uint8_t*>(texture.data()), static_cast<std::int32_t>(texW * 4),
                                  texW, texH, Format::A8R8G8B8};
  }
};

// Arg 0: threads (0: all processors); arg 1: 1 for 1:1, 0 for a scaled
// picture, 2 for the scaled picture through the general per-pixel path
// (what rotated and perspective quads cost), 3 for the scaled picture
// tinted by the vertex colour and blended premultiplied (the stage and
// blend span kernels).
void BM_GfxQuad(benchmark::State& state) {
  const auto threads = static_cast<std::uint32_t>(state.range(0));
  const bool oneToOne = state.range(1) == 1;
  SetGfxFastPathEnabled(state.range(1) != 2);
  GfxWorkers& workers = GfxWorkers::Instance();
  const std::uint32_t saved = workers.ThreadCount();
  workers.SetThreadCount(threads == 0 ? std::thread::hardware_concurrency() : threads);
  QuadFrame frame(oneToOne ? kW : 1600, oneToOne ? kH : 900);
  if (state.range(1) == 3) {
    frame.rs[static_cast<int>(RenderState::SrcBlend)] = static_cast<std::uint32_t>(Blend::One);
    frame.st[0][static_cast<int>(StageState::ColorOp)] = static_cast<std::uint32_t>(TextureOp::Modulate);
    frame.st[0][static_cast<int>(StageState::ColorArg2)] = ArgCurrent;
    for (auto& v : frame.quad) v.color = 0xB4C0E0FFu;
  }
  for (auto _ : state) {
    DrawPrimitives(frame.call);
    benchmark::DoNotOptimize(frame.target.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kFrameBytes);
  state.counters["threads"] = workers.ThreadCount();
  workers.SetThreadCount(saved);
  SetGfxFastPathEnabled(true);
}
BENCHMARK(BM_GfxQuad)
    ->ArgNames({"threads", "one_to_one"})
    ->Args({1, 1})
    ->Args({2, 1})
    ->Args({0, 1})
    ->Args({1, 0})
    ->Args({2, 0})
    ->Args({0, 0})
    ->Args({1, 2})
    ->Args({0, 2})
    ->Args({1, 3})
    ->Args({0, 3})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_FrameMemcpy(benchmark::State& state) {
  std::vector<std::uint32_t> src(kW * kH, 1), dst(kW * kH, 0);
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), kFrameBytes);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kFrameBytes);
}
BENCHMARK(BM_FrameMemcpy)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
