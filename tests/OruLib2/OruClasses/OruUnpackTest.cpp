#include "OruLib2/OruClasses/OruUnpack.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "Platform/PlatUtf8.h"
#include "tests/support/TempDir.h"
#include "tests/support/kit/ShowContainerWriter.h"
#include "tests/support/kit/StreamBytes.h"

using namespace zm;
using namespace oru;
using zmtest::RaisedText;
using zmtest::TShowContainerWriter;

namespace {

constexpr const char* kInsufficient = "EStreamError: Insufficient Source Size";

std::string Sample(std::size_t n, unsigned seed = 1) {
  std::string s;
  for (std::size_t i = 0; s.size() < n; ++i) s += "slide " + std::to_string((i * i + seed) % 977) + "\r\n";
  s.resize(n);
  return s;
}

WideString W(const std::string& utf8) { return plat::FromUtf8(utf8); }

class OruUnpackTest : public ::testing::Test {
protected:
  // Writes the container and opens it.
  TRef<TOruUnpack> Open(TShowContainerWriter& w, const std::string& name = "show.orushow") {
    w.WriteFile((dir_.Path() / name).string());
    return MakeRef<TOruUnpack>(dir_.Wide(name));
  }
  TRef<TOruUnpack> OpenBytes(const std::string& bytes, const std::string& name = "raw.bin") {
    dir_.Write(name, bytes);
    return MakeRef<TOruUnpack>(dir_.Wide(name));
  }
  std::string Raised(TShowContainerWriter& w) {
    return RaisedText([&] { Open(w); });
  }

  zmtest::TTempDir dir_;
};

// The entry as the file sources read it: its own file handle, its own streams.
TRef<TStream> OpenEntry(TOruUnpack* u, const std::string& name) {
  std::int64_t pos, size;
  std::uint8_t method;
  if (!u->FindEntry(W(name), pos, method, size)) return nullptr;
  return TOruUnpack::OpenEntryStream(u->OpenContainerFile().Detach(), method, true, u->Key(), pos, size);
}

std::optional<std::string> ReadEntry(TOruUnpack* u, const std::string& name) {
  TRef<TStream> s = OpenEntry(u, name);
  if (!s) return std::nullopt;
  return zmtest::ReadAllBytes(s.get(), 5000);
}

bool Found(TOruUnpack* u, const std::string& name) {
  std::int64_t pos, size;
  std::uint8_t method;
  return u->FindEntry(W(name), pos, method, size);
}

// A memory stream that tells when it is disposed.
class TWatchedStream : public TMemoryStream {
public:
  explicit TWatchedStream(bool* disposed) : disposed_(disposed) {}
  void Dispose() override {
    *disposed_ = true;
    TMemoryStream::Dispose();
  }

private:
  bool* disposed_;
};

}  // namespace

TEST_F(OruUnpackTest, FormOneReadsEveryMethod) {
  TShowContainerWriter w;
  w.Add("plain.txt", "stored bytes", zmtest::kStored);
  w.Add("Project.oru", Sample(200000), zmtest::kDeflated);
  w.Add("pics\\a.jpg", Sample(70000, 3), zmtest::kEnciphered);
  w.Add("empty.bin", "", zmtest::kStored);
  w.Add("empty.z", "", zmtest::kDeflated);
  TRef<TOruUnpack> u = Open(w);
  ASSERT_TRUE(u->HasShow());
  EXPECT_EQ(u->Version(), u"5.0.1");
  EXPECT_EQ(ReadEntry(u.get(), "plain.txt"), "stored bytes");
  EXPECT_EQ(ReadEntry(u.get(), "empty.bin"), "");
  EXPECT_EQ(ReadEntry(u.get(), "empty.z"), "");
  EXPECT_EQ(ReadEntry(u.get(), "PROJECT.ORU"), Sample(200000));  // names ignore letter case
  EXPECT_FALSE(Found(u.get(), ""));                               // never the document's own keys
  // Deflated entries come whole in memory; enciphered ones may be read from anywhere.
  EXPECT_NE(dynamic_cast<TMemoryStream*>(OpenEntry(u.get(), "Project.oru").get()), nullptr);
  TRef<TStream> s = OpenEntry(u.get(), "pics\\a.jpg");
  // Open entries stay readable after the container is closed.
  u->Close();
  EXPECT_FALSE(Found(u.get(), "plain.txt"));
  s->SetPosition(65001);
  EXPECT_EQ(zmtest::ReadAllBytes(s.get()), Sample(70000, 3).substr(65001));
}

