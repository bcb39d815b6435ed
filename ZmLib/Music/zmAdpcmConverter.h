#pragma once
// MS ADPCM WAVE data to 16-bit PCM through the audio compression manager.
#include <cstdint>

#include "ZmLib/Music/zmWavConverter.h"

namespace zm {

class TAdpcmConverter : public TWavConverter {
public:
  static constexpr std::int32_t kAdpcmBlockSize = 2048;

  TAdpcmConverter();
  void Dispose() override;

  // False for anything but MS ADPCM with a block align and channels. The
  // input block is a whole number of ADPCM blocks, at least 2048 bytes: the
  // compression manager converts whole blocks only, so any other size would
  // lose the tail of every read.
  bool SetInputFormat(const TMediaInfo& info) override;
  // One compression-manager stream per call over the whole buffer; a block
  // cut short stays in buffer for the next call.
  bool Convert(TLocalBuffer& buffer) override;
  // One input block at a time, never past the end of the audio data.
  bool ReadInput() override;

  TLocalBuffer& Decoded() { return *decoded_; }

private:
  TRef<TLocalBuffer> decoded_;
};

}  // namespace zm
