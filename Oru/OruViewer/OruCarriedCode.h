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
  // name; inside packed data further "|" and the member's name); empty
  // when none.
  WideString File;
  // Why it counts when it is not code itself ("a folder that cannot be
  // read", "a link to a folder outside the show" ...); empty for code.
  WideString Reason;
  // Not all of the folder was looked at (File names the folder).
  bool TooManyFiles = false;
  bool Found() const { return !File.empty(); }
};

// The first file whose first bytes make it native code for this system
// (ELF: a program or a shared library) or a "#!" script, or compressed
// file or archive that holds one (plat::PeekIntoPacked), in the folder of
// ShowFile (the show's description or its container; its subfolders too,
// links to folders not followed), then among the entries of Show's
// container, each entry judged so too. The look fails closed: what it
// cannot judge counts (a folder, file or entry that cannot be read, a link
// to a folder outside the show or one that leads nowhere, a device, pipe or
// socket, packed data it cannot look into; plat::FindCodeInFolder). The
// container file itself (a self-playing show is a program) does not count;
// Windows libraries (a show's plug-ins, its "ffmpegdlls") are no code here.
// The first bytes are read of each file, more only of packed data.
TCarriedCode FindCarriedCode(const WideString& showFile, TOruShowLocator* show,
                             std::size_t maxEntries = kMaxLookedEntries);

}  // namespace oru
