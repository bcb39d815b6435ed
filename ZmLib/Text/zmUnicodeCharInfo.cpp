#include "ZmLib/Text/zmUnicodeCharInfo.h"

#include <memory>

#include "ZmLib/Win32/SysObj2.h"

namespace zm {

namespace {

struct TUpperCaseRange {
  std::uint16_t First;
  std::uint8_t CountAndStep;  // count in bits 0-6, bit 7: step 2
};
struct TLowerCaseRun {
  std::uint8_t DeltaIndex;  // 1-based
  std::uint8_t Count;
};
struct TTitleCaseLetter {
  std::uint16_t Code, Upper, Lower, Base, Mark;
};
struct TSpecialLowerCase {
  std::uint16_t Code, Upper;
};
struct TCharRange {
  std::uint16_t First;
  std::uint16_t Count;
};
struct TCombiningClassRun {
  std::uint8_t Class;
  std::uint16_t Count;
};

#include "ZmLib/Text/zmUnicodeTables.inc"

constexpr std::size_t kMapSize = 0x10000;
std::unique_ptr<TMapInfo[]> gMap;

// Walks the upper-case letters (records whose UpperCase is set) in code order.
class TUpperCursor {
public:
  explicit TUpperCursor(TMapInfo* map) : map_(map) {}
  // The next upper-case letter, or -1 after the last.
  std::int32_t Next() {
    while (next_ < kMapSize && map_[next_].UpperCase == 0) ++next_;
    if (next_ >= kMapSize) return -1;
    return static_cast<std::int32_t>(next_++);
  }

private:
  TMapInfo* map_;
  std::size_t next_ = 0;
};

template <std::size_t N>
void ApplyRanges(TMapInfo* map, const TCharRange (&ranges)[N], std::uint8_t category, int isUpper) {
  for (const TCharRange& r : ranges)
    for (std::uint32_t c = r.First; c < std::uint32_t(r.First) + r.Count && c < kMapSize; ++c) {
      map[c].Category = category;
      if (isUpper >= 0) map[c].IsUpper = static_cast<std::uint8_t>(isUpper);
    }
}

}  // namespace

void BuildUnicodeMap() {
  auto map = std::make_unique<TMapInfo[]>(kMapSize);
  TMapInfo* m = map.get();

  // 1. Upper-case letters map to themselves (which marks them).
  for (const TUpperCaseRange& r : kUpperCaseRanges) {
    std::uint32_t step = (r.CountAndStep & 0x80) ? 2 : 1;
    std::uint32_t c = r.First;
    for (int k = 0; k < (r.CountAndStep & 0x7F) && c < kMapSize; ++k, c += step)
      m[c].UpperCase = static_cast<std::uint16_t>(c);
  }
  // 2. Their lower forms, by runs of deltas in 16-bit arithmetic.
  {
    TUpperCursor cursor(m);
    for (const TLowerCaseRun& run : kLowerCaseRuns) {
      std::size_t di = run.DeltaIndex;
      ZM_ASSERT(di >= 1 && di <= std::size(kLowerCaseDeltas), "Unicode delta index out of range");
      std::int16_t delta = kLowerCaseDeltas[di - 1];
      for (int k = 0; k < run.Count; ++k) {
        std::int32_t c = cursor.Next();
        if (c < 0) break;
        TMapInfo& r = m[c];
        r.LowerCase = static_cast<std::uint16_t>(r.UpperCase + delta);
        r.IsUpper = 1;
        r.Category = kCatLetter;
      }
    }
  }
  // 3. Decompositions of the upper-case letters.
  {
    TUpperCursor cursor(m);
    std::size_t i = 0, n = std::size(kUpperDecompositions);
    while (i < n) {
      std::uint16_t skip = kUpperDecompositions[i++];
      for (int k = 0; k < skip; ++k) cursor.Next();
      if (i >= n) break;
      std::uint16_t take = kUpperDecompositions[i++];
      for (int k = 0; k < take && i + 1 < n; ++k, i += 2) {
        std::int32_t c = cursor.Next();
        if (c < 0) break;
        m[c].Decomposition = {kUpperDecompositions[i], kUpperDecompositions[i + 1]};
      }
    }
  }
  // 4. Title-case letters.
  for (const TTitleCaseLetter& t : kTitleCaseLetters) {
    TMapInfo& r = m[t.Code];
    r.IsTitle = 1;
    r.IsUpper = 0;
    r.Category = kCatLetter;
    r.UpperCase = t.Upper;
    r.LowerCase = t.Lower;
    if (t.Base != 0) r.Decomposition = {t.Base, t.Mark};
    if (t.Upper != t.Code) {
      m[t.Upper].TitleForms = {t.Code};
      m[t.Upper].Category = kCatLetter;
    }
    if (t.Lower != t.Code) {
      m[t.Lower].TitleForms = {t.Code};
      m[t.Lower].Category = kCatLetter;
    }
  }
  // 5. Lower-case letters with a special upper form.
  for (const TSpecialLowerCase& s : kSpecialLowerCase) {
    TMapInfo& r = m[s.Code];
    r.LowerCase = s.Code;
    r.UpperCase = s.Upper;
    r.IsUpper = 0;
    r.Category = kCatLetter;
  }
  // 6. Lower forms without a record of their own take their upper form's.
  for (std::size_t c = 0; c < kMapSize; ++c) {
    const TMapInfo& r = m[c];
    if (!r.IsUpper && !r.IsTitle) continue;
    std::uint16_t lower = r.LowerCase;
    if (lower == c || m[lower].UpperCase != 0) continue;
    TMapInfo& l = m[lower];
    std::vector<std::uint16_t> titleForms = std::move(l.TitleForms);
    l = r;
    // a title form that step 4 gave the lower form itself is kept
    if (l.TitleForms.empty()) l.TitleForms = std::move(titleForms);
    l.Category = kCatLetter;
    l.IsUpper = 0;
    l.IsTitle = 0;
  }
  // 7. Categories.
  ApplyRanges(m, kCaselessLetters, kCatLetter, 0);
  ApplyRanges(m, kUpperCaseWithoutLower, kCatLetter, 1);
  ApplyRanges(m, kCombiningMarks, kCatMark, -1);
  ApplyRanges(m, kNumbers, kCatNumber, -1);
  ApplyRanges(m, kSpaceSeparators, kCatSpace, -1);
  ApplyRanges(m, kControlChars, kCatControl, -1);
  ApplyRanges(m, kPunctuation, kCatPunctuation, -1);
  ApplyRanges(m, kSymbols, kCatSymbol, -1);
  // 8. Defined characters without case map to themselves.
  for (std::size_t c = 0; c < kMapSize; ++c) {
    TMapInfo& r = m[c];
    r.Defined = r.Category != kCatUndefined;
    if (r.Defined && r.UpperCase == 0) r.UpperCase = r.LowerCase = static_cast<std::uint16_t>(c);
  }
  // 9. Combining classes of the marks in code order.
  {
    std::size_t c = 0;
    for (const TCombiningClassRun& run : kCombiningClassRuns) {
      for (int k = 0; k < run.Count; ++k) {
        while (c < kMapSize && m[c].Category != kCatMark) ++c;
        if (c >= kMapSize) break;
        m[c++].CombiningClass = run.Class;
      }
    }
  }
  // 10. A lower-case letter decomposes into a lower-case base.
  for (std::size_t c = 0; c < kMapSize; ++c) {
    TMapInfo& r = m[c];
    if (!r.IsUpper && !r.IsTitle && r.Decomposition.size() == 2) r.Decomposition[0] = m[r.Decomposition[0]].LowerCase;
  }
  // 11. Marks learn what they compose.
  for (std::size_t c = 0; c < kMapSize; ++c) {
    const TMapInfo& r = m[c];
    if (r.Decomposition.size() != 2) continue;
    TMapInfo& mark = m[r.Decomposition[1]];
    mark.IsComposingMark = 1;
    mark.Compositions.emplace_back(r.Decomposition[0], static_cast<std::uint16_t>(c));
  }
  // 12. Case pairs.
  for (std::size_t c = 0; c < kMapSize; ++c) {
    TMapInfo& r = m[c];
    r.HasCasePair = 0;
    if (r.Category != kCatLetter || r.IsTitle || r.UpperCase == r.LowerCase) continue;
    r.HasCasePair = m[r.LowerCase].UpperCase == r.UpperCase && m[r.UpperCase].LowerCase == r.LowerCase;
  }
  // 13. Undefined characters and composing marks have no case.
  for (std::size_t c = 0; c < kMapSize; ++c) {
    TMapInfo& r = m[c];
    if (!r.Defined || r.IsComposingMark) r.UpperCase = r.LowerCase = static_cast<std::uint16_t>(c);
  }
  gMap = std::move(map);
}

bool UnicodeMapBuilt() { return gMap != nullptr; }

const TMapInfo& CharInfo(char16_t c) {
  if (!gMap) ZM_FAIL("Unicode map not built");
  return gMap[c];
}

void InitUnicodeCharInfo() {
  if (!gMap) BuildUnicodeMap();
}

void FiniUnicodeCharInfo() { gMap.reset(); }

}  // namespace zm