TEST_F(OruUnpackTest, FormTwoBehindTheProgram) {
  TShowContainerWriter w;
  w.Prefix = std::string(5000, 'P');
  w.PrefixEntryName = "OruViewer5";
  w.TrailerForm = 2;
  w.Add("Project.oru", Sample(3000), zmtest::kDeflated);
  TRef<TOruUnpack> u = Open(w);
  ASSERT_TRUE(u->HasShow());
  EXPECT_EQ(u->EndMark(), w.FileSize() - 8);
  EXPECT_EQ(ReadEntry(u.get(), "OruViewer5"), w.Prefix);
  EXPECT_EQ(ReadEntry(u.get(), "Project.oru"), Sample(3000));

  // Written alone, then put behind 1000 bytes: the base finds the directory,
  // the integrity shift moves the entries.
  TShowContainerWriter m;
  m.Prefix = std::string(1000, 'x');
  m.TrailerForm = 2;
  m.Base = m.Moved = 1000;
  m.AllowModify = "1";
  m.Add("b", Sample(900), zmtest::kEnciphered);
  m.Add("c", Sample(5000), zmtest::kDeflated);
  u = Open(m);
  EXPECT_EQ(u->Shift(), 1000);
  EXPECT_EQ(ReadEntry(u.get(), "b"), Sample(900));
  EXPECT_EQ(ReadEntry(u.get(), "c"), Sample(5000));
  m.AllowModify = "0";
  EXPECT_EQ(Open(m)->ErrorText(), u"Slide-show File Modified");
}

TEST_F(OruUnpackTest, IntegrityAcceptsOrShiftsOrRefuses) {
  struct TCase {
    const char* Label;
    std::int64_t Moved;
    std::optional<std::string> StrucPos;  // nullopt: the writer's own value
    std::optional<std::string> Allow;
    bool Protection;
    const char16_t* Error;  // null: accepted
    std::int64_t Shift;
  };
  const TCase cases[] = {
      {"strucpos equals D", 0, std::nullopt, "0", true, nullptr, 0},
      {"no protection section", 0, std::nullopt, "0", false, nullptr, 0},
      {"moved, modification allowed", 123, std::nullopt, "1", true, nullptr, 123},
      {"moved, modification refused", 123, std::nullopt, "0", true, u"Slide-show File Modified", 0},
      {"moved, allowmodify absent", 123, std::nullopt, std::nullopt, true, u"Slide-show File Modified", 0},
      {"moved, allowmodify not exactly 1", 123, std::nullopt, "true", true, u"Slide-show File Modified", 0},
      {"not a number", 0, "12x", "1", true, u"Slide-show File Damaged", 0},
      {"not a number, refused", 0, "12x", "0", true, u"Slide-show File Modified", 0},
      {"beyond D", 0, "999999", "1", true, u"Slide-show File Damaged", 0},
      {"overflowing", 0, "99999999999999999999", "1", true, u"Slide-show File Damaged", 0},
      {"zero", 0, "0", "1", true, nullptr, -1},  // shift = D
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Label);
    TShowContainerWriter w;
    w.Moved = c.Moved;
    w.StrucPos = c.StrucPos;
    w.AllowModify = c.Allow;
    w.WriteProtection = c.Protection;
    w.Add("first", "1234567890");
    w.Add("second", Sample(300), zmtest::kEnciphered);
    TRef<TOruUnpack> u = Open(w);
    EXPECT_EQ(u->HasShow(), c.Error == nullptr);
    EXPECT_EQ(u->ErrorText(), c.Error ? c.Error : u"");
    if (c.Error) {
      EXPECT_FALSE(Found(u.get(), "first"));
      continue;
    }
    std::int64_t shift = c.Shift >= 0 ? c.Shift : w.DirectoryPosition();
    EXPECT_EQ(u->Shift(), shift);
    if (shift == c.Moved) {
      EXPECT_EQ(ReadEntry(u.get(), "second"), Sample(300));
    }
  }
}

