#include "ZmLib/wpUnicode.h"

#include <algorithm>
#include <cstring>

#include "Platform/PlatText.h"
#include "Platform/PlatUtf8.h"
#include "ZmLib/zmStrUtils.h"

namespace zm {

TCharPage* detail::CharPages[kCharPageCount] = {};

namespace {

struct TFoldRange {
  std::uint32_t Step;
  std::uint32_t Delta;
  std::int32_t Count;
};

struct TFoldExpansion {
  std::uint32_t Code;
  const char16_t* Text;
};

#include "ZmLib/wpCaseFoldData.inc"

// 0-based [Begin, End) of a 1-based wide range, clamped to the text.
struct TRange {
  std::size_t Begin;
  std::size_t End;
  std::size_t Size() const { return End - Begin; }
};

TRange ClampRange(std::size_t length, std::int32_t start, std::int32_t count) {
  std::int64_t b = start < 1 ? 0 : std::int64_t(start) - 1;
  if (b > std::int64_t(length)) b = std::int64_t(length);
  std::int64_t e = count < 1 ? b : b + count;
  if (e > std::int64_t(length)) e = std::int64_t(length);
  return {static_cast<std::size_t>(b), static_cast<std::size_t>(e)};
}

bool IsHigh(std::uint32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLow(std::uint32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// The code point at i (a high surrogate followed by a low one forms one);
// advances i.
std::uint32_t NextCodePoint(const WideString& s, std::size_t& i, std::size_t end) {
  std::uint32_t c = s[i++];
  if (IsHigh(c) && i < end && IsLow(s[i])) {
    c = 0x10000 + ((c - 0xD800) << 10) + (std::uint32_t(s[i]) - 0xDC00);
    ++i;
  }
  return c;
}

void AppendCodePoint(WideString& s, std::uint32_t c) {
  if (c < 0x10000) {
    s += static_cast<char16_t>(c);
    return;
  }
  ZM_ASSERT(c <= 0x10FFFF, "Illegal char range for surrogates");
  c -= 0x10000;
  s += static_cast<char16_t>(0xD800 + (c >> 10));
  s += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
}

// ---- Fold tables --------------------------------------------------------------

TCharPage* gFirstPage = nullptr;
TCharPage* gLastPage = nullptr;

TCharPage* PageOf(std::uint32_t c) {
  std::uint32_t index = c >> 8;
  if (!detail::CharPages[index]) new TCharPage(index);
  return detail::CharPages[index];
}

void BuildFoldTables() {
  std::uint32_t cp = 0;
  for (const TFoldRange& r : kFoldRanges) {
    std::int32_t n = r.Count < 0 ? -r.Count : r.Count;
    for (std::int32_t i = 0; i < n; ++i) {
      cp += r.Step;
      std::uint32_t fold = r.Count < 0 ? cp - r.Delta : cp + r.Delta;
      TCharPage* page = PageOf(cp);
      ZM_ASSERT(cp <= 0x10FFFF && (fold >> 16) == page->High, "Fold outside its plane");
      page->Folds[cp & 0xFF] = static_cast<std::uint16_t>(fold);
    }
  }
  for (const TFoldExpansion& e : kFoldExpansions) {
    TCharPage* page = PageOf(e.Code);
    std::int32_t index = static_cast<std::int32_t>(e.Code & 0xFF);
    if (page->Expansions.empty()) {
      page->ExpansionBase = index;
      page->ExpansionCount = 256 - index;
      page->Expansions.resize(static_cast<std::size_t>(page->ExpansionCount));
    }
    ZM_ASSERT(index >= page->ExpansionBase && index - page->ExpansionBase < page->ExpansionCount,
              "Expansion index out of range");
    page->Expansions[static_cast<std::size_t>(index - page->ExpansionBase)] = e.Text;
  }
}

void FreeFoldTables() {
  TCharPage* p = gFirstPage;
  gFirstPage = gLastPage = nullptr;
  while (p) {
    TCharPage* next = p->NextPage;
    p->Free();
    p = next;
  }
}

const WideString* ExpansionOf(std::uint32_t c) {
  if (c > 0x10FFFF) return nullptr;
  const TCharPage* page = detail::CharPages[c >> 8];
  if (!page || page->Expansions.empty()) return nullptr;
  std::int32_t i = static_cast<std::int32_t>(c & 0xFF) - page->ExpansionBase;
  if (i < 0 || i >= page->ExpansionCount) return nullptr;
  const WideString& s = page->Expansions[static_cast<std::size_t>(i)];
  return s.empty() ? nullptr : &s;
}

}  // namespace

TCharPage::TCharPage(std::uint32_t pageIndex) : index_(pageIndex) {
  High = pageIndex >> 8;
  for (std::uint32_t i = 0; i < 256; ++i) Folds[i] = static_cast<std::uint16_t>((pageIndex << 8) + i);
  detail::CharPages[pageIndex] = this;
  if (gLastPage) gLastPage->NextPage = this;
  else gFirstPage = this;
  gLastPage = this;
}

void TCharPage::Dispose() {
  if (index_ < kCharPageCount && detail::CharPages[index_] == this) detail::CharPages[index_] = nullptr;
  Expansions.clear();
  TRefObject::Dispose();
}

void CaseFold(const WideString& s, std::int32_t start, std::int32_t count, WideString& result) {
  TRange r = ClampRange(s.size(), start, count);
  result.reserve(result.size() + r.Size());
  std::size_t i = r.Begin;
  while (i < r.End) {
    std::uint32_t c = NextCodePoint(s, i, r.End);
    if (const WideString* e = ExpansionOf(c))
      result += *e;
    else
      AppendCodePoint(result, FoldChar(c));
  }
}

WideString CaseFold(const WideString& s) {
  WideString r;
  CaseFold(s, 1, static_cast<std::int32_t>(std::min<std::size_t>(s.size(), kMaxCount32)), r);
  return r;
}

namespace {

// Folded comparison of a[ra] and b[rb].
std::int32_t CompareFolded(const WideString& a, TRange ra, const WideString& b, TRange rb) {
  std::size_t n = std::min(ra.Size(), rb.Size());
  std::size_t k = 0;
  while (k < n && a[ra.Begin + k] == b[rb.Begin + k]) ++k;
  // a difference on the second unit of a pair: compare the whole pair
  if (k > 0 && k < n && IsLow(a[ra.Begin + k]) && IsHigh(a[ra.Begin + k - 1])) --k;
  std::size_t i = ra.Begin + k, j = rb.Begin + k;
  while (i < ra.End && j < rb.End) {
    std::uint32_t ca = FoldChar(NextCodePoint(a, i, ra.End));
    std::uint32_t cb = FoldChar(NextCodePoint(b, j, rb.End));
    if (ca != cb) return static_cast<std::int32_t>(ca) - static_cast<std::int32_t>(cb);
  }
  std::size_t leftA = ra.End - i, leftB = rb.End - j;
  return static_cast<std::int32_t>(static_cast<std::int64_t>(leftA) - static_cast<std::int64_t>(leftB));
}

}  // namespace

std::int32_t CompareFoldRange(const WideString& a, const WideString& b, std::int32_t start, std::int32_t count) {
  return CompareFolded(a, ClampRange(a.size(), start, count), b, ClampRange(b.size(), start, count));
}

std::int32_t CompareFoldRanges(const WideString& a, const WideString& b, std::int32_t startA, std::int32_t count,
                               std::int32_t startB) {
  return CompareFolded(a, ClampRange(a.size(), startA, count), b, ClampRange(b.size(), startB, count));
}

std::int32_t CompareTextRange(const WideString& a, const WideString& b, std::int32_t startA, std::int32_t countB,
                              std::int32_t countA, std::int32_t startB) {
  TRange ra = ClampRange(a.size(), startA, countA);
  TRange rb = ClampRange(b.size(), startB, countB);
  std::size_t n = std::min(ra.Size(), rb.Size());
  std::int32_t r = CompareFolded(a, {ra.Begin, ra.Begin + n}, b, {rb.Begin, rb.Begin + n});
  if (r != 0) return r;
  return static_cast<std::int32_t>(static_cast<std::int64_t>(ra.Size()) - static_cast<std::int64_t>(rb.Size()));
}

bool SameText(const WideString& a, const WideString& b) {
  if (a.size() != b.size()) return false;
  return CompareFolded(a, {0, a.size()}, b, {0, b.size()}) == 0;
}

std::int32_t CompareStrings(const WideString& a, const WideString& b, bool ignoreCase) {
  if (ignoreCase) return CompareFolded(a, {0, a.size()}, b, {0, b.size()});
  std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i)
    if (a[i] != b[i]) return static_cast<std::int32_t>(a[i]) - static_cast<std::int32_t>(b[i]);
  return static_cast<std::int32_t>(static_cast<std::int64_t>(a.size()) - static_cast<std::int64_t>(b.size()));
}

std::int32_t CompareOrdinalRange(const WideString& a, const WideString& b, std::int32_t startA, std::int32_t count,
                                 std::int32_t startB) {
  TRange ra = ClampRange(a.size(), startA, count);
  TRange rb = ClampRange(b.size(), startB, count);
  std::size_t n = std::min(ra.Size(), rb.Size());
  for (std::size_t k = 0; k < n; ++k) {
    char16_t x = a[ra.Begin + k], y = b[rb.Begin + k];
    if (x != y) return static_cast<std::int32_t>(x) - static_cast<std::int32_t>(y);
  }
  // one range ran out: the characters it lacks count as less
  if (ra.Size() != rb.Size()) return ra.Size() < rb.Size() ? -1 : 1;
  return 0;
}

// ============================================================================
// Upper and lower case
// ============================================================================

namespace {
constexpr std::array<char16_t, 128> AsciiTable(bool upper) {
  std::array<char16_t, 128> t{};
  for (int i = 0; i < 128; ++i) {
    if (upper) t[i] = static_cast<char16_t>((i >= 'a' && i <= 'z') ? i - 32 : i);
    else t[i] = static_cast<char16_t>((i >= 'A' && i <= 'Z') ? i + 32 : i);
  }
  return t;
}
}  // namespace

const std::array<char16_t, 128> AsciiUpperCase = AsciiTable(true);
const std::array<char16_t, 128> AsciiLowerCase = AsciiTable(false);
bool NoWideCaseConversion = false;

namespace {

WideString ConvertCase(const WideString& s, std::int32_t start, std::int32_t count, bool upper) {
  WideString out = s;
  TRange r = ClampRange(s.size(), start, count);
  const std::array<char16_t, 128>& table = upper ? AsciiUpperCase : AsciiLowerCase;
  std::size_t i = r.Begin;
  while (i < r.End && out[i] < 128) {
    out[i] = table[out[i]];
    ++i;
  }
  while (i < r.End) {
    std::size_t at = i;
    std::uint32_t c = NextCodePoint(s, i, r.End);
    std::uint32_t m = upper ? plat::UpperCaseChar(c) : plat::LowerCaseChar(c);
    // a mapping that would change the number of units is not applied
    if ((c < 0x10000) != (m < 0x10000)) continue;
    if (m < 0x10000) {
      out[at] = static_cast<char16_t>(m);
    } else {
      m -= 0x10000;
      out[at] = static_cast<char16_t>(0xD800 + (m >> 10));
      out[at + 1] = static_cast<char16_t>(0xDC00 + (m & 0x3FF));
    }
  }
  return out;
}
}  // namespace

WideString UpperCase(const WideString& s) { return ConvertCase(s, 1, kMaxCount32, true); }
WideString UpperCaseLeft(const WideString& s, std::int32_t count) { return ConvertCase(s, 1, count, true); }
WideString UpperCaseRange(const WideString& s, std::int32_t start, std::int32_t count) {
  return ConvertCase(s, start, count, true);
}
WideString LowerCase(const WideString& s) { return ConvertCase(s, 1, kMaxCount32, false); }
WideString LowerCaseRange(const WideString& s, std::int32_t start, std::int32_t count) {
  return ConvertCase(s, start, count, false);
}

// ============================================================================
// UTF-8
// ============================================================================

namespace {

inline std::int32_t UnitBytes(char16_t c) { return c < 0x80 ? 1 : c < 0x800 ? 2 : 3; }

inline std::uint8_t* PutUnit(std::uint8_t* p, char16_t c) {
  if (c < 0x80) {
    *p++ = static_cast<std::uint8_t>(c);
  } else if (c < 0x800) {
    *p++ = static_cast<std::uint8_t>(0xC0 | (c >> 6));
    *p++ = static_cast<std::uint8_t>(0x80 | (c & 0x3F));
  } else {
    *p++ = static_cast<std::uint8_t>(0xE0 | (c >> 12));
    *p++ = static_cast<std::uint8_t>(0x80 | ((c >> 6) & 0x3F));
    *p++ = static_cast<std::uint8_t>(0x80 | (c & 0x3F));
  }
  return p;
}

std::int64_t RangeUtf8Length(const WideString& s, TRange r) {
  std::int64_t n = static_cast<std::int64_t>(r.Size());
  const char16_t* p = s.data();
  for (std::size_t i = r.Begin; i < r.End; ++i) n += (p[i] >= 0x80) + (p[i] >= 0x800);
  return n;
}

// Writes the units of s[r] from p (room for RangeUtf8Length bytes); returns the end.
std::uint8_t* PutRange(std::uint8_t* p, const WideString& s, TRange r) {
  const char16_t* in = s.data();
  std::size_t i = r.Begin;
  while (i < r.End) {
    char16_t c = in[i];
    if (c < 0x80) {
      *p++ = static_cast<std::uint8_t>(c);
      ++i;
      continue;
    }
    p = PutUnit(p, c);
    ++i;
  }
  return p;
}

[[noreturn]] void InvalidUtf8() { ZM_FAIL("Invalid UTF8 Char"); }

// Length of the sequence a lead byte starts (0 for a byte that cannot start one).
inline int SequenceLength(std::uint8_t b) {
  if (b < 0x80) return 1;
  if (b >= 0xC0 && b <= 0xDF) return 2;
  if (b >= 0xE0 && b <= 0xEF) return 3;
  if (b >= 0xF0 && b <= 0xF7) return 4;
  return 0;
}

// Strict decoding of p[0..n) appended to s. A character never takes more
// UTF-16 units than UTF-8 bytes, so the room is made once.
void DecodeStrict(const std::uint8_t* p, std::size_t n, WideString& s) {
  std::size_t base = s.size();
  s.resize(base + n);
  char16_t* out = s.data() + base;
  char16_t* const first = out;
  std::size_t i = 0;
  while (i < n) {
    // runs of ASCII, eight bytes at a time
    while (i + 8 <= n) {
      std::uint64_t w;
      std::memcpy(&w, p + i, 8);
      if (w & 0x8080808080808080ull) break;
      for (int k = 0; k < 8; ++k) out[k] = p[i + static_cast<std::size_t>(k)];
      out += 8;
      i += 8;
    }
    if (i >= n) break;
    std::uint8_t b = p[i];
    if (b < 0x80) {
      *out++ = b;
      ++i;
      continue;
    }
    int len = SequenceLength(b);
    if (len == 0 || n - i < static_cast<std::size_t>(len)) InvalidUtf8();
    std::uint32_t c = b & (0xFF >> (len + 1));
    for (int k = 1; k < len; ++k) {
      std::uint8_t t = p[i + static_cast<std::size_t>(k)];
      if ((t & 0xC0) != 0x80) InvalidUtf8();
      c = (c << 6) | (t & 0x3F);
    }
    if (c > 0x10FFFF) ZM_FAIL("Invalud Unicode Range");
    if (c >= 0x10000) {
      c -= 0x10000;
      *out++ = static_cast<char16_t>(0xD800 + (c >> 10));
      *out++ = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      *out++ = static_cast<char16_t>(c);
    }
    i += static_cast<std::size_t>(len);
  }
  s.resize(base + static_cast<std::size_t>(out - first));
}

}  // namespace

std::int32_t UTF8Length(const WideString& s, std::int32_t start, std::int32_t count) {
  std::int64_t n = RangeUtf8Length(s, ClampRange(s.size(), start, count));
  ZM_ASSERT(n <= INT32_MAX, "UTF8Length out of range");
  return static_cast<std::int32_t>(n);
}

void UTF8EncodeRange(const WideString& s, std::int32_t start, std::int32_t count, TByteString& bytes) {
  TRange r = ClampRange(s.size(), start, count);
  std::int64_t n = RangeUtf8Length(s, r);
  ZM_ASSERT(n <= INT32_MAX, "UTF8Encode out of range");
  std::string out(static_cast<std::size_t>(n), '\0');
  PutRange(reinterpret_cast<std::uint8_t*>(out.data()), s, r);
  bytes = TByteString(std::move(out));
}

TByteString UTF8Encode(const WideString& s) {
  TByteString b;
  UTF8EncodeRange(s, 1, kMaxCount32, b);
  return b;
}

std::int32_t UTF8EncodeBuf(const WideString& s, std::int32_t start, std::int32_t count, std::span<std::uint8_t> buffer,
                           std::int32_t pos, std::int32_t& written) {
  written = 0;
  TRange r = ClampRange(s.size(), start, count);
  if (pos < 0) pos = 0;
  std::size_t at = static_cast<std::size_t>(pos);
  std::int32_t taken = 0;
  for (std::size_t i = r.Begin; i < r.End; ++i) {
    std::size_t need = static_cast<std::size_t>(UnitBytes(s[i]));
    if (at > buffer.size() || buffer.size() - at < need) break;
    PutUnit(buffer.data() + at, s[i]);
    at += need;
    written += static_cast<std::int32_t>(need);
    ++taken;
  }
  return taken;
}

void UTF8EncodeToBytes(const WideString& s, std::int32_t start, std::int32_t count, std::vector<std::uint8_t>& bytes) {
  TRange r = ClampRange(s.size(), start, count);
  std::int64_t n = RangeUtf8Length(s, r);
  bytes.assign(static_cast<std::size_t>(n), 0);
  std::uint8_t* p = PutRange(bytes.data(), s, r);
  ZM_ASSERT(p - bytes.data() == n, "UTF8EncodeToBytes count mismatch");
}

std::int32_t UTF16Count(std::span<const std::uint8_t> bytes, std::int32_t first, std::int32_t last) {
  if (first < 0) first = 0;
  if (last >= static_cast<std::int32_t>(bytes.size())) last = static_cast<std::int32_t>(bytes.size()) - 1;
  if (last < first) return 0;
  std::int32_t count = 0;
  std::int64_t i = first;
  while (i <= last) {
    int len = SequenceLength(bytes[static_cast<std::size_t>(i)]);
    if (len == 0) InvalidUtf8();
    count += len == 4 ? 2 : 1;
    i += len;
  }
  if (i != std::int64_t(last) + 1) InvalidUtf8();
  return count;
}

void UTF8DecodeBuf(std::span<const std::uint8_t> bytes, std::int32_t offset, WideString& s, std::int32_t count) {
  s.clear();
  if (offset < 0) offset = 0;
  if (static_cast<std::size_t>(offset) >= bytes.size() || count <= 0) return;
  std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(count), bytes.size() - static_cast<std::size_t>(offset));
  DecodeStrict(bytes.data() + offset, n, s);
}

void UTF8DecodeRange(const TByteString& bytes, std::int32_t start, std::int32_t count, WideString& s) {
  UTF8DecodeBuf(std::span<const std::uint8_t>(bytes.Data(), static_cast<std::size_t>(bytes.Length())), start, s,
                count);
}

void UTF8Decode(const TByteString& bytes, WideString& s) {
  s.clear();
  DecodeStrict(bytes.Data(), static_cast<std::size_t>(bytes.Length()), s);
}

WideString UTF8Decode(const TByteString& bytes) {
  WideString s;
  UTF8Decode(bytes, s);
  return s;
}

std::int32_t CodePointToUTF16(std::uint32_t c, WideChar& w1, WideChar& w2) {
  if (c < 0x10000) {
    w1 = static_cast<WideChar>(c);
    w2 = 0;
    return 1;
  }
  ZM_ASSERT(c <= 0x10FFFF, "Illegal char range for surrogates");
  c -= 0x10000;
  w1 = static_cast<WideChar>(0xD800 + (c >> 10));
  w2 = static_cast<WideChar>(0xDC00 + (c & 0x3FF));
  return 2;
}

// ============================================================================
// Code pages
// ============================================================================

void AnsiRangeToWide(std::span<const std::uint8_t> bytes, std::int32_t offset, WideString& s, std::uint32_t codePage,
                     std::int32_t count) {
  s.clear();
  if (offset < 0) offset = 0;
  if (static_cast<std::size_t>(offset) >= bytes.size() || count <= 0) return;
  std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(count), bytes.size() - static_cast<std::size_t>(offset));
  if (!plat::CodePageToUtf16(codePage, bytes.data() + offset, n, s)) s.clear();
}

