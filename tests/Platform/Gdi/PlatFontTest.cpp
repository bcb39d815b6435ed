#include "Platform/Gdi/PlatFont.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "Platform/Gdi/PlatFontInternal.h"

using namespace plat;

namespace {

// Values below were read once from the Debian 12 fonts with FreeType
// (fonts-liberation2 2.1.5, fonts-dejavu-core 2.37, fonts-wqy-microhei 0.2.0).

LOGFONTW FontLog(const char16_t* face, LONG height, LONG weight = 0, bool italic = false) {
  LOGFONTW log;
  log.lfHeight = height;
  log.lfWeight = weight;
  log.lfItalic = italic ? 1 : 0;
  log.lfCharSet = DEFAULT_CHARSET;
  log.lfQuality = PROOF_QUALITY;
  for (int i = 0; face[i] && i < 31; ++i) log.lfFaceName[i] = face[i];
  return log;
}

HGDIOBJ FontObj(HFONT f) { return reinterpret_cast<HGDIOBJ>(f); }

// A memory DC over a top-down 32-bit DIB filled with one B, G, R, A word;
// with a font selected on demand. Everything is released at the end.
struct TTextDib {
  HDC Dc = nullptr;
  HBITMAP Bitmap = nullptr;
  HGDIOBJ OldBitmap = nullptr;
  HFONT Font = nullptr;
  HGDIOBJ OldFont = nullptr;
  std::uint8_t* Bits = nullptr;
  int Width, Height, BytesPerPixel;
  TTextDib(int w, int h, std::uint32_t fill = 0xFFFFFFFF, int bits = 32)
      : Width(w), Height(h), BytesPerPixel(bits / 8) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = 40;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = WORD(bits);
    void* p = nullptr;
    Bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &p, nullptr, 0);
    Bits = static_cast<std::uint8_t*>(p);
    Dc = CreateCompatibleDC(nullptr);
    OldBitmap = SelectObject(Dc, reinterpret_cast<HGDIOBJ>(Bitmap));
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) std::memcpy(Px(x, y), &fill, std::size_t(BytesPerPixel));
  }
  void Use(const LOGFONTW& log) {
    Font = CreateFontIndirectW(&log);
    OldFont = SelectObject(Dc, FontObj(Font));
  }
  std::uint8_t* Px(int x, int y) const {
    return Bits + std::ptrdiff_t(y) * ((Width * BytesPerPixel + 3) & ~3) + std::ptrdiff_t(x) * BytesPerPixel;
  }
  // Darkness of the blue channel over white: 0 none, 255 full.
  int Ink(int x, int y) const { return 255 - Px(x, y)[0]; }
  ~TTextDib() {
    if (Font) {
      SelectObject(Dc, OldFont);
      DeleteObject(FontObj(Font));
    }
    SelectObject(Dc, OldBitmap);
    DeleteDC(Dc);
    DeleteObject(reinterpret_cast<HGDIOBJ>(Bitmap));
  }
};

std::u16string FaceOf(HDC dc) {
  char16_t name[LF_FACESIZE] = {};
  GetTextFaceW(dc, LF_FACESIZE, name);
  return name;
}

std::string FileOf(const LOGFONTW& log) {
  gdi::TRealFontPtr f = gdi::RealiseLogFont(log);
  return f ? f->File->Path.substr(f->File->Path.rfind('/') + 1) : std::string();
}

class FontTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { ASSERT_TRUE(gdi::UseTestFonts()) << "the private font set could not be built"; }
  void SetUp() override { baseline_ = LiveGdiObjectCount(); }
  void TearDown() override { EXPECT_EQ(LiveGdiObjectCount(), baseline_) << "GDI objects leaked"; }
  int baseline_ = 0;
};

}  // namespace

