#include "ZmLib/zmByteString.h"

#include <gtest/gtest.h>

#include <tuple>

#include "ZmLib/wpUnicode.h"

using namespace zm;

TEST(ByteString, RangesAndCopies) {
  TByteString s("hello world");
  EXPECT_EQ(s.ClampCount(-4, 3), 3);
  EXPECT_EQ(s.ClampCount(50, 3), 0);
  EXPECT_EQ(s.Copy(-2, 5).Str(), "hello");
  EXPECT_TRUE(s.Copy(20, 5).IsEmpty());
  s.Copy(0, s.Length(), s);  // onto itself
  EXPECT_EQ(s.Str(), "hello world");
  std::uint8_t buf[4] = {};
  EXPECT_EQ(s.CopyTo(6, 5, buf, 1), 3);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf + 1), 3), "wor");
  EXPECT_EQ(s.CopyTo(0, 5, buf, 4), 0);
  EXPECT_EQ(s.CopyTo(0, 5, buf, -1), 0);
  EXPECT_TRUE(TByteString().Equals(s, 40, 2));
  EXPECT_EQ(s.SkipWhile(-3, TByteCharSet("hel")), 4);
}

TEST(ByteString, LenientDecoding) {
  auto decode = [](std::string_view bytes, std::int32_t& pos) {
    return DecodeUTF8Char(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                          static_cast<std::int32_t>(bytes.size()) - 1, pos);
  };
  // bytes, code point, position after
  const std::tuple<std::string_view, std::uint32_t, std::int32_t> cases[] = {
      {"\xED\xA0\xBD\xED\xB8\x80", 0x1F600u, 6},  // a pair written as two three-byte sequences
      {"\xF0\x9F\x98\x80", 0x1F600u, 4},
      {"\x80\xBF\xBFz", kInvalidCodePoint, 3},  // stray continuation bytes skipped together
      {"\xE2\x82", kInvalidCodePoint, 3},       // would run past the end
      {"\xE2z\x82", kInvalidCodePoint, 1},      // bad following byte: stop at it
      {"\xED\xA0\xBDx", 0xD83Du, 3},            // a high surrogate alone
      {"\xFC\x84\x80\x80\x80\x80", 0x4000000u, 6},
  };
  for (auto [bytes, cp, after] : cases) {
    std::int32_t pos = 0;
    EXPECT_EQ(decode(bytes, pos), cp) << bytes;
    EXPECT_EQ(pos, after) << bytes;
  }
  std::int32_t pos = 5;
  EXPECT_EQ(decode("abc", pos), kInvalidCodePoint);
  EXPECT_EQ(pos, 5);
  pos = 0;
  EXPECT_EQ(DecodeUTF8Char(nullptr, 5, pos), kInvalidCodePoint);
  EXPECT_EQ(TByteString("a\xC3\xA9\x80z\xF8\x88\x80\x80\x80").ToWide(), u"aé\xFFFDz\xFFFD");
  EXPECT_EQ(TByteString("xx\xC3\xA9yy").ToWide(2, 2), u"é");
}

TEST(ByteString, Comparisons) {
  EXPECT_EQ(TByteString("Ärger").CompareText(TByteString("äRGER")), 0);
  EXPECT_EQ(TByteString("abc").CompareText(TByteString("AB")), 1);  // this string has bytes left
  EXPECT_EQ(TByteString("ab").CompareText(TByteString("ABC")), -1);
  // an invalid sequence compares as FFFFFFFF, above every character
  EXPECT_GT(TByteString("\x80").CompareText(TByteString("\xF4\x8F\xBF\xBF")), 0);
  EXPECT_EQ(TByteString("a\xED\xA0\xBD\xED\xB8\x80").CompareWide(u"a\U0001F600"), 0);
  EXPECT_EQ(TByteString("ǅ").CompareWideText(u"Ǆ"), 0);
  EXPECT_EQ(TByteString("xxBCyy").CompareWideTextRange(2, 2, u"abcd", 2, 2), 0);
  EXPECT_EQ(TByteString("b").CompareWideText(u"bc"), -1);
  EXPECT_NE(CompareTextUTF8("photo.jpg", "photo.jpeg"), 0);
}

