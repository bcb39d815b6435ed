#include "ZmLib/Composite/zmClipbrd.h"

#include "ZmLib/Graphics/SysBitmapStore.h"

namespace zm {

TClipbrd* Clipbrd = nullptr;

bool TClipbrd::SetPicture(TBitmap* bitmap, const WideString& name) {
  if (!bitmap) return false;
  TRef<TImage> image =
      GetSysBitmapHook ? GetSysBitmapHook(bitmap, false, name) : SysBitmapToImage(bitmap, false, name);
  return image && SetPictureImage(image.get());
}

void SetClipbrd(TClipbrd* clipboard) {
  if (clipboard == Clipbrd) return;
  if (clipboard) clipboard->AddRef();
  TClipbrd* old = Clipbrd;
  Clipbrd = clipboard;
  if (old) old->ReleaseRef();
}

void InitClipbrd() {}
void FiniClipbrd() { SetClipbrd(nullptr); }

}  // namespace zm
