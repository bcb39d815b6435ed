#pragma once
// The units of the application library, in dependency order.
#include <span>

#include "ZmLib/zmModules.h"

namespace zm {
std::span<const TModule> AppModules();
}  // namespace zm
