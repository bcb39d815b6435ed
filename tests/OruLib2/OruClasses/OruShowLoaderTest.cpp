#include "OruLib2/OruClasses/OruShowLoader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "OruLib2/OruClasses/OruSlideHost.h"
#include "OruLib2/OruClasses/zmInflate.h"
#include "OruLib2/OruClasses/zmOruSource2.h"
#include "OruLib2/OruClasses/zmStreamUtils.h"
#include "Platform/PlatUtf8.h"
#include "ZmLib/3DBasics/CustomColorGradeTexture.h"
#include "ZmLib/Graphics/zmPixelFormat.h"
#include "ZmLib/zmHookScope.h"
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
    savedPathVars_ = GetPathVars();
    lcms_.Set(&CountLcms);
    lcmsCalls_ = 0;
    lcmsAnswer_ = true;
    NoColorManagement = false;
    SetForcedOutputProfile(nullptr);
    SetDisplayColorProfile(nullptr, false);
  }
  void TearDown() override {
    FiniShowLoader();
    InitShowLoader();
    lcms_.Restore();
    monitor_.Restore();
    NoColorManagement = false;
    SetDisplayColorProfile(nullptr, false);
    SetPathVars(savedPathVars_);
  }

  static bool CountLcms(TOruShowLocator*) {
    ++lcmsCalls_;
    return lcmsAnswer_;
  }

  WideString Container(TShowContainerWriter& w, const std::string& name = "show.orushow") {
    w.WriteFile((dir_.Path() / name).string());
    return dir_.Wide(name);
  }
  // The show of the project writer, each in a file of its own: open shows keep reading theirs.
  TRef<TOruShowLocator> OpenContainer(const TShowProjectWriter& show, WideString* error = nullptr) {
    TShowContainerWriter w;
    show.AddToContainer(w);
    WideString e;
    TRef<TOruShowLocator> l = OpenContainerShow(Container(w, "show" + std::to_string(++shows_) + ".orushow"), e);
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
  zm::THookScope<TLoadLcmsProc> lcms_{LoadLcmsHook};
  zm::THookScope<TColorSpaceProfilePathProc> monitor_{MonitorProfilePathHook};
  TPathVarTable savedPathVars_;
  zmtest::TTempDir dir_;
  int shows_ = 0;
};

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
  w.Add("cut.bin", "abc", zmtest::kDeflated).StoredBytes = "\x03";
  w.Add("far.bin", "f").PsText = "99999999";
  WideString error = u"old";
  TRef<TOruShowLocator> l = OpenContainerShow(Container(w), error);
  ASSERT_TRUE(l);
  EXPECT_EQ(error, u"");
  EXPECT_EQ(l->Version(), u"5.2.7");

  auto* source = dynamic_cast<TPackedFileSource*>(l->Accessor()->Source());
  ASSERT_NE(source, nullptr);
  for (const char16_t* name : {u"stored.bin", u"deflated.bin", u"SECRET.BIN"})
    EXPECT_EQ(Read(source, name), big) << plat::ToUtf8(name);
  // The window that reads an entry polls the load callback.
  TRef<TStream> s = TRef<TStream>::Adopt(source->OpenFile(u"secret.bin"));
  auto* crypt = dynamic_cast<TCryptStream*>(s.get());
  ASSERT_NE(crypt, nullptr);
  EXPECT_EQ(dynamic_cast<TPartialStream*>(crypt->Source())->BlockSize(), TPartialStream::kCallbackBlockSize);
  EXPECT_FALSE(Read(source, u""));
  // Damaged entries raise the readers' errors.
  EXPECT_THROW(Read(source, u"cut.bin"), EStreamError);
  EXPECT_THROW(Read(source, u"far.bin"), EStreamError);
  ASSERT_NE(l->GetSource(), nullptr);
  EXPECT_EQ(l->GetSource()->RepeatMode(), kRepeatStop);
}

