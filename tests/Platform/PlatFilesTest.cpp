#include "Platform/PlatFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>

#include "Platform/PlatSystem.h"
#include "Platform/PlatText.h"
#include "Platform/PlatUtf8.h"
#include "tests/support/TempDir.h"

using namespace plat;

namespace {

std::uint32_t LastError() { return WindowsErrorCode(LastOSError()); }

}  // namespace

TEST(PlatFiles, NativePaths) {
  EXPECT_EQ(NativePath(u"\\\\?\\C:\\a\\b"), "C:/a/b");
  EXPECT_EQ(NativePath(u"\\\\?\\unc\\srv\\share\\x"), "//srv/share/x");
  EXPECT_EQ(NativePath(u"\\tmp\\Photo \U0001F600.jpg"), "/tmp/Photo \xF0\x9F\x98\x80.jpg");
  EXPECT_EQ(FromNativePath("/usr/bin/x"), u"\\usr\\bin\\x");
}

TEST(PlatFiles, CaseInsensitiveResolution) {
  zmtest::TTempDir dir;
  dir.Write("Show/Pictures/Pic.JPG", "jpeg");
  std::string base = dir.Path().string();
  EXPECT_EQ(ResolvePath(base + "/show/PICTURES/pic.jpg"), base + "/Show/Pictures/Pic.JPG");
  // a missing component: the rest is kept as written
  EXPECT_EQ(ResolvePath(base + "/SHOW/none/Pic.jpg"), base + "/Show/none/Pic.jpg");
  EXPECT_EQ(ResolvePath(base + "/show//pictures/"), base + "/Show/Pictures/");

  // opening for writing with another letter case reaches the same file
  TFileHandle h = OpenFile(dir.Wide("show\\pictures\\PIC.jpg"), kGenericWrite, kOpenAlways);
  ASSERT_NE(h, kInvalidFileHandle);
  std::uint32_t done = 0;
  EXPECT_TRUE(WriteFile(h, "JP", 2, done));
  CloseFile(h);
  EXPECT_EQ(dir.Read("Show/Pictures/Pic.JPG"), "JPeg");
  EXPECT_FALSE(dir.Exists("Show/Pictures/PIC.jpg"));

  // exact names win, and among several matches the first in byte order
  dir.Write("Show/pictures/x", "");
  EXPECT_EQ(ResolvePath(base + "/Show/pictures/x"), base + "/Show/pictures/x");
  EXPECT_EQ(ResolvePath(base + "/Show/PICTURES/X"), base + "/Show/Pictures/X");
}

TEST(PlatFiles, OpenModesAndErrors) {
  zmtest::TTempDir dir;
  std::u16string name = dir.Wide("a.bin");
  TFileHandle h = OpenFile(name, kGenericRead | kGenericWrite, kCreateNew);
  ASSERT_NE(h, kInvalidFileHandle);
  std::uint32_t done = 0;
  EXPECT_TRUE(WriteFile(h, "0123456789", 10, done));
  EXPECT_EQ(SeekFile(h, 4, kSeekBegin), 4);
  EXPECT_TRUE(SetEndOfFile(h));
  EXPECT_EQ(FileSize(h), 4);
  EXPECT_EQ(SeekFile(h, -1, kSeekEnd), 3);
  EXPECT_EQ(SeekFile(h, 0, 7), -1);
  EXPECT_EQ(SeekFile(h, 5000000000LL, kSeekBegin), 5000000000LL);  // a 64-bit position
  EXPECT_TRUE(CloseFile(h));
  EXPECT_FALSE(CloseFile(h));
  EXPECT_FALSE(WriteFile(h, "x", 1, done));

  // creating a file that exists (in any letter case) fails
  EXPECT_EQ(OpenFile(dir.Wide("A.BIN"), kGenericWrite, kCreateNew), kInvalidFileHandle);
  EXPECT_EQ(LastError(), kErrorAlreadyExists);
  EXPECT_EQ(OpenFile(name, 0, 99), kInvalidFileHandle);
  EXPECT_EQ(OpenFile(dir.Wide(), kGenericRead, kOpenExisting), kInvalidFileHandle);  // a folder
  EXPECT_EQ(LastError(), kErrorAccessDenied);

  // over-long names and paths, empty names, embedded NUL
  EXPECT_EQ(OpenFile(dir.Wide(std::string(300, 'x')), kGenericWrite, kCreateAlways), kInvalidFileHandle);
  EXPECT_EQ(LastError(), kErrorFilenameExcedRange);
  std::u16string longPath = dir.Wide();
  for (int i = 0; i < 2000; ++i) longPath += u"\\abc";
  EXPECT_EQ(OpenFile(longPath, kGenericRead, kOpenExisting), kInvalidFileHandle);
  EXPECT_EQ(GetFileAttributes(longPath), -1);
  EXPECT_EQ(OpenFile(u"", kGenericRead, kOpenExisting), kInvalidFileHandle);
  EXPECT_EQ(OpenFile(dir.Wide() + std::u16string(1, u'\0') + u"x", kGenericRead, kOpenExisting), kInvalidFileHandle);
}

