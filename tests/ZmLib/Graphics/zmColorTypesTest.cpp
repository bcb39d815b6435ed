#include "ZmLib/Graphics/zmColorTypes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "ZmLib/Graphics/zmColorHSL.h"
#include "tests/ZmLib/Graphics/GraphicsTestUtil.h"

using namespace zm;

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

TEST(ColorText, HexAndWindowsValues) {
  EXPECT_EQ(Parse("#FF8000"), C(255, 128, 0, 255));
  EXPECT_EQ(Parse("#ff8000"), C(255, 128, 0, 255));
  EXPECT_EQ(Parse("#FF8000,128"), C(255, 128, 0, 128));
  EXPECT_EQ(Parse("#FF8000,300"), C(255, 128, 0, 255));  // alpha cut to 255
  EXPECT_EQ(Parse("#FF8000,#80"), C(255, 128, 0, 128));  // a hex alpha
  EXPECT_EQ(Parse("#FF8000,"), C(255, 128, 0, 255));     // empty alpha: opaque
  // A bare number is a Windows colour value 0x00BBGGRR.
  EXPECT_EQ(Parse("255"), C(255, 0, 0, 255));
  EXPECT_EQ(Parse("16711680"), C(0, 0, 255, 255));
  EXPECT_EQ(Parse("  +65280"), C(0, 255, 0, 255));  // leading blanks and a sign
  EXPECT_EQ(Parse("-1"), C(255, 255, 255, 255));
  // Eight hex digits: the top byte is not the alpha.
  EXPECT_EQ(Parse("#11223344"), C(0x22, 0x33, 0x44, 255));
}

TEST(ColorText, ComponentLists) {
  EXPECT_EQ(Parse("10,20,30"), C(10, 20, 30, 255));
  EXPECT_EQ(Parse("10,20,30,40"), C(10, 20, 30, 40));
  EXPECT_EQ(Parse("10, 20, 30"), C(10, 20, 30, 255));  // blanks before a number are allowed
  EXPECT_EQ(Parse("300,-1,30,300"), C(44, 255, 30, 44));  // low bytes
  EXPECT_EQ(Parse("10,,30"), C(10, 0, 30, 255));
  EXPECT_EQ(Parse("1,2,3,"), C(1, 2, 3, 255));
  EXPECT_EQ(Parse("#FF,2,3"), C(0, 2, 3, 255));  // components are decimal only
}

TEST(ColorText, BadTextGivesDefaultOrZero) {
  EXPECT_EQ(Parse(""), C(1, 2, 3, 4));
  EXPECT_EQ(Parse("1,2,3,4,5"), C(1, 2, 3, 4));
  EXPECT_EQ(Parse(",,,,,,,,"), C(1, 2, 3, 4));
  // One or two fields: a bad number is 0, never the default.
  EXPECT_EQ(Parse("#GG0000"), C(0, 0, 0, 255));
  EXPECT_EQ(Parse("#123456789"), C(0, 0, 0, 255));  // more than 32 bits
  EXPECT_EQ(Parse("99999999999"), C(0, 0, 0, 255));
  EXPECT_EQ(Parse("12 "), C(0, 0, 0, 255));  // trailing blank
  EXPECT_EQ(Parse(" #FF0000"), C(0, 0, 0, 255));
  EXPECT_EQ(Parse("#"), C(0, 0, 0, 255));
  EXPECT_EQ(Parse(","), C(0, 0, 0, 255));
  EXPECT_EQ(Parse("red"), C(0, 0, 0, 255));
  EXPECT_EQ(ByteStrToColor32(""), C(0, 0, 0, 0));
  EXPECT_EQ(StrToColor32(u"#0080FF,64"), C(0, 128, 255, 64));
  EXPECT_EQ(StrToColor32(u"\u00E9"), C(0, 0, 0, 255));
  std::string nul("1\0,2", 4);
  EXPECT_EQ(Parse(nul.c_str()), C(1, 0, 0, 255));  // the text ends at the NUL of a C string
  EXPECT_EQ(StrToColor32Def(TByteString(nul), C(9, 9, 9, 9)), C(0, 0, 0, 2));
}

