#include "ZmLib/Graphics/zmBmpLoader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "ZmLib/Graphics/SysPixelFormat.h"
#include "tests/support/kit/StreamBytes.h"
#include "tests/support/TestData.h"

using namespace zm;

// Designated initialisers leave the other members at their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

// A named namespace: its helpers hide those of other files in unity builds.
namespace bmptest {

std::string Bmpsuite(const std::string& sub) { return std::string(ZM_TESTDATA_DIR) + "/bmpsuite/" + sub; }

std::string FileBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

TRef<TDirectBitmap> LoadBytes(const std::string& bytes) {
  TRef<TMemoryStream> s = zmtest::MemoryStreamOf(bytes);
  return LoadBitmapFromStream(s.get());
}

// The picture as "R8G8B8" (B, G, R bytes), whatever format it loaded in.
TRef<TDirectBitmap> AsBgr(TDirectBitmap* b) {
  TRef<TDirectBitmap> out = MakeRef<TDirectBitmap>(b->Width(), PixelFormatByName(PF_R8G8B8), b->Height());
  out->CopyFrom(b);
  return out;
}

struct TDiff {
  double Mean = 0;  // mean absolute difference per channel
  int Max = 0;
};

TDiff Compare(TDirectBitmap* a, TDirectBitmap* b) {
  TDiff d;
  std::int64_t sum = 0, n = 0;
  for (std::int32_t y = 0; y < a->Height(); ++y)
    for (std::int32_t x = 0; x < a->Width() * 3; ++x) {
      const int v = std::abs(int(a->ScanLine(y)[x]) - int(b->ScanLine(y)[x]));
      sum += v;
      ++n;
      d.Max = std::max(d.Max, v);
    }
  d.Mean = n ? double(sum) / double(n) : 0;
  return d;
}

// ---- Files built here -------------------------------------------------------------

void Put16(std::string& s, std::size_t at, std::uint32_t v) {
  s[at] = char(v);
  s[at + 1] = char(v >> 8);
}
void Put32(std::string& s, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + std::size_t(i)] = char(v >> (8 * i));
}

struct TBmpLayout {
  std::int32_t Width = 4;
  std::int32_t Height = 3;
  std::uint16_t Bits = 24;
  std::uint32_t Compression = BI_RGB;
  std::uint32_t HeaderSize = 40;
  std::uint32_t ColorsUsed = 0;
  std::string Palette;  // raw entries
  std::string Masks;    // raw, written at offset 40 of the info header
  std::string Pixels;   // raw pixel data
};

std::string MakeBmpFrom(const std::string& info, const TBmpLayout& b) {
  const std::uint32_t offset = std::uint32_t(14 + info.size() + b.Palette.size());
  std::string file(14, '\0');
  file[0] = 'B';
  file[1] = 'M';
  Put32(file, 2, offset + std::uint32_t(b.Pixels.size()));
  Put32(file, 10, offset);
  return file + info + b.Palette + b.Pixels;
}

std::string MakeBmp(const TBmpLayout& b) {
  std::string info(b.HeaderSize, '\0');
  Put32(info, 0, b.HeaderSize);
  if (b.HeaderSize == 12) {  // OS/2 1.x: 16-bit sizes
    Put16(info, 4, std::uint32_t(b.Width));
    Put16(info, 6, std::uint32_t(b.Height));
    Put16(info, 8, 1);
    Put16(info, 10, b.Bits);
  }
  if (b.HeaderSize >= 40) Put32(info, 4, std::uint32_t(b.Width));
  if (b.HeaderSize < 40) return MakeBmpFrom(info, b);
  Put32(info, 8, std::uint32_t(b.Height));
  Put16(info, 12, 1);
  Put16(info, 14, b.Bits);
  Put32(info, 16, b.Compression);
  Put32(info, 32, b.ColorsUsed);
  std::string extra;
  if (!b.Masks.empty()) {
    if (b.HeaderSize >= 40 + b.Masks.size()) info.replace(40, b.Masks.size(), b.Masks);
    else extra = b.Masks;
  }
  const std::uint32_t offset = std::uint32_t(14 + info.size() + extra.size() + b.Palette.size());
  std::string file(14, '\0');
  file[0] = 'B';
  file[1] = 'M';
  Put32(file, 2, offset + std::uint32_t(b.Pixels.size()));
  Put32(file, 10, offset);
  return file + info + extra + b.Palette + b.Pixels;
}

