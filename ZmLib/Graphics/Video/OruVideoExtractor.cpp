#include "ZmLib/Graphics/Video/OruVideoExtractor.h"

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
  if (FindFrame(f) < 0) requested_ = f;
  // Without pictures nothing can be decoded: waiting would never end.
  if (wait)
    while (!Terminated() && !finished_.load() && requested_ == f && (count_ > 0 || decoding_ > 0)) Wait();
  Leave();
}

bool TOruVideoExtractor::TakeFrame(TVideoPoolEntry& entry, double displayRate, double timeMs) {
  Enter();
  const std::int32_t f = FrameIndexAt(timeMs);
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

void TOruVideoExtractor::Work() {
  // Behind the drawing thread until the first picture is there; failure to
  // change the priority is of no consequence.
  plat::SetCurrentThreadNice(-1);
  bool lowered = true;
  for (;;) {
    Enter();
    while (!Terminated() && (requested_ < 0 || count_ == 0)) Wait();
    SleepMs(0);
    const std::int32_t r = requested_;
    const bool stop = Terminated();
    Leave();
    if (stop) break;

    bool sought = false;
    try {
      sought = source_->SeekFrame(r);
    } catch (...) {
      ReportSwallowedException();
    }

    Enter();
    TVideoPoolEntry e;
    bool taken = false;
    if (FindFrame(r) >= 0) {
      if (requested_ == r) requested_ = kNoVideoFrame;
    } else if (count_ > 0) {
      // Lost and empty pictures go first; then the frame farthest from R.
      std::int32_t pick = -1;
      std::int64_t far = -1;
      for (std::int32_t i = 0; i < count_; ++i) {
        const std::int32_t index = pool_[std::size_t(i)].FrameIndex;
        if (index < 0) {
          if (far < 0x100000000LL) {
            pick = i;
            far = 0x100000000LL;
          }
          continue;
        }
        const std::int64_t d = Distance(index, r);
        if (d > far || (d == far && index > r)) {
          pick = i;
          far = d;
        }
      }
      e = PoolTake(pick);
      taken = true;
      ++decoding_;
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
