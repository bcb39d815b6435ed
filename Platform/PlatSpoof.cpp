#include "Platform/PlatSpoof.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/uidna.h>
#include <unicode/uset.h>
#include <unicode/unorm2.h>
#include <unicode/uspoof.h>
#include <unicode/utf16.h>

#include <limits>

namespace plat {

namespace {

// The checker and the normalisers, made once; a const checker may be used
// from several threads at once.
struct TIcu {
  USpoofChecker* Spoof = nullptr;
  const UNormalizer2* Nfc = nullptr;
  const UNormalizer2* Nfd = nullptr;
  UIDNA* Idna = nullptr;
  TIcu() {
    UErrorCode e = U_ZERO_ERROR;
    Spoof = uspoof_open(&e);
    if (U_FAILURE(e)) Spoof = nullptr;
    e = U_ZERO_ERROR;
    Nfc = unorm2_getNFCInstance(&e);
    if (U_FAILURE(e)) Nfc = nullptr;
    e = U_ZERO_ERROR;
    Nfd = unorm2_getNFDInstance(&e);
    if (U_FAILURE(e)) Nfd = nullptr;
    e = U_ZERO_ERROR;
    // As browsers take a URL's host: non-transitional, joiners and
    // right-to-left labels checked.
    Idna = uidna_openUTS46(UIDNA_NONTRANSITIONAL_TO_ASCII | UIDNA_CHECK_BIDI | UIDNA_CHECK_CONTEXTJ, &e);
    if (U_FAILURE(e)) Idna = nullptr;
  }
  ~TIcu() {
    if (Spoof) uspoof_close(Spoof);
    if (Idna) uidna_close(Idna);
  }
  TIcu(const TIcu&) = delete;
  TIcu& operator=(const TIcu&) = delete;
};

const TIcu& Icu() {
  static const TIcu icu;
  return icu;
}

bool Valid(char32_t c) { return c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF); }

bool PrintableAscii(char32_t c) { return c > 0x20 && c < 0x7F; }

// What makes a character unreadable whatever stands around it.
bool ReadableAlone(const TIcu& icu, char32_t c) {
  if (!Valid(c)) return false;
  const auto cp = static_cast<UChar32>(c);
  switch (u_charType(cp)) {
    case U_UNASSIGNED:
    case U_PRIVATE_USE_CHAR:
    case U_CONTROL_CHAR:
    case U_FORMAT_CHAR:
    case U_SURROGATE:
    case U_SPACE_SEPARATOR:
    case U_LINE_SEPARATOR:
    case U_PARAGRAPH_SEPARATOR: return false;
    default: break;
  }
  if (u_hasBinaryProperty(cp, UCHAR_DEFAULT_IGNORABLE_CODE_POINT)) return false;
  // Its own skeleton: the confusables data maps it to nothing else.
  UChar one[2];
  int32_t n = 0;
  U16_APPEND_UNSAFE(one, n, cp);
  UChar skeleton[64], nfd[64];
  UErrorCode e = U_ZERO_ERROR;
  const int32_t sn = uspoof_getSkeleton(icu.Spoof, 0, one, n, skeleton, 64, &e);
  if (U_FAILURE(e)) return false;
  e = U_ZERO_ERROR;
  const int32_t dn = unorm2_normalize(icu.Nfd, one, n, nfd, 64, &e);
  if (U_FAILURE(e) || sn != dn) return false;
  for (int32_t i = 0; i < sn; ++i)
    if (skeleton[i] != nfd[i]) return false;
  return true;
}

bool IsMark(char32_t c) { return Valid(c) && (U_GET_GC_MASK(static_cast<UChar32>(c)) & U_GC_M_MASK) != 0; }

// A letter that a dot above would merge with: soft-dotted (i, j and the
// like), l, dotless i and j, or one whose skeleton ends in such a letter.
bool HidesDotAbove(const TIcu& icu, char32_t c) {
  const auto hides = [](UChar32 x) {
    return u_hasBinaryProperty(x, UCHAR_SOFT_DOTTED) || x == u'l' || x == 0x131 || x == 0x237;
  };
  if (!Valid(c)) return false;
  if (hides(static_cast<UChar32>(c))) return true;
  UChar one[2];
  int32_t n = 0;
  U16_APPEND_UNSAFE(one, n, static_cast<UChar32>(c));
  UChar skeleton[64];
  UErrorCode e = U_ZERO_ERROR;
  const int32_t sn = uspoof_getSkeleton(icu.Spoof, 0, one, n, skeleton, 64, &e);
  if (U_FAILURE(e) || sn <= 0 || sn > 64) return false;
  UChar32 last = 0;
  int32_t at = sn;
  U16_PREV(skeleton, 0, at, last);
  return hides(last);
}

bool IsLetterDigitOrMark(char32_t c) {
  return Valid(c) && (U_GET_GC_MASK(static_cast<UChar32>(c)) & (U_GC_L_MASK | U_GC_N_MASK | U_GC_M_MASK)) != 0;
}

}  // namespace

