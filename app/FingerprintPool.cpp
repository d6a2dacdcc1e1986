#include "FingerprintPool.h"

#include <sched.h>

#include <algorithm>
#include <filesystem>

#include "graphics/GraphicCompression.h"

namespace tolvane {

namespace {
// Some readers accept an empty file as an empty or default picture; with
// nothing in it, it is no picture of anything, whatever its extension.
bool HoldsNoBytes(const std::string& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  return !error && size == 0;
}
}  // namespace

TFingerprintResult FingerprintOneFile(const std::string& directory, const std::string& name, TPicture& picture,
                                      TBitmap& target) {
  TFingerprintResult result;
  if (HoldsNoBytes(directory + name)) {
    result.Unreadable = true;
    return result;
  }
  try {
    result.Unreadable = !ComputeFingerprint(directory, name, picture, result.Print, target);
  } catch (const std::exception&) {
    // A picture that fails while it is drawn (damaged compressed data)
    // counts as unreadable, like one that fails to load.
    result.Print = Fingerprint{};
    result.Unreadable = true;
  }
  return result;
}

namespace {

// The cores this thread may run on (taskset, cgroups): workers beyond them
// would only hold pictures without running.
unsigned UsableCores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
    return static_cast<unsigned>(CPU_COUNT(&set));
  return std::max(1u, std::thread::hardware_concurrency());  // a mask wider than cpu_set_t, say
}

}  // namespace

unsigned WorkerCount(unsigned jobs, size_t files) {
  if (jobs == 0) jobs = UsableCores();
  return static_cast<unsigned>(std::max<size_t>(1, std::min<size_t>(jobs, files)));
}

TMemoryBudget::TReservation::TReservation(TMemoryBudget& budget, size_t file) : FBudget(budget), FFile(file) {
  std::lock_guard lock(budget.FMutex);
  budget.FActive.push_back(this);
}

TMemoryBudget::TReservation::~TReservation() { FBudget.Release(*this); }

void TMemoryBudget::TReservation::Charge(uint64_t bytes) {
  if (bytes > 0) FBudget.Acquire(*this, bytes);
}

void TMemoryBudget::Cancel() {
  {
    std::lock_guard lock(FMutex);
    FCancelled = true;
  }
  FChanged.notify_all();
}

uint64_t TMemoryBudget::Taken() const {
  std::lock_guard lock(FMutex);
  return FTaken;
}

size_t TMemoryBudget::Waiting() const {
  std::lock_guard lock(FMutex);
  return static_cast<size_t>(std::ranges::count_if(FActive, [](const TReservation* r) { return r->FWaiting; }));
}

bool TMemoryBudget::MayTake(const TReservation& r, uint64_t bytes) const {
  const bool fits = FTaken + bytes <= FLimit;
  bool lowerEntering = false, everyHolderWaits = true, lowestHolder = true;
  for (const TReservation* other : FActive) {
    if (other == &r) continue;
    if (other->FHeld == 0) {
      lowerEntering = lowerEntering || (other->FWaiting && other->FFile < r.FFile);
    } else {
      everyHolderWaits = everyHolderWaits && other->FWaiting;
      lowestHolder = lowestHolder && r.FFile < other->FFile;
    }
  }
  // Holding nothing, a file enters in list order: when it fits, or alone.
  if (r.FHeld == 0) return !lowerEntering && (fits || FTaken == 0);
  if (fits || FTaken == r.FHeld) return true;
  return everyHolderWaits && lowestHolder;
}

void TMemoryBudget::Acquire(TReservation& r, uint64_t bytes) {
  std::unique_lock lock(FMutex);
  const bool waited = !FCancelled && !MayTake(r, bytes);
  if (waited) {
    r.FWaiting = true;
    FChanged.notify_all();  // the last holder to wait lets the lowest go on
    FChanged.wait(lock, [&] { return FCancelled || MayTake(r, bytes); });
    r.FWaiting = false;
  }
  if (FCancelled) throw EAbort("search stopped");
  r.FHeld += bytes;
  FTaken += bytes;
  lock.unlock();
  if (waited) FChanged.notify_all();  // files behind this one may enter now
}

