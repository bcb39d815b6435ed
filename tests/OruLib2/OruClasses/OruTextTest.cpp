#include "OruLib2/OruClasses/OruText.h"

#include "OruLib2/OruClasses/OruButton.h"
#include "ZmLib/zmHookScope.h"

#include <cmath>
#include <limits>
#include <map>
#include <numbers>

#include "OruLib2/OruClasses/OruTextBitmapStore.h"
#include "ZmLib/Graphics/zmShadows.h"
#include "tests/OruLib2/OruClasses/OruGlyphCacheTestKit.h"
#include "tests/OruLib2/OruClasses/OruImageTestKit.h"
#include "tests/support/kit/StreamBytes.h"
#include "tests/support/kit/TextValueCut.h"

namespace {

using namespace oru_image_test;
using oru::objects::TOruText;
using oru_test::TCountingVectorizer;
using oru_test::TGlyphTestScope;

TEST(OruText, TextValueParagraphs) {
  using V = std::vector<WideString>;
  EXPECT_EQ(ParseTextValue(zm::TByteString("Hello\\nWorld")), (V{u"Hello", u"World"}));
  EXPECT_EQ(ParseTextValue(zm::TByteString("a\\\\nb")), (V{u"a\\nb"}));
  EXPECT_EQ(ParseTextValue(zm::TByteString("\\n")), (V{u"", u""}));
  EXPECT_EQ(ParseTextValue(zm::TByteString("")), (V{u""}));
  // A bad escape or a trailing backslash: the whole value reads as empty.
  EXPECT_EQ(ParseTextValue(zm::TByteString("ab\\q")), (V{u""}));
  EXPECT_EQ(ParseTextValue(zm::TByteString("ab\\")), (V{u""}));
  // UTF-8 survives; raw line ends (which an ini value cannot hold) still split once each.
  EXPECT_EQ(ParseTextValue(zm::TByteString("\xC3\xA9t\xC3\xA9\r\n\n\rx")), (V{u"\u00e9t\u00e9", u"", u"x"}));
}

TEST(OruText, OnlyWhatTheCutKeepsIsRead) {
  using V = std::vector<WideString>;
  // Paragraphs past those kept are not made; a long line keeps one
  // character past its cut, so that the cut still sees it.
  std::string many;
  for (int i = 0; i < 300000; ++i) many += "a\\n";
  const V parsed = ParseTextValue(zm::TByteString(many));
  EXPECT_EQ(parsed, V(kMaxTextLines, u"a"));
  const V line = ParseTextValue(zm::TByteString(std::string(5000000, 'x') + "\\ny"));
  ASSERT_EQ(line.size(), 2u);
  EXPECT_EQ(line[0], WideString(kMaxTextLineLength + 1, u'x'));
  EXPECT_EQ(line[1], u"y");
  // A bad escape far past the cut still empties the text.
  EXPECT_EQ(ParseTextValue(zm::TByteString(many + "\\q")), V{u""});

  // Whatever the bytes, the text shows what decoding the whole value shows:
  // long lines of multi-byte characters, pairs, bad and cut sequences, long
  // runs of stray continuation bytes, line ends of every kind near the cuts,
  // also line ends encoded overlong.
  const std::vector<std::string> pieces = {"a",
                                           "\xC0\x8A",
                                           "\xE0\x80\x8D",
                                           "\xC3\xA9",
                                           "\xE2\x82\xAC",
                                           "\xF0\x9F\x98\x80",
                                           "\xED\xA0\xBD\xED\xB8\x80",
                                           "\x80",
                                           std::string(40, '\x80'),
                                           "\xC3",
                                           "\xF0\x9F",
                                           "\xFE",
                                           "\xFC\x80\x80\x80\x80\x80",
                                           "\\\\",
                                           "\\n",
                                           "\r",
                                           "\n",
                                           "\r\\n",
                                           "\n\r"};
  auto same = [](const std::string& value) {
    std::vector<WideString> got = ParseTextValue(zm::TByteString(value));
    CutText(got);
    return got == zmtest::WholeTextCut(value);
  };
  // Every three pieces between two characters.
  for (const auto& a : pieces)
    for (const auto& b : pieces)
      for (const auto& c : pieces) {
        const std::string value = "a" + a + b + c + "bz";
        EXPECT_TRUE(same(value)) << ::testing::PrintToString(value);
      }
  // Many lines, long ones past the cut.
  std::uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1664525u + 1013904223u, seed >> 8; };
  for (int round = 0; round < 30; ++round) {
    std::string value;
    const std::uint32_t lines = 1 + next() % (round % 3 == 0 ? 1200 : 6);
    for (std::uint32_t l = 0; l < lines; ++l) {
      const std::uint32_t length = next() % (l % 7 == 0 ? 2500 : 30);
      for (std::uint32_t k = 0; k < length; ++k) {
        const std::uint32_t pick = next() % 100;
        value += pick < 60 ? pieces[0] : pieces[1 + pick % (pieces.size() - 6)];
      }
      value += pieces[pieces.size() - 5 + next() % 5];
    }
    EXPECT_TRUE(same(value)) << "round " << round;
  }
}

