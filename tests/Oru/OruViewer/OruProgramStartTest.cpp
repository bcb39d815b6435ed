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
