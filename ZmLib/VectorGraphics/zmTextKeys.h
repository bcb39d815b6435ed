#pragma once
// Text description strings: the keys under which rendered texts ("Text: ")
// and their vector outlines ("VectTxt2: ") are cached. A key describes the
// text completely: font, style, the numbers that set its appearance and the
// lines. Lines are marked first so that their letter case survives stores
// that compare names without case.
//
//   "Text: " font ":" scale ":" offset x ":" offset y ":" style ":" alignment
//            ":" size factor ":" spacing ":" quoted lines
//   "VectTxt2: " font ":" style ":" quoted lines
//
// Only the quoted lines may hold ":"; they run to the end of the key.
#include <cstdint>

#include "ZmLib/zmStringList.h"
#include "ZmLib/zmTypes.h"

namespace zm {

struct TTextKeyParams {
  WideString FontName;
  std::uint8_t Style = 0;       // fsBold 1, fsItalic 2, fsUnderline 4, fsStrikeOut 8
  std::uint8_t Alignment = 1;   // line alignment
  std::int32_t LineSpacing = 0;  // extra (ascent + descent) * scale * spacing / 200 between lines
  std::int32_t Color = -1;      // render colour; not carried by the key
  double Scale = 1.0;           // font units to pixels
  double SizeFactor = 1.0;
  float OffsetX = 0.0f;
  float OffsetY = 0.0f;
};

// The defaults; parsers start from a copy of it.
extern const TTextKeyParams DefaultTextKeyParams;

// What a "VectTxt2: " key carries.
struct TVectorTextKeyParams {
  WideString FontName;
  std::uint8_t Style = 0;
};

inline constexpr char16_t kTextKeyPrefix[] = u"Text: ";
inline constexpr char16_t kVectorTextKeyPrefix[] = u"VectTxt2: ";

// The "Text: " key of marked lines.
WideString MakeTextKey(TStringList& lines, const TTextKeyParams& params);
// Reads a "Text: " key back from its 7th character on; a field that does
// not read as a number keeps the value Params held on entry. Lines receives
// the (still marked) lines.
void ParseTextKey(const WideString& key, TStringList& lines, TTextKeyParams& params);
// The "VectTxt2: " key of a "Text: " key: its font, style and lines.
WideString MakeVectorTextKey(const WideString& textKey);
// Font name, style and lines of a "VectTxt2: " key, from its 11th character.
void ParseVectorTextKey(const WideString& key, TStringList& lines, TVectorTextKeyParams& params);

// "Bold", "Italic", "Underline", "StrikeOut" for the bits 1, 2, 4, 8, joined
// by ",". TextToStyle takes the parts between "," that equal a word exactly.
WideString StyleToText(std::uint8_t style);
std::uint8_t TextToStyle(const WideString& text);

// The lines joined by CR LF between double quotes.
WideString LinesToKeyText(TStringList& lines);
// Lines is cleared; a text of two or more characters loses a leading and a
// trailing double quote (each when present); the rest is split at CR, LF,
// CR LF and LF CR. An empty rest gives no lines.
void KeyTextToLines(const WideString& text, TStringList& lines);

// "<" becomes "<<", ">" becomes ">>", and every run of characters that
// lower-casing changes is put between "<" and ">".
WideString EncodeMarkedText(const WideString& text);
// A new list of the marked lines.
TRef<TStringList> EncodeMarkedLines(TStringList& lines);
// The text with the marks removed.
WideString DecodeMarkedText(const WideString& text);

}  // namespace zm
