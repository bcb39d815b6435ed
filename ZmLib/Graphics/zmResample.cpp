#include "ZmLib/Graphics/zmResample.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
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

std::vector<TContributionList> HalveContributions(const std::vector<TContributionList>& lists) {
  const std::size_t n = lists.size();
  std::vector<TContributionList> half((n + 1) / 2);
  for (std::size_t i = 0; i < half.size(); ++i) {
    if (n % 2) {
      half[i] = lists[2 * i];
      continue;
    }
    TContributionList& out = half[i];
    for (const TContributionList* l : {&lists[2 * i], &lists[2 * i + 1]})
      for (const TContribution& c : *l) {
        auto it = std::find_if(out.begin(), out.end(), [&](const TContribution& o) { return o.Index == c.Index; });
        if (it == out.end()) out.push_back({c.Index, c.Weight / 2});
        else it->Weight += c.Weight / 2;
      }
  }
  return half;
}

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

// The lists kept: the last met first, kMostKeptLists of them, none of more
// than kMostKeptTaps taps.
class TContributionKeeper {
public:
  struct TKey {
    std::int32_t Dest, Source;
    TResampleFilter Filter;
    float Scale, Support;
    bool Halved;
    bool operator==(const TKey& o) const {
      return Dest == o.Dest && Source == o.Source && Filter == o.Filter &&
             std::memcmp(&Scale, &o.Scale, sizeof Scale) == 0 && std::memcmp(&Support, &o.Support, sizeof Support) == 0 &&
             Halved == o.Halved;
    }
  };
  static constexpr std::size_t kMostKeptLists = 64;
  static constexpr std::size_t kMostKeptTaps = std::size_t(1) << 16;

  TSharedContributions Find(const TKey& key) {
    std::lock_guard<std::mutex> g(lock_);
    for (std::size_t i = 0; i < kept_.size(); ++i)
      if (kept_[i].first == key) {
        TSharedContributions found = kept_[i].second;
        std::rotate(kept_.begin(), kept_.begin() + std::ptrdiff_t(i), kept_.begin() + std::ptrdiff_t(i) + 1);
        return found;
      }
    return nullptr;
  }
  void Keep(const TKey& key, const TSharedContributions& lists) {
    std::size_t taps = 0;
    for (const TContributionList& l : *lists) taps += l.size();
    if (taps > kMostKeptTaps) return;
    std::lock_guard<std::mutex> g(lock_);
    if (kept_.size() == kMostKeptLists) kept_.pop_back();
    kept_.insert(kept_.begin(), {key, lists});
  }

private:
  std::mutex lock_;
  std::vector<std::pair<TKey, TSharedContributions>> kept_;
};

TContributionKeeper& ContributionKeeper() {
  static TContributionKeeper* keeper = new TContributionKeeper;  // never destroyed: any thread, to the end
  return *keeper;
}

}  // namespace

