#include "ZmLib/Graphics/Video/OruVideoExtractor.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "Platform/PlatSystem.h"
#include "ZmLib/Win32/winSysUtils.h"

namespace zm {

namespace {

// Distance between two frame indices without overflow (a lost entry sits
// near the bottom of the 32-bit range).
std::int64_t Distance(std::int32_t a, std::int32_t b) { return std::llabs(std::int64_t(a) - std::int64_t(b)); }

}  // namespace

TOruVideoExtractor::TOruVideoExtractor(TFrameSource* source, bool ownsSource)
    : ownsSource_(ownsSource), info_(source->Info), frameCount_(PlayedFrameCount(info_)) {
  // An owned source hands its reference over; otherwise take one of our own.
  source_ = ownsSource ? TRef<TFrameSource>::Adopt(source) : TRef<TFrameSource>(source);
  pool_.resize(4);
}

TRef<TOruVideoExtractor> TOruVideoExtractor::Create(TFrameSource* source, bool ownsSource) {
  if (!source) return nullptr;
  TRef<TOruVideoExtractor> e = MakeRef<TOruVideoExtractor>(source, ownsSource);
  if (!e->Start(false, &WorkerProc, e.get())) {
    // No worker: nothing will decode, but every call still answers.
    e->finished_.store(true);
    e->source_ = nullptr;
  }
  return e;
}

void TOruVideoExtractor::Dispose() {
  Stop();
  source_ = nullptr;
  pool_.clear();
  TActiveMonitor::Dispose();
}

// ---- Pool --------------------------------------------------------------------------

std::int32_t TOruVideoExtractor::FindFrame(std::int32_t index) const {
  for (std::int32_t i = count_ - 1; i >= 0; --i)
    if (pool_[std::size_t(i)].FrameIndex == index) return i;
  return -1;
}

bool TOruVideoExtractor::Holds(std::int32_t index) const {
  return FindFrame(index) >= 0 || std::find(out_.begin(), out_.end(), index) != out_.end();
}

void TOruVideoExtractor::PoolAdd(TVideoPoolEntry&& entry) {
  if (std::size_t(count_) == pool_.size()) pool_.resize(pool_.size() * 2);
  pool_[std::size_t(count_++)] = std::move(entry);
}

TVideoPoolEntry TOruVideoExtractor::PoolTake(std::int32_t at) {
  TVideoPoolEntry e = std::move(pool_[std::size_t(at)]);
  for (std::int32_t i = at; i + 1 < count_; ++i) pool_[std::size_t(i)] = std::move(pool_[std::size_t(i + 1)]);
  pool_[std::size_t(--count_)] = TVideoPoolEntry{};
  return e;
}

void TOruVideoExtractor::MarkLostEntries() {
  for (std::int32_t i = 0; i < count_; ++i) {
    TVideoPoolEntry& e = pool_[std::size_t(i)];
    if (e.Image && e.Image->ContentLost()) e.FrameIndex = kLostVideoFrame;
  }
}

void TOruVideoExtractor::AddImage(TYUVImage* image) {
  if (!image) return;
  image->SetContentLostCallback(&LostProc, this);
  Enter();
  const bool stopped = Terminated();
  if (!stopped) PoolAdd(TVideoPoolEntry{TRef<TYUVImage>(image), kNoVideoFrame, kNoVideoFrame});
  Leave();
  if (stopped) image->SetContentLostCallback(nullptr, nullptr);
}

// ---- Times and frames ------------------------------------------------------------

std::int32_t TOruVideoExtractor::FrameIndexAt(double timeMs) const {
  const double f = std::nearbyint(timeMs * info_.FrameRate * 0.001);
  if (!(f > 0)) return 0;  // also NaN
  if (f >= double(frameCount_)) return frameCount_ > 0 ? frameCount_ - 1 : 0;
  return std::int32_t(f);
}

void TOruVideoExtractor::FrameTimeRange(std::int32_t index, double& start, double& stop) const {
  if (!(info_.FrameRate > 0)) {
    start = stop = 0;
    return;
  }
  start = (double(index) - 0.5) * 1000.0 / info_.FrameRate;
  stop = (double(index) + 0.5) * 1000.0 / info_.FrameRate;
}

void TOruVideoExtractor::Request(bool wait, double timeMs) {
  Enter();
  MarkLostEntries();
  const std::int32_t f = FrameIndexAt(timeMs);
  wanted_ = f;
  if (FindFrame(f) < 0) requested_ = f;
  // Without pictures nothing can be decoded: waiting would never end.
  if (wait)
    while (!Terminated() && !finished_.load() && requested_ == f && (count_ > 0 || decoding_ > 0)) Wait();
  Leave();
}

bool TOruVideoExtractor::TakeFrame(TVideoPoolEntry& entry, double displayRate, double timeMs) {
  Enter();
  const std::int32_t f = FrameIndexAt(timeMs);
  wanted_ = f;
  std::int32_t best = -1;
  std::int64_t bestDistance = 0;
  for (std::int32_t i = 0; i < count_; ++i) {
    const std::int32_t index = pool_[std::size_t(i)].FrameIndex;
    const std::int64_t d = Distance(f, index);
    if (best < 0 || d < bestDistance || std::int64_t(index) == std::int64_t(f) - bestDistance) {
      best = i;
      bestDistance = d;
    }
  }
  bool exact = false;
  if (best < 0) {
    entry = TVideoPoolEntry{};
  } else {
    entry = PoolTake(best);
    entry.AskedIndex = f;
    out_.push_back(entry.FrameIndex);
    exact = bestDistance == 0;
    std::int32_t next;
    if (displayRate > 0) {
      next = FrameIndexAt(timeMs + 1000.0 / displayRate);
      if (next == f) ++next;
    } else {
      next = f + 1;
    }
    // A request past the last frame would make the worker seek nowhere.
    if (frameCount_ > 0 && next >= frameCount_) next = frameCount_ - 1;
    if (next != entry.FrameIndex && FindFrame(next) < 0) requested_ = next;
  }
  Leave();
  return exact;
}

void TOruVideoExtractor::PutBack(TVideoPoolEntry& entry) {
  if (!entry.Image) return;
  TVideoPoolEntry e = std::move(entry);
  entry = TVideoPoolEntry{};
  Enter();
  if (auto it = std::find(out_.begin(), out_.end(), e.FrameIndex); it != out_.end()) out_.erase(it);
  const bool stopped = Terminated();
  if (!stopped) PoolAdd(std::move(e));
  Leave();
  if (stopped) {
    e.Image->SetContentLostCallback(nullptr, nullptr);
    e.Image = nullptr;
  }
}

void TOruVideoExtractor::Stop() {
  std::vector<TVideoPoolEntry> gone;
  Enter();
  Terminate();
  gone.reserve(std::size_t(count_));
  for (std::int32_t i = 0; i < count_; ++i) gone.push_back(std::move(pool_[std::size_t(i)]));
  for (auto& e : pool_) e = TVideoPoolEntry{};
  count_ = 0;
  Leave();
  // Outside the lock: a picture calls back under its own lock, which then
  // takes ours.
  for (auto& e : gone)
    if (e.Image) e.Image->SetContentLostCallback(nullptr, nullptr);
}

void TOruVideoExtractor::SetReadAhead(std::int32_t frames) {
  Enter();
  readAhead_ = std::max<std::int32_t>(frames, 0);
  Leave();
}

std::int32_t TOruVideoExtractor::ReadAhead() {
  Enter();
  const std::int32_t n = readAhead_;
  Leave();
  return n;
}

void TOruVideoExtractor::WaitIdle() {
  Enter();
  std::int32_t frame = kNoVideoFrame, picture = -1;
  while (!Terminated() && !finished_.load() && (decoding_ > 0 || NextWork(frame, picture))) Wait();
  Leave();
}

std::int32_t TOruVideoExtractor::RequestedIndex() {
  Enter();
  const std::int32_t r = requested_;
  Leave();
  return r;
}

std::int32_t TOruVideoExtractor::PoolCount() {
  Enter();
  const std::int32_t n = count_;
  Leave();
  return n;
}

std::vector<std::int32_t> TOruVideoExtractor::PoolFrames() {
  std::vector<std::int32_t> frames;
  Enter();
  for (std::int32_t i = 0; i < count_; ++i) frames.push_back(pool_[std::size_t(i)].FrameIndex);
  Leave();
  return frames;
}

// ---- Lost pictures ---------------------------------------------------------------

void TOruVideoExtractor::LostProc(void* owner, TYUVImage* image) {
  static_cast<TOruVideoExtractor*>(owner)->ImageLost(image);
}

void TOruVideoExtractor::ImageLost(TYUVImage* image) {
  Enter();
  for (std::int32_t i = 0; i < count_; ++i) {
    TVideoPoolEntry& e = pool_[std::size_t(i)];
    if (e.Image.get() != image) continue;
    const std::int32_t was = e.FrameIndex;
    e.FrameIndex = kNoVideoFrame;
    if (was >= 0 && !Terminated()) requested_ = was;
    break;
  }
  Leave();
}

// ---- Worker ---------------------------------------------------------------------------

void TOruVideoExtractor::WorkerProc(void* arg) { static_cast<TOruVideoExtractor*>(arg)->Work(); }

// The picture for Target: an empty or lost one first, then of those whose
// frame lies outside KeepFrom .. KeepTo the one farthest from Target (a
// later one at the same distance when it lies after Target); -1 when none.
std::int32_t TOruVideoExtractor::Recyclable(std::int32_t target, std::int32_t keepFrom, std::int32_t keepTo) const {
  std::int32_t pick = -1;
  std::int64_t far = -1;
  for (std::int32_t i = 0; i < count_; ++i) {
    const std::int32_t index = pool_[std::size_t(i)].FrameIndex;
    if (index < 0) return i;
    if (index >= keepFrom && index <= keepTo) continue;
    const std::int64_t d = Distance(index, target);
    if (d > far || (d == far && index > target)) {
      pick = i;
      far = d;
    }
  }
  return pick;
}

std::int32_t TOruVideoExtractor::ReadAheadEnd() const {
  if (readAhead_ <= 0 || wanted_ < 0) return kNoVideoFrame;
  const std::int64_t to = std::min<std::int64_t>(std::int64_t(frameCount_) - 1, std::int64_t(wanted_) + readAhead_);
  return to >= wanted_ ? std::int32_t(to) : kNoVideoFrame;
}

std::int32_t TOruVideoExtractor::PictureFor(std::int32_t frame) const {
  // A frame read ahead keeps the others read ahead.
  const std::int32_t to = ReadAheadEnd();
  if (to >= 0 && frame >= wanted_ && frame <= to) return Recyclable(frame, wanted_, to);
  return Recyclable(frame, 1, 0);
}

bool TOruVideoExtractor::NextWork(std::int32_t& frame, std::int32_t& picture) {
  frame = kNoVideoFrame;
  picture = -1;
  if (count_ == 0) return false;
  // A frame the consumer has gone past is late: it gives way to the ones
  // that are still to be shown.
  if (requested_ >= 0 && wanted_ >= 0 && requested_ < wanted_) requested_ = kNoVideoFrame;
  if (requested_ >= 0 && FindFrame(requested_) >= 0) requested_ = kNoVideoFrame;
  const std::int32_t to = ReadAheadEnd();
  if (requested_ >= 0 && (to < 0 || requested_ > to)) {
    frame = requested_;
  } else {
    // In order from the consumer's frame: each step of the decoder is one
    // frame on, and the frame due first is there first.
    for (std::int32_t n = wanted_; to >= 0 && n <= to && frame < 0; ++n)
      if (!Holds(n)) frame = n;
    if (frame < 0) return false;
  }
  picture = PictureFor(frame);
  return picture >= 0;
}

void TOruVideoExtractor::Work() {
  // Behind the drawing thread until the first picture is there, where the
  // system lets the thread come back to normal priority afterwards (an
  // ordinary user's thread may not): a worker left behind for good would
  // lag its pictures on a busy machine.
  bool lowered = plat::MayRaiseThreadPriority();
  if (lowered) plat::SetCurrentThreadNice(-1);
  for (;;) {
    std::int32_t r = kNoVideoFrame, pick = -1;
    Enter();
    while (!Terminated() && !NextWork(r, pick)) Wait();
    SleepMs(0);
    const bool stop = Terminated();
    Leave();
    if (stop) break;

    // The picture stays in the pool while the decoder seeks: the drawer
    // may still take it meanwhile.
    bool sought = false;
    try {
      sought = source_->SeekFrame(r);
    } catch (...) {
      ReportSwallowedException();
    }

    Enter();
    TVideoPoolEntry e;
    bool taken = false;
    if (Holds(r) || (wanted_ >= 0 && r < wanted_)) {
      // Decoded meanwhile, or gone past while the decoder sought: nothing
      // to write.
      if (requested_ == r) requested_ = kNoVideoFrame;
    } else {
      pick = PictureFor(r);
      if (pick >= 0) {
        e = PoolTake(pick);
        taken = true;
        ++decoding_;
      }
    }
    Leave();
    if (!taken) continue;

    if (sought) {
      bool got = false;
      try {
        got = source_->GetFrame(e.Image.get());
      } catch (...) {
        ReportSwallowedException();
      }
      if (got) {
        e.Image->ClearContentLost();
        if (lowered) {
          plat::SetCurrentThreadNice(0);
          lowered = false;
        }
      }
    }

    Enter();
    --decoding_;
    e.FrameIndex = r;
    if (Terminated()) {
      // Stop has emptied the pool: the picture goes with the extractor.
      Leave();
      e.Image->SetContentLostCallback(nullptr, nullptr);
      e.Image = nullptr;
      break;
    }
    PoolAdd(std::move(e));
    if (requested_ == r) requested_ = kNoVideoFrame;
    Leave();
  }
  finished_.store(true);
  // Waiters in Request see the change when we enter.
  Enter();
  source_ = nullptr;
  Leave();
}

}  // namespace zm
