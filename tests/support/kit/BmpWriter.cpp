#include "tests/support/kit/BmpWriter.h"

#include "OruLib2/OruPack/OruPackWriter.h"

namespace zmtest {

namespace {

void Put(std::string& s, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s += char((v >> (8 * i)) & 0xFF);
}

// The file and information headers (54 bytes) of a bottom-up BI_RGB picture.
std::string BmpHeaders(int w, int h, int bits, std::uint32_t pixelBytes) {
  std::string s = "BM";
  Put(s, 54 + pixelBytes, 4), Put(s, 0, 4), Put(s, 54, 4);
  Put(s, 40, 4), Put(s, std::uint32_t(w), 4), Put(s, std::uint32_t(h), 4), Put(s, 1, 2), Put(s, std::uint32_t(bits), 2);
  for (int i = 0; i < 6; ++i) Put(s, 0, 4);
  return s;
}

}  // namespace

std::string SolidBmp(int w, int h, std::uint32_t rgb) {
  const int stride = (w * 3 + 3) / 4 * 4;
  std::string s = BmpHeaders(w, h, 24, std::uint32_t(stride * h));
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) Put(s, rgb, 3);
    s.append(std::size_t(stride - w * 3), '\0');
  }
  return s;
}

std::string Bmp32(int w, int h, const std::function<std::uint32_t(int, int)>& argb) {
  std::string s = BmpHeaders(w, h, 32, std::uint32_t(w * h * 4));
  for (int y = h - 1; y >= 0; --y)
    for (int x = 0; x < w; ++x) Put(s, argb(x, y), 4);
  return s;
}

std::string RawDeflate(std::string_view data, int level) { return oru::TOruPackWriter::Deflate(data, level); }

TPackedFields PackedPictureFields(int w, int h, const std::string& file, const std::string& originalSize) {
  return {{"File", file}, {"Width", std::to_string(w)}, {"Height", std::to_string(h)}, {"OriginalSize", originalSize}};
}

std::string PackedPicture(const TPackedFields& fields, const std::string& payload) {
  std::string s = "ZMGF";
  Put(s, std::uint32_t(fields.size()), 2);
  for (const auto& [key, value] : fields)
    for (const std::string* f : {&key, &value}) {
      Put(s, std::uint32_t(f->size()), 2);
      s += *f;
    }
  return s + payload;
}

}  // namespace zmtest
