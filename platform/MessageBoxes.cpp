#include "platform/MessageBoxes.h"

namespace tolvane {

std::string_view MessageKindCaption(TMessageKind kind) {
  switch (kind) {
    case TMessageKind::mkInformation: return "Information";
    case TMessageKind::mkWarning: return "Warning";
    case TMessageKind::mkError: return "Error";
    case TMessageKind::mkQuestion: return "Confirm";
  }
  return {};
}

}  // namespace tolvane
