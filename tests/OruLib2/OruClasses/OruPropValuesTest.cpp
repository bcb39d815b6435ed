#include "OruLib2/OruClasses/OruPropValues.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using namespace oru;
using zm::TColor24;
using zm::TColor32;
using zm::TFloatPoint3;
using zm::TFloatRect;
using zm::TIniItem;
using zm::TPoint;
using zm::TRef;

TRef<TIniItem> Item(const char* value) { return zm::MakeRef<TIniItem>("k", value); }

TEST(OruPropValues, PointNeedsExactlyTwoParts) {
  const TPoint def{7, 9};
  EXPECT_EQ(ReadItemPoint(Item("10,-20").get(), def), (TPoint{10, -20}));
  EXPECT_EQ(ReadItemPoint(Item(" 3, 4").get(), def), (TPoint{3, 4}));
  // Each unreadable part keeps its own default.
  EXPECT_EQ(ReadItemPoint(Item("x,5").get(), def), (TPoint{7, 5}));
  EXPECT_EQ(ReadItemPoint(Item("5,").get(), def), (TPoint{5, 9}));
  EXPECT_EQ(ReadItemPoint(Item("99999999999,1").get(), def), (TPoint{7, 1}));
  for (const char* bad : {"1,2,3", "12", "", ",,"}) EXPECT_EQ(ReadItemPoint(Item(bad).get(), def), def) << bad;
  EXPECT_EQ(ReadItemPoint(nullptr, def), def);

  zm::TRef<zm::TIniSection> section = zm::MakeRef<zm::TIniSection>("s");
  section->WriteString(u"Pos", u"1,2");
  EXPECT_EQ(ReadItemPoint(section.get(), u"pos", def), (TPoint{1, 2}));
  EXPECT_EQ(ReadItemPoint(section.get(), u"missing", def), def);
  EXPECT_EQ(ReadItemPoint(nullptr, u"pos", def), def);
}

TEST(OruPropValues, RectAndVectorPartCounts) {
  const TFloatRect def{1, 2, 3, 4};
  EXPECT_EQ(ReadItemRectF(Item("0.5,-1,10,2e2").get(), def), (TFloatRect{0.5f, -1, 10, 200}));
  EXPECT_EQ(ReadItemRectF(Item("5,x,6,").get(), def), (TFloatRect{5, 2, 6, 4}));
  EXPECT_EQ(ReadItemRectF(Item("1,2,3").get(), def), def);
  EXPECT_EQ(ReadItemRectF(Item("1,2,3,4,5").get(), def), def);
  // Beyond what a float holds: that part keeps its default.
  EXPECT_EQ(ReadItemRectF(Item("1e39,0,0,-1e300").get(), def), (TFloatRect{1, 0, 0, 4}));

  const TFloatPoint3 d3{1, 1, 1};
  EXPECT_EQ(ReadItemVector3(Item("0,0.25,-3").get(), d3), (TFloatPoint3{0, 0.25f, -3}));
  EXPECT_EQ(ReadItemVector3(Item("0,0").get(), d3), d3);
  EXPECT_EQ(ReadItemVector3(nullptr, d3), d3);
}

TEST(OruPropValues, Colours) {
  const TColor32 def{1, 2, 3, 4};
  TColor32 c = ReadItemColor(Item("#FF8000").get(), def);
  EXPECT_EQ(c, (TColor32{0x00, 0x80, 0xFF, 255}));
  c = ReadItemColor(Item("10,20,30,40").get(), def);
  EXPECT_EQ(c, (TColor32{30, 20, 10, 40}));
  // A bare number is a Windows colour value, red in the low byte.
  c = ReadItemColor(Item("255,128").get(), def);
  EXPECT_EQ(c, (TColor32{0, 0, 255, 128}));
  EXPECT_EQ(ReadItemColor(Item("").get(), def), def);
  EXPECT_EQ(ReadItemColor(Item("1,2,3,4,5").get(), def), def);
  EXPECT_EQ(ReadItemColor(nullptr, def), def);

  EXPECT_EQ(ReadItemRGB(Item("#102030").get(), TColor24{}), (TColor24{0x30, 0x20, 0x10}));
  EXPECT_EQ(ReadItemRGB(Item("nonsense,with,five,parts,here").get(), TColor24{9, 8, 7}), (TColor24{9, 8, 7}));

  EXPECT_EQ(ColorToRGBBytes(0x102030), (TRGBBytes{0x10, 0x20, 0x30}));
  EXPECT_EQ(ColorToRGBBytes(-1), (TRGBBytes{255, 255, 255}));
}

TEST(OruPropValues, FontStyleWords) {
  EXPECT_EQ(ReadItemFontStyle(Item("Bold,Italic").get()), 3);
  EXPECT_EQ(ReadItemFontStyle(Item("bold").get()), 0);
  EXPECT_EQ(ReadItemFontStyle(Item("Underline, StrikeOut,Heavy").get()), 12);
  EXPECT_EQ(ReadItemFontStyle(Item("").get()), 0);
  EXPECT_EQ(ReadItemFontStyle(nullptr), 0);
}

TEST(OruPropValues, FlagsAndFloatText) {
  EXPECT_TRUE(IsFlagChar(u'1'));
  EXPECT_FALSE(IsFlagChar(u'0'));
  EXPECT_TRUE(IsFlagChar(u"1"));
  EXPECT_FALSE(IsFlagChar(u"11"));
  EXPECT_FALSE(IsFlagChar(u""));

  EXPECT_EQ(FormatFloat6(0.5), u"0.5");
  EXPECT_EQ(FormatFloat6(2), u"2");
  EXPECT_EQ(FormatFloat6(-2.25), u"-2.25");
  EXPECT_EQ(FormatFloat6(1.23456789), u"1.234568");
  EXPECT_EQ(FormatFloat6(-0.0000001), u"0");
  EXPECT_EQ(FormatFloat6(100), u"100");
}

TEST(OruPropValues, TextWithSizeKeys) {
  std::int32_t w = -1, h = -1;
  zm::WideString text;
  ASSERT_TRUE(ParseTextWithSizeKey(u"TextWithSize: 100:x:Hello", w, h, text));
  EXPECT_EQ(w, 100);
  EXPECT_EQ(h, 0);
  EXPECT_EQ(text, u"Hello");

  ASSERT_TRUE(ParseTextWithSizeKey(u"TextWithSize:  12:  34:  a: b", w, h, text));
  EXPECT_EQ(w, 12);
  EXPECT_EQ(h, 34);
  EXPECT_EQ(text, u"a: b");

  ASSERT_TRUE(ParseTextWithSizeKey(u"TextWithSize: ", w, h, text));
  EXPECT_EQ(w, 0);
  EXPECT_EQ(h, 0);
  EXPECT_EQ(text, u"");

  ASSERT_TRUE(ParseTextWithSizeKey(u"TextWithSize: 7", w, h, text));
  EXPECT_EQ(w, 7);
  EXPECT_EQ(text, u"");

  EXPECT_FALSE(ParseTextWithSizeKey(u"TextWithSize:5:5:x", w, h, text));
  EXPECT_FALSE(ParseTextWithSizeKey(u"Text", w, h, text));
  EXPECT_EQ(w, 0);
  EXPECT_EQ(text, u"");
}

}  // namespace
