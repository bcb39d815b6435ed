#include "Platform/Sound/PlatDSound.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <string>

#include "Platform/PlatSystem.h"
#include "Platform/Sound/PlatSoundMixer.h"
#include "Platform/Sound/PlatSoundSinks.h"

namespace plat {

namespace {

using sound::TMixer;
using sound::TMixSource;

constexpr std::uint32_t kMaxBufferBytes = 64u << 20;

// ---- Test hooks -------------------------------------------------------------

std::mutex g_faultMutex;
TSoundFaults g_faults;

bool Faulted(bool TSoundFaults::*flag) {
  std::lock_guard lock(g_faultMutex);
  return g_faults.*flag;
}

bool TakeLostBuffer() {
  std::lock_guard lock(g_faultMutex);
  if (g_faults.LostBuffers <= 0) return false;
  --g_faults.LostBuffers;
  return true;
}

}  // namespace

namespace sound {

// Where devices' mixers are summed and sent: the process's sink, or the
// mix kept by a TManualAudio. Devices hold it; the last one closes the sink.
struct TOutput {
  std::shared_ptr<sound::TMixBus> bus = std::make_shared<sound::TMixBus>();
  std::unique_ptr<sound::TSoundSink> sink;
  ~TOutput() { sink.reset(); }  // stop pulling before the bus goes
};

// The mix made under a TManualAudio. Devices hold its output, so they may
// outlive it; they just stop moving.
struct TManualState {
  std::shared_ptr<TOutput> output = std::make_shared<TOutput>();
  std::mutex mutex;
  std::vector<std::int16_t> mixed;
  std::shared_ptr<TManualState> previous;
};

}  // namespace sound

using sound::TManualState;
using sound::TOutput;

struct TManualAudio::Impl {
  std::shared_ptr<TManualState> state;
};

namespace {

std::mutex g_manualMutex;
std::shared_ptr<TManualState> g_manual;

// One output for all devices, as on a real sound card.
std::mutex g_outputMutex;
std::weak_ptr<TOutput> g_output;
// The ZM_AUDIO values whose output could not be opened: not tried again in
// this run, since every try of a missing sound device costs the show time.
std::set<std::string> g_failedChoices;

// ---- Buffer -----------------------------------------------------------------

class TBuffer final : public IDirectSoundBuffer {
public:
  TBuffer(std::shared_ptr<TMixer> mixer, std::unique_ptr<std::uint8_t[]> ring, std::uint32_t bytes,
          const WAVEFORMATEX& fmt, std::uint32_t flags, bool lost)
      : mixer_(std::move(mixer)), ring_(std::move(ring)), size_(bytes), flags_(flags), lost_(lost) {
    src_.ring = ring_.get();
    src_.block = fmt.nBlockAlign;
    src_.frames = bytes / fmt.nBlockAlign;
    src_.channels = fmt.nChannels;
    src_.bits = fmt.wBitsPerSample;
    src_.rate = fmt.nSamplesPerSec;
    // A ring of another rate is read ahead by its converter: safe writing
    // starts beyond that.
    src_.readAhead = sound::ReadAheadFrames(fmt.nSamplesPerSec);
    const std::uint64_t lead =
        (std::uint64_t(fmt.nSamplesPerSec) * kWriteLeadMs / 1000 + src_.readAhead) * fmt.nBlockAlign;
    lead_ = std::uint32_t(std::min<std::uint64_t>(lead, bytes - fmt.nBlockAlign));
  }

