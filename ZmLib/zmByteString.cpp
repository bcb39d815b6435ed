#include "ZmLib/zmByteString.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

#include "ZmLib/wpUnicode.h"

namespace zm {

namespace {

struct TBytes {
  const std::uint8_t* P;
  std::int32_t N;
};

TBytes RangeOf(const TByteString& s, std::int32_t start, std::int32_t count) {
  if (start < 0) start = 0;
  std::int32_t n = s.ClampCount(start, count);
  return {s.Data() + (n > 0 ? start : 0), n};
}

// 0-based [begin, end) of a 1-based wide range.
void WideRange(const WideString& s, std::int32_t start, std::int32_t count, std::size_t& b, std::size_t& e) {
  std::int64_t first = start < 1 ? 0 : std::int64_t(start) - 1;
  if (first > std::int64_t(s.size())) first = std::int64_t(s.size());
  std::int64_t last = count < 1 ? first : first + count;
  if (last > std::int64_t(s.size())) last = std::int64_t(s.size());
  b = static_cast<std::size_t>(first);
  e = static_cast<std::size_t>(last);
}

std::uint32_t NextWide(const WideString& s, std::size_t& i, std::size_t end) {
  std::uint32_t c = s[i++];
  if (c >= 0xD800 && c <= 0xDBFF && i < end && s[i] >= 0xDC00 && s[i] <= 0xDFFF) {
    c = 0x10000 + ((c - 0xD800) << 10) + (std::uint32_t(s[i]) - 0xDC00);
    ++i;
  }
  return c;
}

// One code point of a byte range; p..end.
inline std::uint32_t NextUtf8(const TBytes& b, std::int32_t& pos) {
  std::uint8_t x = b.P[pos];
  if (x < 0x80) {
    ++pos;
    return x;
  }
  return DecodeUTF8Char(b.P, b.N - 1, pos);
}

// Decodes one sequence without joining surrogates.
std::uint32_t DecodeOne(const std::uint8_t* bytes, std::int32_t high, std::int32_t& pos) {
  if (pos > high) return kInvalidCodePoint;
  std::uint8_t b = bytes[pos];
  if (b < 0x80) {
    ++pos;
    return b;
  }
  int len;
  std::uint32_t c;
  if (b >= 0xC0 && b <= 0xDF) len = 2, c = b & 0x1F;
  else if (b >= 0xE0 && b <= 0xEF) len = 3, c = b & 0x0F;
  else if (b >= 0xF0 && b <= 0xF7) len = 4, c = b & 0x07;
  else if (b >= 0xF8 && b <= 0xFB) len = 5, c = b & 0x03;
  else if (b >= 0xFC && b <= 0xFD) len = 6, c = b & 0x01;
  else {
    // a stray continuation byte, or FE/FF: skip it and the continuation bytes after it
    ++pos;
    while (pos <= high && (bytes[pos] & 0xC0) == 0x80) ++pos;
    return kInvalidCodePoint;
  }
  if (std::int64_t(pos) + len - 1 > high) {
    pos += len;
    return kInvalidCodePoint;
  }
  for (int k = 1; k < len; ++k) {
    std::uint8_t t = bytes[pos + k];
    if ((t & 0xC0) != 0x80) {
      pos += k;
      return kInvalidCodePoint;
    }
    c = (c << 6) | (t & 0x3F);
  }
  pos += len;
  return c;
}

inline std::uint32_t HashStep(std::uint32_t h, std::uint32_t b) {
  std::uint32_t x = h + b;
  return x - std::rotl(x, 13);
}

// Feeds a code point as the bytes UTF8Encode writes for it.
inline std::uint32_t HashCodePoint(std::uint32_t h, std::uint32_t c) {
  if (c < 0x80) return HashStep(h, c);
  if (c < 0x800) return HashStep(HashStep(h, 0xC0 | (c >> 6)), 0x80 | (c & 0x3F));
  auto three = [](std::uint32_t h, std::uint32_t u) {
    h = HashStep(h, 0xE0 | (u >> 12));
    h = HashStep(h, 0x80 | ((u >> 6) & 0x3F));
    return HashStep(h, 0x80 | (u & 0x3F));
  };
  if (c < 0x10000) return three(h, c);
  if (c <= 0x10FFFF) {
    std::uint32_t v = c - 0x10000;
    h = three(h, 0xD800 + (v >> 10));
    return three(h, 0xDC00 + (v & 0x3FF));
  }
  return h;  // invalid: skipped
}

inline std::uint32_t NoCase(std::uint32_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
  if (c == kInvalidCodePoint) return c;
  return FoldChar(c);
}

inline std::int32_t Sign(std::uint32_t a, std::uint32_t b) { return a < b ? -1 : a > b ? 1 : 0; }

std::int32_t CompareUtf8(TBytes a, TBytes b, bool noCase) {
  std::int32_t i = 0, j = 0;
  while (i < a.N && j < b.N) {
    std::uint8_t x = a.P[i], y = b.P[j];
    if (x < 0x80 && y < 0x80) {
      ++i;
      ++j;
      if (x == y) continue;
      if (noCase) {
        x = static_cast<std::uint8_t>(NoCase(x));
        y = static_cast<std::uint8_t>(NoCase(y));
        if (x == y) continue;
      }
      return Sign(x, y);
    }
    std::uint32_t ca = NextUtf8(a, i), cb = NextUtf8(b, j);
    if (noCase) {
      ca = NoCase(ca);
      cb = NoCase(cb);
    }
    if (ca != cb) return Sign(ca, cb);
  }
  if (i < a.N) return 1;
  if (j < b.N) return -1;
  return 0;
}

std::int32_t CompareUtf8Wide(TBytes a, const WideString& s, std::size_t wb, std::size_t we, bool noCase) {
  std::int32_t i = 0;
  std::size_t j = wb;
  while (i < a.N && j < we) {
    std::uint32_t ca = NextUtf8(a, i), cb = NextWide(s, j, we);
    if (noCase) {
      ca = NoCase(ca);
      cb = NoCase(cb);
    }
    if (ca != cb) return Sign(ca, cb);
  }
  if (i < a.N) return 1;
  if (j < we) return -1;
  return 0;
}

bool IsBlank(std::uint8_t b) { return b == 8 || b == 32; }

// Signed decimal with the given magnitude limits; false on any bad input.
bool ParseInt(TBytes b, std::uint64_t maxPositive, std::uint64_t& magnitude, bool& negative, bool blanks = true) {
  std::int32_t i = 0;
  while (blanks && i < b.N && IsBlank(b.P[i])) ++i;
  negative = false;
  if (i < b.N && (b.P[i] == '+' || b.P[i] == '-')) negative = b.P[i++] == '-';
  if (i >= b.N) return false;
  std::uint64_t limit = negative ? maxPositive + 1 : maxPositive;
  std::uint64_t v = 0;
  for (; i < b.N; ++i) {
    std::uint8_t c = b.P[i];
    if (c < '0' || c > '9') return false;
    std::uint64_t d = c - '0';
    if (v > (limit - d) / 10) return false;
    v = v * 10 + d;
  }
  magnitude = v;
  return true;
}

// 10^e by repeated squaring, in extended precision.
long double PowerOfTen(std::uint64_t e) {
  long double result = 1.0L, base = 10.0L;
  while (e) {
    if (e & 1) result *= base;
    e >>= 1;
    if (e) base *= base;
    if (std::isinf(result)) break;
  }
  return result;
}

}  // namespace

// ============================================================================
// Decoding
// ============================================================================

std::uint32_t DecodeUTF8Char(const std::uint8_t* bytes, std::int32_t high, std::int32_t& pos) {
  if (!bytes || pos < 0) return kInvalidCodePoint;
  std::uint32_t c = DecodeOne(bytes, high, pos);
  if (c >= 0xD800 && c <= 0xDBFF && pos <= high && bytes[pos] >= 0xE0 && bytes[pos] <= 0xFD) {
    std::int32_t next = pos;
    std::uint32_t low = DecodeOne(bytes, high, next);
    if (low >= 0xDC00 && low <= 0xDFFF) {
      pos = next;
      return 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
    }
  }
  return c;
}

// ============================================================================
// TByteString
// ============================================================================

std::int32_t TByteString::ClampCount(std::int32_t start, std::int32_t count) const {
  std::int64_t left = std::int64_t(Length()) - std::max(start, 0);
  std::int64_t n = std::min<std::int64_t>(count, left);
  return n < 0 ? 0 : static_cast<std::int32_t>(n);
}

void TByteString::Copy(std::int32_t start, std::int32_t count, TByteString& dest, bool forceCopy) const {
  if (start < 0) start = 0;
  std::int32_t n = ClampCount(start, count);
  if (n <= 0) {
    dest = TByteString();
  } else if (start == 0 && n == Length() && !forceCopy) {
    if (&dest != this) dest = *this;
  } else {
    dest = TByteString(s_.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(n)));
  }
}