// ============================================================================
// Other functions
// ============================================================================

WideString Trim(const WideString& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && s[b] == u' ') ++b;
  while (e > b && s[e - 1] == u' ') --e;
  return s.substr(b, e - b);
}

WideString TrimRight(const WideString& s) {
  std::size_t e = s.size();
  while (e > 0 && s[e - 1] <= 32) --e;
  return s.substr(0, e);
}

void FormatPercent(const WideString& format, std::span<const WideString> args, WideString& result) {
  result.clear();
  result.reserve(format.size());
  std::size_t i = 0, n = format.size();
  while (i < n) {
    char16_t c = format[i++];
    if (c != u'%') {
      result += c;
      continue;
    }
    std::uint64_t number = 0;
    bool digits = false;
    while (i < n && format[i] >= u'0' && format[i] <= u'9') {
      if (number < 1000000000ull) number = number * 10 + (format[i] - u'0');
      digits = true;
      ++i;
    }
    if (digits && number >= 1 && number <= args.size()) result += args[static_cast<std::size_t>(number - 1)];
  }
}

WideString FormatPercent(const WideString& format, std::initializer_list<WideString> args) {
  WideString r;
  FormatPercent(format, std::span<const WideString>(args.begin(), args.size()), r);
  return r;
}

namespace {
int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return -1;
}
}  // namespace

