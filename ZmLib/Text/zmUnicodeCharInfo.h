#pragma once
// One information record for each character of the Basic Multilingual
// Plane (case forms, category, combining class, canonical decomposition),
// built once at start-up from compact tables generated from the Unicode
// Character Database (tools/GenUnicodeTables.cpp). Read-only afterwards: no
// lock is needed to read it.
#include <array>
#include <cstdint>
#include <utility>
#include <vector>

namespace zm {

// Categories.
constexpr std::uint8_t kCatUndefined = 0;
constexpr std::uint8_t kCatLetter = 1;
constexpr std::uint8_t kCatMark = 2;  // combining mark
constexpr std::uint8_t kCatNumber = 3;
constexpr std::uint8_t kCatSpace = 4;    // space separator
constexpr std::uint8_t kCatControl = 5;  // control or format character
constexpr std::uint8_t kCatPunctuation = 6;
constexpr std::uint8_t kCatSymbol = 7;

// The rank of each category in comparisons: space < punctuation < number <
// symbol < letter < mark < control < undefined.
inline constexpr std::array<std::uint8_t, 8> CategoryOrder = {255, 5, 6, 3, 1, 7, 2, 4};

struct TMapInfo {
  std::uint16_t UpperCase = 0;  // the character itself when it has none
  std::uint16_t LowerCase = 0;
  std::uint8_t Category = kCatUndefined;
  std::uint8_t Reserved = 0;
  std::uint8_t IsComposingMark = 0;  // the mark of at least one decomposition
  std::uint8_t IsUpper = 0;
  std::uint8_t IsTitle = 0;
  std::uint8_t HasCasePair = 0;  // upper and lower form map to each other both ways
  std::uint8_t Defined = 0;
  std::uint8_t CombiningClass = 0;  // marks only
  std::vector<std::uint16_t> Decomposition;  // empty, or base and combining mark
  std::vector<std::uint16_t> TitleForms;     // the title-case letter of this upper or lower form
  // For a mark: each (base, composed character) whose decomposition ends in it.
  std::vector<std::pair<std::uint16_t, std::uint16_t>> Compositions;
};

// The record of a character; the map must have been built.
const TMapInfo& CharInfo(char16_t c);
bool UnicodeMapBuilt();
// Clears and fills the map (the module's start-up runs it).
void BuildUnicodeMap();

void InitUnicodeCharInfo();
void FiniUnicodeCharInfo();

}  // namespace zm
