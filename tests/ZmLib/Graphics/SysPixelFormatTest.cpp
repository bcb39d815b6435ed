#include "ZmLib/Graphics/SysPixelFormat.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "tests/ZmLib/Graphics/GraphicsTestUtil.h"

using namespace zm;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Convert(const char* target, const char* source, const Bytes& in) {
  TPixelFormat* t = FindPixelFormat(target);
  TPixelFormat* s = FindPixelFormat(source);
  const std::size_t n = in.size() / std::size_t(s->BytesPerPixel);
  Bytes out(n * std::size_t(t->BytesPerPixel), 0xEE);
  FindPixelConverter(t, s)->Convert8(out.data(), 0, in.data(), 0, std::int32_t(n));
  return out;
}

}  // namespace

TEST(PixelFormat, NamesAndTheirLayouts) {
  struct TShape {
    const char* Name;
    std::int32_t Bits, BytesPerPixel;
    std::uint8_t ColorModel;
    bool Packed, Alpha;
  };
  for (const TShape& s : {TShape{"A8R8G8B8", 32, 4, cmColorAlpha, false, true},
                          TShape{"X8B8G8R8", 32, 4, cmColor, false, false},
                          TShape{"B5G6R5", 16, 2, cmColor, true, false},
                          TShape{"B5G5R5X1", 16, 2, cmColor, true, false},  // X clears, then its 1 bit sets again
                          TShape{"X8R5G6B5", 24, 3, cmColor, false, false},  // an X of 8 bits on top clears it
                          TShape{"Y8", 8, 1, cmNoColor, false, true},
                          TShape{"A4", 4, 1, cmNoColor, true, true},
                          TShape{"", 0, 1, cmNoColor, false, false},
                          TShape{"rgb", 0, 1, cmNoColor, false, false},  // letters without widths
                          TShape{"R8 G8-B8", 24, 3, cmColor, false, false},
                          TShape{"8R8", 8, 1, cmColor, false, false},  // digits after no letter are skipped
                          TShape{"R99999999999999", kMaxChannelWidth, kMaxChannelWidth / 8, cmColor, false, false}}) {
    TPixelFormat* f = FindPixelFormat(s.Name);
    EXPECT_EQ(std::make_tuple(f->BitsPerPixel, f->BytesPerPixel, f->ColorModel, f->Packed != 0, f->HasAlpha != 0),
              std::make_tuple(s.Bits, s.BytesPerPixel, s.ColorModel, s.Packed, s.Alpha))
        << s.Name;
  }
  EXPECT_EQ(ParsePixelChannels("A8b8g8r8"), (std::vector<TPixelChannel>{{ckR, 8}, {ckG, 8}, {ckB, 8}, {ckA, 8}}));
}

TEST(PixelFormat, RegistryKeepsOneObjectPerName) {
  TPixelFormat* a = FindPixelFormat(PF_A8R8G8B8);
  EXPECT_EQ(a, FindPixelFormat("A8R8G8B8"));
  EXPECT_NE(FindPixelFormat(PF_A8r8g8b8), a);
  EXPECT_EQ(FindPixelFormat(PF_A8r8g8b8)->Premultiplied, 1);
  EXPECT_EQ(FindPixelFormat("A16r16g16b16")->Premultiplied, 0);  // the parser never sets it
  // Names are bytes: names that differ only in bad UTF-8 are different formats.
  EXPECT_NE(FindPixelFormat(TByteString("R8\xFF")), FindPixelFormat(TByteString("R8\xFE")));
  EXPECT_EQ(FindPixelFormat(TByteString("R8\xFE"))->Name, TByteString("R8\xFE"));
}

