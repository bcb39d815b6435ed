#include "ZmLib/Graphics/zmResample.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace zm {

float BoxFilter(float t) { return (t > -0.5f && t <= 0.5f) ? 1.0f : 0.0f; }

float TriangleFilter(float t) {
  const float a = std::fabs(t);
  return a < 1.0f ? 1.0f - a : 0.0f;
}

float HermiteFilter(float t) {
  const float a = std::fabs(t);
  return a < 1.0f ? a * a * (2.0f * a - 3.0f) + 1.0f : 0.0f;
}

float BellFilter(float t) {
  const float a = std::fabs(t);
  if (a < 0.5f) return 0.75f - a * a;
  if (a < 1.5f) return 0.5f * (a - 1.5f) * (a - 1.5f);
  return 0.0f;
}

float SplineFilter(float t) {
  const float a = std::fabs(t);
  if (a < 1.0f) return 0.5f * a * a * a - a * a + 2.0f / 3.0f;
  if (a < 2.0f) {
    const float b = 2.0f - a;
    return b * b * b / 6.0f;
  }
  return 0.0f;
}

namespace {
float Sinc(float x) {
  if (x == 0.0f) return 1.0f;
  const float px = std::numbers::pi_v<float> * x;
  return std::sin(px) / px;
}
}  // namespace

float Lanczos3Filter(float t) {
  const float a = std::fabs(t);
  return a < 3.0f ? Sinc(a) * Sinc(a / 3.0f) : 0.0f;
}

float MitchellFilter(float t) {
  const float a = std::fabs(t);
  if (a < 1.0f) return (7.0f * a * a * a - 12.0f * a * a + 16.0f / 3.0f) / 6.0f;
  if (a < 2.0f) return (-7.0f / 3.0f * a * a * a + 12.0f * a * a - 20.0f * a + 32.0f / 3.0f) / 6.0f;
  return 0.0f;
}

const TResampleFilterInfo ResampleFilters[kResampleFilterCount] = {
    {"Box", BoxFilter, 0.5f},           {"Triangle", TriangleFilter, 1.0f}, {"Hermite", HermiteFilter, 1.0f},
    {"Bell", BellFilter, 1.5f},         {"B-Spline", SplineFilter, 2.0f},   {"Lanczos3", Lanczos3Filter, 3.0f},
    {"Mitchell", MitchellFilter, 2.0f},
};

std::vector<TContributionList> BuildContributions(std::int32_t destSize, std::int32_t sourceSize,
                                                  TResampleFilter filter, float scale, float support) {
  if (!filter) throw Exception("Stretch: No filter");
  if (!std::isfinite(scale) || scale <= 0.0f) throw Exception("Stretch: Invalid scale");
  if (!std::isfinite(support) || support < 0.0f) throw Exception("Stretch: Invalid support");
  if (sourceSize < 1 || destSize < 0) throw Exception("Stretch: Invalid size");
  const bool shrink = scale < 1.0f;
  const double width = shrink ? double(support) / scale : double(support);
  // Bounds the weights' memory and the time spent on them (dest x window).
  const double window = 2.0 * std::ceil(width) + 3.0;
  if (window > kMaxResampleWindow || double(destSize) * window > kMaxResampleWork)
    throw Exception("Stretch: Filter too wide");
  const double lastCenter = double(destSize) / scale;
  if (!(lastCenter + width < 1e15)) throw Exception("Stretch: Invalid scale");

  const std::int64_t n = sourceSize;
  std::vector<TContributionList> lists(static_cast<std::size_t>(destSize));
  // Weights gathered per source index, so mirrored positions share a pair.
  std::vector<float> acc(static_cast<std::size_t>(n), 0.0f);
  std::vector<std::int32_t> touched;
  for (std::int32_t i = 0; i < destSize; ++i) {
    const double center = double(i) / scale;
    const std::int64_t left = std::int64_t(std::floor(center - width));
    const std::int64_t right = std::int64_t(std::ceil(center + width));
    touched.clear();
    for (std::int64_t j = left; j <= right; ++j) {
      const float w = shrink ? filter(float((center - double(j)) * scale)) * scale : filter(float(center - double(j)));
      if (w == 0.0f) continue;
      std::int64_t k = j < 0 ? -j : (j >= n ? 2 * n - j - 1 : j);
      k = std::clamp<std::int64_t>(k, 0, n - 1);
      if (acc[std::size_t(k)] == 0.0f) touched.push_back(std::int32_t(k));
      acc[std::size_t(k)] += w;
    }
    TContributionList& list = lists[std::size_t(i)];
    list.reserve(touched.size());
    double total = 0;
    for (std::int32_t k : touched) {
      // A sum that cancelled to 0 and was touched again is listed once only.
      if (acc[std::size_t(k)] != 0.0f) {
        list.push_back({k, acc[std::size_t(k)]});
        total += acc[std::size_t(k)];
      }
      acc[std::size_t(k)] = 0.0f;
    }
    // Sampled kernels do not sum to one (a box shrinking by 0.3 covers three
    // or four pixels: stripes of 90 % and 120 %); normalised, flat stays flat.
    if (std::fabs(total) > 1e-6)
      for (TContribution& c : list) c.Weight = float(c.Weight / total);
  }
  return lists;
}

