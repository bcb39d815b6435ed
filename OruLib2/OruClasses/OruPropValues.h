#pragma once
// Readers of the text values of the show description: points, rectangles,
// vectors, colours, font styles and the flag characters of effect
// definitions. Each splits the item's text at "," and keeps the caller's
// default when the text does not have the expected number of parts; a nil
// item reads as its default too.
//
// Positions in wide strings are 1-based, as everywhere in the framework.
#include <array>
#include <cstdint>

#include "ZmLib/Graphics/zmColorTypes.h"
#include "ZmLib/Graphics/zmRectUtils.h"
#include "ZmLib/zmIni.h"
#include "ZmLib/zmTypes.h"

namespace oru {

using zm::WideString;

// Sampling modes of pictures, by index 0 .. 2.
inline constexpr std::array<const char16_t*, 3> SamplingModeNames = {u"Nearest", u"Bilinear", u"Default"};

// True for the flag character "1" (anything else is an unset flag).
constexpr bool IsFlagChar(char16_t c) { return c == u'1'; }
bool IsFlagChar(const WideString& text);  // exactly "1"

// Six decimals, trailing zeros and a bare point removed ("0.5", "2").
WideString FormatFloat6(double value);

// "x,y": two 32-bit integers; anything but exactly two numbers gives the
// default point.
zm::TPoint ReadItemPoint(const zm::TIniItem* item, zm::TPoint def);
zm::TPoint ReadItemPoint(const zm::TIniList* section, const WideString& key, zm::TPoint def);
// Four numbers (left, top, right, bottom) as 32-bit floats; anything but
// exactly four numbers a float holds gives the default rectangle.
zm::TFloatRect ReadItemRectF(const zm::TIniItem* item, const zm::TFloatRect& def);
// Three numbers likewise.
zm::TFloatPoint3 ReadItemVector3(const zm::TIniItem* item, const zm::TFloatPoint3& def);
// The colour text forms of StrToColor32Def; alpha 255 when not given.
zm::TColor32 ReadItemColor(const zm::TIniItem* item, zm::TColor32 def);
zm::TColor24 ReadItemRGB(const zm::TIniItem* item, zm::TColor24 def);
// Comma-separated words "Bold", "Italic", "Underline", "StrikeOut" (letter
// case as written; blanks around a word are skipped) as fsBold ... fsStrikeOut.
std::uint8_t ReadItemFontStyle(const zm::TIniItem* item);

// A colour 0xRRGGBB as its bytes in the order red, green, blue.
struct TRGBBytes {
  std::uint8_t R = 0, G = 0, B = 0;
  friend bool operator==(const TRGBBytes&, const TRGBBytes&) = default;
};
TRGBBytes ColorToRGBBytes(std::int32_t value);

// "TextWithSize: <width>:<height>:<text>". Leading blanks of each field are
// skipped; a width or height that is not a number gives 0; the text is the
// rest of the key. False (zeros and empty text) when the key lacks the prefix.
inline constexpr char16_t kTextWithSizePrefix[] = u"TextWithSize: ";
bool ParseTextWithSizeKey(const WideString& key, std::int32_t& width, std::int32_t& height, WideString& text);

}  // namespace oru
