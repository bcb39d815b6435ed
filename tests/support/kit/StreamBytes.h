#pragma once
// Streams and exceptions as plain bytes and text, for tests and benchmarks.
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "ZmLib/zmStream.h"

namespace zmtest {

// A memory stream that counts its disposals in *Disposed (when given).
class TCountedStream : public zm::TMemoryStream {
public:
  explicit TCountedStream(int* disposed) : disposed_(disposed) {}
  void Dispose() override {
    if (disposed_) ++*disposed_;
    zm::TMemoryStream::Dispose();
  }

private:
  int* disposed_;
};

// A memory stream holding the bytes, at position 0.
zm::TRef<zm::TMemoryStream> MemoryStreamOf(std::string_view bytes);
zm::TRef<zm::TMemoryStream> MemoryStreamOf(std::span<const std::uint8_t> bytes);
// Everything a stream gives from its position on, read in pieces.
std::string ReadAllBytes(zm::TStream* stream, std::int32_t piece = 4096);
// The bytes of a memory stream.
std::string StreamBytes(zm::TMemoryStream* stream);
// "Class: message" of what f raises, or "(no exception)".
std::string RaisedText(const std::function<void()>& f);

}  // namespace zmtest
