#include "ZmLib/Graphics/SysPixelFormat.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "tests/ZmLib/Graphics/GraphicsTestUtil.h"

using namespace zm;

namespace {

using Bytes = std::vector<std::uint8_t>;

struct TShape {
  std::int32_t Bits, BytesPerPixel;
  std::uint8_t ColorModel;
  bool Packed, Alpha;
};

TShape ShapeOf(const char* name) {
  TPixelFormat* f = FindPixelFormat(name);
  return {f->BitsPerPixel, f->BytesPerPixel, f->ColorModel, f->Packed != 0, f->HasAlpha != 0};
}

void ExpectShape(const char* name, TShape want) {
  TShape got = ShapeOf(name);
  EXPECT_EQ(got.Bits, want.Bits) << name;
  EXPECT_EQ(got.BytesPerPixel, want.BytesPerPixel) << name;
  EXPECT_EQ(got.ColorModel, want.ColorModel) << name;
  EXPECT_EQ(got.Packed, want.Packed) << name;
  EXPECT_EQ(got.Alpha, want.Alpha) << name;
}

Bytes Convert(const char* target, const char* source, const Bytes& in) {
  TPixelFormat* t = FindPixelFormat(target);
  TPixelFormat* s = FindPixelFormat(source);
  const std::size_t n = in.size() / std::size_t(s->BytesPerPixel);
  Bytes out(n * std::size_t(t->BytesPerPixel), 0xEE);
  FindPixelConverter(t, s)->Convert8(out.data(), 0, in.data(), 0, std::int32_t(n));
  return out;
}

// ---- An independent model of the standard formats and what converting means ----

enum TKind { X, R, G, B, A };
struct TField {
  TKind Kind;
  int Shift, Width;
};

const std::map<std::string, std::vector<TField>>& Layouts() {
  static const std::map<std::string, std::vector<TField>> m = {
      {"Y8", {{A, 0, 8}}},
      {"A8", {{A, 0, 8}}},
      {"R8G8B8", {{B, 0, 8}, {G, 8, 8}, {R, 16, 8}}},
      {"B8G8R8", {{R, 0, 8}, {G, 8, 8}, {B, 16, 8}}},
      {"A8R8G8B8", {{B, 0, 8}, {G, 8, 8}, {R, 16, 8}, {A, 24, 8}}},
      {"A8r8g8b8", {{B, 0, 8}, {G, 8, 8}, {R, 16, 8}, {A, 24, 8}}},
      {"A8B8G8R8", {{R, 0, 8}, {G, 8, 8}, {B, 16, 8}, {A, 24, 8}}},
      {"A8b8g8r8", {{R, 0, 8}, {G, 8, 8}, {B, 16, 8}, {A, 24, 8}}},
      {"X8B8G8R8", {{R, 0, 8}, {G, 8, 8}, {B, 16, 8}, {X, 24, 8}}},
      {"B5G6R5", {{R, 0, 5}, {G, 5, 6}, {B, 11, 5}}},
      {"B5G5R5X1", {{X, 0, 1}, {R, 1, 5}, {G, 6, 5}, {B, 11, 5}}},
      {"R5G6B5", {{B, 0, 5}, {G, 5, 6}, {R, 11, 5}}},
      {"X1R5G5B5", {{B, 0, 5}, {G, 5, 5}, {R, 10, 5}, {X, 15, 1}}},
  };
  return m;
}

int Size(const std::string& f) { return f.size() <= 2 ? 1 : f.size() == 6 && f[1] == '8' ? 3 : (f[1] == '8' ? 4 : 2); }

std::uint32_t Word(const std::uint8_t* p, int n) {
  std::uint32_t w = 0;
  for (int i = n - 1; i >= 0; --i) w = w << 8 | p[i];
  return w;
}

std::uint32_t Rescale(std::uint32_t v, int from, int to) {
  if (from == to) return v;
  if (from > to) return v >> (from - to);
  return v == 0 ? 0 : (v << (to - from)) | ((1u << (to - from)) - 1);
}

// One pixel of Source as the pixel of Target the system promises.
Bytes Expected(const std::string& target, const std::string& source, const std::uint8_t* px) {
  const int tn = Size(target), sn = Size(source);
  const std::uint32_t w = Word(px, sn);
  Bytes out(std::size_t(tn), 0);
  auto put = [&](std::uint32_t word) {
    for (int i = 0; i < tn; ++i) out[std::size_t(i)] = std::uint8_t(word >> (8 * i));
  };
  if (target == source) return Bytes(px, px + sn);
  if ((source == "A8R8G8B8" && target == "A8r8g8b8") || (source == "A8B8G8R8" && target == "A8b8g8r8")) {
    const unsigned a = px[3];
    if (a == 0) return Bytes(4, 0);
    if (a == 255) return Bytes(px, px + 4);
    return Bytes{std::uint8_t(px[0] * a >> 8), std::uint8_t(px[1] * a >> 8), std::uint8_t(px[2] * a >> 8),
                 std::uint8_t(a)};
  }
  if (source == "R5G6B5" && target == "R8G8B8")
    return Bytes{std::uint8_t((w & 31) * 8), std::uint8_t(((w >> 5) & 63) * 4), std::uint8_t((w >> 8) & 0xF8)};
  if (source == "X1R5G5B5" && target == "R8G8B8")
    return Bytes{std::uint8_t((w & 31) * 8), std::uint8_t(((w >> 5) & 31) * 8), std::uint8_t(((w >> 10) & 31) * 8)};

  // Channel values by kind (value, width); a grey source to the colour
  // formats it is registered for stands for red, green and blue.
  std::uint32_t value[5] = {}, width[5] = {};
  for (const TField& f : Layouts().at(source))
    if (f.Kind != X) {
      value[f.Kind] = (w >> f.Shift) & ((1u << f.Width) - 1);
      width[f.Kind] = std::uint32_t(f.Width);
    }
  const bool grey = (source == "A8" || source == "Y8") &&
                    (target == "B8G8R8" || target == "R8G8B8" || target == "B5G6R5" || target == "B5G5R5X1");
  if (grey) {
    for (int k : {R, G, B}) value[k] = value[A], width[k] = 8;
  }
  std::uint32_t word = 0;
  for (const TField& f : Layouts().at(target)) {
    std::uint32_t v = 0;
    if (f.Kind == A && !width[A]) v = (1u << f.Width) - 1;
    else if (f.Kind != X && width[f.Kind]) v = Rescale(value[f.Kind], int(width[f.Kind]), f.Width);
    word |= v << f.Shift;
  }
  put(word);
  return out;
}

// Ten pixels of a format: all zero, all ones, the alpha edge cases, then a spread.
Bytes Sample(const std::string& f) {
  const int n = Size(f);
  static const std::uint8_t spread[] = {0, 255, 128, 1, 254, 200, 100, 50, 127, 64, 31, 32};
  Bytes b;
  for (int p = 0; p < 10; ++p)
    for (int k = 0; k < n; ++k) b.push_back(spread[std::size_t(p * 7 + k * 5) % sizeof(spread)]);
  auto set = [&](int p, Bytes v) {
    for (int k = 0; k < n; ++k) b[std::size_t(p * n + k)] = v[std::size_t(k) % v.size()];
  };
  set(0, {0});
  set(1, {255});
  if (n == 4) {
    set(2, {200, 100, 50, 128});
    set(3, {10, 20, 30, 0});
    set(4, {10, 20, 30, 255});
    set(5, {255, 255, 255, 1});
  }
  return b;
}

}  // namespace

