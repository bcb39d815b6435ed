// Launch to the first frame of large shows, headless: 1,000, 10,000 and
// 100,000 slides of one colour each, and 10,000 slides each showing a picture
// file of its own (the shows of "MeasurePlayer opening-shows"). Each run is
// the player program started anew (MeasurePlayer, which is OruViewer5 with
// its frames timed) and ended at its first presented frame; its resident
// peak up to then is the memory figure.
//
// Beside it the same number of pictures handed to FFmpeg's concat reader
// (ffmpeg 5.1, a list of "file" and "duration" lines): it reads the whole
// list, opens the first picture, decodes it and ends; the time is its launch
// to its end, the memory its own "maxrss". For the solid shows the list
// names one small picture again and again. It is the nearest picture program
// here that reaches a first frame without a display; it draws nothing on a
// screen, so the player's own frame work comes on top of what they share.
// FFmpeg runs as one runs it by hand on such a list: in the list's folder,
// the pictures named relative to it, its keyboard left alone (-nostdin).
//
// A user opens a show after the machine has rested, not right after another
// run: each round runs the player after a rest, FFmpeg after a rest, then
// each once more straight after the run before (back to back). The figures
// are the medians over the rounds; the time column is the player's after
// rest. The runs are held to two processors (as the figures were asked on)
// through taskset when it is there: those of ZM_BENCH_CPUS, or else the two
// that were least busy over the rest before the run (on a shared machine
// other work gathers on some, and a run held to busy processors waits for
// them); a run back to back keeps the processors of the run before.
//
// ZM_BENCH_REST_MS  the rest before a rested run (default 8000)
// ZM_BENCH_ROUNDS   the rounds (default 5)
// ZM_BENCH_CPUS     fixed processors for every run (taskset's list, "0,1")
//
// Counters: rest_ffmpeg_ms, rest_x_ffmpeg (the player's median after rest over
// FFmpeg's), rest_min_ms and rest_max_ms (the player's); b2b_ms,
// b2b_ffmpeg_ms, b2b_x_ffmpeg (back to back); peak_MB and ffmpeg_peak_MB (the
// medians); load1 (the load average over a minute as the show's rounds
// began) and load1_end; cpus_busy_pct (the median share of time the two
// chosen processors were busy with other work over the rests; -1 with
// ZM_BENCH_CPUS); for the
// 100,000-slide show x_1000 (its median after rest over the 1,000-slide
// show's), for the picture show x_solid (over the 10,000-slide solid
// show's).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bench/BenchFiles.h"

