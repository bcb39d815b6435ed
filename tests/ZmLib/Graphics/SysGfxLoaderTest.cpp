#include "ZmLib/Graphics/SysGfxLoader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <latch>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/SysBitmapLoader.h"
#include "ZmLib/zmHookScope.h"
#include "tests/support/kit/BmpWriter.h"
#include "tests/support/kit/StreamBytes.h"

using namespace zm;

namespace {

// The colour (A, R, G, B) of pixel (x, y) of the test pictures.
std::uint32_t ColorAt(int x, int y) {
  return 0x80000000u | std::uint32_t(x * 40) << 16 | std::uint32_t(y * 50) << 8 | 7u;
}

// A 32-bit BI_RGB BMP file, rows bottom-up.
std::string Bmp32(int w, int h) { return zmtest::Bmp32(w, h, ColorAt); }

using zmtest::RawDeflate;
using TFields = zmtest::TPackedFields;

TFields Required(int w, int h) { return zmtest::PackedPictureFields(w, h, "pic.bmp", "1234"); }

// The packed container of the fields and a payload.
std::string Packed(const TFields& fields, const std::string& payload) { return zmtest::PackedPicture(fields, payload); }

std::string PackedBmp(int w, int h) { return Packed(Required(w, h), RawDeflate(Bmp32(w, h))); }

TRef<TGfxImage> LoadImage(const std::string& bytes, bool headerOnly = false) {
  TRef<TMemoryStream> s = zmtest::MemoryStreamOf(bytes);
  TRef<TGfxImage> image = MakeRef<TGfxImage>();
  return image->Load(s.get(), u"pic", headerOnly) ? image : nullptr;
}

// Nil from the loader, and the stream where it was (behind a 3-byte prefix).
void ExpectDeclined(const std::string& bytes, const char* what) {
  TRef<TMemoryStream> s = zmtest::MemoryStreamOf("abc" + bytes);
  s->SetPosition(3);
  EXPECT_FALSE(LoadGfxBitmapStore(s.get(), u"p.zmgfx", false, {})) << what;
  EXPECT_EQ(s->GetPosition(), 3) << what;
}

}  // namespace

TEST(GfxLoader, RoundTripDecodesOnceAndHalvesFromLevelZero) {
  TRef<TMemoryStream> s = zmtest::MemoryStreamOf(PackedBmp(5, 3));
  TRef<TBitmapStore> store = LoadBitmapStore(s.get(), u"pic.zmgfx", false, {});
  auto* gfx = dynamic_cast<TGfxBitmapStore*>(store.get());
  ASSERT_TRUE(gfx);
  TGfxImage* image = gfx->Image();
  EXPECT_EQ(image->FileName, u"pic.bmp");
  EXPECT_EQ(image->OriginalSize, 1234);
  EXPECT_EQ(image->PixelFormat, u"A8R8G8B8");
  EXPECT_EQ(store->Params.Width, 5);
  EXPECT_EQ(store->Params.Height, 3);
  EXPECT_TRUE(image->Data);
  TBitmap* b0 = image->GetBitmap();
  ASSERT_TRUE(b0);
  EXPECT_FALSE(image->Data);
  EXPECT_EQ(image->GetBitmap(), b0);
  auto* level0 = dynamic_cast<TDirectBitmap*>(store->GetMipLevel(0, PixelFormatByName(PF_A8R8G8B8), nullptr));
  ASSERT_TRUE(level0);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) {
      std::uint32_t v;
      std::memcpy(&v, level0->PixelAddress(x, y), 4);
      EXPECT_EQ(v, ColorAt(x, y)) << x << "," << y;
    }
  TBitmap* level1 = store->GetMipLevel(1, nullptr, nullptr);
  ASSERT_TRUE(level1);
  EXPECT_EQ(level1->Size(), (TPoint{3, 2}));
}

TEST(GfxLoader, FieldsDuplicatesExtrasAndEmptyValues) {
  TFields f = Required(2, 2);
  f.insert(f.begin() + 1, {"Width", "2"});
  f[2].second = "999";  // the second "Width" loses
  f.push_back({"Comment", "ünïcødé"});
  f.push_back({"", ""});
  TRef<TGfxImage> image = LoadImage(Packed(f, RawDeflate(Bmp32(2, 2))));
  ASSERT_TRUE(image);
  EXPECT_EQ(image->Width, 2);
  WideString v;
  EXPECT_TRUE(image->GetStringField(u"Comment", v));
  EXPECT_EQ(v, u"ünïcødé");
  EXPECT_TRUE(image->GetStringField(u"", v));
  EXPECT_FALSE(image->GetStringField(u"width", v));  // keys compare exactly
  ASSERT_TRUE(image->GetBitmap());

  // Header only: no data kept, nothing to decode.
  TRef<TGfxImage> header = LoadImage(PackedBmp(2, 2), true);
  ASSERT_TRUE(header);
  EXPECT_FALSE(header->Data);
  EXPECT_FALSE(header->GetBitmap());
}

