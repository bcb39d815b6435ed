#include "tools/DemoShow.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <stdexcept>
#include <vector>

#include "OruLib2/OruPack/IniText.h"
#include "OruLib2/OruPack/JpegWriter.h"
#include "OruLib2/OruPack/OruProjectWriter.h"
#include "tools/DemoVideo.h"
#include "tools/GifWriter.h"
#include "tools/PngWriter.h"

namespace oru {

namespace {

constexpr int kMaxSlides = 50;

std::uint8_t Clamp8(double v) { return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }
std::uint8_t Channel(std::uint32_t rgb, int c) { return std::uint8_t(rgb >> (16 - 8 * c)); }

// One colour per slide, around the colour wheel.
void Hue(double h, double rgb[3]) {
  for (int c = 0; c < 3; ++c) {
    double k = std::fmod(h * 6 + (c == 0 ? 0 : c == 1 ? 4 : 2), 6.0);
    rgb[c] = 1 - std::clamp(std::min(k, 4 - k), 0.0, 1.0);
  }
}

// A diagonal gradient in the slide's colours with rings around a centre and
// soft stripes, different for every slide.
TJpegOptions SlidePicture(int index, int count, int width, int height) {
  TJpegOptions opts;
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

// Two soft chords, one per track, with a click put at each show time of
// clicks that falls inside the track (which starts at show time start).
std::vector<std::int16_t> DemoTone(std::int64_t start, std::int64_t lengthMs, double low, double high,
                                   const std::vector<std::int64_t>& clicks) {
  const int rate = TDemoShowLayout::kMusicRate;
  std::vector<std::int16_t> pcm(std::size_t(lengthMs * rate / 1000));
  const double level = TDemoShowLayout::kToneLevel * 32767;
  for (std::size_t n = 0; n < pcm.size(); ++n) {
    const double t = double(n) / rate;
    pcm[n] = std::int16_t(std::lround(level * (0.6 * std::sin(2 * std::numbers::pi * low * t) +
                                               0.4 * std::sin(2 * std::numbers::pi * high * t))));
  }
  const std::size_t clickLength = std::size_t(rate) * TDemoShowLayout::kClickMs / 1000;
  const auto click = std::int16_t(std::lround(TDemoShowLayout::kClickLevel * 32767));
  for (std::int64_t c : clicks) {
    const std::int64_t at = (c - start) * rate / 1000;
    if (at < 0) continue;
    for (std::size_t n = std::size_t(at); n < pcm.size() && n < std::size_t(at) + clickLength; ++n) pcm[n] = click;
  }
  return pcm;
}

double SmoothStep(double e0, double e1, double x) {
  double t = std::clamp((x - e0) / (e1 - e0), 0.0, 1.0);
  return t * t * (3 - 2 * t);
}

}  // namespace

// A flat disc whose edge fades out over a wide band, and below it a bar
// whose opacity grows from left to right; the rest is transparent.
std::string DemoPng(int width, int height) {
  std::vector<std::uint8_t> rgba(std::size_t(width) * std::size_t(height) * 4);
  const double cx = width / 2.0, cy = height / 2.0, r = 0.3 * std::min(width, height);
  const std::uint32_t disc = TDemoShowLayout::kPngDisc, bar = 0xF0F0F0;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = &rgba[(std::size_t(y) * std::size_t(width) + std::size_t(x)) * 4];
      const double d = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
      double alpha = 1 - SmoothStep(r * 0.6, r, d);
      std::uint32_t rgb = disc;
      const bool inBar = y >= height * 0.84 && y < height * 0.92 && x >= width * 0.1 && x < width * 0.9;
      if (inBar) {
        alpha = (x - width * 0.1) / (width * 0.8);
        rgb = bar;
      }
      for (int c = 0; c < 3; ++c) p[c] = Channel(rgb, c);
      p[3] = Clamp8(alpha * 255);
    }
  return WritePngRgba(width, height, rgba);
}

// A ball bouncing across the picture over a ground line, one frame per step.
std::string DemoGif(int width, int height) {
  TGifAnimation gif;
  gif.Width = width;
  gif.Height = height;
  for (std::uint32_t rgb : {TDemoShowLayout::kGifBackground, TDemoShowLayout::kGifBall, 0x6E6E82u, 0x0A0A0Fu})
    gif.Palette.push_back({Channel(rgb, 0), Channel(rgb, 1), Channel(rgb, 2)});
  const int n = TDemoShowLayout::kGifFrames;
  const double r = 0.12 * height, ground = 0.85 * height;
  for (int f = 0; f < n; ++f) {
    TGifFrame frame;
    frame.DelayMs = TDemoShowLayout::kGifFrameMs;
    frame.Indices.assign(std::size_t(width) * std::size_t(height), 0);
    const double t = double(f) / n;
    const double bx = width * (0.15 + 0.7 * t);
    const double by = ground - r - 4 * t * (1 - t) * 0.5 * height;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        std::uint8_t& i = frame.Indices[std::size_t(y) * std::size_t(width) + std::size_t(x)];
        if (y >= ground) i = 2;
        // The ball's shadow on the ground.
        if (y >= ground && y < ground + 0.04 * height && std::abs(x - bx) < r * (1 - 0.5 * (ground - r - by) / height))
          i = 3;
        if (std::hypot(x + 0.5 - bx, y + 0.5 - by) <= r) i = 1;
      }
    gif.Frames.push_back(std::move(frame));
  }
  return WriteGif(gif);
}

