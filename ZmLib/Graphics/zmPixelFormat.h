#pragma once
// Pixel formats and pixel converters as the rest of the system sees them,
// and the names of the formats it uses.
//
// A format is named by its channels from the most significant bits down,
// each a letter (R, G, B, A, Y or X for bits that carry nothing) and its
// width: "A8R8G8B8" is one little-endian 32-bit word 0xAARRGGBB, so its bytes
// in memory are blue, green, red, alpha. Lower-case colour letters mark
// premultiplied colour ("A8r8g8b8"). Formats are made once per name by the
// registry (SysPixelFormat) and shared; look them up through
// PixelFormatByNameHook (zmBitmap). Nobody frees a format.
#include <cstdint>

#include "ZmLib/Graphics/zmColorTypes.h"
#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/zmByteString.h"

namespace zm {

// ---- Names ------------------------------------------------------------------------

inline constexpr char PF_Y8[] = "Y8";
inline constexpr char PF_A8[] = "A8";
inline constexpr char PF_R8G8B8[] = "R8G8B8";      // bytes B, G, R
inline constexpr char PF_B8G8R8[] = "B8G8R8";      // bytes R, G, B
inline constexpr char PF_A8R8G8B8[] = "A8R8G8B8";  // bytes B, G, R, A (TColor32)
inline constexpr char PF_A8B8G8R8[] = "A8B8G8R8";  // bytes R, G, B, A
inline constexpr char PF_X8B8G8R8[] = "X8B8G8R8";  // bytes R, G, B, unused
inline constexpr char PF_B5G6R5[] = "B5G6R5";      // red bits 0-4, green 5-10, blue 11-15
inline constexpr char PF_B5G5R5X1[] = "B5G5R5X1";  // X bit 0, red 1-5, green 6-10, blue 11-15
inline constexpr char PF_R5G6B5[] = "R5G6B5";      // blue bits 0-4, green 5-10, red 11-15
inline constexpr char PF_X1R5G5B5[] = "X1R5G5B5";  // blue bits 0-4, green 5-9, red 10-14
// Premultiplied forms of "A8R8G8B8" and "A8B8G8R8".
inline constexpr char PF_A8r8g8b8[] = "A8r8g8b8";
inline constexpr char PF_A8b8g8r8[] = "A8b8g8r8";

// ---- Formats ------------------------------------------------------------------------

// Colour models.
constexpr std::uint8_t cmColor = 0;       // colour channels without alpha
constexpr std::uint8_t cmNoColor = 2;     // no red, green or blue channel ("Y8", "A8", "")
constexpr std::uint8_t cmColorAlpha = 3;  // colour channels with alpha

class TPixelFormat : public TRefObject {
public:
  TByteString Name;  // exactly as registered: case matters
  std::uint8_t ColorModel = cmNoColor;
  std::uint8_t Reserved = 0;
  std::uint8_t Packed = 0;         // some channel's width is not a multiple of 8
  std::uint8_t HasAlpha = 0;       // an A (or Y) channel
  std::uint8_t Premultiplied = 0;  // colour premultiplied by alpha
  std::int32_t BytesPerPixel = 1;  // (bits - 1) div 8 + 1; 1 for no bits
  std::int32_t BitsPerPixel = 0;
};

// ---- Converters ------------------------------------------------------------------

// Turns runs of pixels of one format into another. The four operations take
// the target row of 1-, 2-, 3- or 4-byte pixels (by the target format's
// pixel size), the target column X, and the source buffer with a byte
// offset; they convert Count pixels. For a target of another pixel size use
// Convert8 with a row already advanced to the first target pixel and X 0.
// Converters are shared and read-only: they keep no state between calls.
class TPixelConverter : public TRefObject {
public:
  virtual void Convert8(std::uint8_t* row, std::int32_t x, const std::uint8_t* buffer, std::int32_t offset,
                        std::int32_t count) const = 0;
  virtual void Convert16(std::uint16_t* row, std::int32_t x, const std::uint8_t* buffer, std::int32_t offset,
                         std::int32_t count) const = 0;
  virtual void Convert24(TColor24* row, std::int32_t x, const std::uint8_t* buffer, std::int32_t offset,
                         std::int32_t count) const = 0;
  virtual void Convert32(std::uint32_t* row, std::int32_t x, const std::uint8_t* buffer, std::int32_t offset,
                         std::int32_t count) const = 0;
};

}  // namespace zm
