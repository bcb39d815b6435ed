// Colour texts of show descriptions: "#RRGGBB[,alpha]", a Windows colour
// value, or "r,g,b[,a]"; anything else must give the default.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "ZmLib/Graphics/zmColorTypes.h"
#include "fuzz/FuzzCommon.h"

using zmfuzz::Check;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zmfuzz::StartModules();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zm;
  if (size > 1 << 16) return 0;
  TByteString text(data, size);
  const TColor32 def{1, 2, 3, 4};
  TColor32 c = StrToColor32Def(text, def);
  const std::size_t fields = size == 0 ? 0 : std::size_t(std::count(data, data + size, ',')) + 1;
  if (fields == 0 || fields > 4) Check(c == def);
  // The same text through the other entry points.
  Check(ByteStrToColor32(text) == StrToColor32Def(text, TColor32{}));
  if (fields >= 1 && fields <= 4) Check(ByteStrToColor32(text) == c);
  StrToColor32(text.ToWide());
  // A missing alpha is opaque.
  if (fields == 1 || fields == 3) Check(c.A == 255);
  return 0;
}
