// What a show may start: the program that would really run is checked
// against the refused categories, what the desktop's opener gets by its
// content; the question lists every command whole, so that two commands
// that differ never look the same, and holds for one command line only;
// links a show opens on its own are asked for, a few links open at once,
// mail links attach nothing, and a link never turns into a file.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Oru/OruViewer/OruRunProgram.h"
#include "Platform/Gdi/PlatFont.h"
#include "Platform/Gdi/PlatGdi.h"
#include "Platform/Gdi/PlatShape.h"
#include "Platform/PlatProcess.h"
#include "Platform/PlatSystem.h"
#include "Platform/PlatUtf8.h"
#include "Platform/User/PlatDialogs.h"
#include "Platform/User/PlatTermination.h"
#include "Platform/User/PlatUser.h"
#include "Platform/User/PlatUserHeadless.h"
#include "ZmLib/Win32/winWndAPI.h"
#include "ZmLib/zmHookScope.h"
#include "ZmLib/zmLog.h"
#include "tests/Oru/OruViewer/InProcessPlayer.h"
#include "tests/support/EnvGuard.h"
#include "tests/support/TempDir.h"
#include "tests/support/kit/ShowBuilder.h"
#include "tests/support/kit/PackedWriter.h"
#include "tests/support/kit/ShowContainerWriter.h"
#include "tests/Oru/OruViewer/TestShows.h"
#include "OruLib2/OruClasses/OruShowLoader.h"

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
      // Every line is laid out left to right: it begins with the override.
      std::u16string text = plat::WindowText(line);
      EXPECT_EQ(text.substr(0, 1), u"\u202D");
      text.erase(0, 1);
      if (r.left > first.left && !commands.empty()) commands.back() += plat::ToUtf8(text);
      else commands.push_back(plat::ToUtf8(text));
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

// A program and its arguments as the question lists them.
std::string Shown(const std::string& program, const std::vector<std::string>& args = {}) {
  std::string text = std::filesystem::canonical(program).string();
  for (const std::string& a : args) text += " \"" + a + "\"";
  return text;
}

// The pixels of the command lines of each question, answered Don't start.
class TQuestionPixels : public plat::IDialogDriver {
public:
  TQuestionPixels() { plat::SetDialogDriver(this); }
  ~TQuestionPixels() override { plat::SetDialogDriver(nullptr); }
  void Drive(plat::HWND dialog) override {
    plat::headless::PumpUntilIdle();
    for (int id = idStartCommand; plat::HWND line = plat::GetDlgItem(dialog, id); ++id) {
      int w = 0, h = 0;
      const std::vector<std::uint32_t> px = plat::headless::CaptureClient(line, w, h);
      Pixels.push_back(std::uint32_t(w));
      Pixels.insert(Pixels.end(), px.begin(), px.end());
    }
    plat::PressDialogId(dialog, plat::IDCANCEL);
  }
  std::vector<std::uint32_t> Of(const WideString& commandLine) {
    Pixels.clear();
    AskToStart(nullptr, commandLine);
    return Pixels;
  }
  std::vector<std::uint32_t> Pixels;
};

// Keeps the lines written to the log.
class TStartLog : public zm::TLog {
public:
  void WriteText(const WideString& line) override {
    std::lock_guard<std::mutex> l(lock_);
    Lines.push_back(plat::ToUtf8(line));
  }
  std::vector<std::string> Taken() {
    std::lock_guard<std::mutex> l(lock_);
    return std::exchange(Lines, {});
  }
  // The lines kept that begin so.
  std::vector<std::string> Beginning(const std::string& start) {
    std::lock_guard<std::mutex> l(lock_);
    std::vector<std::string> found;
    for (const std::string& line : Lines)
      if (line.rfind(start, 0) == 0) found.push_back(line);
    return found;
  }

private:
  std::mutex lock_;
  std::vector<std::string> Lines;
};

// Holds each question open while the show plays on (what comes meanwhile is
// handled) until the log has a line that begins with its Until; then
// answers as TAnswers does. After the last one, the user closes the show.
class THeldAnswers : public TAnswers {
public:
  THeldAnswers(std::vector<bool> starts, TStartLog& log, std::vector<std::string> until)
      : TAnswers(std::move(starts)), log_(log), until_(std::move(until)) {}
  void Drive(plat::HWND dialog) override {
    const std::size_t i = Asked.size();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (i < until_.size() && log_.Beginning(until_[i]).empty() && std::chrono::steady_clock::now() < deadline) {
      plat::MSG m{};
      if (plat::PeekMessageW(&m, nullptr, 0, 0, plat::PM_REMOVE)) plat::DispatchMessageW(&m);
      else plat::WaitMessageTimeout(100);
    }
    TAnswers::Drive(dialog);
    if (i + 1 == until_.size()) plat::PostMessageW(plat::GetParent(dialog), plat::WM_CLOSE, 0, 0);
  }

private:
  TStartLog& log_;
  std::vector<std::string> until_;
};

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
  std::vector<WideString> shown;
  for (const WideString& c : commands) shown.push_back(VisibleCommand(c));
  const std::vector<TQuestionLine> lines = QuestionLines(shown, 20, count);
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
  // A program that leaves a file (a script of a shell would be refused).
  const std::string mark = plat::FindProgram("touch", "");
  ASSERT_FALSE(mark.empty());
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
  // the mail link (as it opens: without attachments), the five links (each
  // on its line), the link at the end.
  std::vector<std::vector<std::string>> asked = {
      {Shown(mark, {a})}, {Shown(mark, {b})}, {beacon}, {"mailto:victim@example.com?subject=hi"}};
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

// A slide's command that comes while the question of an earlier one is still
// open is not asked about (the show goes on without it), and the log says
// so; the open question, answered once its slide is over, still starts what
// it listed, and the next command is asked as usual. A show that ends while
// a question waits stays, and the log says why; a Start given after the end
// still starts.
TEST(ShowStarts, AQuestionWaitsWhileTheShowGoesOn) {
  zmtest::TTempDir dir;
  const std::string mark = plat::FindProgram("touch", "");
  ASSERT_FALSE(mark.empty());
  zmtest::TEnvGuard env;
  env.Set("ZM_AUDIO", "none");
  const std::string a = (dir.Path() / "A").string(), b = (dir.Path() / "B").string(),
                    c = (dir.Path() / "C").string();
  zmtest::TShowBuilder show((dir.Path() / "show").string());
  show.ScreenSize(160, 120).Main().Key("opt_scr_full", 0);
  show.Repeat("close");
  const std::vector<std::string> runs = {mark + " " + a, mark + " " + b, mark + " " + c, ""};
  for (std::size_t i = 0; i < runs.size(); ++i) {
    auto& slide = show.AddSlide(1000 * (static_cast<long long>(i) + 1)).SolidBackground(40, 60, 200);
    slide.Transition("quick", 0);
    if (!runs[i].empty()) slide.RunApp(runs[i]);
  }
  show.Write();

  auto* log = new TStartLog;
  zm::SetLog(log);
  TWatchedSpawner spawns;
  const std::string notAsked = "Not asked (another question is open): " + mark + " " + b;
  THeldAnswers answers({true, true}, *log, {notAsked, "Not closed"});
  const orutest::TInProcessRun run = orutest::PlayInProcess(
      u"player -filename \"" + plat::FromUtf8((dir.Path() / "show" / "Project.oru").string()) + u"\"", 50,
      [](std::int64_t time, const std::uint32_t*, int, int) { return time > 60000; });
  ASSERT_TRUE(run.Started);
  EXPECT_EQ(answers.Asked, (std::vector<std::vector<std::string>>{{Shown(mark, {a})}, {Shown(mark, {c})}}));
  EXPECT_EQ(log->Beginning("Not asked"), std::vector<std::string>{notAsked});
  EXPECT_EQ(log->Beginning("Not closed"), std::vector<std::string>{"Not closed: a dialog is open"});
  EXPECT_EQ(spawns.Starts, (std::vector<TArgs>{{mark, a}, {mark, c}}));
  zm::SetLog(nullptr);
}

// The player's window closed while the question waits for its answer (in
// its first second too): the question is answered Don't start (a Start
// pressed after it starts nothing) and the player ends.
TEST(ShowStarts, ClosingTheWindowWhileTheQuestionWaitsAnswersDontStart) {
  zmtest::TTempDir dir;
  const std::string mark = plat::FindProgram("touch", "");
  ASSERT_FALSE(mark.empty());
  zmtest::TEnvGuard env;
  env.Set("ZM_AUDIO", "none");
  zmtest::TShowBuilder show((dir.Path() / "show").string());
  show.ScreenSize(160, 120).Main().Key("opt_scr_full", 0);
  show.Repeat("repeat");
  show.AddSlide(2000).SolidBackground(40, 60, 200).RunApp(mark + " " + (dir.Path() / "started").string());
  show.AddSlide(4000).SolidBackground(200, 60, 40);
  show.Write();

  class TClosingHand : public plat::IDialogDriver {
  public:
    TClosingHand() { plat::SetDialogDriver(this); }
    ~TClosingHand() override { plat::SetDialogDriver(nullptr); }
    void Drive(plat::HWND dialog) override {
      ++Asked;
      plat::headless::PumpUntilIdle();
      plat::SendMessageW(plat::GetParent(dialog), plat::WM_SYSCOMMAND, plat::SC_CLOSE, 0);
      plat::headless::PumpUntilIdle();
      // A Start that comes after the close.
      plat::EndDialog(dialog, idStart);
    }
    int Asked = 0;
  } hand;
  auto* log = new TStartLog;
  zm::SetLog(log);
  TWatchedSpawner spawns;
  std::int64_t last = 0;
  const orutest::TInProcessRun run = orutest::PlayInProcess(
      u"player -filename \"" + plat::FromUtf8((dir.Path() / "show" / "Project.oru").string()) + u"\"", 50,
      [&](std::int64_t time, const std::uint32_t*, int, int) {
        last = time;
        return time > 60000;
      });
  ASSERT_TRUE(run.Started);
  EXPECT_EQ(hand.Asked, 1);
  EXPECT_LT(last, 30000);
  EXPECT_TRUE(spawns.Starts.empty());
  EXPECT_EQ(log->Beginning("Start question").size(), 1u);
  EXPECT_NE(log->Beginning("Start question")[0].find(": Don't start"), std::string::npos);
  EXPECT_TRUE(log->Beginning("Not closed").empty());
  zm::SetLog(nullptr);
}