// Rows of 24-bit pixels, (x, y) of the file row coded in the colour.
std::string Rows24(std::int32_t w, std::int32_t h, bool topDown) {
  std::string out;
  const std::int32_t stride = (w * 3 + 3) & ~3;
  for (std::int32_t r = 0; r < h; ++r) {
    const std::int32_t y = topDown ? r : h - 1 - r;
    std::string row(std::size_t(stride), '\0');
    for (std::int32_t x = 0; x < w; ++x) {
      row[std::size_t(3 * x)] = char(x * 10);
      row[std::size_t(3 * x + 1)] = char(y * 20);
      row[std::size_t(3 * x + 2)] = char(100 + x + y);
    }
    out += row;
  }
  return out;
}

std::string Gray2Palette() { return std::string("\x10\x20\x30\x00\xF0\xE0\xD0\x00", 8); }

// Loads from position 5 of a stream; on failure the position must be back.
TRef<TDirectBitmap> LoadAt5(const std::string& bytes) {
  TRef<TMemoryStream> s = zmtest::MemoryStreamOf("12345" + bytes);
  s->SetPosition(5);
  TRef<TDirectBitmap> b = LoadBitmapFromStream(s.get());
  if (!b) {
    EXPECT_EQ(s->GetPosition(), 5);
  }
  return b;
}

std::string Bgr(TDirectBitmap* b, std::int32_t x, std::int32_t y) {
  const std::uint8_t* p = b->ScanLine(y) + x * b->BytesPerPixel();
  return std::string(reinterpret_cast<const char*>(p), std::size_t(b->BytesPerPixel()));
}

TRef<TDirectBitmap> Suite(const char* name) {
  TRef<TDirectBitmap> b = LoadBytes(FileBytes(Bmpsuite(name)));
  return b ? AsBgr(b.get()) : nullptr;
}

// Mean of 8 x 8 blocks, for comparing dithered pictures with their source.
TDiff CompareBlocks(TDirectBitmap* a, TDirectBitmap* b, bool grey) {
  TDiff d;
  double sum = 0;
  int n = 0;
  for (std::int32_t by = 0; by + 8 <= a->Height(); by += 8)
    for (std::int32_t bx = 0; bx + 8 <= a->Width(); bx += 8)
      for (int c = 0; c < 3; ++c) {
        double sa = 0, sb = 0;
        for (int y = by; y < by + 8; ++y)
          for (int x = bx; x < bx + 8; ++x) {
            const std::uint8_t* pa = a->ScanLine(y) + 3 * x;
            const std::uint8_t* pb = b->ScanLine(y) + 3 * x;
            sa += pa[c];
            sb += grey ? 0.114 * pb[0] + 0.587 * pb[1] + 0.299 * pb[2] : pb[c];
          }
        const double v = std::abs(sa - sb) / 64;
        sum += v;
        ++n;
        d.Max = std::max(d.Max, int(std::lround(v)));
      }
  d.Mean = sum / n;
  return d;
}

// ---- The public suite --------------------------------------------------------------
// No suite file comes with a rendered reference, so rgb24.bmp is the
// reference picture (checked here against its own bytes), and each coding
// is held to it: exactly where the coding is lossless, within the
// quantisation of 5- and 6-bit channels for 16 bits, and by 8 x 8 block
// means for palette pictures (the suite dithers them). Pictures coded from
// one palette must agree pixel for pixel with pal8.bmp, pal4.bmp or pal1.bmp.

