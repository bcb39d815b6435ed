#pragma once
// What frequencies a recording or a converter's output holds, and at what
// level: a Blackman-Harris windowed transform (sidelobes 92 dB down), for
// the tests that look for aliases, images and tones in sound.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numbers>
#include <utility>
#include <vector>

namespace zmtest {

// Levels (peak, full scale 1.0) of the frequencies in the first Size samples
// of x (a power of two; fewer samples are padded with silence), through a
// Blackman-Harris window: anything 92 dB below the strongest tone shows.
struct TSpectrum {
  double Rate = 0;
  double BinHz = 0;
  std::vector<double> Level;

  // The strongest level within two bins of hz.
  double At(double hz) const {
    const std::ptrdiff_t c = std::ptrdiff_t(std::lround(hz / BinHz));
    double best = 0;
    for (std::ptrdiff_t b = c - 2; b <= c + 2; ++b)
      if (b >= 0 && std::size_t(b) < Level.size()) best = std::max(best, Level[std::size_t(b)]);
    return best;
  }
  // The strongest level above 20 Hz further than apart from every frequency
  // in away; its frequency in *where.
  double LargestAway(const std::vector<double>& away, double apart, double* where = nullptr) const {
    double best = 0, at = 0;
    for (std::size_t b = 0; b < Level.size(); ++b) {
      const double hz = double(b) * BinHz;
      if (hz < 20) continue;
      bool near = false;
      for (double a : away) near = near || std::fabs(hz - a) <= apart;
      if (!near && Level[b] > best) {
        best = Level[b];
        at = hz;
      }
    }
    if (where) *where = at;
    return best;
  }
};

inline double Decibels(double level) { return 20 * std::log10(std::max(level, 1e-12)); }

// The level (peak, full scale 1.0) of exactly hz in x, through the same
// window: no loss where hz falls between the spectrum's bins.
inline double ToneLevel(const std::vector<double>& x, double rate, double hz) {
  const std::size_t n = x.size();
  if (n < 2) return 0;
  double re = 0, im = 0, gain = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const double t = 2 * std::numbers::pi * double(i) / double(n - 1);
    const double w = 0.35875 - 0.48829 * std::cos(t) + 0.14128 * std::cos(2 * t) - 0.01168 * std::cos(3 * t);
    const double a = 2 * std::numbers::pi * hz * double(i) / rate;
    re += x[i] * w * std::cos(a);
    im -= x[i] * w * std::sin(a);
    gain += w;
  }
  return 2 * std::hypot(re, im) / gain;
}

inline TSpectrum SpectrumOf(const std::vector<double>& x, double rate, std::size_t size = 16384) {
  std::vector<double> re(size, 0.0), im(size, 0.0);
  double gain = 0;
  for (std::size_t i = 0; i < size; ++i) {
    const double t = 2 * std::numbers::pi * double(i) / double(size - 1);
    const double w = 0.35875 - 0.48829 * std::cos(t) + 0.14128 * std::cos(2 * t) - 0.01168 * std::cos(3 * t);
    gain += w;
    if (i < x.size()) re[i] = x[i] * w;
  }
  // Iterative radix-2 transform.
  for (std::size_t i = 1, j = 0; i < size; ++i) {
    std::size_t bit = size >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) {
      std::swap(re[i], re[j]);
      std::swap(im[i], im[j]);
    }
  }
  for (std::size_t len = 2; len <= size; len <<= 1) {
    const double a = -2 * std::numbers::pi / double(len);
    for (std::size_t i = 0; i < size; i += len) {
      for (std::size_t k = 0; k < len / 2; ++k) {
        const double wr = std::cos(a * double(k)), wi = std::sin(a * double(k));
        const std::size_t p = i + k, q = p + len / 2;
        const double tr = re[q] * wr - im[q] * wi, ti = re[q] * wi + im[q] * wr;
        re[q] = re[p] - tr;
        im[q] = im[p] - ti;
        re[p] += tr;
        im[p] += ti;
      }
    }
  }
  TSpectrum s;
  s.Rate = rate;
  s.BinHz = rate / double(size);
  s.Level.resize(size / 2);
  for (std::size_t b = 0; b < size / 2; ++b) s.Level[b] = 2 * std::hypot(re[b], im[b]) / gain;
  return s;
}

}  // namespace zmtest
