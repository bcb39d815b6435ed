#pragma once
// Streams through which the files of a show are read: a window onto a range
// of another stream, and a stream enciphered with a repeating-key byte mask.
#include <cstdint>
#include <vector>

#include "ZmLib/zmByteString.h"
#include "ZmLib/zmStream.h"

namespace oru {

// Called after every block a partial stream moves: Callback(Data, Stream).
using TReadCallback = void (*)(void* data, zm::TStream* stream);

// The read callback that polls the process-wide load callback; pass it to
// SetReadCallback with nil data. Its answer is not used: the read goes on.
void LoadCallbackRead(void* data, zm::TStream* stream);

// A window [Offset, Offset + Size) onto another stream. Positions are
// relative to the window; the source's position is the window's plus Offset.
// An owned source is freed with the window. The constructor takes over an
// owned source even when it raises, so the caller never frees it twice.
class TPartialStream : public zm::TStream {
public:
  static constexpr std::int32_t kDefaultBlockSize = 32768;
  static constexpr std::int32_t kCallbackBlockSize = 256;

  TPartialStream(zm::TStream* source, bool ownsSource, std::int64_t offset, std::int64_t size);

  void Dispose() override;
  std::int64_t GetPosition() override;
  void SetPosition(std::int64_t newPosition) override;
  std::int64_t GetSize() override { return size_; }
  void SetSize(std::int64_t newSize) override;
  std::int64_t CopyFrom(zm::TStream* source, std::int64_t count) override;
  std::int32_t Read(zm::TReadBuffer buffer, std::int32_t count, std::int32_t offset) override;
  std::int32_t Write(zm::TWriteBuffer buffer, std::int32_t count, std::int32_t offset) override;
  using zm::TStream::Read;
  using zm::TStream::Write;
  // The window's part of the source's memory, when the source has it there.
  std::span<const std::uint8_t> MemoryView() override;

  // With a callback, blocks are at most 256 bytes and the callback runs
  // after each; nil restores 32768-byte blocks without a callback.
  void SetReadCallback(std::int32_t blockSize, TReadCallback callback, void* data);

  zm::TStream* Source() const { return source_; }
  bool OwnsSource() const { return ownsSource_; }
  std::int64_t Offset() const { return offset_; }
  std::int32_t BlockSize() const { return blockSize_; }
  // The callback set by SetReadCallback and its data; nil when none is set.
  TReadCallback ReadCallback() const;
  void* ReadCallbackData() const { return callbackData_; }

private:
  void Notify() { callback_(callbackData_, this); }

  zm::TStream* source_;
  bool ownsSource_;
  std::int64_t offset_;
  std::int64_t size_;
  TReadCallback callback_;
  void* callbackData_ = nullptr;
  std::int32_t blockSize_;
  std::vector<std::uint8_t> block_;  // made on the first CopyFrom
};

// Reads and writes the source through a mask: the byte at source position p
// is XORed with key[p mod key length]. Position, size and seeking are the
// source's, so reading may start anywhere.
class TCryptStream : public zm::TStream {
public:
  // Asserts a source and a key of at least one byte. Takes over an owned
  // source even when the assertion fails.
  TCryptStream(zm::TStream* source, const zm::TByteString& key, bool ownsSource);

  void Dispose() override;
  std::int64_t GetPosition() override { return source_->GetPosition(); }
  void SetPosition(std::int64_t newPosition) override { source_->SetPosition(newPosition); }
  std::int64_t GetSize() override { return source_->GetSize(); }
  void SetSize(std::int64_t newSize) override { source_->SetSize(newSize); }
  std::int32_t Read(zm::TReadBuffer buffer, std::int32_t count, std::int32_t offset) override;
  // The caller's buffer is left unchanged.
  std::int32_t Write(zm::TWriteBuffer buffer, std::int32_t count, std::int32_t offset) override;
  using zm::TStream::Read;
  using zm::TStream::Write;

  zm::TStream* Source() const { return source_; }
  const zm::TByteString& Key() const { return key_; }

private:
  // Masks n bytes that sit at source position pos.
  void Mask(std::uint8_t* p, std::int32_t n, std::int64_t pos) const;

  zm::TStream* source_;
  bool ownsSource_;
  zm::TByteString key_;
  std::vector<std::uint8_t> pattern_;  // the key repeated, plus one key length
  std::size_t run_ = 0;                // whole key lengths masked per step
};

}  // namespace oru
