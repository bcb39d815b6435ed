#pragma once
// Gives fully transparent pixels of an "A8R8G8B8" picture the colour of the
// visible pixels around them, so that scaling and filtering do not bleed the
// file's arbitrary colours (often black or white) into visible edges. Alpha
// stays 0. The colours come from successively smaller averaged copies.
#include <cstdint>

#include "ZmLib/Graphics/zmBitmap.h"

namespace zm {

// A half-size copy (ceil(W / 2) x ceil(H / 2), at least 4 x 4) averaging only
// visible pixels. Every call advances the module-wide sampling phase, so
// successive halvings sample with alternating alignment. Nil for a bitmap
// that is not 32-bit.
TRef<TDirectBitmap> HalveVisible(TDirectBitmap* bitmap);
// Corrects Bitmap in place; other formats than 32-bit are left alone.
void CorrectInvisiblePixels(TDirectBitmap* bitmap);

// The phase (0 or 1) the next halving advances from; tests set it.
std::int32_t InvisiblePixelPhase();
void SetInvisiblePixelPhase(std::int32_t phase);

}  // namespace zm
