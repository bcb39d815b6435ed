#include "ZmLib/Graphics/zmColorTypes.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "ZmLib/Graphics/zmColorHSL.h"
#include "tests/ZmLib/Graphics/GraphicsTestUtil.h"

using namespace zm;
using Bytes = std::vector<std::uint8_t>;

namespace {

TColor32 C(int r, int g, int b, int a) { return MakeColor32(std::uint8_t(r), std::uint8_t(g), std::uint8_t(b), std::uint8_t(a)); }

TColor32 Parse(const char* text) { return StrToColor32Def(text, C(1, 2, 3, 4)); }

// A load callback that answers false from its n-th call on.
class TStopAfter : public TDefCallBack {
public:
  explicit TStopAfter(int n) : left_(n) {}
  bool Call() override { return --left_ > 0; }

private:
  int left_;
};

}  // namespace

TEST(ColorText, HexWindowsValuesAndComponentLists) {
  EXPECT_EQ(Parse("#ff8000"), C(255, 128, 0, 255));
  EXPECT_EQ(Parse("#FF8000,128"), C(255, 128, 0, 128));
  EXPECT_EQ(Parse("#FF8000,300"), C(255, 128, 0, 255));  // alpha cut to 255
  EXPECT_EQ(Parse("#FF8000,#80"), C(255, 128, 0, 128));  // a hex alpha
  EXPECT_EQ(Parse("#11223344"), C(0x22, 0x33, 0x44, 255));  // the top byte is not the alpha
  // A bare number is a Windows colour value 0x00BBGGRR.
  EXPECT_EQ(Parse("255"), C(255, 0, 0, 255));
  EXPECT_EQ(Parse("  +65280"), C(0, 255, 0, 255));
  EXPECT_EQ(Parse("10, 20, 30,40"), C(10, 20, 30, 40));
  EXPECT_EQ(Parse("300,-1,30,300"), C(44, 255, 30, 44));  // low bytes
  EXPECT_EQ(Parse("10,,30"), C(10, 0, 30, 255));
  EXPECT_EQ(Parse("#FF,2,3"), C(0, 2, 3, 255));  // components are decimal only
}

TEST(ColorText, BadTextGivesDefaultOrZero) {
  EXPECT_EQ(Parse(""), C(1, 2, 3, 4));
  EXPECT_EQ(Parse("1,2,3,4,5"), C(1, 2, 3, 4));
  EXPECT_EQ(Parse(",,,,,,,,"), C(1, 2, 3, 4));
  // One or two fields: a bad number is 0, never the default.
  for (const char* bad : {"#GG0000", "#123456789", "99999999999", "12 ", " #FF0000", "#", ",", "red"})
    EXPECT_EQ(Parse(bad), C(0, 0, 0, 255)) << bad;
  EXPECT_EQ(ByteStrToColor32(""), C(0, 0, 0, 0));
  EXPECT_EQ(StrToColor32(u"\u00E9"), C(0, 0, 0, 255));
  std::string nul("1\0,2", 4);
  EXPECT_EQ(Parse(nul.c_str()), C(1, 0, 0, 255));  // the text ends at the NUL of a C string
  EXPECT_EQ(StrToColor32Def(TByteString(nul), C(9, 9, 9, 9)), C(0, 0, 0, 2));
}

TEST(ColorValues, BlendColor32AndBlendOver) {
  TColor32 a = C(10, 200, 0, 255), b = C(200, 10, 255, 0);
  EXPECT_EQ(BlendColor32(a, b, 0), a);
  EXPECT_EQ(BlendColor32(a, b, 256), b);
  EXPECT_EQ(BlendColor32(a, b, 1), C(10, 200, 0, 255));  // toward zero, not down
  EXPECT_EQ(BlendColor32(a, b, -5), a);  // clamped
  TColor32 d = C(10, 20, 30, 40);
  BlendOverColor32(d, C(200, 200, 200, 0));
  EXPECT_EQ(d, C(10, 20, 30, 40));  // clear source: unchanged
  BlendOverColor32(d, C(1, 2, 3, 255));
  EXPECT_EQ(d, C(1, 2, 3, 255));  // opaque source replaces
  d = C(10, 20, 30, 0);
  BlendOverColor32(d, C(100, 150, 200, 128));
  EXPECT_EQ(d, C(100, 150, 200, 128));  // over nothing: a copy
  d = C(0, 255, 100, 255);
  BlendOverColor32(d, C(255, 0, 100, 128));
  EXPECT_EQ(d, C(127, 127, 100, 255));  // arithmetic shift: -127.5 gives -128
  d = C(0, 0, 0, 254);
  BlendOverColor32(d, C(255, 255, 255, 254));
  EXPECT_EQ(d.A, 255);  // a = 256 is kept at 255
}

