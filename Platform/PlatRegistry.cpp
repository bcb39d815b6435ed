#include "Platform/PlatRegistry.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "Platform/PlatFiles.h"
#include "Platform/PlatSystem.h"
#include "Platform/PlatText.h"
#include "Platform/PlatUtf8.h"

namespace plat {

namespace {

std::u16string Fold(const std::u16string& s) {
  std::u16string r = s;
  for (char16_t& c : r)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
  return r;
}

struct TValue {
  std::u16string Name;  // as written
  std::uint32_t Type = REG_NONE;
  std::vector<std::uint8_t> Data;
};

struct TKey {
  std::u16string Name;
  bool Foreign = false;
  std::map<std::u16string, std::unique_ptr<TKey>> Keys;  // by folded name
  std::map<std::u16string, TValue> Values;               // by folded name
};

struct THandle {
  TKey* Key;
  std::uint32_t Access;
};

struct TStore {
  std::mutex Lock;
  TKey Roots[6];
  std::map<HKEY, THandle> Open;
  HKEY Next = 0x1000;
};

TStore& Store() {
  static TStore s;
  return s;
}

TKey* Resolve(TStore& s, HKEY key, std::uint32_t* access) {
  if (key >= HKEY_CLASSES_ROOT && key <= HKEY_CURRENT_CONFIG) {
    if (access) *access = KEY_ALL_ACCESS;
    return &s.Roots[key - HKEY_CLASSES_ROOT];
  }
  auto it = s.Open.find(key);
  if (it == s.Open.end()) return nullptr;
  if (access) *access = it->second.Access;
  return it->second.Key;
}

// Key paths are split at backslashes only: a slash is part of a key's name.
std::vector<std::u16string> SplitPath(const std::u16string& path) {
  return SplitNonEmpty(path, [](char16_t c) { return c == u'\\'; });
}

// The existing key the parts lead to from k; nullptr when one is missing.
TKey* FindKey(TKey* k, std::span<const std::u16string> parts) {
  for (const std::u16string& part : parts) {
    auto it = k->Keys.find(Fold(part));
    if (it == k->Keys.end()) return nullptr;
    k = it->second.get();
  }
  return k;
}

HKEY NewHandle(TStore& s, TKey* k, std::uint32_t access) {
  HKEY h = s.Next++;
  s.Open[h] = THandle{k, access};
  return h;
}

bool Wants(std::uint32_t access, std::uint32_t bits) { return (access & bits) == bits; }

// A handle to k, unless it asks to change a key this process does not own.
LSTATUS OpenHandle(TStore& s, TKey* k, std::uint32_t access, HKEY& result) {
  if (k->Foreign && (access & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY))) return ERROR_ACCESS_DENIED;
  result = NewHandle(s, k, access);
  return ERROR_SUCCESS;
}

// The key behind an open handle that grants the access bits; status says why not.
TKey* ResolveFor(TStore& s, HKEY key, std::uint32_t bits, LSTATUS& status) {
  std::uint32_t access = 0;
  TKey* k = Resolve(s, key, &access);
  status = !k ? ERROR_INVALID_HANDLE : !Wants(access, bits) ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
  return status == ERROR_SUCCESS ? k : nullptr;
}

// An enumerated name, when nameLen leaves room for it and its terminator.
LSTATUS CopyName(const std::u16string& n, std::u16string& name, std::uint32_t& nameLen) {
  if (n.size() + 1 > nameLen) {
    nameLen = static_cast<std::uint32_t>(n.size() + 1);
    return ERROR_MORE_DATA;
  }
  name = n;
  nameLen = static_cast<std::uint32_t>(n.size());
  return ERROR_SUCCESS;
}

// A value's type and data; without a buffer only the size is given.
LSTATUS CopyValue(const TValue& v, std::uint32_t& type, std::uint8_t* data, std::uint32_t& dataLen) {
  type = v.Type;
  std::uint32_t need = static_cast<std::uint32_t>(v.Data.size());
  if (data && dataLen < need) {
    dataLen = need;
    return ERROR_MORE_DATA;
  }
  if (data && need) std::memcpy(data, v.Data.data(), need);
  dataLen = need;
  return ERROR_SUCCESS;
}

// ---- Saved keys ----------------------------------------------------------------
// A saved key: the magic, the format number, then the key: its name, its
// values (name, type, data) and its sub-keys, each the same way. Numbers are
// 32-bit little-endian, names counted UTF-16 units. The stand-in's two
// formats share this layout.

constexpr char kHiveMagic[8] = {'Z', 'M', 'R', 'E', 'G', 'K', 'E', 'Y'};
constexpr std::int64_t kMaxHiveBytes = std::int64_t(256) << 20;
constexpr int kMaxKeyDepth = 512;  // the system's own limit of nested keys

void PutHiveU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void PutHiveName(std::vector<std::uint8_t>& out, const std::u16string& s) {
  PutHiveU32(out, static_cast<std::uint32_t>(s.size()));
  for (char16_t c : s) {
    out.push_back(static_cast<std::uint8_t>(c));
    out.push_back(static_cast<std::uint8_t>(c >> 8));
  }
}

bool PutHiveKey(std::vector<std::uint8_t>& out, const TKey& k, int depth) {
  if (depth > kMaxKeyDepth) return false;
  PutHiveName(out, k.Name);
  PutHiveU32(out, static_cast<std::uint32_t>(k.Values.size()));
  for (const auto& [folded, v] : k.Values) {
    PutHiveName(out, v.Name);
    PutHiveU32(out, v.Type);
    PutHiveU32(out, static_cast<std::uint32_t>(v.Data.size()));
    out.insert(out.end(), v.Data.begin(), v.Data.end());
  }
  PutHiveU32(out, static_cast<std::uint32_t>(k.Keys.size()));
  for (const auto& [folded, child] : k.Keys)
    if (!PutHiveKey(out, *child, depth + 1)) return false;
  return true;
}

struct THiveReader {
  std::span<const std::uint8_t> Data;
  std::size_t Pos = 0;

