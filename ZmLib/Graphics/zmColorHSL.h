#pragma once
// Hue, saturation and lightness on a 0-255 scale, and the adjustment of a
// rectangle of a bitmap by them.
#include <cstdint>

#include "ZmLib/Graphics/zmBitmap.h"
#include "ZmLib/wpLoadCallBack.h"
#include "ZmLib/zmTypes.h"

namespace zm {

// H, S and L of a colour, each 0..255 (hue 255 steps around the circle),
// rounded to the nearest integer, ties to even.
void RGBToHSL255(std::int32_t r, std::int32_t g, std::int32_t b, std::int32_t& h, std::int32_t& s, std::int32_t& l);
// The colour of H, S, L (0..255 each).
void HSL255ToRGB(std::int32_t h, std::int32_t s, std::int32_t l, std::int32_t& r, std::int32_t& g, std::int32_t& b);
// One channel of the conversion: h (wrapped once into 0..255) between the
// lightness bounds m1 and m2 (0..1), as 0..255.
std::int32_t HueToChannel255(double h, double m1, double m2);

// Shifts the hue by Hue degrees (360 wraps to the same hue) and saturation
// and lightness by percentages of the pixels of Rect (cut to the bitmap) of
// an "A8R8G8B8" TSysBitmap or TDirectBitmap; alpha is kept. Any other format
// or class, or all three shifts 0: nothing. After each row Callback is
// polled (nil: LoadCallbackProc); false stops the adjustment.
void AdjustHSL(TBitmap* bitmap, const TRect& rect, TDefCallBack* callback, std::int32_t hue, std::int32_t saturation,
               std::int32_t lightness);

}  // namespace zm
