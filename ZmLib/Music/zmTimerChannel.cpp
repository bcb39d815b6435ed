#include "ZmLib/Music/zmTimerChannel.h"

#include <algorithm>
#include <cstring>

#include "Platform/PlatSystem.h"
#include "ZmLib/zmLog.h"

namespace zm {

namespace {

constexpr std::uint32_t kNoCursor = 0xFFFFFFFFu;

bool Failed(plat::HRESULT hr) { return hr < 0; }

// Both the multimedia timer and the tick count.
std::uint32_t Now() { return plat::TickCount32(); }

}  // namespace

TwinTimerChannel::TwinTimerChannel(TWaveOutDevice* device) {
  auto* dev = dynamic_cast<TwinWaveOutDevice*>(device);
  if (!dev) throw EWaveOutError("WaveOutDevice is not TwinWaveOutDevice");
  device_ = TRef<TwinWaveOutDevice>(dev);
  ds_ = dev->DirectSound();
  format_ = TWaveFormatEx{1, 2, 44100, 176400, 4, 16, 0};
  if (ds_) {
    plat::DSBUFFERDESC desc{36, kFlags, kBufferBytes, 0, &format_};
    plat::IDirectSoundBuffer* b = nullptr;
    LogLine(u"-> FDirectSound.CreateSoundBuffer [TimerChannel, 128]");
    if (!Failed(ds_->CreateSoundBuffer(&desc, &b, nullptr))) buffer_ = b;
    LogLine(u"<- FDirectSound.CreateSoundBuffer [TimerChannel, 130]");
  }
  if (!buffer_) {
    LogLine(u"!!! SoundBuffer = nil [TimerChannel, 133]");
    throw EWaveOutError("SoundBuffer = nil");
  }
  void* p1 = nullptr;
  void* p2 = nullptr;
  std::uint32_t n1 = 0, n2 = 0;
  LogLine(u"-> SoundBuffer.Lock [TimerChannel, 137]");
  const plat::HRESULT hr = buffer_->Lock(0, kBufferBytes, &p1, &n1, &p2, &n2, 0);
  LogLine(u"<- SoundBuffer.Lock [TimerChannel, 139]");
  if (!Failed(hr)) {
    if (p1) std::memset(p1, 0, n1);
    if (p2) std::memset(p2, 0, n2);
    LogLine(u"-> SoundBuffer.Unlock [TimerChannel, 142]");
    buffer_->Unlock(p1, n1, p2, n2);
    LogLine(u"<- SoundBuffer.Unlock [TimerChannel, 144]");
  }
}

void TwinTimerChannel::Dispose() {
  Stop();
  if (buffer_) {
    LogLine(u"-> SoundBuffer.Release [TimerChannel, 270]");
    buffer_->Release();
    LogLine(u"<- SoundBuffer.Release [TimerChannel, 272]");
    buffer_ = nullptr;
  }
  device_ = nullptr;
  TTimerChannel::Dispose();
}

bool TwinTimerChannel::ReadCursor(std::uint32_t& play, bool logged) {
  if (!buffer_) return false;
  std::uint32_t write = 0;
  if (logged) LogLine(u"-> SoundBuffer.GetCurrentPosition [TimerChannel, 201]");
  const bool ok = !Failed(buffer_->GetCurrentPosition(&play, &write));
  if (logged) LogLine(u"<- SoundBuffer.GetCurrentPosition [TimerChannel, 203]");
  return ok && play < kBufferBytes;
}

std::uint32_t TwinTimerChannel::CursorMs(std::uint32_t cursor) const {
  return static_cast<std::uint32_t>(std::uint64_t(cursor) * 10 / (format_.nAvgBytesPerSec / 100));
}

std::uint32_t TwinTimerChannel::PlayedMs() const {
  return lastCursor_ == kNoCursor ? wrapMs_ : wrapMs_ + CursorMs(lastCursor_);
}

std::uint32_t TwinTimerChannel::CursorTime() {
  std::lock_guard<std::recursive_mutex> g(cs_);
  if (!playing_) return stoppedMs_;
  std::uint32_t t = wrapMs_;
  if (lastCursor_ != kNoCursor) t += (Now() - lastTick_) + CursorMs(lastCursor_);
  return t;
}

std::uint32_t TwinTimerChannel::CardStepMs() {
  std::lock_guard<std::recursive_mutex> g(cs_);
  return cardStepMs_;
}

std::uint32_t TwinTimerChannel::GetTime() {
  std::lock_guard<std::recursive_mutex> g(cs_);
  // Until the clock has met the cursor it stands where it was stopped (0
  // at first) rather than falling back to 0 on a restart.
  if (!playing_) return stoppedMs_;
  // Read on every call, not logged: the show reads the clock for every
  // frame, and the music player every few milliseconds.
  if (!Update(false)) return stoppedMs_;
  std::uint32_t t = Now() - origin_;
  // Not ahead of what has been played by more than one step of the card:
  // while the card stalls the clock stands, and when it goes on (or mixes
  // what it owes) the clock goes on from its own time.
  const std::uint32_t played = PlayedMs() - offset_ + cardStepMs_;
  if (static_cast<std::int32_t>(t - played) > 0) t = played;
  // A pull step back is not seen by readers.
  if (static_cast<std::int32_t>(t - lastAnswer_) < 0) t = lastAnswer_;
  lastAnswer_ = t;
  return t;
}

double TwinTimerChannel::SoundingTime() {
  std::lock_guard<std::recursive_mutex> g(cs_);
  if (!playing_ || !Update(false) || lastCursor_ == kNoCursor) return GetTime();
  // Whole ms as the clock counts them, and the frames between.
  const std::uint32_t whole = PlayedMs() - offset_;
  const double exact = double(lastCursor_) * 1000.0 / double(format_.nAvgBytesPerSec);
  return double(whole) + (exact - double(CursorMs(lastCursor_)));
}

void TwinTimerChannel::SetTime(std::uint32_t ms) {
  std::lock_guard<std::recursive_mutex> g(cs_);
  wrapMs_ = ms;
  stoppedMs_ = ms;
  origin_ = Now() - ms;
  lastAnswer_ = ms;
  // Once met, the cursor's time moves with the clock's.
  if (playing_ && !first_ && lastCursor_ != kNoCursor) {
    offset_ = CursorMs(lastCursor_);
    lastTick_ = Now();
  }
}

bool TwinTimerChannel::IsPlaying() {
  std::lock_guard<std::recursive_mutex> g(cs_);
  return playing_;
}

void TwinTimerChannel::Start() {
  std::lock_guard<std::recursive_mutex> g(cs_);
  if (playing_ || !buffer_) return;
  PlayRestoringLost(buffer_, u"SoundBuffer", u"TimerChannel", 160);
  playing_ = true;
  first_ = true;
  SetTime(stoppedMs_);
  if (ManualSteps) return;
  feeder_ = MakeRef<TDSEventThread>(kFeederMs);
  feeder_->OnTick = {&TwinTimerChannel::StepProc, this};
  if (!feeder_->Resume()) {
    DebugLog("TwinTimerChannel: the feeder thread did not start");
    feeder_ = nullptr;
  }
}

void TwinTimerChannel::Step() {
  std::lock_guard<std::recursive_mutex> g(cs_);
  if (playing_) Update(true);
}

bool TwinTimerChannel::Update(bool logged) {
  std::uint32_t cursor = 0;
  const bool read = ReadCursor(cursor, logged);
  if (first_) {
    if (!read || cursor == 0) return false;
    Meet(cursor);
  } else if (read) {
    Note(cursor);
  }
  Pull();
  return true;
}

void TwinTimerChannel::Meet(std::uint32_t cursor) {
  first_ = false;
  lastCursor_ = cursor;
  lastTick_ = Now();
  origin_ = Now() - stoppedMs_;
  offset_ = CursorTime() - stoppedMs_;
  lastAnswer_ = stoppedMs_;
  lastPull_ = Now();
}

void TwinTimerChannel::Note(std::uint32_t cursor) {
  if (lastCursor_ == kNoCursor) {
    lastCursor_ = cursor;
    lastTick_ = Now();
    return;
  }
  // An unmoved cursor keeps its first reading's time: CursorTime runs on
  // from when the card last moved, not from when it was last asked.
  if (cursor == lastCursor_) return;
  const std::uint32_t before = PlayedMs();
  if (cursor < lastCursor_) wrapMs_ += 2000;
  lastCursor_ = cursor;
  lastTick_ = Now();
  const std::uint32_t moved = PlayedMs() - before;
  if (moved == 0 || moved >= 2000) return;
  moves_[moveNext_] = moved;
  moveNext_ = (moveNext_ + 1) % kMovesKept;
  if (moveCount_ < kMovesKept) ++moveCount_;
  // The middle move: a catch-up after a stall is one large move among many
  // ordinary ones.
  std::array<std::uint32_t, kMovesKept> sorted = moves_;
  std::nth_element(sorted.begin(), sorted.begin() + moveCount_ / 2, sorted.begin() + moveCount_);
  cardStepMs_ = sorted[moveCount_ / 2];
}

void TwinTimerChannel::Pull() {
  const std::uint32_t now = Now();
  if (now - lastPull_ < kStepMs) return;
  lastPull_ = now;
  const auto drift = static_cast<std::int32_t>((CursorTime() - offset_) - (now - origin_));
  if (drift > 0)
    origin_ -= 1;
  else if (drift < 0)
    origin_ += 1;
}

void TwinTimerChannel::Stop() {
  TRef<TDSEventThread> feeder;
  {
    std::lock_guard<std::recursive_mutex> g(cs_);
    if (!playing_) return;
    stoppedMs_ = CursorTime();
    playing_ = false;
    feeder = std::move(feeder_);
  }
  // Outside the lock: a step in progress needs it to finish.
  if (feeder) feeder->Finish();
  std::lock_guard<std::recursive_mutex> g(cs_);
  LogLine(u"-> SoundBuffer.Stop [TimerChannel, 250]");
  buffer_->Stop();
  LogLine(u"<- SoundBuffer.Stop [TimerChannel, 252]");
  LogLine(u"-> SoundBuffer.SetCurrentPosition [TimerChannel, 254]");
  buffer_->SetCurrentPosition(0);
  LogLine(u"<- SoundBuffer.SetCurrentPosition [TimerChannel, 256]");
  lastCursor_ = kNoCursor;
}

}  // namespace zm
