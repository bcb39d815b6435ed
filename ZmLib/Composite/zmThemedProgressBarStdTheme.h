#pragma once
// The standard progress-bar theme: a sunken one-pixel frame with blocks
// (bar states 0 to 2) or a smooth bar (states 3 and 4), value changes eased
// over 200 ms and a marquee of five blocks running at 200 pixels a second.
#include <cstdint>

#include "ZmLib/Composite/zmThemedProgressBarTheme.h"

namespace zm {

constexpr std::int32_t kProgressBlockGap = 2;
constexpr std::int32_t kProgressValueDuration = 200;  // ms
constexpr std::int32_t kProgressMarqueeSpeed = 200;   // pixels per second
constexpr std::int32_t kProgressMarqueeBlocks = 5;

// The block metrics of a W x H bar: block width trunc((h - 8) / 1.5), at
// least 1; ceil((w - 8) / (width + gap)) blocks (0 for a narrow bar).
struct TProgressBlocks {
  std::int32_t Width = 1;
  std::int32_t Count = 0;
  static TProgressBlocks For(std::int32_t w, std::int32_t h);
  std::int32_t Step() const { return Width + kProgressBlockGap; }
};
// Blocks are shown from 9 x 9 pixels on.
bool ProgressShowsBlocks(std::int32_t w, std::int32_t h);
// The colour of a bar state (0 the styles' selection colour); others are an assertion.
TColor32 ProgressStateColor(TControlStyles* styles, std::uint8_t state);

class TStdProgressAnimator : public TProgressAnimator {
public:
  // A new target from the shown value over Duration.
  void StartValue(float target, std::uint32_t now);
  // The shown value; the animation ends once its time has passed. Asking
  // while a marquee runs is an assertion.
  float ShownValue(std::uint32_t now);
  // (Re)starts the marquee; a running one keeps its phase when the
  // direction changes.
  void StartMarquee(bool reversed, std::int32_t cycle, std::uint32_t now);
  void StopMarquee() { MarqueeRunning = false; }
  // The marquee offset in pixels; asking while none runs is an assertion.
  std::int32_t MarqueeOffset(std::uint32_t now) const;

  bool Animating = false;
  std::uint32_t StartTime = 0;
  float Target = 0, Start = 0;
  std::int32_t Duration = kProgressValueDuration;
  std::int32_t CycleLength = 1;
  std::int32_t Speed = kProgressMarqueeSpeed;
  bool MarqueeRunning = false;
  bool MarqueeReversed = false;
};

class TProgressBarStdTheme;

class TStdDrawer : public TProgressBarDrawer {
public:
  TStdDrawer(TProgressBarStdTheme* theme, TStdProgressAnimator* animator);
  void Dispose() override;
  void SetSize(std::int32_t width, std::int32_t height) override;
  void SetState(std::uint8_t state) override;
  void StartMarquee(bool reversed) override;
  void StopMarquee() override;
  void SetValue(bool reversed, bool& animating, float value) override;
  void Paint(TDrawSurface* canvas) override;
  bool IsAnimating() override;
  void AnimateStep() override;
  TStdProgressAnimator* Animator() const { return animator_.get(); }
  std::uint8_t State() const { return state_; }
  // The value on screen now.
  float ShownValue();

protected:
  // The standard picture (the visual-style drawer falls back on it).
  void PaintStd(TDrawSurface* canvas);
  std::int32_t BarWidth() const { return width_; }
  std::int32_t BarHeight() const { return height_; }
  bool MarqueeOn() const { return marquee_; }
  TProgressBarStdTheme* StdTheme() const { return theme_.get(); }

private:
  std::int32_t Cycle() const;
  TRef<TStdProgressAnimator> animator_;
  TRef<TProgressBarStdTheme> theme_;
  std::int32_t width_ = 0, height_ = 0;
  std::uint8_t state_ = 0;
  float value_ = 0;
  bool marquee_ = false;
  bool reversed_ = false;
  std::int32_t lastOffset_ = -1;
};

// Calls its theme on the refresh event.
class TAnimateHandler : public events::TEventHandler {
public:
  explicit TAnimateHandler(TProgressBarTheme* theme) : theme_(theme) {}
  void HandleEvent(TRefObject* sender, std::int32_t code, std::intptr_t param) override;
  void Detach() { theme_ = nullptr; }

private:
  TProgressBarTheme* theme_;  // the theme owns the handler
};

class TProgressBarStdTheme : public TProgressBarTheme {
public:
  explicit TProgressBarStdTheme(TControlStyles* styles = nullptr);
  void Dispose() override;
  TRef<TProgressBarDrawer> MakeDrawer() override;
  TSize DefaultSize() override { return {152, 17}; }
  bool Listening() const override;

protected:
  void StartListening() override;
  void StopListening() override;

private:
  TRef<TAnimateHandler> handler_;
  TRef<TRefreshNotifier> listeningOn_;  // held while subscribed
};

TProgressBarTheme* MakeProgressBarStdTheme(TControlStyles* styles);

void InitThemedProgressBarStdTheme();
void FiniThemedProgressBarStdTheme();

}  // namespace zm
