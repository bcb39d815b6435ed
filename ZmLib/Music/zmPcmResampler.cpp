#include "ZmLib/Music/zmPcmResampler.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "Platform/Sound/PlatRateConverter.h"

namespace zm {

namespace {

std::int32_t Clamp16(double v) {
  if (!(v == v)) return 0;
  if (v >= 32767) return 32767;
  if (v <= -32768) return -32768;
  return std::int32_t(std::lrint(v));
}

std::int32_t Int16At(const std::uint8_t* p) { return std::int16_t(std::uint16_t(p[0] | (p[1] << 8))); }

// Far beyond any buffer a converter fills.
constexpr std::int64_t kMaxOutputBytes = std::int64_t(1) << 30;

}  // namespace

TPcmResampler::TPcmResampler() = default;
TPcmResampler::~TPcmResampler() = default;

void TPcmResampler::Reset() {
  pending_.clear();
  inBuffer_.clear();
  started_ = false;
  flushed_ = false;
  inFrames_ = outFrames_ = 0;
  preparedIn_ = preparedOut_ = 0;
  if (converter_) converter_->Reset();
}

void TPcmResampler::SetChannelMask(std::uint32_t mask) {
  mask_ = mask;
  if (haveFormats_) fold_ = plat::sound::StereoFold(in_.nChannels, mask_);
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

std::int32_t TPcmResampler::OutFrameBytes() const {
  return std::int32_t(out_.nChannels) * (out_.wBitsPerSample / 8);
}

bool TPcmResampler::Converting() const { return in_.nSamplesPerSec != out_.nSamplesPerSec; }

std::int32_t TPcmResampler::Prepare(const TWaveFormatEx& in, const TWaveFormatEx& out, std::int32_t inBytes) {
  if (!haveFormats_ || std::memcmp(&in, &in_, sizeof in) != 0 || std::memcmp(&out, &out_, sizeof out) != 0) {
    Reset();
    in_ = in;
    out_ = out;
    haveFormats_ = true;
    fold_ = plat::sound::StereoFold(in_.nChannels, mask_);
    converter_.reset();
  }
  preparedIn_ = preparedOut_ = 0;
  if (inBytes <= 0 || !Supported()) return 0;
  if (Converting() && !converter_) {
    converter_ = std::make_unique<plat::sound::TRateConverter>(double(in_.nSamplesPerSec), double(out_.nSamplesPerSec));
    if (!converter_->Ready()) {
      converter_.reset();
      return 0;
    }
  }
  // The frames this input completes, and those still waiting.
  const std::int64_t frames =
      (std::int64_t(pending_.size()) + inBytes) / InFrameBytes() + std::int64_t(inBuffer_.size() / 2);
  std::int64_t made = frames;
  if (Converting()) {
    // The output never runs ahead of the input: frame k needs the input
    // up to k * in / out.
    const std::uint64_t inRate = in_.nSamplesPerSec, outRate = out_.nSamplesPerSec;
    const std::uint64_t taken = inFrames_ + std::uint64_t(frames);
    const std::uint64_t due = (taken * outRate + inRate - 1) / inRate + 1;
    made = due > outFrames_ ? std::int64_t(due - outFrames_) : 0;
  }
  const std::int64_t bytes = made * OutFrameBytes();
  if (bytes > kMaxOutputBytes) return 0;
  preparedIn_ = inBytes;
  preparedOut_ = std::int32_t(bytes);
  return preparedOut_;
}

void TPcmResampler::DecodeFrame(const std::uint8_t* p, double& left, double& right) const {
  const std::int32_t width = in_.wBitsPerSample / 8;
  const auto sample = [&](std::int32_t c) -> double {
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
          // Whole steps as 16-bit samples have them; a converter takes the rest too.
          return double(f) * 32767.0;
        }
        return Int16At(s + 2);
    }
  };
  switch (in_.nChannels) {
    case 1:
      left = right = sample(0);
      break;
    case 2:
      left = sample(0);
      right = sample(1);
      break;
    default:
      left = right = 0;
      for (std::uint32_t c = 0; c < fold_.Channels; ++c) {
        const double v = sample(std::int32_t(c));
        left += double(fold_.Left[c]) * v;
        right += double(fold_.Right[c]) * v;
      }
      break;
  }
}

std::int32_t TPcmResampler::Store(const float* frames, std::size_t count, std::uint8_t* output) const {
  const bool mono = out_.nChannels == 1, eight = out_.wBitsPerSample == 8;
  std::uint8_t* o = output;
  for (std::size_t i = 0; i < count; ++i) {
    std::int32_t v[2] = {Clamp16(frames[2 * i]), Clamp16(frames[2 * i + 1])};
    const std::int32_t n = mono ? 1 : 2;
    if (mono) v[0] = (v[0] + v[1]) / 2;
    for (std::int32_t c = 0; c < n; ++c) {
      if (eight) {
        *o++ = std::uint8_t((v[c] >> 8) + 128);
      } else {
        o[0] = std::uint8_t(v[c] & 0xFF);
        o[1] = std::uint8_t((v[c] >> 8) & 0xFF);
        o += 2;
      }
    }
  }
  return std::int32_t(o - output);
}