TEST(OruText, RasterScaleLimits) {
  // 400 % of a 1080-pixel container for a text of 120 x 30 at scale 1.
  const double s = LimitTextRasterScale(4 * 1080 / 30.0, 120, 30);
  EXPECT_LE(30 * s, kMaxTextRasterSide);
  EXPECT_LE(120 * 30 * s * s, kMaxTextRasterArea);
  EXPECT_GT(120 * 30 * (2 * s) * (2 * s), kMaxTextRasterArea);  // halved no further than needed
  // A very tall single line is held by its height.
  EXPECT_LE(200000 * LimitTextRasterScale(1, 10, 200000), kMaxTextRasterSide);
  EXPECT_EQ(LimitTextRasterScale(2, 10, 10), 2);
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  for (double bad : {0.0, -1.0, nan, inf}) EXPECT_EQ(LimitTextRasterScale(bad, 10, 10), 0);
  EXPECT_EQ(LimitTextRasterScale(1, 0, 10), 0);
  EXPECT_EQ(LimitTextRasterScale(1, 10, inf), 0);
  const double huge = LimitTextRasterScale(1e300, 1e300, 1e300);
  EXPECT_TRUE(huge >= 0 && huge * 1e300 <= kMaxTextRasterSide);
}

TEST(OruText, TextsLargerThanASlideAreCut) {
  using V = std::vector<WideString>;
  const WideString full(kMaxTextLineLength, u'x');
  // At the limits nothing is cut.
  V lines(kMaxTextLength / kMaxTextLineLength, full);
  EXPECT_FALSE(CutText(lines));
  EXPECT_EQ(lines.size(), kMaxTextLength / kMaxTextLineLength);
  // One character more in all ends the text there: the last line is cut,
  // the lines after it go.
  lines.push_back(u"yz");
  EXPECT_TRUE(CutText(lines));
  EXPECT_EQ(lines.size(), kMaxTextLength / kMaxTextLineLength);
  // Too many lines, each short.
  V many(kMaxTextLines + 5, u"ab");
  EXPECT_TRUE(CutText(many));
  EXPECT_EQ(many.size(), kMaxTextLines);
  // Too many empty lines: only their count is cut.
  V empty(3 * kMaxTextLines, u"");
  EXPECT_TRUE(CutText(empty));
  EXPECT_EQ(empty, V(kMaxTextLines, u""));
  // A long line is cut at the limit, never inside a surrogate pair.
  V one{full + u"more", WideString(kMaxTextLineLength - 1, u'a') + u"\U0001F600b"};
  EXPECT_TRUE(CutText(one));
  EXPECT_EQ(one[0], full);
  EXPECT_EQ(one[1], WideString(kMaxTextLineLength - 1, u'a'));
}

// A show's files: cached outlines and anything else a test stores.
class TMapSource : public TFileSource {
public:
  std::map<WideString, std::string> files;
  zm::TStream* OpenFile(const WideString& name) override {
    auto it = files.find(name);
    return it == files.end() ? nullptr : zmtest::MemoryStreamOf(it->second).Detach();
  }
};

zm::TSize BufferSize(void*, TOruSlideHost*) { return {64, 32}; }
zm::TFloatPoint3 Camera(void*, TOruSlideHost*) { return {0, 0, -100}; }
TOruSource* NoSource(void*, TOruSlideHost*) { return nullptr; }

