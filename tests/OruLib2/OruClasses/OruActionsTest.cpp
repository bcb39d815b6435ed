#include "OruLib2/OruClasses/OruActions.h"

#include <gtest/gtest.h>

using namespace oru;

namespace {
TOruActionInfo Act(std::uint8_t code, std::int32_t value = 0, const zm::WideString& text = {}) {
  return MakeActionInfo(code, value, text);
}
}  // namespace

TEST(ActionStrings, KeywordsIgnoreCaseAndMustMatchWhole) {
  const std::pair<const char16_t*, std::uint8_t> keywords[] = {
      {u"exit", 1},       {u"prevslide", 2},   {u"nextslide", 3},      {u"help", 4},
      {u"pause", 5},      {u"print", 6},       {u"gotofirstslide", 7}, {u"stop", 13},
      {u"closedialog", 16}, {u"saveslide", 17}, {u"changeprinter", 18},
  };
  for (const auto& [text, code] : keywords) EXPECT_EQ(ParseActionString(text), Act(code)) << code;
  EXPECT_EQ(ParseActionString(u"NextSlide"), Act(3));
  EXPECT_EQ(ParseActionString(u"NEXTSLIDE"), Act(3));
  // Blanks, extra letters or a missing letter match nothing.
  for (const char16_t* bad : {u"nextslide ", u" exit", u"nextslides", u"nextslid", u"", u"seek", u"gotoslide"})
    EXPECT_TRUE(ParseActionString(bad).IsEmpty());
  EXPECT_TRUE(EmptyActionInfo.IsEmpty());
}

TEST(ActionStrings, GotoSlideKeepsTextAsWrittenAndReadsADecimalNumber) {
  EXPECT_EQ(ParseActionString(u"gotoslide(5)"), Act(7, 5, u"5"));
  EXPECT_EQ(ParseActionString(u"GoToSlide(-3)"), Act(7, -3, u"-3"));
  EXPECT_EQ(ParseActionString(u"gotoslide(abc)"), Act(7, -1, u"abc"));
  EXPECT_EQ(ParseActionString(u"gotoslide($10)"), Act(7, -1, u"$10"));        // decimal only
  EXPECT_EQ(ParseActionString(u"gotoslide(99999999999)"), Act(7, -1, u"99999999999"));  // beyond 32 bits
  EXPECT_EQ(ParseActionString(u"gotoslide(2147483647)").Value, 2147483647);
  EXPECT_EQ(ParseActionString(u"gotoslide()"), Act(7, -1, u""));
  // Short or unclosed: the last character is dropped whatever it is.
  EXPECT_EQ(ParseActionString(u"gotoslide("), Act(7, -1, u""));
  EXPECT_EQ(ParseActionString(u"gotoslide(12"), Act(7, 1, u"1"));
}

TEST(ActionStrings, CallsLoseOneCharacterEachSideOfTheirArgument) {
  EXPECT_EQ(ParseActionString(u"openwebsite('http://a.b/C')"), Act(8, 0, u"http://a.b/C"));
  EXPECT_EQ(ParseActionString(u"WriteEmail(\"Me@X.org\")"), Act(9, 0, u"Me@X.org"));
  EXPECT_EQ(ParseActionString(u"runapp('prog.exe /a')"), Act(10, 0, u"prog.exe /a"));
  EXPECT_EQ(ParseActionString(u"runappandexit('prog.exe')"), Act(11, 0, u"prog.exe"));
  EXPECT_EQ(ParseActionString(u"runpresentation('Two.oru')"), Act(12, 0, u"Two.oru"));
  EXPECT_EQ(ParseActionString(u"runpresentationandreturn('Two.oru')"), Act(14, 0, u"Two.oru"));
  EXPECT_EQ(ParseActionString(u"opendialog('Ask')"), Act(15, 0, u"Ask"));
  // Unquoted: the first and last argument characters go all the same.
  EXPECT_EQ(ParseActionString(u"opendialog(Ask)"), Act(15, 0, u"s"));
  // Too short to hold an argument: an empty one, never a fault.
  for (const char16_t* s : {u"runapp(", u"runapp()", u"runapp('')", u"runapp(')"})
    EXPECT_EQ(ParseActionString(s), Act(10));
  EXPECT_EQ(ParseActionString(u"runapp('xyz"), Act(10, 0, u"x"));  // unclosed: still two dropped
  EXPECT_TRUE(ParseActionString(u"runapp 'x'").IsEmpty());  // no parenthesis, no call
}
