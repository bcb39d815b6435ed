#include "ZmLib/zmByteString.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "ZmLib/wpUnicode.h"

using namespace zm;

TEST(ByteString, RangesAndCopies) {
  TByteString s("hello world");
  EXPECT_EQ(s.ClampCount(6, 100), 5);
  EXPECT_EQ(s.ClampCount(-4, 3), 3);
  EXPECT_EQ(s.ClampCount(50, 3), 0);
  EXPECT_EQ(s.ClampCount(2, -1), 0);
  EXPECT_EQ(s.Copy(6).Str(), "world");
  EXPECT_EQ(s.Copy(-2, 5).Str(), "hello");
  EXPECT_TRUE(s.Copy(20, 5).IsEmpty());
  TByteString d;
  s.Copy(0, s.Length(), d);
  EXPECT_EQ(d, s);
  s.Copy(0, s.Length(), s);  // onto itself
  EXPECT_EQ(s.Str(), "hello world");

  std::uint8_t buf[4] = {};
  EXPECT_EQ(s.CopyTo(6, 5, buf, 1), 3);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf + 1), 3), "wor");
  EXPECT_EQ(s.CopyTo(0, 5, buf, 4), 0);
  EXPECT_EQ(s.CopyTo(0, 5, buf, -1), 0);

  EXPECT_TRUE(TByteString("wor").Equals(s, 6, 3));
  EXPECT_FALSE(TByteString("wor").Equals(s, 6, 4));
  EXPECT_TRUE(s.Equals(s));
  EXPECT_TRUE(TByteString().Equals(s, 40, 2));

  TByteCharSet blanks(" \t");
  EXPECT_EQ(s.SkipUntil(0, blanks), 5);
  EXPECT_EQ(s.SkipWhile(5, blanks), 6);
  EXPECT_EQ(s.SkipUntil(6, blanks), s.Length());
  EXPECT_EQ(s.SkipWhile(-3, TByteCharSet("hel")), 4);

  TGUID g{0xAE4B9CC2u, 0x64FF, 0x4D3A, {0xA7, 0x62, 0x1A, 0x0A, 0xB6, 0xFD, 0xBD, 0x93}};
  EXPECT_EQ(GUIDToByteString(g).Str(), "{AE4B9CC2-64FF-4D3A-A762-1A0AB6FDBD93}");
  EXPECT_EQ(WideToByteString(u"xé", 2, 1).Str(), "\xC3\xA9");
}

TEST(ByteString, LenientDecoding) {
  auto decode = [](std::string_view bytes, std::int32_t& pos) {
    return DecodeUTF8Char(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                          static_cast<std::int32_t>(bytes.size()) - 1, pos);
  };
  std::int32_t pos = 0;
  // a pair written as two three-byte sequences is one code point
  EXPECT_EQ(decode("\xED\xA0\xBD\xED\xB8\x80", pos), 0x1F600u);
  EXPECT_EQ(pos, 6);
  pos = 0;
  EXPECT_EQ(decode("\xF0\x9F\x98\x80", pos), 0x1F600u);
  pos = 0;
  EXPECT_EQ(decode("\x80\xBF\xBFz", pos), kInvalidCodePoint);  // stray continuation bytes skipped together
  EXPECT_EQ(pos, 3);
  pos = 0;
  EXPECT_EQ(decode("\xE2\x82", pos), kInvalidCodePoint);  // would run past the end
  EXPECT_EQ(pos, 3);
  pos = 0;
  EXPECT_EQ(decode("\xE2z\x82", pos), kInvalidCodePoint);  // bad following byte: stop at it
  EXPECT_EQ(pos, 1);
  pos = 0;
  EXPECT_EQ(decode("\xED\xA0\xBDx", pos), 0xD83Du);  // a high surrogate alone
  EXPECT_EQ(pos, 3);
  pos = 0;
  EXPECT_EQ(decode("\xFC\x84\x80\x80\x80\x80", pos), 0x4000000u);  // six bytes
  pos = 5;
  EXPECT_EQ(decode("abc", pos), kInvalidCodePoint);
  EXPECT_EQ(pos, 5);
  pos = 0;
  EXPECT_EQ(DecodeUTF8Char(nullptr, 5, pos), kInvalidCodePoint);

  EXPECT_EQ(TByteString("a\xC3\xA9\x80z\xF8\x88\x80\x80\x80").ToWide(), u"aé\xFFFDz\xFFFD");
  EXPECT_EQ(TByteString("\xED\xA0\xBD\xED\xB8\x80").ToWide(), u"\U0001F600");
  EXPECT_EQ(TByteString("xx\xC3\xA9yy").ToWide(2, 2), u"é");
}

