#include "OruLib2/OruClasses/zmStreamUtils.h"

#include <algorithm>
#include <cstring>

#include "ZmLib/wpLoadCallBack.h"

namespace oru {

using zm::TReadBuffer;
using zm::TWriteBuffer;

namespace {

void NoCallback(void*, zm::TStream*) {}

[[noreturn]] void RaiseStreamError(const char* text) {
  zm::EStreamError e;
  e.SetMessage(text);
  throw e;
}

// Keeps a transfer inside the caller's buffer; false when nothing can move.
bool ClampTransfer(std::size_t bufferSize, std::int32_t& count, std::int32_t& offset) {
  if (offset < 0) offset = 0;
  if (static_cast<std::size_t>(offset) >= bufferSize || count <= 0) return false;
  count = static_cast<std::int32_t>(std::min<std::int64_t>(count, std::int64_t(bufferSize) - offset));
  return true;
}

}  // namespace

void LoadCallbackRead(void*, zm::TStream*) { zm::LoadCallbackProc(); }

// ============================================================================
// TPartialStream
// ============================================================================

TPartialStream::TPartialStream(zm::TStream* source, bool ownsSource, std::int64_t offset, std::int64_t size)
    : source_(source),
      ownsSource_(ownsSource),
      offset_(offset),
      size_(size),
      callback_(&NoCallback),
      blockSize_(kDefaultBlockSize) {
  try {
    // Written so that a huge offset or size from outside data cannot overflow.
    std::int64_t available = source ? source->GetSize() : -1;
    if (!source || offset < 0 || size < 0 || available < 0 || offset > available || size > available - offset)
      RaiseStreamError("Insufficient Source Size");
    source_->SetPosition(offset);
  } catch (...) {
    if (ownsSource && source) source->Free();
    throw;
  }
}

void TPartialStream::Dispose() {
  if (ownsSource_) zm::FreeAndNil(source_);
  source_ = nullptr;
  std::vector<std::uint8_t>().swap(block_);
  zm::TStream::Dispose();
}

std::int64_t TPartialStream::GetPosition() { return source_->GetPosition() - offset_; }

void TPartialStream::SetPosition(std::int64_t newPosition) {
  if (newPosition < 0 || newPosition > size_) RaiseStreamError("Incorrect Position");
  source_->SetPosition(offset_ + newPosition);
}

std::span<const std::uint8_t> TPartialStream::MemoryView() {
  const std::span<const std::uint8_t> whole = source_ ? source_->MemoryView() : std::span<const std::uint8_t>();
  if (size_ == 0 || offset_ + size_ > static_cast<std::int64_t>(whole.size())) return {};
  return whole.subspan(static_cast<std::size_t>(offset_), static_cast<std::size_t>(size_));
}

void TPartialStream::SetSize(std::int64_t) { RaiseStreamError("Stream Cannot be resized"); }

void TPartialStream::SetReadCallback(std::int32_t blockSize, TReadCallback callback, void* data) {
  if (callback) {
    callback_ = callback;
    callbackData_ = data;
    blockSize_ = std::clamp(blockSize, 1, kCallbackBlockSize);
  } else {
    callback_ = &NoCallback;
    callbackData_ = nullptr;
    blockSize_ = kDefaultBlockSize;
  }
  if (!block_.empty()) block_.resize(static_cast<std::size_t>(blockSize_));
}

TReadCallback TPartialStream::ReadCallback() const { return callback_ == &NoCallback ? nullptr : callback_; }

std::int32_t TPartialStream::Read(TReadBuffer buffer, std::int32_t count, std::int32_t offset) {
  if (!ClampTransfer(buffer.size(), count, offset)) return 0;
  std::int64_t pos = GetPosition();
  if (pos < 0) return 0;  // a shared source was moved before the window
  std::int32_t done = 0;
  while (count > 0 && pos < size_) {
    // Small callback blocks would cost one source read each; read up to the
    // default block at once and still call back once per small block.
    std::int32_t n = static_cast<std::int32_t>(std::min<std::int64_t>({count, size_ - pos, kDefaultBlockSize}));
    std::int32_t got = source_->Read(buffer, n, offset + done);
    std::int32_t calls = got > 0 ? (got + blockSize_ - 1) / blockSize_ : 1;
    for (std::int32_t i = 0; i < calls; ++i) Notify();
    if (got <= 0) break;
    done += got;
    count -= got;
    pos += got;
  }
  return done;
}

std::int32_t TPartialStream::Write(TWriteBuffer buffer, std::int32_t count, std::int32_t offset) {
  if (!ClampTransfer(buffer.size(), count, offset)) return 0;
  std::int64_t pos = GetPosition();
  if (pos < 0) return 0;
  std::int32_t done = 0;
  while (count > 0 && pos < size_) {
    std::int32_t n = static_cast<std::int32_t>(std::min<std::int64_t>({count, size_ - pos, blockSize_}));
    std::int32_t put = source_->Write(buffer, n, offset + done);
    Notify();
    if (put <= 0) break;
    done += put;
    count -= put;
    pos += put;
  }
  return done;
}

std::int64_t TPartialStream::CopyFrom(zm::TStream* from, std::int64_t count) {
  if (!from || count <= 0) return 0;
  if (block_.size() != static_cast<std::size_t>(blockSize_)) block_.resize(static_cast<std::size_t>(blockSize_));
  std::int64_t total = 0;
  while (count > 0) {
    std::int32_t n = static_cast<std::int32_t>(std::min<std::int64_t>(count, blockSize_));
    std::int32_t got = from->Read(block_, n, 0);
    Notify();
    if (got <= 0) break;
    // Never write past the window into the rest of the source.
    std::int64_t room = std::max<std::int64_t>(size_ - GetPosition(), 0);
    std::int32_t put = 0;
    if (room > 0) put = source_->Write(block_, static_cast<std::int32_t>(std::min<std::int64_t>(got, room)), 0);
    Notify();
    if (put < got) throw zm::EStreamWriteError();
    total += got;
    count -= got;
  }
  return total;
}

// ============================================================================
// TCryptStream
// ============================================================================

namespace {
// The key repeated to about this many bytes, so that masking runs over whole
// words instead of wrapping the key index per byte.
constexpr std::size_t kPatternBytes = 4096;
}  // namespace

TCryptStream::TCryptStream(zm::TStream* source, const zm::TByteString& key, bool ownsSource)
    : source_(source), ownsSource_(ownsSource), key_(key) {
  try {
    ZM_ASSERT(source, "TCryptStream.Create: Source not assigned");
    ZM_ASSERT(key.Length() >= 1, "TCryptStream.Create: empty Key");
  } catch (...) {
    if (ownsSource && source) source->Free();
    throw;
  }
  std::size_t len = static_cast<std::size_t>(key_.Length());
  std::size_t cycles = std::max<std::size_t>(1, kPatternBytes / len);
  // One extra key length so a run of cycles*len bytes can start at any phase.
  pattern_.resize(len * (cycles + 1));
  for (std::size_t i = 0; i < pattern_.size(); ++i) pattern_[i] = key_[i % len];
  run_ = len * cycles;
}

void TCryptStream::Dispose() {
  if (ownsSource_) zm::FreeAndNil(source_);
  source_ = nullptr;
  zm::TStream::Dispose();
}

void TCryptStream::Mask(std::uint8_t* p, std::int32_t n, std::int64_t pos) const {
  const std::int64_t len = key_.Length();
  std::size_t phase = static_cast<std::size_t>(((pos % len) + len) % len);
  std::size_t left = static_cast<std::size_t>(n);
  while (left > 0) {
    // A whole number of key lengths keeps the phase for the next run.
    std::size_t chunk = std::min(left, run_);
    const std::uint8_t* k = pattern_.data() + phase;
    std::size_t i = 0;
    for (; i + 8 <= chunk; i += 8) {
      std::uint64_t a, b;
      std::memcpy(&a, p + i, 8);
      std::memcpy(&b, k + i, 8);
      a ^= b;
      std::memcpy(p + i, &a, 8);
    }
    for (; i < chunk; ++i) p[i] ^= k[i];
    p += chunk;
    left -= chunk;
  }
}

std::int32_t TCryptStream::Read(TReadBuffer buffer, std::int32_t count, std::int32_t offset) {
  if (!ClampTransfer(buffer.size(), count, offset)) return 0;
  std::int64_t pos = source_->GetPosition();
  std::int32_t got = source_->Read(buffer, count, offset);
  if (got > 0) Mask(buffer.data() + offset, got, pos);
  return got;
}

std::int32_t TCryptStream::Write(TWriteBuffer buffer, std::int32_t count, std::int32_t offset) {
  if (!ClampTransfer(buffer.size(), count, offset)) return 0;
  std::uint8_t piece[16384];
  std::int32_t done = 0;
  while (done < count) {
    std::int32_t n = std::min<std::int32_t>(count - done, sizeof piece);
    std::memcpy(piece, buffer.data() + offset + done, static_cast<std::size_t>(n));
    Mask(piece, n, source_->GetPosition());
    std::int32_t put = source_->Write(TWriteBuffer(piece, static_cast<std::size_t>(n)), n, 0);
    if (put > 0) done += put;
    if (put < n) break;
  }
  return done;
}

}  // namespace oru
