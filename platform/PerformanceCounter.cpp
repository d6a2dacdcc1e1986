#include "PerformanceCounter.h"

#include <chrono>

namespace tolvane {

int64_t TSteadyClockCounter::Counter() { return std::chrono::steady_clock::now().time_since_epoch().count(); }

int64_t TSteadyClockCounter::Frequency() {
  using Period = std::chrono::steady_clock::period;
  return Period::den / Period::num;
}

}  // namespace tolvane
