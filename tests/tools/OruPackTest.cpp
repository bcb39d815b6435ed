// The show packer, checked with the kit's container reader.
#include "tools/OruPacker.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "OruLib2/OruClasses/OruUnpack.h"
#include "Platform/PlatUtf8.h"

#include "tests/support/kit/ContainerReader.h"
#include "tests/support/kit/ShowContainerWriter.h"
#include "tests/support/kit/ShowProjectWriter.h"
#include "tests/support/kit/StreamBytes.h"
#include "tests/support/kit/TempFolder.h"

using namespace zmtest;
namespace fs = std::filesystem;

namespace {

struct TRun {
  int Status = -1;
  std::string Out, Err;
};

TRun Pack(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  TRun r;
  r.Status = orupack::RunOruPack(args, out, err);
  r.Out = out.str();
  r.Err = err.str();
  return r;
}

std::string Picture(std::size_t n) {
  std::string s;
  for (std::size_t i = 0; i < n; ++i) s += static_cast<char>((i * 7 + i / 13) & 0xFF);
  return s;
}

// A small show: description, a picture in a subfolder, music beside it.
class PackTest : public ::testing::Test {
protected:
  void SetUp() override {
    show_.Description().Section("main").Key("opt_repeat", "stop").Section("Times").Key("opt_slidescount", 1);
    show_.AddFile("pics\\IMG_1.JPG", Picture(3000));
    show_.AddFile("music.mp3", "ID3 mp3 bytes");
    show_.Write();
  }
  std::string Out(const std::string& name) const { return out_.File(name); }

  TShowProjectWriter show_;
  TTempFolder out_;
};

}  // namespace

TEST_F(PackTest, PacksAFolderIntoAContainerFile) {
  std::string guid = "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}";
  TRun r = Pack({show_.Folder(), Out("show.orushow"), "--guid", guid});
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_NE(r.Out.find("3 files"), std::string::npos) << r.Out;

  std::string file = ReadFileBytes(Out("show.orushow"));
  ASSERT_EQ(file.substr(file.size() - 4), ".dne");  // a file of its own: form 1
  TParsedContainer p = ParseContainer(file);
  // the description first and deflated, the files enciphered, by name order
  ASSERT_EQ(p.Sections.size(), 5u);
  EXPECT_EQ(p.Sections[0].first, "Project.oru");
  EXPECT_EQ(p.Sections[3].first, "ExeGUID");
  EXPECT_EQ(RawInflate(p.Stored(file, "Project.oru")), show_.DescriptionBytes());
  EXPECT_EQ(Unmask(p.Stored(file, "pics\\IMG_1.JPG")), Picture(3000));
  EXPECT_EQ(p.Stored(file, "ExeGUID"), TShowContainerWriter::ExeGuidData(guid));
  // entries back to back up to the directory
  EXPECT_EQ(std::stoll(p.Section("ExeGUID").at("_ps")) + 80, p.D);
  EXPECT_EQ(p.Section("$protection$").at("strucpos"), std::to_string(p.D));
}

TEST_F(PackTest, StoredAndDeflatedFiles) {
  ASSERT_EQ(Pack({"--stored", show_.Folder(), Out("s.orushow")}).Status, 0);
  std::string stored = ReadFileBytes(Out("s.orushow"));
  TParsedContainer s = ParseContainer(stored);
  EXPECT_EQ(s.Stored(stored, "pics\\IMG_1.JPG"), Picture(3000));
  EXPECT_EQ(s.Section("Project.oru").at("_pm"), "1");  // the description is always deflated

  ASSERT_EQ(Pack({show_.Folder(), "--deflated", Out("d.orushow")}).Status, 0);
  std::string file = ReadFileBytes(Out("d.orushow"));
  TParsedContainer p = ParseContainer(file);
  EXPECT_EQ(RawInflate(p.Stored(file, "pics\\IMG_1.JPG")), Picture(3000));
  // a GUID of its own each time, in braces
  std::string guid = p.Stored(file, "ExeGUID");
  ASSERT_EQ(guid.size(), 80u);
  EXPECT_EQ(guid.substr(4, 2), std::string("{\0", 2));
  EXPECT_NE(s.Stored(stored, "ExeGUID"), guid);
}

