// GIF data of any shape through the animation source and the atlas loader.
// Whatever opens must answer every frame number with a composition or a
// clean false, and a frame must not depend on the way it was reached: a jump
// straight to it gives the pixels of playing up to it in order. The atlas
// has exactly the tiles its tag tells.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "ZmLib/Graphics/zmGifLoader.h"
#include "ZmLib/Graphics/zmGraphicsModules.h"
#include "fuzz/FuzzCommon.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zmfuzz::QuietDebugOutput();
  zmfuzz::StartModules({zm::CoreModules(), zm::GraphicsModules()});
  return 0;
}

namespace {

using namespace zm;

TRef<TMemoryStream> StreamOf(const std::uint8_t* data, std::size_t size) {
  TRef<TMemoryStream> s = MakeRef<TMemoryStream>();
  if (size) s->Write(TWriteBuffer(data, size));
  s->SetPosition(0);
  return s;
}

TRef<TDirectBitmap> Compose(TGifVideoSource* source, std::int32_t n) {
  TRef<TDirectBitmap> out =
      MakeRef<TDirectBitmap>(source->ScreenWidth, PixelFormatByName(TByteString("A8R8G8B8")), source->ScreenHeight);
  return source->ComposeFrame(n, out.get()) ? out : nullptr;
}

bool SamePixels(TDirectBitmap* a, TDirectBitmap* b) {
  for (std::int32_t y = 0; y < a->Height(); ++y)
    if (std::memcmp(a->Row32(y), b->Row32(y), std::size_t(a->Width()) * 4) != 0) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1 << 20)) return 0;
  // Screens beyond a million pixels only make the run slow, not deeper.
  if (size >= 10 && std::int64_t(data[6] | (data[7] << 8)) * (data[8] | (data[9] << 8)) > (1 << 20)) return 0;

  TRef<TMemoryStream> s = StreamOf(data, size);
  TRef<TGifVideoSource> jump = MakeRef<TGifVideoSource>(s.get(), u"fuzz.gif", false);
  if (jump->Open()) {
    zmfuzz::Check(jump->FrameCount() >= 1 && jump->Info.FrameRate > 0 && jump->Duration() > 0);
    const std::int32_t last = jump->FrameCount() - 1;
    TRef<TDirectBitmap> target =
        MakeRef<TDirectBitmap>(jump->ScreenWidth, PixelFormatByName(TByteString("R8G8B8")), jump->ScreenHeight);
    for (std::int32_t p : {0, 1, 5, 3, 23, 12, 0, 1000000}) {
      zmfuzz::Check(jump->SeekFrame(p));
      jump->GetFrameBitmap(target.get());
      const std::int32_t f = jump->FrameForPosition(p);
      zmfuzz::Check(f >= 0 && f <= last);
    }

    // Frames reached by jumps against frames played in order on a second source.
    TRef<TMemoryStream> s2 = StreamOf(data, size);
    TRef<TGifVideoSource> played = MakeRef<TGifVideoSource>(s2.get(), u"fuzz.gif", false);
    zmfuzz::Check(played->Open() && played->FrameCount() == jump->FrameCount());
    const std::int32_t upTo = std::min(last, 40);
    std::vector<TRef<TDirectBitmap>> inOrder;
    for (std::int32_t n = 0; n <= upTo; ++n) {
      TRef<TDirectBitmap> b = Compose(played.get(), n);
      if (!b) break;
      inOrder.push_back(b);
    }
    for (std::int32_t n : {upTo, 11, 2, upTo - 1, 20, 0, 31}) {
      if (n < 0 || n > upTo) continue;
      TRef<TDirectBitmap> b = Compose(jump.get(), n);
      if (std::size_t(n) < inOrder.size()) zmfuzz::Check(b && SamePixels(b.get(), inOrder[std::size_t(n)].get()));
    }
  }
  jump = nullptr;

  s->SetPosition(0);
  TRef<TBitmapStore> store = LoadGif(s.get(), u"fuzz.gif|framesatlas", false, {}, true);
  if (store) {
    auto* wrapper = dynamic_cast<TWrapperBitmapStore*>(store.get());
    zmfuzz::Check(wrapper && wrapper->Bitmap());
    if (TTilesTag* tag = store->FindTag<TTilesTag>())
      zmfuzz::Check(tag->FrameCount >= 1 && tag->TileWidth * tag->FrameCount == wrapper->Bitmap()->Width() &&
                    tag->TileHeight == wrapper->Bitmap()->Height());
  }
  return 0;
}
