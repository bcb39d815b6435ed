// Character placement of arbitrary UTF-16 text in one fixed font: bidi
// levels, script runs and shaping must give consistent arrays for any text
// (lone surrogates, controls, deep embeddings, marks without a base). The
// first byte picks the flags; the rest is the text, two bytes a unit.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <numeric>
#include <string>
#include <vector>

#include "Platform/Gdi/PlatFontInternal.h"
#include "Platform/Gdi/PlatShape.h"
#include "fuzz/FuzzCommon.h"

using zmfuzz::Check;
using namespace plat;

namespace {
HDC gDc = nullptr;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zmfuzz::StartModules();
  Check(gdi::UseTestFonts());
  LOGFONTW log;
  log.lfHeight = -16;
  const std::u16string face = u"DejaVu Sans";
  std::copy(face.begin(), face.end(), log.lfFaceName);
  gDc = CreateCompatibleDC(nullptr);
  SelectObject(gDc, reinterpret_cast<HGDIOBJ>(CreateFontIndirectW(&log)));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > 1 << 13) return 0;
  static const DWORD kFlags[] = {0x80132, 0x8112, GCP_REORDER, 0x132, GCP_GLYPHSHAPE, 0};
  const DWORD flags = kFlags[data[0] % (sizeof kFlags / sizeof kFlags[0])];
  const bool glyphs = (data[0] & 0x80) == 0;
  std::u16string text;
  for (std::size_t i = 1; i + 1 < size; i += 2) text += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  const std::size_t n = text.size(), room = n * 3 / 2 + 16;

  std::vector<UINT> order(n, 0xFFFFFFFF);
  std::vector<int> dx(room, 0);
  std::vector<char> cls(n, 0);
  std::vector<char16_t> out(n, 0), glyph(room, 0);
  std::vector<int> caret(n, 0);
  GCP_RESULTSW r;
  r.lpOrder = order.data();
  r.lpDx = dx.data();
  r.lpClass = cls.data();
  r.lpOutString = out.data();
  r.lpCaretPos = caret.data();
  r.lpGlyphs = glyphs ? glyph.data() : nullptr;
  r.nGlyphs = static_cast<UINT>(room);
  const DWORD result = GetCharacterPlacementW(gDc, text.data(), static_cast<int>(n), 0, &r, flags);
  Check((result == 0) == (n == 0));
  if (n == 0) return 0;
  Check(r.nGlyphs <= room);
  if (glyphs) {
    for (UINT o : order) Check(o < r.nGlyphs);
    const long long sum = std::accumulate(dx.begin(), dx.begin() + r.nGlyphs, 0LL);
    Check(sum < 0xFFFF ? static_cast<long long>(result & 0xFFFF) == sum : (result & 0xFFFF) == 0xFFFF);
  } else {
    // Without glyphs, order is a permutation and the out string its inverse.
    Check(r.nGlyphs == n);
    std::vector<bool> seen(n, false);
    for (std::size_t i = 0; i < n; ++i) {
      Check(order[i] < n && !seen[order[i]]);
      seen[order[i]] = true;
      Check(out[order[i]] == text[i]);
    }
  }
  for (char c : cls) Check(c == 1 || c == 2 || c == 4 || c == 5);

  std::vector<WORD> indices(n);
  Check(GetGlyphIndicesW(gDc, text.data(), static_cast<int>(n), indices.data(), GGI_MARK_NONEXISTING_GLYPHS) == n);
  return 0;
}