TEST(PixelConverter, ClassesChosenForEachPair) {
  auto conv = [](const char* t, const char* s) { return FindPixelConverter(FindPixelFormat(t), FindPixelFormat(s)); };
  EXPECT_NE(dynamic_cast<TDirectConvertor*>(conv("B5G6R5", "B5G6R5")), nullptr);
  EXPECT_NE(dynamic_cast<TBitConvertor*>(conv("A8R8G8B8", "B5G6R5")), nullptr);
  EXPECT_NE(dynamic_cast<TByteConvertor*>(conv("A8B8G8R8", "A8R8G8B8")), nullptr);
  EXPECT_NE(dynamic_cast<TAYtoRGBConvertor*>(conv("B5G5R5X1", "Y8")), nullptr);
  EXPECT_NE(dynamic_cast<TBGRAToPremulBGRA*>(conv("A8b8g8r8", "A8B8G8R8")), nullptr);
  EXPECT_EQ(conv("A8R8G8B8", "B5G6R5"), conv("A8R8G8B8", "B5G6R5"));  // made once
  EXPECT_THROW(FindPixelConverter(nullptr, pfA8), EAbort);
}

TEST(PixelConverter, ExactValuesOfTheRules) {
  // 5 bits to 8: 31 -> 255, 1 -> 15; 6 bits: 63 -> 255. B5G6R5 keeps red lowest.
  EXPECT_EQ(Convert("A8R8G8B8", "B5G6R5", {0xFF, 0xFF, 0x1F, 0x00, 0x01, 0x00, 0x20, 0x00}),
            (Bytes{255, 255, 255, 255, 0, 0, 255, 255, 0, 0, 15, 255, 0, 7, 0, 255}));
  EXPECT_EQ(Convert("A8R8G8B8", "R5G6B5", {0x1F, 0x00, 0xE0, 0x07}), (Bytes{255, 0, 0, 255, 0, 255, 0, 255}));
  // 8 bits to fewer keep the high bits.
  EXPECT_EQ(Convert("B5G6R5", "A8R8G8B8", {0xFF, 0x80, 0x07, 0x00}), Bytes({0x00, 0xFC}));
  // The fixed 16-bit readers shift without filling the low bits.
  EXPECT_EQ(Convert("R8G8B8", "R5G6B5", {0xFF, 0xFF}), (Bytes{248, 252, 248}));
  EXPECT_EQ(Convert("R8G8B8", "X1R5G5B5", {0xFF, 0xFF, 0x1F, 0x7C}), (Bytes{248, 248, 248, 248, 0, 248}));
  // Missing alpha is opaque, missing colour black, X carries nothing.
  EXPECT_EQ(Convert("A8R8G8B8", "Y8", {77}), (Bytes{0, 0, 0, 77}));
  EXPECT_EQ(Convert("A8B8G8R8", "R8G8B8", {1, 2, 3}), (Bytes{3, 2, 1, 255}));
  EXPECT_EQ(Convert("X8B8G8R8", "A8R8G8B8", {1, 2, 3, 4}), (Bytes{3, 2, 1, 0}));
  EXPECT_EQ(Convert("A8R8G8B8", "X8B8G8R8", {1, 2, 3, 4}), (Bytes{3, 2, 1, 255}));
  // Grey to the 16-bit formats is packed into every colour channel.
  EXPECT_EQ(Convert("B5G6R5", "A8", {255, 0x80}), (Bytes{0xFF, 0xFF, 0x10, 0x84}));
  EXPECT_EQ(Convert("B5G5R5X1", "Y8", {255, 0x80}), (Bytes{0xFE, 0xFF, 0x20, 0x84}));
  EXPECT_EQ(Convert("R8G8B8", "Y8", {9, 200}), (Bytes{9, 9, 9, 200, 200, 200}));
  // Straight to premultiplied shifts by 8; alpha 0 clears the pixel.
  EXPECT_EQ(Convert("A8r8g8b8", "A8R8G8B8", {200, 100, 50, 128, 9, 9, 9, 0, 9, 8, 7, 255}),
            (Bytes{100, 50, 25, 128, 0, 0, 0, 0, 9, 8, 7, 255}));
  // Between the two premultiplied forms the colours are only moved.
  EXPECT_EQ(Convert("A8b8g8r8", "A8r8g8b8", {1, 2, 3, 4}), (Bytes{3, 2, 1, 4}));
}

