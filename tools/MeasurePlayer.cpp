// MeasurePlayer: the shows and the timed player run behind measure-player.sh.
//   MeasurePlayer shows <folder>         writes first/, fades/, still/,
//                                        fades24/ and fades24-4k/
//   MeasurePlayer transition-shows <folder>
//                                        writes trans24/<kind>/ for each
//                                        transition kind (see kTransitions)
//   MeasurePlayer opening-shows <folder> writes solid<n>/ (n slides of one
//                                        colour each, n = 1000, 10000,
//                                        100000) and pictures10000/ (each
//                                        slide its own picture file), with
//                                        list<n>.ffconcat: the same pictures
//                                        (one file for the solid shows) as a
//                                        list for FFmpeg's concat reader,
//                                        named relative to <folder>
//   MeasurePlayer play <player switches> runs the player as OruViewer5 does,
//                                        timing every presented frame
// "play" prints on standard error, after the run:
//   first-frame-ns <wall clock, ns since 1970, of the first presented frame>
//   first-picture-ns <the same for the first frame whose centre is not black>
//                    (stepped runs only: real-clock frames carry no pixels)
//   frames <n> span-ms <drawing time> fps <f> longest-ms <l> over-20ms <k>
//   idle-gaps <g>   (pauses over 500 ms while nothing changed: not frames)
//   longest-running-ms <l> over-20ms-running <k>   (the same over the frames
//                    during which the show clock ran at least half the time:
//                    a start that waits for its slides stands still)
// MEASURE_PLAYER_FIRST_FRAME=1 ends the run at its first presented frame,
// after printing first-frame-ns and peak-rss-kb (the resident peak so far).
// MEASURE_PLAYER_FRAMES=<file> lists every frame: wall ms, show time ms; its
// first line is "# steady-ns <n>", the monotonic clock of the first frame
// (to lay the frames beside a trace of the run).
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iostream>
#include <mutex>
#include <numbers>
#include <stdexcept>
#include <string>
#include <vector>

#include "Oru/OruViewer/OruModules.h"
#include "Oru/OruViewer/OruStartup.h"
#include "OruLib2/OruPack/IniText.h"
#include "OruLib2/OruPack/JpegWriter.h"
#include "OruLib2/OruPack/OruProjectWriter.h"
#include "Platform/PlatFrameClock.h"
#include "Platform/PlatSystem.h"
#include "ZmLib/Win32/SysObj2.h"

