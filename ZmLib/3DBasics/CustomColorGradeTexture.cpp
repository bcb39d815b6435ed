#include "ZmLib/3DBasics/CustomColorGradeTexture.h"

#include "ZmLib/Graphics/SysBitmap.h"

namespace zm {

void AddIdentityLut24(TSysBitmap* table) {
  ZM_ASSERT(table, "AddIdentityLut24 - Bitmap not Assigned");
  ZM_ASSERT(table->Width() == kGradeCubeSize && table->Height() == kGradeCubeRows && table->BytesPerPixel() == 3,
            "AddIdentityLut24 - Bitmap is not a 32x32x32 table of 24-bit entries");
  for (std::int32_t row = 0; row < kGradeCubeRows; ++row) {
    const std::uint8_t blue = GradeLevel(row / kGradeCubeSize);
    const std::uint8_t green = GradeLevel(row % kGradeCubeSize);
    TColor24* p = table->Row24(row);
    for (std::int32_t x = 0; x < kGradeCubeSize; ++x) {
      p[x].B = static_cast<std::uint8_t>(p[x].B + blue);
      p[x].G = static_cast<std::uint8_t>(p[x].G + green);
      p[x].R = static_cast<std::uint8_t>(p[x].R + GradeLevel(x));
    }
  }
}

}  // namespace zm
