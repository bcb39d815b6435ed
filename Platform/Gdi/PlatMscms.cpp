#include "Platform/Gdi/PlatMscms.h"

#include <algorithm>
#include <mutex>

#include "Platform/Gdi/PlatGdi.h"
#include "Platform/PlatSystem.h"

namespace plat {

namespace {

constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;

struct TMscmsState {
  std::mutex M;
  std::u16string Folder;
  std::u16string Screen;
  std::u16string Standard;
};

TMscmsState& S() {
  static TMscmsState s;
  return s;
}

std::u16string Get(std::u16string TMscmsState::*field) {
  std::lock_guard<std::mutex> l(S().M);
  return S().*field;
}

void Set(std::u16string TMscmsState::*field, const std::u16string& v) {
  std::lock_guard<std::mutex> l(S().M);
  S().*field = v;
}

// Copies text and its terminator when it fits; Size is counted in units of
// Unit bytes.
BOOL Answer(const std::u16string& text, char16_t* buffer, DWORD* size, DWORD unit) {
  if (!size) return 0;
  const DWORD need = DWORD(text.size() + 1) * unit;
  if (!buffer || *size < need) {
    *size = need;
    SetLastOSError(int(ERROR_INSUFFICIENT_BUFFER));
    return 0;
  }
  std::copy(text.begin(), text.end(), buffer);
  buffer[text.size()] = 0;
  *size = need;
  return 1;
}

}  // namespace

BOOL GetColorDirectoryW(const char16_t* machine, char16_t* buffer, DWORD* size) {
  if (machine) return 0;
  std::u16string folder = Get(&TMscmsState::Folder);
  if (folder.empty()) folder = u"/usr/share/color/icc";
  return Answer(folder, buffer, size, 2);
}

BOOL GetStandardColorSpaceProfileW(const char16_t* machine, DWORD, char16_t* buffer, DWORD* size) {
  const std::u16string path = Get(&TMscmsState::Standard);
  if (machine || path.empty()) {
    SetLastOSError(int(ERROR_FILE_NOT_FOUND));
    return 0;
  }
  return Answer(path, buffer, size, 2);
}

BOOL GetICMProfileW(HDC hdc, DWORD* size, char16_t* buffer) {
  const std::u16string path = Get(&TMscmsState::Screen);
  if (path.empty() || GetDeviceCaps(hdc, PLANES) == 0) return 0;
  return Answer(path, buffer, size, 1);
}

void SetColorDirectoryForTests(const std::u16string& folder) { Set(&TMscmsState::Folder, folder); }
void SetScreenProfileForTests(const std::u16string& path) { Set(&TMscmsState::Screen, path); }
void SetStandardProfileForTests(const std::u16string& path) { Set(&TMscmsState::Standard, path); }

}  // namespace plat
