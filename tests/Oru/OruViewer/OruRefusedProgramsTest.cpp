// What a show may not start: the program that would really run is checked
// against the refused categories (a script by its interpreter, a starter by
// what it starts), its arguments for commands and code, and what the
// desktop's opener gets by its name and content.
#include <gtest/gtest.h>

#include "tests/Oru/OruViewer/ShowStartsKit.h"

using namespace oru;
using namespace orutest;

TEST(RefusedPrograms, TheProgramThatWouldRunIsChecked) {
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

// Every member of every category, as a program of its own in the show's
// reach, is refused by the planner that starts commands; so are the
// commands that got through before (each with the file it runs), and any
// program given a response file. Commands of programs in no category, and
// documents, still reach the question.
TEST(RefusedPrograms, RefusedCategoriesAndWhatStillAsks) {
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
TEST(RefusedPrograms, WhatTheOpenerGetsIsJudgedByItsContent) {
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

// A program is judged by what really runs: a script by its interpreter
// (env followed to the program it looks up, chains of scripts followed),
// whatever the script's own name; what cannot be told is refused.
TEST(RefusedPrograms, ScriptsAreJudgedByWhatReallyRuns) {
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
TEST(RefusedPrograms, ArgumentsThatCarryACommandOrCodeAreRefused) {
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
TEST(RefusedPrograms, ProgramsThatRanCodeOfAShowAreRefused) {
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

// Arguments are judged whole, however long, in every form a program reads
// a path from: a piece of a value, glued to an option, with ".so" added.
// The data file that names a library is left to the look at the show.
TEST(RefusedPrograms, ArgumentsAreJudgedWholeInEveryForm) {
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
TEST(RefusedPrograms, DocumentsThatRunCodeAreRefused) {
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
TEST(RefusedPrograms, RefusedOnAPrinciple) {
  zmtest::TTempDir dir;
  const std::string bin = (dir.Path() / "bin").string() + "/";
  for (const char* name : {"viewer", "scrot", "gpg", "dpkg-deb", "sort", "gzip", "xz", "update-alternatives",
                           "systemd-sysusers", "javadoc", "xkbcomp", "ip", "llvm-objcopy", "x86_64-linux-gnu-gnatbind",
                           "mpv", "feh", "mpg123", "date", "gcov", "postw32-3.2.2", "ppmtompeg", "pic", "gpic",
                           "conjure", "display", "display-im6.q16", "convert-im6.q16", "mogrify-im6.q16",
                           "import-im6.q16", "montage-im7", "convert.q16", "python3.11", "appstreamcli"})
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
      bin + "viewer vnd.sun.star.script:x.py$run", basic, bound, flat, vba, deb, rpm, appx,
      // A parameter file's INPUT_CONVERT, an unsafe mode's sh, scripts, a
      // file written; Debian's names as their programs.
      bin + "ppmtompeg x.param", bin + "pic x.pic", bin + "gpic -U x.pic", bin + "conjure x.msl",
      bin + "display -write " + show + "holiday.jpg x.png", bin + "display-im6.q16 +write y x.png",
      bin + "convert-im6.q16 x.png y.png", bin + "mogrify-im6.q16 x.png", bin + "import-im6.q16 x.png",
      bin + "montage-im7 x.png", bin + "convert.q16 x.png", bin + "python3.11 x.py", bin + "appstreamcli install x"};
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
      bin + "mpg123 -q song.mp3", bin + "display " + show + "holiday.jpg", dir.Write("show/date.jpg", "\xFF\xD8\xFF\xE0"),
      dir.Write("show/pic.jpg", "\xFF\xD8\xFF\xE0"),
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
