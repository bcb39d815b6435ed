#pragma once
// The show container: every file of a show in one block of data, appended
// behind the player program or kept in a file of its own.
//
// Layout (little-endian): entry data; the directory, raw-deflated ini text
// (UTF-8 with a byte-order mark) with one section per escaped entry name
// (keys "_ps" position, "_sz" stored size, "_pm" method) and the integrity
// section "$protection$"; the 64-bit directory offset; the tag ".dne"; and,
// in the second trailer form, a 64-bit base field X after the tag.
//
// Opening reads only the trailer and the directory. Entries are read
// through streams of their own, each over a file handle of its own, so any
// number of threads may read entries at once; the unpacker itself is only
// read after construction.
#include <cstdint>
#include <string_view>

#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/wpFileStream.h"
#include "ZmLib/zmByteString.h"
#include "ZmLib/zmIni.h"
#include "ZmLib/zmStream.h"
#include "ZmLib/zmTypes.h"

namespace oru {

using zm::WideString;

// Storage methods ("_pm"); any other value is read as stored.
constexpr std::uint8_t kEntryStored = 0;
constexpr std::uint8_t kEntryDeflated = 1;
constexpr std::uint8_t kEntryEnciphered = 2;

// The directory's section name of an entry: "[" becomes "<", "]" becomes
// ">", a character below 32 becomes "#" and two upper-case hex digits.
WideString EscapeEntryName(const WideString& name);

// The container directory: one ini document, read-only once loaded.
class TUnpackStruc : public zm::TRefObject {
public:
  TUnpackStruc();
  void Dispose() override;

  // Clears the document and reads it from the stream's text; false (empty
  // document) when the text cannot be read.
  bool LoadFromStream(zm::TStream* stream);
  zm::TIniFile* Ini() const { return ini_.get(); }
  // The section of an entry, found by its escaped name (letter case
  // ignored); nil when absent or for an empty name.
  zm::TIniSection* FindEntrySection(const WideString& name) const;

private:
  zm::TRef<zm::TIniFile> ini_;
};

class TOruUnpack : public zm::TRefObject {
public:
  // Method-2 entries are read with this key.
  static constexpr std::string_view kKey = "5E2C8A0F9B3D7146E1A4C02F68D9B753";
  static constexpr std::string_view kTag = ".dne";
  static constexpr std::string_view kProtection = "$protection$";
  // A directory inflating to more than this is refused (no show).
  static constexpr std::int64_t kMaxDirectorySize = std::int64_t(64) << 20;
  // A deflated entry is held in memory whole: it may give at most this many
  // bytes, and inflating it may take at most this long (a deflate bomb
  // gives a thousand times its size); past either the entry is damaged.
  static constexpr std::int64_t kMaxInflatedEntrySize = std::int64_t(256) << 20;
  static constexpr std::int64_t kMaxInflateMs = 10000;
  struct TInflateLimits {
    std::int64_t MaxBytes = kMaxInflatedEntrySize;
    std::int64_t MaxMs = kMaxInflateMs;  // checked between pieces of a MiB
  };

  // Opens the existing file (read access, shared for reading) and reads its
  // trailer, directory and integrity section. A file that carries no
  // container, or fails the integrity check, leaves the unpacker closed
  // (HasShow false) with ErrorText "Slide-show File Modified" or
  // "Slide-show File Damaged" for the integrity failures, empty otherwise.
  // Raises EFileOpenError when the file cannot be opened, EStreamError
  // "Insufficient Source Size" when the trailer places the directory outside
  // the file, and EZDecompressionError when the directory is not complete
  // raw-deflate data.
  explicit TOruUnpack(const WideString& fileName);
  void Dispose() override;

  bool HasShow() const { return stream_ != nullptr; }
  // Releases the directory and the file stream. Nothing reopens them.
  void Close();

  // The entry's window and method. False when closed, when the entry is
  // missing, or its "_ps" or "_sz" is absent or not a number (-1); position
  // includes the shift of a moved container.
  bool FindEntry(const WideString& name, std::int64_t& position, std::uint8_t& method, std::int64_t& size) const;
  // A new stream over the container file, opened as the unpacker opened it;
  // nil when closed. Raises EFileOpenError when the file is gone.
  zm::TRef<zm::TFileStream> OpenContainerFile() const;

  // The stream through which an entry is read: a TPartialStream over
  // [position, position + size) of source; for method 1 a TMemoryStream
  // holding the inflated bytes (at position 0); for method 2 a TCryptStream
  // over the window with key; for any other method the window itself.
  // A nil source gives nil. With ownsSource the caller's reference to
  // source is taken over in every case, also when this raises. Raises
  // EStreamError "Insufficient Source Size" for a window outside the
  // source, EZDecompressionError for bad deflate data, EStreamReadError
  // (kEntryTooLargeText, kEntryTooSlowText) past the inflate limits.
  static zm::TRef<zm::TStream> OpenEntryStream(zm::TStream* source, std::uint8_t method, bool ownsSource,
                                               const zm::TByteString& key, std::int64_t position,
                                               std::int64_t size);
  static zm::TRef<zm::TStream> OpenEntryStream(zm::TStream* source, std::uint8_t method, bool ownsSource,
                                               const zm::TByteString& key, std::int64_t position,
                                               std::int64_t size, const TInflateLimits& limits);
  static constexpr const char* kEntryTooLargeText = "Entry inflates past the size limit";
  static constexpr const char* kEntryTooSlowText = "Entry inflates past the time limit";

  zm::TFileStream* ContainerStream() const { return stream_.get(); }
  std::int64_t EndMark() const { return end_; }
  std::int64_t Shift() const { return shift_; }
  TUnpackStruc* Struc() const { return struc_.get(); }
  const WideString& FileName() const { return fileName_; }
  // "$protection$"/"oruversion"; empty when absent.
  const WideString& Version() const { return version_; }
  const WideString& ErrorText() const { return errorText_; }
  const zm::TByteString& Key() const { return key_; }

private:
  // Sets end_ and base; false when the file ends in no trailer.
  bool ReadTrailer(std::int64_t& base);
  bool ReadStructure();

  zm::TRef<zm::TFileStream> stream_;
  std::int64_t end_ = 0;
  std::int64_t shift_ = 0;
  zm::TRef<TUnpackStruc> struc_;
  WideString fileName_;
  WideString version_;
  WideString errorText_;
  zm::TByteString key_;
};

// Whether the file carries a show, and its "oruversion" text. False (empty
// version) also for a file that cannot be opened or read as a container.
bool ReadShowContainerVersion(const WideString& fileName, WideString& version);

}  // namespace oru
