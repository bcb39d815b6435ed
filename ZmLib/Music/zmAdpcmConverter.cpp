#include "ZmLib/Music/zmAdpcmConverter.h"

#include <algorithm>
#include <cstring>

namespace zm {

namespace {

// The record's format with its extra bytes, laid out the way the compression
// manager reads them; cbSize never claims more than the record holds.
struct TAdpcmFormat {
  TWaveFormatEx Format;
  std::uint8_t Extra[sizeof(TMediaInfo::Extra)];
};

TAdpcmFormat SourceFormat(const TMediaInfo& info) {
  TAdpcmFormat f{};
  f.Format = info.Format;
  std::memcpy(f.Extra, info.Extra, sizeof f.Extra);
  f.Format.cbSize = std::min<std::uint16_t>(f.Format.cbSize, sizeof f.Extra);
  return f;
}

}  // namespace

TAdpcmConverter::TAdpcmConverter() : decoded_(MakeRef<TLocalBuffer>()) { blockSize_ = kAdpcmBlockSize; }

void TAdpcmConverter::Dispose() {
  decoded_ = nullptr;
  TWavConverter::Dispose();
}

bool TAdpcmConverter::SetInputFormat(const TMediaInfo& info) {
  const std::int32_t align = info.Format.nBlockAlign;
  if (info.Format.wFormatTag != plat::WAVE_FORMAT_ADPCM || align <= 0 || info.Format.nChannels == 0 ||
      info.Format.nSamplesPerSec == 0) {
    return false;
  }
  const std::int32_t wanted = (kAdpcmBlockSize + align - 1) / align * align;
  blockSize_ = wanted;
  if (!TWavConverter::SetInputFormat(info)) return false;
  blockSize_ = wanted;
  Input().EnsureFree(blockSize_ - Input().Length());
  decoded_->Format = Pcm16Format(info.Format.nChannels, info.Format.nSamplesPerSec);
  decoded_->Consume(decoded_->Length());
  decoded_->EnsureFree(blockSize_);
  return true;
}

bool TAdpcmConverter::ReadInput() {
  TStreamWrapperClass* w = StreamWrapper();
  const std::int64_t pos = w->GetPosition(Stream);
  const std::int64_t end = std::int64_t(mediaInfo_.DataOffset) + mediaInfo_.DataSize;
  return pos >= 0 && Input().FillFromStream(Stream, std::min(end, pos + std::max(0, blockSize_ - Input().Length())));
}

bool TAdpcmConverter::Convert(TLocalBuffer& buffer) {
  if (!decoded_) return false;
  const TAdpcmFormat src = SourceFormat(mediaInfo_);
  plat::HACMSTREAM has = nullptr;
  if (plat::acmStreamOpen(&has, nullptr, &src.Format, &decoded_->Format, nullptr, 0, 0, 0) != plat::MMSYSERR_NOERROR) {
    return false;
  }
  std::uint32_t predicted = 0;
  bool ok = plat::acmStreamSize(has, std::uint32_t(buffer.Length()), &predicted, plat::ACM_STREAMSIZEF_SOURCE) ==
            plat::MMSYSERR_NOERROR;
  if (ok) {
    decoded_->EnsureFree(std::int32_t(predicted));
    plat::ACMSTREAMHEADER hdr{};
    hdr.cbStruct = sizeof hdr;
    hdr.pbSrc = buffer.Data();
    hdr.cbSrcLength = std::uint32_t(buffer.Length());
    hdr.pbDst = decoded_->WritePointer();
    hdr.cbDstLength = std::uint32_t(decoded_->FreeSpace());
    ok = plat::acmStreamPrepareHeader(has, &hdr, 0) == plat::MMSYSERR_NOERROR;
    if (ok) {
      ok = plat::acmStreamConvert(has, &hdr, plat::ACM_STREAMCONVERTF_BLOCKALIGN) == plat::MMSYSERR_NOERROR;
      plat::acmStreamUnprepareHeader(has, &hdr, 0);
      // What was written, not what was predicted: a damaged block stops the
      // conversion short.
      decoded_->AddLength(std::int32_t(std::min(hdr.cbDstLengthUsed, predicted)));
      buffer.Consume(std::int32_t(hdr.cbSrcLengthUsed));
    }
  }
  plat::acmStreamClose(has, 0);
  // The blocks before a damaged one still play; the failure then ends the track.
  const bool converted = decoded_->Length() == 0 || TWavConverter::Convert(*decoded_);
  return ok && converted;
}

}  // namespace zm
