#pragma once
// The shape transitions: the incoming slide shows through a growing circle,
// diamond, rectangle, pair of bands or diagonal band with a soft edge. Each
// frame the filter works out the radius of its shape and emits triangles
// whose corners carry a coverage 0-255; the tile draws them textured with the
// incoming slide, the coverage as opacity. The soft edge is 14 bands along
// the ease table.
#include <cstdint>

#include "OruLib2/3DEngine/DrawFilter.h"
#include "OruLib2/3DEngine/EffTiles.h"

namespace oru {

class TCommonFilter : public TDrawFilter {
public:
  // Centre fractions that are not finite count as 0.5; the rest are kept
  // within +-100 slide sizes, where float positions are still exact enough.
  TCommonFilter(float centerX, float centerY);

  void Init(const zm::TRect& rect, float edgeWidth, float duration) override;
  void Draw(TCustomD3DEffecter* controller) override;
  // Draws the current progress into the controller's whole-area tile;
  // nothing for a nil controller or an empty slide area.
  void DrawShape(TEffController* controller);
  // The same into a given tile, as one textured batch.
  void DrawInto(TEffTile* tile);
  // The box of the triangles that show the picture.
  bool ReadBounds(zm::TRect& reads) override;

  // Where the shape, soft edge included, covers the whole slide area. This
  // one: the farthest corner plus the soft edge.
  virtual void ComputeMaxRadius();
  // Emits the ring between the two radii, the outer edge with OuterCoverage
  // and the inner one with InnerCoverage. Index is -1 for the solid core and
  // counts the soft bands from 0.
  virtual void DrawBand(int index, float outerCoverage, float innerCoverage, float outerRadius,
                        float innerRadius) = 0;
  // The solid core up to B and the soft bands from B to A. Soft bands under
  // 2 pixels are merged into the next one, except the last.
  void DrawRings(float a, float b);

  float CenterX = 0.5f, CenterY = 0.5f;  // fractions of the slide area
  zm::TFloatPoint Center;                // in pixels, set by Init
  float MaxRadius = 0;
  TEffTile* Tile = nullptr;  // the tile being drawn into, during DrawShape only

protected:
  // Maps the corners from Rect onto TargetRect and hands the triangle on.
  void Emit(TEffVertex a, TEffVertex b, TEffVertex c);
  // The quadrilateral outer1, outer2, inner2, inner1 as two triangles; the
  // second is left out when the inner edge has shrunk to a point.
  void EmitQuad(zm::TFloatPoint outer1, zm::TFloatPoint outer2, zm::TFloatPoint inner2, zm::TFloatPoint inner1,
                float outerCoverage, float innerCoverage, bool innerIsPoint);

  // Distances from Center to the slide area along x and y, 0 inside.
  float OutsideX() const;
  float OutsideY() const;
};

class TCircleFilter : public TCommonFilter {
public:
  TCircleFilter(float centerX, float centerY, bool reverse);
  void ComputeMaxRadius() override;
  void DrawBand(int index, float outerCoverage, float innerCoverage, float outerRadius,
                float innerRadius) override;

  float NearDist = 0;  // from the centre to the slide area, 0 inside
  float FarDist = 0;   // to the farthest corner
  std::int32_t Segments = 128;
};

// Two vertical bands moving apart from the centre.
class THLines : public TCommonFilter {
public:
  using TCommonFilter::TCommonFilter;
  void ComputeMaxRadius() override;
  void DrawBand(int index, float outerCoverage, float innerCoverage, float outerRadius,
                float innerRadius) override;
};

// Two horizontal bands moving apart from the centre.
class TVLines : public TCommonFilter {
public:
  using TCommonFilter::TCommonFilter;
  void ComputeMaxRadius() override;
  void DrawBand(int index, float outerCoverage, float innerCoverage, float outerRadius,
                float innerRadius) override;
};

// A 45-degree band sweeping from a corner (groups other than 8), or two
// bands opening from the middle diagonal (group 8). Directions 3 and 4 run
// along the other diagonal.
class TDiagLines : public TCommonFilter {
public:
  TDiagLines(std::int32_t group, std::int32_t direction);
  void ComputeMaxRadius() override;
  void DrawBand(int index, float outerCoverage, float innerCoverage, float outerRadius,
                float innerRadius) override;

  std::uint8_t Mode = 0;  // 0: the +r band, 2: the -r band, 1: both
  bool Swap = false;
  float TopOffset = 0, BottomOffset = 0;  // from Rect.left, at r = 0
};

class TRhombFilter : public TCommonFilter {
public:
  using TCommonFilter::TCommonFilter;
  void ComputeMaxRadius() override;
  void DrawBand(int index, float outerCoverage, float innerCoverage, float outerRadius,
                float innerRadius) override;

  float Offset = 0;  // L1 distance from the centre to the slide area
};

class TSquareFilter : public TCommonFilter {
public:
  using TCommonFilter::TCommonFilter;
  void ComputeMaxRadius() override;
  void DrawBand(int index, float outerCoverage, float innerCoverage, float outerRadius,
                float innerRadius) override;

  float Aspect = 1;  // height / width
  float Offset = 0;  // distance to the slide area in the metric max(|dx|, |dy| / Aspect)
};

// Installs the makers of the shape classes in the filter factory; the
// finalisation puts the previous makers back.
void InitShapeFilters();
void FiniShapeFilters();

}  // namespace oru
