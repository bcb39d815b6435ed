#include "Platform/Gfx/GfxRaster.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#include "Platform/Gfx/GfxPixels.h"
#include "Platform/Gfx/GfxWorkers.h"

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace plat::gfx {
namespace {

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {  // b > 0
  const std::int64_t q = a / b;
  return (a % b != 0 && a < 0) ? q - 1 : q;
}
std::int64_t CeilDiv(std::int64_t a, std::int64_t b) { return -FloorDiv(-a, b); }

std::uint32_t ToByte(double v) {
  if (!(v > 0)) return 0;  // NaN too
  if (v >= 255) return 255;
  return static_cast<std::uint32_t>(v + 0.5);
}

std::int32_t Hold32(std::int64_t v, std::int32_t lo, std::int32_t hi) {
  return static_cast<std::int32_t>(v < lo ? lo : (v > hi ? hi : v));
}

// Plane through three points (positions exact in double).
Plane MakePlane(const double* x, const double* y, double q0, double q1, double q2, double det) {
  Plane p;
  const double d1 = q1 - q0, d2 = q2 - q0;
  p.a = (d1 * (y[2] - y[0]) - d2 * (y[1] - y[0])) / det;
  p.b = (d2 * (x[1] - x[0]) - d1 * (x[2] - x[0])) / det;
  p.c = q0 - p.a * x[0] - p.b * y[0];
  return p;
}

// The span path reads and writes whole 32-bit pixels.
bool Aligned4(const void* p, std::int32_t pitch) {
  return reinterpret_cast<std::uintptr_t>(p) % 4 == 0 && pitch % 4 == 0;
}

bool IsArgbTarget(Format f) { return f == Format::A8R8G8B8 || f == Format::X8R8G8B8; }

std::uint32_t Diffuse(const TriangleSetup& t, double px, double py, double rw) {
  return ToByte(t.attr[0].At(px, py) / rw) << 24 | ToByte(t.attr[1].At(px, py) / rw) << 16 |
         ToByte(t.attr[2].At(px, py) / rw) << 8 | ToByte(t.attr[3].At(px, py) / rw);
}

double SafeRhw(const TriangleSetup& t, double px, double py) {
  const double rw = t.rhw.At(px, py);
  return rw > 1e-300 ? rw : 1e-300;  // only pixels grazing a snapped edge can go there
}

float Lod(const TriangleSetup& t, const TSurfaceView& level0, std::uint32_t uo, std::uint32_t vo, bool hasV,
          double u, double v, double rw) {
  const double w = level0.width, h = level0.height;
  const double dudx = (t.attr[uo].a - u * t.rhw.a) / rw * w, dudy = (t.attr[uo].b - u * t.rhw.b) / rw * w;
  const double dvdx = hasV ? (t.attr[vo].a - v * t.rhw.a) / rw * h : 0.0;
  const double dvdy = hasV ? (t.attr[vo].b - v * t.rhw.b) / rw * h : 0.0;
  const double rx = dudx * dudx + dvdx * dvdx, ry = dudy * dudy + dvdy * dvdy;
  const double rho2 = rx > ry ? rx : ry;
  if (!(rho2 > 0)) return 0.0f;
  return static_cast<float>(0.5 * std::log2(rho2));
}

std::uint32_t ShadePixel(const TriangleSetup& t, const PixelState& ps, std::int32_t x, std::int32_t y) {
  const double px = x, py = y;
  const double rw = SafeRhw(t, px, py);
  const std::uint32_t diffuse = t.constantDiffuse ? t.diffuse : Diffuse(t, px, py, rw);
  std::uint32_t current = diffuse;
  for (std::uint32_t s = 0; s < ps.stageCount; ++s) {
    const StageSetup& st = ps.stages[s];
    const TTextureView& tex = *ps.textures[s];
    double u = 0, v = 0, w = 0;
    std::uint32_t uo = 0, size = 0;
    if (st.texCoordIndex < ps.layout.texCount) {
      uo = ps.layout.attrOffset[st.texCoordIndex];
      size = ps.layout.texSize[st.texCoordIndex];
      u = t.attr[uo].At(px, py) / rw;
      if (size >= 2) v = t.attr[uo + 1].At(px, py) / rw;
      if (size >= 3) w = t.attr[uo + 2].At(px, py) / rw;
    }
    std::uint32_t texel;
    if (tex.kind == TTextureKind::Volume) {
      texel = SampleVolume(tex, ps.samplers[s], u, v, w);
    } else {
      const float lod = ps.needsLod[s] && size > 0 ? Lod(t, tex.levels[0], uo, uo + 1, size >= 2, u, v, rw) : 0.0f;
      texel = Sample2D(tex, ps.samplers[s], u, v, lod);
    }
    // At stage 0 current is the diffuse colour, so the common set-ups reduce to this.
    if (s == 0 && ps.stage0Kind == 1)
      current = texel;
    else if (s == 0 && ps.stage0Kind == 2)
      current = (texel & 0x00FFFFFFu) | Mul255(texel >> 24, diffuse >> 24) << 24;
    else
      current = CombineStage(st, texel, current, diffuse);
  }
  return current;
}

std::uint8_t* PixelAt(const TSurfaceView& t, std::int32_t x, std::int32_t y) {
  return t.bits + static_cast<std::ptrdiff_t>(y) * t.pitch + static_cast<std::ptrdiff_t>(x) * BytesPerPixel(t.format);
}

bool StageFactor(const StageSetup& s, std::uint32_t diffuse, std::uint32_t& factor);

// The commonest states off the span path (rotated and perspective quads,
// shapes with a coverage ramp in the vertex colours): one 2D texture stage
// of 32-bit texels without mips, stage 0 as the texture with channels
// selected or modulated by the diffuse colour, any blend onto an ARGB
// target. Every pixel goes through the same operations as ShadePixel
// (b * y + c is the same value for the whole row), in batches so the plane
// evaluation vectorises, and the batch is blended by the span kernels.
struct SimpleStage {
  const TSurfaceView* level = nullptr;
  const SamplerSetup* sampler = nullptr;
  std::uint32_t uo = 0, alphaScale = 255, sourceFill = 0;
  bool linear = false, x8Target = false;
  bool gather = false;  // texel offsets fit the 32-bit gathers
  // Source-over with the colour kept: one pass of BlendSpanSourceOver.
  bool overKernel = false;
  // Otherwise texel times factor (base | diffuse, 255 keeps a channel),
  // the diffuse colour made per pixel when it varies, then BlendSpan.
  std::uint32_t base = 0xFFFFFFFFu, factor = 0xFFFFFFFFu;
  bool varying = false, varyingAlpha = false, varyingColour = false;
};

bool SimpleStageFor(const TriangleSetup& t, const PixelState& ps, SimpleStage& out) {
  if (ps.stageCount != 1 || !IsArgbTarget(ps.target.format)) return false;
  if (!Aligned4(ps.target.bits, ps.target.pitch)) return false;
  const StageSetup& st = ps.stages[0];
  std::uint32_t base = 0;
  if (!StageFactor(st, 0, base)) return false;  // modulated channels come out 0
  const TTextureView& tex = *ps.textures[0];
  const SamplerSetup& s = ps.samplers[0];
  if (tex.kind != TTextureKind::Texture2D || tex.levelCount == 0 || SamplerNeedsLod(tex, s)) return false;
  const TSurfaceView& l = tex.levels[0];
  if (!IsArgbTarget(l.format) || l.bits == nullptr || l.width == 0 || l.height == 0) return false;
  if (st.texCoordIndex >= ps.layout.texCount || ps.layout.texSize[st.texCoordIndex] < 2) return false;
  out.level = &l;
  out.sampler = &s;
  out.uo = ps.layout.attrOffset[st.texCoordIndex];
  out.sourceFill = l.format == Format::X8R8G8B8 ? 0xFF000000u : 0;
  out.linear = s.magFilter != TextureFilter::Point;
  out.x8Target = ps.target.format == Format::X8R8G8B8;
  out.gather = out.linear && l.pitch > 0 &&
               (static_cast<std::int64_t>(l.height) - 1) * l.pitch + static_cast<std::int64_t>(l.width) * 4 < (1ll << 31);
  out.base = base;
  out.varying = base != 0xFFFFFFFFu && !t.constantDiffuse;
  out.varyingAlpha = out.varying && (base >> 24) == 0;
  out.varyingColour = out.varying && (base & 0x00FFFFFFu) == 0;
  out.factor = base | t.diffuse;
  out.overKernel = !out.varying && ps.sourceOver && (out.factor & 0x00FFFFFFu) == 0x00FFFFFFu;
  out.alphaScale = out.factor >> 24;
  return true;
}

// Hints that the lines of [p, p + bytes) are wanted soon.
inline void PrefetchSpan(const void* p, std::size_t bytes) {
#if defined(__SSE2__)
  const auto* c = static_cast<const char*>(p);
  for (std::size_t o = 0; o < bytes; o += 64) _mm_prefetch(c + o, _MM_HINT_T0);
  if (bytes != 0) _mm_prefetch(c + bytes - 1, _MM_HINT_T0);
#else
  (void)p, (void)bytes;
#endif
}

constexpr std::int32_t kBatch = 256;

std::atomic<std::uint64_t> gDirectRowCount{0}, gDirectRunCount{0};

inline std::uint32_t FetchArgb(const TSurfaceView& l, std::int64_t x, std::int64_t y, std::uint32_t fill) {
  std::uint32_t v;
  std::memcpy(&v, l.bits + y * l.pitch + x * 4, 4);
  return v | fill;
}


inline std::uint32_t SampleBilinear(const SimpleStage& k, double u, double v) {
  const TSurfaceView& l = *k.level;
  const SamplerSetup& s = *k.sampler;
  const std::int64_t fx = SnapCoordinate(u, l.width, true), fy = SnapCoordinate(v, l.height, true);
  const std::int64_t tx0 = AddressTexel(fx >> 8, l.width, s.addressU);
  const std::int64_t tx1 = AddressTexel((fx >> 8) + 1, l.width, s.addressU);
  const std::int64_t ty0 = AddressTexel(fy >> 8, l.height, s.addressV);
  const std::int64_t ty1 = AddressTexel((fy >> 8) + 1, l.height, s.addressV);
  const std::uint32_t wx = static_cast<std::uint32_t>(fx & 255), wy = static_cast<std::uint32_t>(fy & 255);
  const std::uint32_t top = LerpArgb(FetchArgb(l, tx0, ty0, k.sourceFill), FetchArgb(l, tx1, ty0, k.sourceFill), wx);
  const std::uint32_t bottom =
      LerpArgb(FetchArgb(l, tx0, ty1, k.sourceFill), FetchArgb(l, tx1, ty1, k.sourceFill), wx);
  return LerpArgb(top, bottom, wy);
}

#if defined(__SSE2__)
// Four pixels of SnapCoordinate: floor(x) is exact here, its high part and
// 1/256 fraction split exactly in double. The texel index holds past the
// edge under CLAMP; other modes need it inside (else ok turns false).
__attribute__((target("avx2"))) inline void SnapAvx2(__m256d t, std::uint32_t n, TextureAddress mode, __m128i& i0,
                                                      __m128i& i1, __m128i& w, bool& ok) {
  const __m256d limit = _mm256_set1_pd(1099511627776.0), nlimit = _mm256_set1_pd(-1099511627776.0);
  __m256d x = _mm256_add_pd(
      _mm256_sub_pd(_mm256_mul_pd(_mm256_mul_pd(t, _mm256_set1_pd(static_cast<double>(n))), _mm256_set1_pd(256.0)),
                    _mm256_set1_pd(128.0)),
      _mm256_set1_pd(0.5));
  const __m256d nan = _mm256_cmp_pd(x, x, _CMP_UNORD_Q);
  x = _mm256_blendv_pd(x, nlimit, _mm256_cmp_pd(x, nlimit, _CMP_NGT_UQ));
  x = _mm256_blendv_pd(x, _mm256_set1_pd(0.5), nan);
  x = _mm256_min_pd(limit, x);
  const __m256d f = _mm256_floor_pd(x);
  const __m256d hi = _mm256_floor_pd(_mm256_mul_pd(f, _mm256_set1_pd(1.0 / 256.0)));
  const __m256d lo = _mm256_sub_pd(f, _mm256_mul_pd(hi, _mm256_set1_pd(256.0)));
  const __m256d hi1 = _mm256_add_pd(hi, _mm256_set1_pd(1.0));
  const __m256d zero = _mm256_setzero_pd(), last = _mm256_set1_pd(static_cast<double>(n) - 1.0);
  if (mode == TextureAddress::Clamp) {
    i0 = _mm256_cvttpd_epi32(_mm256_min_pd(_mm256_max_pd(hi, zero), last));
    i1 = _mm256_cvttpd_epi32(_mm256_min_pd(_mm256_max_pd(hi1, zero), last));
  } else {
    const __m256d in = _mm256_and_pd(_mm256_cmp_pd(hi, zero, _CMP_GE_OQ), _mm256_cmp_pd(hi1, last, _CMP_LE_OQ));
    ok = ok && _mm256_movemask_pd(in) == 15;
    i0 = _mm256_cvttpd_epi32(_mm256_min_pd(_mm256_max_pd(hi, zero), last));
    i1 = _mm256_cvttpd_epi32(_mm256_min_pd(_mm256_max_pd(hi1, zero), last));
  }
  w = _mm256_cvttpd_epi32(lo);
}

// LerpArgb per channel in 16-bit lanes: (a * (256 - f) + b * f + 128) >> 8
// stays below 2^16, so each lane is the packed form's channel.
__attribute__((target("avx2"))) inline __m256i Lerp16x16(__m256i a, __m256i b, __m256i f) {
  const __m256i g = _mm256_sub_epi16(_mm256_set1_epi16(256), f);
  return _mm256_srli_epi16(
      _mm256_add_epi16(_mm256_add_epi16(_mm256_mullo_epi16(a, g), _mm256_mullo_epi16(b, f)), _mm256_set1_epi16(128)),
      8);
}

__attribute__((target("avx2"))) inline __m256i LoadOr(const std::uint32_t* p, __m256i fill) {
  return _mm256_or_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), fill);
}

