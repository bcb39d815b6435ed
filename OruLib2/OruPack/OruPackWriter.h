#pragma once
// Writes a show container to a file as its entries come, so that packing
// costs about a copy of the data and holds only a buffer in memory.
//
// File layout: [prefix] [entry data...] [directory] [int64 directory offset]
// [".dne"] [int64 X (trailer form 2 only)]. Entries are stored, deflated
// (raw deflate) or enciphered (XOR with the key, from the entry's first
// byte on). The directory is deflated UTF-8 ini text with a byte-order mark
// and CR LF: one section per escaped entry name with "_ps" (position),
// "_sz" (bytes stored) and "_pm" (method), then "$protection$" with
// "strucpos", "allowmodify" and "oruversion".
#include <cstdint>
#include <fstream>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace oru {

enum TPackMethod : int { kStored = 0, kDeflated = 1, kEnciphered = 2 };

class TOruPackWriter {
public:
  static constexpr std::string_view kKey = "5E2C8A0F9B3D7146E1A4C02F68D9B753";
  static constexpr std::string_view kTag = ".dne";
  static constexpr std::string_view kProtection = "$protection$";
  static constexpr std::string_view kOruVersion = "5.0.1";

  // "[" -> "<", "]" -> ">", a byte below 32 -> "#" and two upper-case hex digits.
  static std::string EscapeName(std::string_view name);
  // Raw deflate (no zlib header, window bits 15).
  static std::string Deflate(std::string_view data, int level = 9);
  // Byte i is XORed with the key byte (start + i) mod 32.
  static std::string Encipher(std::string_view data, std::int64_t start = 0);
  // The "ExeGUID" content: uint32 byte length, then the text in UTF-16LE.
  static std::string ExeGuidData(std::string_view guidText);

  struct TEntry {
    std::string Name;  // UTF-8, unescaped
    int Method = kStored;
    std::int64_t Position = 0;  // file position of the stored bytes
    std::int64_t Size = 0;      // bytes stored
  };

  // Creates (or empties) the file; raises std::runtime_error when it cannot.
  explicit TOruPackWriter(const std::string& path);
  ~TOruPackWriter();
  TOruPackWriter(const TOruPackWriter&) = delete;
  TOruPackWriter& operator=(const TOruPackWriter&) = delete;

  // Bytes before the show data, such as the player program the show is
  // appended to; only before the first entry. With a prefix the trailer
  // takes form 2 with base 0, so directory positions are plain positions.
  void WritePrefix(std::istream& in);
  void WritePrefix(std::string_view bytes);

  // An entry read from in to its end, written as it is read. Raises
  // std::runtime_error when reading or writing fails.
  const TEntry& Add(std::string name, std::istream& in, int method);
  const TEntry& Add(std::string name, std::string_view data, int method);

  // Writes directory and trailer and closes the file; returns its size.
  std::int64_t Finish();

  std::int64_t Position() const { return pos_; }
  const std::vector<TEntry>& Entries() const { return entries_; }
  // The directory text before deflating (after Finish).
  const std::string& DirectoryIni() const { return directoryIni_; }

private:
  class TEntrySink;
  void Write(const char* data, std::size_t size);
  void CheckOpen() const;

  std::string path_;
  std::ofstream out_;
  std::vector<char> buffer_;
  std::int64_t pos_ = 0;
  bool prefixed_ = false, finished_ = false;
  std::vector<TEntry> entries_;
  std::string directoryIni_;
};

// Little-endian 64-bit integer as 8 bytes.
std::string Int64Bytes(std::int64_t v);

}  // namespace oru
