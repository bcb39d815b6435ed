#include <gtest/gtest.h>

#include "ZmLib/Graphics/zmColorHSL.h"
#include "ZmLib/VectorGraphics/zmButtonProducer.h"
#include "tests/ZmLib/Graphics/GraphicsTestUtil.h"
#include "tests/ZmLib/VectorGraphics/ButtonSkinFixture.h"
#include "tests/ZmLib/VectorGraphics/FakeVectorizer.h"

using namespace zm;
using zmtest::kSkinH;
using zmtest::kSkinW;
using zmtest::SkinColumn;
using zmtest::SkinPixel;

namespace buttonproducer_test {

// The face's pixels, "A8R8G8B8", row after row.
std::vector<std::uint32_t> Pixels(TImage* image) {
  TBitmap* b = image->Store()->GetMipLevel(0, FindPixelFormat(PF_A8R8G8B8), nullptr);
  std::vector<std::uint32_t> out(std::size_t(b->Width()) * std::size_t(b->Height()));
  for (std::int32_t y = 0; y < b->Height(); ++y)
    b->GetPixels32({out.data() + std::size_t(y * b->Width()), std::size_t(b->Width())}, 0, 0, y, b->Width());
  return out;
}

void ExpectFace(TImage* face, std::int32_t state, std::int32_t width) {
  ASSERT_TRUE(face);
  ASSERT_EQ(face->Params.Width, width);
  ASSERT_EQ(face->Params.Height, kSkinH);
  const std::vector<std::uint32_t> p = Pixels(face);
  for (std::int32_t y = 0; y < kSkinH; ++y)
    for (std::int32_t x = 0; x < width; ++x)
      ASSERT_EQ(p[std::size_t(y * width + x)], SkinPixel(state, SkinColumn(x, width), y))
          << "state " << state << " width " << width << " at " << x << "," << y;
}

// What the error text picture of Message looks like.
std::vector<std::uint32_t> ErrorPicture(const WideString& message, TPoint& size) {
  TRef<TStringList> lines = MakeRef<TStringList>();
  lines->Add(message);
  TRef<TVectorText> text = CreateVectorText(MakeFontParams(u"Tahoma", 0, false, 8.25f, {}, {}), *lines);
  TRef<TTextProducer> producer = MakeRef<TTextProducer>();
  producer->SetText(text.get(), false);
  TRef<TDirectBitmap> b = producer->Render(TColor32::FromValue(0xFFFFFF00), TColor32::FromValue(0xFF0000FF), 1.0);
  size = b->Size();
  return Pixels(GetSysBitmapHook(b.get(), false, u"expected").get());
}

void ExpectError(TImage* image, const WideString& message) {
  ASSERT_TRUE(image);
  TPoint size;
  const std::vector<std::uint32_t> want = ErrorPicture(message, size);
  EXPECT_EQ((TPoint{image->Params.Width, image->Params.Height}), size);
  EXPECT_TRUE(Pixels(image) == want);
}

// Runs the test without the global picture cache, restoring it after.
struct TNoCacheScope {
  TNoCacheScope() { FiniButtonProducer(); }
  ~TNoCacheScope() { InitButtonProducer(); }
};


TEST(ButtonProducer, FacesPerStateRepeatOneColumnOverTheMiddleSpan) {
  zmtest::TSkinFolder skins;
  skins.Skin("faces");
  TRef<TButtonProducerHost> host = MakeRef<TButtonProducerHost>(skins.Loader(), nullptr);
  TButtonProducer* producer = host->GetProducer(u"faces");
  ASSERT_TRUE(producer->LoadFromFile(skins.IniName("faces"), u"faces"));
  EXPECT_TRUE(producer->Loaded);
  EXPECT_EQ(producer->SkinWidth, kSkinW);
  EXPECT_EQ(producer->SkinHeight, kSkinH);
  EXPECT_EQ(producer->Part(2, bpRightBottom).FileName, u"click.bmp");
  EXPECT_EQ(producer->Part(2, bpRightBottom).Left, 9);
  EXPECT_EQ(producer->TextColor, MakeColor32(0xFF, 0x80, 0x00, 255));
  EXPECT_FLOAT_EQ(producer->BtnOffset, 1.5f);
  EXPECT_FLOAT_EQ(producer->BtnMinWidth, 40);
  EXPECT_EQ(producer->Filtering, bfBilinear);
  for (std::int32_t state = 0; state < 3; ++state)
    for (std::int32_t width : {12, 20, 31}) {
      TRef<TImage> face = producer->MakeBitmap(std::uint8_t(state), width, 0, 0, 0);
      ExpectFace(face.get(), state, width);
      EXPECT_EQ(face->Params.FileName, MakeButtonKey(u"faces", std::uint8_t(state), width, 0, 0, 0));
    }
  // Nine faces, three pictures: each loaded once, then taken from the cache.
  EXPECT_EQ(skins.Loads.load(), 3);
  EXPECT_TRUE(HashBitmaps()->FindImage(u"faces\\hover.bmp"));
}

TEST(ButtonProducer, ColourShiftIsTheHslAdjustmentOfThePlainFace) {
  zmtest::TSkinFolder skins;
  skins.Skin("hsl");
  TRef<TButtonProducer> producer = MakeRef<TButtonProducer>(skins.Loader(), nullptr);
  ASSERT_TRUE(producer->LoadFromFile(skins.IniName("hsl"), u"hsl"));
  TRef<TImage> plain = producer->MakeBitmap(1, 16, 0, 0, 0);
  TRef<TImage> shifted = producer->MakeBitmap(1, 16, 120, -20, 10);
  ASSERT_TRUE(plain && shifted);
  TBitmap* want = plain->GetBitmap();
  AdjustHSL(want, TRect{0, 0, 16, kSkinH}, nullptr, 120, -20, 10);
  const std::vector<std::uint32_t> got = Pixels(shifted.get()), expected = Pixels(plain.get());
  EXPECT_TRUE(got == expected);
  EXPECT_NE(got[0], SkinPixel(1, 0, 0));
  EXPECT_EQ(got[0] >> 24, SkinPixel(1, 0, 0) >> 24);  // alpha kept
}

TEST(ButtonProducer, NarrowAndInvalidFaces) {
  zmtest::TSkinFolder skins;
  skins.Skin("narrow");
  TRef<TButtonProducer> producer = MakeRef<TButtonProducer>(skins.Loader(), nullptr);
  ASSERT_TRUE(producer->LoadFromFile(skins.IniName("narrow"), u"narrow"));
  // Narrower than both sides: every copy is clipped; the right side, drawn
  // after the left, starts at W - 3.
  TRef<TImage> four = producer->MakeBitmap(0, 4, 0, 0, 0);
  ASSERT_TRUE(four);
  const std::vector<std::uint32_t> p = Pixels(four.get());
  EXPECT_EQ(p[0], SkinPixel(0, 0, 0));
  EXPECT_EQ(p[1], SkinPixel(0, 9, 0));
  EXPECT_EQ(p[3 * 4 + 3], SkinPixel(0, 11, 3));
  EXPECT_TRUE(producer->MakeBitmap(0, 1, 0, 0, 0));
  EXPECT_FALSE(producer->MakeBitmap(0, 0, 0, 0, 0));
  EXPECT_FALSE(producer->MakeBitmap(0, -7, 0, 0, 0));
  EXPECT_FALSE(producer->MakeBitmap(0, kMaxButtonWidth + 1, 0, 0, 0));
  EXPECT_FALSE(producer->MakeBitmap(3, 20, 0, 0, 0));
  EXPECT_FALSE(producer->MakeBitmap(255, 20, 0, 0, 0));
}

TEST(ButtonProducer, MissingDamagedOrWrongSizedPicturesGiveTheErrorText) {
  zmtest::TFakeVectorizerScope vectorizer;
  zmtest::TSkinFolder skins;
  skins.Skin("holes");
  skins.Remove("holes/hover.bmp");
  skins.Write("holes/click.bmp", zmtest::Bmp32(10, kSkinH, [](std::int32_t, std::int32_t) { return 0xFFFFFFFFu; }));
  TRef<TButtonProducer> producer = MakeRef<TButtonProducer>(skins.Loader(), nullptr);
  ASSERT_TRUE(producer->LoadFromFile(skins.IniName("holes"), u"holes"));
  TRef<TImage> hover = producer->MakeBitmap(1, 20, 0, 0, 0);
  ExpectError(hover.get(), u"Incorrect Image: hover.bmp");
  EXPECT_EQ(hover->Params.FileName, MakeButtonKey(u"holes", 1, 20, 0, 0, 0));
  ExpectError(producer->MakeBitmap(2, 20, 0, 0, 0).get(), u"Incorrect Image: click.bmp");
  ExpectFace(producer->MakeBitmap(0, 20, 0, 0, 0).get(), 0, 20);
  // A missing picture is asked for again: it may turn up later.
  const int loads = skins.Loads.load();
  producer->MakeBitmap(1, 20, 0, 0, 0);
  EXPECT_EQ(skins.Loads.load(), loads + 1);
  skins.Write("holes/hover.bmp", "BM this is no picture");
  ExpectError(producer->MakeBitmap(1, 20, 0, 0, 0).get(), u"Incorrect Image: hover.bmp");
  skins.Write("holes/hover.bmp",
              zmtest::Bmp32(kSkinW, kSkinH, [](std::int32_t x, std::int32_t y) { return SkinPixel(1, x, y); }));
  ExpectFace(producer->MakeBitmap(1, 20, 0, 0, 0).get(), 1, 20);
  // A loader that throws, or none at all, counts as a missing picture.
  TRef<TButtonProducer> throwing =
      MakeRef<TButtonProducer>([](const WideString&) -> TRef<TImage> { throw EExternal("disk gone"); }, nullptr);
  throwing->LoadFromFile(skins.IniName("holes"), u"holes-throwing");
  ExpectError(throwing->MakeBitmap(0, 20, 0, 0, 0).get(), u"Incorrect Image: normal.bmp");
  TRef<TButtonProducer> none = MakeRef<TButtonProducer>(nullptr, nullptr);
  none->LoadFromFile(skins.IniName("holes"), u"holes-none");
  ExpectError(none->MakeBitmap(0, 20, 0, 0, 0).get(), u"Incorrect Image: normal.bmp");
}

TEST(ButtonProducer, WithoutAVectorizerAnErrorIsNil) {
  zmtest::TSkinFolder skins;
  TRef<TButtonProducer> producer = MakeRef<TButtonProducer>(skins.Loader(), nullptr);
  EXPECT_FALSE(producer->LoadFromFile(skins.IniName("nothing"), u"nothing"));
  EXPECT_EQ(producer->SkinName, u"nothing");
  EXPECT_FALSE(producer->Loaded);
  EXPECT_FALSE(producer->MakeBitmap(0, 20, 0, 0, 0));
}

TEST(ButtonProducer, NoCacheGivesFileOpenError) {
  zmtest::TFakeVectorizerScope vectorizer;
  zmtest::TSkinFolder skins;
  skins.Skin("nocache");
  TRef<TButtonProducer> producer = MakeRef<TButtonProducer>(skins.Loader(), nullptr);
  ASSERT_TRUE(producer->LoadFromFile(skins.IniName("nocache"), u"nocache"));
  {
    TNoCacheScope noCache;
    EXPECT_EQ(HashBitmaps(), nullptr);
    ExpectError(producer->MakeBitmap(0, 20, 0, 0, 0).get(), u"FileOpenError");
    EXPECT_EQ(skins.Loads.load(), 0);
  }
  ExpectFace(producer->MakeBitmap(0, 20, 0, 0, 0).get(), 0, 20);
}

TEST(ButtonProducer, ProgressAfterEveryColumnAndCancel) {
  zmtest::TSkinFolder skins;
  skins.Skin("cancel");
  int calls = 0, cancelAt = 0;
  TButtonProducer* seen = nullptr;
  TRef<TButtonProducerHost> host = MakeRef<TButtonProducerHost>(skins.Loader(), [&](TButtonProducer* p, bool& cancel) {
    seen = p;
    cancel = ++calls == cancelAt;
  });
  TButtonProducer* producer = host->GetProducer(u"cancel");
  ASSERT_TRUE(producer->LoadFromFile(skins.IniName("cancel"), u"cancel"));
  // Width 20: centre, top and bottom 14 columns each, left and right 3, four corners 3.
  ExpectFace(producer->MakeBitmap(2, 20, 0, 0, 0).get(), 2, 20);
  EXPECT_EQ(calls, 60);
  EXPECT_EQ(seen, producer);
  for (int at : {1, 10, 45, 60}) {
    calls = 0;
    cancelAt = at;
    EXPECT_FALSE(producer->MakeBitmap(2, 20, 0, 0, 0)) << at;
    EXPECT_EQ(calls, at);
  }
  cancelAt = 0;
  ExpectFace(producer->MakeBitmap(2, 20, 0, 0, 0).get(), 2, 20);
}

TEST(ButtonProducer, HostKeepsOneProducerPerSkin) {
  int loaderCalls = 0;
  TRef<TButtonProducerHost> host = MakeRef<TButtonProducerHost>(
      [&](const WideString&) -> TRef<TImage> {
        ++loaderCalls;
        return nullptr;
      },
      nullptr);
  TButtonProducer* a = host->GetProducer(u"aqua");
  TButtonProducer* b = host->GetProducer(u"metal");
  EXPECT_EQ(host->GetProducer(u"aqua"), a);
  EXPECT_EQ(host->GetProducer(u"metal"), b);
  EXPECT_NE(a, b);
  EXPECT_NE(host->GetProducer(u"Aqua"), a);
  EXPECT_EQ(host->ProducerCount(), 3);
  EXPECT_EQ(b->SkinName, u"metal");
  ASSERT_TRUE(b->Loader);
  b->Loader(u"x");
  EXPECT_EQ(loaderCalls, 1);
}

TEST(ButtonProducer, SkinFileFields) {
  TRef<TButtonProducer> producer = MakeRef<TButtonProducer>(nullptr, nullptr);
  EXPECT_TRUE(zmtest::Contains(zmtest::AssertionOf([&] { producer->Load(nullptr); }),
                               "TButtonProducer.Load - Ini not Assigned"));
  TRef<TIniFile> ini = MakeRef<TIniFile>();
  ini->LoadFromText(
      TByteString("[NormalState]\r\nLeftTop= a.bmp , 1, x, 3 ,4y\r\nTop=b.bmp\r\nRight=c.bmp,1,2,77,4,99\r\n"
                  "Bottom=,,,,-8\r\n[TextParams]\r\nFiltering=nearest\r\n"));
  producer->Load(ini.get());
  const TButtonPart& lt = producer->Part(0, bpLeftTop);
  EXPECT_EQ(lt.FileName, u"a.bmp");
  EXPECT_EQ((std::vector<std::int32_t>{lt.Left, lt.Top, lt.Right, lt.Bottom}), (std::vector<std::int32_t>{1, 0, 3, 0}));
  EXPECT_EQ(producer->Part(0, bpTop).FileName, u"b.bmp");
  EXPECT_EQ(producer->Part(0, bpTop).Right, 0);
  EXPECT_EQ(producer->SkinWidth, 77);
  EXPECT_EQ(producer->SkinHeight, -8);
  EXPECT_EQ(producer->Part(1, bpCenter).FileName, u"");
  EXPECT_EQ(producer->Filtering, bfNearest);
  EXPECT_EQ(producer->TextColor, MakeColor32(0, 0, 0, 255));
  EXPECT_EQ(producer->BtnOffset, 0);
  // A skin of no height: every picture has the wrong size.
  zmtest::TFakeVectorizerScope vectorizer;
  EXPECT_TRUE(producer->MakeBitmap(0, 20, 0, 0, 0));
}

TEST(ButtonProducer, HostileRectanglesStayInsideThePictures) {
  zmtest::TSkinFolder skins;
  skins.Skin("hostile");
  std::string ini = zmtest::SkinIni();
  const std::string far = "normal.bmp,2147483647,-2147483648,2147483647,2147483647";
  for (const char* key : {"\nCenter=normal.bmp,3,2,9,4", "\nTop=normal.bmp,3,0,9,2", "\nLeftTop=normal.bmp,0,0,3,2"})
    ini.replace(ini.find(key), std::string(key).size(),
                std::string(key).substr(0, std::string(key).find('=') + 1) + far);
  skins.Write("hostile/skin.ini", ini);
  TRef<TButtonProducer> producer = MakeRef<TButtonProducer>(skins.Loader(), nullptr);
  ASSERT_TRUE(producer->LoadFromFile(skins.IniName("hostile"), u"hostile"));
  TRef<TImage> face = producer->MakeBitmap(0, 40, 0, 0, 0);
  ASSERT_TRUE(face);
  EXPECT_EQ(Pixels(face.get())[0], 0u);  // the top-left corner read nothing
}

TEST(ButtonProducer, AStateWithItsOwnLayoutIsPlacedFromTheFaceEdges) {
  // The click parts on the right and at the bottom lie one column left and
  // one row up of the picture's edges: they still end at the face's edges.
  zmtest::TSkinFolder skins;
  skins.Skin("layout");
  std::string ini = zmtest::SkinIni();
  const std::size_t click = ini.find("[ClickState]");
  for (auto [from, to] : {std::pair{"RightTop=click.bmp,9,0,12,2", "RightTop=click.bmp,8,0,11,2"},
                          {"Right=click.bmp,9,2,12,4", "Right=click.bmp,8,2,11,4"},
                          {"RightBottom=click.bmp,9,4,12,6", "RightBottom=click.bmp,8,3,11,5"},
                          {"Bottom=click.bmp,3,4,9,6", "Bottom=click.bmp,3,3,9,5"},
                          {"LeftBottom=click.bmp,0,4,3,6", "LeftBottom=click.bmp,0,3,3,5"}})
    ini.replace(ini.find(from, click), std::string(from).size(), to);
  skins.Write("layout/skin.ini", ini);
  TRef<TButtonProducer> producer = MakeRef<TButtonProducer>(skins.Loader(), nullptr);
  ASSERT_TRUE(producer->LoadFromFile(skins.IniName("layout"), u"layout"));
  const std::int32_t width = 17;
  TRef<TImage> face = producer->MakeBitmap(2, width, 0, 0, 0);
  ASSERT_TRUE(face);
  const std::vector<std::uint32_t> p = Pixels(face.get());
  for (std::int32_t y = 0; y < kSkinH; ++y)
    for (std::int32_t x = 0; x < width; ++x) {
      const std::int32_t sx = x < 3 ? x : x >= width - 3 ? x - (width - 3) + 8 : 3, sy = y < 4 ? y : y - 1;
      ASSERT_EQ(p[std::size_t(y * width + x)], SkinPixel(2, sx, sy)) << x << "," << y;
    }
}

}  // namespace buttonproducer_test
