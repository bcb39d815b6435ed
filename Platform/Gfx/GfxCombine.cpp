#include "Platform/Gfx/GfxCombine.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace plat::gfx {
namespace {

std::uint32_t Argument(std::uint32_t arg, std::uint32_t texel, std::uint32_t current, std::uint32_t diffuse) {
  std::uint32_t v;
  switch (arg & ArgSelectMask) {
    case ArgDiffuse: v = diffuse; break;
    case ArgTexture: v = texel; break;
    default: v = current; break;  // factor, specular, temp and constant registers are never set
  }
  if (arg & ArgComplement) v = ~v;
  if (arg & ArgAlphaReplicate) v = (v >> 24) * 0x01010101u;
  return v;
}

std::uint32_t Modulate(std::uint32_t a, std::uint32_t b, std::uint32_t mask) {
  std::uint32_t out = 0;
  for (int shift = 0; shift < 32; shift += 8)
    if ((mask >> shift) & 255) out |= Mul255((a >> shift) & 255, (b >> shift) & 255) << shift;
  return out;
}

std::uint32_t Operate(TextureOp op, std::uint32_t a1, std::uint32_t a2, std::uint32_t mask) {
  switch (op) {
    case TextureOp::SelectArg2: return a2 & mask;
    case TextureOp::Modulate: return Modulate(a1, a2, mask);
    default: return a1 & mask;
  }
}

std::uint32_t Factor(Blend f, std::uint32_t channelSrc, std::uint32_t channelDst, std::uint32_t as, std::uint32_t ad) {
  switch (f) {
    case Blend::Zero: return 0;
    case Blend::One: return 255;
    case Blend::SrcColor: return channelSrc;
    case Blend::InvSrcColor: return 255 - channelSrc;
    case Blend::SrcAlpha: return as;
    case Blend::InvSrcAlpha: return 255 - as;
    case Blend::DestAlpha: return ad;
    case Blend::InvDestAlpha: return 255 - ad;
    case Blend::DestColor: return channelDst;
    case Blend::InvDestColor: return 255 - channelDst;
  }
  return 255;
}

std::uint32_t Channel(BlendOp op, Blend fs, Blend fd, std::uint32_t s, std::uint32_t d, std::uint32_t as,
                      std::uint32_t ad) {
  switch (op) {
    case BlendOp::Max: return s > d ? s : d;
    case BlendOp::Min: return s < d ? s : d;
    default: break;
  }
  const std::int32_t ts = static_cast<std::int32_t>(s * Factor(fs, s, d, as, ad));
  const std::int32_t td = static_cast<std::int32_t>(d * Factor(fd, s, d, as, ad));
  std::int32_t v;
  switch (op) {
    case BlendOp::Subtract: v = ts - td; break;
    case BlendOp::RevSubtract: v = td - ts; break;
    default: v = ts + td; break;
  }
  if (v <= 0) return 0;
  v = (v + 127) / 255;
  return v > 255 ? 255u : static_cast<std::uint32_t>(v);
}

Blend BlendFrom(std::uint32_t v, Blend fallback) { return v >= 1 && v <= 10 ? static_cast<Blend>(v) : fallback; }
BlendOp BlendOpFrom(std::uint32_t v) { return v >= 1 && v <= 5 ? static_cast<BlendOp>(v) : BlendOp::Add; }

}  // namespace

StageSetup MakeStageSetup(const StageStateTable& t) {
  StageSetup s;
  const std::uint32_t op = t[static_cast<std::uint32_t>(StageState::ColorOp)];
  s.colorOp = op == 0 ? TextureOp::Disable : static_cast<TextureOp>(op);
  s.alphaOp = static_cast<TextureOp>(t[static_cast<std::uint32_t>(StageState::AlphaOp)]);
  s.colorArg1 = t[static_cast<std::uint32_t>(StageState::ColorArg1)];
  s.colorArg2 = t[static_cast<std::uint32_t>(StageState::ColorArg2)];
  s.alphaArg1 = t[static_cast<std::uint32_t>(StageState::AlphaArg1)];
  s.alphaArg2 = t[static_cast<std::uint32_t>(StageState::AlphaArg2)];
  s.texCoordIndex = t[static_cast<std::uint32_t>(StageState::TexCoordIndex)] & 0xFFFF;
  return s;
}

std::uint32_t CombineStage(const StageSetup& s, std::uint32_t texel, std::uint32_t current, std::uint32_t diffuse) {
  const std::uint32_t rgb = Operate(s.colorOp, Argument(s.colorArg1, texel, current, diffuse),
                                    Argument(s.colorArg2, texel, current, diffuse), 0x00FFFFFFu);
  // A disabled alpha operation with a live colour one keeps the alpha that arrives.
  const std::uint32_t a = s.alphaOp == TextureOp::Disable
                              ? current & 0xFF000000u
                              : Operate(s.alphaOp, Argument(s.alphaArg1, texel, current, diffuse),
                                        Argument(s.alphaArg2, texel, current, diffuse), 0xFF000000u);
  return rgb | a;
}

