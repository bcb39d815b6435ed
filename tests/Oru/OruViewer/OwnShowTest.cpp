// The README's own show, played as the README tells a newcomer to play it:
// the block after its "own-show example" marker is written as the project's
// Project.oru, the pictures and the music it names are made here (each
// picture of one colour, the music a 440 Hz tone), and the program as built
// plays the folder headless on the real clock, its frames captured and its
// sound recorded. The block after "own-show more" is played the same way:
// a camera picture stored on its side and turned by the show, an animated
// GIF, slide colours and a caption of several lines; the one after
// "own-show clip" with a video clip made here.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <numbers>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/Oru/OruViewer/MixRecording.h"
#include "tests/ZmLib/Music/MusicMediaKit.h"
#include "tests/support/TestMain.h"
#include "tests/support/kit/JpegWriter.h"
#include "tests/support/kit/TempFolder.h"
#include "tools/GifWriter.h"
#include "tools/PngWriter.h"

namespace {

constexpr char kMarker[] = "<!-- own-show example";
constexpr char kMoreMarker[] = "<!-- own-show more";

// The lines of the fenced block after the marker; empty when there is none.
std::string ReadmeExample(const char* marker = kMarker) {
  std::ifstream in(zmtest::SourcePath("README.md"));
  std::string line, block;
  bool marked = false, inside = false;
  while (std::getline(in, line)) {
    if (!marked) {
      marked = line.rfind(marker, 0) == 0;
      continue;
    }
    if (line.rfind("```", 0) == 0) {
      if (inside) return block;
      inside = true;
      continue;
    }
    if (inside) block += line + "\n";
  }
  return {};
}

// What the test needs to know of the description: the files it names, the
// slides' ends and each slide's first picture object.
struct TExample {
  std::set<std::string> Files;
  std::map<int, std::int64_t> Ends;
  std::map<int, std::string> SlidePicture;
};

TExample ReadExample(const std::string& text) {
  TExample e;
  std::istringstream in(text);
  std::string section;
  for (std::string line; std::getline(in, line);) {
    const std::size_t b = line.find_first_not_of(' ');
    if (b == std::string::npos) continue;
    line.erase(0, b);
    if (line.front() == '[') {
      section = line.substr(1, line.find(']') - 1);
      continue;
    }
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "ImageName" || key == "FileName" || key == "Picture") e.Files.insert(value);
    if (section == "Times" && key.rfind("opt_synchpos", 0) == 0)
      e.Ends[std::atoi(key.c_str() + 12)] = std::atoll(value.c_str());
    if (key == "ImageName" && section.rfind("Slide", 0) == 0) e.SlidePicture.emplace(std::atoi(section.c_str() + 5), value);
  }
  return e;
}

struct TOwnShowFrame {
  std::int64_t Time = -1;
  int Width = 0, Height = 0;
  std::vector<std::uint32_t> Bits;  // 0x00RRGGBB
  std::uint32_t At(int x, int y) const { return Bits[std::size_t(y) * std::size_t(Width) + std::size_t(x)] & 0xFFFFFF; }
};

TOwnShowFrame ReadOwnShowFrame(const std::string& file, std::int64_t time) {
  TOwnShowFrame f;
  f.Time = time;
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&img, file.c_str())) return f;
  img.format = PNG_FORMAT_BGRA;
  std::vector<std::uint32_t> bits(std::size_t(img.width) * img.height);
  if (png_image_finish_read(&img, nullptr, bits.data(), 0, nullptr)) {
    f.Width = int(img.width);
    f.Height = int(img.height);
    f.Bits = std::move(bits);
  }
  return f;
}

int ColourChannel(std::uint32_t rgb, int c) { return int(rgb >> (16 - 8 * c) & 0xFF); }

bool NearColour(std::uint32_t a, std::uint32_t b, int tolerance = 14) {
  for (int c = 0; c < 3; ++c)
    if (std::abs(ColourChannel(a, c) - ColourChannel(b, c)) > tolerance) return false;
  return true;
}

