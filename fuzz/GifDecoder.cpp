// GIF data of any shape through the reader: the first image, every further
// image read and, from the start again, skipped. Damaged data must end in a
// nil bitmap, a failed image or one of the decoder's assertions, never a
// crash, a hang or a huge allocation; a decoded frame is as large as its
// descriptor says.
#include <cstddef>
#include <cstdint>

#include "ZmLib/Graphics/zmFPReadGIF.h"
#include "ZmLib/Graphics/zmGraphicsModules.h"
#include "fuzz/FuzzCommon.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zmfuzz::QuietDebugOutput();
  zmfuzz::StartModules({zm::CoreModules(), zm::GraphicsModules()});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zm;
  if (size > (1 << 20)) return 0;
  TRef<TMemoryStream> s = MakeRef<TMemoryStream>();
  if (size) s->Write(TWriteBuffer(data, size));
  s->SetPosition(0);
  TRef<TFPReaderGif> reader = MakeRef<TFPReaderGif>();
  try {
    reader->InternalCheck(s.get());
    TRef<TDirectBitmap> b;
    reader->InternalRead(s.get(), b);
    // Each image takes at least its descriptor, so this many calls reach the end.
    for (std::size_t i = 0; i <= size / 10 + 1; ++i) {
      const std::int64_t before = s->GetPosition();
      const TGifNext next = reader->ReadNextImage(s.get(), b);
      if (next == TGifNext::End) break;
      zmfuzz::Check(s->GetPosition() > before);
      if (b) zmfuzz::Check(b->Width() == reader->Width && b->Height() == reader->Height);
    }
    s->SetPosition(0);
    reader->InternalRead(s.get(), b);
    for (std::size_t i = 0; i <= size / 10 + 1 && reader->SkipNextImage(s.get()); ++i) {
    }
  } catch (const EAbort&) {
    // The decoder's own limits.
  }
  return 0;
}
