#include "OruLib2/OruViewer/OruFrameInterpolation.h"

#include <cmath>
#include <numeric>

namespace oru {

void TFrameInterpolator::Reset() {
  warmUp_ = kWarmUpPasses;
  count_ = 0;
  ringIndex_ = 0;
  deltaSum_ = 0;
}

void TFrameInterpolator::Restart() {
  count_ = 0;
  ringIndex_ = 0;
  deltaSum_ = 0;
}

void TFrameInterpolator::Hold(bool on) {
  if (on) {
    holding_ = true;
    resumePending_ = false;
  } else if (holding_) {
    resumePending_ = true;
  }
}

double TFrameInterpolator::Interpolate(double t) {
  if (!std::isfinite(t)) return output_;
  const bool passThrough = holding_ || warmUp_ >= 1;
  if (!passThrough) {
    if (count_ <= kRingSize) ++count_;
    const bool full = count_ > kRingSize;
    if (full) deltaSum_ -= deltas_[ringIndex_];
    const double d = t - lastInput_;
    deltaSum_ += d;
    deltas_[ringIndex_] = d;
    ringIndex_ = (ringIndex_ + 1) % kRingSize;
    // The running sum gathers rounding over hours of passes: resum it once
    // per turn of the ring.
    if (full && ringIndex_ == 0) deltaSum_ = std::accumulate(deltas_.begin(), deltas_.end(), 0.0);
    if (full) {
      const double predicted = output_ + deltaSum_ / kRingSize;
      const double next = predicted + (t - predicted) / 6;
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
