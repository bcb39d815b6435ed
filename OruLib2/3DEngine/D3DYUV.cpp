#include "OruLib2/3DEngine/D3DYUV.h"

#include <algorithm>
#include <cstring>

#include "OruLib2/3DEngine/DrawManager3D2.h"
#include "ZmLib/zmLog.h"

namespace oru {

using namespace zm;

namespace {

// Holds the picture's monitor for a scope.
class TEntered {
public:
  explicit TEntered(TMonitor* m) : m_(m) { m_->Enter(); }
  ~TEntered() { m_->Leave(); }
  TEntered(const TEntered&) = delete;
  TEntered& operator=(const TEntered&) = delete;

private:
  TMonitor* m_;
};

}  // namespace

T3DYUV::T3DYUV(T3DDrawer* drawer, std::int32_t width, std::int32_t height, bool threePlanes, bool rgba)
    : TYUVImage(width, height), drawer_(drawer), threePlanes_(threePlanes) {
  T3DScreen* screen = drawer ? drawer->Screen() : nullptr;
  ZM_ASSERT(screen, "T3DYUV.Create - Screen not Assigned");
  const std::int32_t w = Width(), h = Height();
  if (threePlanes) {
    // The shaders sample all three planes at the luma texture's coordinates,
    // so each chroma texture must be exactly half the luma texture: the luma
    // texture is at least 64 texels (chroma textures are at least 32), and
    // the chroma size is rounded up so that its extent halves the luma's.
    const TSize ySize{std::max(w, 33), std::max(h, 33)};
    const TSize cSize{(w + 1) / 2, (h + 1) / 2};
    textures_[kPlaneY] = MakeRef<TVideoTexture>(screen, ySize, this);
    textures_[kPlaneU] = MakeRef<TVideoTexture>(screen, cSize, this);
    textures_[kPlaneV] = MakeRef<TVideoTexture>(screen, cSize, this);
  } else if (rgba) {
    SetRGBA(true);
    textures_[kPlaneRGBA] = MakeRef<TRGBATexture>(screen, TSize{w, h}, this);
  } else {
    SetGrayScale(true);
    textures_[kPlaneGray] = MakeRef<TGrayScaleTexture>(screen, TSize{w, h}, this);
  }
  for (auto& t : textures_)
    if (t) t->Realize();
}

void T3DYUV::Dispose() {
  T3DDrawer::RemoveVideoImage(this);
  {
    TEntered e(this);
    if (lockCount_.load() > 0) LogLine(u"T3DYUV.Destroy - Image is still locked");
    for (std::int32_t i = 0; i < 5; ++i)
      if (locks_[std::size_t(i)].Bits) UnlockLocked(i);
    released_ = true;
  }
  for (auto& t : textures_)
    if (t) t->SetOwner(nullptr);
  T3DDrawer::DropVideoTextures(textures_);
  TYUVImage::Dispose();
}

TVideoTexture* T3DYUV::Texture(std::int32_t index) const {
  return index >= 0 && index < 5 ? textures_[std::size_t(index)].get() : nullptr;
}

TRef<TBitmap> T3DYUV::LockPlane(std::int32_t index) {
  ZM_ASSERT(index >= 0 && index <= 4, "T3DYUV.LockPlane - bad plane index");
  TEntered e(this);
  TPlaneLock& lock = locks_[std::size_t(index)];
  TVideoTexture* tex = textures_[std::size_t(index)].get();
  if (released_ || !tex || lock.Bits) return nullptr;
  T3DTexture* dt = tex->Realize();
  if (!dt) return nullptr;
  TRef<T3DTexture> held(dt);
  TRef<T3DSurface> surface = dt->GetSurface(0);
  if (!surface) return nullptr;
  const TSize extent = tex->Extent();
  TRef<TSysBitmap> bits = surface->Lock({0, 0, extent.cx, extent.cy}, false);
  if (!bits) return nullptr;
  const TPoint size = PlaneSize(index);
  TRef<TBitmap> view;
  if (size.X > 0 && size.Y > 0 && size.X <= bits->Width() && size.Y <= bits->Height())
    view = MakeRef<TCropBitmap>(TRect{0, 0, size.X, size.Y}, false, bits.get());
  if (!view) {
    surface->Unlock(bits);
    return nullptr;
  }
  lock.Texture = std::move(held);
  lock.Surface = std::move(surface);
  lock.Bits = std::move(bits);
  lockCount_.fetch_add(1);
  return view;
}

bool T3DYUV::UnlockPlane(std::int32_t index, TRef<TBitmap>& plane) {
  ZM_ASSERT(index >= 0 && index <= 4, "T3DYUV.UnlockPlane - bad plane index");
  plane = nullptr;  // the view goes before the rows it points into
  TEntered e(this);
  if (released_) return false;
  ZM_ASSERT(locks_[std::size_t(index)].Bits, "T3DYUV.UnlockPlane - plane is not locked");
  if (index <= kPlaneV) FillBeyondFrame(index, locks_[std::size_t(index)].Bits.get());
  return UnlockLocked(index);
}

bool T3DYUV::UnlockLocked(std::int32_t index) {
  TPlaneLock& lock = locks_[std::size_t(index)];
  TPlaneLock held = std::move(lock);
  lock = TPlaneLock{};
  lockCount_.fetch_sub(1);
  return held.Surface->Unlock(held.Bits);
}

void T3DYUV::FillBeyondFrame(std::int32_t index, TSysBitmap* bits) const {
  // Filtering and the edge band read texels past the frame: they repeat the
  // frame's last column and row instead of showing stale memory. The chroma
  // of an odd size holds the half rounded up, as the frame writers fill it.
  const TPoint plane = PlaneSize(index);
  std::int32_t pw = plane.X, ph = plane.Y;
  const std::int32_t lw = bits->Width(), lh = bits->Height();
  pw = std::min(pw, lw);
  ph = std::min(ph, lh);
  if (pw < 1 || ph < 1) return;
  for (std::int32_t y = 0; y < ph; ++y) {
    std::uint8_t* row = bits->ScanLine(y);
    if (lw > pw) std::memset(row + pw, row[pw - 1], std::size_t(lw - pw));
  }
  // Whole rows, so that the corner beyond both edges is filled too.
  const std::uint8_t* last = bits->ScanLine(ph - 1);
  for (std::int32_t y = ph; y < lh; ++y) std::memcpy(bits->ScanLine(y), last, std::size_t(lw));
}

}  // namespace oru
