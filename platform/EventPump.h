// Pending-message processing for long work on the GUI thread. A search asks
// to yield very often (after each file, before each comparison); paying a
// full event-loop turn each time would dominate its cost, so the pump yields
// at most once per time slice.
#pragma once

#include <chrono>
#include <functional>

namespace tolvane {

class TEventPump {
public:
  virtual ~TEventPump() = default;
  // Lets the window repaint and take input, when the time slice has passed.
  virtual void ProcessMessages() = 0;
};

// A pump over a processing function, yielding at most once per slice.
class TTimeSlicedPump : public TEventPump {
public:
  explicit TTimeSlicedPump(std::function<void()> process,
                           std::chrono::milliseconds slice = std::chrono::milliseconds(15))
      : FProcess(std::move(process)), FSlice(slice) {}
  void ProcessMessages() override;

private:
  std::function<void()> FProcess;
  std::chrono::steady_clock::duration FSlice;
  std::chrono::steady_clock::time_point FLast{};
};

}  // namespace tolvane