TEST(BmpLoaderSuite, EveryGoodFileMatchesItsReference) {
  ZM_SKIP_WITHOUT_TESTDATA("bmpsuite");
  const std::string raw = FileBytes(Bmpsuite("g/rgb24.bmp"));
  TRef<TDirectBitmap> ref = Suite("g/rgb24.bmp");
  ASSERT_TRUE(ref);
  ASSERT_EQ(ref->Size(), (TPoint{127, 64}));
  // Bottom-up: the first file row is the picture's last.
  const std::size_t data = std::uint8_t(raw[10]) | std::size_t(std::uint8_t(raw[11])) << 8;
  const std::size_t stride = (127 * 3 + 3) & ~std::size_t(3);
  for (int y : {0, 31, 63})
    EXPECT_EQ(0, std::memcmp(ref->ScanLine(y), raw.data() + data + std::size_t(63 - y) * stride, 127 * 3)) << y;

  std::set<std::string> checked;
  auto exact = [&](const char* name, TDirectBitmap* reference) {
    checked.insert(name);
    TRef<TDirectBitmap> b = Suite(name);
    ASSERT_TRUE(b) << name;
    ASSERT_EQ(b->Size(), reference->Size()) << name;
    EXPECT_EQ(Compare(b.get(), reference).Max, 0) << name;
  };
  for (const char* n : {"g/rgb24pal.bmp", "g/rgb32.bmp", "g/rgb32bf.bmp", "g/rgb32bfdef.bmp"}) exact(n, ref.get());
  for (const char* n : {"g/rgb16.bmp", "g/rgb16bfdef.bmp", "g/rgb16-565.bmp", "g/rgb16-565pal.bmp"}) {
    checked.insert(n);
    TRef<TDirectBitmap> b = Suite(n);
    ASSERT_TRUE(b) << n;
    const TDiff d = Compare(b.get(), ref.get());
    EXPECT_LE(d.Max, 9) << n;
    EXPECT_LE(d.Mean, 4.0) << n;
  }

  TRef<TDirectBitmap> pal8 = Suite("g/pal8.bmp");
  TRef<TDirectBitmap> pal4 = Suite("g/pal4.bmp");
  TRef<TDirectBitmap> pal1 = Suite("g/pal1.bmp");
  ASSERT_TRUE(pal8 && pal4 && pal1);
  checked.insert({"g/rgb24.bmp", "g/pal4.bmp", "g/pal1.bmp"});
  for (const char* n : {"g/pal8-0.bmp", "g/pal8os2.bmp", "g/pal8rle.bmp", "g/pal8topdown.bmp", "g/pal8v4.bmp",
                        "g/pal8v5.bmp"})
    exact(n, pal8.get());
  exact("g/pal4rle.bmp", pal4.get());
  exact("g/pal1wb.bmp", pal1.get());
  // The narrower pictures are the top-left of the same picture.
  for (const char* n : {"g/pal8w124.bmp", "g/pal8w125.bmp", "g/pal8w126.bmp"}) {
    checked.insert(n);
    TRef<TDirectBitmap> b = Suite(n);
    ASSERT_TRUE(b) << n;
    for (std::int32_t y = 0; y < b->Height(); ++y)
      ASSERT_EQ(0, std::memcmp(b->ScanLine(y), pal8->ScanLine(y), std::size_t(b->Width()) * 3)) << n << " " << y;
  }
  // Half the rows: every other row of the full picture.
  {
    checked.insert("g/pal8nonsquare.bmp");
    TRef<TDirectBitmap> b = Suite("g/pal8nonsquare.bmp");
    ASSERT_TRUE(b);
    ASSERT_EQ(b->Size(), (TPoint{127, 32}));
    TRef<TDirectBitmap> half = MakeRef<TDirectBitmap>(127, PixelFormatByName(PF_R8G8B8), 32);
    for (std::int32_t y = 0; y < 32; ++y) std::memcpy(half->ScanLine(y), ref->ScanLine(2 * y), 127 * 3);
    const TDiff d = CompareBlocks(b.get(), half.get(), false);
    EXPECT_LE(d.Mean, 4.0);
    EXPECT_LE(d.Max, 12);
  }
  // Two colours swapped for blue and green: the same picture through a
  // one-to-one colour map.
  {
    checked.insert("g/pal1bg.bmp");
    TRef<TDirectBitmap> b = Suite("g/pal1bg.bmp");
    ASSERT_TRUE(b);
    std::map<std::uint32_t, std::uint32_t> map;
    bool oneToOne = true;
    for (std::int32_t y = 0; y < 64; ++y)
      for (std::int32_t x = 0; x < 127; ++x) {
        auto key = [](const std::uint8_t* p) { return std::uint32_t(p[0] | p[1] << 8 | p[2] << 16); };
        auto [it, added] = map.emplace(key(pal1->ScanLine(y) + 3 * x), key(b->ScanLine(y) + 3 * x));
        oneToOne &= it->second == key(b->ScanLine(y) + 3 * x);
      }
    EXPECT_TRUE(oneToOne);
    EXPECT_EQ(map.size(), 2u);
  }
  // Dithered pictures: block means near the reference (grey for grey
  // palettes). pal4.bmp and pal1.bmp are coarser pictures of their own and
  // are only the references of their siblings above.
  for (const char* n : {"g/pal8.bmp", "g/pal8gs.bmp", "g/pal4gs.bmp"}) {
    checked.insert(n);
    TRef<TDirectBitmap> b = Suite(n);
    ASSERT_TRUE(b) << n;
    const TDiff d = CompareBlocks(b.get(), ref.get(), n != std::string("g/pal8.bmp"));
    EXPECT_LE(d.Mean, 8.0) << n;
    EXPECT_LE(d.Max, 64) << n;
  }
  std::set<std::string> all;
  for (const auto& e : std::filesystem::directory_iterator(Bmpsuite("g"))) all.insert("g/" + e.path().filename().string());
  EXPECT_EQ(all, checked);
}

