#include "ZmLib/Graphics/zmFPReadGIF.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>

#include "ZmLib/zmLog.h"
#include "tests/ZmLib/Graphics/GraphicsTestUtil.h"
#include "tests/ZmLib/Graphics/GifSuiteKit.h"
#include "tests/support/Capture.h"
#include "tests/support/TestData.h"
#include "tests/support/kit/StreamBytes.h"

using namespace zm;

namespace {

using Bytes = std::vector<std::uint8_t>;

// ---- A small GIF writer ------------------------------------------------------------------

struct TBitWriter {
  Bytes Out;
  std::uint32_t Acc = 0;
  int N = 0;
  void Put(int code, int size) {
    Acc |= std::uint32_t(code) << N;
    N += size;
    while (N >= 8) {
      Out.push_back(std::uint8_t(Acc));
      Acc >>= 8;
      N -= 8;
    }
  }
  Bytes Flush() {
    if (N > 0) Out.push_back(std::uint8_t(Acc));
    N = 0;
    return Out;
  }
};

// LZW codes of Pixels; ClearEvery > 0 sends a clear code after that many
// data codes, DoubleClear starts with two clear codes.
Bytes LzwEncode(const Bytes& pixels, int minSize, int clearEvery = 0, bool doubleClear = false) {
  TBitWriter w;
  const int clear = 1 << minSize;
  int size = minSize + 1, next = clear + 2, sinceClear = 0;
  std::map<std::pair<int, int>, int> dict;
  const auto reset = [&] {
    w.Put(clear, size);
    dict.clear();
    size = minSize + 1;
    next = clear + 2;
    sinceClear = 0;
  };
  reset();
  if (doubleClear) w.Put(clear, size);
  if (!pixels.empty()) {
    int cur = pixels[0];
    for (std::size_t i = 1; i < pixels.size(); ++i) {
      const int c = pixels[i];
      const auto it = dict.find({cur, c});
      if (it != dict.end()) {
        cur = it->second;
        continue;
      }
      w.Put(cur, size);
      ++sinceClear;
      // The decoder adds its entry one code later: grow as it will.
      const bool full = next >= 4096;
      if (!full) {
        dict[{cur, c}] = next++;
        if (next > (1 << size) && size < 12) ++size;
      }
      if (full || (clearEvery > 0 && sinceClear >= clearEvery)) reset();
      cur = c;
    }
    w.Put(cur, size);
    if (next < 4096 && ++next > (1 << size) && size < 12) ++size;
  }
  w.Put(clear + 1, size);
  return w.Flush();
}

// Codes given with their sizes, as a bad encoder would write them.
Bytes RawCodes(const std::vector<std::pair<int, int>>& codes) {
  TBitWriter w;
  for (auto [code, size] : codes) w.Put(code, size);
  return w.Flush();
}

struct TGifWriter {
  Bytes B;
  void U8(int v) { B.push_back(std::uint8_t(v)); }
  void U16(int v) {
    U8(v & 0xFF);
    U8(v >> 8);
  }
  void Text(const char* s) { B.insert(B.end(), s, s + std::strlen(s)); }
  void Header(int w, int h, int tableBits, int background = 0, const char* version = "89a") {
    Text("GIF");
    Text(version);
    U16(w);
    U16(h);
    U8(tableBits >= 0 ? 0x80 | tableBits : 0);
    U8(background);
    U8(0);
    if (tableBits >= 0) Table(tableBits);
  }
  // Entry i is (i, 2i, 3i) mod 256.
  void Table(int bits) {
    for (int i = 0; i < (2 << bits); ++i) {
      U8(i);
      U8(i * 2);
      U8(i * 3);
    }
  }
  void Control(int flags, int delay, int transparent) {
    U8('!');
    U8(0xF9);
    U8(4);
    U8(flags);
    U16(delay);
    U8(transparent);
    U8(0);
  }
  void Loop(int count, int subId = 1) {
    U8('!');
    U8(0xFF);
    U8(11);
    Text("NETSCAPE2.0");
    U8(3);
    U8(subId);
    U16(count);
    U8(0);
  }
  void SubBlocks(const Bytes& data, int blockSize = 255, bool terminate = true) {
    for (std::size_t i = 0; i < data.size(); i += std::size_t(blockSize)) {
      const std::size_t n = std::min(data.size() - i, std::size_t(blockSize));
      U8(int(n));
      B.insert(B.end(), data.begin() + std::ptrdiff_t(i), data.begin() + std::ptrdiff_t(i + n));
    }
    if (terminate) U8(0);
  }
  void Descriptor(int left, int top, int w, int h, int flags = 0) {
    U8(',');
    U16(left);
    U16(top);
    U16(w);
    U16(h);
    U8(flags);
  }
  void Image(int w, int h, const Bytes& pixels, int minSize = 8, int flags = 0) {
    Descriptor(0, 0, w, h, flags);
    U8(minSize);
    SubBlocks(LzwEncode(pixels, minSize));
  }
  void Trailer() { U8(';'); }
};

Bytes Ramp(int n, int colours) {
  Bytes p(std::size_t(n), 0);
  for (int i = 0; i < n; ++i) p[std::size_t(i)] = std::uint8_t((i / 3) % colours);
  return p;
}

Bytes Noise(int n, int colours, unsigned seed) {
  std::mt19937 r(seed);
  Bytes p(static_cast<std::size_t>(n));
  for (auto& v : p) v = std::uint8_t(r() % unsigned(colours));
  return p;
}

// The palette colour of the writer's table as A8R8G8B8.
std::uint32_t TableColor(int i) {
  return 0xFF000000u | (std::uint32_t(i & 0xFF) << 16) | (std::uint32_t((i * 2) & 0xFF) << 8) |
         std::uint32_t((i * 3) & 0xFF);
}

bool PixelsMatch(TDirectBitmap* b, const Bytes& indices) {
  for (int y = 0; y < b->Height(); ++y)
    for (int x = 0; x < b->Width(); ++x)
      if (b->Row32(y)[x] != TableColor(indices[std::size_t(y * b->Width() + x)])) return false;
  return true;
}

struct TRead {
  TRef<TFPReaderGif> Reader = MakeRef<TFPReaderGif>();
  TRef<TMemoryStream> Stream;
  TRef<TDirectBitmap> First;
  explicit TRead(const Bytes& b) : Stream(zmtest::MemoryStreamOf(b)) { Reader->InternalRead(Stream.get(), First); }
  TRef<TDirectBitmap> Next(TGifNext expect = TGifNext::Image) {
    TRef<TDirectBitmap> b;
    EXPECT_EQ(Reader->ReadNextImage(Stream.get(), b), expect);
    return b;
  }
};

class TLogToDebug {
public:
  TLogToDebug() { SetLog(new TStdLog); }
  ~TLogToDebug() { SetLog(nullptr); }
  zmtest::TDebugCapture Capture;
};

// ---- A palette PNG reader for the suite's reference frames -------------------------------

using zmtest::ReadPalettePng;
using zmtest::TPng;
const std::filesystem::path& kSuite = zmtest::kGifSuite;

}  // namespace

