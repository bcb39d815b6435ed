#include "ZmLib/Graphics/SysBitmapLoader.h"

#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/zmBmpLoader.h"

namespace zm {

TRef<TBitmapStore> LoadPlainBitmapStore(TStream* stream, const WideString& fileName, bool ownsStream,
                                        const TImageLoadHandler& handler) {
  if (!stream) return nullptr;
  const std::int64_t start = stream->GetPosition();
  TRef<TDirectBitmap> bitmap = LoadBitmapFromStream(stream);
  if (!bitmap) {
    stream->SetPosition(start);
    return nullptr;
  }
  TRef<TSysDirectWrapper> wrapper = MakeRef<TSysDirectWrapper>(bitmap.get(), true);
  bitmap.Detach();  // the wrapper took over the reference
  if (ownsStream) stream->ReleaseRef();
  return MakeRef<TWrapperBitmapStore>(fileName, handler, true, wrapper.Detach());
}

void InitSysBitmapLoader() { RegisterImageLoader(&LoadPlainBitmapStore, {u".bmp", u".dib"}); }

void FiniSysBitmapLoader() { UnregisterImageLoader(&LoadPlainBitmapStore); }

}  // namespace zm
