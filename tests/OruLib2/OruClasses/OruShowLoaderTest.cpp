#include "OruLib2/OruClasses/OruShowLoader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "OruLib2/OruClasses/zmOruSource2.h"
#include "OruLib2/OruClasses/zmStreamUtils.h"
#include "Platform/PlatUtf8.h"
#include "ZmLib/Graphics/zmPixelFormat.h"
#include "fuzz/ShowLoaderFuzz.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestMain.h"
#include "tests/support/kit/JpegWriter.h"
#include "tests/support/kit/ShowProjectWriter.h"
#include "tests/support/kit/StreamBytes.h"

using namespace zm;
using namespace oru;
using zmtest::TShowContainerWriter;
using zmtest::TShowProjectWriter;

namespace {

WideString W(const std::string& utf8) { return plat::FromUtf8(utf8); }

std::optional<std::string> Read(TFileSource* source, const WideString& name) {
  TRef<TStream> s = TRef<TStream>::Adopt(source->OpenFile(name));
  if (!s) return std::nullopt;
  return zmtest::ReadAllBytes(s.get());
}

std::string ProfileBytes(TColorProfile* p) { return std::string(p->Data().begin(), p->Data().end()); }

// Left half red, right half blue.
std::string HalvesJpeg(int w, int h) {
  zmtest::TJpegOptions opts;
  opts.Width = w;
  opts.Height = h;
  opts.FullChroma = true;
  opts.Quality = 100;
  opts.Pixel = [w](int x, int, std::uint8_t* c) {
    c[0] = x < w / 2 ? 255 : 0;
    c[1] = 0;
    c[2] = x < w / 2 ? 0 : 255;
  };
  return zmtest::WriteJpeg(opts);
}

bool IsRed(const TColor24& c) { return c.R > 200 && c.B < 60; }
bool IsBlue(const TColor24& c) { return c.B > 200 && c.R < 60; }

class ShowLoaderTest : public ::testing::Test {
protected:
  void SetUp() override {
    savedLcms_ = LoadLcmsHook;
    savedMonitor_ = MonitorProfilePathHook;
    savedPathVars_ = GetPathVars();
    LoadLcmsHook = &CountLcms;
    lcmsCalls_ = 0;
    lcmsAnswer_ = true;
    NoColorManagement = false;
    SetForcedOutputProfile(nullptr);
    SetDisplayColorProfile(nullptr, false);
  }
  void TearDown() override {
    FiniShowLoader();
    InitShowLoader();
    LoadLcmsHook = savedLcms_;
    MonitorProfilePathHook = savedMonitor_;
    NoColorManagement = false;
    SetDisplayColorProfile(nullptr, false);
    SetPathVars(savedPathVars_);
  }

  static bool CountLcms(TOruShowLocator* show) {
    ++lcmsCalls_;
    lastLcmsShow_ = show;
    return lcmsAnswer_;
  }

  // The show of the project writer in a container file of the test folder.
  WideString Container(const TShowProjectWriter& show, const std::string& name = "show.orushow",
                       int method = zmtest::kEnciphered) {
    TShowContainerWriter w;
    show.AddToContainer(w, method);
    return Container(w, name);
  }
  WideString Container(TShowContainerWriter& w, const std::string& name = "show.orushow") {
    w.WriteFile((dir_.Path() / name).string());
    return dir_.Wide(name);
  }
  // Each in a file of its own: open shows keep reading theirs.
  TRef<TOruShowLocator> OpenContainer(const TShowProjectWriter& show, WideString* error = nullptr) {
    WideString e;
    TRef<TOruShowLocator> l = OpenContainerShow(Container(show, "show" + std::to_string(++shows_) + ".orushow"), e);
    if (error) *error = e;
    return l;
  }
  // A container show whose description is the given text.
  TRef<TOruShowLocator> ContainerWithMain(const std::string& colorManagement) {
    TShowProjectWriter show;
    show.Description().Section("main").Key("ColorManagement", colorManagement);
    return OpenContainer(show);
  }