// ---- The public suite ------------------------------------------------------------------

// Every image of every file decodes, and its visible pixels are what the
// reference frame shows at the image's place: that holds whatever the
// disposal of earlier frames, which is composed elsewhere. Images that cover
// the screen must also be transparent exactly where the reference is.
TEST(GifReader, SuiteFramesMatchTheirReferences) {
  ZM_SKIP_WITHOUT_TESTDATA("gif-test-suite");
  ASSERT_TRUE(std::filesystem::is_directory(kSuite)) << kSuite;
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(kSuite)) {
    if (entry.path().extension() != ".gif") continue;
    ++files;
    const std::string name = entry.path().stem().string();
    std::ifstream f(entry.path(), std::ios::binary);
    const Bytes data((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    TRead r(data);
    ASSERT_TRUE(r.First) << name;
    EXPECT_TRUE(r.Reader->InternalCheck(zmtest::MemoryStreamOf(data).get()));
    EXPECT_EQ(r.Reader->IsAnimated, name.rfind("animated", 0) == 0) << name;
    if (name.find("_loop") != std::string::npos) {
      EXPECT_EQ(r.Reader->LoopCount, 0) << name;
    }
    if (name.find("noloop") != std::string::npos) {
      EXPECT_EQ(r.Reader->LoopCount, 1) << name;
    }

    std::vector<TRef<TDirectBitmap>> frames{r.First};
    std::vector<TGifImageDescriptor> places{r.Reader->Descriptor};
    std::vector<std::int64_t> ends{r.Stream->GetPosition()};
    for (int guard = 0; guard < 100; ++guard) {
      TRef<TDirectBitmap> b;
      const TGifNext next = r.Reader->ReadNextImage(r.Stream.get(), b);
      if (next == TGifNext::End) break;
      ASSERT_EQ(next, TGifNext::Image) << name;
      frames.push_back(b);
      places.push_back(r.Reader->Descriptor);
      ends.push_back(r.Stream->GetPosition());
    }
    if (name.find("interlaced") != std::string::npos) {
      EXPECT_TRUE(r.Reader->Interlaced);
    }

    // Skipping stops where reading stopped.
    TRef<TFPReaderGif> skipper = MakeRef<TFPReaderGif>();
    TRef<TMemoryStream> s = zmtest::MemoryStreamOf(data);
    TRef<TDirectBitmap> first;
    skipper->InternalRead(s.get(), first);
    for (std::size_t i = 1; i < frames.size(); ++i) {
      ASSERT_TRUE(skipper->SkipNextImage(s.get())) << name << " " << i;
      EXPECT_EQ(s->GetPosition(), ends[i]) << name << " " << i;
    }
    EXPECT_FALSE(skipper->SkipNextImage(s.get()));

    int visibleInFile = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
      const std::string ref =
          name.rfind("static", 0) == 0 ? name + ".png" : "frames/" + name + "-" + std::to_string(i) + ".png";
      TPng png;
      ASSERT_TRUE(ReadPalettePng(kSuite / (name.rfind("static", 0) == 0 ? "frames/" + ref : ref), png)) << ref;
      TDirectBitmap* b = frames[i].get();
      const TGifImageDescriptor& d = places[i];
      const bool fullScreen = d.Left == 0 && d.Top == 0 && b->Width() == png.Width && b->Height() == png.Height;
      int mismatches = 0, visible = 0;
      for (int y = 0; y < b->Height(); ++y)
        for (int x = 0; x < b->Width(); ++x) {
          const int sx = d.Left + x, sy = d.Top + y;
          if (sx >= png.Width || sy >= png.Height) continue;
          const std::uint32_t got = b->Row32(y)[x];
          const std::uint32_t want = png.Pixels[std::size_t(sy * png.Width + sx)];
          if (got >> 24) {
            ++visible;
            mismatches += got != want;
          } else if (i == 0 && fullScreen) {
            mismatches += (want >> 24) != 0;
          }
        }
      EXPECT_EQ(mismatches, 0) << ref;
      visibleInFile += visible;
    }
    EXPECT_GT(visibleInFile, 0) << name;
  }
  EXPECT_EQ(files, 13);
}

