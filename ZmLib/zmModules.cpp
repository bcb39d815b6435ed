#include "ZmLib/zmModules.h"

#include "ZmLib/Win32/SysLocks.h"
#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/Win32/winFileAPI.h"
#include "ZmLib/Win32/winHooks.h"
#include "ZmLib/Win32/winNvProfile.h"
#include "ZmLib/Win32/winDialogs.h"
#include "ZmLib/Win32/winPrinters.h"
#include "ZmLib/Win32/winRegistry.h"
#include "ZmLib/Win32/winScreen.h"
#include "ZmLib/Win32/winSysUtils.h"
#include "ZmLib/Win32/winWndAPI.h"
#include "ZmLib/wpFileStream.h"
#include "ZmLib/wpLoadCallBack.h"
#include "ZmLib/wpUnicode.h"
#include "ZmLib/zmCommandLine.h"
#include "ZmLib/zmImageTasks.h"
#include "ZmLib/zmLocal.h"
#include "ZmLib/zmLog.h"
#include "ZmLib/zmMonitors.h"
#include "ZmLib/zmTempFiles.h"

namespace zm {

namespace {
const TModule kCoreModules[] = {
    {"SysObj2", &InitSysObj2, &FiniSysObj2},
    {"SysLocks", &InitSysLocks, &FiniSysLocks},
    {"winSysUtils", &InitWinSysUtils, &FiniWinSysUtils},
    {"wpLoadCallBack", &InitLoadCallBack, &FiniLoadCallBack},
    {"winRegistry", &InitWinRegistry, &FiniWinRegistry},
    {"wpUnicode", &InitUnicode, &FiniUnicode},
    {"winFileAPI", &InitWinFileAPI, &FiniWinFileAPI},
    {"wpFileStream", &InitFileStream, &FiniFileStream},
    {"zmLog", &InitLog, &FiniLog},
    {"zmCommandLine", &InitCommandLine, &FiniCommandLine},
    {"winNvProfile", &InitNvProfile, &FiniNvProfile},
    {"zmTempFiles", &InitTempFiles, &FiniTempFiles},
    {"winWndAPI", &InitWinWndAPI, &FiniWinWndAPI},
    {"winHooks", &InitWinHooks, &FiniWinHooks},
    {"zmMonitors", &InitZmMonitors, &FiniZmMonitors},
    {"zmImageTasks", &InitImageTasks, &FiniImageTasks},
    {"winScreen", &InitWinScreen, &FiniWinScreen},
    {"zmLocal", &InitZmLocal, &FiniZmLocal},
    {"winDialogs", &InitWinDialogs, nullptr},
    {"winPrinters", &InitWinPrinters, &FiniWinPrinters},
};
}  // namespace

std::span<const TModule> CoreModules() { return kCoreModules; }

std::vector<TModule> JoinModules(std::initializer_list<std::span<const TModule>> tables) {
  std::vector<TModule> all;
  for (auto t : tables) all.insert(all.end(), t.begin(), t.end());
  return all;
}

void TModuleRunner::Start(const std::vector<TModule>& modules) {
  for (const TModule& m : modules) {
    if (m.Init) m.Init();
    started_.push_back(m);
  }
}

void TModuleRunner::Stop() noexcept {
  // A worker still ending (a decode in flight when its owner let it go) may
  // use any module's state: it ends before the first module goes.
  if (!started_.empty()) WaitForActiveThreads(10000);
  while (!started_.empty()) {
    TModule m = started_.back();
    started_.pop_back();
    try {
      if (m.Fini) m.Fini();
    } catch (...) {
      ReportSwallowedException();
    }
  }
}

}  // namespace zm
