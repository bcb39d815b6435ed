#include "ZmLib/wpLoadCallBack.h"

#include <atomic>

#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/Win32/winSysUtils.h"

namespace zm {

namespace {
constexpr std::uint32_t kNormalPriorityClass = 32;
constexpr std::uint32_t kHighPriorityClass = 128;

std::atomic<std::uint8_t> gMode{0};
std::atomic<std::uint32_t> gLastYield{0};
std::atomic<std::uint32_t> gPriorityClass{kNormalPriorityClass};
std::atomic<std::uint32_t> gYields{0};
TDefCallBack gDefCallBack;

bool ContinueAtOnce() { return true; }

template <std::uint32_t SleepMsValue>
bool ContinueYielding() {
  std::uint32_t now = GetTimeMs();
  if (now - gLastYield.load(std::memory_order_relaxed) < 6) return true;
  SleepMs(SleepMsValue);
  gYields.fetch_add(1, std::memory_order_relaxed);
  gLastYield.store(GetTimeMs(), std::memory_order_relaxed);
  return true;
}

bool Stop() { return false; }

thread_local TLoadStop* tLoadStop = nullptr;
thread_local TLoadStop* tDrawStop = nullptr;
}  // namespace

TDrawStopScope::TDrawStopScope(TLoadStop* stop) : previous_(tDrawStop) { tDrawStop = stop; }

TDrawStopScope::~TDrawStopScope() { tDrawStop = previous_; }

bool DrawStopRequested() { return tDrawStop && tDrawStop->Poll(); }

TLoadStopScope::TLoadStopScope(TLoadStop* stop) : previous_(tLoadStop) { tLoadStop = stop; }

TLoadStopScope::~TLoadStopScope() { tLoadStop = previous_; }

TLoadStop* CurrentLoadStop() { return tLoadStop; }

bool LoadStopRequested() { return tLoadStop && tLoadStop->Poll(); }

void CheckLoadStop() {
  if (LoadStopRequested()) throw ELoadStopped();
}

TLoadCallbackProc LoadCallbackProc = &ContinueAtOnce;
TDefCallBack* LoadCallbackClass = &gDefCallBack;

void SetLoadCallbackMode(std::uint8_t mode) {
  std::uint8_t old = gMode.load();
  if (mode == old) return;
  gLastYield.store(GetTimeMs());
  switch (mode) {
    case 0: LoadCallbackProc = &ContinueAtOnce; break;
    case 1: LoadCallbackProc = &ContinueYielding<0>; break;
    case 2: LoadCallbackProc = &ContinueYielding<1>; break;
    case 3: LoadCallbackProc = &Stop; break;
    default: ZM_FAIL("SetLoadCallbackMode: unknown mode " + std::to_string(mode));
  }
  gMode.store(mode);
  LoadCallbackClass = &gDefCallBack;
  // The priority class is recorded; a process cannot raise its own priority here.
  if (mode == 2) gPriorityClass.store(kHighPriorityClass);
  else if (old == 2) gPriorityClass.store(kNormalPriorityClass);
}

std::uint8_t LoadCallbackMode() { return gMode.load(); }
std::uint32_t LoadCallbackPriorityClass() { return gPriorityClass.load(); }
std::uint32_t LoadCallbackYields() { return gYields.load(); }

void InitLoadCallBack() {
  gMode.store(0);
  LoadCallbackProc = &ContinueAtOnce;
  gPriorityClass.store(kNormalPriorityClass);
}

void FiniLoadCallBack() { SetLoadCallbackMode(0); }

}  // namespace zm
