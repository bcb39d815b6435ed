#include "tests/Oru/OruViewer/TestShows.h"

#include "tests/support/kit/JpegWriter.h"
#include "tests/support/kit/ShowBuilder.h"

namespace orutest {

std::string SmallPicture(int shade) {
  zmtest::TJpegOptions opts;
  opts.Width = 32;
  opts.Height = 24;
  opts.Pixel = [shade](int x, int y, std::uint8_t* c) {
    c[0] = static_cast<std::uint8_t>(shade);
    c[1] = static_cast<std::uint8_t>(x * 8);
    c[2] = static_cast<std::uint8_t>(y * 10);
  };
  return zmtest::WriteJpeg(opts);
}

void AddSlides(zmtest::TShowProjectWriter& show, const std::vector<long long>& ends, const char* repeat) {
  zmtest::TIniText& d = show.Description();
  // Small and exact: a design size, no colour management, and a clock that
  // runs although a headless window is never active.
  d.Section("main")
      .Key("OruVersion", "5.0.1")
      .Key("MinorVersion", 13)
      .Key("opt_scr_width", 160)
      .Key("opt_scr_height", 120)
      .Key("opt_scr_full", 0)
      .Key("opt_pausewheninactive", 0)
      .Key("opt_repeat", repeat)
      .Key("ColorManagement", "");
  d.Object("TheEffect", "AnEffect").Key("GUID", zmtest::NewShowGuid()).Key("time", 500);
  d.Object("dissolve", "dissolve").Key("GUID", zmtest::NewShowGuid()).Key("checked", 1).Key("stdidx", 2).End();
  d.End();
  d.Section("Times").Key("opt_slidescount", static_cast<long long>(ends.size()));
  for (std::size_t i = 0; i < ends.size(); ++i) d.Key("opt_synchpos" + std::to_string(i + 1), ends[i]);
  for (std::size_t i = 0; i < ends.size(); ++i) {
    std::string picture = "pictures\\s" + std::to_string(i + 1) + ".jpg";
    d.Section("Slide" + std::to_string(i + 1)).Key("Picture", picture);
    d.Object("TheEffect", "AnEffect")
        .Key("GUID", zmtest::NewShowGuid())
        .Key("ref", i == 0 ? "quick" : "dissolve")
        .Key("time", 500)
        .End();
    show.AddFile(picture, SmallPicture(static_cast<int>(40 * i)));
  }
}

}  // namespace orutest
