#include "ZmLib/Graphics/SysBilinearSampler.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "ZmLib/Graphics/SysAlphaRow.h"

namespace zm {

TPixelLayout::TPixelLayout(std::int32_t width, std::int32_t height, std::int32_t bitsPerPixel)
    : Width(std::max(width, 0)), Height(std::max(height, 0)), BitsPerPixel(std::max(bitsPerPixel, 1)) {
  const std::int64_t row = std::int64_t(Width) * ((BitsPerPixel - 1) / 8 + 1);
  ZM_ASSERT(row * Height <= kMaxBitmapBytes, "TPixelLayout.Create - Layout too Large");
  buffer_.assign(std::size_t(row * Height), 0);
  Rows.resize(std::size_t(Height));
  for (std::int32_t y = 0; y < Height; ++y) Rows[std::size_t(y)] = buffer_.data() + std::size_t(row) * std::size_t(y);
}

TPixelLayout GetBitmapLayout(TSysBitmap* bitmap) {
  ZM_ASSERT(bitmap, "GetBitmapLayout - Bitmap not Assigned");
  TPixelLayout l;
  l.Width = bitmap->Width();
  l.Height = bitmap->Height();
  l.BitsPerPixel = bitmap->PixelFormat()->BitsPerPixel;
  l.Rows = bitmap->Rows();
  return l;
}

namespace {

// Trunc and banker's Round of the 8-bit fraction of num / den.
void SplitRatio(std::int64_t num, std::int64_t den, std::int32_t& index, std::int32_t& fraction) {
  const double s = double(num) / double(den);
  index = std::int32_t(s);
  fraction = std::int32_t(std::nearbyint((s - index) * 256.0));
}

}  // namespace

void TBilinearResampler::BuildColumns(std::int32_t sw, std::int32_t dw) {
  if (sw == sw_ && dw == dw_) return;
  columns_.assign(std::size_t(dw), TColumn{0, 0});
  for (std::int32_t x = 0; x < dw; ++x) {
    if (dw < 2) break;
    SplitRatio(std::int64_t(x) * (sw - 1), dw - 1, columns_[std::size_t(x)].Index, columns_[std::size_t(x)].Fraction);
  }
  // The last column reads the last source pixel without reading past it.
  if (sw > 1) columns_.back() = TColumn{sw - 2, 256};
  sw_ = sw;
  dw_ = dw;
}

void TBilinearResampler::Resize(const TPixelLayout& src, TPixelLayout& dst) {
  ZM_ASSERT(src.BitsPerPixel >= 25 && src.BitsPerPixel <= 32 && dst.BitsPerPixel >= 25 && dst.BitsPerPixel <= 32,
            "BilinearResizeLayout - 32-bit Layouts Expected");
  const std::int32_t sw = src.Width, sh = src.Height, dw = dst.Width, dh = dst.Height;
  if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) return;
  BuildColumns(sw, dw);

  // One source row into a destination-wide row.
  auto rowProc = [&](const std::uint8_t* s, std::uint8_t* d) {
    if (sw == dw) {
      std::memcpy(d, s, std::size_t(dw) * 4);
    } else if (dw == 1) {
      std::memcpy(d, s, 4);
    } else {
      for (std::int32_t x = 0; x < dw; ++x, d += 4) {
        const TColumn& c = columns_[std::size_t(x)];
        const std::uint8_t* p = s + c.Index * 4;
        const std::uint8_t* q = c.Index + 1 < sw ? p + 4 : p;
        for (int k = 0; k < 4; ++k) d[k] = std::uint8_t(p[k] + (((q[k] - p[k]) * c.Fraction) >> 8));
      }
    }
  };

  const std::size_t rowBytes = std::size_t(dw) * 4;
  if (upper_.size() < rowBytes) upper_.resize(rowBytes), lower_.resize(rowBytes);
  for (std::int32_t y = 0; y < dh; ++y) {
    std::int32_t i = 0, f = 0;
    if (dh >= 2) SplitRatio(std::int64_t(y) * (sh - 1), dh - 1, i, f);
    std::uint8_t* d = dst.Rows[std::size_t(y)];
    if (f == 0 || sh == 1 || sw == 1) {
      rowProc(src.Rows[std::size_t(i)], d);
      continue;
    }
    const std::int32_t next = std::min(i + 1, sh - 1);
    rowProc(src.Rows[std::size_t(i)], upper_.data());
    rowProc(src.Rows[std::size_t(next)], lower_.data());
    AlphaBlendRowProc(d, lower_.data(), upper_.data(), f, std::int32_t(rowBytes));
  }
}

void BilinearResizeLayout(const TPixelLayout& src, TPixelLayout& dst) {
  thread_local TBilinearResampler resampler;
  resampler.Resize(src, dst);
}

}  // namespace zm
