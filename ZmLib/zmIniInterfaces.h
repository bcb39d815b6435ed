#pragma once
// Text savers: buffered writers of UTF-8 text into a stream, a growing byte
// array, or the escaped form of one ini value. Ini documents write
// themselves through them (TTextWriter).
//
// Wide ranges are 1-based (clamped to the string); byte ranges are 0-based.
#include <cstdint>
#include <vector>

#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/zmByteString.h"
#include "ZmLib/zmStream.h"
#include "ZmLib/zmTypes.h"

namespace zm {

class TTextSaver;

// An object that writes itself as text to a saver.
class TTextWriter : public TRefObject {
public:
  virtual void Save(TTextSaver& saver) = 0;
};

class TTextSaver : public TRefObject {
public:
  void Dispose() override;  // Close, then the inherited one
  // Called when the buffer has no room: empties or enlarges it.
  virtual void BufferFull() = 0;
  // Finishes the output.
  virtual void Close() {}
  virtual void WriteItem(TTextWriter& item) { item.Save(*this); }
  virtual void WriteBOM();
  // Count blanks; nothing for a count below 1.
  virtual void WriteIndent(std::int32_t count);
  // Characters start..start+count-1 of s as UTF-8.
  virtual void WriteText(const WideString& s, std::int32_t start = 1, std::int32_t count = kMaxCount32);
  virtual void WriteLine(const WideString& s);
  virtual void WriteNewLine();  // CR LF
  virtual void WriteBytes(const std::uint8_t* bytes, std::int32_t count);
  void WriteBytes(const TByteString& bytes, std::int32_t start = 0, std::int32_t count = kMaxCount32);

  std::int32_t Used() const { return used_; }
  std::int32_t Capacity() const { return static_cast<std::int32_t>(buffer_.size()); }

protected:
  // Copies into the buffer without any translation.
  void PutBytes(const std::uint8_t* bytes, std::int32_t count);

  std::vector<std::uint8_t> buffer_;  // its length is the capacity
  std::int32_t used_ = 0;
};

// Writes to a stream through a 32768-byte buffer; an owned stream is freed
// by Close.
class TStreamTextSaver : public TTextSaver {
public:
  static constexpr std::int32_t kBufferSize = 32768;
  TStreamTextSaver(TStream* stream, bool ownsStream);
  void BufferFull() override;
  void Close() override;
  TStream* Stream() const { return stream_; }

private:
  void Flush();
  TStream* stream_;
  bool ownsStream_;
};

// Collects the bytes in an array: 4096 bytes at first, then doubled. Close
// cuts the array to the bytes written and hands it to Bytes().
class TBytesTextSaver : public TTextSaver {
public:
  static constexpr std::int32_t kFirstCapacity = 4096;
  void BufferFull() override;
  void Close() override;
  // The text of the last Close.
  const TByteString& Bytes() const { return bytes_; }
  TByteString TakeBytes() { return std::move(bytes_); }

private:
  TByteString bytes_;
};

// The escaped form of one ini value: every backslash is doubled and a line
// break becomes backslash and "n".
class TValueTextSaver : public TBytesTextSaver {
public:
  void WriteText(const WideString& s, std::int32_t start = 1, std::int32_t count = kMaxCount32) override;
  void WriteNewLine() override;
  void WriteBytes(const std::uint8_t* bytes, std::int32_t count) override;
  using TTextSaver::WriteBytes;
};

}  // namespace zm
