#include "Oru/OruViewer/OruMainForm.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Platform/PlatUtf8.h"
#include "Platform/User/PlatTermination.h"
#include "ZmLib/Win32/winWndAPI.h"
#include "ZmLib/zmCommandLine.h"
#include "ZmLib/zmHookScope.h"
#include "tests/Oru/OruViewer/TestShows.h"
#include "tests/support/TempDir.h"
#include "tests/support/kit/ShowContainerWriter.h"

using namespace oru;
using zm::TRef;

namespace {

// Keeps the texts of the message boxes, with their line breaks.
class TBoxRecorder : public zm::TWndAPI {
public:
  int MessageBox(zm::HWND, const WideString& text, const WideString& caption, zm::UINT flags) override {
    Boxes.push_back(plat::ToUtf8(caption) + "|" + plat::ToUtf8(text));
    Flags = flags;
    return zm::IDOK;
  }
  std::vector<std::string> Boxes;
  zm::UINT Flags = 0;
};

std::vector<std::string> gHookCalls;
void OpenedHook(TOruShowLocator* show) { gHookCalls.push_back(show ? "opened" : "opened nil"); }
void FFmpegHook(TOruShowLocator* show) { gHookCalls.push_back(show ? "ffmpeg" : "ffmpeg nil"); }

class MainForm : public ::testing::Test {
protected:
  void SetUp() override {
    api_.Set(&boxes_);
    commands_ = zm::MakeRef<zm::TCommandsStorage>();
    form_ = zm::MakeRef<TMainForm>(*commands_, nullptr);
    gHookCalls.clear();
  }
  void TearDown() override {
    form_ = nullptr;
    api_.Restore();
    opened_.Restore();
    ffmpeg_.Restore();
    SetShowCache(WideString(), WideString());
    SetCurrentShow(nullptr);
  }

  // The last box as "caption|text", empty when none was shown.
  std::string LastBox() const { return boxes_.Boxes.empty() ? std::string() : boxes_.Boxes.back(); }
  std::string Native(const std::string& relative) const { return (dir_.Path() / relative).string(); }
  WideString Wide(const std::string& relative) const { return dir_.Wide(relative); }

  void WriteContainer(const std::string& relative, zmtest::TShowContainerWriter c = {}) {
    zmtest::TShowProjectWriter show;
    orutest::AddSlides(show);
    show.AddToContainer(c);
    c.WriteFile(Native(relative));
  }

  zmtest::TTempDir dir_;
  TBoxRecorder boxes_;
  zm::THookScope<zm::TWndAPI*> api_{zm::WndAPIClass};
  zm::THookScope<TShowHookProc> opened_{ShowOpenedHook}, ffmpeg_{LocateFFmpegHook};
  TRef<zm::TCommandsStorage> commands_;
  TRef<TMainForm> form_;
};

}  // namespace

// The texts of failed opens are checked end to end on the program itself.

TEST_F(MainForm, LocateShowFindsBundlesAndKeepsOtherPaths) {
  // Bundles as such are opened end to end; letter case does not matter on the way in.
  dir_.Write("Show.app/Contents/Resources/slideshow.dat", "x");
  EXPECT_EQ(LocateShow(Wide("SHOW.APP")), Wide("SHOW.APP") + u"\\Contents\\Resources\\slideshow.dat");
  EXPECT_EQ(LocateShow(Wide("show.application")), Wide("show.application"));
  // The cached build file name is taken as it is, even as a bundle.
  SetShowCache(Wide("Missing.app"), Wide("proj/Project.oru"));
  EXPECT_EQ(LocateShow(Wide("Missing.app")), Wide("Missing.app"));
  EXPECT_EQ(LocateShow(Wide("other.app")), Wide("other.orushow"));
}

TEST_F(MainForm, RetryWithShowExtensionAndHookOrder) {
  WriteContainer("r.orushow");
  opened_.Set(&OpenedHook);
  ffmpeg_.Set(&FFmpegHook);
  ASSERT_TRUE(form_->OpenShow(Wide("r.bin"), true, 0, true, false)) << LastBox();
  EXPECT_TRUE(boxes_.Boxes.empty());
  EXPECT_EQ(gHookCalls, (std::vector<std::string>{"opened", "ffmpeg"}));
  EXPECT_EQ(form_->ShowPath(), Wide("r.orushow"));
  EXPECT_EQ(CurrentShow(), form_->Show());

  // The text is the one of the file the user named when it is there (the
  // file beside is missing), else of the file beside; each path once.
  zmtest::TShowContainerWriter modified;
  modified.StrucPos = "12";
  WriteContainer("n.bin", std::move(modified));
  EXPECT_FALSE(form_->OpenShow(Wide("n.bin"), true, 0, true, false));
  EXPECT_EQ(LastBox(), "Slideshow Error|Slide-show File Modified\r\"" + Native("n.bin") + "\"");
  EXPECT_EQ(boxes_.Flags, zm::MB_ICONEXCLAMATION);
  zmtest::TShowContainerWriter beside;
  beside.StrucPos = "12";
  WriteContainer("m.orushow", std::move(beside));
  EXPECT_FALSE(form_->OpenShow(Wide("m.bin"), true, 0, true, false));
  EXPECT_EQ(LastBox(), "Slideshow Error|Slide-show File Modified\r\"" + Native("m.orushow") + "\"");
  EXPECT_FALSE(form_->OpenShow(Wide("gone.bin"), true, 0, true, false));
  EXPECT_EQ(LastBox(), "Slideshow Error|Can`t Load Show\r\"" + Native("gone.bin") + "\" not found (nor \"" +
                           Native("gone.orushow") + "\")");
}