TEST(ByteString, Comparisons) {
  EXPECT_EQ(TByteString("Ärger").CompareText(TByteString("äRGER")), 0);
  EXPECT_EQ(TByteString("STRASSE").CompareText(TByteString("xxstrasse"), 2), 0);
  EXPECT_LT(TByteString("abc").CompareText(TByteString("ABD")), 0);
  EXPECT_EQ(TByteString("abc").CompareText(TByteString("AB")), 1);  // this string has bytes left
  EXPECT_EQ(TByteString("ab").CompareText(TByteString("ABC")), -1);
  EXPECT_EQ(TByteString("").CompareText(TByteString("")), 0);
  // an invalid sequence compares as FFFFFFFF, above every character
  EXPECT_GT(TByteString("\x80").CompareText(TByteString("\xF4\x8F\xBF\xBF")), 0);

  EXPECT_EQ(TByteString("a\xF0\x9F\x98\x80").CompareWide(u"a\U0001F600"), 0);
  EXPECT_EQ(TByteString("a\xED\xA0\xBD\xED\xB8\x80").CompareWide(u"a\U0001F600"), 0);
  EXPECT_NE(TByteString("ABC").CompareWide(u"abc"), 0);
  EXPECT_EQ(TByteString("ABC").CompareWideText(u"abc"), 0);
  EXPECT_EQ(TByteString("ǅ").CompareWideText(u"Ǆ"), 0);
  EXPECT_EQ(TByteString("bc").CompareWideText(u"ABCD", 2, 2), 0);
  EXPECT_EQ(TByteString("xxBCyy").CompareWideTextRange(2, 2, u"abcd", 2, 2), 0);
  EXPECT_EQ(TByteString("b").CompareWideText(u"bc"), -1);

  EXPECT_EQ(CompareTextUTF8("Photo.JPG", "photo.jpg"), 0);
  EXPECT_NE(CompareTextUTF8("photo.jpg", "photo.jpeg"), 0);
}

TEST(ByteString, Integers) {
  EXPECT_EQ(TByteString("  -2147483648").ToIntDef(0, 100, 7), INT32_MIN);
  EXPECT_EQ(TByteString("2147483647").ToIntDef(0, 100, 7), INT32_MAX);
  EXPECT_EQ(TByteString("2147483648").ToIntDef(0, 100, 7), 7);
  EXPECT_EQ(TByteString("-2147483649").ToIntDef(0, 100, 7), 7);
  EXPECT_EQ(TByteString("12a").ToIntDef(0, 100, 7), 7);
  EXPECT_EQ(TByteString("\b+12").ToIntDef(0, 100, 7), 12);
  EXPECT_EQ(TByteString("\t12").ToIntDef(0, 100, 7), 7);  // a tab is not a blank here
  EXPECT_EQ(TByteString("12 ").ToIntDef(0, 100, 7), 7);
  EXPECT_EQ(TByteString("-").ToIntDef(0, 100, 7), 7);
  EXPECT_EQ(TByteString("").ToIntDef(0, 100, 7), 7);
  EXPECT_EQ(TByteString("x=15;").ToIntDef(2, 2, 7), 15);
  EXPECT_EQ(TByteString("99").ToInt(), 99);
  EXPECT_EQ(TByteString("9223372036854775807").ToInt64Def(0, 100, 1), INT64_MAX);
  EXPECT_EQ(TByteString("-9223372036854775808").ToInt64Def(0, 100, 1), INT64_MIN);
  EXPECT_EQ(TByteString("9223372036854775808").ToInt64Def(0, 100, 1), 1);
  EXPECT_EQ(TByteString("99999999999999999999999").ToInt64Def(0, 100, 1), 1);

  EXPECT_EQ(TByteString("ff").HexToIntDef(0, 100, 7), 255);
  EXPECT_EQ(TByteString("FFFFFFFF").HexToIntDef(0, 100, 7), -1);
  EXPECT_EQ(TByteString("100000000").HexToIntDef(0, 100, 7), 7);
  EXPECT_EQ(TByteString("").HexToIntDef(0, 100, 7), 0);
  EXPECT_EQ(TByteString("0x1").HexToIntDef(0, 100, 7), 7);

  EXPECT_TRUE(TByteString("1").ToBool());
  EXPECT_FALSE(TByteString("01").ToBool());
  EXPECT_FALSE(TByteString("true").ToBool());
  EXPECT_TRUE(TByteString("x1y").ToBool(1, 1));
}

TEST(ByteString, Floats) {
  auto f = [](std::string_view s) { return TByteString(s).ToFloatDef(0, 1000, -99); };
  EXPECT_DOUBLE_EQ(f("1.5e3"), 1500);
  EXPECT_DOUBLE_EQ(f("-0.25"), -0.25);
  EXPECT_DOUBLE_EQ(f(" 3"), 3);
  EXPECT_DOUBLE_EQ(f("2.5E-2"), 0.025);
  EXPECT_DOUBLE_EQ(f(".5"), 0.5);
  EXPECT_DOUBLE_EQ(f("7."), 7);
  EXPECT_DOUBLE_EQ(f("0.1"), 0.1);
  EXPECT_DOUBLE_EQ(f("0e999999999"), 0);
  EXPECT_DOUBLE_EQ(f("1e-999999"), 0);
  EXPECT_DOUBLE_EQ(f("1.2.3"), -99);
  EXPECT_DOUBLE_EQ(f("5x"), -99);
  EXPECT_DOUBLE_EQ(f("1e"), -99);
  EXPECT_DOUBLE_EQ(f("1e 5"), -99);
  EXPECT_DOUBLE_EQ(f("1e99999999999"), -99);  // exponent beyond 32 bits
  EXPECT_DOUBLE_EQ(f("1e400"), -99);          // beyond a double
  EXPECT_DOUBLE_EQ(f("."), -99);
  EXPECT_DOUBLE_EQ(f(""), -99);
  EXPECT_DOUBLE_EQ(f("-"), -99);
  EXPECT_DOUBLE_EQ(f(std::string(500, '9')), -99);  // 10^500: beyond a double
}

