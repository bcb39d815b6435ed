// Which characters read as themselves (the confusables data, normalisation,
// what a font draws), and host names in the ASCII form browsers look up.
#include "Platform/PlatSpoof.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// "1" for each character that reads as itself, "0" for each that does not.
std::string Reads(std::u32string_view text, const std::function<bool(char32_t)>& drawn = {}) {
  std::string r;
  for (bool b : plat::ReadsAsItself(text, drawn)) r += b ? '1' : '0';
  return r;
}

}  // namespace

// Words of any script read as themselves; a character that draws like
// another, or like a sequence, does not, in any script.
TEST(PlatSpoof, LettersReadAsThemselvesLookAlikesDoNot) {
  EXPECT_EQ(Reads(U"Grüße café λ 中文 אבג ЖЩ"), "1111101111010110111011");
  // Cyrillic а, Greek ο, Hebrew ו, Latin ø, dotless ı, the ligature ﬁ,
  // the division slash, the hyphen U+2010, mathematical sans-serif a.
  EXPECT_EQ(Reads(U"\u0430\u03BF\u05D5\u00F8\u0131\uFB01\u2215\u2010\U0001D5BA"), "000000000");
  // Whole words of look-alikes: "аре" in Cyrillic, "ΑΒΕ" in Greek.
  EXPECT_EQ(Reads(U"\u0430\u0440\u0435 \u0391\u0392\u0395"), "0000000");
  // ASCII always reads as itself, its own look-alikes too.
  EXPECT_EQ(Reads(U"Il1|O0 rn m"), "11111101101");
}

// A mark reads as itself only where the text is in NFC and the mark sits
// on a letter, digit or mark that reads as itself.
TEST(PlatSpoof, CombiningMarksAndNormalisation) {
  // e + U+0301 is é written apart (not NFC): the mark is not itself.
  EXPECT_EQ(Reads(U"cafe\u0301"), "11110");
  EXPECT_EQ(Reads(U"caf\u00E9"), "1111");
  // No precomposed q with acute, nor é with a second acute: NFC.
  EXPECT_EQ(Reads(U"q\u0301 \u00E9\u0301"), "11011");
  // On nothing, on a blank, on a look-alike, on punctuation.
  EXPECT_EQ(Reads(U"\u0301 \u0301\u0430\u0301/\u0301"), "0000010");
  // Marks in the wrong canonical order: not NFC, the letter of that
  // stretch neither when it is not ASCII.
  EXPECT_EQ(Reads(U"\u00E9\u0301\u0323x"), "0001");
  // A character the font does not draw, and the mark on it.
  EXPECT_EQ(Reads(U"\u4E2D\u0301a", [](char32_t c) { return c != 0x4E2D; }), "001");
  // A dot above where it would merge with a dot or a stem (the hidden
  // overlay): on i, j and l, also with a mark below between; not on other
  // letters, nor above another mark above.
  EXPECT_EQ(Reads(U"i\u0307 j\u0307 l\u0307 j\u0323\u0307 \u03BB\u0307 j\u0303\u0307"), "1001001001100110111");
  // Unicode recommends letters of the scripts in common use.
  EXPECT_TRUE(plat::RecommendedInIdentifiers(U'\u03BB'));
  EXPECT_FALSE(plat::RecommendedInIdentifiers(U'\u019B'));
  EXPECT_TRUE(plat::IsCombiningMark(0x307));
  EXPECT_FALSE(plat::IsCombiningMark(U'a'));
}

// What shows nothing or nothing of its own never reads as itself.
TEST(PlatSpoof, InvisibleUnassignedAndDamagedCodePoints) {
  // Private use, unassigned, a noncharacter, C0 and C1 controls, the blank
  // and other spaces, format characters (zero width, direction), default-
  // ignorable letters and variation selectors.
  EXPECT_EQ(Reads(U"\uE000\u0378\uFFFF\U0010FFFF\t\u0085 \u00A0\u3000\u2028\u200B\u202E\u00AD\u115F\u3164\uFE0F"),
            "0000000000000000");
  // Half a surrogate pair, a value past U+10FFFF.
  std::u32string damaged = U"a";
  damaged += char32_t(0xD800);
  damaged += char32_t(0x110000);
  damaged += U'b';
  EXPECT_EQ(Reads(damaged), "1001");
  EXPECT_TRUE(plat::ReadsAsItself(U"").empty());
}

TEST(PlatSpoof, HostNamesInTheirAsciiForm) {
  std::string ascii;
  const std::pair<const char*, const char*> names[] = {
      {"\u0430\u0440\u0440\u04CF\u0435.com", "xn--80ak6aa92e.com"},
      {"m\u00FCnchen.de", "xn--mnchen-3ya.de"},
      {"M\u00DCNCHEN.DE", "xn--mnchen-3ya.de"},
      {"fa\u00DF.de", "xn--fa-hia.de"},  // not made "fass.de", as browsers look it up
      {"example.org", "example.org"},
      {"-leading-.org", "-leading-.org"}};
  for (const auto& [name, form] : names) {
    EXPECT_TRUE(plat::HostNameToAscii(name, ascii)) << name;
    EXPECT_EQ(ascii, form);
  }
  // A joiner outside its context, a broken punycode label, bytes that are
  // no UTF-8, a label that mixes directions: no ASCII form.
  for (const std::string name : {"a\u200Db.com", "xn--ls8h-.com", "\xFF\xFE.com", "\u05D0a.com"}) {
    EXPECT_FALSE(plat::HostNameToAscii(name, ascii)) << name;
    EXPECT_TRUE(ascii.empty());
  }
  EXPECT_FALSE(plat::HostNameToAscii(std::string(5000, 'a'), ascii));
}