TEST_F(ShowLoaderTest, ContainersThatCannotOpenGiveTheirTexts) {
  auto open = [&](TShowContainerWriter& w, const std::string& name) {
    WideString e = u"old";
    EXPECT_FALSE(OpenContainerShow(Container(w, name), e)) << name;
    return plat::ToUtf8(e);
  };
  // No description, or one that does not inflate.
  TShowContainerWriter noProject;
  noProject.Add("pic.jpg", "jpeg");
  EXPECT_EQ(open(noProject, "noproject.orushow"), "Executable SlideShow Open Error");
  TShowContainerWriter broken;
  broken.Add("Project.oru", "[main]\r\n", zmtest::kDeflated).StoredBytes = "\x03\xff\xff";
  EXPECT_EQ(open(broken, "broken.orushow"), "Executable SlideShow Open Error");
  // A trailer pointing outside the file.
  TShowContainerWriter outside;
  outside.DirectoryOffset = 1 << 30;
  EXPECT_EQ(open(outside, "outside.orushow"), "Slide-show File Damaged");
  // No container in the file, and no file at all: nil without a text.
  dir_.Write("plain.bin", "just a program");
  for (const char* name : {"plain.bin", "nothing-here.orushow"}) {
    WideString e = u"old";
    EXPECT_FALSE(OpenContainerShow(dir_.Wide(name), e));
    EXPECT_EQ(e, u"") << name;
  }
  EXPECT_EQ(ShowStackDepth(), 0);
  EXPECT_THROW(MakeRef<TOruShowLocator>(nullptr, u"Project.oru", false), EAbort);
}

// An entry found damaged is not read again while its show is open (a deflate
// bomb is not inflated on every try): the same error comes at once, also
// once the bytes on disk were mended. Through the accessor it opens as
// nothing and its picture is the load-error placeholder.
TEST_F(ShowLoaderTest, DamagedEntriesAreReadOnceAndShowAPlaceholder) {
  TShowProjectWriter show;
  show.Description().Section("main").Key("opt_repeat", "stop");
  TShowContainerWriter w;
  show.AddToContainer(w);
  w.Add("pictures\\good.jpg", HalvesJpeg(16, 8), zmtest::kEnciphered);
  const std::string junk("\xff\xff\xff\xff", 4), empty("\x03\x00\x00\x00", 4);
  w.Add("pictures\\bad.jpg", "", zmtest::kDeflated).StoredBytes = junk;
  const WideString file = Container(w);
  WideString error;
  TRef<TOruShowLocator> l = OpenContainerShow(file, error);
  ASSERT_TRUE(l);
  TFileSource* source = l->Accessor()->Source();
  EXPECT_THROW(Read(source, u"pictures\\bad.jpg"), EZDecompressionError);
  // The same bytes, now a complete (empty) deflate stream.
  w.Entries().back().StoredBytes = empty;
  ASSERT_EQ(Container(w), file);
  EXPECT_THROW(Read(source, u"PICTURES\\BAD.JPG"), EStreamError);
  TRef<TOruShowLocator> fresh = OpenContainerShow(file, error);
  ASSERT_TRUE(fresh);
  EXPECT_EQ(Read(fresh->Accessor()->Source(), u"pictures\\bad.jpg"), "");  // another show reads it anew

  EXPECT_EQ(TRef<TStream>::Adopt(l->Accessor()->OpenFile(u"pictures\\bad.jpg")), nullptr);
  TRef<TOruImage> bad, good;
  ASSERT_NO_THROW(bad = l->Accessor()->GetImage(u"pictures\\bad.jpg"));
  ASSERT_NO_THROW(good = l->Accessor()->GetImage(u"pictures\\good.jpg"));
  ASSERT_TRUE(bad);
  ASSERT_TRUE(good);
  EXPECT_EQ(good->Params.Width, 16);
  EXPECT_NE(bad->Params.Width, 16);
}