// Each pair is drawn by the question as the user sees it: a program whose
// name holds "␣" and a program with an argument; a literal "[U+200B]" and
// the character; folders of right-to-left letters and digits in either
// order (which bidirectional layout draws alike); Cyrillic letters in a
// Latin word; one argument holding a blank and two; the picture of a line
// end and the line end; a Cyrillic letter in the program's path. Then words
// wholly of look-alikes (Cyrillic, Greek, Hebrew, mathematical letters), a
// letter and its decomposed form, look-alike punctuation, a private-use
// character and an unassigned one, characters the font has no glyph for,
// characters the font draws alike, and links whose hosts look alike.
TEST(ShowStarts, TwoCommandsThatDifferNeverLookTheSame) {
  zmtest::TTempDir dir;
  Executable(dir, "eog", "#!/bin/true\n");
  Executable(dir, "eog\u2423holiday.jpg", "#!/bin/true\n");
  Executable(dir, "\u0435og", "#!/bin/true\n");
  const WideString eog = plat::FromUtf8((dir.Path() / "eog").string());
  const WideString cyrillicEog = plat::FromUtf8((dir.Path() / "\u0435og").string());
  const std::vector<std::pair<WideString, WideString>> pairs = {
      {eog + u"\u2423holiday.jpg", eog + u" holiday.jpg"},
      {eog + u" [U+200B]", eog + u" \u200B"},
      {eog + u" /tmp/t/\u05D0\u05D1/12/PWN", eog + u" /tmp/t/12/\u05D0\u05D1/PWN"},
      {eog + u" /tmp/t/\u05D0\u05D1/\u05D2\u05D3/../../PWN", eog + u" /tmp/t/\u05D2\u05D3/\u05D0\u05D1/../../PWN"},
      {eog + u" PWN-\u0430\u0435", eog + u" PWN-ae"},
      {eog + u" \"a b\"", eog + u" a b"},
      {eog + u" \"a\u240Ab\"", eog + u" \"a\nb\""},
      {cyrillicEog + u" x", eog + u" x"},
      {eog + u" " + dir.Wide("ape"), eog + u" " + dir.Wide("\u0430\u0440\u0435")},
      {eog + u" ABE", eog + u" \u0391\u0392\u0395"},
      {eog + u" caf\u00E9", eog + u" cafe\u0301"},
      {eog + u" /tmp/a/b", eog + u" /tmp/a\u2215b"},
      {eog + u" --x", eog + u" \u2010\u2010x"},
      {eog + u" \uE000", eog + u" \u0378"},
      {eog + u" apple", eog + u" \U0001D5BA\U0001D5C9\U0001D5C9\U0001D5C5\U0001D5BE"},
      {eog + u" o", eog + u" \u03BF"},
      {eog + u" l", eog + u" \u05D5"},
      {eog + u" \u4E2D\u6587", eog + u" \u65E5\u672C"},
      {eog + u" Q", eog + u" \u051A"},
      {eog + u" \u0427", eog + u" \uA78D"},
      {u"https://apple.com/", u"https://\u0430\u0440\u0440\u04CF\u0435.com/"},
      {u"https://xn--80ak6aa92e.com/", u"https://\u0430\u0440\u0440\u04CF\u0435.com/"},
      {u"https://apple.com/caf\u00E9", u"https://apple.com/cafe\u0301"},
  };
  TQuestionPixels question;
  const std::vector<std::uint32_t> once = question.Of(pairs[0].second);
  ASSERT_FALSE(once.empty());
  EXPECT_EQ(question.Of(pairs[0].second), once);  // the same command looks the same
  for (const auto& [a, b] : pairs) {
    const std::vector<std::uint32_t> first = question.Of(a), second = question.Of(b);
    ASSERT_FALSE(first.empty()) << plat::ToUtf8(a);
    ASSERT_FALSE(second.empty()) << plat::ToUtf8(b);
    EXPECT_NE(first, second) << plat::ToUtf8(a) << " | " << plat::ToUtf8(b);
  }
}

TEST(ShowStarts, TheQuestionNamesWhatWouldRunAndTheLogWritesWhatItShows) {
  zmtest::TTempDir dir;
  const std::string eog = std::filesystem::canonical(Executable(dir, "real/eog", "#!/bin/true\n")).string();
  std::filesystem::create_directories(dir.Path() / "bin");
  std::filesystem::create_symlink(eog, dir.Path() / "bin" / "viewer");
  Executable(dir, "bin/\u00E9og", "#!/bin/true\n");
  const std::string picture = dir.Write("pictures/holiday.jpg", "\xFF\xD8\xFF\xE0");
  const std::string bin = std::filesystem::canonical(dir.Path() / "bin").string();
  const auto text = [](const std::string& utf8) { return plat::ToUtf8(QuestionText(plat::FromUtf8(utf8), {})); };

  // The program by the path that runs; each argument in its quotes, marks
  // and invisible characters as code points; letters as they are where they
  // cannot be misread, look-alikes (Cyrillic о, п ..., the katakana タ,
  // Hebrew ב, which the question's font draws nearly as כ) and what that
  // font has no glyph for (Han) as code points.
  EXPECT_EQ(text(bin + "/viewer [x] \u2423 \u200B PWN-\u0430\u0435 \u05D0\u05D1 \u6771\u4EAC\u30BF\u30EF\u30FC "
                       "\u043E\u0442\u043F\u0443\u0441\u043A.jpg"),
            eog + " \"[U+005B]x]\" \"[U+2423]\" \"[U+200B]\" \"PWN-[U+0430][U+0435]\" \"\u05D0[U+05D1]\" "
                  "\"[U+6771][U+4EAC][U+30BF][U+30EF][U+30FC]\" \"[U+043E][U+0442][U+043F][U+0443][U+0441][U+043A].jpg\"");
  // A quote makes the parameters one argument, as the start passes them.
  EXPECT_EQ(text(bin + "/viewer -x \"b c\""), eog + " \"-x\u2423b\u2423c\"");
  EXPECT_EQ(text(bin + "/\u00E9og"), bin + "/[U+00E9]og");
  EXPECT_EQ(text(picture), picture);
  EXPECT_EQ(text("mailto:a@b?attach=/etc/shadow&subject=x"), "mailto:a@b?subject=x");
  EXPECT_EQ(text(bin + "/nothing x"), "");

  // Not found: not asked, but logged; a found command beside it is asked
  // for alone. The log writes what the question showed.
  auto* log = new TStartLog;
  zm::SetLog(log);
  TAnswers answers({});
  TStartAnswers show;
  EXPECT_FALSE(ShowMayStart(nullptr, show, u"/usr/bin/touch\u2423/tmp/PWN", {}, true));
  EXPECT_TRUE(answers.Asked.empty());
  EXPECT_EQ(log->Taken(), std::vector<std::string>{"Not started (not found): /usr/bin/touch[U+2423]/tmp/PWN"});
  const std::string line = "/usr/bin/touch\u2423/tmp/PWN, " + bin + "/viewer \u200B\u202Ex";
  EXPECT_FALSE(ShowMayStart(nullptr, show, plat::FromUtf8(line), {}, true));
  const std::string shown = eog + " \"[U+200B][U+202E]x\"";
  EXPECT_EQ(answers.Asked, std::vector<std::vector<std::string>>{{shown}});
  EXPECT_EQ(log->Taken(), (std::vector<std::string>{"Start question: " + shown + ": Don't start",
                                                    "Not started: /usr/bin/touch[U+2423]/tmp/PWN, " + bin +
                                                        "/viewer [U+200B][U+202E]x"}));
  zm::SetLog(nullptr);
}

// A Start covers what the question listed: a command whose program was not
// there when asked never starts, not even once it appears; a command that
// resolves otherwise by the time it starts is left out; a kept answer is
// asked again once the list would read otherwise.
TEST(ShowStarts, AStartCoversOnlyWhatTheQuestionListed) {
  zmtest::TTempDir dir;
  const std::string viewer = std::filesystem::canonical(Executable(dir, "bin/viewer", "#!/bin/true\n")).string();
  const std::string other = std::filesystem::canonical(Executable(dir, "bin/other", "#!/bin/true\n")).string();
  const std::string later = (dir.Path() / "bin" / "later").string();
  const std::string link = (dir.Path() / "bin" / "link").string();
  std::filesystem::create_symlink(viewer, link);
  const WideString line = plat::FromUtf8(viewer + " x, " + later + " y");

  TWatchedSpawner spawns;
  TAnswers answers({true, true, true});
  TStartAnswers show;
  std::vector<TApprovedCommand> approved;
  ASSERT_TRUE(ShowMayStart(nullptr, show, line, {}, false, &approved));
  ASSERT_EQ(approved.size(), 1u);
  EXPECT_EQ(plat::ToUtf8(approved[0].Shown), Shown(viewer, {"x"}));
  Executable(dir, "bin/later", "#!/bin/true\n");
  RunApproved(nullptr, approved, {});
  EXPECT_EQ(spawns.Starts, (std::vector<TArgs>{{viewer, "x"}}));

  // The program that has appeared changes the list: asked again, both listed.
  ASSERT_TRUE(ShowMayStart(nullptr, show, line, {}, false, &approved));
  ASSERT_EQ(answers.Asked.size(), 2u);
  EXPECT_EQ(answers.Asked[1], (std::vector<std::string>{Shown(viewer, {"x"}), Shown(later, {"y"})}));
  EXPECT_EQ(approved.size(), 2u);
  // Unchanged, the answer holds without a question.
  ASSERT_TRUE(ShowMayStart(nullptr, show, line, {}, false, &approved));
  EXPECT_EQ(answers.Asked.size(), 2u);

  // A link that leads elsewhere after the question is not started.
  const WideString byLink = plat::FromUtf8(link + " z");
  ASSERT_TRUE(ShowMayStart(nullptr, show, byLink, {}, false, &approved));
  std::filesystem::remove(link);
  std::filesystem::create_symlink(other, link);
  spawns.Starts.clear();
  RunApproved(nullptr, approved, {});
  EXPECT_TRUE(spawns.Starts.empty());
}

