#include "ZmLib/zmStrUtils.h"

#include <charconv>
#include <cmath>
#include <string>
#include <system_error>

#include "ZmLib/wpUnicode.h"

namespace zm {

namespace {

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

int HexValue(char16_t c) {
  if (IsDigit(c)) return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

std::int32_t Position(std::size_t index) { return static_cast<std::int32_t>(index) + 1; }

}  // namespace

void ValInt(const WideString& s, std::int32_t& value, std::int32_t& code) {
  value = 0;
  const std::size_t n = s.size();
  std::size_t i = 0;
  while (i < n && s[i] == u' ') ++i;
  bool negative = false;
  if (i < n && (s[i] == u'+' || s[i] == u'-')) negative = s[i++] == u'-';
  bool hex = false;
  if (i < n && s[i] == u'$') {
    hex = true;
    ++i;
  } else if (i + 1 < n && s[i] == u'0' && (s[i + 1] == u'x' || s[i + 1] == u'X')) {
    hex = true;
    i += 2;
  }
  if (i >= n) {
    code = Position(n);
    return;
  }
  // The magnitude of a negative decimal may reach 2^31.
  const std::uint64_t limit = hex ? 0xFFFFFFFFull : (negative ? 2147483648ull : 2147483647ull);
  std::uint64_t acc = 0;
  for (; i < n; ++i) {
    const int d = hex ? HexValue(s[i]) : (IsDigit(s[i]) ? s[i] - u'0' : -1);
    if (d < 0) {
      code = Position(i);
      return;
    }
    acc = acc * (hex ? 16u : 10u) + static_cast<std::uint64_t>(d);
    if (acc > limit) {
      code = Position(i);
      return;
    }
  }
  if (hex) {
    const std::uint32_t u = static_cast<std::uint32_t>(acc);
    value = static_cast<std::int32_t>(negative ? 0u - u : u);
  } else {
    value = static_cast<std::int32_t>(negative ? -static_cast<std::int64_t>(acc) : static_cast<std::int64_t>(acc));
  }
  code = 0;
}

void ValFloat(const WideString& s, double& value, std::int32_t& code) {
  value = 0.0;
  const std::size_t n = s.size();
  std::size_t i = 0;
  while (i < n && s[i] == u' ') ++i;
  bool negative = false;
  if (i < n && (s[i] == u'+' || s[i] == u'-')) negative = s[i++] == u'-';
  const std::size_t first = i;

  // The decimal exponent of the leading non-zero digit (for telling an
  // overflow from an underflow) and whether there is one at all.
  std::int64_t magnitude = 0;
  bool nonZero = false;
  std::size_t digits = 0;
  for (; i < n && IsDigit(s[i]); ++i, ++digits) {
    if (nonZero) ++magnitude;
    else if (s[i] != u'0') nonZero = true, magnitude = 1;
  }
  if (i < n && s[i] == u'.') {
    ++i;
    for (std::int64_t place = 0; i < n && IsDigit(s[i]); ++i, ++digits) {
      --place;
      if (!nonZero && s[i] != u'0') nonZero = true, magnitude = place + 1;
    }
  }
  if (digits == 0) {
    code = Position(i);
    return;
  }
  std::int64_t exponent = 0;
  if (i < n && (s[i] == u'e' || s[i] == u'E')) {
    std::size_t j = i + 1;
    bool negExp = false;
    if (j < n && (s[j] == u'+' || s[j] == u'-')) negExp = s[j++] == u'-';
    if (j >= n || !IsDigit(s[j])) {
      code = Position(j);
      return;
    }
    for (; j < n && IsDigit(s[j]); ++j)
      if (exponent < 1000000) exponent = exponent * 10 + (s[j] - u'0');
    if (negExp) exponent = -exponent;
    i = j;
  }
  if (i < n) {
    code = Position(i);
    return;
  }

  // Everything from first to the end is ASCII now.
  std::string text;
  text.reserve(n - first + 1);
  if (negative) text += '-';
  for (std::size_t k = first; k < n; ++k) text += static_cast<char>(s[k]);
  double v = 0.0;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), v, std::chars_format::general);
  if (r.ec == std::errc() && r.ptr == text.data() + text.size() && std::isfinite(v)) {
    value = v;
    code = 0;
    return;
  }
  if (nonZero && magnitude + exponent <= 0) {
    // Too small for a double: zero of the number's sign.
    value = negative ? -0.0 : 0.0;
    code = 0;
    return;
  }
  code = Position(first);
}

std::int32_t PosText(const WideString& sub, const WideString& s, std::int32_t offset) {
  if (sub.empty() || offset < 1 || static_cast<std::size_t>(offset) > s.size()) return 0;
  const std::size_t p = s.find(sub, static_cast<std::size_t>(offset) - 1);
  return p == WideString::npos ? 0 : Position(p);
}

bool TextEndsWithExact(const WideString& text, const WideString& ending) {
  if (ending.size() > text.size()) return false;
  const std::size_t start = text.size() - ending.size();
  if (text.compare(start, ending.size(), ending) != 0) return false;
  // Half of a surrogate pair is not the character.
  const auto high = [](char16_t c) { return c >= 0xD800 && c <= 0xDBFF; };
  const auto low = [](char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; };
  return start == 0 || start == text.size() || !(high(text[start - 1]) && low(text[start]));
}

bool TextEndsWith(const WideString& text, const WideString& ending) {
  if (ending.empty()) return true;
  // Folding may change lengths ("ß" folds to "ss"), so the ends are compared
  // after folding both texts whole.
  return TextEndsWithExact(CaseFold(text), CaseFold(ending));
}

}  // namespace zm