  inline static int lcmsCalls_ = 0;
  inline static bool lcmsAnswer_ = true;
  inline static TOruShowLocator* lastLcmsShow_ = nullptr;
  TLoadLcmsProc savedLcms_ = nullptr;
  TColorSpaceProfilePathProc savedMonitor_ = nullptr;
  TPathVarTable savedPathVars_;
  zmtest::TTempDir dir_;
  int shows_ = 0;
};

// ---- Containers -------------------------------------------------------------------

TEST_F(ShowLoaderTest, ContainerShowOpensEveryEntryThroughTheLoadCallback) {
  TShowProjectWriter show;
  show.Description().Section("main").Key("OruVersion", "5.2.7").Key("opt_repeat", "stop");
  show.Description().Section("Times").Key("opt_slidescount", 1).Key("opt_synchpos1", 4000);
  TShowContainerWriter w;
  show.AddToContainer(w);
  std::string big(100000, 'x');
  for (std::size_t i = 0; i < big.size(); i += 7) big[i] = static_cast<char>('a' + i % 26);
  w.Add("stored.bin", big, zmtest::kStored);
  w.Add("deflated.bin", big, zmtest::kDeflated);
  w.Add("secret.bin", big, zmtest::kEnciphered);
  WideString error = u"old";
  TRef<TOruShowLocator> l = OpenContainerShow(Container(w), error);
  ASSERT_TRUE(l);
  EXPECT_EQ(error, u"");
  EXPECT_TRUE(l->FromContainer());
  EXPECT_EQ(l->Version(), u"5.2.7");
  EXPECT_EQ(l->DescriptionName(), u"Project.oru");
  EXPECT_EQ(l->Accessor()->BaseFolder(), dir_.Wide("") + u"\\");

  auto* source = dynamic_cast<TPackedFileSource*>(l->Accessor()->Source());
  ASSERT_NE(source, nullptr);
  for (const char16_t* name : {u"stored.bin", u"deflated.bin", u"secret.bin", u"STORED.BIN"}) {
    SCOPED_TRACE(plat::ToUtf8(name));
    TRef<TStream> s = TRef<TStream>::Adopt(source->OpenFile(name));
    ASSERT_TRUE(s);
    // The window that reads the entry polls the load callback.
    auto* window = dynamic_cast<TPartialStream*>(s.get());
    if (auto* crypt = dynamic_cast<TCryptStream*>(s.get())) window = dynamic_cast<TPartialStream*>(crypt->Source());
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->BlockSize(), TPartialStream::kCallbackBlockSize);
    EXPECT_EQ(zmtest::ReadAllBytes(s.get(), 30000), big);
  }
  EXPECT_FALSE(Read(source, u"missing.bin"));
  EXPECT_FALSE(Read(source, u""));
  // Through the accessor, and the show source made once.
  TRef<TStream> viaAccessor = TRef<TStream>::Adopt(l->Accessor()->OpenFile(u"deflated.bin"));
  ASSERT_TRUE(viaAccessor);
  EXPECT_EQ(zmtest::ReadAllBytes(viaAccessor.get()), big);
  TOruSource* src = l->GetSource();
  ASSERT_NE(src, nullptr);
  EXPECT_EQ(src, l->GetSource());
  EXPECT_EQ(src->FileAccessor(), l->Accessor());
  EXPECT_EQ(src->RepeatMode(), kRepeatStop);
  EXPECT_EQ(src->SlideCount(), 1);
}

TEST_F(ShowLoaderTest, ContainersThatCannotOpenGiveTheirTexts) {
  auto open = [&](TShowContainerWriter& w, const std::string& name) {
    WideString e = u"old";
    TRef<TOruShowLocator> l = OpenContainerShow(Container(w, name), e);
    EXPECT_FALSE(l) << name;
    return plat::ToUtf8(e);
  };
  TShowContainerWriter noProject;
  noProject.Add("pic.jpg", "jpeg");
  EXPECT_EQ(open(noProject, "noproject.orushow"), "Executable SlideShow Open Error");
  // A description entry that does not inflate reads as none.
  TShowContainerWriter broken;
  broken.Add("Project.oru", "[main]\r\n", zmtest::kDeflated).StoredBytes = "\x03\xff\xff";
  EXPECT_EQ(open(broken, "broken.orushow"), "Executable SlideShow Open Error");
  TShowContainerWriter modified;
  modified.Add("Project.oru", "[main]\r\n", zmtest::kDeflated);
  modified.Moved = 3;
  EXPECT_EQ(open(modified, "modified.orushow"), "Slide-show File Modified");
  TShowContainerWriter damaged;
  damaged.Add("Project.oru", "[main]\r\n", zmtest::kDeflated);
  damaged.StrucPos = "x1";
  damaged.AllowModify = "1";
  EXPECT_EQ(open(damaged, "damaged.orushow"), "Slide-show File Damaged");
  // A trailer pointing outside the file, a directory that does not inflate.
  TShowContainerWriter outside;
  outside.Add("Project.oru", "[main]\r\n", zmtest::kDeflated);
  outside.DirectoryOffset = 1 << 30;
  EXPECT_EQ(open(outside, "outside.orushow"), "Slide-show File Damaged");
  TShowContainerWriter badDirectory;
  badDirectory.Add("Project.oru", "[main]\r\n", zmtest::kDeflated);
  badDirectory.DirectoryBytes = "\x07\x00garbage";
  EXPECT_EQ(open(badDirectory, "baddir.orushow"), "Slide-show File Damaged");

  // No container in the file, and no file at all: nil without a text.
  dir_.Write("plain.bin", "just a program");
  WideString e = u"old";
  EXPECT_FALSE(OpenContainerShow(dir_.Wide("plain.bin"), e));
  EXPECT_EQ(e, u"");
  e = u"old";
  EXPECT_FALSE(OpenContainerShow(dir_.Wide("nothing-here.orushow"), e));
  EXPECT_EQ(e, u"");
  EXPECT_EQ(ShowStackDepth(), 0);
}