// Every member of every category, as a program of its own in the show's
// reach, is refused by the planner that starts commands; so are the
// commands that got through before (each with the file it runs), and any
// program given a response file. Commands of programs in no category, and
// documents, still reach the question.
TEST(ShowStarts, RefusedCategoriesAndWhatStillAsks) {
  zmtest::TTempDir dir;
  TWatchedSpawner spawns;
  TBoxCount boxes;
  zm::THookScope<zm::TWndAPI*> api(zm::WndAPIClass, &boxes);
  int members = 0;
  for (const TRefusedCategory& category : RefusedCategories()) {
    EXPECT_FALSE(category.Members.empty()) << plat::ToUtf8(WideString(category.Name));
    for (std::u16string_view member : category.Members) {
      const std::string name = plat::ToUtf8(member);
      if (name == ">") continue;  // no file name: refused as a word
      const std::string path = Executable(dir, "members/" + name, "#!/bin/true\n");
      const WideString command = u"\"" + plat::FromUtf8(path) + u"\" x";
      EXPECT_TRUE(StartsRefusedProgram(command, {})) << name;
      RunProgram(nullptr, command, {});
      ++members;
    }
  }
  EXPECT_EQ(boxes.Count, members);

  const std::string bin = (dir.Path() / "bin").string() + "/";
  for (const char* name : {"pydoc3", "pdb3", "sqlite3", "ninja", "gcc", "run-parts", "xargs", "strace", "timeout",
                           "setarch", "prlimit", "perldoc", "zip", "x86_64-linux-gnu-gcc-12", "viewer", "touch", "ffplay",
                           "feh", "evince"})
    Executable(dir, std::string("bin/") + name, "#!/bin/true\n");
  std::filesystem::create_symlink(bin + "setarch", bin + "linux32");
  const std::string script = Executable(dir, "show/run.sh", "#!/bin/sh\n");
  for (const char* file : {"show/evil.py", "show/x.sql", "show/build.ninja", "show/opts.rsp", "show/cmds.txt"})
    dir.Write(file, "x");
  std::filesystem::create_directories(dir.Path() / "show" / "parts");
  const WideString show = dir.Wide("show");
  const std::vector<std::string> refused = {
      "pydoc3 ./evil.py", "pdb3 -c continue ./evil.py", "sqlite3 -init x.sql", "ninja -C .", "gcc @opts.rsp",
      "run-parts ./parts", "xargs -a cmds.txt " + bin + "touch", "strace " + script, "timeout 9 " + script,
      "setarch x86_64 " + script, "linux32 " + script, "prlimit " + script, "perldoc x", "zip -T -TT x y.zip",
      "x86_64-linux-gnu-gcc-12 x.c", "viewer @" + (dir.Path() / "show" / "opts.rsp").string()};
  boxes.Count = 0;
  for (const std::string& c : refused) {
    const WideString command = plat::FromUtf8(bin + c);
    EXPECT_TRUE(StartsRefusedProgram(command, show)) << c;
    RunProgram(nullptr, command, show);
  }
  EXPECT_EQ(boxes.Count, int(refused.size()));
  EXPECT_TRUE(spawns.Starts.empty());
  // Found only in the folder, it runs there: its response file is read there.
  Executable(dir, "show/tool", "#!/bin/true\n");
  EXPECT_TRUE(StartsRefusedProgram(u"tool @opts.rsp", show));

  // A picture viewer or media player with a picture, a PDF viewer with a
  // PDF, an "@" that names no file, documents (a picture, a PDF, an office
  // file, a folder, a Hebrew and a Chinese name), a link to a document: each
  // is asked for.
  const std::string picture = dir.Write("show/holiday.jpg", "\xFF\xD8\xFF\xE0 JFIF");
  dir.Write("show/readme.pdf", "%PDF-1.4\n");
  dir.Write("show/notes.odt", std::string("PK\x03\x04", 4) + "mimetypeMETA-INF/manifest.xml");
  dir.Write("show/\u05EA\u05DE\u05D5\u05E0\u05D4.jpg", "\xFF\xD8\xFF\xE0");
  dir.Write("show/\u4E2D\u6587.jpg", "\xFF\xD8\xFF\xE0");
  std::filesystem::create_directories(dir.Path() / "show" / "photos");
  const std::vector<std::string> asked = {bin + "viewer holiday.jpg",
                                          bin + "ffplay " + picture,
                                          bin + "feh " + picture,
                                          bin + "evince " + (dir.Path() / "show" / "readme.pdf").string(),
                                          "\u4E2D\u6587.jpg",
                                          bin + "viewer " + (dir.Path() / "show" / "\u4E2D\u6587.jpg").string(),
                                          bin + "viewer me@example.org @missing.rsp",
                                          bin + "touch " + (dir.Path() / "show" / "made").string(),
                                          "holiday.jpg",
                                          "readme.pdf",
                                          "notes.odt",
                                          "photos",
                                          "\u05EA\u05DE\u05D5\u05E0\u05D4.jpg",
                                          "file://" + picture};
  TAnswers answers({});
  TStartAnswers showAnswers;
  for (const std::string& c : asked) {
    EXPECT_FALSE(ShowMayStart(nullptr, showAnswers, plat::FromUtf8(c), show, false)) << c;
  }
  EXPECT_EQ(answers.Asked.size(), asked.size());
  EXPECT_EQ(boxes.Count, int(refused.size()));
}

// A document or a link handed to the desktop's opener is judged by what
// it holds, whatever its name: launchers, programs, scripts, Windows
// programs and Java archives are refused, as is a device.
TEST(ShowStarts, WhatTheOpenerGetsIsJudgedByItsContent) {
  zmtest::TTempDir dir;
  const std::string launcher = "[Desktop Entry]\nType=Application\nExec=rm -rf ~\n";
  const std::vector<std::pair<std::string, std::string>> files = {
      {"holiday.jpg", launcher},
      {"notes", launcher},
      {"long.txt", "# " + std::string(20000, 'x') + "\n" + launcher},
      {"readme.pdf", "\x7F" "ELF\x02\x01\x01"},
      {"photo.png", "#!/bin/sh\nrm -rf ~\n"},
      {"setup.txt", "MZ\x90"},
      {"game.zip", std::string("PK\x03\x04", 4) + "META-INF/MANIFEST.MF"},
      {"plain.desktop", "just text"}};
  std::vector<WideString> refused;
  for (const auto& [name, content] : files) {
    const std::string path = dir.Write(name, content);
    refused.push_back(plat::FromUtf8(path));
    refused.push_back(u"\"file://" + plat::FromUtf8(path) + u"\"");
  }
  const std::string notes = (dir.Path() / "notes").string();
  refused.push_back(u"FILE://localhost" + plat::FromUtf8(notes.substr(0, notes.size() - 2)) + u"%65%73");
  refused.push_back(u"file:" + plat::FromUtf8(notes) + u"?page=1#top");
  refused.push_back(u"file://" + plat::FromUtf8((dir.Path() / "plain").string()) + u"%2Edesktop");
  refused.push_back(u"/dev/zero");

  TWatchedSpawner spawns;
  TBoxCount boxes;
  zm::THookScope<zm::TWndAPI*> api(zm::WndAPIClass, &boxes);
  for (const WideString& c : refused) {
    EXPECT_TRUE(StartsRefusedProgram(c, {})) << plat::ToUtf8(c);
    RunProgram(nullptr, c, {});
  }
  EXPECT_TRUE(spawns.Starts.empty());
  EXPECT_EQ(boxes.Count, int(refused.size()));
}

// A character shows as itself only where it cannot be misread: letters of
// any script the question's font draws clearly apart from every other, in
// NFC, each its own skeleton; anything else as its code point, in the
// question and in the log alike. Letters with accents differ from the plain
// ones in a few pixels at the question's size: they show as code points. A
// link's host beyond ASCII is followed by the name a browser looks up.
TEST(ShowStarts, EachCharacterShowsAsItselfOnlyWhereItCannotBeMisread) {
  EXPECT_EQ(VisibleCommand(u"Gr\u00FC\u00DFe caf\u00E9 \u03BB \u05D0\u05D1 \u0436"),
            u"Gr[U+00FC]\u00DFe\u2423caf[U+00E9]\u2423\u03BB\u2423\u05D0[U+05D1]\u2423\u0436");
  EXPECT_EQ(VisibleCommand(u"\u0430 \u03BF \u05D5 \u2215 \u2010 \U0001D5BA cafe\u0301"),
            u"[U+0430]\u2423[U+03BF]\u2423[U+05D5]\u2423[U+2215]\u2423[U+2010]\u2423[U+1D5BA]\u2423cafe[U+0301]");
  // Letters the question's font has no glyph for; the twins it draws alike.
  EXPECT_EQ(VisibleCommand(u"\u4E2D\u6587 Q\u051A"), u"[U+4E2D][U+6587]\u2423Q[U+051A]");

  zmtest::TTempDir dir;
  const std::string eog = std::filesystem::canonical(Executable(dir, "eog", "#!/bin/true\n")).string();
  const auto text = [](const std::string& utf8) { return plat::ToUtf8(QuestionText(plat::FromUtf8(utf8), {})); };
  EXPECT_EQ(text(eog + " \u00DCbersicht.jpg \u00A0x"), eog + " \"[U+00DC]bersicht.jpg\" \"[U+00A0]x\"");
  EXPECT_EQ(text("https://\u0430\u0440\u0440\u04CF\u0435.com/caf\u00E9"),
            "https://[U+0430][U+0440][U+0440][U+04CF][U+0435].com/caf[U+00E9] (host xn--80ak6aa92e.com)");
  EXPECT_EQ(text("http://user@M\u00FCnchen.de:8080/x"), "http://user@M[U+00FC]nchen.de:8080/x (host xn--mnchen-3ya.de)");
  // Percent-encoded, with a browser's other slashes: the host it looks up.
  EXPECT_EQ(text("HTTPS:\\\\%D0%B0pple.com\\x"), "HTTPS:\\\\%D0%B0pple.com\\x (host xn--pple-43d.com)");
  EXPECT_EQ(text("https://a\u200Db.com/"), "https://a[U+200D]b.com/ (host with no ASCII form)");
  EXPECT_EQ(text("https://apple.com/\u0430"), "https://apple.com/[U+0430]");
  EXPECT_EQ(text("mailto:a@\u0430pple.com"), "mailto:a@[U+0430]pple.com");

  // The log writes the command as the question would, its blanks as blanks.
  auto* log = new TStartLog;
  zm::SetLog(log);
  TStartAnswers show;
  EXPECT_FALSE(ShowMayStart(nullptr, show, u"/nothing/\u0430pple \u4E2D", {}, true));
  EXPECT_EQ(log->Taken(), std::vector<std::string>{"Not started (not found): /nothing/[U+0430]pple \u4E2D"});
  zm::SetLog(nullptr);
}

