#include "ZmLib/zmIniInterfaces.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "Platform/PlatUtf8.h"

namespace zm {

namespace {
// The UTF-8 form of characters start..start+count-1 (1-based, clamped).
std::string Utf8Range(const WideString& s, std::int32_t start, std::int32_t count) {
  std::int64_t b = start < 1 ? 0 : static_cast<std::int64_t>(start) - 1;
  std::int64_t n = static_cast<std::int64_t>(s.size());
  if (b >= n || count <= 0) return {};
  std::int64_t len = std::min<std::int64_t>(count, n - b);
  return plat::ToUtf8(WideStringView(s).substr(static_cast<std::size_t>(b), static_cast<std::size_t>(len)));
}
}  // namespace

// ============================================================================
// TTextSaver
// ============================================================================

void TTextSaver::Dispose() {
  Close();
  TRefObject::Dispose();
}

void TTextSaver::PutBytes(const std::uint8_t* bytes, std::int32_t count) {
  while (count > 0) {
    if (used_ >= Capacity()) {
      BufferFull();
      ZM_ASSERT(used_ < Capacity(), "TTextSaver.BufferFull left no room");
    }
    std::int32_t n = std::min(count, Capacity() - used_);
    std::memcpy(buffer_.data() + used_, bytes, static_cast<std::size_t>(n));
    used_ += n;
    bytes += n;
    count -= n;
  }
}

void TTextSaver::WriteBytes(const std::uint8_t* bytes, std::int32_t count) { PutBytes(bytes, count); }

void TTextSaver::WriteBytes(const TByteString& bytes, std::int32_t start, std::int32_t count) {
  if (start < 0) start = 0;
  std::int32_t n = bytes.ClampCount(start, count);
  if (n > 0) WriteBytes(bytes.Data() + start, n);
}

void TTextSaver::WriteBOM() {
  static const std::uint8_t kBom[3] = {0xEF, 0xBB, 0xBF};
  PutBytes(kBom, 3);
}

void TTextSaver::WriteIndent(std::int32_t count) {
  static const std::uint8_t kBlanks[64] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                                           ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                                           ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                                           ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                                           ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  while (count > 0) {
    std::int32_t n = std::min<std::int32_t>(count, 64);
    PutBytes(kBlanks, n);
    count -= n;
  }
}

void TTextSaver::WriteText(const WideString& s, std::int32_t start, std::int32_t count) {
  std::string bytes = Utf8Range(s, start, count);
  PutBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), static_cast<std::int32_t>(bytes.size()));
}

void TTextSaver::WriteLine(const WideString& s) {
  WriteText(s);
  WriteNewLine();
}

void TTextSaver::WriteNewLine() {
  static const std::uint8_t kCrLf[2] = {13, 10};
  PutBytes(kCrLf, 2);
}

// ============================================================================
// TStreamTextSaver
// ============================================================================

TStreamTextSaver::TStreamTextSaver(TStream* stream, bool ownsStream) : stream_(stream), ownsStream_(ownsStream) {
  buffer_.resize(kBufferSize);
}

void TStreamTextSaver::Flush() {
  std::int32_t n = used_;
  // Emptied first: a stream that fails is not written to again by Close.
  used_ = 0;
  if (n > 0 && stream_) {
    std::int32_t done = stream_->Write(TWriteBuffer(buffer_.data(), static_cast<std::size_t>(n)));
    if (done != n) throw EStreamWriteError();
  }
}

void TStreamTextSaver::BufferFull() { Flush(); }

void TStreamTextSaver::Close() {
  TStream* s = stream_;
  bool owned = ownsStream_;
  try {
    Flush();
  } catch (...) {
    stream_ = nullptr;
    ownsStream_ = false;
    if (owned && s) s->Free();
    throw;
  }
  stream_ = nullptr;
  ownsStream_ = false;
  if (owned && s) s->Free();
}

// ============================================================================
// TBytesTextSaver, TValueTextSaver
// ============================================================================

void TBytesTextSaver::BufferFull() {
  std::int64_t cap = Capacity() < kFirstCapacity ? kFirstCapacity : std::int64_t(Capacity()) * 2;
  if (cap > INT32_MAX) cap = INT32_MAX;
  ZM_ASSERT(cap > Capacity(), "TBytesTextSaver out of room");
  buffer_.resize(static_cast<std::size_t>(cap));
}

void TBytesTextSaver::Close() {
  bytes_ = TByteString(buffer_.data(), static_cast<std::size_t>(used_));
  buffer_.clear();
  buffer_.shrink_to_fit();
  used_ = 0;
}

void TValueTextSaver::WriteText(const WideString& s, std::int32_t start, std::int32_t count) {
  std::string bytes = Utf8Range(s, start, count);
  WriteBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), static_cast<std::int32_t>(bytes.size()));
}

void TValueTextSaver::WriteNewLine() {
  static const std::uint8_t kEscapedBreak[2] = {'\\', 'n'};
  PutBytes(kEscapedBreak, 2);
}

void TValueTextSaver::WriteBytes(const std::uint8_t* bytes, std::int32_t count) {
  std::int32_t from = 0;
  for (std::int32_t i = 0; i < count; ++i) {
    if (bytes[i] != '\\') continue;
    PutBytes(bytes + from, i + 1 - from);  // up to and with the backslash
    from = i;                              // ... which is written once more
  }
  PutBytes(bytes + from, count - from);
}

}  // namespace zm