class OruTextObjects : public ::testing::Test {
protected:
  void SetUp() override {
    source = zm::MakeRef<TMapSource>();
    accessor = zm::MakeRef<TFileAccessor>(source.get());
    MakeHost();
  }
  void MakeHost() {
    TOruHostCallbacks cb;
    cb.EffectBufferSize.Code = &BufferSize;
    cb.Camera.Code = &Camera;
    cb.ShowSource.Code = &NoSource;
    host = zm::MakeRef<TOruSlideHost>(accessor.get(), cb, u"", false);
    host->SlideCount = 7;
  }
  void TearDown() override {
    if (tree.Slide) tree.Slide->ReleaseResources(drawer);
    tree = {};
    host = nullptr;
  }
  TOruText* Build(const std::string& body, float w = 320, float h = 240) {
    tree = BuildHostedTree(body, host.get(), w, h);
    tree.Slide->PrepareResources(drawer);
    tree.Layout(0);
    return Text("T");
  }
  TOruText* Text(const std::string& name) { return dynamic_cast<TOruText*>(tree.Find(name)); }

  TGlyphTestScope glyphs;
  zm::TRef<TMapSource> source;
  zm::TRef<TFileAccessor> accessor;
  zm::TRef<TOruSlideHost> host;
  TTestTree tree;
  TLogDrawer drawer;
};

TEST_F(OruTextObjects, LoadsRendersAndDraws) {
  TOruText* t = Build(Obj("T", "Text", "Text=Hi\\nthere\r\nTextColor=255,0,0\r\nFontName=Arial\r\n"));
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->Paragraphs, (std::vector<WideString>{u"Hi", u"there"}));
  EXPECT_EQ(t->Antialiased, 0);
  EXPECT_EQ(t->ShadowEnable, 1);  // on by default for texts
  ASSERT_NE(t->Picture.get(), nullptr);
  EXPECT_EQ(t->RequestKey.substr(0, 12), u"Text: Arial:");
  EXPECT_EQ(t->RenderCount, 1);
  // Own size: the ink; the fit puts its height on the container's (Scale 100 %).
  EXPECT_GT(t->Width, 0);
  EXPECT_LE(t->Width, t->PictureWidth);
  EXPECT_NEAR(t->Height * t->ZoomY, 240, 0.5);
  EXPECT_GT(t->LineHeight, 0);
  // The raster follows the size on screen: about 240 pixels of ink.
  EXPECT_NEAR(t->PictureHeight, 240, 4);
  t->ShadowEnable = 0;
  t->PrepareDraw(drawer);
  ASSERT_EQ(drawer.images.size(), 1u);
  EXPECT_TRUE(drawer.images[0].Params.Tinted);
  EXPECT_EQ(drawer.images[0].Params.TintColour, t->CorrectedColours[TOruText::kTextColour]);
  EXPECT_EQ(t->Colour(TOruText::kTextColour), (zm::TColor24{0, 0, 255}));
  // Laying out again at another time reuses the bitmap.
  tree.Layout(500);
  EXPECT_EQ(t->RenderCount, 1);
  // A taller container (a resized window) wants a sharper raster.
  tree.Slide->Height = 480;
  tree.Layout(600);
  EXPECT_EQ(t->RenderCount, 2);
  EXPECT_NEAR(t->PictureHeight, 480, 4);
}