// No two characters the question shows as themselves draw alike in its
// font: every character it has a glyph for, drawn alone.
TEST(ShowStarts, NoTwoCharactersShownAsThemselvesDrawAlike) {
  plat::HDC dc = plat::CreateCompatibleDC(nullptr);
  ASSERT_NE(dc, nullptr);
  plat::BITMAPINFO info{};
  info.bmiHeader.biSize = 40;
  info.bmiHeader.biWidth = 48;
  info.bmiHeader.biHeight = -40;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  auto bitmap = reinterpret_cast<plat::HGDIOBJ>(plat::CreateDIBSection(dc, &info, plat::DIB_RGB_COLORS, &bits, nullptr, 0));
  ASSERT_NE(bits, nullptr);
  plat::HGDIOBJ oldBitmap = plat::SelectObject(dc, bitmap);
  plat::HGDIOBJ oldFont = plat::SelectObject(dc, plat::GetStockObject(plat::DEFAULT_GUI_FONT));
  plat::SetBkMode(dc, plat::TRANSPARENT);
  std::map<std::vector<std::uint32_t>, char32_t> drawn;
  std::vector<std::string> alike;
  int shown = 0;
  for (char32_t c = 0x21; c <= 0x10FFFF; ++c) {
    if (!plat::HasGlyph(dc, c)) continue;
    const WideString one = c < 0x10000 ? WideString(1, char16_t(c))
                                       : WideString{char16_t(0xD800 + ((c - 0x10000) >> 10)),
                                                    char16_t(0xDC00 + ((c - 0x10000) & 0x3FF))};
    if (VisibleCommand(one) != one) continue;
    ++shown;
    auto* px = static_cast<std::uint32_t*>(bits);
    std::fill(px, px + 48 * 40, 0xFFFFFFFFu);
    plat::ExtTextOutW(dc, 12, 8, 0, nullptr, one.c_str(), plat::UINT(one.size()), nullptr);
    plat::SIZE size{};
    plat::GetTextExtentPoint32W(dc, one.c_str(), int(one.size()), &size);
    std::vector<std::uint32_t> key(px, px + 48 * 40);
    key.push_back(std::uint32_t(size.cx));
    const auto [it, added] = drawn.emplace(std::move(key), c);
    if (!added) alike.push_back(std::to_string(unsigned(it->second)) + " " + std::to_string(unsigned(c)));
  }
  plat::SelectObject(dc, oldFont);
  plat::SelectObject(dc, oldBitmap);
  plat::DeleteObject(bitmap);
  plat::DeleteDC(dc);
  EXPECT_GT(shown, 1000);  // Greek, Cyrillic, Georgian, Armenian, Hebrew, Arabic, symbols ...
  EXPECT_EQ(alike, std::vector<std::string>{});
}

namespace {

// The first bytes of an ELF file: a program or a shared library by content.
const std::string kElf = std::string("\x7F" "ELF\x02\x01\x01\x00", 8);

// Stand-ins of interpreters, named as the real ones; scripts' "#!" lines
// name them instead of the system's paths.
std::string StandInLine(const zmtest::TTempDir& dir, std::string line) {
  for (const char* name : {"perl", "python3", "bash", "sh", "viewer"}) {
    const std::string path = "/usr/bin/" + std::string(name);
    if (const std::size_t at = line.find(path); at != std::string::npos)
      line.replace(at, path.size(), (dir.Path() / "interp" / name).string());
  }
  return line;
}

}  // namespace

// A program is judged by what really runs: a script by its interpreter
// (env followed to the program it looks up, chains of scripts followed),
// whatever the script's own name; what cannot be told is refused.
TEST(ShowStarts, ScriptsAreJudgedByWhatReallyRuns) {
  zmtest::TTempDir dir;
  for (const char* name : {"perl", "python3", "bash", "sh", "viewer"}) Executable(dir, std::string("interp/") + name, kElf);
  // env looks names up in PATH: the stand-ins first, env itself the system's.
  zmtest::TEnvGuard env;
  env.Set("PATH", (dir.Path() / "interp").string() + ":/usr/bin:/bin");
  ASSERT_FALSE(plat::FindProgram("env", "").empty());
  const std::string show = (dir.Path() / "show").string();
  std::filesystem::create_directories(show);
  const std::string viewer = (dir.Path() / "interp" / "viewer").string();
  int n = 0;
  const auto script = [&](const std::string& firstLine) {
    return Executable(dir, "show/s" + std::to_string(++n), StandInLine(dir, firstLine) + "\n");
  };
  const auto refused = [&](const std::string& command) {
    return StartsRefusedProgram(plat::FromUtf8(command), plat::FromUtf8(show));
  };

  // The show's own script of the system's shell, by its absolute path and
  // as a link; system scripts of perl, bash and python, env's forms.
  const std::string own = Executable(dir, "show/slideshow-helper", "#!/bin/sh\ntouch pwned\n");
  EXPECT_TRUE(refused(own));
  EXPECT_TRUE(refused("file://" + own));
  for (const char* line : {"#!/usr/bin/perl -w", "#!/usr/bin/env bash", "#! /usr/bin/bash", "#!/usr/bin/python3",
                           "#! /usr/bin/python3", "#!/usr/bin/sh", "#!/usr/bin/env -S python3 -u",
                           "#!/usr/bin/env --split-string=-v\tperl", "#!/usr/bin/env -S -- perl",
                           "#!/usr/bin/env -S -u HOME perl", "#!/usr/bin/env perl\r"})
    EXPECT_TRUE(refused(script(line) + " x")) << line;
  // A chain of scripts: the last interpreter counts; relative to where the
  // program starts.
  const std::string middle = script("#!/usr/bin/perl");
  EXPECT_TRUE(refused(script("#!" + middle)));
  Executable(dir, "show/bin/perl", kElf);
  EXPECT_TRUE(refused(script("#!bin/perl")));
  // The line's own arguments are arguments too.
  EXPECT_TRUE(refused(script("#!/usr/bin/viewer --info=touch${IFS}x")));
  EXPECT_TRUE(refused(script("#!/usr/bin/env -S viewer " + own)));

  // What cannot be told: env changing the program's environment or folder,
  // expanding, or started on the script itself; an interpreter that is not
  // there; a chain longer than the system follows; an executable that is
  // neither ELF nor a script (only a handler registered for it would run it).
  for (const char* line : {"#!/usr/bin/env -S LD_PRELOAD=/tmp/x.so viewer", "#!/usr/bin/env -i viewer",
                           "#!/usr/bin/env -S -C /tmp viewer", "#!/usr/bin/env -S viewer ${HOME}",
                           "#!/usr/bin/env", "#!/nowhere/viewer", "#!/usr/bin/viewer\r"})
    EXPECT_TRUE(refused(script(line))) << line;
  std::string chain = viewer;
  for (int i = 0; i < 5; ++i) chain = script("#!" + chain);
  EXPECT_TRUE(refused(chain));
  for (const std::string& content : {std::string("MZ\x90"), std::string("PK\x03\x04META-INF/MANIFEST.MF"), std::string("x")})
    EXPECT_TRUE(refused(Executable(dir, "show/p" + std::to_string(++n), content)));

  // Scripts of a harmless program are asked for: directly, through env,
  // through four scripts.
  for (const char* line : {"#!/usr/bin/viewer", "#!/usr/bin/viewer -f", "#!/usr/bin/env viewer",
                           "#!/usr/bin/env -S viewer -f --", "#!/bin/true"})
    EXPECT_FALSE(refused(script(line) + " holiday.jpg")) << line;
  chain = viewer;
  for (int i = 0; i < 4; ++i) chain = script("#!" + chain);
  EXPECT_FALSE(refused(chain));
}

// Whatever the program, an argument that carries a command (shell
// expansions, "|command", "%pipe%") or names code (a file that is a program,
// a script or a shared library, also after "=" or ":") is refused; so is a
// link or a document that does, being the opener's argument.
TEST(ShowStarts, ArgumentsThatCarryACommandOrCodeAreRefused) {
  zmtest::TTempDir dir;
  const std::string viewer = Executable(dir, "bin/viewer", kElf);
  dir.Write("show/lib.so", kElf + "code");
  dir.Write("show/hook", "#!/bin/sh\n");
  dir.Write("show/holiday.jpg", "\xFF\xD8\xFF\xE0 JFIF");
  dir.Write("show/notes.txt", "lib.so\n");
  dir.Write("show/a$(id).jpg", "\xFF\xD8\xFF\xE0");
  const WideString show = dir.Wide("show");
  const std::string lib = (dir.Path() / "show" / "lib.so").string();
  const std::vector<std::string> carrying = {
      "touch${IFS}x", "$(id)", "x`id`", "|touch x", "--out=|lpr", "%PIPE%lpr", "-sOutputFile=%pipe%lpr", lib,
      (dir.Path() / "show" / "hook").string(), "--plugin=" + lib, "SO_PATH:" + lib, "-x=a:b=" + lib, "/bin/true"};
  for (const std::string& arg : carrying)
    EXPECT_TRUE(StartsRefusedProgram(plat::FromUtf8(viewer + " " + arg), show)) << arg;
  // A relative path is taken where the program runs: a program found only
  // in the show's folder runs there.
  Executable(dir, "show/tool", kElf);
  for (const std::string& arg : {"lib.so", "hook", "-load=lib.so", "-x=a:b=lib.so"}) {
    EXPECT_TRUE(StartsRefusedProgram(plat::FromUtf8("tool " + arg), show)) << arg;
    EXPECT_FALSE(StartsRefusedProgram(plat::FromUtf8(viewer + " " + arg), show)) << arg;
  }
  for (const std::string& other : {"https://example.org/?q=$(id)", "http://x/${IFS}", "a$(id).jpg"})
    EXPECT_TRUE(StartsRefusedProgram(plat::FromUtf8(other), show)) << other;
  // Text that only looks like some of it, and ordinary files.
  for (const std::string& arg : {"holiday.jpg", "notes.txt", "a|b", "$HOME", "100%", "%pipe", "pipe%", "-o=x",
                                 "--filter=gray", "lib.so.txt", "SO_PATH:", ":", "="})
    EXPECT_FALSE(StartsRefusedProgram(plat::FromUtf8(viewer + " " + arg), show)) << arg;
  EXPECT_FALSE(StartsRefusedProgram(u"https://example.org/?q=$HOME&p=100%", show));
}

