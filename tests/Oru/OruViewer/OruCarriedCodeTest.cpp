// The look for code a show carries: in its folder, its container and what
// they pack; a show that carries code starts nothing.
#include <gtest/gtest.h>

#include "tests/Oru/OruViewer/ShowStartsKit.h"

using namespace oru;
using namespace orutest;

// A show whose folder or container holds native code or a script starts
// nothing: every form of argument that made a program load the show's
// library, and its ordinary commands and documents too, refused as
// prohibited, the log naming the file found once; the same ordinary command
// of a clean show is asked. Windows libraries are no code here; a
// self-playing show's own program does not count; the look is made once,
// at each command that opens a file.
TEST(CarriedCode, AShowThatCarriesCodeStartsNothing) {
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

  // A folder too large to look through counts as carrying.
  const TCarriedCode tooMany = FindCarriedCode(plat::FromUtf8(clean + "/Project.oru"), nullptr, 3);
  EXPECT_TRUE(tooMany.Found());
  EXPECT_TRUE(tooMany.TooManyFiles);
  zm::SetLog(nullptr);
}

// The show's container is looked through too, each entry by its first
// bytes however it is stored; the player's own program, which a
// self-playing show's data follows, is no entry of it.
TEST(CarriedCode, AContainerThatCarriesCodeIsFound) {
  zmtest::TTempDir dir;
  TCarriedCodeLook look;
  look.OwnProgram = dir.Write("player", PlayerStandIn());
  const std::string picture = "\xFF\xD8\xFF\xE0" + std::string(100000, 'x');
  for (int method : {zmtest::kStored, zmtest::kDeflated, zmtest::kEnciphered}) {
    for (const bool code : {false, true}) {
      zmtest::TShowContainerWriter c;
      zmtest::TShowProjectWriter show;
      orutest::AddSlides(show);
      show.AddToContainer(c);
      c.Prefix = PlayerStandIn();
      c.PrefixEntryName = "OruViewer5";
      c.Add("photos/holiday.jpg", picture, method);
      if (code) c.Add("fx.so", kElf + std::string(70000, '\0'), method);
      const std::string name = "c" + std::to_string(method) + (code ? "code" : "clean");
      c.WriteFile((dir.Path() / name / "show.orushow").string());
      WideString error;
      const zm::TRef<TOruShowLocator> locator = OpenContainerShow(dir.Wide(name + "/show.orushow"), error);
      ASSERT_TRUE(locator) << plat::ToUtf8(error);
      const TCarriedCode found = FindCarriedCode(dir.Wide(name + "/show.orushow"), locator.get(), look);
      EXPECT_EQ(found.File, code ? dir.Wide(name + "/show.orushow") + u"|fx.so" : WideString()) << name;
    }
  }
}

