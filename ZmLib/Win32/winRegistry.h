#pragma once
// Registry access: one open key per TRegistry, every call through the
// process-wide gate object RegGate().
#include <cstdint>
#include <string>
#include <vector>

#include "ZmLib/Win32/SysObj2.h"

namespace zm {

using HKEY = std::uintptr_t;
constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000u;
constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;
constexpr HKEY HKEY_USERS = 0x80000003u;

constexpr std::uint32_t REG_SZ = 1;
constexpr std::uint32_t REG_BINARY = 3;
constexpr std::uint32_t REG_DWORD = 4;

// The key-saving calls with a format argument, looked up at start-up (nil
// where the system has none).
using TRegSaveKeyExWProc = std::int32_t (*)(HKEY key, const WideString& fileName, const void* security,
                                            std::uint32_t flags);
using TRegSaveKeyExAProc = std::int32_t (*)(HKEY key, const std::string& fileName, const void* security,
                                            std::uint32_t flags);
extern TRegSaveKeyExWProc RegSaveKeyExWProc;
extern TRegSaveKeyExAProc RegSaveKeyExAProc;

// Every operation returns true on success.
class TRegApiGate : public TRefObject {
public:
  // The gate serves a system of the given version class (by default this one's).
  TRegApiGate();
  explicit TRegApiGate(std::uint8_t versionClass) : versionClass_(versionClass) {}

  virtual bool IsUnicode() { return true; }
  virtual bool EnumKey(HKEY key, std::uint32_t index, std::uint32_t& nameLen, WideString& name);
  virtual bool EnumKeyName(HKEY key, std::uint32_t index, WideString& name);
  virtual bool CreateKey(HKEY key, const WideString& subKey, HKEY& newKey, std::uint32_t access);
  virtual bool DeleteKey(HKEY key, const WideString& subKey);
  virtual bool OpenKey(HKEY key, const WideString& subKey, HKEY& newKey, std::uint32_t access);
  virtual bool CloseKey(HKEY key);
  // From version class 8 on through the format call, format 1; else the
  // classic save.
  virtual bool SaveKey(HKEY key, const WideString& fileName);
  virtual bool EnumValue(HKEY key, std::uint32_t index, WideString& name, std::uint32_t& nameLen,
                         std::uint32_t& type, std::uint8_t* data, std::uint32_t& dataLen);
  virtual bool DeleteValue(HKEY key, const WideString& name);
  // data may be null to ask for the size.
  virtual bool QueryValue(HKEY key, const WideString& name, std::uint32_t& dataLen, std::uint8_t* data,
                          std::uint32_t& type);
  virtual bool SetValue(HKEY key, const WideString& name, std::uint32_t dataLen, const std::uint8_t* data,
                        std::uint32_t type);
  virtual bool SetValueEx(HKEY key, const WideString& name, std::uint32_t type, const std::uint8_t* data,
                          std::uint32_t dataLen);

  // The system code of the last call that failed (for the retry rules).
  std::int32_t LastResult() const { return lastResult_; }
  std::uint8_t VersionClass() const { return versionClass_; }

protected:
  bool Check(std::int32_t r) {
    lastResult_ = r;
    return r == 0;
  }

private:
  std::int32_t lastResult_ = 0;
  std::uint8_t versionClass_;
};

// The same operations through the narrow (ANSI) calls: names and string
// data travel in the ANSI code page, which is UTF-8 here.
class TRegApiGate9x : public TRegApiGate {
public:
  using TRegApiGate::TRegApiGate;
  bool IsUnicode() override { return false; }
  bool EnumKey(HKEY key, std::uint32_t index, std::uint32_t& nameLen, WideString& name) override;
  bool QueryValue(HKEY key, const WideString& name, std::uint32_t& dataLen, std::uint8_t* data,
                  std::uint32_t& type) override;
  bool SetValue(HKEY key, const WideString& name, std::uint32_t dataLen, const std::uint8_t* data,
                std::uint32_t type) override;
  bool SaveKey(HKEY key, const WideString& fileName) override;
};

TRegApiGate* RegGate();

class TRegistry : public TRefObject {
public:
  enum TMode : int { kRead = 0, kWrite = 1, kFull = 2 };
  void Dispose() override;

  bool CreateKey(HKEY root, const WideString& path);
  bool OpenKey(HKEY root, const WideString& path, int mode);
  void CloseKey();
  bool Opened() const { return opened_; }
  HKEY Key() const { return key_; }

  std::int32_t GetDataSize(const WideString& name);  // -1 when missing
  bool ReadString(const WideString& name, WideString& s);
  bool ReadAnsiString(const WideString& name, WideString& s);
  bool ReadBinary(const WideString& name, std::vector<std::uint8_t>& data);
  bool WriteData(const WideString& name, std::uint32_t type, const std::uint8_t* data, std::uint32_t size);
  bool WriteBinary(const WideString& name, const std::vector<std::uint8_t>& data);
  bool WriteString(const WideString& name, const WideString& s);
  bool DeleteValue(const WideString& name);
  bool ValueExists(const WideString& name);

private:
  HKEY key_ = 0;
  bool opened_ = false;
};

void InitWinRegistry();
void FiniWinRegistry();

}  // namespace zm