TEST(PixelFormat, NamesAndTheirLayouts) {
  ExpectShape("A8R8G8B8", {32, 4, cmColorAlpha, false, true});
  ExpectShape("R8G8B8", {24, 3, cmColor, false, false});
  ExpectShape("X8B8G8R8", {32, 4, cmColor, false, false});
  ExpectShape("B5G6R5", {16, 2, cmColor, true, false});
  ExpectShape("B5G5R5X1", {16, 2, cmColor, true, false});  // X clears, then its 1 bit sets again
  ExpectShape("X8R5G6B5", {24, 3, cmColor, false, false});  // an X of 8 bits on top clears it
  ExpectShape("Y8", {8, 1, cmNoColor, false, true});
  ExpectShape("A4", {4, 1, cmNoColor, true, true});
  ExpectShape("", {0, 1, cmNoColor, false, false});
  ExpectShape("hello", {0, 1, cmNoColor, false, false});  // no channel letters
  ExpectShape("rgb", {0, 1, cmNoColor, false, false});    // letters without widths
  ExpectShape("R8 G8-B8", {24, 3, cmColor, false, false});
  ExpectShape("8R8", {8, 1, cmColor, false, false});  // digits after no letter are skipped
  ExpectShape("R0G8B8", {16, 2, cmColor, false, false});
  ExpectShape("R99999999999999", {kMaxChannelWidth, kMaxChannelWidth / 8, cmColor, false, false});

  auto* common = dynamic_cast<TCommonPixelFormat*>(FindPixelFormat("B5G5R5X1"));
  ASSERT_NE(common, nullptr);
  EXPECT_EQ(common->Channels, (std::vector<TPixelChannel>{{ckX, 1}, {ckR, 5}, {ckG, 5}, {ckB, 5}}));
  EXPECT_EQ(ParsePixelChannels("A8b8g8r8"), (std::vector<TPixelChannel>{{ckR, 8}, {ckG, 8}, {ckB, 8}, {ckA, 8}}));
  EXPECT_EQ(ParsePixelChannels("Y8"), (std::vector<TPixelChannel>{{ckA, 8}}));
}

