#pragma once
// The demo show: a title slide, picture slides (JPEG, drawn here) that
// cross-fade and wipe into each other, the first captioned from its
// picture's Exif data, then a slide with a PNG picture whose soft-edged disc
// lets the slide's background through, and a slide playing an animated GIF
// (a ball crossing the picture), and a tour of picture slides entering with
// the roll, clock, broom, overturn and two-slides transitions. Written as a
// project folder for OruPack.
#include <cstdint>
#include <string>

namespace oru {

struct TDemoShowOptions {
  int Slides = 4;  // picture slides between the title and the PNG and GIF slides
  int Width = 640;
  int Height = 360;
};

// What the demo's slides hold, for whoever checks its frames.
struct TDemoShowLayout {
  static constexpr std::uint32_t kTitleBackground = 0x102040;
  static constexpr std::uint32_t kTitleColour = 0xFFFFFF;
  // The caption of the first picture slide: its picture's Exif description
  // and date, in this colour, centred at 85 % of the height, 8 % high.
  static constexpr std::uint32_t kCaptionColour = 0xFFFF00;
  static constexpr char kCaptionDescription[] = "Harbour at dusk";
  static constexpr char kCaptionDate[] = "2024:05:17 18:42:07";
  static constexpr int kSlideLengthMs = 4000;
  static constexpr int kTransitionMs = 1000;
  static constexpr std::uint32_t kPngBackground = 0x183C6E;  // slide colour behind the PNG
  static constexpr std::uint32_t kPngDisc = 0xF0B428;        // the PNG's opaque centre
  static constexpr std::uint32_t kGifBackground = 0x1E1E28;  // the GIF's own background
  static constexpr std::uint32_t kGifBall = 0xE63C3C;
  static constexpr int kGifFrames = 10;
  static constexpr int kGifFrameMs = 100;
  int TitleSlide = 1;  // 1-based slide numbers
  int CaptionSlide = 0;
  int PngSlide = 0;
  int GifSlide = 0;
  // The tour: slide TourSlide + i enters with kTourEffects[i].
  static constexpr int kTourSlides = 5;
  static constexpr const char* kTourEffects[kTourSlides] = {"curling", "clock", "broom", "flip", "swap"};
  int TourSlide = 0;
  int SlideCount = 0;
  // Slide N starts at (N - 1) x kSlideLengthMs.
  static std::int64_t SlideStart(int slide) { return std::int64_t(slide - 1) * kSlideLengthMs; }
};

// Writes "Project.oru" and the pictures into Folder (made when missing).
// Raises std::runtime_error when a file cannot be written or an option is
// out of range.
TDemoShowLayout WriteDemoShow(const std::string& folder, const TDemoShowOptions& options);

// The demo's pictures (exposed for the tests).
std::string DemoPng(int width, int height);
std::string DemoGif(int width, int height);
// An Exif APP1 payload with an image description and a date.
std::string DemoExif(const std::string& description, const std::string& date);

}  // namespace oru
