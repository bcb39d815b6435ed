#pragma once
// The anti-aliased scan-line rasteriser. Shapes are collected as closed
// polygons in a TOutline; TRasterizer computes, for every pixel, how many of
// its 16 x 16 samples the shape covers (0..256) and hands runs of covered
// pixels to the outline's span handler, row by row.
//
// Coordinates are pixels; inside the rasteriser they are sixteenths of a
// pixel (one sixteenth vertically is a sub-scan-line). Rows and columns are
// 0-based. An outline and a rasteriser belong to one drawing at a time.
#include <cstdint>
#include <functional>
#include <vector>

#include "ZmLib/Graphics/zmRectUtils.h"
#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/zmTypes.h"

namespace zm {

// A float point in sixteenths: each coordinate times 16, rounded to the
// nearest integer (half to even) and held within -2147483647..2147483647.
// A coordinate that is not a number counts as 0.
TPoint PointToFixed16(const TFloatPoint& p);

// One edge of an outline, stored from its upper end; coordinates in
// sixteenths. Height is negative when the edge was drawn upwards (it is
// 64-bit so that an edge between the extreme coordinates cannot overflow).
struct TOutlineEdge {
  std::int32_t X = 0;       // top x
  std::int32_t Y = 0;       // top y
  std::int64_t Height = 0;  // signed height
  float Step = 0;           // x change per sub-scan-line, 0 for zero height
};

// Called for each run of covered pixels of a row: Coverage is indexed by
// pixel column, every cell First..Last (inclusive) is 1..256.
using TSpanEvent =
    std::function<void(std::int32_t row, const std::uint16_t* coverage, std::int32_t first, std::int32_t last)>;

class TOutline : public TRefObject {
public:
  TOutline();
  void Dispose() override;

  // No edges, no open contour.
  void Reset();
  // Closes the open contour (an edge back to its start), then opens one at P.
  void MoveTo(const TFloatPoint& p);
  // The edge from the current point to P; an edge of zero height is dropped
  // but P still becomes current. Without an open contour the assertion
  // "TOutline.AddPoint Error: No Start Point or Closed Outline".
  void AddPoint(const TFloatPoint& p);
  // Closes the open contour and orders the edges by top y (ties keep the
  // order they were added in).
  void Finish();

  std::int32_t EdgeCount() const { return std::int32_t(edges_.size()); }
  const TOutlineEdge& Edge(std::int32_t i) const { return edges_[std::size_t(i)]; }
  const std::vector<std::int32_t>& SortedIndex() const { return sorted_; }
  bool Closed() const { return closed_; }
  // The largest x (sixteenths) of any point that made an edge.
  std::int32_t MaxX() const { return maxX_; }
  // The smallest x and y and the largest y (sixteenths) of those points.
  std::int32_t MinX() const { return minX_; }
  std::int32_t MinY() const { return minY_; }
  std::int32_t MaxY() const { return maxY_; }

  // Even-odd rule when set, else non-zero winding.
  bool FillEvenOdd = false;
  TSpanEvent OnSpan;

private:
  void AddEdge(const TPoint& to);

  std::vector<TOutlineEdge> edges_;
  bool closed_ = true;
  TFloatPoint start_;
  TPoint current_;
  std::vector<std::int32_t> sorted_;
  std::int32_t maxX_ = -2147483647;
  std::int32_t minX_ = 2147483647, minY_ = 2147483647, maxY_ = -2147483647;
};

class TRasterizer : public TRefObject {
public:
  TRasterizer();
  void Dispose() override;

  // Scans Outline over the pixels 0..Width-1 x 0..Height-1 and calls its
  // OnSpan for every run of covered pixels, rows in increasing order.
  // Nothing happens without edges, without a handler or for an empty area.
  // An outline that lies wholly inside the area and was met before in the
  // same shape, moved by whole pixels (a glyph of a text met again), has
  // its runs from then, moved as far: the very calls the scan would make.
  void Rasterize(TOutline* outline, std::int32_t width, std::int32_t height);
  // The bytes the runs kept take at most; how often they were used (tests).
  static constexpr std::size_t kCoverageCacheBytes = std::size_t(16) << 20;
  static std::uint64_t CoverageCacheHits();

  static std::int32_t EdgeDirection(const TOutlineEdge& edge) { return edge.Height < 0 ? -1 : 1; }
  // The crossing of an edge with sub-scan-line Y, sampled in the middle of
  // the sub-scan-line; kNoCrossing when the edge does not reach Y.
  static constexpr std::int32_t kNoCrossing = -2147483647 - 1;
  static std::int32_t EdgeXAtY(const TOutlineEdge& edge, std::int64_t y);

private:
  struct TCrossing {
    std::int32_t X;
    std::int32_t Edge;
  };
  struct TRecording;
  bool AddCrossing(std::int32_t x, std::int32_t direction);
  void FlushRow(std::int32_t row);
  void Scan(TOutline* outline, std::int32_t width, std::int32_t height);
  void SortCrossings(std::int32_t count, std::int32_t outOfOrder);

  TOutline* outline_ = nullptr;  // only while rasterising
  std::vector<TCrossing> active_;
  std::int32_t mask_ = -1;
  // Coverage of the current pixel row: the partial columns of each span go
  // to cells_, the whole columns between as differences in fill_, summed
  // when the row is flushed.
  std::vector<std::uint16_t> cells_;
  std::vector<std::int32_t> fill_;
  std::int64_t rightLimit_ = 0;
  std::int32_t prevX_ = 0;
  std::int32_t winding_ = 0;
  std::int32_t regionDir_ = 1;
  std::int32_t touchedLo_ = 2147483647;
  std::int32_t touchedHi_ = 0;
  TRecording* recording_ = nullptr;  // the runs of a scan being kept
};

// The first position (1-based) at or after Start whose character is not in
// CharSet; Text.size() + 1 when there is none.
std::int32_t SkipCharsInSet(WideStringView text, WideStringView charSet, std::int32_t start);

}  // namespace zm