TEST(ColorValues, ConversionsAndLayout) {
  TColor32 c = C(0x11, 0x22, 0x33, 0x44);
  EXPECT_EQ(c.Value(), 0x44112233u);
  EXPECT_EQ(TColor32::FromValue(0x44112233u), c);
  std::uint8_t bytes[4];
  std::memcpy(bytes, &c, 4);
  EXPECT_EQ(bytes[0], 0x33);  // blue first in memory
  EXPECT_EQ(bytes[3], 0x44);
  EXPECT_EQ(RGBToColor24(1, 2, 3), (TColor24{3, 2, 1}));
  EXPECT_EQ(Color24ToColor32(9, TColor24{3, 2, 1}), C(1, 2, 3, 9));
  EXPECT_EQ(TransparentColor32(c), C(0x11, 0x22, 0x33, 0));
  EXPECT_EQ(Color32ToColorRef(c), 0x00332211u);
  EXPECT_EQ(ColorRefToColor24(0xAA332211u), (TColor24{0x33, 0x22, 0x11}));
  EXPECT_EQ(ColorRefToColor32(0x00332211u, 7), C(0x11, 0x22, 0x33, 7));
  EXPECT_EQ(AverageColor32(C(255, 0, 3, 255), C(254, 0, 0, 0)), C(254, 0, 1, 127));
  EXPECT_TRUE(SameRGB(C(1, 2, 3, 0), C(1, 2, 3, 255)));
  EXPECT_FALSE(SameRGB(C(1, 2, 3, 0), C(1, 2, 4, 0)));
  EXPECT_FALSE(SameColor32(C(1, 2, 3, 0), C(4, 5, 6, 0), false));
  EXPECT_TRUE(SameColor32(C(1, 2, 3, 0), C(4, 5, 6, 0), true));
  EXPECT_FALSE(SameColor32(C(1, 2, 3, 1), C(1, 2, 3, 0), true));
}

TEST(ColorValues, BlendColor32TruncatesTowardZero) {
  TColor32 a = C(10, 200, 0, 255), b = C(200, 10, 255, 0);
  EXPECT_EQ(BlendColor32(a, b, 0), a);
  EXPECT_EQ(BlendColor32(a, b, 256), b);
  // 10 + 190 * 1 / 256 = 10; 200 - 190 / 256 = 200 (toward zero, not down);
  // 0 + 255/256 = 0; 255 - 255/256 = 255.
  EXPECT_EQ(BlendColor32(a, b, 1), C(10, 200, 0, 255));
  EXPECT_EQ(BlendColor32(a, b, 128), C(105, 105, 127, 128));
  EXPECT_EQ(BlendColor32(a, b, -5), a);  // clamped
  EXPECT_EQ(BlendColor32(a, b, 1000), b);
}

TEST(ColorValues, BlendOverColor32) {
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
  EXPECT_EQ(d, C(127, 127, 100, 255));  // d + (s - d) * 128 shr 8, arithmetic: -127.5 gives -128
  d = C(200, 200, 0, 128);
  BlendOverColor32(d, C(200, 0, 255, 128));
  // a = 192, f = 341; red (25600 + 100 * 128) * 341 shr 16 = 199.
  EXPECT_EQ(d, C(199, 66, 169, 192));
  d = C(0, 0, 0, 254);
  BlendOverColor32(d, C(255, 255, 255, 254));
  EXPECT_EQ(d.A, 255);  // a = 256 is kept at 255
}

TEST(FontParams, AssignCompareAndTransparency) {
  TFontParams a = MakeFontParams(u"Arial", fsBold, true, 12.5f, TColor24{1, 2, 3}, TColor24{4, 5, 6});
  EXPECT_EQ(a.Transparency, tmKeyed);
  EXPECT_TRUE(IsTransparentText(a));
  TFontParams b = MakeFontParams(u"Arial", fsBold, false, 12.5f, TColor24{1, 2, 3}, TColor24{7, 7, 7});
  EXPECT_TRUE(SameFontFace(a, b));
  EXPECT_FALSE(SameFontColors(a, b));
  b.Transparency = tmKeyed;
  EXPECT_FALSE(SameFontColors(a, b));  // background counts in mode 1
  a.Transparency = b.Transparency = tmAutoKey;
  EXPECT_TRUE(SameFontColors(a, b));  // but not in mode 2
  EXPECT_FALSE(SameFontFace(a, MakeFontParams(u"arial", fsBold, false, 12.5f, {}, {})));  // name exact

  TFontParams d = MakeFontParams(u"Times", fsItalic, false, 8, {}, {});
  EXPECT_FALSE(AssignFontParams(d, d, fpName | fpSize | fpStyle | fpColors));
  EXPECT_TRUE(AssignFontParams(d, a, fpName));
  EXPECT_EQ(d.Name, u"Arial");
  EXPECT_EQ(d.Size, 8);
  EXPECT_FALSE(AssignFontParams(d, a, fpName));
  EXPECT_TRUE(AssignFontParams(d, a, fpSize | fpStyle));
  EXPECT_EQ(d.Size, 12.5f);
  EXPECT_EQ(d.Style, fsBold);
  EXPECT_TRUE(AssignFontParams(d, a, fpColors));
  EXPECT_EQ(d.TextColor, (TColor24{1, 2, 3}));
  EXPECT_EQ(d.BackColor, (TColor24{4, 5, 6}));
  EXPECT_EQ(d.Transparency, tmAutoKey);

  SetTransparentText(d, false);
  EXPECT_EQ(d.Transparency, tmOpaque);
  SetTransparentText(d, true);
  EXPECT_EQ(d.Transparency, tmAutoKey);
  d.Transparency = tmKeyed;
  SetTransparentText(d, true);
  EXPECT_EQ(d.Transparency, tmKeyed);
}

