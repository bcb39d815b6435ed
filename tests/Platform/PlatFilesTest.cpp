#include "Platform/PlatFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "Platform/PlatSystem.h"
#include "Platform/PlatText.h"
#include "tests/support/TempDir.h"

TEST(PlatFiles, NativePaths) {
  EXPECT_EQ(plat::NativePath(u"\\\\?\\C:\\a\\b"), "C:/a/b");
  EXPECT_EQ(plat::NativePath(u"\\\\?\\unc\\srv\\share\\x"), "//srv/share/x");
  EXPECT_EQ(plat::NativePath(u"\\tmp\\Photo \U0001F600.jpg"), "/tmp/Photo \xF0\x9F\x98\x80.jpg");
  EXPECT_EQ(plat::NativePath(u"/already/native"), "/already/native");
  EXPECT_EQ(plat::FromNativePath("/usr/bin/x"), u"\\usr\\bin\\x");
}

TEST(PlatFiles, CaseInsensitiveResolution) {
  zmtest::TTempDir dir;
  dir.Write("Show/Pictures/Pic.JPG", "jpeg");
  std::string base = dir.Path().string();
  EXPECT_EQ(plat::ResolvePath(base + "/show/PICTURES/pic.jpg"), base + "/Show/Pictures/Pic.JPG");
  // a missing component: the rest is kept as written
  EXPECT_EQ(plat::ResolvePath(base + "/SHOW/none/Pic.jpg"), base + "/Show/none/Pic.jpg");
  EXPECT_EQ(plat::ResolvePath(base + "/show//pictures/"), base + "/Show/Pictures/");

  // every call finds the file by a name in another letter case
  std::u16string wide = dir.Wide("SHOW\\PICTURES\\pic.jpg");
  plat::TFileHandle h = plat::OpenFile(wide, plat::kGenericRead, plat::kOpenExisting);
  ASSERT_NE(h, plat::kInvalidFileHandle);
  EXPECT_EQ(plat::FileSize(h), 4);
  EXPECT_TRUE(plat::CloseFile(h));
  EXPECT_EQ(plat::GetFileAttributes(wide), static_cast<std::int32_t>(plat::kAttrNormal));
  // opening for writing with another letter case reaches the same file
  h = plat::OpenFile(dir.Wide("show\\pictures\\PIC.jpg"), plat::kGenericWrite, plat::kOpenAlways);
  ASSERT_NE(h, plat::kInvalidFileHandle);
  std::uint32_t done = 0;
  EXPECT_TRUE(plat::WriteFile(h, "JP", 2, done));
  plat::CloseFile(h);
  EXPECT_EQ(dir.Read("Show/Pictures/Pic.JPG"), "JPeg");
  EXPECT_FALSE(dir.Exists("Show/Pictures/PIC.jpg"));

  // exact names win, and among several matches the first in byte order
  dir.Write("Show/pictures/x", "");
  EXPECT_EQ(plat::ResolvePath(base + "/Show/pictures/x"), base + "/Show/pictures/x");
  EXPECT_EQ(plat::ResolvePath(base + "/Show/PICTURES"), base + "/Show/Pictures");
  EXPECT_EQ(plat::ResolvePath(base + "/Show/PICTURES/X"), base + "/Show/Pictures/X");
}

