#pragma once
// Pictures readied at the size they are drawn at. A picture that holds
// still and lies axis-aligned on the surface is resampled once from its mip
// level into a texture of one texel per surface pixel; a frame then reads
// that texture 1:1 instead of filtering the larger level again. Its texels
// are the bilinear samples the device takes from the level at those pixel
// centres, and it is drawn with the same edges, so both ways draw the same
// picture.
#include <cstdint>
#include <string>

#include "ZmLib/3DBasics/Dev3DApp2.h"
#include "ZmLib/Graphics/SysBitmap.h"

namespace oru {

// Where a picture lies on the surface. Device coordinates have pixel centres
// on whole numbers: a surface point lies PixelCentre(Smoothed) further on.
// Edges are held to the device's 1/256 grid, as it snaps them.
struct TScreenPlacement {
  bool Smoothed = false;
  double Left = 0, Top = 0, Right = 0, Bottom = 0;  // device coordinates of the source's edges
  // The texture's pixels: Width x Height from device pixel (X, Y), the
  // pixels the picture covers and one more all round (what smoothed edges
  // show beside it).
  std::int32_t X = 0, Y = 0, Width = 0, Height = 0;
};

// Sides beyond this are drawn from their level as before.
constexpr std::int32_t kMaxScreenLevelSide = 8192;

// Surface points minus this are device coordinates: smoothed pictures are
// drawn half a pixel on (so their edge bands cover half a pixel each side).
inline double PixelCentre(bool smoothed) { return smoothed ? 0.5 : 0.0; }

// The placement of a picture whose source rectangle has its top-left,
// top-right and bottom-left corners at these surface points: false unless it
// is axis-aligned (to a thousandth of a pixel), not mirrored, covers a pixel
// and is at most kMaxScreenLevelSide pixels each way.
bool PlaceOnScreen(const zm::TPoint2F& topLeft, const zm::TPoint2F& topRight, const zm::TPoint2F& bottomLeft,
                   bool smoothed, TScreenPlacement& place);

// True when Source (level texels) drawn at Place is read 1:1 already: whole
// texels, one per pixel, texel centres on pixel centres.
bool ReadsOneToOne(const zm::TRectF& source, const TScreenPlacement& place);

// "ScreenTexID: <Level>:<S or P>:" the four edges in 1/256 pixels and the
// source rectangle's four floats exactly (hexadecimal bits).
std::string ScreenLevelKey(std::int32_t level, const TScreenPlacement& place, const zm::TRectF& source);

// Source of Level (texels, a part of it) as drawn at Place with bilinear
// filtering, edges clamped: an "A8R8G8B8" bitmap of the placement's size
// whose texel (i, j) is the sample at the centre of device pixel (X + i,
// Y + j). Nil for an unreadable level or a bad size.
zm::TRef<zm::TSysBitmap> MakeScreenLevel(zm::TBitmap* level, const zm::TRectF& source, const TScreenPlacement& place);

}  // namespace oru
