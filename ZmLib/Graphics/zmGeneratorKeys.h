#pragma once
// The keys under which generated pictures (object shadows, button faces and
// preset masks) are cached and requested. A key carries every parameter its
// generator needs, so a picture can be made again from its key alone; equal
// parameters give equal keys.
//
//   "Shadow: " Left ":" Top ":" Right ":" Bottom ":" MarginX ":" MarginY
//              ":" BackAlpha ":" Blur ":" Contour ":" Direction ":"
//              StartOpacity ":" EndOpacity ":" MipLevel ":" Name
//   "Button: " SkinName ":" State ":" Width ":" Hue ":" Saturation ":" Lightness
//   "PresetedMask:" Width ":" Height ":" Shape ":" Softness ":" CornerSize
//
// Integers are written in decimal, floats with a fixed number of decimals
// (2 for the shadow's rectangle and margins, 16 for the blur and the mask's
// softness and corner) with trailing zeros and point removed, never in
// exponent form, always with ".". Only the shadow's name, the last field,
// may hold ":". Parsers never fail: a field missing keeps the record's
// value, a field that is not a number takes that field's fallback.
#include <cstdint>

#include "ZmLib/zmTypes.h"

namespace zm {

// What a shadow is made from (see zmShadows for how each field is used).
// The record's field order is the order of this declaration.
struct TShadowParams {
  WideString Name;  // the object's picture, or "N\A" for a shape
  // The part of the picture that casts the shadow (shapes: 0, 0, w, h).
  float Left = 0, Top = 0, Right = 0, Bottom = 0;
  // Room for the blur added on each side, in x and in y.
  float MarginX = 0, MarginY = 0;
  std::int32_t BackAlpha = 0;  // alpha of the background the silhouette is drawn on
  float Blur = 0;              // blur radius
  std::int32_t Contour = 0;    // contour preset index
  // Shapes only: opacity gradient from StartOpacity to EndOpacity in
  // Direction (0..8); both 255 is a plain opaque rectangle.
  std::uint8_t StartOpacity = 255, EndOpacity = 255, Direction = 8;
  std::int32_t MipLevel = 0;  // mip level of the picture to use
  // Not carried by the key.
  std::uint8_t OffsetAlongAxes = 0;  // the offset follows the object's own axes
  std::uint8_t IgnoreAlpha = 0;      // an image shadow made as a shape

  friend bool operator==(const TShadowParams&, const TShadowParams&) = default;
};

// Button face states.
constexpr std::uint8_t kButtonNormal = 0;
constexpr std::uint8_t kButtonHover = 1;
constexpr std::uint8_t kButtonClick = 2;

struct TButtonKeyParams {
  WideString SkinName;
  std::uint8_t State = kButtonNormal;
  std::int32_t Width = 0;
  std::int32_t Hue = 0, Saturation = 0, Lightness = 0;

  friend bool operator==(const TButtonKeyParams&, const TButtonKeyParams&) = default;
};

// Mask shapes.
constexpr std::int32_t kMaskRoundRect = 0;
constexpr std::int32_t kMaskEllipse = 1;

// The record's field order is the order of this declaration.
struct TMaskParams {
  std::int32_t Shape = kMaskRoundRect;  // kMaskRoundRect or kMaskEllipse
  float Softness = 0;                   // edge softness, percent
  float CornerSize = 0;                 // corner size, percent
  std::int32_t Width = 0, Height = 0;

  friend bool operator==(const TMaskParams&, const TMaskParams&) = default;
};

inline constexpr char16_t kShadowKeyPrefix[] = u"Shadow: ";
inline constexpr char16_t kButtonKeyPrefix[] = u"Button: ";
inline constexpr char16_t kMaskKeyPrefix[] = u"PresetedMask:";
// The name of shapes without picture.
inline constexpr char16_t kNoPictureName[] = u"N\\A";

WideString MakeShadowKey(const TShadowParams& params);
// Keys shorter than 9 characters leave Params as it is. Fields not numbers:
// 0 for the floats, 255 for BackAlpha, 0 for Contour, 8 for Direction, 0 for
// StartOpacity, EndOpacity and MipLevel. Numbers outside a byte field's
// range keep their low 8 bits.
void ParseShadowKey(const WideString& key, TShadowParams& params);

WideString MakeButtonKey(const WideString& skinName, std::uint8_t state, std::int32_t width, std::int32_t hue,
                         std::int32_t saturation, std::int32_t lightness);
WideString MakeButtonKey(const TButtonKeyParams& params);
// Fields from the 9th character on; a number field that is not a number
// gives 0. The skin name is the text up to the first ":".
void ParseButtonKey(const WideString& key, TButtonKeyParams& params);

WideString MakeMaskKey(const TMaskParams& params);
// Keys shorter than 14 characters leave Params as it is; leading blanks of a
// field are skipped. Fields not numbers: 512 for Width and Height, 0 for
// Softness and CornerSize; Shape is kMaskRoundRect unless the field is 0 or 1.
void ParseMaskKey(const WideString& key, TMaskParams& params);

}  // namespace zm