TEST(HSL, ConversionsOnTheByteScale) {
  std::int32_t h, s, l;
  RGBToHSL255(255, 0, 0, h, s, l);
  EXPECT_EQ(std::vector<int>({h, s, l}), std::vector<int>({0, 255, 128}));  // 127.5 rounds to even
  RGBToHSL255(0, 255, 0, h, s, l);
  EXPECT_EQ(h, 85);
  RGBToHSL255(0, 0, 255, h, s, l);
  EXPECT_EQ(h, 170);
  RGBToHSL255(255, 0, 1, h, s, l);
  EXPECT_EQ(h, 255);  // 254.83 rounds up past the wrap
  RGBToHSL255(90, 90, 90, h, s, l);
  EXPECT_EQ(std::vector<int>({h, s, l}), std::vector<int>({0, 0, 90}));
  RGBToHSL255(200, 100, 50, h, s, l);  // L = 125 < 128: S = 255 * 150 / 250
  EXPECT_EQ(std::vector<int>({h, s, l}), std::vector<int>({14, 153, 125}));

  std::int32_t r, g, b;
  HSL255ToRGB(0, 0, 77, r, g, b);
  EXPECT_EQ(std::vector<int>({r, g, b}), std::vector<int>({77, 77, 77}));
  HSL255ToRGB(0, 255, 128, r, g, b);
  EXPECT_EQ(std::vector<int>({r, g, b}), std::vector<int>({255, 1, 1}));
  EXPECT_EQ(HueToChannel255(300, 0, 1), 255);  // 300 - 255 = 45: on the plateau
  EXPECT_EQ(HueToChannel255(455, 0, 1), 0);    // 200: past 170
  EXPECT_EQ(HueToChannel255(-200, 0.2, 1), 255);  // -200 + 255 = 55
  EXPECT_EQ(HueToChannel255(21.25, 0, 1), 128);   // 127.5 rounds to even

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
  const std::vector<std::uint8_t> pixels = {50, 100, 200, 7, 0, 0, 255, 255, 10, 20, 30, 0, 90, 90, 90, 90,
                                            1,  2,   3,   4, 200, 10, 10, 200, 0, 255, 0, 255, 255, 255, 255, 255};
  auto make = [&] { return zmtest::BitmapOf(PF_A8R8G8B8, 4, 2, pixels); };
  auto roundTrip = [](const std::uint8_t* p, int dh) {
    std::int32_t h, s, l, r, g, b;
    RGBToHSL255(p[2], p[1], p[0], h, s, l);
    h += dh;
    if (h > 255) h -= 256;
    HSL255ToRGB(h, s, l, r, g, b);
    return std::vector<std::uint8_t>{std::uint8_t(b), std::uint8_t(g), std::uint8_t(r), p[3]};
  };

  // No shift: untouched, even though the round trip is not exact.
  auto bmp = make();
  AdjustHSL(bmp.get(), {0, 0, 4, 2}, nullptr, 0, 0, 0);
  EXPECT_EQ(zmtest::BytesOf(*bmp), pixels);

  // A full turn wraps to the same hue; alpha is kept.
  auto full = make();
  AdjustHSL(full.get(), {-10, -10, 100, 100}, nullptr, 360, 0, 0);
  auto minus = make();
  AdjustHSL(minus.get(), {0, 0, 4, 2}, nullptr, -360, 0, 0);
  std::vector<std::uint8_t> expected;
  for (std::size_t i = 0; i < pixels.size(); i += 4) {
    auto px = roundTrip(&pixels[i], 0);
    expected.insert(expected.end(), px.begin(), px.end());
  }
  EXPECT_EQ(zmtest::BytesOf(*full), expected);
  EXPECT_EQ(zmtest::BytesOf(*minus), expected);
  EXPECT_EQ(zmtest::BytesOf(*full)[3], 7);

  // 90 degrees is 64 steps; 450 and -270 are the same shift.
  auto quarter = make();
  AdjustHSL(quarter.get(), {0, 0, 4, 2}, nullptr, 90, 0, 0);
  for (int hue : {450, -270}) {
    auto other = make();
    AdjustHSL(other.get(), {0, 0, 4, 2}, nullptr, hue, 0, 0);
    EXPECT_EQ(zmtest::BytesOf(*other), zmtest::BytesOf(*quarter)) << hue;
  }
  const auto qb = zmtest::BytesOf(*quarter);
  EXPECT_EQ(std::vector<std::uint8_t>(qb.begin() + 4, qb.begin() + 8), roundTrip(&pixels[4], 64));

  // Lightness +100 % turns everything white, -100 % black; only inside the rectangle.
  auto light = make();
  AdjustHSL(light.get(), {1, 1, 3, 2}, nullptr, 0, 0, 100);
  auto lb = zmtest::BytesOf(*light);
  EXPECT_EQ(std::vector<std::uint8_t>(lb.begin() + 20, lb.begin() + 28),
            (std::vector<std::uint8_t>{255, 255, 255, 200, 255, 255, 255, 255}));
  EXPECT_EQ(std::vector<std::uint8_t>(lb.begin(), lb.begin() + 20), std::vector<std::uint8_t>(pixels.begin(), pixels.begin() + 20));
  EXPECT_EQ(std::vector<std::uint8_t>(lb.begin() + 28, lb.end()), std::vector<std::uint8_t>(pixels.begin() + 28, pixels.end()));
  auto dark = make();
  AdjustHSL(dark.get(), {0, 0, 4, 2}, nullptr, 0, -30, -1000000000);
  for (std::size_t i = 0; i < pixels.size(); i += 4) EXPECT_EQ(zmtest::BytesOf(*dark)[i + 1], 0);
}

