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

namespace plat::gfx {
namespace {

constexpr std::size_t kSpanChunk = 64;

// The byte of channel `shift` inside a texel of a level format, or -1.
int ChannelByte(Format f, int shift) {
  if (shift != 0 && shift != 8 && shift != 16 && shift != 24) return -1;
  switch (f) {
    case Format::L8: return shift == 24 ? -1 : 0;
    case Format::A8R8G8B8: return shift / 8;
    case Format::X8R8G8B8: return shift == 24 ? -1 : shift / 8;
    default: return -1;
  }
}

inline std::uint32_t LerpByte(std::uint32_t a, std::uint32_t b, std::uint32_t f) {
  return (a * (256 - f) + b * f + 128) >> 8;
}

#if defined(__SSE2__)
__attribute__((target("avx2"))) inline __m256i Bytes8(const std::uint8_t* p) {
  return _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
}
__attribute__((target("avx2"))) inline __m256i Load8(const void* p) {
  return _mm256_loadu_si256(static_cast<const __m256i*>(p));
}
// Per-pixel weights spread over the four 16-bit channels of each texel.
__attribute__((target("avx2"))) inline void Spread(__m256i w, __m256i& lo, __m256i& hi) {
  const __m256i w2 = _mm256_mullo_epi32(w, _mm256_set1_epi32(0x00010001));
  lo = _mm256_unpacklo_epi32(w2, w2);
  hi = _mm256_unpackhi_epi32(w2, w2);
}
// One slice of eight reads: the bilinear lerp of its four texels, as lo and hi halves.
__attribute__((target("avx2"))) inline void LatticeSlice(const int* bits, __m256i fill8, __m256i x0, __m256i x1,
                                                         __m256i y0, __m256i y1, __m256i zo, __m256i wxLo,
                                                         __m256i wxHi, __m256i wyLo, __m256i wyHi, __m256i& lo,
                                                         __m256i& hi) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i r0 = _mm256_add_epi32(y0, zo), r1 = _mm256_add_epi32(y1, zo);
  const __m256i t00 = _mm256_or_si256(_mm256_i32gather_epi32(bits, _mm256_add_epi32(r0, x0), 1), fill8);
  const __m256i t01 = _mm256_or_si256(_mm256_i32gather_epi32(bits, _mm256_add_epi32(r0, x1), 1), fill8);
  const __m256i t10 = _mm256_or_si256(_mm256_i32gather_epi32(bits, _mm256_add_epi32(r1, x0), 1), fill8);
  const __m256i t11 = _mm256_or_si256(_mm256_i32gather_epi32(bits, _mm256_add_epi32(r1, x1), 1), fill8);
  const __m256i aLo = LerpLanes(_mm256_unpacklo_epi8(t00, zero), _mm256_unpacklo_epi8(t01, zero), wxLo);
  const __m256i aHi = LerpLanes(_mm256_unpackhi_epi8(t00, zero), _mm256_unpackhi_epi8(t01, zero), wxHi);
  const __m256i bLo = LerpLanes(_mm256_unpacklo_epi8(t10, zero), _mm256_unpacklo_epi8(t11, zero), wxLo);
  const __m256i bHi = LerpLanes(_mm256_unpackhi_epi8(t10, zero), _mm256_unpackhi_epi8(t11, zero), wxHi);
  lo = LerpLanes(aLo, bLo, wyLo);
  hi = LerpLanes(aHi, bHi, wyHi);
}

__attribute__((target("avx2"))) inline __m256i LerpWords(__m256i a, __m256i b, __m256i g, __m256i f, __m256i half) {
  const __m256i sum = _mm256_add_epi32(_mm256_mullo_epi16(a, g), _mm256_mullo_epi16(b, f));
  return _mm256_srli_epi32(_mm256_add_epi32(sum, half), 8);
}

// The bilinear byte lerp of Sample2DChannelSpan, eight texels at a time; the
// products stay inside 16 bits, so 16-bit multiplies on 32-bit lanes do.
__attribute__((target("avx2"))) std::size_t LerpBytesAvx2(const std::uint8_t* top, const std::uint8_t* bottom,
                                                          std::int32_t bpp, const std::int32_t* i0,
                                                          const std::int32_t* i1, const std::int32_t* w,
                                                          std::uint32_t wy, std::size_t n, std::uint8_t* out) {
  const __m256i mask = _mm256_set1_epi32(255), full = _mm256_set1_epi32(256), half = _mm256_set1_epi32(128);
  const __m256i step = _mm256_set1_epi32(bpp);
  const __m256i fy = _mm256_set1_epi32(static_cast<int>(wy)), gy = _mm256_sub_epi32(full, fy);
  const int* t = reinterpret_cast<const int*>(top);
  const int* b = reinterpret_cast<const int*>(bottom);
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256i c0 = _mm256_mullo_epi32(Load8(i0 + i), step), c1 = _mm256_mullo_epi32(Load8(i1 + i), step);
    const __m256i fx = Load8(w + i), gx = _mm256_sub_epi32(full, fx);
    const __m256i t0 = _mm256_and_si256(_mm256_i32gather_epi32(t, c0, 1), mask);
    const __m256i t1 = _mm256_and_si256(_mm256_i32gather_epi32(t, c1, 1), mask);
    const __m256i b0 = _mm256_and_si256(_mm256_i32gather_epi32(b, c0, 1), mask);
    const __m256i b1 = _mm256_and_si256(_mm256_i32gather_epi32(b, c1, 1), mask);
    const __m256i r = LerpWords(LerpWords(t0, t1, gx, fx, half), LerpWords(b0, b1, gx, fx, half), gy, fy, half);
    const __m128i r16 = _mm_packus_epi32(_mm256_castsi256_si128(r), _mm256_extracti128_si256(r, 1));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(r16, r16));
  }
  return i;
}

