#include "Platform/Gfx/GfxSampler.h"

#include <bit>
#include <cmath>
#include <cstring>

#include "Platform/Gfx/GfxPixels.h"

#if defined(__SSE2__)
#include <immintrin.h>
#endif

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

namespace {

#if defined(__SSE2__)
bool CpuHasAvx2() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return has;
}

// Four coordinates through SnapCoordinate and AddressTexel: floor(x) is
// exact here, and its 1/256 split too. CLAMP holds the index; the other
// modes need both taps inside the edge (else ok turns false).
__attribute__((target("avx2"))) inline void SnapFour(__m256d t, std::uint32_t n, bool linear, TextureAddress mode,
                                                     __m128i& i0, __m128i& i1, __m128i& w, bool& ok) {
  const __m256d limit = _mm256_set1_pd(1099511627776.0), nlimit = _mm256_set1_pd(-1099511627776.0);
  __m256d x = _mm256_mul_pd(_mm256_mul_pd(t, _mm256_set1_pd(static_cast<double>(n))), _mm256_set1_pd(256.0));
  if (linear) x = _mm256_sub_pd(x, _mm256_set1_pd(128.0));
  x = _mm256_add_pd(x, _mm256_set1_pd(0.5));
  const __m256d nan = _mm256_cmp_pd(x, x, _CMP_UNORD_Q);
  x = _mm256_blendv_pd(x, nlimit, _mm256_cmp_pd(x, nlimit, _CMP_NGT_UQ));
  x = _mm256_blendv_pd(x, _mm256_set1_pd(0.5), nan);
  x = _mm256_min_pd(limit, x);
  const __m256d f = _mm256_floor_pd(x);
  const __m256d hi = _mm256_floor_pd(_mm256_mul_pd(f, _mm256_set1_pd(1.0 / 256.0)));
  const __m256d hi1 = linear ? _mm256_add_pd(hi, _mm256_set1_pd(1.0)) : hi;
  const __m256d zero = _mm256_setzero_pd(), last = _mm256_set1_pd(static_cast<double>(n) - 1.0);
  if (mode != TextureAddress::Clamp) {
    const __m256d in = _mm256_and_pd(_mm256_cmp_pd(hi, zero, _CMP_GE_OQ), _mm256_cmp_pd(hi1, last, _CMP_LE_OQ));
    ok = ok && _mm256_movemask_pd(in) == 15;
  }
  i0 = _mm256_cvttpd_epi32(_mm256_min_pd(_mm256_max_pd(hi, zero), last));
  i1 = _mm256_cvttpd_epi32(_mm256_min_pd(_mm256_max_pd(hi1, zero), last));
  w = _mm256_cvttpd_epi32(_mm256_sub_pd(f, _mm256_mul_pd(hi, _mm256_set1_pd(256.0))));
}

// LerpArgb per channel in 16-bit lanes.
__attribute__((target("avx2"))) inline __m256i LerpLanes(__m256i a, __m256i b, __m256i f) {
  const __m256i g = _mm256_sub_epi16(_mm256_set1_epi16(256), f);
  return _mm256_srli_epi16(
      _mm256_add_epi16(_mm256_add_epi16(_mm256_mullo_epi16(a, g), _mm256_mullo_epi16(b, f)), _mm256_set1_epi16(128)),
      8);
}

