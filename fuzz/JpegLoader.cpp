// JPEG data of any shape through the loader (copied, or decoded in place),
// the embedded-profile search and the decoder at a small and (for small
// pictures) the full level: whatever libjpeg cannot read must end in nil or
// EJPEG, never a crash or a huge allocation.
#include <cstddef>
#include <cstdint>

#include "ZmLib/Graphics/zmGraphicsModules.h"
#include "ZmLib/Graphics/zmJpegICCExtractor.h"
#include "ZmLib/Graphics/zmJpegLoader.h"
#include "fuzz/FuzzCommon.h"

namespace {
// Larger pictures are only decoded at 1/8 here, to keep each run short.
constexpr std::int64_t kFullDecodePixels = 1 << 20;
constexpr std::int64_t kAnyDecodePixels = std::int64_t(1) << 26;
}  // namespace

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
  ExtractJpegICCProfile(s.get());
  s->SetPosition(0);
  // Odd sizes hand the stream over (decoded in place), even ones are copied.
  const bool handOver = size % 2 == 1;
  if (handOver) s->AddRef();
  TRef<TBitmapStore> store = LoadJpegBitmapStore(s.get(), u"fuzz.jpg", handOver, {});
  if (!store) {
    if (handOver) s->ReleaseRef();  // a declined stream stays the caller's
    return 0;
  }
  const std::int64_t pixels = std::int64_t(store->Params.Width) * store->Params.Height;
  if (pixels > kAnyDecodePixels) return 0;
  try {
    store->GetMipLevel(4, nullptr, nullptr);
    if (pixels <= kFullDecodePixels) store->GetMipLevel(0, nullptr, nullptr);
  } catch (const EJPEG&) {
  }
  return 0;
}