namespace {

struct TRgbaPicture {
  int Width, Height;
  std::vector<std::uint8_t> Bytes;
  TRgbaPicture(int w, int h) : Width(w), Height(h), Bytes(std::size_t(w) * std::size_t(h) * 4) {}
  void Put(int x, int y, std::uint32_t rgb, double alpha) {
    std::uint8_t* p = &Bytes[(std::size_t(y) * std::size_t(Width) + std::size_t(x)) * 4];
    for (int c = 0; c < 3; ++c) p[c] = Channel(rgb, c);
    p[3] = Clamp8(alpha * 255);
  }
  std::string Png() const { return WritePngRgba(Width, Height, Bytes); }
};

// How much of the pixel at (x, y) a shape covers, from 4 x 4 samples.
template <class Inside>
double Coverage(int x, int y, Inside inside) {
  int n = 0;
  for (int sy = 0; sy < 4; ++sy)
    for (int sx = 0; sx < 4; ++sx) n += inside(x + (sx + 0.5) / 4, y + (sy + 0.5) / 4);
  return n / 16.0;
}

// Inside a rectangle whose corners are rounded with radius r.
bool InRoundRect(double x, double y, double left, double top, double right, double bottom, double r) {
  if (x < left || x >= right || y < top || y >= bottom) return false;
  const double cx = std::clamp(x, left + r, right - r), cy = std::clamp(y, top + r, bottom - r);
  return std::hypot(x - cx, y - cy) <= r;
}

constexpr int kIcon = 28;        // a button face, per action and state
constexpr int kPlatesTop = 4 * kIcon;
constexpr int kCap = 12;         // the bar's rounded ends
constexpr int kBarMiddle = 4;    // the tiled middle
constexpr std::uint32_t kFaceColours[4] = {0xE8ECF0, 0xFFD24A, 0xFFA82E, 0x7A7E84};

// The face of a button, in a kIcon square: previous (a bar and a triangle
// pointing left), pause, next (mirrored), exit (a cross).
bool InFace(int action, double x, double y) {
  const double c = kIcon / 2.0;
  if (action == 2) x = kIcon - x, action = 0;
  switch (action) {
    case 0:
      return (x >= 6 && x < 9 && y >= 7 && y < 21) || (x >= 9 && x < 20 && std::abs(y - c) <= (x - 9) * 0.65);
    case 1:
      return y >= 7 && y < 21 && ((x >= 8 && x < 12) || (x >= 16 && x < 20));
    default:
      return std::abs(x - c) <= 7 && std::abs(y - c) <= 7 &&
             std::min(std::abs((x - c) - (y - c)), std::abs((x - c) + (y - c))) <= 2.2;
  }
}

}  // namespace