  HRESULT Lock(std::uint32_t offset, std::uint32_t bytes, void** part1, std::uint32_t* bytes1, void** part2,
               std::uint32_t* bytes2, std::uint32_t flags) override {
    if (!part1 || !bytes1) return DSERR_INVALIDPARAM;
    if (flags & DSBLOCK_FROMWRITECURSOR) GetCurrentPosition(nullptr, &offset);
    if (flags & DSBLOCK_ENTIREBUFFER) bytes = size_;
    if (bytes == 0 || bytes > size_ || offset >= size_) return DSERR_INVALIDPARAM;
    const std::uint32_t first = std::min(bytes, size_ - offset);
    if (first < bytes && (!part2 || !bytes2)) return DSERR_INVALIDPARAM;
    *part1 = ring_.get() + offset;
    *bytes1 = first;
    if (part2) *part2 = first < bytes ? ring_.get() : nullptr;
    if (bytes2) *bytes2 = bytes - first;
    return DS_OK;
  }

  HRESULT Unlock(void* part1, std::uint32_t bytes1, void* part2, std::uint32_t bytes2) override {
    auto* base = ring_.get();
    auto* p1 = static_cast<std::uint8_t*>(part1);
    if (!p1 || p1 < base || p1 >= base + size_ || bytes1 > std::uint32_t(base + size_ - p1))
      return DSERR_INVALIDPARAM;
    if (part2 ? (part2 != base || bytes2 > size_) : bytes2 != 0) return DSERR_INVALIDPARAM;
    // Publishes what was written for the mixer's next pass.
    src_.written.fetch_add(1, std::memory_order_release);
    return DS_OK;
  }

  HRESULT Play(std::uint32_t, std::uint32_t, std::uint32_t flags) override {
    if (!(flags & DSBPLAY_LOOPING)) return DSERR_INVALIDPARAM;
    if (lost_.load(std::memory_order_acquire)) return DSERR_BUFFERLOST;
    return mixer_->Play(&src_) ? DS_OK : DSERR_OUTOFMEMORY;
  }

  HRESULT Stop() override {
    mixer_->Stop(&src_);
    return DS_OK;
  }

  HRESULT GetCurrentPosition(std::uint32_t* play, std::uint32_t* write) override {
    const std::uint32_t p = src_.playCursor.load(std::memory_order_acquire);
    if (play) *play = p;
    if (write) *write = std::uint32_t((std::uint64_t(p) + lead_) % size_);
    return DS_OK;
  }

  HRESULT SetCurrentPosition(std::uint32_t offset) override {
    if (offset >= size_) return DSERR_INVALIDPARAM;
    mixer_->SetPosition(&src_, offset);
    return DS_OK;
  }

  HRESULT SetVolume(std::int32_t volume) override {
    if (!(flags_ & DSBCAPS_CTRLVOLUME)) return DSERR_CONTROLUNAVAIL;
    volume = std::clamp(volume, DSBVOLUME_MIN, DSBVOLUME_MAX);
    volume_.store(volume, std::memory_order_relaxed);
    src_.gain.store(sound::GainOfVolume(volume), std::memory_order_relaxed);
    return DS_OK;
  }

  HRESULT GetVolume(std::int32_t* volume) override {
    if (!volume) return DSERR_INVALIDPARAM;
    if (!(flags_ & DSBCAPS_CTRLVOLUME)) return DSERR_CONTROLUNAVAIL;
    *volume = volume_.load(std::memory_order_relaxed);
    return DS_OK;
  }

  HRESULT Restore() override {
    lost_.store(false, std::memory_order_release);
    return DS_OK;
  }

  HRESULT FadeOut(std::uint32_t frames) override {
    // As long as the buffer's own frames take, in output frames.
    const std::uint64_t out = (std::uint64_t(frames) * sound::kOutRate + src_.rate - 1) / src_.rate;
    mixer_->FadeOut(&src_, static_cast<std::uint32_t>(std::min<std::uint64_t>(out, 0xFFFFFFFFu)));
    return DS_OK;
  }

  HRESULT GetReadFrames(std::int64_t* read, std::int64_t* silentAt) override {
    mixer_->ReadFrames(&src_, read, silentAt);
    return DS_OK;
  }

  std::uint32_t AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }

