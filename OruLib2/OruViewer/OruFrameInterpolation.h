#pragma once
// Smooths the show clock read once per engine pass: the music clock arrives
// in steps of uneven size, and animation should advance by even ones.
#include <array>
#include <cstdint>

#include "ZmLib/Win32/SysObj2.h"

namespace oru {

// Used by the engine thread only.
class TFrameInterpolator : public zm::TRefObject {
public:
  static constexpr std::int32_t kRingSize = 32;
  static constexpr std::int32_t kWarmUpPasses = 16;

  TFrameInterpolator() { Reset(); }

  // The next kWarmUpPasses values, and the kRingSize samples after them,
  // pass through unchanged.
  void Reset();
  // On: values pass through until released. Off (after an On): the value of
  // the next Interpolate still passes through, then smoothing goes on.
  void Hold(bool on);
  // After a gap in the passes: the ring starts again, so the next
  // kRingSize values pass through unchanged.
  void Restart();
  // The smoothed time (ms) for the raw time t read at now (a millisecond
  // count that may wrap). The prediction moves on by the time that passed
  // since the last pass at the clock's recent pace, so that a pass that
  // comes soon after another does not push the output ahead of the clock.
  // An input that stands is not run past. While the input does not go
  // back, the output does not either. A non-finite t changes nothing and
  // returns the last output.
  double Interpolate(double t, std::uint32_t now);
  // Passes of even length: each counts as one unit of time.
  double Interpolate(double t) { return Interpolate(t, lastNow_ + 1); }

  double Output() const { return output_; }
  std::int32_t WarmUp() const { return warmUp_; }
  bool Holding() const { return holding_; }

private:
  double output_ = 0;
  std::int32_t warmUp_ = kWarmUpPasses;
  double lastInput_ = 0;
  std::array<double, kRingSize> deltas_{};
  std::array<double, kRingSize> spans_{};  // the time between the passes
  std::uint32_t lastNow_ = 0;
  double spanSum_ = 0;
  std::int32_t count_ = 0;  // stops counting once the ring is full
  std::int32_t ringIndex_ = 0;
  double deltaSum_ = 0;
  bool holding_ = false;
  bool resumePending_ = false;
};

}  // namespace oru