__attribute__((target("avx2"))) std::size_t SampleLatticeAvx2(const VolumeLattice& l, const std::uint8_t* x,
                                                              const std::uint8_t* y, const std::uint8_t* z,
                                                              const VolumeZTaps* zTaps, std::size_t n,
                                                              std::uint32_t* out) {
  const int* bits = reinterpret_cast<const int*>(l.view.bits);
  const __m256i fill8 = _mm256_set1_epi32(static_cast<int>(l.fill));
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256i bx = Bytes8(x + i), by = Bytes8(y + i);
    const __m256i x0 = _mm256_i32gather_epi32(l.o0[0], bx, 4), x1 = _mm256_i32gather_epi32(l.o1[0], bx, 4);
    const __m256i y0 = _mm256_i32gather_epi32(l.o0[1], by, 4), y1 = _mm256_i32gather_epi32(l.o1[1], by, 4);
    __m256i z0, z1, wz;
    if (zTaps != nullptr) {
      z0 = Load8(zTaps->o0 + i);
      z1 = Load8(zTaps->o1 + i);
      wz = Load8(zTaps->w + i);
    } else {
      const __m256i bz = Bytes8(z + i);
      z0 = _mm256_i32gather_epi32(l.o0[2], bz, 4);
      z1 = _mm256_i32gather_epi32(l.o1[2], bz, 4);
      wz = _mm256_i32gather_epi32(l.w[2], bz, 4);
    }
    __m256i wxLo, wxHi, wyLo, wyHi, wzLo, wzHi;
    Spread(_mm256_i32gather_epi32(l.w[0], bx, 4), wxLo, wxHi);
    Spread(_mm256_i32gather_epi32(l.w[1], by, 4), wyLo, wyHi);
    Spread(wz, wzLo, wzHi);
    __m256i s0Lo, s0Hi, s1Lo, s1Hi;
    LatticeSlice(bits, fill8, x0, x1, y0, y1, z0, wxLo, wxHi, wyLo, wyHi, s0Lo, s0Hi);
    LatticeSlice(bits, fill8, x0, x1, y0, y1, z1, wxLo, wxHi, wyLo, wyHi, s1Lo, s1Hi);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i),
                        _mm256_packus_epi16(LerpLanes(s0Lo, s1Lo, wzLo), LerpLanes(s0Hi, s1Hi, wzHi)));
  }
  return i;
}
#endif

}  // namespace

