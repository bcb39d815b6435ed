// The test-show writers checked against the container format itself, with
// the reader of the kit that is written from the format alone.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/support/kit/ContainerReader.h"
#include "tests/support/kit/IniText.h"
#include "tests/support/kit/ShowContainerWriter.h"
#include "tests/support/kit/ShowProjectWriter.h"
#include "tests/support/kit/TempFolder.h"

using namespace zmtest;

namespace {

std::string Sample(std::size_t n) {
  std::string s;
  for (std::size_t i = 0; s.size() < n; ++i) s += "line " + std::to_string(i * i % 977) + "\r\n";
  s.resize(n);
  return s;
}

}  // namespace

TEST(ShowContainerWriter, FormOneHoldsEveryMethod) {
  TShowContainerWriter w;
  w.Add("plain.txt", "stored bytes", kStored);
  w.Add("Project.oru", Sample(20000), kDeflated);
  w.Add("pictures\\a.jpg", Sample(5000), kEnciphered);
  std::string file = w.Bytes();
  ASSERT_EQ(file.substr(file.size() - 4), ".dne");
  TParsedContainer p = ParseContainer(file);
  EXPECT_EQ(p.Base, 0);
  EXPECT_EQ(p.D, w.DirectoryPosition());

  ASSERT_EQ(p.Sections.size(), 4u);
  EXPECT_EQ(p.Sections[0].first, "plain.txt");
  EXPECT_EQ(p.Sections[3].first, "$protection$");
  EXPECT_EQ(p.Section("plain.txt").at("_ps"), "0");
  EXPECT_EQ(p.Section("plain.txt").at("_pm"), "0");
  EXPECT_EQ(p.Stored(file, "plain.txt"), "stored bytes");
  EXPECT_EQ(p.Section("Project.oru").at("_pm"), "1");
  EXPECT_EQ(RawInflate(p.Stored(file, "Project.oru")), Sample(20000));
  EXPECT_EQ(p.Section("pictures\\a.jpg").at("_pm"), "2");
  EXPECT_EQ(Unmask(p.Stored(file, "pictures\\a.jpg")), Sample(5000));
  // Entries lie back to back before the directory.
  EXPECT_EQ(std::stoll(p.Section("pictures\\a.jpg").at("_ps")) + 5000, p.D);

  const auto& prot = p.Section("$protection$");
  EXPECT_EQ(prot.at("strucpos"), std::to_string(p.D));
  EXPECT_EQ(prot.at("allowmodify"), "0");
  EXPECT_EQ(prot.at("oruversion"), "5.0.1");
}

TEST(ShowContainerWriter, FormTwoBehindAProgram) {
  TShowContainerWriter w;
  w.Prefix = std::string(4096, 'P');
  w.PrefixEntryName = "OruViewer5";
  w.TrailerForm = 2;
  w.Add("ExeGUID", TShowContainerWriter::ExeGuidData("{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}"));
  std::string file = w.Bytes();
  ASSERT_EQ(file.substr(file.size() - 12, 4), ".dne");
  EXPECT_EQ(Int64At(file, static_cast<std::int64_t>(file.size()) - 8), static_cast<std::int64_t>(file.size()) - 8);
  TParsedContainer p = ParseContainer(file);
  EXPECT_EQ(p.Base, 0);
  EXPECT_EQ(p.Section("OruViewer5").at("_ps"), "0");
  EXPECT_EQ(p.Section("OruViewer5").at("_sz"), "4096");
  std::string guid = p.Stored(file, "ExeGUID");
  ASSERT_EQ(guid.size(), 80u);
  EXPECT_EQ(guid.substr(0, 4), std::string("\x4c\0\0\0", 4));  // 76 bytes of text
  EXPECT_EQ(guid.substr(4, 4), std::string("{\0000\0", 4));
  EXPECT_EQ(p.Section("ExeGUID").at("_ps"), "4096");
}