bool TryStrToInt(const WideString& s, std::int32_t& value) {
  std::int32_t v = 0, code = 0;
  ValInt(s, v, code);
  if (code != 0) return false;
  value = v;
  return true;
}

std::int32_t StrToInt(const WideString& s) {
  std::int32_t v = 0;
  if (!TryStrToInt(s, v)) {
    EConvertError e;
    e.SetMessage(plat::ToUtf8(FormatPercent(u"\"%1\" is not a valid integer value", {s})));
    throw e;
  }
  return v;
}

std::int32_t StrToIntDef(const WideString& s, std::int32_t def) {
  std::int32_t v = 0;
  return TryStrToInt(s, v) ? v : def;
}

namespace {
bool HexToBits(const WideString& s, std::int32_t start, std::int32_t count, int bits, std::uint32_t& v) {
  v = 0;
  if (count < 1) return true;
  TRange r = ClampRange(s.size(), start, count);
  std::uint32_t limit = bits == 32 ? 0xFFFFFFFFu : (1u << bits) - 1;
  std::uint64_t acc = 0;
  for (std::size_t i = r.Begin; i < r.End; ++i) {
    int d = HexDigit(s[i]);
    if (d < 0) return false;
    acc = (acc << 4) | static_cast<std::uint64_t>(d);
    if (acc > limit) return false;
    v = static_cast<std::uint32_t>(acc);
  }
  return true;
}
}  // namespace