TSharedContributions SharedContributions(std::int32_t destSize, std::int32_t sourceSize, TResampleFilter filter,
                                         float scale, float support, bool halved) {
  const TContributionKeeper::TKey key{destSize, sourceSize, filter, scale, support, halved};
  if (TSharedContributions found = ContributionKeeper().Find(key)) return found;
  std::vector<TContributionList> lists = BuildContributions(destSize, sourceSize, filter, scale, support);
  if (halved) lists = HalveContributions(lists);
  auto shared = std::make_shared<const std::vector<TContributionList>>(std::move(lists));
  ContributionKeeper().Keep(key, shared);
  return shared;
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

// The same for 0 <= v < 2^22, in plain arithmetic that runs over many values
// at once: added to 1.5 * 2^23 a float keeps no fraction, and the addition
// rounds as nearbyint does.
inline std::int32_t RoundSmall(float v) {
  constexpr float kShift = 12582912.0f;  // 1.5 * 2^23
  return std::int32_t((v + kShift) - kShift);
}

constexpr std::int32_t kBand = 64;

// The sums of a band as the first pass keeps them, and as the second
// gives them out, plain or as indexes into a table (NaN from a foreign
// kernel gives 0).
[[gnu::noinline]] void ToWork(const float* __restrict sum, std::uint16_t* __restrict out, std::int32_t n) {
  for (std::int32_t k = 0; k < n; ++k) {
    const float v = sum[k] > 0.0f ? std::min(sum[k], 255.0f) : 0.0f;
    out[k] = std::uint16_t(RoundSmall(v * 256.96078f));
  }
}
[[gnu::noinline]] void ToBytes(const float* __restrict sum, std::uint8_t* __restrict out, std::int32_t n) {
  for (std::int32_t j = 0; j < n; ++j) {
    const float v = sum[j] > 0.0f ? std::min(sum[j], 65535.0f) : 0.0f;
    out[j] = std::uint8_t(RoundSmall(v * 255.0f / 65535.0f));
  }
}
[[gnu::noinline]] void ToTableIndexes(const float* __restrict sum, std::int32_t* __restrict out, std::int32_t n) {
  for (std::int32_t j = 0; j < n; ++j) {
    const float v = sum[j] > 0.0f ? std::min(sum[j], 65535.0f) : 0.0f;
    out[j] = RoundSmall(v * 4095.0f / 65535.0f);
  }
}

// Lays N (at most kBand) rows of Width bytes out as columns: the bytes of
// column x go to Band[x * kBand + 0..N-1]. Blocks of 8 x 8 bytes are turned
// over in eight 64-bit words.
void TransposeBand(const std::uint8_t* const* rows, std::int32_t n, std::int32_t width, std::uint8_t* band) {
  const std::int32_t fullRows = n & ~7, fullCols = width & ~7;
  for (std::int32_t x0 = 0; x0 < fullCols; x0 += 8)
    for (std::int32_t k0 = 0; k0 < fullRows; k0 += 8) {
      std::uint64_t r[8];
      for (int i = 0; i < 8; ++i) std::memcpy(&r[i], rows[k0 + i] + x0, 8);  // byte j of r[i]: row i, column j
      const auto swap = [&](int a, int b, int shift, std::uint64_t mask) {
        const std::uint64_t t = ((r[a] >> shift) ^ r[b]) & mask;
        r[b] ^= t;
        r[a] ^= t << shift;
      };
      for (int i = 0; i < 8; i += 2) swap(i, i + 1, 8, 0x00FF00FF00FF00FFull);
      for (int i : {0, 1, 4, 5}) swap(i, i + 2, 16, 0x0000FFFF0000FFFFull);
      for (int i = 0; i < 4; ++i) swap(i, i + 4, 32, 0x00000000FFFFFFFFull);
      for (int j = 0; j < 8; ++j) std::memcpy(band + std::size_t(x0 + j) * kBand + std::size_t(k0), &r[j], 8);
    }
  for (std::int32_t x = 0; x < width; ++x) {
    std::uint8_t* d = band + std::size_t(x) * kBand;
    for (std::int32_t k = x < fullCols ? fullRows : 0; k < n; ++k) d[k] = rows[k][x];
  }
}

// Adds a tap's weighted run to a band's sums (kept apart so that the sums
// are known to lie apart from the run, and the loop runs over many at once).
[[gnu::noinline]] void AddTap(float* __restrict sum, const std::uint8_t* __restrict run, float weight, std::int32_t count) {
  for (std::int32_t k = 0; k < count; ++k) sum[k] += weight * float(run[k]);
}
[[gnu::noinline]] void AddTap(float* __restrict sum, const std::uint16_t* __restrict run, float weight, std::int32_t count) {
  for (std::int32_t k = 0; k < count; ++k) sum[k] += weight * float(run[k]);
}

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
  const TSharedContributions cols = SharedContributions(dw, sw, filter, scale, support);
  StretchLists(src, dst, *cols, [&] { return SharedContributions(dh, sh, filter, scale, support); }, callback,
               callbackData, lut, sender);
}

