// Large pictures in memory decode in strips on several threads; what they
// make must be what one decoder makes, for damaged data too.
#include <gtest/gtest.h>

#include <cstring>
#include <span>
#include <string>

#include "ZmLib/Graphics/zmJpegLoader.h"
#include "tests/ZmLib/Graphics/GraphicsTestUtil.h"
#include "tests/support/kit/JpegWriter.h"
#include "tests/support/kit/StreamBytes.h"

using namespace zm;

namespace {

// A memory stream that does not show its memory: read in blocks, one decoder.
class TOpaqueStream : public TMemoryStream {
public:
  std::span<const std::uint8_t> MemoryView() override { return {}; }
};

TRef<TBitmapStore> LoadHandedOver(TRef<TStream> s, const WideString& name) {
  s->SetPosition(0);
  TRef<TBitmapStore> store = LoadJpegBitmapStore(s.get(), name, true, {});
  if (store) s.Detach();  // the store has it now
  return store;
}

bool SameLevel0(TBitmapStore* a, TBitmapStore* b) {
  auto* x = dynamic_cast<TSysBitmap*>(a->GetMipLevel(0, nullptr, nullptr));
  auto* y = dynamic_cast<TSysBitmap*>(b->GetMipLevel(0, nullptr, nullptr));
  if (!x || !y || x->Size() != y->Size()) return false;
  for (std::int32_t row = 0; row < x->Height(); ++row)
    if (std::memcmp(x->Row24(row), y->Row24(row), std::size_t(x->Width()) * 3) != 0) return false;
  return true;
}

}  // namespace

TEST(JpegStrips, StripsMakeWhatOneDecoderMakes) {
  struct TThreads {
    TThreads() { SetJpegDecodeThreads(2); }  // strips on any machine
    ~TThreads() { SetJpegDecodeThreads(0); }
  } threads;
  zmtest::TJpegOptions opts;
  opts.Width = 1600;
  opts.Height = 1200;
  opts.Pixel = [](int x, int y, std::uint8_t* c) {
    const unsigned v = unsigned(x * 7919 + y * 104729) * 2654435761u;
    c[0] = std::uint8_t(v >> 24), c[1] = std::uint8_t(x ^ y), c[2] = std::uint8_t(x + y);
  };
  const std::string good = zmtest::WriteJpeg(opts);
  // Cut, with bytes flipped in the parts later strips skip through.
  std::string damaged = good.substr(0, good.size() * 4 / 5);
  for (std::size_t at = good.size() / 3; at < damaged.size(); at += good.size() / 7)
    damaged[at] = char(damaged[at] ^ 0x5A);
  const auto opaqueOf = [](const std::string& bytes) {
    TRef<TOpaqueStream> opaque = MakeRef<TOpaqueStream>();
    opaque->Write(TWriteBuffer(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    return opaque;
  };
  for (const std::string& bytes : {good, damaged}) {
    TRef<TBitmapStore> strips = LoadHandedOver(zmtest::MemoryStreamOf(bytes), u"strips.jpg");
    // A stream read in blocks decodes in strips from a copy of its bytes.
    TRef<TBitmapStore> streamed = LoadHandedOver(opaqueOf(bytes), u"streamed.jpg");
    TRef<TBitmapStore> single = LoadHandedOver(opaqueOf(bytes), u"single.jpg");
    ASSERT_TRUE(strips && streamed && single);
    SetJpegDecodeThreads(1);
    single->GetMipLevel(0, nullptr, nullptr);  // kept by the store
    SetJpegDecodeThreads(2);
    EXPECT_TRUE(SameLevel0(strips.get(), single.get())) << (bytes.size() == good.size() ? "good" : "damaged");
    EXPECT_TRUE(SameLevel0(streamed.get(), single.get())) << (bytes.size() == good.size() ? "good" : "damaged");
  }
  // A kept stream cut short after loading: the copy comes up short and the
  // blocks decode what is there, as one decoder does.
  TRef<TBitmapStore> cut[2];
  for (int threads : {1, 2}) {
    SetJpegDecodeThreads(threads);
    TRef<TOpaqueStream> s = opaqueOf(good);
    TRef<TStream> hold(s.get());
    cut[threads - 1] = LoadHandedOver(hold, u"cut.jpg");
    ASSERT_TRUE(cut[threads - 1]);
    s->SetSize(std::int64_t(good.size() / 2));
    cut[threads - 1]->GetMipLevel(0, nullptr, nullptr);
  }
  EXPECT_TRUE(SameLevel0(cut[0].get(), cut[1].get()));
}
