#pragma once
// The units of the text library (ZmLib/Text), in dependency order.
#include <span>

#include "ZmLib/zmModules.h"

namespace zm {

std::span<const TModule> TextModules();

}  // namespace zm