TByteString TByteString::Copy(std::int32_t start, std::int32_t count) const {
  TByteString r;
  Copy(start, count, r);
  return r;
}

std::int32_t TByteString::CopyTo(std::int32_t start, std::int32_t count, std::span<std::uint8_t> buffer,
                                 std::int32_t offset) const {
  TBytes b = RangeOf(*this, start, count);
  if (offset < 0 || static_cast<std::size_t>(offset) >= buffer.size()) return 0;
  std::int32_t n = static_cast<std::int32_t>(std::min<std::size_t>(static_cast<std::size_t>(b.N),
                                                                   buffer.size() - static_cast<std::size_t>(offset)));
  if (n > 0) std::memcpy(buffer.data() + offset, b.P, static_cast<std::size_t>(n));
  return n;
}

namespace {

TBytes BytesOf(std::string_view v) {
  return TBytes{reinterpret_cast<const std::uint8_t*>(v.data()),
                static_cast<std::int32_t>(std::min<std::size_t>(v.size(), kMaxCount32))};
}

WideString WideOf(TBytes b) {
  // every character (or bad sequence) takes at least as many bytes as units
  WideString out(static_cast<std::size_t>(b.N), u'\0');
  char16_t* o = out.data();
  std::int32_t i = 0;
  while (i < b.N) {
    while (i + 8 <= b.N) {
      std::uint64_t w;
      std::memcpy(&w, b.P + i, 8);
      if (w & 0x8080808080808080ull) break;
      for (int k = 0; k < 8; ++k) o[k] = b.P[i + k];
      o += 8;
      i += 8;
    }
    if (i >= b.N) break;
    std::uint8_t x = b.P[i];
    if (x < 0x80) {
      *o++ = x;
      ++i;
      continue;
    }
    std::uint32_t c = DecodeUTF8Char(b.P, b.N - 1, i);
    if (c > 0x10FFFF) {
      *o++ = u'\xFFFD';
    } else if (c >= 0x10000) {
      c -= 0x10000;
      *o++ = static_cast<char16_t>(0xD800 + (c >> 10));
      *o++ = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      *o++ = static_cast<char16_t>(c);
    }
  }
  out.resize(static_cast<std::size_t>(o - out.data()));
  return out;
}

std::int32_t IntOf(TBytes b, std::int32_t def) {
  std::uint64_t m;
  bool negative;
  if (!ParseInt(b, 2147483647u, m, negative)) return def;
  return static_cast<std::int32_t>(negative ? -static_cast<std::int64_t>(m) : static_cast<std::int64_t>(m));
}

std::int64_t Int64Of(TBytes b, std::int64_t def) {
  std::uint64_t m;
  bool negative;
  if (!ParseInt(b, 9223372036854775807ull, m, negative)) return def;
  return negative ? static_cast<std::int64_t>(0 - m) : static_cast<std::int64_t>(m);
}

double FloatOf(TBytes b, double def) {
  std::int32_t i = 0;
  while (i < b.N && IsBlank(b.P[i])) ++i;
  bool negative = false;
  if (i < b.N && (b.P[i] == '+' || b.P[i] == '-')) negative = b.P[i++] == '-';
  long double mantissa = 0;
  std::int64_t fractionDigits = 0;
  bool point = false, digits = false;
  for (; i < b.N; ++i) {
    std::uint8_t c = b.P[i];
    if (c == '.') {
      if (point) return def;
      point = true;
    } else if (c >= '0' && c <= '9') {
      mantissa = mantissa * 10 + (c - '0');
      digits = true;
      if (point) ++fractionDigits;
    } else {
      break;
    }
  }
  if (!digits) return def;
  std::int64_t exponent = 0;
  if (i < b.N) {
    if (b.P[i] != 'E' && b.P[i] != 'e') return def;
    std::uint64_t m;
    bool expNegative;
    if (!ParseInt({b.P + i + 1, b.N - i - 1}, 2147483647u, m, expNegative, false)) return def;
    exponent = expNegative ? -static_cast<std::int64_t>(m) : static_cast<std::int64_t>(m);
  }
  long double v = mantissa;
  if (v != 0) {
    std::int64_t e = exponent - fractionDigits;
    if (e > 0) v *= PowerOfTen(static_cast<std::uint64_t>(e));
    else if (e < 0) v /= PowerOfTen(static_cast<std::uint64_t>(-e));
  }
  double r = static_cast<double>(negative ? -v : v);
  if (!std::isfinite(r)) return def;  // beyond what a double holds
  return r;
}


std::uint32_t HashNoCaseOf(TBytes b) {
  std::uint32_t h = 0;
  std::int32_t i = 0;
  while (i < b.N) {
    std::uint8_t x = b.P[i];
    if (x < 0x80) {
      h = HashStep(h, (x >= 'A' && x <= 'Z') ? x + 32u : x);
      ++i;
      continue;
    }
    std::uint32_t c = DecodeUTF8Char(b.P, b.N - 1, i);
    if (c <= 0x10FFFF) h = HashCodePoint(h, FoldChar(c));
  }
  return h;
}

}  // namespace

