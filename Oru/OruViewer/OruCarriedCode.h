#pragma once
// Whether a show carries code that a program here could load: a show that
// does starts nothing (its programs and documents are refused), since any
// argument could lead a program to that code, also in ways no check of the
// command line sees.
#include <cstddef>

#include "ZmLib/zmTypes.h"

namespace oru {

using zm::WideString;
class TOruShowLocator;

// More entries than this in the show's folder are not looked through: the
// show then counts as carrying code.
inline constexpr std::size_t kMaxLookedEntries = 100000;

struct TCarriedCode {
  // The file found (a path, or the container's path, "|" and the entry's
  // name); empty when none.
  WideString File;
  // Not all of the folder was looked at (File names the folder).
  bool TooManyFiles = false;
  bool Found() const { return !File.empty(); }
};

// The first file whose first bytes make it native code for this system
// (ELF: a program or a shared library) or a "#!" script: in the folder of
// ShowFile (the show's description or its container; its subfolders too,
// links to folders not followed), then among the entries of Show's
// container. The container file itself (a self-playing show is a program)
// does not count; Windows libraries (a show's plug-ins, its "ffmpegdlls")
// are no code here. A few bytes are read of each file, none of an entry
// whose stored data cannot be read.
TCarriedCode FindCarriedCode(const WideString& showFile, TOruShowLocator* show,
                             std::size_t maxEntries = kMaxLookedEntries);

}  // namespace oru