// A caption half a 1440-pixel slide high casts its default shadow: blurred
// by ShadowSize at the scale of its line height, the shadow's picture no
// larger than the text's, its offset a percentage of three line heights.
// A ShadowSize of the show's own is kept and makes its own shadow.
TEST_F(OruTextObjects, ShadowCostsAboutItsTextAndBlursByItsSize) {
  TOruText* t = Build(Obj("T", "Text", "Text=Caption 1\r\nShadowDistance=0\r\n"), 1920, 720);
  ASSERT_NE(t, nullptr);
  ASSERT_NE(t->Picture.get(), nullptr);
  t->PrepareDraw(drawer);
  ASSERT_NE(t->Shadow.get(), nullptr);
  zm::TImage* shadow = t->Shadow->Image();
  ASSERT_NE(shadow, nullptr);
  EXPECT_EQ(t->ShadowSize, 16);  // the default, as drawn
  auto keyBlur = [&] {
    zm::TShadowParams key;
    zm::ParseShadowKey(t->Shadow->Key(), key);
    return double(key.Blur);
  };
  const double scale = ImageShadowScale(TImageKind::Text, t->MipLevel, t->Width, t->Height, t->LineHeight);
  EXPECT_NEAR(keyBlur(), 16 * scale, 1e-3 * 16 * scale);
  const double text = double(t->PictureWidth) * t->PictureHeight;
  EXPECT_GT(text, 1e6);  // large enough to be worked at a reduced size
  EXPECT_LE(double(shadow->Params.Width) * shadow->Params.Height, text);

  // ShadowDistance 10: the shadow moves by a tenth of three line heights at 45 degrees.
  auto shadowDraw = [&]() -> const TImageCall* {
    for (const TImageCall& c : drawer.images)
      if (c.Image == t->Shadow->Image()) return &c;
    return nullptr;
  };
  const TImageCall still = *shadowDraw();
  drawer.images.clear();
  t->ShadowDistance = 10;
  t->PrepareDraw(drawer);
  ASSERT_NE(shadowDraw(), nullptr);
  const TImageCall moved = *shadowDraw();
  const double pixel = std::hypot(still.AxisX.X, still.AxisX.Y) / t->Shadow->WorkScale();  // per picture pixel
  const double d = 10 * std::nearbyint(3.0 * t->LineHeight) / 100 * pixel;
  EXPECT_NEAR(moved.Origin.X - still.Origin.X, d * std::cos(std::numbers::pi / 4), 0.01 * d);
  EXPECT_NEAR(moved.Origin.Y - still.Origin.Y, d * std::sin(std::numbers::pi / 4), 0.01 * d);

  t->ShadowSize = 4;
  t->PrepareDraw(drawer);
  EXPECT_EQ(t->ShadowSize, 4);
  EXPECT_NEAR(keyBlur(), 4 * scale, 1e-3 * 4 * scale);
}

TEST_F(OruTextObjects, EmptyTextsAreOneBlank) {
  Build(Obj("T", "Text", "") + Obj("U", "Text", "Text=\\n\\n\r\n") + Obj("V", "Text", "Text=\\x\r\n"));
  for (const char* name : {"T", "U", "V"}) {
    TOruText* t = Text(name);
    ASSERT_NE(t, nullptr) << name;
    EXPECT_EQ(t->Paragraphs, std::vector<WideString>{u" "}) << name;
    EXPECT_EQ(t->Empty, 1) << name;
  }
}

TEST_F(OruTextObjects, ColourChangesRenderOnlyWhenTheColoursWereOrBecomeOne) {
  Build(Obj("T", "Text", "Text=one\r\n") +
        Obj("M", "Text", "Text=many\r\nTextColor=255,0,0\r\nTextColorHover=0,255,0\r\nTextColorClick=0,0,255\r\n"));
  TOruText* one = Text("T");
  TOruText* many = Text("M");
  ASSERT_TRUE(one && many);
  one->SetColour(TOruText::kHoverColour, {1, 2, 3});
  EXPECT_EQ(one->NeedsRender, 1);
  EXPECT_TRUE(one->Changed);
  one->RequestImage();
  EXPECT_EQ(one->RenderCount, 2);

  many->SetColour(TOruText::kHoverColour, {9, 9, 9});
  EXPECT_EQ(many->NeedsRender, 0);
  many->SetColour(TOruText::kHoverColour, {9, 9, 9});  // the same colour again: nothing
  many->RequestImage();
  EXPECT_EQ(many->RenderCount, 1);
  // The mouse state picks the colour the bitmap is tinted with.
  zm::TColor24 c;
  many->Changed = false;
  static_cast<TOruMouseStateItem*>(many)->SetMouseState(2);
  EXPECT_TRUE(many->Changed);
  ASSERT_TRUE(many->GetDrawColour(c));
  EXPECT_EQ(c, many->CorrectedColours[TOruText::kClickColour]);
  many->MouseState = 200;  // out of range: the click colour, not past the array
  ASSERT_TRUE(many->GetDrawColour(c));
  // Becoming one colour renders again.
  many->SetColour(TOruText::kTextColour, {9, 9, 9});
  many->SetColour(TOruText::kClickColour, {9, 9, 9});
  EXPECT_EQ(many->NeedsRender, 1);
}

