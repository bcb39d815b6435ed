#include "ZmLib/Graphics/zmImage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ZmLib/Graphics/SysBitmapStore.h"
#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/wpFileStream.h"
#include "tests/ZmLib/Graphics/GraphicsTestUtil.h"
#include "tests/support/kit/StreamBytes.h"
#include "tests/support/kit/TempFolder.h"

using namespace zm;
using zmtest::AssertionOf;
using zmtest::Contains;

namespace {

// What the fake loaders saw, in call order.
std::vector<std::string> gCalls;
bool gAccept = false;

// A store whose level 0 is a small bitmap.
TRef<TBitmapStore> FakeStore(TStream* stream, bool ownsStream) {
  TRef<TSysBitmap> b = CreateSysBitmap(4, 2, pfR8G8B8);
  TRef<TBitmapStore> s = MakeRef<TWrapperBitmapStore>(u"fake", TImageLoadHandler{}, false, b.get());
  if (ownsStream) stream->ReleaseRef();
  return s;
}

// Loaders that note their calls; A and png accept when gAccept is set.
template <int N>
TRef<TBitmapStore> Loader(TStream* stream, const WideString&, bool owns, const TImageLoadHandler&) {
  static const char* const names[] = {"A", "png", "gif", "atlas"};
  gCalls.push_back(names[N]);
  return N < 2 && gAccept ? FakeStore(stream, owns) : nullptr;
}
constexpr TImageLoaderProc LoaderA = &Loader<0>, LoaderPng = &Loader<1>, LoaderGif = &Loader<2>,
                           LoaderAtlas = &Loader<3>;
TRef<TBitmapStore> LoaderThrows(TStream*, const WideString&, bool, const TImageLoadHandler&) {
  throw EStreamReadError();
}

class ImageLoaders : public ::testing::Test {
protected:
  void SetUp() override {
    gCalls.clear();
    gAccept = false;
    RegisterImageLoader(LoaderA, {u"*.jpg", u" jpeg"});
    RegisterImageLoader(LoaderPng, {u"png"});
    RegisterImageLoader(LoaderGif, {u".gif"});
    RegisterImageLoader(LoaderAtlas, {u".gif|framesatlas"});
  }
  void TearDown() override {
    for (TImageLoaderProc p : {LoaderA, LoaderPng, LoaderGif, LoaderAtlas, &LoaderThrows})
      UnregisterImageLoader(p);
  }
  // The loaders this test registered that were called for a name.
  std::vector<std::string> CallsFor(const WideString& name, const std::string& bytes = "data") {
    gCalls.clear();
    TRef<TMemoryStream> s = zmtest::MemoryStreamOf(bytes);
    LoadBitmapStore(s.get(), name, false, {});
    return gCalls;
  }
};

// A store that records which levels it was asked to build.
class TCountingStore : public TSysBitmapStore {
public:
  explicit TCountingStore(const TPoint& size) : TSysBitmapStore(u"count", {}, size, pfR8G8B8) {}
  void GetSourceLevel(std::int32_t level, TMipLevelResult& r) override {
    ++SourceCalls;
    if (level != 0) return;
    r.Bitmap = CreateSysBitmap(Size().X, Size().Y, pfR8G8B8);
    r.Owned = true;
  }
  int SourceCalls = 0;
};

// A store that breaks its promises on purpose.
class TBrokenStore : public TBitmapStore {
public:
  int Mode = 0;
  void BuildMipLevel(std::int32_t level, TPixelFormat*, TMipLevelResult& r, const TBitmapClass*) override {
    if (Mode == 1) r.Bitmap = CreateSysBitmap(1, 1, pfR8G8B8), r.Level = level + 1;
  }
};

}  // namespace

TEST_F(ImageLoaders, ExtensionsChooseTheLoadersInRegistrationOrder) {
  EXPECT_EQ(CallsFor(u"C:\\pics\\a.JPG"), std::vector<std::string>{"A"});
  // Without a name (or an extension) every loader is asked, in order.
  std::vector<std::string> all = CallsFor(u"");
  ASSERT_GE(all.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(all.end() - 4, all.end()),
            (std::vector<std::string>{"A", "png", "gif", "atlas"}));
  // A key with a suffix is one extension of its own.
  EXPECT_EQ(CallsFor(u"anim.gif|framesatlas"), std::vector<std::string>{"atlas"});
  EXPECT_EQ(CallsFor(u"anim.gif"), std::vector<std::string>{"gif"});
  // A ".bmp" holding PNG data goes to the ".png" loaders; the position stays.
  const std::string png("\x89PNG\r\n\x1a\n rest", 13);
  EXPECT_EQ(CallsFor(u"x.bmp", png), std::vector<std::string>{"png"});
}

// A picture goes to the loaders of what it holds, whatever its name says;
// a name that already goes to them keeps its own (an animation's suffix);
// bytes that tell nothing leave the name to choose.
TEST_F(ImageLoaders, WhatAPictureHoldsChoosesItsLoaders) {
  using V = std::vector<std::string>;
  const std::string png("\x89PNG\r\n\x1a\n rest", 13), jpeg("\xFF\xD8\xFF\xE0 rest", 9), gif("GIF89a rest");
  EXPECT_EQ(CallsFor(u"photo.jpg", png), V{"png"});
  EXPECT_EQ(CallsFor(u"photo.PNG", jpeg), V{"A"});
  EXPECT_EQ(CallsFor(u"photo", jpeg), V{"A"});
  EXPECT_EQ(CallsFor(u"anim.png", gif), V{"gif"});
  EXPECT_EQ(CallsFor(u"anim.gif|framesatlas", gif), V{"atlas"});
  EXPECT_EQ(CallsFor(u"photo.jpeg", jpeg), V{"A"});
  EXPECT_EQ(CallsFor(u"notes.png", "plain text"), V{"png"});
}