// Every pair of the formats registered at start-up: converting whole bitmaps
// (either kind) gives exactly what the converter gives for the pixels.
TEST(PixelConverter, BitmapsConvertLikeTheirPixels) {
  const char* names[] = {"Y8",       "A8",       "R8G8B8",   "B8G8R8", "A8R8G8B8", "A8r8g8b8", "A8B8G8R8",
                         "A8b8g8r8", "X8B8G8R8", "B5G6R5",   "B5G5R5X1", "R5G6B5", "X1R5G5B5"};
  for (const char* sname : names) {
    const std::size_t sn = std::size_t(FindPixelFormat(sname)->BytesPerPixel);
    Bytes in;
    for (std::size_t i = 0; i < 10 * sn; ++i) in.push_back(std::uint8_t(i * 37 + 1));
    auto srcBitmap = zmtest::BitmapOf(sname, 5, 2, in);
    for (const char* tname : names) {
      const Bytes want = Convert(tname, sname, in);
      TPixelFormat* tf = FindPixelFormat(tname);
      TRef<TBitmap> sys = ConvertBitmap(srcBitmap.get(), tf, TSysBitmap::StaticClass());
      EXPECT_EQ(zmtest::BytesOf(*RefCast<TSysBitmap>(sys)), want) << sname << " -> " << tname;
      auto direct = RefCast<TDirectBitmap>(ConvertBitmap(srcBitmap.get(), tf, TDirectBitmap::StaticClass()));
      ASSERT_TRUE(direct);
      Bytes got;
      for (std::int32_t y = 0; y < 2; ++y)
        got.insert(got.end(), direct->ScanLine(y), direct->ScanLine(y) + 5 * tf->BytesPerPixel);
      EXPECT_EQ(got, want) << sname << " -> " << tname << " (TDirectBitmap)";
    }
  }
}

// Widening 24-bit runs to 32 bits: into separate memory (also right after
// or before the source), and in place from the start of a shared buffer;
// every length, so the last pixel never reads past its run.
TEST(PixelConverter, WideningRunsApartAndInPlace) {
  TPixelConverter* conv = FindPixelConverter(FindPixelFormat("A8R8G8B8"), FindPixelFormat("R8G8B8"));
  ASSERT_TRUE(conv);
  for (std::int32_t n = 1; n <= 9; ++n) {
    Bytes in(std::size_t(n) * 3);
    for (std::size_t i = 0; i < in.size(); ++i) in[i] = std::uint8_t(i * 29 + 3);
    Bytes want;
    for (std::int32_t p = 0; p < n; ++p) want.insert(want.end(), {in[p * 3], in[p * 3 + 1], in[p * 3 + 2], 255});
    const std::size_t wide = std::size_t(n) * 4;
    // Source first, target right behind it; then target first.
    Bytes buffer(in.size() + wide, 0xEE);
    std::copy(in.begin(), in.end(), buffer.begin());
    conv->Convert8(buffer.data() + in.size(), 0, buffer.data(), 0, n);
    EXPECT_EQ(Bytes(buffer.begin() + std::ptrdiff_t(in.size()), buffer.end()), want) << n;
    std::fill(buffer.begin(), buffer.end(), 0xEE);
    std::copy(in.begin(), in.end(), buffer.begin() + std::ptrdiff_t(wide));
    conv->Convert8(buffer.data(), 0, buffer.data() + wide, 0, n);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + std::ptrdiff_t(wide)), want) << n;
    // In place: the run is widened where it stands.
    Bytes place(wide, 0xEE);
    std::copy(in.begin(), in.end(), place.begin());
    conv->Convert8(place.data(), 0, place.data(), 0, n);
    EXPECT_EQ(place, want) << n;
  }
}