BlendSetup MakeBlendSetup(const RenderStateTable& t) {
  BlendSetup b;
  b.enable = t[static_cast<std::uint32_t>(RenderState::AlphaBlendEnable)] != 0;
  b.src = BlendFrom(t[static_cast<std::uint32_t>(RenderState::SrcBlend)], Blend::One);
  b.dst = BlendFrom(t[static_cast<std::uint32_t>(RenderState::DestBlend)], Blend::Zero);
  b.op = BlendOpFrom(t[static_cast<std::uint32_t>(RenderState::BlendOp)]);
  b.separateAlpha = t[static_cast<std::uint32_t>(RenderState::SeparateAlphaBlendEnable)] != 0;
  b.srcAlpha = BlendFrom(t[static_cast<std::uint32_t>(RenderState::SrcBlendAlpha)], Blend::One);
  b.dstAlpha = BlendFrom(t[static_cast<std::uint32_t>(RenderState::DestBlendAlpha)], Blend::Zero);
  b.opAlpha = BlendOpFrom(t[static_cast<std::uint32_t>(RenderState::BlendOpAlpha)]);
  return b;
}

std::uint32_t BlendPixel(const BlendSetup& b, std::uint32_t src, std::uint32_t dst) {
  if (!b.enable) return src;
  const std::uint32_t as = src >> 24, ad = dst >> 24;
  std::uint32_t out = 0;
  for (int shift = 0; shift < 24; shift += 8)
    out |= Channel(b.op, b.src, b.dst, (src >> shift) & 255, (dst >> shift) & 255, as, ad) << shift;
  const std::uint32_t alpha = b.separateAlpha ? Channel(b.opAlpha, b.srcAlpha, b.dstAlpha, as, ad, as, ad)
                                              : Channel(b.op, b.src, b.dst, as, ad, as, ad);
  return out | alpha << 24;
}

bool IsSourceOverBlend(const BlendSetup& b) {
  return b.enable && b.op == BlendOp::Add && b.src == Blend::SrcAlpha && b.dst == Blend::InvSrcAlpha &&
         (!b.separateAlpha ||
          (b.opAlpha == BlendOp::Add && b.srcAlpha == Blend::SrcAlpha && b.dstAlpha == Blend::InvSrcAlpha));
}

namespace {

inline std::uint32_t BlendOneSourceOver(std::uint32_t texel, std::uint32_t d, std::uint32_t alphaScale,
                                        std::uint32_t sourceFill, std::uint32_t targetFill) {
  const std::uint32_t s = texel | sourceFill;
  const std::uint32_t src = (s & 0x00FFFFFFu) | Mul255(s >> 24, alphaScale) << 24;
  return BlendSourceOver(src, d | targetFill) | targetFill;
}

#if defined(__SSE2__)
// t / 255 for any 16-bit t: (t * 0x8081) >> 23.
inline __m128i Div255(__m128i t) { return _mm_srli_epi16(_mm_mulhi_epu16(t, _mm_set1_epi16(-32639)), 7); }

// Two pixels in 16-bit lanes (b, g, r, a, b, g, r, a).
inline __m128i BlendTwo(__m128i s, __m128i d, __m128i scale) {
  const __m128i round = _mm_set1_epi16(127), full = _mm_set1_epi16(255);
  const __m128i alphaLanes = _mm_set_epi16(-1, 0, 0, 0, -1, 0, 0, 0);
  __m128i a = _mm_shufflehi_epi16(_mm_shufflelo_epi16(s, 0xFF), 0xFF);
  a = Div255(_mm_add_epi16(_mm_mullo_epi16(a, scale), round));
  s = _mm_or_si128(_mm_andnot_si128(alphaLanes, s), _mm_and_si128(alphaLanes, a));
  const __m128i t = _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(s, a), _mm_mullo_epi16(d, _mm_sub_epi16(full, a))), round);
  return Div255(t);
}

