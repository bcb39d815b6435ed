#pragma once
// A bilinear resampler for 32-bit pixel layouts, built on the row blend.
// Columns are mapped with 8-bit fractions (x * (sw - 1) / (dw - 1)), so the
// first and last columns and rows of the source land exactly on those of
// the destination.
#include <cstdint>
#include <vector>

#include "ZmLib/Graphics/SysBitmap.h"

namespace zm {

// Width, height, bits per pixel and one pointer per row; either over a
// bitmap's rows or over one contiguous buffer of its own.
struct TPixelLayout {
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  std::int32_t BitsPerPixel = 32;
  std::vector<std::uint8_t*> Rows;

  TPixelLayout() = default;
  // A buffer of its own: Height rows of Width * bytes-per-pixel bytes
  // (bytes-per-pixel = (bits - 1) div 8 + 1); negative sizes count as 0 and
  // bits below 1 as 1. The size must stay within kMaxBitmapBytes (assertion).
  TPixelLayout(std::int32_t width, std::int32_t height, std::int32_t bitsPerPixel);
  TPixelLayout(const TPixelLayout&) = delete;
  TPixelLayout& operator=(const TPixelLayout&) = delete;
  TPixelLayout(TPixelLayout&&) = default;
  TPixelLayout& operator=(TPixelLayout&&) = default;

private:
  std::vector<std::uint8_t> buffer_;
};

// The layout of a bitmap's rows.
TPixelLayout GetBitmapLayout(TSysBitmap* bitmap);

// Keeps its column map and row buffers between calls.
class TBilinearResampler {
public:
  // Both layouts 25 to 32 bits per pixel (assertion); nothing when a width
  // or height of either is 0 or less.
  void Resize(const TPixelLayout& src, TPixelLayout& dst);

private:
  struct TColumn {
    std::int32_t Index;
    std::int32_t Fraction;  // 0..256
  };
  void BuildColumns(std::int32_t sw, std::int32_t dw);
  std::vector<TColumn> columns_;
  std::int32_t sw_ = -1, dw_ = -1;
  std::vector<std::uint8_t> upper_, lower_;
};

// Resize through a resampler of the calling thread.
void BilinearResizeLayout(const TPixelLayout& src, TPixelLayout& dst);

}  // namespace zm
