#pragma once
// RGBA pictures as PNG files (libpng's simplified writer), for the tools
// that make demo shows and test pictures.
#include <cstdint>
#include <string>
#include <vector>

namespace oru {

// Width x Height pixels, 4 bytes each (R, G, B, A, not premultiplied), rows
// top-down. Raises std::runtime_error when the size does not match or
// libpng fails.
std::string WritePngRgba(int width, int height, const std::vector<std::uint8_t>& rgba);

}  // namespace oru
