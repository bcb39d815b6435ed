#include "ZmLib/Win32/winNvProfile.h"

#include "ZmLib/Win32/winRegistry.h"
#include "ZmLib/wpFileStream.h"
#include "ZmLib/wpUnicode.h"

namespace zm {

namespace {
struct TProfileValue {
  const char16_t* Suffix;
  std::uint8_t Bytes[4];
};
const TProfileValue kProfileValues[] = {
    {u":D3DOGL_67207556", {0x00, 0x00, 0x00, 0x00}},
    {u":D3DOGL_70835937", {0x00, 0x00, 0x00, 0x00}},
    {u":D3D_60461791", {0x92, 0x52, 0x92, 0x60}},
};
const WideString kMachinePrefix = u"\\Registry\\Machine\\";

TNvProfile* gProfiles[2] = {nullptr, nullptr};
}  // namespace

TNvProfile::TNvProfile(const WideString& deviceValue, const WideString& exeName)
    : deviceValue_(deviceValue), ExeName_(exeName) {
  SavedExeNames = MakeRef<TStringList>().Detach();
  SavedValueNames = MakeRef<TStringList>().Detach();
  SavedValues = MakeRef<TList>().Detach();
}

void TNvProfile::Dispose() {
  ClearSaved();
  FreeAndNil(SavedValues);
  FreeAndNil(SavedValueNames);
  FreeAndNil(SavedExeNames);
  TRefObject::Dispose();
}

void TNvProfile::ClearSaved() {
  if (SavedValues) SavedValues->FreeAndClear();
  if (SavedValueNames) SavedValueNames->Clear();
  if (SavedExeNames) SavedExeNames->Clear();
}

void TNvProfile::ApplyNvidiaProfileValues(const TOSVersion& version) {
  if (version.PlatformId != VER_PLATFORM_WIN32_NT || version.Major != 5) return;
  TRef<TRegistry> reg = MakeRef<TRegistry>();
  WideString device;
  if (!reg->OpenKey(HKEY_LOCAL_MACHINE, u"HARDWARE\\DEVICEMAP\\VIDEO", TRegistry::kRead)) return;
  if (!reg->ReadString(deviceValue_, device)) return;
  if (device.compare(0, kMachinePrefix.size(), kMachinePrefix) != 0) return;
  DriverKeyPath_ = device.substr(kMachinePrefix.size());
  if (!reg->OpenKey(HKEY_LOCAL_MACHINE, DriverKeyPath_, TRegistry::kFull)) return;
  WideString description;
  if (!reg->ReadString(u"Device Description", description)) return;
  if (UpperCase(description).find(u"NVIDIA") == WideString::npos) return;
  for (const TProfileValue& v : kProfileValues) {
    WideString name = u"_" + ExeName_ + v.Suffix;
    TRegValObject* saved = nullptr;
    std::vector<std::uint8_t> old;
    if (reg->ValueExists(name) && reg->ReadBinary(name, old)) saved = new TRegValObject(std::move(old));
    else saved = new TRegValObject();
    SavedExeNames->Add(ExeName_);
    SavedValueNames->Add(name);
    SavedValues->Add(saved);
    reg->WriteData(name, REG_BINARY, v.Bytes, 4);
  }
}

void TNvProfile::RestoreNvidiaProfileValues() {
  if (SavedValues->Count() > 0 && !DriverKeyPath_.empty() && !ExeName_.empty()) {
    TRef<TRegistry> reg = MakeRef<TRegistry>();
    if (reg->OpenKey(HKEY_LOCAL_MACHINE, DriverKeyPath_, TRegistry::kFull)) {
      for (std::int32_t i = 0; i < SavedValues->Count(); ++i) {
        if (SavedExeNames->GetString(i) != ExeName_) continue;
        auto* saved = static_cast<TRegValObject*>(SavedValues->Get(i));
        WideString name = SavedValueNames->GetString(i);
        if (saved && saved->Existed)
          reg->WriteData(name, REG_BINARY, saved->Bytes.data(), static_cast<std::uint32_t>(saved->Bytes.size()));
        else
          reg->DeleteValue(name);
      }
    }
  }
  ClearSaved();
}

void InitNvProfile() {
  WideString exe = ExtractFileName(ProgramFile);
  const char16_t* devices[2] = {u"\\Device\\Video1", u"\\Device\\Video0"};
  for (int i = 0; i < 2; ++i) {
    gProfiles[i] = MakeRef<TNvProfile>(WideString(devices[i]), exe).Detach();
    gProfiles[i]->ApplyNvidiaProfileValues(OSVersion());
  }
}

void FiniNvProfile() {
  for (int i = 1; i >= 0; --i) {
    if (!gProfiles[i]) continue;
    gProfiles[i]->RestoreNvidiaProfileValues();
    FreeAndNil(gProfiles[i]);
  }
}

}  // namespace zm
