#pragma once
// The demo show: a title slide, picture slides (JPEG, drawn here) that
// cross-fade and wipe into each other, the first captioned from its
// picture's Exif data, then a slide with a PNG picture whose soft-edged disc
// lets the slide's background through, and a slide playing an animated GIF
// (a ball crossing the picture), and a tour of picture slides entering with
// the roll, clock, broom, overturn and two-slides transitions. Music of its
// own plays along: two tone tracks (WAV) that cross-fade, with a click at the
// starts of a few slides for whoever checks sound against pictures; and a
// short video clip (MPEG-4, encoded here) plays inside a picture slide. A
// navigation panel of its own skin (previous, pause, next, exit) shows while
// the pointer moves, and a logo sits in the top right corner.
// Written as a project folder for OruPack.
#include <cstdint>
#include <string>
#include <vector>

namespace oru {

struct TDemoShowOptions {
  int Slides = 4;  // picture slides between the title and the PNG and GIF slides
  int Width = 640;
  int Height = 360;
  bool Video = true;  // the video clip (encoded here, a few seconds)
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
  // The music: "music\\tone1.wav" from the show's start, cross-fading over
  // kMusicCrossMs into "music\\tone2.wav", which starts at MusicCross and
  // plays to the show's end. Both are mono 16-bit WAVs of kMusicRate Hz whose
  // tones stay below kToneLevel of full scale; a click is kClickMs of a flat
  // kClickLevel (the first sample at the click's show time).
  static constexpr int kMusicRate = 22050;
  static constexpr int kMusicCrossMs = 2000;
  static constexpr int kClickMs = 3;
  static constexpr double kToneLevel = 0.12;
  static constexpr double kClickLevel = 0.9;
  static constexpr int kClickSlides[] = {2, 3, 4};
  std::int64_t MusicCross = 0;
  std::vector<std::int64_t> Clicks;  // show times (ms) of the clicks, rising
  // The video clip "video\\clip.mp4" (kVideoWidth x kVideoHeight, kVideoFps,
  // kVideoFrames, muted) in the top left quarter of VideoSlide (0: none),
  // starting kVideoDelayMs after the slide does.
  static constexpr int kVideoWidth = 320;
  static constexpr int kVideoHeight = 180;
  static constexpr int kVideoFps = 25;
  static constexpr int kVideoFrames = 75;
  static constexpr int kVideoDelayMs = 500;
  int VideoSlide = 0;
  // The navigation panel: skin "skins\\nav.ini", hidden until the pointer
  // moves (and kNavHideSeconds after it stops), centred kNavOffset % above
  // the window's bottom and kNavViewScale % of its height high. Its picture
  // is kNavBarWidth x kNavBarHeight; button i (kNavButtons[i]) is
  // kNavButtonSize square at (kNavButtonLeft + i x kNavButtonStep, kNavButtonTop).
  static constexpr int kNavButtonCount = 4;
  static constexpr const char* kNavButtons[kNavButtonCount] = {"backward", "pause", "forward", "exit"};
  static constexpr int kNavBarWidth = 192;
  static constexpr int kNavBarHeight = 44;
  static constexpr int kNavButtonLeft = 18;
  static constexpr int kNavButtonTop = 4;
  static constexpr int kNavButtonSize = 36;
  static constexpr int kNavButtonStep = 40;
  static constexpr int kNavViewScale = 12;
  static constexpr int kNavOffset = 3;
  static constexpr int kNavHideSeconds = 3;
  // The logo "pictures\\logo.png" (kLogoWidth x kLogoHeight) in the top right
  // corner, kLogoOffset % in from the edges, kLogoSize % of the slide's height
  // high, at kLogoOpacity %.
  static constexpr int kLogoWidth = 160;
  static constexpr int kLogoHeight = 80;
  static constexpr int kLogoSize = 12;
  static constexpr int kLogoOffset = 3;
  static constexpr int kLogoOpacity = 80;
  // Slide N starts at (N - 1) x kSlideLengthMs.
  static std::int64_t SlideStart(int slide) { return std::int64_t(slide - 1) * kSlideLengthMs; }
};

// Writes "Project.oru", the pictures, the music and the clip into Folder
// (made when missing).
// Raises std::runtime_error when a file cannot be written or an option is
// out of range.
TDemoShowLayout WriteDemoShow(const std::string& folder, const TDemoShowOptions& options);

// A mono 16-bit PCM WAV file of the samples.
std::string DemoWav(const std::vector<std::int16_t>& samples, int rate);

// The demo's pictures (exposed for the tests).
std::string DemoPng(int width, int height);
std::string DemoGif(int width, int height);
// The navigation panel's skin: its text, and its two textures (the bar's
// caps and middle; the buttons' faces per state over their plates).
std::string DemoNavSkin();
std::string DemoNavBarTexture();
std::string DemoNavButtonsTexture();
std::string DemoLogo(int width, int height);
// An Exif APP1 payload with an image description and a date.
std::string DemoExif(const std::string& description, const std::string& date);

}  // namespace oru
