// Numbers with the position of the first bad character, substring
// positions and ends of texts with and without case.
#include "ZmLib/zmStrUtils.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "ZmLib/wpUnicode.h"

using namespace zm;

namespace {

struct TIntCase {
  const char16_t* Text;
  std::int32_t Value;
  std::int32_t Code;
};

struct TFloatCase {
  const char16_t* Text;
  double Value;
  std::int32_t Code;
};

}  // namespace

TEST(StrUtils, ValIntAcceptsWhatStrToIntAcceptsAndPointsAtTheFault) {
  const TIntCase cases[] = {
      {u"0", 0, 0},
      {u"  -17", -17, 0},
      {u"+5", 5, 0},
      {u"2147483647", 2147483647, 0},
      {u"-2147483648", std::numeric_limits<std::int32_t>::min(), 0},
      {u"$FFFFFFFF", -1, 0},
      {u"0x7fffffff", 2147483647, 0},
      {u"-$10", -16, 0},
      {u"", 0, 1},           // a digit is needed at the end
      {u"   ", 0, 4},
      {u"-", 0, 2},
      {u"0x", 0, 3},
      {u"12a", 0, 3},
      {u"12 ", 0, 3},        // trailing blanks are not part of a number
      {u"2147483648", 0, 10},  // the digit that overflows
      {u"-2147483649", 0, 11},
      {u"$100000000", 0, 10},
      {u"99999999999999999999999", 0, 10},
      {u"1.5", 0, 2},
      {u"\u0661", 0, 1},     // other scripts' digits are not digits here
  };
  for (const TIntCase& c : cases) {
    std::int32_t v = 123, code = -1;
    ValInt(c.Text, v, code);
    EXPECT_EQ(code, c.Code) << "case " << (&c - cases);
    EXPECT_EQ(v, c.Value);
    std::int32_t w = 0;
    EXPECT_EQ(TryStrToInt(c.Text, w), code == 0);
    if (code == 0) {
      EXPECT_EQ(w, v);
    }
  }
}

TEST(StrUtils, ValFloatSyntaxRangeAndPositions) {
  const TFloatCase cases[] = {
      {u"0", 0.0, 0},
      {u" 1.25", 1.25, 0},
      {u"-.5", -0.5, 0},
      {u"5.", 5.0, 0},
      {u"+1e3", 1000.0, 0},
      {u"2.5E-2", 0.025, 0},
      {u"1e+0", 1.0, 0},
      {u"000000000000000000000000000001", 1.0, 0},
      {u"1e-400", 0.0, 0},                                  // below the range: zero
      {u"0.0000000000000000000000000001e-300", 0.0, 0},
      {u"", 0.0, 1},
      {u".", 0.0, 2},
      {u"-", 0.0, 2},
      {u"e5", 0.0, 1},
      {u"1e", 0.0, 3},
      {u"1e+", 0.0, 4},
      {u"1,5", 0.0, 2},                                      // "." is the only point
      {u"1.5 ", 0.0, 4},
      {u"1.2.3", 0.0, 4},
      {u"inf", 0.0, 1},
      {u"nan", 0.0, 1},
      {u"0x10", 0.0, 2},
      {u"1e400", 0.0, 1},                                    // beyond the range
      {u"  -923456789e300", 0.0, 4},
      {u"1e99999999999999999999", 0.0, 1},
  };
  for (const TFloatCase& c : cases) {
    double v = 7.0;
    std::int32_t code = -1;
    ValFloat(c.Text, v, code);
    EXPECT_EQ(code, c.Code) << "case " << (&c - cases);
    EXPECT_DOUBLE_EQ(v, c.Value);
  }
  double v = 0.0;
  std::int32_t code = -1;
  ValFloat(u"-1e-400", v, code);
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(v == 0.0 && std::signbit(v));
  ValFloat(u"1.7976931348623157e308", v, code);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(v, std::numeric_limits<double>::max());
}

TEST(StrUtils, PosTextBoundsAndOffsets) {
  EXPECT_EQ(PosText(u"lo", u"hello hello"), 4);
  EXPECT_EQ(PosText(u"lo", u"hello hello", 4), 4);
  EXPECT_EQ(PosText(u"lo", u"hello hello", 5), 10);
  EXPECT_EQ(PosText(u"lo", u"hello hello", 11), 0);
  EXPECT_EQ(PosText(u"lo", u"hello hello", 12), 0);  // past the end
  EXPECT_EQ(PosText(u"lo", u"hello hello", 0), 0);
  EXPECT_EQ(PosText(u"lo", u"hello hello", -5), 0);
  EXPECT_EQ(PosText(u"", u"abc"), 0);
  EXPECT_EQ(PosText(u"a", u""), 0);
  EXPECT_EQ(PosText(u"abcd", u"abc"), 0);
  EXPECT_EQ(PosText(u"LO", u"hello"), 0);  // exact
}

TEST(StrUtils, TextEndsWithFoldsCase) {
  EXPECT_TRUE(TextEndsWith(u"PICTURE.JPG", u".jpg"));
  EXPECT_TRUE(TextEndsWith(u"a.Jpeg", u".JPEG"));
  EXPECT_FALSE(TextEndsWith(u"a.jpg.txt", u".jpg"));
  EXPECT_FALSE(TextEndsWith(u"jpg", u".jpg"));  // ending longer than the text
  EXPECT_TRUE(TextEndsWith(u"", u""));
  EXPECT_TRUE(TextEndsWith(u"x", u""));
  EXPECT_FALSE(TextEndsWith(u"", u"x"));
  // Case folding beyond ASCII, with length changes and surrogate pairs.
  EXPECT_TRUE(TextEndsWith(u"STRASSE", u"\u00DFE"));
  EXPECT_TRUE(TextEndsWith(u"\u00C4PFEL.\u00D6L", u".\u00F6l"));
  EXPECT_TRUE(TextEndsWith(u"x\U00010400", u"\U00010428"));  // Deseret capital and small long I
  EXPECT_FALSE(TextEndsWith(u"x\U00010400", u"\xDC28"));      // half a pair is not the character
  EXPECT_TRUE(TextEndsWithExact(u"a.JPG", u".JPG"));
  EXPECT_FALSE(TextEndsWithExact(u"a.JPG", u".jpg"));
  EXPECT_FALSE(TextEndsWithExact(u"", u"a"));
  EXPECT_FALSE(TextEndsWithExact(u"\U00010400", u"\xDC00"));
}
