#include "ZmLib/Win32/winFolders.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "Platform/PlatFiles.h"
#include "Platform/PlatSystem.h"
#include "ZmLib/Win32/winSysUtils.h"

using namespace zm;
namespace fs = std::filesystem;

namespace {

class WinFolders : public ::testing::Test {
protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("zm_folders_" + std::to_string(plat::CurrentThreadId()));
    fs::remove_all(dir);
    fs::create_directories(dir / "sub");
    std::ofstream(dir / "a.txt") << "hello";
    std::ofstream(dir / "b.jpg") << "x";
    std::ofstream(dir / "noext") << "";
  }
  void TearDown() override { fs::remove_all(dir); }
  WideString W(const fs::path& p) { return plat::FromNativePath(p.string()); }
  fs::path dir;
};

TEST_F(WinFolders, EntriesMasksStopAndLinks) {
  std::set<WideString> names;
  std::int32_t n = EnumerateFolder(W(dir), u"*.*", [&](const TFileInfo& i, bool&) {
    names.insert(i.Name);
    EXPECT_TRUE(i.Name != u"a.txt" || (i.ExtPos == 2 && i.Size == 5 && !i.Directory));
    EXPECT_TRUE(i.Name != u"noext" || i.ExtPos == 0);
    EXPECT_TRUE(i.Name != u"sub" || i.Directory);
    return i.Name != u"b.jpg";  // counted unless refused
  });
  EXPECT_EQ(names, (std::set<WideString>{u"a.txt", u"b.jpg", u"noext", u"sub"}));
  EXPECT_EQ(n, 3);
  EXPECT_EQ(EnumerateFolder(W(dir), u"*.TXT", [](const TFileInfo&, bool&) { return true; }), 1);
  int seen = 0;
  EXPECT_EQ(EnumerateFolder(W(dir), u"*", [&](const TFileInfo&, bool& stop) {
              ++seen;
              stop = true;
              return true;
            }),
            1);
  EXPECT_EQ(seen, 1);
  auto any = [](const TFileInfo&, bool&) { return true; };
  EXPECT_THROW(EnumerateFolder(W(dir / "missing"), u"*", any), EFolderNotFound);
  EXPECT_THROW(EnumerateFolder(W(dir / "a.txt"), u"*", any), EFolderNotFound);
  // A linked folder lists its target's entries.
  std::ofstream(dir / "sub" / "inner.bin") << "1";
  fs::create_directory_symlink(dir / "sub", dir / "link");
  EXPECT_EQ(EnumerateFolder(W(dir / "link"), u"*", any), 1);
}

TEST(WinFolderTimes, FileTimesBecomeLocalTimes) {
  // 2001-02-03 04:05:06.789 UTC as a file time; the local offset moves the
  // hour, never the minutes of whole-hour zones or the milliseconds.
  std::int64_t ft = (981173106LL + 11644473600LL) * 10000000LL + 7890000;
  TSystemTime t = FileTimeToLocalTime(ft);
  EXPECT_TRUE(t.wYear == 2001 && t.wSecond == 6 && t.wMilliseconds == 789);
  EXPECT_EQ(FileTimeToLocalTime(-5).wYear, 0);
  EXPECT_EQ(FileTimeToLocalTime(INT64_MAX).wYear, 0);
}

}  // namespace
