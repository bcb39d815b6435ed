#include "ZmLib/Composite/zmFrameImage.h"

#include <algorithm>
#include <cmath>

#include "ZmLib/Composite/zmThemedControlUtils.h"
#include "ZmLib/Graphics/zmAffineDraw.h"
#include "ZmLib/Graphics/zmPixelFormat.h"

namespace zm {

namespace {
TPixelFormat* Argb() { return PixelFormatByName(PF_A8R8G8B8); }

std::uint32_t Pixel32(TDirectBitmap* b, std::int32_t x, std::int32_t y) { return ArgbPixel(b, x, y); }

// Bilinear sample at a source position (pixel centres at .5), transparent outside.
std::uint32_t Sample(TDirectBitmap* b, double u, double v, bool smooth) {
  if (!(std::fabs(u) < 1e9 && std::fabs(v) < 1e9)) return 0;
  if (!smooth) return Pixel32(b, std::int32_t(std::floor(u)), std::int32_t(std::floor(v)));
  const double fu = u - 0.5, fv = v - 0.5;
  const auto x0 = std::int32_t(std::floor(fu)), y0 = std::int32_t(std::floor(fv));
  const double ax = fu - x0, ay = fv - y0;
  double acc[4] = {};
  const double w[4] = {(1 - ax) * (1 - ay), ax * (1 - ay), (1 - ax) * ay, ax * ay};
  const std::uint32_t p[4] = {Pixel32(b, x0, y0), Pixel32(b, x0 + 1, y0), Pixel32(b, x0, y0 + 1),
                              Pixel32(b, x0 + 1, y0 + 1)};
  double alpha = 0;
  for (int i = 0; i < 4; ++i) {
    const double a = double(p[i] >> 24) * w[i];
    alpha += a;
    for (int c = 0; c < 3; ++c) acc[c] += double((p[i] >> (8 * c)) & 255) * a;
  }
  if (alpha <= 0) return 0;
  std::uint32_t out = std::uint32_t(std::lround(std::min(alpha, 255.0))) << 24;
  for (int c = 0; c < 3; ++c) out |= std::uint32_t(std::lround(std::clamp(acc[c] / alpha, 0.0, 255.0))) << (8 * c);
  return out;
}
}  // namespace

TFrameImage::TFrameImage(TFrameControl* parent, TControlStyles* styles) : TStdFrameControl(parent, styles) {}

void TFrameImage::Dispose() {
  bitmap_.reset();
  disabled_.reset();
  argb_.reset();
  TStdFrameControl::Dispose();
}

void TFrameImage::SetBitmap(TBitmap* bitmap, bool owned) {
  TRef<TBitmap> old = std::move(bitmap_);
  bitmap_ = owned ? TRef<TBitmap>::Adopt(bitmap) : TRef<TBitmap>(bitmap);
  owned_ = owned;
  disabled_.reset();
  argb_.reset();
  InvalidateAll();
}

void TFrameImage::SetBackgroundColor(TColor32 color) {
  if (color.Value() == background_.Value()) return;
  background_ = color;
  InvalidateAll();
}

void TFrameImage::SetDrawingMode(std::int8_t mode) {
  if (mode < imNone || mode > imTransformed) mode = imNone;
  if (mode == mode_) return;
  mode_ = mode;
  InvalidateAll();
}

void TFrameImage::SetTransform(const float matrix[6], bool smooth) {
  if (!matrix) return;
  std::copy(matrix, matrix + 6, matrix_);
  invertible_ = InvertAffineMatrix(matrix_, inverse_);
  smooth_ = smooth;
  InvalidateAll();
}

void TFrameImage::SetEnabled(bool on) {
  if (on == enabled_) return;
  enabled_ = on;
  InvalidateAll();
}

TDirectBitmap* TFrameImage::Source() {
  if (!bitmap_ || bitmap_->Width() < 1 || bitmap_->Height() < 1) return nullptr;
  if (!argb_) argb_ = ArgbBitmap(bitmap_.get());
  if (enabled_ || NoDisabledLook) return argb_.get();
  if (!disabled_ && argb_) {
    disabled_ = MakeRef<TDirectBitmap>(argb_->Width(), Argb(), argb_->Height());
    for (std::int32_t y = 0; y < argb_->Height(); ++y) {
      const std::uint32_t* src = argb_->Row32(y);
      std::uint32_t* row = disabled_->Row32(y);
      for (std::int32_t x = 0; x < argb_->Width(); ++x) row[x] = (src[x] & 0x00FFFFFFu) | ((src[x] >> 25) << 24);
    }
  }
  return disabled_.get();
}

TBitmap* TFrameImage::Picture() {
  TDirectBitmap* s = Source();
  return s == argb_.get() && s ? bitmap_.get() : s;
}

void TFrameImage::Paint(TDrawSurface* surface) {
  if (!surface) return;
  if (background_.A != 0) surface->FillRect({0, 0, Width(), Height()}, background_);
  if (mode_ == imNone || !Picture()) return;
  if (mode_ == imPlain) {
    surface->DrawBitmap(0, 0, Picture());
    return;
  }
  TDirectBitmap* picture = Source();
  if (!invertible_ || Width() < 1 || Height() < 1) return;
  // Through the transform: every pixel of the control mapped back into the picture.
  auto out = MakeRef<TDirectBitmap>(Width(), Argb(), Height());
  for (std::int32_t y = 0; y < Height(); ++y) {
    std::uint32_t* row = out->Row32(y);
    for (std::int32_t x = 0; x < Width(); ++x) {
      const double px = x + 0.5, py = y + 0.5;
      const double u = inverse_[0] + inverse_[2] * px + inverse_[4] * py;
      const double v = inverse_[1] + inverse_[3] * px + inverse_[5] * py;
      row[x] = Sample(picture, u, v, smooth_);
    }
  }
  surface->DrawBitmap(0, 0, out.get());
}

std::int32_t TFrameImage::AlphaAt(std::int32_t x, std::int32_t y) {
  TDirectBitmap* picture = Source();
  if (!picture || mode_ == imNone) return 0;
  if (mode_ == imTransformed) {
    if (!invertible_) return 0;
    const double u = inverse_[0] + inverse_[2] * x + inverse_[4] * y;
    const double v = inverse_[1] + inverse_[3] * x + inverse_[5] * y;
    if (!(std::fabs(u) < 1e9 && std::fabs(v) < 1e9)) return 0;
    x = std::int32_t(std::lround(u));
    y = std::int32_t(std::lround(v));
  }
  return std::int32_t(Pixel32(picture, x, y) >> 24);
}

bool TFrameImage::HitTest(std::int32_t x, std::int32_t y) {
  if (HitThreshold <= 0) return TStdFrameControl::HitTest(x, y);
  if (HitThreshold >= 256 || !TStdFrameControl::HitTest(x, y)) return false;
  if (background_.A >= HitThreshold) return true;
  return AlphaAt(x, y) >= HitThreshold;
}

TFrameImage* CreatePlainFrameImage(TFrameControl* parent) { return NewControl<TFrameImage>(parent); }
TCreateFrameImageProc CreateFrameImageHook = &CreatePlainFrameImage;

void InitFrameImage() { CreateFrameImageHook = &CreatePlainFrameImage; }
void FiniFrameImage() { CreateFrameImageHook = &CreatePlainFrameImage; }

}  // namespace zm
