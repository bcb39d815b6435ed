#include "ZmLib/Win32/winRegistry.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "Platform/PlatRegistry.h"
#include "ZmLib/zmHookScope.h"
#include "tests/support/TempDir.h"

using namespace zm;

namespace {
class Registry : public ::testing::Test {
protected:
  void SetUp() override { plat::RegClearAll(); }
  void TearDown() override { plat::RegClearAll(); }
};

// Every value and sub-key under a key, one line each, to compare two trees.
std::string DumpRegTree(HKEY root, const WideString& path) {
  HKEY k = 0;
  if (plat::RegOpenKeyExW(root, path, plat::KEY_READ, k) != plat::ERROR_SUCCESS) return "(missing)";
  std::string out;
  for (std::uint32_t i = 0;; ++i) {
    WideString name;
    std::uint32_t nameLen = 16384, type = 0, dataLen = 0;
    if (plat::RegEnumValueW(k, i, name, nameLen, type, nullptr, dataLen) != plat::ERROR_SUCCESS) break;
    std::vector<std::uint8_t> data(dataLen + 1);
    plat::RegQueryValueExW(k, name, type, data.data(), dataLen);
    out += std::string(name.begin(), name.end()) + "=" + std::to_string(type) + ":";
    for (std::uint32_t b = 0; b < dataLen; ++b) out += std::to_string(data[b]) + ",";
    out += "\n";
  }
  for (std::uint32_t i = 0;; ++i) {
    WideString name;
    std::uint32_t nameLen = 16384;
    if (plat::RegEnumKeyExW(k, i, name, nameLen) != plat::ERROR_SUCCESS) break;
    out += "[" + std::string(name.begin(), name.end()) + "]\n" + DumpRegTree(k, name);
  }
  plat::RegCloseKey(k);
  return out + "[end]\n";
}

std::vector<std::uint32_t> gSaveFormatsAsked;  // by the recording format calls
std::int32_t RecordSaveKeyExW(HKEY key, const WideString& file, const void* security, std::uint32_t flags) {
  gSaveFormatsAsked.push_back(flags);
  return plat::RegSaveKeyExW(key, file, security, flags);
}
std::int32_t RecordSaveKeyExA(HKEY key, const std::string& file, const void* security, std::uint32_t flags) {
  gSaveFormatsAsked.push_back(100 + flags);
  return plat::RegSaveKeyExA(key, file, security, flags);
}

// A key of a few values and nested sub-keys under HKCU\Software\Show.
void FillShowRegKey() {
  TRef<TRegistry> r = MakeRef<TRegistry>();
  ASSERT_TRUE(r->CreateKey(HKEY_CURRENT_USER, u"Software\\Show\\Sub\\Deeper"));
  ASSERT_TRUE(r->CreateKey(HKEY_CURRENT_USER, u"Software\\Show\\Other"));
  ASSERT_TRUE(r->OpenKey(HKEY_CURRENT_USER, u"Software\\Show", TRegistry::kFull));
  ASSERT_TRUE(r->WriteString(u"", u"default"));
  ASSERT_TRUE(r->WriteString(u"Name", u"Gr\u00FC\u00DFe \U0001F600"));
  ASSERT_TRUE(r->WriteBinary(u"Bin", {0, 1, 2, 255}));
  ASSERT_TRUE(r->WriteBinary(u"Empty", {}));
  ASSERT_TRUE(r->OpenKey(HKEY_CURRENT_USER, u"Software\\Show\\Sub", TRegistry::kFull));
  const std::uint8_t dword[4] = {4, 0, 0, 0};
  ASSERT_TRUE(r->WriteData(u"N", REG_DWORD, dword, 4));
}
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

// The gate saves through the format call, format 1, from version class 8 on,
// and through the classic call before; the ANSI gate likewise through the
// narrow calls. Every save loads back as the same tree.
TEST_F(Registry, SavedKeysLoadBackTheSame) {
  ASSERT_NE(RegSaveKeyExWProc, nullptr);  // looked up at start-up
  EXPECT_EQ(reinterpret_cast<void*>(RegSaveKeyExWProc), plat::GetAdvapi32ProcAddress("RegSaveKeyExW"));
  EXPECT_EQ(reinterpret_cast<void*>(RegSaveKeyExAProc), plat::GetAdvapi32ProcAddress("RegSaveKeyExA"));
  EXPECT_EQ(plat::GetAdvapi32ProcAddress("RegSaveKeyW"), nullptr);
  EXPECT_EQ(plat::GetAdvapi32ProcAddress(nullptr), nullptr);
  THookScope<TRegSaveKeyExWProc> exW(RegSaveKeyExWProc, &RecordSaveKeyExW);
  THookScope<TRegSaveKeyExAProc> exA(RegSaveKeyExAProc, &RecordSaveKeyExA);

  FillShowRegKey();
  const std::string original = DumpRegTree(HKEY_CURRENT_USER, u"Software\\Show");
  TRef<TRegistry> r = MakeRef<TRegistry>();
  ASSERT_TRUE(r->OpenKey(HKEY_CURRENT_USER, u"Software\\Show", TRegistry::kRead));
  zmtest::TTempDir dir;
  struct TCase {
    TRef<TRegApiGate> Gate;  // nil: the latest format straight
    std::vector<std::uint32_t> Asked;
  };
  const TCase cases[] = {{MakeRef<TRegApiGate>(), {1}},
                         {MakeRef<TRegApiGate>(std::uint8_t(7)), {}},
                         {MakeRef<TRegApiGate9x>(std::uint8_t(8)), {101}},
                         {MakeRef<TRegApiGate9x>(std::uint8_t(5)), {}},
                         {nullptr, {}}};
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    const std::string file = "saved" + std::to_string(i) + "\u00E9.reg";
    gSaveFormatsAsked.clear();
    if (cases[i].Gate) ASSERT_TRUE(cases[i].Gate->SaveKey(r->Key(), dir.Wide(file)));
    else ASSERT_EQ(plat::RegSaveKeyExW(r->Key(), dir.Wide(file), nullptr, plat::REG_LATEST_FORMAT), 0);
    EXPECT_EQ(gSaveFormatsAsked, cases[i].Asked);
    EXPECT_EQ(dir.Read(file).at(8), cases[i].Gate ? 1 : 2);  // the format, after the magic
    const WideString loaded = u"Loaded" + WideString(1, char16_t(u'0' + i));
    ASSERT_EQ(plat::RegLoadKeyW(plat::HKEY_USERS, loaded, dir.Wide(file)), plat::ERROR_SUCCESS);
    EXPECT_EQ(DumpRegTree(HKEY_USERS, loaded), original);
  }
  // A key saved again over its own file is refused; the file stays.
  const std::string before = dir.Read("saved0\u00E9.reg");
  EXPECT_FALSE(RegGate()->SaveKey(r->Key(), dir.Wide("saved0\u00E9.reg")));
  EXPECT_EQ(RegGate()->LastResult(), plat::ERROR_ALREADY_EXISTS);
  EXPECT_EQ(dir.Read("saved0\u00E9.reg"), before);
}

