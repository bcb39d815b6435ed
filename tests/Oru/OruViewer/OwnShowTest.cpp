// The README's own show, played as the README tells a newcomer to play it:
// the block after its "own-show example" marker is written as the project's
// Project.oru, the pictures and the music it names are made here (each
// picture of one colour, the music a 440 Hz tone), and the program as built
// plays the folder headless on the real clock, its frames captured and its
// sound recorded.
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
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/Oru/OruViewer/MixRecording.h"
#include "tests/ZmLib/Music/MusicMediaKit.h"
#include "tests/support/TestMain.h"
#include "tests/support/kit/JpegWriter.h"
#include "tests/support/kit/TempFolder.h"
#include "tools/PngWriter.h"

namespace {

constexpr char kMarker[] = "<!-- own-show example";

// The lines of the fenced block after the marker; empty when there is none.
std::string ReadmeExample() {
  std::ifstream in(zmtest::SourcePath("README.md"));
  std::string line, block;
  bool marked = false, inside = false;
  while (std::getline(in, line)) {
    if (!marked) {
      marked = line.rfind(kMarker, 0) == 0;
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
