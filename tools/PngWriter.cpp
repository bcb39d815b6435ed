#include "tools/PngWriter.h"

#include <png.h>

#include <cstring>
#include <stdexcept>

namespace oru {

std::string WritePngRgba(int width, int height, const std::vector<std::uint8_t>& rgba) {
  if (width <= 0 || height <= 0 || rgba.size() != std::size_t(width) * std::size_t(height) * 4)
    throw std::runtime_error("PNG: picture size and pixels do not match");
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = png_uint_32(width);
  image.height = png_uint_32(height);
  image.format = PNG_FORMAT_RGBA;
  png_alloc_size_t size = 0;
  // The first call measures, the second writes.
  if (!png_image_write_to_memory(&image, nullptr, &size, 0, rgba.data(), 0, nullptr))
    throw std::runtime_error(std::string("PNG: ") + image.message);
  std::string out(size, '\0');
  if (!png_image_write_to_memory(&image, out.data(), &size, 0, rgba.data(), 0, nullptr))
    throw std::runtime_error(std::string("PNG: ") + image.message);
  out.resize(size);
  png_image_free(&image);
  return out;
}

}  // namespace oru
