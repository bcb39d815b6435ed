#pragma once
// The transitions that move the slide pictures in depth: the overturn turns
// the slide over like a card (the outgoing picture on its front, the
// incoming one on its back), the two-slides transition moves both pictures
// past each other, each receding and tilting, with a fading reflection on a
// floor for sideways moves. Both draw the picture they are given by the
// drawer at 3D positions (x, y in target pixels, z in pixels away from the
// viewer); the screen's perspective view does the projection. They fill the
// area black themselves.
#include <array>
#include <cstdint>

#include "OruLib2/3DEngine/DrawFilter.h"
#include "OruLib2/3DEngine/EffTiles.h"

namespace oru {

// Fills every tile of the controller's grid with opaque black.
void FillTilesBlack(TEffController* controller);

// The part of a tile that shows the picture: the tile's rectangle within
// Target; false when nothing is left.
bool TileSourceRect(const TEffTile& tile, const zm::TRect& target, zm::TRect& source);

class TOverturnEffect : public TDrawFilter {
public:
  // Directions 1-4 turn behind the screen about the vertical (1, 2) or
  // horizontal (3, 4) centre line; 5-8 spin about it. Other codes count as
  // 1. A depth that is not finite counts as 0.5; it is kept within +-4.
  TOverturnEffect(std::int32_t direction, bool nonLinear, float depth);

  void Draw(TCustomD3DEffecter* controller) override;
  void DrawTo(TEffController* controller);
  TFilterPassMode PassMode() const override { return TFilterPassMode::Overturn; }

  // The turning angle of the current progress, 0 .. pi.
  float TurnAngle() const;
  // Q0 .. Q3 of the card over Bounds at the current progress.
  std::array<zm::TPoint3F, 4> CardCorners(const zm::TRect& bounds) const;
  // Where source point (X, Y) lands on the card of Corners over Bounds.
  zm::TPoint3F PlaceOnCard(const std::array<zm::TPoint3F, 4>& corners, const zm::TRect& bounds, float x,
                           float y) const;
  // The shading of the card: 255 facing the viewer, 100 edge-on.
  std::uint8_t GreyLevel() const;
  bool VerticalAxis() const { return Direction == 1 || Direction == 2 || Direction == 5 || Direction == 6; }
  bool Spins() const { return Direction > 4; }

  TEffTile* Tile = nullptr;  // the tile being drawn, during Draw only
  std::int32_t Direction = 1;
  bool NonLinear = false;
  float Depth = 0.5f;
};

class TTwoSlidesEffect : public TDrawFilter {
public:
  // Directions 1-4 (others count as 1). Values that are not finite take
  // their defaults (depth 4, distance 1, 60 degrees); the depth is kept
  // within 0 .. 64, the distance within +-16 and the angle within
  // 0 .. 180 degrees, so that no part swings through the viewer.
  TTwoSlidesEffect(std::int32_t direction, float depth, float distance, float angleDegrees);

  // Called twice a frame, once with each slide; the first call of a pair
  // fills the area black.
  void Draw(TCustomD3DEffecter* controller) override;
  void DrawTo(TEffController* controller);
  // The drawer resets after each frame: the next call starts a pair, even
  // when a call of the last frame went missing.
  void Reset(float value) override;
  TFilterPassMode PassMode() const override { return TFilterPassMode::TwoSlides; }

  // Where source point (X, Y) is drawn for a slide at phase P with the
  // signed size (W', H'), within Bounds.
  zm::TPoint3F Place(const zm::TRect& bounds, float p, float w, float h, float x, float y) const;

  TEffTile* Tile = nullptr;  // the tile being drawn, during Draw only
  std::int32_t Direction = 1;
  float Depth = 4.0f;
  float Distance = 1.0f;
  float Angle = 0;  // radians
  std::int32_t DrawCount = 0;
};

// Installs the makers of the overturn and two-slides classes in the filter
// factory; the finalisation puts the previous makers back.
void InitPerspectiveFilters();
void FiniPerspectiveFilters();

}  // namespace oru
