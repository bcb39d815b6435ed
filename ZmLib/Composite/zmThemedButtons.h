#pragma once
// The drawn push button and speed button and their themes. Each control
// keeps a state word, its theme turns the word into a key and the key into
// a picture, and the control's images fade between pictures when the theme
// asks for a transition time. The classic themes draw 3D frames; the
// visual-style themes use theme elements while visual styles are active and
// otherwise draw like their classic parents. UI thread only.
#include <cstdint>
#include <string>

#include "ZmLib/Composite/winThemes2.h"
#include "ZmLib/Composite/zmControlThemes.h"
#include "ZmLib/Composite/zmThemedControlImages.h"

namespace zm {

// ---- Shared drawing ---------------------------------------------------------------------

// A dotted rectangle outline (every other pixel, starting at the top-left)
// in Color, cut to the bitmap; nothing for nil or an empty rectangle.
void DrawFocusDots(TDirectBitmap* bitmap, const TRect& rect, TColor32 color);
// A theme element rendered into a W x H "A8R8G8B8" picture: drawn on a
// transparent 32-bit DIB, and when that carries no alpha, again on the
// shared 24-bit scratch DIB filled with KeyColor (opaque then). Nil when the
// size is empty or the theme services cannot draw it.
TRef<TDirectBitmap> RenderThemeElement(const TThemedElement& element, std::int32_t w, std::int32_t h,
                                       TColor32 keyColor);
// The scratch DIB's size (it grows, never shrinks); freed by FreeThemeElementScratch.
TSize ThemeElementScratchSize();
void FreeThemeElementScratch();
// True when every name of "A|B|C" Key holds is Name.
bool KeyHasName(const std::u16string& key, const std::u16string& name);

// ---- Push buttons -----------------------------------------------------------------------

// Push button state bits.
constexpr std::uint32_t pbsDisabled = 1;
constexpr std::uint32_t pbsDefaulted = 2;
constexpr std::uint32_t pbsFocused = 4;
constexpr std::uint32_t pbsHot = 8;
constexpr std::uint32_t pbsPressed = 16;
constexpr std::uint32_t pbsAnimated = 32;

constexpr std::int32_t kButtonMarginX = 9;
constexpr std::int32_t kButtonMarginY = 6;

class TButtonTheme : public TFrameControlTheme {
public:
  using TFrameControlTheme::TFrameControlTheme;
  // The bits whose names occur in Name.
  virtual std::uint32_t ParseState(const std::u16string& name);
  // round(width of "Wg" x 3.8125) + 18 by text height + 12, in Control's font.
  virtual TSize DefaultSize(TFrameControl* control);
  // The size inset by the margins, moved by (1, 1) when pressed.
  virtual void ContentRect(std::uint32_t state, const TSize& size, TRect& rect);
  virtual std::int32_t WidthForContent(std::int32_t w) { return w + 2 * kButtonMarginX; }
  virtual std::int32_t HeightForContent(std::int32_t h) { return h + 2 * kButtonMarginY; }
  virtual void StateName(std::uint32_t state, std::u16string& name);
  // Classic: 0 and no animation.
  virtual bool TransitionTime(std::uint32_t oldState, std::uint32_t newState, std::int32_t& ms);
  virtual TRef<TDirectBitmap> Draw(const std::u16string& name, const TSize& size, TPoint& offset);
  // Nil: the whole rectangle hits.
  virtual TRef<TDirectBitmap> HitMask(const std::u16string& name, const TSize& size, TPoint& offset);
  // The classic picture (the visual-style theme falls back on it).
  TRef<TDirectBitmap> DrawClassic(std::uint32_t state, const TSize& size);
};

class TWinXPButtonTheme : public TButtonTheme {
public:
  using TButtonTheme::TButtonTheme;
  void StateName(std::uint32_t state, std::u16string& name) override;
  bool TransitionTime(std::uint32_t oldState, std::uint32_t newState, std::int32_t& ms) override;
  TRef<TDirectBitmap> Draw(const std::u16string& name, const TSize& size, TPoint& offset) override;
  TRef<TDirectBitmap> HitMask(const std::u16string& name, const TSize& size, TPoint& offset) override;
};
// The visual-style rules, whatever the system draws now.
std::int32_t WinXPButtonTransition(std::uint32_t oldState, std::uint32_t newState);
std::int32_t WinXPButtonElement(const std::u16string& name);
void ClassicButtonStateName(std::uint32_t state, std::u16string& name);
void WinXPButtonStateName(std::uint32_t state, std::u16string& name);

// Width and height mode bits.
constexpr std::uint8_t smAtLeastDefault = 1;
constexpr std::uint8_t smAtMostDefault = 2;
constexpr std::uint8_t smFromCaption = 4;

class TThemedFrameButton : public TFrameButton {
public:
  // Theme nil takes the one of the styles (made when missing).
  TThemedFrameButton(TFrameControl* parent, TControlStyles* styles, TButtonTheme* theme);
  void Dispose() override;
  void HandleEvent(TRefObject* sender, std::int32_t code, std::intptr_t param) override;
  void MouseEvent(TMouseData& mouse) override;
  void MouseLeave() override;
  void KeyNotify(TKeyboardData* key) override;
  void FocusChanged(bool gained) override;
  void ActiveChanged() override;
  void AfterResize() override;
  void NotifyRefresh() override;
  void Paint(TDrawSurface* surface) override;
  void GetBounds(TRect& rect) override;
  bool HitTest(std::int32_t x, std::int32_t y) override;