// The span kernels below blend with pmaddubsw: the weights (a, 255 - a) as
// unsigned bytes times the channels biased to signed, (s - 128, d - 128),
// give a*s + (255-a)*d - 32640 in [-32640, 32385], so the pair sum never
// saturates. Flipping the top bit adds 32768, which makes it the rounded
// numerator plus one, t + 1 with t = a*s + (255-a)*d + 127; and for any
// t < 65535, t / 255 == ((t + 1) * 257) >> 16, one mulhi. The alpha scale
// uses the same identity. So each lane equals BlendOneSourceOver exactly.
__attribute__((target("avx2"))) std::size_t BlendSpanAvx2(const std::uint32_t* texels, std::uint32_t* dst,
                                                           std::size_t n, std::uint32_t alphaScale,
                                                           std::uint32_t sourceFill, std::uint32_t targetFill) {
  const __m256i scale = _mm256_set1_epi32(static_cast<int>(alphaScale));
  const __m256i sFill = _mm256_set1_epi32(static_cast<int>(sourceFill));
  const __m256i dFill = _mm256_set1_epi32(static_cast<int>(targetFill));
  const __m256i bias = _mm256_set1_epi8(static_cast<char>(0x80)), rgb = _mm256_set1_epi32(0x00FFFFFF);
  const __m256i full = _mm256_set1_epi32(255), round = _mm256_set1_epi32(128);
  const __m256i m257 = _mm256_set1_epi16(257), top = _mm256_set1_epi16(-32768);
  // Each pixel's (a, 255 - a) pair repeated for its four channels.
  const __m256i pairsLo = _mm256_setr_epi8(0, 1, 0, 1, 0, 1, 0, 1, 4, 5, 4, 5, 4, 5, 4, 5, 0, 1, 0, 1, 0, 1, 0, 1, 4,
                                           5, 4, 5, 4, 5, 4, 5);
  const __m256i pairsHi = _mm256_setr_epi8(8, 9, 8, 9, 8, 9, 8, 9, 12, 13, 12, 13, 12, 13, 12, 13, 8, 9, 8, 9, 8, 9, 8,
                                           9, 12, 13, 12, 13, 12, 13, 12, 13);
  const bool unscaled = alphaScale == 255;
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256i s = _mm256_or_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(texels + i)), sFill);
    // Opaque texels come out as they are: the target is not read.
    if (unscaled && _mm256_movemask_epi8(_mm256_cmpeq_epi32(_mm256_srli_epi32(s, 24), full)) == -1) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), _mm256_or_si256(s, dFill));
      continue;
    }
    const __m256i d = _mm256_or_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(dst + i)), dFill);
    // a = Mul255(alpha, scale) in the low word of each pixel, 0 above.
    __m256i a = _mm256_mullo_epi16(_mm256_srli_epi32(s, 24), scale);
    a = _mm256_mulhi_epu16(_mm256_add_epi16(a, round), m257);
    const __m256i w = _mm256_or_si256(a, _mm256_slli_epi32(_mm256_xor_si256(a, full), 8));
    const __m256i sb = _mm256_xor_si256(_mm256_or_si256(_mm256_and_si256(s, rgb), _mm256_slli_epi32(a, 24)), bias);
    const __m256i db = _mm256_xor_si256(d, bias);
    // unpack works within 128-bit halves and pack undoes it the same way.
    __m256i lo = _mm256_maddubs_epi16(_mm256_shuffle_epi8(w, pairsLo), _mm256_unpacklo_epi8(sb, db));
    __m256i hi = _mm256_maddubs_epi16(_mm256_shuffle_epi8(w, pairsHi), _mm256_unpackhi_epi8(sb, db));
    lo = _mm256_mulhi_epu16(_mm256_xor_si256(lo, top), m257);
    hi = _mm256_mulhi_epu16(_mm256_xor_si256(hi, top), m257);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), _mm256_or_si256(_mm256_packus_epi16(lo, hi), dFill));
  }
  return i;
}

// The same, 16 pixels at a time. Shifts and the broadcast are spelt without
// the intrinsics that g++ 12's headers fill from an uninitialised value.
typedef std::uint32_t U32x16 __attribute__((vector_size(64)));
__attribute__((target("avx512bw"))) inline __m512i Shr24(__m512i v) {
  return reinterpret_cast<__m512i>(reinterpret_cast<U32x16>(v) >> 24);
}
__attribute__((target("avx512bw"))) inline __m512i Shl(__m512i v, int bits) {
  return reinterpret_cast<__m512i>(reinterpret_cast<U32x16>(v) << bits);
}

