#pragma once
#include <vector>

#include "ZmLib/zmModules.h"

namespace oru {

// Every module of the program, in initialisation order.
std::vector<zm::TModule> ProgramModules();

}  // namespace oru
