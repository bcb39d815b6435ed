#include "OruLib2/Effects/OruEffectFolders.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "Platform/PlatFiles.h"
#include "ZmLib/wpFileStream.h"
#include "tests/support/TempDir.h"

namespace {

using namespace oru;

class EffectFolders : public ::testing::Test {
protected:
  void SetUp() override {
    Save("XDG_DATA_HOME", xdg_);
    Save("HOME", home_);
    ::setenv("XDG_DATA_HOME", dir_.Path().c_str(), 1);
  }
  void TearDown() override {
    Restore("XDG_DATA_HOME", xdg_);
    Restore("HOME", home_);
    std::error_code ec;
    if (!programAll_.empty()) std::filesystem::remove_all(programAll_, ec);
  }
  static void Save(const char* name, std::optional<std::string>& slot) {
    if (const char* v = std::getenv(name)) slot = v;
  }
  static void Restore(const char* name, const std::optional<std::string>& slot) {
    if (slot) ::setenv(name, slot->c_str(), 1);
    else ::unsetenv(name);
  }

  zmtest::TTempDir dir_;
  std::optional<std::string> xdg_, home_;
  std::filesystem::path programAll_;
};

TEST_F(EffectFolders, LocalFoldersFollowTheDataHome) {
  EXPECT_EQ(GetLocalAppDataFolder(false), dir_.Wide());
  EXPECT_EQ(GetEffectsFolder(false), dir_.Wide("Tavrel/Effects"));
  EXPECT_EQ(GetStylesFolder(true), dir_.Wide("Tavrel/Styles") + u"\\");

  // A relative data home is ignored: the home folder's ".local/share".
  ::setenv("XDG_DATA_HOME", "relative/dir", 1);
  ::setenv("HOME", "/home/someone", 1);
  EXPECT_EQ(GetLocalAppDataFolder(false), u"\\home\\someone\\.local\\share");
  EXPECT_EQ(GetEffectsFolder(false), u"\\home\\someone\\.local\\share\\Tavrel\\Effects");
  ::unsetenv("XDG_DATA_HOME");
  ::unsetenv("HOME");
  EXPECT_EQ(GetLocalAppDataFolder(true), u"");
  EXPECT_EQ(GetEffectsFolder(true), u"");
}

TEST_F(EffectFolders, ProgramFolderFirstThenLocal) {
  EXPECT_EQ(ExpandEffectPath(u"%effects%\\wave.ini"), dir_.Wide("Tavrel/Effects/wave.ini"));
  EXPECT_EQ(ExpandEffectPath(u"%STYLES%\\a\\b.ini"), dir_.Wide("Tavrel/Styles/a/b.ini"));
  EXPECT_EQ(ExpandEffectPath(u"plain\\name.ini"), u"plain\\name.ini");
  EXPECT_EQ(ExpandEffectPath(u"%effect"), u"%effect");

  // The same name beside the program wins.
  programAll_ = std::filesystem::path(plat::NativePath(zm::ProgramDir)) / "All";
  std::filesystem::create_directories(programAll_ / "Effects");
  std::FILE* file = std::fopen((programAll_ / "Effects" / "wave.ini").c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fclose(file);
  EXPECT_EQ(ExpandEffectPath(u"%effects%\\wave.ini"), zm::ProgramDir + u"All\\Effects\\wave.ini");
  EXPECT_EQ(ExpandEffectPath(u"%effects%\\other.ini"), dir_.Wide("Tavrel/Effects/other.ini"));
}

TEST_F(EffectFolders, LoadsDefinitions) {
  dir_.Write("Tavrel/Effects/ripple.ini", "\xEF\xBB\xBF[main]\r\nstrength=3\r\n");
  zm::TRef<zm::TIniFile> ini = LoadEffectDefinition(u"%effects%\\ripple.ini");
  ASSERT_TRUE(ini);
  EXPECT_EQ(ini->ReadInteger(u"main", u"strength", 0), 3);
  EXPECT_FALSE(LoadEffectDefinition(u"%effects%\\missing.ini"));
  EXPECT_FALSE(LoadEffectDefinition(u""));
}

}  // namespace
