#pragma once
// The themed progress bar: TThemedFrameProgressBar hands everything visible
// to a drawer its theme makes. A theme keeps its live drawers and, while it
// has any, listens to a refresh notifier and runs their animation steps.
// UI thread only.
#include <cstdint>
#include <functional>
#include <vector>

#include "ZmLib/Composite/zmControlThemes.h"
#include "ZmLib/Composite/zmStdFrameControls.h"

namespace zm {

class TProgressBarTheme;

class TProgressAnimator : public TRefObject {};

class TProgressBarDrawer : public TRefObject {
public:
  virtual void SetSize(std::int32_t width, std::int32_t height) = 0;
  // Bar states 0..4; others are an assertion.
  virtual void SetState(std::uint8_t state) = 0;
  virtual void StartMarquee(bool reversed) = 0;
  virtual void StopMarquee() = 0;
  // Animating tells the control to repaint.
  virtual void SetValue(bool reversed, bool& animating, float value) = 0;
  virtual void Paint(TDrawSurface* canvas) = 0;
  virtual bool IsAnimating() = 0;
  // One refresh tick of the theme.
  virtual void AnimateStep() = 0;
  // Asks the control to repaint.
  std::function<void()> OnRepaint;
};

class TProgressBarTheme : public TFrameControlTheme {
public:
  using TFrameControlTheme::TFrameControlTheme;
  // Drawers still registered are an assertion.
  void Dispose() override;
  // The first drawer subscribes the theme to the refresh notifier.
  virtual void AddDrawer(TProgressBarDrawer* drawer);
  // A drawer that is not registered is an assertion.
  virtual void RemoveDrawer(TProgressBarDrawer* drawer);
  virtual TRef<TProgressBarDrawer> MakeDrawer() = 0;
  virtual TSize DefaultSize() = 0;
  // Every refresh tick: without drawers the theme stops listening; else
  // each drawer's animation step runs.
  virtual void Animate();
  std::int32_t DrawerCount() const { return std::int32_t(drawers_.size()); }
  // The notifier animations run on (nil: the global one, taken when needed).
  void SetNotifier(TRefreshNotifier* notifier) { notifier_ = notifier; }
  virtual bool Listening() const { return false; }

protected:
  virtual void StartListening() {}
  virtual void StopListening() {}
  TRefreshNotifier* Notifier();

private:
  std::vector<TProgressBarDrawer*> drawers_;  // not referenced: they reference the theme
  TRefreshNotifier* notifier_ = nullptr;
};

class TThemedFrameProgressBar : public TFrameProgressBar {
public:
  TThemedFrameProgressBar(TFrameControl* parent, TControlStyles* styles, TProgressBarTheme* theme);
  void Dispose() override;
  void AfterResize() override;
  void Paint(TDrawSurface* surface) override;
  // The direction values and the marquee run in (true: right to left).
  void SetReversed(bool on);
  bool Reversed() const { return reversed_; }
  TProgressBarDrawer* Drawer() const { return drawer_.get(); }

protected:
  void ValueChanged() override;
  void BarStateChanged() override;
  void MarqueeChanged() override;

private:
  TRef<TProgressBarTheme> theme_;
  TRef<TProgressBarDrawer> drawer_;
  bool reversed_ = false;
};

using TAllocProgressBarThemeProc = TProgressBarTheme* (*)(TControlStyles* styles);
// The asserting default ("AllocProgressBarTheme undefined") until a theme unit installs its factory.
extern TAllocProgressBarThemeProc AllocProgressBarTheme;
// The styles' progress-bar theme (made through AllocProgressBarTheme), then the bar.
TFrameProgressBar* AllocThemedFrameProgressBar(TFrameControl* parent, TControlStyles* styles);

void InitThemedProgressBarTheme();
void FiniThemedProgressBarTheme();

}  // namespace zm
