#include "tests/support/kit/JpegWriter.h"

#include <cstdint>

namespace zmtest {

std::string IccChunk(int seq, int count, const std::string& data) {
  std::string p("ICC_PROFILE", 11);
  p.push_back('\0');
  p.push_back(char(seq));
  p.push_back(char(count));
  return p + data;
}

std::string ExifOrientation(int orientation) {
  // "Exif\0\0", a little-endian TIFF header and one IFD with one entry.
  std::string p("Exif\0\0", 6);
  const unsigned char tiff[] = {'I', 'I', 42, 0, 8, 0, 0, 0,  // header, IFD at 8
                                1, 0,                          // one entry
                                0x12, 0x01, 3, 0, 1, 0, 0, 0,  // Orientation, SHORT, count 1
                                std::uint8_t(orientation), 0, 0, 0,
                                0, 0, 0, 0};  // no next IFD
  p.append(reinterpret_cast<const char*>(tiff), sizeof tiff);
  return p;
}

int SofSizeOffset(const std::string& jpeg) {
  for (std::size_t i = 2; i + 8 < jpeg.size();) {
    if (std::uint8_t(jpeg[i]) != 0xFF) return -1;
    const int m = std::uint8_t(jpeg[i + 1]);
    if (m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC) return int(i + 5);
    const int len = std::uint8_t(jpeg[i + 2]) << 8 | std::uint8_t(jpeg[i + 3]);
    i += 2 + std::size_t(len);
  }
  return -1;
}

}  // namespace zmtest
