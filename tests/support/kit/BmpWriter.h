#pragma once
// Test pictures as bytes: BMP files, zlib's raw deflate, and the packed
// picture container ("ZMGF": named fields, then the payload) that shows
// carry their pictures in.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zmtest {

// A 24-bit BMP of one colour (0xRRGGBB), rows bottom-up padded to four bytes.
std::string SolidBmp(int w, int h, std::uint32_t rgb);
// A 32-bit BI_RGB BMP, pixel (x, y) = Argb(x, y) as 0xAARRGGBB, rows bottom-up.
std::string Bmp32(int w, int h, const std::function<std::uint32_t(int x, int y)>& argb);
// zlib's raw deflate (no header) at Level.
std::string RawDeflate(std::string_view data, int level = 9);

using TPackedFields = std::vector<std::pair<std::string, std::string>>;
// The fields a packed picture needs: its file name, size and original size.
TPackedFields PackedPictureFields(int w, int h, const std::string& file = "p.bmp",
                                  const std::string& originalSize = "1");
std::string PackedPicture(const TPackedFields& fields, const std::string& payload);

}  // namespace zmtest
