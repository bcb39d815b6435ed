#include "Platform/Sound/PlatSoundMixer.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace plat::sound {

std::int32_t GainOfVolume(std::int32_t hundredthsDb) {
  if (hundredthsDb <= -10000) return 0;
  if (hundredthsDb >= 0) return kUnityGain;
  return static_cast<std::int32_t>(std::lround(kUnityGain * std::pow(10.0, hundredthsDb / 2000.0)));
}

namespace {

inline int Sample(const std::uint8_t* p, std::uint32_t bits) {
  if (bits == 8) return (int(p[0]) - 128) * 256;
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8)));
}

// One source frame as a stereo pair: mono is duplicated, wider layouts fold
// (fold is that of the source's channels; unused for one or two).
inline void ReadFrame(const TMixSource& s, const TStereoFold& fold, std::uint32_t frame, int& l, int& r) {
  const std::uint8_t* p = s.ring + std::size_t(frame) * s.block;
  const std::uint32_t bytes = s.bits / 8;
  if (s.channels == 1) {
    l = r = Sample(p, s.bits);
    return;
  }
  if (s.channels == 2) {
    l = Sample(p, s.bits);
    r = Sample(p + bytes, s.bits);
    return;
  }
  float fl = 0, fr = 0;
  for (std::uint32_t c = 0; c < fold.Channels; ++c) {
    const float v = float(Sample(p + c * bytes, s.bits));
    fl += fold.Left[c] * v;
    fr += fold.Right[c] * v;
  }
  l = static_cast<int>(std::lrint(fl));
  r = static_cast<int>(std::lrint(fr));
}

// Output frames converted at a time, and source frames fed at a time.
constexpr std::size_t kConvertChunk = 256;
constexpr std::size_t kFeedChunk = 256;

// The next Want output frames of a ring of another rate (interleaved stereo
// floats), read no further than the read-ahead beyond where the cursor
// stands after them; fewer only when the converter would need more.
std::size_t Convert(TMixSource& s, const TStereoFold& fold, float* out, std::size_t want) {
  TRateConverter& c = *s.converter;
  std::size_t made = c.Process(nullptr, 0, nullptr, out, want);
  const std::int64_t limit = std::int64_t(s.readAhead) + std::int64_t(want * s.rate / kOutRate) + 2;
  float in[2 * kFeedChunk];
  for (int idle = 0; made < want && idle < 4;) {
    const std::size_t n = std::size_t(std::clamp<std::int64_t>(limit - s.fedAhead, 0, std::int64_t(kFeedChunk)));
    if (n == 0) break;
    for (std::size_t k = 0; k < n; ++k) {
      int l, r;
      ReadFrame(s, fold, static_cast<std::uint32_t>((std::uint64_t(s.feedFrame) + k) % s.frames), l, r);
      in[2 * k] = float(l);
      in[2 * k + 1] = float(r);
    }
    std::size_t taken = 0;
    made += c.Process(in, n, &taken, out + 2 * made, want - made);
    s.feedFrame = static_cast<std::uint32_t>((std::uint64_t(s.feedFrame) + taken) % s.frames);
    s.fedAhead += std::int64_t(taken);
    idle = taken ? 0 : idle + 1;
  }
  return made;
}

// A converted sample as the mix adds it: the filter's overshoot of full
// scale is kept, nothing far beyond it.
inline int ConvertedSample(float v) {
  if (!(v == v)) return 0;
  return static_cast<int>(std::lrint(std::clamp(v, -65536.0f, 65536.0f)));
}

}  // namespace