TEST_F(ShowLoaderTest, DamagedEntriesRaiseTheReadersErrors) {
  TShowContainerWriter w;
  w.Add("Project.oru", "[main]\r\n", zmtest::kDeflated);
  w.Add("cut.bin", "abc", zmtest::kDeflated).StoredBytes = "\x03";
  w.Add("far.bin", "f").PsText = "99999999";
  TRef<TOruShowLocator> l;
  {
    WideString e;
    l = OpenContainerShow(Container(w), e);
  }
  ASSERT_TRUE(l);
  TFileSource* source = l->Accessor()->Source();
  EXPECT_THROW(Read(source, u"cut.bin"), EStreamError);
  EXPECT_THROW(Read(source, u"far.bin"), EStreamError);
}

// ---- Name map and "|" names --------------------------------------------------------

TEST_F(ShowLoaderTest, FileMapOpensTheMappedNameInAnyLetterCase) {
  TShowProjectWriter show;
  show.Description()
      .Section("FileMap")
      .Line("\"Photo One.JPG\" = \"pics\\real.jpg\"")
      .Line(";\"commented.jpg\"=\"pics\\real.jpg\"")
      .Line("\"a=b.jpg\"=\"other.txt\"")
      .Line("bare.txt=other.txt")
      .Line("\"first.txt\"=\"other.txt\"")
      .Line("\"first.txt\"=\"pics\\real.jpg\"")
      .Line("\"chain1\"=\"chain2\"")
      .Line("\"chain2\"=\"other.txt\"")
      .Line("\"self.jpg\"=\"self.jpg\"")
      .Line("\"ping\"=\"pong\"")
      .Line("\"pong\"=\"PING\"")
      .Line("no equals sign")
      .Line("\"\"=\"other.txt\"")
      .Line("\"empty.txt\"=  ")
      .Object("block", "Thing")
      .Key("inner.txt", "other.txt")
      .End();
  show.AddFile("pics\\real.jpg", "REAL");
  show.AddFile("other.txt", "OTHER");
  show.AddFile("self.jpg", "SELF");
  TRef<TOruShowLocator> l = OpenContainer(show);
  ASSERT_TRUE(l);
  auto* source = dynamic_cast<TMappedFileSource*>(l->Accessor()->Source());
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(source->MappedName(u"photo one.jpg"), u"pics\\real.jpg");
  EXPECT_EQ(Read(source, u"PHOTO ONE.jpg"), "REAL");
  EXPECT_EQ(Read(source, u"Commented.JPG"), "REAL");
  EXPECT_EQ(Read(source, u"a=b.jpg"), "OTHER");
  EXPECT_EQ(Read(source, u"BARE.TXT"), "OTHER");
  EXPECT_EQ(Read(source, u"first.txt"), "OTHER");  // the first line wins
  EXPECT_EQ(Read(source, u"chain1"), "OTHER");
  // A name mapped to itself, or a circle, opens nothing (and ends).
  EXPECT_EQ(source->MappedName(u"self.jpg"), u"self.jpg");
  EXPECT_FALSE(Read(source, u"self.jpg"));
  EXPECT_FALSE(Read(source, u"ping"));
  EXPECT_FALSE(Read(source, u"Pong"));
  for (const char16_t* skipped : {u"no equals sign", u"", u"empty.txt", u"inner.txt"})
    EXPECT_EQ(source->MappedName(skipped), u"") << plat::ToUtf8(skipped);
  EXPECT_EQ(Read(source, u"other.txt"), "OTHER");
}

TEST_F(ShowLoaderTest, ChainsUpToTheStepLimitResolve) {
  TShowProjectWriter show;
  // n0 -> n1 -> ... -> nk -> "target.txt".
  auto chain = [&](const std::string& p, int k) {
    for (int i = 0; i < k; ++i) show.Description().Line(p + std::to_string(i) + "=" + p + std::to_string(i + 1));
    show.Description().Line(p + std::to_string(k) + "=target.txt");
  };
  show.Description().Section("FileMap");
  chain("short", kMaxNameSteps - 2);
  chain("long", kMaxNameSteps);
  show.AddFile("target.txt", "T");
  TRef<TOruShowLocator> l = OpenContainer(show);
  ASSERT_TRUE(l);
  EXPECT_EQ(Read(l->Accessor()->Source(), u"short0"), "T");
  EXPECT_FALSE(Read(l->Accessor()->Source(), u"long0"));
}

