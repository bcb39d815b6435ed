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
  EXPECT_EQ(CharInfo(u'\u00C0').Decomposition, V({u'A', 0x0300}));
  EXPECT_EQ(CharInfo(u'\u00E0').Decomposition, V({u'a', 0x0300}));
  EXPECT_EQ(CharInfo(u'\u1E08').Decomposition, V({0x00C7, 0x0301}));  // one level only
  const TMapInfo& dz = CharInfo(u'\u01C5');
  EXPECT_EQ(dz.IsTitle, 1);
  EXPECT_EQ(dz.UpperCase, 0x01C4);
  EXPECT_EQ(dz.LowerCase, 0x01C6);
  EXPECT_EQ(dz.HasCasePair, 0);
  EXPECT_EQ(CharInfo(u'\u01C4').TitleForms, V({0x01C5}));
  EXPECT_EQ(CharInfo(u'\u01C6').TitleForms, V({0x01C5}));
  // special upper forms, and a delta that needs 16-bit arithmetic
  EXPECT_EQ(CharInfo(u'\u0131').UpperCase, u'I');
  EXPECT_EQ(CharInfo(u'\u00DF').UpperCase, 0x00DF);
  EXPECT_EQ(CharInfo(u'\u03C2').UpperCase, 0x03A3);
  EXPECT_EQ(CharInfo(u'\u13A0').LowerCase, 0xAB70);
  EXPECT_EQ(CharInfo(u'\u2160').Category, kCatNumber);  // a number with case
}

TEST(UnicodeCharInfo, CategoriesAndMarks) {
  EXPECT_EQ(CharInfo(u'\u3000').Category, kCatSpace);
  EXPECT_EQ(CharInfo(u'\u200B').Category, kCatControl);
  EXPECT_EQ(CharInfo(u'\uAC00').Category, kCatLetter);  // a range of the data file
  EXPECT_EQ(CharInfo(u'\u03D2').LowerCase, 0x03D2);     // upper case without a lower form
  const TMapInfo& acute = CharInfo(u'\u0301');
  EXPECT_EQ(acute.CombiningClass, 230);
  EXPECT_EQ(acute.IsComposingMark, 1);
  bool eAcute = false;
  for (auto [base, composed] : acute.Compositions) eAcute |= base == u'e' && composed == 0x00E9;
  EXPECT_TRUE(eAcute);
  EXPECT_EQ(CharInfo(u'\u0345').UpperCase, 0x0345);  // a composing mark has no case
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
  for (std::uint32_t c = 1; c < 0x10000; ++c) {
    const TMapInfo& r = CharInfo(static_cast<char16_t>(c));
    ASSERT_NE(r.UpperCase, 0u) << c;  // itself when it has no case
    if (r.Decomposition.size() == 2) {
      ASSERT_EQ(CharInfo(r.Decomposition[1]).IsComposingMark, 1) << c;
    }
    if (!r.HasCasePair) continue;
    ++pairs;
    ASSERT_EQ(FoldChar(r.UpperCase), FoldChar(r.LowerCase)) << std::hex << c;
  }
  EXPECT_GT(pairs, 2000);
  BuildUnicodeMap();  // building again gives the same map
  EXPECT_EQ(CharInfo(u'\u01C6').TitleForms, V({0x01C5}));
}
