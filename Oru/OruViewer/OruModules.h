#pragma once
#include <span>
#include <vector>

#include "ZmLib/zmModules.h"

namespace oru {

// The program's own units, after every library.
std::span<const zm::TModule> PlayerModules();
// Every module of the program, in initialisation order.
std::vector<zm::TModule> ProgramModules();

}  // namespace oru
