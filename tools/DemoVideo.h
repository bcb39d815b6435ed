#pragma once
// The demo show's video clip, encoded with FFmpeg's own encoders: a moving
// pattern (a diagonal colour gradient drifting right, a bright bar sweeping
// across and a frame counter of white squares along the top).
#include <string>

namespace oru {

struct TDemoVideoOptions {
  int Width = 320;   // even, 16..1920
  int Height = 180;  // even, 16..1080
  int Fps = 25;      // 1..60
  int Frames = 75;   // 1..1000
};

// The clip as MP4 bytes (MPEG-4 part 2 video). Raises std::runtime_error
// when an option is out of range or FFmpeg fails.
std::string DemoVideo(const TDemoVideoOptions& options);

// The luma the pattern has at (x, y) of frame n (for whoever checks frames;
// the encoder's losses come on top).
int DemoVideoLuma(const TDemoVideoOptions& options, int n, int x, int y);

}  // namespace oru