// The texels at byte offsets off (eight pixels) and the ones after them.
__attribute__((target("avx2"))) inline void GatherPairsAvx2(const int* bits, __m256i off, __m256i& first,
                                                             __m256i& second) {
  const auto* base = reinterpret_cast<const long long*>(bits);
  const __m256i lo = _mm256_i32gather_epi64(base, _mm256_castsi256_si128(off), 1);       // pixels 0..3
  const __m256i hi = _mm256_i32gather_epi64(base, _mm256_extracti128_si256(off, 1), 1);  // pixels 4..7
  const __m256i split = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
  const __m256i a = _mm256_permutevar8x32_epi32(lo, split), b = _mm256_permutevar8x32_epi32(hi, split);
  first = _mm256_permute2x128_si256(a, b, 0x20);
  second = _mm256_permute2x128_si256(a, b, 0x31);
}

// Columns that read texels i and i + 1 with one weight (defined below).
__attribute__((target("avx2"))) std::int32_t UniformRowAvx2(const std::uint32_t* top, const std::uint32_t* bottom,
                                                             std::int32_t n, std::uint32_t wx, std::uint32_t wy,
                                                             std::uint32_t sourceFill, std::uint32_t* out);

constexpr std::int64_t kPrefetchGroups = 4;

// Bilinear texels of pixels x0 .. x0 + n - 1 of a row, eight at a time, each
// as SampleBilinear makes it.
__attribute__((target("avx2"))) void SampleRowAvx2(const SimpleStage& k, const Plane& pr, const Plane& pu,
                                                   const Plane& pv, double rowR, double rowU, double rowV,
                                                   std::int32_t x0, std::int32_t n, std::uint32_t* texels) {
  const TSurfaceView& l = *k.level;
  const __m256d ra = _mm256_set1_pd(pr.a), ua = _mm256_set1_pd(pu.a), va = _mm256_set1_pd(pv.a);
  const __m256d rr = _mm256_set1_pd(rowR), ru = _mm256_set1_pd(rowU), rv = _mm256_set1_pd(rowV);
  const __m256d tiny = _mm256_set1_pd(1e-300);
  const __m256i pitch8 = _mm256_set1_epi32(l.pitch), fill8 = _mm256_set1_epi32(static_cast<int>(k.sourceFill));
  const __m256i zero = _mm256_setzero_si256(), ones = _mm256_set1_epi32(0x00010001);
  const int* bits = reinterpret_cast<const int*>(l.bits);
  // Without perspective (rhw 1 along the row) the division is by 1.
  const bool unitRhw = pr.a == 0 && rowR == 1.0;
  // Without perspective v is a rounded affine function of x, monotonic, and
  // so is its snapped coordinate: equal at both ends, it is the same for
  // every pixel between, and so are the texel rows and their weight.
  bool rowFixed = false;
  __m128i fixedY0 = _mm_setzero_si128(), fixedY1 = fixedY0, fixedWy = fixedY0;
  if (unitRhw && n > 0) {
    const std::int64_t f = SnapCoordinate(pv.a * static_cast<double>(x0) + rowV, l.height, true);
    if (f == SnapCoordinate(pv.a * static_cast<double>(x0 + n - 1) + rowV, l.height, true)) {
      rowFixed = true;
      fixedY0 = _mm_set1_epi32(static_cast<int>(AddressTexel(f >> 8, l.height, k.sampler->addressV)));
      fixedY1 = _mm_set1_epi32(static_cast<int>(AddressTexel((f >> 8) + 1, l.height, k.sampler->addressV)));
      fixedWy = _mm_set1_epi32(static_cast<int>(f & 255));
    }
  }
  std::int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    __m128i xi0[2], xi1[2], wxs[2], yi0[2], yi1[2], wys[2];
    __m256d us[2], vs[2];
    bool ok = true;
    for (int h = 0; h < 2; ++h) {
      const __m256d px = _mm256_cvtepi32_pd(_mm_add_epi32(_mm_set1_epi32(x0 + i + 4 * h), _mm_setr_epi32(0, 1, 2, 3)));
      us[h] = _mm256_add_pd(_mm256_mul_pd(ua, px), ru);
      vs[h] = _mm256_add_pd(_mm256_mul_pd(va, px), rv);
      if (!unitRhw) {
        __m256d rw = _mm256_add_pd(_mm256_mul_pd(ra, px), rr);
        rw = _mm256_max_pd(rw, tiny);  // rw > tiny ? rw : tiny, NaN too
        us[h] = _mm256_div_pd(us[h], rw);
        vs[h] = _mm256_div_pd(vs[h], rw);
      }
      SnapAvx2(us[h], l.width, k.sampler->addressU, xi0[h], xi1[h], wxs[h], ok);
      if (rowFixed) {
        yi0[h] = fixedY0;
        yi1[h] = fixedY1;
        wys[h] = fixedWy;
      } else {
        SnapAvx2(vs[h], l.height, k.sampler->addressV, yi0[h], yi1[h], wys[h], ok);
      }
    }
    if (!ok) {
      alignas(32) double uu[8], vv[8];
      _mm256_store_pd(uu, us[0]);
      _mm256_store_pd(uu + 4, us[1]);
      _mm256_store_pd(vv, vs[0]);
      _mm256_store_pd(vv + 4, vs[1]);
      for (int j = 0; j < 8; ++j) texels[i + j] = SampleBilinear(k, uu[j], vv[j]);
      continue;
    }
    const __m256i x0v = _mm256_set_m128i(xi0[1], xi0[0]), x1v = _mm256_set_m128i(xi1[1], xi1[0]);
    const __m256i y0v = _mm256_set_m128i(yi0[1], yi0[0]), y1v = _mm256_set_m128i(yi1[1], yi1[0]);
    const __m256i wxv = _mm256_set_m128i(wxs[1], wxs[0]), wyv = _mm256_set_m128i(wys[1], wys[0]);
    // A picture drawn about one texel per pixel: eight neighbouring texels on
    // one row pair with one weight each way, read as whole vectors.
    const __m256i same =
        _mm256_and_si256(_mm256_and_si256(_mm256_cmpeq_epi32(y0v, _mm256_permutevar8x32_epi32(y0v, zero)),
                                          _mm256_cmpeq_epi32(y1v, _mm256_permutevar8x32_epi32(y1v, zero))),
                         _mm256_and_si256(_mm256_cmpeq_epi32(wyv, _mm256_permutevar8x32_epi32(wyv, zero)),
                                          _mm256_cmpeq_epi32(wxv, _mm256_permutevar8x32_epi32(wxv, zero))));
    const __m256i step =
        _mm256_add_epi32(_mm256_permutevar8x32_epi32(x0v, zero), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    const __m256i runs = _mm256_and_si256(_mm256_cmpeq_epi32(x0v, step),
                                          _mm256_cmpeq_epi32(x1v, _mm256_add_epi32(step, _mm256_set1_epi32(1))));
    if (_mm256_movemask_epi8(_mm256_and_si256(same, runs)) == -1) {
      const std::int32_t tx = _mm_cvtsi128_si32(xi0[0]);
      const std::ptrdiff_t r0 = _mm_cvtsi128_si32(yi0[0]), r1 = _mm_cvtsi128_si32(yi1[0]);
      const auto* top = reinterpret_cast<const std::uint32_t*>(l.bits + r0 * l.pitch) + tx;
      const auto* bottom = reinterpret_cast<const std::uint32_t*>(l.bits + r1 * l.pitch) + tx;
      UniformRowAvx2(top, bottom, 8, static_cast<std::uint32_t>(_mm_cvtsi128_si32(wxs[0])),
                     static_cast<std::uint32_t>(_mm_cvtsi128_si32(wys[0])), k.sourceFill, texels + i);
      continue;
    }
    const __m256i row0 = _mm256_mullo_epi32(y0v, pitch8);
    const __m256i row1 = _mm256_mullo_epi32(y1v, pitch8);
    const __m256i c0 = _mm256_slli_epi32(x0v, 2);
    const __m256i c1 = _mm256_slli_epi32(x1v, 2);
    {
      // A turned or curled picture is read along a slanted line, which the
      // processor does not foresee: the texels a few groups ahead, guessed
      // from this group's step, are asked for now.
      const __m256i a0 = _mm256_add_epi32(row0, c0), a1 = _mm256_add_epi32(row1, c0);
      const std::int64_t first0 = _mm256_extract_epi32(a0, 0), last0 = _mm256_extract_epi32(a0, 7);
      const std::int64_t first1 = _mm256_extract_epi32(a1, 0), last1 = _mm256_extract_epi32(a1, 7);
      const std::int64_t ahead0 = last0 + (last0 - first0) * kPrefetchGroups;
      const std::int64_t ahead1 = last1 + (last1 - first1) * kPrefetchGroups;
      const std::int64_t span = std::int64_t(l.height) * l.pitch;
      if (ahead0 >= 0 && ahead0 < span) __builtin_prefetch(l.bits + ahead0);
      if (ahead1 >= 0 && ahead1 < span) __builtin_prefetch(l.bits + ahead1);
    }
    // Texel rows on pixel rows (a picture moved or bent along x alone): a
    // weight of 0 takes the upper row exactly, so the lower is not read.
    if (rowFixed && _mm_cvtsi128_si32(fixedWy) == 0) {
      __m256i t0, t1;
      if (_mm256_movemask_epi8(_mm256_cmpeq_epi32(x1v, _mm256_add_epi32(x0v, _mm256_set1_epi32(1)))) == -1) {
        GatherPairsAvx2(bits, _mm256_add_epi32(row0, c0), t0, t1);
      } else {
        t0 = _mm256_i32gather_epi32(bits, _mm256_add_epi32(row0, c0), 1);
        t1 = _mm256_i32gather_epi32(bits, _mm256_add_epi32(row0, c1), 1);
      }
      t0 = _mm256_or_si256(t0, fill8);
      t1 = _mm256_or_si256(t1, fill8);
      const __m256i wx2 = _mm256_mullo_epi32(_mm256_set_m128i(wxs[1], wxs[0]), ones);
      const __m256i wxLo = _mm256_unpacklo_epi32(wx2, wx2), wxHi = _mm256_unpackhi_epi32(wx2, wx2);
      const __m256i lo = Lerp16x16(_mm256_unpacklo_epi8(t0, zero), _mm256_unpacklo_epi8(t1, zero), wxLo);
      const __m256i hi = Lerp16x16(_mm256_unpackhi_epi8(t0, zero), _mm256_unpackhi_epi8(t1, zero), wxHi);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(texels + i), _mm256_packus_epi16(lo, hi));
      continue;
    }
    __m256i t00, t01, t10, t11;
    if (_mm256_movemask_epi8(_mm256_cmpeq_epi32(x1v, _mm256_add_epi32(x0v, _mm256_set1_epi32(1)))) == -1) {
      // Each pixel's two texels side by side (away from clamped or wrapped
      // edges): one 64-bit element per pixel and row, half the gathered
      // elements, then split back into first and second texels.
      GatherPairsAvx2(bits, _mm256_add_epi32(row0, c0), t00, t01);
      GatherPairsAvx2(bits, _mm256_add_epi32(row1, c0), t10, t11);
    } else {
      t00 = _mm256_i32gather_epi32(bits, _mm256_add_epi32(row0, c0), 1);
      t01 = _mm256_i32gather_epi32(bits, _mm256_add_epi32(row0, c1), 1);
      t10 = _mm256_i32gather_epi32(bits, _mm256_add_epi32(row1, c0), 1);
      t11 = _mm256_i32gather_epi32(bits, _mm256_add_epi32(row1, c1), 1);
    }
    t00 = _mm256_or_si256(t00, fill8);
    t01 = _mm256_or_si256(t01, fill8);
    t10 = _mm256_or_si256(t10, fill8);
    t11 = _mm256_or_si256(t11, fill8);
    // Each pixel's weights in its four 16-bit channel lanes, laid out as the byte unpacks lay out the channels.
    const __m256i wx2 = _mm256_mullo_epi32(_mm256_set_m128i(wxs[1], wxs[0]), ones);
    const __m256i wy2 = _mm256_mullo_epi32(_mm256_set_m128i(wys[1], wys[0]), ones);
    const __m256i wxLo = _mm256_unpacklo_epi32(wx2, wx2), wxHi = _mm256_unpackhi_epi32(wx2, wx2);
    const __m256i wyLo = _mm256_unpacklo_epi32(wy2, wy2), wyHi = _mm256_unpackhi_epi32(wy2, wy2);
    const __m256i topLo = Lerp16x16(_mm256_unpacklo_epi8(t00, zero), _mm256_unpacklo_epi8(t01, zero), wxLo);
    const __m256i topHi = Lerp16x16(_mm256_unpackhi_epi8(t00, zero), _mm256_unpackhi_epi8(t01, zero), wxHi);
    const __m256i botLo = Lerp16x16(_mm256_unpacklo_epi8(t10, zero), _mm256_unpacklo_epi8(t11, zero), wxLo);
    const __m256i botHi = Lerp16x16(_mm256_unpackhi_epi8(t10, zero), _mm256_unpackhi_epi8(t11, zero), wxHi);
    const __m256i out =
        _mm256_packus_epi16(Lerp16x16(topLo, botLo, wyLo), Lerp16x16(topHi, botHi, wyHi));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(texels + i), out);
  }
  for (; i < n; ++i) {
    const double px = x0 + i;
    double rw = pr.a * px + rowR;
    rw = rw > 1e-300 ? rw : 1e-300;
    texels[i] = SampleBilinear(k, (pu.a * px + rowU) / rw, (pv.a * px + rowV) / rw);
  }
}