void MixSource(TMixSource& s, std::int32_t* sum, std::uint32_t frames) {
  if (s.frames == 0 || s.block == 0) return;
  // Pairs with the writer's release in Unlock.
  (void)s.written.load(std::memory_order_acquire);
  const std::int32_t gain = s.faded ? 0 : s.gain.load(std::memory_order_relaxed);
  std::uint32_t pos = s.playCursor.load(std::memory_order_relaxed) / s.block;
  if (pos >= s.frames) pos = 0;
  std::uint32_t phase = s.phase;
  const std::uint32_t whole = s.rate / kOutRate, part = s.rate % kOutRate;
  // Other rates go through the converter (without one, as a last resort,
  // straight lines between the frames).
  const bool convert = s.rate != kOutRate && s.converter && s.converter->Ready();

  if (gain == 0) {
    // Silent: only the cursor moves, by exactly what would have been read.
    // A fade under way ends: there is nothing left to fade.
    const std::uint64_t total = std::uint64_t(phase) + std::uint64_t(s.rate) * frames;
    if (s.fadeFrames && !s.faded) {
      s.faded = true;
      s.silentAt = std::int64_t(s.framesRead);
    }
    s.framesRead += total / kOutRate;
    pos = static_cast<std::uint32_t>((pos + total / kOutRate) % s.frames);
    phase = static_cast<std::uint32_t>(total % kOutRate);
    // What the converter held belongs to the place it stood at.
    s.restart = true;
  } else {
    const TStereoFold fold = s.channels > 2 ? StereoFold(s.channels) : TStereoFold{};
    if (convert && s.restart) {
      s.converter->Reset();
      s.feedFrame = pos;
      s.fedAhead = 0;
      s.restart = false;
    }
    float converted[2 * kConvertChunk];
    std::size_t have = 0, used = 0;
    for (std::uint32_t i = 0; i < frames; ++i) {
      std::int32_t g = gain;
      if (s.fadeFrames) {
        if (s.fadeLeft == 0 && !s.faded) {
          s.faded = true;
          s.silentAt = std::int64_t(s.framesRead);
        }
        g = s.faded ? 0 : static_cast<std::int32_t>(std::int64_t(gain) * s.fadeLeft / s.fadeFrames);
        if (s.fadeLeft) --s.fadeLeft;
      }
      int l = 0, r = 0;
      if (convert) {
        // One converted frame for every output frame, heard or not, so the
        // converter keeps to the cursor.
        if (used == have) {
          have = Convert(s, fold, converted, std::min<std::size_t>(kConvertChunk, frames - i));
          used = 0;
        }
        if (used < have) {
          l = ConvertedSample(converted[2 * used]);
          r = ConvertedSample(converted[2 * used + 1]);
        }
        ++used;
      } else if (g != 0) {
        ReadFrame(s, fold, pos, l, r);
        if (phase != 0) {
          int l2, r2;
          ReadFrame(s, fold, pos + 1 == s.frames ? 0 : pos + 1, l2, r2);
          l += static_cast<int>(std::int64_t(l2 - l) * phase / kOutRate);
          r += static_cast<int>(std::int64_t(r2 - r) * phase / kOutRate);
        }
      }
      if (g != 0) {
        if (g != kUnityGain) {
          l = static_cast<int>((std::int64_t(l) * g) >> 16);
          r = static_cast<int>((std::int64_t(r) * g) >> 16);
        }
        sum[2 * i] += l;
        sum[2 * i + 1] += r;
      }
      pos += whole;
      s.framesRead += whole;
      s.fedAhead -= whole;
      phase += part;
      if (phase >= kOutRate) {
        phase -= kOutRate;
        ++pos;
        ++s.framesRead;
        --s.fedAhead;
      }
      if (pos >= s.frames) pos %= s.frames;
    }
  }
  s.phase = phase;
  // Everything before the new cursor has been read.
  s.playCursor.store(pos * s.block, std::memory_order_release);
}