TEST_F(OruUnpackTest, NamesAreEscapedIntoSections) {
  EXPECT_EQ(EscapeEntryName(u"a[b]c"), u"a<b>c");
  EXPECT_EQ(EscapeEntryName(WideString(u"a\x01", 2)), u"a#01");
  EXPECT_EQ(EscapeEntryName(WideString(u"\x1f\t\x7f", 3)), u"#1F#09\x7f");
  TShowContainerWriter w;
  w.Add(std::string("a\x01", 2), "control");
  w.Add("pics\\[1].jpg", "bracketed", zmtest::kEnciphered);
  w.Add("B\xC3\xA4r.png", "umlaut");
  TRef<TOruUnpack> u = Open(w);
  EXPECT_EQ(ReadEntry(u.get(), std::string("a\x01", 2)), "control");
  EXPECT_EQ(ReadEntry(u.get(), "pics\\[1].jpg"), "bracketed");
  EXPECT_EQ(ReadEntry(u.get(), "b\xC3\x84R.PNG"), "umlaut");
  EXPECT_FALSE(Found(u.get(), "a"));
}

// A blank is no control character: it stays in the section name, and a
// name with blanks is found whole, not by a part of it.
TEST_F(OruUnpackTest, EntryNamesWithBlanks) {
  EXPECT_EQ(EscapeEntryName(u"my beach photo.jpg"), u"my beach photo.jpg");
  TShowContainerWriter w;
  w.Add("pictures\\my beach photo.jpg", "blanks", zmtest::kEnciphered);
  w.Add("music\\two  blanks.mp3", "two", zmtest::kStored);
  TRef<TOruUnpack> u = Open(w);
  EXPECT_EQ(ReadEntry(u.get(), "pictures\\my beach photo.jpg"), "blanks");
  EXPECT_EQ(ReadEntry(u.get(), "PICTURES\\My Beach Photo.JPG"), "blanks");
  EXPECT_EQ(ReadEntry(u.get(), "music\\two  blanks.mp3"), "two");
  EXPECT_FALSE(Found(u.get(), "pictures\\my"));
  EXPECT_FALSE(Found(u.get(), "pictures\\mybeachphoto.jpg"));
  EXPECT_FALSE(Found(u.get(), "music\\two blanks.mp3"));
}

TEST_F(OruUnpackTest, SectionKeysDecideWhatIsFound) {
  TShowContainerWriter w;
  w.Prefix = std::string(100, 'p');
  w.Moved = 50;
  w.AllowModify = "1";
  w.Add("noSz", "1").OmitSz = true;
  w.Add("noPs", "2").OmitPs = true;  // the shift never revives an absent position
  w.Add("noPm", "3").OmitPm = true;
  w.Add("pm7", "4").PmText = "7";
  w.Add("pm257", "5").PmText = "257";  // never taken as 1 (deflate)
  w.Add("psText", "7").PsText = "abc";
  w.Add("szMinus1", "8").SzText = "-1";
  w.Add("zeroSize", "").SzText = "0";
  TRef<TOruUnpack> u = Open(w);
  ASSERT_EQ(u->Shift(), 50);
  for (const char* missing : {"noSz", "noPs", "psText", "szMinus1"}) EXPECT_FALSE(Found(u.get(), missing)) << missing;
  EXPECT_EQ(ReadEntry(u.get(), "noPm"), "3");
  EXPECT_EQ(ReadEntry(u.get(), "pm7"), "4");
  EXPECT_EQ(ReadEntry(u.get(), "pm257"), "5");
  EXPECT_EQ(ReadEntry(u.get(), "zeroSize"), "");
}

TEST_F(OruUnpackTest, WindowsOutsideTheFileRaise) {
  TShowContainerWriter w;
  w.Add("far", "x").PsText = "999999999";
  w.Add("long", "y").SzText = "999999999";
  w.Add("negative", "z").PsText = "-5";
  w.Add("huge", "h").PsText = "9223372036854775807";
  w.Add("deflatedFar", "d", zmtest::kDeflated).PsText = "999999999";
  TRef<TOruUnpack> u = Open(w);
  for (const char* name : {"far", "long", "negative", "huge", "deflatedFar"})
    EXPECT_EQ(RaisedText([&] { ReadEntry(u.get(), name); }), kInsufficient) << name;
  // A shift that would overflow the position: not found.
  w.Prefix = std::string(100, 'p');
  w.Moved = 10;
  w.AllowModify = "1";
  u = Open(w);
  ASSERT_TRUE(u->HasShow());
  EXPECT_FALSE(Found(u.get(), "huge"));
  // ...and one that the shift turns into -1, the mark of an absent position.
  std::int64_t shift = u->Shift();
  w.Add("minusOne", "m").PsText = std::to_string(-1 - shift);
  u = Open(w);
  ASSERT_EQ(u->Shift(), shift);
  EXPECT_FALSE(Found(u.get(), "minusOne"));
  EXPECT_TRUE(Found(u.get(), "negative"));
}

