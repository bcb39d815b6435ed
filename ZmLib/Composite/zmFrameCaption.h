#pragma once
// TFrameCaption: a one-line label that lays child controls out in a row
// beside its text and, when shortening is on, cuts the text to what fits
// followed by "…". It is the text part of buttons, check boxes, radio
// buttons and tabs, made through AllocFrameCaption.
//
// Text is measured with text elements made through CreateCaptionTextHook
// and drawn through DrawTextElementHook (without one, captions lay out but
// draw no text). UI thread only.
#include <cstdint>
#include <string>

#include "ZmLib/Composite/zmStdFrameControls.h"
#include "ZmLib/VectorGraphics/zmTextElement.h"

namespace zm {

// Display modes.
constexpr std::uint8_t cdNone = 0;
constexpr std::uint8_t cdFull = 1;
constexpr std::uint8_t cdShortened = 2;
// Alignments; automatic is right for right-to-left captions, else left.
constexpr std::uint8_t caAuto = 0;
constexpr std::uint8_t caCenter = 1;
constexpr std::uint8_t caLeft = 2;
constexpr std::uint8_t caRight = 3;

using TCreateTextElementProc = TRef<TTextElement> (*)(const TFontParams& font, const std::u16string& text);
extern TCreateTextElementProc CreateCaptionTextHook;
// Draws an element with its top-left at (X, Y).
using TDrawTextElementProc = void (*)(TDrawSurface* surface, TTextElement* element, std::int32_t x, std::int32_t y);
extern TDrawTextElementProc DrawTextElementHook;
// The window-system drawing: a TWinTextElement onto the dirty cells of a
// TWinSurface: its rectangle filled with the background colour unless the
// element is transparent, then each font run's glyphs in the run's font and
// the text colour, underline and strike-out as the style says (other
// surfaces or elements: nothing).
void DrawWinTextElement(TDrawSurface* surface, TTextElement* element, std::int32_t x, std::int32_t y);
// Through the hook; nil without one or for an empty text.
TRef<TTextElement> CreateCaptionText(const TFontParams& font, const std::u16string& text);

class TFrameCaption : public TStdFrameControl {
public:
  explicit TFrameCaption(TFrameControl* parent, TControlStyles* styles = nullptr);
  void Dispose() override;

  // Hot-key marks are removed (StripHotkeyProc).
  void SetText(const std::u16string& text);
  const std::u16string& Text() const { return text_; }
  // Values above 3 are an assertion.
  void SetAlignment(std::uint8_t alignment);
  std::uint8_t Alignment() const { return alignment_; }
  std::uint8_t ResolvedAlignment() const;
  void SetShorten(bool on);
  bool Shorten() const { return shorten_; }
  void SetSpacing(std::int32_t spacing);
  std::int32_t Spacing() const { return spacing_; }
  void SetRightToLeft(bool on);
  bool RightToLeft() const { return rtl_; }
  // Font properties of Mask (fp* bits) no longer follow the style font.
  void SetFont(const TFontParams& font, std::uint32_t ownMask);
  const TFontParams& Font() const { return font_; }
  std::uint32_t StyleMask() const { return styleMask_; }
  // The style font changed: the following properties are taken again.
  virtual void StyleChanged();

  // Lays the text and the children out (after every change; children added
  // or resized afterwards call it themselves through their parent).
  void Layout();
  std::uint8_t DisplayMode() const { return mode_; }
  TPoint TextPosition() const { return textPos_; }
  std::int32_t TextWidth() const { return textWidth_; }
  // Text top plus ascent, for parents aligning captions.
  std::int32_t Baseline() const { return baseline_; }
  std::u16string ShortenedText() const { return shortText_; }
  // The caption's text width and height, else the control's size.
  std::int32_t PreferredWidth();
  std::int32_t PreferredHeight();

  void AfterResize() override;
  void Paint(TDrawSurface* surface) override;
  void GetBounds(TRect& rect) override;
  // Inside the drawn text; never while mouse transparent.
  bool HitTest(std::int32_t x, std::int32_t y) override;
  // A left-button release inside clicks.
  void MouseEvent(TMouseData& mouse) override;

  bool MouseTransparent = true;
  bool AutoSize = true;

private:
  TRect FullRect() const;
  TRef<TTextElement> full_, short_, ellipsis_;
  std::u16string text_, shortText_;
  TFontParams font_;
  std::uint32_t styleMask_ = 15;
  std::uint8_t mode_ = cdNone;
  std::uint8_t alignment_ = caAuto;
  bool shorten_ = false;
  bool rtl_ = false;
  bool inLayout_ = false;
  std::int32_t spacing_ = 4;
  TPoint textPos_;
  std::int32_t textWidth_ = 0, ellipsisWidth_ = 0;
  std::int32_t baseline_ = 0;
  TRect painted_;  // what the last paint covered
};

using TAllocFrameCaptionProc = TFrameCaption* (*)(TFrameControl* parent);
// The plain caption by default.
extern TAllocFrameCaptionProc AllocFrameCaption;
TFrameCaption* AllocPlainFrameCaption(TFrameControl* parent);

void InitFrameCaption();
void FiniFrameCaption();

}  // namespace zm
