// The show's own action on its exit: Esc ends the program, whatever the
// show asks to open as it ends.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "Oru/OruViewer/OruMainForm.h"
#include "tests/Oru/OruViewer/ShowStartsKit.h"

using namespace oru;
using namespace orutest;

namespace {

// A show file (a container) of two slides that opens Next on its exit,
// after any slide.
std::string ShowOpeningOnExit(const zmtest::TTempDir& dir, const std::string& name, const std::string& next) {
  const std::string folder = (dir.Path() / (name + ".project")).string();
  zmtest::TShowBuilder show(folder);
  show.ScreenSize(160, 120).Main().Key("opt_scr_full", 0);
  show.Repeat("repeat");
  show.Main().Key("opt_runapponexit", 2).Key("opt_runapponexitiflastslide", 0).Key("opt_runapponexitfn", next);
  show.AddSlide(1000).SolidBackground(40, 60, 200);
  show.AddSlide(2000).SolidBackground(200, 60, 40);
  show.Write();
  std::ifstream in(folder + "/Project.oru", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  zmtest::TShowContainerWriter c;
  c.Add("Project.oru", text.str(), zmtest::kDeflated);
  const std::string path = (dir.Path() / (name + ".orushow")).string();
  c.WriteFile(path);
  return path;
}

// Plays the show file, pressing Esc once each show has played a while;
// the shows that were opened, as the log names them.
std::vector<std::string> EscapeFrom(const std::string& show, TStartLog& log) {
  log.Taken();
  int presses = 0;
  WideString pressedIn;
  const orutest::TInProcessRun run = orutest::PlayInProcess(
      u"player -exename \"" + plat::FromUtf8(show) + u"\"", 50,
      [](std::int64_t time, const std::uint32_t*, int, int) { return time > 60000; }, {}, -1,
      [&](TMainForm& form) {
        if (form.Closed() || !form.Viewer() || form.Viewer()->Time() < 500 || presses > 5) return;
        if (presses > 0 && form.ShowPath() == pressedIn) return;
        pressedIn = form.ShowPath();
        ++presses;
        zm::WideChar ch = 0;
        form.DoKey(zm::TKeyKind::Down, 27, ch, 0);
        form.DoKey(zm::TKeyKind::Up, 27, ch, 0);
      });
  EXPECT_TRUE(run.Started);
  EXPECT_LE(presses, 3);
  return log.Beginning("Open show: ");
}

}  // namespace

// A show whose on-exit action opens the show itself ends on Esc, the log
// saying why it was not opened again; a show opened on exit ends on Esc as
// any other: its own action never opens a show left on exit before.
TEST(ExitAction, EscEndsTheProgram) {
  zmtest::TTempDir dir;
  zmtest::TEnvGuard env;
  env.Set("ZM_AUDIO", "none");
  auto* log = new TStartLog;
  zm::SetLog(log);
  const std::string self = ShowOpeningOnExit(dir, "self", "self.orushow");
  EXPECT_TRUE(EscapeFrom(self, *log).empty());
  EXPECT_EQ(log->Beginning("Not opened on exit: "),
            std::vector<std::string>{"Not opened on exit: " + self + " is the show that is ending"});

  const std::string a = ShowOpeningOnExit(dir, "a", "b.orushow");
  ShowOpeningOnExit(dir, "b", "\"" + a + "\"");
  log->Taken();
  const std::vector<std::string> opened = EscapeFrom(a, *log);
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0].substr(opened[0].size() - 9), "b.orushow");
  EXPECT_EQ(log->Beginning("Not opened on exit: "),
            std::vector<std::string>{"Not opened on exit: " + a + " was left on exit already"});
  zm::SetLog(nullptr);
}
