#include "ZmLib/Win32/Fonts/winFontUtils.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <thread>
#include <vector>

#include "Platform/User/PlatUser.h"
#include "ZmLib/Graphics/zmDibBitmap.h"

using namespace zm;

namespace {

TFontParams Font(const WideString& name, float size, std::uint8_t style = 0, bool transparent = false,
                 TColor24 text = {0, 0, 0}, TColor24 back = {255, 255, 255}) {
  return MakeFontParams(name, style, transparent, size, text, back);
}

// The B, G, R, A bytes of a pixel of a 32-bit DIB bitmap (rows top-down).
struct TPixel {
  std::uint8_t B, G, R, A;
};
TPixel PixelAt(TBitmap* bitmap, std::int32_t x, std::int32_t y) {
  auto* dib = static_cast<TDibBitmap*>(bitmap)->Dib();
  const std::uint32_t v = dib->Pixels32(bitmap->Height() - 1 - y)[x];  // bottom-up memory
  return TPixel{std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)};
}

}  // namespace

TEST(WinFontUtils, GdiFontFromDescription) {
  TFontParams f = Font(u"Arial", 12, fsBold | fsItalic | fsUnderline | fsStrikeOut);
  plat::LOGFONTW log = MakeGdiLogFont(f, 96);
  EXPECT_EQ(log.lfHeight, -16);
  EXPECT_EQ(log.lfWeight, 700);
  EXPECT_EQ(log.lfItalic + log.lfUnderline + log.lfStrikeOut, 3);
  EXPECT_EQ(log.lfQuality, plat::PROOF_QUALITY);
  EXPECT_EQ(MakeGdiLogFont(Font(u"Arial", 8.25f), 96).lfHeight, -11);  // 11 px, to the nearest

  // 31 characters are accepted, 32 assert before any GDI object is made.
  const int live = plat::LiveGdiObjectCount();
  EXPECT_EQ(WideString(MakeGdiLogFont(Font(WideString(31, u'x'), 10), 96).lfFaceName), WideString(31, u'x'));
  EXPECT_ANY_THROW(MakeGdiLogFont(Font(WideString(32, u'x'), 10), 96));
  EXPECT_ANY_THROW(CreateGdiFont(Font(WideString(40, u'x'), 10)));
  EXPECT_ANY_THROW(MakeRef<TWinFontUtils>()->GetTextMetrics(Font(WideString(32, u'x'), 10)));
  EXPECT_EQ(plat::LiveGdiObjectCount(), live);

  // Sizes that are no number or absurd give a height the layer can take.
  for (float size : {0.0f, -12.0f, 1e30f, -1e30f, std::numeric_limits<float>::infinity(),
                     std::numeric_limits<float>::quiet_NaN()}) {
    plat::LOGFONTW l = MakeGdiLogFont(Font(u"Arial", size), 96);
    EXPECT_LE(std::abs(double(l.lfHeight)), double(1 << 20)) << size;
  }
  EXPECT_EQ(MakeGdiLogFont(Font(u"Arial", std::numeric_limits<float>::quiet_NaN()), 96).lfHeight, 0);
  // An embedded NUL ends the face name.
  EXPECT_EQ(WideString(MakeGdiLogFont(Font(WideString(u"Ari\0al", 6), 10), 96).lfFaceName), u"Ari");
}

TEST(WinFontUtils, DefaultFontIsTheMessageFont) {
  TFontParams d = GetDefaultFontParams();
  EXPECT_EQ(d.Name, u"Tahoma");
  EXPECT_NEAR(d.Size, 8.25f, 0.01f);  // 11 px at 96 dpi
  EXPECT_EQ(d.Style, 0);
  EXPECT_EQ(d.TextColor, ColorRefToColor24(plat::GetSysColor(plat::COLOR_BTNTEXT)));
  EXPECT_EQ(d.BackColor, ColorRefToColor24(plat::GetSysColor(plat::COLOR_BTNFACE)));
}

