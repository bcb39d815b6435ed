#pragma once
// Pictures written with libjpeg's own compressor: colour, grey, CMYK and
// YCCK, baseline, progressive or arithmetic-coded, with restart markers and
// with any APP markers (ICC profiles, Exif) after the file header.
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace oru {

enum class TJpegKind { Rgb, Grey, Cmyk, Ycck };

struct TJpegOptions {
  int Width = 64;
  int Height = 48;
  TJpegKind Kind = TJpegKind::Rgb;
  int Quality = 92;
  bool Progressive = false;
  bool Arithmetic = false;
  bool FullChroma = false;  // 4:4:4 instead of 4:2:0 (colour pictures)
  int RestartRows = 0;
  // (marker code, payload) written in order after the header markers.
  std::vector<std::pair<int, std::string>> Markers;
  // The components of pixel (x, y) (R, G, B; grey; C, M, Y, K as stored).
  // Empty: a smooth gradient.
  std::function<void(int x, int y, std::uint8_t* components)> Pixel;
};

// The file's bytes; raises std::runtime_error when libjpeg refuses the opts.
std::string WriteJpeg(const TJpegOptions& opts);

}  // namespace oru