TEST_F(MainForm, AQuitAskedWhileTheShowOpensStopsTheOpening) {
  // A description long enough for its reading to look at the stop.
  zmtest::TShowProjectWriter show;
  orutest::AddSlides(show);
  show.Description().Section("RotationState");
  for (int i = 0; i < 20000; ++i) show.Description().Line(";\"p" + std::to_string(i) + ".jpg\"=6");
  zmtest::TShowContainerWriter c;
  show.AddToContainer(c);
  c.WriteFile(Native("long.orushow"));
  struct TReset {
    ~TReset() { plat::headless::ResetTerminationForTests(); }
  } reset;
  // Asked as the opening begins (a signal, the run's time): no box, no show.
  plat::RequestTermination();
  EXPECT_FALSE(form_->OpenShow(Wide("long.orushow"), true, 0, true, false));
  EXPECT_TRUE(form_->OpenStopped());
  EXPECT_TRUE(boxes_.Boxes.empty()) << LastBox();
  EXPECT_EQ(CurrentShow(), nullptr);
  plat::headless::ResetTerminationForTests();
  EXPECT_TRUE(form_->OpenShow(Wide("long.orushow"), true, 0, true, false)) << LastBox();
  EXPECT_FALSE(form_->OpenStopped());
}

TEST_F(MainForm, ProjectShowsStandForTheirBuildFile) {
  zmtest::TShowProjectWriter project(Native("proj"));
  orutest::AddSlides(project);
  project.Description()
      .Section("main")
      .Key("opt_exefn", "C:\\Shows\\Built.exe")
      .Key("opt_scr_caption", "My show")
      .Key("opt_lockwheel", 1);
  project.Write();
  opened_.Set(&OpenedHook);
  ffmpeg_.Set(&FFmpegHook);

  std::string path = Native("PROJ/project.ORU");
  ASSERT_TRUE(form_->OpenShow(plat::FromUtf8(path), false, 0, true, false)) << LastBox();
  EXPECT_EQ(gHookCalls, (std::vector<std::string>{"ffmpeg nil", "opened"}));
  EXPECT_EQ(form_->ShowPath(), u"C:\\Shows\\Built.exe");
  EXPECT_EQ(form_->ShowFolder(), u"C:\\Shows\\");
  EXPECT_EQ(CachedProjectPath(), Wide("PROJ/project.ORU"));
  EXPECT_EQ(LocateShow(u"C:\\Shows\\Built.exe"), u"C:\\Shows\\Built.exe");
  EXPECT_EQ(form_->Caption(), u"My show");
  EXPECT_FALSE(form_->WheelEnabled());
}

TEST_F(MainForm, SlideStartTimes) {
  WriteContainer("s.orushow");
  ASSERT_TRUE(form_->OpenShow(Wide("s.orushow"), true, 0, true, false)) << LastBox();
  // The first slide has no transition: one millisecond in, so it is shown.
  EXPECT_EQ(form_->SlideStartTime(-3), 1);
  EXPECT_EQ(form_->SlideStartTime(2), 7000);
  // The end of a show that closes gets no extra millisecond; a slide after
  // it ("-slide 99") is the end as well.
  EXPECT_EQ(form_->SlideStartTime(3), 12000);
  EXPECT_EQ(form_->SlideStartTime(98), 12000);
  EXPECT_EQ(form_->SlideStartTime(INT32_MAX), 12000);

  zmtest::TShowProjectWriter repeating(Native("rep"));
  orutest::AddSlides(repeating, {1000, 2500}, "repeat");
  repeating.Write();
  ASSERT_TRUE(form_->OpenShow(Wide("rep/Project.oru"), false, 0, true, false)) << LastBox();
  // The second pass of a repeating show starts like the first.
  EXPECT_EQ(form_->SlideStartTime(2), 2501);
  EXPECT_EQ(form_->SlideStartTime(3), 3500);
}

TEST_F(MainForm, SlideStepsAndEscape) {
  WriteContainer("k.orushow");
  ASSERT_TRUE(form_->OpenShow(Wide("k.orushow"), true, 0, true, false)) << LastBox();
  // Slides end at 3000, 7000 and 12000; the later two fade in over 500 ms.
  // While paused the step lands after the next slide's transition.
  EXPECT_EQ(form_->NextSlideTime(1000, true), 3500);
  EXPECT_EQ(form_->NextSlideTime(1000, false), 3000);
  EXPECT_EQ(form_->NextSlideTime(3000, false), 7000);
  // The step from the last slide of a closing show is its end, no further.
  EXPECT_EQ(form_->NextSlideTime(11000, true), 12000);
  EXPECT_EQ(form_->NextSlideTime(50000, false), 12000);
  EXPECT_EQ(form_->PrevSlideTime(100), 0);
  EXPECT_EQ(form_->FindSlideById(u"no such slide"), -1);

  // Esc ends the program: the form lets itself close.
  zm::WideChar ch = 0;
  form_->DoKey(zm::TKeyKind::Down, 27, ch, 0);
  EXPECT_TRUE(form_->Closed());
}
