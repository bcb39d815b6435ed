#pragma once
// Path and library helpers with which the video unit and the program's
// start-up find and load libraries, and the show document resolves paths.
//
// Paths are wide strings; "\" and "/" both separate folders, and "\" is
// written where one is added. A path with a drive ("C:", "\\server\share")
// or beginning with a separator (a path of this system, such as
// ProgramDir) is absolute.
#include <cstdint>
#include <string_view>

#include "ZmLib/zmTypes.h"

namespace zm {

// A non-empty path gets a final "\" when want is set and it has none, and
// loses its last character when want is clear and it ends with one.
void SetTrailingBackslash(WideString& path, bool want);

// Path resolved against base: leading "..\" steps climb from base, one "\"
// right after them is skipped, and the rest is joined with exactly one "\".
// Absolute paths come back unchanged; climbing stops at the drive or root.
WideString ResolveRelativePath(const WideString& base, const WideString& path);
// Against the program's folder.
WideString ExpandFromAppDir(const WideString& path);
// Against the folder the program loads its own libraries from (CodeFolder):
// where code is looked for, never the program's folder, which a
// self-playing show shares with whatever lies beside it.
WideString ExpandFromCodeDir(const WideString& path);
// Against the program's folder when useAppDir is set, else the current folder.
WideString ExpandRelativeFileName(const WideString& path, bool useAppDir);

// From position (1-based; below 1 counts as 1) finds the next "%" and the
// next "%" after it. When both exist, token is the text from the first to
// the second inclusive (case-folded when asked), position moves just past
// the second and the result is true. Otherwise token is empty, position is
// the text's length + 1 and the result is false.
bool NextPercentToken(const WideString& text, std::int32_t& position, WideString& token, bool caseFoldIt);

// Loads a library; false when it cannot be loaded.
bool LoadDll(void*& handle, const WideString& fileName);
// Looks up an exported function; nil when it is missing (or module is nil),
// which fails the assertion "Load function <name> error" unless optional.
void LoadDllProc(void* module, std::string_view name, bool optional, void*& proc);
template <class F>
void LoadDllProc(void* module, std::string_view name, bool optional, F*& proc) {
  void* p = nullptr;
  LoadDllProc(module, name, optional, p);
  proc = reinterpret_cast<F*>(p);
}

}  // namespace zm
