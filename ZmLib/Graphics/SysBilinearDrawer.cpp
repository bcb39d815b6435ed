#include "ZmLib/Graphics/SysBilinearDrawer.h"

#include <algorithm>

namespace zm {

namespace {

enum class TMode { Copy24, Blend24, Alpha32, Copy32 };

struct TSampleOut {
  std::uint32_t C[4];
};

// Edge cells test and hold every tap; inner cells are known to have all
// four taps inside the source.
template <int Bpp, bool Edge>
inline bool Sample(const TSysBitmap* src, std::int64_t w, std::int64_t h, std::int64_t x, std::int64_t y,
                   TSampleOut& out) {
  std::int64_t x0, x1, y0, y1;
  if (Edge) {
    if (x + 0x8000 < 0 || y + 0x8000 < 0 || ((x + 0x8000) >> 16) >= w || ((y + 0x8000) >> 16) >= h) return false;
    x0 = std::clamp<std::int64_t>(x >> 16, 0, w - 1);
    y0 = std::clamp<std::int64_t>(y >> 16, 0, h - 1);
    x1 = x < 0 ? x0 : std::min(x0 + 1, w - 1);
    y1 = y < 0 ? y0 : std::min(y0 + 1, h - 1);
  } else {
    x0 = x >> 16;
    y0 = y >> 16;
    x1 = x0 + 1;
    y1 = y0 + 1;
  }
  const std::uint32_t fx = std::uint32_t(x & 0xFFFF), fy = std::uint32_t(y & 0xFFFF);
  const std::uint32_t w11 = (fx * fy) >> 16, w10 = fx - w11, w01 = fy - w11, w00 = 65536 - fx - fy + w11;
  const std::uint8_t* r0 = src->ScanLine(std::int32_t(y0));
  const std::uint8_t* r1 = src->ScanLine(std::int32_t(y1));
  const std::uint8_t* p00 = r0 + x0 * Bpp;
  const std::uint8_t* p10 = r0 + x1 * Bpp;
  const std::uint8_t* p01 = r1 + x0 * Bpp;
  const std::uint8_t* p11 = r1 + x1 * Bpp;
  for (int c = 0; c < Bpp; ++c) out.C[c] = (p00[c] * w00 + p10[c] * w10 + p01[c] * w01 + p11[c] * w11) >> 16;
  return true;
}

// d + (s - d) k / 256, toward zero or downwards.
template <bool TowardZero>
inline std::uint8_t Over(std::int32_t d, std::int32_t s, std::int32_t k) {
  const std::int32_t t = (s - d) * k;
  return std::uint8_t(d + (TowardZero ? t / 256 : t >> 8));
}

template <int Bpp, bool Edge, TMode Mode>
void Span(const TSysBitmap* src, std::int32_t opacity, std::int64_t sxx, std::int64_t sxy, std::int64_t syx,
          std::int64_t syy, const TDrawCell& cell, TSysBitmap* dst) {
  const std::int64_t w = src->Width(), h = src->Height();
  for (std::int32_t y = cell.Rect.Top; y < cell.Rect.Bottom; ++y) {
    const std::int64_t j = y - cell.Rect.Top;
    std::int64_t px = cell.FX + j * syx, py = cell.FY + j * syy;
    std::uint8_t* d = dst->ScanLine(y) + std::size_t(cell.Rect.Left) * 3;
    for (std::int32_t x = cell.Rect.Left; x < cell.Rect.Right; ++x, px += sxx, py += sxy, d += 3) {
      TSampleOut s;
      if (!Sample<Bpp, Edge>(src, w, h, px, py, s)) continue;
      if constexpr (Mode == TMode::Copy24 || Mode == TMode::Copy32) {
        d[0] = std::uint8_t(s.C[0]);
        d[1] = std::uint8_t(s.C[1]);
        d[2] = std::uint8_t(s.C[2]);
      } else if constexpr (Mode == TMode::Blend24) {
        for (int c = 0; c < 3; ++c) d[c] = Over<Edge>(d[c], std::int32_t(s.C[c]), opacity);
      } else {
        const std::int32_t a = std::int32_t(s.C[3]);
        std::int32_t k;
        if (opacity == 255) {
          if (a > 254) {
            d[0] = std::uint8_t(s.C[0]);
            d[1] = std::uint8_t(s.C[1]);
            d[2] = std::uint8_t(s.C[2]);
            continue;
          }
          k = a;
        } else {
          k = a > 254 ? opacity : (a * opacity) >> 8;
        }
        for (int c = 0; c < 3; ++c) d[c] = Over<false>(d[c], std::int32_t(s.C[c]), k);
      }
    }
  }
}

}  // namespace

bool TBilinearDrawer::Prepare() {
  SpanProc1 = SpanProc2 = SpanProc3 = nullptr;
  TSysBitmap* src = Source();
  if (!src || Width() < 1 || Height() < 1 || Opacity() < 1) {
    InnerRect = OpaqueRect = TRect{};
    return false;
  }
  InnerRect = {0, 0, Width() - 1, Height() - 1};
  const bool rgb = src->BytesPerPixel() == 3;
  const std::int32_t o = Opacity();
  OpaqueRect = rgb && o == 255 ? InnerRect : TRect{};
  auto make = [this, src, o](auto proc) {
    return [this, src, o, proc](const TDrawCell& cell, TSysBitmap* dst) {
      proc(src, o, StepXX(), StepXY(), StepYX(), StepYY(), cell, dst);
    };
  };
  if (rgb && o == 255) {
    SpanProc1 = make(&Span<3, true, TMode::Copy24>);
    SpanProc2 = make(&Span<3, false, TMode::Copy24>);
    SpanProc3 = SpanProc2;
  } else if (rgb) {
    SpanProc1 = make(&Span<3, true, TMode::Blend24>);
    SpanProc2 = make(&Span<3, false, TMode::Blend24>);
    SpanProc3 = SpanProc2;
  } else {
    SpanProc1 = make(&Span<4, true, TMode::Alpha32>);
    SpanProc2 = make(&Span<4, false, TMode::Alpha32>);
    SpanProc3 = o == 255 ? make(&Span<4, false, TMode::Copy32>) : SpanProc2;
  }
  return true;
}

}  // namespace zm
