#pragma once
// The hand-over from the device to the drawing pipeline: everything one
// DrawPrimitive needs, as plain views of the device's state and memory. The
// device checks the state and the scene first; the pipeline only draws.
#include <cstdint>

#include "Platform/Gfx/GfxDefs.h"

namespace plat::gfx {

struct ShaderInfo;

// One 2D image: a render target, or one mip level of a texture.
struct TSurfaceView {
  std::uint8_t* bits = nullptr;  // first row; rows top-down
  std::int32_t pitch = 0;        // bytes from one row to the next
  std::uint32_t width = 0, height = 0;
  Format format = Format::Unknown;
};

// A volume: depth slices one after the other, each height rows of rowPitch.
struct TVolumeView {
  const std::uint8_t* bits = nullptr;
  std::int32_t rowPitch = 0, slicePitch = 0;
  std::uint32_t width = 0, height = 0, depth = 0;
  Format format = Format::Unknown;
};

enum class TTextureKind : std::uint8_t { None, Texture2D, Volume };

// What is bound to one stage / sampler. None: nothing bound (the colour
// cascade ends there and the vertex colour passes).
struct TTextureView {
  TTextureKind kind = TTextureKind::None;
  std::uint32_t levelCount = 0;               // 2D: mip levels in `levels`
  TSurfaceView levels[kMaxMipLevels] = {};    // level 0 is the largest
  TVolumeView volume;                         // kind Volume (one level)
  bool renderTarget = false;                  // made with UsageRenderTarget
};

struct TDrawCall {
  PrimitiveType primitiveType = PrimitiveType::TriangleList;
  std::uint32_t primitiveCount = 0;
  // Vertices of the draw (already offset to the first one).
  const std::uint8_t* vertices = nullptr;
  std::uint32_t vertexStride = 0;
  std::uint32_t vertexCount = 0;
  std::uint32_t fvf = 0;

  TSurfaceView target;  // render target 0, written in place
  Viewport viewport;    // lies inside the target
  // Drawn only inside this rectangle when the scissor test is on.
  bool scissorTest = false;
  Rect scissor;
  // Drawn nowhere inside this rectangle when set.
  bool exclusionTest = false;
  Rect exclusion;
  Matrix world, view, projection;

  const RenderStateTable* renderStates = nullptr;               // indexed by RenderState
  const SamplerStateTable* samplerStates = nullptr;             // [kMaxSamplers]
  const StageStateTable* stageStates = nullptr;                 // [kMaxTextureStages]
  TTextureView textures[kMaxSamplers];                          // by sampler / stage

  // Pixel shader state: the bound shader (nullptr: the fixed-function
  // stages draw) and the constant registers c0..c31.
  const ShaderInfo* pixelShader = nullptr;
  const float* pixelShaderConstants = nullptr;  // kMaxShaderConstants * 4 floats

  // When set, learns whether the draw changed any pixel of the target.
  bool* targetChanged = nullptr;
};

// Draws one validated call into call.target. Implemented by the raster
// pipeline; the device holds its mutex around the call, so it runs
// synchronously and a lock after it sees the result.
void DrawPrimitives(const TDrawCall& call);

}  // namespace plat::gfx
