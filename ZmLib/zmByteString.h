#pragma once
// TByteString: the value type for UTF-8 text and raw bytes (ini names and
// values, directory keys, parameter lists), and TByteStringBuilder.
//
// Index bases: byte positions are 0-based (Start below 0 counts as 0, Count
// is clamped to the bytes available); positions in wide strings are 1-based.
// UTF-8 is decoded leniently: bad sequences never raise.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "ZmLib/zmTypes.h"

namespace zm {

constexpr std::int32_t kMaxCount32 = INT32_MAX;

// A set of byte values (256 bits).
struct TByteCharSet {
  std::uint64_t Bits[4] = {};
  constexpr TByteCharSet() = default;
  constexpr explicit TByteCharSet(std::string_view chars) {
    for (char c : chars) Add(static_cast<std::uint8_t>(c));
  }
  constexpr void Add(std::uint8_t b) { Bits[b >> 6] |= std::uint64_t(1) << (b & 63); }
  constexpr void AddRange(std::uint8_t first, std::uint8_t last) {
    for (unsigned b = first; b <= last; ++b) Add(static_cast<std::uint8_t>(b));
  }
  constexpr bool Contains(std::uint8_t b) const { return (Bits[b >> 6] >> (b & 63)) & 1; }
};

// The value DecodeUTF8Char gives for a bad sequence.
constexpr std::uint32_t kInvalidCodePoint = 0xFFFFFFFFu;

// Decodes one character of bytes[pos..high] (high: the last valid index) and
// advances pos. Lead bytes announce 2 to 6 bytes; a stray continuation byte
// (skipped with the ones after it), a cut-off sequence or a bad following
// byte gives kInvalidCodePoint. A high surrogate followed by an encoded low
// surrogate (the form UTF8Encode writes for a pair) gives one code point.
std::uint32_t DecodeUTF8Char(const std::uint8_t* bytes, std::int32_t high, std::int32_t& pos);

class TByteString {
public:
  TByteString() = default;
  TByteString(std::string s) : s_(std::move(s)) {}
  TByteString(std::string_view s) : s_(s) {}
  TByteString(const char* s) : s_(s ? s : "") {}
  TByteString(const std::uint8_t* p, std::size_t n) : s_(reinterpret_cast<const char*>(p), p ? n : 0) {}

  std::int32_t Length() const { return static_cast<std::int32_t>(s_.size()); }
  bool IsEmpty() const { return s_.empty(); }
  const std::uint8_t* Data() const { return reinterpret_cast<const std::uint8_t*>(s_.data()); }
  std::uint8_t* MutableData() { return reinterpret_cast<std::uint8_t*>(s_.data()); }
  std::uint8_t operator[](std::size_t i) const { return static_cast<std::uint8_t>(s_[i]); }
  void SetLength(std::int32_t n) { s_.resize(n > 0 ? static_cast<std::size_t>(n) : 0); }

  const std::string& Str() const { return s_; }
  std::string& Str() { return s_; }
  std::string_view View() const { return s_; }

  friend bool operator==(const TByteString&, const TByteString&) = default;

  // ---- Access -------------------------------------------------------------
  std::uint8_t GetByte(std::int32_t i) const { return static_cast<std::uint8_t>(s_[static_cast<std::size_t>(i)]); }
  // min(count, Length - max(start, 0)), never below 0.
  std::int32_t ClampCount(std::int32_t start, std::int32_t count) const;
  // The range [start, start+count) as a byte string (the whole string when
  // the range covers it and forceCopy is false; an empty range gives empty).
  void Copy(std::int32_t start, std::int32_t count, TByteString& dest, bool forceCopy = false) const;
  TByteString Copy(std::int32_t start, std::int32_t count = kMaxCount32) const;
  // Copies the range into buffer from offset, as far as it fits; returns the
  // bytes copied.
  std::int32_t CopyTo(std::int32_t start, std::int32_t count, std::span<std::uint8_t> buffer,
                      std::int32_t offset) const;
  // Lenient UTF-8 decoding: bad sequences become U+FFFD.
  WideString ToWide(std::int32_t start = 0, std::int32_t count = kMaxCount32) const;
  // Byte-exact equality of this whole string with a range of other.
  bool Equals(const TByteString& other, std::int32_t start = 0, std::int32_t count = kMaxCount32) const;
  // The first position at or after pos whose byte is (SkipUntil) or is not
  // (SkipWhile) in set; Length when there is none.
  std::int32_t SkipUntil(std::int32_t pos, const TByteCharSet& set) const;
  std::int32_t SkipWhile(std::int32_t pos, const TByteCharSet& set) const;

