#include "ZmLib/zmPlaneSeparator.h"

#include <bit>
#include <cmath>

namespace zm {

namespace {

// The sentinels framing the cut list: the walk for a zone never runs past them.
const float kLowSentinel = std::bit_cast<float>(0xFF7FC99Eu);
const float kHighSentinel = std::bit_cast<float>(0x7F7FC99Eu);

constexpr std::size_t kFirstVertexCapacity = 32;
constexpr std::size_t kFirstPolyCapacity = 8;

void CheckCuts(std::span<const float> cuts, std::int32_t count) {
  ZM_ASSERT(count >= 1, "TXSeparator: BandCount < 1");
  ZM_ASSERT(count <= TXSeparator::kMaxBands, "TXSeparator: too many bands");
  ZM_ASSERT(cuts.size() >= static_cast<std::size_t>(count) + 1, "TXSeparator: too few cuts");
  for (std::int32_t i = 0; i <= count; ++i) {
    float c = cuts[static_cast<std::size_t>(i)];
    ZM_ASSERT(c > kLowSentinel && c < kHighSentinel, "TXSeparator: cut out of range");
    ZM_ASSERT(i == 0 || c >= cuts[static_cast<std::size_t>(i) - 1], "TXSeparator: cuts not ascending");
  }
}

// Checks the grid before the base allocates anything; answers the row cuts.
std::span<const float> CheckGrid(std::span<const float> columnCuts, std::int32_t columnCount,
                                 std::span<const float> rowCuts, std::int32_t rowCount) {
  CheckCuts(columnCuts, columnCount);
  CheckCuts(rowCuts, rowCount);
  ZM_ASSERT(std::int64_t{columnCount} * rowCount <= TXSeparator::kMaxCells, "T2DSeparator: too many cells");
  return rowCuts;
}

template <class T>
void GrowFor(std::vector<T>& a, std::int32_t count, std::size_t first) {
  if (static_cast<std::size_t>(count) < a.size()) return;
  ZM_ASSERT(a.size() < (std::size_t{1} << 30), "TXSeparator: band overflow");
  a.resize(a.empty() ? first : a.size() * 2);
}

TSepBand TrimmedCopy(const TSepBand& b) {
  TSepBand r;
  r.Vertices.assign(b.Vertices.begin(), b.Vertices.begin() + b.VertexCount);
  r.VertexCount = b.VertexCount;
  r.PolyEnds.assign(b.PolyEnds.begin(), b.PolyEnds.begin() + b.PolyCount);
  r.PolyCount = b.PolyCount;
  return r;
}

}  // namespace

// ---- TXSeparator -----------------------------------------------------------------

TXSeparator::TXSeparator(std::span<const float> Cuts, std::int32_t BandCount)
    : TXSeparator(Cuts, BandCount, TAxis::X) {}

TXSeparator::TXSeparator(std::span<const float> Cuts, std::int32_t BandCount, TAxis Axis) : axis_(Axis) {
  CheckCuts(Cuts, BandCount);
  bandCount_ = BandCount;
  cuts_.reserve(static_cast<std::size_t>(BandCount) + 3);
  cuts_.push_back(kLowSentinel);
  cuts_.insert(cuts_.end(), Cuts.begin(), Cuts.begin() + BandCount + 1);
  cuts_.push_back(kHighSentinel);
  bands_.resize(static_cast<std::size_t>(BandCount));
}

void TXSeparator::Dispose() {
  bands_.clear();
  bands_.shrink_to_fit();
  TRefObject::Dispose();
}

void TXSeparator::CheckPolygon(const TSepVertex* Vertices, std::int32_t Count) {
  for (std::int32_t i = 0; i < Count; ++i) {
    const TSepVertex& v = Vertices[i];
    ZM_ASSERT(std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.value),
              "TXSeparator: vertex not finite");
  }
}

void TXSeparator::AddPolygon(const TSepVertex* Vertices, std::int32_t Count) {
  if (!Vertices || Count < 1) return;
  CheckPolygon(Vertices, Count);
  Split(Vertices, Count);
}

void TXSeparator::AddPolygon(std::span<const TSepVertex> Vertices) {
  ZM_ASSERT(Vertices.size() <= 0x7FFFFFFF, "TXSeparator: polygon too large");
  AddPolygon(Vertices.data(), static_cast<std::int32_t>(Vertices.size()));
}

void TXSeparator::Clear() {
  for (TSepBand& b : bands_) {
    b.VertexCount = 0;
    b.PolyCount = 0;
  }
}

const TSepBand& TXSeparator::Band(std::int32_t Index) const {
  ZM_ASSERT(Index >= 0 && Index < bandCount_, "TXSeparator: band index out of range");
  return bands_[static_cast<std::size_t>(Index)];
}

TSepBand TXSeparator::GetBand(std::int32_t Index) const { return TrimmedCopy(Band(Index)); }

std::int32_t TXSeparator::ZoneOf(float Coord) const {
  // cuts_[j] is cut j - 1; find cuts_[j] <= Coord < cuts_[j + 1], starting at
  // the middle band. Coordinates beyond the sentinels stay in the outer zones.
  const std::int32_t top = bandCount_ + 1;
  std::int32_t j = bandCount_ / 2 + 1;
  while (j > 0 && Coord < cuts_[static_cast<std::size_t>(j)]) --j;
  while (j < top && Coord >= cuts_[static_cast<std::size_t>(j) + 1]) ++j;
  if (j >= 1 && Coord == cuts_[static_cast<std::size_t>(j)]) return 2 * j - 1;
  return 2 * j;
}

