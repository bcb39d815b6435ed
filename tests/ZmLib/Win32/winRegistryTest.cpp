#include "ZmLib/Win32/winRegistry.h"

#include <gtest/gtest.h>

#include "Platform/PlatRegistry.h"

using namespace zm;

namespace {
class Registry : public ::testing::Test {
protected:
  void SetUp() override { plat::RegClearAll(); }
  void TearDown() override { plat::RegClearAll(); }
};
}  // namespace

TEST_F(Registry, StringsMissingEmptyAndRoundTrip) {
  TRef<TRegistry> r = MakeRef<TRegistry>();
  ASSERT_TRUE(r->CreateKey(HKEY_CURRENT_USER, u"Software\\Test"));
  ASSERT_TRUE(r->OpenKey(HKEY_CURRENT_USER, u"software\\TEST", TRegistry::kFull));  // names ignore case
  WideString s = u"junk";
  EXPECT_FALSE(r->ReadString(u"missing", s));
  EXPECT_EQ(s, u"");
  ASSERT_TRUE(r->WriteString(u"Empty", u""));
  s = u"junk";
  EXPECT_TRUE(r->ReadString(u"Empty", s));
  EXPECT_EQ(s, u"");
  ASSERT_TRUE(r->WriteString(u"Name", u"Gr\u00FC\u00DFe \U0001F600"));
  EXPECT_TRUE(r->ReadString(u"name", s));
  EXPECT_EQ(s, u"Gr\u00FC\u00DFe \U0001F600");
  EXPECT_TRUE(r->DeleteValue(u"Name"));
  EXPECT_FALSE(r->DeleteValue(u"Name"));
  // A string value of an odd length without a terminator.
  std::uint8_t raw[3] = {'a', 0, 'b'};
  EXPECT_TRUE(r->WriteData(u"Odd", REG_SZ, raw, 3));
  EXPECT_TRUE(r->ReadString(u"Odd", s));
  EXPECT_EQ(s, u"a");
  std::vector<std::uint8_t> bin = {1, 2, 3, 0, 5}, back;
  EXPECT_TRUE(r->WriteBinary(u"Bin", bin));
  EXPECT_TRUE(r->ReadBinary(u"Bin", back));
  EXPECT_EQ(back, bin);
  r->CloseKey();
  EXPECT_FALSE(r->WriteBinary(u"Bin", bin));  // no key open
}

TEST_F(Registry, ForeignKeyRefusesWriteAccess) {
  TRef<TRegistry> r = MakeRef<TRegistry>();
  ASSERT_TRUE(r->CreateKey(HKEY_USERS, u"Other\\Key"));
  ASSERT_EQ(plat::RegMarkForeign(HKEY_USERS, u"Other\\Key"), plat::ERROR_SUCCESS);
  EXPECT_FALSE(r->OpenKey(HKEY_USERS, u"Other\\Key", TRegistry::kWrite));
  EXPECT_FALSE(r->Opened());
  EXPECT_FALSE(r->DeleteValue(u"x"));
  EXPECT_TRUE(r->OpenKey(HKEY_USERS, u"Other\\Key", TRegistry::kRead));
  EXPECT_FALSE(r->OpenKey(HKEY_USERS, u"Missing", TRegistry::kRead));
  EXPECT_FALSE(r->OpenKey(HKEY_USERS, u"Other", 7));
}

TEST_F(Registry, LongKeyNamesAreEnumerated) {
  WideString longName(300, u'k');
  TRef<TRegistry> r = MakeRef<TRegistry>();
  ASSERT_TRUE(r->CreateKey(HKEY_CURRENT_USER, u"Root\\" + longName));
  ASSERT_TRUE(r->CreateKey(HKEY_CURRENT_USER, u"Root\\short"));
  ASSERT_TRUE(r->OpenKey(HKEY_CURRENT_USER, u"Root", TRegistry::kRead));
  std::vector<WideString> names;
  WideString n;
  for (std::uint32_t i = 0; RegGate()->EnumKeyName(r->Key(), i, n); ++i) names.push_back(n);
  EXPECT_EQ(names, (std::vector<WideString>{longName, u"short"}));
}
