#include "tests/support/kit/StreamBytes.h"

#include <vector>

namespace zmtest {

zm::TRef<zm::TMemoryStream> MemoryStreamOf(std::string_view bytes) {
  return MemoryStreamOf(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

zm::TRef<zm::TMemoryStream> MemoryStreamOf(std::span<const std::uint8_t> bytes) {
  auto s = zm::MakeRef<zm::TMemoryStream>();
  s->Write(zm::TWriteBuffer(bytes.data(), bytes.size()));
  s->SetPosition(0);
  return s;
}

std::string ReadAllBytes(zm::TStream* stream, std::int32_t piece) {
  std::string out;
  std::vector<std::uint8_t> buf(static_cast<std::size_t>(piece));
  for (;;) {
    std::int32_t got = stream->Read(buf, piece, 0);
    if (got <= 0) break;
    out.append(reinterpret_cast<const char*>(buf.data()), static_cast<std::size_t>(got));
  }
  return out;
}

std::string StreamBytes(zm::TMemoryStream* stream) {
  return std::string(reinterpret_cast<const char*>(stream->Memory()), static_cast<std::size_t>(stream->GetSize()));
}

std::string RaisedText(const std::function<void()>& f) {
  try {
    f();
  } catch (const zm::Exception& e) {
    return e.ClassName() + ": " + e.Message();
  }
  return "(no exception)";
}

}  // namespace zmtest
