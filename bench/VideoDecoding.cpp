// Decoding a 3-second 1080p25 H.264 clip to pictures through the frame
// source: frame after frame (SeekFrame stepping) and each frame converted
// into the planes of an in-memory YUV image, as the video extractor does.
// The figure to hold it against is the ffmpeg program on the same file
// (BM_FfmpegProgram): ffmpeg -i <clip> -f null -, a process per run.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "ZmLib/Graphics/Video/VideoSource2.h"
#include "ZmLib/Graphics/zmBitmap.h"
#include "ZmLib/Graphics/zmGraphicsModules.h"
#include "ZmLib/Graphics/zmPixelFormat.h"
#include "bench/BenchFiles.h"
#include "tests/support/kit/TempFolder.h"

using namespace zm;

namespace {

const TModuleRunner& Modules() {
  static TModuleRunner modules(JoinModules({CoreModules(), GraphicsModules()}));
  return modules;
}

// The clip, made once in a folder of the run.
struct TMedia {
  zmbench::TBenchFolder folder;
  std::string path = folder.File("h264_1080p25.mp4");
  std::string bytes;
  std::string error;

  TMedia() {
    if (std::system("ffmpeg -version >/dev/null 2>&1") != 0) {
      error = "ffmpeg missing: no clip to decode";
      return;
    }
    const std::string cmd =
        "ffmpeg -hide_banner -loglevel error -y -f lavfi -i 'testsrc2=size=1920x1080:rate=25:duration=3' "
        "-c:v libx264 -preset fast -pix_fmt yuv420p -b:v 8M '" +
        path + "' >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0) {
      error = "ffmpeg failed to make the clip";
      return;
    }
    bytes = zmtest::ReadFileBytes(path);
    if (bytes.empty()) error = "clip unreadable";
  }
};

const TMedia& Media() {
  static const TMedia media;
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
}
// Argument: multi-threaded decoding allowed (the player's setting) or not.
BENCHMARK(BM_DecodeToPictures)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

// The ffmpeg program decoding the same clip to nothing; argument: its own
// threads (1) or one (0).
void BM_FfmpegProgram(benchmark::State& state) {
  const TMedia& m = Media();
  if (!m.error.empty()) {
    state.SkipWithError(m.error.c_str());
    return;
  }
  const std::string cmd = std::string("ffmpeg -nostdin -hide_banner -loglevel error ") +
                          (state.range(0) ? "" : "-threads 1 ") + "-i '" + m.path + "' -f null - >/dev/null 2>&1";
  std::int64_t frames = 0;
  for (auto _ : state) {
    if (std::system(cmd.c_str()) != 0) return state.SkipWithError("ffmpeg failed");
    frames += 75;  // 3 s at 25 frames a second
  }
  state.counters["fps"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FfmpegProgram)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

}  // namespace