TEST(PlatFiles, OpenModesAndErrors) {
  zmtest::TTempDir dir;
  std::u16string name = dir.Wide("a.bin");
  EXPECT_EQ(plat::OpenFile(name, plat::kGenericRead, plat::kOpenExisting), plat::kInvalidFileHandle);
  EXPECT_EQ(plat::WindowsErrorCode(plat::LastOSError()), plat::kErrorFileNotFound);
  EXPECT_EQ(plat::OpenFile(dir.Wide("none\\a.bin"), plat::kGenericRead, plat::kOpenExisting),
            plat::kInvalidFileHandle);
  plat::TFileHandle h = plat::OpenFile(name, plat::kGenericRead | plat::kGenericWrite, plat::kCreateNew);
  ASSERT_NE(h, plat::kInvalidFileHandle);
  std::uint32_t done = 0;
  EXPECT_TRUE(plat::WriteFile(h, "0123456789", 10, done));
  EXPECT_EQ(done, 10u);
  EXPECT_EQ(plat::SeekFile(h, 4, plat::kSeekBegin), 4);
  EXPECT_TRUE(plat::SetEndOfFile(h));
  EXPECT_EQ(plat::FileSize(h), 4);
  EXPECT_EQ(plat::SeekFile(h, -1, plat::kSeekEnd), 3);
  char buf[8] = {};
  EXPECT_TRUE(plat::ReadFile(h, buf, 8, done));
  EXPECT_EQ(done, 1u);
  EXPECT_EQ(buf[0], '3');
  EXPECT_EQ(plat::SeekFile(h, -10, plat::kSeekBegin), -1);
  EXPECT_EQ(plat::SeekFile(h, 0, 7), -1);
  // a 64-bit position
  EXPECT_EQ(plat::SeekFile(h, 5000000000LL, plat::kSeekBegin), 5000000000LL);
  EXPECT_TRUE(plat::CloseFile(h));
  EXPECT_FALSE(plat::CloseFile(h));
  EXPECT_EQ(plat::FileSize(h), -1);
  EXPECT_FALSE(plat::ReadFile(-1, buf, 1, done));
  EXPECT_FALSE(plat::WriteFile(12345678, buf, 1, done));

  // creating a file that exists (in any letter case) fails
  EXPECT_EQ(plat::OpenFile(dir.Wide("A.BIN"), plat::kGenericWrite, plat::kCreateNew), plat::kInvalidFileHandle);
  EXPECT_EQ(plat::WindowsErrorCode(plat::LastOSError()), plat::kErrorAlreadyExists);
  h = plat::OpenFile(name, plat::kGenericWrite, plat::kTruncateExisting);
  EXPECT_EQ(plat::FileSize(h), 0);
  plat::CloseFile(h);
  EXPECT_EQ(plat::OpenFile(name, 0, 99), plat::kInvalidFileHandle);

  // a folder cannot be opened as a file
  EXPECT_EQ(plat::OpenFile(dir.Wide(), plat::kGenericRead, plat::kOpenExisting), plat::kInvalidFileHandle);
  EXPECT_EQ(plat::WindowsErrorCode(plat::LastOSError()), plat::kErrorAccessDenied);

  // over-long names and paths, empty names, embedded NUL
  std::u16string longName = dir.Wide(std::string(300, 'x'));
  EXPECT_EQ(plat::OpenFile(longName, plat::kGenericWrite, plat::kCreateAlways), plat::kInvalidFileHandle);
  EXPECT_EQ(plat::WindowsErrorCode(plat::LastOSError()), plat::kErrorFilenameExcedRange);
  std::u16string longPath = dir.Wide();
  for (int i = 0; i < 2000; ++i) longPath += u"\\abc";
  EXPECT_EQ(plat::OpenFile(longPath, plat::kGenericRead, plat::kOpenExisting), plat::kInvalidFileHandle);
  EXPECT_EQ(plat::GetFileAttributes(longPath), -1);
  EXPECT_EQ(plat::OpenFile(u"", plat::kGenericRead, plat::kOpenExisting), plat::kInvalidFileHandle);
  EXPECT_EQ(plat::OpenFile(dir.Wide() + std::u16string(1, u'\0') + u"x", plat::kGenericRead, plat::kOpenExisting),
            plat::kInvalidFileHandle);
}

