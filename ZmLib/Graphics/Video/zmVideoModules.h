#pragma once
// The video units that set hooks at start-up: the FFmpeg frame source.
#include <span>

#include "ZmLib/zmModules.h"

namespace zm {

std::span<const TModule> VideoModules();

}  // namespace zm