TEST_F(OruTextObjects, MacrosExpandAgainstTheSlide) {
  TOruText* t = Build(Obj("T", "Text",
                          "Text=Slide <%SlideIndex%> of <%SLIDESCOUNT%>\\n<%MainImg.Exif.Date%>\r\n"));
  ASSERT_NE(t, nullptr);
  ASSERT_EQ(t->Expanded.size(), 2u);
  EXPECT_EQ(t->Expanded[0], u"Slide 1 of 7");
  EXPECT_EQ(t->Expanded[1], u" ");  // no main picture: empty, which expands to a blank
  EXPECT_EQ(t->Paragraphs[0], u"Slide <%SlideIndex%> of <%SLIDESCOUNT%>");
}

TEST_F(OruTextObjects, OneCommentPerSlide) {
  Build(Obj("T", "Text", "Text=a\r\nIsComment=1\r\n") + Obj("U", "Text", "Text=b\r\nIsComment=1\r\n"));
  TOruText* a = Text("T");
  TOruText* b = Text("U");
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->IsComment, 0);
  EXPECT_EQ(b->IsComment, 1);
  a->SetIsComment(true);
  EXPECT_EQ(a->IsComment, 1);
  EXPECT_EQ(b->IsComment, 0);
}

TEST_F(OruTextObjects, ButtonCaptionKeepsItsFirstParagraph) {
  Build(Obj("B", "Button", Obj("T", "Text", "Text=OK\\nignored\r\nTextColor=255,0,0\r\n") +
                               Obj("U", "Text", "Text=not\\na caption\r\n")));
  TOruText* t = Text("T");
  TOruText* u = Text("U");
  ASSERT_TRUE(t && u);
  EXPECT_EQ(t->IsCaption, 1);
  EXPECT_EQ(t->Paragraphs, std::vector<WideString>{u"OK"});
  EXPECT_EQ(t->ShadowEnable, 0);
  EXPECT_EQ(t->TranspForClick, 1);
  EXPECT_EQ(u->IsCaption, 0);  // only the first child
  EXPECT_EQ(u->Paragraphs.size(), 2u);
  for (std::int32_t i = 0; i < 3; ++i) EXPECT_EQ(t->Colour(i), (zm::TColor24{0, 0, 255}));  // its TextColor
  // The skin's caption colour replaces all three; reading the keys again
  // does not bring the second paragraph back, and the key colour wins.
  ASSERT_NE(SetCaptionColourHook, nullptr);
  SetCaptionColourHook(t, {0, 255, 0});
  for (std::int32_t i = 0; i < 3; ++i) EXPECT_EQ(t->Colour(i), (zm::TColor24{0, 255, 0}));
  SetCaptionColourHook(u->Parent(), {0, 0, 0});  // not a text: ignored
  t->Load(t->Props(), true);
  EXPECT_EQ(t->Paragraphs, std::vector<WideString>{u"OK"});
  for (std::int32_t i = 0; i < 3; ++i) EXPECT_EQ(t->Colour(i), (zm::TColor24{0, 0, 255}));
  EXPECT_EQ(t->ShadowEnable, 0);
}

// A prepared bitmap stands in for the text (here the placeholder of a
// missing file); turning Rasterize off goes back to the fonts.
TEST_F(OruTextObjects, RasterizedTextUsesItsPreparedBitmap) {
  TOruText* t = Build(
      Obj("T", "Text", "Text=a\\nb\r\nLineSpacing=100\r\nRasterize=1\r\nRasterizedGUID={no-such}.png\r\n"));
  ASSERT_NE(t, nullptr);
  ASSERT_NE(t->Picture.get(), nullptr);
  EXPECT_EQ(t->RenderCount, 0);
  EXPECT_EQ(t->RequestKey, u"{no-such}.png");
  EXPECT_NEAR(t->LineHeight, t->Height / 2.5, 1e-3);  // two lines and half a line of spacing
  t->SetRasterize(false);
  EXPECT_EQ(t->Picture.get(), nullptr);
  EXPECT_TRUE(t->Changed);
  t->RequestImage();
  EXPECT_EQ(t->RenderCount, 1);
  EXPECT_EQ(t->RequestKey.substr(0, 6), u"Text: ");
}

