#pragma once
// Geometry and show state: showing, moving, sizing, z-order and placement.
#include "Platform/User/PlatWindowManager.h"

namespace plat::user {

void SendWindowPosChanged(HWND h, UINT flags);
// Positions beyond this are pulled back (keeps right = left + width in range).
constexpr int kMaxCoordinate = 1 << 28;
// Window sizes are clamped to 0..kMaxWindowExtent, positions to +-kMaxCoordinate.
int ClampExtent(int v);
int ClampCoordinate(int v);
// The user (or the display) resized a window to an outer rectangle: WM_SIZING
// with the dragged edge (0: worked out from the change) and the corrected
// rectangle applied.
void UserResized(HWND h, WPARAM edge, RECT outer);

}  // namespace plat::user
