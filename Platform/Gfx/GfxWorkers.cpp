#include "Platform/Gfx/GfxWorkers.h"

#include "Platform/PlatSystem.h"

#include <atomic>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#if defined(__SSE2__)
#include <immintrin.h>
#endif
#if defined(__linux__)
#include <sched.h>
#endif

namespace plat::gfx {
namespace {

constexpr std::uint32_t kMaxThreads = 64;
thread_local bool tInsideBand = false;

std::uint32_t Hold(std::uint32_t n) { return n < 1 ? 1 : (n > kMaxThreads ? kMaxThreads : n); }

// A frame's draws come one after another, each a job: between them the
// first worker looks for the next one a little while, and a caller for its
// workers to finish, before either sleeps: waking a sleeping thread takes
// longer than most bands. (The other workers sleep at once, so that a
// machine full of drawing threads does not spend its processors looking.)
constexpr auto kWorkerLook = std::chrono::microseconds(100);
constexpr auto kCallerLook = std::chrono::microseconds(200);

// Looks until done() or the time is up; true when done. It looks often (a
// pause can last over a hundred cycles): the draws of a frame follow each
// other within microseconds, and each one the other side starts late is
// time one thread works alone.
template <typename Done>
bool LookFor(std::chrono::microseconds span, Done&& done) {
  const auto until = std::chrono::steady_clock::now() + span;
  for (unsigned round = 1; !done(); ++round) {
    if (round % 8 == 0 && std::chrono::steady_clock::now() >= until) return false;
    for (int k = 0; k < 4; ++k) {
#if defined(__SSE2__)
      _mm_pause();
#else
      std::this_thread::yield();
#endif
    }
  }
  return true;
}

// The processor the calling thread runs on, -1 when unknown.
int CurrentProcessor() {
#if defined(__linux__)
  return sched_getcpu();
#else
  return -1;
#endif
}

// A worker woken after a pause often lands on the processor of the thread
// that woke it, though another one it may use stands idle (the scheduler
// keeps a waker and the thread it wakes together while the machine is busy
// elsewhere), and takes turns with its caller there frame after frame: the
// first frames of a transition after a still slide were drawn on one
// processor. Moved off once, a worker is woken where it last ran.
void LeaveProcessor(int cpu) {
#if defined(__linux__)
  if (cpu < 0 || sched_getcpu() != cpu) return;
  cpu_set_t allowed;
  if (sched_getaffinity(0, sizeof allowed, &allowed) != 0 || !CPU_ISSET(cpu, &allowed) || CPU_COUNT(&allowed) < 2)
    return;
  cpu_set_t others = allowed;
  CPU_CLR(cpu, &others);
  if (sched_setaffinity(0, sizeof others, &others) == 0) sched_setaffinity(0, sizeof allowed, &allowed);
#else
  (void)cpu;
#endif
}

}  // namespace

std::uint32_t GfxThreadCountFromEnv(const char* value) {
  if (value != nullptr && *value != 0) {
    std::uint32_t n = 0;
    const char* end = value + std::strlen(value);
    const auto [p, ec] = std::from_chars(value, end, n);
    if (ec == std::errc() && p == end && n >= 1 && n <= kMaxThreads) return n;
  }
  // The processors the program may run on: more threads than those only
  // take turns with each other.
  return Hold(static_cast<unsigned>(ProcessorCount()));
}

struct GfxWorkers::Impl {
  std::mutex runMutex;  // one Run at a time
  std::mutex m;
  std::condition_variable wake, done;
  std::vector<std::thread> threads;
  std::uint32_t wanted = 1;
  // The job in progress.
  const std::function<void(std::uint32_t)>* body = nullptr;
  std::uint32_t count = 0;
  std::uint32_t helpers = 0;  // workers allowed to join this job
  std::atomic<std::uint64_t> generation{0};
  std::atomic<std::uint32_t> next{0};
  std::atomic<std::uint32_t> busy{0};  // workers still inside the job
  int callerCpu = -1;                   // where the job's caller runs
  bool quit = false;

