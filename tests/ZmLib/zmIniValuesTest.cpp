// Item values read through the forms that take a nil item: enumerations and
// separated lists, from present, absent and damaged values.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ZmLib/zmIni.h"
#include "ZmLib/zmStringList.h"

using namespace zm;

namespace {

TRef<TIniFile> Parse(const std::string& text) {
  TRef<TIniFile> f = MakeRef<TIniFile>();
  f->LoadFromText(TByteString(text));
  return f;
}

std::vector<WideString> Texts(TStringList& l) {
  std::vector<WideString> v;
  for (std::int32_t i = 0; i < l.GetCount(); ++i) v.push_back(l.GetString(i));
  return v;
}

}  // namespace

TEST(IniValues, EnumFromNilAbsentAndOddValues) {
  TRef<TIniFile> f = Parse(
      "[s]\n"
      "mode=Fill\n"
      "other=fit \n"
      "empty=\n"
      "umlaut=\xC3\x84hnlich\n");
  TIniSection* s = f->FindSection(u"s");
  ASSERT_NE(s, nullptr);
  const WideString words[] = {u"fit", u"fill", u"\u00E4hnlich", u""};
  const std::span<const WideString> all(words);
  EXPECT_EQ(IniGetEnum(nullptr, all, 7, true), 7);
  EXPECT_EQ(IniGetEnum(IniFind(s, u"absent"), all, 7, true), 7);
  EXPECT_EQ(IniGetEnum(IniFind(nullptr, u"mode"), all, 7, true), 7);
  EXPECT_EQ(IniGetEnum(IniFind(s, u"mode"), all, 7, true), 1);
  EXPECT_EQ(IniGetEnum(IniFind(s, u"mode"), all, 7, false), 7);
  EXPECT_EQ(IniGetEnum(IniFind(s, u"umlaut"), all, 7, true), 2);  // folding beyond ASCII
  EXPECT_EQ(IniGetEnum(IniFind(s, u"empty"), all, 7, false), 3);
  // Only the words up to the high index take part.
  EXPECT_EQ(IniGetEnum(IniFind(s, u"umlaut"), all.first(2), 7, true), 7);
  EXPECT_EQ(IniGetEnum(IniFind(s, u"mode"), std::span<const WideString>(), 7, true), 7);
  EXPECT_EQ(IniGetValue(nullptr), TByteString());
  EXPECT_EQ(IniGetValue(IniFind(s, u"umlaut")), TByteString("\xC3\x84hnlich"));
}

TEST(IniValues, CommaListsFromNilEmptyAndBrokenValues) {
  TRef<TIniFile> f = Parse(
      "[s]\n"
      "list=a,,b ,\n"
      "one=x\n"
      "empty=\n"
      "semi=1;2\n"
      "bad=\xC3\n");
  TIniSection* s = f->FindSection(u"s");
  ASSERT_NE(s, nullptr);
  TRef<TStringList> l = MakeRef<TStringList>();
  l->Add(u"stale");
  IniGetCommaList(nullptr, *l);
  EXPECT_EQ(l->GetCount(), 0);  // a nil item leaves no stale entries behind
  IniGetCommaList(IniFind(s, u"list"), *l);
  EXPECT_EQ(Texts(*l), (std::vector<WideString>{u"a", u"", u"b ", u""}));
  IniGetCommaList(IniFind(s, u"one"), *l);
  EXPECT_EQ(Texts(*l), (std::vector<WideString>{u"x"}));
  IniGetCommaList(IniFind(s, u"empty"), *l);
  EXPECT_EQ(l->GetCount(), 0);
  IniGetCommaList(IniFind(s, u"semi"), *l, ';');
  EXPECT_EQ(Texts(*l), (std::vector<WideString>{u"1", u"2"}));
  IniGetCommaList(IniFind(s, u"bad"), *l);  // a cut UTF-8 sequence still gives one entry
  EXPECT_EQ(l->GetCount(), 1);
}
