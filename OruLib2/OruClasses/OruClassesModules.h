#pragma once
// The units of the show-document library (OruLib2/OruClasses and
// OruLib2/Effects), in dependency order.
#include <span>

#include "ZmLib/zmModules.h"

namespace oru {

std::span<const zm::TModule> OruClassesModules();

}  // namespace oru
