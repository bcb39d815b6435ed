#include "Platform/PlatSync.h"

#include <errno.h>
#include <pthread.h>
#include <time.h>

namespace plat {

struct TRobustMutex::Impl {
  pthread_mutex_t m;
};

TRobustMutex::TRobustMutex() : impl_(std::make_unique<Impl>()) {
  pthread_mutexattr_t a;
  pthread_mutexattr_init(&a);
  pthread_mutexattr_settype(&a, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutexattr_setrobust(&a, PTHREAD_MUTEX_ROBUST);
  pthread_mutex_init(&impl_->m, &a);
  pthread_mutexattr_destroy(&a);
}

TRobustMutex::~TRobustMutex() { pthread_mutex_destroy(&impl_->m); }

TWaitResult TRobustMutex::Wait(std::int64_t timeoutMs) {
  int rc;
  if (timeoutMs < 0) {
    rc = pthread_mutex_lock(&impl_->m);
  } else if (timeoutMs == 0) {
    rc = pthread_mutex_trylock(&impl_->m);
    if (rc == EBUSY) rc = ETIMEDOUT;
  } else {
    timespec ts{};
    // timedlock (real-time clock) rather than clocklock: the thread sanitizer
    // follows only the former.
    clock_gettime(CLOCK_REALTIME, &ts);
    ts.tv_sec += static_cast<time_t>(timeoutMs / 1000);
    ts.tv_nsec += static_cast<long>((timeoutMs % 1000) * 1000000);
    if (ts.tv_nsec >= 1000000000L) {
      ts.tv_sec += 1;
      ts.tv_nsec -= 1000000000L;
    }
    rc = pthread_mutex_timedlock(&impl_->m, &ts);
  }
  switch (rc) {
    case 0: return TWaitResult::Acquired;
    case EOWNERDEAD:
      pthread_mutex_consistent(&impl_->m);
      return TWaitResult::Abandoned;
    case ETIMEDOUT: return TWaitResult::Timeout;
    default: return TWaitResult::Failed;
  }
}

bool TRobustMutex::Release() { return pthread_mutex_unlock(&impl_->m) == 0; }

}  // namespace plat
