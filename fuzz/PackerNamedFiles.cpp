// A show description as the packer reads it for the files it names: any
// bytes give names that are whole values of file keys, never more names than
// lines.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/FuzzCommon.h"
#include "tools/OruPacker.h"

using zmfuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto named = orupack::NamedFiles(text);
  const std::size_t lines = std::size_t(std::count(text.begin(), text.end(), '\n') + std::count(text.begin(), text.end(), '\r')) + 1;
  Check(named.size() <= lines);
  for (const orupack::TNamedFile& n : named) {
    Check(!n.Name.empty() && !n.Key.empty());
    Check(n.Name.front() != ' ' && n.Name.back() != ' ');
    Check(text.find(n.Name) != std::string_view::npos);
  }
  return 0;
}
