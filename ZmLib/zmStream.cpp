#include "ZmLib/zmStream.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

namespace zm {

namespace {
constexpr std::int32_t kCopyBuffer = 32768;
}

// ============================================================================
// TStream
// ============================================================================

std::int64_t TStream::GetRemaining() { return GetSize() - GetPosition(); }

void TStream::Clear() {
  SetPosition(0);
  SetSize(0);
}

void TStream::LoadFromStream(TStream* source) {
  Clear();
  if (!source) return;
  std::int64_t saved = source->GetPosition();
  source->SetPosition(0);
  std::int64_t size = source->GetSize();
  if (size == -1) {
    CopyFrom(source, kMaxCount);
  } else {
    SetSize(size);
    SetPosition(0);
    std::int64_t copied = CopyFrom(source, size);
    if (copied < size) {
      source->SetPosition(saved);
      throw EStreamError();
    }
  }
  source->SetPosition(saved);
  SetPosition(0);
}

std::int64_t TStream::CopyFrom(TStream* source, std::int64_t count) {
  if (!source || count <= 0) return 0;
  std::vector<std::uint8_t> buf(kCopyBuffer);
  std::int64_t total = 0;
  while (count > 0) {
    std::int32_t want = static_cast<std::int32_t>(std::min<std::int64_t>(count, kCopyBuffer));
    std::int32_t got = source->Read(buf, want, 0);
    if (got <= 0) break;
    std::int32_t put = Write(buf, got, 0);
    if (put < got) throw EStreamWriteError();
    total += got;
    count -= got;
  }
  return total;
}

std::int32_t TStream::ReadData(TReadBuffer buffer, std::int32_t count) { return Read(buffer, count, 0); }
std::int32_t TStream::WriteData(TWriteBuffer buffer, std::int32_t count) { return Write(buffer, count, 0); }

void TStream::ReadExact(std::uint8_t* p, std::int32_t n) {
  if (Read(TReadBuffer(p, static_cast<std::size_t>(n)), n, 0) != n) throw EStreamReadError();
}

void TStream::WriteExact(const std::uint8_t* p, std::int32_t n) {
  if (Write(TWriteBuffer(p, static_cast<std::size_t>(n)), n, 0) != n) throw EStreamWriteError();
}

std::uint8_t TStream::ReadByte() {
  std::uint8_t b;
  ReadExact(&b, 1);
  return b;
}

void TStream::WriteByte(std::uint8_t v) { WriteExact(&v, 1); }

std::uint16_t TStream::ReadWord() {
  std::uint8_t b[2];
  ReadExact(b, 2);
  return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
}

void TStream::WriteWord(std::uint16_t v) {
  std::uint8_t b[2] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)};
  WriteExact(b, 2);
}

void TStream::WriteWideChar(char16_t c) { WriteWord(static_cast<std::uint16_t>(c)); }

std::uint16_t TStream::ReadWordBE() {
  std::uint8_t b[2];
  ReadExact(b, 2);
  return static_cast<std::uint16_t>((b[0] << 8) | b[1]);
}

std::int16_t TStream::ReadSmallIntBE() { return static_cast<std::int16_t>(ReadWordBE()); }

std::uint32_t TStream::ReadCardinal() {
  std::uint8_t b[4];
  ReadExact(b, 4);
  return std::uint32_t(b[0]) | (std::uint32_t(b[1]) << 8) | (std::uint32_t(b[2]) << 16) | (std::uint32_t(b[3]) << 24);
}

std::int32_t TStream::ReadInteger() { return static_cast<std::int32_t>(ReadCardinal()); }

std::uint32_t TStream::ReadDWordBE() {
  std::uint8_t b[4];
  ReadExact(b, 4);
  return (std::uint32_t(b[0]) << 24) | (std::uint32_t(b[1]) << 16) | (std::uint32_t(b[2]) << 8) | std::uint32_t(b[3]);
}

void TStream::WriteInteger(std::int32_t v) {
  std::uint32_t u = static_cast<std::uint32_t>(v);
  std::uint8_t b[4] = {std::uint8_t(u), std::uint8_t(u >> 8), std::uint8_t(u >> 16), std::uint8_t(u >> 24)};
  WriteExact(b, 4);
}

std::int64_t TStream::ReadInt64() {
  std::uint8_t b[8];
  ReadExact(b, 8);
  std::uint64_t u = 0;
  for (int i = 7; i >= 0; --i) u = (u << 8) | b[i];
  return static_cast<std::int64_t>(u);
}