__attribute__((target("avx512bw"))) std::size_t BlendSpanAvx512(const std::uint32_t* texels, std::uint32_t* dst,
                                                                 std::size_t n, std::uint32_t alphaScale,
                                                                 std::uint32_t sourceFill, std::uint32_t targetFill) {
  const __m512i scale = _mm512_set1_epi32(static_cast<int>(alphaScale));
  const __m512i sFill = _mm512_set1_epi32(static_cast<int>(sourceFill));
  const __m512i dFill = _mm512_set1_epi32(static_cast<int>(targetFill));
  const __m512i bias = _mm512_set1_epi8(static_cast<char>(0x80)), rgb = _mm512_set1_epi32(0x00FFFFFF);
  const __m512i full = _mm512_set1_epi32(255), round = _mm512_set1_epi32(128);
  const __m512i m257 = _mm512_set1_epi16(257), top = _mm512_set1_epi16(-32768);
  const __m512i pairsLo = _mm512_set4_epi32(0x05040504, 0x05040504, 0x01000100, 0x01000100);
  const __m512i pairsHi = _mm512_set4_epi32(0x0D0C0D0C, 0x0D0C0D0C, 0x09080908, 0x09080908);
  const bool unscaled = alphaScale == 255;
  const __m512i opaque = _mm512_set1_epi32(static_cast<int>(0xFF000000u));
  std::size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m512i s = _mm512_or_si512(_mm512_loadu_si512(texels + i), sFill);
    // Opaque texels come out as they are: the target is not read.
    if (unscaled && _mm512_cmpge_epu32_mask(s, opaque) == 0xFFFF) {
      _mm512_storeu_si512(dst + i, _mm512_or_si512(s, dFill));
      continue;
    }
    const __m512i d = _mm512_or_si512(_mm512_loadu_si512(dst + i), dFill);
    __m512i a = _mm512_mullo_epi16(Shr24(s), scale);
    a = _mm512_mulhi_epu16(_mm512_add_epi16(a, round), m257);
    const __m512i w = _mm512_or_si512(a, Shl(_mm512_xor_si512(a, full), 8));
    const __m512i sb = _mm512_xor_si512(_mm512_or_si512(_mm512_and_si512(s, rgb), Shl(a, 24)), bias);
    const __m512i db = _mm512_xor_si512(d, bias);
    __m512i lo = _mm512_maddubs_epi16(_mm512_shuffle_epi8(w, pairsLo), _mm512_unpacklo_epi8(sb, db));
    __m512i hi = _mm512_maddubs_epi16(_mm512_shuffle_epi8(w, pairsHi), _mm512_unpackhi_epi8(sb, db));
    lo = _mm512_mulhi_epu16(_mm512_xor_si512(lo, top), m257);
    hi = _mm512_mulhi_epu16(_mm512_xor_si512(hi, top), m257);
    _mm512_storeu_si512(dst + i, _mm512_or_si512(_mm512_packus_epi16(lo, hi), dFill));
  }
  return i;
}

// The widest kernel the processor runs: 0 none, 1 SSE2, 2 AVX2, 3 AVX-512BW.
int CpuSpanLevel() {
  static const int level = [] {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512bw")) return 3;
    return __builtin_cpu_supports("avx2") ? 2 : 1;
  }();
  return level;
}
#endif

std::atomic<int> gSpanLevelLimit{3};

}  // namespace

void LimitSpanKernels(int level) { gSpanLevelLimit.store(level, std::memory_order_relaxed); }

namespace {

// AVX2, SSE2 and scalar: short spans and the ends of long ones.
void BlendSpanNarrow(const std::uint32_t* texels, std::uint32_t* dst, std::size_t n, std::uint32_t alphaScale,
                     std::uint32_t sourceFill, std::uint32_t targetFill, [[maybe_unused]] int level) {
  std::size_t i = 0;
#if defined(__SSE2__)
  const std::size_t vn = level >= 1 ? n : 0;  // level 0: the scalar loop alone
  if (vn >= 8 && level >= 2) i = BlendSpanAvx2(texels, dst, vn, alphaScale, sourceFill, targetFill);
  const __m128i zero = _mm_setzero_si128(), scale = _mm_set1_epi16(static_cast<short>(alphaScale));
  const __m128i sFill = _mm_set1_epi32(static_cast<int>(sourceFill)), dFill = _mm_set1_epi32(static_cast<int>(targetFill));
  for (; i + 4 <= vn; i += 4) {
    const __m128i s = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(texels + i)), sFill);
    const __m128i d = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(dst + i)), dFill);
    const __m128i lo = BlendTwo(_mm_unpacklo_epi8(s, zero), _mm_unpacklo_epi8(d, zero), scale);
    const __m128i hi = BlendTwo(_mm_unpackhi_epi8(s, zero), _mm_unpackhi_epi8(d, zero), scale);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_or_si128(_mm_packus_epi16(lo, hi), dFill));
  }
#endif
  for (; i < n; ++i) {
    std::uint32_t d;
    std::memcpy(&d, dst + i, 4);
    d = BlendOneSourceOver(texels[i], d, alphaScale, sourceFill, targetFill);
    std::memcpy(dst + i, &d, 4);
  }
}

}  // namespace

void BlendSpanSourceOver(const std::uint32_t* texels, std::uint32_t* dst, std::size_t n, std::uint32_t alphaScale,
                         bool x8Source, bool x8Target) {
  const std::uint32_t sourceFill = x8Source ? 0xFF000000u : 0, targetFill = x8Target ? 0xFF000000u : 0;
  int level = 0;
#if defined(__SSE2__)
  level = std::min(CpuSpanLevel(), gSpanLevelLimit.load(std::memory_order_relaxed));
  if (level >= 3 && n >= 32) {
    // Whole cache lines of the target: a split 64-byte access costs two.
    const std::uintptr_t addr = reinterpret_cast<std::uintptr_t>(dst);
    const std::size_t head = addr % 4 == 0 ? ((64 - addr % 64) / 4) % 16 : 0;
    BlendSpanNarrow(texels, dst, head, alphaScale, sourceFill, targetFill, level);
    const std::size_t mid = head + BlendSpanAvx512(texels + head, dst + head, n - head, alphaScale, sourceFill, targetFill);
    BlendSpanNarrow(texels + mid, dst + mid, n - mid, alphaScale, sourceFill, targetFill, level);
    return;
  }
#endif
  BlendSpanNarrow(texels, dst, n, alphaScale, sourceFill, targetFill, level);
}