bool CpuHasAvx2() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return has;
}
#endif

// One diffuse channel of a batch, or-ed into out at shift: the plane at
// each pixel centre over rhw, rounded to a byte as ToByte does, without
// branches so that the loop vectorises (NaN and values up to 0 give 0, from
// 255 on 255, else v + 0.5 truncated).
// Compiled twice, the loop vectorised for AVX2 and without; chosen at run
// time (no ifunc clones: the thread sanitizer cannot start with them).
#define ZM_CHANNEL_ROW_BODY                                                   \
  const double row = q.b * py + q.c, qa = q.a;                                \
  for (std::int32_t i = 0; i < n; ++i) {                                      \
    double v = qa * static_cast<double>(x0 + i) + row;                       \
    if (rw != nullptr) v = v / rw[i];                                         \
    const double held = v > 0 ? (v >= 255 ? 255.0 : v + 0.5) : 0.0;          \
    out[i] |= static_cast<std::uint32_t>(held) << shift;                      \
  }
#if defined(__SSE2__)
__attribute__((target("avx2"))) void ChannelRowAvx2(const Plane& q, double py, std::int32_t x0, std::int32_t n,
                                                    const double* rw, int shift, std::uint32_t* out) {
  ZM_CHANNEL_ROW_BODY
}
#endif
void ChannelRowPlain(const Plane& q, double py, std::int32_t x0, std::int32_t n, const double* rw, int shift,
                     std::uint32_t* out) {
  ZM_CHANNEL_ROW_BODY
}
#undef ZM_CHANNEL_ROW_BODY
void ChannelRow(const Plane& q, double py, std::int32_t x0, std::int32_t n, const double* rw, int shift,
                std::uint32_t* out) {
#if defined(__SSE2__)
  if (CpuHasAvx2()) return ChannelRowAvx2(q, py, x0, n, rw, shift, out);
#endif
  ChannelRowPlain(q, py, x0, n, rw, shift, out);
}

bool PlaneEqual(const Plane& p, const Plane& q) { return p.a == q.a && p.b == q.b && p.c == q.c; }

// One plane for every channel that varies (a coverage ramp on all four,
// grey shading): out = base | the byte of the plane at each pixel times
// spread (a 1 at each channel's lowest bit), in one pass.
#define ZM_CHANNEL_SPREAD_BODY                                                \
  const double row = q.b * py + q.c, qa = q.a;                                \
  for (std::int32_t i = 0; i < n; ++i) {                                      \
    double v = qa * static_cast<double>(x0 + i) + row;                       \
    if (rw != nullptr) v = v / rw[i];                                         \
    const double held = v > 0 ? (v >= 255 ? 255.0 : v + 0.5) : 0.0;          \
    out[i] = base | static_cast<std::uint32_t>(held) * spread;               \
  }
#if defined(__SSE2__)
__attribute__((target("avx2"))) void ChannelSpreadAvx2(const Plane& q, double py, std::int32_t x0, std::int32_t n,
                                                       const double* rw, std::uint32_t spread, std::uint32_t base,
                                                       std::uint32_t* out) {
  ZM_CHANNEL_SPREAD_BODY
}
#endif
void ChannelSpreadPlain(const Plane& q, double py, std::int32_t x0, std::int32_t n, const double* rw,
                        std::uint32_t spread, std::uint32_t base, std::uint32_t* out) {
  ZM_CHANNEL_SPREAD_BODY
}
#undef ZM_CHANNEL_SPREAD_BODY
void ChannelSpread(const Plane& q, double py, std::int32_t x0, std::int32_t n, const double* rw, std::uint32_t spread,
                   std::uint32_t base, std::uint32_t* out) {
#if defined(__SSE2__)
  if (CpuHasAvx2()) return ChannelSpreadAvx2(q, py, x0, n, rw, spread, base, out);
#endif
  ChannelSpreadPlain(q, py, x0, n, rw, spread, base, out);
}

// The diffuse channels that vary, per pixel of a batch, each as Diffuse
// makes it, over the selected channels of the stage (255).
void DiffuseRow(const TriangleSetup& t, const SimpleStage& k, double py, std::int32_t x0, std::int32_t n,
                std::uint32_t* out) {
  const Plane& pr = t.rhw;
  const bool unitRhw = pr.a == 0 && pr.b == 0 && pr.c == 1.0;  // q / 1 is q
  alignas(64) double rw[kBatch];
  if (!unitRhw) {
    const double rowR = pr.b * py + pr.c;
    for (std::int32_t i = 0; i < n; ++i) {
      const double r = pr.a * static_cast<double>(x0 + i) + rowR;
      rw[i] = r > 1e-300 ? r : 1e-300;
    }
  }
  const double* div = unitRhw ? nullptr : rw;
  bool wanted[4] = {k.varyingAlpha, k.varyingColour, k.varyingColour, k.varyingColour};
  // The commonest case: every channel varies along one plane.
  if (wanted[0] && wanted[1] && PlaneEqual(t.attr[0], t.attr[1]) && PlaneEqual(t.attr[0], t.attr[2]) &&
      PlaneEqual(t.attr[0], t.attr[3])) {
    ChannelSpread(t.attr[0], py, x0, n, div, 0x01010101u, k.base, out);
    return;
  }
  for (std::int32_t i = 0; i < n; ++i) out[i] = k.base;
  // Channels with the same plane have the same bytes (grey shading, a
  // coverage ramp on all four): each distinct plane is evaluated once.
  for (int c = 0; c < 4; ++c) {
    if (!wanted[c]) continue;
    const Plane& q = t.attr[c];
    std::uint32_t spread = 0;  // a byte at each channel that shares q
    for (int d = c + 1; d < 4; ++d)
      if (wanted[d] && PlaneEqual(t.attr[d], q)) {
        spread |= 1u << (24 - 8 * d);
        wanted[d] = false;
      }
    if (spread == 0) {
      ChannelRow(q, py, x0, n, div, 24 - 8 * c, out);
      continue;
    }
    spread |= 1u << (24 - 8 * c);
    alignas(64) std::uint32_t bytes[kBatch];
    std::fill_n(bytes, n, 0u);
    ChannelRow(q, py, x0, n, div, 0, bytes);
    for (std::int32_t i = 0; i < n; ++i) out[i] |= bytes[i] * spread;
  }
}

// DiffuseRow for pixel (x, y) alone.
std::uint32_t FactorAt(const TriangleSetup& t, const SimpleStage& k, double py, std::int32_t x) {
  const Plane& pr = t.rhw;
  const bool unitRhw = pr.a == 0 && pr.b == 0 && pr.c == 1.0;
  double rw = 0;
  if (!unitRhw) {
    const double r = pr.a * static_cast<double>(x) + (pr.b * py + pr.c);
    rw = r > 1e-300 ? r : 1e-300;
  }
  const bool wanted[4] = {k.varyingAlpha, k.varyingColour, k.varyingColour, k.varyingColour};
  std::uint32_t out = k.base;
  for (int c = 0; c < 4; ++c) {
    if (!wanted[c]) continue;
    const Plane& q = t.attr[c];
    double v = q.a * static_cast<double>(x) + (q.b * py + q.c);
    if (!unitRhw) v = v / rw;
    const double held = v > 0 ? (v >= 255 ? 255.0 : v + 0.5) : 0.0;
    out |= static_cast<std::uint32_t>(held) << (24 - 8 * c);
  }
  return out;
}

// in times factors, channel by channel, as Mul255 gives it.
#define ZM_MODULATE_BODY                                                                 \
  const auto* a = reinterpret_cast<const std::uint8_t*>(in);                             \
  const auto* f = reinterpret_cast<const std::uint8_t*>(factors);                        \
  alignas(64) std::uint8_t r[kBatch * 4];                                                \
  const std::int32_t bytes = 4 * n;                                                      \
  for (std::int32_t i = 0; i < bytes; ++i)                                               \
    r[i] = static_cast<std::uint8_t>((static_cast<std::uint32_t>(a[i]) * f[i] + 127) / 255); \
  std::memcpy(out, r, static_cast<std::size_t>(bytes));
#if defined(__SSE2__)
__attribute__((target("avx2"))) void ModulatePixelsAvx2(const std::uint32_t* in, const std::uint32_t* factors,
                                                        std::uint32_t* out, std::int32_t n) {
  ZM_MODULATE_BODY
}
#endif
void ModulatePixelsPlain(const std::uint32_t* in, const std::uint32_t* factors, std::uint32_t* out,
                         std::int32_t n) {
  ZM_MODULATE_BODY
}
#undef ZM_MODULATE_BODY
void ModulatePixels(const std::uint32_t* in, const std::uint32_t* factors, std::uint32_t* out, std::int32_t n) {
#if defined(__SSE2__)
  if (CpuHasAvx2()) return ModulatePixelsAvx2(in, factors, out, n);
#endif
  ModulatePixelsPlain(in, factors, out, n);
}

// The texels of a batch (the source fill in) through the stage and the
// blend; scratch holds what the stage makes of them.
void EmitBatch(const TriangleSetup& t, const PixelState& ps, const SimpleStage& k, double py, std::int32_t x0,
               std::int32_t n, const std::uint32_t* texels, std::uint32_t* scratch, std::uint32_t* row) {
  if (k.overKernel) {
    BlendSpanSourceOver(texels, row + x0, static_cast<std::size_t>(n), k.alphaScale, k.sourceFill != 0, k.x8Target);
    return;
  }
  if (k.varying) {
    alignas(64) std::uint32_t factors[kBatch];
    DiffuseRow(t, k, py, x0, n, factors);
    ModulatePixels(texels, factors, scratch, n);
    texels = scratch;
  } else if (k.factor != 0xFFFFFFFFu) {  // 255 keeps a channel
    ModulateSpan(texels, scratch, static_cast<std::size_t>(n), k.factor, k.sourceFill);
    texels = scratch;
  }
  BlendSpan(ps.blend, texels, row + x0, static_cast<std::size_t>(n), k.x8Target);
}

// Texel coordinates that step one texel per pixel along a row with every
// filter weight 0 (texel centres on pixel centres, a picture rendered for
// the target): the texels of the pixels at u0 .. u1 (n of them) are a run of
// one texel row from first, read as they are. Both ends are checked; the
// coordinate is affine along the row, so the pixels between follow.
bool DirectRun(std::uint32_t size, bool linear, double u0, double u1, std::int32_t n, std::int64_t& first) {
  const auto at = [&](double u, std::int64_t& index) {
    // SnapCoordinate before its floor, in 1/256 texel.
    const double x = u * size * 256.0 - (linear ? 128.0 : 0.0) + 0.5;
    if (!(std::fabs(x) < 1e15)) return false;
    const double f = std::floor(x);
    const std::int64_t i = static_cast<std::int64_t>(f);
    // Held off the steps, so that rounding cannot move a pixel between.
    if (x - f < 0.01 || x - f > 0.99) return false;
    if (linear && (i & 255) != 0) return false;
    if (!linear && ((i & 255) < 2 || (i & 255) > 253)) return false;
    index = i >> 8;
    return true;
  };
  std::int64_t a, b;
  if (!at(u0, a) || !at(u1, b)) return false;
  if (b - a != n - 1 || a < 0 || b >= static_cast<std::int64_t>(size)) return false;
  first = a;
  return true;
}

constexpr std::int32_t kTinySpan = 2;

// The texels of pixels x0 .. x0 + n - 1 (n <= kBatch) of row y through the
// triangle's coordinates, the source fill in: a run of the texture itself
// where it is read 1:1 (counted in runs), else sampled into texels, which
// has room for kBatch + 8.
const std::uint32_t* BatchTexels(const TriangleSetup& t, const SimpleStage& k, std::int32_t y, std::int32_t x0,
                                 std::int32_t n, std::uint32_t* texels, std::uint64_t& runs) {
  const TSurfaceView& l = *k.level;
  const SamplerSetup& s = *k.sampler;
  const Plane& pr = t.rhw;
  const Plane& pu = t.attr[k.uo];
  const Plane& pv = t.attr[k.uo + 1];
  const double py = y;
  const double rowR = pr.b * py + pr.c, rowU = pu.b * py + pu.c, rowV = pv.b * py + pv.c;
  // 2D drawing (rhw 1): runs of texels may be read as they are (DirectRun).
  if (pr.a == 0 && pr.b == 0 && pr.c == 1.0 && pu.a > 0) {
    std::int64_t first, r;
    const double xl = x0 + n - 1;
    if (DirectRun(l.width, k.linear, pu.a * x0 + rowU, pu.a * xl + rowU, n, first) &&
        DirectRun(l.height, k.linear, pv.a * x0 + rowV, pv.a * xl + rowV, 1, r)) {
      ++runs;
      const std::uint32_t* run = reinterpret_cast<const std::uint32_t*>(l.bits + r * l.pitch) + first;
      if (k.sourceFill == 0) return run;
      for (std::int32_t i = 0; i < n; ++i) texels[i] = run[i] | k.sourceFill;
      return texels;
    }
  }
#if defined(__SSE2__)
  // A pixel or two (a smoothed edge) costs less one at a time than a vector.
  if (k.gather && CpuHasAvx2() && n > kTinySpan) {
    // Whole vectors past the span's end: only texels that stay unused.
    SampleRowAvx2(k, pr, pu, pv, rowR, rowU, rowV, x0, (n + 7) & ~7, texels);
    return texels;
  }
#endif
  alignas(64) double us[kBatch], vs[kBatch];
  for (std::int32_t i = 0; i < n; ++i) {
    const double px = x0 + i;
    double rw = pr.a * px + rowR;
    rw = rw > 1e-300 ? rw : 1e-300;
    us[i] = (pu.a * px + rowU) / rw;
    vs[i] = (pv.a * px + rowV) / rw;
  }
  if (k.linear) {
    for (std::int32_t i = 0; i < n; ++i) texels[i] = SampleBilinear(k, us[i], vs[i]);
  } else {
    for (std::int32_t i = 0; i < n; ++i) {
      const std::int64_t tx = AddressTexel(SnapCoordinate(us[i], l.width, false) >> 8, l.width, s.addressU);
      const std::int64_t ty = AddressTexel(SnapCoordinate(vs[i], l.height, false) >> 8, l.height, s.addressV);
      texels[i] = FetchArgb(l, tx, ty, k.sourceFill);
    }
  }
  return texels;
}

