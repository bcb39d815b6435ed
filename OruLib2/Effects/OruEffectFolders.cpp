#include "OruLib2/Effects/OruEffectFolders.h"

#include <string>

#include "Platform/PlatFiles.h"
#include "Platform/PlatSystem.h"
#include "ZmLib/wpFileStream.h"
#include "ZmLib/wpUnicode.h"

namespace oru {

using namespace zm;

namespace {

WideString Finish(const WideString& dir, bool withBackslash) {
  if (dir.empty()) return dir;
  return withBackslash ? IncludeTrailingBackslash(dir) : ExcludeTrailingBackslash(dir);
}

WideString Below(const WideString& base, const char16_t* rest, bool withBackslash) {
  if (base.empty()) return {};
  return Finish(base + rest, withBackslash);
}

struct TPathVar {
  const char16_t* Name;
  const char16_t* ProgramFolder;  // inside the program's folder
  WideString (*LocalFolder)(bool);
};

const TPathVar kPathVars[] = {
    {u"%effects%", u"All\\Effects\\", &GetEffectsFolder},
    {u"%styles%", u"All\\Themes\\", &GetStylesFolder},
};

}  // namespace

WideString GetLocalAppDataFolder(bool withBackslash) {
  std::string value;
  // Relative values are invalid by the XDG rules and ignored.
  if (plat::GetEnv("XDG_DATA_HOME", value) && !value.empty() && value[0] == '/')
    return Finish(plat::FromNativePath(value), withBackslash);
  if (plat::GetEnv("HOME", value) && !value.empty())
    return Finish(IncludeTrailingBackslash(plat::FromNativePath(value)) + u".local\\share", withBackslash);
  return {};
}

WideString GetEffectsFolder(bool withBackslash) {
  return Below(GetLocalAppDataFolder(true), u"Tavrel\\Effects", withBackslash);
}

WideString GetStylesFolder(bool withBackslash) {
  return Below(GetLocalAppDataFolder(true), u"Tavrel\\Styles", withBackslash);
}

WideString ExpandEffectPath(const WideString& name) {
  for (const TPathVar& var : kPathVars) {
    const WideString token = var.Name;
    if (name.size() < token.size() || !SameText(name.substr(0, token.size()), token)) continue;
    WideString rest = name.substr(token.size());
    while (!rest.empty() && (rest[0] == u'\\' || rest[0] == u'/')) rest.erase(0, 1);
    WideString inProgram = ProgramDir.empty() ? WideString() : ProgramDir + var.ProgramFolder + rest;
    if (!inProgram.empty() && FileExists(inProgram)) return inProgram;
    WideString local = var.LocalFolder(true);
    return local.empty() ? inProgram : local + rest;
  }
  return name;
}

TRef<TIniFile> LoadEffectDefinition(const WideString& name) {
  WideString path = ExpandEffectPath(name);
  if (path.empty() || !FileExists(path)) return nullptr;
  TRef<TIniFile> ini = MakeRef<TIniFile>();
  if (!ini->LoadFromFile(path)) return nullptr;
  return ini;
}

}  // namespace oru
