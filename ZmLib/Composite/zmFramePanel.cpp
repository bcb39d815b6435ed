#include "ZmLib/Composite/zmFramePanel.h"

#include <algorithm>

#include "ZmLib/Composite/zmThemedControlUtils.h"

namespace zm {

void TColorBackground::Draw(TDrawSurface* surface, const TRect& rect) {
  if (surface) surface->FillRect(rect, Color);
}

void TBitmapBackground::Dispose() {
  bitmap_.reset();
  TFrameBackground::Dispose();
}

void TBitmapBackground::Draw(TDrawSurface* surface, const TRect& rect) {
  if (surface && bitmap_) surface->DrawBitmap(rect.Left, rect.Top, bitmap_.get());
}

TFramePanel::TFramePanel(TFrameControl* parent, TControlStyles* styles) : TStdFrameControl(parent, styles) {}

void TFramePanel::Dispose() {
  background_.reset();
  hitPicture_.reset();
  element_.reset();
  TStdFrameControl::Dispose();
}

void TFramePanel::SetBackground(TFrameBackground* background) {
  TRef<TFrameBackground> old = std::move(background_);
  background_ = TRef<TFrameBackground>::Adopt(background);
  hitSource_ = nullptr;
  hitPicture_.reset();
  InvalidateAll();
}

void TFramePanel::SetCaption(const std::u16string& caption) {
  caption_ = caption;
  TTextFormat f;
  GetTextFormat(f);
  element_ = CreateCaptionText(f.Font, caption_);
  PlaceCaption();
  InvalidateAll();
}

void TFramePanel::SetAlignment(std::uint8_t alignment) {
  if (alignment == alignment_) return;
  alignment_ = alignment;
  PlaceCaption();
  InvalidateAll();
}

void TFramePanel::PlaceCaption() {
  if (!element_) {
    captionPos_ = {};
    return;
  }
  const std::int32_t tw = element_->GetWidth(), th = element_->GetMetrics().Height;
  std::int32_t x = 0;
  if (alignment_ == paRight)
    x = Width() - tw;
  else if (alignment_ != paLeft)
    x = std::max((Width() - tw) / 2, 0);
  captionPos_ = {x, (Height() - th) / 2};
}

std::int32_t TFramePanel::PreferredWidth() { return element_ ? element_->GetWidth() : Width(); }
std::int32_t TFramePanel::PreferredHeight() { return element_ ? element_->GetMetrics().Height : Height(); }

std::uint8_t TFramePanel::HitAlpha(std::int32_t x, std::int32_t y) {
  TBitmap* b = background_ ? background_->Bitmap() : nullptr;
  if (!b) return TStdFrameControl::HitTest(x, y) ? 255 : 0;
  if (x < 0 || y < 0 || x >= b->Width() || y >= b->Height()) return 0;
  if (!b->PixelFormat() || !b->PixelFormat()->HasAlpha) return 255;
  if (background_.get() != hitSource_) {
    hitSource_ = background_.get();
    hitPicture_ = ArgbBitmap(b);
  }
  return std::uint8_t(ArgbPixel(hitPicture_.get(), x, y) >> 24);
}

void TFramePanel::MouseEvent(TMouseData& mouse) {
  TKeepAlive self(this);
  TStdFrameControl::MouseEvent(mouse);
  if (TornDown() || ClickMode != pcClickOnRelease || mouse.Kind != mkUp || !(mouse.Buttons & mbLeft)) return;
  if (mouse.X >= 0 && mouse.X < Width() && mouse.Y >= 0 && mouse.Y < Height()) Click();
}

void TFramePanel::Paint(TDrawSurface* surface) {
  if (!surface) return;
  if (background_) background_->Draw(surface, {0, 0, Width(), Height()});
  if (element_ && DrawTextElementHook) DrawTextElementHook(surface, element_.get(), captionPos_.X, captionPos_.Y);
}

void TFramePanel::AfterResize() {
  TStdFrameControl::AfterResize();
  PlaceCaption();
  if (RepaintOnResize || element_) InvalidateAll();
}

TFramePanel* CreatePlainFramePanel(TFrameControl* parent) { return NewControl<TFramePanel>(parent); }
TCreateFramePanelProc CreateFramePanelHook = &CreatePlainFramePanel;

void InitFramePanel() { CreateFramePanelHook = &CreatePlainFramePanel; }
void FiniFramePanel() { CreateFramePanelHook = &CreatePlainFramePanel; }

}  // namespace zm
