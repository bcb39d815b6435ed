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
  EXPECT_EQ(r->GetDataSize(u"missing"), -1);
  ASSERT_TRUE(r->WriteString(u"Empty", u""));
  EXPECT_EQ(r->GetDataSize(u"Empty"), 2);
  s = u"junk";
  EXPECT_TRUE(r->ReadString(u"Empty", s));
  EXPECT_EQ(s, u"");
  ASSERT_TRUE(r->WriteString(u"Name", u"Gr\u00FC\u00DFe \U0001F600"));
  EXPECT_TRUE(r->ReadString(u"name", s));
  EXPECT_EQ(s, u"Gr\u00FC\u00DFe \U0001F600");
  EXPECT_TRUE(r->ValueExists(u"NAME"));
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
  EXPECT_FALSE(r->ReadBinary(u"Nope", back));
  EXPECT_TRUE(back.empty());
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
  EXPECT_FALSE(RegGate()->SaveKey(r->Key(), u"/tmp/x"));
}

TEST_F(Registry, NarrowGateRoundTrip) {
  TRef<TRegApiGate9x> gate = MakeRef<TRegApiGate9x>();
  HKEY k = 0;
  ASSERT_TRUE(gate->CreateKey(HKEY_CURRENT_USER, u"N", k, 0xF003F));
  const char text[] = "caf\xC3\xA9";
  ASSERT_TRUE(gate->SetValue(k, u"S", sizeof text, reinterpret_cast<const std::uint8_t*>(text), REG_SZ));
  std::uint32_t len = 0, type = 0;
  ASSERT_TRUE(gate->QueryValue(k, u"S", len, nullptr, type));
  EXPECT_EQ(len, sizeof text);
  std::vector<std::uint8_t> buf(len);
  ASSERT_TRUE(gate->QueryValue(k, u"S", len, buf.data(), type));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf.data())), std::string("caf\xC3\xA9"));
  // Stored wide underneath.
  std::uint32_t wlen = 0;
  ASSERT_TRUE(RegGate()->QueryValue(k, u"S", wlen, nullptr, type));
  EXPECT_EQ(wlen, 10u);
  gate->CloseKey(k);
}
