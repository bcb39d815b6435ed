// Decoding a 3-second 1080p25 H.264 clip to pictures through the frame
// source: frame after frame (SeekFrame stepping) and each frame converted
// into the planes of an in-memory YUV image, as the video extractor does.
// The figure to hold it against is the ffmpeg program on the same file:
//   ffmpeg -benchmark -i <clip> -f null -
// (the clip's path is printed in the benchmark's label).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "ZmLib/Graphics/Video/VideoSource2.h"
#include "ZmLib/Graphics/zmBitmap.h"
#include "ZmLib/Graphics/zmGraphicsModules.h"
#include "ZmLib/Graphics/zmPixelFormat.h"
#include "tests/support/kit/TempFolder.h"

using namespace zm;

namespace {

const TModuleRunner& Modules() {
  static TModuleRunner modules(JoinModules({CoreModules(), GraphicsModules()}));
  return modules;
}

struct TMedia {
  std::string path;
  std::string bytes;
  std::string error;
};

// Made once and kept in /tmp, so that the ffmpeg program can be run on the same file.
const TMedia& Media() {
  static const TMedia media = [] {
    TMedia m;
    m.path = "/tmp/zm_bench_h264_1080p25.mp4";
    std::error_code ec;
    if (!std::filesystem::exists(m.path, ec)) {
      if (std::system("ffmpeg -version >/dev/null 2>&1") != 0) {
        m.error = "ffmpeg missing: no clip to decode";
        return m;
      }
      const std::string cmd =
          "ffmpeg -hide_banner -loglevel error -y -f lavfi -i 'testsrc2=size=1920x1080:rate=25:duration=3' "
          "-c:v libx264 -preset fast -pix_fmt yuv420p -b:v 8M '" +
          m.path + "' >/dev/null 2>&1";
      if (std::system(cmd.c_str()) != 0) {
        m.error = "ffmpeg failed to make the clip";
        return m;
      }
    }
    m.bytes = zmtest::ReadFileBytes(m.path);
    if (m.bytes.empty()) m.error = "clip unreadable";
    return m;
  }();
  return media;
}

// Three 8-bit planes in memory.
class TMemoryImage : public TYUVImage {
public:
  TMemoryImage(int w, int h) : TYUVImage(w, h) {}
  TRef<TBitmap> LockPlane(std::int32_t index) override {
    if (!HasPlane(index)) return nullptr;
    if (!planes_[index]) {
      const TPoint s = PlaneSize(index);
      planes_[index] = MakeRef<TDirectBitmap>(s.X, PixelFormatByName(TByteString(PF_Y8)), s.Y);
    }
    return planes_[index];
  }
  bool UnlockPlane(std::int32_t, TRef<TBitmap>& plane) override {
    plane = nullptr;
    return true;
  }
  void Commit() override {}

private:
  TRef<TDirectBitmap> planes_[3];
};

void BM_DecodeToPictures(benchmark::State& state) {
  Modules();
  const TMedia& m = Media();
  if (!m.error.empty()) {
    state.SkipWithError(m.error.c_str());
    return;
  }
  if (!LoadFFmpegLibraries()) {
    state.SkipWithError("FFmpeg libraries not loadable");
    return;
  }
  std::int64_t frames = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto stream = MakeRef<TMemoryStream>();
    stream->Write(TWriteBuffer(reinterpret_cast<const std::uint8_t*>(m.bytes.data()), m.bytes.size()));
    stream->SetPosition(0);
    state.ResumeTiming();
    TRef<TFrameSource> src = CreateVideoSource2(stream.Detach(), true, u"clip.mp4", state.range(0) != 0, false);
    if (!src) {
      state.SkipWithError("clip did not open");
      return;
    }
    TRef<TMemoryImage> image = MakeRef<TMemoryImage>(src->Info.Width, src->Info.Height);
    for (std::int32_t i = 0; src->SeekFrame(i) && src->GetFrame(image.get()); ++i) ++frames;
  }
  state.counters["fps"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
  state.SetLabel(m.path);
}
// Argument: multi-threaded decoding allowed (the player's setting) or not.
BENCHMARK(BM_DecodeToPictures)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

}  // namespace
