#pragma once
// Brings PCM of any common layout to 16-bit (or 8-bit) mono or stereo at
// another rate: every input frame becomes 16-bit stereo first, then output
// samples are interpolated quadratically from the last three input frames.
// State carries across calls, so a stream cut into pieces of any size
// (partial frames included) resamples exactly like the whole.
#include <cstdint>
#include <vector>

#include "ZmLib/Music/zmAudioStreams.h"

namespace zm {

class TPcmResampler {
public:
  // Records the formats (a change of format starts afresh) and answers the
  // bytes Resample writes for the next inBytes of input; 0 for formats it
  // cannot convert.
  std::int32_t Prepare(const TWaveFormatEx& in, const TWaveFormatEx& out, std::int32_t inBytes);
  // Takes the prepared input bytes and writes the prepared output bytes.
  void Resample(const std::uint8_t* input, std::uint8_t* output);
  // Forgets the input history (after a seek).
  void Reset();
  // At the end of the input: the bytes Flush writes, the output that lies
  // between the last input frame and a silent one after it (the sound then
  // ends where the input does, not on a step a frame of the input early).
  // Nothing before any input, or once flushed.
  std::int32_t FlushSize() const;
  void Flush(std::uint8_t* output);

  // Rates outside this range are refused: they would make huge outputs or nothing.
  static constexpr std::uint32_t kMinRate = 1000;
  static constexpr std::uint32_t kMaxRate = 1000000;

private:
  bool Supported() const;
  std::int32_t InFrameBytes() const;
  void DecodeFrame(const std::uint8_t* p, std::int32_t& left, std::int32_t& right) const;
  // Output frames the next input frame makes.
  std::uint64_t FramesOfNext() const;
  // One input frame (16-bit stereo): writes the output frames it makes, at
  // most outLeft bytes.
  void Take(const std::int32_t cur[2], std::uint8_t*& output, std::int32_t& outLeft);

  TWaveFormatEx in_{};
  TWaveFormatEx out_{};
  bool haveFormats_ = false;
  std::int32_t preparedIn_ = 0;
  std::int32_t preparedOut_ = 0;
  // Bytes of a frame cut by the end of the last input.
  std::vector<std::uint8_t> pending_;
  // The last two input frames (16-bit stereo) and whether any frame came yet.
  std::int32_t h0_[2] = {0, 0};
  std::int32_t h1_[2] = {0, 0};
  bool started_ = false;
  bool flushed_ = false;
  // Input frames seen and output frames made, both reduced by whole periods
  // of the rates so their products stay small.
  std::uint64_t inFrames_ = 0;
  std::uint64_t outFrames_ = 0;
};

}  // namespace zm
