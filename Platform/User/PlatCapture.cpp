#include "Platform/User/PlatCapture.h"

#include <errno.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "Platform/PlatFrameClock.h"

namespace plat::user {

TCaptureWriter::TCaptureWriter(std::string dir, std::int64_t limit, int writers)
    : dir_(std::move(dir)), limit_(limit), maxQueued_(std::size_t(2 * std::max(writers, 1) + 2)) {
  for (int i = 0; i < std::max(writers, 1); ++i) writers_.emplace_back([this] { Run(); });
}

TCaptureWriter::~TCaptureWriter() {
  {
    std::lock_guard<std::mutex> l(lock_);
    stop_ = true;
  }
  work_.notify_all();
  for (std::thread& t : writers_) t.join();
  if (tsv_) std::fclose(tsv_);
}

bool TCaptureWriter::Submit(std::uint32_t clockMs, std::uintptr_t window, std::int64_t showTime,
                            const std::uint32_t* bits, int stride, int width, int height) {
  if (!bits || width <= 0 || height <= 0 || stride < width) return false;
  TJob job;
  {
    std::lock_guard<std::mutex> l(lock_);
    if (stop_ || (limit_ >= 0 && next_ >= limit_)) return false;
    job.Frame = next_++;
  }
  job.ClockMs = clockMs;
  job.Window = window;
  job.ShowTime = showTime;
  job.Width = width;
  job.Height = height;
  job.Bits.resize(std::size_t(width) * std::size_t(height));
  for (int y = 0; y < height; ++y)
    std::memcpy(&job.Bits[std::size_t(y) * std::size_t(width)], bits + std::size_t(y) * std::size_t(stride),
                std::size_t(width) * 4);
  {
    std::lock_guard<std::mutex> l(lock_);
    queue_.push_back(std::move(job));
  }
  work_.notify_one();
  return true;
}

void TCaptureWriter::Throttle() {
  std::unique_lock<std::mutex> l(lock_);
  done_.wait(l, [this] { return queue_.size() <= maxQueued_ || stop_; });
}

void TCaptureWriter::Flush() {
  std::unique_lock<std::mutex> l(lock_);
  done_.wait(l, [this] { return queue_.empty() && busy_ == 0; });
}

std::int64_t TCaptureWriter::Frames() {
  std::lock_guard<std::mutex> l(lock_);
  return next_;
}

void TCaptureWriter::Run() {
  for (;;) {
    TJob job;
    {
      std::unique_lock<std::mutex> l(lock_);
      // Stopping writes out what is queued first.
      work_.wait(l, [this] { return stop_ || !queue_.empty(); });
      if (queue_.empty()) return;
      job = std::move(queue_.front());
      queue_.pop_front();
      ++busy_;
    }
    done_.notify_all();
    char name[32];
    std::snprintf(name, sizeof name, "/%06lld.png", static_cast<long long>(job.Frame));
    std::string line;
    // After a file that could not be written the capture is not whole: the
    // frames are still counted (the limit ends the run), no longer written.
    const bool write = !failed_.load();
    if (write && WriteCapturePng(dir_ + name, job.Bits.data(), job.Width, job.Width, job.Height)) {
      char text[96];
      std::snprintf(text, sizeof text, "%lld\t%u\t%llu\t%lld\n", static_cast<long long>(job.Frame),
                    static_cast<unsigned>(job.ClockMs), static_cast<unsigned long long>(job.Window),
                    static_cast<long long>(job.ShowTime));
      line = text;
    } else if (write) {
      Fail(dir_ + name, errno);
    }
    Commit(job.Frame, std::move(line));
  }
}

void TCaptureWriter::Fail(const std::string& file, int osError) {
  if (!failed_.exchange(true)) ReportCaptureFailure(file, osError);
}

void TCaptureWriter::Commit(std::int64_t frame, std::string line) {
  {
    std::lock_guard<std::mutex> l(lock_);
    lines_[frame] = std::move(line);
    // Lines in frame order, whichever writer finished first; a frame that
    // could not be written has none.
    for (auto it = lines_.find(nextLine_); it != lines_.end(); it = lines_.find(nextLine_)) {
      if (!it->second.empty() && !failed_.load()) {
        if (!tsv_) tsv_ = std::fopen((dir_ + "/frames.tsv").c_str(), "a");
        if (!tsv_ || std::fputs(it->second.c_str(), tsv_) < 0 || std::fflush(tsv_) != 0)
          Fail(dir_ + "/frames.tsv", errno);
      }
      lines_.erase(it);
      ++nextLine_;
    }
    --busy_;
  }
  done_.notify_all();
}

}  // namespace plat::user
