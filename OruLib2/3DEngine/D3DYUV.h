#pragma once
// A video picture held as textures that the frame source fills directly:
// three 8-bit planes (Y full size, U and V at half size) when the drawer
// converts YUV in a pixel shader, otherwise one RGBA or one grey texture.
//
// Every plane operation runs under the picture's own monitor, which is taken
// before the 3D device's lock (never under it); the drawing thread reads the
// textures without it. A plane stays locked between
// LockPlane and UnlockPlane; the device objects of a locked plane are held
// until it is unlocked, even when the device lets the texture go meanwhile.
#include <array>
#include <atomic>
#include <cstdint>

#include "ZmLib/3DBasics/VideoTextures.h"
#include "ZmLib/Graphics/FrameSource.h"
#include "ZmLib/Graphics/SysBitmap.h"

namespace oru {

class T3DDrawer;

// Plane indices of LockPlane.
constexpr std::int32_t kPlaneY = 0;
constexpr std::int32_t kPlaneU = 1;
constexpr std::int32_t kPlaneV = 2;
constexpr std::int32_t kPlaneGray = 3;
constexpr std::int32_t kPlaneRGBA = 4;

class T3DYUV : public zm::TYUVImage {
public:
  // Layout: three planes when ThreePlanes, else RGBA when Rgba, else grey.
  // The textures are made (and realised when the screen can draw) here.
  T3DYUV(T3DDrawer* drawer, std::int32_t width, std::int32_t height, bool threePlanes, bool rgba);
  // Leaves the drawer's list, unlocks what is still locked and frees the
  // textures.
  void Dispose() override;

  // Index 0..4 (any other is refused by an assertion); nil for a plane this
  // layout lacks, a plane already locked, a released picture or a texture
  // the device cannot make or lock. The bitmap has the plane's size and the
  // texture's rows.
  zm::TRef<zm::TBitmap> LockPlane(std::int32_t index) override;
  // Fills the texels beyond the frame from its edges (planes 0..2), then
  // unlocks. Asserts an open lock; false after release or when the device
  // refuses.
  bool UnlockPlane(std::int32_t index, zm::TRef<zm::TBitmap>& plane) override;
  void Commit() override {}

  bool ThreePlanes() const { return threePlanes_; }
  // The texture of plane Index, or nil.
  zm::TVideoTexture* Texture(std::int32_t index) const;
  std::int32_t LockCount() const { return lockCount_.load(); }
  T3DDrawer* Drawer() const { return drawer_.load(); }
  // Under the drawer lock: the picture no longer reports to its drawer.
  void DetachDrawer() { drawer_.store(nullptr); }

private:
  struct TPlaneLock {
    zm::TRef<zm::T3DTexture> Texture;
    zm::TRef<zm::T3DSurface> Surface;
    zm::TRef<zm::TSysBitmap> Bits;
  };
  bool UnlockLocked(std::int32_t index);
  void FillBeyondFrame(std::int32_t index, zm::TSysBitmap* bits) const;

  std::atomic<T3DDrawer*> drawer_;
  bool threePlanes_;
  bool released_ = false;  // under the monitor
  std::array<zm::TRef<zm::TVideoTexture>, 5> textures_;
  std::array<TPlaneLock, 5> locks_;  // under the monitor
  std::atomic<std::int32_t> lockCount_{0};
};

}  // namespace oru
