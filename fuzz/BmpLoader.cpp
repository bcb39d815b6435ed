// Bitmap files of any shape through the BMP reader: whatever it cannot read
// must end in nil with the stream back where it started, never a crash or
// an allocation the data does not justify.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "ZmLib/Graphics/zmBmpLoader.h"
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
  s->Write(TWriteBuffer(reinterpret_cast<const std::uint8_t*>("xx"), 2));
  if (size) s->Write(TWriteBuffer(data, size));
  s->SetPosition(2);
  TRef<TDirectBitmap> b = LoadBitmapFromStream(s.get());
  if (!b) {
    zmfuzz::Check(s->GetPosition() == 2);
    return 0;
  }
  // Uncompressed pictures come from bytes that are there; run-coded ones
  // stay within their bound.
  const std::int64_t bytes = std::int64_t(b->Width()) * b->Height() * b->BytesPerPixel();
  zmfuzz::Check(bytes <= kMaxBitmapBytes);
  zmfuzz::Check(std::int64_t(b->Width()) * b->Height() <=
                std::max<std::int64_t>(kMinBmpRleBoundPixels, std::int64_t(size) * kMaxBmpRlePixelsPerByte));
  return 0;
}