// ---- Blocks, tables and transparency -----------------------------------------------------

TEST(GifReader, HeaderTablesAndExtensions) {
  {  // GIF87a without graphic control: background index 3 is transparent.
    TGifWriter g;
    g.Header(4, 1, 1, 3, "87a");
    g.Image(4, 1, {0, 1, 2, 3}, 2);
    g.Trailer();
    TRead r(g.B);
    ASSERT_TRUE(r.First);
    EXPECT_EQ(r.First->Row32(0)[0], TableColor(0));
    EXPECT_EQ(r.First->Row32(0)[3], TableColor(3) & 0x00FFFFFFu);
    EXPECT_FALSE(r.Reader->IsAnimated);
    EXPECT_EQ(r.Reader->LoopCount, 1);
    // A 4-entry table is padded to 256 with transparent black.
    EXPECT_EQ(r.Reader->GlobalPalette->Count, 256);
    EXPECT_EQ(r.Reader->GlobalPalette->Colors[4], 0u);
    EXPECT_EQ(r.Reader->GlobalPalette->Colors[255], 0u);
    EXPECT_EQ(r.Next(TGifNext::End), nullptr);
    // The palette gets its colour back before the next image.
    EXPECT_EQ(r.Reader->GlobalPalette->Colors[3], TableColor(3));
  }
  {  // A graphic control without the transparency bit overrides the background.
    TGifWriter g;
    g.Header(4, 1, 1, 3);
    g.Control(0, 10, 3);
    g.Image(4, 1, {0, 1, 2, 3}, 2);
    TRead r(g.B);
    ASSERT_TRUE(r.First);
    EXPECT_EQ(r.First->Row32(0)[3], TableColor(3));
  }
  // Loop counts: 0 stays 0, 65535 becomes 0, a still picture with the
  // extension is animated; another sub-block id keeps the count.
  for (auto [count, sub, want, animated] : {std::tuple{0, 1, 0, true}, {65535, 1, 0, true}, {7, 1, 7, true},
                                             {7, 2, 1, false}}) {
    TGifWriter g;
    g.Header(2, 1, 0);
    g.Loop(count, sub);
    g.B.insert(g.B.end(), {'!', 0xFE, 3, 'a', 'b', 'c', 0});                   // comment
    g.B.insert(g.B.end(), {'!', 0x01, 2, 9, 9, 1, 'x', 0});                    // plain text
    g.B.insert(g.B.end(), {'!', 0xFF, 11, 'X', 'X', 'X', 'X', 'X', 'X', 'X', 'X', 'X', 'X', 'X', 2, 5, 5, 0});
    g.Image(2, 1, {1, 0}, 2);
    g.Trailer();
    TRead r(g.B);
    ASSERT_TRUE(r.First) << count;
    EXPECT_EQ(r.Reader->LoopCount, want) << count;
    EXPECT_EQ(r.Reader->IsAnimated, animated) << count;
    EXPECT_TRUE(r.Reader->HasNetscapeExtension);
  }
  {  // A local table wins for its image only; a second image makes it animated.
    TGifWriter g;
    g.Header(2, 1, 0);
    g.Descriptor(0, 0, 2, 1, 0x80 | 0);
    for (int c : {0x10, 0x20, 0x30, 0x40, 0x50, 0x60}) g.U8(c);
    g.U8(2);
    g.SubBlocks(LzwEncode({1, 0}, 2));
    g.Control(1 | (2 << 2), 5, 1);
    g.Image(2, 1, {1, 0}, 2);
    g.Trailer();
    TRead r(g.B);
    ASSERT_TRUE(r.First);
    EXPECT_TRUE(r.Reader->IsAnimated);
    EXPECT_EQ(r.First->Row32(0)[0], 0xFF405060u);
    TRef<TDirectBitmap> second = r.Next();
    ASSERT_TRUE(second);
    EXPECT_EQ(r.Reader->Disposal(), 2);
    EXPECT_EQ(int(r.Reader->GraphicControl.DelayTime), 5);
    EXPECT_EQ(second->Row32(0)[0], TableColor(1) & 0x00FFFFFFu);
    EXPECT_EQ(second->Row32(0)[1], TableColor(0));
    r.Next(TGifNext::End);
  }
}

