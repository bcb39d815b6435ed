#pragma once
// A draw call over plain arrays, for the raster tests.
#include <cstdint>
#include <cstring>
#include <vector>

#include "Platform/Gfx/GfxPipeline.h"

namespace plat::gfx::test {

struct TlVertex {  // XYZRHW | DIFFUSE | TEX1
  float x, y, z, rhw;
  std::uint32_t color;
  float u, v;
};
constexpr std::uint32_t kTlFvf = FvfXyzRhw | FvfDiffuse | FvfTex1;

struct Vertex3 {  // XYZ | DIFFUSE | TEX1
  float x, y, z;
  std::uint32_t color;
  float u, v;
};
constexpr std::uint32_t k3Fvf = FvfXyz | FvfDiffuse | FvfTex1;

struct Image {
  std::uint32_t width = 0, height = 0;
  Format format = Format::A8R8G8B8;
  std::vector<std::uint32_t> pixels;
  Image() = default;
  Image(std::uint32_t w, std::uint32_t h, std::uint32_t fill = 0, Format f = Format::A8R8G8B8)
      : width(w), height(h), format(f), pixels(static_cast<std::size_t>(w) * h, fill) {}
  std::uint32_t& At(std::uint32_t x, std::uint32_t y) { return pixels[static_cast<std::size_t>(y) * width + x]; }
  TSurfaceView View() {
    return TSurfaceView{reinterpret_cast<std::uint8_t*>(pixels.data()), static_cast<std::int32_t>(width * 4), width,
                        height, format};
  }
};

struct Scene {
  RenderStateTable rs{};
  SamplerStateTable ss[kMaxSamplers]{};
  StageStateTable st[kMaxTextureStages]{};
  TDrawCall call;

  explicit Scene(Image& target) {
    rs[static_cast<int>(RenderState::CullMode)] = static_cast<std::uint32_t>(Cull::None);
    for (auto& s : ss) {
      s[static_cast<int>(SamplerState::AddressU)] = 3;
      s[static_cast<int>(SamplerState::AddressV)] = 3;
      s[static_cast<int>(SamplerState::AddressW)] = 3;
      s[static_cast<int>(SamplerState::MagFilter)] = 2;
      s[static_cast<int>(SamplerState::MinFilter)] = 2;
    }
    for (auto& s : st) {
      s[static_cast<int>(StageState::ColorOp)] = static_cast<std::uint32_t>(TextureOp::Disable);
      s[static_cast<int>(StageState::AlphaOp)] = static_cast<std::uint32_t>(TextureOp::Disable);
    }
    call.target = target.View();
    call.viewport = Viewport{0, 0, target.width, target.height, 0.0f, 1.0f};
    call.renderStates = &rs;
    call.samplerStates = ss;
    call.stageStates = st;
  }
  void SourceOver() {
    rs[static_cast<int>(RenderState::AlphaBlendEnable)] = 1;
    rs[static_cast<int>(RenderState::SrcBlend)] = static_cast<std::uint32_t>(Blend::SrcAlpha);
    rs[static_cast<int>(RenderState::DestBlend)] = static_cast<std::uint32_t>(Blend::InvSrcAlpha);
    rs[static_cast<int>(RenderState::BlendOp)] = static_cast<std::uint32_t>(BlendOp::Add);
  }
  void Additive() {
    rs[static_cast<int>(RenderState::AlphaBlendEnable)] = 1;
    rs[static_cast<int>(RenderState::SrcBlend)] = static_cast<std::uint32_t>(Blend::One);
    rs[static_cast<int>(RenderState::DestBlend)] = static_cast<std::uint32_t>(Blend::One);
    rs[static_cast<int>(RenderState::BlendOp)] = static_cast<std::uint32_t>(BlendOp::Add);
  }
  // Stage 0: colour from the texture, alpha texture x vertex alpha.
  void Texture(Image& tex, bool modulateAlpha = true) {
    call.textures[0].kind = TTextureKind::Texture2D;
    call.textures[0].levelCount = 1;
    call.textures[0].levels[0] = tex.View();
    st[0][static_cast<int>(StageState::ColorOp)] = static_cast<std::uint32_t>(TextureOp::SelectArg1);
    st[0][static_cast<int>(StageState::ColorArg1)] = ArgTexture;
    st[0][static_cast<int>(StageState::AlphaOp)] =
        static_cast<std::uint32_t>(modulateAlpha ? TextureOp::Modulate : TextureOp::SelectArg1);
    st[0][static_cast<int>(StageState::AlphaArg1)] = ArgTexture;
    st[0][static_cast<int>(StageState::AlphaArg2)] = ArgCurrent;
  }
  void Filter(std::uint32_t f) {
    ss[0][static_cast<int>(SamplerState::MagFilter)] = f;
    ss[0][static_cast<int>(SamplerState::MinFilter)] = f;
  }
  void Address(std::uint32_t mode) {
    ss[0][static_cast<int>(SamplerState::AddressU)] = mode;
    ss[0][static_cast<int>(SamplerState::AddressV)] = mode;
    ss[0][static_cast<int>(SamplerState::AddressW)] = mode;
  }
  template <typename V>
  void Draw(const std::vector<V>& v, std::uint32_t fvf, PrimitiveType type = PrimitiveType::TriangleList) {
    call.primitiveType = type;
    call.vertices = reinterpret_cast<const std::uint8_t*>(v.data());
    call.vertexStride = sizeof(V);
    call.vertexCount = static_cast<std::uint32_t>(v.size());
    call.fvf = fvf;
    const std::uint32_t n = static_cast<std::uint32_t>(v.size());
    call.primitiveCount = type == PrimitiveType::TriangleList ? n / 3 : (n >= 2 ? n - 2 : 0);
    DrawPrimitives(call);
  }
};

// Two triangles of a screen rectangle from (x0,y0) to (x1,y1), uv 0..1 by default.
inline std::vector<TlVertex> Quad(float x0, float y0, float x1, float y1, std::uint32_t color, float u0 = 0,
                                  float v0 = 0, float u1 = 1, float v1 = 1) {
  const TlVertex a{x0, y0, 0, 1, color, u0, v0}, b{x1, y0, 0, 1, color, u1, v0}, c{x0, y1, 0, 1, color, u0, v1},
      d{x1, y1, 0, 1, color, u1, v1};
  return {a, b, c, b, d, c};
}

}  // namespace plat::gfx::test