// The texel of pixel (x, y) as BatchTexels samples it, one pixel alone.
std::uint32_t TexelAt(const TriangleSetup& t, const SimpleStage& k, std::int32_t y, std::int32_t x) {
  const TSurfaceView& l = *k.level;
  const Plane& pr = t.rhw;
  const Plane& pu = t.attr[k.uo];
  const Plane& pv = t.attr[k.uo + 1];
  const double py = y, px = x;
  double rw = pr.a * px + (pr.b * py + pr.c);
  rw = rw > 1e-300 ? rw : 1e-300;
  const double u = (pu.a * px + (pu.b * py + pu.c)) / rw, v = (pv.a * px + (pv.b * py + pv.c)) / rw;
  if (k.linear) return SampleBilinear(k, u, v);
  const std::int64_t tx = AddressTexel(SnapCoordinate(u, l.width, false) >> 8, l.width, k.sampler->addressU);
  const std::int64_t ty = AddressTexel(SnapCoordinate(v, l.height, false) >> 8, l.height, k.sampler->addressV);
  return FetchArgb(l, tx, ty, k.sourceFill);
}

void RasterizeSimple(const TriangleSetup& t, const PixelState& ps, const SimpleStage& k, std::int32_t rowBegin,
                     std::int32_t rowEnd) {
  alignas(64) std::uint32_t texels[kBatch + 8], scratch[kBatch];
  std::uint64_t runs = 0;
  for (std::int32_t y = rowBegin; y < rowEnd; ++y) {
    std::int32_t b, e;
    RowSpan(t, y, b, e);
    std::uint32_t* out = reinterpret_cast<std::uint32_t*>(PixelAt(ps.target, 0, y));
    for (std::int32_t x0 = b; x0 < e; x0 += kBatch) {
      const std::int32_t n = std::min<std::int32_t>(kBatch, e - x0);
      EmitBatch(t, ps, k, y, x0, n, BatchTexels(t, k, y, x0, n, texels, runs), scratch, out);
    }
  }
  if (runs != 0) gDirectRunCount.fetch_add(runs, std::memory_order_relaxed);
}

std::atomic<bool> gRowPathEnabled{true};

void RasterizeGeneral(const TriangleSetup& t, const PixelState& ps, std::int32_t rowBegin, std::int32_t rowEnd) {
  if (SimpleStage k; gRowPathEnabled.load(std::memory_order_relaxed) && SimpleStageFor(t, ps, k)) {
    RasterizeSimple(t, ps, k, rowBegin, rowEnd);
    return;
  }
  const bool spanBlend = IsArgbTarget(ps.target.format) && Aligned4(ps.target.bits, ps.target.pitch);
  const bool x8Target = ps.target.format == Format::X8R8G8B8;
  alignas(64) std::uint32_t colours[kBatch];
  // Without stages a pixel is its diffuse colour (the fade and fill quads):
  // made a batch at a time as Diffuse makes it, with no per-pixel shading.
  if (spanBlend && ps.stageCount == 0 && gRowPathEnabled.load(std::memory_order_relaxed)) {
    SimpleStage k;
    k.base = 0;
    k.varyingAlpha = k.varyingColour = true;
    if (t.constantDiffuse) std::fill_n(colours, kBatch, t.diffuse);
    // One opaque colour over whatever is there is a fill.
    const bool fill = t.constantDiffuse && (t.diffuse >> 24) == 255 && OpaqueSourceReplaces(ps.blend);
    for (std::int32_t y = rowBegin; y < rowEnd; ++y) {
      std::int32_t b, e;
      RowSpan(t, y, b, e);
      std::uint32_t* row = reinterpret_cast<std::uint32_t*>(PixelAt(ps.target, 0, y));
      if (fill) {
        if (b < e) FillPixels32(row + b, t.diffuse, static_cast<std::size_t>(e - b));
        continue;
      }
      for (std::int32_t x0 = b; x0 < e; x0 += kBatch) {
        const std::int32_t n = std::min<std::int32_t>(kBatch, e - x0);
        if (!t.constantDiffuse) DiffuseRow(t, k, y, x0, n, colours);
        BlendSpan(ps.blend, colours, row + x0, static_cast<std::size_t>(n), x8Target);
      }
    }
    return;
  }
  for (std::int32_t y = rowBegin; y < rowEnd; ++y) {
    std::int32_t b, e;
    RowSpan(t, y, b, e);
    if (spanBlend) {
      std::uint32_t* row = reinterpret_cast<std::uint32_t*>(PixelAt(ps.target, 0, y));
      for (std::int32_t x0 = b; x0 < e; x0 += kBatch) {
        const std::int32_t n = std::min<std::int32_t>(kBatch, e - x0);
        for (std::int32_t i = 0; i < n; ++i) colours[i] = ShadePixel(t, ps, x0 + i, y);
        BlendSpan(ps.blend, colours, row + x0, static_cast<std::size_t>(n), x8Target);
      }
      continue;
    }
    for (std::int32_t x = b; x < e; ++x) {
      std::uint8_t* p = PixelAt(ps.target, x, y);
      const std::uint32_t src = ShadePixel(t, ps, x, y);
      const std::uint32_t dst = DecodePixelInline(ps.target.format, p);
      EncodePixel(ps.target.format, p, BlendPixel(ps.blend, src, dst));
    }
  }
}

// A pixel shader in place of the stages: spans of up to kShaderSpan pixels
// go to the shader function as structure-of-arrays varyings. Each pixel's
// inputs come from the plane equations at its own centre, as in ShadePixel
// (b * y + c is the same value for the whole row).
void RasterizeShaded(const TriangleSetup& t, const PixelState& ps, std::int32_t rowBegin, std::int32_t rowEnd) {
  struct Span {
    float tex[kMaxTexSets][2][kShaderSpan];
    float colour[4][kShaderSpan];
    Float4 out[kShaderSpan];
    double rw[kShaderSpan];
    std::uint32_t packed[kShaderSpan];
  };
  thread_local Span sp;
  ShaderEnv env;
  for (std::uint32_t i = 0; i < kMaxSamplers; ++i) env.s[i] = &ps.shaderSamplers[i];
  env.c = ps.shaderConstants;
  ShaderVaryings in;
  for (std::uint32_t k = 0; k < kMaxTexSets; ++k) {
    in.t[k][0] = sp.tex[k][0];
    in.t[k][1] = sp.tex[k][1];
  }
  for (int c = 0; c < 4; ++c) in.v0[c] = sp.colour[c];
  const std::uint32_t sets = std::min(ps.layout.texCount, kMaxTexSets);
  // Sets the vertices lack read 0, and so does v of a one-float set.
  for (std::uint32_t k = 0; k < kMaxTexSets; ++k) {
    if (k >= sets) std::fill_n(sp.tex[k][0], kShaderSpan, 0.0f);
    if (k >= sets || ps.layout.texSize[k] < 2) std::fill_n(sp.tex[k][1], kShaderSpan, 0.0f);
  }
  if (t.constantDiffuse) {
    const std::uint32_t d = t.diffuse;
    std::fill_n(sp.colour[0], kShaderSpan, static_cast<float>(d >> 16 & 255) / 255.0f);
    std::fill_n(sp.colour[1], kShaderSpan, static_cast<float>(d >> 8 & 255) / 255.0f);
    std::fill_n(sp.colour[2], kShaderSpan, static_cast<float>(d & 255) / 255.0f);
    std::fill_n(sp.colour[3], kShaderSpan, static_cast<float>(d >> 24) / 255.0f);
  }
  const bool spanBlend = IsArgbTarget(ps.target.format) && Aligned4(ps.target.bits, ps.target.pitch);
  const bool x8Target = ps.target.format == Format::X8R8G8B8;
  // Screen-space vertices of rhw 1 (2D drawing) divide by 1 everywhere.
  const bool unitRhw = t.rhw.a == 0 && t.rhw.b == 0 && t.rhw.c == 1.0;
  for (std::int32_t y = rowBegin; y < rowEnd; ++y) {
    std::int32_t b, e;
    RowSpan(t, y, b, e);
    const double py = y;
    const double rowR = t.rhw.b * py + t.rhw.c;
    // Spans end on multiples of kShaderSpan: the spans of every row then
    // cover the same columns, whatever the row's start, so shaders that keep
    // what they found for a span's coordinates find it again.
    for (std::int32_t x0 = b, n = 0; x0 < e; x0 += n) {
      const std::int32_t phase = ((x0 % kShaderSpan) + kShaderSpan) % kShaderSpan;
      n = std::min<std::int32_t>(kShaderSpan - phase, e - x0);
      if (!unitRhw || !t.constantDiffuse)
        for (int i = 0; i < n; ++i) {
          const double rw = t.rhw.a * static_cast<double>(x0 + i) + rowR;
          sp.rw[i] = rw > 1e-300 ? rw : 1e-300;
        }
      if (!t.constantDiffuse)
        for (int i = 0; i < n; ++i) {
          const std::uint32_t d = Diffuse(t, x0 + i, py, sp.rw[i]);
          sp.colour[0][i] = static_cast<float>(d >> 16 & 255) / 255.0f;
          sp.colour[1][i] = static_cast<float>(d >> 8 & 255) / 255.0f;
          sp.colour[2][i] = static_cast<float>(d & 255) / 255.0f;
          sp.colour[3][i] = static_cast<float>(d >> 24) / 255.0f;
        }
      for (std::uint32_t k = 0; k < sets; ++k) {
        const std::uint32_t uo = ps.layout.attrOffset[k];
        for (std::uint32_t c = 0; c < 2 && (c == 0 || ps.layout.texSize[k] >= 2); ++c) {
          const Plane& q = t.attr[uo + c];
          const double row = q.b * py + q.c;
          float* dst = sp.tex[k][c];
          if (unitRhw)  // q / 1 is q
            for (int i = 0; i < n; ++i) dst[i] = static_cast<float>(q.a * static_cast<double>(x0 + i) + row);
          else
            for (int i = 0; i < n; ++i)
              dst[i] = static_cast<float>((q.a * static_cast<double>(x0 + i) + row) / sp.rw[i]);
        }
      }
      in.count = n;
      if (ps.packedShader != nullptr) {
        ps.packedShader(env, in, sp.packed);
      } else {
        ps.shader->fn(env, in, sp.out);
        PackShaderColours(sp.out, static_cast<std::size_t>(n), sp.packed);
      }
      if (spanBlend) {
        BlendSpan(ps.blend, sp.packed, reinterpret_cast<std::uint32_t*>(PixelAt(ps.target, x0, y)),
                  static_cast<std::size_t>(n), x8Target);
        continue;
      }
      for (int i = 0; i < n; ++i) {
        std::uint8_t* p = PixelAt(ps.target, x0 + i, y);
        EncodePixel(ps.target.format, p, BlendPixel(ps.blend, sp.packed[i], DecodePixelInline(ps.target.format, p)));
      }
    }
  }
}

// How stage 0 combines on the fast path.
enum class FastCombine : std::uint8_t { Texture, TextureAlphaTimesDiffuse, Other };

FastCombine ClassifyStage(const StageSetup& s) {
  const bool colorTex = (s.colorOp == TextureOp::SelectArg1 && s.colorArg1 == ArgTexture) ||
                        (s.colorOp == TextureOp::SelectArg2 && s.colorArg2 == ArgTexture);
  if (!colorTex) return FastCombine::Other;
  if ((s.alphaOp == TextureOp::SelectArg1 && s.alphaArg1 == ArgTexture) ||
      (s.alphaOp == TextureOp::SelectArg2 && s.alphaArg2 == ArgTexture))
    return FastCombine::Texture;
  const auto diffuseLike = [](std::uint32_t a) { return a == ArgDiffuse || a == ArgCurrent; };
  if (s.alphaOp == TextureOp::Modulate && ((s.alphaArg1 == ArgTexture && diffuseLike(s.alphaArg2)) ||
                                           (s.alphaArg2 == ArgTexture && diffuseLike(s.alphaArg1))))
    return FastCombine::TextureAlphaTimesDiffuse;
  return FastCombine::Other;
}