namespace {

bool Poll(TStretchCallback callback, void* data, void* sender) {
  if (!callback) return false;
  bool cancel = false;
  callback(data, sender, cancel);
  return cancel;
}

// Round half to even, as the rest of the imaging code does.
inline std::int32_t RoundI(float v) { return std::int32_t(std::nearbyint(v)); }

}  // namespace

void Stretch(TSysBitmap* src, TSysBitmap* dst, TResampleFilter filter, TStretchCallback callback,
             void* callbackData, std::span<const std::uint8_t> lut, void* sender, float scale, float support) {
  ZM_ASSERT(src && dst && src->BytesPerPixel() == 1 && dst->BytesPerPixel() == 1,
            "Stretch: Bitmaps must be 8-bit");
  ZM_ASSERT(lut.empty() || lut.size() >= 4096, "Stretch: Lut must have 4096 entries");
  if (src->Width() < 2 || src->Height() < 2) throw Exception("Source bitmap too small");
  const std::int32_t sw = src->Width(), sh = src->Height();
  const std::int32_t dw = dst->Width(), dh = dst->Height();
  if (std::int64_t(dw) * sh * 2 > kMaxBitmapBytes) throw Exception("Bitmap too large");

  // Contribution lists are made before the work area, so a refused scale
  // costs no memory. Both are dropped on every way out.
  std::vector<TContributionList> cols = BuildContributions(dw, sw, filter, scale, support);
  for (std::int32_t i = 0; i < dw; ++i)
    if (Poll(callback, callbackData, sender)) return;

  // Work area column by column (x * sh + y), so the second pass reads runs.
  std::vector<std::uint16_t> work(std::size_t(dw) * std::size_t(sh));
  for (std::int32_t y = 0; y < sh; ++y) {
    const std::uint8_t* row = src->ScanLine(y);
    for (std::int32_t x = 0; x < dw; ++x) {
      float sum = 0.0f;
      for (const TContribution& c : cols[std::size_t(x)]) sum += c.Weight * float(row[c.Index]);
      sum = sum > 0.0f ? std::min(sum, 255.0f) : 0.0f;  // NaN from a foreign kernel gives 0
      work[std::size_t(x) * std::size_t(sh) + std::size_t(y)] = std::uint16_t(RoundI(sum * 256.96078f));
    }
    if (Poll(callback, callbackData, sender)) return;
  }

  std::vector<TContributionList> rows = BuildContributions(dh, sh, filter, scale, support);
  for (std::int32_t i = 0; i < dh; ++i)
    if (Poll(callback, callbackData, sender)) return;

  for (std::int32_t x = 0; x < dw; ++x) {
    const std::uint16_t* column = work.data() + std::size_t(x) * std::size_t(sh);
    for (std::int32_t y = 0; y < dh; ++y) {
      float sum = 0.0f;
      for (const TContribution& c : rows[std::size_t(y)]) sum += c.Weight * float(column[c.Index]);
      sum = sum > 0.0f ? std::min(sum, 65535.0f) : 0.0f;
      std::uint8_t v;
      if (lut.empty())
        v = std::uint8_t(RoundI(sum * 255.0f / 65535.0f));
      else
        v = lut[std::size_t(RoundI(sum * 4095.0f / 65535.0f))];
      dst->ScanLine(y)[x] = v;
    }
    if (Poll(callback, callbackData, sender)) return;
  }
}

}  // namespace zm