TEST(PictureFormats, FirstBytesTellTheFormat) {
  struct TCase {
    std::string Bytes;
    const char16_t* Name;
    const char16_t* Extension;
  };
  const TCase cases[] = {
      {std::string("\xFF\xD8\xFF\xDB", 4), u"JPEG", u".jpg"},
      {std::string("\x89PNG\r\n\x1a\n", 8), u"PNG", u".png"},
      {"GIF87a", u"GIF", u".gif"},
      {"BM\x36\x10", u"BMP", u".bmp"},
      {"ZMGF....", u"packed picture", u".zmgfx"},
      {std::string("RIFF\x10\0\0\0WEBPVP8L", 16), u"WebP", u""},
      {std::string("II*\0\x08\0\0\0", 8), u"TIFF", u""},
      {std::string("MM\0*\0\0\0\x08", 8), u"TIFF", u""},
      {std::string("\0\0\0\x1C" "ftypheic", 12), u"HEIF", u""},
      {std::string("\0\0\0\x1C" "ftypavif", 12), u"AVIF", u""},
      {std::string("\xFF\x0A\xFA", 3), u"JPEG XL", u""},
      {"8BPS\0\x01", u"Photoshop", u""},
      {"%PDF-1.7", u"PDF", u""},
      {"RIFF\x10\0\0\0WAVEfmt ", u"", u""},  // a sound
      {"", u"", u""},
      {"\xFF", u"", u""},  // cut short
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Bytes);
    TRef<TMemoryStream> s = zmtest::MemoryStreamOf(c.Bytes);
    s->SetPosition(0);
    const TPictureFormat f = PictureFormatOf(s.get());
    EXPECT_EQ(f.Name, c.Name);
    EXPECT_EQ(f.Extension, c.Extension);
    EXPECT_EQ(s->GetPosition(), 0);  // left where it was
  }
  EXPECT_TRUE(PictureFormatOf(nullptr).Name.empty());
}

TEST_F(ImageLoaders, OwnedStreamsAreReleasedWhenNoLoaderAccepts) {
  TRef<TMemoryStream> s = zmtest::MemoryStreamOf("data");
  s->AddRef();  // the reference handed over
  EXPECT_FALSE(LoadBitmapStore(s.get(), u"a.jpg", true, {}));
  EXPECT_EQ(s->RefCount(), 1);
  gAccept = true;
  s->AddRef();
  TRef<TImage> image = LoadImageFromStreamEx(s.get(), u"a.jpg", true);
  ASSERT_TRUE(image);
  EXPECT_EQ(s->RefCount(), 1);
  EXPECT_EQ(image->Store()->RefCount(), 1);  // the image keeps the only reference
  // A loader that raises: the exception passes on, the owned stream goes.
  RegisterImageLoader(&LoaderThrows, {u".err"});
  s->AddRef();
  EXPECT_THROW(LoadBitmapStore(s.get(), u"a.err", true, {}), EStreamReadError);
  EXPECT_EQ(s->RefCount(), 1);
}

TEST(BitmapStore, MipLevelForSize) {
  EXPECT_EQ(MipLevelForSize({1000, 1000}, 300, 300), 1);
  EXPECT_EQ(MipLevelForSize({100, 100}, 200, 200), 0);
  EXPECT_EQ(MipLevelForSize({1000, 1000}, 999, 999), 0);
  EXPECT_EQ(MipLevelForSize({1000, 10}, 1, 500), 0);  // both sides must be larger
  EXPECT_EQ(MipLevelForSize({2147483647, 2147483647}, 1, 1), 30);
  EXPECT_TRUE(Contains(AssertionOf([] { MipLevelForSize({10, 10}, 0, 5); }), "Width"));
}

TEST(BitmapStore, LevelsAreMadeOnceAndConvertedOnDemand) {
  TRef<TCountingStore> s = MakeRef<TCountingStore>(TPoint{5, 3});
  TBitmap* l0 = s->GetMipLevel(0, nullptr, nullptr);
  EXPECT_EQ(l0, s->GetMipLevel(0, pfR8G8B8, nullptr));
  TBitmap* l2 = s->GetMipLevel(2, nullptr, nullptr);
  EXPECT_EQ(l2, s->GetMipLevel(2, nullptr, nullptr));
  EXPECT_EQ(s->SourceCalls, 3);  // levels 0, 2 and 1, each once
  // Another format is converted from the level's first bitmap and kept.
  TBitmap* argb = s->GetMipLevel(1, pfA8R8G8B8, nullptr);
  EXPECT_EQ(argb, s->GetMipLevel(1, pfA8R8G8B8, nullptr));
  EXPECT_EQ(s->LevelBitmapCount(1), 2);
  EXPECT_TRUE(Contains(AssertionOf([&] { s->GetMipLevel(-1, nullptr, nullptr); }), "Index<0"));
  EXPECT_TRUE(Contains(AssertionOf([&] { s->GetMipLevel(kMaxMipLevel + 1, nullptr, nullptr); }),
                       "'Incorrect MipLevelIndex' (ZmLib\\Graphics\\zmImage, line: "));
}

TEST(BitmapStore, InconsistentStoresFailTheirAssertions) {
  TRef<TBrokenStore> s = MakeRef<TBrokenStore>();
  EXPECT_TRUE(Contains(AssertionOf([&] { s->GetMipLevel(3, nullptr, nullptr); }),
                       "'\"TBrokenStore.GetMipLevel(3)\" Not Assigned'"));
  s->Mode = 1;
  EXPECT_TRUE(Contains(AssertionOf([&] { s->GetMipLevel(3, nullptr, nullptr); }), "Incorrect MipLevelIndex"));
}
