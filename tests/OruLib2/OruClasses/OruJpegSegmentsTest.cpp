#include "OruLib2/OruClasses/OruJpegSegments.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/kit/StreamBytes.h"
#include "tests/support/kit/TempFolder.h"

using namespace oru;

namespace jpeg_segments_test {

using Bytes = std::vector<std::uint8_t>;

void Append(Bytes& b, std::initializer_list<int> v) {
  for (int x : v) b.push_back(static_cast<std::uint8_t>(x));
}
void Append(Bytes& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }

void Segment(Bytes& b, std::uint8_t marker, const Bytes& data) {
  const std::size_t len = data.size() + 2;
  Append(b, {0xFF, marker, int(len >> 8), int(len & 0xFF)});
  b.insert(b.end(), data.begin(), data.end());
}

struct Found {
  std::uint8_t Marker;
  std::int64_t Offset;
  std::int64_t Size;
};

std::vector<Found> Walk(const Bytes& file, const zm::TByteCharSet& markers) {
  auto s = zmtest::MemoryStreamOf(file);
  auto p = zm::MakeRef<TJPEGHeaderParser>(s.get(), false, markers);
  std::vector<Found> out;
  while (p->MoveNext()) out.push_back({p->Current()->Marker, p->Current()->Offset, p->Current()->Data->GetSize()});
  EXPECT_FALSE(p->MoveNext());  // stays at the end
  return out;
}

zm::TByteCharSet AllMarkers() {
  zm::TByteCharSet all;
  all.AddRange(0, 255);
  return all;
}

// An image-resource block: signature, type, name with its padding, size, data with its padding.
void Block(Bytes& b, std::uint16_t type, const std::string& name, const Bytes& data,
           std::optional<std::int32_t> size = {}) {
  Append(b, "8BIM");
  Append(b, {type >> 8, type & 0xFF, int(name.size())});
  Append(b, name);
  if (name.size() % 2 == 0) b.push_back(0);
  const std::uint32_t n = size ? std::uint32_t(*size) : std::uint32_t(data.size());
  Append(b, {int(n >> 24), int(n >> 16 & 0xFF), int(n >> 8 & 0xFF), int(n & 0xFF)});
  b.insert(b.end(), data.begin(), data.end());
  if (data.size() % 2) b.push_back(0);
}

zm::TRef<TUserJPEGSegment> App13(const Bytes& data) {
  auto seg = zm::MakeRef<TUserJPEGSegment>();
  seg->Marker = kJpegMarkerAPP13;
  seg->Data->Write(zm::TWriteBuffer(data));
  seg->Data->SetPosition(0);
  return seg;
}

TEST(JpegSegments, RejectsStreamsThatDoNotStartWithStartMarker) {
  for (const Bytes& b : {Bytes{}, Bytes{0xFF}, Bytes{0xD8, 0xFF}, Bytes{0xFF, 0xD9, 0xFF, 0xD8}}) {
    auto s = zmtest::MemoryStreamOf(b);
    try {
      zm::MakeRef<TJPEGHeaderParser>(s.get(), false, AllMarkers());
      ADD_FAILURE() << "no exception for " << b.size() << " bytes";
    } catch (const EInvalidJPEGHeader& e) {
      EXPECT_STREQ(e.what(), "JPEG header is not valid");
    }
  }
  // An owned stream is released even when the header is refused.
  auto* owned = new zm::TMemoryStream();
  EXPECT_THROW(zm::MakeRef<TJPEGHeaderParser>(owned, true, AllMarkers()), EInvalidJPEGHeader);
}

TEST(JpegSegments, WalksFillBytesStandaloneMarkersAndSkipsScanDataToTheEnd) {
  Bytes f;
  Append(f, {0xFF, 0xD8});
  Segment(f, 0xE0, Bytes(14, 'j'));              // at 2
  Append(f, {0xFF, 0xFF, 0xFF, 0x01});           // fill bytes, then a standalone marker (its FF at 22)
  Segment(f, 0xED, Bytes{1, 2, 3});              // at 24
  Segment(f, 0xDA, Bytes{9, 9});                 // at 31
  Append(f, {0x12, 0xFF, 0x00, 0xFF, 0xD3, 0x55});  // scan data with stuffing and a restart marker
  Append(f, {0xFF, 0xD9});                       // at 43
  Segment(f, 0xE1, Bytes{7});                    // after the end: never reported

  const auto all = Walk(f, AllMarkers());
  ASSERT_EQ(all.size(), 5u);
  const Found want[] = {{0xE0, 2, 14}, {0x01, 22, 0}, {0xED, 24, 3}, {0xDA, 31, 2}, {0xD9, 43, 0}};
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(all[i].Marker, want[i].Marker) << i;
    EXPECT_EQ(all[i].Offset, want[i].Offset) << i;
    EXPECT_EQ(all[i].Size, want[i].Size) << i;
  }

