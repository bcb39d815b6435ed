#include "ZmLib/Graphics/winImageUtils.h"

#include <algorithm>
#include <cmath>

namespace zm {

void FitSize(std::int32_t sourceWidth, std::int32_t sourceHeight, std::int32_t boxWidth, std::int32_t boxHeight,
             std::int32_t& width, std::int32_t& height) {
  boxWidth = std::max(boxWidth, 1);
  boxHeight = std::max(boxHeight, 1);
  if (sourceWidth < 1 || sourceHeight < 1) {
    width = boxWidth;
    height = boxHeight;
    return;
  }
  const double sx = double(boxWidth) / sourceWidth, sy = double(boxHeight) / sourceHeight;
  if (sx < sy) {
    width = boxWidth;
    height = std::int32_t(std::min(std::nearbyint(sourceHeight * sx), double(boxHeight)));
  } else {
    width = std::int32_t(std::min(std::nearbyint(sourceWidth * sy), double(boxWidth)));
    height = boxHeight;
  }
  // A very long, thin picture still gives a picture.
  width = std::max(width, 1);
  height = std::max(height, 1);
}

}  // namespace zm
