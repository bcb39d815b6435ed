#include "OruLib2/OruClasses/OruPropValues.h"

#include <gtest/gtest.h>

namespace {

using namespace oru;
using zm::TColor32;
using zm::TFloatRect;
using zm::TIniItem;
using zm::TPoint;
using zm::TRef;

TRef<TIniItem> Item(const char* value) { return zm::MakeRef<TIniItem>("k", value); }

TEST(OruPropValues, PartCountsAndUnreadableParts) {
  const TPoint def{7, 9};
  EXPECT_EQ(ReadItemPoint(Item(" 3, -4").get(), def), (TPoint{3, -4}));
  // Anything but exactly two numbers keeps the whole default, also when one
  // part is readable.
  for (const char* bad : {"x,5", "5,", "1,2,3", "12", "", ",,", "1,99999999999"})
    EXPECT_EQ(ReadItemPoint(Item(bad).get(), def), def) << bad;
  EXPECT_EQ(ReadItemPoint(Item("0,1").get(), def), (TPoint{0, 1}));
  EXPECT_EQ(ReadItemPoint(nullptr, def), def);
  // Likewise four floats: a part beyond what a float holds, or none, keeps all.
  const TFloatRect rect{1, 2, 3, 4};
  EXPECT_EQ(ReadItemRectF(Item("0.5,-2,1e3,0").get(), rect), (TFloatRect{0.5f, -2, 1000, 0}));
  for (const char* bad : {"1e39,0,0,-1e300", "5,6,7,x", ",6,7,8", "1,2,3,4,5"})
    EXPECT_EQ(ReadItemRectF(Item(bad).get(), rect), rect) << bad;
  // A bare number is a Windows colour value, red in the low byte.
  EXPECT_EQ(ReadItemColor(Item("255,128").get(), TColor32{}), (TColor32{0, 0, 255, 128}));
  EXPECT_EQ(ReadItemColor(Item("1,2,3,4,5").get(), TColor32{1, 2, 3, 4}), (TColor32{1, 2, 3, 4}));
}

TEST(OruPropValues, FontStylesFloatTextAndSizedTexts) {
  EXPECT_EQ(ReadItemFontStyle(Item("Bold,Italic").get()), 3);
  EXPECT_EQ(ReadItemFontStyle(Item("bold").get()), 0);
  EXPECT_EQ(ReadItemFontStyle(Item("Underline, StrikeOut,Heavy").get()), 12);
  EXPECT_EQ(ReadItemFontStyle(nullptr), 0);

  EXPECT_EQ(FormatFloat6(0.5), u"0.5");
  EXPECT_EQ(FormatFloat6(2), u"2");
  EXPECT_EQ(FormatFloat6(1.23456789), u"1.234568");
  EXPECT_EQ(FormatFloat6(-0.0000001), u"0");
  EXPECT_EQ(FormatFloat6(100), u"100");

  std::int32_t w = -1, h = -1;
  zm::WideString text;
  ASSERT_TRUE(ParseTextWithSizeKey(u"TextWithSize: 100:x:Hello", w, h, text));
  EXPECT_EQ(w, 100);
  EXPECT_EQ(h, 0);
  EXPECT_EQ(text, u"Hello");
  ASSERT_TRUE(ParseTextWithSizeKey(u"TextWithSize:  12:  34:  a: b", w, h, text));
  EXPECT_EQ(h, 34);
  EXPECT_EQ(text, u"a: b");
  ASSERT_TRUE(ParseTextWithSizeKey(u"TextWithSize: 7", w, h, text));
  EXPECT_EQ(w, 7);
  EXPECT_EQ(text, u"");
  EXPECT_FALSE(ParseTextWithSizeKey(u"TextWithSize:5:5:x", w, h, text));
  EXPECT_FALSE(ParseTextWithSizeKey(u"Text", w, h, text));
  EXPECT_EQ(w, 0);
}

}  // namespace