namespace {

bool IsOverKeepingCoverage(const BlendSetup& b) {
  return b.enable && b.op == BlendOp::Add && b.src == Blend::SrcAlpha && b.dst == Blend::InvSrcAlpha &&
         b.separateAlpha && b.opAlpha == BlendOp::Add && b.srcAlpha == Blend::One && b.dstAlpha == Blend::InvSrcAlpha;
}

bool IsPremultipliedOver(const BlendSetup& b) {
  return b.op == BlendOp::Add && b.src == Blend::One && b.dst == Blend::InvSrcAlpha &&
         (!b.separateAlpha ||
          (b.opAlpha == BlendOp::Add && b.srcAlpha == Blend::One && b.dstAlpha == Blend::InvSrcAlpha));
}

#if defined(__SSE2__)
// Blend factors and one blend channel in 16-bit lanes, as Factor and Channel
// give them. The sums saturate at 65535, past the point where the rounded
// quotient clamps to 255 anyway, so Div255 stays exact.
inline __m128i FactorLanes(Blend f, __m128i s, __m128i d, __m128i as, __m128i ad) {
  const __m128i full = _mm_set1_epi16(255);
  switch (f) {
    case Blend::Zero: return _mm_setzero_si128();
    case Blend::One: return full;
    case Blend::SrcColor: return s;
    case Blend::InvSrcColor: return _mm_sub_epi16(full, s);
    case Blend::SrcAlpha: return as;
    case Blend::InvSrcAlpha: return _mm_sub_epi16(full, as);
    case Blend::DestAlpha: return ad;
    case Blend::InvDestAlpha: return _mm_sub_epi16(full, ad);
    case Blend::DestColor: return d;
    case Blend::InvDestColor: return _mm_sub_epi16(full, d);
  }
  return full;
}

inline __m128i ChannelLanes(BlendOp op, Blend fs, Blend fd, __m128i s, __m128i d, __m128i as, __m128i ad) {
  if (op == BlendOp::Max) return _mm_max_epi16(s, d);
  if (op == BlendOp::Min) return _mm_min_epi16(s, d);
  const __m128i ts = _mm_mullo_epi16(s, FactorLanes(fs, s, d, as, ad));
  const __m128i td = _mm_mullo_epi16(d, FactorLanes(fd, s, d, as, ad));
  __m128i v;
  switch (op) {
    case BlendOp::Subtract: v = _mm_subs_epu16(ts, td); break;
    case BlendOp::RevSubtract: v = _mm_subs_epu16(td, ts); break;
    default: v = _mm_adds_epu16(ts, td); break;
  }
  v = _mm_adds_epu16(v, _mm_set1_epi16(127));
  return _mm_min_epi16(Div255(v), _mm_set1_epi16(255));
}

inline __m128i AlphaLanes(__m128i v) { return _mm_shufflehi_epi16(_mm_shufflelo_epi16(v, 0xFF), 0xFF); }

// The same on four pixels per register.
__attribute__((target("avx2"))) inline __m256i Div255x(__m256i t) {
  return _mm256_srli_epi16(_mm256_mulhi_epu16(t, _mm256_set1_epi16(-32639)), 7);
}

__attribute__((target("avx2"))) inline __m256i FactorLanesX(Blend f, __m256i s, __m256i d, __m256i as, __m256i ad) {
  const __m256i full = _mm256_set1_epi16(255);
  switch (f) {
    case Blend::Zero: return _mm256_setzero_si256();
    case Blend::One: return full;
    case Blend::SrcColor: return s;
    case Blend::InvSrcColor: return _mm256_sub_epi16(full, s);
    case Blend::SrcAlpha: return as;
    case Blend::InvSrcAlpha: return _mm256_sub_epi16(full, as);
    case Blend::DestAlpha: return ad;
    case Blend::InvDestAlpha: return _mm256_sub_epi16(full, ad);
    case Blend::DestColor: return d;
    case Blend::InvDestColor: return _mm256_sub_epi16(full, d);
  }
  return full;
}

__attribute__((target("avx2"))) inline __m256i ChannelLanesX(BlendOp op, Blend fs, Blend fd, __m256i s, __m256i d,
                                                             __m256i as, __m256i ad) {
  if (op == BlendOp::Max) return _mm256_max_epi16(s, d);
  if (op == BlendOp::Min) return _mm256_min_epi16(s, d);
  const __m256i ts = _mm256_mullo_epi16(s, FactorLanesX(fs, s, d, as, ad));
  const __m256i td = _mm256_mullo_epi16(d, FactorLanesX(fd, s, d, as, ad));
  __m256i v;
  switch (op) {
    case BlendOp::Subtract: v = _mm256_subs_epu16(ts, td); break;
    case BlendOp::RevSubtract: v = _mm256_subs_epu16(td, ts); break;
    default: v = _mm256_adds_epu16(ts, td); break;
  }
  v = _mm256_adds_epu16(v, _mm256_set1_epi16(127));
  return _mm256_min_epi16(Div255x(v), _mm256_set1_epi16(255));
}

__attribute__((target("avx2"))) inline __m256i AlphaLanesX(__m256i v) {
  return _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(v, 0xFF), 0xFF);
}