// Near-white pixels in the band of the frame where the caption stands.
int CaptionPixels(const TOwnShowFrame& f) {
  int n = 0;
  for (int y = f.Height * 78 / 100; y < f.Height * 92 / 100; ++y)
    for (int x = f.Width * 3 / 10; x < f.Width * 7 / 10; ++x) {
      const std::uint32_t p = f.At(x, y);
      n += ColourChannel(p, 0) > 200 && ColourChannel(p, 1) > 200 && ColourChannel(p, 2) > 200;
    }
  return n;
}


// What the test needs to know of the second example.
struct TMoreExample {
  std::map<int, std::int64_t> Ends;
  std::map<int, std::string> SlideImage;           // the slide's first picture object
  std::map<int, std::uint32_t> SlideBackground;    // bcolor of a slide with bstyle=1
  std::optional<std::uint32_t> ShowBackground;     // opt_bcolor with opt_bstyle=1
  std::map<std::string, int> Turn;                 // [RotationState]: name, orientation
  struct TAnim {
    bool Enabled = false;
    int Count = 0, IntervalMs = 0;
  };
  std::map<std::string, TAnim> Anims;              // by picture name
  std::map<int, int> CaptionLines;                 // a slide's text: its lines
  std::map<int, double> CaptionScaleY;
  // The background a slide shows: its own, else the show's, else black.
  std::uint32_t Background(int slide) const {
    auto own = SlideBackground.find(slide);
    return own != SlideBackground.end() ? own->second : ShowBackground.value_or(0);
  }
};

TMoreExample ReadMoreExample(const std::string& text) {
  TMoreExample e;
  std::istringstream in(text);
  std::string section, image;
  std::map<std::string, std::map<std::string, std::string>> keys;  // section's own keys
  for (std::string line; std::getline(in, line);) {
    const std::size_t b = line.find_first_not_of(' ');
    if (b == std::string::npos) continue;
    const bool own = b == 0;  // not inside an object
    line.erase(0, b);
    if (line.front() == '[') {
      section = line.substr(1, line.find(']') - 1);
      continue;
    }
    const std::size_t eq = line.rfind('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    const int slide = section.rfind("Slide", 0) == 0 ? std::atoi(section.c_str() + 5) : 0;
    if (section == "RotationState" && key.size() > 3 && key.rfind(";\"", 0) == 0 && key.back() == '"')
      e.Turn[key.substr(2, key.size() - 3)] = std::atoi(value.c_str());
    if (own) keys[section][key] = value;
    if (section == "Times" && key.rfind("opt_synchpos", 0) == 0)
      e.Ends[std::atoi(key.c_str() + 12)] = std::atoll(value.c_str());
    if (key == "ImageName") {
      image = value;
      if (slide) e.SlideImage.emplace(slide, value);
    }
    if (key == "AnimEnable") e.Anims[image].Enabled = value == "1";
    if (key == "AnimCount") e.Anims[image].Count = std::atoi(value.c_str());
    if (key == "AnimInterval") e.Anims[image].IntervalMs = std::atoi(value.c_str());
    if (key == "Text" && slide) {
      int lines = 1;
      for (std::size_t at = value.find("\\n"); at != std::string::npos; at = value.find("\\n", at + 2)) ++lines;
      e.CaptionLines[slide] = lines;
    }
    if (key == "ScaleY" && slide && e.CaptionLines.count(slide)) e.CaptionScaleY[slide] = std::atof(value.c_str());
  }
  const auto colour = [](const std::string& v) { return std::uint32_t(std::atoll(v.c_str())) & 0xFFFFFF; };
  for (auto& [name, k] : keys) {
    if (name == "main" && k["opt_bstyle"] == "1") e.ShowBackground = colour(k["opt_bcolor"]);
    if (name.rfind("Slide", 0) == 0 && k["bstyle"] == "1")
      e.SlideBackground[std::atoi(name.c_str() + 5)] = colour(k["bcolor"]);
  }
  return e;
}

// The frames a capture folder lists with a show time, in order.
std::vector<std::pair<std::int64_t, std::string>> CapturedFrames(const std::string& captures) {
  std::vector<std::pair<std::int64_t, std::string>> frames;
  std::ifstream tsv(captures + "/frames.tsv");
  for (std::string line; std::getline(tsv, line);) {
    std::istringstream fields(line);
    std::string number, wall, window;
    std::int64_t time = -1;
    if (fields >> number >> wall >> window >> time && time >= 0) frames.emplace_back(time, number);
  }
  return frames;
}

TOwnShowFrame CapturedFrame(const std::string& captures, const std::pair<std::int64_t, std::string>& frame) {
  std::string number = frame.second;
  number.insert(0, 6 - std::min<std::size_t>(6, number.size()), '0');
  return ReadOwnShowFrame(captures + "/" + number + ".png", frame.first);
}

bool NearWhite(std::uint32_t p) {
  return ColourChannel(p, 0) > 200 && ColourChannel(p, 1) > 200 && ColourChannel(p, 2) > 200;
}

}  // namespace

