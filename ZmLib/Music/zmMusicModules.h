#pragma once
// The audio units that set hooks at start-up: the sound output device and the
// converter factory.
#include <span>

#include "ZmLib/zmModules.h"

namespace zm {

std::span<const TModule> MusicModules();

}  // namespace zm