TEST(GifReader, InterlacedRowsLandInFourPasses) {
  Bytes pixels;
  for (int y = 0; y < 10; ++y) pixels.insert(pixels.end(), 3, std::uint8_t(y));
  TGifWriter g;
  g.Header(3, 10, 3);
  g.Image(3, 10, pixels, 4, 0x40);
  TRead r(g.B);
  ASSERT_TRUE(r.First);
  const int row[10] = {0, 8, 4, 2, 6, 1, 3, 5, 7, 9};
  for (int source = 0; source < 10; ++source) EXPECT_EQ(r.First->Row32(row[source])[2], TableColor(source));
}

// ---- LZW -------------------------------------------------------------------------------

TEST(GifReader, LzwCodeGrowthAndClearCodes) {
  // Noise fills the table to 4096 entries (12-bit codes, then a clear); a
  // ramp gives long strings; small minimum sizes and 1-byte sub-blocks cross
  // every code boundary.
  struct TCase {
    int W, H, MinSize, ClearEvery, BlockSize;
    bool DoubleClear;
    Bytes Pixels;
  };
  const std::vector<TCase> cases = {
      {160, 120, 8, 0, 255, false, Noise(160 * 120, 256, 1)},
      {97, 61, 8, 0, 255, false, Ramp(97 * 61, 256)},
      {64, 64, 2, 0, 1, false, Noise(64 * 64, 4, 2)},
      {64, 64, 2, 0, 7, false, Noise(64 * 64, 2, 3)},
      {50, 40, 5, 37, 255, true, Noise(50 * 40, 32, 4)},
      {50, 40, 8, 1, 3, false, Ramp(50 * 40, 200)},
      {300, 200, 8, 0, 255, false, Bytes(300 * 200, 7)},  // one colour: the longest chains
  };
  for (const TCase& c : cases) {
    TGifWriter g;
    g.Header(c.W, c.H, 7);
    g.Descriptor(0, 0, c.W, c.H);
    g.U8(c.MinSize);
    g.SubBlocks(LzwEncode(c.Pixels, c.MinSize, c.ClearEvery, c.DoubleClear), c.BlockSize);
    g.Image(2, 1, {5, 6});
    g.Trailer();
    TRead r(g.B);
    ASSERT_TRUE(r.First) << c.W << "x" << c.H;
    EXPECT_TRUE(PixelsMatch(r.First.get(), c.Pixels)) << c.W << "x" << c.H;
    // The stream stands behind the image: the next one reads.
    TRef<TDirectBitmap> next = r.Next();
    ASSERT_TRUE(next);
    EXPECT_TRUE(PixelsMatch(next.get(), {5, 6}));
  }
}

