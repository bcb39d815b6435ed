#include "Oru/OruViewer/OruScreenSaver.h"

#include <memory>

#include "Platform/PlatScreenSaver.h"
#include "Platform/PlatUtf8.h"
#include "ZmLib/Win32/winSysUtils.h"
#include "ZmLib/wpFileStream.h"
#include "ZmLib/wpUnicode.h"
#include "ZmLib/zmLists.h"

namespace oru {

TScreenSaverHook ScreenSaverRunningHook = nullptr;
TScreenSaverHook DisableScreenSaverHook = nullptr;
TScreenSaverHook EnableScreenSaverHook = nullptr;
TScreenSaverHook SecondInstanceHook = nullptr;
bool ScreenSaverMode = false;
bool KeepAwake = false;

namespace {

std::unique_ptr<plat::TInstanceLock> gInstance;

bool EnterScreenSaverMode() {
  if (ScreenSaverMode) return false;
  // The system is only told that a saver runs where it can be; the display
  // is left to the saver's own full-screen window.
  plat::SetScreenSaverEnabled(true);
  ScreenSaverMode = true;
  KeepAwake = false;
  return true;
}

bool StayAwake() {
  if (KeepAwake || ScreenSaverMode) return false;
  plat::SetScreenSaverEnabled(false);
  KeepAwake = true;
  return true;
}

bool AllowSleep() {
  if (!KeepAwake) return false;
  plat::SetScreenSaverEnabled(true);
  KeepAwake = false;
  return true;
}

bool AnotherInstance() { return gInstance && gInstance->HeldByAnother(); }

}  // namespace

zm::WideString InstanceMutexName(const zm::WideString& programFile) {
  const zm::WideString folder = zm::ExtractFilePath(programFile, false);
  const zm::WideString name = zm::ExtractFileName(programFile);
  return u"Instance_ID" + zm::IntToStr(zm::ElfHashWide(programFile)) + zm::IntToStr(zm::ElfHashWide(folder)) +
         zm::IntToStr(zm::ElfHashWide(name)) + name;
}

void OpenInstanceLock(const zm::WideString& programFile) {
  auto lock = std::make_unique<plat::TInstanceLock>();
  // Without a lock file every instance counts as the first.
  if (!lock->Open(plat::ToUtf8(InstanceMutexName(programFile)))) lock.reset();
  gInstance = std::move(lock);
}

void InitOruScreenSaver() {
  ScreenSaverRunningHook = &EnterScreenSaverMode;
  DisableScreenSaverHook = &StayAwake;
  EnableScreenSaverHook = &AllowSleep;
  SecondInstanceHook = &AnotherInstance;
  // Only a screen saver asks; other runs leave no lock file behind.
  if (zm::SameText(zm::ExtractFileExt(zm::ProgramFile), u".scr")) OpenInstanceLock(zm::ProgramFile);
  else gInstance.reset();
}

void FiniOruScreenSaver() {
  if (!ScreenSaverMode && KeepAwake) plat::SetScreenSaverEnabled(true);
  ScreenSaverMode = false;
  KeepAwake = false;
  ScreenSaverRunningHook = nullptr;
  DisableScreenSaverHook = nullptr;
  EnableScreenSaverHook = nullptr;
  SecondInstanceHook = nullptr;
  gInstance.reset();
}

}  // namespace oru
