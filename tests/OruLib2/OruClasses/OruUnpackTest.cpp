#include "OruLib2/OruClasses/OruUnpack.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "OruLib2/OruClasses/zmInflate.h"
#include "OruLib2/OruClasses/zmStreamUtils.h"
#include "Platform/PlatUtf8.h"
#include "tests/support/TempDir.h"
#include "tests/support/kit/ShowContainerWriter.h"
#include "tests/support/kit/StreamBytes.h"

using namespace zm;
using namespace oru;
using zmtest::RaisedText;
using zmtest::TContainerEntry;
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
std::optional<std::string> ReadEntry(TOruUnpack* u, const std::string& name) {
  std::int64_t pos, size;
  std::uint8_t method;
  if (!u->FindEntry(W(name), pos, method, size)) return std::nullopt;
  TRef<TStream> s = TOruUnpack::OpenEntryStream(u->OpenContainerFile().Detach(), method, true, u->Key(), pos, size);
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

// ============================================================================
// Trailer forms and entry methods
// ============================================================================

TEST_F(OruUnpackTest, FormOneReadsEveryMethod) {
  TShowContainerWriter w;
  w.Add("plain.txt", "stored bytes", zmtest::kStored);
  w.Add("Project.oru", Sample(200000), zmtest::kDeflated);
  w.Add("pics\\a.jpg", Sample(70000, 3), zmtest::kEnciphered);
  w.Add("empty.bin", "", zmtest::kStored);
  w.Add("empty.z", "", zmtest::kDeflated);
  TRef<TOruUnpack> u = Open(w);
  ASSERT_TRUE(u->HasShow());
  EXPECT_EQ(u->EndMark(), w.FileSize());
  EXPECT_EQ(u->Shift(), 0);
  EXPECT_EQ(u->Version(), u"5.0.1");
  EXPECT_EQ(u->ErrorText(), u"");
  EXPECT_EQ(u->Key().Str(), "5E2C8A0F9B3D7146E1A4C02F68D9B753");

  EXPECT_EQ(ReadEntry(u.get(), "plain.txt"), "stored bytes");
  EXPECT_EQ(ReadEntry(u.get(), "Project.oru"), Sample(200000));
  EXPECT_EQ(ReadEntry(u.get(), "pics\\a.jpg"), Sample(70000, 3));
  EXPECT_EQ(ReadEntry(u.get(), "empty.bin"), "");
  EXPECT_EQ(ReadEntry(u.get(), "empty.z"), "");
  EXPECT_EQ(ReadEntry(u.get(), "PROJECT.ORU"), Sample(200000));  // names ignore letter case
  EXPECT_FALSE(Found(u.get(), "missing"));
  EXPECT_FALSE(Found(u.get(), ""));  // never the document's own keys

  // The stream kinds by method, and where each starts.
  std::int64_t pos, size;
  std::uint8_t method;
  ASSERT_TRUE(u->FindEntry(u"Project.oru", pos, method, size));
  EXPECT_EQ(method, kEntryDeflated);
  EXPECT_EQ(pos, w.Find("Project.oru")->Position);
  EXPECT_EQ(size, w.Find("Project.oru")->StoredSize);
  TRef<TStream> s = TOruUnpack::OpenEntryStream(u->OpenContainerFile().Detach(), method, true, u->Key(), pos, size);
  ASSERT_NE(dynamic_cast<TMemoryStream*>(s.get()), nullptr);
  EXPECT_EQ(s->GetPosition(), 0);
  EXPECT_EQ(s->GetSize(), 200000);

  ASSERT_TRUE(u->FindEntry(u"pics\\a.jpg", pos, method, size));
  s = TOruUnpack::OpenEntryStream(u->OpenContainerFile().Detach(), method, true, u->Key(), pos, size);
  auto* crypt = dynamic_cast<TCryptStream*>(s.get());
  ASSERT_NE(crypt, nullptr);
  EXPECT_NE(dynamic_cast<TPartialStream*>(crypt->Source()), nullptr);
  // Enciphered entries may be read from anywhere.
  s->SetPosition(65001);
  EXPECT_EQ(zmtest::ReadAllBytes(s.get()), Sample(70000, 3).substr(65001));

  ASSERT_TRUE(u->FindEntry(u"plain.txt", pos, method, size));
  s = TOruUnpack::OpenEntryStream(u->OpenContainerFile().Detach(), method, true, u->Key(), pos, size);
  EXPECT_NE(dynamic_cast<TPartialStream*>(s.get()), nullptr);
  EXPECT_EQ(s->GetSize(), 12);
}

TEST_F(OruUnpackTest, FormTwoBehindTheProgram) {
  TShowContainerWriter w;
  w.Prefix = std::string(5000, 'P');
  w.PrefixEntryName = "OruViewer5";
  w.TrailerForm = 2;
  std::string guid = TShowContainerWriter::ExeGuidData("{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}");
  w.Add("ExeGUID", guid);
  w.Add("Project.oru", Sample(3000), zmtest::kDeflated);
  TRef<TOruUnpack> u = Open(w);
  ASSERT_TRUE(u->HasShow());
  EXPECT_EQ(u->EndMark(), w.FileSize() - 8);
  EXPECT_EQ(ReadEntry(u.get(), "OruViewer5"), w.Prefix);
  EXPECT_EQ(ReadEntry(u.get(), "ExeGUID"), guid);
  EXPECT_EQ(guid.size(), 80u);
  EXPECT_EQ(ReadEntry(u.get(), "Project.oru"), Sample(3000));
}

TEST_F(OruUnpackTest, FormTwoWithABaseMovesTheDirectoryOnly) {
  // Written alone, then put behind 1000 bytes: the base finds the directory,
  // the integrity shift moves the entries.
  TShowContainerWriter w;
  w.Prefix = std::string(1000, 'x');
  w.TrailerForm = 2;
  w.Base = 1000;
  w.Moved = 1000;
  w.AllowModify = "1";
  w.Add("a", "AAAA");
  w.Add("b", Sample(900), zmtest::kEnciphered);
  w.Add("c", Sample(5000), zmtest::kDeflated);
  TRef<TOruUnpack> u = Open(w);
  ASSERT_TRUE(u->HasShow());
  EXPECT_EQ(u->Shift(), 1000);
  EXPECT_EQ(ReadEntry(u.get(), "a"), "AAAA");
  EXPECT_EQ(ReadEntry(u.get(), "b"), Sample(900));
  EXPECT_EQ(ReadEntry(u.get(), "c"), Sample(5000));

  w.AllowModify = "0";
  u = Open(w);
  EXPECT_FALSE(u->HasShow());
  EXPECT_EQ(u->ErrorText(), u"Slide-show File Modified");
}

// ============================================================================
// The integrity section
// ============================================================================

TEST_F(OruUnpackTest, IntegrityAcceptsOrShiftsOrRefuses) {
  struct TCase {
    const char* Label;
    std::int64_t Moved;
    std::optional<std::string> StrucPos;  // nullopt: the writer's own value
    std::optional<std::string> Allow;
    bool Protection;
    bool Accepted;
    const char16_t* Error;
    std::int64_t Shift;
  };
  const TCase cases[] = {
      {"strucpos equals D", 0, std::nullopt, "0", true, true, u"", 0},
      {"strucpos empty", 0, "", "0", true, true, u"", 0},
      {"no protection section", 0, std::nullopt, "0", false, true, u"", 0},
      {"moved, modification allowed", 123, std::nullopt, "1", true, true, u"", 123},
      {"moved, modification refused", 123, std::nullopt, "0", true, false, u"Slide-show File Modified", 0},
      {"moved, allowmodify absent", 123, std::nullopt, std::nullopt, true, false, u"Slide-show File Modified", 0},
      {"moved, allowmodify not exactly 1", 123, std::nullopt, "true", true, false, u"Slide-show File Modified", 0},
      {"not a number", 0, "12x", "1", true, false, u"Slide-show File Damaged", 0},
      {"not a number, refused", 0, "12x", "0", true, false, u"Slide-show File Modified", 0},
      {"beyond D", 0, "999999", "1", true, false, u"Slide-show File Damaged", 0},
      {"negative", 0, "-5", "1", true, false, u"Slide-show File Damaged", 0},
      {"overflowing", 0, "99999999999999999999", "1", true, false, u"Slide-show File Damaged", 0},
      {"zero", 0, "0", "1", true, true, u"", -1},  // shift = D
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
    EXPECT_EQ(u->HasShow(), c.Accepted);
    EXPECT_EQ(u->ErrorText(), c.Error);
    if (!c.Accepted) {
      EXPECT_EQ(u->Struc(), nullptr);
      EXPECT_EQ(u->OpenContainerFile(), nullptr);
      EXPECT_FALSE(Found(u.get(), "first"));
      continue;
    }
    std::int64_t shift = c.Shift >= 0 ? c.Shift : w.DirectoryPosition();
    EXPECT_EQ(u->Shift(), shift);
    EXPECT_EQ(u->Version(), c.Protection ? u"5.0.1" : u"");
    if (shift == c.Moved) {
      EXPECT_EQ(ReadEntry(u.get(), "first"), "1234567890");
      EXPECT_EQ(ReadEntry(u.get(), "second"), Sample(300));
    }
  }
}

TEST_F(OruUnpackTest, ShiftNeverRevivesAnAbsentPosition) {
  TShowContainerWriter w;
  w.Prefix = std::string(100, 'p');
  w.Moved = 50;
  w.AllowModify = "1";
  w.Add("noPs", "x").OmitPs = true;
  w.Add("ok", "y");
  TRef<TOruUnpack> u = Open(w);
  ASSERT_TRUE(u->HasShow());
  ASSERT_EQ(u->Shift(), 50);
  std::int64_t pos, size;
  std::uint8_t method;
  EXPECT_FALSE(u->FindEntry(u"noPs", pos, method, size));
  EXPECT_EQ(pos, -1);
  EXPECT_EQ(ReadEntry(u.get(), "ok"), "y");
}

// ============================================================================
// Entry names and entry sections
// ============================================================================

TEST_F(OruUnpackTest, NamesAreEscapedIntoSections) {
  EXPECT_EQ(EscapeEntryName(u"a[b]c"), u"a<b>c");
  EXPECT_EQ(EscapeEntryName(WideString(u"a\x01", 2)), u"a#01");
  EXPECT_EQ(EscapeEntryName(WideString(u"\x1f\t\x7f", 3)), u"#1F#09\x7f");
  EXPECT_EQ(EscapeEntryName(u"VectTxt2: Arial: \u00e9"), u"VectTxt2: Arial: \u00e9");

  TShowContainerWriter w;
  w.Add("ColorSpaceExe_YUVsRGB].ZMGFX", "lut");
  w.Add("VectTxt2: Arial:12:Hello", "vector");
  w.Add(std::string("a\x01", 2), "control");
  w.Add("pics\\[1].jpg", "bracketed", zmtest::kEnciphered);
  w.Add("B\xC3\xA4r.png", "umlaut");
  TRef<TOruUnpack> u = Open(w);
  ASSERT_TRUE(u->HasShow());
  EXPECT_EQ(ReadEntry(u.get(), "ColorSpaceExe_YUVsRGB].ZMGFX"), "lut");
  EXPECT_EQ(ReadEntry(u.get(), "VectTxt2: Arial:12:Hello"), "vector");
  EXPECT_EQ(ReadEntry(u.get(), std::string("a\x01", 2)), "control");
  EXPECT_EQ(ReadEntry(u.get(), "pics\\[1].jpg"), "bracketed");
  EXPECT_EQ(ReadEntry(u.get(), "b\xC3\x84R.PNG"), "umlaut");
  EXPECT_NE(u->Struc()->FindEntrySection(u"pics\\[1].jpg"), nullptr);
  EXPECT_EQ(u->Struc()->FindEntrySection(u""), nullptr);
  EXPECT_FALSE(Found(u.get(), "a"));
}

TEST_F(OruUnpackTest, SectionKeysDecideWhatIsFound) {
  TShowContainerWriter w;
  w.Add("noSz", "1").OmitSz = true;
  w.Add("noPs", "2").OmitPs = true;
  w.Add("noPm", "3").OmitPm = true;
  w.Add("pm7", "4").PmText = "7";
  w.Add("pm257", "5").PmText = "257";  // never taken as 1 (deflate)
  w.Add("pmText", "6").PmText = "deflate";
  w.Add("psText", "7").PsText = "abc";
  w.Add("szMinus1", "8").SzText = "-1";
  w.Add("zeroSize", "").SzText = "0";
  TRef<TOruUnpack> u = Open(w);
  ASSERT_TRUE(u->HasShow());
  std::int64_t pos, size;
  std::uint8_t method;
  EXPECT_FALSE(u->FindEntry(u"noSz", pos, method, size));
  EXPECT_EQ(size, -1);
  EXPECT_FALSE(Found(u.get(), "noPs"));
  EXPECT_FALSE(Found(u.get(), "psText"));
  EXPECT_FALSE(Found(u.get(), "szMinus1"));
  ASSERT_TRUE(u->FindEntry(u"noPm", pos, method, size));
  EXPECT_EQ(method, kEntryStored);
  EXPECT_EQ(ReadEntry(u.get(), "noPm"), "3");
  ASSERT_TRUE(u->FindEntry(u"pm7", pos, method, size));
  EXPECT_EQ(method, 7);
  EXPECT_EQ(ReadEntry(u.get(), "pm7"), "4");
  EXPECT_EQ(ReadEntry(u.get(), "pm257"), "5");
  EXPECT_EQ(ReadEntry(u.get(), "pmText"), "6");
  EXPECT_EQ(ReadEntry(u.get(), "zeroSize"), "");
}

TEST_F(OruUnpackTest, WindowsOutsideTheFileRaise) {
  TShowContainerWriter w;
  w.Add("far", "x").PsText = "999999999";
  w.Add("long", "y").SzText = "999999999";
  w.Add("negative", "z").PsText = "-5";
  w.Add("negativeSize", "z").SzText = "-7";
  w.Add("huge", "h").PsText = "9223372036854775807";
  w.Add("deflatedFar", "d", zmtest::kDeflated).PsText = "999999999";
  TRef<TOruUnpack> u = Open(w);
  ASSERT_TRUE(u->HasShow());
  for (const char* name : {"far", "long", "negative", "negativeSize", "huge", "deflatedFar"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(RaisedText([&] { ReadEntry(u.get(), name); }), kInsufficient);
  }

  // A shift that would overflow the position: not found.
  TShowContainerWriter m;
  m.Prefix = std::string(100, 'p');
  m.Moved = 10;
  m.AllowModify = "1";
  m.Add("huge", "h").PsText = "9223372036854775807";
  u = Open(m);
  ASSERT_TRUE(u->HasShow());
  EXPECT_FALSE(Found(u.get(), "huge"));
}

TEST_F(OruUnpackTest, DamagedDeflatedEntriesRaise) {
  TShowContainerWriter w;
  w.Add("junk", "x", zmtest::kDeflated).StoredBytes = std::string("\xff\xff\xff\xff", 4);
  w.Add("cut", "x", zmtest::kDeflated).StoredBytes = TShowContainerWriter::Deflate(Sample(50000)).substr(0, 100);
  TRef<TOruUnpack> u = Open(w);
  ASSERT_TRUE(u->HasShow());
  EXPECT_EQ(RaisedText([&] { ReadEntry(u.get(), "junk"); }).rfind("EZDecompressionError: ", 0), 0u);
  EXPECT_EQ(RaisedText([&] { ReadEntry(u.get(), "cut"); }).rfind("EZDecompressionError: ", 0), 0u);
}

TEST_F(OruUnpackTest, DeflatedEntriesAroundTheMemoryGrowthSteps) {
  // Held in memory that starts at the window's size (at least 64 KiB) and
  // doubles: outputs just below, at and above each step read back whole.
  TShowContainerWriter w;
  std::vector<std::string> names;
  std::string noise;
  for (std::size_t i = 0; i < 300000; ++i) noise += static_cast<char>((i * 2654435761u) >> 13);
  for (std::size_t n : {65535u, 65536u, 65537u, 131072u, 131073u, 262145u}) {
    names.push_back("z" + std::to_string(n));
    w.Add(names.back(), std::string(n, 'a'), zmtest::kDeflated);
    names.push_back("noise" + std::to_string(n));
    w.Add(names.back(), noise.substr(0, n), zmtest::kDeflated);
  }
  TRef<TOruUnpack> u = Open(w);
  ASSERT_TRUE(u->HasShow());
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    EXPECT_EQ(ReadEntry(u.get(), name), w.Find(name)->Data);
  }
}

// ============================================================================
// Opening entry streams
// ============================================================================

TEST(OruUnpackEntryStream, OwnsItsSourceAsTold) {
  EXPECT_EQ(TOruUnpack::OpenEntryStream(nullptr, kEntryStored, true, "k", 0, 0), nullptr);

  std::string stored = TShowContainerWriter::Deflate("hello world");
  bool disposed = false;
  auto* src = new TWatchedStream(&disposed);
  src->Write(TWriteBuffer(reinterpret_cast<const std::uint8_t*>(stored.data()), stored.size()));
  TRef<TStream> s = TOruUnpack::OpenEntryStream(src, kEntryDeflated, false, "k", 0, src->GetSize());
  EXPECT_EQ(zmtest::ReadAllBytes(s.get()), "hello world");
  EXPECT_FALSE(disposed);
  s = TOruUnpack::OpenEntryStream(src, kEntryDeflated, true, "k", 0, src->GetSize());
  EXPECT_TRUE(disposed);  // the memory copy is all that is left

  disposed = false;
  src = new TWatchedStream(&disposed);
  EXPECT_EQ(RaisedText([&] { TOruUnpack::OpenEntryStream(src, kEntryEnciphered, true, "k", 0, 1); }), kInsufficient);
  EXPECT_TRUE(disposed);

  disposed = false;
  src = new TWatchedStream(&disposed);
  src->Write(TWriteBuffer(reinterpret_cast<const std::uint8_t*>("abc"), 3));
  s = TOruUnpack::OpenEntryStream(src, kEntryEnciphered, true, TByteString("\x01"), 1, 2);
  EXPECT_EQ(zmtest::ReadAllBytes(s.get()), "cb");  // "bc" masked with 1, from the window's start
  s = nullptr;
  EXPECT_TRUE(disposed);
}

// ============================================================================
// Files that carry no container, or a broken one
// ============================================================================

TEST_F(OruUnpackTest, FilesWithoutAContainerCarryNoShow) {
  const std::string files[] = {
      "", "x", ".dn", ".dne", "abcdefg.dne" /* 11 bytes */, std::string(4096, 'z'),
      // Form 2 without room for a directory offset before the tag.
      std::string(".dne") + std::string(8, '\0'), "abcdefg.dne" + std::string(8, '\0'),
  };
  for (const std::string& f : files) {
    SCOPED_TRACE(f.size());
    TRef<TOruUnpack> u = OpenBytes(f);
    EXPECT_FALSE(u->HasShow());
    EXPECT_EQ(u->ErrorText(), u"");
    EXPECT_FALSE(Found(u.get(), "x"));
    EXPECT_EQ(u->OpenContainerFile(), nullptr);
  }
  TShowContainerWriter w;
  w.WriteTag = false;
  w.Add("a", "b");
  EXPECT_FALSE(Open(w)->HasShow());
}

TEST_F(OruUnpackTest, ATrailerPointingOutsideTheFileRaises) {
  const std::int64_t offsets[] = {-1, -100, 1000000, INT64_MAX, INT64_MIN};
  for (std::int64_t off : offsets) {
    SCOPED_TRACE(off);
    TShowContainerWriter w;
    w.Add("a", "b");
    w.DirectoryOffset = off;
    EXPECT_EQ(Raised(w), kInsufficient);
  }
  // Form 2: a base field that puts the base anywhere, overflowing included.
  const std::int64_t fields[] = {-1, INT64_MIN, INT64_MAX, 1};
  for (std::int64_t x : fields) {
    SCOPED_TRACE(x);
    TShowContainerWriter w;
    w.TrailerForm = 2;
    w.Add("a", "b");
    w.BaseField = x;
    EXPECT_EQ(Raised(w), kInsufficient);
  }
}

TEST_F(OruUnpackTest, DirectoriesThatAreNotDeflateOrNotIni) {
  TShowContainerWriter junk;
  junk.DirectoryBytes = "not deflate data at all";
  EXPECT_EQ(Raised(junk).rfind("EZDecompressionError: ", 0), 0u);

  TShowContainerWriter empty;
  empty.DirectoryBytes = "";
  EXPECT_EQ(Raised(empty).rfind("EZDecompressionError: ", 0), 0u);

  TShowContainerWriter cut;
  cut.Add("a", "b");
  cut.DirectoryBytes = TShowContainerWriter::Deflate(Sample(5000)).substr(0, 50);
  EXPECT_EQ(Raised(cut).rfind("EZDecompressionError: ", 0), 0u);

  // Text that is no ini document holds no entries and no integrity section:
  // the container opens empty.
  TShowContainerWriter binary;
  binary.DirectoryText = std::string("\x00\x01\x02\xff\xfe[x\x00", 8) + Sample(100);
  TRef<TOruUnpack> u = Open(binary);
  EXPECT_TRUE(u->HasShow());
  EXPECT_EQ(u->Version(), u"");
  EXPECT_FALSE(Found(u.get(), "x"));

  // Lines may end any way; a directory without the byte-order mark reads too.
  TShowContainerWriter noMark;
  noMark.DirectoryBom = false;
  noMark.Add("a", "payload");
  u = Open(noMark);
  ASSERT_TRUE(u->HasShow());
  EXPECT_EQ(ReadEntry(u.get(), "a"), "payload");
}

TEST_F(OruUnpackTest, ADirectoryBombIsRefused) {
  // About 80 MiB of text from 80 KiB of deflate data.
  TShowContainerWriter w;
  w.DirectoryText = std::string(80 << 20, ' ');
  TRef<TOruUnpack> u = Open(w);
  EXPECT_FALSE(u->HasShow());
  EXPECT_EQ(u->ErrorText(), u"");
  EXPECT_LT(w.DirectoryLength(), 200000);
}

TEST_F(OruUnpackTest, EveryTruncationFailsCleanly) {
  TShowContainerWriter w;
  w.TrailerForm = 2;
  w.Prefix = "program";
  w.Add("Project.oru", Sample(2000), zmtest::kDeflated);
  w.Add("pic", Sample(100), zmtest::kEnciphered);
  std::string whole = w.Bytes();
  for (std::size_t n = 0; n < whole.size(); ++n) {
    SCOPED_TRACE(n);
    std::string raised = RaisedText([&] {
      TRef<TOruUnpack> u = OpenBytes(whole.substr(0, n));
      // Cut just before the base field, the file ends in a sound first form.
      EXPECT_EQ(u->HasShow(), n == whole.size() - 8);
    });
    if (raised != "(no exception)") {
      EXPECT_TRUE(raised.rfind("EStreamError", 0) == 0 || raised.rfind("EZDecompressionError", 0) == 0) << raised;
    }
  }
  EXPECT_TRUE(OpenBytes(whole)->HasShow());
}

TEST_F(OruUnpackTest, AMissingFileRaisesAndAFolderToo) {
  EXPECT_EQ(RaisedText([&] { MakeRef<TOruUnpack>(dir_.Wide("none.orushow")); }).rfind("EFileOpenError", 0), 0u);
  std::filesystem::create_directory(dir_.Path() / "folder");
  EXPECT_EQ(RaisedText([&] { MakeRef<TOruUnpack>(dir_.Wide("folder")); }).rfind("EFileOpenError", 0), 0u);
}

// ============================================================================
// Lifecycle, the version query, large files
// ============================================================================

TEST_F(OruUnpackTest, CloseKeepsOpenEntriesReadable) {
  TShowContainerWriter w;
  w.Add("a", Sample(40000), zmtest::kEnciphered);
  TRef<TOruUnpack> u = Open(w);
  std::int64_t pos, size;
  std::uint8_t method;
  ASSERT_TRUE(u->FindEntry(u"a", pos, method, size));
  TRef<TStream> s = TOruUnpack::OpenEntryStream(u->OpenContainerFile().Detach(), method, true, u->Key(), pos, size);
  u->Close();
  EXPECT_FALSE(u->HasShow());
  EXPECT_FALSE(u->FindEntry(u"a", pos, method, size));
  EXPECT_EQ(u->OpenContainerFile(), nullptr);
  EXPECT_EQ(u->Version(), u"5.0.1");
  EXPECT_EQ(zmtest::ReadAllBytes(s.get()), Sample(40000));
}

TEST_F(OruUnpackTest, ReadShowContainerVersionAnswersWithoutRaising) {
  WideString version = u"old";
  TShowContainerWriter w;
  w.OruVersion = "7.2.1 build 44";
  w.Add("a", "b");
  w.WriteFile((dir_.Path() / "good.orushow").string());
  EXPECT_TRUE(ReadShowContainerVersion(dir_.Wide("good.orushow"), version));
  EXPECT_EQ(version, u"7.2.1 build 44");

  w.OruVersion.reset();
  w.WriteFile((dir_.Path() / "noversion.orushow").string());
  EXPECT_TRUE(ReadShowContainerVersion(dir_.Wide("noversion.orushow"), version));
  EXPECT_EQ(version, u"");

  w.Moved = 3;
  w.WriteFile((dir_.Path() / "modified.orushow").string());
  w.Moved = 0;
  w.DirectoryBytes = "junk";
  w.WriteFile((dir_.Path() / "junk.orushow").string());
  dir_.Write("plain.txt", "no container here");
  for (const char* name : {"modified.orushow", "junk.orushow", "plain.txt", "missing.orushow"}) {
    SCOPED_TRACE(name);
    version = u"old";
    EXPECT_FALSE(ReadShowContainerVersion(dir_.Wide(name), version));
    EXPECT_EQ(version, u"");
  }
}

TEST_F(OruUnpackTest, LargeSparseContainersKeepSixtyFourBitPositions) {
  TShowContainerWriter w;
  w.Prefix = "program";
  w.PrefixEntryName = "OruViewer5";
  w.TrailerForm = 2;
  w.AddSparse("big.bin", 3'000'000'000LL);
  w.Add("after", Sample(1000), zmtest::kEnciphered);
  w.Add("Project.oru", Sample(5000), zmtest::kDeflated);
  TRef<TOruUnpack> u = Open(w, "big.orushow");
  ASSERT_TRUE(u->HasShow());
  EXPECT_EQ(u->EndMark(), w.FileSize() - 8);
  std::int64_t pos, size;
  std::uint8_t method;
  ASSERT_TRUE(u->FindEntry(u"big.bin", pos, method, size));
  EXPECT_EQ(pos, 7);
  EXPECT_EQ(size, 3'000'000'000LL);
  TRef<TStream> s = TOruUnpack::OpenEntryStream(u->OpenContainerFile().Detach(), method, true, u->Key(), pos, size);
  s->SetPosition(size - 10);
  EXPECT_EQ(zmtest::ReadAllBytes(s.get()), std::string(10, '\0'));
  EXPECT_EQ(ReadEntry(u.get(), "after"), Sample(1000));
  EXPECT_EQ(ReadEntry(u.get(), "Project.oru"), Sample(5000));
}