TEST_F(FontTest, LiberationSansMetricsAdvancesAndAbcWidths) {
  TTextDib d(8, 8);
  d.Use(FontLog(u"Arial", -13));
  EXPECT_EQ(FaceOf(d.Dc), u"Liberation Sans");
  TEXTMETRICW tm;
  ASSERT_TRUE(GetTextMetricsW(d.Dc, &tm));
  EXPECT_EQ(tm.tmAscent, 12);  // round(1854 * 13 / 2048), Arial's too
  EXPECT_EQ(tm.tmDescent, 3);
  EXPECT_EQ(tm.tmHeight, 15);
  EXPECT_EQ(tm.tmInternalLeading, 2);
  EXPECT_EQ(tm.tmAveCharWidth, 8);
  EXPECT_EQ(tm.tmWeight, 400);
  EXPECT_EQ(tm.tmPitchAndFamily, TMPF_FIXED_PITCH | TMPF_VECTOR | TMPF_TRUETYPE);  // bit 0 set: variable pitch
  // The default character must be one the font lacks: shaping it gives the missing glyph.
  gdi::TRealFontPtr real = gdi::RealiseDcFont(d.Dc);
  ASSERT_TRUE(real);
  EXPECT_EQ(gdi::GlyphOfChar(*real, tm.tmDefaultChar), 0u);

  SIZE size{};
  ASSERT_TRUE(GetTextExtentPoint32W(d.Dc, u"Hello, World", 12, &size));
  EXPECT_EQ(size.cx, 70);  // 9 7 3 3 7 4 4 12 7 4 3 7
  EXPECT_EQ(size.cy, 15);
  ASSERT_TRUE(GetTextExtentPoint32W(d.Dc, u"", 0, &size));
  EXPECT_EQ(size.cx, 0);
  EXPECT_EQ(size.cy, 15);

  ABC abc[3];
  ASSERT_TRUE(GetCharABCWidthsW(d.Dc, u'W', u'W', abc));
  EXPECT_EQ(abc[0].abcA, 0);
  EXPECT_EQ(abc[0].abcB, 13u);
  EXPECT_EQ(abc[0].abcC, -1);  // the ink overhangs the advance
  ABC range[13];
  ASSERT_TRUE(GetCharABCWidthsW(d.Dc, u' ', u',', range));
  EXPECT_EQ(range[0].abcA, 0);  // a blank: advance only
  EXPECT_EQ(range[0].abcB, 0u);
  EXPECT_EQ(range[0].abcC, 4);
  EXPECT_EQ(range[12].abcA + int(range[12].abcB) + range[12].abcC, 4);  // ','
  EXPECT_FALSE(GetCharABCWidthsW(d.Dc, u'b', u'a', abc));
  EXPECT_FALSE(GetCharABCWidthsW(d.Dc, u'a', u'a', nullptr));
  WORD glyphs[2] = {43, 0xFFFF};  // 'H', then past the font's glyphs
  ASSERT_TRUE(GetCharABCWidthsI(d.Dc, 0, 1, glyphs, abc));
  EXPECT_EQ(abc[0].abcA + int(abc[0].abcB) + abc[0].abcC, 9);
  EXPECT_FALSE(GetCharABCWidthsI(d.Dc, 0, 2, glyphs, abc));

  // A positive height is the cell: 15 px of cell is the 13 px em again.
  TTextDib cell(8, 8);
  cell.Use(FontLog(u"Arial", 15));
  ASSERT_TRUE(GetTextMetricsW(cell.Dc, &tm));
  EXPECT_EQ(tm.tmHeight, 15);
  ASSERT_TRUE(GetTextExtentPoint32W(cell.Dc, u"Hello, World", 12, &size));
  EXPECT_EQ(size.cx, 70);
}