// SampleLevel on a 32-bit level, eight coordinates at a time; returns where
// it stopped. Groups with a tap outside a non-CLAMP edge go one by one.
__attribute__((target("avx2"))) std::size_t SampleSpanAvx2(const TSurfaceView& l, const SamplerSetup& s, bool linear,
                                                           const float* u, const float* v, std::size_t n,
                                                           std::uint32_t fillValue, std::uint32_t* out) {
  const __m256i pitch8 = _mm256_set1_epi32(l.pitch), fill8 = _mm256_set1_epi32(static_cast<int>(fillValue));
  const __m256i zero = _mm256_setzero_si256(), ones = _mm256_set1_epi32(0x00010001);
  const int* bits = reinterpret_cast<const int*>(l.bits);
  std::size_t i = 0;
  // A span along a row reads the same v everywhere: its rows and weight once.
  bool sameV = n >= 8;
  for (std::size_t j = 1; j < n && sameV; ++j) sameV = std::bit_cast<std::uint32_t>(v[j]) == std::bit_cast<std::uint32_t>(v[0]);
  if (sameV) {
    const std::int64_t fy = SnapCoordinate(v[0], l.height, linear);
    const std::int64_t y0 = AddressTexel(fy >> 8, l.height, s.addressV);
    const std::int64_t y1 = linear ? AddressTexel((fy >> 8) + 1, l.height, s.addressV) : y0;
    const std::uint32_t wy = linear ? static_cast<std::uint32_t>(fy & 255) : 0;
    const int* top = reinterpret_cast<const int*>(l.bits + y0 * l.pitch);
    const int* bottom = reinterpret_cast<const int*>(l.bits + y1 * l.pitch);
    const __m256i wyv = _mm256_set1_epi16(static_cast<short>(wy));
    for (; i + 8 <= n; i += 8) {
      __m128i xi0[2], xi1[2], wxs[2];
      bool ok = true;
      for (int h = 0; h < 2; ++h)
        SnapFour(_mm256_cvtps_pd(_mm_loadu_ps(u + i + 4 * h)), l.width, linear, s.addressU, xi0[h], xi1[h], wxs[h], ok);
      if (!ok) {
        for (std::size_t j = i; j < i + 8; ++j) out[j] = SampleLevel(l, s, linear, u[j], v[j]);
        continue;
      }
      const __m256i c0 = _mm256_set_m128i(xi0[1], xi0[0]);
      const __m256i t00 = _mm256_or_si256(_mm256_i32gather_epi32(top, c0, 4), fill8);
      if (!linear) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), t00);
        continue;
      }
      const __m256i c1 = _mm256_set_m128i(xi1[1], xi1[0]);
      const __m256i t01 = _mm256_or_si256(_mm256_i32gather_epi32(top, c1, 4), fill8);
      const __m256i wx2 = _mm256_mullo_epi32(_mm256_set_m128i(wxs[1], wxs[0]), ones);
      const __m256i wxLo = _mm256_unpacklo_epi32(wx2, wx2), wxHi = _mm256_unpackhi_epi32(wx2, wx2);
      __m256i lo = LerpLanes(_mm256_unpacklo_epi8(t00, zero), _mm256_unpacklo_epi8(t01, zero), wxLo);
      __m256i hi = LerpLanes(_mm256_unpackhi_epi8(t00, zero), _mm256_unpackhi_epi8(t01, zero), wxHi);
      if (wy != 0) {
        const __m256i t10 = _mm256_or_si256(_mm256_i32gather_epi32(bottom, c0, 4), fill8);
        const __m256i t11 = _mm256_or_si256(_mm256_i32gather_epi32(bottom, c1, 4), fill8);
        lo = LerpLanes(lo, LerpLanes(_mm256_unpacklo_epi8(t10, zero), _mm256_unpacklo_epi8(t11, zero), wxLo), wyv);
        hi = LerpLanes(hi, LerpLanes(_mm256_unpackhi_epi8(t10, zero), _mm256_unpackhi_epi8(t11, zero), wxHi), wyv);
      }
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_packus_epi16(lo, hi));
    }
    return i;
  }
  for (; i + 8 <= n; i += 8) {
    __m128i xi0[2], xi1[2], wxs[2], yi0[2], yi1[2], wys[2];
    bool ok = true;
    for (int h = 0; h < 2; ++h) {
      const __m256d uu = _mm256_cvtps_pd(_mm_loadu_ps(u + i + 4 * h));
      const __m256d vv = _mm256_cvtps_pd(_mm_loadu_ps(v + i + 4 * h));
      SnapFour(uu, l.width, linear, s.addressU, xi0[h], xi1[h], wxs[h], ok);
      SnapFour(vv, l.height, linear, s.addressV, yi0[h], yi1[h], wys[h], ok);
    }
    if (!ok) {
      for (std::size_t j = i; j < i + 8; ++j) out[j] = SampleLevel(l, s, linear, u[j], v[j]);
      continue;
    }
    const __m256i row0 = _mm256_mullo_epi32(_mm256_set_m128i(yi0[1], yi0[0]), pitch8);
    const __m256i c0 = _mm256_slli_epi32(_mm256_set_m128i(xi0[1], xi0[0]), 2);
    const __m256i t00 = _mm256_or_si256(_mm256_i32gather_epi32(bits, _mm256_add_epi32(row0, c0), 1), fill8);
    if (!linear) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), t00);
      continue;
    }
    const __m256i row1 = _mm256_mullo_epi32(_mm256_set_m128i(yi1[1], yi1[0]), pitch8);
    const __m256i c1 = _mm256_slli_epi32(_mm256_set_m128i(xi1[1], xi1[0]), 2);
    const __m256i t01 = _mm256_or_si256(_mm256_i32gather_epi32(bits, _mm256_add_epi32(row0, c1), 1), fill8);
    const __m256i t10 = _mm256_or_si256(_mm256_i32gather_epi32(bits, _mm256_add_epi32(row1, c0), 1), fill8);
    const __m256i t11 = _mm256_or_si256(_mm256_i32gather_epi32(bits, _mm256_add_epi32(row1, c1), 1), fill8);
    const __m256i wx2 = _mm256_mullo_epi32(_mm256_set_m128i(wxs[1], wxs[0]), ones);
    const __m256i wy2 = _mm256_mullo_epi32(_mm256_set_m128i(wys[1], wys[0]), ones);
    const __m256i wxLo = _mm256_unpacklo_epi32(wx2, wx2), wxHi = _mm256_unpackhi_epi32(wx2, wx2);
    const __m256i wyLo = _mm256_unpacklo_epi32(wy2, wy2), wyHi = _mm256_unpackhi_epi32(wy2, wy2);
    const __m256i topLo = LerpLanes(_mm256_unpacklo_epi8(t00, zero), _mm256_unpacklo_epi8(t01, zero), wxLo);
    const __m256i topHi = LerpLanes(_mm256_unpackhi_epi8(t00, zero), _mm256_unpackhi_epi8(t01, zero), wxHi);
    const __m256i botLo = LerpLanes(_mm256_unpacklo_epi8(t10, zero), _mm256_unpacklo_epi8(t11, zero), wxLo);
    const __m256i botHi = LerpLanes(_mm256_unpackhi_epi8(t10, zero), _mm256_unpackhi_epi8(t11, zero), wxHi);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i),
                        _mm256_packus_epi16(LerpLanes(topLo, botLo, wyLo), LerpLanes(topHi, botHi, wyHi)));
  }
  return i;
}

