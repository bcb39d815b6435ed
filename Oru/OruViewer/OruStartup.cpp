#include "Oru/OruViewer/OruStartup.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "Oru/OruViewer/OruMainForm.h"
#include "OruLib2/OruClasses/OruUnpack.h"
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

// The switches the player reads; "" is the one before any switch (the
// program and what follows it bare).
constexpr std::u16string_view kKnownSwitches[] = {u"",      u"filename", u"exename", u"log",          u"filelog",
                                                  u"slide", u"time",     u"icc",     u"noicc",        u"cover",
                                                  u"display", u"resize", u"startup", u"desktopalign"};

bool KnownSwitch(const WideString& name) {
  return std::find(std::begin(kKnownSwitches), std::end(kKnownSwitches), name) != std::end(kKnownSwitches);
}

bool HelpSwitch(const WideString& name) { return name == u"h" || name == u"help" || name == u"-help" || name == u"?"; }

std::string Shown(WideString path) {
  std::replace(path.begin(), path.end(), u'\\', u'/');
  return plat::ToUtf8(path);
}

// What a bare argument should have been given with, as an absolute path: a
// project by its Project.oru (or its folder), anything else as a packed show.
std::string OptionFor(WideString bare) {
  // Where the user stands, which the player would not take it from.
  bare = zm::ResolveRelativePath(zm::GetCurrentDir(true), bare);
  if (zm::DirectoryExists(bare)) {
    const WideString project = zm::CombinePath(bare, u"Project.oru");
    return "-filename \"" + Shown(zm::FileExists(project) ? project : bare) + "\"";
  }
  if (zm::SameText(zm::ExtractFileExt(bare), u".oru")) return "-filename \"" + Shown(bare) + "\"";
  return "-exename \"" + Shown(bare) + "\"";
}

}  // namespace

bool EndsInShowContainer(const WideString& file) {
  try {
    TRef<zm::TFileStream> f = zm::MakeRef<zm::TFileStream>(file, zm::GENERIC_READ, zm::OPEN_EXISTING, zm::FILE_SHARE_READ);
    const std::int64_t size = f->GetSize();
    // The tag ends the file, or comes before the 8 bytes of a moved container's base.
    for (std::int64_t back : {4, 12}) {
      if (size < back) continue;
      char tag[4] = {};
      f->SetPosition(size - back);
      if (f->Read(zm::TReadBuffer(reinterpret_cast<std::uint8_t*>(tag), 4)) == 4 &&
          std::string_view(tag, 4) == TOruUnpack::kTag)
        return true;
    }
  } catch (...) {
  }
  return false;
}

std::string UsageText(const std::string& program) {
  return "Usage: " + program + " -filename <folder>/Project.oru [-log]\n"
         "       " + program + " -exename <file>.orushow [-log]\n"
         "       " + program + " [-log]\n"
         "\n"
         "  -filename <file>  plays a project folder, named by the path of its Project.oru\n"
         "  -exename <file>   plays a packed show (made by OruPack), or <file>.orushow when\n"
         "                    <file> does not open\n"
         "  -log              writes the log, with the show's time line, to standard error\n"
         "                    (-filelog: to " + program + ".log beside the program)\n"
         "  -h, --help        shows this text\n"
         "\n"
         "Without -filename or -exename the player plays the show packed into its own\n"
         "file (OruPack --program), else " + program + ".orushow beside it. A relative\n"
         "path is taken from the program's folder, not the current one.\n";
}

TCallAnswer CheckCall(zm::TCommandsStorage& commands, zm::TStringList* args, const WideString& programFile) {
  TCallAnswer answer;
  const std::string program = plat::ToUtf8(zm::ExtractFileName(programFile));
  const std::string usage = UsageText(program);
  auto wrong = [&](const std::string& why) {
    answer.Status = 2;
    answer.Err = program + ": " + why + "\n\n" + usage;
    return answer;
  };
  WideString unknown;
  if (args)
    for (std::int32_t i = 1; i < args->GetCount(); ++i) {
      const WideString a = args->GetString(i);
      if (a.empty() || a[0] != u'-') continue;
      const WideString name = a.substr(1);
      // A negative number is a switch's argument ("-slide -2" starts at the
      // beginning, as ever), not a switch of its own.
      if (!name.empty() && std::all_of(name.begin(), name.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; }))
        continue;
      if (HelpSwitch(name)) {
        answer.Status = 0;
        answer.Out = usage;
        return answer;
      }
      if (!KnownSwitch(name) && unknown.empty()) unknown = a;
    }
  if (!unknown.empty()) {
    // "--filename", "-FileName": one the player has, written another way.
    WideString bare = unknown;
    while (!bare.empty() && bare[0] == u'-') bare.erase(0, 1);
    for (std::u16string_view k : kKnownSwitches)
      if (!k.empty() && zm::SameText(bare, WideString(k)))
        return wrong("unknown option \"" + plat::ToUtf8(unknown) + "\"; the option is -" + plat::ToUtf8(WideString(k)));
    return wrong("unknown option \"" + plat::ToUtf8(unknown) + "\"");
  }
  for (const char16_t* name : {u"filename", u"exename"})
    if (zm::TCommand* c = commands.FindCommand(name); c && c->Count() < 1)
      return wrong("-" + plat::ToUtf8(name) + " needs the path of " +
                   (name == std::u16string_view(u"filename") ? "a project's Project.oru" : "a packed show"));
  if (commands.FindCommand(u"filename") || commands.FindCommand(u"exename")) return answer;
  // The show packed into the program, or beside it: played as ever, also
  // when it turns out not to open.
  const WideString beside = zm::ChangeFileExt(programFile, u".orushow");
  if (EndsInShowContainer(programFile) || zm::FileExists(beside) || zm::DirectoryExists(beside)) return answer;
  std::string why = "no show given; none is packed into the program and there is no \"" + Shown(beside) + "\" beside it";
  zm::TCommand* leading = commands.FindCommand(u"");
  // The first leading argument is the program itself.
  if (leading && leading->Count() > 1) {
    const WideString bare = leading->GetItem(1)->Text;
    why += "\n\"" + plat::ToUtf8(bare) + "\" is not an option: a show is given as " + OptionFor(bare);
  }
  answer.NoShow = true;
  return wrong(why);
}

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
  // A call the player cannot play from is answered before anything opens,
  // with or without a display.
  const TCallAnswer call = CheckCall(*zm::Commands, zm::CommandArgs, zm::ProgramFile);
  if (call.Status >= 0) {
    if (!call.Out.empty()) {
      std::fwrite(call.Out.data(), 1, call.Out.size(), stdout);
      std::fflush(stdout);
    }
    plat::WriteStdErr(call.Err);
    // Started from a desktop nobody reads standard error: say it where it is seen.
    if (call.NoShow && plat::DisplayProblem().empty() && plat::WindowSystemBackEnd() == "sdl") {
      // The reason and the usage's lines of the calls, without the options' details.
      const std::size_t reason = call.Err.find("\n\n");
      const std::size_t calls = call.Err.find("\n\n", reason + 2);
      zm::WndAPIClass->MessageBox(nullptr, plat::FromUtf8(call.Err.substr(0, calls)), kErrorCaption,
                                  zm::MB_ICONEXCLAMATION);
    }
    return call.Status;
  }
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