TEST_F(FontTest, OutlineMetricsAndItalicOverhangs) {
  TTextDib d(8, 8);
  d.Use(FontLog(u"Arial", -40, 0, true));
  EXPECT_EQ(GetOutlineTextMetricsW(d.Dc, 0, nullptr), sizeof(OUTLINETEXTMETRICW));
  OUTLINETEXTMETRICW otm;
  EXPECT_EQ(GetOutlineTextMetricsW(d.Dc, sizeof(otm) - 1, &otm), 0u);
  ASSERT_EQ(GetOutlineTextMetricsW(d.Dc, sizeof(otm), &otm), sizeof(otm));
  EXPECT_EQ(otm.otmEMSquare, 2048u);
  EXPECT_EQ(otm.otmTextMetrics.tmAscent, 36);
  EXPECT_EQ(otm.otmTextMetrics.tmDescent, 8);
  EXPECT_EQ(otm.otmsUnderscorePosition, -1);  // below the baseline
  EXPECT_EQ(otm.otmsUnderscoreSize, 3);
  EXPECT_EQ(otm.otmsStrikeoutPosition, 10);
  EXPECT_EQ(otm.otmsStrikeoutSize, 2u);
  ABC fj[5];
  ASSERT_TRUE(GetCharABCWidthsW(d.Dc, u'f', u'j', fj));
  EXPECT_EQ(fj[0].abcC, -4);  // italic 'f' reaches past its advance
  EXPECT_EQ(fj[4].abcA, -5);  // and 'j' before its origin
  EXPECT_EQ(FileOf(FontLog(u"Arial", -40, 0, true)), "LiberationSans-Italic.ttf");
}

TEST_F(FontTest, FamilyTableFallbackAndFaceNames) {
  struct {
    const char16_t* Asked;
    const char16_t* Resolved;
  } const cases[] = {
      {u"Times New Roman", u"Liberation Serif"}, {u"Courier New", u"Liberation Mono"},
      {u"aRiAl", u"Liberation Sans"},            {u" Tahoma ", u"DejaVu Sans"},
      {u"Verdana", u"DejaVu Sans"},              {u"Segoe UI", u"DejaVu Sans"},  // Noto Sans is not in the test set
      {u"MS Shell Dlg 2", u"DejaVu Sans"},       {u"Georgia", u"DejaVu Serif"},
      {u"Microsoft YaHei UI", u"WenQuanYi Micro Hei"},
      {u"Wingdings", u"DejaVu Sans"},            {u"DejaVu Sans Mono", u"DejaVu Sans Mono"},  // installed as asked
      {u"No Such Family 123", u"DejaVu Sans"},   {u"", u"Liberation Sans"},
      {u"Ebrima", u"DejaVu Sans"},               // its stand-in is missing: still a font
      {u"\xDC00\xD800x\xD83D", u"DejaVu Sans"},    // damaged UTF-16
  };
  for (const auto& c : cases) {
    TTextDib d(4, 4);
    d.Use(FontLog(c.Asked, -12));
    ASSERT_TRUE(d.Font);
    EXPECT_EQ(FaceOf(d.Dc), c.Resolved) << std::string(c.Asked, c.Asked + std::char_traits<char16_t>::length(c.Asked));
    TEXTMETRICW tm;
    EXPECT_TRUE(GetTextMetricsW(d.Dc, &tm));
    EXPECT_GT(tm.tmHeight, 0);
  }
  {
    TTextDib mono(4, 4);
    mono.Use(FontLog(u"Courier New", -12));
    TEXTMETRICW tm;
    ASSERT_TRUE(GetTextMetricsW(mono.Dc, &tm));
    EXPECT_EQ(tm.tmPitchAndFamily & TMPF_FIXED_PITCH, 0);  // clear for fixed pitch
  }
  // The Wingdings stand-in draws 'L' as the frowning face.
  gdi::TRealFontPtr wing = gdi::RealiseLogFont(FontLog(u"Wingdings", -12));
  gdi::TRealFontPtr sans = gdi::RealiseLogFont(FontLog(u"DejaVu Sans", -12));
  ASSERT_TRUE(wing && sans);
  EXPECT_NE(gdi::GlyphOfChar(*wing, U'L'), 0u);
  EXPECT_EQ(gdi::GlyphOfChar(*wing, U'L'), gdi::GlyphOfChar(*sans, U'\u2639'));
  EXPECT_NE(gdi::GlyphOfChar(*sans, U'L'), gdi::GlyphOfChar(*sans, U'\u2639'));

  // Face names: 31 characters fit, 32 without a terminator do not.
  LOGFONTW log = FontLog(u"", -12);
  for (int i = 0; i < 31; ++i) log.lfFaceName[i] = u'x';
  HFONT f = CreateFontIndirectW(&log);
  EXPECT_TRUE(f);
  DeleteObject(FontObj(f));
  log.lfFaceName[31] = u'x';
  EXPECT_FALSE(CreateFontIndirectW(&log));
  EXPECT_FALSE(CreateFontIndirectW(nullptr));

  // GetTextFaceW cuts to the room given and reports the length asked for.
  TTextDib d(4, 4);
  d.Use(FontLog(u"Arial", -12));
  char16_t small[4] = {u'?', u'?', u'?', u'?'};
  EXPECT_EQ(GetTextFaceW(d.Dc, 0, nullptr), 16);
  EXPECT_EQ(GetTextFaceW(d.Dc, 4, small), 4);
  EXPECT_EQ(std::u16string(small), u"Lib");
  EXPECT_EQ(GetTextFaceW(d.Dc, 0, small), 0);
}

