#pragma once
// The drawn check box and radio button: a glyph (an animated image child)
// beside a caption control. The themes lay both out, name the glyph's state
// and draw it: the classic themes as vector glyphs through the shared
// rasteriser, the visual-style themes as theme elements while visual styles
// are active. Radio buttons of one parent form a group. UI thread only.
#include <cstdint>
#include <string>

#include "ZmLib/Composite/zmControlThemes.h"
#include "ZmLib/Composite/zmThemedControlImages.h"

namespace zm {

class TFrameCaption;

// Control state bits of both kinds.
constexpr std::uint32_t cbsDisabled = 1;
constexpr std::uint32_t cbsHot = 2;
constexpr std::uint32_t cbsPressed = 4;

constexpr std::int32_t kGlyphGap = 4;
constexpr std::int32_t kGlyphMargin = 2;
constexpr std::int32_t kMinGlyphSide = 13;

// round(max(13, TextHeight - 2) x Scale); Scale not above 0.00001 counts as 1.
std::int32_t CheckGlyphSide(std::int32_t textHeight, double scale);

class TCheckBoxTheme : public TFrameControlTheme {
public:
  using TFrameControlTheme::TFrameControlTheme;
  // F is the glyph's room: the text height, at least the glyph side.
  virtual TSize DefaultSize(std::int32_t f, const TSize& caption);
  virtual void CaptionRect(std::int32_t f, const TSize& size, TRect& rect, std::int32_t captionWidth, bool rtl);
  virtual void GlyphRect(std::int32_t side, const TSize& size, TRect& rect, bool rtl);
  // States carry the check state in bits 8 and up.
  virtual bool TransitionTime(std::uint32_t oldState, std::uint32_t newState, std::int32_t& ms);
  virtual void Key(std::uint8_t check, std::uint32_t bits, std::u16string& key);
  // Bits and check state of a key.
  virtual void ParseKey(const std::u16string& key, std::uint8_t& check, std::uint32_t& bits);
  virtual TRef<TDirectBitmap> Draw(const std::u16string& key, const TSize& size);
  virtual TRef<TDirectBitmap> HitMask(const std::u16string&, const TSize&) { return {}; }
  // A dotted rectangle on the canvas, cut to Clip.
  virtual void DrawFocus(TDrawSurface* canvas, const TRect& rect, const TRect& clip);
  // The classic glyph (the visual-style theme falls back on it). A check
  // state above 2 is an assertion.
  virtual TRef<TDirectBitmap> DrawClassic(std::uint8_t check, std::uint32_t bits, std::int32_t side);
  bool Raised = false;  // the edges drawn the other way round
};

class TRadioButtonTheme : public TCheckBoxTheme {
public:
  using TCheckBoxTheme::TCheckBoxTheme;
  void Key(std::uint8_t check, std::uint32_t bits, std::u16string& key) override;
  void ParseKey(const std::u16string& key, std::uint8_t& check, std::uint32_t& bits) override;
  TRef<TDirectBitmap> DrawClassic(std::uint8_t check, std::uint32_t bits, std::int32_t side) override;
};

// Element numbers and transition times of the visual styles.
std::int32_t WinCheckBoxElement(std::uint8_t check, std::uint32_t bits);
std::int32_t WinRadioButtonElement(std::uint8_t check, std::uint32_t bits);
std::int32_t WinCheckTransition(std::uint32_t oldState, std::uint32_t newState);
// Forces the classic glyph even while visual styles are active.
extern bool ForceClassicCheckGlyphs;

class TWinCheckBoxTheme : public TCheckBoxTheme {
public:
  using TCheckBoxTheme::TCheckBoxTheme;
  bool TransitionTime(std::uint32_t oldState, std::uint32_t newState, std::int32_t& ms) override;
  TRef<TDirectBitmap> Draw(const std::u16string& key, const TSize& size) override;
};

class TWinRadioButtonTheme : public TRadioButtonTheme {
public:
  using TRadioButtonTheme::TRadioButtonTheme;
  bool TransitionTime(std::uint32_t oldState, std::uint32_t newState, std::int32_t& ms) override;
  TRef<TDirectBitmap> Draw(const std::u16string& key, const TSize& size) override;
};

// The glyph child: pictures from the theme at its own size.
class TCheckBoxImage : public TThemedControlAnimatedPart {
public:
  TCheckBoxImage(TFrameControl* parent, TCheckBoxTheme* theme);
  void Dispose() override;
  // The glyph is part of its control: the mouse goes to the control.
  bool AcceptsMouse(const TMouseData&) override { return false; }
  bool HitTest(std::int32_t, std::int32_t) override { return false; }

protected:
  void CreateImage(const std::u16string& key, TPoint& offset, TRef<TDirectBitmap>& bitmap) override;

private:
  TRef<TCheckBoxTheme> theme_;
};
class TRadioButtonImage : public TCheckBoxImage {
public:
  using TCheckBoxImage::TCheckBoxImage;
};

// What both controls share, around their base class.
template <class Base>
class TThemedCheckControl : public Base {
public:
  TThemedCheckControl(TFrameControl* parent, TControlStyles* styles, TCheckBoxTheme* theme);
  void Dispose() override;
  void HandleEvent(TRefObject* sender, std::int32_t code, std::intptr_t param) override;
  void MouseEvent(TMouseData& mouse) override;
  void MouseLeave() override;
  void FocusChanged(bool gained) override;
  void AfterResize() override;
  void Paint(TDrawSurface* surface) override;

