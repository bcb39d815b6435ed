#include "ZmLib/Win32/winNvProfile.h"

#include <gtest/gtest.h>

#include "Platform/PlatRegistry.h"
#include "ZmLib/Win32/winRegistry.h"

using namespace zm;

namespace {
const WideString kDriverPath = u"System\\CurrentControlSet\\Services\\nv4\\Device0";
const WideString kOld = u"_play.exe:D3D_60461791";
const WideString kNew1 = u"_play.exe:D3DOGL_67207556";
const WideString kNew2 = u"_play.exe:D3DOGL_70835937";

TOSVersion Version(std::uint32_t platform, std::uint32_t major, std::uint32_t minor) {
  TOSVersion v;
  v.PlatformId = platform;
  v.Major = major;
  v.Minor = minor;
  return v;
}

class NvProfile : public ::testing::Test {
protected:
  void SetUp() override {
    plat::RegClearAll();
    Prepare(u"\\Device\\Video1", u"\\Registry\\Machine\\" + kDriverPath, u"nVidia GeForce4 MX 440");
  }
  void TearDown() override { plat::RegClearAll(); }
  void Prepare(const WideString& device, const WideString& target, const WideString& description) {
    TRef<TRegistry> r = MakeRef<TRegistry>();
    ASSERT_TRUE(r->CreateKey(HKEY_LOCAL_MACHINE, u"HARDWARE\\DEVICEMAP\\VIDEO"));
    ASSERT_TRUE(r->OpenKey(HKEY_LOCAL_MACHINE, u"HARDWARE\\DEVICEMAP\\VIDEO", TRegistry::kFull));
    ASSERT_TRUE(r->WriteString(device, target));
    ASSERT_TRUE(r->CreateKey(HKEY_LOCAL_MACHINE, kDriverPath));
    ASSERT_TRUE(r->OpenKey(HKEY_LOCAL_MACHINE, kDriverPath, TRegistry::kFull));
    ASSERT_TRUE(r->WriteString(u"Device Description", description));
    ASSERT_TRUE(r->WriteBinary(kOld, {1, 2, 3, 4, 5}));
  }
  std::vector<std::uint8_t> Value(const WideString& name, bool& exists) {
    TRef<TRegistry> r = MakeRef<TRegistry>();
    std::vector<std::uint8_t> v;
    exists = r->OpenKey(HKEY_LOCAL_MACHINE, kDriverPath, TRegistry::kRead) && r->ReadBinary(name, v);
    return v;
  }
  bool Exists(const WideString& name) {
    bool e;
    Value(name, e);
    return e;
  }
};
}  // namespace

TEST_F(NvProfile, WritesAndRestoresOnlyOnNtFive) {
  TRef<TNvProfile> p = MakeRef<TNvProfile>(u"\\Device\\Video1", u"play.exe");
  p->ApplyNvidiaProfileValues(Version(VER_PLATFORM_WIN32_NT, 5, 1));
  EXPECT_EQ(p->SavedCount(), 3);
  bool e = false;
  EXPECT_EQ(Value(kNew1, e), (std::vector<std::uint8_t>{0, 0, 0, 0}));
  EXPECT_EQ(Value(kOld, e), (std::vector<std::uint8_t>{0x92, 0x52, 0x92, 0x60}));
  p->RestoreNvidiaProfileValues();
  // The value that existed has its bytes back; the others are gone again.
  EXPECT_EQ(Value(kOld, e), (std::vector<std::uint8_t>{1, 2, 3, 4, 5}));
  EXPECT_FALSE(Exists(kNew1));
  EXPECT_FALSE(Exists(kNew2));
  // Vista and later, 9x and NT 4 are left alone.
  for (TOSVersion v : {Version(VER_PLATFORM_WIN32_NT, 6, 0), Version(VER_PLATFORM_WIN32_WINDOWS, 4, 10),
                       Version(VER_PLATFORM_WIN32_NT, 4, 0)}) {
    p->ApplyNvidiaProfileValues(v);
    EXPECT_EQ(p->SavedCount(), 0);
    EXPECT_FALSE(Exists(kNew1));
  }
}

TEST_F(NvProfile, EveryFailingStepEndsQuietly) {
  const TOSVersion xp = Version(VER_PLATFORM_WIN32_NT, 5, 1);
  // Another device value is not there.
  TRef<TNvProfile> video0 = MakeRef<TNvProfile>(u"\\Device\\Video0", u"play.exe");
  video0->ApplyNvidiaProfileValues(xp);
  EXPECT_EQ(video0->SavedCount(), 0);
  // Another maker's driver.
  Prepare(u"\\Device\\Video0", u"\\Registry\\Machine\\" + kDriverPath, u"ATI Radeon");
  video0->ApplyNvidiaProfileValues(xp);
  EXPECT_EQ(video0->SavedCount(), 0);
  // A driver key this user may not write.
  Prepare(u"\\Device\\Video0", u"\\Registry\\Machine\\" + kDriverPath, u"nvidia quadro");
  ASSERT_EQ(plat::RegMarkForeign(HKEY_LOCAL_MACHINE, kDriverPath), plat::ERROR_SUCCESS);
  video0->ApplyNvidiaProfileValues(xp);
  EXPECT_EQ(video0->SavedCount(), 0);
  EXPECT_FALSE(Exists(kNew1));
}