TEST(BmpLoaderSuite, BadAndQuestionableFilesFailCleanlyOrLoad) {
  ZM_SKIP_WITHOUT_TESTDATA("bmpsuite");
  for (const char* dir : {"b", "q", "x"})
    for (const auto& e : std::filesystem::directory_iterator(Bmpsuite(dir))) {
      const std::string bytes = FileBytes(e.path().string());
      TRef<TDirectBitmap> b = LoadAt5(bytes);
      if (b) {
        EXPECT_LE(std::int64_t(b->Width()) * b->Height(),
                  std::max<std::int64_t>(kMinBmpRleBoundPixels, std::int64_t(bytes.size()) * kMaxBmpRlePixelsPerByte));
      }
    }
  // What cannot describe a picture of a kind this reader knows.
  for (const char* n : {"b/badbitcount.bmp", "b/badplanes.bmp", "b/badwidth.bmp", "b/reallybig.bmp",
                        "b/shortfile.bmp", "b/badfilesize.bmp", "q/rgb24jpeg.bmp", "q/rgb24png.bmp", "q/pal2.bmp",
                        "q/rgba64.bmp", "q/rgb16-231.bmp", "q/rgba16-4444.bmp", "q/pal8os2v2-16.bmp", "x/ba-bm.bmp"})
    EXPECT_FALSE(LoadAt5(FileBytes(Bmpsuite(n)))) << n;
  // Real alpha is kept; a file that leaves it all 0 is opaque.
  TRef<TDirectBitmap> alpha = LoadBytes(FileBytes(Bmpsuite("q/rgba32-1.bmp")));
  TRef<TDirectBitmap> none = LoadBytes(FileBytes(Bmpsuite("g/rgb32.bmp")));
  ASSERT_TRUE(alpha && none);
  std::set<int> alphas, noneAlphas;
  for (std::int32_t y = 0; y < 64; ++y)
    for (std::int32_t x = 0; x < 127; ++x) {
      alphas.insert(alpha->ScanLine(y)[4 * x + 3]);
      noneAlphas.insert(none->ScanLine(y)[4 * x + 3]);
    }
  EXPECT_GT(alphas.size(), 2u);
  EXPECT_EQ(noneAlphas, std::set<int>{255});
}

// ---- Files built here ------------------------------------------------------------

