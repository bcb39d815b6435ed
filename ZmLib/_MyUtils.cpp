#include "ZmLib/_MyUtils.h"

#include <cstdint>
#include <string>

#include "Platform/PlatUtf8.h"
#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/Win32/winSysUtils.h"
#include "ZmLib/wpFileStream.h"
#include "ZmLib/wpUnicode.h"

namespace zm {

namespace {

bool IsSep(char16_t c) { return c == u'\\' || c == u'/'; }

std::size_t LastSep(const WideString& s) { return s.find_last_of(u"\\/"); }

}  // namespace

void SetTrailingBackslash(WideString& path, bool want) {
  if (path.empty()) return;
  bool has = path.back() == u'\\';
  if (want && !has) path += u'\\';
  else if (!want && has) path.pop_back();
}

WideString ResolveRelativePath(const WideString& base, const WideString& path) {
  if (!ExtractFileDrive(path).empty() || (!path.empty() && IsSep(path[0]))) return path;

  std::size_t at = 0, groups = 0;
  while (path.size() - at >= 3 && path[at] == u'.' && path[at + 1] == u'.' && IsSep(path[at + 2])) {
    at += 3;
    ++groups;
  }
  if (at < path.size() && IsSep(path[at])) ++at;

  WideString b = base;
  if (b.size() > 1 && IsSep(b.back())) b.pop_back();
  std::size_t keep = ExtractFileDrive(b).size();  // never climbed over
  for (std::size_t k = 0; k < groups; ++k) {
    std::size_t cut = LastSep(b);
    if (cut == WideString::npos || cut < keep) break;
    if (cut == 0) {  // the root of this system
      b.resize(1);
      break;
    }
    b.resize(cut);
  }

  WideString rest = path.substr(at);
  if (rest.empty()) return b;
  return CombinePath(b, rest);
}

WideString ExpandFromAppDir(const WideString& path) { return ResolveRelativePath(ProgramDir, path); }

WideString ExpandFromCodeDir(const WideString& path) { return ResolveRelativePath(plat::FromUtf8(CodeFolder()), path); }

WideString ExpandRelativeFileName(const WideString& path, bool useAppDir) {
  return ResolveRelativePath(useAppDir ? ProgramDir : GetCurrentDir(true), path);
}

bool NextPercentToken(const WideString& text, std::int32_t& position, WideString& token, bool caseFoldIt) {
  token.clear();
  std::size_t from = position < 1 ? 0 : static_cast<std::size_t>(position) - 1;
  std::size_t first = from < text.size() ? text.find(u'%', from) : WideString::npos;
  std::size_t second = first == WideString::npos ? WideString::npos : text.find(u'%', first + 1);
  if (second == WideString::npos) {
    position = static_cast<std::int32_t>(text.size()) + 1;
    return false;
  }
  token = text.substr(first, second - first + 1);
  if (caseFoldIt) token = CaseFold(token);
  position = static_cast<std::int32_t>(second) + 2;
  return true;
}

bool LoadDll(void*& handle, const WideString& fileName) {
  handle = WinLoadLibraryW(fileName);
  return handle != nullptr && reinterpret_cast<std::uintptr_t>(handle) != UINTPTR_MAX;
}

void LoadDllProc(void* module, std::string_view name, bool optional, void*& proc) {
  std::string text(name);
  proc = module && text.find('\0') == std::string::npos ? WinGetProcAddress(module, text.c_str()) : nullptr;
  if (!proc && !optional) ZM_FAIL("Load function " + text + " error");
}

}  // namespace zm
