#include "ZmLib/wpUnicode.h"

#include <gtest/gtest.h>

#include <vector>

#include "Platform/PlatText.h"

using namespace zm;

namespace {

std::vector<std::uint8_t> Bytes(std::string_view s) { return {s.begin(), s.end()}; }

// The message of the assertion (the silent exception) that f raises.
template <class F>
std::string AssertionOf(F f) {
  try {
    f();
  } catch (const EAbort& e) {
    return e.Message();
  }
  return "(no assertion)";
}

}  // namespace

TEST(CaseFolding, SimpleAndFullFolds) {
  EXPECT_EQ(FoldChar(0x1E9E), 0x00DFu);  // capital sharp s, simple fold
  EXPECT_EQ(FoldChar(0x10400), 0x10428u);  // Deseret, beyond the BMP
  EXPECT_EQ(FoldChar(0x4E00), 0x4E00u);    // no table for the page
  EXPECT_EQ(FoldChar(0xFFFFFFFFu), 0xFFFFFFFFu);
  EXPECT_EQ(CaseFold(u"Straße"), u"strasse");
  EXPECT_EQ(CaseFold(u"\U00010400x"), u"\U00010428x");  // a pair folds as one code point
  EXPECT_EQ(CaseFold(u"\xD801"), u"\xD801");            // a lone surrogate stays
  WideString r = u">";
  CaseFold(u"AB", -5, 100, r);  // clamped, appended
  EXPECT_EQ(r, u">ab");
}

TEST(CaseFolding, Comparisons) {
  EXPECT_TRUE(SameText(u"STRASSE", u"strasse"));
  EXPECT_TRUE(SameText(u"\u01C4", u"\u01C6"));
  EXPECT_FALSE(SameText(u"Straße", u"STRASSE"));  // different lengths
  EXPECT_LT(CompareStrings(u"abc", u"abd", false), 0);
  EXPECT_LT(CompareStrings(u"ab", u"abc", false), 0);
  EXPECT_LT(CompareStrings(u"a", u"B", true), 0);
  // The first difference on the second unit of a pair compares whole code points.
  EXPECT_EQ(CompareFoldRange(u"\U00010400", u"\U00010428", 1, 2), 0);
  EXPECT_EQ(CompareTextRange(u"AB", u"abcd", 0, 100, 100, -3), -2);  // starts below 1 count as 1
  EXPECT_EQ(UpperCase(u"abc é ǆ σ"), u"ABC É Ǆ Σ");
  EXPECT_EQ(LowerCase(u"ABC É Ǆ Σ"), u"abc é ǆ σ");
  EXPECT_EQ(LowerCaseRange(u"ABCD", 4, 10), u"ABCd");
  EXPECT_EQ(UpperCaseRange(u"abc", 10, 5), u"abc");
}

TEST(Utf8, EncodingAndStrictDecoding) {
  EXPECT_EQ(UTF8Length(u"\u00E9"), 2);
  EXPECT_EQ(UTF8Length(u"\u20AC"), 3);
  EXPECT_EQ(UTF8Length(u"\U0001F600"), 6);
  // each UTF-16 unit on its own: a pair is two three-byte sequences
  EXPECT_EQ(UTF8Encode(u"A\u00E9\U0001F600").Str(), "A\xC3\xA9\xED\xA0\xBD\xED\xB8\x80");
  // only whole characters fit
  std::uint8_t buf[5] = {};
  std::int32_t written = 0;
  EXPECT_EQ(UTF8EncodeBuf(u"a\u20AC\u20AC", 1, 3, buf, 0, written), 2);
  EXPECT_EQ(written, 4);
  EXPECT_EQ(UTF8EncodeBuf(u"ab", 1, 2, buf, 99, written), 0);
  WideString s;
  UTF8Decode(TByteString("A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"), s);
  EXPECT_EQ(s, u"A\u00E9\u20AC\U0001F600");
  // the encoder's own form of a pair comes back as the pair
  EXPECT_EQ(UTF8Decode(UTF8Encode(u"\U0001F600 \xD800")), u"\U0001F600 \xD800");
  std::vector<std::uint8_t> raw = Bytes("..ab..");
  UTF8DecodeBuf(raw, 100, s, 2);
  EXPECT_EQ(s, u"");
  EXPECT_EQ(UTF16Count(Bytes("a\xC3\xA9\xF0\x9F\x98\x80"), 0, 6), 4);
  // an over-long four-byte form counts two units (room enough) and decodes to one
  EXPECT_EQ(UTF16Count(Bytes("\xF0\x8D\x9D\x84"), 0, 3), 2);
  EXPECT_EQ(UTF8Decode(TByteString("\xF0\x8D\x9D\x84")), u"\uD744");
  EXPECT_EQ(UTF16Count(Bytes("abc"), 2, 1), 0);
}

