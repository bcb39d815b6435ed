#pragma once
// Stretching a rectangle of one bitmap onto a rectangle of another with
// bilinear interpolation in 16.16 fixed point, on the processor.
//
// Rectangles are (left, top, right, bottom) in pixels, right and bottom
// exclusive. The corners of the two rectangles map onto each other: a
// destination column i (0-based inside DestRect) samples the source at
// i * (source width - 1) / (destination width - 1), 0 for a destination one
// pixel wide. Only destination pixels inside the destination bitmap are
// written, with the same mapping as if the rectangle were whole. Source
// positions start at the source rectangle's left and top and are held
// within 0 .. min(right, bitmap width) - 1 (likewise down). Empty
// rectangles, or a source rectangle that ends at or before the bitmap's
// first column or row, write nothing.
#include <cstdint>

#include "ZmLib/Graphics/SysBitmap.h"

namespace zm {

// Both bitmaps 24-bit ("R8G8B8"), else the assertion
// "ResizeBitmapRect24: Unsupported PixelFormat".
void ResizeBitmapRect24(TSysBitmap* dest, TSysBitmap* source, const TRect& destRect, const TRect& sourceRect);
// Both bitmaps 32-bit ("A8R8G8B8"), else the assertion
// "ResizeBitmapRect: Unsupported PixelFormat". All four channels are
// interpolated; where the alpha comes out 0 the pixel is EmptyValue.
void ResizeBitmapRect(TSysBitmap* dest, TSysBitmap* source, const TRect& destRect, std::uint32_t emptyValue,
                      const TRect& sourceRect);

}  // namespace zm
