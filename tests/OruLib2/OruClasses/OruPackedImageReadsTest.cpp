// Packed images read from a show's entry streams keep polling the load
// callback while their pixel data are copied and decoded, and still decode.
#include "OruLib2/OruClasses/OruPackedImageReads.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "OruLib2/OruClasses/zmStreamUtils.h"
#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/SysGfxLoader.h"
#include "ZmLib/Graphics/zmImage.h"
#include "ZmLib/wpLoadCallBack.h"
#include "ZmLib/zmHookScope.h"
#include "tests/support/kit/BmpWriter.h"
#include "tests/support/kit/StreamBytes.h"

using namespace oru;
using zm::MakeRef;
using zm::TRef;

namespace {

std::uint32_t ColorAt(int x, int y) { return 0xFF000000u | std::uint32_t(x * 7) << 16 | std::uint32_t(y * 5) << 8 | 9u; }

std::string Bmp32(int w, int h) { return zmtest::Bmp32(w, h, ColorAt); }
std::string RawDeflate(const std::string& data) { return zmtest::RawDeflate(data, 1); }
std::string Packed(int w, int h, const std::string& payload) {
  return zmtest::PackedPicture(zmtest::PackedPictureFields(w, h), payload);
}

int gPolls = 0;
bool CountLoadPoll() {
  ++gPolls;
  return true;
}

// The process-wide load callback counted while alive.
struct TCountPolls {
  TCountPolls() { gPolls = 0; }
  zm::THookScope<zm::TLoadCallbackProc> callback{zm::LoadCallbackProc, &CountLoadPoll};
};

// An entry stream as the show's file access opens it: a window polling the
// load callback in 256-byte blocks.
TRef<TPartialStream> EntryOf(const std::string& bytes, bool withCallback = true) {
  TRef<zm::TMemoryStream> m = zmtest::MemoryStreamOf(bytes);
  TRef<TPartialStream> w = MakeRef<TPartialStream>(m.Detach(), true, 0, std::int64_t(bytes.size()));
  if (withCallback) w->SetReadCallback(TPartialStream::kCallbackBlockSize, &LoadCallbackRead, nullptr);
  return w;
}

}  // namespace

TEST(PackedImageReads, EntryStreamKeepsPollingThroughCopyAndDecode) {
  // The start-up module table installed the handler.
  ASSERT_EQ(zm::GfxReadTransformHook, &PackedImageReadTransform);
  const int w = 40, h = 30;
  const std::string payload = RawDeflate(Bmp32(w, h));
  TCountPolls polls;
  TRef<zm::TBitmapStore> store;
  {
    TRef<TPartialStream> entry = EntryOf(Packed(w, h, payload));
    store = zm::LoadBitmapStore(entry.get(), u"pictures\\p.zmgfx", false, {});
  }  // the entry is gone: the image keeps its own data
  auto* gfx = dynamic_cast<zm::TGfxBitmapStore*>(store.get());
  ASSERT_TRUE(gfx);
  auto* data = dynamic_cast<TPartialStream*>(gfx->Image()->Data.get());
  ASSERT_TRUE(data);
  EXPECT_EQ(data->ReadCallback(), &LoadCallbackRead);
  EXPECT_EQ(data->BlockSize(), TPartialStream::kCallbackBlockSize);
  EXPECT_EQ(data->GetSize(), std::int64_t(payload.size()));

  const int beforeDecode = gPolls;
  zm::TBitmap* bitmap = gfx->Image()->GetBitmap();
  ASSERT_TRUE(bitmap);
  // The deflated bytes and then the BMP's are read in blocks of 256 at most.
  EXPECT_GE(gPolls - beforeDecode, int((payload.size() + Bmp32(w, h).size()) / 256));
  auto* level0 = dynamic_cast<zm::TDirectBitmap*>(bitmap);
  ASSERT_TRUE(level0);
  for (int y : {0, h - 1})
    for (int x : {0, w / 2, w - 1}) {
      std::uint32_t v;
      std::memcpy(&v, level0->PixelAddress(x, y), 4);
      EXPECT_EQ(v, ColorAt(x, y)) << x << "," << y;
    }
}

TEST(PackedImageReads, PlainStreamsAndWindowsWithoutCallbackStayPlain) {
  const std::string bytes = Packed(3, 2, RawDeflate(Bmp32(3, 2)));
  TRef<zm::TMemoryStream> plain = zmtest::MemoryStreamOf(bytes);
  TRef<TPartialStream> quiet = EntryOf(bytes, false);
  for (zm::TStream* s : {static_cast<zm::TStream*>(plain.get()), static_cast<zm::TStream*>(quiet.get())}) {
    TRef<zm::TGfxImage> image = MakeRef<zm::TGfxImage>();
    ASSERT_TRUE(image->Load(s, u"p", false));
    EXPECT_TRUE(dynamic_cast<zm::TMemoryStream*>(image->Data.get()));
    EXPECT_TRUE(image->GetBitmap());
  }
  EXPECT_FALSE(PackedImageReadTransform(nullptr, plain.get()));
  EXPECT_FALSE(PackedImageReadTransform(EntryOf(bytes).get(), nullptr));
}

TEST(PackedImageReads, DamagedDataFromAnEntryRaisesOnDecodeOnly) {
  // A final block of the reserved type.
  const std::string payload(700, char(0xFF));
  TCountPolls polls;
  TRef<TPartialStream> entry = EntryOf(Packed(16, 16, payload));
  TRef<zm::TGfxImage> image = MakeRef<zm::TGfxImage>();
  ASSERT_TRUE(image->Load(entry.get(), u"p", false));
  EXPECT_THROW(image->GetBitmap(), zm::EStreamError);
  EXPECT_FALSE(image->Data);
  EXPECT_FALSE(image->GetBitmap());
}
