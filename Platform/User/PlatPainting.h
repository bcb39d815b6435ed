#pragma once
// Painting and frame buffers: update areas, WM_PAINT, the pixels of a
// window inside its top-level's frame buffer, and presenting frames.
#include "Platform/User/PlatWindowManager.h"

namespace plat::user {

// Under the lock: the frame buffer of a top-level takes its client size,
// keeping the pixels that still fit.
void SizeFrameBuffer(TWindow& w);
// Hands the changed frame buffers to the display (UI thread), and to the
// capture when there is one.
void PresentPending();
// Waits while the capture has more frames queued than its writers keep up
// with (UI thread, holding no lock of the window layer).
void ThrottleCapture();
// A capture with a limit has taken that many frames (stepped frames count
// where the device presents them).
bool CaptureLimitReached();
void InvalidateAll(HWND h, bool erase);
// Under the lock: the whole client area of w and its children becomes the
// update area (the caller wakes the queue or lets the next message do it).
void InvalidateAllLater(TWindow& w);
// Under the lock: the screen over an area as the visible top-levels compose
// it (B, G, R, A rows).
std::vector<std::uint32_t> ComposeScreen(const RECT& area);
// A visible window of the thread with something to paint that passes the
// filter; nullptr when none.
HWND FindWindowToPaint(std::uint32_t tid, HWND filter, UINT mn, UINT mx);

}  // namespace plat::user