TEST_F(ShowLoaderTest, NamesWithABarOpenThePartBeforeIt) {
  TShowProjectWriter show;
  show.AddFile("anim.gif", "GIF89a");
  show.AddFile("odd|name.txt", "ODD");
  show.Description().Section("FileMap").Line("\"alias.gif\"=\"anim.gif|framesatlas\"");
  show.Write();
  // In a project folder.
  TRef<TOruShowLocator> project = OpenProjectShow(W(show.ProjectFile()));
  ASSERT_TRUE(project);
  TFileSource* disk = project->Accessor()->Source();
  const std::string folder = show.Folder() + "/";
  EXPECT_EQ(Read(disk, W(folder + "anim.gif|framesatlas")), "GIF89a");
  EXPECT_EQ(Read(disk, W(folder + "anim.gif|a|b")), "GIF89a");
  EXPECT_FALSE(Read(disk, W(folder + "missing.gif|framesatlas")));
  // In a container: an entry named with a bar is found as it is; any other
  // name is tried again before the bar.
  TRef<TOruShowLocator> packed = OpenContainer(show);
  ASSERT_TRUE(packed);
  TFileSource* entries = packed->Accessor()->Source();
  EXPECT_EQ(Read(entries, u"anim.gif|framesatlas"), "GIF89a");
  EXPECT_EQ(Read(entries, u"alias.gif"), "GIF89a");
  EXPECT_EQ(Read(entries, u"odd|name.txt"), "ODD");
  EXPECT_FALSE(Read(entries, u"|framesatlas"));
}

// ---- Rotation -----------------------------------------------------------------------

TEST_F(ShowLoaderTest, RotationStateTurnsListedPictures) {
  TShowProjectWriter show;
  show.Description()
      .Section("RotationState")
      .Line(";\"Six.jpg\"=6")
      .Line(";\"eight.jpg\"=8")
      .Line(";\"three.jpg\"=3")
      .Line(";\"one.jpg\"=1")
      .Line(";\"five.jpg\"=5")
      .Line("\"nosemicolon.jpg\"=6")
      .Line(";\"word.jpg\"=six")
      .Line(";\"a\"b.jpg\"=8");
  const std::string jpeg = HalvesJpeg(16, 8);
  for (const char* name : {"six.jpg", "eight.jpg", "three.jpg", "one.jpg", "five.jpg", "nosemicolon.jpg"})
    show.AddFile(name, jpeg);
  TRef<TOruShowLocator> l = OpenContainer(show);
  ASSERT_TRUE(l);
  auto* source = dynamic_cast<TMappedFileSource*>(l->Accessor()->Source());
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(source->RotationOf(u"SIX.JPG"), 6);
  EXPECT_EQ(source->RotationOf(u"eight.jpg"), 8);
  EXPECT_EQ(source->RotationOf(u"three.jpg"), 3);
  EXPECT_EQ(source->RotationOf(u"one.jpg"), 1);
  EXPECT_EQ(source->RotationOf(u"a\"b.jpg"), 8);
  for (const char16_t* ignored : {u"five.jpg", u"nosemicolon.jpg", u"word.jpg", u"unlisted.jpg"})
    EXPECT_EQ(source->RotationOf(ignored), 1) << plat::ToUtf8(ignored);

  TPixelFormat* rgb = PixelFormatByName(PF_R8G8B8);
  auto corners = [&](const char16_t* name, int w, int h) {
    TRef<TImage> image = source->CallImageCallbacks(name);
    if (!image) return std::string("none");
    EXPECT_EQ(image->Params.Width, w);
    EXPECT_EQ(image->Params.Height, h);
    auto* b = dynamic_cast<TSysBitmap*>(image->Store()->GetMipLevel(0, rgb, TSysBitmap::StaticClass()));
    if (!b || b->Width() != w || b->Height() != h) return std::string("bad size");
    auto at = [&](int x, int y) {
      TColor24 c = b->Row24(y)[x];
      return IsRed(c) ? 'r' : IsBlue(c) ? 'b' : '?';
    };
    // Top left, top right, bottom left, bottom right.
    return std::string{at(0, 0), at(w - 1, 0), at(0, h - 1), at(w - 1, h - 1)};
  };
  EXPECT_EQ(corners(u"Six.JPG", 8, 16), "rrbb");  // a quarter turn clockwise
  EXPECT_EQ(corners(u"eight.jpg", 8, 16), "bbrr");
  EXPECT_EQ(corners(u"three.jpg", 16, 8), "brbr");
  // Orientation 1, ignored lines and unlisted names load the usual way.
  EXPECT_EQ(corners(u"one.jpg", 16, 8), "none");
  EXPECT_EQ(corners(u"five.jpg", 16, 8), "none");
  EXPECT_EQ(corners(u"nosemicolon.jpg", 16, 8), "none");
  // A listed name whose file is missing or no picture gives nothing.
  EXPECT_EQ(corners(u"a\"b.jpg", 8, 16), "none");
  // The shared pictures of the show come turned.
  TRef<TOruImage> shared = l->Accessor()->GetImage(u"six.jpg");
  ASSERT_TRUE(shared);
  EXPECT_EQ(shared->Params.Width, 8);
  EXPECT_EQ(shared->Params.Height, 16);
  EXPECT_EQ(shared->GetBitmap()->Width(), 8);
}

