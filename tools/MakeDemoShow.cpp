// MakeDemoShow: writes a small demo show project (pictures drawn here,
// JPEG-encoded, and its "Project.oru") into a folder, for OruPack to pack.
//   MakeDemoShow [--slides N] [--size WxH] <folder>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <iostream>
#include <numbers>
#include <string>
#include <vector>

#include "OruLib2/OruPack/IniText.h"
#include "OruLib2/OruPack/JpegWriter.h"
#include "OruLib2/OruPack/OruProjectWriter.h"

namespace {

constexpr int kMaxSlides = 50;

struct TOptions {
  std::string Folder;
  int Slides = 4;
  int Width = 640;
  int Height = 360;
};

const char* const kUsage =
    "usage: MakeDemoShow [--slides N] [--size WxH] <folder>\n"
    "Writes a demo show project (Project.oru and JPEG pictures) into the folder.\n";

std::uint8_t Clamp8(double v) { return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

// One colour per slide, around the colour wheel.
void Hue(double h, double rgb[3]) {
  for (int c = 0; c < 3; ++c) {
    double k = std::fmod(h * 6 + (c == 0 ? 0 : c == 1 ? 4 : 2), 6.0);
    rgb[c] = 1 - std::clamp(std::min(k, 4 - k), 0.0, 1.0);
  }
}

// A diagonal gradient in the slide's colours with rings around a centre and
// soft stripes, different for every slide.
oru::TJpegOptions SlidePicture(int index, int count, int width, int height) {
  oru::TJpegOptions opts;
  opts.Width = width;
  opts.Height = height;
  opts.Quality = 88;
  double a[3], b[3];
  Hue(double(index) / count, a);
  Hue(double(index) / count + 0.35, b);
  const double cx = width * (0.3 + 0.4 * ((index * 37) % 10) / 10.0);
  const double cy = height * (0.3 + 0.4 * ((index * 53) % 10) / 10.0);
  const double ring = 18.0 + 6 * (index % 4);
  const double stripe = 0.02 + 0.01 * (index % 3);
  opts.Pixel = [=](int x, int y, std::uint8_t* out) {
    double t = double(x + y) / double(width + height);
    double d = std::hypot(x - cx, y - cy);
    double rings = 0.5 + 0.5 * std::cos(d / ring * 2 * std::numbers::pi);
    double fade = std::exp(-d / (0.6 * std::max(width, height)));
    double stripes = 0.9 + 0.1 * std::sin((x - y) * stripe * 2 * std::numbers::pi);
    for (int c = 0; c < 3; ++c) {
      double base = (a[c] * (1 - t) + b[c] * t) * 200 + 30;
      out[c] = Clamp8((base * (1 - 0.45 * fade) + 255 * 0.45 * fade * rings) * stripes);
    }
  };
  return opts;
}

std::string Guid(int n) {
  char s[40];
  std::snprintf(s, sizeof s, "{D3E05A1C-7B42-4C19-9E6F-%012X}", n);
  return s;
}

void WriteShow(const TOptions& o) {
  oru::TOruProjectWriter show(o.Folder);
  oru::TIniText& d = show.Description();
  int guid = 0;
  d.Section("main")
      .Key("OruVersion", "5.0.1")
      .Key("MinorVersion", 13)
      .Key("projectname", "Demo")
      .Key("opt_scr_width", o.Width)
      .Key("opt_scr_height", o.Height)
      // A framed window of the show's size.
      .Key("opt_scr_full", 0)
      .Key("opt_withoutborder", 0)
      .Key("opt_repeat", "repeat")
      .Key("opt_pausewheninactive", 0)
      .Key("opt_scr_caption", "OruViewer demo")
      .Key("ColorManagement", "");
  d.Object("TheEffect", "AnEffect").Key("GUID", Guid(++guid)).Key("time", 1000);
  // The transitions the slides name: a cross-fade and two wipes, each wipe
  // with one action and one direction chosen.
  const char* const kEffects[][5] = {{"dissolve", "Dissolve", "2", "", ""},
                                     {"hourhand", "Clock wipe", "4", "10", "100000000"},
                                     {"shapes", "Shape wipe", "5", "10", "100"}};
  for (const auto& e : kEffects) {
    d.Object(e[0], e[0])
        .Key("GUID", Guid(++guid))
        .Key("caption", e[1])
        .Key("checked", 1)
        .Key("group", "GroupBasic")
        .Key("stdidx", e[2])
        .Key("smoothline", 0);
    if (*e[3]) d.Key("action", e[3]).Key("direction", e[4]);
    d.End();
  }
  d.End();

  const int slideLength = 4000;
  d.Section("Times").Key("opt_slidescount", o.Slides);
  for (int i = 1; i <= o.Slides; ++i) d.Key("opt_synchpos" + std::to_string(i), static_cast<long long>(i) * slideLength);

  for (int i = 0; i < o.Slides; ++i) {
    const std::string picture = "pictures\\slide" + std::to_string(i + 1) + ".jpg";
    show.AddFile(picture, oru::WriteJpeg(SlidePicture(i, o.Slides, o.Width, o.Height)));
    d.Section("Slide" + std::to_string(i + 1)).Key("slideid", "demo" + std::to_string(i + 1)).Key("Picture", picture);
    // The first slide fades in from black; the others cross-fade or wipe in turn.
    const char* effect = i == 0 ? "dissolve" : kEffects[(i - 1) % 3][0];
    d.Object("TheEffect", "AnEffect")
        .Key("GUID", Guid(++guid))
        .Key("ref", effect)
        .Key("time", i == 0 ? 600 : 1000)
        .End();
    d.Object("Image1", "Image").Key("GUID", Guid(++guid)).Key("ImageName", picture);
    // A slow zoom over the slide.
    d.Object("KeyPoint", "KeyPoint").Key("GUID", Guid(++guid)).Key("Origin", "SlideBegin").Key("Time", 0).Key("Zoom", 100).End();
    d.Object("KeyPoint", "KeyPoint").Key("GUID", Guid(++guid)).Key("Origin", "SlideEnd").Key("Time", 0).Key("Zoom", 110).End();
    d.End();
  }
  show.Write();
}

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
      if (a == "--size") ok = ParseSize(v, o.Width, o.Height);
      else {
        try {
          o.Slides = std::stoi(v);
        } catch (const std::exception&) {
          ok = false;
        }
        ok = ok && o.Slides >= 1 && o.Slides <= kMaxSlides;
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
  try {
    WriteShow(o);
  } catch (const std::exception& e) {
    std::cerr << "MakeDemoShow: " << e.what() << "\n";
    return 1;
  }
  std::cout << "Demo show with " << o.Slides << " slides written to " << o.Folder << "\n";
  return 0;
}
