#include "tests/support/kit/ContainerReader.h"

#include <zlib.h>

#include <stdexcept>

#include "tests/support/kit/IniText.h"

namespace zmtest {

std::int64_t Int64At(const std::string& s, std::int64_t pos) {
  if (pos < 0) throw std::out_of_range("negative position");
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | static_cast<std::uint8_t>(s.at(static_cast<std::size_t>(pos + i)));
  return static_cast<std::int64_t>(v);
}

std::string RawInflate(const std::string& packed) {
  z_stream zs{};
  if (inflateInit2(&zs, -15) != Z_OK) throw std::runtime_error("inflateInit2");
  std::string out;
  char buf[16384];
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
  zs.avail_in = static_cast<uInt>(packed.size());
  int r;
  do {
    zs.next_out = reinterpret_cast<Bytef*>(buf);
    zs.avail_out = sizeof buf;
    r = inflate(&zs, Z_NO_FLUSH);
    out.append(buf, sizeof buf - zs.avail_out);
  } while (r == Z_OK);
  inflateEnd(&zs);
  if (r != Z_STREAM_END) throw std::runtime_error("not complete deflate data");
  return out;
}

TSections SplitIni(const std::string& text) {
  TSections out;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find("\r\n", at);
    if (end == std::string::npos) throw std::runtime_error("last line without CR LF");
    std::string line = text.substr(at, end - at);
    if (line.find_first_of("\r\n") != std::string::npos) throw std::runtime_error("lone CR or LF");
    at = end + 2;
    if (line.empty()) continue;
    if (line.front() == '[' && line.back() == ']') {
      out.push_back({line.substr(1, line.size() - 2), {}});
    } else {
      std::size_t eq = line.find('=');
      if (eq == std::string::npos || out.empty()) throw std::runtime_error("unexpected line " + line);
      out.back().second[line.substr(0, eq)] = line.substr(eq + 1);
    }
  }
  return out;
}

const std::map<std::string, std::string>& TParsedContainer::Section(const std::string& name) const {
  for (const auto& [n, keys] : Sections)
    if (n == name) return keys;
  throw std::runtime_error("no section " + name);
}

std::string TParsedContainer::Stored(const std::string& file, const std::string& section) const {
  const auto& keys = Section(section);
  return file.substr(std::stoull(keys.at("_ps")), std::stoull(keys.at("_sz")));
}

TParsedContainer ParseContainer(const std::string& file) {
  TParsedContainer p;
  if (file.size() < 12) throw std::runtime_error("too short");
  p.End = static_cast<std::int64_t>(file.size());
  if (file.substr(file.size() - 4) != ".dne") {
    if (file.size() < 20 || file.substr(file.size() - 12, 4) != ".dne") throw std::runtime_error("no tag");
    p.End -= 8;
    p.Base = p.End - Int64At(file, p.End);
  }
  p.D = Int64At(file, p.End - 12) + p.Base;
  if (p.D < 0 || p.D > p.End - 12) throw std::runtime_error("directory outside the file");
  std::string packed = file.substr(static_cast<std::size_t>(p.D), static_cast<std::size_t>(p.End - 12 - p.D));
  p.DirectoryText = RawInflate(packed);
  if (p.DirectoryText.rfind(std::string(kUtf8Bom), 0) != 0) throw std::runtime_error("no byte-order mark");
  p.Sections = SplitIni(p.DirectoryText.substr(3));
  return p;
}

std::string Unmask(const std::string& s) {
  std::string out = s;
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<char>(out[i] ^ "5E2C8A0F9B3D7146E1A4C02F68D9B753"[i % 32]);
  return out;
}

}  // namespace zmtest
