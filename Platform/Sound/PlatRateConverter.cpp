#include "Platform/Sound/PlatRateConverter.h"

#include <soxr.h>

#include <cmath>

namespace plat::sound {

namespace {
soxr_t Soxr(void* p) { return static_cast<soxr_t>(p); }
}  // namespace

TRateConverter::~TRateConverter() {
  if (state_) soxr_delete(Soxr(state_));
}

bool TRateConverter::Setup(double inRate, double outRate) {
  if (state_) soxr_delete(Soxr(state_));
  state_ = nullptr;
  draining_ = false;
  if (!(inRate > 0) || !(outRate > 0) || !std::isfinite(inRate) || !std::isfinite(outRate)) return false;
  soxr_error_t error = nullptr;
  const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
  // Linear phase: every frequency keeps its place, so times stay exact.
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ | SOXR_LINEAR_PHASE, 0);
  // One thread: the caller's (the mixer's or a converter's) is the one to use.
  const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
  soxr_t s = soxr_create(inRate, outRate, 2, &error, &io, &quality, &runtime);
  if (error || !s) {
    if (s) soxr_delete(s);
    return false;
  }
  state_ = s;
  return true;
}

std::size_t TRateConverter::Process(const float* in, std::size_t inFrames, std::size_t* taken, float* out,
                                    std::size_t outFrames) {
  if (taken) *taken = 0;
  if (!state_ || draining_ || !out) return 0;
  // A null input means the end to the library: no input is an empty one.
  static const float kNone[2] = {0, 0};
  if (!in) inFrames = 0;
  std::size_t used = 0, made = 0;
  if (soxr_process(Soxr(state_), in ? in : kNone, inFrames, &used, out, outFrames, &made)) return 0;
  if (taken) *taken = used;
  return made;
}

std::size_t TRateConverter::Drain(float* out, std::size_t outFrames) {
  if (!state_ || !out || outFrames == 0) return 0;
  draining_ = true;
  std::size_t made = 0;
  if (soxr_process(Soxr(state_), nullptr, 0, nullptr, out, outFrames, &made)) return 0;
  return made;
}

void TRateConverter::Reset() {
  if (state_) soxr_clear(Soxr(state_));
  draining_ = false;
}

std::size_t TRateConverter::Held() const {
  if (!state_) return 0;
  const double d = soxr_delay(Soxr(state_));
  return d > 0 ? std::size_t(std::ceil(d)) : 0;
}

}  // namespace plat::sound