// Stage 0 with a constant diffuse colour as the texel times a constant, per
// channel (255 keeps a channel): the factor, or false for other set-ups.
bool StageFactor(const StageSetup& s, std::uint32_t diffuse, std::uint32_t& factor) {
  const auto diffuseLike = [](std::uint32_t a) { return a == ArgDiffuse || a == ArgCurrent; };
  const auto modulates = [&](TextureOp op, std::uint32_t a1, std::uint32_t a2) {
    return op == TextureOp::Modulate && ((a1 == ArgTexture && diffuseLike(a2)) || (a2 == ArgTexture && diffuseLike(a1)));
  };
  const auto selects = [](TextureOp op, std::uint32_t a1, std::uint32_t a2) {
    return (op == TextureOp::SelectArg1 && a1 == ArgTexture) || (op == TextureOp::SelectArg2 && a2 == ArgTexture);
  };
  std::uint32_t rgb, alpha;
  if (selects(s.colorOp, s.colorArg1, s.colorArg2))
    rgb = 0x00FFFFFFu;
  else if (modulates(s.colorOp, s.colorArg1, s.colorArg2))
    rgb = diffuse & 0x00FFFFFFu;
  else
    return false;
  if (selects(s.alphaOp, s.alphaArg1, s.alphaArg2))
    alpha = 0xFF000000u;
  else if (modulates(s.alphaOp, s.alphaArg1, s.alphaArg2))
    alpha = diffuse & 0xFF000000u;
  else
    return false;
  factor = rgb | alpha;
  return true;
}

thread_local std::vector<std::uint32_t> tTexels, tColours, tRowTop, tRowBottom, tRowKept;

#if defined(__SSE2__)
// LerpArgb on 16-bit lanes: (a * (256 - f) + b * f + 128) >> 8, no lane overflows.
inline __m128i Lerp16(__m128i a, __m128i b, __m128i f) {
  const __m128i g = _mm_sub_epi16(_mm_set1_epi16(256), f);
  return _mm_srli_epi16(
      _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(a, g), _mm_mullo_epi16(b, f)), _mm_set1_epi16(128)), 8);
}

// The bilinear taps of a span, four pixels at a time, as SampleLevel makes
// them (horizontal first); returns where it stopped.
// tap, w4 and out start at the span's first pixel; n pixels.
std::int32_t BilinearRowSse2(const SpanTap* tap, const std::uint64_t* w4, std::int32_t b, std::int32_t e,
                             const std::uint32_t* row0, const std::uint32_t* row1, std::uint32_t wy,
                             std::uint32_t sourceFill, std::uint32_t* out) {
  const __m128i zero = _mm_setzero_si128(), fill = _mm_set1_epi32(static_cast<int>(sourceFill));
  const __m128i wyv = _mm_set1_epi16(static_cast<short>(wy));
  const auto gather = [&](const std::uint32_t* row, std::int32_t x, bool second) {
    const auto at = [&](std::int32_t k) { return static_cast<int>(row[second ? tap[x + k].i1 : tap[x + k].i0]); };
    return _mm_or_si128(_mm_set_epi32(at(3), at(2), at(1), at(0)), fill);
  };
  std::int32_t x = b;
  for (; x + 4 <= e; x += 4) {
    const __m128i wLo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w4 + x));
    const __m128i wHi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w4 + x + 2));
    const __m128i a = gather(row0, x, false), c = gather(row0, x, true);
    __m128i lo = Lerp16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(c, zero), wLo);
    __m128i hi = Lerp16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(c, zero), wHi);
    if (wy != 0) {
      const __m128i a1 = gather(row1, x, false), c1 = gather(row1, x, true);
      const __m128i lo1 = Lerp16(_mm_unpacklo_epi8(a1, zero), _mm_unpacklo_epi8(c1, zero), wLo);
      const __m128i hi1 = Lerp16(_mm_unpackhi_epi8(a1, zero), _mm_unpackhi_epi8(c1, zero), wHi);
      lo = Lerp16(lo, lo1, wyv);
      hi = Lerp16(hi, hi1, wyv);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(lo, hi));
  }
  return x;
}
#endif

#if defined(__SSE2__)

// Columns that read texels i and i + 1 with one weight: whole vectors of
// the two texel rows, eight pixels at a time, each as LerpArgb makes it.
// top and bottom point at the first column's texel i.
__attribute__((target("avx2"))) std::int32_t UniformRowAvx2(const std::uint32_t* top, const std::uint32_t* bottom,
                                                             std::int32_t n, std::uint32_t wx, std::uint32_t wy,
                                                             std::uint32_t sourceFill, std::uint32_t* out) {
  const __m256i zero = _mm256_setzero_si256(), fill = _mm256_set1_epi32(static_cast<int>(sourceFill));
  const __m256i fx = _mm256_set1_epi16(static_cast<short>(wx)), fy = _mm256_set1_epi16(static_cast<short>(wy));
  std::int32_t x = 0;
  if ((wx == 0 || wx == 128) && (wy == 0 || wy == 128)) {
    // Half-texel offsets: (a * 128 + b * 128 + 128) >> 8 is the rounded byte average.
    for (; x + 8 <= n; x += 8) {
      __m256i v = LoadOr(top + x, fill);
      if (wx != 0) v = _mm256_avg_epu8(v, LoadOr(top + x + 1, fill));
      if (wy != 0) {
        __m256i w = LoadOr(bottom + x, fill);
        if (wx != 0) w = _mm256_avg_epu8(w, LoadOr(bottom + x + 1, fill));
        v = _mm256_avg_epu8(v, w);
      }
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), v);
    }
    return x;
  }
  for (; x + 8 <= n; x += 8) {
    const __m256i a = LoadOr(top + x, fill), b = LoadOr(top + x + 1, fill);
    __m256i lo = Lerp16x16(_mm256_unpacklo_epi8(a, zero), _mm256_unpacklo_epi8(b, zero), fx);
    __m256i hi = Lerp16x16(_mm256_unpackhi_epi8(a, zero), _mm256_unpackhi_epi8(b, zero), fx);
    if (wy != 0) {
      const __m256i c = LoadOr(bottom + x, fill), d = LoadOr(bottom + x + 1, fill);
      lo = Lerp16x16(lo, Lerp16x16(_mm256_unpacklo_epi8(c, zero), _mm256_unpacklo_epi8(d, zero), fx), fy);
      hi = Lerp16x16(hi, Lerp16x16(_mm256_unpackhi_epi8(c, zero), _mm256_unpackhi_epi8(d, zero), fx), fy);
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), _mm256_packus_epi16(lo, hi));
  }
  return x;
}
#endif

// The axis-aligned span path: the triangle's texture coordinates depend on
// x alone (u) and y alone (v), rhw and the colour are constant. The values
// come from the same plane evaluations as ShadePixel, hoisted out of the
// loops, so the pixels are the same. (b * y + c with b == 0 is c for every
// row, up to the sign of a zero, which cannot change a texel.)
void RasterizeFast(const TriangleSetup& t, const PixelState& ps, std::int32_t rowBegin, std::int32_t rowEnd) {
  const StageSetup& st = ps.stages[0];
  const TSurfaceView& l = ps.textures[0]->levels[0];
  const SamplerSetup& s = ps.samplers[0];
  const bool linear = s.magFilter != TextureFilter::Point;
  const std::uint32_t uo = ps.layout.attrOffset[st.texCoordIndex];
  const double refX = t.x0, refY = rowBegin;
  const double rw = SafeRhw(t, refX, refY);
  const std::uint32_t diffuse = Diffuse(t, refX, refY, rw);
  const FastCombine kind = ClassifyStage(st);
  const bool sourceOver = IsSourceOverBlend(ps.blend);
  const bool x8Source = l.format == Format::X8R8G8B8, x8Target = ps.target.format == Format::X8R8G8B8;
  const std::uint32_t sourceFill = x8Source ? 0xFF000000u : 0;
  std::uint32_t factor = 0;
  const bool constantStage = StageFactor(st, diffuse, factor);
  // Source-over with the colour kept blends in one pass; any other constant
  // stage and blend go through the colour and blend span kernels.
  const bool spanKernel = sourceOver && constantStage && (factor & 0x00FFFFFFu) == 0x00FFFFFFu;
  const bool blendKernel = constantStage && !spanKernel;
  const std::uint32_t alphaScale = factor >> 24;

  const std::vector<SpanTap>& cols = t.columns;
  const bool allExact = t.columnsExact, contiguous = t.columnsContiguous;
  std::vector<std::uint32_t>& texels = tTexels;
  texels.resize(cols.size());
  if (blendKernel) tColours.resize(cols.size());
  std::uint64_t directRows = 0;
#if defined(__SSE2__)
  const bool uniformAvx2 = t.columnsUniform && CpuHasAvx2();
  // Scaled pictures: texel rows filtered across the band's columns once,
  // and kept while the next pixel row reads them again.
  const bool rowCache = !uniformAvx2 && !(allExact && contiguous) && CpuHasAvx2() && l.width < (1u << 24);
#else
  const bool rowCache = false;
#endif
  std::int32_t cacheB = t.x1, cacheE = t.x0;
  std::int64_t keptRow = -1;
  if (rowCache) {
    for (std::int32_t y = rowBegin; y < rowEnd; ++y) {
      std::int32_t b, e;
      RowSpan(t, y, b, e);
      if (b >= e) continue;
      cacheB = std::min(cacheB, b);
      cacheE = std::max(cacheE, e);
    }
    const std::size_t width = cacheE > cacheB ? static_cast<std::size_t>(cacheE - cacheB) : 0;
    tRowTop.resize(width);
    tRowBottom.resize(width);
    tRowKept.resize(width);
  }
  const auto filteredRow = [&](std::int64_t r, std::vector<std::uint32_t>& scratch) -> const std::uint32_t* {
    if (r == keptRow) return tRowKept.data();
    const std::size_t from = static_cast<std::size_t>(cacheB - t.x0);
    FilterRowColumns(l, linear, sourceFill, r, t.colI0.data() + from, t.colI1.data() + from, t.colW.data() + from,
                     static_cast<std::size_t>(cacheE - cacheB), scratch.data());
    return scratch.data();
  };
  // Keeps row r, held in buffer, for the next pixel row.
  const auto keepRow = [&](std::int64_t r, const std::uint32_t* buffer) {
    if (buffer == tRowTop.data()) std::swap(tRowKept, tRowTop);
    else if (buffer == tRowBottom.data()) std::swap(tRowKept, tRowBottom);
    keptRow = r;
  };

  for (std::int32_t y = rowBegin; y < rowEnd; ++y) {
    std::int32_t b, e;
    RowSpan(t, y, b, e);
    if (b >= e) continue;
    if (y + 1 < rowEnd) {
      // The next pixel row's target span and its new texel row load while
      // this row is drawn (hints only: no pixel depends on them).
      PrefetchSpan(PixelAt(ps.target, b, y + 1), static_cast<std::size_t>(e - b) * 4);
      const double vn = t.attr[uo + 1].At(refX, y + 1) / rw;
      const std::int64_t fn = SnapCoordinate(vn, l.height, linear);
      const std::int64_t rn = AddressTexel(linear ? (fn >> 8) + 1 : fn >> 8, l.height, s.addressV);
      // Between the texels of the span's end columns: all it reads unless
      // the columns wrap, and always inside the texel row.
      const SpanTap& cb = cols[static_cast<std::size_t>(b - t.x0)];
      const SpanTap& ce = cols[static_cast<std::size_t>(e - 1 - t.x0)];
      const std::int32_t c0 = std::min({cb.i0, cb.i1, ce.i0, ce.i1}), c1 = std::max({cb.i0, cb.i1, ce.i0, ce.i1});
      PrefetchSpan(l.bits + rn * l.pitch + static_cast<std::ptrdiff_t>(c0) * 4,
                   static_cast<std::size_t>(c1 - c0 + 1) * 4);
    }
    const double v = t.attr[uo + 1].At(refX, y) / rw;
    const std::int64_t f = SnapCoordinate(v, l.height, linear);
    const std::int64_t r0 = AddressTexel(f >> 8, l.height, s.addressV);
    const std::int64_t r1 = linear ? AddressTexel((f >> 8) + 1, l.height, s.addressV) : r0;
    const std::uint32_t wy = linear ? static_cast<std::uint32_t>(f & 255) : 0;
    const std::uint32_t* row0 = reinterpret_cast<const std::uint32_t*>(l.bits + r0 * l.pitch);
    const std::uint32_t* row1 = reinterpret_cast<const std::uint32_t*>(l.bits + r1 * l.pitch);
    std::uint32_t* out = reinterpret_cast<std::uint32_t*>(PixelAt(ps.target, 0, y));
    const std::size_t first = static_cast<std::size_t>(b - t.x0);
    const SpanTap* tap = cols.data() + first;  // pixel b
    // Texels of the span; a zero weight gives the first texel exactly, so
    // exact spans read the texture row in place.
    const std::uint32_t* src;
    if (allExact && wy == 0 && contiguous) {
      src = row0 + tap[0].i0;
      ++directRows;
    } else if (rowCache) {
      const std::size_t at = static_cast<std::size_t>(b - cacheB);
      const std::uint32_t* top = filteredRow(r0, tRowTop);
      if (wy == 0) {  // a zero weight gives the top row exactly
        src = top + at;
        keepRow(r0, top);
      } else {
        const std::uint32_t* bottom = filteredRow(r1, tRowBottom);
        LerpRows(top + at, bottom + at, wy, static_cast<std::size_t>(e - b), texels.data());
        src = texels.data();
        keepRow(r1, bottom);
      }
    } else {
      std::uint32_t* fill = texels.data();
      std::int32_t x = 0;
      const std::int32_t n = e - b;
#if defined(__SSE2__)
      if (uniformAvx2)
        x = UniformRowAvx2(row0 + tap[0].i0, row1 + tap[0].i0, n, tap[0].w, wy, sourceFill, fill);
      else
        x = BilinearRowSse2(tap, t.weights.data() + first, 0, n, row0, row1, wy, sourceFill, fill);
#endif
      for (; x < n; ++x) {
        const SpanTap& c = tap[x];
        std::uint32_t top = row0[c.i0] | sourceFill;
        if (c.w != 0) top = LerpArgb(top, row0[c.i1] | sourceFill, c.w);
        if (wy != 0) {
          std::uint32_t bottom = row1[c.i0] | sourceFill;
          if (c.w != 0) bottom = LerpArgb(bottom, row1[c.i1] | sourceFill, c.w);
          top = LerpArgb(top, bottom, wy);
        }
        fill[x] = top;
      }
      src = texels.data();
    }
    if (spanKernel) {
      BlendSpanSourceOver(src, out + b, static_cast<std::size_t>(e - b), alphaScale, x8Source, x8Target);
      continue;
    }
    if (blendKernel) {
      const std::size_t n = static_cast<std::size_t>(e - b);
      if (factor == 0xFFFFFFFFu && sourceFill == 0) {  // 255 keeps every channel
        BlendSpan(ps.blend, src, out + b, n, x8Target);
        continue;
      }
      ModulateBlendSpan(ps.blend, src, out + b, n, factor, sourceFill, x8Target, tColours.data());
      continue;
    }
    for (std::int32_t x = b; x < e; ++x) {
      const std::uint32_t texel = src[x - b] | sourceFill;
      std::uint32_t srcColour;
      switch (kind) {
        case FastCombine::Texture: srcColour = texel; break;
        case FastCombine::TextureAlphaTimesDiffuse:
          srcColour = (texel & 0x00FFFFFFu) | Mul255(texel >> 24, diffuse >> 24) << 24;
          break;
        default: srcColour = CombineStage(st, texel, diffuse, diffuse); break;
      }
      std::uint32_t dst;
      std::memcpy(&dst, out + x, 4);
      if (x8Target) dst |= 0xFF000000u;
      std::uint32_t result = sourceOver ? BlendSourceOver(srcColour, dst) : BlendPixel(ps.blend, srcColour, dst);
      if (x8Target) result |= 0xFF000000u;
      std::memcpy(out + x, &result, 4);
    }
  }
  if (directRows != 0) gDirectRowCount.fetch_add(directRows, std::memory_order_relaxed);
}

