#pragma once
// Nine-patch pictures: a skin picture cut by four stretch margins into a
// 3 x 3 grid whose corners keep their size while the edges and the centre
// stretch, drawn alpha-blended over a 32-bit target.
//
// Pictures are "A8R8G8B8" with straight alpha. Rectangles have exclusive
// right and bottom edges; coordinates are 0-based pixels.
#include <cstdint>

#include "ZmLib/Graphics/SysBitmap.h"

namespace zm {

// Flags of TNinePatch.
constexpr std::uint32_t npUniformCenter = 1;  // the centre cell is one colour

struct TNinePatch {
  TRef<TSysBitmap> Picture;  // "A8R8G8B8", owned; nil when the patch is empty
  TRect Rect;                // 0, 0, width, height of Picture
  TRect Margins;             // stretch margins left, top, right, bottom (pixels)
  std::uint32_t Flags = 0;

  bool IsEmpty() const { return !Picture; }
};

// The four grid lines of a span [A, B) with margins M1 (left or top) and
// M2 (right or bottom): A, min(A + M1, M), max(B - M2, M), B, where
// M = (A + M1 + B - M2) div 2 limited to [A, B]. A span shorter than both
// margins puts both inner lines on M.
void NinePatchLines(std::int32_t a, std::int32_t b, std::int32_t m1, std::int32_t m2, std::int32_t lines[4]);

// The whole picture with the margins (negative margins count as 0). The
// patch copies the pixels, converted to "A8R8G8B8": the caller keeps its
// picture. No picture empties the patch.
void LoadNinePatch(TNinePatch& patch, TBitmap* picture, std::int32_t left, std::int32_t top, std::int32_t right,
                   std::int32_t bottom);
// The same for Rect of the picture (cut to it; nothing left empties the
// patch).
void LoadNinePatchCell(TNinePatch& patch, TBitmap* picture, const TRect& rect, std::int32_t left, std::int32_t top,
                       std::int32_t right, std::int32_t bottom);

// The patch stretched to Rect and blended over Target, clipped to the
// target (first form) or to Clip and the target. Target must be
// "A8R8G8B8" (assertion); an empty patch draws nothing.
void DrawNinePatch(TSysBitmap* target, const TRect& rect, const TNinePatch& patch);
void DrawNinePatch(TSysBitmap* target, const TRect& rect, const TRect& clip, const TNinePatch& patch);

}  // namespace zm
