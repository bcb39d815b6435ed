#pragma once
// The units of the frame engine (ZmLib/Composite), in dependency order.
#include <cstdint>
#include <span>

#include "ZmLib/zmModules.h"

namespace zm {
std::span<const TModule> CompositeModules();
// Entry i holds i (filled at start-up).
extern std::uint8_t IdentityByteTable[256];
}  // namespace zm
