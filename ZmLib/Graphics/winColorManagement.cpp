#include "ZmLib/Graphics/winColorManagement.h"

#include <mutex>

#include "Platform/Gdi/PlatGdi.h"
#include "Platform/Gdi/PlatMscms.h"
#include "ZmLib/Graphics/zmColorProfiles.h"
#include "ZmLib/wpFileStream.h"

namespace zm {

namespace {

struct TMscms {
  plat::BOOL (*GetColorDirectoryW)(const char16_t*, char16_t*, plat::DWORD*) = nullptr;
  plat::BOOL (*GetStandardColorSpaceProfileW)(const char16_t*, plat::DWORD, char16_t*, plat::DWORD*) = nullptr;
};

struct TState {
  std::mutex M;
  bool Tried = false;   // the library was looked up
  bool Missing = false; // tests: pretend it is not there
  TMscms Lib;
  bool Asked = false;  // the folder below is known
  WideString Directory;
};

TState& S() {
  static TState s;
  return s;
}

// The library, looked up once.
TMscms Library() {
  std::lock_guard<std::mutex> l(S().M);
  if (!S().Tried) {
    S().Tried = true;
    if (!S().Missing) {
      S().Lib.GetColorDirectoryW = &plat::GetColorDirectoryW;
      S().Lib.GetStandardColorSpaceProfileW = &plat::GetStandardColorSpaceProfileW;
    }
  }
  return S().Lib;
}

WideString FromBuffer(const std::vector<char16_t>& b) {
  WideString s(b.begin(), b.end());
  if (auto z = s.find(u'\0'); z != WideString::npos) s.resize(z);
  return s;
}

}  // namespace

std::vector<std::uint8_t> LoadFileToBytes(const WideString& fileName) {
  try {
    TRef<TStream> s = ReadFile ? ReadFile(fileName) : nullptr;
    if (!s) return {};
    const std::int64_t size = s->GetSize() - s->GetPosition();
    if (size <= 0 || size > kMaxProfileFileSize) return {};
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    if (s->Read(TReadBuffer(bytes), std::int32_t(size), 0) != std::int32_t(size)) return {};
    return bytes;
  } catch (const std::exception&) {
    return {};
  }
}

WideString GetColorDirectory() {
  {
    std::lock_guard<std::mutex> l(S().M);
    if (S().Asked) return S().Directory;
  }
  WideString dir;
  const TMscms lib = Library();
  if (lib.GetColorDirectoryW) {
    plat::DWORD size = 0;
    lib.GetColorDirectoryW(nullptr, nullptr, &size);
    if (size >= 2 && size < 65536) {
      std::vector<char16_t> buffer(size / 2 + 1);
      plat::DWORD bytes = plat::DWORD(buffer.size() * 2);
      if (lib.GetColorDirectoryW(nullptr, buffer.data(), &bytes)) dir = FromBuffer(buffer);
    }
  }
  if (!dir.empty() && dir.back() != u'\\') dir += u'\\';
  std::lock_guard<std::mutex> l(S().M);
  S().Directory = dir;
  S().Asked = true;
  return dir;
}

bool ResolveProfilePath(WideString& path) {
  if (path.empty()) return false;
  if (FileExists(path)) return true;
  const WideString dir = GetColorDirectory();
  if (dir.empty()) return false;
  const WideString joined = dir + path;
  if (!FileExists(joined)) return false;
  path = joined;
  return true;
}

bool GetStandardColorSpaceProfile(const char16_t* machine, std::uint32_t colorSpace, char16_t* buffer,
                                  std::uint32_t& size) {
  const TMscms lib = Library();
  if (!lib.GetStandardColorSpaceProfileW) return false;
  plat::DWORD s = size;
  const bool ok = lib.GetStandardColorSpaceProfileW(machine, colorSpace, buffer, &s) != 0;
  size = s;
  return ok;
}

bool GetColorSpaceProfilePath(std::uint32_t colorSpace, WideString& path) {
  path.clear();
  if (colorSpace == 0) {
    plat::HDC screen = plat::GetDC(nullptr);
    plat::DWORD length = 0;
    plat::GetICMProfileW(screen, &length, nullptr);
    if (length > 1 && length < 32768) {
      std::vector<char16_t> buffer(length);
      if (plat::GetICMProfileW(screen, &length, buffer.data())) {
        WideString p = FromBuffer(buffer);
        if (ResolveProfilePath(p)) path = p;
      }
    }
    plat::ReleaseDC(nullptr, screen);
    if (!path.empty()) return true;
  }
  std::uint32_t size = 0;
  GetStandardColorSpaceProfile(nullptr, colorSpace, nullptr, size);
  if (size >= 4 && size < 65536) {
    std::vector<char16_t> buffer((size - 1) / 2 + 1);
    std::uint32_t bytes = size;
    if (GetStandardColorSpaceProfile(nullptr, colorSpace, buffer.data(), bytes)) {
      buffer.resize((size - 1) / 2);
      WideString p = FromBuffer(buffer);
      if (ResolveProfilePath(p)) {
        path = p;
        return true;
      }
    }
  }
  return false;
}

void SetColorLibraryMissingForTests(bool missing) {
  std::lock_guard<std::mutex> l(S().M);
  S().Missing = missing;
  S().Tried = false;
  S().Lib = TMscms{};
  S().Asked = false;
  S().Directory.clear();
}

void InitColorManagement() { MonitorProfilePathHook = &GetColorSpaceProfilePath; }

void FiniColorManagement() {
  MonitorProfilePathHook = nullptr;
  std::lock_guard<std::mutex> l(S().M);
  S().Tried = false;
  S().Lib = TMscms{};
  S().Asked = false;
  S().Directory.clear();
}

}  // namespace zm
