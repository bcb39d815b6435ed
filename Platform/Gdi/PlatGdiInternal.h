#pragma once
// What the window layer asks of the drawing layer: region handles as
// TRegion values, window DCs for BeginPaint, and the pixels of a DC for
// UpdateLayeredWindow. Internal to Platform.
#include <cstdint>
#include <vector>

#include "Platform/Gdi/PlatGdi.h"
#include "Platform/Gdi/PlatRegion.h"

namespace plat::gdi {

// A copy of a region object's area; false for a bad handle.
bool RegionOf(HRGN region, TRegion& out);
// Replaces a region object's area; false for a bad handle.
bool SetRegion(HRGN region, const TRegion& area);
// A DC on a window's client pixels; with a system clip (client coordinates)
// drawing is limited to it. Released with ReleaseWindowDc.
HDC CreateWindowDc(HWND hwnd, const TRegion* systemClip);
bool ReleaseWindowDc(HDC hdc);
// Fills a rectangle (DC coordinates) of a memory or window DC with a B, G, R
// word, within the DC's clip; false for a DC without pixels.
bool FillDc(HDC hdc, const RECT& rect, std::uint32_t bgra);
// width x height pixels of a memory DC's bitmap from (x, y), as B, G, R, A
// words (alpha 255 unless the bitmap is 32-bit with standard masks); pixels
// outside the bitmap read as 0. False for DCs without pixels.
bool ReadDcPixels(HDC hdc, int x, int y, int width, int height, std::vector<std::uint32_t>& out);
// A bitmap's pixels the same way (all of it); false for a bad handle.
bool ReadBitmapPixels(HBITMAP bitmap, int& width, int& height, std::vector<std::uint32_t>& out, int& bitCount);

}  // namespace plat::gdi