void Sample2DChannelSpan(const TTextureView& tex, const SamplerSetup& s, const float* u, const float* v, std::size_t n,
                         int shift, std::uint8_t* out, ChannelColumns& c) {
  // Without an early exit the compare runs eight lanes at a time.
  std::uint32_t differ = 0;
  for (std::size_t j = 1; j < n; ++j) differ |= std::bit_cast<std::uint32_t>(v[j]) ^ std::bit_cast<std::uint32_t>(v[0]);
  const bool sameV = n > 0 && differ == 0;
  const bool level0 = tex.kind == TTextureKind::Texture2D && tex.levelCount > 0 &&
                      !(SamplerNeedsLod(tex, s) && 0.0f + s.lodBias > 0.0f);
  const int at = level0 ? ChannelByte(tex.levels[0].format, shift) : -1;
  if (!sameV || at < 0 || n > kSpanChunk || !LevelUsable(tex.levels[0])) {
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(Sample2D(tex, s, u[i], v[i], 0.0f) >> shift);
    return;
  }
  const TSurfaceView& l = tex.levels[0];
  const bool linear = s.magFilter != TextureFilter::Point;
  if (c.count != n || c.width != l.width || c.address != s.addressU || c.linear != linear ||
      std::memcmp(c.u, u, n * sizeof(float)) != 0) {
    c.count = 0;  // not valid while it is being made
    SnapColumns(l, s, linear, u, n, c.i0, c.i1, c.w);
    std::int32_t any = 0;
    for (std::size_t i = 0; i < n; ++i) any |= c.w[i];
    std::memcpy(c.u, u, n * sizeof(float));
    c.width = l.width;
    c.address = s.addressU;
    c.linear = linear;
    c.unweighted = any == 0;
    c.count = n;
  }
  const std::size_t bpp = BytesPerPixel(l.format);
  std::int64_t y0, y1;
  std::uint32_t wy;
  SnapRow(l, s, linear, v[0], y0, y1, wy);
  const std::uint8_t* top = l.bits + y0 * l.pitch + at;
  const std::uint8_t* bottom = l.bits + y1 * l.pitch + at;
  // Texel centres on pixel centres: the lerps by 0 give the texels.
  if (c.unweighted && wy == 0) {
    for (std::size_t i = 0; i < n; ++i) out[i] = top[static_cast<std::size_t>(c.i0[i]) * bpp];
    return;
  }
  std::size_t i = 0;
#if defined(__SSE2__)
  // Four-byte reads from a texel's byte stay inside the level below its last row.
  if (CpuHasAvx2() && y0 + 1 < static_cast<std::int64_t>(l.height) && y1 + 1 < static_cast<std::int64_t>(l.height) &&
      l.pitch > 0)
    i = LerpBytesAvx2(top, bottom, static_cast<std::int32_t>(bpp), c.i0, c.i1, c.w, wy, n, out);
#endif
  for (; i < n; ++i) {
    const std::size_t a = static_cast<std::size_t>(c.i0[i]) * bpp, b = static_cast<std::size_t>(c.i1[i]) * bpp;
    const std::uint32_t f = static_cast<std::uint32_t>(c.w[i]);
    out[i] = static_cast<std::uint8_t>(LerpByte(LerpByte(top[a], top[b], f), LerpByte(bottom[a], bottom[b], f), wy));
  }
}

void VolumeAxisTaps(const VolumeLattice& l, int k, float c, std::int32_t& o0, std::int32_t& o1, std::uint32_t& w) {
  const std::uint32_t n = k == 0 ? l.view.width : k == 1 ? l.view.height : l.view.depth;
  const std::int64_t stride = k == 0 ? 4 : k == 1 ? l.view.rowPitch : l.view.slicePitch;
  const std::int64_t f = SnapCoordinate(c, n, l.linear);
  o0 = static_cast<std::int32_t>(AddressTexel(f >> 8, n, l.address[k]) * stride);
  o1 = l.linear ? static_cast<std::int32_t>(AddressTexel((f >> 8) + 1, n, l.address[k]) * stride) : o0;
  w = l.linear ? static_cast<std::uint32_t>(f & 255) : 0;
}

