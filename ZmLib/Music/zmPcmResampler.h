#pragma once
// Brings PCM of any common layout to 16-bit (or 8-bit) mono or stereo at
// another rate: every input frame becomes stereo first (wider layouts fold,
// plat::sound::StereoFold), then another rate goes through a band-limited
// rate converter (plat::sound::TRateConverter), so nothing above the lower
// rate's half comes back as an alias or an image. Output frame k lies at
// input time k * in / out. State carries across calls, so a stream cut into
// pieces of any size (partial frames included) resamples exactly like the
// whole; the filter holds back the last few milliseconds until Flush.
#include <cstdint>
#include <memory>
#include <vector>

#include "Platform/Sound/PlatChannelFold.h"
#include "ZmLib/Music/zmAudioStreams.h"

namespace plat::sound {
class TRateConverter;
}

namespace zm {

class TPcmResampler {
public:
  TPcmResampler();
  ~TPcmResampler();
  TPcmResampler(const TPcmResampler&) = delete;
  TPcmResampler& operator=(const TPcmResampler&) = delete;

  // Records the formats (a change of format starts afresh) and answers the
  // most bytes Resample writes for the next inBytes of input; 0 for formats
  // it cannot convert.
  std::int32_t Prepare(const TWaveFormatEx& in, const TWaveFormatEx& out, std::int32_t inBytes);
  // Takes the prepared input bytes, writes at most the prepared output bytes
  // and answers how many it wrote.
  std::int32_t Resample(const std::uint8_t* input, std::uint8_t* output);
  // Forgets the input so far (after a seek).
  void Reset();
  // At the end of the input: the most bytes Flush writes, the sound the
  // filter still holds of the last input frames. Nothing before any input,
  // or once flushed.
  std::int32_t FlushSize() const;
  // Writes that sound (at most FlushSize bytes); answers the bytes written.
  std::int32_t Flush(std::uint8_t* output);
  // Which speakers the input's channels are, in the order of their bits
  // (the WAVE extensible format's mask); 0, or a mask that names another
  // count of channels, stands for the count's usual layout.
  void SetChannelMask(std::uint32_t mask);

  // Rates outside this range are refused: they would make huge outputs or nothing.
  static constexpr std::uint32_t kMinRate = 1000;
  static constexpr std::uint32_t kMaxRate = 1000000;

private:
  bool Supported() const;
  std::int32_t InFrameBytes() const;
  std::int32_t OutFrameBytes() const;
  bool Converting() const;
  void DecodeFrame(const std::uint8_t* p, double& left, double& right) const;
  // Stereo frames (in 16-bit units) in the output format; answers the bytes.
  std::int32_t Store(const float* frames, std::size_t count, std::uint8_t* output) const;
  // Feeds the frames waiting in inBuffer_ to the converter; answers the
  // output frames written to outBuffer_ (at most room).
  std::size_t Feed(std::size_t room);

  TWaveFormatEx in_{};
  TWaveFormatEx out_{};
  std::uint32_t mask_ = 0;
  plat::sound::TStereoFold fold_{};
  bool haveFormats_ = false;
  std::int32_t preparedIn_ = 0;
  std::int32_t preparedOut_ = 0;
  // Bytes of a frame cut by the end of the last input.
  std::vector<std::uint8_t> pending_;
  std::unique_ptr<plat::sound::TRateConverter> converter_;
  // Decoded stereo frames the converter has not taken yet, and its output.
  std::vector<float> inBuffer_;
  std::vector<float> outBuffer_;
  bool started_ = false;
  bool flushed_ = false;
  // Input frames taken and output frames made since the last start.
  std::uint64_t inFrames_ = 0;
  std::uint64_t outFrames_ = 0;
};

}  // namespace zm
