#include "TaskPool.h"

#include <chrono>
#include <utility>

namespace tolvane {

namespace {
constexpr auto TickWait = std::chrono::microseconds(500);
}

TTaskPool::TTaskPool(unsigned threads) {
  const unsigned workers = threads > 1 ? threads - 1 : 0;
  FWorkers.reserve(workers);
  try {
    for (unsigned w = 0; w < workers; ++w) FWorkers.emplace_back([this] { Work(); });
  } catch (...) {
    Shutdown();  // a thread that could not start: end those that did
    throw;
  }
}

TTaskPool::~TTaskPool() { Shutdown(); }

void TTaskPool::Shutdown() {
  {
    std::lock_guard lock(FMutex);
    FStop = true;
  }
  FStart.notify_all();
  for (std::thread& t : FWorkers)
    if (t.joinable()) t.join();
  FWorkers.clear();
}

void TTaskPool::RunTasks(const TJob& job) {
  while (!FCancelled.load(std::memory_order_relaxed)) {
    const size_t k = FNext.fetch_add(1, std::memory_order_relaxed);
    if (k >= job.Count) return;
    try {
      (*job.Task)(k);
    } catch (...) {
      std::lock_guard lock(FMutex);
      if (!FFailure) FFailure = std::current_exception();
      FCancelled = true;
    }
  }
}

void TTaskPool::Work() {
  unsigned seen = 0;
  std::unique_lock lock(FMutex);
  for (;;) {
    FStart.wait(lock, [&] { return FStop || FGeneration != seen; });
    if (FStop) return;
    seen = FGeneration;
    const TJob job = FJob;
    ++FBusy;
    lock.unlock();
    RunTasks(job);
    lock.lock();
    if (--FBusy == 0) FEnded.notify_all();
  }
}

bool TTaskPool::Run(size_t count, const std::function<void(size_t)>& task, const std::function<bool()>& tick) {
  if (count == 0) return true;
  {
    // A worker that woke too late for the previous job may still be
    // leaving it; the claims of this job must not mix with its claim.
    std::unique_lock lock(FMutex);
    FEnded.wait(lock, [&] { return FBusy == 0; });
    FJob = {&task, count};
    FNext = 0;
    FCancelled = false;
    ++FGeneration;
  }
  FStart.notify_all();
  bool ticking = true, stopped = false;
  std::exception_ptr tickFailure;
  // The caller works too; it ticks between its tasks.
  while (!FCancelled.load(std::memory_order_relaxed)) {
    const size_t k = FNext.fetch_add(1, std::memory_order_relaxed);
    if (k >= count) break;
    try {
      task(k);
    } catch (...) {
      std::lock_guard lock(FMutex);
      if (!FFailure) FFailure = std::current_exception();
      FCancelled = true;
      break;
    }
    try {
      if (!tick()) stopped = true, FCancelled = true;
    } catch (...) {
      tickFailure = std::current_exception();
      FCancelled = true;
    }
  }
  if (!tickFailure && !stopped) {
    try {
      WaitForWorkers(tick, ticking);
    } catch (...) {
      tickFailure = std::current_exception();
      FCancelled = true;
    }
    stopped = !ticking;
  }
  // Whatever ended the job, no worker may still be inside it when the
  // task it refers to goes out of scope.
  std::unique_lock lock(FMutex);
  FEnded.wait(lock, [&] { return FBusy == 0; });
  FJob = {};
  std::exception_ptr failure = std::exchange(FFailure, nullptr);
  lock.unlock();
  if (tickFailure) std::rethrow_exception(tickFailure);
  if (failure) std::rethrow_exception(failure);
  return !stopped;
}

void TTaskPool::WaitForWorkers(const std::function<bool()>& tick, bool& ticking) {
  std::unique_lock lock(FMutex);
  while (FBusy > 0) {
    FEnded.wait_for(lock, TickWait, [&] { return FBusy == 0; });
    if (FBusy == 0 || !ticking) continue;
    lock.unlock();
    const bool go = tick();
    lock.lock();
    if (!go) {
      ticking = false;
      FCancelled = true;
    }
  }
}

}  // namespace tolvane