TEST_F(PackTest, AppendsToACopyOfTheProgram) {
  std::string program = Picture(5001);
  std::string programFile = Out("OruViewer5");
  WriteFileBytes(programFile, program);
  fs::permissions(programFile, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
  ASSERT_EQ(Pack({"--program", programFile, show_.Folder(), Out("MyShow")}).Status, 0);

  EXPECT_EQ(ReadFileBytes(programFile), program);  // the program itself is left alone
  std::string file = ReadFileBytes(Out("MyShow"));
  ASSERT_EQ(file.substr(0, program.size()), program);
  // form 2 with X = file size - 8: the base is 0 and positions are plain
  // file positions of the copy
  ASSERT_EQ(file.substr(file.size() - 12, 4), ".dne");
  EXPECT_EQ(Int64At(file, static_cast<std::int64_t>(file.size()) - 8), static_cast<std::int64_t>(file.size()) - 8);
  TParsedContainer p = ParseContainer(file);
  EXPECT_EQ(p.Section("Project.oru").at("_ps"), "5001");
  EXPECT_EQ(Unmask(p.Stored(file, "pics\\IMG_1.JPG")), Picture(3000));
  // the copy runs like the program
  auto perms = fs::status(Out("MyShow")).permissions();
  EXPECT_EQ(perms & fs::perms::all, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
  EXPECT_FALSE(fs::exists(Out("MyShow.part")));
}

TEST_F(PackTest, TheFolderAsFound) {
  // an "ExeGUID" of the show is kept as it is; the output inside the folder
  // is not packed again; a description in other letter case is found
  std::string folder = show_.Folder();
  WriteFileBytes(folder + "/ExeGUID", TShowContainerWriter::ExeGuidData("{11111111-2222-3333-4444-555555555555}"));
  fs::rename(folder + "/Project.oru", folder + "/PROJECT.ORU");
  fs::create_directories(folder + "/empty/folder");
  ASSERT_EQ(Pack({folder, folder + "/packed"}).Status, 0);
  ASSERT_EQ(Pack({folder, folder + "/packed"}).Status, 0);
  std::string file = ReadFileBytes(folder + "/packed");
  TParsedContainer p = ParseContainer(file);
  ASSERT_EQ(p.Sections.size(), 5u);
  EXPECT_EQ(p.Sections[0].first, "Project.oru");
  EXPECT_EQ(p.Stored(file, "ExeGUID"), TShowContainerWriter::ExeGuidData("{11111111-2222-3333-4444-555555555555}"));
  for (const auto& [name, keys] : p.Sections) EXPECT_NE(name, "packed");
}

TEST_F(PackTest, BadArgumentsAndMissingFiles) {
  auto usage = [](const TRun& r) { return r.Err.find("Usage: OruPack") != std::string::npos; };
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{},
                                             {show_.Folder()},
                                             {show_.Folder(), Out("a"), Out("b")},
                                             {"--zip", show_.Folder(), Out("a")},
                                             {show_.Folder(), Out("a"), "--program"},
                                             {"--guid", "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8FX}", show_.Folder(), Out("a")},
                                             {"", Out("a")}}) {
    TRun r = Pack(args);
    EXPECT_EQ(r.Status, orupack::kBadUsage) << args.size();
    EXPECT_TRUE(usage(r));
  }
  EXPECT_FALSE(fs::exists(Out("a")));
  TRun r = Pack({out_.File("no such folder"), Out("a")});
  EXPECT_EQ(r.Status, orupack::kFailed);
  EXPECT_NE(r.Err.find("no such folder"), std::string::npos);
  EXPECT_FALSE(usage(r));
  fs::create_directories(Out("not a show"));
  r = Pack({Out("not a show"), Out("a")});
  EXPECT_EQ(r.Status, orupack::kFailed);
  EXPECT_NE(r.Err.find("holds no Project.oru"), std::string::npos);
  // an output that cannot be written
  WriteFileBytes(Out("file"), "x");
  EXPECT_EQ(Pack({show_.Folder(), Out("file") + "/a"}).Status, orupack::kFailed);

  // "--" ends the options
  EXPECT_EQ(Pack({"--", show_.Folder(), Out("a")}).Status, 0);
  EXPECT_TRUE(fs::exists(Out("a")));
}

// The files a description names, by the keys that name files, whatever
// their letter case and indentation; comments, empty values and lines
// without a key are not names.
TEST(PackNamedFiles, KeysThatNameFiles) {
  const std::string text =
      "\xEF\xBB\xBF[main]\r\nopt_logo_fn=pictures\\logo.png\r\nopt_nav_inifile = skins\\nav.ini \r\n"
      "object Music:Music\r\n  object I:TMusicItem\r\n    FILENAME=music\\song.mp3\r\n  end\r\nend\r\n"
      "[RotationState]\r\n;\"pictures\\a.jpg\"=6\r\n[Slide1]\r\nPicture=\r\nbfn=back.jpg\nImageName\r\n"
      "  ImageName=a=b.jpg\r\nobject Photo:Image\r\n  ImageName=pictures\\a.jpg";
  const std::vector<orupack::TNamedFile> named = orupack::NamedFiles(text);
  std::vector<std::string> seen;
  for (const auto& n : named) seen.push_back(n.Section + "|" + n.Key + "|" + n.Name);
  EXPECT_EQ(seen, (std::vector<std::string>{"main|opt_logo_fn|pictures\\logo.png", "main|opt_nav_inifile|skins\\nav.ini",
                                            "main|FileName|music\\song.mp3", "Slide1|bfn|back.jpg",
                                            "Slide1|ImageName|a=b.jpg", "Slide1|ImageName|pictures\\a.jpg"}));
  EXPECT_TRUE(orupack::NamedFiles("").empty());
  EXPECT_TRUE(orupack::NamedFiles("[unclosed\nPicture").empty());
}

