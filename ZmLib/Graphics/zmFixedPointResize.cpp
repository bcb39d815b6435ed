#include "ZmLib/Graphics/zmFixedPointResize.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace zm {

namespace {

struct TTap {
  std::int32_t I0, I1;
  std::int32_t W;  // 0..65535, the share of I1
};

// The source taps of the destination positions First..Last of a run of
// DestCount positions over SourceCount source positions from SourceStart,
// held within 0..Limit-1.
std::vector<TTap> MakeTaps(std::int64_t destCount, std::int64_t sourceCount, std::int32_t sourceStart,
                           std::int32_t limit, std::int64_t first, std::int64_t last) {
  std::vector<TTap> taps;
  taps.reserve(std::size_t(last - first + 1));
  for (std::int64_t i = first; i <= last; ++i) {
    const double pos = destCount <= 1 ? 0.0 : double(i) * double(sourceCount - 1) / double(destCount - 1);
    const double whole = std::trunc(pos);
    const std::int64_t x0 = std::clamp<std::int64_t>(std::int64_t(whole) + sourceStart, 0, limit - 1);
    const std::int64_t x1 = std::min<std::int64_t>(x0 + 1, limit - 1);
    const double w = std::nearbyint((pos - whole) * 65536.0 - 0.5);
    taps.push_back({std::int32_t(x0), std::int32_t(x1), std::int32_t(std::clamp(w, 0.0, 65535.0))});
  }
  return taps;
}

// a + (b - a) * w / 65536, the division truncating toward zero.
inline std::int32_t Lerp(std::int32_t a, std::int32_t b, std::int32_t w) {
  const std::int32_t t = (b - a) * w;
  return a + ((t + ((t >> 31) & 65535)) >> 16);  // without a branch: pictures make it unpredictable
}

template <int Bpp>
void Resize(TSysBitmap* dest, TSysBitmap* source, const TRect& dr, std::uint32_t emptyValue, const TRect& sr) {
  const std::int64_t dw = std::int64_t(dr.Right) - dr.Left, dh = std::int64_t(dr.Bottom) - dr.Top;
  const std::int64_t sw = std::int64_t(sr.Right) - sr.Left, sh = std::int64_t(sr.Bottom) - sr.Top;
  if (dw < 1 || dh < 1 || sw < 1 || sh < 1) return;
  const std::int32_t limitX = std::min(sr.Right, source->Width());
  const std::int32_t limitY = std::min(sr.Bottom, source->Height());
  if (limitX < 1 || limitY < 1) return;
  // The destination pixels inside the destination bitmap.
  const std::int64_t c0 = std::max<std::int64_t>(-std::int64_t(dr.Left), 0);
  const std::int64_t c1 = std::min<std::int64_t>(std::int64_t(dest->Width()) - dr.Left - 1, dw - 1);
  const std::int64_t r0 = std::max<std::int64_t>(-std::int64_t(dr.Top), 0);
  const std::int64_t r1 = std::min<std::int64_t>(std::int64_t(dest->Height()) - dr.Top - 1, dh - 1);
  if (c0 > c1 || r0 > r1) return;
  const std::vector<TTap> tx = MakeTaps(dw, sw, sr.Left, limitX, c0, c1);
  const std::vector<TTap> ty = MakeTaps(dh, sh, sr.Top, limitY, r0, r1);
  std::uint8_t empty[4];
  std::memcpy(empty, &emptyValue, 4);
  for (std::size_t j = 0; j < ty.size(); ++j) {
    const TTap& y = ty[j];
    const std::uint8_t* s0 = source->ScanLine(y.I0);
    const std::uint8_t* s1 = source->ScanLine(y.I1);
    std::uint8_t* d = dest->ScanLine(std::int32_t(dr.Top + r0 + std::int64_t(j))) + (dr.Left + c0) * Bpp;
    for (const TTap& x : tx) {
      const std::uint8_t* p00 = s0 + std::size_t(x.I0) * Bpp;
      const std::uint8_t* p10 = s0 + std::size_t(x.I1) * Bpp;
      const std::uint8_t* p01 = s1 + std::size_t(x.I0) * Bpp;
      const std::uint8_t* p11 = s1 + std::size_t(x.I1) * Bpp;
      std::uint8_t out[Bpp];
      for (int c = 0; c < Bpp; ++c) {
        const std::int32_t top = Lerp(p00[c], p10[c], x.W);
        const std::int32_t bottom = Lerp(p01[c], p11[c], x.W);
        out[c] = std::uint8_t(Lerp(top, bottom, y.W));
      }
      if (Bpp == 4 && out[3] == 0) std::memcpy(d, empty, Bpp);
      else std::memcpy(d, out, Bpp);
      d += Bpp;
    }
  }
}

}  // namespace

void ResizeBitmapRect24(TSysBitmap* dest, TSysBitmap* source, const TRect& destRect, const TRect& sourceRect) {
  ZM_ASSERT(dest && source && dest->BytesPerPixel() == 3 && source->BytesPerPixel() == 3,
            "ResizeBitmapRect24: Unsupported PixelFormat");
  Resize<3>(dest, source, destRect, 0, sourceRect);
}

void ResizeBitmapRect(TSysBitmap* dest, TSysBitmap* source, const TRect& destRect, std::uint32_t emptyValue,
                      const TRect& sourceRect) {
  ZM_ASSERT(dest && source && dest->BytesPerPixel() == 4 && source->BytesPerPixel() == 4,
            "ResizeBitmapRect: Unsupported PixelFormat");
  Resize<4>(dest, source, destRect, emptyValue, sourceRect);
}

}  // namespace zm
