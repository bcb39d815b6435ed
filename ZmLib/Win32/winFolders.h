#pragma once
// Folder enumeration with a name mask; a folder that is refused and is a
// link is read through its target.
#include <cstdint>
#include <functional>

#include "ZmLib/Win32/winFileAPI.h"

namespace zm {

class EFolderError : public EFileError {
public:
  using EFileError::EFileError;
};
class EFolderNotFound : public EFolderError {
public:
  using EFolderError::EFolderError;
};
class EFolderAccessDenied : public EFolderError {
public:
  using EFolderError::EFolderError;
};

// One directory entry.
struct TFileInfo {
  WideString Name;
  std::int32_t ExtPos = 0;  // 1-based position of the last "." of the name; 0 when none
  WideString ShortName;     // the 8.3 name, or the name when there is none
  std::uint32_t Attributes = 0;
  bool Directory = false;
  std::int64_t Size = 0;
  std::int64_t SizeOnDisk = 0;  // the compressed size of a compressed file
  TSystemTime CreationTime, LastAccessTime, LastWriteTime;  // local time
};

// Returns true to count the entry; sets stop to end the enumeration.
using TFolderCallback = std::function<bool(const TFileInfo& info, bool& stop)>;

// Enumerates folder with mask ("." and ".." skipped); the number of entries
// the callback accepted. Raises EFolderNotFound, EFolderAccessDenied or
// EFolderError.
std::int32_t EnumerateFolder(const WideString& folder, const WideString& mask, const TFolderCallback& callback);

// A file time (100-ns steps since 1601, UTC) as local time, with the
// current distance to UTC.
TSystemTime FileTimeToLocalTime(std::int64_t fileTime);

}  // namespace zm
