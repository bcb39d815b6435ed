#pragma once
// Text services of the stand-in layer: upper- and lower-casing of single
// code points (locale-independent), the script a code point is written in,
// and conversion of code-page text to UTF-16.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace plat {

// The simple upper- and lower-case mapping of a code point, from the C.UTF-8
// character tables whatever the user's locale; a code point without a
// mapping (or beyond U+10FFFF) is returned unchanged.
std::uint32_t UpperCaseChar(std::uint32_t c);
std::uint32_t LowerCaseChar(std::uint32_t c);

// The script of a code point as its four-letter ISO 15924 tag packed big-end
// first ('Latn', 'Cyrl', 'Hani' ...): 'Zyyy' for characters common to many
// scripts (digits, punctuation, symbols), 'Zinh' for marks that take the
// script of the letter before them, 'Zzzz' for unassigned code points.
std::uint32_t ScriptOfChar(std::uint32_t c);
constexpr std::uint32_t ScriptTag(char a, char b, char c, char d) {
  return std::uint32_t(std::uint8_t(a)) << 24 | std::uint32_t(std::uint8_t(b)) << 16 |
         std::uint32_t(std::uint8_t(c)) << 8 | std::uint8_t(d);
}

constexpr std::uint32_t kCodePageAnsi = 0;  // the system ANSI code page (see below)
constexpr std::uint32_t kCodePageOem = 1;
constexpr std::uint32_t kCodePageUtf8 = 65001;

// The system ANSI code page: what code page 0 reads text that is not valid
// UTF-8 in. Windows-1252 until set; the start-up sets it from the locale.
// Safe to call from several threads.
constexpr std::uint32_t kDefaultAnsiCodePage = 1252;
void SetAnsiCodePage(std::uint32_t codePage);
std::uint32_t AnsiCodePage();

// Decodes bytes in a Windows code page and appends the UTF-16 text to out.
// Code page 0 (and 3, the thread's ANSI page) is UTF-8 when the bytes are
// valid UTF-8, else the ANSI code page (Windows-1252 when that cannot be
// converted): text files written on Windows in the language of the user's
// locale read as they were written. Bytes that the code page does not
// define become U+FFFD (Windows-1252 maps its five unused bytes to the
// control characters of the same value, as Windows does). False, with
// nothing appended, for a code page that this system cannot convert.
bool CodePageToUtf16(std::uint32_t codePage, const unsigned char* data, std::size_t size, std::u16string& out);

// True when the bytes are well-formed UTF-8 (no over-long forms, no encoded
// surrogates, nothing above U+10FFFF).
bool IsValidUtf8(const unsigned char* data, std::size_t size);

// The parts of text between the characters isSeparator accepts; empty parts
// (doubled, leading or trailing separators) are dropped.
std::vector<std::u16string> SplitNonEmpty(const std::u16string& text, bool (*isSeparator)(char16_t));

}  // namespace plat