WideString TByteString::ToWide(std::int32_t start, std::int32_t count) const { return WideOf(RangeOf(*this, start, count)); }

bool TByteString::Equals(const TByteString& other, std::int32_t start, std::int32_t count) const {
  if (this == &other && start <= 0 && count >= Length()) return true;
  TBytes b = RangeOf(other, start, count);
  return b.N == Length() && (b.N == 0 || std::memcmp(b.P, Data(), static_cast<std::size_t>(b.N)) == 0);
}

std::int32_t TByteString::SkipUntil(std::int32_t pos, const TByteCharSet& set) const {
  std::int32_t n = Length();
  for (std::int32_t i = std::max(pos, 0); i < n; ++i)
    if (set.Contains(GetByte(i))) return i;
  return n;
}

std::int32_t TByteString::SkipWhile(std::int32_t pos, const TByteCharSet& set) const {
  std::int32_t n = Length();
  for (std::int32_t i = std::max(pos, 0); i < n; ++i)
    if (!set.Contains(GetByte(i))) return i;
  return n;
}

std::int32_t TByteString::CompareText(const TByteString& other, std::int32_t start, std::int32_t count) const {
  return CompareUtf8({Data(), Length()}, RangeOf(other, start, count), true);
}

std::int32_t TByteString::CompareWide(const WideString& s, std::int32_t start, std::int32_t count) const {
  std::size_t b, e;
  WideRange(s, start, count, b, e);
  return CompareUtf8Wide({Data(), Length()}, s, b, e, false);
}

