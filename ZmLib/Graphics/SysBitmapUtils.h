#pragma once
// Pixel-level operations on TSysBitmaps that the imaging code shares:
// bilinear resizing in 16.16 fixed point, halving for mip levels, rotation
// by quarter turns, blending one bitmap over another, grey and disabled
// looks, tiling and the 1-pixel frame of an image.
//
// 24-bit operations need 3-byte pixels ("R8G8B8": bytes B, G, R) and 32-bit
// ones 4-byte pixels ("A8R8G8B8": B, G, R, A with straight alpha, unless a
// name says premultiplied); other pixel sizes fail an assertion. Rectangles
// have exclusive right and bottom edges and are cut to the bitmaps.
// Operations that report progress call the target's DoProgress with the
// fraction of rows done before each row, stop when it answers false, and
// end with DoProgress(1.0), whose answer they return.
#include <cstdint>

#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/zmImage.h"

namespace zm {

// Bilinear resize of the whole source into the whole target. Steps of
// (source size - 1) * 65536 div target size, the first sample half a
// source pixel in, neighbours clamped at the right and bottom edges, four
// weights summing to 65537 (a uniform picture keeps its colour exactly).
bool ResizeBilinear24(TSysBitmap* source, TSysBitmap* target);
bool ResizeBilinear32(TSysBitmap* source, TSysBitmap* target);

// Half-size copy for the next mip level: target pixel (x, y) is the 1-2-1
// weighted 3 x 3 average around source pixel (2x, 2y), edges repeated. Only
// min(target size, (source size + 1) div 2) is written.
bool HalveBitmap24(TSysBitmap* source, TSysBitmap* target);
bool HalveBitmap32(TSysBitmap* source, TSysBitmap* target);

// Sets the alpha byte of every pixel of Rect.
bool SetAlphaRect(TSysBitmap* bitmap, const TRect& rect, std::uint8_t alpha);

// SourceRect of a 32-bit source onto a 24-bit target with its top-left at
// Point. Straight alpha: d = d + (s - d) * a / 256; premultiplied:
// d = d * (255 - a) / 256 + s (at most 255).
void BlendBitmap32On24(TSysBitmap* target, TSysBitmap* source, const TRect& sourceRect, const TPoint& point);
void BlendPremul32On24(TSysBitmap* target, TSysBitmap* source, const TRect& sourceRect, const TPoint& point);
// SourceRect of a 32-bit source over a 32-bit target, each pixel by the
// BlendOverColor32 rule.
void BlendBitmap32Over32(TSysBitmap* target, TSysBitmap* source, const TRect& sourceRect, const TPoint& point);
// BlendOverColor32 on a pixel in memory (4 bytes B, G, R, A).
void BlendPixelOver(std::uint8_t* pixel, TColor32 color);

// Assigned, and its format has no alpha channel or every alpha byte is 255.
bool IsOpaqueBitmap(TBitmap* bitmap);
// On "A8R8G8B8" (assertion): alpha = max(R, G, B); grey pixels become
// white, other colours are lifted toward white by how grey they are.
bool BrightnessToAlpha(TSysBitmap* bitmap);

// In place: pixel (x, y) exchanged with (W-1-x, H-1-y).
bool RotateBitmap180_24(TSysBitmap* bitmap);
bool RotateBitmap180_32(TSysBitmap* bitmap);
// Target (H x W, asserted) pixel (H-1-y, x) = source pixel (x, y).
bool RotateBitmapCW24(TSysBitmap* source, TSysBitmap* target);
bool RotateBitmapCW32(TSysBitmap* source, TSysBitmap* target);
// Target (H x W, asserted) pixel (y, W-1-x) = source pixel (x, y).
bool RotateBitmapCCW24(TSysBitmap* source, TSysBitmap* target);
bool RotateBitmapCCW32(TSysBitmap* source, TSysBitmap* target);

// Colour bytes become (R + G + B) div 3; alpha is kept (divided by 4 for
// the disabled look).
void GrayscaleBitmap32(TSysBitmap* bitmap);
void DisabledBitmap32(TSysBitmap* bitmap);

// Fills AnchorRect cut by ClipRect of a 32-bit target with PatternRect of a
// 32-bit pattern repeated, the repetition anchored at AnchorRect's top-left.
void TileBitmapRect(TSysBitmap* target, TSysBitmap* pattern, const TRect& anchorRect, const TRect& clipRect,
                    const TRect& patternRect);
// The same over FillRect with the pattern shifted by Offset (taken modulo
// the pattern size; negative offsets wrap): target (x, y) takes pattern
// pixel ((x - FillRect.Left + Offset.X) mod w, ...).
void TileBitmapRectEx(TSysBitmap* target, TSysBitmap* pattern, const TRect& fillRect, const TPoint& offset,
                      const TRect& patternRect);

// SourceRect of a 32-bit straight-alpha source over a 32-bit straight-alpha
// target at Point, through a table of the combined alpha built once.
void DrawBitmapOver32(TSysBitmap* target, TSysBitmap* source, const TRect& sourceRect, const TPoint& point);
// One row of that: Count pixels of Source over Dest.
void BlendRowOver(std::uint8_t* dest, const std::uint8_t* source, std::int32_t count);

// Rect of the image's full-size picture onto a 32- or 24-bit target with
// its top-left at Point. A picture with alpha is blended (unless NoAlpha),
// one without is copied; it is converted to "A8R8G8B8" or "R8G8B8" first
// when its format differs.
void DrawImageOnBitmap(TSysBitmap* target, const TPoint& point, TImage* image, bool noAlpha, const TRect& rect);
// The image's full-size picture stretched (nearest pixel) over Rect moved by
// Point, of which only the four 1-pixel border strips (top, left, right,
// bottom) are drawn, blended like DrawImageOnBitmap; clipped to the target.
void FrameRectWithImage(TSysBitmap* target, const TPoint& point, TImage* image, const TRect& rect);

}  // namespace zm
