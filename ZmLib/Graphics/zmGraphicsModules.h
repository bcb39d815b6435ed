#pragma once
// The units of the imaging library (ZmLib/Graphics), in dependency order.
#include <span>

#include "ZmLib/zmModules.h"

namespace zm {

std::span<const TModule> GraphicsModules();

}  // namespace zm