void TMemoryBudget::Release(TReservation& r) {
  {
    std::lock_guard lock(FMutex);
    FTaken -= r.FHeld;
    r.FHeld = 0;
    std::erase(FActive, &r);
  }
  FChanged.notify_all();
}

TFingerprintPool::TFingerprintPool(const std::string& directory, const std::vector<std::string>& files,
                                   unsigned workers, uint64_t budget)
    : FDirectory(directory), FFiles(files), FSlots(2 * static_cast<size_t>(std::max(1u, workers))), FBudget(budget) {
  FThreads.reserve(workers);
  try {
    for (unsigned w = 0; w < workers; ++w) FThreads.emplace_back([this] { Work(); });
  } catch (...) {
    Stop();  // a thread that could not start: end those that did
    throw;
  }
}

TFingerprintPool::~TFingerprintPool() { Stop(); }

void TFingerprintPool::Stop() {
  {
    std::lock_guard lock(FMutex);
    FStop = true;
  }
  FSpace.notify_all();
  FBudget.Cancel();
  for (std::thread& t : FThreads)
    if (t.joinable()) t.join();
  FThreads.clear();
}

bool TFingerprintPool::Claim(size_t& index) {
  std::unique_lock lock(FMutex);
  // A file is claimed only when its slot is free: the results waiting
  // never exceed the slots, however slow the taker is.
  FSpace.wait(lock, [&] { return FStop || FNext >= FFiles.size() || FNext < FTaken + FSlots.size(); });
  if (FStop || FNext >= FFiles.size()) return false;
  index = FNext++;
  return true;
}

void TFingerprintPool::Deliver(size_t index, TFingerprintResult result) {
  {
    std::lock_guard lock(FMutex);
    TSlot& slot = FSlots[index % FSlots.size()];
    slot.Result = std::move(result);
    slot.Ready = true;
  }
  FDone.notify_all();
}

void TFingerprintPool::Work() {
  TPicture picture;
  // A long load is cut short when the pool stops; readers report progress
  // through the picture, and every reader survives an exception anywhere.
  picture.OnProgress = [this](TObject*, TProgressStage stage, uint8_t, bool, const TRect&, const std::string&) {
    if (stage == TProgressStage::psRunning && Stopping()) throw EAbort("search stopped");
  };
  picture.ProgressSeesPixels = false;
  TBitmap target;
  target.SetPixelLayout(pl24Bit);
  target.ResizeWidth(16);
  target.ResizeHeight(8);
  size_t index = 0;
  while (Claim(index)) {
    TFingerprintResult result;
    {
      TMemoryBudget::TReservation reservation(FBudget, index);
      TImageMemoryScope charges(reservation);
      TCompressionWarningCapture warnings;
      try {
        result = FingerprintOneFile(FDirectory, FFiles[index], picture, target);
      } catch (...) {
        result.Failure = std::current_exception();
      }
      result.Warnings = std::move(warnings.Warnings);
      // The picture goes before its reservation: what the budget gives back
      // must be free.
      picture.AssignGraphic(nullptr);
    }
    if (Stopping()) return;  // the result would never be taken
    Deliver(index, std::move(result));
  }
}

TFingerprintResult TFingerprintPool::Take(size_t index) {
  std::unique_lock lock(FMutex);
  TSlot& slot = FSlots[index % FSlots.size()];
  FDone.wait(lock, [&] { return slot.Ready; });
  TFingerprintResult result = std::move(slot.Result);
  slot.Ready = false;
  FTaken = index + 1;
  lock.unlock();
  FSpace.notify_all();
  return result;
}

}  // namespace tolvane
