#include "ZmLib/Win32/winRegistry.h"

#include "Platform/PlatRegistry.h"
#include "Platform/PlatUtf8.h"
#include "ZmLib/Win32/winSysUtils.h"

namespace zm {

namespace {
constexpr std::int32_t kMoreData = 234;
constexpr std::uint32_t kAccess[3] = {0x20019, 0x20006, 0xF003F};

// The format the save asks for where it can choose one.
constexpr std::uint32_t kSaveKeyFormat = 1;

TRegApiGate* gGate = nullptr;
}  // namespace

TRegSaveKeyExWProc RegSaveKeyExWProc = nullptr;
TRegSaveKeyExAProc RegSaveKeyExAProc = nullptr;

// ============================================================================
// TRegApiGate
// ============================================================================

TRegApiGate::TRegApiGate() : versionClass_(GetWindowsVersion()) {}

bool TRegApiGate::EnumKey(HKEY key, std::uint32_t index, std::uint32_t& nameLen, WideString& name) {
  return Check(plat::RegEnumKeyExW(key, index, name, nameLen));
}

bool TRegApiGate::EnumKeyName(HKEY key, std::uint32_t index, WideString& name) {
  std::uint32_t len = 260;
  WideString n;
  if (EnumKey(key, index, len, n)) {
    name = n.substr(0, len);
    return true;
  }
  if (LastResult() != kMoreData) return false;
  // One retry: the reported length when the first buffer was shorter, else the largest name.
  std::uint32_t reported = len;
  len = reported > 260 ? reported + 1 : 16384;
  if (!EnumKey(key, index, len, n)) return false;
  name = n.substr(0, len);
  return true;
}

bool TRegApiGate::CreateKey(HKEY key, const WideString& subKey, HKEY& newKey, std::uint32_t access) {
  return Check(plat::RegCreateKeyExW(key, subKey, access, newKey));
}

bool TRegApiGate::DeleteKey(HKEY key, const WideString& subKey) { return Check(plat::RegDeleteKeyW(key, subKey)); }

bool TRegApiGate::OpenKey(HKEY key, const WideString& subKey, HKEY& newKey, std::uint32_t access) {
  return Check(plat::RegOpenKeyExW(key, subKey, access, newKey));
}

bool TRegApiGate::CloseKey(HKEY key) { return Check(plat::RegCloseKey(key)); }

bool TRegApiGate::SaveKey(HKEY key, const WideString& fileName) {
  if (VersionClass() >= 8 && RegSaveKeyExWProc)
    return Check(RegSaveKeyExWProc(key, fileName, nullptr, kSaveKeyFormat));
  return Check(plat::RegSaveKeyW(key, fileName));
}

bool TRegApiGate::EnumValue(HKEY key, std::uint32_t index, WideString& name, std::uint32_t& nameLen,
                            std::uint32_t& type, std::uint8_t* data, std::uint32_t& dataLen) {
  return Check(plat::RegEnumValueW(key, index, name, nameLen, type, data, dataLen));
}

bool TRegApiGate::DeleteValue(HKEY key, const WideString& name) { return Check(plat::RegDeleteValueW(key, name)); }

bool TRegApiGate::QueryValue(HKEY key, const WideString& name, std::uint32_t& dataLen, std::uint8_t* data,
                             std::uint32_t& type) {
  return Check(plat::RegQueryValueExW(key, name, type, data, dataLen));
}

bool TRegApiGate::SetValue(HKEY key, const WideString& name, std::uint32_t dataLen, const std::uint8_t* data,
                           std::uint32_t type) {
  return Check(plat::RegSetValueExW(key, name, type, data, dataLen));
}

bool TRegApiGate::SetValueEx(HKEY key, const WideString& name, std::uint32_t type, const std::uint8_t* data,
                             std::uint32_t dataLen) {
  return SetValue(key, name, dataLen, data, type);
}

// ============================================================================
// TRegApiGate9x
// ============================================================================

bool TRegApiGate9x::EnumKey(HKEY key, std::uint32_t index, std::uint32_t& nameLen, WideString& name) {
  std::uint32_t len = 255;
  WideString n;
  if (!Check(plat::RegEnumKeyExW(key, index, n, len))) {
    nameLen = len;
    return false;
  }
  name = plat::FromUtf8(plat::ToUtf8(n));
  nameLen = static_cast<std::uint32_t>(name.size());
  return true;
}

bool TRegApiGate9x::QueryValue(HKEY key, const WideString& name, std::uint32_t& dataLen, std::uint8_t* data,
                               std::uint32_t& type) {
  // Narrow string data: the bytes of the text and its terminator.
  std::uint32_t wideLen = 0;
  if (!Check(plat::RegQueryValueExW(key, name, type, nullptr, wideLen))) return false;
  std::vector<std::uint8_t> wide(wideLen);
  if (!Check(plat::RegQueryValueExW(key, name, type, wide.data(), wideLen))) return false;
  std::vector<std::uint8_t> out = wide;
  if (type == REG_SZ) {
    std::u16string s;
    for (std::size_t i = 0; i + 1 < wide.size(); i += 2) s += static_cast<char16_t>(wide[i] | (wide[i + 1] << 8));
    while (!s.empty() && s.back() == 0) s.pop_back();
    std::string a = plat::ToUtf8(s);
    out.assign(a.begin(), a.end());
    out.push_back(0);
  }
  std::uint32_t need = static_cast<std::uint32_t>(out.size());
  if (data && dataLen < need) {
    dataLen = need;
    return Check(kMoreData);
  }
  if (data) std::copy(out.begin(), out.end(), data);
  dataLen = need;
  return true;
}

bool TRegApiGate9x::SetValue(HKEY key, const WideString& name, std::uint32_t dataLen, const std::uint8_t* data,
                             std::uint32_t type) {
  if (type != REG_SZ || !data) return TRegApiGate::SetValue(key, name, dataLen, data, type);
  std::string a(reinterpret_cast<const char*>(data), dataLen);
  while (!a.empty() && a.back() == 0) a.pop_back();
  std::u16string s = plat::FromUtf8(a);
  std::vector<std::uint8_t> wide;
  for (char16_t c : s) {
    wide.push_back(static_cast<std::uint8_t>(c));
    wide.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  wide.push_back(0);
  wide.push_back(0);
  return TRegApiGate::SetValue(key, name, static_cast<std::uint32_t>(wide.size()), wide.data(), type);
}

bool TRegApiGate9x::SaveKey(HKEY key, const WideString& fileName) {
  const std::string name = plat::ToUtf8(fileName);
  if (VersionClass() >= 8 && RegSaveKeyExAProc) return Check(RegSaveKeyExAProc(key, name, nullptr, kSaveKeyFormat));
  return Check(plat::RegSaveKeyA(key, name));
}

TRegApiGate* RegGate() {
  if (!gGate) gGate = MakeRef<TRegApiGate>().Detach();
  return gGate;
}

// ============================================================================
// TRegistry
// ============================================================================

void TRegistry::Dispose() {
  CloseKey();
  TRefObject::Dispose();
}

bool TRegistry::CreateKey(HKEY root, const WideString& path) {
  HKEY k = 0;
  if (!RegGate()->CreateKey(root, path, k, kAccess[kFull])) return false;
  RegGate()->CloseKey(k);
  return true;
}

bool TRegistry::OpenKey(HKEY root, const WideString& path, int mode) {
  CloseKey();
  if (mode < kRead || mode > kFull) return false;
  HKEY k = 0;
  opened_ = RegGate()->OpenKey(root, path, k, kAccess[mode]);
  key_ = opened_ ? k : 0;
  return opened_;
}

void TRegistry::CloseKey() {
  if (opened_) RegGate()->CloseKey(key_);
  opened_ = false;
  key_ = 0;
}

std::int32_t TRegistry::GetDataSize(const WideString& name) {
  if (!opened_) return -1;
  std::uint32_t len = 0, type = 0;
  if (!RegGate()->QueryValue(key_, name, len, nullptr, type)) return -1;
  return static_cast<std::int32_t>(len);
}

bool TRegistry::ReadString(const WideString& name, WideString& s) {
  s.clear();
  if (!RegGate()->IsUnicode()) return ReadAnsiString(name, s);
  std::int32_t size = GetDataSize(name);
  if (size < 0) return false;
  std::vector<std::uint8_t> buf(static_cast<std::size_t>(size));
  std::uint32_t len = static_cast<std::uint32_t>(buf.size()), type = 0;
  if (!RegGate()->QueryValue(key_, name, len, buf.data(), type)) return false;
  for (std::size_t i = 0; i + 1 < len; i += 2) s += static_cast<char16_t>(buf[i] | (buf[i + 1] << 8));
  // Drop the terminator; a value stored without one keeps its last character.
  if (!s.empty() && s.back() == 0) s.pop_back();
  return true;
}

bool TRegistry::ReadAnsiString(const WideString& name, WideString& s) {
  s.clear();
  std::int32_t size = GetDataSize(name);
  if (size < 0) return false;
  std::vector<std::uint8_t> buf(static_cast<std::size_t>(size));
  std::uint32_t len = static_cast<std::uint32_t>(buf.size()), type = 0;
  if (!RegGate()->QueryValue(key_, name, len, buf.data(), type)) return false;
  std::string a(buf.begin(), buf.begin() + len);
  if (!a.empty() && a.back() == 0) a.pop_back();
  s = plat::FromUtf8(a);
  return true;
}

bool TRegistry::ReadBinary(const WideString& name, std::vector<std::uint8_t>& data) {
  data.clear();
  std::int32_t size = GetDataSize(name);
  if (size < 0) return false;
  data.resize(static_cast<std::size_t>(size));
  std::uint32_t len = static_cast<std::uint32_t>(size), type = 0;
  if (!RegGate()->QueryValue(key_, name, len, data.data(), type)) {
    data.clear();
    return false;
  }
  data.resize(len);
  return true;
}

bool TRegistry::WriteData(const WideString& name, std::uint32_t type, const std::uint8_t* data, std::uint32_t size) {
  if (!opened_) return false;
  return RegGate()->SetValue(key_, name, size, data, type);
}

bool TRegistry::WriteBinary(const WideString& name, const std::vector<std::uint8_t>& data) {
  return WriteData(name, REG_BINARY, data.data(), static_cast<std::uint32_t>(data.size()));
}

bool TRegistry::WriteString(const WideString& name, const WideString& s) {
  std::vector<std::uint8_t> bytes;
  if (RegGate()->IsUnicode()) {
    for (char16_t c : s) {
      bytes.push_back(static_cast<std::uint8_t>(c));
      bytes.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    bytes.push_back(0);
    bytes.push_back(0);
  } else {
    std::string a = plat::ToUtf8(s);
    bytes.assign(a.begin(), a.end());
    bytes.push_back(0);
  }
  return WriteData(name, REG_SZ, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
}

bool TRegistry::DeleteValue(const WideString& name) {
  if (!opened_) return false;
  return RegGate()->DeleteValue(key_, name);
}

bool TRegistry::ValueExists(const WideString& name) { return GetDataSize(name) >= 0; }

void InitWinRegistry() {
  RegSaveKeyExAProc = reinterpret_cast<TRegSaveKeyExAProc>(plat::GetAdvapi32ProcAddress("RegSaveKeyExA"));
  RegSaveKeyExWProc = reinterpret_cast<TRegSaveKeyExWProc>(plat::GetAdvapi32ProcAddress("RegSaveKeyExW"));
}

void FiniWinRegistry() {
  FreeAndNil(gGate);
  RegSaveKeyExAProc = nullptr;
  RegSaveKeyExWProc = nullptr;
}

}  // namespace zm
