#pragma once
// A posting list whose owner is woken through a plain queue of sequence
// numbers, and data objects that report their end.
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "ZmLib/Application2/zmEventList.h"

namespace evtest {

class TTestPostList : public zm::TPostEventListEx {
public:
  bool Refuse = false;
  bool WakeOwner(std::int32_t sequence) override {
    if (Refuse) return false;
    std::lock_guard<std::mutex> l(m_);
    woken_.push_back(sequence);
    cv_.notify_all();
    return true;
  }
  // Owner side: waits for the next wake-up and dispatches that event.
  bool DispatchNext() {
    std::int32_t seq;
    {
      std::unique_lock<std::mutex> l(m_);
      cv_.wait(l, [&] { return !woken_.empty(); });
      seq = woken_.front();
      woken_.pop_front();
    }
    return DispatchEvent(seq);
  }
  std::size_t Woken() {
    std::lock_guard<std::mutex> l(m_);
    return woken_.size();
  }
  void WaitWoken(std::size_t n) {
    std::unique_lock<std::mutex> l(m_);
    cv_.wait(l, [&] { return woken_.size() >= n; });
  }

private:
  std::mutex m_;
  std::condition_variable cv_;
  std::deque<std::int32_t> woken_;
};

class TData : public zm::TRefObject {
public:
  explicit TData(int v, std::atomic<int>* disposed = nullptr) : Value(v), Disposed(disposed) {}
  void Dispose() override {
    if (Disposed) (*Disposed)++;
    zm::TRefObject::Dispose();
  }
  int Value;
  std::atomic<int>* Disposed;
};

inline TData* NewData(int v, std::atomic<int>* disposed = nullptr) {
  auto* d = new TData(v, disposed);
  d->AfterConstruction();
  return d;
}

}  // namespace evtest
