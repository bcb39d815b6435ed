// The demo looping as a show runs for days, on the stepped clock: the open
// handles (all of them, and those on the show's own files) and the memory
// the player holds are sampled at the same moment of every pass, and must
// not grow after the first pass. Memory is the allocator's count of live
// bytes under AddressSanitizer (whose quarantine keeps freed memory
// resident), the resident set otherwise.
//
// The CI form plays a small demo; ZM_SOAK_PASSES=<n> plays the demo at its
// full size for n passes and prints every sample.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Platform/PlatUtf8.h"
#include "ZmLib/Graphics/zmImageLib.h"
#include "tests/Oru/OruViewer/InProcessPlayer.h"
#include "tests/support/EnvGuard.h"
#include "tests/support/kit/TempFolder.h"
#include "tools/DemoShow.h"
#include "tools/OruPacker.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZM_SOAK_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define ZM_SOAK_ASAN 1
#endif

#ifdef ZM_SOAK_ASAN
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

namespace fs = std::filesystem;
using oru::TDemoShowLayout;
using oru::TDemoShowOptions;

struct TSample {
  std::int64_t Handles = 0;      // open file descriptors of the process
  std::int64_t ShowHandles = 0;  // of them, on files of the show's folder
  std::int64_t MemoryKb = 0;
};

std::int64_t MemoryKb() {
#ifdef ZM_SOAK_ASAN
  return std::int64_t(__sanitizer_get_current_allocated_bytes() / 1024);
#else
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::atoll(line.c_str() + 6);
  return -1;
#endif
}

TSample Sample(const std::string& showFolder) {
  TSample s;
  std::error_code ec;
  const std::string folder = fs::weakly_canonical(showFolder, ec).string() + "/";
  for (const fs::directory_entry& e : fs::directory_iterator("/proc/self/fd", ec)) {
    ++s.Handles;
    const fs::path target = fs::read_symlink(e.path(), ec);
    if (!ec && target.string().rfind(folder, 0) == 0) ++s.ShowHandles;
  }
  s.MemoryKb = MemoryKb();
  return s;
}

class DemoSoak : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    // PNG pictures go to the picture plug-in, built beside the player.
    zm::RegisterImageLibrary(zm::kPngLibraryFile, {u".png"});
    const char* passes = std::getenv("ZM_SOAK_PASSES");
    long_ = passes && std::atoi(passes) > 0;
    passes_ = long_ ? std::max(std::atoi(passes), 2) : 20;
    folder_ = new zmtest::TTempFolder();
    TDemoShowOptions o;
    if (!long_) {
      // Every kind of slide and the clip, at a size that draws quickly.
      o.Width = 240;
      o.Height = 136;
    }
    layout_ = WriteDemoShow(folder_->File("project"), o);
    fs::create_directories(folder_->File("show"));
    std::ostringstream out, err;
    packed_ = orupack::RunOruPack({folder_->File("project"), folder_->File("show/Demo.orushow")}, out, err) ==
              orupack::kPacked;
    ASSERT_TRUE(packed_) << err.str();
  }
  static void TearDownTestSuite() {
    delete folder_;
    folder_ = nullptr;
  }

  // Plays the show for passes_ passes plus one, sampling each pass when the
  // show is half way into its title slide.
  std::vector<TSample> Soak(const std::u16string& command, const std::string& showFolder) {
    const std::int64_t length = std::int64_t(layout_.SlideCount) * TDemoShowLayout::kSlideLengthMs;
    const std::int64_t phase = TDemoShowLayout::kSlideLengthMs / 2;
    std::vector<TSample> samples;
    // Music plays too: its files, decoders and channels come and go.
    zmtest::TEnvGuard env;
    env.Set("ZM_AUDIO", "null");
    const orutest::TInProcessRun run = orutest::PlayInProcess(
        command, long_ ? 100 : 500, [&](std::int64_t time, const std::uint32_t*, int, int) {
          const std::int64_t pass = (time - phase) / length;
          if (time >= phase && pass >= std::int64_t(samples.size())) samples.push_back(Sample(showFolder));
          return std::int64_t(samples.size()) > passes_;
        });
    EXPECT_TRUE(run.Started);
    EXPECT_TRUE(run.Boxes.empty()) << run.Boxes.front();
    return samples;
  }

  // Pass 0 fills the caches that last (fonts, shaders, decoders); every
  // later pass must end where pass 1 did.
  void ExpectFlat(const std::vector<TSample>& s) {
    ASSERT_GT(std::int64_t(s.size()), passes_) << "the show stopped";
    std::string table = "pass handles show-handles memory-kB\n";
    for (std::size_t i = 0; i < s.size(); ++i)
      table += std::to_string(i) + " " + std::to_string(s[i].Handles) + " " + std::to_string(s[i].ShowHandles) +
               " " + std::to_string(s[i].MemoryKb) + "\n";
    if (long_ || std::getenv("ZM_SOAK_PRINT")) std::printf("%s", table.c_str());
    const TSample& base = s[1];
    // A pass builds every slide again: one leaked handle or picture per slide
    // shows up as many per pass. Memory may move by what one slide holds.
    const std::int64_t slack = std::max<std::int64_t>(base.MemoryKb / 10, 4096);
    for (std::size_t i = 2; i < s.size(); ++i) {
      EXPECT_LE(s[i].Handles, base.Handles + 2) << table;
      EXPECT_LE(s[i].ShowHandles, base.ShowHandles + 1) << table;
      EXPECT_LE(s[i].MemoryKb, base.MemoryKb + slack) << table;
    }
    // No slow rise either: the later half of the run holds no more than
    // the earlier one.
    const std::size_t mid = 1 + (s.size() - 1) / 2;
    std::int64_t early = 0, late = 0;
    for (std::size_t i = 1; i < mid; ++i) early = std::max(early, s[i].MemoryKb);
    for (std::size_t i = mid; i < s.size(); ++i) late = std::max(late, s[i].MemoryKb);
    EXPECT_LE(late, early + slack / 4) << table;
  }

  static zmtest::TTempFolder* folder_;
  static TDemoShowLayout layout_;
  static bool packed_;
  static bool long_;
  static int passes_;
};

zmtest::TTempFolder* DemoSoak::folder_ = nullptr;
TDemoShowLayout DemoSoak::layout_;
bool DemoSoak::packed_ = false;
bool DemoSoak::long_ = false;
int DemoSoak::passes_ = 20;

}  // namespace

TEST_F(DemoSoak, ContainerHoldsNoMoreAfterItsFirstPass) {
  ASSERT_TRUE(packed_);
  const std::string show = folder_->File("show/Demo.orushow");
  ExpectFlat(Soak(u"player -exename \"" + plat::FromUtf8(show) + u"\"", folder_->File("show")));
}

TEST_F(DemoSoak, ProjectHoldsNoMoreAfterItsFirstPass) {
  const std::string project = folder_->File("project");
  ExpectFlat(Soak(u"player -filename \"" + plat::FromUtf8(project + "/Project.oru") + u"\"", project));
}
