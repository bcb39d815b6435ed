#pragma once
// The converter for every file FFmpeg identified (kind 10): FFmpeg decodes to
// 16-bit PCM in the file's own rate and channels, and a resampler of its own
// brings that to the standard output format when it differs.
#include <cstdint>
#include <memory>

#include "ZmLib/Music/zmPcmResampler.h"
#include "ZmLib/Music/zmWavConverter.h"

namespace zm {

class TFFMpegAudio;

// Whether the opened audio has a stream chosen that FFmpeg has a decoder for
// (a container may name a codec nobody decodes) with a usable format.
bool HasDecodableAudio(TFFMpegAudio& audio);

class TFFMpegConverter2 : public TWavConverter {
public:
  explicit TFFMpegConverter2(const WideString& fileName);
  void Dispose() override;

  // The base, then FFmpeg opened on the stream under the file's name; false
  // when it finds no audio there.
  bool SetInputFormat(const TMediaInfo& info) override;
  // False at the end of the audio.
  bool Convert(TLocalBuffer& buffer) override;
  bool ReadInput() override;
  void Seek(std::int64_t ms) override;

  const WideString& FileName() const { return fileName_; }
  TFFMpegAudio* Audio() const { return audio_.get(); }
  TLocalBuffer& Decoded() { return *decoded_; }
  // What FFmpeg delivers; nil resampler when it is the standard format.
  const TWaveFormatEx& DecodedFormat() const { return decodedFormat_; }
  TPcmResampler* DecodedResampler() const { return decodedResampler_.get(); }

private:
  // Decodes pieces until one yields PCM in decoded; false at the end.
  bool DecodePiece();
  // The speakers of the decoded channels (0: the usual ones of their count).
  std::uint32_t DecodedChannelMask() const;

  WideString fileName_;
  TRef<TFFMpegAudio> audio_;
  TRef<TLocalBuffer> decoded_;
  std::unique_ptr<TPcmResampler> decodedResampler_;
  TWaveFormatEx decodedFormat_{};
  bool decodedFlushed_ = false;  // the resampler's last sound given since the last seek
};

}  // namespace zm