TEST(PlatFiles, NamesAttributesAndMoves) {
  zmtest::TTempDir dir;
  dir.Write("one.txt", "1");
  dir.Write("two.txt", "2");
  EXPECT_TRUE(plat::CreateDirectory(dir.Wide("Sub")));
  EXPECT_FALSE(plat::CreateDirectory(dir.Wide("sub")));  // exists in another letter case
  EXPECT_EQ(plat::GetFileAttributes(dir.Wide("SUB")), static_cast<std::int32_t>(plat::kAttrDirectory));
  dir.Write(".hidden", "");
  EXPECT_EQ(plat::GetFileAttributes(dir.Wide(".hidden")), static_cast<std::int32_t>(plat::kAttrHidden));

  EXPECT_TRUE(plat::SetFileAttributes(dir.Wide("ONE.txt"), plat::kAttrReadOnly));
  EXPECT_EQ(plat::GetFileAttributes(dir.Wide("one.txt")), static_cast<std::int32_t>(plat::kAttrReadOnly));
  EXPECT_TRUE(plat::SetFileAttributes(dir.Wide("one.txt"), plat::kAttrNormal));
  EXPECT_EQ(plat::GetFileAttributes(dir.Wide("one.txt")), static_cast<std::int32_t>(plat::kAttrNormal));

  EXPECT_FALSE(plat::MoveFile(dir.Wide("one.txt"), dir.Wide("TWO.TXT"), 0));  // no replacing
  EXPECT_EQ(plat::WindowsErrorCode(plat::LastOSError()), plat::kErrorAlreadyExists);
  EXPECT_TRUE(plat::MoveFile(dir.Wide("ONE.TXT"), dir.Wide("Two.txt"), plat::kMoveReplaceExisting));
  EXPECT_EQ(dir.Read("two.txt"), "1");
  EXPECT_FALSE(dir.Exists("one.txt"));
  EXPECT_TRUE(plat::MoveFile(dir.Wide("two.txt"), dir.Wide("sub\\moved.txt"), 0));
  EXPECT_EQ(dir.Read("Sub/moved.txt"), "1");

  EXPECT_FALSE(plat::RemoveDirectory(dir.Wide("sub")));  // not empty
  EXPECT_EQ(plat::WindowsErrorCode(plat::LastOSError()), plat::kErrorDirNotEmpty);
  EXPECT_FALSE(plat::DeleteFile(dir.Wide("sub")));  // a folder
  EXPECT_TRUE(plat::DeleteFile(dir.Wide("SUB\\MOVED.TXT")));
  EXPECT_TRUE(plat::RemoveDirectory(dir.Wide("sub")));
  EXPECT_FALSE(plat::DeleteFile(dir.Wide("gone")));
  EXPECT_EQ(plat::WindowsErrorCode(plat::LastOSError()), plat::kErrorFileNotFound);

  std::u16string cwd;
  ASSERT_TRUE(plat::GetCurrentDirectory(cwd));
  EXPECT_EQ(cwd.find(u'/'), std::u16string::npos);
  EXPECT_FALSE(plat::SetCurrentDirectory(dir.Wide("missing")));

  std::filesystem::create_symlink(dir.Path() / "Sub2", dir.Path() / "link");
  std::filesystem::create_directory(dir.Path() / "Sub2");
  EXPECT_EQ(plat::GetFileAttributes(dir.Wide("link")),
            static_cast<std::int32_t>(plat::kAttrReparsePoint | plat::kAttrDirectory));
}