TEST_F(OruTextObjects, AbsurdSizesAndUnknownFonts) {
  // 1e9 % and 400 % of the slide, a container of nothing, a font nobody has.
  TOruText* t = Build(Obj("T", "Text", "Text=big\r\n" + KeyAt(0, "ScaleX=1000000000\r\nScaleY=1000000000\r\n")) +
                      Obj("U", "Text", "Text=i\r\n" + KeyAt(0, "ScaleY=100\r\n") + KeyAt(1000, "ScaleY=400\r\n")) +
                      Obj("F", "Text", "Text=font\r\nFontName=No Such Font 123\r\nFontStyle=Bold,Italic\r\n"),
                      1920, 1080);
  ASSERT_NE(t, nullptr);
  for (const char* name : {"T", "U"}) {
    TOruText* x = Text(name);
    ASSERT_NE(x, nullptr);
    EXPECT_LE(x->PictureHeight, kMaxTextRasterSide) << name;
    EXPECT_LE(x->PictureWidth, kMaxTextRasterSide) << name;
    EXPECT_LE(double(x->PictureWidth) * x->PictureHeight, kMaxTextRasterArea * 1.1) << name;
  }
  // Rendered for the largest size of its animation (4320, or half that for the area limit), not 1080.
  EXPECT_GE(Text("U")->PictureHeight, 2 * 1080);
  TOruText* f = Text("F");
  ASSERT_NE(f, nullptr);
  EXPECT_NE(f->Picture.get(), nullptr);  // a fallback font draws it

  TTestTree none = BuildHostedTree(Obj("Z", "Text", "Text=zero\r\n"), host.get(), 0, 0);
  auto* z = dynamic_cast<TOruText*>(none.Find("Z"));
  ASSERT_NE(z, nullptr);
  none.Slide->PrepareResources(drawer);
  none.Layout(0);
  EXPECT_EQ(z->Picture.get(), nullptr);
  z->PrepareDraw(drawer);
  none.Slide->ReleaseResources(drawer);
}

TEST_F(OruTextObjects, LongTextsAreCutBeforeTheyAreLaidOut) {
  // Two megabytes in one paragraph, and 200,000 short paragraphs.
  std::string line;
  while (line.size() < 2000000) line += "lorem ipsum dolor sit amet ";
  std::string paragraphs;
  for (int i = 0; i < 200000; ++i) paragraphs += "line " + std::to_string(i) + "\\n";
  Build(Obj("T", "Text", "Text=" + line + "\r\nFontName=Arial\r\n") +
        Obj("U", "Text", "Text=" + paragraphs + "\r\nFontName=Arial\r\n"));
  TOruText* t = Text("T");
  TOruText* u = Text("U");
  ASSERT_TRUE(t && u);
  ASSERT_EQ(t->Paragraphs.size(), 1u);
  EXPECT_EQ(t->Paragraphs[0].size(), kMaxTextLineLength);
  EXPECT_EQ(u->Paragraphs.size(), kMaxTextLines);
  EXPECT_EQ(u->Paragraphs.back(), u"line 999");
  // Only what was kept is laid out and drawn.
  EXPECT_LE(TCountingVectorizer::Elements, 2 * 2 * std::int32_t(kMaxTextLines + 1));
  for (TOruText* x : {t, u}) {
    ASSERT_NE(x->Picture.get(), nullptr);
    EXPECT_LT(x->RequestKey.size(), 2 * kMaxTextLength);
    EXPECT_LE(double(x->PictureWidth) * x->PictureHeight, kMaxTextRasterArea * 1.1);
  }
}