void TXSeparator::AppendToBand(std::int32_t Index, const TSepVertex& V) {
  TSepBand& b = bands_[static_cast<std::size_t>(Index)];
  GrowFor(b.Vertices, b.VertexCount, kFirstVertexCapacity);
  b.Vertices[static_cast<std::size_t>(b.VertexCount++)] = V;
}

void TXSeparator::Emit(const TSepVertex& V, std::int32_t Zone) {
  // On a cut (odd zone): both neighbouring bands. Band k is zone 2k + 2.
  const std::int32_t lo = (Zone & 1) ? Zone - 1 : Zone;
  const std::int32_t hi = (Zone & 1) ? Zone + 1 : Zone;
  for (std::int32_t z = lo; z <= hi; z += 2) {
    std::int32_t k = z / 2 - 1;
    if (k >= 0 && k < bandCount_) AppendToBand(k, V);
  }
  current_.P = V;
  current_.Zone = Zone;
  ++current_.Visited;
}

void TXSeparator::WalkTo(const TSepVertex& V, std::int32_t Zone, bool Closing) {
  if (current_.Visited > 0 && current_.Zone != Zone) {
    const std::int32_t step = Zone > current_.Zone ? 1 : -1;
    std::int32_t start = current_.Zone;
    if (start & 1) start += step;
    std::int32_t stop = Zone;
    if (stop & 1) stop -= step;
    const TSepVertex p = current_.P;
    const bool alongX = axis_ == TAxis::X;
    const double pa = alongX ? p.x : p.y;
    const double po = alongX ? p.y : p.x;
    const double d = (alongX ? double{V.x} : double{V.y}) - pa;
    const double otherSlope = d != 0 ? ((alongX ? double{V.y} : double{V.x}) - po) / d : 0.0;
    const double valueSlope = d != 0 ? (double{V.value} - p.value) / d : 0.0;
    for (std::int32_t z = start + step; (stop - z) * step > 0; z += step) {
      if (!(z & 1)) continue;
      const float c = cuts_[static_cast<std::size_t>((z - 1) / 2) + 1];
      const double t = double{c} - pa;
      const auto other = static_cast<float>(po + t * otherSlope);
      TSepVertex q;
      q.x = alongX ? c : other;
      q.y = alongX ? other : c;
      q.value = static_cast<float>(p.value + t * valueSlope);
      Emit(q, z);
    }
  }
  if (!Closing) Emit(V, Zone);
}

void TXSeparator::CloseBands() {
  for (TSepBand& b : bands_) {
    const std::int32_t last = b.PolyCount > 0 ? b.PolyEnds[static_cast<std::size_t>(b.PolyCount) - 1] : 0;
    if (b.VertexCount <= last) continue;
    GrowFor(b.PolyEnds, b.PolyCount, kFirstPolyCapacity);
    b.PolyEnds[static_cast<std::size_t>(b.PolyCount++)] = b.VertexCount;
  }
}

void TXSeparator::Split(const TSepVertex* Vertices, std::int32_t Count) {
  current_ = TCurrent{};
  if (Count < 1) return;
  const bool alongX = axis_ == TAxis::X;
  for (std::int32_t i = 0; i < Count; ++i) {
    const TSepVertex& v = Vertices[i];
    WalkTo(v, ZoneOf(alongX ? v.x : v.y), false);
  }
  const TSepVertex& first = Vertices[0];
  WalkTo(first, ZoneOf(alongX ? first.x : first.y), true);
  CloseBands();
}

// ---- T2DSeparator ----------------------------------------------------------------

T2DSeparator::T2DSeparator(std::span<const float> ColumnCuts, std::int32_t ColumnCount,
                           std::span<const float> RowCuts, std::int32_t RowCount)
    : TXSeparator(CheckGrid(ColumnCuts, ColumnCount, RowCuts, RowCount), RowCount, TAxis::Y),
      columnCount_(ColumnCount),
      rowCount_(RowCount) {
  rowSeparators_.reserve(static_cast<std::size_t>(RowCount));
  for (std::int32_t r = 0; r < RowCount; ++r) rowSeparators_.push_back(MakeRef<TXSeparator>(ColumnCuts, ColumnCount));
}

void T2DSeparator::Dispose() {
  rowSeparators_.clear();
  TXSeparator::Dispose();
}

void T2DSeparator::AddPolygon(const TSepVertex* Vertices, std::int32_t Count) {
  if (!Vertices || Count < 1) return;
  CheckPolygon(Vertices, Count);
  Split(Vertices, Count);
  for (std::int32_t r = 0; r < rowCount_; ++r) {
    const TSepBand& row = Band(r);
    std::int32_t start = 0;
    for (std::int32_t p = 0; p < row.PolyCount; ++p) {
      const std::int32_t end = row.PolyEnds[static_cast<std::size_t>(p)];
      rowSeparators_[static_cast<std::size_t>(r)]->Split(row.Vertices.data() + start, end - start);
      start = end;
    }
  }
  TXSeparator::Clear();
}

void T2DSeparator::Clear() {
  TXSeparator::Clear();
  for (auto& s : rowSeparators_) s->Clear();
}

const TSepBand& T2DSeparator::Cell(std::int32_t Column, std::int32_t Row) const {
  ZM_ASSERT(Row >= 0 && Row < rowCount_, "T2DSeparator: row out of range");
  return rowSeparators_[static_cast<std::size_t>(Row)]->Band(Column);
}

TSepBand T2DSeparator::GetCell(std::int32_t Column, std::int32_t Row) const {
  return TrimmedCopy(Cell(Column, Row));
}

}  // namespace zm