__attribute__((target("avx2"))) inline __m256i BlendLanesX(const BlendSetup& b, __m256i s, __m256i d) {
  const __m256i as = AlphaLanesX(s), ad = AlphaLanesX(d);
  const __m256i colour = ChannelLanesX(b.op, b.src, b.dst, s, d, as, ad);
  if (!b.separateAlpha) return colour;
  const __m256i alphaMask = _mm256_set_epi16(-1, 0, 0, 0, -1, 0, 0, 0, -1, 0, 0, 0, -1, 0, 0, 0);
  const __m256i alpha = ChannelLanesX(b.opAlpha, b.srcAlpha, b.dstAlpha, s, d, as, ad);
  return _mm256_or_si256(_mm256_andnot_si256(alphaMask, colour), _mm256_and_si256(alphaMask, alpha));
}

// Premultiplied source over: s * 255 + d * (255 - as) on every channel.
__attribute__((target("avx2"))) inline __m256i PremultipliedLanesX(const BlendSetup&, __m256i s, __m256i d) {
  const __m256i full = _mm256_set1_epi16(255);
  const __m256i ts = _mm256_sub_epi16(_mm256_slli_epi16(s, 8), s);
  const __m256i td = _mm256_mullo_epi16(d, _mm256_sub_epi16(full, AlphaLanesX(s)));
  const __m256i v = _mm256_adds_epu16(_mm256_adds_epu16(ts, td), _mm256_set1_epi16(127));
  return _mm256_min_epi16(Div255x(v), full);
}

// Source over whose alpha adds up as coverage: s * as + d * (255 - as) on
// the colour channels, as * 255 + ad * (255 - as) on alpha.
__attribute__((target("avx2"))) inline __m256i OverKeepingCoverageX(const BlendSetup&, __m256i s, __m256i d) {
  const __m256i full = _mm256_set1_epi16(255);
  const __m256i alphaLanes = _mm256_set_epi16(-1, 0, 0, 0, -1, 0, 0, 0, -1, 0, 0, 0, -1, 0, 0, 0);
  const __m256i as = AlphaLanesX(s);
  const __m256i ts = _mm256_mullo_epi16(s, _mm256_or_si256(as, _mm256_and_si256(alphaLanes, full)));
  const __m256i td = _mm256_mullo_epi16(d, _mm256_sub_epi16(full, as));
  const __m256i v = _mm256_adds_epu16(_mm256_adds_epu16(ts, td), _mm256_set1_epi16(127));
  return _mm256_min_epi16(Div255x(v), full);
}

// OpaqueReplaces: the set-up gives an opaque source pixel as it is (then
// eight of them are stored without reading the target).
template <__m256i (*Lanes)(const BlendSetup&, __m256i, __m256i), bool OpaqueReplaces = false>
__attribute__((target("avx2"))) std::size_t BlendAvx2(const BlendSetup& b, const std::uint32_t* src, std::uint32_t* dst,
                                                      std::size_t n, std::uint32_t fill) {
  const __m256i zero = _mm256_setzero_si256(), dFill = _mm256_set1_epi32(static_cast<int>(fill));
  const __m256i full = _mm256_set1_epi32(255);
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
    if (OpaqueReplaces && _mm256_movemask_epi8(_mm256_cmpeq_epi32(_mm256_srli_epi32(s, 24), full)) == -1) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), _mm256_or_si256(s, dFill));
      continue;
    }
    const __m256i d = _mm256_or_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(dst + i)), dFill);
    const __m256i lo = Lanes(b, _mm256_unpacklo_epi8(s, zero), _mm256_unpacklo_epi8(d, zero));
    const __m256i hi = Lanes(b, _mm256_unpackhi_epi8(s, zero), _mm256_unpackhi_epi8(d, zero));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), _mm256_or_si256(_mm256_packus_epi16(lo, hi), dFill));
  }
  if (i < n) {
    // The last pixels through one more vector, in a copy: short spans (thin
    // triangles) would otherwise spend most of their time in the narrow tail.
    alignas(32) std::uint32_t s8[8] = {}, d8[8] = {};
    const std::size_t rest = n - i;
    std::memcpy(s8, src + i, rest * 4);
    std::memcpy(d8, dst + i, rest * 4);
    const __m256i s = _mm256_load_si256(reinterpret_cast<const __m256i*>(s8));
    const __m256i d = _mm256_or_si256(_mm256_load_si256(reinterpret_cast<const __m256i*>(d8)), dFill);
    const __m256i lo = Lanes(b, _mm256_unpacklo_epi8(s, zero), _mm256_unpacklo_epi8(d, zero));
    const __m256i hi = Lanes(b, _mm256_unpackhi_epi8(s, zero), _mm256_unpackhi_epi8(d, zero));
    _mm256_store_si256(reinterpret_cast<__m256i*>(d8), _mm256_or_si256(_mm256_packus_epi16(lo, hi), dFill));
    std::memcpy(dst + i, d8, rest * 4);
    i = n;
  }
  return i;
}

