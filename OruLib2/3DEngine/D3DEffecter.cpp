#include "OruLib2/3DEngine/D3DEffecter.h"

#include <algorithm>


namespace oru {

using namespace zm;

TCustomD3DEffecter::TCustomD3DEffecter(T3DScreen* screen, TRenderTargetManager* pool)
    : screen_(screen), pool_(pool) {
  ZM_ASSERT(screen, "TCustomD3DEffecter - Screen not Assigned");
}

void TCustomD3DEffecter::Dispose() {
  ReleasePictures();
  pool_ = nullptr;
  TRefObject::Dispose();
}

void TCustomD3DEffecter::ReleasePictures() {
  last_ = nullptr;
  for (auto& p : pictures_) TRenderTargetTexture::FreeTarget(p);
}

void TCustomD3DEffecter::Start() {
  ReleasePictures();
  current_ = false;
  running_ = true;
}

void TCustomD3DEffecter::Finish() {
  ReleasePictures();
  running_ = false;
}

TRenderTargetTexture* TCustomD3DEffecter::DrawSlide(const std::function<void()>& draw, std::uint8_t options) {
  if (!pool_ || !screen_->CanDraw()) return nullptr;
  TRef<TRenderTargetTexture>& slot = pictures_[current_ ? 1 : 0];
  if (last_ == slot.get()) last_ = nullptr;
  TRenderTargetTexture::FreeTarget(slot);
  slot = pool_->Acquire(screen_);
  if (!slot || !slot->Realize()) {
    TRenderTargetTexture::FreeTarget(slot);
    return nullptr;
  }
  current_ = !current_;
  const T3DViewState saved = screen_->SaveView();
  screen_->SetRenderTarget(slot->DeviceTexture());
  screen_->Clear(0, false);
  if (draw) draw();
  screen_->SetRenderTarget(nullptr);
  screen_->RestoreView(saved);
  last_ = slot.get();
  lastOptions_ = options;
  return last_;
}

void TCustomD3DEffecter::DrawPicture(std::uint8_t alpha) {
  if (!last_ || alpha == 0 || !screen_->CanDraw()) return;
  const T3DViewState saved = screen_->SaveView();
  // Target pixels.
  const TRect win = screen_->WindowRect();
  const TPoint off = screen_->TargetOffset();
  const float ww = float(win.Right - win.Left), wh = float(win.Bottom - win.Top);
  screen_->SetProjection(float(off.X), float(off.Y), ww, wh, ww, wh);
  TRect r = clipRect_;
  if (r.Right <= r.Left || r.Bottom <= r.Top) r = area_;
  if (r.Right <= r.Left || r.Bottom <= r.Top) return;
  // Texel centres: the target pixel x reads texel x.
  const TRectF src{float(r.Left) + 0.5f, float(r.Top) + 0.5f, float(r.Right) + 0.5f, float(r.Bottom) + 0.5f};
  if (!last_->Realize()) return;
  const std::uint8_t keep = last_->Alpha;
  last_->Alpha = alpha;
  screen_->DrawTexture(last_, {float(r.Left), float(r.Top), 0}, {src.X0, src.Y0}, {1, 0, 0}, {0, 1, 0}, src);
  last_->Alpha = keep;
  screen_->RestoreView(saved);
}

}  // namespace oru
