#pragma once
// A small GIF89a writer for the demo show: frames of palette indices over one
// global palette, each with its delay, looping.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace oru {

struct TGifFrame {
  std::vector<std::uint8_t> Indices;  // Width x Height, rows top-down
  int DelayMs = 100;                  // stored in hundredths of a second
};

struct TGifAnimation {
  int Width = 0;
  int Height = 0;
  std::vector<std::array<std::uint8_t, 3>> Palette;  // 2 to 256 colours (RGB)
  int Loops = 0;                                     // 0: for ever
  std::vector<TGifFrame> Frames;
};

// The GIF file. Raises std::invalid_argument for a size outside 1..65535, a
// palette of the wrong size, no frames, a frame of the wrong size or an
// index outside the palette.
std::string WriteGif(const TGifAnimation& animation);

}  // namespace oru
