#pragma once
// The shell's special folders. Windows programs ask the shell for their
// application-data and system folders by CSIDL number; here each maps to
// its XDG counterpart, so every caller gets the same folder:
//   CSIDL_APPDATA        $XDG_CONFIG_HOME, else ~/.config
//   CSIDL_LOCAL_APPDATA  $XDG_DATA_HOME, else ~/.local/share
//   CSIDL_COMMON_APPDATA the first absolute folder of $XDG_DATA_DIRS, else
//                        /usr/local/share
//   CSIDL_WINDOWS        $SYSTEMROOT, else $WINDIR, else /
// Relative XDG values are invalid by the XDG rules and ignored.
#include <string>

namespace plat {

constexpr int CSIDL_APPDATA = 0x001A;
constexpr int CSIDL_LOCAL_APPDATA = 0x001C;
constexpr int CSIDL_COMMON_APPDATA = 0x0023;
constexpr int CSIDL_WINDOWS = 0x0024;
// Or'ed into the id: create the folder when it is missing.
constexpr int CSIDL_FLAG_CREATE = 0x8000;

// The folder of the id as a path of the file layer ("\" separators, no
// final "\" except for the root "\"). False, with path empty, for an id not
// listed above, when there is no folder (no home folder to put it below),
// or when asked to create it and that fails.
bool SHGetSpecialFolderPath(std::u16string& path, int csidl, bool create = false);

// The user's documents folder as a path of the file layer: $XDG_DOCUMENTS_DIR
// when it is an absolute folder that exists, else ~/Documents when that is a
// folder, else the home folder. False, with path empty, without a home.
bool DocumentsFolderPath(std::u16string& path);

}  // namespace plat
