#pragma once
// Monitors, screen metrics, system colours and the optional functions.
#include <vector>

#include "Platform/User/PlatWindowManager.h"

namespace plat::user {

// Under the lock: the display's monitors (else the headless ones, else one
// of ZM_SCREEN_SIZE, by default 1920 x 1080), the primary first.
std::vector<TMonitorInfo> Monitors();

}  // namespace plat::user