  // The frame's enabled flag; disabling drops the pressed states.
  void SetEnabled(bool on);
  bool Enabled() const;
  // Held down by its owner (shown pressed).
  void SetHeldDown(bool on);
  std::uint32_t State();
  void PreferredSize(std::int32_t& width, std::int32_t& height);
  std::int32_t Baseline() const { return baseline_; }
  // Lays the caption out and repaints.
  void Changed();

  TButtonTheme* Theme() const { return theme_.get(); }
  TThemedControlImages* Images() const { return images_.get(); }
  std::uint32_t LastState() const { return lastState_; }
  bool Hover() const { return hover_; }
  bool MousePressed() const { return mousePressed_; }
  bool KeyPressed() const { return keyPressed_; }
  std::uint8_t WidthMode = smAtLeastDefault | smFromCaption;
  std::uint8_t HeightMode = smAtLeastDefault | smFromCaption;

protected:
  void StateChanged() override { Changed(); }

private:
  void UpdateImage();
  void StartPulse(std::uint32_t state);
  TRef<TButtonTheme> theme_;
  bool hover_ = false, mousePressed_ = false, keyPressed_ = false, heldDown_ = false;
  TRef<TDirectBitmap> hitMask_;
  TPoint hitOffset_;
  TRef<TFocusHelper> focusHelper_;
  TRef<TThemedControlImages> images_;
  std::uint32_t lastState_ = 0;
  bool hasState_ = false;
  bool pulseOut_ = false;  // the default pulse is fading toward "Animated"
  std::int32_t baseline_ = -1;
  TRect painted_;
};

// ---- Speed buttons ----------------------------------------------------------------------

// Speed button state bits.
constexpr std::uint32_t sbsDisabled = 1;
constexpr std::uint32_t sbsHot = 2;
constexpr std::uint32_t sbsPressed = 4;
constexpr std::uint32_t sbsChecked = 8;

constexpr std::int32_t kDropDownWidth = 15;

class TSpeedButtonTheme : public TFrameControlTheme {
public:
  using TFrameControlTheme::TFrameControlTheme;
  // Pressed, or checked and not hot.
  virtual bool IsPushedIn(std::uint32_t state);
  // 23 x 22, plus 15 in width for kind 1.
  virtual TSize DefaultSize(TFrameControl* control, std::uint8_t kind);
  // Size less the margins (and the drop-down part), moved by (1, 1) when pushed in.
  virtual void ContentRect(std::uint8_t kind, std::uint32_t state, TRect& rect, const TSize& size);
  virtual void SizeForContent(std::uint8_t kind, const TSize& content, TSize& size);
  virtual void StateName(std::uint8_t kind, std::uint32_t state, std::u16string& name, bool checked);
  virtual bool TransitionTime(std::uint32_t oldState, std::uint32_t newState, std::int32_t& ms);
  virtual TRef<TDirectBitmap> Draw(const std::u16string& name, const TSize& size, TPoint& offset);
  virtual TRef<TDirectBitmap> HitMask(const std::u16string& name, const TSize& size, TPoint& offset);
  TRef<TDirectBitmap> DrawClassic(const std::u16string& name, const TSize& size);
  std::int32_t MarginX();
  std::int32_t MarginY();
};

class TWinXPSpeedButtonTheme : public TSpeedButtonTheme {
public:
  using TSpeedButtonTheme::TSpeedButtonTheme;
  bool TransitionTime(std::uint32_t oldState, std::uint32_t newState, std::int32_t& ms) override;
  TRef<TDirectBitmap> Draw(const std::u16string& name, const TSize& size, TPoint& offset) override;
};
std::int32_t WinXPSpeedButtonTransition(std::uint32_t oldState, std::uint32_t newState);
// The element of a key: the main part's number (+ 12 for a drop-down
// button); the arrow part is that base + 18.
std::int32_t WinXPSpeedButtonElement(const std::u16string& key);
// The state bits a key names.
std::uint32_t ParseSpeedButtonKey(const std::u16string& key);

class TThemedSpeedButton : public TFrameSpeedButton {
public:
  TThemedSpeedButton(TFrameControl* parent, TControlStyles* styles, TSpeedButtonTheme* theme);
  void Dispose() override;
  void MouseEvent(TMouseData& mouse) override;
  void MouseLeave() override;
  void AfterResize() override;
  void NotifyRefresh() override;
  void Paint(TDrawSurface* surface) override;
  void GetBounds(TRect& rect) override;
  bool HitTest(std::int32_t x, std::int32_t y) override;

