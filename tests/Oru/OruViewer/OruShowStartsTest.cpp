// What a show may start: the question lists every command whole and holds
// for one command line only; links a show opens on its own are asked for; it
// takes no answer that was not read.
#include <gtest/gtest.h>

#include "OruLib2/OruClasses/zmOruSource2.h"
#include "ZmLib/zmIni.h"
#include "tests/Oru/OruViewer/ShowStartsKit.h"

using namespace oru;
using namespace orutest;

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

// A Start covers what the question listed: a command whose program was not
// there when asked never starts, not even once it appears; what starts is
// the file the question named, whatever its link leads to by then, and not
// once it was written over; a kept answer is asked again once the list
// would read otherwise or its file is another.
TEST(ShowStarts, AStartCoversOnlyWhatTheQuestionListed) {
  zmtest::TTempDir dir;
  const std::string viewer = std::filesystem::canonical(Executable(dir, "bin/viewer", "#!/bin/true\n")).string();
  const std::string other = std::filesystem::canonical(Executable(dir, "bin/other", "#!/bin/true\n")).string();
  const std::string later = (dir.Path() / "bin" / "later").string();
  const std::string link = (dir.Path() / "bin" / "named").string();
  std::filesystem::create_symlink(viewer, link);
  const WideString line = plat::FromUtf8(viewer + " x, " + later + " y");

  TWatchedSpawner spawns;
  TAnswers answers({true, true, true, true});
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

  // A link that leads elsewhere after the question: what the question
  // named starts, never what the link leads to now.
  const WideString byLink = plat::FromUtf8(link + " z");
  ASSERT_TRUE(ShowMayStart(nullptr, show, byLink, {}, false, &approved));
  std::filesystem::remove(link);
  std::filesystem::create_symlink(other, link);
  spawns.Starts.clear();
  spawns.Ran.clear();
  RunApproved(nullptr, approved, {});
  EXPECT_EQ(spawns.Starts, (std::vector<TArgs>{{link, "z"}}));
  EXPECT_EQ(spawns.Ran, std::vector<std::string>{viewer});
  // The same line again: the other program is asked for.
  ASSERT_TRUE(ShowMayStart(nullptr, show, byLink, {}, false, &approved));
  ASSERT_EQ(answers.Asked.size(), 4u);
  EXPECT_EQ(answers.Asked[3], std::vector<std::string>{Shown(other, {"z"})});
  // Written over after the question (the same file, another content): not
  // started; the next time it is asked for anew.
  std::ofstream(other, std::ios::trunc) << "#!/bin/true\n# another\n";
  spawns.Starts.clear();
  RunApproved(nullptr, approved, {});
  EXPECT_TRUE(spawns.Starts.empty());
  EXPECT_FALSE(ShowMayStart(nullptr, show, byLink, {}, false, &approved));
  EXPECT_EQ(answers.Asked.size(), 5u);
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

// A command line is measured before anything else is done with it: one
// longer than the system starts, or with a word longer than one argument
// may be, is refused at once and the log says why; nothing is planned,
// looked at, asked or started. A slide's command is made into a text no
// longer than one byte past what the system starts, whatever the show
// holds: the player ends with its quit.
TEST(ShowStarts, ALongCommandLineIsMeasuredFirst) {
  const std::size_t room = plat::ArgumentRoom();
  ASSERT_GT(room, 0u);
  auto* log = new TStartLog;
  zm::SetLog(log);
  TWatchedSpawner spawns;
  TAnswers asked({true, true});
  int looks = 0;
  TStartAnswers answers;
  answers.SetCodeLook([&] {
    ++looks;
    return TCarriedCode();
  });
  std::string colons;
  for (int i = 0; colons.size() <= room; ++i) colons += "p" + std::to_string(i) + ":";
  const WideString longLine = u"/usr/bin/true " + plat::FromUtf8(colons);
  const WideString longWord = u"/usr/bin/true " + WideString(plat::MaxArgumentBytes(), u'x');
  for (const WideString& line : {longLine, longWord, u"https://example.org/" + plat::FromUtf8(colons)})
    EXPECT_FALSE(ShowMayStart(nullptr, answers, line, {}, true));
  RunProgram(nullptr, longLine, {});
  const std::vector<std::string> notStarted = log->Beginning("Not started (");
  ASSERT_EQ(notStarted.size(), 4u);
  for (const std::size_t i : {0u, 2u, 3u})
    EXPECT_EQ(notStarted[i].rfind("Not started (longer than the system starts: ", 0), 0u) << notStarted[i].substr(0, 200);
  EXPECT_EQ(notStarted[1].rfind("Not started (a word longer than the system starts: ", 0), 0u);
  // Only the first 1,000 characters of such a line reach the log.
  for (const std::string& line : notStarted) EXPECT_LT(line.size(), 1300u);
  EXPECT_EQ(looks, 0);
  EXPECT_TRUE(asked.Asked.empty());
  EXPECT_TRUE(spawns.Starts.empty());

  // The text made of a command three times as long as the system starts.
  const std::string huge = "/usr/bin/true " + colons + colons + colons;
  const zm::TRef<zm::TIniItem> item = zm::MakeRef<zm::TIniItem>(zm::TByteString("RunAppFN"), zm::TByteString(huge));
  EXPECT_EQ(ShowCommandText(item.get()).size(), room + 1);
  EXPECT_EQ(ShowCommandText(zm::MakeRef<zm::TIniItem>(zm::TByteString("RunAppFN"), zm::TByteString("/usr/bin/true x")).get()),
            u"/usr/bin/true x");
  // End to end: the show plays to its end, the command refused as it comes.
  zmtest::TTempDir dir;
  zmtest::TEnvGuard env;
  env.Set("ZM_AUDIO", "none");
  zmtest::TShowBuilder show((dir.Path() / "show").string());
  show.ScreenSize(160, 120).Main().Key("opt_scr_full", 0);
  show.Repeat("close");
  show.AddSlide(1000).SolidBackground(40, 60, 200).RunApp(huge);
  show.AddSlide(2000).SolidBackground(200, 60, 40);
  show.Write();
  log->Taken();
  const orutest::TInProcessRun run = orutest::PlayInProcess(
      u"player -filename \"" + plat::FromUtf8((dir.Path() / "show" / "Project.oru").string()) + u"\"", 50,
      [](std::int64_t time, const std::uint32_t*, int, int) { return time > 60000; });
  ASSERT_TRUE(run.Started);
  // Refused once, as made: one byte past what the system starts (what our
  // environment leaves of the room may have changed meanwhile).
  const std::string kLonger = "Not started (longer than the system starts: at least ";
  const std::vector<std::string> refused = log->Beginning(kLonger);
  ASSERT_EQ(refused.size(), 1u);
  const std::size_t made = std::stoull(refused[0].substr(kLonger.size()));
  EXPECT_LE(made, plat::ArgumentRoom() + 1 + 4096);
  EXPECT_GT(made, room / 2);
  EXPECT_TRUE(spawns.Starts.empty());
  zm::SetLog(nullptr);
}
