#pragma once
// Pixel shaders of the software device. A shader is a C++ function found by
// name in a registry; the "code" a program hands to CreatePixelShader is a
// small descriptor naming that function and declaring its samplers and
// constants:
//
//   'Z','P','S','2' | u8 kind (1 pixel, 2 vertex) | u8 model 0x20 | u16 0
//   u16 nameLen, name (UTF-8)
//   u8 samplerCount, { u8 register, u8 type (1 2D, 2 volume), u8 nameLen, name }
//   u8 constantCount, { u8 register, u8 registerCount, u8 nameLen, name }
//
// Numbers are little-endian; nothing may follow the constant table.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Gfx/GfxSampler.h"

namespace plat::gfx {

struct Float4 {
  float r = 0, g = 0, b = 0, a = 0;
  friend bool operator==(const Float4&, const Float4&) = default;
};

enum class ShaderKind : std::uint8_t { Pixel = 1, Vertex = 2 };
enum class SamplerType : std::uint8_t { Texture2D = 1, Volume = 2 };

struct SamplerDecl {
  std::uint8_t reg = 0;  // s0..s15
  SamplerType type = SamplerType::Texture2D;
  std::string name;
  friend bool operator==(const SamplerDecl&, const SamplerDecl&) = default;
};

struct ConstantDecl {
  std::uint8_t reg = 0;    // c0..c31
  std::uint8_t count = 1;  // registers, reg + count <= 32
  std::string name;
  friend bool operator==(const ConstantDecl&, const ConstantDecl&) = default;
};

// One sampler as a shader sees it: the bound texture or volume (nullptr or
// kind None when nothing is bound) with the sampler's states.
struct SamplerView {
  const TTextureView* texture = nullptr;
  SamplerSetup setup;
};

// Up to 64 pixels of one row, as structure of arrays: t[k][0] and t[k][1]
// are u and v of texture coordinate set k (0 when the vertices have fewer
// sets), v0[0..3] the interpolated vertex colour r, g, b, a in 0..1.
constexpr int kShaderSpan = 64;
struct ShaderVaryings {
  int count = 0;
  const float* t[8][2] = {};
  const float* v0[4] = {};
};

struct ShaderEnv {
  const SamplerView* s[kMaxSamplers] = {};  // never nullptr during a draw
  const Float4* c = nullptr;                // c0..c31
};

// Writes count colours to out; the device saturates them (NaN as 0).
using PixelShaderFn = void (*)(const ShaderEnv& env, const ShaderVaryings& in, Float4* out);

struct ShaderInfo {
  std::string name;
  std::vector<SamplerDecl> samplers;
  std::vector<ConstantDecl> constants;
  PixelShaderFn fn = nullptr;
};

// The same shader writing packed colours: out[i] is what PackShaderColour
// makes of the colour the shader's fn writes for pixel i. Drawing uses it in
// place of fn and the packing.
using PackedPixelShaderFn = void (*)(const ShaderEnv& env, const ShaderVaryings& in, std::uint32_t* out);

// A parsed descriptor.
struct ShaderDescriptor {
  ShaderKind kind = ShaderKind::Pixel;
  std::string name;
  std::vector<SamplerDecl> samplers;
  std::vector<ConstantDecl> constants;
};

// Adds a shader; a name has exactly one declaration and function. Answers
// false for a bad declaration (empty or over-long names, registers out of
// range, no function) or a name already registered differently; registering
// the same shader again is harmless.
bool RegisterPixelShader(const ShaderInfo& info);
// The registered shader, or nullptr. The answer stays valid for the process.
const ShaderInfo* FindPixelShader(std::string_view name);

// Gives a registered shader its packed form; false for an unknown name, no
// function, or a name that has another packed form already.
bool RegisterPackedPixelShader(std::string_view name, PackedPixelShaderFn fn);
// The packed form of a registered shader, or nullptr.
PackedPixelShaderFn FindPackedPixelShader(const ShaderInfo* shader);

// The descriptor of a declaration (empty when it cannot be written).
std::vector<std::uint8_t> EncodeShaderDescriptor(ShaderKind kind, const ShaderInfo& info);
// The descriptor of a registered pixel shader; empty for an unknown name.
std::vector<std::uint8_t> PixelShaderDescriptor(std::string_view name);
// False for anything malformed, truncated or followed by extra bytes.
bool DecodeShaderDescriptor(std::span<const std::uint8_t> code, ShaderDescriptor& out);

// Reads a sampler with its states; channels in 0..1. A sampler without a
// texture of that kind reads (0, 0, 0, 1).
Float4 Tex2D(const SamplerView& s, float u, float v);
Float4 Tex3D(const SamplerView& s, float u, float v, float w);
// Tex2D for n coordinate pairs at once, as packed 0xAARRGGBB texels: channel
// c of Tex2D(s, u[i], v[i]) is UnitChannels()[(out[i] >> shift) & 255].
void Tex2DPacked(const SamplerView& s, const float* u, const float* v, std::size_t n, std::uint32_t* out);
// Tex2DPacked for a span whose pixels keep their u while v changes from
// read to read (a vertical filter): the texel columns are found once, and
// a texel row filtered across them is kept for the next read.
struct TexColumns {
  std::size_t count = 0;
  bool direct = false;  // columns made; else the reads go through Tex2DPacked
  std::int64_t keptRow = -1;
  // What the columns were made for; reads with anything else go through Tex2DPacked.
  TSurfaceView level;
  TextureAddress addressU = TextureAddress::Wrap;
  bool linear = false;
  // The first count entries are set.
  float u[kShaderSpan];
  alignas(32) std::int32_t i0[kShaderSpan], i1[kShaderSpan], w[kShaderSpan];
  alignas(32) std::uint32_t kept[kShaderSpan], top[kShaderSpan], bottom[kShaderSpan];
};
// n is at most kShaderSpan. The texels must not change while c is in use.
void PrepareTexColumns(const SamplerView& s, const float* u, std::size_t n, TexColumns& c);
// Tex2DPacked(s, c.u, {v, v, ...}, c.count, out).
void Tex2DPackedAtV(const SamplerView& s, TexColumns& c, float v, std::uint32_t* out);

// The red channel of Tex2D for n coordinate pairs as bytes: Tex2D(s, u[i],
// v[i]).r is UnitChannels()[out[i]]. A span along a row is read without
// going through floats.
void Tex2DRedBytes(const SamplerView& s, const float* u, const float* v, std::size_t n, std::uint8_t* out);

// The 256 channel values Tex2D gives for a byte b: b / 255.
const float* UnitChannels();
// A weighted tap over a span: for i < n, r[i] = r[i] + R * weight and so on,
// R, G, B, A the channels of texels[i] as Tex2D gives them; the same float
// operations as that expression, eight pixels at a time where possible.
void AccumulateTexels(const std::uint32_t* texels, std::size_t n, float weight, float* r, float* g, float* b,
                      float* a);

// A shader's output as a packed 0xAARRGGBB: saturated, NaN as 0, x 255 rounded.
std::uint32_t PackShaderColour(const Float4& c);
// PackShaderColour of n colours.
void PackShaderColours(const Float4* in, std::size_t n, std::uint32_t* out);

}  // namespace plat::gfx
