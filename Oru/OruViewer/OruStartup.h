#pragma once
// The player's start-up and exit: the log chosen by the command line, the
// colour switches, the loaders of the libraries a show may need, the
// application object, the main form, the message loop and the tear-down.
#include <cstdint>
#include <string>

#include "OruLib2/OruClasses/OruShowLoader.h"
#include "ZmLib/zmCommandLine.h"
#include "ZmLib/zmTypes.h"

namespace oru {

// The monitor's colour profile file (empty when it has none); read at
// start-up.
extern WideString MonitorProfileName;
// Where the FFmpeg libraries were found; empty until a show located them.
extern WideString FFmpegFolder;
// Read when the 3D device is made: exclusive full screen may be used.
extern bool ExclusiveFullScreenAllowed;

// The text of the warning shown on a display below 16 bits per pixel.
extern const char16_t* const kLowColorText;

// "filelog": the file log beside the program, which also gets the debugger
// output; else "log": the debugger output (standard error); else the log
// and the debugger output stay silent.
void InstallLog(zm::TCommandsStorage& commands);

// "noicc" switches colour management off; otherwise "icc" with "sRGB",
// "AdobeRGB", "FunkyRGB" or a profile file (empty or "auto": the monitor's
// profile) forces the output profile, nil when nothing matched.
void ApplyColorSwitches(zm::TCommandsStorage& commands);

// The colour-management hook: Little CMS is linked into the program, so
// this only tells whether its binding is in place. Libraries a show
// carries are never loaded.
bool LoadColorLibrary(TOruShowLocator* show);

// Runs only while FFmpegFolder is empty: the folder "..\Common\Win32\LibAVLite"
// beside the program when it exists. The system's own FFmpeg is what the
// decoders load; libraries a show carries are never extracted.
void LocateFFmpeg(TOruShowLocator* show);

// Exclusive full screen only without desktop composition and unless the
// show asks for none ("opt_scr_noexclusive").
void ApplyExclusiveMode(TOruShowLocator* show);

// Whether a compositor draws the desktop; always so here.
bool DesktopCompositionEnabled();

// What the player answers to a call it cannot play from, before anything
// opens: -h or --help gives the usage (standard output, status 0); an
// option it does not know, -filename or -exename without a path, or no
// show at all (none given, none packed into the program, none beside it as
// <program>.orushow) says so with the usage (standard error, status 2).
// Status -1: the call plays.
struct TCallAnswer {
  int Status = -1;
  std::string Out, Err;
  bool NoShow = false;  // no show given, none packed into or beside the program
};
TCallAnswer CheckCall(zm::TCommandsStorage& commands, zm::TStringList* args, const WideString& programFile);
// The usage, for the program of that name.
std::string UsageText(const std::string& program);
// Whether the file ends in a show container's trailer: a show is packed
// into it, readable or not.
bool EndsInShowContainer(const WideString& file);

// Everything after the module start, up to the stop banner; the exit
// status is the result.
int RunProgram();

void InitOruStartup();
void FiniOruStartup();

}  // namespace oru
