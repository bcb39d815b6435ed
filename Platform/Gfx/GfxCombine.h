#pragma once
// The fixed-function texture stages and the blend unit, in 8-bit integers.
// Colours are packed 0xAARRGGBB.
#include <cstddef>
#include <cstdint>

#include "Platform/Gfx/GfxDefs.h"

namespace plat::gfx {

// a * b / 255, rounded: exact at 0 and 255.
inline std::uint32_t Mul255(std::uint32_t a, std::uint32_t b) { return (a * b + 127) / 255; }

struct StageSetup {
  TextureOp colorOp = TextureOp::Disable, alphaOp = TextureOp::Disable;
  std::uint32_t colorArg1 = ArgTexture, colorArg2 = ArgCurrent, alphaArg1 = ArgTexture, alphaArg2 = ArgCurrent;
  std::uint32_t texCoordIndex = 0;
};
StageSetup MakeStageSetup(const StageStateTable& states);

// One stage: current is the output of the stage before (the diffuse colour at
// stage 0). Unknown operations act as SELECTARG1.
std::uint32_t CombineStage(const StageSetup& s, std::uint32_t texel, std::uint32_t current, std::uint32_t diffuse);

struct BlendSetup {
  bool enable = false;
  Blend src = Blend::One, dst = Blend::Zero;
  BlendOp op = BlendOp::Add;
  bool separateAlpha = false;
  Blend srcAlpha = Blend::One, dstAlpha = Blend::Zero;
  BlendOp opAlpha = BlendOp::Add;
};
BlendSetup MakeBlendSetup(const RenderStateTable& states);

// The output merger: src from the stages, dst as read from the target.
std::uint32_t BlendPixel(const BlendSetup& b, std::uint32_t src, std::uint32_t dst);

// True for the commonest set-up: colour and alpha = src*as + dst*(1-as).
bool IsSourceOverBlend(const BlendSetup& b);
// True when a source pixel of alpha 255 comes out as itself, whatever the
// target holds: no blending, source over (straight, premultiplied, or with
// the alpha kept as coverage).
bool OpaqueSourceReplaces(const BlendSetup& b);
// True when this source pixel leaves every target pixel as it is: alpha 0
// under source over (also keeping coverage), nothing at all under the
// premultiplied one.
bool SourceKeepsTarget(const BlendSetup& b, std::uint32_t src);
// That set-up, for one pixel; equal to BlendPixel for it.
inline std::uint32_t BlendSourceOver(std::uint32_t src, std::uint32_t dst) {
  const std::uint32_t as = src >> 24, ad = 255 - as;
  std::uint32_t out = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    const std::uint32_t c = (((src >> shift) & 255) * as + ((dst >> shift) & 255) * ad + 127) / 255;
    out |= c << shift;
  }
  return out;
}

// The span form of the fast path: n texels from stage 0 whose alpha is
// scaled by alphaScale (255: the texture's alpha alone), blended source-over
// onto dst. X8 sources read alpha 1, X8 targets keep alpha 1. Gives exactly
// what CombineStage and BlendSourceOver give pixel by pixel.
void BlendSpanSourceOver(const std::uint32_t* texels, std::uint32_t* dst, std::size_t n, std::uint32_t alphaScale,
                         bool x8Source, bool x8Target);

// The blend unit over a span: src colours onto dst, equal to BlendPixel
// pixel by pixel. X8 targets read alpha 1 and keep it.
void BlendSpan(const BlendSetup& b, const std::uint32_t* src, std::uint32_t* dst, std::size_t n, bool x8Target);

// out[i] = each channel of (in[i] | fill) times that channel of factor, as
// Mul255 gives it (a factor channel of 255 keeps the channel). in may be out.
void ModulateSpan(const std::uint32_t* in, std::uint32_t* out, std::size_t n, std::uint32_t factor,
                  std::uint32_t fill);

// ModulateSpan of in by factor, then BlendSpan of that onto dst, in one
// pass for the premultiplied set-up (a cross-fade); scratch holds n pixels
// for the others.
void ModulateBlendSpan(const BlendSetup& b, const std::uint32_t* in, std::uint32_t* dst, std::size_t n,
                       std::uint32_t factor, std::uint32_t fill, bool x8Target, std::uint32_t* scratch);

// ModulateBlendSpan onto dst filled first with under[i] | underFill, in one
// pass: the target is not read.
void ModulateBlendSpanOnto(const BlendSetup& b, const std::uint32_t* in, const std::uint32_t* under, std::uint32_t* dst,
                           std::size_t n, std::uint32_t factor, std::uint32_t fill, std::uint32_t underFill,
                           bool x8Target, std::uint32_t* scratch);

// For tests: the widest span kernel used, 0 scalar, 1 SSE2, 2 AVX2, 3
// AVX-512 (the default; never wider than the processor runs).
void LimitSpanKernels(int level);

}  // namespace plat::gfx
