#include "Oru/OruViewer/OruScreenSaver.h"

#include <memory>

#include "Platform/PlatFiles.h"
#include "Platform/PlatScreenSaver.h"
#include "Platform/PlatUtf8.h"
#include "ZmLib/Win32/winSysUtils.h"
#include "ZmLib/wpFileStream.h"
#include "ZmLib/wpUnicode.h"
#include "ZmLib/zmLists.h"
#include "ZmLib/zmLog.h"
#include "ZmLib/zmTempFiles.h"

namespace oru {

TScreenSaverHook ScreenSaverRunningHook = nullptr;
TScreenSaverHook DisableScreenSaverHook = nullptr;
TScreenSaverHook EnableScreenSaverHook = nullptr;
TScreenSaverHook SecondInstanceHook = nullptr;
bool ScreenSaverMode = false;
bool KeepAwake = false;

namespace {

std::unique_ptr<plat::TInstanceLock> gInstance;
bool gInstanceWanted = false;  // a screen saver whose lock is not opened yet

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

bool AnotherInstance() {
  // Opened at the first ask, once the log can say what went wrong.
  if (gInstanceWanted) OpenInstanceLock(zm::ProgramFile);
  return gInstance && gInstance->HeldByAnother();
}

}  // namespace

zm::WideString InstanceMutexName(const zm::WideString& programFile) {
  const zm::WideString folder = zm::ExtractFilePath(programFile, false);
  const zm::WideString name = zm::ExtractFileName(programFile);
  return u"Instance_ID" + zm::IntToStr(zm::ElfHashWide(programFile)) + zm::IntToStr(zm::ElfHashWide(folder)) +
         zm::IntToStr(zm::ElfHashWide(name)) + name;
}

void OpenInstanceLock(const zm::WideString& programFile) {
  gInstanceWanted = false;
  gInstance.reset();
  // In the user's private temporary root, where nobody else can put a file
  // or a link under its name. Without a lock file every instance counts as
  // the first.
  zm::WideString root;
  try {
    root = zm::GetTempRoot();
  } catch (const std::exception&) {
    return;  // the manager said why
  }
  auto lock = std::make_unique<plat::TInstanceLock>();
  if (!lock->Open(plat::NativePath(root), plat::ToUtf8(InstanceMutexName(programFile)))) {
    zm::LogLine(u"Instance lock not opened in " + root);
    return;
  }
  gInstance = std::move(lock);
}

void InitOruScreenSaver() {
  ScreenSaverRunningHook = &EnterScreenSaverMode;
  DisableScreenSaverHook = &StayAwake;
  EnableScreenSaverHook = &AllowSleep;
  SecondInstanceHook = &AnotherInstance;
  // Only a screen saver asks; other runs leave no lock file behind.
  gInstance.reset();
  gInstanceWanted = zm::SameText(zm::ExtractFileExt(zm::ProgramFile), u".scr");
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
  gInstanceWanted = false;
}

}  // namespace oru