bool PrepareVolumeLattice(const TTextureView& tex, const SamplerSetup& s, float scale, float offset, VolumeLattice& l) {
  const TVolumeView& v = tex.volume;
  const bool linear = s.magFilter != TextureFilter::Point;
  if (l.direct && tex.kind == TTextureKind::Volume && v.bits == l.view.bits && v.rowPitch == l.view.rowPitch &&
      v.slicePitch == l.view.slicePitch && v.width == l.view.width && v.height == l.view.height &&
      v.depth == l.view.depth && v.format == l.view.format && s.addressU == l.address[0] &&
      s.addressV == l.address[1] && s.addressW == l.address[2] && linear == l.linear &&
      std::bit_cast<std::uint32_t>(scale) == std::bit_cast<std::uint32_t>(l.scale) &&
      std::bit_cast<std::uint32_t>(offset) == std::bit_cast<std::uint32_t>(l.offset))
    return true;
  l.direct = false;
  constexpr std::uint32_t kMaxSide = 1u << 20;
  if (tex.kind != TTextureKind::Volume || v.bits == nullptr || v.width == 0 || v.height == 0 || v.depth == 0 ||
      v.width > kMaxSide || v.height > kMaxSide || v.depth > kMaxSide ||
      (v.format != Format::A8R8G8B8 && v.format != Format::X8R8G8B8) ||
      v.rowPitch < 4 * static_cast<std::int64_t>(v.width) ||
      v.slicePitch < static_cast<std::int64_t>(v.rowPitch) * v.height)
    return false;
  // Every offset, and the sum of three, stays an int32 for the gathers.
  const std::int64_t last = (static_cast<std::int64_t>(v.depth) - 1) * v.slicePitch +
                            (static_cast<std::int64_t>(v.height) - 1) * v.rowPitch +
                            4 * (static_cast<std::int64_t>(v.width) - 1);
  if (last >= (1ll << 31) - 4) return false;
  l.view = v;
  l.address[0] = s.addressU;
  l.address[1] = s.addressV;
  l.address[2] = s.addressW;
  l.linear = linear;
  l.scale = scale;
  l.offset = offset;
  l.fill = v.format == Format::X8R8G8B8 ? 0xFF000000u : 0;
  for (int k = 0; k < 3; ++k)
    for (std::uint32_t b = 0; b < 256; ++b) {
      const float c = static_cast<float>(b) / 255.0f * scale + offset;
      std::uint32_t w;
      VolumeAxisTaps(l, k, c, l.o0[k][b], l.o1[k][b], w);
      l.w[k][b] = static_cast<std::int32_t>(w);
    }
  l.direct = true;
  return true;
}

void SampleVolumeLattice(const VolumeLattice& l, const std::uint8_t* x, const std::uint8_t* y, const std::uint8_t* z,
                         const VolumeZTaps* zTaps, std::size_t n, std::uint32_t* out) {
  if (!l.direct) {
    for (std::size_t i = 0; i < n; ++i) out[i] = 0;
    return;
  }
  std::size_t i = 0;
#if defined(__SSE2__)
  if (CpuHasAvx2()) i = SampleLatticeAvx2(l, x, y, z, zTaps, n, out);
#endif
  const std::uint8_t* bits = l.view.bits;
  const auto fetch = [&](std::int32_t o) {
    std::uint32_t t;
    std::memcpy(&t, bits + o, 4);
    return t | l.fill;
  };
  for (; i < n; ++i) {
    const std::int32_t x0 = l.o0[0][x[i]], x1 = l.o1[0][x[i]], y0 = l.o0[1][y[i]], y1 = l.o1[1][y[i]];
    const std::uint32_t wx = static_cast<std::uint32_t>(l.w[0][x[i]]), wy = static_cast<std::uint32_t>(l.w[1][y[i]]);
    std::int32_t z0, z1;
    std::uint32_t wz;
    if (zTaps != nullptr) {
      z0 = zTaps->o0[i];
      z1 = zTaps->o1[i];
      wz = zTaps->w[i];
    } else {
      z0 = l.o0[2][z[i]];
      z1 = l.o1[2][z[i]];
      wz = static_cast<std::uint32_t>(l.w[2][z[i]]);
    }
    const auto slice = [&](std::int32_t zo) {
      return LerpArgb(LerpArgb(fetch(x0 + y0 + zo), fetch(x1 + y0 + zo), wx),
                      LerpArgb(fetch(x0 + y1 + zo), fetch(x1 + y1 + zo), wx), wy);
    };
    out[i] = LerpArgb(slice(z0), slice(z1), wz);
  }
}

}  // namespace plat::gfx
