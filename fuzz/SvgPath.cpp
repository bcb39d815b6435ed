// Path data from show descriptions: any text either parses into complete
// entries or into nothing, and whatever parses paints (filled, stroked,
// through a transform) into a small bitmap without a fault or a hang.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ZmLib/Graphics/zmGraphicsModules.h"
#include "ZmLib/VectorGraphics/zmRasterizerUtils.h"
#include "ZmLib/VectorGraphics/zmSvgUtils.h"
#include "ZmLib/VectorGraphics/zmVectorModules.h"
#include "fuzz/FuzzCommon.h"

using zmfuzz::Check;

namespace {
zm::TRasterHelper* gHelper = nullptr;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zmfuzz::QuietDebugOutput();
  zmfuzz::StartModules({zm::CoreModules(), zm::GraphicsModules(), zm::VectorModules()});
  gHelper = zm::MakeRef<zm::TRasterHelper>().Detach();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zm;
  if (size > 1 << 14) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  TPathPoints points;
  const bool ok = ParseSvgPath(text, points);
  if (!ok) {
    Check(points.empty());
    return 0;
  }
  // Entries come whole: a move first, controls followed by their points.
  for (std::size_t i = 0; i < points.size(); ++i) {
    const std::int32_t code = points[i].Code;
    Check(code >= pcMove && code <= pcControl3);
    if (i == 0) Check(code == pcMove);
    if (code == pcControl3) Check(i + 2 < points.size() && points[i + 1].Code == pcControl2);
    if (code == pcControl2) Check(i + 1 < points.size() && points[i + 1].Code == pcLine);
  }
  // The same text as wide characters parses the same.
  WideString wide;
  for (char c : text) wide.push_back(char16_t(std::uint8_t(c)));
  TPathPoints again;
  Check(ParseSvgPath(wide, again) && again == points);

  const std::uint8_t knob = size ? data[size - 1] : 0;
  gHelper->StrokeMode = knob % 3;
  gHelper->StrokeWidth = float(knob % 7);
  if (knob & 8) gHelper->SetMatrix(ScalingMatrix(float(knob % 5) - 1.5f, 0.75f));
  else gHelper->ResetTransform();
  gHelper->BeginPaintTransparent(24, 20);
  gHelper->AddPath(points, (knob & 16) != 0);
  TRef<TDirectBitmap> b = gHelper->EndPaint();
  Check(b && b->Width() == 24 && b->Height() == 20);
  return 0;
}