TEST_F(OruUnpackTest, DeflatedEntriesDamagedOrAroundTheMemoryGrowthSteps) {
  // Held in memory that starts at the window's size (at least 64 KiB) and
  // doubles: outputs just below, at and above each step read back whole.
  TShowContainerWriter w;
  std::string noise;
  for (std::size_t i = 0; i < 140000; ++i) noise += static_cast<char>((i * 2654435761u) >> 13);
  for (std::size_t n : {65535u, 65536u, 65537u, 131072u, 131073u})
    w.Add("noise" + std::to_string(n), noise.substr(0, n), zmtest::kDeflated);
  w.Add("junk", "x", zmtest::kDeflated).StoredBytes = std::string("\xff\xff\xff\xff", 4);
  w.Add("cut", "x", zmtest::kDeflated).StoredBytes = TShowContainerWriter::Deflate(Sample(50000)).substr(0, 100);
  TRef<TOruUnpack> u = Open(w);
  for (std::size_t n : {65535u, 65536u, 65537u, 131072u, 131073u})
    EXPECT_EQ(ReadEntry(u.get(), "noise" + std::to_string(n)), noise.substr(0, n)) << n;
  EXPECT_EQ(RaisedText([&] { ReadEntry(u.get(), "junk"); }).rfind("EZDecompressionError: ", 0), 0u);
  EXPECT_EQ(RaisedText([&] { ReadEntry(u.get(), "cut"); }).rfind("EZDecompressionError: ", 0), 0u);
}

// A deflated entry may give so many bytes and take so long to inflate; past
// either it is damaged (a deflate bomb gives a thousand times its size).
TEST_F(OruUnpackTest, DeflatedEntriesAreBoundedInSizeAndTime) {
  const std::int64_t n = 3 << 20;  // more than one piece between two looks at the clock
  TShowContainerWriter w;
  w.Add("zeros", std::string(std::size_t(n), '\0'), zmtest::kDeflated);
  TRef<TOruUnpack> u = Open(w);
  std::int64_t pos, size;
  std::uint8_t method;
  ASSERT_TRUE(u->FindEntry(u"zeros", pos, method, size));
  EXPECT_LT(size, n / 100);
  const auto open = [&](std::int64_t bytes, std::int64_t ms) {
    return RaisedText([&] {
      TRef<TStream> s = TOruUnpack::OpenEntryStream(u->OpenContainerFile().Detach(), method, true, u->Key(), pos,
                                                    size, TOruUnpack::TInflateLimits{bytes, ms});
      EXPECT_EQ(s->GetSize(), n);
    });
  };
  EXPECT_EQ(open(n, 60000), "(no exception)");
  EXPECT_EQ(open(n - 1, 60000), std::string("EStreamReadError: ") + TOruUnpack::kEntryTooLargeText);
  EXPECT_EQ(open(n, 0), std::string("EStreamReadError: ") + TOruUnpack::kEntryTooSlowText);
  EXPECT_EQ(ReadEntry(u.get(), "zeros")->size(), std::size_t(n));  // well inside the usual limits
}

TEST(OruUnpackEntryStream, OwnsItsSourceAsTold) {
  EXPECT_EQ(TOruUnpack::OpenEntryStream(nullptr, kEntryStored, true, "k", 0, 0), nullptr);
  // A refused window still frees an owned source.
  bool disposed = false;
  auto* src = new TWatchedStream(&disposed);
  EXPECT_EQ(RaisedText([&] { TOruUnpack::OpenEntryStream(src, kEntryEnciphered, true, "k", 0, 1); }), kInsufficient);
  EXPECT_TRUE(disposed);
}

