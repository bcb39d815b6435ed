// Packed images of any shape through the container loader, then the first
// decode of the deflated BMP and a halved level: a broken header must end in
// nil or EStreamReadError with the stream back at its start, broken pixel
// data in EGfxImageError or no bitmap (a BMP of another size is resampled to
// the header's), never a crash or an allocation beyond what the header's
// size allows.
#include <cstddef>
#include <cstdint>

#include "ZmLib/Graphics/SysGfxLoader.h"
#include "ZmLib/Graphics/zmGraphicsModules.h"
#include "fuzz/FuzzCommon.h"

namespace {
// Larger pictures are refused here only to keep each run short.
constexpr std::int64_t kDecodePixels = 1 << 22;
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
  TRef<TBitmapStore> store;
  try {
    store = LoadGfxBitmapStore(s.get(), u"fuzz.zmgfx", false, {});
  } catch (const EStreamReadError&) {
    zmfuzz::Check(s->GetPosition() == 0);
    return 0;
  }
  if (!store) {
    zmfuzz::Check(s->GetPosition() == 0);
    return 0;
  }
  zmfuzz::Check(store->Params.Width > 0 && store->Params.Height > 0);
  if (std::int64_t(store->Params.Width) * store->Params.Height > kDecodePixels) return 0;
  auto* gfx = static_cast<TGfxBitmapStore*>(store.get());
  TBitmap* bitmap = nullptr;
  try {
    bitmap = gfx->Image()->GetBitmap();
  } catch (const EGfxImageError&) {
    zmfuzz::Check(!gfx->Image()->Data && !gfx->Image()->GetBitmap());
    return 0;
  }
  if (!bitmap) return 0;
  zmfuzz::Check(bitmap->Width() == store->Params.Width && bitmap->Height() == store->Params.Height);
  zmfuzz::Check(gfx->Image()->GetBitmap() == bitmap);
  store->GetMipLevel(1, nullptr, nullptr);
  return 0;
}
