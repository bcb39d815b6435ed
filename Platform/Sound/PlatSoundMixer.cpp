#include "Platform/Sound/PlatSoundMixer.h"

#include <algorithm>
#include <cmath>

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
// the even channels to the left and the odd ones to the right.
inline void ReadFrame(const TMixSource& s, std::uint32_t frame, int& l, int& r) {
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
  int sl = 0, sr = 0;
  for (std::uint32_t c = 0; c < s.channels; ++c) (c % 2 ? sr : sl) += Sample(p + c * bytes, s.bits);
  l = sl / int((s.channels + 1) / 2);
  r = sr / int(s.channels / 2);
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
  } else {
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
      if (g != 0) {
        int l, r;
        ReadFrame(s, pos, l, r);
        if (phase != 0) {
          int l2, r2;
          ReadFrame(s, pos + 1 == s.frames ? 0 : pos + 1, l2, r2);
          l += static_cast<int>(std::int64_t(l2 - l) * phase / kOutRate);
          r += static_cast<int>(std::int64_t(r2 - r) * phase / kOutRate);
        }
        if (g != kUnityGain) {
          l = static_cast<int>((std::int64_t(l) * g) >> 16);
          r = static_cast<int>((std::int64_t(r) * g) >> 16);
        }
        sum[2 * i] += l;
        sum[2 * i + 1] += r;
      }
      pos += whole;
      s.framesRead += whole;
      phase += part;
      if (phase >= kOutRate) {
        phase -= kOutRate;
        ++pos;
        ++s.framesRead;
      }
      if (pos >= s.frames) pos %= s.frames;
    }
  }
  s.phase = phase;
  // Everything before the new cursor has been read.
  s.playCursor.store(pos * s.block, std::memory_order_release);
}

bool TMixer::Play(TMixSource* source) {
  std::lock_guard lock(mutex_);
  if (source->playing) return true;
  if (playing_.size() >= kMaxPlaying) return false;
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
