#pragma once
// Plane separators: polygons cut into bands along one axis (TXSeparator) or
// into the cells of a grid (T2DSeparator), so that every tile of a target
// receives only its own part of what a transition emits. Each vertex carries
// a value (the coverage) that is interpolated linearly at every cut.
//
// A vertex lying exactly on a cut goes to both neighbouring bands; parts
// outside the outermost cuts are dropped. Each band receives at most one
// polygon per input polygon: a concave input that enters a band twice gives
// one polygon whose pieces are joined along the cut line (its signed area is
// still exact). Convex input gives convex pieces. A polygon that only touches
// a band (a vertex or an edge on its cut) leaves a degenerate piece of one or
// two vertices there.
#include <cstdint>
#include <span>
#include <vector>

#include "ZmLib/Win32/SysObj2.h"

namespace zm {

struct TSepVertex {
  float x = 0;
  float y = 0;
  float value = 0;
  friend bool operator==(const TSepVertex&, const TSepVertex&) = default;
};

// What one band (or grid cell) received. The arrays may be longer than the
// counts: only the first VertexCount vertices and PolyCount ends are used.
// PolyEnds[i] is the vertex count at the end of polygon i.
struct TSepBand {
  std::vector<TSepVertex> Vertices;
  std::int32_t VertexCount = 0;
  std::vector<std::int32_t> PolyEnds;
  std::int32_t PolyCount = 0;
};

class TXSeparator : public TRefObject {
public:
  // The most bands one separator takes, and the most cells of a grid; more
  // fails an assertion before anything is allocated.
  static constexpr std::int32_t kMaxBands = 1 << 16;
  static constexpr std::int64_t kMaxCells = 1 << 20;

  // Splits along x. Cuts holds at least BandCount + 1 ascending finite
  // positions (the first BandCount + 1 are used); BandCount < 1, too few,
  // descending or non-finite cuts fail an assertion.
  TXSeparator(std::span<const float> Cuts, std::int32_t BandCount);
  void Dispose() override;

  // Splits one closed polygon into the bands (x for a TXSeparator, the grid
  // cells for a T2DSeparator). Count < 1 or a null array adds nothing; a
  // non-finite coordinate or value fails an assertion before anything is
  // added.
  virtual void AddPolygon(const TSepVertex* Vertices, std::int32_t Count);
  void AddPolygon(std::span<const TSepVertex> Vertices);
  // Resets every band to empty; the arrays keep their capacity.
  virtual void Clear();

  std::int32_t BandCount() const { return bandCount_; }
  // Band Index (0-based); out of range fails an assertion.
  const TSepBand& Band(std::int32_t Index) const;
  // A copy trimmed to the counts.
  TSepBand GetBand(std::int32_t Index) const;
  // The sentinel-framed cut list: a low sentinel, the BandCount + 1 cuts, a
  // high sentinel.
  const std::vector<float>& Cuts() const { return cuts_; }

protected:
  friend class T2DSeparator;  // drives its row separators' splits
  enum class TAxis : std::uint8_t { X, Y };
  TXSeparator(std::span<const float> Cuts, std::int32_t BandCount, TAxis Axis);
  // Splits along this separator's axis into its bands.
  void Split(const TSepVertex* Vertices, std::int32_t Count);
  // Validates a polygon before any band is touched.
  static void CheckPolygon(const TSepVertex* Vertices, std::int32_t Count);

private:
  struct TCurrent {
    TSepVertex P;
    std::int32_t Zone = 0;
    std::int32_t Visited = 0;
  };

  std::int32_t ZoneOf(float Coord) const;
  void WalkTo(const TSepVertex& V, std::int32_t Zone, bool Closing);
  void Emit(const TSepVertex& V, std::int32_t Zone);
  void AppendToBand(std::int32_t Index, const TSepVertex& V);
  void CloseBands();

  std::vector<float> cuts_;
  std::vector<TSepBand> bands_;
  std::int32_t bandCount_ = 0;
  TCurrent current_;
  TAxis axis_ = TAxis::X;
};

// Splits along y into rows (its own bands), then each row along x into
// columns: cell (Column, Row) gets the part of a polygon inside it.
class T2DSeparator : public TXSeparator {
public:
  // ColumnCuts and RowCuts as for TXSeparator; ColumnCount * RowCount above
  // kMaxCells fails an assertion.
  T2DSeparator(std::span<const float> ColumnCuts, std::int32_t ColumnCount,
               std::span<const float> RowCuts, std::int32_t RowCount);
  void Dispose() override;

  void AddPolygon(const TSepVertex* Vertices, std::int32_t Count) override;
  using TXSeparator::AddPolygon;
  void Clear() override;

  std::int32_t ColumnCount() const { return columnCount_; }
  std::int32_t RowCount() const { return rowCount_; }
  // Out of range fails an assertion.
  const TSepBand& Cell(std::int32_t Column, std::int32_t Row) const;
  // A copy trimmed to the counts.
  TSepBand GetCell(std::int32_t Column, std::int32_t Row) const;

private:
  std::vector<TRef<TXSeparator>> rowSeparators_;
  std::int32_t columnCount_ = 0;
  std::int32_t rowCount_ = 0;
};

}  // namespace zm
