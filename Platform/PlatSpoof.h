#pragma once
// Text that cannot pose as other text: which characters read as themselves
// (ICU's Unicode confusables data and normalisation), and host names in the
// ASCII form a browser looks them up by (ICU's IDNA).
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

// For each code point of Text, whether it reads as itself. ASCII from "!"
// to "~" always does. Any other character does only where all of these hold:
// - its stretch of the text (up to the next character that starts anew
//   under normalisation) is in NFC;
// - it is its own skeleton in the confusables data (the skeleton of it
//   equals its NFD form): no other character or sequence draws alike;
// - it is assigned, not private use, not a control, format or surrogate
//   code point, not a space (the blank neither), not default-ignorable;
// - Drawn, when given, says the font it is drawn in has a glyph for it;
// - a combining mark follows a letter, digit or mark that reads as itself;
// - a combining dot above (U+0307) does not stand where it would be hidden
//   (Unicode's hidden overlay): on a soft-dotted letter such as i or j, on
//   l, dotless i or j, or a letter whose look-alike prototype ends in one,
//   with only marks below or beside it between.
// A value past U+10FFFF, or a surrogate (half a pair, or a byte that was
// no valid UTF-8), never does. Without ICU's data nothing but ASCII from
// "!" to "~" does.
std::vector<bool> ReadsAsItself(std::u32string_view text, const std::function<bool(char32_t)>& drawn = {});

// A combining mark (general category M: nonspacing, spacing or enclosing).
bool IsCombiningMark(char32_t c);

// Whether Unicode recommends the character for identifiers (UTS #39
// Identifier_Status Allowed: the letters of the scripts in common use);
// false without ICU's data.
bool RecommendedInIdentifiers(char32_t c);

// The ASCII form of a host name given in UTF-8, as UTS #46 makes it
// (non-transitional, as browsers look names up: "münchen.de" becomes
// "xn--mnchen-3ya.de", capitals become small letters). False, with Ascii
// empty, when the name has none (IDNA refuses one of its labels).
bool HostNameToAscii(std::string_view host, std::string& ascii);

// Text with its letter case folded as Unicode folds it for matching
// without regard to case ("S" and "ſ" as "s", the Kelvin sign as "k",
// "ß" as "ss"); Text as it is when ICU cannot.
std::u16string FoldCase(std::u16string_view text);

// Whether a character shows nothing: a blank or any other space, a line
// end, a control, format or default-ignorable character.
bool ShowsNothing(char32_t c);

}  // namespace plat