TEST_F(ShowLoaderTest, NoRotationTableNoCallback) {
  TShowProjectWriter show;
  show.Description().Section("RotationState").Line(";\"five.jpg\"=5");
  show.AddFile("five.jpg", HalvesJpeg(4, 2));
  TRef<TOruShowLocator> l = OpenContainer(show);
  ASSERT_TRUE(l);
  EXPECT_FALSE(l->Accessor()->Source()->CallImageCallbacks(u"five.jpg"));
}

// ---- Project shows ------------------------------------------------------------------

TEST_F(ShowLoaderTest, ProjectOnDiskWithOtherLetterCaseAndBackslashes) {
  TShowProjectWriter show(dir_.Path().string() + "/My Show");
  show.Description()
      .Section("main")
      .Key("OruVersion", "4.0")
      .Key("opt_exefn", plat::ToUtf8(dir_.Wide("My Show\\Output\\show.exe")))
      .Section("FileMap")
      .Line("\"" + plat::ToUtf8(dir_.Wide("my show\\MEDIA\\alias.JPG")) + "\"=\"" +
            plat::ToUtf8(dir_.Wide("MY SHOW\\media\\Photo1.jpg")) + "\"");
  show.AddFile("Media/photo1.JPG", "PHOTO");
  show.Write();
  // The description named in another letter case and with "\".
  TRef<TOruShowLocator> l = OpenProjectShow(dir_.Wide("my show\\PROJECT.ORU"));
  ASSERT_TRUE(l);
  EXPECT_FALSE(l->FromContainer());
  EXPECT_EQ(l->Version(), u"4.0");
  EXPECT_EQ(l->Accessor()->BaseFolder(), dir_.Wide("My Show\\Output\\"));
  TFileSource* source = l->Accessor()->Source();
  EXPECT_EQ(Read(source, dir_.Wide("MY SHOW\\media\\PHOTO1.jpg")), "PHOTO");
  EXPECT_EQ(Read(source, dir_.Wide("My Show\\Media\\ALIAS.jpg")), "PHOTO");
  EXPECT_FALSE(Read(source, dir_.Wide("My Show\\Media")));  // a folder is no file
  EXPECT_FALSE(Read(source, dir_.Wide("My Show\\Media\\none.jpg")));

  EXPECT_FALSE(OpenProjectShow(dir_.Wide("My Show\\missing.oru")));
  EXPECT_FALSE(OpenProjectShow(u""));
}

TEST_F(ShowLoaderTest, RelativeNamesOfAProjectAreFoundInItsFolder) {
  TShowProjectWriter show(dir_.Path().string() + "/proj");
  show.Description().Section("main").Key("OruVersion", "4.0");
  show.AddFile("media/a.jpg", "IN PROJECT");
  show.Write();
  dir_.Write("beside/b.jpg", "BESIDE");
  // The player runs in another folder that holds a file of the same relative
  // name, and opens the project by a relative name.
  dir_.Write("cwd/media/a.jpg", "IN CURRENT");
  dir_.Write("cwd/media/c.jpg", "ONLY IN CURRENT");
  std::filesystem::path saved = std::filesystem::current_path();
  std::filesystem::current_path(dir_.Path() / "cwd");
  TRef<TOruShowLocator> l = OpenProjectShow(u"..\\proj\\Project.oru");
  ASSERT_TRUE(l);
  TFileSource* source = l->Accessor()->Source();
  EXPECT_EQ(Read(source, u"media\\a.jpg"), "IN PROJECT");
  EXPECT_EQ(Read(source, u"MEDIA\\A.JPG"), "IN PROJECT");
  EXPECT_EQ(Read(source, u"..\\beside\\b.jpg"), "BESIDE");
  EXPECT_EQ(Read(source, u"media\\c.jpg"), "ONLY IN CURRENT");  // then as given
  EXPECT_EQ(Read(source, dir_.Wide("cwd\\media\\a.jpg")), "IN CURRENT");  // absolute names stay
  EXPECT_FALSE(Read(source, u"media\\none.jpg"));
  std::filesystem::current_path(saved);
}

