// The rasteriser fed with any points (not-a-number, infinities, huge values,
// self-crossing contours): rows arrive in order, runs stay inside the area
// and no cell holds more than the 256 samples of its pixel.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "ZmLib/VectorGraphics/zmRasterizer.h"
#include "fuzz/FuzzCommon.h"

using zmfuzz::Check;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zmfuzz::QuietDebugOutput();
  zmfuzz::StartModules();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zm;
  if (size < 2 || size > 1 << 12) return 0;
  const std::int32_t w = 1 + data[0] % 64, h = 1 + data[1] % 64;
  TRef<TOutline> o = MakeRef<TOutline>();
  o->FillEvenOdd = (data[0] & 128) != 0;
  // Each 9 bytes: a flag (move or line) and two floats as they come.
  for (std::size_t i = 2; i + 9 <= size; i += 9) {
    float x, y;
    std::memcpy(&x, data + i + 1, 4);
    std::memcpy(&y, data + i + 5, 4);
    // Small values most of the time, so that shapes land in the area.
    if (data[i] & 2) {
      x = float(std::int8_t(data[i + 1])) / 2;
      y = float(std::int8_t(data[i + 5])) / 2;
    }
    if ((data[i] & 1) || i == 2) o->MoveTo({x, y});
    else o->AddPoint({x, y});
  }
  std::int32_t lastRow = -1;
  o->OnSpan = [&](std::int32_t row, const std::uint16_t* cov, std::int32_t first, std::int32_t last) {
    Check(row >= lastRow && row >= 0 && row < h && first >= 0 && first <= last && last < w);
    lastRow = row;
    for (std::int32_t c = first; c <= last; ++c) Check(cov[c] >= 1 && cov[c] <= 256);
  };
  MakeRef<TRasterizer>()->Rasterize(o.get(), w, h);
  return 0;
}
