#pragma once
// The units of the frame engine (ZmLib/Composite), in dependency order.
#include <span>

#include "ZmLib/zmModules.h"

namespace zm {
std::span<const TModule> CompositeModules();
}  // namespace zm
