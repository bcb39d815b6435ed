#include "ZmLib/Text/zmUnicodeCharInfo.h"

#include <gtest/gtest.h>

#include "ZmLib/wpUnicode.h"

using namespace zm;

namespace {
std::vector<std::uint16_t> V(std::initializer_list<std::uint16_t> l) { return l; }
}  // namespace

TEST(UnicodeCharInfo, CaseFormsAndDecompositions) {
  ASSERT_TRUE(UnicodeMapBuilt());
  EXPECT_EQ(CharInfo(u'A').LowerCase, u'a');
  EXPECT_EQ(CharInfo(u'a').UpperCase, u'A');
  EXPECT_EQ(CharInfo(u'A').IsUpper, 1);
  EXPECT_EQ(CharInfo(u'a').IsUpper, 0);
  EXPECT_EQ(CharInfo(u'\u00C0').Decomposition, V({u'A', 0x0300}));
  EXPECT_EQ(CharInfo(u'\u00E0').Decomposition, V({u'a', 0x0300}));
  EXPECT_EQ(CharInfo(u'\u1E08').Decomposition, V({0x00C7, 0x0301}));
  EXPECT_EQ(CharInfo(u'\u1E09').Decomposition, V({0x00E7, 0x0301}));
  EXPECT_TRUE(CharInfo(u'A').Decomposition.empty());

  const TMapInfo& dz = CharInfo(u'\u01C5');
  EXPECT_EQ(dz.IsTitle, 1);
  EXPECT_EQ(dz.IsUpper, 0);
  EXPECT_EQ(dz.UpperCase, 0x01C4);
  EXPECT_EQ(dz.LowerCase, 0x01C6);
  EXPECT_EQ(dz.HasCasePair, 0);
  EXPECT_EQ(CharInfo(u'\u01C4').TitleForms, V({0x01C5}));
  EXPECT_EQ(CharInfo(u'\u01C6').TitleForms, V({0x01C5}));
  const TMapInfo& ypo = CharInfo(u'\u1F88');
  EXPECT_EQ(ypo.UpperCase, 0x1F88);
  EXPECT_EQ(ypo.LowerCase, 0x1F80);
  EXPECT_EQ(ypo.Decomposition, V({0x1F08, 0x0345}));
  EXPECT_EQ(CharInfo(u'\u1F80').Decomposition, V({0x1F00, 0x0345}));
  EXPECT_EQ(CharInfo(u'\u1F80').TitleForms, V({0x1F88}));

  // lower-case letters with a special upper form
  EXPECT_EQ(CharInfo(u'\u00B5').UpperCase, 0x039C);
  EXPECT_EQ(CharInfo(u'\u0131').UpperCase, u'I');
  EXPECT_EQ(CharInfo(u'\u017F').UpperCase, u'S');
  EXPECT_EQ(CharInfo(u'I').LowerCase, u'i');
  EXPECT_EQ(CharInfo(u'i').UpperCase, u'I');
  EXPECT_EQ(CharInfo(u'\u0130').LowerCase, u'i');
  EXPECT_EQ(CharInfo(u'\u0130').HasCasePair, 0);
  EXPECT_EQ(CharInfo(u'\u00DF').UpperCase, 0x00DF);
  EXPECT_EQ(CharInfo(u'\u03C3').UpperCase, 0x03A3);
  EXPECT_EQ(CharInfo(u'\u03C2').UpperCase, 0x03A3);
  EXPECT_EQ(CharInfo(u'\u03A3').LowerCase, 0x03C3);
  EXPECT_EQ(CharInfo(u'\u13A0').LowerCase, 0xAB70);  // delta in 16-bit arithmetic
  EXPECT_EQ(CharInfo(u'\uAB70').UpperCase, 0x13A0);
  EXPECT_EQ(CharInfo(u'\u2160').LowerCase, 0x2170);  // a number with case
  EXPECT_EQ(CharInfo(u'\u2160').Category, kCatNumber);
}

