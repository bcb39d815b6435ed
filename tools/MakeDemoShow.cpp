// MakeDemoShow: writes the demo show project (a title slide, pictures drawn
// here: JPEG slides, the first captioned from its Exif data, a PNG with
// transparency, an animated GIF, two cross-fading tone tracks with clicks at
// a few slide starts, a short MPEG-4 clip, a navigation panel's skin, a
// logo, and its "Project.oru")
// into a folder, for OruPack to pack.
//   MakeDemoShow [--slides N] [--size WxH] <folder>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "tools/DemoShow.h"

namespace {

constexpr int kMaxSlides = 50;

struct TOptions {
  std::string Folder;
  oru::TDemoShowOptions Show;
};

const char* const kUsage =
    "usage: MakeDemoShow [--slides N] [--size WxH] <folder>\n"
    "Writes a demo show project (Project.oru, a title slide, N JPEG picture slides,\n"
    "then a PNG and an animated GIF slide, music of two cross-fading tone tracks,\n"
    "a video clip in a picture slide, a navigation panel with its own skin and a\n"
    "logo) into the folder.\n";

bool ParseSize(const std::string& s, int& w, int& h) {
  std::size_t x = s.find('x');
  if (x == std::string::npos) return false;
  try {
    w = std::stoi(s.substr(0, x));
    h = std::stoi(s.substr(x + 1));
  } catch (const std::exception&) {
    return false;
  }
  return w >= 16 && h >= 16 && w <= 4096 && h <= 4096;
}

}  // namespace

int main(int argc, char** argv) {
  TOptions o;
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-h" || a == "--help") {
      std::cout << kUsage;
      return 0;
    }
    if ((a == "--slides" || a == "--size") && i + 1 < args.size()) {
      const std::string& v = args[++i];
      bool ok = true;
      if (a == "--size") ok = ParseSize(v, o.Show.Width, o.Show.Height);
      else {
        try {
          o.Show.Slides = std::stoi(v);
        } catch (const std::exception&) {
          ok = false;
        }
        ok = ok && o.Show.Slides >= 1 && o.Show.Slides <= kMaxSlides;
      }
      if (!ok) {
        std::cerr << "bad value for " << a << ": " << v << "\n" << kUsage;
        return 2;
      }
    } else if (!a.empty() && a[0] != '-' && o.Folder.empty()) {
      o.Folder = a;
    } else {
      std::cerr << kUsage;
      return 2;
    }
  }
  if (o.Folder.empty()) {
    std::cerr << kUsage;
    return 2;
  }
  oru::TDemoShowLayout layout;
  try {
    layout = oru::WriteDemoShow(o.Folder, o.Show);
  } catch (const std::exception& e) {
    std::cerr << "MakeDemoShow: " << e.what() << "\n";
    return 1;
  }
  std::cout << "Demo show with " << layout.SlideCount << " slides written to " << o.Folder << "\n";
  return 0;
}