  std::size_t Left() const { return Data.size() - Pos; }
  bool U32(std::uint32_t& v) {
    if (Left() < 4) return false;
    v = 0;
    for (int i = 0; i < 4; ++i) v |= std::uint32_t(Data[Pos + std::size_t(i)]) << (8 * i);
    Pos += 4;
    return true;
  }
  bool Name(std::u16string& s) {
    std::uint32_t n;
    if (!U32(n) || n > Left() / 2) return false;
    s.resize(n);
    for (std::uint32_t i = 0; i < n; ++i, Pos += 2) s[i] = static_cast<char16_t>(Data[Pos] | (Data[Pos + 1] << 8));
    return true;
  }
  bool Bytes(std::vector<std::uint8_t>& b) {
    std::uint32_t n;
    if (!U32(n) || n > Left()) return false;
    b.assign(Data.begin() + std::ptrdiff_t(Pos), Data.begin() + std::ptrdiff_t(Pos + n));
    Pos += n;
    return true;
  }
};

// Nothing is reserved from a count: every entry must first be read whole.
bool ReadHiveKey(THiveReader& r, TKey& k, int depth) {
  if (depth > kMaxKeyDepth || !r.Name(k.Name)) return false;
  std::uint32_t n;
  if (!r.U32(n)) return false;
  for (std::uint32_t i = 0; i < n; ++i) {
    TValue v;
    if (!r.Name(v.Name) || !r.U32(v.Type) || !r.Bytes(v.Data)) return false;
    std::u16string folded = Fold(v.Name);
    if (!k.Values.emplace(std::move(folded), std::move(v)).second) return false;  // a name twice
  }
  if (!r.U32(n)) return false;
  for (std::uint32_t i = 0; i < n; ++i) {
    auto child = std::make_unique<TKey>();
    if (!ReadHiveKey(r, *child, depth + 1)) return false;
    // A sub-key's name is one part of a path.
    if (child->Name.empty() || child->Name.find(u'\\') != std::u16string::npos) return false;
    std::u16string folded = Fold(child->Name);
    if (!k.Keys.emplace(std::move(folded), std::move(child)).second) return false;
  }
  return true;
}

LSTATUS HiveFileError() {
  const int code = WindowsErrorCode(LastOSError());
  return code == kErrorSuccess ? kErrorGenFailure : code;
}

LSTATUS SaveKeyInFormat(HKEY key, const std::u16string& fileName, std::uint32_t format) {
  std::vector<std::uint8_t> bytes(std::begin(kHiveMagic), std::end(kHiveMagic));
  PutHiveU32(bytes, format);
  {
    TStore& s = Store();
    std::lock_guard<std::mutex> g(s.Lock);
    TKey* k = Resolve(s, key, nullptr);
    if (!k) return ERROR_INVALID_HANDLE;
    if (!PutHiveKey(bytes, *k, 0)) return ERROR_INVALID_PARAMETER;
  }
  TFileHandle h = OpenFile(fileName, kGenericWrite, kCreateNew);
  if (h == kInvalidFileHandle) return HiveFileError();
  LSTATUS result = ERROR_SUCCESS;
  for (std::size_t at = 0; at < bytes.size();) {
    const auto chunk = static_cast<std::uint32_t>(std::min<std::size_t>(bytes.size() - at, 1u << 20));
    std::uint32_t done = 0;
    if (!WriteFile(h, bytes.data() + at, chunk, done) || done == 0) {
      result = HiveFileError();
      break;
    }
    at += done;
  }
  if (!CloseFile(h) && result == ERROR_SUCCESS) result = HiveFileError();
  if (result != ERROR_SUCCESS) DeleteFile(fileName);  // never half a key
  return result;
}

}  // namespace