  zm::TByteCharSet app13;
  app13.Add(0xED);
  const auto only = Walk(f, app13);
  ASSERT_EQ(only.size(), 1u);
  EXPECT_EQ(only[0].Offset, 24);

  // The parser starts where the stream stands.
  Bytes prefixed = {'x', 'y'};
  prefixed.insert(prefixed.end(), f.begin(), f.end());
  auto s = zmtest::MemoryStreamOf(prefixed);
  s->SetPosition(2);
  auto p = zm::MakeRef<TJPEGHeaderParser>(s.get(), false, app13);
  ASSERT_TRUE(p->MoveNext());
  EXPECT_EQ(p->Current()->Offset, 26);
}

TEST(JpegSegments, DamagedSegmentsEndTheWalkAfterWhatCameBefore) {
  Bytes head;
  Append(head, {0xFF, 0xD8});
  Segment(head, 0xE1, Bytes{1, 2});

  Bytes cut = head;  // a length beyond the data
  Append(cut, {0xFF, 0xED, 0x7F, 0xFF, 1, 2, 3});
  Bytes tiny = head;  // a length that cannot count itself
  Append(tiny, {0xFF, 0xED, 0x00, 0x01, 0xFF, 0xE2, 0x00, 0x02});
  Bytes garbage = head;  // no marker where one must be
  Append(garbage, {0x00, 0xFF, 0xED, 0x00, 0x02});
  Bytes noEnd = head;  // a scan without its end marker
  Segment(noEnd, 0xDA, Bytes{});
  Append(noEnd, {1, 2, 0xFF});
  Bytes lengthCut = head;  // the file ends inside the length field
  Append(lengthCut, {0xFF, 0xED, 0x00});

  for (const Bytes* f : {&cut, &tiny, &garbage, &noEnd, &lengthCut}) {
    const auto found = Walk(*f, AllMarkers());
    ASSERT_GE(found.size(), 1u);
    EXPECT_EQ(found[0].Marker, 0xE1);
    if (f == &noEnd) {
      ASSERT_EQ(found.size(), 2u);
      EXPECT_EQ(found[1].Marker, 0xDA);
    } else {
      EXPECT_EQ(found.size(), 1u);
    }
  }
}

TEST(JpegSegments, App13BlocksKeepNamePaddingAndOddSizes) {
  Bytes iptc = {0x1C, 2, 5, 0, 1, 'T'};
  Bytes d;
  Append(d, std::string("Photoshop 3.0") + '\0');
  Block(d, 0x03ED, "", Bytes{1, 2, 3});       // empty name: length byte + pad; odd data: pad
  Block(d, 0x03F3, "a", Bytes{4, 5});         // odd name length: no pad
  Block(d, 0x0400, "ab", Bytes{6}, -5);       // negative size counts as 0; no data follows
  d.resize(d.size() - 2);                     // (drop the byte and pad that were written)
  Block(d, 0x0404, "abc", iptc);
  auto seg = App13(d);
  ASSERT_TRUE(seg->IsAdobeApp13());
  auto e = zm::MakeRef<TAdobeApp13Enumerator>(seg.get());
  struct Want {
    std::uint16_t Type;
    std::string Name;
    std::int64_t Size;
    bool Iptc;
  };
  const Want want[] = {{0x03ED, "", 3, false}, {0x03F3, "a", 2, false}, {0x0400, "ab", 0, false}, {0x0404, "abc", 6, true}};
  for (const Want& w : want) {
    ASSERT_TRUE(e->MoveNext()) << w.Type;
    EXPECT_EQ(std::string(e->Current()->Signature, 4), "8BIM");
    EXPECT_EQ(e->Current()->TypeID, w.Type);
    EXPECT_EQ(std::string(e->Current()->Name.View()), w.Name);
    EXPECT_EQ(e->Current()->Data->GetSize(), w.Size);
    EXPECT_EQ(e->Current()->IsIPTCBlock(), w.Iptc);
  }
  EXPECT_FALSE(e->MoveNext());
  EXPECT_FALSE(e->MoveNext());
}