std::string DemoNavBarTexture() {
  TRgbaPicture p(2 * kCap + kBarMiddle, TDemoShowLayout::kNavBarHeight);
  const double h = p.Height, w = p.Width;
  for (int y = 0; y < p.Height; ++y)
    for (int x = 0; x < p.Width; ++x) {
      const double a = Coverage(x, y, [&](double sx, double sy) { return InRoundRect(sx, sy, 0, 0, w, h, 10); });
      p.Put(x, y, y == 1 ? 0x3A4656 : 0x141A22, a * 0.7);
    }
  return p.Png();
}

std::string DemoNavButtonsTexture() {
  const int plate = TDemoShowLayout::kNavButtonSize;
  TRgbaPicture p(4 * kIcon, kPlatesTop + plate);
  for (int state = 0; state < 4; ++state)
    for (int action = 0; action < 4; ++action)
      for (int y = 0; y < kIcon; ++y)
        for (int x = 0; x < kIcon; ++x)
          p.Put(action * kIcon + x, state * kIcon + y, kFaceColours[state],
                Coverage(x, y, [&](double sx, double sy) { return InFace(action, sx, sy); }));
  // The plates behind the faces: normal, hover, pressed.
  const std::uint32_t plates[3] = {0x26303C, 0x34506E, 0x1C3A5A};
  for (int k = 0; k < 3; ++k)
    for (int y = 0; y < plate; ++y)
      for (int x = 0; x < plate; ++x)
        p.Put(k * plate + x, kPlatesTop + y, plates[k],
              0.85 * Coverage(x, y, [&](double sx, double sy) {
                return InRoundRect(sx, sy, 1, 1, plate - 1, plate - 1, 7);
              }));
  return p.Png();
}

std::string DemoNavSkin() {
  using L = TDemoShowLayout;
  const auto rect = [](int x, int y, int w, int h) {
    return std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(w) + "," + std::to_string(h);
  };
  const int vertical = (L::kNavBarHeight - L::kNavButtonSize) / 2;
  const int space = L::kNavButtonStep - L::kNavButtonSize;
  const int left = L::kNavButtonLeft - kCap;
  // The button cell's right margin and the last button's space together
  // match the left margin.
  std::string s = "[Common]\nRecommendedScale=8\nColsCount=3\nRowsCount=1\n[CellWithObjects]\nCell=2,1\n";
  s += "LeftOffset=" + std::to_string(left) + "\nTopOffset=" + std::to_string(vertical) +
       "\nRightOffset=" + std::to_string(left - space) + "\nBottomOffset=" + std::to_string(vertical) + "\n";
  const int caps[3][2] = {{0, kCap}, {kCap, kBarMiddle}, {kCap + kBarMiddle, kCap}};
  for (int c = 0; c < 3; ++c)
    s += "[Cell(" + std::to_string(c + 1) + ":1)]\nTextureType=" + (c == 1 ? "repeat" : "") +
         "\nBounds=" + rect(caps[c][0], 0, caps[c][1], L::kNavBarHeight) + "\nflnm_Texture=bar.png\n";
  s += "[Objects]\nCount=" + std::to_string(L::kNavButtonCount) + "\n";
  for (int i = 1; i <= L::kNavButtonCount; ++i)
    s += "[Object" + std::to_string(i) + "]\nShiftPressed=1\nGrayNormal=0\nGrayDisabled=0\nSpace=" +
         std::to_string(space) + "\n";
  for (int a = 0; a < L::kNavButtonCount; ++a) {
    const std::string name = L::kNavButtons[a];
    s += "[Action-" + name + "]\nActionType=" + name + "\nAction=" + name + "\nflnm_BtnTextureNormal=buttons.png\n";
    const char* const states[] = {"Normal", "Hover", "Pressed", "Disabled"};
    for (int k = 0; k < 4; ++k)
      s += std::string("BtnTexture") + states[k] + "Bounds=" + rect(a * kIcon, k * kIcon, kIcon, kIcon) + "\n";
    s += "flnm_BgTextureNormal=buttons.png\n";
    for (int k = 0; k < 3; ++k)
      s += std::string("BgTexture") + states[k] + "Bounds=" +
           rect(k * L::kNavButtonSize, kPlatesTop, L::kNavButtonSize, L::kNavButtonSize) + "\n";
  }
  return s;
}

