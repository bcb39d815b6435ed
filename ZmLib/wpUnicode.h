#pragma once
// Text encodings and string utilities: UTF-8 <-> UTF-16, case folding from
// the Unicode case-folding tables (never the system locale), upper- and
// lower-casing, code pages, and a few parsers with fixed rules.
//
// Index bases: positions in wide strings are 1-based (Start = 1 is the first
// character); positions in bytes are 0-based. Ranges are clamped to the
// text, so a Count larger than what is left means "to the end".
#include <array>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/zmByteString.h"
#include "ZmLib/zmTypes.h"

namespace zm {

ZM_COMMON_EXCEPTION(EConvertError, TCommonException)

// ============================================================================
// Case folding
// ============================================================================

// One page of the fold tables: 256 code points.
class TCharPage : public TRefObject {
public:
  TCharPage(std::uint32_t pageIndex);
  void Dispose() override;

  std::uint16_t Folds[256];  // low 16 bits of each character's fold
  std::uint32_t High = 0;    // the bits above 16 of the page's code points
  // Multi-character folds, from the page's first such character on.
  std::vector<WideString> Expansions;
  std::int32_t ExpansionBase = 0;
  std::int32_t ExpansionCount = 0;
  TCharPage* NextPage = nullptr;  // creation order

private:
  std::uint32_t index_;
};

constexpr std::uint32_t kCharPageCount = 4352;  // U+0000..U+10FFFF in pages of 256

namespace detail {
// The page directory: nil where every character of the page folds to itself.
extern TCharPage* CharPages[kCharPageCount];
}  // namespace detail

// The simple fold of a code point (itself when its page has no table).
inline std::uint32_t FoldChar(std::uint32_t c) {
  if (c > 0x10FFFF) return c;
  const TCharPage* page = detail::CharPages[c >> 8];
  if (!page) return c;
  return (page->High << 16) | page->Folds[c & 0xFF];
}
// Folds characters Start..Start+Count-1 (full folding: "ß" becomes "ss"),
// appending to result; surrogate pairs fold as one code point.
void CaseFold(const WideString& s, std::int32_t start, std::int32_t count, WideString& result);
WideString CaseFold(const WideString& s);

// Folded comparisons: negative, 0 or positive (the difference of the first
// differing folded code points; when a range runs out first, the difference
// of the lengths).
std::int32_t CompareFoldRange(const WideString& a, const WideString& b, std::int32_t start, std::int32_t count);
std::int32_t CompareFoldRanges(const WideString& a, const WideString& b, std::int32_t startA, std::int32_t count,
                               std::int32_t startB);
// Counts are clamped to each string from its start (starts below 1 count as
// 1); the shorter range is compared and, when equal, the result is
// countA - countB.
std::int32_t CompareTextRange(const WideString& a, const WideString& b, std::int32_t startA, std::int32_t countB,
                              std::int32_t countA, std::int32_t startB);
bool SameText(const WideString& a, const WideString& b);
std::int32_t CompareStrings(const WideString& a, const WideString& b, bool ignoreCase);
// Difference of the first differing code units of the two ranges, 0 when equal.
std::int32_t CompareOrdinalRange(const WideString& a, const WideString& b, std::int32_t startA, std::int32_t count,
                                 std::int32_t startB);

// ============================================================================
// Upper and lower case
// ============================================================================

extern const std::array<char16_t, 128> AsciiUpperCase;
extern const std::array<char16_t, 128> AsciiLowerCase;
// Set on systems without the wide case conversion; never on this one.
extern bool NoWideCaseConversion;

// Each returns S with the range converted.
WideString UpperCase(const WideString& s);
WideString UpperCaseLeft(const WideString& s, std::int32_t count);
WideString UpperCaseRange(const WideString& s, std::int32_t start, std::int32_t count);
WideString LowerCase(const WideString& s);
WideString LowerCaseRange(const WideString& s, std::int32_t start, std::int32_t count);

// ============================================================================
// UTF-8
// ============================================================================
// The encoder writes each UTF-16 code unit on its own: a surrogate pair
// becomes two three-byte sequences, which the decoder joins again. Text for
// the OS goes through the platform's converter instead.

// Bytes needed for a wide range: 1 below 128, 2 below 2048, else 3.
std::int32_t UTF8Length(const WideString& s, std::int32_t start = 1, std::int32_t count = kMaxCount32);
TByteString UTF8Encode(const WideString& s);
void UTF8EncodeRange(const WideString& s, std::int32_t start, std::int32_t count, TByteString& bytes);
// Encodes into buffer from pos while whole characters fit; returns the
// characters taken, written holds the bytes written.
std::int32_t UTF8EncodeBuf(const WideString& s, std::int32_t start, std::int32_t count, std::span<std::uint8_t> buffer,
                           std::int32_t pos, std::int32_t& written);
void UTF8EncodeToBytes(const WideString& s, std::int32_t start, std::int32_t count, std::vector<std::uint8_t>& bytes);

// The UTF-16 length of bytes[first..last] (0-based, inclusive): room enough
// for the decoded text (an over-long four-byte form counts two units but
// decodes to one). A byte that cannot start a sequence, or a range that does
// not end exactly at last, fails the assertion "Invalid UTF8 Char".
std::int32_t UTF16Count(std::span<const std::uint8_t> bytes, std::int32_t first, std::int32_t last);
// Strict decoding: malformed input fails the assertion "Invalid UTF8 Char"
// (lenient decoding of outside data is TByteString::ToWide).
void UTF8Decode(const TByteString& bytes, WideString& s);
WideString UTF8Decode(const TByteString& bytes);
void UTF8DecodeRange(const TByteString& bytes, std::int32_t start, std::int32_t count, WideString& s);
void UTF8DecodeBuf(std::span<const std::uint8_t> bytes, std::int32_t offset, WideString& s, std::int32_t count);
// One unit below U+10000 (w2 = 0), else a surrogate pair; returns the units.
std::int32_t CodePointToUTF16(std::uint32_t c, WideChar& w1, WideChar& w2);

// ============================================================================
// Code pages
// ============================================================================
constexpr std::uint32_t CP_ACP = 0;
constexpr std::uint32_t CP_OEMCP = 1;
constexpr std::uint32_t CP_UTF8 = 65001;

// Converts up to count bytes from offset through the code page; s is cut to
// what was converted (empty for a code page this system cannot convert).
// CP_ACP reads UTF-8 when the bytes are valid UTF-8, else Windows-1252.
void AnsiRangeToWide(std::span<const std::uint8_t> bytes, std::int32_t offset, WideString& s, std::uint32_t codePage,
                     std::int32_t count);

// ============================================================================
// Other functions
// ============================================================================

WideString Trim(const WideString& s);       // blanks (code 32) at both ends
WideString TrimRight(const WideString& s);  // codes 0..32 at the end
// Replaces "%N" (decimal N) by args[N-1]; a "%" without digits, or with an N
// outside 1..args, is removed with its digits.
void FormatPercent(const WideString& format, std::span<const WideString> args, WideString& result);
WideString FormatPercent(const WideString& format, std::initializer_list<WideString> args);
// Optional blanks and sign, then decimal digits or hexadecimal after "$" or
// "0x"; anything else raises EConvertError ""<S>" is not a valid integer value".
std::int32_t StrToInt(const WideString& s);
std::int32_t StrToIntDef(const WideString& s, std::int32_t def);
bool TryStrToInt(const WideString& s, std::int32_t& value);
// Hexadecimal digits of s[start..start+count-1]; false at the first other
// character or when the value does not fit; count below 1 gives true and 0.
bool HexToUInt32(const WideString& s, std::int32_t start, std::int32_t count, std::uint32_t& v);
bool HexToWord(const WideString& s, std::int32_t start, std::int32_t count, std::uint16_t& v);
bool HexToByte(const WideString& s, std::int32_t start, std::int32_t count, std::uint8_t& v);
// Exactly "{8-4-4-4-12}" in hexadecimal digits.
bool TryStrToGUID(const WideString& s, TGUID& g);

void InitUnicode();
void FiniUnicode();

}  // namespace zm