TEST_F(ShowLoaderTest, FileMapOpensTheMappedNameInAnyLetterCase) {
  TShowProjectWriter show;
  show.Description()
      .Section("FileMap")
      .Line("\"Photo One.JPG\" = \"pics\\real.jpg\"")
      .Line(";\"first.txt\"=\"other.txt\"")
      .Line("\"first.txt\"=\"pics\\real.jpg\"")
      .Line("\"self.jpg\"=\"self.jpg\"")
      .Line("\"ping\"=\"pong\"")
      .Line("\"pong\"=\"PING\"")
      .Line("no equals sign")
      .Line("\"\"=\"other.txt\"");
  // n0 -> n1 -> ... -> nk -> "other.txt": chains resolve up to the step limit.
  auto chain = [&](const std::string& p, int k) {
    for (int i = 0; i < k; ++i) show.Description().Line(p + std::to_string(i) + "=" + p + std::to_string(i + 1));
    show.Description().Line(p + std::to_string(k) + "=other.txt");
  };
  chain("short", kMaxNameSteps - 2);
  chain("long", kMaxNameSteps);
  show.AddFile("pics\\real.jpg", "REAL");
  show.AddFile("other.txt", "OTHER");
  show.AddFile("self.jpg", "SELF");
  TRef<TOruShowLocator> l = OpenContainer(show);
  ASSERT_TRUE(l);
  auto* source = dynamic_cast<TMappedFileSource*>(l->Accessor()->Source());
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(Read(source, u"PHOTO ONE.jpg"), "REAL");
  EXPECT_EQ(Read(source, u"First.TXT"), "OTHER");  // the first line wins
  EXPECT_EQ(Read(source, u"short0"), "OTHER");
  EXPECT_FALSE(Read(source, u"long0"));
  // A name mapped to itself, or a circle, opens nothing (and ends).
  EXPECT_FALSE(Read(source, u"self.jpg"));
  EXPECT_FALSE(Read(source, u"Pong"));
  EXPECT_EQ(source->MappedName(u"no equals sign"), u"");
  EXPECT_EQ(source->MappedName(u""), u"");
}

TEST_F(ShowLoaderTest, LongTablesAreReadInPlaceAndAnswerAsShortOnes) {
  // The odd lines of both tables: letter case and repeats (the first line
  // counts), names beyond ASCII, blanks, a block whose lines are not the
  // table's, an end outside any block, keys, lines that do not parse.
  const char* const rotations[] = {
      ";\"Mixed.JPG\"=6", ";\"MIXED.jpg\"=8", ";\"\xC3\xBC" "ber.jpg\"=3", ";\"\xC3\x9C\xC3\x9F.jpg\"= 8 ",
      ";\"plus.jpg\"=+6", ";\"zero.jpg\"=06", ";\"five.jpg\"=5", "object in:Block", ";\"inner.jpg\"=6",
      "end", "end", "key=;\"key.jpg\"=6", ";\"\"=6", ";\"open.jpg=6", ";\"quote\"\"=\".jpg\"=3"};
  const char* const maps[] = {"\"Alias.JPG\" = \"first.jpg\"", "\"alias.jpg\"=\"second.jpg\"",
                              ";\"\xC3\xBC.jpg\"=\"\xC3\xA4.jpg\"", "plain=target.jpg", "object o:T",
                              "\"inner\"=\"x\"", "end", "\"a=b\"=\"c\"", "no equals"};
  auto write = [&](TShowProjectWriter& show, int fill) {
    auto& d = show.Description();
    d.Section("RotationState");
    for (const char* line : rotations) d.Line(line);
    for (int i = 0; i < fill; ++i) d.Line(";\"p" + std::to_string(i) + ".jpg\"=" + "368"[i % 3]);
    d.Section("FileMap");
    for (const char* line : maps) d.Line(line);
    for (int i = 0; i < fill; ++i) d.Line("\"m" + std::to_string(i) + "\"=\"t" + std::to_string(i) + "\"");
  };
  // A long description waits in its text: the tables are read there. A
  // short one is read whole: they are read from its items.
  constexpr int kFill = 60000;
  TShowProjectWriter longShow, shortShow;
  write(longShow, kFill);
  write(shortShow, 0);
  TRef<TOruShowLocator> l = OpenContainer(longShow);
  TRef<TOruShowLocator> s = OpenContainer(shortShow);
  ASSERT_TRUE(l && s);
  EXPECT_TRUE(l->Description()->FindSection(u"RotationState")->Pending());
  EXPECT_TRUE(l->Description()->FindSection(u"FileMap")->Pending());
  EXPECT_FALSE(s->Description()->FindSection(u"RotationState")->Pending());
  for (TOruShowLocator* locator : {l.get(), s.get()}) {
    auto* source = dynamic_cast<TMappedFileSource*>(locator->Accessor()->Source());
    ASSERT_NE(source, nullptr);
    std::string got;
    for (const char16_t* name : {u"mixed.jpg", u"\u00DCBER.JPG", u"\u00FC\u00DF.jpg", u"plus.jpg", u"zero.jpg", u"five.jpg",
                                 u"inner.jpg", u"key.jpg", u"open.jpg", u"quote\"\"", u"quote\"", u""})
      got += std::to_string(source->RotationOf(name));
    EXPECT_EQ(got, "638661111111");
    EXPECT_EQ(source->MappedName(u"ALIAS.jpg"), u"first.jpg");
    EXPECT_EQ(source->MappedName(u"\u00DC.JPG"), u"\u00E4.jpg");
    EXPECT_EQ(source->MappedName(u"Plain"), u"target.jpg");
    EXPECT_EQ(source->MappedName(u"inner"), u"");
    EXPECT_EQ(source->MappedName(u"a=b"), u"c");
  }
  auto* source = static_cast<TMappedFileSource*>(l->Accessor()->Source());
  for (int i : {0, 1, 2, kFill / 2, kFill - 1}) {
    EXPECT_EQ(source->RotationOf(plat::FromUtf8("P" + std::to_string(i) + ".JPG")), "368"[i % 3] - '0') << i;
    EXPECT_EQ(source->MappedName(plat::FromUtf8("M" + std::to_string(i))), plat::FromUtf8("t" + std::to_string(i)));
  }
}

