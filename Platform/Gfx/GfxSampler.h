#pragma once
// Texture sampling: point and bilinear filtering on 8-bit packed channels,
// mip selection, trilinear volumes, and the WRAP, MIRROR and CLAMP modes.
// Texel centres are at (i + 0.5) / size. Coordinates are snapped to 1/256
// texel before filtering, so a draw whose texel centres land on pixel
// centres reads the texels exactly.
#include <cstddef>
#include <cstdint>

#include "Platform/Gfx/GfxPipeline.h"

namespace plat::gfx {

struct SamplerSetup {
  TextureAddress addressU = TextureAddress::Wrap, addressV = TextureAddress::Wrap, addressW = TextureAddress::Wrap;
  TextureFilter magFilter = TextureFilter::Point, minFilter = TextureFilter::Point, mipFilter = TextureFilter::None;
  float lodBias = 0.0f;
  std::uint32_t maxMipLevel = 0;  // the largest level used
};

SamplerSetup MakeSamplerSetup(const SamplerStateTable& states);

// Texel index on an edge of n texels (n > 0) under an address mode; BORDER
// falls back to CLAMP.
inline std::int64_t AddressTexel(std::int64_t i, std::uint32_t n, TextureAddress mode) {
  const std::int64_t size = n;
  if (i >= 0 && i < size) return i;
  switch (mode) {
    case TextureAddress::Wrap: {
      const std::int64_t m = i % size;
      return m < 0 ? m + size : m;
    }
    case TextureAddress::Mirror: {
      std::int64_t m = i % (2 * size);
      if (m < 0) m += 2 * size;
      return m < size ? m : 2 * size - 1 - m;
    }
    case TextureAddress::MirrorOnce: {
      const std::int64_t m = i < 0 ? -1 - i : i;
      return m < size ? m : size - 1;
    }
    default: return i < 0 ? 0 : size - 1;
  }
}

// A coordinate in texels times 256, rounded to the nearest step and made
// safe: NaN gives 0, and values are held within +-2^40, far past any edge
// yet well inside int64 for the address arithmetic.
inline std::int64_t SnapCoordinate(double t, std::uint32_t n, bool linear) {
  constexpr double kLimit = 1099511627776.0;
  double x = t * n * 256.0 - (linear ? 128.0 : 0.0) + 0.5;
  if (!(x > -kLimit)) x = x != x ? 0.5 : -kLimit;  // NaN
  if (x > kLimit) x = kLimit;
  // floor without a library call: exact below 2^52.
  std::int64_t i = static_cast<std::int64_t>(x);
  if (static_cast<double>(i) > x) --i;
  return i;
}

// Packed ARGB lerp with weight f in 0..256 (of b).
inline std::uint32_t LerpArgb(std::uint32_t a, std::uint32_t b, std::uint32_t f) {
  const std::uint32_t g = 256 - f;
  const std::uint32_t rb = (((a & 0xFF00FFu) * g + (b & 0xFF00FFu) * f + 0x800080u) >> 8) & 0xFF00FFu;
  const std::uint32_t ag = (((a >> 8) & 0xFF00FFu) * g + ((b >> 8) & 0xFF00FFu) * f + 0x800080u) & 0xFF00FF00u;
  return rb | ag;
}

// Whether the sampler needs a level of detail for this texture (mip chain in
// use, or different filters for magnification and minification).
bool SamplerNeedsLod(const TTextureView& tex, const SamplerSetup& s);

// lod: log2 of texels per pixel (before the bias); ignored when not needed.
std::uint32_t Sample2D(const TTextureView& tex, const SamplerSetup& s, double u, double v, float lod);
std::uint32_t SampleVolume(const TTextureView& tex, const SamplerSetup& s, double u, double v, double w);

// Sample2D at lod 0 for n coordinate pairs: out[i] is Sample2D(tex, s,
// u[i], v[i], 0). 32-bit levels read eight texels at a time where the
// processor can.
void Sample2DSpan(const TTextureView& tex, const SamplerSetup& s, const float* u, const float* v, std::size_t n,
                  std::uint32_t* out);

// The level, filter and texel fill Sample2DSpan reads eight at a time for
// this texture and sampler at lod 0, or nullptr when it reads one by one.
const TSurfaceView* VectorLevel(const TTextureView& tex, const SamplerSetup& s, bool& linear, std::uint32_t& fill);
// The texel indices and weight SampleLevel finds for each of n u
// coordinates on level l (i1 == i0 and w 0 for point filtering).
void SnapColumns(const TSurfaceView& l, const SamplerSetup& s, bool linear, const float* u, std::size_t n,
                 std::int32_t* i0, std::int32_t* i1, std::int32_t* w);
// SampleLevel's reading of v on level l: rows y0 and y1 (y0 again for
// point filtering) and the weight of y1.
void SnapRow(const TSurfaceView& l, const SamplerSetup& s, bool linear, double v, std::int64_t& y0, std::int64_t& y1,
             std::uint32_t& wy);
// Texel row y of a 32-bit level across prepared columns, as SampleLevel
// filters a row: LerpArgb of the two texels (with the X8 fill), or the
// texel alone for point filtering.
void FilterRowColumns(const TSurfaceView& l, bool linear, std::uint32_t fill, std::int64_t y, const std::int32_t* i0,
                      const std::int32_t* i1, const std::int32_t* w, std::size_t n, std::uint32_t* out);
// out[i] = LerpArgb(top[i], bottom[i], wy).
void LerpRows(const std::uint32_t* top, const std::uint32_t* bottom, std::uint32_t wy, std::size_t n,
              std::uint32_t* out);

// One level, one filter, no mip: the inner sampler.
std::uint32_t SampleLevel(const TSurfaceView& level, const SamplerSetup& s, bool linear, double u, double v);

}  // namespace plat::gfx

