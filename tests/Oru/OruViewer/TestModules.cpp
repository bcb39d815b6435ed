#include "Oru/OruViewer/OruModules.h"
#include "tests/support/TestMain.h"

// The program's own table: its units find every library module started.
std::vector<zm::TModule> TestModuleTable() { return oru::ProgramModules(); }
