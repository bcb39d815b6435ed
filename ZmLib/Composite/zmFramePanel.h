#pragma once
// TFramePanel: a rectangle with an optional background drawing and a
// caption placed left, right or centred; TFrameBackground is what panels
// draw behind their caption. Panels are made through CreateFramePanelHook.
// UI thread only.
#include <cstdint>
#include <string>

#include "ZmLib/Composite/zmFrameCaption.h"

namespace zm {

class TFrameBackground : public TRefObject {
public:
  // Covers Rect (control coordinates).
  virtual void Draw(TDrawSurface* surface, const TRect& rect) = 0;
  // The picture hit tests read; nil when the background has none.
  virtual TBitmap* Bitmap() { return nullptr; }
};

class TColorBackground : public TFrameBackground {
public:
  explicit TColorBackground(TColor32 color) : Color(color) {}
  void Draw(TDrawSurface* surface, const TRect& rect) override;
  TColor32 Color;
};

// A picture at the rectangle's top-left, at its own size.
class TBitmapBackground : public TFrameBackground {
public:
  explicit TBitmapBackground(TBitmap* bitmap) : bitmap_(bitmap) {}
  void Dispose() override;
  void Draw(TDrawSurface* surface, const TRect& rect) override;
  TBitmap* Bitmap() override { return bitmap_.get(); }

private:
  TRef<TBitmap> bitmap_;
};

// Panel caption alignments; other values centre.
constexpr std::uint8_t paLeft = 1;
constexpr std::uint8_t paRight = 2;
// The click mode in which a left-button release clicks the panel.
constexpr std::uint8_t pcClickOnRelease = 2;

class TFramePanel : public TStdFrameControl {
public:
  explicit TFramePanel(TFrameControl* parent, TControlStyles* styles = nullptr);
  void Dispose() override;
  // Takes the caller's reference; the old background is released. Repaints.
  void SetBackground(TFrameBackground* background);
  TFrameBackground* Background() const { return background_.get(); }
  void SetCaption(const std::u16string& caption);
  const std::u16string& Caption() const { return caption_; }
  void SetAlignment(std::uint8_t alignment);
  std::uint8_t Alignment() const { return alignment_; }
  TPoint CaptionPosition() const { return captionPos_; }
  std::int32_t PreferredWidth();
  std::int32_t PreferredHeight();
  // 0 outside the background's picture, 255 inside one without alpha, else
  // the picture's alpha there; without a picture 255 inside the control.
  std::uint8_t HitAlpha(std::int32_t x, std::int32_t y);
  // Nothing is hit while the panel takes no mouse input.
  bool HitTest(std::int32_t x, std::int32_t y) override { return TakesMouse && HitAlpha(x, y) != 0; }
  void MouseEvent(TMouseData& mouse) override;
  void Paint(TDrawSurface* surface) override;
  void AfterResize() override;

  std::uint8_t ClickMode = 0;
  bool RepaintOnResize = false;
  bool TakesMouse = true;

private:
  void PlaceCaption();
  TRef<TFrameBackground> background_;
  TFrameBackground* hitSource_ = nullptr;  // what HitPicture was made from
  TRef<TDirectBitmap> hitPicture_;
  std::u16string caption_;
  TRef<TTextElement> element_;
  std::uint8_t alignment_ = 0;
  TPoint captionPos_;
};

using TCreateFramePanelProc = TFramePanel* (*)(TFrameControl* parent);
extern TCreateFramePanelProc CreateFramePanelHook;
TFramePanel* CreatePlainFramePanel(TFrameControl* parent);

void InitFramePanel();
void FiniFramePanel();

}  // namespace zm