std::size_t TPcmResampler::Feed(std::size_t room) {
  outBuffer_.resize(2 * room);
  std::size_t made = 0, at = 0;
  const std::size_t frames = inBuffer_.size() / 2;
  // The converter takes what the room lets it make; what it leaves waits
  // for the next call.
  while (made < room) {
    std::size_t taken = 0;
    const std::size_t n =
        converter_->Process(inBuffer_.data() + 2 * at, frames - at, &taken, outBuffer_.data() + 2 * made, room - made);
    made += n;
    at += taken;
    if (n == 0 && taken == 0) break;
    if (at == frames && n == 0) break;
  }
  inBuffer_.erase(inBuffer_.begin(), inBuffer_.begin() + std::ptrdiff_t(2 * at));
  inFrames_ += at;
  outFrames_ += made;
  return made;
}

std::int32_t TPcmResampler::Resample(const std::uint8_t* input, std::uint8_t* output) {
  const std::int32_t inBytes = preparedIn_;
  const std::int32_t outBytes = preparedOut_;
  preparedIn_ = preparedOut_ = 0;
  if (inBytes <= 0 || !input) return 0;
  const std::int32_t frameBytes = InFrameBytes();
  const bool converting = Converting() && converter_;
  const auto take = [&](const std::uint8_t* frame) {
    double l, r;
    DecodeFrame(frame, l, r);
    if (converting) {
      inBuffer_.push_back(float(l));
      inBuffer_.push_back(float(r));
    } else {
      // The same rate: whole steps, as 16-bit samples have them.
      inBuffer_.push_back(float(Clamp16(l)));
      inBuffer_.push_back(float(Clamp16(r)));
    }
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
  if (!inBuffer_.empty()) started_ = true;
  if (!output || outBytes <= 0) {
    // Nothing may be written: the frames wait for the next call.
    return 0;
  }
  const std::size_t room = std::size_t(outBytes / OutFrameBytes());
  if (!converting) {
    const std::size_t n = std::min(room, inBuffer_.size() / 2);
    const std::int32_t written = Store(inBuffer_.data(), n, output);
    inBuffer_.erase(inBuffer_.begin(), inBuffer_.begin() + std::ptrdiff_t(2 * n));
    inFrames_ += n;
    outFrames_ += n;
    return written;
  }
  const std::size_t made = Feed(room);
  return Store(outBuffer_.data(), made, output);
}

std::int32_t TPcmResampler::FlushSize() const {
  if (!haveFormats_ || !started_ || flushed_ || !Supported()) return 0;
  if (!Converting() || !converter_) return std::int32_t(inBuffer_.size() / 2) * OutFrameBytes();
  const std::uint64_t inRate = in_.nSamplesPerSec, outRate = out_.nSamplesPerSec;
  const std::uint64_t taken = inFrames_ + inBuffer_.size() / 2;
  const std::uint64_t due = (taken * outRate + inRate - 1) / inRate + 2;
  const std::uint64_t held = std::max<std::uint64_t>(converter_->Held() + 2, due > outFrames_ ? due - outFrames_ : 0);
  const std::uint64_t bytes = held * std::uint64_t(OutFrameBytes());
  return bytes > std::uint64_t(kMaxOutputBytes) ? std::int32_t(kMaxOutputBytes) : std::int32_t(bytes);
}

std::int32_t TPcmResampler::Flush(std::uint8_t* output) {
  const std::int32_t size = FlushSize();
  if (size <= 0 || !output) return 0;
  // A frame cut short by the end of the data is dropped.
  pending_.clear();
  flushed_ = true;
  const std::size_t room = std::size_t(size / OutFrameBytes());
  if (!Converting() || !converter_) {
    const std::size_t n = std::min(room, inBuffer_.size() / 2);
    const std::int32_t written = Store(inBuffer_.data(), n, output);
    inBuffer_.clear();
    return written;
  }
  std::size_t made = inBuffer_.empty() ? 0 : Feed(room);
  inBuffer_.clear();
  outBuffer_.resize(2 * room);
  while (made < room) {
    const std::size_t n = converter_->Drain(outBuffer_.data() + 2 * made, room - made);
    if (n == 0) break;
    made += n;
    outFrames_ += n;
  }
  return Store(outBuffer_.data(), made, output);
}

}  // namespace zm