TEST_F(ShowLoaderTest, NamesWithABarOpenThePartBeforeIt) {
  TShowProjectWriter show;
  show.AddFile("anim.gif", "GIF89a");
  show.AddFile("odd|name.txt", "ODD");
  show.Description().Section("FileMap").Line("\"alias.gif\"=\"anim.gif|framesatlas\"");
  show.Write();
  TRef<TOruShowLocator> project = OpenProjectShow(W(show.ProjectFile()));
  EXPECT_EQ(Read(project->Accessor()->Source(), W(show.Folder() + "/anim.gif|a|b")), "GIF89a");
  // In a container an entry named with a bar is found as it is; any other
  // name is tried again before the bar.
  TRef<TOruShowLocator> packed = OpenContainer(show);
  TFileSource* entries = packed->Accessor()->Source();
  EXPECT_EQ(Read(entries, u"alias.gif"), "GIF89a");
  EXPECT_EQ(Read(entries, u"odd|name.txt"), "ODD");
  EXPECT_FALSE(Read(entries, u"|framesatlas"));
}

TEST_F(ShowLoaderTest, SizesFollowNamesAsOpeningDoesWithoutOpening) {
  TShowProjectWriter show;
  show.AddFile("pics\\real.jpg", "REAL");
  show.AddFile("anim.gif", "GIF89a");
  show.AddFile("odd|name.txt", "ODD");
  show.AddFile("empty.txt", "");
  show.Description()
      .Section("FileMap")
      .Line("\"Photo One.JPG\" = \"pics\\real.jpg\"")
      .Line("\"alias.gif\"=\"anim.gif|framesatlas\"")
      .Line("\"self.jpg\"=\"self.jpg\"")
      .Line("\"ping\"=\"pong\"")
      .Line("\"pong\"=\"PING\"");
  show.Write();
  TRef<TOruShowLocator> project = OpenProjectShow(W(show.ProjectFile()));
  TRef<TOruShowLocator> packed = OpenContainer(show);
  ASSERT_TRUE(project);
  ASSERT_TRUE(packed);
  for (TOruShowLocator* l : {project.get(), packed.get()})
    for (const WideString& name : {u"PHOTO ONE.jpg", u"alias.gif", u"anim.gif|a|b", u"odd|name.txt", u"empty.txt",
                                   u"self.jpg", u"Pong", u"missing.jpg", u"|framesatlas", u"pics", u""}) {
      const std::optional<std::string> bytes = Read(l->Accessor()->Source(), name);
      EXPECT_EQ(l->Accessor()->FileSize(name), bytes ? std::int64_t(bytes->size()) : -1)
          << (l == packed.get() ? "container " : "project ") << plat::ToUtf8(name);
    }
  // An entry found damaged has nothing to read.
  TShowContainerWriter w;
  show.AddToContainer(w);
  w.Add("bad.jpg", "", zmtest::kDeflated).StoredBytes = std::string("\xff\xff\xff\xff", 4);
  WideString error;
  TRef<TOruShowLocator> damaged = OpenContainerShow(Container(w, "damaged.orushow"), error);
  ASSERT_TRUE(damaged);
  EXPECT_EQ(damaged->Accessor()->FileSize(u"bad.jpg"), 4);  // as the directory has it
  EXPECT_ANY_THROW(Read(damaged->Accessor()->Source(), u"bad.jpg"));
  EXPECT_EQ(damaged->Accessor()->FileSize(u"bad.jpg"), -1);
}

