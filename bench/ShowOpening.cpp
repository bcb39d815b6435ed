// Launch to the first frame of large shows, headless: 1,000, 10,000 and
// 100,000 slides of one colour each, and 10,000 slides each showing a picture
// file of its own (the shows of "MeasurePlayer opening-shows"). Each run is
// the player program started anew (MeasurePlayer, which is OruViewer5 with
// its frames timed) and ended at its first presented frame; its resident
// peak up to then is the memory figure. The time is the best of the
// repetitions ("min").
//
// Beside it the same number of pictures handed to FFmpeg's concat reader
// (ffmpeg 5.1, a list of "file" and "duration" lines): it reads the whole
// list, opens the first picture, decodes it and ends; the time is its launch
// to its end, the memory its own "maxrss". For the solid shows the list
// names one small picture again and again. It is the nearest picture program
// here that reaches a first frame without a display; it draws nothing on a
// screen, so the player's own frame work comes on top of what they share.
//
// The runs use the processors of ZM_BENCH_CPUS (default "0,1": two, as the
// figures were asked on) through taskset when it is there.
//
// Counters: peak_MB; for the 100,000-slide show x_1000 (its time over the
// best of the 1,000-slide show's), for the picture show x_solid (over the
// 10,000-slide solid show's).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const char* const kShows[] = {"solid1000", "solid10000", "solid100000", "pictures10000"};
const char* const kLists[] = {"list1000.ffconcat", "list10000.ffconcat", "list100000.ffconcat",
                              "pictures10000.ffconcat"};

std::string Quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

bool Shell(const std::string& command) { return std::system(command.c_str()) == 0; }

// The shows, written once into a folder of their own, removed at the end.
class TShowFolder {
public:
  TShowFolder() {
    std::random_device random;
    folder_ = fs::temp_directory_path() / ("zm_show_opening_" + std::to_string(random()));
    fs::create_directories(folder_);
    written_ = Shell(Quoted(ZM_MEASURE_PLAYER) + " opening-shows " + Quoted(folder_.string()) + " > /dev/null");
  }
  ~TShowFolder() {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  bool Written() const { return written_; }
  std::string Path(const std::string& name) const { return (folder_ / name).string(); }

private:
  fs::path folder_;
  bool written_ = false;
};

const TShowFolder& Folder() {
  static TShowFolder folder;
  return folder;
}

std::string Pinned() {
  static const std::string prefix = [] {
    const char* cpus = std::getenv("ZM_BENCH_CPUS");
    const std::string list = cpus ? cpus : "0,1";
    if (list.empty() || !Shell("command -v taskset > /dev/null 2>&1")) return std::string();
    return "taskset -c " + Quoted(list) + " ";
  }();
  return prefix;
}

// The first number after key at the start of a line of the file; -1 when none.
double ReadNumberAfter(const std::string& file, const std::string& key) {
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t at = line.find(key);
    if (at != std::string::npos) return std::atof(line.c_str() + at + key.size());
  }
  return -1;
}

std::int64_t WallNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

struct TRun {
  double Ms = -1;
  double PeakMb = -1;
};

TRun RunPlayer(const std::string& show) {
  const std::string out = Folder().Path("player.txt");
  const std::int64_t launch = WallNs();
  Shell("MEASURE_PLAYER_FIRST_FRAME=1 ZM_DISPLAY=headless ZM_AUDIO=none " + Pinned() + Quoted(ZM_MEASURE_PLAYER) +
        " play -filename " + Quoted(Folder().Path(show + "/Project.oru")) + " > /dev/null 2> " + Quoted(out));
  TRun run;
  const double first = ReadNumberAfter(out, "first-frame-ns ");
  if (first > 0) run.Ms = (first - double(launch)) / 1e6;
  run.PeakMb = ReadNumberAfter(out, "peak-rss-kb ") / 1024.0;
  return run;
}

TRun RunFfmpeg(const std::string& list) {
  const std::string out = Folder().Path("ffmpeg.txt");
  const auto start = std::chrono::steady_clock::now();
  const bool ok = Shell(Pinned() + "ffmpeg -hide_banner -nostats -benchmark -f concat -safe 0 -i " +
                        Quoted(Folder().Path(list)) + " -frames:v 1 -f null - > /dev/null 2> " + Quoted(out));
  TRun run;
  if (ok) run.Ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  run.PeakMb = ReadNumberAfter(out, "maxrss=") / 1024.0;
  return run;
}

// The best time of each show so far, for the ratios.
std::map<std::string, double>& Best() {
  static std::map<std::string, double> best;
  return best;
}

void Measure(benchmark::State& state, const std::string& key, TRun (*run)(const std::string&),
             const std::string& what) {
  if (!Folder().Written()) {
    state.SkipWithError("the shows could not be written");
    return;
  }
  TRun last;
  for (auto _ : state) {
    last = run(what);
    if (last.Ms < 0) {
      state.SkipWithError("no first frame");
      return;
    }
    state.SetIterationTime(last.Ms / 1000.0);
  }
  double& best = Best()[key];
  best = best > 0 ? std::min(best, last.Ms) : last.Ms;
  state.counters["peak_MB"] = last.PeakMb;
  auto ratio = [&](const char* name, const std::string& base) {
    const auto it = Best().find(base);
    if (it != Best().end() && it->second > 0) state.counters[name] = last.Ms / it->second;
  };
  if (key.ends_with("solid100000")) ratio("x_1000", key.substr(0, key.size() - 6) + "1000");
  if (key.ends_with("pictures10000")) ratio("x_solid", key.substr(0, key.size() - 13) + "solid10000");
}

void BM_PlayerFirstFrame(benchmark::State& state) {
  const std::string show = kShows[state.range(0)];
  state.SetLabel(show);
  Measure(state, std::string("player/") + show, &RunPlayer, show);
}

void BM_FfmpegConcatFirstFrame(benchmark::State& state) {
  if (!Shell("command -v ffmpeg > /dev/null 2>&1")) {
    state.SkipWithError("ffmpeg not available");
    return;
  }
  const std::string show = kShows[state.range(0)];
  state.SetLabel(show);
  Measure(state, std::string("ffmpeg/") + show, &RunFfmpeg, kLists[state.range(0)]);
}

double Fastest(const std::vector<double>& v) { return v.empty() ? 0 : *std::min_element(v.begin(), v.end()); }

}  // namespace

BENCHMARK(BM_PlayerFirstFrame)
    ->DenseRange(0, 3)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(3)
    ->ComputeStatistics("min", Fastest)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_FfmpegConcatFirstFrame)
    ->DenseRange(0, 3)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(3)
    ->ComputeStatistics("min", Fastest)
    ->ReportAggregatesOnly(true);
