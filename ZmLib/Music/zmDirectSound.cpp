#include "ZmLib/Music/zmDirectSound.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include "Platform/PlatSystem.h"
#include "ZmLib/Music/zmTimerChannel.h"
#include "ZmLib/Win32/winSysUtils.h"
#include "ZmLib/zmHookScope.h"
#include "ZmLib/zmLog.h"

namespace zm {

void PlayRestoringLost(plat::IDirectSoundBuffer* buffer, const WideString& name, const WideString& unit, int line) {
  auto at = [&](int offset) { return u" [" + unit + u", " + IntToStr(line + offset) + u"]"; };
  for (int i = 0;; ++i) {
    LogLine(u"-> " + name + u".Play" + at(0));
    const plat::HRESULT hr = buffer->Play(0, 0, plat::DSBPLAY_LOOPING);
    LogLine(u"<- " + name + u".Play" + at(2));
    if (hr != plat::DSERR_BUFFERLOST) return;
    if (i == kMaxLostBufferRetries) {
      LogLine(u"!!! " + name + u".Play: buffer lost" + at(4));
      return;
    }
    LogLine(u"-> " + name + u".Restore" + at(5));
    buffer->Restore();
    LogLine(u"<- " + name + u".Restore" + at(7));
    plat::SleepMs(10);
  }
}

TSoundWindowProc SoundWindowHook = nullptr;
TDirectSoundCreateProc DirectSoundCreate8Proc = nullptr;

namespace {

constexpr std::uint32_t kNoCursor = 0xFFFFFFFFu;
// The largest average rate the sound layer can take (192 kHz, 8 channels,
// 32 bits); anything above comes from a damaged header.
constexpr std::uint32_t kMaxAvgBytesPerSec = 192000u * 8u * 4u;
constexpr float kSilentGain = 0.00001f;

bool Failed(plat::HRESULT hr) { return hr < 0; }

// Unlocks a locked region also when a callback raises.
struct TUnlockScope {
  plat::IDirectSoundBuffer* Buffer;
  void* P1;
  std::uint32_t N1;
  void* P2;
  std::uint32_t N2;
  ~TUnlockScope() {
    LogLine(u"-> FSoundBuffer.Unlock [MusicClasses, 331]");
    Buffer->Unlock(P1, N1, P2, N2);
    LogLine(u"<- FSoundBuffer.Unlock [MusicClasses, 333]");
  }
};

}  // namespace

std::int32_t GainToDSVolume(float gain) {
  // At or below -100 dB of amplitude (and not a number) is silence, the
  // floor of the volume scale, although 6 dB per halving only gets there
  // a little lower.
  if (!(gain > kSilentGain)) return plat::DSBVOLUME_MIN;
  const double v = 600.0 * std::log2(static_cast<double>(gain));
  if (v >= plat::DSBVOLUME_MAX) return plat::DSBVOLUME_MAX;
  if (v <= plat::DSBVOLUME_MIN) return plat::DSBVOLUME_MIN;
  return static_cast<std::int32_t>(std::lround(v));
}

float DSVolumeToGain(std::int32_t volume) {
  if (volume <= plat::DSBVOLUME_MIN) return 0.0f;
  if (volume >= plat::DSBVOLUME_MAX) return 1.0f;
  return static_cast<float>(std::exp2(volume / 600.0));
}

// ============================================================================
// TDSEventThread
// ============================================================================

void TDSEventThread::Call(const TDSThreadCallback& c) {
  if (!c.Proc) return;
  // A failing fill must not end the refills: the next tick tries again.
  try {
    c.Proc(c.Data);
  } catch (const std::exception& e) {
    DebugLog(std::string("Sound thread exception: ") + e.what());
  } catch (...) {
    DebugLog("Sound thread exception");
  }
}

bool TDSEventThread::Resume() {
  std::lock_guard<std::mutex> f(finishLock_);
  if (thread_.joinable()) return false;
  {
    std::lock_guard<std::mutex> g(m_);
    stop_ = wake_ = false;
    ended_ = false;
    running_ = true;
  }
  try {
    // The thread holds a reference: its object outlives it whoever ends it.
    thread_ = std::thread([self = TRef<TDSEventThread>(this)] { self->Run(); });
  } catch (const std::system_error&) {
    std::lock_guard<std::mutex> g(m_);
    ended_ = true;
    running_ = false;
    return false;
  }
  return true;
}

void TDSEventThread::Run() {
  Call(OnStart);
  for (;;) {
    {
      std::unique_lock<std::mutex> l(m_);
      cv_.wait_for(l, std::chrono::milliseconds(tickMs_), [this] { return stop_ || wake_; });
      if (stop_) {
        stop_ = false;
        break;
      }
      wake_ = false;
    }
    Call(OnTick);
  }
  {
    std::lock_guard<std::mutex> g(m_);
    ended_ = true;
    running_ = false;
  }
  cv_.notify_all();
}

void TDSEventThread::Wake() {
  {
    std::lock_guard<std::mutex> g(m_);
    wake_ = true;
  }
  cv_.notify_all();
}

bool TDSEventThread::Running() const {
  std::lock_guard<std::mutex> g(m_);
  return running_;
}

bool TDSEventThread::Finish() {
  std::lock_guard<std::mutex> f(finishLock_);
  if (!thread_.joinable()) return true;
  {
    std::lock_guard<std::mutex> g(m_);
    stop_ = true;
  }
  cv_.notify_all();
  if (thread_.get_id() == std::this_thread::get_id()) {
    thread_.detach();
    return true;
  }
  bool ended;
  {
    std::unique_lock<std::mutex> l(m_);
    ended = cv_.wait_for(l, std::chrono::milliseconds(kSoundThreadEndWaitMs), [this] { return ended_; });
  }
  if (!ended) {
    try {
      ZM_FAIL(ClassName() + " did not end in time");
    } catch (const Exception&) {
      // Reported; the thread is waited for below.
    }
  }
  thread_.join();
  return ended;
}

void TDSEventThread::Dispose() {
  Finish();
  TRefObject::Dispose();
}

// ============================================================================
// TwinWaveOutDevice
// ============================================================================

TwinWaveOutDevice::TwinWaveOutDevice() {
  void* window = SoundWindowHook ? SoundWindowHook() : nullptr;
  plat::IDirectSound8* ds = nullptr;
  if (DirectSoundCreate8Proc) {
    LogLine(u"-> DirectSoundCreate8 [MusicClasses, 158]");
    if (Failed(DirectSoundCreate8Proc(nullptr, &ds, nullptr))) ds = nullptr;
    LogLine(u"<- DirectSoundCreate8 [MusicClasses, 160]");
  }
  if (!ds) {
    LogLine(u"-> DirectSoundCreate [MusicClasses, 164]");
    if (Failed(plat::DirectSoundCreate(nullptr, &ds, nullptr))) ds = nullptr;
    LogLine(u"<- DirectSoundCreate [MusicClasses, 166]");
  }
  if (!ds) {
    LogLine(u"!!! FDirectSound = nil [MusicClasses, 173]");
    return;
  }
  ds_ = ds;
  LogLine(u"-> FDirectSound.SetCooperativeLevel [MusicClasses, 182]");
  if (Failed(ds_->SetCooperativeLevel(window, plat::DSSCL_PRIORITY))) {
    LogLine(u"<- !!! FDirectSound.SetCooperativeLevel [MusicClasses, 186]");
    return;
  }
  LogLine(u"<- FDirectSound.SetCooperativeLevel [MusicClasses, 189]");
  ready_ = true;
}

void TwinWaveOutDevice::Dispose() {
  if (ds_) {
    LogLine(u"-> FDirectSound.Release [MusicClasses, 201]");
    ds_->Release();
    LogLine(u"<- FDirectSound.Release [MusicClasses, 203]");
    ds_ = nullptr;
  }
  ready_ = false;
  TWaveOutDevice::Dispose();
}

TRef<TWaveOutBuffer> TwinWaveOutDevice::CreateBuffer(const TWaveFormatEx& format) {
  return MakeRef<TwinWaveOutBuffer>(this, format);
}

TRef<TTimerChannel> TwinWaveOutDevice::CreateChannel() { return MakeRef<TwinTimerChannel>(this); }

TRef<TWaveOutDevice> CreateWinWaveOutDevice() { return MakeRef<TwinWaveOutDevice>(); }

// ============================================================================
// TwinWaveOutBuffer
// ============================================================================

TwinWaveOutBuffer::TwinWaveOutBuffer(TWaveOutDevice* device, const TWaveFormatEx& format) : format_(format) {
  auto* dev = dynamic_cast<TwinWaveOutDevice*>(device);
  if (!dev) throw EWaveOutError("WaveOutDevice is not TwinWaveOutDevice");
  device_ = TRef<TwinWaveOutDevice>(dev);
  ds_ = dev->DirectSound();
  // Whole sample frames, so every fill starts on a frame.
  frameBytes_ = format_.nBlockAlign;
  if (frameBytes_ == 0) frameBytes_ = std::max<std::uint32_t>(1, format_.wBitsPerSample / 8u * format_.nChannels);
  const std::uint32_t avg = format_.nAvgBytesPerSec;
  if (!ds_ || avg == 0 || avg > kMaxAvgBytesPerSec) {
    LogLine(u"!!! FSoundBuffer = nil [MusicClasses, 255]");
    return;
  }
  const std::uint32_t size = RoundDown(2 * avg);  // a damaged rate may not hold whole frames
  plat::DSBUFFERDESC desc{36, kFlags, size, 0, &format_};
  plat::IDirectSoundBuffer* b = nullptr;
  LogLine(u"-> FDirectSound.CreateSoundBuffer [MusicClasses, 262]");
  const plat::HRESULT hr = ds_->CreateSoundBuffer(&desc, &b, nullptr);
  if (Failed(hr) || !b) {
    LogLine(u"<- !!! FDirectSound.CreateSoundBuffer [MusicClasses, 264]");
    return;
  }
  LogLine(u"<- FDirectSound.CreateSoundBuffer [MusicClasses, 266]");
  buffer_ = b;
  size_ = size;
  maxChunk_ = RoundDown(avg / 2);
}

void TwinWaveOutBuffer::Dispose() {
  EndCallbacks();
  if (buffer_) {
    LogLine(u"-> FSoundBuffer.Release [MusicClasses, 501]");
    buffer_->Release();
    LogLine(u"<- FSoundBuffer.Release [MusicClasses, 503]");
    buffer_ = nullptr;
  }
  device_ = nullptr;
  TWaveOutBuffer::Dispose();
}

void TwinWaveOutBuffer::EndCallbacks() {
  {
    std::lock_guard<std::recursive_mutex> g(cs_);
    if (buffer_ && !closed_) {
      LogLine(u"-> FSoundBuffer.Stop [MusicClasses, 490]");
      buffer_->Stop();
      LogLine(u"<- FSoundBuffer.Stop [MusicClasses, 492]");
    }
    closed_ = true;  // and no Play starts a thread again
  }
  TRef<TDSEventThread> thread;
  {
    std::lock_guard<std::mutex> g(threadLock_);
    thread = std::move(thread_);
  }
  // Outside the lock: a tick in progress needs it to finish.
  if (thread) thread->Finish();
}

float TwinWaveOutBuffer::GetVolume() {
  const float v = volume_.load();
  if (v >= 0.0f) return v;
  std::int32_t dsv = plat::DSBVOLUME_MAX;
  if (buffer_) {
    LogLine(u"-> FSoundBuffer.GetVolume [MusicClasses, 475]");
    if (Failed(buffer_->GetVolume(&dsv))) dsv = plat::DSBVOLUME_MAX;
    LogLine(u"<- FSoundBuffer.GetVolume [MusicClasses, 477]");
  }
  return DSVolumeToGain(dsv);
}

void TwinWaveOutBuffer::SetVolume(float gain) {
  volume_.store(std::isnan(gain) ? 0.0f : std::max(gain, 0.0f));
  if (!buffer_) return;
  LogLine(u"-> FSoundBuffer.SetVolume [MusicClasses, 462]");
  buffer_->SetVolume(GainToDSVolume(gain));
  LogLine(u"<- FSoundBuffer.SetVolume [MusicClasses, 464]");
}

void TwinWaveOutBuffer::Play() {
  std::lock_guard<std::recursive_mutex> g(cs_);
  if (!buffer_ || closed_ || playCalled_) return;
  playCalled_ = true;
  // The ring sounds from this call on: its first fill (what the channel
  // decoded ahead) is made here, not when its thread first runs, which a
  // busy machine may hold up while the show's clock goes on.
  FirstFill();
  if (ManualTicks) return;
  TRef<TDSEventThread> thread = MakeRef<TDSEventThread>();
  thread->OnTick = {&TwinWaveOutBuffer::TickProc, this};
  if (!thread->Resume()) {
    DebugLog("TwinWaveOutBuffer: the notification thread did not start");
    // Nothing would refill it: it would go round its old sound.
    buffer_->Stop();
    return;
  }
  std::lock_guard<std::mutex> t(threadLock_);
  thread_ = std::move(thread);
}

void TwinWaveOutBuffer::Stop() {
  stopping_ = true;
  // Not the buffer's lock: a fill in progress may be waiting for the caller.
  std::lock_guard<std::mutex> g(threadLock_);
  if (thread_) thread_->Wake();
}

bool TwinWaveOutBuffer::FadeOut(std::uint32_t frames) {
  if (!buffer_ || closed_) return false;
  // Not a call of the sound layer the log brackets: its own, for the stop.
  return !Failed(buffer_->FadeOut(frames));
}

// The ring plays its stream from its first byte on: what the sound layer
// has read of it is where the stream stands.
std::int64_t TwinWaveOutBuffer::FadedStream() {
  std::int64_t frames = -1;
  if (!buffer_ || Failed(buffer_->GetReadFrames(nullptr, &frames)) || frames < 0) return -1;
  return frames * std::int64_t(frameBytes_);
}

std::int64_t TwinWaveOutBuffer::ReadStream() {
  std::int64_t frames = -1;
  if (!buffer_ || !playCalled_.load() || Failed(buffer_->GetReadFrames(&frames, nullptr)) || frames < 0) return -1;
  return frames * std::int64_t(frameBytes_);
}

std::uint32_t TwinWaveOutBuffer::PrebufferSize() {
  return RoundDown(static_cast<std::uint32_t>(std::uint64_t(size_) * 3 / 4));
}

std::uint32_t TwinWaveOutBuffer::WriteEnd() {
  std::lock_guard<std::recursive_mutex> g(cs_);
  return writeEnd_;
}

bool TwinWaveOutBuffer::ReadCursors(std::uint32_t& play, std::uint32_t& write) {
  LogLine(u"-> FSoundBuffer.GetCurrentPosition [MusicClasses, 372]");
  const bool ok = !Failed(buffer_->GetCurrentPosition(&play, &write));
  LogLine(u"<- FSoundBuffer.GetCurrentPosition [MusicClasses, 374]");
  // A cursor outside the ring would send the fills past its end.
  return ok && play < size_ && write < size_;
}

std::uint32_t TwinWaveOutBuffer::QueuedBytes() {
  if (!buffer_ || size_ == 0) return 0;
  std::uint32_t play, write;
  if (!ReadCursors(play, write)) return 0;
  const std::uint32_t pos = callbackPos_.load();
  return pos >= play ? pos - play : size_ - (play - pos);
}

std::int64_t TwinWaveOutBuffer::PlayedStream() {
  std::lock_guard<std::recursive_mutex> g(cs_);
  if (!buffer_ || closed_ || !playCalled_ || size_ == 0) return -1;
  std::uint32_t play = 0, write = 0;
  if (!ReadCursors(play, write)) return -1;
  return std::max<std::int64_t>(streamEnd_ - std::int64_t(QueuedFrom(play)), 0);
}

std::uint32_t TwinWaveOutBuffer::PlayedTime() {
  const std::uint32_t per10Ms = std::max<std::uint32_t>(1, format_.nAvgBytesPerSec / 100);
  std::lock_guard<std::mutex> g(timeLock_);
  std::uint32_t t = wrapMs_;
  if (lastCursor_ != kNoCursor)
    t += (plat::TickCount32() - lastTick_) + static_cast<std::uint32_t>(std::uint64_t(lastCursor_) * 10 / per10Ms);
  return t;
}

std::uint32_t TwinWaveOutBuffer::FillRegion(std::uint32_t offset, std::uint32_t bytes,
                                            const TWaveRegionCallback& callback, bool trackPosition,
                                            std::int64_t stream) {
  void* p1 = nullptr;
  void* p2 = nullptr;
  std::uint32_t n1 = 0, n2 = 0;
  LogLine(u"-> FSoundBuffer.Lock [MusicClasses, 318]");
  const plat::HRESULT hr = buffer_->Lock(offset, bytes, &p1, &n1, &p2, &n2, 0);
  LogLine(u"<- FSoundBuffer.Lock [MusicClasses, 320]");
  if (Failed(hr)) return 0;
  TUnlockScope unlock{buffer_, p1, n1, p2, n2};
  struct TRegionScope {
    std::atomic<std::int64_t>& Stream;
    ~TRegionScope() { Stream = -1; }
  } region{regionStream_};
  if (p1 && n1) {
    if (trackPosition) callbackPos_ = offset;
    regionStream_ = stream;
    callback(static_cast<std::uint8_t*>(p1), n1);
  }
  if (p2 && n2) {
    if (trackPosition) callbackPos_ = 0;
    regionStream_ = stream + (p1 ? n1 : 0);
    callback(static_cast<std::uint8_t*>(p2), n2);
  }
  return (p1 ? n1 : 0) + (p2 ? n2 : 0);
}

void TwinWaveOutBuffer::PlayLooping() {
  PlayRestoringLost(buffer_, u"FSoundBuffer", u"MusicClasses", 340);
}

void TwinWaveOutBuffer::FirstFill() {
  std::lock_guard<std::recursive_mutex> g(cs_);
  if (closed_ || !buffer_) return;
  writeEnd_ = PrebufferSize();
  streamEnd_ = writeEnd_;
  callbackPos_ = 0;
  FillRegion(0, writeEnd_, OnFirstFill, false, 0);
  PlayLooping();
}

void TwinWaveOutBuffer::Refill() {
  if (closed_) return;
  std::lock_guard<std::recursive_mutex> g(cs_);
  if (closed_ || !buffer_) return;
  std::uint32_t play = 0, write = 0;
  const bool stop = stopping_.exchange(false);
  if (stop && ReadCursors(play, write)) {
    const std::uint32_t fadeBytes = format_.nSamplesPerSec / 40 * (format_.wBitsPerSample / 8u) * format_.nChannels;
    const std::uint32_t fadeStart = static_cast<std::uint32_t>((std::uint64_t(write) + fadeBytes) % size_);
    if (fadeStart != writeEnd_) {
      // Only what is still queued ahead of fadeStart: past writeEnd lies
      // old sound, and behind the write cursor the hardware is reading.
      const std::uint32_t queued = QueuedFrom(play);
      const std::uint32_t ahead = fadeStart >= play ? fadeStart - play : size_ - (play - fadeStart);
      // Tracked like a fill: the fade's end, which the track hands to the
      // channel killer, is counted from this region, not from the last fill
      // (up to the whole ring further on).
      if (ahead < queued) FillRegion(fadeStart, queued - ahead, OnFade, true, streamEnd_ - (queued - ahead));
    }
  }
  // The fill below fades if no region above did.
  if (stop) fadePlaced_ = true;
  if (ReadCursors(play, write) && writeEnd_ != play) {
    const std::uint32_t free = play > writeEnd_ ? play - writeEnd_ : size_ - (writeEnd_ - play);
    const std::uint32_t n = RoundDown(std::min(free, maxChunk_));
    if (n > 0) {
      const std::uint32_t written = FillRegion(writeEnd_, n, OnFill, true, streamEnd_);
      writeEnd_ = static_cast<std::uint32_t>((std::uint64_t(writeEnd_) + written) % size_);
      streamEnd_ += written;
    }
  }
  if (ReadCursors(play, write)) {
    std::lock_guard<std::mutex> t(timeLock_);
    lastTick_ = plat::TickCount32();
    if (lastCursor_ != kNoCursor && lastCursor_ > play) wrapMs_ += 2000;
    lastCursor_ = play;
  }
}

// ============================================================================
// Module
// ============================================================================

namespace {

THookInstall<TCreateWaveOutDeviceProc> gWaveOutHook;

}  // namespace

void InitDirectSound() {
  DirectSoundCreate8Proc = &plat::DirectSoundCreate8;
  gWaveOutHook.Install(CreateWaveOutDeviceHook, &CreateWinWaveOutDevice);
}

void FiniDirectSound() {
  gWaveOutHook.RestoreIfStillSet();
  DirectSoundCreate8Proc = nullptr;
}

}  // namespace zm