TEST(UnicodeCharInfo, CategoriesAndMarks) {
  EXPECT_EQ(CharInfo(u' ').Category, kCatSpace);
  EXPECT_EQ(CharInfo(u'\u3000').Category, kCatSpace);
  EXPECT_EQ(CharInfo(u'7').Category, kCatNumber);
  EXPECT_EQ(CharInfo(u'!').Category, kCatPunctuation);
  EXPECT_EQ(CharInfo(u'+').Category, kCatSymbol);
  EXPECT_EQ(CharInfo(u'\0').Category, kCatControl);
  EXPECT_EQ(CharInfo(u'\u200B').Category, kCatControl);
  EXPECT_EQ(CharInfo(u'\u4E00').Category, kCatLetter);
  EXPECT_EQ(CharInfo(u'\u4E00').UpperCase, 0x4E00);
  EXPECT_EQ(CharInfo(u'\uAC00').Category, kCatLetter);  // a range of the data file
  EXPECT_EQ(CharInfo(u'\u03D2').IsUpper, 1);            // upper case without a lower form
  EXPECT_EQ(CharInfo(u'\u03D2').LowerCase, 0x03D2);

  const TMapInfo& acute = CharInfo(u'\u0301');
  EXPECT_EQ(acute.Category, kCatMark);
  EXPECT_EQ(acute.CombiningClass, 230);
  EXPECT_EQ(acute.IsComposingMark, 1);
  bool eAcute = false, capitalEAcute = false;
  for (auto [base, composed] : acute.Compositions) {
    eAcute |= base == u'e' && composed == 0x00E9;
    capitalEAcute |= base == u'E' && composed == 0x00C9;
  }
  EXPECT_TRUE(eAcute);
  EXPECT_TRUE(capitalEAcute);
  EXPECT_EQ(CharInfo(u'\u0327').CombiningClass, 202);
  EXPECT_EQ(CharInfo(u'\u0345').UpperCase, 0x0345);  // a composing mark has no case
  EXPECT_EQ(CharInfo(u'\u0345').CombiningClass, 240);

  // undefined characters map to themselves
  for (char16_t c : {u'\u0378', u'\uE000', char16_t(0xD800), u'\uFFFF'}) {
    const TMapInfo& r = CharInfo(c);
    EXPECT_EQ(r.Category, kCatUndefined);
    EXPECT_EQ(r.Defined, 0);
    EXPECT_EQ(r.UpperCase, c);
    EXPECT_EQ(r.LowerCase, c);
  }
}

TEST(UnicodeCharInfo, AgreesWithTheFoldingTables) {
  // Both come from the same database: a case pair folds to one character.
  int pairs = 0;
  for (std::uint32_t c = 0; c < 0x10000; ++c) {
    const TMapInfo& r = CharInfo(static_cast<char16_t>(c));
    if (!r.HasCasePair) continue;
    ++pairs;
    ASSERT_EQ(FoldChar(r.UpperCase), FoldChar(r.LowerCase)) << std::hex << c;
    ASSERT_EQ(r.Defined, 1);
  }
  EXPECT_GT(pairs, 2000);
  // every character has case forms (itself when it has no case)
  for (std::uint32_t c = 1; c < 0x10000; ++c) {
    const TMapInfo& r = CharInfo(static_cast<char16_t>(c));
    ASSERT_NE(r.UpperCase, 0u) << c;
    if (r.Decomposition.size() == 2) {
      ASSERT_EQ(CharInfo(r.Decomposition[1]).IsComposingMark, 1) << c;
    }
  }
}

TEST(UnicodeCharInfo, Rebuild) {
  BuildUnicodeMap();  // building again gives the same map
  EXPECT_EQ(CharInfo(u'\u01C6').TitleForms, V({0x01C5}));
  EXPECT_EQ(CharInfo(u'\u00E0').Decomposition, V({u'a', 0x0300}));
}