TEST(BmpLoader, OrientationAndHeaderSizesGiveTheSamePicture) {
  TBmpLayout layout;
  layout.Width = 5;
  layout.Height = 3;
  layout.Pixels = Rows24(5, 3, false);
  TRef<TDirectBitmap> ref = LoadAt5(MakeBmp(layout));
  ASSERT_TRUE(ref);
  EXPECT_EQ(ref->PixelFormat()->Name.Str(), PF_R8G8B8);
  EXPECT_EQ(Bgr(ref.get(), 2, 0), std::string("\x14\x00\x66", 3));  // x 2, y 0
  EXPECT_EQ(Bgr(ref.get(), 4, 2), std::string("\x28\x28\x6A", 3));
  TBmpLayout topDown = layout;
  topDown.Height = -3;
  topDown.Pixels = Rows24(5, 3, true);
  for (std::uint32_t header : {40u, 52u, 64u, 108u, 124u}) {
    TBmpLayout v = header == 40 ? topDown : layout;
    v.HeaderSize = header;
    TRef<TDirectBitmap> b = LoadAt5(MakeBmp(v));
    ASSERT_TRUE(b) << header;
    EXPECT_EQ(Compare(b.get(), ref.get()).Max, 0) << header;
  }
  // OS/2 1.x: 16-bit sizes and 3-byte palette entries.
  TRef<TDirectBitmap> b = LoadAt5(MakeBmp(TBmpLayout{.Width = 2, .Height = 1, .Bits = 8, .HeaderSize = 12,
                                                   .Palette = std::string("\x01\x02\x03\x04\x05\x06", 6) + std::string(254 * 3, '\0'),
                                                   .Pixels = std::string("\x01\x00\x00\x00", 4)}));
  ASSERT_TRUE(b);
  EXPECT_EQ(b->Size(), (TPoint{2, 1}));
  EXPECT_EQ(Bgr(b.get(), 0, 0), std::string("\x04\x05\x06", 3));
  EXPECT_EQ(Bgr(b.get(), 1, 0), std::string("\x01\x02\x03", 3));
}

TEST(BmpLoader, IndexRowsAndShortPalettes) {
  // 1 bit, most significant first; colours used 1 leaves index 1 black.
  TBmpLayout one{.Width = 9, .Height = 1, .Bits = 1, .ColorsUsed = 1, .Palette = Gray2Palette().substr(0, 4),
               .Pixels = std::string("\x80\x80\x00\x00", 4)};
  TRef<TDirectBitmap> b = LoadAt5(MakeBmp(one));
  ASSERT_TRUE(b);
  EXPECT_EQ(Bgr(b.get(), 0, 0), std::string(3, '\0'));
  EXPECT_EQ(Bgr(b.get(), 1, 0), std::string("\x10\x20\x30", 3));
  EXPECT_EQ(Bgr(b.get(), 8, 0), std::string(3, '\0'));
  // 4 bits, high nibble first, odd width; index 15 is past the palette.
  TBmpLayout four{.Width = 3, .Height = 1, .Bits = 4, .Palette = Gray2Palette() + std::string(14 * 4, '\0'),
                .Pixels = std::string("\x10\xF0\x00\x00", 4)};
  b = LoadAt5(MakeBmp(four));
  ASSERT_TRUE(b);
  EXPECT_EQ(Bgr(b.get(), 0, 0), std::string("\xF0\xE0\xD0", 3));
  EXPECT_EQ(Bgr(b.get(), 1, 0), std::string("\x10\x20\x30", 3));
  EXPECT_EQ(Bgr(b.get(), 2, 0), std::string(3, '\0'));
  // The small readers stop where their buffers end.
  std::vector<std::uint8_t> idx(12, 9);
  const std::uint8_t packed[1] = {0xA5};
  ReadBmpRow1(packed, idx, 20);
  EXPECT_EQ(idx, (std::vector<std::uint8_t>{1, 0, 1, 0, 0, 1, 0, 1, 9, 9, 9, 9}));
  ReadBmpRow4(packed, std::span(idx).first(1), 4);
  EXPECT_EQ(idx[0], 10);
  EXPECT_EQ(idx[1], 0);
  ReadBmpRow8(packed, idx, -3);
  std::uint8_t bgr[4] = {7, 7, 7, 7};
  TBmpPalette palette{};
  palette[10] = {1, 2, 3, 0};
  ExpandPaletteRow(idx, palette, bgr);
  EXPECT_EQ(std::vector<std::uint8_t>(bgr, bgr + 4), (std::vector<std::uint8_t>{1, 2, 3, 7}));
  TBmpFileHeader fh;
  TBmpInfoHeader ih;
  EXPECT_FALSE(ReadBmpFileHeader(nullptr, fh));
  EXPECT_FALSE(ReadBmpInfoHeader(nullptr, ih));
  EXPECT_FALSE(DecodeBmpRle8(nullptr, idx, 4));
  TRef<TMemoryStream> eob = zmtest::MemoryStreamOf(std::string("\x00\x01", 2));
  EXPECT_FALSE(DecodeBmpRle4(eob.get(), idx, 0));
  EXPECT_TRUE(DecodeBmpRle4(eob.get(), idx, 4));
  // A palette cut by the end of the file fails.
  TBmpLayout cut{.Width = 1, .Height = 1, .Bits = 8, .ColorsUsed = 200, .Palette = Gray2Palette()};
  EXPECT_FALSE(LoadAt5(MakeBmp(cut)));
}

