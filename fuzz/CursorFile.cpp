// Cursor and icon files (.cur, .ico) as LoadImageW reads them: directory
// entries, bitmap headers, palettes, colour rows and AND masks.
#include <cstddef>
#include <cstdint>
#include <span>

#include "Platform/User/PlatCursors.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 1 << 20) return 0;
  plat::user::TCursorImage image;
  for (int want : {16, 32, 256}) {
    if (!plat::user::ParseCursorFile(std::span<const std::uint8_t>(data, size), want, image)) continue;
    // What a parse accepts is whole: the pixels match the size and the hot spot lies inside.
    if (image.Width < 1 || image.Height < 1 || image.Width > 256 || image.Height > 256 ||
        image.Pixels.size() != std::size_t(image.Width) * std::size_t(image.Height) || image.Hot.x < 0 ||
        image.Hot.y < 0 || image.Hot.x >= image.Width || image.Hot.y >= image.Height)
      __builtin_trap();
  }
  return 0;
}
