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
  EXPECT_FALSE(r->ValueExists(u"Name"));
  EXPECT_FALSE(r->DeleteValue(u"Name"));
}

TEST_F(Registry, BinaryValuesAndValueWithoutTerminator) {
  TRef<TRegistry> r = MakeRef<TRegistry>();
  ASSERT_TRUE(r->CreateKey(HKEY_LOCAL_MACHINE, u"A"));
  ASSERT_TRUE(r->OpenKey(HKEY_LOCAL_MACHINE, u"A", TRegistry::kWrite));
  std::vector<std::uint8_t> bin = {1, 2, 3, 0, 5};
  EXPECT_TRUE(r->WriteBinary(u"Bin", bin));
  std::uint8_t raw[3] = {'a', 0, 'b'};  // an odd length and no terminator
  EXPECT_TRUE(r->WriteData(u"Odd", REG_SZ, raw, 3));
  r->CloseKey();
  EXPECT_FALSE(r->Opened());
  EXPECT_FALSE(r->WriteBinary(u"Bin", bin));  // no key open
  ASSERT_TRUE(r->OpenKey(HKEY_LOCAL_MACHINE, u"A", TRegistry::kRead));
  std::vector<std::uint8_t> back;
  EXPECT_TRUE(r->ReadBinary(u"Bin", back));
  EXPECT_EQ(back, bin);
  WideString s;
  EXPECT_TRUE(r->ReadString(u"Odd", s));
  EXPECT_EQ(s, u"a");
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
  WideString longer(20000, u'z');
  TRef<TRegistry> r = MakeRef<TRegistry>();
  ASSERT_TRUE(r->CreateKey(HKEY_CURRENT_USER, u"Root\\" + longName));
  ASSERT_TRUE(r->CreateKey(HKEY_CURRENT_USER, u"Root\\short"));
  ASSERT_TRUE(r->OpenKey(HKEY_CURRENT_USER, u"Root", TRegistry::kRead));
  std::vector<WideString> names;
  WideString n;
  for (std::uint32_t i = 0; RegGate()->EnumKeyName(r->Key(), i, n); ++i) names.push_back(n);
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(names[0], longName);
  EXPECT_EQ(names[1], u"short");
}
