#pragma once
// The textures of a video picture. A frame source writes them directly
// through the picture's plane locks, so they have nothing to upload; when
// the device lets one go, the picture is marked as having lost its content
// so that its frame is decoded again.
//
// Making and releasing the device texture runs under the owning picture's
// monitor: the frame source's thread locks planes while the drawing thread
// realises the same textures for a draw. That monitor comes before the 3D
// device's lock, so a release never runs under the latter: a device that
// goes tells its textures once that lock is left.
#include <atomic>
#include <cstdint>

#include "ZmLib/3DBasics/CustomTexture.h"

namespace zm {

class TYUVImage;

// One 8-bit plane (luminance format).
class TVideoTexture : public TCustomTexture {
public:
  TVideoTexture(T3DScreen* screen, const TSize& size, TYUVImage* owner, std::uint8_t kind = tkLuminance8,
                const char* className = "TVideoTexture");

  T3DTexture* Realize() override;
  void FillLevel(TSysBitmap*) override {}
  void Upload() override {}
  void Release() override;

  TYUVImage* Owner() const { return owner_.load(); }
  // Nil before the picture goes: a release no longer reaches it.
  void SetOwner(TYUVImage* owner) { owner_.store(owner); }

private:
  std::atomic<TYUVImage*> owner_;
};

// The whole frame in 16-bit grey (5-6-5), for devices without the
// luminance format.
class TGrayScaleTexture : public TVideoTexture {
public:
  TGrayScaleTexture(T3DScreen* screen, const TSize& size, TYUVImage* owner)
      : TVideoTexture(screen, size, owner, tkColor565, "TGrayScaleTexture") {}
};

// The whole frame in 32-bit BGRA.
class TRGBATexture : public TVideoTexture {
public:
  TRGBATexture(T3DScreen* screen, const TSize& size, TYUVImage* owner)
      : TVideoTexture(screen, size, owner, tkColorAlpha, "TRGBATexture") {}
};

}  // namespace zm