LSTATUS RegCreateKeyExW(HKEY key, const std::u16string& subKey, std::uint32_t access, HKEY& result) {
  TStore& s = Store();
  std::lock_guard<std::mutex> g(s.Lock);
  result = 0;
  std::uint32_t parentAccess = 0;
  TKey* k = Resolve(s, key, &parentAccess);
  if (!k) return ERROR_INVALID_HANDLE;
  for (const std::u16string& part : SplitPath(subKey)) {
    auto& slot = k->Keys[Fold(part)];
    if (!slot) {
      if (k->Foreign) return ERROR_ACCESS_DENIED;
      slot = std::make_unique<TKey>();
      slot->Name = part;
    }
    k = slot.get();
  }
  return OpenHandle(s, k, access, result);
}

LSTATUS RegOpenKeyExW(HKEY key, const std::u16string& subKey, std::uint32_t access, HKEY& result) {
  TStore& s = Store();
  std::lock_guard<std::mutex> g(s.Lock);
  result = 0;
  TKey* k = Resolve(s, key, nullptr);
  if (!k) return ERROR_INVALID_HANDLE;
  k = FindKey(k, SplitPath(subKey));
  if (!k) return ERROR_FILE_NOT_FOUND;
  return OpenHandle(s, k, access, result);
}