namespace {

const char* const kShows[] = {"solid1000", "solid10000", "solid100000", "pictures10000"};
const char* const kLists[] = {"list1000.ffconcat", "list10000.ffconcat", "list100000.ffconcat",
                              "pictures10000.ffconcat"};

std::string Quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

bool Shell(const std::string& command) { return std::system(command.c_str()) == 0; }

// The shows, written once into a folder of the run.
class TShowFolder {
public:
  TShowFolder() {
    written_ = Shell(Quoted(ZM_MEASURE_PLAYER) + " opening-shows " + Quoted(folder_.Path()) + " > /dev/null");
  }
  bool Written() const { return written_; }
  std::string Path(const std::string& name) const { return folder_.File(name); }

private:
  zmbench::TBenchFolder folder_;
  bool written_ = false;
};

const TShowFolder& Folder() {
  static TShowFolder folder;
  return folder;
}

// Busy and all time of each processor so far (/proc/stat), by number.
struct TCpuTime {
  std::uint64_t Busy = 0, All = 0;
};
std::vector<TCpuTime> CpuTimes() {
  std::vector<TCpuTime> times;
  std::ifstream in("/proc/stat");
  std::string line;
  while (std::getline(in, line)) {
    if (line.size() < 4 || line.compare(0, 3, "cpu") != 0 || !std::isdigit(static_cast<unsigned char>(line[3])))
      continue;
    std::istringstream fields(line.substr(3));
    std::size_t cpu = 0;
    std::uint64_t user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0, steal = 0;
    fields >> cpu >> user >> nice >> system >> idle >> iowait >> irq >> softirq >> steal;
    if (cpu >= 4096) continue;
    if (times.size() <= cpu) times.resize(cpu + 1);
    times[cpu].Busy = user + nice + system + irq + softirq + steal;
    times[cpu].All = times[cpu].Busy + idle + iowait;
  }
  return times;
}

// The processors this process may run on ("Cpus_allowed_list", as "0-3,6").
std::vector<std::size_t> AllowedCpus() {
  std::ifstream in("/proc/self/status");
  std::string line;
  std::vector<std::size_t> cpus;
  while (std::getline(in, line)) {
    if (line.rfind("Cpus_allowed_list:", 0) != 0) continue;
    std::istringstream list(line.substr(18));
    std::string range;
    while (std::getline(list, range, ',')) {
      const std::size_t dash = range.find('-');
      const unsigned long first = std::strtoul(range.c_str(), nullptr, 10);
      const unsigned long last = dash == std::string::npos ? first : std::strtoul(range.c_str() + dash + 1, nullptr, 10);
      for (unsigned long c = first; c <= last && c < 4096; ++c) cpus.push_back(c);
    }
  }
  return cpus;
}

bool HaveTaskset() {
  static const bool have = Shell("command -v taskset > /dev/null 2>&1");
  return have;
}

// The processors of the runs: the taskset prefix, and how busy they were.
struct TPinning {
  std::string Prefix;
  double BusyPct = -1;
};
TPinning& Pinning() {
  static TPinning pinning;
  return pinning;
}

// Chooses the two processors least busy between the two readings (fewest
// numbers first among equals), unless ZM_BENCH_CPUS names them.
void ChoosePinning(const std::vector<TCpuTime>& before, const std::vector<TCpuTime>& after) {
  TPinning& p = Pinning();
  p = {};
  if (!HaveTaskset()) return;
  if (const char* fixed = std::getenv("ZM_BENCH_CPUS")) {
    if (*fixed) p.Prefix = "taskset -c " + Quoted(fixed) + " ";
    return;
  }
  std::vector<std::pair<double, std::size_t>> shares;
  for (std::size_t cpu : AllowedCpus()) {
    if (cpu >= before.size() || cpu >= after.size()) continue;
    const double all = double(after[cpu].All - before[cpu].All);
    shares.emplace_back(all > 0 ? double(after[cpu].Busy - before[cpu].Busy) / all : 0.0, cpu);
  }
  if (shares.size() < 2) return;
  std::sort(shares.begin(), shares.end());
  p.Prefix = "taskset -c " + std::to_string(shares[0].second) + "," + std::to_string(shares[1].second) + " ";
  p.BusyPct = 50 * (shares[0].first + shares[1].first);
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
  Shell("MEASURE_PLAYER_FIRST_FRAME=1 ZM_DISPLAY=headless ZM_AUDIO=none " + Pinning().Prefix + Quoted(ZM_MEASURE_PLAYER) +
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
  const bool ok = Shell("cd " + Quoted(Folder().Path("")) + " && " + Pinning().Prefix +
                        "ffmpeg -nostdin -hide_banner -nostats -benchmark -f concat -i " + Quoted(list) +
                        " -frames:v 1 -f null - > /dev/null 2> " + Quoted(out));
  TRun run;
  if (ok) run.Ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  run.PeakMb = ReadNumberAfter(out, "maxrss=") / 1024.0;
  return run;
}

// The player's median after rest of each show so far, for the ratios.
std::map<std::string, double>& Rested() {
  static std::map<std::string, double> rested;
  return rested;
}

double Median(std::vector<double> v) {
  if (v.empty()) return -1;
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

long EnvNumber(const char* name, long def) {
  const char* v = std::getenv(name);
  return v && *v ? std::strtol(v, nullptr, 10) : def;
}

// The load average over the last minute; -1 when not known.
double LoadAverage() {
  std::ifstream in("/proc/loadavg");
  double load = -1;
  in >> load;
  return load;
}

// The rest before a rested run; the processors for it are chosen over it.
void Rest() {
  const std::vector<TCpuTime> before = CpuTimes();
  std::this_thread::sleep_for(std::chrono::milliseconds(std::max(EnvNumber("ZM_BENCH_REST_MS", 8000), 0L)));
  ChoosePinning(before, CpuTimes());
}

void BM_ShowOpening(benchmark::State& state) {
  const std::string show = kShows[state.range(0)];
  state.SetLabel(show);
  if (!Folder().Written()) {
    state.SkipWithError("the shows could not be written");
    return;
  }
  if (!Shell("command -v ffmpeg > /dev/null 2>&1")) {
    state.SkipWithError("ffmpeg not available");
    return;
  }
  const long rounds = std::max(EnvNumber("ZM_BENCH_ROUNDS", 5), 1L);
  std::vector<double> rested, restedFfmpeg, b2b, b2bFfmpeg, peak, ffmpegPeak, busy;
  const double load = LoadAverage();
  for (auto _ : state) {
    for (long r = 0; r < rounds; ++r) {
      Rest();
      busy.push_back(Pinning().BusyPct);
      const TRun player = RunPlayer(show);
      Rest();
      busy.push_back(Pinning().BusyPct);
      const TRun ffmpeg = RunFfmpeg(kLists[state.range(0)]);
      const TRun playerAgain = RunPlayer(show);
      const TRun ffmpegAgain = RunFfmpeg(kLists[state.range(0)]);
      if (player.Ms < 0 || playerAgain.Ms < 0 || ffmpeg.Ms < 0 || ffmpegAgain.Ms < 0) {
        state.SkipWithError("a run did not reach its first frame");
        return;
      }
      rested.push_back(player.Ms);
      restedFfmpeg.push_back(ffmpeg.Ms);
      b2b.push_back(playerAgain.Ms);
      b2bFfmpeg.push_back(ffmpegAgain.Ms);
      peak.push_back(std::max(player.PeakMb, playerAgain.PeakMb));
      ffmpegPeak.push_back(std::max(ffmpeg.PeakMb, ffmpegAgain.PeakMb));
    }
    state.SetIterationTime(Median(rested) / 1000.0);
  }
  const double median = Median(rested);
  Rested()[show] = median;
  state.counters["rest_ffmpeg_ms"] = Median(restedFfmpeg);
  state.counters["rest_x_ffmpeg"] = median / Median(restedFfmpeg);
  state.counters["rest_min_ms"] = *std::min_element(rested.begin(), rested.end());
  state.counters["rest_max_ms"] = *std::max_element(rested.begin(), rested.end());
  state.counters["b2b_ms"] = Median(b2b);
  state.counters["b2b_ffmpeg_ms"] = Median(b2bFfmpeg);
  state.counters["b2b_x_ffmpeg"] = Median(b2b) / Median(b2bFfmpeg);
  state.counters["peak_MB"] = Median(peak);
  state.counters["ffmpeg_peak_MB"] = Median(ffmpegPeak);
  state.counters["load1"] = load;
  state.counters["load1_end"] = LoadAverage();
  state.counters["cpus_busy_pct"] = Median(busy);
  auto ratio = [&](const char* name, const std::string& base) {
    const auto it = Rested().find(base);
    if (it != Rested().end() && it->second > 0) state.counters[name] = median / it->second;
  };
  if (show == "solid100000") ratio("x_1000", "solid1000");
  if (show == "pictures10000") ratio("x_solid", "solid10000");
}

}  // namespace

BENCHMARK(BM_ShowOpening)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);
