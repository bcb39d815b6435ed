#pragma once
// The units of the vector library (ZmLib/VectorGraphics), in dependency order.
#include <span>

#include "ZmLib/zmModules.h"

namespace zm {

std::span<const TModule> VectorModules();

}  // namespace zm
