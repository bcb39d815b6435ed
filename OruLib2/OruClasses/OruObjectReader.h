#pragma once
// Reading an object's fixed appearance from its block of the show
// description. Key names are matched without letter case; a missing key, or
// a value that does not parse, gives the default. Every class reads its own
// keys in ReadProps and ends with the inherited ReadProps, so the keys every
// object has (ReadOruObjectBaseKeys) come last.
#include <array>
#include <cstdint>
#include <span>

#include "OruLib2/OruClasses/OruObjectProps.h"
#include "ZmLib/Graphics/zmColorTypes.h"
#include "ZmLib/Graphics/zmRectUtils.h"
#include "ZmLib/zmIni.h"
#include "ZmLib/zmTypes.h"

namespace oru {

class TOruObject;

inline constexpr std::array<const char16_t*, 3> FitModeNames = {u"None", u"PlaceInto", u"Cover"};
inline constexpr std::array<const char16_t*, 2> PosModeNames = {u"Absolute", u"Percent"};

// The item of a key in the object's block; nil without properties, without
// a block or without the key.
zm::TIniItem* FindPropItem(const TOruObjectProps* props, const char16_t* key);

// "1" true, "0" false, anything else the default.
bool ReadPropBool(const TOruObjectProps* props, const char16_t* key, bool def);
// Decimal 32-bit.
std::int32_t ReadPropInt(const TOruObjectProps* props, const char16_t* key, std::int32_t def);
// "." as the decimal point, optional exponent; NaN and infinities give the default.
double ReadPropFloat(const TOruObjectProps* props, const char16_t* key, double def);
// The same as a single; values beyond its range give the default.
float ReadPropSingle(const TOruObjectProps* props, const char16_t* key, float def);
// One of the words, letter case ignored: its index.
std::int32_t ReadPropEnum(const TOruObjectProps* props, const char16_t* key, std::span<const char16_t* const> names,
                          std::int32_t def);
// UTF-8 text as stored.
WideString ReadPropString(const TOruObjectProps* props, const char16_t* key, const WideString& def = {});
// "colour[,alpha]" or "R,G,B[,A]".
zm::TColor24 ReadPropRGB(const TOruObjectProps* props, const char16_t* key, zm::TColor24 def);
zm::TColor32 ReadPropColor(const TOruObjectProps* props, const char16_t* key, zm::TColor32 def);
// Four floats, the default unless exactly four numbers are given.
zm::TFloatRect ReadPropRectF(const TOruObjectProps* props, const char16_t* key, const zm::TFloatRect& def);
// Two integers, the default unless exactly two numbers are given.
zm::TPoint ReadPropPoint(const TOruObjectProps* props, const char16_t* key, zm::TPoint def);
// "Bold", "Italic", "Underline", "StrikeOut" as bits 1, 2, 4, 8; 0 when absent.
std::uint8_t ReadPropFontStyle(const TOruObjectProps* props, const char16_t* key);

// A drawn colour as the display shows it: corrected for the display's
// colour profile unless colour management is off.
zm::TColor24 CorrectDisplayColor(zm::TColor24 colour);
zm::TColor32 CorrectDisplayColor32(zm::TColor32 colour);  // alpha kept

// The keys every object has (the base ReadProps): fit, position and centre
// modes, click-through, shadow, HideMode, ChildInvis and Action. The shadow
// is on by default when ShadowOnByDefault (text objects).
void ReadOruObjectBaseKeys(TOruObject& object, const TOruObjectProps* props, bool shadowOnByDefault);

// ---- Keys of the kinds whose classes build on the image ----------------------------------

inline constexpr std::array<const char16_t*, 3> TextAlignNames = {u"Left", u"Center", u"Right"};

// A text object's own keys, read before the image keys. The caller fills
// the record from the text description's defaults first; those are the
// defaults of the keys (the hover and click colours default to the text
// colour just read). The corrected colours are those the display shows.
struct TOruTextKeys {
  zm::TColor24 TextColor{255, 255, 255};
  zm::TColor24 TextColorHover{255, 255, 255};
  zm::TColor24 TextColorClick{255, 255, 255};
  zm::TColor24 TextColorCorrected{255, 255, 255};
  zm::TColor24 TextColorHoverCorrected{255, 255, 255};
  zm::TColor24 TextColorClickCorrected{255, 255, 255};
  WideString FontName;
  std::uint8_t FontStyle = 0;   // bits 1, 2, 4, 8
  std::uint8_t TextAlign = 1;   // Left, Center, Right
  std::int32_t LineSpacing = 0;
  bool Rasterize = false;
  WideString RasterizedGUID;
  bool IsComment = false;
};
void ReadOruTextKeys(const TOruObjectProps* props, TOruTextKeys& keys);

// A button's own keys: the first part before the image keys, the second
// after them (BtnMinWidth defaults to the button's current minimum width).
struct TOruButtonKeys {
  WideString Theme;
  float BtnOpacity = 100;
  float TxtOpacity = 100;
  std::int32_t Hue = 0;
  std::int32_t Saturation = 0;
  std::int32_t Lightness = 0;
  float BtnMinWidth = 0;
  float BtnOffsetX = 100;
};
void ReadOruButtonKeys(const TOruObjectProps* props, TOruButtonKeys& keys);
void ReadOruButtonLateKeys(const TOruObjectProps* props, TOruButtonKeys& keys);

}  // namespace oru
