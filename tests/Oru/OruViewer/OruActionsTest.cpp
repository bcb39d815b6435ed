// Actions of the main form: moving, links to programs and other shows, the
// command check, the input it maps, and the screen-saver hooks.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <limits>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Oru/OruViewer/OruMainForm.h"
#include "Oru/OruViewer/OruRunProgram.h"
#include "Oru/OruViewer/OruScreenSaver.h"
#include "Platform/PlatFiles.h"
#include "Platform/PlatProcess.h"
#include "Platform/PlatScreenSaver.h"
#include "Platform/PlatSystem.h"
#include "Platform/PlatUtf8.h"
#include "Platform/User/PlatDialogs.h"
#include "Platform/User/PlatUserHeadless.h"
#include "ZmLib/Application2/winApplication.h"
#include "ZmLib/Win32/winWndAPI.h"
#include "ZmLib/zmCommandLine.h"
#include "ZmLib/zmHookScope.h"
#include "ZmLib/zmTempFiles.h"
#include "tests/Oru/OruViewer/TestShows.h"
#include "tests/support/EnvGuard.h"
#include "tests/support/TempDir.h"
#include "tests/support/kit/ShowContainerWriter.h"

using namespace oru;
using zm::TRef;

namespace {

class TActionBoxes : public zm::TWndAPI {
 public:
  int MessageBox(zm::HWND, const WideString& text, const WideString& caption, zm::UINT) override {
    Boxes.push_back(plat::ToUtf8(caption) + "|" + plat::ToUtf8(text));
    return zm::IDOK;
  }
  std::vector<std::string> Boxes;
};

class TSpawnRecorder : public plat::IProcessSpawner {
 public:
  int Spawn(const plat::TSpawnRequest& request) override {
    Starts.push_back(request.Argv);
    return 0;
  }
  std::vector<std::vector<std::string>> Starts;
};

// Answers the start question the way it is told and records what it was
// shown: the caption and the lines of the list, joined by "|".
class TStartDriver : public plat::IDialogDriver {
 public:
  enum TAnswer { Start, DontStart, Enter, Escape };
  explicit TStartDriver(TAnswer answer) : answer_(answer) { plat::SetDialogDriver(this); }
  ~TStartDriver() override { plat::SetDialogDriver(nullptr); }
  void Drive(plat::HWND dialog) override {
    Captions.push_back(plat::ToUtf8(plat::WindowText(dialog)));
    std::string lines;
    for (int id = idStartCommand; plat::HWND line = plat::GetDlgItem(dialog, id); ++id) {
      std::u16string text = plat::WindowText(line);
      if (!text.empty() && text[0] == u'\u202D') text.erase(0, 1);  // laid out left to right
      lines += (lines.empty() ? "" : "|") + plat::ToUtf8(text);
    }
    Commands.push_back(lines);
    switch (answer_) {
      case Start: plat::PressDialogId(dialog, idStart); break;
      case DontStart: plat::PressDialogId(dialog, plat::IDCANCEL); break;
      case Enter:
      case Escape: {
        const plat::UINT key = answer_ == Enter ? plat::VK_RETURN : plat::VK_ESCAPE;
        plat::headless::Key(key, true);
        plat::headless::Key(key, false);
        break;
      }
    }
  }
  std::vector<std::string> Captions, Commands;

 private:
  TAnswer answer_;
};

// Records where the actions move the viewer.
class TRecordingForm : public TMainForm {
 public:
  using TMainForm::TMainForm;
  std::vector<std::pair<std::int32_t, bool>> Moves;

 protected:
  void MoveViewer(std::int32_t time, bool paused) override {
    Moves.emplace_back(time, paused);
    TMainForm::MoveViewer(time, paused);
  }
};

class Actions : public ::testing::Test {
 protected:
  void SetUp() override {
    api_.Set(&boxes_);
    savedSpawner_ = plat::SetProcessSpawner(&spawns_);
    commands_ = zm::MakeRef<zm::TCommandsStorage>();
    form_ = zm::MakeRef<TRecordingForm>(*commands_, nullptr);
  }
  void TearDown() override {
    form_ = nullptr;
    plat::SetProcessSpawner(savedSpawner_);
    api_.Restore();
    SetShowCache(WideString(), WideString());
    SetCurrentShow(nullptr);
  }
  std::string Native(const std::string& relative) const { return (dir_.Path() / relative).string(); }
  WideString Wide(const std::string& relative) const { return dir_.Wide(relative); }
  std::string LastBox() const { return boxes_.Boxes.empty() ? std::string() : boxes_.Boxes.back(); }
  void WriteContainer(const std::string& relative) {
    zmtest::TShowContainerWriter c;
    zmtest::TShowProjectWriter show;
    orutest::AddSlides(show);
    show.AddToContainer(c);
    c.WriteFile(Native(relative));
  }
  bool Run(std::uint8_t code, std::int32_t value, const WideString& text) {
    return form_->RunAction(MakeActionInfo(code, value, text));
  }

