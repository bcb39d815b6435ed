#include "ZmLib/Music/zmPcmResampler.h"

#include <cmath>
#include <cstring>

namespace zm {

namespace {

std::int32_t Clamp16(double v) {
  if (!(v == v)) return 0;
  if (v >= 32767) return 32767;
  if (v <= -32768) return -32768;
  return std::int32_t(std::lrint(v));
}

std::int32_t Int16At(const std::uint8_t* p) { return std::int16_t(std::uint16_t(p[0] | (p[1] << 8))); }

}  // namespace

void TPcmResampler::Reset() {
  pending_.clear();
  h0_[0] = h0_[1] = h1_[0] = h1_[1] = 0;
  started_ = false;
  flushed_ = false;
  inFrames_ = outFrames_ = 0;
  preparedIn_ = preparedOut_ = 0;
}

bool TPcmResampler::Supported() const {
  const std::uint16_t bits = in_.wBitsPerSample;
  const bool inOk = in_.nChannels >= 1 && (bits == 8 || bits == 16 || bits == 24 || bits == 32) &&
                    (in_.wFormatTag == 1 || (in_.wFormatTag == 3 && bits == 32));
  const bool outOk = out_.wFormatTag == 1 && (out_.nChannels == 1 || out_.nChannels == 2) &&
                     (out_.wBitsPerSample == 8 || out_.wBitsPerSample == 16);
  const auto rateOk = [](std::uint32_t r) { return r >= kMinRate && r <= kMaxRate; };
  return inOk && outOk && rateOk(in_.nSamplesPerSec) && rateOk(out_.nSamplesPerSec);
}

std::int32_t TPcmResampler::InFrameBytes() const { return std::int32_t(in_.nChannels) * (in_.wBitsPerSample / 8); }

std::int32_t TPcmResampler::Prepare(const TWaveFormatEx& in, const TWaveFormatEx& out, std::int32_t inBytes) {
  if (!haveFormats_ || std::memcmp(&in, &in_, sizeof in) != 0 || std::memcmp(&out, &out_, sizeof out) != 0) {
    Reset();
    in_ = in;
    out_ = out;
    haveFormats_ = true;
  }
  preparedIn_ = preparedOut_ = 0;
  if (inBytes <= 0 || !Supported()) return 0;
  const std::int64_t frames = (std::int64_t(pending_.size()) + inBytes) / InFrameBytes();
  const std::uint64_t inRate = in_.nSamplesPerSec, outRate = out_.nSamplesPerSec;
  const std::uint64_t made = (inFrames_ + std::uint64_t(frames)) * outRate / inRate - outFrames_;
  const std::int64_t bytes = std::int64_t(made) * out_.nChannels * (out_.wBitsPerSample / 8);
  // Far beyond any buffer a converter fills.
  if (bytes > (std::int64_t(1) << 30)) return 0;
  preparedIn_ = inBytes;
  preparedOut_ = std::int32_t(bytes);
  return preparedOut_;
}

void TPcmResampler::DecodeFrame(const std::uint8_t* p, std::int32_t& left, std::int32_t& right) const {
  const std::int32_t width = in_.wBitsPerSample / 8;
  const auto sample = [&](std::int32_t c) -> std::int32_t {
    const std::uint8_t* s = p + c * width;
    switch (width) {
      case 1:
        return (std::int32_t(s[0]) - 128) * 256;
      case 2:
        return Int16At(s);
      case 3:
        return Int16At(s + 1);
      default:
        if (in_.wFormatTag == 3) {
          float f;
          std::memcpy(&f, s, 4);
          return Clamp16(double(f) * 32767.0);
        }
        return Int16At(s + 2);
    }
  };
  switch (in_.nChannels) {
    case 1:
      left = right = sample(0);
      break;
    case 6:
      left = sample(0) + sample(1) + sample(3) + sample(5);
      right = sample(1) + sample(2) + sample(4) + sample(5);
      break;
    default:  // stereo, and the first two of other layouts
      left = sample(0);
      right = sample(1);
      break;
  }
}

std::uint64_t TPcmResampler::FramesOfNext() const {
  const std::uint64_t inRate = in_.nSamplesPerSec, outRate = out_.nSamplesPerSec;
  return (inFrames_ + 1) * outRate / inRate - outFrames_;
}

std::int32_t TPcmResampler::FlushSize() const {
  if (!haveFormats_ || !started_ || flushed_ || !Supported()) return 0;
  return static_cast<std::int32_t>(FramesOfNext()) * out_.nChannels * (out_.wBitsPerSample / 8);
}

void TPcmResampler::Flush(std::uint8_t* output) {
  std::int32_t outLeft = FlushSize();
  if (outLeft <= 0 || !output) return;
  // A frame cut short by the end of the data is dropped.
  pending_.clear();
  const std::int32_t silent[2] = {0, 0};
  Take(silent, output, outLeft);
  flushed_ = true;
}

void TPcmResampler::Take(const std::int32_t cur[2], std::uint8_t*& output, std::int32_t& outLeft) {
  const std::uint64_t inRate = in_.nSamplesPerSec, outRate = out_.nSamplesPerSec;
  const bool mono = out_.nChannels == 1, eight = out_.wBitsPerSample == 8;
  if (!started_) {
    // The first frame stands in for the ones before it: no click at the start.
    h0_[0] = h1_[0] = cur[0];
    h0_[1] = h1_[1] = cur[1];
    started_ = true;
  }
  // Output j sits at input time (j + 1) * in / out - 1: n input frames
  // make floor(n * out / in) output frames, all within the last span.
  while ((outFrames_ + 1) * inRate <= (inFrames_ + 1) * outRate && outLeft > 0) {
    const double frac = double((inFrames_ + 1) * outRate - (outFrames_ + 1) * inRate) / double(outRate);
    const double t = 2.0 - frac;
    const double w0 = (t - 1) * (t - 2) / 2, w1 = t * (2 - t), w2 = t * (t - 1) / 2;
    std::int32_t v[2];
    for (int c = 0; c < 2; ++c) v[c] = Clamp16(w0 * h0_[c] + w1 * h1_[c] + w2 * cur[c]);
    const std::int32_t n = mono ? 1 : 2;
    if (mono) v[0] = (v[0] + v[1]) / 2;
    for (std::int32_t c = 0; c < n; ++c) {
      if (eight) {
        *output++ = std::uint8_t((v[c] >> 8) + 128);
        --outLeft;
      } else {
        output[0] = std::uint8_t(v[c] & 0xFF);
        output[1] = std::uint8_t((v[c] >> 8) & 0xFF);
        output += 2;
        outLeft -= 2;
      }
    }
    ++outFrames_;
  }
  h0_[0] = h1_[0];
  h0_[1] = h1_[1];
  h1_[0] = cur[0];
  h1_[1] = cur[1];
  ++inFrames_;
  if (inFrames_ >= inRate && outFrames_ >= outRate) {
    inFrames_ -= inRate;
    outFrames_ -= outRate;
  }
}

void TPcmResampler::Resample(const std::uint8_t* input, std::uint8_t* output) {
  const std::int32_t inBytes = preparedIn_;
  std::int32_t outLeft = preparedOut_;
  preparedIn_ = preparedOut_ = 0;
  if (inBytes <= 0 || !input || !output) return;
  const std::int32_t frameBytes = InFrameBytes();
  const auto take = [&](const std::uint8_t* frame) {
    std::int32_t cur[2];
    DecodeFrame(frame, cur[0], cur[1]);
    Take(cur, output, outLeft);
  };

  std::int32_t at = 0;
  if (!pending_.empty()) {
    const std::int32_t need = frameBytes - std::int32_t(pending_.size());
    const std::int32_t n = need < inBytes ? need : inBytes;
    pending_.insert(pending_.end(), input, input + n);
    at = n;
    if (std::int32_t(pending_.size()) == frameBytes) {
      take(pending_.data());
      pending_.clear();
    }
  }
  for (; at + frameBytes <= inBytes; at += frameBytes) take(input + at);
  if (at < inBytes) pending_.insert(pending_.end(), input + at, input + inBytes);
}

}  // namespace zm