float TStream::ReadSingle() { return std::bit_cast<float>(ReadCardinal()); }

void TStream::WriteSingle(float v) { WriteInteger(static_cast<std::int32_t>(std::bit_cast<std::uint32_t>(v))); }

void TStream::WriteAnsiString(const TByteString& s) { WriteAnsiRange(s, 1, s.Length()); }

void TStream::WriteAnsiRange(const TByteString& s, std::int32_t start, std::int32_t count) {
  if (start < 1) start = 1;
  std::int64_t avail = std::int64_t(s.Length()) - (start - 1);
  if (count > avail) count = static_cast<std::int32_t>(std::max<std::int64_t>(avail, 0));
  std::int32_t pos = start - 1;
  while (count > 0) {
    std::int32_t n = std::min(count, 1024);
    WriteExact(s.Data() + pos, n);
    pos += n;
    count -= n;
  }
}

void TStream::WriteWideString(const WideString& s) { WriteWideRange(s, 1, static_cast<std::int32_t>(s.size())); }

void TStream::WriteWideRange(const WideString& s, std::int32_t start, std::int32_t count) {
  if (start < 1) start = 1;
  std::int64_t avail = std::int64_t(s.size()) - (start - 1);
  if (count > avail) count = static_cast<std::int32_t>(std::max<std::int64_t>(avail, 0));
  std::size_t pos = static_cast<std::size_t>(start - 1);
  std::uint8_t piece[1024];
  while (count > 0) {
    std::int32_t chars = std::min(count, 512);
    for (std::int32_t i = 0; i < chars; ++i) {
      char16_t c = s[pos + static_cast<std::size_t>(i)];
      piece[2 * i] = static_cast<std::uint8_t>(c);
      piece[2 * i + 1] = static_cast<std::uint8_t>(c >> 8);
    }
    WriteExact(piece, chars * 2);
    pos += static_cast<std::size_t>(chars);
    count -= chars;
  }
}

std::int32_t TStream::ReadWideChars(WideString& s, std::int32_t start, std::int32_t count) {
  if (start < 1) start = 1;
  std::int64_t avail = std::int64_t(s.size()) - (start - 1);
  if (count > avail) count = static_cast<std::int32_t>(std::max<std::int64_t>(avail, 0));
  std::size_t pos = static_cast<std::size_t>(start - 1);
  std::int32_t done = 0;
  std::uint8_t piece[1024];
  while (done < count) {
    std::int32_t want = std::min(count - done, 512) * 2;
    std::int32_t got = Read(piece, want, 0);
    std::int32_t chars = got > 0 ? got / 2 : 0;
    for (std::int32_t i = 0; i < chars; ++i)
      s[pos + static_cast<std::size_t>(done + i)] = static_cast<char16_t>(piece[2 * i] | (piece[2 * i + 1] << 8));
    done += chars;
    if (got < want) break;
  }
  return done;
}

std::int32_t TStream::ReadAnsiChars(TByteString& s, std::int32_t start, std::int32_t count) {
  if (start < 1) start = 1;
  std::int64_t avail = std::int64_t(s.Length()) - (start - 1);
  if (count > avail) count = static_cast<std::int32_t>(std::max<std::int64_t>(avail, 0));
  std::int32_t pos = start - 1;
  std::int32_t done = 0;
  while (done < count) {
    std::int32_t want = std::min(count - done, 2048);
    std::int32_t got = Read(TReadBuffer(s.MutableData() + pos + done, static_cast<std::size_t>(want)), want, 0);
    if (got > 0) done += got;
    if (got < want) break;
  }
  return done;
}

// ============================================================================
// Memory and string streams
// ============================================================================

template <class TStore>
void TBufferStream<TStore>::Dispose() {
  TStore().swap(data_);
  size_ = position_ = 0;
  TStream::Dispose();
}

template <class TStore>
void TBufferStream<TStore>::SetPosition(std::int64_t p) {
  if (p <= 0) position_ = 0;
  else if (p > size_) position_ = size_;
  else position_ = static_cast<std::int32_t>(p);
}

template <class TStore>
void TBufferStream<TStore>::SetSize(std::int64_t n) {
  if (n <= 0) {
    Clear();
    return;
  }
  if (n >= kMaxSize) return;  // beyond what a memory stream holds; callers see the short size
  if (n > size_) {
    try {
      data_.resize(static_cast<std::size_t>(n));
    } catch (const std::bad_alloc&) {
      return;
    }
  }
  size_ = static_cast<std::int32_t>(n);
  if (position_ > size_) position_ = size_;
}