  std::uint32_t Release() override {
    const std::uint32_t left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) {
      // Once out of the mixer's list no pass reads the ring any more.
      mixer_->Stop(&src_);
      delete this;
    }
    return left;
  }

private:
  std::shared_ptr<TMixer> mixer_;
  std::unique_ptr<std::uint8_t[]> ring_;
  std::uint32_t size_;
  std::uint32_t flags_;
  std::uint32_t lead_ = 0;
  TMixSource src_;
  std::atomic<std::int32_t> volume_{0};
  std::atomic<bool> lost_;
  std::atomic<std::uint32_t> refs_{1};
};

bool FormatOk(const WAVEFORMATEX& f) {
  return f.wFormatTag == WAVE_FORMAT_PCM && (f.wBitsPerSample == 8 || f.wBitsPerSample == 16) &&
         f.nChannels >= 1 && f.nChannels <= 8 && f.nSamplesPerSec >= 1000 && f.nSamplesPerSec <= 192000 &&
         f.nBlockAlign == f.nChannels * f.wBitsPerSample / 8;
}

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return (x >= 'A' && x <= 'Z' ? x + 32 : x) == (y >= 'A' && y <= 'Z' ? y + 32 : y);
         });
}

// ---- Device -----------------------------------------------------------------

class TDevice final : public IDirectSound8 {
public:
  explicit TDevice(std::shared_ptr<TOutput> output) : output_(std::move(output)) {
    output_->bus->Attach(mixer_);
  }

  HRESULT SetCooperativeLevel(void*, std::uint32_t level) override {
    if (level < DSSCL_NORMAL || level > DSSCL_WRITEPRIMARY) return DSERR_INVALIDPARAM;
    if (Faulted(&TSoundFaults::FailCooperativeLevel)) return DSERR_INVALIDPARAM;
    return DS_OK;
  }

  HRESULT CreateSoundBuffer(const DSBUFFERDESC* desc, IDirectSoundBuffer** buffer, void* outer) override {
    if (!buffer) return DSERR_INVALIDPARAM;
    *buffer = nullptr;
    if (!desc || outer || !desc->lpwfxFormat) return DSERR_INVALIDPARAM;
    const WAVEFORMATEX& fmt = *desc->lpwfxFormat;
    if (!FormatOk(fmt)) return DSERR_BADFORMAT;
    const std::uint32_t bytes = desc->dwBufferBytes - desc->dwBufferBytes % fmt.nBlockAlign;
    if (bytes == 0 || desc->dwBufferBytes > kMaxBufferBytes) return DSERR_INVALIDPARAM;
    if (Faulted(&TSoundFaults::FailCreateBuffer)) return DSERR_OUTOFMEMORY;
    std::unique_ptr<std::uint8_t[]> ring(new (std::nothrow) std::uint8_t[bytes]);
    if (!ring) return DSERR_OUTOFMEMORY;
    std::memset(ring.get(), fmt.wBitsPerSample == 8 ? 0x80 : 0, bytes);
    *buffer = new TBuffer(mixer_, std::move(ring), bytes, fmt, desc->dwFlags, TakeLostBuffer());
    return DS_OK;
  }

  std::uint32_t AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }

  std::uint32_t Release() override {
    const std::uint32_t left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) {
      output_->bus->Detach(mixer_);
      delete this;
    }
    return left;
  }

private:
  std::shared_ptr<TMixer> mixer_ = std::make_shared<TMixer>();
  std::shared_ptr<TOutput> output_;
  std::atomic<std::uint32_t> refs_{1};
};

