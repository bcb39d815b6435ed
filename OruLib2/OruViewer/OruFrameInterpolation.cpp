#include "OruLib2/OruViewer/OruFrameInterpolation.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace oru {

void TFrameInterpolator::Reset() {
  warmUp_ = kWarmUpPasses;
  count_ = 0;
  ringIndex_ = 0;
  deltaSum_ = 0;
  spanSum_ = 0;
}

void TFrameInterpolator::Restart() {
  count_ = 0;
  ringIndex_ = 0;
  deltaSum_ = 0;
  spanSum_ = 0;
}

void TFrameInterpolator::Hold(bool on) {
  if (on) {
    holding_ = true;
    resumePending_ = false;
  } else if (holding_) {
    resumePending_ = true;
  }
}

double TFrameInterpolator::Interpolate(double t, std::uint32_t now) {
  if (!std::isfinite(t)) return output_;
  const double span = static_cast<std::uint32_t>(now - lastNow_);
  lastNow_ = now;
  const bool passThrough = holding_ || warmUp_ >= 1;
  if (!passThrough) {
    if (count_ <= kRingSize) ++count_;
    const bool full = count_ > kRingSize;
    if (full) {
      deltaSum_ -= deltas_[ringIndex_];
      spanSum_ -= spans_[ringIndex_];
    }
    const double d = t - lastInput_;
    deltaSum_ += d;
    deltas_[ringIndex_] = d;
    spanSum_ += span;
    spans_[ringIndex_] = span;
    ringIndex_ = (ringIndex_ + 1) % kRingSize;
    // The running sums gather rounding over hours of passes: resum them
    // once per turn of the ring.
    if (full && ringIndex_ == 0) {
      deltaSum_ = std::accumulate(deltas_.begin(), deltas_.end(), 0.0);
      spanSum_ = std::accumulate(spans_.begin(), spans_.end(), 0.0);
    }
    if (full) {
      // The clock's pace over the ring, times this pass's share of it.
      const double step = spanSum_ > 0 ? deltaSum_ * span / spanSum_ : 0.0;
      const double predicted = output_ + step;
      double next = predicted + (t - predicted) / 6;
      // A clock that stands (the sound stalled) is not run past: the show
      // waits for what has been played.
      if (d == 0) next = std::min(next, std::max(output_, t));
      // A clock that stalls without a hold would otherwise pull the
      // overshoot back; only an input that goes back moves the output back.
      if (next >= output_ || t < lastInput_) output_ = next;
    }
  }
  if (passThrough && !holding_) --warmUp_;
  if (passThrough || count_ <= kRingSize) output_ = t;
  lastInput_ = t;
  if (resumePending_) {
    resumePending_ = false;
    holding_ = false;
  }
  return output_;
}

}  // namespace oru