  zmtest::TTempDir dir_;
  TActionBoxes boxes_;
  TSpawnRecorder spawns_;
  zm::THookScope<zm::TWndAPI*> api_{zm::WndAPIClass};
  plat::IProcessSpawner* savedSpawner_ = nullptr;
  TRef<zm::TCommandsStorage> commands_;
  TRef<TRecordingForm> form_;
};

// The names in Folder once all of Wanted are there, polling for at most a
// generous while (a started program runs on its own).
std::set<std::string> NamesWhenMade(const std::filesystem::path& folder, const std::set<std::string>& wanted) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  std::set<std::string> names;
  for (;;) {
    names.clear();
    for (const auto& e : std::filesystem::directory_iterator(folder)) names.insert(e.path().filename().string());
    bool all = true;
    for (const std::string& w : wanted) all = all && names.count(w);
    if (all || std::chrono::steady_clock::now() > deadline) return names;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace

TEST(CommandCheck, RefusedWords) {
  for (const char16_t* refused : {u"C:\\WINDOWS\\SYSTEM32\\CMD.EXE /c dir", u"notepad.exe readme.txt > nul", u">",
                                  u"\"C:\\My Batch Files\\del.bat\" *.*", u"  @\tFORMAT c:", u"|del x",
                                  u"/usr/bin/sudo ls", u"rm -rf ~", u"mkfs.ext4 /dev/sda", u"/bin/Bash -c x"})
    EXPECT_FALSE(IsAllowedCommand(refused)) << plat::ToUtf8(refused);
  // Blanks inside quotes stay part of the word: "del tool" is not "del".
  for (const char16_t* allowed :
       {u"notepad.exe readme.txt", u"\"C:\\Program Files\\del tool\\run.exe\"", u"\"del files.exe\"", u"", u"delta",
        u"C:\\format\\viewer.exe", u"https://example.org/?a=del"})
    EXPECT_TRUE(IsAllowedCommand(allowed)) << plat::ToUtf8(allowed);
  EXPECT_EQ(CommandWord(u"\"C:\\My Batch Files\\del.bat\""), u"del");
  EXPECT_EQ(CommandWord(u"\"C:\\del tool\\x\""), u"x");
}

TEST(CommandCheck, PrefixesAndSplitting) {
  EXPECT_EQ(EnsurePrefix({u"http://", u"https://"}, u"HTTPS://Example.org"), u"HTTPS://Example.org");
  EXPECT_EQ(EnsurePrefix({u"http://", u"https://"}, u"www.example.org"), u"http://www.example.org");
  EXPECT_EQ(EnsurePrefix({u"mailto:"}, u"MailTo:a@b"), u"MailTo:a@b");
  EXPECT_EQ(EnsurePrefix({u"mailto:"}, u""), u"mailto:");
  EXPECT_EQ(SplitCommands(u" a.exe x , \"b,c.exe\" y,, "), (std::vector<WideString>{u"a.exe x", u"\"b,c.exe\" y"}));
  WideString file, params;
  SplitCommand(u"\"C:\\My Tools\\a.exe\"  -x \"b c\" ", file, params);
  EXPECT_EQ(file, u"\"C:\\My Tools\\a.exe\"");
  EXPECT_EQ(params, u"\"-x b c\"");
  SplitCommand(u"\"unterminated", file, params);
  EXPECT_EQ(file, u"\"unterminated\"");
  EXPECT_EQ(params, u"");
}

TEST_F(Actions, RefusedCommandStopsEveryCommand) {
  std::string tool = dir_.Write("tool.sh", "#!/bin/true\n");
  std::filesystem::permissions(tool, std::filesystem::perms::owner_exec, std::filesystem::perm_options::add);
  RunProgram(form_.get(), Wide("tool.sh") + u" a, format c:", Wide(""));
  EXPECT_TRUE(spawns_.Starts.empty());
  EXPECT_EQ(LastBox(), "|Command line contains prohibited command and will not be performed.");
  EXPECT_TRUE(Run(acRunApp, 0, u"echo x, \"C:\\Windows\\System32\\CMD.EXE\""));
  EXPECT_TRUE(spawns_.Starts.empty());
}

TEST_F(Actions, ProgramsLinksAndRetriesInTheFolder) {
  std::string tool = dir_.Write("my tools/tool.sh", "#!/bin/true\n");
  std::filesystem::permissions(tool, std::filesystem::perms::owner_exec, std::filesystem::perm_options::add);
  // Quoted in a folder with blanks; its parameters, quoted, are one.
  RunProgram(nullptr, u"\"" + Wide("my tools/tool.sh") + u"\" -x \"b c\"", WideString());
  // Not here by its name: found in the folder given.
  RunProgram(nullptr, u"tool.sh", Wide("my tools") + u"\\");
  // Several at once, and a missing one that starts nothing.
  RunProgram(nullptr, u"tool.sh, missing.sh", Wide("my tools"));
  ASSERT_EQ(spawns_.Starts.size(), 3u);
  EXPECT_EQ(spawns_.Starts[0], (std::vector<std::string>{tool, "-x b c"}));
  EXPECT_EQ(spawns_.Starts[1], (std::vector<std::string>{tool}));
  EXPECT_EQ(spawns_.Starts[2], (std::vector<std::string>{tool}));

  spawns_.Starts.clear();
  // Links the user asked for open without a question, where someone could
  // have answered one.
  TStartDriver someone(TStartDriver::DontStart);
  EXPECT_TRUE(Run(acOpenWebSite, 0, u"www.example.org"));
  EXPECT_TRUE(Run(acOpenWebSite, 0, u"HTTPS://example.org"));
  EXPECT_TRUE(Run(acWriteEmail, 0, u"me@example.org"));
  ASSERT_EQ(spawns_.Starts.size(), 3u);
  EXPECT_EQ(spawns_.Starts[0].back(), "http://www.example.org");
  EXPECT_EQ(spawns_.Starts[1].back(), "HTTPS://example.org");
  EXPECT_EQ(spawns_.Starts[2].back(), "mailto:me@example.org");
  EXPECT_TRUE(boxes_.Boxes.empty());
  EXPECT_TRUE(someone.Captions.empty());
  // Not carried out here.
  EXPECT_FALSE(Run(acHelp, 0, u""));
  EXPECT_FALSE(Run(acSaveSlide, 0, u""));
  EXPECT_FALSE(Run(200, 0, u""));
}

TEST_F(Actions, MovesKeyboardAndCursorOptions) {
  zmtest::TShowProjectWriter project(Native("proj"));
  orutest::AddSlides(project);
  project.Description().Section("main").Key("opt_hidecursor", 2).Key("opt_hc2_hideinterval", 0);
  project.Write();
  ASSERT_TRUE(form_->OpenShow(Wide("proj/Project.oru"), false, 0, true, false)) << LastBox();
  // Hiding after no time would hide the cursor for good: it stays.
  EXPECT_EQ(form_->MouseMonitor()->HideDelay(), 0);
  EXPECT_FALSE(form_->MouseMonitor()->Hidden());
  EXPECT_EQ(form_->Cursor(), 0);

  EXPECT_TRUE(Run(acGotoSlide, 0, u""));
  EXPECT_TRUE(Run(acGotoSlide, 3, u""));
  EXPECT_TRUE(Run(acGotoSlide, -1, u"no such slide"));
  EXPECT_TRUE(Run(acStop, 0, u""));
  EXPECT_TRUE(Run(acSeek, -50, u""));
  // Keys: End goes to the last slide (the slide count); Shift+Right and P
  // alone do nothing.
  zm::WideChar ch = 0;
  form_->DoKey(zm::TKeyKind::Down, 35, ch, 0);
  form_->DoKey(zm::TKeyKind::Down, 39, ch, zm::ssShift);
  form_->DoKey(zm::TKeyKind::Down, 80, ch, 0);
  form_->DoKey(zm::TKeyKind::Up, 35, ch, 0);
  using TMove = std::pair<std::int32_t, bool>;
  EXPECT_EQ(form_->Moves, (std::vector<TMove>{{1, true}, {7000, true}, {1, true}, {0, true}, {0, true}, {7000, true}}));
  EXPECT_FALSE(form_->Closed());

  zmtest::TShowProjectWriter hidden(Native("hidden"));
  orutest::AddSlides(hidden);
  hidden.Description().Section("main").Key("opt_hidecursor", 2).Key("opt_hc2_hideinterval", 3);
  hidden.Write();
  ASSERT_TRUE(form_->OpenShow(Wide("hidden/Project.oru"), false, 0, true, false)) << LastBox();
  EXPECT_EQ(form_->MouseMonitor()->HideDelay(), 3000);
  EXPECT_TRUE(form_->MouseMonitor()->Hidden());
  EXPECT_EQ(form_->Cursor(), -1);
}

TEST_F(Actions, LinkedShowReturnsToTheLinkingSlide) {
  WriteContainer("a.orushow");
  WriteContainer("other shows/b.orushow");
  ASSERT_TRUE(form_->OpenShow(Wide("a.orushow"), true, 0, true, false)) << LastBox();
  // Named beside the linking show, with "/" and a start slide.
  EXPECT_TRUE(Run(acRunPresentationAndReturn, 0, u"\"other shows/b.orushow\" -slide 2"));
  EXPECT_EQ(form_->ShowPath(), Wide("other shows/b.orushow"));
  ASSERT_EQ(form_->RunStack().size(), 1u);
  EXPECT_EQ(form_->RunStack()[0], u"\"" + Wide("a.orushow") + u"\" -slide 1");

  // Closing it opens the linking show again, and only then the player ends.
  EXPECT_TRUE(Run(acExit, 0, u""));
  EXPECT_FALSE(form_->Closed());
  EXPECT_EQ(form_->ShowPath(), Wide("a.orushow"));
  EXPECT_TRUE(form_->RunStack().empty());
  EXPECT_TRUE(boxes_.Boxes.empty()) << LastBox();
  EXPECT_TRUE(Run(acExit, 0, u""));
  EXPECT_TRUE(form_->Closed());
}

// A show played from its project folder is returned to as a project, by the
// path it was opened with, at the slide that linked away; so is a project
// that names its build file.
TEST_F(Actions, LinkedShowReturnsToAProjectFolder) {
  for (const std::string name : {"plain", "built"}) {
    SCOPED_TRACE(name);
    const std::string folder = "show " + name;
    zmtest::TShowProjectWriter project(Native(folder));
    orutest::AddSlides(project);
    if (name == "built") project.Description().Section("main").Key("opt_exefn", "C:\\Shows\\Built.exe");
    project.Write();
    WriteContainer(folder + "/b.orushow");
    ASSERT_TRUE(form_->OpenShow(Wide(folder + "/Project.oru"), false, 0, true, false)) << LastBox();
    EXPECT_TRUE(Run(acRunPresentationAndReturn, 0, u"b.orushow"));
    EXPECT_EQ(form_->ShowPath(), Wide(folder + "/b.orushow"));
    ASSERT_EQ(form_->RunStack().size(), 1u);
    EXPECT_EQ(form_->RunStack()[0], u"\"" + Wide(folder + "/Project.oru") + u"\" -slide 1");
    // Closing it plays the project again, and only then the player ends.
    EXPECT_TRUE(Run(acExit, 0, u""));
    EXPECT_FALSE(form_->Closed());
    EXPECT_TRUE(form_->RunStack().empty());
    EXPECT_TRUE(boxes_.Boxes.empty()) << LastBox();
    ASSERT_NE(form_->Show(), nullptr);
    EXPECT_EQ(form_->Show()->Description()->ReadString(u"Main", u"opt_exefn", WideString()).empty(), name == "plain");
  }
  EXPECT_TRUE(Run(acExit, 0, u""));
  EXPECT_TRUE(form_->Closed());
}

TEST_F(Actions, FailedLinksAreReported) {
  WriteContainer("a.orushow");
  dir_.Write("plain.txt", "not a show");
  ASSERT_TRUE(form_->OpenShow(Wide("a.orushow"), true, 0, true, false)) << LastBox();
  EXPECT_FALSE(Run(acRunPresentation, 0, u"missing.orushow"));
  // Paths as the system writes them.
  EXPECT_EQ(LastBox(), "Slideshow Error|OruShow File not Found:\r" + (dir_.Path() / "missing.orushow").string());
  EXPECT_FALSE(Run(acRunPresentationAndReturn, 0, u"plain.txt"));
  EXPECT_EQ(LastBox(),
            "Slideshow Error|Not OruShow Executable File or File Corrupted:\r" + (dir_.Path() / "plain.txt").string());
  EXPECT_FALSE(Run(acRunPresentation, 0, u""));
  // The show that linked plays on.
  EXPECT_EQ(form_->ShowPath(), Wide("a.orushow"));
  EXPECT_TRUE(form_->RunStack().empty());
  EXPECT_FALSE(form_->Closed());
}

TEST_F(Actions, FailedOpenOfAShowWithoutWayBackClosesThePlayer) {
  // The build file of the open project stands for the project, which is gone.
  zmtest::TShowProjectWriter project(Native("proj"));
  orutest::AddSlides(project);
  project.Description().Section("main").Key("opt_exefn", "C:\\Shows\\Built.exe");
  project.Write();
  ASSERT_TRUE(form_->OpenShow(Wide("proj/Project.oru"), false, 0, true, false)) << LastBox();
  std::filesystem::remove_all(Native("proj"));
  EXPECT_FALSE(Run(acRunPresentation, 0, u"C:\\Shows\\Built.exe"));
  EXPECT_TRUE(form_->Closed());
}

TEST_F(Actions, ShowKeepsTheDisplayAwakeUntilExit) {
  WriteContainer("a.orushow");
  FiniOruScreenSaver();  // a fresh start: earlier shows of this process kept it off
  InitOruScreenSaver();
  ASSERT_TRUE(plat::ScreenSaverEnabled());
  ASSERT_TRUE(form_->OpenShow(Wide("a.orushow"), true, 0, true, false)) << LastBox();
  EXPECT_FALSE(plat::ScreenSaverEnabled());
  EXPECT_TRUE(KeepAwake);
  ASSERT_TRUE(form_->OpenShow(Wide("a.orushow"), true, 0, true, false)) << LastBox();
  EXPECT_FALSE(plat::ScreenSaverEnabled());
  // The program ends: the module lets the screen saver run again.
  FiniOruScreenSaver();
  EXPECT_TRUE(plat::ScreenSaverEnabled());
  EXPECT_FALSE(KeepAwake);
  EXPECT_EQ(DisableScreenSaverHook, nullptr);
  InitOruScreenSaver();
}

TEST(ScreenSaverModule, OneInstancePerProgramFile) {
  FiniOruScreenSaver();
  InitOruScreenSaver();
  ASSERT_NE(SecondInstanceHook, nullptr);
  const WideString saver = u"\\opt\\shows\\Saver.scr";
  // Named by the hashes of the program's path, folder and name, and the name.
  EXPECT_EQ(InstanceMutexName(saver), u"Instance_ID207126466171958419214237218Saver.scr");
  plat::TInstanceLock running;
  ASSERT_TRUE(running.Open(plat::NativePath(zm::GetTempRoot()), plat::ToUtf8(InstanceMutexName(saver))));
  OpenInstanceLock(saver);
  EXPECT_TRUE(SecondInstanceHook());
  // A copy under another name or in another folder has its own.
  OpenInstanceLock(u"\\opt\\shows\\Saver2.scr");
  EXPECT_FALSE(SecondInstanceHook());
  OpenInstanceLock(u"\\opt\\other\\Saver.scr");
  EXPECT_FALSE(SecondInstanceHook());
  // The first one ended: the next one is the first.
  OpenInstanceLock(saver);
  running.Close();
  EXPECT_FALSE(SecondInstanceHook());
  EXPECT_FALSE(ScreenSaverRunningHook() && ScreenSaverRunningHook());  // once only
  EXPECT_TRUE(ScreenSaverMode);
  EXPECT_FALSE(DisableScreenSaverHook());  // a saver does not keep the display on
  const std::string lockFile = running.FilePath();
  FiniOruScreenSaver();
  InitOruScreenSaver();
  // Every instance removes its lock file when it ends.
  EXPECT_FALSE(std::filesystem::exists(lockFile));
}

TEST_F(Actions, ScreenSaverShowEndsOnAnyInput) {
  zmtest::TShowProjectWriter project(Native("saver"));
  orutest::AddSlides(project);
  project.Description().Section("main").Key("opt_ssaver", 1);
  project.Write();
  plat::TManualClock clock(100000);  // well after the form was made
  ASSERT_TRUE(form_->OpenShow(Wide("saver/Project.oru"), false, 0, true, false)) << LastBox();
  form_->DoMouse(zm::TMouseKind::Move, {100, 100}, 0, 0);
  form_->DoMouse(zm::TMouseKind::Move, {104, 106}, 0, 0);  // 10 pixels: a trembling hand
  EXPECT_FALSE(form_->Closed());
  form_->DoMouse(zm::TMouseKind::Move, {111, 100}, 0, 0);
  EXPECT_TRUE(form_->Closed());

  TRef<TRecordingForm> keyed = zm::MakeRef<TRecordingForm>(*commands_, nullptr);
  ASSERT_TRUE(keyed->OpenShow(Wide("saver/Project.oru"), false, 0, true, false)) << LastBox();
  zm::WideChar ch = 0;
  keyed->DoKey(zm::TKeyKind::Down, 'A', ch, zm::ssShift);
  EXPECT_TRUE(keyed->Closed());
}

TEST_F(Actions, ProgramReallyStartedGetsItsArgumentsUnparsed) {
  std::string touch;
  for (const char* t : {"/usr/bin/touch", "/bin/touch"})
    if (std::filesystem::is_regular_file(t)) touch = t;
  if (touch.empty()) GTEST_SKIP() << "no touch here";
  plat::SetProcessSpawner(nullptr);  // the real one
  const std::string d = dir_.Path().string();
  ASSERT_EQ(d.find_first_of(" \","), std::string::npos);
  std::filesystem::create_directory(dir_.Path() / "sub");
  const WideString at = plat::FromUtf8(d + "/");
  const WideString t = plat::FromUtf8(touch);
  // Unquoted parameters are split at blanks; quoted ones are one argument
  // together; a comma outside quotes starts another program. (Arguments
  // that carry a command, as "$(id)", are refused whatever the program.)
  RunProgram(form_.get(),
             t + u" " + at + u"semi;colon " + at + u"$id " + at + u"~id " + at + u"p|q " + at + u"..dots " + at +
                 u"sub/../up&, " + t + u" \"" + at + u"a b\", \"" + t + u"\" " + at + u"it's",
             WideString());
  const std::set<std::string> wanted{"semi;colon", "$id", "~id", "p|q", "..dots", "sub", "up&", "a b", "it's"};
  EXPECT_EQ(NamesWhenMade(dir_.Path(), wanted), wanted);
  EXPECT_TRUE(boxes_.Boxes.empty()) << LastBox();
}

TEST_F(Actions, HostileProgramAndLinkTexts) {
  TStartDriver yes(TStartDriver::Start);  // what passes the checks starts
  const std::string tool = dir_.Write("a/tool.sh", "#!/bin/true\n");
  std::filesystem::permissions(tool, std::filesystem::perms::owner_exec, std::filesystem::perm_options::add);
  dir_.Write("a/b/other.txt", "x");
  const auto canonical = [](const std::string& p) { return std::filesystem::weakly_canonical(p).string(); };

  // ".." is a path like any other: the program beside the folder is found.
  RunProgram(nullptr, u"..\\tool.sh", Wide("a/b"));
  ASSERT_EQ(spawns_.Starts.size(), 1u);
  EXPECT_EQ(canonical(spawns_.Starts[0][0]), canonical(tool));
  // Shell syntax is plain text: ";" ends no command, "|" pipes nothing.
  spawns_.Starts.clear();
  RunProgram(nullptr, u"tool.sh x;rm -rf ~ a|cat $id && y", Wide("a"));
  RunProgram(nullptr, u"tool.sh; rm -rf ~", Wide("a"));  // "tool.sh;" is no file
  ASSERT_EQ(spawns_.Starts.size(), 1u);
  EXPECT_EQ(spawns_.Starts[0], (std::vector<std::string>{tool, "x;rm", "-rf", "~", "a|cat", "$id", "&&", "y"}));
  EXPECT_TRUE(boxes_.Boxes.empty()) << LastBox();

  // Refused words hide behind neither folders, "..", quotes nor case.
  spawns_.Starts.clear();
  for (const char16_t* refused :
       {u"..\\..\\..\\..\\bin\\rm -rf ~", u"\"/bin/s\"\"h\" -c id", u"/usr/bin/ENV sh", u"tool.sh a > /etc/x",
        u"tool.sh a, ../../bin/dash -c id", u"\"C:\\Program Files\\..\\Windows\\cmd.exe\" /c del *"}) {
    boxes_.Boxes.clear();
    EXPECT_TRUE(Run(acRunApp, 0, refused));
    EXPECT_EQ(boxes_.Boxes.size(), 1u) << plat::ToUtf8(refused);
  }
  // Nor do commands hide in the arguments of a program that passes.
  for (const char16_t* carrying : {u" x $(id)", u" `id`", u" | cat", u" x${IFS}y"}) {
    boxes_.Boxes.clear();
    EXPECT_TRUE(Run(acRunApp, 0, plat::FromUtf8(tool) + carrying));
    EXPECT_EQ(boxes_.Boxes.size(), 1u) << plat::ToUtf8(carrying);
  }
  EXPECT_TRUE(spawns_.Starts.empty());
  boxes_.Boxes.clear();

  // Programs that are not there: the retries find nothing, nothing starts.
  for (const char16_t* missing : {u"no-such-program.exe -x", u"\"C:\\Program Files\\Nope\\nope.exe\"", u"\"\"",
                                  u"\"", u",,,", u"\"unterminated \"x", u"..\\..\\..\\..\\..\\..\\..\\nope"})
    EXPECT_TRUE(Run(acRunApp, 0, missing)) << plat::ToUtf8(missing);
  EXPECT_TRUE(spawns_.Starts.empty());
  EXPECT_TRUE(boxes_.Boxes.empty()) << LastBox();

  // 100 KB texts: a name, commas, quotes, a parameter and a link.
  const WideString big(100 * 1024, u'a'), commas(100 * 1024, u','), quotes(100 * 1024, u'"');
  EXPECT_TRUE(Run(acRunApp, 0, big));
  EXPECT_TRUE(Run(acRunApp, 0, commas));
  EXPECT_TRUE(Run(acRunApp, 0, quotes));
  EXPECT_TRUE(spawns_.Starts.empty());
  RunProgram(nullptr, u"tool.sh " + big, Wide("a"));
  EXPECT_TRUE(Run(acOpenWebSite, 0, big));
  ASSERT_EQ(spawns_.Starts.size(), 2u);
  EXPECT_EQ(spawns_.Starts[0], (std::vector<std::string>{tool, plat::ToUtf8(big)}));
  EXPECT_EQ(spawns_.Starts[1].back(), "http://" + plat::ToUtf8(big));
  EXPECT_TRUE(Run(acRunApp, 0, big + u">"));
  EXPECT_EQ(spawns_.Starts.size(), 2u);
  EXPECT_EQ(boxes_.Boxes.size(), 1u);
  boxes_.Boxes.clear();

  // Unknown schemes: a web site or mail link stays one; a program text that
  // is a link goes whole to the desktop's opener, parameters dropped.
  spawns_.Starts.clear();
  EXPECT_TRUE(Run(acOpenWebSite, 0, u"foo:bar"));
  EXPECT_TRUE(Run(acOpenWebSite, 0, u"javascript:alert(1)"));
  EXPECT_TRUE(Run(acWriteEmail, 0, u"javascript:alert(1)"));
  EXPECT_TRUE(Run(acRunApp, 0, u"foo:bar"));
  EXPECT_TRUE(Run(acRunApp, 0, u"javascript:alert(document.cookie) ;id"));
  using TArgs = std::vector<std::string>;
  EXPECT_EQ(spawns_.Starts, (std::vector<TArgs>{{"xdg-open", "http://foo:bar"},
                                                {"xdg-open", "http://javascript:alert(1)"},
                                                {"xdg-open", "mailto:javascript:alert(1)"},
                                                {"xdg-open", "foo:bar"},
                                                {"xdg-open", "javascript:alert(document.cookie)"}}));

  // A name with a NUL cannot pass for another: "sh" is not started as "sh.txt".
  spawns_.Starts.clear();
  WideString nul = u"/bin/sh";
  nul += u'\0';
  nul += u".txt -c id";
  EXPECT_TRUE(Run(acRunApp, 0, nul));
  EXPECT_TRUE(spawns_.Starts.empty());
  // Run and exit with a program that is not there: the player still ends.
  EXPECT_TRUE(Run(acRunAppAndExit, 0, u"no-such-program.exe"));
  EXPECT_TRUE(spawns_.Starts.empty());
  EXPECT_TRUE(form_->Closed());
}

TEST_F(Actions, ProgramsAndOtherLinksStartOnlyAfterTheUsersYesWhichHoldsForTheShow) {
  const std::string tool = dir_.Write("tool.sh", "#!/bin/true\n");
  std::filesystem::permissions(tool, std::filesystem::perms::owner_exec, std::filesystem::perm_options::add);
  zmtest::TShowProjectWriter project(Native("proj"));
  orutest::AddSlides(project);
  project.Write();
  const WideString command = Wide("tool.sh") + u" -x";
  {
    // Don't start: asked for each command line, showing exactly what would
    // run (the program's path, each argument in quotes); web and mail links
    // still open.
    TStartDriver no(TStartDriver::DontStart);
    ASSERT_TRUE(form_->OpenShow(Wide("proj/Project.oru"), false, 0, true, false)) << LastBox();
    EXPECT_TRUE(Run(acRunApp, 0, command));
    EXPECT_TRUE(Run(acRunApp, 0, u"file:///etc/passwd"));
    EXPECT_TRUE(Run(acRunApp, 0, u"smb://host/share"));
    EXPECT_TRUE(Run(acOpenWebSite, 0, u"example.org"));
    EXPECT_TRUE(Run(acWriteEmail, 0, u"me@example.org"));
    EXPECT_TRUE(Run(acRunApp, 0, u"HTTPS://example.org/x"));
    EXPECT_EQ(no.Captions, (std::vector<std::string>{"Slideshow", "Slideshow", "Slideshow"}));
    EXPECT_EQ(no.Commands, (std::vector<std::string>{std::filesystem::canonical(tool).string() + " \"-x\"",
                                                     "file:///etc/passwd", "smb://host/share"}));
    // The answer holds for the command it was given for: not asked again.
    EXPECT_TRUE(Run(acRunApp, 0, command));
    EXPECT_EQ(no.Captions.size(), 3u);
    using TArgs = std::vector<std::string>;
    EXPECT_EQ(spawns_.Starts, (std::vector<TArgs>{{"xdg-open", "http://example.org"},
                                                  {"xdg-open", "mailto:me@example.org"},
                                                  {"xdg-open", "HTTPS://example.org/x"}}));
    // A refused command is refused before any question.
    EXPECT_TRUE(Run(acRunApp, 0, u"/usr/bin/timeout 9 /bin/bash -c id"));
    EXPECT_EQ(no.Captions.size(), 3u);
    EXPECT_EQ(LastBox(), "|Command line contains prohibited command and will not be performed.");
  }
  spawns_.Starts.clear();
  {
    // The same show opened again asks again; Start holds for that command
    // line only.
    TStartDriver yes(TStartDriver::Start);
    ASSERT_TRUE(form_->OpenShow(Wide("proj/Project.oru"), false, 0, true, false)) << LastBox();
    EXPECT_TRUE(Run(acRunApp, 0, u"/usr/bin/timeout 9 /bin/bash -c id"));  // still refused, not asked
    EXPECT_TRUE(yes.Captions.empty());
    EXPECT_TRUE(Run(acRunApp, 0, command));
    EXPECT_TRUE(Run(acRunApp, 0, u"file:///etc/passwd"));
    EXPECT_TRUE(Run(acRunApp, 0, command));
    EXPECT_EQ(yes.Captions.size(), 2u);
    ASSERT_EQ(spawns_.Starts.size(), 3u);
    EXPECT_EQ(spawns_.Starts[0], (std::vector<std::string>{tool, "-x"}));
    EXPECT_EQ(spawns_.Starts[1], (std::vector<std::string>{"xdg-open", "file:///etc/passwd"}));
    EXPECT_EQ(spawns_.Starts[2], spawns_.Starts[0]);
  }
  spawns_.Starts.clear();
  // Enter and Escape are Don't start, as is a dialog nobody answers
  // (headless); run and exit still exits.
  for (auto answer : {TStartDriver::Enter, TStartDriver::Escape}) {
    TStartDriver keys(answer);
    ASSERT_TRUE(form_->OpenShow(Wide("proj/Project.oru"), false, 0, true, false)) << LastBox();
    EXPECT_TRUE(Run(acRunApp, 0, command));
    EXPECT_EQ(keys.Captions.size(), 1u);
  }
  ASSERT_TRUE(form_->OpenShow(Wide("proj/Project.oru"), false, 0, true, false)) << LastBox();
  EXPECT_TRUE(Run(acRunAppAndExit, 0, command));
  EXPECT_TRUE(form_->Closed());
  EXPECT_TRUE(spawns_.Starts.empty());
}

// The form looks at the show it opened: a project whose folder holds a
// library starts nothing of its own, its commands refused before any
// question; a container beside no code asks as before.
TEST_F(Actions, AShowThatCarriesCodeIsRefusedWhatItAsks) {
  const std::string tool = dir_.Write("tool.sh", "#!/bin/true\n");
  std::filesystem::permissions(tool, std::filesystem::perms::owner_exec, std::filesystem::perm_options::add);
  zmtest::TShowProjectWriter project(Native("proj"));
  orutest::AddSlides(project);
  project.Write();
  dir_.Write("proj/effects/fx.so", std::string("\x7F" "ELF\x02\x01\x01\x00", 8));
  WriteContainer("packed/show.orushow");
  TStartDriver no(TStartDriver::DontStart);
  ASSERT_TRUE(form_->OpenShow(Wide("proj/Project.oru"), false, 0, true, false)) << LastBox();
  EXPECT_TRUE(Run(acRunApp, 0, Wide("tool.sh") + u" -x"));
  EXPECT_EQ(LastBox(), "|Command line contains prohibited command and will not be performed.");
  EXPECT_TRUE(no.Captions.empty());
  boxes_.Boxes.clear();
  ASSERT_TRUE(form_->OpenShow(Wide("packed/show.orushow"), true, 0, true, false)) << LastBox();
  EXPECT_TRUE(Run(acRunApp, 0, Wide("tool.sh") + u" -x"));
  EXPECT_EQ(no.Captions.size(), 1u);
  EXPECT_TRUE(boxes_.Boxes.empty());
  EXPECT_TRUE(spawns_.Starts.empty());
}

TEST(ScreenSaverModule, ASaverStartsNothingAndAsksNothing) {
  TSpawnRecorder spawns;
  plat::IProcessSpawner* saved = plat::SetProcessSpawner(&spawns);
  TStartDriver yes(TStartDriver::Start);
  ScreenSaverMode = true;
  TStartAnswers answers;
  EXPECT_FALSE(ShowMayStart(nullptr, answers, u"/usr/bin/touch x", WideString(), true));
  EXPECT_EQ(answers.Find(u"/usr/bin/touch x"), TStartAnswer::NotAsked);
  // Nobody is there to have clicked it: not even a web link opens.
  EXPECT_FALSE(ShowMayStart(nullptr, answers, u"https://example.org", WideString(), true));
  ScreenSaverMode = false;
  plat::SetProcessSpawner(saved);
  EXPECT_TRUE(yes.Captions.empty());
}

TEST(CommandCheck, WrappersAndInterpretersAreLookedThrough) {
  for (const char16_t* refused :
       {u"/usr/bin/find /home/me -delete", u"/usr/bin/timeout 9 /bin/bash -c \"rm -rf ~\"", u"python3 -c x",
        u"/usr/bin/python3.11 x.py", u"perl -e x", u"truncate -s 0 f", u"xargs -0 rm", u"nice -n 5 /bin/sh x",
        u"ionice -c3 \"/usr/bin/rm\" -rf x", u"stdbuf -o0 dd if=/dev/zero of=x", u"TIMEOUT 5 CMD.EXE"})
    EXPECT_FALSE(IsAllowedCommand(refused)) << plat::ToUtf8(refused);
  // A refused word after an ordinary program is only its argument.
  for (const char16_t* allowed : {u"timeout 9 /opt/viewer/run", u"nice viewer --rm", u"/opt/show/rm-tool.exe",
                                  u"viewer.exe python3 find", u"xargs"})
    EXPECT_TRUE(IsAllowedCommand(allowed)) << plat::ToUtf8(allowed);
  EXPECT_TRUE(NeedsStartAnswer(u"file:///etc/passwd"));
  EXPECT_TRUE(NeedsStartAnswer(u"http:"));
  EXPECT_TRUE(NeedsStartAnswer(u"/usr/bin/http:x"));
  EXPECT_FALSE(NeedsStartAnswer(u"\"Https://example.org\" x"));
  EXPECT_FALSE(NeedsStartAnswer(u"MAILTO:me@example.org"));
}

TEST_F(Actions, WheelStepsSlidesWithCtrlAndTimeOtherwise) {
  zmtest::TShowProjectWriter locked(Native("locked"));
  orutest::AddSlides(locked);
  locked.Description().Section("main").Key("opt_lockwheel", 1);
  locked.Write();
  WriteContainer("w.orushow");
  // The engine exists only with an application; its reports are made here
  // on this thread, as the application's loop would deliver them. No sound
  // device: the system's sound library leaks when it finds no card.
  zmtest::TEnvGuard env;
  env.Set("ZM_AUDIO", "none");
  TRef<zm::TZmApplication> app = zm::MakeRef<zm::TZmApplication>();
  app->Initialize();
  {
    TRef<TRecordingForm> form = zm::MakeRef<TRecordingForm>(*commands_, nullptr);
    ASSERT_TRUE(form->OpenShow(Wide("w.orushow"), true, 0, true, false)) << LastBox();
    TOruShowViewer* viewer = form->Viewer();
    ASSERT_TRUE(viewer->Engine());
    const auto at = [&](std::int32_t time, bool paused) {
      viewer->Engine()->OnPosition(viewer->Engine(), time, false, 12000);
      viewer->SetPaused(paused);
      form->Moves.clear();
    };
    const auto wheel = [&](zm::TShiftState shift, int notches) {
      form->DoMouseWheel(shift, {10, 10}, notches);
      return form->Moves.empty() ? std::make_pair(-1, false) : form->Moves.back();
    };
    using TMove = std::pair<std::int32_t, bool>;
    // Slides end at 3000, 7000 and 12000; the later two fade in over 500 ms.
    // With Ctrl a notch down steps to the next slide: while paused past its
    // transition, while playing to its start. A notch up steps back.
    at(1000, true);
    EXPECT_EQ(wheel(zm::ssCtrl, -1), TMove(3500, true));
    at(1000, false);
    EXPECT_EQ(wheel(zm::ssCtrl, -1), TMove(3000, false));
    at(7600, true);
    EXPECT_EQ(wheel(zm::ssCtrl, 1), TMove(3500, true));
    at(11000, false);
    EXPECT_EQ(wheel(zm::ssCtrl, -5), TMove(12000, false));  // the end of a closing show, no further
    // Anything but Ctrl alone moves the time by 700 ms a notch, back for up.
    at(7600, false);
    EXPECT_EQ(wheel(0, 2), TMove(6200, false));
    EXPECT_EQ(wheel(zm::ssCtrl | zm::ssShift, -3), TMove(9700, false));
    EXPECT_EQ(wheel(zm::ssCtrl | zm::ssLeft, 1), TMove(6900, false));
    at(7600, true);
    EXPECT_EQ(wheel(zm::ssAlt, -1), TMove(8300, true));
    // Before the start and far past any time: held in range.
    EXPECT_EQ(wheel(0, 11), TMove(0, true));
    EXPECT_EQ(wheel(0, std::numeric_limits<int>::max()), TMove(0, true));
    EXPECT_EQ(wheel(0, std::numeric_limits<int>::min()), TMove(std::numeric_limits<std::int32_t>::max(), true));
    EXPECT_EQ(wheel(zm::ssCtrl, std::numeric_limits<int>::min()), TMove(12000, true));

    // A show that locks the wheel is not moved by it.
    ASSERT_TRUE(form->OpenShow(Wide("locked/Project.oru"), false, 0, true, false)) << LastBox();
    ASSERT_TRUE(form->Viewer()->Engine());
    form->Moves.clear();
    form->DoMouseWheel(0, {10, 10}, 1);
    form->DoMouseWheel(zm::ssCtrl, {10, 10}, -1);
    EXPECT_TRUE(form->Moves.empty());
    form = nullptr;
  }
  if (!app->Finalized()) app->Finalize();
  app = nullptr;
}
