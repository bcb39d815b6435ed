#include "OruLib2/OruClasses/OruExif.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/kit/StreamBytes.h"
#include "tests/support/kit/TempFolder.h"

using namespace oru;

namespace exif_test {

using Bytes = std::vector<std::uint8_t>;

// A TIFF structure in either byte order: directories laid out one after the
// other from offset 8, each followed by the values that do not fit an entry.
struct Tiff {
  explicit Tiff(bool motorola) : Motorola(motorola) {}
  bool Motorola;

  struct Entry {
    std::uint16_t Tag, Type;
    std::uint32_t Count;
    Bytes Data;           // the value in file order
    int Directory = -1;   // a pointer to that directory
    std::int64_t Offset = -1;  // a forced value or offset field
  };
  std::vector<std::vector<Entry>> Dirs = {{}};
  std::vector<int> CountOverride;  // -1: the real count

  Bytes U16(std::uint32_t v) const {
    return Motorola ? Bytes{std::uint8_t(v >> 8), std::uint8_t(v)} : Bytes{std::uint8_t(v), std::uint8_t(v >> 8)};
  }
  Bytes U32(std::uint32_t v) const {
    Bytes a = U16(v >> 16), b = U16(v & 0xFFFF);
    if (Motorola) a.insert(a.end(), b.begin(), b.end());
    else b.insert(b.end(), a.begin(), a.end());
    return Motorola ? a : b;
  }
  Entry Short(std::uint16_t tag, std::uint16_t v) const {
    Bytes d = U16(v);
    return {tag, 3, 1, d};
  }
  Entry Long(std::uint16_t tag, std::uint32_t v) const { return {tag, 4, 1, U32(v)}; }
  Entry Text(std::uint16_t tag, const std::string& s) const {
    Bytes d(s.begin(), s.end());
    d.push_back(0);
    return {tag, 2, std::uint32_t(d.size()), d};
  }
  Entry Rational(std::uint16_t tag, std::uint32_t n, std::uint32_t d, std::uint16_t type = 5) const {
    Bytes b = U32(n), c = U32(d);
    b.insert(b.end(), c.begin(), c.end());
    return {tag, type, 1, b};
  }
  Entry Pointer(std::uint16_t tag, int dir) const { return {tag, 4, 1, {}, dir}; }

