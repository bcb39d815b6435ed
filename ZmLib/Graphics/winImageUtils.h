#pragma once
// Picture thumbnails: a small DIB of a picture, fitted into a box with its
// proportions kept, for places that show pictures in windows. The smallest
// mip level that still covers the box is scaled with the bilinear drawer
// or, for pictures with transparency kept, with the fixed-point resize.
#include <cstdint>

#include "ZmLib/Graphics/zmColorTypes.h"
#include "ZmLib/Graphics/zmDibBitmap.h"
#include "ZmLib/Graphics/zmImage.h"

namespace zm {

// The size of a SourceWidth x SourceHeight picture fitted into the box:
// the side that limits takes the box's size, the other its share, rounded
// (half to even) and never beyond the box. Both results are at least 1; an
// empty source or box gives the box held at 1 x 1 or more.
void FitSize(std::int32_t sourceWidth, std::int32_t sourceHeight, std::int32_t boxWidth, std::int32_t boxHeight,
             std::int32_t& width, std::int32_t& height);

// A new DIB (the caller owns it) of Image fitted into the box; nil for no
// image. The box must be at least 1 x 1 (assertion). NoEnlarge: a picture
// smaller than the fitted size both ways keeps its own size. A picture with
// alpha keeps it in a 32-bit DIB, transparent pixels taking Background's
// colour at alpha 0; with Flatten (and for pictures without alpha) the DIB
// is 24-bit and the picture is laid over Background (its alpha byte is
// not used).
TRef<TFastDIB> MakeThumbnail(TImage* image, std::int32_t boxWidth, std::int32_t boxHeight, bool flatten,
                             bool noEnlarge, TColor32 background);

}  // namespace zm
