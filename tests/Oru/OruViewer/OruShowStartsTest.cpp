// What a show may start: the program that would really run is checked, the
// question lists every command whole and holds for one command line only,
// links a show opens on its own are asked for, a few links open at once,
// mail links attach nothing, and a link never turns into a file.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "Oru/OruViewer/OruRunProgram.h"
#include "Platform/PlatProcess.h"
#include "Platform/PlatUtf8.h"
#include "Platform/User/PlatDialogs.h"
#include "Platform/User/PlatUser.h"
#include "ZmLib/Win32/winWndAPI.h"
#include "ZmLib/zmHookScope.h"
#include "tests/Oru/OruViewer/InProcessPlayer.h"
#include "tests/support/EnvGuard.h"
#include "tests/support/TempDir.h"
#include "tests/support/kit/ShowBuilder.h"

using namespace oru;

namespace {

using TArgs = std::vector<std::string>;

// Records every start; makes it too when Forward is set, else answers Error.
class TWatchedSpawner : public plat::IProcessSpawner {
public:
  TWatchedSpawner() : saved_(plat::SetProcessSpawner(this)) {}
  ~TWatchedSpawner() override { plat::SetProcessSpawner(saved_); }
  int Spawn(const std::string& program, const TArgs& argv, const std::string& dir, bool search) override {
    Starts.push_back(argv);
    return Forward ? plat::RealProcessSpawner()->Spawn(program, argv, dir, search) : Error;
  }
  std::vector<TArgs> Starts;
  bool Forward = false;
  int Error = 0;

private:
  plat::IProcessSpawner* saved_;
};

class TBoxCount : public zm::TWndAPI {
public:
  int MessageBox(zm::HWND, const WideString&, const WideString&, zm::UINT) override {
    ++Count;
    return zm::IDOK;
  }
  int Count = 0;
};

// Answers the questions in turn (Don't start once the list is used up) and
// keeps the commands each one listed (a line set in further is the rest of
// the command above it).
class TAnswers : public plat::IDialogDriver {
public:
  explicit TAnswers(std::vector<bool> starts) : starts_(std::move(starts)) { plat::SetDialogDriver(this); }
  ~TAnswers() override { plat::SetDialogDriver(nullptr); }
  void Drive(plat::HWND dialog) override {
    std::vector<std::string> commands;
    plat::RECT first{};
    for (int id = idStartCommand; plat::HWND line = plat::GetDlgItem(dialog, id); ++id) {
      plat::RECT r{};
      plat::GetWindowRect(line, &r);
      if (id == idStartCommand) first = r;
      if (r.left > first.left && !commands.empty()) commands.back() += plat::ToUtf8(plat::WindowText(line));
      else commands.push_back(plat::ToUtf8(plat::WindowText(line)));
    }
    Asked.push_back(commands);
    const bool start = Asked.size() <= starts_.size() && starts_[Asked.size() - 1];
    plat::PressDialogId(dialog, start ? idStart : plat::IDCANCEL);
  }
  std::vector<std::vector<std::string>> Asked;

private:
  std::vector<bool> starts_;
};

std::string Executable(const zmtest::TTempDir& dir, const std::string& relative, const std::string& text) {
  const std::string p = dir.Write(relative, text);
  std::filesystem::permissions(p, std::filesystem::perms::owner_exec, std::filesystem::perm_options::add);
  return p;
}

std::string Shown(const std::string& utf8) { return plat::ToUtf8(VisibleCommand(plat::FromUtf8(utf8))); }

std::vector<std::string> LinesOf(const std::filesystem::path& file) {
  std::vector<std::string> lines;
  std::ifstream in(file);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

// Polls for a started program's traces for at most a generous while: it
// runs on its own, after the start returned.
bool Eventually(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace

TEST(ShowStarts, TheProgramThatWouldRunIsChecked) {
  zmtest::TTempDir dir;
  const std::string shell = plat::FindProgram("sh", "");
  ASSERT_FALSE(shell.empty());
  const std::string tool = Executable(dir, "bin/tool.sh", "#!/bin/true\n");
  std::filesystem::create_symlink(shell, dir.Path() / "bin" / "viewer");
  for (const char* name :
       {"perl5.36.0", "tclsh8.6", "vim.basic", "ld-linux-x86-64.so.2", "python3.11", "RBASH", "xdg-open"})
    Executable(dir, std::string("bin/") + name, "#!/bin/true\n");
  Executable(dir, "path/rm", "#!/bin/true\n");
  dir.Write("start.desktop", "[Desktop Entry]\nExec=rm -rf ~\n");
  zmtest::TEnvGuard env("PATH", (dir.Path() / "path").c_str());
  const WideString bin = dir.Wide("bin") + u"\\";
  TWatchedSpawner spawns;
  TBoxCount boxes;
  zm::THookScope<zm::TWndAPI*> api(zm::WndAPIClass, &boxes);

  struct TCase {
    WideString Command, Folder;
  };
  // A shell under another name, behind a stray quote, found only by the
  // retry in the folder; interpreters by their versioned names, the loader;
  // programs that arguments name (by PATH, by path, after a "="); a
  // launcher opened as a document or by the desktop's opener.
  const std::vector<TCase> refused = {
      {bin + u"viewer -c id", {}},
      {u"\"" + bin + u"viewer\" x", {}},
      {bin + u"viewer\" -c touch${IFS}x", {}},
      {u"viewer -c id", dir.Wide("bin")},
      {bin + u"perl5.36.0 -e 1", {}},
      {bin + u"tclsh8.6", {}},
      {bin + u"vim.basic -es", {}},
      {bin + u"ld-linux-x86-64.so.2 " + plat::FromUtf8(tool), {}},
      {bin + u"python3.11 -c 1", {}},
      {bin + u"rbash", {}},
      {bin + u"tool.sh 9 rm -f x", {}},
      {bin + u"tool.sh \"" + plat::FromUtf8((dir.Path() / "bin" / "viewer").string()) + u"\"", {}},
      {bin + u"tool.sh --rsh=" + plat::FromUtf8((dir.Path() / "bin" / "viewer").string()), {}},
      {dir.Wide("start.desktop"), {}},
      {bin + u"xdg-open " + plat::FromUtf8((dir.Path() / "start.desktop").string()), {}},
  };
  for (const TCase& c : refused) {
    EXPECT_TRUE(StartsRefusedProgram(c.Command, c.Folder)) << plat::ToUtf8(c.Command);
    RunProgram(nullptr, u"/usr/bin/true, " + c.Command, c.Folder);
  }
  EXPECT_TRUE(spawns.Starts.empty());
  EXPECT_EQ(boxes.Count, int(refused.size()));

  // Words that are no program: plain text to the program started.
  for (const WideString& allowed : {bin + u"tool.sh readme.pdf", bin + u"tool.sh x;rm", bin + u"tool.sh rm.pdf",
                                    WideString(u"missing-program -c id"), WideString(u"http://example.org/rm")})
    EXPECT_FALSE(StartsRefusedProgram(allowed, {})) << plat::ToUtf8(allowed);
}

TEST(ShowStarts, TheQuestionShowsEveryCommandWhole) {
  EXPECT_EQ(VisibleCommand(u"a b\tc\r\n\x7f"), u"a\u2423b\u2409c\u240D\u240A\u2421");
  EXPECT_EQ(VisibleCommand(u"x\u202Ey\u00A0z\u200B"), u"x[U+202E]y[U+00A0]z[U+200B]");
  EXPECT_EQ(VisibleCommand(u"\U0001F600 \U000E0041"), u"\U0001F600\u2423[U+E0041]");
  EXPECT_EQ(VisibleCommand(WideString(1, char16_t(0xD800)) + u"a"), u"[U+D800]a");

  // The blanks that pushed a second command out of sight: it has a line of
  // its own. Lines break after a blank or a "/", never inside a pair.
  const auto count = [](const WideString& s) { return int(s.size()); };
  const std::vector<WideString> commands =
      SplitCommands(u"/usr/bin/evince readme.pdf" + WideString(150, u' ') + u",/usr/bin/cmake -E rm -f FILE, " +
                    WideString(45, u'x') + u"\U0001F600y");
  const std::vector<TQuestionLine> lines = QuestionLines(commands, 20, count);
  std::vector<WideString> whole;
  for (const TQuestionLine& l : lines) {
    EXPECT_LE(l.Text.size(), 20u);
    EXPECT_FALSE(l.Text.empty());
    if (l.Continued) whole.back() += l.Text;
    else whole.push_back(l.Text);
  }
  ASSERT_EQ(whole.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(whole[i], VisibleCommand(commands[i]));
  EXPECT_EQ(lines[0].Text, u"/usr/bin/evince\u2423");
  EXPECT_EQ(lines[2].Text, u"/usr/bin/cmake\u2423-E\u2423");
  for (const TQuestionLine& l : lines) EXPECT_FALSE(l.Text.back() >= 0xD800 && l.Text.back() <= 0xDBFF);

  // A list longer than the screen holds is never asked: nothing starts.
  WideString many;
  for (int i = 0; i < 500; ++i) many += u"http://127.0.0.1:9/" + plat::FromUtf8(std::to_string(i)) + u",";
  TAnswers answers({true});
  EXPECT_FALSE(zm::MakeRef<TOruStartDialog>(many)->Whole());
  EXPECT_FALSE(AskToStart(nullptr, many));
  EXPECT_TRUE(answers.Asked.empty());
  zm::TRef<TOruStartDialog> two = zm::MakeRef<TOruStartDialog>(u"/usr/bin/true a, /usr/bin/true b");
  EXPECT_TRUE(two->Whole());
  EXPECT_EQ(two->LineCount(), 2);
}

TEST(ShowStarts, LinksOpenAFewAtATimeAttachNothingAndNeverRunAFile) {
  EXPECT_EQ(WithoutAttachments(
                u"mailto:victim@example.com?subject=hi&attach=/etc/shadow&attachment=file:///root/.ssh/id_rsa"),
            u"mailto:victim@example.com?subject=hi");
  EXPECT_EQ(WithoutAttachments(u"MAILTO:a@b?ATTACH=x&body=y&%61ttach=z& Attachment =w&attach"), u"MAILTO:a@b?body=y");
  EXPECT_EQ(WithoutAttachments(u"mailto:a@b?attach=x"), u"mailto:a@b");
  EXPECT_EQ(WithoutAttachments(u"https://x/?attach=1"), u"https://x/?attach=1");

  zmtest::TTempDir dir;
  TWatchedSpawner spawns;
  // Without the desktop's opener a link stays unopened: the file of its
  // name beside the program or in the folder is never run.
  spawns.Error = 2;  // ENOENT
  Executable(dir, "http:run", "#!/bin/true\n");
  RunProgram(nullptr, u"http:run", dir.Wide());
  RunProgram(nullptr, u"\"http:run\"", dir.Wide() + u"\\");
  EXPECT_EQ(spawns.Starts, (std::vector<TArgs>{{"xdg-open", "http:run"}, {"xdg-open", "http:run"}}));

  // One action opens three links at most; a mail link loses its attachments.
  spawns.Starts.clear();
  spawns.Error = 0;
  WideString links = u"mailto:a@b?attach=/etc/shadow&subject=x";
  for (int i = 0; i < 500; ++i) links += u",http://127.0.0.1:9/" + plat::FromUtf8(std::to_string(i));
  RunProgram(nullptr, links, dir.Wide());
  EXPECT_EQ(spawns.Starts, (std::vector<TArgs>{{"xdg-open", "mailto:a@b?subject=x"},
                                               {"xdg-open", "http://127.0.0.1:9/0"},
                                               {"xdg-open", "http://127.0.0.1:9/1"}}));
}

// A show plays in process with programs that leave files and a stand-in for
// the desktop's opener that notes each link; the questions are answered in
// turn. A Start holds for its command line only; a web link a slide opens
// on its own is asked for; Don't start, a refused command and links beyond
// three start nothing.
TEST(ShowStarts, APlayingShowAsksForEachCommandLine) {
  zmtest::TTempDir dir;
  const std::string opened = (dir.Path() / "opened").string();
  Executable(dir, "bin/xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + opened + "'\n");
  const std::string mark = Executable(dir, "bin/mark", "#!/bin/sh\n: > \"$1\"\n");
  zmtest::TEnvGuard env;
  env.Set("PATH", (dir.Path() / "bin").string() + ":" + (std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin"));
  env.Set("ZM_AUDIO", "none");
  const std::string a = (dir.Path() / "A").string(), b = (dir.Path() / "B").string();
  const std::string beacon = "http://127.0.0.1:9/beacon?from=show";
  const std::string mail =
      "mailto:victim@example.com?subject=hi&attach=/etc/shadow&attachment=file:///root/.ssh/id_rsa";
  std::string five;
  for (int i = 1; i <= 5; ++i) five += (i > 1 ? "," : "") + std::string("http://127.0.0.1:9/") + std::to_string(i);

  zmtest::TShowBuilder show((dir.Path() / "show").string());
  show.ScreenSize(160, 120).Main().Key("opt_scr_full", 0);
  show.Repeat("close").Main().Key("opt_runapponexit", 1).Key("opt_runapponexitfn", "https://example.org/end");
  const std::vector<std::string> runs = {mark + " " + a, mark + " " + b, mark + " " + a, beacon, mail, five,
                                         "/usr/bin/timeout\" 9 /bin/bash -c id"};
  for (std::size_t i = 0; i < runs.size(); ++i)
    show.AddSlide(1000 * (static_cast<long long>(i) + 1))
        .SolidBackground(40, 60, 200)
        .Transition("quick", 0)
        .RunApp(runs[i]);
  show.Write();

  TWatchedSpawner spawns;
  spawns.Forward = true;
  TAnswers answers({true, false, true, true, true, false});
  const orutest::TInProcessRun run = orutest::PlayInProcess(
      u"player -filename \"" + plat::FromUtf8((dir.Path() / "show" / "Project.oru").string()) + u"\"", 50,
      [](std::int64_t time, const std::uint32_t*, int, int) { return time > 60000; });
  ASSERT_TRUE(run.Started);

  // Asked: A, B (another command after a Start), not A again, the beacon,
  // the mail link, the five links (each on its line), the link at the end.
  std::vector<std::vector<std::string>> asked = {{Shown(mark + " " + a)}, {Shown(mark + " " + b)}, {beacon},
                                                 {Shown(mail)}};
  asked.push_back({});
  for (int i = 1; i <= 5; ++i) asked.back().push_back("http://127.0.0.1:9/" + std::to_string(i));
  asked.push_back({"https://example.org/end"});
  EXPECT_EQ(answers.Asked, asked);
  // The refused command was refused before any question.
  EXPECT_EQ(run.Boxes,
            std::vector<std::string>{": Command line contains prohibited command and will not be performed."});

  // A again: its Start holds.
  const std::vector<TArgs> started = {{mark, a},
                                      {mark, a},
                                      {"xdg-open", beacon},
                                      {"xdg-open", "mailto:victim@example.com?subject=hi"},
                                      {"xdg-open", "http://127.0.0.1:9/1"},
                                      {"xdg-open", "http://127.0.0.1:9/2"},
                                      {"xdg-open", "http://127.0.0.1:9/3"}};
  EXPECT_EQ(spawns.Starts, started);
  // What was started ran.
  EXPECT_TRUE(Eventually([&] { return std::filesystem::exists(a) && LinesOf(opened).size() >= 5; }));
  // The openers run side by side: their lines come in any order.
  std::vector<std::string> links = LinesOf(opened);
  std::sort(links.begin(), links.end());
  EXPECT_EQ(links, (std::vector<std::string>{"http://127.0.0.1:9/1", "http://127.0.0.1:9/2", "http://127.0.0.1:9/3",
                                             beacon, "mailto:victim@example.com?subject=hi"}));
  EXPECT_FALSE(std::filesystem::exists(b));
}