// u depends on x alone: evaluate it once per column for the whole draw, at
// a row of the triangle, as ShadePixel would.
// What the texel columns of a fast triangle are made from.
struct ColumnSource {
  const TSurfaceView* level;
  const SamplerSetup* sampler;
  bool linear;
  std::uint32_t uo;
  double refY, rw;
};

ColumnSource ColumnSourceOf(const TriangleSetup& t, const PixelState& ps) {
  ColumnSource c;
  c.level = &ps.textures[0]->levels[0];
  c.sampler = &ps.samplers[0];
  c.linear = c.sampler->magFilter != TextureFilter::Point;
  c.uo = ps.layout.attrOffset[ps.stages[0].texCoordIndex];
  c.refY = t.y0;
  c.rw = SafeRhw(t, t.x0, c.refY);
  return c;
}

SpanTap ColumnTap(const TriangleSetup& t, const ColumnSource& src, std::int32_t x) {
  const TSurfaceView& l = *src.level;
  const double u = t.attr[src.uo].At(x, src.refY) / src.rw;
  const std::int64_t f = SnapCoordinate(u, l.width, src.linear);
  SpanTap c;
  c.i0 = static_cast<std::int32_t>(AddressTexel(f >> 8, l.width, src.sampler->addressU));
  c.i1 = src.linear ? static_cast<std::int32_t>(AddressTexel((f >> 8) + 1, l.width, src.sampler->addressU)) : c.i0;
  c.w = src.linear ? static_cast<std::uint32_t>(f & 255) : 0;
  return c;
}

// Sizes the column arrays of a fast triangle (filled by FillColumns).
void SizeColumns(TriangleSetup& t) {
  const std::size_t n = static_cast<std::size_t>(t.x1 - t.x0);
  t.columns.resize(n);
  t.weights.resize(n);
  t.colI0.resize(n);
  t.colI1.resize(n);
  t.colW.resize(n);
}

// What a range of columns shows of the whole row: ranges filled apart are
// joined by ANDing these.
struct ColumnFlags {
  bool exact = true, contiguous = true, uniform = true;
};

// Pixel columns [from, to) of a sized fast triangle.
ColumnFlags FillColumns(TriangleSetup& t, const PixelState& ps, std::int32_t from, std::int32_t to) {
  const ColumnSource src = ColumnSourceOf(t, ps);
  const SpanTap first = ColumnTap(t, src, t.x0);
  ColumnFlags f;
  for (std::int32_t x = from; x < to; ++x) {
    const SpanTap c = ColumnTap(t, src, x);
    const std::size_t i = static_cast<std::size_t>(x - t.x0);
    t.columns[i] = c;
    t.weights[i] = c.w * 0x0001000100010001ull;
    t.colI0[i] = c.i0;
    t.colI1[i] = c.i1;
    t.colW[i] = static_cast<std::int32_t>(c.w);
    f.exact = f.exact && c.w == 0;
    f.contiguous = f.contiguous && c.i0 == first.i0 + (x - t.x0);
    f.uniform = f.uniform && c.w == first.w && c.i1 == c.i0 + 1;
  }
  return f;
}

void SetColumnFlags(TriangleSetup& t, const PixelState& ps, const ColumnFlags& f) {
  t.columnsExact = f.exact;
  t.columnsContiguous = f.contiguous;
  t.columnsUniform = f.uniform && ps.samplers[0].magFilter != TextureFilter::Point && f.contiguous;
}

std::atomic<bool> gFastPathEnabled{true};
std::atomic<std::uint64_t> gFastPathCount{0};

}  // namespace

bool TriangleKeepsTarget(const TriangleSetup& t, const PixelState& ps) {
  if (ps.shader != nullptr || !t.constantDiffuse) return false;
  if (ps.stageCount == 0) return SourceKeepsTarget(ps.blend, t.diffuse);
  SimpleStage k;
  if (!SimpleStageFor(t, ps, k) || k.varying) return false;
  // Each texel times the factor, channel by channel: alpha 0 where the
  // factor's alpha is 0, nothing at all where the factor is 0.
  const std::uint32_t worst = k.factor == 0 ? 0u : (k.factor >> 24) == 0 ? 0x00FFFFFFu : 0xFFFFFFFFu;
  return SourceKeepsTarget(ps.blend, worst);
}

std::uint8_t ClassifyStageZero(const StageSetup& s) {
  switch (ClassifyStage(s)) {
    case FastCombine::Texture: return 1;
    case FastCombine::TextureAlphaTimesDiffuse: return 2;
    default: return 0;
  }
}

void SetGfxFastPathEnabled(bool enabled) { gFastPathEnabled.store(enabled); }
void SetGfxRowPathEnabled(bool enabled) { gRowPathEnabled.store(enabled); }
std::uint64_t GfxFastPathCount() { return gFastPathCount.load(); }
std::uint64_t GfxDirectRowCount() { return gDirectRowCount.load(); }
std::uint64_t GfxDirectRunCount() { return gDirectRunCount.load(); }

bool SetupTriangle(const ScreenVertex& v0, const ScreenVertex& v1, const ScreenVertex& v2, std::uint32_t attrCount,
                   const PixelState& ps, TriangleSetup& out) {
  const ScreenVertex* v[3] = {&v0, &v1, &v2};
  std::int64_t X[3], Y[3];
  for (int i = 0; i < 3; ++i) {
    if (!(std::fabs(v[i]->x) <= kGuardBand + 1) || !(std::fabs(v[i]->y) <= kGuardBand + 1)) return false;
    X[i] = static_cast<std::int64_t>(std::floor(v[i]->x * 256.0 + 0.5));
    Y[i] = static_cast<std::int64_t>(std::floor(v[i]->y * 256.0 + 0.5));
  }
  // Clockwise on screen (y down) has a positive area; a sliver that flips
  // or vanishes when snapped is dropped.
  const std::int64_t area = (X[1] - X[0]) * (Y[2] - Y[0]) - (X[2] - X[0]) * (Y[1] - Y[0]);
  if (area <= 0) return false;
  for (int i = 0; i < 3; ++i) {
    const int j = (i + 1) % 3;
    EdgeFn& e = out.edge[i];
    e.dx = X[j] - X[i];
    e.dy = Y[j] - Y[i];
    e.xa = X[i];
    e.ya = Y[i];
    e.bias = (e.dy < 0 || (e.dy == 0 && e.dx > 0)) ? 0 : 1;
  }
  const std::int64_t minX = std::min({X[0], X[1], X[2]}), maxX = std::max({X[0], X[1], X[2]});
  const std::int64_t minY = std::min({Y[0], Y[1], Y[2]}), maxY = std::max({Y[0], Y[1], Y[2]});
  out.x0 = Hold32(CeilDiv(minX, 256), ps.clipX0, ps.clipX1);
  out.x1 = Hold32(FloorDiv(maxX, 256) + 1, ps.clipX0, ps.clipX1);
  out.y0 = Hold32(CeilDiv(minY, 256), ps.clipY0, ps.clipY1);
  out.y1 = Hold32(FloorDiv(maxY, 256) + 1, ps.clipY0, ps.clipY1);
  if (out.x0 >= out.x1 || out.y0 >= out.y1) return false;

  double x[3], y[3];
  for (int i = 0; i < 3; ++i) {
    x[i] = static_cast<double>(X[i]) / 256.0;
    y[i] = static_cast<double>(Y[i]) / 256.0;
  }
  const double det = (x[1] - x[0]) * (y[2] - y[0]) - (x[2] - x[0]) * (y[1] - y[0]);
  out.rhw = MakePlane(x, y, v0.rhw, v1.rhw, v2.rhw, det);
  for (std::uint32_t k = 0; k < attrCount && k < kMaxAttrs; ++k)
    out.attr[k] = MakePlane(x, y, v0.attr[k], v1.attr[k], v2.attr[k], det);

  bool flatColour = out.rhw.a == 0 && out.rhw.b == 0;
  for (int k = 0; k < 4; ++k) flatColour = flatColour && out.attr[k].a == 0 && out.attr[k].b == 0;
  // One colour at the three corners is that colour everywhere, in
  // perspective too (where its planes over rhw still vary).
  for (int k = 0; k < 4 && !flatColour && ps.layout.diffuseOffset >= 0; ++k) {
    const double c0 = v0.attr[k] / v0.rhw;
    if (!(std::fabs(v1.attr[k] / v1.rhw - c0) < 1e-6 && std::fabs(v2.attr[k] / v2.rhw - c0) < 1e-6)) break;
    if (k == 3) flatColour = true;
  }
  out.constantDiffuse = ps.layout.diffuseOffset < 0 || flatColour;
  // Without a diffuse colour every pixel gets 255 * rhw / rhw, which rounds to 255.
  out.diffuse = ps.layout.diffuseOffset < 0 ? 0xFFFFFFFFu : Diffuse(out, out.x0, out.y0, SafeRhw(out, out.x0, out.y0));
  out.fast = false;
  if (ps.allowFastPath && ps.stageCount == 1 && !ps.needsLod[0] && IsArgbTarget(ps.target.format)) {
    const TTextureView& tex = *ps.textures[0];
    const StageSetup& st = ps.stages[0];
    if (tex.kind == TTextureKind::Texture2D && tex.levelCount >= 1 && IsArgbTarget(tex.levels[0].format) &&
        tex.levels[0].bits != nullptr && tex.levels[0].width > 0 && tex.levels[0].height > 0 &&
        Aligned4(tex.levels[0].bits, tex.levels[0].pitch) && Aligned4(ps.target.bits, ps.target.pitch) &&
        st.texCoordIndex < ps.layout.texCount && ps.layout.texSize[st.texCoordIndex] >= 2) {
      const std::uint32_t uo = ps.layout.attrOffset[st.texCoordIndex];
      bool flat = out.rhw.a == 0 && out.rhw.b == 0 && out.attr[uo].b == 0 && out.attr[uo + 1].a == 0;
      for (int k = 0; k < 4; ++k) flat = flat && out.attr[k].a == 0 && out.attr[k].b == 0;
      out.fast = flat && out.rhw.c > 1e-300;
    }
  }
  // Its texel columns are made when the span path is to draw it (RasterizeAll):
  // a mask drawn by rows never reads them.
  return true;
}

void RowSpan(const TriangleSetup& t, std::int32_t y, std::int32_t& begin, std::int32_t& end) {
  std::int64_t lo = t.x0, hi = t.x1;
  const std::int64_t py = static_cast<std::int64_t>(y) * 256;
  for (const EdgeFn& e : t.edge) {
    // E(x) = k - dy * 256 * x must reach the bias.
    const std::int64_t k = e.dx * (py - e.ya) + e.dy * e.xa;
    if (e.dy == 0) {
      if (k < e.bias) lo = hi;
    } else if (e.dy < 0) {
      const std::int64_t first = CeilDiv(e.bias - k, -e.dy * 256);
      if (first > lo) lo = first;
    } else {
      const std::int64_t last = FloorDiv(k - e.bias, e.dy * 256) + 1;
      if (last < hi) hi = last;
    }
  }
  if (lo > hi) lo = hi;
  begin = static_cast<std::int32_t>(lo);
  end = static_cast<std::int32_t>(hi);
}

