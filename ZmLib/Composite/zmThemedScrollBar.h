#pragma once
// The drawn scroll bar: a TFrameScrollBar of five animated child parts (two
// arrow buttons, the thumb, the track before and after it) that a theme
// object measures and draws. TWin9xFrameScrollBarTheme draws the classic
// look; TWinXPFrameScrollBarTheme uses theme elements while visual styles
// are active. Buttons and tracks repeat while held. UI thread only.
#include <cstdint>
#include <functional>
#include <string>

#include "ZmLib/Composite/zmControlThemes.h"
#include "ZmLib/Composite/zmThemedControlImages.h"
#include "ZmLib/zmMath.h"

namespace zm {

class TMultiTimerEvent;

// Part kinds.
constexpr std::uint8_t spFirstButton = 0;
constexpr std::uint8_t spSecondButton = 1;
constexpr std::uint8_t spThumb = 2;
constexpr std::uint8_t spUpperTrack = 3;
constexpr std::uint8_t spLowerTrack = 4;
constexpr std::uint8_t spSizeBox = 5;

// Part state bits.
constexpr std::uint32_t spsDisabled = 1;
constexpr std::uint32_t spsHover = 2;
constexpr std::uint32_t spsPressed = 4;
constexpr std::uint32_t spsBarHot = 8;

constexpr std::int32_t kScrollRepeatDelay = 500;
constexpr std::int32_t kScrollRepeatInterval = 50;
constexpr std::int32_t kThumbToleranceAlong = 64;
constexpr std::int32_t kThumbToleranceAcross = 128;

// Orientations given to themes: 0 horizontal, 1 vertical.
class TFrameScrollBarTheme : public TFrameControlTheme {
public:
  using TFrameControlTheme::TFrameControlTheme;
  virtual TSize DefaultSize(std::uint8_t orientation);
  virtual void ButtonRect(const TSize& bar, std::uint8_t orientation, TRect& rect, std::int32_t which);
  virtual std::int32_t ThumbLength(const TRect& track, std::uint8_t orientation, float page);
  virtual bool TrackRect(const TSize& bar, std::uint8_t orientation, TRect& rect);
  virtual bool TransitionTime(std::uint32_t oldState, std::uint32_t newState, std::int32_t& ms);
  // Asserts on an orientation other than 0 and 1.
  virtual void CacheKey(std::uint8_t part, std::uint32_t state, std::u16string& key, std::uint8_t orientation);
  virtual TRef<TDirectBitmap> Draw(const std::u16string& key, const TSize& size);
  virtual void PartChanged(std::uint32_t, std::uint32_t) {}
  // Metrics: the button length along the bar, the bar's thickness, the shortest thumb.
  virtual std::int32_t ButtonLength(std::uint8_t orientation);
  virtual std::int32_t Thickness(std::uint8_t orientation);
  virtual std::int32_t MinThumbLength(std::uint8_t orientation);
};

class TWin9xFrameScrollBarTheme : public TFrameScrollBarTheme {
public:
  using TFrameScrollBarTheme::TFrameScrollBarTheme;
  TRef<TDirectBitmap> Draw(const std::u16string& key, const TSize& size) override;
  TRef<TDirectBitmap> DrawClassic(const std::u16string& key, const TSize& size);
};

class TWinXPFrameScrollBarTheme : public TWin9xFrameScrollBarTheme {
public:
  using TWin9xFrameScrollBarTheme::TWin9xFrameScrollBarTheme;
  bool TransitionTime(std::uint32_t oldState, std::uint32_t newState, std::int32_t& ms) override;
  TRef<TDirectBitmap> Draw(const std::u16string& key, const TSize& size) override;
};

// Key parts back: false for a key the themes do not make.
bool ParseScrollBarKey(const std::u16string& key, std::uint8_t& orientation, std::uint8_t& part, std::uint32_t& state);
// The visual-style element of a part and state (hover elements when the
// theme services report them and the bar is hot).
std::int32_t WinXPScrollBarElement(std::uint8_t part, std::uint32_t state, std::uint8_t orientation,
                                   bool hoverElements);
std::int32_t WinXPScrollBarTransition(std::uint32_t oldState, std::uint32_t newState);
// Whether the theme services have the hover elements (none here).
extern bool ScrollBarHoverElements;

class TThemedFrameScrollBar;
class TThemedScrollBarRepeater;

// How held buttons and tracks get their repeat ticks: Start arranges for
// Part->TimerTick every Ms milliseconds and gives a handle (nil: no timer),
// Stop ends it. The default uses the multi-timer; tests install their own.
struct TScrollBarTimerProcs {
  void* (*Start)(std::int32_t ms, TThemedScrollBarRepeater* part) = nullptr;
  void (*Stop)(void* handle) = nullptr;
};
extern TScrollBarTimerProcs ScrollBarTimerProcs;

class TThemedScrollBarPart : public TThemedControlAnimatedPart {
public:
  TThemedScrollBarPart(TThemedFrameScrollBar* bar, std::uint8_t kind);
  void Dispose() override;
  void MouseEvent(TMouseData& mouse) override;
  void MouseLeave() override;
  std::uint32_t State() const;
  // Recomputes the state and moves to its picture when it changed.
  void UpdateState();
  std::uint8_t Kind() const { return kind_; }
  bool Hover() const { return hover_; }
  bool Pressed() const { return pressed_; }
  bool BarHot() const { return barHot_; }
  void SetBarHot(bool on) { barHot_ = on; }
  // The bar's enabled state changed.
  virtual void EnabledChanged();

protected:
  void CreateImage(const std::u16string& key, TPoint& offset, TRef<TDirectBitmap>& bitmap) override;
  virtual void PressChanged() {}
  virtual void Dragged(const TMouseData&) {}
  void SetHover(bool on);
  void SetPressed(bool on);
  TThemedFrameScrollBar* bar_;
  std::uint32_t lastState_ = 0;
  std::uint8_t kind_;
  bool barHot_ = false, hover_ = false, pressed_ = false;
  bool hasState_ = false;
};

// Buttons and tracks: a step at the press, then repeats from a timer.
class TThemedScrollBarRepeater : public TThemedScrollBarPart {
public:
  using TThemedScrollBarPart::TThemedScrollBarPart;
  void Dispose() override;
  // A timer tick (the multi-timer calls it; tests may too).
  virtual void TimerTick();
  // The interval of the running timer; 0 when none.
  std::int32_t TimerInterval() const { return interval_; }

protected:
  void PressChanged() override;
  virtual void Step() = 0;
  void StartTimer(std::int32_t ms);
  void StopTimer();

private:
  void* timer_ = nullptr;
  std::int32_t interval_ = 0;
};

class TThemedScrollBarButton : public TThemedScrollBarRepeater {
public:
  using TThemedScrollBarRepeater::TThemedScrollBarRepeater;

protected:
  void Step() override;
};

class TThemedScrollBarTrack : public TThemedScrollBarRepeater {
public:
  using TThemedScrollBarRepeater::TThemedScrollBarRepeater;
  void MouseEvent(TMouseData& mouse) override;
  void TimerTick() override;
  TPoint LastMouse() const { return mouse_; }

protected:
  void Step() override;

private:
  TPoint mouse_;  // in bar coordinates
};

class TThemedScrollBarThumb : public TThemedScrollBarPart {
public:
  using TThemedScrollBarPart::TThemedScrollBarPart;
  void MouseEvent(TMouseData& mouse) override;

private:
  TPoint dragMouse_, dragOrigin_;
  float dragPosition_ = 0;
};

class TThemedFrameScrollBar : public TFrameScrollBar {
public:
  // Theme nil: the classic theme of the styles (made when missing).
  TThemedFrameScrollBar(TFrameControl* parent, TControlStyles* styles, std::uint8_t orientation,
                        TFrameScrollBarTheme* theme);
  void Dispose() override;
  void AfterResize() override;
  void SetEnabled(bool on);
  bool Enabled() const { return !Frame() || Frame()->Enabled(); }
  // The set-position operation: clamped by the base; OnScroll when it moved.
  void SetScrollPosition(float position);
  void PreferredSize(std::int32_t& width, std::int32_t& height);
  // Places every part from the theme.
  void Layout();
  // Recomputes every part's bar-hot flag and state.
  void PartStateChanged();
  std::uint8_t ThemeOrientation() const { return Vertical() ? 1 : 0; }
  TFrameScrollBarTheme* Theme() const { return theme_.get(); }
  TThemedScrollBarPart* Part(std::uint8_t kind) const { return kind < 5 ? parts_[kind] : nullptr; }
  // The track rectangle in bar coordinates (empty without theme).
  TRect TrackRect();
  std::int32_t ThumbLength();
  std::function<void(TThemedFrameScrollBar*)> OnScroll;

protected:
  void StateChanged() override;

private:
  TRef<TFrameScrollBarTheme> theme_;
  TThemedScrollBarPart* parts_[5] = {};
};

// The classic theme of Styles' list (made and added when missing).
TFrameScrollBarTheme* ScrollBarThemeOf(TControlStyles* styles);
// Makes the visual-style theme and registers it with Styles (nil: the global styles).
TFrameScrollBarTheme* MakeWinXPFrameScrollBarTheme(TControlStyles* styles);
// A TThemedFrameScrollBar when the styles (nil: the global ones) hold a
// scroll-bar theme, else the hook's previous value.
TFrameScrollBar* AllocThemedFrameScrollBar(TFrameControl* parent, TControlStyles* styles, std::uint8_t orientation);

// Chains AllocFrameScrollBar; Fini puts the saved value back.
void InitThemedScrollBar();
void FiniThemedScrollBar();

}  // namespace zm