// A rounded plate in a warm gradient with a light ring on its left.
std::string DemoLogo(int width, int height) {
  TRgbaPicture p(width, height);
  const double r = 0.32 * height, cx = 0.5 * height, cy = 0.5 * height;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const double plate = Coverage(x, y, [&](double sx, double sy) {
        return InRoundRect(sx, sy, 0, 0, width, height, 0.25 * height);
      });
      const double ring = Coverage(x, y, [&](double sx, double sy) {
        return std::abs(std::hypot(sx - cx, sy - cy) - r) <= 0.07 * height;
      });
      const double t = double(x) / width;
      std::uint32_t rgb =
          (std::uint32_t(Clamp8(200 - 80 * t)) << 16) | (std::uint32_t(Clamp8(70 + 40 * t)) << 8) | 0x30;
      if (ring > 0.5 || (x > height && x < width - 0.15 * height && std::abs(y - cy) < 0.08 * height)) rgb = 0xF4F0E8;
      p.Put(x, y, rgb, plate);
    }
  return p.Png();
}

std::string DemoWav(const std::vector<std::int16_t>& samples, int rate) {
  std::string w;
  auto u16 = [&w](unsigned v) { w += char(v & 0xFF), w += char(v >> 8 & 0xFF); };
  auto u32 = [&](unsigned v) { u16(v & 0xFFFF), u16(v >> 16); };
  const auto bytes = unsigned(samples.size() * 2);
  w += "RIFF", u32(36 + bytes), w += "WAVE";
  w += "fmt ", u32(16), u16(1), u16(1), u32(unsigned(rate)), u32(unsigned(rate) * 2), u16(2), u16(16);
  w += "data", u32(bytes);
  for (std::int16_t v : samples) u16(std::uint16_t(v));
  return w;
}

std::string DemoExif(const std::string& description, const std::string& date) {
  // Little-endian TIFF: one directory of two ASCII fields, their texts after it.
  std::string t = std::string("II*\0", 4);
  auto u16 = [&t](unsigned v) { t += char(v & 0xFF), t += char(v >> 8 & 0xFF); };
  auto u32 = [&](unsigned v) { u16(v & 0xFFFF), u16(v >> 16); };
  u32(8);
  u16(2);
  const unsigned data = 8 + 2 + 2 * 12 + 4;
  const unsigned len1 = unsigned(description.size()) + 1, len2 = unsigned(date.size()) + 1;
  u16(0x010E), u16(2), u32(len1), u32(data);         // ImageDescription
  u16(0x0132), u16(2), u32(len2), u32(data + len1);  // DateTime
  u32(0);
  t += description + '\0' + date + '\0';
  return std::string("Exif\0\0", 6) + t;
}

