#pragma once
// Raw-deflate decompression of show data over zlib: a stream that inflates
// another stream as it is read, and a one-call inflater into a stream.
#include <cstdint>
#include <vector>

#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/zmStream.h"

struct z_stream_s;

namespace oru {

// "Invalid ZStream operation!" or zlib's text for its error code.
ZM_COMMON_EXCEPTION(EZDecompressionError, zm::EStreamError)

// Source, zlib state and input buffer shared by the decompressing streams.
// The source is not owned: it must outlive the stream.
class TCustomZStream : public zm::TStream {
public:
  static constexpr std::int32_t kInputBufferSize = 65536;

  void Dispose() override;
  zm::TStream* Source() const { return source_; }

protected:
  explicit TCustomZStream(zm::TStream* source);

  zm::TStream* source_;
  z_stream_s* zs_ = nullptr;
  std::vector<std::uint8_t> input_;
};

// Inflates zlib-format data read from the source's current position on.
// Seeking: to the current position does nothing; to 0 restarts; forward
// reads and drops the bytes between; any other move raises.
class TZDecompressionStream : public TCustomZStream {
public:
  explicit TZDecompressionStream(zm::TStream* source);
  void Dispose() override;

  std::int64_t GetPosition() override { return outPos_; }
  void SetPosition(std::int64_t newPosition) override;
  std::int64_t GetSize() override;       // raises: the size is unknown
  void SetSize(std::int64_t) override;   // raises
  // Raises EZDecompressionError on bad data and on data that ends before the
  // compressed stream does.
  std::int32_t Read(zm::TReadBuffer buffer, std::int32_t count, std::int32_t offset) override;
  std::int32_t Write(zm::TWriteBuffer buffer, std::int32_t count, std::int32_t offset) override;  // raises
  using zm::TStream::Read;
  using zm::TStream::Write;

protected:
  // windowBits as zlib's inflateInit2 takes them.
  TZDecompressionStream(zm::TStream* source, int windowBits);
  void Restart();

  std::int64_t dataStart_;  // source position where the compressed data begins
  std::int64_t sourcePos_;  // where this stream last left the source
  std::int64_t outPos_ = 0;
  bool ended_ = false;
};

// Raw deflate (no zlib header). Size is the output size when known, else -1.
class TInflateStream : public TZDecompressionStream {
public:
  TInflateStream(zm::TStream* source, std::int64_t size);

  std::int64_t GetSize() override { return size_; }

private:
  std::int64_t size_;
};

// Inflates a whole raw-deflate stream from Source into Dest in one call,
// reading 32768-byte pieces and writing as the 32768-byte window fills.
// Source is read from its position; bytes after the stream's end may be
// consumed.
class TInflator : public zm::TRefObject {
public:
  static constexpr std::int32_t kBufferSize = 32768;
  // Called after each block read and each block written.
  using TProgressProc = void (*)(void* data, TInflator* sender);

  TInflator();
  void Dispose() override;

  void SetProgress(TProgressProc progress, void* data);
  // Raises EZDecompressionError on bad or incomplete data and
  // EStreamWriteError when Dest takes fewer bytes than given.
  void Inflate(zm::TStream* source, zm::TStream* dest);

  std::int64_t TotalIn() const { return totalIn_; }
  std::int64_t TotalOut() const { return totalOut_; }

private:
  void Flush(std::int32_t count);

  z_stream_s* zs_ = nullptr;
  zm::TStream* source_ = nullptr;
  zm::TStream* dest_ = nullptr;
  std::vector<std::uint8_t> input_;
  std::vector<std::uint8_t> window_;
  TProgressProc progress_ = nullptr;
  void* progressData_ = nullptr;
  std::int64_t totalIn_ = 0;
  std::int64_t totalOut_ = 0;
};

}  // namespace oru
