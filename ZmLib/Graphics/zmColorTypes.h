#pragma once
// The colour vocabulary: 32- and 24-bit colour records, the text form of a
// colour (show descriptions, cache keys), Windows colour values, blends and
// the text-appearance record TFontParams.
#include <cstdint>

#include "ZmLib/zmByteString.h"
#include "ZmLib/zmTypes.h"

namespace zm {

// Four bytes in memory order blue, green, red, alpha: as a little-endian
// word 0xAARRGGBB. Alpha 255 is opaque.
struct TColor32 {
  std::uint8_t B = 0, G = 0, R = 0, A = 0;

  constexpr std::uint32_t Value() const {
    return std::uint32_t(B) | std::uint32_t(G) << 8 | std::uint32_t(R) << 16 | std::uint32_t(A) << 24;
  }
  static constexpr TColor32 FromValue(std::uint32_t v) {
    return {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)};
  }
  friend bool operator==(const TColor32&, const TColor32&) = default;
};
static_assert(sizeof(TColor32) == 4);

// Three bytes in memory order blue, green, red.
struct TColor24 {
  std::uint8_t B = 0, G = 0, R = 0;
  friend bool operator==(const TColor24&, const TColor24&) = default;
};
static_assert(sizeof(TColor24) == 3);

// A Windows colour value (COLORREF): 0x00BBGGRR.
using TColorRef = std::uint32_t;

// ---- Colour text --------------------------------------------------------------

// The text forms, fields split at ",":
//   "#RRGGBB"[,alpha]   hexadecimal 0xRRGGBB;
//   "<decimal>"[,alpha]  a Windows colour value 0x00BBGGRR;
//   red,green,blue[,alpha]  decimal, each kept as its low byte.
// A one- or two-field alpha may be "#hex" too and is cut to 255; a missing
// alpha is 255 and a missing or bad number 0. Any other field count (empty
// text, five fields or more) gives Default.
TColor32 StrToColor32Def(const TByteString& text, TColor32 def);
TColor32 ByteStrToColor32(const TByteString& text);  // default 0
TColor32 StrToColor32(const WideString& text);       // as UTF-8, default 0

// ---- Conversions ----------------------------------------------------------------

TColor24 RGBToColor24(std::uint8_t r, std::uint8_t g, std::uint8_t b);
TColor32 MakeColor32(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a);
TColor32 Color24ToColor32(std::uint8_t a, TColor24 c);
TColor32 TransparentColor32(TColor32 c);  // alpha 0
TColorRef Color32ToColorRef(TColor32 c);  // alpha dropped
TColor24 ColorRefToColor24(TColorRef v);
TColor32 ColorRefToColor32(TColorRef v, std::uint8_t a);
// Per byte (c1 + c2) shr 1, alpha included.
TColor32 AverageColor32(TColor32 c1, TColor32 c2);
// Per byte c1 + (c2 - c1) * w / 256 (division truncating toward zero),
// alpha included. W runs 0 (C1) to 256 (C2); values outside are clamped.
TColor32 BlendColor32(TColor32 c1, TColor32 c2, std::int32_t w);
bool SameRGB(TColor32 c1, TColor32 c2);
// All four bytes equal; with bothClearEqual, also any two colours of alpha 0.
bool SameColor32(TColor32 c1, TColor32 c2, bool bothClearEqual);
// Source over Dest in place, both with straight alpha.
void BlendOverColor32(TColor32& dest, TColor32 source);

// ---- Text appearance ------------------------------------------------------------

constexpr std::uint8_t fsBold = 1;
constexpr std::uint8_t fsItalic = 2;
constexpr std::uint8_t fsUnderline = 4;
constexpr std::uint8_t fsStrikeOut = 8;

// Transparency modes of TFontParams.
constexpr std::uint8_t tmOpaque = 0;    // drawn on the background colour
constexpr std::uint8_t tmKeyed = 1;     // keyed on the background colour
constexpr std::uint8_t tmAutoKey = 2;   // automatic key

struct TFontParams {
  WideString Name;  // the font face
  float Size = 0;
  std::uint8_t Style = 0;  // fsBold | fsItalic | fsUnderline | fsStrikeOut
  TColor24 TextColor;
  TColor24 BackColor;
  std::uint8_t Transparency = tmOpaque;
};

// Mode tmKeyed when transparent is set, else tmOpaque.
TFontParams MakeFontParams(const WideString& name, std::uint8_t style, bool transparent, float size,
                           TColor24 textColor, TColor24 backColor);

// Bits of the AssignFontParams mask.
constexpr std::uint32_t fpName = 1;
constexpr std::uint32_t fpSize = 2;
constexpr std::uint32_t fpStyle = 4;
constexpr std::uint32_t fpColors = 8;  // text colour, background colour and mode
// Copies the masked parts that differ; true when anything was copied.
bool AssignFontParams(TFontParams& dest, const TFontParams& source, std::uint32_t mask);
// Name (exact), size and style equal.
bool SameFontFace(const TFontParams& a, const TFontParams& b);
// Modes and text colours equal and, unless the mode is tmAutoKey, background
// colours equal.
bool SameFontColors(const TFontParams& a, const TFontParams& b);
bool IsTransparentText(const TFontParams& p);  // mode <> tmOpaque
// Off sets tmOpaque; on turns tmOpaque into tmAutoKey and keeps the others.
void SetTransparentText(TFontParams& p, bool on);

}  // namespace zm