namespace {

std::uint8_t Clamp8(double v) { return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

// A photo-like picture: a gradient with rings and stripes, so that the
// encoder and decoder do real work (a flat picture decodes far too fast).
std::string Picture(int width, int height, int seed) {
  oru::TJpegOptions opts;
  opts.Width = width;
  opts.Height = height;
  opts.Quality = 88;
  const double cx = width * (0.3 + 0.07 * seed), cy = height * (0.4 + 0.05 * seed);
  const double ring = width / 80.0;
  opts.Pixel = [=](int x, int y, std::uint8_t* out) {
    const double t = double(x + y) / double(width + height);
    const double d = std::hypot(x - cx, y - cy);
    const double rings = 0.5 + 0.5 * std::cos(d / ring * 2 * std::numbers::pi);
    const double stripes = 0.9 + 0.1 * std::sin((x - y) * 0.03 * 2 * std::numbers::pi);
    const double tone[3] = {0.2 + 0.6 * t, 0.5 + 0.3 * std::sin(seed + t * 3), 0.8 - 0.6 * t};
    for (int c = 0; c < 3; ++c) out[c] = Clamp8((tone[c] * 200 + 40 * rings) * stripes);
  };
  return oru::WriteJpeg(opts);
}

std::string Guid(int n) {
  char s[40];
  std::snprintf(s, sizeof s, "{5A0E93C1-2B7D-4E58-A1F3-%012X}", n);
  return s;
}

// The transitions a show can be written with: the word of the show's
// effect entry and its keys (soft edges a tenth of the width where the kind
// has them).
struct TTransition {
  const char* Name;  // the folder under trans24/
  const char* Word;
  int Family;  // the entry's "stdidx"
  std::vector<std::pair<std::string, std::string>> Keys;
};

const std::vector<TTransition>& Transitions() {
  static const std::vector<TTransition> kinds = {
      {"fade", "dissolve", 2, {{"smoothline", "0"}}},
      {"circle", "shapes", 5, {{"smoothline", "0.1"}, {"action", "01"}, {"direction", "100"}, {"centerx", "50"},
                            {"centery", "50"}}},
      {"clock", "hourhand", 4, {{"smoothline", "0.1"}, {"action", "10"}, {"direction", "000010000"}, {"offset", "0.1"}}},
      {"broom", "hourhand", 4, {{"smoothline", "0.1"}, {"action", "10"}, {"direction", "000100000"}, {"offset", "0.1"}}},
      {"roll", "curling", 11, {{"smoothline", "0"}, {"action", "10"}, {"direction", "00010000"}, {"usecolor", "0"},
                           {"usevolume", "0"}, {"pipe", "0"}, {"radius", "0.1"}, {"3dvolume", "0.125"}}},
      {"mosaic", "mosaic", 8, {{"smoothline", "0"}, {"cols", "32"}, {"rows", "18"}, {"appearence", "50"}}},
      {"slide", "slide", 10, {{"smoothline", "0"}, {"direction", "1000"}}},
      {"push", "push", 9, {{"smoothline", "0"}, {"direction", "1000"}}},
      {"overturn", "flip", 12, {{"smoothline", "0"}, {"direction", "0010"}, {"spin_center", "0"},
                            {"nonlinear_speed", "1"}, {"3dvolume", "0.5"}}},
  };
  return kinds;
}

// A borderless window (1920 x 1080 unless given); slides of Length ms, each showing its
// picture; slides after the first enter with the transition over Fade ms
// (a cross-fade unless one is given); Zoom adds scale key frames (100 % to
// 110 % over each slide).
void WriteShow(const std::string& folder, const std::vector<std::string>& pictures, long long length, long long fade,
               bool zoom, const TTransition* transition = nullptr, int width = 1920, int height = 1080) {
  static const TTransition kFade = Transitions().front();
  const TTransition& effect = transition ? *transition : kFade;
  oru::TOruProjectWriter show(folder);
  oru::TIniText& d = show.Description();
  int guid = 0;
  d.Section("main")
      .Key("OruVersion", "5.0.1")
      .Key("MinorVersion", 13)
      .Key("projectname", "Measure")
      .Key("opt_scr_width", width)
      .Key("opt_scr_height", height)
      .Key("opt_scr_full", 0)
      .Key("opt_withoutborder", 1)
      .Key("opt_repeat", "close")
      .Key("opt_pausewheninactive", 0)
      .Key("ColorManagement", "");
  d.Object("TheEffect", "AnEffect").Key("GUID", Guid(++guid)).Key("time", 1000);
  d.Object(effect.Word, effect.Word)
      .Key("GUID", Guid(++guid))
      .Key("caption", effect.Name)
      .Key("checked", 1)
      .Key("group", "GroupBasic")
      .Key("stdidx", effect.Family);
  for (const auto& [key, value] : effect.Keys) d.Key(key, value);
  d.End();
  d.End();
  const long long count = static_cast<long long>(pictures.size());
  d.Section("Times").Key("opt_slidescount", count);
  for (long long i = 1; i <= count; ++i) d.Key("opt_synchpos" + std::to_string(i), i * length);
  for (std::size_t i = 0; i < pictures.size(); ++i) {
    const std::string name = "pictures\\p" + std::to_string(i + 1) + ".jpg";
    show.AddFile(name, pictures[i]);
    std::string id = "m";
    id += std::to_string(i + 1);
    d.Section("Slide" + std::to_string(i + 1)).Key("slideid", id).Key("Picture", name);
    d.Object("TheEffect", "AnEffect")
        .Key("GUID", Guid(++guid))
        .Key("ref", i == 0 ? "quick" : effect.Word)
        .Key("time", i == 0 ? 0 : fade)
        .End();
    d.Object("Image1", "Image").Key("GUID", Guid(++guid)).Key("ImageName", name);
    if (zoom) {
      d.Object("KeyPoint", "KeyPoint").Key("GUID", Guid(++guid)).Key("Origin", "SlideBegin").Key("Time", 0)
          .Key("ScaleX", 100).Key("ScaleY", 100).Key("grps", 4).End();
      d.Object("KeyPoint", "KeyPoint").Key("GUID", Guid(++guid)).Key("Origin", "SlideEnd").Key("Time", 0)
          .Key("ScaleX", 110).Key("ScaleY", 110).Key("grps", 4).End();
    }
    d.End();
  }
  show.Write();
}

int WriteShows(const std::string& folder) {
  // 24 megapixels, shown in a 1080p window.
  WriteShow(folder + "/first", {Picture(6000, 4000, 1)}, 3000, 0, false);
  std::vector<std::string> hd;
  for (int i = 0; i < 6; ++i) hd.push_back(Picture(1920, 1080, i));
  WriteShow(folder + "/fades", hd, 2000, 1000, true);
  WriteShow(folder + "/still", {hd[0]}, 600000, 0, false);
  // Camera-sized pictures held still: each is drawn at 1620 x 1080.
  std::vector<std::string> camera;
  for (int i = 0; i < 6; ++i) camera.push_back(Picture(6000, 4000, i));
  WriteShow(folder + "/fades24", camera, 2000, 1000, false);
  // The same at 3840 x 2160 (headless: with ZM_SCREEN_SIZE=3840x2160).
  WriteShow(folder + "/fades24-4k", camera, 2000, 1000, false, nullptr, 3840, 2160);
  std::cout << "shows written to " << folder << "\n";
  return 0;
}

// The camera-sized show of fades24/ once for every transition kind.
int WriteTransitionShows(const std::string& folder) {
  std::vector<std::string> camera;
  for (int i = 0; i < 6; ++i) camera.push_back(Picture(6000, 4000, i));
  for (const TTransition& t : Transitions()) WriteShow(folder + "/trans24/" + t.Name, camera, 2000, 1000, false, &t);
  std::cout << "shows written to " << folder << "/trans24\n";
  return 0;
}

// Opening figures: many short slides, each entering with a cross-fade. A
// solid slide has only its colour; a picture slide shows its own file.
void WriteOpeningShow(const std::string& folder, int count, bool pictures) {
  oru::TOruProjectWriter show(folder);
  oru::TIniText& d = show.Description();
  d.Section("main")
      .Key("OruVersion", "5.0.1")
      .Key("MinorVersion", 13)
      .Key("projectname", "Opening")
      .Key("opt_scr_width", 1280)
      .Key("opt_scr_height", 720)
      .Key("opt_scr_full", 0)
      .Key("opt_withoutborder", 1)
      .Key("opt_repeat", "close")
      .Key("opt_pausewheninactive", 0)
      .Key("ColorManagement", "");
  int guid = 0;
  d.Object("TheEffect", "AnEffect").Key("GUID", Guid(++guid)).Key("time", 500);
  d.Object("dissolve", "dissolve").Key("GUID", Guid(++guid)).Key("caption", "fade").Key("checked", 1)
      .Key("group", "GroupBasic").Key("stdidx", 2).Key("smoothline", "0").End();
  d.End();
  d.Section("Times").Key("opt_slidescount", count);
  for (int i = 1; i <= count; ++i) d.Key("opt_synchpos" + std::to_string(i), i * 3000LL);
  std::string picture;
  if (pictures) picture = Picture(160, 120, 1);
  for (int i = 1; i <= count; ++i) {
    const std::string n = std::to_string(i);
    d.Section("Slide" + n).Key("slideid", "s" + n);
    if (pictures) {
      const std::string name = "pictures\\p" + n + ".jpg";
      show.AddFile(name, picture);
      d.Key("Picture", name);
    } else {
      char color[16];
      std::snprintf(color, sizeof color, "0x%06X", unsigned(i * 2654435761u) & 0xFFFFFFu);
      d.Key("bstyle", 1).Key("bcolor", color);
    }
    d.Object("TheEffect", "AnEffect")
        .Key("GUID", Guid(++guid))
        .Key("ref", i == 1 ? "quick" : "dissolve")
        .Key("time", i == 1 ? 0 : 500)
        .End();
    if (pictures) d.Object("Image1", "Image").Key("GUID", Guid(++guid)).Key("ImageName", "pictures\\p" + n + ".jpg").End();
  }
  show.Write();
}

// FFmpeg's concat list of Count entries of 3 s: the show's pictures
// (Folder/pictures/p<i>.jpg), or one solid picture (solid.jpg) named again
// and again. The names are relative to the list's own folder, as a
// list for the pictures beside it is written: FFmpeg's time for a long list
// grows with the length of every name (13 % more processor time with a
// folder path of 30 characters before each of 100,000), which would make the
// figure depend on where the list lies.
void WriteConcatList(const std::string& file, const std::string& folder, int count, bool pictures) {
  FILE* out = std::fopen(file.c_str(), "w");
  if (!out) throw std::runtime_error("cannot write " + file);
  std::fprintf(out, "ffconcat version 1.0\n");
  for (int i = 1; i <= count; ++i) {
    if (pictures)
      std::fprintf(out, "file '%s/pictures/p%d.jpg'\nduration 3\n", folder.c_str(), i);
    else
      std::fprintf(out, "file 'solid.jpg'\nduration 3\n");
  }
  std::fclose(out);
}

int WriteOpeningShows(const std::string& folder) {
  for (int count : {1000, 10000, 100000}) {
    WriteOpeningShow(folder + "/solid" + std::to_string(count), count, false);
    WriteConcatList(folder + "/list" + std::to_string(count) + ".ffconcat", "", count, false);
  }
  WriteOpeningShow(folder + "/pictures10000", 10000, true);
  WriteConcatList(folder + "/pictures10000.ffconcat", "pictures10000", 10000, true);
  oru::TJpegOptions solid;
  solid.Width = 320;
  solid.Height = 240;
  solid.Pixel = [](int, int, std::uint8_t* c) { c[0] = 0x20, c[1] = 0x40, c[2] = 0x60; };
  const std::string bytes = oru::WriteJpeg(solid);
  FILE* out = std::fopen((folder + "/solid.jpg").c_str(), "wb");
  if (!out || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size()) throw std::runtime_error("solid.jpg");
  std::fclose(out);
  std::cout << "shows written to " << folder << "\n";
  return 0;
}

struct TWatch {
  std::mutex Lock;
  std::vector<std::chrono::steady_clock::time_point> Frames;
  std::vector<std::int64_t> ShowTimes;
  std::int64_t FirstFrameNs = -1;
  std::int64_t FirstPictureNs = -1;
};

// The resident peak of this process in kB (VmHWM); -1 when not known.
long long PeakResidentKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::atoll(line.c_str() + 6);
  return -1;
}

std::int64_t WallNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

int Play(int argc, char** argv) {
  TWatch watch;
  const char* firstOnly = std::getenv("MEASURE_PLAYER_FIRST_FRAME");
  const bool endAtFirst = firstOnly && *firstOnly == '1';
  plat::SetFrameObserver([&watch, endAtFirst](std::int64_t, std::int64_t showTime, const std::uint32_t* bits, int w,
                                              int h) {
    const auto now = std::chrono::steady_clock::now();
    const std::int64_t wall = WallNs();
    if (endAtFirst) {
      // Nothing after the first frame is measured: no teardown either.
      std::fprintf(stderr, "first-frame-ns %lld\npeak-rss-kb %lld\n", static_cast<long long>(wall), PeakResidentKb());
      std::fflush(stderr);
      std::_Exit(0);
    }
    std::lock_guard<std::mutex> l(watch.Lock);
    if (watch.FirstFrameNs < 0) watch.FirstFrameNs = wall;
    if (watch.FirstPictureNs < 0 && bits && w > 0 && h > 0 &&
        (bits[std::size_t(h / 2) * std::size_t(w) + std::size_t(w / 2)] & 0xFFFFFF) != 0)
      watch.FirstPictureNs = wall;
    watch.Frames.push_back(now);
    watch.ShowTimes.push_back(showTime);
  });
  plat::SetArguments(argc, argv);
  int status = 0;
  try {
    zm::TModuleRunner modules(oru::ProgramModules());
    status = oru::RunProgram();
  } catch (...) {
    zm::ShowCurrentException();
    status = 1;
  }
  plat::SetFrameObserver(nullptr);

  std::lock_guard<std::mutex> l(watch.Lock);
  const auto& f = watch.Frames;
  // A still slide is not drawn again: gaps over half a second are idle
  // time, not frames, and count neither in the rate nor as the longest.
  double longest = 0, span = 0, idle = 0, longestRunning = 0;
  int over = 0, gaps = 0, overRunning = 0;
  for (std::size_t i = 1; i < f.size(); ++i) {
    const double ms = std::chrono::duration<double, std::milli>(f[i] - f[i - 1]).count();
    if (ms > 500) {
      idle += ms;
      ++gaps;
      continue;
    }
    longest = std::max(longest, ms);
    if (ms > 20) ++over;
    if (double(watch.ShowTimes[i] - watch.ShowTimes[i - 1]) >= ms / 2) {
      longestRunning = std::max(longestRunning, ms);
      if (ms > 20) ++overRunning;
    }
  }
  // MEASURE_PLAYER_FRAMES=file: every frame as "wall ms, show time ms".
  if (const char* list = std::getenv("MEASURE_PLAYER_FRAMES"))
    if (FILE* out = std::fopen(list, "w")) {
      if (!f.empty())
        std::fprintf(out, "# steady-ns %lld\n",
                     static_cast<long long>(
                         std::chrono::duration_cast<std::chrono::nanoseconds>(f.front().time_since_epoch()).count()));
      for (std::size_t i = 0; i < f.size(); ++i)
        std::fprintf(out, "%.2f\t%lld\n", std::chrono::duration<double, std::milli>(f[i] - f.front()).count(),
                     static_cast<long long>(watch.ShowTimes[i]));
      std::fclose(out);
    }
  if (f.size() > 1) span = std::chrono::duration<double, std::milli>(f.back() - f.front()).count() - idle;
  std::fprintf(stderr, "first-frame-ns %lld\nfirst-picture-ns %lld\n", static_cast<long long>(watch.FirstFrameNs),
               static_cast<long long>(watch.FirstPictureNs));
  const std::size_t drawn = f.size() > std::size_t(gaps) + 1 ? f.size() - std::size_t(gaps) - 1 : 0;
  std::fprintf(stderr,
               "frames %zu span-ms %.1f fps %.2f longest-ms %.2f over-20ms %d idle-gaps %d longest-running-ms %.2f "
               "over-20ms-running %d\n",
               f.size(), span, span > 0 ? double(drawn) * 1000.0 / span : 0.0, longest, over, gaps, longestRunning,
               overRunning);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  try {
    if (mode == "shows" && argc == 3) return WriteShows(argv[2]);
    if (mode == "transition-shows" && argc == 3) return WriteTransitionShows(argv[2]);
    if (mode == "opening-shows" && argc == 3) return WriteOpeningShows(argv[2]);
  } catch (const std::exception& e) {
    std::cerr << "MeasurePlayer: " << e.what() << "\n";
    return 1;
  }
  if (mode == "play") {
    // The player sees its own name first, then its switches.
    argv[1] = argv[0];
    return Play(argc - 1, argv + 1);
  }
  std::cerr << "usage: MeasurePlayer shows <folder> | MeasurePlayer transition-shows <folder> | MeasurePlayer "
               "opening-shows <folder> | MeasurePlayer play <player switches>\n";
  return 2;
}
