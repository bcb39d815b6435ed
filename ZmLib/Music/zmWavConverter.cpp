#include "ZmLib/Music/zmWavConverter.h"

#include <cmath>
#include <cstring>

#include "ZmLib/Music/zmPcmResampler.h"

namespace zm {

namespace {

// The channel asks for a ring's worth at most; more is a caller's fault, not a reason to allocate gigabytes.
constexpr std::int32_t kMaxFill = 1 << 26;

void Pad(TLocalBuffer& b, std::int32_t bytes, std::uint8_t value) {
  const std::int32_t n = bytes - b.Length();
  if (n <= 0) return;
  b.EnsureFree(n);
  std::memset(b.WritePointer(), value, std::size_t(n));
  b.AddLength(n);
}

}  // namespace

const TWaveFormatEx& StandardOutputFormat() {
  static const TWaveFormatEx format{1, 2, 44100, 176400, 4, 16, 0};
  return format;
}

TWavConverter::TWavConverter() : input_(MakeRef<TLocalBuffer>()), output_(MakeRef<TLocalBuffer>()) {}

void TWavConverter::Dispose() {
  delete resampler_;
  resampler_ = nullptr;
  input_ = nullptr;
  output_ = nullptr;
  TRefObject::Dispose();
}

bool TWavConverter::SetInputFormat(const TMediaInfo& info) {
  blockSize_ = info.Format.wBitsPerSample == 24 ? kBlockSize24 : kBlockSize;
  for (TLocalBuffer* b : {input_.get(), output_.get()}) {
    b->Format = info.Format;
    if (b->Capacity() < blockSize_) b->Grow(blockSize_ - b->Capacity());
  }
  mediaInfo_ = info;
  Seek(0);
  const std::uint16_t bits = info.Format.wBitsPerSample;
  if (info.Kind == kMediaFloat || bits == 24 || bits == 32) SetOutputFormat(StandardOutputFormat());
  return true;
}

void TWavConverter::SetOutputFormat(const TWaveFormatEx& format) {
  if (!resampler_) resampler_ = new TPcmResampler;
  outputFormat_ = format;
  output_->Format = format;
}

std::int32_t TWavConverter::SoundBytes() const {
  // The padding lies at the end, and nothing follows it until a seek: all
  // of it is still there unless the output was taken into it.
  return std::max(0, output_->Length() - static_cast<std::int32_t>(std::min<std::int64_t>(padded_, INT32_MAX)));
}

void TWavConverter::Seek(std::int64_t ms) {
  padded_ = 0;
  input_->Consume(input_->Length());
  output_->Consume(output_->Length());
  if (resampler_) resampler_->Reset();
  const std::uint32_t align = input_->Format.nBlockAlign, avg = input_->Format.nAvgBytesPerSec;
  // Without a block and a byte rate no time maps to a byte: the data's start.
  std::int64_t byte = 0;
  if (align && avg) {
    const std::int64_t size = mediaInfo_.DataSize;
    // Clamped in floating point first: a far time must not overflow.
    const double want = ms > 0 ? std::nearbyint(double(ms) / 1000.0 * avg) : 0.0;
    byte = want >= double(size) ? size : std::int64_t(want);
    byte -= byte % align;
  }
  StreamWrapper()->Seek(Stream, 0, std::int64_t(mediaInfo_.DataOffset) + byte);
  decodedMs_ = double(ms);
}

bool TWavConverter::ReadInput() {
  const std::int64_t end = std::int64_t(mediaInfo_.DataOffset) + mediaInfo_.DataSize;
  return input_->FillFromStream(Stream, end);
}

bool TWavConverter::Convert(TLocalBuffer& buffer) {
  std::int32_t n = 0;
  if (resampler_ && std::memcmp(&buffer.Format, &outputFormat_, sizeof(TWaveFormatEx)) != 0) {
    const std::int32_t most = resampler_->Prepare(buffer.Format, outputFormat_, buffer.Length());
    output_->EnsureFree(most);
    n = resampler_->Resample(buffer.Data(), output_->WritePointer());
    output_->AddLength(n);
    buffer.Consume(buffer.Length());
  } else {
    n = buffer.Length();
    output_->EnsureFree(n);
    output_->Append(buffer);
  }
  const std::uint32_t avg = output_->Format.nAvgBytesPerSec;
  if (avg) decodedMs_ += double(n) * 1000.0 / avg;
  return true;
}

void TWavConverter::FlushResampler() {
  if (!resampler_) return;
  if (const std::int32_t most = resampler_->FlushSize(); most > 0) {
    output_->EnsureFree(most);
    const std::int32_t n = resampler_->Flush(output_->WritePointer());
    output_->AddLength(n);
    const std::uint32_t avg = output_->Format.nAvgBytesPerSec;
    if (avg) decodedMs_ += double(n) * 1000.0 / avg;
  }
}

bool TWavConverter::Fill(std::int32_t bytes) {
  if (output_->Length() >= bytes) return true;
  if (bytes > kMaxFill) return false;
  while (output_->Length() < bytes) {
    if (ReadInput()) {
      if (!Convert(*input_)) {
        // The sound the resampler still holds is the end of the data's.
        FlushResampler();
        padded_ += std::max(0, bytes - output_->Length());
        Pad(*output_, bytes, 0);
        return false;
      }
    } else {
      // The resampler's last frames: the sound ends where the data does.
      FlushResampler();
      const bool had = output_->Length() > 0;
      padded_ += std::max(0, bytes - output_->Length());
      Pad(*output_, bytes, output_->Format.wBitsPerSample == 8 ? 128 : 0);
      return had;
    }
  }
  return true;
}

}  // namespace zm
