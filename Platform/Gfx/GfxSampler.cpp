#include "Platform/Gfx/GfxSampler.h"

#include <bit>
#include <cmath>
#include <cstring>

#include "Platform/Gfx/GfxPixels.h"

namespace plat::gfx {
namespace {

TextureAddress AddressFrom(std::uint32_t v) {
  switch (v) {
    case 2: return TextureAddress::Mirror;
    case 3: return TextureAddress::Clamp;
    case 4: return TextureAddress::Clamp;  // border colour is not used; clamp is the nearest
    case 5: return TextureAddress::MirrorOnce;
    default: return TextureAddress::Wrap;
  }
}
TextureFilter FilterFrom(std::uint32_t v) {
  switch (v) {
    case 0: return TextureFilter::None;
    case 2:
    case 3: return TextureFilter::Linear;  // anisotropic is treated as linear
    default: return TextureFilter::Point;
  }
}

inline std::uint32_t Fetch(const TSurfaceView& l, std::int64_t x, std::int64_t y) {
  const std::uint8_t* row = l.bits + y * l.pitch;
  std::uint32_t v;
  switch (l.format) {
    case Format::A8R8G8B8: std::memcpy(&v, row + x * 4, 4); return v;
    case Format::X8R8G8B8: std::memcpy(&v, row + x * 4, 4); return v | 0xFF000000u;
    default: return DecodePixelInline(l.format, row + x * BytesPerPixel(l.format));
  }
}
inline std::uint32_t FetchVolume(const TVolumeView& l, std::int64_t x, std::int64_t y, std::int64_t z) {
  const std::uint32_t bpp = BytesPerPixel(l.format);
  return DecodePixelInline(l.format, l.bits + z * l.slicePitch + y * l.rowPitch + x * bpp);
}

bool LevelUsable(const TSurfaceView& l) {
  return l.bits != nullptr && l.width > 0 && l.height > 0 && BytesPerPixel(l.format) != 0 && !IsDepthFormat(l.format);
}

}  // namespace

SamplerSetup MakeSamplerSetup(const SamplerStateTable& t) {
  SamplerSetup s;
  s.addressU = AddressFrom(t[static_cast<std::uint32_t>(SamplerState::AddressU)]);
  s.addressV = AddressFrom(t[static_cast<std::uint32_t>(SamplerState::AddressV)]);
  s.addressW = AddressFrom(t[static_cast<std::uint32_t>(SamplerState::AddressW)]);
  s.magFilter = FilterFrom(t[static_cast<std::uint32_t>(SamplerState::MagFilter)]);
  s.minFilter = FilterFrom(t[static_cast<std::uint32_t>(SamplerState::MinFilter)]);
  s.mipFilter = FilterFrom(t[static_cast<std::uint32_t>(SamplerState::MipFilter)]);
  const float bias = std::bit_cast<float>(t[static_cast<std::uint32_t>(SamplerState::MipLodBias)]);
  s.lodBias = std::isfinite(bias) ? bias : 0.0f;
  s.maxMipLevel = t[static_cast<std::uint32_t>(SamplerState::MaxMipLevel)];
  return s;
}

std::uint32_t SampleLevel(const TSurfaceView& l, const SamplerSetup& s, bool linear, double u, double v) {
  if (!LevelUsable(l)) return 0;
  if (!linear) {
    const std::int64_t x = AddressTexel(SnapCoordinate(u, l.width, false) >> 8, l.width, s.addressU);
    const std::int64_t y = AddressTexel(SnapCoordinate(v, l.height, false) >> 8, l.height, s.addressV);
    return Fetch(l, x, y);
  }
  const std::int64_t fx = SnapCoordinate(u, l.width, true), fy = SnapCoordinate(v, l.height, true);
  const std::int64_t x0 = AddressTexel(fx >> 8, l.width, s.addressU);
  const std::int64_t x1 = AddressTexel((fx >> 8) + 1, l.width, s.addressU);
  const std::int64_t y0 = AddressTexel(fy >> 8, l.height, s.addressV);
  const std::int64_t y1 = AddressTexel((fy >> 8) + 1, l.height, s.addressV);
  const std::uint32_t wx = static_cast<std::uint32_t>(fx & 255), wy = static_cast<std::uint32_t>(fy & 255);
  const std::uint32_t top = LerpArgb(Fetch(l, x0, y0), Fetch(l, x1, y0), wx);
  const std::uint32_t bottom = LerpArgb(Fetch(l, x0, y1), Fetch(l, x1, y1), wx);
  return LerpArgb(top, bottom, wy);
}

bool SamplerNeedsLod(const TTextureView& tex, const SamplerSetup& s) {
  if (tex.kind != TTextureKind::Texture2D) return false;
  return (tex.levelCount > 1 && s.mipFilter != TextureFilter::None) || (s.minFilter != s.magFilter);
}

std::uint32_t Sample2D(const TTextureView& tex, const SamplerSetup& s, double u, double v, float lod) {
  if (tex.kind != TTextureKind::Texture2D || tex.levelCount == 0) return 0;
  if (!SamplerNeedsLod(tex, s)) return SampleLevel(tex.levels[0], s, s.magFilter != TextureFilter::Point, u, v);
  float l = lod + s.lodBias;
  if (!(l > 0.0f)) return SampleLevel(tex.levels[0], s, s.magFilter != TextureFilter::Point, u, v);  // NaN too
  const bool linear = s.minFilter != TextureFilter::Point;
  std::uint32_t last = tex.levelCount > kMaxMipLevels ? kMaxMipLevels - 1 : tex.levelCount - 1;
  const std::uint32_t first = s.maxMipLevel < last ? s.maxMipLevel : last;
  if (s.mipFilter == TextureFilter::None || tex.levelCount == 1) return SampleLevel(tex.levels[first], s, linear, u, v);
  if (l > 64.0f) l = 64.0f;
  if (s.mipFilter == TextureFilter::Point) {
    std::uint32_t level = first + static_cast<std::uint32_t>(l + 0.5f);
    if (level > last) level = last;
    return SampleLevel(tex.levels[level], s, linear, u, v);
  }
  const std::uint32_t whole = static_cast<std::uint32_t>(l);
  const std::uint32_t weight = static_cast<std::uint32_t>((l - static_cast<float>(whole)) * 256.0f + 0.5f);
  std::uint32_t a = first + whole, b = a + 1;
  if (a >= last) return SampleLevel(tex.levels[last], s, linear, u, v);
  if (b > last) b = last;
  return LerpArgb(SampleLevel(tex.levels[a], s, linear, u, v), SampleLevel(tex.levels[b], s, linear, u, v), weight);
}

std::uint32_t SampleVolume(const TTextureView& tex, const SamplerSetup& s, double u, double v, double w) {
  const TVolumeView& l = tex.volume;
  if (tex.kind != TTextureKind::Volume || l.bits == nullptr || l.width == 0 || l.height == 0 || l.depth == 0 ||
      BytesPerPixel(l.format) == 0 || IsDepthFormat(l.format))
    return 0;
  if (s.magFilter == TextureFilter::Point) {
    const std::int64_t x = AddressTexel(SnapCoordinate(u, l.width, false) >> 8, l.width, s.addressU);
    const std::int64_t y = AddressTexel(SnapCoordinate(v, l.height, false) >> 8, l.height, s.addressV);
    const std::int64_t z = AddressTexel(SnapCoordinate(w, l.depth, false) >> 8, l.depth, s.addressW);
    return FetchVolume(l, x, y, z);
  }
  const std::int64_t fx = SnapCoordinate(u, l.width, true), fy = SnapCoordinate(v, l.height, true),
                     fz = SnapCoordinate(w, l.depth, true);
  const std::int64_t x0 = AddressTexel(fx >> 8, l.width, s.addressU), x1 = AddressTexel((fx >> 8) + 1, l.width, s.addressU);
  const std::int64_t y0 = AddressTexel(fy >> 8, l.height, s.addressV),
                     y1 = AddressTexel((fy >> 8) + 1, l.height, s.addressV);
  const std::int64_t z0 = AddressTexel(fz >> 8, l.depth, s.addressW), z1 = AddressTexel((fz >> 8) + 1, l.depth, s.addressW);
  const std::uint32_t wx = static_cast<std::uint32_t>(fx & 255), wy = static_cast<std::uint32_t>(fy & 255),
                      wz = static_cast<std::uint32_t>(fz & 255);
  auto slice = [&](std::int64_t z) {
    return LerpArgb(LerpArgb(FetchVolume(l, x0, y0, z), FetchVolume(l, x1, y0, z), wx),
                    LerpArgb(FetchVolume(l, x0, y1, z), FetchVolume(l, x1, y1, z), wx), wy);
  };
  return LerpArgb(slice(z0), slice(z1), wz);
}

}  // namespace plat::gfx