TEST_F(FontTest, SizesZeroTinyAndHuge) {
  struct {
    LONG Height;
    LONG ExpectHeight;
  } const cases[] = {
      {0, 14},           // 12 px: 11 + 3
      {-1, 1},           // 1 px: 0.9 + 0.2
      {INT_MIN, 2288},  // clamped to 2048 px: the font units themselves
      {INT_MAX, 2288},
  };
  for (const auto& c : cases) {
    TTextDib d(16, 16);
    d.Use(FontLog(u"Arial", c.Height));
    ASSERT_TRUE(d.Font) << c.Height;
    TEXTMETRICW tm;
    ASSERT_TRUE(GetTextMetricsW(d.Dc, &tm));
    EXPECT_EQ(tm.tmHeight, c.ExpectHeight) << c.Height;
    SIZE size{};
    EXPECT_TRUE(GetTextExtentPoint32W(d.Dc, u"Wg", 2, &size));
    // Drawing a glyph far larger than the bitmap only clips.
    EXPECT_TRUE(ExtTextOutW(d.Dc, -5, -3, 0, nullptr, u"W", 1, nullptr));
  }
}

TEST_F(FontTest, WeightAndItalicPickFacesOrSynthesiseThem) {
  EXPECT_EQ(FileOf(FontLog(u"Arial", -13)), "LiberationSans-Regular.ttf");
  EXPECT_EQ(FileOf(FontLog(u"Arial", -13, FW_BOLD)), "LiberationSans-Bold.ttf");
  EXPECT_EQ(FileOf(FontLog(u"Arial", -13, 900, true)), "LiberationSans-BoldItalic.ttf");
  EXPECT_EQ(FileOf(FontLog(u"Arial", -13, 300)), "LiberationSans-Regular.ttf");
  EXPECT_EQ(FileOf(FontLog(u"Tahoma", -13)), "DejaVuSans.ttf");  // not the condensed or light faces
  EXPECT_EQ(FileOf(FontLog(u"Tahoma", -13, FW_BOLD)), "DejaVuSans-Bold.ttf");

  // WenQuanYi has one face: bold and italic are made from it, and metrics follow.
  TTextDib regular(4, 4), bold(4, 4), italic(4, 4);
  regular.Use(FontLog(u"Microsoft YaHei UI", -24));
  bold.Use(FontLog(u"Microsoft YaHei UI", -24, FW_BOLD));
  italic.Use(FontLog(u"Microsoft YaHei UI", -24, 0, true));
  TEXTMETRICW tm;
  ASSERT_TRUE(GetTextMetricsW(bold.Dc, &tm));
  EXPECT_EQ(tm.tmWeight, 700);
  SIZE r{}, b{};
  ASSERT_TRUE(GetTextExtentPoint32W(regular.Dc, u"AAAA", 4, &r));
  ASSERT_TRUE(GetTextExtentPoint32W(bold.Dc, u"AAAA", 4, &b));
  EXPECT_EQ(b.cx, r.cx + 4);  // one px per glyph at 24 px
  ABC ra, ba, ia;
  ASSERT_TRUE(GetCharABCWidthsW(regular.Dc, u'l', u'l', &ra));
  ASSERT_TRUE(GetCharABCWidthsW(bold.Dc, u'l', u'l', &ba));
  ASSERT_TRUE(GetCharABCWidthsW(italic.Dc, u'l', u'l', &ia));
  EXPECT_GT(ba.abcB, ra.abcB);
  EXPECT_GT(ia.abcB, ra.abcB + 2);  // the sheared stem leans right
  EXPECT_EQ(ia.abcA + int(ia.abcB) + ia.abcC, ra.abcA + int(ra.abcB) + ra.abcC);  // same advance
}