TEST(GfxLoader, BadHeadersAreDeclinedWithTheStreamUnmoved) {
  const std::string payload = RawDeflate(Bmp32(2, 2));
  auto with = [&](const char* key, const std::string& value) {
    TFields f = Required(2, 2);
    for (auto& [k, v] : f)
      if (k == key) v = value;
    return Packed(f, payload);
  };
  ExpectDeclined("", "empty stream");
  ExpectDeclined("ZMG", "short magic");
  ExpectDeclined("ZMGX" + PackedBmp(2, 2).substr(4), "wrong magic");
  ExpectDeclined(Packed({}, payload), "no fields");
  TFields three = Required(2, 2);
  three.pop_back();
  ExpectDeclined(Packed(three, payload), "missing field");
  ExpectDeclined(with("Width", ""), "empty Width");
  ExpectDeclined(with("Width", "12a"), "non-numeric Width");
  ExpectDeclined(with("Width", " 2"), "blank before the number");
  ExpectDeclined(with("Height", "99999999999"), "beyond int32");
  ExpectDeclined(with("OriginalSize", "$10"), "hexadecimal");
  ExpectDeclined(with("Width", "0"), "zero width");
  ExpectDeclined(with("Height", "-2"), "negative height");
  // Beyond the pixel limit: refused before the data is copied.
  ExpectDeclined(with("Width", "2147483647"), "huge width");
  ExpectDeclined(Packed({{"Width", "65536"}, {"Height", "65536"}, {"File", ""}, {"OriginalSize", "0"}}, ""),
                 "over the pixel limit");
  ExpectDeclined(with("File", "\xC3\x28"), "bad UTF-8");
  // Cut inside the fields: a key without its value, and a value whose body
  // runs past the end (read as empty, so "OriginalSize" is not a number).
  const std::string whole = Packed(Required(2, 2), "");
  ExpectDeclined(whole.substr(0, whole.size() - 6), "value missing");  // "1234" and its length
  ExpectDeclined(whole.substr(0, whole.size() - 2), "value body short");
}

namespace {
// Promises more bytes than it holds, as a cut file behind a directory would.
class TShortStream : public TMemoryStream {
public:
  std::int64_t GetSize() override { return TMemoryStream::GetSize() + 100; }
};
}  // namespace