TEST(ByteString, Numbers) {
  auto toInt = [](std::string_view s) { return TByteString(s).ToIntDef(0, 100, 7); };
  EXPECT_EQ(toInt("  -2147483648"), INT32_MIN);
  EXPECT_EQ(toInt("2147483647"), INT32_MAX);
  EXPECT_EQ(toInt("\b+12"), 12);
  for (std::string_view bad : {"2147483648", "-2147483649", "12a", "\t12", "12 ", "-", ""})
    EXPECT_EQ(toInt(bad), 7) << bad;
  EXPECT_EQ(TByteString("x=15;").ToIntDef(2, 2, 7), 15);
  EXPECT_EQ(TByteString("-9223372036854775808").ToInt64Def(0, 100, 1), INT64_MIN);
  EXPECT_EQ(TByteString("9223372036854775808").ToInt64Def(0, 100, 1), 1);
  EXPECT_EQ(TByteString("FFFFFFFF").HexToIntDef(0, 100, 7), -1);
  EXPECT_EQ(TByteString("100000000").HexToIntDef(0, 100, 7), 7);
  EXPECT_EQ(TByteString("0x1").HexToIntDef(0, 100, 7), 7);
  EXPECT_TRUE(TByteString("1").ToBool());
  EXPECT_FALSE(TByteString("01").ToBool());
  EXPECT_FALSE(TByteString("true").ToBool());
  auto toFloat = [](std::string_view s) { return TByteString(s).ToFloatDef(0, 1000, -99); };
  EXPECT_DOUBLE_EQ(toFloat("1.5e3"), 1500);
  EXPECT_DOUBLE_EQ(toFloat(".5"), 0.5);
  EXPECT_DOUBLE_EQ(toFloat("7."), 7);
  EXPECT_DOUBLE_EQ(toFloat("0e999999999"), 0);
  EXPECT_DOUBLE_EQ(toFloat("1e-999999"), 0);
  // 1e99999999999 has an exponent beyond 32 bits; 1e400 and 10^500 are beyond a double
  const std::string nines(500, '9');
  for (std::string_view bad : {"1.2.3", "5x", "1e", "1e 5", "1e99999999999", "1e400", ".", "", "-", nines.c_str()})
    EXPECT_DOUBLE_EQ(toFloat(bad), -99) << bad;
}

TEST(ByteString, HashesMatchTheWideForm) {
  EXPECT_EQ(TByteString("Ärger").HashNoCase(), WideHashNoCase(u"äRGER"));
  const WideString keys[] = {u"", u"Logo", u"straße", u"日本語", u"\U0001F600x", u"\xD800lone", u"ǅ"};
  for (const WideString& k : keys) {
    TByteString utf8 = UTF8Encode(k);
    EXPECT_EQ(utf8.Hash(), WideHash(k));
    EXPECT_EQ(utf8.HashNoCase(), WideHashNoCase(UpperCase(k)));
  }
  // a pair in the four-byte form hashes like the six-byte form; invalid sequences are skipped
  EXPECT_EQ(TByteString("\xF0\x9F\x98\x80").Hash(), TByteString("\xED\xA0\xBD\xED\xB8\x80").Hash());
  EXPECT_EQ(TByteString("a\x80\x80" "b").Hash(), TByteString("ab").Hash());
  EXPECT_EQ(TByteString("xxLogoyy").HashNoCase(2, 4), WideHashNoCase(u"LOGO"));
}

TEST(ByteStringBuilder, CapacityAndInserts) {
  TByteStringBuilder b;
  EXPECT_EQ(b.MakeRoom(5, 20, 'x'), 0);
  EXPECT_EQ(b.Capacity(), 20);
  EXPECT_EQ(b.MakeRoom(100, 1, 'y'), 20);
  EXPECT_EQ(b.Capacity(), 40);
  EXPECT_EQ(b.ToByteString().Str(), std::string(20, 'x') + "y");
  EXPECT_EQ(b.Capacity(), 0);
  TByteStringBuilder t;
  EXPECT_EQ(t.InsertBytes(0, TByteString("world")), 5);
  t.InsertBytes(0, TByteString("hello, "), 0, 100);
  t.InsertWide(t.Count(), u" é");
  t.InsertInt64(t.Count(), INT64_MIN);
  t.InsertFloat(t.Count(), 2.50, 3);
  t.InsertFloat(t.Count(), -0.0001, 2);
  const std::uint8_t raw[] = {'[', 'a', 'b', ']'};
  t.InsertBuffer(t.Count(), raw, 1, 2);
  t.InsertBuffer(t.Count(), raw, 9, 2);
  t.InsertBytes(-5, TByteString(">"));
  EXPECT_EQ(t.ToByteString().Str(), ">hello, world \xC3\xA9-92233720368547758082.50ab");
  // inserting a byte string into itself
  t.InsertBytes(0, TByteString("abc"));
  TByteString whole = t.ToByteString();
  t.InsertBytes(0, whole);
  t.InsertBytes(1, whole, 1, 1);
  EXPECT_EQ(t.ToByteString().Str(), "abbc");
  std::uint8_t room[3] = {'.', '.', '.'};
  EXPECT_EQ(IntToBytes(12345, room, 0), -5);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(room), 3), "...");
  EXPECT_EQ(IntToBytes(-7, room, 1), 2);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(room), 3), ".-7");
  EXPECT_EQ(IntToBytes(1, room, 3), -1);
  EXPECT_EQ(IntToBytes(1, room, -1), -1);
}
