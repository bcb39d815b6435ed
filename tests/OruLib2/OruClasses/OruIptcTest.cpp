#include "OruLib2/OruClasses/OruIptc.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "OruLib2/OruClasses/OruJpegSegments.h"
#include "tests/support/kit/StreamBytes.h"
#include "tests/support/kit/TempFolder.h"

using namespace oru;

namespace iptc_test {

using Bytes = std::vector<std::uint8_t>;

// One dataset with a plain 16-bit size.
void Tag(Bytes& b, int record, int dataset, const std::string& data) {
  b.insert(b.end(), {0x1C, std::uint8_t(record), std::uint8_t(dataset), std::uint8_t(data.size() >> 8),
                     std::uint8_t(data.size() & 0xFF)});
  b.insert(b.end(), data.begin(), data.end());
}

zm::TRef<TIPTCData> Load(const Bytes& b) {
  auto d = zm::MakeRef<TIPTCData>();
  d->LoadFromStream(zmtest::MemoryStreamOf(b).get());
  return d;
}

// A JPEG whose APP13 segment holds the datasets (or other resources only).
Bytes JpegWith(const Bytes& iptc, bool asIptc = true) {
  Bytes seg;
  const std::string head = std::string("Photoshop 3.0") + '\0' + "8BIM";
  seg.insert(seg.end(), head.begin(), head.end());
  seg.insert(seg.end(), {0x04, std::uint8_t(asIptc ? 0x04 : 0x0C), 0, 0, 0, 0, 0, std::uint8_t(iptc.size())});
  seg.insert(seg.end(), iptc.begin(), iptc.end());
  if (iptc.size() % 2) seg.push_back(0);
  Bytes f = {0xFF, 0xD8, 0xFF, 0xED, std::uint8_t((seg.size() + 2) >> 8), std::uint8_t((seg.size() + 2) & 0xFF)};
  f.insert(f.end(), seg.begin(), seg.end());
  f.insert(f.end(), {0xFF, 0xD9});
  return f;
}

TEST(Iptc, StopsAtTheFirstByteThatIsNoTagMarker) {
  Bytes b;
  Tag(b, 2, 5, "Title");
  b.insert(b.end(), {0x00, 0x1C, 2, 90, 0, 1, 'X'});
  auto s = zmtest::MemoryStreamOf(b);
  auto d = zm::MakeRef<TIPTCData>();
  d->LoadFromStream(s.get());
  EXPECT_EQ(d->GetString(5), u"Title");
  EXPECT_EQ(d->GetString(90), u"");
  EXPECT_EQ(s->GetPosition(), 10);

  auto other = zmtest::MemoryStreamOf(Bytes{'A', 0x1C, 2, 5, 0, 0});
  d->LoadFromStream(other.get());
  EXPECT_EQ(other->GetPosition(), 0);
  EXPECT_EQ(d->GetString(5), u"");
}

TEST(Iptc, RepeatedAndUnorderedDatasets) {
  Bytes b;
  Tag(b, 2, 80, "Ann");
  Tag(b, 2, 85, "Editor");
  Tag(b, 2, 80, "Bob");
  Tag(b, 2, 25, "sea");  // before 80: record 2 is out of order
  Tag(b, 2, 25, "sun");
  Tag(b, 2, 26, "FRA");
  Tag(b, 2, 27, "France");
  Tag(b, 2, 27, "Spain");
  Tag(b, 3, 1, "a");
  Tag(b, 3, 9, "b");
  auto d = Load(b);
  EXPECT_FALSE(d->Section(2)->Sorted);
  EXPECT_TRUE(d->Section(3)->Sorted);
  EXPECT_FALSE(d->Section(2)->Modified);
  EXPECT_EQ(d->GetString(80), u"Ann");
  EXPECT_EQ(d->GetStrings(80), (std::vector<zm::WideString>{u"Ann", u"Bob"}));
  // Found although a greater dataset comes first.
  EXPECT_EQ(d->GetString(25), u"sea");
  EXPECT_EQ(d->GetString(9, 3), u"b");
  EXPECT_EQ(d->GetString(5, 3), u"");
  EXPECT_EQ(d->GetString(5, 12), u"");

  zm::TRef<zm::TStringList> list = zm::MakeRef<zm::TStringList>();
  d->GetStringList(25, *list);
  ASSERT_EQ(list->GetCount(), 2);
  EXPECT_EQ(list->GetString(1), u"sun");
  d->GetBylineValues(*list);
  ASSERT_EQ(list->GetCount(), 2);
  EXPECT_EQ(list->GetString(0), u"Ann=Editor");
  EXPECT_EQ(list->GetString(1), u"Bob=");
  d->GetContentLocationValues(*list);
  ASSERT_EQ(list->GetCount(), 2);
  EXPECT_EQ(list->GetString(0), u"FRA=France");
  EXPECT_EQ(list->GetString(1), u"=Spain");

  // Inserting outside 0..count is refused.
  TIPTCSection* s = d->Section(3);
  EXPECT_THROW(s->AddTag(4, 3), zm::EAbort);
  EXPECT_THROW(s->AddTag(4, -1), zm::EAbort);
  s->AddTag(4, 2);
  EXPECT_TRUE(s->Modified);
}

TEST(Iptc, ExtendedSizesAndMalformedData) {
  const std::string big(300, 'x');
  Bytes b;
  Tag(b, 2, 5, "first");
  b.insert(b.end(), {0x1C, 2, 120, 0x80, 0x02, 0x01, 0x2C});  // a 2-byte size field: 300
  b.insert(b.end(), big.begin(), big.end());
  b.insert(b.end(), {0x1C, 2, 122, 0x80, 0x04, 0, 0, 0, 3, 'a', 'b', 'c'});
  b.insert(b.end(), {0x1C, 2, 116, 0x80, 0x01, 2, 'c', 'r'});
  auto d = Load(b);
  EXPECT_EQ(d->GetString(120), zm::WideString(big.begin(), big.end()));
  EXPECT_EQ(d->GetString(122), u"abc");
  EXPECT_EQ(d->GetString(116), u"cr");

  // Each fault keeps what was read before it.
  struct Case {
    Bytes Tail;
    const char* Message;
  };
  const Case cases[] = {
      {{0x1C, 2, 10, 0x80, 0x03, 0, 0, 1, '5'}, "Invalid IPTC tag size field (3)"},
      {{0x1C, 2, 10, 0x80, 0x00, '5'}, "Invalid IPTC tag size field (0)"},
      {{0x1C, 0, 10, 0, 1, '5'}, "Invalid IPTC record number (0)"},
      {{0x1C, 10, 10, 0, 1, '5'}, "Invalid IPTC record number (10)"},
  };
  for (const Case& c : cases) {
    Bytes bad;
    Tag(bad, 2, 5, "kept");
    bad.insert(bad.end(), c.Tail.begin(), c.Tail.end());
    auto data = zm::MakeRef<TIPTCData>();
    try {
      data->LoadFromStream(zmtest::MemoryStreamOf(bad).get());
      ADD_FAILURE() << c.Message;
    } catch (const EInvalidIPTCData& e) {
      EXPECT_STREQ(e.what(), c.Message);
    }
    EXPECT_EQ(data->GetString(5), u"kept") << c.Message;
  }

  // Sizes beyond the data are a cut-off tag: no allocation of what they claim.
  for (const Bytes& tail : {Bytes{0x1C, 2, 10, 0x80, 0x04, 0xFF, 0xFF, 0xFF, 0xF0, 'a', 'b', 'c'},
                            Bytes{0x1C, 2, 10, 0x7F, 0xFF, 'a', 'b', 'c'}, Bytes{0x1C, 2, 10, 0x80, 0x04, 0, 0}}) {
    Bytes cut;
    Tag(cut, 2, 5, "kept");
    cut.insert(cut.end(), tail.begin(), tail.end());
    auto data = Load(cut);
    EXPECT_EQ(data->GetString(5), u"kept");
    EXPECT_EQ(data->GetString(10), u"");
  }
}

TEST(Iptc, CharacterSetsAndNumbers) {
  Bytes latin;
  Tag(latin, 2, 90, "Sch\xF6nbrunn");
  Tag(latin, 2, 0, std::string("\x00\x04", 2));  // numeric: 2 bytes
  Tag(latin, 1, 0, std::string("\x00\x00\x01\x00", 4));
  Tag(latin, 1, 20, std::string("\x07", 1));
  Tag(latin, 1, 22, "abc");  // numeric dataset of another size: text
  auto d = Load(latin);
  EXPECT_FALSE(d->UTF8);
  EXPECT_EQ(d->GetString(90), u"Sch\u00F6nbrunn");
  EXPECT_EQ(d->GetString(0), u"4");
  EXPECT_EQ(d->GetString(0, 1), u"256");
  EXPECT_EQ(d->GetString(20, 1), u"7");
  EXPECT_EQ(d->GetString(22, 1), u"abc");

  Bytes utf8;
  Tag(utf8, 1, 90, "\x1B%G");
  Tag(utf8, 2, 90, "Z\xC3\xBCrich");
  d->LoadFromStream(zmtest::MemoryStreamOf(utf8).get());
  EXPECT_TRUE(d->UTF8);
  EXPECT_EQ(d->GetString(90), u"Z\u00FCrich");

  // Loading nothing gives the flag back; loading something starts from the default.
  d->LoadFromStream(zmtest::MemoryStreamOf(Bytes{'x', 'x', 'x', 'x', 'x'}).get());
  EXPECT_TRUE(d->UTF8);
  d->LoadFromStream(zmtest::MemoryStreamOf(latin).get());
  EXPECT_FALSE(d->UTF8);
}

TEST(Iptc, DatesAndPriorities) {
  Bytes b;
  Tag(b, 2, 55, "20000229");
  Tag(b, 2, 30, "19000229");  // 1900 was no leap year
  Tag(b, 2, 37, "20121301");
  Tag(b, 2, 47, "1899123");
  Tag(b, 2, 62, "18991231");
  Tag(b, 2, 10, "1");
  Tag(b, 2, 42, "07");
  Tag(b, 1, 60, "0");
  auto d = Load(b);
  EXPECT_EQ(d->GetDate(2, 55), 36585.0);
  EXPECT_EQ(d->GetDate(2, 30), 0.0);
  EXPECT_EQ(d->GetDate(2, 37), 0.0);
  EXPECT_EQ(d->GetDate(2, 47), 0.0);
  EXPECT_EQ(d->GetDate(2, 62), 1.0);
  EXPECT_EQ(d->GetDate(2, 99), 0.0);
  EXPECT_EQ(d->Urgency(), 8);
  EXPECT_EQ(d->EnvelopePriority(), 10);
  EXPECT_EQ(d->ActionAdvised(), 7);

  Bytes odd;
  Tag(odd, 2, 10, "12");  // not one byte
  Tag(odd, 2, 42, "100");
  Tag(odd, 1, 60, "x");
  d = Load(odd);
  EXPECT_EQ(d->Urgency(), 0);
  EXPECT_EQ(d->ActionAdvised(), 0);
  EXPECT_EQ(d->EnvelopePriority(), 0);
}

TEST(Iptc, LoadsFromTheJpegResourceBlockOrEmpties) {
  Bytes iptc;
  Tag(iptc, 2, 90, "Paris");
  auto d = zm::MakeRef<TIPTCData>();
  d->LoadFromJPEG(zmtest::MemoryStreamOf(JpegWith(iptc)).get());
  EXPECT_EQ(d->GetString(90), u"Paris");
  d->LoadFromJPEG(zmtest::MemoryStreamOf(JpegWith(iptc, false)).get());
  EXPECT_EQ(d->GetString(90), u"");
  EXPECT_THROW(d->LoadFromJPEG(zmtest::MemoryStreamOf(Bytes{'G', 'I', 'F'}).get()), EInvalidJPEGHeader);
}

// The fuzz target's seeds; with ZM_WRITE_FUZZ_SEEDS set to the corpus folder
// they are written there.
TEST(Iptc, FuzzSeedsCarryTheirDatasets) {
  Bytes raw;
  Tag(raw, 1, 90, "\x1B%G");
  Tag(raw, 2, 5, "Title");
  Tag(raw, 2, 80, "Ann");
  Tag(raw, 2, 80, "Bob");
  Tag(raw, 2, 85, "Editor");
  Tag(raw, 2, 55, "20120517");
  Tag(raw, 2, 10, "5");
  raw.insert(raw.end(), {0x1C, 2, 120, 0x80, 0x02, 0, 5, 'H', 'e', 'l', 'l', 'o'});
  Bytes badSize;
  Tag(badSize, 2, 5, "Title");
  badSize.insert(badSize.end(), {0x1C, 2, 10, 0x80, 0x03, 0, 0, 1, '5'});
  const std::pair<const char*, Bytes> seeds[] = {{"raw", raw}, {"jpeg", JpegWith(raw)}, {"bad-size-field", badSize}};
  const char* folder = std::getenv("ZM_WRITE_FUZZ_SEEDS");
  for (const auto& [name, bytes] : seeds) {
    auto d = zm::MakeRef<TIPTCData>();
    try {
      if (bytes[0] == 0xFF) d->LoadFromJPEG(zmtest::MemoryStreamOf(bytes).get());
      else d->LoadFromStream(zmtest::MemoryStreamOf(bytes).get());
    } catch (const EInvalidIPTCData&) {
    }
    EXPECT_EQ(d->GetString(5), u"Title") << name;
    if (folder && *folder)
      zmtest::WriteFileBytes(std::string(folder) + "/Iptc/" + name, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  }
}

}  // namespace iptc_test
