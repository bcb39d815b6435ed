#pragma once
// The window layer's capture (ZM_CAPTURE_DIR): every frame a top-level window
// presents is written as "NNNNNN.png" with a line "frame, program clock ms,
// window, show time ms" in frames.tsv. The presenting thread only copies the
// pixels; writer threads compress them with fast settings, and the lines go
// out in frame order, so that a capture on the real clock keeps its pace.
// Internal to Platform/User.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace plat::user {

class TCaptureWriter {
public:
  // Limit < 0: no limit. Writers: the number of writer threads (at least 1).
  TCaptureWriter(std::string dir, std::int64_t limit, int writers);
  // Writes everything queued, then ends the writers.
  ~TCaptureWriter();
  TCaptureWriter(const TCaptureWriter&) = delete;
  TCaptureWriter& operator=(const TCaptureWriter&) = delete;

  // Queues a frame (its pixels are copied: B, G, R, A, stride in pixels);
  // never waits. False past the limit or for an empty frame.
  bool Submit(std::uint32_t clockMs, std::uintptr_t window, std::int64_t showTime, const std::uint32_t* bits,
              int stride, int width, int height);
  // Waits while more frames wait than the writers can take soon. Called by
  // the presenting thread where it holds no lock of the window layer.
  void Throttle();
  // Waits until every queued frame is written.
  void Flush();
  // Frames taken so far.
  std::int64_t Frames();
  // The most frames taken (< 0: no limit).
  std::int64_t Limit() const { return limit_; }

private:
  struct TJob {
    std::int64_t Frame = 0;
    std::uint32_t ClockMs = 0;
    std::uintptr_t Window = 0;
    std::int64_t ShowTime = -1;
    int Width = 0, Height = 0;
    std::vector<std::uint32_t> Bits;
  };
  void Run();
  void Commit(std::int64_t frame, std::string line);
  // A file that could not be written: said once, and nothing more is written.
  void Fail(const std::string& file, int osError);

  const std::string dir_;
  const std::int64_t limit_;
  const std::size_t maxQueued_;
  std::mutex lock_;
  std::condition_variable work_, done_;
  std::deque<TJob> queue_;          // guarded by lock_
  std::int64_t next_ = 0;           // guarded by lock_: the next frame's number
  std::int64_t busy_ = 0;           // guarded by lock_: frames taken by a writer
  std::int64_t nextLine_ = 0;       // guarded by lock_: the next line to write
  std::map<std::int64_t, std::string> lines_;  // guarded by lock_: written out of turn
  std::FILE* tsv_ = nullptr;        // guarded by lock_
  bool stop_ = false;               // guarded by lock_
  std::atomic<bool> failed_{false};
  std::vector<std::thread> writers_;
};

}  // namespace plat::user