namespace plat::gfx {

// The columns of a span read through Sample2DChannelSpan, kept for the
// next span with the same u values: the rows of a picture drawn without
// rotation repeat them, so their columns are found once.
struct ChannelColumns {
  std::size_t count = 0;
  std::uint32_t width = 0;
  TextureAddress address = TextureAddress::Wrap;
  bool linear = false;
  bool unweighted = false;  // every w is 0
  float u[64];
  std::int32_t i0[64], i1[64], w[64];
};
// Channel byte `shift` (16 red, 8 green, 0 blue, 24 alpha) of Sample2D(tex,
// s, u[i], v[i], 0) for n coordinate pairs. A span along a row (one v) on
// an 8-bit or 32-bit level finds its rows once and its columns through
// `columns` (made again when it was made for other u values); anything
// else goes pixel by pixel.
void Sample2DChannelSpan(const TTextureView& tex, const SamplerSetup& s, const float* u, const float* v, std::size_t n,
                         int shift, std::uint8_t* out, ChannelColumns& columns);

// A volume read where every axis takes one of 256 coordinates known in
// advance (b / 255 * scale + offset for a byte b, as a shader computes it
// in float): the taps and weights SampleVolume finds for each are kept as
// byte offsets, so a read is eight fetches and the lerps.
struct VolumeLattice {
  bool direct = false;  // false: the volume is not a usable 32-bit volume
  // What the lattice was made for.
  TVolumeView view;
  TextureAddress address[3] = {};
  bool linear = false;
  float scale = 0, offset = 0;
  std::uint32_t fill = 0;  // 0xFF000000 for X8R8G8B8
  std::int32_t o0[3][256] = {}, o1[3][256] = {};
  std::int32_t w[3][256] = {};
};
// Makes l answer for this volume and sampler; quick when it already does.
// False (and l.direct false) when the volume cannot be read this way.
bool PrepareVolumeLattice(const TTextureView& tex, const SamplerSetup& s, float scale, float offset, VolumeLattice& l);
// The axis taps SampleVolume finds for a coordinate c on axis k (0 x, 1 y, 2 z).
void VolumeAxisTaps(const VolumeLattice& l, int k, float c, std::int32_t& o0, std::int32_t& o1, std::uint32_t& w);
// SampleVolume at the lattice coordinates of bytes x[i], y[i] and z[i]; with
// zTaps the z taps come from the three arrays instead (z ignored).
struct VolumeZTaps {
  const std::int32_t* o0;
  const std::int32_t* o1;
  const std::uint32_t* w;
};
void SampleVolumeLattice(const VolumeLattice& l, const std::uint8_t* x, const std::uint8_t* y, const std::uint8_t* z,
                         const VolumeZTaps* zTaps, std::size_t n, std::uint32_t* out);

}  // namespace plat::gfx