  // ---- Comparison: negative, 0 or positive ------------------------------------
  // This whole string against a range of other, ignoring letter case.
  std::int32_t CompareText(const TByteString& other, std::int32_t start = 0, std::int32_t count = kMaxCount32) const;
  // This whole string against a wide range (1-based start), by code point.
  std::int32_t CompareWide(const WideString& s, std::int32_t start = 1, std::int32_t count = kMaxCount32) const;
  std::int32_t CompareWideText(const WideString& s, std::int32_t start = 1, std::int32_t count = kMaxCount32) const;
  std::int32_t CompareWideTextRange(std::int32_t start, std::int32_t count, const WideString& s, std::int32_t wstart,
                                    std::int32_t wcount) const;

  // ---- Numbers: the default on any bad input, never an exception ----------------
  std::int32_t ToIntDef(std::int32_t start, std::int32_t count, std::int32_t def) const;
  std::int32_t ToInt(std::int32_t start = 0, std::int32_t count = kMaxCount32) const { return ToIntDef(start, count, 0); }
  std::int64_t ToInt64Def(std::int32_t start, std::int32_t count, std::int64_t def) const;
  double ToFloatDef(std::int32_t start, std::int32_t count, double def) const;
  // Hexadecimal digits (an empty range gives 0); the 32 bits as a signed value.
  std::int32_t HexToIntDef(std::int32_t start, std::int32_t count, std::int32_t def) const;
  // True only for exactly the one byte "1".
  bool ToBool(std::int32_t start = 0, std::int32_t count = kMaxCount32) const;

  // ---- Hashing: equal to the hash of the same text held as a wide string ---------
  std::uint32_t Hash(std::int32_t start = 0, std::int32_t count = kMaxCount32) const;
  std::uint32_t HashNoCase(std::int32_t start = 0, std::int32_t count = kMaxCount32) const;

private:
  std::string s_;
};

// The UTF-8 form (the UTF8Encode rules) of a wide range (1-based start).
TByteString WideToByteString(const WideString& s, std::int32_t start = 1, std::int32_t count = kMaxCount32);
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper-case hexadecimal.
TByteString GUIDToByteString(const TGUID& g);
// Hashes of a wide range (1-based start): equal to TByteString::Hash and
// HashNoCase of its UTF-8 form.
std::uint32_t WideHash(const WideString& s, std::int32_t start = 1, std::int32_t count = kMaxCount32);
std::uint32_t WideHashNoCase(const WideString& s, std::int32_t start = 1, std::int32_t count = kMaxCount32);
// Case-insensitive comparison of two UTF-8 texts (the CompareText rule).
std::int32_t CompareTextUTF8(std::string_view a, std::string_view b);

// The TByteString operations on bytes held elsewhere, with the same results
// as on a TByteString of those bytes.
WideString BytesToWide(std::string_view bytes);
// Against a whole wide string, by code point (noCase: CompareWideText).
std::int32_t CompareBytesWide(std::string_view bytes, const WideString& s, bool noCase);
std::int32_t BytesToIntDef(std::string_view bytes, std::int32_t def);
std::int64_t BytesToInt64Def(std::string_view bytes, std::int64_t def);
double BytesToFloatDef(std::string_view bytes, double def);
std::uint32_t BytesHashNoCase(std::string_view bytes);
// Writes the decimal text of v into buffer at pos; returns its length, or
// minus its length (nothing written) when it does not fit.
std::int32_t IntToBytes(std::int32_t v, std::span<std::uint8_t> buffer, std::int32_t pos);

// Assembles a byte string by inserting at positions (0-based). Each Insert
// returns the position after what it inserted.
class TByteStringBuilder {
public:
  std::int32_t Count() const { return count_; }
  std::int32_t Capacity() const { return static_cast<std::int32_t>(buffer_.size()); }
  const std::uint8_t* Data() const { return reinterpret_cast<const std::uint8_t*>(buffer_.data()); }

  // Opens a gap of n bytes at pos (clamped to Count) and returns the
  // position; fill 0..255 fills the gap, -1 leaves it as it is.
  std::int32_t MakeRoom(std::int32_t pos, std::int32_t n, std::int32_t fill = -1);
  std::int32_t InsertBytes(std::int32_t pos, const TByteString& source, std::int32_t start = 0,
                           std::int32_t count = kMaxCount32);
  std::int32_t InsertBuffer(std::int32_t pos, std::span<const std::uint8_t> buffer, std::int32_t start,
                            std::int32_t count);
  std::int32_t InsertWide(std::int32_t pos, const WideString& s, std::int32_t start = 1,
                          std::int32_t count = kMaxCount32);
  std::int32_t InsertInt(std::int32_t pos, std::int32_t v);
  std::int32_t InsertInt64(std::int32_t pos, std::int64_t v);
  // Fixed-point text with the given decimals (0..20), trailing zeros of the
  // fraction and a bare decimal point removed.
  std::int32_t InsertFloat(std::int32_t pos, double v, std::int32_t decimals);
  // Hands the bytes over and leaves the builder empty.
  TByteString ToByteString();

private:
  std::int32_t InsertRaw(std::int32_t pos, const std::uint8_t* p, std::int32_t n);
  std::string buffer_;  // its length is the capacity
  std::int32_t count_ = 0;
};

}  // namespace zm
