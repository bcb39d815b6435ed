#include <gtest/gtest.h>

#include <thread>

#include "Platform/PlatResources.h"
#include "Platform/PlatSync.h"
#include "Platform/PlatSystem.h"
#include "Platform/PlatUtf8.h"
#include "ZmLib/zmModules.h"

TEST(PlatUtf8, RoundTripAndBadInput) {
  std::u16string s = u"A\u00E9\u20AC\U0001F600";
  std::string u = plat::ToUtf8(s);
  EXPECT_EQ(u, "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");  // one 4-byte sequence per pair
  EXPECT_EQ(plat::FromUtf8(u), s);
  EXPECT_EQ(plat::ToUtf8(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD");  // lone surrogate
  EXPECT_EQ(plat::FromUtf8("\xC0\xAF"), u"\xFFFD\xFFFD");                // over-long
  EXPECT_EQ(plat::FromUtf8("\xE0\x80\x80"), u"\xFFFD");                  // over-long, 3 bytes
  EXPECT_EQ(plat::FromUtf8("\xED\xA0\x80"), u"\xFFFD");                  // encoded surrogate
  EXPECT_EQ(plat::FromUtf8("ab\xE2\x82"), u"ab\xFFFD");                  // truncated at the end
  EXPECT_EQ(plat::FromUtf8("\xF4\x90\x80\x80"), u"\xFFFD");              // above U+10FFFF
  EXPECT_EQ(plat::FromUtf8(std::string("\0z", 2)), std::u16string(u"\0z", 2));
}

TEST(PlatSystem, CommandLineRebuiltFromArguments) {
  const char* argv[] = {"/opt/x/OruViewer5", "-exename", "My Show.orushow", "", "tab\there"};
  auto saved = plat::Arguments();
  plat::SetArguments(5, argv);
  EXPECT_EQ(plat::CommandLine(), "/opt/x/OruViewer5 -exename \"My Show.orushow\" \"\" \"tab\there\"");
  std::vector<const char*> back;
  for (auto& a : saved) back.push_back(a.c_str());
  plat::SetArguments(static_cast<int>(back.size()), back.data());
}

TEST(PlatResources, LookupIgnoresCase) {
  const plat::TEmbeddedResource* r = plat::FindProgramResource("RCDATA", "hello");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(r->Data), r->Size), "Hello, resource.");
  EXPECT_EQ(plat::FindProgramResource("RCDATA", "HELLO2"), nullptr);
  EXPECT_EQ(plat::FindProgramResource("CURSOR", "HELLO"), nullptr);
}

TEST(PlatSync, RobustMutexTimeoutAndAbandon) {
  plat::TRobustMutex m;
  std::thread([&] { EXPECT_EQ(m.Wait(-1), plat::TWaitResult::Acquired); }).join();
  EXPECT_EQ(m.Wait(0), plat::TWaitResult::Abandoned);
  EXPECT_EQ(m.Wait(0), plat::TWaitResult::Acquired);  // recursive
  std::thread([&] { EXPECT_EQ(m.Wait(20), plat::TWaitResult::Timeout); }).join();
  EXPECT_TRUE(m.Release());
  EXPECT_TRUE(m.Release());
  EXPECT_FALSE(m.Release());
}

TEST(Modules, RunInOrderAndFinaliseInReverse) {
  static std::vector<std::string> order;
  std::vector<zm::TModule> table = {
      {"a", [] { order.push_back("+a"); }, [] { order.push_back("-a"); }},
      {"b", [] { order.push_back("+b"); }, [] { order.push_back("-b"); }},
      {"c", [] { throw std::runtime_error("c fails"); }, [] { order.push_back("-c"); }},
  };
  {
    zm::TModuleRunner r;
    EXPECT_THROW(r.Start(table), std::runtime_error);
  }
  EXPECT_EQ(order, (std::vector<std::string>{"+a", "+b", "-b", "-a"}));
}