TEST_F(OruTextObjects, GlyphsAreSharedByTextsOfOneFont) {
  Build(Obj("T", "Text", "Text=Hello\r\nFontName=Arial\r\n") + Obj("U", "Text", "Text=hole\r\nFontName=Arial\r\n"));
  ASSERT_TRUE(Text("T")->Picture && Text("U")->Picture);
  // H e l o, then h: each glyph outlined once for both texts.
  EXPECT_EQ(TCountingVectorizer::Made, 5);
}

// Outlines stored in the show for the text's key: what a show made on
// another machine carries.
std::string StoredOutlines(const WideString& font, std::initializer_list<const char16_t*> lines,
                           std::map<WideString, std::string>& files) {
  zm::TRef<zm::TStringList> l = oru_test::LinesOf(lines);
  zm::TRef<TCachedVectorText> text =
      BuildCachedVectorText(zm::MakeFontParams(font, 0, true, kCachedTextFontSize, {}, {}), *l);
  EXPECT_TRUE(text);
  zm::TRef<zm::TMemoryStream> s = zm::MakeRef<zm::TMemoryStream>();
  SaveCachedVectorText(text.get(), s.get());
  std::int32_t index;
  const WideString fontKey = text->Lines()[0]->Glyphs[0]->FontKey;
  zm::TRef<zm::TMemoryStream> g = zm::MakeRef<zm::TMemoryStream>();
  FontCache()->Find(fontKey, index)->SaveToStream(g.get());
  files[VectorTextCacheName(fontKey)] = zmtest::StreamBytes(g.get());
  return zmtest::StreamBytes(s.get());
}

// The "VectTxt2: " entry of a one-line text.
WideString VectorKey(const WideString& font, const char16_t* line) {
  zm::TTextKeyParams p = zm::DefaultTextKeyParams;
  p.FontName = font;
  return zm::MakeVectorTextKey(zm::MakeTextKey(*zm::EncodeMarkedLines(*oru_test::LinesOf({line})), p));
}

TEST_F(OruTextObjects, StoredVectorTextStandsInForTheFonts) {
  const WideString key = VectorKey(u"Arial", u"Go");
  source->files[key] = StoredOutlines(u"Arial", {u"Go"}, source->files);
  // A fresh cache and no vectoriser at all: only the show's outlines can draw it.
  FontCache()->SetContext(u"{another machine}");
  zm::THookScope vectorizer(zm::CreateVectorizerHook, &zm::DefCreateVectorizer);
  TCountingVectorizer::Made = 0;
  TOruText* t = Build(Obj("T", "Text", "Text=Go\r\nFontName=Arial\r\n") + Obj("U", "Text", "Text=Stop\r\n"));
  ASSERT_NE(t, nullptr);
  EXPECT_NE(t->Picture.get(), nullptr);
  EXPECT_GT(t->Width, 0);
  EXPECT_EQ(TCountingVectorizer::Made, 0);
  EXPECT_EQ(Text("U")->Picture.get(), nullptr);  // nothing stored, no fonts: nothing drawn
}

TEST_F(OruTextObjects, DamagedStoredOutlines) {
  const WideString key = VectorKey(u"Arial", u"Go");
  std::string good = StoredOutlines(u"Arial", {u"Go"}, source->files);
  for (std::size_t cut : {std::size_t(0), std::size_t(3), good.size() / 2}) {
    source->files[key] = cut == 3 ? std::string(200, '\xFF') : good.substr(0, cut);
    FontCache()->SetContext(u"{damaged show}" + WideString(1, char16_t(u'0' + cut % 10)));
    MakeHost();  // a new host: no picture cached from the last round
    // With fonts the text is outlined anew.
    TOruText* t = Build(Obj("T", "Text", "Text=Go\r\nFontName=Arial\r\n"));
    ASSERT_NE(t, nullptr);
    EXPECT_NE(t->Picture.get(), nullptr) << cut;
  }
  // Without fonts a damaged entry draws what it can or nothing, never crashes.
  zm::THookScope vectorizer(zm::CreateVectorizerHook, &zm::DefCreateVectorizer);
  FontCache()->SetContext(u"{damaged, no fonts}");
  MakeHost();
  TOruText* t = Build(Obj("T", "Text", "Text=Go\r\nFontName=Arial\r\n"));
  ASSERT_NE(t, nullptr);
  t->PrepareDraw(drawer);
}

}  // namespace