TEST_F(ShowLoaderTest, RotationStateTurnsListedPictures) {
  TShowProjectWriter show;
  show.Description()
      .Section("RotationState")
      .Line(";\"Six.jpg\"=6")
      .Line(";\"eight.jpg\"=8")
      .Line(";\"five.jpg\"=5")
      .Line("\"nosemicolon.jpg\"=6")
      .Line(";\"missing.jpg\"=8");
  for (const char* name : {"six.jpg", "eight.jpg", "five.jpg", "nosemicolon.jpg"}) show.AddFile(name, HalvesJpeg(16, 8));
  TRef<TOruShowLocator> l = OpenContainer(show);
  ASSERT_TRUE(l);
  TFileSource* source = l->Accessor()->Source();
  TPixelFormat* rgb = PixelFormatByName(PF_R8G8B8);
  auto corners = [&](const char16_t* name) {
    TRef<TImage> image = source->CallImageCallbacks(name);
    if (!image) return std::string("none");
    auto* b = dynamic_cast<TSysBitmap*>(image->Store()->GetMipLevel(0, rgb, TSysBitmap::StaticClass()));
    if (!b || b->Width() != 8 || b->Height() != 16 || image->Params.Width != 8) return std::string("bad size");
    auto at = [&](int x, int y) {
      TColor24 c = b->Row24(y)[x];
      return IsRed(c) ? 'r' : IsBlue(c) ? 'b' : '?';
    };
    // Top left, top right, bottom left, bottom right.
    return std::string{at(0, 0), at(7, 0), at(0, 15), at(7, 15)};
  };
  EXPECT_EQ(corners(u"Six.JPG"), "rrbb");  // a quarter turn clockwise
  EXPECT_EQ(corners(u"eight.jpg"), "bbrr");
  // Ignored lines load the usual way; a listed name whose file is missing gives nothing.
  EXPECT_EQ(corners(u"five.jpg"), "none");
  EXPECT_EQ(corners(u"nosemicolon.jpg"), "none");
  EXPECT_EQ(corners(u"missing.jpg"), "none");
  // The shared pictures of the show come turned.
  EXPECT_EQ(l->Accessor()->GetImage(u"six.jpg")->GetBitmap()->Width(), 8);
}

TEST_F(ShowLoaderTest, ProjectShowsAndTheirPathModifiers) {
  dir_.Write("first/fx.ini", "FIRST");
  dir_.Write("second/only2.ini", "ONLY2");
  TShowProjectWriter show(dir_.Path().string() + "/My Show");
  show.Description()
      .Section("main")
      .Key("opt_exefn", plat::ToUtf8(dir_.Wide("My Show\\Output\\show.exe")))
      .Section("PathModifiers")
      .Key("Count", 3)
      .Key("Env0", "%fx%")
      .Key("Path0", plat::ToUtf8(dir_.Wide("first")))
      .Key("Env1", "%fx%")
      .Key("Path1", plat::ToUtf8(dir_.Wide("second\\")))
      .Key("Def1", "1")
      .Key("Path2", "no name");
  show.AddFile("Media/photo1.JPG", "PHOTO");
  show.Write();
  // Named in another letter case, with "\".
  TRef<TOruShowLocator> l = OpenProjectShow(dir_.Wide("my show\\PROJECT.ORU"));
  ASSERT_TRUE(l);
  EXPECT_FALSE(l->FromContainer());
  EXPECT_EQ(l->Accessor()->BaseFolder(), dir_.Wide("My Show\\Output\\"));
  TFileSource* source = l->Accessor()->Source();
  EXPECT_EQ(Read(source, dir_.Wide("MY SHOW\\media\\PHOTO1.jpg")), "PHOTO");
  EXPECT_FALSE(OpenProjectShow(dir_.Wide("My Show\\missing.oru")));

  EXPECT_EQ(GetPathVars().size(), 2u);
  EXPECT_EQ(Read(source, u"%fx%\\fx.ini"), "FIRST");
  EXPECT_EQ(Read(source, u"%FX%\\only2.ini"), "ONLY2");  // the default entry
  // The built-in variables are gone with the old table.
  EXPECT_EQ(ExpandPathVars(u"%effects%\\a.ini"), u"%effects%\\a.ini");
  // A container show keeps the table as it is; an empty section empties a project's.
  TShowProjectWriter packed;
  packed.Description().Section("PathModifiers").Key("Count", 0);
  ASSERT_TRUE(OpenContainer(packed));
  EXPECT_EQ(GetPathVars().size(), 2u);
  packed.Write();
  ASSERT_TRUE(OpenProjectShow(W(packed.ProjectFile())));
  EXPECT_TRUE(GetPathVars().empty());
}

