#pragma once
// Types and constants of the software 3D device. The numbers that callers
// store or compare (formats, FVF bits, primitive types, state identifiers and
// their values, lock and creation flags) are those of Direct3D 9, so state
// tables and logs read the same as on that platform.
#include <array>
#include <cstdint>
#include <string>

#include "Platform/User/PlatUserTypes.h"

namespace plat::gfx {

using WindowId = ::plat::HWND;
using MonitorId = ::plat::HMONITOR;

// ---- results --------------------------------------------------------------------------------
enum class Result : std::uint8_t { Ok, InvalidCall, OutOfVideoMemory, DeviceLost, DeviceNotReset, NotAvailable, OutOfMemory };
// The 0..3 byte callers keep: ok, invalid call, out of video memory, any other failure.
constexpr std::uint8_t ResultByte(Result r) {
  switch (r) {
    case Result::Ok: return 0;
    case Result::InvalidCall: return 1;
    case Result::OutOfVideoMemory: return 2;
    default: return 3;
  }
}
constexpr bool Succeeded(Result r) { return r == Result::Ok; }

// ---- formats, pools, usages -------------------------------------------------------------------
enum class Format : std::uint32_t {
  Unknown = 0,
  A8R8G8B8 = 21,
  X8R8G8B8 = 22,
  R5G6B5 = 23,
  X1R5G5B5 = 24,
  A1R5G5B5 = 25,
  A8 = 28,
  L8 = 50,
  D24X8 = 77,
  D16 = 80
};
// 0 for formats the device does not know.
constexpr std::uint32_t BytesPerPixel(Format f) {
  switch (f) {
    case Format::A8R8G8B8:
    case Format::X8R8G8B8:
    case Format::D24X8: return 4;
    case Format::R5G6B5:
    case Format::X1R5G5B5:
    case Format::A1R5G5B5:
    case Format::D16: return 2;
    case Format::A8:
    case Format::L8: return 1;
    default: return 0;
  }
}
constexpr bool IsDepthFormat(Format f) { return f == Format::D24X8 || f == Format::D16; }
constexpr bool IsRenderTargetFormat(Format f) { return f == Format::A8R8G8B8 || f == Format::X8R8G8B8; }

enum class Pool : std::uint8_t { Default = 0, Managed = 1, SystemMem = 2, Scratch = 3 };
enum Usage : std::uint32_t { UsageRenderTarget = 0x1, UsageDepthStencil = 0x2, UsageWriteOnly = 0x8, UsageDynamic = 0x200 };
enum class ResourceType : std::uint8_t { Surface = 1, Volume = 2, Texture = 3, VolumeTexture = 4, VertexBuffer = 6 };
enum class DeviceType : std::uint8_t { Hal = 1 };
enum CreateFlags : std::uint32_t {
  CreateFpuPreserve = 0x02,
  CreateMultithreaded = 0x04,
  CreateSoftwareVertexProcessing = 0x20
};
enum LockFlags : std::uint32_t {
  LockReadOnly = 0x10,
  LockNoSysLock = 0x800,
  LockNoOverwrite = 0x1000,
  LockDiscard = 0x2000,
  LockNoDirtyUpdate = 0x8000
};
enum ClearFlags : std::uint32_t { ClearTarget = 1, ClearZBuffer = 2, ClearStencil = 4 };
enum class SwapEffect : std::uint8_t { Discard = 1, Flip = 2, Copy = 3 };
enum PresentInterval : std::uint32_t { IntervalDefault = 0, IntervalOne = 1, IntervalImmediate = 0x80000000u };
enum class BackBufferType : std::uint8_t { Mono = 0 };

// ---- primitives and vertex formats -------------------------------------------------------------
enum class PrimitiveType : std::uint8_t { PointList = 1, LineList, LineStrip, TriangleList, TriangleStrip, TriangleFan };
enum FvfBits : std::uint32_t {
  FvfXyz = 0x002,
  FvfXyzRhw = 0x004,
  FvfPositionMask = 0x00E,
  FvfNormal = 0x010,
  FvfDiffuse = 0x040,
  FvfSpecular = 0x080,
  FvfTexCountMask = 0xF00,
  FvfTexCountShift = 8,
  FvfTex1 = 0x100,
  FvfTex2 = 0x200,
  FvfTex8 = 0x800
};
constexpr std::uint32_t FvfTexCount(std::uint32_t fvf) { return (fvf & FvfTexCountMask) >> FvfTexCountShift; }
// Bytes of one vertex in the documented order: position, normal, diffuse,
// specular, 2D texture coordinates; 0 for a layout the device cannot read.
constexpr std::uint32_t FvfStride(std::uint32_t fvf) {
  std::uint32_t size = 0;
  switch (fvf & FvfPositionMask) {
    case FvfXyz: size = 12; break;
    case FvfXyzRhw: size = 16; break;
    default: return 0;
  }
  if (fvf & FvfNormal) size += 12;
  if (fvf & FvfDiffuse) size += 4;
  if (fvf & FvfSpecular) size += 4;
  const std::uint32_t tex = FvfTexCount(fvf);
  if (tex > 8) return 0;
  return size + tex * 8;
}

// ---- transforms ----------------------------------------------------------------------------------
enum class TransformKind : std::uint32_t { View = 2, Projection = 3, World = 256 };

// ---- render states (Direct3D 9 identifiers and values) ---------------------------------------
enum class RenderState : std::uint32_t {
  ZEnable = 7,
  FillMode = 8,
  ShadeMode = 9,
  ZWriteEnable = 14,
  AlphaTestEnable = 15,
  SrcBlend = 19,
  DestBlend = 20,
  CullMode = 22,
  AlphaBlendEnable = 27,
  Lighting = 137,
  ColorWriteEnable = 168,
  BlendOp = 171,
  ScissorTestEnable = 174,
  SeparateAlphaBlendEnable = 206,
  SrcBlendAlpha = 207,
  DestBlendAlpha = 208,
  BlendOpAlpha = 209
};
constexpr std::uint32_t kRenderStateCount = 256;  // table size, indexed by the identifier
using RenderStateTable = std::array<std::uint32_t, kRenderStateCount>;

enum class Blend : std::uint32_t {
  Zero = 1,
  One = 2,
  SrcColor = 3,
  InvSrcColor = 4,
  SrcAlpha = 5,
  InvSrcAlpha = 6,
  DestAlpha = 7,
  InvDestAlpha = 8,
  DestColor = 9,
  InvDestColor = 10
};
enum class BlendOp : std::uint32_t { Add = 1, Subtract = 2, RevSubtract = 3, Min = 4, Max = 5 };
enum class Cull : std::uint32_t { None = 1, Cw = 2, Ccw = 3 };
enum class FillMode : std::uint32_t { Point = 1, Wireframe = 2, Solid = 3 };
enum class ShadeMode : std::uint32_t { Flat = 1, Gouraud = 2 };

// ---- sampler states --------------------------------------------------------------------------------
enum class SamplerState : std::uint32_t {
  AddressU = 1,
  AddressV = 2,
  AddressW = 3,
  BorderColor = 4,
  MagFilter = 5,
  MinFilter = 6,
  MipFilter = 7,
  MipLodBias = 8,  // the float's bits
  MaxMipLevel = 9,
  MaxAnisotropy = 10
};
constexpr std::uint32_t kSamplerStateCount = 16;
constexpr std::uint32_t kMaxSamplers = 16;  // s0..s15 of the pixel shaders
using SamplerStateTable = std::array<std::uint32_t, kSamplerStateCount>;

enum class TextureAddress : std::uint32_t { Wrap = 1, Mirror = 2, Clamp = 3, Border = 4, MirrorOnce = 5 };
enum class TextureFilter : std::uint32_t { None = 0, Point = 1, Linear = 2, Anisotropic = 3 };

// ---- texture-stage states --------------------------------------------------------------------------
enum class StageState : std::uint32_t {
  ColorOp = 1,
  ColorArg1 = 2,
  ColorArg2 = 3,
  AlphaOp = 4,
  AlphaArg1 = 5,
  AlphaArg2 = 6,
  TexCoordIndex = 11,
  TextureTransformFlags = 24,
  ColorArg0 = 26,
  AlphaArg0 = 27,
  ResultArg = 28,
  Constant = 32
};
constexpr std::uint32_t kStageStateCount = 33;
constexpr std::uint32_t kMaxTextureStages = 8;
using StageStateTable = std::array<std::uint32_t, kStageStateCount>;

enum class TextureOp : std::uint32_t { Disable = 1, SelectArg1 = 2, SelectArg2 = 3, Modulate = 4 };
enum TextureArg : std::uint32_t {
  ArgDiffuse = 0,
  ArgCurrent = 1,
  ArgTexture = 2,
  ArgTFactor = 3,
  ArgSpecular = 4,
  ArgTemp = 5,
  ArgConstant = 6,
  ArgSelectMask = 0x0F,
  ArgComplement = 0x10,
  ArgAlphaReplicate = 0x20
};

// Shader constant registers c0..c31 (float4 each), kept as device state.
constexpr std::uint32_t kMaxShaderConstants = 32;

// ---- capabilities ---------------------------------------------------------------------------------
constexpr std::uint32_t PsVersion(std::uint32_t major, std::uint32_t minor) {
  return 0xFFFF0000u | major << 8 | minor;
}
constexpr std::uint32_t RasterAnisotropy = 0x20000, RasterMipLodBias = 0x2000;
constexpr std::uint32_t kMaxMipLevels = 16;
constexpr std::uint32_t kVolumeSize = 32;  // the only volume edge the device makes

// ---- records ------------------------------------------------------------------------------------------
struct Rect {
  std::int32_t left = 0, top = 0, right = 0, bottom = 0;
  friend bool operator==(const Rect&, const Rect&) = default;
};
struct Box {
  std::uint32_t left = 0, top = 0, right = 0, bottom = 0, front = 0, back = 0;
};
// Row vectors, as Direct3D: v' = v * m.
struct Matrix {
  float m[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
  friend bool operator==(const Matrix&, const Matrix&) = default;
};
struct Viewport {
  std::uint32_t x = 0, y = 0, width = 0, height = 0;
  float minZ = 0.0f, maxZ = 1.0f;
  friend bool operator==(const Viewport&, const Viewport&) = default;
};
struct DisplayMode {
  std::uint32_t width = 0, height = 0, refreshRate = 0;
  Format format = Format::Unknown;
};
struct Caps {
  std::uint32_t pixelShaderVersion = 0, maxTextureWidth = 0, maxTextureHeight = 0, maxAnisotropy = 0, rasterCaps = 0;
};
struct AdapterIdentifier {
  std::uint32_t vendorId = 0;
  std::u16string description;  // at most 511 characters
};
struct PresentParameters {
  std::uint32_t backBufferWidth = 0, backBufferHeight = 0;
  Format backBufferFormat = Format::Unknown;
  std::uint32_t backBufferCount = 1;
  std::uint32_t multiSampleType = 0, multiSampleQuality = 0;
  SwapEffect swapEffect = SwapEffect::Copy;
  WindowId deviceWindow = nullptr;
  bool windowed = true, enableAutoDepthStencil = false;
  Format autoDepthStencilFormat = Format::Unknown;
  std::uint32_t flags = 0;
  std::uint32_t fullScreenRefreshRate = 0;
  std::uint32_t presentationInterval = IntervalDefault;
};
struct SurfaceDesc {
  Format format = Format::Unknown;
  ResourceType type = ResourceType::Surface;
  std::uint32_t usage = 0;
  Pool pool = Pool::Default;
  std::uint32_t width = 0, height = 0;
};
struct VolumeDesc {
  Format format = Format::Unknown;
  std::uint32_t usage = 0;
  Pool pool = Pool::Default;
  std::uint32_t width = 0, height = 0, depth = 0;
};
struct LockedRect {
  std::int32_t pitch = 0;
  void* bits = nullptr;
};
struct LockedBox {
  std::int32_t rowPitch = 0, slicePitch = 0;
  void* bits = nullptr;
};

}  // namespace plat::gfx