TEST(ByteString, HashesMatchTheWideForm) {
  // the documented example: a UTF-8 key and its wide form, any letter case
  EXPECT_EQ(TByteString("Ärger").HashNoCase(), WideHashNoCase(u"äRGER"));
  const WideString keys[] = {u"", u"Logo", u"straße", u"日本語", u"\U0001F600x", u"\xD800lone", u"ǅ"};
  for (const WideString& k : keys) {
    TByteString utf8 = UTF8Encode(k);
    EXPECT_EQ(utf8.Hash(), WideHash(k));
    EXPECT_EQ(utf8.HashNoCase(), WideHashNoCase(k));
    EXPECT_EQ(utf8.HashNoCase(), WideHashNoCase(UpperCase(k)));
  }
  // a pair written in the four-byte form hashes like the six-byte form
  EXPECT_EQ(TByteString("\xF0\x9F\x98\x80").Hash(), TByteString("\xED\xA0\xBD\xED\xB8\x80").Hash());
  EXPECT_NE(TByteString("Logo").Hash(), TByteString("logo").Hash());
  EXPECT_EQ(TByteString("").Hash(), 0u);
  // invalid sequences are skipped
  EXPECT_EQ(TByteString("a\x80\x80" "b").Hash(), TByteString("ab").Hash());
  EXPECT_EQ(TByteString("xxLogoyy").HashNoCase(2, 4), WideHashNoCase(u"LOGO"));
  EXPECT_EQ(WideHashNoCase(u"..Logo..", 3, 4), WideHashNoCase(u"logo"));
}

TEST(ByteStringBuilder, CapacityAndInserts) {
  TByteStringBuilder b;
  EXPECT_EQ(b.Count(), 0);
  EXPECT_EQ(b.MakeRoom(5, 20, 'x'), 0);
  EXPECT_EQ(b.Capacity(), 20);
  EXPECT_EQ(b.MakeRoom(100, 1, 'y'), 20);
  EXPECT_EQ(b.Capacity(), 40);
  EXPECT_EQ(b.Count(), 21);
  TByteString s = b.ToByteString();
  EXPECT_EQ(s.Str(), std::string(20, 'x') + "y");
  EXPECT_EQ(b.Count(), 0);
  EXPECT_EQ(b.Capacity(), 0);

  EXPECT_EQ(b.MakeRoom(0, 3), 0);
  EXPECT_EQ(b.Capacity(), 16);

  TByteStringBuilder t;
  std::int32_t pos = t.InsertBytes(0, TByteString("world"));
  EXPECT_EQ(pos, 5);
  t.InsertBytes(0, TByteString("hello, "), 0, 100);
  t.InsertWide(t.Count(), u" é");
  t.InsertInt(t.Count(), -42);
  t.InsertInt64(t.Count(), INT64_MIN);
  t.InsertFloat(t.Count(), 2.50, 3);
  t.InsertFloat(t.Count(), 3.0, 2);
  t.InsertFloat(t.Count(), -0.0001, 2);
  const std::uint8_t raw[] = {'[', 'a', 'b', ']'};
  t.InsertBuffer(t.Count(), raw, 1, 2);
  t.InsertBuffer(t.Count(), raw, 9, 2);
  t.InsertBytes(-5, TByteString(">"));
  EXPECT_EQ(t.ToByteString().Str(), ">hello, world \xC3\xA9-42-92233720368547758082.53" "0ab");

  // inserting a byte string into itself
  TByteStringBuilder u;
  u.InsertBytes(0, TByteString("abc"));
  TByteString whole = u.ToByteString();
  u.InsertBytes(0, whole);
  u.InsertBytes(1, whole, 1, 1);
  EXPECT_EQ(u.ToByteString().Str(), "abbc");
}

TEST(ByteStringBuilder, IntToBytes) {
  std::uint8_t room[3] = {'.', '.', '.'};
  EXPECT_EQ(IntToBytes(12345, room, 0), -5);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(room), 3), "...");
  EXPECT_EQ(IntToBytes(-7, room, 1), 2);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(room), 3), ".-7");
  EXPECT_EQ(IntToBytes(1, room, 3), -1);
  EXPECT_EQ(IntToBytes(1, room, -1), -1);
}