// Carried code is found wherever a show tucks it: inside each kind of
// compressed file and archive in its folder, inside a container's packed
// entry; behind a link out of the show (the look fails closed, the log
// says why); and made after a question, by a command the user let start, or
// while the question was open: each start is looked before anew.
TEST(CarriedCode, CarriedCodeIsFoundWhereverItIsTucked) {
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

// The show's own description and container are looked at as every other
// file is, by every name that is the same file: a description made of a
// program followed by the show's text, and a hard link to it named as a
// picture, carry code, and what the show asks to start is refused (by
// either name, relative to the show's folder too); so does a container
// that begins with a program other than the player's own. A self-playing
// show of the player's own program does not; what lies beside it does.
TEST(CarriedCode, TheShowsOwnFileIsLookedAt) {
  zmtest::TTempDir dir;
  TCarriedCodeLook look;
  look.OwnProgram = dir.Write("player", PlayerStandIn());
  const auto found = [&](const std::string& name) { return plat::FromUtf8((dir.Path() / name).string()); };
  const std::string text = "\r\n[Main]\r\nopt_scr_width=160\r\n[Times]\r\nopt_slidescount=1\r\nopt_synchpos1=1000\r\n";
  const std::string description = Executable(dir, "elf/Project.oru", kElf + std::string(64, '\0') + text);
  const WideString show = dir.Wide("elf/Project.oru");
  EXPECT_EQ(FindCarriedCode(show, nullptr, look).File, found("elf/Project.oru"));
  std::filesystem::create_hard_link(description, dir.Path() / "elf" / "holiday.jpg");
  const TCarriedCode either = FindCarriedCode(show, nullptr, look);
  EXPECT_TRUE(either.File == found("elf/Project.oru") || either.File == found("elf/holiday.jpg"))
      << plat::ToUtf8(either.File);
  EXPECT_TRUE(either.Reason.empty());

  TWatchedSpawner spawns;
  TBoxCount boxes;
  zm::THookScope<zm::TWndAPI*> api(zm::WndAPIClass, &boxes);
  TAnswers asked({true, true, true, true});
  TStartAnswers answers;
  answers.SetCodeLook([&] { return FindCarriedCode(show, nullptr, look); });
  for (const WideString& command : {dir.Wide("elf/holiday.jpg"), dir.Wide("elf/Project.oru"), WideString(u"holiday.jpg")})
    EXPECT_FALSE(ShowMayStart(nullptr, answers, command, dir.Wide("elf"), false)) << plat::ToUtf8(command);
  EXPECT_EQ(boxes.Count, 3);
  EXPECT_TRUE(asked.Asked.empty());
  EXPECT_TRUE(spawns.Starts.empty());

  // Containers: behind the player's own program, or another.
  for (const bool player : {true, false}) {
    zmtest::TShowContainerWriter c;
    zmtest::TShowProjectWriter project;
    orutest::AddSlides(project);
    project.AddToContainer(c);
    c.Prefix = player ? PlayerStandIn() : kElf + std::string(120, '\x01');
    c.Add("photos/holiday.jpg", "\xFF\xD8\xFF\xE0 JFIF", zmtest::kStored);
    const std::string name = player ? "self-playing" : "behind-another";
    c.WriteFile((dir.Path() / name / "show").string());
    WideString error;
    const zm::TRef<TOruShowLocator> locator = OpenContainerShow(dir.Wide(name + "/show"), error);
    ASSERT_TRUE(locator) << plat::ToUtf8(error);
    EXPECT_EQ(FindCarriedCode(dir.Wide(name + "/show"), locator.get(), look).File,
              player ? WideString() : found(name + "/show"));
  }
  dir.Write("self-playing/x", kElf);
  WideString error;
  const zm::TRef<TOruShowLocator> locator = OpenContainerShow(dir.Wide("self-playing/show"), error);
  EXPECT_EQ(FindCarriedCode(dir.Wide("self-playing/show"), locator.get(), look).File, found("self-playing/x"));
}

// The look is bounded in time as in size: a container whose thousand
// entries all name one packed file (its second member behind megabytes of
// zeros) has it unpacked once, and a look made again none more; a look
// that has had its two seconds of the program clock counts what it has not
// judged as code, as does one that is stopped, and neither is kept as what
// the data holds.
TEST(CarriedCode, TheLookIsBoundedInTime) {
  zmtest::TTempDir dir;
  const auto shared = [&](const std::string& name, const std::string& notes) {
    const std::string tgz = zmtest::Gzipped(zmtest::Tarred({{"zeros.bin", std::string(4 << 20, '\0')}, {"notes.txt", notes}}));
    zmtest::TShowContainerWriter c;
    zmtest::TShowProjectWriter project;
    orutest::AddSlides(project);
    project.AddToContainer(c);
    c.Add("data/0.tgz", tgz, zmtest::kStored);
    c.Bytes();
    const zmtest::TContainerEntry first = *c.Find("data/0.tgz");
    for (int i = 1; i < 1000; ++i) {
      zmtest::TContainerEntry& e = c.Add("data/" + std::to_string(i) + ".tgz", "", zmtest::kStored);
      e.PsText = std::to_string(first.Position);
      e.SzText = std::to_string(first.StoredSize);
    }
    c.WriteFile((dir.Path() / name / "show.orushow").string());
    WideString error;
    zm::TRef<TOruShowLocator> locator = OpenContainerShow(dir.Wide(name + "/show.orushow"), error);
    EXPECT_TRUE(locator) << plat::ToUtf8(error);
    return locator;
  };
  const zm::TRef<TOruShowLocator> show = shared("shared", "a thousand names, one content");
  ASSERT_TRUE(show);
  const std::uint64_t before = plat::PackedDataUnpacked();
  EXPECT_FALSE(FindCarriedCode(dir.Wide("shared/show.orushow"), show.get()).Found());
  EXPECT_EQ(plat::PackedDataUnpacked() - before, 1u);
  EXPECT_FALSE(FindCarriedCode(dir.Wide("shared/show.orushow"), show.get()).Found());
  EXPECT_EQ(plat::PackedDataUnpacked() - before, 1u);

  // Out of time, or stopped: counted as code, the look saying why; the next
  // look with time judges it.
  const zm::TRef<TOruShowLocator> other = shared("other", "another content");
  ASSERT_TRUE(other);
  {
    plat::TManualClock clock(1000);
    plat::TLookBudget budget(kMaxLookMs);
    clock.Advance(kMaxLookMs + 1);
    TCarriedCodeLook late;
    late.Budget = &budget;
    const TCarriedCode found = FindCarriedCode(dir.Wide("other/show.orushow"), other.get(), late);
    EXPECT_TRUE(found.Found());
    EXPECT_TRUE(found.Cut);
    EXPECT_EQ(plat::ToUtf8(found.Reason), plat::kLookTookTooLong);
    plat::TLookBudget stopped(kMaxLookMs);
    stopped.Stop();
    late.Budget = &stopped;
    EXPECT_EQ(plat::ToUtf8(FindCarriedCode(dir.Wide("other/show.orushow"), other.get(), late).Reason),
              plat::kLookStopped);
  }
  EXPECT_FALSE(FindCarriedCode(dir.Wide("other/show.orushow"), other.get()).Found());
  EXPECT_EQ(plat::PackedDataUnpacked() - before, 2u);
}
