#pragma once
// TFrameImage: a control showing a bitmap, plainly at its origin or through
// an affine transform, over an optional background colour, with a greyed
// (half-alpha) look while disabled and an alpha-threshold hit test. Made
// through CreateFrameImageHook. UI thread only.
#include <cstdint>

#include "ZmLib/Composite/zmStdFrameControls.h"

namespace zm {

// Drawing modes.
constexpr std::int8_t imNone = -1;
constexpr std::int8_t imPlain = 0;
constexpr std::int8_t imTransformed = 1;

class TFrameImage : public TStdFrameControl {
public:
  explicit TFrameImage(TFrameControl* parent, TControlStyles* styles = nullptr);
  void Dispose() override;
  // Owned: the control takes the caller's reference; else it takes its own
  // (the caller keeps the bitmap alive either way through the reference).
  void SetBitmap(TBitmap* bitmap, bool owned);
  TBitmap* Bitmap() const { return bitmap_.get(); }
  bool OwnsBitmap() const { return owned_; }
  void SetBackgroundColor(TColor32 color);
  TColor32 BackgroundColor() const { return background_; }
  void SetDrawingMode(std::int8_t mode);
  std::int8_t DrawingMode() const { return mode_; }
  // x' = M[0] + M[2] u + M[4] v, y' = M[1] + M[3] u + M[5] v.
  void SetTransform(const float matrix[6], bool smooth);
  // Disabled: drawn with every alpha halved unless NoDisabledLook.
  void SetEnabled(bool on);
  bool Enabled() const { return enabled_; }
  bool NoDisabledLook = false;
  // Alpha needed for a hit: 0 or less the plain rectangle, 256 or more never.
  std::int32_t HitThreshold = 256;

  void Paint(TDrawSurface* surface) override;
  bool HitTest(std::int32_t x, std::int32_t y) override;
  // The picture painted now (the disabled copy when greyed); nil without one.
  TBitmap* Picture();

private:
  std::int32_t AlphaAt(std::int32_t x, std::int32_t y);
  // The picture as "A8R8G8B8" (greyed when disabled); nil without one.
  TDirectBitmap* Source();
  TRef<TBitmap> bitmap_;
  TRef<TDirectBitmap> argb_;
  TRef<TDirectBitmap> disabled_;
  TColor32 background_{};
  std::int8_t mode_ = imPlain;
  float matrix_[6] = {0, 0, 1, 0, 0, 1};
  double inverse_[6] = {0, 0, 1, 0, 0, 1};
  bool invertible_ = true;
  bool smooth_ = false;
  bool owned_ = false;
  bool enabled_ = true;
};

using TCreateFrameImageProc = TFrameImage* (*)(TFrameControl* parent);
extern TCreateFrameImageProc CreateFrameImageHook;
TFrameImage* CreatePlainFrameImage(TFrameControl* parent);

void InitFrameImage();
void FiniFrameImage();

}  // namespace zm
