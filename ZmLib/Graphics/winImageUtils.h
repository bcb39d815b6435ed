#pragma once
// Picture thumbnails: a small picture fitted into a box with its proportions
// kept, for places that show pictures in windows.
#include <cstdint>

namespace zm {

// The size of a SourceWidth x SourceHeight picture fitted into the box:
// the side that limits takes the box's size, the other its share, rounded
// (half to even) and never beyond the box. Both results are at least 1; an
// empty source or box gives the box held at 1 x 1 or more.
void FitSize(std::int32_t sourceWidth, std::int32_t sourceHeight, std::int32_t boxWidth, std::int32_t boxHeight,
             std::int32_t& width, std::int32_t& height);

}  // namespace zm
