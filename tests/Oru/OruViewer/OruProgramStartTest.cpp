// The start a command makes: links open a few at a time, attach nothing and
// never turn into a file.
#include <gtest/gtest.h>

#include "tests/Oru/OruViewer/ShowStartsKit.h"

using namespace oru;
using namespace orutest;

TEST(ProgramStart, LinksOpenAFewAtATimeAttachNothingAndNeverRunAFile) {
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

// What starts is the file the look opened, a script's interpreter alike: a
// link or a script swapped for another program after the start's last look
// (as a watcher does, between the look and the start) changes nothing. The
// program asked about runs with its arguments; the other never runs.
TEST(ProgramStart, WhatStartsIsWhatWasLookedAt) {
  const std::string touch = plat::FindProgram("touch", "");
  if (touch.empty()) GTEST_SKIP() << "no touch here";
  zmtest::TTempDir dir;
  const auto at = [&](const std::string& name) { return (dir.Path() / name).string(); };
  // The other program: a script of touch that leaves its mark.
  const std::string canary = Executable(dir, "elsewhere/canary", "#!" + touch + " " + at("canary-ran") + "\n");
  std::filesystem::create_directories(dir.Path() / "bin");
  std::filesystem::create_symlink(touch, at("bin/viewer"));
  const std::string script = Executable(dir, "bin/slides", "#!" + touch + " " + at("by-script") + "\n");

  TWatchedSpawner spawns;
  spawns.Forward = true;
  // At the start, after its last look: the link leads to the other program,
  // the other program lies where the script was.
  spawns.BeforeStart = [&] {
    std::filesystem::remove(at("bin/viewer"));
    std::filesystem::create_symlink(canary, at("bin/viewer"));
    std::filesystem::copy_file(canary, at("bin/slides.new"));
    std::filesystem::permissions(at("bin/slides.new"), std::filesystem::perms::owner_exec,
                                 std::filesystem::perm_options::add);
    std::filesystem::rename(at("bin/slides.new"), at("bin/slides"));
  };
  const auto reset = [&] {
    std::filesystem::remove(at("bin/viewer"));
    std::filesystem::create_symlink(touch, at("bin/viewer"));
    Executable(dir, "bin/slides", "#!" + touch + " " + at("by-script") + "\n");
  };
  // Started as the question starts it (asked, then the start looks again),
  // and as a command the show runs.
  TAnswers yes({true, true});
  TStartAnswers answers;
  std::vector<TApprovedCommand> approved;
  ASSERT_TRUE(ShowMayStart(nullptr, answers, plat::FromUtf8(at("bin/viewer") + " " + at("asked")), {}, false,
                           &approved));
  RunApproved(nullptr, approved, {}, &answers);
  reset();
  RunProgram(nullptr, plat::FromUtf8(at("bin/viewer") + " " + at("run")), {});
  reset();
  ASSERT_TRUE(ShowMayStart(nullptr, answers, plat::FromUtf8(script + " " + at("scripted")), {}, false, &approved));
  RunApproved(nullptr, approved, {}, &answers);
  EXPECT_EQ(spawns.Ran, (std::vector<std::string>{touch, touch, script}));
  // touch leaves its arguments behind, the other program's mark first.
  EXPECT_TRUE(Eventually([&] {
    return std::filesystem::exists(at("asked")) && std::filesystem::exists(at("run")) &&
           std::filesystem::exists(at("scripted")) && std::filesystem::exists(at("by-script"));
  }));
  EXPECT_FALSE(std::filesystem::exists(at("canary-ran")));
}
