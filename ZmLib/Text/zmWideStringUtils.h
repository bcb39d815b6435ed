#pragma once
// Canonical decomposition, case-insensitive keys and a linguistic comparison
// of wide strings, built on the Unicode character map. Positions in wide
// strings are 1-based; a count of -1 means "to the end of the string".
#include <array>
#include <cstdint>

#include "ZmLib/zmTypes.h"

namespace zm {

// 1 for a combining mark whose combining class is 0, 9 or 27..34: these
// marks keep their place in canonical ordering.
bool IsFixedMark(char16_t c);

// Follows the first entry of the decomposition until a character without one.
char16_t GetBaseChar(char16_t c);

// Each character with a decomposition becomes its base followed by its marks
// in canonical order; marks of the text are put in canonical order.
WideString WideDecompose(const WideString& s, std::int32_t start = 1, std::int32_t count = -1);
// The decomposed text with every character in its lower-case form: the key
// under which names are compared without case and accents kept apart.
WideString WideLowerCaseCopy(const WideString& s, std::int32_t start = 1, std::int32_t count = -1);

constexpr std::int32_t kCompareLess = 0;
constexpr std::int32_t kCompareEqual = 1;
constexpr std::int32_t kCompareGreater = 2;
// Linguistic comparison ignoring letter case but not accents:
// kCompareLess, kCompareEqual or kCompareGreater.
std::int32_t WideCompareText(const WideString& a, std::int32_t startA, std::int32_t countA, const WideString& b,
                             std::int32_t startB, std::int32_t countB);
bool WideSameText(const WideString& a, const WideString& b);

// The characters that font substitution keeps together from index: one
// character (two for a surrogate pair) and the combining marks after it;
// 0 when index is outside the string.
std::int32_t FontClusterLength(const WideString& s, std::int32_t index);

void InitWideStringUtils();
void FiniWideStringUtils();

}  // namespace zm
