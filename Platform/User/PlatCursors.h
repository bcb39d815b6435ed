#pragma once
// Cursors and icons made from pixels: .cur/.ico files and resources,
// CreateIconIndirect, and the table of made cursors behind their handles.
// Standard cursors (IDC_*) and icons (IDI_*) are their ids as handles.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "Platform/User/PlatUserTypes.h"

namespace plat::user {

struct TCursorImage {
  int Width = 0, Height = 0;
  POINT Hot;
  std::vector<std::uint32_t> Pixels;  // B, G, R, A, straight alpha, top-down
};

// Parses a .cur (or .ico) file and takes the entry nearest to want x want
// pixels (BMP entries of 1, 4, 8, 24 or 32 bits with their AND mask). False
// for anything damaged or unsupported; every size and offset is checked.
bool ParseCursorFile(std::span<const std::uint8_t> file, int want, TCursorImage& out);

// A made cursor's handle has this marker in its top 16 bits.
bool IsMadeCursor(HCURSOR h);
// The pixels of a made cursor; false for stale or standard handles.
bool MadeCursorImage(HCURSOR h, TCursorImage& out);

}  // namespace plat::user