// The output ZM_AUDIO chooses, or nullptr. Under g_outputMutex.
std::shared_ptr<TOutput> OpenOutput() {
  std::string choice, error;
  if (!GetEnv("ZM_AUDIO", choice) || choice.empty()) choice = "sdl";
  if (g_failedChoices.count(choice)) return nullptr;
  auto out = std::make_shared<TOutput>();
  const bool recording = choice.size() > 4 && SameText(choice.substr(0, 4), "wav:");
  if (SameText(choice, "sdl")) out->sink = sound::OpenSdlSink(out->bus, error);
  else if (SameText(choice, "null")) out->sink = sound::OpenNullSink(out->bus, {}, error);
  else if (recording) out->sink = sound::OpenNullSink(out->bus, choice.substr(4), error);
  else if (!SameText(choice, "none")) error = "unknown ZM_AUDIO value \"" + choice + "\"";
  if (out->sink) return out;
  g_failedChoices.insert(choice);
  if (!error.empty() && recording) {
    // The recording asked for cannot be made: said with its reason, and
    // the run ends with status 1.
    ReportOutputFailure("sound recording " + choice.substr(4), error + "; the show plays without sound.");
  } else if (!error.empty()) {
    sound::DebugOutputOnce("sound: no device: " + error);
    // Without a log, one line tells the user why the show is silent.
    static std::once_flag told;
    std::call_once(told, [] { WriteStdErr("No sound device: the show plays without sound.\n"); });
  }
  return nullptr;
}

}  // namespace

HRESULT DirectSoundCreate8(const void*, IDirectSound8** ds, void* outer) {
  if (!ds) return DSERR_INVALIDPARAM;
  *ds = nullptr;
  if (outer) return DSERR_INVALIDPARAM;
  if (Faulted(&TSoundFaults::FailCreate)) return DSERR_NODRIVER;
  std::shared_ptr<TOutput> output;
  {
    std::lock_guard lock(g_manualMutex);
    if (g_manual) output = g_manual->output;
  }
  if (!output) {
    // ZM_AUDIO is read when the first device opens the output; later
    // devices share it while any is alive.
    std::lock_guard lock(g_outputMutex);
    output = g_output.lock();
    if (!output) output = OpenOutput();
    if (!output) return DSERR_NODRIVER;
    g_output = output;
  }
  *ds = new TDevice(std::move(output));
  return DS_OK;
}

HRESULT DirectSoundCreate(const void* guid, IDirectSound8** ds, void* outer) {
  return DirectSoundCreate8(guid, ds, outer);
}

void SetSoundFaults(const TSoundFaults& faults) {
  {
    std::lock_guard lock(g_faultMutex);
    g_faults = faults;
  }
  std::lock_guard lock(g_outputMutex);
  g_failedChoices.clear();
}

// ---- Manual time ------------------------------------------------------------

TManualAudio::TManualAudio() : impl_(new Impl{std::make_shared<TManualState>()}) {
  std::lock_guard lock(g_manualMutex);
  impl_->state->previous = g_manual;
  g_manual = impl_->state;
}

TManualAudio::~TManualAudio() {
  {
    std::lock_guard lock(g_manualMutex);
    if (g_manual == impl_->state) g_manual = impl_->state->previous;
    impl_->state->previous.reset();
  }
  SetSoundFaults({});
  delete impl_;
}

void TManualAudio::Advance(std::uint32_t frames) {
  TManualState& m = *impl_->state;
  std::lock_guard lock(m.mutex);
  constexpr std::uint32_t kChunk = 4096;
  for (std::uint32_t done = 0; done < frames;) {
    const std::uint32_t n = std::min(kChunk, frames - done);
    const std::size_t at = m.mixed.size();
    m.mixed.resize(at + std::size_t(n) * 2);
    m.output->bus->Pull(m.mixed.data() + at, n);
    done += n;
  }
}

std::uint64_t TManualAudio::FramesMixed() const { return impl_->state->output->bus->FramesMixed(); }

const std::vector<std::int16_t>& TManualAudio::Mixed() const { return impl_->state->mixed; }

void TManualAudio::ClearMixed() {
  std::lock_guard lock(impl_->state->mutex);
  impl_->state->mixed.clear();
}

}  // namespace plat