TEST(Utf8, MalformedInputFailsTheAssertion) {
  const std::string invalid = "Invalid UTF8 Char";
  auto decode = [](std::string_view bytes) { return [bytes] { UTF8Decode(TByteString(bytes)); }; };
  // stray continuation, cut off at the end, bad continuation
  for (std::string_view bad : {"\x80", "\xFF", "\xC3", "\xE2\x82", "\xC3\x41"})
    EXPECT_NE(AssertionOf(decode(bad)).find(invalid), std::string::npos) << bad;
  EXPECT_NE(AssertionOf(decode("\xF7\xBF\xBF\xBF")).find("Invalud Unicode Range"), std::string::npos);
  EXPECT_NE(AssertionOf([] { UTF16Count(Bytes("a\xE2\x82"), 0, 2); }).find(invalid), std::string::npos);
  // the text names the unit and line, as every assertion does
  EXPECT_NE(AssertionOf(decode("\x80")).find("Asseertion with message: 'Invalid UTF8 Char' (ZmLib\\wpUnicode"),
            std::string::npos);
  WideChar w1, w2;
  EXPECT_EQ(CodePointToUTF16(0x1F600, w1, w2), 2);
  EXPECT_EQ(w1, 0xD83D);
  EXPECT_NE(AssertionOf([&] { CodePointToUTF16(0x110000, w1, w2); }).find("Illegal char range for surrogates"),
            std::string::npos);
}

TEST(CodePages, AnsiRangeToWide) {
  auto wide = [](std::string_view bytes, std::int32_t start, std::uint32_t codePage, std::int32_t count) {
    WideString s = u"junk";
    AnsiRangeToWide(Bytes(bytes), start, s, codePage, count);
    return s;
  };
  EXPECT_EQ(wide("caf\xE9 \x80 \x81", 0, 1252, 100), u"café € \u0081");
  // the system code page: UTF-8 when the bytes are valid UTF-8, else the
  // ANSI code page (Windows-1252 here)
  const std::uint32_t savedAnsi = plat::AnsiCodePage();
  plat::SetAnsiCodePage(1252);
  EXPECT_EQ(wide("caf\xE9", 0, CP_ACP, 4), u"café");
  plat::SetAnsiCodePage(savedAnsi);
  EXPECT_EQ(wide("caf\xC3\xA9", 0, CP_ACP, 5), u"café");
  EXPECT_EQ(wide("\x93\xFA\x96\x7B", 0, 932, 4), u"日本");
  // a double-byte character cut off at the end, an unknown code page, a start past the end
  EXPECT_EQ(wide("\x93\xFA\x96\x7B", 0, 932, 3), u"日\xFFFD");
  EXPECT_EQ(wide("abc", 0, 4242, 3), u"");
  EXPECT_EQ(wide("abc", 50, 1252, 1), u"");
}

TEST(StringUtils, TrimAndFormat) {
  EXPECT_EQ(Trim(u" \tx "), u"\tx");
  EXPECT_EQ(TrimRight(u"x \t\r\n\x01"), u"x");
  EXPECT_EQ(FormatPercent(u"%1 of %2 %3", {u"a", u"b"}), u"a of b ");
  EXPECT_EQ(FormatPercent(u"100% %0 %12%", {u"a"}), u"100  ");
  EXPECT_EQ(FormatPercent(u"%2%1", {u"a", u"b"}), u"ba");
  EXPECT_EQ(FormatPercent(u"%99999999999999999999", {u"a"}), u"");
}

TEST(StringUtils, IntegersAndGuids) {
  EXPECT_EQ(StrToInt(u"$1F"), 31);
  EXPECT_EQ(StrToInt(u"  -2147483648"), INT32_MIN);
  EXPECT_EQ(StrToInt(u"$FFFFFFFF"), -1);
  try {
    StrToInt(u"x");
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "\"x\" is not a valid integer value");
  }
  for (const char16_t* bad : {u"2147483648", u"$100000000", u"12 ", u"", u"-", u"0x"})
    EXPECT_THROW(StrToInt(bad), EConvertError);
  EXPECT_EQ(StrToIntDef(u"99999999999999999999999", 5), 5);
  std::uint32_t v = 7;
  EXPECT_TRUE(HexToUInt32(u"xxDEADbeef", 3, 8, v));
  EXPECT_EQ(v, 0xDEADBEEFu);
  EXPECT_FALSE(HexToUInt32(u"12g4", 1, 4, v));
  EXPECT_FALSE(HexToUInt32(u"123456789", 1, 9, v));  // does not fit 32 bits
  std::uint16_t w;
  EXPECT_FALSE(HexToWord(u"10000", 1, 5, w));
  TGUID g;
  ASSERT_TRUE(TryStrToGUID(u"{AE4B9CC2-64FF-4D3A-A762-1A0AB6FDBD93}", g));
  EXPECT_EQ(g.D1, 0xAE4B9CC2u);
  EXPECT_EQ(g.D4[7], 0x93);
  for (const char16_t* bad : {u"AE4B9CC2-64FF-4D3A-A762-1A0AB6FDBD93", u"{AE4B9CC2-64FF-4D3A-A762-1A0AB6FDBD9}",
                              u"{AE4B9CC2+64FF-4D3A-A762-1A0AB6FDBD93}", u"{AE4B9CC2-64FF-4D3A-A762-1A0AB6FDBD9G}"})
    EXPECT_FALSE(TryStrToGUID(bad, g));
}