TEST_F(ShowLoaderTest, PathModifiersReplaceThePathVariables) {
  dir_.Write("first/fx.ini", "FIRST");
  dir_.Write("second/fx.ini", "SECOND");
  dir_.Write("second/only2.ini", "ONLY2");
  TShowProjectWriter show;
  show.Description()
      .Section("PathModifiers")
      .Key("Count", 3)
      .Key("Env0", "%fx%")
      .Key("Path0", plat::ToUtf8(dir_.Wide("first")))
      .Key("Def0", "0")
      .Key("Env1", "%fx%")
      .Key("Path1", plat::ToUtf8(dir_.Wide("second\\")))
      .Key("Def1", "1")
      .Key("Path2", "no name");
  show.Write();
  TRef<TOruShowLocator> l = OpenProjectShow(W(show.ProjectFile()));
  ASSERT_TRUE(l);
  TPathVarTable table = GetPathVars();
  ASSERT_EQ(table.size(), 2u);
  EXPECT_FALSE(table[0].isDefault);
  EXPECT_TRUE(table[1].isDefault);
  EXPECT_EQ(table[0].path, dir_.Wide("first"));
  EXPECT_EQ(table[1].path, dir_.Wide("second"));
  TFileSource* source = l->Accessor()->Source();
  EXPECT_EQ(Read(source, u"%fx%\\fx.ini"), "FIRST");
  EXPECT_EQ(Read(source, u"%FX%\\only2.ini"), "ONLY2");  // the default entry
  // The built-in variables are gone with the old table.
  EXPECT_EQ(ExpandPathVars(u"%effects%\\a.ini"), u"%effects%\\a.ini");

  // A container show keeps the table as it is.
  TShowProjectWriter packed;
  packed.Description().Section("PathModifiers").Key("Count", 0);
  ASSERT_TRUE(OpenContainer(packed));
  EXPECT_EQ(GetPathVars().size(), 2u);
  // An empty "PathModifiers" section empties the table of a project.
  TShowProjectWriter empty;
  empty.Description().Section("PathModifiers");
  empty.Write();
  ASSERT_TRUE(OpenProjectShow(W(empty.ProjectFile())));
  EXPECT_TRUE(GetPathVars().empty());
}

TEST_F(ShowLoaderTest, ProjectSubstitutionOpensTheProjectInstead) {
  TShowProjectWriter project;
  project.Description().Section("main").Key("OruVersion", "project");
  project.Write();
  TShowProjectWriter packed;
  packed.Description().Section("main").Key("OruVersion", "packed");
  WideString container = Container(packed, "Show.OruShow");
  WideString lower = dir_.Wide("show.orushow");

  RegisterProjectSubstitution(lower, W(project.ProjectFile()));
  WideString e;
  TRef<TOruShowLocator> l = OpenContainerShow(container, e);
  ASSERT_TRUE(l);
  EXPECT_EQ(l->Version(), u"project");
  EXPECT_FALSE(l->FromContainer());
  // A substitution whose project cannot be read gives nil, without a text.
  RegisterProjectSubstitution(container, dir_.Wide("none\\Project.oru"));
  e = u"old";
  EXPECT_FALSE(OpenContainerShow(container, e));
  EXPECT_EQ(e, u"");
  // An empty project path removes it.
  RegisterProjectSubstitution(container, u"");
  l = OpenContainerShow(container, e);
  ASSERT_TRUE(l);
  EXPECT_EQ(l->Version(), u"packed");
  EXPECT_TRUE(l->FromContainer());
}

TEST_F(ShowLoaderTest, StrangeDescriptionsStillOpen) {
  TShowProjectWriter show;
  show.SetRawDescription(std::string(zmtest::kUtf8Bom) +
                         "no section line\r\n[main]\r\nOruVersion\r\nopt_repeat=sideways\r\nunknown=1\r\n"
                         "[Times]\r\nopt_slidescount=2147483647\r\nopt_synchpos7=1e308x\r\n"
                         "[PathModifiers]\r\nCount=2000000000\r\n"
                         "[RotationState]\r\n;\"x\"=99999999999999999999\r\n;\"\"=6\r\n;\"\r\n"
                         "[FileMap]\r\n=\r\n\"\r\n;\r\n\"a\"\"=\"\r\n[ColorManagement]\r\n");
  show.Write();
  TRef<TOruShowLocator> l = OpenProjectShow(W(show.ProjectFile()));
  ASSERT_TRUE(l);
  EXPECT_EQ(l->Version(), u"");
  EXPECT_FALSE(ShowColorManaged());
  EXPECT_TRUE(ShowNotColorManaged());
  TOruSource* source = l->GetSource();
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(source->RepeatMode(), kRepeatLoop);
  // And an empty description, in a container.
  TShowProjectWriter empty;
  empty.SetRawDescription("");
  WideString e;
  TRef<TOruShowLocator> packed = OpenContainer(empty, &e);
  ASSERT_TRUE(packed);
  EXPECT_EQ(e, u"");
  EXPECT_EQ(packed->GetSource()->SlideCount(), 0);
}

// ---- Colour management ------------------------------------------------------------