// SnapColumns four at a time; groups with a tap outside a non-CLAMP edge
// go one by one.
__attribute__((target("avx2"))) std::size_t SnapColumnsAvx2(std::uint32_t width, TextureAddress mode, bool linear,
                                                            const float* u, std::size_t n, std::int32_t* i0,
                                                            std::int32_t* i1, std::int32_t* w) {
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    __m128i a, b, c;
    bool ok = true;
    SnapFour(_mm256_cvtps_pd(_mm_loadu_ps(u + i)), width, linear, mode, a, b, c, ok);
    if (!ok) {
      for (std::size_t j = i; j < i + 4; ++j) {
        const std::int64_t f = SnapCoordinate(u[j], width, linear);
        i0[j] = static_cast<std::int32_t>(AddressTexel(f >> 8, width, mode));
        i1[j] = linear ? static_cast<std::int32_t>(AddressTexel((f >> 8) + 1, width, mode)) : i0[j];
        w[j] = linear ? static_cast<std::int32_t>(f & 255) : 0;
      }
      continue;
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(i0 + i), a);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(i1 + i), b);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(w + i), linear ? c : _mm_setzero_si128());
  }
  return i;
}

// One texel row filtered across at prepared columns, eight at a time.
__attribute__((target("avx2"))) std::size_t FilterRowAvx2(const int* row, bool linear, std::uint32_t fill,
                                                          const std::int32_t* i0, const std::int32_t* i1,
                                                          const std::int32_t* w, std::size_t n, std::uint32_t* out) {
  const __m256i fill8 = _mm256_set1_epi32(static_cast<int>(fill)), zero = _mm256_setzero_si256();
  const __m256i ones = _mm256_set1_epi32(0x00010001);
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256i c0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(i0 + i));
    const __m256i t0 = _mm256_or_si256(_mm256_i32gather_epi32(row, c0, 4), fill8);
    if (!linear) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), t0);
      continue;
    }
    const __m256i c1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(i1 + i));
    const __m256i t1 = _mm256_or_si256(_mm256_i32gather_epi32(row, c1, 4), fill8);
    const __m256i wx2 = _mm256_mullo_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(w + i)), ones);
    const __m256i wxLo = _mm256_unpacklo_epi32(wx2, wx2), wxHi = _mm256_unpackhi_epi32(wx2, wx2);
    const __m256i lo = LerpLanes(_mm256_unpacklo_epi8(t0, zero), _mm256_unpacklo_epi8(t1, zero), wxLo);
    const __m256i hi = LerpLanes(_mm256_unpackhi_epi8(t0, zero), _mm256_unpackhi_epi8(t1, zero), wxHi);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_packus_epi16(lo, hi));
  }
  return i;
}

__attribute__((target("avx2"))) std::size_t LerpRowsAvx2(const std::uint32_t* top, const std::uint32_t* bottom,
                                                         std::uint32_t wy, std::size_t n, std::uint32_t* out) {
  const __m256i zero = _mm256_setzero_si256(), f = _mm256_set1_epi16(static_cast<short>(wy));
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(top + i));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bottom + i));
    const __m256i lo = LerpLanes(_mm256_unpacklo_epi8(a, zero), _mm256_unpacklo_epi8(b, zero), f);
    const __m256i hi = LerpLanes(_mm256_unpackhi_epi8(a, zero), _mm256_unpackhi_epi8(b, zero), f);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_packus_epi16(lo, hi));
  }
  return i;
}
#endif

}  // namespace