void RasterizeTriangle(const TriangleSetup& t, const PixelState& ps, std::int32_t rowBegin, std::int32_t rowEnd) {
  if (rowBegin < t.y0) rowBegin = t.y0;
  if (rowEnd > t.y1) rowEnd = t.y1;
  if (rowBegin >= rowEnd) return;
  if (ps.shader != nullptr)
    RasterizeShaded(t, ps, rowBegin, rowEnd);
  else if (t.fast && t.columns.size() == static_cast<std::size_t>(t.x1 - t.x0) &&
           gFastPathEnabled.load(std::memory_order_relaxed)) {
    gFastPathCount.fetch_add(1, std::memory_order_relaxed);
    RasterizeFast(t, ps, rowBegin, rowEnd);
  }
  else
    RasterizeGeneral(t, ps, rowBegin, rowEnd);
}

namespace {

// Draws of this many triangles or more in one textured stage on a 2D target
// (transition masks, soft edges, fans) are drawn a row at a time.
constexpr std::size_t kMergeTriangles = 8;

struct MergedSpan {
  std::int32_t b, e;
  std::uint32_t tri;
};

// A triangle whose texture coordinates put texel (x + U, y + V) at pixel
// (x, y) with every weight 0 over its whole box (a picture rendered for the
// target): its texels are read in place.
struct DirectMap {
  bool on = false;
  std::int64_t u = 0, v = 0;
};

DirectMap DirectMapOf(const TriangleSetup& t, const SimpleStage& k) {
  DirectMap m;
  // The part of the triangle over the pixel centres of its box (a convex
  // polygon): the coordinates are affine, so their extremes over every
  // pixel drawn lie at its corners.
  double px[10], py[10];
  int n = 3;
  for (int i = 0; i < 3; ++i) {
    px[i] = static_cast<double>(t.edge[i].xa) / 256.0;
    py[i] = static_cast<double>(t.edge[i].ya) / 256.0;
  }
  const double lim[4] = {static_cast<double>(t.x0), static_cast<double>(t.x1 - 1), static_cast<double>(t.y0),
                         static_cast<double>(t.y1 - 1)};
  for (int side = 0; side < 4 && n > 0; ++side) {
    const bool isX = side < 2, low = side % 2 == 0;
    const auto inside = [&](int i) {
      const double v = isX ? px[i] : py[i];
      return low ? v >= lim[side] : v <= lim[side];
    };
    double qx[10], qy[10];
    int q = 0;
    for (int i = 0; i < n; ++i) {
      const int j = (i + 1) % n;
      const bool in = inside(i), next = inside(j);
      if (in) qx[q] = px[i], qy[q++] = py[i];
      if (in != next && q < 10) {
        const double a = isX ? px[i] : py[i], b = isX ? px[j] : py[j];
        const double f = (lim[side] - a) / (b - a);
        qx[q] = px[i] + f * (px[j] - px[i]);
        qy[q++] = py[i] + f * (py[j] - py[i]);
      }
    }
    n = q;
    std::copy(qx, qx + n, px);
    std::copy(qy, qy + n, py);
  }
  if (n == 0) return m;
  const TSurfaceView& l = *k.level;
  const Plane& pu = t.attr[k.uo];
  const Plane& pv = t.attr[k.uo + 1];
  // Held off the sampler's steps by a margin, so that rounding cannot move
  // a pixel across one: the weight stays 0 (the texel stays whole).
  const double slack = k.linear ? 0.49 / 256.0 : 0.49;
  double ou = 0, ov = 0;
  for (int i = 0; i < n; ++i) {
    const double gu = pu.At(px[i], py[i]) * l.width - px[i] - 0.5, gv = pv.At(px[i], py[i]) * l.height - py[i] - 0.5;
    if (!std::isfinite(gu) || !std::isfinite(gv) || std::fabs(gu) > 1e9 || std::fabs(gv) > 1e9) return m;
    if (i == 0) {
      ou = std::nearbyint(gu);
      ov = std::nearbyint(gv);
    }
    if (std::fabs(gu - ou) > slack || std::fabs(gv - ov) > slack) return m;
  }
  const std::int64_t u = static_cast<std::int64_t>(ou), v = static_cast<std::int64_t>(ov);
  // Every texel inside the texture, as no address mode comes in.
  if (t.x0 + u < 0 || t.x1 - 1 + u >= static_cast<std::int64_t>(l.width) || t.y0 + v < 0 ||
      t.y1 - 1 + v >= static_cast<std::int64_t>(l.height))
    return m;
  m.on = true;
  m.u = u;
  m.v = v;
  return m;
}

struct MergedRows {
  std::vector<std::uint32_t> texels, factors, out;
  std::vector<std::uint64_t> covered;  // one bit a pixel of the row
  std::vector<MergedSpan> spans;
  std::vector<std::uint32_t> active;
};

// Whether bits [b, e) hold any set bit; with set, they are all set after.
bool TestBits(std::vector<std::uint64_t>& bits, std::int32_t b, std::int32_t e, bool set) {
  bool any = false;
  for (std::int32_t x = b; x < e;) {
    const std::size_t w = static_cast<std::size_t>(x) >> 6;
    const std::int32_t lo = x & 63, hi = std::min<std::int32_t>(64, lo + (e - x));
    const std::uint64_t mask = (hi == 64 ? ~0ull : (1ull << hi) - 1) & ~((1ull << lo) - 1);
    any = any || (bits[w] & mask) != 0;
    if (set) bits[w] |= mask;
    x += hi - lo;
  }
  return any;
}

// The row's spans, each pixel through the same texel, stage and blend as
// RasterizeSimple gives it; spans next to each other are modulated and
// blended as one run, read in place where their texels allow.
// The covered pixels of a row, as runs [b, e) of set bits (relative to the
// row's first pixel), in order.
template <typename Fn>
void ForEachRun(const std::vector<std::uint64_t>& bits, Fn&& fn) {
  const std::size_t words = bits.size();
  std::size_t w = 0;
  std::uint64_t cur = words ? bits[0] : 0;
  for (;;) {
    while (cur == 0) {
      if (++w >= words) return;
      cur = bits[w];
    }
    const std::int32_t b = static_cast<std::int32_t>(w * 64) + __builtin_ctzll(cur);
    // The run's end: the first clear bit from b on.
    std::uint64_t inv = ~cur & ~((std::uint64_t{1} << (b & 63)) - 1);
    while (inv == 0) {
      if (++w >= words) {
        fn(b, static_cast<std::int32_t>(words * 64));
        return;
      }
      cur = bits[w];
      inv = ~cur;
    }
    const std::int32_t e = static_cast<std::int32_t>(w * 64) + __builtin_ctzll(inv);
    fn(b, e);
    cur = bits[w] & ~((std::uint64_t{1} << (e & 63)) - 1);
  }
}

// Every triangle reading one texture in place at one offset (a mask over a
// picture rendered for the target), but for the odd sliver that is sampled:
// each span's colour factors go where it lies, and each run of covered
// pixels is modulated and blended at once, whatever the order of its spans.
// Each pixel gets the same operations as in FlushMergedRow's segments.
void FlushUniformRow(const std::vector<TriangleSetup>& tris, const std::vector<SimpleStage>& stages,
                     const std::vector<DirectMap>& maps, const PixelState& ps, std::int32_t y, std::int32_t x0,
                     MergedRows& m, std::uint64_t& runs) {
  bool modulated = false, sampled = false;
  const DirectMap* place = nullptr;
  for (const MergedSpan& sp : m.spans) {
    const SimpleStage& k = stages[sp.tri];
    if (maps[sp.tri].on) {
      place = &maps[sp.tri];
      ++runs;
    } else {
      sampled = true;
    }
    std::uint32_t* f = m.factors.data() + (sp.b - x0);
    if (!k.varying) {
      std::fill_n(f, sp.e - sp.b, k.factor);
      modulated = modulated || k.factor != 0xFFFFFFFFu;
      continue;
    }
    modulated = true;
    for (std::int32_t x = sp.b; x < sp.e; x += kBatch)
      DiffuseRow(tris[sp.tri], k, y, x, std::min<std::int32_t>(kBatch, sp.e - x), f + (x - sp.b));
  }
  const TSurfaceView& l = *stages[m.spans.front().tri].level;
  // The texels of the row's first pixel on: the texture row in place, or,
  // with sampled spans among them, every span's texels gathered.
  const std::uint32_t* tex = nullptr;
  if (place) tex = reinterpret_cast<const std::uint32_t*>(l.bits + (y + place->v) * l.pitch) + place->u + x0;
  if (sampled) {
    alignas(64) std::uint32_t batch[kBatch + 8];
    for (const MergedSpan& sp : m.spans) {
      std::uint32_t* dst = m.texels.data() + (sp.b - x0);
      if (maps[sp.tri].on) {
        std::memcpy(dst, tex + (sp.b - x0), static_cast<std::size_t>(sp.e - sp.b) * 4);
        continue;
      }
      // Whole vectors past a batch's end stay in the batch.
      for (std::int32_t x = sp.b; x < sp.e; x += kBatch) {
        const std::int32_t n = std::min<std::int32_t>(kBatch, sp.e - x);
        const std::uint32_t* got = BatchTexels(tris[sp.tri], stages[sp.tri], y, x, n, batch, runs);
        std::memcpy(dst + (x - sp.b), got, static_cast<std::size_t>(n) * 4);
      }
    }
    tex = m.texels.data();
  }
  std::uint32_t* row = reinterpret_cast<std::uint32_t*>(PixelAt(ps.target, 0, y));
  const bool x8Target = ps.target.format == Format::X8R8G8B8;
  ForEachRun(m.covered, [&](std::int32_t rb, std::int32_t re) {
    const std::uint32_t* src = tex + rb;
    if (modulated) {
      for (std::int32_t x = rb; x < re; x += kBatch)
        ModulatePixels(tex + x, m.factors.data() + x, m.out.data() + x, std::min<std::int32_t>(kBatch, re - x));
      src = m.out.data() + rb;
    }
    BlendSpan(ps.blend, src, row + x0 + rb, static_cast<std::size_t>(re - rb), x8Target);
  });
  for (const MergedSpan& sp : m.spans) {
    for (std::int32_t x = sp.b - x0; x < sp.e - x0; x += 64) m.covered[static_cast<std::size_t>(x) >> 6] = 0;
    m.covered[static_cast<std::size_t>(sp.e - 1 - x0) >> 6] = 0;
  }
  m.spans.clear();
}

void FlushMergedRow(const std::vector<TriangleSetup>& tris, const std::vector<SimpleStage>& stages,
                    const std::vector<DirectMap>& maps, const PixelState& ps, std::int32_t y, std::int32_t x0,
                    MergedRows& m, std::uint64_t& runs, bool uniform) {
  if (m.spans.empty()) return;
  if (uniform) {
    FlushUniformRow(tris, stages, maps, ps, y, x0, m, runs);
    return;
  }
  if (!std::is_sorted(m.spans.begin(), m.spans.end(), [](const MergedSpan& a, const MergedSpan& b) { return a.b < b.b; }))
    std::sort(m.spans.begin(), m.spans.end(), [](const MergedSpan& a, const MergedSpan& b) { return a.b < b.b; });
  std::uint32_t* row = reinterpret_cast<std::uint32_t*>(PixelAt(ps.target, 0, y));
  const bool x8Target = ps.target.format == Format::X8R8G8B8;
  // A span's class: read in place (and from where), and whether its stage
  // keeps the texels as they are. Spans side by side of one class are one
  // segment: one stage pass and one blend.
  const auto inPlace = [&](const MergedSpan& sp) {
    return maps[sp.tri].on && stages[sp.tri].sourceFill == 0;
  };
  const auto identity = [&](const MergedSpan& sp) {
    return !stages[sp.tri].varying && stages[sp.tri].factor == 0xFFFFFFFFu;
  };
  const auto sameClass = [&](const MergedSpan& a, const MergedSpan& b) {
    if (inPlace(a) != inPlace(b) || identity(a) != identity(b)) return false;
    return !inPlace(a) || (maps[a.tri].u == maps[b.tri].u && maps[a.tri].v == maps[b.tri].v);
  };
  for (std::size_t i = 0; i < m.spans.size();) {
    std::size_t j = i + 1;
    while (j < m.spans.size() && m.spans[j].b == m.spans[j - 1].e && sameClass(m.spans[i], m.spans[j])) ++j;
    const std::int32_t b = m.spans[i].b, e = m.spans[j - 1].e;
    if (e - b <= kTinySpan) {
      // A pixel or two (a smoothed edge beside a picture): one at a time,
      // each through the same texel, factor and blend.
      for (std::size_t q = i; q < j; ++q) {
        const MergedSpan& sp = m.spans[q];
        const TriangleSetup& t = tris[sp.tri];
        const SimpleStage& k = stages[sp.tri];
        const DirectMap& d = maps[sp.tri];
        for (std::int32_t x = sp.b; x < sp.e; ++x) {
          std::uint32_t c;
          if (d.on) {
            const TSurfaceView& l = *k.level;
            c = reinterpret_cast<const std::uint32_t*>(l.bits + (y + d.v) * l.pitch)[x + d.u] | k.sourceFill;
          } else {
            c = TexelAt(t, k, y, x);
          }
          if (!identity(sp)) {
            const std::uint32_t f = k.varying ? FactorAt(t, k, y, x) : k.factor;
            ModulatePixels(&c, &f, &c, 1);
          }
          BlendSpan(ps.blend, &c, row + x, 1, x8Target);
        }
      }
      i = j;
      continue;
    }
    const std::uint32_t* tex;
    if (inPlace(m.spans[i])) {
      const DirectMap& d = maps[m.spans[i].tri];
      const TSurfaceView& l = *stages[m.spans[i].tri].level;
      tex = reinterpret_cast<const std::uint32_t*>(l.bits + (y + d.v) * l.pitch) + (b + d.u);
      runs += j - i;
    } else {
      for (std::size_t q = i; q < j; ++q) {
        const MergedSpan& sp = m.spans[q];
        const SimpleStage& k = stages[sp.tri];
        const DirectMap& d = maps[sp.tri];
        std::uint32_t* dst = m.texels.data() + (sp.b - x0);
        if (d.on) {  // in place but for the source fill
          const TSurfaceView& l = *k.level;
          const std::uint32_t* src = reinterpret_cast<const std::uint32_t*>(l.bits + (y + d.v) * l.pitch) + (sp.b + d.u);
          for (std::int32_t x = 0; x < sp.e - sp.b; ++x) dst[x] = src[x] | k.sourceFill;
          ++runs;
          continue;
        }
        // Sampled: kBatch at a time, in place (the vectors past a batch's
        // end land where the next is written).
        for (std::int32_t x = sp.b; x < sp.e; x += kBatch) {
          const std::int32_t n = std::min<std::int32_t>(kBatch, sp.e - x);
          std::uint32_t* at = m.texels.data() + (x - x0);
          const std::uint32_t* got = BatchTexels(tris[sp.tri], k, y, x, n, at, runs);
          if (got != at) std::memcpy(at, got, static_cast<std::size_t>(n) * 4);
        }
      }
      tex = m.texels.data() + (b - x0);
    }
    const std::uint32_t* src = tex;
    if (!identity(m.spans[i])) {
      for (std::size_t q = i; q < j; ++q) {
        const MergedSpan& sp = m.spans[q];
        const SimpleStage& k = stages[sp.tri];
        std::uint32_t* f = m.factors.data() + (sp.b - x0);
        if (!k.varying) {
          std::fill_n(f, sp.e - sp.b, k.factor);
          continue;
        }
        for (std::int32_t x = sp.b; x < sp.e; x += kBatch)
          DiffuseRow(tris[sp.tri], k, y, x, std::min<std::int32_t>(kBatch, sp.e - x), f + (x - sp.b));
      }
      for (std::int32_t x = b; x < e; x += kBatch)
        ModulatePixels(tex + (x - b), m.factors.data() + (x - x0), m.out.data() + (x - x0),
                       std::min<std::int32_t>(kBatch, e - x));
      src = m.out.data() + (b - x0);
    }
    BlendSpan(ps.blend, src, row + b, static_cast<std::size_t>(e - b), x8Target);
    i = j;
  }
  for (const MergedSpan& sp : m.spans) {
    for (std::int32_t x = sp.b - x0; x < sp.e - x0; x += 64) m.covered[static_cast<std::size_t>(x) >> 6] = 0;
    m.covered[static_cast<std::size_t>(sp.e - 1 - x0) >> 6] = 0;
  }
  m.spans.clear();
}

// All triangles' rows [from, to) a row at a time (see kMergeTriangles).
void RasterizeMerged(const std::vector<TriangleSetup>& tris, const std::vector<SimpleStage>& stages,
                     const std::vector<DirectMap>& maps, const PixelState& ps, std::int32_t from, std::int32_t to,
                     bool uniform) {
  thread_local MergedRows m;
  const std::int32_t x0 = ps.clipX0, width = ps.clipX1 - ps.clipX0;
  if (width <= 0) return;
  m.texels.resize(static_cast<std::size_t>(width) + kBatch + 8);
  m.factors.resize(m.texels.size());
  m.out.resize(m.texels.size());
  m.covered.assign(static_cast<std::size_t>(width + 63) / 64 + 1, 0);
  m.active.clear();
  for (std::uint32_t i = 0; i < tris.size(); ++i)
    if (tris[i].y0 < to && tris[i].y1 > from) m.active.push_back(i);
  std::uint64_t runs = 0;
  for (std::int32_t y = from; y < to; ++y) {
    for (const std::uint32_t i : m.active) {
      const TriangleSetup& t = tris[i];
      if (y < t.y0 || y >= t.y1) continue;
      std::int32_t b, e;
      RowSpan(t, y, b, e);
      if (b >= e) continue;
      // A span over one already there blends after it: the row so far first
      // (whose covered pixels are then all the flush sees).
      if (TestBits(m.covered, b - x0, e - x0, false)) FlushMergedRow(tris, stages, maps, ps, y, x0, m, runs, uniform);
      TestBits(m.covered, b - x0, e - x0, true);
      m.spans.push_back({b, e, i});
    }
    FlushMergedRow(tris, stages, maps, ps, y, x0, m, runs, uniform);
  }
  if (runs != 0) gDirectRunCount.fetch_add(runs, std::memory_order_relaxed);
}

// The stage and texel map of every triangle when the draw may be drawn by
// rows.
bool MergeableDraw(const std::vector<TriangleSetup>& tris, const PixelState& ps, std::vector<SimpleStage>& stages,
                   std::vector<DirectMap>& maps, bool& uniform) {
  if (tris.size() < kMergeTriangles || ps.shader != nullptr || !gRowPathEnabled.load(std::memory_order_relaxed))
    return false;
  stages.resize(tris.size());
  maps.resize(tris.size());
  std::atomic<bool> rowsOk{true};
  ForTriangleChunks(tris.size(), [&](std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end && rowsOk.load(std::memory_order_relaxed); ++i) {
      const TriangleSetup& t = tris[i];
      if (!(t.rhw.a == 0 && t.rhw.b == 0 && t.rhw.c == 1.0) || !SimpleStageFor(t, ps, stages[i])) {
        rowsOk.store(false, std::memory_order_relaxed);
        return;
      }
      maps[i] = DirectMapOf(t, stages[i]);
    }
  });
  if (!rowsOk.load()) return false;
  // One offset for every triangle read in place; the odd sliver whose texels
  // cannot be shown to sit on its pixels is sampled.
  uniform = IsArgbTarget(ps.target.format) && Aligned4(ps.target.bits, ps.target.pitch);
  const DirectMap* first = nullptr;
  for (std::size_t i = 0; i < tris.size() && uniform; ++i) {
    if (!maps[i].on) continue;
    if (!first) first = &maps[i];
    uniform = stages[i].sourceFill == 0 && maps[i].u == first->u && maps[i].v == first->v;
  }
  uniform = uniform && first != nullptr;
  return true;
}

}  // namespace