TEST(GfxLoader, ShortCopyOfThePixelDataFails) {
  TRef<TShortStream> s = MakeRef<TShortStream>();
  const std::string bytes = PackedBmp(2, 2);
  s->Write(TWriteBuffer(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
  s->SetPosition(0);
  EXPECT_FALSE(LoadGfxBitmapStore(s.get(), u"p.zmgfx", false, {}));
  EXPECT_EQ(s->GetPosition(), 0);
  TRef<TGfxImage> image = MakeRef<TGfxImage>();
  EXPECT_TRUE(image->Load(s.get(), u"p", true));  // the header alone is whole
}

TEST(GfxLoader, ShortFieldCountRaisesAfterRewinding) {
  TRef<TMemoryStream> s = zmtest::MemoryStreamOf("xxZMGF\x01");
  s->SetPosition(2);
  EXPECT_THROW(LoadGfxBitmapStore(s.get(), u"p.zmgfx", false, {}), EStreamReadError);
  EXPECT_EQ(s->GetPosition(), 2);
}

TEST(GfxLoader, DamagedPixelDataRaisesOnFirstRequestOnly) {
  const std::string deflated = RawDeflate(Bmp32(4, 4));
  std::string flipped = deflated;
  flipped[0] = char(0xFF);  // a reserved block type
  const std::string bomb = RawDeflate(std::string(std::size_t(4) << 20, '\0'));
  const std::pair<std::string, const char*> cases[] = {
      {"", "no data"},
      {deflated.substr(0, deflated.size() / 2), "cut deflate stream"},
      {flipped, "bad block type"},
      {bomb, "inflates beyond any BMP of the size"},
  };
  for (const auto& [payload, what] : cases) {
    TRef<TGfxImage> image = LoadImage(Packed(Required(4, 4), payload));
    ASSERT_TRUE(image) << what;
    EXPECT_THROW(image->GetBitmap(), EGfxImageError) << what;
    EXPECT_FALSE(image->Data) << what;
    EXPECT_FALSE(image->GetBitmap()) << what;  // nothing left to decode
  }
  // Not a BMP at all: the reader's nil, and the store then has no level 0.
  TRef<TGfxImage> image = LoadImage(Packed(Required(4, 4), RawDeflate("not a bitmap")));
  ASSERT_TRUE(image);
  EXPECT_FALSE(image->GetBitmap());
  // Bytes after the end of the deflate stream are ignored.
  image = LoadImage(Packed(Required(4, 4), deflated + "trailing"));
  ASSERT_TRUE(image);
  EXPECT_TRUE(image->GetBitmap());
}

// A BMP of another size than the fields say is drawn over the fields' size:
// the store's size and its levels stay those of the fields.
TEST(GfxLoader, BmpOfAnotherSizeIsResampledToTheFieldsSize) {
  for (const auto& [w, h] : {std::pair{3, 4}, std::pair{8, 2}}) {
    TRef<TMemoryStream> s = zmtest::MemoryStreamOf(Packed(Required(5, 3), RawDeflate(Bmp32(w, h))));
    TRef<TBitmapStore> store = LoadBitmapStore(s.get(), u"pic.zmgfx", false, {});
    ASSERT_TRUE(store);
    auto* level0 = dynamic_cast<TDirectBitmap*>(store->GetMipLevel(0, PixelFormatByName(PF_A8R8G8B8), nullptr));
    ASSERT_TRUE(level0) << w;
    EXPECT_EQ(level0->Size(), (TPoint{5, 3}));
    // The corners land on the BMP's corners.
    const std::pair<TPoint, TPoint> corners[] = {
        {{0, 0}, {0, 0}}, {{4, 0}, {w - 1, 0}}, {{0, 2}, {0, h - 1}}, {{4, 2}, {w - 1, h - 1}}};
    for (const auto& [at, from] : corners) {
      std::uint32_t v;
      std::memcpy(&v, level0->PixelAddress(at.X, at.Y), 4);
      EXPECT_EQ(v, ColorAt(from.X, from.Y)) << w << " at " << at.X << "," << at.Y;
    }
    EXPECT_EQ(store->GetMipLevel(1, nullptr, nullptr)->Size(), (TPoint{3, 2}));
  }
}

TEST(GfxLoader, ThreadsMeetingAtTheFirstDecodeShareOneBitmap) {
  TRef<TGfxImage> image = LoadImage(PackedBmp(64, 64));
  ASSERT_TRUE(image);
  constexpr int kThreads = 4;
  std::latch go(kThreads);
  std::vector<TBitmap*> got(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i)
    threads.emplace_back([&, i] {
      go.arrive_and_wait();
      got[i] = image->GetBitmap();
    });
  for (auto& t : threads) t.join();
  ASSERT_TRUE(got[0]);
  for (TBitmap* b : got) EXPECT_EQ(b, got[0]);
}

TEST(GfxLoader, RegistrationOrderSendsEachFileToItsLoader) {
  // A packed container under ".bmp" reaches the container loader first.
  TRef<TMemoryStream> s = zmtest::MemoryStreamOf(PackedBmp(2, 2));
  EXPECT_TRUE(dynamic_cast<TGfxBitmapStore*>(LoadBitmapStore(s.get(), u"a.BMP", false, {}).get()));
  // A real BMP falls through to the plain loader.
  s = zmtest::MemoryStreamOf(Bmp32(3, 2));
  TRef<TBitmapStore> plain = LoadBitmapStore(s.get(), u"a.dib", false, {});
  auto* wrapper = dynamic_cast<TWrapperBitmapStore*>(plain.get());
  ASSERT_TRUE(wrapper);
  EXPECT_TRUE(dynamic_cast<TSysDirectWrapper*>(wrapper->Bitmap()));
  EXPECT_EQ(plain->Params.Width, 3);
  // PNG bytes under ".png" and ".gif|framesatlas" are left unmoved for the
  // next loader.
  const std::string png = "\x89PNG\r\n\x1a\n rest of a png";
  for (const char16_t* name : {u"a.png", u"a.gif|framesatlas"}) {
    s = zmtest::MemoryStreamOf(png);
    EXPECT_FALSE(LoadGfxBitmapStore(s.get(), name, false, {}));
    EXPECT_EQ(s->GetPosition(), 0);
  }
  // Neither loader takes garbage; the plain one leaves the stream too.
  s = zmtest::MemoryStreamOf("BMgarbage");
  EXPECT_FALSE(LoadPlainBitmapStore(s.get(), u"a.bmp", false, {}));
  EXPECT_EQ(s->GetPosition(), 0);
}

namespace {
std::vector<std::pair<TStream*, std::int64_t>> gWrapped;
TRef<TStream> RecordWrap(TStream* source, TStream* data) {
  gWrapped.emplace_back(source, data->GetSize());
  return TRef<TStream>(data);  // passes through unchanged
}
}  // namespace

TEST(GfxLoader, ReadTransformIsCarriedToTheCopyAndTheInflatedBitmap) {
  const std::string payload = RawDeflate(Bmp32(2, 2));
  TRef<TMemoryStream> s = zmtest::MemoryStreamOf(Packed(Required(2, 2), payload));
  gWrapped.clear();
  zm::THookScope readTransform(GfxReadTransformHook, &RecordWrap);
  TRef<TGfxImage> image = MakeRef<TGfxImage>();
  const bool loaded = image->Load(s.get(), u"pic", false);
  TStream* data = image->Data.get();
  TBitmap* bitmap = loaded ? image->GetBitmap() : nullptr;
  readTransform.Restore();
  ASSERT_TRUE(bitmap);
  ASSERT_EQ(gWrapped.size(), 2u);
  EXPECT_EQ(gWrapped[0], std::make_pair(static_cast<TStream*>(s.get()), std::int64_t(payload.size())));
  EXPECT_EQ(gWrapped[1], std::make_pair(data, std::int64_t(Bmp32(2, 2).size())));
}