TEST(PlatFiles, FindWithMasks) {
  zmtest::TTempDir dir;
  dir.Write("a.txt", "aa");
  dir.Write("B.TXT", "b");
  dir.Write("c.jpg", "");
  dir.Write("noext", "");
  dir.Write("[x].txt", "");
  std::filesystem::create_directory(dir.Path() / "Folder");
  auto list = [&](const std::u16string& pattern) {
    std::set<std::u16string> names;
    plat::TFindEntry e;
    plat::TFindHandle h = plat::FindFirstFile(pattern, e);
    if (h == plat::kInvalidFindHandle) return names;
    do names.insert(e.Name);
    while (plat::FindNextFile(h, e));
    EXPECT_EQ(plat::WindowsErrorCode(plat::LastOSError()), plat::kErrorNoMoreFiles);
    EXPECT_TRUE(plat::FindClose(h));
    return names;
  };
  std::set<std::u16string> all = list(dir.Wide("*.*"));
  EXPECT_EQ(all, (std::set<std::u16string>{u".", u"..", u"a.txt", u"B.TXT", u"c.jpg", u"noext", u"[x].txt",
                                            u"Folder"}));
  EXPECT_EQ(list(dir.Wide("*.txt")), (std::set<std::u16string>{u"a.txt", u"B.TXT", u"[x].txt"}));
  EXPECT_EQ(list(dir.Wide("?.TxT")), (std::set<std::u16string>{u"a.txt", u"B.TXT"}));
  EXPECT_EQ(list(dir.Wide("[x].txt")), (std::set<std::u16string>{u"[x].txt"}));
  EXPECT_TRUE(list(dir.Wide("*.png")).empty());
  EXPECT_EQ(plat::WindowsErrorCode(plat::LastOSError()), plat::kErrorFileNotFound);
  EXPECT_TRUE(list(dir.Wide("missing\\*.*")).empty());

  plat::TFindEntry e;
  plat::TFindHandle h = plat::FindFirstFile(dir.Wide("a.txt"), e);
  ASSERT_NE(h, plat::kInvalidFindHandle);
  EXPECT_EQ(e.Size, 2);
  EXPECT_GT(e.LastWriteTime, 116444736000000000LL);
  EXPECT_TRUE(plat::FindClose(h));
  // a closed or made-up handle fails instead of reaching another listing
  EXPECT_FALSE(plat::FindNextFile(h, e));
  EXPECT_FALSE(plat::FindClose(h));
  EXPECT_FALSE(plat::FindNextFile(987654, e));

  EXPECT_TRUE(plat::MatchesMask("abc", "a*c"));
  EXPECT_TRUE(plat::MatchesMask("abc", "*"));
  EXPECT_TRUE(plat::MatchesMask("", "*"));
  EXPECT_FALSE(plat::MatchesMask("abc", "a?"));
  EXPECT_TRUE(plat::MatchesMask("aXbXc", "*b*c"));
  EXPECT_TRUE(plat::MatchesMask(std::string(10000, 'a') + "b", "*a*a*a*b"));
}

TEST(PlatText, CaseMappingAndCodePages) {
  EXPECT_EQ(plat::UpperCaseChar(U'é'), static_cast<std::uint32_t>(U'É'));
  EXPECT_EQ(plat::LowerCaseChar(U'Σ'), static_cast<std::uint32_t>(U'σ'));
  EXPECT_EQ(plat::UpperCaseChar(0xD800), 0xD800u);
  EXPECT_EQ(plat::UpperCaseChar(0x200000), 0x200000u);
  EXPECT_TRUE(plat::IsValidUtf8(reinterpret_cast<const unsigned char*>("\xC3\xA9"), 2));
  EXPECT_FALSE(plat::IsValidUtf8(reinterpret_cast<const unsigned char*>("\xC0\xAF"), 2));
  EXPECT_FALSE(plat::IsValidUtf8(reinterpret_cast<const unsigned char*>("\xED\xA0\x80"), 3));
  EXPECT_FALSE(plat::IsValidUtf8(reinterpret_cast<const unsigned char*>("\xE2\x82"), 2));
  std::u16string out;
  EXPECT_TRUE(plat::CodePageToUtf16(28591, reinterpret_cast<const unsigned char*>("\xE9"), 1, out));
  EXPECT_EQ(out, u"é");
  out.clear();
  EXPECT_FALSE(plat::CodePageToUtf16(1, nullptr, 3, out));
  EXPECT_TRUE(plat::CodePageToUtf16(12345, nullptr, 0, out));
  EXPECT_FALSE(plat::CodePageToUtf16(12345, reinterpret_cast<const unsigned char*>("x"), 1, out));
  EXPECT_TRUE(out.empty());
}