TEST_F(ShowLoaderTest, ColorManagementSettings) {
  // Empty: not colour-managed, the library is not even asked.
  ASSERT_TRUE(ContainerWithMain(""));
  EXPECT_FALSE(ShowColorManaged());
  EXPECT_TRUE(ShowNotColorManaged());
  EXPECT_FALSE(DisplayColorProfile());
  EXPECT_EQ(lcmsCalls_, 0);

  TRef<TOruShowLocator> l = ContainerWithMain("AdobeRGB");
  ASSERT_TRUE(l);
  EXPECT_TRUE(ShowColorManaged());
  EXPECT_FALSE(ShowNotColorManaged());
  EXPECT_EQ(DisplayColorProfile().get(), AdobeRGBProfile());
  EXPECT_EQ(lcmsCalls_, 1);
  EXPECT_EQ(lastLcmsShow_, l.get());

  ASSERT_TRUE(ContainerWithMain("srgb"));
  EXPECT_EQ(DisplayColorProfile().get(), sRGBProfile());
  ASSERT_TRUE(ContainerWithMain("FUNKYRGB"));
  EXPECT_EQ(DisplayColorProfile().get(), FunkyRGBProfile());
  EXPECT_TRUE(ShowColorManaged());

  // "*": the wide-gamut profile, not colour-managed, no library needed.
  SetDisplayColorProfile(nullptr, false);
  lcmsCalls_ = 0;
  ASSERT_TRUE(ContainerWithMain("*"));
  EXPECT_EQ(DisplayColorProfile().get(), FunkyRGBProfile());
  EXPECT_FALSE(ShowColorManaged());
  EXPECT_FALSE(ShowNotColorManaged());
  EXPECT_EQ(lcmsCalls_, 0);

  // Without the colour library nothing changes.
  SetDisplayColorProfile(nullptr, false);
  lcmsAnswer_ = false;
  ASSERT_TRUE(ContainerWithMain("AdobeRGB"));
  EXPECT_FALSE(DisplayColorProfile());
  EXPECT_FALSE(ShowColorManaged());
  LoadLcmsHook = nullptr;
  ASSERT_TRUE(ContainerWithMain("AdobeRGB"));
  EXPECT_FALSE(DisplayColorProfile());
  EXPECT_FALSE(ShowColorManaged());
  LoadLcmsHook = &CountLcms;
  lcmsAnswer_ = true;

  // Switched off for the program.
  NoColorManagement = true;
  ASSERT_TRUE(ContainerWithMain("AdobeRGB"));
  EXPECT_FALSE(DisplayColorProfile());
  EXPECT_TRUE(ShowNotColorManaged());
  NoColorManagement = false;
}

TEST_F(ShowLoaderTest, ForcedOutputProfileWins) {
  TRef<TColorProfile> forced = MakeRef<TColorProfile>(AdobeRGBProfile()->Data(), u"forced");
  SetForcedOutputProfile(forced.get());
  EXPECT_EQ(ForcedOutputProfile(), forced.get());
  for (const char* v : {"*", "sRGB", "?", "missing.icc"}) {
    SetDisplayColorProfile(nullptr, false);
    ASSERT_TRUE(ContainerWithMain(v));
    EXPECT_EQ(DisplayColorProfile().get(), forced.get()) << v;
    EXPECT_TRUE(ShowColorManaged()) << v;
  }
  // An empty setting still means no colour management.
  SetDisplayColorProfile(nullptr, false);
  ASSERT_TRUE(ContainerWithMain(""));
  EXPECT_FALSE(DisplayColorProfile());
  SetForcedOutputProfile(nullptr);
  EXPECT_EQ(ForcedOutputProfile(), nullptr);
}

