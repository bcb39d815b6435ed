#pragma once
// Writes show containers for tests in memory, with every knob to damage or
// tamper with them (the packer's writer, oru::TOruPackWriter, writes only
// sound ones): entries stored, deflated or enciphered,
// optionally behind a program prefix; the directory as deflated UTF-8 ini
// text with a byte-order mark and CR LF, one section per escaped entry name
// and the "$protection$" section; then the trailer in either form.
//
// File layout: [prefix] [entry data...] [directory] [int64 directory offset]
// [".dne"] [int64 X (form 2 only)]. Every knob below defaults to a sound
// container; the others make the damaged and tampered cases.
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "OruLib2/OruPack/OruPackWriter.h"

namespace zmtest {

using TEntryMethod = oru::TPackMethod;
using enum oru::TPackMethod;
using oru::Int64Bytes;

struct TContainerEntry {
  std::string Name;  // UTF-8, unescaped
  std::string Data;  // the content as read back
  int Method = kStored;
  std::int64_t SparseSize = -1;  // >= 0: a stored entry of that many zero bytes, a hole on disk

  // Damage knobs for this entry's section.
  bool OmitPs = false, OmitSz = false, OmitPm = false;
  std::optional<std::string> PsText, SzText, PmText;  // written instead of the true values
  std::optional<std::string> StoredBytes;              // stored instead of the encoded Data

  // Filled in by the writer.
  std::int64_t Position = -1;    // file position of the stored bytes
  std::int64_t StoredSize = -1;  // bytes stored (`_sz`)
};

class TShowContainerWriter {
public:
  static constexpr std::string_view kKey = oru::TOruPackWriter::kKey;
  static constexpr std::string_view kTag = oru::TOruPackWriter::kTag;

  static std::string EscapeName(std::string_view name) { return oru::TOruPackWriter::EscapeName(name); }
  static std::string Deflate(std::string_view data, int level = 9) {
    return oru::TOruPackWriter::Deflate(data, level);
  }
  static std::string Encipher(std::string_view data, std::int64_t start = 0) {
    return oru::TOruPackWriter::Encipher(data, start);
  }
  static std::string ExeGuidData(std::string_view guidText) { return oru::TOruPackWriter::ExeGuidData(guidText); }

  // Entries are written in the order added, after the prefix.
  TContainerEntry& Add(std::string name, std::string data, int method = kStored);
  TContainerEntry& AddSparse(std::string name, std::int64_t size);

  // ---- layout ----
  std::string Prefix;           // program bytes before the show data
  std::string PrefixEntryName;  // not empty: the prefix is also an entry at position 0
  int TrailerForm = 1;          // 1: ends with ".dne"; 2: ".dne" then the base field X
  std::int64_t Base = 0;        // form 2: the container base; X = E - Base, directory offset = D - Base
  // Positions written into the directory (`_ps`, default "strucpos") are this
  // much smaller than the real ones, as in a container moved after writing.
  std::int64_t Moved = 0;

  // ---- "$protection$" ----
  bool WriteProtection = true;
  std::optional<std::string> StrucPos;             // default: the decimal directory position - Moved
  std::optional<std::string> AllowModify = "0";    // nullopt: key left out
  std::optional<std::string> OruVersion = std::string(oru::TOruPackWriter::kOruVersion); // nullopt: key left out

  // ---- directory damage ----
  bool DirectoryBom = true;
  std::string ExtraDirectoryText;             // appended to the generated text before deflating
  std::optional<std::string> DirectoryText;   // deflated instead of the generated text
  std::optional<std::string> DirectoryBytes;  // written instead of the deflated directory

  // ---- trailer damage ----
  std::optional<std::int64_t> DirectoryOffset;  // written instead of D - base
  std::optional<std::int64_t> BaseField;        // form 2: X written instead of E - Base
  bool WriteTag = true;
  std::optional<std::int64_t> TruncateTo;  // the file is cut to this many bytes

  // The whole file in memory (holes become zero bytes).
  std::string Bytes();
  // Writes the file; sparse entries stay holes. Returns the file size.
  std::int64_t WriteFile(const std::string& path);

  // After Bytes or WriteFile:
  std::int64_t DirectoryPosition() const { return directoryPos_; }  // D, a file position
  std::int64_t DirectoryLength() const { return directoryLen_; }
  const std::string& DirectoryIni() const { return directoryIni_; }  // the text before deflating
  std::int64_t FileSize() const { return fileSize_; }
  std::deque<TContainerEntry>& Entries() { return entries_; }
  // The entry of that name (nullptr when absent).
  const TContainerEntry* Find(std::string_view name) const;

private:
  struct TSegment {
    std::string Bytes;
    std::int64_t Hole = 0;  // zero bytes not held in memory
  };
  std::vector<TSegment> Layout();

  std::deque<TContainerEntry> entries_;  // stable references for the knobs
  TContainerEntry prefixEntry_;
  std::int64_t directoryPos_ = -1;
  std::int64_t directoryLen_ = 0;
  std::string directoryIni_;
  std::int64_t fileSize_ = 0;
};

}  // namespace zmtest