TEST(GifReader, DamagedCodesFailTheImageAndTheNextOneStillReads) {
  TLogToDebug log;
  const auto withNext = [](const Bytes& codes, int w, int h, bool terminate = true) {
    TGifWriter g;
    g.Header(8, 8, 1);
    g.Descriptor(0, 0, w, h);
    g.U8(2);
    g.SubBlocks(codes, 255, terminate);
    g.Image(2, 1, {1, 2}, 2);
    g.Trailer();
    return g.B;
  };
  // Clear 4, end 5, 3-bit codes. An end code before the last pixel.
  {
    TRead r(withNext(RawCodes({{4, 3}, {1, 3}, {1, 3}, {5, 3}}), 4, 1));
    EXPECT_FALSE(r.First);
    EXPECT_TRUE(PixelsMatch(r.Next().get(), {1, 2}));
  }
  // Codes far above the next free one: "code not yet in the table" pushes
  // the first code; a code straight after a clear must be a colour.
  {
    TRead r(withNext(RawCodes({{4, 3}, {6, 3}, {5, 3}}), 2, 1));
    EXPECT_FALSE(r.First);
    EXPECT_TRUE(PixelsMatch(r.Next().get(), {1, 2}));
  }
  // A self-referencing entry ends the image instead of looping.
  {
    TRead r(withNext(RawCodes({{4, 3}, {0, 3}, {7, 3}, {0, 3}, {7, 4}, {5, 4}}), 4, 2));
    EXPECT_FALSE(r.First);
    EXPECT_TRUE(log.Capture.Contains("GIF Warning: DecodeCircular! "));
    EXPECT_TRUE(PixelsMatch(r.Next().get(), {1, 2}));
  }
  // The data ends before the pixels do (no end code, terminator present).
  {
    TRead r(withNext(RawCodes({{4, 3}, {1, 3}, {1, 3}, {1, 3}, {1, 4}, {1, 4}, {1, 4}}), 8, 8));
    EXPECT_FALSE(r.First);
    EXPECT_TRUE(log.Capture.Contains("GIFWarning: DecodeTooFewBits! "));
    EXPECT_TRUE(PixelsMatch(r.Next().get(), {1, 2}));
  }
  // Double clears and a pixel code right before the end without a clear.
  {
    TRead r(withNext(RawCodes({{4, 3}, {4, 3}, {4, 3}, {2, 3}, {3, 3}, {5, 3}}), 2, 1));
    ASSERT_TRUE(r.First);
    EXPECT_TRUE(PixelsMatch(r.First.get(), {2, 3}));
  }
  // Extra codes after the last pixel are skipped with their sub-blocks.
  {
    TRead r(withNext(RawCodes({{4, 3}, {1, 3}, {2, 3}, {3, 3}, {3, 3}, {3, 3}, {5, 3}}), 2, 1));
    ASSERT_TRUE(r.First);
    EXPECT_TRUE(PixelsMatch(r.Next().get(), {1, 2}));
  }
}