TDemoShowLayout WriteDemoShow(const std::string& folder, const TDemoShowOptions& o) {
  if (o.Slides < 1 || o.Slides > kMaxSlides || o.Width < 16 || o.Height < 16 || o.Width > 4096 || o.Height > 4096)
    throw std::runtime_error("demo show options out of range");
  TDemoShowLayout layout;
  layout.TitleSlide = 1;
  layout.CaptionSlide = 2;
  layout.PngSlide = o.Slides + 2;
  layout.GifSlide = o.Slides + 3;
  layout.TourSlide = o.Slides + 4;
  layout.SlideCount = o.Slides + 3 + TDemoShowLayout::kTourSlides;
  // The second track comes in the middle of a slide halfway through, well
  // after the clicks.
  layout.MusicCross = TDemoShowLayout::SlideStart(layout.SlideCount / 2 + 1) + 1000;
  for (int slide : TDemoShowLayout::kClickSlides) layout.Clicks.push_back(TDemoShowLayout::SlideStart(slide));
  // The clip plays on the second picture slide (the captioned one when there
  // is only one).
  if (o.Video) layout.VideoSlide = o.Slides >= 2 ? layout.CaptionSlide + 1 : layout.CaptionSlide;

  TOruProjectWriter show(folder);
  TIniText& d = show.Description();
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
      // The music follows the show's time, also when it starts elsewhere.
      .Key("opt_syncmode", 1)
      .Key("ColorManagement", "")
      // The logo in the top right corner.
      .Key("opt_logo", 1)
      .Key("opt_logo_fn", "pictures\\logo.png")
      .Key("opt_logo_pos", 6)
      .Key("opt_logo_offset", TDemoShowLayout::kLogoOffset)
      .Key("opt_logo_size", TDemoShowLayout::kLogoSize)
      .Key("opt_logo_opacity", TDemoShowLayout::kLogoOpacity)
      // The navigation panel at the bottom, shown while the pointer moves.
      .Key("opt_fcp", 1)
      .Key("opt_nav_inifile", "skins\\nav.ini")
      .Key("opt_cp", "Bottom")
      .Key("opt_nav_offset", TDemoShowLayout::kNavOffset)
      .Key("opt_nav_viewscale", TDemoShowLayout::kNavViewScale)
      .Key("opt_nav_wndbottom", 1)
      .Key("opt_hidenavbar", 1)
      .Key("opt_nav_hideinterval", TDemoShowLayout::kNavHideSeconds)
      .Key("opt_nav_hidefadeout", 600)
      .Key("opt_nav_fadein", 250)
      .Key("opt_newnavbuttons_count", TDemoShowLayout::kNavButtonCount);
  for (int i = 0; i < TDemoShowLayout::kNavButtonCount; ++i)
    d.Key("opt_newnavbutton" + std::to_string(i + 1), TDemoShowLayout::kNavButtons[i]);
  show.AddFile("skins\\nav.ini", DemoNavSkin());
  show.AddFile("skins\\bar.png", DemoNavBarTexture());
  show.AddFile("skins\\buttons.png", DemoNavButtonsTexture());
  show.AddFile("pictures\\logo.png", DemoLogo(TDemoShowLayout::kLogoWidth, TDemoShowLayout::kLogoHeight));
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
  // The tour's transitions that have no entry above: a roll, a card turning
  // over and two slides changing places. (Entries go by their family word:
  // the tour's clock is the "hourhand" entry with a direction of its own.)
  d.Object("curling", "curling").Key("GUID", Guid(++guid)).Key("caption", "Roll").Key("checked", 1)
      .Key("group", "GroupBasic").Key("stdidx", 11).Key("smoothline", 0).Key("action", "10")
      .Key("direction", "00000001").Key("usecolor", 0).Key("usevolume", 0).Key("pipe", 1).Key("radius", "0.1")
      .Key("3dvolume", "0.125").End();
  d.Object("flip", "flip").Key("GUID", Guid(++guid)).Key("caption", "Overturn").Key("checked", 1)
      .Key("group", "GroupBasic").Key("stdidx", 12).Key("smoothline", 0).Key("direction", "0010")
      .Key("spin_center", 0).Key("nonlinear_speed", 1).Key("3dvolume", "0.5").End();
  d.Object("swap", "swap").Key("GUID", Guid(++guid)).Key("caption", "Two slides").Key("checked", 1)
      .Key("group", "GroupBasic").Key("stdidx", 13).Key("smoothline", 0).Key("direction", "0010")
      .Key("depth", 4).Key("distance", 1).Key("angle", 60).End();
  d.End();
  {
    const std::int64_t length = std::int64_t(layout.SlideCount) * TDemoShowLayout::kSlideLengthMs;
    const std::int64_t first = layout.MusicCross + TDemoShowLayout::kMusicCrossMs;
    const int rate = TDemoShowLayout::kMusicRate;
    show.AddFile("music\\tone1.wav", DemoWav(DemoTone(0, first, 220, 330, layout.Clicks), rate));
    show.AddFile("music\\tone2.wav",
                 DemoWav(DemoTone(layout.MusicCross, length - layout.MusicCross, 196, 294, layout.Clicks), rate));
    d.Object("Music", "Music").Key("GUID", Guid(++guid));
    d.Object("T1", "TMusicTrack").Key("GUID", Guid(++guid));
    d.Object("I1", "TMusicItem").Key("GUID", Guid(++guid)).Key("FileName", "music\\tone1.wav")
        .Key("Duration", first).Key("Volume", 100).Key("FadeIn", 500).End();
    // Cross-faded in: it starts kMusicCrossMs before the first one ends.
    d.Object("I2", "TMusicItem").Key("GUID", Guid(++guid)).Key("FileName", "music\\tone2.wav")
        .Key("Duration", length - layout.MusicCross).Key("Volume", 100)
        .Key("Cross", TDemoShowLayout::kMusicCrossMs).Key("FadeOut", 1500).End();
    d.End();
    d.End();
  }

  const int slideLength = TDemoShowLayout::kSlideLengthMs;
  d.Section("Times").Key("opt_slidescount", layout.SlideCount);
  for (int i = 1; i <= layout.SlideCount; ++i)
    d.Key("opt_synchpos" + std::to_string(i), static_cast<long long>(i) * slideLength);

  auto effect = [&](const char* ref, int time) {
    d.Object("TheEffect", "AnEffect").Key("GUID", Guid(++guid)).Key("ref", ref).Key("time", time).End();
  };
  // The title: white text over a plain background, faded in from black.
  d.Section("Slide" + std::to_string(layout.TitleSlide))
      .Key("slideid", "title")
      .Key("bstyle", 1)
      .Key("bcolor", static_cast<long long>(TDemoShowLayout::kTitleBackground));
  effect("dissolve", 600);
  d.Object("Title", "Text")
      .Key("GUID", Guid(++guid))
      .Key("Text", "OruViewer\\nDemo show")
      .Key("FontName", "DejaVu Sans")
      .Key("FontStyle", "Bold")
      .Key("TextColor", "255,255,255");
  d.Object("KeyPoint", "KeyPoint").Key("GUID", Guid(++guid)).Key("Origin", "SlideBegin").Key("Time", 0)
      .Key("ScaleX", 30).Key("ScaleY", 30).End();
  d.End();

  for (int i = 0; i < o.Slides; ++i) {
    const std::string picture = "pictures\\slide" + std::to_string(i + 1) + ".jpg";
    TJpegOptions jpeg = SlidePicture(i, o.Slides, o.Width, o.Height);
    const bool caption = i + 2 == layout.CaptionSlide;
    if (caption)
      jpeg.Markers.emplace_back(0xE1, DemoExif(TDemoShowLayout::kCaptionDescription, TDemoShowLayout::kCaptionDate));
    show.AddFile(picture, WriteJpeg(jpeg));
    d.Section("Slide" + std::to_string(i + 2)).Key("slideid", "demo" + std::to_string(i + 1)).Key("Picture", picture);
    // The slides cross-fade or wipe in turn.
    effect(kEffects[i % 3][0], TDemoShowLayout::kTransitionMs);
    d.Object("Image1", "Image").Key("GUID", Guid(++guid)).Key("ImageName", picture).Key("ImageIndex", i);
    // A slow zoom over the slide.
    d.Object("KeyPoint", "KeyPoint").Key("GUID", Guid(++guid)).Key("Origin", "SlideBegin").Key("Time", 0).Key("Zoom", 100).End();
    d.Object("KeyPoint", "KeyPoint").Key("GUID", Guid(++guid)).Key("Origin", "SlideEnd").Key("Time", 0).Key("Zoom", 110).End();
    d.End();
    if (i + 2 == layout.VideoSlide) {
      TDemoVideoOptions v;
      v.Width = TDemoShowLayout::kVideoWidth;
      v.Height = TDemoShowLayout::kVideoHeight;
      v.Fps = TDemoShowLayout::kVideoFps;
      v.Frames = TDemoShowLayout::kVideoFrames;
      const std::string clip = "video\\clip.mp4";
      show.AddFile(clip, DemoVideo(v));
      d.Object("Clip", "Video")
          .Key("GUID", Guid(++guid))
          .Key("FileName", clip)
          .Key("Duration", std::int64_t(v.Frames) * 1000 / v.Fps)
          .Key("StartVideoTime", 0)
          .Key("StartORUTime", TDemoShowLayout::SlideStart(layout.VideoSlide) + TDemoShowLayout::kVideoDelayMs)
          .Key("FPSMultiplier", 1)
          .Key("Mute", 1);
      d.Object("KeyPoint", "KeyPoint").Key("GUID", Guid(++guid)).Key("Origin", "SlideBegin").Key("Time", 0)
          .Key("Position", "-50,-50").Key("ScaleX", 45).Key("ScaleY", 45).End();
      d.End();
    }
    if (caption) {
      const std::uint32_t c = TDemoShowLayout::kCaptionColour;
      const std::string rgb =
          std::to_string(c >> 16) + "," + std::to_string(c >> 8 & 0xFF) + "," + std::to_string(c & 0xFF);
      d.Object("Caption", "Text")
          .Key("GUID", Guid(++guid))
          .Key("Text", "<%MainImg.Exif.Description%>, <%MainImg.Exif.Date%>")
          .Key("FontName", "DejaVu Sans")
          .Key("TextColor", rgb)
          .Key("ShadowEnable", 0);
      d.Object("KeyPoint", "KeyPoint").Key("GUID", Guid(++guid)).Key("Origin", "SlideBegin").Key("Time", 0)
          .Key("Position", "0,70").Key("ScaleX", 8).Key("ScaleY", 8).End();
      d.End();
    }
  }

  // The PNG over a plain background: of the slide's shape, so that it fills
  // the slide and its transparent corners show the background.
  {
    const std::string picture = "pictures\\glow.png";
    show.AddFile(picture, DemoPng(o.Width, o.Height));
    d.Section("Slide" + std::to_string(layout.PngSlide))
        .Key("slideid", "png")
        .Key("Picture", picture)
        .Key("bstyle", 1)
        .Key("bcolor", static_cast<long long>(TDemoShowLayout::kPngBackground));
    effect("dissolve", TDemoShowLayout::kTransitionMs);
    d.Object("Image1", "Image").Key("GUID", Guid(++guid)).Key("ImageName", picture).End();
  }
  // The GIF as an animation strip of its frames, one row.
  {
    const std::string picture = "pictures\\ball.gif";
    show.AddFile(picture, DemoGif(std::max(16, o.Width / 2), std::max(16, o.Height / 2)));
    d.Section("Slide" + std::to_string(layout.GifSlide))
        .Key("slideid", "gif")
        .Key("Picture", picture)
        .Key("bstyle", 1)
        .Key("bcolor", static_cast<long long>(TDemoShowLayout::kGifBackground));
    effect("hourhand", TDemoShowLayout::kTransitionMs);
    d.Object("Image1", "Image")
        .Key("GUID", Guid(++guid))
        .Key("ImageName", picture)
        .Key("AnimEnable", 1)
        .Key("AnimColumns", TDemoShowLayout::kGifFrames)
        .Key("AnimRows", 1)
        .Key("AnimCount", TDemoShowLayout::kGifFrames)
        .Key("AnimInterval", TDemoShowLayout::kGifFrameMs)
        .Key("AnimRepCount", 0)
        .End();
  }
  // The tour: the picture slides again, each entering with its transition.
  for (int i = 0; i < TDemoShowLayout::kTourSlides; ++i) {
    const std::string picture = "pictures\\slide" + std::to_string(i % o.Slides + 1) + ".jpg";
    d.Section("Slide" + std::to_string(layout.TourSlide + i))
        .Key("slideid", std::string("tour_") + TDemoShowLayout::kTourEffects[i])
        .Key("Picture", picture);
    const std::string kind = TDemoShowLayout::kTourEffects[i];
    // The hour hand about the centre cell is the clock; the "hourhand"
    // entry's own direction (a corner) is a broom.
    const bool hand = kind == "clock" || kind == "broom";
    d.Object("TheEffect", "AnEffect")
        .Key("GUID", Guid(++guid))
        .Key("ref", hand ? "hourhand" : kind)
        .Key("time", TDemoShowLayout::kTransitionMs);
    if (kind == "clock") d.Key("direction", "000010000");
    d.End();
    d.Object("Image1", "Image").Key("GUID", Guid(++guid)).Key("ImageName", picture).Key("ImageIndex", i % o.Slides);
    d.End();
  }
  show.Write();
  return layout;
}

}  // namespace oru
