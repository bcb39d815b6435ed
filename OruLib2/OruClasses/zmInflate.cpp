#include "OruLib2/OruClasses/zmInflate.h"

#include <zlib.h>

#include <algorithm>
#include <new>

namespace oru {

using zm::TReadBuffer;
using zm::TWriteBuffer;

namespace {

constexpr const char* kInvalidOperation = "Invalid ZStream operation!";
constexpr std::int32_t kSkipBlock = 8192;

[[noreturn]] void RaiseZError(const char* text) {
  EZDecompressionError e;
  e.SetMessage(text);
  throw e;
}

[[noreturn]] void RaiseZCode(int code) { RaiseZError(zError(code)); }

}  // namespace

// ============================================================================
// TCustomZStream
// ============================================================================

TCustomZStream::TCustomZStream(zm::TStream* source) : source_(source) {
  ZM_ASSERT(source, "TCustomZStream.Create: Source not assigned");
  zs_ = new z_stream{};
  input_.resize(kInputBufferSize);
}

void TCustomZStream::Dispose() {
  delete zs_;
  zs_ = nullptr;
  std::vector<std::uint8_t>().swap(input_);
  zm::TStream::Dispose();
}

// ============================================================================
// TZDecompressionStream
// ============================================================================

TZDecompressionStream::TZDecompressionStream(zm::TStream* source) : TZDecompressionStream(source, 15) {}

TZDecompressionStream::TZDecompressionStream(zm::TStream* source, int windowBits) : TCustomZStream(source) {
  int r = inflateInit2(zs_, windowBits);
  if (r != Z_OK) {
    delete zs_;
    zs_ = nullptr;
    RaiseZCode(r);
  }
  try {
    dataStart_ = sourcePos_ = source_->GetPosition();
  } catch (...) {
    inflateEnd(zs_);
    delete zs_;
    zs_ = nullptr;
    throw;
  }
}

void TZDecompressionStream::Dispose() {
  if (zs_) inflateEnd(zs_);
  TCustomZStream::Dispose();
}

void TZDecompressionStream::Restart() {
  inflateReset(zs_);
  zs_->next_in = nullptr;
  zs_->avail_in = 0;
  sourcePos_ = dataStart_;
  source_->SetPosition(dataStart_);
  outPos_ = 0;
  ended_ = false;
}

void TZDecompressionStream::SetPosition(std::int64_t newPosition) {
  if (newPosition == outPos_) return;
  if (newPosition == 0) {
    Restart();
    return;
  }
  if (newPosition < outPos_) RaiseZError(kInvalidOperation);
  std::vector<std::uint8_t> skip(kSkipBlock);
  while (outPos_ < newPosition) {
    std::int32_t n = static_cast<std::int32_t>(std::min<std::int64_t>(newPosition - outPos_, kSkipBlock));
    if (Read(skip, n, 0) != n) throw zm::EStreamReadError();
  }
}

std::int64_t TZDecompressionStream::GetSize() { RaiseZError(kInvalidOperation); }

void TZDecompressionStream::SetSize(std::int64_t) { RaiseZError(kInvalidOperation); }

std::int32_t TZDecompressionStream::Write(TWriteBuffer, std::int32_t, std::int32_t) {
  RaiseZError(kInvalidOperation);
}

std::int32_t TZDecompressionStream::Read(TReadBuffer buffer, std::int32_t count, std::int32_t offset) {
  if (offset < 0) offset = 0;
  if (static_cast<std::size_t>(offset) >= buffer.size() || count <= 0 || ended_) return 0;
  count = static_cast<std::int32_t>(std::min<std::int64_t>(count, std::int64_t(buffer.size()) - offset));
  // The source may be shared: go back to where this stream left it.
  source_->SetPosition(sourcePos_);
  zs_->next_out = buffer.data() + offset;
  zs_->avail_out = static_cast<uInt>(count);
  while (zs_->avail_out > 0) {
    int r = inflate(zs_, Z_NO_FLUSH);
    if (r == Z_STREAM_END) {
      ended_ = true;
      break;
    }
    if (r == Z_BUF_ERROR && zs_->avail_in == 0) {
      // Nothing more comes out without input (zlib may hold output back
      // from input it has taken, so this is asked only now).
      std::int32_t got = source_->Read(input_, kInputBufferSize, 0);
      sourcePos_ = source_->GetPosition();
      if (got <= 0) RaiseZCode(Z_BUF_ERROR);  // the data is cut
      zs_->next_in = input_.data();
      zs_->avail_in = static_cast<uInt>(got);
      continue;
    }
    if (r == Z_NEED_DICT) r = Z_DATA_ERROR;
    if (r != Z_OK) RaiseZCode(r);
  }
  std::int32_t produced = count - static_cast<std::int32_t>(zs_->avail_out);
  zs_->next_out = nullptr;
  zs_->avail_out = 0;
  outPos_ += produced;
  return produced;
}

// ============================================================================
// TInflateStream
// ============================================================================

TInflateStream::TInflateStream(zm::TStream* source, std::int64_t size)
    : TZDecompressionStream(source, -MAX_WBITS), size_(size < 0 ? -1 : size) {}

// ============================================================================
// TInflator
// ============================================================================

// zlib's callback-driven inflateBack (1.2.13 as Debian has it) lets a match
// reach back before the first byte of the output while its fast path runs,
// and then hands out stale window bytes instead of an error. The ordinary
// inflater checks every distance, so the same block-wise loop runs on it.
TInflator::TInflator() {
  input_.resize(kBufferSize);
  window_.resize(kBufferSize);
  zs_ = new z_stream{};
  int r = inflateInit2(zs_, -MAX_WBITS);
  if (r != Z_OK) {
    delete zs_;
    zs_ = nullptr;
    RaiseZCode(r);
  }
}

void TInflator::Dispose() {
  if (zs_) {
    inflateEnd(zs_);
    delete zs_;
    zs_ = nullptr;
  }
  std::vector<std::uint8_t>().swap(input_);
  std::vector<std::uint8_t>().swap(window_);
  zm::TRefObject::Dispose();
}

void TInflator::SetProgress(TProgressProc progress, void* data) {
  progress_ = progress;
  progressData_ = data;
}

void TInflator::Flush(std::int32_t count) {
  std::int32_t put = dest_->Write(window_, count, 0);
  if (put > 0) totalOut_ += put;
  if (put != count) throw zm::EStreamWriteError();
  if (progress_) progress_(progressData_, this);
}

void TInflator::Inflate(zm::TStream* source, zm::TStream* dest) {
  ZM_ASSERT(source && dest, "TInflator.Inflate: Source or Dest not assigned");
  source_ = source;
  dest_ = dest;
  totalIn_ = totalOut_ = 0;
  inflateReset(zs_);
  zs_->next_in = nullptr;
  zs_->avail_in = 0;
  std::int32_t filled = 0;
  try {
    for (;;) {
      zs_->next_out = window_.data() + filled;
      zs_->avail_out = static_cast<uInt>(kBufferSize - filled);
      int r = inflate(zs_, Z_NO_FLUSH);
      filled = kBufferSize - static_cast<std::int32_t>(zs_->avail_out);
      if (r == Z_BUF_ERROR && zs_->avail_in == 0) {
        std::int32_t got = source_->Read(input_, kBufferSize, 0);
        if (got > 0) totalIn_ += got;
        if (progress_) progress_(progressData_, this);
        if (got <= 0) RaiseZCode(Z_BUF_ERROR);  // the data ends before the stream does
        zs_->next_in = input_.data();
        zs_->avail_in = static_cast<uInt>(got);
        continue;
      }
      if (r == Z_NEED_DICT) r = Z_DATA_ERROR;
      if (r != Z_OK && r != Z_STREAM_END) RaiseZCode(r);
      if (filled == kBufferSize || (r == Z_STREAM_END && filled > 0)) {
        Flush(filled);
        filled = 0;
      }
      if (r == Z_STREAM_END) break;
    }
  } catch (...) {
    source_ = dest_ = nullptr;
    throw;
  }
  source_ = dest_ = nullptr;
}

}  // namespace oru