TEST(GifReader, TruncatedAndHostileFilesFailCleanly) {
  TGifWriter g;
  g.Header(40, 30, 7);
  g.Loop(0);
  g.Control(1, 10, 0);
  g.Image(40, 30, Noise(1200, 256, 9));
  g.Control(0, 10, 0);
  g.Image(40, 30, Ramp(1200, 77), 8, 0x40);
  g.Trailer();
  // Every prefix: never a crash or a hang, and a full picture only when its
  // data is complete.
  for (std::size_t n = 0; n <= g.B.size(); ++n) {
    TRead r(Bytes(g.B.begin(), g.B.begin() + std::ptrdiff_t(n)));
    int images = r.First ? 1 : 0;
    for (int guard = 0; guard < 5; ++guard) {
      TRef<TDirectBitmap> b;
      const TGifNext next = r.Reader->ReadNextImage(r.Stream.get(), b);
      if (next == TGifNext::End) break;
      images += next == TGifNext::Image;
    }
    EXPECT_LE(images, 2);
    if (n == g.B.size()) {
      EXPECT_EQ(images, 2);
    }
  }

  // Not a GIF: the check says no; an image under a bad signature asserts.
  Bytes bad = g.B;
  bad[4] = '8';
  EXPECT_FALSE(MakeRef<TFPReaderGif>()->InternalCheck(zmtest::MemoryStreamOf(bad).get()));
  EXPECT_FALSE(MakeRef<TFPReaderGif>()->InternalCheck(zmtest::MemoryStreamOf(Bytes{'G', 'I'}).get()));
  EXPECT_TRUE(zmtest::Contains(zmtest::AssertionOf([&] { TRead r(bad); }), "Unknown/Unsupported GIF image type"));

  // A minimum code size of 12 cannot be decoded.
  TGifWriter big;
  big.Header(2, 1, 0);
  big.Descriptor(0, 0, 2, 1);
  big.B.insert(big.B.end(), {12, 2, 0, 0, 0});
  EXPECT_TRUE(zmtest::Contains(zmtest::AssertionOf([&] { TRead r(big.B); }), "ClearCode too large"));

  // A sub-block longer than the data.
  {
    TLogToDebug log;
    Bytes cut = g.B;
    cut.resize(g.B.size() / 3);
    cut.push_back(200);
    cut.insert(cut.end(), 10, 0x55);
    TRead r(cut);
    EXPECT_FALSE(r.First);
    EXPECT_TRUE(log.Capture.Contains("GIFWarning: OutOfData! "));
  }

  // Huge images are refused before memory is taken: beyond the bitmap
  // limit, or with more pixels than the data left could hold.
  EXPECT_FALSE(GifSizeAllowed(65535, 65535));
  EXPECT_FALSE(GifSizeAllowed(0, 10));
  EXPECT_TRUE(GifSizeAllowed(65535, 1));
  for (auto [w, h] : {std::pair{65535, 65535}, {20000, 20000}, {5000, 5000}, {0, 5}}) {
    TGifWriter huge;
    huge.Header(w, h, 1);
    huge.Descriptor(0, 0, w, h);
    huge.U8(2);
    huge.SubBlocks(LzwEncode(Bytes(64, 1), 2));
    huge.Trailer();
    TRead r(huge.B);
    EXPECT_FALSE(r.First) << w;
    EXPECT_TRUE(r.Reader->Pixels.empty()) << w;
  }
}

TEST(GifReader, SkippingLargeImagesAndProgress) {
  // Data far larger than the skip cache, with sub-blocks across its edge.
  TGifWriter g;
  g.Header(200, 150, 7);
  g.Image(10, 10, Ramp(100, 9));
  g.Image(200, 150, Noise(30000, 256, 5));
  g.Image(3, 1, {1, 2, 3});
  g.Trailer();
  TRead r(g.B);
  ASSERT_TRUE(r.First);
  ASSERT_TRUE(r.Reader->SkipNextImage(r.Stream.get()));
  TRef<TDirectBitmap> last = r.Next();
  ASSERT_TRUE(last);
  EXPECT_TRUE(PixelsMatch(last.get(), {1, 2, 3}));
  EXPECT_FALSE(r.Reader->SkipNextImage(r.Stream.get()));

  // A handler that says stop ends the read with no picture.
  for (int stopAt : {1, 2}) {
    TRef<TFPReaderGif> reader = MakeRef<TFPReaderGif>();
    int calls = 0;
    reader->OnProgress = [&](TFPCustomImageReader* sender, TFPImgProgressStage, std::uint8_t, bool, const TRect&,
                             const std::string&, bool& go) {
      EXPECT_EQ(sender, reader.get());
      go = ++calls < stopAt;
    };
    TRef<TDirectBitmap> b;
    reader->InternalRead(zmtest::MemoryStreamOf(g.B).get(), b);
    EXPECT_FALSE(b);
    EXPECT_EQ(calls, stopAt);
  }
}
