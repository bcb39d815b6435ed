#include "ZmLib/Text/zmWideStringUtils.h"

#include <gtest/gtest.h>

#include <iterator>

#include "ZmLib/Text/zmUnicodeCharInfo.h"

using namespace zm;

TEST(WideStringUtils, SameTextKeepsAccentsApart) {
  const WideString resume = u"r\u00E9sum\u00E9";
  EXPECT_FALSE(WideSameText(resume, u"RESUME"));
  EXPECT_TRUE(WideSameText(resume, u"R\u00C9SUM\u00C9"));
  EXPECT_TRUE(WideSameText(u"e\u0301", u"\u00E9"));
  EXPECT_TRUE(WideSameText(u"\u01C4", u"\u01C6"));
  // marks in another order mean the same
  EXPECT_TRUE(WideSameText(u"a\u0301\u0327", u"a\u0327\u0301"));
  EXPECT_FALSE(WideSameText(u"a\u0301", u"a\u0300"));
}

TEST(WideStringUtils, CompareText) {
  auto cmp = [](const WideString& a, const WideString& b) { return WideCompareText(a, 1, -1, b, 1, -1); };
  EXPECT_EQ(cmp(u"a", u"ab"), kCompareLess);
  EXPECT_EQ(cmp(u"ab", u"a"), kCompareGreater);
  EXPECT_EQ(cmp(u"", u""), kCompareEqual);
  EXPECT_EQ(cmp(u"b", u"A"), kCompareGreater);
  // categories: space < punctuation < number < symbol < letter < lone mark
  const WideString order[] = {u" ", u"!", u"1", u"+", u"a", u"\u0301"};
  for (std::size_t i = 0; i + 1 < std::size(order); ++i) {
    EXPECT_EQ(cmp(order[i], order[i + 1]), kCompareLess) << i;
    EXPECT_EQ(cmp(order[i + 1], order[i]), kCompareGreater) << i;
  }
  // the same base: decided by the marks, from the last one
  EXPECT_EQ(cmp(u"e", u"\u00E9"), kCompareLess);
  EXPECT_EQ(cmp(u"\u00E8", u"\u00E9"), kCompareLess);  // U+0300 below U+0301
  EXPECT_EQ(cmp(u"\u00E9x", u"e\u0301y"), kCompareLess);
  // ranges
  EXPECT_EQ(WideCompareText(u"xxABC", 3, 3, u"abcyy", 1, 3), kCompareEqual);
  EXPECT_EQ(WideCompareText(u"abc", -4, 100, u"ABC", 0, -1), kCompareEqual);
  EXPECT_EQ(WideCompareText(u"abc", 9, 1, u"", 1, 1), kCompareEqual);
}

TEST(WideStringUtils, DecomposeAndKeys) {
  EXPECT_EQ(GetBaseChar(u'\u1E08'), u'C');
  EXPECT_EQ(WideDecompose(u"\u1E08"), u"C\u0327\u0301");
  EXPECT_EQ(WideDecompose(u"a\u0301\u0327b"), u"a\u0327\u0301b");  // canonical order
  EXPECT_EQ(WideDecompose(u"\u00C0x", 2, 1), u"x");
  // a fixed mark (class 0 or 9, 27..34) keeps its place: U+094D (class 9)
  EXPECT_TRUE(IsFixedMark(u'\u094D'));
  EXPECT_FALSE(IsFixedMark(u'\u0301'));
  EXPECT_EQ(WideDecompose(u"a\u0301\u0316\u094D\u0301\u0327"), u"a\u0316\u0301\u094D\u0327\u0301");
  EXPECT_EQ(WideLowerCaseCopy(u"\u00C0RIAL"), u"a\u0300rial");
  EXPECT_EQ(WideLowerCaseCopy(u"\U0001F600"), u"\U0001F600");  // surrogates unchanged
}

TEST(WideStringUtils, ClustersAndLongMarkRuns) {
  EXPECT_EQ(FontClusterLength(u"e\u0301\u0302x", 1), 3);
  EXPECT_EQ(FontClusterLength(u"\U0001F600\u0301x", 1), 3);
  EXPECT_EQ(FontClusterLength(u"\xD83D", 1), 1);  // a lone high surrogate
  EXPECT_EQ(FontClusterLength(u"ab", 3), 0);
  // 200,000 marks in reverse canonical order: sorted, not moved one by one
  WideString many = u"e", other = u"e";
  for (int i = 0; i < 100000; ++i) {
    many += u"\u0301\u0316";
    other += u"\u0316\u0301";
  }
  EXPECT_TRUE(WideSameText(many, other));
  EXPECT_EQ(WideDecompose(many).substr(0, 3), u"e\u0316\u0316");
}
