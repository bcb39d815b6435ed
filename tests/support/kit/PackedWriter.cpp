#include "tests/support/kit/PackedWriter.h"

#include <bzlib.h>
#include <lzma.h>
#include <zlib.h>
#include <zstd.h>

#include <cstdio>
#include <stdexcept>

namespace zmtest {

namespace {

std::string Deflated(const std::string& data, int windowBits) {
  z_stream z{};
  if (deflateInit2(&z, 9, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw std::runtime_error("deflate");
  std::string out(deflateBound(&z, uLong(data.size())) + 64, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = uInt(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = uInt(out.size());
  if (deflate(&z, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("deflate");
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

std::string Lzma(const std::string& data, bool xz) {
  lzma_stream s = LZMA_STREAM_INIT;
  lzma_options_lzma options;
  lzma_lzma_preset(&options, 6);
  if ((xz ? lzma_easy_encoder(&s, 6, LZMA_CHECK_CRC64) : lzma_alone_encoder(&s, &options)) != LZMA_OK)
    throw std::runtime_error("lzma");
  std::string out(data.size() + data.size() / 2 + 4096, '\0');
  s.next_in = reinterpret_cast<const std::uint8_t*>(data.data());
  s.avail_in = data.size();
  s.next_out = reinterpret_cast<std::uint8_t*>(out.data());
  s.avail_out = out.size();
  if (lzma_code(&s, LZMA_FINISH) != LZMA_STREAM_END) throw std::runtime_error("lzma");
  out.resize(s.total_out);
  lzma_end(&s);
  return out;
}

void Le(std::string& out, std::uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out += char((v >> (8 * i)) & 0xFF);
}

// A ustar header block of its fields.
std::string TarHeader(const std::string& name, std::uint64_t size, char type) {
  std::string h(512, '\0');
  h.replace(0, std::min<std::size_t>(name.size(), 100), name.substr(0, 100));
  std::snprintf(h.data() + 100, 8, "%07o", 0755);
  std::snprintf(h.data() + 108, 8, "%07o", 0);
  std::snprintf(h.data() + 116, 8, "%07o", 0);
  std::snprintf(h.data() + 124, 12, "%011llo", static_cast<unsigned long long>(size));
  std::snprintf(h.data() + 136, 12, "%011o", 0);
  h[156] = type;
  h.replace(257, 8, std::string("ustar\0" "00", 8));
  h.replace(148, 8, "        ");
  unsigned sum = 0;
  for (const char c : h) sum += static_cast<unsigned char>(c);
  std::snprintf(h.data() + 148, 8, "%06o", sum);
  h[155] = ' ';
  return h;
}

std::string Padded(std::string data) {
  data.resize((data.size() + 511) / 512 * 512, '\0');
  return data;
}

}  // namespace

std::string Gzipped(const std::string& data) { return Deflated(data, 16 + MAX_WBITS); }
std::string Xzed(const std::string& data) { return Lzma(data, true); }
std::string Lzmaed(const std::string& data) { return Lzma(data, false); }

std::string Bzipped(const std::string& data) {
  std::string out(data.size() + data.size() / 100 + 1024, '\0');
  unsigned n = unsigned(out.size());
  if (BZ2_bzBuffToBuffCompress(out.data(), &n, const_cast<char*>(data.data()), unsigned(data.size()), 9, 0, 0) != BZ_OK)
    throw std::runtime_error("bzip2");
  out.resize(n);
  return out;
}

std::string Zstded(const std::string& data) {
  std::string out(ZSTD_compressBound(data.size()), '\0');
  const std::size_t n = ZSTD_compress(out.data(), out.size(), data.data(), data.size(), 3);
  if (ZSTD_isError(n)) throw std::runtime_error("zstd");
  out.resize(n);
  return out;
}

std::string Tarred(const std::vector<TPackedMember>& members) {
  std::string out;
  for (const TPackedMember& m : members) {
    if (m.Name.size() >= 100) {
      // "LENGTH path=NAME\n", the length counting its own digits.
      const std::string record = " path=" + m.Name + "\n";
      std::size_t length = record.size() + std::to_string(record.size()).size();
      length = record.size() + std::to_string(length).size();
      const std::string pax = std::to_string(length) + record;
      out += TarHeader("././@PaxHeader", pax.size(), 'x') + Padded(pax);
    }
    out += TarHeader(m.Name, m.Data.size(), m.TarType) + Padded(m.Data);
  }
  return out + std::string(1024, '\0');
}

std::string Zipped(const std::vector<TPackedMember>& members) {
  std::string data, directory;
  for (const TPackedMember& m : members) {
    std::string packed = m.Data;
    switch (m.ZipMethod) {
      case 8: packed = Deflated(m.Data, -MAX_WBITS); break;
      case 12: packed = Bzipped(m.Data); break;
      case 93: packed = Zstded(m.Data); break;
      case 95: packed = Xzed(m.Data); break;
      default: break;
    }
    const std::uint32_t crc = std::uint32_t(crc32(0, reinterpret_cast<const Bytef*>(m.Data.data()), uInt(m.Data.size())));
    const std::uint64_t at = data.size();
    const std::uint16_t flags = m.Enciphered ? 1 : 0;
    data += "PK\x03\x04";
    Le(data, 20, 2);
    Le(data, flags, 2);
    Le(data, m.ZipMethod, 2);
    Le(data, 0, 4);
    Le(data, crc, 4);
    Le(data, packed.size(), 4);
    Le(data, m.Data.size(), 4);
    Le(data, m.Name.size(), 2);
    Le(data, 0, 2);
    data += m.Name + packed;
    directory += "PK\x01\x02";
    Le(directory, 20, 2);
    Le(directory, 20, 2);
    Le(directory, flags, 2);
    Le(directory, m.ZipMethod, 2);
    Le(directory, 0, 4);
    Le(directory, crc, 4);
    Le(directory, packed.size(), 4);
    Le(directory, m.Data.size(), 4);
    Le(directory, m.Name.size(), 2);
    Le(directory, 0, 8);
    Le(directory, 0, 4);
    Le(directory, at, 4);
    directory += m.Name;
  }
  const std::uint64_t directoryAt = data.size();
  data += directory + "PK\x05\x06";
  Le(data, 0, 4);
  Le(data, members.size(), 2);
  Le(data, members.size(), 2);
  Le(data, directory.size(), 4);
  Le(data, directoryAt, 4);
  Le(data, 0, 2);
  return data;
}

}  // namespace zmtest
