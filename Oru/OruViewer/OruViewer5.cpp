// The slide-show player.
#include <exception>

#include "Oru/OruViewer/OruModules.h"
#include "Oru/OruViewer/OruStartup.h"
#include "Platform/PlatSystem.h"
#include "Platform/User/PlatTermination.h"
#include "ZmLib/Win32/SysObj2.h"

int main(int argc, char** argv) {
  plat::SetArguments(argc, argv);
  // SIGTERM, SIGINT and SIGHUP close the window as its user would.
  plat::InstallTerminationSignals();
  int status = 0;
  try {
    zm::TModuleRunner modules(oru::ProgramModules());
    status = oru::RunProgram();
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
