#pragma once
// Small drawings the classic control themes share: the raised two-pixel
// frame, the pixel arrow of scroll buttons, and anti-aliased arrow glyphs
// kept in a small cache of slots.
#include <cstdint>

#include "ZmLib/Graphics/zmBitmap.h"
#include "ZmLib/Graphics/zmColorTypes.h"

namespace zm {

// A raised border two pixels wide inside Rect: the outer top and left lines
// in OuterLight, the inner ones in InnerLight, the outer bottom and right
// lines in OuterDark, the inner ones in InnerDark (the dark lines own the
// top-right and bottom-left corners), and the inside filled with Face.
// Everything is cut to the bitmap; nil or an empty rectangle draws nothing.
void DrawClassicFrame(TDirectBitmap* bitmap, const TRect& rect, TColor32 outerLight, TColor32 innerLight,
                      TColor32 outerDark, TColor32 innerDark, TColor32 face);

// A solid triangle of Height rows centred on (CX, CY), pointing left or
// right: row i is min(i + 1, Height - i) pixels long, aligned to the flat
// side. A height below 1 draws nothing.
void DrawClassicArrow(TDirectBitmap* bitmap, std::int32_t cx, std::int32_t cy, std::int32_t height, bool pointsLeft,
                      TColor32 color);

// Arrow directions.
constexpr std::int32_t adLeft = 0;
constexpr std::int32_t adUp = 1;
constexpr std::int32_t adRight = 2;
constexpr std::int32_t adDown = 3;
constexpr std::int32_t kArrowGlyphSlots = 8;

// A Size x Size "A8R8G8B8" glyph of an anti-aliased triangle pointing in
// Direction, its apex on the centre line, in Color. The glyph is kept in
// Slot (0..7) and given again while size, colour and direction match.
// Another slot or direction is an assertion; a size outside 1..1024 gives nil.
// The bitmap belongs to the cache (valid until the slot is rebuilt).
TDirectBitmap* ArrowGlyph(std::int32_t slot, std::int32_t size, TColor32 color, std::int32_t direction);
// How many glyphs were rasterised so far (the cache's misses).
std::int32_t ArrowGlyphBuilds();
// Releases the cache and the rasteriser.
void FreeArrowGlyphs();

// Bitmap as an "A8R8G8B8" TDirectBitmap: itself when it is one, else a
// converted copy (opaque formats get alpha 255); nil for nil or an empty bitmap.
TRef<TDirectBitmap> ArgbBitmap(TBitmap* bitmap);
// The "A8R8G8B8" value of a pixel of such a bitmap; 0 outside or for nil.
std::uint32_t ArgbPixel(TDirectBitmap* bitmap, std::int32_t x, std::int32_t y);

// Whether visual styles draw now; false (without asking the theme
// services) while there is no application for them to register with.
bool ThemesActive();

void InitThemedControlUtils();
void FiniThemedControlUtils();

}  // namespace zm