TEST_F(ShowLoaderTest, ProjectSubstitutionOpensTheProjectInstead) {
  TShowProjectWriter project;
  project.Description().Section("main").Key("OruVersion", "project");
  project.Write();
  TShowContainerWriter packed;
  packed.Add("Project.oru", "[main]\r\n", zmtest::kDeflated);
  WideString container = Container(packed, "Show.OruShow");
  RegisterProjectSubstitution(dir_.Wide("show.orushow"), W(project.ProjectFile()));
  WideString e = u"old";
  TRef<TOruShowLocator> l = OpenContainerShow(container, e);
  ASSERT_TRUE(l);
  EXPECT_EQ(l->Version(), u"project");
  // A substitution whose project cannot be read gives nil, without a text;
  // an empty project path removes it.
  RegisterProjectSubstitution(container, dir_.Wide("none\\Project.oru"));
  EXPECT_FALSE(OpenContainerShow(container, e));
  EXPECT_EQ(e, u"");
  RegisterProjectSubstitution(container, u"");
  l = OpenContainerShow(container, e);
  ASSERT_TRUE(l);
  EXPECT_TRUE(l->FromContainer());
}

TEST_F(ShowLoaderTest, StrangeDescriptionsStillOpen) {
  TShowProjectWriter show;
  show.SetRawDescription(std::string(zmtest::kUtf8Bom) +
                         "no section line\r\n[main]\r\nOruVersion\r\nopt_repeat=sideways\r\nunknown=1\r\n"
                         "[Times]\r\nopt_slidescount=2147483647\r\nopt_synchpos0=1e308x\r\n"
                         "[PathModifiers]\r\nCount=2000000000\r\n"
                         "[RotationState]\r\n;\"x\"=99999999999999999999\r\n;\"\"=6\r\n;\"\r\n"
                         "[FileMap]\r\n=\r\n\"\r\n;\r\n\"a\"\"=\"\r\n[ColorManagement]\r\n");
  show.Write();
  TRef<TOruShowLocator> l = OpenProjectShow(W(show.ProjectFile()));
  ASSERT_TRUE(l);
  EXPECT_EQ(l->Version(), u"");
  EXPECT_TRUE(ShowNotColorManaged());
  ASSERT_NE(l->GetSource(), nullptr);
  EXPECT_EQ(l->GetSource()->RepeatMode(), kRepeatLoop);
  // A time of a slide that is no number is damage, not a time of 0.
  TShowProjectWriter bad;
  bad.SetRawDescription(std::string(zmtest::kUtf8Bom) + "[Times]\r\nopt_slidescount=9\r\nopt_synchpos7=1e308x\r\n");
  bad.Write();
  TRef<TOruShowLocator> damaged = OpenProjectShow(W(bad.ProjectFile()));
  ASSERT_TRUE(damaged);
  EXPECT_THROW(damaged->GetSource(), zm::EAbort);
  // And an empty description, in a container.
  TShowProjectWriter empty;
  empty.SetRawDescription("");
  WideString e;
  TRef<TOruShowLocator> packed = OpenContainer(empty, &e);
  ASSERT_TRUE(packed);
  EXPECT_EQ(e, u"");
  EXPECT_EQ(packed->GetSource()->SlideCount(), 0);
}

TEST_F(ShowLoaderTest, ColorManagementSettings) {
  // Empty: not colour-managed, the library is not even asked.
  ASSERT_TRUE(ContainerWithMain(""));
  EXPECT_TRUE(ShowNotColorManaged());
  EXPECT_FALSE(DisplayColorProfile());
  EXPECT_EQ(lcmsCalls_, 0);
  ASSERT_TRUE(ContainerWithMain("AdobeRGB"));
  EXPECT_TRUE(ShowColorManaged());
  EXPECT_EQ(DisplayColorProfile().get(), AdobeRGBProfile());

  // "*": the wide-gamut profile, not colour-managed, no library needed.
  SetDisplayColorProfile(nullptr, false);
  lcmsCalls_ = 0;
  ASSERT_TRUE(ContainerWithMain("*"));
  EXPECT_EQ(DisplayColorProfile().get(), FunkyRGBProfile());
  EXPECT_FALSE(ShowColorManaged() || ShowNotColorManaged());
  EXPECT_EQ(lcmsCalls_, 0);

  // Without the colour library, or switched off for the program, nothing changes.
  SetDisplayColorProfile(nullptr, false);
  lcmsAnswer_ = false;
  ASSERT_TRUE(ContainerWithMain("AdobeRGB"));
  EXPECT_FALSE(DisplayColorProfile() || ShowColorManaged());
  lcmsAnswer_ = true;
  NoColorManagement = true;
  ASSERT_TRUE(ContainerWithMain("AdobeRGB"));
  EXPECT_FALSE(DisplayColorProfile());
  EXPECT_TRUE(ShowNotColorManaged());
}

