#include "ZmLib/Graphics/SysAffineDrawer.h"

#include <algorithm>
#include <cmath>

#include "ZmLib/Graphics/zmAffineDraw.h"

namespace zm {

namespace {

constexpr double kIntLimit = 1073741824.0;  // 2^30

std::int32_t SafeFloor(double v) { return std::int32_t(std::clamp(std::floor(v), -kIntLimit, kIntLimit)); }
std::int32_t SafeCeil(double v) { return std::int32_t(std::clamp(std::ceil(v), -kIntLimit, kIntLimit)); }

struct TDPoint {
  double X, Y;
};

// A quadrilateral in the destination, the image of a source rectangle.
struct TQuad {
  TDPoint P[4];
};

// Lowest and highest x of the edges' parts inside the band y0..y1; false
// when no edge reaches it. An edge along the band contributes its whole x
// range. With y0 == y1 it is where the line at y0 enters and leaves the
// (convex) quadrilateral.
bool BandRange(const TQuad& q, double y0, double y1, double& lo, double& hi) {
  bool found = false;
  lo = 1e300;
  hi = -1e300;
  for (int i = 0; i < 4; ++i) {
    const TDPoint& a = q.P[i];
    const TDPoint& b = q.P[(i + 1) % 4];
    const double ymin = std::min(a.Y, b.Y), ymax = std::max(a.Y, b.Y);
    if (ymax < y0 || ymin > y1) continue;
    double xa, xb;
    if (a.Y == b.Y) {
      xa = a.X;
      xb = b.X;
    } else {
      const double ya = std::max(ymin, y0), yb = std::min(ymax, y1);
      xa = a.X + (ya - a.Y) * (b.X - a.X) / (b.Y - a.Y);
      xb = a.X + (yb - a.Y) * (b.X - a.X) / (b.Y - a.Y);
    }
    lo = std::min({lo, xa, xb});
    hi = std::max({hi, xa, xb});
    found = true;
  }
  return found;
}

}  // namespace

TAffineDrawer::TAffineDrawer(std::int32_t cellWidth, std::int32_t cellHeight)
    : cellWidth_(cellWidth), cellHeight_(cellHeight), invCellWidth_(cellWidth > 0 ? 1.0L / cellWidth : 0) {
  ZM_ASSERT(cellWidth >= 1 && cellHeight >= 1, "TAffineDrawer.Create: Cell Size below 1");
}

void TAffineDrawer::Dispose() {
  ClearCells();
  SpanProc1 = nullptr;
  SpanProc2 = nullptr;
  SpanProc3 = nullptr;
  TRefObject::Dispose();
}

bool TAffineDrawer::Prepare() { return false; }

void TAffineDrawer::SetSource(TSysBitmap*, bool) {}

void TAffineDrawer::SetSourceSize(std::int32_t w, std::int32_t h) {
  width_ = std::max(w, 0);
  height_ = std::max(h, 0);
  SourceRect = {0, 0, width_, height_};
  ready_ = false;
}

void TAffineDrawer::SetOpacity(std::int32_t opacity) {
  opacity_ = std::clamp(opacity, 0, 255);
  ready_ = false;
}

void TAffineDrawer::ClearCells() {
  cellRows_.clear();
  firstCellRow_ = 0;
  ready_ = false;
}

void TAffineDrawer::SetTransform(const TRect& clipRect, const TDrawerMatrix& matrix) {
  ZM_ASSERT(clipRect.Left >= 0 && clipRect.Top >= 0, "TAffineDrawer.SetTransform: Negative ClipRect");
  ClearCells();
  clipRect_ = clipRect;
  if (!(matrix == matrix_) || !haveInverse_) {
    matrix_ = matrix;
    haveInverse_ = false;
    if (!InvertAffineMatrix(matrix.M, inverse_)) return;
    stepX_[0] = FloatToFixed16(inverse_[2]);
    stepX_[1] = FloatToFixed16(inverse_[3]);
    stepY_[0] = FloatToFixed16(inverse_[4]);
    stepY_[1] = FloatToFixed16(inverse_[5]);
    haveInverse_ = true;
  }
  if (!haveInverse_ || !Prepare()) return;

  const float* m = matrix_.M;
  auto map = [m](double x, double y) {
    return TDPoint{m[0] + m[2] * x + m[4] * y, m[1] + m[3] * x + m[5] * y};
  };
  auto quadOf = [&](double l, double t, double r, double b) {
    return TQuad{{map(l, t), map(r, t), map(r, b), map(l, b)}};
  };
  const TQuad outer = quadOf(SourceRect.Left, SourceRect.Top, SourceRect.Right, SourceRect.Bottom);
  double minX = 1e300, minY = 1e300, maxX = -1e300, maxY = -1e300;
  for (const TDPoint& p : outer.P) {
    minX = std::min(minX, p.X);
    maxX = std::max(maxX, p.X);
    minY = std::min(minY, p.Y);
    maxY = std::max(maxY, p.Y);
  }
  const TRect box{std::max(SafeFloor(minX), clipRect.Left), std::max(SafeFloor(minY), clipRect.Top),
                  std::min(SafeCeil(maxX), clipRect.Right), std::min(SafeCeil(maxY), clipRect.Bottom)};
  if (box.Left >= box.Right || box.Top >= box.Bottom) return;
  const std::int64_t cw = cellWidth_, ch = cellHeight_;
  // No destination is that large: a transform asking for it draws nothing.
  const std::int64_t boxW = std::int64_t(box.Right) - box.Left, boxH = std::int64_t(box.Bottom) - box.Top;
  if (boxW * boxH > kMaxBitmapBytes / 3 || (boxW / cw + 2) * (boxH / ch + 2) > kMaxDrawCells) return;

  firstCellRow_ = std::int32_t(box.Top / ch);
  const std::int32_t lastRow = std::int32_t((box.Bottom - 1) / ch);
  cellRows_.resize(std::size_t(lastRow - firstCellRow_ + 1));
  for (std::int32_t r = firstCellRow_; r <= lastRow; ++r) {
    TDrawCellRow& row = cellRows_[std::size_t(r - firstCellRow_)];
    double lo, hi;
    if (!BandRange(outer, double(r * ch), double((r + 1) * ch), lo, hi)) continue;
    lo = std::max(lo, double(clipRect.Left));
    hi = std::min(hi, double(clipRect.Right));
    if (!(lo < hi)) continue;
    const std::int32_t c0 = SafeFloor(double(lo * invCellWidth_));
    const std::int32_t c1 = SafeCeil(double(hi * invCellWidth_));
    row.FirstColumn = c0;
    for (std::int32_t c = c0; c < c1; ++c) {
      TDrawCell cell;
      cell.Rect = {std::int32_t(std::max<std::int64_t>(c * cw, clipRect.Left)),
                   std::int32_t(std::max<std::int64_t>(r * ch, clipRect.Top)),
                   std::int32_t(std::min<std::int64_t>((c + 1) * cw, clipRect.Right)),
                   std::int32_t(std::min<std::int64_t>((r + 1) * ch, clipRect.Bottom))};
      if (cell.Rect.Left < cell.Rect.Right && cell.Rect.Top < cell.Rect.Bottom) {
        const double px = cell.Rect.Left + 0.5, py = cell.Rect.Top + 0.5;
        const double sx = inverse_[0] + inverse_[2] * px + inverse_[4] * py - 0.5;
        const double sy = inverse_[1] + inverse_[3] * px + inverse_[5] * py - 0.5;
        cell.SX = float(sx);
        cell.SY = float(sy);
        cell.FX = FloatToFixed16(sx);
        cell.FY = FloatToFixed16(sy);
        cell.Kind = ckEdge;
      }
      row.Cells.push_back(cell);
    }
  }
  if (InnerRect.Left < InnerRect.Right && InnerRect.Top < InnerRect.Bottom) MarkInner(InnerRect, ckInner);
  if (OpaqueRect.Left < OpaqueRect.Right && OpaqueRect.Top < OpaqueRect.Bottom) MarkInner(OpaqueRect, ckOpaque);
  ready_ = true;
}

// Cells whose every pixel samples inside Area (sample positions) become
// Kind. A little is kept back from Area's sides, so that the rounding of
// the stepped positions can never carry a tap outside the source.
void TAffineDrawer::MarkInner(const TRect& area, std::uint8_t kind) {
  constexpr double kKeep = 1.0 / 64;
  const float* m = matrix_.M;
  auto map = [m](double x, double y) {
    return TDPoint{m[0] + m[2] * x + m[4] * y, m[1] + m[3] * x + m[5] * y};
  };
  // Sample position s is the source point s + 0.5.
  const double l = area.Left + 0.5 + kKeep, t = area.Top + 0.5 + kKeep;
  const double r = area.Right + 0.5 - kKeep, b = area.Bottom + 0.5 - kKeep;
  const TQuad q{{map(l, t), map(r, t), map(r, b), map(l, b)}};
  const double ch = cellHeight_;
  for (std::size_t i = 0; i < cellRows_.size(); ++i) {
    TDrawCellRow& row = cellRows_[i];
    if (row.Cells.empty()) continue;
    const std::int32_t rowIndex = firstCellRow_ + std::int32_t(i);
    double lo0, hi0, lo1, hi1;
    // Only a band that the area covers over its whole height has inner cells.
    const double y0 = rowIndex * ch, y1 = (rowIndex + 1.0) * ch;
    const bool top = BandRange(q, y0, y0, lo0, hi0);
    const bool bottom = BandRange(q, y1, y1, lo1, hi1);
    if (!top || !bottom) continue;
    if (!(lo0 <= hi0) || !(lo1 <= hi1)) ZM_FAIL("INTERNAL ERROR: invalid flags combination");
    const double lo = std::max({lo0, lo1, double(clipRect_.Left)});
    const double hi = std::min({hi0, hi1, double(clipRect_.Right)});
    if (!(lo < hi)) continue;  // a sheared band: no column is covered all the way down
    const std::int32_t c0 = SafeCeil(double(lo * invCellWidth_));
    const std::int32_t c1 = SafeFloor(double(hi * invCellWidth_));
    for (std::int32_t c = std::max(c0, row.FirstColumn); c < c1; ++c) {
      const std::size_t k = std::size_t(c - row.FirstColumn);
      if (k >= row.Cells.size()) break;
      if (row.Cells[k].Kind != ckOutside) row.Cells[k].Kind = kind;
    }
  }
}

void TAffineDrawer::Draw(TSysBitmap* destination) {
  ZM_ASSERT(destination && destination->BytesPerPixel() == 3, "TAffineDrawer.Draw: Destination must be 24-bit");
  ZM_ASSERT(destination->Width() >= clipRect_.Right && destination->Height() >= clipRect_.Bottom,
            "TAffineDrawer.Draw: Destination smaller than ClipRect");
  if (!ready_) return;
  for (const TDrawCellRow& row : cellRows_)
    for (const TDrawCell& cell : row.Cells) {
      switch (cell.Kind) {
        case ckEdge:
          if (SpanProc1) SpanProc1(cell, destination);
          break;
        case ckInner:
          if (SpanProc2) SpanProc2(cell, destination);
          break;
        case ckOpaque:
          if (SpanProc3) SpanProc3(cell, destination);
          break;
        default:
          break;
      }
    }
}

// ---- TImageDrawer -----------------------------------------------------------------------

void TImageDrawer::Dispose() {
  source_ = nullptr;
  TAffineDrawer::Dispose();
}

void TImageDrawer::SetSource(TSysBitmap* bitmap, bool owned) {
  if (bitmap) {
    const TByteString& name = bitmap->PixelFormat()->Name;
    ZM_ASSERT(name == TByteString(PF_R8G8B8) || name == TByteString(PF_A8R8G8B8), "Unsupported PixelFormat");
  }
  source_ = owned ? TRef<TSysBitmap>::Adopt(bitmap) : TRef<TSysBitmap>(bitmap);
  ownsSource_ = owned;
  SetSourceSize(bitmap ? bitmap->Width() : 0, bitmap ? bitmap->Height() : 0);
  Prepare();
}

}  // namespace zm