TEST(WinFontUtils, MeasuringWidensByNegativeOverhangs) {
  TRef<TWinFontUtils> utils = MakeRef<TWinFontUtils>();
  // A character whose C width is negative (ink past its advance), read from the layer.
  TFontParams italic = Font(u"Arial", 40, fsItalic);
  char16_t overhanging = 0;
  {
    TScreenFontDc dc(italic);
    ASSERT_NE(dc.Dc(), nullptr);
    for (char16_t c : WideString(u"fjy/VW")) {
      plat::ABC abc;
      ASSERT_TRUE(plat::GetCharABCWidthsW(dc.Dc(), c, c, &abc));
      if (abc.abcC < 0) {
        overhanging = c;
        break;
      }
    }
  }
  ASSERT_NE(overhanging, 0) << "no test character overhangs in this italic face";
  const WideString text = WideString(u"Ax") + overhanging;
  TSideOverhangs o;
  TTextMetricsRec m;
  TSize s = utils->MeasureTextEx(italic, text, o, m);
  TScreenFontDc dc(italic);
  plat::SIZE ext;
  ASSERT_TRUE(plat::GetTextExtentPoint32W(dc.Dc(), text.data(), int(text.size()), &ext));
  EXPECT_LT(o.Right, 0);
  EXPECT_EQ(s.cx, ext.cx - o.Right - std::min(o.Left, 0));
  EXPECT_GT(s.cx, ext.cx);
  EXPECT_EQ(s.cy, m.Height);
  EXPECT_EQ(m.Ascent + m.Descent, m.Height);

  // Empty text: no width, the cell height. MeasureText agrees with the Ex form.
  s = utils->MeasureTextEx(italic, u"", o, m);
  EXPECT_EQ(s.cx, 0);
  EXPECT_EQ(s.cy, m.Height);
  EXPECT_EQ(utils->MeasureText(italic, text), utils->MeasureTextEx(italic, text, o, m));
}

TEST(WinFontUtils, OddFontsAndTextStillMeasure) {
  TRef<TWinFontUtils> utils = MakeRef<TWinFontUtils>();
  TSideOverhangs o;
  TTextMetricsRec m;
  // An unknown family is substituted, as GDI does.
  EXPECT_GT(utils->MeasureTextEx(Font(u"No Such Family 42", 12), u"Hello", o, m).cx, 0);
  EXPECT_GT(m.Height, 0);
  // Size 0 takes the layer's default; huge sizes are held at its largest em.
  EXPECT_GT(utils->GetTextMetrics(Font(u"Arial", 0)).Height, 0);
  TTextMetricsRec huge = utils->GetTextMetrics(Font(u"Arial", 1e30f));
  EXPECT_GT(huge.Height, 1000);
  EXPECT_LT(huge.Height, 10000);
  // Lone surrogates (first and last) and control characters.
  const WideString odd = {0xDC00, u'a', 0x0001, 0x001F, 0xFFFF, 0xD800};
  TSize s = utils->MeasureTextEx(Font(u"Arial", 12), odd, o, m);
  EXPECT_GE(s.cx, 0);
  TRef<TBitmap> b = utils->DrawText(Font(u"Arial", 12, 0, true), odd);
  ASSERT_TRUE(b);
  EXPECT_GE(b->Width(), 1);
  // Outline metrics: an underline lies below the baseline, a strike-out above.
  TFontMetrics om = utils->GetOutlineMetrics(Font(u"Arial", 30));
  EXPECT_LT(om.UnderlinePosition, 0);
  EXPECT_GT(om.StrikeOutPosition, 0);
  EXPECT_GT(om.UnderlineSize, 0);
}