LSTATUS RegCloseKey(HKEY key) {
  TStore& s = Store();
  std::lock_guard<std::mutex> g(s.Lock);
  if (key >= HKEY_CLASSES_ROOT && key <= HKEY_CURRENT_CONFIG) return ERROR_SUCCESS;
  return s.Open.erase(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LSTATUS RegDeleteKeyW(HKEY key, const std::u16string& subKey) {
  TStore& s = Store();
  std::lock_guard<std::mutex> g(s.Lock);
  TKey* parent = Resolve(s, key, nullptr);
  if (!parent) return ERROR_INVALID_HANDLE;
  std::vector<std::u16string> parts = SplitPath(subKey);
  if (parts.empty()) return ERROR_INVALID_PARAMETER;
  parent = FindKey(parent, std::span(parts).first(parts.size() - 1));
  if (!parent) return ERROR_FILE_NOT_FOUND;
  auto it = parent->Keys.find(Fold(parts.back()));
  if (it == parent->Keys.end()) return ERROR_FILE_NOT_FOUND;
  if (parent->Foreign || it->second->Foreign || !it->second->Keys.empty()) return ERROR_ACCESS_DENIED;
  TKey* dying = it->second.get();
  for (auto h = s.Open.begin(); h != s.Open.end();) {
    if (h->second.Key == dying) h = s.Open.erase(h);  // handles of a deleted key go stale
    else ++h;
  }
  parent->Keys.erase(it);
  return ERROR_SUCCESS;
}

LSTATUS RegEnumKeyExW(HKEY key, std::uint32_t index, std::u16string& name, std::uint32_t& nameLen) {
  TStore& s = Store();
  std::lock_guard<std::mutex> g(s.Lock);
  TKey* k = Resolve(s, key, nullptr);
  if (!k) return ERROR_INVALID_HANDLE;
  if (index >= k->Keys.size()) return ERROR_NO_MORE_ITEMS;
  auto it = k->Keys.begin();
  std::advance(it, index);
  return CopyName(it->second->Name, name, nameLen);
}

LSTATUS RegEnumValueW(HKEY key, std::uint32_t index, std::u16string& name, std::uint32_t& nameLen,
                      std::uint32_t& type, std::uint8_t* data, std::uint32_t& dataLen) {
  TStore& s = Store();
  std::lock_guard<std::mutex> g(s.Lock);
  LSTATUS status;
  TKey* k = ResolveFor(s, key, KEY_QUERY_VALUE, status);
  if (!k) return status;
  if (index >= k->Values.size()) return ERROR_NO_MORE_ITEMS;
  auto it = k->Values.begin();
  std::advance(it, index);
  const TValue& v = it->second;
  if (LSTATUS r = CopyName(v.Name, name, nameLen); r != ERROR_SUCCESS) return r;
  return CopyValue(v, type, data, dataLen);
}

LSTATUS RegQueryValueExW(HKEY key, const std::u16string& name, std::uint32_t& type, std::uint8_t* data,
                         std::uint32_t& dataLen) {
  TStore& s = Store();
  std::lock_guard<std::mutex> g(s.Lock);
  LSTATUS status;
  TKey* k = ResolveFor(s, key, KEY_QUERY_VALUE, status);
  if (!k) return status;
  auto it = k->Values.find(Fold(name));
  if (it == k->Values.end()) return ERROR_FILE_NOT_FOUND;
  return CopyValue(it->second, type, data, dataLen);
}

LSTATUS RegSetValueExW(HKEY key, const std::u16string& name, std::uint32_t type, const std::uint8_t* data,
                       std::uint32_t dataLen) {
  TStore& s = Store();
  std::lock_guard<std::mutex> g(s.Lock);
  LSTATUS status;
  TKey* k = ResolveFor(s, key, KEY_SET_VALUE, status);
  if (!k) return status;
  if (k->Foreign) return ERROR_ACCESS_DENIED;
  if (!data && dataLen) return ERROR_INVALID_PARAMETER;
  TValue v;
  v.Name = name;
  v.Type = type;
  if (dataLen) v.Data.assign(data, data + dataLen);
  k->Values[Fold(name)] = std::move(v);
  return ERROR_SUCCESS;
}

LSTATUS RegDeleteValueW(HKEY key, const std::u16string& name) {
  TStore& s = Store();
  std::lock_guard<std::mutex> g(s.Lock);
  LSTATUS status;
  TKey* k = ResolveFor(s, key, KEY_SET_VALUE, status);
  if (!k) return status;
  if (k->Foreign) return ERROR_ACCESS_DENIED;
  return k->Values.erase(Fold(name)) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LSTATUS RegSaveKeyW(HKEY key, const std::u16string& fileName) {
  return SaveKeyInFormat(key, fileName, REG_STANDARD_FORMAT);
}

LSTATUS RegSaveKeyA(HKEY key, const std::string& fileName) { return RegSaveKeyW(key, FromUtf8(fileName)); }

LSTATUS RegSaveKeyExW(HKEY key, const std::u16string& fileName, const void*, std::uint32_t flags) {
  if (flags != REG_STANDARD_FORMAT && flags != REG_LATEST_FORMAT) return ERROR_INVALID_PARAMETER;
  return SaveKeyInFormat(key, fileName, flags);
}

LSTATUS RegSaveKeyExA(HKEY key, const std::string& fileName, const void* security, std::uint32_t flags) {
  return RegSaveKeyExW(key, FromUtf8(fileName), security, flags);
}

LSTATUS RegLoadKeyW(HKEY key, const std::u16string& subKey, const std::u16string& fileName) {
  if (key != HKEY_USERS && key != HKEY_LOCAL_MACHINE) return ERROR_INVALID_PARAMETER;
  if (subKey.empty() || subKey.find(u'\\') != std::u16string::npos) return ERROR_INVALID_PARAMETER;
  TFileHandle h = OpenFile(fileName, kGenericRead, kOpenExisting);
  if (h == kInvalidFileHandle) return HiveFileError();
  const std::int64_t size = FileSize(h);
  std::vector<std::uint8_t> bytes;
  LSTATUS result = size < 0 ? HiveFileError() : size > kMaxHiveBytes ? ERROR_BADDB : ERROR_SUCCESS;
  if (result == ERROR_SUCCESS) bytes.resize(static_cast<std::size_t>(size));
  for (std::size_t at = 0; result == ERROR_SUCCESS && at < bytes.size();) {
    std::uint32_t done = 0;
    if (!ReadFile(h, bytes.data() + at, static_cast<std::uint32_t>(bytes.size() - at), done)) result = HiveFileError();
    else if (done == 0) bytes.resize(at);  // the file got shorter
    at += done;
  }
  CloseFile(h);
  if (result != ERROR_SUCCESS) return result;

  if (bytes.size() < sizeof kHiveMagic || std::memcmp(bytes.data(), kHiveMagic, sizeof kHiveMagic) != 0)
    return ERROR_BADDB;
  THiveReader r{bytes, sizeof kHiveMagic};
  std::uint32_t format = 0;
  if (!r.U32(format) || (format != REG_STANDARD_FORMAT && format != REG_LATEST_FORMAT)) return ERROR_BADDB;
  auto tree = std::make_unique<TKey>();
  if (!ReadHiveKey(r, *tree, 0) || r.Left() != 0) return ERROR_BADDB;
  tree->Name = subKey;

  TStore& s = Store();
  std::lock_guard<std::mutex> g(s.Lock);
  TKey* root = Resolve(s, key, nullptr);
  std::u16string folded = Fold(subKey);
  if (root->Keys.count(folded)) return ERROR_ALREADY_EXISTS;
  root->Keys.emplace(std::move(folded), std::move(tree));
  return ERROR_SUCCESS;
}

void* GetAdvapi32ProcAddress(const char* name) {
  if (!name) return nullptr;
  if (std::strcmp(name, "RegSaveKeyExW") == 0) return reinterpret_cast<void*>(&RegSaveKeyExW);
  if (std::strcmp(name, "RegSaveKeyExA") == 0) return reinterpret_cast<void*>(&RegSaveKeyExA);
  return nullptr;
}

void RegClearAll() {
  TStore& s = Store();
  std::lock_guard<std::mutex> g(s.Lock);
  for (TKey& r : s.Roots) {
    r.Keys.clear();
    r.Values.clear();
  }
  s.Open.clear();
}

LSTATUS RegMarkForeign(HKEY root, const std::u16string& subKey) {
  TStore& s = Store();
  std::lock_guard<std::mutex> g(s.Lock);
  TKey* k = Resolve(s, root, nullptr);
  if (!k) return ERROR_INVALID_HANDLE;
  k = FindKey(k, SplitPath(subKey));
  if (!k) return ERROR_FILE_NOT_FOUND;
  k->Foreign = true;
  return ERROR_SUCCESS;
}

}  // namespace plat