TEST(HSL, ConversionsOnTheByteScale) {
  std::int32_t h, s, l, r, g, b;
  RGBToHSL255(255, 0, 0, h, s, l);
  EXPECT_EQ(std::vector<int>({h, s, l}), std::vector<int>({0, 255, 128}));  // 127.5 rounds to even
  RGBToHSL255(255, 0, 1, h, s, l);
  EXPECT_EQ(h, 255);  // 254.83 rounds up past the wrap
  EXPECT_EQ(HueToChannel255(-200, 0.2, 1), 255);  // -200 + 255 = 55: on the plateau
  // Every colour comes back close: the hue has only 255 steps, one of which
  // moves a channel of a saturated colour by up to 6.
  int worst = 0;
  for (int rr = 0; rr < 256; rr += 5)
    for (int gg = 0; gg < 256; gg += 5)
      for (int bb = 0; bb < 256; bb += 5) {
        RGBToHSL255(rr, gg, bb, h, s, l);
        HSL255ToRGB(h, s, l, r, g, b);
        worst = std::max({worst, std::abs(r - rr), std::abs(g - gg), std::abs(b - bb)});
      }
  EXPECT_LE(worst, 6);
}

TEST(HSL, AdjustBitmapRectangle) {
  const Bytes pixels = {50, 100, 200, 7, 0, 0, 255, 255, 10, 20, 30, 0, 90, 90, 90, 90,
                        1,  2,   3,   4, 200, 10, 10, 200, 0, 255, 0, 255, 255, 255, 255, 255};
  auto adjusted = [&](TRect r, int hue, int light) {
    auto bmp = zmtest::BitmapOf(PF_A8R8G8B8, 4, 2, pixels);
    AdjustHSL(bmp.get(), r, nullptr, hue, 0, light);
    return zmtest::BytesOf(*bmp);
  };
  EXPECT_EQ(adjusted({0, 0, 4, 2}, 0, 0), pixels);  // no shift: untouched, though the round trip is not exact
  // A full turn wraps to the same hue (the round trip alone); alpha is kept.
  Bytes roundTrip;
  for (std::size_t i = 0; i < pixels.size(); i += 4) {
    std::int32_t h, s, l, r, g, b;
    RGBToHSL255(pixels[i + 2], pixels[i + 1], pixels[i], h, s, l);
    HSL255ToRGB(h, s, l, r, g, b);
    roundTrip.insert(roundTrip.end(), {std::uint8_t(b), std::uint8_t(g), std::uint8_t(r), pixels[i + 3]});
  }
  EXPECT_EQ(adjusted({-10, -10, 100, 100}, 360, 0), roundTrip);
  EXPECT_EQ(adjusted({0, 0, 4, 2}, -360, 0), roundTrip);
  EXPECT_EQ(adjusted({0, 0, 4, 2}, 450, 0), adjusted({0, 0, 4, 2}, -270, 0));
  // Lightness +100 % turns everything white, only inside the rectangle.
  Bytes light = adjusted({1, 1, 3, 2}, 0, 100);
  Bytes want = pixels;
  std::copy_n(Bytes{255, 255, 255, 200, 255, 255, 255, 255}.begin(), 8, want.begin() + 20);
  EXPECT_EQ(light, want);
}

TEST(HSL, AdjustStopsAndSkips) {
  const Bytes pixels(4 * 3 * 4, 100);
  // The callback is polled after each row: false after the first row stops.
  auto bmp = zmtest::BitmapOf(PF_A8R8G8B8, 4, 3, pixels);
  TStopAfter stop(1);
  AdjustHSL(bmp.get(), {0, 0, 4, 3}, &stop, 0, 0, 50);
  auto b = zmtest::BytesOf(*bmp);
  EXPECT_NE(b[0], 100);
  EXPECT_EQ(Bytes(b.begin() + 16, b.end()), Bytes(pixels.begin() + 16, pixels.end()));
  // Other formats (the premultiplied one too) are left alone.
  for (const char* f : {PF_A8r8g8b8, PF_A8B8G8R8, PF_R8G8B8}) {
    auto other = zmtest::BitmapOf(f, 4, 3, pixels);
    AdjustHSL(other.get(), {0, 0, 4, 3}, nullptr, 90, 50, 50);
    auto ob = zmtest::BytesOf(*other);
    EXPECT_TRUE(std::all_of(ob.begin(), ob.end(), [](std::uint8_t v) { return v == 100; })) << f;
  }
  AdjustHSL(nullptr, {0, 0, 1, 1}, nullptr, 1, 1, 1);
}
