#pragma once
// Small text functions: numbers with the position of the first character
// that is not part of them, substring positions and ends of texts compared
// with or without case. Positions are 1-based, as everywhere in wide text.
#include <cstdint>

#include "ZmLib/zmTypes.h"

namespace zm {

// An integer, by the rules of StrToInt: optional blanks (code 32), an
// optional sign, then decimal digits, or hexadecimal digits after "$" or
// "0x" (hexadecimal takes 32 bits and wraps into the signed range). Code is
// 0 on success; otherwise it is the position of the first character that
// does not fit (the digit that makes the value overflow included), or the
// length + 1 when the text ends where a digit is needed, and value is 0.
void ValInt(const WideString& s, std::int32_t& value, std::int32_t& code);

// A decimal number: optional blanks (code 32), an optional sign, digits with
// an optional "." and fraction (at least one digit in all), and an optional
// exponent ("e" or "E", optional sign, digits). "." is the decimal point
// whatever the locale. Code as for ValInt; a number beyond the double range
// fails at the position of its first digit, one too small for it gives 0.
void ValFloat(const WideString& s, double& value, std::int32_t& code);

// The position of the first occurrence of sub in s at or after offset; 0
// when there is none, when sub is empty or when offset is outside 1..length.
std::int32_t PosText(const WideString& sub, const WideString& s, std::int32_t offset = 1);

// True when text ends with ending, compared after Unicode case folding
// ("IMAGE.JPG" ends with ".jpg"); an empty ending is at the end of any text.
bool TextEndsWith(const WideString& text, const WideString& ending);
// The same as an exact comparison.
bool TextEndsWithExact(const WideString& text, const WideString& ending);

}  // namespace zm
