#include "ZmLib/zmCommandLine.h"

#include <gtest/gtest.h>

#include <vector>

#include "Platform/PlatSystem.h"
#include "ZmLib/wpFileStream.h"

using namespace zm;

namespace {
std::vector<WideString> Split(const WideString& text) {
  TRef<TStringList> list = MakeRef<TStringList>();
  SplitCommandLine(text, *list);
  std::vector<WideString> v;
  for (std::int32_t i = 0; i < list->GetCount(); ++i) v.push_back(list->GetString(i));
  return v;
}

std::vector<WideString> Values(TCommand* c) {
  std::vector<WideString> v;
  for (std::int32_t i = 0; c && i < c->Count(); ++i) v.push_back(c->GetItem(i)->Text);
  return v;
}

struct TParsed {
  TRef<TStringList> Args = MakeRef<TStringList>();
  TRef<TCommandsStorage> Storage = MakeRef<TCommandsStorage>();
  explicit TParsed(const WideString& text) { ParseCommandLine(text, *Args, *Storage); }
};
}  // namespace

TEST(CommandLine, SplittingAndQuotes) {
  EXPECT_EQ(Split(u"  \t "), std::vector<WideString>{});
  EXPECT_EQ(Split(u"a b\tc\x01" u"d\ne"), (std::vector<WideString>{u"a", u"b", u"c", u"d", u"e"}));
  EXPECT_EQ(Split(u"\"C:\\My Files\\a.oru\" x"), (std::vector<WideString>{u"C:\\My Files\\a.oru", u"x"}));
  EXPECT_EQ(Split(u"ab\"c d\"e"), (std::vector<WideString>{u"abc de"}));
  // Quotes at both ends go first, then every other one inside.
  EXPECT_EQ(Split(u"\"a\"\"b\""), (std::vector<WideString>{u"ab"}));
  EXPECT_EQ(Split(u"\"\" x"), (std::vector<WideString>{u"", u"x"}));
  // An unclosed quote runs to the end of the text.
  EXPECT_EQ(Split(u"-filename \"/tmp/a b"), (std::vector<WideString>{u"-filename", u"/tmp/a b"}));
}

TEST(CommandLine, SwitchesAndValues) {
  TParsed p(u"play.exe -log -delay 5 x");
  EXPECT_EQ(p.Args->GetCount(), 5);
  EXPECT_EQ(Values(p.Storage->FindCommand(u"")), std::vector<WideString>{u"play.exe"});
  TCommand* log = p.Storage->FindCommand(u"log");
  ASSERT_NE(log, nullptr);
  EXPECT_EQ(log->Count(), 0);
  EXPECT_EQ(Values(p.Storage->FindCommand(u"delay")), (std::vector<WideString>{u"5", u"x"}));
  EXPECT_EQ(p.Storage->FindCommand(u"delay")->GetItem(1)->ToIntDef(-1), -1);
  EXPECT_EQ(p.Storage->FindCommand(u"delay")->GetItem(2), nullptr);
  // Names keep their letter case.
  EXPECT_EQ(p.Storage->FindCommand(u"LOG"), nullptr);
  TParsed twice(u"a -slide 1 -time 9 -slide 2 3");
  EXPECT_EQ(Values(twice.Storage->FindCommand(u"slide")), (std::vector<WideString>{u"1", u"2", u"3"}));
  // A lone "-" names the empty switch: what follows joins the leading arguments.
  TParsed lone(u"prog - extra -x y");
  EXPECT_EQ(Values(lone.Storage->FindCommand(u"")), (std::vector<WideString>{u"prog", u"extra"}));
  EXPECT_EQ(Values(lone.Storage->FindCommand(u"x")), std::vector<WideString>{u"y"});
  // Quoted empty arguments are skipped; a quoted "-" still names a switch.
  TParsed quoted(u"p \"\" \"-exename\" \"/a b/show.orushow\"");
  EXPECT_EQ(Values(quoted.Storage->FindCommand(u"exename")), std::vector<WideString>{u"/a b/show.orushow"});
  EXPECT_EQ(Values(quoted.Storage->FindCommand(u"")), std::vector<WideString>{u"p"});
}

// The program's arguments come as the system handed them over: one with a
// quote or a blank inside stays whole, and what follows it keeps its place.
TEST(CommandLine, ArgumentsReachTheParserWhole) {
  const std::vector<std::string> saved = plat::Arguments();
  const char* argv[] = {"/opt/OruViewer5", "-filename", "F/q\"dir x/Project.oru", "-log", "-slide", "\"2\""};
  plat::SetArguments(6, argv);
  FiniCommandLine();
  InitCommandLine();
  EXPECT_EQ(Values(Commands->FindCommand(u"filename")), std::vector<WideString>{u"F/q\"dir x/Project.oru"});
  ASSERT_NE(Commands->FindCommand(u"log"), nullptr);
  EXPECT_EQ(Commands->FindCommand(u"log")->Count(), 0);
  EXPECT_EQ(Values(Commands->FindCommand(u"slide")), std::vector<WideString>{u"\"2\""});
  EXPECT_EQ(CommandArgs->GetCount(), 6);
  EXPECT_EQ(CommandArgs->GetString(0), u"/opt/OruViewer5");
  std::vector<const char*> back;
  for (const std::string& a : saved) back.push_back(a.c_str());
  plat::SetArguments(static_cast<int>(back.size()), back.data());
  FiniCommandLine();
  InitCommandLine();
}
