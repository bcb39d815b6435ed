#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "ZmLib/VectorGraphics/zmTextProducer.h"
#include "ZmLib/VectorGraphics/zmVectorText.h"
#include "ZmLib/Win32/Fonts/winTextVectorizer.h"

using namespace zm;

namespace {

// The ink of a picture: pixels at least half dark, counted per row and per
// band of 8 columns.
struct TInk {
  std::int32_t Width = 0, Height = 0;
  std::vector<int> Rows, Bands;
};

TInk InkOf(TDirectBitmap* b) {
  TInk ink{b->Width(), b->Height(), std::vector<int>(std::size_t(b->Height())),
           std::vector<int>(std::size_t((b->Width() + 7) / 8))};
  std::vector<std::uint32_t> row(std::size_t(b->Width()));
  for (std::int32_t y = 0; y < b->Height(); ++y) {
    b->GetPixels32({row.data(), row.size()}, 0, 0, y, b->Width());
    for (std::int32_t x = 0; x < b->Width(); ++x)
      if ((row[std::size_t(x)] & 0xFF) < 128) {
        ++ink.Rows[std::size_t(y)];
        ++ink.Bands[std::size_t(x / 8)];
      }
  }
  return ink;
}

std::string Join(const std::vector<int>& v) {
  std::ostringstream s;
  for (std::size_t i = 0; i < v.size(); ++i) s << (i ? ", " : "") << v[i];
  return s.str();
}

// Each count may be off by 2 + 10%: anti-aliasing and rounding of the
// rasteriser, not a glyph moved to another row or band.
void ExpectNear(const std::vector<int>& got, const std::vector<int>& want, const char* what) {
  ASSERT_EQ(got.size(), want.size()) << what << ": " << Join(got);
  for (std::size_t i = 0; i < got.size(); ++i)
    EXPECT_NEAR(got[i], want[i], 2 + want[i] / 10) << what << " " << i << "; all: " << Join(got);
}

}  // namespace

// Three centred lines of the private fonts drawn through the system
// vectoriser: size, rows and columns of ink as they were when checked by eye.
TEST(TextPicture, ParagraphMatchesItsInkProfile) {
  TRef<TStringList> lines = MakeRef<TStringList>();
  lines->Add(u"The quick brown fox");
  lines->Add(u"jumps over 12 lazy dogs,");
  lines->Add(u"AVA Wolf");
  const TFontParams font = MakeFontParams(u"Arial", 0, false, 14, TColor24{}, TColor24{255, 255, 255});
  TRef<TVectorText> text = CreateVectorText(font, *lines);
  ASSERT_TRUE(text);
  TRef<TTextProducer> producer = MakeRef<TTextProducer>();
  producer->SetText(text.get(), false);
  producer->Alignment = taCenter;
  TRef<TDirectBitmap> b = producer->Render(TColor32{0, 0, 0, 255}, TColor32{255, 255, 255, 255}, 1.0);
  ASSERT_TRUE(b);
  const TInk ink = InkOf(b.get());
  const TInk want{219,
                  65,
                  {0,  0,  0,  0,  6,  17, 7,  7,  67, 65, 48, 51, 54, 48, 47, 48, 59, 62, 2,  2,  2,  2,
                   0,  0,  0,  5,  12, 11, 9,  85, 71, 53, 58, 69, 60, 58, 57, 72, 100, 7, 10, 11, 10, 0,
                   0,  0,  3,  17, 19, 19, 25, 27, 24, 22, 24, 37, 25, 23, 24, 24, 0,  0,  0,  0,  0},
                  {41, 28, 26, 73, 58, 65, 51, 32, 77, 81, 89, 86, 67, 45,
                   94, 88, 94, 99, 95, 52, 34, 59, 73, 47, 69, 23, 19, 0}};
  EXPECT_EQ(ink.Width, want.Width);
  EXPECT_EQ(ink.Height, want.Height);
  ExpectNear(ink.Rows, want.Rows, "row");
  ExpectNear(ink.Bands, want.Bands, "band");
}
