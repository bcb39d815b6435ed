#pragma once
// Compressed files and archives as bytes, made by the libraries the
// programs that unpack them use: gzip, xz, lzma, bzip2 and zstd streams,
// tar archives (ustar headers, a long name by a pax header) and zip
// archives (stored, deflated, bzip2, zstd or xz members).
#include <cstdint>
#include <string>
#include <vector>

namespace zmtest {

std::string Gzipped(const std::string& data);
std::string Xzed(const std::string& data);
std::string Lzmaed(const std::string& data);  // the older format unlzma reads
std::string Bzipped(const std::string& data);
std::string Zstded(const std::string& data);

struct TPackedMember {
  std::string Name, Data;
  char TarType = '0';                // a tar member's kind ('0' a file, '5' a folder, '2' a link ...)
  std::uint16_t ZipMethod = 8;       // 0 stored, 8 deflated, 12 bzip2, 93 zstd, 95 xz
  bool Enciphered = false;           // a zip member's flag only
};
std::string Tarred(const std::vector<TPackedMember>& members);
std::string Zipped(const std::vector<TPackedMember>& members);

}  // namespace zmtest