TEST(JpegSegments, App13HeadersAndDamagedBlocks) {
  Bytes v25;
  Append(v25, "Adobe_Photoshop2.5:");
  Block(v25, 0x0404, "", Bytes{0x1C, 1, 2, 3});  // 4 bytes: too short to be IPTC
  auto seg = App13(v25);
  auto e = zm::MakeRef<TAdobeApp13Enumerator>(seg.get());
  ASSERT_TRUE(e->MoveNext());
  EXPECT_FALSE(e->Current()->IsIPTCBlock());

  Bytes notIptc;
  Append(notIptc, std::string("Photoshop 3.0") + '\0');
  Block(notIptc, 0x0404, "", Bytes{0x1D, 1, 2, 3, 4});
  e = zm::MakeRef<TAdobeApp13Enumerator>(App13(notIptc).get());
  ASSERT_TRUE(e->MoveNext());
  EXPECT_FALSE(e->Current()->IsIPTCBlock());

  // Not APP13: a wrong marker, a short segment, an unknown header.
  Bytes ps = notIptc;
  auto wrongMarker = App13(ps);
  wrongMarker->Marker = 0xEC;
  EXPECT_FALSE(wrongMarker->IsAdobeApp13());
  EXPECT_FALSE(App13(Bytes(ps.begin(), ps.begin() + 19))->IsAdobeApp13());
  ps[0] = 'p';
  EXPECT_FALSE(App13(ps)->IsAdobeApp13());
  e = zm::MakeRef<TAdobeApp13Enumerator>(App13(ps).get());
  EXPECT_FALSE(e->MoveNext());

  // Sizes and names that run past the segment end the enumeration, with no
  // allocation of what they claim.
  Bytes huge;
  Append(huge, std::string("Photoshop 3.0") + '\0');
  Block(huge, 0x03ED, "", Bytes{1, 2});
  Block(huge, 0x0404, "", Bytes{0x1C, 2, 5, 0, 0}, 0x7FFFFFF0);
  e = zm::MakeRef<TAdobeApp13Enumerator>(App13(huge).get());
  EXPECT_TRUE(e->MoveNext());
  EXPECT_FALSE(e->MoveNext());
  Bytes longName;
  Append(longName, std::string("Photoshop 3.0") + '\0');
  Append(longName, "8BIM");
  Append(longName, {4, 4, 200, 'x', 'y', 'z'});
  e = zm::MakeRef<TAdobeApp13Enumerator>(App13(longName).get());
  EXPECT_FALSE(e->MoveNext());
  EXPECT_FALSE(zm::MakeRef<TAdobeApp13Enumerator>(nullptr)->MoveNext());
}

// The fuzz target's seeds; with ZM_WRITE_FUZZ_SEEDS set to the corpus folder
// they are written there.
TEST(JpegSegments, FuzzSeedsWalkToTheirEnd) {
  Bytes iptc = {0x1C, 2, 5, 0, 5, 'T', 'i', 't', 'l', 'e', 0x1C, 2, 80, 0x80, 0x01, 3, 'A', 'n', 'n'};
  Bytes ps;
  Append(ps, std::string("Photoshop 3.0") + '\0');
  Block(ps, 0x03ED, "", Bytes(16, 1));
  Block(ps, 0x0404, "a", iptc);
  Bytes v25;
  Append(v25, "Adobe_Photoshop2.5:");
  Block(v25, 0x0404, "ab", iptc);
  Block(v25, 0x0400, "", Bytes{'x'});
  Bytes full = {0xFF, 0xD8};
  Segment(full, 0xE0, Bytes{'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0});
  Segment(full, 0xED, ps);
  Append(full, {0xFF, 0xFF, 0x01});
  Segment(full, 0xDA, Bytes{1, 1, 0, 0, 0x3F, 0});
  Append(full, {0x12, 0xFF, 0x00, 0xFF, 0xD0, 0xFF, 0xD9});
  Segment(full, 0xE2, Bytes{'a', 'f', 't', 'e', 'r'});
  Bytes adobe25 = {0xFF, 0xD8};
  Segment(adobe25, 0xED, v25);
  Append(adobe25, {0xFF, 0xD9});
  const Bytes cut(full.begin(), full.begin() + 40);
  const std::pair<const char*, Bytes> seeds[] = {{"full", full}, {"adobe25", adobe25}, {"cut", cut}};
  const char* folder = std::getenv("ZM_WRITE_FUZZ_SEEDS");
  for (const auto& [name, bytes] : seeds) {
    const auto found = Walk(bytes, AllMarkers());
    EXPECT_GE(found.size(), 1u) << name;
    if (folder && *folder)
      zmtest::WriteFileBytes(std::string(folder) + "/JpegSegments/" + name,
                             std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  }
  EXPECT_EQ(Walk(full, AllMarkers()).size(), 5u);  // the segment after the end is not reached
}

}  // namespace jpeg_segments_test