TEST(BmpLoader, BitFieldsChooseTheFormatOrFail) {
  auto masks = [](std::uint32_t r, std::uint32_t g, std::uint32_t b, std::uint32_t a = 0) {
    std::string m(16, '\0');
    Put32(m, 0, r);
    Put32(m, 4, g);
    Put32(m, 8, b);
    Put32(m, 12, a);
    return m;
  };
  TBmpLayout s16{.Width = 2, .Height = 1, .Bits = 16, .Compression = BI_BITFIELDS,
               .Pixels = std::string("\x1F\x00\x00\xF8", 4)};
  for (std::uint32_t header : {40u, 108u}) {
    s16.HeaderSize = header;
    s16.Masks = masks(0xF800, 0x07E0, 0x001F).substr(0, 12);
    TRef<TDirectBitmap> b = LoadAt5(MakeBmp(s16));
    ASSERT_TRUE(b) << header;
    EXPECT_EQ(b->PixelFormat()->Name.Str(), PF_R5G6B5);
    TRef<TDirectBitmap> c = AsBgr(b.get());  // blue, then red
    EXPECT_EQ(Bgr(c.get(), 0, 0), std::string("\xF8\x00\x00", 3));
    EXPECT_EQ(Bgr(c.get(), 1, 0), std::string("\x00\x00\xF8", 3));
    s16.Masks = masks(0x7C00, 0x03E0, 0x001F).substr(0, 12);
    b = LoadAt5(MakeBmp(s16));
    ASSERT_TRUE(b);
    EXPECT_EQ(b->PixelFormat()->Name.Str(), PF_X1R5G5B5);
    s16.Masks = masks(0x0F00, 0x00F0, 0x000F).substr(0, 12);
    EXPECT_FALSE(LoadAt5(MakeBmp(s16)));
  }
  s16.Compression = BI_RGB;
  s16.Masks.clear();
  s16.HeaderSize = 40;
  TRef<TDirectBitmap> b = LoadAt5(MakeBmp(s16));
  ASSERT_TRUE(b);
  EXPECT_EQ(b->PixelFormat()->Name.Str(), PF_X1R5G5B5);

  // 32 bits: any contiguous masks, alpha only from a header with room for it.
  TBmpLayout s32{.Width = 1, .Height = 1, .Bits = 32, .Compression = BI_BITFIELDS, .HeaderSize = 124,
               .Masks = masks(0x000003FF, 0x000FFC00, 0x3FF00000, 0xC0000000),
               .Pixels = std::string("\xFF\x03\x00\x80", 4)};  // red 1023, green 0, blue 0, alpha 2 of 3
  b = LoadAt5(MakeBmp(s32));
  ASSERT_TRUE(b);
  EXPECT_EQ(Bgr(b.get(), 0, 0), std::string("\x00\x00\xFF\xAA", 4));
  s32.Masks = masks(0x00FF0000, 0x0000FF00, 0x000000FF, 0).substr(0, 12);
  s32.HeaderSize = 40;
  b = LoadAt5(MakeBmp(s32));
  ASSERT_TRUE(b);
  EXPECT_EQ(Bgr(b.get(), 0, 0), std::string("\xFF\x03\x00\xFF", 4));
  s32.Masks = masks(0x00FF00FF, 0x0000FF00, 0xFF000000).substr(0, 12);  // not contiguous
  EXPECT_FALSE(LoadAt5(MakeBmp(s32)));
  // Plain 32 bits: alpha as stored, unless every alpha byte is 0.
  TBmpLayout plain{.Width = 2, .Height = 1, .Bits = 32, .Pixels = std::string("\x01\x02\x03\x00\x04\x05\x06\x00", 8)};
  b = LoadAt5(MakeBmp(plain));
  ASSERT_TRUE(b);
  EXPECT_EQ(Bgr(b.get(), 1, 0), std::string("\x04\x05\x06\xFF", 4));
  plain.Pixels[3] = '\x40';
  b = LoadAt5(MakeBmp(plain));
  ASSERT_TRUE(b);
  EXPECT_EQ(Bgr(b.get(), 0, 0), std::string("\x01\x02\x03\x40", 4));
  EXPECT_EQ(Bgr(b.get(), 1, 0), std::string("\x04\x05\x06\x00", 4));
}