// What is opened for reading only must be a regular file: a read of a pipe
// without writer or of a device may never end, so the open fails at once
// (like a missing file, with the kind of the name for the log). Writing to
// a device stays as it was.
TEST(PlatFiles, ReadingTakesOnlyRegularFiles) {
  zmtest::TTempDir dir;
  dir.Write("plain.bin", "data");
  std::filesystem::create_directory(dir.Path() / "Folder.mp4");
  ASSERT_EQ(std::system(("mkfifo '" + (dir.Path() / "Pipe.mp4").string() + "'").c_str()), 0);
  std::filesystem::create_symlink(dir.Path() / "Pipe.mp4", dir.Path() / "link.mp4");

  struct TCase {
    std::u16string name;
    const char* kind;
  };
  const TCase refused[] = {{dir.Wide("Pipe.mp4"), "named pipe"},
                           {dir.Wide("pipe.MP4"), "named pipe"},  // found without letter case
                           {dir.Wide("link.mp4"), "named pipe"},  // through a link
                           {dir.Wide("Folder.mp4"), "folder"},
                           {u"/dev/ptmx", "character device"},
                           {u"/dev/null", "character device"}};
  for (const TCase& c : refused) {
    for (std::uint32_t creation : {kOpenExisting, kOpenAlways}) {
      TFileHandle h = OpenFile(c.name, kGenericRead, creation);
      EXPECT_EQ(h, kInvalidFileHandle) << ToUtf8(c.name);
      if (h != kInvalidFileHandle) CloseFile(h);
      EXPECT_EQ(LastError(), kErrorAccessDenied) << ToUtf8(c.name);
    }
    EXPECT_EQ(NonRegularFileKind(c.name), c.kind) << ToUtf8(c.name);
  }

  TFileHandle plain = OpenFile(dir.Wide("PLAIN.bin"), kGenericRead, kOpenExisting);
  ASSERT_NE(plain, kInvalidFileHandle);
  char buffer[8] = {};
  std::uint32_t done = 0;
  EXPECT_TRUE(ReadFile(plain, buffer, sizeof buffer, done));
  EXPECT_EQ(std::string(buffer, done), "data");
  CloseFile(plain);
  EXPECT_EQ(NonRegularFileKind(dir.Wide("plain.bin")), "");
  EXPECT_EQ(NonRegularFileKind(dir.Wide("absent.bin")), "");

  SetLastOSError(0);
  (void)NonRegularFileKind(dir.Wide("absent.bin"));
  EXPECT_EQ(LastOSError(), 0);  // a message leaves the caller's error alone

  TFileHandle sink = OpenFile(u"/dev/null", kGenericWrite, kOpenExisting);
  ASSERT_NE(sink, kInvalidFileHandle);
  EXPECT_TRUE(WriteFile(sink, "x", 1, done));
  CloseFile(sink);
}

TEST(PlatFiles, NamesAttributesAndMoves) {
  zmtest::TTempDir dir;
  dir.Write("one.txt", "1");
  dir.Write("two.txt", "2");
  EXPECT_TRUE(CreateDirectory(dir.Wide("Sub")));
  EXPECT_FALSE(CreateDirectory(dir.Wide("sub")));  // exists in another letter case
  EXPECT_EQ(GetFileAttributes(dir.Wide("SUB")), static_cast<std::int32_t>(kAttrDirectory));
  EXPECT_TRUE(SetFileAttributes(dir.Wide("ONE.txt"), kAttrReadOnly));
  EXPECT_EQ(GetFileAttributes(dir.Wide("one.txt")), static_cast<std::int32_t>(kAttrReadOnly));

  EXPECT_FALSE(MoveFile(dir.Wide("one.txt"), dir.Wide("TWO.TXT"), 0));  // no replacing
  EXPECT_EQ(LastError(), kErrorAlreadyExists);
  EXPECT_TRUE(MoveFile(dir.Wide("ONE.TXT"), dir.Wide("Two.txt"), kMoveReplaceExisting));
  EXPECT_EQ(dir.Read("two.txt"), "1");
  EXPECT_TRUE(MoveFile(dir.Wide("two.txt"), dir.Wide("sub\\moved.txt"), 0));

  EXPECT_FALSE(RemoveDirectory(dir.Wide("sub")));  // not empty
  EXPECT_EQ(LastError(), kErrorDirNotEmpty);
  EXPECT_FALSE(DeleteFile(dir.Wide("sub")));  // a folder
  EXPECT_TRUE(DeleteFile(dir.Wide("SUB\\MOVED.TXT")));
  EXPECT_TRUE(RemoveDirectory(dir.Wide("sub")));
}

