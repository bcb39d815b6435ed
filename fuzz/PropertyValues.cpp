// Values of the show description read as points, rectangles, vectors,
// colours and font styles, and "TextWithSize: " keys: a wrong number of parts
// gives the default, and nothing is read outside the text.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "OruLib2/OruClasses/OruPropValues.h"
#include "fuzz/FuzzCommon.h"

using zmfuzz::Check;

namespace {
bool FiniteOrDefault(float v, float def) { return std::isfinite(v) || v == def; }
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zmfuzz::StartModules();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zm;
  using namespace oru;
  if (size > 1 << 16) return 0;
  TRef<TIniItem> item = MakeRef<TIniItem>("k", TByteString(data, size));
  const std::size_t parts = size == 0 ? 0 : std::size_t(std::count(data, data + size, ',')) + 1;

  const TPoint dp{-3, 5};
  TPoint p = ReadItemPoint(item.get(), dp);
  if (parts != 2) Check(p == dp);

  const TFloatRect dr{1, 2, 3, 4};
  TFloatRect r = ReadItemRectF(item.get(), dr);
  if (parts != 4) Check(r == dr);
  Check(FiniteOrDefault(r.Left, 1) && FiniteOrDefault(r.Top, 2) && FiniteOrDefault(r.Right, 3) &&
        FiniteOrDefault(r.Bottom, 4));

  const TFloatPoint3 dv{7, 8, 9};
  TFloatPoint3 v = ReadItemVector3(item.get(), dv);
  if (parts != 3) Check(v == dv);
  Check(std::isfinite(v.X) && std::isfinite(v.Y) && std::isfinite(v.Z));

  const TColor32 dc{1, 2, 3, 4};
  TColor32 c = ReadItemColor(item.get(), dc);
  if (parts == 0 || parts > 4) Check(c == dc);
  ReadItemRGB(item.get(), TColor24{});
  Check(ReadItemFontStyle(item.get()) <= 15);

  WideString key = TByteString(data, size).ToWide();
  std::int32_t w = 0, h = 0;
  WideString text;
  bool ok = ParseTextWithSizeKey(key, w, h, text);
  Check(ok || (w == 0 && h == 0 && text.empty()));
  // The text is what is left of the key.
  if (ok) Check(text.size() <= key.size() && key.compare(key.size() - text.size(), text.size(), text) == 0);

  if (size >= 8) {
    double d;
    std::memcpy(&d, data, sizeof d);
    WideString f = FormatFloat6(d);
    Check(!f.empty() && f.size() < 400);
  }
  return 0;
}
