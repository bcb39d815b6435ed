#pragma once
// The hour-hand transitions. The broom sweeps a straight edge across the
// slide about a pivot just outside one side or corner; the clock turns a hand
// once about the centre. Both generators emit triangles whose corners carry a
// value 0-255 (255: the outgoing slide, 0: the incoming one); the effect
// inverts them into the incoming slide's coverage and hands them to the
// whole-area tile, which clips them to the grid.
#include <array>
#include <cstdint>
#include <functional>

#include "OruLib2/3DEngine/DrawFilter.h"
#include "OruLib2/3DEngine/EffTiles.h"

namespace oru {

// The slide area as the generators take it.
struct TSweepArea {
  float Top = 0, Height = 0, Left = 0, Width = 0;
};

// Receives one triangle; C of each corner is the generator's value.
using TSweepEmit = std::function<void(const TEffVertex& a, const TEffVertex& b, const TEffVertex& c)>;

// 256 steps of the quadratic ease: (i * i) shr 7 for i < 128, mirrored above.
using TSweepRamp = std::array<float, 256>;
const TSweepRamp& BroomRamp();
const TSweepRamp& ArrowRamp();  // the same table

// ---- Broom ---------------------------------------------------------------------------------------

// A hand pivoting about a point Offset outside a side or corner of the area.
// Angles: 0 up, pi/2 right, pi down, 3pi/2 left.
class TBroom : public zm::TRefObject {
public:
  void Dispose() override {
    Emit = nullptr;
    zm::TRefObject::Dispose();
  }
  // Emits the fan of the whole turn for hand angle Phi: below Phi value 0,
  // then the soft edge, then 255. Nothing for a Phi that is not a number.
  void Sweep(float phi);

  float Top = 0, Height = 0, Left = 0, Width = 0;
  float PivotX = 0, PivotY = 0;
  float EdgeAngle = 0;  // angular width of the soft edge
  float CurrentAngle = 0;
  float StartAngle = 0, EndAngle = 0;
  float Offset = 0;  // pivot distance from the area
  TSweepEmit Emit;
  // The down broom works on [pi, 3pi): its area straddles angle 0. Kept per
  // broom, so that making another broom never changes this one's sweep.
  bool WrapAngles = false;

protected:
  // Sizes below 0 count as 0; a softness or offset that is negative or not a
  // number counts as 0. The offset is kept within twice the area's width +
  // height (farther out the area spans too few of the sweep's samples to
  // show a hand at all), the softness within four times.
  TBroom(const TSweepArea& area, float edgeWidth, float offset);
  float EdgeWidth = 0;
};

class TBroomUp : public TBroom {
public:
  TBroomUp(const TSweepArea& area, float edgeWidth, float offset);
};
class TBroomRight : public TBroom {
public:
  TBroomRight(const TSweepArea& area, float edgeWidth, float offset);
};
class TBroomDown : public TBroom {
public:
  TBroomDown(const TSweepArea& area, float edgeWidth, float offset);
};
class TBroomLeft : public TBroom {
public:
  TBroomLeft(const TSweepArea& area, float edgeWidth, float offset);
};
class TBroomUpRight : public TBroom {
public:
  TBroomUpRight(const TSweepArea& area, float edgeWidth, float offset);
};
class TBroomDownRight : public TBroom {
public:
  TBroomDownRight(const TSweepArea& area, float edgeWidth, float offset);
};
class TBroomDownLeft : public TBroom {
public:
  TBroomDownLeft(const TSweepArea& area, float edgeWidth, float offset);
};
class TBroomUpLeft : public TBroom {
public:
  TBroomUpLeft(const TSweepArea& area, float edgeWidth, float offset);
};

// The broom of direction 1-8 (up, right, down, left, up-right, down-right,
// down-left, up-left); up for any other code.
zm::TRef<TBroom> MakeBroom(std::int32_t direction, const TSweepArea& area, float edgeWidth, float offset);

// Shared by the two effects: hands generator triangles to a tile as coverage.
class TSweepEffect : public TDrawFilter {
public:
  void Dispose() override {
    Tile = nullptr;
    TDrawFilter::Dispose();
  }
  void Draw(TCustomD3DEffecter* controller) override;
  // Draws the current progress into Tile as one textured batch; nothing for
  // a nil tile or an empty area.
  void DrawInto(TEffTile* tile);
  // The box of the triangles that show the picture.
  bool ReadBounds(zm::TRect& reads) override;

  TEffTile* Tile = nullptr;  // the tile being drawn into, during DrawInto only

protected:
  virtual void Sweep() = 0;
  // Coverage 255 - value, Rect mapped onto TargetRect.
  void EmitCoverage(TEffVertex a, TEffVertex b, TEffVertex c);
  TSweepArea Area() const;
  // The progress as a fraction of the transition, within [0, 1].
  float Fraction() const;
  // The whole area at full coverage (the end picture, drawn exactly).
  void EmitWholeArea();
  // Whether the area or edge changed since the last call (the generator is
  // made again then); true on the first.
  bool Stale();

private:
  zm::TRect MadeFor;
  float MadeEdge = -1;
};

class TBroomEffect : public TSweepEffect {
public:
  // Code 1-16: above 8, reversed and 8 less. Codes outside count as 1.
  // Spread: the pivot's distance from the area in pixels.
  TBroomEffect(std::int32_t code, float spread);
  void Dispose() override;

  // Bands of rows with the swept part (the picture whole) and the part not
  // yet reached (none of it), a few pixels inside the true edges; false at
  // the very ends and for an empty area.
  bool DirectBands(std::vector<TDirectBand>& bands) override;

  zm::TRef<TBroom> Broom;  // made on the first Draw
  float Spread = 0;
  std::int32_t Direction = 1;
  float BaseAngle = 0, AngleRange = 0;

protected:
  void Sweep() override;

private:
  void MakeBroomIfStale();
};

// ---- Clock ---------------------------------------------------------------------------------------

// A hand turning once, clockwise from 12 o'clock, about (CenterX, CenterY),
// with soft bands of width EdgeWidth along the hand and the 12 o'clock line.
class TArrow : public zm::TRefObject {
public:
  // A width that is 0, negative or not a number is 0.001 (a hard edge); a
  // pivot that is not a number is the area's centre.
  TArrow(const TSweepArea& area, float centerX, float centerY, float edgeWidth);
  void Dispose() override {
    Emit = nullptr;
    zm::TRefObject::Dispose();
  }
  // Emits the picture for hand angle Phi, kept within [0, 2pi]; a Phi that is
  // not a number emits nothing.
  void Sweep(float phi);

  float Top = 0, Height = 0, Left = 0, Width = 0;
  float CenterX = 0, CenterY = 0;
  float EdgeWidth = 0.001f;
  float CurrentAngle = 0;
  float TanAngle = 0;
  float BandRightX = 0, BandLeftX = 0;
  TSweepEmit Emit;
};

class TClockEffect : public TSweepEffect {
public:
  // Centre fractions that are not finite count as 0.5.
  TClockEffect(float centerX, float centerY, bool mirror);
  void Dispose() override;

  zm::TRef<TArrow> Arrow;  // made on the first Draw
  float CenterX = 0.5f, CenterY = 0.5f;
  bool Mirror = false;

protected:
  void Sweep() override;
};

// Installs the clock and broom makers in the filter factory; the
// finalisation puts the previous makers back.
void InitBroomFilters();
void FiniBroomFilters();

}  // namespace oru
