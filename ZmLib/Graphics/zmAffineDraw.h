#pragma once
// Drawing a 24- or 32-bit bitmap onto a 24-bit bitmap through an affine
// transform (rotation, scale, shear, translation) on the processor, with a
// global opacity, clipped to a rectangle, by nearest-neighbour or bilinear
// sampling. The work is split into an affine frame (the transformed source
// quadrilateral, its edges and the rows it covers) and span fillers that
// walk the source in 16.16 fixed point.
//
// Pixels are taken at their centres; rectangles are right and bottom
// exclusive. Source positions are 16.16 values held in 64 bits, so large
// sources and extreme transforms cannot overflow.
#include <cstdint>

#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/zmRectUtils.h"

namespace zm {

// One side of the frame, kept from its upper end (the first point when both
// lie on one row, the slope then 0). Left, Top, Right and Bottom are Floor
// of the smaller and Ceil of the larger coordinates.
struct TAffineEdge {
  float X = 0, Y = 0;
  float Slope = 0;  // dx/dy
  std::int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
};

struct TAffineFrame {
  std::int32_t Width = 0, Height = 0;  // the source size
  // x' = M[0] + M[2] u + M[4] v, y' = M[1] + M[3] u + M[5] v, and the inverse.
  float Matrix[6] = {};
  float Inverse[6] = {};
  // The mapped corners of the source: (0, 0), (W, 0), (W, H), (0, H).
  TFloatPoint Corners[4];
  TAffineEdge Edges[4];
  TRect Bounds;  // the smallest lefts and tops, the largest rights and bottoms
};

// The frame of a W x H source whose origin lands on Origin, the end of its
// x axis (W, 0) on XEnd and the end of its y axis (0, H) on YEnd. False for
// a frame that cannot be inverted (the three points on one line, an empty
// source, or coordinates that are not finite).
bool InitAffineFrame(TAffineFrame& frame, std::int32_t w, std::int32_t h, const TFloatPoint& origin,
                     const TFloatPoint& xEnd, const TFloatPoint& yEnd);
// The columns X1..X2 covered by the frame in the row band Y..Y+1; false when
// the band lies outside the frame's rows. X1 > X2 when the pieces are empty.
bool FindSpan(const TAffineFrame& frame, std::int32_t y, std::int32_t& x1, std::int32_t& x2);

// Dst must be 24-bit and Src 24- or 32-bit and at least the frame's size
// (assertions). An opacity below 1 draws nothing, above 255 counts as 255.
// The clip is also cut to the destination.
void AffineDrawNearest(const TAffineFrame& frame, TSysBitmap* dst, TSysBitmap* src, std::int32_t opacity,
                       const TRect& clipRect);
// Bilinear: a 32-bit source is laid over the destination with its alpha,
// straight or (Premultiplied) premultiplied.
void AffineDrawBilinear(const TAffineFrame& frame, TSysBitmap* dst, TSysBitmap* src, std::int32_t opacity,
                        const TRect& clipRect, bool premultiplied);

// The inverse of a matrix laid out as TAffineFrame.Matrix (the translation,
// then the images of the unit x and y steps); false when it cannot be
// inverted or a value is not finite.
bool InvertAffineMatrix(const float m[6], double inverse[6]);

// Round(65536 * v - 0.5), held far inside 64 bits (not a number: 0).
std::int64_t FloatToFixed16(double v);

}  // namespace zm
