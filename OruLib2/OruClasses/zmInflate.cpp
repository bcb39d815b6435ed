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
    if (zs_->avail_in == 0) {
      std::int32_t got = source_->Read(input_, kInputBufferSize, 0);
      sourcePos_ = source_->GetPosition();
      // The compressed data ends before the stream does: the data is cut.
      if (got <= 0) RaiseZCode(Z_BUF_ERROR);
      zs_->next_in = input_.data();
      zs_->avail_in = static_cast<uInt>(got);
    }
    int r = inflate(zs_, Z_NO_FLUSH);
    if (r == Z_STREAM_END) {
      ended_ = true;
      break;
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

TInflator::TInflator() {
  input_.resize(kBufferSize);
  window_.resize(kBufferSize);
  zs_ = new z_stream{};
  int r = inflateBackInit(zs_, 15, window_.data());
  if (r != Z_OK) {
    delete zs_;
    zs_ = nullptr;
    RaiseZCode(r);
  }
}

void TInflator::Dispose() {
  if (zs_) {
    inflateBackEnd(zs_);
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

// Exceptions never cross zlib's C frames: the callbacks keep them and end the
// inflation, and Inflate raises them afterwards.
unsigned TInflator::InCallback(void* self, unsigned char** buf) {
  auto* t = static_cast<TInflator*>(self);
  try {
    std::int32_t got = t->source_->Read(t->input_, kBufferSize, 0);
    if (got < 0) got = 0;
    t->totalIn_ += got;
    if (t->progress_) t->progress_(t->progressData_, t);
    *buf = t->input_.data();
    return static_cast<unsigned>(got);
  } catch (...) {
    t->error_ = std::current_exception();
    *buf = nullptr;
    return 0;
  }
}

int TInflator::OutCallback(void* self, unsigned char* buf, unsigned len) {
  auto* t = static_cast<TInflator*>(self);
  try {
    std::int32_t n = static_cast<std::int32_t>(len);
    std::int32_t put = t->dest_->Write(TWriteBuffer(buf, len), n, 0);
    if (put > 0) t->totalOut_ += put;
    if (put != n) throw zm::EStreamWriteError();
    if (t->progress_) t->progress_(t->progressData_, t);
    return 0;
  } catch (...) {
    t->error_ = std::current_exception();
    return 1;
  }
}

void TInflator::Inflate(zm::TStream* source, zm::TStream* dest) {
  ZM_ASSERT(source && dest, "TInflator.Inflate: Source or Dest not assigned");
  source_ = source;
  dest_ = dest;
  error_ = nullptr;
  totalIn_ = totalOut_ = 0;
  zs_->next_in = nullptr;
  zs_->avail_in = 0;
  int r = inflateBack(zs_, &InCallback, this, &OutCallback, this);
  source_ = dest_ = nullptr;
  if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
  if (r != Z_STREAM_END) RaiseZCode(r == Z_NEED_DICT ? Z_DATA_ERROR : r);
}

}  // namespace oru
