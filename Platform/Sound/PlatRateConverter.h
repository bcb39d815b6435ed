#pragma once
// Band-limited conversion of interleaved stereo between two rates, over
// libsoxr at its high quality: what lies above the lower rate's half is
// filtered out before it can fold back as an alias or an image, and output
// frame k lies exactly at input time k * in / out (the filter's delay is
// taken off). A stream cut into pieces of any size converts exactly like
// the whole. Standard types only; samples are floats in any scale.
#include <cstddef>
#include <cstdint>

namespace plat::sound {

class TRateConverter {
public:
  TRateConverter() = default;
  TRateConverter(double inRate, double outRate) { Setup(inRate, outRate); }
  ~TRateConverter();
  TRateConverter(const TRateConverter&) = delete;
  TRateConverter& operator=(const TRateConverter&) = delete;

  // Starts afresh for these rates; false (and nothing converts) when the
  // library refuses them or cannot be set up.
  bool Setup(double inRate, double outRate);
  bool Ready() const { return state_ != nullptr; }

  // Takes up to inFrames frames of in and writes up to outFrames frames to
  // out; answers the frames written and sets *taken to the frames taken.
  // What the filter still needs before it can give more stays inside.
  std::size_t Process(const float* in, std::size_t inFrames, std::size_t* taken, float* out,
                      std::size_t outFrames);
  // The input has ended: writes up to outFrames of what is left (the sound
  // of the last input frames); 0 once everything is out.
  std::size_t Drain(float* out, std::size_t outFrames);
  // Forgets the input so far (a new place in the stream); same rates.
  void Reset();
  // Output frames the input so far still owes (an upper bound).
  std::size_t Held() const;

private:
  void* state_ = nullptr;
  bool draining_ = false;
};

}  // namespace plat::sound