TEST_F(OruUnpackTest, FilesWithoutAContainerCarryNoShow) {
  const std::string files[] = {
      "", "x", ".dn", ".dne", "abcdefg.dne" /* 11 bytes */, std::string(4096, 'z'),
      // Form 2 without room for a directory offset before the tag.
      std::string(".dne") + std::string(8, '\0'), "abcdefg.dne" + std::string(8, '\0'),
  };
  for (const std::string& f : files) {
    TRef<TOruUnpack> u = OpenBytes(f);
    EXPECT_FALSE(u->HasShow()) << f.size();
    EXPECT_EQ(u->ErrorText(), u"");
    EXPECT_FALSE(Found(u.get(), "x"));
  }
  EXPECT_EQ(RaisedText([&] { MakeRef<TOruUnpack>(dir_.Wide("none.orushow")); }).rfind("EFileOpenError", 0), 0u);
  std::filesystem::create_directory(dir_.Path() / "folder");
  EXPECT_EQ(RaisedText([&] { MakeRef<TOruUnpack>(dir_.Wide("folder")); }).rfind("EFileOpenError", 0), 0u);
}

TEST_F(OruUnpackTest, ATrailerPointingOutsideTheFileRaises) {
  for (std::int64_t off : {std::int64_t{-1}, std::int64_t{1000000}, INT64_MAX, INT64_MIN}) {
    TShowContainerWriter w;
    w.Add("a", "b");
    w.DirectoryOffset = off;
    EXPECT_EQ(Raised(w), kInsufficient) << off;
  }
  // Form 2: a base field that puts the base anywhere, overflowing included.
  for (std::int64_t x : {std::int64_t{-1}, INT64_MIN, INT64_MAX, std::int64_t{1}}) {
    TShowContainerWriter w;
    w.TrailerForm = 2;
    w.Add("a", "b");
    w.BaseField = x;
    EXPECT_EQ(Raised(w), kInsufficient) << x;
  }
}

TEST_F(OruUnpackTest, DirectoriesThatAreNotDeflateOrNotIni) {
  for (const std::string& bytes : {std::string("not deflate data at all"), std::string(),
                                   TShowContainerWriter::Deflate(Sample(5000)).substr(0, 50)}) {
    TShowContainerWriter w;
    w.DirectoryBytes = bytes;
    EXPECT_EQ(Raised(w).rfind("EZDecompressionError: ", 0), 0u) << bytes.size();
  }
  // Text that is no ini document holds no entries and no integrity section:
  // the container opens empty.
  TShowContainerWriter binary;
  binary.DirectoryText = std::string("\x00\x01\x02\xff\xfe[x\x00", 8) + Sample(100);
  TRef<TOruUnpack> u = Open(binary);
  EXPECT_TRUE(u->HasShow());
  EXPECT_FALSE(Found(u.get(), "x"));
  // About 80 MiB of text from 80 KiB of deflate data is refused.
  TShowContainerWriter bomb;
  bomb.DirectoryText = std::string(80 << 20, ' ');
  u = Open(bomb);
  EXPECT_FALSE(u->HasShow());
  EXPECT_EQ(u->ErrorText(), u"");
}

TEST_F(OruUnpackTest, EveryTruncationFailsCleanly) {
  TShowContainerWriter w;
  w.TrailerForm = 2;
  w.Prefix = "program";
  w.Add("Project.oru", Sample(2000), zmtest::kDeflated);
  w.Add("pic", Sample(100), zmtest::kEnciphered);
  std::string whole = w.Bytes();
  for (std::size_t n = 0; n < whole.size(); ++n) {
    std::string raised = RaisedText([&] {
      TRef<TOruUnpack> u = OpenBytes(whole.substr(0, n));
      // Cut just before the base field, the file ends in a sound first form.
      EXPECT_EQ(u->HasShow(), n == whole.size() - 8) << n;
    });
    if (raised != "(no exception)") {
      EXPECT_TRUE(raised.rfind("EStreamError", 0) == 0 || raised.rfind("EZDecompressionError", 0) == 0) << raised;
    }
  }
}

TEST_F(OruUnpackTest, LargeSparseContainersKeepSixtyFourBitPositions) {
  TShowContainerWriter w;
  w.Prefix = "program";
  w.TrailerForm = 2;
  w.AddSparse("big.bin", 3'000'000'000LL);
  w.Add("after", Sample(1000), zmtest::kEnciphered);
  TRef<TOruUnpack> u = Open(w, "big.orushow");
  TRef<TStream> s = OpenEntry(u.get(), "big.bin");
  ASSERT_TRUE(s);
  EXPECT_EQ(s->GetSize(), 3'000'000'000LL);
  s->SetPosition(3'000'000'000LL - 10);
  EXPECT_EQ(zmtest::ReadAllBytes(s.get()), std::string(10, '\0'));
  EXPECT_EQ(ReadEntry(u.get(), "after"), Sample(1000));
}