std::size_t BlendGeneralAvx2(const BlendSetup& b, const std::uint32_t* src, std::uint32_t* dst, std::size_t n,
                             std::uint32_t fill) {
  if (IsPremultipliedOver(b)) return BlendAvx2<PremultipliedLanesX, true>(b, src, dst, n, fill);
  if (IsOverKeepingCoverage(b)) return BlendAvx2<OverKeepingCoverageX, true>(b, src, dst, n, fill);
  return BlendAvx2<BlendLanesX>(b, src, dst, n, fill);
}

// Two pixels in 16-bit lanes.
inline __m128i BlendLanes(const BlendSetup& b, __m128i s, __m128i d) {
  const __m128i as = AlphaLanes(s), ad = AlphaLanes(d);
  const __m128i colour = ChannelLanes(b.op, b.src, b.dst, s, d, as, ad);
  if (!b.separateAlpha) return colour;
  const __m128i alphaMask = _mm_set_epi16(-1, 0, 0, 0, -1, 0, 0, 0);
  const __m128i alpha = ChannelLanes(b.opAlpha, b.srcAlpha, b.dstAlpha, s, d, as, ad);
  return _mm_or_si128(_mm_andnot_si128(alphaMask, colour), _mm_and_si128(alphaMask, alpha));
}
#endif

int SpanLevel() {
#if defined(__SSE2__)
  return std::min(CpuSpanLevel(), gSpanLevelLimit.load(std::memory_order_relaxed));
#else
  return 0;
#endif
}

}  // namespace

bool SourceKeepsTarget(const BlendSetup& b, std::uint32_t src) {
  if (!b.enable) return false;
  if (IsSourceOverBlend(b) || IsOverKeepingCoverage(b)) return (src >> 24) == 0;
  if (IsPremultipliedOver(b)) return src == 0;
  return false;
}

bool OpaqueSourceReplaces(const BlendSetup& b) {
  return !b.enable || IsSourceOverBlend(b) || (b.enable && IsPremultipliedOver(b)) || IsOverKeepingCoverage(b);
}

void BlendSpan(const BlendSetup& b, const std::uint32_t* src, std::uint32_t* dst, std::size_t n, bool x8Target) {
  if (IsSourceOverBlend(b)) {
    BlendSpanSourceOver(src, dst, n, 255, false, x8Target);
    return;
  }
  const std::uint32_t fill = x8Target ? 0xFF000000u : 0;
  std::size_t i = 0;
  if (!b.enable) {
    for (; i < n; ++i) {
      const std::uint32_t v = src[i] | fill;
      std::memcpy(dst + i, &v, 4);
    }
    return;
  }
#if defined(__SSE2__)
  const int level = SpanLevel();
  if (level >= 2) i = BlendGeneralAvx2(b, src, dst, n, fill);
  if (level >= 1) {
    const __m128i zero = _mm_setzero_si128(), dFill = _mm_set1_epi32(static_cast<int>(fill));
    for (; i + 4 <= n; i += 4) {
      const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
      const __m128i d = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(dst + i)), dFill);
      const __m128i lo = BlendLanes(b, _mm_unpacklo_epi8(s, zero), _mm_unpacklo_epi8(d, zero));
      const __m128i hi = BlendLanes(b, _mm_unpackhi_epi8(s, zero), _mm_unpackhi_epi8(d, zero));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_or_si128(_mm_packus_epi16(lo, hi), dFill));
    }
  }
#endif
  for (; i < n; ++i) {
    std::uint32_t d;
    std::memcpy(&d, dst + i, 4);
    d = BlendPixel(b, src[i], d | fill) | fill;
    std::memcpy(dst + i, &d, 4);
  }
}