  // job and n are read under the lock by the caller of Drain.
  void Drain(const std::function<void(std::uint32_t)>* job, std::uint32_t n) {
    const bool was = tInsideBand;
    tInsideBand = true;
    for (;;) {
      const std::uint32_t i = next.fetch_add(1, std::memory_order_relaxed);
      if (i >= n) break;
      (*job)(i);
    }
    tInsideBand = was;
  }

  void Loop(std::uint32_t index) {
    std::uint64_t seen = 0;
    std::unique_lock lock(m);
    for (;;) {
      if (index == 0 && !quit && generation.load() == seen) {
        lock.unlock();
        LookFor(kWorkerLook, [&] { return generation.load() != seen; });
        lock.lock();
      }
      wake.wait(lock, [&] { return quit || (generation != seen && index < helpers); });
      if (quit) return;
      seen = generation;
      const auto* job = body;
      const std::uint32_t n = count;
      const int cpu = callerCpu;
      ++busy;
      lock.unlock();
      LeaveProcessor(cpu);
      if (job != nullptr) Drain(job, n);
      lock.lock();
      if (--busy == 0) done.notify_all();
    }
  }

  void Resize(std::uint32_t n) {
    // Workers are index 1..n-1; the caller is the first thread.
    while (threads.size() + 1 < n) {
      const std::uint32_t index = static_cast<std::uint32_t>(threads.size());
      threads.emplace_back([this, index] { Loop(index); });
    }
    wanted = n;
  }
};

GfxWorkers::GfxWorkers() : impl_(new Impl) {
  impl_->wanted = GfxThreadCountFromEnv(std::getenv("ZM_GFX_THREADS"));
}

GfxWorkers::~GfxWorkers() {
  {
    std::lock_guard lock(impl_->m);
    impl_->quit = true;
  }
  impl_->wake.notify_all();
  for (auto& t : impl_->threads) t.join();
  delete impl_;
}

GfxWorkers& GfxWorkers::Instance() {
  static GfxWorkers workers;
  return workers;
}

std::uint32_t GfxWorkers::ThreadCount() const {
  std::lock_guard lock(impl_->runMutex);
  return impl_->wanted;
}

void GfxWorkers::SetThreadCount(std::uint32_t n) {
  std::lock_guard lock(impl_->runMutex);
  impl_->wanted = Hold(n);
}

void GfxWorkers::Run(std::uint32_t count, const std::function<void(std::uint32_t)>& body) {
  if (count == 0) return;
  if (tInsideBand || count == 1) {
    for (std::uint32_t i = 0; i < count; ++i) body(i);
    return;
  }
  std::lock_guard run(impl_->runMutex);
  const std::uint32_t threads = impl_->wanted < count ? impl_->wanted : count;
  if (threads <= 1) {
    for (std::uint32_t i = 0; i < count; ++i) body(i);
    return;
  }
  {
    std::lock_guard lock(impl_->m);
    impl_->Resize(impl_->wanted);
    impl_->body = &body;
    impl_->count = count;
    impl_->helpers = threads - 1;
    impl_->callerCpu = CurrentProcessor();
    impl_->next.store(0, std::memory_order_relaxed);
    ++impl_->generation;
  }
  impl_->wake.notify_all();
  impl_->Drain(&body, count);
  LookFor(kCallerLook, [&] { return impl_->busy.load() == 0 && impl_->next.load() >= count; });
  std::unique_lock lock(impl_->m);
  // Workers that wake late find no band left and leave at once; wait for all
  // that joined, then make sure none is still about to join this job.
  impl_->done.wait(lock, [&] { return impl_->busy == 0 && impl_->next.load() >= count; });
  impl_->body = nullptr;
  impl_->count = 0;
}

}  // namespace plat::gfx
