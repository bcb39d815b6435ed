#pragma once
// The antialiasing profile of one display driver: on Windows 2000, XP and
// Server 2003 with an NVIDIA driver, per-program values in the driver's
// registry key keep the driver's forced antialiasing away from this program;
// the previous values are put back at shutdown. One profile serves
// "\Device\Video1", another "\Device\Video0". Elsewhere nothing is read or
// written.
#include <cstdint>
#include <vector>

#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/Win32/winSysUtils.h"
#include "ZmLib/zmLists.h"
#include "ZmLib/zmStringList.h"

namespace zm {

// The previous bytes of one value, or nothing when it did not exist.
class TRegValObject : public TRefObject {
public:
  TRegValObject() = default;
  explicit TRegValObject(std::vector<std::uint8_t> bytes) : Existed(true), Bytes(std::move(bytes)) {}
  bool Existed = false;
  std::vector<std::uint8_t> Bytes;
};

class TNvProfile : public TRefObject {
public:
  // deviceValue: the value name under HARDWARE\DEVICEMAP\VIDEO ("\Device\Video1").
  TNvProfile(const WideString& deviceValue, const WideString& exeName);
  void Dispose() override;

  // Writes the profile values when the system and the driver call for it;
  // any failing step silently ends it.
  void ApplyNvidiaProfileValues(const TOSVersion& version);
  // Puts the remembered values back (or deletes those that did not exist)
  // and forgets them.
  void RestoreNvidiaProfileValues();

  const WideString& DeviceValue() const { return deviceValue_; }
  const WideString& DriverKeyPath() const { return DriverKeyPath_; }
  const WideString& ExeName() const { return ExeName_; }
  std::int32_t SavedCount() const { return SavedValues->Count(); }

  TStringList* SavedExeNames = nullptr;
  TStringList* SavedValueNames = nullptr;
  TList* SavedValues = nullptr;  // of TRegValObject

private:
  void ClearSaved();
  WideString deviceValue_;
  WideString DriverKeyPath_;
  WideString ExeName_;
};

void InitNvProfile();  // applies the profiles of Video1 and Video0
void FiniNvProfile();  // restores them in reverse order

}  // namespace zm
