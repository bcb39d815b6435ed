#pragma once
// The plain loader of BMP files (".bmp", ".dib"): the BMP reader's bitmap
// served by a wrapper store. It registers after the packed-image loader, so
// packed images under those extensions never reach it.
#include "ZmLib/Graphics/SysBitmapStore.h"

namespace zm {

// Nil, with the stream back where it was, when the BMP reader declines.
TRef<TBitmapStore> LoadPlainBitmapStore(TStream* stream, const WideString& fileName, bool ownsStream,
                                        const TImageLoadHandler& handler);

void InitSysBitmapLoader();
void FiniSysBitmapLoader();

}  // namespace zm