TEST_F(FontTest, HandlesSelectionAndDeletionFailCleanly) {
  TTextDib d(4, 4);
  LOGFONTW log = FontLog(u"Arial", -13);
  HFONT font = CreateFontIndirectW(&log);
  ASSERT_TRUE(font);
  // The first selection gives back the stock font, which survives DeleteObject.
  HGDIOBJ stock = SelectObject(d.Dc, FontObj(font));
  EXPECT_EQ(stock, GetStockObject(DEFAULT_GUI_FONT));
  EXPECT_FALSE(DeleteObject(FontObj(font)));  // still selected
  EXPECT_EQ(SelectObject(d.Dc, stock), FontObj(font));
  EXPECT_TRUE(DeleteObject(FontObj(font)));
  EXPECT_TRUE(DeleteObject(stock));
  EXPECT_EQ(FaceOf(d.Dc), u"DejaVu Sans");  // the stock "Tahoma" still works
  // Every use of the deleted handle fails.
  EXPECT_FALSE(DeleteObject(FontObj(font)));
  EXPECT_FALSE(SelectObject(d.Dc, FontObj(font)));
  EXPECT_FALSE(gdi::RealiseFont(font));
  EXPECT_FALSE(SelectObject(nullptr, stock));
  // A font is let go when its DC goes.
  HFONT second = CreateFontIndirectW(&log);
  HDC dc = CreateCompatibleDC(nullptr);
  SelectObject(dc, FontObj(second));
  EXPECT_FALSE(DeleteObject(FontObj(second)));
  DeleteDC(dc);
  EXPECT_TRUE(DeleteObject(FontObj(second)));
  // Bad DCs and arguments.
  TEXTMETRICW tm;
  SIZE size;
  ABC abc;
  EXPECT_FALSE(GetTextMetricsW(dc, &tm));
  EXPECT_FALSE(GetTextMetricsW(d.Dc, nullptr));
  EXPECT_FALSE(GetTextExtentPoint32W(dc, u"a", 1, &size));
  EXPECT_FALSE(GetTextExtentPoint32W(d.Dc, nullptr, 3, &size));
  EXPECT_FALSE(GetTextExtentPoint32W(d.Dc, u"a", -1, &size));
  EXPECT_FALSE(GetCharABCWidthsW(dc, u'a', u'a', &abc));
  EXPECT_EQ(GetOutlineTextMetricsW(dc, 0, nullptr), 0u);
  EXPECT_EQ(GetTextFaceW(dc, 0, nullptr), 0);
  EXPECT_EQ(SetTextColor(dc, 0), CLR_INVALID);
  EXPECT_EQ(SetBkMode(d.Dc, 7), 0);
  EXPECT_EQ(SetTextAlign(d.Dc, 6), GDI_ERROR);
  EXPECT_FALSE(ExtTextOutW(dc, 0, 0, 0, nullptr, u"a", 1, nullptr));
  EXPECT_FALSE(ExtTextOutW(d.Dc, 0, 0, 0x100, nullptr, u"a", 1, nullptr));  // unsupported flag
  EXPECT_FALSE(ExtTextOutW(d.Dc, 0, 0, 0, nullptr, nullptr, 1, nullptr));
  // Screen DCs measure but have nothing to draw on.
  HDC screen = GetDC(nullptr);
  EXPECT_TRUE(GetTextMetricsW(screen, &tm));
  EXPECT_TRUE(ExtTextOutW(screen, 0, 0, 0, nullptr, u"a", 1, nullptr));
  ReleaseDC(nullptr, screen);
}

