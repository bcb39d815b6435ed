#pragma once
// Where effect and style definitions live besides the show: the program's
// "All\Effects" and "All\Themes" folders, and the user's local application
// data, "%LOCALAPPDATA%\Tavrel\Effects" and "%LOCALAPPDATA%\Tavrel\Styles".
// On this system the local application data folder is $XDG_DATA_HOME, else
// ~/.local/share. Paths use "\".
#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/zmIni.h"
#include "ZmLib/zmTypes.h"

namespace oru {

using zm::WideString;

// Empty when neither $XDG_DATA_HOME (an absolute path) nor $HOME is set.
WideString GetLocalAppDataFolder(bool withBackslash);
WideString GetEffectsFolder(bool withBackslash);  // ...\Tavrel\Effects
WideString GetStylesFolder(bool withBackslash);   // ...\Tavrel\Styles

// A name that begins with "%effects%" or "%styles%" (letter case ignored):
// the file in the program folder's "All\Effects" or "All\Themes" when it
// exists there, else in the local folder. Other names come back unchanged.
WideString ExpandEffectPath(const WideString& name);

// The definition file of that name (after ExpandEffectPath) as an ini
// document; nil when it is missing or cannot be read.
zm::TRef<zm::TIniFile> LoadEffectDefinition(const WideString& name);

}  // namespace oru