// Every program that ran a command or loaded code of a show, with the
// arguments that did it, by what each is (a program, or a script of a
// named interpreter), whether or not this system has it.
TEST(ShowStarts, ProgramsThatRanCodeOfAShowAreRefused) {
  zmtest::TTempDir dir;
  for (const char* name : {"perl", "python3", "bash", "sh"}) Executable(dir, std::string("interp/") + name, kElf);
  zmtest::TEnvGuard env;
  env.Set("PATH", (dir.Path() / "interp").string() + ":/usr/bin:/bin");
  dir.Write("show/lib.so", kElf);
  for (const char* file : {"show/x.py", "show/x.ps", "show/x.po", "show/x.ms", "show/x.conf", "show/x.rexx"})
    dir.Write(file, "x\n");
  const WideString show = dir.Wide("show");
  struct TProgram {
    const char* Name;
    const char* Line;  // its "#!" line; none for a program
    const char* Args;
  };
  const TProgram programs[] = {
      {"split", nullptr, "--filter=touch${IFS}x x"},
      {"sox", nullptr, "|touch${IFS}x out.wav"},
      {"feh", nullptr, "--info touch${IFS}x x.jpg"},
      {"apt-get", nullptr, "-o APT::Update::Pre-Invoke::=touch${IFS}x update"},
      {"apt-get", nullptr, "update"},
      {"gs", nullptr, "-dNOSAFER -sOutputFile=%pipe%touch x.ps"},
      {"ps2pdf", "#!/usr/bin/sh", "-dNOSAFER x.ps %pipe%touch"},
      {"pamexec", nullptr, "touch x.pam"},
      {"msgexec", nullptr, "-i x.po touch"},
      {"groff", nullptr, "-U x.ms"},
      {"cppcheck", nullptr, "--addon=x.py ."},
      {"nm", nullptr, "--plugin lib.so x.o"},
      {"opt", nullptr, "-load=lib.so x.ll"},
      {"openssl", nullptr, "engine dynamic -pre SO_PATH:lib.so"},
      {"bear", nullptr, "-- touch x"},
      {"ccache", nullptr, "touch x"},
      {"choom", nullptr, "-n 0 -- touch x"},
      {"dpkg-architecture", "#!/usr/bin/perl", "-c touch x"},
      {"gpg-connect-agent", nullptr, "--exec touch x"},
      {"heaptrack", "#!/usr/bin/sh", "touch x"},
      {"intercept-build", "#!/usr/bin/python3", "touch x"},
      {"not", nullptr, "touch x"},
      {"sotruss", "#! /usr/bin/bash", "touch x"},
      {"uclampset", nullptr, "-m 0 touch x"},
      {"luit", nullptr, "-- touch x"},
      {"regina", nullptr, "x.rexx"},
      {"rexx", nullptr, "x.rexx"},
      {"lli", nullptr, "x.bc"},
      {"cobc", nullptr, "-x -j x.cob"},
      {"instantfpc", nullptr, "x.pas"},
      {"clang-repl", nullptr, ""},
      {"systemd-tmpfiles", nullptr, "--remove x.conf"},
      {"prove", "#!/usr/bin/perl -w", "x.t"},
      {"bats", "#!/usr/bin/env bash", "x.bats"},
      {"memusage", "#! /usr/bin/bash", "touch x"},
      {"pygmentize", "#!/usr/bin/python3", "-x -l x.py:L x.ps"},
      {"py3versions", "#! /usr/bin/python3", "-d"},
      {"scan-build", "#!/usr/bin/perl", "touch x"},
      {"gdbtui", "#!/usr/bin/sh", ""},
  };
  TWatchedSpawner spawns;
  TBoxCount boxes;
  zm::THookScope<zm::TWndAPI*> api(zm::WndAPIClass, &boxes);
  int n = 0;
  for (const TProgram& p : programs) {
    const std::string path = Executable(dir, "bin" + std::to_string(++n) + "/" + p.Name,
                                        p.Line ? StandInLine(dir, p.Line) + "\n" : kElf);
    const WideString command = plat::FromUtf8(path + (*p.Args ? " " : "") + p.Args);
    EXPECT_TRUE(StartsRefusedProgram(command, show)) << p.Name << " " << p.Args;
    RunProgram(nullptr, command, show);
  }
  EXPECT_TRUE(spawns.Starts.empty());
  EXPECT_EQ(boxes.Count, n);
}

namespace {

// A hasty hand on the question: clicks on where its Start button is and the
// Enter key at given times of the program clock after the question was
// first drawn, each handled as the dialog's own loop handles it.
class THastyHand : public plat::IDialogDriver {
public:
  // Signal: the program is asked to end; Away, Back: the pointer moves off
  // Start, and onto it again.
  enum TInput { Click, Enter, Signal, Away, Back };
  struct TStep {
    std::uint32_t At;
    TInput Input;
  };
  THastyHand(plat::TManualClock& clock, std::vector<TStep> steps) : clock_(clock), steps_(std::move(steps)) {
    plat::SetDialogDriver(this);
  }
  ~THastyHand() override { plat::SetDialogDriver(nullptr); }
  void Drive(plat::HWND dialog) override {
    Pump(dialog);  // drawn: the wait begins
    const std::uint32_t drawn = clock_.Now();
    const plat::HWND start = plat::GetDlgItem(dialog, idStart);
    plat::GetWindowRect(start, &StartRect);
    const plat::POINT centre{(StartRect.left + StartRect.right) / 2, (StartRect.top + StartRect.bottom) / 2};
    for (const TStep& step : steps_) {
      clock_.Set(drawn + step.At);
      Pump(dialog);
      Available.push_back(plat::IsWindowEnabled(start) != 0);
      StartInk.push_back(Darkest(start));
      switch (step.Input) {
        case Click: plat::headless::Click(1, centre); break;
        case Enter:
          plat::headless::Key(plat::VK_RETURN, true);
          plat::headless::Key(plat::VK_RETURN, false);
          break;
        case Signal: plat::RequestTermination(); break;
        case Away: plat::headless::MoveMouse({StartRect.left - 200, StartRect.top - 200}); break;
        case Back: plat::headless::MoveMouse(centre); break;
      }
      Pump(dialog);
    }
  }
  plat::RECT StartRect{};
  std::vector<bool> Available;  // whether Start took clicks at each step
  std::vector<int> StartInk;    // the darkest channel of Start as drawn at each step

private:
  static void Pump(plat::HWND dialog) {
    plat::MSG m{};
    while (plat::PeekMessageW(&m, nullptr, 0, 0, plat::PM_REMOVE))
      if (!plat::IsDialogMessageW(dialog, &m)) {
        plat::TranslateMessage(&m);
        plat::DispatchMessageW(&m);
      }
  }
  // The darkest channel inside the button's edges: its caption's ink.
  static int Darkest(plat::HWND control) {
    int w = 0, h = 0, darkest = 255;
    const std::vector<std::uint32_t> px = plat::headless::CaptureClient(control, w, h);
    for (int y = 4; y < h - 4; ++y)
      for (int x = 4; x < w - 4; ++x)
        for (int shift = 0; shift < 24; shift += 8)
          darkest = std::min(darkest, int((px[std::size_t(y) * std::size_t(w) + std::size_t(x)] >> shift) & 0xFF));
    return darkest;
  }
  plat::TManualClock& clock_;
  std::vector<TStep> steps_;
};

}  // namespace

// The question takes no answer that was not read: a double click, a second
// click 100 or 500 ms after the first and Enter at 300 ms are dropped (the
// buttons unavailable, nothing kept for later) and the question ends
// unanswered; Start clicked once it has been there a second starts, Enter
// then is Don't start. It never opens with Start under the pointer.
TEST(ShowStarts, TheQuestionTakesNoAnswerBeforeItCouldBeRead) {
  zmtest::TTempDir dir;
  const std::string viewer = std::filesystem::canonical(Executable(dir, "bin/viewer", "#!/bin/true\n")).string();
  const WideString command = plat::FromUtf8(viewer + " holiday.jpg");
  plat::TManualClock clock(5000);
  TWatchedSpawner spawns;
  using TSteps = std::vector<THastyHand::TStep>;
  const auto run = [&](const TSteps& steps, THastyHand* seen = nullptr) {
    THastyHand hand(clock, steps);
    TStartAnswers answers;
    std::vector<TApprovedCommand> approved;
    const bool start = ShowMayStart(nullptr, answers, command, {}, false, &approved);
    if (start) RunApproved(nullptr, approved, {});
    if (seen) {
      seen->StartRect = hand.StartRect;
      seen->Available = hand.Available;
    }
    return start;
  };
  THastyHand seen(clock, {});
  for (const TSteps& hasty : {TSteps{{0, THastyHand::Click}, {30, THastyHand::Click}},
                              TSteps{{0, THastyHand::Click}, {100, THastyHand::Click}},
                              TSteps{{0, THastyHand::Click}, {500, THastyHand::Click}},
                              TSteps{{300, THastyHand::Enter}}}) {
    EXPECT_FALSE(run(hasty, &seen)) << hasty.back().At;
    EXPECT_EQ(seen.Available, std::vector<bool>(hasty.size(), false));
  }
  EXPECT_TRUE(spawns.Starts.empty());
  EXPECT_FALSE(run({{999, THastyHand::Click}}));
  EXPECT_FALSE(run({{1000, THastyHand::Enter}}, &seen));  // the default
  EXPECT_EQ(seen.Available, std::vector<bool>{true});
  EXPECT_TRUE(spawns.Starts.empty());
  EXPECT_TRUE(run({{0, THastyHand::Click}, {1000, THastyHand::Click}}));
  EXPECT_EQ(spawns.Starts, (std::vector<TArgs>{{viewer, "holiday.jpg"}}));

  // The pointer where Start opened: the next question opens elsewhere.
  const plat::RECT was = seen.StartRect;
  const plat::POINT pointer{(was.left + was.right) / 2, (was.top + was.bottom) / 2};
  plat::headless::MoveMouse(pointer);
  run({}, &seen);
  EXPECT_FALSE(pointer.x >= seen.StartRect.left && pointer.x < seen.StartRect.right &&
               pointer.y >= seen.StartRect.top && pointer.y < seen.StartRect.bottom);
  EXPECT_NE(seen.StartRect.top, was.top);
}

