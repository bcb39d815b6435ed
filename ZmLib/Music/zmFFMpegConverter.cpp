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
    SayUnplayableSound(CutNameSuffix(fileName_), u"its audio cannot be decoded");
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
    decodedResampler_->SetChannelMask(DecodedChannelMask());
  }
  decodedFlushed_ = false;
  return true;
}

std::uint32_t TFFMpegConverter2::DecodedChannelMask() const {
  // FFmpeg hands the channels over in the stream's layout when it names
  // its speakers, else in the usual layout of their count (mask 0).
  TFFAVStream* input = audio_ ? audio_->Input() : nullptr;
  const AVFormatContext* f = input ? input->Format() : nullptr;
  const std::int32_t index = input ? input->StreamIndex : -1;
  if (!f || index < 0 || unsigned(index) >= f->nb_streams || !f->streams[index]->codecpar) return 0;
  const AVChannelLayout& layout = f->streams[index]->codecpar->ch_layout;
  if (layout.order != AV_CHANNEL_ORDER_NATIVE || layout.nb_channels != decodedFormat_.nChannels) return 0;
  return layout.u.mask > 0xFFFFFFFFu ? 0 : std::uint32_t(layout.u.mask);
}

bool TFFMpegConverter2::DecodePiece() {
  for (int empty = 0; empty < kMaxEmptyPieces; ++empty) {
    if (!audio_->DecodeNext()) {
      // The end: what the resampler's filter still holds is the last sound.
      if (decodedResampler_ && !decodedFlushed_) {
        decodedFlushed_ = true;
        if (const std::int32_t most = decodedResampler_->FlushSize(); most > 0) {
          decoded_->EnsureFree(most);
          decoded_->AddLength(decodedResampler_->Flush(decoded_->WritePointer()));
          if (decoded_->Length() > 0) return true;
        }
      }
      return false;
    }
    const std::int32_t n = audio_->DecodedSize();
    const std::uint8_t* data = audio_->Decoded();
    if (n <= 0 || !data) continue;
    if (decodedResampler_) {
      const std::int32_t most = decodedResampler_->Prepare(decodedFormat_, StandardOutputFormat(), n);
      decoded_->EnsureFree(most);
      // The filter may keep all of a short piece until more comes.
      decoded_->AddLength(decodedResampler_->Resample(data, most > 0 ? decoded_->WritePointer() : nullptr));
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
  // DecodePiece gives the resampler's last frames at the audio's end.
  if (decoded_->Length() == 0 && !DecodePiece()) return false;
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
  decodedFlushed_ = false;
  if (ms < 0) ms = 0;
  // Far times stay far without overflowing the microseconds.
  const std::int64_t limit = INT64_MAX / 1000;
  audio_->SeekTime((ms > limit ? limit : ms) * 1000);
  decodedMs_ = double(ms);
}

}  // namespace zm