std::int32_t TByteString::CompareWideText(const WideString& s, std::int32_t start, std::int32_t count) const {
  std::size_t b, e;
  WideRange(s, start, count, b, e);
  return CompareUtf8Wide({Data(), Length()}, s, b, e, true);
}

std::int32_t TByteString::CompareWideTextRange(std::int32_t start, std::int32_t count, const WideString& s,
                                               std::int32_t wstart, std::int32_t wcount) const {
  std::size_t b, e;
  WideRange(s, wstart, wcount, b, e);
  return CompareUtf8Wide(RangeOf(*this, start, count), s, b, e, true);
}

std::int32_t TByteString::ToIntDef(std::int32_t start, std::int32_t count, std::int32_t def) const {
  return IntOf(RangeOf(*this, start, count), def);
}

std::int64_t TByteString::ToInt64Def(std::int32_t start, std::int32_t count, std::int64_t def) const {
  return Int64Of(RangeOf(*this, start, count), def);
}

double TByteString::ToFloatDef(std::int32_t start, std::int32_t count, double def) const {
  return FloatOf(RangeOf(*this, start, count), def);
}


std::int32_t TByteString::HexToIntDef(std::int32_t start, std::int32_t count, std::int32_t def) const {
  TBytes b = RangeOf(*this, start, count);
  std::uint64_t v = 0;
  for (std::int32_t i = 0; i < b.N; ++i) {
    std::uint8_t c = b.P[i];
    int d = (c >= '0' && c <= '9') ? c - '0' : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
    if (d < 0) return def;
    v = (v << 4) | static_cast<std::uint64_t>(d);
    if (v > 0xFFFFFFFFull) return def;
  }
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
}

bool TByteString::ToBool(std::int32_t start, std::int32_t count) const {
  TBytes b = RangeOf(*this, start, count);
  return b.N == 1 && b.P[0] == '1';
}

std::uint32_t TByteString::Hash(std::int32_t start, std::int32_t count) const {
  TBytes b = RangeOf(*this, start, count);
  std::uint32_t h = 0;
  std::int32_t i = 0;
  while (i < b.N) {
    if (b.P[i] < 0x80) {
      h = HashStep(h, b.P[i++]);
      continue;
    }
    h = HashCodePoint(h, DecodeUTF8Char(b.P, b.N - 1, i));
  }
  return h;
}

