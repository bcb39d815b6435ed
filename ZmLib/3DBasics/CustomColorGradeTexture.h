#pragma once
// Colour-grading look-up tables. A cube table has 32 entries per channel,
// laid out as a bitmap of 32 columns and 1024 rows: row 32 * z + y holds
// slice z, row y, and column x the entry of red index x, green index y and
// blue index z. The lattice level of index i is 8 * i + i div 4, so that
// index 31 reaches 255.
#include <cstdint>

namespace zm {

class TSysBitmap;

constexpr std::int32_t kGradeCubeSize = 32;
constexpr std::int32_t kGradeCubeRows = kGradeCubeSize * kGradeCubeSize;

// The lattice level of index i (0 to 31).
constexpr std::uint8_t GradeLevel(std::int32_t i) { return static_cast<std::uint8_t>(8 * i + i / 4); }

// Adds the identity's levels to every entry of a 24-bit cube table (pixels
// of three bytes: blue, green, red), byte by byte with wrap-around, which
// turns a stored table of differences into a table of colours. A table that
// is not 32 x 1024 pixels of three bytes fails an assertion and is left as
// it was.
void AddIdentityLut24(TSysBitmap* table);

}  // namespace zm
