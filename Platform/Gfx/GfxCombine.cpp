#include "Platform/Gfx/GfxCombine.h"

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

// The same on 8 pixels at a time where the processor has AVX2.
__attribute__((target("avx2"))) inline __m256i BlendEight(__m256i s, __m256i d, __m256i scale) {
  const __m256i round = _mm256_set1_epi16(127), full = _mm256_set1_epi16(255), magic = _mm256_set1_epi16(-32639);
  const __m256i alphaLanes = _mm256_set_epi16(-1, 0, 0, 0, -1, 0, 0, 0, -1, 0, 0, 0, -1, 0, 0, 0);
  __m256i a = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(s, 0xFF), 0xFF);
  a = _mm256_srli_epi16(_mm256_mulhi_epu16(_mm256_add_epi16(_mm256_mullo_epi16(a, scale), round), magic), 7);
  s = _mm256_blendv_epi8(s, a, alphaLanes);
  const __m256i t = _mm256_add_epi16(
      _mm256_add_epi16(_mm256_mullo_epi16(s, a), _mm256_mullo_epi16(d, _mm256_sub_epi16(full, a))), round);
  return _mm256_srli_epi16(_mm256_mulhi_epu16(t, magic), 7);
}

__attribute__((target("avx2"))) std::size_t BlendSpanAvx2(const std::uint32_t* texels, std::uint32_t* dst,
                                                           std::size_t n, std::uint32_t alphaScale,
                                                           std::uint32_t sourceFill, std::uint32_t targetFill) {
  const __m256i zero = _mm256_setzero_si256(), scale = _mm256_set1_epi16(static_cast<short>(alphaScale));
  const __m256i sFill = _mm256_set1_epi32(static_cast<int>(sourceFill));
  const __m256i dFill = _mm256_set1_epi32(static_cast<int>(targetFill));
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256i s = _mm256_or_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(texels + i)), sFill);
    const __m256i d = _mm256_or_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(dst + i)), dFill);
    // unpack works within 128-bit halves and pack undoes it the same way.
    const __m256i lo = BlendEight(_mm256_unpacklo_epi8(s, zero), _mm256_unpacklo_epi8(d, zero), scale);
    const __m256i hi = BlendEight(_mm256_unpackhi_epi8(s, zero), _mm256_unpackhi_epi8(d, zero), scale);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), _mm256_or_si256(_mm256_packus_epi16(lo, hi), dFill));
  }
  return i;
}

bool HasAvx2() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return has;
}
#endif

}  // namespace

void BlendSpanSourceOver(const std::uint32_t* texels, std::uint32_t* dst, std::size_t n, std::uint32_t alphaScale,
                         bool x8Source, bool x8Target) {
  const std::uint32_t sourceFill = x8Source ? 0xFF000000u : 0, targetFill = x8Target ? 0xFF000000u : 0;
  std::size_t i = 0;
#if defined(__SSE2__)
  if (n >= 8 && HasAvx2()) i = BlendSpanAvx2(texels, dst, n, alphaScale, sourceFill, targetFill);
  const __m128i zero = _mm_setzero_si128(), scale = _mm_set1_epi16(static_cast<short>(alphaScale));
  const __m128i sFill = _mm_set1_epi32(static_cast<int>(sourceFill)), dFill = _mm_set1_epi32(static_cast<int>(targetFill));
  for (; i + 4 <= n; i += 4) {
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

}  // namespace plat::gfx
