#include "FingerprintPool.h"

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

unsigned WorkerCount(unsigned jobs, size_t files) {
  if (jobs == 0) jobs = std::max(1u, std::thread::hardware_concurrency());
  return static_cast<unsigned>(std::max<size_t>(1, std::min<size_t>(jobs, files)));
}

TFingerprintPool::TFingerprintPool(const std::string& directory, const std::vector<std::string>& files,
                                   unsigned workers)
    : FDirectory(directory), FFiles(files), FSlots(2 * static_cast<size_t>(std::max(1u, workers))) {
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
  TBitmap target;
  target.SetPixelLayout(pl24Bit);
  target.ResizeWidth(16);
  target.ResizeHeight(8);
  size_t index = 0;
  while (Claim(index)) {
    TFingerprintResult result;
    {
      TCompressionWarningCapture warnings;
      try {
        result = FingerprintOneFile(FDirectory, FFiles[index], picture, target);
      } catch (...) {
        result.Failure = std::current_exception();
      }
      result.Warnings = std::move(warnings.Warnings);
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