std::vector<bool> ReadsAsItself(std::u32string_view text, const std::function<bool(char32_t)>& drawn) {
  std::vector<bool> reads(text.size(), false);
  const TIcu& icu = Icu();
  const bool data = icu.Spoof && icu.Nfc && icu.Nfd;
  for (std::size_t i = 0; i < text.size(); ++i)
    reads[i] = PrintableAscii(text[i]) || (data && ReadableAlone(icu, text[i]) && (!drawn || drawn(text[i])));
  if (!data) return reads;

  // Stretches that normalise on their own, each in NFC or not as a whole.
  std::u16string units;
  for (std::size_t a = 0; a < text.size();) {
    std::size_t b = a + 1;
    while (b < text.size() &&
           !(Valid(text[b]) ? unorm2_hasBoundaryBefore(icu.Nfc, static_cast<UChar32>(text[b])) : true))
      ++b;
    bool ascii = true;
    units.clear();
    for (std::size_t k = a; k < b; ++k) {
      // Anything not valid stands for itself: U+FFFD takes its place.
      const char32_t c = Valid(text[k]) ? text[k] : 0xFFFD;
      ascii = ascii && c < 0x80;
      if (c < 0x10000) {
        units += char16_t(c);
      } else {
        units += char16_t(0xD800 + ((c - 0x10000) >> 10));
        units += char16_t(0xDC00 + ((c - 0x10000) & 0x3FF));
      }
    }
    if (!ascii && units.size() <= std::size_t(std::numeric_limits<int32_t>::max())) {
      UErrorCode e = U_ZERO_ERROR;
      const UBool nfc = unorm2_isNormalized(icu.Nfc, reinterpret_cast<const UChar*>(units.data()),
                                            static_cast<int32_t>(units.size()), &e);
      if (U_FAILURE(e) || !nfc)
        for (std::size_t k = a; k < b; ++k)
          if (!PrintableAscii(text[k])) reads[k] = false;
    }
    a = b;
  }
  // A mark over anything but a letter, a digit or a mark that reads as
  // itself would change what that shows; a dot above a letter that has one
  // (or marks below it between) would not show at all.
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (reads[i] && IsMark(text[i]) && (i == 0 || !reads[i - 1] || !IsLetterDigitOrMark(text[i - 1])))
      reads[i] = false;
    if (reads[i] && text[i] == 0x307) {
      std::size_t base = i;
      while (base > 0 && IsMark(text[base - 1])) {
        const std::uint8_t cc = u_getCombiningClass(static_cast<UChar32>(text[base - 1]));
        if (cc == 0 || cc == 230) break;
        --base;
      }
      if (base > 0 && !IsMark(text[base - 1]) && HidesDotAbove(icu, text[base - 1])) reads[i] = false;
    }
  }
  return reads;
}

bool IsCombiningMark(char32_t c) { return IsMark(c); }

bool RecommendedInIdentifiers(char32_t c) {
  if (!Valid(c)) return false;
  UErrorCode e = U_ZERO_ERROR;
  const USet* recommended = uspoof_getRecommendedSet(&e);
  return U_SUCCESS(e) && recommended && uset_contains(recommended, static_cast<UChar32>(c));
}

bool HostNameToAscii(std::string_view host, std::string& ascii) {
  ascii.clear();
  const TIcu& icu = Icu();
  if (!icu.Idna || host.size() > 4096) return false;
  // Host names may break DNS's length rules and the hyphen rules of IDNA
  // 2008 and still be looked up.
  constexpr uint32_t kLooked = UIDNA_ERROR_EMPTY_LABEL | UIDNA_ERROR_LABEL_TOO_LONG | UIDNA_ERROR_DOMAIN_NAME_TOO_LONG |
                               UIDNA_ERROR_LEADING_HYPHEN | UIDNA_ERROR_TRAILING_HYPHEN | UIDNA_ERROR_HYPHEN_3_4;
  std::string out(host.size() * 2 + 64, '\0');
  UIDNAInfo info = UIDNA_INFO_INITIALIZER;
  UErrorCode e = U_ZERO_ERROR;
  int32_t n = uidna_nameToASCII_UTF8(icu.Idna, host.data(), static_cast<int32_t>(host.size()), out.data(),
                                     static_cast<int32_t>(out.size()), &info, &e);
  if (e == U_BUFFER_OVERFLOW_ERROR && n > 0) {
    out.assign(std::size_t(n) + 1, '\0');
    info = UIDNA_INFO_INITIALIZER;
    e = U_ZERO_ERROR;
    n = uidna_nameToASCII_UTF8(icu.Idna, host.data(), static_cast<int32_t>(host.size()), out.data(),
                               static_cast<int32_t>(out.size()), &info, &e);
  }
  if (U_FAILURE(e) || e == U_STRING_NOT_TERMINATED_WARNING || (info.errors & ~kLooked) != 0 || n < 0 ||
      std::size_t(n) > out.size())
    return false;
  out.resize(std::size_t(n));
  ascii = std::move(out);
  return true;
}

std::u16string FoldCase(std::u16string_view text) {
  if (text.empty() || text.size() > std::size_t(std::numeric_limits<int32_t>::max() / 4)) return std::u16string(text);
  std::u16string out(text.size() * 3, u'\0');
  UErrorCode e = U_ZERO_ERROR;
  const int32_t n = u_strFoldCase(reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()),
                                  reinterpret_cast<const UChar*>(text.data()), static_cast<int32_t>(text.size()),
                                  U_FOLD_CASE_DEFAULT, &e);
  if (U_FAILURE(e) || n < 0 || std::size_t(n) > out.size()) return std::u16string(text);
  out.resize(std::size_t(n));
  return out;
}

bool ShowsNothing(char32_t c) {
  if (!Valid(c)) return false;
  const UChar32 u = static_cast<UChar32>(c);
  return u_isUWhiteSpace(u) || u_hasBinaryProperty(u, UCHAR_DEFAULT_IGNORABLE_CODE_POINT) ||
         u_charType(u) == U_CONTROL_CHAR || u_charType(u) == U_FORMAT_CHAR;
}

}  // namespace plat
