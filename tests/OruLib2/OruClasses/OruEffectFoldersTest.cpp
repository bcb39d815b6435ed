#include "OruLib2/OruClasses/OruEffectFolders.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "Platform/PlatFiles.h"
#include "ZmLib/wpFileStream.h"
#include "tests/support/EnvGuard.h"
#include "tests/support/TempDir.h"

namespace {

using namespace oru;

class EffectFolders : public ::testing::Test {
protected:
  void SetUp() override { env_.Set("XDG_DATA_HOME", dir_.Path().string()); }
  void TearDown() override {
    std::error_code ec;
    if (!programAll_.empty()) std::filesystem::remove_all(programAll_, ec);
  }
  zmtest::TTempDir dir_;
  zmtest::TEnvGuard env_;
  std::filesystem::path programAll_;
};

TEST_F(EffectFolders, ProgramFolderFirstThenLocal) {
  EXPECT_EQ(ExpandEffectPath(u"%effects%\\wave.ini"), dir_.Wide("Tavrel/Effects/wave.ini"));
  EXPECT_EQ(ExpandEffectPath(u"%STYLES%\\a\\b.ini"), dir_.Wide("Tavrel/Styles/a/b.ini"));
  EXPECT_EQ(ExpandEffectPath(u"%effect"), u"%effect");
  // The same name beside the program wins.
  programAll_ = std::filesystem::path(plat::NativePath(zm::ProgramDir)) / "All";
  std::filesystem::create_directories(programAll_ / "Effects");
  std::FILE* file = std::fopen((programAll_ / "Effects" / "wave.ini").c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fclose(file);
  EXPECT_EQ(ExpandEffectPath(u"%effects%\\wave.ini"), zm::ProgramDir + u"All\\Effects\\wave.ini");
  EXPECT_EQ(ExpandEffectPath(u"%effects%\\other.ini"), dir_.Wide("Tavrel/Effects/other.ini"));
  // No data home and no home folder: no local folder at all.
  env_.Unset("XDG_DATA_HOME");
  env_.Unset("HOME");
  EXPECT_EQ(GetEffectsFolder(true), u"");
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
