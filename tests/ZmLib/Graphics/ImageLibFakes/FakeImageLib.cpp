// Faulty picture libraries for the image-library tests, one per variant:
// FAKE_NO_OPEN_FILE lacks "OpenImageFile"; FAKE_DEPTH opens every picture
// with that depth; FAKE_NO_ROWS opens 2 x 2 24-bit pictures whose rows never
// come. "FakeCloseCount" counts CloseImage calls.
#include <cstdint>

#include "ZmLib/Graphics/zmImageLibApi.h"

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

#ifndef FAKE_DEPTH
#define FAKE_DEPTH 24
#endif

extern "C" {
__attribute__((visibility("default"))) int FakeCloseCount = 0;
}

namespace {
int gHandle = 0;
}

FAKE_EXPORT bool OpenImage(TImageLibRecord* image, const TImageLibStream* stream) {
  // Reads through the callbacks like a real library, at a position that is
  // not the stream's own.
  std::uint8_t b[2] = {};
  if (!stream || stream->GetSize(stream->Stream) < 2 || stream->ReadAt(stream->Stream, b, 2, 0) != 2) return false;
  image->ImageHandle = &gHandle;
  image->BitsPerPixel = FAKE_DEPTH;
  image->Width = 2;
  image->Height = 2;
  image->Rows = nullptr;
  return true;
}

#ifndef FAKE_NO_OPEN_FILE
FAKE_EXPORT bool OpenImageFile(TImageLibRecord*, const char*) { return false; }
#endif

FAKE_EXPORT void ReadImage(TImageLibRecord*) {}

FAKE_EXPORT void CloseImage(TImageLibRecord* image) {
  if (image && image->ImageHandle == &gHandle) ++FakeCloseCount;
}