bool HexToUInt32(const WideString& s, std::int32_t start, std::int32_t count, std::uint32_t& v) {
  return HexToBits(s, start, count, 32, v);
}

bool HexToWord(const WideString& s, std::int32_t start, std::int32_t count, std::uint16_t& v) {
  std::uint32_t x = 0;
  bool ok = HexToBits(s, start, count, 16, x);
  v = static_cast<std::uint16_t>(x);
  return ok;
}

bool HexToByte(const WideString& s, std::int32_t start, std::int32_t count, std::uint8_t& v) {
  std::uint32_t x = 0;
  bool ok = HexToBits(s, start, count, 8, x);
  v = static_cast<std::uint8_t>(x);
  return ok;
}

bool TryStrToGUID(const WideString& s, TGUID& g) {
  if (s.size() != 38 || s[0] != u'{' || s[37] != u'}' || s[9] != u'-' || s[14] != u'-' || s[19] != u'-' ||
      s[24] != u'-')
    return false;
  TGUID r;
  std::uint32_t v;
  if (!HexToUInt32(s, 2, 8, v)) return false;
  r.D1 = v;
  std::uint16_t w;
  if (!HexToWord(s, 11, 4, w)) return false;
  r.D2 = w;
  if (!HexToWord(s, 16, 4, w)) return false;
  r.D3 = w;
  static const int kBytePos[8] = {21, 23, 26, 28, 30, 32, 34, 36};  // 1-based
  for (int k = 0; k < 8; ++k) {
    std::uint8_t b;
    if (!HexToByte(s, kBytePos[k], 2, b)) return false;
    r.D4[k] = b;
  }
  g = r;
  return true;
}

// ============================================================================
// Module
// ============================================================================

void InitUnicode() {
  if (!gFirstPage) BuildFoldTables();
}

void FiniUnicode() { FreeFoldTables(); }

}  // namespace zm
