// Decoding a 5-minute 128 kbps stereo MP3: the converter filling to the end,
// against the mpg123 program (a whole process, output to /dev/null) and
// libmpg123 called directly on the same bytes.
#include <benchmark/benchmark.h>
#include <mpg123.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchFiles.h"
#include "ZmLib/Music/zmMpegConverter.h"
#include "tests/support/kit/TempFolder.h"

using namespace zm;

namespace {

constexpr std::int32_t kFill = 17640;  // 100 ms, what a channel asks for at a time

struct TMedia {
  std::unique_ptr<zmbench::TBenchFolder> folder;
  std::string path;
  std::string bytes;
  std::string error;
};

// Made once: the MP3 file in a temporary folder.
const TMedia& Media() {
  static const TMedia media = [] {
    TMedia m;
    if (std::system("ffmpeg -version >/dev/null 2>&1") != 0) {
      m.error = "ffmpeg missing: no MP3 to decode";
      return m;
    }
    m.folder = std::make_unique<zmbench::TBenchFolder>();
    m.path = m.folder->File("five_minutes.mp3");
    const std::string cmd =
        "ffmpeg -hide_banner -loglevel error -y -f lavfi -i 'sine=frequency=440:sample_rate=44100:duration=300' "
        "-f lavfi -i 'anoisesrc=color=pink:sample_rate=44100:duration=300:amplitude=0.2' "
        "-filter_complex amix=inputs=2 -ac 2 -c:a libmp3lame -b:a 128k '" +
        m.path + "' >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0) {
      m.error = "ffmpeg failed to make the MP3";
      return m;
    }
    m.bytes = zmtest::ReadFileBytes(m.path);
    return m;
  }();
  return media;
}

TRef<TMemoryStream> StreamOf(const std::string& bytes) {
  auto s = MakeRef<TMemoryStream>();
  s->Write(TWriteBuffer(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
  s->SetPosition(0);
  return s;
}

void BM_TMpegConverterFill(benchmark::State& state) {
  const TMedia& m = Media();
  if (!m.error.empty()) {
    state.SkipWithError(m.error.c_str());
    return;
  }
  std::int64_t pcm = 0;
  for (auto _ : state) {
    auto s = StreamOf(m.bytes);
    TMediaInfo info{};
    TMpegInfo mp;
    if (!mp.Read(s.get(), info)) {
      state.SkipWithError("no MPEG audio found");
      return;
    }
    auto c = MakeRef<TMpegConverter>();
    c->Stream = s.get();
    c->SetInputFormat(info);
    pcm = 0;
    while (c->Fill(kFill)) {
      pcm += kFill;
      c->Output().Consume(kFill);
    }
  }
  state.counters["pcm_MB"] = double(pcm) / 1e6;
}
BENCHMARK(BM_TMpegConverterFill)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Mpg123Program(benchmark::State& state) {
  const TMedia& m = Media();
  if (!m.error.empty()) {
    state.SkipWithError(m.error.c_str());
    return;
  }
  if (std::system("mpg123 --version >/dev/null 2>&1") != 0) {
    state.SkipWithError("mpg123 program missing");
    return;
  }
  const std::string cmd = "mpg123 -q -s '" + m.path + "' > /dev/null";
  for (auto _ : state) {
    if (std::system(cmd.c_str()) != 0) state.SkipWithError("mpg123 failed");
  }
}
BENCHMARK(BM_Mpg123Program)->Unit(benchmark::kMillisecond)->UseRealTime();

// The library's feed interface on the same bytes, 4096 at a time, as the converter feeds it.
void BM_Libmpg123Direct(benchmark::State& state) {
  const TMedia& m = Media();
  if (!m.error.empty()) {
    state.SkipWithError(m.error.c_str());
    return;
  }
  std::vector<unsigned char> out(65536);
  std::int64_t pcm = 0;
  for (auto _ : state) {
    mpg123_handle* h = mpg123_new(nullptr, nullptr);
    mpg123_param(h, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    mpg123_open_feed(h);
    pcm = 0;
    const auto* p = reinterpret_cast<const unsigned char*>(m.bytes.data());
    for (std::size_t at = 0; at < m.bytes.size(); at += 4096) {
      std::size_t n = std::min<std::size_t>(4096, m.bytes.size() - at), done = 0;
      int rc = mpg123_decode(h, p + at, n, out.data(), out.size(), &done);
      pcm += std::int64_t(done);
      while (rc == MPG123_NEW_FORMAT || (rc == MPG123_OK && done > 0)) {
        rc = mpg123_decode(h, nullptr, 0, out.data(), out.size(), &done);
        pcm += std::int64_t(done);
      }
    }
    mpg123_delete(h);
  }
  state.counters["pcm_MB"] = double(pcm) / 1e6;
}
BENCHMARK(BM_Libmpg123Direct)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