TEST_F(FontTest, ExtTextOutBlendsCoverageLinearlyInsideTheInkBox) {
  const LOGFONTW arial = FontLog(u"Arial", -13);
  TTextDib black(40, 20);
  black.Use(arial);
  EXPECT_EQ(SetBkMode(black.Dc, TRANSPARENT), OPAQUE);
  ASSERT_TRUE(ExtTextOutW(black.Dc, 3, 2, 0, nullptr, u"Hi", 2, nullptr));
  // Ink stays in the ABC box of "Hi" (x 3 + A .. 3 + 9 + advance of 'i') and
  // the cell rows; untouched pixels keep their value, touched ones alpha 0.
  long total = 0;
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 40; ++x) {
      const int ink = black.Ink(x, y);
      total += ink;
      if (!ink) {
        EXPECT_EQ(black.Px(x, y)[3], 255) << x << "," << y;
        continue;
      }
      EXPECT_EQ(black.Px(x, y)[3], 0);
      EXPECT_TRUE(x >= 4 && x < 3 + 9 + 3 && y >= 2 && y < 2 + 15) << x << "," << y;
    }
  // The outlines' area at 13 px: 'H' about 27 px (stems 2 x 1.2 x 8.9, bar),
  // 'i' about 9; the grey raster must hold that ink within 5 %.
  EXPECT_NEAR(total / 255.0, 35.9, 35.9 * 0.05);
  if (::testing::Test::HasFailure())
    for (int y = 0; y < 20; ++y) {
      std::string row;
      for (int x = 0; x < 20; ++x) row += " .:-=+*#%@"[black.Ink(x, y) * 9 / 255];
      ADD_FAILURE() << row;
    }

  // The same text in grey gives c = 255 + (100 - 255) * m / 255 per pixel,
  // within rounding: the key-colour alpha recovery relies on it.
  TTextDib grey(40, 20);
  grey.Use(arial);
  SetBkMode(grey.Dc, TRANSPARENT);
  SetTextColor(grey.Dc, RGB(100, 100, 100));
  ASSERT_TRUE(ExtTextOutW(grey.Dc, 3, 2, 0, nullptr, u"Hi", 2, nullptr));
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 40; ++x) EXPECT_NEAR(grey.Px(x, y)[1], 255 - 155.0 * black.Ink(x, y) / 255, 1.0);

  // Glyph indices with explicit advances draw what the string drew.
  TTextDib glyphs(40, 20);
  glyphs.Use(arial);
  SetBkMode(glyphs.Dc, TRANSPARENT);
  const char16_t ids[2] = {43, 76};  // 'H', 'i'
  const int dx[2] = {9, 3};
  ASSERT_TRUE(ExtTextOutW(glyphs.Dc, 3, 2, ETO_GLYPH_INDEX, nullptr, ids, 2, dx));
  EXPECT_EQ(std::memcmp(glyphs.Bits, black.Bits, 40 * 20 * 4), 0);

  // ETO_CLIPPED: nothing outside the rectangle.
  TTextDib clipped(40, 20);
  clipped.Use(arial);
  SetBkMode(clipped.Dc, TRANSPARENT);
  const RECT r{0, 0, 7, 20};
  ASSERT_TRUE(ExtTextOutW(clipped.Dc, 3, 2, ETO_CLIPPED, &r, u"Hi", 2, nullptr));
  int inside = 0;
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 40; ++x) {
      if (x >= 7) EXPECT_EQ(clipped.Ink(x, y), 0) << x << "," << y;
      else inside += clipped.Ink(x, y) == black.Ink(x, y) ? 0 : 1;
    }
  EXPECT_EQ(inside, 0);
  // The DC's clip region limits text the same way.
  TTextDib region(40, 20);
  region.Use(arial);
  SetBkMode(region.Dc, TRANSPARENT);
  HRGN clipRgn = CreateRectRgnIndirect(&r);
  SelectClipRgn(region.Dc, clipRgn);
  DeleteObject(reinterpret_cast<HGDIOBJ>(clipRgn));
  ASSERT_TRUE(ExtTextOutW(region.Dc, 3, 2, 0, nullptr, u"Hi", 2, nullptr));
  EXPECT_EQ(std::memcmp(region.Bits, clipped.Bits, 40 * 20 * 4), 0);

  // A 24-bit target with TA_BASELINE: the same ink, one ascent higher.
  TTextDib rgb(40, 20, 0xFFFFFFFF, 24);
  rgb.Use(arial);
  SetBkMode(rgb.Dc, TRANSPARENT);
  EXPECT_EQ(SetTextAlign(rgb.Dc, TA_BASELINE), TA_TOP);
  ASSERT_TRUE(ExtTextOutW(rgb.Dc, 3, 14, 0, nullptr, u"Hi", 2, nullptr));
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 40; ++x) EXPECT_EQ(rgb.Ink(x, y), black.Ink(x, y)) << x << "," << y;
}

