#pragma once
// Window procedures: calling them, and the default procedure.
#include "Platform/User/PlatWindowManager.h"

namespace plat::user {

// Calls the window's current procedure without the lock held.
LRESULT CallProc(const std::shared_ptr<TWindow>& w, UINT msg, WPARAM wp, LPARAM lp);

}  // namespace plat::user
