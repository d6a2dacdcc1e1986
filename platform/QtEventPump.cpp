#include "QtEventPump.h"

#include <QCoreApplication>

namespace tolvane {

TQtEventPump::TQtEventPump() : TTimeSlicedPump([] { QCoreApplication::processEvents(QEventLoop::AllEvents); }) {}

}  // namespace tolvane
