#pragma once
// The byte-wise blend of two pixel rows (the inner loop of cross-fades and
// resizes), and the repair of alpha in 32-bit drawings made by the drawing
// layer, which writes no alpha.
#include <cstdint>

#include "ZmLib/Graphics/SysBitmap.h"

namespace zm {

// For each of Count bytes: Dest = Src2 + floor((Src1 - Src2) * Alpha / 256),
// so Alpha 0 gives Src2 and 256 gives Src1 (values outside 0..256 are
// clamped). Dest may be either source.
using TAlphaBlendRowProc = void (*)(std::uint8_t* dest, const std::uint8_t* src1, const std::uint8_t* src2,
                                    std::int32_t alpha, std::int32_t count);
// Chosen at start-up from the processor record: the SSE2 variant when the
// processor has SSE2, else the plain one. Both give identical results.
extern TAlphaBlendRowProc AlphaBlendRowProc;
// Four bytes at a time in 32-bit words.
void AlphaBlendRowPlain(std::uint8_t* dest, const std::uint8_t* src1, const std::uint8_t* src2, std::int32_t alpha,
                        std::int32_t count);
// Sixteen bytes at a time as 16-bit lanes; the plain routine where SSE2 is
// not compiled in.
void AlphaBlendRowSSE2(std::uint8_t* dest, const std::uint8_t* src1, const std::uint8_t* src2, std::int32_t alpha,
                       std::int32_t count);

// Entry a: 65280 div a (entry 0: 256), so c * entry shr 8 = c * 255 / a.
const std::uint16_t* UnpremultiplyTable();

// Black32 ("A8R8G8B8") holds a drawing on black, White24 ("R8G8B8") the same
// drawing on white; other formats fail an assertion. Per pixel of the
// Width x Height corner: a = max over B, G, R of (black + 255 - white); above
// 254 the pixel becomes opaque, 0 makes it FillColour, else the colour is
// divided by a / 255 and alpha becomes a. Black32 is changed in place.
void RecoverAlpha(TSysBitmap* black32, TSysBitmap* white24, TColor32 fillColour, std::int32_t width,
                  std::int32_t height);
void RecoverAlphaAll(TSysBitmap* black32, TSysBitmap* white24, TColor32 fillColour);
// A 32-bit drawing just made: all pixels 0 become FillColour (true); else,
// when some pixel has alpha, alpha 0 becomes FillColour and alpha 1 to 254 is
// un-premultiplied (true); no alpha at all leaves it as it is (false).
bool UnpremultiplyBitmap32(TSysBitmap* bitmap, TColor32 fillColour);

void InitAlphaRow();
void FiniAlphaRow();

}  // namespace zm