std::uint32_t TByteString::HashNoCase(std::int32_t start, std::int32_t count) const {
  return HashNoCaseOf(RangeOf(*this, start, count));
}


// ============================================================================
// Free functions
// ============================================================================

TByteString WideToByteString(const WideString& s, std::int32_t start, std::int32_t count) {
  TByteString b;
  UTF8EncodeRange(s, start, count, b);
  return b;
}

TByteString GUIDToByteString(const TGUID& g) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string s = "{";
  auto put = [&](std::uint64_t v, int digits) {
    for (int k = digits - 1; k >= 0; --k) s += kHex[(v >> (4 * k)) & 0xF];
  };
  put(g.D1, 8);
  s += '-';
  put(g.D2, 4);
  s += '-';
  put(g.D3, 4);
  s += '-';
  put(g.D4[0], 2);
  put(g.D4[1], 2);
  s += '-';
  for (int k = 2; k < 8; ++k) put(g.D4[k], 2);
  s += '}';
  return TByteString(std::move(s));
}

std::uint32_t WideHash(const WideString& s, std::int32_t start, std::int32_t count) {
  std::size_t i, e;
  WideRange(s, start, count, i, e);
  std::uint32_t h = 0;
  while (i < e) h = HashCodePoint(h, NextWide(s, i, e));
  return h;
}

std::uint32_t WideHashNoCase(const WideString& s, std::int32_t start, std::int32_t count) {
  std::size_t i, e;
  WideRange(s, start, count, i, e);
  std::uint32_t h = 0;
  while (i < e) {
    std::uint32_t c = s[i];
    if (c < 0x80) {
      h = HashStep(h, (c >= 'A' && c <= 'Z') ? c + 32 : c);
      ++i;
      continue;
    }
    h = HashCodePoint(h, FoldChar(NextWide(s, i, e)));
  }
  return h;
}

std::int32_t CompareTextUTF8(std::string_view a, std::string_view b) { return CompareUtf8(BytesOf(a), BytesOf(b), true); }

WideString BytesToWide(std::string_view bytes) { return WideOf(BytesOf(bytes)); }

std::int32_t CompareBytesWide(std::string_view bytes, const WideString& s, bool noCase) {
  return CompareUtf8Wide(BytesOf(bytes), s, 0, s.size(), noCase);
}

std::int32_t BytesToIntDef(std::string_view bytes, std::int32_t def) { return IntOf(BytesOf(bytes), def); }

std::int64_t BytesToInt64Def(std::string_view bytes, std::int64_t def) { return Int64Of(BytesOf(bytes), def); }

double BytesToFloatDef(std::string_view bytes, double def) { return FloatOf(BytesOf(bytes), def); }

std::uint32_t BytesHashNoCase(std::string_view bytes) { return HashNoCaseOf(BytesOf(bytes)); }

std::int32_t IntToBytes(std::int32_t v, std::span<std::uint8_t> buffer, std::int32_t pos) {
  char text[16];
  auto r = std::to_chars(text, text + sizeof text, v);
  std::int32_t n = static_cast<std::int32_t>(r.ptr - text);
  if (pos < 0 || static_cast<std::size_t>(pos) > buffer.size() || buffer.size() - static_cast<std::size_t>(pos) < static_cast<std::size_t>(n))
    return -n;
  std::memcpy(buffer.data() + pos, text, static_cast<std::size_t>(n));
  return n;
}

// ============================================================================
// TByteStringBuilder
// ============================================================================

std::int32_t TByteStringBuilder::MakeRoom(std::int32_t pos, std::int32_t n, std::int32_t fill) {
  if (buffer_.empty()) {
    if (n < 1) return 0;
    buffer_.assign(static_cast<std::size_t>(std::max(n, 16)), '\0');
    count_ = n;
    if (fill >= 1 && fill <= 255) std::memset(buffer_.data(), fill, static_cast<std::size_t>(n));
    return 0;
  }
  pos = std::clamp(pos, 0, count_);
  if (n <= 0) return pos;
  ZM_ASSERT(std::int64_t(count_) + n <= kMaxCount32, "TByteStringBuilder.MakeRoom out of range");
  std::int32_t oldCount = count_;
  count_ += n;
  std::int64_t capacity = static_cast<std::int64_t>(buffer_.size());
  if (capacity < count_) {
    while (capacity < count_) capacity *= 2;
    buffer_.resize(static_cast<std::size_t>(std::min<std::int64_t>(capacity, kMaxCount32)));
  }
  char* p = buffer_.data();
  std::memmove(p + pos + n, p + pos, static_cast<std::size_t>(oldCount - pos));
  if (fill >= 0 && fill <= 255) std::memset(p + pos, fill, static_cast<std::size_t>(n));
  return pos;
}