TEST(WinFontUtils, KeyColourAndAlpha) {
  // White on white: the key turns black, and so on for every channel close to the text's.
  TFontParams f = Font(u"Arial", 12, 0, true, {255, 255, 255}, {255, 255, 255});
  EXPECT_EQ(TransparentKeyColor(f), (TColor24{0, 0, 0}));
  f.TextColor = {200, 10, 128};  // B, G, R
  f.BackColor = {0, 250, 140};   // R within 16 of the text's
  EXPECT_EQ(TransparentKeyColor(f), (TColor24{0, 255, 0}));
  f.BackColor = {0, 250, 60};
  EXPECT_EQ(TransparentKeyColor(f), f.BackColor);
  f.Transparency = tmAutoKey;
  EXPECT_EQ(TransparentKeyColor(f), (TColor24{0, 255, 0}));

  // A linear blend of the text over the key comes back as its coverage with
  // the text's own colour, for keys at the ends of the range (no division by 0).
  for (TColor24 key : {TColor24{0, 0, 0}, TColor24{255, 255, 255}, TColor24{0, 255, 40}}) {
    const TColor24 text = {std::uint8_t(255 - key.B), std::uint8_t(255 - key.G), std::uint8_t(128)};
    for (int c = 0; c <= 255; c += 15) {
      auto mix = [&](std::uint8_t k, std::uint8_t t) { return std::uint8_t(std::lround(k + (t - k) * c / 255.0)); };
      TColor24 p{mix(key.B, text.B), mix(key.G, text.G), mix(key.R, text.R)};
      const std::uint8_t a = KeyedPixelAlpha(p, key, text);
      EXPECT_NEAR(a, c, 2) << c;
      if (a >= 16) {
        EXPECT_NEAR(p.B, text.B, 8);
        EXPECT_NEAR(p.G, text.G, 8);
      }
    }
  }
}

TEST(WinFontUtils, DrawnTextBitmaps) {
  TRef<TWinFontUtils> utils = MakeRef<TWinFontUtils>();
  const int live = plat::LiveGdiObjectCount();
  // White on white with transparency: the text's pixels are opaque white,
  // the rest see-through, and the box is the ink box.
  TFontParams white = Font(u"Arial", 24, 0, true, {255, 255, 255}, {255, 255, 255});
  TRef<TBitmap> b = utils->DrawText(white, u"Hi");
  ASSERT_TRUE(b);
  EXPECT_EQ(b->BytesPerPixel(), 4);
  TTextBox box;
  ASSERT_TRUE(utils->GetTextBox(white, u"Hi", box));
  EXPECT_EQ(b->Width(), box.Box.Right - box.Box.Left);
  EXPECT_EQ(b->Height(), box.Box.Bottom - box.Box.Top);
  EXPECT_LT(b->Width(), box.Extent.cx + 1);  // "H" has a positive left bearing
  int opaque = 0, clear = 0;
  for (int y = 0; y < b->Height(); ++y)
    for (int x = 0; x < b->Width(); ++x) {
      TPixel p = PixelAt(b.get(), x, y);
      if (p.A == 0) ++clear;
      if (p.A == 255) {
        ++opaque;
        EXPECT_EQ(p.R + p.G + p.B, 3 * 255);
      }
      if (p.A > 0 && p.A < 255) {
        EXPECT_GE(p.R, 240) << x << "," << y;  // straight colour, not premultiplied
      }
    }
  EXPECT_GT(opaque, 20);
  EXPECT_GT(clear, 20);
  // Ink reaches the box's left column: nothing wasted there.
  bool leftInk = false;
  for (int y = 0; y < b->Height(); ++y) leftInk |= PixelAt(b.get(), 0, y).A > 0 || PixelAt(b.get(), 1, y).A > 0;
  EXPECT_TRUE(leftInk);

  // Opaque: 24 bits on the background, the box from the origin.
  TFontParams opaqueFont = Font(u"Arial", 24, 0, false, {0, 0, 255}, {0, 255, 0});
  TRef<TBitmap> o = utils->DrawText(opaqueFont, u"Hi");
  ASSERT_TRUE(o);
  EXPECT_EQ(o->BytesPerPixel(), 3);
  auto* dib = static_cast<TDibBitmap*>(o.get())->Dib();
  EXPECT_EQ(dib->Pixels24(0)[0], (TColor24{0, 255, 0}));
  int red = 0;
  for (int y = 0; y < o->Height(); ++y)
    for (int x = 0; x < o->Width(); ++x) red += dib->Pixels24(y)[x] == TColor24{0, 0, 255};
  EXPECT_GT(red, 20);

  // Underline reaches below the cell's bottom line or to it; italic keeps the origin.
  ASSERT_TRUE(utils->GetTextBox(Font(u"Arial", 24, fsUnderline, true), u"Hi", box));
  EXPECT_GE(box.Box.Bottom, box.Metrics.Height);
  EXPECT_LE(box.Box.Left, 0);
  // Empty text is a one-pixel-wide bitmap; nothing is left behind.
  TRef<TBitmap> e = utils->DrawText(white, u"");
  ASSERT_TRUE(e);
  EXPECT_EQ(e->Width(), 1);
  b = nullptr;
  o = nullptr;
  e = nullptr;
  EXPECT_EQ(plat::LiveGdiObjectCount(), live);
}

