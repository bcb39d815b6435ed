#include "ZmLib/3DBasics/Dev3DRTPool.h"

#include <utility>

#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/SysPixelFormat.h"

namespace zm {

namespace {

constexpr std::int32_t kLargestSide = std::int32_t(1) << 30;

std::int32_t RoundUpToPowerOfTwo(std::int32_t v) {
  if (v < 1) return 0;
  std::int32_t p = 1;
  while (p < v) p <<= 1;
  return p;
}

}  // namespace

// ---- TRenderTargetTexture -------------------------------------------------------

TRenderTargetTexture::TRenderTargetTexture(T3DScreen* screen, bool withAlpha, const TSize& size)
    : TCustomTexture(screen, size, withAlpha ? tkTargetAlpha : tkTarget, "TRenderTargetTexture"),
      withAlpha_(withAlpha) {
  SetPremultiplied(withAlpha);
}

void TRenderTargetTexture::FreeTarget(TRef<TRenderTargetTexture>& texture) {
  TRef<TRenderTargetTexture> t = std::move(texture);
  if (t && t->pool_) t->pool_->ReturnTexture(t.get());
}

// ---- TRenderTargetManager -------------------------------------------------------

TRenderTargetManager::TRenderTargetManager(bool withAlpha) : withAlpha_(withAlpha) {}

void TRenderTargetManager::Dispose() {
  ClearPool();
  free_.shrink_to_fit();
  TRefObject::Dispose();
}

void TRenderTargetManager::SetPoolSize(std::int32_t width, std::int32_t height) {
  ZM_ASSERT(width <= kLargestSide && height <= kLargestSide, "TRenderTargetManager.SetPoolSize - size too large");
  const TSize size{RoundUpToPowerOfTwo(width), RoundUpToPowerOfTwo(height)};
  if (size != size_) ClearPool();
  size_ = size;
}

TRef<TRenderTargetTexture> TRenderTargetManager::Acquire(T3DScreen* screen) {
  ZM_ASSERT(screen, "TRenderTargetManager.Acquire - Screen not Assigned");
  TRef<TRenderTargetTexture> t;
  while (!t && !free_.empty()) {
    t = std::move(free_.back());
    free_.pop_back();
    // One left behind by a screen that has gone, or made on another one.
    if (t->Screen() != screen) t = nullptr;
  }
  if (!t) t = MakeRef<TRenderTargetTexture>(screen, withAlpha_, size_);
  t->pool_ = TRef<TRenderTargetManager>(this);
  t->Realize();
  return t;
}

void TRenderTargetManager::ReturnTexture(TRenderTargetTexture* texture) {
  if (!texture) return;
  ZM_ASSERT(texture->Size() == size_, "TRenderTargetManager.ReturnTexture - texture size differs from the pool");
  ZM_ASSERT(texture->WithAlpha() == withAlpha_, "TRenderTargetManager.ReturnTexture - alpha mode differs");
  TRef<TRenderTargetTexture> hold(texture);
  // Forgetting the pool may drop its last reference: keep it for the call.
  TRef<TRenderTargetManager> self(this);
  texture->pool_ = nullptr;
  free_.push_back(std::move(hold));
}

void TRenderTargetManager::ClearPool() {
  std::vector<TRef<TRenderTargetTexture>> gone;
  gone.swap(free_);
}

// ---- TBoxAntiTexture ------------------------------------------------------------

TBoxAntiTexture::TBoxAntiTexture(T3DScreen* screen, TRef<TSysBitmap> source)
    : TCustomTexture(screen, {}, tkColorAlpha, "TBoxAntiTexture"), source_(std::move(source)) {}

void TBoxAntiTexture::Dispose() {
  source_ = nullptr;
  TCustomTexture::Dispose();
}

void TBoxAntiTexture::FillLevel(TSysBitmap* data) {
  if (data && source_) data->CopyRect({0, 0, source_->Width(), source_->Height()}, source_.get(), 0, {0, 0});
}

// ---- TBoxAntialiaser ------------------------------------------------------------

TBoxAntialiaser::TBoxAntialiaser(T3DScreen* screen) {
  TRef<TSysBitmap> white = CreateSysBitmap(kSide, kSide, pfA8R8G8B8);
  white->FillRect({0, 0, kSide, kSide}, TColor32::FromValue(0xFFFFFFFFu));
  texture_ = MakeRef<TBoxAntiTexture>(screen, std::move(white));
  texture_->SetSize({kSide, kSide});
  texture_->Realize();
}

void TBoxAntialiaser::Dispose() {
  texture_ = nullptr;
  TRefObject::Dispose();
}

void TBoxAntialiaser::DrawBox(T3DScreen* screen, const TPoint3F& axisX, std::uint32_t edges, std::uint32_t c1,
                              std::uint32_t c2, std::uint32_t c3, std::uint32_t c4, const TPoint3F& axisY,
                              const TPoint3F& origin) {
  if (!screen || !texture_) return;
  constexpr float kRecip = 1.0f / float(kSide);
  const TPoint3F ax{axisX.X * kRecip, axisX.Y * kRecip, axisX.Z * kRecip};
  const TPoint3F ay{axisY.X * kRecip, axisY.Y * kRecip, axisY.Z * kRecip};
  TEdgeMesh mesh;
  screen->BuildEdgeMesh(origin, {0, 0}, ax, ay, {0, 0, float(kSide), float(kSide)}, edges, mesh);
  TScreenTexture* one[1] = {texture_.get()};
  screen->DrawEdgeMesh(one, 1, mesh, c1, c2, c3, c4, 15);
}

}  // namespace zm