// The question's edges: a signal to end the program answers Don't start in
// the wait too (a click on Start later starts nothing); on a screen too
// small to open the question with Start away from a resting pointer, a
// click there counts only once the pointer has left Start and come back;
// Start is drawn grey while it waits and available the moment it is.
TEST(ShowStarts, TheQuestionsEdges) {
  zmtest::TTempDir dir;
  const std::string viewer = std::filesystem::canonical(Executable(dir, "bin/viewer", "#!/bin/true\n")).string();
  plat::TManualClock clock(5000);
  TWatchedSpawner spawns;
  auto* log = new TStartLog;
  zm::SetLog(log);
  using TSteps = std::vector<THastyHand::TStep>;
  THastyHand seen(clock, {});
  const auto run = [&](const WideString& command, const TSteps& steps) {
    THastyHand hand(clock, steps);
    TStartAnswers answers;
    std::vector<TApprovedCommand> approved;
    const bool start = ShowMayStart(nullptr, answers, command, {}, false, &approved);
    if (start) RunApproved(nullptr, approved, {});
    seen.StartRect = hand.StartRect;
    seen.Available = hand.Available;
    seen.StartInk = hand.StartInk;
    return start;
  };
  const WideString command = plat::FromUtf8(viewer + " holiday.jpg");
  plat::headless::MoveMouse({0, 0});
  for (const std::uint32_t at : {50u, 300u, 950u}) {
    plat::headless::ResetTerminationForTests();
    // Ended at the signal: the click on Start, available by then, starts nothing.
    EXPECT_FALSE(run(command, {{at, THastyHand::Signal}, {1500, THastyHand::Click}})) << at;
  }
  plat::headless::ResetTerminationForTests();
  EXPECT_TRUE(spawns.Starts.empty());
  EXPECT_EQ(log->Beginning("Start question").size(), 3u);
  // Drawn grey while it waits, available once it takes clicks.
  EXPECT_TRUE(run(command, {{500, THastyHand::Away}, {1000, THastyHand::Back}, {1000, THastyHand::Click}}));
  EXPECT_GE(seen.StartInk[0], 120);
  EXPECT_LT(seen.StartInk[1], 60);
  spawns.Starts.clear();

  // 640 x 400, a command of many lines: no place keeps Start off the pointer.
  struct TSmallScreen {
    TSmallScreen() { Set({0, 0, 640, 400}, {0, 0, 640, 400}); }
    ~TSmallScreen() { Set({0, 0, 1920, 1080}, {0, 0, 1920, 1040}); }  // the default
    static void Set(plat::RECT bounds, plat::RECT work) {
      plat::headless::TMonitorDesc m{};
      m.Bounds = bounds;
      m.Work = work;
      m.Primary = true;
      plat::headless::SetMonitors({m});
    }
  } small;
  WideString many = plat::FromUtf8(viewer);
  for (int i = 0; i < 14; ++i) many += u" " + WideString(60, char16_t(u'a' + i));
  run(many, {});
  const plat::POINT resting{(seen.StartRect.left + seen.StartRect.right) / 2,
                            (seen.StartRect.top + seen.StartRect.bottom) / 2};
  plat::headless::MoveMouse(resting);
  EXPECT_FALSE(run(many, {{1500, THastyHand::Click}, {1600, THastyHand::Click}}));
  EXPECT_TRUE(resting.x >= seen.StartRect.left && resting.x < seen.StartRect.right &&
              resting.y >= seen.StartRect.top && resting.y < seen.StartRect.bottom);
  EXPECT_EQ(seen.Available, (std::vector<bool>{true, true}));
  EXPECT_TRUE(spawns.Starts.empty());
  plat::headless::MoveMouse(resting);
  EXPECT_TRUE(run(many, {{1500, THastyHand::Away}, {1550, THastyHand::Back}, {1600, THastyHand::Click}}));
  EXPECT_EQ(spawns.Starts.size(), 1u);
  zm::SetLog(nullptr);
}

namespace {

// Stand-ins of programs that load libraries from their arguments, and of a
// picture viewer, as programs of their own (ELF by their first bytes).
struct TLoaders {
  explicit TLoaders(const zmtest::TTempDir& dir) {
    for (const char* name : {"ffmpeg", "ssh-keygen", "sox", "viewer"}) Executable(dir, std::string("bin/") + name, kElf);
    Bin = (dir.Path() / "bin").string() + "/";
  }
  // The ways the programs were made to load a library: after "f=" and
  // before ":option", glued to an option, with ".so" added by the program,
  // named in a data file.
  std::vector<std::string> Attacks(const std::string& lib) const {
    return {Bin + "ffmpeg -i in.wav -af ladspa=f=" + lib + ".so:p=amp out.wav", Bin + "ssh-keygen -D" + lib + ".so",
            Bin + "sox -n -n trim 0 0.01 ladspa " + lib,
            Bin + "ffmpeg -f lavfi -i anullsrc -filter_complex_script " + lib + ".txt out.wav"};
  }
  std::string Bin;
};

}  // namespace

// A show whose folder or container holds native code or a script starts
// nothing: every form of argument that made a program load the show's
// library, and its ordinary commands and documents too, refused as
// prohibited, the log naming the file found once; the same ordinary command
// of a clean show is asked. Windows libraries are no code here; a
// self-playing show's own program does not count; the look is made once,
// at each command that opens a file.
TEST(ShowStarts, AShowThatCarriesCodeStartsNothing) {
  zmtest::TTempDir dir;
  const TLoaders loaders(dir);
  const auto showOf = [&](const std::string& name) {
    dir.Write(name + "/Project.oru", "[Main]\n");
    dir.Write(name + "/holiday.jpg", "\xFF\xD8\xFF\xE0 JFIF");
    dir.Write(name + "/fx.txt", "ladspa=f=" + (dir.Path() / name / "fx.so").string() + "\n");
    dir.Write(name + "/ffmpegdlls/avcodec-58.dll", "MZ\x90");
    dir.Write(name + "/lcms2.dll", "MZ\x90");
    return (dir.Path() / name).string();
  };
  const std::string carrying = showOf("carrying"), clean = showOf("clean"), scripted = showOf("scripted");
  dir.Write("carrying/fx.so", kElf + "code");
  dir.Write("scripted/photos/2023/run", "#!/bin/sh\n");
  const auto ordinary = [&](const std::string& show) {
    return std::vector<std::string>{loaders.Bin + "viewer " + show + "/holiday.jpg", show + "/holiday.jpg",
                                    "file://" + show + "/holiday.jpg"};
  };

  auto* log = new TStartLog;
  zm::SetLog(log);
  TWatchedSpawner spawns;
  TBoxCount boxes;
  zm::THookScope<zm::TWndAPI*> api(zm::WndAPIClass, &boxes);
  TAnswers asked({});
  for (const std::string& show : {carrying, scripted}) {
    int looks = 0;
    TStartAnswers answers;
    answers.SetCodeLook([&] {
      ++looks;
      return FindCarriedCode(plat::FromUtf8(show + "/Project.oru"), nullptr);
    });
    // A web link the user clicked needs no look.
    EXPECT_TRUE(ShowMayStart(nullptr, answers, u"https://example.org/", {}, true));
    EXPECT_EQ(looks, 0);
    std::vector<std::string> commands = loaders.Attacks(show + "/fx");
    for (const std::string& c : ordinary(show)) commands.push_back(c);
    boxes.Count = 0;
    for (const std::string& c : commands)
      EXPECT_FALSE(ShowMayStart(nullptr, answers, plat::FromUtf8(c), {}, false)) << c;
    EXPECT_EQ(boxes.Count, int(commands.size()));
    // Made again at each command that opens files.
    EXPECT_GE(looks, int(ordinary(show).size()));
    const std::string found = show == carrying ? carrying + "/fx.so" : scripted + "/photos/2023/run";
    EXPECT_EQ(log->Beginning("Show carries code"),
              std::vector<std::string>{"Show carries code: " + found + " (nothing it asks to start is started)"});
    log->Taken();
  }
  EXPECT_TRUE(asked.Asked.empty());

  // The clean show, a Windows show's libraries and all: its ordinary
  // commands are asked.
  TStartAnswers answers;
  answers.SetCodeLook([&] { return FindCarriedCode(plat::FromUtf8(clean + "/Project.oru"), nullptr); });
  boxes.Count = 0;
  for (const std::string& c : ordinary(clean)) EXPECT_FALSE(ShowMayStart(nullptr, answers, plat::FromUtf8(c), {}, false));
  EXPECT_EQ(asked.Asked.size(), 3u);
  EXPECT_EQ(boxes.Count, 0);
  EXPECT_TRUE(spawns.Starts.empty());
  EXPECT_TRUE(log->Beginning("Show carries code").empty());

  // A self-playing show is a program itself: it does not count; what lies
  // beside it does. A folder too large to look through counts as carrying.
  dir.Write("packed/show", kElf + "player and show");
  EXPECT_FALSE(FindCarriedCode(dir.Wide("packed/show"), nullptr).Found());
  dir.Write("packed/x", kElf);
  EXPECT_EQ(FindCarriedCode(dir.Wide("packed/show"), nullptr).File, plat::FromUtf8((dir.Path() / "packed" / "x").string()));
  const TCarriedCode tooMany = FindCarriedCode(plat::FromUtf8(clean + "/Project.oru"), nullptr, 3);
  EXPECT_TRUE(tooMany.Found());
  EXPECT_TRUE(tooMany.TooManyFiles);
  zm::SetLog(nullptr);
}

// The show's container is looked through too, each entry by its first
// bytes however it is stored; the program a self-playing show's data follows
// is no entry of it.
TEST(ShowStarts, AContainerThatCarriesCodeIsFound) {
  zmtest::TTempDir dir;
  const std::string picture = "\xFF\xD8\xFF\xE0" + std::string(100000, 'x');
  for (int method : {zmtest::kStored, zmtest::kDeflated, zmtest::kEnciphered}) {
    for (const bool code : {false, true}) {
      zmtest::TShowContainerWriter c;
      zmtest::TShowProjectWriter show;
      orutest::AddSlides(show);
      show.AddToContainer(c);
      c.Prefix = kElf + "the player";
      c.PrefixEntryName = "OruViewer5";
      c.Add("photos/holiday.jpg", picture, method);
      if (code) c.Add("fx.so", kElf + std::string(70000, '\0'), method);
      const std::string name = "c" + std::to_string(method) + (code ? "code" : "clean");
      c.WriteFile((dir.Path() / name / "show.orushow").string());
      WideString error;
      const zm::TRef<TOruShowLocator> locator = OpenContainerShow(dir.Wide(name + "/show.orushow"), error);
      ASSERT_TRUE(locator) << plat::ToUtf8(error);
      const TCarriedCode found = FindCarriedCode(dir.Wide(name + "/show.orushow"), locator.get());
      EXPECT_EQ(found.File, code ? dir.Wide(name + "/show.orushow") + u"|fx.so" : WideString()) << name;
    }
  }
}

