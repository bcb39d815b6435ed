#include "Oru/OruViewer/OruStartup.h"

#include <gtest/gtest.h>

#include <string>

#include "Oru/OruViewer/OruMainForm.h"
#include "Platform/PlatUtf8.h"
#include "ZmLib/Graphics/zmColorProfiles.h"
#include "tests/support/TempDir.h"

using namespace oru;

namespace {

// The switches of a command line, as the start-up reads them.
struct TSwitches {
  explicit TSwitches(const WideString& line) {
    zm::TStringsAdapter list(Args.get());
    zm::ParseCommandLine(u"player " + line, list, *Storage);
  }
  zm::TRef<zm::TStringList> Args = zm::MakeRef<zm::TStringList>();
  zm::TRef<zm::TCommandsStorage> Storage = zm::MakeRef<zm::TCommandsStorage>();
};

class ColorSwitches : public ::testing::Test {
protected:
  void TearDown() override {
    NoColorManagement = false;
    SetForcedOutputProfile(nullptr);
    MonitorProfileName.clear();
  }
  zm::TColorProfile* Apply(const WideString& line) {
    TSwitches s(line);
    ApplyColorSwitches(*s.Storage);
    return ForcedOutputProfile();
  }
  zmtest::TTempDir dir_;
};

std::string ProfileBytes(zm::TColorProfile* p) { return std::string(p->Data().begin(), p->Data().end()); }

}  // namespace

TEST_F(ColorSwitches, BuiltInNamesFilesAndMissingOnes) {
  EXPECT_EQ(Apply(u"-icc adobergb"), zm::AdobeRGBProfile());
  // The video copy of sRGB is no choice of the command line.
  EXPECT_EQ(Apply(u"-icc YUVsRGB"), nullptr);
  EXPECT_FALSE(NoColorManagement);

  dir_.Write("out.icc", ProfileBytes(zm::FunkyRGBProfile()));
  zm::TColorProfile* p = Apply(u"-icc \"" + dir_.Wide("out.icc") + u"\"");
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(ProfileBytes(p), ProfileBytes(zm::FunkyRGBProfile()));
  // A missing or empty file leaves no output profile, also after one was forced.
  EXPECT_EQ(Apply(u"-icc " + dir_.Wide("missing.icc")), nullptr);
  dir_.Write("empty.icc", "");
  EXPECT_EQ(Apply(u"-icc " + dir_.Wide("empty.icc")), nullptr);
}

TEST_F(ColorSwitches, AutoAndEmptyTakeTheMonitorProfile) {
  // No monitor profile: nothing matches.
  EXPECT_EQ(Apply(u"-icc auto"), nullptr);
  EXPECT_EQ(Apply(u"-icc"), nullptr);

  dir_.Write("monitor.icc", ProfileBytes(zm::AdobeRGBProfile()));
  MonitorProfileName = dir_.Wide("monitor.icc");
  for (const char16_t* line : {u"-icc", u"-icc AUTO", u"-icc -log"}) {
    zm::TColorProfile* p = Apply(line);
    ASSERT_NE(p, nullptr) << plat::ToUtf8(line);
    EXPECT_EQ(ProfileBytes(p), ProfileBytes(zm::AdobeRGBProfile()));
  }
}

TEST_F(ColorSwitches, NoIccWinsAndNoIccSwitchKeepsTheProfile) {
  Apply(u"-icc sRGB");
  // Without "icc" the forced profile stays.
  EXPECT_EQ(Apply(u"-log"), zm::sRGBProfile());
  SetForcedOutputProfile(nullptr);
  EXPECT_EQ(Apply(u"-noicc -icc sRGB"), nullptr);
  EXPECT_TRUE(NoColorManagement);
  // Switch names keep their letter case.
  NoColorManagement = false;
  EXPECT_EQ(Apply(u"-NOICC -ICC sRGB"), nullptr);
  EXPECT_FALSE(NoColorManagement);
}

TEST(Startup, StartPositionOfSlideAndTime) {
  struct TCase {
    const char16_t* Line;
    std::int32_t Start;
    bool IsTime;
  };
  const TCase cases[] = {
      {u"", 0, false},
      {u"-slide 3", 2, false},
      {u"-slide 0", 0, false},
      {u"-slide x", 0, false},
      {u"-slide 3x", 0, false},
      {u"-slide 99999999999", 0, false},
      {u"-slide 2147483647", 2147483646, false},
      {u"-time 5000", 4999, true},
      {u"-time abc", 0, true},
      // "slide" wins over "time"; a "slide" without its number does not.
      {u"-time 900 -slide 4", 3, false},
      {u"-slide -time 900", 899, true},
      {u"-SLIDE 5", 0, false},
  };
  for (const TCase& c : cases) {
    TSwitches s(c.Line);
    bool isTime = !c.IsTime;
    EXPECT_EQ(StartPosition(*s.Storage, isTime), c.Start) << plat::ToUtf8(c.Line);
    EXPECT_EQ(isTime, c.IsTime) << plat::ToUtf8(c.Line);
  }
}

TEST(Startup, StartupWindowHandle) {
  EXPECT_EQ(StartupWindowHandle(TSwitches(u"-exename a.exe -startup 77").Args.get()), 77);
  // Only one parameter, or a last one that is no number.
  EXPECT_EQ(StartupWindowHandle(TSwitches(u"-startup").Args.get()), 0);
  EXPECT_EQ(StartupWindowHandle(TSwitches(u"-startup 12x").Args.get()), 0);
  EXPECT_EQ(StartupWindowHandle(nullptr), 0);
}
