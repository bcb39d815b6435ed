// Opening a show does what its first frame needs, whatever the show's
// length: the files the player opens up to its first frame are counted
// through the file layer, for shows of 10, 1,000 and 100,000 picture slides.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <string>

#include "OruLib2/OruClasses/OruSlideRandomList.h"
#include "Platform/PlatUtf8.h"
#include "ZmLib/Win32/winFileAPI.h"
#include "tests/Oru/OruViewer/InProcessPlayer.h"
#include "tests/support/FileAPISwap.h"
#include "tests/support/kit/JpegWriter.h"
#include "tests/support/kit/ShowProjectWriter.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZM_OPEN_LARGE_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define ZM_OPEN_LARGE_ASAN 1
#endif

namespace {

// The address checker makes a show's opening ten times slower: there the
// largest show is a fifth of the largest a show may be (bench/ opens that).
#ifdef ZM_OPEN_LARGE_ASAN
constexpr int kLargestShow = oru::kMaxSlideCount / 5;
#else
constexpr int kLargestShow = oru::kMaxSlideCount;
#endif

// Counts the files opened, by their name within the show's folder.
class TOpenCounter : public zm::TFileAPI {
public:
  explicit TOpenCounter(std::string folder) : folder_(std::move(folder)) {}
  zm::THandle CreateFile(const zm::WideString& name, std::uint32_t access, std::uint32_t share, const void* security,
                         std::uint32_t creation, std::uint32_t flags, zm::THandle templateFile) override {
    std::string path = plat::ToUtf8(name);
    std::replace(path.begin(), path.end(), '\\', '/');
    if (path.rfind(folder_, 0) == 0) {
      std::lock_guard<std::mutex> l(lock_);
      ++opens_[path.substr(folder_.size())];
    }
    return zm::TFileAPI::CreateFile(name, access, share, security, creation, flags, templateFile);
  }
  std::map<std::string, int> Opens() {
    std::lock_guard<std::mutex> l(lock_);
    return opens_;
  }

private:
  std::string folder_;
  std::mutex lock_;
  std::map<std::string, int> opens_;
};

// Slides of 3 s entering with a cross-fade, each showing a picture of its
// own (pictures are shared round a set of at most 1,000 files).
void WriteLargeShow(zmtest::TShowProjectWriter& show, int slides) {
  zmtest::TJpegOptions picture;
  picture.Width = 32;
  picture.Height = 24;
  const std::string bytes = zmtest::WriteJpeg(picture);
  const int files = std::min(slides, 1000);
  for (int i = 1; i <= files; ++i) show.AddFile("pictures\\p" + std::to_string(i) + ".jpg", bytes);
  auto& d = show.Description();
  d.Section("main").Key("opt_scr_width", 160).Key("opt_scr_height", 120).Key("opt_scr_full", 0)
      .Key("opt_repeat", "close").Key("opt_pausewheninactive", 0).Key("ColorManagement", "");
  d.Object("TheEffect", "AnEffect").Key("GUID", "{0}").Key("time", 500);
  d.Object("dissolve", "dissolve").Key("GUID", "{1}").Key("checked", 1).Key("stdidx", 2).End();
  d.End();
  d.Section("Times").Key("opt_slidescount", slides);
  for (int i = 1; i <= slides; ++i) d.Key("opt_synchpos" + std::to_string(i), i * 3000LL);
  for (int i = 1; i <= slides; ++i) {
    const std::string name = "pictures\\p" + std::to_string((i - 1) % files + 1) + ".jpg";
    d.Section("Slide" + std::to_string(i)).Key("Picture", name);
    d.Object("TheEffect", "AnEffect").Key("GUID", "{e" + std::to_string(i) + "}")
        .Key("ref", i == 1 ? "quick" : "dissolve").Key("time", i == 1 ? 0 : 500).End();
    d.Object("Image1", "Image").Key("GUID", "{i" + std::to_string(i) + "}").Key("ImageName", name).End();
  }
  show.Write();
}

}  // namespace

TEST(OpenLargeShows, FilesOpenedToTheFirstFrameDoNotGrowWithTheShow) {
  // The time line is written (and its pictures looked at) with the log
  // switch; the largest show without it keeps the run short.
  for (const int slides : {10, 1000, kLargestShow}) {
    zmtest::TShowProjectWriter show;
    WriteLargeShow(show, slides);
    std::string folder = show.Folder() + "/";
    std::replace(folder.begin(), folder.end(), '\\', '/');
    const zm::TRef<TOpenCounter> counter = zm::MakeRef<TOpenCounter>(folder);
    zmtest::TFileAPISwap swap(counter);
    const zm::WideString line = u"player -filename \"" + plat::FromUtf8(show.ProjectFile()) + u"\"" +
                                (slides < kLargestShow ? u" -log" : u"");
    int frames = 0;
    const orutest::TInProcessRun run =
        orutest::PlayInProcess(line, 20, [&](std::int64_t, const std::uint32_t*, int, int) { return ++frames >= 1; });
    ASSERT_TRUE(run.Started) << slides << (run.Boxes.empty() ? "" : ": " + run.Boxes.back());
    const std::map<std::string, int> opens = counter->Opens();
    EXPECT_EQ(opens.count("Project.oru") ? opens.at("Project.oru") : 0, 1) << slides;
    // Only the pictures of the first slides, each once.
    int pictures = 0;
    for (const auto& [name, count] : opens) {
      if (name == "Project.oru") continue;
      EXPECT_TRUE(name == "pictures/p1.jpg" || name == "pictures/p2.jpg" || name == "pictures/p3.jpg")
          << slides << " slides: " << name;
      EXPECT_EQ(count, 1) << slides << " slides: " << name;
      ++pictures;
    }
    EXPECT_GE(pictures, 1) << slides;
  }
}