  void SetText(const std::u16string& text);
  void SetRightToLeft(bool on);
  void SetEnabled(bool on);
  bool Enabled() const { return !this->Frame() || this->Frame()->Enabled(); }
  std::uint32_t StateBits() const;
  virtual std::uint8_t CheckState() const = 0;
  // Lays glyph and caption out and moves the glyph to the present state.
  void Changed();
  void PreferredSize(std::int32_t& width, std::int32_t& height);
  std::int32_t GlyphSide();

  TCheckBoxTheme* Theme() const { return theme_.get(); }
  TThemedControlAnimatedPart* Glyph() const { return glyph_; }
  TFrameCaption* Caption() const { return caption_; }
  bool Hover() const { return hover_; }
  bool Pressed() const { return pressed_; }

protected:
  void StateChanged() override { Changed(); }
  TRef<TCheckBoxTheme> theme_;
  TThemedControlAnimatedPart* glyph_ = nullptr;  // children, owned by the tree
  TFrameCaption* caption_ = nullptr;
  bool hover_ = false, pressed_ = false, rtl_ = false;
  TRef<TFocusHelper> focusHelper_;
  std::uint32_t lastState_ = 0;
  bool hasState_ = false;
};

class TThemedFrameCheckBox : public TThemedCheckControl<TFrameCheckBox> {
public:
  TThemedFrameCheckBox(TFrameControl* parent, TControlStyles* styles, TCheckBoxTheme* theme);
  std::uint8_t CheckState() const override { return State(); }
};

class TThemedFrameRadioButton : public TThemedCheckControl<TFrameRadioButton> {
public:
  TThemedFrameRadioButton(TFrameControl* parent, TControlStyles* styles, TCheckBoxTheme* theme);
  std::uint8_t CheckState() const override { return Checked() ? cbChecked : cbUnchecked; }
  // Left/up and right/down move to the previous or next enabled radio
  // button of the group, wrapping around.
  void KeyNotify(TKeyboardData* key) override;
  void FocusChanged(bool gained) override;
  // Checking makes this the group's only checked button and tab stop.
  void SetChecked(bool on) override;
};

// Every radio button among Control's parent's children (Control included);
// Control alone when it has no parent.
std::vector<TFrameRadioButton*> RadioGroupOf(TFrameRadioButton* control);

using TCheckBoxThemeProc = TCheckBoxTheme* (*)(TControlStyles* styles);
using TRadioButtonThemeProc = TRadioButtonTheme* (*)(TControlStyles* styles);
extern TCheckBoxThemeProc CheckBoxThemeHook;
extern TRadioButtonThemeProc RadioButtonThemeHook;
TCheckBoxTheme* CheckBoxThemeOf(TControlStyles* styles);
TRadioButtonTheme* RadioButtonThemeOf(TControlStyles* styles);
TFrameCheckBox* AllocThemedFrameCheckBox(TFrameControl* parent, TControlStyles* styles);
TFrameRadioButton* AllocThemedFrameRadioButton(TFrameControl* parent, TControlStyles* styles);

// Install CheckBoxThemeHook and RadioButtonThemeHook (visual style),
// _AllocFrameCheckBox and _AllocFrameRadioButton; Fini puts back what was there.
void InitThemedCheckBoxes();
void FiniThemedCheckBoxes();

}  // namespace zm