TEST_F(ShowLoaderTest, ProfileFilesOfTheShowAndOfTheMonitor) {
  TShowProjectWriter show;
  show.Description().Section("main").Key("ColorManagement", "Profiles\\Wide.icc");
  show.AddFile("profiles\\wide.icc", ProfileBytes(FunkyRGBProfile()));
  ASSERT_TRUE(OpenContainer(show));
  TRef<TColorProfile> p = DisplayColorProfile();
  ASSERT_TRUE(p);
  EXPECT_NE(p.get(), FunkyRGBProfile());
  EXPECT_EQ(p->Data(), FunkyRGBProfile()->Data());
  EXPECT_EQ(p->Name(), u"Profiles\\Wide.icc");
  EXPECT_TRUE(ShowColorManaged());
  // A copy of the sRGB profile is the built-in one.
  TShowProjectWriter srgb;
  srgb.Description().Section("main").Key("ColorManagement", "s.icc");
  srgb.AddFile("s.icc", ProfileBytes(sRGBProfile()));
  ASSERT_TRUE(OpenContainer(srgb));
  EXPECT_EQ(DisplayColorProfile().get(), sRGBProfile());
  // A missing profile file leaves no display profile (sRGB is used).
  ASSERT_TRUE(ContainerWithMain("none.icc"));
  EXPECT_FALSE(DisplayColorProfile());
  EXPECT_TRUE(ShowColorManaged());

  // "?": the monitor's profile, a file on disk; none on this system.
  static std::string monitorPath;
  monitorPath = dir_.Write("monitor.icc", ProfileBytes(AdobeRGBProfile()));
  MonitorProfilePathHook = [](std::uint32_t space, WideString& path) {
    path = space == 0 ? W(monitorPath) : WideString();
    return !path.empty();
  };
  ASSERT_TRUE(ContainerWithMain("?"));
  ASSERT_TRUE(DisplayColorProfile());
  EXPECT_EQ(DisplayColorProfile()->Data(), AdobeRGBProfile()->Data());
  MonitorProfilePathHook = [](std::uint32_t, WideString& path) {
    path = u"FunkyRGB";
    return true;
  };
  ASSERT_TRUE(ContainerWithMain("?"));
  EXPECT_EQ(DisplayColorProfile().get(), FunkyRGBProfile());
  MonitorProfilePathHook = [](std::uint32_t, WideString& path) {
    path.clear();
    return false;
  };
  ASSERT_TRUE(ContainerWithMain("?"));
  EXPECT_FALSE(DisplayColorProfile());
  MonitorProfilePathHook = nullptr;
  SetDisplayColorProfile(AdobeRGBProfile(), false);
  ASSERT_TRUE(ContainerWithMain("?"));
  EXPECT_FALSE(DisplayColorProfile());
  EXPECT_TRUE(ShowColorManaged());
}

// ---- The current show ---------------------------------------------------------------

TEST_F(ShowLoaderTest, TheStackReappliesColorManagement) {
  TRef<TOruShowLocator> adobe = ContainerWithMain("AdobeRGB");
  TRef<TOruShowLocator> plain = ContainerWithMain("");
  TRef<TOruShowLocator> funky = ContainerWithMain("FunkyRGB");
  ASSERT_TRUE(adobe && plain && funky);
  EXPECT_EQ(CurrentShow(), nullptr);
  PopShow();  // nothing kept: nothing happens
  EXPECT_EQ(CurrentShow(), nullptr);

  SetCurrentShow(adobe.get());
  PushShow(plain.get());
  PushShow(funky.get());
  EXPECT_EQ(ShowStackDepth(), 2);
  EXPECT_EQ(CurrentShow(), funky.get());
  EXPECT_EQ(CurrentShowRef().get(), funky.get());

  SetDisplayColorProfile(sRGBProfile(), false);
  PopShow();
  EXPECT_EQ(CurrentShow(), plain.get());
  EXPECT_FALSE(ShowColorManaged());
  EXPECT_TRUE(ShowNotColorManaged());
  PopShow();
  EXPECT_EQ(CurrentShow(), adobe.get());
  EXPECT_EQ(DisplayColorProfile().get(), AdobeRGBProfile());
  EXPECT_TRUE(ShowColorManaged());
  EXPECT_EQ(ShowStackDepth(), 0);

  // The end of the program releases the current show and the stack.
  PushShow(funky.get());
  PushShow(plain.get());
  const std::int32_t before = funky->RefCount();
  FiniShowLoader();
  InitShowLoader();
  EXPECT_EQ(CurrentShow(), nullptr);
  EXPECT_EQ(ShowStackDepth(), 0);
  EXPECT_EQ(funky->RefCount(), before - 1);
  EXPECT_EQ(adobe->RefCount(), 1);
  EXPECT_EQ(plain->RefCount(), 1);
}

TEST_F(ShowLoaderTest, LocatorOwnershipAndAssertion) {
  EXPECT_THROW(MakeRef<TOruShowLocator>(nullptr, u"Project.oru", false), EAbort);
  // A locator that does not own the accessor leaves it to the caller.
  TRef<TFileAccessor> accessor = MakeRef<TFileAccessor>(MakeRef<TMappedFileSource>().get());
  {
    TRef<TOruShowLocator> l = MakeRef<TOruShowLocator>(accessor.get(), dir_.Wide("none.oru"), false);
    EXPECT_EQ(l->Description(), nullptr);
    EXPECT_EQ(l->Accessor(), accessor.get());
    EXPECT_THROW(l->GetSource(), EAbort);  // no description to read
  }
  EXPECT_EQ(accessor->RefCount(), 1);
}

// ---- Fuzz seeds ------------------------------------------------------------------

TEST(ShowLoaderFuzzSeeds, SeedsPassTheCheck) {
  const std::filesystem::path folder = zmtest::SourcePath("fuzz/corpus/ShowLoader");
  int seen = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    SCOPED_TRACE(entry.path().filename().string());
    std::string bytes = zmtest::ReadFileBytes(entry.path().string());
    EXPECT_TRUE(zmfuzz::CheckShowLoader(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    ++seen;
  }
  EXPECT_GE(seen, 3);
}

}  // namespace
