// Message boxes shown with Qt.
#pragma once

#include "platform/MessageBoxes.h"

class QWidget;

namespace tolvane {

class TQtMessageBoxes : public TMessageBoxes {
public:
  // Boxes are modal to owner (null: to the whole application).
  explicit TQtMessageBoxes(QWidget* owner = nullptr) : Owner(owner) {}
  TMessageButton ShowMessageBox(TMessageKind kind, TMessageButtons buttons, std::string_view text,
                                std::string_view caption = {}) override;

private:
  QWidget* Owner;
};

}  // namespace tolvane