std::uint32_t ReadAheadFrames(std::uint32_t rate) {
  if (rate == kOutRate || rate == 0) return 0;
  static std::mutex lock;
  static std::vector<std::pair<std::uint32_t, std::uint32_t>> known;
  {
    std::lock_guard g(lock);
    for (const auto& [r, frames] : known)
      if (r == rate) return frames;
  }
  // What the converter takes, fed as the mix feeds it, before it gives its
  // first frame: its block and its filter; then a chunk the mix may have
  // fed on top of a block being filled, and one more to spare.
  TRateConverter c{double(rate), double(kOutRate)};
  std::uint32_t fed = 0;
  if (c.Ready()) {
    const float silence[2 * kFeedChunk] = {};
    float out[2 * kConvertChunk];
    for (std::size_t made = 0; made == 0 && fed < (1u << 20);) {
      std::size_t taken = 0;
      made = c.Process(silence, kFeedChunk, &taken, out, kConvertChunk);
      if (taken == 0 && made == 0) break;
      fed += std::uint32_t(taken);
    }
  }
  const std::uint32_t frames = fed + 2 * std::uint32_t(kFeedChunk);
  std::lock_guard g(lock);
  known.emplace_back(rate, frames);
  return frames;
}

bool TMixer::Play(TMixSource* source) {
  // Made here, on the caller's thread, not in the mix.
  std::unique_ptr<TRateConverter> converter;
  if (source->rate != kOutRate) converter = std::make_unique<TRateConverter>(double(source->rate), double(kOutRate));
  std::lock_guard lock(mutex_);
  if (source->playing) return true;
  if (playing_.size() >= kMaxPlaying) return false;
  if (converter && !source->converter) source->converter = std::move(converter);
  source->restart = true;
  source->playing = true;
  playing_.push_back(source);
  return true;
}

void TMixer::Stop(TMixSource* source) {
  std::lock_guard lock(mutex_);
  if (!source->playing) return;
  source->playing = false;
  playing_.erase(std::remove(playing_.begin(), playing_.end(), source), playing_.end());
}

void TMixer::SetPosition(TMixSource* source, std::uint32_t byteOffset) {
  std::lock_guard lock(mutex_);
  source->phase = 0;
  source->restart = true;
  source->playCursor.store(byteOffset - byteOffset % source->block, std::memory_order_release);
}

void TMixer::FadeOut(TMixSource* source, std::uint32_t frames) {
  std::lock_guard lock(mutex_);
  if (source->faded || source->fadeFrames) return;
  if (!source->playing) {
    source->faded = true;
    source->silentAt = std::int64_t(source->framesRead);
    return;
  }
  source->fadeFrames = source->fadeLeft = std::max<std::uint32_t>(frames, 1);
}

void TMixer::ReadFrames(TMixSource* source, std::int64_t* read, std::int64_t* silentAt) {
  std::lock_guard lock(mutex_);
  if (read) *read = std::int64_t(source->framesRead);
  if (silentAt) *silentAt = source->silentAt;
}

void TMixer::MixInto(std::int32_t* sum, std::uint32_t frames) {
  std::lock_guard lock(mutex_);
  for (TMixSource* s : playing_) MixSource(*s, sum, frames);
}

namespace {
void Clamp(const std::vector<std::int32_t>& sum, std::int16_t* out) {
  for (std::size_t i = 0; i < sum.size(); ++i) out[i] = static_cast<std::int16_t>(std::clamp(sum[i], -32768, 32767));
}
}  // namespace

void TMixBus::Attach(std::shared_ptr<TMixer> mixer) {
  std::lock_guard lock(mutex_);
  mixers_.push_back(std::move(mixer));
}

void TMixBus::Detach(const std::shared_ptr<TMixer>& mixer) {
  std::lock_guard lock(mutex_);
  mixers_.erase(std::remove(mixers_.begin(), mixers_.end(), mixer), mixers_.end());
}

void TMixBus::Pull(std::int16_t* out, std::uint32_t frames) {
  std::lock_guard lock(mutex_);
  sum_.assign(std::size_t(frames) * 2, 0);
  for (auto& m : mixers_) {
    m->MixInto(sum_.data(), frames);
    // One mixer adds at most kMaxPlaying full-scale voices (2^25); bounding
    // the running sum keeps many devices from overflowing it.
    if (mixers_.size() > 1)
      for (auto& v : sum_) v = std::clamp(v, -(1 << 26), 1 << 26);
  }
  Clamp(sum_, out);
  framesMixed_.fetch_add(frames, std::memory_order_acq_rel);
}

}  // namespace plat::sound
