#include "Platform/PlatShell.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "Platform/PlatFiles.h"
#include "tests/support/EnvGuard.h"

namespace {

// The variables the folders depend on, put back after each test.
class SpecialFolders : public ::testing::Test {
protected:
  void SetUp() override {
    for (const char* name :
         {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_DATA_DIRS", "XDG_DOCUMENTS_DIR", "SYSTEMROOT", "WINDIR"})
      env_.Unset(name);
  }
  static void Set(const char* name, const char* value) { ::setenv(name, value, 1); }
  static std::u16string Folder(int csidl) {
    std::u16string path = u"stale";
    return plat::SHGetSpecialFolderPath(path, csidl) ? path : u"(none) " + path;
  }

private:
  zmtest::TEnvGuard env_;  // every variable Set changes is one of these
};

TEST_F(SpecialFolders, XdgFoldersThenHome) {
  Set("HOME", "/home/me/");
  EXPECT_EQ(Folder(plat::CSIDL_APPDATA), u"\\home\\me\\.config");
  EXPECT_EQ(Folder(plat::CSIDL_LOCAL_APPDATA), u"\\home\\me\\.local\\share");
  Set("XDG_CONFIG_HOME", "/conf//");
  Set("XDG_DATA_HOME", "/data");
  EXPECT_EQ(Folder(plat::CSIDL_APPDATA), u"\\conf");
  EXPECT_EQ(Folder(plat::CSIDL_LOCAL_APPDATA), u"\\data");
  // Relative values are not XDG folders: below the home folder again.
  Set("XDG_CONFIG_HOME", "conf");
  Set("XDG_DATA_HOME", "");
  EXPECT_EQ(Folder(plat::CSIDL_APPDATA), u"\\home\\me\\.config");
  EXPECT_EQ(Folder(plat::CSIDL_LOCAL_APPDATA), u"\\home\\me\\.local\\share");
  // A home of "/" gives no double separator; without a home there is none.
  Set("HOME", "/");
  EXPECT_EQ(Folder(plat::CSIDL_APPDATA), u"\\.config");
  ::unsetenv("HOME");
  EXPECT_EQ(Folder(plat::CSIDL_APPDATA), u"(none) ");
  EXPECT_EQ(Folder(plat::CSIDL_LOCAL_APPDATA), u"(none) ");
}

TEST_F(SpecialFolders, CommonDataAndSystemFolder) {
  EXPECT_EQ(Folder(plat::CSIDL_COMMON_APPDATA), u"\\usr\\local\\share");
  Set("XDG_DATA_DIRS", "::relative/share:/machine/:/opt/share");
  EXPECT_EQ(Folder(plat::CSIDL_COMMON_APPDATA), u"\\machine");
  Set("XDG_DATA_DIRS", "only/relative");
  EXPECT_EQ(Folder(plat::CSIDL_COMMON_APPDATA), u"\\usr\\local\\share");

  EXPECT_EQ(Folder(plat::CSIDL_WINDOWS), u"\\");
  Set("WINDIR", "/win");
  EXPECT_EQ(Folder(plat::CSIDL_WINDOWS), u"\\win");
  Set("SYSTEMROOT", "/sysroot/");
  EXPECT_EQ(Folder(plat::CSIDL_WINDOWS), u"\\sysroot");
}

TEST_F(SpecialFolders, UnknownIdsAndCreation) {
  Set("HOME", "/home/me");
  for (int id : {-1, 0, 5, 0x1B, 0x25, 0x7FFF, plat::CSIDL_FLAG_CREATE})
    EXPECT_EQ(Folder(id), u"(none) ") << id;

  std::filesystem::path root = std::filesystem::temp_directory_path() / ("platshell-" + std::to_string(std::random_device{}()));
  std::filesystem::remove_all(root);
  std::string data = (root / "data" / "deep").string();
  Set("XDG_DATA_HOME", data.c_str());
  EXPECT_EQ(Folder(plat::CSIDL_LOCAL_APPDATA), plat::FromNativePath(data));
  EXPECT_FALSE(std::filesystem::exists(data));  // asked without creating
  EXPECT_EQ(Folder(plat::CSIDL_LOCAL_APPDATA | plat::CSIDL_FLAG_CREATE), plat::FromNativePath(data));
  EXPECT_TRUE(std::filesystem::is_directory(data));
  // A file in the way cannot become the folder.
  std::string blocked = (root / "file").string();
  std::ofstream(blocked) << "x";
  Set("XDG_CONFIG_HOME", (blocked + "/sub").c_str());
  std::u16string path = u"stale";
  EXPECT_FALSE(plat::SHGetSpecialFolderPath(path, plat::CSIDL_APPDATA, true));
  EXPECT_TRUE(path.empty());
  std::filesystem::remove_all(root);
}


// Where a save dialog starts: the desktop's documents folder when it exists,
// else ~/Documents when it exists, else the home folder itself.
TEST_F(SpecialFolders, DocumentsFolder) {
  const std::filesystem::path root =
      std::filesystem::temp_directory_path() / ("platshell-docs-" + std::to_string(std::random_device{}()));
  std::filesystem::create_directories(root / "home");
  const auto folder = [] {
    std::u16string path = u"stale";
    return plat::DocumentsFolderPath(path) ? path : u"(none) " + path;
  };
  EXPECT_EQ(folder(), u"(none) ");
  Set("HOME", "relative/home");
  EXPECT_EQ(folder(), u"(none) ");
  Set("HOME", (root / "home").c_str());
  EXPECT_EQ(folder(), plat::FromNativePath((root / "home").string()));
  std::filesystem::create_directories(root / "home" / "Documents");
  EXPECT_EQ(folder(), plat::FromNativePath((root / "home" / "Documents").string()));
  Set("XDG_DOCUMENTS_DIR", (root / "missing").c_str());
  EXPECT_EQ(folder(), plat::FromNativePath((root / "home" / "Documents").string()));
  std::filesystem::create_directories(root / "docs");
  Set("XDG_DOCUMENTS_DIR", ((root / "docs").string() + "/").c_str());
  EXPECT_EQ(folder(), plat::FromNativePath((root / "docs").string()));
  std::filesystem::remove_all(root);
}

}  // namespace