void ForTriangleChunks(std::size_t count, const std::function<void(std::size_t, std::size_t)>& chunk) {
  if (count < kParallelTriangles) {
    if (count > 0) chunk(0, count);
    return;
  }
  GfxWorkers::Instance().Run(static_cast<std::uint32_t>((count + kTriangleChunk - 1) / kTriangleChunk),
                             [&](std::uint32_t i) {
                               const std::size_t begin = std::size_t{i} * kTriangleChunk;
                               chunk(begin, std::min(begin + kTriangleChunk, count));
                             });
}

namespace {

// The texel columns of every fast triangle, in ranges shared out over the
// workers when there are enough: a picture's tile brings two triangles of
// hundreds of columns each.
void BuildAllColumns(std::vector<TriangleSetup>& tris, const PixelState& ps) {
  struct Range {
    std::uint32_t tri;
    std::int32_t from, to;
  };
  std::vector<Range> ranges;
  std::int64_t columns = 0;
  for (std::uint32_t i = 0; i < tris.size(); ++i) {
    TriangleSetup& t = tris[i];
    if (!t.fast) continue;
    SizeColumns(t);
    columns += t.x1 - t.x0;
    for (std::int32_t x = t.x0; x < t.x1; x += kColumnChunk) ranges.push_back({i, x, std::min(x + kColumnChunk, t.x1)});
  }
  if (ranges.empty()) return;
  std::vector<ColumnFlags> flags(ranges.size());
  const auto fill = [&](std::uint32_t r) {
    flags[r] = FillColumns(tris[ranges[r].tri], ps, ranges[r].from, ranges[r].to);
  };
  if (columns < kParallelColumns) {
    for (std::uint32_t r = 0; r < ranges.size(); ++r) fill(r);
  } else {
    GfxWorkers::Instance().Run(static_cast<std::uint32_t>(ranges.size()), fill);
  }
  for (std::size_t r = 0; r < ranges.size();) {
    ColumnFlags all;
    const std::uint32_t tri = ranges[r].tri;
    for (; r < ranges.size() && ranges[r].tri == tri; ++r) {
      all.exact = all.exact && flags[r].exact;
      all.contiguous = all.contiguous && flags[r].contiguous;
      all.uniform = all.uniform && flags[r].uniform;
    }
    SetColumnFlags(tris[tri], ps, all);
  }
}

}  // namespace

namespace {

// Whether two triangles share no pixel: their boxes apart, or their spans
// apart on every row both reach.
bool TrianglesApart(const TriangleSetup& a, const TriangleSetup& b) {
  if (a.x1 <= b.x0 || b.x1 <= a.x0 || a.y1 <= b.y0 || b.y1 <= a.y0) return true;
  const std::int32_t from = std::max(a.y0, b.y0), to = std::min(a.y1, b.y1);
  for (std::int32_t y = from; y < to; ++y) {
    std::int32_t ab, ae, bb, be;
    RowSpan(a, y, ab, ae);
    RowSpan(b, y, bb, be);
    if (ab < ae && bb < be && ab < be && bb < ae) return false;
  }
  return true;
}

// Moves out of a draw made by rows the triangles the span path can draw on
// their own (the inside of a picture with smoothed edges): those sharing no
// pixel with any triangle left, so that which is drawn first cannot matter.
// Each pixel comes out as either path gives it, which is ShadePixel's.
std::vector<TriangleSetup> TakeSpanTriangles(std::vector<TriangleSetup>& tris) {
  std::vector<TriangleSetup> alone;
  std::vector<std::uint8_t> take(tris.size(), 0);
  bool any = false;
  for (std::size_t i = 0; i < tris.size(); ++i) any = (take[i] = tris[i].fast ? 1 : 0) || any;
  if (!any) return alone;
  // Dropped until none shares a pixel with one that stays.
  for (bool again = true; again;) {
    again = false;
    for (std::size_t i = 0; i < tris.size(); ++i) {
      if (!take[i]) continue;
      for (std::size_t j = 0; j < tris.size(); ++j)
        if (!take[j] && !TrianglesApart(tris[i], tris[j])) {
          take[i] = 0;
          again = true;
          break;
        }
    }
  }
  std::size_t n = 0;
  for (std::size_t i = 0; i < tris.size(); ++i) {
    if (take[i]) {
      alone.push_back(std::move(tris[i]));
      continue;
    }
    if (n != i) tris[n] = std::move(tris[i]);
    ++n;
  }
  tris.resize(n);
  return alone;
}

}  // namespace

void RasterizeAll(std::vector<TriangleSetup>& tris, const PixelState& ps) {
  if (tris.empty()) return;
  std::int32_t y0 = tris[0].y0, y1 = tris[0].y1;
  std::int64_t work = 0;
  for (const TriangleSetup& t : tris) {
    y0 = std::min(y0, t.y0);
    y1 = std::max(y1, t.y1);
    work += (static_cast<std::int64_t>(t.x1 - t.x0) + kRowWork) * (t.y1 - t.y0);
  }
  // kBandRows a band, but the last kTailRows in bands of kTailBandRows: the
  // bands are handed out as taken, and a small last one leaves the other
  // threads less to wait for.
  const std::int32_t tail = std::min(y1 - y0, kTailRows), head = y1 - y0 - tail;
  const std::uint32_t headBands = static_cast<std::uint32_t>((head + kBandRows - 1) / kBandRows);
  const std::uint32_t bands = headBands + static_cast<std::uint32_t>((tail + kTailBandRows - 1) / kTailBandRows);
  std::vector<SimpleStage> stages;
  std::vector<DirectMap> maps;
  bool uniform = false;
  bool merged = MergeableDraw(tris, ps, stages, maps, uniform);
  const bool spanPath = gFastPathEnabled.load(std::memory_order_relaxed);
  // A merged draw's triangles of the span path go that way on their own.
  std::vector<TriangleSetup> alone;
  if (merged && spanPath) {
    alone = TakeSpanTriangles(tris);
    if (!alone.empty()) merged = MergeableDraw(tris, ps, stages, maps, uniform);
  }
  if (spanPath) {
    BuildAllColumns(alone, ps);
    if (!merged) BuildAllColumns(tris, ps);
  }
  auto band = [&](std::uint32_t i) {
    const bool inHead = i < headBands;
    const std::int32_t from = inHead ? y0 + static_cast<std::int32_t>(i) * kBandRows
                                     : y0 + head + static_cast<std::int32_t>(i - headBands) * kTailBandRows;
    const std::int32_t to = inHead ? std::min(from + kBandRows, y0 + head) : std::min(from + kTailBandRows, y1);
    for (const TriangleSetup& t : alone) RasterizeTriangle(t, ps, from, to);
    if (merged) {
      RasterizeMerged(tris, stages, maps, ps, from, to, uniform);
      return;
    }
    for (const TriangleSetup& t : tris) RasterizeTriangle(t, ps, from, to);
  };
  if (work < kInlineWork) {
    for (std::uint32_t i = 0; i < bands; ++i) band(i);
    return;
  }
  GfxWorkers::Instance().Run(bands, band);
}

}  // namespace plat::gfx
