#include "ZmLib/3DBasics/CustomTexture.h"

#include <exception>
#include <string>
#include <vector>

#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/SysBitmapUtils.h"
#include "ZmLib/zmLog.h"

namespace zm {

namespace {

WideString Num(std::int64_t v) {
  const std::string s = std::to_string(v);
  return WideString(s.begin(), s.end());
}

bool IsTargetKind(std::uint8_t kind) { return kind == tkTarget || kind == tkTargetAlpha; }
bool IsManagedKind(std::uint8_t kind) { return kind == tkColorAlpha || kind == tkLuminance8; }

// Each destination pixel is the per-channel mean of its 2 x 2 source block.
void HalveInto(TSysBitmap* src, TSysBitmap* dst) {
  for (std::int32_t y = 0; y < dst->Height(); ++y) {
    const std::uint32_t* a = src->Row32(2 * y);
    const std::uint32_t* b = src->Row32(2 * y + 1);
    std::uint32_t* d = dst->Row32(y);
    for (std::int32_t x = 0; x < dst->Width(); ++x) {
      const std::uint32_t p[4] = {a[2 * x], a[2 * x + 1], b[2 * x], b[2 * x + 1]};
      std::uint32_t out = 0;
      for (int shift = 0; shift < 32; shift += 8) {
        std::uint32_t sum = 0;
        for (std::uint32_t v : p) sum += (v >> shift) & 0xFFu;
        out |= (sum >> 2) << shift;
      }
      d[x] = out;
    }
  }
}

}  // namespace

// ---- TCustomTexture ---------------------------------------------------------------

TCustomTexture::TCustomTexture(T3DScreen* screen, const TSize& size, std::uint8_t kind, const char* className)
    : TScreenTexture(screen, className), kind_(kind) {
  SetSize(size);
}

void TCustomTexture::Dispose() {
  lostLink_.Cut();
  Release();
  TScreenTexture::Dispose();
}

void TCustomTexture::SetSize(const TSize& size) {
  if (size == size_) return;
  Release();
  size_ = size;
  const auto extent = [this](std::int32_t n) {
    if (!exact_) return TextureExtent(n);
    return n < 1 || n > (1 << 30) ? TTextureExtent{} : TTextureExtent{n, 1.0 / n};
  };
  const TTextureExtent w = extent(size.cx);
  const TTextureExtent h = extent(size.cy);
  extent_ = {w.Extent, h.Extent};
  RecipWidth = w.Reciprocal;
  RecipHeight = h.Reciprocal;
}

void TCustomTexture::SetExactExtent(bool on) {
  if (on == exact_) return;
  exact_ = on;
  const TSize size = size_;
  size_ = {-1, -1};
  SetSize(size);
}

void TCustomTexture::SetKind(std::uint8_t kind) {
  Release();
  kind_ = kind;
}

void TCustomTexture::SetMipmapped(bool on) {
  if (on == mipmapped_) return;
  Release();
  mipmapped_ = on;
  mipmappedChanged_ = true;
  Anisotropic = on;
}

void TCustomTexture::Release() {
  TRef<T3DTexture> t;
  TRef<TRefObject> extra;
  {
    std::lock_guard<std::mutex> g(deviceLock_);
    t = std::move(deviceTexture_);
    extra = std::move(extra_);
  }
  if (t) t->SetLostEvent(nullptr);
}

T3DTexture* TCustomTexture::DeviceTexture() const {
  std::lock_guard<std::mutex> g(deviceLock_);
  return deviceTexture_.get();
}

void TCustomTexture::SetExtra(TRef<TRefObject> extra) {
  std::lock_guard<std::mutex> g(deviceLock_);
  std::swap(extra_, extra);  // the old one goes with the lock left
}

void TCustomTexture::SetPremultiplied(bool on) {
  Premultiplied = on;
  TRef<T3DTexture> t;
  {
    std::lock_guard<std::mutex> g(deviceLock_);
    t = deviceTexture_;
  }
  if (t) t->SetPremultiplied(on);
}

T3DTexture* TCustomTexture::Realize() {
  {
    std::lock_guard<std::mutex> g(deviceLock_);
    if (deviceTexture_) return deviceTexture_.get();
  }
  if (extent_.cx < 1 || extent_.cy < 1) return nullptr;
  T3DScreen* screen = Screen();
  // Held for the call: a loss found while creating may free the screen's.
  TRef<T3DRenderer> renderer = screen ? screen->ReadyRenderer() : nullptr;
  if (!renderer) return nullptr;
  const bool target = IsTargetKind(kind_);
  TRef<T3DTexture> t;
  try {
    t = renderer->CreateTexture(kind_, extent_.cx, extent_.cy, mipmapped_);
    if (target) LogBool(u"Rt Create First Attempt Ok= ", bool(t));
    if (!t && target && renderer->LastResult() == drOutOfVideoMemory && screen->Resources()) {
      std::vector<TCustomTexture*> managed;
      TList* resources = screen->Resources();
      for (std::int32_t i = 0; i < resources->Count(); ++i) {
        auto* c = dynamic_cast<TCustomTexture*>(resources->Get(i));
        if (c && IsManagedKind(c->Kind())) managed.push_back(c);
      }
      const auto n = std::int64_t(managed.size());
      LogInt(u"tmpTexListcount= ", n);
      // Attempt k frees indices (N shr (k-1)) - 1 down to N shr k.
      for (int k = 1; !t && k < 63 && (n >> (k - 1)) >= 1; ++k) {
        const std::int64_t first = (n >> (k - 1)) - 1;
        const std::int64_t last = n >> k;
        for (std::int64_t i = first; i >= last; --i) managed[std::size_t(i)]->Release();
        t = renderer->CreateTexture(kind_, extent_.cx, extent_.cy, mipmapped_);
        LogBool(u"Released Managed Texs from " + Num(first) + u" to " + Num(last) + u"; Rt Create " + Num(k) +
                    u"nd Attempt Ok= ",
                bool(t));
      }
    }
    if (!t) return nullptr;
    t->SetPremultiplied(Premultiplied);
    t->SetLostEvent(lostLink_.Event([this] { Release(); }));
    {
      std::lock_guard<std::mutex> g(deviceLock_);
      deviceTexture_ = t;
    }
    if (IsManagedKind(kind_)) Upload();
  } catch (const std::exception&) {
    // A texture that cannot be filled is not kept; the draw that needed it
    // draws nothing.
    bool ours;
    {
      std::lock_guard<std::mutex> g(deviceLock_);
      ours = t && deviceTexture_ == t;
    }
    if (ours) Release();
    return nullptr;
  }
  std::lock_guard<std::mutex> g(deviceLock_);
  return deviceTexture_.get();
}

void TCustomTexture::Upload() {
  TRef<T3DTexture> t;  // a loss while filling drops the field
  {
    std::lock_guard<std::mutex> g(deviceLock_);
    t = deviceTexture_;
  }
  if (!t) return;
  std::vector<TRef<T3DSurface>> surfaces;
  std::vector<TRef<TSysBitmap>> levels;
  struct TUnlockAll {
    std::vector<TRef<T3DSurface>>& S;
    std::vector<TRef<TSysBitmap>>& L;
    ~TUnlockAll() {
      for (std::size_t i = 0; i < L.size(); ++i) S[i]->Unlock(L[i]);
    }
  } unlock{surfaces, levels};
  const std::int32_t count = t->GetLevelCount();
  for (std::int32_t level = 0; level < count; ++level) {
    TRef<T3DSurface> surface = t->GetSurface(level);
    if (!surface) break;
    const TSize size = surface->GetSize();
    if (size.cx < 1 || size.cy < 1) break;
    TRef<TSysBitmap> bits = surface->Lock({0, 0, size.cx, size.cy}, false);
    if (!bits) break;
    surfaces.push_back(surface);
    levels.push_back(bits);
    if (level == 0) {
      FillLevel(bits.get());
      continue;
    }
    TSysBitmap* src = levels[std::size_t(level) - 1].get();
    ZM_ASSERT(src->BytesPerPixel() == 4 && bits->BytesPerPixel() == 4,
              "TCustomTexture.Upload - mip levels are not 32-bit");
    if (src->Width() == 2 * bits->Width() && src->Height() == 2 * bits->Height())
      HalveInto(src, bits.get());
    else
      ResizeBilinear32(src, bits.get());
  }
}

void TCustomTexture::Prepare() {
  if (T3DTexture* t = Realize()) {
    TRef<T3DTexture> hold(t);
    t->PreLoad();
  }
}

// ---- TCustomColoringTexture ---------------------------------------------------------

TCustomColoringTexture::TCustomColoringTexture(T3DScreen* screen, const char* className)
    : TScreenResource(screen, className) {}

void TCustomColoringTexture::Dispose() {
  lostLink_.Cut();
  ReleaseDeviceObjects();
  TScreenResource::Dispose();
}

void TCustomColoringTexture::ReleaseDeviceObjects() {
  if (TRef<TBaseTexture> o = std::move(object_)) o->SetLostEvent(nullptr);
}

void TCustomColoringTexture::SetDeviceObject(TRef<TBaseTexture> object) {
  ReleaseDeviceObjects();
  object_ = std::move(object);
  if (object_) object_->SetLostEvent(lostLink_.Event([this] { ReleaseDeviceObjects(); }));
}

}  // namespace zm