  Bytes Build() const {
    std::vector<std::uint32_t> at(Dirs.size());
    std::uint32_t pos = 8;
    for (std::size_t k = 0; k < Dirs.size(); ++k) {
      at[k] = pos;
      pos += 2 + 12 * std::uint32_t(Dirs[k].size()) + 4;
      for (const Entry& e : Dirs[k])
        if (e.Data.size() > 4) pos += std::uint32_t(e.Data.size() + (e.Data.size() & 1));
    }
    Bytes out = Motorola ? Bytes{'M', 'M'} : Bytes{'I', 'I'};
    auto put = [&](const Bytes& b) { out.insert(out.end(), b.begin(), b.end()); };
    put(U16(42));
    put(U32(8));
    for (std::size_t k = 0; k < Dirs.size(); ++k) {
      const int count = k < CountOverride.size() && CountOverride[k] >= 0 ? CountOverride[k] : int(Dirs[k].size());
      put(U16(std::uint32_t(count)));
      std::uint32_t data = at[k] + 2 + 12 * std::uint32_t(Dirs[k].size()) + 4;
      Bytes tail;
      for (const Entry& e : Dirs[k]) {
        put(U16(e.Tag));
        put(U16(e.Type));
        put(U32(e.Count));
        if (e.Offset >= 0) {
          put(U32(std::uint32_t(e.Offset)));
        } else if (e.Directory >= 0) {
          put(U32(at[std::size_t(e.Directory)]));
        } else if (e.Data.size() <= 4) {
          Bytes v = e.Data;
          v.resize(4);
          put(v);
        } else {
          put(U32(data));
          tail.insert(tail.end(), e.Data.begin(), e.Data.end());
          if (e.Data.size() & 1) tail.push_back(0);
          data += std::uint32_t(e.Data.size() + (e.Data.size() & 1));
        }
      }
      put(U32(0));
      put(tail);
    }
    return out;
  }
};

Bytes App(std::uint8_t marker, const Bytes& data) {
  Bytes b = {0xFF, marker, std::uint8_t((data.size() + 2) >> 8), std::uint8_t((data.size() + 2) & 0xFF)};
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

Bytes ExifSegment(const Bytes& tiff) {
  Bytes d = {'E', 'x', 'i', 'f', 0, 0};
  d.insert(d.end(), tiff.begin(), tiff.end());
  return App(0xE1, d);
}

Bytes Jpeg(std::initializer_list<Bytes> segments) {
  Bytes f = {0xFF, 0xD8};
  for (const Bytes& s : segments) f.insert(f.end(), s.begin(), s.end());
  f.insert(f.end(), {0xFF, 0xD9});
  return f;
}

Bytes Jfif() {
  return App(0xE0, Bytes{'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0});
}

TExif LoadExif(const Bytes& file) {
  TExif e;
  e.Load(zmtest::MemoryStreamOf(file).get());
  return e;
}

Tiff Camera(bool motorola) {
  Tiff t(motorola);
  t.Dirs = {{}, {}, {}};
  t.Dirs[0] = {t.Text(0x010E, "  A pier at dusk "), t.Text(0x010F, "Cam"), t.Text(0x0110, "Model Z"),
               t.Short(0x0112, 6), t.Rational(0x011A, 300, 1), t.Rational(0x011B, 72, 1),
               t.Text(0x0131, "Editor 2"), t.Text(0x0132, "2012:05:18 10:00:00"), t.Text(0x013B, "Ann"),
               t.Pointer(0x8769, 1), t.Pointer(0x8825, 2), t.Text(0x8298, "(c) Ann")};
  Bytes comment = {'A', 'S', 'C', 'I', 'I', 0, 0, 0, ' ', 'h', 'i', ' ', 0};
  t.Dirs[1] = {t.Rational(0x829A, 10, 2500), t.Rational(0x829D, 28, 10), t.Short(0x8822, 3),
               t.Short(0x8827, 400), t.Text(0x9003, "2012:05:17 14:03:21"), t.Text(0x9004, "2012:05:17 14:03:22"),
               t.Rational(0x9102, 4, 1), t.Rational(0x9201, 9, 1, 10), t.Rational(0x9202, 297, 100),
               t.Rational(0x9205, 3, 1), t.Short(0x9207, 5), t.Short(0x9208, 10), t.Short(0x9209, 25),
               t.Rational(0x920A, 50, 1), {0x9286, 7, std::uint32_t(comment.size()), comment},
               t.Long(0xA002, 4000), t.Short(0xA003, 3000)};
  Bytes lat = t.U32(48), b = t.U32(1);
  for (std::uint32_t v : {30u, 1u, 36u, 1u}) {
    Bytes x = t.U32(v);
    b.insert(b.end(), x.begin(), x.end());
  }
  lat.insert(lat.end(), b.begin(), b.end());
  Bytes lon = lat;
  t.Dirs[2] = {{1, 2, 2, {'N', 0}}, {2, 5, 3, lat}, {3, 2, 2, {'W', 0}}, {4, 5, 3, lon}, {5, 1, 1, {1}},
               t.Rational(6, 125, 10)};
  return t;
}

class ExifByteOrder : public ::testing::TestWithParam<bool> {};

TEST_P(ExifByteOrder, ReadsAllThreeDirectories) {
  const TExif e = LoadExif(Jpeg({ExifSegment(Camera(GetParam()).Build())}));
  EXPECT_TRUE(e.ExifFound);
  EXPECT_EQ(e.ImageDescription, u"  A pier at dusk ");
  EXPECT_EQ(e.Make, u"Cam");  // short enough to sit in the entry itself
  EXPECT_EQ(e.Model, u"Model Z");
  EXPECT_EQ(e.Orientation, 6);
  EXPECT_EQ(e.OrientationText, u"Rotated 90 right");
  EXPECT_EQ(e.XResolution, 300);
  EXPECT_EQ(e.YResolution, 72);
  EXPECT_EQ(e.ProgramName, u"Editor 2");
  EXPECT_EQ(e.DateTime, u"2012:05:18 10:00:00");
  EXPECT_EQ(e.Artist, u"Ann");
  EXPECT_EQ(e.Copyright, u"(c) Ann");
  EXPECT_EQ(e.ExposureTime, u"1/250 seconds");
  EXPECT_EQ(e.FNumber, u"2.8");
  EXPECT_EQ(e.ExposureProgram, 3);
  EXPECT_EQ(e.ExposureProgramText, u"Aperture Priority");
  EXPECT_EQ(e.ISOSpeed, 400);
  EXPECT_EQ(e.DateTimeOriginal, u"2012:05:17 14:03:21");
  EXPECT_EQ(e.DateTimeDigitized, u"2012:05:17 14:03:22");
  EXPECT_EQ(e.CompressedBitsPerPixel, u"4.0");
  EXPECT_EQ(e.ShutterSpeed, u"1/512 seconds");
  EXPECT_EQ(e.Aperture, u"2.97");
  EXPECT_EQ(e.MaxAperture, u"3.0");
  EXPECT_EQ(e.MeteringModeText, u"Pattern");
  EXPECT_EQ(e.LightSourceText, u"Flash");
  EXPECT_EQ(e.Flash, 25);
  EXPECT_EQ(e.FlashText, u"Flash (Auto)");
  EXPECT_EQ(e.FocalLength, u"50/1 mm");
  EXPECT_EQ(e.UserComment, u"hi");
  EXPECT_EQ(e.PixelXDimension, 4000);
  EXPECT_EQ(e.PixelYDimension, 3000);
  EXPECT_TRUE(e.HasGPS);
  EXPECT_DOUBLE_EQ(e.GPSLatitude, 48.51);
  EXPECT_DOUBLE_EQ(e.GPSLongitude, -48.51);
  EXPECT_DOUBLE_EQ(e.GPSAltitude, -12.5);
}

INSTANTIATE_TEST_SUITE_P(IntelAndMotorola, ExifByteOrder, ::testing::Bool());

TEST(Exif, FindsTheSegmentAfterOthersOnlyNearTheHead) {
  Tiff t(false);
  t.Dirs[0] = {t.Text(0x010F, "Maker")};
  const Bytes exif = ExifSegment(t.Build());
  const Bytes xmp = App(0xE1, Bytes{'h', 't', 't', 'p', ':', '/', '/', 0, 'x', 'y'});
  EXPECT_EQ(LoadExif(Jpeg({Jfif(), exif})).Make, u"Maker");
  EXPECT_EQ(LoadExif(Jpeg({App(0xDB, Bytes(67, 1)), xmp, exif})).Make, u"Maker");
  // A long APP0 (with a thumbnail) is skipped by its length.
  EXPECT_EQ(LoadExif(Jpeg({App(0xE0, Bytes(500, 0xE1)), exif})).Make, u"Maker");

  const TExif far = LoadExif(Jpeg({App(0xDB, Bytes(2100, 0)), exif}));
  EXPECT_FALSE(far.ExifFound);
  EXPECT_EQ(far.Make, u"");
  EXPECT_FALSE(LoadExif(Bytes{0xFF, 0xD9, 0xFF, 0xE1}).ExifFound);
  EXPECT_FALSE(LoadExif(Bytes{0xFF, 0xD8}).ExifFound);
  EXPECT_FALSE(LoadExif(Bytes{}).ExifFound);

  // Loading again starts from cleared fields.
  TExif e;
  e.Load(zmtest::MemoryStreamOf(Jpeg({exif})).get());
  e.Load(zmtest::MemoryStreamOf(Bytes{0xFF, 0xD8, 0xFF, 0xD9}).get());
  EXPECT_EQ(e.Make, u"");
  EXPECT_FALSE(e.ExifFound);
}

TEST(Exif, EntryCountZeroReadsUpToTagZero) {
  Tiff t(true);
  t.Dirs[0] = {t.Text(0x010F, "Maker"), t.Short(0x0112, 3)};
  t.CountOverride = {0};
  const TExif e = LoadExif(Jpeg({ExifSegment(t.Build())}));
  EXPECT_EQ(e.Make, u"Maker");
  EXPECT_EQ(e.OrientationText, u"Rotated 180");

  // Without a tag 0 the reading ends at the segment's end, not beyond.
  Tiff u(false);
  u.Dirs[0] = {u.Short(0x0112, 9)};
  u.CountOverride = {0};
  Bytes tiff = u.Build();
  tiff.erase(tiff.end() - 4, tiff.end());  // no next-directory field
  const TExif f = LoadExif(Jpeg({ExifSegment(tiff), App(0xE2, Bytes(1300, 0x01))}));
  EXPECT_EQ(f.Orientation, 9);
  EXPECT_EQ(f.OrientationText, u"Unknown");
}

TEST(Exif, DamagedOffsetsCountsAndLoopsReadNothingWild) {
  for (bool mm : {false, true}) {
    Tiff t(mm);
    t.Dirs = {{}, {}};
    t.Dirs[0] = {t.Text(0x010F, "Maker"),
                 {0x0110, 2, 40, {}, -1, 0xFFFFFF00},          // text beyond the segment
                 {0x0131, 2, 0xFFFFFFFF, {}, -1, 8},            // a count that overflows
                 {0x011A, 5, 1, {}, -1, 0x7FFFFFFC},            // a rational beyond the segment
                 {0x013B, 2, 20, {}, -1, 60000},
                 t.Pointer(0x8769, 1)};
    // The Exif directory names itself and IFD0 again; rationals point outside.
    t.Dirs[1] = {t.Pointer(0x8769, 1), t.Pointer(0x8769, 0), {0x829A, 5, 1, {}, -1, 0xFFFFFFF8},
                 t.Short(0x8827, 100), t.Rational(0x829D, 1, 0)};
    const TExif e = LoadExif(Jpeg({ExifSegment(t.Build())}));
    EXPECT_EQ(e.Make, u"Maker") << mm;
    EXPECT_EQ(e.Model, u"");
    EXPECT_EQ(e.ProgramName, u"");
    EXPECT_EQ(e.XResolution, 0);
    EXPECT_EQ(e.Artist, u"");
    EXPECT_EQ(e.ExposureTime, u"");
    EXPECT_EQ(e.FNumber, u"");  // zero denominator
    EXPECT_EQ(e.ISOSpeed, 100);
  }

  // The first directory's offset outside, a huge entry count and a file cut
  // inside the directory.
  Tiff t(false);
  t.Dirs[0] = {t.Text(0x010F, "Maker"), t.Text(0x0110, "Model Z"), t.Short(0x0112, 8)};
  Bytes tiff = t.Build();
  Bytes badOffset = tiff;
  badOffset[4] = 0xF0;
  badOffset[7] = 0x7F;
  EXPECT_EQ(LoadExif(Jpeg({ExifSegment(badOffset)})).Make, u"");
  Bytes manyEntries = tiff;
  manyEntries[8] = manyEntries[9] = 0xFF;
  EXPECT_EQ(LoadExif(Jpeg({ExifSegment(manyEntries)})).OrientationText, u"Rotated 90 left");
  const Bytes whole = Jpeg({ExifSegment(tiff)});
  for (std::size_t cut = 0; cut < whole.size(); ++cut) {
    const TExif e = LoadExif(Bytes(whole.begin(), whole.begin() + std::ptrdiff_t(cut)));
    if (cut >= 2 + 4 + 6 + 10 + 12) {
      EXPECT_TRUE(e.ExifFound) << cut;
    }
  }
  Bytes badOrder = tiff;
  badOrder[0] = 'X';
  const TExif e = LoadExif(Jpeg({ExifSegment(badOrder)}));
  EXPECT_TRUE(e.ExifFound);
  EXPECT_EQ(e.Make, u"");
}

TEST(Exif, RationalTexts) {
  EXPECT_EQ(ExifDecimalText(28, 10), u"2.8");
  EXPECT_EQ(ExifDecimalText(4, 1), u"4.0");
  EXPECT_EQ(ExifDecimalText(1, 3), u"0.33");
  EXPECT_EQ(ExifDecimalText(0xFFFFFFFF, 1), u"4294967295.0");
  EXPECT_EQ(ExifDecimalText(1, 0), u"");
  EXPECT_EQ(ExifFractionText(10, 2500), u"1/250");
  EXPECT_EQ(ExifFractionText(50, 1), u"50/1");
  EXPECT_EQ(ExifFractionText(3, 10), u"3/10");
  EXPECT_EQ(ExifFractionText(0, 10), u"0/10");
  EXPECT_EQ(ExifFractionText(7, 1000000), u"0");
  EXPECT_EQ(ExifFractionText(7, 0), u"");
  EXPECT_EQ(ExifShutterSpeedText(9, 1), u"1/512 seconds");
  EXPECT_EQ(ExifShutterSpeedText(65535, 1), u"1 seconds");
  EXPECT_EQ(ExifShutterSpeedText(16001, 1), u"");
  EXPECT_EQ(ExifShutterSpeedText(15000, 1), u"");  // too large for a whole number
  EXPECT_EQ(ExifShutterSpeedText(-3, 1), u"");
  EXPECT_EQ(ExifShutterSpeedText(1, 0), u"");
  EXPECT_EQ(ExifShutterSpeedText(INT32_MIN, -1), u"1 seconds");
  EXPECT_EQ(ExifLightSourceText(2), u"Flourescent");
  EXPECT_EQ(ExifLightSourceText(4), u"Unknown");
  EXPECT_EQ(ExifMeteringModeText(8), u"Unknown");
  EXPECT_EQ(ExifFlashText(3), u"No Flash");
}

// Counts what the cache takes from its source.
class CountingStream : public zm::TMemoryStream {
public:
  std::int32_t Read(zm::TReadBuffer buffer, std::int32_t count, std::int32_t offset) override {
    ReadFrom.push_back(GetPosition());
    return zm::TMemoryStream::Read(buffer, count, offset);
  }
  using TStream::Read;
  std::vector<std::int64_t> ReadFrom;
};

TEST(Exif, CacheReadsTheSourceOnceFrontToBack) {
  auto source = zm::MakeRef<CountingStream>();
  Bytes b(10000);
  for (std::size_t i = 0; i < b.size(); ++i) b[i] = std::uint8_t(i * 7);
  source->Write(zm::TWriteBuffer(b));
  auto cache = zm::MakeRef<TCacheStream>(source.get());
  EXPECT_EQ(cache->GetSize(), 10000);
  std::uint8_t x[8];
  cache->SetPosition(9000);
  EXPECT_EQ(cache->Read(zm::TReadBuffer(x)), 8);
  EXPECT_EQ(x[0], std::uint8_t(9000 * 7));
  cache->SetPosition(5);
  EXPECT_EQ(cache->Read(zm::TReadBuffer(x)), 8);
  EXPECT_EQ(x[0], std::uint8_t(5 * 7));
  cache->SetPosition(9996);
  EXPECT_EQ(cache->Read(zm::TReadBuffer(x)), 4);  // not beyond the source
  cache->SetPosition(10000);
  EXPECT_EQ(cache->Read(zm::TReadBuffer(x)), 0);
  EXPECT_EQ(source->ReadFrom, (std::vector<std::int64_t>{0, 4096, 8192}));
  EXPECT_THROW(cache->SetPosition(10001), zm::EAbort);
  EXPECT_THROW(cache->SetPosition(-1), zm::EAbort);
  EXPECT_THROW(cache->Read(zm::TReadBuffer(x), -1, 0), zm::EAbort);
}

// The fuzz targets' seeds; with ZM_WRITE_FUZZ_SEEDS set to the corpus folder
// they are written there.
TEST(Exif, FuzzSeedsCarryTheirExif) {
  Tiff loop(false);
  loop.Dirs = {{loop.Text(0x010F, "Cam"), loop.Pointer(0x8769, 1)}, {loop.Pointer(0x8769, 0), loop.Short(0x8827, 100)}};
  const Bytes scan = {0xFF, 0xDA, 0, 8, 1, 1, 0, 0, 0x3F, 0, 0x12, 0xFF, 0x00, 0x34, 0xFF, 0xD0, 0x56};
  const std::pair<const char*, Bytes> seeds[] = {
      {"intel", Jpeg({ExifSegment(Camera(false).Build()), scan})},
      {"motorola", Jpeg({ExifSegment(Camera(true).Build()), scan})},
      {"jfif-then-exif", Jpeg({Jfif(), App(0xDB, Bytes(65, 1)), ExifSegment(Camera(false).Build()), scan})},
      {"loop", Jpeg({ExifSegment(loop.Build()), scan})},
  };
  const char* folder = std::getenv("ZM_WRITE_FUZZ_SEEDS");
  for (const auto& [name, bytes] : seeds) {
    const TExif e = LoadExif(bytes);
    EXPECT_TRUE(e.ExifFound && !e.Make.empty()) << name;
    if (folder && *folder)
      zmtest::WriteFileBytes(std::string(folder) + "/Exif/" + name, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  }
}

}  // namespace exif_test