const TSurfaceView* VectorLevel(const TTextureView& tex, const SamplerSetup& s, bool& linear, std::uint32_t& fill) {
  if (tex.kind != TTextureKind::Texture2D || tex.levelCount == 0) return nullptr;
  // At lod 0 only the bias can leave level 0 and the magnification filter.
  if (SamplerNeedsLod(tex, s) && 0.0f + s.lodBias > 0.0f) return nullptr;
  const TSurfaceView& l = tex.levels[0];
  linear = s.magFilter != TextureFilter::Point;
  fill = l.format == Format::X8R8G8B8 ? 0xFF000000u : 0;
#if defined(__SSE2__)
  const bool argb = l.format == Format::A8R8G8B8 || l.format == Format::X8R8G8B8;
  if (argb && LevelUsable(l) && l.pitch > 0 && l.width < (1u << 24) && l.height < (1u << 24) &&
      (static_cast<std::int64_t>(l.height) - 1) * l.pitch + static_cast<std::int64_t>(l.width) * 4 < (1ll << 31) &&
      CpuHasAvx2())
    return &l;
#endif
  return nullptr;
}

void SnapColumns(const TSurfaceView& l, const SamplerSetup& s, bool linear, const float* u, std::size_t n,
                 std::int32_t* i0, std::int32_t* i1, std::int32_t* w) {
  std::size_t i = 0;
#if defined(__SSE2__)
  if (CpuHasAvx2() && l.width < (1u << 24)) i = SnapColumnsAvx2(l.width, s.addressU, linear, u, n, i0, i1, w);
#endif
  for (; i < n; ++i) {
    const std::int64_t f = SnapCoordinate(u[i], l.width, linear);
    i0[i] = static_cast<std::int32_t>(AddressTexel(f >> 8, l.width, s.addressU));
    i1[i] = linear ? static_cast<std::int32_t>(AddressTexel((f >> 8) + 1, l.width, s.addressU)) : i0[i];
    w[i] = linear ? static_cast<std::int32_t>(f & 255) : 0;
  }
}

void SnapRow(const TSurfaceView& l, const SamplerSetup& s, bool linear, double v, std::int64_t& y0, std::int64_t& y1,
             std::uint32_t& wy) {
  const std::int64_t fy = SnapCoordinate(v, l.height, linear);
  y0 = AddressTexel(fy >> 8, l.height, s.addressV);
  y1 = linear ? AddressTexel((fy >> 8) + 1, l.height, s.addressV) : y0;
  wy = linear ? static_cast<std::uint32_t>(fy & 255) : 0;
}

void FilterRowColumns(const TSurfaceView& l, bool linear, std::uint32_t fill, std::int64_t y, const std::int32_t* i0,
                      const std::int32_t* i1, const std::int32_t* w, std::size_t n, std::uint32_t* out) {
  const std::uint32_t* row = reinterpret_cast<const std::uint32_t*>(l.bits + y * l.pitch);
  std::size_t i = 0;
#if defined(__SSE2__)
  if (CpuHasAvx2()) i = FilterRowAvx2(reinterpret_cast<const int*>(row), linear, fill, i0, i1, w, n, out);
#endif
  for (; i < n; ++i) {
    std::uint32_t t0, t1;
    std::memcpy(&t0, row + i0[i], 4);
    if (!linear) {
      out[i] = t0 | fill;
      continue;
    }
    std::memcpy(&t1, row + i1[i], 4);
    out[i] = LerpArgb(t0 | fill, t1 | fill, static_cast<std::uint32_t>(w[i]));
  }
}

void LerpRows(const std::uint32_t* top, const std::uint32_t* bottom, std::uint32_t wy, std::size_t n,
              std::uint32_t* out) {
  std::size_t i = 0;
#if defined(__SSE2__)
  if (CpuHasAvx2()) i = LerpRowsAvx2(top, bottom, wy, n, out);
#endif
  for (; i < n; ++i) out[i] = LerpArgb(top[i], bottom[i], wy);
}

void Sample2DSpan(const TTextureView& tex, const SamplerSetup& s, const float* u, const float* v, std::size_t n,
                  std::uint32_t* out) {
  std::size_t i = 0;
  bool linear = false;
  std::uint32_t fill = 0;
#if defined(__SSE2__)
  if (const TSurfaceView* l = VectorLevel(tex, s, linear, fill)) i = SampleSpanAvx2(*l, s, linear, u, v, n, fill, out);
#endif
  for (; i < n; ++i) out[i] = Sample2D(tex, s, u[i], v[i], 0.0f);
}

}  // namespace plat::gfx