TEST(PixelFormat, RegistryKeepsOneObjectPerName) {
  TPixelFormat* a = FindPixelFormat(PF_A8R8G8B8);
  EXPECT_EQ(a, FindPixelFormat("A8R8G8B8"));
  EXPECT_EQ(a, pfA8R8G8B8);
  EXPECT_EQ(a, PixelFormatByName(PF_A8R8G8B8));  // the hook is the registry
  EXPECT_EQ(a->Premultiplied, 0);
  TPixelFormat* p = FindPixelFormat(PF_A8r8g8b8);
  EXPECT_NE(p, a);
  EXPECT_EQ(p, pfA8r8g8b8);
  EXPECT_EQ(p->Premultiplied, 1);
  EXPECT_EQ(pfA8b8g8r8->Premultiplied, 1);
  EXPECT_EQ(FindPixelFormat("A16r16g16b16")->Premultiplied, 0);  // the parser never sets it
  EXPECT_EQ(p->Name, TByteString("A8r8g8b8"));
  // Names are bytes: names that differ only in bad UTF-8 are different formats.
  TPixelFormat* odd1 = FindPixelFormat(TByteString("R8\xFF"));
  TPixelFormat* odd2 = FindPixelFormat(TByteString("R8\xFE"));
  EXPECT_NE(odd1, odd2);
  EXPECT_EQ(odd2->Name, TByteString("R8\xFE"));
}

