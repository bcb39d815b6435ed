#pragma once
// Whether a show carries code that a program here could load: a show that
// does starts nothing (its programs and documents are refused), since any
// argument could lead a program to that code, also in ways no check of the
// command line sees.
#include <cstddef>
#include <cstdint>
#include <string>

#include "Platform/PlatArchivePeek.h"
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
  // The look's time ran out, or it was stopped (Reason says which).
  bool Cut = false;
  bool Found() const { return !File.empty(); }
};

// How long the whole look of a show may take; when it has taken that long,
// what it has not judged counts as code.
inline constexpr std::uint32_t kMaxLookMs = 2000;

struct TCarriedCodeLook {
  std::size_t MaxEntries = kMaxLookedEntries;
  // The look's time, and its stop; none: kMaxLookMs from its start.
  plat::TLookBudget* Budget = nullptr;
  // The player's own program, which a self-playing show begins with.
  std::string OwnProgram = "/proc/self/exe";
};

// The first file whose first bytes make it native code for this system
// (ELF: a program or a shared library) or a "#!" script, or compressed
// file or archive that holds one (plat::PeekIntoPacked), in the folder of
// ShowFile (the show's description or its container; its subfolders too,
// links to folders not followed), then among the entries of Show's
// container, each entry judged so too. The show's own description and
// container are looked at as every other file is, by every name that is
// the same file: a show that is, or begins with, a program or a script
// carries code; only a container that begins with the player's own
// program (a self-playing show) does not. The look fails closed: what it
// cannot judge counts (a folder, file or entry that cannot be read, a link
// to a folder outside the show or one that leads nowhere, a device, pipe or
// socket, packed data it cannot look into, what it has no time left for;
// plat::FindCodeInFolder). Windows libraries (a show's plug-ins, its
// "ffmpegdlls") are no code here. The first bytes are read of each file,
// more only of packed data, and each packed content is unpacked once
// whatever names it (entries at the same place of the container are one).
TCarriedCode FindCarriedCode(const WideString& showFile, TOruShowLocator* show,
                             std::size_t maxEntries = kMaxLookedEntries);
TCarriedCode FindCarriedCode(const WideString& showFile, TOruShowLocator* show, const TCarriedCodeLook& look);

}  // namespace oru
