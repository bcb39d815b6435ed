#pragma once
// A recursive mutex that survives the death of its owner: the next waiter
// takes it and learns that it was abandoned (the Windows mutex behaviour).
#include <cstdint>
#include <memory>

namespace plat {

enum class TWaitResult { Acquired, Abandoned, Timeout, Failed };

class TRobustMutex {
public:
  TRobustMutex();
  ~TRobustMutex();
  TRobustMutex(const TRobustMutex&) = delete;
  TRobustMutex& operator=(const TRobustMutex&) = delete;

  // timeoutMs < 0 waits without limit. Abandoned means the mutex is now owned
  // by the caller and was left locked by a thread that ended.
  TWaitResult Wait(std::int64_t timeoutMs);
  bool Release();  // false when the caller does not own it

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace plat
