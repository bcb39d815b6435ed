#pragma once
// What a transition filter draws into: an effect controller divides the
// drawing area into a grid of tiles; a tile takes triangles for its cell and
// draws them; the multi-tile takes triangles for the whole area and splits
// them over the grid. Filters never talk to the 3D device themselves.
#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "ZmLib/3DBasics/Dev3DApp2.h"
#include "ZmLib/zmPlaneSeparator.h"

namespace oru {

class TEffController;

// A corner of a filter's triangle: a position in target pixels and the
// coverage 0-255 (the opacity of the slide picture there).
struct TEffVertex {
  float X = 0, Y = 0, C = 0;
  friend bool operator==(const TEffVertex&, const TEffVertex&) = default;
};

using TEffTriangle = std::array<TEffVertex, 3>;
using TEffColors = std::array<std::uint32_t, 3>;  // A8R8G8B8 per corner
using TEffPoints2 = std::array<zm::TPoint2F, 3>;
using TEffPoints3 = std::array<zm::TPoint3F, 3>;

// Modes of TEffTile::Begin.
constexpr std::int32_t emPlain = 0;     // no texture: vertex colours only
constexpr std::int32_t emTextured = 1;  // the slide picture as texture

// The coverage as the alpha of an opaque white: truncated, clamped to
// 0..255, NaN counting as 0.
std::uint32_t CoverageColour(float coverage);

class TEffTile : public zm::TRefObject {
public:
  TEffTile(TEffController* controller, const zm::TRect& rect, const zm::TPoint& cell)
      : Controller(controller), Rect(rect), Cell(cell) {}

  void Dispose() override { zm::TRefObject::Dispose(); }
  // Starts a batch. Shaded: each vertex colour multiplies the picture's
  // colour; clear: only the picture's alpha is multiplied by the vertex alpha.
  virtual void Begin(std::int32_t mode, bool shaded) = 0;
  // Colour white with alpha = coverage.
  virtual void AddTriangle(const TEffTriangle& v) = 0;
  // The vertices' x and y with the given colours, no texture.
  virtual void AddColoredTriangle(const TEffTriangle& v, const TEffColors& colors) = 0;
  // V: source points in the picture (target pixels) with a grey level in C
  // (truncated to a byte); P: where they are drawn. Each vertex is opaque
  // grey of its level.
  virtual void AddShadedTextureTriangle(const TEffTriangle& v, const TEffPoints2& p) = 0;
  virtual void AddColoredPoints(const TEffPoints2& p, const TEffColors& colors) = 0;
  // As AddShadedTextureTriangle, drawn at three 3D positions.
  virtual void AddShadedTriangle(const TEffTriangle& v, const TEffPoints3& p) = 0;
  virtual void End() = 0;

  TEffController* Controller;  // not owned
  zm::TRect Rect;              // the cell, grid lines truncated
  zm::TPoint Cell;             // column, row
};

// A tile that draws nothing: it keeps the box of the triangles that show
// any of the picture (a coverage above 0 at a corner), so that a filter can
// tell which part of the picture its draw reads.
class TEffBoundsTile : public TEffTile {
public:
  TEffBoundsTile() : TEffTile(nullptr, {}, {}) {}
  void Begin(std::int32_t, bool) override {}
  void AddTriangle(const TEffTriangle& v) override;
  void AddColoredTriangle(const TEffTriangle&, const TEffColors&) override {}
  void AddShadedTextureTriangle(const TEffTriangle&, const TEffPoints2&) override {}
  void AddColoredPoints(const TEffPoints2&, const TEffColors&) override {}
  void AddShadedTriangle(const TEffTriangle&, const TEffPoints3&) override {}
  void End() override {}
  // The box in whole pixels, a pixel more all round, cut to Within; false
  // when no triangle showed the picture or one was not finite.
  bool Bounds(const zm::TRect& within, zm::TRect& box) const;

private:
  float l_ = 0, t_ = 0, r_ = 0, b_ = 0;
  bool any_ = false, bad_ = false;
};

class TEffController : public zm::TRefObject {
public:
  // Grids beyond these are refused (the tile table is made at SetGrid).
  static constexpr std::int32_t kMaxGridSide = 4096;
  static constexpr std::int64_t kMaxGridCells = 65536;

  // Frees every tile and the multi-tile.
  void Dispose() override;
  virtual zm::TRef<TEffTile> CreateTile(const zm::TRect& rect, const zm::TPoint& cell) = 0;
  virtual void GetArea(zm::TRect& rect) = 0;

  // Asserts Column < Cols and Row < Rows (and neither below 0); the tile is
  // made on first use.
  TEffTile* GetTileAt(std::int32_t column, std::int32_t row);
  // Frees all tiles (the multi-tile too: it splits at the old lines), copies
  // the grid lines and sizes the tile table. XCuts needs Cols + 1 entries and
  // YCuts Rows + 1, finite and strictly ascending; anything else, and grids
  // above the limits, leaves an empty grid and gives false. 0 x 0 is the
  // empty grid.
  bool SetGrid(std::span<const float> xCuts, std::int32_t cols, std::int32_t rows, std::span<const float> yCuts);
  // The rectangle of the outer grid lines (truncated), empty for an empty grid.
  zm::TRect GetBounds() const;
  // The whole-area tile, made on first use.
  TEffTile* GetMultiTile();

  std::int32_t Cols() const { return cols_; }
  std::int32_t Rows() const { return rows_; }
  std::span<const float> XCuts() const { return xCuts_; }
  std::span<const float> YCuts() const { return yCuts_; }

private:
  void FreeTiles();

  zm::TRef<TEffTile> multiTile_;
  std::vector<float> xCuts_, yCuts_;
  std::int32_t cols_ = 0, rows_ = 0;
  std::vector<zm::TRef<TEffTile>> tiles_;
};

// Takes triangles for the whole area and, at End, hands each cell's pieces
// to that cell's tile as fans. Only textured triangles: the other kinds
// assert "Not Supported Yet".
class TMultiTile : public TEffTile {
public:
  explicit TMultiTile(TEffController* controller);
  void Dispose() override;
  void Begin(std::int32_t mode, bool shaded) override;
  void AddTriangle(const TEffTriangle& v) override;
  void AddColoredTriangle(const TEffTriangle& v, const TEffColors& colors) override;
  void AddShadedTextureTriangle(const TEffTriangle& v, const TEffPoints2& p) override;
  void AddColoredPoints(const TEffPoints2& p, const TEffColors& colors) override;
  void AddShadedTriangle(const TEffTriangle& v, const TEffPoints3& p) override;
  void End() override;

private:
  zm::TRef<zm::T2DSeparator> separator_;  // nil over an empty grid
};

}  // namespace oru