void StretchLists(TSysBitmap* src, TSysBitmap* dst, const std::vector<TContributionList>& cols,
                  const std::function<TSharedContributions()>& makeRows, TStretchCallback callback,
                  void* callbackData, std::span<const std::uint8_t> lut, void* sender) {
  ZM_ASSERT(src && dst && src->BytesPerPixel() == 1 && dst->BytesPerPixel() == 1,
            "Stretch: Bitmaps must be 8-bit");
  ZM_ASSERT(lut.empty() || lut.size() >= 4096, "Stretch: Lut must have 4096 entries");
  const std::int32_t sw = src->Width(), sh = src->Height();
  const std::int32_t dw = dst->Width(), dh = dst->Height();
  if (std::int64_t(dw) * sh * 2 > kMaxBitmapBytes) throw Exception("Bitmap too large");
  ZM_ASSERT(cols.size() == std::size_t(dw), "Stretch: a list for each column");
  for (const TContributionList& l : cols)
    for (const TContribution& c : l) ZM_ASSERT(c.Index >= 0 && c.Index < sw, "Stretch: Column outside the source");
  for (std::int32_t i = 0; i < dw; ++i)
    if (Poll(callback, callbackData, sender)) return;

  // Each result is the sum of its taps in their list's order, as a plain
  // loop over the taps would make it. The loops run over many results at
  // once (the runs the taps read lie side by side), so the sums are those
  // of that loop, only made together.
  // First pass, over bands of kBand source rows: a band's columns as runs
  // (each column's kBand bytes side by side), each result column's part of
  // the band summed at once.
  std::vector<std::uint8_t> band(std::size_t(sw) * kBand);
  // Work area column by column (x * sh + y).
  std::vector<std::uint16_t> work(std::size_t(dw) * std::size_t(sh));
  float sum[kBand];
  for (std::int32_t y0 = 0; y0 < sh; y0 += kBand) {
    const std::int32_t n = std::min(kBand, sh - y0);
    const std::uint8_t* rows[kBand];
    for (std::int32_t k = 0; k < n; ++k) rows[k] = src->ScanLine(y0 + k);
    TransposeBand(rows, n, sw, band.data());
    // Whole groups of eight: the runs are kBand long, what lies past N unused.
    const std::int32_t span = (n + 7) & ~7;
    for (std::int32_t x = 0; x < dw; ++x) {
      std::fill_n(sum, span, 0.0f);
      for (const TContribution& c : cols[std::size_t(x)])
        AddTap(sum, band.data() + std::size_t(c.Index) * kBand, c.Weight, span);
      std::uint16_t* out = work.data() + std::size_t(x) * std::size_t(sh) + std::size_t(y0);
      ToWork(sum, out, n);
    }
    for (std::int32_t k = 0; k < n; ++k)
      if (Poll(callback, callbackData, sender)) return;
  }
  band = {};

  const TSharedContributions rowLists = makeRows();
  const std::vector<TContributionList>& rows = *rowLists;
  ZM_ASSERT(rows.size() == std::size_t(dh), "Stretch: a list for each row");
  for (const TContributionList& l : rows)
    for (const TContribution& c : l) ZM_ASSERT(c.Index >= 0 && c.Index < sh, "Stretch: Row outside the source");
  for (std::int32_t i = 0; i < dh; ++i)
    if (Poll(callback, callbackData, sender)) return;

  // Second pass, over bands of kBand result columns: the band's rows of the
  // work area as runs, each result row's part of the band summed at once;
  // written to the target a column per callback.
  std::vector<std::uint16_t> across(std::size_t(sh) * kBand);
  std::vector<std::uint8_t> result(std::size_t(dw) * std::size_t(dh));
  std::int32_t indexes[kBand];
  for (std::int32_t x0 = 0; x0 < dw; x0 += kBand) {
    const std::int32_t n = std::min(kBand, dw - x0);
    for (std::int32_t j = 0; j < n; ++j) {
      const std::uint16_t* column = work.data() + std::size_t(x0 + j) * std::size_t(sh);
      for (std::int32_t y = 0; y < sh; ++y) across[std::size_t(y) * kBand + std::size_t(j)] = column[y];
    }
    const std::int32_t span = (n + 7) & ~7;
    for (std::int32_t y = 0; y < dh; ++y) {
      std::fill_n(sum, span, 0.0f);
      for (const TContribution& c : rows[std::size_t(y)])
        AddTap(sum, across.data() + std::size_t(c.Index) * kBand, c.Weight, span);
      std::uint8_t* out = result.data() + std::size_t(y) * std::size_t(dw) + std::size_t(x0);
      if (lut.empty()) {
        ToBytes(sum, out, n);
      } else {
        ToTableIndexes(sum, indexes, n);
        for (std::int32_t j = 0; j < n; ++j) out[j] = lut[std::size_t(indexes[j])];
      }
    }
  }
  work = {};
  // A column per callback: the columns before the one whose callback
  // cancels, and that one, are written, row by row.
  std::int32_t written = dw;
  for (std::int32_t x = 0; x < dw; ++x)
    if (Poll(callback, callbackData, sender)) {
      written = x + 1;
      break;
    }
  for (std::int32_t y = 0; y < dh; ++y)
    std::copy_n(result.data() + std::size_t(y) * std::size_t(dw), written, dst->ScanLine(y));
}

}  // namespace zm