TEST_F(FontTest, ExtTextOutBackgroundsUnderlineAndStrikeOut) {
  // OPAQUE fills the cell (advance x height) with the bk colour; ETO_OPAQUE the rectangle.
  TTextDib d(40, 30);
  d.Use(FontLog(u"Arial", -13));
  SetBkColor(d.Dc, RGB(0, 0, 255));
  ASSERT_TRUE(ExtTextOutW(d.Dc, 2, 3, 0, nullptr, u"  ", 2, nullptr));
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) {
      const bool cell = x >= 2 && x < 10 && y >= 3 && y < 18;
      EXPECT_EQ(d.Px(x, y)[0], 255) << x << "," << y;
      EXPECT_EQ(d.Px(x, y)[1], cell ? 0 : 255) << x << "," << y;
      EXPECT_EQ(d.Px(x, y)[2], cell ? 0 : 255) << x << "," << y;
    }
  const RECT box{30, 20, 35, 25};
  ASSERT_TRUE(ExtTextOutW(d.Dc, 0, 0, ETO_OPAQUE, &box, u"", 0, nullptr));
  EXPECT_EQ(d.Px(32, 22)[1], 0);
  EXPECT_EQ(d.Px(35, 22)[1], 255);
  EXPECT_EQ(d.Px(29, 22)[1], 255);

  // Underline and strike-out run across blanks too.
  LOGFONTW log = FontLog(u"Arial", -40);
  log.lfUnderline = 1;
  log.lfStrikeOut = 1;
  TTextDib u(40, 50);
  u.Use(log);
  SetBkMode(u.Dc, TRANSPARENT);
  ASSERT_TRUE(ExtTextOutW(u.Dc, 0, 0, 0, nullptr, u"  ", 2, nullptr));  // two blanks of 11 px
  // Baseline 36: underline at 36 - (-1) for 3 rows, strike-out at 36 - 10 for 2 rows.
  for (int y = 0; y < 50; ++y) {
    const bool bar = (y >= 37 && y < 40) || (y >= 26 && y < 28);
    EXPECT_EQ(u.Ink(0, y), bar ? 255 : 0) << y;
    EXPECT_EQ(u.Ink(21, y), bar ? 255 : 0) << y;
    EXPECT_EQ(u.Ink(22, y), 0) << y;
  }
}
