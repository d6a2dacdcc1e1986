// Fingerprints of a file list computed on worker threads, handed back in
// list order. Each worker owns its picture and 16 x 8 target, so the only
// state the threads share is the queue and the memory budget below;
// everything a load reaches (readers, decoders, the colour manager, the
// metafile player) keeps its state in its objects, and the registries are
// only read during a search.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
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
// per core the process may run on): at least 1, at most files.
unsigned WorkerCount(unsigned jobs, size_t files);

// What the workers of one search may hold at once for the files they load,
// as the loads' size checks count it. Loads hold working buffers beside
// their pictures of up to about as much again (a TIFF strip as large as the
// image, the indices of a GIF, the planes of a Paint Shop Pro layer, the
// copies of an icon), so a search stays under about 2.5 GB whatever its
// files and however many cores it runs on.
inline constexpr uint64_t SearchMemoryBudget = uint64_t{1} << 30;

// One budget shared by the workers of a search. A file's load charges it
// through the reservation of that file before allocating and waits while
// the budget is taken; the reservation gives everything back when the file
// is done. A charge larger than the whole budget waits until nothing else
// is held and then goes on alone.
//
// The taker needs the files in list order, so the lowest file waiting for
// its first charge goes first. A file that already holds memory and waits
// for more cannot give any back, so when every file holding memory waits,
// the lowest of them goes on beyond the budget rather than all waiting for
// each other.
class TMemoryBudget {
public:
  explicit TMemoryBudget(uint64_t bytes) : FLimit(bytes) {}
  TMemoryBudget(const TMemoryBudget&) = delete;
  TMemoryBudget& operator=(const TMemoryBudget&) = delete;

  // What the load of one file holds of the budget, given back when it ends.
  class TReservation final : public TImageMemoryAccount {
  public:
    TReservation(TMemoryBudget& budget, size_t file);
    ~TReservation();
    TReservation(const TReservation&) = delete;
    TReservation& operator=(const TReservation&) = delete;
    // Waits until bytes more may be held; throws EAbort once the budget
    // is cancelled.
    void Charge(uint64_t bytes) override;
    uint64_t Held() const { return FHeld; }

  private:
    friend class TMemoryBudget;
    TMemoryBudget& FBudget;
    const size_t FFile;
    uint64_t FHeld = 0;  // written under the budget's mutex, by its own thread only
    bool FWaiting = false;
  };

  // Wakes every waiting charge; from now on every charge throws EAbort.
  void Cancel();
  uint64_t Taken() const;
  // How many charges wait now.
  size_t Waiting() const;

private:
  void Acquire(TReservation& reservation, uint64_t bytes);
  void Release(TReservation& reservation);
  bool MayTake(const TReservation& reservation, uint64_t bytes) const;

  const uint64_t FLimit;
  mutable std::mutex FMutex;
  std::condition_variable FChanged;
  uint64_t FTaken = 0;
  bool FCancelled = false;
  std::vector<const TReservation*> FActive;  // the files in progress
};

class TFingerprintPool {
public:
  // Starts workers threads over files; at most Window() finished results
  // wait to be taken, so at most that many files are ahead of the taker.
  // The workers' loads share a budget of budget bytes.
  TFingerprintPool(const std::string& directory, const std::vector<std::string>& files, unsigned workers,
                   uint64_t budget = SearchMemoryBudget);
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
  TMemoryBudget FBudget;
  std::vector<std::thread> FThreads;
};

}  // namespace tolvane
