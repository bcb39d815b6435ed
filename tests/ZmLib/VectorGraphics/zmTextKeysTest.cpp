#include "ZmLib/VectorGraphics/zmTextKeys.h"

#include <gtest/gtest.h>

#include <random>

#include "ZmLib/Graphics/zmColorTypes.h"

using namespace zm;

namespace {

TRef<TStringList> Lines(std::initializer_list<const char16_t*> lines) {
  TRef<TStringList> l = MakeRef<TStringList>();
  for (const char16_t* s : lines) l->Add(s);
  return l;
}

std::vector<WideString> Strings(TStringList& l) {
  std::vector<WideString> v;
  for (std::int32_t i = 0; i < l.GetCount(); ++i) v.push_back(l.GetString(i));
  return v;
}

std::string Narrow(const WideString& s) {
  std::string out;
  for (char16_t c : s) out.push_back(c < 128 ? char(c) : '?');
  return out;
}

}  // namespace

TEST(TextKeys, Styles) {
  EXPECT_EQ(StyleToText(fsBold | fsUnderline), u"Bold,Underline");
  EXPECT_EQ(StyleToText(0), u"");
  EXPECT_EQ(TextToStyle(u"bold,Bold ,X,,StrikeOut,Italic"), fsStrikeOut | fsItalic);  // case and blanks matter
}

TEST(TextKeys, CaseMarks) {
  EXPECT_EQ(EncodeMarkedText(u"ABc<d>"), u"<AB>c<<d>>");
  EXPECT_EQ(EncodeMarkedText(u"\u00C4rger \u00FCber \u0391"), u"<\u00C4>rger \u00FCber <\u0391>");
  EXPECT_EQ(DecodeMarkedText(u"ab<"), u"ab<");   // a last "<" is copied
  EXPECT_EQ(DecodeMarkedText(u"<XY"), u"XY");    // a run without its end
  // Any text survives the round trip.
  std::mt19937 rng(7);
  const char16_t alphabet[] = u"aAbB<>>< :\"\u00E9\u00C9\r";
  for (int i = 0; i < 2000; ++i) {
    WideString s;
    const int n = int(rng() % 12);
    for (int k = 0; k < n; ++k) s += alphabet[rng() % (sizeof(alphabet) / sizeof(char16_t) - 1)];
    EXPECT_EQ(DecodeMarkedText(EncodeMarkedText(s)), s) << Narrow(s);
  }
}

TEST(TextKeys, LinesAsKeyText) {
  EXPECT_EQ(LinesToKeyText(*Lines({u"a", u"b:c"})), u"\"a\r\nb:c\"");
  TRef<TStringList> l = Lines({u"old"});
  KeyTextToLines(u"\"a\rb\nc\r\nd\n\re\"", *l);
  EXPECT_EQ(Strings(*l), (std::vector<WideString>{u"a", u"b", u"c", u"d", u"e"}));
  KeyTextToLines(u"\"", *l);  // one character keeps its quote
  EXPECT_EQ(Strings(*l), (std::vector<WideString>{u"\""}));
  KeyTextToLines(u"no quotes\r\n", *l);
  EXPECT_EQ(Strings(*l), (std::vector<WideString>{u"no quotes", u""}));
}

TEST(TextKeys, TextKeyFormatAndRoundTrip) {
  TTextKeyParams p = DefaultTextKeyParams;
  p.FontName = u"Deja Vu";
  p.Scale = 1.5;
  p.OffsetX = 0.25f;
  p.OffsetY = -2;
  p.Style = fsBold | fsUnderline;
  p.Alignment = 2;
  p.SizeFactor = 1.0 / 3;
  p.LineSpacing = 50;
  TRef<TStringList> marked = EncodeMarkedLines(*Lines({u"ABc<d>", u"x:y"}));
  const WideString key = MakeTextKey(*marked, p);
  EXPECT_EQ(key, u"Text: Deja Vu:1.5:0.25:-2:Bold,Underline:2:0.333333:50:\"<AB>c<<d>>\r\nx:y\"");
  TTextKeyParams q = DefaultTextKeyParams;
  TRef<TStringList> lines = MakeRef<TStringList>();
  ParseTextKey(key, *lines, q);
  EXPECT_EQ(MakeTextKey(*lines, q), key);  // ":" in the lines belongs to the text
  EXPECT_EQ(q.Color, -1);                  // not carried
  EXPECT_EQ(MakeTextKey(*Lines({}), DefaultTextKeyParams), u"Text: :1:0:0::1:1:0:\"\"");  // no style, no lines
}

TEST(TextKeys, UnreadableFieldsKeepTheirDefaults) {
  TTextKeyParams q = DefaultTextKeyParams;
  TRef<TStringList> lines = MakeRef<TStringList>();
  ParseTextKey(u"Text: F:x:1e:2:Italic:nine:?:1.5:\"a\"", *lines, q);
  EXPECT_EQ(MakeTextKey(*lines, q), u"Text: F:1:0:2:Italic:1:1:0:\"a\"");  // field 3 is not a number: 0
  // Short and broken keys: whatever fields exist, nothing more.
  for (const char16_t* k : {u"", u"Text", u"Text: ", u"Text: Font", u"Text: a:b:c", u"Text: ::::::::", u"x"}) {
    TTextKeyParams r = DefaultTextKeyParams;
    ParseTextKey(k, *lines, r);
    EXPECT_EQ(lines->GetCount(), 0) << Narrow(k);
    EXPECT_EQ(r.Scale, 1.0);
  }
}

TEST(TextKeys, VectorTextKeys) {
  TTextKeyParams p = DefaultTextKeyParams;
  p.FontName = u"Arial";
  TRef<TStringList> marked = EncodeMarkedLines(*Lines({u"Hi: there"}));
  const WideString vkey = MakeVectorTextKey(MakeTextKey(*marked, p));
  EXPECT_EQ(vkey, u"VectTxt2: Arial::\"<H>i: there\"");
  p.Style = fsItalic;
  EXPECT_EQ(MakeVectorTextKey(MakeTextKey(*marked, p)), u"VectTxt2: Arial:Italic:\"<H>i: there\"");
  TVectorTextKeyParams v;
  TRef<TStringList> lines = MakeRef<TStringList>();
  ParseVectorTextKey(u"VectTxt2: Arial:Italic,Bold:\"<H>i: there\r\n2\"", *lines, v);
  EXPECT_EQ(v.Style, fsItalic | fsBold);
  EXPECT_EQ(Strings(*lines), (std::vector<WideString>{u"<H>i: there", u"2"}));
  EXPECT_EQ(MakeVectorTextKey(u"Text: only"), u"VectTxt2: only::");
}