#if defined(__SSE2__)
namespace {
// ModulateSpan then the premultiplied BlendSpan onto what under holds (or
// underFill), written to dst (which may be under), eight pixels at a time,
// each lane as the two give it; returns where it stopped.
__attribute__((target("avx2"))) std::size_t ModulateOverAvx2(const std::uint32_t* in, const std::uint32_t* under,
                                                             std::uint32_t* dst, std::size_t n, std::uint32_t factor,
                                                             std::uint32_t fill, std::uint32_t underFill,
                                                             std::uint32_t targetFill) {
  const __m256i zero = _mm256_setzero_si256(), f = _mm256_set1_epi32(static_cast<int>(fill));
  const __m256i dFill = _mm256_set1_epi32(static_cast<int>(targetFill));
  const __m256i uFill = _mm256_set1_epi32(static_cast<int>(underFill | targetFill));
  const __m256i k = _mm256_unpacklo_epi8(_mm256_set1_epi32(static_cast<int>(factor)), zero);
  const __m256i round = _mm256_set1_epi16(127);
  const BlendSetup unused;
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256i s = _mm256_or_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i)), f);
    const __m256i d = _mm256_or_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(under + i)), uFill);
    const __m256i mlo = Div255x(_mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpacklo_epi8(s, zero), k), round));
    const __m256i mhi = Div255x(_mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpackhi_epi8(s, zero), k), round));
    const __m256i lo = PremultipliedLanesX(unused, mlo, _mm256_unpacklo_epi8(d, zero));
    const __m256i hi = PremultipliedLanesX(unused, mhi, _mm256_unpackhi_epi8(d, zero));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), _mm256_or_si256(_mm256_packus_epi16(lo, hi), dFill));
  }
  return i;
}

// ModulateSpan eight pixels at a time; returns where it stopped.
__attribute__((target("avx2"))) std::size_t ModulateAvx2(const std::uint32_t* in, std::uint32_t* out, std::size_t n,
                                                         std::uint32_t factor, std::uint32_t fill) {
  const __m256i zero = _mm256_setzero_si256(), f = _mm256_set1_epi32(static_cast<int>(fill));
  const __m256i k = _mm256_unpacklo_epi8(_mm256_set1_epi32(static_cast<int>(factor)), zero);
  const __m256i round = _mm256_set1_epi16(127);
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256i s = _mm256_or_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i)), f);
    const __m256i lo = Div255x(_mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpacklo_epi8(s, zero), k), round));
    const __m256i hi = Div255x(_mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpackhi_epi8(s, zero), k), round));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_packus_epi16(lo, hi));
  }
  return i;
}
}  // namespace
#endif

void ModulateSpan(const std::uint32_t* in, std::uint32_t* out, std::size_t n, std::uint32_t factor,
                  std::uint32_t fill) {
  std::size_t i = 0;
#if defined(__SSE2__)
  if (SpanLevel() >= 2) i = ModulateAvx2(in, out, n, factor, fill);
  if (SpanLevel() >= 1) {
    const __m128i zero = _mm_setzero_si128(), f = _mm_set1_epi32(static_cast<int>(fill));
    const __m128i k = _mm_unpacklo_epi8(_mm_set1_epi32(static_cast<int>(factor)), zero);
    const __m128i round = _mm_set1_epi16(127);
    for (; i + 4 <= n; i += 4) {
      const __m128i s = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i)), f);
      const __m128i lo = Div255(_mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(s, zero), k), round));
      const __m128i hi = Div255(_mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(s, zero), k), round));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(lo, hi));
    }
  }
#endif
  for (; i < n; ++i) {
    const std::uint32_t s = in[i] | fill;
    std::uint32_t v = 0;
    for (int shift = 0; shift < 32; shift += 8) v |= Mul255((s >> shift) & 255, (factor >> shift) & 255) << shift;
    out[i] = v;
  }
}

void ModulateBlendSpan(const BlendSetup& b, const std::uint32_t* in, std::uint32_t* dst, std::size_t n,
                       std::uint32_t factor, std::uint32_t fill, bool x8Target, std::uint32_t* scratch) {
  std::size_t i = 0;
#if defined(__SSE2__)
  if (SpanLevel() >= 2 && b.enable && IsPremultipliedOver(b))
    i = ModulateOverAvx2(in, dst, dst, n, factor, fill, 0, x8Target ? 0xFF000000u : 0);
#endif
  if (i == n) return;
  ModulateSpan(in + i, scratch, n - i, factor, fill);
  BlendSpan(b, scratch, dst + i, n - i, x8Target);
}

void ModulateBlendSpanOnto(const BlendSetup& b, const std::uint32_t* in, const std::uint32_t* under, std::uint32_t* dst,
                           std::size_t n, std::uint32_t factor, std::uint32_t fill, std::uint32_t underFill,
                           bool x8Target, std::uint32_t* scratch) {
  std::size_t i = 0;
#if defined(__SSE2__)
  if (SpanLevel() >= 2 && b.enable && IsPremultipliedOver(b))
    i = ModulateOverAvx2(in, under, dst, n, factor, fill, underFill, x8Target ? 0xFF000000u : 0);
#endif
  for (std::size_t k = i; k < n; ++k) dst[k] = under[k] | underFill;
  if (i < n) ModulateBlendSpan(b, in + i, dst + i, n - i, factor, fill, x8Target, scratch);
}

}  // namespace plat::gfx