template <class TStore>
void TBufferStream<TStore>::Clear() {
  TStore().swap(data_);
  size_ = 0;
  position_ = 0;
}

template <class TStore>
bool TBufferStream<TStore>::GrowTo(std::int64_t newSize) {
  if (newSize >= kMaxSize) return false;
  std::int64_t cap = static_cast<std::int64_t>(data_.size());
  if (newSize <= cap) {
    size_ = static_cast<std::int32_t>(std::max<std::int64_t>(size_, newSize));
    return true;
  }
  while (cap < newSize) {
    if (cap <= 32) cap += 16;
    else if (cap <= 256) cap += 64;
    else cap *= 2;
  }
  try {
    data_.resize(static_cast<std::size_t>(cap));
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
  size_ = static_cast<std::int32_t>(std::max<std::int64_t>(size_, newSize));
  return true;
}

template <class TStore>
std::int32_t TBufferStream<TStore>::Read(TReadBuffer buffer, std::int32_t count, std::int32_t offset) {
  if (offset < 0) offset = 0;
  if (static_cast<std::size_t>(offset) >= buffer.size()) return 0;
  std::int64_t n = std::min<std::int64_t>({std::int64_t(size_) - position_,
                                           std::int64_t(buffer.size()) - offset, std::int64_t(count)});
  if (n < 1) return 0;
  std::memcpy(buffer.data() + offset, Memory() + position_, static_cast<std::size_t>(n));
  position_ += static_cast<std::int32_t>(n);
  return static_cast<std::int32_t>(n);
}

template <class TStore>
std::int32_t TBufferStream<TStore>::Write(TWriteBuffer buffer, std::int32_t count, std::int32_t offset) {
  if (offset < 0) offset = 0;
  if (static_cast<std::size_t>(offset) >= buffer.size()) return 0;
  // Never read past the caller's buffer.
  count = static_cast<std::int32_t>(std::min<std::int64_t>(count, std::int64_t(buffer.size()) - offset));
  if (count <= 0) return 0;
  std::int32_t pos = position_;
  if (std::int64_t(pos) + count > size_) {
    if (!GrowTo(std::int64_t(pos) + count)) return 0;
  }
  std::memcpy(Memory() + pos, buffer.data() + offset, static_cast<std::size_t>(count));
  position_ = pos + count;
  if (position_ > size_) size_ = position_;
  return count;
}

template <class TStore>
std::int64_t TBufferStream<TStore>::CopyFrom(TStream* source, std::int64_t count) {
  if (!source || count <= 0) return 0;
  if (source->GetSize() == -1) return TStream::CopyFrom(source, count);
  count = std::min(count, source->GetRemaining());
  if (count <= 0) return 0;
  std::int32_t pos = position_;
  std::int32_t oldSize = size_;
  if (!GrowTo(std::int64_t(pos) + count)) return 0;
  std::int32_t want = static_cast<std::int32_t>(count);
  std::int32_t got = source->Read(TReadBuffer(Memory() + pos, static_cast<std::size_t>(want)), want, 0);
  if (got < 0) got = 0;
  position_ = pos + got;
  if (got < want) {
    size_ = std::max(oldSize, position_);  // no unread bytes beyond the data
    throw EStreamReadError();
  }
  return got;
}

template class TBufferStream<std::vector<std::uint8_t>>;
template class TBufferStream<std::string>;

TStringStream::TStringStream(const TByteString& text) {
  data_ = text.Str();
  size_ = static_cast<std::int32_t>(std::min<std::size_t>(data_.size(), kMaxSize - 1));
  position_ = 0;
}

TByteString TStringStream::DataString() const { return TByteString(std::string_view(data_.data(), static_cast<std::size_t>(size_))); }

// ============================================================================
// Hooks
// ============================================================================

TRef<TStream> DefaultReadFile(const WideString&) {
  ZM_FAIL("zmStream.ReadFile not Assigned. Link the wpFileStream module");
}

TRef<TStream> DefaultWriteFile(const WideString&, bool) {
  ZM_FAIL("zmStream.WriteFile not Assigned. Link the wpFileStream module");
}

TReadFileProc ReadFile = &DefaultReadFile;
TWriteFileProc WriteFile = &DefaultWriteFile;

}  // namespace zm
