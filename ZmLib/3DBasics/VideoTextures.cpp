#include "ZmLib/3DBasics/VideoTextures.h"

#include "ZmLib/Graphics/FrameSource.h"

namespace zm {

TVideoTexture::TVideoTexture(T3DScreen* screen, const TSize& size, TYUVImage* owner, std::uint8_t kind,
                             const char* className)
    : TCustomTexture(screen, size, kind, className), owner_(owner) {}

T3DTexture* TVideoTexture::Realize() {
  TYUVImage* owner = owner_.load();
  if (!owner) return TCustomTexture::Realize();
  owner->Enter();
  T3DTexture* t = nullptr;
  try {
    t = TCustomTexture::Realize();
  } catch (...) {
    owner->Leave();
    throw;
  }
  owner->Leave();
  return t;
}

void TVideoTexture::Release() {
  TYUVImage* owner = owner_.load();
  if (!owner) {
    TCustomTexture::Release();
    return;
  }
  owner->Enter();
  const bool had = DeviceTexture() != nullptr;
  TCustomTexture::Release();
  owner->Leave();
  // Outside the picture's monitor: the lost-content callback takes other locks.
  if (had) owner->MarkContentLost();
}

}  // namespace zm
