// A small pool of threads for the grouping: the calling thread hands out a
// number of tasks, works on them itself and, between its tasks and while
// it waits for the others, runs its tick, so the window it serves stays
// live. Only the calling thread ever runs the tick.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace tolvane {

class TTaskPool {
public:
  // threads counts the calling thread: threads - 1 workers are started.
  explicit TTaskPool(unsigned threads);
  // Stops and joins the workers.
  ~TTaskPool();
  TTaskPool(const TTaskPool&) = delete;
  TTaskPool& operator=(const TTaskPool&) = delete;

  unsigned Threads() const { return static_cast<unsigned>(FWorkers.size()) + 1; }

  // Runs task(k) for k = 0 .. count - 1, each once, on any thread, and
  // returns when all have ended. tick runs on the calling thread between
  // tasks and about every half millisecond while it waits; when it returns
  // false no further task starts, and Run returns false once the started
  // ones have ended. An exception from a task or from tick passes on, after
  // every started task has ended.
  bool Run(size_t count, const std::function<void(size_t)>& task, const std::function<bool()>& tick);

private:
  struct TJob {
    const std::function<void(size_t)>* Task = nullptr;
    size_t Count = 0;
  };
  void Work();
  void Shutdown();
  // Runs tasks of job until none is left or the job is cancelled.
  void RunTasks(const TJob& job);
  void WaitForWorkers(const std::function<bool()>& tick, bool& ticking);

  std::mutex FMutex;
  std::condition_variable FStart, FEnded;
  TJob FJob;                    // under FMutex
  unsigned FGeneration = 0;     // under FMutex: a new job was posted
  unsigned FBusy = 0;           // under FMutex: workers inside the current job
  bool FStop = false;           // under FMutex
  std::atomic<size_t> FNext = 0;
  std::atomic<bool> FCancelled = false;
  std::exception_ptr FFailure;  // under FMutex
  std::vector<std::thread> FWorkers;
};

}  // namespace tolvane
