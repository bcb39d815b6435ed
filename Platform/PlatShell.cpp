#include "Platform/PlatShell.h"

#include <filesystem>
#include <string_view>
#include <system_error>

#include "Platform/PlatFiles.h"
#include "Platform/PlatSystem.h"

namespace plat {

namespace {

// Trailing "/" dropped, the root kept.
std::string Trimmed(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

bool Absolute(const std::string& value) { return !value.empty() && value[0] == '/'; }

// An absolute folder from the variable, else belowHome under $HOME.
std::string XdgFolder(const char* variable, std::string_view belowHome) {
  std::string value;
  if (GetEnv(variable, value) && Absolute(value)) return Trimmed(value);
  if (!GetEnv("HOME", value) || value.empty()) return {};
  value = Trimmed(value);
  if (value != "/") value += '/';
  return value.append(belowHome);
}

std::string FirstDataDir() {
  std::string value;
  if (GetEnv("XDG_DATA_DIRS", value)) {
    std::size_t start = 0;
    while (start < value.size()) {
      std::size_t end = value.find(':', start);
      if (end == std::string::npos) end = value.size();
      std::string dir = value.substr(start, end - start);
      if (Absolute(dir)) return Trimmed(dir);
      start = end + 1;
    }
  }
  return "/usr/local/share";
}

std::string SystemRoot() {
  std::string value;
  for (const char* name : {"SYSTEMROOT", "WINDIR"})
    if (GetEnv(name, value) && !value.empty()) return Trimmed(value);
  return "/";
}

bool IsFolder(const std::string& path) {
  std::error_code ec;
  return !path.empty() && std::filesystem::is_directory(path, ec);
}

}  // namespace

bool DocumentsFolderPath(std::u16string& path) {
  path.clear();
  std::string native;
  if (GetEnv("XDG_DOCUMENTS_DIR", native) && Absolute(native) && IsFolder(native)) {
    path = FromNativePath(Trimmed(native));
    return true;
  }
  if (!GetEnv("HOME", native) || !Absolute(native)) return false;
  native = Trimmed(native);
  std::string documents = native == "/" ? std::string() : native;
  documents.append("/Documents");  // appended: g++ 12 warns falsely on the literal sum
  path = FromNativePath(IsFolder(documents) ? documents : native);
  return true;
}

bool SHGetSpecialFolderPath(std::u16string& path, int csidl, bool create) {
  path.clear();
  if (csidl & CSIDL_FLAG_CREATE) create = true;
  std::string native;
  switch (csidl & ~CSIDL_FLAG_CREATE) {
    case CSIDL_APPDATA: native = XdgFolder("XDG_CONFIG_HOME", ".config"); break;
    case CSIDL_LOCAL_APPDATA: native = XdgFolder("XDG_DATA_HOME", ".local/share"); break;
    case CSIDL_COMMON_APPDATA: native = FirstDataDir(); break;
    case CSIDL_WINDOWS: native = SystemRoot(); break;
    default: return false;
  }
  if (native.empty()) return false;
  if (create) {
    std::error_code ec;
    std::filesystem::create_directories(native, ec);
    if (!std::filesystem::is_directory(native, ec)) return false;
  }
  path = FromNativePath(native);
  return true;
}

}  // namespace plat
