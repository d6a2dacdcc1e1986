// The time-sliced pump over Qt's event processing.
#pragma once

#include "platform/EventPump.h"

namespace tolvane {

// Processes pending Qt events (input and paints) at most every 15 ms.
class TQtEventPump : public TTimeSlicedPump {
public:
  TQtEventPump();
};

}  // namespace tolvane