TEST(ShowContainerWriter, ContainerMovedBehindAnotherProgram) {
  // Written alone, then put behind 1000 bytes without rewriting: base 1000,
  // every position in the directory 1000 too small.
  TShowContainerWriter w;
  w.Prefix = std::string(1000, 'x');
  w.TrailerForm = 2;
  w.Base = 1000;
  w.Moved = 1000;
  w.AllowModify = "1";
  w.Add("a", "AAAA");
  std::string file = w.Bytes();
  TParsedContainer p = ParseContainer(file);
  EXPECT_EQ(p.Base, 1000);
  EXPECT_EQ(p.D, w.DirectoryPosition());
  EXPECT_EQ(Int64At(file, p.End - 12), p.D - 1000);
  EXPECT_EQ(p.Section("$protection$").at("strucpos"), std::to_string(p.D - 1000));
  EXPECT_EQ(p.Section("$protection$").at("allowmodify"), "1");
  EXPECT_EQ(p.Section("a").at("_ps"), "0");
  EXPECT_EQ(file.substr(1000, 4), "AAAA");
}

TEST(ShowContainerWriter, EscapesNamesIntoSections) {
  EXPECT_EQ(TShowContainerWriter::EscapeName("a[b]c"), "a<b>c");
  EXPECT_EQ(TShowContainerWriter::EscapeName(std::string("a\x01", 2)), "a#01");
  EXPECT_EQ(TShowContainerWriter::EscapeName(std::string("\x1f\t", 2)), "#1F#09");
  TShowContainerWriter w;
  w.Add("ColorSpaceExe_YUVsRGB].ZMGFX", "lut");
  w.Add("VectTxt2: Arial:12:x", "v");
  w.Add(std::string("a\x01", 2), "ctl");
  TParsedContainer p = ParseContainer(w.Bytes());
  EXPECT_EQ(p.Sections[0].first, "ColorSpaceExe_YUVsRGB>.ZMGFX");
  EXPECT_EQ(p.Sections[1].first, "VectTxt2: Arial:12:x");
  EXPECT_EQ(p.Sections[2].first, "a#01");
}

TEST(ShowContainerWriter, DamageKnobs) {
  TShowContainerWriter w;
  TContainerEntry& e = w.Add("e", "data");
  e.OmitSz = true;
  e.PmText = "7";
  w.Add("f", "more").PsText = "999999999999";
  w.StrucPos = "12x";
  w.AllowModify.reset();
  w.OruVersion.reset();
  TParsedContainer p = ParseContainer(w.Bytes());
  EXPECT_FALSE(p.Section("e").count("_sz"));
  EXPECT_EQ(p.Section("e").at("_pm"), "7");
  EXPECT_EQ(p.Section("f").at("_ps"), "999999999999");
  EXPECT_EQ(p.Section("$protection$").at("strucpos"), "12x");
  EXPECT_FALSE(p.Section("$protection$").count("allowmodify"));
  EXPECT_FALSE(p.Section("$protection$").count("oruversion"));

  TShowContainerWriter junk;
  junk.DirectoryBytes = "not deflate";
  std::string file = junk.Bytes();
  EXPECT_EQ(file, "not deflate" + Int64Bytes(0) + ".dne");

  TShowContainerWriter text;
  text.DirectoryText = "plain words";
  EXPECT_EQ(RawInflate(text.Bytes().substr(0, static_cast<std::size_t>(text.DirectoryLength()))), "plain words");

  TShowContainerWriter trailer;
  trailer.TrailerForm = 2;
  trailer.DirectoryOffset = -5;
  trailer.BaseField = 1234567;
  file = trailer.Bytes();
  EXPECT_EQ(Int64At(file, static_cast<std::int64_t>(file.size()) - 20), -5);
  EXPECT_EQ(Int64At(file, static_cast<std::int64_t>(file.size()) - 8), 1234567);

  TShowContainerWriter untagged;
  untagged.WriteTag = false;
  file = untagged.Bytes();
  EXPECT_EQ(file.find(".dne"), std::string::npos);

  TShowContainerWriter cut;
  cut.Add("x", Sample(100));
  cut.TruncateTo = 7;
  EXPECT_EQ(cut.Bytes(), Sample(7));
  cut.TruncateTo = 0;
  EXPECT_EQ(cut.Bytes(), "");
  EXPECT_EQ(cut.FileSize(), 0);
}

