#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Platform/PlatProcess.h"
#include "Platform/PlatScreenSaver.h"
#include "tests/support/TempDir.h"

namespace {

// Records the starts instead of making them.
class TSpawnLog : public plat::IProcessSpawner {
 public:
  int Spawn(const std::string& program, const std::vector<std::string>& argv, const std::string& dir,
            bool search) override {
    Calls.push_back({program, argv, dir, search});
    return Error;
  }
  struct TCall {
    std::string Program;
    std::vector<std::string> Argv;
    std::string Dir;
    bool Search;
  };
  std::vector<TCall> Calls;
  int Error = 0;
};

class ShellStart : public ::testing::Test {
 protected:
  void SetUp() override { previous_ = plat::SetProcessSpawner(&rec); }
  void TearDown() override { plat::SetProcessSpawner(previous_); }
  std::string Executable(const std::string& relative) {
    std::string p = dir.Write(relative, "#!/bin/true\n");
    std::filesystem::permissions(p, std::filesystem::perms::owner_exec, std::filesystem::perm_options::add);
    return p;
  }
  TSpawnLog rec;
  zmtest::TTempDir dir;
  plat::IProcessSpawner* previous_ = nullptr;
};

}  // namespace

TEST(ShellStartText, UrlSchemes) {
  EXPECT_TRUE(plat::HasUrlScheme(u"HTTPS://x"));
  EXPECT_TRUE(plat::HasUrlScheme(u"mailto:a@b"));
  EXPECT_FALSE(plat::HasUrlScheme(u"C:\\x.exe"));  // a drive, not a scheme
  EXPECT_FALSE(plat::HasUrlScheme(u"1http://x"));
  EXPECT_FALSE(plat::HasUrlScheme(u"my file:x"));
  EXPECT_FALSE(plat::HasUrlScheme(u""));
}

TEST_F(ShellStart, LinksProgramsDocumentsAndMissingFiles) {
  EXPECT_EQ(plat::ShellExecute(u"http://example.org/a b", {}, u""), plat::kShellStarted);
  ASSERT_EQ(rec.Calls.size(), 1u);
  EXPECT_EQ(rec.Calls[0].Program, "xdg-open");
  EXPECT_TRUE(rec.Calls[0].Search);
  EXPECT_EQ(rec.Calls[0].Argv, (std::vector<std::string>{"xdg-open", "http://example.org/a b"}));

  // A program in a folder with blanks, named relative to the folder given,
  // in another letter case: started directly, never through a shell.
  std::string prog = Executable("my tools/Run.sh");
  EXPECT_EQ(plat::ShellExecute(u"MY TOOLS\\run.sh", {u"a;b", u">x"}, dir.Wide()), plat::kShellStarted);
  ASSERT_EQ(rec.Calls.size(), 2u);
  EXPECT_EQ(rec.Calls[1].Program, prog);
  EXPECT_FALSE(rec.Calls[1].Search);
  EXPECT_EQ(rec.Calls[1].Argv, (std::vector<std::string>{prog, "a;b", ">x"}));
  EXPECT_EQ(rec.Calls[1].Dir, dir.Path().string());

  // A document goes to its desktop program without parameters.
  std::string doc = dir.Write("notes.txt", "x");
  EXPECT_EQ(plat::ShellExecute(dir.Wide("notes.txt"), {u"ignored"}, u""), plat::kShellStarted);
  EXPECT_EQ(rec.Calls.back().Argv, (std::vector<std::string>{"xdg-open", doc}));

  const std::size_t before = rec.Calls.size();
  EXPECT_EQ(plat::ShellExecute(dir.Wide("missing.sh"), {}, u""), plat::kShellFileNotFound);
  EXPECT_EQ(plat::ShellExecute(dir.Wide("no folder\\missing.sh"), {}, u""), plat::kShellPathNotFound);
  EXPECT_EQ(plat::ShellExecute(u"", {}, u""), plat::kShellFileNotFound);
  EXPECT_EQ(rec.Calls.size(), before);

  // Spawn errors map to the shell's codes.
  rec.Error = 13;  // EACCES
  EXPECT_EQ(plat::ShellExecute(dir.Wide("my tools\\Run.sh"), {}, u""), plat::kShellAccessDenied);
  rec.Error = 7;  // E2BIG
  EXPECT_EQ(plat::ShellExecute(u"https://x", {}, u""), plat::kShellFailed);
}

TEST(InstanceLock, SecondHolderSeesTheFirstUntilItEnds) {
  const std::string name = "zm-test-instance-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed());
  plat::TInstanceLock first, second, other;
  ASSERT_TRUE(first.Open(name));
  EXPECT_TRUE(first.Owned());
  EXPECT_FALSE(first.HeldByAnother());
  ASSERT_TRUE(second.Open(name));
  EXPECT_FALSE(second.Owned());
  EXPECT_TRUE(second.HeldByAnother());
  ASSERT_TRUE(other.Open(name + "/other"));  // a "/" cannot leave the folder
  EXPECT_TRUE(other.Owned());
  EXPECT_EQ(other.FilePath().find("/other"), std::string::npos);
  // The first ends: the next ask takes the lock over.
  first.Close();
  EXPECT_FALSE(second.HeldByAnother());
  EXPECT_TRUE(second.Owned());
  EXPECT_FALSE(first.HeldByAnother());  // closed: no answer but false
  std::filesystem::remove(second.FilePath());
  std::filesystem::remove(other.FilePath());
}

TEST(ScreenSaver, SwitchedOffAndOnWithoutDisplay) {
  EXPECT_TRUE(plat::ScreenSaverEnabled());
  plat::SetScreenSaverEnabled(false);
  EXPECT_FALSE(plat::ScreenSaverEnabled());
  plat::SetScreenSaverEnabled(true);
  EXPECT_TRUE(plat::ScreenSaverEnabled());
}