TEST(OwnShow, ReadmeExamplePlays) {
  if (!zmtest::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  const std::string description = ReadmeExample();
  ASSERT_FALSE(description.empty()) << "no fenced block after \"" << kMarker << "\" in README.md";
  const TExample example = ReadExample(description);
  ASSERT_EQ(example.Ends.size(), 3u);
  ASSERT_EQ(example.SlidePicture.size(), 3u);

  zmtest::TTempFolder folder;
  const std::string project = folder.File("my-show");
  zmtest::WriteFileBytes(project + "/Project.oru", description);
  const std::uint32_t kColours[] = {0xDC3C28, 0x28AA3C, 0x3250D2, 0xC8B428};
  std::map<std::string, std::uint32_t> colourOf;
  for (std::string name : example.Files) {
    const std::string given = name;
    std::replace(name.begin(), name.end(), '\\', '/');
    const std::string path = project + "/" + name, ext = name.substr(name.rfind('.') + 1);
    const std::uint32_t colour = kColours[colourOf.size() % std::size(kColours)];
    if (ext == "jpg" || ext == "png") {
      if (colourOf.emplace(given, colour).second) {
        if (ext == "jpg") {
          oru::TJpegOptions jpeg;
          jpeg.Width = 640;
          jpeg.Height = 360;
          jpeg.Pixel = [colour](int, int, std::uint8_t* out) {
            for (int c = 0; c < 3; ++c) out[c] = std::uint8_t(ColourChannel(colour, c));
          };
          zmtest::WriteFileBytes(path, oru::WriteJpeg(jpeg));
        } else {
          std::vector<std::uint8_t> rgba;
          for (int i = 0; i < 640 * 360; ++i)
            rgba.insert(rgba.end(), {std::uint8_t(ColourChannel(colour, 0)), std::uint8_t(ColourChannel(colour, 1)),
                                     std::uint8_t(ColourChannel(colour, 2)), 255});
          zmtest::WriteFileBytes(path, oru::WritePngRgba(640, 360, rgba));
        }
      }
    } else {
      ASSERT_TRUE(ext == "mp3" || ext == "ogg") << "a file the test cannot make: " << given;
      zmtest::WriteFileBytes(path, "");
      ASSERT_EQ(zmtest::RunTool("ffmpeg -hide_banner -loglevel error -y -f lavfi -i "
                                "sine=frequency=440:sample_rate=44100:duration=30 -ac 2 " +
                                zmtest::ShellQuote(path)),
                0)
          << path;
    }
  }
  const std::int64_t length = example.Ends.rbegin()->second;
  const auto slideColour = [&](int slide) { return colourOf.at(example.SlidePicture.at(slide)); };

  // Played for the whole show, its repeat's transition and some seconds more
  // (the program's start takes some of them).
  const std::string captures = folder.File("captures"), sound = folder.File("sound.wav"), log = folder.File("log.txt");
  const std::string command = "mkdir -p '" + captures + "' && env -u ZM_FRAME_STEP_MS ZM_DISPLAY=headless ZM_AUDIO=wav:'" +
                              sound + "' ZM_CAPTURE_DIR='" + captures + "' ZM_QUIT_AFTER_MS=" +
                              std::to_string(length + 7000) + " '" ZM_PLAYER_FILE "' -filename '" + project +
                              "/Project.oru' -log 2>'" + log + "'";
  ASSERT_EQ(std::system(command.c_str()), 0) << command << "\n" << zmtest::ReadFileBytes(log);

  // Every object has its GUID and every picture was found.
  const std::string logText = zmtest::ReadFileBytes(log);
  EXPECT_NE(logText.find("Show: 3 slides, length " + std::to_string(length) + " ms, repeat"), std::string::npos)
      << logText;
  for (const char* bad : {"(missing)", "GUID not Assigned", "Slideshow Error", "Image load error"})
    EXPECT_EQ(logText.find(bad), std::string::npos) << bad;

  // The last frame of each span of show time: a still slide presents no
  // frames after its transition in.
  std::vector<std::pair<std::int64_t, std::string>> frames;
  {
    std::ifstream tsv(captures + "/frames.tsv");
    for (std::string line; std::getline(tsv, line);) {
      std::istringstream fields(line);
      std::string number, wall, window;
      std::int64_t time = -1;
      if (fields >> number >> wall >> window >> time && time >= 0) frames.emplace_back(time, number);
    }
  }
  ASSERT_FALSE(frames.empty());
  const auto lastIn = [&](std::int64_t from, std::int64_t to) {
    std::string number;
    std::int64_t time = -1;
    for (const auto& [t, n] : frames)
      if (t >= from && t < to) time = t, number = n;
    if (number.empty()) return TOwnShowFrame{};
    number.insert(0, 6 - std::min<std::size_t>(6, number.size()), '0');
    return ReadOwnShowFrame(captures + "/" + number + ".png", time);
  };
  std::int64_t start = 0;
  for (const auto& [slide, end] : example.Ends) {
    SCOPED_TRACE("slide " + std::to_string(slide));
    const TOwnShowFrame f = lastIn(start, end);
    ASSERT_EQ(f.Width, 1280) << "no frame from " << start << " to " << end << " ms";
    ASSERT_EQ(f.Height, 720);
    EXPECT_TRUE(NearColour(f.At(f.Width / 2, f.Height / 3), slideColour(slide)))
        << std::hex << f.At(f.Width / 2, f.Height / 3) << std::dec << " at " << f.Time << " ms";
    if (slide == 1)
      EXPECT_GT(CaptionPixels(f), 500);
    else
      EXPECT_EQ(CaptionPixels(f), 0);
    start = end;
  }
  // Slide 2 cross-fades in: halfway, its colour mixed with slide 1's.
  {
    const std::int64_t at = example.Ends.at(1);
    const TOwnShowFrame f = lastIn(at + 300, at + 700);
    ASSERT_GT(f.Width, 0) << "no frame in the transition";
    const std::uint32_t p = f.At(f.Width / 2, f.Height / 3), a = slideColour(1), b = slideColour(2);
    EXPECT_FALSE(NearColour(p, a, 30) || NearColour(p, b, 30)) << std::hex << p;
    for (int c = 0; c < 3; ++c) {
      EXPECT_GE(ColourChannel(p, c), std::min(ColourChannel(a, c), ColourChannel(b, c)) - 14) << c;
      EXPECT_LE(ColourChannel(p, c), std::max(ColourChannel(a, c), ColourChannel(b, c)) + 14) << c;
    }
  }
  // The show repeats: after the last slide, the first one with its caption.
  {
    const TOwnShowFrame f = lastIn(length + 1000, length + 4000);
    ASSERT_GT(f.Width, 0) << "no frame after the show's end";
    EXPECT_TRUE(NearColour(f.At(f.Width / 2, f.Height / 3), slideColour(1)))
        << std::hex << f.At(f.Width / 2, f.Height / 3) << std::dec << " at " << f.Time << " ms";
    EXPECT_GT(CaptionPixels(f), 500);
  }

  // The music: the tone from the show's start, faded out at its end and
  // started again with the repeat, a show length after it first began.
  const std::vector<std::int16_t> samples = orutest::ReadStereoWav(sound);
  ASSERT_FALSE(samples.empty());
  const std::int64_t window = orutest::MixFrames(100);
  std::vector<double> level;
  for (std::size_t at = 0; (at + std::size_t(window)) * 2 <= samples.size(); at += std::size_t(window)) {
    const double w = 2 * std::numbers::pi * 440.0 / double(orutest::kMixRate), c = 2 * std::cos(w);
    double s1 = 0, s2 = 0;
    for (std::size_t i = at; i < at + std::size_t(window); ++i) {
      const double s0 = samples[i * 2] / 32768.0 + c * s1 - s2;
      s2 = s1;
      s1 = s0;
    }
    level.push_back(2 * std::sqrt(std::max(s1 * s1 + s2 * s2 - c * s1 * s2, 0.0)) / double(window));
  }
  const double peak = level.empty() ? 0 : *std::max_element(level.begin(), level.end());
  ASSERT_GT(peak, 0.05) << "no tone in the recording";
  const auto first = [&](std::size_t from, auto test) {
    for (std::size_t i = from; i < level.size(); ++i)
      if (test(level[i])) return i;
    return level.size();
  };
  const std::size_t onset = first(0, [&](double l) { return l > peak / 2; });
  const std::size_t perSecond = 10;
  std::size_t playing = 0;
  for (std::size_t i = onset + perSecond; i < onset + 12 * perSecond && i < level.size(); ++i) playing += level[i] > peak / 2;
  EXPECT_GE(playing, 10 * perSecond) << "the tone is not heard through the slides";
  const std::size_t faded = first(onset + 10 * perSecond, [&](double l) { return l < peak / 5; });
  const std::size_t again = first(faded, [&](double l) { return l > peak / 2; });
  ASSERT_LT(again, level.size()) << "the music does not start again";
  EXPECT_NEAR(double(again - onset) * 100, double(length), 1000.0);
}

TEST(OwnShow, ReadmeMoreExamplePlays) {
  const std::string description = ReadmeExample(kMoreMarker);
  ASSERT_FALSE(description.empty()) << "no fenced block after \"" << kMoreMarker << "\" in README.md";
  const TMoreExample example = ReadMoreExample(description);
  ASSERT_FALSE(example.Ends.empty());
  ASSERT_FALSE(example.Turn.empty()) << "no picture turned by [RotationState]";
  ASSERT_FALSE(example.Anims.empty()) << "no animated picture";
  ASSERT_FALSE(example.CaptionLines.empty()) << "no caption";

  zmtest::TTempFolder folder;
  const std::string project = folder.File("my-show");
  zmtest::WriteFileBytes(project + "/Project.oru", description);
  // A turned picture, as a camera stores a portrait photo: on its side, with
  // its orientation in Exif; upright it is red above green.
  constexpr std::uint32_t kTop = 0xDC3C28, kBottom = 0x28AA3C;
  // The GIF's frames, each of one colour.
  const std::vector<std::uint32_t> kFrameColours = {0xE6C828, 0x3250D2, 0xC83CC8, 0x28C8C8,
                                                    0xF08C28, 0x8CDC3C, 0x9650F0, 0xDC2878};
  for (const auto& [slide, given] : example.SlideImage) {
    std::string name = given;
    std::replace(name.begin(), name.end(), '\\', '/');
    const std::string path = project + "/" + name;
    if (auto turn = example.Turn.find(given); turn != example.Turn.end()) {
      ASSERT_TRUE(turn->second == 6 || turn->second == 8) << "a turn the test cannot make: " << turn->second;
      // A quarter turn clockwise brings the left column on top.
      const std::uint32_t left = turn->second == 6 ? kTop : kBottom, right = turn->second == 6 ? kBottom : kTop;
      oru::TJpegOptions jpeg;
      jpeg.Width = 640;
      jpeg.Height = 360;
      jpeg.Markers.push_back({0xE1, zmtest::ExifOrientation(turn->second)});
      jpeg.Pixel = [left, right](int x, int, std::uint8_t* out) {
        for (int c = 0; c < 3; ++c) out[c] = std::uint8_t(ColourChannel(x < 320 ? left : right, c));
      };
      zmtest::WriteFileBytes(path, oru::WriteJpeg(jpeg));
    } else if (auto anim = example.Anims.find(given); anim != example.Anims.end()) {
      ASSERT_GE(anim->second.Count, 3);
      ASSERT_LE(anim->second.Count, int(kFrameColours.size()));
      ASSERT_GT(anim->second.IntervalMs, 0);
      // 4:3, so that the slide's colour shows beside it.
      oru::TGifAnimation gif;
      gif.Width = 320;
      gif.Height = 240;
      for (int f = 0; f < anim->second.Count; ++f) {
        const std::uint32_t c = kFrameColours[std::size_t(f)];
        gif.Palette.push_back({std::uint8_t(ColourChannel(c, 0)), std::uint8_t(ColourChannel(c, 1)),
                               std::uint8_t(ColourChannel(c, 2))});
        oru::TGifFrame frame;
        frame.DelayMs = anim->second.IntervalMs;
        frame.Indices.assign(320 * 240, std::uint8_t(f));
        gif.Frames.push_back(std::move(frame));
      }
      zmtest::WriteFileBytes(path, oru::WriteGif(gif));
    } else {
      FAIL() << "a picture the test does not know how to make: " << given;
    }
  }

  const std::int64_t length = example.Ends.rbegin()->second;
  const std::string captures = folder.File("captures"), log = folder.File("log.txt");
  const std::string command = "mkdir -p '" + captures + "' && env -u ZM_FRAME_STEP_MS ZM_DISPLAY=headless ZM_AUDIO=none " +
                              "ZM_CAPTURE_DIR='" + captures + "' ZM_QUIT_AFTER_MS=" + std::to_string(length + 2000) +
                              " '" ZM_PLAYER_FILE "' -filename '" + project + "/Project.oru' -log 2>'" + log + "'";
  ASSERT_EQ(std::system(command.c_str()), 0) << command << "\n" << zmtest::ReadFileBytes(log);
  const std::string logText = zmtest::ReadFileBytes(log);
  for (const char* bad : {"(missing)", "GUID not Assigned", "Slideshow Error", "Image load error"})
    EXPECT_EQ(logText.find(bad), std::string::npos) << bad;

  const auto frames = CapturedFrames(captures);
  ASSERT_FALSE(frames.empty());
  std::int64_t start = 0;
  for (const auto& [slide, end] : example.Ends) {
    SCOPED_TRACE("slide " + std::to_string(slide));
    const std::string picture = example.SlideImage.count(slide) ? example.SlideImage.at(slide) : std::string();
    // A still slide presents no frames after its transition in: its last
    // frame is the slide as it stands.
    std::vector<std::pair<std::int64_t, std::string>> in;
    for (const auto& f : frames)
      if (f.first >= start && f.first < end) in.push_back(f);
    ASSERT_FALSE(in.empty()) << "no frame from " << start << " to " << end << " ms";
    const TOwnShowFrame last = CapturedFrame(captures, in.back());
    ASSERT_EQ(last.Width, 1280);
    ASSERT_EQ(last.Height, 720);
    const int w = last.Width, h = last.Height;
    // The slide's colour beside its picture.
    EXPECT_TRUE(NearColour(last.At(w / 16, h / 2), example.Background(slide)))
        << std::hex << last.At(w / 16, h / 2) << " where the background " << example.Background(slide) << " shows";
    if (example.Turn.count(picture)) {
      // Upright: red above green, standing in the middle of the slide.
      EXPECT_TRUE(NearColour(last.At(w / 2, h / 4), kTop)) << std::hex << last.At(w / 2, h / 4);
      EXPECT_TRUE(NearColour(last.At(w / 2, 3 * h / 4), kBottom)) << std::hex << last.At(w / 2, 3 * h / 4);
    }
    if (example.Anims.count(picture)) {
      // Moving: the frames show several of the GIF's frames in turn.
      std::set<std::size_t> shown;
      for (const auto& f : in) {
        const TOwnShowFrame frame = CapturedFrame(captures, f);
        if (frame.Width != w) continue;
        for (std::size_t c = 0; c < kFrameColours.size(); ++c)
          if (NearColour(frame.At(w / 2, h / 3), kFrameColours[c])) shown.insert(c);
      }
      EXPECT_GE(shown.size(), 3u) << "the GIF does not move";
    }
    if (example.CaptionLines.count(slide)) {
      // The caption's lines together as tall as ScaleY says of the slide's
      // height, each line apart.
      int first = -1, lastRow = -1, runs = 0;
      bool inRun = false;
      for (int y = h / 2; y < h; ++y) {
        bool white = false;
        for (int x = w * 3 / 10; x < w * 7 / 10 && !white; ++x) white = NearWhite(last.At(x, y));
        if (white && !inRun) ++runs;
        inRun = white;
        if (white) lastRow = y, first = first < 0 ? y : first;
      }
      ASSERT_GE(first, 0) << "no caption";
      const double block = double(lastRow - first + 1) / h * 100, scale = example.CaptionScaleY.at(slide);
      EXPECT_LE(block, scale * 1.1) << "rows " << first << " to " << lastRow;
      EXPECT_GE(block, scale * 0.6) << "rows " << first << " to " << lastRow;
      EXPECT_EQ(runs, example.CaptionLines.at(slide));
    }
    start = end;
  }
}

// The README's video clip: the block after "own-show clip" plays a clip made
// here of one colour a second; from its StartORUTime on, the slide shows the
// second of the clip the show has reached, and after its Duration the last.
TEST(OwnShow, ReadmeClipExamplePlays) {
  if (!zmtest::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  constexpr char kClipMarker[] = "<!-- own-show clip";
  const std::string description = ReadmeExample(kClipMarker);
  ASSERT_FALSE(description.empty()) << "no fenced block after \"" << kClipMarker << "\" in README.md";
  const TExample example = ReadExample(description);
  std::string clipFile;
  std::int64_t clipStart = -1, clipLength = -1;
  {
    std::istringstream in(description);
    bool inClip = false;
    for (std::string line; std::getline(in, line);) {
      line.erase(0, std::min(line.find_first_not_of(' '), line.size()));
      if (line.rfind("object ", 0) == 0) inClip = line.size() > 6 && line.compare(line.size() - 6, 6, ":Video") == 0;
      const std::size_t eq = line.find('=');
      if (!inClip || eq == std::string::npos) continue;
      const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
      if (key == "FileName") clipFile = value;
      if (key == "StartORUTime") clipStart = std::atoll(value.c_str());
      if (key == "Duration") clipLength = std::atoll(value.c_str());
    }
  }
  ASSERT_FALSE(clipFile.empty()) << "no Video object";
  ASSERT_GE(clipStart, 0) << "the clip has no StartORUTime";
  ASSERT_GE(clipLength, 3000) << "the clip plays too little of its file to be followed";
  ASSERT_EQ(example.Ends.size(), 2u);
  ASSERT_EQ(clipStart, example.Ends.at(1)) << "the clip does not start with its slide";

  zmtest::TTempFolder folder;
  const std::string project = folder.File("my-show");
  zmtest::WriteFileBytes(project + "/Project.oru", description);
  constexpr std::uint32_t kPhoto = 0xC8B428;
  for (std::string name : example.Files) {
    if (name == clipFile) continue;
    std::replace(name.begin(), name.end(), '\\', '/');
    ASSERT_EQ(name.substr(name.rfind('.')), ".jpg") << "a file the test cannot make: " << name;
    oru::TJpegOptions jpeg;
    jpeg.Width = 640;
    jpeg.Height = 360;
    jpeg.Pixel = [](int, int, std::uint8_t* out) {
      for (int c = 0; c < 3; ++c) out[c] = std::uint8_t(ColourChannel(kPhoto, c));
    };
    zmtest::WriteFileBytes(project + "/" + name, oru::WriteJpeg(jpeg));
  }
  // One colour for each second of the clip, and a second more of the last
  // one (the frame where the clip stops is the one at its Duration).
  std::vector<std::uint32_t> colours = {0xDC3C28, 0x28AA3C, 0x3250D2, 0xE6E6E6, 0xC83CC8, 0x28C8C8, 0xF08C28, 0x8C3C14};
  const int seconds = int(clipLength / 1000) + 1;
  ASSERT_LE(seconds, int(colours.size()));
  colours[std::size_t(seconds - 1)] = colours[std::size_t(seconds - 2)];
  std::string clip = clipFile;
  std::replace(clip.begin(), clip.end(), '\\', '/');
  clip = project + "/" + clip;
  zmtest::WriteFileBytes(clip, "");
  std::string inputs, joined;
  for (int k = 0; k < seconds; ++k) {
    char colour[16];
    std::snprintf(colour, sizeof colour, "0x%06X", unsigned(colours[k]));
    inputs += std::string(" -f lavfi -i color=c=") + colour + ":s=640x360:r=25:d=1";
    joined += "[" + std::to_string(k) + "]";
  }
  ASSERT_EQ(zmtest::RunTool("ffmpeg -hide_banner -loglevel error -y" + inputs + " -filter_complex '" + joined +
                            "concat=n=" + std::to_string(seconds) + ":v=1:a=0' -c:v mpeg4 -q:v 2 " +
                            zmtest::ShellQuote(clip)),
            0);

  const std::int64_t length = example.Ends.rbegin()->second;
  const std::string captures = folder.File("captures"), log = folder.File("log.txt");
  const std::string command = "mkdir -p '" + captures + "' && env -u ZM_FRAME_STEP_MS ZM_DISPLAY=headless ZM_AUDIO=none " +
                              "ZM_CAPTURE_DIR='" + captures + "' ZM_QUIT_AFTER_MS=" + std::to_string(length + 2000) +
                              " '" ZM_PLAYER_FILE "' -filename '" + project + "/Project.oru' -log 2>'" + log + "'";
  ASSERT_EQ(std::system(command.c_str()), 0) << command << "\n" << zmtest::ReadFileBytes(log);
  const std::string logText = zmtest::ReadFileBytes(log);
  for (const char* bad : {"(missing)", "GUID not Assigned", "Slideshow Error", "not found", "Video load error"})
    EXPECT_EQ(logText.find(bad), std::string::npos) << bad;

  const auto frames = CapturedFrames(captures);
  ASSERT_FALSE(frames.empty());
  // The last frame presented from From to To, at the centre.
  const auto lastIn = [&](std::int64_t from, std::int64_t to) -> std::optional<std::pair<std::int64_t, std::uint32_t>> {
    const std::pair<std::int64_t, std::string>* last = nullptr;
    for (const auto& f : frames)
      if (f.first >= from && f.first < to) last = &f;
    if (!last) return std::nullopt;
    const TOwnShowFrame f = CapturedFrame(captures, *last);
    if (f.Width < 2 || f.Height < 2) return std::nullopt;
    return std::make_pair(f.Time, f.At(f.Width / 2, f.Height / 2));
  };
  const auto expect = [&](std::int64_t from, std::int64_t to, std::uint32_t colour, const char* what) {
    const auto f = lastIn(from, to);
    ASSERT_TRUE(f) << "no frame from " << from << " to " << to << " ms (" << what << ")";
    EXPECT_TRUE(NearColour(f->second, colour, 24)) << what << ": " << std::hex << f->second << " at " << std::dec
                                                   << f->first << " ms, want " << std::hex << colour;
  };
  expect(0, clipStart, kPhoto, "the photo");
  // Past the cross-fade, each second of the clip in its own second of the
  // show: the clip moves with the show's clock.
  for (int k = 1; k < int(clipLength / 1000); ++k) {
    SCOPED_TRACE("second " + std::to_string(k) + " of the clip");
    expect(clipStart + k * 1000 + 200, clipStart + k * 1000 + 800, colours[k], "the clip");
  }
  // Its last frame from the end of its Duration to the end of the show (a
  // slide that stands presents no more frames).
  expect(clipStart + clipLength - 300, length + 2000, colours[clipLength / 1000 - 1], "the clip's last frame");
}
