#pragma once
// A frame source without a decoder and pictures without planes, for the
// extractor's tests: the source "decodes" by writing the frame number into
// the picture, and can hold the worker inside SeekFrame or GetFrame until
// the test lets it go.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <vector>

#include "ZmLib/Graphics/FrameSource.h"
#include "ZmLib/Graphics/zmBitmap.h"

namespace fakevideo {

class TFakePicture : public zm::TYUVImage {
public:
  TFakePicture() : zm::TYUVImage(4, 4) {}
  zm::TRef<zm::TBitmap> LockPlane(std::int32_t) override { return nullptr; }
  bool UnlockPlane(std::int32_t, zm::TRef<zm::TBitmap>& plane) override {
    plane = nullptr;
    return true;
  }
  void Commit() override {}

  std::atomic<std::int32_t> Frame{-1};  // the frame written last
  std::atomic<int> Holders{0};          // consumers that hold it now (tests of threads)
};

class TFakeSource : public zm::TFrameSource {
public:
  TFakeSource(std::int32_t frames, double fps, int* disposed = nullptr) : disposed_(disposed) {
    Info.FrameCount = frames;
    Info.FrameRate = fps;
    Info.Width = 4;
    Info.Height = 4;
  }
  void Dispose() override {
    if (disposed_) ++*disposed_;
    zm::TFrameSource::Dispose();
  }

  bool SeekFrame(std::int32_t index) override {
    Pass(1);
    current_ = index;
    return index >= 0 && index < Info.FrameCount;
  }
  bool GetFrame(zm::TYUVImage* image) override {
    Pass(2);
    auto* p = static_cast<TFakePicture*>(image);
    if (p->Holders.load() != 0) HandedOutWhileDecoding = true;
    if (FailDecode) return false;
    p->Frame = current_;
    std::lock_guard<std::mutex> g(m_);
    ++decodes_[current_];
    written_.push_back(current_);
    return true;
  }
  bool GetFrameBitmap(zm::TBitmap*) override { return false; }

  // Holds the worker at the next seek (1) or decode (2); 0 lets it run.
  void HoldAt(int stage) {
    std::lock_guard<std::mutex> g(m_);
    hold_ = stage;
    cv_.notify_all();
  }
  // Waits until the worker is held; false after a generous safety limit.
  bool WaitHeld() {
    std::unique_lock<std::mutex> l(m_);
    return cv_.wait_for(l, std::chrono::seconds(20), [&] { return held_; });
  }
  int Decodes(std::int32_t index) {
    std::lock_guard<std::mutex> g(m_);
    return decodes_[index];
  }
  // The frames written into pictures, in order.
  std::vector<std::int32_t> Written() {
    std::lock_guard<std::mutex> g(m_);
    return written_;
  }

  std::atomic<bool> FailDecode{false};
  std::atomic<bool> HandedOutWhileDecoding{false};

private:
  void Pass(int stage) {
    std::unique_lock<std::mutex> l(m_);
    if (hold_ != stage) return;
    held_ = true;
    cv_.notify_all();
    cv_.wait(l, [&] { return hold_ != stage; });
    held_ = false;
  }

  int* disposed_;
  std::int32_t current_ = -1;  // the worker's only
  std::mutex m_;
  std::condition_variable cv_;
  int hold_ = 0;
  bool held_ = false;
  std::map<std::int32_t, int> decodes_;
  std::vector<std::int32_t> written_;
};

}  // namespace fakevideo
