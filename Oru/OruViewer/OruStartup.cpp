#include "Oru/OruViewer/OruStartup.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Oru/OruViewer/OruMainForm.h"
#include "OruLib2/OruViewer/OruDrawerHooks.h"
#include "Platform/PlatFrameClock.h"
#include "Platform/PlatSystem.h"
#include "Platform/PlatUtf8.h"
#include "Platform/User/PlatUser.h"
#include "ZmLib/3DBasics/D3D9/Dev3D9.h"
#include "ZmLib/Application2/winApplication.h"
#include "ZmLib/_MyUtils.h"
#include "ZmLib/Graphics/Video/FFMpegApi.h"
#include "ZmLib/Graphics/winColorManagement.h"
#include "ZmLib/Graphics/zmColorProfiles.h"
#include "ZmLib/Graphics/zmICCColorTransform.h"
#include "ZmLib/Graphics/zmImageLib.h"
#include "ZmLib/Win32/SysLocks.h"
#include "ZmLib/Win32/winScreen.h"
#include "ZmLib/Win32/winWndAPI.h"
#include "ZmLib/wpFileStream.h"
#include "ZmLib/wpUnicode.h"
#include "ZmLib/zmHookScope.h"
#include "ZmLib/zmLog.h"

namespace oru {

using zm::TRef;

WideString MonitorProfileName;
WideString FFmpegFolder;
bool ExclusiveFullScreenAllowed = false;

const char16_t* const kLowColorText =
    u"Currently you have 256 or 16 colors display mode.\rSet True color or High color display mode.";

namespace {

zm::THookInstall<TLoadLcmsProc> gLcmsHook;
// What a step about to end is given once the show has stopped waiting for it.
constexpr std::uint32_t kLeftRunningWaitMs = 100;

WideString ReadMonitorProfileName() {
  WideString path;
  if (zm::MonitorProfilePathHook && zm::MonitorProfilePathHook(0, path)) return path;
  return WideString();
}

// The application must be finalised before it goes, also when the main
// form could not be made.
struct TApplicationGuard {
  TRef<zm::TZmApplication> App;
  ~TApplicationGuard() { Release(); }
  void Release() noexcept {
    if (!App) return;
    try {
      if (!App->Finalized()) App->Finalize();
    } catch (...) {
      zm::ReportSwallowedException();
    }
    App = nullptr;
  }
};

}  // namespace

void InstallLog(zm::TCommandsStorage& commands) {
  if (commands.FindCommand(u"filelog")) {
    zm::SetLog(zm::MakeRef<zm::TFileLog>(WideString(), false).Detach());
    // What the modules report on their own goes to the file as well.
    plat::SetDebugOutputHook([](std::string_view text) {
      if (zm::TLog* log = zm::GetLog()) log->Log(plat::FromUtf8(std::string(text)));
    });
  } else if (commands.FindCommand(u"log")) {
    zm::SetLog(zm::MakeRef<zm::TStdLog>().Detach());
  } else {
    // No log asked for: the console keeps what the user must see only.
    plat::SetDebugOutputHook([](std::string_view) {});
  }
}

void ApplyColorSwitches(zm::TCommandsStorage& commands) {
  if (commands.FindCommand(u"noicc")) {
    NoColorManagement = true;
    return;
  }
  zm::TCommand* icc = commands.FindCommand(u"icc");
  if (!icc) return;
  WideString v = icc->Count() > 0 ? icc->GetItem(0)->Text : WideString();
  if (v.empty() || zm::SameText(v, u"auto")) v = MonitorProfileName;
  TRef<zm::TColorProfile> profile;
  if (zm::SameText(v, u"sRGB")) profile = TRef<zm::TColorProfile>(zm::sRGBProfile());
  else if (zm::SameText(v, u"AdobeRGB")) profile = TRef<zm::TColorProfile>(zm::AdobeRGBProfile());
  else if (zm::SameText(v, u"FunkyRGB")) profile = TRef<zm::TColorProfile>(zm::FunkyRGBProfile());
  else if (!v.empty() && zm::FileExists(v)) {
    std::vector<std::uint8_t> data = zm::LoadFileToBytes(v);
    profile = zm::ColorProfileFromData(data, v);
  }
  SetForcedOutputProfile(profile.get());
}

bool LoadColorLibrary(TOruShowLocator* /*show*/) { return zm::LcmsBinding().Loaded(); }

void LocateFFmpeg(TOruShowLocator* /*show*/) {
  // A show's "ffmpegdlls" section holds Windows files: never extracted here.
  if (!FFmpegFolder.empty()) return;
  // Beside the libraries the program was built with, not beside the file it
  // runs as: a self-playing show lies wherever it was put.
  WideString folder = zm::ExpandFromCodeDir(u"..\\Common\\Win32\\LibAVLite");
  FFmpegFolder = zm::DirectoryExists(folder) ? folder : WideString();
  // Empty: the system's search only.
  zm::SetFFmpegFolder(FFmpegFolder);
  zm::LoadFFmpegLibraries();
}

bool DesktopCompositionEnabled() { return true; }

void ApplyExclusiveMode(TOruShowLocator* show) {
  zm::TIniFile* description = show ? show->Description() : nullptr;
  zm::TIniSection* main = description ? description->FindSection(u"main") : nullptr;
  ExclusiveFullScreenAllowed =
      !DesktopCompositionEnabled() && !zm::IniGetBool(zm::IniFind(main, u"opt_scr_noexclusive"), false);
  // The device creation reads the 3D layer's own flag.
  zm::Exclusive3DAllowed.store(ExclusiveFullScreenAllowed);
}

int RunProgram() {
  // A show nobody can see must not play on unseen, nor end as if it had
  // played; headless is only ever asked for.
  const std::string noDisplay = plat::DisplayProblem();
  if (!noDisplay.empty()) {
    plat::WriteStdErr("No display: " + noDisplay +
                      ". The show cannot be shown; set ZM_DISPLAY=headless to play it without a window.\n");
    return 1;
  }
  // Nothing of the show can be shown on a palette display.
  if (zm::BitsPerPixel() < 16) {
    // The warning icon (the same value as the exclamation).
    zm::WndAPIClass->MessageBox(nullptr, kLowColorText, kErrorCaption, zm::MB_ICONEXCLAMATION);
    return 1;
  }

  InstallLog(*zm::Commands);
  zm::WriteStartBanner(zm::GetLog());
  // Without the picture library every PNG of a show is a placeholder: say why.
  if (zm::ImageLibraryCount() == 0) {
    WideString png = zm::ExpandFromCodeDir(zm::kPngLibraryFile);
    std::replace(png.begin(), png.end(), u'\\', u'/');
    zm::LogLine(u"PNG pictures cannot be shown: " + png + u" is missing");
  }
  // ZM_FRAME_STEP_MS: the program clock moves only with presented frames.
  plat::SetFrameSteppingFromEnvironment();

  // "icc auto" needs the monitor's profile, so it is read first.
  MonitorProfileName = ReadMonitorProfileName();
  ApplyColorSwitches(*zm::Commands);
  gLcmsHook.Install(LoadLcmsHook, &LoadColorLibrary);

  TApplicationGuard app;
  app.App = zm::MakeRef<zm::TZmApplication>();
  LocateFFmpegHook = &LocateFFmpeg;
  ShowOpenedHook = &ApplyExclusiveMode;
  app.App->Initialize();

  // The slide objects draw through the 3D drawer from now on.
  InstallDrawerHooks();
  struct THooksGuard {
    ~THooksGuard() { RemoveDrawerHooks(); }
  } hooks;

  TRef<TMainForm> form;
  try {
    form = zm::MakeRef<TMainForm>(*zm::Commands, zm::CommandArgs);
    form->Start();
  } catch (...) {
    app.App->Terminate();
    throw;
  }

  app.App->Run();

  if (form->StartupMode()) {
    std::int64_t handle = StartupWindowHandle(zm::CommandArgs);
    plat::SetForegroundWindow(reinterpret_cast<plat::HWND>(static_cast<std::intptr_t>(handle)));
  }

  try {
    form.Detach()->Free();
  } catch (...) {
    zm::LogLine(u"Exception at MainForm.Free (" + CurrentExceptionText() + u")");
  }
  app.Release();
  // Work of the show left running ends before the stop line, or main ends
  // the process without it.
  (void)zm::LeftRunningEnded(kLeftRunningWaitMs);
  zm::WriteStopBanner(zm::GetLog());
  // The file log goes with the modules; what comes after them is not kept.
  if (zm::Commands->FindCommand(u"filelog")) plat::SetDebugOutputHook([](std::string_view) {});
  return zm::ExitCode;
}

void InitOruStartup() {}

void FiniOruStartup() {
  gLcmsHook.RestoreIfStillSet();
  MonitorProfileName.clear();
  FFmpegFolder.clear();
  ExclusiveFullScreenAllowed = false;
}

}  // namespace oru
