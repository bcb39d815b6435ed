#include "Platform/PlatText.h"

#include <errno.h>
#include <iconv.h>
#include <locale.h>
#include <wctype.h>

#include <hb.h>

#include <atomic>
#include <string_view>

#include "Platform/PlatUtf8.h"

namespace plat {

// ---- Case mapping --------------------------------------------------------------------

namespace {

locale_t CLocale() {
  // Built once; C.UTF-8 ships with glibc. The plain C locale (ASCII only)
  // is the fallback on a system without it.
  static const locale_t loc = [] {
    locale_t l = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    if (!l) l = ::newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(nullptr));
    return l;
  }();
  return loc;
}

}  // namespace

std::uint32_t UpperCaseChar(std::uint32_t c) {
  if (c < 128) return (c >= 'a' && c <= 'z') ? c - 32 : c;
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return c;
  locale_t l = CLocale();
  if (!l) return c;
  return static_cast<std::uint32_t>(::towupper_l(static_cast<wint_t>(c), l));
}

std::uint32_t LowerCaseChar(std::uint32_t c) {
  if (c < 128) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return c;
  locale_t l = CLocale();
  if (!l) return c;
  return static_cast<std::uint32_t>(::towlower_l(static_cast<wint_t>(c), l));
}

// ---- Code pages -------------------------------------------------------------------------

bool IsValidUtf8(const unsigned char* s, std::size_t n) {
  std::size_t i = 0;
  while (i < n) {
    unsigned char b = s[i];
    if (b < 0x80) {
      ++i;
      continue;
    }
    std::size_t extra;
    std::uint32_t c;
    if (b >= 0xC2 && b <= 0xDF) extra = 1, c = b & 0x1F;
    else if (b >= 0xE0 && b <= 0xEF) extra = 2, c = b & 0x0F;
    else if (b >= 0xF0 && b <= 0xF4) extra = 3, c = b & 0x07;
    else return false;
    if (n - i <= extra) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) return false;
      c = (c << 6) | (s[i + k] & 0x3F);
    }
    if ((extra == 2 && (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF))) || (extra == 3 && (c < 0x10000 || c > 0x10FFFF)))
      return false;
    i += extra + 1;
  }
  return true;
}

namespace {

// Windows-1252 bytes 80..9F; the five unused ones map to the C1 control of
// the same value.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void Cp1252ToUtf16(const unsigned char* s, std::size_t n, std::u16string& out) {
  out.reserve(out.size() + n);
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char b = s[i];
    out += (b >= 0x80 && b < 0xA0) ? kCp1252High[b - 0x80] : static_cast<char16_t>(b);
  }
}

std::string IconvName(std::uint32_t cp) {
  switch (cp) {
    case kCodePageOem: return "CP437";
    case 2: case 10000: return "MACINTOSH";
    case 1200: return "UTF-16LE";
    case 1201: return "UTF-16BE";
    case 20127: return "ASCII";
    case 20866: return "KOI8-R";
    case 21866: return "KOI8-U";
    case 28591: case 28592: case 28593: case 28594: case 28595:
    case 28596: case 28597: case 28598: case 28599:
      return "ISO-8859-" + std::to_string(cp - 28590);
    case 28603: return "ISO-8859-13";
    case 28605: return "ISO-8859-15";
    case 50220: return "ISO-2022-JP";
    case 51932: return "EUC-JP";
    case 51949: return "EUC-KR";
    case 54936: return "GB18030";
    case 65000: return "UTF-7";
    default: return "CP" + std::to_string(cp);
  }
}

bool IconvToUtf16(const std::string& name, const unsigned char* s, std::size_t n, std::u16string& out) {
  iconv_t cd = ::iconv_open("UTF-16LE", name.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::u16string result;
  std::u16string chunk(4096, u'\0');
  char* in = const_cast<char*>(reinterpret_cast<const char*>(s));
  std::size_t inLeft = n;
  bool flushed = false;
  while (!flushed) {
    char* outp = reinterpret_cast<char*>(chunk.data());
    std::size_t outLeft = chunk.size() * 2;
    std::size_t r;
    if (inLeft > 0) {
      r = ::iconv(cd, &in, &inLeft, &outp, &outLeft);
    } else {
      r = ::iconv(cd, nullptr, nullptr, &outp, &outLeft);  // end any shift state
      flushed = r != static_cast<std::size_t>(-1);
    }
    int e = errno;
    std::size_t produced = (chunk.size() * 2 - outLeft) / 2;
    result.append(chunk.data(), produced);
    if (r == static_cast<std::size_t>(-1)) {
      if (e == E2BIG) continue;
      if (e == EILSEQ || e == EINVAL) {
        // an undefined byte, or a sequence cut off at the end
        result += u'\xFFFD';
        if (inLeft > 0) {
          ++in;
          --inLeft;
        }
        ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
        continue;
      }
      break;
    }
  }
  ::iconv_close(cd);
  out += result;
  return true;
}

}  // namespace

namespace {
std::atomic<std::uint32_t> gAnsiCodePage{kDefaultAnsiCodePage};
}  // namespace

void SetAnsiCodePage(std::uint32_t codePage) { gAnsiCodePage.store(codePage); }
std::uint32_t AnsiCodePage() { return gAnsiCodePage.load(); }

bool CodePageToUtf16(std::uint32_t cp, const unsigned char* s, std::size_t n, std::u16string& out) {
  if (n == 0) return true;
  if (!s) return false;
  if (cp == kCodePageAnsi || cp == 3) {
    if (IsValidUtf8(s, n)) {
      out += FromUtf8(std::string_view(reinterpret_cast<const char*>(s), n));
      return true;
    }
    const std::uint32_t ansi = AnsiCodePage();
    // The ANSI page is a Windows page; one that names this call again (or
    // UTF-8, which the bytes are not) or that cannot be converted reads as
    // Windows-1252.
    if (ansi != kCodePageAnsi && ansi != 3 && ansi != kCodePageUtf8 && ansi != 1252 &&
        IconvToUtf16(IconvName(ansi), s, n, out))
      return true;
    Cp1252ToUtf16(s, n, out);
    return true;
  }
  if (cp == kCodePageUtf8) {
    out += FromUtf8(std::string_view(reinterpret_cast<const char*>(s), n));
    return true;
  }
  if (cp == 1252) {
    Cp1252ToUtf16(s, n, out);
    return true;
  }
  return IconvToUtf16(IconvName(cp), s, n, out);
}

// ---- Scripts -----------------------------------------------------------------------

std::uint32_t ScriptOfChar(std::uint32_t c) {
  if (c > 0x10FFFF) return ScriptTag('Z', 'z', 'z', 'z');
  // HarfBuzz's tags are the ISO 15924 ones.
  return std::uint32_t(hb_unicode_script(hb_unicode_funcs_get_default(), hb_codepoint_t(c)));
}

// ---- Splitting -----------------------------------------------------------------------

std::vector<std::u16string> SplitNonEmpty(const std::u16string& text, bool (*isSeparator)(char16_t)) {
  std::vector<std::u16string> parts;
  std::u16string cur;
  for (char16_t c : text) {
    if (isSeparator(c)) {
      if (!cur.empty()) parts.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) parts.push_back(cur);
  return parts;
}

}  // namespace plat
