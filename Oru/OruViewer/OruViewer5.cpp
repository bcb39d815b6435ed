// The slide-show player.
#include <cstdlib>
#include <exception>

#include "Oru/OruViewer/OruModules.h"
#include "Oru/OruViewer/OruStartup.h"
#include "Platform/PlatSystem.h"
#include "Platform/User/PlatTermination.h"
#include "ZmLib/Win32/SysLocks.h"
#include "ZmLib/Win32/SysObj2.h"

int main(int argc, char** argv) {
  plat::SetArguments(argc, argv);
  // SIGTERM, SIGINT and SIGHUP close the window as its user would.
  plat::InstallTerminationSignals();
  int status = 0;
  try {
    zm::TModuleRunner modules(oru::ProgramModules());
    status = oru::RunProgram();
    // Work of the show left running (a step that could not be broken off)
    // would run on into the modules as they end: the run ends here, after
    // its stop line, without them.
    if (!zm::LeftRunningEnded(0)) {
      if (status == 0 && plat::OutputFailed()) status = 1;
      plat::FlushStdOut();
      std::_Exit(status);
    }
  } catch (...) {
    zm::ShowCurrentException();
    status = 1;
  }
  // A sound recording or a capture asked for that could not be written
  // (said on the error output when it failed, also while closing) makes
  // the run a failure, however the show went.
  if (status == 0 && plat::OutputFailed()) status = 1;
  return status;
}
