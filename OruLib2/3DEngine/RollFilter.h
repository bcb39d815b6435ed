#pragma once
// The roll transition: the slide rolls up like a sheet of paper (or into a
// tube of three quarters of a turn) moving straight or diagonally across the
// area. The roller cuts the flat sheet into strips across the roll
// direction, finer inside the curl, and maps every vertex onto the rolled
// sheet; two plane separators split the strips over the controller's tiles,
// one for the front of the sheet and one for its back.
#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "OruLib2/3DEngine/DrawFilter.h"
#include "OruLib2/3DEngine/EffTiles.h"
#include "ZmLib/zmPlaneSeparator.h"

namespace oru {

// A strip triangle of the flat sheet: area pixels with the shade in Value.
using TRollTriangle = std::array<zm::TSepVertex, 3>;

// A point of the sheet where it is drawn (P), where it is in the picture
// (X, Y) and its shade.
struct TSheetPoint {
  zm::TPoint3F P;
  float X = 0, Y = 0, C = 0;
};

class TRoller3 : public zm::TRefObject {
public:
  static constexpr float kTubeAngle = 4.712389f;  // three quarters of a turn
  static constexpr float kFlatStep = 50;          // strip length outside the curl

  // Back: the strip shows the back of the sheet.
  using TEmitProc = std::function<void(const TRollTriangle& tri, bool back)>;

  // Kind 1-8 (others count as 1) over Area; a Volume that is not a positive
  // finite number turns the volume off (it would divide by zero).
  TRoller3(std::int32_t kind, float volume, bool useVolume, const zm::TRect& area);

  // Stores the roll line and generates the sheet through Emit.
  void SetPosition(float position);
  // Where a point of the flat sheet lands: x, y and the depth (towards the
  // viewer is negative).
  zm::TPoint3F Map(float x, float y) const;
  // The roll line's range: the sheet wholly rolled away, then wholly flat.
  void GetRange(float& start, float& end) const;
  // The angle into the curl from which the back faces the viewer, as the
  // last generation found it.
  double SplitAngle() const { return splitAngle_; }
  bool Diagonal() const { return Dir.X != 0 && Dir.Y != 0; }
  // Without volume: whether the triangle (or polygon) of mapped points lies
  // wholly under the back of the sheet at the current position, the back
  // being drawn last. Conservative: false when unsure.
  bool HiddenByBack(const zm::TPoint3F* points, std::int32_t count) const;

  zm::TFloatPoint Dir;  // unit direction of the roll
  float Position = 0;
  float NearX = 0, NearY = 0;
  float Width = 0, Height = 0;
  float FarX = 0, FarY = 0;
  float WidthMark = 0, HeightMark = 0, DiagonalLine = 0;
  float AxisSign = 0;
  float Radius = 2;
  bool UseVolume = false;
  float Volume = 0;
  float ArcAngle = 3.14159265f;
  float ShadeMax = 255, ShadeMin = 50;
  std::int32_t ArcStep = 3;
  TEmitProc Emit;

private:
  void GenerateStraight();
  void GenerateDiagonal();
  // The split angle for the roll axis B above the sheet and Y from the
  // middle of the area along the roll.
  double SplitFor(double b, double y) const;
  double ShadeOf(double theta) const;
  void EmitStrip(const zm::TSepVertex& p, const zm::TSepVertex& q, const zm::TSepVertex& v,
                 const zm::TSepVertex& w, bool firstOrder, bool back);
  zm::TPoint3F MapStraight(double x, double y) const;
  zm::TPoint3F MapDiagonal(double x, double y) const;

  double splitAngle_ = 1.5707963267948966;
};

// Style 15: diagonal rolls; 14: straight. Direction 1-8, 5-8 running the
// roll of 1-4's partner backwards. Anything else counts as style 14 or
// direction 1.
class TRollEffect2 : public TDrawFilter {
public:
  // Radii are kept within 2 .. this.
  static constexpr std::int32_t kMaxRadius = 1 << 20;
  // Areas with a side beyond this draw nothing (the strips would not end).
  static constexpr std::int32_t kMaxAreaSide = 1 << 16;

  TRollEffect2(std::int32_t style, std::int32_t direction);
  void Dispose() override;
  void Draw(TCustomD3DEffecter* controller) override;
  // Draws the current progress through any controller; nothing for nil or
  // an empty area. The roller and separators follow the controller's area
  // and grid when they change. With depth, what turns behind the slide's
  // plane is left out: the outgoing slide hides it.
  void DrawTo(TEffController* controller);
  // A straight roll without depth shows its slide whole on the flat part of
  // the sheet that the curl and the back leave open: one band, the rest of
  // the area left to the general way. The picture is read only there.
  bool DirectBands(std::vector<TDirectBand>& bands) override;

  // The roller kind that Style and Direction select.
  std::int32_t RollerKind() const;
  // ArcStep for a radius: a tenth of it, at least 3; 8 from 100 on.
  static std::int32_t ArcStepFor(std::int32_t radius);

  std::int32_t Style = 14;
  std::int32_t Direction = 1;
  zm::TRef<TRoller3> Roller;
  zm::TRef<zm::T2DSeparator> PartSeparators[2];  // 0: the back, 1: the front
  bool Tube = false;
  std::int32_t Radius = 2;
  bool UseColor = false;
  std::uint8_t Color[3] = {0, 0, 0};  // red, green, blue
  bool UseVolume = false;
  float Volume = 0;
  float RangeStart = 0, RangeEnd = 0;
  TEffController* Controller = nullptr;  // during Draw only

private:
  // Where the roll line is at the current progress.
  float CurrentPosition() const;
  bool Prepare(TEffController* controller, const zm::TRect& area);
  void DrawPart(TEffController* controller, std::int32_t part);
  void EmitPiece(TEffTile* tile, const TSheetPoint& a, const TSheetPoint& b, const TSheetPoint& c, bool coloured,
                 bool deep);

  // What the roller and separators were made for: remade when it changes.
  zm::TRect madeArea_;
  std::vector<float> madeX_, madeY_;
  std::int32_t firstCol_ = 0, firstRow_ = 0;
};

void InitRollFilters();
void FiniRollFilters();

}  // namespace oru
