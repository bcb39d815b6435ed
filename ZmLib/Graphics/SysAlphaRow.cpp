#include "ZmLib/Graphics/SysAlphaRow.h"

#include <algorithm>
#include <array>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/Graphics/zmCPUInfo.h"

namespace zm {

TAlphaBlendRowProc AlphaBlendRowProc = &AlphaBlendRowPlain;

namespace {

// Src2 + floor((Src1 - Src2) * a / 256) written as one non-negative sum,
// which never leaves 0..65280: (Src1 * a + Src2 * (256 - a)) shr 8.
inline std::uint8_t BlendByte(std::uint32_t x, std::uint32_t y, std::uint32_t a, std::uint32_t ia) {
  return std::uint8_t((x * a + y * ia) >> 8);
}

void BlendTail(std::uint8_t* dest, const std::uint8_t* src1, const std::uint8_t* src2, std::uint32_t a,
               std::int32_t from, std::int32_t count) {
  const std::uint32_t ia = 256 - a;
  for (std::int32_t i = from; i < count; ++i) dest[i] = BlendByte(src1[i], src2[i], a, ia);
}

struct TReciprocal {
  std::array<std::uint16_t, 256> Table{};
  TReciprocal() {
    Table[0] = 256;
    for (int a = 1; a < 256; ++a) Table[std::size_t(a)] = std::uint16_t(65280 / a);
  }
};

void FillPixel(std::uint8_t* p, TColor32 c) { p[0] = c.B, p[1] = c.G, p[2] = c.R, p[3] = c.A; }

}  // namespace

void AlphaBlendRowPlain(std::uint8_t* dest, const std::uint8_t* src1, const std::uint8_t* src2, std::int32_t alpha,
                        std::int32_t count) {
  const std::uint32_t a = std::uint32_t(std::clamp(alpha, 0, 256)), ia = 256 - a;
  constexpr std::uint32_t kMask = 0x00FF00FF;
  std::int32_t i = 0;
  // Alternate bytes as 16-bit lanes of one word: no lane overflows into the next.
  for (; i + 4 <= count; i += 4) {
    std::uint32_t x, y;
    std::memcpy(&x, src1 + i, 4);
    std::memcpy(&y, src2 + i, 4);
    const std::uint32_t lo = (((x & kMask) * a + (y & kMask) * ia) >> 8) & kMask;
    const std::uint32_t hi = (((x >> 8) & kMask) * a + ((y >> 8) & kMask) * ia) & ~kMask;
    const std::uint32_t r = lo | hi;
    std::memcpy(dest + i, &r, 4);
  }
  BlendTail(dest, src1, src2, a, i, count);
}

void AlphaBlendRowSSE2(std::uint8_t* dest, const std::uint8_t* src1, const std::uint8_t* src2, std::int32_t alpha,
                       std::int32_t count) {
#if defined(__SSE2__)
  const std::uint32_t a = std::uint32_t(std::clamp(alpha, 0, 256));
  const __m128i va = _mm_set1_epi16(std::int16_t(a));
  const __m128i via = _mm_set1_epi16(std::int16_t(256 - a));
  const __m128i zero = _mm_setzero_si128();
  std::int32_t i = 0;
  for (; i + 16 <= count; i += 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src1 + i));
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src2 + i));
    const __m128i lo = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(x, zero), va),
                                                    _mm_mullo_epi16(_mm_unpacklo_epi8(y, zero), via)),
                                      8);
    const __m128i hi = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(x, zero), va),
                                                    _mm_mullo_epi16(_mm_unpackhi_epi8(y, zero), via)),
                                      8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + i), _mm_packus_epi16(lo, hi));
  }
  BlendTail(dest, src1, src2, a, i, count);
#else
  AlphaBlendRowPlain(dest, src1, src2, alpha, count);
#endif
}

const std::uint16_t* UnpremultiplyTable() {
  static const TReciprocal table;  // built on first use, never freed
  return table.Table.data();
}