// Carried code is found wherever a show tucks it: inside each kind of
// compressed file and archive in its folder, inside a container's packed
// entry; behind a link out of the show (the look fails closed, the log
// says why); and made after a question, by a command the user let start, or
// while the question was open: each start is looked before anew.
TEST(ShowStarts, CarriedCodeIsFoundWhereverItIsTucked) {
  zmtest::TTempDir dir;
  const std::string elf = kElf + std::string(200, '\x01');
  const std::vector<std::pair<std::string, std::string>> packed = {
      {"helper.gz", zmtest::Gzipped(elf)},
      {"helper.xz", zmtest::Xzed(elf)},
      {"helper.bz2", zmtest::Bzipped(elf)},
      {"helper.zst", zmtest::Zstded(elf)},
      {"tools.zip", zmtest::Zipped({{"photos/1.jpg", "\xFF\xD8\xFF\xE0"}, {"helper", elf}})},
      {"tools.tar", zmtest::Tarred({{"photos/1.jpg", "\xFF\xD8\xFF\xE0"}, {"helper", elf}})}};
  for (const auto& [name, data] : packed) {
    dir.Write(name + "/Project.oru", "[Main]\n");
    dir.Write(name + "/tools/" + name, data);
    const TCarriedCode found = FindCarriedCode(dir.Wide(name + "/Project.oru"), nullptr);
    EXPECT_EQ(plat::ToUtf8(found.File), (dir.Path() / name / "tools" / name).string() + "|helper");
    EXPECT_TRUE(found.Reason.empty());
  }
  zmtest::TShowContainerWriter c;
  zmtest::TShowProjectWriter project;
  orutest::AddSlides(project);
  project.AddToContainer(c);
  c.Add("tools.tgz", zmtest::Gzipped(zmtest::Tarred({{"bin/helper", elf}})), zmtest::kDeflated);
  c.WriteFile((dir.Path() / "container" / "show.orushow").string());
  WideString error;
  const zm::TRef<TOruShowLocator> locator = OpenContainerShow(dir.Wide("container/show.orushow"), error);
  ASSERT_TRUE(locator) << plat::ToUtf8(error);
  EXPECT_EQ(FindCarriedCode(dir.Wide("container/show.orushow"), locator.get()).File,
            dir.Wide("container/show.orushow") + u"|tools.tgz|tools.tar|bin/helper");

  auto* log = new TStartLog;
  zm::SetLog(log);
  TWatchedSpawner spawns;
  TBoxCount boxes;
  zm::THookScope<zm::TWndAPI*> api(zm::WndAPIClass, &boxes);
  const std::string viewer = Executable(dir, "bin/viewer", "#!/bin/true\n");
  const std::string show = (dir.Path() / "show").string();
  dir.Write("show/Project.oru", "[Main]\n");
  dir.Write("show/holiday.jpg", "\xFF\xD8\xFF\xE0");
  TStartAnswers answers;
  answers.SetCodeLook([&] { return FindCarriedCode(plat::FromUtf8(show + "/Project.oru"), nullptr); });
  const auto ask = [&](const std::string& command) {
    std::vector<TApprovedCommand> approved;
    if (ShowMayStart(nullptr, answers, plat::FromUtf8(command), {}, false, &approved))
      RunApproved(nullptr, approved, {}, &answers);
  };
  // Started while the show was clean; what it unpacked is seen at the next.
  {
    TAnswers yes({true});
    ask(viewer + " " + show + "/holiday.jpg");
    EXPECT_EQ(spawns.Starts.size(), 1u);
  }
  dir.Write("show/helper", elf);
  {
    TAnswers yes({true});
    ask(viewer + " " + show + "/holiday.jpg 2");
    EXPECT_TRUE(yes.Asked.empty());
  }
  EXPECT_EQ(spawns.Starts.size(), 1u);
  EXPECT_EQ(log->Beginning("Show carries code"),
            std::vector<std::string>{"Show carries code: " + show + "/helper (nothing it asks to start is started)"});
  std::filesystem::remove(dir.Path() / "show" / "helper");
  // Made while the question is open: Start then starts nothing.
  class TUnpackingHand : public TAnswers {
  public:
    TUnpackingHand(const zmtest::TTempDir& dir, std::string elf) : TAnswers({true}), dir_(dir), elf_(std::move(elf)) {}
    void Drive(plat::HWND dialog) override {
      dir_.Write("show/later/helper", elf_);
      TAnswers::Drive(dialog);
    }

  private:
    const zmtest::TTempDir& dir_;
    std::string elf_;
  };
  {
    TUnpackingHand hand(dir, elf);
    ask(viewer + " " + show + "/holiday.jpg 3");
    EXPECT_EQ(hand.Asked.size(), 1u);
  }
  EXPECT_EQ(spawns.Starts.size(), 1u);
  EXPECT_EQ(log->Beginning("Show carries code: " + show + "/later/helper").size(), 1u);
  std::filesystem::remove_all(dir.Path() / "show" / "later");
  // A link out of the show: what lies there cannot be told apart from the show's.
  std::filesystem::create_directory_symlink(dir.Path() / "bin", dir.Path() / "show" / "more");
  ask(viewer + " " + show + "/holiday.jpg 4");
  EXPECT_EQ(log->Beginning("Show carries code: " + show + "/more"),
            std::vector<std::string>{"Show carries code: " + show +
                                     "/more (a link to a folder outside the show; nothing it asks to start is started)"});
  EXPECT_EQ(spawns.Starts.size(), 1u);
  zm::SetLog(nullptr);
}

// Arguments are judged whole, however long, in every form a program reads
// a path from: a piece of a value, glued to an option, with ".so" added.
// The data file that names a library is left to the look at the show.
TEST(ShowStarts, ArgumentsAreJudgedWholeInEveryForm) {
  zmtest::TTempDir dir;
  const TLoaders loaders(dir);
  dir.Write("elsewhere/fx.so", kElf + "code");
  dir.Write("elsewhere/fx.txt", "ladspa=f=" + (dir.Path() / "elsewhere/fx.so").string() + "\n");
  const std::string lib = (dir.Path() / "elsewhere" / "fx").string();
  std::vector<std::string> refused = loaders.Attacks(lib);
  refused.pop_back();
  std::string padding;
  while (padding.size() < 20000) padding += "x:";
  refused.push_back(loaders.Bin + "viewer " + padding + lib + ".so");
  refused.push_back(loaders.Bin + "viewer -vD" + lib + ".so");
  refused.push_back(loaders.Bin + "viewer --plugin=[file://" + lib + ".so]");
  for (const std::string& c : refused) EXPECT_TRUE(StartsRefusedProgram(plat::FromUtf8(c), {})) << c.substr(0, 200);
  // Ordinary options and values.
  for (const std::string& c :
       {loaders.Attacks(lib).back(), loaders.Bin + "ffmpeg -i in.mp4 -vf scale=320:240,fps=25 -af volume=2 out.mp4",
        loaders.Bin + "viewer -Dfx " + padding, loaders.Bin + "sox in.wav out.wav rate 44100",
        loaders.Bin + "viewer " + (dir.Path() / "elsewhere" / "fx.txt").string()})
    EXPECT_FALSE(StartsRefusedProgram(plat::FromUtf8(c), {})) << c.substr(0, 200);
}

namespace {

void PutLe(std::string& out, std::uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out += char(i < 8 ? (v >> (8 * i)) & 0xFF : 0);
}

// A zip of empty stored entries by these names, after Before (data put in
// front of it), its central directory where the end record says.
std::string ZipListing(const std::vector<std::string>& names, const std::string& before = {}) {
  std::string data = before, directory;
  for (const std::string& name : names) {
    const std::uint64_t at = data.size() - before.size();
    data += "PK\x03\x04";
    PutLe(data, 10, 2);
    PutLe(data, 0, 22);
    PutLe(data, name.size(), 2);
    PutLe(data, 0, 2);
    data += name;
    directory += "PK\x01\x02";
    PutLe(directory, 20, 2);
    PutLe(directory, 10, 2);
    PutLe(directory, 0, 20);
    PutLe(directory, name.size(), 2);
    PutLe(directory, 0, 12);
    PutLe(directory, at, 4);
    directory += name;
  }
  const std::uint64_t directoryAt = data.size() - before.size();
  data += directory + "PK\x05\x06";
  PutLe(data, 0, 4);
  PutLe(data, names.size(), 2);
  PutLe(data, names.size(), 2);
  PutLe(data, directory.size(), 4);
  PutLe(data, directoryAt, 4);
  PutLe(data, 0, 2);
  return data;
}

}  // namespace

// Documents the desktop opens by running what they hold are refused as
// programs are: by every name of the list, and whatever their name by
// content (Windows and Linux programs, scripts, shell links, compound
// files, Java archives however their directory lies). Pictures, PDF, text,
// office documents and media still reach the question.
TEST(ShowStarts, DocumentsThatRunCodeAreRefused) {
  zmtest::TTempDir dir;
  std::vector<std::string> refused;
  for (const char* ending : {".jnlp", ".bat", ".cmd", ".com", ".exe", ".scr", ".pif", ".cpl", ".msi", ".msp", ".lnk",
                             ".url", ".vbs", ".vbe", ".js", ".jse", ".wsf", ".wsh", ".hta", ".ps1", ".psm1", ".reg",
                             ".jar", ".desktop", ".appimage", ".run", ".sh", ".BAT", ".Jnlp"})
    refused.push_back(dir.Write(std::string("named/readme") + ending, "just text\n"));
  std::vector<std::string> many;
  for (int i = 0; i < 5000; ++i) many.push_back("images/photo" + std::to_string(i) + ".jpg");
  many.insert(many.begin() + 2500, "meta-inf/Manifest.mf");
  const std::vector<std::string> contents = {
      "MZ\x90\x00", kElf, "#!/bin/sh\n", std::string("\x4C\x00\x00\x00\x01\x14\x02\x00\x00\x00", 10),
      "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", ZipListing({"META-INF/MANIFEST.MF", "a.class"}),
      // The directory past the first and last 64 KiB, after a picture.
      ZipListing(many, "\xFF\xD8\xFF\xE0" + std::string(100000, 'x'))};
  for (std::size_t i = 0; i < contents.size(); ++i)
    refused.push_back(dir.Write("content" + std::to_string(i) + "/holiday.jpg", contents[i]));

  TWatchedSpawner spawns;
  TBoxCount boxes;
  zm::THookScope<zm::TWndAPI*> api(zm::WndAPIClass, &boxes);
  TAnswers asked({});
  TStartAnswers answers;
  for (const std::string& document : refused) {
    EXPECT_TRUE(StartsRefusedProgram(plat::FromUtf8(document), {})) << document;
    EXPECT_FALSE(ShowMayStart(nullptr, answers, plat::FromUtf8(document), {}, false));
    EXPECT_FALSE(ShowMayStart(nullptr, answers, plat::FromUtf8("file://" + document), {}, false));
  }
  EXPECT_EQ(boxes.Count, 2 * int(refused.size()));
  EXPECT_TRUE(asked.Asked.empty());

  const std::vector<std::string> documents = {
      dir.Write("docs/holiday.jpg", "\xFF\xD8\xFF\xE0 JFIF"), dir.Write("docs/readme.pdf", "%PDF-1.4\n"),
      dir.Write("docs/notes.txt", "notes\n"),
      dir.Write("docs/notes.odt", ZipListing({"mimetype", "content.xml", "META-INF/manifest.xml"})),
      dir.Write("docs/report.docx", ZipListing({"[Content_Types].xml", "word/document.xml"})),
      dir.Write("docs/song.mp3", "ID3\x04"), dir.Write("docs/clip.mp4", std::string("\0\0\0\x18" "ftypmp42", 12))};
  for (const std::string& document : documents)
    EXPECT_FALSE(ShowMayStart(nullptr, answers, plat::FromUtf8(document), {}, false));
  EXPECT_EQ(asked.Asked.size(), documents.size());
  EXPECT_EQ(boxes.Count, 2 * int(refused.size()));
  EXPECT_TRUE(spawns.Starts.empty());
}

