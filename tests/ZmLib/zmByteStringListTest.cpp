#include "ZmLib/zmByteStringList.h"

#include <gtest/gtest.h>

#include <vector>

#include "ZmLib/Win32/SysObj2.h"

using namespace zm;

TEST(Lines, FirstAndNext) {
  auto lines = [](const TByteString& t) {
    std::int32_t start = 0, len = -1;
    std::vector<std::string> v;
    for (bool ok = GetFirstLine(t, start, len); ok; ok = GetNextLine(t, start, len))
      v.push_back(t.Copy(start, len).Str());
    return v;
  };
  // CR LF and LF CR are one break each; two equal bytes are two breaks
  EXPECT_EQ(lines(TByteString("a\r\n\r\nb")), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(lines(TByteString("x\n\ry\n\nz\n")), (std::vector<std::string>{"x", "y", "", "z"}));
  EXPECT_TRUE(lines(TByteString("")).empty());
  TByteString u("x\ny");
  std::int32_t start = 400, len = 7;
  EXPECT_FALSE(GetFirstLine(u, -1, len));
  EXPECT_FALSE(GetFirstLine(u, 500, len));
  EXPECT_FALSE(GetNextLine(u, start, len));
  start = -5;
  len = -5;
  EXPECT_TRUE(GetNextLine(u, start, len));  // taken as the start of the text
}

TEST(CommaList, PackedAndArrayForms) {
  TCommaList l;
  MakeCommaList(TByteString("a,b,,c"), ',', l);
  EXPECT_TRUE(l.IsPacked());
  EXPECT_EQ(l.Count(), 4);
  std::int32_t start, len;
  EXPECT_FALSE(l.GetBounds(2, start, len));
  EXPECT_EQ(start, 4);
  EXPECT_EQ(l.GetItem(3).Str(), "c");
  EXPECT_FALSE(l.GetBounds(-1, start, len));
  EXPECT_EQ(l.GetItem(9).Str(), "");
  // six separators, or one at position 70, switch to the array form
  MakeCommaList(TByteString("1,2,3,4,5,6,7"), ',', l);
  EXPECT_FALSE(l.IsPacked());
  EXPECT_EQ(l.Count(), 7);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(l.GetInt(i, -1), i + 1);
  MakeCommaList(TByteString(std::string(70, 'x') + ",y"), ',', l);
  EXPECT_FALSE(l.IsPacked());
  EXPECT_EQ(l.GetItem(1).Str(), "y");
  std::string many;
  for (int i = 0; i < 40; ++i) many += std::to_string(i) + ";";
  MakeCommaList(TByteString(many), ';', l);
  EXPECT_EQ(l.Count(), 41);
  EXPECT_EQ(l.GetInt(39, -1), 39);
  MakeCommaList(TByteString(","), ',', l);
  EXPECT_EQ(l.Count(), 2);
  MakeCommaListWide(u"é,1.5,x", ',', l);
  EXPECT_EQ(l.GetWide(0), u"é");
  EXPECT_DOUBLE_EQ(l.GetFloat(2, -2), -2);
  TByteStringList b;
  for (int i = 0; i < 17; ++i) b.Add(TByteString(std::to_string(i)));
  EXPECT_EQ(b.Get(17).Str(), "");
  EXPECT_EQ(b.Get(-1).Str(), "");
}

TEST(PListParser, NamesInOrder) {
  TPListParser p;
  p.AddName("width");
  p.AddName("height");
  std::vector<TByteString> r;
  EXPECT_EQ(p.Parse("width: 10; height: 20", r, ';', ':'), 2);
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].Str(), "10");
  EXPECT_EQ(r[1].Str(), "20");
  // names out of order: the second pair fails at the byte where its name begins
  EXPECT_EQ(~p.Parse("height: 20; width: 10", r, ';', ':'), 12);
  EXPECT_EQ(~p.Parse("  depth: 1", r, ';', ':'), 2);  // an unknown name
  // names ignore letter case, may be skipped, and blanks around are dropped
  EXPECT_EQ(p.Parse(" HEIGHT :\t 7 \r\n; ", r, ';', ':'), 1);
  EXPECT_EQ(r[0].Str(), "");
  EXPECT_EQ(r[1].Str(), "7");
  EXPECT_EQ(p.Parse("", r, ';', ':'), 0);
  EXPECT_EQ(r.size(), 2u);
  // slots of their own
  TPListParser q;
  q.AddName("a", 0);
  q.AddName("c", 5);
  EXPECT_EQ(q.Parse("a=1,c=3", r, ',', '='), 2);
  ASSERT_EQ(r.size(), 6u);
  EXPECT_EQ(r[5].Str(), "3");
  EXPECT_THROW(q.AddName("d", 5), EAbort);  // slots must rise
}
