#pragma once
// The units of the navigation library (OruLib2/NavPanel), in dependency order.
#include <span>

#include "ZmLib/zmModules.h"

namespace oru {

std::span<const zm::TModule> NavPanelModules();

}  // namespace oru
