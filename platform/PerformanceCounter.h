// The high-resolution performance counter: ticks of the monotonic clock.
#pragma once

#include <cstdint>

namespace tolvane {

class TPerformanceCounter {
public:
  virtual ~TPerformanceCounter() = default;
  virtual int64_t Counter() = 0;
  // Ticks per second; 0 means no counter exists.
  virtual int64_t Frequency() = 0;
};

class TSteadyClockCounter : public TPerformanceCounter {
public:
  int64_t Counter() override;
  int64_t Frequency() override;
};

}  // namespace tolvane
