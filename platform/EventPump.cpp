#include "EventPump.h"

namespace tolvane {

void TTimeSlicedPump::ProcessMessages() {
  auto now = std::chrono::steady_clock::now();
  if (now - FLast < FSlice) return;
  FLast = now;
  if (FProcess) FProcess();
}

}  // namespace tolvane