TEST(HSL, AdjustStopsAndSkips) {
  const std::vector<std::uint8_t> pixels(4 * 3 * 4, 100);
  // The callback is polled after each row: false after the first row stops.
  auto bmp = zmtest::BitmapOf(PF_A8R8G8B8, 4, 3, pixels);
  TStopAfter stop(1);
  AdjustHSL(bmp.get(), {0, 0, 4, 3}, &stop, 0, 0, 50);
  auto b = zmtest::BytesOf(*bmp);
  EXPECT_NE(b[0], 100);
  EXPECT_EQ(std::vector<std::uint8_t>(b.begin() + 16, b.end()), std::vector<std::uint8_t>(pixels.begin() + 16, pixels.end()));

  // The global callback in its stopping mode.
  SetLoadCallbackMode(3);
  auto viaGlobal = zmtest::BitmapOf(PF_A8R8G8B8, 4, 3, pixels);
  AdjustHSL(viaGlobal.get(), {0, 0, 4, 3}, nullptr, 0, 0, 50);
  SetLoadCallbackMode(0);
  EXPECT_EQ(zmtest::BytesOf(*viaGlobal), b);

  // Other formats (the premultiplied one too) are left alone.
  for (const char* f : {PF_A8r8g8b8, PF_A8B8G8R8, PF_R8G8B8}) {
    auto other = zmtest::BitmapOf(f, 4, 3, pixels);
    AdjustHSL(other.get(), {0, 0, 4, 3}, nullptr, 90, 50, 50);
    auto ob = zmtest::BytesOf(*other);
    EXPECT_TRUE(std::all_of(ob.begin(), ob.end(), [](std::uint8_t v) { return v == 100; })) << f;
  }

  // A TDirectBitmap is adjusted in place too.
  TRef<TDirectBitmap> direct = MakeRef<TDirectBitmap>(2, FindPixelFormat(PF_A8R8G8B8), 1);
  direct->FillRect({0, 0, 2, 1}, C(255, 0, 0, 255));
  AdjustHSL(direct.get(), {0, 0, 2, 1}, nullptr, 120, 0, 0);  // red to green
  EXPECT_EQ(direct->PixelAddress(1, 0)[1], 255);
  EXPECT_LT(direct->PixelAddress(1, 0)[2], 5);
  AdjustHSL(nullptr, {0, 0, 1, 1}, nullptr, 1, 1, 1);
}
