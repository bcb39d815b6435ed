#pragma once
// State pictures of themed controls: TThemedControlImages keeps one bitmap
// per state key, made on demand, and cross-fades from the picture shown to
// the new state's; TThemedControlAnimatedPart is the control base that
// paints it and drives the fade with its refresh ticks. UI thread only.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ZmLib/Composite/zmStdFrameControls.h"
#include "ZmLib/Graphics/zmBitmapUtils.h"

namespace zm {

class TThemedControlImages : public TRefObject {
public:
  struct TEntry {
    std::u16string Key;
    TRef<TDirectBitmap> Bitmap;  // nil when the state has no picture
    TPoint Offset;
  };
  // A frame to draw: the bitmap (nil: nothing) and where it goes.
  struct TFrame {
    TDirectBitmap* Bitmap = nullptr;
    TPoint Offset;
  };

  void Dispose() override;

  // The cached picture of Key (the latest entry of that key), made through
  // OnCreateImage when there is none. Any callback unset is an assertion.
  TEntry& GetImage(const std::u16string& key);
  // Stops a running fade; with Duration above 0 and a picture of positive
  // size for Key, fades from what is shown now (the blend when fading) to it;
  // otherwise shows it at once and calls OnFinished.
  void SetState(const std::u16string& key, std::int32_t duration, bool hold);
  // Advances the fade to the clock; the end (unless held) stops it and calls OnFinished.
  void Tick();
  // The blend while fading, else the current picture.
  TFrame CurrentFrame();
  // Stops and drops every picture.
  void Clear();

  bool Animating() const { return animating_; }
  bool Holding() const { return hold_; }
  void SetHold(bool on) { hold_ = on; }
  float Progress() const { return progress_; }
  std::int32_t Count() const { return std::int32_t(entries_.size()); }

  std::function<void(const std::u16string& key, TPoint& offset, TRef<TDirectBitmap>& bitmap)> OnCreateImage;
  std::function<void()> OnStop, OnStart, OnFinished;

private:
  void CheckCallbacks() const;
  void Stop();
  void Blend();
  std::vector<TEntry> entries_;
  TRef<TImageAnimator> animator_ = MakeRef<TImageAnimator>();
  std::uint32_t start_ = 0;
  std::int32_t duration_ = 0;
  TRef<TDirectBitmap> current_;
  TPoint currentOffset_;
  bool animating_ = false;
  bool hold_ = false;
  float progress_ = 0;
};

class TThemedControlAnimatedPart : public TStdFrameControl {
public:
  explicit TThemedControlAnimatedPart(TFrameControl* parent, TControlStyles* styles = nullptr);
  void Dispose() override;
  void Paint(TDrawSurface* surface) override;
  // The rectangle of the current frame (and of the frame drawn last).
  void GetBounds(TRect& rect) override;
  void NotifyRefresh() override;
  void AfterResize() override;
  // The theme changed: the pictures are made again for the present state.
  virtual void ThemeChanged();
  // Fades to Key over Duration ms (0: at once) and repaints.
  void SetStateAnimated(const std::u16string& key, std::int32_t duration);
  const std::u16string& StateKey() const { return key_; }
  TThemedControlImages* Images() const { return images_.get(); }

protected:
  // The picture of a state (default: none at (0, 0)).
  virtual void CreateImage(const std::u16string& key, TPoint& offset, TRef<TDirectBitmap>& bitmap);
  virtual void StartAnimation() { SetRefreshing(true); }
  virtual void StopAnimation() { SetRefreshing(false); }
  virtual void AnimationFinished() {}

private:
  void Rebuild();
  TRef<TThemedControlImages> images_;
  std::u16string key_;
  TRect painted_;  // the frame drawn last
};

}  // namespace zm