TEST(PixelConverter, ClassesChosenForEachPair) {
  auto conv = [](const char* t, const char* s) { return FindPixelConverter(FindPixelFormat(t), FindPixelFormat(s)); };
  EXPECT_NE(dynamic_cast<TDirectConvertor*>(conv("A8R8G8B8", "A8R8G8B8")), nullptr);
  EXPECT_NE(dynamic_cast<TDirectConvertor*>(conv("B5G6R5", "B5G6R5")), nullptr);
  EXPECT_NE(dynamic_cast<TBitConvertor*>(conv("A8R8G8B8", "B5G6R5")), nullptr);
  EXPECT_NE(dynamic_cast<TBitConvertor*>(conv("B5G6R5", "X8B8G8R8")), nullptr);
  EXPECT_NE(dynamic_cast<TByteConvertor*>(conv("A8B8G8R8", "A8R8G8B8")), nullptr);
  EXPECT_NE(dynamic_cast<TAYtoRGBConvertor*>(conv("B5G5R5X1", "Y8")), nullptr);
  EXPECT_NE(dynamic_cast<TRGBToRGBA*>(conv("A8r8g8b8", "R8G8B8")), nullptr);
  EXPECT_NE(dynamic_cast<TRGBAToRGB*>(conv("B8G8R8", "A8B8G8R8")), nullptr);
  EXPECT_NE(dynamic_cast<TR5G6B5ToBGR8*>(conv("R8G8B8", "R5G6B5")), nullptr);
  EXPECT_NE(dynamic_cast<TX1R5G5B5ToBGR8*>(conv("R8G8B8", "X1R5G5B5")), nullptr);
  EXPECT_NE(dynamic_cast<TBGRAToPremulBGRA*>(conv("A8b8g8r8", "A8B8G8R8")), nullptr);
  EXPECT_EQ(conv("A8R8G8B8", "B5G6R5"), conv("A8R8G8B8", "B5G6R5"));  // made once
  EXPECT_EQ(PixelConverter(pfA8R8G8B8, pfB5G6R5), conv("A8R8G8B8", "B5G6R5"));
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

// Every pair of the formats registered at start-up, through the converter
// itself and through both kinds of bitmap.
TEST(PixelConverter, EveryRegisteredPair) {
  for (const auto& [sname, sl] : Layouts()) {
    const Bytes in = Sample(sname);
    const int sn = Size(sname);
    ASSERT_EQ(FindPixelFormat(sname.c_str())->BytesPerPixel, sn) << sname;
    auto srcBitmap = zmtest::BitmapOf(sname.c_str(), 5, 2, in);
    for (const auto& [tname, tl] : Layouts()) {
      Bytes want;
      for (std::size_t p = 0; p < in.size(); p += std::size_t(sn)) {
        Bytes px = Expected(tname, sname, &in[p]);
        want.insert(want.end(), px.begin(), px.end());
      }
      EXPECT_EQ(Convert(tname.c_str(), sname.c_str(), in), want) << sname << " -> " << tname;

      TPixelFormat* tf = FindPixelFormat(tname.c_str());
      TRef<TBitmap> sys = ConvertBitmap(srcBitmap.get(), tf, TSysBitmap::StaticClass());
      ASSERT_TRUE(sys);
      EXPECT_EQ(zmtest::BytesOf(*RefCast<TSysBitmap>(sys)), want) << sname << " -> " << tname << " (TSysBitmap)";

      TRef<TBitmap> direct = ConvertBitmap(srcBitmap.get(), tf, TDirectBitmap::StaticClass());
      ASSERT_TRUE(RefCast<TDirectBitmap>(direct));
      Bytes got;
      for (std::int32_t y = 0; y < 2; ++y)
        got.insert(got.end(), RefCast<TDirectBitmap>(direct)->ScanLine(y),
                   RefCast<TDirectBitmap>(direct)->ScanLine(y) + 5 * tf->BytesPerPixel);
      EXPECT_EQ(got, want) << sname << " -> " << tname << " (TDirectBitmap)";
    }
  }
}

TEST(PixelConverter, RowOperationsAddressTargetAndSource) {
  TPixelConverter* c = FindPixelConverter(pfA8R8G8B8, pfR8G8B8);
  const Bytes src = {0, 0, 0, 1, 2, 3, 4, 5, 6};
  std::uint32_t row[4] = {0, 0, 0, 0};
  c->Convert32(row, 1, src.data(), 3, 2);  // pixels 1 and 2 of the source into columns 1 and 2
  EXPECT_EQ(row[0], 0u);
  EXPECT_EQ(row[1], 0xFF030201u);
  EXPECT_EQ(row[2], 0xFF060504u);
  EXPECT_EQ(row[3], 0u);
  TColor24 row24[2] = {};
  FindPixelConverter(pfR8G8B8, pfA8R8G8B8)->Convert24(row24, 1, src.data(), 1, 1);
  EXPECT_EQ(row24[1], (TColor24{0, 0, 1}));
  std::uint16_t row16[2] = {1, 1};
  FindPixelConverter(pfB5G6R5, pfA8R8G8B8)->Convert16(row16, 0, src.data(), 0, 0);  // nothing for no pixels
  EXPECT_EQ(row16[0], 1);
  FindPixelConverter(pfB5G6R5, pfA8R8G8B8)->Convert16(row16, 0, src.data(), 0, -3);
  EXPECT_EQ(row16[0], 1);
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
  Bytes wide = Convert("R8->G8", "Q", {7});  // "Q" has no channels: 1 byte; the target 2
  Bytes narrow = Convert("G8", "Q->R8", {7});
  EXPECT_EQ(wide, (Bytes{0, 0}));
  EXPECT_EQ(narrow, Bytes{0});
  EXPECT_NE(FindPixelConverter(FindPixelFormat("R8->G8"), FindPixelFormat("Q")),
            FindPixelConverter(FindPixelFormat("G8"), FindPixelFormat("Q->R8")));
  TPixelFormat* f = FindPixelFormat("Q->R8->G8");
  EXPECT_EQ(f->Name, TByteString("Q->R8->G8"));
  EXPECT_EQ(f->BitsPerPixel, 16);
}

// Odd names make odd formats; converting between any two of them stays
// inside the pixels it was given (the buffers are exactly as long).
TEST(PixelConverter, OddFormatsConvertSafely) {
  const char* names[] = {"",       "hello",   "R0G8B8",  "R24G1",        "X8R5G6B5",        "A4",
                         "R16G16B16A16", "R12G12B12", "R64G64", "R4096G4096", "A1R2G3B4X70", "Y8", "B5G6R5",
                         "A8R8G8B8"};
  for (const char* s : names)
    for (const char* t : names) {
      TPixelFormat* sf = FindPixelFormat(s);
      TPixelFormat* tf = FindPixelFormat(t);
      for (std::int32_t n : {1, 3}) {
        Bytes in(std::size_t(sf->BytesPerPixel * n), 0xA5);
        Bytes out(std::size_t(tf->BytesPerPixel * n), 0);
        FindPixelConverter(tf, sf)->Convert8(out.data(), 0, in.data(), 0, n);
      }
    }
  // 36-bit pixels take 5 bytes; 12-bit channels keep their high 8 bits.
  EXPECT_EQ(Convert("R8G8B8", "R12G12B12", {0xFF, 0xFF, 0xFF, 0x0F, 0x00, 0, 0, 0, 0, 0x08}),
            (Bytes{0xFF, 0xFF, 0x00, 0x00, 0x00, 0x80}));
  // A channel wider than a table indexes it by its high bits.
  EXPECT_EQ(Convert("R8G8B8", "R24G1", {0xDF, 0x9B, 0x57, 0x01}), (Bytes{0x00, 0xFF, 0xAB}));
  // Unpacked formats move channel N to byte N; bytes no channel reaches are 0.
  EXPECT_EQ(Convert("R16G16B16", "A8R8G8B8", {0x12, 0x34, 0x56, 0}), (Bytes{0x12, 0x34, 0x56, 0, 0, 0}));
}