void RecoverAlpha(TSysBitmap* black32, TSysBitmap* white24, TColor32 fillColour, std::int32_t width,
                  std::int32_t height) {
  ZM_ASSERT(black32 && black32->PixelFormat() == PixelFormatByName(PF_A8R8G8B8),
            "RecoverAlpha - A8R8G8B8 Bitmap Expected");
  ZM_ASSERT(white24 && white24->PixelFormat() == PixelFormatByName(PF_R8G8B8), "RecoverAlpha - R8G8B8 Bitmap Expected");
  width = std::min({width, black32->Width(), white24->Width()});
  height = std::min({height, black32->Height(), white24->Height()});
  const std::uint16_t* table = UnpremultiplyTable();
  for (std::int32_t y = 0; y < height; ++y) {
    std::uint8_t* b = black32->ScanLine(y);
    const std::uint8_t* w = white24->ScanLine(y);
    for (std::int32_t x = 0; x < width; ++x, b += 4, w += 3) {
      int a = 0;
      for (int k = 0; k < 3; ++k) a = std::max(a, b[k] + 255 - w[k]);
      if (a > 254) {
        b[3] = 255;
      } else if (a == 0) {
        FillPixel(b, fillColour);
      } else {
        for (int k = 0; k < 3; ++k) b[k] = std::uint8_t(std::min((b[k] * table[a]) >> 8, 255));
        b[3] = std::uint8_t(a);
      }
    }
  }
}

void RecoverAlphaAll(TSysBitmap* black32, TSysBitmap* white24, TColor32 fillColour) {
  ZM_ASSERT(black32, "RecoverAlpha - A8R8G8B8 Bitmap Expected");
  RecoverAlpha(black32, white24, fillColour, black32->Width(), black32->Height());
}

bool UnpremultiplyBitmap32(TSysBitmap* bitmap, TColor32 fillColour) {
  ZM_ASSERT(bitmap && (bitmap->PixelFormat() == PixelFormatByName(PF_A8R8G8B8) ||
                       bitmap->PixelFormat() == PixelFormatByName(PF_A8r8g8b8)),
            "UnpremultiplyBitmap32 - 32-bit Bitmap Expected");
  const std::int32_t w = bitmap->Width(), h = bitmap->Height();
  bool anyPixel = false, anyAlpha = false;
  for (std::int32_t y = 0; y < h && !anyAlpha; ++y) {
    const std::uint8_t* p = bitmap->ScanLine(y);
    for (std::int32_t x = 0; x < w; ++x, p += 4) {
      if (p[0] | p[1] | p[2] | p[3]) anyPixel = true;
      if (p[3]) {
        anyAlpha = true;
        break;
      }
    }
  }
  if (!anyPixel) {
    for (std::int32_t y = 0; y < h; ++y) {
      std::uint8_t* p = bitmap->ScanLine(y);
      for (std::int32_t x = 0; x < w; ++x) FillPixel(p + x * 4, fillColour);
    }
    return true;
  }
  if (!anyAlpha) return false;
  ZM_ASSERT(bitmap->PixelFormat() == PixelFormatByName(PF_A8R8G8B8), "UnpremultiplyBitmap32 - A8R8G8B8 Expected");
  const std::uint16_t* table = UnpremultiplyTable();
  for (std::int32_t y = 0; y < h; ++y) {
    std::uint8_t* p = bitmap->ScanLine(y);
    for (std::int32_t x = 0; x < w; ++x, p += 4) {
      const int a = p[3];
      if (a == 0) {
        FillPixel(p, fillColour);
      } else if (a < 255) {
        for (int k = 0; k < 3; ++k) p[k] = std::uint8_t(std::min((p[k] * table[a]) >> 8, 255));
      }
    }
  }
  return true;
}

void InitAlphaRow() {
  AlphaBlendRowProc = (ProcessorInfo().Features & cfSSE2) ? &AlphaBlendRowSSE2 : &AlphaBlendRowPlain;
}

void FiniAlphaRow() { AlphaBlendRowProc = &AlphaBlendRowPlain; }

}  // namespace zm
