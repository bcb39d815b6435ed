#pragma once
// Byte streams: 64-bit positions and sizes, reads and writes into caller
// buffers given as a byte array with an offset, typed readers and writers in
// fixed byte orders, and the memory and string streams.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/zmByteString.h"

namespace zm {

ZM_COMMON_EXCEPTION(EStreamError, TCommonException)
ZM_COMMON_EXCEPTION(EStreamReadError, EStreamError)
ZM_COMMON_EXCEPTION(EStreamWriteError, EStreamError)
ZM_COMMON_EXCEPTION(EStreamSeekError, EStreamError)

using TReadBuffer = std::span<std::uint8_t>;
using TWriteBuffer = std::span<const std::uint8_t>;

class TStream : public TRefObject {
public:
  static constexpr std::int64_t kMaxCount = INT64_MAX;

  virtual std::int64_t GetPosition() = 0;
  virtual void SetPosition(std::int64_t newPosition) = 0;
  virtual std::int64_t GetSize() = 0;  // -1 when the stream cannot tell
  virtual void SetSize(std::int64_t newSize) = 0;
  virtual std::int64_t GetRemaining();
  virtual void LoadFromStream(TStream* source);
  virtual void Clear();
  virtual std::int64_t CopyFrom(TStream* source, std::int64_t count);
  // Reads up to count bytes into buffer at offset; returns the bytes read.
  virtual std::int32_t Read(TReadBuffer buffer, std::int32_t count, std::int32_t offset) = 0;
  // Writes count bytes of buffer from offset; returns the bytes written.
  virtual std::int32_t Write(TWriteBuffer buffer, std::int32_t count, std::int32_t offset) = 0;
  // All bytes of the stream when it holds them in memory, else empty, so
  // that readers can take them without a copy. Valid until the stream is
  // written, resized or freed.
  virtual std::span<const std::uint8_t> MemoryView() { return {}; }

  // Convenience forms over the whole buffer.
  std::int32_t Read(TReadBuffer buffer) { return Read(buffer, static_cast<std::int32_t>(buffer.size()), 0); }
  std::int32_t Write(TWriteBuffer buffer) { return Write(buffer, static_cast<std::int32_t>(buffer.size()), 0); }

  // Moves count bytes at offset 0; no exception.
  std::int32_t ReadData(TReadBuffer buffer, std::int32_t count);
  std::int32_t WriteData(TWriteBuffer buffer, std::int32_t count);

  // Typed readers and writers raise EStreamReadError / EStreamWriteError
  // when fewer bytes than their width moved.
  std::uint8_t ReadByte();
  void WriteByte(std::uint8_t v);
  std::uint16_t ReadWord();  // low byte first
  void WriteWord(std::uint16_t v);
  void WriteWideChar(char16_t c);
  std::uint16_t ReadWordBE();   // high byte first
  std::int16_t ReadSmallIntBE();
  std::uint32_t ReadCardinal();  // low byte first
  std::int32_t ReadInteger();
  std::uint32_t ReadDWordBE();
  void WriteInteger(std::int32_t v);
  std::int64_t ReadInt64();
  float ReadSingle();
  void WriteSingle(float v);

  // Text without length prefix or terminator. Start is 1-based.
  void WriteAnsiString(const TByteString& s);
  void WriteAnsiRange(const TByteString& s, std::int32_t start, std::int32_t count);
  void WriteWideString(const WideString& s);
  void WriteWideRange(const WideString& s, std::int32_t start, std::int32_t count);
  // Fill characters of an existing string from start; return the count read.
  std::int32_t ReadWideChars(WideString& s, std::int32_t start, std::int32_t count);
  std::int32_t ReadAnsiChars(TByteString& s, std::int32_t start, std::int32_t count);

protected:
  void ReadExact(std::uint8_t* p, std::int32_t n);
  void WriteExact(const std::uint8_t* p, std::int32_t n);
};

// A stream over a growable byte store with 32-bit size and position.
template <class TStore>
class TBufferStream : public TStream {
public:
  static constexpr std::int32_t kMaxSize = 0x1FFFFFFF;

  void Dispose() override;
  std::int64_t GetPosition() override { return position_; }
  void SetPosition(std::int64_t p) override;
  std::int64_t GetSize() override { return size_; }
  void SetSize(std::int64_t n) override;
  void Clear() override;
  std::int64_t CopyFrom(TStream* source, std::int64_t count) override;
  std::int32_t Read(TReadBuffer buffer, std::int32_t count, std::int32_t offset) override;
  std::int32_t Write(TWriteBuffer buffer, std::int32_t count, std::int32_t offset) override;
  using TStream::Read;
  using TStream::Write;
  std::span<const std::uint8_t> MemoryView() override { return {Memory(), static_cast<std::size_t>(size_)}; }

  std::int32_t Capacity() const { return static_cast<std::int32_t>(data_.size()); }
  // The bytes of the stream (Size of them are valid).
  std::uint8_t* Memory() { return reinterpret_cast<std::uint8_t*>(data_.data()); }
  const std::uint8_t* Memory() const { return reinterpret_cast<const std::uint8_t*>(data_.data()); }

protected:
  bool GrowTo(std::int64_t newSize);

  TStore data_;  // its length is the capacity
  std::int32_t size_ = 0;
  std::int32_t position_ = 0;
};

extern template class TBufferStream<std::vector<std::uint8_t>>;
extern template class TBufferStream<std::string>;

class TMemoryStream : public TBufferStream<std::vector<std::uint8_t>> {
public:
  TMemoryStream() = default;
};

class TStringStream : public TBufferStream<std::string> {
public:
  explicit TStringStream(const TByteString& text = {});
  // The bytes written so far (Size of them).
  TByteString DataString() const;
};

// ---- Hooks through which any module opens a named file ---------------------

// A stream at position 0 on the named content, or nil when it does not exist.
using TReadFileProc = TRef<TStream> (*)(const WideString& name);
// A stream open for writing.
using TWriteFileProc = TRef<TStream> (*)(const WideString& name, bool truncate);
extern TReadFileProc ReadFile;
extern TWriteFileProc WriteFile;
TRef<TStream> DefaultReadFile(const WideString& name);
TRef<TStream> DefaultWriteFile(const WideString& name, bool truncate);

}  // namespace zm
