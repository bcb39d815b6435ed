#include "ZmLib/_MyUtils.h"

#include <gtest/gtest.h>

#include "Platform/PlatUtf8.h"
#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/Win32/winSysUtils.h"

using namespace zm;

TEST(MyUtils, TrailingBackslash) {
  struct Case {
    WideString In;
    bool Want;
    WideString Out;
  } cases[] = {
      {u"C:\\a", true, u"C:\\a\\"}, {u"C:\\a\\", true, u"C:\\a\\"}, {u"C:\\a\\", false, u"C:\\a"}, {u"", true, u""},
      {u"\\", false, u""},          {u"a/", true, u"a/\\"},         {u"a\\\\", false, u"a\\"},
  };
  for (const Case& c : cases) {
    WideString p = c.In;
    SetTrailingBackslash(p, c.Want);
    EXPECT_EQ(p, c.Out) << plat::ToUtf8(c.In) << " " << c.Want;
  }
}

TEST(MyUtils, ResolveRelativePath) {
  EXPECT_EQ(ResolveRelativePath(u"C:\\A\\B\\", u"..\\..\\x.dll"), u"C:\\x.dll");
  EXPECT_EQ(ResolveRelativePath(u"C:\\A\\B", u"lib\\x.dll"), u"C:\\A\\B\\lib\\x.dll");
  EXPECT_EQ(ResolveRelativePath(u"C:\\A\\B", u"D:\\y.dll"), u"D:\\y.dll");
  // one separator after the steps is skipped; nothing left gives the folder
  EXPECT_EQ(ResolveRelativePath(u"C:\\A\\B\\", u"..\\"), u"C:\\A");
  // "/" counts as a separator too
  EXPECT_EQ(ResolveRelativePath(u"C:/A/B/", u"../x/y.dll"), u"C:/A\\x/y.dll");
  // climbing stops at the drive, the share and the root
  EXPECT_EQ(ResolveRelativePath(u"C:\\A", u"..\\..\\..\\x"), u"C:\\x");
  EXPECT_EQ(ResolveRelativePath(u"\\\\srv\\share\\d", u"..\\..\\..\\x"), u"\\\\srv\\share\\x");
  // paths of this system are absolute
  EXPECT_EQ(ResolveRelativePath(u"C:\\A", u"/usr/lib/x.so"), u"/usr/lib/x.so");
  // only leading steps climb
  EXPECT_EQ(ResolveRelativePath(u"C:\\A\\B", u"x\\..\\y"), u"C:\\A\\B\\x\\..\\y");
  EXPECT_EQ(ResolveRelativePath(u"", u"..\\x"), u"x");
}

TEST(MyUtils, NextPercentToken) {
  WideString token;
  std::int32_t pos = 1;
  ASSERT_TRUE(NextPercentToken(u"a %TEMP% b", pos, token, false));
  EXPECT_EQ(token, u"%TEMP%");
  EXPECT_EQ(pos, 9);
  const WideString text = u"%Effects%\\%APPDATA%x%Straße%%";
  pos = 1;
  std::vector<WideString> found;
  while (NextPercentToken(text, pos, token, true)) found.push_back(token);
  EXPECT_EQ(found, (std::vector<WideString>{u"%effects%", u"%appdata%", u"%strasse%"}));
  EXPECT_EQ(pos, static_cast<std::int32_t>(text.size()) + 1);
  // "%%" is an empty token; a lone "%" is none
  pos = 1;
  ASSERT_TRUE(NextPercentToken(u"%%x%", pos, token, false));
  EXPECT_EQ(token, u"%%");
  EXPECT_FALSE(NextPercentToken(u"%%x%", pos, token, false));
  pos = 100;  // beyond the text
  EXPECT_FALSE(NextPercentToken(u"%a%", pos, token, false));
}

TEST(MyUtils, LibrariesAndFunctions) {
  void* lib = reinterpret_cast<void*>(1);
  EXPECT_FALSE(LoadDll(lib, u"no-such-library.so"));
  EXPECT_EQ(lib, nullptr);
  ASSERT_TRUE(LoadDll(lib, u"libz.so.1"));
  const char* (*version)() = nullptr;
  LoadDllProc(lib, "zlibVersion", false, version);
  ASSERT_NE(version, nullptr);
  EXPECT_EQ(version()[0], '1');
  void* proc = lib;
  LoadDllProc(lib, "no_such_function", true, proc);
  EXPECT_EQ(proc, nullptr);
  EXPECT_THROW(LoadDllProc(lib, "no_such_function", false, proc), EAbort);
  // a name that cannot be a symbol
  LoadDllProc(lib, std::string_view("zlibVersion\0x", 13), true, proc);
  EXPECT_EQ(proc, nullptr);
  WinFreeLibrary(lib);
}
