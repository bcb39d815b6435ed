#pragma once
// Test media for the audio code: a temporary folder, the command-line tools
// that make encoded files, a WAV writer with damage knobs, streams the audio
// code reads, and sines with a fit to check what a resampler made of them.
// Header only, so the ThreadSanitizer binary (which takes only the
// *ThreadsTest.cpp files) can use it too.
// TMediaInfo is packed: compare its format fields as copies
// (EXPECT_EQ(+info.Format.nChannels, 2)); a reference to them is misaligned.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

#include "ZmLib/Music/zmAudioStreams.h"
#include "tests/support/Spectrum.h"
#include "tests/support/TempDir.h"

namespace zmtest {

// The temporary folder: Path() native, Wide(name) the way the audio code names files.
using TMediaDir = TTempDir;

// Single-quoted for the shell.
inline std::string ShellQuote(const std::string& s) {
  std::string r = "'";
  for (char c : s) r += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return r + "'";
}

// Runs a shell command with its output silenced; answers the exit code (-1 when it did not run).
inline int RunTool(const std::string& command) {
  const int rc = std::system((command + " >/dev/null 2>&1").c_str());
  // The wait status: the exit code sits in the second byte.
  return rc == -1 ? -1 : (rc >> 8) & 0xFF;
}

// "ffmpeg", "mpg123", "sox": whether the program is installed and runs.
inline bool HaveTool(const std::string& name) {
  if (name == "ffmpeg") return RunTool("ffmpeg -version") == 0;
  if (name == "mpg123") return RunTool("mpg123 --version") == 0;
  if (name == "sox") return RunTool("sox --version") == 0;
  return RunTool("command -v " + ShellQuote(name)) == 0;
}

// A WAV file's layout; the optional fields lie in the header when set.
struct TWavLayout {
  std::uint16_t Tag = 1;
  std::uint16_t Channels = 2;
  std::uint32_t Rate = 44100;
  std::uint16_t Bits = 16;
  bool ListBeforeFmt = false;
  bool ListBeforeData = false;
  std::string FmtExtra;  // bytes after the 16 standard ones (cbSize included when wanted)
  std::optional<std::uint32_t> RiffSize;
  std::optional<std::uint32_t> FmtSize;  // the chunk's stated size; the bytes written stay
  std::optional<std::uint32_t> DataSize;
  std::optional<std::uint16_t> BlockAlign;
  std::optional<std::uint32_t> AvgBytes;
};

inline void PutLE(std::string& s, std::uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s += char((v >> (8 * i)) & 0xFF);
}

// A RIFF WAVE file's bytes around data (the data chunk is padded to even length).
inline std::string MakeWav(const TWavLayout& w, const std::string& data) {
  const std::uint16_t align = w.BlockAlign.value_or(std::uint16_t(w.Channels * ((w.Bits + 7) / 8)));
  std::string list = "LIST";
  PutLE(list, 14, 4);
  list += "INFOIART";
  PutLE(list, 2, 4);
  list += "zm";
  std::string fmt = "fmt ";
  PutLE(fmt, w.FmtSize.value_or(std::uint32_t(16 + w.FmtExtra.size())), 4);
  PutLE(fmt, w.Tag, 2);
  PutLE(fmt, w.Channels, 2);
  PutLE(fmt, w.Rate, 4);
  PutLE(fmt, w.AvgBytes.value_or(w.Rate * align), 4);
  PutLE(fmt, align, 2);
  PutLE(fmt, w.Bits, 2);
  fmt += w.FmtExtra;
  if (fmt.size() % 2) fmt += '\0';
  std::string body = "WAVE";
  if (w.ListBeforeFmt) body += list;
  body += fmt;
  if (w.ListBeforeData) body += list;
  body += "data";
  PutLE(body, w.DataSize.value_or(std::uint32_t(data.size())), 4);
  body += data;
  if (data.size() % 2) body += '\0';
  std::string file = "RIFF";
  PutLE(file, w.RiffSize.value_or(std::uint32_t(body.size())), 4);
  return file + body;
}

inline std::string WriteWav(const TMediaDir& dir, const std::string& name, const TWavLayout& w, const std::string& data) {
  return dir.Write(name, MakeWav(w, data));
}

inline std::vector<std::uint8_t> ReadAllBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// Samples in [-1, 1] as little-endian PCM of 8 (unsigned), 16, 24 or 32 bits,
// or 32-bit IEEE float when asFloat.
inline std::string EncodeSamples(const std::vector<double>& samples, int bits, bool asFloat = false) {
  std::string s;
  for (double v : samples) {
    v = std::clamp(v, -1.0, 1.0);
    if (asFloat) {
      const float f = float(v);
      std::uint32_t u;
      std::memcpy(&u, &f, 4);
      PutLE(s, u, 4);
      continue;
    }
    const double scale = std::ldexp(1.0, bits - 1);
    std::int64_t q = std::llround(v * scale);
    q = std::clamp<std::int64_t>(q, -std::int64_t(scale), std::int64_t(scale) - 1);
    if (bits == 8) q += 128;
    PutLE(s, std::uint64_t(q), bits / 8);
  }
  return s;
}

// Owns a stream of the wrapper: a file opened by name, or bytes in memory.
class TTestStream {
public:
  TTestStream() = default;
  explicit TTestStream(zm::TStream* s, bool byWrapper) : stream_(s), byWrapper_(byWrapper) {}
  ~TTestStream() { Reset(); }
  TTestStream(TTestStream&& o) noexcept : stream_(o.stream_), byWrapper_(o.byWrapper_) { o.stream_ = nullptr; }
  TTestStream& operator=(TTestStream&& o) noexcept {
    if (this != &o) {
      Reset();
      stream_ = o.stream_;
      byWrapper_ = o.byWrapper_;
      o.stream_ = nullptr;
    }
    return *this;
  }
  zm::TStream* get() const { return stream_; }
  explicit operator bool() const { return stream_ != nullptr; }
  void Reset() {
    if (!stream_) return;
    if (byWrapper_) {
      zm::StreamWrapper()->Close(nullptr, stream_, nullptr, nullptr);
    } else {
      stream_->Free();
    }
    stream_ = nullptr;
  }

private:
  zm::TStream* stream_ = nullptr;
  bool byWrapper_ = false;
};

// The file the way the player opens it (empty when it cannot be opened).
inline TTestStream OpenMediaFile(const TMediaDir& dir, const std::string& relative) {
  return TTestStream(zm::StreamWrapper()->Open(nullptr, dir.Wide(relative), nullptr, nullptr), true);
}

inline TTestStream MemoryMedia(const std::string& bytes) {
  auto s = zm::MakeRef<zm::TMemoryStream>();
  if (!bytes.empty()) s->Write(zm::TWriteBuffer(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
  s->SetPosition(0);
  return TTestStream(s.Detach(), false);
}

// Interleaved sine in [-1, 1]: the same tone on every channel.
inline std::vector<double> Sine(std::int64_t frames, int channels, double rate, double frequency, double level = 0.5,
                                double phase = 0) {
  std::vector<double> v;
  v.reserve(std::size_t(frames * channels));
  for (std::int64_t i = 0; i < frames; ++i) {
    const double x = level * std::sin(2 * std::numbers::pi * frequency * double(i) / rate + phase);
    for (int c = 0; c < channels; ++c) v.push_back(x);
  }
  return v;
}

inline std::vector<double> ToDouble16(const std::int16_t* p, std::size_t count) {
  std::vector<double> v(count);
  for (std::size_t i = 0; i < count; ++i) v[i] = p[i] / 32768.0;
  return v;
}

inline std::vector<double> Pcm16ToDouble(const std::uint8_t* bytes, std::size_t byteCount) {
  std::vector<double> v(byteCount / 2);
  for (std::size_t i = 0; i < v.size(); ++i) {
    std::int16_t s;
    std::memcpy(&s, bytes + 2 * i, 2);
    v[i] = s / 32768.0;
  }
  return v;
}

// One channel of interleaved samples.
inline std::vector<double> Channel(const std::vector<double>& v, int channels, int channel) {
  std::vector<double> r;
  for (std::size_t i = std::size_t(channel); i < v.size(); i += std::size_t(channels)) r.push_back(v[i]);
  return r;
}

struct TSineFit {
  double Frequency = 0;
  double Level = 0;     // peak
  double Residual = 0;  // rms of what the sine does not explain
  double MaxError = 0;  // largest single-sample difference (clicks show here)
};

// Least-squares a*sin + b*cos + c at frequency f over x; fills level and errors.
inline void FitAt(const std::vector<double>& x, double rate, double f, TSineFit& fit) {
  double ss = 0, sc = 0, cc = 0, xs = 0, xc = 0, sum = 0;
  const std::size_t n = x.size();
  for (std::size_t i = 0; i < n; ++i) {
    const double w = 2 * std::numbers::pi * f * double(i) / rate;
    const double s = std::sin(w), c = std::cos(w);
    ss += s * s;
    sc += s * c;
    cc += c * c;
    xs += x[i] * s;
    xc += x[i] * c;
    sum += x[i];
  }
  const double det = ss * cc - sc * sc;
  const double a = det != 0 ? (xs * cc - xc * sc) / det : 0;
  const double b = det != 0 ? (xc * ss - xs * sc) / det : 0;
  const double mean = n ? sum / double(n) : 0;
  double err = 0, maxErr = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const double w = 2 * std::numbers::pi * f * double(i) / rate;
    const double d = x[i] - (a * std::sin(w) + b * std::cos(w) + mean);
    err += d * d;
    maxErr = std::max(maxErr, std::fabs(d));
  }
  fit.Frequency = f;
  fit.Level = std::hypot(a, b);
  fit.Residual = n ? std::sqrt(err / double(n)) : 0;
  fit.MaxError = maxErr;
}

// Frequency from interpolated rising zero crossings, refined by the fit.
inline TSineFit FitSine(const std::vector<double>& x, double rate) {
  TSineFit fit;
  double first = -1, last = -1;
  int crossings = 0;
  for (std::size_t i = 1; i < x.size(); ++i) {
    if (x[i - 1] < 0 && x[i] >= 0) {
      const double t = double(i - 1) + (-x[i - 1]) / (x[i] - x[i - 1]);
      if (first < 0) first = t;
      last = t;
      ++crossings;
    }
  }
  if (crossings < 2) return fit;
  double f = rate * (crossings - 1) / (last - first);
  // Golden-section search on the residual around the estimate.
  double lo = f * 0.995, hi = f * 1.005;
  const double g = (std::sqrt(5.0) - 1) / 2;
  for (int i = 0; i < 40; ++i) {
    const double m1 = hi - g * (hi - lo), m2 = lo + g * (hi - lo);
    TSineFit f1, f2;
    FitAt(x, rate, m1, f1);
    FitAt(x, rate, m2, f2);
    if (f1.Residual < f2.Residual) {
      hi = m2;
    } else {
      lo = m1;
    }
  }
  FitAt(x, rate, (lo + hi) / 2, fit);
  return fit;
}

}  // namespace zmtest