TEST(BmpLoader, RunLengthCoding) {
  std::string pal = Gray2Palette() + std::string("\x00\x00\xFF\x00\x00\xFF\x00\x00", 8);
  auto rle8 = [&](std::int32_t w, std::int32_t h, const std::string& data) {
    return MakeBmp(TBmpLayout{.Width = w, .Height = h, .Bits = 8, .Compression = BI_RLE8, .ColorsUsed = 4,
                            .Palette = pal, .Pixels = data});
  };
  auto at = [](TDirectBitmap* b, std::int32_t x, std::int32_t y) { return int(b->ScanLine(y)[3 * x + 2]); };
  // Bottom row: run of 2 x index 1, literal 3 (padded) 2 3 2; end of
  // line; delta to (1, 1); run 1 x index 3; end of line; end of bitmap.
  // Red of the palette: 0x30, 0xD0, 0xFF, 0x00.
  std::string data("\x02\x01\x00\x03\x02\x03\x02\x00\x00\x00\x00\x02\x01\x00\x01\x03\x00\x00\x00\x01", 20);
  TRef<TDirectBitmap> b = LoadAt5(rle8(5, 3, data));
  ASSERT_TRUE(b);
  EXPECT_EQ(at(b.get(), 0, 2), 0xD0);
  EXPECT_EQ(at(b.get(), 1, 2), 0xD0);
  EXPECT_EQ(at(b.get(), 2, 2), 0xFF);
  EXPECT_EQ(at(b.get(), 3, 2), 0x00);
  EXPECT_EQ(at(b.get(), 4, 2), 0xFF);
  EXPECT_EQ(at(b.get(), 0, 1), 0x30);  // skipped: index 0
  EXPECT_EQ(at(b.get(), 1, 1), 0x00);
  EXPECT_EQ(at(b.get(), 0, 0), 0x30);
  // Top-down reverses the rows.
  TRef<TDirectBitmap> t = LoadAt5(rle8(5, -3, data));
  ASSERT_TRUE(t);
  EXPECT_EQ(at(t.get(), 2, 0), 0xFF);
  EXPECT_EQ(at(t.get(), 1, 1), 0x00);
  // A run past the picture's end, a literal past it, and data cut short fail.
  EXPECT_FALSE(LoadAt5(rle8(4, 1, std::string("\x05\x01\x00\x01", 4))));
  EXPECT_FALSE(LoadAt5(rle8(4, 1, std::string("\x00\x05\x01\x01\x01\x01\x01\x00", 8))));
  EXPECT_FALSE(LoadAt5(rle8(4, 2, std::string("\x04\x01\x00", 3))));
  EXPECT_FALSE(LoadAt5(rle8(4, 2, std::string("\x00\x02\x01", 3))));
  // Reaching the last row ends decoding without an end-of-bitmap mark.
  EXPECT_TRUE(LoadAt5(rle8(4, 1, std::string("\x04\x01\x00\x00", 4))));
  // The row length is the padded stride: a run may fill the padding.
  EXPECT_TRUE(LoadAt5(rle8(3, 1, std::string("\x04\x01\x00\x01", 4))));

  // RLE4: run nibbles alternate high then low; literals padded to 16 bits.
  std::string data4("\x03\x12\x00\x03\x32\x10\x00\x01", 8);
  b = LoadAt5(MakeBmp(TBmpLayout{.Width = 6, .Height = 1, .Bits = 4, .Compression = BI_RLE4, .ColorsUsed = 4,
                               .Palette = pal, .Pixels = data4}));
  ASSERT_TRUE(b);
  const int want[] = {0xD0, 0xFF, 0xD0, 0x00, 0xFF, 0xD0};
  for (int x = 0; x < 6; ++x) EXPECT_EQ(at(b.get(), x, 0), want[x]) << x;
  // Coding and bit count must agree.
  EXPECT_FALSE(LoadAt5(MakeBmp(TBmpLayout{.Width = 6, .Height = 1, .Bits = 8, .Compression = BI_RLE4,
                                        .Palette = pal, .Pixels = data4})));
  EXPECT_FALSE(LoadAt5(MakeBmp(TBmpLayout{.Width = 6, .Height = 1, .Bits = 4, .Compression = BI_RLE8,
                                        .Palette = pal, .Pixels = data4})));
}

