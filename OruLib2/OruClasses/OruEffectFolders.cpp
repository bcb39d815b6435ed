#include "OruLib2/OruClasses/OruEffectFolders.h"

#include <string>

#include "OruLib2/OruClasses/OruFileAccess.h"
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

}  // namespace

WideString GetLocalAppDataFolder(bool withBackslash) {
  return Finish(GetSpecialFolder(plat::CSIDL_LOCAL_APPDATA), withBackslash);
}

WideString GetEffectsFolder(bool withBackslash) {
  return Below(GetLocalAppDataFolder(true), u"Tavrel\\Effects", withBackslash);
}

WideString GetStylesFolder(bool withBackslash) {
  return Below(GetLocalAppDataFolder(true), u"Tavrel\\Styles", withBackslash);
}

WideString ExpandEffectPath(const WideString& name) {
  for (const char16_t* token : {u"%effects%", u"%styles%"}) {
    const std::size_t length = std::char_traits<char16_t>::length(token);
    if (name.size() < length || !SameText(name.substr(0, length), token)) continue;
    WideString rest = name.substr(length);
    while (!rest.empty() && (rest[0] == u'\\' || rest[0] == u'/')) rest.erase(0, 1);
    // The built-in table read afresh, so the folders follow the environment.
    return ExpandPathVars(DefaultPathVars(), WideString(token) + u"\\" + rest);
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