TEST(WinFontUtils, ThreadsMeasureAndDrawAlike) {
  TRef<TWinFontUtils> utils = MakeRef<TWinFontUtils>();
  const TFontParams f = Font(u"Arial", 14, 0, true, {10, 20, 30}, {250, 250, 250});
  const WideString text = u"Threads meet";
  const TSize want = utils->MeasureText(f, text);
  const TRef<TBitmap> wantBitmap = utils->DrawText(f, text);
  std::vector<int> bad(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 20; ++i) {
        TRef<TWinFontUtils> mine = MakeRef<TWinFontUtils>();
        if (!(mine->MeasureText(f, text) == want)) ++bad[t];
        TRef<TBitmap> b = mine->DrawText(f, text);
        if (!b || b->Width() != wantBitmap->Width() || PixelAt(b.get(), 3, 5).A != PixelAt(wantBitmap.get(), 3, 5).A)
          ++bad[t];
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(bad, std::vector<int>(4, 0));
}

TEST(WinFontUtils, RegionsAndRectangleLists) {
  // Two rectangles side by side in different bands come back as given.
  std::vector<TRect> rects = {{0, 0, 10, 5}, {20, 5, 30, 15}};
  plat::HRGN r = RectsToRegion(rects, TRect{0, 0, 30, 15});
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(RegionToRects(r), rects);
  // Overlapping ones are merged by the region; every point stays covered once.
  std::vector<TRect> overlap = {{0, 0, 10, 10}, {5, 5, 15, 15}, {0, 0, 0, 0}};
  plat::HRGN o = RectsToRegion(overlap, TRect{});
  ASSERT_NE(o, nullptr);
  std::int64_t area = 0;
  for (const TRect& q : RegionToRects(o)) area += std::int64_t(q.Right - q.Left) * (q.Bottom - q.Top);
  EXPECT_EQ(area, 100 + 100 - 25);
  // No list, no region; no region, no list.
  EXPECT_EQ(RectsToRegion({}, TRect{0, 0, 1, 1}), nullptr);
  EXPECT_TRUE(RegionToRects(nullptr).empty());
  plat::HRGN empty = plat::CreateRectRgn(0, 0, 0, 0);
  EXPECT_TRUE(RegionToRects(empty).empty());
  plat::DeleteObject(reinterpret_cast<plat::HGDIOBJ>(r));
  plat::DeleteObject(reinterpret_cast<plat::HGDIOBJ>(o));
  plat::DeleteObject(reinterpret_cast<plat::HGDIOBJ>(empty));
  EXPECT_TRUE(RegionToRects(r).empty());  // a stale handle
  // Many rectangles survive the trip.
  std::vector<TRect> many;
  for (int i = 0; i < 500; ++i) many.push_back(TRect{0, i * 2, 1 + i, i * 2 + 1});
  plat::HRGN m = RectsToRegion(many, TRect{0, 0, 500, 1000});
  EXPECT_EQ(RegionToRects(m), many);
  plat::DeleteObject(reinterpret_cast<plat::HGDIOBJ>(m));
}

TEST(WinFontUtils, ModuleSetsTheGlobalServices) {
  EXPECT_NE(dynamic_cast<TWinFontUtils*>(FontUtils), nullptr);
}