TEST(ShowContainerWriter, LargeSparseEntriesKeepSixtyFourBitPositions) {
  TTempFolder tmp;
  TShowContainerWriter w;
  w.AddSparse("big.bin", 3'000'000'000LL);
  w.Add("after", "tail entry", kEnciphered);
  std::string path = tmp.File("big.orushow");
  std::int64_t size = w.WriteFile(path);
  EXPECT_EQ(static_cast<std::int64_t>(std::filesystem::file_size(path)), size);
  EXPECT_GT(size, 3'000'000'000LL);

  // Read only the tail of the file, as a reader would.
  std::ifstream f(path, std::ios::binary);
  std::int64_t tailAt = w.Find("after")->Position;
  f.seekg(tailAt);
  std::string tail(static_cast<std::size_t>(size - tailAt), '\0');
  f.read(tail.data(), static_cast<std::streamsize>(tail.size()));
  EXPECT_EQ(Int64At(tail, static_cast<std::int64_t>(tail.size()) - 12), w.DirectoryPosition());
  std::string dir = RawInflate(tail.substr(static_cast<std::size_t>(w.DirectoryPosition() - tailAt),
                                           static_cast<std::size_t>(w.DirectoryLength())));
  TSections s = SplitIni(dir.substr(3));
  EXPECT_EQ(s[0].second.at("_sz"), "3000000000");
  EXPECT_EQ(s[1].second.at("_ps"), "3000000000");
  EXPECT_EQ(Unmask(tail.substr(0, 10)), "tail entry");
}

TEST(IniText, WritesTheDocumentForm) {
  TIniText t;
  t.Section("main").Key("opt_repeat", "repeat").Text("Title", "a\\b\r\nc\x01" "d\n\re");
  t.Section("Slide1").Object("TheEffect", "").Key("time", 2000).Object("Pic", "Image").Key("x", "1").End().End();
  t.Object("", "").End();
  EXPECT_EQ(t.Bytes(),
            "\xEF\xBB\xBF[main]\r\nopt_repeat=repeat\r\nTitle=a\\\\b\\ncd\\ne\r\n"
            "[Slide1]\r\nobject TheEffect\r\n  time=2000\r\n  object Pic:Image\r\n    x=1\r\n  end\r\nend\r\n"
            "object\r\nend\r\n");
  EXPECT_EQ(t.Bytes(false).substr(0, 6), "[main]");
}

TEST(ShowProjectWriter, WritesAFolderAndTheSameShowAsAContainer) {
  std::string folder;
  {
    TShowProjectWriter w;
    w.Description().Section("main").Key("opt_slidescount", 1);
    w.AddFile("pics\\IMG_1.JPG", "jpeg bytes");
    w.AddFile("music.mp3", "mp3 bytes");
    folder = w.Write();
    EXPECT_EQ(ReadFileBytes(w.ProjectFile()), "\xEF\xBB\xBF[main]\r\nopt_slidescount=1\r\n");
    EXPECT_EQ(ReadFileBytes(folder + "/pics/IMG_1.JPG"), "jpeg bytes");
    EXPECT_EQ(ReadFileBytes(folder + "/music.mp3"), "mp3 bytes");

    TShowContainerWriter c;
    w.AddToContainer(c);
    std::string file = c.Bytes();
    TParsedContainer p = ParseContainer(file);
    EXPECT_EQ(p.Section("Project.oru").at("_pm"), "1");
    EXPECT_EQ(RawInflate(p.Stored(file, "Project.oru")), w.DescriptionBytes());
    EXPECT_EQ(p.Section("pics\\IMG_1.JPG").at("_pm"), "2");
    EXPECT_EQ(Unmask(p.Stored(file, "pics\\IMG_1.JPG")), "jpeg bytes");

    w.SetRawDescription("raw\nbytes");
    w.Write();
    EXPECT_EQ(ReadFileBytes(w.ProjectFile()), "raw\nbytes");
  }
  EXPECT_FALSE(std::filesystem::exists(folder));  // the temporary folder went with the writer
}