// Refused on a principle: an option's value that holds blanks or a shell's
// characters is judged word by word; programs whose options run a program
// or a shell line, or that write or replace the files they are given, and
// whole families of tools, are refused as what really runs (documents named
// like them still ask); players and viewers are refused the options that
// run code or write. Documents are refused by what opening them does:
// macro-enabled office kinds, packages and scripts by name as the desktop
// takes it (trailing dots and blanks dropped, case folded); office
// documents with macros and packages by content whatever their name, also
// as a program's argument; an office suite's macro links.
TEST(ShowStarts, RefusedOnAPrinciple) {
  zmtest::TTempDir dir;
  const std::string bin = (dir.Path() / "bin").string() + "/";
  for (const char* name : {"viewer", "scrot", "gpg", "dpkg-deb", "sort", "gzip", "xz", "update-alternatives",
                           "systemd-sysusers", "javadoc", "xkbcomp", "ip", "llvm-objcopy", "x86_64-linux-gnu-gnatbind",
                           "mpv", "feh", "mpg123", "date", "gcov", "postw32-3.2.2"})
    Executable(dir, std::string("bin/") + name, kElf);
  const std::string show = (dir.Path() / "show").string() + "/";
  dir.Write("show/holiday.jpg", "\xFF\xD8\xFF\xE0 JFIF");
  const std::string basic = dir.Write("show/basic.odt", zmtest::Zipped({{"mimetype", "application/vnd.oasis.opendocument.text"},
                                                                       {"content.xml", "<office:document-content/>"},
                                                                       {"Basic/Standard/Module1.xml", "<x/>"},
                                                                       {"META-INF/manifest.xml", "<m/>"}}));
  const std::string bound = dir.Write(
      "show/bound.odp", zmtest::Zipped({{"mimetype", "application/vnd.oasis.opendocument.presentation"},
                                        {"content.xml", "<script:event-listener xlink:href=\"vnd.sun.star.script:"
                                                        "../../program/x.py$run?language=Python\"/>"},
                                        {"META-INF/manifest.xml", "<m/>"}}));
  const std::string flat = dir.Write("show/flat.fodt", "<?xml version=\"1.0\"?><office:document><office:scripts>"
                                                       "<office:script script:language=\"ooo:Basic\"><ooo:libraries>"
                                                       "<ooo:library-embedded ooo:name=\"Standard\"/>");
  const std::string vba = dir.Write("show/report.docx", zmtest::Zipped({{"[Content_Types].xml", "<t/>"},
                                                                        {"word/document.xml", "<w/>"},
                                                                        {"word/vbaProject.bin", "\xD0\xCF\x11\xE0"}}));
  const std::string deb = dir.Write("show/photo.jpg", "!<arch>\ndebian-binary   0           0     0     100644  4");
  const std::string rpm = dir.Write("show/guide.pdf", "\xED\xAB\xEE\xDB\x03\x00");
  const std::string appx = dir.Write("show/app.zip", zmtest::Zipped({{"AppxManifest.xml", "<Package/>"}}));
  std::vector<std::string> refused = {
      bin + "viewer \"-erm -f " + show + "holiday.jpg\"", bin + "viewer \"--exec=rm -f x\"",
      bin + "viewer \"-e'rm'\"", bin + "viewer \"-cx;rm -f y\"", bin + "scrot \"-etouch x\"",
      bin + "gpg --photo-viewer x", bin + "dpkg-deb -x pkg.deb " + show, bin + "sort -o " + show + "holiday.jpg x",
      bin + "gzip " + show + "holiday.jpg", bin + "xz " + show + "holiday.jpg", bin + "update-alternatives --all",
      bin + "systemd-sysusers x.conf", bin + "javadoc -doclet X x.java", bin + "xkbcomp x :0", bin + "ip -b x",
      bin + "llvm-objcopy x", bin + "x86_64-linux-gnu-gnatbind x", bin + "gcov x", bin + "postw32-3.2.2 x", bin + "mpv --script=" + show + "x.lua clip.mp4",
      bin + "feh --action echo " + show + "holiday.jpg", bin + "feh -A x " + show + "holiday.jpg",
      bin + "mpg123 -w " + show + "holiday.jpg song.mp3", bin + "viewer " + basic, bin + "viewer macro:///Standard.M.Run",
      bin + "viewer vnd.sun.star.script:x.py$run", basic, bound, flat, vba, deb, rpm, appx};
  for (const char* name : {"x.docm", "x.XLSM", "x.pptm", "x.deb", "x.rpm", "x.snap", "x.flatpak", "x.flatpakref",
                           "x.flatpakrepo", "x.py", "x.pyz", "x.bash", "x.csh", "x.command", "x.sh.", "x.sh . ",
                           "x.SH", "x.\u017Fh", "x.py\u200B"})
    refused.push_back(dir.Write(std::string("named/") + name, "just text\n"));
  for (const std::string& c : refused) EXPECT_TRUE(StartsRefusedProgram(plat::FromUtf8(c), {})) << c;

  TWatchedSpawner spawns;
  TBoxCount boxes;
  zm::THookScope<zm::TWndAPI*> api(zm::WndAPIClass, &boxes);
  TAnswers asked({});
  TStartAnswers answers;
  const std::vector<std::string> stillAsked = {
      bin + "viewer \"--title=Holiday in Rome\" " + show + "holiday.jpg", bin + "viewer -vfx " + show + "holiday.jpg",
      bin + "mpv --fullscreen " + show + "holiday.jpg", bin + "feh -F " + show + "holiday.jpg",
      bin + "mpg123 -q song.mp3", dir.Write("show/date.jpg", "\xFF\xD8\xFF\xE0"),
      dir.Write("show/sort.pdf", "%PDF-1.4\n"),
      dir.Write("show/notes.odt", zmtest::Zipped({{"mimetype", "application/vnd.oasis.opendocument.text"},
                                                  {"content.xml", "<office:document-content>macro language</x>"},
                                                  {"META-INF/manifest.xml", "<m/>"}})),
      dir.Write("show/plain.docx", zmtest::Zipped({{"[Content_Types].xml", "<t/>"}, {"word/document.xml", "<w/>"}}))};
  for (const std::string& c : stillAsked) EXPECT_FALSE(ShowMayStart(nullptr, answers, plat::FromUtf8(c), {}, false)) << c;
  EXPECT_EQ(asked.Asked.size(), stillAsked.size());
  EXPECT_EQ(boxes.Count, 0);
  EXPECT_TRUE(spawns.Starts.empty());
}

namespace {

// How many pixels of two questions' lines differ by more than 40 of 255 in
// a colour channel (lines of other sizes: all their pixels).
int QuestionPixelsApart(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b) {
  if (a.size() != b.size()) return int(std::max(a.size(), b.size()));
  int apart = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    int most = 0;
    for (int shift = 0; shift < 24; shift += 8)
      most = std::max(most, std::abs(int((a[i] >> shift) & 0xFF) - int((b[i] >> shift) & 0xFF)));
    apart += most > 40;
  }
  return apart;
}

}  // namespace

// The look-alikes that the question drew alike before, each pair drawn by
// the real dialog: an empty glyph, an Armenian letter drawn as L, a dot
// above i hidden in its own, a dotless j, Lisu and Latin letters drawn
// alike and others of the kind; each pair now draws clearly apart. A mark
// that shows too little on its letter is shown as its code point.
TEST(ShowStarts, LookAlikesOfTheFontDrawApart) {
  if (!QuestionFaceIsKnown(TQuestionInk())) GTEST_SKIP() << "the question's font is not DejaVu Sans";
  const std::vector<std::pair<WideString, WideString>> pairs = {
      {u"ab", u"a\uFFFCb"},        {u"LOG", u"\u053COG"},   {u"file", u"fi\u0307le"}, {u"jam", u"\u0237am"},
      {u"x\uA780", u"x\uA4F6"},    {u"x\u07C3", u"x\u2132"}, {u"x\u1401", u"x\u2207"}, {u"\u0427", u"\uA78D"},
      {u"tell", u"tel\u0307l"},    {u"\u03BB", u"\u03BB\u0301"}};
  TQuestionPixels question;
  const WideString same = u"https://example.org/" + pairs[0].second;
  EXPECT_EQ(QuestionPixelsApart(question.Of(same), question.Of(same)), 0);
  for (const auto& [a, b] : pairs) {
    const std::vector<std::uint32_t> first = question.Of(u"https://example.org/" + a),
                                      second = question.Of(u"https://example.org/" + b);
    ASSERT_FALSE(first.empty());
    EXPECT_GE(QuestionPixelsApart(first, second), kPixelsApart) << plat::ToUtf8(a) << " | " << plat::ToUtf8(b);
  }
  EXPECT_EQ(VisibleCommand(u"\u03BB\u0301 i\u0307 \u0456\u0307 \uFFFC"), u"\u03BB[U+0301]\u2423i[U+0307]\u2423[U+0456][U+0307]\u2423[U+FFFC]");
}
