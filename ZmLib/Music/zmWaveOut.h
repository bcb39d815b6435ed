#pragma once
// The sound output as the audio side sees it: a device that makes streaming
// ring buffers (one per playing track) and the timer channel that is the
// audio clock. The one implementation plays through the DirectSound layer
// (zmDirectSound); the output-device factory hook makes it.
#include <cstdint>

#include "ZmLib/Music/zmAudioStreams.h"
#include "ZmLib/Win32/SysObj2.h"

namespace zm {

ZM_DECLARE_EXCEPTION(EWaveOutError, Exception)

class TWaveOutBuffer;
class TTimerChannel;

// A callback of a buffer: gets a region of the ring (a pointer straight into
// the output memory) and its length in bytes.
using TWaveRegionProc = void (*)(void* data, std::uint8_t* region, std::uint32_t bytes);
struct TWaveRegionCallback {
  TWaveRegionProc Proc = nullptr;
  void* Data = nullptr;
  void operator()(std::uint8_t* region, std::uint32_t bytes) const {
    if (Proc) Proc(Data, region, bytes);
  }
};

class TWaveOutDevice : public TRefObject {
public:
  virtual bool IsReady() = 0;
  virtual TRef<TWaveOutBuffer> CreateBuffer(const TWaveFormatEx& format) = 0;
  virtual TRef<TTimerChannel> CreateChannel() = 0;
};

// A streaming ring buffer. Its user sets the callbacks before Play; they run
// on the buffer's notification thread (decoding runs inside them).
class TWaveOutBuffer : public TRefObject {
public:
  virtual float GetVolume() = 0;
  virtual void SetVolume(float gain) = 0;  // linear gain
  virtual void Play() = 0;
  virtual void Stop() = 0;
  virtual std::uint32_t PrebufferSize() = 0;  // bytes of the first fill
  virtual std::uint32_t QueuedBytes() = 0;
  virtual std::uint32_t PlayedTime() = 0;  // ms
  // Inside a callback: where its region begins in the stream the buffer
  // plays, bytes counted from the first fill's first byte; -1 outside a
  // callback or when the buffer does not tell.
  virtual std::int64_t RegionStream() { return -1; }
  // Where in that stream the output plays now: what lies before it has
  // been mixed. -1 when the buffer does not tell (or does not play).
  virtual std::int64_t PlayedStream() { return -1; }
  // After Stop: whether the stop's fade is placed ahead of what plays (or
  // nothing was queued to fade, and the next fill fades). Until then a fill
  // under way lies behind that fade and keeps its sound. Buffers that do
  // not tell answer true.
  virtual bool FadePlaced() { return true; }
  // A stop's fade done by the output itself: what it would still play (the
  // queued sound and what it has taken already) fades out over Frames of
  // the buffer's format from its next pass on. False when it cannot: the
  // fade in place of the queued sound alone is heard then.
  virtual bool FadeOut(std::uint32_t frames) {
    (void)frames;
    return false;
  }
  // After a FadeOut that answered true: where in the stream (RegionStream's
  // count) the output's fade fell silent; -1 until it has.
  virtual std::int64_t FadedStream() { return -1; }
  // Like PlayedStream, without waiting for a fill under way (the caller
  // may be what that fill waits for); -1 when the buffer does not tell.
  virtual std::int64_t ReadStream() { return -1; }
  // Stops the buffer and its own thread: no callback runs once this
  // returns (the owner may then drop what the callbacks read). Disposing
  // does it too.
  virtual void EndCallbacks() {}

  TWaveRegionCallback OnFirstFill;  // fills the region
  TWaveRegionCallback OnFade;       // fades out in place what is still queued
  TWaveRegionCallback OnFill;       // fills the region
};

// The audio clock: a millisecond counter kept in step with the output.
class TTimerChannel : public TRefObject {
public:
  virtual std::uint32_t GetTime() = 0;  // ms
  // The time (on GetTime's scale, to the frame) of what the output mixes
  // next: where a ring that plays now starts to sound. GetTime by default.
  virtual double SoundingTime() { return GetTime(); }
  virtual void SetTime(std::uint32_t ms) = 0;
  virtual bool IsPlaying() = 0;
  virtual void Start() = 0;
  virtual void Stop() = 0;
};

// The output-device factory hook; nil until a module sets it (no sound).
using TCreateWaveOutDeviceProc = TRef<TWaveOutDevice> (*)();
extern TCreateWaveOutDeviceProc CreateWaveOutDeviceHook;

}  // namespace zm
