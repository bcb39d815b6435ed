#include "ZmLib/Music/zmFFMpegConverter.h"

#include <cstring>

#include "ZmLib/Graphics/Video/FFMpegReader.h"

namespace zm {

namespace {
// Pieces in a row that decode to nothing (headers, priming) before the audio
// counts as ended: a broken stream must not spin for ever.
constexpr int kMaxEmptyPieces = 4096;
}  // namespace

bool HasDecodableAudio(TFFMpegAudio& audio) {
  if (!audio.HasStream() || audio.SelectStream(-1) < 0) return false;
  const TFFStreamInfo& info = audio.StreamInfo();
  return info.CodecId != AV_CODEC_ID_NONE && FF().avcodec_find_decoder(AVCodecID(info.CodecId)) &&
         audio.OutChannels() > 0 && audio.OutSampleRate() > 0;
}

TFFMpegConverter2::TFFMpegConverter2(const WideString& fileName)
    : fileName_(fileName), decoded_(MakeRef<TLocalBuffer>()) {
  blockSize_ = kBlockSize;
}

void TFFMpegConverter2::Dispose() {
  audio_ = nullptr;
  decoded_ = nullptr;
  decodedResampler_.reset();
  TWavConverter::Dispose();
}

bool TFFMpegConverter2::SetInputFormat(const TMediaInfo& info) {
  if (!TWavConverter::SetInputFormat(info)) return false;
  if (!Stream) return false;
  if (!audio_) audio_ = MakeRef<TFFMpegAudio>(0, 0, AV_SAMPLE_FMT_S16);
  if (!audio_->Open(Stream, fileName_) || !HasDecodableAudio(*audio_)) {
    audio_->Close();
    return false;
  }
  const std::int32_t channels = audio_->OutChannels(), rate = audio_->OutSampleRate();
  if (channels <= 0 || channels > 0xFFFF / 2 || rate <= 0) {
    audio_->Close();
    return false;
  }
  // FFmpeg hands over 16-bit samples; the rate and channels are the file's.
  const std::uint16_t bytes = 2;
  decodedFormat_ = TWaveFormatEx{};
  decodedFormat_.wFormatTag = StandardOutputFormat().wFormatTag;
  decodedFormat_.nChannels = std::uint16_t(channels);
  decodedFormat_.nSamplesPerSec = std::uint32_t(rate);
  decodedFormat_.nBlockAlign = std::uint16_t(channels * bytes);
  decodedFormat_.nAvgBytesPerSec = decodedFormat_.nBlockAlign * std::uint32_t(rate);
  decodedFormat_.wBitsPerSample = std::uint16_t(bytes * 8);
  decoded_->Consume(decoded_->Length());
  decoded_->Format = decodedFormat_;
  decoded_->EnsureFree(blockSize_);
  const TWaveFormatEx& standard = StandardOutputFormat();
  if (decodedFormat_.nSamplesPerSec == standard.nSamplesPerSec && decodedFormat_.nChannels == standard.nChannels &&
      decodedFormat_.wBitsPerSample == 16) {
    decodedResampler_.reset();
  } else {
    decodedResampler_ = std::make_unique<TPcmResampler>();
  }
  return true;
}

bool TFFMpegConverter2::DecodePiece() {
  for (int empty = 0; empty < kMaxEmptyPieces; ++empty) {
    if (!audio_->DecodeNext()) return false;
    const std::int32_t n = audio_->DecodedSize();
    const std::uint8_t* data = audio_->Decoded();
    if (n <= 0 || !data) continue;
    if (decodedResampler_) {
      const std::int32_t out = decodedResampler_->Prepare(decodedFormat_, StandardOutputFormat(), n);
      if (out > 0) {
        decoded_->EnsureFree(out);
        decodedResampler_->Resample(data, decoded_->WritePointer());
        decoded_->AddLength(out);
      } else {
        // Too short to make an output frame: the resampler still takes it in.
        std::uint8_t none[4];
        decodedResampler_->Resample(data, none);
      }
    } else {
      decoded_->EnsureFree(n);
      std::memcpy(decoded_->WritePointer(), data, std::size_t(n));
      decoded_->AddLength(n);
    }
    if (decoded_->Length() > 0) return true;
  }
  return false;
}

bool TFFMpegConverter2::Convert(TLocalBuffer&) {
  ZM_ASSERT(audio_, "TFFMpegConverter2.Convert: no audio");
  if (!decoded_ || !audio_->HasStream()) return false;
  if (decoded_->Length() == 0 && !DecodePiece()) {
    // The audio's end: the resampler's last frames, up to where it ends.
    const std::int32_t n = decodedResampler_ ? decodedResampler_->FlushSize() : 0;
    if (n <= 0) return false;
    decoded_->EnsureFree(n);
    decodedResampler_->Flush(decoded_->WritePointer());
    decoded_->AddLength(n);
  }
  return TWavConverter::Convert(*decoded_);
}

bool TFFMpegConverter2::ReadInput() { return true; }

void TFFMpegConverter2::Seek(std::int64_t ms) {
  if (!audio_ || !audio_->HasStream()) return;
  Input().Consume(Input().Length());
  Output().Consume(Output().Length());
  padded_ = 0;
  decoded_->Consume(decoded_->Length());
  if (resampler_) resampler_->Reset();
  if (decodedResampler_) decodedResampler_->Reset();
  if (ms < 0) ms = 0;
  // Far times stay far without overflowing the microseconds.
  const std::int64_t limit = INT64_MAX / 1000;
  audio_->SeekTime((ms > limit ? limit : ms) * 1000);
  decodedMs_ = double(ms);
}

}  // namespace zm
