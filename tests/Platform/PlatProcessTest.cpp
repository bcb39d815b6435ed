#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "Platform/PlatProcess.h"
#include "Platform/PlatScreenSaver.h"
#include "Platform/PlatSystem.h"
#include "Platform/PlatUtf8.h"
#include "tests/support/TempDir.h"
#include "tests/support/kit/PackedWriter.h"

namespace {

// Records the starts instead of making them.
class TSpawnLog : public plat::IProcessSpawner {
 public:
  int Spawn(const plat::TSpawnRequest& request) override {
    Calls.push_back({request.Program, request.Argv, request.Dir, request.Search});
    return Error;
  }
  struct TCall {
    std::string Program;
    std::vector<std::string> Argv;
    std::string Dir;
    bool Search;
  };
  std::vector<TCall> Calls;
  int Error = 0;
};

class ShellStart : public ::testing::Test {
 protected:
  void SetUp() override { previous_ = plat::SetProcessSpawner(&rec); }
  void TearDown() override { plat::SetProcessSpawner(previous_); }
  std::string Executable(const std::string& relative) {
    std::string p = dir.Write(relative, "#!/bin/true\n");
    std::filesystem::permissions(p, std::filesystem::perms::owner_exec, std::filesystem::perm_options::add);
    return p;
  }
  TSpawnLog rec;
  zmtest::TTempDir dir;
  plat::IProcessSpawner* previous_ = nullptr;
};

// A look at a folder of at most Entries entries.
plat::TCodeLook LookOf(std::size_t entries) {
  plat::TCodeLook look;
  look.MaxEntries = entries;
  return look;
}

// The system's touch, or empty when it has none.
std::string SystemTool(const char* name) {
  for (const char* folder : {"/usr/bin/", "/bin/"}) {
    const std::string p = std::string(folder) + name;
    std::error_code ec;
    if (std::filesystem::is_regular_file(p, ec)) return p;
  }
  return {};
}

// The names in Folder once all of Wanted are there, polling for at most a
// generous while (a started program runs on its own).
std::set<std::string> NamesOnceThere(const std::filesystem::path& folder, const std::set<std::string>& wanted) {
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

TEST(ShellStartText, UrlSchemes) {
  EXPECT_TRUE(plat::HasUrlScheme(u"HTTPS://x"));
  EXPECT_TRUE(plat::HasUrlScheme(u"mailto:a@b"));
  EXPECT_FALSE(plat::HasUrlScheme(u"C:\\x.exe"));  // a drive, not a scheme
  EXPECT_FALSE(plat::HasUrlScheme(u"1http://x"));
  EXPECT_FALSE(plat::HasUrlScheme(u"my file:x"));
  EXPECT_FALSE(plat::HasUrlScheme(u""));
}

// A "file:" link names every path an opener may read it as; other links none.
TEST(ShellStartText, FilesOfLinks) {
  using TFiles = std::vector<std::string>;
  EXPECT_EQ(plat::FilesOfLink("file:///a%20b.desktop"), (TFiles{"/a b.desktop", "/a%20b.desktop"}));
  EXPECT_EQ(plat::FilesOfLink("FILE://localhost/x?y#z"), (TFiles{"/x?y#z", "/x"}));
  EXPECT_EQ(plat::FilesOfLink("file://other.host/x"), TFiles{"/x"});
  EXPECT_EQ(plat::FilesOfLink("file:/x%"), TFiles{"/x%"});
  EXPECT_EQ(plat::FilesOfLink("file:x"), TFiles{std::filesystem::current_path().string() + "/x"});
  EXPECT_TRUE(plat::FilesOfLink("file://host").empty());
  EXPECT_TRUE(plat::FilesOfLink("https://x/file:///a.desktop").empty());
  EXPECT_TRUE(plat::FilesOfLink("fil").empty());
}

// What a file holds decides, not its name: a Java archive is known by the
// manifest in its directory at the end too; the office formats' lower-case
// manifest is no Java archive; a device is never read.
TEST_F(ShellStart, FileContentWhateverTheName) {
  using plat::TFileContent;
  const std::string entry = std::string("PK\x03\x04", 4);
  EXPECT_EQ(plat::FileContentOf(dir.Write("a.jpg", "#!/bin/sh\n")), TFileContent::Script);
  EXPECT_EQ(plat::FileContentOf(dir.Write("b.odt", entry + "META-INF/manifest.xml")), TFileContent::Data);
  EXPECT_EQ(plat::FileContentOf(dir.Write("c.zip", entry + std::string(200000, 'x') + "META-INF/MANIFEST.MF")),
            TFileContent::JavaArchive);
  EXPECT_EQ(plat::FileContentOf(dir.Write("d.txt", "")), TFileContent::Data);
  EXPECT_EQ(plat::FileContentOf(dir.Write("e", "x\n[desktop entry]\n")), TFileContent::DesktopEntry);
  EXPECT_EQ(plat::FileContentOf(dir.Path().string()), TFileContent::Folder);
  EXPECT_EQ(plat::FileContentOf((dir.Path() / "missing").string()), TFileContent::Missing);
  EXPECT_EQ(plat::FileContentOf(std::string("/a\0b", 4)), TFileContent::Missing);
  EXPECT_EQ(plat::FileContentOf("/dev/zero"), TFileContent::Special);
  EXPECT_EQ(plat::FileContentOf(dir.Write("f.txt", std::string("\x4C\0\0\0\x01\x14\x02\0\0\0", 10))),
            TFileContent::ShellLink);
  EXPECT_EQ(plat::FileContentOf(dir.Write("g.doc", "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1")), TFileContent::OleCompound);
  EXPECT_EQ(plat::FileContentOf(dir.Write("h.zip", zmtest::Zipped({{"xl/vbaProject.bin", "x"}}))),
            TFileContent::OfficeMacros);
  EXPECT_EQ(plat::FileContentOf(dir.Write("i.jpg", "!<arch>\ndebian-binary")), TFileContent::Package);
}

// The first bytes tell code, four at most read; a folder's files are looked
// through, its subfolders too, a link to a folder of its own not entered,
// the show's container judged by its first bytes, no more entries than asked.
TEST_F(ShellStart, CodeInAFolder) {
  EXPECT_TRUE(plat::StartsAsCode(dir.Write("a/lib", std::string("\x7F" "ELF", 4))));
  EXPECT_TRUE(plat::StartsAsCode(dir.Write("a/run", "#!")));
  EXPECT_FALSE(plat::StartsAsCode(dir.Write("a/x.dll", "MZ\x90")));
  EXPECT_FALSE(plat::StartsAsCode(dir.Write("a/e", "#")));
  EXPECT_FALSE(plat::StartsAsCode("/dev/zero"));
  dir.Write("show/photos/1.jpg", "\xFF\xD8");
  std::filesystem::create_directory_symlink(dir.Path() / "show" / "photos", dir.Path() / "show" / "linked");
  plat::TCodeLook look;
  look.MaxEntries = 100;
  EXPECT_EQ(plat::FindCodeInFolder((dir.Path() / "show").string(), look).Found, "");
  std::filesystem::create_symlink(dir.Path() / "a" / "lib", dir.Path() / "show" / "photos" / "2.jpg");
  const plat::TCodeSearch found = plat::FindCodeInFolder((dir.Path() / "show").string(), look);
  EXPECT_EQ(found.Found, (dir.Path() / "show" / "photos" / "2.jpg").string());
  EXPECT_TRUE(found.Complete);
  // The show's container, by any name, is judged by its first bytes, and
  // passes only when it begins with the player's own program.
  plat::TCodeLook container = look;
  container.Container = (dir.Path() / "a" / "lib").string();
  EXPECT_EQ(plat::FindCodeInFolder((dir.Path() / "show").string(), container).Found,
            (dir.Path() / "show" / "photos" / "2.jpg").string());
  container.ContainerIsPlayer = true;
  EXPECT_EQ(plat::FindCodeInFolder((dir.Path() / "show").string(), container).Found, "");
  plat::TCodeLook few = look;
  few.MaxEntries = 2;
  const plat::TCodeSearch cut = plat::FindCodeInFolder((dir.Path() / "show").string(), few);
  EXPECT_FALSE(cut.Complete);
  EXPECT_EQ(cut.Found, "");
}

// The look fails closed: a link to a folder outside the show, one that
// leads nowhere, a device, packed data that holds code or that cannot be
// judged each count, and one named; a packed file changed since the last
// look is looked into again.
TEST_F(ShellStart, TheLookAtAFolderFailsClosed) {
  const std::string elf = std::string("\x7F" "ELF\x02", 5) + std::string(100, '\0');
  const auto look = [&](const std::string& show) {
    dir.Write(show + "/photos/1.jpg", "\xFF\xD8\xFF\xE0");
    return plat::FindCodeInFolder((dir.Path() / show).string(), LookOf(1000));
  };
  const auto path = [&](const std::string& relative) { return (dir.Path() / relative).string(); };
  dir.Write("elsewhere/x", "x");
  dir.Write("out/photos/1.jpg", "\xFF\xD8\xFF\xE0");
  std::filesystem::create_directory_symlink(dir.Path() / "elsewhere", dir.Path() / "out" / "photos" / "more");
  std::filesystem::create_directories(dir.Path() / "nowhere");
  std::filesystem::create_symlink(dir.Path() / "missing", dir.Path() / "nowhere" / "helper");
  std::filesystem::create_directories(dir.Path() / "device");
  std::filesystem::create_symlink("/dev/null", dir.Path() / "device" / "null.jpg");
  dir.Write("packed/tools.tgz", zmtest::Gzipped(zmtest::Tarred({{"a.jpg", "\xFF\xD8"}, {"bin/helper", elf}})));
  const std::string gz = zmtest::Gzipped(std::string(5000, 'p'));
  dir.Write("damaged/photos.gz", gz.substr(0, gz.size() / 2));
  const std::vector<std::tuple<std::string, std::string, std::string, std::string>> cases = {
      {"out", "out/photos/more", "a link to a folder outside the show", ""},
      {"nowhere", "nowhere/helper", "a link that leads nowhere the look can read", ""},
      {"device", "device/null.jpg", "a device, pipe or socket", ""},
      {"packed", "packed/tools.tgz", "", "|tools.tar|bin/helper"},
      {"damaged", "damaged/photos.gz", "packed data that cannot be judged: damaged", "|photos"}};
  for (const auto& [show, found, reason, inside] : cases) {
    const plat::TCodeSearch search = look(show);
    EXPECT_EQ(search.Found, path(found)) << show;
    EXPECT_EQ(search.Reason, reason) << show;
    EXPECT_EQ(search.Inside, inside) << show;
  }
  dir.Write("changed/tools.tar", zmtest::Tarred({{"a.jpg", "\xFF\xD8"}}));
  EXPECT_EQ(look("changed").Found, "");
  dir.Write("changed/tools.tar", zmtest::Tarred({{"a.jpg", elf}}));
  EXPECT_EQ(look("changed").Inside, "|a.jpg");
}

// A folder that one may enter but not list (mode 0111), and a file one may
// not read, count for a user the modes bind. The look is made as another
// user where this process reads anything (root).
TEST_F(ShellStart, WhatAnotherUserCannotReadCounts) {
  std::string folder;
  if (plat::GetEnv("ZM_TEST_LOOK_AS_OTHER", folder)) {
    // The second run, as that user.
    EXPECT_EQ(plat::FindCodeInFolder(folder + "/hidden", LookOf(100)).Found, folder + "/hidden/tools") << "folder";
    EXPECT_EQ(plat::FindCodeInFolder(folder + "/hidden", LookOf(100)).Reason, "a folder that cannot be read");
    EXPECT_EQ(plat::FindCodeInFolder(folder + "/closed", LookOf(100)).Found, folder + "/closed/helper") << "file";
    EXPECT_EQ(plat::FindCodeInFolder(folder + "/closed", LookOf(100)).Reason, "cannot be read");
    return;
  }
  namespace fs = std::filesystem;
  using fs::perms;
  dir.Write("hidden/tools/helper", std::string("\x7F" "ELF", 4));
  dir.Write("closed/helper", std::string("\x7F" "ELF", 4));
  fs::permissions(dir.Path(), perms::owner_all | perms::group_read | perms::group_exec | perms::others_read |
                                  perms::others_exec);
  for (const char* f : {"hidden", "closed"})
    fs::permissions(dir.Path() / f, perms::owner_all | perms::group_read | perms::group_exec | perms::others_read |
                                        perms::others_exec);
  fs::permissions(dir.Path() / "hidden" / "tools", perms::owner_exec | perms::group_exec | perms::others_exec);
  fs::permissions(dir.Path() / "closed" / "helper", perms::owner_exec | perms::group_exec | perms::others_exec);
  std::error_code ec;
  const bool readsAnything = fs::directory_iterator(dir.Path() / "hidden" / "tools", ec) != fs::directory_iterator();
  if (!readsAnything && ec) {
    EXPECT_EQ(plat::FindCodeInFolder((dir.Path() / "hidden").string(), LookOf(100)).Reason, "a folder that cannot be read");
    EXPECT_EQ(plat::FindCodeInFolder((dir.Path() / "closed").string(), LookOf(100)).Reason, "cannot be read");
  } else {
    if (!fs::exists("/usr/bin/setpriv")) GTEST_SKIP() << "root, and no setpriv to look as another user";
    const std::string command = "ZM_TEST_LOOK_AS_OTHER=" + plat::QuoteArgument(dir.Path().string()) +
                                " /usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups " +
                                plat::QuoteArgument(plat::ProgramPath()) +
                                " --gtest_filter=ShellStart.WhatAnotherUserCannotReadCounts > /dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
  }
  fs::permissions(dir.Path() / "hidden" / "tools", perms::owner_all);
  fs::permissions(dir.Path() / "closed" / "helper", perms::owner_all);
}

// The "#!" line as the system reads it: one argument, the rest of the
// line; a line end it does not find within 256 bytes cuts the argument but
// not the interpreter's name.
TEST_F(ShellStart, InterpreterLines) {
  struct TLine {
    std::string Text;
    bool Script;
    std::string Interpreter, Argument;
  };
  const std::string longName = "/" + std::string(300, 'x');
  const std::vector<TLine> lines = {
      {"#!/bin/sh\necho\n", true, "/bin/sh", ""},
      {"#! /usr/bin/python3 -u\n", true, "/usr/bin/python3", "-u"},
      {"#!/usr/bin/env  -S perl -w \t\n", true, "/usr/bin/env", "-S perl -w"},
      {"#!/bin/sh\r\n", true, "/bin/sh\r", ""},
      {"#!/bin/true", true, "/bin/true", ""},
      {std::string("#!/bin/x a\0b\n", 13), true, "/bin/x", "a"},
      {std::string("#!/bin/x\0 a\n", 13), true, "/bin/x", ""},
      {"#!/bin/x " + std::string(300, 'a'), true, "/bin/x", std::string(255 - 9, 'a')},
      {"#!" + longName, false, "", ""},
      {"#!" + longName.substr(0, 251) + "\n", true, longName.substr(0, 251), ""},
      {"#!\n/bin/sh\n", false, "", ""},
      {"#! \t \n", false, "", ""},
      {" #!/bin/sh\n", false, "", ""},
      {"", false, "", ""}};
  for (const TLine& l : lines) {
    std::string interpreter = "?", argument = "?";
    EXPECT_EQ(plat::InterpreterOf(dir.Write("script", l.Text), interpreter, argument), l.Script) << l.Text;
    EXPECT_EQ(interpreter, l.Interpreter) << l.Text;
    EXPECT_EQ(argument, l.Argument) << l.Text;
  }
  std::string interpreter, argument;
  EXPECT_FALSE(plat::InterpreterOf(dir.Path().string(), interpreter, argument));
  EXPECT_FALSE(plat::InterpreterOf((dir.Path() / "missing").string(), interpreter, argument));
  EXPECT_FALSE(plat::InterpreterOf("/dev/zero", interpreter, argument));
}

TEST_F(ShellStart, LinksProgramsDocumentsAndMissingFiles) {
  EXPECT_EQ(plat::ShellExecute(u"http://example.org/a b", {}, u""), plat::kShellStarted);
  ASSERT_EQ(rec.Calls.size(), 1u);
  EXPECT_EQ(rec.Calls[0].Program, "xdg-open");
  EXPECT_TRUE(rec.Calls[0].Search);
  EXPECT_EQ(rec.Calls[0].Argv, (std::vector<std::string>{"xdg-open", "http://example.org/a b"}));

  // A program in a folder with blanks, named relative to the folder given,
  // in another letter case: started directly, never through a shell.
  std::string prog = Executable("my tools/Run.sh");
  EXPECT_EQ(plat::ShellExecute(u"MY TOOLS\\run.sh", {u"a;b", u">x"}, dir.Wide()), plat::kShellStarted);
  ASSERT_EQ(rec.Calls.size(), 2u);
  EXPECT_EQ(rec.Calls[1].Program, prog);
  EXPECT_FALSE(rec.Calls[1].Search);
  EXPECT_EQ(rec.Calls[1].Argv, (std::vector<std::string>{prog, "a;b", ">x"}));
  EXPECT_EQ(rec.Calls[1].Dir, dir.Path().string());

  // A document goes to its desktop program without parameters.
  std::string doc = dir.Write("notes.txt", "x");
  EXPECT_EQ(plat::ShellExecute(dir.Wide("notes.txt"), {u"ignored"}, u""), plat::kShellStarted);
  EXPECT_EQ(rec.Calls.back().Argv, (std::vector<std::string>{"xdg-open", doc}));

  const std::size_t before = rec.Calls.size();
  EXPECT_EQ(plat::ShellExecute(dir.Wide("missing.sh"), {}, u""), plat::kShellFileNotFound);
  EXPECT_EQ(plat::ShellExecute(dir.Wide("no folder\\missing.sh"), {}, u""), plat::kShellPathNotFound);
  EXPECT_EQ(plat::ShellExecute(u"", {}, u""), plat::kShellFileNotFound);
  EXPECT_EQ(rec.Calls.size(), before);

  // Spawn errors map to the shell's codes.
  rec.Error = 13;  // EACCES
  EXPECT_EQ(plat::ShellExecute(dir.Wide("my tools\\Run.sh"), {}, u""), plat::kShellAccessDenied);
  rec.Error = 7;  // E2BIG
  EXPECT_EQ(plat::ShellExecute(u"https://x", {}, u""), plat::kShellFailed);
}

TEST_F(ShellStart, NulCannotCutANameOrArgumentShort) {
  Executable("run.sh");
  Executable("run.sh.txt");
  const std::u16string nul(1, u'\0');
  // The name checked would be "run.sh.txt"; the system would see "run.sh".
  EXPECT_EQ(plat::ShellExecute(dir.Wide("run.sh") + nul + u".txt", {}, u""), plat::kShellFileNotFound);
  EXPECT_EQ(plat::ShellExecute(u"https://x" + nul + u"y", {}, u""), plat::kShellFileNotFound);
  EXPECT_EQ(plat::ShellExecute(u"run.sh", {}, dir.Wide() + nul + u"elsewhere"), plat::kShellPathNotFound);
  EXPECT_EQ(plat::ShellExecute(dir.Wide("run.sh"), {u"a", u"b" + nul + u"c"}, u""), plat::kShellFailed);
  EXPECT_TRUE(rec.Calls.empty());
}

// The real spawner: what a program receives is exactly the arguments given,
// so nothing in them is ever taken as shell syntax.
TEST(ShellStartReal, ArgumentsReachTheProgramAsGiven) {
  const std::string touch = SystemTool("touch");
  if (touch.empty()) GTEST_SKIP() << "no touch here";
  zmtest::TTempDir dir;
  std::filesystem::create_directory(dir.Path() / "sub");
  const std::vector<std::string> args{"a b", "it's", "\"quoted\"", "semi;colon", "pipe|line", "x&y", "$(touch pwned)",
                                      "`touch pwned`", "${HOME}", "~", "*", "a>b", "back\\slash", "tab\there",
                                      "new\nline", "..dots", "sub/../up", "Gr\u00fc\u00dfe", std::string(255, 'L')};
  std::vector<std::u16string> params;
  for (const std::string& a : args) params.push_back(plat::FromUtf8(a));
  ASSERT_EQ(plat::ShellExecute(plat::FromUtf8(touch), params, dir.Wide()), plat::kShellStarted);
  std::set<std::string> wanted(args.begin(), args.end());
  wanted.erase("sub/../up");
  wanted.insert({"up", "sub"});
  EXPECT_EQ(NamesOnceThere(dir.Path(), wanted), wanted);
}

TEST(ShellStartReal, StartsFromSeveralThreadsAtOnce) {
  const std::string touch = SystemTool("touch");
  if (touch.empty()) GTEST_SKIP() << "no touch here";
  zmtest::TTempDir dir;
  std::set<std::string> wanted;
  std::vector<std::thread> threads;
  std::vector<int> results(4 * 8, 0);
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 8; ++i)
        results[std::size_t(t * 8 + i)] = plat::ShellExecute(
            plat::FromUtf8(touch), {plat::FromUtf8("t" + std::to_string(t) + "-" + std::to_string(i))}, dir.Wide());
    });
  for (std::thread& th : threads) th.join();
  for (int t = 0; t < 4; ++t)
    for (int i = 0; i < 8; ++i) wanted.insert("t" + std::to_string(t) + "-" + std::to_string(i));
  EXPECT_EQ(results, std::vector<int>(4 * 8, plat::kShellStarted));
  EXPECT_EQ(NamesOnceThere(dir.Path(), wanted), wanted);
}