// The 3D layer's shared colour tables ask the program's switch.
TEST_F(ShowLoaderTest, SharedColourTablesFollowTheProgramSwitch) {
  const zm::TColorManagementOnProc managed = zm::ColorManagementOnHook.load();
  ASSERT_NE(managed, nullptr);
  EXPECT_TRUE(managed());
  NoColorManagement = true;
  EXPECT_FALSE(managed());
  NoColorManagement = false;
  ColorManagementEnabled = false;
  EXPECT_FALSE(managed());
  ColorManagementEnabled = true;
  EXPECT_TRUE(managed());
}

TEST_F(ShowLoaderTest, ProfileFilesAndTheForcedProfile) {
  TShowProjectWriter show;
  show.Description().Section("main").Key("ColorManagement", "Profiles\\Wide.icc");
  show.AddFile("profiles\\wide.icc", ProfileBytes(FunkyRGBProfile()));
  ASSERT_TRUE(OpenContainer(show));
  ASSERT_TRUE(DisplayColorProfile());
  EXPECT_EQ(DisplayColorProfile()->Data(), FunkyRGBProfile()->Data());
  // A missing profile file leaves no display profile (sRGB is used).
  ASSERT_TRUE(ContainerWithMain("none.icc"));
  EXPECT_FALSE(DisplayColorProfile());
  EXPECT_TRUE(ShowColorManaged());
  // "?": the monitor's profile, a file on disk.
  static std::string monitorPath;
  monitorPath = dir_.Write("monitor.icc", ProfileBytes(AdobeRGBProfile()));
  monitor_.Set([](std::uint32_t space, WideString& path) {
    path = space == 0 ? W(monitorPath) : WideString();
    return !path.empty();
  });
  ASSERT_TRUE(ContainerWithMain("?"));
  EXPECT_EQ(DisplayColorProfile()->Data(), AdobeRGBProfile()->Data());

  // A profile forced on the command line wins over any setting but an empty one.
  TRef<TColorProfile> forced = MakeRef<TColorProfile>(AdobeRGBProfile()->Data(), u"forced");
  SetForcedOutputProfile(forced.get());
  for (const char* v : {"*", "missing.icc", ""}) {
    SetDisplayColorProfile(nullptr, false);
    ASSERT_TRUE(ContainerWithMain(v));
    EXPECT_EQ(DisplayColorProfile().get(), *v ? forced.get() : nullptr) << v;
  }
  SetForcedOutputProfile(nullptr);
}

TEST_F(ShowLoaderTest, TheStackReappliesColorManagement) {
  TRef<TOruShowLocator> adobe = ContainerWithMain("AdobeRGB");
  TRef<TOruShowLocator> plain = ContainerWithMain("");
  ASSERT_TRUE(adobe && plain);
  PopShow();  // nothing kept: nothing happens
  EXPECT_EQ(CurrentShow(), nullptr);
  SetCurrentShow(adobe.get());
  PushShow(plain.get());
  EXPECT_TRUE(ShowNotColorManaged());
  SetDisplayColorProfile(sRGBProfile(), false);
  PopShow();
  EXPECT_EQ(CurrentShow(), adobe.get());
  EXPECT_EQ(DisplayColorProfile().get(), AdobeRGBProfile());
  EXPECT_TRUE(ShowColorManaged());
  // The end of the program releases the current show and the stack.
  PushShow(plain.get());
  FiniShowLoader();
  InitShowLoader();
  EXPECT_EQ(ShowStackDepth(), 0);
  EXPECT_EQ(adobe->RefCount(), 1);
  EXPECT_EQ(plain->RefCount(), 1);
}

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
