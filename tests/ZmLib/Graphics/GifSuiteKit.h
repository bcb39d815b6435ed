#pragma once
// The GIF test suite's reference frames: palette PNGs (colour type 3, not
// interlaced), read with zlib alone so that the tests do not lean on the
// PNG code under test.
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace zmtest {

struct TPng {
  int Width = 0, Height = 0;
  std::vector<std::uint32_t> Pixels;  // A8R8G8B8
};

inline std::uint32_t Be32(const std::uint8_t* p) {
  return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}

inline bool ReadPalettePng(const std::filesystem::path& file, TPng& png) {
  std::ifstream f(file, std::ios::binary);
  const std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  if (data.size() < 8) return false;
  int depth = 0, type = -1;
  std::vector<std::uint32_t> palette;
  std::vector<std::uint8_t> idat;
  for (std::size_t p = 8; p + 12 <= data.size();) {
    const std::uint32_t len = Be32(&data[p]);
    if (p + 12 + len > data.size()) return false;
    const std::string tag(reinterpret_cast<const char*>(&data[p + 4]), 4);
    const std::uint8_t* d = &data[p + 8];
    if (tag == "IHDR") {
      png.Width = int(Be32(d));
      png.Height = int(Be32(d + 4));
      depth = d[8];
      type = d[9];
      if (d[12] != 0) return false;
    } else if (tag == "PLTE") {
      for (std::uint32_t i = 0; i + 2 < len; i += 3)
        palette.push_back(0xFF000000u | (std::uint32_t(d[i]) << 16) | (std::uint32_t(d[i + 1]) << 8) | d[i + 2]);
    } else if (tag == "tRNS") {
      for (std::uint32_t i = 0; i < len && i < palette.size(); ++i)
        palette[i] = (palette[i] & 0x00FFFFFFu) | (std::uint32_t(d[i]) << 24);
    } else if (tag == "IDAT") {
      idat.insert(idat.end(), d, d + len);
    }
    p += 12 + len;
  }
  if (type != 3) return false;
  const std::size_t stride = (std::size_t(png.Width) * std::size_t(depth) + 7) / 8;
  std::vector<std::uint8_t> raw(std::size_t(png.Height) * (stride + 1));
  uLongf rawLen = uLongf(raw.size());
  if (uncompress(raw.data(), &rawLen, idat.data(), uLong(idat.size())) != Z_OK || rawLen != raw.size()) return false;
  std::vector<std::uint8_t> prev(stride, 0), row(stride);
  png.Pixels.assign(std::size_t(png.Width) * std::size_t(png.Height), 0);
  for (int y = 0; y < png.Height; ++y) {
    const std::uint8_t* line = &raw[std::size_t(y) * (stride + 1)];
    for (std::size_t i = 0; i < stride; ++i) {
      const int a = i > 0 ? row[i - 1] : 0, b = prev[i], c = i > 0 ? prev[i - 1] : 0;
      int v = line[1 + i];
      switch (line[0]) {
        case 1: v += a; break;
        case 2: v += b; break;
        case 3: v += (a + b) / 2; break;
        case 4: {
          const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
          v += pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
          break;
        }
        default: break;
      }
      row[i] = std::uint8_t(v);
    }
    for (int x = 0; x < png.Width; ++x) {
      const std::size_t bit = std::size_t(x) * std::size_t(depth);
      const int index = (row[bit / 8] >> (8 - depth - int(bit % 8))) & ((1 << depth) - 1);
      png.Pixels[std::size_t(y * png.Width + x)] =
          std::size_t(index) < palette.size() ? palette[std::size_t(index)] : 0;
    }
    prev = row;
  }
  return true;
}


inline const std::filesystem::path kGifSuite = std::filesystem::path(ZM_TESTDATA_DIR) / "gif-test-suite" / "gifs";

}  // namespace zmtest
