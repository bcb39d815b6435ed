#pragma once
// Converters: objects that read an opened audio stream, decode it if needed
// and deliver PCM in an output buffer. The base converts plain PCM and brings
// what a sound ring cannot take (float, 24 and 32 bits) to the standard
// output format.
#include <cstdint>

#include "ZmLib/Music/zmAudioStreams.h"
#include "ZmLib/Music/zmMediaInfo.h"

namespace zm {

class TPcmResampler;

// PCM, 2 channels, 44100 Hz, 16 bits (176400 bytes per second, 4-byte frames).
const TWaveFormatEx& StandardOutputFormat();

class TWavConverter : public TRefObject {
public:
  static constexpr std::int32_t kBlockSize = 4096;
  static constexpr std::int32_t kBlockSize24 = 12288;

  TWavConverter();
  void Dispose() override;

  virtual void Seek(std::int64_t ms);
  // Moves buffer's bytes into the output (through the resampler when one is
  // set and the formats differ) and empties buffer; false ends the filling.
  virtual bool Convert(TLocalBuffer& buffer);
  // Reads into the input, never past the end of the audio data; false at the end.
  virtual bool ReadInput();
  virtual bool SetInputFormat(const TMediaInfo& info);
  // Makes the output hold at least bytes, padded with silence at the end of
  // the data; false when nothing could be delivered.
  virtual bool Fill(std::int32_t bytes);

  void SetOutputFormat(const TWaveFormatEx& format);
  // The bytes of sound at the front of the output: all of it, but for the
  // silence Fill padded it with past the end of the data.
  std::int32_t SoundBytes() const;

  // Set by the user before SetInputFormat; not owned.
  TStream* Stream = nullptr;

  TLocalBuffer& Input() { return *input_; }
  TLocalBuffer& Output() { return *output_; }
  const TMediaInfo& MediaInfo() const { return mediaInfo_; }
  double DecodedMs() const { return decodedMs_; }
  std::int32_t BlockSize() const { return blockSize_; }
  TPcmResampler* Resampler() const { return resampler_; }
  const TWaveFormatEx& OutputFormat() const { return outputFormat_; }

protected:
  // At the end of the data: the resampler's last sound into the output.
  void FlushResampler();

  TMediaInfo mediaInfo_{};
  TPcmResampler* resampler_ = nullptr;
  TWaveFormatEx outputFormat_{};
  double decodedMs_ = 0;
  TRef<TLocalBuffer> input_;
  TRef<TLocalBuffer> output_;
  std::int32_t blockSize_ = kBlockSize;
  std::int64_t padded_ = 0;  // silence Fill added since the last seek
};

}  // namespace zm
