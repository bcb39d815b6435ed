#pragma once
// Two-pass separable resampling of 8-bit single-channel bitmaps (alpha
// masks) with a choice of filter kernels and an explicit scale. The shadow
// maker blurs a mask by shrinking it and enlarging it again; the second pass
// can push its result through a 4096-entry table (a contour curve).
//
// Each destination column i (and likewise each row) takes its value from
// source positions around i / Scale. Enlarging (Scale >= 1) weighs source j
// by f(center - j) over center - Support .. center + Support; shrinking
// weighs it by f((center - j) * Scale) * Scale over a window Support / Scale
// wide. Source indexes beyond an edge are mirrored at it and then held
// inside the picture, so kernels wider than the picture stay in bounds.
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "ZmLib/Graphics/SysBitmap.h"

namespace zm {

// A kernel f(t); 0 outside its support.
using TResampleFilter = float (*)(float t);

float BoxFilter(float t);
float TriangleFilter(float t);
float HermiteFilter(float t);
float BellFilter(float t);
float SplineFilter(float t);  // "B-Spline"
float Lanczos3Filter(float t);
float MitchellFilter(float t);

struct TResampleFilterInfo {
  const char* Name;
  TResampleFilter Filter;
  float Support;
};

// "Box", "Triangle", "Hermite", "Bell", "B-Spline", "Lanczos3", "Mitchell".
constexpr std::int32_t kResampleFilterCount = 7;
extern const TResampleFilterInfo ResampleFilters[kResampleFilterCount];
// The kernel the shadows blur with.
constexpr std::int32_t kDefaultResampleFilter = 4;  // "B-Spline"

struct TContribution {
  std::int32_t Index;  // source index, inside 0 .. source size - 1
  float Weight;
};
using TContributionList = std::vector<TContribution>;

// The contribution list of every destination index 0 .. DestSize - 1 over a
// source of SourceSize (at least 1). Pairs of weight exactly 0 are left out;
// several positions that land on the same source index share one pair; the
// weights of a list are normalised to sum to one.
// Scale must be finite and above 0, Support finite and not negative, the
// kernel window (2 Support / Scale when shrinking) at most kMaxResampleWindow
// wide and DestSize x window at most kMaxResampleWork, else Exception.
std::vector<TContributionList> BuildContributions(std::int32_t destSize, std::int32_t sourceSize,
                                                  TResampleFilter filter, float scale, float support);
constexpr std::int32_t kMaxResampleWindow = 1 << 16;
constexpr std::int64_t kMaxResampleWork = std::int64_t(1) << 26;

// Called with CallbackData and Sender; setting Cancel stops the operation
// there (what has been written stays).
using TStretchCallback = void (*)(void* callbackData, void* sender, bool& cancel);

// Resamples Src into Dst, both 8-bit (assertion), of any size. Lut is empty
// or 4096 entries (assertion), applied as Lut[Round(v * 4095 / 65535)] to
// the 16-bit result v of the second pass. The callback is called after each
// destination column's contribution list, after each source row of the first
// pass, after each destination row's contribution list and after each
// destination column of the second pass. A source below 2 x 2 raises
// Exception "Source bitmap too small"; so does a work area beyond
// kMaxBitmapBytes ("Bitmap too large"). Scale and Support as for
// BuildContributions.
void Stretch(TSysBitmap* src, TSysBitmap* dst, TResampleFilter filter, TStretchCallback callback,
             void* callbackData, std::span<const std::uint8_t> lut, void* sender, float scale, float support);
// The same with the target's column lists given, and its row lists made
// when the first pass is done (assertions: a list for each, inside the
// source). The callback is called as Stretch calls it.
using TSharedContributions = std::shared_ptr<const std::vector<TContributionList>>;
void StretchLists(TSysBitmap* src, TSysBitmap* dst, const std::vector<TContributionList>& cols,
                  const std::function<TSharedContributions()>& makeRows, TStretchCallback callback,
                  void* callbackData, std::span<const std::uint8_t> lut, void* sender);
// The lists of a result at half the size of Lists' (rounded up): along an
// odd size each is the even one's, along an even one each pair's taps
// joined at half their weights, so that result i stands where results 2i
// (and 2i + 1) stand once it is drawn twice as large about its middle.
std::vector<TContributionList> HalveContributions(const std::vector<TContributionList>& lists);
// BuildContributions' lists (then HalveContributions' of them when Halved),
// the same lists for the same arguments: those of the last sizes met are
// kept (any thread), so that pictures of a few sizes made again and again
// do not work their weights out each time.
TSharedContributions SharedContributions(std::int32_t destSize, std::int32_t sourceSize, TResampleFilter filter,
                                         float scale, float support, bool halved = false);

}  // namespace zm