  // 0 outside, 1 on the button, 2 on the drop-down part.
  std::int32_t HitPart(std::int32_t x, std::int32_t y);
  void SetEnabled(bool on);
  bool Enabled() const;
  void SetKind(std::uint8_t kind);
  std::uint8_t Kind() const { return kind_; }
  std::uint32_t State();
  void PreferredSize(std::int32_t& width, std::int32_t& height);
  void ContentRect(TRect& rect);
  // Opens the drop-down part.
  virtual void DropDown();
  std::function<void(TThemedSpeedButton*)> OnDropDown;
  bool FixedSize = false;
  bool AutoWidth = false, AutoHeight = false;
  TSize ContentSize;  // the picture's size for the automatic dimensions

  TSpeedButtonTheme* Theme() const { return theme_.get(); }
  TThemedControlImages* Images() const { return images_.get(); }
  bool Hover() const { return hover_; }
  bool Pressed() const { return pressed_; }

protected:
  void StateChanged() override;

private:
  TRef<TSpeedButtonTheme> theme_;
  bool hover_ = false, pressed_ = false;
  TRef<TDirectBitmap> hitMask_;
  TPoint hitOffset_;
  TRef<TThemedControlImages> images_;
  std::uint8_t kind_ = 0;
  std::uint32_t lastState_ = 0;
  bool hasState_ = false;
  TRect painted_;
};

// ---- Hooks ------------------------------------------------------------------------------

using TButtonThemeProc = TButtonTheme* (*)(TControlStyles* styles);
using TSpeedButtonThemeProc = TSpeedButtonTheme* (*)(TControlStyles* styles);
extern TButtonThemeProc ButtonThemeHook;
extern TSpeedButtonThemeProc SpeedButtonThemeHook;
// The theme of the styles' list, else one made through the hook (a classic
// theme without hook); the styles' list keeps it.
TButtonTheme* ButtonThemeOf(TControlStyles* styles);
TSpeedButtonTheme* SpeedButtonThemeOf(TControlStyles* styles);
TFrameButton* AllocThemedFrameButton(TFrameControl* parent, TControlStyles* styles);
TFrameSpeedButton* AllocThemedSpeedButton(TFrameControl* parent, TControlStyles* styles);

// Install ButtonThemeHook (visual style), SpeedButtonThemeHook (visual
// style), AllocFrameButton and _AllocFrameSpeedButton; Fini puts back what
// was there and frees the scratch DIB.
void InitThemedButtons();
void FiniThemedButtons();

}  // namespace zm
