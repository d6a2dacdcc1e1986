// The open-file dialog shown with Qt.
#pragma once

#include "platform/FileDialogs.h"

class QWidget;

namespace tolvane {

class TQtOpenDialog : public TOpenDialog {
public:
  explicit TQtOpenDialog(QWidget* owner = nullptr) : Owner(owner) {}
  bool Execute() override;

private:
  QWidget* Owner;
};

class TQtSaveDialog : public TSaveDialog {
public:
  explicit TQtSaveDialog(QWidget* owner = nullptr) : Owner(owner) {}
  bool Execute() override;

private:
  QWidget* Owner;
};

}  // namespace tolvane
