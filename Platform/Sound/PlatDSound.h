#pragma once
// Sound output stand-in with the shapes of the calls the audio side makes:
// a device, secondary ring buffers whose play cursor a mixer advances in
// real time, mixed into one 44.1 kHz 16-bit stereo stream and handed to a
// sink. Standard types only. Each ring is read at its own rate (through a
// band-limited rate converter); mono sounds on both sides, wider layouts
// fold to stereo (Platform/Sound/PlatChannelFold.h).
//
// The sink is chosen by ZM_AUDIO when a device is made: "sdl" (default; when
// SDL opens no device, no sound device can be made), "null" (real time,
// silent), "wav:FILE" (real time, the mix recorded to FILE), "none" (no sound
// device). Tests install a TManualAudio, which makes every new device mix
// only when the test says so.
#include <cstdint>
#include <string>
#include <vector>

#include "Platform/Acm/PlatAcm.h"

namespace plat {

using HRESULT = std::int32_t;
constexpr HRESULT DS_OK = 0;
constexpr HRESULT DSERR_BUFFERLOST = HRESULT(0x88780096u);
constexpr HRESULT DSERR_BADFORMAT = HRESULT(0x88780064u);
constexpr HRESULT DSERR_INVALIDPARAM = HRESULT(0x80070057u);
constexpr HRESULT DSERR_INVALIDCALL = HRESULT(0x88780032u);
constexpr HRESULT DSERR_CONTROLUNAVAIL = HRESULT(0x8878001Eu);
constexpr HRESULT DSERR_NODRIVER = HRESULT(0x88780078u);
constexpr HRESULT DSERR_OUTOFMEMORY = HRESULT(0x8007000Eu);

constexpr std::uint32_t DSSCL_NORMAL = 1;
constexpr std::uint32_t DSSCL_PRIORITY = 2;
constexpr std::uint32_t DSSCL_EXCLUSIVE = 3;
constexpr std::uint32_t DSSCL_WRITEPRIMARY = 4;

constexpr std::uint32_t DSBPLAY_LOOPING = 1;
constexpr std::uint32_t DSBLOCK_FROMWRITECURSOR = 1;
constexpr std::uint32_t DSBLOCK_ENTIREBUFFER = 2;
constexpr std::uint32_t DSBCAPS_LOCSOFTWARE = 0x8;
constexpr std::uint32_t DSBCAPS_CTRLVOLUME = 0x80;
constexpr std::uint32_t DSBCAPS_GLOBALFOCUS = 0x8000;
constexpr std::uint32_t DSBCAPS_GETCURRENTPOSITION2 = 0x10000;

constexpr std::int32_t DSBVOLUME_MIN = -10000;
constexpr std::int32_t DSBVOLUME_MAX = 0;

// The output stream every device mixes into.
constexpr std::uint32_t kMixRate = 44100;
constexpr std::uint32_t kMixChannels = 2;
// How far the write cursor runs ahead of the play cursor (ms).
constexpr std::uint32_t kWriteLeadMs = 15;

struct DSBUFFERDESC {
  std::uint32_t dwSize;  // 36 in the 32-bit layout; not checked
  std::uint32_t dwFlags;
  std::uint32_t dwBufferBytes;
  std::uint32_t dwReserved;
  const WAVEFORMATEX* lpwfxFormat;
};

// A looping ring of PCM (8 or 16 bits, 1 to 8 channels, 1000 to 192000 Hz,
// nBlockAlign = channels * bits / 8; anything else is DSERR_BADFORMAT). The
// size is rounded down to whole frames; 0 or more than 64 MB is
// DSERR_INVALIDPARAM. A new ring is silent.
// Lock hands out pointers straight into the ring (two parts when the span
// wraps) and takes no lock the mixer waits on, so callers may decode between
// Lock and Unlock. The mixer reads only from the play cursor on: writing
// behind it (between the last fill and the play cursor) is safe; writing a
// span the cursor has already run into (an underrun) races with the mixer,
// as on real hardware, and may sound torn. Lock of 0 bytes, past the ring
// or with a null part1/bytes1 (or null part2/bytes2 when the span wraps) is
// DSERR_INVALIDPARAM.
class IDirectSoundBuffer {
public:
  virtual HRESULT Lock(std::uint32_t offset, std::uint32_t bytes, void** part1, std::uint32_t* bytes1, void** part2,
                       std::uint32_t* bytes2, std::uint32_t flags) = 0;
  virtual HRESULT Unlock(void* part1, std::uint32_t bytes1, void* part2, std::uint32_t bytes2) = 0;
  // Only DSBPLAY_LOOPING play is offered (other flags: DSERR_INVALIDPARAM);
  // answers DSERR_BUFFERLOST while the buffer is lost (until Restore), and
  // DSERR_OUTOFMEMORY when 1024 buffers already play on the device.
  virtual HRESULT Play(std::uint32_t reserved, std::uint32_t priority, std::uint32_t flags) = 0;
  virtual HRESULT Stop() = 0;  // keeps the position
  // play: offset of what sounds now, advancing in whole frames as the mixer
  // consumes them; write: play plus kWriteLeadMs (and, for a ring of
  // another rate than the mix's, what the mixer's rate converter reads
  // ahead of play), wrapped.
  virtual HRESULT GetCurrentPosition(std::uint32_t* play, std::uint32_t* write) = 0;
  virtual HRESULT SetCurrentPosition(std::uint32_t offset) = 0;  // rounded down to a frame
  // Hundredths of a decibel, clamped to DSBVOLUME_MIN..DSBVOLUME_MAX;
  // DSERR_CONTROLUNAVAIL without DSBCAPS_CTRLVOLUME.
  virtual HRESULT SetVolume(std::int32_t volume) = 0;
  virtual HRESULT GetVolume(std::int32_t* volume) = 0;
  virtual HRESULT Restore() = 0;
  // Beyond the DirectSound calls, for a stop that fades within its fade:
  // from the mixer's next pass the buffer's sound fades out over as long as
  // Frames of its own frames take (at least one output frame), what lies
  // past the write cursor and what lies before it alike, and stays silent
  // from then on while its cursor moves. A buffer that does not play is
  // silent at once; a second call changes nothing.
  virtual HRESULT FadeOut(std::uint32_t frames) = 0;
  // The buffer's frames the mixer has read since it was made, and after
  // FadeOut how many it had read when the fade fell silent (-1 before).
  // Either may be null.
  virtual HRESULT GetReadFrames(std::int64_t* read, std::int64_t* silentAt) = 0;
  // Drops one reference; the last one removes the buffer from the mixer.
  virtual std::uint32_t Release() = 0;
  virtual std::uint32_t AddRef() = 0;

protected:
  virtual ~IDirectSoundBuffer() = default;
};

class IDirectSound8 {
public:
  // Any window handle (null included) and levels 1 to 4 are taken.
  virtual HRESULT SetCooperativeLevel(void* window, std::uint32_t level) = 0;
  virtual HRESULT CreateSoundBuffer(const DSBUFFERDESC* desc, IDirectSoundBuffer** buffer, void* outer) = 0;
  // The last reference takes the device's buffers out of the mix: those
  // still held keep their memory but no longer move. The sink closes with
  // the last device.
  virtual std::uint32_t Release() = 0;
  virtual std::uint32_t AddRef() = 0;

protected:
  virtual ~IDirectSound8() = default;
};

// Devices alive at the same time share one output (one sink, one audio
// clock); ZM_AUDIO is read when a device is made while none is alive.
// Both answer a new device over the sink ZM_AUDIO chooses, or DSERR_NODRIVER
// (and *ds = nullptr) when there is none: ZM_AUDIO=none, an unknown value,
// SDL opening no device, or a WAV file that cannot be made. An output that
// could not be opened is not tried again while ZM_AUDIO keeps its value: the
// answer is DSERR_NODRIVER at once. A null ds or a non-null outer is
// DSERR_INVALIDPARAM.
HRESULT DirectSoundCreate8(const void* guid, IDirectSound8** ds, void* outer);
HRESULT DirectSoundCreate(const void* guid, IDirectSound8** ds, void* outer);

// Failures tests ask for; process-wide, reset by the destructor of TManualAudio.
// Setting them also forgets an output that could not be opened, so that the
// next device tries it again.
struct TSoundFaults {
  bool FailCreate = false;            // DirectSoundCreate8 and DirectSoundCreate answer DSERR_NODRIVER
  bool FailCooperativeLevel = false;  // SetCooperativeLevel answers DSERR_INVALIDPARAM
  bool FailCreateBuffer = false;      // CreateSoundBuffer answers DSERR_OUTOFMEMORY
  int LostBuffers = 0;                // the next n buffers made are lost until restored
};
void SetSoundFaults(const TSoundFaults& faults);

// Tests: while one is installed, devices made mix only in Advance, on the
// caller's thread, and the mix is kept for inspection.
class TManualAudio {
public:
  TManualAudio();
  ~TManualAudio();
  TManualAudio(const TManualAudio&) = delete;
  TManualAudio& operator=(const TManualAudio&) = delete;

  // Mixes frames output frames on every live device made under this object.
  void Advance(std::uint32_t frames);
  // Output frames mixed so far (the audio clock).
  std::uint64_t FramesMixed() const;
  // Interleaved stereo samples mixed so far (the devices' mixes summed);
  // read it only while no other thread calls Advance.
  const std::vector<std::int16_t>& Mixed() const;
  void ClearMixed();

private:
  struct Impl;
  Impl* impl_;
};

}  // namespace plat