TEST(BmpLoader, DamagedHeadersAndSizesFailBeforeMemoryIsTaken) {
  TBmpLayout good{.Width = 3, .Height = 2, .Pixels = Rows24(3, 2, false)};
  const std::string file = MakeBmp(good);
  // Every cut of a good file fails or loads, with the stream put back.
  for (std::size_t n = 0; n < file.size(); ++n) EXPECT_FALSE(LoadAt5(file.substr(0, n))) << n;
  ASSERT_TRUE(LoadAt5(file));
  // A file size beyond the stream.
  std::string big = file;
  Put32(big, 2, std::uint32_t(file.size() + 1));
  EXPECT_FALSE(LoadAt5(big));
  auto with = [&](std::size_t at, std::uint32_t v, bool word = false) {
    std::string f = file;
    word ? Put16(f, at, v) : Put32(f, at, v);
    return f;
  };
  for (const std::string& f :
       {with(0, 0x4D43, true), with(18, 0), with(18, 0x80000000u), with(22, 0), with(22, 0x80000000u),
        with(26, 2, true), with(28, 0, true), with(28, 2, true), with(28, 64, true), with(30, 6), with(30, 4),
        with(14, 39), with(14, 16), with(10, 2), with(10, 0xFFFFFFF0u), with(18, 0x7FFFFFFF), with(22, 100000)})
    EXPECT_FALSE(LoadAt5(f));
  // Pictures past the limit, or larger than their data, are refused before
  // their memory is taken (a huge allocation would fail the sanitizer).
  EXPECT_FALSE(LoadAt5(MakeBmp(TBmpLayout{.Width = 1 << 20, .Height = 1 << 20, .Pixels = "x"})));
  EXPECT_FALSE(LoadAt5(MakeBmp(TBmpLayout{.Width = 30000, .Height = -30000, .Bits = 32, .Pixels = "x"})));
  EXPECT_FALSE(LoadAt5(MakeBmp(TBmpLayout{.Width = 30000, .Height = 30000, .Bits = 8, .Compression = BI_RLE8,
                                        .Palette = Gray2Palette(), .Pixels = std::string("\x00\x01", 2)})));
  // A small run-coded picture may be almost all implied.
  EXPECT_TRUE(LoadAt5(MakeBmp(TBmpLayout{.Width = 1000, .Height = 1000, .Bits = 8, .Compression = BI_RLE8,
                                       .ColorsUsed = 2, .Palette = Gray2Palette(),
                                       .Pixels = std::string("\x00\x01", 2)})));
  // Nothing to read from.
  EXPECT_FALSE(LoadBitmapFromStream(nullptr));
}

}  // namespace bmptest
