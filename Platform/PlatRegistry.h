#pragma once
// The registry stand-in: an in-memory key tree with the Win32 calls, result
// codes and value types the callers rely on. It is empty at run time (the
// player keeps no settings); tests fill it. A key can be saved to a file and
// loaded back from one.
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
constexpr LSTATUS ERROR_PATH_NOT_FOUND = 3;
constexpr LSTATUS ERROR_ACCESS_DENIED = 5;
constexpr LSTATUS ERROR_INVALID_HANDLE = 6;
constexpr LSTATUS ERROR_NOT_SUPPORTED = 50;
constexpr LSTATUS ERROR_INVALID_PARAMETER = 87;
constexpr LSTATUS ERROR_MORE_DATA = 234;
constexpr LSTATUS ERROR_ALREADY_EXISTS = 183;
constexpr LSTATUS ERROR_NO_MORE_ITEMS = 259;
constexpr LSTATUS ERROR_BADDB = 1009;

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

// Formats of RegSaveKeyEx.
constexpr std::uint32_t REG_STANDARD_FORMAT = 1;
constexpr std::uint32_t REG_LATEST_FORMAT = 2;

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

// Writes the key with its values and sub-keys to a new file (an existing
// file is refused with ERROR_ALREADY_EXISTS; nothing is left behind on a
// failure). The classic call writes the standard format; the Ex calls take
// REG_STANDARD_FORMAT or REG_LATEST_FORMAT and ignore the security
// attributes (the file gets the process's default permissions). The ANSI
// calls take UTF-8 names.
LSTATUS RegSaveKeyW(HKEY key, const std::u16string& fileName);
LSTATUS RegSaveKeyA(HKEY key, const std::string& fileName);
LSTATUS RegSaveKeyExW(HKEY key, const std::u16string& fileName, const void* security, std::uint32_t flags);
LSTATUS RegSaveKeyExA(HKEY key, const std::string& fileName, const void* security, std::uint32_t flags);
// Reads a saved file (either format) as the new key subKey, one name, of
// HKEY_USERS or HKEY_LOCAL_MACHINE: ERROR_INVALID_PARAMETER under any other
// key, ERROR_ALREADY_EXISTS when subKey is there, ERROR_BADDB for a file
// that is not a whole saved key.
LSTATUS RegLoadKeyW(HKEY key, const std::u16string& subKey, const std::u16string& fileName);

// What "advapi32.dll" offers by name: "RegSaveKeyExA" and "RegSaveKeyExW"
// (the functions above); nullptr for any other name.
void* GetAdvapi32ProcAddress(const char* name);

// Test support: empties the store; marks a key as owned by another user
// (opening it for writing is refused).
void RegClearAll();
LSTATUS RegMarkForeign(HKEY root, const std::u16string& subKey);

}  // namespace plat
