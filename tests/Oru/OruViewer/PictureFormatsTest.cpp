// Pictures are read by what they hold, whatever their names say: the
// program as built plays a show of a PNG named ".jpg", a JPEG named ".png"
// and a WebP picture headless on the stepped clock; its frames are captured
// and read back, and what it says on standard error is kept.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/kit/JpegWriter.h"
#include "tests/support/kit/ShowBuilder.h"
#include "tests/support/kit/TempFolder.h"
#include "tools/PngWriter.h"

namespace picture_formats_test {
namespace {

int Channel(std::uint32_t rgb, int c) { return int(rgb >> (16 - 8 * c) & 0xFF); }

bool Near(std::uint32_t a, std::uint32_t b, int tolerance = 6) {
  for (int c = 0; c < 3; ++c)
    if (std::abs(Channel(a, c) - Channel(b, c)) > tolerance) return false;
  return true;
}

// The centre pixel (0x00RRGGBB) of a captured frame; ~0u when unreadable.
std::uint32_t CentreOf(const std::string& file) {
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&img, file.c_str())) return ~0u;
  img.format = PNG_FORMAT_BGRA;
  std::vector<std::uint32_t> bits(std::size_t(img.width) * img.height);
  if (!png_image_finish_read(&img, nullptr, bits.data(), 0, nullptr)) return ~0u;
  return bits[std::size_t(img.height / 2) * img.width + img.width / 2] & 0xFFFFFF;
}

// The centre of the last frame captured before each show time of Ends.
std::vector<std::uint32_t> CentresBefore(const std::string& captures, const std::vector<std::int64_t>& ends) {
  std::vector<std::pair<std::int64_t, std::string>> frames;
  std::ifstream tsv(captures + "/frames.tsv");
  for (std::string line; std::getline(tsv, line);) {
    std::istringstream fields(line);
    std::string number, wall, window;
    std::int64_t time = -1;
    if (fields >> number >> wall >> window >> time && time >= 0) frames.emplace_back(time, number);
  }
  std::vector<std::uint32_t> centres;
  for (const std::int64_t end : ends) {
    std::string number;
    for (const auto& [t, n] : frames)
      if (t < end) number = n;
    number.insert(0, 6 - std::min<std::size_t>(6, number.size()), '0');
    centres.push_back(number.empty() ? ~0u : CentreOf(captures + "/" + number + ".png"));
  }
  return centres;
}

}  // namespace

TEST(PictureFormats, ReadByWhatTheyHoldAndUnreadFormatsSaid) {
  zmtest::TTempFolder folder;
  zmtest::TShowBuilder show(folder.File("show"));
  show.ScreenSize(320, 180).Main().Key("opt_scr_full", 0);
  show.AddSlide(500).SolidBackground(0, 0, 0).Transition("quick", 0).Image("Png", "pictures\\green.jpg");
  show.AddSlide(1000).SolidBackground(0, 0, 0).Transition("quick", 0).Image("Jpeg", "pictures\\red.png");
  show.AddSlide(1500).SolidBackground(0, 0, 0).Transition("quick", 0).Image("WebP", "pictures\\blue.webp");
  const std::uint32_t green = 0x20C040, red = 0xC02040;
  std::vector<std::uint8_t> rgba;
  for (int i = 0; i < 64 * 36; ++i) rgba.insert(rgba.end(), {0x20, 0xC0, 0x40, 255});
  show.AddFile("pictures\\green.jpg", oru::WritePngRgba(64, 36, rgba));
  oru::TJpegOptions jpeg;
  jpeg.Width = 64;
  jpeg.Height = 36;
  jpeg.Pixel = [](int, int, std::uint8_t* out) { out[0] = 0xC0, out[1] = 0x20, out[2] = 0x40; };
  show.AddFile("pictures\\red.png", oru::WriteJpeg(jpeg));
  // What a WebP file begins with is all that tells it.
  show.AddFile("pictures\\blue.webp", std::string("RIFF\x40\0\0\0WEBPVP8 ", 16) + std::string(56, '\x55'));
  show.Write();

  const std::string captures = folder.File("captures"), errors = folder.File("errors.txt");
  const std::string command = "mkdir -p '" + captures + "' && ZM_DISPLAY=headless ZM_AUDIO=none ZM_FRAME_STEP_MS=20 "
                              "ZM_QUIT_AFTER_MS=20000 ZM_CAPTURE_DIR='" + captures + "' '" ZM_PLAYER_FILE
                              "' -filename '" + show.Folder() + "/Project.oru' 2>'" + errors + "'";
  ASSERT_EQ(std::system(command.c_str()), 0) << zmtest::ReadFileBytes(errors);

  const std::vector<std::uint32_t> centres = CentresBefore(captures, {500, 1000, 1500});
  EXPECT_TRUE(Near(centres[0], green)) << std::hex << centres[0];
  EXPECT_TRUE(Near(centres[1], red)) << std::hex << centres[1];
  // The WebP picture's placeholder, grey, not the black slide.
  EXPECT_TRUE(Channel(centres[2], 0) >= 90 && Near(centres[2], centres[2] / 0x10000 * 0x010101))
      << std::hex << centres[2];
  // One line names the file and its format; nothing else is said.
  EXPECT_EQ(zmtest::ReadFileBytes(errors), "Image format not supported (WebP): pictures\\blue.webp\n");
}

}  // namespace picture_formats_test
