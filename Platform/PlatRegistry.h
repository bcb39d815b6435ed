#pragma once
// The registry stand-in: an in-memory key tree with the Win32 calls, result
// codes and value types the callers rely on. It is empty at run time (the
// player keeps no settings); tests fill it.
#include <cstdint>
#include <string>

namespace plat {

using HKEY = std::uintptr_t;
using LSTATUS = std::int32_t;

constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000u;
constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;
constexpr HKEY HKEY_USERS = 0x80000003u;
constexpr HKEY HKEY_CURRENT_CONFIG = 0x80000005u;

constexpr LSTATUS ERROR_SUCCESS = 0;
constexpr LSTATUS ERROR_FILE_NOT_FOUND = 2;
constexpr LSTATUS ERROR_ACCESS_DENIED = 5;
constexpr LSTATUS ERROR_INVALID_HANDLE = 6;
constexpr LSTATUS ERROR_NOT_SUPPORTED = 50;
constexpr LSTATUS ERROR_INVALID_PARAMETER = 87;
constexpr LSTATUS ERROR_MORE_DATA = 234;
constexpr LSTATUS ERROR_NO_MORE_ITEMS = 259;

constexpr std::uint32_t REG_NONE = 0;
constexpr std::uint32_t REG_SZ = 1;
constexpr std::uint32_t REG_BINARY = 3;
constexpr std::uint32_t REG_DWORD = 4;

constexpr std::uint32_t KEY_QUERY_VALUE = 0x0001;
constexpr std::uint32_t KEY_SET_VALUE = 0x0002;
constexpr std::uint32_t KEY_CREATE_SUB_KEY = 0x0004;
constexpr std::uint32_t KEY_READ = 0x20019;
constexpr std::uint32_t KEY_WRITE = 0x20006;
constexpr std::uint32_t KEY_ALL_ACCESS = 0xF003F;

// Key names ignore letter case; a path separates keys with "\".
LSTATUS RegCreateKeyExW(HKEY key, const std::u16string& subKey, std::uint32_t access, HKEY& result);
LSTATUS RegOpenKeyExW(HKEY key, const std::u16string& subKey, std::uint32_t access, HKEY& result);
LSTATUS RegCloseKey(HKEY key);
LSTATUS RegDeleteKeyW(HKEY key, const std::u16string& subKey);  // only keys without sub-keys
// Name receives at most nameLen characters (without terminator); on
// ERROR_MORE_DATA nameLen holds the length needed.
LSTATUS RegEnumKeyExW(HKEY key, std::uint32_t index, std::u16string& name, std::uint32_t& nameLen);
LSTATUS RegEnumValueW(HKEY key, std::uint32_t index, std::u16string& name, std::uint32_t& nameLen,
                      std::uint32_t& type, std::uint8_t* data, std::uint32_t& dataLen);
// data may be null to ask for the size; on ERROR_MORE_DATA dataLen holds it.
LSTATUS RegQueryValueExW(HKEY key, const std::u16string& name, std::uint32_t& type, std::uint8_t* data,
                         std::uint32_t& dataLen);
LSTATUS RegSetValueExW(HKEY key, const std::u16string& name, std::uint32_t type, const std::uint8_t* data,
                       std::uint32_t dataLen);
LSTATUS RegDeleteValueW(HKEY key, const std::u16string& name);
LSTATUS RegSaveKeyW(HKEY key, const std::u16string& fileName);  // not available here

// Test support: empties the store; marks a key as owned by another user
// (opening it for writing is refused).
void RegClearAll();
LSTATUS RegMarkForeign(HKEY root, const std::u16string& subKey);

}  // namespace plat