// Each file the show names that its folder lacks is warned of once, and the
// show is packed all the same; its Project.oru may stand for the folder.
TEST_F(PackTest, WarnsOfNamedFilesItLacksAndTakesTheProjectFile) {
  show_.Description().Section("Slide1").Key("Picture", "pics\\img_1.jpg").Key("bfn", "./pics/IMG_1.JPG");
  show_.Description().Key("ImageName", "pics\\gone.jpg").Section("Slide2").Key("ImageName", "pics\\gone.jpg");
  show_.Description().Key("FileName", "music\\song.mp3");
  show_.Write();
  TRun r = Pack({show_.Folder() + "/Project.oru", Out("show.orushow")});
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Err, "OruPack: warning: Project.oru names pics\\gone.jpg (ImageName in [Slide1]), which is not in " +
                       show_.Folder() + ": the show will play without it\n"
                       "OruPack: warning: Project.oru names music\\song.mp3 (FileName in [Slide2]), which is not in " +
                       show_.Folder() + ": the show will play without it\n");
  EXPECT_NE(r.Out.find("3 files of " + show_.Folder() + " packed"), std::string::npos) << r.Out;
  TParsedContainer p = ParseContainer(ReadFileBytes(Out("show.orushow")));
  EXPECT_EQ(p.Sections.size(), 5u);
  // Another file of the folder is neither a folder nor a description.
  r = Pack({show_.Folder() + "/music.mp3", Out("other.orushow")});
  EXPECT_EQ(r.Status, orupack::kFailed);
  EXPECT_NE(r.Err.find("is neither a show's folder nor its Project.oru"), std::string::npos) << r.Err;
  // A show that names only what it has packs without a word.
  TShowProjectWriter whole;
  whole.Description().Section("Slide1").Key("Picture", "a.jpg");
  whole.AddFile("A.JPG", Picture(10));
  whole.Write();
  r = Pack({whole.Folder(), Out("whole.orushow")});
  EXPECT_EQ(r.Status, 0);
  EXPECT_EQ(r.Err, "");
}

namespace {

// The peak resident size in kB (VmHWM), -1 when the system does not tell.
long long PeakResidentKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stoll(line.substr(6));
  return -1;
}

}  // namespace

// A large show file goes through in pieces: the container reads back with
// the player's reader, and packing does not hold the file in memory.
TEST_F(PackTest, LargeFileStreamsThrough) {
  constexpr std::int64_t kSize = std::int64_t(160) << 20;
  const std::string big = show_.Folder() + "/video/big.bin";
  fs::create_directories(show_.Folder() + "/video");
  {
    // Mostly a hole; marks at the start, across a piece boundary and at the end.
    std::ofstream f(big, std::ios::binary);
    f << "HEAD";
    f.seekp((std::int64_t(1) << 20) - 2);
    f << "MID!";
    f.seekp(kSize - 4);
    f << "TAIL";
  }
  ASSERT_EQ(static_cast<std::int64_t>(fs::file_size(big)), kSize);

  const long long peakBefore = PeakResidentKb();
  TRun r = Pack({show_.Folder(), Out("big.orushow")});
  ASSERT_EQ(r.Status, 0) << r.Err;
  const long long peakAfter = PeakResidentKb();
  if (peakBefore > 0 && peakAfter > 0) {
    EXPECT_LT(peakAfter - peakBefore, (kSize >> 10) / 4);
  }

  zm::TRef<oru::TOruUnpack> u = zm::MakeRef<oru::TOruUnpack>(plat::FromUtf8(Out("big.orushow")));
  ASSERT_TRUE(u->HasShow()) << plat::ToUtf8(u->ErrorText());
  std::int64_t pos = 0, size = 0;
  std::uint8_t method = 0;
  ASSERT_TRUE(u->FindEntry(u"video\\big.bin", pos, method, size));
  EXPECT_EQ(method, oru::kEnciphered);
  EXPECT_EQ(size, kSize);
  zm::TRef<zm::TStream> s =
      oru::TOruUnpack::OpenEntryStream(u->OpenContainerFile().Detach(), method, true, u->Key(), pos, size);
  ASSERT_NE(s, nullptr);
  std::vector<std::uint8_t> piece(std::size_t(1) << 20);
  std::int64_t at = 0, nonZero = 0;
  std::string marks;
  for (;;) {
    std::int32_t n = s->Read(piece);
    if (n <= 0) break;
    for (std::int32_t i = 0; i < n; ++i) {
      if (piece[std::size_t(i)] == 0) continue;
      ++nonZero;
      marks += static_cast<char>(piece[std::size_t(i)]);
    }
    at += n;
  }
  EXPECT_EQ(at, kSize);
  EXPECT_EQ(nonZero, 12);
  EXPECT_EQ(marks, "HEADMID!TAIL");
  // The other entries are where the directory says.
  ASSERT_TRUE(u->FindEntry(u"Project.oru", pos, method, size));
  s = oru::TOruUnpack::OpenEntryStream(u->OpenContainerFile().Detach(), method, true, u->Key(), pos, size);
  EXPECT_EQ(ReadAllBytes(s.get()), show_.DescriptionBytes());
}