namespace {
int gDisposed = 0;
class TCountingConvertor : public TConvertOperator {
public:
  explicit TCountingConvertor(std::uint8_t v) : V(v) {}
  void Dispose() override {
    ++gDisposed;
    TConvertOperator::Dispose();
  }
  void Convert(void* target, const void*, std::int32_t count) const override {
    std::memset(target, V, std::size_t(count));
  }
  std::uint8_t V;
};
}  // namespace

TEST(PixelConverter, RegisteringReplacesAndFrees) {
  TPixelFormat* t = FindPixelFormat("Y8 registered");
  TPixelFormat* s = FindPixelFormat("A8 registered");
  gDisposed = 0;
  RegisterPixelConverter(t, s, MakeRef<TCountingConvertor>(1).Detach());
  EXPECT_EQ(Convert("Y8 registered", "A8 registered", {9}), Bytes{1});
  RegisterPixelConverter(t, s, MakeRef<TCountingConvertor>(2).Detach());
  EXPECT_EQ(gDisposed, 1);
  EXPECT_EQ(Convert("Y8 registered", "A8 registered", {9}), Bytes{2});
  TPixelConverter* same = FindPixelConverter(t, s);
  RegisterPixelConverter(t, s, same);  // the same object again: kept
  EXPECT_EQ(gDisposed, 1);
  EXPECT_EQ(FindPixelConverter(t, s), same);
}

// Names containing "->" make equal key texts for different pairs, and a
// format name equal to a pair's key: each still finds its own object.
TEST(PixelConverter, KeyTextsThatCollide) {
  EXPECT_EQ(Convert("R8->G8", "Q", {7}), (Bytes{0, 0}));  // "Q" has no channels: 1 byte; the target 2
  EXPECT_EQ(Convert("G8", "Q->R8", {7}), Bytes{0});
  EXPECT_NE(FindPixelConverter(FindPixelFormat("R8->G8"), FindPixelFormat("Q")),
            FindPixelConverter(FindPixelFormat("G8"), FindPixelFormat("Q->R8")));
  EXPECT_EQ(FindPixelFormat("Q->R8->G8")->BitsPerPixel, 16);
}

// Odd names make odd formats; converting between any two of them stays
// inside the pixels it was given (the buffers are exactly as long).
TEST(PixelConverter, OddFormatsConvertSafely) {
  const char* names[] = {"",       "hello",   "R0G8B8",  "R24G1",        "X8R5G6B5",        "A4",
                         "R16G16B16A16", "R12G12B12", "R64G64", "R4096G4096", "A1R2G3B4X70", "Y8", "B5G6R5",
                         "A8R8G8B8"};
  for (const char* s : names)
    for (const char* t : names) Convert(t, s, Bytes(std::size_t(FindPixelFormat(s)->BytesPerPixel * 3), 0xA5));
  // 36-bit pixels take 5 bytes; 12-bit channels keep their high 8 bits.
  EXPECT_EQ(Convert("R8G8B8", "R12G12B12", {0xFF, 0xFF, 0xFF, 0x0F, 0x00, 0, 0, 0, 0, 0x08}),
            (Bytes{0xFF, 0xFF, 0x00, 0x00, 0x00, 0x80}));
  // A channel wider than a table indexes it by its high bits.
  EXPECT_EQ(Convert("R8G8B8", "R24G1", {0xDF, 0x9B, 0x57, 0x01}), (Bytes{0x00, 0xFF, 0xAB}));
  // Unpacked formats move channel N to byte N; bytes no channel reaches are 0.
  EXPECT_EQ(Convert("R16G16B16", "A8R8G8B8", {0x12, 0x34, 0x56, 0}), (Bytes{0x12, 0x34, 0x56, 0, 0, 0}));
}