TEST_F(Registry, SaveAndLoadRefuseBadKeysPathsAndFiles) {
  zmtest::TTempDir dir;
  TRegApiGate* gate = RegGate();
  // A handle never opened, and one whose key was deleted.
  EXPECT_FALSE(gate->SaveKey(0x7777, dir.Wide("a.reg")));
  EXPECT_EQ(gate->LastResult(), plat::ERROR_INVALID_HANDLE);
  TRef<TRegistry> r = MakeRef<TRegistry>();
  ASSERT_TRUE(r->CreateKey(HKEY_CURRENT_USER, u"Gone"));
  ASSERT_TRUE(r->OpenKey(HKEY_CURRENT_USER, u"Gone", TRegistry::kRead));
  ASSERT_EQ(plat::RegDeleteKeyW(HKEY_CURRENT_USER, u"Gone"), plat::ERROR_SUCCESS);
  EXPECT_FALSE(gate->SaveKey(r->Key(), dir.Wide("a.reg")));
  EXPECT_EQ(gate->LastResult(), plat::ERROR_INVALID_HANDLE);
  EXPECT_FALSE(dir.Exists("a.reg"));
  // Paths that cannot be made, and formats that do not exist.
  EXPECT_FALSE(gate->SaveKey(HKEY_CURRENT_USER, dir.Wide("missing\\a.reg")));
  EXPECT_FALSE(gate->SaveKey(HKEY_CURRENT_USER, u""));
  EXPECT_FALSE(gate->SaveKey(HKEY_CURRENT_USER, dir.Wide()));
  for (std::uint32_t flags : {0u, 3u, 4u})
    EXPECT_EQ(plat::RegSaveKeyExW(HKEY_CURRENT_USER, dir.Wide("a.reg"), nullptr, flags), plat::ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(dir.Exists("a.reg"));

  FillShowRegKey();
  HKEY show = 0;
  ASSERT_EQ(plat::RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Show", plat::KEY_READ, show), 0);
  ASSERT_TRUE(gate->SaveKey(show, dir.Wide("good.reg")));
  const std::string good = dir.Read("good.reg");
  const WideString goodFile = dir.Wide("good.reg");
  // Loading: only as a new key of one name right under the users' or the machine's root.
  EXPECT_EQ(plat::RegLoadKeyW(HKEY_CURRENT_USER, u"X", goodFile), plat::ERROR_INVALID_PARAMETER);
  EXPECT_EQ(plat::RegLoadKeyW(show, u"X", goodFile), plat::ERROR_INVALID_PARAMETER);
  EXPECT_EQ(plat::RegLoadKeyW(plat::HKEY_USERS, u"X\\Y", goodFile), plat::ERROR_INVALID_PARAMETER);
  EXPECT_EQ(plat::RegLoadKeyW(plat::HKEY_USERS, u"", goodFile), plat::ERROR_INVALID_PARAMETER);
  EXPECT_EQ(plat::RegLoadKeyW(plat::HKEY_USERS, u"X", dir.Wide("nothing.reg")), plat::ERROR_FILE_NOT_FOUND);
  EXPECT_NE(plat::RegLoadKeyW(plat::HKEY_USERS, u"X", dir.Wide()), plat::ERROR_SUCCESS);  // a folder
  ASSERT_EQ(plat::RegLoadKeyW(plat::HKEY_LOCAL_MACHINE, u"Taken", goodFile), plat::ERROR_SUCCESS);
  EXPECT_EQ(plat::RegLoadKeyW(plat::HKEY_LOCAL_MACHINE, u"TAKEN", goodFile), plat::ERROR_ALREADY_EXISTS);

  // Damaged files: every cut short, one byte too many, an unknown format,
  // a value name twice (letter case aside), a sub-key named with a path,
  // keys nested deeper than the system allows.
  auto refused = [&](const std::string& bytes) {
    static int n = 0;
    const std::string name = "bad" + std::to_string(n++) + ".reg";
    dir.Write(name, bytes);
    return plat::RegLoadKeyW(plat::HKEY_USERS, u"Bad", dir.Wide(name)) == plat::ERROR_BADDB;
  };
  for (std::size_t len = 0; len < good.size(); ++len) EXPECT_TRUE(refused(good.substr(0, len))) << len;
  EXPECT_TRUE(refused(good + '\0'));
  std::string format3 = good;
  format3[8] = 3;
  EXPECT_TRUE(refused(format3));
  auto u32 = [](std::uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
  auto name = [&](const std::string& ascii) {
    std::string s = u32(std::uint32_t(ascii.size()));
    for (char c : ascii) s += std::string{c, 0};
    return s;
  };
  const std::string head = good.substr(0, 12);
  const std::string sameValues =
      head + name("K") + u32(2) + name("v") + u32(1) + u32(0) + name("V") + u32(1) + u32(0) + u32(0);
  EXPECT_TRUE(refused(sameValues));
  const std::string pathKey = head + name("K") + u32(0) + u32(1) + name("a\\b") + u32(0) + u32(0);
  EXPECT_TRUE(refused(pathKey));
  std::string deep = head;
  for (int i = 0; i < 600; ++i) deep += name("k") + u32(0) + u32(1);
  EXPECT_TRUE(refused(deep));
  // The values' sizes are checked against the file before anything is made.
  EXPECT_TRUE(refused(head + name("K") + u32(1) + name("v") + u32(3) + u32(0xFFFFFFF0u) + u32(0)));
  EXPECT_EQ(DumpRegTree(HKEY_USERS, u"Bad"), "(missing)");
  // The sound forms of those load.
  const std::string sound =
      head + name("K") + u32(1) + name("v") + u32(3) + u32(2) + "xy" + u32(1) + name("a") + u32(0) + u32(0);
  dir.Write("sound.reg", sound);
  ASSERT_EQ(plat::RegLoadKeyW(plat::HKEY_USERS, u"Sound", dir.Wide("sound.reg")), plat::ERROR_SUCCESS);
  EXPECT_EQ(DumpRegTree(HKEY_USERS, u"Sound"), "v=3:120,121,\n[a]\n[end]\n[end]\n");
}