std::int32_t TByteStringBuilder::InsertRaw(std::int32_t pos, const std::uint8_t* p, std::int32_t n) {
  if (n <= 0) return std::clamp(pos, 0, count_);
  pos = MakeRoom(pos, n);
  std::memcpy(buffer_.data() + pos, p, static_cast<std::size_t>(n));
  return pos + n;
}

std::int32_t TByteStringBuilder::InsertBytes(std::int32_t pos, const TByteString& source, std::int32_t start,
                                             std::int32_t count) {
  TBytes b = RangeOf(source, start, count);
  if (b.N > 0 && b.P >= Data() && b.P < Data() + buffer_.size()) {
    // the source shares our storage: copy it first
    std::string copy(reinterpret_cast<const char*>(b.P), static_cast<std::size_t>(b.N));
    return InsertRaw(pos, reinterpret_cast<const std::uint8_t*>(copy.data()), b.N);
  }
  return InsertRaw(pos, b.P, b.N);
}

std::int32_t TByteStringBuilder::InsertBuffer(std::int32_t pos, std::span<const std::uint8_t> buffer,
                                              std::int32_t start, std::int32_t count) {
  if (start < 0) start = 0;
  if (static_cast<std::size_t>(start) >= buffer.size() || count <= 0) return std::clamp(pos, 0, count_);
  std::int32_t n = static_cast<std::int32_t>(
      std::min<std::size_t>(static_cast<std::size_t>(count), buffer.size() - static_cast<std::size_t>(start)));
  return InsertRaw(pos, buffer.data() + start, n);
}

std::int32_t TByteStringBuilder::InsertWide(std::int32_t pos, const WideString& s, std::int32_t start,
                                            std::int32_t count) {
  std::int32_t n = UTF8Length(s, start, count);
  if (n <= 0) return std::clamp(pos, 0, count_);
  pos = MakeRoom(pos, n);
  std::int32_t written = 0;
  std::span<std::uint8_t> room(reinterpret_cast<std::uint8_t*>(buffer_.data()) + pos, static_cast<std::size_t>(n));
  std::int32_t chars = UTF8EncodeBuf(s, start, count, room, 0, written);
  ZM_ASSERT(written == n, "TByteStringBuilder.InsertWide length mismatch");
  (void)chars;
  return pos + n;
}

std::int32_t TByteStringBuilder::InsertInt(std::int32_t pos, std::int32_t v) {
  char text[16];
  auto r = std::to_chars(text, text + sizeof text, v);
  return InsertRaw(pos, reinterpret_cast<const std::uint8_t*>(text), static_cast<std::int32_t>(r.ptr - text));
}

std::int32_t TByteStringBuilder::InsertInt64(std::int32_t pos, std::int64_t v) {
  char text[24];
  auto r = std::to_chars(text, text + sizeof text, v);
  return InsertRaw(pos, reinterpret_cast<const std::uint8_t*>(text), static_cast<std::int32_t>(r.ptr - text));
}

std::int32_t TByteStringBuilder::InsertFloat(std::int32_t pos, double v, std::int32_t decimals) {
  decimals = std::clamp(decimals, 0, 20);
  char text[400];
  auto r = std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, decimals);
  std::string_view s(text, r.ec == std::errc() ? static_cast<std::size_t>(r.ptr - text) : 0);
  if (s.find('.') != std::string_view::npos) {
    while (!s.empty() && s.back() == '0') s.remove_suffix(1);
    if (!s.empty() && s.back() == '.') s.remove_suffix(1);
  }
  if (s == "-0") s = "0";
  return InsertRaw(pos, reinterpret_cast<const std::uint8_t*>(s.data()), static_cast<std::int32_t>(s.size()));
}

TByteString TByteStringBuilder::ToByteString() {
  buffer_.resize(static_cast<std::size_t>(count_));
  TByteString r(std::move(buffer_));
  buffer_ = std::string();
  count_ = 0;
  return r;
}

}  // namespace zm
