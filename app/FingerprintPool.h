// Fingerprints of a file list computed on worker threads, handed back in
// list order. Each worker owns its picture and 16 x 8 target, so the only
// state the threads share is the queue below; everything a load reaches
// (readers, decoders, the colour manager, the metafile player) keeps its
// state in its objects, and the registries are only read during a search.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Fingerprint.h"

namespace tolvane {

// What a worker found for one file: its fingerprint, the decoder warnings
// raised while it loaded (shown later by the thread that takes the result,
// in list order, as a one-thread search would show them), and an exception
// that is no std::exception, passed on to that thread. An unreadable file
// takes no part in the grouping.
struct TFingerprintResult {
  Fingerprint Print;
  std::vector<std::pair<std::string, std::string>> Warnings;
  std::exception_ptr Failure;
  bool Unreadable = false;
};

// The fingerprint of one file as the search computes it: a file that holds
// no bytes, or a picture that fails to load, is 0 wide or high, or fails
// to draw, keeps the all-zero fingerprint and is unreadable.
TFingerprintResult FingerprintOneFile(const std::string& directory, const std::string& name, TPicture& picture,
                                      TBitmap& target);

// The number of workers for files files when jobs are asked for (0: one
// per core): at least 1, at most files.
unsigned WorkerCount(unsigned jobs, size_t files);

class TFingerprintPool {
public:
  // Starts workers threads over files; at most Window() finished results
  // wait to be taken, so at most that many files are ahead of the taker.
  TFingerprintPool(const std::string& directory, const std::vector<std::string>& files, unsigned workers);
  // Stops the workers (each ends after the file it is loading) and joins them.
  ~TFingerprintPool();
  TFingerprintPool(const TFingerprintPool&) = delete;
  TFingerprintPool& operator=(const TFingerprintPool&) = delete;

  // The result of file index, which must be the next one in list order;
  // waits for it.
  TFingerprintResult Take(size_t index);
  // Ends the work early; Take must not be called afterwards.
  void Stop();
  size_t Window() const { return FSlots.size(); }

private:
  struct TSlot {
    bool Ready = false;
    TFingerprintResult Result;
  };
  void Work();
  // The next file for a worker, or false when there is none or the pool stops.
  bool Claim(size_t& index);
  void Deliver(size_t index, TFingerprintResult result);
  bool Stopping() const { return FStop.load(std::memory_order_relaxed); }

  const std::string FDirectory;
  const std::vector<std::string>& FFiles;
  std::mutex FMutex;
  std::condition_variable FSpace, FDone;
  std::vector<TSlot> FSlots;  // file i's result waits in slot i mod size
  size_t FNext = 0;           // next file to claim
  size_t FTaken = 0;          // files taken so far
  std::atomic<bool> FStop = false;  // written under FMutex, read also without it
  std::vector<std::thread> FThreads;
};

}  // namespace tolvane