TEST(PlatFiles, OneEntryByNameWithoutAListing) {
  zmtest::TTempDir dir;
  dir.Write("Photo.JPG", "12345");
  std::filesystem::create_directory(dir.Path() / "Folder");
  std::filesystem::create_symlink(dir.Path() / "Photo.JPG", dir.Path() / "link.jpg");
  std::filesystem::create_symlink(dir.Path() / "gone", dir.Path() / "broken");
  TFindEntry e;
  ASSERT_TRUE(GetFileAttributesEx(dir.Wide("photo.jpg"), e));  // any letter case
  EXPECT_EQ(e.Name, u"Photo.JPG");
  EXPECT_EQ(e.Size, 5);
  EXPECT_EQ(e.Attributes, kAttrNormal);
  EXPECT_GT(e.LastWriteTime, 0);
  ASSERT_TRUE(GetFileAttributesEx(dir.Wide("folder"), e));
  EXPECT_EQ(e.Size, 0);
  EXPECT_EQ(e.Attributes, kAttrDirectory);
  ASSERT_TRUE(GetFileAttributesEx(dir.Wide("link.jpg"), e));  // the size of what it leads to
  EXPECT_EQ(e.Size, 5);
  EXPECT_EQ(e.Attributes, kAttrReparsePoint);
  EXPECT_TRUE(GetFileAttributesEx(dir.Wide("broken"), e));
  EXPECT_FALSE(GetFileAttributesEx(dir.Wide("missing"), e));
  EXPECT_FALSE(GetFileAttributesEx(u"", e));
}

TEST(PlatFiles, FindWithMasks) {
  zmtest::TTempDir dir;
  for (const char* n : {"a.txt", "B.TXT", "c.jpg", "noext", "[x].txt"}) dir.Write(n, "aa");
  std::filesystem::create_directory(dir.Path() / "Folder");
  using TNames = std::set<std::u16string>;
  auto list = [&](const std::u16string& pattern) {
    TNames names;
    TFindEntry e;
    TFindHandle h = FindFirstFile(pattern, e);
    if (h == kInvalidFindHandle) return names;
    do names.insert(e.Name);
    while (FindNextFile(h, e));
    EXPECT_EQ(LastError(), kErrorNoMoreFiles);
    EXPECT_TRUE(FindClose(h));
    return names;
  };
  EXPECT_EQ(list(dir.Wide("*.*")),
            (TNames{u".", u"..", u"a.txt", u"B.TXT", u"c.jpg", u"noext", u"[x].txt", u"Folder"}));
  EXPECT_EQ(list(dir.Wide("?.TxT")), (TNames{u"a.txt", u"B.TXT"}));
  EXPECT_EQ(list(dir.Wide("[x].txt")), (TNames{u"[x].txt"}));

  TFindEntry e;
  TFindHandle h = FindFirstFile(dir.Wide("a.txt"), e);
  ASSERT_NE(h, kInvalidFindHandle);
  EXPECT_EQ(e.Size, 2);
  EXPECT_GT(e.LastWriteTime, 116444736000000000LL);  // after 1970 in 100 ns steps since 1601
  EXPECT_TRUE(FindClose(h));
  // a closed or made-up handle fails instead of reaching another listing
  EXPECT_FALSE(FindNextFile(h, e));
  EXPECT_FALSE(FindClose(h));
  EXPECT_FALSE(FindNextFile(987654, e));

  EXPECT_TRUE(MatchesMask("", "*"));
  EXPECT_TRUE(MatchesMask(std::string(10000, 'a') + "b", "*a*a*a*b"));
}

// Bad input only: the text units' own tests cover the mappings.
TEST(PlatText, BadInput) {
  EXPECT_EQ(UpperCaseChar(0xD800), 0xD800u);
  EXPECT_EQ(UpperCaseChar(0x200000), 0x200000u);
  auto valid = [](const char* s) { return IsValidUtf8(reinterpret_cast<const unsigned char*>(s), std::strlen(s)); };
  EXPECT_FALSE(valid("\xC0\xAF"));      // over-long
  EXPECT_FALSE(valid("\xED\xA0\x80"));  // encoded surrogate
  EXPECT_FALSE(valid("\xE2\x82"));      // truncated
  std::u16string out;
  EXPECT_FALSE(CodePageToUtf16(1, nullptr, 3, out));
  EXPECT_TRUE(out.empty());
}