TEST(ShellStartReal, ScriptWithoutInterpreterAndOversizedArgumentStartNothing) {
  const std::string touch = SystemTool("touch");
  if (touch.empty()) GTEST_SKIP() << "no touch here";
  zmtest::TTempDir dir;
  // A shell would run this text; an executable must be one by itself.
  const std::string script = dir.Write("plain", "touch pwned\n");
  std::filesystem::permissions(script, std::filesystem::perms::owner_exec, std::filesystem::perm_options::add);
  EXPECT_EQ(plat::ShellExecute(plat::FromUtf8(script), {}, dir.Wide()), plat::kShellFailed);
  // Longer than one argument may be: refused at the start, not cut.
  EXPECT_EQ(plat::ShellExecute(plat::FromUtf8(touch), {std::u16string(200 * 1024, u'x')}, dir.Wide()),
            plat::kShellFailed);
  // Both failed in the start itself: there is nothing left running to wait for.
  EXPECT_FALSE(dir.Exists("pwned"));
}

TEST(InstanceLock, SecondHolderSeesTheFirstUntilItEnds) {
  zmtest::TTempDir dir;
  const std::string folder = dir.Path().string();
  const std::string name = "zm-test-instance";
  plat::TInstanceLock first, second, other;
  ASSERT_TRUE(first.Open(folder, name));
  EXPECT_TRUE(first.Owned());
  EXPECT_FALSE(first.HeldByAnother());
  EXPECT_EQ(first.FilePath(), folder + "/" + name + ".instance");
  ASSERT_TRUE(second.Open(folder + "/", name));
  EXPECT_FALSE(second.Owned());
  EXPECT_TRUE(second.HeldByAnother());
  ASSERT_TRUE(other.Open(folder, name + "/other"));  // a "/" cannot leave the folder
  EXPECT_TRUE(other.Owned());
  EXPECT_EQ(other.FilePath().find("/other"), std::string::npos);
  // The first ends and removes its file: the next ask takes the lock over,
  // under the name, where a third one sees it.
  first.Close();
  EXPECT_FALSE(std::filesystem::exists(first.FilePath()));
  EXPECT_FALSE(second.HeldByAnother());
  EXPECT_TRUE(second.Owned());
  EXPECT_TRUE(std::filesystem::exists(second.FilePath()));
  plat::TInstanceLock third;
  ASSERT_TRUE(third.Open(folder, name));
  EXPECT_TRUE(third.HeldByAnother());
  EXPECT_FALSE(first.HeldByAnother());  // closed: no answer but false
  // Nothing is left once every owner has ended.
  second.Close();
  third.Close();
  other.Close();
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
  EXPECT_FALSE(first.Open(dir.Path().string() + "/none", name));
  EXPECT_FALSE(first.Open("", name));
}

TEST(InstanceLock, ALinkUnderItsNameIsNotFollowed) {
  zmtest::TTempDir dir;
  const std::string target = dir.Write("elsewhere/precious", "keep");
  std::filesystem::create_symlink(target, dir.Path() / "saver.instance");
  plat::TInstanceLock lock;
  EXPECT_FALSE(lock.Open(dir.Path().string(), "saver"));
  lock.Close();
  EXPECT_EQ(dir.Read("elsewhere/precious"), "keep");
  EXPECT_TRUE(std::filesystem::is_symlink(dir.Path() / "saver.instance"));
}

TEST(ScreenSaver, SwitchedOffAndOnWithoutDisplay) {
  EXPECT_TRUE(plat::ScreenSaverEnabled());
  plat::SetScreenSaverEnabled(false);
  EXPECT_FALSE(plat::ScreenSaverEnabled());
  plat::SetScreenSaverEnabled(true);
  EXPECT_TRUE(plat::ScreenSaverEnabled());
}
