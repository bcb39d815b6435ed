#pragma once
// The software mixer behind the sound device: sums every playing ring into
// one 44.1 kHz 16-bit stereo stream, each read at its own rate (a ring of
// another rate through a band-limited rate converter), and moves each
// ring's play cursor by the source frames it consumed. Standard types only.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "Platform/Sound/PlatChannelFold.h"
#include "Platform/Sound/PlatRateConverter.h"

namespace plat::sound {

constexpr std::uint32_t kOutRate = 44100;
constexpr std::int32_t kUnityGain = 65536;  // gains are 16.16 fixed point

// One ring as the mixer sees it. The format fields are fixed at creation.
// The ring bytes are shared with the writer without a lock: the mixer reads
// only from the play cursor on, the writer writes behind it (see Unlock).
struct TMixSource {
  const std::uint8_t* ring = nullptr;
  std::uint32_t frames = 0;  // ring length in frames
  std::uint32_t block = 0;   // bytes per frame
  std::uint32_t channels = 0;
  std::uint32_t bits = 0;
  std::uint32_t rate = 0;
  // Frames beyond the cursor that the mixer may read (a ring of another
  // rate: its converter's read-ahead, ReadAheadFrames); fixed like the format.
  std::uint32_t readAhead = 0;
  // Byte offset of the next frame to sound. Stored (release) by the mixer
  // after it has read up to it, so a writer that loads it (acquire) may
  // overwrite everything behind it.
  std::atomic<std::uint32_t> playCursor{0};
  // Bumped (release) when a writer is done with a span; the mixer loads it
  // (acquire) before each pass, so completed writes are seen whole.
  std::atomic<std::uint32_t> written{0};
  std::atomic<std::int32_t> gain{kUnityGain};
  // Guarded by the mixer's lock.
  std::uint32_t phase = 0;  // fraction of a source frame, in 1/kOutRate
  bool playing = false;
  std::uint64_t framesRead = 0;  // source frames the cursor has passed
  // A fade out asked of the mixer: output frames it still takes, of how
  // many; once faded the cursor moves on without a sound, and SilentAt is
  // FramesRead where the sound ended (-1 before).
  std::uint32_t fadeLeft = 0;
  std::uint32_t fadeFrames = 0;
  bool faded = false;
  std::int64_t silentAt = -1;
  // A ring of another rate: its converter reads ahead of the cursor (by
  // what the filter holds) from feedFrame on; it starts afresh at the
  // cursor when restart is set (a new place, a new play, sound after
  // silence). Made by Play, guarded by the mixer's lock.
  std::unique_ptr<TRateConverter> converter;
  std::uint32_t feedFrame = 0;
  std::int64_t fedAhead = 0;  // frames fed beyond the cursor
  bool restart = true;
};

// The most source frames the mixer reads beyond the cursor of a ring of
// this rate, for its converter's filter and blocks (0 at the mix's rate):
// writing there while the ring plays races with the mixer, so the write
// cursor a device reports lies beyond it.
std::uint32_t ReadAheadFrames(std::uint32_t rate);

// 10^(volume/2000) in 16.16; DSBVOLUME_MIN and below give exactly 0.
std::int32_t GainOfVolume(std::int32_t hundredthsDb);

class TMixer {
public:
  // Bounds the int32 sum; real devices have a voice limit too.
  static constexpr std::size_t kMaxPlaying = 1024;
  // False when kMaxPlaying sources already play.
  bool Play(TMixSource* source);
  void Stop(TMixSource* source);  // also before a source goes away
  // Byte offset, whole frames; the read phase starts again at 0.
  void SetPosition(TMixSource* source, std::uint32_t byteOffset);
  // Fades the source out over Frames output frames (at least one) from the
  // next pass on, what lies ahead of its cursor and what is mixed of it
  // alike; it stays silent after. One that does not play is silent at
  // once. A fade under way or done is not started again.
  void FadeOut(TMixSource* source, std::uint32_t frames);
  // The source frames read, and those read when the fade fell silent (-1
  // before); either may be null.
  void ReadFrames(TMixSource* source, std::int64_t* read, std::int64_t* silentAt);
  // Adds frames output frames into sum (interleaved stereo) unclamped.
  void MixInto(std::int32_t* sum, std::uint32_t frames);

private:
  std::mutex mutex_;
  std::vector<TMixSource*> playing_;
};

// The output every device of the process feeds: sums the mixers attached
// to it. Each device has its own mixer, so a released device's rings stop
// while the others play on; there is one audio clock for all of them.
class TMixBus {
public:
  void Attach(std::shared_ptr<TMixer> mixer);
  void Detach(const std::shared_ptr<TMixer>& mixer);
  void Pull(std::int16_t* out, std::uint32_t frames);
  // Output frames mixed so far: the audio clock.
  std::uint64_t FramesMixed() const { return framesMixed_.load(std::memory_order_acquire); }

private:
  std::mutex mutex_;
  std::vector<std::shared_ptr<TMixer>> mixers_;
  std::vector<std::int32_t> sum_;
  std::atomic<std::uint64_t> framesMixed_{0};
};

// Mixes one source into sum (interleaved stereo, frames long) and advances
// its cursor; the caller holds whatever guards the source's phase.
void MixSource(TMixSource& source, std::int32_t* sum, std::uint32_t frames);

}  // namespace plat::sound
