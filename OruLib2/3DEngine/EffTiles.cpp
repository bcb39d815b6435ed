#include "OruLib2/3DEngine/EffTiles.h"

#include <algorithm>
#include <cmath>

#include "ZmLib/zmMath.h"

namespace oru {

// ---- TEffBoundsTile ----------------------------------------------------------------------------

void TEffBoundsTile::AddTriangle(const TEffTriangle& v) {
  if (!(v[0].C > 0) && !(v[1].C > 0) && !(v[2].C > 0)) return;
  for (const TEffVertex& p : v) {
    if (!std::isfinite(p.X) || !std::isfinite(p.Y)) {
      bad_ = true;
      continue;
    }
    if (!any_) {
      l_ = r_ = p.X;
      t_ = b_ = p.Y;
      any_ = true;
    }
    l_ = std::min(l_, p.X);
    t_ = std::min(t_, p.Y);
    r_ = std::max(r_, p.X);
    b_ = std::max(b_, p.Y);
  }
}

bool TEffBoundsTile::Bounds(const zm::TRect& within, zm::TRect& box) const {
  if (!any_ || bad_) return false;
  const auto hold = [](double v) { return std::int32_t(std::clamp(v, -1e9, 1e9)); };
  box = {std::max(within.Left, hold(std::floor(l_) - 1)), std::max(within.Top, hold(std::floor(t_) - 1)),
         std::min(within.Right, hold(std::ceil(r_) + 1)), std::min(within.Bottom, hold(std::ceil(b_) + 1))};
  return box.Right > box.Left && box.Bottom > box.Top;
}

using namespace zm;

std::uint32_t CoverageColour(float coverage) {
  const float c = std::isnan(coverage) ? 0.0f : std::clamp(coverage, 0.0f, 255.0f);
  return (std::uint32_t(c) << 24) | 0xFFFFFFu;
}

// ---- TEffController ------------------------------------------------------------------------------

void TEffController::Dispose() {
  FreeTiles();
  TRefObject::Dispose();
}

void TEffController::FreeTiles() {
  // Taken out first: a tile's clean-up must not find itself in the table.
  std::vector<TRef<TEffTile>> tiles = std::move(tiles_);
  tiles_.clear();
  TRef<TEffTile> multi = std::move(multiTile_);
  tiles.clear();
  multi = nullptr;
}

TEffTile* TEffController::GetTileAt(std::int32_t column, std::int32_t row) {
  ZM_ASSERT(column >= 0 && column < cols_ && row >= 0 && row < rows_, "TEffController.GetTileAt - Index out of bounds");
  TRef<TEffTile>& tile = tiles_[std::size_t(row) * std::size_t(cols_) + std::size_t(column)];
  if (!tile) {
    const TRect r{TruncInt(xCuts_[std::size_t(column)]), TruncInt(yCuts_[std::size_t(row)]),
                  TruncInt(xCuts_[std::size_t(column) + 1]), TruncInt(yCuts_[std::size_t(row) + 1])};
    tile = CreateTile(r, {column, row});
  }
  return tile.get();
}

bool TEffController::SetGrid(std::span<const float> xCuts, std::int32_t cols, std::int32_t rows,
                             std::span<const float> yCuts) {
  FreeTiles();
  xCuts_.clear();
  yCuts_.clear();
  cols_ = rows_ = 0;
  if (cols == 0 && rows == 0) return true;
  if (cols < 1 || rows < 1 || cols > kMaxGridSide || rows > kMaxGridSide ||
      std::int64_t(cols) * std::int64_t(rows) > kMaxGridCells)
    return false;
  if (xCuts.size() < std::size_t(cols) + 1 || yCuts.size() < std::size_t(rows) + 1) return false;
  const auto ascending = [](std::span<const float> c) {
    for (std::size_t i = 0; i < c.size(); ++i)
      if (!std::isfinite(c[i]) || (i > 0 && !(c[i - 1] < c[i]))) return false;
    return true;
  };
  xCuts = xCuts.first(std::size_t(cols) + 1);
  yCuts = yCuts.first(std::size_t(rows) + 1);
  if (!ascending(xCuts) || !ascending(yCuts)) return false;
  xCuts_.assign(xCuts.begin(), xCuts.end());
  yCuts_.assign(yCuts.begin(), yCuts.end());
  cols_ = cols;
  rows_ = rows;
  tiles_.resize(std::size_t(cols) * std::size_t(rows));
  return true;
}

TRect TEffController::GetBounds() const {
  if (cols_ < 1 || rows_ < 1) return {};
  return {TruncInt(xCuts_.front()), TruncInt(yCuts_.front()), TruncInt(xCuts_.back()), TruncInt(yCuts_.back())};
}

TEffTile* TEffController::GetMultiTile() {
  if (!multiTile_) multiTile_ = MakeRef<TMultiTile>(this);
  return multiTile_.get();
}

// ---- TMultiTile ----------------------------------------------------------------------------------

TMultiTile::TMultiTile(TEffController* controller) : TEffTile(controller, {}, {-1, -1}) {
  ZM_ASSERT(controller, "TMultiTile - Controller not Assigned");
  Rect = controller->GetBounds();
  if (controller->Cols() > 0 && controller->Rows() > 0)
    separator_ =
        MakeRef<T2DSeparator>(controller->XCuts(), controller->Cols(), controller->YCuts(), controller->Rows());
}

void TMultiTile::Dispose() {
  separator_ = nullptr;
  TEffTile::Dispose();
}

void TMultiTile::Begin(std::int32_t, bool) {
  if (separator_) separator_->Clear();
}

void TMultiTile::AddTriangle(const TEffTriangle& v) {
  if (!separator_) return;
  TSepVertex p[3];
  for (int k = 0; k < 3; ++k) {
    // A broken vertex drops its triangle rather than the whole batch.
    if (!std::isfinite(v[k].X) || !std::isfinite(v[k].Y) || !std::isfinite(v[k].C)) return;
    p[k] = {v[k].X, v[k].Y, v[k].C};
  }
  separator_->AddPolygon(p, 3);
}

void TMultiTile::AddColoredTriangle(const TEffTriangle&, const TEffColors&) { ZM_FAIL("Not Supported Yet"); }
void TMultiTile::AddShadedTextureTriangle(const TEffTriangle&, const TEffPoints2&) { ZM_FAIL("Not Supported Yet"); }
void TMultiTile::AddColoredPoints(const TEffPoints2&, const TEffColors&) { ZM_FAIL("Not Supported Yet"); }
void TMultiTile::AddShadedTriangle(const TEffTriangle&, const TEffPoints3&) { ZM_FAIL("Not Supported Yet"); }

void TMultiTile::End() {
  if (!separator_) return;
  TRef<T2DSeparator> sep = separator_;
  // A multi-tile kept past a new grid only reaches the cells that remain.
  const std::int32_t cols = std::min(sep->ColumnCount(), Controller->Cols());
  const std::int32_t rows = std::min(sep->RowCount(), Controller->Rows());
  for (std::int32_t r = 0; r < rows; ++r)
    for (std::int32_t c = 0; c < cols; ++c) {
      const TSepBand& cell = sep->Cell(c, r);
      if (cell.PolyCount == 0) continue;
      TEffTile* tile = Controller->GetTileAt(c, r);
      if (!tile) continue;
      tile->Begin(emTextured, false);
      std::int32_t start = 0;
      for (std::int32_t i = 0; i < cell.PolyCount; ++i) {
        const std::int32_t end = cell.PolyEnds[std::size_t(i)];
        const auto at = [&](std::int32_t k) {
          const TSepVertex& s = cell.Vertices[std::size_t(k)];
          return TEffVertex{s.x, s.y, s.value};
        };
        // A fan: the first vertex with each further pair.
        for (std::int32_t k = start + 2; k < end; ++k) tile->AddTriangle({at(start), at(k - 1), at(k)});
        start = end;
      }
      tile->End();
    }
  sep->Clear();
}

}  // namespace oru
